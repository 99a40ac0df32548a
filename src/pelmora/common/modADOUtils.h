#pragma once
// The database kind and the longest value list it takes in one parameter.
#include <cstdint>
#include <string>

namespace pelmora {

// The maximum length of a value list, computed once per apartment.
int32_t GetMaxListLength();
// The database kind the system works on.
std::string GetDatabaseType();

}  // namespace pelmora
