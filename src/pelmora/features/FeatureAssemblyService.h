#pragma once
// The service through which callers get at features: given a data context it
// opens a feature as a KeyObject whose Components hold one Component per
// component the retrieval mode keeps, opens several features over one shared
// collection, assembles the per-feature view of a feature out of a loaded
// collection, and saves the pending edits of features in one batch.
//
// The service keeps its own copies of three metadata tables. Two of them
// (the dialog-tab lookup and the feature's components) are narrowed to one
// feature number; the service remembers which number that is, so that a
// number set again after another feature was opened or created, or after a
// new data context, narrows them again instead of reading another feature's
// rows.
//
// The service holds no features: opened features belong to the caller (and
// to the apartment's feature cache while caching is on).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "interfaces/FeatureAssemblyService.h"
#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace ado {
class Recordset;
class Fields;
class Field;
}  // namespace ado

namespace pelmora {

class IComponents;
class Components;
class IMetadataRecordsetFilterService;

class FeatureAssemblyService : public rt::Object,
                               public IFeatureAssemblyService,
                               public IFeatureAssemblyServiceCache,
                               public IScanComponent {
public:
    FeatureAssemblyService();
    ~FeatureAssemblyService() override;
    FeatureAssemblyService(const FeatureAssemblyService&) = delete;
    FeatureAssemblyService& operator=(const FeatureAssemblyService&) = delete;

    // ---- the service's own members ----
    void put_ComponentRetrievalMode(int16_t Mode) { retrievalMode_ = Mode; }
    int16_t get_ComponentRetrievalMode() const { return static_cast<int16_t>(retrievalMode_); }
    // The read-only view of the current feature over components already held
    // by the collection: a Variant holding a KeyObject whose Components is a
    // ComponentsClone, or Nothing when the feature number has no components.
    rt::Variant AssembleFeature(const std::shared_ptr<IComponents>& oComponents);
    std::shared_ptr<IKeyObjects> NewConfiguration(int32_t PCNO);
    // A new feature of the current feature number.
    std::shared_ptr<IKeyObject> NewFeature(int32_t Options = qzfasIgnoreNone);
    // The current feature (FeatureNumber, FeatureID).
    std::shared_ptr<IKeyObject> OpenFeature();
    // Opens the features over one collection holding every component of
    // their feature numbers; each key object gets its own view of it.
    std::shared_ptr<IComponents> OpenFeatures(const std::shared_ptr<IKeyObjects>& Features);
    void put_FeatureID(int32_t FID) { featureID_ = FID; }
    int32_t get_FeatureID() const { return featureID_; }
    // Narrows the metadata to the feature number (needs a data context).
    void put_FeatureNumber(int16_t FNO);
    int16_t get_FeatureNumber() const { return featureNumber_; }
    // Writes nothing: the collection's own Update. A view of a collection
    // the feature cache does not hold raises 13: no save of the key would
    // store its edits.
    void UpdateFeature(const std::shared_ptr<IKeyObject>& oKeyObject);
    // Saves the pending edits of every feature in one batch of component
    // persistence: every key object offered, a copy Add turned away too,
    // unless it holds no components or is a view of a collection saved here.
    void UpdateFeatures(const std::shared_ptr<IKeyObjects>& oKeyObjects);

    // ---- IFeatureAssemblyService ----
    void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) override;
    std::shared_ptr<IDataContext> get_DataContext() override;
    std::shared_ptr<IKeyObjects> NewPlacementConfiguration(int32_t PCNO) override;
    std::shared_ptr<IKeyObject> NewFeature(int16_t FNO, int32_t Options) override;
    std::shared_ptr<IKeyObject> OpenFeature(int16_t FNO, int32_t FID) override;
    void OpenFeatures(const std::shared_ptr<IKeyObjects>& Features, bool DisableInterfaces) override;

    // ---- IFeatureAssemblyServiceCache (DataContext shared with the above) ----
    void put_Caching(bool Caching) override;
    bool get_Caching() override;
    std::shared_ptr<ado::Recordset> OpenSyncedRecordset(int16_t CNO, const std::shared_ptr<IRecordsetEvaluator>& Evaluator,
                                                        const std::string& SQL, const rt::Variant& Parameters) override;
    std::shared_ptr<ado::Recordset> OpenSyncedRecordsetArray(int16_t CNO,
                                                             const std::shared_ptr<IRecordsetEvaluator>& Evaluator,
                                                             const std::string& SQL,
                                                             const rt::Variant& Parameters) override;
    void SaveCache() override;
    void ScanComponent(int16_t CNO, const std::shared_ptr<IScanComponent>& Callback) override;
    void AddToCache(const std::shared_ptr<IKeyObjects>& Features) override;

    // ---- IScanComponent: lays each cached row over the synced recordset ----
    void putref_Fields(const std::shared_ptr<ado::Fields>& Fields) override;
    void ProcessRecord(int32_t kind) override;

    // ---- inside the system ----
    // The flag given to every collection OpenFeatures creates: False makes
    // components without backward pointer and recordset events.
    void put_SetBackwardPointers(bool v) { setBackwardPointers_ = v; }
    // The feature number the two narrowed metadata copies show; nullopt
    // while they are unfiltered.
    std::optional<int16_t> FilteredFeatureNumber() const { return filteredFNO_; }

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    rt::Variant InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "FeatureAssemblyService"; }

private:
    struct SyncScan;
    // The feature's components narrowed by the retrieval mode; the row of
    // the feature-components copy it stands on is the component asked about.
    bool IncludeComponent();
    // Narrows the tab lookup and feature-components copies to the number.
    void FilterByFeatureNumber(int16_t FNO);
    // Raises the plain error 1 of a service without data context.
    [[noreturn]] void RaiseNoDataContext() const;
    IMetadataRecordsetFilterService& FilterService();
    std::shared_ptr<Components> NewComponentsCollection(bool applyBackwardPointerFlag);
    std::shared_ptr<ado::Recordset> TakeMetadataRecordset(const std::string& table);
    // Merges the CNOs of one feature number into the list of a multi-feature
    // open; false when the number has no components or was seen already.
    bool MergeFeatureCNOs(const std::shared_ptr<ado::Recordset>& clone, int16_t FNO, std::vector<int16_t>& FNOs,
                          std::vector<int16_t>& CNOs);
    std::shared_ptr<IComponents> AssembledComponents(const std::shared_ptr<IComponents>& collection);
    // Feature creation: one value per sequence expression of the list (joined
    // by ", "), in order, in the field COL1 of a fabricated recordset.
    std::shared_ptr<ado::Recordset> GetSequenceValues(const std::string& sequenceList);
    // The synced recordset: the query's rows as pending additions with the
    // cached rows of the component laid over them.
    std::shared_ptr<ado::Recordset> OpenSynced(int16_t CNO, const std::shared_ptr<IRecordsetEvaluator>& Evaluator,
                                               const std::string& SQL, rt::Variant Parameters, int32_t Options);
    // Takes rs: its values move into the copy when nothing else holds it.
    static std::shared_ptr<ado::Recordset> GetEditableRecordset(std::shared_ptr<ado::Recordset> rs);
    // Positions the target on the row of the source row's key.
    bool FindMatch(const SyncScan& scan);
    // ScanComponent; pendingOnly passes over components with nothing pending,
    // which would hand the synced recordset nothing.
    void Scan(int16_t CNO, const std::shared_ptr<IScanComponent>& Callback, bool pendingOnly);
    // The source row's values into the target's current row, or into a new
    // row added first.
    void CopyValues(SyncScan& scan, bool newRow);

    std::shared_ptr<IDataContext> dataContext_;
    int32_t featureID_ = -1;
    int16_t featureNumber_ = -1;
    std::shared_ptr<ado::Recordset> tabLookup_;
    int32_t retrievalMode_ = qzfasAllComponents;
    std::shared_ptr<ado::Recordset> featureComponents_;
    std::shared_ptr<ado::Recordset> configPlacement_;
    std::shared_ptr<IMetadataRecordsetFilterService> filterService_;
    bool setBackwardPointers_ = true;
    std::optional<int16_t> filteredFNO_;
    // Scan state of the OpenSyncedRecordset(Array) call under way; a call
    // made from inside its evaluator or scan runs with a state of its own and
    // gives the outer call's back when it returns.
    struct SyncScan {
        std::shared_ptr<ado::Recordset> target;
        std::shared_ptr<ado::Fields> sourceFields;
        // Per target field, the source field of its name, worked out at the
        // first copy from the fields; empty when the source lacks one, and
        // the copy goes field by field to name it in its error.
        std::vector<int32_t> copyFrom;
        bool copyMapped = false;
        // The source field names copyFrom was worked out for: the components
        // of one number share their table's fields, so the map is made once.
        std::vector<std::string> copyMappedNames;
        std::shared_ptr<ado::Field> targetKeyField;
        std::shared_ptr<ado::Field> sourceKeyField;
        std::shared_ptr<IRecordsetEvaluator> evaluator;
    };
    SyncScan scan_;
};

// Registers "QzPelmora.FeatureAssemblyService" (also done when the program
// starts; calling it again is harmless).
void RegisterFeatureAssemblyService();

}  // namespace pelmora
