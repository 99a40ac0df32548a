#include "pelmora/findings/RunFeatures.h"

#include <utility>

#include "runtime/Object.h"

namespace pelmora {

namespace {

// The finder of the run in progress in this apartment.
struct RunFeatureFinderSlot {
    RunFeatureFinder finder;
};

RunFeatureFinder& CurrentFinder() { return rt::Apartment::Current().Get<RunFeatureFinderSlot>().finder; }

}  // namespace

RunFeatureFinderScope::RunFeatureFinderScope(RunFeatureFinder Finder)
    : previous_(std::exchange(CurrentFinder(), std::move(Finder))) {}

RunFeatureFinderScope::~RunFeatureFinderScope() { CurrentFinder() = std::move(previous_); }

std::shared_ptr<IKeyObject> RunFeatureOf(const std::shared_ptr<IKeyObject>& Feature) {
    if (!Feature) return nullptr;
    // A copy: the finder may start a nested run, which replaces the slot's.
    RunFeatureFinder finder = CurrentFinder();
    if (!finder) return nullptr;
    return finder(Feature);
}

}  // namespace pelmora
