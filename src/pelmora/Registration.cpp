#include "pelmora/Registration.h"

#include "pelmora/common/CommonClasses.h"
#include "pelmora/dimensioning_stationing/DimensioningStationingClasses.h"
#include "pelmora/metadata/MetadataServiceHelper.h"
#include "pelmora/features/BulkEditService.h"
#include "pelmora/features/KeyObjects.h"
#include "pelmora/features/ComponentService.h"
#include "pelmora/features/Components.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "pelmora/metadata/MetadataService.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/persistence/ComponentDatabaseService.h"
#include "pelmora/relationships/RelationshipService.h"
#include "pelmora/attribute_validation/AttributeValidationService.h"
#include "pelmora/validation/FeatureValidationService.h"

namespace pelmora {

void RegisterSystemClasses() {
    RegisterCommonClasses();
    RegisterMetadataServiceHelper();
    RegisterMetadataClasses();
    RegisterMetadataRecordsetFilterService();
    RegisterKeyObjectClasses();
    RegisterComponentClasses();
    RegisterComponentService();
    RegisterFeatureAssemblyService();
    RegisterBulkEditService();
    RegisterComponentDatabaseService();
    RegisterRelationshipService();
    RegisterDimensioningStationingClasses();
    RegisterAttributeValidationService();
    RegisterFeatureValidationService();
}

}  // namespace pelmora
