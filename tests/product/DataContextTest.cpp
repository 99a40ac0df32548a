// The SQLite data context: opening, types, statements, commands, writing
// pending rows back and the transaction, against real SQLite files.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "ado/Command.h"
#include "ado/Recordset.h"
#include "product/SqliteDataContext.h"
#include "runtime/Vb.h"
#include "support/TestFolders.h"

using namespace product;

namespace {

std::string TempDir() { return pelmora_test::FreshTestFolder("pelmora-dc").string(); }

void ExpectError(const std::function<void()>& f, const std::vector<std::string>& fragments,
                 int32_t number = kProviderErrorNumber) {
    try {
        f();
        ADD_FAILURE() << "no error";
    } catch (const rt::ComError& e) {
        EXPECT_EQ(e.Number(), number) << e.Description();
        for (const auto& frag : fragments)
            EXPECT_NE(e.Description().find(frag), std::string::npos) << "'" << frag << "' not in: " << e.Description();
    }
}

const char* kSchema =
    "CREATE TABLE PIPE_N (\n"
    "  QTX_ID NUMBER(10), QTX_FNO NUMBER(5) NOT NULL, QTX_FID NUMBER(10) NOT NULL,\n"
    "  QTX_CNO NUMBER(5) NOT NULL, QTX_CID NUMBER(5) NOT NULL,\n"
    "  MATERIAL VARCHAR2(20) DEFAULT 'PVC', DIAMETER NUMBER(5,1), RATIO NUMBER,\n"
    "  CODE CHAR(3), LABEL NVARCHAR2(10), INSTALLED DATE, PICTURE BLOB, TAG RAW(4),\n"
    "  PRIMARY KEY (QTX_FID, QTX_CNO, QTX_CID));\n"
    "INSERT INTO PIPE_N (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, MATERIAL, DIAMETER, RATIO, CODE, INSTALLED,\n"
    "  PICTURE) VALUES (1, 101, 1001, 11, 1, 'DI', 200, 0.25, 'ABC', '1998-04-17 00:00:00', X'00FF10'),\n"
    "  (2, 101, 1002, 11, 1, 'Straße', 150.5, NULL, NULL, '2004-09-02 13:45:07', NULL),\n"
    "  (3, 101, 1003, 11, 1, 'PE', NULL, NULL, NULL, NULL, NULL);\n"
    "CREATE SEQUENCE QTX_FID_SEQ START WITH 6000;\n"
    "CREATE SEQUENCE PIPE_N_SEQ START WITH 10;\n";

// A database file with the schema above, committed.
std::string MakeDatabase(const std::string& dir) {
    std::string path = dir + "/net.db";
    auto dc = SqliteDataContext::Open(path, {true, 2000, 0});
    dc->ExecuteScript(kSchema);
    dc->Commit();
    return path;
}

ado::RecordsetPtr Select(SqliteDataContext& dc, const std::string& sql) { return dc.OpenRecordset(sql); }

int32_t Count(SqliteDataContext& dc, const std::string& where = "") {
    auto rs = Select(dc, "select count(*) from PIPE_N" + where);
    return rt::CLng(rs->GetValue(rt::Variant(int32_t{0})));
}

rt::Variant V(ado::Recordset& rs, const char* field) { return rs.GetValue(rt::Variant(field)); }

rt::Variant Values(std::initializer_list<rt::Variant> v) { return rt::Variant::ArrayOf(v); }

}  // namespace

// ---------------------------------------------------------------- opening

TEST(DataContextOpen, MissingLockedAndForeignFilesFailNamingTheFile) {
    std::string dir = TempDir();
    ExpectError([&] { SqliteDataContext::Open(dir + "/missing.db"); }, {"missing.db", "does not exist"});
    EXPECT_FALSE(std::filesystem::exists(dir + "/missing.db"));

    std::ofstream(dir + "/notes.db") << "these are not the pages of a database, only some text that is long enough";
    ExpectError([&] { SqliteDataContext::Open(dir + "/notes.db"); }, {"notes.db", "not a database"});

    std::string path = MakeDatabase(dir);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr),
              SQLITE_OK);
    ExpectError([&] { SqliteDataContext::Open(path, {false, 0, 0}); }, {"net.db", "locked"});
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    auto dc = SqliteDataContext::Open(path);
    EXPECT_EQ(Count(*dc), 3);
}

TEST(DataContextOpen, MemoryDatabasesAndCreatedFilesStartEmptyInATransaction) {
    auto mem = SqliteDataContext::Open(":memory:");
    EXPECT_TRUE(mem->Connection().InTransaction());
    EXPECT_EQ(mem->DataMode(), 0);
    std::string dir = TempDir();
    auto created = SqliteDataContext::Open(dir + "/new.db", {true, 2000, 2});
    EXPECT_TRUE(std::filesystem::exists(dir + "/new.db"));
    EXPECT_EQ(created->DataMode(), 2);
    created->put_DataMode(1);
    EXPECT_EQ(created->DataMode(), 1);
    ExpectError([&] { mem->GetMetadataService(); }, {"no metadata service"}, rt::vberr::ObjectVariableNotSet);
}

// ---------------------------------------------------------------- types

TEST(DataContextTypes, FieldsCarryTheProvidersTypesSizesAndBaseColumns) {
    auto dc = SqliteDataContext::Open(MakeDatabase(TempDir()));
    auto rs = Select(*dc, "select * from PIPE_N order by QTX_FID");
    struct Want {
        const char* name;
        ado::DataTypeEnum type;
        int32_t size;
        int precision, scale;
    };
    const Want want[] = {
        {"QTX_ID", ado::adNumeric, 19, 10, 0},        {"QTX_FNO", ado::adNumeric, 19, 5, 0},
        {"QTX_FID", ado::adNumeric, 19, 10, 0},       {"QTX_CNO", ado::adNumeric, 19, 5, 0},
        {"QTX_CID", ado::adNumeric, 19, 5, 0},        {"MATERIAL", ado::adVarChar, 20, 0, 0},
        {"DIAMETER", ado::adNumeric, 19, 5, 1},       {"RATIO", ado::adDouble, 8, 15, 0},
        {"CODE", ado::adChar, 3, 0, 0},               {"LABEL", ado::adVarWChar, 10, 0, 0},
        {"INSTALLED", ado::adDBTimeStamp, 16, 19, 0}, {"PICTURE", ado::adLongVarBinary, 2147483647, 0, 0},
        {"TAG", ado::adVarBinary, 4, 0, 0},
    };
    ASSERT_EQ(rs->FieldCount(), 13);
    for (int32_t f = 0; f < 13; ++f) {
        const ado::FieldDesc& d = rs->DescAt(f);
        SCOPED_TRACE(want[f].name);
        EXPECT_EQ(d.name, want[f].name);
        EXPECT_EQ(d.type, want[f].type);
        EXPECT_EQ(d.definedSize, want[f].size);
        EXPECT_EQ(d.precision, want[f].precision);
        EXPECT_EQ(d.numericScale, want[f].scale);
        EXPECT_EQ(d.baseTable, "PIPE_N");
        EXPECT_EQ(d.baseColumn, want[f].name);
        EXPECT_TRUE(d.attributes & ado::adFldUpdatable);
    }
    EXPECT_TRUE(rs->DescAt(2).attributes & ado::adFldKeyColumn);
    EXPECT_FALSE(rs->DescAt(0).attributes & ado::adFldKeyColumn);
    EXPECT_FALSE(rs->DescAt(1).attributes & ado::adFldIsNullable);
    EXPECT_TRUE(rs->DescAt(5).attributes & ado::adFldIsNullable);
    EXPECT_TRUE(rs->DescAt(11).attributes & ado::adFldLong);

    // Values: numbers as Decimal that convert cleanly, dates, byte arrays.
    EXPECT_EQ(V(*rs, "QTX_FID").Type(), rt::vbDecimal);
    EXPECT_EQ(rt::CLng(V(*rs, "QTX_FID")), 1001);
    EXPECT_EQ(rt::CInt(V(*rs, "QTX_CNO")), 11);
    EXPECT_TRUE(rt::VariantEquals(V(*rs, "QTX_FNO"), rt::Variant(int16_t{101})));
    EXPECT_DOUBLE_EQ(rt::CDbl(V(*rs, "RATIO")), 0.25);
    EXPECT_EQ(V(*rs, "INSTALLED").Type(), rt::vbDate);
    EXPECT_EQ(rt::FormatDate(V(*rs, "INSTALLED").DateValue(), "MM/DD/YYYY HH:MM:SS"), "04/17/1998 00:00:00");
    rt::Variant picture = V(*rs, "PICTURE");
    ASSERT_TRUE(picture.IsArray());
    ASSERT_EQ(picture.Array()->Count(), 3u);
    EXPECT_EQ(picture.Array()->Data()[1].Byte(), 0xFF);
    EXPECT_TRUE(V(*rs, "LABEL").IsNull());
    rs->MoveNext();
    EXPECT_EQ(rt::CStr(V(*rs, "DIAMETER")), "150.5");
    EXPECT_EQ(rt::CStr(V(*rs, "MATERIAL")), "Straße");
    EXPECT_EQ(rt::FormatDate(V(*rs, "INSTALLED").DateValue(), "MM/DD/YYYY HH:MM:SS"), "09/02/2004 13:45:07");
}

TEST(DataContextTypes, ExpressionColumnsHaveNoBaseTableAndTakeTheirValuesType) {
    auto dc = SqliteDataContext::Open(MakeDatabase(TempDir()));
    auto rs = Select(*dc, "select count(*), 'X' as flag, max(RATIO) + 0.5 as r, QTX_FNO from PIPE_N");
    ASSERT_EQ(rs->FieldCount(), 4);
    EXPECT_EQ(rs->DescAt(0).name, "COUNT(*)");
    EXPECT_EQ(rs->DescAt(0).type, ado::adNumeric);
    EXPECT_EQ(rs->DescAt(0).baseTable, "");
    EXPECT_FALSE(rs->DescAt(0).attributes & ado::adFldUpdatable);
    EXPECT_EQ(rs->DescAt(1).name, "FLAG");
    EXPECT_EQ(rs->DescAt(1).type, ado::adVarChar);
    EXPECT_EQ(rs->DescAt(2).type, ado::adDouble);
    EXPECT_EQ(rs->DescAt(3).baseColumn, "QTX_FNO");
    EXPECT_EQ(rt::CLng(rs->GetValue(rt::Variant(int32_t{0}))), 3);

    // An empty text written behind the context's back reads as Null, as Oracle keeps none.
    dc->Connection().ExecuteRaw("UPDATE PIPE_N SET CODE = '' WHERE QTX_FID = 1001");
    EXPECT_TRUE(Select(*dc, "select CODE from PIPE_N where QTX_FID = 1001")->GetValue(rt::Variant("CODE")).IsNull());

    // A DATE column that holds no date is an error, not a guess.
    dc->Connection().ExecuteRaw("UPDATE PIPE_N SET INSTALLED = 'soon' WHERE QTX_FID = 1003");
    ExpectError([&] { Select(*dc, "select INSTALLED from PIPE_N"); }, {"ORA-01861", "INSTALLED"});
}

// ---------------------------------------------------------------- statements and commands

TEST(DataContextStatements, ExecuteSqlReportsRowsAffectedAndReturnsRowsOnlyForQueries) {
    auto dc = SqliteDataContext::Open(MakeDatabase(TempDir()));
    rt::Variant affected;
    auto none = dc->ExecuteSQL("UPDATE PIPE_N SET MATERIAL = 'CI' WHERE QTX_FID > 1001", affected, 1);
    EXPECT_EQ(affected.I4(), 2);
    EXPECT_EQ(none->get_State(), ado::adStateClosed);
    auto rs = dc->ExecuteSQL("select MATERIAL from PIPE_N where QTX_FID = 1002", affected, -1);
    ASSERT_EQ(rs->get_State(), ado::adStateOpen);
    EXPECT_FALSE(rs->get_EOF());
    EXPECT_EQ(rt::CStr(rs->GetValue(rt::Variant(int32_t{0}))), "CI");
    EXPECT_EQ(rs->get_Source(), "select MATERIAL from PIPE_N where QTX_FID = 1002");
    rs = dc->ExecuteSQL("select MATERIAL from PIPE_N where QTX_FID = 9", affected, 8);
    EXPECT_TRUE(rs->get_BOF() && rs->get_EOF());
    ExpectError([&] { dc->ExecuteSQL("select * from PIPE_N", affected, 256); }, {"Options 256"},
                ado::err::InvalidArgument);
    // A sequence value, as components assign geometry keys.
    rs = dc->OpenRecordset("select PIPE_N_SEQ.NextVal from dual");
    EXPECT_EQ(rt::CLng(rs->GetValue(rt::Variant(int32_t{0}))), 10);
}

TEST(DataContextStatements, ParameterisedOpensBindEveryMarkerInOrder) {
    auto dc = SqliteDataContext::Open(MakeDatabase(TempDir()));
    rt::Variant params = Values({rt::Variant(int32_t{1001}), rt::Variant(int32_t{1003}), rt::Variant(int32_t{1002}),
                                 rt::Variant(int16_t{11})});
    auto rs = dc->OpenParameterizedRecordset(
        "SELECT * FROM PIPE_N WHERE QTX_FID IN (?, ?, ?) AND QTX_CNO = ? order by QTX_FID", 2, 4, 1, params);
    EXPECT_EQ(rs->get_RecordCount(), 3);
    EXPECT_EQ(rs->get_LockType(), ado::adLockBatchOptimistic);

    // Values of every kind the system binds.
    rt::Variant typed = Values({rt::Variant::Date(rt::DateSerial(2004, 9, 2) + rt::TimeSerial(13, 45, 7)),
                                rt::Variant("Straße"), rt::Variant(rt::Decimal::Parse("150.5")), rt::Variant(150.5)});
    rs = dc->OpenParameterizedRecordsetEx(
        "select QTX_FID from PIPE_N where INSTALLED = ? and MATERIAL = ? and DIAMETER = ? and DIAMETER = ?", 3, 1, 8,
        typed);
    ASSERT_EQ(rs->get_RecordCount(), 1);
    EXPECT_EQ(rs->get_LockType(), ado::adLockReadOnly);
    EXPECT_EQ(rt::CLng(rs->GetValue(rt::Variant(int32_t{0}))), 1002);

    // An array from 1 works as well as one from 0.
    rt::Variant fromOne = rt::Variant::ArrayOf({rt::Variant(int32_t{1003})}, 1);
    rs = dc->OpenParameterizedQuery("SELECT * FROM PIPE_N WHERE QTX_FID = ?", 3, 1, 8, fromOne);
    EXPECT_EQ(rs->get_RecordCount(), 1);

    rt::Variant two = Values({rt::Variant(int32_t{1}), rt::Variant(int32_t{2})});
    ExpectError([&] { dc->OpenParameterizedRecordset("SELECT * FROM PIPE_N WHERE QTX_FID = ?", 1, 4, 1, two); },
                {"ORA-01036", "QTX_FID = ?"});
    rt::Variant empty;
    ExpectError([&] { dc->OpenParameterizedRecordset("SELECT * FROM PIPE_N WHERE QTX_FID = ?", 1, 4, 1, empty); },
                {"ORA-01008"});
    rt::Variant scalar(int32_t{1});
    ExpectError([&] { dc->OpenParameterizedRecordset("SELECT * FROM PIPE_N WHERE QTX_FID = ?", 1, 4, 1, scalar); },
                {"array"}, ado::err::InvalidArgument);
    rt::Variant noList = Values({});
    ExpectError([&] { dc->OpenParameterizedRecordset("SELECT * FROM PIPE_N WHERE QTX_FID IN ()", 1, 4, 1, noList); },
                {"ORA-00936"});
}

TEST(DataContextStatements, ExecuteCommandFillsTheOutputParametersOfAPackageCall) {
    auto dc = SqliteDataContext::Open(MakeDatabase(TempDir()));
    std::string list = "QTX_FID_SEQ.NextVal, PIPE_N_SEQ.NextVal, PIPE_N_SEQ.NextVal";
    auto cmd = ado::Command::Create();
    cmd->put_CommandType(ado::adCmdText);
    auto in = cmd->CreateParameter("Prm", ado::adVarChar, ado::adParamInput, rt::Len(list), rt::Variant(list));
    cmd->get_Parameters()->Append(in);
    auto out = cmd->CreateParameter("OutPrm", ado::adVarChar, ado::adParamOutput, 1000);
    cmd->get_Parameters()->Append(out);
    cmd->put_CommandText("{call QTX_GETSEQVAL.GETSEQVAL(?,?)}");
    rt::Variant affected;
    dc->ExecuteCommand(cmd, affected);
    EXPECT_EQ(rt::CStr(out->get_Value()), "6000,10,11");

    // An anonymous block through a command, its failure reported by the database.
    cmd->put_CommandText("BEGIN savepoint S1; NOPKG.WORK(?, ?); END;");
    ExpectError([&] { dc->ExecuteCommand(cmd, affected); }, {"PLS-00201", "NOPKG.WORK"});
    // Missing sequence: the database's error, the other values not taken.
    in->put_Value(rt::Variant("QTX_FID_SEQ.NextVal, NO_SEQ.NextVal"));
    cmd->put_CommandText("{call QTX_GETSEQVAL.GETSEQVAL(?,?)}");
    ExpectError([&] { dc->ExecuteCommand(cmd, affected); }, {"ORA-02289", "NO_SEQ"});
    in->put_Value(rt::Variant("QTX_FID_SEQ.NextVal"));
    dc->ExecuteCommand(cmd, affected);
    EXPECT_EQ(rt::CStr(out->get_Value()), "6001");
}

// ---------------------------------------------------------------- UpdateRecordset

TEST(DataContextUpdate, PendingAdditionsChangesAndDeletionsAreWrittenAndAccepted) {
    std::string path = MakeDatabase(TempDir());
    auto dc = SqliteDataContext::Open(path);
    rt::Variant params = Values({rt::Variant(int32_t{101})});
    auto rs = dc->OpenParameterizedRecordset("select * from PIPE_N where QTX_FNO = ? order by QTX_FID", 1, 4, 8,
                                             params);
    ASSERT_EQ(rs->get_RecordCount(), 3);
    // Change row 1001 (also its key: the row is found by its original key).
    rs->SetValue(rt::Variant("MATERIAL"), rt::Variant("Zoë;1:x"));
    rs->SetValue(rt::Variant("QTX_CID"), rt::Variant(int32_t{2}));
    rs->SetValue(rt::Variant("INSTALLED"), rt::Variant::Date(rt::DateSerial(2020, 1, 31) + rt::TimeSerial(13, 45, 7)));
    rs->Update();
    // Delete 1003.
    rs->MoveLast();
    rs->Delete();
    // Add a row, leaving MATERIAL to the table's default; add one with a
    // picture and an empty text (Null, as Oracle stores it).
    rs->AddNew();
    for (auto [f, v] : {std::pair{"QTX_ID", 7}, {"QTX_FNO", 101}, {"QTX_FID", 1004}, {"QTX_CNO", 11}, {"QTX_CID", 1}})
        rs->SetValue(rt::Variant(f), rt::Variant(int32_t{v}));
    rs->Update();
    rs->AddNew();
    for (auto [f, v] : {std::pair{"QTX_ID", 8}, {"QTX_FNO", 101}, {"QTX_FID", 1005}, {"QTX_CNO", 11}, {"QTX_CID", 1}})
        rs->SetValue(rt::Variant(f), rt::Variant(int32_t{v}));
    rs->SetValue(rt::Variant("LABEL"), rt::Variant(""));
    rt::Variant bytes = rt::Variant::MakeArray(rt::vbByte, 0, 1);
    bytes.ArrayMut()->Set(0, rt::Variant(uint8_t{7}));
    bytes.ArrayMut()->Set(1, rt::Variant(uint8_t{0}));
    rs->SetValue(rt::Variant("PICTURE"), bytes);
    rs->Update();

    rs->put_Filter(rt::Variant(int32_t{ado::adFilterPendingRecords}));
    EXPECT_EQ(rs->get_RecordCount(), 4);
    dc->UpdateRecordset(rs, 3);
    EXPECT_TRUE(rs->PendingRows().empty());
    rs->put_Filter(rt::Variant(int32_t{0}));

    dc->Commit();
    auto other = SqliteDataContext::Open(path);
    auto check = Select(*other, "select * from PIPE_N order by QTX_FID");
    ASSERT_EQ(check->get_RecordCount(), 4);
    EXPECT_EQ(rt::CStr(V(*check, "MATERIAL")), "Zoë;1:x");
    EXPECT_EQ(rt::CLng(V(*check, "QTX_CID")), 2);
    EXPECT_EQ(rt::FormatDate(V(*check, "INSTALLED").DateValue(), "MM/DD/YYYY HH:MM:SS"), "01/31/2020 13:45:07");
    check->MoveLast();
    check->MovePrevious();
    EXPECT_EQ(rt::CLng(V(*check, "QTX_FID")), 1004);
    EXPECT_EQ(rt::CStr(V(*check, "MATERIAL")), "PVC");
    check->MoveNext();
    EXPECT_TRUE(V(*check, "LABEL").IsNull());
    EXPECT_EQ(V(*check, "PICTURE").Array()->Count(), 2u);
    EXPECT_EQ(Count(*other, " where QTX_FID = 1003"), 0);
}

TEST(DataContextUpdate, AFailureWritesNothingAndLeavesTheRowsPending) {
    auto dc = SqliteDataContext::Open(MakeDatabase(TempDir()));
    auto rs = Select(*dc, "select * from PIPE_N order by QTX_FID");
    rs->SetValue(rt::Variant("MATERIAL"), rt::Variant("STEEL"));
    rs->Update();
    rs->MoveNext();
    rs->Delete();
    rs->AddNew();  // the key of row 1003: a duplicate
    for (auto [f, v] : {std::pair{"QTX_FNO", 101}, {"QTX_FID", 1003}, {"QTX_CNO", 11}, {"QTX_CID", 1}})
        rs->SetValue(rt::Variant(f), rt::Variant(int32_t{v}));
    rs->Update();
    ExpectError([&] { dc->UpdateRecordset(rs, 3); }, {"ORA-00001", "PIPE_N", "none was written"});
    EXPECT_EQ(rs->PendingRows().size(), 3u);
    EXPECT_EQ(Count(*dc), 3);
    EXPECT_EQ(Count(*dc, " where MATERIAL = 'STEEL'"), 0);
    // The transaction stays usable, and the batch goes through once fixed.
    rs->SetValue(rt::Variant("QTX_FID"), rt::Variant(int32_t{1009}));
    rs->Update();
    dc->UpdateRecordset(rs, 3);
    EXPECT_EQ(Count(*dc), 3);
    EXPECT_EQ(Count(*dc, " where MATERIAL = 'STEEL'"), 1);
    EXPECT_EQ(Count(*dc, " where QTX_FID = 1009"), 1);
}

TEST(DataContextUpdate, RowsChangedUnderneathAreNotLocatedAndNothingIsWritten) {
    auto dc = SqliteDataContext::Open(MakeDatabase(TempDir()));
    auto rs = Select(*dc, "select * from PIPE_N order by QTX_FID");
    rs->SetValue(rt::Variant("MATERIAL"), rt::Variant("A"));
    rs->Update();
    rs->MoveNext();
    rs->SetValue(rt::Variant("MATERIAL"), rt::Variant("B"));
    rs->Update();
    rt::Variant affected;
    dc->ExecuteSQL("DELETE FROM PIPE_N WHERE QTX_FID = 1002", affected, 1);
    ExpectError([&] { dc->UpdateRecordset(rs, 3); }, {"Row cannot be located", "PIPE_N"}, kRowNotLocatedNumber);
    EXPECT_EQ(Count(*dc, " where MATERIAL = 'A'"), 0);
}

TEST(DataContextUpdate, KeysComeFromThePrimaryKeyOrQtxId) {
    auto dc = SqliteDataContext::Open(":memory:");
    dc->ExecuteScript(
        "CREATE TABLE NOKEY_N (QTX_ID NUMBER(10), NAME VARCHAR2(10));"
        "INSERT INTO NOKEY_N VALUES (1, 'a'), (2, 'a');"
        "CREATE TABLE BARE (NAME VARCHAR2(10));"
        "INSERT INTO BARE VALUES ('a');");
    auto rs = Select(*dc, "select * from NOKEY_N order by QTX_ID");
    rs->MoveNext();
    rs->SetValue(rt::Variant("NAME"), rt::Variant("b"));
    rs->Update();
    dc->UpdateRecordset(rs, 3);
    EXPECT_EQ(rt::CStr(Select(*dc, "select NAME from NOKEY_N where QTX_ID = 1")->GetValue(rt::Variant("NAME"))), "a");
    EXPECT_EQ(rt::CStr(Select(*dc, "select NAME from NOKEY_N where QTX_ID = 2")->GetValue(rt::Variant("NAME"))), "b");

    auto bare = Select(*dc, "select * from BARE");
    bare->SetValue(rt::Variant("NAME"), rt::Variant("z"));
    bare->Update();
    ExpectError([&] { dc->UpdateRecordset(bare, 3); }, {"Insufficient key column information", "BARE"});
    auto computed = Select(*dc, "select 'x' as NAME from dual");
    computed->SetValue(rt::Variant("NAME"), rt::Variant("y"));
    computed->Update();
    ExpectError([&] { dc->UpdateRecordset(computed, 3); }, {"Insufficient base table information"});
}

// ---------------------------------------------------------------- transaction

TEST(DataContextTransaction, NothingIsSeenOutsideUntilCommitAndRollbackUndoes) {
    std::string path = MakeDatabase(TempDir());
    auto dc = SqliteDataContext::Open(path);
    rt::Variant affected;
    dc->ExecuteSQL("UPDATE PIPE_N SET MATERIAL = 'X'", affected, 1);
    {
        auto other = SqliteDataContext::Open(path);
        EXPECT_EQ(Count(*other, " where MATERIAL = 'X'"), 0);
    }
    dc->Rollback();
    EXPECT_EQ(Count(*dc, " where MATERIAL = 'X'"), 0);
    dc->ExecuteSQL("UPDATE PIPE_N SET MATERIAL = 'Y' WHERE QTX_FID = 1001", affected, 1);
    dc->Commit();
    dc->ExecuteSQL("UPDATE PIPE_N SET MATERIAL = 'Z' WHERE QTX_FID = 1002", affected, 1);
    dc.reset();  // dropped without Commit: rolled back
    auto again = SqliteDataContext::Open(path);
    EXPECT_EQ(Count(*again, " where MATERIAL = 'Y'"), 1);
    EXPECT_EQ(Count(*again, " where MATERIAL = 'Z'"), 0);
}

TEST(DataContextTransaction, ScriptsAreAllOrNothing) {
    auto dc = SqliteDataContext::Open(":memory:");
    dc->ExecuteScript("CREATE TABLE A (X NUMBER(5) PRIMARY KEY); INSERT INTO A VALUES (1);");
    ExpectError([&] { dc->ExecuteScript("INSERT INTO A VALUES (2);\nINSERT INTO A VALUES (1);\n"); },
                {"ORA-00001", "statement 2 of the script"});
    auto rs = Select(*dc, "select count(*) from A");
    EXPECT_EQ(rt::CLng(rs->GetValue(rt::Variant(int32_t{0}))), 1);
    ExpectError([&] { dc->ExecuteScriptFile("/nonexistent/script.sql"); }, {"script.sql"}, rt::vberr::FileNotFound);
}

// Named as the savepoint the context sets around the rows it writes, the
// caller's still takes back what followed it.
TEST(DataContextTransaction, ACallersSavepointIsNeverOneTheContextSetsForItself) {
    auto dc = SqliteDataContext::Open(MakeDatabase(TempDir()));
    rt::Variant affected;
    dc->ExecuteSQL("SAVEPOINT PELMORA_UPDATE", affected, ado::adCmdText);
    dc->ExecuteSQL("UPDATE PIPE_N SET MATERIAL = 'X' WHERE QTX_FID = 1001", affected, ado::adCmdText);
    auto rs = Select(*dc, "select * from PIPE_N where QTX_FID = 1002");
    rs->SetValue(rt::Variant("MATERIAL"), rt::Variant("X"));
    rs->Update();
    dc->UpdateRecordset(rs, 3);
    ASSERT_EQ(Count(*dc, " where MATERIAL = 'X'"), 2);
    dc->ExecuteSQL("ROLLBACK TO PELMORA_UPDATE", affected, ado::adCmdText);
    EXPECT_EQ(Count(*dc, " where MATERIAL = 'X'"), 0);
}

// Before each script main 1001 was set to 'A', then to 'B' after savepoint S.
// A rollback past the script's start cannot be taken back: the script says
// so, and takes back what it did after that rollback.
TEST(DataContextTransaction, AScriptRollingBackPastItsStartSaysWhatItKept) {
    struct Case {
        const char* script;
        std::vector<std::string> error;  // fragments; none when it succeeds
        const char* material;            // of main 1001 afterwards
    };
    const Case cases[] = {
        {"ROLLBACK TO S; UPDATE PIPE_N SET MATERIAL = 'C' WHERE QTX_FID = 1001", {}, "C"},
        {"ROLLBACK TO S; UPDATE PIPE_N SET MATERIAL = 'C' WHERE QTX_FID = 1001;\n"
         "INSERT INTO PIPE_N (QTX_FNO) VALUES (1)",
         {"statement 3 of the script; statement 1 rolled back to a savepoint set before the script: that rollback "
          "stands, and what the script did after it was taken back)"},
         "A"},
        {"UPDATE PIPE_N SET MATERIAL = 'C' WHERE QTX_FID = 1001;\n"
         "DECLARE e EXCEPTION; BEGIN rollback to S; RAISE e; END;\n/",
         {"ORA-06510", "statement 2 of the script; it rolled back to a savepoint set before the script: that rollback "
                       "stands, and so does what the statement did after it)"},
         "A"},
    };
    const std::string path = MakeDatabase(TempDir());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        auto dc = SqliteDataContext::Open(path);
        rt::Variant affected;
        dc->ExecuteSQL("UPDATE PIPE_N SET MATERIAL = 'A' WHERE QTX_FID = 1001", affected, ado::adCmdText);
        dc->ExecuteSQL("SAVEPOINT S", affected, ado::adCmdText);
        dc->ExecuteSQL("UPDATE PIPE_N SET MATERIAL = 'B' WHERE QTX_FID = 1001", affected, ado::adCmdText);
        if (c.error.empty()) EXPECT_NO_THROW(dc->ExecuteScript(c.script));
        else ExpectError([&] { dc->ExecuteScript(c.script); }, c.error);
        auto rs = Select(*dc, "select MATERIAL from PIPE_N where QTX_FID = 1001");
        EXPECT_EQ(rt::CStr(V(*rs, "MATERIAL")), c.material);
    }
}

// ---------------------------------------------------------------- component rows

TEST(DataContextRows, ComponentAndGeometryRowsByFidList) {
    auto dc = SqliteDataContext::Open(MakeDatabase(TempDir()));
    dc->ExecuteScript(
        "CREATE TABLE PIPE_N_SDOGEOM (QTX_FID NUMBER(10), SDO_GID NUMBER(10), SDO_ESEQ NUMBER(5), SDO_SEQ "
        "NUMBER(5), X NUMBER);"
        "INSERT INTO PIPE_N_SDOGEOM VALUES (1001, 1, 0, 1, 3.0), (1001, 1, 0, 0, 2.0), (1002, 2, 0, 0, 9.0);");
    dc->put_DataMode(1);
    auto rows = rt::QueryInterface<pelmora::IDataContextRows>(std::shared_ptr<rt::Object>(dc));
    rt::Variant fids = rt::Variant::ArrayOf({rt::Variant(int32_t{1001}), rt::Variant(int32_t{1003})}, 0, rt::vbLong);
    auto rs = rows->GetComponentRows("PIPE_N", fids, 11);
    EXPECT_EQ(rs->get_RecordCount(), 2);
    EXPECT_EQ(rows->GetComponentRows("PIPE_N", fids, 12)->get_RecordCount(), 0);
    auto geom = rows->GetGeometryRows("PIPE_N_SDOGEOM", fids, 11);
    ASSERT_EQ(geom->get_RecordCount(), 2);
    EXPECT_DOUBLE_EQ(rt::CDbl(V(*geom, "X")), 2.0);  // ordered by SDO_SEQ
    EXPECT_EQ(rows->GetGeometryRows("PIPE_N_SDOGEOM", rt::Variant("-999"), 11)->get_RecordCount(), 0);
    ExpectError([&] { rows->GetComponentRows("PIPE_N; DROP TABLE PIPE_N", fids, 11); }, {"ORA-00903"});
}
