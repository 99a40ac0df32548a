#pragma once
// The framework's geometry storage service ("Holvane.GeometryStorageService",
// also its class id): puts geometries into the geometry fields of framework
// recordsets as storage forms and reads them back as new geometries. It keeps
// no state; any caller may create and drop it.
#include <memory>

#include "interfaces/Framework.h"
#include "runtime/Object.h"

namespace product {

class GeometryStorageService : public rt::Object, public pelmora::IGeometryStorageService {
public:
    void StoreGeometry(const std::shared_ptr<pelmora::IFrameworkField>& Field, const rt::ObjectPtr& Geometry) override;
    rt::ObjectPtr RetrieveGeometry(const std::shared_ptr<pelmora::IFrameworkField>& Field) override;
    rt::Variant GetStorageForm(const rt::ObjectPtr& Geometry) override;
    std::string TypeName() const override { return "GeometryStorageService"; }
};

}  // namespace product
