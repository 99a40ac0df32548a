#pragma once
// The extension objects of the sample water network: every functional
// interface, attribute edit control, validation interface and relationship
// geometry interface that the sample's metadata names, by ProgID, by a name
// with ":" or in VBA projects 1 and 7. Each does the small job its name
// says through the system's own services; none of them belongs to the
// system. The example, the benchmarks and the tests that want the sample as
// a client would meet it register them with RegisterSampleExtensions.
//
// Objects keep no state between calls beyond what their host hands them;
// the journal below is the only shared state (per process, not locked: the
// sample runs on one thread).
#include <string>
#include <vector>

#include "runtime/Variant.h"

namespace pelmora_sample {

// Registers the ProgIDs and ":" names with the current apartment's class
// registry and the product's interface support object, and loads VBA
// projects 1 and 7 into the apartment's project host. Call it after the
// product's stand-ins are registered (and again after an apartment reset);
// registering twice replaces the objects.
void RegisterSampleExtensions();
// Takes back what RegisterSampleExtensions registered and unloads projects 1
// and 7 from the current apartment (a test's TearDown).
void UnregisterSampleExtensions();

// One call of a functional interface: which interface (its ProgID, ":" name
// or "VBA project n"), what it was asked ("Execute", "Update", "Delete"),
// its functional type, the component and field it is defined on, and the
// value the system handed it as FieldValueBeforeChange: that of the field
// whose change fired it, which need not be its own field.
struct InterfaceCall {
    std::string interfaceName;
    std::string call;
    std::string functionalType;
    std::string componentName;
    std::string fieldName;
    rt::Variant valueBefore;
    // What the interface made of it ("" when it only took note).
    std::string note;
};

// Whether calls are kept for TakeInterfaceCalls: off until asked, so that
// long runs (benchmarks) do not grow the journal.
void KeepInterfaceCalls(bool keep);
// The calls kept since the last TakeInterfaceCalls, in order; taking empties it.
std::vector<InterfaceCall> TakeInterfaceCalls();

}  // namespace pelmora_sample
