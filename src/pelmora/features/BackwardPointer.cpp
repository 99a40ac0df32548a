#include "pelmora/features/BackwardPointer.h"

#include "pelmora/common/TraceScope.h"
#include "interfaces/Components.h"

namespace pelmora {

std::shared_ptr<IComponents> BackwardPointer::GetParent() {
    TraceScope trace("BackwardPointer", "GetParent");
    std::shared_ptr<IComponents> oParent;
    events_.Fire([&](BackwardPointerEvents& sink) { sink.NeedParent(oParent); });
    trace.Value2("oParent", rt::Variant(oParent ? "Object" : "Nothing!!!"));
    return oParent;
}

}  // namespace pelmora
