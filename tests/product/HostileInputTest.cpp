// Hostile values through the data context's entry points: texts that would
// let SQLite run something other than what the dialect read, end the owner's
// transaction, exhaust the stack, or write a value that is no value.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "DatabaseTestSupport.h"
#include "product/DatabasePackages.h"
#include "product/OracleDialect.h"
#include "product/SqliteDataContext.h"
#include "runtime/Vb.h"
#include "support/TestFolders.h"

using namespace product;
using dbtest::ExpectOra;

namespace {

std::string TempDir() { return pelmora_test::FreshTestFolder("pelmora-hostile").string(); }

// A file with T (three rows) committed, and the owner's uncommitted fourth row.
std::shared_ptr<SqliteDataContext> OpenWithPendingWork(const std::string& dir) {
    auto dc = SqliteDataContext::Open(dir + "/db.sqlite", {true, 2000, 0});
    dc->ExecuteScript("CREATE TABLE T (A NUMBER(5) PRIMARY KEY, B NUMBER(5), D DATE, X NUMBER);"
                      "INSERT INTO T (A, B) VALUES (1, NULL); INSERT INTO T (A, B) VALUES (2, 1);"
                      "INSERT INTO T (A, B) VALUES (3, 2);");
    dc->Commit();
    rt::Variant affected;
    dc->ExecuteSQL("INSERT INTO T (A, B) VALUES (4, 3)", affected, ado::adCmdText);
    return dc;
}

int64_t RowsOfT(SqliteDataContext& dc) {
    rt::Variant affected;
    auto rs = dc.ExecuteSQL("SELECT count(*) FROM T", affected, ado::adCmdText);
    return rt::CLng(rs->GetValue(rt::Variant(int32_t{0})));
}

std::string Nested(const std::string& open, const std::string& inner, const std::string& close, int depth) {
    std::string s;
    for (int k = 0; k < depth; ++k) s += open;
    s += inner;
    for (int k = 0; k < depth; ++k) s += close;
    return s;
}

}  // namespace

TEST(HostileSql, TheDataContextRunsOnlyWhatTheDialectRead) {
    std::string dir = TempDir();
    auto dc = OpenWithPendingWork(dir);
    const std::string attached = dir + "/planted.db";
    struct Case {
        std::string text;
        int ora;
    };
    const Case cases[] = {
        // SQLite passes over empty statements and a byte-order mark, and stops at a NUL.
        {"; COMMIT", 900},
        {" ;; END", 900},
        {"\xEF\xBB\xBF" "COMMIT", 911},
        {"; ATTACH '" + attached + "' AS X", 900},
        {"; PRAGMA foreign_keys = OFF", 900},
        {std::string("SELECT 1 FROM DUAL\0; COMMIT", 27), 911},
        {"SELECT 1 FROM DUAL; COMMIT", 933},
        // Names read as SQLite reads them: brackets, backquotes, doubled quotes.
        {"SELECT * FROM T START WITH [x'] = 1) DELETE FROM T --' = 1 CONNECT BY A = PRIOR B", 900},
        {"SELECT * FROM T START WITH `x'` = 1) DELETE FROM T --' = 1 CONNECT BY A = PRIOR B", 900},
        {"SELECT * FROM T START WITH \"x\"\"'\" = 1) DELETE FROM T --' = 1 CONNECT BY A = PRIOR B", 900},
        {"SELECT * FROM T START WITH A = 1) DELETE FROM T WHERE (1 CONNECT BY B = PRIOR A", 900},
        {"WITH Q AS (SELECT 1) DELETE FROM T", 900},
        {"SELECT :name FROM DUAL", 1036},
        {"SELECT ?1 FROM DUAL", 1036},
        // Only the owner ends the transaction.
        {"INSERT OR ROLLBACK INTO T (A) VALUES (1)", 900},
        {"UPDATE OR FAIL T SET A = 1", 900},
        {"CREATE TABLE U (A NUMBER PRIMARY KEY ON CONFLICT ROLLBACK)", 900},
        {"CREATE TRIGGER TR AFTER INSERT ON T BEGIN SELECT RAISE(ROLLBACK, 'gone'); END", 1031},
        {"CREATE TEMP TRIGGER TR AFTER INSERT ON T BEGIN SELECT 1; END", 1031},
        {"VACUUM INTO '" + attached + "'", 900},
        // Bounded nesting.
        {Nested("BEGIN ", "NULL;", " END;", 200000), 6550},
        {"{call " + Nested("F(", "1", ")", 100000) + "}", 900},
    };
    for (const auto& c : cases) {
        rt::Variant affected;
        SCOPED_TRACE(c.text.substr(0, 80));
        ExpectOra([&] { dc->ExecuteSQL(c.text, affected, ado::adCmdText); }, c.ora);
    }
    // Nothing ran: the owner's pending row is still there, still pending.
    EXPECT_EQ(RowsOfT(*dc), 4);
    EXPECT_FALSE(std::filesystem::exists(attached));
    int fk = 0;
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(dc->Connection().Handle(), "PRAGMA foreign_keys", -1, &st, nullptr), SQLITE_OK);
    if (sqlite3_step(st) == SQLITE_ROW) fk = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
    EXPECT_EQ(fk, 1);
    dc->Rollback();
    EXPECT_EQ(RowsOfT(*dc), 3);
}

TEST(HostileSql, TheTokenizerCutsWhereSqliteCuts) {
    struct Case {
        const char* text;
        std::vector<std::string> tokens;  // the texts of the tokens, End left out
    };
    const Case cases[] = {
        {"[x'] = 1 --'", {"x'", "=", "1"}},
        {"`a``'` b", {"a`'", "B"}},
        {"\"a\"\"'\" c", {"a\"'", "C"}},
        {"\xC3\xA9'x' A$1 #", {"\xC3\xA9", "x", "A$1", "#"}},  // bytes from 0x80 are letters
    };
    for (const auto& c : cases) {
        std::vector<std::string> got;
        for (const auto& t : Tokenize(c.text))
            if (t.kind != Token::End) got.push_back(t.text);
        EXPECT_EQ(got, c.tokens) << c.text;
    }
    // A name SQLite would read as a variable, or one left open, is refused.
    ExpectOra([] { Tokenize("SELECT A#B FROM T"); }, 1036);
    ExpectOra([] { Tokenize("SELECT @x FROM T"); }, 1036);
    ExpectOra([] { Tokenize("SELECT [x FROM T"); }, 1740, {"bracket"});
    ExpectOra([] { Tokenize("SELECT `x FROM T"); }, 1740, {"backquote"});
}

TEST(HostileSql, ATransactionSqliteEndsOnItsOwnIsReportedUntilTheOwnerRollsBack) {
    // What the file's own schema may hold: a conflict clause or a trigger
    // that ends the transaction, made outside the data context; the writes
    // after a first good one, the last ending it, and how its failure begins.
    const char* trigger = "CREATE TABLE K (A INTEGER PRIMARY KEY); CREATE TRIGGER KT BEFORE INSERT ON K WHEN NEW.A = 1 "
                          "BEGIN SELECT RAISE(ROLLBACK, 'gone'); END";
    struct Case {
        const char* schema;
        std::vector<const char*> writes;
        const char* failure;
    };
    const Case cases[] = {
        {"CREATE TABLE K (A INTEGER PRIMARY KEY ON CONFLICT ROLLBACK)",
         {"INSERT INTO K (A) VALUES (1)", "INSERT INTO K (A) VALUES (2)"}, "ORA-00001"},
        {trigger, {"INSERT INTO K (A) VALUES (1)"}, "Database error: gone"},
        // A block that sets a savepoint and swallows every error cannot swallow this one.
        {trigger, {"BEGIN savepoint S; HOSTILE_K.ADD(1); EXCEPTION WHEN OTHERS THEN NULL; END;"},
         "Database error: gone"},
    };
    Routine add;
    add.minArgs = add.maxArgs = 1;
    add.body = [](RoutineCall& c) {
        c.db.Execute("INSERT INTO K (A) VALUES (?)", {c.args[0]});
        return rt::Variant();
    };
    PackageRegistry::Global().Register("HOSTILE_K.ADD", add);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.writes.back());
        std::string dir = TempDir();
        auto dc = OpenWithPendingWork(dir);
        dc->Connection().ExecuteRaw(c.schema);
        rt::Variant affected;
        dc->ExecuteSQL("INSERT INTO K (A) VALUES (2)", affected, ado::adCmdText);
        try {
            for (const char* write : c.writes) dc->ExecuteSQL(write, affected, ado::adCmdText);
            ADD_FAILURE() << "no error";
        } catch (const rt::ComError& e) {
            EXPECT_EQ(e.Description().rfind(c.failure, 0), 0u) << e.Description();
            EXPECT_NE(e.Description().find("rolled back the transaction on its own"), std::string::npos)
                << e.Description();
        }
        // Every later call says so, Commit included; nothing runs outside a transaction.
        ExpectOra([&] { RowsOfT(*dc); }, 2091, {"Rollback"});
        ExpectOra([&] { dc->ExecuteSQL("INSERT INTO T (A) VALUES (9)", affected, ado::adCmdText); }, 2091);
        ExpectOra([&] { dc->Commit(); }, 2091);
        dc->Rollback();
        EXPECT_EQ(RowsOfT(*dc), 3);
        EXPECT_TRUE(dc->Connection().InTransaction());
    }
    PackageRegistry::Global().Unregister("HOSTILE_K.ADD");
}

TEST(HostileValues, DatesAndNumbersThatAreNotAreRefused) {
    std::string dir = TempDir();
    auto dc = OpenWithPendingWork(dir);
    const double nan = std::nan("");
    struct Case {
        rt::Variant value;
        const char* column;
        int ora;
    };
    const Case cases[] = {
        {rt::Variant::Date(nan), "D", 1841},      {rt::Variant::Date(INFINITY), "D", 1841},
        {rt::Variant::Date(-INFINITY), "D", 1841}, {rt::Variant::Date(1e300), "D", 1841},
        {rt::Variant::Date(-1e300), "D", 1841},   {rt::Variant(nan), "X", 1426},
        {rt::Variant(-INFINITY), "X", 1426},
    };
    for (const auto& c : cases) {
        rt::Variant affected;
        rt::Variant params = rt::Variant::ArrayOf({c.value});
        SCOPED_TRACE(c.column + std::to_string(c.ora));
        ExpectOra([&] {
            dc->ExecuteParameterizedSQL(std::string("UPDATE T SET ") + c.column + " = ? WHERE A = 1", affected,
                                        ado::adCmdText, params);
        }, c.ora);
    }
    // The last dates a date can hold are written whole.
    rt::Variant affected;
    rt::Variant last = rt::Variant::ArrayOf({rt::Variant::Date(2958465.999988426)});
    dc->ExecuteParameterizedSQL("UPDATE T SET D = ? WHERE A = 1", affected, ado::adCmdText, last);
    auto rs = dc->OpenRecordset("SELECT D FROM T WHERE A = 1");
    EXPECT_EQ(rt::Format(rs->GetValue(rt::Variant(int32_t{0})), "yyyy-mm-dd hh:nn:ss"), "9999-12-31 23:59:59");

    // "1e999" is no number: the list decoder refuses it rather than hand on infinity.
    for (const char* list : {"1e999;", "-1E+400;", "5;1e309;"})
        ExpectOra([&] { DecodeNumericList(rt::Variant(list)); }, 6502, {"numeric"});
    EXPECT_EQ(DecodeNumericList(rt::Variant("1e-999;"))[0].R8(), 0.0);
}

TEST(HostileValues, SequencesStayWithinEighteenDigits) {
    auto dc = SqliteDataContext::Open(":memory:");
    rt::Variant affected;
    auto run = [&](const std::string& sql) { return dc->ExecuteSQL(sql, affected, ado::adCmdText); };
    auto next = [&](const char* seq) {
        auto rs = run(std::string("SELECT ") + seq + ".NEXTVAL FROM DUAL");
        return rt::CDbl(rs->GetValue(rt::Variant(int32_t{0})));
    };
    for (const char* text : {"CREATE SEQUENCE S START WITH 9223372036854775807",
                             "CREATE SEQUENCE S START WITH 99999999999999999999",
                             "CREATE SEQUENCE S INCREMENT BY -9223372036854775808",
                             "CREATE SEQUENCE S START WITH 1 MAXVALUE 1000000000000000000"})
        ExpectOra([&] { run(text); }, 4003, {"sequence"});
    struct Case {
        const char* create;
        const char* name;
        double first, second;
    };
    for (const Case& c : {Case{"CREATE SEQUENCE UP START WITH 999999999999999990 INCREMENT BY 5", "UP",
                               999999999999999990.0, 999999999999999995.0},
                          Case{"CREATE SEQUENCE DOWN START WITH -999999999999999990 INCREMENT BY -5", "DOWN",
                               -999999999999999990.0, -999999999999999995.0}}) {
        run(c.create);
        EXPECT_EQ(next(c.name), c.first);
        EXPECT_EQ(next(c.name), c.second);
        ExpectOra([&] { next(c.name); }, 8004, {c.name});
    }
}
