// Statements kept for runs of rows: one handle per text, bindings that never
// carry over from one run to the next, and errors named by the text.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "product/SqliteConnection.h"
#include "runtime/Vb.h"

using product::DatabaseError;
using product::SqliteConnection;

namespace {

int OraOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const DatabaseError& e) {
        return e.OraCode();
    }
    return 0;
}

}  // namespace

TEST(CachedStatement, OneHandlePerTextRunForManyRows) {
    SqliteConnection db{":memory:", {}};
    db.ExecuteRaw("CREATE TABLE T (A INTEGER, B TEXT)");
    const std::string insert = "INSERT INTO T (A, B) VALUES (?, ?)";
    auto* st = db.PrepareCached(insert);
    ASSERT_NE(st, nullptr);
    EXPECT_EQ(db.PrepareCached(insert), st);  // kept, not prepared again
    for (int k = 1; k <= 3; ++k)
        EXPECT_EQ(db.ExecutePrepared(st, {rt::Variant(double(k)), rt::Variant("row " + std::to_string(k))}, insert), 1);
    // The cached run and the halves share the statement.
    EXPECT_EQ(db.ExecuteCached(insert, {rt::Variant(4.0), rt::Variant::Null()}), 1);
    EXPECT_EQ(db.PrepareCached(insert), st);

    auto image = db.Query("SELECT A, B FROM T ORDER BY A", {}, "q");
    ASSERT_EQ(image.values.size(), 8u);
    EXPECT_EQ(rt::CStr(image.values[5]), "row 3");
    EXPECT_TRUE(image.values[7].IsNull());
    EXPECT_EQ(db.ExecutePrepared(db.PrepareCached("UPDATE T SET B = ? WHERE A = ?"), {rt::Variant("x"), rt::Variant(9.0)},
                                 "u"),
              0);
}

TEST(CachedStatement, WrongValueCountsAndBadTextsFailAndLeaveTheHandleUsable) {
    SqliteConnection db{":memory:", {}};
    db.ExecuteRaw("CREATE TABLE T (A INTEGER)");
    const std::string insert = "INSERT INTO T (A) VALUES (?)";
    auto* st = db.PrepareCached(insert);
    EXPECT_EQ(OraOf([&] { db.ExecutePrepared(st, {}, insert); }), 1008);
    EXPECT_EQ(OraOf([&] { db.ExecutePrepared(st, {rt::Variant(1.0), rt::Variant(2.0)}, insert); }), 1036);
    EXPECT_EQ(db.ExecutePrepared(st, {rt::Variant(5.0)}, insert), 1);
    EXPECT_EQ(OraOf([&] { db.PrepareCached("   "); }), 900);
    EXPECT_EQ(OraOf([&] { db.PrepareCached("DELETE FROM T; DELETE FROM T"); }), 933);
    EXPECT_NE(OraOf([&] { db.PrepareCached("SELEC nonsense"); }), 0);
    auto image = db.Query("SELECT COUNT(*) FROM T", {}, "q");
    EXPECT_EQ(rt::CLng(image.values[0]), 1);
}

TEST(CachedStatement, QueryChecksTextsAndValueCountsAsTheCachedRunDoes) {
    SqliteConnection db{":memory:", {}};
    db.ExecuteRaw("CREATE TABLE T (A INTEGER)");
    // Errors name the text given for them, not the one run.
    auto failure = [&](const std::string& sql, const std::vector<rt::Variant>& values) -> std::pair<int, std::string> {
        try {
            db.Query(sql, values, "shown text");
        } catch (const DatabaseError& e) {
            return {e.OraCode(), e.Description()};
        }
        return {0, ""};
    };
    for (const auto& [sql, values, code] : std::vector<std::tuple<std::string, std::vector<rt::Variant>, int>>{
             {"   ", {}, 900},
             {"DELETE FROM T; DELETE FROM T", {}, 933},
             {"SELECT A FROM T WHERE A = ?", {}, 1008},
             {"SELECT A FROM T WHERE A = ?", {rt::Variant(1.0), rt::Variant(2.0)}, 1036}}) {
        auto [ora, text] = failure(sql, values);
        EXPECT_EQ(ora, code) << sql;
        EXPECT_NE(text.find("shown text"), std::string::npos) << text;
        EXPECT_EQ(text.find(sql == "   " ? std::string("\"   \"") : sql), std::string::npos) << text;
    }
    EXPECT_EQ(db.Execute("INSERT INTO T (A) VALUES (?)", {rt::Variant(3.0)}), 1);
}

// A kept query keeps its columns' descriptions only while SQLite keeps it as
// prepared: after a schema change the next run describes what is there now.
TEST(CachedStatement, AKeptQueryDescribesItsColumnsAfreshAfterTheSchemaChanges) {
    struct Case {
        const char* what;
        const char* change;
        std::vector<std::tuple<std::string, ado::DataTypeEnum, bool>> columns;  // name, type, nullable
    };
    const Case cases[] = {
        {"as first described", "", {{"A", ado::adNumeric, false}, {"B", ado::adVarChar, true}}},
        {"a column added", "ALTER TABLE T ADD COLUMN C DATE",
         {{"A", ado::adNumeric, false}, {"B", ado::adVarChar, true}, {"C", ado::adDBTimeStamp, true}}},
        {"the table made again with other types",
         "DROP TABLE T; CREATE TABLE T (A VARCHAR2(4), B NUMBER(5) NOT NULL, C VARCHAR2(3)); "
         "INSERT INTO T VALUES ('x', 1, 'y')",
         {{"A", ado::adVarChar, true}, {"B", ado::adNumeric, false}, {"C", ado::adVarChar, true}}},
    };
    SqliteConnection db{":memory:", {}};
    db.ExecuteRaw("CREATE TABLE T (A NUMBER(10) NOT NULL, B VARCHAR2(20)); INSERT INTO T VALUES (1, 'one')");
    for (const Case& c : cases) {
        if (*c.change) db.ExecuteRaw(c.change);
        for (int run = 0; run < 2; ++run) {
            auto image = db.Query("SELECT * FROM T", {}, "q");
            ASSERT_EQ(image.fields.size(), c.columns.size()) << c.what;
            for (size_t k = 0; k < c.columns.size(); ++k) {
                const auto& [name, type, nullable] = c.columns[k];
                EXPECT_EQ(image.fields[k].name, name) << c.what;
                EXPECT_EQ(image.fields[k].type, type) << c.what << " " << name;
                EXPECT_EQ((image.fields[k].attributes & ado::adFldIsNullable) != 0, nullable) << c.what << " " << name;
            }
        }
    }
}

// Each run of a kept query, converted as its rows are stepped, reads what the
// first run read, value for value; a value down a column like the one above
// it reads as that value.
TEST(CachedStatement, AKeptQueryReadsEveryRunAsItsFirst) {
    SqliteConnection db{":memory:", {}};
    db.ExecuteRaw("CREATE TABLE T (K NUMBER(10), N NUMBER(10), S VARCHAR2(10), D DATE, R FLOAT)");
    struct Row {
        int64_t k;
        rt::Variant n, s, d, r;
    };
    const std::vector<Row> rows{
        {1, rt::Variant(7.0), rt::Variant("same"), rt::Variant("2024-05-01 10:00:00"), rt::Variant(1.5)},
        {2, rt::Variant(7.0), rt::Variant("same"), rt::Variant("2024-05-01 10:00:00"), rt::Variant(1.5)},
        {3, rt::Variant::Null(), rt::Variant("other"), rt::Variant::Null(), rt::Variant(2.0)},
        {4, rt::Variant(7.0), rt::Variant("other"), rt::Variant::Null(), rt::Variant(2.0)},
        {5, rt::Variant(8.0), rt::Variant::Null(), rt::Variant("2024-05-02 00:00:00"), rt::Variant::Null()},
    };
    for (const Row& row : rows)
        db.Execute("INSERT INTO T VALUES (?, ?, ?, ?, ?)", {rt::Variant(double(row.k)), row.n, row.s, row.d, row.r});
    // Declared columns only, and one typed from its values.
    for (const std::string sql : {"SELECT K, N, S, D, R FROM T ORDER BY K", "SELECT K, N, S, D, R, N + 1 FROM T ORDER BY K"}) {
        SCOPED_TRACE(sql);
        const auto first = db.Query(sql, {}, "q");
        ASSERT_EQ(first.values.size(), rows.size() * first.fields.size());
        for (size_t k = 0; k < rows.size(); ++k) {
            const rt::Variant* v = first.values.data() + k * first.fields.size();
            EXPECT_EQ(v[1].Type(), rows[k].n.IsNull() ? rt::vbNull : rt::vbDecimal) << k;
            EXPECT_TRUE(rows[k].n.IsNull() || rt::VariantEquals(v[1], rows[k].n)) << k;
            EXPECT_EQ(v[2].IsNull(), rows[k].s.IsNull()) << k;
            EXPECT_TRUE(rows[k].s.IsNull() || rt::CStr(v[2]) == rt::CStr(rows[k].s)) << k;
            EXPECT_EQ(v[3].Type(), rows[k].d.IsNull() ? rt::vbNull : rt::vbDate) << k;
        }
        for (int run = 0; run < 2; ++run) {
            const auto again = db.Query(sql, {}, "q");
            ASSERT_EQ(again.values.size(), first.values.size());
            for (size_t k = 0; k < first.values.size(); ++k) {
                EXPECT_EQ(again.values[k].Type(), first.values[k].Type()) << k;
                EXPECT_TRUE(first.values[k].IsNull() || rt::VariantEquals(again.values[k], first.values[k])) << k;
            }
        }
    }
}

// A number column holding a text that is no number fails each run the same
// way, whether the rows are kept first or converted as they are stepped.
TEST(CachedStatement, AValueThatIsNoNumberFailsEveryRun) {
    SqliteConnection db{":memory:", {}};
    db.ExecuteRaw("CREATE TABLE T (K NUMBER(10), N NUMBER(10)); INSERT INTO T VALUES (1, 1), (2, 'abc'), (3, 3)");
    for (int run = 0; run < 3; ++run) {
        EXPECT_EQ(OraOf([&] { db.Query("SELECT K, N FROM T ORDER BY K", {}, "q"); }), 1722) << run;
        EXPECT_EQ(db.Query("SELECT K FROM T ORDER BY K", {}, "q").values.size(), 3u) << run;
    }
}
