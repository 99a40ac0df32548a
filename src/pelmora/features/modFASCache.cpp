#include "pelmora/features/modFASCache.h"

#include <string>
#include <vector>

#include "pelmora/common/TraceScope.h"
#include "pelmora/features/KeyObjects.h"
#include "interfaces/Components.h"
#include "interfaces/KeyObject.h"
#include "runtime/Error.h"
#include "runtime/Object.h"

namespace pelmora {

namespace {
constexpr const char* kFile = "modFASCache";

uint64_t WholeFeature(int16_t FNO, int32_t FID) {
    return (uint64_t{static_cast<uint16_t>(FNO)} << 32) | static_cast<uint32_t>(FID);
}
}  // namespace

FeatureCacheState& FeatureCache() { return rt::Apartment::Current().Get<FeatureCacheState>(); }

void SetCaching(bool Caching) {
    TraceScope trace(kFile, "Let Caching");
    auto& state = FeatureCache();
    state.caching = Caching;
    state.cachedCollections.clear();
    state.cachedComponents.clear();
    state.wholeFeatures.clear();
    if (Caching) {
        state.features = KeyObjects::New();
        state.componentCollections = rt::Collection::New();
        state.componentsList = rt::Collection::New();
    } else {
        state.features.reset();
        state.componentCollections.reset();
        state.componentsList.reset();
    }
}

bool CachingEnabled() { return FeatureCache().caching; }

void AddComponentsToCache(const std::shared_ptr<IComponents>& Components) {
    TraceScope trace(kFile, "AddComponentsToCache");
    auto& state = FeatureCache();
    if (!state.componentsList || !state.componentCollections) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    // A feature without components has nothing to cache.
    if (!Components) return;
    if (state.cachedCollections.insert(rt::ObjectPtrOf(Components).get()).second)
        state.componentsList->Add(rt::Variant(Components));

    rt::ResumeNext resume;
    std::vector<std::shared_ptr<IComponent>> members;
    resume([&] { members = Components->get_NewEnum(); });
    for (const auto& component : members) {
        resume([&] {
            const void* identity = rt::ObjectPtrOf(component).get();
            if (!identity || state.cachedComponents.count(identity)) return;
            std::string key = std::to_string(component->get_CNO());
            std::shared_ptr<rt::Collection> perCNO;
            if (auto found = state.componentCollections->TryItem(rt::Variant(key))) {
                perCNO = std::dynamic_pointer_cast<rt::Collection>(found->Obj());
            } else {
                perCNO = rt::Collection::New();
                state.componentCollections->Add(rt::Variant(perCNO), rt::Variant(key));
            }
            if (!perCNO) return;
            perCNO->Add(rt::Variant(component));
            state.cachedComponents.insert(identity);
        });
    }
}

void AddFeatureToCache(const std::shared_ptr<IKeyObject>& Feature) {
    TraceScope trace(kFile, "AddFeatureToCache");
    auto& state = FeatureCache();
    if (!state.features) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    state.features->Add(Feature);
    // Read after Add, which refuses what is no key object; the first
    // feature of a key stays, in both.
    if (Feature->get_CNO() == 0 && Feature->get_CID() == 0)
        state.wholeFeatures.emplace(WholeFeature(Feature->get_FNO(), Feature->get_FID()), Feature);
}

std::shared_ptr<IKeyObject> FindFeatureInCache(int16_t FNO, int32_t FID) {
    TraceScope trace(kFile, "FindFeatureInCache");
    auto& state = FeatureCache();
    if (!state.features) return nullptr;
    auto found = state.wholeFeatures.find(WholeFeature(FNO, FID));
    return found == state.wholeFeatures.end() ? nullptr : found->second;
}

std::shared_ptr<rt::Collection> CachedComponentsOf(int16_t CNO) {
    auto& state = FeatureCache();
    if (!state.componentCollections) return nullptr;
    auto found = state.componentCollections->TryItem(rt::Variant(std::to_string(CNO)));
    if (!found || !found->IsObject()) return nullptr;
    return std::dynamic_pointer_cast<rt::Collection>(found->Obj());
}

}  // namespace pelmora
