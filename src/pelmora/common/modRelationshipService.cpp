#include "pelmora/common/modRelationshipService.h"

#include "ado/Recordset.h"
#include "runtime/Vb.h"

namespace pelmora {

rt::Variant GetDistinctIntegerValues(const std::shared_ptr<ado::Recordset>& recordset, const std::string& fieldName) {
    if (!recordset) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    int32_t n = recordset->get_RecordCount();
    if (n == 0) return rt::Variant::Null();
    if (n < 0) rt::RaiseVbError(rt::vberr::SubscriptOutOfRange);  // the count is not available

    rt::Variant values = rt::Variant::MakeArray(rt::vbInteger, 1, n);
    const rt::Variant field(fieldName);
    int16_t previous = 0;
    int32_t count = 0;
    while (!recordset->get_EOF()) {
        int16_t value = rt::CInt(recordset->GetValue(field));
        if (value != previous) {
            if (count == n) rt::RaiseVbError(rt::vberr::SubscriptOutOfRange);
            values.ArrayMut()->Set(++count, rt::Variant(value));
            previous = value;
        }
        recordset->MoveNext();
    }
    if (count == 0) return rt::Variant::Null();
    if (count < n) rt::ReDimPreserve(values, 1, count);
    return values;
}

void DebugTrace(const std::string& /*tag*/, const std::string& /*procedure*/, const std::string& /*message*/) {}

}  // namespace pelmora
