#include <algorithm>

#include "ado/Recordset.h"
#include "pelmora/common/modADOUtils.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "pelmora/features/KeyObject.h"
#include "interfaces/Components.h"
#include "interfaces/KeyObject.h"
#include "interfaces/Messages.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/relationships/M2MOwnership.h"
#include "runtime/Collection.h"
#include "runtime/Error.h"
#include "runtime/SqlName.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr int16_t kSourceMessage = 21826;

// The traced set of QTX_CONTAINMENT_TRACE read as a table.
constexpr const char* kTracedSet = " (select cast(QTX_CONTAINMENT_TRACE.RestrictSet as QTX_CONTAINMENT_TYPE) from dual))";

bool IsEmptySet(const std::shared_ptr<ado::Recordset>& rs) { return rs->get_BOF() && rs->get_EOF(); }

// The object of an opened feature. This system's own key objects are reached
// by their exact class: a cross-cast costs more than the cached open itself.
std::shared_ptr<rt::Object> ObjectOf(const std::shared_ptr<IKeyObject>& feature) {
    if (feature && rt::IsExactly<KeyObject>(*feature)) return std::static_pointer_cast<KeyObject>(feature);
    return std::dynamic_pointer_cast<rt::Object>(feature);
}

// A field's position; a name the rows lack raises as Fields.Item does.
int32_t FieldAt(const std::shared_ptr<ado::Recordset>& rs, const char* name) {
    const int32_t at = rs->FieldIndex(name);
    if (at < 0) rs->get_Fields()->Item(name);
    return at;
}

bool NamesOwner(const rt::Variant& v) {
    if (v.IsNull() || v.IsEmpty()) return false;
    auto c = rt::VbCompare(v, rt::Variant(0.0));
    return !(c && *c == 0);
}

// A table name from metadata written into SQL or the hierarchy text.
const std::string& Plain(const std::string& name) {
    if (!rt::IsSqlIdentifier(name))
        RaiseError(1, MessageObject()->GetMessageText(kSourceMessage, 0),
                   rt::Variant("The table name \"" + name + "\" is not a plain name."));
    return name;
}

}  // namespace

rt::Variant M2MOwnership::ReviewRelationship(const std::shared_ptr<IKeyObject>& Feature) {
    if (!Feature) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto assembly = std::make_shared<FeatureAssemblyService>();
    assembly->putref_DataContext(dataContext_);
    auto result = std::make_shared<rt::Collection>();
    auto open = [&](const rt::Variant& fno, const rt::Variant& fid) {
        assembly->put_FeatureNumber(rt::CInt(fno));
        assembly->put_FeatureID(rt::CLng(fid));
        result->Add(rt::Variant(ObjectOf(assembly->OpenFeature())));
    };

    if (!IsSubordinate()) {
        const std::string sql = "select * from " + Plain(supportTable_) + " where QTX_OWNERFID = ?" + "   and QTX_OWNERFNO = ?";
        rt::Variant parameters = rt::Variant::MakeArray(rt::vbVariant, 0, 1);
        parameters.ArrayMut()->Set(0, rt::Variant(Feature->get_FID()));
        parameters.ArrayMut()->Set(1, rt::Variant(Feature->get_FNO()));
        keyFNO_ = Feature->get_FNO();
        keyFID_ = Feature->get_FID();
        auto self = std::dynamic_pointer_cast<IRecordsetEvaluator>(shared_from_this());
        auto rows = assembly->OpenSyncedRecordsetArray(supportCno_, self, sql, parameters);
        ownerFNOField_.reset();
        ownerFIDField_.reset();
        if (!IsEmptySet(rows)) {
            // Found once by name, as Fields.Item would; each row read where it lies.
            const int32_t fno = FieldAt(rows, "QTX_FNO"), fid = FieldAt(rows, "QTX_FID");
            for (rows->MoveFirst(); !rows->get_EOF(); rows->MoveNext()) {
                const rt::Variant* row = rows->CurrentRowValues();
                open(row[fno], row[fid]);
            }
        }
    } else {
        auto rows = SupportRows(Feature);
        if (!IsEmptySet(rows)) {
            for (rows->MoveFirst(); !rows->get_EOF(); rows->MoveNext()) {
                const rt::Variant fno = ValueOf(rows, "QTX_OWNERFNO"), fid = ValueOf(rows, "QTX_OWNERFID");
                if (NamesOwner(fno) && NamesOwner(fid)) open(fno, fid);
            }
        }
        rows->put_Sort("");
    }
    return rt::Variant(std::static_pointer_cast<rt::Object>(result));
}

std::string M2MOwnership::PrimaryTable(int16_t FNO) {
    FilterService().FilterRecordset(features_, features_->get_Fields()->Item("QTX_FNO"), rt::Variant(FNO));
    const int16_t cno = rt::CInt(ValueOf(features_, "QTX_PRIMARYATTRIBUTECNO"));
    FilterService().FilterRecordset(attributeInfo_, attributeInfo_->get_Fields()->Item("QTX_CNO"), rt::Variant(cno));
    return Plain(rt::CStr(ValueOf(attributeInfo_, "QTX_COMPONENTTABLE")));
}

rt::Variant M2MOwnership::ReviewRelationshipHierarchy(const std::shared_ptr<IKeyObject>& Feature) {
    if (!Feature) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    std::string text;
    struct ClearFilters {
        M2MOwnership& h;
        ~ClearFilters() {
            for (auto* rs : {&h.ruleTable_, &h.features_, &h.attributeInfo_})
                if (*rs) try {
                        (*rs)->put_Filter(rt::Variant(int32_t{0}));
                    } catch (...) {
                    }
        }
    } clear{*this};
    if (IsSubordinate()) return rt::Variant(text);

    const std::string f = std::to_string(Feature->get_FNO());
    const std::string d = std::to_string(Feature->get_FID());
    FilterService().FilterRecordset(ruleTable_, ruleTable_->get_Fields()->Item("QTX_OWNERFNO"),
                                    rt::Variant(Feature->get_FNO()), "QTX_SOURCEFNO");
    const std::string primary = PrimaryTable(Feature->get_FNO());
    const std::string start = "(QTX_CONTAINMENT_TRACE.Initialize('" + Plain(supportTable_) +
                              "', 'QTX_OWNERFNO', 'QTX_OWNERFID', '" + d + "') > 0)";
    traceRange_ = std::string("(qtx_fid between (SELECT min(qtx_fid) from ") + " the" + kTracedSet +
                  " and (SELECT max(qtx_fid) from" + " the" + kTracedSet + ")";

    if (IsEmptySet(ruleTable_)) {
        // A class that owns nothing: its own component part, without the
        // relation that would tie it to a parent there is none of.
        text = ComponentShape(f, d, false);
        return rt::Variant(text);
    }
    text = "Shape{SELECT QTX_FNO, QTX_FID FROM " + primary + " WHERE QTX_FID IN ( " + d + ") AND " + start +
           "} Append((";
    text += BuildComponentShapeCommand(f, d);
    std::vector<std::string> path{f};
    text += OwnedShapes(ruleTable_, path);
    return rt::Variant(text);
}

std::string M2MOwnership::BuildComponentShapeCommand(const std::string& FNO, const std::string& FIDList) {
    return ComponentShape(FNO, FIDList, true);
}

std::string M2MOwnership::ComponentShape(const std::string& g, const std::string& L, bool related) {
    const int16_t fno = rt::CInt(rt::Variant(g));
    const std::string primary = PrimaryTable(fno);
    const std::string inTracedSet = " and (QTX_FNO, QTX_FID) IN (SELECT qtx_fno, qtx_fid from the" + std::string(kTracedSet);
    std::string text = L.empty() ? "Shape{SELECT QTX_FNO, QTX_FID FROM " + primary + " where " + " QTX_FNO=" + g +
                                       " and " + traceRange_ + inTracedSet
                                 : "Shape{SELECT QTX_FNO, QTX_FID FROM " + primary + " WHERE QTX_FNO=" + g +
                                       " and QTX_FID in (" + L + ")";
    text += "} Append";
    featureComponents_->put_Filter(rt::Variant("QTX_FNO = " + g));
    struct ClearFilters {
        M2MOwnership& h;
        ~ClearFilters() {
            for (auto* rs : {&h.featureComponents_, &h.features_})
                try {
                    (*rs)->put_Filter(rt::Variant(int32_t{0}));
                } catch (...) {
                }
        }
    } clear{*this};
    const int32_t n = featureComponents_->get_RecordCount();
    if (n > 0) featureComponents_->MoveFirst();
    for (int32_t k = 0; k < n; ++k, featureComponents_->MoveNext()) {
        const std::string table = Plain(rt::CStr(ValueOf(featureComponents_, "QTX_TABLE")));
        text += L.empty() ? "({SELECT * FROM " + table + " where QTX_FNO=" + g + " and " + traceRange_ + inTracedSet +
                                "} as " + table + " Relate QTX_FNO TO QTX_FNO, QTX_FID TO QTX_FID)"
                          : "({SELECT * FROM " + table + " where QTX_FNO=" + g + " and " + " QTX_FID IN (" + L + ")" +
                                "} as " + table + " Relate QTX_FNO TO QTX_FNO, QTX_FID TO QTX_FID)";
        if (k + 1 < n) text += ", ";
    }
    if (related) text += ") AS FCRS Relate QTX_FNO TO QTX_FNO, QTX_FID TO QTX_FID)";
    return text;
}

std::string M2MOwnership::OwnedShapes(const std::shared_ptr<ado::Recordset>& rules, std::vector<std::string>& path) {
    // The rows are sorted by the owned number: each number once.
    std::string text, previous;
    if (IsEmptySet(rules)) return text;
    const int32_t count = rules->get_RecordCount();
    rules->MoveFirst();
    for (int32_t k = 0; k < count; ++k, rules->MoveNext()) {
        const std::string owned = rt::CStr(ValueOf(rules, "QTX_SOURCEFNO"));
        if (owned != previous) text += BuildOwnedShapeCommand(owned, path);
        previous = owned;
    }
    return text;
}

std::string M2MOwnership::BuildOwnedShapeCommand(const std::string& s, std::vector<std::string>& path) {
    // A number already being expanded above would expand for ever: the rule
    // table may hold a cycle.
    if (std::find(path.begin(), path.end(), s) != path.end()) return "";
    path.push_back(s);
    struct Pop {
        std::vector<std::string>& p;
        ~Pop() { p.pop_back(); }
    } pop{path};

    auto rules = TakeMetadataRecordset(get_OptimizedTable());
    FilterService().FilterRecordset(rules, rules->get_Fields()->Item("QTX_OWNERFNO"), rt::Variant(rt::CInt(rt::Variant(s))),
                                    "QTX_SOURCEFNO");
    std::string text = ", ((SHAPE{SELECT QTX_FNO, QTX_FID, QTX_OWNERFNO, QTX_OWNERFID FROM " + Plain(supportTable_) +
                       " WHERE QTX_FNO = " + s + " and " + traceRange_ +
                       " and (QTX_FNO, QTX_FID) IN (SELECT qtx_fno, qtx_fid from the" + kTracedSet + "} Append((";
    text += BuildComponentShapeCommand(s, "");
    text += OwnedShapes(rules, path);
    text += ") AS RELATED" + s + " Relate QTX_FNO TO QTX_OWNERFNO, QTX_FID TO QTX_OWNERFID)";
    rules->put_Filter(rt::Variant(int32_t{0}));
    return text;
}

}  // namespace pelmora
