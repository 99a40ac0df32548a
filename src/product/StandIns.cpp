#include "product/StandIns.h"

namespace product {

void RegisterMessageStandIn();
void RegisterTraceStandIn();
void RegisterDialogStandIn();
void RegisterGeometryStandIns();

void RegisterProductStandIns() {
    RegisterMessageStandIn();
    RegisterTraceStandIn();
    RegisterDialogStandIn();
    RegisterGeometryStandIns();
}

}  // namespace product
