// The Oracle forms the system sends, parsed and run against real SQLite.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "DatabaseTestSupport.h"
#include "product/DatabasePackages.h"
#include "product/OracleDialect.h"
#include "product/OracleSession.h"
#include "product/SqliteConnection.h"
#include "support/TestFolders.h"

using namespace product;
using dbtest::ExpectOra;

namespace {

std::string TempPath(const std::string& name) {
    return (pelmora_test::FreshTestFolder("pelmora-dialect") / name).string();
}

std::string Str(const ado::RecordsetImage& img, size_t row, size_t col) {
    return img.values[row * img.fields.size() + col].Str();
}
int64_t Int(const ado::RecordsetImage& img, size_t row, size_t col) {
    const rt::Variant& v = img.values[row * img.fields.size() + col];
    return v.Type() == rt::vbDecimal ? rt::DecimalRoundToInt64(v.Dec()) : static_cast<int64_t>(v.R8());
}

// A session on an in-memory database with its own package registry: the
// built-in packages plus stand-ins for the work-operations package that
// write into real tables, so that the system's block texts can run.
struct Session {
    SqliteConnection db{":memory:", {}};
    PackageRegistry registry;
    OracleSession session{db, registry};

    Session() {
        db.EnsureTransaction();
        RegisterBuiltinPackages(registry);
        db.ExecuteRaw("CREATE TABLE WRITTEN (FID NUMBER(10) PRIMARY KEY, NAME VARCHAR2(40))");
        db.ExecuteRaw("CREATE TABLE OPLOG (ENTRY VARCHAR2(80))");
        auto log = [this](const std::string& what) {
            db.Execute("INSERT INTO OPLOG (ENTRY) VALUES (?)", {rt::Variant(what)});
        };
        Routine setOp;
        setOp.minArgs = setOp.maxArgs = 1;
        setOp.body = [log](RoutineCall& c) {
            log("op:" + (c.args[0].IsNull() ? std::string("<null>") : c.args[0].Str()));
            return rt::Variant();
        };
        registry.Register("QTX_WORKOPERATIONS.SetCurrentOperation", setOp);
        for (const char* name : {"BeginOperations", "EndOperations", "CancelOperations"}) {
            Routine r;
            r.body = [log, name](RoutineCall&) {
                log(name);
                return rt::Variant();
            };
            registry.Register(std::string("QTX_WORKOPERATIONS.") + name, r);
        }
        // FIDs and names arrive as decoded lists; each pair becomes a row.
        Routine write;
        write.minArgs = write.maxArgs = 2;
        write.body = [this](RoutineCall& c) {
            const rt::SafeArray* fids = c.args[0].Array();
            const rt::SafeArray* names = c.args[1].Array();
            if (!fids || !names || fids->Count() != names->Count()) RaiseWrongArguments(c.name, "lists differ");
            for (size_t k = 0; k < fids->Count(); ++k)
                db.Execute("INSERT INTO WRITTEN (FID, NAME) VALUES (?, ?)", {fids->Data()[k], names->Data()[k]});
            return rt::Variant();
        };
        registry.Register("TESTOPS.WRITE", write);
    }

    ExecOutcome Run(const std::string& text, std::vector<BoundValue> params = {}) {
        return session.Execute(text, params);
    }
    int64_t Count(const std::string& table) {
        auto img = db.Query("SELECT count(*) FROM " + table, {}, table);
        return Int(img, 0, 0);
    }
};

BoundValue In(const std::string& s) { return BoundValue{rt::Variant(s), false, 0}; }
BoundValue In(int32_t v) { return BoundValue{rt::Variant(v), false, 0}; }

const std::string kSavepointHeader = "BEGIN savepoint ComponentDatabaseServiceUpdate;";
const std::string kOperationStart =
    " QTX_WORKOPERATIONS.SetCurrentOperation( 'QTX.UpdateFeature' ); QTX_WORKOPERATIONS.BeginOperations;";
const std::string kCall = "TESTOPS.WRITE(QTXUTILITY.DECODENUMERICLIST(?),QTXUTILITY.DECODESTRINGLIST(?));";
const std::string kCutEnd =
    " EXCEPTION WHEN OTHERS THEN QTX_WORKOPERATIONS.SetCurrentOperation( '' );"
    " rollback to ComponentDatabaseServiceUpdate;"
    " QTX_WORKOPERATIONS.CancelOperations; RAISE; END;";
const std::string kFinalEnd =
    " QTX_WORKOPERATIONS.EndOperations; QTX_WORKOPERATIONS.SetCurrentOperation( '' );" + kCutEnd;
const std::string kRecovery =
    "DECLARE no_Savepoint EXCEPTION; PRAGMA EXCEPTION_INIT(no_Savepoint, -1086);"
    " BEGIN QTX_WORKOPERATIONS.SetCurrentOperation( '' );"
    " rollback to ComponentDatabaseServiceUpdate;"
    " QTX_WORKOPERATIONS.CancelOperations;"
    " EXCEPTION WHEN no_Savepoint THEN NULL; END;";

}  // namespace

// ---------------------------------------------------------------- parsing

TEST(DialectParse, CallEscapesWithAndWithoutBlanksAndArguments) {
    ParsedText a = ParseText("{call QTX_GETSEQVAL.GETSEQVAL(?,?)}");
    EXPECT_EQ(a.kind, ParsedText::CallEscape);
    EXPECT_EQ(a.call.name, "QTX_GETSEQVAL.GETSEQVAL");
    ASSERT_EQ(a.call.args.size(), 2u);
    EXPECT_EQ(a.call.args[1].kind, Expr::Marker);
    EXPECT_EQ(a.call.args[1].marker, 1);
    EXPECT_EQ(a.markers, 2);

    ParsedText b = ParseText("{ call QTX_VALIDATESET.GetValidateSetV(NULL) }");
    EXPECT_EQ(b.call.name, "QTX_VALIDATESET.GETVALIDATESETV");
    ASSERT_EQ(b.call.args.size(), 1u);
    EXPECT_EQ(b.call.args[0].kind, Expr::Null);

    ParsedText c = ParseText("{call QTX_VALIDATESET_PROD.DefineFeaturesFromPendingEdits}");
    EXPECT_EQ(c.call.name, "QTX_VALIDATESET_PROD.DEFINEFEATURESFROMPENDINGEDITS");
    EXPECT_TRUE(c.call.args.empty());

    ExpectOra([] { ParseText("{call}"); }, 900, {"{call}"});
    ExpectOra([] { ParseText("{call A.B(?) } trailing"); }, 933, {"trailing"});
    ExpectOra([] { ParseText("{? = call A.B(?)}"); }, 900);
}

TEST(DialectParse, RecoveryBlockDeclaresTheSavepointExceptionAndItsHandler) {
    ParsedText p = ParseText(kRecovery);
    ASSERT_EQ(p.kind, ParsedText::AnonymousBlock);
    ASSERT_EQ(p.block->exceptions.size(), 1u);
    EXPECT_EQ(p.block->exceptions[0].name, "NO_SAVEPOINT");
    EXPECT_EQ(p.block->exceptions[0].sqlCode, -1086);
    ASSERT_EQ(p.block->body.size(), 3u);
    EXPECT_EQ(p.block->body[0].kind, BlockStatement::Call);
    EXPECT_EQ(p.block->body[0].call.args[0].kind, Expr::String);
    EXPECT_EQ(p.block->body[1].kind, BlockStatement::RollbackTo);
    EXPECT_EQ(p.block->body[1].name, "COMPONENTDATABASESERVICEUPDATE");
    ASSERT_EQ(p.block->handlers.size(), 1u);
    EXPECT_EQ(p.block->handlers[0].names, std::vector<std::string>{"NO_SAVEPOINT"});
    EXPECT_EQ(p.block->handlers[0].body[0].kind, BlockStatement::Null);

    ParsedText batch = ParseText(kSavepointHeader + kOperationStart + kCall + kFinalEnd);
    ASSERT_EQ(batch.kind, ParsedText::AnonymousBlock);
    EXPECT_EQ(batch.markers, 2);
    EXPECT_EQ(batch.block->body[0].kind, BlockStatement::Savepoint);
    EXPECT_TRUE(batch.block->handlers[0].names.empty());  // OTHERS
    EXPECT_EQ(batch.block->handlers[0].body.back().kind, BlockStatement::Raise);
    const Expr& decoded = batch.block->body[3].call.args[1];
    EXPECT_EQ(decoded.kind, Expr::Call);
    EXPECT_EQ(decoded.name, "QTXUTILITY.DECODESTRINGLIST");
    EXPECT_EQ(decoded.args[0].marker, 1);
}

TEST(DialectParse, RefusesWhatItDoesNotCoverNamingTheText) {
    ExpectOra([] { ParseText("BEGIN END;"); }, 6550, {"BEGIN END;"});
    ExpectOra([] { ParseText("BEGIN A.B(; END;"); }, 6550, {"PLS-00103"});
    ExpectOra([] { ParseText("BEGIN UPDATE T SET A = 1; END;"); }, 6550, {"UPDATE T"});
    ExpectOra([] { ParseText("BEGIN NULL; END; extra"); }, 6550, {"extra"});
    ExpectOra([] { ParseText("DECLARE BEGIN NULL; PRAGMA"); }, 6550);
    ExpectOra([] { ParseText("DECLARE x EXCEPTION; PRAGMA EXCEPTION_INIT(y, -1); BEGIN NULL; END;"); }, 6550,
              {"PLS-00109"});
    ExpectOra([] { ParseText("select * from T where A in ()"); }, 936, {"in ()"});
    ExpectOra([] { ParseText("select * from T where A not in ( )"); }, 936);
    ExpectOra([] { ParseText("update T set A = S.NEXTVAL"); }, 2287, {"S.NEXTVAL"});
    ExpectOra([] { ParseText("select S.NEXTVAL from T"); }, 2287);
    ExpectOra([] { ParseText("COMMIT"); }, 900, {"COMMIT"});
    ExpectOra([] { ParseText("ROLLBACK"); }, 900);
    ExpectOra([] { ParseText("select 'abc from dual"); }, 1756);
    ExpectOra([] { ParseText("   "); }, 900);
    ExpectOra([] { ParseText("CREATE SEQUENCE S CYCLE"); }, 900, {"CYCLE"});
}

TEST(DialectParse, ScriptsSplitAtSemicolonsOutsideLiteralsAndComments) {
    auto parts = SplitScript(
        "-- leading comment; not a statement\n"
        "CREATE TABLE A (X VARCHAR2(10));\n"
        "INSERT INTO A VALUES ('x;y'); /* c; d */\n"
        "INSERT INTO A VALUES ('it''s');\n"
        "BEGIN NULL; NULL; END;\n"
        "/\n"
        "SELECT 1 FROM DUAL");
    ASSERT_EQ(parts.size(), 5u);
    EXPECT_EQ(parts[1], "INSERT INTO A VALUES ('x;y');");
    EXPECT_EQ(parts[2].rfind("/* c; d */", 0), 0u);
    EXPECT_EQ(parts[3].substr(parts[3].find("BEGIN")), "BEGIN NULL; NULL; END;");
    EXPECT_EQ(parts[4], "SELECT 1 FROM DUAL");
}

// ---------------------------------------------------------------- sequences

TEST(DialectSequences, NextvalFromDualAndInInsertTakesTheStoredSequence) {
    Session s;
    s.Run("CREATE SEQUENCE ORDER_SEQ START WITH 5 INCREMENT BY 2");
    s.Run("create sequence other_seq");
    auto r = s.Run("select ORDER_SEQ.NextVal from dual");
    ASSERT_TRUE(r.rows);
    EXPECT_EQ(Int(*r.rows, 0, 0), 5);
    EXPECT_EQ(r.rows->fields[0].type, ado::adNumeric);
    // One value per sequence per statement, as Oracle gives per row.
    r = s.Run("SELECT order_seq.nextval, ORDER_SEQ.NEXTVAL, OTHER_SEQ.NEXTVAL FROM DUAL");
    EXPECT_EQ(Int(*r.rows, 0, 0), 7);
    EXPECT_EQ(Int(*r.rows, 0, 1), 7);
    EXPECT_EQ(Int(*r.rows, 0, 2), 1);

    s.db.ExecuteRaw("CREATE TABLE T (ID NUMBER(10), NAME VARCHAR2(10))");
    r = s.Run("INSERT INTO T (ID, NAME) VALUES (ORDER_SEQ.NEXTVAL, ?)", {In("a")});
    EXPECT_EQ(r.recordsAffected, 1);
    auto img = s.db.Query("SELECT ID, NAME FROM T", {}, "");
    EXPECT_EQ(Int(img, 0, 0), 9);
    EXPECT_EQ(Str(img, 0, 1), "a");
}

// A statement sent again is run from its kept parse: each run binds its own
// values and takes its own sequence value, and a text refused once is refused
// again.
TEST(DialectSequences, AStatementSentAgainRunsWithItsOwnValuesAndSequenceValue) {
    Session s;
    s.Run("CREATE SEQUENCE AGAIN_SEQ START WITH 10");
    s.db.ExecuteRaw("CREATE TABLE T (ID NUMBER(10), NAME VARCHAR2(10))");
    const std::string insert = "INSERT INTO T (ID, NAME) VALUES (AGAIN_SEQ.NEXTVAL, ?)";
    const std::vector<std::string> names{"a", "b", "c"};
    for (const auto& name : names) EXPECT_EQ(s.Run(insert, {In(name)}).recordsAffected, 1);
    const std::string select = "SELECT ID FROM T WHERE NAME = ?";
    for (size_t k = 0; k < names.size(); ++k) {
        auto r = s.Run(select, {In(names[k])});
        ASSERT_TRUE(r.rows);
        ASSERT_EQ(r.rows->RowCount(), 1u);
        EXPECT_EQ(Int(*r.rows, 0, 0), 10 + static_cast<int64_t>(k));
    }
    for (int k = 0; k < 2; ++k) ExpectOra([&] { s.Run("SELECT ID FROM T WHERE NAME IN ()"); }, 936, {"IN ()"});
}

TEST(DialectSequences, MissingExhaustedAndDroppedSequencesFailClearly) {
    Session s;
    ExpectOra([&] { s.Run("select NO_SUCH_SEQ.NEXTVAL from dual"); }, 2289, {"NO_SUCH_SEQ"});
    s.Run("CREATE SEQUENCE SMALL_SEQ START WITH 1 MAXVALUE 2 NOCACHE");
    s.Run("select SMALL_SEQ.NEXTVAL from dual");
    s.Run("select SMALL_SEQ.NEXTVAL from dual");
    ExpectOra([&] { s.Run("select SMALL_SEQ.NEXTVAL from dual"); }, 8004, {"SMALL_SEQ"});
    ExpectOra([&] { s.Run("CREATE SEQUENCE SMALL_SEQ"); }, 955);
    s.Run("DROP SEQUENCE SMALL_SEQ");
    ExpectOra([&] { s.Run("select SMALL_SEQ.NEXTVAL from dual"); }, 2289);
    ExpectOra([&] { s.Run("DROP SEQUENCE SMALL_SEQ"); }, 2289);
    // The transaction stays usable after each failure.
    s.Run("CREATE SEQUENCE SMALL_SEQ START WITH 40");
    EXPECT_EQ(Int(*s.Run("select SMALL_SEQ.NEXTVAL from dual").rows, 0, 0), 40);
}

TEST(DialectSequences, TwoConnectionsToOneFileNeverReceiveTheSameValue) {
    std::string path = TempPath("seq.db");
    {
        SqliteConnection setup(path, {true, 0});
        OracleSession s(setup);
        setup.EnsureTransaction();
        s.Execute("CREATE SEQUENCE QTX_FID_SEQ START WITH 100");
        setup.ExecuteRaw("CREATE TABLE NOTE (A NUMBER(5)); COMMIT;");
    }
    SqliteConnection a(path, {false, 0});
    SqliteConnection b(path, {false, 0});
    OracleSession sa(a), sb(b);
    a.EnsureTransaction();
    b.EnsureTransaction();
    auto next = [](OracleSession& s) { return Int(*s.Execute("SELECT QTX_FID_SEQ.NEXTVAL FROM DUAL").rows, 0, 0); };

    std::set<int64_t> seen;
    int64_t first = next(sa);
    seen.insert(first);
    // While a's transaction holds the sequence, b is refused rather than
    // handed a value a may also hand out.
    ExpectOra([&] { next(sb); }, 54, {"QTX_FID_SEQ"});
    a.ExecuteRaw("COMMIT");
    a.EnsureTransaction();
    b.ExecuteRaw("ROLLBACK");
    b.EnsureTransaction();
    for (int round = 0; round < 3; ++round) {
        int64_t vb = next(sb);
        b.ExecuteRaw("COMMIT");
        b.EnsureTransaction();
        int64_t va = next(sa);
        a.ExecuteRaw("COMMIT");
        a.EnsureTransaction();
        EXPECT_TRUE(seen.insert(vb).second) << vb;
        EXPECT_TRUE(seen.insert(va).second) << va;
    }
    // A transaction that has only read before the other committed takes its
    // value on top of that commit; one holding writes of its own (a
    // temporary table's here) may not, until it rolls back.
    for (bool written : {false, true}) {
        if (written) sb.Execute("CREATE TEMP TABLE SCRATCH (A NUMBER(5))");
        EXPECT_EQ(sb.Execute("SELECT count(*) FROM NOTE").rows->RowCount(), 1u);
        int64_t va = next(sa);
        a.ExecuteRaw("COMMIT");
        a.EnsureTransaction();
        if (written) {
            ExpectOra([&] { next(sb); }, 8177, {"QTX_FID_SEQ"});
            b.ExecuteRaw("ROLLBACK");
            b.EnsureTransaction();
        }
        int64_t vb = next(sb);
        b.ExecuteRaw("COMMIT");
        b.EnsureTransaction();
        EXPECT_TRUE(seen.insert(va).second) << va;
        EXPECT_TRUE(seen.insert(vb).second) << vb;
    }
    EXPECT_EQ(seen.size(), 11u);
    EXPECT_EQ(*seen.begin(), 100);
    EXPECT_EQ(*seen.rbegin(), 110);
}

// ---------------------------------------------------------------- statements

TEST(DialectStatements, ConnectByPriorReadsRolesGrantedThroughRoles) {
    Session s;
    s.db.ExecuteRaw(
        "CREATE TABLE DBA_ROLE_PRIVS (GRANTEE VARCHAR2(30), GRANTED_ROLE VARCHAR2(30));"
        "INSERT INTO DBA_ROLE_PRIVS VALUES ('ALICE', 'EDITOR'), ('EDITOR', 'VIEWER'), ('VIEWER', 'PUBLIC_R'),"
        " ('BOB', 'VIEWER'), ('CARL', 'LOOP_A'), ('LOOP_A', 'LOOP_B'), ('LOOP_B', 'LOOP_A');");
    auto roles = [&](const std::string& user) {
        auto r = s.Run("SELECT distinct granted_role FROM dba_role_privs START WITH grantee = '" + user +
                       "' CONNECT BY grantee = PRIOR  granted_role");
        std::set<std::string> out;
        for (size_t k = 0; k < r.rows->RowCount(); ++k) out.insert(Str(*r.rows, k, 0));
        EXPECT_EQ(r.rows->fields[0].name, "GRANTED_ROLE");
        return out;
    };
    EXPECT_EQ(roles("ALICE"), (std::set<std::string>{"EDITOR", "VIEWER", "PUBLIC_R"}));
    EXPECT_EQ(roles("BOB"), (std::set<std::string>{"VIEWER", "PUBLIC_R"}));
    EXPECT_TRUE(roles("NOBODY").empty());
    // A cycle in the grants ends instead of recursing for ever.
    EXPECT_EQ(roles("CARL"), (std::set<std::string>{"LOOP_A", "LOOP_B"}));
    // PRIOR on the left, markers in the start condition, ORDER BY after.
    auto r = s.Run("select granted_role from dba_role_privs start with grantee = ? connect by prior granted_role = "
                   "grantee order by granted_role",
                   {In("BOB")});
    ASSERT_EQ(r.rows->RowCount(), 2u);
    EXPECT_EQ(Str(*r.rows, 0, 0), "PUBLIC_R");
    ExpectOra([&] { s.Run("select * from dba_role_privs connect by grantee = granted_role"); }, 900,
              {"CONNECT BY"});
}

TEST(DialectStatements, PlainSelectsWithInNotInAndNotExistsBindMarkersInOrder) {
    Session s;
    s.db.ExecuteRaw(
        "CREATE TABLE ST (QTX_FNO NUMBER(5), BSS VARCHAR2(10), BMS NUMBER(10,2), EMS NUMBER(10,2));"
        "INSERT INTO ST VALUES (5, 'A', 0, 10), (5, 'A', 10, 20), (6, 'A', 20, 30), (7, 'B', 0, 5);");
    auto r = s.Run("select * from ST where QTX_FNO in (5, 6) and BMS >= ? order by BMS", {In(10)});
    ASSERT_EQ(r.rows->RowCount(), 2u);
    EXPECT_EQ(Int(*r.rows, 0, 0), 5);
    r = s.Run("SELECT * FROM ST WHERE QTX_FNO NOT IN (?, ?)", {In(5), In(6)});
    ASSERT_EQ(r.rows->RowCount(), 1u);
    EXPECT_EQ(Str(*r.rows, 0, 1), "B");
    r = s.Run("select * from ST A  where A.BSS = 'A' and A.BMS <> 0 and QTX_FNO in (5, 6) AND NOT EXISTS  (select 'X' "
              "from ST B  where A.BSS = B.BSS and A.BMS = B.EMS)");
    ASSERT_EQ(r.rows->RowCount(), 0u);
    r = s.Run("select * from ST A where NOT EXISTS (select 'X' from ST B where A.BMS = B.EMS and A.BSS = B.BSS)");
    EXPECT_EQ(r.rows->RowCount(), 2u);  // the two rows starting at 0
}

TEST(DialectStatements, MarkerCountsMustMatchTheValues) {
    Session s;
    s.db.ExecuteRaw("CREATE TABLE T (A NUMBER(5), B VARCHAR2(5))");
    ExpectOra([&] { s.Run("select * from T where A = ? and B = ?", {In(1)}); }, 1008, {"2 markers, 1 values"});
    ExpectOra([&] { s.Run("select * from T where A = ?", {In(1), In(2)}); }, 1036, {"1 markers, 2 values"});
    ExpectOra([&] { s.Run("select * from T where B = '?'", {In(1)}); }, 1036);  // a quoted ? is no marker
    EXPECT_EQ(s.Run("select * from T where B = '?'").rows->RowCount(), 0u);
}

TEST(DialectStatements, DatabaseErrorsNameTheTextAndLeaveTheTransactionUsable) {
    Session s;
    s.db.ExecuteRaw("CREATE TABLE T (A NUMBER(5) PRIMARY KEY, B VARCHAR2(5) NOT NULL)");
    s.Run("INSERT INTO T (A, B) VALUES (1, 'x')");
    ExpectOra([&] { s.Run("select * from NO_SUCH_TABLE"); }, 942, {"NO_SUCH_TABLE"});
    ExpectOra([&] { s.Run("select NO_SUCH_COLUMN from T"); }, 904, {"NO_SUCH_COLUMN"});
    ExpectOra([&] { s.Run("selec * from T"); }, 900, {"selec * from T"});
    ExpectOra([&] { s.Run("INSERT INTO T (A, B) VALUES (1, 'y')"); }, 1, {"INSERT INTO T"});
    ExpectOra([&] { s.Run("INSERT INTO T (A, B) VALUES (2, ?)", {In("")}); }, 1400);  // '' is Null
    ExpectOra([&] { s.Run("select 1 from dual; select 2 from dual"); }, 933);
    EXPECT_TRUE(s.db.InTransaction());
    EXPECT_EQ(s.Count("T"), 1);
    s.Run("INSERT INTO T (A, B) VALUES (2, 'z')");
    EXPECT_EQ(s.Count("T"), 2);
}

// ---------------------------------------------------------------- blocks

TEST(DialectBlocks, BatchBlocksShareTheSavepointAndAFailingBlockRollsBackToIt) {
    Session s;
    s.db.ExecuteRaw("INSERT INTO WRITTEN VALUES (1, 'before the batch')");
    // First of two blocks: savepoint header, operation start, call, cut end.
    s.Run(kSavepointHeader + kOperationStart + kCall + kCutEnd, {In("10;11;"), In("3:a;b5:c:d:e")});
    EXPECT_EQ(s.Count("WRITTEN"), 3);
    auto img = s.db.Query("SELECT NAME FROM WRITTEN WHERE FID = 11", {}, "");
    EXPECT_EQ(Str(img, 0, 0), "c:d:e");
    // The last block fails on a duplicate key: its handler rolls back to the
    // savepoint of the first block and raises the database's error again.
    ExpectOra([&] { s.Run("BEGIN " + kCall + kFinalEnd, {In("12;10;"), In("1:x1:y")}); }, 1, {"WRITTEN"});
    EXPECT_EQ(s.Count("WRITTEN"), 1);
    auto log = s.db.Query("SELECT ENTRY FROM OPLOG", {}, "");
    // Everything since the savepoint is gone, the first block's operation
    // log included; what the handler did after its rollback stays.
    ASSERT_EQ(log.RowCount(), 1u);
    EXPECT_EQ(Str(log, 0, 0), "CancelOperations");
    // The recovery block finds the savepoint and rolls back to it again.
    s.Run(kRecovery);
    EXPECT_EQ(s.Count("WRITTEN"), 1);
}

TEST(DialectBlocks, RecoveryBlockIgnoresAMissingSavepointButPlainRollbackToFails) {
    Session s;
    s.Run(kRecovery);  // no savepoint in this transaction: handled as no_Savepoint
    auto log = s.db.Query("SELECT ENTRY FROM OPLOG", {}, "");
    EXPECT_EQ(log.RowCount(), 1u);  // only the operation reset ran before the failure
    ExpectOra([&] { s.Run("BEGIN rollback to ComponentDatabaseServiceUpdate; END;"); }, 1086,
              {"COMPONENTDATABASESERVICEUPDATE"});
    ExpectOra([&] { s.Run("rollback to savepoint NOT_SET"); }, 1086);
    s.Run("savepoint HERE");
    s.db.ExecuteRaw("INSERT INTO WRITTEN VALUES (5, 'after')");
    s.Run("ROLLBACK TO HERE");
    EXPECT_EQ(s.Count("WRITTEN"), 0);
}

// As Oracle keeps savepoints: a name set again moves the savepoint, so the
// older one is gone even once the newer one is.
TEST(DialectBlocks, ASavepointNameSetAgainLeavesNoOlderOneToRollBackTo) {
    Session s;
    s.Run("savepoint AGAIN");
    s.db.ExecuteRaw("INSERT INTO WRITTEN VALUES (1, 'first save')");
    // A block that sets the name again and fails unhandled is undone whole,
    // its savepoint with it.
    ExpectOra([&] { s.Run("BEGIN savepoint AGAIN; " + kCall + " END;", {In("10;10;"), In("1:x1:y")}); }, 1);
    ExpectOra([&] { s.Run("rollback to AGAIN"); }, 1086);
    s.Run(kRecovery);  // the recovery block's rollback finds nothing either
    EXPECT_EQ(s.Count("WRITTEN"), 1);
    // Set again with nothing failing, it answers at its newer place.
    s.Run("savepoint AGAIN");
    s.db.ExecuteRaw("INSERT INTO WRITTEN VALUES (2, 'second save')");
    s.Run("rollback to AGAIN");
    EXPECT_EQ(s.Count("WRITTEN"), 1);
}

TEST(DialectBlocks, AnUnhandledFailureUndoesTheWholeBlockButKeepsEarlierWork) {
    Session s;
    s.Run("BEGIN TESTOPS.WRITE(QTXUTILITY.DECODENUMERICLIST(?), QTXUTILITY.DECODESTRINGLIST(?)); END;",
          {In("1;"), In("3:one")});
    ExpectOra(
        [&] {
            s.Run("BEGIN TESTOPS.WRITE(QTXUTILITY.DECODENUMERICLIST(?), QTXUTILITY.DECODESTRINGLIST(?)); "
                  "TESTOPS.WRITE(QTXUTILITY.DECODENUMERICLIST(?), QTXUTILITY.DECODESTRINGLIST(?)); END;",
                  {In("2;"), In("3:two"), In("1;"), In("3:dup")});
        },
        1);
    EXPECT_EQ(s.Count("WRITTEN"), 1);  // the row 2 of the failed block is gone, row 1 stays
    // A handled failure keeps what the block did before it.
    s.Run("BEGIN TESTOPS.WRITE(QTXUTILITY.DECODENUMERICLIST(?), QTXUTILITY.DECODESTRINGLIST(?)); "
          "BEGIN TESTOPS.WRITE(QTXUTILITY.DECODENUMERICLIST(?), QTXUTILITY.DECODESTRINGLIST(?)); "
          "EXCEPTION WHEN DUP_VAL_ON_INDEX THEN NULL; END; END;",
          {In("3;"), In("5:three"), In("1;"), In("3:dup")});
    EXPECT_EQ(s.Count("WRITTEN"), 2);
}

TEST(DialectBlocks, NamedExceptionsAreRaisedAndCaughtByName) {
    Session s;
    s.Run("DECLARE stop_now EXCEPTION; BEGIN RAISE stop_now; EXCEPTION WHEN stop_now THEN "
          "QTX_WORKOPERATIONS.SetCurrentOperation('caught'); END;");
    auto log = s.db.Query("SELECT ENTRY FROM OPLOG", {}, "");
    ASSERT_EQ(log.RowCount(), 1u);
    EXPECT_EQ(Str(log, 0, 0), "op:caught");
    ExpectOra([&] { s.Run("DECLARE stop_now EXCEPTION; BEGIN RAISE stop_now; END;"); }, 6510, {"STOP_NOW"});
    // A handler for another exception does not catch it.
    ExpectOra(
        [&] {
            s.Run("DECLARE a EXCEPTION; b EXCEPTION; BEGIN RAISE a; EXCEPTION WHEN b THEN NULL; END;");
        },
        6510, {"A"});
    // An exception bound to an Oracle error by PRAGMA is raised with that error.
    ExpectOra(
        [&] { s.Run("DECLARE e EXCEPTION; PRAGMA EXCEPTION_INIT(e, -1086); BEGIN RAISE e; END;"); }, 1086);
}

TEST(DialectBlocks, CompileErrorsStopTheBlockBeforeAnythingRuns) {
    Session s;
    // An unknown procedure is found before the first call runs, and no
    // handler catches it.
    ExpectOra(
        [&] {
            s.Run("BEGIN QTX_WORKOPERATIONS.BeginOperations; NOPKG.NOPROC(1); EXCEPTION WHEN OTHERS THEN NULL; END;");
        },
        6550, {"PLS-00201", "NOPKG.NOPROC"});
    EXPECT_EQ(s.Count("OPLOG"), 0);
    ExpectOra([&] { s.Run("BEGIN QTX_WORKOPERATIONS.SetCurrentOperation('a', 'b'); END;"); }, 6550,
              {"PLS-00306", "SETCURRENTOPERATION"});
    ExpectOra([&] { s.Run("BEGIN RAISE; END;"); }, 6550, {"PLS-00367"});
    ExpectOra([&] { s.Run("BEGIN NULL; EXCEPTION WHEN undeclared THEN NULL; END;"); }, 6550, {"UNDECLARED"});
    ExpectOra([&] { s.Run("BEGIN QTXUTILITY.DECODENUMERICLIST('1;'); END;"); }, 6550, {"PLS-00221"});
    ExpectOra([&] { s.Run("BEGIN TESTOPS.WRITE(TESTOPS.WRITE(?), ?); END;", {In("1;"), In("1:a")}); }, 6550,
              {"PLS-00222"});
    EXPECT_EQ(s.Count("OPLOG"), 0);
}

TEST(DialectBlocks, ProceduresHandBackRowsAndOutputValues) {
    Session s;
    Routine rows;
    rows.minArgs = 0;
    rows.maxArgs = 1;
    rows.body = [](RoutineCall& c) {
        ado::RecordsetImage img;
        img.fields.push_back(ado::FieldDesc{"QTX_FID", ado::adNumeric, 19, 10, 0, 0, "", ""});
        for (auto& v : DecodeNumericList(c.args.empty() ? rt::Variant() : c.args[0])) img.values.push_back(v);
        c.rows = img;
        return rt::Variant();
    };
    s.registry.Register("QTX_VALIDATESET.GetValidateSetV", rows);
    auto r = s.Run("{ call QTX_VALIDATESET.GetValidateSetV(?) }", {In("7;8;")});
    ASSERT_TRUE(r.rows);
    EXPECT_EQ(r.rows->RowCount(), 2u);
    EXPECT_EQ(r.rows->source, "{ call QTX_VALIDATESET.GetValidateSetV(?) }");
    r = s.Run("{ call QTX_VALIDATESET.GetValidateSetV(NULL) }");
    EXPECT_EQ(r.rows->RowCount(), 0u);
    r = s.Run("begin QTX_VALIDATESET.GetValidateSetV(?); end;", {In("9;")});
    EXPECT_EQ(r.rows->RowCount(), 1u);
}
