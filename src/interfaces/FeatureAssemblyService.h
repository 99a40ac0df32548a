#pragma once
// The feature-assembly service as the product's other components see it:
// opening and creating features (IFeatureAssemblyService), the feature cache
// and the scan over cached components (IFeatureAssemblyServiceCache with its
// callback IScanComponent), and the row predicate that relationship helpers
// hand to that scan (IRecordsetEvaluator).
#include <cstdint>
#include <memory>
#include <string>

#include "runtime/Variant.h"

namespace ado {
class Recordset;
class Fields;
}  // namespace ado

namespace pelmora {

class IDataContext;
class IKeyObject;
class IKeyObjects;

inline constexpr const char* kFeatureAssemblyServiceProgId = "QzPelmora.FeatureAssemblyService";

// Which components an opened feature gets: every one, or a combination of
// the other values with Or.
enum ComponentRetrievalModeConstants : int16_t {
    qzfasAllComponents = 32767,
    qzfasAttributeComponents = 1,
    qzfasDialogTabComponents = 2,
    qzfasGeometry = 4,
};

// What feature creation leaves out (bits, combined with Or).
enum NewFeatureConstants : int32_t {
    qzfasIgnoreNone = 0,
    qzfasIgnoreRequiredRecords = 1,
    qzfasIgnoreDatabaseDefaults = 2,
    qzfasIgnoreQTXKeys = 4,
    qzfasIgnoreCache = 8,
};

class IFeatureAssemblyService {
public:
    virtual ~IFeatureAssemblyService() = default;
    // Keeps the context and, when it is not nullptr, takes fresh unfiltered
    // copies of the metadata the service reads.
    virtual void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) = 0;
    virtual std::shared_ptr<IDataContext> get_DataContext() = 0;
    // One new feature per (feature number, feature index) of the placement
    // configuration that is included in placement.
    virtual std::shared_ptr<IKeyObjects> NewPlacementConfiguration(int32_t PCNO) = 0;
    // A new feature of the number with new keys; nullptr when the number has
    // no components.
    virtual std::shared_ptr<IKeyObject> NewFeature(int16_t FNO, int32_t Options) = 0;
    // The feature with its components; nullptr when the number has none.
    virtual std::shared_ptr<IKeyObject> OpenFeature(int16_t FNO, int32_t FID) = 0;
    // Fills the Components of every key object given, over one shared
    // collection.
    virtual void OpenFeatures(const std::shared_ptr<IKeyObjects>& Features, bool DisableInterfaces) = 0;
};

inline constexpr const char* kIRecordsetEvaluatorIID = "{DC05557F-ABD5-4672-A57F-1F7C3F35AA8D}";

// The row predicate of a relationship helper: True when the current row of
// the fields it was given would have matched its own query.
class IRecordsetEvaluator {
public:
    virtual ~IRecordsetEvaluator() = default;
    virtual void putref_Fields(const std::shared_ptr<ado::Fields>& Fields) = 0;
    virtual bool Evaluate() = 0;
};

// The callback of a scan over cached components: told the fields of each
// cached recordset, then called once per row with the row's kind (0 none,
// 1 modified, 2 new, 4 deleted).
class IScanComponent {
public:
    virtual ~IScanComponent() = default;
    virtual void putref_Fields(const std::shared_ptr<ado::Fields>& Fields) = 0;
    virtual void ProcessRecord(int32_t kind) = 0;
};

// The feature cache of the apartment, shared by every service object.
class IFeatureAssemblyServiceCache {
public:
    virtual ~IFeatureAssemblyServiceCache() = default;
    // True starts a new empty cache (also when one is on); False drops it.
    virtual void put_Caching(bool Caching) = 0;
    virtual bool get_Caching() = 0;
    virtual void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) = 0;
    virtual std::shared_ptr<IDataContext> get_DataContext() = 0;
    // The rows of the query with the cached, unsaved rows of the component
    // laid over them as the evaluator decides. Parameters: a Variant holding
    // the values (turned into an array first).
    virtual std::shared_ptr<ado::Recordset> OpenSyncedRecordset(int16_t CNO,
                                                                const std::shared_ptr<IRecordsetEvaluator>& Evaluator,
                                                                const std::string& SQL,
                                                                const rt::Variant& Parameters) = 0;
    // As OpenSyncedRecordset, the parameters already a Variant array.
    virtual std::shared_ptr<ado::Recordset> OpenSyncedRecordsetArray(
        int16_t CNO, const std::shared_ptr<IRecordsetEvaluator>& Evaluator, const std::string& SQL,
        const rt::Variant& Parameters) = 0;
    // Writes every cached edit in one batch and empties the cache.
    virtual void SaveCache() = 0;
    // Walks the rows of every loaded cached component of the number.
    virtual void ScanComponent(int16_t CNO, const std::shared_ptr<IScanComponent>& Callback) = 0;
    // Caches each feature and its components (nothing while caching is off).
    virtual void AddToCache(const std::shared_ptr<IKeyObjects>& Features) = 0;
};

}  // namespace pelmora
