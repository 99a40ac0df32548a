// Saving whole features: rows and geometry of several features edited
// through the feature assembly service, saved by UpdateFeatures and read back
// from the database; the same edits cut into many blocks; a failing block in
// the middle of a batch.
#include "features/FeatureAssemblyTestSupport.h"

#include <algorithm>

#include "ado/Command.h"
#include "ado/Enums.h"
#include "pelmora/common/modADOUtils.h"
#include "pelmora/persistence/ComponentDatabaseService.h"
#include "support/Raises.h"
#include "support/RecordingContext.h"

using rt::Variant;
using pelmora_test::Raised;
using pelmora_test::RecordingContext;

namespace {

Variant DateOf(int y, int m, int d, int h = 0, int n = 0, int s = 0) {
    return Variant::Date(rt::DateSerial(y, m, d) + rt::TimeSerial(h, n, s));
}

void Set(const std::shared_ptr<ado::Recordset>& rs, std::initializer_list<std::pair<const char*, Variant>> values) {
    for (const auto& [name, value] : values) rs->SetValue(Variant(name), value);
    rs->Update();
}

void MoveTo(const std::shared_ptr<ado::Recordset>& rs, const char* field, int32_t value) {
    for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext())
        if (rt::CLng(rs->GetValue(Variant(field))) == value) return;
    FAIL() << "no row with " << field << " = " << value;
}

// Every row of a table, fields joined by "|".
std::vector<std::string> RowsOf(product::SqliteDataContext& db, const std::string& sql) {
    std::vector<std::string> out;
    auto rs = db.OpenRecordset(sql);
    for (; !rs->get_EOF(); rs->MoveNext()) {
        std::string line;
        for (int32_t k = 0; k < rs->FieldCount(); ++k) {
            Variant v = rs->FieldValue(k);
            line += (k ? "|" : "") + (v.IsNull() ? std::string("Null") : rt::CStr(v));
        }
        out.push_back(line);
    }
    return out;
}

// Every component and geometry table of the sample.
std::vector<std::string> Everything(product::SqliteDataContext& db) {
    std::vector<std::string> all;
    for (const char* t : {"QTX_COMMON_N", "WATER_MAIN_N", "WATER_MAIN_LN", "WATER_MAIN_LBL", "WATER_LINING_N",
                          "VALVE_N", "VALVE_PT", "HYDRANT_N", "HYDRANT_PT", "HYDRANT_INSP_N", "SERVICE_N",
                          "SERVICE_LN", "WATER_MAIN_LN_SDOGEOM", "WATER_MAIN_LBL_SDOGEOM", "VALVE_PT_SDOGEOM",
                          "HYDRANT_PT_SDOGEOM", "SERVICE_LN_SDOGEOM"})
        for (auto& r : RowsOf(db, std::string("SELECT * FROM ") + t + " ORDER BY 1, 2, 3, 4, 5, 6, 7, 8, 9"))
            all.push_back(std::string(t) + ":" + r);
    return all;
}

class UpdateFeaturesEndToEnd : public featuretest::FeatureAssemblyFixture {
protected:
    void SetUp() override {
        FeatureAssemblyFixture::SetUp();
        context_ = Use(sqlite_);
        service_->putref_DataContext(context_);
    }

    void TearDown() override {
        others_.clear();
        context_.reset();
        FeatureAssemblyFixture::TearDown();
    }

    std::shared_ptr<RecordingContext> Use(const std::shared_ptr<product::SqliteDataContext>& db) {
        auto ctx = std::make_shared<RecordingContext>(db);
        dc_ = ctx;
        return ctx;
    }

    // A second copy of the sample and a service on it.
    std::shared_ptr<pelmora::FeatureAssemblyService> OtherService(std::shared_ptr<product::SqliteDataContext>& db,
                                                                  std::shared_ptr<RecordingContext>& ctx) {
        db = pelmora_test::OpenSampleContext(metadata_);
        ctx = std::make_shared<RecordingContext>(db);
        others_.push_back(ctx);
        auto s = std::make_shared<pelmora::FeatureAssemblyService>();
        s->putref_DataContext(ctx);
        return s;
    }

    static std::shared_ptr<pelmora::IComponent> Part(const std::shared_ptr<pelmora::IKeyObject>& feature,
                                                    const char* name) {
        auto c = feature->get_Components()->get_Item(Variant(name));
        // These edits show the batch alone: no functional interface acts.
        c->put_FunctionalInterfacesEnabled(false);
        return c;
    }

    static std::shared_ptr<ado::Recordset> GeometryOf(const std::shared_ptr<pelmora::IComponent>& c) {
        auto component = rt::QueryInterface<pelmora::Component>(c);
        component->get_Recordset();
        auto g = component->OpenGeometryRecordset(1);
        g->put_Filter(Variant(int32_t{ado::adFilterNone}));
        return g;
    }

    // New, changed and deleted rows and geometry of a main, a valve and a
    // hydrant; returns the features to save.
    std::shared_ptr<pelmora::KeyObjects> Edit(pelmora::FeatureAssemblyService& service) {
        auto main = service.OpenFeature(101, 1001);
        auto valve = service.OpenFeature(102, 2001);
        auto hydrant = service.OpenFeature(103, 3001);

        Set(Part(main, "COMMON_ATTR")->get_Recordset(),
            {{"LOCATION", Variant("Straße am Wald; Ecke: \"Nord\" 'Süd'")},
             {"WORK_ORDER", Variant::Null()},
             {"INSTALL_DATE", DateOf(2024, 2, 29, 23, 59, 58)}});
        Set(Part(main, "WATER_MAIN_ATTR")->get_Recordset(),
            {{"MATERIAL", Variant("")}, {"DIAMETER", Variant(250.5)}, {"ZONE_ID", Variant::Null()}});
        auto lining = Part(main, "WATER_MAIN_LINING")->get_Recordset();
        MoveTo(lining, "QTX_CID", 3);
        lining->Delete();
        lining->AddNew();
        // The caller names the feature of a new row; the component fills the rest.
        Set(lining, {{"QTX_FNO", Variant(int16_t{101})}, {"QTX_FID", Variant(int32_t{1001})},
                     {"LINING_TYPE", Variant("ÉPOXY ü;:")}, {"LINING_YEAR", Variant(int32_t{2024})},
                     {"THICKNESS_MM", Variant::Null()}});
        auto line = GeometryOf(Part(main, "WATER_MAIN_LINE"));
        for (line->MoveFirst(); !line->get_EOF(); line->MoveNext()) {
            if (rt::CLng(line->GetValue(Variant("SDO_SEQ"))) == 1) line->Delete();
        }
        MoveTo(line, "SDO_SEQ", 0);
        Set(line, {{"SDO_X4", Variant(1333.25)}});

        Set(Part(valve, "VALVE_ATTR")->get_Recordset(),
            {{"VALVE_TYPE", Variant("BALL \"3:1\"; É")}, {"TURNS_TO_CLOSE", Variant::Null()}});
        auto symbol = GeometryOf(Part(valve, "VALVE_SYMBOL"));
        for (symbol->MoveFirst(); !symbol->get_EOF(); symbol->MoveNext()) symbol->Delete();
        symbol->AddNew();
        Set(symbol, {{"QTX_FNO", Variant(int32_t{102})}, {"QTX_FID", Variant(int32_t{2001})},
                     {"QTX_CNO", Variant(int32_t{22})}, {"QTX_CID", Variant(int32_t{1})},
                     {"SDO_GID", Variant(int32_t{1})}, {"SDO_ESEQ", Variant(int32_t{0})},
                     {"SDO_ETYPE", Variant(int32_t{1})}, {"SDO_SEQ", Variant(int32_t{0})},
                     {"SDO_X1", Variant(1111.125)}, {"SDO_Y1", Variant(5005.5)}, {"SDO_X2", Variant::Null()}});

        auto inspections = Part(hydrant, "HYDRANT_INSPECTION")->get_Recordset();
        MoveTo(inspections, "QTX_CID", 1);
        inspections->Delete();
        inspections->AddNew();
        Set(inspections, {{"QTX_FNO", Variant(int16_t{103})}, {"QTX_FID", Variant(int32_t{3001})},
                          {"INSPECTION_DATE", DateOf(2025, 1, 2, 3, 4, 5)},
                          {"INSPECTOR", Variant("Zoë Brandt: \"senior\"; 'night'")},
                          {"RESULT", Variant("")}, {"STATIC_PRESSURE", Variant(4.75)}});
        Set(Part(hydrant, "HYDRANT_ATTR")->get_Recordset(), {{"FLOW_RATE", Variant::Null()}, {"COLOR_CODE", Variant("")}});
        Set(GeometryOf(Part(hydrant, "HYDRANT_SYMBOL")), {{"SDO_X1", Variant(1305.875)}});

        auto features = featuretest::Keys({});
        features->Add(main);
        features->Add(valve);
        features->Add(hydrant);
        return features;
    }

    std::shared_ptr<RecordingContext> context_;
    std::vector<std::shared_ptr<RecordingContext>> others_;
};

}  // namespace

// The rows of the three edited features, as a query shows them.
std::vector<std::string> Edited(product::SqliteDataContext& db) {
    std::vector<std::string> all;
    for (const char* t : {"QTX_COMMON_N", "WATER_MAIN_N", "WATER_LINING_N", "VALVE_N", "HYDRANT_N", "HYDRANT_INSP_N",
                          "WATER_MAIN_LN_SDOGEOM", "VALVE_PT_SDOGEOM", "HYDRANT_PT_SDOGEOM"})
        for (auto& r : RowsOf(db, std::string("SELECT * FROM ") + t +
                                      " WHERE QTX_FID IN (1001, 2001, 3001) ORDER BY 1, 2, 3, 4, 5, 6, 7, 8, 9"))
            all.push_back(std::string(t) + ":" + r);
    return all;
}

std::vector<std::string> Without(std::vector<std::string> rows, const std::vector<std::string>& gone) {
    std::erase_if(rows, [&](const std::string& r) { return std::find(gone.begin(), gone.end(), r) != gone.end(); });
    return rows;
}

int32_t Err(int32_t n) { return pelmora::kErrorBase + n; }

TEST_F(UpdateFeaturesEndToEnd, NewChangedAndDeletedRowsAndGeometryOfSeveralFeaturesAreInTheDatabase) {
    const auto before = Everything(*sqlite_);
    const auto editedBefore = Edited(*sqlite_);
    service_->UpdateFeatures(Edit(*service_));
    EXPECT_EQ(context_->commands.size(), 1u);
    auto& db = *sqlite_;

    EXPECT_EQ(RowsOf(db, "SELECT LOCATION, WORK_ORDER, INSTALL_DATE, OWNER FROM QTX_COMMON_N WHERE QTX_FID = 1001"),
              std::vector<std::string>{"Straße am Wald; Ecke: \"Nord\" 'Süd'|Null|2/29/2024 11:59:58 PM|CITY"});
    // An empty text is no value, as in Oracle; the unchanged length stays.
    EXPECT_EQ(RowsOf(db, "SELECT MATERIAL, DIAMETER, PRESSURE_CLASS, LENGTH_M, ZONE_ID FROM WATER_MAIN_N "
                         "WHERE QTX_FID = 1001"),
              std::vector<std::string>{"Null|250.5|16|412.35|Null"});
    // The deleted lining is gone; the new one has the keys the caller and the
    // component gave it and the table's default where nothing was sent.
    EXPECT_EQ(RowsOf(db, "SELECT QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, LINING_TYPE, LINING_YEAR, THICKNESS_MM, "
                         "LTT_ID FROM WATER_LINING_N ORDER BY QTX_CID"),
              (std::vector<std::string>{"1|101|1001|14|1|CEMENT|1998|4.5|0", "Null|101|1001|14|2|ÉPOXY ü;:|2024|Null|0"}));
    EXPECT_EQ(RowsOf(db, "SELECT VALVE_TYPE, NORMAL_POSITION, TURNS_TO_CLOSE FROM VALVE_N WHERE QTX_FID = 2001"),
              std::vector<std::string>{"BALL \"3:1\"; É|OPEN|Null"});
    EXPECT_EQ(RowsOf(db, "SELECT HYDRANT_TYPE, FLOW_RATE, COLOR_CODE FROM HYDRANT_N WHERE QTX_FID = 3001"),
              std::vector<std::string>{"PILLAR|Null|Null"});
    EXPECT_EQ(RowsOf(db, "SELECT QTX_FNO, QTX_CID, INSPECTION_DATE, INSPECTOR, RESULT, STATIC_PRESSURE FROM "
                         "HYDRANT_INSP_N WHERE QTX_FID = 3001 ORDER BY QTX_CID"),
              (std::vector<std::string>{"103|3|5/9/2023 2:05:00 PM|Zoë Brandt|FAIL|2.15",
                                        "103|4|1/2/2025 3:04:05 AM|Zoë Brandt: \"senior\"; 'night'|Null|4.75"}));

    // Geometry: the main's group lost a row and the changed one came back;
    // the valve's rows were replaced; the hydrant's row was changed in place.
    EXPECT_EQ(RowsOf(db, "SELECT SDO_SEQ, SDO_X1, SDO_Y1, SDO_X4, SDO_Y4 FROM WATER_MAIN_LN_SDOGEOM "
                         "WHERE QTX_FID = 1001 ORDER BY SDO_SEQ"),
              std::vector<std::string>{"0|1000|5000|1333.25|5010"});
    EXPECT_EQ(RowsOf(db, "SELECT QTX_ID, SDO_GID, SDO_ETYPE, SDO_X1, SDO_Y1, SDO_X2, SDO_Y2 FROM VALVE_PT_SDOGEOM "
                         "WHERE QTX_FID = 2001"),
              std::vector<std::string>{"1|1|1|1111.125|5005.5|Null|Null"});
    EXPECT_EQ(RowsOf(db, "SELECT SDO_X1, SDO_Y1 FROM HYDRANT_PT_SDOGEOM WHERE QTX_FID = 3001"),
              std::vector<std::string>{"1305.875|5015"});

    // Rows of every other feature are as they were.
    EXPECT_EQ(Without(Everything(db), Edited(db)), Without(before, editedBefore));
}

TEST_F(UpdateFeaturesEndToEnd, ShortListsCutTheSameEditsIntoManyBlocksWithTheSameResult) {
    service_->UpdateFeatures(Edit(*service_));
    ASSERT_EQ(context_->commands.size(), 1u);

    pelmora::SetMaxListLength(45);
    std::shared_ptr<product::SqliteDataContext> db;
    std::shared_ptr<RecordingContext> ctx;
    auto other = OtherService(db, ctx);
    auto edits = Edit(*other);
    ctx->executes.clear();
    other->UpdateFeatures(edits);
    EXPECT_GT(ctx->commands.size(), 5u);
    for (const auto& block : ctx->commands) {
        ASSERT_EQ(block.values.size(), 60u);
        for (const auto& v : block.values) EXPECT_LE(rt::Len(v), 45) << v;
    }
    EXPECT_EQ(Everything(*db), Everything(*sqlite_));
    EXPECT_TRUE(ctx->executes.empty());  // no recovery block
}

TEST_F(UpdateFeaturesEndToEnd, AFailureInTheSecondOfThreeBlocksLeavesTheDatabaseAsItWasAndReports23288) {
    pelmora::SetMaxListLength(120);
    // The same edits on another copy take three blocks.
    std::shared_ptr<product::SqliteDataContext> db;
    std::shared_ptr<RecordingContext> ctx;
    auto other = OtherService(db, ctx);
    other->UpdateFeatures(Edit(*other));
    ASSERT_EQ(ctx->commands.size(), 3u);

    const auto before = Everything(*sqlite_);
    auto features = Edit(*service_);
    context_->executes.clear();
    context_->spoilCommand = 2;
    rt::ComError e = Raised([&] { service_->UpdateFeatures(features); });
    EXPECT_EQ(e.Number(), Err(23288));
    EXPECT_EQ(e.Source(), componenttest::Message(23283));
    EXPECT_EQ(e.Description().rfind(componenttest::Message(23288), 0), 0u) << e.Description();
    EXPECT_NE(e.Description().find("ORA-06502"), std::string::npos) << e.Description();
    EXPECT_EQ(context_->commands.size(), 2u);  // the third was never sent
    ASSERT_EQ(context_->executes.size(), 1u);
    EXPECT_EQ(context_->executes[0].sql, pelmora::ComponentDatabaseService::GetRecoveryBlockText());
    EXPECT_EQ(Everything(*sqlite_), before);

    // The features keep their edits: saved again, they give what the other
    // copy got.
    context_->spoilCommand = 0;
    service_->UpdateFeatures(features);
    EXPECT_EQ(Everything(*sqlite_), Everything(*db));
}

TEST_F(UpdateFeaturesEndToEnd, ARowDeletedBehindTheFeaturesBackFailsTheWholeBatch) {
    pelmora::SetMaxListLength(120);
    auto features = Edit(*service_);
    // Someone else removed the valve's attributes in the meantime.
    Variant affected;
    sqlite_->ExecuteSQL("DELETE FROM VALVE_N WHERE QTX_FID = 2001", affected, 1);
    const auto before = Everything(*sqlite_);

    rt::ComError e = Raised([&] { service_->UpdateFeatures(features); });
    EXPECT_EQ(e.Number(), Err(23288));
    EXPECT_NE(e.Description().find("ORA-01403"), std::string::npos) << e.Description();
    EXPECT_NE(e.Description().find("VALVE_N"), std::string::npos) << e.Description();
    EXPECT_GE(context_->commands.size(), 2u);
    EXPECT_EQ(Everything(*sqlite_), before);
}

TEST_F(UpdateFeaturesEndToEnd, ARefusedSaveOfManyBlocksKeepsTheGoodSaveBeforeIt) {
    pelmora::SetMaxListLength(120);
    for (int failing : {1, 2}) {
        SCOPED_TRACE("failing block " + std::to_string(failing));
        std::shared_ptr<product::SqliteDataContext> db;
        std::shared_ptr<RecordingContext> ctx;
        auto other = OtherService(db, ctx);
        // A good save first, in the same transaction: its savepoint has the
        // name the refused save's has.
        auto good = other->OpenFeature(101, 1002);
        Set(Part(good, "WATER_MAIN_ATTR")->get_Recordset(), {{"ZONE_ID", Variant(int32_t{9})}});
        auto keys = pelmora::KeyObjects::New();
        keys->Add(good);
        other->UpdateFeatures(keys);
        const auto saved = Everything(*db);

        auto features = Edit(*other);
        ctx->commands.clear();
        ctx->spoilCommand = failing;
        EXPECT_EQ(Raised([&] { other->UpdateFeatures(features); }).Number(), Err(23288));
        EXPECT_EQ(ctx->commands.size(), static_cast<size_t>(failing));
        db->Commit();
        EXPECT_EQ(Everything(*db), saved);
    }
}
