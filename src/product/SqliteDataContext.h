#pragma once
// The product's data context over one SQLite connection (a file or
// ":memory:"), held in one transaction until its owner calls Commit or
// Rollback; dropping the context without Commit rolls back. Texts go
// through the Oracle dialect layer (OracleDialect.h, OracleSession.h);
// recordsets come back as client-side ADO recordsets whose fields carry
// ADO types, sizes and base table and column (docs/DATA_CONTEXT.md).
#include <cstdint>
#include <memory>
#include <string>

#include "ado/Recordset.h"
#include "interfaces/DataContext.h"
#include "product/OracleSession.h"
#include "product/SqliteConnection.h"
#include "runtime/Object.h"

namespace product {

class SqliteDataContext : public rt::Object,
                          public pelmora::IDataContext,
                          public pelmora::IDataContextRows {
public:
    struct Options {
        bool create = false;       // create a missing file (else a missing file is an error)
        int busyTimeoutMs = 2000;  // how long a write waits for another connection's transaction
        int32_t dataMode = 0;      // ordinary SQL
        // Past this size the write-ahead log is checkpointed after a commit
        // that wrote (0: SQLite's own checkpoints only).
        int64_t logLimitBytes = SqliteConnection::kDefaultLogLimitBytes;
    };
    // Opens the database and starts its transaction. A missing file, a file
    // that is not a database or one another connection holds locked raises
    // a DatabaseError naming the file.
    static std::shared_ptr<SqliteDataContext> Open(const std::string& path, const Options& options);
    static std::shared_ptr<SqliteDataContext> Open(const std::string& path) { return Open(path, Options{}); }

    SqliteDataContext(const std::string& path, const Options& options);
    ~SqliteDataContext() override;

    // ---- members of the stand-in (not of IDataContext) ----
    // Ends the transaction and starts the next one.
    void Commit();
    void Rollback();
    void put_DataMode(int32_t mode) { dataMode_ = mode; }
    // The metadata service GetMetadataService hands out. The context holds
    // it; the service must not hold the context strongly.
    void putref_MetadataService(std::shared_ptr<pelmora::IMetadataService> service) {
        metadataService_ = std::move(service);
    }
    // Runs the statements of a script (";"-separated; a block ends at a line
    // holding "/") all or nothing: a failure undoes the whole script.
    void ExecuteScript(const std::string& script);
    void ExecuteScriptFile(const std::string& path);
    const std::string& Path() const { return connection_.Path(); }
    OracleSession& Session() { return session_; }
    SqliteConnection& Connection() { return connection_; }

    // ---- IDataContext ----
    std::shared_ptr<pelmora::IMetadataService> GetMetadataService() override;
    int32_t DataMode() override { return dataMode_; }
    std::shared_ptr<ado::Recordset> ExecuteSQL(const std::string& SQL, rt::Variant& RecordsAffected,
                                               int32_t Options) override;
    std::shared_ptr<ado::Recordset> ExecuteCommand(const std::shared_ptr<ado::Command>& Command,
                                                   rt::Variant& RecordsAffected) override;
    std::shared_ptr<ado::Recordset> OpenRecordset(const std::string& SQL) override;
    void UpdateRecordset(const std::shared_ptr<ado::Recordset>& Recordset, int32_t AffectRecords) override;
    std::shared_ptr<ado::Recordset> OpenParameterizedRecordset(const std::string& SQL, int32_t CursorType,
                                                               int32_t LockType, int32_t Options,
                                                               rt::Variant& Parameters) override;
    std::shared_ptr<ado::Recordset> ExecuteParameterizedSQL(const std::string& SQL, rt::Variant& RecordsAffected,
                                                            int32_t Options, rt::Variant& Parameters) override;
    std::shared_ptr<ado::Recordset> OpenParameterizedRecordsetEx(const std::string& SQL, int32_t CursorType,
                                                                 int32_t LockType, int32_t Options,
                                                                 rt::Variant& Parameters) override;

    // ---- IDataContextRows ----
    std::shared_ptr<ado::Recordset> GetComponentRows(const std::string& TableName, const rt::Variant& FIDs,
                                                     int16_t CNO) override;
    std::shared_ptr<ado::Recordset> GetGeometryRows(const std::string& TableName, const rt::Variant& FIDs,
                                                    int16_t CNO) override;

    std::string TypeName() const override { return "SqliteDataContext"; }

private:
    // Each member call is one: when the outermost ends, a transaction that
    // has written nothing lets go of its snapshot.
    class CallScope;
    std::shared_ptr<ado::Recordset> Run(const std::string& sql, std::vector<BoundValue>& params, int32_t options,
                                        ado::LockTypeEnum lockType, rt::Variant* recordsAffected);
    void WriteTable(const std::string& table, const std::shared_ptr<ado::Recordset>& rs,
                    const std::vector<ado::PendingRow>& rows);

    SqliteConnection connection_;
    OracleSession session_;
    int32_t dataMode_ = 0;
    int callDepth_ = 0;
    std::shared_ptr<pelmora::IMetadataService> metadataService_;
};

}  // namespace product
