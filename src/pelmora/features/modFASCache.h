#pragma once
// The feature cache of the apartment: while caching is on, the features that
// feature-assembly services open or create, and their components per
// component number, are kept here so that a later open finds them, a query
// can be answered as if they were saved, and one batch saves them all.
// Shared by every service object of the apartment; never released by the
// program (turning caching off drops it unsaved).
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "runtime/Collection.h"

namespace pelmora {

class IComponents;
class IKeyObject;
class IKeyObjects;

struct FeatureCacheState {
    bool caching = false;
    // The three collections exist exactly while caching is on.
    // The cached features, keyed by their key text.
    std::shared_ptr<IKeyObjects> features;
    // The whole features among them (CNO and CID 0) by FNO and FID, as the
    // collection holds them: opening a cached feature finds it here without
    // writing its key text.
    std::unordered_map<uint64_t, std::shared_ptr<IKeyObject>> wholeFeatures;
    // Per CNO (its decimal text as key) a Collection of the cached
    // components of that number, in the order added.
    std::shared_ptr<rt::Collection> componentCollections;
    // Every cached Components collection, in the order added.
    std::shared_ptr<rt::Collection> componentsList;
    // The collections and components cached already (by identity), so that
    // a feature added twice hands its rows to the batch once.
    std::unordered_set<const void*> cachedCollections;
    std::unordered_set<const void*> cachedComponents;
};

// This apartment's cache.
FeatureCacheState& FeatureCache();

// True starts a new empty cache (emptying one that is on); False drops it
// unsaved.
void SetCaching(bool Caching);
bool CachingEnabled();

// Adds the collection to the list and each of its components under its CNO,
// each once however often it is given (nullptr: nothing). Raises 91 while
// caching is off; errors of the components are ignored.
void AddComponentsToCache(const std::shared_ptr<IComponents>& Components);
// Adds the feature unless one of its key is cached (that one stays).
// Raises 91 while caching is off.
void AddFeatureToCache(const std::shared_ptr<IKeyObject>& Feature);
// The cached feature, or nullptr (also while caching is off). Never raises.
std::shared_ptr<IKeyObject> FindFeatureInCache(int16_t FNO, int32_t FID);
// The cached components of the number (a Collection of IComponent), or
// nullptr when none is cached or caching is off.
std::shared_ptr<rt::Collection> CachedComponentsOf(int16_t CNO);

}  // namespace pelmora
