#pragma once
// The one rule for a name that the system or the product writes into SQL text
// unquoted (a table, a sequence, a column or a package named by the metadata
// or a caller): Oracle's unquoted identifier. A name that passes cannot end
// the name early, open a literal or a comment, or add a statement, so it may
// stand in the text as it is; anything else is refused before any SQL is built.
//
// The rule: an ASCII letter, then ASCII letters, digits, "_", "$" and "#"; at
// most kMaxSqlIdentifierLength bytes. Letters outside ASCII, which Oracle takes
// from the database character set, are refused: the metadata never holds them
// and their bytes would depend on that character set. Free functions, any
// thread.
//
// The one way a text goes into SQL or a filter text as a literal is
// QuotedLiteral.
#include <cstddef>
#include <string>
#include <string_view>

namespace rt {

// Oracle's limit on an identifier since its release 12.2 (30 before it). The
// longer limit is taken because the check guards the text, not the
// database: a name the database does not know still fails there, with its own
// error, and the derived names (a table's "_SEQ" and "_SDOGEOM") stay possible
// for every table the database can hold.
inline constexpr std::size_t kMaxSqlIdentifierLength = 128;

inline bool IsSqlIdentifierStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
inline bool IsSqlIdentifierPart(char c) {
    return IsSqlIdentifierStart(c) || (c >= '0' && c <= '9') || c == '_' || c == '$' || c == '#';
}

// One identifier: "QTX_PIPE", "A$B#1".
bool IsSqlIdentifier(std::string_view name);

// Identifiers joined by ".": an owner-qualified table ("QTX.QTX_PIPE") or a
// packaged procedure ("QTX_WORKOPERATIONS.UPDATEFEATURES"); a single
// identifier passes too. Every part follows IsSqlIdentifier, so no part may be
// empty.
bool IsQualifiedSqlName(std::string_view name);

// The text as a quoted literal of a query or filter text: in single quotes,
// with its own quotes doubled.
std::string QuotedLiteral(std::string_view text);

}  // namespace rt
