#include "pelmora/extensions/RGIVBABridge.h"

#include "ado/Recordset.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/findings/RunFeatures.h"
#include "interfaces/DataContext.h"
#include "interfaces/KeyObject.h"
#include "interfaces/MetadataService.h"
#include "interfaces/Relationship.h"
#include "interfaces/Windows.h"
#include "runtime/Collection.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr const char* kRelationshipsTable = "QTX_RELATIONSHIPS_OPTABLE";

std::shared_ptr<QzKeyObject> AsQzKeyObject(const std::shared_ptr<IKeyObject>& feature) {
    if (!feature) return nullptr;
    return rt::QueryInterface<QzKeyObject>(feature);
}

// A related feature as the hosted RGI gets it: during a validation run, the
// run's own opened feature of that key.
std::shared_ptr<QzKeyObject> Related(const std::shared_ptr<rt::Object>& item) {
    auto qz = rt::QueryInterface<QzKeyObject>(item);
    if (auto opened = RunFeatureOf(rt::TryQueryInterface<IKeyObject>(item))) return AsQzKeyObject(opened);
    return qz;
}

// The features of a review as a new KeyObjects, in order, each once. A
// review without a collection (Nothing) relates nothing.
std::shared_ptr<QzKeyObjects> RelatedKeyObjects(const rt::Variant& review) {
    auto related = rt::QueryInterface<QzKeyObjects>(rt::CreateObject(kKeyObjectsProgId));
    if (!review.IsObject()) rt::RaiseVbError(rt::vberr::TypeMismatch);
    if (review.IsNothing()) return related;
    auto qz = related;
    if (auto list = std::dynamic_pointer_cast<rt::Collection>(review.Obj())) {
        for (int32_t i = 1; i <= list->Count(); ++i) {
            rt::Variant item = list->Item(rt::Variant(i));
            if (!item.IsObject()) rt::RaiseVbError(rt::vberr::TypeMismatch);
            qz->Add(Related(item.Obj()));
        }
        return related;
    }
    auto keys = rt::QueryInterface<IKeyObjects>(review.Obj());
    for (const auto& item : keys->get_NewEnum()) qz->Add(Related(rt::ObjectPtrOf(item)));
    return related;
}

}  // namespace

void RGIVBABridge::InitializeBridge(int32_t PrjNo, const rt::Variant& ArgGroupNo,
                                    const std::shared_ptr<IRelationshipHelper>& Helper, const std::string& Name) {
    Guard([&] {
        m_bVBAObjectUnloaded = false;
        m_oHosted.Bind(PrjNo, Name, [this] { OnAbort(); });
        HandOver(Helper, ArgGroupNo);
    });
}

void RGIVBABridge::HandOver(const std::shared_ptr<IRelationshipHelper>& Helper, const rt::Variant& ArgGroupNo) {
    if (!Helper) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto dataContext = Helper->get_DataContext();
    const rt::Variant arguments = GetRelationIfaceArguments(dataContext, ArgGroupNo);
    auto feature = AsQzKeyObject(Helper->get_Feature());
    if (NameMode()) {
        auto named = Named();
        named->putref_DataContext(Support().ConvertDataContext(dataContext));
        named->putref_Feature(Support().ConvertKeyObject(feature));
        named->putref_ArgumentArray(Support().ConvertArgumentArray(CopyArgumentArray(arguments)));
    } else {
        auto project = Project();
        project->putref_DataContext(dataContext);
        project->putref_Feature(feature);
        project->put_ArgumentArray(arguments);
    }

    if (!dataContext) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto metadata = dataContext->GetMetadataService();
    if (!metadata) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    m_rsRelationship = metadata->get_Recordsets()
                           ->get_Item(rt::Variant(kRelationshipsTable))
                           ->get_Recordset("QTX_USERNAME = " + QuotedLiteral(Helper->get_Name()), "");
    if (!m_rsRelationship || (m_rsRelationship->get_BOF() && m_rsRelationship->get_EOF())) return;

    const int16_t number = rt::CInt(m_rsRelationship->GetValue(rt::Variant("QTX_RNO")));
    if (NameMode()) Named()->put_RelationshipNumber(number);
    else Project()->put_RelationshipNumber(number);

    auto qzRelated = RelatedKeyObjects(Helper->ReviewRelationship(Helper->get_Feature()));
    if (NameMode()) {
        auto named = Named();
        named->putref_RelatedFeatures(Support().ConvertKeyObjects(qzRelated));
    } else {
        Project()->putref_RelatedFeatures(qzRelated);
    }
}

void RGIVBABridge::OnAbort() {
    m_bVBAObjectUnloaded = true;
    m_oHosted.DropProject();
}

// No handler on these: the hosted RGI's failure (or 91 when there is no
// project-hosted RGI) reaches the caller as it is.
void RGIVBABridge::put_ProcessingMode(int32_t ProcessingMode) { Project()->put_ProcessingMode(ProcessingMode); }
int32_t RGIVBABridge::get_ProcessingMode() { return Project()->get_ProcessingMode(); }
int16_t RGIVBABridge::get_RelatedFNO() { return Project()->get_RelatedFNO(); }
void RGIVBABridge::put_RelatedFNO(int16_t RelatedFNO) { Project()->put_RelatedFNO(RelatedFNO); }
int16_t RGIVBABridge::get_RelatedCNO() { return Project()->get_RelatedCNO(); }
void RGIVBABridge::put_RelatedCNO(int16_t RelatedCNO) { Project()->put_RelatedCNO(RelatedCNO); }

void RGIVBABridge::InitializeHosted() {
    if (NameMode()) Named()->Initialize();
    else Project()->Initialize();
}

void RGIVBABridge::Initialize(const std::shared_ptr<IRelationshipHelper>&) {
    Guard([&] { InitializeHosted(); });
}

void RGIVBABridge::Validate(const std::shared_ptr<IRelationshipHelper>&, rt::Variant& PriorityArray,
                            rt::Variant& ErrArray) {
    Guard([&] {
        InitializeHosted();
        if (!NameMode()) {
            Project()->Validate(PriorityArray, ErrArray);
            return;
        }
        rt::Variant priorities = rt::Variant::UnallocatedArray(rt::vbString);
        rt::Variant messages = rt::Variant::UnallocatedArray(rt::vbString);
        Named()->Validate(priorities, messages);
        if (IsArrayDimensioned(priorities)) PriorityArray = priorities;
        if (IsArrayDimensioned(messages)) ErrArray = messages;
    });
}

void RGIVBABridge::NotSupported() {
    try {
        win::MsgBox(kRGICallNotSupportedText, 0, "");
    } catch (...) {
        // A box that cannot be shown tells nobody anything; the call still
        // answers as unsupported.
    }
}

}  // namespace pelmora
