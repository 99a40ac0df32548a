#pragma once
// The dimensioning and stationing helpers join the relationship service's
// helper classes at start, so that the factory below them names neither.

namespace pelmora {

// Joins Dimensioning (QTX_TYPE 6) and Stationing (QTX_TYPE 7) to the
// system's relationship helper classes.
void RegisterDimensioningStationingClasses();

}  // namespace pelmora
