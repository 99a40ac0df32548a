// The QTX_WORKOPERATIONS package on its own: the 60 decoded lists applied to
// real tables inside the savepoint blocks the system sends.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "DatabaseTestSupport.h"
#include "product/DatabasePackages.h"
#include "product/OracleSession.h"
#include "product/SqliteConnection.h"
#include "product/WorkOperationsPackage.h"
#include "runtime/Vb.h"

using namespace product;
using dbtest::ExpectOra;

namespace {

// ---- the value-list encoding, written out by hand ----
std::string Nums(std::initializer_list<const char*> items) {
    std::string s;
    for (const char* i : items) s += std::string(i) + ";";
    return s;
}
std::string Strs(std::initializer_list<const char*> items) {  // nullptr: Null
    std::string s;
    for (const char* i : items) s += i ? std::to_string(rt::Len(i)) + ":" + i : std::string("-1:");
    return s;
}

// The 60 list parameters by group, each group's members in call order.
enum Group { NewNum, NewStr, NewDate, NewGeom, SetNum, SetStr, SetDate, SetGeom, Del, DelGeom };
constexpr int kFirst[] = {0, 6, 12, 18, 26, 32, 38, 44, 52, 56};

struct Lists {
    std::array<std::string, 60> text;
    // Attribute groups: FNO, FID, Comp, CID, Field, Value.
    Lists& Attr(Group g, std::string fno, std::string fid, std::string comp, std::string cid, std::string field,
                std::string value) {
        std::string* t = &text[static_cast<size_t>(kFirst[g])];
        t[0] += fno, t[1] += fid, t[2] += comp, t[3] += cid, t[4] += field, t[5] += value;
        return *this;
    }
    // Geometry groups: FNO, FID, Comp, CID, ESeq, Seq, Field, Value.
    Lists& Geom(Group g, std::string fno, std::string fid, std::string comp, std::string cid, std::string eseq,
                std::string seq, std::string field, std::string value) {
        std::string* t = &text[static_cast<size_t>(kFirst[g])];
        t[0] += fno, t[1] += fid, t[2] += comp, t[3] += cid, t[4] += eseq, t[5] += seq, t[6] += field, t[7] += value;
        return *this;
    }
    Lists& Delete(Group g, std::string fno, std::string fid, std::string comp, std::string cid) {
        std::string* t = &text[static_cast<size_t>(kFirst[g])];
        t[0] += fno, t[1] += fid, t[2] += comp, t[3] += cid;
        return *this;
    }
};

std::string CallText() {
    const char* kDecoder[] = {"QTXUTILITY.DECODENUMERICLIST(?)", "QTXUTILITY.DECODESTRINGLIST(?)",
                              "QTXUTILITY.DECODEDATELIST(?)"};
    // 0 numeric, 1 string, 2 date, per parameter.
    std::vector<int> kinds;
    for (int v : {0, 1, 2}) kinds.insert(kinds.end(), {0, 0, 1, 0, 1, v});
    kinds.insert(kinds.end(), {0, 0, 1, 0, 0, 0, 1, 0});
    for (int v : {0, 1, 2}) kinds.insert(kinds.end(), {0, 0, 1, 0, 1, v});
    kinds.insert(kinds.end(), {0, 0, 1, 0, 0, 0, 1, 0});
    for (int k = 0; k < 2; ++k) kinds.insert(kinds.end(), {0, 0, 1, 0});
    std::string s = "QTX_WORKOPERATIONS.UPDATEFEATURES(";
    for (size_t k = 0; k < kinds.size(); ++k) s += (k ? "," : "") + std::string(kDecoder[kinds[k]]);
    return s + ");";
}

const std::string kBegin =
    "BEGIN savepoint WOTEST; QTX_WORKOPERATIONS.SetCurrentOperation( 'QTX.UpdateFeature' ); "
    "QTX_WORKOPERATIONS.BeginOperations;";
const std::string kCutEnd =
    " EXCEPTION WHEN OTHERS THEN QTX_WORKOPERATIONS.SetCurrentOperation( '' ); rollback to WOTEST;"
    " QTX_WORKOPERATIONS.CancelOperations; RAISE; END;";
const std::string kFinalEnd =
    " QTX_WORKOPERATIONS.EndOperations; QTX_WORKOPERATIONS.SetCurrentOperation( '' );" + kCutEnd;

struct Package : ::testing::Test {
    SqliteConnection db{":memory:", {}};
    OracleSession session{db};

    void SetUp() override {
        db.EnsureTransaction();
        db.ExecuteRaw(
            "CREATE TABLE QTX_COMPONENTINFO_OPTABLE (QTX_CNO NUMBER(5) PRIMARY KEY, QTX_NAME VARCHAR2(30), "
            "  QTX_TABLE VARCHAR2(30));"
            "INSERT INTO QTX_COMPONENTINFO_OPTABLE VALUES (11, 'PIPE_ATTR', 'PIPE_N'), (12, 'PIPE_LINE', 'PIPE_LN'),"
            "  (13, 'BROKEN', 'NO_SUCH_TABLE');"
            "CREATE TABLE PIPE_N (QTX_ID NUMBER(10), QTX_FNO NUMBER(5) NOT NULL, QTX_FID NUMBER(10) NOT NULL,"
            "  QTX_CNO NUMBER(5) NOT NULL, QTX_CID NUMBER(5) NOT NULL, MATERIAL VARCHAR2(40) NOT NULL,"
            "  DIAMETER NUMBER(5,1), NOTE VARCHAR2(80), LAID DATE, PRIMARY KEY (QTX_FID, QTX_CNO, QTX_CID));"
            "CREATE TABLE PIPE_LN (QTX_ID NUMBER(10), QTX_FNO NUMBER(5) NOT NULL, QTX_FID NUMBER(10) NOT NULL,"
            "  QTX_CNO NUMBER(5) NOT NULL, QTX_CID NUMBER(5) NOT NULL, PRIMARY KEY (QTX_FID, QTX_CNO, QTX_CID));"
            "CREATE TABLE PIPE_LN_SDOGEOM (QTX_ID NUMBER(10), QTX_FNO NUMBER(5) NOT NULL, QTX_FID NUMBER(10) NOT NULL,"
            "  QTX_CNO NUMBER(5) NOT NULL, QTX_CID NUMBER(5) NOT NULL, SDO_GID NUMBER(10) NOT NULL,"
            "  SDO_ESEQ NUMBER(5) NOT NULL, SDO_ETYPE NUMBER(5) NOT NULL, SDO_SEQ NUMBER(5) NOT NULL,"
            "  SDO_X1 NUMBER(12,3), SDO_Y1 NUMBER(12,3),"
            "  PRIMARY KEY (QTX_FID, QTX_CNO, QTX_CID, SDO_ESEQ, SDO_SEQ));"
            "INSERT INTO PIPE_N VALUES (7, 101, 5, 11, 1, 'PVC', 150, 'old', '2001-02-03 04:05:06');"
            "INSERT INTO PIPE_LN_SDOGEOM VALUES (70, 101, 5, 12, 1, 70, 0, 2, 0, 1, 2), (70, 101, 5, 12, 1, 70, 0, 2, 1, 3, 4),"
            "  (71, 101, 6, 12, 1, 71, 0, 2, 0, 9, 9);");
    }

    // Runs one block of the batch with the lists as its parameters.
    void Block(const std::string& head, const Lists& lists, const std::string& tail) {
        std::vector<BoundValue> params;
        for (const auto& t : lists.text) params.push_back(BoundValue{rt::Variant(t), false, 0});
        session.Execute(head + " " + CallText() + tail, params);
    }
    void Batch(const Lists& lists) { Block(kBegin, lists, kFinalEnd); }

    // The rows of a query as text, one string per row, fields joined by "|".
    std::vector<std::string> Rows(const std::string& sql) {
        auto img = db.Query(sql, {}, sql);
        std::vector<std::string> out;
        size_t w = img.fields.size();
        for (size_t r = 0; w && r < img.values.size() / w; ++r) {
            std::string line;
            for (size_t c = 0; c < w; ++c) {
                const rt::Variant& v = img.values[r * w + c];
                line += (c ? "|" : "") + (v.IsNull() ? std::string("Null") : rt::CStr(v));
            }
            out.push_back(line);
        }
        return out;
    }
    std::vector<std::string> Pipes() {
        return Rows("SELECT QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, MATERIAL, DIAMETER, NOTE, LAID FROM PIPE_N "
                    "ORDER BY QTX_FID, QTX_CID");
    }
    std::vector<std::string> Geometry() {
        return Rows("SELECT QTX_ID, QTX_FID, QTX_CID, SDO_GID, SDO_ESEQ, SDO_SEQ, SDO_X1, SDO_Y1 FROM PIPE_LN_SDOGEOM "
                    "ORDER BY QTX_FID, QTX_CID, SDO_ESEQ, SDO_SEQ");
    }
};

}  // namespace

TEST_F(Package, ValuesOfOneNewRowFromEveryGroupAndSeveralCallsMakeOneRow) {
    Lists first;
    first.Attr(NewNum, Nums({"101", "101"}), Nums({"9", "9"}), Strs({"PIPE_ATTR", "PIPE_ATTR"}), Nums({"2", "2"}),
               Strs({"QTX_ID", "DIAMETER"}), Nums({"", "200.5"}));
    first.Attr(NewStr, Nums({"101"}), Nums({"9"}), Strs({"PIPE_ATTR"}), Nums({"2"}), Strs({"MATERIAL"}),
               Strs({"Guss;eisen: \"alt\" 'x' Straße"}));
    Block(kBegin, first, kCutEnd);
    // Nothing is inserted until the batch ends: the row is not complete yet.
    EXPECT_EQ(Pipes().size(), 1u);
    EXPECT_EQ(PendingNewRowCount(session.State()), 1u);
    EXPECT_EQ(CurrentWorkOperation(session.State()), "QTX.UpdateFeature");

    Lists second;
    second.Attr(NewDate, Nums({"101"}), Nums({"9"}), Strs({"PIPE_ATTR"}), Nums({"2"}), Strs({"LAID"}),
                "19:01/31/2020 13:45:07");
    second.Attr(NewStr, Nums({"101"}), Nums({"9"}), Strs({"PIPE_ATTR"}), Nums({"2"}), Strs({"NOTE"}), "0:");
    Block("BEGIN ", second, kFinalEnd);
    EXPECT_EQ(Pipes(), (std::vector<std::string>{"7|101|5|11|1|PVC|150|old|2/3/2001 4:05:06 AM",
                                                 "Null|101|9|11|2|Guss;eisen: \"alt\" 'x' Straße|200.5|Null|"
                                                 "1/31/2020 1:45:07 PM"}));
    EXPECT_EQ(PendingNewRowCount(session.State()), 0u);
    EXPECT_FALSE(WorkOperationsBegun(session.State()));
    EXPECT_EQ(CurrentWorkOperation(session.State()), "");
}

TEST_F(Package, SetsChangeTheNamedRowAndARowThatIsNotThereFails) {
    Lists sets;
    sets.Attr(SetStr, Nums({"101", "101"}), Nums({"5", "5"}), Strs({"PIPE_ATTR", "PIPE_ATTR"}), Nums({"1", "1"}),
              Strs({"NOTE", "material"}), Strs({nullptr, "PE"}));
    sets.Attr(SetNum, Nums({"101"}), Nums({"5"}), Strs({"PIPE_ATTR"}), Nums({"1"}), Strs({"DIAMETER"}), Nums({""}));
    sets.Geom(SetGeom, Nums({"101"}), Nums({"5"}), Strs({"PIPE_LINE"}), Nums({"1"}), Nums({"0"}), Nums({"1"}),
              Strs({"SDO_X1"}), Nums({"30.25"}));
    Batch(sets);
    EXPECT_EQ(Pipes(), (std::vector<std::string>{"7|101|5|11|1|PE|Null|Null|2/3/2001 4:05:06 AM"}));
    EXPECT_EQ(Geometry()[1], "70|5|1|70|0|1|30.25|4");

    Lists missing;
    missing.Attr(SetNum, Nums({"101"}), Nums({"5"}), Strs({"PIPE_ATTR"}), Nums({"2"}), Strs({"DIAMETER"}), Nums({"1"}));
    ExpectOra([&] { Batch(missing); }, 1403, {"PIPE_N", "QTX_CID 2"});
    Lists missingGeometry;
    missingGeometry.Geom(SetGeom, Nums({"101"}), Nums({"5"}), Strs({"PIPE_LINE"}), Nums({"1"}), Nums({"0"}),
                         Nums({"7"}), Strs({"SDO_X1"}), Nums({"1"}));
    ExpectOra([&] { Batch(missingGeometry); }, 1403, {"SDO_SEQ 7"});
}

TEST_F(Package, SetsOfOneRowFromSeveralGroupsAndInAnyOrderAllApplyTheLastWinning) {
    db.ExecuteRaw("INSERT INTO PIPE_N VALUES (8, 101, 6, 11, 1, 'PE', 100, 'b', NULL), "
                  "(9, 101, 4, 11, 1, 'PE', 100, 'c', NULL);");
    Lists sets;
    sets.Attr(SetStr, Nums({"101", "101", "101", "101"}), Nums({"6", "4", "5", "6"}),
              Strs({"PIPE_ATTR", "PIPE_ATTR", "PIPE_ATTR", "PIPE_ATTR"}), Nums({"1", "1", "1", "1"}),
              Strs({"NOTE", "NOTE", "MATERIAL", "NOTE"}), Strs({"x6", "x4", "ST", "y6"}));
    sets.Attr(SetNum, Nums({"101", "101", "101"}), Nums({"5", "4", "6"}), Strs({"PIPE_ATTR", "PIPE_ATTR", "PIPE_ATTR"}),
              Nums({"1", "1", "1"}), Strs({"DIAMETER", "DIAMETER", "DIAMETER"}), Nums({"51", "41", "61"}));
    Batch(sets);
    EXPECT_EQ(Rows("SELECT QTX_FID, MATERIAL, DIAMETER, NOTE FROM PIPE_N ORDER BY QTX_FID"),
              (std::vector<std::string>{"4|PE|41|x4", "5|ST|51|old", "6|PE|61|y6"}));
}

// Sets of many rows, on a table whose key is unique (written in chunks) and
// on one without a unique key (written row by row, duplicates both changed).
TEST_F(Package, ManyRowsAreSetWholeAndAMissingOneIsNamed) {
    db.ExecuteRaw(
        "CREATE TABLE LOOSE_N (QTX_ID NUMBER(10), QTX_FNO NUMBER(5), QTX_FID NUMBER(10), QTX_CNO NUMBER(5),"
        "  QTX_CID NUMBER(5), NOTE VARCHAR2(80), DIAMETER NUMBER(5,1));"
        "CREATE INDEX LOOSE_N_FID ON LOOSE_N (QTX_FID);"
        "INSERT INTO QTX_COMPONENTINFO_OPTABLE VALUES (14, 'LOOSE_ATTR', 'LOOSE_N');"
        "INSERT INTO LOOSE_N VALUES (1, 101, 1000, 14, 1, 'dup', 1), (2, 101, 1000, 14, 1, 'dup', 1);");
    for (const char* comp : {"PIPE_ATTR", "LOOSE_ATTR"}) {
        const bool pipe = std::string(comp) == "PIPE_ATTR";
        const std::string table = pipe ? "PIPE_N" : "LOOSE_N";
        const int cno = pipe ? 11 : 14;
        for (int fid = 1001; fid <= 1020; ++fid)
            db.ExecuteRaw("INSERT INTO " + table + " (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, " +
                          (pipe ? "MATERIAL, " : "") + "NOTE) VALUES (" + std::to_string(fid) + ", 101, " +
                          std::to_string(fid) + ", " + std::to_string(cno) + ", 1, " + (pipe ? "'PVC', " : "") + "'n')");
        auto sets = [&](std::vector<int> fids) {
            Lists l;
            for (int fid : fids) {
                const std::string f = std::to_string(fid);
                l.Attr(SetStr, Nums({"101"}), Nums({f.c_str()}), Strs({comp}), Nums({"1"}), Strs({"NOTE"}),
                       Strs({("note " + f).c_str()}));
                l.Attr(SetNum, Nums({"101"}), Nums({f.c_str()}), Strs({comp}), Nums({"1"}), Strs({"DIAMETER"}),
                       Nums({std::to_string(fid % 100).c_str()}));
            }
            return l;
        };
        std::vector<int> fids;
        for (int fid = pipe ? 1001 : 1000; fid <= 1020; ++fid) fids.push_back(fid);
        Batch(sets(fids));
        auto rows = Rows("SELECT QTX_FID, NOTE, DIAMETER FROM " + table + " WHERE QTX_FID >= 1000 ORDER BY QTX_FID, QTX_ID");
        ASSERT_EQ(rows.size(), pipe ? 20u : 22u) << comp;
        if (!pipe) {
            EXPECT_EQ(rows[0], "1000|note 1000|0");
            EXPECT_EQ(rows[1], "1000|note 1000|0");
        }
        EXPECT_EQ(rows.back(), "1020|note 1020|20") << comp;
        // FID 999 is not there: the batch fails naming it and changes nothing.
        fids.push_back(999);
        ExpectOra([&] { Batch(sets(fids)); }, 1403, {table.c_str(), "QTX_FID 999"});
        EXPECT_EQ(Rows("SELECT QTX_FID, NOTE, DIAMETER FROM " + table + " WHERE QTX_FID >= 1000 ORDER BY QTX_FID, QTX_ID"),
                  rows) << comp;
    }
}

// A unique index that takes in QTX_FNO does not make the rows a set names
// unique: a key held twice must not hide a key that is missing.
TEST_F(Package, AKeyHeldTwiceDoesNotHideAMissingOne) {
    db.ExecuteRaw(
        "CREATE TABLE PAIR_N (QTX_ID NUMBER(10), QTX_FNO NUMBER(5), QTX_FID NUMBER(10), QTX_CNO NUMBER(5),"
        "  QTX_CID NUMBER(5), NOTE VARCHAR2(80), UNIQUE (QTX_FNO, QTX_FID, QTX_CNO, QTX_CID));"
        "INSERT INTO QTX_COMPONENTINFO_OPTABLE VALUES (15, 'PAIR_ATTR', 'PAIR_N');"
        "INSERT INTO PAIR_N VALUES (1, 102, 1001, 15, 1, 'twin');");
    Lists sets;
    for (int fid : {999, 1001, 1002, 1003, 1004, 1005, 1006, 1007}) {
        const std::string f = std::to_string(fid);
        if (fid != 999)
            db.ExecuteRaw("INSERT INTO PAIR_N VALUES (" + f + ", 101, " + f + ", 15, 1, 'n')");
        sets.Attr(SetStr, Nums({"101"}), Nums({f.c_str()}), Strs({"PAIR_ATTR"}), Nums({"1"}), Strs({"NOTE"}),
                  Strs({"set"}));
    }
    ExpectOra([&] { Batch(sets); }, 1403, {"PAIR_N", "QTX_FID 999"});
}

TEST_F(Package, AColumnAddedBetweenBatchesIsKnownToTheNext) {
    Lists note;
    note.Attr(SetStr, Nums({"101"}), Nums({"5"}), Strs({"PIPE_ATTR"}), Nums({"1"}), Strs({"NOTE"}), Strs({"first"}));
    Batch(note);
    db.ExecuteRaw("ALTER TABLE PIPE_N ADD COLUMN EXTRA VARCHAR2(10)");
    Lists extra;
    extra.Attr(SetStr, Nums({"101"}), Nums({"5"}), Strs({"PIPE_ATTR"}), Nums({"1"}), Strs({"EXTRA"}), Strs({"second"}));
    Batch(extra);
    EXPECT_EQ(Rows("SELECT NOTE, EXTRA FROM PIPE_N WHERE QTX_FID = 5"), (std::vector<std::string>{"first|second"}));
}

TEST_F(Package, DeletionsComeBeforeTheNewRowsOfTheBatch) {
    // The row (5, 1) is deleted and added again with other values; its
    // geometry group is replaced by one new row. Entries of the second block
    // delete what the first block's new rows would otherwise collide with.
    Lists first;
    first.Attr(NewStr, Nums({"101"}), Nums({"5"}), Strs({"PIPE_ATTR"}), Nums({"1"}), Strs({"MATERIAL"}), Strs({"STEEL"}));
    first.Geom(NewGeom, Nums({"101", "101", "101", "101"}), Nums({"5", "5", "5", "5"}),
               Strs({"PIPE_LINE", "PIPE_LINE", "PIPE_LINE", "PIPE_LINE"}), Nums({"1", "1", "1", "1"}),
               Nums({"0", "0", "0", "0"}), Nums({"0", "0", "0", "0"}), Strs({"SDO_GID", "SDO_ETYPE", "SDO_X1", "SDO_Y1"}),
               Nums({"80", "2", "5.5", ""}));
    Block(kBegin, first, kCutEnd);
    Lists second;
    second.Delete(Del, Nums({"101"}), Nums({"5"}), Strs({"PIPE_ATTR"}), Nums({"1"}));
    second.Delete(DelGeom, Nums({"101"}), Nums({"5"}), Strs({"PIPE_LINE"}), Nums({"1"}));
    Block("BEGIN ", second, kFinalEnd);
    EXPECT_EQ(Pipes(), (std::vector<std::string>{"Null|101|5|11|1|STEEL|Null|Null|Null"}));
    // The new geometry row takes its geometry id as QTX_ID; FID 6 is untouched.
    EXPECT_EQ(Geometry(), (std::vector<std::string>{"80|5|1|80|0|0|5.5|Null", "71|6|1|71|0|0|9|9"}));
}

TEST_F(Package, MalformedListsUnknownNamesAndBadValuesLeaveTheDatabaseAsAtTheSavepoint) {
    const auto before = Pipes();
    const auto geometryBefore = Geometry();
    // Every failing batch also deletes a row first, which must come back.
    auto failing = [&](const std::function<void(Lists&)>& fill, int code, std::initializer_list<std::string> frag) {
        Lists l;
        l.Delete(Del, Nums({"101"}), Nums({"5"}), Strs({"PIPE_ATTR"}), Nums({"1"}));
        fill(l);
        ExpectOra([&] { Batch(l); }, code, frag);
        EXPECT_EQ(Pipes(), before);
        EXPECT_EQ(Geometry(), geometryBefore);
        EXPECT_FALSE(WorkOperationsBegun(session.State()));
        EXPECT_EQ(PendingNewRowCount(session.State()), 0u);
    };
    failing([](Lists& l) {
        l.Attr(NewNum, Nums({"101", "101"}), Nums({"9"}), Strs({"PIPE_ATTR"}), Nums({"1"}), Strs({"DIAMETER"}), Nums({"1"}));
    }, 6502, {"NewAttributeNumeric", "unequal"});
    failing([](Lists& l) {
        l.Attr(NewNum, Nums({"101"}), Nums({""}), Strs({"PIPE_ATTR"}), Nums({"1"}), Strs({"DIAMETER"}), Nums({"1"}));
    }, 6502, {"no FID"});
    failing([](Lists& l) {
        l.Attr(NewNum, Nums({"101"}), Nums({"9.5"}), Strs({"PIPE_ATTR"}), Nums({"1"}), Strs({"DIAMETER"}), Nums({"1"}));
    }, 6502, {"whole number"});
    failing([](Lists& l) { l.text[2] = "12:PIPE_ATTR"; }, 6502, {"malformed"});
    failing([](Lists& l) {
        l.Attr(NewNum, Nums({"101"}), Nums({"9"}), Strs({"NO_SUCH_COMPONENT"}), Nums({"1"}), Strs({"DIAMETER"}), Nums({"1"}));
    }, 20001, {"NO_SUCH_COMPONENT"});
    failing([](Lists& l) {
        l.Attr(SetNum, Nums({"101"}), Nums({"5"}), Strs({"PIPE_ATTR"}), Nums({"1"}), Strs({"DIAMETER\" = 1; --"}),
               Nums({"1"}));
    }, 904, {"PIPE_N"});
    failing([](Lists& l) {
        l.Attr(SetNum, Nums({"101"}), Nums({"5"}), Strs({"PIPE_ATTR"}), Nums({"1"}), Strs({"QTX_FID"}), Nums({"6"}));
    }, 6502, {"key column"});
    failing([](Lists& l) { l.Delete(DelGeom, Nums({"101"}), Nums({"5"}), Strs({"PIPE_ATTR"}), Nums({"1"})); }, 942,
            {"PIPE_N_SDOGEOM"});
    failing([](Lists& l) { l.Delete(Del, Nums({"101"}), Nums({"5"}), Strs({"BROKEN"}), Nums({"1"})); }, 942,
            {"NO_SUCH_TABLE"});
    failing([](Lists& l) {
        l.Attr(SetStr, Nums({"101"}), Nums({"5"}), Strs({"PIPE_ATTR"}), Nums({"1"}), Strs({"DIAMETER"}), Strs({"wide"}));
    }, 1722, {"wide"});
    failing([](Lists& l) {
        l.Attr(SetNum, Nums({"101"}), Nums({"5"}), Strs({"PIPE_ATTR"}), Nums({"1"}), Strs({"LAID"}), Nums({"3"}));
    }, 932, {"LAID"});
    // Constraint violations surface when the new rows go in at the end.
    failing([](Lists& l) {
        l.Attr(NewNum, Nums({"101"}), Nums({"9"}), Strs({"PIPE_ATTR"}), Nums({"1"}), Strs({"DIAMETER"}), Nums({"1"}));
    }, 1400, {"PIPE_N"});
    failing([](Lists& l) {
        l.Attr(NewStr, Nums({"101", "101"}), Nums({"6", "6"}), Strs({"PIPE_ATTR", "PIPE_ATTR"}), Nums({"1", "1"}),
               Strs({"MATERIAL", "MATERIAL"}), Strs({"A", "B"}));
    }, 6502, {"twice"});
}

namespace {
std::vector<std::string> Written(PackageState& state) {
    std::vector<std::string> out;
    for (const auto& k : WrittenFeatures(state).Keys()) out.push_back(std::to_string(k.fno) + "/" + std::to_string(k.fid));
    return out;
}
}  // namespace

TEST_F(Package, ACallOutsideABatchIsABatchOfItsOwnAndCancelDropsGatheredRows) {
    Lists l;
    l.Attr(NewStr, Nums({"102"}), Nums({"8"}), Strs({"PIPE_ATTR"}), Nums({"3"}), Strs({"MATERIAL"}), Strs({"CU"}));
    std::vector<BoundValue> params;
    for (const auto& t : l.text) params.push_back(BoundValue{rt::Variant(t), false, 0});
    session.Execute("BEGIN " + CallText() + " END;", params);
    EXPECT_EQ(Pipes().back(), "Null|102|8|11|3|CU|Null|Null|Null");

    session.Execute("BEGIN QTX_WORKOPERATIONS.BeginOperations; END;");
    Lists more;
    more.Attr(NewStr, Nums({"102"}), Nums({"9"}), Strs({"PIPE_ATTR"}), Nums({"4"}), Strs({"MATERIAL"}), Strs({"CU"}));
    params.clear();
    for (const auto& t : more.text) params.push_back(BoundValue{rt::Variant(t), false, 0});
    session.Execute("BEGIN " + CallText() + " END;", params);
    EXPECT_EQ(PendingNewRowCount(session.State()), 1u);
    session.Execute("BEGIN QTX_WORKOPERATIONS.CancelOperations; QTX_WORKOPERATIONS.EndOperations; END;");
    EXPECT_EQ(Pipes().size(), 2u);  // nothing of the cancelled batch
    EXPECT_EQ(Written(session.State()), std::vector<std::string>{"102/8"});

    // An ended batch counts, each feature once; a failed one does not.
    Lists ended;
    ended.Attr(SetStr, Nums({"101", "101"}), Nums({"5", "5"}), Strs({"PIPE_ATTR", "PIPE_ATTR"}), Nums({"1", "1"}),
               Strs({"NOTE", "MATERIAL"}), Strs({"new", "CU"}));
    Batch(ended);
    Lists failing;
    failing.Attr(SetStr, Nums({"104"}), Nums({"77"}), Strs({"PIPE_ATTR"}), Nums({"1"}), Strs({"NOTE"}), Strs({"x"}));
    ExpectOra([&] { Batch(failing); }, 1403);
    EXPECT_EQ(Written(session.State()), (std::vector<std::string>{"102/8", "101/5"}));

    // An ended batch whose work a rollback to an earlier savepoint takes back
    // is taken off the record with it.
    session.Execute("savepoint BEFORE_BATCH");
    Lists undone;
    undone.Attr(NewStr, Nums({"101"}), Nums({"6"}), Strs({"PIPE_ATTR"}), Nums({"1"}), Strs({"MATERIAL"}), Strs({"CU"}));
    Batch(undone);
    EXPECT_EQ(Written(session.State()).size(), 3u);
    session.Execute("rollback to BEFORE_BATCH");
    EXPECT_EQ(Written(session.State()), (std::vector<std::string>{"102/8", "101/5"}));
    ForgetWrittenFeatures(session.State());
    EXPECT_TRUE(Written(session.State()).empty());
}

// The package reads the lists of its decoder calls in place; lists bound
// already decoded must write the same rows and fail the same way. The new
// rows are enough for several multi-row INSERTs of two shapes.
TEST_F(Package, ListsReadInPlaceAndDecodedListsWriteAlike) {
    std::string markers;
    for (int k = 0; k < 60; ++k) markers += k ? ",?" : "?";
    const std::string decodedCall = "QTX_WORKOPERATIONS.UPDATEFEATURES(" + markers + ");";
    auto decoded = [&](const Lists& lists) {
        std::vector<BoundValue> params;
        for (size_t k = 0; k < lists.text.size(); ++k) {
            const std::string& call = CallText();
            // The decoder of parameter k, as the call text names it.
            size_t at = 0;
            for (size_t n = 0; n <= k; ++n) at = call.find("QTXUTILITY.DECODE", at) + 1;
            const char kind = call[at + 16];
            const rt::Variant text(lists.text[k]);
            params.push_back(BoundValue{ListValue(kind == 'N'   ? DecodeNumericList(text)
                                                  : kind == 'S' ? DecodeStringList(text)
                                                                : DecodeDateList(text)),
                                        false, 0});
        }
        session.Execute(kBegin + " " + decodedCall + kFinalEnd, params);
    };
    auto bothWays = [&](const Lists& lists) {
        std::pair<std::vector<std::string>, std::string> outcome[2];
        for (int way = 0; way < 2; ++way) {
            db.Savepoint("BOTH");
            try {
                way == 0 ? Batch(lists) : decoded(lists);
            } catch (const DatabaseError& e) {
                outcome[way].second = e.Description();
            }
            outcome[way].first = Pipes();
            db.RollbackTo("BOTH");
        }
        EXPECT_EQ(outcome[0], outcome[1]);
        return outcome[0];
    };

    Lists rows;
    for (int r = 0; r < 100; ++r) {
        const std::string fid = std::to_string(1000 + r) + ";";
        // Rows from 70 on leave QTX_ID out: another statement shape.
        if (r < 70)
            rows.Attr(NewNum, "101;101;", fid + fid, Strs({"PIPE_ATTR", "PIPE_ATTR"}), "1;1;",
                      Strs({"QTX_ID", "DIAMETER"}), std::to_string(r) + ";" + std::to_string(r) + ".5;");
        else
            rows.Attr(NewNum, "101;", fid, Strs({"PIPE_ATTR"}), "1;", Strs({"DIAMETER"}), std::to_string(r) + ".5;");
        rows.Attr(NewStr, "101;", fid, Strs({"PIPE_ATTR"}), "1;", Strs({"MATERIAL"}), Strs({r % 2 ? "PE" : "Stahl"}));
    }
    rows.Attr(SetStr, Nums({"101"}), Nums({"5"}), Strs({"PIPE_ATTR"}), Nums({"1"}), Strs({"NOTE"}), Strs({"new"}));
    const auto written = bothWays(rows);
    EXPECT_EQ(written.second, "");
    ASSERT_EQ(written.first.size(), 101u);
    EXPECT_EQ(written.first[1], "0|101|1000|11|1|Stahl|0.5|Null|Null");
    EXPECT_EQ(written.first[100], "Null|101|1099|11|1|PE|99.5|Null|Null");
    EXPECT_EQ(written.first[0], "7|101|5|11|1|PVC|150|new|2/3/2001 4:05:06 AM");

    // A row of a multi-row INSERT that breaks a constraint fails the batch whole.
    Lists broken = rows;
    broken.Attr(NewNum, Nums({"101"}), Nums({"2000"}), Strs({"PIPE_ATTR"}), Nums({"1"}), Strs({"DIAMETER"}), Nums({"1"}));
    EXPECT_NE(bothWays(broken).second.find("NOT NULL"), std::string::npos);
    // Malformed lists are refused alike.
    for (auto fill : std::vector<std::function<void(Lists&)>>{
             [](Lists& l) { l.text[0] += "12;x;"; },
             [](Lists& l) { l.text[8] += "12:PIPE_ATTR"; },
             [](Lists& l) { l.Attr(NewNum, Nums({"101", "101"}), Nums({"9"}), Strs({"PIPE_ATTR"}), Nums({"1"}),
                                   Strs({"DIAMETER"}), Nums({"1"})); },
             [](Lists& l) { l.Attr(SetNum, Nums({"101"}), Nums({"5.5"}), Strs({"PIPE_ATTR"}), Nums({"1"}),
                                   Strs({"DIAMETER"}), Nums({"1"})); },
             [](Lists& l) { l.Attr(SetNum, Nums({"101"}), Nums({"5"}), Strs({"PIPE_ATTR"}), Nums({"1"}),
                                   Strs({"NO_SUCH"}), Nums({"1"})); }}) {
        Lists bad;
        fill(bad);
        EXPECT_NE(bothWays(bad).second, "");
    }
}

TEST_F(Package, AColumnNameHoldingAQuoteIsWrittenQuoted) {
    db.ExecuteRaw("ALTER TABLE PIPE_N ADD COLUMN \"X\"\"Y\" VARCHAR2(20)");
    Lists lists;
    lists.Attr(SetStr, Nums({"101"}), Nums({"5"}), Strs({"PIPE_ATTR"}), Nums({"1"}), Strs({"X\"Y"}), Strs({"set"}));
    lists.Attr(NewStr, Nums({"101", "101"}), Nums({"9", "9"}), Strs({"PIPE_ATTR", "PIPE_ATTR"}), Nums({"2", "2"}),
               Strs({"MATERIAL", "X\"Y"}), Strs({"PE", "new"}));
    Batch(lists);
    EXPECT_EQ(Rows("SELECT \"X\"\"Y\" FROM PIPE_N ORDER BY QTX_FID"), (std::vector<std::string>{"set", "new"}));
}

TEST_F(Package, TheGlobalRegistryHoldsThePackage) {
    for (const char* name : {"SetCurrentOperation", "BeginOperations", "UPDATEFEATURES", "EndOperations",
                             "CancelOperations"}) {
        auto r = PackageRegistry::Global().Find(std::string("QTX_WORKOPERATIONS.") + name);
        ASSERT_TRUE(r) << name;
        EXPECT_EQ(r->kind, Routine::Procedure);
    }
    EXPECT_EQ(PackageRegistry::Global().Find("QTX_WORKOPERATIONS.UPDATEFEATURES")->maxArgs, 60);
}
