#include "product/StandIns.h"

namespace product {

void RegisterMessageStandIn();
void RegisterTraceStandIn();
void RegisterDialogStandIn();

void RegisterProductStandIns() {
    RegisterMessageStandIn();
    RegisterTraceStandIn();
    RegisterDialogStandIn();
}

}  // namespace product
