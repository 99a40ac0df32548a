// Bulk editing on the sample network: blank components common to the
// selected features' numbers, and the values filled into them copied into
// every row of every selected feature (keys, Empty and Null never), then
// saved as the features' own edits.
#include "FeatureAssemblyTestSupport.h"

#include "ado/Enums.h"
#include "pelmora/features/BulkEditService.h"
#include "pelmora/persistence/ComponentDatabaseService.h"
#include "support/Raises.h"

using componenttest::Values;
using featuretest::CNOsOf;
using featuretest::FeatureAssemblyFixture;
using featuretest::Key;
using featuretest::Keys;
using featuretest::NamesOf;
using pelmora::BulkEditService;
using pelmora::IComponents;
using pelmora::IKeyObject;
using pelmora_test::ErrorOf;
using pelmora_test::Raised;

namespace {

class BulkEditFixture : public FeatureAssemblyFixture {
protected:
    void SetUp() override {
        FeatureAssemblyFixture::SetUp();
        pelmora::RegisterBulkEditService();
        pelmora::RegisterComponentDatabaseService();
        bulk_ = std::make_shared<BulkEditService>();
        bulk_->putref_DataContext(Context());
    }
    void TearDown() override {
        bulk_.reset();
        FeatureAssemblyFixture::TearDown();
    }

    // The features opened, each with its own components.
    std::shared_ptr<pelmora::KeyObjects> Open(std::initializer_list<std::pair<int16_t, int32_t>> keys) {
        auto features = pelmora::KeyObjects::New();
        for (auto [fno, fid] : keys) features->Add(service_->OpenFeature(fno, fid));
        return features;
    }
    // A new row of the merged component with the values.
    static void Fill(const std::shared_ptr<IComponents>& merged, const std::string& name,
                     std::vector<std::pair<std::string, rt::Variant>> values) {
        auto rs = merged->get_Item(rt::Variant(name))->get_Recordset();
        rs->AddNew();
        for (const auto& [field, value] : values) rs->SetValue(rt::Variant(field), value);
        rs->Update();
    }
    static std::vector<std::string> FieldOf(const std::shared_ptr<IKeyObject>& feature, const std::string& component,
                                            const std::string& field) {
        return Values(feature->get_Components()->get_Item(rt::Variant(component))->get_Recordset(), field);
    }

    std::shared_ptr<BulkEditService> bulk_;
};

}  // namespace

TEST_F(BulkEditFixture, MergedComponentsAreThoseEveryFeatureNumberHas) {
    auto mainAndValve = bulk_->ConstructMergedComponents(Keys({Key(101, 1001), Key(102, 2001)}));
    EXPECT_EQ(CNOsOf(mainAndValve), (std::vector<int16_t>{1}));

    // One feature number: all its components, in its order.
    auto mains = bulk_->ConstructMergedComponents(Keys({Key(101, 1001), Key(101, 1002)}));
    EXPECT_EQ(CNOsOf(mains), (std::vector<int16_t>{1, 11, 12, 13, 14}));

    // A number without components takes nothing away.
    auto valves = bulk_->ConstructMergedComponents(Keys({Key(100, 1), Key(102, 2001), Key(102, 2002)}));
    EXPECT_EQ(NamesOf(valves), (std::vector<std::string>{"COMMON_ATTR", "VALVE_ATTR", "VALVE_SYMBOL"}));

    // Blank components that neither fill defaults nor run interfaces.
    for (const auto& component : valves->get_NewEnum()) {
        SCOPED_TRACE(component->get_Name());
        auto part = rt::QueryInterface<pelmora::Component>(component);
        EXPECT_EQ(component->get_Recordset()->get_RecordCount(), 0);
        EXPECT_FALSE(part->get_SetDefaultValuesEnabled());
        EXPECT_TRUE(part->get_AutoAssignKeys());
        EXPECT_FALSE(component->get_FunctionalInterfacesEnabled());
        EXPECT_FALSE(component->get_AttributeEditControlEnabled());
        EXPECT_EQ(component->get_DataContext(), Context());
    }

    // Nothing in common to build on: an empty collection.
    EXPECT_EQ(bulk_->ConstructMergedComponents(pelmora::KeyObjects::New())->get_Count(), 0);
    EXPECT_EQ(bulk_->ConstructMergedComponents(Keys({Key(100, 1)}))->get_Count(), 0);

    auto bare = std::make_shared<BulkEditService>();
    EXPECT_EQ(ErrorOf([&] { bare->ConstructMergedComponents(Keys({Key(102, 2001)})); }),
              rt::vberr::ObjectVariableNotSet);
}

TEST_F(BulkEditFixture, FilledValuesReachEveryFeatureButKeysEmptyAndNullDoNot) {
    auto valves = Open({{102, 2001}, {102, 2002}});
    auto merged = bulk_->ConstructMergedComponents(valves);
    Fill(merged, "VALVE_ATTR",
         {{"VALVE_TYPE", rt::Variant("BALL")}, {"QTX_FID", rt::Variant(int32_t{9999})},
          {"QTX_CID", rt::Variant(int16_t{7})}, {"TURNS_TO_CLOSE", rt::Variant::Null()}});
    Fill(merged, "COMMON_ATTR", {{"LOCATION", rt::Variant("Straße am Wald 14")}});

    bulk_->SaveCommonEdits(merged, valves);
    auto first = valves->get_Item(rt::Variant(1)), second = valves->get_Item(rt::Variant(2));
    EXPECT_EQ(FieldOf(first, "VALVE_ATTR", "VALVE_TYPE"), (std::vector<std::string>{"BALL"}));
    EXPECT_EQ(FieldOf(second, "VALVE_ATTR", "VALVE_TYPE"), (std::vector<std::string>{"BALL"}));
    EXPECT_EQ(FieldOf(first, "VALVE_ATTR", "QTX_FID"), (std::vector<std::string>{"2001"}));
    EXPECT_EQ(FieldOf(first, "VALVE_ATTR", "QTX_CID"), (std::vector<std::string>{"1"}));
    EXPECT_EQ(FieldOf(first, "VALVE_ATTR", "TURNS_TO_CLOSE"), (std::vector<std::string>{"42"}));
    EXPECT_EQ(FieldOf(second, "COMMON_ATTR", "LOCATION"), (std::vector<std::string>{"Straße am Wald 14"}));
    // The symbols were given nothing: not even read.
    EXPECT_FALSE(first->get_Components()->get_Item(rt::Variant("VALVE_SYMBOL"))->get_RecordsetLocal());
    // The merged components stay as the caller filled them.
    EXPECT_EQ(Values(merged->get_Item(rt::Variant("VALVE_ATTR"))->get_Recordset(), "QTX_FID"),
              (std::vector<std::string>{"9999"}));

    // Saved like any edit of the features.
    service_->UpdateFeatures(valves);
    EXPECT_EQ(Column("SELECT VALVE_TYPE FROM VALVE_N WHERE QTX_FID IN (2001, 2002) ORDER BY QTX_FID", "VALVE_TYPE"),
              (std::vector<std::string>{"BALL", "BALL"}));
    EXPECT_EQ(Column("SELECT TURNS_TO_CLOSE FROM VALVE_N WHERE QTX_FID IN (2001, 2002) ORDER BY QTX_FID", "TURNS_TO_CLOSE"),
              (std::vector<std::string>{"42", "Null"}));
    EXPECT_EQ(Column("SELECT LOCATION FROM QTX_COMMON_N WHERE QTX_FID IN (2001, 2002)", "LOCATION"),
              (std::vector<std::string>{"Straße am Wald 14", "Straße am Wald 14"}));
}

TEST_F(BulkEditFixture, RowsAreAddedOnlyWhereTheComponentIsNotRepeating) {
    // A new valve without rows and an existing one.
    auto bare = service_->NewFeature(102, pelmora::qzfasIgnoreRequiredRecords);
    auto valves = pelmora::KeyObjects::New();
    valves->Add(bare);
    valves->Add(service_->OpenFeature(102, 2001));
    auto merged = bulk_->ConstructMergedComponents(valves);
    Fill(merged, "VALVE_ATTR", {{"NORMAL_POSITION", rt::Variant("CLOSED")}});
    bulk_->SaveCommonEdits(merged, valves);
    auto rows = bare->get_Components()->get_Item(rt::Variant("VALVE_ATTR"))->get_Recordset();
    ASSERT_EQ(rows->get_RecordCount(), 1);
    rows->MoveFirst();
    EXPECT_EQ(rows->get_Status(), ado::adRecNew);
    EXPECT_EQ(rt::CLng(rows->GetValue(rt::Variant("QTX_FNO"))), 102);
    EXPECT_EQ(rt::CLng(rows->GetValue(rt::Variant("QTX_FID"))), bare->get_FID());
    EXPECT_EQ(rt::CStr(rows->GetValue(rt::Variant("NORMAL_POSITION"))), "CLOSED");

    // Inspections repeat: a hydrant without any gets none, one with two
    // gets the value in both.
    auto hydrants = Open({{103, 3001}, {103, 3002}});
    auto common = bulk_->ConstructMergedComponents(hydrants);
    Fill(common, "HYDRANT_INSPECTION", {{"INSPECTOR", rt::Variant("Zoë Brandt")}, {"RESULT", rt::Variant::Null()}});
    bulk_->SaveCommonEdits(common, hydrants);
    EXPECT_EQ(FieldOf(hydrants->get_Item(rt::Variant(1)), "HYDRANT_INSPECTION", "INSPECTOR"),
              (std::vector<std::string>{"Zoë Brandt", "Zoë Brandt"}));
    EXPECT_EQ(FieldOf(hydrants->get_Item(rt::Variant(1)), "HYDRANT_INSPECTION", "RESULT"),
              (std::vector<std::string>{"PASS", "FAIL"}));
    EXPECT_TRUE(FieldOf(hydrants->get_Item(rt::Variant(2)), "HYDRANT_INSPECTION", "INSPECTOR").empty());
}

TEST_F(BulkEditFixture, NothingFilledOrNoFeatureWritesNothing) {
    auto valves = Open({{102, 2001}, {102, 2002}});
    auto merged = bulk_->ConstructMergedComponents(valves);
    // Keys only: nothing to copy.
    Fill(merged, "VALVE_ATTR", {{"QTX_FNO", rt::Variant(int16_t{102})}});
    bulk_->SaveCommonEdits(merged, valves);
    bulk_->SaveCommonEdits(merged, pelmora::KeyObjects::New());
    for (const auto& valve : valves->get_NewEnum()) {
        auto rs = valve->get_Components()->get_Item(rt::Variant("VALVE_ATTR"))->get_Recordset();
        rs->put_Filter(rt::Variant(int32_t{ado::adFilterPendingRecords}));
        EXPECT_EQ(rs->get_RecordCount(), 0);
    }

    // A feature whose components lack the common one: the call fails.
    auto filled = bulk_->ConstructMergedComponents(valves);
    Fill(filled, "VALVE_ATTR", {{"SIZE_MM", rt::Variant(int32_t{400})}});
    auto mixed = pelmora::KeyObjects::New();
    mixed->Add(service_->OpenFeature(101, 1001));
    auto e = Raised([&] { bulk_->SaveCommonEdits(filled, mixed); });
    EXPECT_EQ(e.Number(), rt::vberr::InvalidProcedureCall);
}

TEST_F(BulkEditFixture, CreatableAndLateBound) {
    auto late = rt::CreateObject(pelmora::kBulkEditServiceProgId);
    rt::CallByName(late, "DataContext", rt::InvokeKind::PropertySet,
                   {rt::Variant(std::static_pointer_cast<rt::Object>(dc_))});
    auto valves = Open({{102, 2001}, {102, 2002}});
    auto merged = rt::QueryInterface<IComponents>(
        rt::CallByName(late, "ConstructMergedComponents", rt::InvokeKind::Method, {rt::Variant(valves)}).Obj());
    EXPECT_EQ(merged->get_Count(), 3);
    Fill(merged, "VALVE_ATTR", {{"SIZE_MM", rt::Variant(int32_t{400})}});
    rt::CallByName(late, "SaveCommonEdits", rt::InvokeKind::Method,
                   {rt::Variant(rt::ObjectPtrOf(merged)), rt::Variant(valves)});
    EXPECT_EQ(FieldOf(valves->get_Item(rt::Variant(2)), "VALVE_ATTR", "SIZE_MM"), (std::vector<std::string>{"400"}));
    EXPECT_EQ(rt::CallByName(late, "DataContext", rt::InvokeKind::PropertyGet).Obj(),
              std::static_pointer_cast<rt::Object>(dc_));
}

// The metadata service's tables name themselves when a column they lack is
// asked for; rows built from a row template for a caller do not.
TEST_F(BulkEditFixture, OnlyMetadataTablesNameThemselvesForAColumnTheyLack) {
    auto table = Context()->GetMetadataService()->get_Recordsets()->get_Item(rt::Variant("QTX_FEATURES_OPTABLE"))
                     ->get_Recordset("", "");
    auto main = service_->NewFeature(101, pelmora::qzfasIgnoreNone);
    auto merged = bulk_->ConstructMergedComponents(Keys({Key(102, 2001), Key(102, 2002)}));
    auto rowsOf = [](const std::shared_ptr<IComponents>& components, const char* name) {
        return components->get_Item(rt::Variant(name))->get_Recordset();
    };
    const struct Case {
        const char* what;
        std::shared_ptr<ado::Recordset> rows;
        const char* hint;  // "" when the rows are no metadata table
    } cases[] = {
        {"metadata table", table, "The metadata table QTX_FEATURES_OPTABLE has no column NO_SUCH."},
        {"its clone", table->Clone(ado::adLockUnspecified),
         "The metadata table QTX_FEATURES_OPTABLE has no column NO_SUCH."},
        {"new feature's attributes", rowsOf(main->get_Components(), "WATER_MAIN_ATTR"), ""},
        {"new feature's geometry", rt::QueryInterface<pelmora::Component>(
                                       main->get_Components()->get_Item(rt::Variant("WATER_MAIN_LINE")))
                                       ->get_GeometryRecordset(),
         ""},
        {"merged component", rowsOf(merged, "VALVE_ATTR"), ""},
    };
    const struct Read {
        const char* how;
        std::function<void(const std::shared_ptr<ado::Recordset>&)> read;
        const char* plainText;  // what rows that are no metadata table say
    } reads[] = {
        {"field", [](auto& rs) { rs->get_Fields()->Item("NO_SUCH"); }, "Item cannot be found"},
        {"filter", [](auto& rs) { rs->put_Filter(rt::Variant("NO_SUCH = 1")); }, "Filter field: 'NO_SUCH'."},
        {"sort", [](auto& rs) { rs->put_Sort("NO_SUCH"); }, "Item cannot be found"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(c.rows) << c.what;
        for (const Read& r : reads) {
            SCOPED_TRACE(std::string(c.what) + ", " + r.how);
            auto e = Raised([&] { r.read(c.rows); });
            EXPECT_EQ(e.Number(), ado::err::ItemNotFound);
            if (*c.hint) {
                EXPECT_NE(e.Description().find(c.hint), std::string::npos) << e.Description();
            } else {
                EXPECT_EQ(e.Description().find("metadata table"), std::string::npos) << e.Description();
                EXPECT_NE(e.Description().find(r.plainText), std::string::npos) << e.Description();
            }
        }
    }
}
