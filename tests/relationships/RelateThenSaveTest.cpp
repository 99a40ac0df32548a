// Relating features and saving them: what reaches the database after
// UpdateFeatures and Commit is the same whether the features were opened one
// by one or together (clones of one shared collection), with or without a new
// feature among them.
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

using relationshiptest::RelationshipServiceFixture;
using Lines = std::vector<std::string>;

namespace {

using KeyPtr = std::shared_ptr<pelmora::IKeyObject>;

enum class Opened { Alone, Together };

struct Feature {
    int16_t fno;
    int32_t fid;  // 0: a new feature of the class
};

// The tables a relationship of the sample writes.
const char* const kTables[] = {"QTX_COMMON_N", "WATER_MAIN_N", "VALVE_N", "HYDRANT_N", "SERVICE_N", "OWNER_LINK_N"};

class RelateThenSave : public RelationshipServiceFixture {
protected:
    void TearDown() override {
        pelmora::SetCaching(false);
        RelationshipServiceFixture::TearDown();
    }

    // Every row of the tables as committed, fields joined by "|".
    static Lines Stored(product::SqliteDataContext& db) {
        Lines out;
        for (const char* table : kTables) {
            auto rs = db.OpenRecordset(std::string("SELECT * FROM ") + table + " ORDER BY QTX_FID, QTX_CNO, QTX_CID");
            for (; !rs->get_EOF(); rs->MoveNext()) {
                std::string line = table;
                for (int32_t k = 0; k < rs->FieldCount(); ++k) {
                    rt::Variant v = rs->FieldValue(k);
                    line += "|" + (v.IsNull() ? std::string("Null") : rt::CStr(v));
                }
                out.push_back(line);
            }
        }
        return out;
    }

    // The sample's functional interfaces are not registered here.
    static void Quiet(const std::shared_ptr<pelmora::IComponents>& components) {
        for (const auto& c : components->get_NewEnum()) c->put_FunctionalInterfacesEnabled(false);
    }

    // The lines of one side missing from the other, "-" before what only
    // `was` holds and "+" before what only `is` holds.
    static Lines Differences(const Lines& was, const Lines& is) {
        Lines out;
        for (const auto& l : was)
            if (std::find(is.begin(), is.end(), l) == is.end()) out.push_back("-" + l);
        for (const auto& l : is)
            if (std::find(was.begin(), was.end(), l) == was.end()) out.push_back("+" + l);
        return out;
    }

    using Relate = std::function<void(pelmora::RelationshipService&, const std::vector<KeyPtr>&)>;

    struct Scene {
        std::shared_ptr<product::SqliteDataContext> db;
        std::shared_ptr<pelmora::RelationshipService> service;
        std::shared_ptr<pelmora::FeatureAssemblyService> assembly;
        std::vector<KeyPtr> keys;  // the features, in the order given
        std::shared_ptr<pelmora::KeyObjects> saved = pelmora::KeyObjects::New();
    };

    // The features on a fresh copy of the sample, and what saves them.
    Scene Open(Opened opened, const std::vector<Feature>& features, const char* user) {
        Scene s;
        s.db = pelmora_test::OpenSampleContext(metadata_);
        if (user) metadata_->SetActiveUser(s.db, user);
        s.service = NewService(false);
        s.service->putref_DataContext(s.db);
        s.assembly = std::make_shared<pelmora::FeatureAssemblyService>();
        s.assembly->putref_DataContext(s.db);
        auto group = pelmora::KeyObjects::New();
        for (const Feature& f : features) {
            if (f.fid == 0) {
                s.keys.push_back(s.assembly->NewFeature(f.fno, pelmora::qzfasIgnoreRequiredRecords));
            } else if (opened == Opened::Alone) {
                s.keys.push_back(s.assembly->OpenFeature(f.fno, f.fid));
            } else {
                auto key = pelmora::KeyObject::New();
                key->put_FNO(f.fno);
                key->put_FID(f.fid);
                group->Add(key);
                s.keys.push_back(key);
                continue;
            }
            Quiet(s.keys.back()->get_Components());
            s.saved->Add(s.keys.back());
        }
        if (group->get_Count() > 0) {
            // The group is saved through a key object holding its shared collection.
            auto holder = pelmora::KeyObject::New();
            holder->putref_Components(s.assembly->OpenFeatures(group));
            Quiet(holder->get_Components());
            for (const auto& key : group->get_NewEnum()) Quiet(key->get_Components());
            s.saved->Add(holder);
        }
        return s;
    }

    // Opens the features, relates them, saves and commits; gives what the
    // tables then hold.
    Lines Run(Opened opened, const std::vector<Feature>& features, const Relate& relate, const char* user) {
        Scene s = Open(opened, features, user);
        relate(*s.service, s.keys);
        s.assembly->UpdateFeatures(s.saved);
        s.db->Commit();
        return Stored(*s.db);
    }
};

}  // namespace

TEST_F(RelateThenSave, EveryRelationshipReachesTheSaveHoweverItsFeaturesWereOpened) {
    constexpr int16_t kMainOwns = 1, kOwnedByMain = 2, kFedByMain = 57, kNodeOrdered = 5;
    auto establish = [](int16_t rno, int source, int related) -> Relate {
        return [=](pelmora::RelationshipService& s, const std::vector<KeyPtr>& k) {
            s.SilentEstablish(k[source], k[related], rt::Variant(rno));
        };
    };
    auto byFeature = [](int16_t rno, int source, int related) -> Relate {
        return [=](pelmora::RelationshipService& s, const std::vector<KeyPtr>& k) {
            s.SilentEstablishByFeature(k[source], k[related], rt::Variant(rno));
        };
    };
    auto helper = [](int16_t rno, int source, int related) -> Relate {
        return [=](pelmora::RelationshipService& s, const std::vector<KeyPtr>& k) {
            s.GetRelationshipHelper(rno)->SilentEstablishRelationship(k[source], k[related], 0, 0);
        };
    };
    auto unrelate = [](int16_t rno, int source, int related) -> Relate {
        return [=](pelmora::RelationshipService& s, const std::vector<KeyPtr>& k) {
            s.DeleteRelationship(k[source], k[related], rt::Variant(rno));
        };
    };
    struct Case {
        const char* what;
        std::vector<Feature> features;  // the relate step names them by position
        Relate relate;
        const char* user;
    };
    const Case cases[] = {
        {"ownership: a main owns a valve", {{101, 1001}, {102, 5603}, {102, 5602}}, establish(kMainOwns, 0, 1), nullptr},
        {"ownership by feature, from the valve's side", {{102, 5603}, {101, 1001}, {102, 5602}},
         byFeature(kOwnedByMain, 0, 1), nullptr},
        {"ownership through a support component", {{102, 5603}, {101, 1001}}, establish(kFedByMain, 0, 1), nullptr},
        {"ownership deleted", {{101, 1001}, {102, 5601}}, unrelate(kMainOwns, 0, 1), nullptr},
        {"ownership of a new main's valves", {{101, 0}, {102, 5603}, {102, 5602}},
         [&](pelmora::RelationshipService& s, const std::vector<KeyPtr>& k) {
             s.SilentEstablish(k[0], k[1], rt::Variant(kMainOwns));
             s.SilentEstablish(k[0], k[2], rt::Variant(kMainOwns));
         },
         nullptr},
        {"many-to-many adding a row", {{105, 5991}, {101, 1001}, {105, 5001}}, helper(7, 0, 1), "KLEE"},
        {"many-to-many by the service, adding a row", {{105, 5991}, {105, 5001}, {101, 1001}},
         [&](pelmora::RelationshipService& s, const std::vector<KeyPtr>& k) {
             s.SilentEstablish(k[0], k[2], rt::Variant(int16_t{7}));
             s.SilentEstablishByFeature(k[1], k[2], rt::Variant(int16_t{7}));
         },
         "KLEE"},
        {"many-to-many taking a free row", {{103, 3002}, {105, 5991}}, establish(7, 0, 1), "KLEE"},
        {"many-to-many deleted", {{105, 5001}, {103, 3002}}, unrelate(6, 0, 1), "KLEE"},
        {"node-ordered adding a support row", {{104, 5734}, {101, 5703}}, byFeature(kNodeOrdered, 0, 1), nullptr},
    };
    const Lines untouched = [&] {
        auto db = pelmora_test::OpenSampleContext(metadata_);
        return Stored(*db);
    }();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Lines alone, together;
        ASSERT_EQ(pelmora_test::ErrorOf([&] { alone = Run(Opened::Alone, c.features, c.relate, c.user); }), 0);
        EXPECT_NE(Differences(untouched, alone), Lines{}) << "nothing stored";
        EXPECT_EQ(pelmora_test::ErrorOf([&] { together = Run(Opened::Together, c.features, c.relate, c.user); }), 0);
        EXPECT_EQ(Differences(alone, together), Lines{});
    }
}

// Refuses the first field change, or the update, of the rows it watches.
class Refusing : public ado::RecordsetEvents {
public:
    explicit Refusing(bool update) : update_(update) {}
    void WillChangeField(int32_t, const ado::FieldList&, ado::EventStatusEnum& adStatus,
                         const ado::RecordsetPtr&) override {
        if (!update_) adStatus = ado::adStatusCancel;
    }
    void WillChangeRecord(ado::EventReasonEnum adReason, int32_t, ado::EventStatusEnum& adStatus,
                          const ado::RecordsetPtr&) override {
        if (update_ && adReason == ado::adRsnUpdate) adStatus = ado::adStatusCancel;
    }

private:
    bool update_;
};

TEST_F(RelateThenSave, ARefusedStepOrACancelTakesBackTheRelateAndNothingBefore) {
    struct Case {
        const char* what;
        std::vector<Feature> features;
        const char* component;  // of the first feature: the rows the relate writes
        int16_t rno;
        bool unrelate;
        const char* user;
    };
    const Case cases[] = {
        {"ownership", {{102, 5603}, {101, 1001}}, "VALVE_ATTR", 2, false, nullptr},
        {"ownership deleted", {{102, 5601}, {101, 1001}}, "VALVE_ATTR", 2, true, nullptr},
        {"many-to-many adding a row", {{105, 5991}, {101, 1001}}, "OWNER_LINKS", 7, false, "KLEE"},
        {"many-to-many taking a free row", {{103, 3002}, {105, 5991}}, "OWNER_LINKS", 7, false, "KLEE"},
    };
    for (const Case& c : cases)
        for (bool update : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (update ? ", update refused" : ", field change refused"));
            Scene s = Open(Opened::Alone, c.features, c.user);
            auto rows = s.keys[0]->get_Components()->get_Item(rt::Variant(c.component))->get_Recordset();
            // Every row:its values; walking ends an edit a relate left open.
            auto snapshot = [&] {
                Lines out;
                if (rows->get_BOF() && rows->get_EOF()) return out;
                for (rows->MoveFirst(); !rows->get_EOF(); rows->MoveNext()) {
                    std::string line;
                    for (int32_t k = 0; k < rows->FieldCount(); ++k) {
                        rt::Variant v = rows->FieldValue(k);
                        line += (v.IsNull() ? std::string("Null") : rt::CStr(v)) + "|";
                    }
                    out.push_back(line);
                }
                return out;
            };
            // A change the caller made earlier, pending in the rows.
            if (!(rows->get_BOF() && rows->get_EOF()))
                for (rows->MoveFirst(); !rows->get_EOF(); rows->MoveNext()) {
                    rows->SetValue(rt::Variant("LTT_STATUS"), rt::Variant("EARLIER"));
                    rows->Update();
                }
            const Lines before = snapshot();
            auto sink = std::make_shared<Refusing>(update);
            rows->Advise(sink);
            const int32_t error = pelmora_test::ErrorOf([&] {
                if (c.unrelate) s.service->DeleteRelationship(s.keys[1], s.keys[0], rt::Variant(int16_t{1}));
                else s.service->SilentEstablish(s.keys[0], s.keys[1], rt::Variant(c.rno));
            });
            if (update) {
                // The relate leaves its edit open, as the caller's own: the
                // caller's CancelUpdate takes back the relate alone.
                EXPECT_EQ(error, 0);
                rows->CancelUpdate();
            } else {
                EXPECT_NE(error, 0);
            }
            EXPECT_EQ(snapshot(), before);
        }
}
