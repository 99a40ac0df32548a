#include "pelmora/dimensioning_stationing/DimensioningStationingClasses.h"

#include <memory>

#include "pelmora/dimensioning_stationing/Dimensioning.h"
#include "pelmora/dimensioning_stationing/Stationing.h"
#include "pelmora/relationships/RelationshipHelperFactory.h"

namespace pelmora {

void RegisterDimensioningStationingClasses() {
    JoinSystemRelationshipHelperClass(qzrelDimensioning, [] { return std::make_shared<Dimensioning>(); });
    JoinSystemRelationshipHelperClass(qzrelStationing, [] { return std::make_shared<Stationing>(); });
}

namespace {
// At load, as the relationship service registers itself: a program linked
// with the registration finds both classes before it registers anything.
[[maybe_unused]] const bool kJoined = [] {
    RegisterDimensioningStationingClasses();
    return true;
}();
}  // namespace

}  // namespace pelmora
