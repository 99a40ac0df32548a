// Stationing.Validate of 200 stationed pipeline segments (characteristics 1
// and 5: every kind of statement but the same-number overlaps) over a station
// table of 1,000 and of 10,000 rows: coatings in 10-long pieces, 50 to a
// series, each series with its series row. Prints the ratio of the two; the
// indexes on (begin series, begin measure) and (end series, end measure)
// keep it near 1.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "BenchmarkTimes.h"
#include "SampleWorld.h"
#include "ado/Enums.h"
#include "ado/Recordset.h"
#include "pelmora/dimensioning_stationing/Stationing.h"
#include "interfaces/Components.h"
#include "interfaces/KeyObject.h"
#include "interfaces/MetadataRecordsetFilterService.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "pelmora/validation_set/modFeatureValidationServiceSet.h"
#include "runtime/Vb.h"

namespace {

constexpr int kFeatures = 200;
constexpr int kPerSeries = 50;

void AddStationRows(product::SqliteDataContext& dc, int rows) {
    rt::Variant affected;
    const int series = rows / kPerSeries;
    int id = 1000;
    auto insert = [&](int fno, int fid, const std::string& s, int b, int e) {
        dc.ExecuteSQL("INSERT INTO STATION_N (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, BEGIN_SSID, END_SSID, "
                      "BEGIN_MS, END_MS, LENGTH_M, LINE_ID) VALUES (" +
                          std::to_string(++id) + ", " + std::to_string(fno) + ", " + std::to_string(fid) + ", 81, 1, '" +
                          s + "', '" + s + "', " + std::to_string(b) + ", " + std::to_string(e) + ", " +
                          std::to_string(e - b) + ", 'B')",
                      affected, int32_t{ado::adCmdText} | int32_t{ado::adExecuteNoRecords});
    };
    int fid = 100000;
    for (int k = 0; k < series; ++k) {
        const std::string s = "B" + std::to_string(k);
        insert(122, ++fid, s, 0, kPerSeries * 10 + 1000);
        for (int i = 0; i < kPerSeries - 1; ++i) insert(127, ++fid, s, i * 10, i * 10 + 10);
    }
    // The validated segments, beyond the coatings of their series.
    for (int f = 0; f < kFeatures; ++f)
        insert(123, 200000 + f, "B" + std::to_string(f % series), kPerSeries * 10 + 100, kPerSeries * 10 + 124);
}

void Validate(benchmark::State& state, int rows) {
    benchsupport::SampleWorld world("stationing-bench-" + std::to_string(rows),
                                    [&](product::SqliteDataContext& dc) { AddStationRows(dc, rows); });
    auto helper = std::make_shared<pelmora::Stationing>();
    helper->putref_DataContext(world.dc);
    helper->putref_MDRSFilterService(rt::CreateObject(pelmora::kMetadataRecordsetFilterServiceProgId));
    helper->put_RelationshipNumber(14);

    auto set = ado::Recordset::Create();
    for (const char* name : {"QTX_FNO", "QTX_FID", "PENDING", "QTX_RELATED_FID", "QTX_RELATED_FNO", "QTX_RNO"})
        set->get_Fields()->Append(name, ado::adInteger);
    set->Open();
    for (int f = 0; f < kFeatures; ++f) {
        set->AddNew();
        set->SetValue(rt::Variant(0), rt::Variant(int32_t{123}));
        set->SetValue(rt::Variant(1), rt::Variant(int32_t{200000 + f}));
        set->SetValue(rt::Variant(2), rt::Variant(int32_t{1}));
        set->Update();
    }
    std::shared_ptr<pelmora::IKeyObjects> features;
    std::shared_ptr<pelmora::IComponents> components;
    int32_t count = 0;
    pelmora::GetValidationKOCollection(set, features, components, world.dc, count);
    int64_t findings = 0;
    for (auto _ : state) {
        auto errors = pelmora::CreateValidationRecordset();
        helper->Validate(features, components, set, nullptr, errors);
        findings = errors->get_RecordCount();
    }
    state.counters["findings"] = static_cast<double>(findings);
    pelmora::ReleaseValidationSetIndex();
}
void BM_Validate_1000Rows(benchmark::State& state) { Validate(state, 1000); }
void BM_Validate_10000Rows(benchmark::State& state) { Validate(state, 10000); }
BENCHMARK(BM_Validate_1000Rows)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Validate_10000Rows)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    auto times = benchtimes::RunBenchmarks(argc, argv);
    if (!times) return 1;
    auto small = times->find("BM_Validate_1000Rows");
    auto large = times->find("BM_Validate_10000Rows");
    if (small != times->end() && large != times->end() && small->second > 0)
        std::printf("10,000 rows against 1,000: %.2f times\n", large->second / small->second);
    return 0;
}
