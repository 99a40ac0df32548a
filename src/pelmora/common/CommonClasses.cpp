#include "pelmora/common/CommonClasses.h"

#include "pelmora/common/FastString.h"
#include "pelmora/common/Recordsets.h"

namespace pelmora {

void RegisterCommonClasses() {
    rt::RegisterClass(kFastStringProgId, "{5E2A7C14-3B9D-4E61-A8F2-7D0C1B6E4A51}",
                      [] { return std::make_shared<FastString>(); });
    rt::RegisterClass(kRecordsetsProgId, "{5E2A7C15-3B9D-4E61-A8F2-7D0C1B6E4A52}",
                      [] { return std::make_shared<Recordsets>(); });
}

namespace {
[[maybe_unused]] const bool kRegistered = [] {
    RegisterCommonClasses();
    return true;
}();
}  // namespace

}  // namespace pelmora
