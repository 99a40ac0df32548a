#pragma once
// Functions of the sibling support library. The product implements them and
// binds them at start (product::RegisterProductStandIns), as a process binds
// a library's exported functions when it loads it; a test may bind its own.
// The system calls the free functions below, which forward to what is bound:
// so the system needs no link to the product. A function called while
// nothing is bound raises 453, VB's error for a library function it cannot
// find. Binding is process-wide and may happen on any thread.
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

// The library's exports; a null entry stays unbound.
struct Exports {
    decltype(&LoadResStringWith5Parameters) loadResStringWith5Parameters = nullptr;
    decltype(&GetYvApplicationDispatch) getYvApplicationDispatch = nullptr;
    decltype(&ConvertBlobToArray) convertBlobToArray = nullptr;
};
// Binds every entry of exports (replacing what was bound).
void BindExports(const Exports& exports);

}  // namespace varsk1
