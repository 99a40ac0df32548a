// Database errors as Oracle errors: the code a SQLite failure stands for,
// and its wording.

#include "product/SqliteConnectionSupport.h"

#include <cstdio>

namespace product {

namespace {

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

}  // namespace

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

void SqliteConnection::RaiseLastError(int rc, const std::string& sqlForErrors) {
    int extended = sqlite3_extended_errcode(db_);
    RaiseError(extended == SQLITE_OK ? rc : extended, sqlite3_errmsg(db_), sqlForErrors);
}

namespace {

DatabaseError ErrorFor(int extended, const std::string& msg, const std::string& sqlForErrors,
                       const std::string& refused, const std::string& path) {
    if ((extended & 0xff) == SQLITE_AUTH && !refused.empty())
        return DatabaseError(1031, "insufficient privileges: SQL sent through the data context may not " + refused +
                                       Quoted(sqlForErrors));
    std::string oraText;
    int code = OraCodeFor(extended, msg, oraText);
    // Failures that lie with the file (a missing table included) name it.
    const int primary = extended & 0xff;
    const bool aboutTheFile = code == 942 || code == 16000 || code == 1578 || primary == SQLITE_IOERR ||
                              primary == SQLITE_CANTOPEN || primary == SQLITE_FULL || primary == SQLITE_PERM;
    const std::string where = aboutTheFile ? " [database '" + path + "']" : "";
    if (code > 0) return DatabaseError(code, oraText + " (" + msg + ")" + Quoted(sqlForErrors) + where);
    return DatabaseError(0, "Database error: " + msg + Quoted(sqlForErrors) + where);
}

}  // namespace

void SqliteConnection::RaiseError(int extended, const std::string& msg, const std::string& sqlForErrors) {
    const DatabaseError error = ErrorFor(extended, msg, sqlForErrors, refused_, path_);
    // A failure that ended the transaction ends it for the caller at once,
    // before any handler of the caller's runs.
    MarkIfLost(error.Description());
    throw error;
}

}  // namespace product
