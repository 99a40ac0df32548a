// A metadata table of the sample scaled to 50,000 rows, served by the
// metadata service: the first use (cache index, file load, role filter)
// followed by 1,000 Recordset(Filter, Sort) calls, against the same filtered,
// sorted query run 1,000 times on the SQLite table (directly, with its table
// in the page cache and the statement prepared once, and through the data
// context). Every side reads the rows it gets. Prints the ratios (of the
// medians, when repeated).
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>

#include "BenchmarkTimes.h"
#include "ado/Recordset.h"
#include "pelmora/metadata/MetadataRecordset.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataRecordsets.h"
#include "pelmora/metadata/MetadataService.h"
#include "product/MetadataCacheBuilder.h"
#include "product/Notification.h"
#include "product/SampleDatabase.h"
#include "product/SqliteDataContext.h"
#include "product/StandIns.h"
#include "runtime/Vb.h"

namespace {

constexpr int kRows = 50000;
constexpr int kComponents = 100;  // 500 rows per component number
constexpr int kCalls = 1000;
constexpr const char* kTable = "QTX_ATTRIBUTEINFO_OPTABLE";
constexpr const char* kFilter = "QTX_CNO = 1042";
constexpr const char* kSort = "QTX_ANO DESC";
constexpr const char* kQuery =
    "SELECT * FROM QTX_ATTRIBUTEINFO_OPTABLE WHERE QTX_CNO = 1042 ORDER BY QTX_ANO DESC";

void Check(int rc, sqlite3* db, const char* what) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
        throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
}

// The sample database with the attribute table grown to kRows rows, its
// cache, and the map that names it; built once per run.
struct Sample {
    std::string root, database;
    Sample() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pelmora-mdbench-XXXXXX";
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("no temporary folder");
        root = pattern;
        database = root + "/sample.db";
        product::BuildSampleDatabase(database, std::string(PELMORA_SOURCE_DIR) + "/data/sample");

        sqlite3* db = nullptr;
        Check(sqlite3_open(database.c_str(), &db), db, "open");
        Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db, "begin");
        sqlite3_stmt* count = nullptr;
        Check(sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM QTX_ATTRIBUTEINFO_OPTABLE", -1, &count, nullptr), db,
              "count");
        sqlite3_step(count);
        const int existing = sqlite3_column_int(count, 0);
        sqlite3_finalize(count);
        sqlite3_stmt* insert = nullptr;
        Check(sqlite3_prepare_v2(db,
                                 "INSERT INTO QTX_ATTRIBUTEINFO_OPTABLE (QTX_ANO, QTX_CNO, QTX_NAME, "
                                 "QTX_COMPONENTTABLE, QTX_FIELD, QTX_USERNAME, QTX_DATATYPE, QTX_REQUIRED, QTX_ROLE) "
                                 "VALUES (?, ?, ?, ?, ?, ?, 10, 0, ?)",
                                 -1, &insert, nullptr),
              db, "prepare");
        for (int i = existing; i < kRows; ++i) {
            const int cno = 1000 + i % kComponents;
            const std::string field = "FIELD_" + std::to_string(i);
            const std::string user = "Attribute " + std::to_string(i);
            const std::string table = "TABLE_" + std::to_string(cno);
            sqlite3_bind_int(insert, 1, 100000 + i);
            sqlite3_bind_int(insert, 2, cno);
            sqlite3_bind_text(insert, 3, "BENCH_COMPONENT", -1, SQLITE_STATIC);
            sqlite3_bind_text(insert, 4, table.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 5, field.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 6, user.c_str(), -1, SQLITE_TRANSIENT);
            // Every tenth row needs a role nobody holds here, as real metadata has.
            if (i % 10 == 0)
                sqlite3_bind_text(insert, 7, "WATER_QUALITY", -1, SQLITE_STATIC);
            else
                sqlite3_bind_null(insert, 7);
            Check(sqlite3_step(insert), db, "insert");
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        Check(sqlite3_exec(db, "CREATE INDEX BENCH_ATTR_CNO ON QTX_ATTRIBUTEINFO_OPTABLE (QTX_CNO, QTX_ANO)", nullptr,
                           nullptr, nullptr),
              db, "index");
        Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
        sqlite3_close(db);

        product::CacheBuildOptions options;
        options.databasePath = database;
        options.cacheDirectory = root + "/cache";
        auto result = product::BuildMetadataCache(options);
        ::setenv("PELMORA_CONFIGURATION_MAP", result.configurationMapPath.c_str(), 1);
        product::RegisterProductStandIns();
        product::RegisterApplicationClasses();
        pelmora::RegisterMetadataClasses();
    }
    ~Sample() {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
};

const Sample& TheSample() {
    static Sample sample;
    return sample;
}

// Reads one field of every visible row, as a caller of the clone would.
int64_t ReadRows(ado::Recordset& rs) {
    int64_t sum = 0;
    const rt::Variant ano("QTX_ANO");
    if (rs.get_BOF() && rs.get_EOF()) return 0;
    rs.MoveFirst();
    while (!rs.get_EOF()) {
        sum += rt::CLng(rs.GetValue(ano));
        rs.MoveNext();
    }
    return sum;
}

// A fresh service of the sample's configuration for a user with roles, as
// an application starts one.
std::shared_ptr<pelmora::MetadataService> NewService(const std::shared_ptr<product::SqliteDataContext>& dc) {
    auto service = std::make_shared<pelmora::MetadataService>();
    rt::QueryInterface<pelmora::IMetadataService>(service)->put_Configuration("Sample Water Network");
    service->SetActiveUser(dc, "KLEE");
    return service;
}

// The metadata service: a fresh service, its first use of the table, then
// 1,000 filtered, sorted clones.
void BM_MetadataFirstUseThen1000Clones(benchmark::State& state) {
    auto dc = product::SqliteDataContext::Open(TheSample().database);
    for (auto _ : state) {
        auto service = NewService(dc);
        auto item = service->get_Recordsets()->get_Item(rt::Variant(kTable));
        int64_t sum = 0;
        for (int i = 0; i < kCalls; ++i) sum += ReadRows(*item->get_Recordset(kFilter, kSort));
        benchmark::DoNotOptimize(sum);
    }
}

// The first use alone: index, roles, file load and role filter.
void BM_MetadataFirstUse(benchmark::State& state) {
    auto dc = product::SqliteDataContext::Open(TheSample().database);
    for (auto _ : state) {
        auto service = NewService(dc);
        auto rs = service->get_Recordsets()->get_Item(rt::Variant(kTable))->get_Recordset();
        benchmark::DoNotOptimize(rs->get_RecordCount());
    }
}

// 1,000 clones of a table already loaded.
void BM_Metadata1000ClonesLoaded(benchmark::State& state) {
    auto dc = product::SqliteDataContext::Open(TheSample().database);
    auto service = NewService(dc);
    auto item = service->get_Recordsets()->get_Item(rt::Variant(kTable));
    item->get_Recordset();
    for (auto _ : state) {
        int64_t sum = 0;
        for (int i = 0; i < kCalls; ++i) sum += ReadRows(*item->get_Recordset(kFilter, kSort));
        benchmark::DoNotOptimize(sum);
    }
}

// The same query 1,000 times on the SQLite table, reading every column,
// tuned as a user would tune it: a page cache that holds the whole table, the
// statement prepared once, an index that serves both filter and sort.
void BM_Sqlite1000Queries(benchmark::State& state) {
    const Sample& sample = TheSample();
    sqlite3* db = nullptr;
    Check(sqlite3_open_v2(sample.database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), db, "open");
    Check(sqlite3_exec(db, "PRAGMA cache_size = -262144", nullptr, nullptr, nullptr), db, "cache size");
    sqlite3_stmt* stmt = nullptr;
    Check(sqlite3_prepare_v3(db, kQuery, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr), db, "prepare");
    const int columns = sqlite3_column_count(stmt);
    // Each column read as the value it holds, as a typed reader would.
    auto run = [&] {
        int64_t sum = 0;
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            sum += sqlite3_column_int(stmt, 0);
            for (int c = 1; c < columns; ++c) {
                switch (sqlite3_column_type(stmt, c)) {
                    case SQLITE_INTEGER: benchmark::DoNotOptimize(sqlite3_column_int64(stmt, c)); break;
                    case SQLITE_FLOAT: benchmark::DoNotOptimize(sqlite3_column_double(stmt, c)); break;
                    case SQLITE_TEXT: benchmark::DoNotOptimize(sqlite3_column_text(stmt, c)); break;
                    default: break;
                }
            }
        }
        sqlite3_reset(stmt);
        return sum;
    };
    // Every page of the table into the cache before timing.
    sqlite3_stmt* all = nullptr;
    Check(sqlite3_prepare_v2(db, "SELECT * FROM QTX_ATTRIBUTEINFO_OPTABLE", -1, &all, nullptr), db, "warm");
    while (sqlite3_step(all) == SQLITE_ROW) {
    }
    sqlite3_finalize(all);
    run();
    for (auto _ : state) {
        int64_t sum = 0;
        for (int i = 0; i < kCalls; ++i) sum += run();
        benchmark::DoNotOptimize(sum);
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
}

// The same query 1,000 times through the data context, as recordsets.
void BM_DataContext1000Queries(benchmark::State& state) {
    const Sample& sample = TheSample();
    auto dc = product::SqliteDataContext::Open(sample.database);
    for (auto _ : state) {
        int64_t sum = 0;
        for (int i = 0; i < kCalls; ++i) sum += ReadRows(*dc->OpenRecordset(kQuery));
        benchmark::DoNotOptimize(sum);
    }
}

BENCHMARK(BM_MetadataFirstUseThen1000Clones)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MetadataFirstUse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Metadata1000ClonesLoaded)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sqlite1000Queries)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DataContext1000Queries)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    auto times = benchtimes::RunBenchmarks(argc, argv);
    if (!times) return 1;
    auto& t = *times;
    auto ratio = [&](const char* a, const char* b) {
        if (t.count(a) && t.count(b) && t[b] > 0) std::printf("%-42s / %-28s = %.3f\n", a, b, t[a] / t[b]);
    };
    ratio("BM_MetadataFirstUseThen1000Clones", "BM_Sqlite1000Queries");
    ratio("BM_MetadataFirstUseThen1000Clones", "BM_DataContext1000Queries");
    ratio("BM_Metadata1000ClonesLoaded", "BM_Sqlite1000Queries");
    ratio("BM_Metadata1000ClonesLoaded", "BM_DataContext1000Queries");
    return 0;
}
