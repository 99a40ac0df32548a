// Owner-side review of many-to-many ownership: main 1001 owning 5,000
// sampling stations, 4,500 links saved and 500 only in the feature cache,
// reviewed through relationship 6 (the links selected, the cached ones laid
// over them, each station opened), against opening the same 5,000 stations
// with OpenFeature in a loop. Prints the ratio at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "BenchmarkTimes.h"
#include "SampleWorld.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "pelmora/features/modFASCache.h"
#include "pelmora/interfaces/KeyObject.h"
#include "pelmora/relationships/RelationshipService.h"
#include "runtime/Collection.h"

namespace {

constexpr int kStations = 5000;
constexpr int kCachedOnly = 500;
constexpr int32_t kFirstFid = 100000;

void AddLinks(product::SqliteDataContext& dc) {
    auto& db = dc.Connection();
    const std::string insert =
        "INSERT INTO OWNER_LINK_N (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, QTX_OWNERFNO, QTX_OWNERFID) "
        "VALUES (?, 105, ?, 581, 1, 101, 1001)";
    auto statement = db.PrepareCached(insert);
    std::vector<rt::Variant> values(2);
    for (int i = 0; i < kStations - kCachedOnly; ++i) {
        values[0] = rt::Variant(int32_t{1000 + i});
        values[1] = rt::Variant(int32_t{kFirstFid + i});
        db.ExecutePrepared(statement, values, insert);
    }
}

struct World : benchsupport::SampleWorld {
    std::shared_ptr<pelmora::RelationshipService> service = std::make_shared<pelmora::RelationshipService>();
    std::shared_ptr<pelmora::FeatureAssemblyService> assembly = std::make_shared<pelmora::FeatureAssemblyService>();
    std::shared_ptr<pelmora::IKeyObject> main;

    World() : SampleWorld("pelmora-m2m-detail-bench", &AddLinks) {
        // The station class is the water quality role's.
        metadata->SetActiveUser(dc, "KLEE");
        service->putref_DataContext(dc);
        assembly->putref_DataContext(dc);
        pelmora::SetCaching(true);
        Establish();
    }
    // The 500 links only in the feature cache.
    void Establish() {
        main = assembly->OpenFeature(101, 1001);
        auto helper = service->GetRelationshipHelper(6);
        for (int i = kStations - kCachedOnly; i < kStations; ++i)
            helper->SilentEstablishRelationship(main, assembly->OpenFeature(105, kFirstFid + i), 0, 0);
    }
    ~World() {
        main.reset();
        assembly.reset();
        service.reset();
    }
};

World& TheWorld() {
    static World world;
    return world;
}

void BM_ReviewRelationship(benchmark::State& state) {
    World& w = TheWorld();
    auto helper = w.service->GetRelationshipHelper(6);
    int32_t found = 0;
    for (auto _ : state) {
        rt::Variant related = helper->ReviewRelationship(w.main);
        found = rt::QueryInterface<rt::Collection>(related.Obj())->Count();
    }
    // The sample's own station 5001 is owned by 1001 too.
    if (found != kStations + 1) state.SkipWithError(("found " + std::to_string(found)).c_str());
    state.SetItemsProcessed(state.iterations() * kStations);
}
BENCHMARK(BM_ReviewRelationship)->Unit(benchmark::kMillisecond);

// With the cache on every station comes from the feature cache after the
// first pass, as in the review; without it each is assembled afresh.
void OpenFeatureLoop(benchmark::State& state, bool cached) {
    World& w = TheWorld();
    int32_t opened = 0;
    pelmora::SetCaching(cached);
    for (auto _ : state) {
        opened = 0;
        for (int i = 0; i < kStations; ++i) {
            w.assembly->put_FeatureNumber(105);
            w.assembly->put_FeatureID(kFirstFid + i);
            opened += w.assembly->OpenFeature() ? 1 : 0;
        }
    }
    if (!cached) {
        // Back to the world the review runs in: the cached links again.
        pelmora::SetCaching(true);
        w.Establish();
    }
    if (opened != kStations) state.SkipWithError("not every station opened");
    state.SetItemsProcessed(state.iterations() * kStations);
}
void BM_OpenFeatureLoop(benchmark::State& state) { OpenFeatureLoop(state, true); }
void BM_OpenFeatureLoopUncached(benchmark::State& state) { OpenFeatureLoop(state, false); }
BENCHMARK(BM_OpenFeatureLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenFeatureLoopUncached)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    auto times = benchtimes::RunBenchmarks(argc, argv);
    if (!times) return 1;
    auto& t = *times;
    const char* ours = "BM_ReviewRelationship";
    for (const char* loop : {"BM_OpenFeatureLoop", "BM_OpenFeatureLoopUncached"})
        if (t.count(ours) && t.count(loop) && t[loop] > 0)
            std::printf("\nReviewRelationship / %s: %.2f (target: at most 1.3)", loop, t[ours] / t[loop]);
    std::printf("\n");
    return 0;
}
