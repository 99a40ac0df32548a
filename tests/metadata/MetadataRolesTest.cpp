// Role filtering of metadata tables for the active user, against the roles
// the sample database grants.
#include <algorithm>
#include <functional>

#include "MetadataTestSupport.h"

namespace metadatatest {
namespace {

class MetadataRolesTest : public MetadataFixture {
protected:
    std::vector<rt::Variant> FeatureNumbers(const std::shared_ptr<pelmora::MetadataService>& service) {
        return Column(service->get_Recordsets()->get_Item(rt::Variant("QTX_FEATURES_OPTABLE"))->get_Recordset(),
                      "QTX_FNO");
    }
    std::vector<rt::Variant> ProjectNumbers(const std::shared_ptr<pelmora::MetadataService>& service) {
        return Column(service->get_Recordsets()->get_Item(rt::Variant("QTX_VBAPROJECT_OPTABLE"))->get_Recordset(),
                      "QTX_PRJNO");
    }
};

TEST_F(MetadataRolesTest, UserWithTheRoleSeesItsRowsOthersDoNot) {
    auto dc = env_->OpenDataContext();

    auto klee = NewService();
    klee->SetActiveUser(dc, "klee");  // upper-cased for the data dictionary
    EXPECT_EQ(klee->ActiveUser(), "klee");
    EXPECT_TRUE(klee->IsRoleGranted("water_quality"));
    EXPECT_TRUE(Contains(FeatureNumbers(klee), 105));
    EXPECT_FALSE(Contains(ProjectNumbers(klee), 12)) << "KLEE is no engineer";
    EXPECT_TRUE(Contains(ProjectNumbers(klee), 1)) << "rows without a role stay";

    auto jsmith = NewService();
    jsmith->SetActiveUser(dc, "JSMITH");
    EXPECT_TRUE(jsmith->IsRoleGranted("WATER_VIEWER")) << "granted through WATER_EDITOR";
    EXPECT_FALSE(jsmith->IsRoleGranted("WATER_QUALITY"));
    EXPECT_FALSE(Contains(FeatureNumbers(jsmith), 105));
    EXPECT_TRUE(Contains(FeatureNumbers(jsmith), 101));

    auto admin = NewService();
    admin->SetActiveUser(dc, "QTXADMIN");
    EXPECT_TRUE(Contains(ProjectNumbers(admin), 12)) << "ADMINISTRATOR > WATER_ENGINEER";
    EXPECT_TRUE(recorder_->records.empty());
}

TEST_F(MetadataRolesTest, WithoutRolesRowsThatNeedOneAreRemovedAfterAMessage) {
    auto service = NewService();
    service->SetActiveUser(env_->OpenDataContext(), "");
    EXPECT_EQ(service->ActiveUser(), "");
    auto fnos = FeatureNumbers(service);
    EXPECT_FALSE(Contains(fnos, 105));
    EXPECT_TRUE(Contains(fnos, 101));
    ASSERT_FALSE(recorder_->records.empty());
    EXPECT_EQ(recorder_->records[0].text.rfind("IsRoleGranted:\r\n", 0), 0u) << recorder_->records[0].text;
    EXPECT_NE(recorder_->records[0].text.find("SetActiveUser"), std::string::npos) << "names the way out";

    // The role-association table is never filtered.
    auto assoc = service->get_Recordsets()->get_Item(rt::Variant("QTX_ROLEASSOC_OPTABLE"))->get_Recordset();
    auto direct = env_->OpenDataContext()->OpenRecordset("SELECT * FROM QTX_ROLEASSOC_OPTABLE");
    EXPECT_EQ(assoc->get_RecordCount(), direct->get_RecordCount());
}

// Each load works out the roles once: without a user, one box however many
// rows need a role, and the same rows kept as a row-by-row check keeps.
TEST_F(MetadataRolesTest, ALoadAsksForTheRolesOnceAndKeepsTheSameRows) {
    auto dc = env_->OpenDataContext();
    const std::string table = "QTX_ATTRIBUTEINFO_OPTABLE";
    auto direct = dc->OpenRecordset("SELECT QTX_ANO, QTX_ROLE FROM " + table);
    auto loads = {
        std::function<std::shared_ptr<ado::Recordset>(pelmora::MetadataService&)>(
            [&](pelmora::MetadataService& s) { return s.get_Recordsets()->get_Item(rt::Variant(table))->get_Recordset(); }),
        std::function<std::shared_ptr<ado::Recordset>(pelmora::MetadataService&)>([&](pelmora::MetadataService& s) {
            return s.get_Recordsets()->AppendRecordset("APPENDED", "APPENDED", dc->OpenRecordset("SELECT * FROM " + table))
                ->get_Recordset();
        }),
    };
    for (const std::string user : {"", "MBROWN", "KLEE"}) {
        auto service = NewService();
        service->SetActiveUser(dc, user);
        // What a check of each row on its own keeps.
        std::vector<int32_t> expected;
        int32_t roleRows = 0;
        for (direct->MoveFirst(); !direct->get_EOF(); direct->MoveNext()) {
            const std::string role = pelmora::MetadataRecordset::FormatText(direct->GetValue(rt::Variant("QTX_ROLE")));
            roleRows += !role.empty();
            if (role.empty() || (!user.empty() && service->IsRoleGranted(role)))
                expected.push_back(rt::CLng(direct->GetValue(rt::Variant("QTX_ANO"))));
        }
        ASSERT_GE(roleRows, 3);
        std::sort(expected.begin(), expected.end());
        int load = 0;
        for (const auto& loadTable : loads) {
            SCOPED_TRACE("user '" + user + "', load " + std::to_string(++load));
            recorder_->records.clear();
            std::vector<int32_t> kept;
            for (const auto& v : Column(loadTable(*service), "QTX_ANO")) kept.push_back(rt::CLng(v));
            std::sort(kept.begin(), kept.end());
            EXPECT_EQ(kept, expected);
            EXPECT_EQ(recorder_->records.size(), user.empty() ? 1u : 0u);
            for (const auto& record : recorder_->records) EXPECT_EQ(record.text.rfind("IsRoleGranted:\r\n", 0), 0u);
        }
    }
}

TEST_F(MetadataRolesTest, UserNameIsQuotedNotExecuted) {
    auto service = NewService();
    auto dc = env_->OpenDataContext();
    // A name that would widen the query if pasted in as it stands.
    service->SetActiveUser(dc, "x' or grantee = 'KLEE");
    EXPECT_FALSE(service->IsRoleGranted("WATER_QUALITY"));
    EXPECT_FALSE(Contains(FeatureNumbers(service), 105));

    service->SetActiveUser(dc, "o'brien");
    EXPECT_EQ(service->ActiveUser(), "o'brien");
    EXPECT_FALSE(service->IsRoleGranted("WATER_VIEWER"));
}

TEST_F(MetadataRolesTest, ItemWhoseCollectionIsGoneLetsNoRoleRowThrough) {
    auto service = NewService();
    service->SetActiveUser(env_->OpenDataContext(), "KLEE");
    auto item = service->get_Recordsets()->get_Item(rt::Variant("QTX_FEATURES_OPTABLE"));
    service->Fetch();  // the collection that could answer for KLEE's roles is gone
    ASSERT_EQ(item->get_Parent(), nullptr);
    auto fnos = Column(item->get_Recordset(), "QTX_FNO");
    EXPECT_FALSE(Contains(fnos, 105));
    EXPECT_TRUE(Contains(fnos, 101));
}

TEST_F(MetadataRolesTest, AppendedRecordsetIsFilteredWhereverItsCursorStands) {
    auto service = NewService();
    auto dc = env_->OpenDataContext();
    service->SetActiveUser(dc, "JSMITH");
    auto recordsets = service->get_Recordsets();

    // Left at EOF by an earlier walk.
    auto atEnd = dc->OpenRecordset("SELECT * FROM QTX_FEATURES_OPTABLE");
    while (!atEnd->get_EOF()) atEnd->MoveNext();
    auto item = recordsets->AppendRecordset("FEATURES_AT_END", "FEATURES_AT_END", atEnd);
    EXPECT_FALSE(atEnd->get_EOF()) << "handed back on its first row";
    EXPECT_FALSE(Contains(Column(item->get_Recordset(), "QTX_FNO"), 105));

    // Rows hidden by the caller's filter are filtered too.
    auto filtered = dc->OpenRecordset("SELECT * FROM QTX_FEATURES_OPTABLE");
    filtered->put_Filter(rt::Variant("QTX_FNO < 103"));
    recordsets->AppendRecordset("FEATURES_FILTERED", "FEATURES_FILTERED", filtered);
    filtered->put_Filter(rt::Variant(int32_t{ado::adFilterNone}));
    EXPECT_FALSE(Contains(Column(filtered, "QTX_FNO"), 105));

    // The roles item itself keeps every row.
    auto roles = ado::Recordset::Create();
    roles->get_Fields()->Append("GRANTED_ROLE", ado::adVarWChar, 30);
    roles->get_Fields()->Append("QTX_ROLE", ado::adVarWChar, 30);
    roles->Open();
    roles->AddNew(rt::Variant::ArrayOf({rt::Variant("GRANTED_ROLE"), rt::Variant("QTX_ROLE")}),
                  rt::Variant::ArrayOf({rt::Variant("WATER_QUALITY"), rt::Variant("WATER_QUALITY")}));
    roles->Update();
    auto extra = std::make_shared<pelmora::MetadataRecordsets>();
    extra->AppendRecordset("qtx_roles", "QTX_ROLES", roles);
    EXPECT_EQ(roles->get_RecordCount(), 1);
    EXPECT_TRUE(extra->IsRoleGranted("Water_Quality"));

    // Empty recordsets are added without error.
    auto none = dc->OpenRecordset("SELECT * FROM QTX_FEATURES_OPTABLE WHERE QTX_FNO < 0");
    EXPECT_EQ(recordsets->AppendRecordset("EMPTY", "EMPTY", none)->get_Recordset()->get_RecordCount(), 0);
    EXPECT_THROW(recordsets->AppendRecordset("empty", "EMPTY", none), rt::ComError);
}

TEST_F(MetadataRolesTest, RecordsetWhoseRowsCannotBeRemovedIsNotAdded) {
    auto service = NewService();
    service->SetActiveUser(env_->OpenDataContext(), "JSMITH");
    auto recordsets = service->get_Recordsets();
    // A read-only copy still holding the row of a role JSMITH lacks.
    auto admin = NewService();
    admin->SetActiveUser(env_->OpenDataContext(), "QTXADMIN");
    auto readOnly = admin->get_Recordsets()->get_Item(rt::Variant("QTX_FEATURES_OPTABLE"))->get_Recordset();
    ASSERT_TRUE(Contains(Column(readOnly, "QTX_FNO"), 105));

    const int32_t before = recordsets->get_Count();
    EXPECT_THROW(recordsets->AppendRecordset("COPY", "COPY", readOnly), rt::ComError);
    EXPECT_EQ(recordsets->get_Count(), before);
}

TEST_F(MetadataRolesTest, ClearDetachesEveryItem) {
    auto service = NewService();
    auto recordsets = service->get_Recordsets();
    auto items = recordsets->get_NewEnum();
    ASSERT_FALSE(items.empty());
    recordsets->Clear();
    EXPECT_EQ(recordsets->get_Count(), 0);
    for (auto& item : items) EXPECT_EQ(item->get_Parent(), nullptr);
}

}  // namespace
}  // namespace metadatatest
