#include "product/framework/SpatialFilter.h"

#include "product/framework/FrameworkRecordset.h"
#include "product/framework/GeometryStorageForm.h"
#include "product/geometry/GeometryMath.h"
#include "runtime/Error.h"

namespace product {

namespace {

constexpr const char* kSource = "SpatialFilter";

[[noreturn]] void Refuse(const std::string& description) { RaiseFrameworkError(kSource, description); }

}  // namespace

void SpatialFilter::put_Operator(int32_t Operator) {
    if (Operator != pelmora::spatial_operator::Intersects)
        Refuse("The spatial operator " + std::to_string(Operator) + " is not supported");
    operatorSet_ = true;
}

void SpatialFilter::put_GeometryFieldName(const std::string& Name) {
    if (Name.empty()) Refuse("The geometry field needs a name");
    geometryField_ = Name;
}

void SpatialFilter::put_FilterGeometry(const rt::Variant& Geometry) {
    if (Geometry.IsNull() || Geometry.IsNothing())
        throw rt::ComError(rt::vberr::TypeMismatch, kSource, "The filter geometry is not a stored geometry");
    filter_ = StoredGeometryOf(Geometry);
}

void SpatialFilter::putref_InputRecordset(const std::shared_ptr<pelmora::IFrameworkRecordset>& Input) {
    input_ = Input;
}

std::shared_ptr<pelmora::IFrameworkRecordset> SpatialFilter::get_OutputRecordset() {
    if (!input_) Refuse("The filter has no input recordset");
    if (!operatorSet_) Refuse("The filter has no operator");
    auto input = FrameworkRecordsetOf(input_);
    int32_t field = input->FieldIndex(geometryField_);
    if (field < 0 || !input->IsGeometryField(field)) Refuse("The input has no geometry field " + geometryField_);
    auto output = std::make_shared<FrameworkRecordset>();
    for (int32_t i = 0; i < input->FieldCount(); ++i) output->AppendField(input->FieldName(i), input->IsGeometryField(i));
    if (!filter_) return output;
    auto area = geometry_math::Shape::Of(filter_->Read());
    for (const auto& row : input->Rows()) {
        auto stored = StoredGeometryOf(row[static_cast<size_t>(field)]);
        // Rows whose box misses the filter's are not read at all; a row's
        // shape is made once for all the filters it meets.
        if (stored && stored->Box().Meets(filter_->Box()) && area.Intersects(stored->ShapeOf()))
            output->AppendRow(row);
    }
    return output;
}

}  // namespace product
