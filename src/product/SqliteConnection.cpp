#include "product/SqliteConnection.h"

// The hook that judges each row written against its columns' limits.
#define SQLITE_ENABLE_PREUPDATE_HOOK 1
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <thread>
#include <unordered_map>

#include <sys/statvfs.h>
#include <unistd.h>

#include "runtime/Calendar.h"

namespace product {

namespace {

constexpr const char* kSource = "SqliteDataContext";

std::string Quoted(const std::string& sql) {
    std::string s = sql.size() > 2000 ? sql.substr(0, 2000) + "..." : sql;
    return " in \"" + s + "\"";
}

// The Oracle error a SQLite failure stands for, with Oracle's wording.
int OraCodeFor(int extended, const std::string& msg, std::string& oraText) {
    auto starts = [&](const char* p) { return msg.rfind(p, 0) == 0; };
    switch (extended) {
        case SQLITE_CONSTRAINT_PRIMARYKEY:
        case SQLITE_CONSTRAINT_UNIQUE:
            oraText = "unique constraint violated";
            return 1;
        case SQLITE_CONSTRAINT_NOTNULL:
            oraText = "cannot insert NULL";
            return 1400;
        case SQLITE_CONSTRAINT_FOREIGNKEY:
            oraText = "integrity constraint violated";
            return 2291;
        case SQLITE_CONSTRAINT_CHECK:
            oraText = "check constraint violated";
            return 2290;
        default:
            break;
    }
    int primary = extended & 0xff;
    if (extended == SQLITE_BUSY_SNAPSHOT) {
        // This transaction read before another connection committed; it may
        // not write on top of what it did not see.
        oraText = "can't serialize access for this transaction (another connection committed since it began; "
                  "commit or roll back first)";
        return 8177;
    }
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
        oraText = "resource busy and acquire with NOWAIT specified or timeout expired";
        return 54;
    }
    if (primary == SQLITE_READONLY) {
        oraText = "database open for read-only access";
        return 16000;
    }
    if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB) {
        oraText = "data block corrupted: the database file is damaged";
        return 1578;
    }
    if (starts("no such table")) {
        oraText = "table or view does not exist";
        return 942;
    }
    if (starts("no such column") || starts("no such function")) {
        oraText = "invalid identifier";
        return 904;
    }
    if (starts("no such savepoint")) {
        oraText = "savepoint never established in this session or is invalid";
        return 1086;
    }
    if (msg.find("syntax error") != std::string::npos || starts("incomplete input") ||
        starts("unrecognized token")) {
        oraText = "invalid SQL statement";
        return 900;
    }
    return 0;
}

enum class Access { ReadWrite, ReadOnly, Immutable };

bool Unwritable(const std::string& path) {
    return ::access(path.c_str(), W_OK) != 0 && (errno == EACCES || errno == EROFS);
}

// A file in a folder this process cannot write is read-only as well: its
// journal or log could not be made beside it.
Access AccessOf(const std::string& path) {
    struct statvfs fs {};
    if (::statvfs(path.c_str(), &fs) == 0 && (fs.f_flag & ST_RDONLY)) return Access::Immutable;
    if (!std::filesystem::exists(path)) return Access::ReadWrite;
    const std::filesystem::path folder = std::filesystem::absolute(path).parent_path();
    return Unwritable(path) || Unwritable(folder.string()) ? Access::ReadOnly : Access::ReadWrite;
}

// "file:" URI of a path on a read-only medium, read without locks.
std::string ImmutableUri(const std::string& path) {
    std::string uri = "file:";
    for (char c : std::filesystem::absolute(path).string()) {
        if (c == '%' || c == '?' || c == '#') {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", static_cast<unsigned char>(c));
            uri += buf;
        } else {
            uri += c;
        }
    }
    return uri + "?immutable=1";
}

struct StmtDeleter {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Stmt = std::unique_ptr<sqlite3_stmt, StmtDeleter>;

using rt::calendar::CivilFromDays;
using rt::calendar::DaysFromCivil;
using rt::calendar::kOleEpoch;

int Utf16Length(const std::string& s) {
    int n = 0;
    for (unsigned char c : s) {
        if ((c & 0xC0) != 0x80) n += (c >= 0xF0) ? 2 : 1;
    }
    return n;
}

std::string NumberText(double d) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15g", d);
    return buf;
}

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

CellView ViewOf(const RawCell& c) { return CellView{c.kind, c.i, c.d, c.s}; }

// The cell of a stepped statement's column; the caller holds the connection's
// mutex, so the column's value may be read through its value object.
CellView ReadCell(sqlite3_value* v) {
    CellView cell;
    cell.kind = sqlite3_value_type(v);
    switch (cell.kind) {
        case SQLITE_INTEGER: cell.i = sqlite3_value_int64(v); break;
        case SQLITE_FLOAT: cell.d = sqlite3_value_double(v); break;
        case SQLITE_TEXT: {
            auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
            cell.s = std::string_view(p ? p : "", static_cast<size_t>(sqlite3_value_bytes(v)));
            break;
        }
        case SQLITE_BLOB: {
            auto* p = static_cast<const char*>(sqlite3_value_blob(v));
            int n = sqlite3_value_bytes(v);
            if (p && n > 0) cell.s = std::string_view(p, static_cast<size_t>(n));
            break;
        }
        default: break;
    }
    return cell;
}

rt::Variant BytesVariant(std::string_view bytes) {
    rt::Variant v = rt::Variant::MakeArray(rt::vbByte, 0, static_cast<int32_t>(bytes.size()) - 1);
    auto& data = v.ArrayMut()->Data();
    for (size_t k = 0; k < bytes.size(); ++k) data[k] = rt::Variant(static_cast<uint8_t>(bytes[k]));
    return v;
}

bool IsByteArray(const rt::Variant& v) { return v.IsArray() && v.BaseType() == rt::vbByte; }

}  // namespace

// ------------------------------------------------------------------ errors

DatabaseError::DatabaseError(int oraCode, const std::string& message, int32_t number)
    : rt::ComError(number, kSource,
                   oraCode > 0 ? [&] {
                       char buf[32];
                       std::snprintf(buf, sizeof buf, "ORA-%05d: ", oraCode);
                       return std::string(buf) + message;
                   }()
                               : message),
      oraCode_(oraCode) {}

void RaiseOra(int oraCode, const std::string& message) { throw DatabaseError(oraCode, message); }

std::string QuotedIdentifier(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    return out + "\"";
}

std::string UpperAscii(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// ------------------------------------------------------------------ dates

double OleDateFromParts(int year, int month, int day, int hour, int minute, int second) {
    double days = static_cast<double>(DaysFromCivil(year, month, day) - kOleEpoch);
    double frac = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
    // Before day 0 the fraction still counts forward from midnight.
    return days >= 0 ? days + frac : days - frac;
}

std::string OleDateToDbText(double oleDate) {
    if (!rt::calendar::InOleDateRange(oleDate))
        throw DatabaseError(1841, "(full) year must be between -4713 and +9999, and not be 0: the date value " +
                                      NumberText(oleDate) + " is no date");
    double whole = std::trunc(oleDate);
    double frac = std::fabs(oleDate - whole);
    int64_t secs = std::llround(frac * 86400.0);
    int64_t day = static_cast<int64_t>(whole);
    if (secs >= 86400) {
        secs -= 86400;
        day += oleDate >= 0 ? 1 : -1;
    }
    int y, m, d;
    CivilFromDays(day + kOleEpoch, y, m, d);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", y, m, d, static_cast<int>(secs / 3600),
                  static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60));
    return buf;
}

bool DbTextToOleDate(const std::string& text, double& oleDate) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    auto digits = [&](size_t pos, size_t n, int& out) {
        if (pos + n > text.size()) return false;
        out = 0;
        for (size_t k = pos; k < pos + n; ++k) {
            if (text[k] < '0' || text[k] > '9') return false;
            out = out * 10 + (text[k] - '0');
        }
        return true;
    };
    if (!(digits(0, 4, y) && text.size() >= 10 && text[4] == '-' && digits(5, 2, mo) && text[7] == '-' &&
          digits(8, 2, d)))
        return false;
    if (text.size() == 10) {
    } else if (text.size() == 19 && (text[10] == ' ' || text[10] == 'T') && digits(11, 2, h) && text[13] == ':' &&
               digits(14, 2, mi) && text[16] == ':' && digits(17, 2, s)) {
    } else {
        return false;
    }
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (mo < 1 || mo > 12 || d < 1 || d > kDays[mo - 1] || h > 23 || mi > 59 || s > 59) return false;
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (mo == 2 && d == 29 && !leap) return false;
    oleDate = OleDateFromParts(y, mo, d, h, mi, s);
    return true;
}

// ------------------------------------------------------------------ types

ColumnType MapDeclaredType(const std::string& declared) {
    ColumnType t;
    std::string u;
    for (char c : UpperAscii(declared))
        if (c != ' ' && c != '\t') u.push_back(c);
    std::string base = u.substr(0, u.find('('));
    int a = -1, b = -1;
    bool scaled = false;  // b was declared (it may be negative)
    if (auto open = u.find('('); open != std::string::npos) {
        const char* p = u.c_str() + open + 1;
        char* end = nullptr;
        long v = std::strtol(p, &end, 10);
        if (end != p) a = static_cast<int>(v);
        if (end && *end == ',') {
            const char* q = end + 1;
            v = std::strtol(q, &end, 10);
            if (end != q) {
                b = static_cast<int>(v);
                scaled = true;
            }
        }
    }
    auto set = [&](ado::DataTypeEnum type, int32_t size, int precision = 0, int scale = 0) {
        t.known = true;
        t.type = type;
        t.definedSize = size;
        t.precision = static_cast<uint8_t>(precision);
        t.scale = static_cast<uint8_t>(scale);
    };
    if (base == "NUMBER" || base == "NUMERIC" || base == "DECIMAL") {
        if (a < 0) {
            set(ado::adDouble, 8, 15);  // no precision: a floating number
        } else {
            int scale = b < 0 ? 0 : b;
            set(ado::adNumeric, 19, std::min(a, 38), std::min(scale, 38));
            t.limitScale = scaled ? std::clamp(b, -84, 127) : 0;
        }
    } else if (base == "INTEGER" || base == "INT" || base == "SMALLINT") {
        set(ado::adNumeric, 19, 38, 0);
    } else if (base == "FLOAT" || base == "BINARY_DOUBLE" || base == "DOUBLEPRECISION" || base == "REAL") {
        set(ado::adDouble, 8, 15);
    } else if (base == "BINARY_FLOAT") {
        set(ado::adSingle, 4, 7);
    } else if (base == "VARCHAR2" || base == "VARCHAR") {
        set(ado::adVarChar, a < 0 ? 4000 : a);
    } else if (base == "NVARCHAR2") {
        set(ado::adVarWChar, a < 0 ? 2000 : a);
    } else if (base == "CHAR") {
        set(ado::adChar, a < 0 ? 1 : a);
    } else if (base == "NCHAR") {
        set(ado::adWChar, a < 0 ? 1 : a);
    } else if (base == "CLOB" || base == "LONG") {
        set(ado::adLongVarChar, 2147483647);
    } else if (base == "NCLOB") {
        set(ado::adLongVarWChar, 2147483647);
    } else if (base == "DATE" || base.rfind("TIMESTAMP", 0) == 0) {
        set(ado::adDBTimeStamp, 16, 19);
    } else if (base == "BLOB" || base == "LONGRAW") {
        set(ado::adLongVarBinary, 2147483647);
    } else if (base == "RAW") {
        set(ado::adVarBinary, a < 0 ? 2000 : a);
    }
    return t;
}

// ------------------------------------------------------------------ connection

SqliteConnection::SqliteConnection(const std::string& path, const Options& options) : path_(path) {
    const bool memory = path == ":memory:" || path.empty();
    memory_ = memory;
    auto fail = [&](const std::string& why) {
        if (db_) {
            sqlite3_close_v2(db_);
            db_ = nullptr;
        }
        throw DatabaseError(0, "Cannot open the database '" + path + "': " + why);
    };
    std::error_code ec;
    if (!memory && !options.create && !std::filesystem::exists(path, ec)) fail("the file does not exist");
    if (!memory && std::filesystem::exists(path, ec)) {
        if (!std::filesystem::is_regular_file(path, ec)) fail("it is not a regular file");
        // SQLite would take an empty file for an empty database, and the
        // first query would only say that a table is missing.
        if (!options.create && std::filesystem::file_size(path, ec) == 0) fail("the file is empty; it holds no database");
    }
    // A database that cannot be written is read: on a read-only file system
    // without locks or shared memory (nothing can change it there), a
    // write-protected file read-only; the first write then fails plainly.
    const Access access = memory ? Access::ReadWrite : AccessOf(path);
    readOnly_ = access != Access::ReadWrite;
    // One thread at a time uses a connection (its kept statements and their
    // descriptions are not guarded either), so SQLite's own lock of the
    // connection, taken again for every cell read, guards nothing.
    int flags = SQLITE_OPEN_NOMUTEX | (readOnly_ ? SQLITE_OPEN_READONLY | SQLITE_OPEN_URI
                                                 : SQLITE_OPEN_READWRITE | (options.create || memory ? SQLITE_OPEN_CREATE : 0));
    const std::string name = memory ? ":memory:" : access == Access::Immutable ? ImmutableUri(path) : path;
    int rc = sqlite3_open_v2(name.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) fail(db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
    sqlite3_extended_result_codes(db_, 1);
    busyTimeoutMs_ = waitMs_ = options.busyTimeoutMs;
    sqlite3_busy_handler(db_, &SqliteConnection::WaitWhileBusy, this);
    sqlite3_set_authorizer(db_, &SqliteConnection::Authorize, this);

    // A file that is not a database, or one that another process holds
    // locked, shows on the first read.
    char* err = nullptr;
    rc = sqlite3_exec(db_, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        std::string msg = err ? err : sqlite3_errstr(rc);
        sqlite3_free(err);
        // A file in WAL mode is read through the log's shared-memory file,
        // which SQLite makes beside it when nobody has the file open.
        const int primary = sqlite3_extended_errcode(db_) & 0xff;
        if (readOnly_ && (primary == SQLITE_READONLY || primary == SQLITE_CANTOPEN) &&
            !std::filesystem::exists(path + "-shm", ec))
            fail("it keeps a write-ahead log, whose shared-memory file '" + path +
                 "-shm' cannot be made beside it in a folder this process cannot write (" + msg +
                 "); give this account write access to the folder, or copy the database to a folder it can write");
        fail(msg);
    }
    const char* setup =
        "PRAGMA case_sensitive_like = ON;"
        "PRAGMA foreign_keys = ON;"
        "CREATE TEMP VIEW DUAL AS SELECT 'X' AS DUMMY;";
    if (!memory && !readOnly_) {
        // Readers never block the writer's commit in WAL mode. A log that
        // starts over is cut back to the limit rather than kept at its peak.
        logLimitBytes_ = std::max<int64_t>(options.logLimitBytes, 0);
        std::string wal = "PRAGMA journal_mode = WAL;";
        if (logLimitBytes_ > 0) wal += "PRAGMA journal_size_limit = " + std::to_string(logLimitBytes_) + ";";
        rc = sqlite3_exec(db_, wal.c_str(), nullptr, nullptr, &err);
        if (rc != SQLITE_OK) {
            std::string msg = err ? err : sqlite3_errstr(rc);
            sqlite3_free(err);
            fail(msg);
        }
    }
    rc = sqlite3_exec(db_, setup, nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        std::string msg = err ? err : sqlite3_errstr(rc);
        sqlite3_free(err);
        fail(msg);
    }
}

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

SqliteConnection::~SqliteConnection() {
    cache_.reset();  // statements are finalized before the connection closes
    limits_.reset();
    if (db_) sqlite3_close_v2(db_);
}

int SqliteConnection::WaitWhileBusy(void* self, int attempt) {
    auto& c = *static_cast<SqliteConnection*>(self);
    const int64_t now = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
    if (attempt == 0) c.busySinceUs_ = now;
    if (now - c.busySinceUs_ >= int64_t{c.waitMs_} * 1000) return 0;
    // Short naps, so that a writer that waits long is not passed again and
    // again by those that came later and napped less (SQLite's own wait
    // grows to 100 ms).
    std::this_thread::sleep_for(std::chrono::microseconds(attempt < 8 ? 250 : 1000));
    return 1;
}

int SqliteConnection::Authorize(void* self, int action, const char* /*a*/, const char* /*b*/, const char* /*db*/,
                                const char* /*trigger*/) {
    auto& c = *static_cast<SqliteConnection*>(self);
    if (!c.guarded_) return SQLITE_OK;
    const char* what = nullptr;
    switch (action) {
        case SQLITE_TRANSACTION: what = "begin or end the transaction (it belongs to the data context's owner)"; break;
        case SQLITE_SAVEPOINT: what = "set or release a savepoint other than by SAVEPOINT and ROLLBACK TO"; break;
        case SQLITE_ATTACH:
        case SQLITE_DETACH: what = "attach or detach a database"; break;
        case SQLITE_PRAGMA: what = "run a PRAGMA"; break;
        case SQLITE_CREATE_TRIGGER:
        case SQLITE_CREATE_TEMP_TRIGGER: what = "create a trigger"; break;
        case SQLITE_CREATE_VTABLE:
        case SQLITE_DROP_VTABLE: what = "create or drop a virtual table"; break;
        default: return SQLITE_OK;
    }
    c.refused_ = what;
    return SQLITE_DENY;
}

void SqliteConnection::RaiseLastError(int rc, const std::string& sqlForErrors) const {
    int extended = sqlite3_extended_errcode(db_);
    RaiseError(extended == SQLITE_OK ? rc : extended, sqlite3_errmsg(db_), sqlForErrors);
}

void SqliteConnection::RaiseError(int extended, const std::string& msg, const std::string& sqlForErrors) const {
    if ((extended & 0xff) == SQLITE_AUTH && !refused_.empty())
        throw DatabaseError(1031, "insufficient privileges: SQL sent through the data context may not " + refused_ +
                                      Quoted(sqlForErrors));
    std::string oraText;
    int code = OraCodeFor(extended, msg, oraText);
    // Failures that lie with the file (a missing table included) name it.
    const int primary = extended & 0xff;
    const bool aboutTheFile = code == 942 || code == 16000 || code == 1578 || primary == SQLITE_IOERR ||
                              primary == SQLITE_CANTOPEN || primary == SQLITE_FULL || primary == SQLITE_PERM;
    const std::string where = aboutTheFile ? " [database '" + path_ + "']" : "";
    if (code > 0) throw DatabaseError(code, oraText + " (" + msg + ")" + Quoted(sqlForErrors) + where);
    throw DatabaseError(0, "Database error: " + msg + Quoted(sqlForErrors) + where);
}

namespace {

void BindValue(sqlite3* db, sqlite3_stmt* st, int index, const rt::Variant& v, const std::string& sql) {
    int rc = SQLITE_OK;
    switch (v.Type()) {
        case rt::vbEmpty:
        case rt::vbNull:
            rc = sqlite3_bind_null(st, index);
            break;
        case rt::vbInteger:
            rc = sqlite3_bind_int64(st, index, v.I2());
            break;
        case rt::vbLong:
            rc = sqlite3_bind_int64(st, index, v.I4());
            break;
        case rt::vbByte:
            rc = sqlite3_bind_int64(st, index, v.Byte());
            break;
        case rt::vbBoolean:
            rc = sqlite3_bind_int64(st, index, v.Bool() ? -1 : 0);
            break;
        case rt::vbSingle:
        case rt::vbDouble: {
            double d = v.R8();
            if (!std::isfinite(d))
                throw DatabaseError(1426, "numeric overflow: value " + std::to_string(index) + " is " + NumberText(d) +
                                              Quoted(sql));
            if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.0e15)
                rc = sqlite3_bind_int64(st, index, static_cast<int64_t>(d));
            else
                rc = sqlite3_bind_double(st, index, d);
            break;
        }
        case rt::vbCurrency: {
            auto c = v.Cy();
            if (c.scaled % 10000 == 0)
                rc = sqlite3_bind_int64(st, index, c.scaled / 10000);
            else
                rc = sqlite3_bind_double(st, index, c.ToDouble());
            break;
        }
        case rt::vbDecimal: {
            const auto& dec = v.Dec();
            std::string text = dec.ToString();
            if (text.find('.') == std::string::npos && text.size() < 18)
                rc = sqlite3_bind_int64(st, index, std::strtoll(text.c_str(), nullptr, 10));
            else
                rc = sqlite3_bind_text(st, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
            break;
        }
        case rt::vbDate: {
            std::string text = OleDateToDbText(v.DateValue());
            rc = sqlite3_bind_text(st, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
            break;
        }
        case rt::vbString:
            // Oracle keeps no empty texts: '' is Null.
            if (v.Str().empty())
                rc = sqlite3_bind_null(st, index);
            else
                rc = sqlite3_bind_text(st, index, v.Str().c_str(), static_cast<int>(v.Str().size()),
                                       SQLITE_TRANSIENT);
            break;
        default:
            if (IsByteArray(v)) {
                std::string bytes;
                if (const auto* a = v.Array()) {
                    bytes.reserve(a->Count());
                    for (const auto& e : a->Data()) bytes.push_back(static_cast<char>(e.Byte()));
                }
                rc = sqlite3_bind_blob(st, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
                break;
            }
            throw DatabaseError(932, "inconsistent datatypes: value " + std::to_string(index) + " is a " +
                                         rt::TypeName(v) + Quoted(sql));
    }
    if (rc != SQLITE_OK) {
        throw DatabaseError(0, std::string("Cannot bind value ") + std::to_string(index) + ": " + sqlite3_errmsg(db) +
                                   Quoted(sql));
    }
}

// Where a cell stands, told only when it cannot be read: its table, column
// and the key of its row.
using CellPlace = std::function<std::string(size_t col)>;

// A value that cannot be read names where it stands, so that its owner can mend it.
rt::Variant ConvertCell(const CellView& c, const ColumnType& t, const CellPlace& place, size_t col,
                        const std::string& sql) {
    if (c.kind == SQLITE_NULL) return rt::Variant::Null();
    auto invalidNumber = [&]() -> rt::Variant {
        throw DatabaseError(1722, "invalid number in column " + place(col) + Quoted(sql));
    };
    switch (t.type) {
        case ado::adNumeric:
            if (c.kind == SQLITE_INTEGER) return rt::Variant(rt::Decimal::FromInt64(c.i));
            if (c.kind == SQLITE_FLOAT) {
                // Beyond a Decimal (written before the column's limits held)
                // it is read as the Double it is, so that the row still opens.
                if (std::isfinite(c.d)) {
                    if (std::fabs(c.d) < 7.9e28) return rt::Variant(rt::Decimal::FromDouble(c.d));
                    return rt::Variant(c.d);
                }
                throw DatabaseError(1426, "numeric overflow: column " + place(col) + " holds " + NumberText(c.d) +
                                              Quoted(sql));
            }
            if (c.kind == SQLITE_TEXT) {
                try {
                    return rt::Variant(rt::Decimal::Parse(std::string(c.s)));
                } catch (const rt::ComError&) {
                    return invalidNumber();
                }
            }
            return invalidNumber();
        case ado::adDouble:
        case ado::adSingle: {
            double d = 0;
            if (c.kind == SQLITE_INTEGER) {
                d = static_cast<double>(c.i);
            } else if (c.kind == SQLITE_FLOAT) {
                d = c.d;
            } else if (c.kind == SQLITE_TEXT) {
                const std::string text(c.s);
                char* end = nullptr;
                d = std::strtod(text.c_str(), &end);
                if (c.s.empty() || *end != '\0') return invalidNumber();
            } else {
                return invalidNumber();
            }
            return t.type == ado::adSingle ? rt::Variant(static_cast<float>(d)) : rt::Variant(d);
        }
        case ado::adDBTimeStamp: {
            double ole = 0;
            if (c.kind == SQLITE_TEXT && DbTextToOleDate(std::string(c.s), ole)) return rt::Variant::Date(ole);
            throw DatabaseError(1861, "literal does not match format string: column " + place(col) +
                                          " holds a value that is not a date" + Quoted(sql));
        }
        case ado::adLongVarBinary:
        case ado::adVarBinary:
            if (c.kind == SQLITE_BLOB || c.kind == SQLITE_TEXT) return BytesVariant(c.s);
            throw DatabaseError(932, "inconsistent datatypes: column " + place(col) + " holds a number" + Quoted(sql));
        default:  // texts
            // Oracle keeps no empty texts: one written by other means reads as Null.
            if (c.kind == SQLITE_TEXT) return c.s.empty() ? rt::Variant::Null() : rt::Variant(std::string(c.s));
            if (c.kind == SQLITE_INTEGER) return rt::Variant(std::to_string(c.i));
            if (c.kind == SQLITE_FLOAT) return rt::Variant(NumberText(c.d));
            return rt::Variant(std::string(c.s));
    }
}

// "T"."C" of the row with its key (the key columns of T the result holds),
// else of its row number; a column of an expression by its name.
std::string PlaceOf(const std::vector<ado::FieldDesc>& fields, size_t col, size_t row,
                    const std::function<CellView(size_t)>& cellAt) {
    const ado::FieldDesc& f = fields[col];
    if (f.baseTable.empty()) return f.name + " of row " + std::to_string(row + 1) + " of the result";
    std::string key;
    for (size_t k = 0; k < fields.size(); ++k) {
        if (!(fields[k].attributes & ado::adFldKeyColumn) || fields[k].baseTable != f.baseTable) continue;
        const CellView v = cellAt(k);
        std::string shown = v.kind == SQLITE_INTEGER ? std::to_string(v.i)
                            : v.kind == SQLITE_FLOAT ? NumberText(v.d)
                            : v.kind == SQLITE_NULL  ? std::string("Null")
                                                     : "'" + std::string(v.s.substr(0, 40)) + "'";
        key += (key.empty() ? "" : ", ") + fields[k].name + " " + shown;
    }
    const std::string where = QuotedIdentifier(f.baseTable) + "." + QuotedIdentifier(f.baseColumn);
    return where + (key.empty() ? " of row " + std::to_string(row + 1) + " of the result" : " of the row with " + key);
}

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
ColumnType InferType(const std::vector<RawCell>& cells, size_t col, size_t ncols) {
    bool anyInt = false, anyReal = false, anyText = false, anyBlob = false;
    int32_t longest = 1;
    for (size_t k = col; k < cells.size(); k += ncols) {
        const RawCell& c = cells[k];
        switch (c.kind) {
            case SQLITE_INTEGER: anyInt = true; break;
            case SQLITE_FLOAT: anyReal = true; break;
            case SQLITE_TEXT:
                anyText = true;
                longest = std::max(longest, Utf16Length(c.s));
                break;
            case SQLITE_BLOB: anyBlob = true; break;
            default: break;
        }
    }
    ColumnType t;
    t.known = true;
    if (anyBlob) {
        t.type = ado::adLongVarBinary;
        t.definedSize = 2147483647;
    } else if (anyText || (!anyInt && !anyReal)) {
        t.type = ado::adVarChar;
        t.definedSize = std::max<int32_t>(longest, 1);
        if (anyInt || anyReal) t.definedSize = std::max<int32_t>(t.definedSize, 40);
    } else if (anyReal) {
        t.type = ado::adDouble;
        t.definedSize = 8;
        t.precision = 15;
    } else {
        t.type = ado::adNumeric;
        t.definedSize = 19;
        t.precision = 38;
    }
    return t;
}

// The ADO description of result column c typed t: its name, type, base
// table and column, and attributes.
void DescribeColumn(sqlite3* db, sqlite3_stmt* raw, int c, const ColumnType& t, ado::FieldDesc& f) {
    const char* name = sqlite3_column_name(raw, c);
    f.name = UpperAscii(name ? name : "");
    f.type = t.type;
    f.definedSize = t.definedSize;
    f.precision = t.precision;
    f.numericScale = t.scale;

    int32_t attrs = 0;
    switch (t.type) {
        case ado::adNumeric: case ado::adDouble: case ado::adSingle: case ado::adDBTimeStamp:
        case ado::adChar: case ado::adWChar:
            attrs |= ado::adFldFixed;
            break;
        case ado::adLongVarBinary: case ado::adLongVarChar: case ado::adLongVarWChar:
            attrs |= ado::adFldLong | ado::adFldMayDefer;
            break;
        default: break;
    }
    const char* table = sqlite3_column_table_name(raw, c);
    const char* origin = sqlite3_column_origin_name(raw, c);
    const char* dbname = sqlite3_column_database_name(raw, c);
    bool nullable = true;
    if (table && origin && dbname && std::strcmp(dbname, "temp") != 0) {
        f.baseTable = UpperAscii(table);
        f.baseColumn = UpperAscii(origin);
        int notNull = 0, pk = 0, autoinc = 0;
        if (sqlite3_table_column_metadata(db, dbname, table, origin, nullptr, nullptr, &notNull, &pk, &autoinc) ==
            SQLITE_OK) {
            nullable = notNull == 0;
            if (pk) attrs |= ado::adFldKeyColumn;
        }
        attrs |= ado::adFldUpdatable;
    }
    if (nullable) attrs |= ado::adFldIsNullable | ado::adFldMayBeNull;
    f.attributes = attrs;
}

// One statement from the text; none or a trailing second one raises naming it.
Stmt PrepareSingle(const SqliteConnection& conn, sqlite3* db, const std::string& sql,
                   const std::string& sqlForErrors, unsigned flags) {
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    // SQLite would read no further than a NUL.
    if (sql.find('\0') != std::string::npos)
        throw DatabaseError(911, "invalid character: the text holds a NUL character" + Quoted(sqlForErrors));
    int rc = sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size()), flags, &raw, &tail);
    if (rc != SQLITE_OK) conn.RaiseLastError(rc, sqlForErrors);
    Stmt st(raw);
    if (!st) throw DatabaseError(900, "invalid SQL statement: the text holds no statement" + Quoted(sqlForErrors));
    for (const char* p = tail; p && *p; ++p)
        if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n' && *p != ';')
            throw DatabaseError(933, "SQL command not properly ended" + Quoted(sqlForErrors));
    return st;
}

// Binds every value in order; a count unlike the markers' raises naming the text.
void BindAll(sqlite3* db, sqlite3_stmt* st, const std::vector<rt::Variant>& values, const std::string& sql) {
    int params = sqlite3_bind_parameter_count(st);
    if (params != static_cast<int>(values.size())) {
        if (params > static_cast<int>(values.size()))
            throw DatabaseError(1008, "not all variables bound: " + std::to_string(params) + " markers, " +
                                          std::to_string(values.size()) + " values" + Quoted(sql));
        throw DatabaseError(1036, "illegal variable name/number: " + std::to_string(params) + " markers, " +
                                      std::to_string(values.size()) + " values" + Quoted(sql));
    }
    for (size_t k = 0; k < values.size(); ++k) BindValue(db, st, static_cast<int>(k + 1), values[k], sql);
}

}  // namespace

// ------------------------------------------------------------------ column limits

namespace {

// A number as its decimal digits: 0.d × 10^exp, d without leading or
// trailing zeros (empty for zero).
struct Digits {
    bool negative = false;
    std::string d;
    int exp = 0;
};

// Reads a number as SQLite's numeric affinity takes it (blanks around it
// allowed); false when the text is no number.
bool ParseDigits(std::string_view s, Digits& out) {
    size_t k = 0;
    auto blank = [&](size_t i) { return s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r'; };
    while (k < s.size() && blank(k)) ++k;
    size_t end = s.size();
    while (end > k && blank(end - 1)) --end;
    out = Digits{};
    if (k < end && (s[k] == '+' || s[k] == '-')) out.negative = s[k++] == '-';
    bool any = false, point = false;
    int before = 0;  // digits kept before the point
    for (; k < end; ++k) {
        const char c = s[k];
        if (c >= '0' && c <= '9') {
            any = true;
            if (out.d.empty() && c == '0') {
                if (point) --out.exp;
                continue;
            }
            out.d.push_back(c);
            if (!point) ++before;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!any) return false;
    long e = 0;
    if (k < end && (s[k] == 'e' || s[k] == 'E')) {
        ++k;
        bool neg = false;
        if (k < end && (s[k] == '+' || s[k] == '-')) neg = s[k++] == '-';
        if (k >= end) return false;
        for (; k < end && s[k] >= '0' && s[k] <= '9'; ++k) e = std::min(e * 10 + (s[k] - '0'), 100000L);
        if (neg) e = -e;
    }
    if (k != end) return false;
    while (!out.d.empty() && out.d.back() == '0') out.d.pop_back();
    out.exp += before + static_cast<int>(e);
    if (out.d.empty()) out = Digits{};
    return true;
}

Digits DigitsOf(double x) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.14e", x);  // 15 digits, as the value is shown
    Digits d;
    ParseDigits(buf, d);
    return d;
}

// Rounds to `scale` decimals, half away from zero; true when that changed it.
bool RoundDigits(Digits& n, int scale) {
    const long keep = static_cast<long>(n.exp) + scale;
    if (keep >= static_cast<long>(n.d.size())) return false;
    if (keep < 0) {
        n = Digits{};
        return true;
    }
    const bool up = n.d[static_cast<size_t>(keep)] >= '5';
    n.d.resize(static_cast<size_t>(keep));
    if (up) {
        long i = keep - 1;
        for (; i >= 0 && n.d[static_cast<size_t>(i)] == '9'; --i) n.d[static_cast<size_t>(i)] = '0';
        if (i < 0) {
            n.d.insert(n.d.begin(), '1');
            ++n.exp;
        } else {
            ++n.d[static_cast<size_t>(i)];
        }
    }
    while (!n.d.empty() && n.d.back() == '0') n.d.pop_back();
    if (n.d.empty()) n = Digits{};
    return true;
}

std::string PlainText(const Digits& n) {
    if (n.d.empty()) return "0";
    std::string s = n.negative ? "-" : "";
    const long size = static_cast<long>(n.d.size());
    if (n.exp <= 0) {
        s += "0." + std::string(static_cast<size_t>(-n.exp), '0') + n.d;
    } else if (n.exp >= size) {
        s += n.d + std::string(static_cast<size_t>(n.exp - size), '0');
    } else {
        s += n.d.substr(0, static_cast<size_t>(n.exp)) + "." + n.d.substr(static_cast<size_t>(n.exp));
    }
    return s;
}

bool IsTextLimited(const ColumnType& t) {
    return t.type == ado::adVarChar || t.type == ado::adVarWChar || t.type == ado::adChar || t.type == ado::adWChar;
}

std::string TypeText(const ColumnType& t) {
    if (t.type == ado::adNumeric)
        return "NUMBER(" + std::to_string(t.precision) + (t.limitScale ? "," + std::to_string(t.limitScale) : "") + ")";
    return std::string(t.type == ado::adVarBinary ? "RAW(" : "VARCHAR2(") + std::to_string(t.definedSize) + ")";
}

int64_t CharCount(std::string_view utf8) {
    int64_t n = 0;
    for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
    return n;
}

std::string ColumnName(const std::string& table, const std::string& column) {
    return QuotedIdentifier(table) + "." + QuotedIdentifier(column);
}

DatabaseError TooLarge(const std::string& table, const std::string& column, int64_t actual, int64_t maximum) {
    return DatabaseError(12899, "value too large for column " + ColumnName(table, column) + " (actual: " +
                                    std::to_string(actual) + ", maximum: " + std::to_string(maximum) + ")");
}

DatabaseError TooPrecise(const std::string& table, const std::string& column, const ColumnType& t,
                         const std::string& value) {
    return DatabaseError(1438, "value larger than specified precision allowed for this column (" +
                                   ColumnName(table, column) + " " + TypeText(t) + ", value " + value + ")");
}

DatabaseError NotANumber(const std::string& table, const std::string& column, std::string_view text) {
    std::string shown(text.substr(0, 60));
    return DatabaseError(1722, "invalid number: \"" + shown + (text.size() > 60 ? "..." : "") + "\" for column " +
                                   ColumnName(table, column));
}

constexpr int64_t kPow10Int[] = {1,           10,           100,           1000,           10000,
                                 100000,      1000000,      10000000,      100000000,      1000000000,
                                 10000000000, 100000000000, 1000000000000, 10000000000000, 100000000000000,
                                 1000000000000000, 10000000000000000, 100000000000000000,
                                 1000000000000000000};

double Pow10(int e) {
    static const auto table = [] {
        std::array<double, 40> p{};
        double v = 1;
        for (auto& x : p) {
            x = v;
            v *= 10;
        }
        return p;
    }();
    return e >= 0 && e < 40 ? table[static_cast<size_t>(e)] : std::pow(10.0, e);
}

enum class Fit { Fits, Rounded, Refused };

// Integer, Long, Byte and Boolean as they are bound.
int64_t IntegerValue(const rt::Variant& v) {
    switch (v.Type()) {
        case rt::vbInteger: return v.I2();
        case rt::vbLong: return v.I4();
        case rt::vbByte: return v.Byte();
        case rt::vbBoolean: return v.Bool() ? -1 : 0;
        default: return 0;
    }
}

// Numbers: the fast answers first, then the digits.
Fit FitDigits(Digits& n, const ColumnType& t) {
    const bool changed = RoundDigits(n, t.limitScale);
    if (!n.d.empty() && n.exp > static_cast<int>(t.precision) - t.limitScale) return Fit::Refused;
    return changed ? Fit::Rounded : Fit::Fits;
}

Fit FitInteger(int64_t i, const ColumnType& t, Digits& n) {
    const int whole = static_cast<int>(t.precision) - t.limitScale;
    if (t.limitScale >= 0) {
        if (i == 0 || whole >= 19) return Fit::Fits;
        if (whole <= 0) return Fit::Refused;
        return (i < 0 ? i > -kPow10Int[whole] : i < kPow10Int[whole]) ? Fit::Fits : Fit::Refused;
    }
    n = Digits{};
    ParseDigits(std::to_string(i), n);
    return FitDigits(n, t);
}

Fit FitDouble(double d, const ColumnType& t, Digits& n) {
    if (!std::isfinite(d)) return Fit::Refused;
    const int s = t.limitScale;
    if (s >= 0 && s <= 22) {
        const double q = d * Pow10(s);
        if (q == std::trunc(q) && std::fabs(d) < Pow10(static_cast<int>(t.precision) - s)) return Fit::Fits;
    }
    n = DigitsOf(d);
    return FitDigits(n, t);
}

// What a rounded number is stored as.
rt::Variant RoundedValue(const Digits& n) { return rt::Variant(std::strtod(PlainText(n).c_str(), nullptr)); }

}  // namespace

bool HasLimit(const ColumnType& t) {
    return t.known && (t.type == ado::adNumeric || t.type == ado::adVarBinary || IsTextLimited(t));
}

void FitToColumn(rt::Variant& v, const ColumnType& t, const std::string& table, const std::string& column) {
    if (!HasLimit(t) || v.IsNull() || v.IsEmpty()) return;
    if (t.type != ado::adNumeric) {
        int64_t length = 0;
        if (v.IsString()) {
            // A text holds no more characters than bytes: most need no counting.
            const std::string& s = v.Str();
            if (static_cast<int64_t>(s.size()) <= t.definedSize) return;
            length = t.type == ado::adVarBinary ? static_cast<int64_t>(s.size()) : CharCount(s);
        } else if (IsByteArray(v)) {
            length = v.Array() ? static_cast<int64_t>(v.Array()->Count()) : 0;
        } else if (v.Type() == rt::vbDate) {
            length = static_cast<int64_t>(OleDateToDbText(v.DateValue()).size());
        } else if (v.IsNumericType()) {
            // As the column's affinity stores a number: its text.
            if (v.Type() == rt::vbDecimal) {
                length = static_cast<int64_t>(v.Dec().ToString().size());
            } else if (v.Type() != rt::vbSingle && v.Type() != rt::vbDouble && v.Type() != rt::vbCurrency) {
                length = static_cast<int64_t>(std::to_string(IntegerValue(v)).size());
            } else {
                const double d = v.Type() == rt::vbCurrency ? v.Cy().ToDouble() : v.R8();
                if (d == std::trunc(d) && std::fabs(d) < 9.0e15) {
                    length = static_cast<int64_t>(std::to_string(static_cast<int64_t>(d)).size());
                } else {
                char* text = sqlite3_mprintf("%!.15g", d);
                length = text ? static_cast<int64_t>(std::strlen(text)) : 0;
                sqlite3_free(text);
                }
            }
        }
        if (length > t.definedSize) throw TooLarge(table, column, length, t.definedSize);
        return;
    }
    Digits n;
    Fit fit = Fit::Fits;
    std::string shown;
    switch (v.Type()) {
        case rt::vbInteger: case rt::vbLong: case rt::vbByte: case rt::vbBoolean:
            fit = FitInteger(IntegerValue(v), t, n);
            if (fit == Fit::Refused) shown = std::to_string(IntegerValue(v));
            break;
        case rt::vbSingle: case rt::vbDouble: case rt::vbCurrency: {
            const double d = v.Type() == rt::vbCurrency ? v.Cy().ToDouble() : v.R8();
            // Not finite: the binding refuses it as Oracle's overflow.
            if (!std::isfinite(d)) return;
            fit = FitDouble(d, t, n);
            if (fit == Fit::Refused) shown = NumberText(d);
            break;
        }
        case rt::vbDecimal:
            shown = v.Dec().ToString();
            ParseDigits(shown, n);
            fit = FitDigits(n, t);
            if (fit == Fit::Rounded) {
                v = rt::Variant(rt::Decimal::Parse(PlainText(n)));
                return;
            }
            break;
        case rt::vbString:
            if (!ParseDigits(v.Str(), n)) throw NotANumber(table, column, v.Str());
            shown = v.Str();
            fit = FitDigits(n, t);
            break;
        default:
            return;
    }
    if (fit == Fit::Refused) throw TooPrecise(table, column, t, shown);
    if (fit == Fit::Rounded) v = RoundedValue(n);
}

void SqliteConnection::CheckRow(void* self, sqlite3* db, int op, const char* dbName, const char* table, long long,
                                long long rowid) {
    auto& limits = *static_cast<SqliteConnection*>(self)->limits_;
    if ((op != SQLITE_INSERT && op != SQLITE_UPDATE) || limits.refused || std::strcmp(dbName, "main") != 0) return;
    try {
        // Rows of a statement mostly go to one table: its name is SQLite's
        // own for as long as the schema stands.
        if (table != limits.lastName) {
            auto found = limits.tables.find(UpperAscii(table));
            limits.lastName = table;
            limits.last = found == limits.tables.end() ? nullptr : &found->second;
        }
        if (!limits.last || !limits.last->any) return;
        const Limits::Table& t = *limits.last;
        const int count = std::min<int>(sqlite3_preupdate_count(db), static_cast<int>(t.columns.size()));
        for (int c = 0; c < count; ++c) {
            const auto& [name, type] = t.columns[static_cast<size_t>(c)];
            if (!type.known) continue;
            sqlite3_value* v = nullptr;
            if (sqlite3_preupdate_new(db, c, &v) != SQLITE_OK || !v) continue;
            const int kind = sqlite3_value_type(v);
            if (kind == SQLITE_NULL) continue;
            if (op == SQLITE_UPDATE) {
                // A value the statement leaves as it was is not judged again.
                sqlite3_value* old = nullptr;
                if (sqlite3_preupdate_old(db, c, &old) == SQLITE_OK && old && sqlite3_value_type(old) == kind) {
                    const int bytes = sqlite3_value_bytes(v);
                    if (kind == SQLITE_INTEGER ? sqlite3_value_int64(old) == sqlite3_value_int64(v)
                        : kind == SQLITE_FLOAT ? sqlite3_value_double(old) == sqlite3_value_double(v)
                                               : sqlite3_value_bytes(old) == bytes &&
                                                     (bytes == 0 || std::memcmp(sqlite3_value_blob(old),
                                                                                sqlite3_value_blob(v), bytes) == 0))
                        continue;
                }
            }
            const CellView cell = ReadCell(v);
            if (type.type != ado::adNumeric) {
                if (kind != SQLITE_TEXT && kind != SQLITE_BLOB) continue;
                if (static_cast<int64_t>(cell.s.size()) <= type.definedSize) continue;
                const int64_t length = type.type == ado::adVarBinary || kind == SQLITE_BLOB
                                           ? static_cast<int64_t>(cell.s.size())
                                           : CharCount(cell.s);
                if (length > type.definedSize) {
                    limits.refused = TooLarge(t.name, name, length, type.definedSize);
                    return;
                }
                continue;
            }
            Digits n;
            Fit fit = Fit::Fits;
            if (kind == SQLITE_INTEGER) {
                fit = FitInteger(cell.i, type, n);
            } else if (kind == SQLITE_FLOAT) {
                fit = FitDouble(cell.d, type, n);
            } else if (kind == SQLITE_TEXT) {
                limits.refused = NotANumber(t.name, name, cell.s);
                return;
            }
            if (fit == Fit::Refused) {
                limits.refused = TooPrecise(t.name, name, type, kind == SQLITE_INTEGER ? std::to_string(cell.i) : NumberText(cell.d));
                return;
            }
            if (fit == Fit::Rounded && t.rowid) limits.rounded.push_back({&t, static_cast<size_t>(c), rowid, RoundedValue(n)});
        }
    } catch (const DatabaseError& e) {
        limits.refused = e;
    } catch (const std::exception& e) {
        limits.refused = DatabaseError(0, std::string("Cannot check the column limits of ") + table + ": " + e.what());
    } catch (...) {
        limits.refused = DatabaseError(0, std::string("Cannot check the column limits of ") + table);
    }
}


void SqliteConnection::BeginLimits() {
    if (!limits_) limits_ = std::make_unique<Limits>();
    Limits& limits = *limits_;
    limits.refused.reset();
    limits.rounded.clear();
    limits.lastName = nullptr;
    // The context's own statements: no guard, so that the authorizer lets them be.
    OwnSqlScope own(*this);
    if (!limits.schemaVersion) {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v3(db_, "PRAGMA main.schema_version", -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr) != SQLITE_OK)
            RaiseLastError(sqlite3_errcode(db_), "PRAGMA main.schema_version");
        limits.schemaVersion.reset(raw);
    }
    sqlite3_stmt* version = limits.schemaVersion.get();
    int64_t now = -2;
    const int versionRc = sqlite3_step(version);
    if (versionRc == SQLITE_ROW) now = sqlite3_column_int64(version, 0);
    sqlite3_reset(version);
    if (versionRc != SQLITE_ROW) RaiseLastError(versionRc, "PRAGMA main.schema_version");
    if (now != limits.schema || now < 0) {
        limits.tables.clear();
        const std::string sql =
            "SELECT l.name, l.wr, p.cid, p.name, p.type FROM pragma_table_list AS l, "
            "pragma_table_info(l.name, 'main') AS p WHERE l.schema = 'main' AND l.type = 'table' ORDER BY l.name, p.cid";
        Stmt st = PrepareSingle(*this, db_, sql, sql, 0);
        int rc;
        while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
            auto text = [&](int c) {
                const unsigned char* p = sqlite3_column_text(st.get(), c);
                return std::string(p ? reinterpret_cast<const char*>(p) : "");
            };
            const std::string name = text(0);
            Limits::Table& t = limits.tables[UpperAscii(name)];
            t.name = name;
            t.rowid = sqlite3_column_int(st.get(), 1) == 0;
            const auto cid = static_cast<size_t>(std::max(0, sqlite3_column_int(st.get(), 2)));
            if (t.columns.size() <= cid) t.columns.resize(cid + 1);
            ColumnType type = MapDeclaredType(text(4));
            if (!HasLimit(type)) type = ColumnType{};
            t.any = t.any || type.known;
            t.columns[cid] = {text(3), type};
        }
        if (rc != SQLITE_DONE) RaiseLastError(rc, sql);
        limits.schema = now;
    }
    limits.Run(*this, limits.savepoint, "SAVEPOINT PELMORA_STATEMENT");
    // Kept with the others, so that a transaction renewed to wait for the
    // write lock sets it again.
    savepoints_.emplace_back("PELMORA_STATEMENT");
    sqlite3_preupdate_hook(db_, &SqliteConnection::CheckRow, this);
}

void SqliteConnection::EndLimits(bool stepped, const std::string& sqlForErrors) {
    sqlite3_preupdate_hook(db_, nullptr, nullptr);
    Limits& limits = *limits_;
    OwnSqlScope own(*this);
    auto release = [&] {
        auto ours = std::find(savepoints_.rbegin(), savepoints_.rend(), "PELMORA_STATEMENT");
        if (ours != savepoints_.rend()) savepoints_.erase(std::next(ours).base(), savepoints_.end());
        if (InTransaction()) limits.Run(*this, limits.release, "RELEASE PELMORA_STATEMENT");
    };
    if (!stepped) {
        // The statement failed and SQLite undid it; its error stands.
        try {
            release();
        } catch (const rt::ComError&) {
        }
        return;
    }
    try {
        if (limits.refused) {
            const DatabaseError refused = *limits.refused;
            limits.refused.reset();
            limits.rounded.clear();
            ExecuteRaw("ROLLBACK TO PELMORA_STATEMENT");
            release();
            const std::string& text = refused.Description();
            throw DatabaseError(refused.OraCode(), (refused.OraCode() > 0 ? text.substr(11) : text) + Quoted(sqlForErrors));
        }
        for (const auto& r : limits.rounded) {
            const std::string& column = r.table->columns[r.column].first;
            ExecuteCached("UPDATE main." + QuotedIdentifier(r.table->name) + " SET " + QuotedIdentifier(column) +
                              " = ? WHERE rowid = ?",
                          {r.value, rt::Variant(rt::Decimal::FromInt64(r.rowid))});
        }
        limits.rounded.clear();
        release();
    } catch (const DatabaseError& e) {
        if (e.OraCode() == 1438 || e.OraCode() == 12899 || e.OraCode() == 1722) throw;
        try {
            ExecuteRaw("ROLLBACK TO PELMORA_STATEMENT");
            release();
        } catch (const rt::ComError&) {
        }
        throw;
    }
}
ado::RecordsetImage SqliteConnection::Query(const std::string& sql, const std::vector<rt::Variant>& values,
                                            const std::string& sqlForErrors, int64_t* changes) {
    refused_.clear();
    // A query that only reads is kept prepared for the next run of its text:
    // preparing costs more than most of the lookups run here.
    if (!cache_) cache_ = std::make_unique<StatementCache>();
    const std::string key = (guarded_ ? "G" : "U") + sql;
    Stmt st;
    sqlite3_stmt* raw = nullptr;
    StatementCache::Kept* keptQuery = nullptr;
    auto kept = cache_->queries.find(key);
    if (kept != cache_->queries.end() && !sqlite3_stmt_busy(kept->second.st.get())) {
        keptQuery = &kept->second;
        raw = keptQuery->st.get();
    } else {
        st = PrepareSingle(*this, db_, sql, sqlForErrors, SQLITE_PREPARE_PERSISTENT);
        raw = st.get();
        if (kept == cache_->queries.end() && sqlite3_stmt_readonly(raw) && sqlite3_column_count(raw) > 0) {
            if (cache_->queries.size() >= StatementCache::kMaxStatements) cache_->queries.clear();
            keptQuery = &cache_->queries.emplace(key, StatementCache::Kept{std::move(st), -1, {}, {}, 0}).first->second;
            raw = keptQuery->st.get();
        }
    }
    // Ready for the next run whatever happens to this one.
    struct ResetAfter {
        sqlite3_stmt* st;
        ~ResetAfter() {
            sqlite3_reset(st);
            sqlite3_clear_bindings(st);
        }
    } resetAfter{raw};
    if (guarded_ && queryOnly_ && !sqlite3_stmt_readonly(raw))
        throw DatabaseError(900, "invalid SQL statement: a query that writes is refused" + Quoted(sqlForErrors));
    BindAll(db_, raw, values, sqlForErrors);
    int rc;
    // System SQL that writes keeps Oracle's column limits.
    struct Limited {
        SqliteConnection* c = nullptr;
        ~Limited() {
            if (c) c->EndLimits(false, "");
        }
    } limited;
    if (guarded_ && !queryOnly_ && !sqlite3_stmt_readonly(raw)) {
        BeginLimits();
        limited.c = this;
    }

    // Counted once stepped: a kept statement that the schema change
    // re-prepares on its first step may have gained or lost columns.
    int ncols = -1;
    ado::RecordsetImage image;
    std::vector<RawCell> cells;
    // A kept query described under the statement as it now stands, whose
    // columns all have declared types, converts each row as it is stepped;
    // any other keeps the rows first (an expression's type comes from all its
    // values).
    std::vector<ColumnType> types;
    std::unique_ptr<ValueSink> direct;
    // The first value that would not convert is raised once every row is
    // stepped, as when the rows were kept first: a failed step comes first.
    std::exception_ptr unconverted;
    {
        // Held for the whole read, so that each cell is read through its
        // value object without locking the connection again.
        struct HoldMutex {
            sqlite3_mutex* m;
            explicit HoldMutex(sqlite3_mutex* mutex) : m(mutex) { sqlite3_mutex_enter(m); }
            ~HoldMutex() { sqlite3_mutex_leave(m); }
        } hold(sqlite3_db_mutex(db_));
        for (;;) {
            rc = sqlite3_step(raw);
            if (rc != SQLITE_ROW) {
                // Nothing was read yet when a write meets another's lock.
                if (rc != SQLITE_DONE && ncols < 0 && WaitTurnToWrite(raw, rc, sqlForErrors)) continue;
                break;
            }
            if (ncols < 0) {
                ncols = sqlite3_column_count(raw);
                const size_t width = static_cast<size_t>(ncols);
                if (keptQuery && keptQuery->Describes(raw, width) &&
                    std::all_of(keptQuery->declared.begin(), keptQuery->declared.end(),
                                [](const ColumnType& t) { return t.known; })) {
                    image.fields = keptQuery->fields;
                    types = keptQuery->declared;
                    direct = std::make_unique<ValueSink>(
                        image.values, types, sqlForErrors, [&, width](size_t col) {
                            return PlaceOf(image.fields, col, (image.values.size()) / width,
                                           [&](size_t k) { return ReadCell(sqlite3_column_value(raw, static_cast<int>(k))); });
                        });
                    image.values.reserve(keptQuery->values);
                }
            }
            if (direct) {
                if (unconverted) continue;
                try {
                    for (int c = 0; c < ncols; ++c)
                        direct->Put(ReadCell(sqlite3_column_value(raw, c)), static_cast<size_t>(c));
                } catch (...) {
                    unconverted = std::current_exception();
                }
                continue;
            }
            for (int c = 0; c < ncols; ++c) {
                const CellView view = ReadCell(sqlite3_column_value(raw, c));
                RawCell cell;
                cell.kind = view.kind;
                cell.i = view.i;
                cell.d = view.d;
                cell.s.assign(view.s.data(), view.s.size());
                cells.push_back(std::move(cell));
            }
        }
    }
    if (rc != SQLITE_DONE) RaiseLastError(rc, sqlForErrors);
    if (changes) *changes = sqlite3_changes64(db_);
    if (limited.c) {
        limited.c = nullptr;
        EndLimits(true, sqlForErrors);
    }
    if (ncols < 0) ncols = sqlite3_column_count(raw);
    if (ncols == 0) return image;
    if (unconverted) std::rethrow_exception(unconverted);
    if (keptQuery) keptQuery->values = image.values.size() + cells.size();
    if (direct) return image;

    const size_t width = static_cast<size_t>(ncols);
    types.assign(width, ColumnType{});
    // Describing columns (names, declared types, the table's column
    // metadata) costs more than running most kept queries.
    if (keptQuery && keptQuery->Describes(raw, width)) {
        image.fields = keptQuery->fields;
        for (size_t c = 0; c < width; ++c) {
            types[c] = keptQuery->declared[c];
            if (!types[c].known) {
                types[c] = InferType(cells, c, width);
                DescribeColumn(db_, raw, static_cast<int>(c), types[c], image.fields[c]);
            }
        }
    } else {
        image.fields.resize(width);
        std::vector<ColumnType> declared(width);
        for (size_t c = 0; c < width; ++c) {
            const char* decl = sqlite3_column_decltype(raw, static_cast<int>(c));
            declared[c] = MapDeclaredType(decl ? decl : "");
            types[c] = declared[c].known ? declared[c] : InferType(cells, c, width);
            DescribeColumn(db_, raw, static_cast<int>(c), types[c], image.fields[c]);
        }
        if (keptQuery) {
            keptQuery->prepared = sqlite3_stmt_status(raw, SQLITE_STMTSTATUS_REPREPARE, 0);
            keptQuery->fields = image.fields;
            keptQuery->declared = std::move(declared);
        }
    }
    image.values.reserve(cells.size());
    ValueSink sink(image.values, types, sqlForErrors, [&](size_t col) {
        const size_t row = image.values.size() / width;
        return PlaceOf(image.fields, col, row, [&](size_t k) { return ViewOf(cells[row * width + k]); });
    });
    for (size_t k = 0; k < cells.size(); ++k) sink.Put(ViewOf(cells[k]), k % width);
    return image;
}

int64_t SqliteConnection::Execute(const std::string& sql, const std::vector<rt::Variant>& values) {
    int64_t changes = 0;
    Query(sql, values, sql, &changes);
    return changes;
}

int64_t SqliteConnection::ExecuteCached(const std::string& sql, const std::vector<rt::Variant>& values) {
    return ExecutePrepared(PrepareCached(sql), values, sql);
}

sqlite3_stmt* SqliteConnection::PrepareCached(const std::string& sql) {
    if (!cache_) cache_ = std::make_unique<StatementCache>();
    auto it = cache_->statements.find(sql);
    if (it == cache_->statements.end()) {
        Stmt st = PrepareSingle(*this, db_, sql, sql, SQLITE_PREPARE_PERSISTENT);
        if (cache_->statements.size() >= StatementCache::kMaxStatements) cache_->statements.clear();
        it = cache_->statements.emplace(sql, std::move(st)).first;
    }
    return it->second.get();
}

int64_t SqliteConnection::ExecutePrepared(sqlite3_stmt* st, const std::vector<rt::Variant>& values,
                                          const std::string& sql) {
    // Ready for the next run whatever happens to this one. Every run binds
    // every marker (texts as copies), so the bindings need no clearing.
    struct ResetAfter {
        sqlite3_stmt* st;
        ~ResetAfter() { sqlite3_reset(st); }
    } resetAfter{st};
    BindAll(db_, st, values, sql);
    int rc;
    do {
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        }
    } while (rc != SQLITE_DONE && WaitTurnToWrite(st, rc, sql));
    if (rc != SQLITE_DONE) RaiseLastError(rc, sql);
    return sqlite3_changes64(db_);
}

void SqliteConnection::ExecuteRaw(const std::string& sql) {
    char* err = nullptr;
    int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err);
    // Raw text is the owner's: a COMMIT or ROLLBACK there ends what it began.
    if (rc == SQLITE_OK && !InTransaction() && !lost_) owned_ = false;
    ForgetSavepointsIfEnded();
    if (rc != SQLITE_OK) {
        sqlite3_free(err);
        RaiseLastError(rc, sql);
    }
}

bool SqliteConnection::InTransaction() const { return sqlite3_get_autocommit(db_) == 0; }

void SqliteConnection::RaiseTransactionLost() const {
    throw DatabaseError(2091, "transaction rolled back: the database ended the transaction on its own (" +
                                  lostBecause_ + "); the work since the last Commit is lost, and nothing runs "
                                                 "until the owner calls Rollback");
}

std::string SqliteConnection::NoteTransactionLost(const std::string& why) {
    if (lost_ || !owned_ || InTransaction()) return "";
    savepoints_.clear();
    lost_ = true;
    lostBecause_ = why.size() > 300 ? why.substr(0, 300) + "..." : why;
    return " (the database rolled back the transaction on its own: the work since the last Commit is lost, and "
           "nothing runs until the owner calls Rollback)";
}

bool SqliteConnection::EnsureTransaction() {
    if (lost_) RaiseTransactionLost();
    if (InTransaction()) return false;
    if (owned_) {
        NoteTransactionLost("it had ended before this call");
        RaiseTransactionLost();
    }
    ExecuteRaw("BEGIN");
    owned_ = true;
    return true;
}

void SqliteConnection::CommitAndBegin() {
    if (lost_) RaiseTransactionLost();
    const bool wrote = sqlite3_txn_state(db_, "main") == SQLITE_TXN_WRITE;
    ExecuteRaw("COMMIT");
    if (wrote) CheckpointPastLimit();
    EnsureTransaction();
}

bool SqliteConnection::HasWritten() const { return sqlite3_txn_state(db_, nullptr) == SQLITE_TXN_WRITE; }

void SqliteConnection::ForgetSavepointsIfEnded() {
    if (!InTransaction()) savepoints_.clear();
}

bool SqliteConnection::StatementRunning(sqlite3_stmt* except) const {
    for (sqlite3_stmt* s = sqlite3_next_stmt(db_, nullptr); s; s = sqlite3_next_stmt(db_, s))
        if (s != except && sqlite3_stmt_busy(s)) return true;
    return false;
}

void SqliteConnection::RenewTransaction(bool forWrite, const std::string& sqlForErrors) {
    OwnSqlScope own(*this);
    if (!cache_) cache_ = std::make_unique<StatementCache>();
    auto exec = [&](const std::string& sql) {
        // The two a reader runs at the end of every call are kept prepared.
        Stmt* kept = sql == "COMMIT" ? &cache_->commit : sql == "BEGIN" ? &cache_->begin : nullptr;
        if (!kept) return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
        if (!*kept) {
            sqlite3_stmt* st = nullptr;
            int rc = sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr);
            if (rc != SQLITE_OK) return rc;
            kept->reset(st);
        }
        int rc = sqlite3_step(kept->get());
        sqlite3_reset(kept->get());
        return rc == SQLITE_DONE ? SQLITE_OK : rc;
    };
    // Ending a transaction that wrote nothing only lets go of its snapshot.
    int rc = exec("COMMIT");
    if (rc != SQLITE_OK) RaiseLastError(rc, sqlForErrors);
    rc = exec(forWrite ? "BEGIN IMMEDIATE" : "BEGIN");
    int failed = SQLITE_OK;
    std::string why;
    if (rc != SQLITE_OK) {
        failed = sqlite3_extended_errcode(db_);
        why = sqlite3_errmsg(db_);
        rc = exec("BEGIN");
    }
    for (size_t k = 0; rc == SQLITE_OK && k < savepoints_.size(); ++k)
        rc = exec("SAVEPOINT " + QuotedIdentifier(savepoints_[k]));
    if (rc != SQLITE_OK) {
        // Nothing was written, so nothing is lost but the savepoints; the
        // next call begins afresh.
        if (failed == SQLITE_OK) {
            failed = sqlite3_extended_errcode(db_);
            why = sqlite3_errmsg(db_);
        }
        if (InTransaction()) exec("ROLLBACK");
        savepoints_.clear();
        owned_ = false;
    }
    if (failed == SQLITE_OK) return;
    if ((failed & 0xff) == SQLITE_BUSY)
        throw DatabaseError(54, "resource busy and acquire with NOWAIT specified or timeout expired (" + why +
                                    ": another connection held the database's write lock for the whole busy "
                                    "timeout of " + std::to_string(busyTimeoutMs_) + " ms)" + Quoted(sqlForErrors));
    RaiseError(failed, why, sqlForErrors);
}

bool SqliteConnection::WaitTurnToWrite(sqlite3_stmt* failed, int rc, const std::string& sqlForErrors) {
    // Only a transaction that holds a snapshot of the file and has written
    // nothing may start over on a newer one: SQLite gives such a reader no
    // wait for the write lock, and a newer commit bars its write for good.
    // One that has written keeps ORA-08177 (its work would rest on what it
    // did not see), one that held no snapshot has already waited.
    if ((rc & 0xff) != SQLITE_BUSY || sqlite3_stmt_readonly(failed) || !owned_ || lost_ || !InTransaction() ||
        sqlite3_txn_state(db_, "main") != SQLITE_TXN_READ || HasWritten() || StatementRunning(failed))
        return false;
    sqlite3_reset(failed);
    RenewTransaction(true, sqlForErrors);
    return true;
}

void SqliteConnection::EndSnapshotIfUnwritten() {
    // No other connection shares a database in memory.
    if (memory_ || !owned_ || lost_ || !InTransaction() || sqlite3_txn_state(db_, nullptr) != SQLITE_TXN_READ)
        return;
    RenewTransaction(false, "COMMIT");
}

void SqliteConnection::CheckpointPastLimit() {
    const char* file = sqlite3_db_filename(db_, "main");
    if (logLimitBytes_ <= 0 || readOnly_ || !file || !*file) return;
    std::error_code ec;
    const auto size = std::filesystem::file_size(std::string(file) + "-wal", ec);
    if (ec || static_cast<int64_t>(size) <= logLimitBytes_) return;
    // Folds the log into the file and empties it once no reader needs it.
    // Another connection's writes or reads may hold it back a little while
    // longer than the commit should wait: a later commit tries again.
    constexpr int kCheckpointWaitMs = 50;
    waitMs_ = std::min(busyTimeoutMs_, kCheckpointWaitMs);
    sqlite3_wal_checkpoint_v2(db_, "main", SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    waitMs_ = busyTimeoutMs_;
}

void SqliteConnection::RollbackAndBegin() {
    lost_ = false;
    lostBecause_.clear();
    savepoints_.clear();
    if (InTransaction()) ExecuteRaw("ROLLBACK");
    owned_ = false;
    EnsureTransaction();
}

void SqliteConnection::Savepoint(const std::string& name) {
    ExecuteRaw("SAVEPOINT \"" + UpperAscii(name) + "\"");
    savepoints_.push_back(UpperAscii(name));
}

void SqliteConnection::RollbackTo(const std::string& name) {
    std::string sql = "ROLLBACK TO SAVEPOINT \"" + UpperAscii(name) + "\"";
    char* err = nullptr;
    int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        std::string msg = err ? err : sqlite3_errstr(rc);
        sqlite3_free(err);
        if (msg.rfind("no such savepoint", 0) == 0)
            throw DatabaseError(1086, "savepoint '" + UpperAscii(name) +
                                          "' never established in this session or is invalid");
        RaiseLastError(rc, sql);
    }
    // The savepoint stays; those set after it are gone.
    auto it = std::find(savepoints_.rbegin(), savepoints_.rend(), UpperAscii(name));
    if (it != savepoints_.rend()) savepoints_.erase(it.base(), savepoints_.end());
}

void SqliteConnection::Release(const std::string& name) {
    ExecuteRaw("RELEASE SAVEPOINT \"" + UpperAscii(name) + "\"");
    auto it = std::find(savepoints_.rbegin(), savepoints_.rend(), UpperAscii(name));
    if (it != savepoints_.rend()) savepoints_.erase(std::next(it).base(), savepoints_.end());
}

// ------------------------------------------------------------------ sequences

namespace {
constexpr int64_t kSequenceLimit = 999999999999999999;
constexpr const char* kSequenceTable =
    "CREATE TABLE IF NOT EXISTS PELMORA_SEQUENCES ("
    "SEQUENCE_NAME TEXT PRIMARY KEY, LAST_NUMBER INTEGER NOT NULL, "
    "INCREMENT_BY INTEGER NOT NULL, MAX_VALUE INTEGER)";

bool SequenceTableExists(sqlite3* db) {
    return sqlite3_table_column_metadata(db, "main", "PELMORA_SEQUENCES", "LAST_NUMBER", nullptr, nullptr, nullptr,
                                         nullptr, nullptr) == SQLITE_OK;
}
}  // namespace

void SqliteConnection::CreateSequence(const std::string& name, int64_t startWith, int64_t incrementBy,
                                      int64_t maxValue) {
    if (incrementBy == 0) throw DatabaseError(4002, "INCREMENT must be a non-zero integer: sequence " + name);
    // Values stay within 18 digits, so that no sum of two overflows.
    auto check = [&](int64_t v, const char* what) {
        if (v < -kSequenceLimit || v > kSequenceLimit)
            throw DatabaseError(4003, std::string("sequence parameter ") + what +
                                          " exceeds maximum size allowed (18 digits): sequence " + name);
    };
    check(startWith, "START WITH");
    check(incrementBy, "INCREMENT BY");
    if (maxValue != INT64_MAX) check(maxValue, "MAXVALUE");
    Execute(kSequenceTable);
    std::string upper = UpperAscii(name);
    auto exact = [](int64_t v) { return rt::Variant(rt::Decimal::FromInt64(v)); };
    try {
        rt::Variant maxV = maxValue == INT64_MAX ? rt::Variant::Null() : exact(maxValue);
        Execute("INSERT INTO PELMORA_SEQUENCES (SEQUENCE_NAME, LAST_NUMBER, INCREMENT_BY, MAX_VALUE) "
                "VALUES (?, ?, ?, ?)",
                {rt::Variant(upper), exact(startWith - incrementBy), exact(incrementBy), maxV});
    } catch (const DatabaseError& e) {
        if (e.OraCode() == 1)
            throw DatabaseError(955, "name is already used by an existing object: sequence " + upper);
        throw;
    }
}

void SqliteConnection::DropSequence(const std::string& name) {
    std::string upper = UpperAscii(name);
    if (!SequenceTableExists(db_) ||
        Execute("DELETE FROM PELMORA_SEQUENCES WHERE SEQUENCE_NAME = ?", {rt::Variant(upper)}) == 0)
        throw DatabaseError(2289, "sequence does not exist: " + upper);
}

int64_t SqliteConnection::NextValue(const std::string& name) {
    std::string upper = UpperAscii(name);
    if (!SequenceTableExists(db_)) throw DatabaseError(2289, "sequence does not exist: " + upper);
    const std::string sql =
        "UPDATE PELMORA_SEQUENCES SET LAST_NUMBER = LAST_NUMBER + INCREMENT_BY "
        "WHERE SEQUENCE_NAME = ? AND LAST_NUMBER + INCREMENT_BY BETWEEN -999999999999999999 AND "
        "coalesce(MAX_VALUE, 999999999999999999) "
        "RETURNING LAST_NUMBER";
    ado::RecordsetImage rows;
    try {
        rows = Query(sql, {rt::Variant(upper)}, upper + ".NEXTVAL");
    } catch (const DatabaseError& e) {
        if (e.OraCode() == 54)
            throw DatabaseError(54, "resource busy: another connection holds the sequence " + upper +
                                        " (its transaction is still open)");
        throw;
    }
    if (rows.RowCount() == 0) {
        auto found = Query("SELECT 1 FROM PELMORA_SEQUENCES WHERE SEQUENCE_NAME = ?", {rt::Variant(upper)}, sql);
        if (found.RowCount() == 0) throw DatabaseError(2289, "sequence does not exist: " + upper);
        throw DatabaseError(8004, "sequence " + upper +
                                      ".NEXTVAL exceeds MAXVALUE (or its 18-digit bound) and cannot be instantiated");
    }
    return rt::DecimalRoundToInt64(rows.values[0].Dec());
}

}  // namespace product
