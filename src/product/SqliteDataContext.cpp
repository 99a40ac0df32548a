#include "product/SqliteDataContext.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "ado/Command.h"
#include "product/WorkOperationsPackage.h"
#include "runtime/SqlName.h"
#include "runtime/Vb.h"

namespace product {

namespace {

constexpr const char* kSource = "SqliteDataContext";

void CheckTableName(const std::string& name) {
    if (!rt::IsQualifiedSqlName(name)) RaiseOra(903, "invalid table name \"" + name + "\"");
}

// The values of a Variant array (any lower bound), in index order; Empty or
// Missing give none.
std::vector<BoundValue> ValuesOf(const rt::Variant& parameters) {
    std::vector<BoundValue> out;
    if (parameters.IsEmpty() || parameters.IsMissing()) return out;
    if (!parameters.IsArray())
        throw rt::ComError(ado::err::InvalidArgument, kSource,
                           "The parameter values must be an array with one value per \"?\" marker, not a " +
                               rt::TypeName(parameters));
    const rt::SafeArray* a = parameters.Array();
    if (!a) return out;
    if (a->Dims() != 1)
        throw rt::ComError(ado::err::InvalidArgument, kSource,
                           "The parameter values must be a one-dimensional array");
    for (const auto& v : a->Data()) out.push_back(BoundValue{v, false, 0});
    return out;
}

// The FID list of IDataContextRows: a Long array, or "-999" (or nothing) for none.
std::vector<rt::Variant> FidsOf(const rt::Variant& fids) {
    std::vector<rt::Variant> out;
    if (fids.IsArray()) {
        if (const rt::SafeArray* a = fids.Array())
            for (const auto& v : a->Data()) out.push_back(v);
    } else if (fids.IsString()) {
        if (fids.Str() != "-999")
            throw rt::ComError(ado::err::InvalidArgument, kSource,
                               "The FID list must be a Long array or \"-999\", not \"" + fids.Str() + "\"");
    } else if (!fids.IsEmpty() && !fids.IsNull()) {
        out.push_back(fids);
    }
    if (out.empty()) out.push_back(rt::Variant(int32_t{-999}));
    return out;
}

std::string MarkerList(size_t n) {
    std::string s;
    for (size_t k = 0; k < n; ++k) s += k == 0 ? "?" : ", ?";
    return s;
}

bool SameValue(const rt::Variant& a, const rt::Variant& b) {
    if (a.IsNull() || b.IsNull()) return a.IsNull() && b.IsNull();
    if (a.IsArray() || b.IsArray()) {
        if (!a.IsArray() || !b.IsArray()) return false;
        const auto* x = a.Array();
        const auto* y = b.Array();
        if (!x || !y) return x == y;
        if (x->Count() != y->Count()) return false;
        for (size_t k = 0; k < x->Count(); ++k)
            if (!rt::VariantEquals(x->Data()[k], y->Data()[k])) return false;
        return true;
    }
    return rt::VariantEquals(a, b);
}

bool IsNullish(const rt::Variant& v) {
    return v.IsNull() || v.IsEmpty() || (v.IsString() && v.Str().empty());
}

}  // namespace

class SqliteDataContext::CallScope {
public:
    explicit CallScope(SqliteDataContext& dc) : dc_(dc) { ++dc_.callDepth_; }
    ~CallScope() {
        if (--dc_.callDepth_ > 0) return;
        try {
            // A reader's open snapshot would keep every later commit in the
            // log; it sees those commits from its next call on anyway.
            dc_.connection_.EndSnapshotIfUnwritten();
        } catch (const rt::ComError&) {
            // The snapshot stays until the next call ends.
        }
    }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

private:
    SqliteDataContext& dc_;
};

std::shared_ptr<SqliteDataContext> SqliteDataContext::Open(const std::string& path, const Options& options) {
    return std::make_shared<SqliteDataContext>(path, options);
}

SqliteDataContext::SqliteDataContext(const std::string& path, const Options& options)
    : connection_(path, SqliteConnection::Options{options.create, options.busyTimeoutMs, options.logLimitBytes}),
      session_(connection_),
      dataMode_(options.dataMode) {
    connection_.EnsureTransaction();
}

SqliteDataContext::~SqliteDataContext() {
    try {
        if (connection_.InTransaction()) connection_.ExecuteRaw("ROLLBACK");
    } catch (const rt::ComError&) {
        // Closing the connection rolls back as well.
    }
}

void SqliteDataContext::Commit() {
    connection_.CommitAndBegin();
    // What was written is no longer pending.
    ForgetWrittenFeatures(session_.State());
}

void SqliteDataContext::Rollback() {
    ForgetWrittenFeatures(session_.State());
    connection_.RollbackAndBegin();
}

void SqliteDataContext::ExecuteScript(const std::string& script) {
    CallScope call(*this);
    std::vector<std::string> statements = SplitScript(script);
    connection_.EnsureTransaction();
    // Of its own, so that a savepoint the script sets never takes its place.
    std::string savepoint = connection_.OwnSavepoint("PELMORA_SCRIPT");
    // The last statement that rolled back to a savepoint set before the
    // script: that rollback cannot be taken back, what followed it can.
    size_t past = 0;
    size_t k = 0;
    try {
        for (; k < statements.size(); ++k) {
            session_.Execute(statements[k]);
            if (!connection_.OwnSavepointStands(savepoint)) {
                past = k + 1;
                savepoint = connection_.OwnSavepoint("PELMORA_SCRIPT");
            }
        }
    } catch (const rt::ComError& e) {
        const std::string lost = connection_.NoteTransactionLost(e.Description());
        const bool stands = connection_.OwnSavepointStands(savepoint);
        if (stands) {
            try {
                connection_.RollbackToOwn(savepoint);
                connection_.ReleaseOwn(savepoint);
            } catch (const rt::ComError&) {
            }
        }
        // A lost transaction kept nothing, whatever the script rolled back.
        std::string kept = "nothing of the script was kept";
        if (!connection_.TransactionLost() && !stands)
            kept = "it rolled back to a savepoint set before the script: that rollback stands, and so does what the "
                   "statement did after it";
        else if (!connection_.TransactionLost() && past > 0)
            kept = "statement " + std::to_string(past) +
                   " rolled back to a savepoint set before the script: that rollback stands, and what the script "
                   "did after it was taken back";
        throw rt::ComError(e.Number(), e.Source(),
                           e.Description() + " (statement " + std::to_string(k + 1) + " of the script; " + kept + ")" +
                               lost);
    }
    connection_.ReleaseOwn(savepoint);
}

void SqliteDataContext::ExecuteScriptFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw rt::ComError(rt::vberr::FileNotFound, kSource, "Cannot read the script file '" + path + "'");
    std::stringstream text;
    text << in.rdbuf();
    std::string script = text.str();
    if (script.rfind("\xEF\xBB\xBF", 0) == 0) script.erase(0, 3);  // the file's encoding mark, not SQL
    try {
        ExecuteScript(script);
    } catch (const rt::ComError& e) {
        throw rt::ComError(e.Number(), e.Source(), path + ": " + e.Description());
    }
}

std::shared_ptr<pelmora::IMetadataService> SqliteDataContext::GetMetadataService() {
    if (!metadataService_)
        throw rt::ComError(rt::vberr::ObjectVariableNotSet, "SqliteDataContext.GetMetadataService",
                           "The data context has no metadata service: its owner has given it none");
    return metadataService_;
}

std::shared_ptr<ado::Recordset> SqliteDataContext::Run(const std::string& sql, std::vector<BoundValue>& params,
                                                       int32_t options, ado::LockTypeEnum lockType,
                                                       rt::Variant* recordsAffected) {
    CallScope call(*this);
    int32_t type = options == -1 ? -1 : (options & ~ado::adExecuteNoRecords);
    std::string text = sql;
    switch (type) {
        case -1:
        case 0:
        case ado::adCmdText:
        case ado::adCmdUnknown:
            break;
        case ado::adCmdTable:
            CheckTableName(sql);
            text = "SELECT * FROM " + sql;
            break;
        case ado::adCmdStoredProc:
            CheckTableName(sql);
            text = "{call " + sql + (params.empty() ? "" : "(" + MarkerList(params.size()) + ")") + "}";
            break;
        default:
            throw rt::ComError(ado::err::InvalidArgument, kSource,
                               "Options " + std::to_string(options) + " are not a command type the data context "
                                                                     "runs (text, table or stored procedure): " + sql);
    }
    ExecOutcome outcome = session_.Execute(text, params);
    if (recordsAffected) *recordsAffected = rt::Variant(static_cast<int32_t>(outcome.recordsAffected));
    if (!outcome.rows || (options != -1 && (options & ado::adExecuteNoRecords))) return ado::Recordset::Create();
    auto rs = ado::Recordset::FromImage(std::move(*outcome.rows), lockType, ado::adOpenStatic);
    rs->put_Source(sql);
    return rs;
}

std::shared_ptr<ado::Recordset> SqliteDataContext::ExecuteSQL(const std::string& SQL, rt::Variant& RecordsAffected,
                                                              int32_t Options) {
    std::vector<BoundValue> none;
    return Run(SQL, none, Options, ado::adLockReadOnly, &RecordsAffected);
}

std::shared_ptr<ado::Recordset> SqliteDataContext::ExecuteCommand(const std::shared_ptr<ado::Command>& Command,
                                                                  rt::Variant& RecordsAffected) {
    if (!Command) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet, "SqliteDataContext.ExecuteCommand");
    const auto& items = Command->get_Parameters()->Items();
    std::vector<BoundValue> params;
    params.reserve(items.size());
    for (const auto& p : items) {
        BoundValue b;
        b.output = p->IsOutput();
        b.size = p->get_Size();
        b.value = p->get_Direction() == ado::adParamOutput ? rt::Variant::Null() : p->get_Value();
        params.push_back(std::move(b));
    }
    auto rs = Run(Command->get_CommandText(), params, Command->get_CommandType(), ado::adLockReadOnly,
                  &RecordsAffected);
    for (size_t k = 0; k < items.size(); ++k)
        if (items[k]->IsOutput()) items[k]->put_Value(params[k].value);
    return rs;
}

std::shared_ptr<ado::Recordset> SqliteDataContext::OpenRecordset(const std::string& SQL) {
    std::vector<BoundValue> none;
    return Run(SQL, none, ado::adCmdText, ado::adLockBatchOptimistic, nullptr);
}

std::shared_ptr<ado::Recordset> SqliteDataContext::OpenParameterizedRecordset(const std::string& SQL,
                                                                              int32_t /*CursorType*/,
                                                                              int32_t LockType, int32_t Options,
                                                                              rt::Variant& Parameters) {
    // A client-side cursor is always static; the lock type decides whether
    // the rows can be edited (and saved with UpdateRecordset).
    std::vector<BoundValue> params = ValuesOf(Parameters);
    auto lock = LockType == -1 ? ado::adLockBatchOptimistic : static_cast<ado::LockTypeEnum>(LockType);
    return Run(SQL, params, Options, lock, nullptr);
}

std::shared_ptr<ado::Recordset> SqliteDataContext::ExecuteParameterizedSQL(const std::string& SQL,
                                                                           rt::Variant& RecordsAffected,
                                                                           int32_t Options,
                                                                           rt::Variant& Parameters) {
    std::vector<BoundValue> params = ValuesOf(Parameters);
    return Run(SQL, params, Options, ado::adLockReadOnly, &RecordsAffected);
}

std::shared_ptr<ado::Recordset> SqliteDataContext::OpenParameterizedRecordsetEx(const std::string& SQL,
                                                                                int32_t CursorType,
                                                                                int32_t LockType, int32_t Options,
                                                                                rt::Variant& Parameters) {
    return OpenParameterizedRecordset(SQL, CursorType, LockType, Options, Parameters);
}

std::shared_ptr<ado::Recordset> SqliteDataContext::GetComponentRows(const std::string& TableName,
                                                                    const rt::Variant& FIDs, int16_t CNO) {
    CheckTableName(TableName);
    std::vector<BoundValue> params;
    for (auto& v : FidsOf(FIDs)) params.push_back(BoundValue{v, false, 0});
    std::string sql = "SELECT * FROM " + TableName + " WHERE QTX_FID IN (" + MarkerList(params.size()) +
                      ") AND QTX_CNO = ?";
    params.push_back(BoundValue{rt::Variant(CNO), false, 0});
    return Run(sql, params, ado::adCmdText, ado::adLockBatchOptimistic, nullptr);
}

std::shared_ptr<ado::Recordset> SqliteDataContext::GetGeometryRows(const std::string& TableName,
                                                                   const rt::Variant& FIDs, int16_t /*CNO*/) {
    // Geometry rows belong to the FIDs; as in ordinary SQL mode the CNO does
    // not narrow them.
    CheckTableName(TableName);
    std::vector<BoundValue> params;
    for (auto& v : FidsOf(FIDs)) params.push_back(BoundValue{v, false, 0});
    std::string sql = "SELECT * FROM " + TableName + " WHERE QTX_FID IN (" + MarkerList(params.size()) +
                      ") ORDER BY SDO_GID, SDO_ESEQ, SDO_SEQ";
    return Run(sql, params, ado::adCmdText, ado::adLockBatchOptimistic, nullptr);
}

// ------------------------------------------------------------------ UpdateRecordset

void SqliteDataContext::UpdateRecordset(const std::shared_ptr<ado::Recordset>& Recordset, int32_t AffectRecords) {
    if (!Recordset) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet, "SqliteDataContext.UpdateRecordset");
    std::vector<ado::PendingRow> rows = Recordset->PendingRows();
    if (AffectRecords == ado::adAffectCurrent) {
        rt::Variant current = Recordset->get_Bookmark();
        std::erase_if(rows, [&](const ado::PendingRow& r) { return !rt::VariantEquals(r.bookmark, current); });
    }
    if (rows.empty()) return;
    CallScope call(*this);

    std::string table;
    for (int32_t f = 0; f < Recordset->FieldCount(); ++f) {
        const std::string& base = Recordset->DescAt(f).baseTable;
        if (base.empty()) continue;
        if (table.empty()) {
            table = base;
        } else if (!rt::NamesEqual(table, base)) {
            throw rt::ComError(kProviderErrorNumber, kSource,
                               "Cannot write rows of a recordset over several tables (" + table + ", " + base + ")");
        }
    }
    if (table.empty())
        throw rt::ComError(kProviderErrorNumber, kSource,
                           "Insufficient base table information for updating or refreshing: the recordset \"" +
                               Recordset->get_Source() + "\" has no base table");

    connection_.EnsureTransaction();
    const std::string savepoint = connection_.OwnSavepoint("PELMORA_UPDATE");
    try {
        WriteTable(table, Recordset, rows);
    } catch (const rt::ComError& e) {
        try {
            connection_.RollbackToOwn(savepoint);
            connection_.ReleaseOwn(savepoint);
        } catch (const rt::ComError&) {
        }
        throw rt::ComError(e.Number(), e.Source(),
                           e.Description() + " (writing the pending rows of " + table + "; none was written)" +
                               connection_.NoteTransactionLost(e.Description()));
    }
    connection_.ReleaseOwn(savepoint);
    std::vector<rt::Variant> bookmarks;
    bookmarks.reserve(rows.size());
    for (const auto& r : rows) bookmarks.push_back(r.bookmark);
    Recordset->MarkWritten(bookmarks);
}

void SqliteDataContext::WriteTable(const std::string& table, const std::shared_ptr<ado::Recordset>& rs,
                                   const std::vector<ado::PendingRow>& rows) {
    // Fields written: those whose base table is this table.
    struct Column {
        int32_t field;
        std::string name;
        ColumnType type;  // as declared: its limits
    };
    std::vector<Column> columns;
    for (int32_t f = 0; f < rs->FieldCount(); ++f) {
        const auto& d = rs->DescAt(f);
        if (!d.baseTable.empty() && !d.baseColumn.empty()) columns.push_back({f, d.baseColumn, {}});
    }

    // The key: the table's primary key when the recordset holds all of it,
    // else QTX_ID.
    std::vector<Column> key;
    auto info = connection_.Query("PRAGMA table_info(" + QuotedIdentifier(table) + ")", {}, table);
    int32_t nameIdx = -1, pkIdx = -1, typeIdx = -1;
    for (size_t k = 0; k < info.fields.size(); ++k) {
        if (info.fields[k].name == "NAME") nameIdx = static_cast<int32_t>(k);
        if (info.fields[k].name == "PK") pkIdx = static_cast<int32_t>(k);
        if (info.fields[k].name == "TYPE") typeIdx = static_cast<int32_t>(k);
    }
    if (info.RowCount() == 0) RaiseOra(942, "table or view does not exist: " + table);
    for (size_t r = 0; r < info.RowCount(); ++r) {
        const auto& name = info.values[r * info.fields.size() + static_cast<size_t>(nameIdx)];
        const auto& type = info.values[r * info.fields.size() + static_cast<size_t>(typeIdx)];
        for (auto& c : columns)
            if (name.IsString() && type.IsString() && rt::NamesEqual(c.name, name.Str())) c.type = MapDeclaredType(type.Str());
    }
    // A value goes in as its column takes it, or not at all.
    auto fitted = [&](const rt::Variant& v, const Column& c) {
        rt::Variant out = v;
        FitToColumn(out, c.type, table, c.name);
        return out;
    };
    std::vector<std::pair<int64_t, std::string>> pk;
    for (size_t r = 0; r < info.RowCount(); ++r) {
        const auto& pkv = info.values[r * info.fields.size() + static_cast<size_t>(pkIdx)];
        int64_t order = pkv.IsNull() ? 0 : rt::DecimalRoundToInt64(pkv.Dec());
        if (order > 0) pk.push_back({order, info.values[r * info.fields.size() + static_cast<size_t>(nameIdx)].Str()});
    }
    std::sort(pk.begin(), pk.end());
    auto findColumn = [&](const std::string& name) -> const Column* {
        for (const auto& c : columns)
            if (rt::NamesEqual(c.name, name)) return &c;
        return nullptr;
    };
    bool fullPk = !pk.empty();
    for (const auto& [order, name] : pk)
        if (!findColumn(name)) fullPk = false;
    if (fullPk) {
        for (const auto& [order, name] : pk) key.push_back(*findColumn(name));
    } else if (const Column* id = findColumn("QTX_ID")) {
        key.push_back(*id);
    } else {
        throw rt::ComError(kProviderErrorNumber, kSource,
                           "Insufficient key column information for updating or refreshing: the recordset holds "
                           "neither the primary key of " + table + " nor QTX_ID");
    }

    auto whereKey = [&](const ado::PendingRow& row, std::vector<rt::Variant>& values) {
        std::string w;
        for (const auto& k : key) {
            w += (w.empty() ? " WHERE " : " AND ") + QuotedIdentifier(k.name) + " IS ?";
            values.push_back(row.original[static_cast<size_t>(k.field)]);
        }
        return w;
    };
    auto checkOne = [&](int64_t changes, const char* what) {
        if (changes == 1) return;
        throw rt::ComError(kRowNotLocatedNumber, kSource,
                           changes == 0 ? std::string("Row cannot be located for ") + what + " in " + table +
                                              ". Some values may have been changed since it was last read."
                                        : std::string("Key column information is insufficient or incorrect: ") +
                                              std::to_string(changes) + " rows of " + table + " were affected by " +
                                              what);
    };

    // Deletions first, so that a row deleted and added again with the same
    // key does not collide with itself; then changes, then additions.
    for (const auto& row : rows) {
        if (row.status != ado::adRecDeleted) continue;
        std::vector<rt::Variant> values;
        std::string sql = "DELETE FROM " + QuotedIdentifier(table);
        sql += whereKey(row, values);
        checkOne(connection_.ExecuteCached(sql, values), "deleting");
    }
    for (const auto& row : rows) {
        if (row.status != ado::adRecModified) continue;
        std::vector<rt::Variant> values;
        std::string set;
        for (const auto& c : columns) {
            const auto& cur = row.current[static_cast<size_t>(c.field)];
            const auto& orig = row.original[static_cast<size_t>(c.field)];
            if (SameValue(cur, orig)) continue;
            set += (set.empty() ? "" : ", ") + QuotedIdentifier(c.name) + " = ?";
            values.push_back(fitted(cur, c));
        }
        if (set.empty()) continue;
        std::string sql = "UPDATE " + QuotedIdentifier(table) + " SET " + set;
        sql += whereKey(row, values);
        checkOne(connection_.ExecuteCached(sql, values), "updating");
    }
    for (const auto& row : rows) {
        if (row.status != ado::adRecNew) continue;
        // Columns without a value are left out, so the table's defaults apply.
        std::vector<rt::Variant> values;
        std::string names, markers;
        for (const auto& c : columns) {
            const auto& cur = row.current[static_cast<size_t>(c.field)];
            if (IsNullish(cur)) continue;
            names += (names.empty() ? "" : ", ") + QuotedIdentifier(c.name);
            markers += markers.empty() ? "?" : ", ?";
            values.push_back(fitted(cur, c));
        }
        std::string sql = names.empty() ? "INSERT INTO " + QuotedIdentifier(table) + " DEFAULT VALUES"
                                        : "INSERT INTO " + QuotedIdentifier(table) + " (" + names + ") VALUES (" + markers + ")";
        connection_.ExecuteCached(sql, values);
    }
}

}  // namespace product
