// The service's face on the apartment's feature cache: turning it on and
// off, caching features, saving every cached edit in one batch, and the scan
// that lays cached, unsaved rows over the rows of a query.
#include <memory>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include "ado/Recordset.h"
#include "pelmora/common/RowWalk.h"
#include "pelmora/common/ScopeExit.h"
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
#include "runtime/ScopedValue.h"
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

// Puts the rows back under the filter and on the row a callback found them
// at, when it moved them.
void KeepPlace(ado::Recordset& rs, const rt::Variant& filter, const rt::Variant& bookmark) {
    if (!rt::VariantEquals(rs.get_Filter(), filter)) rs.put_Filter(filter);
    if (rs.get_BOF() || rs.get_EOF() || !rt::VariantEquals(rs.get_Bookmark(), bookmark)) rs.put_Bookmark(bookmark);
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
    const auto members = RequireEach(Features->get_NewEnum());
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
    const auto before = Component::RowsAsSetOf(components);
    try {
        Component::Save(components, persistence.get());
        persistence->EndComponentOperations();
    } catch (const rt::ComError&) {
        Component::GiveBack(before);
        throw;
    }

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
        // The walk below ends an edit open on a feature's own rows (which
        // counts as pending); the views of features opened together end
        // theirs the same way.
        if (object && rt::IsExactly<Component>(*object))
            std::static_pointer_cast<Component>(object)->EndCloneEditsToRead();
        if (pendingOnly && !rs->HasPendingChanges()) continue;
        Callback->putref_Fields(rs->get_Fields());
        const rt::Variant filter = rs->get_Filter();
        // The component's own view is left as it was, whatever the callback does.
        const ScopeExit restore([&] {
            try {
                rs->put_Filter(filter);
            } catch (...) {
            }
        });

        // The callback may move or filter the rows, or scan them itself (a
        // synced recordset opened from inside an evaluator), add rows or
        // delete them: each pass visits the rows it began with, under its own
        // filter, once; a row deleted meanwhile is skipped (the pass over
        // pending rows reports it deleted), a row added meanwhile is left to
        // the next scan.
        auto pass = [&](const rt::Variant& walkFilter, bool deletedOnly) {
            rs->put_Filter(walkFilter);
            ForEachRowBegunWith(*rs, [&] {
                const int32_t status = rs->get_Status();
                if (!deletedOnly)
                    Callback->ProcessRecord(status == ado::adRecNew        ? ado::adEditAdd
                                            : status == ado::adRecModified ? ado::adEditInProgress
                                                                           : ado::adEditNone);
                else if (status == ado::adRecDeleted)
                    Callback->ProcessRecord(ado::adEditDelete);
                if (!rt::VariantEquals(rs->get_Filter(), walkFilter)) rs->put_Filter(walkFilter);
            });
        };
        pass(rt::Variant(int32_t{ado::adFilterNone}), false);
        pass(rt::Variant(int32_t{ado::adFilterPendingRecords}), true);
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
    // The call has a scan state of its own; whatever happens, the service
    // keeps nothing of it (the evaluator and the fields it was given would
    // hold the caller's helper and a cached recordset alive), and an outer
    // call, whose evaluator made this one, gets its own back.
    const rt::ScopedValue<SyncScan> own(scan_, SyncScan{});

    auto rows = dataContext_->OpenParameterizedRecordset(SQL, ado::adOpenKeyset, ado::adLockBatchOptimistic, Options,
                                                         Parameters);
    if (!rows) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    scan_.target = GetEditableRecordset(std::move(rows));
    scan_.targetKeyField = scan_.target->get_Fields()->Item("QTX_ID");
    scan_.evaluator = Evaluator;
    // Held here: the scan state is the service's only while no call of the
    // evaluator's replaces it.
    const auto target = scan_.target;

    // The service itself is the callback; a non-owning pointer keeps the
    // scan from holding the service.
    std::shared_ptr<IScanComponent> self(std::shared_ptr<void>(), static_cast<IScanComponent*>(this));
    Scan(CNO, self, true);

    if (HasRows(target)) target->MoveFirst();
    return target;
}

void FeatureAssemblyService::putref_Fields(const std::shared_ptr<ado::Fields>& Fields) {
    TraceScope trace(kFile, "Set IScanComponent_Fields");
    // The key field first: fields without one leave the state as it was.
    auto key = Fields ? Fields->Item("QTX_ID") : nullptr;
    scan_.sourceFields = Fields;
    scan_.sourceKeyField = std::move(key);
    // Most cached components hand over no row to copy: the map is checked
    // against the fields at the first row copied.
    scan_.copyMapped = false;
    if (!scan_.evaluator) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    scan_.evaluator->putref_Fields(Fields);
}

void FeatureAssemblyService::ProcessRecord(int32_t kind) {
    TraceScope trace(kFile, "IScanComponent_ProcessRecord");
    auto require = [this] {
        const SyncScan& s = scan_;
        if (!s.target || !s.evaluator || !s.sourceFields || !s.sourceKeyField || !s.targetKeyField)
            rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    };
    // The evaluator may call back into the service (its fields set anew, a
    // synced recordset of its own scanning the same rows): what is read
    // after it answered is checked again, the source row is current again.
    auto evaluate = [&] {
        const auto evaluator = scan_.evaluator;
        const auto source = scan_.sourceFields->Owner();
        const rt::Variant filter = source->get_Filter();
        const bool placed = !source->get_BOF() && !source->get_EOF();
        const rt::Variant bookmark = placed ? source->get_Bookmark() : rt::Variant();
        const bool accepted = evaluator->Evaluate();
        require();
        if (placed) KeepPlace(*source, filter, bookmark);
        return accepted;
    };
    require();
    switch (kind) {
        case ado::adEditAdd:
            if (evaluate()) CopyValues(scan_, true);
            break;
        case ado::adEditInProgress:
            if (FindMatch(scan_)) {
                if (evaluate())
                    CopyValues(scan_, false);
                else
                    scan_.target->Delete(ado::adAffectCurrent);
            } else if (evaluate()) {
                CopyValues(scan_, true);
            }
            break;
        case ado::adEditDelete:
            if (FindMatch(scan_)) scan_.target->Delete(ado::adAffectCurrent);
            break;
        default:
            break;
    }
}

bool FeatureAssemblyService::FindMatch(const SyncScan& scan) {
    TraceScope trace(kFile, "FindMatch");
    try {
        const auto& target = scan.target;
        if (!HasRows(target)) return false;
        const rt::Variant key = scan.sourceKeyField->get_OriginalValue();
        for (target->MoveFirst(); !target->get_EOF(); target->MoveNext())
            if (rt::VariantEquals(scan.targetKeyField->get_Value(), key)) return true;
        return false;
    } catch (const rt::ComError& e) {
        trace.Error(e);
        trace.Exit();
        RaiseError(e.Number(), e.Source(), rt::Variant(e.Description()));
    }
}

void FeatureAssemblyService::CopyValues(SyncScan& scan, bool newRow) {
    TraceScope trace(kFile, "CopyValues");
    const auto& target = scan.target;
    if (!scan.copyMapped) {
        scan.copyMapped = true;
        const auto& source = *scan.sourceFields->Owner();
        const auto count = static_cast<size_t>(source.FieldCount());
        bool same = scan.copyMappedNames.size() == count;
        for (size_t i = 0; same && i < count; ++i)
            same = scan.copyMappedNames[i] == source.DescAt(static_cast<int32_t>(i)).name;
        if (!same) {
            scan.copyMappedNames.clear();
            for (size_t i = 0; i < count; ++i)
                scan.copyMappedNames.push_back(source.DescAt(static_cast<int32_t>(i)).name);
            scan.copyFrom.clear();
            for (int32_t i = 0; i < target->FieldCount(); ++i) {
                const int32_t from = source.FieldIndex(target->DescAt(i).name);
                if (from < 0) {
                    scan.copyFrom.clear();
                    break;
                }
                scan.copyFrom.push_back(from);
            }
        }
    }
    if (!scan.copyFrom.empty()) {
        // The target has no sinks: the row's values go in at once.
        const rt::Variant* values = scan.sourceFields->Owner()->CurrentRowValues();
        if (newRow) {
            target->AppendRow(values, scan.copyFrom);
            return;
        }
        std::vector<int32_t> indices(scan.copyFrom.size());
        std::vector<rt::Variant> copied(scan.copyFrom.size());
        for (size_t i = 0; i < scan.copyFrom.size(); ++i) {
            indices[i] = static_cast<int32_t>(i);
            copied[i] = values[scan.copyFrom[i]];
        }
        target->SetFieldValues(indices, copied);
        return;
    }
    if (newRow) target->AddNew();
    auto fields = target->get_Fields();
    for (int32_t i = 0; i < fields->get_Count(); ++i) {
        auto field = fields->Item(i);
        field->put_Value(scan.sourceFields->Item(field->get_Name())->get_Value());
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
