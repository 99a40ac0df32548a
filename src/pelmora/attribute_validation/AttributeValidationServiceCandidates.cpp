// The candidate filter rules behind ValidateAttributes: the active feature
// judged against one candidate row, whose missing related fields are read
// from the related feature's component view.
//
// The related side is RelatedComponent only. A caller that set
// RelatedFeature instead is judged with related FNO 0: rules of every
// related FNO apply, none with a related value.
#include <memory>
#include <string>

#include "ado/Recordset.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "interfaces/Components.h"
#include "interfaces/DataContext.h"
#include "interfaces/FeatureAssemblyService.h"
#include "interfaces/Framework.h"
#include "interfaces/KeyObject.h"
#include "interfaces/MetadataService.h"
#include "interfaces/Varsk1.h"
#include "pelmora/common/FeatureComponents.h"
#include "pelmora/attribute_validation/AttributeValidationService.h"
#include "pelmora/attribute_validation/ModAttributeValidationService.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

rt::ObjectPtr ObjectMember(const rt::ObjectPtr& object, const char* member) {
    rt::Variant v = rt::CallByName(object, member, rt::InvokeKind::PropertyGet);
    return v.Obj();
}

// The application's connection whose data context is this very object.
rt::ObjectPtr ConnectionOf(const rt::ObjectPtr& application, const std::shared_ptr<IDataContext>& dataContext) {
    auto connections = ObjectMember(ObjectMember(application, "Document"), "Connections");
    const int32_t count = rt::CLng(rt::CallByName(connections, "Count", rt::InvokeKind::PropertyGet));
    const rt::ObjectPtr wanted = rt::ObjectPtrOf(dataContext);
    for (int32_t i = 1; i <= count; ++i) {
        auto connection = rt::CallByName(connections, "Item", rt::InvokeKind::PropertyGet, {rt::Variant(i)}).Obj();
        const rt::Variant its = rt::CallByName(connection, "DataContext", rt::InvokeKind::PropertyGet);
        if (wanted && its.IsObject() && its.Obj() == wanted) return connection;
    }
    return nullptr;
}

// The list test of "RelatedNotEqualTo": no part of the ";" list may equal
// the related value, letter case aside. Without a related value (or a
// Null one) no part is equal.
bool NoPartEquals(const std::string& list, bool hasRelated, const rt::Variant& related) {
    if (!hasRelated || related.IsNull()) return true;
    for (const auto& part : rt::Split(list, ";")) {
        const rt::Variant c = rt::StrComp(rt::Variant(part), related, rt::CompareMode::Text);
        if (!c.IsNull() && rt::CLng(c) == 0) return false;
    }
    return true;
}

}  // namespace

bool AttributeValidationService::ProcessCandidateFilterRules(bool ActiveAttrCanBeNull, rt::Variant& PriorityArray,
                                                             rt::Variant& ErrArray) {
    bool result = false;
    rt::ComError failure(0, "", "");
    if (!rt::CaptureError([&] { WalkCandidateFilterRules(ActiveAttrCanBeNull, PriorityArray, ErrArray, result); },
                          failure))
        ShowValidationMessage(rt::Variant(failure.Description()));
    return result;
}

void AttributeValidationService::WalkCandidateFilterRules(bool ActiveAttrCanBeNull, rt::Variant& PriorityArray,
                                                          rt::Variant& ErrArray, bool& Result) {
    Result = false;
    const int16_t activeFNO = ActiveFeature_ ? ActiveFeature_->get_FNO() : 0;
    if (activeFNO == 0) {
        ShowValidationMessage(rt::Variant(int32_t{attrmsg::NoActiveFeature}));
        return;
    }
    const int32_t relatedFNO = RelatedComponent_ ? rt::CLng(RelatedComponent_->GetValue(rt::Variant("QTX_FNO"))) : 0;

    if (!DataContext_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto metadata = DataContext_->GetMetadataService();
    if (!metadata) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    RuleWalk walk;
    walk.Rules = metadata->get_Recordsets()->get_Item(rt::Variant(kAttributeRulesTable))->get_Recordset("", "");
    AttributeValidationState().Rules = walk.Rules;
    if (!walk.Rules) {
        Result = true;
        return;
    }
    auto& rules = *walk.Rules;
    rules.put_Filter(rt::Variant("QTX_ACTIVEFNO = " + std::to_string(activeFNO) +
                                 " and QTX_MOUSEMOVECANDIDATEFILTER <> 0"));
    if (rules.get_BOF() && rules.get_EOF()) {
        Result = true;
        return;
    }
    walk.ValueSets = LoadSetValues(walk, RelationshipType_, RelatedFeature_);
    Result = true;

    std::shared_ptr<IFeatureAssemblyService> assembly;
    for (rules.MoveFirst(); !rules.get_EOF(); rules.MoveNext()) {
        const rt::Variant type = walk.Column("QTX_OPERATIONTYPE");
        if (type.IsNull() || *rt::VbCompare(type, rt::Variant(int32_t{1})) != 0) continue;
        const int32_t ruleRelatedFNO = walk.RelatedFNO();
        if (relatedFNO != ruleRelatedFNO && relatedFNO != 0 && ruleRelatedFNO != 0) continue;
        if (!IsNullOrEmpty(walk.Column("QTX_VINO"))) continue;
        const rt::Variant op = walk.Column("QTX_OPERATOR");
        if (IsNullOrEmpty(op)) {
            ShowValidationMessage(rt::Variant(int32_t{attrmsg::RuleWithoutOperator}));
            continue;
        }

        const std::string activeField = rt::CStr(walk.Column("QTX_ACTIVEFIELDNAME"));
        const std::string activeName = rt::CStr(walk.Column("QTX_ACTIVENAME"));
        rt::Variant activeValue;
        {
            auto rows = FeatureComponentRows(ActiveFeature_, activeName);
            if (rows->get_BOF() && rows->get_EOF()) {
                // The value a new row would start with; the row itself is not
                // kept, or a later save would write a row without its keys.
                rows->AddNew();
                try {
                    rows->SetValue(rt::Variant("QTX_FID"), rt::Variant(ActiveFeature_->get_FID()));
                    rows->SetValue(rt::Variant("QTX_FNO"), rt::Variant(activeFNO));
                    activeValue = RuleFieldValue(*rows, activeField, walk, "QTX_ACTIVEFIELDNAME", activeName);
                } catch (...) {
                    rows->CancelUpdate();
                    throw;
                }
                rows->CancelUpdate();
            } else {
                if (rows->get_EOF() || rows->get_BOF()) rows->MoveFirst();
                activeValue = RuleFieldValue(*rows, activeField, walk, "QTX_ACTIVEFIELDNAME", activeName);
            }
        }

        const rt::Variant fieldColumn = walk.Column("QTX_RELATEDFIELDNAME");
        std::string relatedField;
        rt::Variant relatedValue;
        bool hasRelated = false;
        if (relatedFNO != 0 && ruleRelatedFNO != 0 && !IsBlankValue(fieldColumn)) {
            relatedField = rt::CStr(fieldColumn);
            std::shared_ptr<ado::Field> field;
            rt::ResumeNext lookup;
            if (lookup([&] { field = RelatedComponent_->get_Fields()->get_Item(rt::Variant(relatedField)); }) && field) {
                relatedValue = field->get_Value();
                hasRelated = true;
            } else {
                hasRelated = ReadComponentView(activeFNO, relatedFNO, relatedField, assembly, relatedValue);
            }
        }

        const rt::Variant validationValue = walk.Column("QTX_VALIDATIONVALUE");
        const std::string listText = IsNullOrEmpty(validationValue) ? "" : rt::CStr(validationValue);
        bool holds;
        if (rt::NamesEqual(rt::CStr(op), "RelatedNotEqualTo") && !listText.empty())
            holds = NoPartEquals(listText, hasRelated, relatedValue);
        else if (activeValue.IsNull()) holds = ActiveAttrCanBeNull;
        else if (!hasRelated) holds = ValidateAttributeRule(walk, activeValue, metadata);
        else holds = ValidateAttributeRuleValue(walk, activeValue, relatedValue, metadata);
        if (holds) continue;

        Result = false;
        if (PriorityArray.IsMissing() || ErrArray.IsMissing()) return;
        const rt::Variant relatedName = walk.Column("QTX_RELATEDNAME");
        AppendValidationFailure(
            PriorityArray, ErrArray, walk.Column("QTX_PRIORITY"),
            rt::Variant(RuleFailureText(hasRelated, activeField, activeName, relatedField,
                                        IsNullOrEmpty(relatedName) ? "" : rt::CStr(relatedName))));
    }
}

bool AttributeValidationService::ReadComponentView(int32_t ActiveFNO, int32_t RelatedFNO,
                                                   const std::string& RelatedField,
                                                   std::shared_ptr<IFeatureAssemblyService>& Assembly,
                                                   rt::Variant& Value) {
    if (!Assembly)
        Assembly = rt::QueryInterface<IFeatureAssemblyService>(rt::CreateObject(kFeatureAssemblyServiceProgId));
    Assembly->putref_DataContext(DataContext_);
    const int16_t fno = rt::CInt(rt::Variant(RelatedFNO));
    const int32_t fid = rt::CLng(RelatedComponent_->GetValue(rt::Variant("QTX_FID")));
    auto related = Assembly->OpenFeature(fno, fid);
    if (!related) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);

    auto application = varsk1::GetYvApplicationDispatch();
    if (!application) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto connection = ConnectionOf(application, DataContext_);
    auto pipe = rt::QueryInterface<IComponentViewPipe>(
        rt::CallByName(application, "CreateService", rt::InvokeKind::Method, {rt::Variant(kComponentViewPipeProgId)})
            .Obj());
    pipe->putref_Connection(connection);
    pipe->putref_Components(related->get_Components());
    pipe->put_FNO(RelatedFNO);
    pipe->put_CNO(rt::CLng(RelatedComponent_->GetValue(rt::Variant("QTX_CNO"))));
    auto view = pipe->get_OutputRecordset();
    if (!view) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto fields = view->get_Fields();

    rt::ResumeNext read;
    if (read([&] { Value = fields->get_Item(RelatedField)->get_Value(); })) return true;
    ShowMessage(rt::Variant("For ActiveFNO of " + std::to_string(ActiveFNO) + " and RelatedFNO of " +
                            std::to_string(RelatedFNO) +
                            " the field specified for validation is not in the ComponentView."));
    return false;
}

}  // namespace pelmora
