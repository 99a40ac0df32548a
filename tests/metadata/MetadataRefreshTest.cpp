// Re-reading edited metadata tables from the database: the table list given
// or recorded in the application's preferences, the notification, the
// display metadata and the VBA projects.
#include "MetadataTestSupport.h"
#include "product/DesktopApplication.h"

namespace metadatatest {
namespace {

constexpr int32_t kRefreshError = static_cast<int32_t>(0x80040001u);
constexpr const char* kPreference = "RefreshedOptables.Sample Water Network";

rt::Variant Tables(std::initializer_list<const char*> names) {
    std::vector<rt::Variant> values;
    for (auto* n : names) values.emplace_back(n);
    return rt::Variant::ArrayOf(values, 0, rt::vbString);
}

class MetadataRefreshTest : public MetadataFixture {
protected:
    void SetUp() override {
        MetadataFixture::SetUp();
        dc_ = env_->OpenDataContext();
        service_ = NewService();
        service_->SetActiveUser(dc_, "KLEE");
    }

    std::string UserNameOf(int32_t fno) {
        auto rs = service_->get_Recordsets()
                      ->get_Item(rt::Variant("QTX_FEATURES_OPTABLE"))
                      ->get_Recordset("QTX_FNO = " + std::to_string(fno));
        return rt::CStr(rs->GetValue(rt::Variant("QTX_USERNAME")));
    }

    // An application whose document holds an open product connection.
    std::shared_ptr<product::DesktopApplication> NewApplication() {
        auto app = std::make_shared<product::DesktopApplication>();
        connection_ = app->AddConnection("QTX.GDatabase", 1, dc_);
        return app;
    }

    std::vector<int32_t> DisplayCalls(const std::shared_ptr<product::DesktopConnection>& c) {
        std::vector<int32_t> ids;
        for (auto& call : c->GetDisplayMetadata()->Calls()) ids.push_back(call.dispId);
        return ids;
    }

    std::shared_ptr<product::SqliteDataContext> dc_;
    std::shared_ptr<pelmora::MetadataService> service_;
    std::shared_ptr<product::DesktopConnection> connection_;
};

TEST_F(MetadataRefreshTest, EditedTableIsRereadAndListenersAreTold) {
    ASSERT_EQ(UserNameOf(103), "Hydrant");
    Execute(dc_, "UPDATE QTX_FEATURES_OPTABLE SET QTX_USERNAME = 'Fire Hydrant' WHERE QTX_FNO = 103");
    std::vector<std::string> heard;
    product::NotificationLog::Current().listeners.push_back(
        [&](const product::NotificationRecord& r) { heard.push_back(r.eventName + ":" + rt::CStr(r.args.at(0))); });

    service_->RefreshDynamicEdits(dc_, Tables({"QTX_FEATURES_OPTABLE"}));

    EXPECT_EQ(UserNameOf(103), "Fire Hydrant");
    EXPECT_EQ(UserNameOf(105), "Sampling Station") << "KLEE keeps her role rows";
    ASSERT_EQ(heard, std::vector<std::string>{"AfterRefresh:QTX_FEATURES_OPTABLE"});
    auto& record = product::NotificationLog::Current().records.back();
    EXPECT_EQ(record.source,
              std::dynamic_pointer_cast<rt::Object>(
                  service_->FindConnectionPoint(rt::CLSIDFromString(pelmora::kMetadataServiceEventsIID))));
    ASSERT_EQ(record.args.size(), 2u);
    EXPECT_EQ(rt::CStr(record.args[1]), "KLEE");
}

TEST_F(MetadataRefreshTest, RereadTableIsRoleFilteredForAUserWithoutTheRole) {
    service_->SetActiveUser(dc_, "JSMITH");
    service_->RefreshDynamicEdits(dc_, Tables({"QTX_FEATURES_OPTABLE"}));
    auto fnos = Column(service_->get_Recordsets()->get_Item(rt::Variant("QTX_FEATURES_OPTABLE"))->get_Recordset(),
                       "QTX_FNO");
    EXPECT_FALSE(Contains(fnos, 105));
    EXPECT_TRUE(Contains(fnos, 104));
}

TEST_F(MetadataRefreshTest, BadArgumentsAreReportedAsRefreshErrors) {
    auto noContext = Raised([&] { service_->RefreshDynamicEdits(nullptr, Tables({"QTX_FEATURES_OPTABLE"})); });
    EXPECT_EQ(noContext.Number(), kRefreshError);
    EXPECT_EQ(noContext.Source(), "MetadataService.RefreshDynamicEdits");
    EXPECT_EQ(noContext.Description(), "DataContext is Nothing");

    auto variants = Raised([&] {
        service_->RefreshDynamicEdits(dc_, rt::Variant::ArrayOf({rt::Variant("QTX_STYLEOBJECTS_OPTABLE")}));
    });
    EXPECT_EQ(variants.Number(), kRefreshError);
    EXPECT_EQ(variants.Description(), rt::VbErrorDescription(rt::vberr::TypeMismatch));

    // A name that is no table name is not pasted into SQL.
    Execute(dc_, "UPDATE QTX_FEATURES_OPTABLE SET QTX_USERNAME = 'Changed' WHERE QTX_FNO = 101");
    EXPECT_THROW(service_->RefreshDynamicEdits(dc_, Tables({"QTX_FEATURES_OPTABLE WHERE 1=0 --"})), rt::ComError);
    EXPECT_EQ(UserNameOf(101), "Water Main");
}

TEST_F(MetadataRefreshTest, TableOutsideTheIndexIsReadWhole) {
    // Re-read with "select * from", then its removal fails: the collection
    // does not hold it.
    auto e = Raised([&] { service_->RefreshDynamicEdits(dc_, Tables({"QTX_METADATAVERSION"})); });
    EXPECT_EQ(e.Number(), rt::vberr::InvalidProcedureCall);
    EXPECT_TRUE(product::NotificationLog::Current().records.empty());
}

TEST_F(MetadataRefreshTest, AnEditedTableThatIsNoPlainNameIsRefusedNamingIt) {
    for (const char* name : {"QTX_FEATURES_OPTABLE; DROP TABLE VALVE_N", "QTX_FEATURES_OPTABLE\"--", "[QTX_FEATURES]"}) {
        auto e = Raised([&] { service_->RefreshDynamicEdits(dc_, Tables({name})); });
        EXPECT_EQ(e.Number(), rt::vberr::InvalidProcedureCall) << name;
        EXPECT_NE(e.Description().find("\"" + std::string(name) + "\""), std::string::npos) << e.Description();
    }
    EXPECT_TRUE(product::NotificationLog::Current().records.empty());
}

TEST_F(MetadataRefreshTest, PendingMetadataStopsTheRefresh) {
    Execute(dc_, "UPDATE QTX_METADATAVERSION SET QTX_COMMENTS = 'being edited' WHERE QTX_VERSIONNO = 2");
    Execute(dc_, "UPDATE QTX_FEATURES_OPTABLE SET QTX_USERNAME = 'Changed' WHERE QTX_FNO = 101");

    auto listed = Raised([&] { service_->RefreshDynamicEdits(dc_, Tables({"QTX_FEATURES_OPTABLE"})); });
    EXPECT_EQ(listed.Number(), kRefreshError);
    EXPECT_EQ(listed.Description(), "The metadata has pending edits; refresh it after they are posted.");
    EXPECT_EQ(UserNameOf(101), "Water Main");

    auto app = NewApplication();
    product::ScopedApplication installed(app);
    app->GetPreferenceSet()->Set(kPreference, rt::Variant("QTX_FEATURES_OPTABLE-2030-01-01 00:00:00"));
    recorder_->records.clear();
    EXPECT_NO_THROW(service_->RefreshDynamicEdits(dc_));
    ASSERT_EQ(recorder_->records.size(), 1u);
    EXPECT_NE(recorder_->records[0].text.find("pending edits"), std::string::npos);
    EXPECT_EQ(UserNameOf(101), "Water Main");
}

TEST_F(MetadataRefreshTest, PreferenceModeRefreshesLaterEditsAndTheDisplayMetadata) {
    auto app = NewApplication();
    auto second = app->AddConnection("qtx.gdatabase", 0, dc_);  // the last match is the one refreshed
    product::ScopedApplication installed(app);
    app->GetPreferenceSet()->Set(kPreference, rt::Variant("QTX_LEGENDS_OPTABLE-2026-01-01 10:00:00;"
                                                          "QTX_STYLEOBJECTS_OPTABLE-2025-06-01 12:00:00"));
    Execute(dc_, "UPDATE QTX_LEGENDS_OPTABLE SET QTX_NAME = 'Water Net' WHERE QTX_FNO = 101");

    service_->RefreshDynamicEdits(dc_);

    EXPECT_EQ(DisplayCalls(second), (std::vector<int32_t>{7, 8}));
    EXPECT_TRUE(DisplayCalls(connection_).empty());
    auto legends = service_->get_Recordsets()->get_Item(rt::Variant("QTX_LEGENDS_OPTABLE"))->get_Recordset("QTX_FNO = 101");
    EXPECT_EQ(rt::CStr(legends->GetValue(rt::Variant("QTX_NAME"))), "Water Net");

    // The preference now lists what was handled, with one empty element at the end;
    // the style edit dated at the posting date was skipped.
    rt::Variant written = app->GetPreferenceSet()->Get(kPreference);
    ASSERT_TRUE(written.IsArray());
    ASSERT_EQ(rt::UBound(written), 1);
    EXPECT_EQ(rt::CStr(written.Array()->Get(0)), "QTX_LEGENDS_OPTABLE");
    EXPECT_EQ(rt::CStr(written.Array()->Get(1)), "");
    ASSERT_EQ(product::NotificationLog::Current().records.size(), 1u);
}

TEST_F(MetadataRefreshTest, PreferenceModeWithNothingRecorded) {
    auto app = NewApplication();
    product::ScopedApplication installed(app);
    app->GetPreferenceSet()->Set(kPreference, rt::Variant(""));
    service_->RefreshDynamicEdits(dc_);
    rt::Variant written = app->GetPreferenceSet()->Get(kPreference);
    EXPECT_TRUE(written.IsArray());
    EXPECT_EQ(written.Array(), nullptr) << "an empty list stays unallocated";
    EXPECT_TRUE(product::NotificationLog::Current().records.empty());

    // A list ending with ";" has an empty entry: refused before anything is read.
    app->GetPreferenceSet()->Set(kPreference, rt::Variant("QTX_FEATURES_OPTABLE-2030-01-01 00:00:00;"));
    auto e = Raised([&] { service_->RefreshDynamicEdits(dc_); });
    EXPECT_EQ(e.Number(), kRefreshError);
    EXPECT_TRUE(product::NotificationLog::Current().records.empty());

    // Without an application nothing is recorded and nothing happens.
    product::ScopedApplication none(nullptr);
    EXPECT_NO_THROW(service_->RefreshDynamicEdits(dc_));
}

TEST_F(MetadataRefreshTest, RefreshedProjectTableLoadsProjectsFromTheDatabase) {
    auto app = NewApplication();
    product::ScopedApplication installed(app);
    service_->RefreshDynamicEdits(dc_, Tables({"QTX_VBAPROJECT_OPTABLE"}));

    auto recordsets = service_->get_Recordsets();
    EXPECT_TRUE(recordsets->get_VBARefreshPending());
    // KLEE holds no WATER_ENGINEER role: project 12 is not registered.
    EXPECT_THROW(recordsets->get_Item(rt::Variant("VBA12")), rt::ComError);
    auto project = recordsets->get_Item(rt::Variant("VBA1"));
    EXPECT_EQ(project->get_Parent(), recordsets);
    auto rows = project->get_Recordset();
    ASSERT_EQ(rows->get_RecordCount(), 1);
    rows->MoveFirst();
    EXPECT_FALSE(rows->GetValue(rt::Variant("QTX_PROJECT")).IsNull());
    EXPECT_FALSE(project->IsLoaded()) << "projects are read afresh every time";
}

TEST_F(MetadataRefreshTest, ProjectIsReadAgainOnceTheApplicationIsBack) {
    auto app = NewApplication();
    {
        product::ScopedApplication installed(app);
        service_->RefreshDynamicEdits(dc_, Tables({"QTX_VBAPROJECT_OPTABLE"}));
    }
    auto project = service_->get_Recordsets()->get_Item(rt::Variant("VBA1"));
    // Outside the application there is no connection to read it from.
    auto e = Raised([&] { project->get_Recordset(); });
    EXPECT_EQ(e.Source().rfind("MetadataService.Recordsets.MetadataRecordset.Recordset\r\n", 0), 0u) << e.Source();

    product::ScopedApplication installed(app);
    EXPECT_EQ(project->get_Recordset()->get_RecordCount(), 1);

    // Without an open product connection the load fails as a missing file.
    connection_->SetStatus(0);
    EXPECT_EQ(Raised([&] { project->get_Recordset(); }).Number(), 10);
}

}  // namespace
}  // namespace metadatatest
