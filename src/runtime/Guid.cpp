#include "runtime/Guid.h"

#include <cstdio>

#include "runtime/Error.h"

namespace rt {

Guid CLSIDFromString(const std::string& text) {
    std::string t = text;
    if (t.size() == 38 && t.front() == '{' && t.back() == '}') t = t.substr(1, 36);
    if (t.size() != 36 || t[8] != '-' || t[13] != '-' || t[18] != '-' || t[23] != '-')
        RaiseVbError(vberr::InvalidProcedureCall, "CLSIDFromString");
    std::string hex;
    for (char c : t)
        if (c != '-') hex.push_back(c);
    Guid g;
    for (size_t i = 0; i < 16; ++i) {
        auto nibble = [&](char c) -> int {
            if (c >= '0' && c <= '9') return c - '0';
            if (c >= 'a' && c <= 'f') return c - 'a' + 10;
            if (c >= 'A' && c <= 'F') return c - 'A' + 10;
            RaiseVbError(vberr::InvalidProcedureCall, "CLSIDFromString");
        };
        g.bytes[i] = static_cast<uint8_t>(nibble(hex[2 * i]) * 16 + nibble(hex[2 * i + 1]));
    }
    return g;
}

bool IsEqualGUID(const Guid& a, const Guid& b) { return a == b; }

std::string GuidToString(const Guid& g) {
    std::string out = "{";
    char buf[3];
    for (size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        std::snprintf(buf, sizeof buf, "%02X", g.bytes[i]);
        out += buf;
    }
    return out + "}";
}

}  // namespace rt
