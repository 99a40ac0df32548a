// Column descriptions: declared and inferred column types, and the ADO
// field descriptor of a result column.

#include "product/SqliteConnectionSupport.h"

#include <algorithm>
#include <cstring>

namespace product {

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

namespace {

int Utf16Length(const std::string& s) {
    int n = 0;
    for (unsigned char c : s) {
        if ((c & 0xC0) != 0x80) n += (c >= 0xF0) ? 2 : 1;
    }
    return n;
}

}  // namespace

namespace sqlite_support {

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


}  // namespace sqlite_support

}  // namespace product
