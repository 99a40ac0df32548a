#include "pelmora/common/FastString.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

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

// A double as VB's CStr writes it; infinities and NaN have no such text.
char* WriteDouble(char* out, double d) {
    if (!std::isfinite(d)) rt::RaiseVbError(rt::vberr::Overflow);
    return rt::WriteDoubleText(out, d);
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
        case rt::vbSingle: case rt::vbDouble: return WriteDouble(out, v.R8());
        case rt::vbCurrency: return WriteDouble(out, v.Cy().ToDouble());
        case rt::vbDecimal: return WriteDouble(out, v.Dec().ToDouble());
        default:
            // The list keeps one item per value: what is not a number is
            // written as Null rather than refused.
            if (!rt::IsNumeric(v)) return out;
            return WriteDouble(out, rt::CDbl(v));
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
