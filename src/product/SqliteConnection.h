#pragma once
// One SQLite connection with the conversions the data context needs: Variant
// values in and out, column types mapped to ADO field descriptors as Oracle's
// OLE DB provider describes its columns, database errors as Oracle errors,
// and the sequence store.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ado/Persist.h"
#include "runtime/Error.h"
#include "runtime/Variant.h"

struct sqlite3;
struct sqlite3_stmt;

namespace product {

// The provider's error number (E_FAIL), as ADO reports every database error.
inline constexpr int32_t kProviderErrorNumber = rt::HResult(0x80004005u);
// ADO's number when a pending row no longer matches a row of its table.
inline constexpr int32_t kRowNotLocatedNumber = rt::HResult(0x80040E38u);

// An error of the database. OraCode is the Oracle error it stands for
// (1086 for ORA-01086), 0 when it has none; the description starts with
// "ORA-nnnnn: " then.
class DatabaseError : public rt::ComError {
public:
    DatabaseError(int oraCode, const std::string& message, int32_t number = kProviderErrorNumber);
    int OraCode() const noexcept { return oraCode_; }

private:
    int oraCode_;
};

[[noreturn]] void RaiseOra(int oraCode, const std::string& message);

// OLE Automation dates <-> the text a DATE column holds ("YYYY-MM-DD HH:MM:SS").
std::string OleDateToDbText(double oleDate);
// Accepts "YYYY-MM-DD" and "YYYY-MM-DD HH:MM:SS" (also with a "T"); false on
// anything else.
bool DbTextToOleDate(const std::string& text, double& oleDate);
double OleDateFromParts(int year, int month, int day, int hour, int minute, int second);

// The ADO description of a declared column type ("NUMBER(10,2)",
// "VARCHAR2(30)", ...). Known is false when the declared type is none of
// the Oracle types the table covers; the value then decides.
struct ColumnType {
    bool known = false;
    ado::DataTypeEnum type = ado::adVariant;
    int32_t definedSize = 0;
    uint8_t precision = 0;
    uint8_t scale = 0;
    int limitScale = 0;  // the declared scale, also when negative (NUMBER(5,-2))
};
ColumnType MapDeclaredType(const std::string& declared);

// Oracle's limits of a column: a text longer than the length declared
// (characters; bytes for RAW) raises ORA-12899, a number with more whole
// digits than precision less scale ORA-01438, a text that is no number in a
// numeric column ORA-01722; a number is rounded to the scale, half away from
// zero. LOBs, dates and numbers without precision have none.
bool HasLimit(const ColumnType& t);
// Fits a value about to be bound for table.column to the column, in place.
void FitToColumn(rt::Variant& v, const ColumnType& t, const std::string& table, const std::string& column);

class SqliteConnection {
public:
    // Above this the write-ahead log is folded into the file after a commit.
    static constexpr int64_t kDefaultLogLimitBytes = int64_t{32} << 20;
    struct Options {
        bool create = false;        // create the file when it is missing
        int busyTimeoutMs = 2000;   // how long to wait for another writer
        int64_t logLimitBytes = kDefaultLogLimitBytes;  // 0: SQLite's own checkpoints only
    };
    // Opens the file (or ":memory:") and checks that it is a readable
    // database; raises a DatabaseError naming the file otherwise (an empty
    // file or anything but a regular file included). A file that cannot be
    // written, or lies in a folder that cannot be, is opened read-only;
    // writes then raise ORA-16000. Such a file in WAL mode can be read only
    // while its "-shm" file exists; otherwise opening says why and what to do.
    SqliteConnection(const std::string& path, const Options& options);
    ~SqliteConnection();
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    sqlite3* Handle() const { return db_; }
    const std::string& Path() const { return path_; }
    // True when the file could not be written and was opened for reading.
    bool ReadOnly() const { return readOnly_; }

    // Runs one SQLite statement with positional values; the rows (when the
    // statement yields columns) come back as an image whose fields carry
    // their ADO types and base table and column. sqlForErrors is the text
    // named in an error (the caller's text, before any rewriting).
    ado::RecordsetImage Query(const std::string& sql, const std::vector<rt::Variant>& values,
                              const std::string& sqlForErrors, int64_t* changes = nullptr);
    // Runs one statement that yields no rows; returns the rows changed.
    int64_t Execute(const std::string& sql, const std::vector<rt::Variant>& values = {});
    // Runs statements without values (transaction control, schema).
    void ExecuteRaw(const std::string& sql);
    // Runs one statement that yields no rows through a prepared statement
    // kept for the next run of the same text (a few dozen are kept); returns
    // the rows changed. For routines that run one text for many rows.
    int64_t ExecuteCached(const std::string& sql, const std::vector<rt::Variant>& values);
    // The two halves of ExecuteCached, for a run of rows of one text: the
    // kept statement of the text (prepared when new), then one run of it.
    // The handle stays valid until another text is prepared or run cached.
    sqlite3_stmt* PrepareCached(const std::string& sql);
    int64_t ExecutePrepared(sqlite3_stmt* statement, const std::vector<rt::Variant>& values,
                            const std::string& sqlForErrors);

    bool InTransaction() const;
    // Starts the transaction when none was started (true then). One that
    // SQLite ended on its own (a conflict clause or trigger of the file, a
    // full disk) is lost: this and every later call raise ORA-02091 until
    // the owner calls Rollback. A COMMIT or ROLLBACK through ExecuteRaw is
    // the owner's own end.
    bool EnsureTransaction();
    // After a failure (why): when SQLite has ended the transaction on its
    // own, marks it lost (the failure that ended it is marked as it happens)
    // and returns a note for the failure's description the first time it is
    // asked after the loss; else "".
    std::string NoteTransactionLost(const std::string& why);
    // True from the failure that ended the transaction until Rollback.
    bool TransactionLost() const { return lost_; }
    // The owner's end of the transaction (and of a lost one); the next
    // starts at once. A commit that wrote checkpoints the log once it has
    // grown past the limit.
    void CommitAndBegin();
    void RollbackAndBegin();
    // A transaction that has written nothing (temp tables included) lets go
    // of its snapshot, so that it pins no old state of the log, and sees
    // what others committed from its next read on; its savepoints stay.
    void EndSnapshotIfUnwritten();
    // True when the transaction holds uncommitted writes.
    bool HasWritten() const;

    // While one stands, statements prepared here are the system's SQL: the
    // authorizer refuses transaction control, savepoints, ATTACH/DETACH,
    // PRAGMA, triggers and virtual tables (ORA-01031), and with readOnly a
    // statement that would write is refused (ORA-00900).
    class SystemSqlScope {
    public:
        SystemSqlScope(SqliteConnection& c, bool readOnly) : c_(c) {
            c_.guarded_ = true;
            c_.queryOnly_ = readOnly;
        }
        ~SystemSqlScope() { c_.guarded_ = c_.queryOnly_ = false; }
        SystemSqlScope(const SystemSqlScope&) = delete;
        SystemSqlScope& operator=(const SystemSqlScope&) = delete;

    private:
        SqliteConnection& c_;
    };

    // Savepoints as Oracle keeps them: a name used again moves the savepoint
    // to now, so the older one of that name is gone; RollbackTo and Release
    // raise ORA-01086 when no savepoint of the name is open. Once the
    // transaction is lost they raise ORA-02091.
    void Savepoint(const std::string& name);
    void RollbackTo(const std::string& name);
    void Release(const std::string& name);
    // A savepoint of the owner's that no name sent in SQL answers to; the
    // key returned stands for it in RollbackToOwn and ReleaseOwn, and errors
    // name it by label.
    std::string OwnSavepoint(const std::string& label);
    void RollbackToOwn(const std::string& key);
    void ReleaseOwn(const std::string& key);
    // False once a rollback to an older savepoint (or the transaction's end)
    // took it.
    bool OwnSavepointStands(const std::string& key) const;
    // State kept outside the tables that stands or falls with the work done
    // so far: undo runs when that work is rolled back (to a savepoint set
    // before now, or whole), and is forgotten when it is committed.
    void UndoOnRollback(std::function<void()> undo);

    // ---- sequences, kept in the table PELMORA_SEQUENCES ----
    void CreateSequence(const std::string& name, int64_t startWith, int64_t incrementBy, int64_t maxValue);
    void DropSequence(const std::string& name);
    // The next value, taken under the database's write lock, so no two
    // connections ever receive the same value. ORA-02289 when unknown.
    int64_t NextValue(const std::string& name);

    // Raises the database's last error as a DatabaseError, naming the text.
    [[noreturn]] void RaiseLastError(int rc, const std::string& sqlForErrors);

private:
    struct StatementCache;
    struct Limits;
    // The connection's own statements run unguarded, whatever guard stands
    // for the caller's; the caller's guard comes back when the scope ends.
    class OwnSqlScope {
    public:
        explicit OwnSqlScope(SqliteConnection& c) : c_(c), guarded_(c.guarded_), queryOnly_(c.queryOnly_) {
            c_.guarded_ = c_.queryOnly_ = false;
        }
        ~OwnSqlScope() {
            c_.guarded_ = guarded_;
            c_.queryOnly_ = queryOnly_;
        }
        OwnSqlScope(const OwnSqlScope&) = delete;
        OwnSqlScope& operator=(const OwnSqlScope&) = delete;

    private:
        SqliteConnection& c_;
        bool guarded_, queryOnly_;
    };
    // A write of system SQL runs under Oracle's column limits: each row is
    // judged as it is written (a preupdate hook), inside a savepoint that
    // undoes the statement when one does not fit; rounded numbers are set
    // once it has run.
    void BeginLimits();
    void EndLimits(bool stepped, const std::string& sqlForErrors);
    static void CheckRow(void* self, sqlite3* db, int op, const char* dbName, const char* table, long long, long long rowid);
    static int Authorize(void* self, int action, const char* a, const char* b, const char* db, const char* trigger);
    static int WaitWhileBusy(void* self, int attempt);
    [[noreturn]] void RaiseTransactionLost() const;
    [[noreturn]] void RaiseError(int extended, const std::string& msg, const std::string& sqlForErrors);
    // After a failure (why): a transaction of ours that SQLite ended is lost
    // from now on, its savepoints gone and its undo run, as a rollback's.
    void MarkIfLost(const std::string& why);
    // After a write statement failed (rc): when only an old snapshot stood in
    // its way, renews it and waits for the write lock (ORA-00054 after the
    // busy timeout); true when the statement may run again.
    bool WaitTurnToWrite(sqlite3_stmt* failed, int rc, const std::string& sqlForErrors);
    bool StatementRunning(sqlite3_stmt* except) const;
    // Ends the transaction and begins the next with the same savepoints;
    // forWrite takes the write lock at once, waiting for it.
    void RenewTransaction(bool forWrite, const std::string& sqlForErrors);
    void CheckpointPastLimit();
    void ForgetSavepointsIfEnded();

    bool guarded_ = false;
    bool queryOnly_ = false;
    std::string refused_;      // what the authorizer last refused
    bool owned_ = false;       // a transaction EnsureTransaction began is open
    bool lost_ = false;        // SQLite ended it on its own
    std::string lostBecause_;  // the failure that ended it
    bool lostNoted_ = false;   // the caller has been told
    // Open savepoints, oldest first: the name SQLite knows (unique for those
    // set by Savepoint), the name they answer to (empty once a later one took
    // it) and how much of undo_ stood when each was set.
    struct OpenSavepoint {
        std::string sql;
        std::string name;
        size_t undoMark = 0;
    };
    std::vector<OpenSavepoint> savepoints_;
    // The latest savepoint answering to the name (own: whose key it is).
    std::vector<OpenSavepoint>::iterator FindSavepoint(const std::string& name, bool own = false);
    // Sets a savepoint SQLite knows as label#serial (returned), answering
    // to name (none when empty), which no older one answers to after.
    std::string SetSavepoint(const std::string& label, const std::string& name);
    void RollbackTo(std::vector<OpenSavepoint>::iterator it);
    void Release(std::vector<OpenSavepoint>::iterator it);
    int64_t savepointSerial_ = 0;
    std::vector<std::function<void()>> undo_;
    // Runs the undo actions from mark on, latest first, and drops them.
    void UndoFrom(size_t mark);
    int busyTimeoutMs_ = 0;
    int waitMs_ = 0;            // what the wait now in hand may last
    int64_t busySinceUs_ = 0;   // when it began
    int64_t logLimitBytes_ = 0;
    sqlite3* db_ = nullptr;
    std::string path_;
    bool readOnly_ = false;
    bool memory_ = false;
    std::unique_ptr<StatementCache> cache_;
    std::unique_ptr<Limits> limits_;
};

// A name as SQL writes it quoted: in double quotes, an inner quote doubled,
// so that a name from a schema can never end early.
std::string QuotedIdentifier(const std::string& name);

// Shortcut for a name compared with the case rules of unquoted Oracle
// identifiers.
std::string UpperAscii(std::string s);

}  // namespace product
