#include <vector>

#include "ado/Recordset.h"
#include "pelmora/common/DistinctItemColl.h"
#include "pelmora/common/modADOUtils.h"
#include "pelmora/features/ComponentClone.h"
#include "interfaces/Components.h"
#include "interfaces/KeyObject.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataUtils.h"
#include "pelmora/relationships/Detail.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "pelmora/validation_set/modFeatureValidationServiceSet.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

namespace detail_messages {
constexpr int16_t NullId = 17077, ZeroId = 17078, NoOwner = 17081;
}

// The six detail columns of an owner and their messages, in the order tested
// (the x-high column carries 17140, the y-low one 17139).
struct DetailColumn {
    const char* column;
    int16_t message;
};
constexpr DetailColumn kDetailColumns[] = {
    {"QTX_USERNAMEFIELD", 17136},       {"QTX_LEGENDNUMBERFIELD", 17137}, {"QTX_DETAILMBRXLOFIELD", 17138},
    {"QTX_DETAILMBRXHIGHFIELD", 17140}, {"QTX_DETAILMBRYLOFIELD", 17139}, {"QTX_DETAILMBRYHIGHFIELD", 17141},
};

bool IsEmptySet(const std::shared_ptr<ado::Recordset>& rs) { return rs->get_BOF() && rs->get_EOF(); }

std::string KeyText(const std::shared_ptr<ado::Recordset>& rs, const char* column) {
    const rt::Variant v = ValueOf(rs, column);
    return v.IsNull() || v.IsEmpty() ? std::string() : rt::CStr(v);
}

void Release(const std::shared_ptr<IComponent>& component) {
    rt::QueryInterface<ComponentClone>(component)->ReleaseRecordset();
}

}  // namespace

bool Detail::IsSubordinate() const {
    const rt::Variant v = RowValue("QTX_SUBORDINATE");
    return !v.IsNull() && rt::CLng(v) == 1;
}

bool Detail::IsRelationshipFno(int16_t FNO) {
    const char* side = IsSubordinate() ? "QTX_CONTAINEDFNO" : "QTX_FNO";
    FilterService().FilterRecordset(ruleTable_, ruleTable_->get_Fields()->Item(side), rt::Variant(FNO));
    const bool any = ruleTable_->get_RecordCount() != 0;
    ruleTable_->put_Filter(rt::Variant(int32_t{0}));
    return any;
}

void Detail::Validate(const std::shared_ptr<IKeyObjects>& Features, const std::shared_ptr<IComponents>&,
                      const std::shared_ptr<ado::Recordset>& ValidationSet, const std::shared_ptr<rt::Collection>&,
                      const std::shared_ptr<ado::Recordset>& Errors) {
    RequireObjects(ValidationSet, ruleTable_);
    auto fno = ValidationSet->get_Fields()->Item("QTX_FNO");
    auto fid = ValidationSet->get_Fields()->Item("QTX_FID");
    if (IsEmptySet(ValidationSet)) return;
    for (ValidationSet->MoveFirst(); !ValidationSet->get_EOF(); ValidationSet->MoveNext()) {
        const rt::Variant pending = ValueOf(ValidationSet, "PENDING");
        if (!pending.IsNull() && rt::CLng(pending) == 0) break;
        const int16_t featureNumber = rt::CInt(fno->get_Value());
        if (!IsRelationshipFno(featureNumber)) continue;
        auto feature = FindKeyObject(Features, featureNumber, rt::CLng(fid->get_Value()));
        if (!TakeFeature(feature)) continue;
        if (IsSubordinate())
            ValidateContainedFeature(feature, ValidationSet, Features, Errors);
        else
            ValidateDetailOwnerFields(feature, Errors);
    }
}

void Detail::ValidateContainedFeature(const std::shared_ptr<IKeyObject>& Feature,
                                      const std::shared_ptr<ado::Recordset>& ValidationSet,
                                      const std::shared_ptr<IKeyObjects>& Features,
                                      const std::shared_ptr<ado::Recordset>& Errors) {
    namespace m = detail_messages;
    const int16_t fno = Feature->get_FNO();
    FilterService().FilterRecordset(ruleTable_, ruleTable_->get_Fields()->Item("QTX_CONTAINEDFNO"), rt::Variant(fno));
    DistinctItemColl cnos;
    for (; !ruleTable_->get_EOF(); ruleTable_->MoveNext()) cnos.Add(ValueOf(ruleTable_, "QTX_CONTAINEDTRIGGERINGCNO"));

    for (const rt::Variant& cnoValue : cnos.get_NewEnum()) {
        const int16_t cno = rt::CInt(cnoValue);
        auto component = ComponentOf(Feature, cno);
        auto rows = component->get_Recordset();
        if (!IsEmptySet(rows)) {
            // The id column of this contained class's rows of the component:
            // classes sharing a component (the common one) may keep their ids
            // in different columns.
            ruleTable_->put_Filter(rt::Variant("QTX_CONTAINEDFNO = " + std::to_string(fno) +
                                               " AND QTX_CONTAINEDTRIGGERINGCNO = " + std::to_string(cno)));
            const std::string idColumn = rt::CStr(ValueOf(ruleTable_, "QTX_IDENTIFIERFIELD"));
            for (rows->MoveFirst(); !rows->get_EOF(); rows->MoveNext()) {
                const rt::Variant id = ValueOf(rows, idColumn);
                if (id.IsNull())
                    AddFinding(m::NullId, rows, Errors);
                else if (rt::CLng(id) == 0)
                    AddFinding(m::ZeroId, rows, Errors);
                else if (!HasMatchingDetailOwner(ValidationSet, rt::CLng(id), Features))
                    AddFinding(m::NoOwner, rows, Errors);
            }
        }
        Release(component);
    }
}

bool Detail::HasMatchingDetailOwner(const std::shared_ptr<ado::Recordset>& ValidationSet, int32_t DetailId,
                                    const std::shared_ptr<IKeyObjects>& Features) {
    auto related = GetRelatedFeatures(ValidationSet, Features, relationshipNumber_);
    for (const auto& owner : related->get_NewEnum()) {
        FilterService().FilterRecordset(ruleTable_, ruleTable_->get_Fields()->Item("QTX_FNO"),
                                        rt::Variant(owner->get_FNO()));
        if (IsEmptySet(ruleTable_)) continue;
        ruleTable_->MoveFirst();
        const std::string idColumn = rt::CStr(ValueOf(ruleTable_, "QTX_IDENTIFIERFIELD"));
        auto rows = ComponentOf(owner, rt::CInt(ValueOf(ruleTable_, "QTX_ATTRIBUTECNO")))->get_Recordset();
        if (IsEmptySet(rows)) continue;
        for (rows->MoveFirst(); !rows->get_EOF(); rows->MoveNext()) {
            const rt::Variant id = ValueOf(rows, idColumn);
            if (!id.IsNull() && rt::CLng(id) == DetailId) return true;
        }
    }
    return false;
}

void Detail::ValidateDetailOwnerFields(const std::shared_ptr<IKeyObject>& Feature,
                                       const std::shared_ptr<ado::Recordset>& Errors) {
    FilterService().FilterRecordset(ruleTable_, ruleTable_->get_Fields()->Item("QTX_FNO"),
                                    rt::Variant(Feature->get_FNO()));
    if (IsEmptySet(ruleTable_)) return;
    ruleTable_->MoveFirst();
    const std::string idColumn = rt::CStr(ValueOf(ruleTable_, "QTX_IDENTIFIERFIELD"));
    std::vector<std::pair<std::string, int16_t>> columns;
    for (const auto& c : kDetailColumns) columns.emplace_back(rt::CStr(ValueOf(ruleTable_, c.column)), c.message);
    auto component = ComponentOf(Feature, rt::CInt(ValueOf(ruleTable_, "QTX_ATTRIBUTECNO")));
    auto rows = component->get_Recordset();
    if (!IsEmptySet(rows)) {
        auto fields = rows->get_Fields();
        for (rows->MoveFirst(); !rows->get_EOF(); rows->MoveNext()) {
            if (ValueOf(rows, idColumn).IsNull()) continue;
            for (const auto& [column, message] : columns)
                if (IsFieldNullOrEmpty(fields->Item(column))) AddFinding(message, rows, Errors);
        }
    }
    Release(component);
}

std::shared_ptr<IComponent> Detail::ComponentOf(const std::shared_ptr<IKeyObject>& Feature, int16_t CNO) {
    return FeatureComponent(Feature, GetComponentName(metadataService_, CNO));
}

void Detail::AddFinding(int16_t MsgId, const std::shared_ptr<ado::Recordset>& Row,
                        const std::shared_ptr<ado::Recordset>& Errors) {
    AddRelationshipValidationError(MsgId, MsgId, 1, name_, configuration_, KeyText(Row, "QTX_FNO"),
                                   KeyText(Row, "QTX_FID"), KeyText(Row, "QTX_CNO"), KeyText(Row, "QTX_CID"), Errors,
                                   rt::Variant::Missing(), "", "", "", "");
}

}  // namespace pelmora
