// Every public member of every creatable class and of every relationship
// helper type, called as a careless caller would: with Nothing, Empty, Null,
// numbers, text, an object of another class, feature keys without
// components (known, unknown and zero FNOs), before and after set-up. A call
// passes when it answers or raises; no call may take the process down or
// leave the database changed. A crash names the call it happened in.
#include "RelationshipTestSupport.h"
#include "SweepSupport.h"

#include <sqlite3.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <optional>
#include <set>
#include <stdexcept>

#include "pelmora/common/FastString.h"
#include "pelmora/features/Components.h"
#include "pelmora/features/ComponentsClone.h"
#include "pelmora/features/KeyObject.h"
#include "pelmora/features/KeyObjects.h"
#include "interfaces/FeatureAssemblyService.h"
#include "pelmora/metadata/MetadataRecordset.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataRecordsets.h"
#include "pelmora/attribute_validation/AttributeValidationService.h"
#include "pelmora/validation/FeatureValidationService.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "runtime/Collection.h"
#include "support/CallersComponent.h"
#include "validation/ValidationSetTestSupport.h"

using pelmora_test::CallersComponent;
using relationshiptest::RelationshipServiceFixture;

namespace {

// The rows of every table of the database, hashed. Sequences are left out:
// taking a number from one is no write, and a new feature takes one.
uint64_t DatabaseFingerprint(sqlite3* db) {
    std::vector<std::string> tables;
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(
        db, "SELECT name FROM sqlite_master WHERE type = 'table' AND name <> 'PELMORA_SEQUENCES' ORDER BY name", -1,
        &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW)
        tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
    uint64_t hash = 1469598103934665603ull;
    auto mix = [&hash](const void* data, size_t n) {
        for (size_t i = 0; i < n; ++i) hash = (hash ^ static_cast<const unsigned char*>(data)[i]) * 1099511628211ull;
    };
    for (const auto& table : tables) {
        mix(table.data(), table.size());
        sqlite3_prepare_v2(db, ("SELECT * FROM \"" + table + "\"").c_str(), -1, &st, nullptr);
        while (sqlite3_step(st) == SQLITE_ROW)
            for (int i = 0; i < sqlite3_column_count(st); ++i) {
                const unsigned char* text = sqlite3_column_text(st, i);
                mix(text ? text : reinterpret_cast<const unsigned char*>("\x01"),
                    text ? static_cast<size_t>(sqlite3_column_bytes(st, i)) : 1);
                mix("|", 1);
            }
        sqlite3_finalize(st);
    }
    return hash;
}

std::shared_ptr<pelmora::KeyObject> KeyWithoutComponents(int16_t fno, int32_t fid = 1) {
    auto key = pelmora::KeyObject::New();
    key->put_FNO(fno);
    key->put_FID(fid);
    return key;
}

using KeyList = std::vector<std::shared_ptr<pelmora::IKeyObject>>;

// A caller's own collection of feature keys: the items it was given, Nothing
// among them if so, and the Count it was told, which may be more than it
// holds. Item answers Nothing past its items and for a key it lacks.
class CallersKeys : public rt::Object, public pelmora::IKeyObjects {
public:
    CallersKeys(KeyList items, int32_t count) : items_(std::move(items)), count_(count) {}
    void Add(const std::shared_ptr<pelmora::IKeyObject>& key) override { items_.push_back(key); }
    void Remove(const std::shared_ptr<pelmora::IKeyObject>&) override {}
    void Clear() override { items_.clear(); }
    int32_t get_Count() override { return count_; }
    std::shared_ptr<pelmora::IKeyObject> get_Item(const rt::Variant& index) override {
        if (index.IsString()) {
            for (const auto& key : items_)
                if (key && pelmora::BuildKey(key->get_FNO(), key->get_FID(), 0, 0) == index.Str()) return key;
            return nullptr;
        }
        const size_t at = static_cast<size_t>(rt::CLng(index));
        return at >= 1 && at <= items_.size() ? items_[at - 1] : nullptr;
    }
    KeyList get_NewEnum() override { return items_; }

private:
    KeyList items_;
    int32_t count_;
};

struct Value {
    std::string name;
    rt::Variant value;
};

class CarelessCallerSweep : public RelationshipServiceFixture {
protected:
    void SetUp() override {
        RelationshipServiceFixture::SetUp();
        auto rows =
            metadata_->get_Recordsets()->get_Item(rt::Variant("QTX_FEATRELATIONSHIPS_OPTABLE"))->get_Recordset("", "");
        for (; !rows->get_EOF(); rows->MoveNext()) {
            fnos_.insert(rt::CInt(rows->GetValue(rt::Variant("QTX_FNO"))));
            rnos_.insert(rt::CInt(rows->GetValue(rt::Variant("QTX_RNO"))));
        }
        auto relationships =
            metadata_->get_Recordsets()->get_Item(rt::Variant("QTX_RELATIONSHIPS_OPTABLE"))->get_Recordset("", "");
        for (; !relationships->get_EOF(); relationships->MoveNext())
            rnos_.insert(rt::CInt(relationships->GetValue(rt::Variant("QTX_RNO"))));
        fingerprint_ = Fingerprint();
    }

    uint64_t Fingerprint() { return DatabaseFingerprint(sqlite_->Connection().Handle()); }

    // Runs one call; what it raises is its answer (the number is returned).
    // Anything but a COM error escaping fails the case. A run-time error that
    // leaves a member of a class says where it happened: it has a source
    // unless the call never reached a member (438, 449, 450).
    int32_t Run(const std::string& call, const std::function<void()>& f, bool withSource = false) {
        ++calls_;
        const auto e = sweeptest::RunRow(call, f);
        if (!e) return 0;
        const std::set<int32_t> notReached{rt::vberr::ObjectDoesNotSupportMember, rt::vberr::ArgumentNotOptional,
                                           rt::vberr::WrongNumberOfArguments};
        if (withSource && e->Source().empty() && !notReached.count(e->Number()) && unsourced_.size() < 5)
            unsourced_.push_back(call + " raised " + std::to_string(e->Number()) + " without a source");
        return e->Number();
    }
    void ExpectDatabaseUnchanged(const std::string& after) {
        const uint64_t now = Fingerprint();
        EXPECT_EQ(now, fingerprint_) << "the database changed during " << after;
        fingerprint_ = now;
    }

    // Feature keys a careless caller hands over: none, and keys without
    // components of a zero FNO, an unknown one and every FNO that has
    // relationships.
    std::vector<std::pair<std::string, std::shared_ptr<pelmora::IKeyObject>>> FeatureKinds() const {
        std::vector<std::pair<std::string, std::shared_ptr<pelmora::IKeyObject>>> kinds{
            {"Nothing", nullptr}, {"key FNO 0", KeyWithoutComponents(0)}, {"key FNO 9999", KeyWithoutComponents(9999)}};
        for (int16_t fno : fnos_) kinds.push_back({"key FNO " + std::to_string(fno), KeyWithoutComponents(fno)});
        return kinds;
    }

    std::vector<Value> ValueKinds() const {
        std::vector<Value> kinds{{"Nothing", rt::Variant::Nothing()},
                                 {"Empty", rt::Variant()},
                                 {"Null", rt::Variant::Null()},
                                 {"0", rt::Variant(int16_t{0})},
                                 {"9999", rt::Variant(int16_t{9999})},
                                 {"-1&", rt::Variant(int32_t{-1})},
                                 {"\"x\"", rt::Variant("x")},
                                 {"FastString", rt::Variant(rt::ObjectPtrOf(std::make_shared<pelmora::FastString>()))}};
        for (int16_t rno : rnos_) kinds.push_back({std::to_string(rno), rt::Variant(rno)});
        for (auto& [name, key] : FeatureKinds())
            if (key) kinds.push_back({name, rt::Variant(rt::ObjectPtrOf(key))});
        auto keys = pelmora::KeyObjects::New();
        keys->Add(KeyWithoutComponents(*fnos_.begin()));
        kinds.push_back({"KeyObjects", rt::Variant(rt::ObjectPtrOf(keys))});
        auto holed = std::make_shared<CallersKeys>(KeyList{KeyWithoutComponents(*fnos_.begin()), nullptr}, 2);
        kinds.push_back({"a caller's KeyObjects holding Nothing", rt::Variant(rt::ObjectPtrOf(holed))});
        return kinds;
    }

    pelmora_test::FatalSignalNamer namer_;  // a crash names the call under way
    std::set<int16_t> fnos_, rnos_;
    uint64_t fingerprint_ = 0;
    int calls_ = 0;
    std::vector<std::string> unsourced_;
};

struct ClassMembers {
    const char* progId;
    std::vector<const char*> members;
};

const std::vector<ClassMembers> kCreatableClasses = {
    {"QzPelmora.MetadataService",
     {"CacheDirectory", "CacheFormat", "CacheMode", "Configuration", "Fetch", "IsRoleGranted", "Recordsets", "Refresh",
      "RefreshDynamicEdits", "SaveConfiguration"}},
    {"QzPelmora.MetadataRecordsets", {"AppendRecordset", "Count", "Item", "NewEnum"}},
    {"QzPelmora.MetadataRecordsetFilterService",
     {"CacheRecordset", "Clear", "FilterDistinct", "FilterRecordset", "Find"}},
    {"QzPelmora.MetadataServiceHelper", {"GetRoles", "SetConfiguration"}},
    {"QzPelmora.KeyObject", {"CID", "CNO", "Components", "FID", "FNO"}},
    {"QzPelmora.KeyObjects", {"Add", "Clear", "Count", "Item", "NewEnum", "Remove", "_NewEnum"}},
    {"QzPelmora.Components",
     {"DataContext", "AddComponentByCNO", "AddComponentByRecordset", "Count", "GetComponent", "Item", "Refresh",
      "Update"}},
    {"QzPelmora.ComponentsClone",
     {"DataContext", "AddComponentByCNO", "AddComponentByRecordset", "Count", "GetComponent", "Item", "Refresh",
      "Update"}},
    {"QzPelmora.ComponentClone",
     {"DataContext", "AddFID", "AttributeEditControlEnabled", "CNO", "Filter", "FunctionalInterfacesEnabled",
      "Geometry", "Name", "Recordset", "RecordsetLocal", "TableName", "Update"}},
    {"QzPelmora.ComponentService",
     {"CIDList", "ComponentID", "ComponentName", "DeleteOccurrence", "Geometry", "NewOccurrence", "Value"}},
    {"QzPelmora.FeatureAssemblyService",
     {"DataContext", "AssembleFeature", "ComponentRetrievalMode", "FeatureID", "FeatureNumber", "NewConfiguration",
      "NewFeature", "OpenFeature", "OpenFeatures", "UpdateFeature", "UpdateFeatures"}},
    {"QzPelmora.BulkEditService", {"DataContext", "ConstructMergedComponents", "SaveCommonEdits"}},
    {"QzPelmora.ComponentDatabaseService",
     {"DataContext", "BeginComponentOperations", "UpdateComponent", "CancelComponentOperations",
      "EndComponentOperations", "WOSEndComponentOperations"}},
    {"QzPelmora.RelationshipService",
     {"DataContext", "ReciprocalRelationship", "RelationshipName", "RelationshipType", "SubordinateRelationship",
      "AllApplicableRelationships", "DeleteRelationship", "GetCandidateFeatures", "GetRelatedFeatures",
      "GetRelatedFeaturesHierarchy", "SilentEstablishByFeature", "SilentEstablish", "ValidateCandidate"}},
    {"QzPelmora.AttributeValidationService",
     {"DataContext", "ActiveFeature", "RelatedFeature", "RelatedComponent", "RelationshipType", "Execute", "Validate",
      "ValidateAttributes"}},
    {"QzPelmora.FeatureValidationService", {"DataContext", "ValidateFeatures", "ValidatePendingEdits"}},
};

const char* KindName(rt::InvokeKind kind) {
    switch (kind) {
        case rt::InvokeKind::Method:
            return "call";
        case rt::InvokeKind::PropertyGet:
            return "get";
        case rt::InvokeKind::PropertyLet:
            return "let";
        case rt::InvokeKind::PropertySet:
            return "set";
    }
    return "";
}

TEST_F(CarelessCallerSweep, EveryMemberOfEveryCreatableClassAnswersOrRaises) {
    const auto values = ValueKinds();
    for (const auto& cls : kCreatableClasses) {
        for (bool setUp : {false, true}) {
            for (const char* member : cls.members) {
                // One object per member, so that a member that spoils its
                // object's state does not hide what the next one does.
                auto object = rt::CreateObject(cls.progId);
                if (setUp)
                    Run(std::string(cls.progId) + ".DataContext set up", [&] {
                        rt::CallByName(object, "DataContext", rt::InvokeKind::PropertySet, {rt::Variant(sqlite_)});
                    });
                for (auto kind : {rt::InvokeKind::Method, rt::InvokeKind::PropertyGet, rt::InvokeKind::PropertyLet,
                                  rt::InvokeKind::PropertySet}) {
                    // The first n-1 arguments of one kind and the last of
                    // another: (feature, feature, number) and (feature,
                    // number) pairs reach the helpers behind the services.
                    for (size_t n = 0; n <= 4; ++n) {
                        // Empty converts to every argument type: a member
                        // or count the class lacks is refused whatever the
                        // values, so the sweep moves on.
                        const std::string head = std::string(cls.progId) + (setUp ? " (set up) " : " ") +
                                                 KindName(kind) + " " + member + "(";
                        const int32_t probed = Run(
                            head + std::to_string(n) + " x Empty)",
                            [&] {
                                rt::Args probe(n);
                                rt::CallByName(object, member, kind, probe);
                            },
                            true);
                        if (probed == rt::vberr::ObjectDoesNotSupportMember ||
                            probed == rt::vberr::ArgumentNotOptional || probed == rt::vberr::WrongNumberOfArguments)
                            continue;
                        for (size_t a = 0; a < (n ? values.size() : 1); ++a)
                            for (size_t b = 0; b < (n > 1 ? values.size() : 1); ++b) {
                                rt::Args args(n ? n - 1 : 0, n ? values[a].value : rt::Variant());
                                if (n) args.push_back(values[n > 1 ? b : a].value);
                                std::string call = head;
                                for (size_t i = 0; i < n; ++i)
                                    call += (i ? ", " : "") + values[i + 1 < n ? a : (n > 1 ? b : a)].name;
                                Run(call + ")", [&] { rt::CallByName(object, member, kind, args); }, true);
                            }
                    }
                }
            }
            ExpectDatabaseUnchanged(cls.progId);
        }
    }
    EXPECT_EQ(unsourced_, std::vector<std::string>{});
    RecordProperty("calls", calls_);
}

// The helper types the relationship factory makes, with the sample's
// relationship number of each.
struct HelperType {
    int32_t qtxType;
    int16_t rno;
    bool evaluator;  // also a row predicate of the feature-assembly scan
};
const std::vector<HelperType> kHelperTypes = {
    {pelmora::qzrelNodeEdgeConnectivity, 3, false},
    {pelmora::qzrelOwnership, 1, true},
    {pelmora::qzrelOwnership, 57, true},
    {pelmora::qzrelDetail, 8, false},
    {pelmora::qzrelDimensioning, 11, false},
    {pelmora::qzrelStationing, 14, false},
    {pelmora::qzrelManyToManyOwnership, 7, true},
    {pelmora::qzrelNodeOrderedConnectivity, 5, true},
    {5, 10, false},
};

TEST_F(CarelessCallerSweep, EveryMemberOfEveryHelperTypeAnswersOrRaises) {
    const auto features = FeatureKinds();
    auto filter = std::make_shared<pelmora::MetadataRecordsetFilterService>();
    enum State { Bare, ContextOnly, SetUp };
    for (const auto& type : kHelperTypes) {
        for (State state : {Bare, ContextOnly, SetUp}) {
            auto helper = pelmora::NewRelationshipHelper(rt::Variant(type.qtxType));
            const std::string prefix = "helper of type " + std::to_string(type.qtxType) + " (" +
                                       (state == Bare          ? "bare"
                                        : state == ContextOnly ? "context only"
                                                               : "set up") +
                                       ", " + std::to_string(type.rno) + ") ";
            if (state != Bare) helper->putref_DataContext(sqlite_);
            if (state == SetUp) {
                helper->putref_MDRSFilterService(filter);
                helper->put_RelationshipNumber(type.rno);
            }
            auto run = [&](const std::string& call, const std::function<void()>& f) { Run(prefix + call, f); };
            for (const auto& [name, f] : features) {
                run("CandidateFeatures(" + name + ")", [&, f = f] { helper->CandidateFeatures(f); });
                run("ReviewRelationship(" + name + ")", [&, f = f] { helper->ReviewRelationship(f); });
                run("ReviewRelationshipHierarchy(" + name + ")",
                    [&, f = f] { helper->ReviewRelationshipHierarchy(f); });
                for (int16_t fno : {int16_t{0}, int16_t{9999}, *fnos_.begin(), *fnos_.rbegin()})
                    run("CanRelate(" + name + ", " + std::to_string(fno) + ")",
                        [&, f = f] { helper->CanRelate(f, fno); });
                for (const auto& [other, g] : features) {
                    run("SilentEstablishRelationship(" + name + ", " + other + ")",
                        [&, f = f, g = g] { helper->SilentEstablishRelationship(f, g, 0, 0); });
                    run("DeleteRelationship(" + name + ", " + other + ")",
                        [&, f = f, g = g] { helper->DeleteRelationship(f, g, 0, 0); });
                }
            }
            // Validate: a set whose pending rows name features without
            // components, then with each argument Nothing in turn.
            std::vector<validationtest::SetRow> rows;
            auto keys = pelmora::KeyObjects::New();
            auto fnoList = rt::Collection::New();
            for (int16_t fno : fnos_) {
                rows.push_back({fno, 1, 1, 0, 0, type.rno});
                keys->Add(KeyWithoutComponents(fno));
                fnoList->Add(rt::Variant(fno));
            }
            for (int nothing = -1; nothing < 5; ++nothing) {
                auto set = validationtest::MakeValidationSet(rows);
                run(nothing < 0 ? std::string("Validate(every argument given)")
                                : "Validate(argument " + std::to_string(nothing + 1) + " Nothing)",
                    [&] {
                        helper->Validate(nothing == 0 ? nullptr : keys,
                                         nothing == 1 ? nullptr : std::make_shared<pelmora::Components>(),
                                         nothing == 2 ? nullptr : set, nothing == 3 ? nullptr : fnoList,
                                         nothing == 4 ? nullptr : pelmora::CreateValidationRecordset());
                    });
            }
            if (type.evaluator) {
                auto evaluator = rt::QueryInterface<pelmora::IRecordsetEvaluator>(helper);
                run("Evaluate before Fields", [&] { evaluator->Evaluate(); });
                run("Fields(Nothing)", [&] { evaluator->putref_Fields(nullptr); });
                run("Evaluate after Fields(Nothing)", [&] { evaluator->Evaluate(); });
            }
            run("get_DataContext", [&] { helper->get_DataContext(); });
            run("get_MDRSFilterService", [&] { helper->get_MDRSFilterService(); });
            run("get_OptimizedTable", [&] { helper->get_OptimizedTable(); });
            run("get_RelationshipName", [&] { helper->get_RelationshipName(); });
            run("get_RelationshipNumber", [&] { helper->get_RelationshipNumber(); });
            run("get_RelationshipType", [&] { helper->get_RelationshipType(); });
            run("get_Name", [&] { helper->get_Name(); });
            run("get_Feature", [&] { helper->get_Feature(); });
            for (const auto& [name, f] : features)
                run("putref_Feature(" + name + ")", [&, f = f] { helper->putref_Feature(f); });
            run("putref_MDRSFilterService(FastString)",
                [&] { helper->putref_MDRSFilterService(std::make_shared<pelmora::FastString>()); });
            run("putref_MDRSFilterService(Nothing)", [&] { helper->putref_MDRSFilterService(nullptr); });
            for (int16_t rno : {int16_t{0}, int16_t{9999}, type.rno})
                run("put_RelationshipNumber(" + std::to_string(rno) + ")",
                    [&] { helper->put_RelationshipNumber(rno); });
            run("putref_DataContext(Nothing)", [&] { helper->putref_DataContext(nullptr); });
            run("put_RelationshipNumber after the context was dropped",
                [&] { helper->put_RelationshipNumber(type.rno); });
            ExpectDatabaseUnchanged(prefix);
        }
    }
    RecordProperty("calls", calls_);
}

}  // namespace

namespace {

// What the careless calls get: a helper before its set-up raises 91 where it
// needs its rules, so does a Validate without its validation set unless the
// helper ignores failures there, and an ownership lookup of a feature whose
// Components is Nothing gives its own error 1 instead of a null object.
TEST_F(CarelessCallerSweep, MissingObjectsRaiseTheErrorsOfTheirMembers) {
    auto filter = std::make_shared<pelmora::MetadataRecordsetFilterService>();
    auto owner = KeyWithoutComponents(101);
    auto keys = pelmora::KeyObjects::New();
    keys->Add(owner);
    auto fnoList = rt::Collection::New();
    fnoList->Add(rt::Variant(int16_t{101}));
    std::shared_ptr<ado::Recordset> errors;
    auto validate = [&](bool withComponents, bool withSet) {
        return [&, withComponents, withSet](pelmora::IRelationshipHelper& h) {
            h.Validate(
                keys, withComponents ? std::make_shared<pelmora::Components>() : nullptr,
                withSet ? validationtest::MakeValidationSet({{101, 1, 1, 0, 0, h.get_RelationshipNumber()}}) : nullptr,
                fnoList, errors);
        };
    };
    auto candidates = [&](pelmora::IRelationshipHelper& h) { h.CandidateFeatures(owner); };
    auto canRelate = [&](pelmora::IRelationshipHelper& h) { h.CanRelate(owner, 102); };
    auto review = [&](pelmora::IRelationshipHelper& h) { h.ReviewRelationship(owner); };
    constexpr int32_t kOwnershipError = pelmora::kErrorBase + 1, kNotSet = rt::vberr::ObjectVariableNotSet;
    struct Case {
        const char* what;
        int32_t type;
        int16_t rno;
        bool setUp;
        std::function<void(pelmora::IRelationshipHelper&)> call;
        int32_t error;  // 0: answers and records nothing
    };
    const std::vector<Case> cases = {
        {"candidates before set-up", pelmora::qzrelNodeEdgeConnectivity, 3, false, candidates, kNotSet},
        {"candidates before set-up", pelmora::qzrelOwnership, 1, false, candidates, kNotSet},
        {"candidates before set-up", pelmora::qzrelManyToManyOwnership, 7, false, candidates, kNotSet},
        {"candidates before set-up", pelmora::qzrelNodeOrderedConnectivity, 5, false, candidates, kNotSet},
        {"pair before set-up", pelmora::qzrelOwnership, 1, false, canRelate, kNotSet},
        {"pair before set-up", pelmora::qzrelManyToManyOwnership, 7, false, canRelate, kNotSet},
        {"pair before set-up", pelmora::qzrelNodeOrderedConnectivity, 5, false, canRelate, kNotSet},
        {"Validate before set-up", pelmora::qzrelOwnership, 1, false, validate(true, true), kNotSet},
        {"Validate before set-up", pelmora::qzrelDetail, 8, false, validate(true, true), kNotSet},
        {"Validate before set-up", pelmora::qzrelDimensioning, 11, false, validate(true, true), kNotSet},
        {"Validate without a set", pelmora::qzrelOwnership, 1, true, validate(true, false), kNotSet},
        {"Validate without a set", pelmora::qzrelNodeOrderedConnectivity, 5, true, validate(true, false), kNotSet},
        {"Validate without a set", pelmora::qzrelManyToManyOwnership, 7, true, validate(true, false), kNotSet},
        {"Validate without a set", pelmora::qzrelDetail, 8, true, validate(true, false), kNotSet},
        {"Validate without a set", pelmora::qzrelDimensioning, 11, true, validate(true, false), kNotSet},
        // Node-edge validation ignores failures once its walk begins.
        {"Validate without a set", pelmora::qzrelNodeEdgeConnectivity, 3, true, validate(true, false), 0},
        {"Validate without components", pelmora::qzrelStationing, 14, true, validate(false, true), 0},
        {"review of a feature without components", pelmora::qzrelOwnership, 1, true, review, kOwnershipError},
        {"review of a feature without components", pelmora::qzrelNodeEdgeConnectivity, 3, true, review, kNotSet},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.what) + ", type " + std::to_string(c.type));
        auto helper = pelmora::NewRelationshipHelper(rt::Variant(c.type));
        if (c.setUp) {
            helper->putref_DataContext(sqlite_);
            helper->putref_MDRSFilterService(filter);
            helper->put_RelationshipNumber(c.rno);
        }
        errors = pelmora::CreateValidationRecordset();
        try {
            c.call(*helper);
            EXPECT_EQ(c.error, 0) << "answered";
        } catch (const rt::ComError& e) {
            EXPECT_EQ(e.Number(), c.error) << e.Description();
            if (e.Number() == kOwnershipError) {
                EXPECT_EQ(e.Source(), pelmora::LoadResStringWithParams(21826));
                EXPECT_EQ(e.Description(), pelmora::LoadResStringWithParams(22208, "101", "WATER_MAIN_ATTR"));
            }
        }
        EXPECT_EQ(errors->get_RecordCount(), 0) << "nothing is recorded";
    }
}

}  // namespace

namespace {

// A run-time error raised in a class says where, as VB fills Err.Source
// with the project and the class module it happened in; a source the error
// already has (the system's own messages, ADO's) stays.
TEST_F(CarelessCallerSweep, ARunTimeErrorNamesTheClassItHappenedIn) {
    const rt::Variant nothing = rt::Variant::Nothing();
    const rt::Variant owner(rt::ObjectPtrOf(KeyWithoutComponents(101)));
    const rt::Variant other(rt::ObjectPtrOf(std::make_shared<pelmora::FastString>()));
    struct Case {
        const char* progId;
        const char* member;
        rt::InvokeKind kind;
        rt::Args args;
        int32_t error;
        std::string source;
    };
    const std::vector<Case> cases = {
        {"QzPelmora.RelationshipService", "RelationshipName", rt::InvokeKind::PropertyGet,
         {rt::Variant(int16_t{9999})}, rt::vberr::SubscriptOutOfRange, "QzPelmora.RelationshipService"},
        // Raised in the helper the service hands the request to.
        {"QzPelmora.RelationshipService", "GetCandidateFeatures", rt::InvokeKind::Method,
         {nothing, rt::Variant(int16_t{3})}, rt::vberr::ObjectVariableNotSet, "QzPelmora.NEConnectivity"},
        {"QzPelmora.RelationshipService", "GetRelatedFeatures", rt::InvokeKind::Method,
         {owner, rt::Variant(int16_t{1})}, pelmora::kErrorBase + 1, pelmora::LoadResStringWithParams(21826)},
        {"QzPelmora.RelationshipService", "RelationshipName", rt::InvokeKind::PropertyGet,
         {rt::Variant(int16_t{4})}, 0, "ADODB.Recordset"},
        {"QzPelmora.KeyObject", "FNO", rt::InvokeKind::PropertyLet, {rt::Variant("x")}, rt::vberr::TypeMismatch,
         "QzPelmora.KeyObject"},
        {"QzPelmora.FeatureAssemblyService", "OpenFeatures", rt::InvokeKind::Method, {other},
         rt::vberr::TypeMismatch, "QzPelmora.FeatureAssemblyService"},
        {"QzPelmora.MetadataServiceHelper", "GetRoles", rt::InvokeKind::Method, {nothing, rt::Variant("role")},
         rt::vberr::ObjectVariableNotSet, "QzPelmora.MetadataServiceHelper"},
    };
    for (auto c : cases) {
        SCOPED_TRACE(std::string(c.progId) + "." + c.member);
        auto object = rt::CreateObject(c.progId);
        rt::ResumeNext ignore;  // not every class has a context
        ignore([&] { rt::CallByName(object, "DataContext", rt::InvokeKind::PropertySet, {rt::Variant(sqlite_)}); });
        const rt::ComError e = pelmora_test::Raised([&] { rt::CallByName(object, c.member, c.kind, c.args); });
        if (c.error) {
            EXPECT_EQ(e.Number(), c.error) << e.Description();
        }
        EXPECT_EQ(e.Source(), c.source) << e.Number() << " " << e.Description();
    }
}

}  // namespace

namespace {

// A caller's own components collection answering its one item (Nothing if
// so) for any name.
class CallersComponents : public rt::Object, public pelmora::IComponents {
public:
    explicit CallersComponents(std::shared_ptr<pelmora::IComponent> item) : item_(std::move(item)) {}
    void AddComponentByCNO(int16_t, const rt::Variant&) override {}
    void AddComponentByRecordset(int16_t, const std::shared_ptr<ado::Recordset>&) override {}
    int32_t get_Count() override { return item_ ? 1 : 0; }
    std::shared_ptr<pelmora::IDataContext> get_DataContext() override { return nullptr; }
    void putref_DataContext(const std::shared_ptr<pelmora::IDataContext>&) override {}
    std::shared_ptr<pelmora::IComponent> get_Item(const rt::Variant&) override { return item_; }
    void Refresh() override {}
    std::vector<std::shared_ptr<pelmora::IComponent>> get_NewEnum() override { return {item_}; }
    void Update() override {}
    std::shared_ptr<pelmora::IComponent> GetComponent(int16_t) override { return item_; }

private:
    std::shared_ptr<pelmora::IComponent> item_;
};

// A caller's collection whose one component's rows are Nothing.
std::shared_ptr<CallersComponents> ComponentWithoutRows() {
    return std::make_shared<CallersComponents>(std::make_shared<CallersComponent>([] { return nullptr; }));
}

class CarelessCollections : public CarelessCallerSweep {
protected:
    void SetUp() override {
        CarelessCallerSweep::SetUp();
        relationship_ = rt::QueryInterface<pelmora::IRelationship>(rt::CreateObject("QzPelmora.RelationshipService"));
        relationship_->putref_DataContext(sqlite_);
    }

    // The sample's mains 5702 and 5703 and service lines 5731 and 5733 and
    // their validation set, opened as a validation run opens them: each
    // connectivity helper has findings there.
    void OpenSet() {
        auto given = pelmora::KeyObjects::New();
        for (int32_t fid : {5702, 5703, 5731, 5733}) given->Add(KeyWithoutComponents(fid > 5730 ? 104 : 101, fid));
        std::shared_ptr<pelmora::IKeyObjects> named = given;
        set_ = relationship_->GetFeatureValidationInformation(named);
        int32_t count = 0;
        pelmora::GetValidationKOCollection(set_, opened_, components_, sqlite_, count);
        for (int16_t fno : {101, 104}) pending_->Add(rt::Variant(fno));
    }

    // "FID|description" of every finding. Every finding names its feature:
    // one without an FNO or FID throws, failing the run that recorded it.
    static std::vector<std::string> Findings(const std::shared_ptr<ado::Recordset>& errors) {
        std::vector<std::string> lines;
        if (errors->get_BOF() && errors->get_EOF()) return lines;
        for (errors->MoveFirst(); !errors->get_EOF(); errors->MoveNext()) {
            const rt::Variant description = errors->GetValue(rt::Variant("ErrorDescription"));
            const std::string text = description.IsNull() ? std::string("(Null)") : rt::CStr(description);
            for (const char* key : {"QTX_FNO", "QTX_FID"}) {
                const rt::Variant value = errors->GetValue(rt::Variant(key));
                if (value.IsNull() || value.IsEmpty())
                    throw std::logic_error(std::string("a finding without ") + key + ": " + text);
            }
            lines.push_back(rt::CStr(errors->GetValue(rt::Variant("QTX_FID"))) + "|" + text);
        }
        return lines;
    }

    std::shared_ptr<pelmora::IRelationship> relationship_;
    std::shared_ptr<ado::Recordset> set_;
    std::shared_ptr<pelmora::IKeyObjects> opened_;
    std::shared_ptr<pelmora::IComponents> components_;
    std::shared_ptr<rt::Collection> pending_ = rt::Collection::New();
};

// A Nothing among a caller's key objects raises 91, wrapped as each member
// wraps its failures, before any key is opened or anything written; a Count
// above the items is answered or refused, never followed into a crash.
TEST_F(CarelessCollections, AKeyCollectionWithANothingItemIsRefused) {
    const auto first = KeyWithoutComponents(101);
    auto late = [&](const char* progId, const char* member, bool withComponents = false) {
        return [=, this](const std::shared_ptr<pelmora::IKeyObjects>& keys) {
            auto object = rt::CreateObject(progId);
            rt::CallByName(object, "DataContext", rt::InvokeKind::PropertySet, {rt::Variant(sqlite_)});
            rt::Args args{rt::Variant(rt::ObjectPtrOf(keys))};
            if (withComponents)
                args.insert(args.begin(), rt::Variant(rt::ObjectPtrOf(std::make_shared<pelmora::Components>())));
            rt::CallByName(object, member, rt::InvokeKind::Method, args);
        };
    };
    auto assembly = [&] {
        auto service = rt::QueryInterface<pelmora::IFeatureAssemblyService>(
            rt::CreateObject("QzPelmora.FeatureAssemblyService"));
        service->putref_DataContext(sqlite_);
        return service;
    };
    struct Case {
        const char* member;
        std::function<void(const std::shared_ptr<pelmora::IKeyObjects>&)> call;
        int32_t error;
    };
    constexpr int32_t kNotSet = rt::vberr::ObjectVariableNotSet;
    const std::vector<Case> cases = {
        {"FeatureValidationService.ValidateFeatures", late("QzPelmora.FeatureValidationService", "ValidateFeatures"),
         pelmora::kErrorBase + 1},
        {"FeatureValidationService.ValidateFeatures early bound",
         [&](auto keys) {
             pelmora::FeatureValidationService service;
             service.putref_DataContext(sqlite_);
             service.ValidateFeatures(keys);
         },
         pelmora::kErrorBase + 1},
        {"IRelationship.GetFeatureValidationInformation",
         [&](auto keys) { relationship_->GetFeatureValidationInformation(keys); }, pelmora::kErrorBase + kNotSet},
        {"IRelationship.Validate",
         [&](auto keys) {
             relationship_->putref_Features(keys);
             std::shared_ptr<ado::Recordset> set, errors;
             relationship_->Validate(set, errors);
         },
         pelmora::kErrorBase + kNotSet},
        {"FeatureAssemblyService.OpenFeatures", late("QzPelmora.FeatureAssemblyService", "OpenFeatures"), kNotSet},
        {"IFeatureAssemblyService.OpenFeatures", [&](auto keys) { assembly()->OpenFeatures(keys, false); }, kNotSet},
        {"FeatureAssemblyService.UpdateFeatures", late("QzPelmora.FeatureAssemblyService", "UpdateFeatures"), kNotSet},
        {"IFeatureAssemblyServiceCache.AddToCache",
         [&](auto keys) { rt::QueryInterface<pelmora::IFeatureAssemblyServiceCache>(assembly())->AddToCache(keys); },
         kNotSet},
        {"BulkEditService.ConstructMergedComponents",
         late("QzPelmora.BulkEditService", "ConstructMergedComponents"), kNotSet},
        {"BulkEditService.SaveCommonEdits", late("QzPelmora.BulkEditService", "SaveCommonEdits", true), kNotSet},
    };
    // With the cache on, as a key found there would be given components.
    rt::QueryInterface<pelmora::IFeatureAssemblyServiceCache>(assembly())->put_Caching(true);
    for (const auto& c : cases) {
        EXPECT_EQ(Run(c.member, [&] { c.call(std::make_shared<CallersKeys>(KeyList{first, nullptr}, 2)); }), c.error)
            << c.member;
        EXPECT_EQ(first->get_Components(), nullptr) << c.member << " opened a key before the Nothing";
        Run(std::string(c.member) + " over a Count above its items",
            [&] { c.call(std::make_shared<CallersKeys>(KeyList{KeyWithoutComponents(101)}, 3)); });
    }
    rt::QueryInterface<pelmora::IFeatureAssemblyServiceCache>(assembly())->put_Caching(false);
    ExpectDatabaseUnchanged("the calls with a Nothing among the keys");
}

// The features of a validation run handed over in a caller's collection that
// also holds a Nothing and says it holds more: every relationship finds what
// it finds over the system's own collection.
TEST_F(CarelessCollections, AValidationRunTakesACallersCollectionWithHoles) {
    OpenSet();
    auto validate = [&](const std::shared_ptr<pelmora::IKeyObjects>& features) {
        relationship_->putref_Features(features);
        relationship_->putref_Components(components_);
        std::shared_ptr<ado::Recordset> errors;
        Run("IRelationship.Validate", [&] { relationship_->Validate(set_, errors); });
        return errors ? Findings(errors) : std::vector<std::string>{"no errors recordset"};
    };
    const auto own = validate(opened_);
    ASSERT_FALSE(own.empty());
    KeyList items = opened_->get_NewEnum();
    items.insert(items.begin() + 1, nullptr);
    EXPECT_EQ(validate(std::make_shared<CallersKeys>(items, INT32_MAX)), own);
    ExpectDatabaseUnchanged("the run over a caller's collection");
}

// Node-edge validation given careless components: without a support
// component it records nothing and returns; with one whose rows are Nothing
// or none it walks the features as usual; features without components of
// their own are skipped. Every other helper type takes the same shapes.
TEST_F(CarelessCollections, ValidateTakesCarelessComponents) {
    OpenSet();
    auto bare = pelmora::KeyObjects::New();
    for (const auto& key : opened_->get_NewEnum()) bare->Add(KeyWithoutComponents(key->get_FNO(), key->get_FID()));
    auto noRows = ado::Recordset::Create();
    noRows->get_Fields()->Append("QTX_FNO", ado::adSmallInt);
    noRows->Open();
    struct Case {
        const char* shape;
        std::shared_ptr<pelmora::IKeyObjects> features;
        std::shared_ptr<pelmora::IComponents> components;
        bool walked;  // node-edge finds what it finds over the run's own components
    };
    const std::vector<Case> cases = {
        {"the run's own components", opened_, components_, true},
        {"a collection answering Nothing", opened_, std::make_shared<CallersComponents>(nullptr), false},
        {"an empty ComponentsClone", opened_, std::make_shared<pelmora::ComponentsClone>(), false},
        {"a support component whose rows are Nothing", opened_, ComponentWithoutRows(), true},
        {"a support component without rows", opened_,
         std::make_shared<CallersComponents>(std::make_shared<CallersComponent>([noRows] { return noRows; })), true},
        {"features without components", bare, components_, false},
        {"features without components, rows Nothing", bare, ComponentWithoutRows(), false},
    };
    std::vector<std::string> own;
    for (const auto& type : kHelperTypes) {
        for (const auto& c : cases) {
            auto helper = pelmora::NewRelationshipHelper(rt::Variant(type.qtxType));
            helper->putref_DataContext(sqlite_);
            helper->putref_MDRSFilterService(std::make_shared<pelmora::MetadataRecordsetFilterService>());
            helper->put_RelationshipNumber(type.rno);
            auto errors = pelmora::CreateValidationRecordset();
            const std::string call = "Validate of type " + std::to_string(type.qtxType) + " given " + c.shape;
            const int32_t raised =
                Run(call, [&] { helper->Validate(c.features, c.components, set_, pending_, errors); });
            if (type.qtxType != pelmora::qzrelNodeEdgeConnectivity) continue;
            EXPECT_EQ(raised, 0) << call;
            if (own.empty()) own = Findings(errors);
            EXPECT_EQ(Findings(errors), c.walked ? own : std::vector<std::string>{}) << call;
        }
    }
    EXPECT_FALSE(own.empty());
    ExpectDatabaseUnchanged("the validations given careless components");
}

// Every helper's walk, and the relationship validation that runs them all,
// given a caller's collection in which one feature of the set is a key object
// of another class: that feature is skipped (nothing is recorded for it, and
// the feature after it is not judged as it), the others find what they find
// without it. A key whose Components answers Nothing is skipped the same way.
TEST_F(CarelessCollections, AFeatureTheWalkCannotTakeIsSkipped) {
    OpenSet();
    using Keys = std::shared_ptr<pelmora::IKeyObjects>;
    struct Walk {
        std::string name;
        std::function<std::vector<std::string>(const Keys&)> run;
    };
    std::vector<Walk> walks;
    for (const auto& type : kHelperTypes)
        walks.push_back({"helper of type " + std::to_string(type.qtxType) + " (" + std::to_string(type.rno) + ")",
                         [&, type](const Keys& features) {
                             auto helper = pelmora::NewRelationshipHelper(rt::Variant(type.qtxType));
                             helper->putref_DataContext(sqlite_);
                             helper->putref_MDRSFilterService(
                                 std::make_shared<pelmora::MetadataRecordsetFilterService>());
                             helper->put_RelationshipNumber(type.rno);
                             auto errors = pelmora::CreateValidationRecordset();
                             helper->Validate(features, components_, set_, pending_, errors);
                             return Findings(errors);
                         }});
    walks.push_back({"RelationshipService.Validate",
                     [&](const Keys& features) {
                         relationship_->putref_Features(features);
                         relationship_->putref_Components(components_);
                         std::shared_ptr<ado::Recordset> errors;
                         relationship_->Validate(set_, errors);
                         return Findings(errors);
                     }});
    struct Stand {
        const char* name;
        std::function<std::shared_ptr<pelmora::IKeyObject>(const std::shared_ptr<pelmora::IKeyObject>&)> make;
    };
    const std::vector<Stand> stands = {
        {"a key object of another class", [](const auto& key) { return std::make_shared<pelmora_test::CallersKey>(key); }},
        {"a key whose Components answers Nothing",
         [](const auto& key) { return KeyWithoutComponents(key->get_FNO(), key->get_FID()); }},
    };
    const KeyList keys = opened_->get_NewEnum();
    auto callers = [](const KeyList& items) {
        return std::make_shared<CallersKeys>(items, static_cast<int32_t>(items.size()));
    };
    size_t found = 0;
    for (const auto& walk : walks) {
        std::vector<std::string> own;
        ASSERT_EQ(Run(walk.name + " over the run's own keys", [&] { own = walk.run(opened_); }), 0) << walk.name;
        found += own.size();
        for (int32_t fid : {5702, 5703, 5731, 5733}) {  // the set's features, each with findings of its own
            const auto at = std::find_if(keys.begin(), keys.end(), [&](const auto& key) { return key->get_FID() == fid; });
            ASSERT_NE(at, keys.end()) << fid;
            KeyList absent = keys;
            absent.erase(absent.begin() + (at - keys.begin()));
            // The baseline the stand-ins are held to: the run without the
            // feature raises nothing and finds what the full run finds for
            // the others, nothing for the feature left out.
            std::vector<std::string> others{"raised"};
            EXPECT_EQ(Run(walk.name + " without " + std::to_string(fid), [&] { others = walk.run(callers(absent)); }), 0)
                << walk.name << " without " << fid;
            std::vector<std::string> ownOfOthers;
            std::copy_if(own.begin(), own.end(), std::back_inserter(ownOfOthers),
                         [&](const std::string& line) { return line.rfind(std::to_string(fid) + "|", 0) != 0; });
            EXPECT_EQ(others, ownOfOthers) << walk.name << " without " << fid;
            for (const auto& stand : stands) {
                KeyList items = keys;
                items[static_cast<size_t>(at - keys.begin())] = stand.make(*at);
                const std::string call = walk.name + " given " + stand.name + " for " + std::to_string(fid);
                std::vector<std::string> got{"raised"};
                EXPECT_EQ(Run(call, [&] { got = walk.run(callers(items)); }), 0) << call;
                EXPECT_EQ(got, others) << call;
            }
        }
    }
    EXPECT_GT(found, 0u);
    ExpectDatabaseUnchanged("the walks given features they cannot take");
}

// The attribute rules read a feature's components by name: a caller's own
// collection answering Nothing, or a component whose rows are Nothing, is
// a failure the rule walk reports, never a crash.
TEST_F(CarelessCollections, AttributeRulesTakeCarelessComponents) {
    std::set<int32_t> types;
    for (const auto& type : kHelperTypes) types.insert(type.qtxType);
    for (bool rowsNothing : {false, true}) {
        auto careless = [&](int16_t fno) {
            auto key = KeyWithoutComponents(fno);
            key->putref_Components(rowsNothing ? ComponentWithoutRows() : std::make_shared<CallersComponents>(nullptr));
            return key;
        };
        for (int16_t active : fnos_)
            for (int16_t related : fnos_)
                for (int32_t type : types) {
                    auto service = std::make_shared<pelmora::AttributeValidationService>();
                    service->putref_DataContext(sqlite_);
                    service->put_RelationshipType(std::to_string(type));
                    service->putref_ActiveFeature(careless(active));
                    service->putref_RelatedFeature(careless(related));
                    rt::Variant priorities, messages;
                    const std::string call = std::to_string(active) + " and " + std::to_string(related) + ", type " +
                                             std::to_string(type) + (rowsNothing ? ", rows Nothing" : "");
                    Run("Execute of " + call, [&] { service->Execute(priorities, messages); });
                    Run("Validate of " + call, [&] { service->Validate(priorities, messages); });
                    Run("ValidateAttributes of " + call,
                        [&] { service->ValidateAttributes(false, priorities, messages); });
                }
    }
    ExpectDatabaseUnchanged("the attribute rules over careless components");
}

}  // namespace
