#pragma once
// The database kind and the longest value list it takes in one parameter.
#include <cstdint>
#include <string>

namespace pelmora {

// The maximum length of a value list, computed once per apartment.
int32_t GetMaxListLength();
// Sets the apartment's maximum list length (above 0), so that tests and tools
// can work with short lists; value lists created afterwards take it.
void SetMaxListLength(int32_t length);
// The database kind the system works on.
std::string GetDatabaseType();

}  // namespace pelmora
