#pragma once
// The features a validation run opened, as the relationship geometry host
// hands them to an interface: the run says how one of them is found (it
// knows its own collection), the host asks by a feature's key. One finder an
// apartment; a nested run's stands until it ends.
#include <functional>
#include <memory>

namespace pelmora {

class IKeyObject;

// The run's opened feature of a key, or nullptr.
using RunFeatureFinder = std::function<std::shared_ptr<IKeyObject>(const std::shared_ptr<IKeyObject>&)>;

class RunFeatureFinderScope {
public:
    explicit RunFeatureFinderScope(RunFeatureFinder Finder);
    ~RunFeatureFinderScope();
    RunFeatureFinderScope(const RunFeatureFinderScope&) = delete;
    RunFeatureFinderScope& operator=(const RunFeatureFinderScope&) = delete;

private:
    RunFeatureFinder previous_;
};

// The run's opened feature of Feature's key (a whole feature, CNO and CID 0,
// with components), or nullptr: outside a run, while the feature-assembly
// cache serves edited features, or when the run did not open that key.
std::shared_ptr<IKeyObject> RunFeatureOf(const std::shared_ptr<IKeyObject>& Feature);

}  // namespace pelmora
