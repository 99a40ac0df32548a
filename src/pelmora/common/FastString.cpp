#include "pelmora/common/FastString.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>

#include "pelmora/common/modADOUtils.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr int16_t kMsgSource = 25042;
constexpr int16_t kMsgNoRoom = 25041;
constexpr size_t kGrowth = 5000;

std::string SourceText() {
    try {
        return MessageObject()->GetMessageText(kMsgSource, 0);
    } catch (...) {
        return "";
    }
}

// Runs a member's body; an error from inside is raised again with its own
// number, the list's source text and its description.
template <class F>
auto Guarded(F&& body) -> decltype(body()) {
    try {
        return body();
    } catch (const rt::ComError& e) {
        RaiseError(e.Number(), SourceText(), rt::Variant(e.Description()));
    }
}

[[noreturn]] void RaiseNotA(const char* kind, const rt::Variant& v) {
    throw rt::ComError(rt::vberr::TypeMismatch, "",
                       rt::VbErrorDescription(rt::vberr::TypeMismatch) + ": a value of type " + rt::TypeName(v) +
                           " cannot be written to a " + kind + " list");
}

// Lays out significant digits (no leading zeros) with the decimal exponent
// of the first digit, in plain or in VB's exponent form ("1.5E-07").
std::string LayOut(bool negative, std::string digits, int exp10, bool exponentForm) {
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    std::string s = negative ? "-" : "";
    if (exponentForm) {
        s += digits.substr(0, 1);
        if (digits.size() > 1) s += "." + digits.substr(1);
        std::string e = std::to_string(std::abs(exp10));
        if (e.size() < 2) e.insert(0, "0");
        return s + "E" + (exp10 < 0 ? "-" : "+") + e;
    }
    if (exp10 < 0) return s + "0." + std::string(static_cast<size_t>(-exp10 - 1), '0') + digits;
    size_t intDigits = static_cast<size_t>(exp10) + 1;
    if (digits.size() <= intDigits) return s + digits + std::string(intDigits - digits.size(), '0');
    return s + digits.substr(0, intDigits) + "." + digits.substr(intDigits);
}

// The shortest text that reads back to the same double, laid out like VB's.
template <class T>
std::string ShortestText(T value, bool exponentForm) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific);
    std::string sci(buf, res.ptr);  // d.ddde[+-]xx
    size_t e = sci.find('e');
    std::string digits = sci.substr(0, 1) + (e > 2 ? sci.substr(2, e - 2) : "");
    int exp10 = std::atoi(sci.c_str() + e + 1);
    return LayOut(std::signbit(value), digits, exp10, exponentForm);
}

// Copies a text made elsewhere to out; every number text fits the room.
char* Copied(char* out, const std::string& text) {
    if (text.size() > FastString::kNumberRoom) rt::RaiseVbError(rt::vberr::Overflow);
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

// llround of a value from 0 up to 2^53, exact and without the library call.
inline int64_t RoundHalfUp(double x) {
    const int64_t whole = static_cast<int64_t>(x);
    return whole + (x - static_cast<double>(whole) >= 0.5 ? 1 : 0);
}

char* WriteDouble(char* out, double d) {
    if (!std::isfinite(d)) rt::RaiseVbError(rt::vberr::Overflow);
    // A value whose shortest form has at most 15 digits in VB's plain range
    // is what VB prints; only the others need VB's own conversion.
    // Most values have a few decimals: n / 10^k for the smallest k that reads
    // back to d. Below 1E+11 no other text of at most four decimals reads
    // back to d, so this is the shortest form, and VB prints it as it is.
    const double a = std::fabs(d);
    if (a >= 1e-4 && a < 1e11) {
        static const double kScale[] = {1, 10, 100, 1000, 10000};
        for (int k = 0; k <= 4; ++k) {
            const int64_t n = RoundHalfUp(a * kScale[k]);
            if (static_cast<double>(n) / kScale[k] != a) continue;
            int64_t whole = n;
            int decimals = k;
            while (decimals > 0 && whole % 10 == 0) {  // trailing zeros of the decimals
                whole /= 10;
                --decimals;
            }
            if (d < 0) *out++ = '-';
            if (decimals == 0) return FastString::WriteWhole(out, whole);
            static const int64_t kPowers[] = {1, 10, 100, 1000, 10000};
            out = FastString::WriteWhole(out, whole / kPowers[decimals]);
            *out++ = '.';
            int64_t fraction = whole % kPowers[decimals];
            for (int q = decimals - 1; q >= 0; --q) {
                out[q] = static_cast<char>('0' + fraction % 10);
                fraction /= 10;
            }
            return out + decimals;
        }
    }
    if (d != 0) {
        char buf[64];
        auto res = std::to_chars(buf, buf + sizeof buf - 1, std::fabs(d), std::chars_format::scientific);
        *res.ptr = '\0';  // the exponent is read up to here
        const char* e = static_cast<const char*>(std::memchr(buf, 'e', static_cast<size_t>(res.ptr - buf)));
        int exp10 = std::atoi(e + 1);
        // The significant digits: the first, then those after the point.
        char digits[24];
        size_t count = 0;
        digits[count++] = buf[0];
        for (const char* p = buf + 2; p < e; ++p) digits[count++] = *p;
        if (count <= 15 && exp10 >= -4 && exp10 <= 14) {
            // Laid out in place, as LayOut does in its plain form.
            while (count > 1 && digits[count - 1] == '0') --count;
            if (std::signbit(d)) *out++ = '-';
            if (exp10 < 0) {
                *out++ = '0';
                *out++ = '.';
                for (int z = 0; z < -exp10 - 1; ++z) *out++ = '0';
                for (size_t k = 0; k < count; ++k) *out++ = digits[k];
            } else {
                const size_t intDigits = static_cast<size_t>(exp10) + 1;
                for (size_t k = 0; k < intDigits; ++k) *out++ = k < count ? digits[k] : '0';
                if (count > intDigits) {
                    *out++ = '.';
                    for (size_t k = intDigits; k < count; ++k) *out++ = digits[k];
                }
            }
            return out;
        }
    }
    std::string vb = rt::DoubleToVbString(d);
    if (std::strtod(vb.c_str(), nullptr) == d) return Copied(out, vb);
    return Copied(out, ShortestText(d, vb.find('E') != std::string::npos));
}

std::string SingleText(float f) {
    if (!std::isfinite(f)) rt::RaiseVbError(rt::vberr::Overflow);
    std::string vb = rt::CStr(rt::Variant(f));
    if (std::strtof(vb.c_str(), nullptr) == f) return vb;
    return ShortestText(f, vb.find('E') != std::string::npos);
}

// True when VB would print the exact text itself: at most 15 significant
// digits and a magnitude VB writes without an exponent (0.0001 up to 1E+15).
bool PrintsAsItself(const std::string& text) {
    size_t i = text[0] == '-' ? 1 : 0;
    size_t point = text.find('.');
    size_t intDigits = (point == std::string::npos ? text.size() : point) - i;
    if (intDigits > 15) return false;
    size_t significant = 0;
    bool leading = true;
    size_t zerosAfterPoint = 0;
    for (size_t k = i; k < text.size(); ++k) {
        if (text[k] == '.') continue;
        if (leading && text[k] == '0') {
            if (point != std::string::npos && k > point) ++zerosAfterPoint;
            continue;
        }
        leading = false;
        ++significant;
    }
    if (significant == 0) return true;  // zero
    if (significant > 15) return false;
    return !(text[i] == '0' && zerosAfterPoint > 3);
}

// VB's text of an exact decimal value when it is exact, else the exact text.
std::string ExactText(const rt::Decimal& exact) {
    std::string plain = exact.ToString();
    if (PrintsAsItself(plain)) return plain;
    std::string vb = rt::DoubleToVbString(exact.ToDouble());
    try {
        if (rt::Decimal::Parse(vb) == exact) return vb;
    } catch (const rt::ComError&) {
    }
    return exact.ToString();
}

}  // namespace

FastString::FastString() { Initialize(-1); }

int32_t FastString::UnitsOfNonAscii(const char* text, size_t size) { return rt::Len(std::string(text, size)); }

void FastString::Reset() {
    buffer_.clear();
    length_ = 0;
}

void FastString::Initialize(int32_t nLength) {
    Guarded([&] {
        Reset();
        if (maxLength_ == -1) maxLength_ = GetMaxListLength();
        // The room is a hint: no list grows past the maximum by itself.
        if (nLength > 0) buffer_.reserve(static_cast<size_t>(std::min(nLength, std::max(maxLength_, 0))));
    });
}

std::string FastString::NumberText(const rt::Variant& v) {
    char out[kNumberRoom];
    return std::string(out, WriteNumberText(out, v));
}

char* FastString::WriteNumberText(char* out, const rt::Variant& v) {
    switch (v.Type()) {
        case rt::vbNull: return out;
        case rt::vbEmpty: *out = '0'; return out + 1;
        case rt::vbBoolean:
            if (!v.Bool()) {
                *out = '0';
                return out + 1;
            }
            out[0] = '-';
            out[1] = '1';
            return out + 2;
        case rt::vbLong: return WriteWhole(out, v.I4());
        case rt::vbByte: case rt::vbInteger: return WriteWhole(out, rt::CLng(v));
        case rt::vbSingle: return Copied(out, SingleText(static_cast<float>(v.R8())));
        case rt::vbDouble: return WriteDouble(out, v.R8());
        case rt::vbCurrency: return Copied(out, ExactText(rt::CDec(v)));
        case rt::vbDecimal: return Copied(out, ExactText(v.Dec()));
        case rt::vbString:
            if (!rt::IsNumeric(v)) RaiseNotA("number", v);
            try {
                return Copied(out, ExactText(rt::Decimal::Parse(v.Str())));
            } catch (const rt::ComError&) {
                return WriteDouble(out, rt::CDbl(v));  // forms only VB reads (thousands separators ...)
            }
        default: RaiseNotA("number", v);
    }
}

std::string FastString::StringItem(const rt::Variant& v) {
    if (v.IsNull()) return "-1:";
    std::string text = v.IsString() ? v.Str() : rt::CStr(v);
    if (text.empty()) return "0:";
    char head[16];
    auto r = std::to_chars(head, head + sizeof head - 1, Units(text));
    *r.ptr++ = ':';
    return text.insert(0, head, static_cast<size_t>(r.ptr - head));
}

std::string FastString::DateItem(const rt::Variant& v) {
    if (v.IsNull()) return "-1:";
    double date;
    if (v.Type() == rt::vbDate)
        date = v.DateValue();
    else if (v.IsString() && rt::IsDate(v))
        date = rt::CDate(v);
    else
        RaiseNotA("date", v);
    return "19:" + rt::FormatDate(date, "MM/DD/YYYY HH:MM:SS");
}

void FastString::RaiseNoRoom() const { RaiseError(-1, SourceText(), rt::Variant(kMsgNoRoom)); }

void FastString::AppendItem(const std::string& item, int32_t itemLength) {
    if (int64_t{length_} + itemLength > std::numeric_limits<int32_t>::max()) rt::RaiseVbError(rt::vberr::Overflow);
    if (buffer_.size() + item.size() >= buffer_.capacity())
        buffer_.reserve(std::max(buffer_.capacity() * 2, buffer_.size() + std::max(kGrowth, item.size() + 1)));
    buffer_ += item;
    length_ += itemLength;
}

void FastString::AppendNumericValue(const rt::Variant& vVal) {
    Guarded([&] {
        std::string item = NumberText(vVal) + ";";
        int32_t n = static_cast<int32_t>(item.size());
        if (!Fits(n)) RaiseNoRoom();
        AppendItem(item, n);
    });
}

void FastString::AppendStringValue(const rt::Variant& vVal) {
    Guarded([&] {
        std::string item = StringItem(vVal);
        int32_t n = rt::Len(item);
        if (!Fits(n)) RaiseNoRoom();
        AppendItem(item, n);
    });
}

void FastString::AppendDateValue(const rt::Variant& vVal) {
    Guarded([&] {
        std::string item = DateItem(vVal);
        int32_t n = static_cast<int32_t>(item.size());
        if (!Fits(n)) RaiseNoRoom();
        AppendItem(item, n);
    });
}

void FastString::Append(const std::string& sVal) {
    Guarded([&] { AppendItem(sVal, Units(sVal)); });
}

bool FastString::CanAppendNumericValue(const rt::Variant& vVal) const {
    return Guarded([&] {
        bool numeric = vVal.IsNull() || vVal.IsEmpty() || vVal.IsNumericType() ||
                       (vVal.IsString() && rt::IsNumeric(vVal));
        if (!numeric) return true;  // refused by the append itself, with a clear error
        return Fits(static_cast<int64_t>(NumberText(vVal).size()) + 1);
    });
}

bool FastString::CanAppendStringValue(const rt::Variant& vVal) const {
    return Guarded([&] {
        if (vVal.IsNull()) return Fits(3);
        int64_t n = rt::Len(rt::CStr(vVal));
        return Fits(static_cast<int64_t>(std::to_string(n).size()) + n + 1);
    });
}

bool FastString::CanAppendDateValue(const rt::Variant& vVal) const {
    return Guarded([&] { return Fits(vVal.IsNull() ? 3 : 22); });
}

}  // namespace pelmora
