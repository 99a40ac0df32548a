#pragma once
// What the files of SqliteConnection share inside the product: SQLite's
// header as they all must see it, the kept statements and column limits of a
// connection, cells as read from SQLite, and the helpers of more than one
// concern.

// The hook that judges each row written against its columns' limits.
#define SQLITE_ENABLE_PREUPDATE_HOOK 1
#include <sqlite3.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ado/FieldDesc.h"
#include "product/SqliteConnection.h"

namespace product {

namespace sqlite_support {

inline constexpr const char* kSource = "SqliteDataContext";

inline std::string Quoted(const std::string& sql) {
    std::string s = sql.size() > 2000 ? sql.substr(0, 2000) + "..." : sql;
    return " in \"" + s + "\"";
}

struct StmtDeleter {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Stmt = std::unique_ptr<sqlite3_stmt, StmtDeleter>;

std::string NumberText(double d);

struct RawCell {
    int kind = SQLITE_NULL;
    int64_t i = 0;
    double d = 0;
    std::string s;  // text or blob bytes
};

// A cell as converted: its text or bytes either the statement's own (valid
// until the next step) or a kept cell's.
struct CellView {
    int kind = SQLITE_NULL;
    int64_t i = 0;
    double d = 0;
    std::string_view s;
};

inline CellView ViewOf(const RawCell& c) { return CellView{c.kind, c.i, c.d, c.s}; }

// The cell of a stepped statement's column; the caller holds the connection's
// mutex, so the column's value may be read through its value object.
CellView ReadCell(sqlite3_value* v);

inline bool IsByteArray(const rt::Variant& v) { return v.IsArray() && v.BaseType() == rt::vbByte; }

// Where a cell stands, told only when it cannot be read: its table, column
// and the key of its row.
using CellPlace = std::function<std::string(size_t col)>;

// A value that cannot be read names where it stands, so that its owner can mend it.
rt::Variant ConvertCell(const CellView& c, const ColumnType& t, const CellPlace& place, size_t col,
                        const std::string& sql);
// "T"."C" of the row with its key (the key columns of T the result holds),
// else of its row number; a column of an expression by its name.
std::string PlaceOf(const std::vector<ado::FieldDesc>& fields, size_t col, size_t row,
                    const std::function<CellView(size_t)>& cellAt);

// Converts a result's cells into its values in order. A number or text equal
// to the one above it in its column shares that value's block rather than
// building its own: link and component rows repeat their FNO, CNO, owner and
// status down whole columns, and blocks are never changed in place.
class ValueSink {
public:
    ValueSink(std::vector<rt::Variant>& out, const std::vector<ColumnType>& types,
              const std::string& sql, CellPlace place)
        : out_(out), types_(types), sql_(sql), place_(std::move(place)), last_(types.size()) {}

    void Put(const CellView& c, size_t col) {
        Last& last = last_[col];
        if (c.kind == SQLITE_NULL) {
            out_.push_back(rt::Variant::Null());
            last.kind = SQLITE_NULL;
        } else if (last.at != kNone && c.kind == last.kind && Repeats(c, last)) {
            out_.push_back(out_[last.at]);
        } else {
            out_.push_back(ConvertCell(c, types_[col], place_, col, sql_));
            last.kind = c.kind;
            last.i = c.i;
        }
        last.at = out_.size() - 1;
    }

private:
    static constexpr size_t kNone = static_cast<size_t>(-1);
    struct Last {
        int kind = SQLITE_NULL;
        int64_t i = 0;
        size_t at = kNone;
    };
    bool Repeats(const CellView& c, const Last& last) const {
        if (c.kind == SQLITE_INTEGER) return c.i == last.i;
        if (c.kind != SQLITE_TEXT) return false;
        const rt::Variant& above = out_[last.at];
        return above.Type() == rt::vbString && !c.s.empty() && above.Str() == c.s;
    }

    std::vector<rt::Variant>& out_;
    const std::vector<ColumnType>& types_;
    const std::string& sql_;
    CellPlace place_;
    std::vector<Last> last_;
};

// The type of a column without a declared type (an expression): what its values are.
ColumnType InferType(const std::vector<RawCell>& cells, size_t col, size_t ncols);
// The ADO description of result column c typed t: its name, type, base
// table and column, and attributes.
void DescribeColumn(sqlite3* db, sqlite3_stmt* raw, int c, const ColumnType& t, ado::FieldDesc& f);

// One statement from the text; none or a trailing second one raises naming it.
Stmt PrepareSingle(SqliteConnection& conn, sqlite3* db, const std::string& sql,
                   const std::string& sqlForErrors, unsigned flags);
// Binds every value in order; a count unlike the markers' raises naming the text.
void BindAll(sqlite3* db, sqlite3_stmt* st, const std::vector<rt::Variant>& values, const std::string& sql);

}  // namespace sqlite_support

using namespace sqlite_support;

struct SqliteConnection::StatementCache {
    static constexpr size_t kMaxStatements = 64;
    std::unordered_map<std::string, Stmt> statements;
    // A kept query with its columns' descriptions, which stand while SQLite
    // keeps the statement as prepared (a schema change re-prepares it).
    struct Kept {
        Stmt st;
        int prepared = -1;  // the statement's re-prepare count when described; -1: not yet
        std::vector<ado::FieldDesc> fields;
        std::vector<ColumnType> declared;  // known false: typed from each run's values
        size_t values = 0;  // how many values the last run read: room made for the next
        // Whether fields describe the statement as it now stands, of width columns.
        bool Describes(sqlite3_stmt* raw, size_t width) const {
            return prepared == sqlite3_stmt_status(raw, SQLITE_STMTSTATUS_REPREPARE, 0) && fields.size() == width;
        }
    };
    // Queries, apart from the handles ExecuteCached hands out, keyed by the
    // guard they were prepared under: the authorizer judges a text only when
    // it is prepared.
    std::unordered_map<std::string, Kept> queries;
    Stmt commit, begin;
};

// The limited columns of the database's tables, read once per schema
// version, and what the statement being run met.
struct SqliteConnection::Limits {
    struct Table {
        std::string name;
        bool rowid = true;
        std::vector<std::pair<std::string, ColumnType>> columns;  // by position; known false: no limit
        bool any = false;
    };
    int64_t schema = -1;
    std::unordered_map<std::string, Table> tables;  // by upper-cased name
    const char* lastName = nullptr;  // the table CheckRow last met, and its limits
    const Table* last = nullptr;
    Stmt schemaVersion, savepoint, release;
    // Runs one of the kept statements of the context's own (prepared on first use).
    void Run(SqliteConnection& c, Stmt& st, const char* sql) {
        if (!st) {
            sqlite3_stmt* raw = nullptr;
            if (sqlite3_prepare_v3(c.db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr) != SQLITE_OK)
                c.RaiseLastError(sqlite3_errcode(c.db_), sql);
            st.reset(raw);
        }
        const int rc = sqlite3_step(st.get());
        sqlite3_reset(st.get());
        if (rc != SQLITE_DONE && rc != SQLITE_ROW) c.RaiseLastError(rc, sql);
    }
    // The running statement's first refusal and the values it rounds.
    std::optional<DatabaseError> refused;
    struct Rounded {
        const Table* table;
        size_t column;
        int64_t rowid;
        rt::Variant value;
    };
    std::vector<Rounded> rounded;
};

}  // namespace product
