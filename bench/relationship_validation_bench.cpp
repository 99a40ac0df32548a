// The validation set of 20,000 features: GetFeatureValidationInformation
// (the features defined through several DefineFeatures calls as the value
// lists fill, then GetValidateSetV, handed back as a recordset), against
// the direct way of inserting the same 20,000 pairs with one prepared
// statement in one transaction and selecting them back as a recordset.
// Prints the ratio at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "BenchmarkTimes.h"
#include "SampleWorld.h"
#include "ado/Recordset.h"
#include "pelmora/features/KeyObject.h"
#include "pelmora/features/KeyObjects.h"
#include "pelmora/relationships/RelationshipService.h"
#include "product/SqliteConnection.h"

namespace {

constexpr int kFeatures = 20000;
constexpr int32_t kFirstFid = 100000;

int16_t FnoOf(int i) { return static_cast<int16_t>(101 + i % 5); }

struct World : benchsupport::SampleWorld {
    std::shared_ptr<pelmora::RelationshipService> service = std::make_shared<pelmora::RelationshipService>();
    std::shared_ptr<pelmora::IKeyObjects> features = pelmora::KeyObjects::New();

    World() : SampleWorld("pelmora-relationship-validation-bench") {
        service->putref_DataContext(dc);
        for (int i = 0; i < kFeatures; ++i) {
            auto k = pelmora::KeyObject::New();
            k->put_FNO(FnoOf(i));
            k->put_FID(kFirstFid + i);
            features->Add(k);
        }
        dc->Connection().ExecuteRaw("CREATE TABLE BENCH_PAIRS (QTX_FNO NUMBER(5), QTX_FID NUMBER(10))");
    }
    ~World() { service.reset(); }
};

World& TheWorld() {
    static World world;
    return world;
}

void BM_GetFeatureValidationInformation(benchmark::State& state) {
    World& w = TheWorld();
    int32_t rows = 0;
    for (auto _ : state) {
        auto set = w.service->GetFeatureValidationInformation(w.features);
        rows = set->get_RecordCount();
    }
    if (rows != kFeatures) state.SkipWithError("wrong number of rows");
    state.SetItemsProcessed(state.iterations() * kFeatures);
}
BENCHMARK(BM_GetFeatureValidationInformation)->Unit(benchmark::kMillisecond);

void BM_InsertAndSelectPairs(benchmark::State& state) {
    World& w = TheWorld();
    auto& db = w.dc->Connection();
    const std::string insert = "INSERT INTO BENCH_PAIRS (QTX_FNO, QTX_FID) VALUES (?, ?)";
    std::vector<rt::Variant> values(2);
    int32_t rows = 0;
    for (auto _ : state) {
        db.Savepoint("BENCH");
        auto statement = db.PrepareCached(insert);
        for (int i = 0; i < kFeatures; ++i) {
            values[0] = rt::Variant(FnoOf(i));
            values[1] = rt::Variant(int32_t{kFirstFid + i});
            db.ExecutePrepared(statement, values, insert);
        }
        auto image = db.Query("SELECT QTX_FNO, QTX_FID FROM BENCH_PAIRS", {}, "BENCH_PAIRS");
        auto set = ado::Recordset::FromImage(std::move(image), ado::adLockReadOnly);
        rows = set->get_RecordCount();
        db.RollbackTo("BENCH");
        db.Release("BENCH");
    }
    if (rows != kFeatures) state.SkipWithError("wrong number of rows");
    state.SetItemsProcessed(state.iterations() * kFeatures);
}
BENCHMARK(BM_InsertAndSelectPairs)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    auto times = benchtimes::RunBenchmarks(argc, argv);
    if (!times) return 1;

    auto& t = *times;
    const char* ours = "BM_GetFeatureValidationInformation";
    const char* direct = "BM_InsertAndSelectPairs";
    if (t.count(ours) && t.count(direct) && t[direct] > 0)
        std::printf("\nGetFeatureValidationInformation / insert and select: %.2f (target: at most 3)\n",
                    t[ours] / t[direct]);
    return 0;
}
