#include "product/WorkOperationsPackage.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "product/SqliteConnection.h"
#include "runtime/Object.h"
#include "runtime/SqlName.h"

namespace product {

namespace {

constexpr const char* kPackage = "QTX_WORKOPERATIONS";
constexpr const char* kStateKey = "QTX_WORKOPERATIONS";
constexpr int kUnknownComponent = 20001;

enum class ColumnKind { Numeric, Text, Date, Binary, Other };

struct Column {
    std::string name;   // as the table declares it
    std::string upper;  // upper-cased
    ColumnKind kind = ColumnKind::Other;
    bool key = false;          // QTX_FNO, QTX_FID, QTX_CNO or QTX_CID
    bool geometryKey = false;  // SDO_ESEQ or SDO_SEQ
    bool id = false;           // QTX_ID
    bool gid = false;          // SDO_GID
};

struct Table {
    std::string name;
    std::vector<Column> columns;
    std::map<std::string, size_t> byName;  // upper-cased name -> index
    // Names as the lists spell them, looked up once.
    mutable std::unordered_map<std::string, int> spelled;
    int Find(const std::string& name) const {
        auto s = spelled.find(name);
        if (s != spelled.end()) return s->second;
        auto it = byName.find(UpperAscii(name));
        int index = it == byName.end() ? -1 : static_cast<int>(it->second);
        spelled.emplace(name, index);
        return index;
    }
};

struct ComponentRef {
    int64_t cno = 0;
    std::string table;
    const Table* attributes = nullptr;  // resolved on first use
    const Table* geometry = nullptr;
};

// One new row, its values gathered from one or more calls.
struct NewRow {
    const Table* table = nullptr;
    bool geometry = false;
    int64_t fno = 0, fid = 0, cno = 0, cid = 0, eseq = 0, seq = 0;
    std::vector<std::pair<size_t, rt::Variant>> values;  // column index, value
};

// Tables live as long as the batch, so a row is keyed by its table's address.
using RowKey = std::tuple<const Table*, int64_t, int64_t, int64_t, int64_t, int64_t>;

// The package variables of one session.
class State : public rt::Object {
public:
    std::string operation;
    bool begun = false;
    std::map<std::string, ComponentRef> components;
    std::map<std::string, std::unique_ptr<Table>> tables;
    std::vector<NewRow> newRows;
    std::map<RowKey, size_t> newRowIndex;
    // The features the open batch wrote, and those of the batches that
    // ended since the owner last committed or rolled back.
    FeatureKeyList batchWritten;
    FeatureKeyList written;

    void Drop() {
        newRows.clear();
        newRowIndex.clear();
    }
    // Metadata is read afresh for every batch.
    void Reset() {
        Drop();
        batchWritten.Clear();
        components.clear();
        tables.clear();
    }
    // Only a batch that ended counts: a cancelled one was rolled back.
    void EndBatch() {
        written.Append(batchWritten);
        batchWritten.Clear();
    }
    std::string TypeName() const override { return "WorkOperationsState"; }
};

State& StateOf(PackageState& state) {
    rt::Variant& slot = state[kStateKey];
    if (!slot.IsObject() || !std::dynamic_pointer_cast<State>(slot.Obj())) slot = rt::Variant(std::make_shared<State>());
    return *std::static_pointer_cast<State>(slot.Obj());
}

[[noreturn]] void Malformed(const std::string& why) {
    RaiseOra(6502, std::string("PL/SQL: numeric or value error: ") + kPackage + ".UPDATEFEATURES: " + why);
}

ColumnKind KindOfDeclared(const std::string& declared) {
    ColumnType t = MapDeclaredType(declared);
    if (!t.known) return ColumnKind::Other;
    switch (t.type) {
        case ado::adNumeric: case ado::adDouble: case ado::adSingle:
            return ColumnKind::Numeric;
        case ado::adVarChar: case ado::adVarWChar: case ado::adChar: case ado::adWChar: case ado::adLongVarChar:
        case ado::adLongVarWChar:
            return ColumnKind::Text;
        case ado::adDBTimeStamp:
            return ColumnKind::Date;
        case ado::adLongVarBinary: case ado::adVarBinary:
            return ColumnKind::Binary;
        default:
            return ColumnKind::Other;
    }
}

const Table& TableOf(State& st, SqliteConnection& db, const std::string& name) {
    std::string key = UpperAscii(name);
    auto it = st.tables.find(key);
    if (it != st.tables.end()) return *it->second;
    if (!rt::IsSqlIdentifier(name))
        RaiseOra(903, std::string("invalid table name \"") + name + "\" in " + kPackage + ".UPDATEFEATURES");
    auto image = db.Query("PRAGMA table_info(" + QuotedIdentifier(key) + ")", {}, "table_info " + key);
    if (image.values.empty()) RaiseOra(942, "table or view does not exist: " + key);
    auto table = std::make_unique<Table>();
    table->name = key;
    const size_t width = image.fields.size();
    int nameCol = -1, typeCol = -1;
    for (size_t c = 0; c < width; ++c) {
        if (image.fields[c].name == "NAME") nameCol = static_cast<int>(c);
        if (image.fields[c].name == "TYPE") typeCol = static_cast<int>(c);
    }
    if (nameCol < 0 || typeCol < 0) RaiseOra(942, "table or view does not exist: " + key);
    for (size_t r = 0; r < image.values.size() / width; ++r) {
        const rt::Variant& n = image.values[r * width + static_cast<size_t>(nameCol)];
        const rt::Variant& t = image.values[r * width + static_cast<size_t>(typeCol)];
        Column column;
        column.name = n.IsString() ? n.Str() : "";
        column.upper = UpperAscii(column.name);
        column.kind = KindOfDeclared(t.IsString() ? t.Str() : "");
        column.key = column.upper == "QTX_FNO" || column.upper == "QTX_FID" || column.upper == "QTX_CNO" ||
                     column.upper == "QTX_CID";
        column.geometryKey = column.upper == "SDO_ESEQ" || column.upper == "SDO_SEQ";
        column.id = column.upper == "QTX_ID";
        column.gid = column.upper == "SDO_GID";
        table->byName[column.upper] = table->columns.size();
        table->columns.push_back(std::move(column));
    }
    return *st.tables.emplace(key, std::move(table)).first->second;
}

ComponentRef& ComponentOf(State& st, SqliteConnection& db, const std::string& name) {
    auto it = st.components.find(name);
    if (it != st.components.end()) return it->second;
    auto image = db.Query("SELECT QTX_CNO, QTX_TABLE FROM QTX_COMPONENTINFO_OPTABLE WHERE QTX_NAME = ?",
                          {rt::Variant(name)}, "QTX_COMPONENTINFO_OPTABLE");
    if (image.values.empty())
        RaiseOra(kUnknownComponent, std::string(kPackage) + ".UPDATEFEATURES: no component is named \"" + name + "\"");
    if (image.values.size() > 2) RaiseOra(1422, "exact fetch returns more than requested number of rows: component \"" + name + "\"");
    const rt::Variant& cno = image.values[0];
    const rt::Variant& table = image.values[1];
    ComponentRef ref;
    ref.cno = cno.Type() == rt::vbDecimal ? rt::DecimalRoundToInt64(cno.Dec())
                                          : cno.IsNumericType() ? static_cast<int64_t>(cno.R8()) : 0;
    if (!table.IsString() || table.Str().empty())
        RaiseOra(kUnknownComponent, std::string(kPackage) + ".UPDATEFEATURES: the component \"" + name + "\" has no table");
    ref.table = table.Str();
    return st.components.emplace(name, ref).first->second;
}

// ---- reading the decoded lists ----

const std::vector<rt::Variant>& Entries(const rt::Variant& list, int argument) {
    static const std::vector<rt::Variant> none;
    if (list.IsEmpty() || list.IsNull()) return none;
    if (!list.IsArray()) Malformed("argument " + std::to_string(argument) + " is not a decoded list");
    const rt::SafeArray* a = list.Array();
    return a ? a->Data() : none;
}

int64_t Key(const rt::Variant& v, const char* what, const char* group, size_t entry) {
    if (auto whole = WholeNumberOf(v)) return *whole;
    if (v.Type() != rt::vbDouble && v.Type() != rt::vbSingle)
        Malformed(std::string("entry ") + std::to_string(entry + 1) + " of " + group + " has no " + what);
    Malformed(std::string("entry ") + std::to_string(entry + 1) + " of " + group + " has the " + what + " " +
              std::to_string(v.R8()) + ", not a whole number");
}

const std::string& Text(const rt::Variant& v, const char* what, const char* group, size_t entry) {
    if (!v.IsString() || v.Str().empty())
        Malformed(std::string("entry ") + std::to_string(entry + 1) + " of " + group + " has no " + what);
    return v.Str();
}

// The value as the column takes it; Oracle's implicit conversions that
// could not succeed raise as Oracle raises them.
void ToColumn(rt::Variant& v, const Column& column, const Table& table) {
    if (v.IsNull() || v.IsEmpty()) {
        v = rt::Variant::Null();
        return;
    }
    auto where = [&] { return " for " + table.name + "." + column.name; };
    switch (column.kind) {
        case ColumnKind::Numeric:
            if (v.IsString()) {
                const std::string& s = v.Str();
                char* end = nullptr;
                double d = std::strtod(s.c_str(), &end);
                bool ok = !s.empty() && end && *end == '\0' && std::isfinite(d) &&
                          s.find_first_of("xXnNiI") == std::string::npos;
                if (!ok) RaiseOra(1722, "invalid number: \"" + s + "\"" + where());
                v = rt::Variant(d);
                return;
            }
            if (v.Type() == rt::vbDate) RaiseOra(932, "inconsistent datatypes: expected NUMBER got DATE" + where());
            return;
        case ColumnKind::Date:
            if (v.IsString()) {
                double ole = 0;
                if (!DbTextToOleDate(v.Str(), ole))
                    RaiseOra(1861, "literal does not match format string: \"" + v.Str() + "\"" + where());
                v = rt::Variant::Date(ole);
                return;
            }
            if (v.Type() != rt::vbDate) RaiseOra(932, "inconsistent datatypes: expected DATE got NUMBER" + where());
            return;
        case ColumnKind::Text:
            if (v.Type() == rt::vbDate) v = rt::Variant(OleDateToDbText(v.DateValue()));
            return;
        case ColumnKind::Binary:
            RaiseOra(932, "inconsistent datatypes: expected BINARY got " + rt::TypeName(v) + where());
        case ColumnKind::Other:
            return;
    }
}

// ---- one call ----

enum GroupKind { kNewAttr, kNewGeom, kSetAttr, kSetGeom, kDelete, kDeleteGeom };

struct Group {
    const char* name;
    GroupKind kind;
    int first;  // index of its first argument
    int width;
};

const Group kGroups[] = {
    {"NewAttributeNumeric", kNewAttr, 0, 6},   {"NewAttributeString", kNewAttr, 6, 6},
    {"NewAttributeDate", kNewAttr, 12, 6},     {"NewGeomAttribute", kNewGeom, 18, 8},
    {"SetAttributeNumeric", kSetAttr, 26, 6},  {"SetAttributeString", kSetAttr, 32, 6},
    {"SetAttributeDate", kSetAttr, 38, 6},     {"SetGeometryAttribute", kSetGeom, 44, 8},
    {"DeleteComponent", kDelete, 52, 4},       {"DeleteGeometryComponent", kDeleteGeom, 56, 4},
};

// One decoded operation.
struct Operation {
    GroupKind kind;
    const Table* table = nullptr;
    int64_t fno = 0, fid = 0, cno = 0, cid = 0, eseq = 0, seq = 0;
    int column = -1;
    rt::Variant value;
};

bool IsKeyColumn(const Column& column, bool geometry) { return column.key || (geometry && column.geometryKey); }

std::vector<Operation> Decode(State& st, SqliteConnection& db, const std::vector<rt::Variant>& args) {
    std::vector<Operation> ops;
    size_t total = 0;
    for (const Group& g : kGroups) total += Entries(args[static_cast<size_t>(g.first)], g.first + 1).size();
    ops.reserve(total);
    ComponentRef* last = nullptr;
    std::string lastName;
    for (const Group& g : kGroups) {
        std::vector<const std::vector<rt::Variant>*> lists;
        for (int k = 0; k < g.width; ++k) lists.push_back(&Entries(args[static_cast<size_t>(g.first + k)], g.first + k + 1));
        const size_t n = lists[0]->size();
        for (const auto* l : lists)
            if (l->size() != n) {
                std::string sizes;
                for (const auto* m : lists) sizes += (sizes.empty() ? "" : ", ") + std::to_string(m->size());
                Malformed(std::string("the lists of ") + g.name + " hold unequal numbers of entries (" + sizes + ")");
            }
        const bool geometry = g.kind == kNewGeom || g.kind == kSetGeom || g.kind == kDeleteGeom;
        for (size_t i = 0; i < n; ++i) {
            auto at = [&](int k) -> const rt::Variant& { return (*lists[static_cast<size_t>(k)])[i]; };
            Operation& op = ops.emplace_back();  // a failure drops the whole list
            op.kind = g.kind;
            op.fno = Key(at(0), "FNO", g.name, i);
            op.fid = Key(at(1), "FID", g.name, i);
            const std::string& comp = Text(at(2), "component name", g.name, i);
            op.cid = Key(at(3), "CID", g.name, i);
            // Entries in a row mostly name the component of the one before.
            if (!last || lastName != comp) {
                last = &ComponentOf(st, db, comp);
                lastName = comp;
            }
            ComponentRef& ref = *last;
            op.cno = ref.cno;
            const Table*& table = geometry ? ref.geometry : ref.attributes;
            if (!table) table = &TableOf(st, db, geometry ? ref.table + "_SDOGEOM" : ref.table);
            op.table = table;
            const rt::Variant* field = nullptr;
            if (g.kind == kNewAttr || g.kind == kSetAttr) {
                field = &at(4);
                op.value = at(5);
            } else if (g.kind == kNewGeom || g.kind == kSetGeom) {
                op.eseq = Key(at(4), "ESeq", g.name, i);
                op.seq = Key(at(5), "Seq", g.name, i);
                field = &at(6);
                op.value = at(7);
            }
            if (field) {
                const std::string& name = Text(*field, "field name", g.name, i);
                op.column = op.table->Find(name);
                if (op.column < 0)
                    RaiseOra(904, "invalid identifier: \"" + name + "\" is no column of " + op.table->name);
                const Column& column = op.table->columns[static_cast<size_t>(op.column)];
                if (IsKeyColumn(column, geometry))
                    Malformed(std::string("entry ") + std::to_string(i + 1) + " of " + g.name + " names the key column " +
                              column.name + " as a field");
                ToColumn(op.value, column, *op.table);
            }
        }
    }
    return ops;
}

RowKey KeyOf(const Operation& op) {
    bool geometry = op.kind == kNewGeom || op.kind == kSetGeom;
    return {op.table, op.fid, op.cno, op.cid, geometry ? op.eseq : -1, geometry ? op.seq : -1};
}

void Gather(State& st, Operation& op, std::pair<RowKey, size_t>& last, bool& haveLast) {
    RowKey key = KeyOf(op);
    // The values of one row mostly follow each other.
    if (!haveLast || last.first != key) {
        auto it = st.newRowIndex.find(key);
        if (it == st.newRowIndex.end()) {
            NewRow row;
            row.table = op.table;
            row.geometry = op.kind == kNewGeom;
            row.fno = op.fno;
            row.fid = op.fid;
            row.cno = op.cno;
            row.cid = op.cid;
            row.eseq = op.eseq;
            row.seq = op.seq;
            it = st.newRowIndex.emplace(key, st.newRows.size()).first;
            st.newRows.push_back(std::move(row));
        }
        last = *it;
        haveLast = true;
    }
    NewRow& row = st.newRows[last.second];
    for (const auto& [column, value] : row.values)
        if (column == static_cast<size_t>(op.column))
            Malformed("the new row of " + op.table->name + " with QTX_FID " + std::to_string(op.fid) + " and QTX_CID " +
                      std::to_string(op.cid) + " is given " + op.table->columns[column].name + " twice");
    row.values.emplace_back(static_cast<size_t>(op.column), std::move(op.value));
}

// Sets on a row gathered as new change its gathered value.
bool SetOnNewRow(State& st, const Operation& op) {
    if (st.newRowIndex.empty()) return false;
    auto it = st.newRowIndex.find(KeyOf(op));
    if (it == st.newRowIndex.end()) return false;
    NewRow& row = st.newRows[it->second];
    for (auto& [column, value] : row.values)
        if (column == static_cast<size_t>(op.column)) {
            value = op.value;
            return true;
        }
    row.values.emplace_back(static_cast<size_t>(op.column), op.value);
    return true;
}

std::string KeyWhere(bool geometry) {
    std::string w = " WHERE \"QTX_FID\" = ? AND \"QTX_CNO\" = ? AND \"QTX_CID\" = ?";
    if (geometry) w += " AND \"SDO_ESEQ\" = ? AND \"SDO_SEQ\" = ?";
    return w;
}

void ApplySets(State& st, SqliteConnection& db, std::vector<Operation>& ops) {
    // The fields of one row, in the order given, become one UPDATE.
    std::vector<std::pair<RowKey, Operation*>> sets;
    sets.reserve(ops.size());
    for (auto& op : ops) {
        if (op.kind != kSetAttr && op.kind != kSetGeom) continue;
        if (SetOnNewRow(st, op)) continue;
        sets.emplace_back(KeyOf(op), &op);
    }
    std::stable_sort(sets.begin(), sets.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    // Rows that set the same columns share their statement text.
    std::map<std::pair<const Table*, std::vector<int>>, std::string> texts;
    std::vector<int> columns, lastColumns;
    const Table* lastTable = nullptr;
    const std::string* lastSql = nullptr;
    sqlite3_stmt* statement = nullptr;  // lastSql's, kept for the run
    std::vector<rt::Variant> values;
    for (size_t from = 0; from < sets.size();) {
        size_t to = from + 1;
        while (to < sets.size() && sets[to].first == sets[from].first) ++to;
        const Operation& first = *sets[from].second;
        const bool geometry = first.kind == kSetGeom;
        columns.clear();
        values.clear();
        for (size_t k = from; k < to; ++k) {
            columns.push_back(sets[k].second->column);
            values.push_back(std::move(sets[k].second->value));
        }
        // Rows in a row mostly set the same columns of the same table.
        if (!lastSql || lastTable != first.table || lastColumns != columns) {
            std::string& sql = texts[{first.table, columns}];
            if (sql.empty()) {
                sql = "UPDATE " + QuotedIdentifier(first.table->name) + " SET ";
                for (size_t k = 0; k < columns.size(); ++k)
                    sql += (k ? ", " : "") + QuotedIdentifier(first.table->columns[static_cast<size_t>(columns[k])].name) + " = ?";
                sql += KeyWhere(geometry);
            }
            lastSql = &sql;
            lastTable = first.table;
            lastColumns = columns;
            statement = db.PrepareCached(sql);
        }
        const std::string& sql = *lastSql;
        for (int64_t v : {first.fid, first.cno, first.cid}) values.emplace_back(static_cast<double>(v));
        if (geometry)
            for (int64_t v : {first.eseq, first.seq}) values.emplace_back(static_cast<double>(v));
        if (db.ExecutePrepared(statement, values, sql) == 0)
            RaiseOra(1403, "no data found: no row of " + first.table->name + " with QTX_FID " + std::to_string(first.fid) +
                               ", QTX_CNO " + std::to_string(first.cno) + ", QTX_CID " + std::to_string(first.cid) +
                               (geometry ? ", SDO_ESEQ " + std::to_string(first.eseq) + ", SDO_SEQ " +
                                               std::to_string(first.seq)
                                         : std::string()) +
                               " to set");
        from = to;
    }
}

void ApplyDeletions(SqliteConnection& db, const std::vector<Operation>& ops) {
    for (const auto& op : ops) {
        if (op.kind != kDelete && op.kind != kDeleteGeom) continue;
        db.ExecuteCached("DELETE FROM " + QuotedIdentifier(op.table->name) + KeyWhere(false),
                         {rt::Variant(static_cast<double>(op.fid)), rt::Variant(static_cast<double>(op.cno)),
                          rt::Variant(static_cast<double>(op.cid))});
    }
}

void InsertNewRows(State& st, SqliteConnection& db) {
    // Rows that give the same columns share their statement text.
    std::map<std::tuple<const Table*, bool, bool, std::vector<size_t>>, std::string> texts;
    std::vector<size_t> columns, lastColumns;
    std::string* lastSql = nullptr;
    sqlite3_stmt* statement = nullptr;  // lastSql's, kept for the run
    const Table* lastTable = nullptr;
    bool lastGeometry = false, lastIdFromGid = false;
    std::vector<rt::Variant> values;
    for (const NewRow& row : st.newRows) {
        const Table& t = *row.table;
        values.clear();
        columns.clear();
        for (int64_t v : {row.fno, row.fid, row.cno, row.cid}) values.emplace_back(static_cast<double>(v));
        if (row.geometry)
            for (int64_t v : {row.eseq, row.seq}) values.emplace_back(static_cast<double>(v));
        bool hasId = false;
        const rt::Variant* gid = nullptr;
        for (const auto& [column, value] : row.values) {
            const Column& c = t.columns[column];
            hasId = hasId || c.id;
            if (c.gid) gid = &value;
            columns.push_back(column);
        }
        // A geometry row carries the id of its component row as QTX_ID too.
        const bool idFromGid = row.geometry && !hasId && gid && t.Find("QTX_ID") >= 0;
        for (const auto& entry : row.values) values.push_back(entry.second);
        if (idFromGid) values.push_back(*gid);
        const bool same = lastSql && lastTable == &t && lastGeometry == row.geometry &&
                          lastIdFromGid == idFromGid && lastColumns == columns;
        if (!same) {
            lastSql = &texts[{&t, row.geometry, idFromGid, columns}];
            lastTable = &t;
            lastGeometry = row.geometry;
            lastIdFromGid = idFromGid;
            lastColumns = columns;
        }
        std::string& sql = *lastSql;
        if (!same) statement = nullptr;
        if (sql.empty()) {
            std::vector<std::string> names = {"QTX_FNO", "QTX_FID", "QTX_CNO", "QTX_CID"};
            if (row.geometry) names.insert(names.end(), {"SDO_ESEQ", "SDO_SEQ"});
            for (size_t c : columns) names.push_back(t.columns[c].name);
            if (idFromGid) names.push_back("QTX_ID");
            std::string marks;
            sql = "INSERT INTO " + QuotedIdentifier(t.name) + " (";
            for (size_t k = 0; k < names.size(); ++k) {
                sql += (k ? ", " : "") + QuotedIdentifier(names[k]);
                marks += k ? ", ?" : "?";
            }
            sql += ") VALUES (" + marks + ")";
        }
        if (!statement) statement = db.PrepareCached(sql);
        db.ExecutePrepared(statement, values, sql);
    }
    st.Drop();
}

rt::Variant UpdateFeatures(RoutineCall& call) {
    State& st = StateOf(call.state);
    if (!st.begun) st.Reset();
    std::vector<Operation> ops = Decode(st, call.db, call.args);
    ApplyDeletions(call.db, ops);
    ApplySets(st, call.db, ops);
    std::pair<RowKey, size_t> last;
    bool haveLast = false;
    for (auto& op : ops)
        if (op.kind == kNewAttr || op.kind == kNewGeom) Gather(st, op, last, haveLast);
    for (const auto& op : ops) st.batchWritten.Add({op.fno, op.fid});
    // Without a batch the call is a batch of its own.
    if (!st.begun) {
        InsertNewRows(st, call.db);
        st.EndBatch();
    }
    return rt::Variant();
}

}  // namespace

void RegisterWorkOperationsPackage(PackageRegistry& registry) {
    const std::string p = std::string(kPackage) + ".";
    registry.Register(p + "SetCurrentOperation", Procedure(1, [](RoutineCall& c) {
                          const rt::Variant& name = c.args[0];
                          StateOf(c.state).operation = name.IsString() ? name.Str() : "";
                          return rt::Variant();
                      }));
    registry.Register(p + "BeginOperations", Procedure(0, [](RoutineCall& c) {
                          State& st = StateOf(c.state);
                          st.Reset();
                          st.begun = true;
                          return rt::Variant();
                      }));
    registry.Register(p + "EndOperations", Procedure(0, [](RoutineCall& c) {
                          State& st = StateOf(c.state);
                          InsertNewRows(st, c.db);
                          st.EndBatch();
                          st.begun = false;
                          return rt::Variant();
                      }));
    registry.Register(p + "CancelOperations", Procedure(0, [](RoutineCall& c) {
                          State& st = StateOf(c.state);
                          st.Reset();
                          st.begun = false;
                          return rt::Variant();
                      }));
    registry.Register(p + "UPDATEFEATURES", Procedure(60, &UpdateFeatures));
}

std::string CurrentWorkOperation(PackageState& state) { return StateOf(state).operation; }
bool WorkOperationsBegun(PackageState& state) { return StateOf(state).begun; }
size_t PendingNewRowCount(PackageState& state) { return StateOf(state).newRows.size(); }
const FeatureKeyList& WrittenFeatures(PackageState& state) { return StateOf(state).written; }
void ForgetWrittenFeatures(PackageState& state) { StateOf(state).written.Clear(); }

}  // namespace product
