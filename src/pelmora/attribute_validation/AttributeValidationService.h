#pragma once
// The attribute validation service: given a data context, an active feature
// and either a related feature or one related component row (a candidate),
// it applies the rules of QTX_ATTRVAL_OPTABLE for the active feature's FNO
// and returns the failed rules as ValidationErrorArrays.
//
// Callers: the relationship service keeps one per data context and drives
// Execute (silent establish) and ValidateAttributes (candidate tests);
// relationship helpers create one per feature pair and call Validate.
//
// The service holds its inputs strongly; RelatedFeature and
// RelatedComponent exclude each other. It never raises from Execute,
// Validate or ValidateAttributes: the rule walks log or show what goes wrong
// (log: GetTempDirectory() + "/ValidationInterfaces.log", one path per
// apartment) and what still escapes ends in one message box titled with
// message 18273. The last walk's rules and value sets stay in the
// apartment's slot (ModAttributeValidationService.h); terminating any
// instance releases the rules.
//
// A project-held validation interface stays referenced after its rule,
// listened to for Abort, until the next one replaces it or the service
// ends. Calls on the services of one apartment must not interleave.
#include <cstdint>
#include <memory>
#include <string>

#include "pelmora/extensions/ExtensionBinding.h"
#include "interfaces/ValidationInterface.h"
#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace pelmora {

class IFeatureAssemblyService;
class IInterfaceSupport;
class IMetadataService;
struct RuleWalk;

class AttributeValidationService : public rt::Object, public IAttributeValidationService {
public:
    // Selects the "PELMORA" messages and sets the apartment's log path when
    // it has none yet.
    AttributeValidationService();
    // Releases the apartment's rules (whoever loaded them).
    ~AttributeValidationService() override;
    AttributeValidationService(const AttributeValidationService&) = delete;
    AttributeValidationService& operator=(const AttributeValidationService&) = delete;

    void putref_ActiveFeature(const std::shared_ptr<IKeyObject>& ActiveFeature) override;
    std::shared_ptr<IKeyObject> get_ActiveFeature() override { return ActiveFeature_; }
    std::shared_ptr<ado::Recordset> get_RelatedComponent() override { return RelatedComponent_; }
    void putref_RelatedComponent(const std::shared_ptr<ado::Recordset>& RelatedComponent) override;
    void putref_RelatedFeature(const std::shared_ptr<IKeyObject>& RelatedFeature) override;
    std::shared_ptr<IKeyObject> get_RelatedFeature() override { return RelatedFeature_; }
    void put_RelationshipType(const std::string& RelationshipType) override { RelationshipType_ = RelationshipType; }
    std::string get_RelationshipType() override { return RelationshipType_; }
    void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) override { DataContext_ = DataContext; }
    std::shared_ptr<IDataContext> get_DataContext() override { return DataContext_; }

    void Execute(rt::Variant& PriorityArray, rt::Variant& ErrArray) override;
    void Validate(rt::Variant& PriorityArray, rt::Variant& ErrArray) override;
    using IAttributeValidationService::ValidateAttributes;
    bool ValidateAttributes(bool ActiveAttrCanBeNull, rt::Variant& PriorityArray, rt::Variant& ErrArray) override;

    // The flag the Abort of the running project interface sets; the next
    // trapped error of a walk is then reported as an interruption.
    bool get_AbortRequested() const { return abort_; }

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "AttributeValidationService"; }

private:
    // The rule walk of Execute and Validate.
    void ProcessValidationRules(bool IsExecute, bool ActiveAttrCanBeNull, rt::Variant& PriorityArray,
                                rt::Variant& ErrArray);
    void WalkValidationRules(bool IsExecute, bool ActiveAttrCanBeNull, rt::Variant& PriorityArray,
                             rt::Variant& ErrArray, std::string& InterfaceInProgress);
    // One interface rule; the active and related names come from the walk.
    struct InterfaceRule;
    void RunInterfaceRule(const InterfaceRule& Rule, const RuleWalk& Walk, bool IsExecute, IInterfaceSupport& Support,
                          rt::Variant& PriorityArray, rt::Variant& ErrArray, std::string& InterfaceInProgress);

    // The candidate filter rules of ValidateAttributes.
    bool ProcessCandidateFilterRules(bool ActiveAttrCanBeNull, rt::Variant& PriorityArray, rt::Variant& ErrArray);
    void WalkCandidateFilterRules(bool ActiveAttrCanBeNull, rt::Variant& PriorityArray, rt::Variant& ErrArray,
                                  bool& Result);
    // The candidate's related value from the related feature's component
    // view; false (after a message) when the view has no such field.
    bool ReadComponentView(int32_t ActiveFNO, int32_t RelatedFNO, const std::string& RelatedField,
                           std::shared_ptr<IFeatureAssemblyService>& Assembly, rt::Variant& Value);

    // Appends one line to the apartment's log; raises when it cannot.
    void WriteLogLine(const std::string& Message);
    void m_RelAttrInterfaceEvent_Abort() { abort_ = true; }

    std::shared_ptr<IKeyObject> ActiveFeature_;
    std::shared_ptr<IKeyObject> RelatedFeature_;
    std::shared_ptr<ado::Recordset> RelatedComponent_;
    std::shared_ptr<IDataContext> DataContext_;
    std::string RelationshipType_;
    bool abort_ = false;
    AbortSubscription m_RelAttrInterfaceEvent;
};

// Registers "QzPelmora.AttributeValidationService" (also done when the
// program starts; calling it again is harmless).
void RegisterAttributeValidationService();

}  // namespace pelmora
