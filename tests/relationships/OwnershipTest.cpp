// The ownership helper on the sample (data/sample/56_ownership.sql): the
// classes it pairs, the features it finds related from either side, saved
// and cached, establishing and deleting links in the component recordsets
// and saving them, and validation through IRelationship with every
// enforcement; then the names and row ids it refuses.
#include "RelationshipTestSupport.h"

#include <functional>
#include <map>

#include "ado/Recordset.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "pelmora/features/KeyObject.h"
#include "pelmora/features/KeyObjects.h"
#include "interfaces/Components.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/relationships/Ownership.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "product/SqliteConnection.h"
#include "product/ValidateSetOwnership.h"
#include "runtime/Collection.h"
#include "support/RecordingContext.h"
#include "validation/ValidationSetTestSupport.h"

using pelmora_test::ErrorOf;
using pelmora_test::Raised;
using relationshiptest::RelationshipServiceFixture;
using Lines = std::vector<std::string>;

namespace {

constexpr int16_t kMainOwns = 1, kOwnedByMain = 2, kMainFeeds = 56, kFedByMain = 57;

using pelmora_test::RecordingContext;

// The helper's own parameterised queries ("SQL [p;p;]"), not the components'
// loading.
Lines Queries(const RecordingContext& context) {
    Lines lines;
    for (const auto& open : context.opens) {
        if (open.sql.find("WHERE QTX_FID = ?") != std::string::npos) continue;
        std::string line = open.sql + " [";
        for (const auto& v : open.values) line += rt::CStr(v) + ";";
        lines.push_back(line + "]");
    }
    return lines;
}

std::string KeyText(const std::shared_ptr<pelmora::IKeyObject>& k) {
    return std::to_string(k->get_FNO()) + "/" + std::to_string(k->get_FID());
}

class OwnershipFixture : public RelationshipServiceFixture {
protected:
    void SetUp() override {
        RelationshipServiceFixture::SetUp();
        context_ = std::make_shared<RecordingContext>(sqlite_);
        service_ = NewService(false);
        service_->putref_DataContext(context_);
        assembly_ = std::make_shared<pelmora::FeatureAssemblyService>();
        assembly_->putref_DataContext(context_);
    }
    void TearDown() override {
        assembly_->put_Caching(false);
        assembly_.reset();
        context_.reset();
        RelationshipServiceFixture::TearDown();
    }

    // The sample's functional interfaces are not registered here.
    static std::shared_ptr<pelmora::IKeyObject> Quiet(std::shared_ptr<pelmora::IKeyObject> feature) {
        for (const auto& c : feature->get_Components()->get_NewEnum()) c->put_FunctionalInterfacesEnabled(false);
        return feature;
    }
    std::shared_ptr<pelmora::IKeyObject> Open(int16_t fno, int32_t fid) {
        return Quiet(assembly_->OpenFeature(fno, fid));
    }
    std::shared_ptr<pelmora::IKeyObject> NewMain() {
        return Quiet(assembly_->NewFeature(101, pelmora::qzfasIgnoreRequiredRecords));
    }
    std::shared_ptr<pelmora::Ownership> Helper(int16_t rno) {
        return std::dynamic_pointer_cast<pelmora::Ownership>(service_->GetRelationshipHelper(rno));
    }
    Lines Related(const std::shared_ptr<pelmora::IKeyObject>& feature, int16_t rno) {
        Lines out;
        auto found = std::dynamic_pointer_cast<rt::Collection>(service_->GetRelatedFeatures(feature, rno));
        EXPECT_NE(found, nullptr);
        if (found)
            for (const auto& item : found->Enumerate())
                out.push_back(KeyText(rt::QueryInterface<pelmora::IKeyObject>(item.Obj())));
        return out;
    }
    std::shared_ptr<ado::Recordset> Rows(const std::shared_ptr<pelmora::IKeyObject>& feature, const char* component) {
        return feature->get_Components()->get_Item(rt::Variant(component))->get_Recordset();
    }
    // The named columns of a feature's first row of a component, "Null" for Null.
    std::string Values(const std::shared_ptr<pelmora::IKeyObject>& feature, const char* component,
                       std::initializer_list<const char*> columns) {
        auto rows = Rows(feature, component);
        if (rows->get_BOF() && rows->get_EOF()) return "<no row>";
        rows->MoveFirst();
        std::string out;
        for (const char* c : columns) {
            rt::Variant v = rows->GetValue(rt::Variant(c));
            out += (out.empty() ? "" : " ") + (v.IsNull() ? std::string("Null") : rt::CStr(v));
        }
        return out;
    }
    std::string Stored(const std::string& sql) {
        auto rs = context_->Inner().OpenRecordset(sql);
        std::string out;
        for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext())
            for (int32_t i = 0; i < rs->FieldCount(); ++i) {
                rt::Variant v = rs->GetValue(rt::Variant(i));
                out += (out.empty() ? "" : " ") + (v.IsNull() ? std::string("Null") : rt::CStr(v));
            }
        return out;
    }
    void Save(std::initializer_list<std::shared_ptr<pelmora::IKeyObject>> features) {
        auto all = pelmora::KeyObjects::New();
        for (const auto& f : features) all->Add(f);
        assembly_->UpdateFeatures(all);
    }

    std::shared_ptr<RecordingContext> context_;
    std::shared_ptr<pelmora::FeatureAssemblyService> assembly_;
};

}  // namespace

TEST_F(OwnershipFixture, CandidatesAndPairsFollowTheSide) {
    auto main = Open(101, 1001), valve = Open(102, 2001), hydrant = Open(103, 3001);
    struct Case {
        std::shared_ptr<pelmora::IKeyObject> feature;
        int16_t rno;
        std::vector<int32_t> candidates;  // empty: Null
        int16_t related, unrelated;
    } cases[] = {
        {main, kMainOwns, {102, 103, 104}, 104, 105},
        {valve, kOwnedByMain, {101}, 101, 102},
        {valve, kMainOwns, {}, 0, 101},  // a valve owns nothing
        {hydrant, kFedByMain, {101}, 101, 103},
        {main, kMainFeeds, {102, 103}, 103, 104},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(KeyText(c.feature) + " in " + std::to_string(c.rno));
        rt::Variant candidates = service_->GetCandidateFeatures(c.feature, c.rno);
        if (c.candidates.empty()) {
            EXPECT_TRUE(candidates.IsNull());
        } else {
            EXPECT_EQ(rt::LBound(candidates), 1);
            EXPECT_EQ(relationshiptest::Numbers(candidates), c.candidates);
        }
        auto helper = Helper(c.rno);
        if (c.related) {
            EXPECT_TRUE(helper->CanRelate(c.feature, c.related));
        }
        EXPECT_FALSE(helper->CanRelate(c.feature, c.unrelated));
    }
    EXPECT_TRUE(Helper(kFedByMain)->HasSupportComponent());
    EXPECT_FALSE(Helper(kOwnedByMain)->HasSupportComponent());
}

TEST_F(OwnershipFixture, ReviewFindsTheLinkedFeaturesWithOneValuePerMarker) {
    struct Case {
        int16_t fno;
        int32_t fid;
        int16_t rno;
        Lines related;
        Lines queries;
    } cases[] = {
        {101, 1001, kMainOwns, {"102/2001", "102/5601", "102/5602", "103/3001", "103/5611", "104/4001"},
         {"select * from VALVE_N where (OWNER_ID = ? AND OWNER_CNO = ?) [1;11;]",
          "select * from HYDRANT_N where (OWNER_ID = ? AND OWNER_CNO = ?) OR (SECOND_OWNER_ID = ? AND "
          "SECOND_OWNER_CNO = ?) [1;11;1;11;]",
          "select * from SERVICE_N where (OWNER_ID = ? AND QTX_FNO = ?) [1;104;]"}},
        {101, 1003, kMainOwns, {"103/3002", "103/5611"}, {}},
        // The support component: no CNO or class test, one value for the one marker.
        {101, 1001, kMainFeeds, {"102/2001", "102/5601", "102/5602"},
         {"select * from VALVE_N where (FEED_ID = ?) [1;]", "select * from HYDRANT_N where (FEED_ID = ?) [1;]"}},
        // The first owner's text ends with a blank before its CNO test, the
        // second owner's does not.
        {103, 5611, kOwnedByMain, {"101/1001", "101/1003"},
         {"select QTX_FNO, QTX_FID, QTX_ID, QTX_CNO from WATER_MAIN_N where QTX_ID = ?  and QTX_CNO = ? [1;11;]",
          "select QTX_FNO, QTX_FID, QTX_ID, QTX_CNO from WATER_MAIN_N where QTX_ID = ? and QTX_CNO = ? [3;11;]"}},
        {102, 2002, kFedByMain, {"101/1002"}, {"select QTX_FNO, QTX_FID, QTX_ID, QTX_CNO from QTX_COMMON_N where QTX_ID = ?  [2;]"}},
        {103, 5612, kOwnedByMain, {},  // 999 is no main's
         {"select QTX_FNO, QTX_FID, QTX_ID, QTX_CNO from WATER_MAIN_N where QTX_ID = ?  and QTX_CNO = ? [999;11;]"}},
        {103, 5613, kOwnedByMain, {}, {}},  // 0: no owner, nothing asked
        {102, 5603, kOwnedByMain, {}, {}},  // Null
        {105, 5001, kOwnedByMain, {}, {}},  // a class without rules
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.fid) + " in " + std::to_string(c.rno));
        auto feature = Open(c.fno, c.fid);
        context_->opens.clear();
        EXPECT_EQ(Related(feature, c.rno), c.related);
        if (!c.queries.empty() || c.related.empty()) {
            EXPECT_EQ(Queries(*context_), c.queries);
        }
    }
}

TEST_F(OwnershipFixture, ReviewSeesCachedLinksBeforeTheyAreSaved) {
    assembly_->put_Caching(true);
    auto main = Open(101, 1001);
    auto linked = Open(102, 5603), unlinked = Open(102, 2001);
    auto set = [&](const std::shared_ptr<pelmora::IKeyObject>& f, const rt::Variant& id, const rt::Variant& cno) {
        auto rows = Rows(f, "VALVE_ATTR");
        rows->MoveFirst();
        rows->SetValue(rt::Variant("OWNER_ID"), id);
        rows->SetValue(rt::Variant("OWNER_CNO"), cno);
        rows->Update();
    };
    set(linked, rt::Variant(int32_t{1}), rt::Variant(int32_t{11}));
    set(unlinked, rt::Variant::Null(), rt::Variant::Null());
    const Lines cached = {"102/5601", "102/5602", "102/5603", "103/3001", "103/5611", "104/4001"};
    EXPECT_EQ(Related(main, kMainOwns), cached);
    EXPECT_EQ(Related(linked, kOwnedByMain), Lines{"101/1001"});
    EXPECT_EQ(Stored("SELECT OWNER_ID FROM VALVE_N WHERE QTX_FID IN (2001, 5603) ORDER BY QTX_FID"), "1 Null");

    // Saved, they read the same from the database.
    Save({linked, unlinked});
    assembly_->put_Caching(false);
    EXPECT_EQ(Related(Open(101, 1001), kMainOwns), cached);
}

TEST_F(OwnershipFixture, EstablishAndDeleteChangeOnlyTheLinksUntilSaved) {
    // A new main without its attribute row: establishing adds the row with a
    // fresh QTX_ID from WATER_MAIN_N_SEQ and links the valve to it.
    auto main = NewMain();
    auto valve = Open(102, 5603);
    ASSERT_EQ(Values(main, "WATER_MAIN_ATTR", {"QTX_ID"}), "<no row>");
    service_->SilentEstablish(main, valve, rt::Variant(kMainOwns));
    const std::string id = Values(main, "WATER_MAIN_ATTR", {"QTX_ID"});
    EXPECT_EQ(Values(main, "WATER_MAIN_ATTR", {"QTX_FNO", "QTX_FID", "QTX_CNO", "QTX_CID"}),
              "101 " + std::to_string(main->get_FID()) + " 11 1");
    EXPECT_GE(std::stoi(id), 7);
    EXPECT_EQ(Values(valve, "VALVE_ATTR", {"OWNER_ID", "OWNER_CNO"}), id + " 11");
    EXPECT_EQ(Stored("SELECT OWNER_ID FROM VALVE_N WHERE QTX_FID = 5603"), "Null");
    Save({main, valve});
    EXPECT_EQ(Stored("SELECT OWNER_ID, OWNER_CNO FROM VALVE_N WHERE QTX_FID = 5603"), id + " 11");
    EXPECT_EQ(Stored("SELECT QTX_FID FROM WATER_MAIN_N WHERE QTX_ID = " + id), std::to_string(main->get_FID()));
    EXPECT_EQ(Related(Open(102, 5603), kOwnedByMain), Lines{"101/" + std::to_string(main->get_FID())});

    struct Case {
        const char* what;
        std::function<void()> call;
        int32_t fid;
        const char* component;
        std::initializer_list<const char*> columns;
        const char* after;
    };
    auto m1001 = Open(101, 1001), m1002 = Open(101, 1002), m1003 = Open(101, 1003);
    auto h5611 = Open(103, 5611), v5601 = Open(102, 5601), v5602 = Open(102, 5602);
    const Case cases[] = {
        {"the second owner, from the owner's side", [&] { service_->DeleteRelationship(m1003, h5611, rt::Variant(kMainOwns)); },
         5611, "HYDRANT_ATTR", {"OWNER_ID", "OWNER_CNO", "SECOND_OWNER_ID", "SECOND_OWNER_CNO"}, "1 11 Null Null"},
        {"the first owner, from the owned side", [&] { service_->DeleteRelationship(h5611, m1001, rt::Variant(kOwnedByMain)); },
         5611, "HYDRANT_ATTR", {"OWNER_ID", "OWNER_CNO", "SECOND_OWNER_ID", "SECOND_OWNER_CNO"}, "Null Null Null Null"},
        {"another main's link stays", [&] { service_->DeleteRelationship(m1002, v5601, rt::Variant(kMainOwns)); },
         5601, "VALVE_ATTR", {"OWNER_ID", "OWNER_CNO"}, "1 11"},
        {"with a support component the CNO column stays",
         [&] { service_->DeleteRelationship(v5601, m1001, rt::Variant(kFedByMain)); }, 5601, "VALVE_ATTR",
         {"FEED_ID", "FEED_CNO"}, "Null 1"},
        {"establishing again writes the same", [&] { service_->SilentEstablish(v5602, m1001, rt::Variant(kOwnedByMain)); },
         5602, "VALVE_ATTR", {"OWNER_ID", "OWNER_CNO"}, "1 11"},
        {"establishing moves a valve to another main",
         [&] { service_->SilentEstablish(v5602, m1002, rt::Variant(kOwnedByMain)); }, 5602, "VALVE_ATTR",
         {"OWNER_ID", "OWNER_CNO"}, "2 11"},
    };
    for (const Case& c : cases) {
        c.call();
        auto feature = c.fid == 5611 ? h5611 : c.fid == 5601 ? v5601 : v5602;
        EXPECT_EQ(Values(feature, c.component, c.columns), c.after) << c.what;
    }
    Save({h5611, v5601, v5602});
    EXPECT_EQ(Stored("SELECT OWNER_ID, SECOND_OWNER_ID FROM HYDRANT_N WHERE QTX_FID = 5611"), "Null Null");
    EXPECT_EQ(Stored("SELECT OWNER_ID, FEED_ID, FEED_CNO FROM VALVE_N WHERE QTX_FID = 5601"), "1 Null 1");
    EXPECT_EQ(Stored("SELECT OWNER_ID FROM VALVE_N WHERE QTX_FID = 5602"), "2");
}

TEST_F(OwnershipFixture, ValidationReportsEachEnforcement) {
    auto relationship = rt::QueryInterface<pelmora::IRelationship>(std::static_pointer_cast<rt::Object>(service_));
    auto features = pelmora::KeyObjects::New();
    for (auto [fno, fid] : std::vector<std::pair<int16_t, int32_t>>{
             {102, 2001}, {102, 5601}, {102, 5602}, {102, 5603}, {103, 3002}, {103, 5611}, {103, 5612}, {103, 5613}}) {
        auto k = pelmora::KeyObject::New();
        k->put_FNO(fno);
        k->put_FID(fid);
        features->Add(k);
    }
    relationship->putref_Features(features);
    std::shared_ptr<ado::Recordset> set, errors;
    relationship->Validate(set, errors);

    // The owner references and the distances; the attribute rules and the
    // (unregistered) geometry interfaces of the sample report too.
    std::map<std::string, std::string> ids;
    // 15794 and 15796 read alike; the priority tells them apart.
    for (int16_t id : {15796, 15795, 15794, 15793}) ids[pelmora::GetValidationMessage(id)] = std::to_string(id);
    ids[pelmora::GetValidationMessage(15797, rt::Variant("999"))] = "15797 999";
    ids[pelmora::GetValidationMessage(24606, rt::Variant("Valve 5602"), rt::Variant("Water Main 1001"),
                                      rt::Variant("0.5"))] = "24606 0.5";
    const std::string error = pelmora::GetValidationMessage(pelmora::kErrorPriorityMessage);
    const std::string warning = pelmora::GetValidationMessage(pelmora::kWarningPriorityMessage);
    Lines found;
    for (const auto& row : validationtest::FindingRows(errors)) {
        auto id = ids.find(row[1]);
        if (id == ids.end()) continue;
        const std::string priority = row[0] == error ? "error" : row[0] == warning ? "warning" : row[0];
        found.push_back(row[2] + " " + row[4] + "/" + row[5] + "/" + row[6] + "/" + row[7] + " " + id->second + " " +
                        priority);
    }
    EXPECT_EQ(found, (Lines{
                         // enforcement 1: every column must hold an owner
                         "Device Owned By Main 102/5602/Null/Null 24606 0.5 error",
                         "Device Owned By Main 102/5603/21/1 15793 error",
                         // enforcement 2: one of the two is enough; 999 is no owner of the set
                         "Device Owned By Main 103/5612/Null/Null 15797 999 error",
                         "Device Owned By Main 103/5613/31/1 15794 error",
                         // enforcement 0: warnings; 5 for the hydrants: nothing
                         "Device Fed By Main 102/5603/21/1 15795 warning",
                     }));
}

TEST_F(OwnershipFixture, NamesThatCannotStandInSqlAreRefused) {
    // A helper of relationship 1 whose rule table names a link column that
    // would change the query.
    struct Spoiled : pelmora::Ownership {
        void UseRules(const std::shared_ptr<ado::Recordset>& rs) { ruleTable_ = rs; }
    };
    auto helper = std::make_shared<Spoiled>();
    helper->putref_DataContext(context_);
    helper->putref_MDRSFilterService(std::make_shared<pelmora::MetadataRecordsetFilterService>());
    helper->put_RelationshipNumber(kMainOwns);
    auto rules = ado::Recordset::Create();
    for (const char* f : {"QTX_SOURCEFNO", "QTX_OWNERFNO", "QTX_SOURCECNO"}) rules->get_Fields()->Append(f, ado::adInteger);
    for (const char* f : {"QTX_OWNERFIELD", "QTX_OWNERCNOFIELD", "QTX_SECONDOWNERFIELD", "QTX_SECONDOWNERCNOFIELD"})
        rules->get_Fields()->Append(f, ado::adVarWChar, 60, ado::adFldIsNullable);
    rules->Open();
    rules->AddNew();
    for (auto [f, v] : std::vector<std::pair<const char*, rt::Variant>>{
             {"QTX_SOURCEFNO", rt::Variant(int32_t{102})}, {"QTX_OWNERFNO", rt::Variant(int32_t{101})},
             {"QTX_SOURCECNO", rt::Variant(int32_t{21})}, {"QTX_OWNERFIELD", rt::Variant("OWNER_ID) OR (1 = 1")},
             {"QTX_OWNERCNOFIELD", rt::Variant::Null()}, {"QTX_SECONDOWNERFIELD", rt::Variant::Null()},
             {"QTX_SECONDOWNERCNOFIELD", rt::Variant::Null()}})
        rules->SetValue(rt::Variant(f), v);
    rules->Update();
    helper->UseRules(rules);
    context_->opens.clear();
    auto error = Raised([&] { helper->ReviewRelationship(Open(101, 1001)); });
    EXPECT_EQ(error.Number(), pelmora::kErrorBase + 1);
    EXPECT_EQ(error.Source(), pelmora::kOwnershipNameSource);
    EXPECT_NE(error.Description().find("QTX_OWNERFIELD"), std::string::npos) << error.Description();
    EXPECT_TRUE(Queries(*context_).empty());

    // The database's rule of the validation set refuses it as well.
    const std::string db = env_->CopyDatabase();
    product::SqliteConnection connection(db, {});
    connection.Execute("UPDATE QTX_OWNERSHIPRULES_OPTABLE SET QTX_OWNERFIELD = 'OWNER_ID = 1 OR 1' WHERE QTX_SOURCEFNO = 102");
    std::map<std::string, rt::Variant> row{{"QTX_OPTIMIZEDTABLE", rt::Variant("QTX_OWNERSHIPRULES_OPTABLE")},
                                           {"QTX_SUBORDINATE", rt::Variant(int32_t{0})}};
    auto refused = Raised([&] { product::OwnershipRelatedFeatures({connection, 1, row, {101, 1001}}); });
    EXPECT_NE(refused.Description().find("QTX_OWNERFIELD is no identifier"), std::string::npos) << refused.Description();
}

TEST_F(OwnershipFixture, ANewOwnerRowWithoutARowIdIsRefusedAndTakenBack) {
    auto helper = Helper(kMainOwns);
    const int32_t next = rt::CLng(Stored("SELECT WATER_MAIN_N_SEQ.NEXTVAL FROM DUAL")) + 1;
    EXPECT_EQ(helper->GetNextQTXID(context_, 11), next);
    struct Case {
        const char* what;
        bool fail, empty;
    } cases[] = {{"the sequence cannot be read", true, false}, {"it gives no row", false, true}};
    for (const Case& c : cases) {
        context_->failOpens = c.fail;
        context_->emptyOpens = c.empty;
        EXPECT_NE(ErrorOf([&] { helper->GetNextQTXID(context_, 11); }), 0) << c.what;
        auto main = NewMain();
        auto valve = Open(102, 5603);
        context_->plainOpens.clear();
        EXPECT_NE(ErrorOf([&] { service_->SilentEstablish(main, valve, rt::Variant(kMainOwns)); }), 0) << c.what;
        EXPECT_EQ(context_->plainOpens, Lines{"Select WATER_MAIN_N_SEQ.NextVal from dual"}) << c.what;
        EXPECT_EQ(Values(main, "WATER_MAIN_ATTR", {"QTX_ID"}), "<no row>") << c.what;
        EXPECT_EQ(Values(valve, "VALVE_ATTR", {"OWNER_ID"}), "Null") << c.what;
    }
}
