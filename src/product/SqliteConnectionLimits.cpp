// Column limits: Oracle's precision, scale and length, judged on every row
// a statement of the system writes.

#include "product/SqliteConnectionSupport.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace product {

namespace {

// A number as its decimal digits: 0.d × 10^exp, d without leading or
// trailing zeros (empty for zero).
struct Digits {
    bool negative = false;
    std::string d;
    int exp = 0;
};

// Reads a number as SQLite's numeric affinity takes it (blanks around it
// allowed); false when the text is no number.
bool ParseDigits(std::string_view s, Digits& out) {
    size_t k = 0;
    auto blank = [&](size_t i) { return s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r'; };
    while (k < s.size() && blank(k)) ++k;
    size_t end = s.size();
    while (end > k && blank(end - 1)) --end;
    out = Digits{};
    if (k < end && (s[k] == '+' || s[k] == '-')) out.negative = s[k++] == '-';
    bool any = false, point = false;
    int before = 0;  // digits kept before the point
    for (; k < end; ++k) {
        const char c = s[k];
        if (c >= '0' && c <= '9') {
            any = true;
            if (out.d.empty() && c == '0') {
                if (point) --out.exp;
                continue;
            }
            out.d.push_back(c);
            if (!point) ++before;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!any) return false;
    long e = 0;
    if (k < end && (s[k] == 'e' || s[k] == 'E')) {
        ++k;
        bool neg = false;
        if (k < end && (s[k] == '+' || s[k] == '-')) neg = s[k++] == '-';
        if (k >= end) return false;
        for (; k < end && s[k] >= '0' && s[k] <= '9'; ++k) e = std::min(e * 10 + (s[k] - '0'), 100000L);
        if (neg) e = -e;
    }
    if (k != end) return false;
    while (!out.d.empty() && out.d.back() == '0') out.d.pop_back();
    out.exp += before + static_cast<int>(e);
    if (out.d.empty()) out = Digits{};
    return true;
}

Digits DigitsOf(double x) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.14e", x);  // 15 digits, as the value is shown
    Digits d;
    ParseDigits(buf, d);
    return d;
}

// Rounds to `scale` decimals, half away from zero; true when that changed it.
bool RoundDigits(Digits& n, int scale) {
    const long keep = static_cast<long>(n.exp) + scale;
    if (keep >= static_cast<long>(n.d.size())) return false;
    if (keep < 0) {
        n = Digits{};
        return true;
    }
    const bool up = n.d[static_cast<size_t>(keep)] >= '5';
    n.d.resize(static_cast<size_t>(keep));
    if (up) {
        long i = keep - 1;
        for (; i >= 0 && n.d[static_cast<size_t>(i)] == '9'; --i) n.d[static_cast<size_t>(i)] = '0';
        if (i < 0) {
            n.d.insert(n.d.begin(), '1');
            ++n.exp;
        } else {
            ++n.d[static_cast<size_t>(i)];
        }
    }
    while (!n.d.empty() && n.d.back() == '0') n.d.pop_back();
    if (n.d.empty()) n = Digits{};
    return true;
}

std::string PlainText(const Digits& n) {
    if (n.d.empty()) return "0";
    std::string s = n.negative ? "-" : "";
    const long size = static_cast<long>(n.d.size());
    if (n.exp <= 0) {
        s += "0." + std::string(static_cast<size_t>(-n.exp), '0') + n.d;
    } else if (n.exp >= size) {
        s += n.d + std::string(static_cast<size_t>(n.exp - size), '0');
    } else {
        s += n.d.substr(0, static_cast<size_t>(n.exp)) + "." + n.d.substr(static_cast<size_t>(n.exp));
    }
    return s;
}

bool IsTextLimited(const ColumnType& t) {
    return t.type == ado::adVarChar || t.type == ado::adVarWChar || t.type == ado::adChar || t.type == ado::adWChar;
}

std::string TypeText(const ColumnType& t) {
    if (t.type == ado::adNumeric)
        return "NUMBER(" + std::to_string(t.precision) + (t.limitScale ? "," + std::to_string(t.limitScale) : "") + ")";
    return std::string(t.type == ado::adVarBinary ? "RAW(" : "VARCHAR2(") + std::to_string(t.definedSize) + ")";
}

int64_t CharCount(std::string_view utf8) {
    int64_t n = 0;
    for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
    return n;
}

std::string ColumnName(const std::string& table, const std::string& column) {
    return QuotedIdentifier(table) + "." + QuotedIdentifier(column);
}

DatabaseError TooLarge(const std::string& table, const std::string& column, int64_t actual, int64_t maximum) {
    return DatabaseError(12899, "value too large for column " + ColumnName(table, column) + " (actual: " +
                                    std::to_string(actual) + ", maximum: " + std::to_string(maximum) + ")");
}

DatabaseError TooPrecise(const std::string& table, const std::string& column, const ColumnType& t,
                         const std::string& value) {
    return DatabaseError(1438, "value larger than specified precision allowed for this column (" +
                                   ColumnName(table, column) + " " + TypeText(t) + ", value " + value + ")");
}

DatabaseError NotANumber(const std::string& table, const std::string& column, std::string_view text) {
    std::string shown(text.substr(0, 60));
    return DatabaseError(1722, "invalid number: \"" + shown + (text.size() > 60 ? "..." : "") + "\" for column " +
                                   ColumnName(table, column));
}

constexpr int64_t kPow10Int[] = {1,           10,           100,           1000,           10000,
                                 100000,      1000000,      10000000,      100000000,      1000000000,
                                 10000000000, 100000000000, 1000000000000, 10000000000000, 100000000000000,
                                 1000000000000000, 10000000000000000, 100000000000000000,
                                 1000000000000000000};

double Pow10(int e) {
    static const auto table = [] {
        std::array<double, 40> p{};
        double v = 1;
        for (auto& x : p) {
            x = v;
            v *= 10;
        }
        return p;
    }();
    return e >= 0 && e < 40 ? table[static_cast<size_t>(e)] : std::pow(10.0, e);
}

enum class Fit { Fits, Rounded, Refused };

// Integer, Long, Byte and Boolean as they are bound.
int64_t IntegerValue(const rt::Variant& v) {
    switch (v.Type()) {
        case rt::vbInteger: return v.I2();
        case rt::vbLong: return v.I4();
        case rt::vbByte: return v.Byte();
        case rt::vbBoolean: return v.Bool() ? -1 : 0;
        default: return 0;
    }
}

// Numbers: the fast answers first, then the digits.
Fit FitDigits(Digits& n, const ColumnType& t) {
    const bool changed = RoundDigits(n, t.limitScale);
    if (!n.d.empty() && n.exp > static_cast<int>(t.precision) - t.limitScale) return Fit::Refused;
    return changed ? Fit::Rounded : Fit::Fits;
}

Fit FitInteger(int64_t i, const ColumnType& t, Digits& n) {
    const int whole = static_cast<int>(t.precision) - t.limitScale;
    if (t.limitScale >= 0) {
        if (i == 0 || whole >= 19) return Fit::Fits;
        if (whole <= 0) return Fit::Refused;
        return (i < 0 ? i > -kPow10Int[whole] : i < kPow10Int[whole]) ? Fit::Fits : Fit::Refused;
    }
    n = Digits{};
    ParseDigits(std::to_string(i), n);
    return FitDigits(n, t);
}

Fit FitDouble(double d, const ColumnType& t, Digits& n) {
    if (!std::isfinite(d)) return Fit::Refused;
    const int s = t.limitScale;
    if (s >= 0 && s <= 22) {
        const double q = d * Pow10(s);
        if (q == std::trunc(q) && std::fabs(d) < Pow10(static_cast<int>(t.precision) - s)) return Fit::Fits;
    }
    n = DigitsOf(d);
    return FitDigits(n, t);
}

// What a rounded number is stored as.
rt::Variant RoundedValue(const Digits& n) { return rt::Variant(std::strtod(PlainText(n).c_str(), nullptr)); }

}  // namespace

bool HasLimit(const ColumnType& t) {
    return t.known && (t.type == ado::adNumeric || t.type == ado::adVarBinary || IsTextLimited(t));
}

void FitToColumn(rt::Variant& v, const ColumnType& t, const std::string& table, const std::string& column) {
    if (!HasLimit(t) || v.IsNull() || v.IsEmpty()) return;
    if (t.type != ado::adNumeric) {
        int64_t length = 0;
        if (v.IsString()) {
            // A text holds no more characters than bytes: most need no counting.
            const std::string& s = v.Str();
            if (static_cast<int64_t>(s.size()) <= t.definedSize) return;
            length = t.type == ado::adVarBinary ? static_cast<int64_t>(s.size()) : CharCount(s);
        } else if (IsByteArray(v)) {
            length = v.Array() ? static_cast<int64_t>(v.Array()->Count()) : 0;
        } else if (v.Type() == rt::vbDate) {
            length = static_cast<int64_t>(OleDateToDbText(v.DateValue()).size());
        } else if (v.IsNumericType()) {
            // As the column's affinity stores a number: its text.
            if (v.Type() == rt::vbDecimal) {
                length = static_cast<int64_t>(v.Dec().ToString().size());
            } else if (v.Type() != rt::vbSingle && v.Type() != rt::vbDouble && v.Type() != rt::vbCurrency) {
                length = static_cast<int64_t>(std::to_string(IntegerValue(v)).size());
            } else {
                const double d = v.Type() == rt::vbCurrency ? v.Cy().ToDouble() : v.R8();
                if (d == std::trunc(d) && std::fabs(d) < 9.0e15) {
                    length = static_cast<int64_t>(std::to_string(static_cast<int64_t>(d)).size());
                } else {
                char* text = sqlite3_mprintf("%!.15g", d);
                length = text ? static_cast<int64_t>(std::strlen(text)) : 0;
                sqlite3_free(text);
                }
            }
        }
        if (length > t.definedSize) throw TooLarge(table, column, length, t.definedSize);
        return;
    }
    Digits n;
    Fit fit = Fit::Fits;
    std::string shown;
    switch (v.Type()) {
        case rt::vbInteger: case rt::vbLong: case rt::vbByte: case rt::vbBoolean:
            fit = FitInteger(IntegerValue(v), t, n);
            if (fit == Fit::Refused) shown = std::to_string(IntegerValue(v));
            break;
        case rt::vbSingle: case rt::vbDouble: case rt::vbCurrency: {
            const double d = v.Type() == rt::vbCurrency ? v.Cy().ToDouble() : v.R8();
            // Not finite: the binding refuses it as Oracle's overflow.
            if (!std::isfinite(d)) return;
            fit = FitDouble(d, t, n);
            if (fit == Fit::Refused) shown = NumberText(d);
            break;
        }
        case rt::vbDecimal:
            shown = v.Dec().ToString();
            ParseDigits(shown, n);
            fit = FitDigits(n, t);
            if (fit == Fit::Rounded) {
                v = rt::Variant(rt::Decimal::Parse(PlainText(n)));
                return;
            }
            break;
        case rt::vbString:
            if (!ParseDigits(v.Str(), n)) throw NotANumber(table, column, v.Str());
            shown = v.Str();
            fit = FitDigits(n, t);
            break;
        default:
            return;
    }
    if (fit == Fit::Refused) throw TooPrecise(table, column, t, shown);
    if (fit == Fit::Rounded) v = RoundedValue(n);
}

void SqliteConnection::CheckRow(void* self, sqlite3* db, int op, const char* dbName, const char* table, long long,
                                long long rowid) {
    auto& limits = *static_cast<SqliteConnection*>(self)->limits_;
    if ((op != SQLITE_INSERT && op != SQLITE_UPDATE) || limits.refused || std::strcmp(dbName, "main") != 0) return;
    try {
        // Rows of a statement mostly go to one table: its name is SQLite's
        // own for as long as the schema stands.
        if (table != limits.lastName) {
            auto found = limits.tables.find(UpperAscii(table));
            limits.lastName = table;
            limits.last = found == limits.tables.end() ? nullptr : &found->second;
        }
        if (!limits.last || !limits.last->any) return;
        const Limits::Table& t = *limits.last;
        const int count = std::min<int>(sqlite3_preupdate_count(db), static_cast<int>(t.columns.size()));
        for (int c = 0; c < count; ++c) {
            const auto& [name, type] = t.columns[static_cast<size_t>(c)];
            if (!type.known) continue;
            sqlite3_value* v = nullptr;
            if (sqlite3_preupdate_new(db, c, &v) != SQLITE_OK || !v) continue;
            const int kind = sqlite3_value_type(v);
            if (kind == SQLITE_NULL) continue;
            if (op == SQLITE_UPDATE) {
                // A value the statement leaves as it was is not judged again.
                sqlite3_value* old = nullptr;
                if (sqlite3_preupdate_old(db, c, &old) == SQLITE_OK && old && sqlite3_value_type(old) == kind) {
                    const int bytes = sqlite3_value_bytes(v);
                    if (kind == SQLITE_INTEGER ? sqlite3_value_int64(old) == sqlite3_value_int64(v)
                        : kind == SQLITE_FLOAT ? sqlite3_value_double(old) == sqlite3_value_double(v)
                                               : sqlite3_value_bytes(old) == bytes &&
                                                     (bytes == 0 || std::memcmp(sqlite3_value_blob(old),
                                                                                sqlite3_value_blob(v), bytes) == 0))
                        continue;
                }
            }
            const CellView cell = ReadCell(v);
            if (type.type != ado::adNumeric) {
                if (kind != SQLITE_TEXT && kind != SQLITE_BLOB) continue;
                if (static_cast<int64_t>(cell.s.size()) <= type.definedSize) continue;
                const int64_t length = type.type == ado::adVarBinary || kind == SQLITE_BLOB
                                           ? static_cast<int64_t>(cell.s.size())
                                           : CharCount(cell.s);
                if (length > type.definedSize) {
                    limits.refused = TooLarge(t.name, name, length, type.definedSize);
                    return;
                }
                continue;
            }
            Digits n;
            Fit fit = Fit::Fits;
            if (kind == SQLITE_INTEGER) {
                fit = FitInteger(cell.i, type, n);
            } else if (kind == SQLITE_FLOAT) {
                fit = FitDouble(cell.d, type, n);
            } else if (kind == SQLITE_TEXT) {
                limits.refused = NotANumber(t.name, name, cell.s);
                return;
            }
            if (fit == Fit::Refused) {
                limits.refused = TooPrecise(t.name, name, type, kind == SQLITE_INTEGER ? std::to_string(cell.i) : NumberText(cell.d));
                return;
            }
            if (fit == Fit::Rounded && t.rowid) limits.rounded.push_back({&t, static_cast<size_t>(c), rowid, RoundedValue(n)});
        }
    } catch (const DatabaseError& e) {
        limits.refused = e;
    } catch (const std::exception& e) {
        limits.refused = DatabaseError(0, std::string("Cannot check the column limits of ") + table + ": " + e.what());
    } catch (...) {
        limits.refused = DatabaseError(0, std::string("Cannot check the column limits of ") + table);
    }
}


void SqliteConnection::BeginLimits() {
    if (!limits_) limits_ = std::make_unique<Limits>();
    Limits& limits = *limits_;
    limits.refused.reset();
    limits.rounded.clear();
    limits.lastName = nullptr;
    // The context's own statements: no guard, so that the authorizer lets them be.
    OwnSqlScope own(*this);
    if (!limits.schemaVersion) {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v3(db_, "PRAGMA main.schema_version", -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr) != SQLITE_OK)
            RaiseLastError(sqlite3_errcode(db_), "PRAGMA main.schema_version");
        limits.schemaVersion.reset(raw);
    }
    sqlite3_stmt* version = limits.schemaVersion.get();
    int64_t now = -2;
    const int versionRc = sqlite3_step(version);
    if (versionRc == SQLITE_ROW) now = sqlite3_column_int64(version, 0);
    sqlite3_reset(version);
    if (versionRc != SQLITE_ROW) RaiseLastError(versionRc, "PRAGMA main.schema_version");
    if (now != limits.schema || now < 0) {
        limits.tables.clear();
        const std::string sql =
            "SELECT l.name, l.wr, p.cid, p.name, p.type FROM pragma_table_list AS l, "
            "pragma_table_info(l.name, 'main') AS p WHERE l.schema = 'main' AND l.type = 'table' ORDER BY l.name, p.cid";
        Stmt st = PrepareSingle(*this, db_, sql, sql, 0);
        int rc;
        while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
            auto text = [&](int c) {
                const unsigned char* p = sqlite3_column_text(st.get(), c);
                return std::string(p ? reinterpret_cast<const char*>(p) : "");
            };
            const std::string name = text(0);
            Limits::Table& t = limits.tables[UpperAscii(name)];
            t.name = name;
            t.rowid = sqlite3_column_int(st.get(), 1) == 0;
            const auto cid = static_cast<size_t>(std::max(0, sqlite3_column_int(st.get(), 2)));
            if (t.columns.size() <= cid) t.columns.resize(cid + 1);
            ColumnType type = MapDeclaredType(text(4));
            if (!HasLimit(type)) type = ColumnType{};
            t.any = t.any || type.known;
            t.columns[cid] = {text(3), type};
        }
        if (rc != SQLITE_DONE) RaiseLastError(rc, sql);
        limits.schema = now;
    }
    limits.Run(*this, limits.savepoint, "SAVEPOINT PELMORA_STATEMENT");
    // Kept with the others, so that a transaction renewed to wait for the
    // write lock sets it again.
    savepoints_.push_back({"PELMORA_STATEMENT", "", undo_.size()});
    sqlite3_preupdate_hook(db_, &SqliteConnection::CheckRow, this);
}

void SqliteConnection::EndLimits(bool stepped, const std::string& sqlForErrors) {
    sqlite3_preupdate_hook(db_, nullptr, nullptr);
    Limits& limits = *limits_;
    OwnSqlScope own(*this);
    auto release = [&] {
        auto ours = std::find_if(savepoints_.rbegin(), savepoints_.rend(),
                                 [](const OpenSavepoint& open) { return open.sql == "PELMORA_STATEMENT"; });
        if (ours != savepoints_.rend()) savepoints_.erase(std::next(ours).base(), savepoints_.end());
        if (InTransaction()) limits.Run(*this, limits.release, "RELEASE PELMORA_STATEMENT");
    };
    if (!stepped) {
        // The statement failed and SQLite undid it; its error stands.
        try {
            release();
        } catch (const rt::ComError&) {
        }
        return;
    }
    try {
        if (limits.refused) {
            const DatabaseError refused = *limits.refused;
            limits.refused.reset();
            limits.rounded.clear();
            ExecuteRaw("ROLLBACK TO PELMORA_STATEMENT");
            release();
            const std::string& text = refused.Description();
            throw DatabaseError(refused.OraCode(), (refused.OraCode() > 0 ? text.substr(11) : text) + Quoted(sqlForErrors));
        }
        for (const auto& r : limits.rounded) {
            const std::string& column = r.table->columns[r.column].first;
            ExecuteCached("UPDATE main." + QuotedIdentifier(r.table->name) + " SET " + QuotedIdentifier(column) +
                              " = ? WHERE rowid = ?",
                          {r.value, rt::Variant(rt::Decimal::FromInt64(r.rowid))});
        }
        limits.rounded.clear();
        release();
    } catch (const DatabaseError& e) {
        if (e.OraCode() == 1438 || e.OraCode() == 12899 || e.OraCode() == 1722) throw;
        try {
            ExecuteRaw("ROLLBACK TO PELMORA_STATEMENT");
            release();
        } catch (const rt::ComError&) {
        }
        throw;
    }
}

}  // namespace product
