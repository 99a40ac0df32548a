// The rule walk behind Execute and Validate: the comparison rules of the
// active FNO judged against the related feature, and the validation
// interfaces that rules name.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ado/Recordset.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/extensions/ExtensionBinding.h"
#include "pelmora/features/ComponentService.h"
#include "pelmora/common/FeatureComponents.h"
#include "interfaces/Components.h"
#include "interfaces/DataContext.h"
#include "interfaces/InterfaceSupport.h"
#include "interfaces/KeyObject.h"
#include "interfaces/MetadataService.h"
#include "interfaces/Varsk1.h"
#include "pelmora/attribute_validation/AttributeValidationService.h"
#include "pelmora/attribute_validation/ModAttributeValidationService.h"
#include "runtime/Vb.h"

namespace pelmora {

struct AttributeValidationService::InterfaceRule {
    std::string ActiveName, ActiveField, RelatedName, RelatedField;
};

namespace {

// A feature's components as one walk finds them by name. Comparison rules
// change no feature's set of components, so each name is looked up once; the
// walk forgets them after an interface rule, which may. Each read still asks
// the component for its recordset.
class ComponentsByName {
public:
    explicit ComponentsByName(const std::shared_ptr<IKeyObject>& feature) : feature_(feature) {}

    std::shared_ptr<ado::Recordset> RowsOf(const std::string& name) {
        for (const auto& [known, found] : found_)
            if (known == name) return ComponentRowsOf(found);
        auto component = FeatureComponent(feature_, name);
        found_.emplace_back(name, component);
        return ComponentRowsOf(component);
    }
    void Forget() { found_.clear(); }

private:
    const std::shared_ptr<IKeyObject>& feature_;
    std::vector<std::pair<std::string, std::shared_ptr<IComponent>>> found_;
};

std::shared_ptr<ComponentService> ServiceOn(const std::shared_ptr<IKeyObject>& feature, const std::string& component) {
    auto service = std::make_shared<ComponentService>();
    service->putref_Components(FeatureComponents(feature));
    service->put_ComponentName(component);
    return service;
}

// Runs a step that takes the component or field a rule names: a failure ends
// the walk, and is traced naming the rule.
template <class Step>
decltype(auto) RuleNamed(const RuleWalk& walk, const char* column, const std::string& name, Step&& step) {
    return TracingMetadataFault(
        "AttributeValidationService", "ProcessValidationRules", [&] { return RuleName(walk, column, name); }, step);
}

bool OperationTypeIs(const rt::Variant& type, int32_t n) {
    if (type.IsNull()) return false;
    // The column's usual whole numbers compare directly.
    if (type.Type() == rt::vbInteger) return type.I2() == n;
    if (type.Type() == rt::vbLong) return type.I4() == n;
    if (type.Type() == rt::vbDecimal) {
        const rt::Decimal& d = type.Dec();
        if (d.scale == 0 && n >= 0) return d.magnitude == static_cast<unsigned>(n) && (!d.negative || n == 0);
        return d == rt::Decimal::FromInt64(n);
    }
    auto c = rt::VbCompare(type, rt::Variant(n));
    return c && *c == 0;
}

}  // namespace

void AttributeValidationService::ProcessValidationRules(bool IsExecute, bool ActiveAttrCanBeNull,
                                                        rt::Variant& PriorityArray, rt::Variant& ErrArray) {
    std::string inProgress;
    rt::ComError failure(0, "", "");
    if (rt::CaptureError([&] { WalkValidationRules(IsExecute, ActiveAttrCanBeNull, PriorityArray, ErrArray, inProgress); },
                         failure))
        return;
    if (abort_) {
        abort_ = false;
        ShowMessage(rt::Variant(int32_t{attrmsg::Interrupted}));
    } else if (!inProgress.empty()) {
        WriteLogLine("Error executing validation interface: " + inProgress + " - " + failure.Description());
    } else {
        WriteLogLine("Error in attribute validation processing - " + failure.Description());
    }
}

void AttributeValidationService::WalkValidationRules(bool IsExecute, bool ActiveAttrCanBeNull,
                                                     rt::Variant& PriorityArray, rt::Variant& ErrArray,
                                                     std::string& InterfaceInProgress) {
    int16_t activeFNO = 0;
    int32_t activeFID = 0;
    if (ActiveFeature_) {
        activeFNO = ActiveFeature_->get_FNO();
        activeFID = ActiveFeature_->get_FID();
    }
    if (activeFNO == 0) {
        ShowValidationMessage(rt::Variant(int32_t{attrmsg::NoActiveFeature}));
        return;
    }
    const int16_t relatedFNO = RelatedFeature_ ? RelatedFeature_->get_FNO() : 0;

    if (!DataContext_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto metadata = DataContext_->GetMetadataService();
    if (!metadata) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    // The walk holds its own rules: the apartment's slot may be replaced or
    // released under it by whatever a validation interface does.
    RuleWalk walk;
    walk.Rules = metadata->get_Recordsets()
                     ->get_Item(rt::Variant(kAttributeRulesTable))
                     ->get_Recordset("QTX_MOUSEMOVECANDIDATEFILTER = 0 and QTX_ACTIVEFNO = " +
                                         std::to_string(activeFNO),
                                     "");
    AttributeValidationState().Rules = walk.Rules;
    if (!walk.Rules) return;
    auto& rules = *walk.Rules;
    if (rules.get_BOF() && rules.get_EOF()) return;

    walk.ValueSets = LoadSetValues(walk, RelationshipType_, RelatedFeature_);
    auto support = NewInterfaceSupport();
    ComponentsByName activeComponents(ActiveFeature_), relatedComponents(RelatedFeature_);

    walk.UseKeptFacts();
    for (rules.MoveFirst(); !rules.get_EOF(); rules.MoveNext(), InterfaceInProgress.clear()) {
        walk.AtCurrentRule();
        if (!RelationshipTypeFits(walk.Column("QTX_RELATIONSHIPTYPE"), RelationshipType_)) continue;
        const int32_t ruleRelatedFNO = walk.RelatedFNO();
        if (!IsExecute) {
            const rt::Variant type = walk.Column("QTX_OPERATIONTYPE");
            if (!OperationTypeIs(type, 1) && !OperationTypeIs(type, 3)) continue;
        }
        if (relatedFNO != ruleRelatedFNO && relatedFNO != 0 && ruleRelatedFNO != 0) continue;

        const std::string activeField = walk.ActiveFieldName();
        const std::string activeName = walk.ActiveName();
        rt::Variant activeValue;
        {
            auto rows =
                RuleNamed(walk, "QTX_ACTIVENAME", activeName, [&] { return activeComponents.RowsOf(activeName); });
            if (rows->get_BOF() && rows->get_EOF()) {
                if (relatedFNO == 0 || ruleRelatedFNO == 0) continue;
                // A rule against this related feature judges the component
                // even when the feature has none: a new row with full keys.
                const int16_t cid = GetNextCID(rows);
                rows->AddNew();
                rows->SetValue(rt::Variant("QTX_FID"), rt::Variant(activeFID));
                rows->SetValue(rt::Variant("QTX_CID"), rt::Variant(cid));
                rows->SetValue(rt::Variant("QTX_FNO"), rt::Variant(activeFNO));
                rows->SetValue(rt::Variant("QTX_CNO"), walk.Column("QTX_ACTIVECNO"));
            } else if (rows->get_EOF() || rows->get_BOF()) {
                rows->MoveFirst();
            }
            activeValue = RuleNamed(walk, "QTX_ACTIVEFIELDNAME", activeField, [&] {
                return RuleFieldValue(*rows, activeField, walk, "QTX_ACTIVEFIELDNAME", activeName);
            });
        }

        if (!walk.Column("QTX_VINO").IsNull()) {
            const rt::Variant field = walk.Column("QTX_RELATEDFIELDNAME");
            const rt::Variant name = walk.Column("QTX_RELATEDNAME");
            // An interface rule always needs the related feature's side.
            if (relatedFNO == 0 || ruleRelatedFNO == 0 || IsBlankValue(field) || IsBlankValue(name)) continue;
            activeComponents.Forget();
            relatedComponents.Forget();
            RunInterfaceRule(InterfaceRule{activeName, activeField, rt::CStr(name), rt::CStr(field)}, walk, IsExecute,
                             *support, PriorityArray, ErrArray, InterfaceInProgress);
            continue;
        }

        if (IsNullOrEmpty(walk.Column("QTX_OPERATOR"))) {
            ShowValidationMessage(rt::Variant(int32_t{attrmsg::RuleWithoutOperator}));
            continue;
        }

        const rt::Variant fieldColumn = walk.Column("QTX_RELATEDFIELDNAME");
        const rt::Variant nameColumn = walk.Column("QTX_RELATEDNAME");
        std::string relatedField, relatedName;
        rt::Variant relatedValue;
        bool hasRelated = false;
        if (relatedFNO == 0 || ruleRelatedFNO == 0 || IsNullOrEmpty(fieldColumn) ||
            IsNullOrEmpty(nameColumn)) {
            relatedField = IsNullOrEmpty(fieldColumn) ? "" : rt::CStr(fieldColumn);
        } else if (!IsBlankValue(fieldColumn) && !IsBlankValue(nameColumn)) {
            relatedField = rt::CStr(fieldColumn);
            relatedName = rt::CStr(nameColumn);
            auto related =
                RuleNamed(walk, "QTX_RELATEDNAME", relatedName, [&] { return relatedComponents.RowsOf(relatedName); });
            if (related->get_RecordCount() != 0) {
                related->MoveFirst();
                relatedValue = RuleNamed(walk, "QTX_RELATEDFIELDNAME", relatedField, [&] {
                    return RuleFieldValue(*related, relatedField, walk, "QTX_RELATEDFIELDNAME", relatedName);
                });
                hasRelated = true;
            }
        }

        bool holds;
        if (activeValue.IsNull()) holds = ActiveAttrCanBeNull;
        else if (!hasRelated) holds = relatedField.empty() ? ValidateAttributeRule(walk, activeValue, metadata) : true;
        else holds = ValidateAttributeRuleValue(walk, activeValue, relatedValue, metadata);
        if (!holds)
            AppendValidationFailure(PriorityArray, ErrArray, walk.Column("QTX_PRIORITY"),
                                    rt::Variant(RuleFailureText(hasRelated, activeField, activeName, relatedField,
                                                                relatedName)));
    }
}

void AttributeValidationService::RunInterfaceRule(const InterfaceRule& Rule, const RuleWalk& Walk, bool IsExecute,
                                                  IInterfaceSupport& Support, rt::Variant& PriorityArray,
                                                  rt::Variant& ErrArray, std::string& InterfaceInProgress) {
    const rt::Variant interfaceName = Walk.Column("QTX_INTERFACE");
    // Phase rules are the relationships' own business.
    if (interfaceName.IsString() && interfaceName.Str() == "Ambrix.PhaseValidation") return;
    const rt::Variant projectNumber = Walk.Column("QTX_PRJNO");

    auto activeService = ServiceOn(ActiveFeature_, Rule.ActiveName);
    auto relatedService = ServiceOn(RelatedFeature_, Rule.RelatedName);
    rt::Variant argument;
    const rt::Variant blob = Walk.Column("QTX_INTERFACEARGUMENT");
    if (!IsNullOrEmpty(blob)) varsk1::ConvertBlobToArray(blob, argument);

    // Both values from the current rows as they stand, read when handed over;
    // a component or field the feature lacks is traced naming the rule.
    auto valueOf = [&](const std::shared_ptr<IKeyObject>& feature, const char* nameColumn, const std::string& name,
                       const char* fieldColumn, const std::string& field) {
        auto rows = RuleNamed(Walk, nameColumn, name, [&] { return FeatureComponentRows(feature, name); });
        if (rows->FieldIndex(field) < 0)
            return RuleNamed(Walk, fieldColumn, field, [&] { return rows->GetValue(rt::Variant(field)); });
        return rows->GetValue(rt::Variant(field));
    };
    auto activeValue = [&] {
        return valueOf(ActiveFeature_, "QTX_ACTIVENAME", Rule.ActiveName, "QTX_ACTIVEFIELDNAME", Rule.ActiveField);
    };
    auto relatedValue = [&] {
        return valueOf(RelatedFeature_, "QTX_RELATEDNAME", Rule.RelatedName, "QTX_RELATEDFIELDNAME", Rule.RelatedField);
    };
    auto qzComponents = [](const std::shared_ptr<IKeyObject>& feature) {
        return rt::QueryInterface<QzComponents>(FeatureComponents(feature));
    };
    rt::ResumeNext creation;

    if (!projectNumber.IsNull()) {
        GetVbaProjectHost();
        rt::ObjectPtr entry;
        std::shared_ptr<IProjectValidationInterface> project;
        if (!creation([&] {
                entry = GetVbaProjectObject(rt::CLng(projectNumber));
                project = rt::QueryInterface<IProjectValidationInterface>(entry);
            }))
            return;
        abort_ = false;
        m_RelAttrInterfaceEvent.Subscribe(entry, [this] { m_RelAttrInterfaceEvent_Abort(); });
        project->putref_DataContext(DataContext_);
        project->put_ActiveANO(rt::CLng(Walk.Column("QTX_ACTIVEANO")));
        project->put_ActiveComponentName(Rule.ActiveName);
        project->putref_ActiveComponents(qzComponents(ActiveFeature_));
        project->put_ArgumentArray(argument);
        project->put_Priority(rt::CStr(Walk.Column("QTX_PRIORITY")));
        project->put_RelatedANO(rt::CLng(Walk.Column("QTX_RELATEDANO")));
        project->put_RelatedComponentName(Rule.RelatedName);
        project->putref_RelatedComponents(qzComponents(RelatedFeature_));
        project->put_ActiveFieldName(rt::CStr(Walk.Column("QTX_ACTIVEFIELDNAME")));
        project->put_ActiveValue(activeValue());
        project->put_RelatedFieldName(rt::CStr(Walk.Column("QTX_RELATEDFIELDNAME")));
        project->put_RelatedValue(relatedValue());
        if (IsExecute) project->Execute();
        else project->Validate(PriorityArray, ErrArray);
        return;
    }

    const std::string name = rt::CStr(interfaceName);
    InterfaceInProgress = name;

    if (rt::InStr(name, ":") > 0) {
        std::shared_ptr<INamedValidationInterface> named;
        if (!creation([&] { named = rt::QueryInterface<INamedValidationInterface>(Support.CreateInterface(name).Obj()); }))
            return;
        named->putref_DataContext(Support.ConvertDataContext(DataContext_));
        named->put_ActiveANO(rt::CLng(Walk.Column("QTX_ACTIVEANO")));
        named->put_ActiveComponentName(Rule.ActiveName);
        named->putref_ActiveComponents(Support.ConvertComponents(qzComponents(ActiveFeature_)));
        named->putref_ArgumentArray(Support.ConvertArgumentArray(CopyArgumentArray(argument)));
        named->put_Priority(rt::CStr(Walk.Column("QTX_PRIORITY")));
        named->put_RelatedANO(rt::CLng(Walk.Column("QTX_RELATEDANO")));
        named->put_RelatedComponentName(Rule.RelatedName);
        named->putref_RelatedComponents(Support.ConvertComponents(qzComponents(RelatedFeature_)));
        named->put_ActiveFieldName(rt::CStr(Walk.Column("QTX_ACTIVEFIELDNAME")));
        named->putref_ActiveValue(Support.ConvertValue(activeValue()));
        named->put_RelatedFieldName(rt::CStr(Walk.Column("QTX_RELATEDFIELDNAME")));
        named->putref_RelatedValue(Support.ConvertValue(relatedValue()));
        if (IsExecute) {
            named->Execute();
        } else {
            rt::Variant priorities = rt::Variant::UnallocatedArray(rt::vbString);
            rt::Variant messages = rt::Variant::UnallocatedArray(rt::vbString);
            named->Validate(priorities, messages);
            // Added to what the walk found so far, never in its place.
            AppendValidationFailures(PriorityArray, ErrArray, priorities, messages);
        }
        return;
    }

    std::shared_ptr<IValidationInterface> byProgId;
    if (!creation([&] { byProgId = rt::QueryInterface<IValidationInterface>(rt::CreateObject(name)); })) return;
    const rt::Variant op = Walk.Column("QTX_OPERATOR");
    const std::string operatorText = IsNullOrEmpty(op) ? "blank" : rt::CStr(op);
    byProgId->putref_DataContext(DataContext_);
    byProgId->put_ActiveANO(rt::CLng(Walk.Column("QTX_ACTIVEANO")));
    byProgId->put_ActiveComponentName(Rule.ActiveName);
    byProgId->putref_ActiveComponentService(activeService);
    byProgId->put_ArgumentArray(argument);
    byProgId->put_OperationType(rt::CLng(Walk.Column("QTX_OPERATIONTYPE")));
    byProgId->put_Operator(operatorText);
    byProgId->put_Priority(rt::CStr(Walk.Column("QTX_PRIORITY")));
    byProgId->put_RelatedANO(rt::CLng(Walk.Column("QTX_RELATEDANO")));
    byProgId->put_RelatedComponentName(Rule.RelatedName);
    byProgId->putref_RelatedComponentService(relatedService);
    byProgId->put_ValidationValue(rt::Variant(Walk.Column("QTX_VALIDATIONVALUE")));
    if (IsExecute) byProgId->Execute(PriorityArray, ErrArray);
    else byProgId->Validate(PriorityArray, ErrArray);
}

}  // namespace pelmora
