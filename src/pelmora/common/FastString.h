#pragma once
// A growable text buffer that writes value lists in the encoding the
// database's list decoders read:
//   number: its text and ";"       (Null: ";")
//   text:   length ":" text         (Null: "-1:", empty text: "0:")
//   date:   "19:MM/DD/YYYY HH:MM:SS" (Null: "-1:")
// Lengths count UTF-16 code units. A list never grows past the maximum list
// length of the database kind; callers ask CanAppend... before appending.
#include <cstdint>
#include <string>

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

    // The text a number item writes before its ";": integers, Currency and
    // Decimal exactly, floating-point values so that they read back to the
    // same value (in VB's own 15-digit form wherever that is exact). Null
    // gives "". A value that is not numeric raises 13.
    static std::string NumberText(const rt::Variant& vVal);
    // The item a text or a date value makes.
    static std::string StringItem(const rt::Variant& vVal);
    static std::string DateItem(const rt::Variant& vVal);

private:
    bool Fits(int64_t itemLength) const { return int64_t{length_} + itemLength <= maxLength_; }
    void AppendItem(const std::string& item, int32_t itemLength);
    [[noreturn]] void RaiseNoRoom() const;
    void Reset();

    std::string buffer_;
    int32_t length_ = 0;
    int32_t maxLength_ = -1;
};

}  // namespace pelmora
