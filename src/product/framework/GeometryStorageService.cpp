#include "product/framework/GeometryStorageService.h"

#include "product/framework/BufferZonePipe.h"
#include "product/framework/FrameworkClasses.h"
#include "product/framework/FrameworkRecordset.h"
#include "product/framework/GeometryStorageForm.h"
#include "product/framework/InMemoryRecordset.h"
#include "product/framework/SpatialFilter.h"
#include "runtime/Error.h"

namespace product {

namespace {

constexpr const char* kSource = "GeometryStorageService";

FrameworkField& GeometryField(const std::shared_ptr<pelmora::IFrameworkField>& field) {
    if (!field) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet, kSource);
    auto own = std::dynamic_pointer_cast<FrameworkField>(field);
    if (!own || !own->IsGeometry())
        throw rt::ComError(rt::vberr::TypeMismatch, kSource, "The field " + field->get_Name() + " holds no geometry");
    return *own;
}

}  // namespace

void GeometryStorageService::StoreGeometry(const std::shared_ptr<pelmora::IFrameworkField>& Field,
                                           const rt::ObjectPtr& Geometry) {
    FrameworkField& field = GeometryField(Field);
    rt::Variant form = GetStorageForm(Geometry);
    field.put_Value(form.IsEmpty() ? rt::Variant::Null() : form);
}

rt::ObjectPtr GeometryStorageService::RetrieveGeometry(const std::shared_ptr<pelmora::IFrameworkField>& Field) {
    auto stored = StoredGeometryOf(GeometryField(Field).get_Value());
    return stored ? rt::ObjectPtr(stored->Read()) : nullptr;
}

rt::Variant GeometryStorageService::GetStorageForm(const rt::ObjectPtr& Geometry) {
    return Geometry ? StorageFormOf(GeometryOf(rt::Variant(Geometry))) : rt::Variant();
}

void RegisterFrameworkGeometryServices() {
    rt::RegisterClass(pelmora::kInMemoryRecordsetProgId, "", [] { return std::make_shared<InMemoryRecordset>(); });
    rt::RegisterClass(pelmora::kGeometryStorageServiceProgId, pelmora::kGeometryStorageServiceClsid,
                      [] { return std::make_shared<GeometryStorageService>(); });
    rt::RegisterClass(pelmora::kBufferZonePipeProgId, "", [] { return std::make_shared<BufferZonePipe>(); });
    rt::RegisterClass("Holvane.SpatialFilter", pelmora::kSpatialFilterClsid,
                      [] { return std::make_shared<SpatialFilter>(); });
}

}  // namespace product
