// Opening a persisted recordset of 10 mixed columns (10,000, 100,000 and
// 1,000,000 rows) against the same rows read from SQLite as a user would tune
// it: one connection whose page cache holds the table, a prepared statement,
// each column read by its declared type into typed values built into a
// recordset.
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "BenchmarkTimes.h"
#include "ado/Recordset.h"
#include "ado_bench_data.h"

namespace {

using adobench::Files;

constexpr int kSizes[] = {10000, 100000, 1000000};

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

// The whole Open(path): the file read into an editable client-side recordset.
void OpenRecordset(benchmark::State& state, int rows) {
    const Files& files = Files::Get(rows);
    for (auto _ : state) {
        ado::RecordsetPtr rs = ado::Recordset::Create();
        rs->Open(rt::Variant(files.raw));
        if (rs->get_RecordCount() != rows) state.SkipWithError("wrong row count");
        benchmark::DoNotOptimize(rs.get());
    }
    state.SetItemsProcessed(state.iterations() * rows);
}

// How the anchor reads a column, chosen once from its declared type.
enum class ColumnRead { Long, Integer, Text, Money, Double, Date, Boolean, Single };

ColumnRead ReadFor(const char* declared) {
    std::string t = declared ? declared : "";
    if (t == "INTEGER") return ColumnRead::Long;
    if (t == "SMALLINT") return ColumnRead::Integer;
    if (t == "MONEY") return ColumnRead::Money;
    if (t == "DOUBLE") return ColumnRead::Double;
    if (t == "DATETIME") return ColumnRead::Date;
    if (t == "BOOLEAN") return ColumnRead::Boolean;
    if (t == "FLOAT") return ColumnRead::Single;
    return ColumnRead::Text;
}

rt::Variant ReadColumn(sqlite3_stmt* st, int c, ColumnRead how) {
    if (sqlite3_column_type(st, c) == SQLITE_NULL) return rt::Variant::Null();
    switch (how) {
        case ColumnRead::Long: return rt::Variant(static_cast<int32_t>(sqlite3_column_int(st, c)));
        case ColumnRead::Integer: return rt::Variant(static_cast<int16_t>(sqlite3_column_int(st, c)));
        case ColumnRead::Money: return rt::Variant(rt::Currency::FromDouble(sqlite3_column_double(st, c)));
        case ColumnRead::Double: return rt::Variant(sqlite3_column_double(st, c));
        case ColumnRead::Date: return rt::Variant::Date(sqlite3_column_double(st, c));
        case ColumnRead::Boolean: return rt::Variant(sqlite3_column_int(st, c) != 0);
        case ColumnRead::Single: return rt::Variant(static_cast<float>(sqlite3_column_double(st, c)));
        case ColumnRead::Text: break;
    }
    const char* text = reinterpret_cast<const char*>(sqlite3_column_text(st, c));
    return rt::Variant(std::string_view(text, static_cast<size_t>(sqlite3_column_bytes(st, c))));
}

// The anchor's connection: opened once, its cache sized to hold the table and
// warmed by one full read, the statement prepared once.
struct Anchor {
    sqlite3* db = nullptr;
    sqlite3_stmt* st = nullptr;
    explicit Anchor(const Files& files) {
        adobench::Check(sqlite3_open_v2(files.sqlite.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), db, "open");
        adobench::Check(sqlite3_exec(db, "PRAGMA cache_size = -1048576", nullptr, nullptr, nullptr), db, "cache");
        adobench::Check(sqlite3_prepare_v2(db, "SELECT * FROM BENCH_OPTABLE", -1, &st, nullptr), db, "prepare");
        while (sqlite3_step(st) == SQLITE_ROW) {
        }
        sqlite3_reset(st);
    }
    ~Anchor() {
        sqlite3_finalize(st);
        sqlite3_close(db);
    }
    Anchor(const Anchor&) = delete;
    Anchor& operator=(const Anchor&) = delete;
};

void SqliteTypedToRecordset(benchmark::State& state, int rows) {
    const Files& files = Files::Get(rows);
    Anchor anchor(files);
    const std::vector<ado::FieldDesc> fields = adobench::MakeImage(0).fields;
    for (auto _ : state) {
        sqlite3_stmt* st = anchor.st;
        sqlite3_reset(st);
        ColumnRead how[adobench::kFields];
        for (int c = 0; c < adobench::kFields; ++c) how[c] = ReadFor(sqlite3_column_decltype(st, c));
        ado::RecordsetImage img;
        img.fields = fields;
        img.values.reserve(static_cast<size_t>(rows) * adobench::kFields);
        while (sqlite3_step(st) == SQLITE_ROW)
            for (int c = 0; c < adobench::kFields; ++c) img.values.push_back(ReadColumn(st, c, how[c]));
        ado::RecordsetPtr rs = ado::Recordset::FromImage(std::move(img));
        if (rs->get_RecordCount() != rows) state.SkipWithError("wrong row count");
        benchmark::DoNotOptimize(rs.get());
    }
    state.SetItemsProcessed(state.iterations() * rows);
}

// sqlite3_step alone over the warm table, reading every column but keeping
// nothing: the floor under the anchor.
void BM_SqliteStepOnly(benchmark::State& state) {
    Anchor anchor(Files::Get());
    for (auto _ : state) {
        sqlite3_stmt* st = anchor.st;
        sqlite3_reset(st);
        int64_t sum = 0;
        while (sqlite3_step(st) == SQLITE_ROW)
            for (int c = 0; c < adobench::kFields; ++c) {
                if (sqlite3_column_type(st, c) == SQLITE_TEXT)
                    sum += sqlite3_column_bytes(st, c);
                else
                    sum += static_cast<int64_t>(sqlite3_column_double(st, c));
            }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * adobench::kRows);
}
BENCHMARK(BM_SqliteStepOnly)->Unit(benchmark::kMillisecond);

std::string Name(const char* what, int rows) { return std::string(what) + "_" + std::to_string(rows); }

}  // namespace

int main(int argc, char** argv) {
    for (int rows : kSizes) {
        benchmark::RegisterBenchmark(Name("BM_OpenRecordset", rows).c_str(), OpenRecordset, rows)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(Name("BM_SqliteTypedToRecordset", rows).c_str(), SqliteTypedToRecordset, rows)
            ->Unit(benchmark::kMillisecond);
    }
    auto times = benchtimes::RunBenchmarks(argc, argv);
    if (!times) return 1;
    auto& t = *times;
    auto has = [&](const std::string& a) { return t.count(a) && t[a] > 0; };
    std::printf("\n");
    for (int rows : kSizes) {
        std::string open = Name("BM_OpenRecordset", rows), anchor = Name("BM_SqliteTypedToRecordset", rows);
        if (has(open) && has(anchor))
            std::printf("open / typed SQLite anchor, %d rows (target <= 0.5): %.2f\n", rows, t[open] / t[anchor]);
    }
    // Growth from 10k to 100k rows: linear is x10; the anchor's is the yardstick.
    std::string o1 = Name("BM_OpenRecordset", 10000), o2 = Name("BM_OpenRecordset", 100000);
    std::string a1 = Name("BM_SqliteTypedToRecordset", 10000), a2 = Name("BM_SqliteTypedToRecordset", 100000);
    if (has(o1) && has(o2) && has(a1) && has(a2))
        std::printf("10k -> 100k rows: open x%.1f, typed SQLite anchor x%.1f\n", t[o2] / t[o1], t[a2] / t[a1]);
    return 0;
}
