// Saving features: UpdateFeatures drives component persistence in one batch
// (seen through a recording stand-in, then written to the sample database),
// UpdateFeature writes nothing, and a batch that fails before its end sends
// nothing.
#include "FeatureAssemblyTestSupport.h"

#include "ado/Enums.h"
#include "pelmora/persistence/ComponentDatabaseService.h"
#include "support/Raises.h"

using componenttest::Values;
using featuretest::FeatureAssemblyFixture;
using featuretest::Key;
using featuretest::Keys;
using pelmora::IComponent;
using pelmora::IComponentDatabaseService;

namespace {

using Calls = std::vector<std::string>;
using pelmora_test::ErrorOf;
using pelmora_test::Raised;

// Stands in for component persistence and notes every call in order.
class RecordingPersistence : public rt::Object, public IComponentDatabaseService {
public:
    RecordingPersistence(std::shared_ptr<Calls> calls, std::shared_ptr<pelmora::IDataContext>* context)
        : calls_(std::move(calls)), context_(context) {}
    void putref_DataContext(const std::shared_ptr<pelmora::IDataContext>& DataContext) override {
        *context_ = DataContext;
        calls_->push_back("DataContext");
    }
    void BeginComponentOperations() override { calls_->push_back("Begin"); }
    void UpdateComponent(const std::shared_ptr<IComponent>& c) override {
        // What persistence would queue: the component's pending rows.
        int32_t pending = 0;
        if (c->get_RecordsetLocal()) {
            auto rs = c->get_Recordset();
            rt::Variant keep = rs->get_Filter();
            rs->put_Filter(rt::Variant(int32_t{ado::adFilterPendingRecords}));
            pending = rs->get_RecordCount();
            rs->put_Filter(keep);
        }
        calls_->push_back("Update " + c->get_Name() + (pending ? " (" + std::to_string(pending) + ")" : ""));
    }
    void EndComponentOperations() override { calls_->push_back("End"); }

private:
    std::shared_ptr<Calls> calls_;
    std::shared_ptr<pelmora::IDataContext>* context_;
};

class FeatureAssemblyUpdateFixture : public FeatureAssemblyFixture {
protected:
    void UseRecorder() {
        calls_ = std::make_shared<Calls>();
        rt::RegisterClass(pelmora::kComponentDatabaseServiceProgId, "{7A3E5C90-1D2B-4F6A-8C4E-2B9D0F1A3C51}",
                          [calls = calls_, context = &given_] {
                              return std::make_shared<RecordingPersistence>(calls, context);
                          });
    }
    void TearDown() override {
        pelmora::RegisterComponentDatabaseService();
        FeatureAssemblyFixture::TearDown();
    }

    std::shared_ptr<Calls> calls_;
    std::shared_ptr<pelmora::IDataContext> given_;
};

void Edit(const std::shared_ptr<pelmora::IKeyObject>& feature, const std::string& component, const std::string& field,
          const rt::Variant& value) {
    auto rs = feature->get_Components()->get_Item(rt::Variant(component))->get_Recordset();
    rs->MoveFirst();
    rs->get_Fields()->Item(field)->put_Value(value);
}

}  // namespace

TEST_F(FeatureAssemblyUpdateFixture, UpdateFeaturesDrivesOneBatchInOrder) {
    UseRecorder();
    auto main = service_->OpenFeature(101, 1001);
    auto valve = service_->OpenFeature(102, 2001);
    Edit(main, "WATER_MAIN_LINING", "LINING_TYPE", rt::Variant("POLYMER"));
    Edit(valve, "COMMON_ATTR", "OWNER", rt::Variant("UTILITY"));
    auto features = Keys({});
    features->Add(main);
    features->Add(valve);
    service_->UpdateFeatures(features);
    EXPECT_EQ(*calls_, (Calls{"DataContext", "Begin", "Update COMMON_ATTR", "Update WATER_MAIN_ATTR",
                              "Update WATER_MAIN_LINE", "Update WATER_MAIN_LABEL", "Update WATER_MAIN_LINING (1)",
                              "Update COMMON_ATTR (1)", "Update VALVE_ATTR", "Update VALVE_SYMBOL", "End"}));
    EXPECT_EQ(given_, Context());

    // Nothing to save still begins and ends a batch.
    calls_->clear();
    service_->UpdateFeatures(Keys({}));
    EXPECT_EQ(*calls_, (Calls{"DataContext", "Begin", "End"}));
}

TEST_F(FeatureAssemblyUpdateFixture, OnlyTheSystemsOwnCollectionsCanBeSaved) {
    UseRecorder();
    auto main = service_->OpenFeature(101, 1001);
    auto view = Key(101, 1002);
    service_->OpenFeatures(Keys({view}), false);  // a view over a shared collection

    auto features = Keys({});
    features->Add(main);
    features->Add(view);
    auto e = Raised([&] { service_->UpdateFeatures(features); });
    EXPECT_EQ(e.Number(), rt::vberr::TypeMismatch);
    // The batch never reached its end: nothing was sent.
    ASSERT_FALSE(calls_->empty());
    EXPECT_EQ(calls_->back(), "Update WATER_MAIN_LINING");

    calls_->clear();
    e = Raised([&] { service_->UpdateFeatures(Keys({Key(101, 1001)})); });
    EXPECT_EQ(e.Number(), rt::vberr::ObjectVariableNotSet);
    EXPECT_EQ(calls_->back(), "Begin");

    // UpdateFeature hands nothing to persistence; a key without components fails.
    calls_->clear();
    service_->UpdateFeature(main);
    service_->UpdateFeature(nullptr);
    EXPECT_TRUE(calls_->empty());
    EXPECT_EQ(ErrorOf([&] { service_->UpdateFeature(Key(101, 1001)); }), rt::vberr::ObjectVariableNotSet);
}

TEST_F(FeatureAssemblyUpdateFixture, SavedEditsAreInTheDatabase) {
    auto main = service_->OpenFeature(101, 1002);
    auto hydrant = service_->OpenFeature(103, 3001);
    Edit(main, "COMMON_ATTR", "OWNER", rt::Variant("PORT"));
    Edit(hydrant, "HYDRANT_ATTR", "COLOR_CODE", rt::Variant("BLUE"));
    auto inspections = hydrant->get_Components()->get_Item(rt::Variant("HYDRANT_INSPECTION"))->get_Recordset();
    inspections->MoveFirst();
    inspections->Delete(ado::adAffectCurrent);

    // UpdateFeature writes nothing.
    service_->UpdateFeature(main);
    EXPECT_EQ(Column("SELECT OWNER FROM QTX_COMMON_N WHERE QTX_FID = 1002", "OWNER"),
              (std::vector<std::string>{"CITY"}));

    auto features = Keys({});
    features->Add(main);
    features->Add(hydrant);
    service_->UpdateFeatures(features);
    EXPECT_EQ(Column("SELECT OWNER FROM QTX_COMMON_N WHERE QTX_FID = 1002", "OWNER"),
              (std::vector<std::string>{"PORT"}));
    EXPECT_EQ(Column("SELECT COLOR_CODE FROM HYDRANT_N WHERE QTX_FID = 3001", "COLOR_CODE"),
              (std::vector<std::string>{"BLUE"}));
    EXPECT_EQ(Column("SELECT QTX_CID FROM HYDRANT_INSP_N WHERE QTX_FID = 3001", "QTX_CID"),
              (std::vector<std::string>{"3"}));
    // Rows of other features are untouched.
    EXPECT_EQ(Column("SELECT OWNER FROM QTX_COMMON_N WHERE QTX_FNO = 101 AND QTX_FID < 2000 ORDER BY QTX_FID", "OWNER"),
              (std::vector<std::string>{"CITY", "PORT", "CITY"}));
}

TEST_F(FeatureAssemblyUpdateFixture, AnAssignmentLeftUnfinishedInACloneOfTheRowsIsTheComponentsOnlyOnceUpdated) {
    auto main = service_->OpenFeature(101, 1002);
    auto features = Keys({});
    features->Add(main);
    auto rows = main->get_Components()->get_Item(rt::Variant("COMMON_ATTR"))->get_Recordset();
    auto clone = rows->Clone();
    clone->SetValue("OWNER", rt::Variant("PORT"));
    const std::string query = "SELECT OWNER FROM QTX_COMMON_N WHERE QTX_FID = 1002";

    // Not yet updated: the component shows the stored value, which is what is saved.
    service_->UpdateFeatures(features);
    rows->MoveFirst();
    EXPECT_EQ(rt::CStr(rows->GetValue("OWNER")), "CITY");
    EXPECT_EQ(Column(query, "OWNER"), (std::vector<std::string>{"CITY"}));

    // Its implicit update on a move makes it the component's, saved by the next call.
    clone->MoveNext();
    rows->MoveFirst();
    EXPECT_EQ(rt::CStr(rows->GetValue("OWNER")), "PORT");
    service_->UpdateFeatures(features);
    EXPECT_EQ(Column(query, "OWNER"), (std::vector<std::string>{"PORT"}));
}
