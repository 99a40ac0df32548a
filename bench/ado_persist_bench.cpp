// Opening a persisted recordset of 100,000 rows and 10 mixed columns, against
// reading the same rows from SQLite with sqlite3_step.
#include <benchmark/benchmark.h>

#include <vector>

#include "ado/Recordset.h"
#include "ado_bench_data.h"

namespace {

using adobench::Files;

void BM_LoadImage(benchmark::State& state) {
    const Files& files = Files::Get();
    for (auto _ : state) {
        ado::RecordsetImage img = ado::LoadImage(files.raw);
        benchmark::DoNotOptimize(img.values.data());
        if (img.RowCount() != adobench::kRows) state.SkipWithError("wrong row count");
    }
    state.SetItemsProcessed(state.iterations() * adobench::kRows);
}
BENCHMARK(BM_LoadImage)->Unit(benchmark::kMillisecond);

// The whole Open(path): the file read into an editable client-side recordset.
void BM_OpenRecordset(benchmark::State& state) {
    const Files& files = Files::Get();
    for (auto _ : state) {
        ado::RecordsetPtr rs = ado::Recordset::Create();
        rs->Open(rt::Variant(files.raw));
        if (rs->get_RecordCount() != adobench::kRows) state.SkipWithError("wrong row count");
        benchmark::DoNotOptimize(rs.get());
    }
    state.SetItemsProcessed(state.iterations() * adobench::kRows);
}
BENCHMARK(BM_OpenRecordset)->Unit(benchmark::kMillisecond);

// Deserializing bytes already in memory: the format's own cost without I/O.
void BM_DeserializeImage(benchmark::State& state) {
    const std::string bytes = ado::SerializeImage(adobench::MakeImage());
    for (auto _ : state) {
        ado::RecordsetImage img = ado::DeserializeImage(bytes);
        benchmark::DoNotOptimize(img.values.data());
    }
    state.SetItemsProcessed(state.iterations() * adobench::kRows);
    state.counters["bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_DeserializeImage)->Unit(benchmark::kMillisecond);

void BM_SaveImage(benchmark::State& state) {
    const ado::RecordsetImage img = adobench::MakeImage();
    const std::string path = adobench::TempPath("save.RAW");
    for (auto _ : state) ado::SaveImage(path, img);
    std::remove(path.c_str());
    state.SetItemsProcessed(state.iterations() * adobench::kRows);
}
BENCHMARK(BM_SaveImage)->Unit(benchmark::kMillisecond);

// The same rows through sqlite3_step into the same row-major Variants.
void BM_SqliteStepToVariants(benchmark::State& state) {
    const Files& files = Files::Get();
    for (auto _ : state) {
        sqlite3* db = nullptr;
        sqlite3_open_v2(files.sqlite.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "SELECT * FROM BENCH_OPTABLE", -1, &st, nullptr);
        std::vector<rt::Variant> values;
        values.reserve(static_cast<size_t>(adobench::kRows) * adobench::kFields);
        while (sqlite3_step(st) == SQLITE_ROW) {
            for (int c = 0; c < adobench::kFields; ++c) {
                switch (sqlite3_column_type(st, c)) {
                    case SQLITE_INTEGER: values.emplace_back(static_cast<int32_t>(sqlite3_column_int(st, c))); break;
                    case SQLITE_FLOAT: values.emplace_back(sqlite3_column_double(st, c)); break;
                    case SQLITE_TEXT:
                        values.emplace_back(std::string_view(reinterpret_cast<const char*>(sqlite3_column_text(st, c)),
                                                             static_cast<size_t>(sqlite3_column_bytes(st, c))));
                        break;
                    default: values.push_back(rt::Variant::Null()); break;
                }
            }
        }
        sqlite3_finalize(st);
        sqlite3_close(db);
        benchmark::DoNotOptimize(values.data());
        if (values.size() != static_cast<size_t>(adobench::kRows) * adobench::kFields)
            state.SkipWithError("wrong value count");
    }
    state.SetItemsProcessed(state.iterations() * adobench::kRows);
}
BENCHMARK(BM_SqliteStepToVariants)->Unit(benchmark::kMillisecond);

// sqlite3_step alone, reading every column but keeping nothing: the floor.
void BM_SqliteStepOnly(benchmark::State& state) {
    const Files& files = Files::Get();
    for (auto _ : state) {
        sqlite3* db = nullptr;
        sqlite3_open_v2(files.sqlite.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "SELECT * FROM BENCH_OPTABLE", -1, &st, nullptr);
        int64_t sum = 0;
        while (sqlite3_step(st) == SQLITE_ROW)
            for (int c = 0; c < adobench::kFields; ++c) {
                if (sqlite3_column_type(st, c) == SQLITE_TEXT)
                    sum += sqlite3_column_bytes(st, c);
                else
                    sum += static_cast<int64_t>(sqlite3_column_double(st, c));
            }
        sqlite3_finalize(st);
        sqlite3_close(db);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * adobench::kRows);
}
BENCHMARK(BM_SqliteStepOnly)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
