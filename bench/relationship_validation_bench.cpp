// The validation set of N features (N = 10,000 and 20,000):
// GetFeatureValidationInformation (the features defined through several
// DefineFeatures calls as the value lists fill, then GetValidateSetV over
// every relationship, handed back as a recordset), against the direct way of
// inserting the same N pairs with one prepared statement in one transaction
// and selecting them back as a recordset. The metadata service has an active
// user, as a client's has.
//
// Both sides run as interleaved repetitions (5 unless the command line says
// otherwise); main prints, per size, the ratio of the medians (wall and CPU,
// with each median's cv) and the growth of each side from N to 2N.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
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

constexpr int kSmall = 10000;
constexpr int kLarge = 2 * kSmall;
constexpr int32_t kFirstFid = 100000;

int16_t FnoOf(int i) { return static_cast<int16_t>(101 + i % 5); }

struct World : benchsupport::SampleWorld {
    std::shared_ptr<pelmora::RelationshipService> service = std::make_shared<pelmora::RelationshipService>();
    std::map<int, std::shared_ptr<pelmora::IKeyObjects>> features;  // by size

    World() : SampleWorld("pelmora-relationship-validation-bench") {
        metadata->SetActiveUser(dc, "KLEE");
        service->putref_DataContext(dc);
        for (int size : {kSmall, kLarge}) {
            auto keys = pelmora::KeyObjects::New();
            for (int i = 0; i < size; ++i) {
                auto k = pelmora::KeyObject::New();
                k->put_FNO(FnoOf(i));
                k->put_FID(kFirstFid + i);
                keys->Add(k);
            }
            features[size] = keys;
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
    const int size = static_cast<int>(state.range(0));
    auto& features = w.features.at(size);
    int32_t rows = 0;
    for (auto _ : state) {
        auto set = w.service->GetFeatureValidationInformation(features);
        rows = set->get_RecordCount();
    }
    // Every feature's pending row; the features are not in the database, so
    // nothing relates to them.
    if (rows != size) state.SkipWithError("wrong number of rows");
    state.SetItemsProcessed(state.iterations() * size);
}
BENCHMARK(BM_GetFeatureValidationInformation)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMillisecond);

void BM_InsertAndSelectPairs(benchmark::State& state) {
    World& w = TheWorld();
    const int size = static_cast<int>(state.range(0));
    auto& db = w.dc->Connection();
    const std::string insert = "INSERT INTO BENCH_PAIRS (QTX_FNO, QTX_FID) VALUES (?, ?)";
    std::vector<rt::Variant> values(2);
    int32_t rows = 0;
    for (auto _ : state) {
        db.Savepoint("BENCH");
        auto statement = db.PrepareCached(insert);
        for (int i = 0; i < size; ++i) {
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
    if (rows != size) state.SkipWithError("wrong number of rows");
    state.SetItemsProcessed(state.iterations() * size);
}
BENCHMARK(BM_InsertAndSelectPairs)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    auto timings = benchtimes::RunInterleaved(argc, argv);
    if (!timings) return 1;
    const auto& t = *timings;
    auto name = [](const char* bench, int size) { return std::string(bench) + "/" + std::to_string(size); };
    const char* ours = "BM_GetFeatureValidationInformation";
    const char* direct = "BM_InsertAndSelectPairs";
    auto cv = [](const std::map<std::string, double>& m, const std::string& n) {
        auto it = m.find(n);
        return it == m.end() ? 0.0 : 100 * it->second;
    };
    std::printf("\n");
    for (int size : {kSmall, kLarge}) {
        const std::string label = "GetFeatureValidationInformation / insert and select, " + std::to_string(size) + " features";
        benchtimes::PrintRatio(t, name(ours, size), name(direct, size), label.c_str(), "target: at most 3");
        std::printf("  cv of the medians: wall %.0f%% / %.0f%%, CPU %.0f%% / %.0f%%\n", cv(t.wallCv, name(ours, size)),
                    cv(t.wallCv, name(direct, size)), cv(t.cpuCv, name(ours, size)), cv(t.cpuCv, name(direct, size)));
    }
    benchtimes::PrintGrowth(t, name(ours, kSmall), name(ours, kLarge),
                            "GetFeatureValidationInformation from 10,000 to 20,000 features (target: at most 2.2)");
    benchtimes::PrintGrowth(t, name(direct, kSmall), name(direct, kLarge), "insert and select, the same");
    return 0;
}
