#pragma once
// Lookups on the metadata and the desktop application's connections.
#include <memory>

#include "runtime/Object.h"

namespace pelmora {

// The first connection of the collection (Count, Item by 1-based index;
// each item's Type and Status) whose Status is 1 and whose Type is exactly
// "QTX.GDatabase"; nullptr when none qualifies. Errors of a connection reach
// the caller.
std::shared_ptr<rt::Object> FindOpenDatabaseConnection(const std::shared_ptr<rt::Object>& Connections);

}  // namespace pelmora
