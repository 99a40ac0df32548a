// The connection: opening the file, names in SQL, running statements, and
// the transaction with its savepoints. The other concerns are in
// SqliteConnection<Concern>.cpp beside it.

#include "product/SqliteConnection.h"

#include "product/SqliteConnectionSupport.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <string_view>

#include <sys/statvfs.h>
#include <unistd.h>

namespace product {

namespace {

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

}  // namespace

namespace sqlite_support {

Stmt PrepareSingle(SqliteConnection& conn, sqlite3* db, const std::string& sql,
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


}  // namespace sqlite_support

// ------------------------------------------------------------------ names

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

SqliteConnection::~SqliteConnection() {
    cache_.reset();  // statements are finalized before the connection closes
    limits_.reset();
    if (db_) sqlite3_close_v2(db_);
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

// ------------------------------------------------------------------ statements

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
    if (rc != SQLITE_OK) {
        sqlite3_free(err);
        RaiseLastError(rc, sql);
    }
    // Raw text is the owner's: a COMMIT or ROLLBACK there ends what it began.
    if (!InTransaction() && !lost_) owned_ = false;
    ForgetSavepointsIfEnded();
}

bool SqliteConnection::InTransaction() const { return sqlite3_get_autocommit(db_) == 0; }

// ------------------------------------------------------------------ transaction

void SqliteConnection::RaiseTransactionLost() const {
    throw DatabaseError(2091, "transaction rolled back: the database ended the transaction on its own (" +
                                  lostBecause_ + "); the work since the last Commit is lost, and nothing runs "
                                                 "until the owner calls Rollback");
}

void SqliteConnection::MarkIfLost(const std::string& why) {
    if (lost_ || InTransaction()) return;
    // Rolled back whole: what stood with the work goes with it.
    savepoints_.clear();
    UndoFrom(0);
    if (!owned_) return;
    lost_ = true;
    lostBecause_ = why.size() > 300 ? why.substr(0, 300) + "..." : why;
}

std::string SqliteConnection::NoteTransactionLost(const std::string& why) {
    MarkIfLost(why);
    if (!lost_ || lostNoted_) return "";
    lostNoted_ = true;
    return " (the database rolled back the transaction on its own: the work since the last Commit is lost, and "
           "nothing runs until the owner calls Rollback)";
}

bool SqliteConnection::EnsureTransaction() {
    if (lost_) RaiseTransactionLost();
    if (InTransaction()) return false;
    if (owned_) {
        MarkIfLost("it had ended before this call");
        lostNoted_ = true;
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
    if (InTransaction()) return;
    savepoints_.clear();
    undo_.clear();
}

void SqliteConnection::RollbackAndBegin() {
    lost_ = false;
    lostNoted_ = false;
    lostBecause_.clear();
    savepoints_.clear();
    UndoFrom(0);
    if (InTransaction()) ExecuteRaw("ROLLBACK");
    owned_ = false;
    EnsureTransaction();
}

namespace {

// A savepoint named as the system named it, without the serial that makes
// its SQLite name unique.
std::string SavepointLabel(const std::string& sqlName) { return sqlName.substr(0, sqlName.rfind('#')); }

[[noreturn]] void RaiseNoSavepoint(const std::string& name) {
    throw DatabaseError(1086, "savepoint '" + name + "' never established in this session or is invalid");
}

// ROLLBACK TO or RELEASE of an open savepoint; one SQLite no longer knows is
// named as the system named it. Takes a copy: a failure that ended the
// transaction empties the list of savepoints.
void OnSavepoint(SqliteConnection& c, const char* verb, std::string sql) {
    try {
        c.ExecuteRaw(std::string(verb) + " SAVEPOINT \"" + sql + "\"");
    } catch (const DatabaseError& e) {
        if (e.OraCode() == 1086) RaiseNoSavepoint(SavepointLabel(sql));
        throw;
    }
}

}  // namespace

std::vector<SqliteConnection::OpenSavepoint>::iterator SqliteConnection::FindSavepoint(const std::string& name,
                                                                                       bool own) {
    if (lost_) RaiseTransactionLost();
    const std::string upper = UpperAscii(name);
    for (auto it = savepoints_.end(); it != savepoints_.begin();) {
        --it;
        if (own ? it->name.empty() && it->sql == name : it->name == upper) return it;
    }
    RaiseNoSavepoint(own ? SavepointLabel(name) : upper);
}

std::string SqliteConnection::SetSavepoint(const std::string& label, const std::string& name) {
    if (lost_) RaiseTransactionLost();
    // SQLite keeps every savepoint of a name and rolls back to the latest
    // still open; Oracle keeps one, so the older must not answer once the
    // newer is gone: each gets a name of its own in SQLite.
    const std::string sql = label + "#" + std::to_string(++savepointSerial_);
    ExecuteRaw("SAVEPOINT \"" + sql + "\"");
    if (!name.empty())
        for (auto& open : savepoints_)
            if (open.name == name) open.name.clear();
    savepoints_.push_back({sql, name, undo_.size()});
    return sql;
}

void SqliteConnection::Savepoint(const std::string& name) {
    const std::string upper = UpperAscii(name);
    SetSavepoint(upper, upper);
}

std::string SqliteConnection::OwnSavepoint(const std::string& label) { return SetSavepoint(label, ""); }

bool SqliteConnection::OwnSavepointStands(const std::string& key) const {
    return std::any_of(savepoints_.begin(), savepoints_.end(),
                       [&](const OpenSavepoint& open) { return open.name.empty() && open.sql == key; });
}

void SqliteConnection::RollbackTo(const std::string& name) { RollbackTo(FindSavepoint(name)); }
void SqliteConnection::RollbackToOwn(const std::string& key) { RollbackTo(FindSavepoint(key, true)); }
void SqliteConnection::Release(const std::string& name) { Release(FindSavepoint(name)); }
void SqliteConnection::ReleaseOwn(const std::string& key) { Release(FindSavepoint(key, true)); }

void SqliteConnection::RollbackTo(std::vector<OpenSavepoint>::iterator it) {
    OnSavepoint(*this, "ROLLBACK TO", it->sql);
    // The savepoint stays; those set after it are gone.
    const size_t mark = it->undoMark;
    savepoints_.erase(std::next(it), savepoints_.end());
    UndoFrom(mark);
}

void SqliteConnection::Release(std::vector<OpenSavepoint>::iterator it) {
    OnSavepoint(*this, "RELEASE", it->sql);
    // What was done since stays, and is undone with the work around it.
    savepoints_.erase(it, savepoints_.end());
}

void SqliteConnection::UndoOnRollback(std::function<void()> undo) {
    if (InTransaction() && undo) undo_.push_back(std::move(undo));
}

void SqliteConnection::UndoFrom(size_t mark) {
    while (undo_.size() > mark) {
        auto undo = std::move(undo_.back());
        undo_.pop_back();
        undo();
    }
}

}  // namespace product
