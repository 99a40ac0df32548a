#pragma once
// Registers every creatable class of the system by ProgID and class id, so
// that a process can create them with rt::CreateObject. Static libraries drop
// the self-registering initialisers of files nothing else references, so a
// process calls this once at start.
namespace pelmora {

void RegisterSystemClasses();

}  // namespace pelmora
