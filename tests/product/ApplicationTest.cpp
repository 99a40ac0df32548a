// The desktop application stand-in and the system routines that reach it:
// status and progress bar, the open database connection, preferences,
// display metadata, the notification object, the metadata service helper
// and the temporary directory.
#include <cstdlib>

#include <gtest/gtest.h>

#include "pelmora/common/AppUtils.h"
#include "pelmora/metadata/MetadataServiceHelper.h"
#include "pelmora/common/MiscEnvironment.h"
#include "interfaces/MetadataService.h"
#include "interfaces/Varsk1.h"
#include "pelmora/metadata/MetadataUtils.h"
#include "product/DesktopApplication.h"
#include "product/Notification.h"
#include "product/SqliteDataContext.h"
#include "product/StandIns.h"
#include "runtime/Vb.h"
#include "support/Raises.h"
#include "support/SampleEnvironment.h"

using pelmora_test::ErrorOf;

namespace {

using product::DesktopApplication;
using product::ScopedApplication;

std::vector<int32_t> DispIds(const DesktopApplication& app) {
    std::vector<int32_t> ids;
    for (const auto& c : app.Calls()) ids.push_back(c.dispId);
    return ids;
}

// The system reaches the application through the sibling library's
// functions, which the product binds at start.
class AppUtils : public ::testing::Test {
protected:
    void SetUp() override { product::RegisterProductStandIns(); }
};

TEST_F(AppUtils, DoNothingWithoutAnApplication) {
    ScopedApplication none(nullptr);
    ASSERT_EQ(varsk1::GetYvApplicationDispatch(), nullptr);
    EXPECT_NO_THROW({
        pelmora::BeginProgressBar();
        pelmora::SetProgressBarRange(1, 5);
        pelmora::StepProgressBar(1);
        pelmora::EndProgressBar();
        pelmora::SetStatusBarText("Saving", 0);
    });
    EXPECT_EQ(pelmora::GetStatusBarText(0), "");
}

TEST_F(AppUtils, DriveTheProgressBarAndStatusBarByDispatchId) {
    auto app = std::make_shared<DesktopApplication>();
    ScopedApplication installed(app);
    const std::string saved = pelmora::GetStatusBarText(1);
    pelmora::SetStatusBarText("Validating features", 1);
    pelmora::BeginProgressBar();
    pelmora::SetProgressBarRange(1, 3);
    for (int i = 0; i < 3; ++i) pelmora::StepProgressBar(1);
    EXPECT_TRUE(app->ProgressBarVisible());
    EXPECT_EQ(app->ProgressPosition(), 3);
    EXPECT_EQ(pelmora::GetStatusBarText(1), "Validating features");
    EXPECT_EQ(pelmora::GetStatusBarText(2), "");  // panels are separate
    pelmora::EndProgressBar();
    pelmora::SetStatusBarText(saved, 1);

    EXPECT_FALSE(app->ProgressBarVisible());
    EXPECT_EQ(app->StatusBarText(1), "");
    EXPECT_EQ(DispIds(*app), (std::vector<int32_t>{23, 24, 32, 33, 34, 34, 34, 23, 23, 35, 24}));
    const auto& range = app->Calls()[3];
    ASSERT_EQ(range.args.size(), 2u);
    EXPECT_EQ(rt::CLng(range.args[0]), 1);
    EXPECT_EQ(rt::CLng(range.args[1]), 3);
    const auto& set = app->Calls()[1];
    EXPECT_EQ(rt::CStr(set.args[0]), "Validating features");
    EXPECT_EQ(rt::CLng(set.args[1]), 1);
}

// An application that refuses every call, or answers the status text with Null.
class SulkyApplication : public rt::Object {
public:
    bool nullText = false;
    rt::Variant InvokeDispId(int32_t dispId, rt::InvokeKind, rt::Args&) override {
        if (nullText && dispId == 23) return rt::Variant::Null();
        throw rt::ComError(static_cast<int32_t>(0x80020003), "Application", "Member not found");
    }
};

TEST_F(AppUtils, SwallowFailuresOfTheApplication) {
    auto app = std::make_shared<SulkyApplication>();
    ScopedApplication installed(app);
    EXPECT_NO_THROW({
        pelmora::BeginProgressBar();
        pelmora::StepProgressBar(1);
        pelmora::SetStatusBarText("x", 0);
        pelmora::EndProgressBar();
    });
    EXPECT_EQ(pelmora::GetStatusBarText(0), "");
    app->nullText = true;
    EXPECT_EQ(pelmora::GetStatusBarText(0), "");
}

TEST(DesktopApplication, ProgressStaysWithinItsRange) {
    DesktopApplication app;
    rt::Args range{rt::Variant(1), rt::Variant(2)}, step{rt::Variant(5)}, none;
    app.InvokeDispId(32, rt::InvokeKind::Method, none);
    app.InvokeDispId(33, rt::InvokeKind::Method, range);
    app.InvokeDispId(34, rt::InvokeKind::Method, step);
    EXPECT_EQ(app.ProgressPosition(), 2);
    rt::Args tooFew;
    EXPECT_EQ(ErrorOf([&] { app.InvokeDispId(33, rt::InvokeKind::Method, tooFew); }), rt::vberr::ArgumentNotOptional);
    EXPECT_EQ(ErrorOf([&] { app.InvokeDispId(99, rt::InvokeKind::Method, none); }),
              rt::vberr::ObjectDoesNotSupportMember);
}

TEST(DesktopApplication, AnswersLateBoundForNamePreferencesAndDocument) {
    auto app = std::make_shared<DesktopApplication>("Water Desktop");
    EXPECT_EQ(rt::CStr(rt::CallByName(app, "name", rt::InvokeKind::PropertyGet)), "Water Desktop");

    rt::Variant prefs = rt::CallByName(app, "PreferenceSet", rt::InvokeKind::PropertyGet);
    ASSERT_TRUE(prefs.IsObject());
    rt::Args get{rt::Variant("RefreshedOptables.Water"), rt::Variant(), rt::Variant(0)};
    EXPECT_FALSE(rt::CBool(rt::CallByName(prefs.Obj(), "getValue", rt::InvokeKind::Method, get)));
    rt::Args set{rt::Variant("RefreshedOptables.Water"), rt::Variant("QTX_LEGENDS_OPTABLE-2030-01-01"), rt::Variant(0)};
    EXPECT_FALSE(rt::CBool(rt::CallByName(prefs.Obj(), "setValue", rt::InvokeKind::Method, set)));
    rt::CallByName(prefs.Obj(), "Add", rt::InvokeKind::Method, set);
    EXPECT_TRUE(rt::CBool(rt::CallByName(prefs.Obj(), "getValue", rt::InvokeKind::Method, get)));
    EXPECT_EQ(rt::CStr(get[1]), "QTX_LEGENDS_OPTABLE-2030-01-01");  // filled by reference
    rt::Args list{rt::Variant("refreshedoptables.water"), rt::Variant::ArrayOf({rt::Variant("A"), rt::Variant("")}),
                  rt::Variant(0)};
    EXPECT_TRUE(rt::CBool(rt::CallByName(prefs.Obj(), "setValue", rt::InvokeKind::Method, list)));
    EXPECT_TRUE(app->GetPreferenceSet()->Get("REFRESHEDOPTABLES.WATER").IsArray());
    EXPECT_EQ(ErrorOf([&] { rt::CallByName(prefs.Obj(), "Add", rt::InvokeKind::Method, set); }),
              rt::vberr::KeyAlreadyAssociated);
    EXPECT_EQ(app->GetPreferenceSet()->Calls().size(), 6u);

    app->SetPreferenceSet(nullptr);
    EXPECT_TRUE(rt::CallByName(app, "PreferenceSet", rt::InvokeKind::PropertyGet).IsNothing());

    auto conn = app->AddConnection("QTX.GDatabase", 1, nullptr);
    rt::Variant doc = rt::CallByName(app, "Document", rt::InvokeKind::PropertyGet);
    rt::Variant conns = rt::CallByName(doc.Obj(), "Connections", rt::InvokeKind::PropertyGet);
    EXPECT_EQ(rt::CLng(rt::CallByName(conns.Obj(), "Count", rt::InvokeKind::PropertyGet)), 1);
    rt::Variant item = rt::CallByName(conns.Obj(), "Item", rt::InvokeKind::PropertyGet, {rt::Variant(int16_t{1})});
    EXPECT_EQ(item.Obj(), conn);
    EXPECT_EQ(ErrorOf([&] { rt::CallByName(conns.Obj(), "Item", rt::InvokeKind::PropertyGet, {rt::Variant(2)}); }),
              rt::vberr::SubscriptOutOfRange);
    EXPECT_TRUE(rt::CallByName(conn, "DataContext", rt::InvokeKind::PropertyGet).IsNothing());
}

TEST(DesktopApplication, ConnectionsHandOutTheirDataContextAndDisplayMetadata) {
    auto dc = pelmora_test::SampleEnvironment::Get().OpenDataContext();
    DesktopApplication app;
    auto conn = app.AddConnection("QTX.GDatabase", 1, dc);
    rt::Variant got = rt::CallByName(conn, "DataContext", rt::InvokeKind::PropertyGet);
    ASSERT_TRUE(got.IsObject());
    EXPECT_EQ(rt::QueryInterface<pelmora::IDataContext>(got.Obj()).get(), static_cast<pelmora::IDataContext*>(dc.get()));

    rt::Variant display = rt::CallByName(conn, "DisplayMetadata", rt::InvokeKind::PropertyGet);
    for (int id : {7, 8, 9, 10}) {
        rt::Variant r = rt::CallByDispId(display.Obj(), id, rt::InvokeKind::Method, {rt::Variant(0)});
        EXPECT_EQ(id == 10 ? r.IsString() : r.IsObject(), true) << id;
    }
    const auto& calls = conn->GetDisplayMetadata()->Calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].dispId, 7);
    EXPECT_EQ(calls[3].dispId, 10);
    EXPECT_EQ(rt::CLng(calls[2].args[0]), 0);
}

// ---- FindOpenDatabaseConnection ----

class ExplodingConnection : public rt::Object {
public:
    rt::Variant Invoke(const std::string&, rt::InvokeKind, rt::Args&) override {
        throw rt::ComError(static_cast<int32_t>(0x80004005), "Connection", "connection lost");
    }
};

TEST(FindOpenDatabaseConnection, TakesTheFirstOpenConnectionOfExactlyThatType) {
    DesktopApplication app;
    auto conns = app.Document()->Connections();
    EXPECT_EQ(pelmora::FindOpenDatabaseConnection(conns), nullptr);  // empty

    auto closed = app.AddConnection("QTX.GDatabase", 0, nullptr);
    auto otherCase = app.AddConnection("qtx.gdatabase", 1, nullptr);
    auto otherType = app.AddConnection("QTX.Raster", 1, nullptr);
    EXPECT_EQ(pelmora::FindOpenDatabaseConnection(conns), nullptr);
    auto open = app.AddConnection("QTX.GDatabase", 1, nullptr);
    auto later = app.AddConnection("QTX.GDatabase", 1, nullptr);
    EXPECT_EQ(pelmora::FindOpenDatabaseConnection(conns), open);
    closed->SetStatus(1);
    EXPECT_EQ(pelmora::FindOpenDatabaseConnection(conns), closed);

    // A failing connection before the answer reaches the caller.
    conns->Clear();
    conns->Add(std::make_shared<ExplodingConnection>());
    conns->Add(open);
    EXPECT_EQ(ErrorOf([&] { pelmora::FindOpenDatabaseConnection(conns); }), static_cast<int32_t>(0x80004005));
    EXPECT_EQ(ErrorOf([&] { pelmora::FindOpenDatabaseConnection(nullptr); }), rt::vberr::ObjectVariableNotSet);
}

// ---- notification object ----

TEST(Notification, RecordsWhatItIsToldAndTellsListeners) {
    rt::Apartment::Reset();
    product::RegisterApplicationClasses();
    auto obj = rt::CreateObject(pelmora::kNotificationProgId);
    auto notification = rt::QueryInterface<pelmora::INotification>(obj);
    auto source = std::make_shared<DesktopApplication>();
    std::vector<std::string> heard;
    product::NotificationLog::Current().listeners.push_back(
        [&](const product::NotificationRecord& r) { heard.push_back(r.eventName + ":" + rt::CStr(r.args.at(0))); });

    notification->RaiseNotification(source, rt::Variant("AfterRefresh"),
                                    rt::Variant::ArrayOf({rt::Variant("QTX_LEGENDS_OPTABLE"), rt::Variant("JSMITH")}));
    rt::CallByDispId(obj, 1, rt::InvokeKind::Method,
                     {rt::Variant(source), rt::Variant("AfterRefresh"),
                      rt::Variant::ArrayOf({rt::Variant("QTX_STYLEOBJECTS_OPTABLE"), rt::Variant("")})});

    const auto& log = product::NotificationLog::Current().records;
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].source, source);
    EXPECT_EQ(log[0].eventName, "AfterRefresh");
    ASSERT_EQ(log[0].args.size(), 2u);
    EXPECT_EQ(rt::CStr(log[0].args[1]), "JSMITH");
    EXPECT_EQ(heard, (std::vector<std::string>{"AfterRefresh:QTX_LEGENDS_OPTABLE", "AfterRefresh:QTX_STYLEOBJECTS_OPTABLE"}));

    EXPECT_EQ(ErrorOf([&] { notification->RaiseNotification(source, rt::Variant("AfterRefresh"), rt::Variant("x")); }),
              rt::vberr::TypeMismatch);
    EXPECT_EQ(log.size(), 2u);
    rt::Apartment::Reset();
    EXPECT_TRUE(product::NotificationLog::Current().records.empty());  // per apartment
}

// ---- MetadataServiceHelper ----

class RecordingService : public rt::Object, public pelmora::IMetadataService {
public:
    std::string get_CacheDirectory() override { return ""; }
    std::string get_CacheFormat() override { return "RAW"; }
    std::string get_CacheMode() override { return "LAZY"; }
    void put_Configuration(const std::string&) override {}
    std::string get_Configuration() override { return ""; }
    std::shared_ptr<pelmora::IMetadataRecordsets> get_Recordsets() override { return nullptr; }
    void DeleteRecords(const rt::Variant&) override {}
    void Fetch(const std::string&) override {}
    void SaveConfiguration(const std::string&, const std::string&, const std::string&, bool) override {}
    bool IsRoleGranted(const std::string& role) override {
        return rt::NamesEqual(role, "WATER_EDITOR");
    }
    void Refresh() override {}
    void RefreshDynamicEdits(const std::shared_ptr<pelmora::IDataContext>&, const rt::Variant&) override {}
    void RefreshRecordsDelete() override {}
    void SetActiveUser(const std::shared_ptr<pelmora::IDataContext>&, const std::string&) override {}
};

TEST(MetadataServiceHelper, AsksTheContextsServiceForRoles) {
    pelmora::RegisterMetadataServiceHelper();
    auto helperObj = rt::CreateObject(pelmora::kMetadataServiceHelperProgId);
    auto helper = std::dynamic_pointer_cast<pelmora::MetadataServiceHelper>(helperObj);
    ASSERT_TRUE(helper);
    auto service = std::make_shared<RecordingService>();
    // Only the service itself takes a configuration, not a stand-in for its interface.
    EXPECT_EQ(ErrorOf([&] {
                  rt::CallByName(helperObj, "SetConfiguration", rt::InvokeKind::Method,
                                 {rt::Variant(rt::ObjectPtr(service)), rt::Variant("Sample Water Network")});
              }),
              rt::vberr::TypeMismatch);

    auto dc = pelmora_test::SampleEnvironment::Get().OpenDataContext();
    dc->putref_MetadataService(service);
    EXPECT_TRUE(helper->GetRoles(dc, "water_editor"));
    EXPECT_FALSE(rt::CBool(rt::CallByName(helperObj, "GetRoles", rt::InvokeKind::Method,
                                          {rt::Variant(dc), rt::Variant("WATER_QUALITY")})));
    EXPECT_EQ(ErrorOf([&] { helper->GetRoles(nullptr, "WATER_EDITOR"); }), rt::vberr::ObjectVariableNotSet);
}

// ---- temporary directory ----

TEST(GetTempDirectory, FollowsTmpdirWithoutTrailingSeparator) {
    const char* old = std::getenv("TMPDIR");
    std::string saved = old ? old : "";
    ::setenv("TMPDIR", "/var/tmp/pelmora/", 1);
    EXPECT_EQ(pelmora::GetTempDirectory(), "/var/tmp/pelmora");
    ::setenv("TMPDIR", "", 1);
    EXPECT_EQ(pelmora::GetTempDirectory(), "/tmp");
    ::unsetenv("TMPDIR");
    EXPECT_EQ(pelmora::GetTempDirectory(), "/tmp");
    ::setenv("TMPDIR", "/", 1);
    EXPECT_EQ(pelmora::GetTempDirectory() + "/FunctionalInterfaces.log", "/FunctionalInterfaces.log");
    if (old) ::setenv("TMPDIR", saved.c_str(), 1);
    else ::unsetenv("TMPDIR");
}

}  // namespace
