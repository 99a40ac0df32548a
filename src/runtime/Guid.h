#pragma once
// GUIDs as COM's connection points compare them, with COM's text form
// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}". Values; free functions, any thread.
#include <array>
#include <cstdint>
#include <string>

namespace rt {

struct Guid {
    std::array<uint8_t, 16> bytes{};
    bool operator==(const Guid&) const = default;
};

// Parses "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" (braces optional); raises 5
// on any other text.
Guid CLSIDFromString(const std::string& text);
bool IsEqualGUID(const Guid& a, const Guid& b);
// The braced, upper-case text form.
std::string GuidToString(const Guid& g);

}  // namespace rt
