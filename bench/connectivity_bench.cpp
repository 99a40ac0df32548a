// Validate of the node-edge connectivity helper (relationship 3 of the
// sample, pipeline connectivity on) over a validation set of 2,000 and of
// 4,000 pending two-node mains with four related features each, against
// opening the same set (GetValidationKOCollection). Each main has a valve at
// its start node, a hydrant at its end node (both in place, phases matching)
// and two service lines holding one of its nodes in their second support row,
// so every main runs every check. Prints the ratios of the medians (wall and
// CPU) at both sizes and how each side grows from the one to the other.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "BenchmarkTimes.h"
#include "SampleWorld.h"
#include "ado/Recordset.h"
#include "pelmora/features/KeyObject.h"
#include "pelmora/features/KeyObjects.h"
#include "interfaces/Components.h"
#include "interfaces/KeyObject.h"
#include "interfaces/Relationship.h"
#include "pelmora/relationships/RelationshipService.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "pelmora/validation_set/modFeatureValidationServiceSet.h"
#include "product/SqliteConnection.h"
#include "runtime/Collection.h"

namespace {

constexpr int kSmall = 2000;
constexpr int kMains = 4000;
constexpr int16_t kNodeEdge = 3;
constexpr int kFirstFid = 100000;

std::string N(int64_t v) { return std::to_string(v); }

void AddNetwork(product::SqliteConnection& db) {
    const std::string common = "INSERT INTO QTX_COMMON_N (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, NODE_1, NODE_2, "
                               "PHASE_CODE) VALUES (";
    const std::string geometry = " (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, SDO_GID, SDO_ESEQ, SDO_ETYPE, SDO_SEQ, "
                                 "SDO_X1, SDO_Y1, SDO_X2, SDO_Y2) VALUES (";
    int64_t commonId = 100000;
    for (int i = 0; i < kMains; ++i) {
        const int64_t main = kFirstFid + 10 * i, valve = main + 1, hydrant = main + 2, lineA = main + 3,
                      lineB = main + 4;
        const int64_t a = 1000000 + 2 * i, b = a + 1, x = 10000 + 20 * i, id = 100000 + i;
        auto keys = [](int64_t qtxId, int fno, int64_t fid, int cno, int cid) {
            return N(qtxId) + ", " + N(fno) + ", " + N(fid) + ", " + N(cno) + ", " + N(cid);
        };
        db.ExecuteRaw(common + keys(commonId++, 101, main, 1, 1) + ", " + N(a) + ", " + N(b) + ", 3)");
        db.ExecuteRaw(common + keys(commonId++, 102, valve, 1, 1) + ", " + N(a) + ", " + N(a) + ", 2)");
        db.ExecuteRaw(common + keys(commonId++, 103, hydrant, 1, 1) + ", " + N(b) + ", " + N(b) + ", 4)");
        for (auto [line, node] : {std::pair{lineA, a}, {lineB, b}}) {
            db.ExecuteRaw(common + keys(commonId++, 104, line, 1, 1) + ", " + N(3000000 + 2 * line) + ", " +
                          N(3000001 + 2 * line) + ", NULL)");
            db.ExecuteRaw(common + keys(commonId++, 104, line, 1, 2) + ", NULL, " + N(node) + ", NULL)");
        }
        db.ExecuteRaw("INSERT INTO WATER_MAIN_LN (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID) VALUES (" +
                      keys(id, 101, main, 12, 1) + ")");
        db.ExecuteRaw("INSERT INTO WATER_MAIN_LN_SDOGEOM" + geometry + keys(id, 101, main, 12, 1) + ", " + N(id) +
                      ", 0, 2, 0, " + N(x) + ", 10000, " + N(x + 10) + ", 10000)");
        db.ExecuteRaw("INSERT INTO VALVE_PT (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID) VALUES (" +
                      keys(id, 102, valve, 22, 1) + ")");
        db.ExecuteRaw("INSERT INTO VALVE_PT_SDOGEOM" + geometry + keys(id, 102, valve, 22, 1) + ", " + N(id) +
                      ", 0, 1, 0, " + N(x) + ", 10000, 1, 0)");
        db.ExecuteRaw("INSERT INTO HYDRANT_PT (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID) VALUES (" +
                      keys(id, 103, hydrant, 32, 1) + ")");
        db.ExecuteRaw("INSERT INTO HYDRANT_PT_SDOGEOM" + geometry + keys(id, 103, hydrant, 32, 1) + ", " + N(id) +
                      ", 0, 1, 0, " + N(x + 10) + ", 10000, NULL, NULL)");
    }
}

benchsupport::SampleWorld& World() {
    static benchsupport::SampleWorld world("pelmora-connectivity-bench", [](product::SqliteDataContext& setup) {
        AddNetwork(setup.Connection());
    });
    return world;
}

// The validation set of the first n mains, computed once.
struct Run {
    std::shared_ptr<ado::Recordset> set;
    std::shared_ptr<rt::Collection> pending = rt::Collection::New();
};

std::shared_ptr<pelmora::RelationshipService> TheService() {
    static auto service = [] {
        auto s = std::make_shared<pelmora::RelationshipService>();
        s->putref_DataContext(World().dc);
        return s;
    }();
    return service;
}

Run& TheRun(int n) {
    static std::map<int, Run> runs;
    auto [run, fresh] = runs.try_emplace(n);
    if (fresh) {
        std::shared_ptr<pelmora::IKeyObjects> mains = pelmora::KeyObjects::New();
        for (int i = 0; i < n; ++i) {
            auto key = pelmora::KeyObject::New();
            key->put_FNO(101);
            key->put_FID(kFirstFid + 10 * i);
            mains->Add(key);
        }
        run->second.set = TheService()->GetFeatureValidationInformation(mains);
        run->second.pending->Add(rt::Variant(int16_t{101}));
    }
    return run->second;
}

void BM_OpenTheSet(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    auto& run = TheRun(n);
    for (auto _ : state) {
        std::shared_ptr<pelmora::IKeyObjects> features;
        std::shared_ptr<pelmora::IComponents> components;
        int32_t count = 0;
        pelmora::GetValidationKOCollection(run.set, features, components, World().dc, count);
        if (count != n) state.SkipWithError("the set does not hold the mains");
    }
}

// Each Validate runs on a set opened afresh, as after a save: it reads the
// set's component and geometry rows itself. Opening and freeing the set are
// not timed. (Validating one opened set again and again timed one first read
// at 4,000 mains and one in three at 2,000.)
void BM_ValidateNodeEdge(benchmark::State& state) {
    auto& run = TheRun(static_cast<int>(state.range(0)));
    auto helper = TheService()->GetRelationshipHelper(kNodeEdge);
    for (auto _ : state) {
        state.PauseTiming();
        std::shared_ptr<pelmora::IKeyObjects> features;
        std::shared_ptr<pelmora::IComponents> components;
        int32_t count = 0;
        pelmora::GetValidationKOCollection(run.set, features, components, World().dc, count);
        auto errors = pelmora::CreateValidationRecordset();
        state.ResumeTiming();
        helper->Validate(features, components, run.set, run.pending, errors);
        state.PauseTiming();
        if (!(errors->get_BOF() && errors->get_EOF())) state.SkipWithError("a main was reported");
        features.reset();
        components.reset();
        state.ResumeTiming();
    }
}

BENCHMARK(BM_OpenTheSet)->Arg(kSmall)->Arg(kMains)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ValidateNodeEdge)->Arg(kSmall)->Arg(kMains)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    auto times = benchtimes::RunInterleaved(argc, argv);
    if (!times) return 1;
    benchtimes::PrintSizedComparison(*times, "BM_ValidateNodeEdge", "BM_OpenTheSet", kSmall, kMains,
                                     "Validate / opening the set", "Validate", "opening", "mains",
                                     "target: at most 3");
    return 0;
}
