#pragma once
// The product's message object: selects a resource module and hands out its
// message texts with the placeholders "%1".."%5" still unfilled.
#include <cstdint>
#include <string>

namespace pelmora {

// Created through rt::CreateObject; the product (or a test) registers it.
inline constexpr const char* kMessageObjectProgId = "QTX.Messages";

// The resource module every class of the system selects.
inline constexpr const char* kResourceModule = "PELMORA";

class IMessageObject {
public:
    virtual ~IMessageObject() = default;
    // The locale code of the running product ("ENU" ...).
    virtual std::string GetLocaleCode() = 0;
    virtual void SelectResourceModule(const std::string& moduleName, int32_t flags) = 0;
    // The template of a message id in the selected module ("" when it has none).
    virtual std::string GetMessageText(int32_t messageId, int32_t flags) = 0;
};

}  // namespace pelmora
