#pragma once
// Functions of the sibling support library; the product provides them.
#include <cstdint>
#include <string>

#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace varsk1 {

// Fills "%1".."%5" of the template with p1..p5 and writes the result into
// buffer (which holds bufferLength bytes of UTF-8); returns the length
// written, 0 when nothing could be produced. A longer result is cut to the
// buffer at a character boundary.
int32_t LoadResStringWith5Parameters(const std::string& templ, std::string& buffer, int32_t bufferLength,
                                     const std::string& p1, const std::string& p2, const std::string& p3,
                                     const std::string& p4, const std::string& p5);

// The desktop GIS application object, or nullptr when the process runs
// outside it.
std::shared_ptr<rt::Object> GetYvApplicationDispatch();

// Turns a stored interface-argument blob (a Byte array, as a BLOB column
// reads) into the argument list it holds: a Variant array with the bounds
// stored in it, or Empty for Null, Empty, an empty blob or no arguments.
// A damaged or foreign blob raises. The format is in docs/EXTENSIONS.md.
void ConvertBlobToArray(const rt::Variant& Blob, rt::Variant& Result);

}  // namespace varsk1
