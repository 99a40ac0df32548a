// Features opened one by one and the same features opened together (views of
// one shared collection) store the same rows for the same steps: edits with
// and without Update, rows added and deleted, relates, unrelates and saves.
// Each case runs on a fresh copy of the sample, saves, commits and reads the
// database back.
#include "RelationshipTestSupport.h"

#include <algorithm>
#include <functional>

#include "ado/Recordset.h"
#include "interfaces/Components.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "pelmora/features/KeyObject.h"
#include "pelmora/features/KeyObjects.h"
#include "pelmora/features/modFASCache.h"
#include "runtime/Vb.h"
#include "support/Raises.h"

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
                               "VALVE_N",        "SERVICE_N",              "QTX_COMMON_N",
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

    RowsPtr Rows(size_t feature, const char* component) const {
        auto rows = f.at(feature)->get_Components()->get_Item(Variant(component))->get_Recordset();
        if (!(rows->get_BOF() && rows->get_EOF())) rows->MoveFirst();
        return rows;
    }
    // Sets a field of the component's first row, ended with Update or left open.
    void Set(size_t feature, const char* component, const char* field, const Variant& value, bool update = true) const {
        auto rows = Rows(feature, component);
        rows->SetValue(Variant(field), value);
        if (update) rows->Update();
    }
};

using Steps = std::function<void(Scene&)>;

// A query and the rows it must answer after the commit, fields joined by "|".
struct Check {
    const char* sql;
    Lines rows;
};

struct Case {
    const char* what;
    std::vector<Feature> features;
    std::vector<Way> ways;
    Steps steps;
    std::vector<Check> checks;
    int32_t error = 0;  // the number the steps or the save raise
};

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

    // The sample's functional interfaces fire in their own tests.
    static void Quiet(const std::shared_ptr<pelmora::IComponents>& components) {
        for (const auto& c : components->get_NewEnum()) c->put_FunctionalInterfacesEnabled(false);
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
        auto group = pelmora::KeyObjects::New();
        for (const Feature& x : features) {
            auto key = pelmora::KeyObject::New();
            key->put_FNO(x.fno);
            key->put_FID(x.fid);
            group->Add(key);
            s.f.push_back(key);
        }
        s.holder = pelmora::KeyObject::New();
        s.holder->put_FNO(features.front().fno);
        s.holder->put_FID(features.front().fid);
        s.holder->putref_Components(s.assembly->OpenFeatures(group));
        Quiet(s.holder->get_Components());
        for (const auto& key : s.f) Quiet(key->get_Components());
        s.save->Add(s.holder);
        return s;
    }

    // Opens, steps, saves and commits; the first error raised, and the tables.
    std::pair<int32_t, Lines> Run(Way way, const Case& c, Lines* checked) {
        Scene s = Open(way, c.features);
        const int32_t error = pelmora_test::ErrorOf([&] {
            c.steps(s);
            if (!s.saved) s.assembly->UpdateFeatures(s.save);
        });
        s.db->Commit();
        for (const Check& check : c.checks) {
            Lines rows = Query(*s.db, check.sql);
            checked->insert(checked->end(), rows.begin(), rows.end());
        }
        return {error, Stored(*s.db)};
    }

    void RunTable(const std::vector<Case>& cases) {
        for (const Case& c : cases) {
            Lines first;
            for (Way way : c.ways) {
                SCOPED_TRACE(std::string(c.what) + (way == Way::Alone ? ", opened alone" : ", opened together"));
                Lines checked;
                auto [error, stored] = Run(way, c, &checked);
                EXPECT_EQ(error, c.error);
                Lines expected;
                for (const Check& check : c.checks) expected.insert(expected.end(), check.rows.begin(), check.rows.end());
                EXPECT_EQ(checked, expected);
                // Both ways store the same rows.
                if (way == c.ways.front()) first = stored;
                else EXPECT_EQ(stored, first);
            }
        }
    }
};

constexpr auto kAlone = Way::Alone;
constexpr auto kTogether = Way::Together;

}  // namespace

TEST_F(AloneOrTogether, EachCaseStoresTheSameOpenedAloneOrTogether) {
    const std::vector<Case> cases = {
        // ---- edits ----
        {"a field changed and updated",
         {{101, 1001}, {101, 1002}},
         {kAlone, kTogether},
         [](Scene& s) { s.Set(0, "WATER_MAIN_ATTR", "ZONE_ID", Variant(int32_t{7})); },
         {{"SELECT QTX_FID, ZONE_ID FROM WATER_MAIN_N WHERE QTX_FID IN (1001, 1002) ORDER BY 1",
           {"1001|7", "1002|3"}}}},
        // ---- relates ----
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
             auto view = pelmora::KeyObject::New();
             view->put_FNO(101);
             view->put_FID(1001);
             auto group = pelmora::KeyObjects::New();
             group->Add(view);
             s.keep.push_back(s.assembly->OpenFeatures(group));
             s.save->Add(view);
         },
         {{"SELECT QTX_FID, ZONE_ID FROM WATER_MAIN_N WHERE QTX_FID IN (1001, 1002) ORDER BY 1",
           {"1001|3", "1002|3"}}},
         rt::vberr::TypeMismatch},
        // a = the scene's 1001, b = a second OpenFeature of it.
        {"two copies {b, a}: b edits a lining that a deletes, as two saves: edited, then gone",
         {{101, 1001}},
         {kAlone, kTogether},
         [](Scene& s) {
             auto a = s.holder ? s.holder : s.f[0];
             s.f.push_back(s.assembly->OpenFeature(101, 1001));
             Quiet(s.f[1]->get_Components());
             s.Set(1, "WATER_MAIN_LINING", "LINING_TYPE", Variant("EDITED"));
             s.Rows(0, "WATER_MAIN_LINING")->Delete(ado::adAffectCurrent);
             s.save = pelmora::KeyObjects::New();
             s.save->Add(s.f[1]);
             s.save->Add(a);
         },
         {{"SELECT QTX_CID, LINING_TYPE FROM WATER_LINING_N WHERE QTX_FID = 1001 ORDER BY 1", {"3|EPOXY"}}}},
        {"two copies {a, b}: a deletes a lining that b then edits, refused whole as the second save would be",
         {{101, 1001}},
         {kAlone, kTogether},
         [](Scene& s) {
             s.f.push_back(s.assembly->OpenFeature(101, 1001));
             Quiet(s.f[1]->get_Components());
             s.Set(1, "WATER_MAIN_LINING", "LINING_TYPE", Variant("EDITED"));
             s.Set(1, "WATER_MAIN_ATTR", "ZONE_ID", Variant(int32_t{7}));
             s.Rows(0, "WATER_MAIN_LINING")->Delete(ado::adAffectCurrent);
             s.save->Add(s.f[1]);
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
             auto group = pelmora::KeyObjects::New();
             for (int32_t fid : {1001, 1002}) {
                 auto key = pelmora::KeyObject::New();
                 key->put_FNO(101);
                 key->put_FID(fid);
                 group->Add(key);
                 s.f.push_back(key);
             }
             s.assembly->OpenFeatures(group, true);
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
             s.saved = true;
             struct Off {
                 ~Off() { pelmora::SetCaching(false); }
             } off;  // the cases after this one open without the cache
             pelmora::SetCaching(true);
             auto group = pelmora::KeyObjects::New();
             for (int32_t fid : {1001, 1002}) {
                 auto key = pelmora::KeyObject::New();
                 key->put_FNO(101);
                 key->put_FID(fid);
                 group->Add(key);
                 s.f.push_back(key);
             }
             s.assembly->OpenFeatures(group, true);
             s.Set(1, "WATER_MAIN_ATTR", "ZONE_ID", Variant(int32_t{7}));
             s.assembly->UpdateFeature(s.f[1]);
             s.assembly->SaveCache();
         },
         {{"SELECT ZONE_ID FROM WATER_MAIN_N WHERE QTX_FID = 1001", {"7"}}}},
        // ---- rows added, deleted and defaulted through a member ----
    };
    RunTable(cases);
}
