#include "product/StandIns.h"

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
}

}  // namespace product
