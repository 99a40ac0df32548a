// The service's face on the apartment's feature cache: turning it on and
// off, caching features, saving every cached edit in one batch, and the scan
// that lays cached, unsaved rows over the rows of a query.
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "ado/Recordset.h"
#include "pelmora/common/TraceScope.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/features/Component.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "pelmora/features/modFASCache.h"
#include "interfaces/Components.h"
#include "interfaces/DataContext.h"
#include "interfaces/KeyObject.h"
#include "pelmora/persistence/ComponentDatabaseService.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr const char* kFile = "FeatureAssemblyService";

bool HasRows(const std::shared_ptr<ado::Recordset>& rs) { return !(rs->get_BOF() && rs->get_EOF()); }

// The cached components of every number, in the order the numbers and the
// components were cached.
std::vector<std::shared_ptr<IComponent>> AllCachedComponents() {
    std::vector<std::shared_ptr<IComponent>> out;
    auto& state = FeatureCache();
    if (!state.componentCollections) return out;
    for (const auto& perCNO : state.componentCollections->Enumerate()) {
        auto collection = std::dynamic_pointer_cast<rt::Collection>(perCNO.Obj());
        if (!collection) continue;
        for (const auto& item : collection->Enumerate()) out.push_back(rt::QueryInterface<IComponent>(item.Obj()));
    }
    return out;
}

// The parameters of a query as a Variant array: an array is copied, a single
// value becomes a one-element array, nothing gives an empty one.
rt::Variant ParameterArray(const rt::Variant& parameters) {
    if (parameters.IsArray()) {
        const rt::SafeArray* a = parameters.Array();
        if (!a) return rt::Variant::ArrayOf(std::vector<rt::Variant>{}, 0);
        return rt::Variant::ArrayOf(a->Data(), 0);
    }
    if (parameters.IsMissing() || parameters.IsEmpty()) return rt::Variant::ArrayOf(std::vector<rt::Variant>{}, 0);
    return rt::Variant::ArrayOf(std::vector<rt::Variant>{parameters}, 0);
}

}  // namespace

// ---- caching ----

void FeatureAssemblyService::put_Caching(bool Caching) {
    TraceScope trace(kFile, "Let IFeatureAssemblyServiceCache_Caching");
    SetCaching(Caching);
}

bool FeatureAssemblyService::get_Caching() {
    TraceScope trace(kFile, "Get IFeatureAssemblyServiceCache_Caching");
    return CachingEnabled();
}

void FeatureAssemblyService::AddToCache(const std::shared_ptr<IKeyObjects>& Features) {
    TraceScope trace(kFile, "IFeatureAssemblyServiceCache_AddToCache");
    if (!CachingEnabled()) return;
    if (!Features) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    // A Nothing among them is refused before any of them is cached.
    const auto members = Features->get_NewEnum();
    for (const auto& feature : members) RequireObjects(feature);
    for (const auto& feature : members) {
        AddFeatureToCache(feature);
        AddComponentsToCache(feature->get_Components());
    }
}

void FeatureAssemblyService::SaveCache() {
    TraceScope trace(kFile, "IFeatureAssemblyServiceCache_SaveCache");
    if (!FeatureCache().componentCollections) return;

    if (!rt::IsClassRegistered(kComponentDatabaseServiceProgId)) RegisterComponentDatabaseService();
    auto persistence =
        rt::QueryInterface<IComponentDatabaseService>(rt::CreateObject(kComponentDatabaseServiceProgId));
    persistence->putref_DataContext(dataContext_);
    persistence->BeginComponentOperations();

    // Clones are views of components held elsewhere: their rows are the
    // source's rows, saved with the source, so only the system's own
    // components hand rows over.
    std::vector<std::shared_ptr<Component>> components;
    for (const auto& cached : AllCachedComponents())
        if (auto component = rt::TryQueryInterface<Component>(cached)) components.push_back(component);
    // Every component's update interfaces run before anything is queued.
    for (const auto& component : components) component->ProcessComponentsUpdate();
    for (const auto& component : components) persistence->UpdateComponent(component);
    persistence->EndComponentOperations();

    // What was written cannot be written again: the saved features leave.
    SetCaching(true);
}

// ---- scanning ----

void FeatureAssemblyService::ScanComponent(int16_t CNO, const std::shared_ptr<IScanComponent>& Callback) {
    TraceScope trace(kFile, "IFeatureAssemblyServiceCache_ScanComponent");
    Scan(CNO, Callback, false);
}

void FeatureAssemblyService::Scan(int16_t CNO, const std::shared_ptr<IScanComponent>& Callback, bool pendingOnly) {
    std::shared_ptr<rt::Collection> cached;
    {
        rt::ResumeNext resume;
        resume([&] { cached = CachedComponentsOf(CNO); });
    }
    if (!cached) return;
    if (!Callback) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);

    for (const auto& item : cached->Enumerate()) {
        // This system's own components by their exact class: a cross-cast for
        // each of thousands of cached components costs more than looking at it.
        const auto& object = item.Obj();
        std::shared_ptr<IComponent> component;
        if (object && rt::IsExactly<Component>(*object))
            component = std::static_pointer_cast<Component>(object);
        else
            component = rt::QueryInterface<IComponent>(object);
        // Rows never fetched hold no edits.
        if (!component->get_RecordsetLocal()) continue;
        auto rs = component->get_Recordset();
        if (pendingOnly && !rs->HasPendingChanges()) continue;
        Callback->putref_Fields(rs->get_Fields());
        const rt::Variant filter = rs->get_Filter();
        // The component's own view is left as it was, whatever the callback does.
        struct RestoreFilter {
            std::shared_ptr<ado::Recordset> rs;
            rt::Variant filter;
            ~RestoreFilter() {
                try {
                    rs->put_Filter(filter);
                } catch (...) {
                }
            }
        } restore{rs, filter};

        rs->put_Filter(rt::Variant(int32_t{ado::adFilterNone}));
        if (rs->get_RecordCount() > 0) {
            for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext()) {
                int32_t status = rs->get_Status();
                int32_t kind = status == ado::adRecNew        ? ado::adEditAdd
                               : status == ado::adRecModified ? ado::adEditInProgress
                                                              : ado::adEditNone;
                Callback->ProcessRecord(kind);
            }
        }
        rs->put_Filter(rt::Variant(int32_t{ado::adFilterPendingRecords}));
        if (rs->get_RecordCount() > 0) {
            for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext())
                if (rs->get_Status() == ado::adRecDeleted) Callback->ProcessRecord(ado::adEditDelete);
        }
    }
}

std::shared_ptr<ado::Recordset> FeatureAssemblyService::OpenSyncedRecordset(
    int16_t CNO, const std::shared_ptr<IRecordsetEvaluator>& Evaluator, const std::string& SQL,
    const rt::Variant& Parameters) {
    TraceScope trace(kFile, "IFeatureAssemblyServiceCache_OpenSyncedRecordset");
    return OpenSynced(CNO, Evaluator, SQL, ParameterArray(Parameters), ado::adCmdUnknown);
}

std::shared_ptr<ado::Recordset> FeatureAssemblyService::OpenSyncedRecordsetArray(
    int16_t CNO, const std::shared_ptr<IRecordsetEvaluator>& Evaluator, const std::string& SQL,
    const rt::Variant& Parameters) {
    TraceScope trace(kFile, "IFeatureAssemblyServiceCache_OpenSyncedRecordsetArray");
    return OpenSynced(CNO, Evaluator, SQL, Parameters, ado::adCmdText);
}

std::shared_ptr<ado::Recordset> FeatureAssemblyService::OpenSynced(
    int16_t CNO, const std::shared_ptr<IRecordsetEvaluator>& Evaluator, const std::string& SQL,
    rt::Variant Parameters, int32_t Options) {
    if (!dataContext_) RaiseNoDataContext();
    // Whatever happens, the service keeps nothing of the call: the evaluator
    // and the fields it was given would otherwise hold the caller's helper and
    // a cached recordset alive until the next call.
    struct ReleaseScanState {
        FeatureAssemblyService& s;
        ~ReleaseScanState() {
            s.syncTarget_.reset();
            s.targetKeyField_.reset();
            s.sourceKeyField_.reset();
            s.sourceFields_.reset();
            s.copyFrom_.clear();
            s.copyMapped_ = false;
            s.copyMappedNames_.clear();
            s.evaluator_.reset();
        }
    } release{*this};

    auto rows = dataContext_->OpenParameterizedRecordset(SQL, ado::adOpenKeyset, ado::adLockBatchOptimistic, Options,
                                                         Parameters);
    if (!rows) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    syncTarget_ = GetEditableRecordset(std::move(rows));
    targetKeyField_ = syncTarget_->get_Fields()->Item("QTX_ID");
    evaluator_ = Evaluator;

    // The service itself is the callback; a non-owning pointer keeps the
    // scan from holding the service.
    std::shared_ptr<IScanComponent> self(std::shared_ptr<void>(), static_cast<IScanComponent*>(this));
    Scan(CNO, self, true);

    auto target = syncTarget_;
    if (HasRows(target)) target->MoveFirst();
    return target;
}

void FeatureAssemblyService::putref_Fields(const std::shared_ptr<ado::Fields>& Fields) {
    TraceScope trace(kFile, "Set IScanComponent_Fields");
    sourceFields_ = Fields;
    sourceKeyField_ = Fields ? Fields->Item("QTX_ID") : nullptr;
    // Most cached components hand over no row to copy: the map is checked
    // against the fields at the first row copied.
    copyMapped_ = false;
    if (!evaluator_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    evaluator_->putref_Fields(Fields);
}

void FeatureAssemblyService::ProcessRecord(int32_t kind) {
    TraceScope trace(kFile, "IScanComponent_ProcessRecord");
    if (!syncTarget_ || !evaluator_ || !sourceFields_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    switch (kind) {
        case ado::adEditAdd:
            if (evaluator_->Evaluate()) CopyValues(true);
            break;
        case ado::adEditInProgress:
            if (FindMatch()) {
                if (evaluator_->Evaluate())
                    CopyValues(false);
                else
                    syncTarget_->Delete(ado::adAffectCurrent);
            } else if (evaluator_->Evaluate()) {
                CopyValues(true);
            }
            break;
        case ado::adEditDelete:
            if (FindMatch()) syncTarget_->Delete(ado::adAffectCurrent);
            break;
        default:
            break;
    }
}

bool FeatureAssemblyService::FindMatch() {
    TraceScope trace(kFile, "FindMatch");
    try {
        if (!HasRows(syncTarget_)) return false;
        const rt::Variant key = sourceKeyField_->get_OriginalValue();
        for (syncTarget_->MoveFirst(); !syncTarget_->get_EOF(); syncTarget_->MoveNext())
            if (rt::VariantEquals(targetKeyField_->get_Value(), key)) return true;
        return false;
    } catch (const rt::ComError& e) {
        trace.Error(e);
        trace.Exit();
        RaiseError(e.Number(), e.Source(), rt::Variant(e.Description()));
    }
}

void FeatureAssemblyService::CopyValues(bool newRow) {
    TraceScope trace(kFile, "CopyValues");
    if (!copyMapped_) {
        copyMapped_ = true;
        const auto& source = *sourceFields_->Owner();
        const auto count = static_cast<size_t>(source.FieldCount());
        bool same = copyMappedNames_.size() == count;
        for (size_t i = 0; same && i < count; ++i)
            same = copyMappedNames_[i] == source.DescAt(static_cast<int32_t>(i)).name;
        if (!same) {
            copyMappedNames_.clear();
            for (size_t i = 0; i < count; ++i) copyMappedNames_.push_back(source.DescAt(static_cast<int32_t>(i)).name);
            copyFrom_.clear();
            for (int32_t i = 0; i < syncTarget_->FieldCount(); ++i) {
                const int32_t from = source.FieldIndex(syncTarget_->DescAt(i).name);
                if (from < 0) {
                    copyFrom_.clear();
                    break;
                }
                copyFrom_.push_back(from);
            }
        }
    }
    if (!copyFrom_.empty()) {
        // The target has no sinks: the row's values go in at once.
        const rt::Variant* values = sourceFields_->Owner()->CurrentRowValues();
        if (newRow) {
            syncTarget_->AppendRow(values, copyFrom_);
            return;
        }
        std::vector<int32_t> indices(copyFrom_.size());
        std::vector<rt::Variant> copied(copyFrom_.size());
        for (size_t i = 0; i < copyFrom_.size(); ++i) {
            indices[i] = static_cast<int32_t>(i);
            copied[i] = values[copyFrom_[i]];
        }
        syncTarget_->SetFieldValues(indices, copied);
        return;
    }
    if (newRow) syncTarget_->AddNew();
    auto fields = syncTarget_->get_Fields();
    for (int32_t i = 0; i < fields->get_Count(); ++i) {
        auto field = fields->Item(i);
        field->put_Value(sourceFields_->Item(field->get_Name())->get_Value());
    }
}

std::shared_ptr<ado::Recordset> FeatureAssemblyService::GetEditableRecordset(std::shared_ptr<ado::Recordset> rs) {
    TraceScope trace(kFile, "GetEditableRecordset");
    auto copy = ado::Recordset::Create();
    {
        auto copyFields = copy->get_Fields();
        // Read and written as descriptors: a Field object for each read and
        // write (a source's holds rs, which must be gone before the rows are
        // taken), and a search of the copy's names, cost more than the rows.
        const int32_t count = rs->FieldCount();
        for (int32_t i = 0; i < count; ++i) {
            const ado::FieldDesc& field = rs->DescAt(i);
            copyFields->Append(field.name, field.type, field.definedSize, field.attributes);
            ado::FieldDesc& appended = copy->PendingFieldDescs()[static_cast<size_t>(i)];
            appended.numericScale = field.numericScale;
            appended.precision = field.precision;
        }
    }
    copy->Open(rt::Variant::Missing(), rt::Variant::Missing(), ado::adOpenUnspecified, ado::adLockUnspecified, -1);
    if (HasRows(rs)) {
        // The copy has no sinks yet, so its rows go in whole, as the pending
        // additions AddNew and an assignment of each field would leave. Its
        // fields are the source's, in their order (names are unique).
        std::vector<int32_t> from(static_cast<size_t>(copy->FieldCount()));
        for (size_t i = 0; i < from.size(); ++i) from[i] = static_cast<int32_t>(i);
        std::vector<const rt::Variant*> rows;
        for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext()) rows.push_back(rs->CurrentRowValues());
        copy->AppendRowsOf(std::move(rs), rows, from);
    }
    return copy;
}

}  // namespace pelmora
