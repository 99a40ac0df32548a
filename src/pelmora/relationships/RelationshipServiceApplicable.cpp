// The relationships that apply to feature numbers: one number's, from the
// feature-relationship table narrowed and sorted by the filter service, and
// an array's, gathered once each in order of first occurrence.
#include <cstdint>
#include <vector>

#include "ado/Recordset.h"
#include "pelmora/common/modRelationshipService.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/relationships/FilterRemover.h"
#include "pelmora/relationships/RelationshipService.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

rt::Variant RelationshipService::AllApplicableRelationships(const rt::Variant& vFno) {
    const auto& table = FeatureRelationshipTable();
    FilterRemover unfilter(table);
    if (vFno.Type() == rt::vbInteger) {
        FilterService().FilterRecordset(table, table->get_Fields()->Item("QTX_FNO"), vFno, "QTX_RNO");
        if (table->get_BOF() && table->get_EOF()) return rt::Variant::Null();
        return GetDistinctIntegerValues(table, "QTX_RNO");
    }
    if (vFno.Type() == (rt::vbArray | rt::vbInteger)) return GetGroupApplicableRelationships(vFno);
    return rt::Variant::Null();
}

rt::Variant RelationshipService::GetGroupApplicableRelationships(const rt::Variant& vFnoArray) {
    const auto& table = FeatureRelationshipTable();
    FilterRemover unfilter(table);
    // An array without elements (never dimensioned included) fails at its
    // first element, as a walk from bounds read as 0 to 0 does.
    const rt::SafeArray* fnos = vFnoArray.Array();
    if (!fnos || fnos->Count() == 0) rt::RaiseVbError(rt::vberr::SubscriptOutOfRange);

    const auto fnoField = table->get_Fields()->Item("QTX_FNO");
    // One pass over the table caches the rows of every FNO (once per
    // apartment), instead of one pass for each FNO met for the first time.
    FilterService().CacheRecordset(table, fnoField);
    const rt::Variant rnoField("QTX_RNO");
    // Each number once, in order of first occurrence. The numbers are 16-bit,
    // so a mark per value tells a repeat at once; a search of the numbers
    // kept so far would cost more than the lookups of every FNO together.
    std::vector<int16_t> numbers;
    std::vector<bool> seen(65536);
    for (int32_t i = fnos->LBound(), upper = fnos->UBound(); i <= upper; ++i) {
        FilterService().FilterRecordset(table, fnoField, fnos->Get(i), "");
        if (table->get_BOF() && table->get_EOF()) continue;
        for (table->MoveFirst(); !table->get_EOF(); table->MoveNext()) {
            const int16_t number = rt::CInt(table->GetValue(rnoField));
            if (seen[static_cast<uint16_t>(number)]) continue;
            seen[static_cast<uint16_t>(number)] = true;
            numbers.push_back(number);
        }
    }

    rt::Variant result = rt::Variant::MakeArray(rt::vbInteger, 1, static_cast<int32_t>(numbers.size()));
    int32_t index = 1;
    for (int16_t number : numbers) result.ArrayMut()->Set(index++, rt::Variant(number));
    return result;
}

}  // namespace pelmora
