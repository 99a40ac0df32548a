#pragma once
// The rule for a name the system turns into a file or folder name (a
// metadata key, a locale code): ASCII letters, digits, "_" and "-", and in a
// key also ":"; not empty, at most 128 bytes. Such a name has no separator
// and no dot, so the path made from it stays inside its folder. Free
// functions, any thread.
#include <cstddef>
#include <string_view>

namespace rt {

inline bool IsPlainFileName(std::string_view name, bool allowColon) {
    if (name.empty() || name.size() > 128) return false;
    for (char c : name) {
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                  c == '-' || (allowColon && c == ':');
        if (!ok) return false;
    }
    return true;
}

}  // namespace rt
