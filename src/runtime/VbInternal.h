#pragma once
// Pieces shared by the runtime's conversion, date and format code.
#include <optional>
#include <string>

#include "runtime/Calendar.h"
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

using calendar::kMaxOleDate;
using calendar::kMinOleDate;

std::string SingleToVbString(float f);
std::string CurrencyToString(Currency c);

}  // namespace rt
