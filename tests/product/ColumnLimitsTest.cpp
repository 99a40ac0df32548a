// Oracle's column limits on every way rows are written: texts within their
// length, numbers within their precision and rounded to their scale, and a
// value that does not fit refused with nothing written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ado/Recordset.h"
#include "product/SqliteDataContext.h"
#include "runtime/Vb.h"

using namespace product;

namespace {

struct Case {
    const char* column;
    rt::Variant value;
    rt::Variant stored;    // what reads back, when it fits
    int ora = 0;           // else the error
    const char* fragment;  // and what its text names
};

std::vector<Case> Cases() {
    const rt::Variant none;
    return {
        {"NAME", rt::Variant("abcde"), rt::Variant("abcde"), 0, ""},
        {"NAME", rt::Variant("äöüßé"), rt::Variant("äöüßé"), 0, ""},  // characters, not bytes
        {"NAME", rt::Variant("abcdef"), none, 12899, "\"LIMITED\".\"NAME\" (actual: 6, maximum: 5)"},
        {"CODE", rt::Variant("abc"), none, 12899, "\"LIMITED\".\"CODE\" (actual: 3, maximum: 2)"},
        {"AMOUNT", rt::Variant(123.456789), rt::Variant(123.5), 0, ""},
        {"AMOUNT", rt::Variant(0.05), rt::Variant(0.1), 0, ""},  // half away from zero
        {"AMOUNT", rt::Variant(-0.05), rt::Variant(-0.1), 0, ""},
        {"AMOUNT", rt::Variant(9999.94), rt::Variant(9999.9), 0, ""},
        {"AMOUNT", rt::Variant(9999.95), none, 1438, "\"LIMITED\".\"AMOUNT\" NUMBER(5,1)"},
        {"AMOUNT", rt::Variant(1e6), none, 1438, "\"LIMITED\".\"AMOUNT\""},
        {"AMOUNT", rt::Variant(1e29), none, 1438, "\"LIMITED\".\"AMOUNT\""},
        {"AMOUNT", rt::Variant("abc"), none, 1722, "AMOUNT"},
        {"WHOLE", rt::Variant(int32_t{99999}), rt::Variant(int32_t{99999}), 0, ""},
        {"WHOLE", rt::Variant(int32_t{100000}), none, 1438, "\"LIMITED\".\"WHOLE\" NUMBER(5)"},
        {"WHOLE", rt::Variant(2.5), rt::Variant(3.0), 0, ""},
        {"WHOLE", rt::Variant(-2.5), rt::Variant(-3.0), 0, ""},
        {"HUNDREDS", rt::Variant(int32_t{1234567}), rt::Variant(int32_t{1234600}), 0, ""},
        {"HUNDREDS", rt::Variant(int32_t{9999950}), none, 1438, "\"LIMITED\".\"HUNDREDS\" NUMBER(5,-2)"},
        {"FREE", rt::Variant(1e29), rt::Variant(1e29), 0, ""},  // NUMBER without precision: no limit
        {"NOTE", rt::Variant(std::string(5000, 'x')), rt::Variant(std::string(5000, 'x')), 0, ""},
    };
}

struct Limits : ::testing::Test {
    std::shared_ptr<SqliteDataContext> dc = SqliteDataContext::Open(":memory:");

    void SetUp() override {
        dc->Connection().ExecuteRaw(
            "CREATE TABLE QTX_COMPONENTINFO_OPTABLE (QTX_CNO NUMBER(5) PRIMARY KEY, QTX_NAME VARCHAR2(30),"
            "  QTX_TABLE VARCHAR2(30));"
            "INSERT INTO QTX_COMPONENTINFO_OPTABLE VALUES (11, 'LIMITED_ATTR', 'LIMITED');"
            "CREATE TABLE LIMITED (QTX_ID NUMBER(10) PRIMARY KEY, QTX_FNO NUMBER(5), QTX_FID NUMBER(10),"
            "  QTX_CNO NUMBER(5), QTX_CID NUMBER(5), NAME VARCHAR2(5), CODE CHAR(2), AMOUNT NUMBER(5,1),"
            "  WHOLE NUMBER(5), HUNDREDS NUMBER(5,-2), FREE NUMBER, NOTE CLOB);"
            "INSERT INTO LIMITED (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID) VALUES (1, 101, 1, 11, 1);");
        dc->Commit();
    }

    rt::Variant Read(const std::string& column, int id = 1) {
        const std::string sql = "SELECT " + column + " FROM LIMITED WHERE QTX_ID = ?";
        auto image = dc->Connection().Query(sql, {rt::Variant(int32_t{id})}, sql);
        return image.values.empty() ? rt::Variant() : image.values[0];
    }

    // Writes the case's value through `write`, then checks what stands.
    void Expect(const Case& c, const std::function<void()>& write, int id = 1) {
        SCOPED_TRACE(std::string(c.column) + " <- " + (c.value.IsString() ? c.value.Str().substr(0, 12) : rt::CStr(c.value)));
        try {
            write();
            EXPECT_EQ(c.ora, 0) << "no error";
        } catch (const rt::ComError& e) {
            char code[16];
            std::snprintf(code, sizeof code, "ORA-%05d", c.ora);
            EXPECT_NE(c.ora, 0) << e.Description();
            EXPECT_NE(e.Description().find(code), std::string::npos) << e.Description();
            EXPECT_NE(e.Description().find(c.fragment), std::string::npos) << e.Description();
        }
        const rt::Variant now = Read(c.column, id);
        if (c.ora != 0) {
            EXPECT_TRUE(now.IsNull() || now.IsEmpty()) << "written: " << rt::CStr(now);
        } else if (c.stored.IsString()) {
            EXPECT_EQ(rt::CStr(now), c.stored.Str());
        } else {
            EXPECT_EQ(rt::CDbl(now), rt::CDbl(c.stored));
        }
        dc->Rollback();
    }

    static rt::Variant List(std::vector<rt::Variant> items) {
        auto a = rt::Variant::MakeArray(rt::vbVariant, 1, static_cast<int32_t>(items.size()));
        for (size_t k = 0; k < items.size(); ++k) a.ArrayMut()->Set(static_cast<int32_t>(k + 1), items[k]);
        return a;
    }
};

TEST_F(Limits, AMarkedInsertThroughTheSession) {
    for (const Case& c : Cases())
        Expect(c, [&] {
            rt::Variant affected;
            rt::Variant params = List({c.value});
            dc->ExecuteParameterizedSQL(std::string("INSERT INTO LIMITED (QTX_ID, ") + c.column + ") VALUES (2, ?)",
                                        affected, 1, params);
        }, 2);
}

TEST_F(Limits, AnUpdateWithLiteralsThroughTheSession) {
    for (const Case& c : Cases()) {
        std::string literal;
        if (c.value.IsString()) {
            literal = "'" + c.value.Str() + "'";
        } else {
            char buf[40];
            std::snprintf(buf, sizeof buf, "%.17g", rt::CDbl(c.value));
            literal = buf;
        }
        Expect(c, [&] {
            rt::Variant affected;
            dc->ExecuteSQL(std::string("UPDATE LIMITED SET ") + c.column + " = " + literal + " WHERE QTX_ID = 1",
                           affected, 1);
        });
    }
}

TEST_F(Limits, UpdateRecordset) {
    for (const Case& c : Cases()) {
        if (c.ora == 1722) continue;  // a numeric field refuses a text itself
        Expect(c, [&] {
            auto rs = dc->OpenRecordset("SELECT * FROM LIMITED WHERE QTX_ID = 1");
            rs->SetValue(rt::Variant(c.column), c.value);
            rs->Update();
            dc->UpdateRecordset(rs, 1);
        });
    }
}

TEST_F(Limits, TheWorkOperationsPackage) {
    for (const Case& c : Cases())
        Expect(c, [&] {
            // SetAttributeNumeric (from the 27th list) or SetAttributeString (the 33rd).
            const size_t first = c.value.IsString() ? 32 : 26;
            std::vector<rt::Variant> lists(60, rt::Variant::Null());
            lists[first] = List({rt::Variant(101.0)});
            lists[first + 1] = List({rt::Variant(1.0)});
            lists[first + 2] = List({rt::Variant("LIMITED_ATTR")});
            lists[first + 3] = List({rt::Variant(1.0)});
            lists[first + 4] = List({rt::Variant(c.column)});
            lists[first + 5] = List({c.value});
            std::string call = "{call QTX_WORKOPERATIONS.UPDATEFEATURES(";
            for (int k = 0; k < 60; ++k) call += k ? ",?" : "?";
            rt::Variant affected;
            rt::Variant params = List(lists);
            dc->ExecuteParameterizedSQL(call + ")}", affected, 1, params);
        });
}

TEST_F(Limits, AStatementOneOfWhoseRowsDoesNotFitIsUndoneWholeAndWorkBeforeItStays) {
    rt::Variant affected;
    dc->ExecuteSQL("UPDATE LIMITED SET NAME = 'kept' WHERE QTX_ID = 1", affected, 1);
    EXPECT_THROW(dc->ExecuteSQL("INSERT INTO LIMITED (QTX_ID, AMOUNT) VALUES (2, 1.25), (3, 1e6)", affected, 1),
                 rt::ComError);
    EXPECT_EQ(rt::CStr(Read("count(*)", 1)), "1");
    EXPECT_EQ(rt::CStr(Read("NAME")), "kept");
    // Rounded rows of a statement that fits are rounded each.
    dc->ExecuteSQL("INSERT INTO LIMITED (QTX_ID, AMOUNT) VALUES (2, 1.25), (3, -1.25)", affected, 1);
    EXPECT_EQ(rt::CDbl(Read("AMOUNT", 2)), 1.3);
    EXPECT_EQ(rt::CDbl(Read("AMOUNT", 3)), -1.3);
}

TEST_F(Limits, AStoredValueBeyondItsTypeOpensAsADoubleAndOneWithoutAValueNamesItsRow) {
    // Written past the limits by other means.
    dc->Connection().ExecuteRaw("UPDATE LIMITED SET AMOUNT = 1e29 WHERE QTX_ID = 1");
    auto rs = dc->OpenRecordset("SELECT * FROM LIMITED");
    const rt::Variant amount = rs->GetValue(rt::Variant("AMOUNT"));
    EXPECT_EQ(amount.Type(), rt::vbDouble);
    EXPECT_EQ(rt::CDbl(amount), 1e29);

    dc->Connection().ExecuteRaw("UPDATE LIMITED SET AMOUNT = 'abc' WHERE QTX_ID = 1");
    try {
        dc->OpenRecordset("SELECT * FROM LIMITED");
        ADD_FAILURE() << "read";
    } catch (const rt::ComError& e) {
        EXPECT_NE(e.Description().find("ORA-01722"), std::string::npos) << e.Description();
        EXPECT_NE(e.Description().find("\"LIMITED\".\"AMOUNT\" of the row with QTX_ID 1"), std::string::npos)
            << e.Description();
    }
}

}  // namespace

namespace {

TEST(LimitsOnAFile, AWriteThatWaitedForANewerSnapshotIsStillJudgedAndUndoneWhole) {
    // Of this process: suites of other builds may run beside it.
    const auto dir = std::filesystem::temp_directory_path() / ("pelmora-limits-renewed-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "net.db").string();
    SqliteConnection a(path, {true, 2000});
    a.EnsureTransaction();
    a.ExecuteRaw("CREATE TABLE LIMITED (QTX_ID NUMBER(10) PRIMARY KEY, AMOUNT NUMBER(5,1))");
    a.CommitAndBegin();
    SqliteConnection b(path, {false, 2000});
    b.EnsureTransaction();
    const std::string count = "SELECT count(*) FROM LIMITED";
    a.Query(count, {}, count);  // a's snapshot, older than b's commit
    b.Execute("INSERT INTO LIMITED VALUES (1, 1)");
    b.CommitAndBegin();
    auto write = [&](const char* sql) {
        SqliteConnection::SystemSqlScope guard(a, false);
        a.Query(sql, {}, sql);
    };
    EXPECT_THROW(write("INSERT INTO LIMITED VALUES (2, 1.25), (3, 1e6)"), DatabaseError);
    write("INSERT INTO LIMITED VALUES (4, 1.25)");
    const std::string amounts = "SELECT group_concat(QTX_ID || ':' || AMOUNT) FROM LIMITED";
    EXPECT_EQ(rt::CStr(a.Query(amounts, {}, amounts).values.at(0)), "1:1,4:1.3");
    std::filesystem::remove_all(dir);
}

}  // namespace
