// Saving component rows of the sample network: n changed and n/5 new rows
// of one component (n = 1,000, 10,000 and 100,000) written through the
// component database service (lists, blocks, the work-operations package),
// against the same rows written with prepared UPDATE and INSERT statements
// in one SQLite transaction. Each run is rolled back, so every iteration
// writes the same rows.
//
// The anchor is SQLite as a user would tune it: statements prepared once,
// values bound as the columns declare them, and a page cache that holds the
// table (the service's connection is the same, so it has that cache too).
// Building the pending rows is setup, outside every timed part.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BenchmarkTimes.h"
#include "SampleWorld.h"
#include "ado/Recordset.h"
#include "pelmora/features/Component.h"
#include "pelmora/features/Components.h"
#include "pelmora/persistence/ComponentDatabaseService.h"
#include "product/SqliteDataContext.h"
#include "runtime/Vb.h"

namespace {

constexpr int kFirstFid = 100000;
const int kSizes[] = {1000, 10000, 100000};

struct World : benchsupport::SampleWorld {
    int changed;
    int added;
    std::shared_ptr<pelmora::Component> mains;

    explicit World(int n)
        : SampleWorld("pelmora-persistence-bench-" + std::to_string(n),
                      [n](product::SqliteDataContext& setup) {
                          // n more water mains to change.
                          setup.Connection().ExecuteRaw(
                              "WITH RECURSIVE n(k) AS (SELECT 0 UNION ALL SELECT k + 1 FROM n WHERE k < " +
                              std::to_string(n - 1) +
                              ") INSERT INTO WATER_MAIN_N (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, MATERIAL, "
                              "DIAMETER, PRESSURE_CLASS, LENGTH_M, ZONE_ID) SELECT 1000000 + k, 101, " +
                              std::to_string(kFirstFid) + " + k, 11, 1, 'PVC', 150, 10, 50 + k, 3 FROM n");
                      }),
          changed(n),
          added(n / 5) {
        // 256 MiB: the table and its indexes stay in memory at every size.
        dc->Connection().ExecuteRaw("PRAGMA cache_size = -262144");
        mains = std::make_shared<pelmora::Component>();
        mains->putref_DataContext(dc);
        mains->put_CNO(11);
        auto fids = rt::Variant::MakeArray(rt::vbLong, 0, changed - 1);
        for (int k = 0; k < changed; ++k) fids.ArrayMut()->Set(k, rt::Variant(int32_t{kFirstFid + k}));
        mains->AddFID(fids);
        auto rs = mains->get_Recordset();
        int k = 0;
        for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext(), ++k) {
            rs->SetValue(rt::Variant("MATERIAL"), rt::Variant(k % 2 ? "DI" : "Guss; \"alt\""));
            rs->SetValue(rt::Variant("DIAMETER"), rt::Variant(200.5 + k % 7));
            rs->Update();
        }
        for (int a = 0; a < added; ++a) {
            rs->AddNew();
            rs->SetValue(rt::Variant("QTX_ID"), rt::Variant(int32_t{2000000 + a}));
            rs->SetValue(rt::Variant("QTX_FNO"), rt::Variant(int32_t{101}));
            rs->SetValue(rt::Variant("QTX_FID"), rt::Variant(int32_t{kFirstFid + changed + a}));
            rs->SetValue(rt::Variant("QTX_CNO"), rt::Variant(int32_t{11}));
            rs->SetValue(rt::Variant("QTX_CID"), rt::Variant(int32_t{1}));
            rs->SetValue(rt::Variant("MATERIAL"), rt::Variant("STEEL"));
            rs->SetValue(rt::Variant("DIAMETER"), rt::Variant(300.0));
            rs->SetValue(rt::Variant("PRESSURE_CLASS"), rt::Variant(int32_t{16}));
            rs->SetValue(rt::Variant("LENGTH_M"), rt::Variant(12.5 + a));
            rs->SetValue(rt::Variant("ZONE_ID"), rt::Variant(int32_t{4}));
            rs->Update();
        }
    }
    ~World() { mains.reset(); }
};

// One world per size, built on first use.
World& TheWorld(int n) {
    static std::map<int, std::unique_ptr<World>> worlds;
    auto& world = worlds[n];
    if (!world) world = std::make_unique<World>(n);
    return *world;
}

void BM_SaveThroughComponentDatabaseService(benchmark::State& state, int n) {
    World& w = TheWorld(n);
    for (auto _ : state) {
        auto service = std::make_shared<pelmora::ComponentDatabaseService>();
        service->putref_DataContext(w.dc);
        service->BeginComponentOperations();
        service->UpdateComponent(w.mains);
        service->EndComponentOperations();
        state.PauseTiming();
        w.dc->Rollback();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * (w.changed + w.added));
}

// The part of the save that turns the pending rows into lists, without
// sending them.
void BM_QueueOnly(benchmark::State& state, int n) {
    World& w = TheWorld(n);
    for (auto _ : state) {
        auto service = std::make_shared<pelmora::ComponentDatabaseService>();
        service->putref_DataContext(w.dc);
        service->BeginComponentOperations();
        service->UpdateComponent(w.mains);
        service->CancelComponentOperations();
    }
    state.SetItemsProcessed(state.iterations() * (w.changed + w.added));
}

// The same rows with prepared statements: values taken from the recordset
// and statements prepared beforehand, so only the writing is timed.
void BM_SamePreparedStatements(benchmark::State& state, int n) {
    World& w = TheWorld(n);
    struct Change {
        std::string material;
        double diameter;
        int64_t fid;
    };
    struct Added {
        int64_t id, fid;
        std::string material;
        double diameter, length;
        int64_t pressure, zone;
    };
    std::vector<Change> changes;
    std::vector<Added> added;
    auto rs = w.mains->get_Recordset();
    rs->put_Filter(rt::Variant(int32_t{ado::adFilterPendingRecords}));
    for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext()) {
        auto v = [&](const char* f) { return rs->GetValue(rt::Variant(f)); };
        if (rs->get_EditMode() == ado::adEditAdd)
            added.push_back({rt::CLng(v("QTX_ID")), rt::CLng(v("QTX_FID")), rt::CStr(v("MATERIAL")), rt::CDbl(v("DIAMETER")),
                             rt::CDbl(v("LENGTH_M")), rt::CLng(v("PRESSURE_CLASS")), rt::CLng(v("ZONE_ID"))});
        else
            changes.push_back({rt::CStr(v("MATERIAL")), rt::CDbl(v("DIAMETER")), rt::CLng(v("QTX_FID"))});
    }
    rs->put_Filter(rt::Variant(int32_t{ado::adFilterNone}));
    sqlite3* db = w.dc->Connection().Handle();
    sqlite3_stmt* update = nullptr;
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v3(db,
                       "UPDATE WATER_MAIN_N SET MATERIAL = ?, DIAMETER = ? WHERE QTX_FID = ? AND QTX_CNO = 11 "
                       "AND QTX_CID = 1",
                       -1, SQLITE_PREPARE_PERSISTENT, &update, nullptr);
    sqlite3_prepare_v3(db,
                       "INSERT INTO WATER_MAIN_N (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, MATERIAL, DIAMETER, "
                       "PRESSURE_CLASS, LENGTH_M, ZONE_ID) VALUES (?, 101, ?, 11, 1, ?, ?, ?, ?, ?)",
                       -1, SQLITE_PREPARE_PERSISTENT, &insert, nullptr);
    for (auto _ : state) {
        w.dc->Connection().EnsureTransaction();
        for (const auto& c : changes) {
            sqlite3_bind_text(update, 1, c.material.c_str(), static_cast<int>(c.material.size()), SQLITE_STATIC);
            sqlite3_bind_double(update, 2, c.diameter);
            sqlite3_bind_int64(update, 3, c.fid);
            if (sqlite3_step(update) != SQLITE_DONE) state.SkipWithError("update failed");
            sqlite3_reset(update);
        }
        for (const auto& a : added) {
            sqlite3_bind_int64(insert, 1, a.id);
            sqlite3_bind_int64(insert, 2, a.fid);
            sqlite3_bind_text(insert, 3, a.material.c_str(), static_cast<int>(a.material.size()), SQLITE_STATIC);
            sqlite3_bind_double(insert, 4, a.diameter);
            sqlite3_bind_int64(insert, 5, a.pressure);
            sqlite3_bind_double(insert, 6, a.length);
            sqlite3_bind_int64(insert, 7, a.zone);
            if (sqlite3_step(insert) != SQLITE_DONE) state.SkipWithError("insert failed");
            sqlite3_reset(insert);
        }
        state.PauseTiming();
        w.dc->Rollback();
        state.ResumeTiming();
    }
    sqlite3_finalize(update);
    sqlite3_finalize(insert);
    state.SetItemsProcessed(state.iterations() * (w.changed + w.added));
}

// One name per size, so that the ratio lines find each.
std::string Named(const char* name, int n) { return std::string(name) + "/" + std::to_string(n); }

void RegisterAll() {
    for (auto [name, fn] : {std::pair{"BM_SamePreparedStatements", &BM_SamePreparedStatements},
                            {"BM_SaveThroughComponentDatabaseService", &BM_SaveThroughComponentDatabaseService},
                            {"BM_QueueOnly", &BM_QueueOnly}})
        for (int n : kSizes)
            benchmark::RegisterBenchmark(Named(name, n).c_str(), [fn, n](benchmark::State& s) { fn(s, n); })
                ->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
    RegisterAll();
    auto times = benchtimes::RunBenchmarks(argc, argv);
    if (!times) return 1;
    auto& t = *times;
    std::printf("\n");
    for (int n : kSizes) {
        const std::string save = Named("BM_SaveThroughComponentDatabaseService", n);
        const std::string anchor = Named("BM_SamePreparedStatements", n);
        if (t.count(save) && t.count(anchor) && t[anchor] > 0)
            std::printf("save / prepared statements, %d changed + %d new rows (target <= 2): %.2f\n", n, n / 5,
                        t[save] / t[anchor]);
    }
    return 0;
}
