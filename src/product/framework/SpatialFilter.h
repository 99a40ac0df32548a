#pragma once
// The framework's spatial filter (class {7FCA84A8-3384-11D1-808B-006097382A1E},
// also "Holvane.SpatialFilter"): the rows of its input recordset whose
// geometry meets the filter geometry. The only operator is 3, intersects
// (any point in common, boundaries included); an Empty filter geometry
// matches no row, and so does a row without geometry.
//
// The filter holds its input strongly; the output is a new recordset with
// the input's fields, made each time it is read, that belongs to the caller.
#include <memory>
#include <string>

#include "interfaces/Framework.h"
#include "runtime/Object.h"

namespace product {

class StoredGeometry;

class SpatialFilter : public rt::Object, public pelmora::ISpatialFilter {
public:
    void put_Operator(int32_t Operator) override;
    void put_GeometryFieldName(const std::string& Name) override;
    void put_FilterGeometry(const rt::Variant& Geometry) override;
    void putref_InputRecordset(const std::shared_ptr<pelmora::IFrameworkRecordset>& Input) override;
    // Raises 5 without an input, an operator or a geometry field the input has.
    std::shared_ptr<pelmora::IFrameworkRecordset> get_OutputRecordset() override;
    std::string TypeName() const override { return "SpatialFilter"; }

private:
    bool operatorSet_ = false;
    std::string geometryField_;
    std::shared_ptr<StoredGeometry> filter_;
    std::shared_ptr<pelmora::IFrameworkRecordset> input_;
};

}  // namespace product
