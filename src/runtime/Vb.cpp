// VB's conversion functions and comparison operators on variants.
#include "runtime/Vb.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>

#include "runtime/Error.h"
#include "runtime/VbInternal.h"
#include "runtime/VbText.h"

namespace rt {

namespace {

[[noreturn]] void Mismatch() { RaiseVbError(vberr::TypeMismatch); }
[[noreturn]] void Overflow() { RaiseVbError(vberr::Overflow); }

// The value a conversion works on: objects give their default member (dispatch
// id 0), Nothing raises 91; Null raises 94 (every conversion refuses it).
Variant Operand(const Variant& v) {
    if (v.IsNull()) RaiseVbError(vberr::InvalidUseOfNull);
    if (v.IsObject()) {
        Variant d = DefaultValue(v);
        if (d.IsNull()) RaiseVbError(vberr::InvalidUseOfNull);
        return d;
    }
    return v;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsDigitChar(char c) { return c >= '0' && c <= '9'; }

}  // namespace

Variant DefaultValue(const Variant& v) {
    if (!v.IsObject()) return v;
    const ObjectPtr& o = v.Obj();
    if (!o) RaiseVbError(vberr::ObjectVariableNotSet);
    Args none;
    Variant d = o->InvokeDispId(0, InvokeKind::PropertyGet, none);
    if (d.IsObject()) Mismatch();
    return d;
}

NumberText ParseNumberText(const std::string& s) {
    NumberText r;
    size_t i = 0, n = s.size();
    while (i < n && IsBlank(s[i])) ++i;
    size_t e = n;
    while (e > i && IsBlank(s[e - 1])) --e;
    if (i >= e) return r;
    // &H hexadecimal and &O (or bare &) octal: 16 bits while it fits in 4
    // hex digits, else 32 bits, as VB's literals.
    if (s[i] == '&') {
        size_t k = i + 1;
        int base = 8;
        if (k < e && (s[k] == 'H' || s[k] == 'h')) { base = 16; ++k; }
        else if (k < e && (s[k] == 'O' || s[k] == 'o')) { ++k; }
        if (k >= e) return r;
        uint64_t val = 0;
        size_t digits = 0;
        for (; k < e; ++k) {
            char c = s[k];
            int d;
            if (c >= '0' && c <= '9') d = c - '0';
            else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
            else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
            else return r;
            if (d >= base) return r;
            val = val * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
            if (val > 0xFFFFFFFFull) return r;
            ++digits;
        }
        int64_t sv;
        if (val <= 0xFFFF && (base == 16 ? digits <= 4 : val <= 0xFFFF)) sv = static_cast<int16_t>(static_cast<uint16_t>(val));
        else sv = static_cast<int32_t>(static_cast<uint32_t>(val));
        r.ok = true;
        r.value = static_cast<double>(sv);
        r.plain = std::to_string(sv);
        return r;
    }
    std::string plain;
    if (s[i] == '+' || s[i] == '-') {
        if (s[i] == '-') plain.push_back('-');
        ++i;
    }
    bool digit = false;
    for (; i < e; ++i) {
        char c = s[i];
        if (IsDigitChar(c)) {
            plain.push_back(c);
            digit = true;
        } else if (c == ',' && digit) {
            // thousands separator
        } else {
            break;
        }
    }
    if (i < e && s[i] == '.') {
        plain.push_back('.');
        ++i;
        for (; i < e && IsDigitChar(s[i]); ++i) {
            plain.push_back(s[i]);
            digit = true;
        }
    }
    if (!digit) return r;
    if (i < e && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
        plain.push_back('e');
        ++i;
        if (i < e && (s[i] == '+' || s[i] == '-')) plain.push_back(s[i++]);
        if (i >= e || !IsDigitChar(s[i])) return r;
        for (; i < e && IsDigitChar(s[i]); ++i) plain.push_back(s[i]);
    }
    if (i != e) return r;
    double v = std::strtod(plain.c_str(), nullptr);
    if (!std::isfinite(v)) {
        r.overflow = true;
        return r;
    }
    r.ok = true;
    r.value = v;
    r.plain = std::move(plain);
    return r;
}

namespace {

double NumberFromText(const std::string& s) {
    NumberText t = ParseNumberText(s);
    if (t.overflow) Overflow();
    if (!t.ok) Mismatch();
    return t.value;
}

// A number of a variant as a double (the wide common type of VB's arithmetic).
double ToDouble(const Variant& in) {
    Variant v = Operand(in);
    switch (v.Type()) {
        case vbEmpty: return 0.0;
        case vbInteger: return v.I2();
        case vbLong: return v.I4();
        case vbByte: return v.Byte();
        case vbBoolean: return v.Bool() ? -1.0 : 0.0;
        case vbSingle:
        case vbDouble: return v.R8();
        case vbCurrency: return v.Cy().ToDouble();
        case vbDecimal: return v.Dec().ToDouble();
        case vbDate: return v.DateValue();
        case vbString: return NumberFromText(v.Str());
        default: Mismatch();
    }
}

// A variant rounded half to even to a whole number in [lo, hi] (6 outside).
int64_t ToWhole(const Variant& in, int64_t lo, int64_t hi) {
    Variant v = Operand(in);
    int64_t r;
    switch (v.Type()) {
        case vbEmpty: r = 0; break;
        case vbInteger: r = v.I2(); break;
        case vbLong: r = v.I4(); break;
        case vbByte: r = v.Byte(); break;
        case vbBoolean: r = v.Bool() ? -1 : 0; break;
        case vbCurrency: r = DecimalRoundToInt64(DecimalFromCurrency(v.Cy())); break;
        case vbDecimal: r = DecimalRoundToInt64(v.Dec()); break;
        default: {
            double d = ToDouble(v);
            double rd = std::nearbyint(d);  // the default mode rounds half to even
            if (!(rd >= -9223372036854775808.0 && rd < 9223372036854775808.0)) Overflow();
            r = static_cast<int64_t>(rd);
        }
    }
    if (r < lo || r > hi) Overflow();
    return r;
}

}  // namespace

// ---------------------------------------------------------------- conversions

namespace {

// Lays out significant digits (the first not zero, the last not zero) whose
// first digit has the decimal exponent exp10, as "%.15G" does.
char* LayOutDigits(char* out, const char* digits, size_t count, int exp10) {
    if (exp10 < -4 || exp10 >= 15) {
        *out++ = digits[0];
        if (count > 1) {
            *out++ = '.';
            std::memcpy(out, digits + 1, count - 1);
            out += count - 1;
        }
        *out++ = 'E';
        *out++ = exp10 < 0 ? '-' : '+';
        const int e = std::abs(exp10);
        if (e >= 100) *out++ = static_cast<char>('0' + e / 100);
        *out++ = static_cast<char>('0' + e / 10 % 10);
        *out++ = static_cast<char>('0' + e % 10);
        return out;
    }
    if (exp10 < 0) {
        *out++ = '0';
        *out++ = '.';
        for (int z = 0; z < -exp10 - 1; ++z) *out++ = '0';
        std::memcpy(out, digits, count);
        return out + count;
    }
    const size_t intDigits = static_cast<size_t>(exp10) + 1;
    for (size_t k = 0; k < intDigits; ++k) *out++ = k < count ? digits[k] : '0';
    if (count > intDigits) {
        *out++ = '.';
        std::memcpy(out, digits + intDigits, count - intDigits);
        out += count - intDigits;
    }
    return out;
}

// The significant digits and the exponent of a text "d.ddde+xx" that
// to_chars wrote in scientific form, trailing zeros dropped.
char* WriteScientific(char* out, const char* text, const char* end) {
    const char* e = static_cast<const char*>(std::memchr(text, 'e', static_cast<size_t>(end - text)));
    int exp10 = 0;
    std::from_chars(e + (e[1] == '+' ? 2 : 1), end, exp10);
    char digits[24];
    size_t count = 0;
    digits[count++] = text[0];
    for (const char* p = text + 2; p < e; ++p) digits[count++] = *p;
    while (count > 1 && digits[count - 1] == '0') --count;
    return LayOutDigits(out, digits, count, exp10);
}

}  // namespace

char* WriteDoubleText(char* out, double d) {
    if (d == 0) {  // also -0
        *out = '0';
        return out + 1;
    }
    if (!std::isfinite(d)) {
        const std::string_view text = std::isnan(d) ? "NaN" : d > 0 ? "1.#INF" : "-1.#INF";
        std::memcpy(out, text.data(), text.size());
        return out + text.size();
    }
    if (d < 0) *out++ = '-';
    const double a = std::fabs(d);
    // Most values have a few decimals: n / 10^k for the smallest k that reads
    // back to a. n has at most 15 digits here, and a text of at most 15
    // significant digits that reads back to a double is the one the 15-digit
    // rounding gives, so it is written from n without a float conversion.
    if (a >= 1e-4 && a < 1e11) {
        static const double kScale[] = {1, 10, 100, 1000, 10000};
        static const int64_t kPowers[] = {1, 10, 100, 1000, 10000};
        for (int k = 0; k <= 4; ++k) {
            const double scaled = a * kScale[k];
            const auto whole = static_cast<int64_t>(scaled);
            const int64_t n = whole + (scaled - static_cast<double>(whole) >= 0.5 ? 1 : 0);
            if (static_cast<double>(n) / kScale[k] != a) continue;
            out = std::to_chars(out, out + 16, n / kPowers[k]).ptr;
            int64_t fraction = n % kPowers[k];
            int decimals = k;
            while (decimals > 0 && fraction % 10 == 0) {
                fraction /= 10;
                --decimals;
            }
            if (decimals == 0) return out;
            *out++ = '.';
            for (int q = decimals - 1; q >= 0; --q) {
                out[q] = static_cast<char>('0' + fraction % 10);
                fraction /= 10;
            }
            return out + decimals;
        }
    }
    // The shortest text that reads back is the 15-digit one when it has at
    // most 15 digits (not so below the normal range, where a double holds
    // fewer); otherwise the value is rounded to 15.
    char buf[40];
    if (a >= DBL_MIN) {
        auto shortest = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific);
        const char* e = static_cast<const char*>(std::memchr(buf, 'e', static_cast<size_t>(shortest.ptr - buf)));
        if (e - buf <= 16) return WriteScientific(out, buf, shortest.ptr);
    }
    auto rounded = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific, 14);
    return WriteScientific(out, buf, rounded.ptr);
}

std::string DoubleToVbString(double d) {
    char buf[kDoubleTextRoom];
    return std::string(buf, WriteDoubleText(buf, d));
}

std::string SingleToVbString(float f) {
    if (f == 0) return "0";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.7G", static_cast<double>(f));
    return buf;
}

std::string CurrencyToString(Currency c) { return DecimalFromCurrency(c).ToString(); }

namespace {
// The number VB shows for an Error variant: VB's own errors carry it in the
// low word of their HRESULT; an omitted argument shows as 448.
int32_t ErrorVariantNumber(int32_t scode) {
    if (scode == DISP_E_PARAMNOTFOUND) return vberr::NamedArgumentNotFound;
    if ((static_cast<uint32_t>(scode) & 0xFFFF0000u) == 0x800A0000u) return scode & 0xFFFF;
    return scode;
}
}  // namespace

std::string CStr(const Variant& in) {
    if (in.Type() == vbError) return "Error " + std::to_string(ErrorVariantNumber(in.ErrorCode()));
    Variant v = Operand(in);
    switch (v.Type()) {
        case vbEmpty: return std::string();
        case vbString: return v.Str();
        case vbInteger: return std::to_string(v.I2());
        case vbLong: return std::to_string(v.I4());
        case vbByte: return std::to_string(v.Byte());
        case vbBoolean: return v.Bool() ? "True" : "False";
        case vbSingle: return SingleToVbString(static_cast<float>(v.R8()));
        case vbDouble: return DoubleToVbString(v.R8());
        case vbCurrency: return CurrencyToString(v.Cy());
        case vbDecimal: return v.Dec().ToString();
        case vbDate: return FormatDate(v.DateValue(), "General Date");
        case vbError: return "Error " + std::to_string(ErrorVariantNumber(v.ErrorCode()));
        default: Mismatch();
    }
}

int16_t CInt(const Variant& v) { return static_cast<int16_t>(ToWhole(v, INT16_MIN, INT16_MAX)); }
int32_t CLng(const Variant& v) { return static_cast<int32_t>(ToWhole(v, INT32_MIN, INT32_MAX)); }
uint8_t CByte(const Variant& v) { return static_cast<uint8_t>(ToWhole(v, 0, 255)); }

double CSng(const Variant& in) {
    Variant v = Operand(in);
    if (v.Type() == vbSingle) return v.R8();
    double d = ToDouble(v);
    float f = static_cast<float>(d);
    if (std::isinf(f)) Overflow();
    return f;
}

double CDbl(const Variant& v) { return ToDouble(v); }

Currency CCur(const Variant& in) {
    Variant v = Operand(in);
    switch (v.Type()) {
        case vbCurrency: return v.Cy();
        case vbDecimal: return CurrencyFromDecimal(v.Dec());
        case vbEmpty: return Currency{0};
        case vbInteger: return Currency{int64_t{v.I2()} * 10000};
        case vbLong: return Currency{int64_t{v.I4()} * 10000};
        case vbByte: return Currency{int64_t{v.Byte()} * 10000};
        case vbBoolean: return Currency{v.Bool() ? -10000 : 0};
        case vbString: {
            NumberText t = ParseNumberText(v.Str());
            if (t.overflow) Overflow();
            if (!t.ok) Mismatch();
            return CurrencyFromDecimal(Decimal::Parse(t.plain));
        }
        default: return Currency::FromDouble(ToDouble(v));
    }
}

Decimal CDec(const Variant& in) {
    Variant v = Operand(in);
    switch (v.Type()) {
        case vbDecimal: return v.Dec();
        case vbCurrency: return DecimalFromCurrency(v.Cy());
        case vbEmpty: return Decimal{};
        case vbInteger: return Decimal::FromInt64(v.I2());
        case vbLong: return Decimal::FromInt64(v.I4());
        case vbByte: return Decimal::FromInt64(v.Byte());
        case vbBoolean: return Decimal::FromInt64(v.Bool() ? -1 : 0);
        case vbSingle: {
            // A Single carries 7 significant digits.
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.6e", v.R8());
            return Decimal::Parse(buf);
        }
        case vbString: {
            NumberText t = ParseNumberText(v.Str());
            if (t.overflow) Overflow();
            if (!t.ok) Mismatch();
            return Decimal::Parse(t.plain);
        }
        default: return Decimal::FromDouble(ToDouble(v));
    }
}

double CDate(const Variant& in) {
    Variant v = Operand(in);
    if (v.Type() == vbDate) return v.DateValue();
    if (v.IsString()) {
        auto d = ParseDateText(v.Str());
        if (!d) Mismatch();
        return *d;
    }
    double d = ToDouble(v);
    if (d < kMinOleDate || d >= kMaxOleDate + 1) Overflow();
    return d;
}

bool CBool(const Variant& in) {
    Variant v = Operand(in);
    switch (v.Type()) {
        case vbBoolean: return v.Bool();
        case vbString: {
            std::string t = Trim(v.Str());
            if (NamesEqual(t, "True")) return true;
            if (NamesEqual(t, "False")) return false;
            return NumberFromText(v.Str()) != 0;
        }
        case vbDecimal: return v.Dec().magnitude != 0;
        case vbCurrency: return v.Cy().scaled != 0;
        default: return ToDouble(v) != 0;
    }
}

Variant CVar(const Variant& v) { return v; }

double Val(const std::string& s) {
    // Blanks, tabs and line feeds are skipped anywhere; the number ends at
    // the first character that cannot continue it.
    std::string t;
    t.reserve(s.size());
    for (char c : s)
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') t.push_back(c);
    if (t.size() >= 2 && t[0] == '&') {
        size_t k = 1;
        int base = 8;
        if (t[k] == 'H' || t[k] == 'h') { base = 16; ++k; }
        else if (t[k] == 'O' || t[k] == 'o') { ++k; }
        uint64_t val = 0;
        size_t digits = 0;
        for (; k < t.size(); ++k) {
            char c = t[k];
            int d;
            if (c >= '0' && c <= '9') d = c - '0';
            else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
            else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
            else break;
            if (d >= base) break;
            val = val * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
            if (val > 0xFFFFFFFFull) RaiseVbError(vberr::Overflow);
            ++digits;
        }
        if (base == 16 ? digits <= 4 : val <= 0xFFFF) return static_cast<int16_t>(static_cast<uint16_t>(val));
        return static_cast<int32_t>(static_cast<uint32_t>(val));
    }
    std::string plain;
    size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) plain.push_back(t[i++]);
    bool digit = false;
    for (; i < t.size() && IsDigitChar(t[i]); ++i) {
        plain.push_back(t[i]);
        digit = true;
    }
    if (i < t.size() && t[i] == '.') {
        plain.push_back(t[i++]);
        for (; i < t.size() && IsDigitChar(t[i]); ++i) {
            plain.push_back(t[i]);
            digit = true;
        }
    }
    if (!digit) return 0.0;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E' || t[i] == 'd' || t[i] == 'D')) {
        size_t k = i + 1;
        std::string ex = "e";
        if (k < t.size() && (t[k] == '+' || t[k] == '-')) ex.push_back(t[k++]);
        bool ed = false;
        for (; k < t.size() && IsDigitChar(t[k]); ++k) {
            ex.push_back(t[k]);
            ed = true;
        }
        if (ed) plain += ex;
    }
    double v = std::strtod(plain.c_str(), nullptr);
    if (!std::isfinite(v)) RaiseVbError(vberr::Overflow);
    return v;
}

bool IsNumeric(const Variant& in) {
    Variant v = in;
    if (v.IsObject()) {
        if (v.IsNothing()) return false;
        try {
            v = DefaultValue(v);
        } catch (const ComError&) {
            return false;
        }
    }
    if (v.IsEmpty() || v.IsNumericType()) return true;
    if (v.IsString()) return ParseNumberText(v.Str()).ok;
    return false;
}

bool IsDate(const Variant& v) {
    if (v.Type() == vbDate) return true;
    if (v.IsString()) return ParseDateText(v.Str()).has_value();
    return false;
}

// ---------------------------------------------------------------- comparison

namespace {

bool IsExactNumber(uint16_t t) {
    return t == vbInteger || t == vbLong || t == vbByte || t == vbBoolean || t == vbCurrency || t == vbDecimal;
}

int CompareNumbers(const Variant& a, const Variant& b) {
    if (IsExactNumber(a.Type()) && IsExactNumber(b.Type())) {
        if (a.Type() != vbDecimal && a.Type() != vbCurrency && b.Type() != vbDecimal && b.Type() != vbCurrency) {
            int64_t x = ToWhole(a, INT64_MIN, INT64_MAX), y = ToWhole(b, INT64_MIN, INT64_MAX);
            return x < y ? -1 : (x > y ? 1 : 0);
        }
        return DecimalCompare(CDec(a), CDec(b));
    }
    double x = ToDouble(a), y = ToDouble(b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

bool IsNumberLike(const Variant& v) { return v.IsNumericType() || v.Type() == vbDate; }

}  // namespace

std::optional<int> VbCompare(const Variant& ain, const Variant& bin, CompareMode mode) {
    if (ain.IsNull() || bin.IsNull()) return std::nullopt;
    Variant a = ain.IsObject() ? DefaultValue(ain) : ain;
    Variant b = bin.IsObject() ? DefaultValue(bin) : bin;
    if (a.IsNull() || b.IsNull()) return std::nullopt;
    if (a.IsArray() || b.IsArray() || a.Type() == vbError || b.Type() == vbError) Mismatch();
    if (a.IsEmpty() && b.IsEmpty()) return 0;
    if (a.IsEmpty()) a = b.IsString() ? Variant(std::string()) : Variant(int16_t{0});
    if (b.IsEmpty()) b = a.IsString() ? Variant(std::string()) : Variant(int16_t{0});
    if (a.IsString() && b.IsString()) return CompareText(a.Str(), b.Str(), mode);
    if (IsNumberLike(a) && IsNumberLike(b)) return CompareNumbers(a, b);
    // A number against a text: the text must read as a number (or, against
    // a date, as a date); anything else is a type mismatch.
    bool swap = a.IsString();
    const Variant& num = swap ? b : a;
    const std::string& text = swap ? a.Str() : b.Str();
    Variant other;
    NumberText t = ParseNumberText(text);
    std::string trimmed = Trim(text);
    if (t.ok) {
        other = Variant(t.value);
    } else if (num.Type() == vbBoolean && (NamesEqual(trimmed, "True") || NamesEqual(trimmed, "False"))) {
        other = Variant(NamesEqual(trimmed, "True"));
    } else if (num.Type() == vbDate) {
        auto d = ParseDateText(text);
        if (!d) Mismatch();
        other = Variant::Date(*d);
    } else {
        Mismatch();
    }
    int c = CompareNumbers(num, other);
    return swap ? -c : c;
}

Variant StrComp(const Variant& a, const Variant& b, CompareMode mode) {
    if (a.IsNull() || b.IsNull()) return Variant::Null();
    return Variant(static_cast<int16_t>(CompareText(CStr(a), CStr(b), mode)));
}

}  // namespace rt
