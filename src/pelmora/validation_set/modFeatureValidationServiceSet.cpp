// The validation set: opening its features, the apartment's bookmark index
// of its relationship rows, and the feature and geometry lookups of the
// relationship helpers.
#include "pelmora/validation_set/modFeatureValidationServiceSet.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ado/Recordset.h"
#include "pelmora/common/DistinctItemColl.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/features/Component.h"
#include "pelmora/features/ComponentClone.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "pelmora/common/FeatureComponents.h"
#include "pelmora/features/KeyObject.h"
#include "pelmora/features/KeyObjects.h"
#include "pelmora/features/modFASCache.h"
#include "interfaces/Components.h"
#include "interfaces/DataContext.h"
#include "interfaces/Geometry.h"
#include "interfaces/MetadataService.h"
#include "interfaces/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataUtils.h"
#include "pelmora/attribute_validation/AttributeValidationService.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "runtime/Error.h"
#include "runtime/Object.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

// More features than a 16-bit counter of the feature checks can walk.
constexpr int32_t kMaxFeatures = 32767;
constexpr int16_t kTooManyFeaturesMessage = 27784;
constexpr int16_t kTooManyFeaturesLimitMessage = 27785;
constexpr int16_t kTooManyFeaturesAdviceMessage = 27786;

// One set's index.
struct IndexEntry {
    std::shared_ptr<rt::Collection> bookmarks;
    // The set the bookmarks were taken from; held weakly, the run owns it.
    std::weak_ptr<ado::Recordset> recordset;
    // A clone of that set through which the indexed rows are read by
    // bookmark: the set itself keeps its filter, sort and current row, and a
    // lookup costs the rows it reads rather than two filters over the set.
    std::shared_ptr<ado::Recordset> rows;
    // Where rows holds QTX_FNO, QTX_FID and QTX_RNO, once a lookup found them.
    std::optional<std::array<int32_t, 3>> columns;
};

struct ValidationSetIndexState {
    // The apartment's index: the last one built, until it is released.
    std::shared_ptr<IndexEntry> current;
    // The indexes of the runs under way (ValidationSetIndexHold), innermost
    // last: a run that outlives another's index still finds its own.
    std::vector<std::shared_ptr<IndexEntry>> held;
};

ValidationSetIndexState& IndexState() { return rt::Apartment::Current().Get<ValidationSetIndexState>(); }

// The index built from rs: the apartment's, else that of a run under way.
std::shared_ptr<IndexEntry> IndexOf(const std::shared_ptr<ado::Recordset>& rs) {
    if (!rs) return nullptr;
    auto& state = IndexState();
    auto belongs = [&rs](const std::shared_ptr<IndexEntry>& e) { return e && e->bookmarks && e->recordset.lock() == rs; };
    if (belongs(state.current)) return state.current;
    for (auto it = state.held.rbegin(); it != state.held.rend(); ++it)
        if (belongs(*it)) return *it;
    return nullptr;
}

// VB's "value = number": Null and Empty-versus-number mismatches are no match.
bool HoldsNumber(const rt::Variant& value, int16_t number) {
    auto order = rt::VbCompare(value, rt::Variant(number));
    return order && *order == 0;
}

void AppendBookmark(rt::Collection& index, const rt::Variant& key, const rt::Variant& bookmark) {
    std::optional<rt::Variant> found = index.TryItem(key);
    if (!found) {
        index.Add(rt::Variant::ArrayOf({bookmark}), key);
        return;
    }
    rt::Variant bookmarks = std::move(*found);
    found.reset();
    // Taken out first, so that the array is grown in place, not copied.
    index.Remove(key);
    const int32_t last = rt::UBound(bookmarks) + 1;
    rt::ReDimPreserve(bookmarks, 0, last);
    bookmarks.ArrayMut()->Set(last, bookmark);
    index.Add(bookmarks, key);
}

// The bookmarks a walk of the set files under related feature ids, written
// into the index when the walk ends (or fails). AppendBookmark takes an id's
// array out and adds it again, so the index holds the ids in the order of
// their last row; filed here, an id's array is found by a lookup rather than
// a walk of the index, and the index gets the same order. An empty id (whose
// key the index cannot find again) or one beyond ASCII replays the walk
// through AppendBookmark.
class PendingIndex {
public:
    void Append(std::string key, rt::Variant bookmark) {
        // Ids are numbers; a key of another kind is filed as the index would.
        const bool ascii =
            std::all_of(key.begin(), key.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        if (key.empty() || !ascii) exact_ = false;
        log_.emplace_back(std::move(key), std::move(bookmark));
    }

    void WriteTo(rt::Collection& index) {
        std::vector<std::pair<std::string, rt::Variant>> log;
        log.swap(log_);
        if (!exact_) {
            for (const auto& [key, bookmark] : log) AppendBookmark(index, rt::Variant(key), bookmark);
            return;
        }
        struct Entry {
            std::string key;
            std::vector<rt::Variant> bookmarks;
            size_t last = 0;
        };
        std::vector<Entry> entries;
        std::unordered_map<std::string, size_t> byKey;
        for (size_t i = 0; i < log.size(); ++i) {
            auto [it, added] = byKey.try_emplace(rt::LCase(log[i].first), entries.size());
            if (added) entries.push_back({log[i].first, {}, 0});
            Entry& entry = entries[it->second];
            entry.bookmarks.push_back(std::move(log[i].second));
            entry.last = i;
        }
        std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.last < b.last; });
        for (const Entry& entry : entries) index.Add(rt::Variant::ArrayOf(entry.bookmarks, 0), rt::Variant(entry.key));
    }

private:
    std::vector<std::pair<std::string, rt::Variant>> log_;
    bool exact_ = true;
};

// The features whose class has component metadata. Opening one without
// would end the whole run; left without components, it gets its own finding
// from the feature checks instead.
std::shared_ptr<KeyObjects> WithComponentMetadata(const std::shared_ptr<KeyObjects>& features,
                                                  const std::shared_ptr<IDataContext>& DataContext) {
    auto placed = KeyObjects::New();
    if (features->get_Count() == 0) return placed;
    RequireObject(DataContext != nullptr);
    auto metadata = DataContext->GetMetadataService();
    RequireObject(metadata != nullptr);
    auto components =
        metadata->get_Recordsets()->get_Item(rt::Variant("QTX_FEATURECOMPS_OPTABLE"))->get_Recordset("", "");
    std::map<int16_t, bool> hasComponents;
    for (const auto& feature : features->get_NewEnum()) {
        const int16_t fno = feature->get_FNO();
        auto [known, fresh] = hasComponents.try_emplace(fno, false);
        if (fresh) {
            components->put_Filter(rt::Variant("QTX_FNO = " + std::to_string(fno)));
            known->second = !(components->get_BOF() && components->get_EOF());
        }
        if (known->second) placed->Add(feature);
    }
    return placed;
}

[[noreturn]] void RaiseTooManyFeatures(int32_t count) {
    std::string text2 = MessageObject()->GetMessageText(kTooManyFeaturesLimitMessage, 0) + "\r\n" +
                        MessageObject()->GetMessageText(kTooManyFeaturesAdviceMessage, 0);
    RaiseError(1, kValidationSetSource,
               rt::Variant(LoadResStringWithParam(kTooManyFeaturesMessage, std::to_string(count))), rt::Variant::Missing(),
               rt::Variant(text2));
}

}  // namespace

std::shared_ptr<rt::Collection> ValidationSetIndex() {
    const auto& current = IndexState().current;
    return current ? current->bookmarks : nullptr;
}

void ReleaseValidationSetIndex() { IndexState().current.reset(); }

bool ValidationSetIndexBelongsTo(const std::shared_ptr<ado::Recordset>& rs) { return IndexOf(rs) != nullptr; }

bool PendingIs(const rt::Variant& Pending, int16_t Number) { return HoldsNumber(Pending, Number); }

// A set without an index is held as Nothing, which IndexOf passes over.
ValidationSetIndexHold::ValidationSetIndexHold(const std::shared_ptr<ado::Recordset>& rs) {
    IndexState().held.push_back(IndexOf(rs));
}

ValidationSetIndexHold::~ValidationSetIndexHold() {
    auto& held = IndexState().held;
    if (!held.empty()) held.pop_back();
}

void GetValidationKOCollection(const std::shared_ptr<ado::Recordset>& rs,
                               std::shared_ptr<IKeyObjects>& cValFeatures,
                               std::shared_ptr<IComponents>& cValComponents,
                               const std::shared_ptr<IDataContext>& DataContext, int32_t& nCount) {
    // A new entry: a run under way that holds the one before keeps it whole.
    auto entry = std::make_shared<IndexEntry>();
    IndexState().current = entry;
    entry->bookmarks = rt::Collection::New();
    entry->recordset = rs;
    auto& index = *entry->bookmarks;
    nCount = 0;
    auto features = KeyObjects::New();
    cValFeatures = features;

    RequireObject(rs != nullptr);
    if (rs->get_BOF() && rs->get_EOF()) return;
    entry->rows = rs->Clone(ado::adLockReadOnly);
    rs->MoveFirst();
    auto fields = rs->get_Fields();
    auto fnoField = fields->Item(std::string("QTX_FNO"));
    auto fidField = fields->Item(std::string("QTX_FID"));
    auto pendingField = fields->Item(std::string("PENDING"));
    auto relatedFidField = fields->Item(std::string("QTX_RELATED_FID"));

    PendingIndex filed;
    try {
        while (!rs->get_EOF()) {
            auto feature = KeyObject::New();
            feature->put_FNO(rt::CInt(fnoField->get_Value()));
            feature->put_FID(rt::CLng(fidField->get_Value()));
            bool added = false;
            if (feature->get_FNO() != 0 && feature->get_FID() != 0) {
                const int32_t before = features->get_Count();
                features->Add(feature);
                added = features->get_Count() > before;
            }
            rt::Variant pending = pendingField->get_Value();
            if (PendingIs(pending, 1)) {
                // The feature checks walk the first nCount features as the pending
                // ones: a repeated feature, or one left out, must not count.
                if (added) ++nCount;
            } else if (PendingIs(pending, 0)) {
                // A row without a related feature (a set built by hand) relates nothing.
                const rt::Variant relatedFID = relatedFidField->get_Value();
                if (!relatedFID.IsNull() && !relatedFID.IsEmpty())
                    filed.Append(rt::CStr(relatedFID), rs->get_Bookmark());
            }
            rs->MoveNext();
        }
    } catch (...) {
        filed.WriteTo(index);
        throw;
    }
    filed.WriteTo(index);

    const int32_t count = features->get_Count();
    if (count > kMaxFeatures) RaiseTooManyFeatures(count);
    auto placed = WithComponentMetadata(features, DataContext);
    if (placed->get_Count() > 0) {
        auto assembly = std::make_shared<FeatureAssemblyService>();
        assembly->putref_DataContext(DataContext);
        assembly->put_SetBackwardPointers(false);
        cValComponents = assembly->OpenFeatures(placed->get_Count() == count ? features : placed);
    }
}

RunFeaturesScope::RunFeaturesScope(std::shared_ptr<IKeyObjects> Features)
    : finder_([Features = std::move(Features)](const std::shared_ptr<IKeyObject>& Feature) -> std::shared_ptr<IKeyObject> {
          if (!Features || !Feature || CachingEnabled()) return nullptr;
          auto set = std::dynamic_pointer_cast<KeyObjects>(Features);
          if (!set || Feature->get_CNO() != 0 || Feature->get_CID() != 0) return nullptr;
          auto opened = set->Find(BuildKey(Feature->get_FNO(), Feature->get_FID(), 0, 0));
          if (!opened || !opened->get_Components()) return nullptr;
          return opened;
      }) {}

std::shared_ptr<IKeyObject> FindKeyObject(const std::shared_ptr<IKeyObjects>& Features, int16_t FNO, int32_t FID) {
    // The system's own collection answers a key it lacks without an error.
    if (auto own = std::dynamic_pointer_cast<KeyObjects>(Features)) return own->Find(BuildKey(FNO, FID, 0, 0));
    std::shared_ptr<IKeyObject> found;
    rt::ResumeNext lookup;
    lookup([&] {
        RequireObject(Features != nullptr);
        found = Features->get_Item(rt::Variant(BuildKey(FNO, FID, 0, 0)));
    });
    return found;
}

std::shared_ptr<IKeyObjects> GetRelatedFeatures(const std::shared_ptr<ado::Recordset>& rs,
                                                const std::shared_ptr<IKeyObjects>& Features, int16_t RNO) {
    RequireObject(rs != nullptr);
    auto related = KeyObjects::New();
    const int32_t activeFID = rt::CLng(rs->GetValue(rt::Variant("QTX_FID")));

    // Held while it is read: a callback may replace or release the apartment's.
    const std::shared_ptr<IndexEntry> entry = IndexOf(rs);
    if (!entry || !entry->rows) return related;
    IndexEntry& state = *entry;
    const rt::Variant* bookmarks = state.bookmarks->FindKey(std::to_string(activeFID));
    if (!bookmarks) return related;

    ado::Recordset& rows = *state.rows;
    if (!state.columns) {
        // A column the set lacks raises as a lookup by name does.
        std::array<int32_t, 3> found{};
        const char* names[] = {"QTX_FNO", "QTX_FID", "QTX_RNO"};
        for (size_t i = 0; i < found.size(); ++i) {
            found[i] = rows.FieldIndex(names[i]);
            if (found[i] < 0) rows.get_Fields()->Item(std::string(names[i]));
        }
        state.columns = found;
    }
    const auto [fno, fid, rno] = *state.columns;
    for (const rt::Variant& bookmark : bookmarks->Array()->Data()) {
        rows.put_Bookmark(bookmark);
        if (!HoldsNumber(rows.FieldValueRef(rno), RNO)) continue;
        auto feature = FindKeyObject(Features, rt::CInt(rows.FieldValueRef(fno)), rt::CLng(rows.FieldValueRef(fid)));
        if (feature) related->Add(feature);
    }
    return related;
}

void ValidateRelationshipAttributes(const std::shared_ptr<IKeyObject>& ActiveFeature,
                                    const std::shared_ptr<IKeyObjects>& RelatedFeatures, int16_t RelationshipType,
                                    const std::shared_ptr<IDataContext>& DataContext, const std::string& Location,
                                    const std::string& Connection, const std::shared_ptr<ado::Recordset>& rs) {
    RequireObject(ActiveFeature && RelatedFeatures);
    const std::string CNO = ActiveFeature->get_CNO() != 0 ? std::to_string(ActiveFeature->get_CNO()) : "";
    const std::string CID = ActiveFeature->get_CID() != 0 ? std::to_string(ActiveFeature->get_CID()) : "";
    std::shared_ptr<AttributeValidationService> service;
    for (const auto& related : RelatedFeatures->get_NewEnum()) {
        rt::Variant priorities = rt::Variant::ArrayOf({rt::Variant("")}, 0, rt::vbString);
        rt::Variant messages = rt::Variant::ArrayOf({rt::Variant("")}, 0, rt::vbString);
        if (!service) service = std::make_shared<AttributeValidationService>();
        service->putref_DataContext(DataContext);
        service->put_RelationshipType(std::to_string(RelationshipType));
        service->putref_ActiveFeature(ActiveFeature);
        service->putref_RelatedFeature(related);
        service->Validate(priorities, messages);

        // Only the indices both arrays have: one read past the shorter would
        // fail the whole relationship.
        const SharedBounds bounds = SharedArrayBounds(priorities, messages);
        if (bounds.first > bounds.last || ArrayElementText(priorities, bounds.first).empty()) continue;
        for (int32_t i = bounds.first; i <= bounds.last; ++i)
            AddValidationError(rs, ArrayElementText(priorities, i), ArrayElementText(messages, i), Location,
                               Connection, std::to_string(ActiveFeature->get_FNO()),
                               std::to_string(ActiveFeature->get_FID()), CNO, CID);
    }
}

std::shared_ptr<rt::Collection> GetFeatureGeometries(const std::shared_ptr<IKeyObject>& Feature,
                                                     const std::shared_ptr<ado::Recordset>& rs,
                                                     const std::shared_ptr<IMetadataService>& MetadataService,
                                                     const std::shared_ptr<IMetadataRecordsetFilterService>& FilterService,
                                                     const std::shared_ptr<ado::Field>& FNOField,
                                                     const std::shared_ptr<ado::Field>& CNOField, int16_t& CNO,
                                                     ComponentGeometryMemo* Memo) {
    RequireObject(Feature && rs && FilterService);
    return ComponentGeometries(
        Feature,
        GeometryComponentNames(Feature->get_FNO(), rs, MetadataService, FilterService, FNOField, CNOField, CNO, Memo),
        Memo);
}

std::vector<std::string> GeometryComponentNames(int16_t FNO, const std::shared_ptr<ado::Recordset>& rs,
                                                const std::shared_ptr<IMetadataService>& MetadataService,
                                                const std::shared_ptr<IMetadataRecordsetFilterService>& FilterService,
                                                const std::shared_ptr<ado::Field>& FNOField,
                                                const std::shared_ptr<ado::Field>& CNOField, int16_t& CNO,
                                                ComponentGeometryMemo* Memo) {
    RequireObject(rs && FilterService);
    std::vector<std::string> names;
    FilterService->FilterRecordset(rs, FNOField, rt::Variant(FNO));
    if (rs->get_BOF() && rs->get_EOF()) return names;

    DistinctItemColl distinct;
    auto take = [&](int16_t componentNumber) {
        if (Memo) {
            const auto& name = Memo->GeometryComponentName(MetadataService, componentNumber);
            if (name) distinct.Add(rt::Variant(*name));
        } else if (IsGeometryComponent(MetadataService, componentNumber)) {
            distinct.Add(rt::Variant(GetComponentName(MetadataService, componentNumber)));
        }
    };
    if (CNO == 0) {
        RequireObject(CNOField != nullptr);
        for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext()) {
            // A rule row without a triggering component names none.
            const rt::Variant value = CNOField->get_Value();
            if (value.IsNull() || value.IsEmpty()) continue;
            CNO = rt::CInt(value);
            take(CNO);
        }
    } else {
        take(CNO);
    }
    for (const auto& name : distinct.get_NewEnum()) names.push_back(name.Str());
    return names;
}

std::shared_ptr<rt::Collection> ComponentGeometries(const std::shared_ptr<IKeyObject>& Feature,
                                                    const std::vector<std::string>& ComponentNames,
                                                    ComponentGeometryMemo* Memo) {
    RequireObject(Feature != nullptr);
    auto geometries = rt::Collection::New();
    for (const std::string& name : ComponentNames) RecordsetToCollection(Feature, name, geometries, Memo);
    return geometries;
}

const std::optional<std::string>& ComponentGeometryMemo::GeometryComponentName(
    const std::shared_ptr<IMetadataService>& metadata, int16_t cno) {
    if (auto known = geometryNames_.find(cno); known != geometryNames_.end()) return known->second;
    std::optional<std::string> name;
    if (IsGeometryComponent(metadata, cno)) name = GetComponentName(metadata, cno);
    return geometryNames_.emplace(cno, std::move(name)).first->second;
}

const std::string& ComponentGeometryMemo::GeometryTypeText(const std::shared_ptr<IMetadataService>& metadata,
                                                           int16_t cno) {
    if (auto known = geometryTypes_.find(cno); known != geometryTypes_.end()) return known->second;
    std::string type = GetCompGeomType(metadata, cno);
    return geometryTypes_.emplace(cno, std::move(type)).first->second;
}

std::shared_ptr<IFrameworkRecordset> ComponentGeometryMemo::GeometryRecordset(
    const std::vector<rt::ObjectPtr>& geometries, const std::function<std::shared_ptr<IFrameworkRecordset>()>& make) {
    std::vector<const rt::Object*> key;
    key.reserve(geometries.size());
    for (const auto& g : geometries) key.push_back(g.get());
    if (auto kept = geometryRecordsets_.find(key); kept != geometryRecordsets_.end()) return kept->second.rows;
    auto rows = make();
    geometryRecordsets_.emplace(std::move(key), KeptRecordset{geometries, rows});
    return rows;
}

ComponentGeometryMemo::GeometryFacts& ComponentGeometryMemo::KeptFacts(const rt::ObjectPtr& geometry,
                                                                       GeometryFacts (*read)(const rt::ObjectPtr&)) {
    if (auto kept = facts_.find(geometry.get()); kept != facts_.end()) return kept->second.second;
    GeometryFacts facts = read(geometry);
    return facts_.emplace(geometry.get(), std::make_pair(geometry, std::move(facts))).first->second.second;
}

const ComponentGeometryMemo::GeometryFacts& ComponentGeometryMemo::Facts(const rt::ObjectPtr& geometry,
                                                                         GeometryFacts (*read)(const rt::ObjectPtr&)) {
    return KeptFacts(geometry, read);
}

const ComponentGeometryMemo::GeometryFacts& ComponentGeometryMemo::Ends(
    const rt::ObjectPtr& geometry, GeometryFacts (*read)(const rt::ObjectPtr&),
    void (*readEnds)(const rt::ObjectPtr&, GeometryFacts&)) {
    GeometryFacts& facts = KeptFacts(geometry, read);
    if (!facts.endsRead) readEnds(geometry, facts);
    return facts;
}

const std::vector<rt::Variant>* ComponentGeometryMemo::Find(const std::shared_ptr<IComponent>& component,
                                                            const std::shared_ptr<ado::Recordset>& rows) const {
    auto kept = entries_.find(component.get());
    if (kept == entries_.end() || kept->second.rows != rows || kept->second.count != rows->get_RecordCount())
        return nullptr;
    return &kept->second.geometries;
}

void ComponentGeometryMemo::Keep(const std::shared_ptr<IComponent>& component,
                                 const std::shared_ptr<ado::Recordset>& rows, std::vector<rt::Variant> geometries) {
    entries_[component.get()] = Entry{component, rows, rows->get_RecordCount(), std::move(geometries)};
}

std::shared_ptr<IGeometryIndex> ComponentGeometryMemo::GeometryIndex(const std::shared_ptr<ado::Recordset>& geometryRows) {
    if (!geometryRows || !geometryRows->RowsIdentity()) return nullptr;
    KeptIndex& kept = geometryIndexes_[geometryRows->RowsIdentity()];
    // The held rows still on the same family keep its address from being reused.
    if (kept.rows && kept.rows->RowsIdentity() == geometryRows->RowsIdentity() &&
        kept.rowsVersion == geometryRows->RowsVersion() &&
        kept.valuesVersion == geometryRows->ValuesVersion())
        return kept.index;
    if (!geometryService_)
        geometryService_ = rt::QueryInterface<IGeometryService>(rt::CreateObject(kGeometryServiceProgId));
    kept.index = geometryService_->IndexGeometries(geometryRows);
    kept.rows = geometryRows;
    kept.rowsVersion = geometryRows->RowsVersion();
    kept.valuesVersion = geometryRows->ValuesVersion();
    return kept.index;
}

namespace {

// The geometry of the component's current row; a component of the features'
// own kinds finds it in the memo's index of its set's geometry rows.
rt::ObjectPtr CurrentGeometry(const std::shared_ptr<IComponent>& component, ComponentGeometryMemo& memo) {
    auto indexOf = [&memo](const std::shared_ptr<ado::Recordset>& rows) { return memo.GeometryIndex(rows); };
    if (auto clone = std::dynamic_pointer_cast<ComponentClone>(component)) return clone->GeometryThrough(indexOf);
    if (auto whole = std::dynamic_pointer_cast<Component>(component)) return whole->GeometryThrough(indexOf);
    return component->get_Geometry();
}

}  // namespace

void RecordsetToCollection(const std::shared_ptr<IKeyObject>& Feature, const std::string& ComponentName,
                           const std::shared_ptr<rt::Collection>& Geometries, ComponentGeometryMemo* Memo) {
    RequireObjects(Feature, Geometries);
    auto component = FeatureComponent(Feature, ComponentName);
    auto rows = ComponentRowsOf(component);
    if (rows->get_BOF() && rows->get_EOF()) return;
    if (const std::vector<rt::Variant>* kept = Memo ? Memo->Find(component, rows) : nullptr) {
        for (const rt::Variant& geometry : *kept) Geometries->Add(geometry);
        rows->MoveLast();
        rows->MoveNext();
        return;
    }
    std::vector<rt::Variant> read;
    for (rows->MoveFirst(); !rows->get_EOF(); rows->MoveNext()) {
        rt::Variant geometry(Memo ? CurrentGeometry(component, *Memo) : component->get_Geometry());
        Geometries->Add(geometry);
        if (Memo) read.push_back(std::move(geometry));
    }
    if (Memo) Memo->Keep(component, rows, std::move(read));
}

}  // namespace pelmora
