#pragma once
// The product's notification object: told, after the metadata service has
// re-read a table, which table and for which user. One per apartment,
// created by ProgID on first use.
#include <memory>

#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace pelmora {

inline constexpr const char* kNotificationProgId = "QTX.Notification";

class INotification {
public:
    virtual ~INotification() = default;
    // Source: the object the notification is about (the metadata service's
    // connection point); EventName: "AfterRefresh"; Args: a Variant array.
    virtual rt::Variant RaiseNotification(const std::shared_ptr<rt::Object>& Source, const rt::Variant& EventName,
                                          const rt::Variant& Args) = 0;
};

}  // namespace pelmora
