// Node-edge connectivity: the phase check. Phase rules are the rows of
// QTX_ATTRVAL_OPTABLE naming "Ambrix.PhaseValidation" (the attribute
// validation service passes over them); a feature passes when at one of its
// nodes its phase text is covered by the phase letters of the rule-related
// features met so far. Phase texts come through a picklist metadata table.
#include "ado/Recordset.h"
#include "pelmora/common/DistinctItemColl.h"
#include "pelmora/features/KeyObjects.h"
#include "interfaces/Components.h"
#include "interfaces/KeyObject.h"
#include "interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataUtils.h"
#include "pelmora/relationships/NEConnectivity.h"
#include "pelmora/validation/modFeatureValidationService.h"
#include "runtime/Error.h"
#include "runtime/SqlName.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr int16_t kPhaseMessage = 24756;
constexpr const char* kPhaseInterfaceFilter = " AND QTX_INTERFACE = 'Ambrix.PhaseValidation'";

bool IsNullOrEmpty(const rt::Variant& v) { return v.IsNull() || v.IsEmpty(); }

std::string TextOrEmpty(const rt::Variant& v) { return IsNullOrEmpty(v) ? std::string() : rt::CStr(v); }

// A picklist name of the phase attribute as it stands; one that is set but no
// plain name is refused, the attribute named. An absent one is left to the
// lookup it would fail.
std::string PhaseName(const std::shared_ptr<ado::Recordset>& attributes, const char* column, bool table) {
    const std::string name = TextOrEmpty(attributes->GetValue(rt::Variant(column)));
    if (name.empty() || (table ? rt::IsQualifiedSqlName(name) : rt::IsSqlIdentifier(name))) return name;
    throw rt::ComError(rt::vberr::InvalidProcedureCall, NEConnectivity::kPhaseNameSource,
                       std::string(column) + " \"" + name + "\" of attribute " +
                           TextOrEmpty(attributes->GetValue(rt::Variant("QTX_USERNAME"))) + " (ANO " +
                           TextOrEmpty(attributes->GetValue(rt::Variant("QTX_ANO"))) + ") is not a plain name.");
}

}  // namespace

void NEConnectivity::ValidatePhases(const NodeList& Nodes, const std::shared_ptr<IKeyObjects>& Related,
                                    const std::shared_ptr<ado::Recordset>& Errors) {
    if (!Related) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto ruleRelated = KeyObjects::New();
    ActivePhaseRule rule;
    if (!GetActivePhaseRules(Related, rule, ruleRelated)) return;
    const std::string activeText = GetAttributeFieldInfo(FeatureComponentRows(feature_, rule.componentName), rule.ano);

    // Letters gathered at one node still count at the next.
    DistinctItemColl letters;
    bool passed = false;
    for (int32_t node : Nodes) {
        if (node == 0) continue;
        for (const auto& relatedFeature : ruleRelated->get_NewEnum()) {
            NodeList relatedNodes;
            ValidateNodeCount(relatedFeature, SupportRows(relatedFeature), relatedNodes, 0, nullptr);
            if (!ArrayContainsValue(node, relatedNodes)) continue;
            std::string componentName;
            int32_t ano = 0;
            GetRelatedPhaseRule(relatedFeature, componentName, ano);
            const std::string relatedText =
                GetAttributeFieldInfo(FeatureComponentRows(relatedFeature, componentName), ano);
            for (char16_t c : rt::ToUtf16(relatedText)) letters.Add(rt::Variant(rt::ToUtf8(std::u16string(1, c))));
        }
        if (PhasesMatch(activeText, letters)) {
            passed = true;
            break;
        }
    }
    if (passed) return;
    Record(kPhaseMessage, kPhaseMessage, 0, std::to_string(feature_->get_FNO()), std::to_string(feature_->get_FID()),
           "", "", Errors, rt::Variant(rule.priority), GetFeatureUserName(MetadataService(), feature_->get_FNO()),
           std::to_string(feature_->get_FID()), activeText);
}

bool NEConnectivity::GetActivePhaseRules(const std::shared_ptr<IKeyObjects>& Related, ActivePhaseRule& Rule,
                                         const std::shared_ptr<IKeyObjects>& RuleRelated) {
    Rule.priority = GetValidationMessage(kWarningPriorityMessage);
    bool found = false;
    auto rules = TakeMetadataRecordset("QTX_ATTRVAL_OPTABLE");
    rules->put_Filter(rt::Variant("QTX_ACTIVEFNO = " + std::to_string(feature_->get_FNO()) + kPhaseInterfaceFilter));
    if (!(rules->get_BOF() && rules->get_EOF())) {
        for (const auto& relatedFeature : Related->get_NewEnum()) {
            const rt::Variant relatedFno(relatedFeature->get_FNO());
            for (rules->MoveFirst(); !rules->get_EOF(); rules->MoveNext()) {
                auto order = rt::VbCompare(rules->GetValue(rt::Variant("QTX_RELATEDFNO")), relatedFno);
                if (!order || *order != 0) continue;
                RuleRelated->Add(relatedFeature);
                Rule.componentName = rt::CStr(rules->GetValue(rt::Variant("QTX_ACTIVENAME")));
                Rule.ano = rt::CLng(rules->GetValue(rt::Variant("QTX_ACTIVEANO")));
                // The second character ranks a priority; Mid gives "" for a
                // shorter text, which ranks lowest.
                const std::string priority = TextOrEmpty(rules->GetValue(rt::Variant("QTX_PRIORITY")));
                if (rt::Mid(Rule.priority, 2, 1) < rt::Mid(priority, 2, 1)) Rule.priority = priority;
                found = true;
            }
        }
    }
    rules->put_Filter(rt::Variant(int32_t{0}));
    return found;
}

void NEConnectivity::GetRelatedPhaseRule(const std::shared_ptr<IKeyObject>& RelatedFeature, std::string& ComponentName,
                                         int32_t& ANO) {
    auto rules = TakeMetadataRecordset("QTX_ATTRVAL_OPTABLE");
    rules->put_Filter(rt::Variant("QTX_ACTIVEFNO = " + std::to_string(feature_->get_FNO()) +
                                  " AND QTX_RELATEDFNO = " + std::to_string(RelatedFeature->get_FNO()) +
                                  kPhaseInterfaceFilter));
    if (rules->get_BOF() && rules->get_EOF()) return;
    ComponentName = rt::CStr(rules->GetValue(rt::Variant("QTX_RELATEDNAME")));
    ANO = rt::CLng(rules->GetValue(rt::Variant("QTX_RELATEDANO")));
}

std::string NEConnectivity::GetAttributeFieldInfo(const std::shared_ptr<ado::Recordset>& Component, int32_t ANO) {
    std::string result;
    auto attributes = TakeMetadataRecordset("QTX_ATTRIBUTEINFO_OPTABLE");
    FilterService().FilterRecordset(attributes, attributes->get_Fields()->Item("QTX_ANO"), rt::Variant(ANO));
    if (attributes->get_BOF() && attributes->get_EOF()) return result;
    const std::string field = TextOrEmpty(attributes->GetValue(rt::Variant("QTX_FIELD")));
    const std::string table = PhaseName(attributes, "QTX_PICKLISTTABLE", true);
    const std::string keyColumn = PhaseName(attributes, "QTX_KEYFIELD", false);
    const std::string valueColumn = PhaseName(attributes, "QTX_VALUEFIELD", false);
    if (Component->FieldIndex(field) < 0)
        throw rt::ComError(ado::err::ItemNotFound, kPhaseNameSource,
                           "The attribute " + TextOrEmpty(attributes->GetValue(rt::Variant("QTX_USERNAME"))) +
                               " (ANO " + std::to_string(ANO) + ") names the field \"" + field + "\", which component " +
                               TextOrEmpty(attributes->GetValue(rt::Variant("QTX_NAME"))) + " does not have.");
    const rt::Variant value = Component->GetValue(rt::Variant(field));
    auto picklist = TakeMetadataRecordset(table);
    if (picklist->get_BOF() && picklist->get_EOF()) return result;
    FilterService().FilterRecordset(picklist, picklist->get_Fields()->Item(keyColumn), value);
    if (picklist->get_BOF() || picklist->get_EOF()) return result;
    return rt::Trim(TextOrEmpty(picklist->GetValue(rt::Variant(valueColumn))));
}

bool NEConnectivity::PhasesMatch(const std::string& Text, const DistinctItemColl& Letters) {
    std::string all;
    for (const auto& letter : Letters.get_NewEnum()) all += rt::CStr(letter);
    if (all == Text) return true;
    for (char16_t c : rt::ToUtf16(Text)) {
        const std::string letter = rt::ToUtf8(std::u16string(1, c));
        if (rt::UCase(letter) != "N" && rt::InStr(all, letter) == 0) return false;
    }
    return true;
}

}  // namespace pelmora
