#pragma once
// Shared routines of the relationship module that other subsystems use.
#include <memory>
#include <string>

#include "runtime/Variant.h"

namespace ado {
class Recordset;
}

namespace pelmora {

// From the recordset's current row to EOF, the field's values as 16-bit
// integers, each run of equal consecutive values once (leading zeros are
// skipped); a 1-based Integer array, or Null when nothing was collected.
// The recordset is left at EOF.
rt::Variant GetDistinctIntegerValues(const std::shared_ptr<ado::Recordset>& recordset, const std::string& fieldName);

// A development trace that records nothing.
void DebugTrace(const std::string& tag, const std::string& procedure, const std::string& message);

}  // namespace pelmora
