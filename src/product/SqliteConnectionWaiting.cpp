// Waiting for writers: the busy handler, and a reader's snapshot renewed to
// wait its turn for the write lock.

#include "product/SqliteConnectionSupport.h"

#include <chrono>
#include <thread>

namespace product {

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
        rc = exec("SAVEPOINT " + QuotedIdentifier(savepoints_[k].sql));
    if (rc != SQLITE_OK) {
        // Nothing was written, so nothing is lost but the savepoints; the
        // next call begins afresh.
        if (failed == SQLITE_OK) {
            failed = sqlite3_extended_errcode(db_);
            why = sqlite3_errmsg(db_);
        }
        if (InTransaction()) exec("ROLLBACK");
        savepoints_.clear();
        UndoFrom(0);
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

}  // namespace product
