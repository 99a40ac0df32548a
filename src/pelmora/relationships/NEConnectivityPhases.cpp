// Node-edge connectivity: the phase check. Phase rules are the rows of
// QTX_ATTRVAL_OPTABLE naming "Ambrix.PhaseValidation" (the attribute
// validation service passes over them); a feature passes when at one of its
// nodes its phase text is covered by the phase letters of the rule-related
// features met so far. Phase texts come through a picklist metadata table.
#include <optional>
#include <tuple>
#include <utility>

#include "ado/Recordset.h"
#include "pelmora/common/DistinctItemColl.h"
#include "pelmora/common/NullOrEmpty.h"
#include "pelmora/common/TraceScope.h"
#include "pelmora/features/KeyObjects.h"
#include "interfaces/Components.h"
#include "interfaces/KeyObject.h"
#include "interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataUtils.h"
#include "pelmora/relationships/NEConnectivity.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "runtime/Error.h"
#include "runtime/SqlName.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr int16_t kPhaseMessage = 24756;
constexpr const char* kPhaseInterfaceFilter = " AND QTX_INTERFACE = 'Ambrix.PhaseValidation'";

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
    if (!Related || !feature_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
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

const rt::Variant& NEConnectivity::ValidateRun::Cell::Get() const {
    if (error) std::rethrow_exception(error);
    return value;
}

NEConnectivity::ValidateRun::Cell NEConnectivity::ValidateRun::Cell::Of(const std::function<rt::Variant()>& read) {
    Cell cell;
    try {
        cell.value = read();
    } catch (...) {
        cell.error = std::current_exception();
    }
    return cell;
}

NEConnectivity::ValidateRun::Cell NEConnectivity::ValidateRun::Cell::Read(const std::shared_ptr<ado::Recordset>& rows,
                                                                     const char* column) {
    return Of([&] { return rows->GetValue(rt::Variant(column)); });
}

namespace {

// A picklist value as a key that tells apart what the filter might not
// (3 as Integer and as Decimal stay two keys); nullopt for kinds not kept.
std::optional<std::pair<uint16_t, std::string>> ValueKey(const rt::Variant& v) {
    switch (v.Type()) {
        case rt::vbString: return std::pair{v.Type(), v.Str()};
        case rt::vbInteger: return std::pair{v.Type(), std::to_string(v.I2())};
        case rt::vbLong: return std::pair{v.Type(), std::to_string(v.I4())};
        case rt::vbDecimal: return std::pair{v.Type(), v.Dec().ToString()};
        default: return std::nullopt;
    }
}

}  // namespace

const std::vector<NEConnectivity::ValidateRun::RuleRow>& NEConnectivity::ActivePhaseRows(ValidateRun& Run, int16_t FNO) {
    if (auto kept = Run.activeRules.find(FNO); kept != Run.activeRules.end()) return kept->second;
    auto rules = TakeMetadataRecordset("QTX_ATTRVAL_OPTABLE");
    rules->put_Filter(rt::Variant("QTX_ACTIVEFNO = " + std::to_string(FNO) + kPhaseInterfaceFilter));
    using Cell = ValidateRun::Cell;
    std::vector<ValidateRun::RuleRow> rows;
    if (!(rules->get_BOF() && rules->get_EOF()))
        for (rules->MoveFirst(); !rules->get_EOF(); rules->MoveNext())
            rows.push_back({Cell::Read(rules, "QTX_RELATEDFNO"), Cell::Read(rules, "QTX_ACTIVENAME"),
                            Cell::Read(rules, "QTX_ACTIVEANO"), Cell::Read(rules, "QTX_PRIORITY")});
    return Run.activeRules.emplace(FNO, std::move(rows)).first->second;
}

bool NEConnectivity::GetActivePhaseRules(const std::shared_ptr<IKeyObjects>& Related, ActivePhaseRule& Rule,
                                         const std::shared_ptr<IKeyObjects>& RuleRelated) {
    Rule.priority = GetValidationMessage(kWarningPriorityMessage);
    ValidateRun once;
    const auto& rows = ActivePhaseRows(validateRun_ ? *validateRun_ : once, feature_->get_FNO());
    bool found = false;
    if (rows.empty()) return found;
    for (const auto& relatedFeature : Related->get_NewEnum()) {
        const rt::Variant relatedFno(relatedFeature->get_FNO());
        for (const auto& row : rows) {
            auto order = rt::VbCompare(row.relatedFno.Get(), relatedFno);
            if (!order || *order != 0) continue;
            RuleRelated->Add(relatedFeature);
            Rule.componentName = rt::CStr(row.activeName.Get());
            Rule.ano = rt::CLng(row.activeAno.Get());
            // The second character ranks a priority; Mid gives "" for a
            // shorter text, which ranks lowest.
            const std::string priority = TextOrEmpty(row.priority.Get());
            if (rt::Mid(Rule.priority, 2, 1) < rt::Mid(priority, 2, 1)) Rule.priority = priority;
            found = true;
        }
    }
    return found;
}

void NEConnectivity::GetRelatedPhaseRule(const std::shared_ptr<IKeyObject>& RelatedFeature, std::string& ComponentName,
                                         int32_t& ANO) {
    ValidateRun once;
    ValidateRun& run = validateRun_ ? *validateRun_ : once;
    const std::pair key{feature_->get_FNO(), RelatedFeature->get_FNO()};
    auto kept = run.relatedRules.find(key);
    if (kept == run.relatedRules.end()) {
        auto rules = TakeMetadataRecordset("QTX_ATTRVAL_OPTABLE");
        rules->put_Filter(rt::Variant("QTX_ACTIVEFNO = " + std::to_string(key.first) + " AND QTX_RELATEDFNO = " +
                                      std::to_string(key.second) + kPhaseInterfaceFilter));
        using Cell = ValidateRun::Cell;
        ValidateRun::RelatedRule rule;
        if (!(rules->get_BOF() && rules->get_EOF()))
            rule = {true, Cell::Read(rules, "QTX_RELATEDNAME"), Cell::Read(rules, "QTX_RELATEDANO")};
        kept = run.relatedRules.emplace(key, std::move(rule)).first;
    }
    if (!kept->second.found) return;
    ComponentName = rt::CStr(kept->second.name.Get());
    ANO = rt::CLng(kept->second.ano.Get());
}

std::string NEConnectivity::GetAttributeFieldInfo(const std::shared_ptr<ado::Recordset>& Component, int32_t ANO) {
    std::string result;
    ValidateRun once;
    ValidateRun& run = validateRun_ ? *validateRun_ : once;
    auto kept = run.attributes.find(ANO);
    if (kept == run.attributes.end()) {
        auto attributes = TakeMetadataRecordset("QTX_ATTRIBUTEINFO_OPTABLE");
        FilterService().FilterRecordset(attributes, attributes->get_Fields()->Item("QTX_ANO"), rt::Variant(ANO));
        using Cell = ValidateRun::Cell;
        ValidateRun::Attribute attribute;
        if (!(attributes->get_BOF() && attributes->get_EOF())) {
            auto name = [&](const char* column, bool table) {
                return Cell::Of([&] { return rt::Variant(PhaseName(attributes, column, table)); });
            };
            auto text = [&](const char* column) {
                return Cell::Of([&] { return rt::Variant(TextOrEmpty(attributes->GetValue(rt::Variant(column)))); });
            };
            attribute.found = true;
            attribute.field = text("QTX_FIELD");
            attribute.table = name("QTX_PICKLISTTABLE", true);
            attribute.keyColumn = name("QTX_KEYFIELD", false);
            attribute.valueColumn = name("QTX_VALUEFIELD", false);
            attribute.userName = text("QTX_USERNAME");
            attribute.componentName = text("QTX_NAME");
        }
        kept = run.attributes.emplace(ANO, std::move(attribute)).first;
    }
    ValidateRun::Attribute& attribute = kept->second;
    if (!attribute.found) return result;
    const std::string& field = attribute.field.Get().Str();
    const std::string& table = attribute.table.Get().Str();
    const std::string& keyColumn = attribute.keyColumn.Get().Str();
    const std::string& valueColumn = attribute.valueColumn.Get().Str();
    if (Component->FieldIndex(field) < 0) {
        const std::string userName = attribute.userName.Get().Str();
        throw rt::ComError(ado::err::ItemNotFound, kPhaseNameSource,
                           "The attribute " + userName + " (ANO " + std::to_string(ANO) + ") names the field \"" +
                               field + "\", which component " + attribute.componentName.Get().Str() +
                               " does not have.");
    }
    const rt::Variant value = Component->GetValue(rt::Variant(field));
    if (attribute.picklistEmpty && *attribute.picklistEmpty) return result;
    const auto valueKey = ValueKey(value);
    if (attribute.picklistEmpty && valueKey)
        if (auto text = run.texts.find({ANO, valueKey->first, valueKey->second}); text != run.texts.end())
            return text->second;
    // A picklist table or column that does not exist ends the phase check,
    // and with it the feature's finding: traced, naming the attribute.
    auto naming = [&](const char* column, const std::string& name, auto&& step) {
        return TracingMetadataFault(
            "NEConnectivity", "GetAttributeFieldInfo",
            [&] {
                return MetadataName{"QTX_ATTRIBUTEINFO_OPTABLE", "QTX_ANO " + std::to_string(ANO),
                                    std::string(column) + " \"" + name + "\""};
            },
            step);
    };
    auto picklist = naming("QTX_PICKLISTTABLE", table, [&] { return TakeMetadataRecordset(table); });
    attribute.picklistEmpty = picklist->get_BOF() && picklist->get_EOF();
    if (*attribute.picklistEmpty) return result;
    FilterService().FilterRecordset(
        picklist, naming("QTX_KEYFIELD", keyColumn, [&] { return picklist->get_Fields()->Item(keyColumn); }), value);
    if (!(picklist->get_BOF() || picklist->get_EOF()))
        result = rt::Trim(TextOrEmpty(
            naming("QTX_VALUEFIELD", valueColumn, [&] { return picklist->GetValue(rt::Variant(valueColumn)); })));
    if (valueKey) run.texts.emplace(std::tuple{ANO, valueKey->first, valueKey->second}, result);
    return result;
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
