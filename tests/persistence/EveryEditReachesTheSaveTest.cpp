// Every edit a caller leaves on the features it saves reaches the database:
// edits left open on the rows OpenFeatures hands out, and every copy of one
// feature saved together. Each case opens features on a fresh copy of the
// sample, edits them, saves them with UpdateFeatures, commits, and reads the
// mains and linings of features 1001 and 1002 back from the database.
#include "features/FeatureAssemblyTestSupport.h"

#include <optional>

#include "ado/Enums.h"
#include "support/Raises.h"
#include "support/RecordingContext.h"
#include "support/RefusesUpdate.h"

using rt::Variant;
using pelmora::IKeyObject;

namespace {

// How the features are opened, and what the save is given, in order.
enum class Opened {
    Alone,             // f0 = 1001, f1 = 1002, each OpenFeature; save {f0, f1}
    Group,             // f0, f1 = 1001, 1002 through OpenFeatures; save a key holding the group
    TwiceAB,           // f0, f1 = OpenFeature(101, 1001) twice; save {f0, f1}
    TwiceBA,           // the same; save {f1, f0}
    AloneAndGroup,     // f0 = 1001 alone; f1, f2 = 1001, 1002 of a group; save {f0, key 1001 holding the group}
    GroupListedTwice,  // the group; save key 1001 holding it twice, then key 1002 holding it
};

struct Features {
    std::vector<std::shared_ptr<IKeyObject>> f;
    std::shared_ptr<pelmora::KeyObjects> save = featuretest::Keys({});
    std::vector<std::shared_ptr<void>> keep;  // held until the save is done
};

using Edit = std::function<void(Features&)>;

std::shared_ptr<ado::Recordset> Rows(const std::shared_ptr<IKeyObject>& feature, const char* component) {
    auto rows = feature->get_Components()->get_Item(Variant(component))->get_Recordset();
    if (!(rows->get_BOF() && rows->get_EOF())) rows->MoveFirst();
    return rows;
}

void Main(const std::shared_ptr<IKeyObject>& feature, const char* field, Variant value, bool update = true) {
    auto rows = Rows(feature, "WATER_MAIN_ATTR");
    rows->SetValue(Variant(field), value);
    if (update) rows->Update();
}

void Lining(const std::shared_ptr<IKeyObject>& feature, int32_t fid, int16_t cid, const char* type,
            bool update = true) {
    auto rows = Rows(feature, "WATER_MAIN_LINING");
    rows->AddNew();
    // The caller names the row's keys: the same row, however it was opened.
    for (auto [field, value] : {std::pair{"QTX_FNO", Variant(int16_t{101})}, {"QTX_FID", Variant(fid)},
                                {"QTX_CID", Variant(cid)}, {"LINING_TYPE", Variant(type)},
                                {"LINING_YEAR", Variant(int32_t{2024})}, {"THICKNESS_MM", Variant(2.5)}})
        rows->SetValue(Variant(field), value);
    if (update) rows->Update();
}

void DisableInterfaces(const std::shared_ptr<pelmora::IComponents>& components) {
    // The edits alone, whatever the sample's interfaces would add.
    for (const auto& c : components->get_NewEnum()) c->put_FunctionalInterfacesEnabled(false);
}

const std::vector<std::string> kMains = {"main 1001|3|412.35", "main 1002|3|96.4"};
const std::vector<std::string> kLinings = {"lining 1001|1|CEMENT|1998", "lining 1001|3|EPOXY|2016"};

std::vector<std::string> Stored(const std::vector<std::string>& mains, std::vector<std::string> added = {}) {
    std::vector<std::string> all = mains;
    all.insert(all.end(), kLinings.begin(), kLinings.end());
    all.insert(all.end(), added.begin(), added.end());
    std::sort(all.begin(), all.end());
    return all;
}

class EveryEditReachesTheSave : public featuretest::FeatureAssemblyFixture {
protected:
    struct Sample {
        std::shared_ptr<product::SqliteDataContext> db;
        std::shared_ptr<pelmora_test::RecordingContext> context;
        std::shared_ptr<pelmora::FeatureAssemblyService> service;
    };

    Sample Fresh() {
        Sample s;
        s.db = pelmora_test::OpenSampleContext(metadata_);
        s.context = std::make_shared<pelmora_test::RecordingContext>(s.db);
        s.service = featuretest::NewAssemblyService(s.context);
        return s;
    }

    static std::shared_ptr<IKeyObject> Alone(pelmora::FeatureAssemblyService& service, int32_t fid) {
        auto feature = service.OpenFeature(101, fid);
        DisableInterfaces(feature->get_Components());
        return feature;
    }

    // Features 1001 and 1002 opened together, and a key holding their collection.
    static std::shared_ptr<IKeyObject> Group(pelmora::FeatureAssemblyService& service, Features& features) {
        auto keys = featuretest::Keys({featuretest::Key(101, 1001), featuretest::Key(101, 1002)});
        auto shared = service.OpenFeatures(keys);
        DisableInterfaces(shared);
        for (const auto& k : keys->get_NewEnum()) features.f.push_back(k);
        auto holder = featuretest::Key(101, 1001);
        holder->putref_Components(shared);
        return holder;
    }

    static Features Open(pelmora::FeatureAssemblyService& service, Opened how) {
        Features features;
        auto& f = features.f;
        auto& save = *features.save;
        switch (how) {
            case Opened::Alone:
                f = {Alone(service, 1001), Alone(service, 1002)};
                save.Add(f[0]);
                save.Add(f[1]);
                break;
            case Opened::Group:
                save.Add(Group(service, features));
                break;
            case Opened::TwiceAB:
            case Opened::TwiceBA:
                f = {Alone(service, 1001), Alone(service, 1001)};
                save.Add(f[how == Opened::TwiceAB ? 0 : 1]);
                save.Add(f[how == Opened::TwiceAB ? 1 : 0]);
                break;
            case Opened::AloneAndGroup:
                f = {Alone(service, 1001)};
                save.Add(f[0]);
                save.Add(Group(service, features));
                break;
            case Opened::GroupListedTwice: {
                auto holder = Group(service, features);
                auto other = featuretest::Key(101, 1002);
                other->putref_Components(holder->get_Components());
                save.Add(holder);
                save.Add(holder);
                save.Add(other);
                break;
            }
        }
        return features;
    }

    static std::vector<std::string> Read(product::SqliteDataContext& db) {
        std::vector<std::string> out;
        auto lines = [&](const std::string& label, const std::string& sql) {
            auto rs = db.OpenRecordset(sql);
            for (; !rs->get_EOF(); rs->MoveNext()) {
                std::string line = label;
                for (int32_t k = 0; k < rs->FieldCount(); ++k) {
                    Variant v = rs->FieldValue(k);
                    line += (k ? "|" : " ") + (v.IsNull() ? std::string("Null") : rt::CStr(v));
                }
                out.push_back(line);
            }
        };
        lines("main", "SELECT QTX_FID, ZONE_ID, LENGTH_M FROM WATER_MAIN_N WHERE QTX_FID IN (1001, 1002)");
        lines("lining", "SELECT QTX_FID, QTX_CID, LINING_TYPE, LINING_YEAR FROM WATER_LINING_N");
        std::sort(out.begin(), out.end());
        return out;
    }
};

struct Case {
    const char* name;
    std::vector<Opened> opened;  // each way the case is run
    Edit edit;
    std::vector<std::string> stored;
    const char* error = nullptr;  // a text the refusal names; nothing stored
};

}  // namespace

TEST_F(EveryEditReachesTheSave, EachCaseStoresWhatItsEditsMakeOrRefusesWhole) {
    using O = Opened;
    const auto zone7 = Stored({"main 1001|7|412.35", "main 1002|3|96.4"});
    const auto added = Stored(kMains, {"lining 1001|4|PE|2024"});
    const auto addedBoth = Stored(kMains, {"lining 1001|4|PE|2024", "lining 1002|1|HDPE|2024"});
    const auto unchanged = Stored(kMains);
    auto zone = [](int32_t z) { return Stored({"main 1001|" + std::to_string(z) + "|412.35", "main 1002|3|96.4"}); };
    auto ownClone = [](Features& x) {
        auto own = Rows(x.f[0], "WATER_MAIN_ATTR")->Clone();
        own->MoveFirst();
        own->SetValue(Variant("ZONE_ID"), Variant(int32_t{8}));
        x.keep.push_back(own);
    };
    const std::vector<Case> cases = {
        // A caller's edits through the rows of a feature, alone and opened together.
        {"changed row updated", {O::Alone, O::Group}, [](Features& x) { Main(x.f[0], "ZONE_ID", Variant(7)); }, zone7},
        {"changed row left open", {O::Alone, O::Group},
         [](Features& x) { Main(x.f[0], "ZONE_ID", Variant(7), false); }, zone7},
        {"added row updated", {O::Alone, O::Group}, [](Features& x) { Lining(x.f[0], 1001, 4, "PE"); }, added},
        {"added row left open", {O::Alone, O::Group}, [](Features& x) { Lining(x.f[0], 1001, 4, "PE", false); },
         added},
        {"two features each add a row left open", {O::Alone, O::Group},
         [](Features& x) {
             Lining(x.f[0], 1001, 4, "PE", false);
             Lining(x.f[1], 1002, 1, "HDPE", false);
         },
         addedBoth},
        // A recordset the caller cloned for itself stays its own.
        {"the caller's own clone left open", {O::Alone, O::Group}, ownClone, unchanged},
        {"a handler refuses to end the open edit", {O::Group},
         [](Features& x) {
             auto sink = std::make_shared<pelmora_test::RefusesUpdate>();
             Rows(x.f[0], "WATER_MAIN_ATTR")->Advise(sink);
             x.keep.push_back(sink);
             Main(x.f[0], "ZONE_ID", Variant(7), false);
         },
         unchanged, "component WATER_MAIN_ATTR, feature FNO 101 FID 1001"},
        // One feature twice in one save: as two saves in the list's order.
        {"twice, b changes a field", {O::TwiceAB, O::TwiceBA},
         [](Features& x) { Main(x.f[1], "ZONE_ID", Variant(9)); }, zone(9)},
        {"twice {a,b}, both change one field", {O::TwiceAB},
         [](Features& x) {
             Main(x.f[0], "ZONE_ID", Variant(5));
             Main(x.f[1], "ZONE_ID", Variant(9));
         },
         zone(9)},
        {"twice {b,a}, both change one field", {O::TwiceBA},
         [](Features& x) {
             Main(x.f[0], "ZONE_ID", Variant(5));
             Main(x.f[1], "ZONE_ID", Variant(9));
         },
         zone(5)},
        {"twice {a,b}, each its own field", {O::TwiceAB},
         [](Features& x) {
             Main(x.f[0], "ZONE_ID", Variant(5));
             Main(x.f[1], "LENGTH_M", Variant(50));
         },
         Stored({"main 1001|5|50", "main 1002|3|96.4"})},
        {"twice {a,b}, b adds a row", {O::TwiceAB}, [](Features& x) { Lining(x.f[1], 1001, 4, "PE"); }, added},
        {"twice {a,b}, both add a row of one key", {O::TwiceAB},
         [](Features& x) {
             Lining(x.f[0], 1001, 4, "PE");
             Lining(x.f[1], 1001, 4, "PVC");
         },
         unchanged, "FNO 101 FID 1001"},
        {"alone and group, a field each", {O::AloneAndGroup},
         [](Features& x) {
             Main(x.f[0], "ZONE_ID", Variant(5));
             Main(x.f[1], "LENGTH_M", Variant(50), false);
             Main(x.f[2], "ZONE_ID", Variant(7));
         },
         Stored({"main 1001|5|50", "main 1002|7|96.4"})},
        {"alone and group, one field, the group's later", {O::AloneAndGroup},
         [](Features& x) {
             Main(x.f[0], "ZONE_ID", Variant(5));
             Main(x.f[1], "ZONE_ID", Variant(9));
         },
         zone(9)},
        // One collection listed twice is saved once.
        {"group listed twice", {O::GroupListedTwice},
         [](Features& x) {
             Lining(x.f[0], 1001, 4, "PE");
             Main(x.f[1], "ZONE_ID", Variant(7), false);
         },
         Stored({"main 1001|3|412.35", "main 1002|7|96.4"}, {"lining 1001|4|PE|2024"})},
    };
    ASSERT_EQ(Read(*sqlite_), unchanged);

    for (const auto& c : cases)
        for (Opened opened : c.opened) {
            SCOPED_TRACE(std::string(c.name) + ", way " + std::to_string(static_cast<int>(opened)));
            Sample s = Fresh();
            // An opening or an edit that raises fails the case as a save would.
            rt::ComError failure(0, "", "");
            rt::CaptureError(
                [&] {
                    Features features = Open(*s.service, opened);
                    c.edit(features);
                    s.service->UpdateFeatures(features.save);
                },
                failure);
            if (c.error)
                EXPECT_NE(failure.Description().find(c.error), std::string::npos) << failure.Description();
            else
                EXPECT_EQ(failure.Number(), 0) << failure.Description();
            s.db->Commit();
            EXPECT_EQ(Read(*s.db), c.stored) << c.name;
        }
}
