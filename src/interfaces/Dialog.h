#pragma once
// The product's dialog object, which shows message boxes, and the details
// interface an object offers to be shown as the box's details.
#include <cstdint>
#include <memory>
#include <string>

#include "runtime/Variant.h"

namespace pelmora {

inline constexpr const char* kDialogObjectProgId = "QTX.Dialog";

class IDialogDetails {
public:
    virtual ~IDialogDetails() = default;
    virtual std::string get_DetailsText() = 0;
};

class IDialogObject {
public:
    virtual ~IDialogObject() = default;
    virtual void put_MessageText(const std::string& text) = 0;
    virtual void putref_Details(const std::shared_ptr<IDialogDetails>& details) = 0;
    // Shows the box modally; returns the chosen button (vbOK 1, vbCancel 2 ...).
    virtual int32_t Show(const rt::Variant& title, int32_t buttons) = 0;
};

// Message box button and answer values.
namespace mb {
inline constexpr int32_t vbOKOnly = 0;
inline constexpr int32_t vbOKCancel = 1;
inline constexpr int32_t vbAbortRetryIgnore = 2;
inline constexpr int32_t vbYesNoCancel = 3;
inline constexpr int32_t vbYesNo = 4;
inline constexpr int32_t vbRetryCancel = 5;
inline constexpr int32_t vbCritical = 16;
inline constexpr int32_t vbQuestion = 32;
inline constexpr int32_t vbExclamation = 48;
inline constexpr int32_t vbInformation = 64;
inline constexpr int32_t vbDefaultButton2 = 256;
inline constexpr int32_t vbDefaultButton3 = 512;

inline constexpr int32_t vbOK = 1;
inline constexpr int32_t vbCancel = 2;
inline constexpr int32_t vbAbort = 3;
inline constexpr int32_t vbRetry = 4;
inline constexpr int32_t vbIgnore = 5;
inline constexpr int32_t vbYes = 6;
inline constexpr int32_t vbNo = 7;
}  // namespace mb

}  // namespace pelmora
