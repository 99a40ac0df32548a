// The data context's hot paths: loading component rows by FID list,
// writing pending rows back, a package call with decoded lists.
#include <benchmark/benchmark.h>

#include <string>

#include "ado/Recordset.h"
#include "product/DatabasePackages.h"
#include "product/SqliteDataContext.h"

namespace {

std::shared_ptr<product::SqliteDataContext> MakeNetwork(int rows) {
    auto dc = product::SqliteDataContext::Open(":memory:");
    dc->ExecuteScript(
        "CREATE TABLE PIPE_N (QTX_ID NUMBER(10), QTX_FNO NUMBER(5), QTX_FID NUMBER(10), QTX_CNO NUMBER(5), "
        "QTX_CID NUMBER(5), MATERIAL VARCHAR2(20), DIAMETER NUMBER(5,1), INSTALLED DATE, "
        "PRIMARY KEY (QTX_FID, QTX_CNO, QTX_CID));");
    auto rs = dc->OpenRecordset("select * from PIPE_N");
    for (int k = 0; k < rows; ++k) {
        rs->AddNew();
        rs->SetValue(rt::Variant("QTX_ID"), rt::Variant(int32_t{k + 1}));
        rs->SetValue(rt::Variant("QTX_FNO"), rt::Variant(int32_t{101}));
        rs->SetValue(rt::Variant("QTX_FID"), rt::Variant(int32_t{1000 + k}));
        rs->SetValue(rt::Variant("QTX_CNO"), rt::Variant(int32_t{11}));
        rs->SetValue(rt::Variant("QTX_CID"), rt::Variant(int32_t{1}));
        rs->SetValue(rt::Variant("MATERIAL"), rt::Variant("PVC"));
        rs->SetValue(rt::Variant("DIAMETER"), rt::Variant(150.5));
        rs->SetValue(rt::Variant("INSTALLED"), rt::Variant::Date(40000.5));
        rs->Update();
    }
    dc->UpdateRecordset(rs, 3);
    return dc;
}

void BM_OpenComponentRowsByFidList(benchmark::State& state) {
    const int fids = static_cast<int>(state.range(0));
    auto dc = MakeNetwork(5000);
    std::vector<rt::Variant> values;
    std::string sql = "SELECT * FROM PIPE_N WHERE QTX_FID IN (";
    for (int k = 0; k < fids; ++k) {
        sql += k == 0 ? "?" : ", ?";
        values.push_back(rt::Variant(int32_t{1000 + k * 3}));
    }
    sql += ") AND QTX_CNO = ?";
    values.push_back(rt::Variant(int16_t{11}));
    rt::Variant params = rt::Variant::ArrayOf(values);
    for (auto _ : state) {
        auto rs = dc->OpenParameterizedRecordset(sql, 2, 4, 1, params);
        benchmark::DoNotOptimize(rs);
    }
    state.SetItemsProcessed(state.iterations() * fids);
}
BENCHMARK(BM_OpenComponentRowsByFidList)->Arg(1)->Arg(100)->Arg(900);

void BM_UpdateRecordsetChangedRows(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    auto dc = MakeNetwork(rows);
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto rs = dc->OpenRecordset("select * from PIPE_N");
        for (; !rs->get_EOF(); rs->MoveNext()) {
            rs->SetValue(rt::Variant("MATERIAL"), rt::Variant(round % 2 ? "PE" : "DI"));
            rs->Update();
        }
        ++round;
        state.ResumeTiming();
        dc->UpdateRecordset(rs, 3);
    }
    state.SetItemsProcessed(state.iterations() * rows);
}
BENCHMARK(BM_UpdateRecordsetChangedRows)->Arg(100)->Arg(2000);

// Plain INSERT texts through the session, one row each, as the system's
// own writes outside the work-operations package go.
void BM_SessionInsertStatements(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    auto dc = MakeNetwork(0);
    dc->Commit();
    const std::string sql =
        "INSERT INTO PIPE_N (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, MATERIAL, DIAMETER) VALUES (?, 101, ?, 11, 1, ?, ?)";
    rt::Variant affected;
    for (auto _ : state) {
        for (int k = 0; k < rows; ++k) {
            rt::Variant params = rt::Variant::ArrayOf(
                {rt::Variant(int32_t{k + 1}), rt::Variant(int32_t{1000 + k}), rt::Variant("PVC"), rt::Variant(150.5 + k % 7)});
            dc->ExecuteParameterizedSQL(sql, affected, 1, params);
        }
        state.PauseTiming();
        dc->Rollback();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * rows);
}
BENCHMARK(BM_SessionInsertStatements)->Arg(1000)->Arg(2000);

void BM_DecodeStringList(benchmark::State& state) {
    // A full list of 30000 characters, as one work-operations argument holds.
    std::string list;
    while (list.size() < 29980) list += "10:Straße 12;";
    rt::Variant v(list);
    for (auto _ : state) benchmark::DoNotOptimize(product::DecodeStringList(v));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(list.size()));
}
BENCHMARK(BM_DecodeStringList);

}  // namespace

BENCHMARK_MAIN();
