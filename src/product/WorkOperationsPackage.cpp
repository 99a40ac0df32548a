#include "product/WorkOperationsPackage.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <optional>
#include <sqlite3.h>
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
    ColumnType type;  // as declared: its limits
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
    // The column that is the row id (a lone INTEGER PRIMARY KEY), upper-cased; else empty.
    std::string rowId;
    // Whether its attribute key and its geometry key are unique; read when first needed.
    mutable std::optional<bool> uniqueKey[2];
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

// A whole number as SQLite hands it back (a Decimal or another number); 0 otherwise.
int64_t IntegerOf(const rt::Variant& v) {
    return v.Type() == rt::vbDecimal ? rt::DecimalRoundToInt64(v.Dec())
                                     : v.IsNumericType() ? static_cast<int64_t>(v.R8()) : 0;
}

// The index of a result column by its (upper-cased) name; -1 when it has none.
int ColumnOf(const ado::RecordsetImage& image, const char* name) {
    for (size_t c = 0; c < image.fields.size(); ++c)
        if (image.fields[c].name == name) return static_cast<int>(c);
    return -1;
}

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
    // The schema version the tables were read under.
    int64_t schemaVersion = -1;

    // Metadata is read afresh for every batch; a table's columns and keys
    // only when the schema changed since they were read.
    void Reset() {
        Drop();
        batchWritten.Clear();
        components.clear();
    }
    void Reset(SqliteConnection& db) {
        Reset();
        const auto version = db.Query("PRAGMA schema_version", {}, "schema_version");
        const int64_t now = version.values.empty() ? -2 : IntegerOf(version.values[0]);
        if (now != schemaVersion || now < 0) tables.clear();
        schemaVersion = now;
    }
    // Only a batch that ended counts: a cancelled one was rolled back, and
    // so is an ended one whose work a rollback takes back.
    void EndBatch(SqliteConnection& db) {
        const size_t before = written.Size();
        written.Append(std::move(batchWritten));
        if (written.Size() == before) return;
        db.UndoOnRollback([self = std::weak_ptr<State>(std::static_pointer_cast<State>(shared_from_this())), before] {
            if (auto state = self.lock()) state->written.Truncate(before);
        });
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

ColumnKind KindOf(const ColumnType& t) {
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
    const int nameCol = ColumnOf(image, "NAME"), typeCol = ColumnOf(image, "TYPE"), pkCol = ColumnOf(image, "PK");
    int keyColumns = 0;
    if (nameCol < 0 || typeCol < 0) RaiseOra(942, "table or view does not exist: " + key);
    for (size_t r = 0; r < image.values.size() / width; ++r) {
        const rt::Variant& n = image.values[r * width + static_cast<size_t>(nameCol)];
        const rt::Variant& t = image.values[r * width + static_cast<size_t>(typeCol)];
        Column column;
        column.name = n.IsString() ? n.Str() : "";
        column.upper = UpperAscii(column.name);
        column.type = MapDeclaredType(t.IsString() ? t.Str() : "");
        column.kind = KindOf(column.type);
        column.key = column.upper == "QTX_FNO" || column.upper == "QTX_FID" || column.upper == "QTX_CNO" ||
                     column.upper == "QTX_CID";
        column.geometryKey = column.upper == "SDO_ESEQ" || column.upper == "SDO_SEQ";
        column.id = column.upper == "QTX_ID";
        column.gid = column.upper == "SDO_GID";
        const rt::Variant* pk = pkCol >= 0 ? &image.values[r * width + static_cast<size_t>(pkCol)] : nullptr;
        if (pk && IntegerOf(*pk) > 0) {
            ++keyColumns;
            table->rowId = UpperAscii(t.IsString() ? t.Str() : "") == "INTEGER" ? column.upper : "";
        }
        table->byName[column.upper] = table->columns.size();
        table->columns.push_back(std::move(column));
    }
    if (keyColumns != 1) table->rowId.clear();
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
    ref.cno = IntegerOf(cno);
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

void Convert(rt::Variant& v, const Column& column, const Table& table);

// The value as the column takes it: Oracle's implicit conversions, and its
// limits of the column; what could not succeed raises as Oracle raises it.
void ToColumn(rt::Variant& v, const Column& column, const Table& table) {
    Convert(v, column, table);
    FitToColumn(v, column.type, table.name, column.name);
}

void Convert(rt::Variant& v, const Column& column, const Table& table) {
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

// One list argument read entry by entry: in place from its text when the
// call left it undecoded, else from its decoded array.
class ListArgument {
public:
    ListArgument(const RoutineCall& call, int argument) {
        const size_t k = static_cast<size_t>(argument);
        if (k < call.lists.size() && call.lists[k].text) {
            text_ = call.lists[k].text;
            kind_ = static_cast<ListReader::Kind>(call.lists[k].kind);
            reader_.emplace(*text_, kind_);
        } else {
            entries_ = &Entries(call.args[k], argument + 1);
        }
    }
    // Moves to the next entry; false after the last.
    bool Next() {
        if (reader_) return reader_->Next();
        if (index_ >= entries_->size()) return false;
        current_ = &(*entries_)[index_++];
        return true;
    }
    // The entry as a key, a whole number, read as Key reads a decoded one.
    int64_t KeyOf(const char* what, const char* group, size_t entry) const {
        if (!reader_) return Key(*current_, what, group, entry);
        if (kind_ != ListReader::Numeric || reader_->IsNull()) Key(rt::Variant::Null(), what, group, entry);
        const double d = reader_->Number();
        if (d != std::trunc(d) || std::fabs(d) > 9.0e15) Key(rt::Variant(d), what, group, entry);
        return static_cast<int64_t>(d);
    }
    // The entry as a name, read as Text reads a decoded one.
    std::string_view NameOf(const char* what, const char* group, size_t entry) const {
        if (!reader_) return Text(*current_, what, group, entry);
        if (kind_ != ListReader::String || reader_->IsNull() || reader_->Text().empty())
            Text(rt::Variant::Null(), what, group, entry);
        return reader_->Text();
    }
    rt::Variant Take() const { return reader_ ? reader_->Value() : *current_; }
    // About the number of entries, without reading them: a numeric list
    // ends each entry with ";".
    size_t Estimate() const {
        if (!reader_) return entries_->size();
        if (!text_->IsString()) return 0;
        const std::string& s = text_->Str();
        return kind_ == ListReader::Numeric ? static_cast<size_t>(std::count(s.begin(), s.end(), ';')) : s.size() / 8;
    }
    // The number of entries in all.
    size_t Count() const {
        if (!reader_) return entries_->size();
        ListReader again(*text_, kind_);
        size_t n = 0;
        while (again.Next()) ++n;
        return n;
    }

private:
    const std::vector<rt::Variant>* entries_ = nullptr;
    size_t index_ = 0;
    const rt::Variant* text_ = nullptr;
    ListReader::Kind kind_ = ListReader::Numeric;
    std::optional<ListReader> reader_;
    const rt::Variant* current_ = nullptr;
};

std::vector<Operation> Decode(State& st, SqliteConnection& db, const RoutineCall& call) {
    std::vector<Operation> ops;
    ComponentRef* last = nullptr;
    std::string lastName;
    const Table* lastFieldTable = nullptr;
    std::string lastField;
    int lastColumn = -1;
    std::vector<ListArgument> lists;
    size_t total = 0;
    for (const Group& g : kGroups) total += ListArgument(call, g.first).Estimate();
    ops.reserve(total);
    for (const Group& g : kGroups) {
        lists.clear();
        lists.reserve(static_cast<size_t>(g.width));
        for (int k = 0; k < g.width; ++k) lists.emplace_back(call, g.first + k);
        const bool geometry = g.kind == kNewGeom || g.kind == kSetGeom || g.kind == kDeleteGeom;
        // The lists of a group are read side by side; they must end together.
        for (size_t i = 0;; ++i) {
            size_t ended = 0;
            for (auto& l : lists) ended += l.Next() ? 0 : 1;
            if (ended == lists.size()) break;
            if (ended != 0) {
                std::string sizes;
                for (const auto& l : lists) sizes += (sizes.empty() ? "" : ", ") + std::to_string(l.Count());
                Malformed(std::string("the lists of ") + g.name + " hold unequal numbers of entries (" + sizes + ")");
            }
            auto key = [&](int k, const char* what) { return lists[static_cast<size_t>(k)].KeyOf(what, g.name, i); };
            Operation& op = ops.emplace_back();  // a failure drops the whole list
            op.kind = g.kind;
            op.fno = key(0, "FNO");
            op.fid = key(1, "FID");
            const std::string_view comp = lists[2].NameOf("component name", g.name, i);
            op.cid = key(3, "CID");
            // Entries in a row mostly name the component of the one before.
            if (!last || lastName != comp) {
                lastName = comp;
                last = &ComponentOf(st, db, lastName);
            }
            ComponentRef& ref = *last;
            op.cno = ref.cno;
            const Table*& table = geometry ? ref.geometry : ref.attributes;
            if (!table) table = &TableOf(st, db, geometry ? ref.table + "_SDOGEOM" : ref.table);
            op.table = table;
            int fieldList = -1;
            if (g.kind == kNewAttr || g.kind == kSetAttr) {
                fieldList = 4;
                op.value = lists[5].Take();
            } else if (g.kind == kNewGeom || g.kind == kSetGeom) {
                op.eseq = key(4, "ESeq");
                op.seq = key(5, "Seq");
                fieldList = 6;
                op.value = lists[7].Take();
            }
            if (fieldList >= 0) {
                const std::string_view name = lists[static_cast<size_t>(fieldList)].NameOf("field name", g.name, i);
                // Entries in a row mostly name the field of the one before.
                if (lastFieldTable != op.table || lastField != name) {
                    lastField = name;
                    lastFieldTable = op.table;
                    lastColumn = op.table->Find(lastField);
                }
                op.column = lastColumn;
                if (op.column < 0)
                    RaiseOra(904, "invalid identifier: \"" + lastField + "\" is no column of " + op.table->name);
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

// The entries of one row to set: a run in the list of sets.
struct Row {
    size_t from, to;
};

// Whether no two rows of the table share a key (QTX_FID, QTX_CNO, QTX_CID, and
// for geometry rows SDO_ESEQ, SDO_SEQ): a unique index, or an integer
// primary key, over key columns only. Read once per table while the schema stands.
bool KeyIsUnique(SqliteConnection& db, const Table& table, bool geometry) {
    std::optional<bool>& known = table.uniqueKey[geometry ? 1 : 0];
    if (known) return *known;
    // The columns the UPDATE's WHERE names (QTX_FNO is a key column but not among them).
    auto isKey = [&](const std::string& column) {
        const std::string c = UpperAscii(column);
        return c == "QTX_FID" || c == "QTX_CNO" || c == "QTX_CID" || (geometry && (c == "SDO_ESEQ" || c == "SDO_SEQ"));
    };
    auto text = [](const rt::Variant& v) { return v.IsString() ? v.Str() : std::string(); };
    known = false;
    // An INTEGER PRIMARY KEY is the row id and has no index of its own.
    if (!table.rowId.empty() && isKey(table.rowId)) return *(known = true);
    const std::string quoted = QuotedIdentifier(table.name);
    const auto list = db.Query("PRAGMA index_list(" + quoted + ")", {}, "index_list " + table.name);
    const int index = ColumnOf(list, "NAME"), unique = ColumnOf(list, "UNIQUE"), partial = ColumnOf(list, "PARTIAL");
    if (index < 0 || unique < 0) return false;
    for (size_t r = 0; r < list.RowCount(); ++r) {
        const rt::Variant* v = &list.values[r * list.fields.size()];
        if (IntegerOf(v[unique]) == 0 || (partial >= 0 && IntegerOf(v[partial]) != 0)) continue;
        const std::string indexName = text(v[index]);
        const auto columns = db.Query("PRAGMA index_info(" + QuotedIdentifier(indexName) + ")", {}, "index_info " + indexName);
        const int cname = ColumnOf(columns, "NAME");
        if (cname < 0 || columns.RowCount() == 0) continue;
        bool keysOnly = true;
        for (size_t c = 0; c < columns.RowCount(); ++c)
            keysOnly = keysOnly && isKey(text(columns.values[c * columns.fields.size() + static_cast<size_t>(cname)]));
        if (keysOnly) return *(known = true);
    }
    return false;
}

// Writes runs of rows that set the same columns of one table. Where the
// table's key is unique, rows go kRowsPerUpdate at a time (then in halving
// steps down to kFewestRowsPerUpdate) through one UPDATE ... FROM (VALUES
// ...): SQLite's work per row stays a seek and a rewrite, and the cost of
// running a statement is paid once per chunk. The rest go one by one.
class UpdateWriter {
public:
    explicit UpdateWriter(SqliteConnection& db)
        : db_(db),
          markerLimit_(static_cast<size_t>(std::max(1, sqlite3_limit(db.Handle(), SQLITE_LIMIT_VARIABLE_NUMBER, -1)))) {}

    void Write(std::vector<std::pair<RowKey, Operation*>>& sets, const std::vector<Row>& rows) {
        const Operation& first = *sets[rows.front().from].second;
        const bool geometry = first.kind == kSetGeom;
        const size_t columns = rows.front().to - rows.front().from;
        const size_t width = columns + (geometry ? 5 : 3);
        size_t most = kRowsPerUpdate;
        while (most > 1 && most * width > markerLimit_) most /= 2;
        size_t at = 0;
        if (rows.size() >= kFewestRowsPerUpdate && most >= kFewestRowsPerUpdate &&
            KeyIsUnique(db_, *first.table, geometry)) {
            while (rows.size() - at >= kFewestRowsPerUpdate) {
                size_t chunk = most;
                while (chunk > rows.size() - at) chunk /= 2;
                values_.clear();
                for (size_t r = at; r < at + chunk; ++r) Append(sets, rows[r]);
                const std::string& sql = Text(sets, rows[at], chunk);
                if (db_.ExecutePrepared(db_.PrepareCached(sql), values_, sql) != static_cast<int64_t>(chunk)) {
                    // A key not there: the rows once more one by one, so
                    // that the first missing one is named.
                    for (size_t r = at; r < at + chunk; ++r) WriteOne(sets, rows[r]);
                }
                at += chunk;
            }
        }
        for (; at < rows.size(); ++at) WriteOne(sets, rows[at]);
    }

private:
    static constexpr size_t kRowsPerUpdate = 64;
    static constexpr size_t kFewestRowsPerUpdate = 8;

    // The row's values in the order its entries give them, then its key.
    void Append(std::vector<std::pair<RowKey, Operation*>>& sets, const Row& row) {
        for (size_t k = row.from; k < row.to; ++k) values_.push_back(sets[k].second->value);
        const Operation& op = *sets[row.from].second;
        for (int64_t v : {op.fid, op.cno, op.cid}) values_.emplace_back(static_cast<double>(v));
        if (op.kind == kSetGeom)
            for (int64_t v : {op.eseq, op.seq}) values_.emplace_back(static_cast<double>(v));
    }

    void WriteOne(std::vector<std::pair<RowKey, Operation*>>& sets, const Row& row) {
        values_.clear();
        Append(sets, row);
        const Operation& op = *sets[row.from].second;
        const bool geometry = op.kind == kSetGeom;
        const std::string& sql = Text(sets, row, 1);
        if (db_.ExecutePrepared(db_.PrepareCached(sql), values_, sql) == 0)
            RaiseOra(1403, "no data found: no row of " + op.table->name + " with QTX_FID " + std::to_string(op.fid) +
                               ", QTX_CNO " + std::to_string(op.cno) + ", QTX_CID " + std::to_string(op.cid) +
                               (geometry ? ", SDO_ESEQ " + std::to_string(op.eseq) + ", SDO_SEQ " + std::to_string(op.seq)
                                         : std::string()) +
                               " to set");
    }

    // The statement for `rows` rows shaped as `row`, made once per shape.
    const std::string& Text(std::vector<std::pair<RowKey, Operation*>>& sets, const Row& row, size_t rows) {
        const Operation& op = *sets[row.from].second;
        const bool geometry = op.kind == kSetGeom;
        columns_.clear();
        for (size_t k = row.from; k < row.to; ++k) columns_.push_back(sets[k].second->column);
        std::string& sql = texts_[{op.table, geometry, columns_, rows}];
        if (!sql.empty()) return sql;
        const std::string table = QuotedIdentifier(op.table->name);
        auto column = [&](size_t k) { return QuotedIdentifier(op.table->columns[static_cast<size_t>(columns_[k])].name); };
        sql = "UPDATE " + table + " SET ";
        if (rows == 1) {
            for (size_t k = 0; k < columns_.size(); ++k) sql += (k ? ", " : "") + column(k) + " = ?";
            sql += KeyWhere(geometry);
            return sql;
        }
        for (size_t k = 0; k < columns_.size(); ++k)
            sql += (k ? ", " : "") + column(k) + " = v.column" + std::to_string(k + 1);
        const size_t width = columns_.size() + (geometry ? 5 : 3);
        std::string marks = "(";
        for (size_t k = 0; k < width; ++k) marks += k ? ", ?" : "?";
        marks += ")";
        sql += " FROM (VALUES ";
        for (size_t r = 0; r < rows; ++r) sql += (r ? ", " : "") + marks;
        sql += ") AS v WHERE ";
        std::vector<std::string> keys = {"QTX_FID", "QTX_CNO", "QTX_CID"};
        if (geometry) keys.insert(keys.end(), {"SDO_ESEQ", "SDO_SEQ"});
        for (size_t k = 0; k < keys.size(); ++k)
            sql += (k ? " AND " : "") + table + "." + QuotedIdentifier(keys[k]) + " = v.column" +
                   std::to_string(columns_.size() + k + 1);
        return sql;
    }

    SqliteConnection& db_;
    const size_t markerLimit_;
    std::vector<rt::Variant> values_;
    std::vector<int> columns_;
    std::map<std::tuple<const Table*, bool, std::vector<int>, size_t>, std::string> texts_;
};

void ApplySets(State& st, SqliteConnection& db, std::vector<Operation>& ops) {
    // The fields of one row, in the order given, become one UPDATE.
    std::vector<std::pair<RowKey, Operation*>> sets;
    sets.reserve(ops.size());
    for (auto& op : ops) {
        if (op.kind != kSetAttr && op.kind != kSetGeom) continue;
        if (SetOnNewRow(st, op)) continue;
        sets.emplace_back(KeyOf(op), &op);
    }
    // Each group of lists (numbers, texts, dates) mostly comes in key order:
    // merging its sorted runs brings the fields of a row together.
    auto byKey = [](const auto& a, const auto& b) { return a.first < b.first; };
    std::vector<size_t> runs{0};
    for (size_t k = 1; k < sets.size(); ++k)
        if (byKey(sets[k], sets[k - 1])) runs.push_back(k);
    runs.push_back(sets.size());
    auto at = [&](size_t r) { return sets.begin() + static_cast<std::ptrdiff_t>(runs[r]); };
    std::vector<size_t> merged;
    while (runs.size() > 2) {
        merged.assign(1, runs[0]);
        size_t r = 0;
        for (; r + 2 < runs.size(); r += 2) {
            std::inplace_merge(at(r), at(r + 1), at(r + 2), byKey);
            merged.push_back(runs[r + 2]);
        }
        if (r + 1 < runs.size()) merged.push_back(runs[r + 1]);
        runs.swap(merged);
    }
    // Rows in a row mostly set the same columns of the same table: such a
    // run is written together.
    std::vector<Row> rows;
    auto sameShape = [&](const Row& a, const Row& b) {
        if (a.to - a.from != b.to - b.from || sets[a.from].second->table != sets[b.from].second->table ||
            sets[a.from].second->kind != sets[b.from].second->kind)
            return false;
        for (size_t k = 0; k < a.to - a.from; ++k)
            if (sets[a.from + k].second->column != sets[b.from + k].second->column) return false;
        return true;
    };
    UpdateWriter writer(db);
    for (size_t from = 0; from < sets.size();) {
        size_t to = from + 1;
        while (to < sets.size() && sets[to].first == sets[from].first) ++to;
        const Row row{from, to};
        if (!rows.empty() && !sameShape(rows.front(), row)) {
            writer.Write(sets, rows);
            rows.clear();
        }
        rows.push_back(row);
        from = to;
    }
    if (!rows.empty()) writer.Write(sets, rows);
}

void ApplyDeletions(SqliteConnection& db, const std::vector<Operation>& ops) {
    for (const auto& op : ops) {
        if (op.kind != kDelete && op.kind != kDeleteGeom) continue;
        db.ExecuteCached("DELETE FROM " + QuotedIdentifier(op.table->name) + KeyWhere(false),
                         {rt::Variant(static_cast<double>(op.fid)), rt::Variant(static_cast<double>(op.cno)),
                          rt::Variant(static_cast<double>(op.cid))});
    }
}

// What an INSERT of a new row names: its table, its columns in the order
// given, and whether a geometry row takes its QTX_ID from its SDO_GID.
struct InsertShape {
    const Table* table = nullptr;
    bool geometry = false;
    bool idFromGid = false;
    std::vector<size_t> columns;
    bool operator==(const InsertShape&) const = default;
    bool operator<(const InsertShape& o) const {
        return std::tie(table, geometry, idFromGid, columns) < std::tie(o.table, o.geometry, o.idFromGid, o.columns);
    }
};

void ShapeOf(const NewRow& row, InsertShape& shape) {
    const Table& t = *row.table;
    shape.table = &t;
    shape.geometry = row.geometry;
    shape.columns.clear();
    bool hasId = false, hasGid = false;
    for (const auto& entry : row.values) {
        const Column& c = t.columns[entry.first];
        hasId = hasId || c.id;
        hasGid = hasGid || c.gid;
        shape.columns.push_back(entry.first);
    }
    // A geometry row carries the id of its component row as QTX_ID too.
    shape.idFromGid = row.geometry && !hasId && hasGid && t.Find("QTX_ID") >= 0;
}

void AppendInsertValues(const NewRow& row, const InsertShape& shape, std::vector<rt::Variant>& values) {
    for (int64_t v : {row.fno, row.fid, row.cno, row.cid}) values.emplace_back(static_cast<double>(v));
    if (row.geometry)
        for (int64_t v : {row.eseq, row.seq}) values.emplace_back(static_cast<double>(v));
    const rt::Variant* gid = nullptr;
    for (const auto& [column, value] : row.values) {
        if (row.table->columns[column].gid) gid = &value;
        values.push_back(value);
    }
    if (shape.idFromGid) values.push_back(*gid);
}

std::string InsertText(const InsertShape& shape, size_t rows) {
    std::vector<std::string> names = {"QTX_FNO", "QTX_FID", "QTX_CNO", "QTX_CID"};
    if (shape.geometry) names.insert(names.end(), {"SDO_ESEQ", "SDO_SEQ"});
    for (size_t c : shape.columns) names.push_back(shape.table->columns[c].name);
    if (shape.idFromGid) names.push_back("QTX_ID");
    std::string sql = "INSERT INTO " + QuotedIdentifier(shape.table->name) + " (";
    std::string marks = "(";
    for (size_t k = 0; k < names.size(); ++k) {
        sql += (k ? ", " : "") + QuotedIdentifier(names[k]);
        marks += k ? ", ?" : "?";
    }
    marks += ")";
    sql += ") VALUES ";
    for (size_t r = 0; r < rows; ++r) sql += (r ? ", " : "") + marks;
    return sql;
}

// New rows that name the same columns go in together, up to
// kRowsPerInsert rows per statement and the rest in halving steps, so that
// a shape needs only a few statement texts.
constexpr size_t kRowsPerInsert = 64;

void InsertNewRows(State& st, SqliteConnection& db) {
    std::map<std::pair<InsertShape, size_t>, std::string> texts;
    const size_t markerLimit =
        static_cast<size_t>(std::max(1, sqlite3_limit(db.Handle(), SQLITE_LIMIT_VARIABLE_NUMBER, -1)));
    const std::vector<NewRow>& rows = st.newRows;
    InsertShape shape, next;
    std::vector<rt::Variant> values;
    if (!rows.empty()) ShapeOf(rows[0], shape);
    for (size_t from = 0; from < rows.size();) {
        size_t to = from + 1;
        for (; to < rows.size(); ++to) {
            ShapeOf(rows[to], next);
            if (!(next == shape)) break;
        }
        const size_t width = 4 + (shape.geometry ? 2 : 0) + shape.columns.size() + (shape.idFromGid ? 1 : 0);
        size_t most = kRowsPerInsert;
        while (most > 1 && most * width > markerLimit) most /= 2;
        for (size_t at = from; at < to;) {
            size_t chunk = most;
            while (chunk > to - at) chunk /= 2;
            values.clear();
            for (size_t k = at; k < at + chunk; ++k) AppendInsertValues(rows[k], shape, values);
            std::string& sql = texts[{shape, chunk}];
            if (sql.empty()) sql = InsertText(shape, chunk);
            db.ExecutePrepared(db.PrepareCached(sql), values, sql);
            at += chunk;
        }
        std::swap(shape, next);
        from = to;
    }
    st.Drop();
}

rt::Variant UpdateFeatures(RoutineCall& call) {
    State& st = StateOf(call.state);
    if (!st.begun) st.Reset(call.db);
    std::vector<Operation> ops = Decode(st, call.db, call);
    ApplyDeletions(call.db, ops);
    ApplySets(st, call.db, ops);
    std::pair<RowKey, size_t> last;
    bool haveLast = false;
    for (auto& op : ops)
        if (op.kind == kNewAttr || op.kind == kNewGeom) Gather(st, op, last, haveLast);
    // Operations come feature by feature: each feature is noted once per run.
    const Operation* previous = nullptr;
    for (const auto& op : ops) {
        if (!previous || previous->fno != op.fno || previous->fid != op.fid) st.batchWritten.Add({op.fno, op.fid});
        previous = &op;
    }
    // Without a batch the call is a batch of its own.
    if (!st.begun) {
        InsertNewRows(st, call.db);
        st.EndBatch(call.db);
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
                          st.Reset(c.db);
                          st.begun = true;
                          return rt::Variant();
                      }));
    registry.Register(p + "EndOperations", Procedure(0, [](RoutineCall& c) {
                          State& st = StateOf(c.state);
                          InsertNewRows(st, c.db);
                          st.EndBatch(c.db);
                          st.begun = false;
                          return rt::Variant();
                      }));
    registry.Register(p + "CancelOperations", Procedure(0, [](RoutineCall& c) {
                          State& st = StateOf(c.state);
                          st.Reset();
                          st.begun = false;
                          return rt::Variant();
                      }));
    Routine update = Procedure(60, &UpdateFeatures);
    update.readsListsInPlace = true;
    registry.Register(p + "UPDATEFEATURES", std::move(update));
}

std::string CurrentWorkOperation(PackageState& state) { return StateOf(state).operation; }
bool WorkOperationsBegun(PackageState& state) { return StateOf(state).begun; }
size_t PendingNewRowCount(PackageState& state) { return StateOf(state).newRows.size(); }
const FeatureKeyList& WrittenFeatures(PackageState& state) { return StateOf(state).written; }
void ForgetWrittenFeatures(PackageState& state) { StateOf(state).written.Clear(); }

}  // namespace product
