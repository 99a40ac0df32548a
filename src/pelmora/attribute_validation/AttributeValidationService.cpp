// The service's inputs, its three entry points and the interfaces' log.
#include "pelmora/attribute_validation/AttributeValidationService.h"


#include "ado/Recordset.h"
#include "pelmora/common/MiscEnvironment.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "interfaces/DataContext.h"
#include "interfaces/KeyObject.h"
#include "pelmora/attribute_validation/ModAttributeValidationService.h"
#include "runtime/Dispatch.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

// Whatever escapes an engine ends in one box; nothing reaches the caller.
template <class F>
bool ShowWhatEscapes(F&& engine) {
    rt::ComError failure(0, "", "");
    if (rt::CaptureError(std::forward<F>(engine), failure)) return true;
    try {
        ShowValidationMessage(rt::Variant(failure.Description()));
    } catch (...) {
        // Without a message object there is nobody to tell.
    }
    return false;
}

using rt::ObjectArgument;

}  // namespace

AttributeValidationService::AttributeValidationService() {
    InitResources(kResourceModule);
    auto& state = AttributeValidationState();
    if (state.LogPath.empty()) {
        std::string directory;
        rt::ResumeNext resume;
        resume([&] { directory = GetTempDirectory(); });
        state.LogPath = directory + "/ValidationInterfaces.log";
    }
}

AttributeValidationService::~AttributeValidationService() {
    // Never creates the slot while an apartment is being taken down.
    if (rt::Apartment::Current().Has<AttributeValidationApartment>()) AttributeValidationState().Rules.reset();
    ActiveFeature_.reset();
    RelatedFeature_.reset();
}

void AttributeValidationService::putref_ActiveFeature(const std::shared_ptr<IKeyObject>& ActiveFeature) {
    ActiveFeature_ = ActiveFeature;
}

void AttributeValidationService::putref_RelatedComponent(const std::shared_ptr<ado::Recordset>& RelatedComponent) {
    RelatedComponent_ = RelatedComponent;
    RelatedFeature_.reset();
}

void AttributeValidationService::putref_RelatedFeature(const std::shared_ptr<IKeyObject>& RelatedFeature) {
    RelatedFeature_ = RelatedFeature;
    RelatedComponent_.reset();
}

void AttributeValidationService::Execute(rt::Variant& PriorityArray, rt::Variant& ErrArray) {
    ShowWhatEscapes([&] { ProcessValidationRules(true, false, PriorityArray, ErrArray); });
}

void AttributeValidationService::Validate(rt::Variant& PriorityArray, rt::Variant& ErrArray) {
    ShowWhatEscapes([&] { ProcessValidationRules(false, false, PriorityArray, ErrArray); });
}

bool AttributeValidationService::ValidateAttributes(bool ActiveAttrCanBeNull, rt::Variant& PriorityArray,
                                                    rt::Variant& ErrArray) {
    bool result = false;
    if (!ShowWhatEscapes([&] { result = ProcessCandidateFilterRules(ActiveAttrCanBeNull, PriorityArray, ErrArray); }))
        return false;
    return result;
}

void AttributeValidationService::WriteLogLine(const std::string& Message) {
    const std::string& path = AttributeValidationState().LogPath;
    switch (AppendToLog(path, rt::CStr(rt::Variant::Date(rt::Now())) + " --- " + Message + "\r\n")) {
        case LogAppend::Written: return;
        case LogAppend::NotOpened: rt::RaiseVbError(rt::vberr::PathFileAccessError);
        case LogAppend::NotWritten: rt::RaiseVbError(rt::vberr::DiskFull);
    }
}

rt::Variant AttributeValidationService::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    using Self = AttributeValidationService;
    static const auto table =
        rt::DispatchTable<Self>().ClassModuleOf(kProjectName)
            .Set("ActiveFeature", 1,
                 [](Self& s, const rt::Variant& v) { s.putref_ActiveFeature(ObjectArgument<IKeyObject>(v)); })
            .Get("ActiveFeature", 1, [](Self& s) { return rt::Variant(s.get_ActiveFeature()); })
            .Set("RelatedComponent", 2,
                 [](Self& s, const rt::Variant& v) { s.putref_RelatedComponent(ObjectArgument<ado::Recordset>(v)); })
            .Get("RelatedComponent", 2, [](Self& s) { return rt::Variant(s.get_RelatedComponent()); })
            .Set("RelatedFeature", 3,
                 [](Self& s, const rt::Variant& v) { s.putref_RelatedFeature(ObjectArgument<IKeyObject>(v)); })
            .Get("RelatedFeature", 3, [](Self& s) { return rt::Variant(s.get_RelatedFeature()); })
            .Let("RelationshipType", 4, [](Self& s, const rt::Variant& v) { s.put_RelationshipType(rt::CStr(v)); })
            .Get("RelationshipType", 4, [](Self& s) { return rt::Variant(s.get_RelationshipType()); })
            .Set("DataContext", 5,
                 [](Self& s, const rt::Variant& v) { s.putref_DataContext(ObjectArgument<IDataContext>(v)); })
            .Get("DataContext", 5, [](Self& s) { return rt::Variant(s.get_DataContext()); })
            .Method("Execute", 6, 2, 2,
                    [](Self& s, rt::Args& a) {
                        s.Execute(a[0], a[1]);
                        return rt::Variant();
                    })
            .Method("Validate", 7, 2, 2,
                    [](Self& s, rt::Args& a) {
                        s.Validate(a[0], a[1]);
                        return rt::Variant();
                    })
            .Method("ValidateAttributes", 8, 1, 3, [](Self& s, rt::Args& a) {
                return rt::Variant(s.ValidateAttributes(rt::CBool(a[0]), a[1], a[2]));
            });
    return table.Invoke(*this, name, kind, args);
}

void RegisterAttributeValidationService() {
    rt::RegisterClass(kAttributeValidationServiceProgId, kAttributeValidationServiceClsid,
                      [] { return std::make_shared<AttributeValidationService>(); });
}

}  // namespace pelmora
