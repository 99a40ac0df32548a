// Saving component rows of the sample network: 10,000 changed and 2,000 new
// rows of one component written through the component database service
// (lists, blocks, the work-operations package), against the same rows
// written with prepared UPDATE and INSERT statements in one SQLite
// transaction. Each run is rolled back, so every iteration writes the same
// rows.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <memory>
#include <string>
#include <vector>

#include "ado/Recordset.h"
#include "SampleWorld.h"
#include "pelmora/features/Component.h"
#include "pelmora/features/Components.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/persistence/ComponentDatabaseService.h"
#include "product/SqliteDataContext.h"
#include "runtime/Vb.h"

namespace {

constexpr int kChanged = 10000;
constexpr int kAdded = 2000;
constexpr int kFirstFid = 100000;

struct World : benchsupport::SampleWorld {
    std::shared_ptr<pelmora::Component> mains;

    World()
        : SampleWorld("pelmora-persistence-bench", [](product::SqliteDataContext& setup) {
              // 10,000 more water mains to change.
              setup.Connection().ExecuteRaw(
                  "WITH RECURSIVE n(k) AS (SELECT 0 UNION ALL SELECT k + 1 FROM n WHERE k < " +
                  std::to_string(kChanged - 1) +
                  ") INSERT INTO WATER_MAIN_N (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, MATERIAL, DIAMETER, "
                  "PRESSURE_CLASS, LENGTH_M, ZONE_ID) SELECT 1000 + k, 101, " +
                  std::to_string(kFirstFid) + " + k, 11, 1, 'PVC', 150, 10, 50 + k, 3 FROM n");
          }) {
        mains = std::make_shared<pelmora::Component>();
        mains->putref_DataContext(dc);
        mains->put_CNO(11);
        auto fids = rt::Variant::MakeArray(rt::vbLong, 0, kChanged - 1);
        for (int k = 0; k < kChanged; ++k) fids.ArrayMut()->Set(k, rt::Variant(int32_t{kFirstFid + k}));
        mains->AddFID(fids);
        auto rs = mains->get_Recordset();
        int k = 0;
        for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext(), ++k) {
            rs->SetValue(rt::Variant("MATERIAL"), rt::Variant(k % 2 ? "DI" : "Guss; \"alt\""));
            rs->SetValue(rt::Variant("DIAMETER"), rt::Variant(200.5 + k % 7));
            rs->Update();
        }
        for (int n = 0; n < kAdded; ++n) {
            rs->AddNew();
            rs->SetValue(rt::Variant("QTX_ID"), rt::Variant(int32_t{20000 + n}));
            rs->SetValue(rt::Variant("QTX_FNO"), rt::Variant(int32_t{101}));
            rs->SetValue(rt::Variant("QTX_FID"), rt::Variant(int32_t{kFirstFid + kChanged + n}));
            rs->SetValue(rt::Variant("QTX_CNO"), rt::Variant(int32_t{11}));
            rs->SetValue(rt::Variant("QTX_CID"), rt::Variant(int32_t{1}));
            rs->SetValue(rt::Variant("MATERIAL"), rt::Variant("STEEL"));
            rs->SetValue(rt::Variant("DIAMETER"), rt::Variant(300.0));
            rs->SetValue(rt::Variant("PRESSURE_CLASS"), rt::Variant(int32_t{16}));
            rs->SetValue(rt::Variant("LENGTH_M"), rt::Variant(12.5 + n));
            rs->SetValue(rt::Variant("ZONE_ID"), rt::Variant(int32_t{4}));
            rs->Update();
        }
    }
    ~World() { mains.reset(); }
};

World& TheWorld() {
    static World world;
    return world;
}

void BM_SaveThroughComponentDatabaseService(benchmark::State& state) {
    World& w = TheWorld();
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
    state.SetItemsProcessed(state.iterations() * (kChanged + kAdded));
}
BENCHMARK(BM_SaveThroughComponentDatabaseService)->Unit(benchmark::kMillisecond);

// The part of the save that turns the pending rows into lists, without
// sending them.
void BM_QueueOnly(benchmark::State& state) {
    World& w = TheWorld();
    for (auto _ : state) {
        auto service = std::make_shared<pelmora::ComponentDatabaseService>();
        service->putref_DataContext(w.dc);
        service->BeginComponentOperations();
        service->UpdateComponent(w.mains);
        service->CancelComponentOperations();
    }
    state.SetItemsProcessed(state.iterations() * (kChanged + kAdded));
}
BENCHMARK(BM_QueueOnly)->Unit(benchmark::kMillisecond);

// The same rows with prepared statements: values taken from the recordset
// beforehand, so only the writing is timed.
void BM_SamePreparedStatements(benchmark::State& state) {
    World& w = TheWorld();
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
    for (auto _ : state) {
        w.dc->Connection().EnsureTransaction();
        sqlite3_stmt* update = nullptr;
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db,
                           "UPDATE WATER_MAIN_N SET MATERIAL = ?, DIAMETER = ? WHERE QTX_FID = ? AND QTX_CNO = 11 "
                           "AND QTX_CID = 1",
                           -1, &update, nullptr);
        sqlite3_prepare_v2(db,
                           "INSERT INTO WATER_MAIN_N (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, MATERIAL, DIAMETER, "
                           "PRESSURE_CLASS, LENGTH_M, ZONE_ID) VALUES (?, 101, ?, 11, 1, ?, ?, ?, ?, ?)",
                           -1, &insert, nullptr);
        for (const auto& c : changes) {
            sqlite3_bind_text(update, 1, c.material.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_double(update, 2, c.diameter);
            sqlite3_bind_int64(update, 3, c.fid);
            if (sqlite3_step(update) != SQLITE_DONE) state.SkipWithError("update failed");
            sqlite3_reset(update);
        }
        for (const auto& a : added) {
            sqlite3_bind_int64(insert, 1, a.id);
            sqlite3_bind_int64(insert, 2, a.fid);
            sqlite3_bind_text(insert, 3, a.material.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_double(insert, 4, a.diameter);
            sqlite3_bind_int64(insert, 5, a.pressure);
            sqlite3_bind_double(insert, 6, a.length);
            sqlite3_bind_int64(insert, 7, a.zone);
            if (sqlite3_step(insert) != SQLITE_DONE) state.SkipWithError("insert failed");
            sqlite3_reset(insert);
        }
        sqlite3_finalize(update);
        sqlite3_finalize(insert);
        state.PauseTiming();
        w.dc->Rollback();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * (kChanged + kAdded));
}
BENCHMARK(BM_SamePreparedStatements)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
