#include "product/Notification.h"

#include "product/ConfigurationMap.h"
#include "product/framework/FrameworkClasses.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace product {

NotificationLog& NotificationLog::Current() { return rt::Apartment::Current().Get<NotificationLog>(); }

rt::Variant Notification::RaiseNotification(const std::shared_ptr<rt::Object>& Source, const rt::Variant& EventName,
                                            const rt::Variant& Args) {
    // Args() As Variant: anything but an array is a type mismatch.
    if (!Args.IsArray()) rt::RaiseVbError(rt::vberr::TypeMismatch, "Notification.RaiseNotification");
    NotificationRecord record;
    record.source = Source;
    record.eventName = rt::CStr(EventName);
    if (const rt::SafeArray* a = Args.Array()) record.args = a->Data();
    auto& log = NotificationLog::Current();
    log.records.push_back(record);
    // A listener may add listeners; call the ones present now.
    auto listeners = log.listeners;
    for (auto& l : listeners) l(record);
    return rt::Variant();
}

rt::Variant Notification::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    if (rt::NamesEqual(name, "RaiseNotification")) return InvokeDispId(1, kind, args);
    rt::RaiseVbError(rt::vberr::ObjectDoesNotSupportMember);
}

rt::Variant Notification::InvokeDispId(int32_t dispId, rt::InvokeKind /*kind*/, rt::Args& args) {
    if (dispId != 1) rt::RaiseVbError(rt::vberr::ObjectDoesNotSupportMember);
    if (args.size() < 3) rt::RaiseVbError(rt::vberr::ArgumentNotOptional);
    std::shared_ptr<rt::Object> source;
    if (args[0].IsObject()) source = args[0].Obj();
    else if (!args[0].IsEmpty()) rt::RaiseVbError(rt::vberr::TypeMismatch);
    return RaiseNotification(source, args[1], args[2]);
}

void RegisterApplicationClasses() {
    rt::RegisterClass(kConfigurationMapProgId, "{3F6B2D41-8C1E-4A7B-9E52-0D4C6A1B7E30}",
                      [] { return std::make_shared<ConnectionConfigurationMap>(); });
    rt::RegisterClass(pelmora::kNotificationProgId, "{9A1C4E72-5B3D-4F86-A0E9-2C7D5B8F1E64}",
                      [] { return std::make_shared<Notification>(); });
    RegisterFrameworkClasses();
}

}  // namespace product
