#pragma once
// The stored form of interface argument lists (QTX_INTERFACEARGUMENT):
// ConvertBlobToArray reads it (bound as varsk1::ConvertBlobToArray),
// ConvertArrayToBlob writes it. The format is described in docs/EXTENSIONS.md.
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/Variant.h"

namespace product {

// The first bytes of every argument blob, and the version written.
inline constexpr char kArgumentBlobMagic[4] = {'Q', 'X', 'I', 'A'};
inline constexpr uint8_t kArgumentBlobVersion = 1;

// A one-dimensional array (any lower bound) as a blob: a Byte array, lower
// bound 0. Elements may be Empty, Null, numbers, dates, Booleans, texts and
// Decimals; an object, an array or an error value raises 13. Empty and
// Null give Null (no blob).
rt::Variant ConvertArrayToBlob(const rt::Variant& Arguments);

// The sibling library's reader of a blob (see varsk1::ConvertBlobToArray).
void ConvertBlobToArray(const rt::Variant& Blob, rt::Variant& Result);

// The blob's bytes as upper-case hexadecimal, as an SQL literal X'..' takes them.
std::string BlobToHex(const rt::Variant& Blob);

}  // namespace product
