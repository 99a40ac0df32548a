#include "product/StandIns.h"

#include "product/LoadAttributesService.h"

namespace product {

void RegisterMessageStandIn();
void RegisterTraceStandIn();
void RegisterDialogStandIn();
void RegisterGeometryStandIns();
void RegisterExtensionStandIns();

void RegisterProductStandIns() {
    RegisterMessageStandIn();
    RegisterTraceStandIn();
    RegisterDialogStandIn();
    RegisterGeometryStandIns();
    RegisterExtensionStandIns();
    RegisterLoadAttributesService();
}

}  // namespace product
