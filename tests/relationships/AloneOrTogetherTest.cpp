// Features opened one by one and the same features opened together (views of
// one shared collection) store the same rows and show the same message boxes
// for the same steps: edits with and without Update, rows added and deleted,
// relates, unrelates and saves.
// Each case runs on a fresh copy of the sample, saves, commits and reads the
// database back.
#include "RelationshipTestSupport.h"

#include <algorithm>
#include <functional>
#include <random>
#include <tuple>

#include "ado/Recordset.h"
#include "interfaces/Components.h"
#include "interfaces/Geometry.h"
#include "pelmora/features/Component.h"
#include "pelmora/features/ComponentClone.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "pelmora/features/KeyObject.h"
#include "pelmora/features/KeyObjects.h"
#include "pelmora/features/modFASCache.h"
#include "pelmora/validation/FeatureValidationService.h"
#include "product/WorkOperationsPackage.h"
#include "runtime/Vb.h"
#include "support/Raises.h"
#include "support/RefusesUpdate.h"

using relationshiptest::RelationshipServiceFixture;
using Lines = std::vector<std::string>;
using rt::Variant;

namespace {

using KeyPtr = std::shared_ptr<pelmora::IKeyObject>;
using RowsPtr = std::shared_ptr<ado::Recordset>;

enum class Way { Alone, Together };

struct Feature {
    int16_t fno;
    int32_t fid;
};

// The tables the steps write, their geometry tables among them.
const char* const kTables[] = {"WATER_MAIN_N",   "WATER_MAIN_LN",          "WATER_MAIN_LBL",
                               "WATER_LINING_N", "WATER_MAIN_LN_SDOGEOM",  "WATER_MAIN_LBL_SDOGEOM",
                               "VALVE_N",        "HYDRANT_N",  "SERVICE_N",  "QTX_COMMON_N",
                               "OWNER_LINK_N"};

// What the steps work with: the features in the case's order, and what the
// save is given (each feature alone, or a key holding the shared collection).
struct Scene {
    std::shared_ptr<product::SqliteDataContext> db;
    std::shared_ptr<pelmora::RelationshipService> relate;
    std::shared_ptr<pelmora::FeatureAssemblyService> assembly;
    std::vector<KeyPtr> f;
    KeyPtr holder;  // together only
    std::shared_ptr<pelmora::KeyObjects> save = pelmora::KeyObjects::New();
    bool saved = false;                       // the steps saved themselves
    std::vector<std::shared_ptr<void>> keep;  // held until the save is done
    Lines notes;                              // what steps saw on the way
    // A sink's unadvise and the steps it stays advised for.
    std::pair<std::function<void()>, int> advised{nullptr, 0};

    // The rows where they stand: a move would end an edit open on them.
    RowsPtr RowsHere(size_t feature, const char* component) const {
        return f.at(feature)->get_Components()->get_Item(Variant(component))->get_Recordset();
    }
    RowsPtr Rows(size_t feature, const char* component) const {
        auto rows = RowsHere(feature, component);
        if (!(rows->get_BOF() && rows->get_EOF())) rows->MoveFirst();
        return rows;
    }
    // The rows every member shares, on the feature's row (a feature opened
    // alone: a clone of its rows).
    RowsPtr Shared(size_t feature, const char* component) const {
        auto rows = holder ? holder->get_Components()->get_Item(Variant(component))->get_Recordset()
                           : RowsHere(feature, component)->Clone();
        rows->MoveFirst();
        while (rt::CLng(rows->GetValue(Variant("QTX_FID"))) != f.at(feature)->get_FID()) rows->MoveNext();
        return rows;
    }
    // The component itself (a feature opened alone: its own).
    std::shared_ptr<pelmora::IComponent> SharedComponent(size_t feature, const char* component) const {
        return (holder ? holder : f.at(feature))->get_Components()->get_Item(Variant(component));
    }
    // A clone of the feature's rows of its own, on the feature's first row.
    RowsPtr OwnClone(size_t feature, const char* component) const {
        auto rows = RowsHere(feature, component)->Clone();
        rows->put_Filter(Variant("QTX_FID = " + std::to_string(f.at(feature)->get_FID())));
        return rows;
    }
    // Sets a field of the component's first row, ended with Update or left open.
    void Set(size_t feature, const char* component, const char* field, const Variant& value, bool update = true) const {
        auto rows = Rows(feature, component);
        rows->SetValue(Variant(field), value);
        if (update) rows->Update();
    }
    // Deletes the first row of each component (every row when all).
    void Delete(size_t feature, std::initializer_list<const char*> components, bool all = false) const {
        for (const char* component : components) {
            auto rows = Rows(feature, component);
            for (int32_t n = all ? rows->get_RecordCount() : 1; n > 0; --n) {
                rows->MoveFirst();
                rows->Delete(ado::adAffectCurrent);
            }
        }
    }
    // Adds a row of the feature to the component and updates it (the CID
    // left to the component when none is given).
    void Add(size_t feature, const char* component, Feature keys, int16_t cid = 0) const {
        auto rows = Rows(feature, component);
        rows->AddNew();
        rows->SetValue(Variant("QTX_FNO"), Variant(keys.fno));
        rows->SetValue(Variant("QTX_FID"), Variant(keys.fid));
        if (cid != 0) rows->SetValue(Variant("QTX_CID"), Variant(cid));
        rows->Update();
    }
};

using Steps = std::function<void(Scene&)>;

// Begins a lining row of main fid on the rows, its CID and type assigned
// (the caller ends it).
void NewLining(const RowsPtr& rows, int32_t fid, int16_t cid, const Variant& type) {
    rows->AddNew();
    for (auto [field, value] : {std::pair{"QTX_FNO", Variant(int16_t{101})}, {"QTX_FID", Variant(fid)},
                                {"QTX_CID", Variant(cid)}, {"LINING_TYPE", type}})
        rows->SetValue(Variant(field), value);
}

// Key objects of the features, as a caller fills them for OpenFeatures; each
// is also appended to members when given.
std::shared_ptr<pelmora::KeyObjects> KeysOf(const std::vector<Feature>& features, std::vector<KeyPtr>* members = nullptr) {
    auto keys = pelmora::KeyObjects::New();
    for (const Feature& x : features) {
        auto key = pelmora::KeyObject::New();
        key->put_FNO(x.fno);
        key->put_FID(x.fid);
        keys->Add(key);
        if (members) members->push_back(key);
    }
    return keys;
}

// A key object of the feature holding the collection: how features opened
// together are saved.
KeyPtr Holder(const Feature& feature, const std::shared_ptr<pelmora::IComponents>& components) {
    auto holder = pelmora::KeyObject::New();
    holder->put_FNO(feature.fno);
    holder->put_FID(feature.fid);
    holder->putref_Components(components);
    return holder;
}

// Caching on while it lives, and the features opened anew in place of the
// scene's, cached: as views through the interface face (by default mains 1001
// and 1002), or one by one when the scene opened them alone and oneByOne asks
// for it. The steps save them.
struct CachedViews {
    explicit CachedViews(Scene& s, const std::vector<Feature>& features = {{101, 1001}, {101, 1002}},
                         bool oneByOne = false) {
        s.saved = true;
        s.f.clear();
        pelmora::SetCaching(true);
        if (oneByOne && !s.holder)
            for (const Feature& x : features) {
                s.f.push_back(s.assembly->OpenFeature(x.fno, x.fid));
                // Quiet, as the interface face opens the views.
                for (const auto& c : s.f.back()->get_Components()->get_NewEnum()) c->put_FunctionalInterfacesEnabled(false);
            }
        else
            s.assembly->OpenFeatures(KeysOf(features, &s.f), true);
    }
    ~CachedViews() { pelmora::SetCaching(false); }
    CachedViews(const CachedViews&) = delete;
    CachedViews& operator=(const CachedViews&) = delete;
};

// A query and the rows it must answer after the commit, fields joined by "|".
struct Check {
    const char* sql;
    Lines rows;
};

struct Case {
    std::string what;
    std::vector<Feature> features;
    std::vector<Way> ways;
    Steps steps;
    std::vector<Check> checks;
    int32_t error = 0;  // the number the steps or the save raise
    size_t boxes = 0;   // the message boxes the steps and the save show
};

// The sample's functional interfaces fire in their own tests.
void Quiet(const std::shared_ptr<pelmora::IComponents>& components) {
    for (const auto& c : components->get_NewEnum()) c->put_FunctionalInterfacesEnabled(false);
}

// Two copies of the scene's first feature: a, the scene's, and b, opened
// again as the last of f; the steps run, then the save is given b and
// then what the scene saves (a and its other features), or b last.
void TwoCopies(Scene& s, const Steps& steps, bool bFirst) {
    const std::vector<KeyPtr> scene = s.holder ? std::vector<KeyPtr>{s.holder} : s.f;
    s.f.push_back(s.assembly->OpenFeature(s.f[0]->get_FNO(), s.f[0]->get_FID()));
    const KeyPtr b = s.f.back();
    Quiet(b->get_Components());
    steps(s);
    s.save = pelmora::KeyObjects::New();
    if (bFirst) s.save->Add(b);
    for (const auto& key : scene) s.save->Add(key);
    if (!bFirst) s.save->Add(b);
}

class AloneOrTogether : public RelationshipServiceFixture {
protected:
    void TearDown() override {
        pelmora::SetCaching(false);
        RelationshipServiceFixture::TearDown();
    }

    static Lines Query(product::SqliteDataContext& db, const std::string& sql, const std::string& label = "") {
        Lines out;
        auto rs = db.OpenRecordset(sql);
        for (; !rs->get_EOF(); rs->MoveNext()) {
            std::string line = label;
            for (int32_t k = 0; k < rs->FieldCount(); ++k) {
                Variant v = rs->FieldValue(k);
                line += (line.empty() ? "" : "|") + (v.IsNull() ? std::string("Null") : rt::CStr(v));
            }
            out.push_back(line);
        }
        return out;
    }

    // Every row of the tables as committed.
    static Lines Stored(product::SqliteDataContext& db) {
        Lines out;
        for (const char* table : kTables) {
            Lines rows = Query(db, std::string("SELECT * FROM ") + table, table);
            std::sort(rows.begin(), rows.end());
            out.insert(out.end(), rows.begin(), rows.end());
        }
        return out;
    }

    Scene Open(Way way, const std::vector<Feature>& features) {
        Scene s;
        s.db = pelmora_test::OpenSampleContext(metadata_);
        s.relate = NewService(false);
        s.relate->putref_DataContext(s.db);
        s.assembly = std::make_shared<pelmora::FeatureAssemblyService>();
        s.assembly->putref_DataContext(s.db);
        if (way == Way::Alone) {
            for (const Feature& x : features) {
                s.f.push_back(s.assembly->OpenFeature(x.fno, x.fid));
                Quiet(s.f.back()->get_Components());
                s.save->Add(s.f.back());
            }
            return s;
        }
        s.holder = Holder(features.front(), s.assembly->OpenFeatures(KeysOf(features, &s.f)));
        Quiet(s.holder->get_Components());
        for (const auto& key : s.f) Quiet(key->get_Components());
        s.save->Add(s.holder);
        return s;
    }

    // Opens, steps, saves and commits; the first error raised, and the tables
    // followed by the texts of the message boxes shown.
    std::pair<int32_t, Lines> Run(Way way, const Case& c, Lines* checked, Lines* boxes) {
        Scene s = Open(way, c.features);
        recorder_->records.clear();
        const int32_t error = pelmora_test::ErrorOf([&] {
            c.steps(s);
            if (!s.saved) s.assembly->UpdateFeatures(s.save);
        });
        // The notice of the sample's missing roles table shows once per metadata
        // table, in whichever run loads the table first.
        for (const auto& box : recorder_->records)
            if (box.text.rfind("IsRoleGranted:", 0) != 0) boxes->push_back(box.title + ": " + box.text);
        s.db->Commit();
        for (const Check& check : c.checks) {
            Lines rows = Query(*s.db, check.sql);
            checked->insert(checked->end(), rows.begin(), rows.end());
        }
        return {error, Stored(*s.db)};
    }

    void RunTable(const std::vector<Case>& cases) {
        for (const Case& c : cases) {
            Lines first, firstBoxes;
            for (Way way : c.ways) {
                SCOPED_TRACE(c.what + (way == Way::Alone ? ", opened alone" : ", opened together"));
                Lines checked, boxes;
                auto [error, stored] = Run(way, c, &checked, &boxes);
                EXPECT_EQ(error, c.error);
                EXPECT_EQ(boxes.size(), c.boxes);
                Lines expected;
                for (const Check& check : c.checks) expected.insert(expected.end(), check.rows.begin(), check.rows.end());
                EXPECT_EQ(checked, expected);
                // Both ways store the same rows.
                if (way == c.ways.front()) {
                    first = stored;
                    firstBoxes = boxes;
                } else {
                    EXPECT_EQ(stored, first);
                    EXPECT_EQ(boxes, firstBoxes);
                }
            }
        }
    }
};

constexpr auto kAlone = Way::Alone;
constexpr auto kTogether = Way::Together;

}  // namespace

TEST_F(AloneOrTogether, EachCaseStoresTheSameOpenedAloneOrTogether) {
    // Feature 1001's line and label rows gone with their geometry rows, 1002's kept.
    const std::vector<Check> kGeometryGone = {
        {"SELECT COUNT(*) FROM WATER_MAIN_LN WHERE QTX_FID = 1001", {"0"}},
        {"SELECT COUNT(*) FROM WATER_MAIN_LN_SDOGEOM WHERE QTX_FID = 1001", {"0"}},
        {"SELECT COUNT(*) FROM WATER_MAIN_LBL_SDOGEOM WHERE QTX_FID = 1001", {"0"}},
        {"SELECT COUNT(*) FROM WATER_MAIN_LN_SDOGEOM WHERE QTX_FID = 1002", {"1"}}};
    const std::vector<Case> cases = {
        // ---- edits ----
        // The caller's own clone: an add left open is in the family's rows and
        // saved as it stands; an edit left open stays the clone's own.
        {"an add and an edit left open on the caller's own clones",
         {{101, 1001}, {101, 1002}},
         {kAlone, kTogether},
         [](Scene& s) {
             auto add = s.Rows(0, "WATER_MAIN_LINING")->Clone();
             NewLining(add, 1001, 4, Variant("PE"));
             auto edit = s.Rows(0, "WATER_MAIN_ATTR")->Clone();
             edit->MoveFirst();
             edit->SetValue(Variant("ZONE_ID"), Variant(int32_t{8}));
             s.keep = {add, edit};
         },
         {{"SELECT QTX_CID, LINING_TYPE, LINING_YEAR FROM WATER_LINING_N WHERE QTX_FID = 1001 ORDER BY 1",
           {"1|CEMENT|1998", "3|EPOXY|2016", "4|PE|Null"}},
          {"SELECT ZONE_ID FROM WATER_MAIN_N WHERE QTX_FID = 1001", {"3"}}}},
        // ---- relates ----
        // A relate leaves its edit open: the caller's CancelUpdate takes back
        // the link alone, never a change the caller had already updated.
        {"relate, then the caller cancels",
         {{102, 5603}, {101, 1001}},
         {kAlone, kTogether},
         [](Scene& s) {
             s.Set(0, "VALVE_ATTR", "TURNS_TO_CLOSE", Variant(int32_t{77}));
             s.relate->SilentEstablish(s.f[0], s.f[1], Variant(int16_t{2}));
             s.RowsHere(0, "VALVE_ATTR")->CancelUpdate();
         },
         {{"SELECT TURNS_TO_CLOSE, OWNER_ID FROM VALVE_N WHERE QTX_FID = 5603", {"77|Null"}}}},
        {"unrelate, then the caller cancels",
         {{102, 5601}, {101, 1001}},
         {kAlone, kTogether},
         [](Scene& s) {
             s.Set(0, "VALVE_ATTR", "TURNS_TO_CLOSE", Variant(int32_t{77}));
             s.relate->DeleteRelationship(s.f[1], s.f[0], Variant(int16_t{1}));
             s.RowsHere(0, "VALVE_ATTR")->CancelUpdate();
         },
         {{"SELECT TURNS_TO_CLOSE, OWNER_ID IS NOT NULL FROM VALVE_N WHERE QTX_FID = 5601", {"77|1"}}}},
        // Views let go before the save: what they left open is the feature's.
        {"an edit left open, its view let go",
         {{101, 1001}, {101, 1002}},
         {kAlone, kTogether},
         [](Scene& s) {
             s.Set(0, "WATER_MAIN_ATTR", "ZONE_ID", Variant(int32_t{7}), false);
             s.f.clear();
         },
         {{"SELECT QTX_FID, ZONE_ID FROM WATER_MAIN_N WHERE QTX_FID IN (1001, 1002) ORDER BY 1",
           {"1001|7", "1002|3"}}}},
        {"a relate's edit left open, its views let go",
         {{102, 5603}, {101, 1001}},
         {kAlone, kTogether},
         [](Scene& s) {
             s.relate->SilentEstablish(s.f[0], s.f[1], Variant(int16_t{2}));
             s.f.clear();
         },
         {{"SELECT OWNER_ID = (SELECT QTX_ID FROM WATER_MAIN_N WHERE QTX_FID = 1001) FROM VALVE_N "
           "WHERE QTX_FID = 5603",
           {"1"}}}},
        // ---- duplicates and copies ----
        {"a key object without components, turned away by Add, is passed over",
         {{101, 1001}, {101, 1002}},
         {kAlone, kTogether},
         [](Scene& s) {
             s.Set(0, "WATER_MAIN_ATTR", "ZONE_ID", Variant(int32_t{7}));
             auto empty = pelmora::KeyObject::New();
             empty->put_FNO(101);
             empty->put_FID(1001);
             s.save->Add(empty);
         },
         {{"SELECT QTX_FID, ZONE_ID FROM WATER_MAIN_N WHERE QTX_FID IN (1001, 1002) ORDER BY 1",
           {"1001|7", "1002|3"}}}},
        {"a member added after the holder of its collection is saved through it, its open edit too",
         {{101, 1001}, {101, 1002}},
         {kAlone, kTogether},
         [](Scene& s) {
             s.Set(0, "WATER_MAIN_ATTR", "ZONE_ID", Variant(int32_t{7}), false);
             s.save->Add(s.f[0]);
         },
         {{"SELECT QTX_FID, ZONE_ID FROM WATER_MAIN_N WHERE QTX_FID IN (1001, 1002) ORDER BY 1",
           {"1001|7", "1002|3"}}}},
        {"a view turned away whose collection is not in the save is refused, nothing written",
         {{101, 1001}, {101, 1002}},
         {kAlone, kTogether},
         [](Scene& s) {
             s.Set(0, "WATER_MAIN_ATTR", "ZONE_ID", Variant(int32_t{7}));
             std::vector<KeyPtr> view;
             s.keep.push_back(s.assembly->OpenFeatures(KeysOf({{101, 1001}}, &view)));
             s.save->Add(view[0]);
         },
         {{"SELECT QTX_FID, ZONE_ID FROM WATER_MAIN_N WHERE QTX_FID IN (1001, 1002) ORDER BY 1",
           {"1001|3", "1002|3"}}},
         rt::vberr::TypeMismatch},
        // a = the scene's 1001, b = a second OpenFeature of it.
        {"two copies {b, a}: b edits a lining that a deletes, as two saves: edited, then gone",
         {{101, 1001}},
         {kAlone, kTogether},
         [](Scene& s) {
             TwoCopies(s, [](Scene& t) {
                 t.Set(1, "WATER_MAIN_LINING", "LINING_TYPE", Variant("EDITED"));
                 t.Rows(0, "WATER_MAIN_LINING")->Delete(ado::adAffectCurrent);
             }, true);
         },
         {{"SELECT QTX_CID, LINING_TYPE FROM WATER_LINING_N WHERE QTX_FID = 1001 ORDER BY 1", {"3|EPOXY"}}}},
        {"two copies {a, b}: a deletes a lining that b then edits, refused whole as the second save would be",
         {{101, 1001}},
         {kAlone, kTogether},
         [](Scene& s) {
             TwoCopies(s, [](Scene& t) {
                 t.Set(1, "WATER_MAIN_LINING", "LINING_TYPE", Variant("EDITED"));
                 t.Set(1, "WATER_MAIN_ATTR", "ZONE_ID", Variant(int32_t{7}));
                 t.Rows(0, "WATER_MAIN_LINING")->Delete(ado::adAffectCurrent);
             }, false);
         },
         {{"SELECT QTX_CID, LINING_TYPE FROM WATER_LINING_N WHERE QTX_FID = 1001 ORDER BY 1",
           {"1|CEMENT", "3|EPOXY"}},
          {"SELECT ZONE_ID FROM WATER_MAIN_N WHERE QTX_FID = 1001", {"3"}}},
         pelmora::kErrorBase + 23288},
        // UpdateFeature stores nothing itself: a view only the cache would save is refused.
        {"UpdateFeature of a view from the interface's OpenFeatures, caching off, is refused",
         {{101, 1001}},
         {kAlone},
         [](Scene& s) {
             s.saved = true;
             s.assembly->OpenFeatures(KeysOf({{101, 1001}, {101, 1002}}, &s.f), true);
             s.Set(1, "WATER_MAIN_ATTR", "ZONE_ID", Variant(int32_t{7}));
             s.assembly->UpdateFeature(s.f[1]);
         },
         {{"SELECT ZONE_ID FROM WATER_MAIN_N WHERE QTX_FID = 1001", {"3"}}},
         rt::vberr::TypeMismatch},
        {"UpdateFeature of a member view is refused: the holder's save stores it",
         {{101, 1001}, {101, 1002}},
         {kTogether},
         [](Scene& s) {
             s.saved = true;
             s.Set(0, "WATER_MAIN_ATTR", "ZONE_ID", Variant(int32_t{7}));
             s.assembly->UpdateFeature(s.f[0]);
         },
         {{"SELECT ZONE_ID FROM WATER_MAIN_N WHERE QTX_FID = 1001", {"3"}}},
         rt::vberr::TypeMismatch},
        {"the interface's OpenFeatures with caching on: UpdateFeature passes, SaveCache stores",
         {{101, 1001}},
         {kAlone},
         [](Scene& s) {
             CachedViews caching(s);
             s.Set(0, "WATER_MAIN_ATTR", "ZONE_ID", Variant(int32_t{7}));
             s.assembly->UpdateFeature(s.f[0]);
             s.assembly->SaveCache();
         },
         {{"SELECT ZONE_ID FROM WATER_MAIN_N WHERE QTX_FID = 1001", {"7"}}}},
        // ---- rows added, deleted and defaulted through a member ----
        {"a lining added to the second main takes its own material's load attributes",
         {{101, 1002}, {101, 5201}},
         {kAlone, kTogether},
         [](Scene& s) { s.Add(1, "WATER_MAIN_LINING", {101, 5201}); },
         {{"SELECT QTX_FID, QTX_CID, LINING_TYPE, THICKNESS_MM FROM WATER_LINING_N WHERE QTX_FID = 5201",
           {"5201|1|CEMENT|3"}}}},
        {"a line added to a main without one starts its CIDs at 1",
         {{101, 1003}, {101, 5953}},
         {kAlone, kTogether},
         [](Scene& s) { s.Add(1, "WATER_MAIN_LINE", {101, 5953}); },
         {{"SELECT QTX_FID, QTX_CID FROM WATER_MAIN_LN WHERE QTX_FID = 5953", {"5953|1"}}}},
        {"a line and a label deleted take their geometry rows along",
         {{101, 1001}, {101, 1002}},
         {kAlone, kTogether},
         [](Scene& s) { s.Delete(0, {"WATER_MAIN_LINE", "WATER_MAIN_LABEL"}); },
         kGeometryGone},
        {"every row of a feature deleted with its interfaces on takes the geometry rows along",
         {{101, 1001}, {101, 1002}},
         {kAlone, kTogether},
         [](Scene& s) {
             for (const auto& c : s.f[0]->get_Components()->get_NewEnum()) c->put_FunctionalInterfacesEnabled(true);
             s.Delete(0, {"COMMON_ATTR", "WATER_MAIN_ATTR", "WATER_MAIN_LINE", "WATER_MAIN_LABEL", "WATER_MAIN_LINING"},
                      true);
         },
         kGeometryGone},
        {"a line and a label deleted through cached views of the interface face, saved by the cache",
         {{101, 1001}},
         {kAlone},
         [](Scene& s) {
             CachedViews caching(s);
             s.Delete(0, {"WATER_MAIN_LINE", "WATER_MAIN_LABEL"});
             s.assembly->SaveCache();
         },
         kGeometryGone},
        {"a line added after another line's style was set stores the column's default",
         {{101, 5952}, {101, 1001}},
         {kAlone, kTogether},
         [](Scene& s) {
             s.Set(0, "WATER_MAIN_LINE", "LINE_STYLE", Variant::Null());
             s.Add(0, "WATER_MAIN_LINE", {101, 5952}, 2);
         },
         {{"SELECT QTX_CID, LINE_STYLE FROM WATER_MAIN_LN WHERE QTX_FID = 5952 ORDER BY 1", {"1|Null", "2|1"}}}},
        {"a common row added after another's state was set stores the column's default",
         {{101, 5952}, {101, 1001}},
         {kAlone, kTogether},
         [](Scene& s) {
             s.Set(0, "COMMON_ATTR", "FEATURE_STATE", Variant("INS"));
             s.Add(0, "COMMON_ATTR", {101, 5952}, 2);
         },
         {{"SELECT QTX_CID, FEATURE_STATE FROM QTX_COMMON_N WHERE QTX_FID = 5952 ORDER BY 1",
           {"1|INS", "2|PPI"}}}},
    };
    RunTable(cases);
}

namespace {

enum class Then { Nothing, Update, Cancel };
struct Change {
    const char* field;
    Variant value;
};

// On the first feature's WATER_MAIN_ATTR row: the view's change left open,
// then another recordset of the row (the rows every member shares, or the
// caller's own clone) ends a change of its own, then the view does `then`.
Steps OtherEndsAChange(Change open, bool shared, Change other, Then then) {
    return [=](Scene& s) {
        s.Set(0, "WATER_MAIN_ATTR", open.field, open.value, false);
        auto rows = shared ? s.Shared(0, "WATER_MAIN_ATTR") : s.OwnClone(0, "WATER_MAIN_ATTR");
        rows->SetValue(Variant(other.field), other.value);
        rows->Update();
        auto view = s.RowsHere(0, "WATER_MAIN_ATTR");
        if (then == Then::Update) view->Update();
        if (then == Then::Cancel) view->CancelUpdate();
    };
}

// The first feature (owned) related to the last through relationship rno,
// from the owner's side or the owned one's; then the caller's own clone of
// the owned feature's rows ends a change.
Steps RelateThenCloneEdits(int16_t rno, bool fromOwner, const char* component, Change other) {
    return [=](Scene& s) {
        const KeyPtr owned = s.f.front(), owner = s.f.back();
        s.relate->SilentEstablish(fromOwner ? owner : owned, fromOwner ? owned : owner, Variant(rno));
        auto clone = s.OwnClone(0, component);
        clone->SetValue(Variant(other.field), other.value);
        clone->Update();
    };
}

}  // namespace

// An edit not yet ended is its recordset's alone: no other member takes,
// stores, sends or wipes it, and what ends it stores it.
TEST_F(AloneOrTogether, AnEditStaysItsOwnUntilItEnds) {
    const char* const kMain1001 = "SELECT ZONE_ID, LENGTH_M FROM WATER_MAIN_N WHERE QTX_FID = 1001";
    const char* const kMain5957 = "SELECT MATERIAL, ZONE_ID FROM WATER_MAIN_N WHERE QTX_FID = 5957";
    const std::vector<Feature> k1001 = {{101, 1001}, {101, 1002}}, k5957 = {{101, 5957}, {101, 5203}};
    const std::vector<Way> both = {kAlone, kTogether};
    const std::vector<Case> cases = {
        {"another member's Update of the row", k1001, both,
         OtherEndsAChange({"ZONE_ID", Variant(int32_t{7})}, true, {"LENGTH_M", Variant(123.0)}, Then::Nothing),
         {{kMain1001, {"7|123"}}}},
        {"the caller's own clone ends a change of another field", k5957, both,
         OtherEndsAChange({"MATERIAL", Variant("PVC")}, false, {"ZONE_ID", Variant(int32_t{7})}, Then::Nothing),
         {{kMain5957, {"PVC|7"}}}},
        {"the caller's own clone assigns what the field holds, then the view updates", k5957, both,
         OtherEndsAChange({"MATERIAL", Variant("PVC")}, false, {"ZONE_ID", Variant(int32_t{1})}, Then::Update),
         {{kMain5957, {"PVC|1"}}}},
        {"CancelUpdate takes back its own edit, not another member's ended since", k1001, both,
         OtherEndsAChange({"ZONE_ID", Variant(int32_t{7})}, true, {"ZONE_ID", Variant(int32_t{9})}, Then::Cancel),
         {{kMain1001, {"9|412.35"}}}},
        {"CancelUpdate takes back its own edit, not a clone's ended since", k1001, both,
         OtherEndsAChange({"ZONE_ID", Variant(int32_t{5})}, false, {"ZONE_ID", Variant(int32_t{7})}, Then::Cancel),
         {{kMain1001, {"7|412.35"}}}},
        {"a relate's open edit, then the valve edited on a clone of its own", {{102, 5603}, {101, 1001}}, both,
         RelateThenCloneEdits(2, false, "VALVE_ATTR", {"TURNS_TO_CLOSE", Variant(int32_t{77})}),
         {{"SELECT TURNS_TO_CLOSE, OWNER_ID = (SELECT QTX_ID FROM WATER_MAIN_N WHERE QTX_FID = 1001) FROM VALVE_N "
           "WHERE QTX_FID = 5603",
           {"77|1"}}}},
        {"a hydrant related to another main, then edited on a clone of its own",
         {{103, 5611}, {103, 5612}, {101, 1003}}, both,
         RelateThenCloneEdits(1, true, "HYDRANT_ATTR", {"FLOW_RATE", Variant(int32_t{950})}),
         {{"SELECT FLOW_RATE, OWNER_ID FROM HYDRANT_N WHERE QTX_FID = 5611", {"950|3"}}}},
        {"the component's own Update ends the open edit first and writes it", k1001, both,
         [](Scene& s) {
             s.saved = true;
             s.Set(0, "WATER_MAIN_ATTR", "LENGTH_M", Variant(55.0));
             s.Set(0, "WATER_MAIN_ATTR", "ZONE_ID", Variant(int32_t{7}), false);
             s.SharedComponent(0, "WATER_MAIN_ATTR")->Update();
             auto rows = s.RowsHere(0, "WATER_MAIN_ATTR");
             rows->CancelUpdate();
             EXPECT_EQ(rt::CLng(rows->GetValue(Variant("ZONE_ID"))), 7);
             rows->put_Filter(Variant(int32_t{ado::adFilterPendingRecords}));
             EXPECT_EQ(rows->get_RecordCount(), 0);
         },
         {{kMain1001, {"7|55"}}}},
        {"the component's own Update, its open edit refused, raises and writes nothing", k1001, both,
         [](Scene& s) {
             s.saved = true;
             auto sink = std::make_shared<pelmora_test::RefusesUpdate>();
             s.keep.push_back(sink);
             s.RowsHere(0, "WATER_MAIN_ATTR")->Advise(sink);
             s.Set(0, "WATER_MAIN_ATTR", "LENGTH_M", Variant(55.0), false);
             s.SharedComponent(0, "WATER_MAIN_ATTR")->Update();
         },
         {{kMain1001, {"3|412.35"}}},
         ado::err::OperationCancelled},
        // A cached review of the owner reads the valve's rows, which ends the
        // relate's edit on them, whether they are its own or a view's.
        {"a cached review of the owner ends the relate's open edit and sees the link", {{102, 5603}, {101, 1001}},
         both,
         [](Scene& s) {
             CachedViews caching(s, {{102, 5603}, {101, 1001}}, true);
             s.relate->SilentEstablish(s.f[0], s.f[1], Variant(int16_t{2}));
             auto found = std::dynamic_pointer_cast<rt::Collection>(
                 s.relate->GetRelationshipHelper(1)->ReviewRelationship(s.f[1]).Obj());
             bool seen = false;
             for (int32_t i = 1; found && i <= found->Count(); ++i)
                 seen = seen || rt::QueryInterface<pelmora::IKeyObject>(found->Item(Variant(i)).Obj())->get_FID() == 5603;
             EXPECT_TRUE(seen);
         },
         {{"SELECT OWNER_ID FROM VALVE_N WHERE QTX_FID = 5603", {"Null"}}}},
        {"a relate's open edit, its view's rows let go and read again, then related again",
         {{102, 5603}, {101, 1001}, {101, 1002}},
         {kTogether},
         [](Scene& s) {
             s.relate->SilentEstablish(s.f[0], s.f[1], Variant(int16_t{2}));
             auto view = s.f[0]->get_Components()->get_Item(Variant("VALVE_ATTR"));
             rt::QueryInterface<pelmora::ComponentClone>(view)->ReleaseRecordset();
             EXPECT_FALSE(s.Rows(0, "VALVE_ATTR")->GetValue(Variant("OWNER_ID")).IsNull());
             s.Set(0, "VALVE_ATTR", "TURNS_TO_CLOSE", Variant(int32_t{77}), false);
             s.relate->SilentEstablish(s.f[0], s.f[2], Variant(int16_t{2}));
         },
         {{"SELECT TURNS_TO_CLOSE, OWNER_ID = (SELECT QTX_ID FROM WATER_MAIN_N WHERE QTX_FID = 1002) FROM VALVE_N "
           "WHERE QTX_FID = 5603",
           {"77|1"}}}},
        // Nobody is left to cancel the edit of a view let go: refused by one
        // save, it is taken back, and the next save stores the rest.
        {"a kept edit its handler refuses fails one save, then goes", k1001, {kTogether},
         [](Scene& s) {
             s.saved = true;
             auto sink = std::make_shared<pelmora_test::RefusesUpdate>();
             s.RowsHere(0, "WATER_MAIN_ATTR")->Advise(sink);
             s.Set(0, "WATER_MAIN_ATTR", "ZONE_ID", Variant(int32_t{7}), false);
             s.f.erase(s.f.begin());
             s.Set(0, "WATER_MAIN_ATTR", "ZONE_ID", Variant(int32_t{8}));
             const int32_t refused = pelmora_test::ErrorOf([&] { s.assembly->UpdateFeatures(s.save); });
             EXPECT_EQ(refused, ado::err::OperationCancelled);
             s.Set(0, "WATER_MAIN_ATTR", "LENGTH_M", Variant(66.0));
             s.assembly->UpdateFeatures(s.save);
         },
         {{"SELECT QTX_FID, ZONE_ID, LENGTH_M FROM WATER_MAIN_N WHERE QTX_FID IN (1001, 1002) ORDER BY 1",
           {"1001|3|412.35", "1002|8|66"}}}},
    };
    RunTable(cases);
}

namespace {

// The edits a handler may keep opening before the operation is refused.
constexpr int kBound = ado::kEditsHandlersMayOpen;

// Sets ZONE_ID := value on the other rows (its own when it has none), left
// open, each time the rows it is advised on end an edit (or, onWillMove, are
// about to move off a row), at most times times (-1: never stops); each
// stamp adds rise to the value first.
class OpensAnEdit : public ado::RecordsetEvents {
public:
    explicit OpensAnEdit(const RowsPtr& other, int times = 1, int32_t value = 42, int32_t rise = 0,
                         bool onWillMove = false)
        : other_(other), times_(times), value_(value), rise_(rise), onWillMove_(onWillMove) {}
    void RecordChangeComplete(ado::EventReasonEnum reason, int32_t, const rt::ComError*, ado::EventStatusEnum&,
                              const ado::RecordsetPtr& rows) override {
        if (reason == ado::adRsnUpdate && !onWillMove_) Stamp(rows);
    }
    void WillMove(ado::EventReasonEnum, ado::EventStatusEnum&, const ado::RecordsetPtr& rows) override {
        if (onWillMove_ && !rows->get_BOF() && !rows->get_EOF()) Stamp(rows);
    }

private:
    void Stamp(const ado::RecordsetPtr& rows) {
        if (times_ == 0) return;
        if (times_ > 0) --times_;
        value_ += rise_;
        // Weakly: the rows hold their sinks.
        auto other = other_.expired() ? rows : other_.lock();
        if (other) other->SetValue(Variant("ZONE_ID"), Variant(value_));
    }

    std::weak_ptr<ado::Recordset> other_;
    int times_;
    int32_t value_;
    int32_t rise_;
    bool onWillMove_;
};

// The features of the random steps: two mains, the valves the sample's
// ownership relates to them and a hydrant.
const std::vector<Feature> kStepFeatures = {{101, 1001}, {101, 1002}, {102, 5603}, {102, 5601}, {103, 5611}};
constexpr size_t kHydrant = 4;

struct Step {
    enum Kind {
        Edit, EditLining, Cancel, AddLining, DeleteLining, Relate, Unrelate, Save, CloneEdit, Move, RelateHydrant,
        HeldRows, ViewGeometry, RefusedSave, Sink, HandlerRefusal, DeleteWhole, WillMoveSink, ReopeningSink
    } kind;
    size_t main;   // 0 or 1
    size_t valve;  // 2 or 3
    int32_t value;
    bool update;
};

std::vector<Step> RandomSteps(uint32_t seed, size_t count) {
    std::mt19937 random(seed);
    auto pick = [&](int32_t n) { return static_cast<int32_t>(random() % static_cast<uint32_t>(n)); };
    std::vector<Step> steps;
    for (size_t i = 0; i < count; ++i)
        steps.push_back({static_cast<Step::Kind>(pick(Step::ReopeningSink + 1)), static_cast<size_t>(pick(2)),
                         static_cast<size_t>(2 + pick(2)), 1 + pick(90), pick(2) == 0});
    return steps;
}

std::string Describe(const Step& step) {
    static const char* const kinds[] = {"edit",     "edit lining", "cancel", "add lining", "delete lining",
                                        "relate",   "unrelate",    "save",   "clone edit", "move",
                                        "relate hydrant", "held rows", "view geometry", "refused save",
                                        "sink",     "handler refusal", "delete whole", "will-move sink",
                                        "reopening sink"};
    return std::string(kinds[step.kind]) + " main " + std::to_string(step.main) + " valve " +
           std::to_string(step.valve) + " value " + std::to_string(step.value) + (step.update ? " updated" : "");
}

void Apply(Scene& s, const Step& step, int16_t& nextCid) {
    const bool valve = step.kind == Step::Edit && step.value % 2 == 1;
    switch (step.kind) {
        case Step::Edit:
            if (valve) s.Set(step.valve, "VALVE_ATTR", "TURNS_TO_CLOSE", Variant(step.value), step.update);
            else s.Set(step.main, "WATER_MAIN_ATTR", "ZONE_ID", Variant(step.value), step.update);
            break;
        case Step::EditLining:
        case Step::DeleteLining: {
            auto rows = s.Rows(step.main, "WATER_MAIN_LINING");
            if (rows->get_EOF()) return;
            for (int32_t k = step.value % 3; k > 0 && !rows->get_EOF(); --k) rows->MoveNext();
            if (rows->get_EOF()) rows->MoveFirst();
            if (step.kind == Step::DeleteLining) {
                rows->Delete(ado::adAffectCurrent);
                return;
            }
            rows->SetValue(Variant("LINING_TYPE"), Variant("T" + std::to_string(step.value)));
            if (step.update) rows->Update();
            break;
        }
        case Step::Cancel: {
            auto rows = step.update ? s.RowsHere(step.valve, "VALVE_ATTR") : s.RowsHere(step.main, "WATER_MAIN_ATTR");
            // A view nobody moved yet stands past its rows, where a feature's
            // own rows stand on the first: a caller moves before it reads.
            if (rows->get_BOF() && rows->get_EOF()) return;
            if (rows->get_BOF() || rows->get_EOF()) rows->MoveFirst();
            rows->CancelUpdate();
            break;
        }
        case Step::AddLining: {
            auto rows = s.Rows(step.main, "WATER_MAIN_LINING");
            NewLining(rows, s.f[step.main]->get_FID(), nextCid++, Variant("A" + std::to_string(step.value)));
            if (step.update) rows->Update();
            break;
        }
        case Step::Relate:
            s.relate->SilentEstablish(s.f[step.valve], s.f[step.main], Variant(int16_t{2}));
            break;
        case Step::Unrelate:
            s.relate->DeleteRelationship(s.f[step.main], s.f[step.valve], Variant(int16_t{1}));
            break;
        case Step::Save:
            s.assembly->UpdateFeatures(s.save);
            break;
        case Step::CloneEdit: {
            // The caller's own clone, ended at once.
            auto rows = step.update ? s.OwnClone(step.valve, "VALVE_ATTR") : s.OwnClone(step.main, "WATER_MAIN_ATTR");
            rows->SetValue(Variant(step.update ? "TURNS_TO_CLOSE" : "LENGTH_M"), Variant(step.value));
            rows->Update();
            break;
        }
        case Step::Move: {
            // Ends an edit left open on the rows. A view nobody moved stands
            // past its rows, a feature's own rows on the first: both move on.
            auto rows = s.RowsHere(step.main, "WATER_MAIN_LINING");
            if (rows->get_BOF() && rows->get_EOF()) return;
            if (rows->get_BOF() || rows->get_EOF()) rows->MoveFirst();
            else rows->MoveNext();
            break;
        }
        case Step::RelateHydrant:
            s.relate->SilentEstablish(s.f[step.main], s.f[kHydrant], Variant(int16_t{1}));
            break;
        case Step::HeldRows: {
            // The rows kept and their view let go: a row added or edited
            // through them is the feature's, as through its own rows.
            auto rows = s.Rows(step.main, "WATER_MAIN_LINING");
            auto item = s.f[step.main]->get_Components()->get_Item(Variant("WATER_MAIN_LINING"));
            if (auto view = std::dynamic_pointer_cast<pelmora::ComponentClone>(item)) view->ReleaseRecordset();
            const Variant type("H" + std::to_string(step.value));
            if (step.update) {
                NewLining(rows, s.f[step.main]->get_FID(), nextCid++, type);
            } else {
                if (rows->get_BOF() || rows->get_EOF()) return;
                rows->SetValue(Variant("LINING_TYPE"), type);
            }
            rows->Update();
            break;
        }
        case Step::ViewGeometry: {
            // Set after the other main's line moved: still this main's own.
            auto line = s.f[step.main]->get_Components()->get_Item(Variant("WATER_MAIN_LINE"));
            s.Rows(step.main, "WATER_MAIN_LINE");
            auto geometry = line->get_Geometry();
            if (!geometry) return;
            auto point = rt::QueryInterface<pelmora::IPointListGeometry>(geometry)->get_Points()->Item(1);
            point->put_X(point->get_X() + step.value);
            s.Rows(1 - step.main, "WATER_MAIN_LINE");
            line->putref_Geometry(geometry);
            break;
        }
        case Step::RefusedSave: {
            // A good save, then one refused on a value too long for its
            // column: the good one stands, and the pending edits validated
            // are what it stored.
            s.assembly->UpdateFeatures(s.save);
            auto rows = s.Rows(step.main, "WATER_MAIN_ATTR");
            const Variant before = rows->GetValue(Variant("MATERIAL"));
            rows->SetValue(Variant("MATERIAL"), Variant(std::string(300, 'M')));
            rows->Update();
            const int32_t refused = pelmora_test::ErrorOf([&] { s.assembly->UpdateFeatures(s.save); });
            rows->SetValue(Variant("MATERIAL"), before);
            rows->Update();
            auto validation = std::make_shared<pelmora::FeatureValidationService>();
            validation->putref_DataContext(s.db);
            auto findings = validation->ValidatePendingEdits();
            s.notes.push_back("refused " + std::to_string(refused) + ", findings " +
                              std::to_string(findings ? findings->get_RecordCount() : -1));
            break;
        }
        case Step::Sink:
        case Step::ReopeningSink: {
            // Stamps the main's own attribute row, or (updated) main 1002's
            // from 1001's, as its rows end an edit: a few times, or
            // (reopening) a number of times about the bound or without end,
            // each stamp one more; for the next three steps. (1002's
            // stamping 1001's would depend on the order alone of saves.)
            if (s.advised.second > 0) s.advised.first();
            auto rows = s.RowsHere(step.main, "WATER_MAIN_ATTR");
            const bool other = step.update && step.main == 0 && step.kind == Step::Sink;
            const int reopening[] = {1 + step.value, kBound, kBound + 1, -1};
            const bool reopen = step.kind == Step::ReopeningSink;
            auto sink = std::make_shared<OpensAnEdit>(other ? s.Rows(1, "WATER_MAIN_ATTR") : nullptr,
                                                      reopen ? reopening[step.value % 4] : 1 + step.value % 3,
                                                      step.value, reopen ? 1 : 0);
            const int32_t cookie = rows->Advise(sink);
            s.advised = {[rows, cookie, sink] { rows->Unadvise(cookie); }, 3};
            break;
        }
        case Step::WillMoveSink: {
            // The caller moves the main's attribute rows on (or, updated, to
            // their first row) while a sink stamps the row being left. Only
            // for this move: the save moves a feature's own rows, not views.
            // A view nobody moved stands past its rows, a feature's own rows
            // on the first: both are put on a row first.
            auto rows = s.RowsHere(step.main, "WATER_MAIN_ATTR");
            if (rows->get_BOF() && rows->get_EOF()) return;
            if (rows->get_BOF() || rows->get_EOF()) rows->MoveFirst();
            auto sink = std::make_shared<OpensAnEdit>(nullptr, 1, step.value, 0, true);
            const int32_t cookie = rows->Advise(sink);
            try {
                if (step.update) rows->MoveFirst();
                else rows->MoveNext();
            } catch (const rt::ComError&) {
                rows->Unadvise(cookie);
                throw;
            }
            rows->Unadvise(cookie);
            // Off its rows a view stays where a save leaves a feature's own
            // on their first row: put back on a row.
            if (rows->get_EOF() && !rows->get_BOF()) rows->MoveFirst();
            break;
        }
        case Step::HandlerRefusal: {
            // A save a handler refuses, then a lining added where the rows
            // stand.
            auto line = s.Rows(step.main, "WATER_MAIN_LINE");
            auto sink = std::make_shared<pelmora_test::RefusesUpdate>();
            const int32_t cookie = line->Advise(sink);
            line->SetValue(Variant("LINE_STYLE"), Variant(1 + step.value % 9));
            const int32_t refused = pelmora_test::ErrorOf([&] { s.assembly->UpdateFeatures(s.save); });
            line->Unadvise(cookie);
            line->CancelUpdate();
            s.notes.push_back("handler refusal " + std::to_string(refused));
            auto rows = s.RowsHere(step.main, "WATER_MAIN_LINING");
            NewLining(rows, s.f[step.main]->get_FID(), nextCid++, Variant("R" + std::to_string(step.value)));
            rows->Update();
            break;
        }
        case Step::DeleteWhole: {
            // Every row of the main, then the hydrant related to it.
            for (const auto& component : s.f[step.main]->get_Components()->get_NewEnum()) {
                auto rows = component->get_Recordset();
                while (!(rows->get_BOF() && rows->get_EOF())) {
                    rows->MoveFirst();
                    rows->Delete(ado::adAffectCurrent);
                }
            }
            s.relate->SilentEstablish(s.f[step.main], s.f[kHydrant], Variant(int16_t{1}));
            break;
        }
    }
}

}  // namespace

TEST_F(AloneOrTogether, RandomStepsStoreTheSameOpenedAloneOrTogether) {
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        const std::vector<Step> steps = RandomSteps(seed, 14);
        std::string script;
        for (const Step& step : steps) script += "\n  " + Describe(step);
        SCOPED_TRACE("seed " + std::to_string(seed) + ":" + script);
        Lines results[2];
        for (Way way : {kAlone, kTogether}) {
            Scene s = Open(way, kStepFeatures);
            recorder_->records.clear();
            Lines& out = results[way == kAlone ? 0 : 1];
            int16_t nextCid = 10;
            for (const Step& step : steps) {
                out.push_back(std::to_string(pelmora_test::ErrorOf([&] { Apply(s, step, nextCid); })));
                if (s.advised.second > 0 && --s.advised.second == 0) s.advised.first();
            }
            out.push_back(std::to_string(pelmora_test::ErrorOf([&] { s.assembly->UpdateFeatures(s.save); })));
            for (const auto& note : s.notes) {
                if (note.starts_with("refused ")) {
                    EXPECT_EQ(note.rfind("refused " + std::to_string(pelmora::kErrorBase + 23288), 0), 0u) << note;
                }
                out.push_back(note);
            }
            // A metadata table's first load tells of the roles once per thread,
            // whichever way opened first.
            for (const auto& box : recorder_->records)
                if (!box.text.starts_with("IsRoleGranted")) out.push_back("box " + box.text);
            s.db->Commit();
            Lines stored = Stored(*s.db);
            out.insert(out.end(), stored.begin(), stored.end());
        }
        // Only what differs: "-" alone, "+" together.
        Lines differences;
        for (const auto& l : results[0])
            if (std::find(results[1].begin(), results[1].end(), l) == results[1].end()) differences.push_back("-" + l);
        for (const auto& l : results[1])
            if (std::find(results[0].begin(), results[0].end(), l) == results[0].end()) differences.push_back("+" + l);
        const Lines errors[2] = {Lines(results[0].begin(), results[0].begin() + static_cast<std::ptrdiff_t>(steps.size() + 1)),
                                 Lines(results[1].begin(), results[1].begin() + static_cast<std::ptrdiff_t>(steps.size() + 1))};
        EXPECT_EQ(errors[0], errors[1]);
        EXPECT_EQ(differences, Lines{});
    }
}

namespace {

// Feature k's line takes the line of main 1002.
void ReplaceLine(Scene& s, size_t k) {
    auto other = s.assembly->OpenFeature(101, 1002);
    auto line = other->get_Components()->get_Item(Variant("WATER_MAIN_LINE"))->get_Geometry();
    s.Rows(k, "WATER_MAIN_LINE");  // on its row: a view stands past them
    s.f.at(k)->get_Components()->get_Item(Variant("WATER_MAIN_LINE"))->putref_Geometry(line);
}

void DeleteLine(Scene& s, size_t k) { s.Rows(k, "WATER_MAIN_LINE")->Delete(ado::adAffectCurrent); }

// Deletes feature k's row of the component with that CID.
void DeleteCid(Scene& s, size_t k, const char* component, int16_t cid) {
    auto rows = s.Rows(k, component);
    rows->Find("QTX_CID = " + std::to_string(cid));
    rows->Delete(ado::adAffectCurrent);
}

// Saves what TwoCopies gives the save one key object at a time, in its order.
void SaveApart(Scene& s) {
    s.saved = true;
    for (const auto& offered : s.save->Offers()) {
        auto one = pelmora::KeyObjects::New();
        one->Add(offered.member);
        s.assembly->UpdateFeatures(one);
    }
}

// Two copies of a feature and their steps: b is f[1], a is f[0].
struct Copies {
    const char* what;
    Feature feature;
    Steps steps;
    bool bFirst;
    std::vector<Check> checks;
    int32_t error = 0;
};

// Each in one save, then saved one copy at a time: the same rows (a refused
// save refuses both copies, where the first of two saves stands).
std::vector<Case> InOneSaveAndApart(const std::vector<Copies>& copies) {
    std::vector<Case> cases;
    for (const Copies& c : copies)
        for (bool oneSave : {true, false}) {
            if (!oneSave && c.error != 0) continue;
            cases.push_back({c.what, {c.feature}, {kAlone, kTogether},
                             [c, oneSave](Scene& s) {
                                 TwoCopies(s, c.steps, c.bFirst);
                                 if (!oneSave) SaveApart(s);
                             },
                             c.checks, c.error});
        }
    return cases;
}

}  // namespace

// a = the scene's 1001, b = a second OpenFeature of it; one save of both
// stores what two saves in that order store, the geometry rows included.
TEST_F(AloneOrTogether, GeometryOfTwoCopiesInOneSaveAsTwoSaves) {
    // Copy k moves the first vertex of its line's first geometry row.
    const auto editGeometryRow = [](Scene& s, size_t k) {
        auto item = s.f.at(k)->get_Components()->get_Item(Variant("WATER_MAIN_LINE"));
        item->get_Recordset();
        auto view = std::dynamic_pointer_cast<pelmora::ComponentClone>(item);
        auto line = view ? view->PrivateComponent() : rt::QueryInterface<pelmora::Component>(item);
        auto rows = line->OpenGeometryRecordset(1);
        rows->put_Filter(Variant(int32_t{ado::adFilterNone}));
        rows->MoveFirst();
        rows->SetValue(Variant("SDO_X1"), Variant(999.5));
        rows->Update();
    };
    const std::vector<Check> kLineGone = {
        {"SELECT COUNT(*) FROM WATER_MAIN_LN WHERE QTX_FID = 1001", {"0"}},
        {"SELECT COUNT(*) FROM WATER_MAIN_LN_SDOGEOM WHERE QTX_FID = 1001", {"0"}}};
    // Rows or geometry one copy writes anew and the other then deletes or
    // changes.
    const Steps linings = [](Scene& t) {
        DeleteCid(t, 1, "WATER_MAIN_LINING", 3);
        auto rows = t.Rows(1, "WATER_MAIN_LINING");
        NewLining(rows, 1001, 3, Variant("NEW"));
        rows->Update();
        DeleteCid(t, 0, "WATER_MAIN_LINING", 3);
    };
    const Steps attributes = [](Scene& t) {
        DeleteCid(t, 1, "WATER_MAIN_ATTR", 1);
        t.Add(1, "WATER_MAIN_ATTR", {101, 1002}, 1);
        t.Set(0, "WATER_MAIN_ATTR", "ZONE_ID", Variant(int32_t{9}));
    };
    const std::vector<Copies> copies = {
        {"{b, a}: b replaces the line's geometry, a deletes the line: nothing of it stays", {101, 1001},
         [&](Scene& t) { ReplaceLine(t, 1); DeleteLine(t, 0); }, true, kLineGone},
        {"{a, b}: a replaces the line's geometry, b deletes the line: nothing of it stays", {101, 1001},
         [&](Scene& t) { ReplaceLine(t, 0); DeleteLine(t, 1); }, false, kLineGone},
        {"{b, a}: b moves a vertex of the line a deletes: nothing of it stays", {101, 1001},
         [&](Scene& t) { editGeometryRow(t, 1); DeleteLine(t, 0); }, true, kLineGone},
        {"{a, b}: a deletes the line whose vertex b then moves, refused whole", {101, 1001},
         [&](Scene& t) { editGeometryRow(t, 1); DeleteLine(t, 0); }, false,
         {{"SELECT COUNT(*) FROM WATER_MAIN_LN WHERE QTX_FID = 1001", {"1"}},
          {"SELECT SDO_SEQ, SDO_X1 FROM WATER_MAIN_LN_SDOGEOM WHERE QTX_FID = 1001 ORDER BY 1", {"0|1000", "1|1350"}}},
         pelmora::kErrorBase + 23288},
        {"{b, a}: b deletes lining 3 and adds it anew, a deletes lining 3", {101, 1001}, linings, true,
         {{"SELECT QTX_CID, LINING_TYPE FROM WATER_LINING_N WHERE QTX_FID = 1001 ORDER BY 1", {"1|CEMENT"}}}},
        {"{b, a}: b writes main 1002's attribute row anew, a sets its zone", {101, 1002}, attributes, true,
         {{"SELECT QTX_CID, ZONE_ID FROM WATER_MAIN_N WHERE QTX_FID = 1002", {"1|9"}}}},
        {"{b, a}: b replaces the line's geometry, a moves a vertex of the old one", {101, 1001},
         [&](Scene& t) { ReplaceLine(t, 1); editGeometryRow(t, 0); }, true,
         {{"SELECT SDO_SEQ, SDO_X1 FROM WATER_MAIN_LN_SDOGEOM WHERE QTX_FID = 1001 ORDER BY 1", {"0|999.5"}}}},
    };
    RunTable(InOneSaveAndApart(copies));
}

namespace {

// On feature 5201's line, reached through its key object: its first vertex
// moved by 7 and set back, after another feature's line view was touched
// (0: its rows taken, 1: moved, 2: its geometry read).
Steps GeometryAfterTouching(int touch) {
    return [touch](Scene& s) {
        auto line = s.f[0]->get_Components()->get_Item(Variant("WATER_MAIN_LINE"));
        s.Rows(0, "WATER_MAIN_LINE");
        auto geometry = line->get_Geometry();
        auto point = rt::QueryInterface<pelmora::IPointListGeometry>(geometry)->get_Points()->Item(1);
        point->put_X(point->get_X() + 7);
        auto other = s.f[1]->get_Components()->get_Item(Variant("WATER_MAIN_LINE"));
        if (touch == 0) other->get_Recordset();
        if (touch == 1) s.Rows(1, "WATER_MAIN_LINE");
        if (touch == 2) other->get_Geometry();
        line->putref_Geometry(geometry);
    };
}

// Feature 1001's attribute rows held by the caller: ZONE_ID := 7 updated,
// LENGTH_M := 55 left open; the key object let go (or the view's rows
// released), then the held rows' CancelUpdate.
Steps CancelOnHeldRows(bool release) {
    return [release](Scene& s) {
        auto rows = s.Rows(0, "WATER_MAIN_ATTR");
        rows->SetValue(Variant("ZONE_ID"), Variant(int32_t{7}));
        rows->Update();
        rows->SetValue(Variant("LENGTH_M"), Variant(55.0));
        auto view = std::dynamic_pointer_cast<pelmora::ComponentClone>(
            s.f[0]->get_Components()->get_Item(Variant("WATER_MAIN_ATTR")));
        if (release && view) view->ReleaseRecordset();
        view.reset();
        if (!release) s.f.erase(s.f.begin());
        rows->CancelUpdate();
    };
}

// A lining added to main 5952 after its key object was let go, through its
// lining component or through its rows, whichever the caller kept.
Steps AddThroughHeld(bool rowsOnly) {
    return [rowsOnly](Scene& s) {
        auto lining = s.f[0]->get_Components()->get_Item(Variant("WATER_MAIN_LINING"));
        RowsPtr rows = rowsOnly ? lining->get_Recordset() : nullptr;
        if (rowsOnly) lining.reset();
        s.f.erase(s.f.begin());
        if (!rows) rows = lining->get_Recordset();
        rows->AddNew();
        rows->SetValue(Variant("QTX_FNO"), Variant(int16_t{101}));
        rows->SetValue(Variant("QTX_FID"), Variant(5952));
        rows->Update();
    };
}


}  // namespace

// A refused save undoes nothing of the saves before it; a view's geometry is
// its own feature's; rows a caller holds stay the feature's after its key
// object goes; the save ends every edit it can, and names every one it
// cannot.
TEST_F(AloneOrTogether, RefusedSavesAndHeldViewsAsAlone) {
    const char* const kMains = "SELECT QTX_FID, ZONE_ID, LENGTH_M FROM WATER_MAIN_N WHERE QTX_FID IN (1001, 1002) "
                               "ORDER BY 1";
    const char* const kLinings5952 =
        "SELECT QTX_CID, LINING_TYPE, THICKNESS_MM FROM WATER_LINING_N WHERE QTX_FID = 5952 ORDER BY 1";
    const std::vector<Feature> k1001 = {{101, 1001}, {101, 1002}};
    const std::vector<Way> both = {kAlone, kTogether};
    // Main 5201's line, its first vertex moved by 7; 1002's as it was.
    const std::vector<Check> kMoved = {
        {"SELECT QTX_FID, SDO_SEQ, SDO_X1 FROM WATER_MAIN_LN_SDOGEOM WHERE QTX_FID IN (5201, 1002) ORDER BY 1, 2",
         {"1002|0|1200", "5201|0|1557"}}};
    const std::vector<Case> cases = {
        {"a save refused in its first block after a good one keeps the good one", {{101, 1003}}, both,
         [](Scene& s) {
             s.saved = true;
             TwoCopies(s, [](Scene& t) {
                 t.Add(0, "COMMON_ATTR", {101, 1003});
                 ReplaceLine(t, 1);
                 DeleteLine(t, 0);
             }, true);
             s.assembly->UpdateFeatures(s.save);
             // The rows stay pending: the same save sends the added row again.
             s.assembly->UpdateFeatures(s.save);
         },
         {{"SELECT COUNT(*) FROM QTX_COMMON_N WHERE QTX_FID = 1003", {"2"}},
          {"SELECT COUNT(*) FROM WATER_MAIN_LN WHERE QTX_FID = 1003", {"0"}},
          {"SELECT COUNT(*) FROM WATER_MAIN_LN_SDOGEOM WHERE QTX_FID = 1003", {"0"}}},
         pelmora::kErrorBase + 23288},
        {"a save refused in a later block leaves nothing noted as written", k1001, both,
         [](Scene& s) {
             s.saved = true;
             TwoCopies(s, [](Scene& t) {
                 ReplaceLine(t, 2);
                 DeleteLine(t, 0);
                 t.Set(1, "WATER_MAIN_ATTR", "ZONE_ID", Variant(int32_t{7}));
             }, true);
             Variant affected;
             s.db->ExecuteSQL("DELETE FROM WATER_MAIN_N WHERE QTX_FID = 1002", affected, 1);
             EXPECT_EQ(pelmora_test::ErrorOf([&] { s.assembly->UpdateFeatures(s.save); }),
                       pelmora::kErrorBase + 23288);
             auto validation = std::make_shared<pelmora::FeatureValidationService>();
             validation->putref_DataContext(s.db);
             EXPECT_FALSE(validation->ValidatePendingEdits());
         },
         {{"SELECT COUNT(*) FROM WATER_MAIN_LN WHERE QTX_FID = 1001", {"1"}},
          {"SELECT SDO_SEQ, SDO_X1 FROM WATER_MAIN_LN_SDOGEOM WHERE QTX_FID = 1001 ORDER BY 1", {"0|1000", "1|1350"}}}},
        {"a view's geometry set after another view's rows were taken", {{101, 5201}, {101, 1002}}, both,
         GeometryAfterTouching(0), kMoved},
        {"a view's geometry set after another view moved", {{101, 5201}, {101, 1002}}, both,
         GeometryAfterTouching(1), kMoved},
        {"a view's geometry set after another view's geometry was read", {{101, 5201}, {101, 1002}}, both,
         GeometryAfterTouching(2), kMoved},
        {"held rows' CancelUpdate after their key object went takes back the open edit only", k1001, both,
         CancelOnHeldRows(false), {{kMains, {"1001|7|412.35", "1002|3|96.4"}}}},
        {"held rows' CancelUpdate after their view's rows were released takes back the open edit only", k1001,
         both, CancelOnHeldRows(true), {{kMains, {"1001|7|412.35", "1002|3|96.4"}}}},
        {"a lining added through a held component after its key object went loads its attributes",
         {{101, 5952}, {101, 1001}}, both, AddThroughHeld(false), {{kLinings5952, {"1|CEMENT|4.5"}}}},
        {"a lining added through held rows after their key object went loads its attributes", {{101, 5952}},
         both, AddThroughHeld(true), {{kLinings5952, {"1|CEMENT|4.5"}}}},
    };
    RunTable(cases);
}

TEST_F(AloneOrTogether, ClassificationAndLastRowAsAlone) {
    // Main 5952's attribute rows: CID 1 DI, CID 2 PE; an added one is PVC.
    const auto liningOf5952 = [](Lines rows) {
        return std::vector<Check>{
            {"SELECT LINING_TYPE, THICKNESS_MM FROM WATER_LINING_N WHERE QTX_FID = 5952 ORDER BY QTX_CID", rows}};
    };
    const Steps liningWhereCid2Stands = [](Scene& s) {
        auto rows = s.Rows(0, "WATER_MAIN_ATTR");
        rows->Find("QTX_CID = 2");
        rows->SetValue(Variant("ZONE_ID"), Variant(int32_t{9}));
        rows->Update();
        s.Add(0, "WATER_MAIN_LINING", {101, 5952});
    };
    const std::vector<Case> cases = {
        {"a lining takes the material of the attribute row its feature's rows stand on",
         {{101, 5952}, {101, 1001}}, {kAlone, kTogether}, liningWhereCid2Stands, liningOf5952({"CEMENT|3"})},
        {"a lining takes the material of the attribute row its feature's rows stand on, a group of one",
         {{101, 5952}}, {kAlone, kTogether}, liningWhereCid2Stands, liningOf5952({"CEMENT|3"})},
        {"a lining added after an attribute row takes the added row's material",
         {{101, 5952}, {101, 1001}},
         {kAlone, kTogether},
         [](Scene& s) {
             s.Add(0, "WATER_MAIN_ATTR", {101, 5952});
             s.Add(0, "WATER_MAIN_LINING", {101, 5952});
         },
         liningOf5952({"NONE|0"})},
        {"a lining of a main without attribute rows loads nothing and says why",
         {{101, 5701}, {101, 1001}},
         {kAlone, kTogether},
         [](Scene& s) { s.Add(0, "WATER_MAIN_LINING", {101, 5701}); },
         {{"SELECT LINING_TYPE, THICKNESS_MM FROM WATER_LINING_N WHERE QTX_FID = 5701", {"CEMENT|Null"}}},
         0,
         1},
        // The view stands where the feature's own rows stand after the delete,
        // so the relate adds the owner row it needs.
        {"a main's only attribute row deleted, then a hydrant related to it",
         {{101, 1002}, {101, 5704}, {101, 5957}, {101, 5201}},
         {kAlone, kTogether},
         [](Scene& s) {
             s.Delete(0, {"WATER_MAIN_ATTR"});
             auto hydrant = s.assembly->OpenFeature(103, 5961);
             Quiet(hydrant->get_Components());
             s.save->Add(hydrant);
             s.relate->SilentEstablish(s.f[0], hydrant, Variant(int16_t{1}));
         },
         {{"SELECT COUNT(*) FROM WATER_MAIN_N WHERE QTX_FID = 1002", {"1"}},
          {"SELECT OWNER_ID = (SELECT QTX_ID FROM WATER_MAIN_N WHERE QTX_FID = 1002), OWNER_CNO FROM HYDRANT_N "
           "WHERE QTX_FID = 5961",
           {"1|11"}}}},
    };
    RunTable(cases);
}


namespace {

// ---- the save ends the views' edits in one step ----

const char* const kMainsSaved =
    "SELECT QTX_FID, ZONE_ID, LENGTH_M FROM WATER_MAIN_N WHERE QTX_FID IN (1001, 1002) ORDER BY 1";

// Main 1001's LENGTH_M := 55 left open on its attribute rows, whose sink
// stamps their own row, or (eachOther) opens an edit on main 1002's rows,
// whose sink opens one back; times times each.
Steps StampedWhileSaved(int times, bool eachOther) {
    return [times, eachOther](Scene& s) {
        auto a = s.Rows(0, "WATER_MAIN_ATTR"), b = s.Rows(1, "WATER_MAIN_ATTR");
        const std::vector<std::pair<RowsPtr, RowsPtr>> sinks =
            eachOther ? std::vector<std::pair<RowsPtr, RowsPtr>>{{a, b}, {b, a}}
                      : std::vector<std::pair<RowsPtr, RowsPtr>>{{a, nullptr}};
        for (const auto& [rows, other] : sinks) {
            auto sink = std::make_shared<OpensAnEdit>(other, times);
            s.keep.push_back(sink);
            rows->Advise(sink);
        }
        a->SetValue(Variant("LENGTH_M"), Variant(55.0));
    };
}

// Edits (feature, component, field := 7) a sink refuses, left open as their
// views are let go with the key objects: one refused save names each
// (names), and the next stores 1002's LENGTH_M := 66, set on the shared rows.
using KeptEdit = std::tuple<size_t, const char*, const char*>;
Steps KeptEditsRefused(const std::vector<KeptEdit>& edits, const std::vector<const char*>& names) {
    return [edits, names](Scene& s) {
        s.saved = true;
        auto sink = std::make_shared<pelmora_test::RefusesUpdate>();
        s.keep.push_back(sink);
        for (const auto& [k, component, field] : edits) {
            s.RowsHere(k, component)->Advise(sink);
            s.Set(k, component, field, Variant(int32_t{7}), false);
        }
        s.f.clear();
        auto rows = s.holder->get_Components()->get_Item(Variant("WATER_MAIN_ATTR"))->get_Recordset();
        rows->Find("QTX_FID = 1002");
        rows->SetValue(Variant("LENGTH_M"), Variant(66.0));
        rows->Update();
        const rt::ComError refused = pelmora_test::Raised([&] { s.assembly->UpdateFeatures(s.save); });
        EXPECT_EQ(refused.Number(), ado::err::OperationCancelled);
        for (const char* name : names)
            EXPECT_NE(refused.Description().find(name), std::string::npos) << refused.Description();
        s.assembly->UpdateFeatures(s.save);
    };
}

const struct {
    const char* what;
    std::vector<KeptEdit> edits;
    std::vector<const char*> names;
} kKeptRefused[] = {
    {"kept edits of two features refused: one refusal names both, the next save stores the rest",
     {{0, "WATER_MAIN_ATTR", "ZONE_ID"}, {1, "WATER_MAIN_ATTR", "ZONE_ID"}},
     {"FID 1001", "FID 1002"}},
    {"kept edits refused in two components: one refusal names both, the next save stores the rest",
     {{0, "WATER_MAIN_ATTR", "ZONE_ID"}, {0, "WATER_MAIN_LINE", "LINE_STYLE"}},
     {"WATER_MAIN_ATTR,", "WATER_MAIN_LINE,"}},
};

std::vector<Case> SaveStepCases() {
    const std::vector<Feature> mains = {{101, 1001}, {101, 1002}};
    const std::vector<Check> stored55 = {{"SELECT LENGTH_M FROM WATER_MAIN_N WHERE QTX_FID = 1001", {"55"}}};
    std::vector<Case> cases;
    // More times than the save's rounds.
    cases.push_back({"a handler stamps its own row as the save ends its edit", mains, {kAlone, kTogether},
                     StampedWhileSaved(20, false), {{kMainsSaved, {"1001|42|55", "1002|3|96.4"}}}});
    // How deep such a cascade is followed may differ: the edit each save
    // leaves open is pending for the next.
    for (Way way : {kAlone, kTogether})
        cases.push_back({"handlers open edits on each other's rows as the save ends them", mains, {way},
                         StampedWhileSaved(8, true), stored55});
    // An edit of 1001's left open; as the save ends it, a handler opens one
    // on 1002's attribute rows (ZONE_ID := 101), of the same component or of
    // an earlier one.
    const struct {
        const char* what;
        const char* component;
        const char* field;
        std::vector<Check> checks;
    } opened[] = {
        {"an edit a handler opens while the save ends another is saved too", "WATER_MAIN_ATTR", "ZONE_ID",
         {{kMainsSaved, {"1001|7|412.35", "1002|101|96.4"}}}},
        {"an edit a handler opens on an earlier component as the save ends a later one is saved",
         "WATER_MAIN_LINING", "LINING_YEAR",
         {{kMainsSaved, {"1001|3|412.35", "1002|101|96.4"}},
          {"SELECT LINING_YEAR FROM WATER_LINING_N WHERE QTX_FID = 1001 AND QTX_CID = 1", {"7"}}}}};
    for (const auto& o : opened)
        cases.push_back({o.what, mains, {kAlone, kTogether},
                         [o](Scene& s) {
                             auto sink = std::make_shared<OpensAnEdit>(s.Rows(1, "WATER_MAIN_ATTR"), 1, 101);
                             s.keep.push_back(sink);
                             s.Set(0, o.component, o.field, Variant(int32_t{7}), false);
                             s.RowsHere(0, o.component)->Advise(sink);
                         },
                         o.checks});
    for (const auto& [what, edits, names] : kKeptRefused)
        cases.push_back({what, mains, {kTogether}, KeptEditsRefused(edits, names),
                         {{kMainsSaved, {"1001|3|412.35", "1002|3|66"}},
                          {"SELECT LINE_STYLE FROM WATER_MAIN_LN WHERE QTX_FID = 1001", {"1"}}}});
    return cases;
}

// ---- held rows read their classification where they stand ----


// Main 5201's lining rows held after whatever could save it went (the cache
// saved, which empties it, or the holder and the save's collection), its key
// object too; then a lining added through them.
Steps LiningAfterCollectionGone(bool cached) {
    return [cached](Scene& s) {
        std::unique_ptr<CachedViews> caching;
        if (cached) {
            caching = std::make_unique<CachedViews>(s, std::vector<Feature>{{101, 5201}, {101, 1003}}, true);
            for (const auto& key : s.f) s.assembly->UpdateFeature(key);
            s.assembly->SaveCache();
        }
        s.saved = true;
        auto linings = s.RowsHere(0, "WATER_MAIN_LINING");
        s.f.erase(s.f.begin());
        s.holder.reset();
        s.save.reset();
        NewLining(linings, 5201, 1, Variant("CEMENT"));
        linings->Update();
    };
}

std::vector<Case> HeldRowsCases() {
    const char* const kLinings5952 = "SELECT LINING_TYPE, THICKNESS_MM FROM WATER_LINING_N WHERE QTX_FID = 5952";
    const Check nothingOf5201 = {"SELECT COUNT(*) FROM WATER_LINING_N WHERE QTX_FID = 5201", {"0"}};
    const std::vector<Feature> k5952 = {{101, 5952}, {101, 1001}}, k5201 = {{101, 5201}, {101, 1003}};
    return {
        // Main 5952's attribute rows moved to CID 2 and held, with its lining
        // rows; its key object let go; a lining added through the lining rows.
        {"held attribute rows moved to CID 2, the key object gone: a lining takes CID 2's thickness", k5952,
         {kAlone, kTogether},
         [](Scene& s) {
             auto attributes = s.Rows(0, "WATER_MAIN_ATTR");
             attributes->Find("QTX_CID = 2");
             auto linings = s.RowsHere(0, "WATER_MAIN_LINING");
             s.f.erase(s.f.begin());
             NewLining(linings, 5952, 1, Variant("CEMENT"));
             linings->Update();
         },
         {{kLinings5952, {"CEMENT|3"}}}},
        {"held lining rows after the cache was saved and the key object went: a lining added, no box", k5201,
         {kAlone, kTogether}, LiningAfterCollectionGone(true), {nothingOf5201}},
        {"held lining rows after the holder, the collection and the key object went: a lining added, no box",
         k5201, {kAlone, kTogether}, LiningAfterCollectionGone(false), {nothingOf5201}},
    };
}

// ---- a refused save leaves the rows usable ----

// Refuses the save; then the feature's attribute rows have the filter they
// had before it and stand on their first row (CID firstCid), and a lining
// added next reads its classification there.
void RefusedThenAdd(Scene& s, size_t k, int32_t fid, int32_t error, int32_t firstCid = 1) {
    auto rows = s.RowsHere(k, "WATER_MAIN_ATTR");
    const std::string filter = rt::CStr(rows->get_Filter());
    EXPECT_EQ(pelmora_test::ErrorOf([&] { s.assembly->UpdateFeatures(s.save); }), error);
    EXPECT_EQ(rt::CStr(rows->get_Filter()), filter);
    EXPECT_FALSE(rows->get_EOF());
    if (!rows->get_EOF()) {
        EXPECT_EQ(rt::CLng(rows->GetValue(Variant("QTX_CID"))), firstCid);
    }
    s.Add(k, "WATER_MAIN_LINING", {101, fid});
}

std::vector<Case> RefusedSaveCases() {
    return {
        // Two copies of main 5202 each add an attribute row with one key:
        // refused while queuing, on a's attribute rows.
        {"a save refused while queuing leaves the rows usable", {{101, 5202}, {101, 5201}}, {kAlone, kTogether},
         [](Scene& s) {
             s.saved = true;
             const std::vector<KeyPtr> scene = s.holder ? std::vector<KeyPtr>{s.holder} : s.f;
             TwoCopies(s, [](Scene& t) {
                 t.Add(2, "WATER_MAIN_ATTR", {101, 5202}, 7);
                 t.Add(0, "WATER_MAIN_ATTR", {101, 5202}, 7);
                 t.Rows(0, "WATER_MAIN_ATTR");
             }, true);
             RefusedThenAdd(s, 0, 5202, pelmora::kErrorBase + 23287);
             s.save = pelmora::KeyObjects::New();
             for (const auto& key : scene) s.save->Add(key);
             s.assembly->UpdateFeatures(s.save);
         },
         {{"SELECT QTX_CID FROM WATER_MAIN_N WHERE QTX_FID = 5202 ORDER BY 1", {"1", "7"}},
          {"SELECT COUNT(*) FROM WATER_LINING_N WHERE QTX_FID = 5202 AND THICKNESS_MM IS NOT NULL", {"1"}}}},
        // Main 5955's line edit refused by a handler as the save ends it.
        {"a save a handler refuses leaves the rows usable", {{101, 5955}}, {kAlone, kTogether},
         [](Scene& s) {
             s.saved = true;
             s.Rows(0, "WATER_MAIN_ATTR");
             auto line = s.Rows(0, "WATER_MAIN_LINE");
             auto sink = std::make_shared<pelmora_test::RefusesUpdate>();
             s.keep.push_back(sink);
             line->Advise(sink);
             line->SetValue(Variant("LINE_STYLE"), Variant(int32_t{4}));
             RefusedThenAdd(s, 0, 5955, ado::err::OperationCancelled);
             line->CancelUpdate();
             s.assembly->UpdateFeatures(s.save);
         },
         {{"SELECT LINE_STYLE FROM WATER_MAIN_LN WHERE QTX_FID = 5955", {"1"}},
          {"SELECT COUNT(*) FROM WATER_LINING_N WHERE QTX_FID = 5955 AND THICKNESS_MM IS NOT NULL", {"1"}}}},
    };
}

// ---- a relate to a feature deleted whole ----

// Feature k given a second row of its attribute component (so that, alone,
// the delete leaves its rows on a deleted row), then deleted whole, each
// component's rows at once; its key object let go and the feature opened
// again (a new view of the shared collection; alone, its own components under
// a new key object). Main 5957 (the first feature) related to valve 2001 (the
// last) is refused, and the save stores the delete.
Steps RelateToDeletedWhole(size_t k, const char* attributes) {
    return [=](Scene& s) {
        s.saved = true;
        const Feature feature = {s.f[k]->get_FNO(), s.f[k]->get_FID()};
        s.Add(k, attributes, feature);
        for (const auto& c : s.f[k]->get_Components()->get_NewEnum())
            s.Rows(k, c->get_Name().c_str())->Delete(ado::adAffectGroup);
        if (s.holder) {
            s.assembly->put_FeatureNumber(feature.fno);
            s.assembly->put_FeatureID(feature.fid);
            s.f[k] = rt::QueryInterface<pelmora::IKeyObject>(
                s.assembly->AssembleFeature(s.holder->get_Components()).Obj());
        } else {
            auto again = pelmora::KeyObject::New();
            again->put_FNO(feature.fno);
            again->put_FID(feature.fid);
            again->putref_Components(s.f[k]->get_Components());
            s.f[k] = again;
        }
        const int32_t refused =
            pelmora_test::ErrorOf([&] { s.relate->SilentEstablish(s.f.front(), s.f.back(), Variant(int16_t{1})); });
        EXPECT_EQ(refused, ado::err::NoCurrentRecord);
        s.assembly->UpdateFeatures(s.save);
    };
}

std::vector<Case> DeletedFeatureCases() {
    const std::vector<Feature> features = {{101, 5957}, {101, 1001}, {102, 2001}};
    return {{"a valve related to a main the same edit deleted whole: refused, no owner row added", features,
             {kAlone, kTogether}, RelateToDeletedWhole(0, "WATER_MAIN_ATTR"),
             {{"SELECT COUNT(*) FROM WATER_MAIN_N WHERE QTX_FID = 5957", {"0"}},
              {"SELECT OWNER_ID, OWNER_CNO FROM VALVE_N WHERE QTX_FID = 2001", {"1|11"}}}},
            // The added valve row's attribute edit control is not registered here: one box.
            {"a valve the same edit deleted whole related to a main: refused, no valve row added", features,
             {kAlone, kTogether}, RelateToDeletedWhole(2, "VALVE_ATTR"),
             {{"SELECT COUNT(*) FROM VALVE_N WHERE QTX_FID = 2001", {"0"}},
              {"SELECT COUNT(*) FROM WATER_MAIN_N WHERE QTX_FID = 5957", {"1"}}},
             0,
             1}};
}

// ---- a lost transaction and a script's savepoint ----

const char* const kZonesOfBothMains =
    "SELECT QTX_FID, ZONE_ID FROM WATER_MAIN_N WHERE QTX_FID IN (1001, 1002) ORDER BY 1";

// What a step raised, looked at, then raised again for the table to count.
void RaiseAgain(const rt::ComError& e) { throw e; }

// A trigger of the file, committed, ends the transaction when main 1002 is
// written: a good save of 1001, then a save of 1002's zone (in several
// blocks: after a second copy of 1001 replaced its line, which the first
// deletes). The caller hears the trigger first, the record of written
// features is empty at once, and the caller rolls back.
Steps LoseTheTransaction(bool severalBlocks) {
    return [severalBlocks](Scene& s) {
        s.saved = true;
        s.db->Connection().ExecuteRaw(
            "CREATE TRIGGER MAIN_1002_FROZEN BEFORE UPDATE ON WATER_MAIN_N WHEN OLD.QTX_FID = 1002 "
            "BEGIN SELECT RAISE(ROLLBACK, 'main 1002 is frozen'); END");
        s.db->Commit();
        const auto& written = product::WrittenFeatures(s.db->Session().State());
        s.Set(0, "WATER_MAIN_ATTR", "ZONE_ID", Variant(int32_t{7}));
        s.assembly->UpdateFeatures(s.save);
        EXPECT_EQ(written.Size(), 1u);
        if (severalBlocks) TwoCopies(s, [](Scene& t) { ReplaceLine(t, 2); DeleteLine(t, 0); }, true);
        s.Set(1, "WATER_MAIN_ATTR", "ZONE_ID", Variant(int32_t{8}));
        const rt::ComError lost = pelmora_test::Raised([&] { s.assembly->UpdateFeatures(s.save); });
        const std::string& text = lost.Description();
        EXPECT_NE(text.find(" - Database error: main 1002 is frozen in "), std::string::npos) << text;
        EXPECT_NE(text.find("(the database rolled back the transaction on its own"), std::string::npos) << text;
        EXPECT_EQ(text.find('#'), std::string::npos) << text;
        EXPECT_EQ(written.Size(), 0u);
        s.db->Rollback();
        RaiseAgain(lost);
    };
}

std::vector<Case> TransactionCases() {
    const std::vector<Check> nothingWritten = {{kZonesOfBothMains, {"1001|3", "1002|3"}}};
    return {
        {"a trigger of the file ends the transaction in a save after a good one", {{101, 1001}, {101, 1002}},
         {kAlone, kTogether}, LoseTheTransaction(false), nothingWritten, pelmora::kErrorBase + 23288},
        {"a trigger of the file ends the transaction in a later block of a save after a good one",
         {{101, 1001}, {101, 1002}}, {kAlone, kTogether}, LoseTheTransaction(true), nothingWritten,
         pelmora::kErrorBase + 23288},
        {"a script setting a savepoint of the script's own name is kept whole or not at all", {{101, 1001}},
         {kAlone, kTogether},
         [](Scene& s) {
             s.saved = true;
             const rt::ComError failed = pelmora_test::Raised([&] {
                 s.db->ExecuteScript("UPDATE WATER_MAIN_N SET ZONE_ID = 11 WHERE QTX_FID = 1001;\n"
                                     "SAVEPOINT PELMORA_SCRIPT;\n"
                                     "UPDATE WATER_MAIN_N SET ZONE_ID = 12 WHERE QTX_FID = 1002;\n"
                                     "INSERT INTO WATER_MAIN_N (QTX_FNO) VALUES (101)");
             });
             EXPECT_NE(failed.Description().find("nothing of the script was kept"), std::string::npos);
             RaiseAgain(failed);
         },
         nothingWritten, product::kProviderErrorNumber},
        {"a caller's savepoint named as the save's own call is the caller's", {{101, 1002}}, {kAlone, kTogether},
         [](Scene& s) {
             s.saved = true;
             Variant affected;
             s.db->ExecuteSQL("SAVEPOINT PELMORA_CALL_1", affected, ado::adCmdText);
             s.db->ExecuteSQL("UPDATE WATER_MAIN_N SET ZONE_ID = 11 WHERE QTX_FID = 1001", affected, ado::adCmdText);
             s.Set(0, "WATER_MAIN_ATTR", "ZONE_ID", Variant(int32_t{8}));
             s.assembly->UpdateFeatures(s.save);
             s.db->ExecuteSQL("ROLLBACK TO PELMORA_CALL_1", affected, ado::adCmdText);
         },
         nothingWritten},
    };
}

// ---- two copies adding a row again with its key ----

// Each copy of main 1001 (b, then a) deletes lining 1 and adds it again, or
// replaces the line's geometry.
std::vector<Case> ReAddedKeyCases() {
    const auto reAdd = [](Scene& t, size_t k, const char* type) {
        DeleteCid(t, k, "WATER_MAIN_LINING", 1);
        auto rows = t.Rows(k, "WATER_MAIN_LINING");
        NewLining(rows, 1001, 1, Variant(type));
        rows->Update();
    };
    return InOneSaveAndApart({
        {"each of two copies deletes lining 1 and adds it again", {101, 1001},
         [reAdd](Scene& t) { reAdd(t, 1, "B"); reAdd(t, 0, "A"); }, true,
         {{"SELECT QTX_CID, LINING_TYPE FROM WATER_LINING_N WHERE QTX_FID = 1001 ORDER BY 1", {"1|A", "3|EPOXY"}}}},
        {"each of two copies replaces the line's geometry", {101, 1001},
         [](Scene& t) { ReplaceLine(t, 1); ReplaceLine(t, 0); }, true,
         {{"SELECT COUNT(*), MIN(SDO_X1) FROM WATER_MAIN_LN_SDOGEOM WHERE QTX_FID = 1001", {"1|1200"}}}},
    });
}

// ---- no edit left open on a row it cannot reach ----

// Whether a handler stamping times times (-1: never stops) meets the bound.
bool Endless(int times) { return times < 0 || times > kBound; }

// A sink on main k's attribute rows stamping ZONE_ID := 100 + n on its n-th
// ended edit, times times; LENGTH_M := 55 left open on the rows' first row.
std::pair<RowsPtr, std::function<void()>> StampedFromTheFirstRow(Scene& s, size_t k, int times, RowsPtr rows = nullptr) {
    if (!rows) rows = s.Rows(k, "WATER_MAIN_ATTR");
    auto sink = std::make_shared<OpensAnEdit>(nullptr, times, 100, 1);
    const int32_t cookie = rows->Advise(sink);
    rows->SetValue(Variant("LENGTH_M"), Variant(55.0));
    return {rows, [rows, cookie, sink] { rows->Unadvise(cookie); }};
}

// Main 5952's CID 1 stamped as the caller moves to CID 2: a move past the
// bound is refused on CID 1, and so is the save while the handler goes on;
// then the sink goes, the save stores, and nothing is left open.
Steps StampedAsTheCallerMoves(int times) {
    return [times](Scene& s) {
        s.saved = true;
        auto [rows, unadvise] = StampedFromTheFirstRow(s, 0, times);
        EXPECT_EQ(pelmora_test::ErrorOf([&] { rows->MoveNext(); }), Endless(times) ? ado::err::OperationCancelled : 0);
        EXPECT_EQ(rt::CLng(rows->GetValue(Variant("QTX_CID"))), Endless(times) ? 1 : 2);
        if (times < 0) {
            EXPECT_EQ(pelmora_test::ErrorOf([&] { s.assembly->UpdateFeatures(s.save); }), ado::err::OperationCancelled);
        }
        unadvise();
        s.assembly->UpdateFeatures(s.save);
        EXPECT_EQ(rows->EditorsOfRows(), std::vector<RowsPtr>{});
    };
}

// Main 1001's attribute rows stamped as the save (or the component's own
// Update) ends their edit, with 1002's zone pending: past the bound it is
// refused aloud, writes nothing and leaves the edit open; the sink gone, the
// next save stores.
Steps StampedAsTheSaveEnds(int times, bool componentUpdate) {
    return [times, componentUpdate](Scene& s) {
        s.saved = true;
        s.Set(1, "WATER_MAIN_ATTR", "ZONE_ID", Variant(int32_t{9}));
        auto [rows, unadvise] = StampedFromTheFirstRow(s, 0, times);
        const auto save = [&s, componentUpdate] {
            if (componentUpdate) s.SharedComponent(0, "WATER_MAIN_ATTR")->Update();
            s.assembly->UpdateFeatures(s.save);
        };
        rt::ComError refused(0, "", "");
        try {
            save();
        } catch (const rt::ComError& e) {
            refused = e;
        }
        EXPECT_EQ(refused.Number(), Endless(times) ? ado::err::OperationCancelled : 0) << refused.Description();
        // A save that reports success leaves no edit open.
        if (refused.Number() == 0) {
            EXPECT_EQ(rows->EditorsOfRows(), std::vector<RowsPtr>{});
        } else {
            EXPECT_NE(refused.Description().find("component WATER_MAIN_ATTR, feature FNO 101 FID 1001"),
                      std::string::npos) << refused.Description();
            auto written = s.db->OpenRecordset("SELECT LENGTH_M FROM WATER_MAIN_N WHERE QTX_FID = 1001");
            EXPECT_EQ(rt::CDbl(written->FieldValue(0)), 412.35);
            EXPECT_EQ(rows->get_EditMode(), ado::adEditInProgress);
        }
        unadvise();
        save();
        EXPECT_EQ(rows->EditorsOfRows(), std::vector<RowsPtr>{});
    };
}

// 5952's attribute rows filtered to its CID 2; the save refused by a trigger on
// main 1001 (the database) or by a handler refusing 1001's line edit; then a
// lining added to 5952 reads CID 2's classification, and the next save
// stores it.
Steps FilterGivenBack(bool byDatabase) {
    return [byDatabase](Scene& s) {
        s.saved = true;
        s.RowsHere(0, "WATER_MAIN_ATTR")->put_Filter(Variant("QTX_FID = 5952 AND QTX_CID = 2"));
        auto line = s.Rows(1, "WATER_MAIN_LINE");
        auto sink = std::make_shared<pelmora_test::RefusesUpdate>();
        int32_t cookie = 0;
        if (byDatabase) {
            s.db->Connection().ExecuteRaw(
                "CREATE TRIGGER MAIN_1001_HELD BEFORE UPDATE ON WATER_MAIN_N WHEN OLD.QTX_FID = 1001 "
                "BEGIN SELECT RAISE(ABORT, 'main 1001 is held'); END");
            s.Set(1, "WATER_MAIN_ATTR", "ZONE_ID", Variant(int32_t{7}));
        } else {
            cookie = line->Advise(sink);
            line->SetValue(Variant("LINE_STYLE"), Variant(int32_t{4}));
        }
        RefusedThenAdd(s, 0, 5952, byDatabase ? pelmora::kErrorBase + 23288 : ado::err::OperationCancelled, 2);
        if (byDatabase) {
            s.db->Connection().ExecuteRaw("DROP TRIGGER MAIN_1001_HELD");
        } else {
            line->Unadvise(cookie);
            line->CancelUpdate();
        }
        s.assembly->UpdateFeatures(s.save);
    };
}

std::vector<Case> LeftOpenCases() {
    const std::vector<Feature> mains = {{101, 1001}, {101, 1002}}, k5952 = {{101, 5952}, {101, 1001}};
    const auto zones5952 = [](int32_t cid1) {
        return std::vector<Check>{{"SELECT QTX_CID, ZONE_ID, LENGTH_M FROM WATER_MAIN_N WHERE QTX_FID = 5952 ORDER BY 1",
                                   {"1|" + std::to_string(cid1) + "|55", "2|3|40"}}};
    };
    const auto mains1001 = [](int32_t zone) {
        return std::vector<Check>{{kMainsSaved, {"1001|" + std::to_string(zone) + "|55", "1002|9|96.4"}}};
    };
    std::vector<Case> cases = {
        {"a WillMove handler's edit of the row being left is stored", mains, {kAlone, kTogether},
         [](Scene& s) {
             auto rows = s.Rows(0, "WATER_MAIN_ATTR");
             auto sink = std::make_shared<OpensAnEdit>(nullptr, 1, 150, 0, true);
             s.keep.push_back(sink);
             rows->Advise(sink);
             rows->MoveNext();
             s.assembly->UpdateFeatures(s.save);
         },
         {{kMainsSaved, {"1001|150|412.35", "1002|3|96.4"}}}},
        // The shared rows walked by the save (alone: the feature's own).
        {"a handler stamping the row the save's walk ends stamps no other feature's row", mains, {kAlone, kTogether},
         [](Scene& s) {
             auto rows = s.SharedComponent(0, "WATER_MAIN_ATTR")->get_Recordset();
             rows->MoveFirst();
             rows->Find("QTX_FID = 1001");
             // The sink lives as long as its unadvise.
             s.keep.push_back(std::make_shared<std::function<void()>>(StampedFromTheFirstRow(s, 0, 49, rows).second));
         },
         {{kMainsSaved, {"1001|149|55", "1002|3|96.4"}}}},
        {"a refused save gives the filter back: refused by the database", k5952, {kAlone, kTogether},
         FilterGivenBack(true), {{"SELECT THICKNESS_MM FROM WATER_LINING_N WHERE QTX_FID = 5952", {"3"}}}},
        {"a refused save gives the filter back: refused by a handler on a later feature", k5952, {kAlone, kTogether},
         FilterGivenBack(false), {{"SELECT THICKNESS_MM FROM WATER_LINING_N WHERE QTX_FID = 5952", {"3"}}}},
    };
    // Just under, at and past the bound, and a handler that never stops; the
    // stamp left open by a refusal is the one stored once the sink goes.
    for (int times : {17, kBound - 1, kBound, kBound + 1, -1})
        cases.push_back({"a handler stamping its row " + std::to_string(times) + " times as the caller moves off it", k5952, {kAlone, kTogether},
                         StampedAsTheCallerMoves(times),
                         zones5952(100 + (times < 0 ? 2 * (kBound + 1) : Endless(times) ? kBound + 1 : times))});
    for (bool update : {false, true})
        for (int times : {16, kBound - 2, kBound, -1})
            cases.push_back({"a handler stamping its row " + std::to_string(times) + " times as " +
                                 (update ? "IComponent.Update" : "the save") + " ends its edit",
                             mains, {kAlone, kTogether}, StampedAsTheSaveEnds(times, update),
                             mains1001(100 + (times < 0 ? kBound + 1 : times))});
    return cases;
}

}  // namespace

// The save ends every view's edit in one step, a refused save leaves the rows
// as a good one does, held rows read where they stand, and a lost
// transaction says why.
TEST_F(AloneOrTogether, SaveEndingsAndRefusalsAsAlone) {
    std::vector<Case> cases;
    for (auto part : {SaveStepCases(), HeldRowsCases(), RefusedSaveCases(), DeletedFeatureCases(),
                      TransactionCases(), ReAddedKeyCases(), LeftOpenCases()})
        cases.insert(cases.end(), part.begin(), part.end());
    RunTable(cases);
}
