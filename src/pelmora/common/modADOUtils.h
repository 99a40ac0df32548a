#pragma once
// The database kind, the longest value list it takes in one parameter, and
// the read of one field of a recordset's current row.
#include <cstdint>
#include <memory>
#include <string>

#include "runtime/Variant.h"

namespace ado {
class Recordset;
}

namespace pelmora {

// The maximum length of a value list, computed once per apartment.
int32_t GetMaxListLength();
// Sets the apartment's maximum list length (above 0), so that tests and tools
// can work with short lists; value lists created afterwards take it.
void SetMaxListLength(int32_t length);
// The database kind the system works on.
std::string GetDatabaseType();

// The current row's value of the named field, as rs.Fields(column).Value
// gives it (a name the rows lack raises as Fields.Item does).
rt::Variant ValueOf(const std::shared_ptr<ado::Recordset>& rs, const std::string& column);

}  // namespace pelmora
