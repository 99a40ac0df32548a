// Owner-side review of many-to-many ownership: main 1001 owning 2,500 and
// 5,000 sampling stations (the first 90 % of the links saved, the rest only in
// the feature cache), reviewed through relationship 6 (the links selected,
// the cached ones laid over them, each station opened), against opening the
// same stations with OpenFeature in a loop, from the feature cache as in the
// review. Each size is a main of its own (1001 owns the larger set, 1002 the
// smaller), and the feature cache holds the features of that set only. BM_LinkQuery times the review's link query alone, as the data
// context runs it, to show what of the review is the query. Repetitions run
// interleaved; prints the ratios of the medians (wall and CPU) at both sizes
// and how each side grows from the one to the other.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "BenchmarkTimes.h"
#include "SampleWorld.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "pelmora/features/modFASCache.h"
#include "interfaces/KeyObject.h"
#include "pelmora/relationships/RelationshipService.h"
#include "runtime/Collection.h"

namespace {

constexpr int kSmall = 2500;
constexpr int kLarge = 5000;
constexpr int32_t kFirstFid = 100000;
// The stations of each size: main 1001 owns the large set, 1002 the small one.
struct Set {
    int32_t main;
    int32_t firstFid;
    int count;
};
const std::map<int, Set> kSets = {{kLarge, {1001, kFirstFid, kLarge}}, {kSmall, {1002, kFirstFid + kLarge, kSmall}}};

int CachedOnly(int count) { return count / 10; }

void AddLinks(product::SqliteDataContext& dc) {
    auto& db = dc.Connection();
    const std::string insert =
        "INSERT INTO OWNER_LINK_N (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, QTX_OWNERFNO, QTX_OWNERFID) "
        "VALUES (?, 105, ?, 581, 1, 101, ?)";
    auto statement = db.PrepareCached(insert);
    std::vector<rt::Variant> values(3);
    int32_t id = 1000;
    for (const auto& [n, set] : kSets) {
        for (int i = 0; i < set.count - CachedOnly(set.count); ++i) {
            values[0] = rt::Variant(id++);
            values[1] = rt::Variant(set.firstFid + i);
            values[2] = rt::Variant(set.main);
            db.ExecutePrepared(statement, values, insert);
        }
    }
}

struct World : benchsupport::SampleWorld {
    std::shared_ptr<pelmora::RelationshipService> service = std::make_shared<pelmora::RelationshipService>();
    std::shared_ptr<pelmora::FeatureAssemblyService> assembly = std::make_shared<pelmora::FeatureAssemblyService>();
    std::shared_ptr<pelmora::IKeyObject> main;
    int prepared = 0;

    World() : SampleWorld("pelmora-m2m-detail-bench", &AddLinks) {
        // The station class is the water quality role's.
        metadata->SetActiveUser(dc, "KLEE");
        service->putref_DataContext(dc);
        assembly->putref_DataContext(dc);
    }
    // A feature cache of one set only, as an editor's would be: its main,
    // every station opened once (so both sides find them cached) and the
    // links that are only in the cache.
    void Prepare(const Set& set) {
        if (prepared == set.count) return;
        pelmora::SetCaching(true);
        auto helper = service->GetRelationshipHelper(6);
        main = assembly->OpenFeature(101, set.main);
        for (int i = 0; i < set.count; ++i) {
            auto station = assembly->OpenFeature(105, set.firstFid + i);
            if (i >= set.count - CachedOnly(set.count)) helper->SilentEstablishRelationship(main, station, 0, 0);
        }
        prepared = set.count;
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
    const Set& set = kSets.at(static_cast<int>(state.range(0)));
    w.Prepare(set);
    auto helper = w.service->GetRelationshipHelper(6);
    auto main = w.main;
    int32_t found = 0;
    for (auto _ : state) {
        rt::Variant related = helper->ReviewRelationship(main);
        found = rt::QueryInterface<rt::Collection>(related.Obj())->Count();
    }
    // The sample's own station 5001 is owned by 1001 too.
    const int32_t expected = set.count + (set.main == 1001 ? 1 : 0);
    if (found != expected) state.SkipWithError(("found " + std::to_string(found)).c_str());
    state.SetItemsProcessed(state.iterations() * set.count);
}

void BM_OpenFeatureLoop(benchmark::State& state) {
    World& w = TheWorld();
    const Set& set = kSets.at(static_cast<int>(state.range(0)));
    w.Prepare(set);
    int32_t opened = 0;
    for (auto _ : state) {
        opened = 0;
        for (int i = 0; i < set.count; ++i) {
            w.assembly->put_FeatureNumber(105);
            w.assembly->put_FeatureID(set.firstFid + i);
            opened += w.assembly->OpenFeature() ? 1 : 0;
        }
    }
    if (opened != set.count) state.SkipWithError("not every station opened");
    state.SetItemsProcessed(state.iterations() * set.count);
}

// The review's own query, through the data context, without the overlay.
void BM_LinkQuery(benchmark::State& state) {
    World& w = TheWorld();
    const Set& set = kSets.at(static_cast<int>(state.range(0)));
    const std::string sql = "select * from OWNER_LINK_N where QTX_OWNERFID = ?   and QTX_OWNERFNO = ?";
    auto parameters = rt::Variant::ArrayOf({rt::Variant(set.main), rt::Variant(int16_t{101})});
    int32_t rows = 0;
    for (auto _ : state) {
        auto rs = w.dc->OpenParameterizedRecordset(sql, ado::adOpenKeyset, ado::adLockBatchOptimistic, ado::adCmdText,
                                                   parameters);
        rows = rs->get_RecordCount();
    }
    if (rows < set.count - CachedOnly(set.count)) state.SkipWithError("links missing");
    state.SetItemsProcessed(state.iterations() * set.count);
}

BENCHMARK(BM_ReviewRelationship)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenFeatureLoop)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LinkQuery)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    auto times = benchtimes::RunInterleaved(argc, argv);
    if (!times) return 1;
    std::printf("\n");
    // What each side costs a station: the loop's is one cached lookup.
    for (const char* bench : {"BM_ReviewRelationship", "BM_LinkQuery", "BM_OpenFeatureLoop"}) {
        for (int n : {kSmall, kLarge}) {
            const std::string name = std::string(bench) + "/" + std::to_string(n);
            if (!times->Has(name)) continue;
            std::printf("%-22s %5d stations: %6.0f ns per station wall, %6.0f ns CPU\n", bench, n,
                        times->wall.at(name) * 1e6 / n, times->cpu.at(name) * 1e6 / n);
        }
    }
    for (int n : {kSmall, kLarge}) {
        const std::string size = "/" + std::to_string(n);
        const std::string stations = std::to_string(n) + " stations";
        benchtimes::PrintRatio(*times, "BM_ReviewRelationship" + size, "BM_OpenFeatureLoop" + size,
                               ("ReviewRelationship / cached OpenFeature loop, " + stations).c_str(),
                               "target: at most 3");
        benchtimes::PrintRatio(*times, "BM_LinkQuery" + size, "BM_OpenFeatureLoop" + size,
                               ("link query alone / cached OpenFeature loop, " + stations).c_str(), "part of the review");
    }
    const std::string small = "/" + std::to_string(kSmall), large = "/" + std::to_string(kLarge);
    for (const char* bench : {"BM_ReviewRelationship", "BM_OpenFeatureLoop", "BM_LinkQuery"})
        benchtimes::PrintGrowth(*times, bench + small, bench + large, (std::string(bench) + ", 2,500 to 5,000 stations").c_str());
    return 0;
}
