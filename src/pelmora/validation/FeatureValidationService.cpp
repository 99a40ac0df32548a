#include "pelmora/validation/FeatureValidationService.h"

#include "ado/Recordset.h"
#include "pelmora/common/AppUtils.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/extensions/RGIHelper.h"
#include "interfaces/Components.h"
#include "interfaces/DataContext.h"
#include "interfaces/KeyObject.h"
#include "interfaces/Messages.h"
#include "interfaces/MetadataService.h"
#include "interfaces/Relationship.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/relationships/RelationshipService.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "pelmora/validation_set/modFeatureValidationServiceSet.h"
#include "runtime/Dispatch.h"
#include "runtime/Error.h"
#include "runtime/ScopedValue.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr int16_t kValidatingFeaturesMessage = 25062;
constexpr int16_t kSetUnreadableMessage = 25063;

using rt::ObjectArgument;

}  // namespace

FeatureValidationService::FeatureValidationService() {
    InitResources(kResourceModule);
    Relationship_ = std::make_shared<RelationshipService>();
}

FeatureValidationService::~FeatureValidationService() {
    Context_.dataContext.reset();
    Relationship_.reset();
    FilterService_.reset();
    ReleaseValidationSetIndex();
}

void FeatureValidationService::putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) {
    Context_.dataContext = DataContext;
    if (!DataContext) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    Context_.metadata = DataContext->GetMetadataService();
    if (!Context_.metadata) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    Context_.configuration = Context_.metadata->get_Configuration();
    Relationship_->putref_DataContext(DataContext);
    Context_.recordsets = Context_.metadata->get_Recordsets();
}

MetadataRecordsetFilterService& FeatureValidationService::FilterService() {
    if (!FilterService_) FilterService_ = std::make_shared<MetadataRecordsetFilterService>();
    return *FilterService_;
}

std::shared_ptr<ado::Recordset> FeatureValidationService::MetadataTable(const std::string& key) {
    const auto& recordsets = Lookups().recordsets;
    if (!recordsets) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    return recordsets->get_Item(rt::Variant(key))->get_Recordset("", "");
}

void FeatureValidationService::EndRun(const std::string& SavedStatusText) {
    EndProgressBar();
    SetStatusBarText(SavedStatusText, 1);
}

FeatureValidationService::RunLookups& FeatureValidationService::Lookups() {
    if (!Lookups_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    return *Lookups_;
}

std::shared_ptr<ado::Recordset> FeatureValidationService::ValidateFeatures(std::shared_ptr<IKeyObjects>& cFeatures) {
    const std::string SavedStatusText = GetStatusBarText(1);
    SetStatusBarText(GetValidationMessage(kValidatingFeaturesMessage), 1);
    std::shared_ptr<ado::Recordset> ValidationSet;
    try {
        ValidationSet = Relationship_->GetFeatureValidationInformation(cFeatures);
    } catch (const rt::ComError& e) {
        EndRun(SavedStatusText);
        RaiseError(1, kFeatureValidationServiceSource, rt::Variant(LoadResStringWithParam(kSetUnreadableMessage, e.Description())));
    }
    return ValidateKeyObjectSet(ValidationSet, SavedStatusText);
}

std::shared_ptr<ado::Recordset> FeatureValidationService::ValidatePendingEdits() {
    const std::string SavedStatusText = GetStatusBarText(1);
    SetStatusBarText(GetValidationMessage(kValidatingFeaturesMessage), 1);
    std::shared_ptr<ado::Recordset> ValidationSet;
    try {
        ValidationSet = Relationship_->GetPendingEditsValidationInformation();
    } catch (const rt::ComError& e) {
        EndRun(SavedStatusText);
        RaiseError(1, kFeatureValidationServiceSource, rt::Variant(LoadResStringWithParam(kSetUnreadableMessage, e.Description())));
    }
    if (!ValidationSet || (ValidationSet->get_BOF() && ValidationSet->get_EOF())) {
        SetStatusBarText(SavedStatusText, 1);
        return nullptr;
    }
    return ValidateKeyObjectSet(ValidationSet, SavedStatusText);
}

std::shared_ptr<ado::Recordset> FeatureValidationService::ValidateKeyObjectSet(
    std::shared_ptr<ado::Recordset>& ValidationSet, const std::string& SavedStatusText) {
    // An extension this run calls may start another run on this service, or
    // give it another context: this run goes on with its own.
    RunLookups lookups(Context_);
    const rt::ScopedValue<RunLookups*> own(Lookups_, &lookups);
    try {
        std::shared_ptr<IKeyObjects> Features;
        std::shared_ptr<IComponents> Components;
        int32_t Count = 0;
        GetValidationKOCollection(ValidationSet, Features, Components, lookups.dataContext, Count);
        ValidationSetIndexHold index(ValidationSet);
        std::shared_ptr<ado::Recordset> Errors = CreateValidationRecordset();
        if (Features) ValidateFeatureSet(Features, Count, Errors);
        Relationship_->putref_Features(Features);
        Relationship_->putref_Components(Components);
        {
            RunFeaturesScope opened(Features);
            RGIHelper::RunRecordsScope records;
            Relationship_->Validate(ValidationSet, Errors);
        }
        ReleaseValidationSetIndex();
        SetStatusBarText(SavedStatusText, 1);
        return Errors;
    } catch (const rt::ComError& e) {
        // The index stays for a caller that wants to look; the status bar
        // must not keep saying the run goes on.
        EndRun(SavedStatusText);
        RaiseError(1, kValidateSource, rt::Variant(e.Description()));
    }
}

rt::Variant FeatureValidationService::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    using Self = FeatureValidationService;
    static const auto table =
        rt::DispatchTable<Self>().ClassModuleOf(kProjectName)
            .Get("DataContext", 1, [](Self& s) { return rt::Variant(s.get_DataContext()); })
            .Set("DataContext", 1,
                 [](Self& s, const rt::Variant& v) { s.putref_DataContext(ObjectArgument<IDataContext>(v)); })
            .Method("ValidateFeatures", 2, 1, 1,
                    [](Self& s, rt::Args& a) {
                        auto features = ObjectArgument<IKeyObjects>(a[0]);
                        return rt::Variant(s.ValidateFeatures(features));
                    })
            .Method("ValidatePendingEdits", 3, 0, 0,
                    [](Self& s, rt::Args&) { return rt::Variant(s.ValidatePendingEdits()); });
    return table.Invoke(*this, name, kind, args);
}

void RegisterFeatureValidationService() {
    rt::RegisterClass(kFeatureValidationServiceProgId, kFeatureValidationServiceClsid,
                      [] { return std::make_shared<FeatureValidationService>(); });
}

}  // namespace pelmora
