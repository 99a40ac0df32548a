#include "pelmora/features/FeatureAssemblyService.h"

#include <unordered_set>

#include "ado/Recordset.h"
#include "pelmora/common/TraceScope.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/common/FeatureComponents.h"
#include "pelmora/features/Component.h"
#include "pelmora/features/Components.h"
#include "pelmora/features/ComponentsClone.h"
#include "pelmora/features/KeyObject.h"
#include "pelmora/features/KeyObjects.h"
#include "pelmora/features/modFASCache.h"
#include "interfaces/DataContext.h"
#include "interfaces/KeyObject.h"
#include "interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/modAttributeInfo.h"
#include "pelmora/persistence/ComponentDatabaseService.h"
#include "runtime/Dispatch.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr const char* kFile = "FeatureAssemblyService";
constexpr int16_t kMsgSource = 21982;
constexpr int16_t kMsgNoDataContext = 23180;
constexpr int16_t kMsgNoFeatureNumber = 23775;

std::string MessageText(int16_t id) { return MessageObject()->GetMessageText(id, 0); }

// A logic-pathway message under the arguments bit (the count of features).
void TraceArgumentsText(const TraceScope& trace, const std::string& procedure, const std::string& text) {
    if (!trace.On(tracebits::Arguments)) return;
    try {
        if (auto t = TraceObject()) t->TraceMessage(kTraceSubsystem, kFile, procedure, "Arguments", text, "");
    } catch (...) {
    }
}

rt::Variant LongArray(const std::vector<int32_t>& values) {
    if (values.empty()) rt::RaiseVbError(rt::vberr::SubscriptOutOfRange);
    auto a = rt::Variant::MakeArray(rt::vbLong, 0, static_cast<int32_t>(values.size()) - 1);
    for (size_t i = 0; i < values.size(); ++i) a.ArrayMut()->Set(static_cast<int32_t>(i), rt::Variant(values[i]));
    return a;
}

bool HasRows(const std::shared_ptr<ado::Recordset>& rs) { return !(rs->get_BOF() && rs->get_EOF()); }

bool Contains(const std::vector<int16_t>& list, int16_t value) {
    for (int16_t v : list)
        if (v == value) return true;
    return false;
}

}  // namespace

FeatureAssemblyService::FeatureAssemblyService() { InitResources(kResourceModule); }

FeatureAssemblyService::~FeatureAssemblyService() = default;

void FeatureAssemblyService::RaiseNoDataContext() const {
    throw rt::ComError(1, MessageText(kMsgSource), MessageText(kMsgNoDataContext));
}

IMetadataRecordsetFilterService& FeatureAssemblyService::FilterService() {
    if (!filterService_) filterService_ = std::make_shared<MetadataRecordsetFilterService>();
    return *filterService_;
}

std::shared_ptr<ado::Recordset> FeatureAssemblyService::TakeMetadataRecordset(const std::string& table) {
    auto metadata = dataContext_->GetMetadataService();
    if (!metadata) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    return metadata->get_Recordsets()->get_Item(rt::Variant(table))->get_Recordset("", "");
}

void FeatureAssemblyService::FilterByFeatureNumber(int16_t FNO) {
    if (!tabLookup_ || !featureComponents_) RaiseNoDataContext();
    // Forget the old number first: a failure leaves the copies in no known state.
    filteredFNO_.reset();
    FilterService().FilterRecordset(tabLookup_, tabLookup_->get_Fields()->Item("QTX_FNO"), rt::Variant(FNO), "");
    FilterService().FilterRecordset(featureComponents_, featureComponents_->get_Fields()->Item("QTX_FNO"),
                                    rt::Variant(FNO), "");
    filteredFNO_ = FNO;
}

std::shared_ptr<Components> FeatureAssemblyService::NewComponentsCollection(bool applyBackwardPointerFlag) {
    auto collection = std::make_shared<Components>();
    if (applyBackwardPointerFlag) collection->put_SetBackwardPointers(setBackwardPointers_);
    collection->putref_DataContext(dataContext_);
    return collection;
}

// ---- data context and feature number ----

void FeatureAssemblyService::putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) {
    TraceScope trace(kFile, "Set IFeatureAssemblyService_DataContext");
    dataContext_ = DataContext;
    if (!DataContext) return;
    auto tabLookup = TakeMetadataRecordset("QTX_TABCNOLOOKUP");
    auto featureComponents = TakeMetadataRecordset("QTX_FEATURECOMPS_OPTABLE");
    auto configPlacement = TakeMetadataRecordset("QTX_CONFIGPLACEMENT_OPTABLE");
    tabLookup_ = tabLookup;
    featureComponents_ = featureComponents;
    configPlacement_ = configPlacement;
    // Fresh copies show every feature number.
    filteredFNO_.reset();
}

std::shared_ptr<IDataContext> FeatureAssemblyService::get_DataContext() {
    TraceScope trace(kFile, "Get IFeatureAssemblyService_DataContext");
    return dataContext_;
}

void FeatureAssemblyService::put_FeatureNumber(int16_t FNO) {
    if (!dataContext_) RaiseNoDataContext();
    // Filtering again is needed whenever the copies show another number than
    // the one asked for, whatever number was stored last.
    if (FNO == featureNumber_ && filteredFNO_ == FNO) return;
    featureNumber_ = FNO;
    FilterByFeatureNumber(FNO);
}

// ---- selection by retrieval mode ----

bool FeatureAssemblyService::IncludeComponent() {
    if (retrievalMode_ == qzfasAllComponents) return true;
    if ((retrievalMode_ & qzfasAttributeComponents) != 0) {
        rt::Variant type = featureComponents_->GetValue(rt::Variant("QTX_TYPE"));
        if (rt::VariantEquals(type, rt::Variant(int32_t{1}))) return true;
    }
    if ((retrievalMode_ & qzfasDialogTabComponents) == 0) return false;
    if (!HasRows(tabLookup_)) return false;
    rt::Variant cno = featureComponents_->GetValue(rt::Variant("QTX_CNO"));
    for (tabLookup_->MoveFirst(); !tabLookup_->get_EOF(); tabLookup_->MoveNext())
        if (rt::VariantEquals(tabLookup_->GetValue(rt::Variant("QTX_CNO")), cno)) return true;
    return false;
}

// ---- opening ----

std::shared_ptr<IKeyObject> FeatureAssemblyService::OpenFeature(int16_t FNO, int32_t FID) {
    TraceScope trace(kFile, "IFeatureAssemblyService_OpenFeature");
    if (CachingEnabled()) {
        if (auto cached = FindFeatureInCache(FNO, FID)) return cached;
    }
    if (!dataContext_) RaiseNoDataContext();
    FilterByFeatureNumber(FNO);
    if (!HasRows(featureComponents_)) return nullptr;

    auto collection = NewComponentsCollection(false);
    std::vector<int16_t> CNOs;
    CNOs.reserve(static_cast<size_t>(featureComponents_->get_RecordCount()));
    for (featureComponents_->MoveFirst(); !featureComponents_->get_EOF(); featureComponents_->MoveNext()) {
        int16_t cno = rt::CInt(featureComponents_->GetValue(rt::Variant("QTX_CNO")));
        CNOs.push_back(cno);
        if (IncludeComponent()) collection->AddComponentByCNO(cno, rt::Variant(FID));
    }
    CacheAttributeInfoByCNO(CNOs, dataContext_->GetMetadataService());

    auto key = KeyObject::New();
    key->put_FNO(FNO);
    key->put_FID(FID);
    key->putref_Components(collection);
    if (CachingEnabled()) {
        AddFeatureToCache(key);
        AddComponentsToCache(key->get_Components());
    }
    return key;
}

std::shared_ptr<IKeyObject> FeatureAssemblyService::OpenFeature() {
    TraceScope trace(kFile, "OpenFeature");
    return OpenFeature(featureNumber_, featureID_);
}

rt::Variant FeatureAssemblyService::AssembleFeature(const std::shared_ptr<IComponents>& oComponents) {
    TraceScope trace(kFile, "AssembleFeature");
    try {
        if (featureNumber_ == -1) RaiseError(1, MessageText(kMsgSource), rt::Variant(MessageText(kMsgNoFeatureNumber)));
        trace.Pathway("Make sure the specified FNO is in Metadata.");
        // The copies may show another number (another feature opened or
        // created since, or a new data context): read the current one.
        if (filteredFNO_ != featureNumber_) {
            if (!dataContext_) RaiseNoDataContext();
            FilterByFeatureNumber(featureNumber_);
        }
        if (!HasRows(featureComponents_)) return rt::Variant::Nothing();
        trace.Pathway("Determine which components make up this feature.");

        auto clones = std::make_shared<ComponentsClone>();
        clones->CopyDataContext(oComponents);
        std::vector<int16_t> CNOs;
        const std::string filter = "QTX_FID = " + std::to_string(featureID_);
        for (featureComponents_->MoveFirst(); !featureComponents_->get_EOF(); featureComponents_->MoveNext()) {
            CNOs.push_back(rt::CInt(featureComponents_->GetValue(rt::Variant("QTX_CNO"))));
            if (IncludeComponent()) {
                std::string name = rt::CStr(featureComponents_->GetValue(rt::Variant("QTX_NAME")));
                clones->AddClone(oComponents->get_Item(rt::Variant(name)), filter, featureID_);
            }
        }
        CacheAttributeInfoByCNO(CNOs, dataContext_->GetMetadataService());

        auto key = KeyObject::New();
        key->put_FNO(featureNumber_);
        key->put_FID(featureID_);
        key->putref_Components(clones);
        return rt::Variant(std::static_pointer_cast<rt::Object>(key));
    } catch (const rt::ComError& e) {
        trace.Error(e);
        trace.Exit();
        RaiseError(e.Number(), e.Source(), rt::Variant(e.Description()));
    }
}

bool FeatureAssemblyService::MergeFeatureCNOs(const std::shared_ptr<ado::Recordset>& clone, int16_t FNO,
                                              std::vector<int16_t>& FNOs, std::vector<int16_t>& CNOs) {
    clone->put_Filter(rt::Variant("QTX_FNO = " + std::to_string(FNO)));
    if (!HasRows(clone)) return false;
    if (Contains(FNOs, FNO)) return false;
    bool first = FNOs.empty();
    FNOs.push_back(FNO);
    if (first) CNOs.clear();
    for (clone->MoveFirst(); !clone->get_EOF(); clone->MoveNext()) {
        int16_t cno = rt::CInt(clone->GetValue(rt::Variant("QTX_CNO")));
        if (first || !Contains(CNOs, cno)) CNOs.push_back(cno);
    }
    return true;
}

std::shared_ptr<IComponents> FeatureAssemblyService::AssembledComponents(const std::shared_ptr<IComponents>& collection) {
    rt::Variant assembled = AssembleFeature(collection);
    // A feature number without components gives no view to take components from.
    if (assembled.IsNothing()) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    return rt::QueryInterface<IKeyObject>(assembled.Obj())->get_Components();
}

std::shared_ptr<IComponents> FeatureAssemblyService::OpenFeatures(const std::shared_ptr<IKeyObjects>& Features) {
    if (!Features) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    if (Features->get_Count() < 1) rt::RaiseVbError(rt::vberr::SubscriptOutOfRange);
    if (!featureComponents_ || !dataContext_) RaiseNoDataContext();
    auto members = RequireEach(Features->get_NewEnum());
    std::vector<int32_t> FIDs;
    std::vector<int16_t> FNOs, CNOs;
    auto clone = featureComponents_->Clone();
    for (const auto& key : members) {
        FIDs.push_back(key->get_FID());
        MergeFeatureCNOs(clone, key->get_FNO(), FNOs, CNOs);
    }
    auto collection = NewComponentsCollection(true);
    if (CNOs.empty()) rt::RaiseVbError(rt::vberr::SubscriptOutOfRange);
    rt::Variant fidList = LongArray(FIDs);
    for (int16_t cno : CNOs) collection->AddComponentByCNO(cno, fidList);
    CacheAttributeInfoByCNO(CNOs, dataContext_->GetMetadataService());
    for (const auto& key : members) {
        put_FeatureNumber(key->get_FNO());
        put_FeatureID(key->get_FID());
        key->putref_Components(AssembledComponents(collection));
    }
    return collection;
}

void FeatureAssemblyService::OpenFeatures(const std::shared_ptr<IKeyObjects>& Features, bool DisableInterfaces) {
    const std::string procedure = "IFeatureAssemblyService_OpenFeatures";
    TraceScope trace(kFile, procedure);
    if (!Features) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    TraceArgumentsText(trace, procedure, "There are " + std::to_string(Features->get_Count()) + " features to open.");
    if (Features->get_Count() < 1) rt::RaiseVbError(rt::vberr::SubscriptOutOfRange);
    if (!featureComponents_ || !dataContext_) RaiseNoDataContext();

    std::vector<int32_t> FIDs;
    std::vector<int16_t> FNOs, CNOs;
    auto toOpen = KeyObjects::New();
    trace.Pathway("Get the metadata recordset.");
    auto clone = featureComponents_->Clone();
    trace.Pathway("Loop through the key objects passed in to the function.");
    // A Nothing among them is refused before any key takes cached components.
    const auto members = RequireEach(Features->get_NewEnum());
    for (const auto& key : members) {
        trace.Pathway("Check to see if this feature is in the cache.");
        if (CachingEnabled()) {
            if (auto cached = FindFeatureInCache(key->get_FNO(), key->get_FID())) {
                trace.Pathway("The feature was in the cache.");
                key->putref_Components(cached->get_Components());
                continue;
            }
        }
        trace.Pathway("The feature was not in the cache.");
        toOpen->Add(key);
        trace.Pathway("Add this feature's FID to the FID List.");
        FIDs.push_back(key->get_FID());
        MergeFeatureCNOs(clone, key->get_FNO(), FNOs, CNOs);
    }
    trace.Pathway("Check to see if there are any features to open.");
    trace.Value("oFeaturesToOpen.Count", rt::Variant(toOpen->get_Count()));
    if (toOpen->get_Count() == 0) return;

    auto collection = NewComponentsCollection(true);
    if (CNOs.empty()) rt::RaiseVbError(rt::vberr::SubscriptOutOfRange);
    rt::Variant fidList = LongArray(FIDs);
    for (int16_t cno : CNOs) collection->AddComponentByCNO(cno, fidList);
    if (DisableInterfaces) {
        for (const auto& component : collection->get_NewEnum()) {
            component->put_AttributeEditControlEnabled(false);
            component->put_FunctionalInterfacesEnabled(false);
        }
    }
    CacheAttributeInfoByCNO(CNOs, dataContext_->GetMetadataService());

    for (const auto& key : toOpen->get_NewEnum()) {
        if (key->get_Components()) continue;
        put_FeatureNumber(key->get_FNO());
        put_FeatureID(key->get_FID());
        rt::Variant assembled = AssembleFeature(collection);
        if (assembled.IsNothing()) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
        auto view = rt::QueryInterface<IKeyObject>(assembled.Obj());
        key->putref_Components(view->get_Components());
        if (CachingEnabled()) AddFeatureToCache(view);
    }
    if (CachingEnabled()) AddComponentsToCache(collection);
}

// ---- saving ----

namespace {

// The Components behind an interface pointer, or nullptr.
const Components* CollectionOf(const std::shared_ptr<IComponents>& components) {
    return rt::TryQueryInterface<Components>(components).get();
}

}  // namespace

void FeatureAssemblyService::UpdateFeature(const std::shared_ptr<IKeyObject>& oKeyObject) {
    if (!oKeyObject) return;
    auto components = FeatureComponents(oKeyObject);
    // A view's rows are its collection's: with that collection cached, the
    // cache's save stores them, as it stores a feature opened alone. Else no
    // save of this key ever would, and saying success would lose the edits.
    if (auto view = rt::TryQueryInterface<ComponentsClone>(components)) {
        auto source = view->SourceCollection();
        const auto& cached = FeatureCache().cachedCollections;
        if (!CachingEnabled() || !source || !cached.count(rt::ObjectPtrOf(source).get()))
            rt::RaiseVbError(rt::vberr::TypeMismatch);
    }
    components->Update();
}

void FeatureAssemblyService::UpdateFeatures(const std::shared_ptr<IKeyObjects>& oKeyObjects) {
    // Callers reach this member directly, past the dispatch table that
    // names the class.
    struct Offer {
        std::shared_ptr<IKeyObject> member;
        bool turnedAway;
    };
    const auto offers = InClassModule(TypeName(), [&] {
        if (!oKeyObjects) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
        std::vector<Offer> offers;
        // Every copy of a feature offered, not only the one the collection
        // kept under its key: each holds edits of its own.
        if (auto own = rt::TryQueryInterface<KeyObjects>(oKeyObjects)) {
            for (auto& o : own->Offers()) offers.push_back({std::move(o.member), o.turnedAway});
        } else {
            for (auto& member : oKeyObjects->get_NewEnum()) offers.push_back({std::move(member), false});
        }
        for (const auto& o : offers) RequireObjects(o.member);
        return offers;
    });
    if (!rt::IsClassRegistered(kComponentDatabaseServiceProgId)) RegisterComponentDatabaseService();
    auto service =
        rt::QueryInterface<IComponentDatabaseService>(rt::CreateObject(kComponentDatabaseServiceProgId));
    service->putref_DataContext(dataContext_);
    service->BeginComponentOperations();
    // The collections this save holds, wherever they come in it. Refused,
    // whatever refused it, the save gives their rows back as the caller set
    // them, also those of collections it had passed.
    std::unordered_set<const Components*> held;
    std::vector<Component::RowsAsSet> before;
    for (const auto& o : offers)
        if (auto c = rt::TryQueryInterface<Components>(o.member->get_Components()); c && held.insert(c.get()).second) {
            auto rows = Component::RowsAsSetOf(c->Members());
            before.insert(before.end(), rows.begin(), rows.end());
        }
    try {
        // A collection held by several keys is saved once: its rows are queued once.
        std::unordered_set<const Components*> saved;
        for (const auto& o : offers) {
            auto own = o.member->get_Components();
            // A copy Add turned away with nothing of its own to save (no
            // components, or a view whose collection is saved here anyway) is
            // passed over, as Add passed it over.
            if (o.turnedAway) {
                if (!own) continue;
                auto view = rt::TryQueryInterface<ComponentsClone>(own);
                if (view && held.count(CollectionOf(view->SourceCollection()))) continue;
            }
            // Only the system's own collection hands its rows over (13 for a clone).
            auto components = rt::QueryInterface<Components>(own);
            if (!saved.insert(components.get()).second) continue;
            components->UpdateComponents(service);
        }
        service->EndComponentOperations();
    } catch (const rt::ComError&) {
        Component::GiveBack(before);
        throw;
    }
}

// ---- creation ----

std::shared_ptr<IKeyObjects> FeatureAssemblyService::NewConfiguration(int32_t PCNO) {
    TraceScope trace(kFile, "NewConfiguration");
    return NewPlacementConfiguration(PCNO);
}

std::shared_ptr<IKeyObject> FeatureAssemblyService::NewFeature(int32_t Options) {
    TraceScope trace(kFile, "NewFeature");
    return NewFeature(featureNumber_, Options);
}

// IFeatureAssemblyService.NewFeature and NewPlacementConfiguration are in
// FeatureAssemblyServiceCreate.cpp.

// ---- late binding ----

namespace {

std::shared_ptr<IDataContext> DataContextArg(const rt::Variant& v) {
    if (v.IsNothing()) return nullptr;
    return rt::QueryInterface<IDataContext>(v.Obj());
}

using rt::ObjectArgument;

// A Boolean argument as VB tests it against True: only -1 is True.
bool IsTrue(const rt::Variant& v) {
    if (v.IsMissing() || v.IsEmpty()) return false;
    return rt::CLng(v) == -1;
}

int32_t OptionsArg(const rt::Variant& v) { return v.IsMissing() ? int32_t{qzfasIgnoreNone} : rt::CLng(v); }

const rt::DispatchTable<FeatureAssemblyService>& Dispatch() {
    using S = FeatureAssemblyService;
    static const auto table =
        rt::DispatchTable<S>().ClassModuleOf(kProjectName)
            .Let("ComponentRetrievalMode", 1,
                 [](S& s, const rt::Variant& v) { s.put_ComponentRetrievalMode(rt::CInt(v)); })
            .Get("ComponentRetrievalMode", 1, [](S& s) { return rt::Variant(s.get_ComponentRetrievalMode()); })
            .Method("AssembleFeature", 2, 1, 1,
                    [](S& s, rt::Args& a) { return s.AssembleFeature(ObjectArgument<IComponents>(a[0])); })
            .Method("NewConfiguration", 3, 1, 1,
                    [](S& s, rt::Args& a) { return rt::Variant(s.NewConfiguration(rt::CLng(a[0]))); })
            .Method("NewFeature", 4, 0, 2,
                    [](S& s, rt::Args& a) {
                        // One argument: the default face's options; two: a
                        // feature number and options.
                        if (a.size() < 2 || a[1].IsMissing()) return rt::Variant(s.NewFeature(OptionsArg(a.size() ? a[0] : rt::Variant::Missing())));
                        return rt::Variant(s.NewFeature(rt::CInt(a[0]), OptionsArg(a[1])));
                    })
            .Method("OpenFeature", 5, 0, 2,
                    [](S& s, rt::Args& a) {
                        if (a.empty() || a[0].IsMissing()) return rt::Variant(s.OpenFeature());
                        return rt::Variant(s.OpenFeature(rt::CInt(a[0]), rt::CLng(a[1])));
                    })
            .Method("OpenFeatures", 6, 1, 2,
                    [](S& s, rt::Args& a) {
                        auto features = ObjectArgument<IKeyObjects>(a[0]);
                        if (a.size() < 2 || a[1].IsMissing()) return rt::Variant(s.OpenFeatures(features));
                        s.OpenFeatures(features, IsTrue(a[1]));
                        return rt::Variant();
                    })
            .Set("DataContext", 7, [](S& s, const rt::Variant& v) { s.putref_DataContext(DataContextArg(v)); })
            .Get("DataContext", 7, [](S& s) { return rt::Variant(s.get_DataContext()); })
            .Let("FeatureID", 8, [](S& s, const rt::Variant& v) { s.put_FeatureID(rt::CLng(v)); })
            .Get("FeatureID", 8, [](S& s) { return rt::Variant(s.get_FeatureID()); })
            .Let("FeatureNumber", 9, [](S& s, const rt::Variant& v) { s.put_FeatureNumber(rt::CInt(v)); })
            .Get("FeatureNumber", 9, [](S& s) { return rt::Variant(s.get_FeatureNumber()); })
            .Method("UpdateFeature", 10, 1, 1,
                    [](S& s, rt::Args& a) {
                        s.UpdateFeature(ObjectArgument<IKeyObject>(a[0]));
                        return rt::Variant();
                    })
            .Method("UpdateFeatures", 11, 1, 1, [](S& s, rt::Args& a) {
                s.UpdateFeatures(ObjectArgument<IKeyObjects>(a[0]));
                return rt::Variant();
            });
    return table;
}

}  // namespace

rt::Variant FeatureAssemblyService::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    return Dispatch().Invoke(*this, name, kind, args);
}

rt::Variant FeatureAssemblyService::InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) {
    return Dispatch().InvokeDispId(*this, dispId, kind, args);
}

void RegisterFeatureAssemblyService() {
    rt::RegisterClass(kFeatureAssemblyServiceProgId, "{7A3E5C94-1D2B-4F6A-8C4E-2B9D0F1A3C55}",
                      [] { return std::make_shared<FeatureAssemblyService>(); });
}

namespace {
[[maybe_unused]] const bool kRegistered = [] {
    RegisterFeatureAssemblyService();
    return true;
}();
}  // namespace

}  // namespace pelmora
