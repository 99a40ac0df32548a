// The sequences, kept in the table PELMORA_SEQUENCES.

#include "product/SqliteConnectionSupport.h"

namespace product {

namespace {
constexpr int64_t kSequenceLimit = 999999999999999999;
constexpr const char* kSequenceTable =
    "CREATE TABLE IF NOT EXISTS PELMORA_SEQUENCES ("
    "SEQUENCE_NAME TEXT PRIMARY KEY, LAST_NUMBER INTEGER NOT NULL, "
    "INCREMENT_BY INTEGER NOT NULL, MAX_VALUE INTEGER)";

bool SequenceTableExists(sqlite3* db) {
    return sqlite3_table_column_metadata(db, "main", "PELMORA_SEQUENCES", "LAST_NUMBER", nullptr, nullptr, nullptr,
                                         nullptr, nullptr) == SQLITE_OK;
}
}  // namespace

void SqliteConnection::CreateSequence(const std::string& name, int64_t startWith, int64_t incrementBy,
                                      int64_t maxValue) {
    if (incrementBy == 0) throw DatabaseError(4002, "INCREMENT must be a non-zero integer: sequence " + name);
    // Values stay within 18 digits, so that no sum of two overflows.
    auto check = [&](int64_t v, const char* what) {
        if (v < -kSequenceLimit || v > kSequenceLimit)
            throw DatabaseError(4003, std::string("sequence parameter ") + what +
                                          " exceeds maximum size allowed (18 digits): sequence " + name);
    };
    check(startWith, "START WITH");
    check(incrementBy, "INCREMENT BY");
    if (maxValue != INT64_MAX) check(maxValue, "MAXVALUE");
    Execute(kSequenceTable);
    std::string upper = UpperAscii(name);
    auto exact = [](int64_t v) { return rt::Variant(rt::Decimal::FromInt64(v)); };
    try {
        rt::Variant maxV = maxValue == INT64_MAX ? rt::Variant::Null() : exact(maxValue);
        Execute("INSERT INTO PELMORA_SEQUENCES (SEQUENCE_NAME, LAST_NUMBER, INCREMENT_BY, MAX_VALUE) "
                "VALUES (?, ?, ?, ?)",
                {rt::Variant(upper), exact(startWith - incrementBy), exact(incrementBy), maxV});
    } catch (const DatabaseError& e) {
        if (e.OraCode() == 1)
            throw DatabaseError(955, "name is already used by an existing object: sequence " + upper);
        throw;
    }
}

void SqliteConnection::DropSequence(const std::string& name) {
    std::string upper = UpperAscii(name);
    if (!SequenceTableExists(db_) ||
        Execute("DELETE FROM PELMORA_SEQUENCES WHERE SEQUENCE_NAME = ?", {rt::Variant(upper)}) == 0)
        throw DatabaseError(2289, "sequence does not exist: " + upper);
}

int64_t SqliteConnection::NextValue(const std::string& name) {
    std::string upper = UpperAscii(name);
    if (!SequenceTableExists(db_)) throw DatabaseError(2289, "sequence does not exist: " + upper);
    const std::string sql =
        "UPDATE PELMORA_SEQUENCES SET LAST_NUMBER = LAST_NUMBER + INCREMENT_BY "
        "WHERE SEQUENCE_NAME = ? AND LAST_NUMBER + INCREMENT_BY BETWEEN -999999999999999999 AND "
        "coalesce(MAX_VALUE, 999999999999999999) "
        "RETURNING LAST_NUMBER";
    ado::RecordsetImage rows;
    try {
        rows = Query(sql, {rt::Variant(upper)}, upper + ".NEXTVAL");
    } catch (const DatabaseError& e) {
        if (e.OraCode() == 54)
            throw DatabaseError(54, "resource busy: another connection holds the sequence " + upper +
                                        " (its transaction is still open)");
        throw;
    }
    if (rows.RowCount() == 0) {
        auto found = Query("SELECT 1 FROM PELMORA_SEQUENCES WHERE SEQUENCE_NAME = ?", {rt::Variant(upper)}, sql);
        if (found.RowCount() == 0) throw DatabaseError(2289, "sequence does not exist: " + upper);
        throw DatabaseError(8004, "sequence " + upper +
                                      ".NEXTVAL exceeds MAXVALUE (or its 18-digit bound) and cannot be instantiated");
    }
    return rt::DecimalRoundToInt64(rows.values[0].Dec());
}

}  // namespace product
