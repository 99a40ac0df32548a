#include "pelmora/metadata/modAttributeInfo.h"

#include <cmath>
#include <string>
#include <unordered_map>

#include "ado/Recordset.h"
#include "interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr const char* kAttributeTable = "QTX_ATTRIBUTEINFO_OPTABLE";
constexpr const char* kCnoField = "QTX_CNO";

std::string CnoKey(int16_t cno) { return filtercache::Key(kAttributeTable, kCnoField, std::to_string(cno)); }

// The component number a row's QTX_CNO holds, when it is a whole number.
std::optional<int32_t> RowNumber(const rt::Variant& value) {
    if (!(value.IsNumericType() || value.Type() == rt::vbDate)) return std::nullopt;
    double d = rt::CDbl(value);
    if (d != std::floor(d) || d < INT16_MIN || d > INT16_MAX) return std::nullopt;
    return static_cast<int32_t>(d);
}

}  // namespace

void CacheAttributeInfoByCNO(const std::vector<int16_t>& CNOs, const std::shared_ptr<IMetadataService>& MetadataService) {
    // The numbers not cached yet, in their order; the caller's list stays as it is.
    std::vector<int16_t> pending;
    for (int16_t cno : CNOs)
        if (!filtercache::Contains(CnoKey(cno))) pending.push_back(cno);
    if (pending.empty()) return;

    std::unordered_map<int32_t, size_t> slotOf;
    for (size_t i = 0; i < pending.size(); ++i)
        if (!slotOf.emplace(pending[i], i).second) rt::RaiseVbError(rt::vberr::KeyAlreadyAssociated);
    std::vector<filtercache::BookmarkCollector> found(pending.size());

    if (!MetadataService) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto rs = MetadataService->get_Recordsets()->get_Item(rt::Variant(kAttributeTable))->get_Recordset("", "");
    if (!(rs->get_BOF() && rs->get_EOF())) rs->MoveFirst();
    auto field = rs->get_Fields()->Item(std::string(kCnoField));
    while (!rs->get_EOF()) {
        if (auto number = RowNumber(field->get_Value())) {
            auto it = slotOf.find(*number);
            if (it != slotOf.end()) found[it->second].Add(rs->get_Bookmark());
        }
        rs->MoveNext();
    }
    for (size_t i = 0; i < pending.size(); ++i) filtercache::Store(CnoKey(pending[i]), found[i].Finish());
}

void CacheAttributeInfoByCNO(const rt::Variant& CNOs, const std::shared_ptr<IMetadataService>& MetadataService) {
    std::vector<int16_t> numbers;
    for (int32_t i = rt::LBound(CNOs), last = rt::UBound(CNOs); i <= last; ++i)
        numbers.push_back(rt::CInt(CNOs.Array()->Get(i)));
    CacheAttributeInfoByCNO(numbers, MetadataService);
}

void FindNextMatchingRecord(const std::shared_ptr<ado::Recordset>& Recordset, const std::shared_ptr<ado::Field>& Field,
                            const rt::Variant& Value) {
    if (!Recordset || !Field) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    Recordset->MoveNext();
    while (!Recordset->get_EOF() && !rt::VariantEquals(Field->get_Value(), Value)) Recordset->MoveNext();
}

}  // namespace pelmora
