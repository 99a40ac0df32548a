#include "pelmora/common/modRelationshipService.h"

namespace pelmora {

void DebugTrace(const std::string& /*tag*/, const std::string& /*procedure*/, const std::string& /*message*/) {}

}  // namespace pelmora
