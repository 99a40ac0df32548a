// Stationing on the sample through the relationship service's IRelationship:
// each finding the sample plants and none for the clean features, the
// statements sent for one feature of each kind, and the helper's own walk
// (values never carried from one feature to the next, no "in ()" sent).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "ado/Recordset.h"
#include "pelmora/dimensioning_stationing/Stationing.h"
#include "pelmora/dimensioning_stationing/StationingValues.h"
#include "pelmora/features/KeyObject.h"
#include "pelmora/features/KeyObjects.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataUtils.h"
#include "interfaces/MetadataRecordsetFilterService.h"
#include "interfaces/Relationship.h"
#include "interfaces/Trace.h"
#include "pelmora/relationships/RelationshipService.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "product/StationService.h"
#include "runtime/Vb.h"
#include "support/EditableMetadata.h"
#include "support/RecordingContext.h"
#include "support/SampleServices.h"
#include "validation/ValidationSetTestSupport.h"

using Lines = std::vector<std::string>;

namespace {

using pelmora_test::RecordingContext;

// The station service with no feature number of characteristic 5.
class NoCharacteristic5 : public product::StationService {
public:
    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override {
        if (rt::NamesEqual(name, "GetListOfFNOsByStationCharacteristic") && rt::CLng(args.at(0)) == 5)
            return rt::Variant(std::string());
        return StationService::Invoke(name, kind, args);
    }
};

// A station service that takes its context without reading any metadata, so
// that the helper's own checks of the names are what meets them.
class TrustingStationService : public product::StationService {
public:
    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override {
        if (rt::NamesEqual(name, "DataContext")) return rt::Variant();
        return StationService::Invoke(name, kind, args);
    }
};

// The trace object, with the mask a test gives it; keeps the messages.
class MessageTrace : public rt::Object, public pelmora::ITraceObject {
public:
    int32_t mask = 0;
    Lines messages;
    void TraceEnter(const std::string&, const std::string&, const std::string&, const std::string&) override {}
    void TraceExit(const std::string&, const std::string&, const std::string&, const std::string&) override {}
    void TraceValue(const std::string&, const std::string&, const std::string&, const std::string&,
                    const std::string&, rt::Variant, const std::string&) override {}
    void TraceMessage(const std::string&, const std::string&, const std::string&, const std::string& label,
                      const std::string& text, const std::string&) override {
        messages.push_back(label + ": " + text);
    }
    void TraceTexts(const std::string&, const std::string&, const std::string&, const std::string&,
                    const std::string&, const std::string&, const std::string&) override {}
    int32_t GetTraceMask(int32_t) override { return mask; }
};

struct Finding {
    int32_t fid;
    int16_t id;
    std::string name1, name2;
};

const std::string kSeries = "Station Series", kPI = "Station Point";
const std::string kBegin = "Begin Station", kEnd = "End Station";

// Every finding the sample plants (data/sample/75_stationing.sql).
const std::vector<Finding> kPlanted = {
    {5503, 21447, kPI, kBegin}, {5503, 21838, kSeries, kBegin},
    {5504, 21815, kBegin, ""},
    {5505, 21075, kEnd, ""}, {5505, 21838, kSeries, kBegin}, {5505, 21838, kSeries, kEnd},
    {5506, 21074, kBegin, ""}, {5506, 21815, kBegin, ""},
    {5601, 21948, kBegin, ""}, {5602, 21949, kEnd, ""},
    {5604, 21067, kSeries, ""},
    {5605, 21069, "", ""},
    {5607, 21949, kEnd, ""}, {5608, 21948, kBegin, ""},
    {5609, 22169, kSeries, ""}, {5609, 21072, "", ""}, {5609, 21073, "", ""},
    {5610, 22170, "End Series", "Begin Series"}, {5610, 22171, kEnd, kBegin}, {5611, 22171, kEnd, kBegin},
    {5702, 21070, "", ""},
    {5801, 21461, "Bend", ""},
    {5901, 21064, "", ""}, {5902, 21064, "", ""}, {5903, 21065, "", ""}, {5904, 21066, "", ""},
    {5905, 21060, "", ""},
};

const std::map<int32_t, int16_t> kFeatures = {
    {5501, 123}, {5502, 123}, {5503, 123}, {5504, 127}, {5505, 123}, {5506, 127}, {5601, 124}, {5602, 124},
    {5603, 124}, {5604, 124}, {5605, 124}, {5607, 124}, {5608, 124}, {5609, 124}, {5610, 124}, {5611, 124},
    {5701, 125}, {5702, 125}, {5703, 125}, {5801, 126}, {5901, 124}, {5902, 124}, {5903, 123}, {5904, 123},
    {5905, 124}};

std::string Row(int32_t fid, const std::string& text) { return std::to_string(fid) + " " + text; }

Lines Expected(const std::vector<int32_t>& fids) {
    Lines rows;
    for (const auto& f : kPlanted) {
        if (std::find(fids.begin(), fids.end(), f.fid) == fids.end()) continue;
        rt::Variant a = f.name1.empty() ? rt::Variant::Missing() : rt::Variant(f.name1);
        rt::Variant b = f.name2.empty() ? rt::Variant::Missing() : rt::Variant(f.name2);
        rows.push_back(Row(f.fid, pelmora::GetValidationMessage(f.id, a, b)));
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

class StationingTest : public pelmora_test::SampleServicesTest {
protected:
    StationingTest() : SampleServicesTest("stationing") {}
    void SetUp() override {
        SampleServicesTest::SetUp();
        metadata_ = pelmora_test::OpenSampleMetadata();
        auto sqlite = pelmora_test::OpenSampleContext(metadata_);
        context_ = std::make_shared<RecordingContext>(sqlite);
    }
    void TearDown() override {
        rt::RegisterClass(product::kStationServiceProgId, "", [] { return std::make_shared<product::StationService>(); });
        context_.reset();
        metadata_.reset();
        SampleServicesTest::TearDown();
    }

    // Validates the features through a new relationship service; the rows
    // as "FID description", sorted. Checks where every row is written.
    Lines Validate(const std::vector<int32_t>& fids) {
        auto service = rt::CreateObject(pelmora::kRelationshipServiceProgId);
        auto relationship = rt::QueryInterface<pelmora::IRelationship>(service);
        relationship->putref_DataContext(context_);
        auto features = pelmora::KeyObjects::New();
        for (int32_t fid : fids) {
            auto key = pelmora::KeyObject::New();
            key->put_FNO(kFeatures.at(fid));
            key->put_FID(fid);
            features->Add(key);
        }
        relationship->putref_Features(features);
        context_->plainOpens.clear();
        std::shared_ptr<ado::Recordset> set, errors;
        relationship->Validate(set, errors);
        Lines rows;
        if (errors->get_BOF() && errors->get_EOF()) return rows;
        for (errors->MoveFirst(); !errors->get_EOF(); errors->MoveNext()) {
            auto text = [&](const char* f) { return rt::CStr(errors->GetValue(rt::Variant(f))); };
            EXPECT_EQ(text("ErrorLocation"), "Pipeline Stationing");
            EXPECT_EQ(text("Connection"), env_->ConfigurationName());
            EXPECT_EQ(text("QTX_FNO"), std::to_string(kFeatures.at(rt::CLng(errors->GetValue(rt::Variant("QTX_FID"))))));
            rows.push_back(Row(rt::CLng(errors->GetValue(rt::Variant("QTX_FID"))), text("ErrorDescription")));
        }
        std::sort(rows.begin(), rows.end());
        return rows;
    }

    // The helper of relationship 14, loaded as the service would.
    std::shared_ptr<pelmora::Stationing> NewHelper() {
        auto helper = std::make_shared<pelmora::Stationing>();
        helper->putref_DataContext(context_);
        helper->putref_MDRSFilterService(rt::CreateObject(pelmora::kMetadataRecordsetFilterServiceProgId));
        helper->put_RelationshipNumber(14);
        return helper;
    }

    // "FID description" per row of the errors, in order.
    static Lines Rows(const std::shared_ptr<ado::Recordset>& errors) {
        Lines rows;
        for (const auto& row : validationtest::FindingRows(errors)) rows.push_back(row.at(5) + " " + row.at(1));
        return rows;
    }

    Lines StationStatements() const {
        Lines out;
        for (const auto& s : context_->plainOpens)
            if (s.find("from STATION_N") != std::string::npos && s.find("QTX_FID in") == std::string::npos &&
                s.find("QTX_FID =") == std::string::npos)
                out.push_back(s);
        return out;
    }

    std::shared_ptr<pelmora::MetadataService> metadata_;
    std::shared_ptr<RecordingContext> context_;
};

TEST_F(StationingTest, EveryPlantedFindingAndNoneForTheCleanFeatures) {
    std::vector<int32_t> all;
    for (const auto& [fid, fno] : kFeatures) all.push_back(fid);
    EXPECT_EQ(Validate(all), Expected(all));
    // A feature's findings do not depend on the others validated with it.
    for (int32_t fid : {5501, 5505, 5608, 5905}) EXPECT_EQ(Validate({fid}), Expected({fid})) << fid;
}

TEST_F(StationingTest, TheStatementsSent) {
    const struct {
        int32_t fid;
        Lines statements;
    } cases[] = {
        {5601,  // casing: one series, characteristic 4 (same-number overlaps)
         {"select LINE_ID, BEGIN_MS from STATION_N where BEGIN_SSID = 'S1' and END_SSID = 'S1' and QTX_FNO = 122",
          "select * from STATION_N where BEGIN_SSID = 'S1' and BEGIN_MS <= 10 and END_MS >= 10 and QTX_FNO = 122",
          "select * from STATION_N where END_SSID = 'S1' and BEGIN_MS <= 20 and END_MS >= 20 and QTX_FNO = 122",
          "select LINE_ID, BEGIN_MS from STATION_N where BEGIN_SSID = 'S1' and END_SSID = 'S1' and QTX_FNO = 122",
          "select LINE_ID, BEGIN_MS from STATION_N where BEGIN_SSID = 'S1' and END_SSID = 'S1' and QTX_FNO = 122",
          "select * from STATION_N where BEGIN_SSID = 'S1' and BEGIN_MS <> END_MS and END_MS > 10 and END_MS <= 20 "
          "and QTX_FNO in (124) and QTX_FID <> 5601",
          "select * from STATION_N where END_SSID = 'S1' and BEGIN_MS <> END_MS and BEGIN_MS < 20 and BEGIN_MS >= 10 "
          "and QTX_FNO in (124) and QTX_FID <> 5601",
          "select * from STATION_N where BEGIN_SSID = 'S1' and END_SSID = 'S1' and BEGIN_MS < 10 and END_MS > 20 "
          "and QTX_FNO in (124) and QTX_FID <> 5601"}},
        {5506,  // coating: characteristic 5 without 1 (adjacent stations)
         {"select LINE_ID, BEGIN_MS from STATION_N where BEGIN_SSID = 'S3' and END_SSID = 'S3' and QTX_FNO = 122",
          "select * from STATION_N where BEGIN_SSID = 'S3' and BEGIN_MS <= 20 and END_MS >= 20 and QTX_FNO = 122",
          "select * from STATION_N where END_SSID = 'S3' and BEGIN_MS <= 50 and END_MS >= 50 and QTX_FNO = 122",
          "select LINE_ID, BEGIN_MS from STATION_N where BEGIN_SSID = 'S3' and END_SSID = 'S3' and QTX_FNO = 122",
          "select LINE_ID, BEGIN_MS from STATION_N where BEGIN_SSID = 'S3' and END_SSID = 'S3' and QTX_FNO = 122",
          "select * from STATION_N where BEGIN_SSID = 'S3' and BEGIN_MS <> END_MS and END_MS > 20 and END_MS <= 50 "
          "and QTX_FNO in (123,127) and QTX_FNO not in (125) and QTX_FID <> 5506",
          "select * from STATION_N where END_SSID = 'S3' and BEGIN_MS <> END_MS and BEGIN_MS < 50 and BEGIN_MS >= 20 "
          "and QTX_FNO in (123,127) and QTX_FNO not in (125) and QTX_FID <> 5506",
          "select * from STATION_N where BEGIN_SSID = 'S3' and END_SSID = 'S3' and BEGIN_MS < 20 and END_MS > 50 "
          "and QTX_FNO in (123,127) and QTX_FNO not in (125) and QTX_FID <> 5506",
          "select * from STATION_N where BEGIN_SSID = 'S3' and END_SSID = 'S3' and QTX_FNO = 122",
          "select * from STATION_N where  (END_SSID = 'S3' and END_MS = 20) and QTX_FNO in (123,127)"}},
        {5505,  // pipeline: characteristic 1 and 5 (PI stations, series gaps)
         {"select * from STATION_N where ((BEGIN_SSID = 'S3' and BEGIN_MS = 0) or (END_SSID = 'S3' and END_MS = 0)) "
          "and QTX_FNO = 121",
          "select * from STATION_N where ((BEGIN_SSID = 'S3' and BEGIN_MS = 30) or (END_SSID = 'S3' and END_MS = 30)) "
          "and QTX_FNO = 121",
          "select LINE_ID, BEGIN_MS from STATION_N where BEGIN_SSID = 'S3' and END_SSID = 'S3' and QTX_FNO = 122",
          "select * from STATION_N where BEGIN_SSID = 'S3' and BEGIN_MS <= 0 and END_MS >= 0 and QTX_FNO = 122",
          "select * from STATION_N where END_SSID = 'S3' and BEGIN_MS <= 30 and END_MS >= 30 and QTX_FNO = 122",
          "select LINE_ID, BEGIN_MS from STATION_N where BEGIN_SSID = 'S3' and END_SSID = 'S3' and QTX_FNO = 122",
          "select LINE_ID, BEGIN_MS from STATION_N where BEGIN_SSID = 'S3' and END_SSID = 'S3' and QTX_FNO = 122",
          "select * from STATION_N where BEGIN_SSID = 'S3' and BEGIN_MS <> END_MS and END_MS > 0 and END_MS <= 30 "
          "and QTX_FNO in (123,127) and QTX_FNO not in (125) and QTX_FID <> 5505",
          "select * from STATION_N where END_SSID = 'S3' and BEGIN_MS <> END_MS and BEGIN_MS < 30 and BEGIN_MS >= 0 "
          "and QTX_FNO in (123,127) and QTX_FNO not in (125) and QTX_FID <> 5505",
          "select * from STATION_N where BEGIN_SSID = 'S3' and END_SSID = 'S3' and BEGIN_MS < 0 and END_MS > 30 "
          "and QTX_FNO in (123,127) and QTX_FNO not in (125) and QTX_FID <> 5505",
          "select * from STATION_N where  ((BEGIN_SSID = 'S3' and BEGIN_MS >= 0) or  (END_SSID = 'S3' and END_MS <= 30)) "
          "and QTX_FNO in (123,127)",
          "select * from STATION_N A  where A.BEGIN_SSID = 'S3' and A.BEGIN_MS <> 0 and QTX_FNO in (123,127) "
          "AND NOT EXISTS  (select 'X' from STATION_N B  where A.BEGIN_SSID = B.END_SSID and A.BEGIN_MS = B.END_MS)",
          "select * from STATION_N A  where A.BEGIN_SSID = 'S3' and A.END_MS <> 30 and QTX_FNO in (123,127) "
          "AND NOT EXISTS  (select 'X' from STATION_N B  where A.END_SSID = B.BEGIN_SSID and A.END_MS = B.BEGIN_MS)"}},
    };
    for (const auto& c : cases) {
        Validate({c.fid});
        EXPECT_EQ(StationStatements(), c.statements) << c.fid;
    }
    // Ids are quoted literals: the series with a quote in its id is found.
    Validate({5607});
    const Lines sent = StationStatements();
    EXPECT_TRUE(std::any_of(sent.begin(), sent.end(),
                            [](const std::string& s) { return s.find("BEGIN_SSID = 'O''NEIL'") != std::string::npos; }));
}

TEST_F(StationingTest, WithoutCharacteristic5TheStatementsThatNeedItAreNotSent) {
    rt::RegisterClass(product::kStationServiceProgId, "", [] { return std::make_shared<NoCharacteristic5>(); });
    // 5505 keeps its PI findings (none) and loses the overlap and gap ones; 5504 loses 21815.
    EXPECT_EQ(Validate({5503, 5504, 5505}),
              Lines{Row(5503, pelmora::GetValidationMessage(21447, rt::Variant(kPI), rt::Variant(kBegin)))});
    for (const auto& s : context_->plainOpens) EXPECT_EQ(s.find("in ()"), std::string::npos) << s;
}

TEST_F(StationingTest, ASkippedCheckIsTracedOnlyWhenTheMaskAsksForErrors) {
    rt::RegisterClass(product::kStationServiceProgId, "", [] { return std::make_shared<NoCharacteristic5>(); });
    auto trace = std::make_shared<MessageTrace>();
    rt::RegisterClass(pelmora::kTraceObjectProgId, "", [trace] { return trace; });
    rt::Apartment::Reset();  // the apartment's trace object is made afresh
    const struct {
        int32_t mask;
        bool traced;
    } cases[] = {{0, false}, {0x400002, false}, {0x400001, true}, {-1, true}};
    for (const auto& c : cases) {
        trace->mask = c.mask;
        trace->messages.clear();
        Validate({5504});
        const bool skipped = std::any_of(trace->messages.begin(), trace->messages.end(), [](const std::string& m) {
            return m.rfind("Skipped: ", 0) == 0;
        });
        EXPECT_EQ(skipped, c.traced) << "mask " << c.mask;
    }
    product::RegisterProductStandIns();
}

TEST_F(StationingTest, AFeatureThatCannotBeReadIsSkippedNotJudgedByTheOneBefore) {
    auto helper = NewHelper();
    // 5602's components are a water main's, without the station component;
    // 5605 (21069) stands after the first relationship row and is not read.
    auto set = validationtest::MakeValidationSet({{124, 5601, 1, 0, 0, 0},
                                                  {124, 5602, 1, 0, 0, 0},
                                                  {124, 5603, 1, 0, 0, 0},
                                                  {124, 5605, 0, 5601, 124, 14},
                                                  {124, 5605, 1, 0, 0, 0}});
    auto opened = validationtest::OpenValidationSet(set, context_);
    auto main = validationtest::OpenValidationSet(validationtest::MakeValidationSet({{101, 1001, 1, 0, 0, 0}}), context_);
    pelmora::FindKeyObject(opened.features, 124, 5602)->putref_Components(
        pelmora::FindKeyObject(main.features, 101, 1001)->get_Components());
    auto errors = pelmora::CreateValidationRecordset();
    helper->Validate(opened.features, opened.components, set, nullptr, errors);
    EXPECT_EQ(Rows(errors), Expected({5601}));
    pelmora::ReleaseValidationSetIndex();
}

TEST_F(StationingTest, ARowWhosePendingIsNullIsValidated) {
    for (const auto pending : {std::optional<int32_t>(1), std::optional<int32_t>()}) {
        auto set = validationtest::MakeValidationSet({{124, 5601, pending, 0, 0, 0}});
        auto opened = validationtest::OpenValidationSet(set, context_);
        auto errors = pelmora::CreateValidationRecordset();
        NewHelper()->Validate(opened.features, opened.components, set, nullptr, errors);
        EXPECT_EQ(Rows(errors), Expected({5601})) << (pending ? "1" : "Null");
        pelmora::ReleaseValidationSetIndex();
    }
}

TEST_F(StationingTest, RatingTheStationValues) {
    const struct {
        const char* what;
        const char* bss;
        const char* ess;
        double bms, ems;
        bool characteristic8;
        int16_t status;
    } cases[] = {
        {"complete", "S1", "S1", 10, 20, false, 2},
        {"two series", "A1", "A2", 10, 20, false, 1},
        {"two series, characteristic 8", "A1", "A2", 10, 20, true, 2},
        {"no begin series", "-1", "S1", 10, 20, true, 1},
        {"no end series", "S1", "-1", 10, 20, false, 1},
        {"begin measure only", "S1", "S1", 0, -1, false, 3},
        {"end measure only", "S1", "S1", -1, 5, false, 4},
        {"below -1 is no measure", "S1", "S1", -2, -1, false, 1},
    };
    for (const auto& c : cases) {
        pelmora::StationingValues values;
        values.BSSID = c.bss;
        values.ESSID = c.ess;
        values.BMS = c.bms;
        values.EMS = c.ems;
        EXPECT_EQ(pelmora::Stationing::CheckStationValues(values, c.characteristic8), c.status) << c.what;
        EXPECT_EQ(values.Status, c.status) << c.what;
    }
}

}  // namespace

TEST_F(StationingTest, AStationTableOrFieldThatIsNoPlainNameIsRefusedOnLoadingNamingIt) {
    rt::RegisterClass(product::kStationServiceProgId, "", [] { return std::make_shared<TrustingStationService>(); });
    struct Case {
        const char* table;
        const char* keyColumn;
        int32_t key;
        const char* column;
        const char* name;
        const char* named;  // what the description names besides the name
    };
    const Case cases[] = {
        {"QTX_COMPONENTINFO_OPTABLE", "QTX_CNO", 81, "QTX_TABLE", "STATION_N; DROP TABLE VALVE_N", "table"},
        {"QTX_ATTRIBUTEINFO_OPTABLE", "QTX_ANO", 8101, "QTX_FIELD", "BEGIN_SSID = BEGIN_SSID OR 1", "(ANO 8101"},
        {"QTX_ATTRIBUTEINFO_OPTABLE", "QTX_ANO", 8104, "QTX_FIELD", "END_MS\"--", "(ANO 8104"},
        {"QTX_ATTRIBUTEINFO_OPTABLE", "QTX_ANO", 8106, "QTX_FIELD", "[LINE_ID]", "(ANO 8106"},
    };
    auto set = [&](const Case& c, const rt::Variant& value) {
        auto rows = pelmora_test::EditableMetadataTable(*metadata_, c.table);
        rt::Variant was;
        for (rows->MoveFirst(); !rows->get_EOF(); rows->MoveNext())
            if (rt::CLng(rows->GetValue(rt::Variant(c.keyColumn))) == c.key) {
                was = rows->GetValue(rt::Variant(c.column));
                rows->SetValue(rt::Variant(c.column), value);
                rows->Update();
            }
        pelmora::MetadataUtilsFilterService()->Clear();
        return was;
    };
    for (const Case& c : cases) {
        const rt::Variant original = set(c, rt::Variant(c.name));
        ASSERT_FALSE(original.IsEmpty()) << c.table << " " << c.key;
        const rt::ComError e = pelmora_test::Raised([&] { NewHelper(); });
        EXPECT_EQ(e.Number(), rt::vberr::InvalidProcedureCall) << c.name;
        for (const std::string& named : {"\"" + std::string(c.name) + "\"", std::string(c.named)})
            EXPECT_NE(e.Description().find(named), std::string::npos) << e.Description();
        set(c, original);
    }
    EXPECT_NE(NewHelper(), nullptr);
}
