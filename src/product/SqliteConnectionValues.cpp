// Value conversions: Variants bound as SQLite values, cells read back as
// Variants, and dates as the database keeps them.

#include "product/SqliteConnectionSupport.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "runtime/Calendar.h"

namespace product {

using rt::calendar::CivilFromDays;
using rt::calendar::DaysFromCivil;
using rt::calendar::kOleEpoch;

namespace sqlite_support {

std::string NumberText(double d) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15g", d);
    return buf;
}

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

namespace {

rt::Variant BytesVariant(std::string_view bytes) {
    rt::Variant v = rt::Variant::MakeArray(rt::vbByte, 0, static_cast<int32_t>(bytes.size()) - 1);
    auto& data = v.ArrayMut()->Data();
    for (size_t k = 0; k < bytes.size(); ++k) data[k] = rt::Variant(static_cast<uint8_t>(bytes[k]));
    return v;
}

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

}  // namespace

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


}  // namespace sqlite_support

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

}  // namespace product
