#pragma once
// Small pieces the files of the ownership helper share: its message ids and
// how it reads rule-table values. Inside the relationships folder only.
#include <cstdint>
#include <string>

#include "runtime/Variant.h"

namespace pelmora::ownership {

inline constexpr int16_t kSourceMessage = 21826;
inline constexpr int16_t kSeveralOwnerClassesMessage = 22207;
inline constexpr int16_t kMissingComponentMessage = 22208;

// The value is a number equal to n (Null and Empty equal nothing).
bool Holds(const rt::Variant& value, int32_t n);
// VB's a = b on two values: Null on either side is no match.
bool SameValue(const rt::Variant& a, const rt::Variant& b);
// The text of a name column; "" for Null or Empty.
std::string TextOrEmpty(const rt::Variant& value);
// A table or column name the metadata gives for SQL text: a plain
// identifier, else error 1 naming the column it came from. Null raises too.
std::string PlainName(const rt::Variant& value, const char* column);
// The same for an optional column: "" for Null or Empty.
std::string OptionalPlainName(const rt::Variant& value, const char* column);

}  // namespace pelmora::ownership
