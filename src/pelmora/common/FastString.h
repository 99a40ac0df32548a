#pragma once
// A growable text buffer that writes value lists in the encoding the
// database's list decoders read:
//   number: its text and ";"       (Null or not numeric: ";")
//   text:   length ":" text         (Null: "-1:", empty text: "0:")
//   date:   "19:MM/DD/YYYY HH:MM:SS" (Null: "-1:")
// Lengths count UTF-16 code units. A list never grows past the maximum list
// length of the database kind; callers ask CanAppend... before appending.
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace pelmora {

class FastString : public rt::Object {
public:
    FastString();

    std::string get_Value() const { return buffer_; }
    int32_t get_Length() const { return length_; }
    // The capacity in characters, fixed at the first initialisation.
    int32_t get_MaxLength() const { return maxLength_; }

    // Empties the list; nLength above 0 reserves that much room. The maximum
    // length is fetched once and then kept.
    void Initialize(int32_t nLength = -1);
    void AppendNumericValue(const rt::Variant& vVal);
    void AppendStringValue(const rt::Variant& vVal);
    void AppendDateValue(const rt::Variant& vVal);
    // Appends the text as it is: no item format, no length check.
    void Append(const std::string& sVal);
    bool CanAppendNumericValue(const rt::Variant& vVal) const;
    bool CanAppendStringValue(const rt::Variant& vVal) const;
    bool CanAppendDateValue(const rt::Variant& vVal) const;

    std::string TypeName() const override { return "FastString"; }

    // The text a number item writes before its ";": whole numbers as they
    // are, any other number (or text that reads as one) converted to a
    // Double and written as VB's CStr writes it, at most 15 significant
    // digits. Null and a value that is not numeric give "".
    static std::string NumberText(const rt::Variant& vVal);
    // NumberText written at out, which has room for kNumberRoom characters;
    // answers the end. Whole numbers and doubles of a few decimals make no
    // temporary text.
    static constexpr size_t kNumberRoom = 64;
    static char* WriteNumberText(char* out, const rt::Variant& vVal);
    // A whole number written at out; answers the end.
    template <class Int>
    static char* WriteWhole(char* out, Int value);
    // A text's length in UTF-16 code units: plain ASCII, the usual case, is
    // its size.
    static int32_t Units(const char* text, size_t size);
    static int32_t Units(const std::string& s) { return Units(s.data(), s.size()); }
    // The item a text or a date value makes.
    static std::string StringItem(const rt::Variant& vVal);
    static std::string DateItem(const rt::Variant& vVal);

private:
    static int32_t UnitsOfNonAscii(const char* text, size_t size);
    bool Fits(int64_t itemLength) const { return int64_t{length_} + itemLength <= maxLength_; }
    void AppendItem(const std::string& item, int32_t itemLength);
    [[noreturn]] void RaiseNoRoom() const;
    void Reset();

    std::string buffer_;
    int32_t length_ = 0;
    int32_t maxLength_ = -1;
};

template <class Int>
inline char* FastString::WriteWhole(char* out, Int value) {
    static constexpr char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    static constexpr uint64_t kPowers[] = {1ull, 10ull, 100ull, 1000ull, 10000ull, 100000ull, 1000000ull,
                                           10000000ull, 100000000ull, 1000000000ull, 10000000000ull,
                                           100000000000ull, 1000000000000ull, 10000000000000ull,
                                           100000000000000ull, 1000000000000000ull, 10000000000000000ull,
                                           100000000000000000ull, 1000000000000000000ull,
                                           10000000000000000000ull};
    using Magnitude = std::make_unsigned_t<Int>;
    Magnitude magnitude = static_cast<Magnitude>(value);
    if (value < 0) {
        *out++ = '-';
        magnitude = static_cast<Magnitude>(0u - magnitude);
    }
    if (magnitude < 100) {  // lengths and small keys
        if (magnitude < 10) {
            *out = static_cast<char>('0' + magnitude);
            return out + 1;
        }
        out[0] = kPairs[magnitude * 2];
        out[1] = kPairs[magnitude * 2 + 1];
        return out + 2;
    }
    // The digit count from the bit width: an estimate that is one too high
    // just below a power of ten.
    const Magnitude nonZero = magnitude | 1u;
    const int estimate = (std::bit_width(nonZero) * 1233) >> 12;
    const int digits = estimate + 1 - (nonZero < kPowers[estimate] ? 1 : 0);
    char* const end = out + digits;
    char* p = end;
    while (magnitude >= 100) {
        const size_t pair = static_cast<size_t>(magnitude % 100) * 2;
        magnitude /= 100;
        *--p = kPairs[pair + 1];
        *--p = kPairs[pair];
    }
    if (magnitude >= 10) {
        *--p = kPairs[magnitude * 2 + 1];
        *--p = kPairs[magnitude * 2];
    } else {
        *--p = static_cast<char>('0' + magnitude);
    }
    return end;
}

inline int32_t FastString::Units(const char* text, size_t size) {
    // Eight bytes at a time; the last word overlaps the one before.
    uint64_t high = 0;
    if (size >= 8) {
        uint64_t word;
        for (size_t k = 0; k + 8 <= size; k += 8) {
            std::memcpy(&word, text + k, 8);
            high |= word;
        }
        std::memcpy(&word, text + size - 8, 8);
        high |= word;
    } else if (size >= 4) {
        uint32_t head, tail;
        std::memcpy(&head, text, 4);
        std::memcpy(&tail, text + size - 4, 4);
        high = head | tail;
    } else {
        for (size_t k = 0; k < size; ++k) high |= static_cast<unsigned char>(text[k]);
    }
    if (high & 0x8080808080808080ull) return UnitsOfNonAscii(text, size);
    return static_cast<int32_t>(size);
}

}  // namespace pelmora
