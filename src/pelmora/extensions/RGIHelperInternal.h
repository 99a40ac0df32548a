#pragma once
// Inside RGIHelper only: the handler its public members share and the
// entries a Validate call collects.
#include <string>
#include <vector>

#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/extensions/ExtensionBinding.h"
#include "runtime/Error.h"
#include "runtime/Variant.h"

namespace pelmora {

inline constexpr const char* kRGIHelperSource = "RelationshipGeometry";

// Runs a member's body: an interruption (kErrorBase + 14119) returns
// normally, any other failure is raised again with the host's source and the
// failure's description.
template <class F>
void RunHandled(F&& body) {
    rt::ComError failure(0, "", "");
    if (rt::CaptureError(std::forward<F>(body), failure)) return;
    if (failure.Number() == kErrorBase + kUserInterruptedError) return;
    RaiseError(failure.Number(), kRGIHelperSource, rt::Variant(failure.Description()));
}

// The entries of one Validate call, kept apart from the caller's arrays
// until the call ends so that appending costs no re-dimensioning.
struct RGIFindings {
    std::vector<rt::Variant> priorities, messages;

    void Add(rt::Variant priority, rt::Variant message) {
        priorities.push_back(std::move(priority));
        messages.push_back(std::move(message));
    }
    // Variant arrays from 0 with the entries; one Empty element when none.
    void WriteTo(rt::Variant& PriorityArray, rt::Variant& ErrArray) const {
        if (priorities.empty()) {
            PriorityArray = rt::Variant::MakeArray(rt::vbVariant, 0, 0);
            ErrArray = rt::Variant::MakeArray(rt::vbVariant, 0, 0);
            return;
        }
        PriorityArray = rt::Variant::ArrayOf(priorities, 0);
        ErrArray = rt::Variant::ArrayOf(messages, 0);
    }
};

}  // namespace pelmora
