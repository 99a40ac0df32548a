#include "pelmora/findings/RunFeatures.h"

#include <utility>

namespace pelmora {

namespace {

thread_local RunFeatureFinder tRunFeatureFinder;

}  // namespace

RunFeatureFinderScope::RunFeatureFinderScope(RunFeatureFinder Finder)
    : previous_(std::exchange(tRunFeatureFinder, std::move(Finder))) {}

RunFeatureFinderScope::~RunFeatureFinderScope() { tRunFeatureFinder = std::move(previous_); }

std::shared_ptr<IKeyObject> RunFeatureOf(const std::shared_ptr<IKeyObject>& Feature) {
    if (!tRunFeatureFinder || !Feature) return nullptr;
    return tRunFeatureFinder(Feature);
}

}  // namespace pelmora
