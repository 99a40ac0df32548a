// Components of the sample network edited and saved through the component
// database service, then read back from the database: added, changed and
// deleted rows and geometry of several features, in one block or in many.
#include "PersistenceFixture.h"

#include "pelmora/features/FieldInfo.h"
#include "pelmora/persistence/WorkOperationsStrings.h"
#include "runtime/Collection.h"
#include "support/Raises.h"

using pelmora::ComponentDatabaseService;
using persistencetest::DateOf;
using persistencetest::PersistenceFixture;
using persistencetest::RecordingContext;
using rt::Variant;
using pelmora_test::Raised;

namespace {

void Set(const std::shared_ptr<ado::Recordset>& rs, std::initializer_list<std::pair<const char*, Variant>> values) {
    for (const auto& [name, value] : values) rs->SetValue(Variant(name), value);
    rs->Update();
}

// Moves to the row whose field has the value.
void MoveTo(const std::shared_ptr<ado::Recordset>& rs, const char* field, int32_t value) {
    for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext())
        if (rt::CLng(rs->GetValue(Variant(field))) == value) return;
    FAIL() << "no row with " << field << " = " << value;
}

void AddRow(const std::shared_ptr<ado::Recordset>& rs, int32_t fno, int32_t fid, int32_t cno, int32_t cid,
            std::initializer_list<std::pair<const char*, Variant>> values) {
    rs->AddNew();
    rs->SetValue(Variant("QTX_FNO"), Variant(fno));
    rs->SetValue(Variant("QTX_FID"), Variant(fid));
    rs->SetValue(Variant("QTX_CNO"), Variant(cno));
    rs->SetValue(Variant("QTX_CID"), Variant(cid));
    Set(rs, values);
}

class SampleSave : public PersistenceFixture {
protected:
    // A second, independent copy of the sample with its own context.
    std::shared_ptr<RecordingContext> OtherContext() {
        auto sqlite = pelmora_test::OpenSampleContext(metadata_);
        others_.push_back(sqlite);
        return std::make_shared<RecordingContext>(sqlite);
    }
    std::shared_ptr<pelmora::Component> On(const std::shared_ptr<RecordingContext>& ctx, int16_t cno,
                                           std::vector<int32_t> fids) {
        auto c = std::make_shared<pelmora::Component>();
        c->putref_DataContext(ctx);
        c->put_CNO(cno);
        for (int32_t f : fids) c->AddFID(Variant(f));
        return c;
    }

    // Edits of several features and components, attributes only.
    std::vector<std::shared_ptr<pelmora::Component>> EditAttributes(const std::shared_ptr<RecordingContext>& ctx) {
        auto common = On(ctx, 1, {1001, 2001, 3002});
        auto rs = common->get_Recordset();
        MoveTo(rs, "QTX_FID", 1001);
        Set(rs, {{"LOCATION", Variant("Straße am Wald; Ecke: \"Nord\" 'Süd'")},
                 {"WORK_ORDER", Variant::Null()},
                 {"INSTALL_DATE", DateOf(2024, 2, 29, 23, 59, 58)}});
        MoveTo(rs, "QTX_FID", 3002);
        Set(rs, {{"WORK_ORDER", Variant("WO;7:a")}, {"INSTALL_DATE", Variant::Null()}});

        auto main = On(ctx, 11, {1002});
        Set(main->get_Recordset(), {{"MATERIAL", Variant("")}, {"DIAMETER", Variant(250.5)},
                                    {"ZONE_ID", Variant::Null()}});

        auto lining = On(ctx, 14, {1001});
        auto lrs = lining->get_Recordset();
        MoveTo(lrs, "QTX_CID", 3);
        lrs->Delete();
        AddRow(lrs, 101, 1001, 14, 4, {{"QTX_ID", Variant()}, {"LINING_TYPE", Variant("ÉPOXY ü")},
                                       {"LINING_YEAR", Variant(int32_t{2024})}, {"THICKNESS_MM", Variant::Null()}});

        auto inspection = On(ctx, 33, {3001, 3002});
        auto irs = inspection->get_Recordset();
        AddRow(irs, 103, 3002, 33, 1, {{"QTX_ID", Variant(int32_t{40})},
                                       {"INSPECTION_DATE", DateOf(2025, 1, 2, 3, 4, 5)},
                                       {"INSPECTOR", Variant("Zoë Brandt: \"senior\"; night")},
                                       {"STATIC_PRESSURE", Variant(4.75)}});
        MoveTo(irs, "QTX_CID", 1);
        irs->Delete();

        auto service = On(ctx, 41, {4001});
        Set(service->get_Recordset(), {{"ACCOUNT_NO", Variant("ACC:41;8 ''")}, {"METER_ID", Variant("")}});
        return {common, main, lining, inspection, service};
    }

    void SaveOn(const std::shared_ptr<RecordingContext>& ctx, const std::vector<std::shared_ptr<pelmora::Component>>& cs) {
        auto s = std::make_shared<ComponentDatabaseService>();
        s->putref_DataContext(ctx);
        s->BeginComponentOperations();
        for (const auto& c : cs) s->UpdateComponent(c);
        s->EndComponentOperations();
    }

    std::vector<std::shared_ptr<product::SqliteDataContext>> others_;
};

std::vector<std::string> RowsOf(const std::shared_ptr<product::SqliteDataContext>& db, const std::string& sql) {
    std::vector<std::string> out;
    auto rs = db->OpenRecordset(sql);
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

}  // namespace

TEST_F(SampleSave, AddedChangedAndDeletedRowsOfSeveralFeaturesAreReadBackWithTheirValues) {
    Save(EditAttributes(dc_));
    ASSERT_EQ(dc_->commands.size(), 1u);

    EXPECT_EQ(Rows("SELECT QTX_FID, LOCATION, WORK_ORDER, INSTALL_DATE, OWNER FROM QTX_COMMON_N "
                   "WHERE QTX_FID IN (1001, 2001, 3002) ORDER BY QTX_FID"),
              (std::vector<std::string>{"1001|Straße am Wald; Ecke: \"Nord\" 'Süd'|Null|2/29/2024 11:59:58 PM|CITY",
                                        "2001|Harbour Road / Quay St|WO-1998-014|4/17/1998|CITY",
                                        "3002|Mill Lane 3|WO;7:a|Null|FIRE DEPT"}));
    // An empty text is no value, as in Oracle.
    EXPECT_EQ(Rows("SELECT MATERIAL, DIAMETER, PRESSURE_CLASS, ZONE_ID FROM WATER_MAIN_N WHERE QTX_FID = 1002"),
              std::vector<std::string>{"Null|250.5|10|Null"});
    EXPECT_EQ(Rows("SELECT QTX_ID, QTX_FNO, QTX_CNO, QTX_CID, LINING_TYPE, LINING_YEAR, THICKNESS_MM FROM WATER_LINING_N "
                   "ORDER BY QTX_CID"),
              (std::vector<std::string>{"1|101|14|1|CEMENT|1998|4.5", "Null|101|14|4|ÉPOXY ü|2024|Null"}));
    EXPECT_EQ(Rows("SELECT QTX_ID, QTX_FID, QTX_CID, INSPECTION_DATE, INSPECTOR, RESULT, STATIC_PRESSURE FROM "
                   "HYDRANT_INSP_N ORDER BY QTX_FID, QTX_CID"),
              (std::vector<std::string>{"2|3001|3|5/9/2023 2:05:00 PM|Zoë Brandt|FAIL|2.15",
                                        "40|3002|1|1/2/2025 3:04:05 AM|Zoë Brandt: \"senior\"; night|Null|4.75"}));
    EXPECT_EQ(Rows("SELECT ACCOUNT_NO, METER_ID, SERVICE_TYPE FROM SERVICE_N WHERE QTX_FID = 4001"),
              std::vector<std::string>{"ACC:41;8 ''|Null|DOMESTIC"});
}

TEST_F(SampleSave, ShortListsCutTheSameEditsIntoManyBlocksWithTheSameResult) {
    Save(EditAttributes(dc_));
    const auto whole = Everything();
    ASSERT_EQ(dc_->commands.size(), 1u);

    pelmora::SetMaxListLength(40);
    auto ctx = OtherContext();
    SaveOn(ctx, EditAttributes(ctx));
    EXPECT_GT(ctx->commands.size(), 3u);
    for (size_t k = 1; k + 1 < ctx->commands.size(); ++k)
        EXPECT_EQ(ctx->commands[k].text.rfind("BEGIN QTX_WORKOPERATIONS.UPDATEFEATURES(", 0), 0u);
    for (const auto& b : ctx->commands)
        for (const auto& v : b.values) EXPECT_LE(rt::Len(v), 40) << v;

    auto tables = [](const std::shared_ptr<product::SqliteDataContext>& db) {
        std::vector<std::string> all;
        for (const char* t : {"QTX_COMMON_N", "WATER_MAIN_N", "WATER_LINING_N", "HYDRANT_INSP_N", "SERVICE_N"})
            for (auto& r : RowsOf(db, std::string("SELECT * FROM ") + t + " ORDER BY QTX_FID, QTX_CID"))
                all.push_back(t + (":" + r));
        return all;
    };
    EXPECT_EQ(tables(others_.back()), tables(sqlite_));
}

TEST_F(SampleSave, ValuesEqualToTheColumnDefaultAreLeftOutOfAddedRows) {
    auto descriptors = std::make_shared<rt::Collection>();
    auto describe = [&](const char* field, Variant dflt) {
        auto info = pelmora::FieldInfo::New();
        info->put_Name(field);
        info->put_DefaultValue(dflt);
        descriptors->Add(Variant(info), Variant(field));
    };
    describe("INSPECTOR", Variant("nobody"));
    describe("STATIC_PRESSURE", Variant("4.5"));
    describe("RESULT", Variant("PASS"));
    describe("OWNER_NOTE", Variant("unused"));
    auto inspection = NewComponent(33, {3002});
    inspection->putref_FieldInfoCollection(descriptors);
    auto rs = inspection->get_Recordset();
    AddRow(rs, 103, 3002, 33, 2, {{"INSPECTOR", Variant("nobody")}, {"STATIC_PRESSURE", Variant(4.5)},
                                  {"RESULT", Variant("PASS")}});
    Save({inspection});
    // The three values equal their descriptors' defaults and were not sent:
    // the table's own default applies to RESULT. The date has no descriptor
    // and goes, Null as it is; QTX_ID goes whatever its value.
    EXPECT_EQ(Rows("SELECT INSPECTOR, STATIC_PRESSURE, RESULT, INSPECTION_DATE FROM HYDRANT_INSP_N WHERE QTX_FID = 3002"),
              std::vector<std::string>{"Null|Null|PASS|Null"});
    EXPECT_EQ(dc_->commands[0].values[4], "6:QTX_ID");
    EXPECT_EQ(dc_->commands[0].values[10], "");
    EXPECT_EQ(dc_->commands[0].values[16], "15:INSPECTION_DATE");
}

TEST_F(SampleSave, GeometryRowsAreReplacedChangedAndKeptWhereTheirGroupGoes) {
    // Valve 2001: its symbol's rows are replaced by one new row.
    auto valve = NewComponent(22, {2001});
    valve->get_Recordset();
    auto vrs = valve->OpenGeometryRecordset(1);
    for (vrs->MoveFirst(); !vrs->get_EOF(); vrs->MoveNext()) vrs->Delete();
    vrs->AddNew();
    Set(vrs, {{"QTX_FNO", Variant(int32_t{102})}, {"QTX_FID", Variant(int32_t{2001})}, {"QTX_CNO", Variant(int32_t{22})},
              {"QTX_CID", Variant(int32_t{1})}, {"SDO_GID", Variant(int32_t{1})}, {"SDO_ESEQ", Variant(int32_t{0})},
              {"SDO_ETYPE", Variant(int32_t{1})}, {"SDO_SEQ", Variant(int32_t{0})}, {"SDO_X1", Variant(1111.125)},
              {"SDO_Y1", Variant(5005.5)}, {"SDO_X2", Variant::Null()}});

    // Main 1001: one of its two line rows is deleted, the other changed; the
    // group goes and the changed row comes back with its new value.
    auto line = NewComponent(12, {1001, 1002});
    line->get_Recordset();
    auto lrs = line->OpenGeometryRecordset(1);
    lrs->put_Filter(Variant(int32_t{ado::adFilterNone}));
    for (lrs->MoveFirst(); !lrs->get_EOF(); lrs->MoveNext()) {
        int32_t fid = rt::CLng(lrs->GetValue(Variant("QTX_FID")));
        int32_t seq = rt::CLng(lrs->GetValue(Variant("SDO_SEQ")));
        if (fid == 1001 && seq == 1) lrs->Delete();
        else if (fid == 1001 && seq == 0) Set(lrs, {{"SDO_X4", Variant(1333.25)}});
        else if (fid == 1002) Set(lrs, {{"SDO_Y2", Variant(5107.5)}});  // a plain change
    }
    Save({valve, line});

    EXPECT_EQ(Rows("SELECT QTX_ID, SDO_GID, SDO_ESEQ, SDO_ETYPE, SDO_SEQ, SDO_X1, SDO_Y1, SDO_X2 FROM VALVE_PT_SDOGEOM "
                   "WHERE QTX_FID = 2001"),
              std::vector<std::string>{"1|1|0|1|0|1111.125|5005.5|Null"});
    EXPECT_EQ(Rows("SELECT QTX_FID, SDO_SEQ, SDO_X1, SDO_X4, SDO_Y2 FROM WATER_MAIN_LN_SDOGEOM "
                   "WHERE QTX_FID IN (1001, 1002) ORDER BY QTX_FID, SDO_SEQ"),
              (std::vector<std::string>{"1001|0|1000|1333.25|5000", "1002|0|1200|Null|5107.5"}));
    // The change of 1002 went as a set of its geometry row.
    EXPECT_EQ(dc_->commands[0].values[44 + 6], "6:SDO_Y2");
    EXPECT_EQ(dc_->commands[0].values[56 + 1], "2001;1001;");
}

TEST_F(SampleSave, AGeometryRowMovedToOtherKeysIsRefusedRatherThanWrittenElsewhere) {
    auto hydrant = NewComponent(32, {3001});
    hydrant->get_Recordset();
    auto grs = hydrant->OpenGeometryRecordset(1);
    grs->MoveFirst();
    Set(grs, {{"SDO_SEQ", Variant(int32_t{5})}});
    auto s = NewService();
    s->BeginComponentOperations();
    rt::ComError e = Raised([&] { s->UpdateComponent(hydrant); });
    EXPECT_EQ(e.Number(), Err(23287));
    EXPECT_NE(e.Description().find(Message(23290)), std::string::npos) << e.Description();
    EXPECT_NE(e.Description().find("SDO_SEQ"), std::string::npos) << e.Description();
    EXPECT_EQ(s->List(ComponentDatabaseService::SetGeometryAttribute).get_Count(), 0);
}
