// ValidateFeatures over 1,000 features (500 copies each of the sample's
// water main 1001 and valve 2001) against FeatureAssemblyService::OpenFeatures
// of the same features alone, in one run. The sample checks the zone of a
// main against a key table, its material against a domain in the database
// and the valve type against a published (cached) domain; a second run
// without those checks gives the share of the run the lookups take.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "BenchmarkTimes.h"
#include "SampleWorld.h"
#include "support/EditableMetadata.h"
#include "ado/Recordset.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "pelmora/features/KeyObject.h"
#include "pelmora/features/KeyObjects.h"
#include "pelmora/interfaces/Components.h"
#include "pelmora/interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataRecordset.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataRecordsets.h"
#include "pelmora/validation/FeatureValidationService.h"
#include "runtime/Vb.h"

namespace {

constexpr int kCopies = 500;
constexpr int32_t kFirstMain = 700000;
constexpr int32_t kFirstValve = 800000;
constexpr int32_t kIdOffset = 100000;

void CopyFeature(product::SqliteDataContext& db, const std::vector<std::string>& tables, int32_t fid,
                 int32_t firstFid) {
    for (const auto& table : tables) {
        rt::Variant affected;
        auto shape = db.ExecuteSQL("SELECT * FROM " + table + " WHERE 1 = 0", affected, 1);
        std::string columns, values;
        for (int32_t i = 0; i < shape->FieldCount(); ++i) {
            const std::string name = shape->get_Fields()->Item(i)->get_Name();
            columns += (i ? ", " : "") + name;
            values += i ? ", " : "";
            if (name == "QTX_ID" || name == "SDO_GID") values += name + " + :offset";
            else if (name == "QTX_FID") values += ":fid";
            else values += name;
        }
        for (int k = 1; k <= kCopies; ++k) {
            std::string sql = "INSERT INTO " + table + " (" + columns + ") SELECT " +
                              rt::Replace(rt::Replace(values, ":offset", std::to_string(k * kIdOffset)), ":fid",
                                          std::to_string(firstFid + k - 1)) +
                              " FROM " + table + " WHERE QTX_FID = " + std::to_string(fid);
            db.ExecuteSQL(sql, affected, 1);
        }
    }
}

struct World : benchsupport::SampleWorld {
    std::shared_ptr<pelmora::IKeyObjects> keys = pelmora::KeyObjects::New();
    std::shared_ptr<pelmora::FeatureValidationService> service;

    World()
        : SampleWorld("pelmora-feature-validation-bench", [](product::SqliteDataContext& db) {
              CopyFeature(db,
                          {"QTX_COMMON_N", "WATER_MAIN_N", "WATER_MAIN_LN", "WATER_MAIN_LBL", "WATER_LINING_N",
                           "WATER_MAIN_LN_SDOGEOM", "WATER_MAIN_LBL_SDOGEOM"},
                          1001, kFirstMain);
              CopyFeature(db, {"QTX_COMMON_N", "VALVE_N", "VALVE_PT", "VALVE_PT_SDOGEOM"}, 2001, kFirstValve);
          }) {
        for (int k = 0; k < kCopies; ++k)
            for (auto [fno, fid] : {std::pair<int16_t, int32_t>{101, kFirstMain + k}, {102, kFirstValve + k}}) {
                auto key = pelmora::KeyObject::New();
                key->put_FNO(fno);
                key->put_FID(fid);
                keys->Add(key);
            }
        service = std::make_shared<pelmora::FeatureValidationService>();
        service->putref_DataContext(dc);
        // Every valve validated against its main walks the sample's rule
        // without operator, which shows its box each time: answered here.
        product::InstallDialogRecorder(boxes);
    }
    ~World() { product::InstallDialogRecorder(nullptr); }

    std::shared_ptr<product::DialogRecorder> boxes = std::make_shared<product::DialogRecorder>();

    void SetAttribute(int32_t ano, const std::string& field, const rt::Variant& value) {
        pelmora_test::SetMetadataAttribute(*metadata, ano, field, value);
    }
    void DropKeysAndDomains() {
        for (int32_t ano : {1101, 1105, 2101})
            for (const char* field :
                 {"QTX_FOREIGNKEYTABLE", "QTX_FOREIGNKEYFIELD", "QTX_DOMAINTABLE", "QTX_DOMAINFIELD"})
                SetAttribute(ano, field, rt::Variant::Null());
        // The filter service's bookmarks belong to the table replaced.
        pelmora::ClearFilterServiceCaches();
    }
};

World& TheWorld() {
    static World world;
    return world;
}

void BM_OpenFeatures(benchmark::State& state) {
    World& w = TheWorld();
    auto assembly = std::make_shared<pelmora::FeatureAssemblyService>();
    assembly->putref_DataContext(w.dc);
    int32_t opened = 0;
    for (auto _ : state) opened = assembly->OpenFeatures(w.keys) ? w.keys->get_Count() : 0;
    if (opened != 2 * kCopies) state.SkipWithError("features not opened");
    state.SetItemsProcessed(state.iterations() * 2 * kCopies);
}
BENCHMARK(BM_OpenFeatures)->Unit(benchmark::kMillisecond);

void BM_ValidateFeatures(benchmark::State& state) {
    World& w = TheWorld();
    int32_t findings = -1;
    for (auto _ : state) findings = w.service->ValidateFeatures(w.keys)->get_RecordCount();
    if (findings < 0) state.SkipWithError("no findings recordset");
    state.counters["findings"] = findings;
    state.SetItemsProcessed(state.iterations() * 2 * kCopies);
}
BENCHMARK(BM_ValidateFeatures)->Unit(benchmark::kMillisecond);

void BM_ValidateFeatures_WithoutKeysAndDomains(benchmark::State& state) {
    World& w = TheWorld();
    w.DropKeysAndDomains();
    int32_t findings = -1;
    for (auto _ : state) findings = w.service->ValidateFeatures(w.keys)->get_RecordCount();
    if (findings < 0) state.SkipWithError("no findings recordset");
    state.counters["findings"] = findings;
    state.SetItemsProcessed(state.iterations() * 2 * kCopies);
}
BENCHMARK(BM_ValidateFeatures_WithoutKeysAndDomains)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    auto times = benchtimes::RunBenchmarks(argc, argv);
    if (!times) return 1;
    auto& t = *times;
    const char* open = "BM_OpenFeatures";
    const char* validate = "BM_ValidateFeatures";
    const char* bare = "BM_ValidateFeatures_WithoutKeysAndDomains";
    if (t.count(open) && t.count(validate) && t[open] > 0)
        std::printf("\nvalidation / opening: %.2f (target <= 4)\n", t[validate] / t[open]);
    if (t.count(validate) && t.count(bare) && t[validate] > 0)
        std::printf("share of the key and domain lookups: %.0f%%\n", 100.0 * (t[validate] - t[bare]) / t[validate]);
    return 0;
}
