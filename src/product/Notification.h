#pragma once
// The notification object (ProgID "QTX.Notification"): what it is told is
// kept in the apartment's notification log and handed to the apartment's
// listeners, in order.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "interfaces/Notification.h"
#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace product {

struct NotificationRecord {
    std::shared_ptr<rt::Object> source;
    std::string eventName;
    std::vector<rt::Variant> args;  // the elements of Args, in index order
};

// Per apartment: every notification raised on this thread, and the listeners.
class NotificationLog {
public:
    using Listener = std::function<void(const NotificationRecord&)>;
    std::vector<NotificationRecord> records;
    std::vector<Listener> listeners;
    static NotificationLog& Current();
};

class Notification : public rt::Object, public pelmora::INotification {
public:
    rt::Variant RaiseNotification(const std::shared_ptr<rt::Object>& Source, const rt::Variant& EventName,
                                  const rt::Variant& Args) override;
    // Dispatch id 1 and the name "RaiseNotification", for late-bound callers.
    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    rt::Variant InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "Notification"; }
};

// Registers "QTX.ConnectionConfigurationMap" and "QTX.Notification".
void RegisterApplicationClasses();

}  // namespace product
