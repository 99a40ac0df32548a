#pragma once
// Calls into the geometry-math library: a negative HRESULT becomes a
// run-time error, as the library's callers raise it.
#include <cstdint>
#include <cstdio>
#include <string>

#include "interfaces/Corvane.h"
#include "runtime/Error.h"

namespace pelmora {

inline void CheckCorvane(int32_t hr) {
    if (hr >= 0) return;
    char text[64];
    std::snprintf(text, sizeof text, "Corvane failed (0x%08X)", static_cast<unsigned>(hr));
    throw rt::ComError(hr, "Corvane", text);
}

}  // namespace pelmora
