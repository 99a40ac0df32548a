#include "runtime/SqlName.h"

namespace rt {

bool IsSqlIdentifier(std::string_view name) {
    if (name.empty() || name.size() > kMaxSqlIdentifierLength || !IsSqlIdentifierStart(name[0])) return false;
    for (char c : name)
        if (!IsSqlIdentifierPart(c)) return false;
    return true;
}

bool IsQualifiedSqlName(std::string_view name) {
    for (;;) {
        const std::size_t dot = name.find('.');
        if (!IsSqlIdentifier(name.substr(0, dot))) return false;
        if (dot == std::string_view::npos) return true;
        name.remove_prefix(dot + 1);
    }
}

std::string QuotedLiteral(std::string_view text) {
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += '\'';
    for (char c : text) {
        if (c == '\'') quoted += '\'';
        quoted += c;
    }
    quoted += '\'';
    return quoted;
}

}  // namespace rt
