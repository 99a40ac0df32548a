// Validate of the node-edge connectivity helper (relationship 3 of the
// sample, pipeline connectivity on) over a validation set of 2,000 pending
// two-node mains with four related features each, against opening the same
// set (GetValidationKOCollection). Each main has a valve at its start node, a
// hydrant at its end node (both in place, phases matching) and two service
// lines holding one of its nodes in their second support row, so every main
// runs every check. Prints how Validate compares with the opening.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "BenchmarkTimes.h"
#include "SampleWorld.h"
#include "ado/Recordset.h"
#include "pelmora/features/KeyObject.h"
#include "pelmora/features/KeyObjects.h"
#include "pelmora/interfaces/Components.h"
#include "pelmora/interfaces/KeyObject.h"
#include "pelmora/interfaces/Relationship.h"
#include "pelmora/relationships/RelationshipService.h"
#include "pelmora/validation/modFeatureValidationService.h"
#include "pelmora/validation/modFeatureValidationServiceSet.h"
#include "product/SqliteConnection.h"
#include "runtime/Collection.h"

namespace {

constexpr int kMains = 2000;
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

// The validation set of the mains, computed once.
struct Run {
    std::shared_ptr<pelmora::RelationshipService> service;
    std::shared_ptr<ado::Recordset> set;
    std::shared_ptr<rt::Collection> pending = rt::Collection::New();
};

Run& TheRun() {
    static Run run = [] {
        Run r;
        auto& world = World();
        r.service = std::make_shared<pelmora::RelationshipService>();
        r.service->putref_DataContext(world.dc);
        std::shared_ptr<pelmora::IKeyObjects> mains = pelmora::KeyObjects::New();
        for (int i = 0; i < kMains; ++i) {
            auto key = pelmora::KeyObject::New();
            key->put_FNO(101);
            key->put_FID(kFirstFid + 10 * i);
            mains->Add(key);
        }
        r.set = r.service->GetFeatureValidationInformation(mains);
        r.pending->Add(rt::Variant(int16_t{101}));
        return r;
    }();
    return run;
}

void BM_OpenTheSet(benchmark::State& state) {
    auto& run = TheRun();
    for (auto _ : state) {
        std::shared_ptr<pelmora::IKeyObjects> features;
        std::shared_ptr<pelmora::IComponents> components;
        int32_t count = 0;
        pelmora::GetValidationKOCollection(run.set, features, components, World().dc, count);
        if (count != kMains) state.SkipWithError("the set does not hold the mains");
    }
}

void BM_ValidateNodeEdge(benchmark::State& state) {
    auto& run = TheRun();
    std::shared_ptr<pelmora::IKeyObjects> features;
    std::shared_ptr<pelmora::IComponents> components;
    int32_t count = 0;
    pelmora::GetValidationKOCollection(run.set, features, components, World().dc, count);
    auto helper = run.service->GetRelationshipHelper(kNodeEdge);
    for (auto _ : state) {
        auto errors = pelmora::CreateValidationRecordset();
        helper->Validate(features, components, run.set, run.pending, errors);
        if (!(errors->get_BOF() && errors->get_EOF())) state.SkipWithError("a main was reported");
    }
}

BENCHMARK(BM_OpenTheSet)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ValidateNodeEdge)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    auto times = benchtimes::RunBenchmarks(argc, argv);
    if (!times) return 1;
    auto& t = *times;
    if (t.count("BM_ValidateNodeEdge") && t.count("BM_OpenTheSet") && t["BM_OpenTheSet"] > 0)
        std::printf("\nValidate / opening the set (target <= 3): %.2f\n", t["BM_ValidateNodeEdge"] / t["BM_OpenTheSet"]);
    return 0;
}
