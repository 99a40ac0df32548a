#pragma once
// The names the connectivity helpers take from metadata and write into query
// texts (node and end columns, support tables). Only plain identifiers pass
// (rt::IsSqlIdentifier): anything else is refused before a text is built, so
// metadata can never add to a query; the values themselves are always bound.
#include <string>

namespace pelmora {

// The name unchanged; error 5 with the given source and a description naming
// what the name is for, when it is no plain identifier (empty included).
std::string PlainColumnName(const std::string& name, const std::string& source, const std::string& what);
// The same for a table, which may be owner-qualified ("OWNER.TABLE").
std::string PlainTableName(const std::string& name, const std::string& source);

}  // namespace pelmora
