// Requests for a pair of features: which relationship relates them, and
// deleting or establishing it through the relationship's helper.
#include "ado/Recordset.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/interfaces/Components.h"
#include "pelmora/interfaces/KeyObject.h"
#include "pelmora/relationships/RelationshipService.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr int16_t kMsgSource = 21826;
constexpr int16_t kMsgNothingToDelete = 25183;

std::string MessageText(int16_t id) { return MessageObject()->GetMessageText(id, 0); }

// The two features must be there, and the related feature's components,
// which the request updates after the helper: checked before the helper
// changes anything, so that a request that cannot finish changes nothing.
std::shared_ptr<IComponents> ComponentsToUpdate(const std::shared_ptr<IKeyObject>& source,
                                                const std::shared_ptr<IKeyObject>& related) {
    if (!source || !related) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
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
            if (GetRelationshipHelper(number)->CanRelate(source, relatedFNO)) return number;
        }
    }
    throw rt::ComError(1, MessageText(kMsgSource), MessageText(descriptionMessage));
}

void RelationshipService::DeleteRelationship(const std::shared_ptr<IKeyObject>& objSourceFeature,
                                             const std::shared_ptr<IKeyObject>& objRelatedFeature,
                                             const rt::Variant& iRelationshipNumber) {
    auto components = ComponentsToUpdate(objSourceFeature, objRelatedFeature);
    const int16_t number =
        ChooseRelationshipNumber(objSourceFeature, objRelatedFeature, iRelationshipNumber, kMsgNothingToDelete);
    GetRelationshipHelper(number)->DeleteRelationship(objSourceFeature, objRelatedFeature, 0, 0);
    components->Update();
}

}  // namespace pelmora
