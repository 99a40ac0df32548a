#pragma once
// Pieces shared by the runtime's conversion, date and format code.
#include <optional>
#include <string>

#include "runtime/Variant.h"

namespace rt {

// A text read as VB reads a number: blanks around, a sign, digits with ","
// as thousands separator, ".", an exponent (E or D), or &H / &O integers.
struct NumberText {
    bool ok = false;
    bool overflow = false;  // well formed but beyond a double
    double value = 0;
    std::string plain;  // the same number without separators, for exact parsing
};
NumberText ParseNumberText(const std::string& s);

// A text read as a date (locale-independent; see Vb.h); nullopt when it is none.
std::optional<double> ParseDateText(const std::string& s);

// 1 January 100 and 31 December 9999, the range of an OLE Automation date.
inline constexpr double kMinOleDate = -657434.0;
inline constexpr double kMaxOleDate = 2958465.0;

std::string SingleToVbString(float f);
std::string CurrencyToString(Currency c);

}  // namespace rt
