#pragma once
// The table the ADO benchmarks share: 100,000 rows (or as many as asked) of
// 10 mixed columns, as a recordset image, a persisted file and a SQLite table
// with the same values.
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "ado/Persist.h"

namespace adobench {

inline constexpr int kRows = 100000;
inline constexpr int kFields = 10;

inline ado::FieldDesc Field(const char* name, ado::DataTypeEnum type, int32_t size = 0) {
    ado::FieldDesc f;
    f.name = name;
    f.type = type;
    f.definedSize = size;
    f.attributes = ado::adFldUpdatable | ado::adFldIsNullable;
    f.baseTable = "BENCH_OPTABLE";
    f.baseColumn = name;
    return f;
}

inline const char* const kKinds[] = {"Pole", "Valve", "Pipe", "Transformer", "Switch", "Meter", "Cable"};

// Deterministic: row r always holds the same values.
inline ado::RecordsetImage MakeImage(int rows = kRows) {
    ado::RecordsetImage img;
    img.source = "SELECT * FROM BENCH_OPTABLE";
    img.fields = {Field("QTX_ID", ado::adInteger),       Field("QTX_FNO", ado::adSmallInt),
                  Field("QTX_NAME", ado::adVarWChar, 40), Field("DESCRIPTION", ado::adVarWChar, 200),
                  Field("PRICE", ado::adCurrency),        Field("LENGTH", ado::adDouble),
                  Field("INSTALLED", ado::adDate),        Field("ACTIVE", ado::adBoolean),
                  Field("RATIO", ado::adSingle),          Field("NOTE", ado::adVarWChar, 100)};
    img.values.reserve(static_cast<size_t>(rows) * kFields);
    for (int r = 0; r < rows; ++r) {
        const char* kind = kKinds[r % 7];
        img.values.emplace_back(int32_t{r + 1});
        img.values.emplace_back(static_cast<int16_t>(100 + r % 50));
        img.values.emplace_back(std::string(kind) + " " + std::to_string(r));
        img.values.emplace_back("Installed by crew " + std::to_string(r % 97) + " on feeder " + kind);
        img.values.emplace_back(rt::Currency{static_cast<int64_t>(r % 1000) * 12345});
        img.values.emplace_back(r * 0.25);
        img.values.push_back(rt::Variant::Date(36526.0 + r % 7000 + 0.5));
        img.values.emplace_back(r % 3 != 0);
        img.values.emplace_back(static_cast<float>(r % 100) / 8.0f);
        if (r % 3 == 0)
            img.values.push_back(rt::Variant::Null());
        else
            img.values.emplace_back("note " + std::to_string(r % 11));
    }
    return img;
}

inline std::string TempPath(const std::string& name) {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/pelmora_bench_" + std::to_string(::getpid()) + "_" + name;
}

inline void Check(int rc, sqlite3* db, const char* what) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
        throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
}

// The same rows in a SQLite table whose declared types name what each column
// holds (dates and money stored as REAL, Null as NULL).
inline void WriteSqlite(const std::string& path, const ado::RecordsetImage& img) {
    std::remove(path.c_str());
    sqlite3* db = nullptr;
    Check(sqlite3_open(path.c_str(), &db), db, "open");
    Check(sqlite3_exec(db,
                       "CREATE TABLE BENCH_OPTABLE (QTX_ID INTEGER, QTX_FNO SMALLINT, QTX_NAME VARCHAR(40), "
                       "DESCRIPTION VARCHAR(200), PRICE MONEY, LENGTH DOUBLE, INSTALLED DATETIME, ACTIVE "
                       "BOOLEAN, RATIO FLOAT, NOTE VARCHAR(100));"
                       "BEGIN",
                       nullptr, nullptr, nullptr),
          db, "create");
    sqlite3_stmt* st = nullptr;
    Check(sqlite3_prepare_v2(db, "INSERT INTO BENCH_OPTABLE VALUES (?,?,?,?,?,?,?,?,?,?)", -1, &st, nullptr), db,
          "prepare");
    for (size_t r = 0; r < img.RowCount(); ++r) {
        const rt::Variant* v = &img.values[r * kFields];
        sqlite3_bind_int(st, 1, v[0].I4());
        sqlite3_bind_int(st, 2, v[1].I2());
        sqlite3_bind_text(st, 3, v[2].Str().c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 4, v[3].Str().c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_double(st, 5, v[4].Cy().ToDouble());
        sqlite3_bind_double(st, 6, v[5].R8());
        sqlite3_bind_double(st, 7, v[6].DateValue());
        sqlite3_bind_int(st, 8, v[7].Bool() ? -1 : 0);
        sqlite3_bind_double(st, 9, v[8].R8());
        if (v[9].IsNull())
            sqlite3_bind_null(st, 10);
        else
            sqlite3_bind_text(st, 10, v[9].Str().c_str(), -1, SQLITE_TRANSIENT);
        Check(sqlite3_step(st), db, "insert");
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
    sqlite3_close(db);
}

// Files made once per process and row count, removed at exit.
struct Files {
    int rows;
    std::string raw;
    std::string sqlite;
    explicit Files(int n)
        : rows(n),
          raw(TempPath("table" + std::to_string(n) + ".RAW")),
          sqlite(TempPath("table" + std::to_string(n) + ".db")) {
        ado::RecordsetImage img = MakeImage(n);
        ado::SaveImage(raw, img);
        WriteSqlite(sqlite, img);
    }
    ~Files() {
        std::remove(raw.c_str());
        std::remove(sqlite.c_str());
    }
    Files(const Files&) = delete;
    Files& operator=(const Files&) = delete;
    static const Files& Get(int rows = kRows) {
        static std::map<int, std::unique_ptr<Files>> made;
        auto& files = made[rows];
        if (!files) files = std::make_unique<Files>(rows);
        return *files;
    }
};

}  // namespace adobench
