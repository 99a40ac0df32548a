#pragma once
// The feature validation service: the creatable class through which a client
// validates the features it names (ValidateFeatures) or every pending edit
// of its database (ValidatePendingEdits). A run asks the relationship
// service for the validation set, opens its features, runs the feature and
// attribute checks of this class over the pending ones, then lets every
// applicable relationship add its findings. The result is a new
// ValidationErrorRecordset the client owns.
//
// The service owns one relationship service (created with it) and its
// filter service; it holds the client's data context and the context's
// metadata. While a run works the status bar shows its progress; on every
// way out the status text found at the start comes back and the progress
// bar ends. The apartment's validation-set index is released at the end of
// a run and when any instance ends. Caller's thread only; an extension a run
// calls may start another run on the same instance, which keeps its own
// lookups, status text and index.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace ado {
class Field;
class Fields;
class Recordset;
}  // namespace ado

namespace pelmora {

class ComponentService;
class IComponent;
class IComponents;
class IDataContext;
class IKeyObject;
class IKeyObjects;
class IMetadataRecordsets;
class IMetadataService;
class IRelationship;
class MetadataRecordsetFilterService;

inline constexpr const char* kFeatureValidationServiceProgId = "QzPelmora.FeatureValidationService";
inline constexpr const char* kFeatureValidationServiceClsid = "{762C39DC-444B-4CF2-9CCD-378391F505CC}";
// Source of the errors of a run that could not get its validation set.
inline constexpr const char* kFeatureValidationServiceSource = "FeatureValidationService";
// Source of every other error of a run.
inline constexpr const char* kValidateSource = "Validate";
// Source of the errors raised for unusable foreign-key or domain metadata.
inline constexpr const char* kForeignKeyValidationSource = "ForeignKeyValidation";

class FeatureValidationService : public rt::Object {
public:
    // Creates the relationship service.
    FeatureValidationService();
    // Releases the apartment's validation-set index, whoever filled it.
    ~FeatureValidationService() override;
    FeatureValidationService(const FeatureValidationService&) = delete;
    FeatureValidationService& operator=(const FeatureValidationService&) = delete;

    std::shared_ptr<IDataContext> get_DataContext() { return Context_.dataContext; }
    // Stores the context, takes its metadata service and configuration, hands
    // the context to the relationship service. A failing step reaches the
    // caller with the earlier steps done.
    void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext);

    // The findings of the features and of their relationships: an open
    // recordset, empty when nothing is wrong. Raises RaiseError 1 with source
    // "FeatureValidationService" when the set cannot be read, source
    // "Validate" when the run fails later; no partial result.
    std::shared_ptr<ado::Recordset> ValidateFeatures(std::shared_ptr<IKeyObjects>& cFeatures);
    // As ValidateFeatures over the pending edits; nullptr when there is none.
    std::shared_ptr<ado::Recordset> ValidatePendingEdits();

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "FeatureValidationService"; }

private:
    // SavedStatusText: the status text found when the run began, put back
    // when it ends. Each run keeps its own, as it keeps its own lookups: an
    // extension may start another run while this one waits for it.
    std::shared_ptr<ado::Recordset> ValidateKeyObjectSet(std::shared_ptr<ado::Recordset>& ValidationSet,
                                                         const std::string& SavedStatusText);
    // Puts the run's status text back and ends the progress bar.
    static void EndRun(const std::string& SavedStatusText);
    MetadataRecordsetFilterService& FilterService();
    std::shared_ptr<ado::Recordset> MetadataTable(const std::string& key);

    // ---- feature checks (FeatureValidationServiceFeatures.cpp) ----
    void ValidateFeatureSet(const std::shared_ptr<IKeyObjects>& Features, int32_t Count,
                            const std::shared_ptr<ado::Recordset>& Errors);
    bool HasNoComponentRecords(const std::shared_ptr<IKeyObject>& Feature,
                               const std::shared_ptr<ado::Recordset>& Placement);
    int16_t CountPlacementComponents(const std::shared_ptr<ado::Recordset>& Placement);
    void CheckPlacementComponent(const std::shared_ptr<IKeyObject>& Feature, const std::shared_ptr<IComponents>& Components,
                                 const std::shared_ptr<ado::Recordset>& Placement,
                                 const std::shared_ptr<ComponentService>& Service,
                                 const std::shared_ptr<ado::Recordset>& AttributeInfo,
                                 const std::shared_ptr<ado::Recordset>& Errors);
    // One finding of this class: priority 15734, the run's configuration.
    void AddFinding(const std::shared_ptr<ado::Recordset>& Errors, const std::string& Description,
                    const std::string& Location, const std::string& FNO, const std::string& FID,
                    const std::string& CNO, const std::string& CID);

    // ---- attribute checks (FeatureValidationServiceAttributes.cpp) ----
    // What one attribute row of QTX_ATTRIBUTEINFO_OPTABLE asks.
    struct AttributeCheck {
        bool Required = false;
        bool CheckForeignKey = false;
        bool CheckDomain = false;
        bool Functional = false;
        int32_t ProjectNumber = 0;
        int32_t ANO = 0;
        std::string InterfaceName;
        rt::Variant ArgumentArray;
        std::string FunctionalType;
        std::string ForeignKeyTable, ForeignKeyField, DomainTable, DomainField;
        std::string FieldName, AttributeUserName;
    };
    // The attribute rows of a component number, read once a run.
    const std::vector<AttributeCheck>& AttributeChecks(const std::shared_ptr<ado::Recordset>& AttributeInfo,
                                                       const rt::Variant& CNO);
    const std::string& ComponentUserName(int16_t CNO);
    void ValidateComponent(const std::shared_ptr<IComponent>& Component,
                           const std::shared_ptr<ado::Recordset>& ComponentRows,
                           const std::shared_ptr<ComponentService>& Service, const std::string& ComponentName,
                           const std::shared_ptr<ado::Recordset>& AttributeInfo,
                           const std::shared_ptr<ado::Recordset>& Errors);
    void CheckForeignKeyMetadata(const std::shared_ptr<ado::Recordset>& AttributeInfo, AttributeCheck& Check);
    void ValidateComponentAttributes(const std::shared_ptr<IComponent>& Component,
                                     const std::shared_ptr<ado::Recordset>& ComponentRows,
                                     const AttributeCheck& Check, const std::shared_ptr<ado::Recordset>& Errors);
    bool DomainHasValue(const std::shared_ptr<ado::Recordset>& ComponentRows, const AttributeCheck& Check,
                        const rt::Variant& Value);
    bool DatabaseHasValue(const std::string& Table, const std::string& Field, const rt::Variant& Value);
    void RunFunctionalValidation(const std::shared_ptr<ado::Recordset>& ComponentRows,
                                 const std::string& ComponentName, const AttributeCheck& Check,
                                 const std::shared_ptr<ComponentService>& Service,
                                 const std::shared_ptr<ado::Recordset>& Errors);
    // A finding keyed by the current component row.
    void AddRowFinding(const std::shared_ptr<ado::Recordset>& Errors, const std::shared_ptr<ado::Recordset>& Rows,
                       const std::string& Description, const std::string& Location);

    // What putref_DataContext sets: the context and what is read through it.
    struct Context {
        std::shared_ptr<IDataContext> dataContext;
        std::shared_ptr<IMetadataService> metadata;
        std::shared_ptr<IMetadataRecordsets> recordsets;
        std::string configuration;
    };
    // What one run works with: the context it began with (an extension it
    // calls may set another, or none, on this service meanwhile) and what it
    // has already looked up (the database does not change while a run reads
    // it, and most values recur from feature to feature). Each run owns its
    // own; Lookups_ points at the innermost run's while it lasts.
    struct RunLookups : Context {
        explicit RunLookups(Context begunWith) : Context(std::move(begunWith)) {}
        std::map<std::string, bool> published;  // domain table: has a published picklist
        std::map<std::string, std::shared_ptr<ado::Recordset>> domains;  // published domain tables
        std::map<std::string, bool> found;  // table, field and value: the value is there
        std::map<std::string, std::vector<AttributeCheck>> attributes;  // by component number
        std::map<int16_t, std::string> userNames;  // of components
    };
    RunLookups& Lookups();
    RunLookups* Lookups_ = nullptr;

    Context Context_;
    std::shared_ptr<IRelationship> Relationship_;
    std::shared_ptr<MetadataRecordsetFilterService> FilterService_;
};

// Registers "QzPelmora.FeatureValidationService" (also done when the program
// starts; calling it again is harmless).
void RegisterFeatureValidationService();

}  // namespace pelmora
