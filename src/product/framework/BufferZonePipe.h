#pragma once
// The framework's buffer-zone pipe ("Holvane.BufferZonePipe"): widens every
// geometry of its input recordset by one distance. The zone is the input
// geometry grown by the distance all round, made by GEOS with its round
// parts (and the input's arcs) cut into chords that together stray at most
// the tolerance inside the true zone. A row whose geometry is missing, or
// whose zone comes out empty, gives no output row.
//
// The pipe holds its input strongly; the output is a new recordset, made
// each time it is read, that belongs to the caller.
#include <memory>
#include <optional>
#include <string>

#include "interfaces/Framework.h"
#include "runtime/Object.h"

namespace product {

class BufferZonePipe : public rt::Object, public pelmora::IBufferZonePipe {
public:
    void put_ZoneKind(int16_t ZoneKind) override;
    void put_JoinKind(int16_t JoinKind) override;
    void put_GeometryFieldName(const std::string& Name) override;
    void put_DistanceSource(const std::string& Source) override;
    // A text that is no finite number of at least 0 raises 5.
    void put_Distance(const std::string& Distance) override;
    void put_OutputFieldName(const std::string& Name) override;
    // Above 0.
    void put_Tolerance(double Tolerance) override;
    void putref_InputRecordset(const std::shared_ptr<pelmora::IFrameworkRecordset>& Input) override;
    // Raises 5 while a setting is missing.
    std::shared_ptr<pelmora::IFrameworkRecordset> get_OutputRecordset() override;
    std::string TypeName() const override { return "BufferZonePipe"; }

private:
    std::string geometryField_, outputField_;
    std::optional<double> distance_;
    double tolerance_ = 0.02;
    bool distanceSourceSet_ = false;
    std::shared_ptr<pelmora::IFrameworkRecordset> input_;
};

}  // namespace product
