#include "support/RGITestObjects.h"

#include <algorithm>

#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/features/KeyObject.h"
#include "interfaces/MetadataRecordsetFilterService.h"
#include "interfaces/Relationship.h"
#include "runtime/Collection.h"

namespace pelmora_test {

int ScriptedRGI::Count(const std::string& member) const {
    return static_cast<int>(std::count(calls.begin(), calls.end(), member));
}

void ScriptedRGI::Run(rt::Variant& priorities, rt::Variant& messages, pelmora::AbortEventSource* events,
                      rt::VarType elementType) {
    ++validated;
    switch (script) {
        case RGIScript::WriteNothing: return;
        case RGIScript::Raise: throw rt::ComError(rt::vberr::InvalidProcedureCall, "ScriptedRGI", "The check failed.");
        case RGIScript::Abort:
            if (events) {
                events->RaiseAbort();
                throw rt::ComError(rt::vberr::ObjectVariableNotSet, "Project", "The project was unloaded.");
            }
            throw rt::ComError(pelmora::kErrorBase + 14119, "ScriptedRGI", "Interrupted.");
        case RGIScript::Raw:
            priorities = rawPriorities;
            messages = rawMessages;
            return;
        case RGIScript::Report: break;
    }
    const auto n = static_cast<int32_t>(findings.size());
    priorities = rt::Variant::MakeArray(elementType, 0, n - 1);
    messages = rt::Variant::MakeArray(elementType, 0, n - 1);
    for (int32_t i = 0; i < n; ++i) {
        priorities.ArrayMut()->Set(i, rt::Variant(findings[i].first));
        messages.ArrayMut()->Set(i, rt::Variant(findings[i].second));
    }
}

void ProgIdRGI::Validate(const std::shared_ptr<pelmora::IRelationshipHelper>& helper, rt::Variant& priorities,
                         rt::Variant& messages) {
    calls.push_back("Validate");
    auto feature = helper ? helper->get_Feature() : nullptr;
    cnoDuringValidate.push_back(feature ? feature->get_CNO() : int16_t{-1});
    Run(priorities, messages, nullptr, rt::vbVariant);
}

void ProjectRGI::Initialize() {
    ++initialized;
    if (abortOnInitialize) {
        RaiseAbort();
        throw rt::ComError(rt::vberr::ObjectVariableNotSet, "Project", "The project was unloaded.");
    }
}

void ProjectRGI::Validate(rt::Variant& priorities, rt::Variant& messages) {
    cnoDuringValidate.push_back(feature ? feature->get_CNO() : int16_t{-1});
    Run(priorities, messages, this, rt::vbVariant);
}

void NamedRGI::Validate(rt::Variant& priorities, rt::Variant& messages) {
    Run(priorities, messages, nullptr, rt::vbString);
}

std::shared_ptr<RGIHostingHelper> RGIHostingHelper::New(const std::shared_ptr<pelmora::IDataContext>& dataContext,
                                                        int16_t relationshipNumber) {
    auto helper = std::make_shared<RGIHostingHelper>();
    helper->putref_DataContext(dataContext);
    helper->putref_MDRSFilterService(rt::CreateObject(pelmora::kMetadataRecordsetFilterServiceProgId));
    helper->put_RelationshipNumber(relationshipNumber);
    return helper;
}

void RGIHostingHelper::put_RelationshipNumber(int16_t RelationshipNumber) {
    RelationshipHelperBase::put_RelationshipNumber(RelationshipNumber);
    host_ = std::make_shared<pelmora::RGIHelper>();
}

rt::Variant RGIHostingHelper::ReviewRelationship(const std::shared_ptr<pelmora::IKeyObject>&) {
    ++reviews;
    if (reviewReturnsNothing) return rt::Variant::Nothing();
    auto list = rt::Collection::New();
    for (const auto& feature : related) list->Add(rt::Variant(rt::ObjectPtrOf(feature)));
    return rt::Variant(std::static_pointer_cast<rt::Object>(list));
}

void RGIHostingHelper::ValidateGeometry(const std::shared_ptr<pelmora::IKeyObject>& feature, rt::Variant& priorities,
                                        rt::Variant& messages) {
    putref_Feature(feature);
    auto self = std::dynamic_pointer_cast<pelmora::IRelationshipHelper>(shared_from_this());
    host_->Initialize(self);
    host_->Validate(self, priorities, messages);
}

std::shared_ptr<pelmora::IKeyObject> SampleFeature(int16_t fno, int32_t fid, int16_t cno) {
    auto key = std::make_shared<pelmora::KeyObject>();
    key->put_FNO(fno);
    key->put_FID(fid);
    key->put_CNO(cno);
    return key;
}

}  // namespace pelmora_test
