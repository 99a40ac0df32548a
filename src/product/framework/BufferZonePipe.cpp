#include "product/framework/BufferZonePipe.h"

#include <charconv>
#include <cmath>

#include "product/framework/FrameworkRecordset.h"
#include "product/framework/GeometryStorageForm.h"
#include "product/geometry/GeometryMath.h"
#include "runtime/Error.h"

namespace product {

namespace {

constexpr const char* kSource = "BufferZonePipe";

[[noreturn]] void Refuse(const std::string& description) { RaiseFrameworkError(kSource, description); }

}  // namespace

void BufferZonePipe::put_ZoneKind(int16_t ZoneKind) {
    if (ZoneKind != 1) Refuse("The zone kind " + std::to_string(ZoneKind) + " is not supported");
}

void BufferZonePipe::put_JoinKind(int16_t JoinKind) {
    if (JoinKind != 1) Refuse("The join kind " + std::to_string(JoinKind) + " is not supported");
}

void BufferZonePipe::put_GeometryFieldName(const std::string& Name) {
    if (Name.empty()) Refuse("The geometry field needs a name");
    geometryField_ = Name;
}

void BufferZonePipe::put_DistanceSource(const std::string& Source) {
    if (Source != "DISTANCE") Refuse("The distance source " + Source + " is not supported");
    distanceSourceSet_ = true;
}

void BufferZonePipe::put_Distance(const std::string& Distance) {
    // The text is written with "." whatever the locale, so it is read the same way.
    double d = 0.0;
    const char* end = Distance.data() + Distance.size();
    auto [at, ec] = std::from_chars(Distance.data(), end, d);
    if (ec != std::errc() || at != end || !std::isfinite(d) || d < 0.0)
        Refuse("The distance \"" + Distance + "\" is not a number of at least 0");
    distance_ = d;
}

void BufferZonePipe::put_OutputFieldName(const std::string& Name) {
    if (Name.empty()) Refuse("The output field needs a name");
    outputField_ = Name;
}

void BufferZonePipe::put_Tolerance(double Tolerance) {
    if (!std::isfinite(Tolerance) || Tolerance <= 0.0) Refuse("The tolerance must be above 0");
    tolerance_ = Tolerance;
}

void BufferZonePipe::putref_InputRecordset(const std::shared_ptr<pelmora::IFrameworkRecordset>& Input) {
    input_ = Input;
}

std::shared_ptr<pelmora::IFrameworkRecordset> BufferZonePipe::get_OutputRecordset() {
    if (!input_) Refuse("The pipe has no input recordset");
    if (geometryField_.empty() || outputField_.empty() || !distanceSourceSet_ || !distance_)
        Refuse("The pipe's settings are incomplete");
    auto input = FrameworkRecordsetOf(input_);
    int32_t field = input->FieldIndex(geometryField_);
    if (field < 0 || !input->IsGeometryField(field)) Refuse("The input has no geometry field " + geometryField_);
    auto output = std::make_shared<FrameworkRecordset>();
    output->AppendField(outputField_, true);
    // Half the tolerance for the input's arcs, half for the zone's own curves.
    double half = tolerance_ / 2.0;
    for (const auto& row : input->Rows()) {
        auto stored = StoredGeometryOf(row[static_cast<size_t>(field)]);
        if (!stored) continue;
        auto shape = geometry_math::Shape::Of(stored->Read(), std::min(half, geometry_math::kArcDeviation));
        auto zone = shape.Buffer(*distance_, half).ToGeometry();
        if (zone) output->AppendRow({StorageFormOf(zone)});
    }
    return output;
}

}  // namespace product
