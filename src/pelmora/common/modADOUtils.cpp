#include "pelmora/common/modADOUtils.h"

#include "ado/Recordset.h"
#include "runtime/Error.h"
#include "runtime/Object.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {
struct MaxListLength {
    int32_t value = 0;
};
}  // namespace

std::string GetDatabaseType() { return "Oracle"; }

rt::Variant ValueOf(const std::shared_ptr<ado::Recordset>& rs, const std::string& column) {
    // By position when the name is there: no Variant made for each read.
    const int32_t field = rs->FieldIndex(column);
    return field < 0 ? rs->GetValue(rt::Variant(column)) : rs->FieldValue(field);
}

int32_t GetMaxListLength() {
    auto& cached = rt::Apartment::Current().Get<MaxListLength>();
    if (cached.value != 0) return cached.value;
    std::string kind;
    try {
        kind = rt::UCase(rt::Trim(GetDatabaseType()));
    } catch (...) {
    }
    if (kind == rt::UCase("Oracle"))
        cached.value = 30000;
    else if (kind == rt::UCase("Microsoft"))
        cached.value = 22000;
    else
        cached.value = 10000;
    return cached.value;
}

void SetMaxListLength(int32_t length) {
    if (length <= 0) rt::RaiseVbError(rt::vberr::InvalidProcedureCall);
    rt::Apartment::Current().Get<MaxListLength>().value = length;
}

}  // namespace pelmora
