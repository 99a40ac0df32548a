// Requests for a pair of features: which relationship relates them, and
// deleting or establishing it through the relationship's helper.
#include "ado/Recordset.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "interfaces/Components.h"
#include "interfaces/KeyObject.h"
#include "interfaces/ValidationInterface.h"
#include "pelmora/relationships/RelationshipHelperBase.h"
#include "pelmora/relationships/RelationshipService.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr int16_t kMsgSource = 21826;
constexpr int16_t kMsgNothingToDelete = 25183;
constexpr int16_t kMsgNothingToEstablish = 21832;

std::string MessageText(int16_t id) { return MessageObject()->GetMessageText(id, 0); }

// The related feature's components, which the request updates after the
// helper: taken before the helper changes anything, so that a request that
// cannot finish changes nothing.
std::shared_ptr<IComponents> ComponentsToUpdate(const std::shared_ptr<IKeyObject>& related) {
    auto components = related->get_Components();
    if (!components) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    return components;
}

}  // namespace

int16_t RelationshipService::ChooseRelationshipNumber(const std::shared_ptr<IKeyObject>& source,
                                                      const std::shared_ptr<IKeyObject>& related,
                                                      const rt::Variant& given, int16_t descriptionMessage) {
    if (!given.IsMissing()) return rt::CInt(given);
    rt::Variant numbers = AllApplicableRelationships(rt::Variant(source->get_FNO()));
    if (!numbers.IsNull()) {
        const int16_t relatedFNO = related->get_FNO();
        const rt::SafeArray* list = numbers.Array();
        for (int32_t i = list->LBound(); i <= list->UBound(); ++i) {
            const int16_t number = rt::CInt(list->Get(i));
            if (AskHelper(GetRelationshipHelper(number),
                          [&](IRelationshipHelper& h) { return h.CanRelate(source, relatedFNO); }))
                return number;
        }
    }
    throw rt::ComError(1, MessageText(kMsgSource), MessageText(descriptionMessage));
}

void RelationshipService::DeleteRelationship(const std::shared_ptr<IKeyObject>& objSourceFeature,
                                             const std::shared_ptr<IKeyObject>& objRelatedFeature,
                                             const rt::Variant& iRelationshipNumber) {
    RequireObjects(objSourceFeature, objRelatedFeature);
    auto helper = GetRelationshipHelper(
        ChooseRelationshipNumber(objSourceFeature, objRelatedFeature, iRelationshipNumber, kMsgNothingToDelete));
    auto components = ComponentsToUpdate(objRelatedFeature);
    AskHelper(helper, [&](IRelationshipHelper& h) { h.DeleteRelationship(objSourceFeature, objRelatedFeature, 0, 0); });
    components->Update();
}

void RelationshipService::EstablishAndRunRules(const std::shared_ptr<IKeyObject>& source,
                                               const std::shared_ptr<IKeyObject>& related, const rt::Variant& given,
                                               bool updateRelated) {
    // Everything the request needs is checked before the helper writes; the
    // relationship first, as callers tell the errors apart by number.
    RequireObjects(source, related);
    auto helper = GetRelationshipHelper(ChooseRelationshipNumber(source, related, given, kMsgNothingToEstablish));
    auto& rules = AttributeValidation();
    auto components = updateRelated ? ComponentsToUpdate(related) : nullptr;
    AskHelper(helper, [&](IRelationshipHelper& h) { h.SilentEstablishRelationship(source, related, 0, 0); });
    rules.putref_RelatedFeature(source);
    rules.putref_ActiveFeature(related);
    const auto type = AskHelper(helper, [](IRelationshipHelper& h) { return h.get_RelationshipType(); });
    rules.put_RelationshipType(std::to_string(static_cast<int32_t>(type)));
    rt::Variant priorities;
    rt::Variant messages;
    rules.Execute(priorities, messages);
    if (components) components->Update();
}

void RelationshipService::SilentEstablishByFeature(const std::shared_ptr<IKeyObject>& objSourceFeature,
                                                   const std::shared_ptr<IKeyObject>& objRelatedFeature,
                                                   const rt::Variant& iRelationshipNumber) {
    EstablishAndRunRules(objSourceFeature, objRelatedFeature, iRelationshipNumber, false);
}

void RelationshipService::SilentEstablish(const std::shared_ptr<IKeyObject>& objSourceFeature,
                                          const std::shared_ptr<IKeyObject>& objRelatedFeature,
                                          const rt::Variant& iRelationshipNumber) {
    EstablishAndRunRules(objSourceFeature, objRelatedFeature, iRelationshipNumber, true);
}

bool RelationshipService::ValidateCandidate(const std::shared_ptr<IKeyObject>& objSourceFeature,
                                            const std::shared_ptr<IKeyObject>& objRelatedFeature) {
    auto& rules = AttributeValidation();
    rules.putref_ActiveFeature(objRelatedFeature);
    rules.putref_RelatedFeature(objSourceFeature);
    return rules.ValidateAttributes(true);
}

}  // namespace pelmora
