// QTX_CONTAINMENT_TRACE, the package functions and collections that
// statements may call, and the data-shaping stand-in, on a copy of the sample
// network (mains own stations, which own hydrants, through OWNER_LINK_N).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DatabaseTestSupport.h"
#include "ado/Recordset.h"
#include "product/DataShape.h"
#include "product/SqliteDataContext.h"
#include "runtime/Vb.h"
#include "support/SampleEnvironment.h"

namespace {

using Lines = std::vector<std::string>;

const std::string kTraced = "the (select cast(QTX_CONTAINMENT_TRACE.RestrictSet as QTX_CONTAINMENT_TYPE) from dual)";

std::string Initialize(const std::string& start, const std::string& table = "OWNER_LINK_N") {
    return "SELECT QTX_FNO FROM QTX_FEATURES_OPTABLE WHERE QTX_FNO = 101 AND (QTX_CONTAINMENT_TRACE.Initialize('" +
           table + "', 'QTX_OWNERFNO', 'QTX_OWNERFID', '" + start + "') > 0)";
}

// "FNO/FID" per row of the traced set, and the count Initialize gave.
Lines Traced(product::SqliteDataContext& dc, const std::string& start) {
    auto kept = dc.OpenRecordset(Initialize(start));
    Lines out{"kept " + std::to_string(kept->get_RecordCount())};
    auto rs = dc.OpenRecordset("SELECT qtx_fno, qtx_fid FROM " + kTraced + " ORDER BY qtx_fid");
    for (; !rs->get_EOF(); rs->MoveNext()) {
        rt::Variant fno = rs->GetValue(rt::Variant("QTX_FNO"));
        out.push_back((fno.IsNull() ? std::string("-") : rt::CStr(fno)) + "/" + rt::CStr(rs->GetValue(rt::Variant("QTX_FID"))));
    }
    return out;
}

}  // namespace

TEST(ContainmentTrace, InitializeGathersTheTreeBelowTheStartCycleSafe) {
    auto dc = pelmora_test::SampleEnvironment::Get().OpenDataContext();
    // Main 1001 owns station 5001, which owns four hydrants; the start is
    // counted with the FNO its links name.
    EXPECT_EQ(Traced(*dc, "1001"), (Lines{"kept 1", "101/1001", "103/3001", "103/3002", "105/5001", "103/5951",
                                          "103/5961"}));
    // A feature that owns nothing: itself alone, its FNO unknown.
    EXPECT_EQ(Traced(*dc, "3001"), (Lines{"kept 1", "-/3001"}));
    // A hydrant that owns its main closes a cycle: each feature once.
    rt::Variant affected;
    dc->ExecuteSQL("INSERT INTO OWNER_LINK_N (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, QTX_OWNERFNO, QTX_OWNERFID) "
                   "VALUES (99, 101, 1001, 581, 1, 103, 3001)",
                   affected, 1);
    EXPECT_EQ(Traced(*dc, "1001"), (Lines{"kept 1", "101/1001", "103/3001", "103/3002", "105/5001", "103/5951",
                                          "103/5961"}));
}

TEST(ContainmentTrace, StatementsRefuseWhatTheyCannotRun) {
    auto dc = pelmora_test::SampleEnvironment::Get().OpenDataContext();
    using dbtest::ExpectOra;
    // Names go into the package's SQL: plain identifiers only.
    ExpectOra([&] { dc->OpenRecordset(Initialize("1001", "OWNER_LINK_N; DROP TABLE VALVE_N")); }, 6502,
              {"the table is no identifier"});
    ExpectOra([&] { dc->OpenRecordset(Initialize("x1001")); }, 6502, {"the FID is no number"});
    ExpectOra([&] { dc->OpenRecordset("SELECT 1 FROM DUAL WHERE NO_SUCH_PKG.FN(1) > 0"); }, 6550, {"NO_SUCH_PKG.FN"});
    ExpectOra([&] { dc->OpenRecordset("SELECT 1 FROM DUAL WHERE QTXUTILITY.DECODENUMERICLIST('1;') > 0"); }, 932);
    ExpectOra(
        [&] {
            dc->OpenRecordset("SELECT * FROM the (select cast(QTX_CONTAINMENT_TRACE.RestrictSet as NO_SUCH_TYPE) from dual)");
        },
        902, {"NO_SUCH_TYPE"});
    rt::Variant fid = rt::Variant::ArrayOf({rt::Variant("1001")});
    ExpectOra(
        [&] {
            dc->OpenParameterizedRecordset(
                "SELECT 1 FROM DUAL WHERE QTX_CONTAINMENT_TRACE.Initialize(?, 'A', 'B', '1') > 0", 1, 4, 1, fid);
        },
        1036);
    // The table is still there.
    EXPECT_GT(dc->OpenRecordset("SELECT * FROM VALVE_N")->get_RecordCount(), 0);
}

TEST(DataShape, RelatedRowsGoToTheirParentsPerChapter) {
    auto dc = pelmora_test::SampleEnvironment::Get().OpenDataContext();
    auto shaped = product::RunShapeCommand(
        *dc,
        "shape {SELECT QTX_FNO, QTX_FID FROM QTX_COMMON_N WHERE QTX_FID IN (1001, 5001) ORDER BY QTX_FID} as P "
        "Append ({SELECT * FROM OWNER_LINK_N WHERE QTX_CNO = 581} AS OWNED RELATE QTX_FNO TO QTX_OWNERFNO, "
        "QTX_FID TO QTX_OWNERFID), ({select * from SAMPLING_N} relate QTX_FID to QTX_FID) as SAMPLES");
    ASSERT_EQ(shaped.rows.size(), 2u);
    EXPECT_EQ(rt::CStr(shaped.Value(0, "qtx_fid")), "1001");
    EXPECT_EQ(shaped.Chapter(0, "owned")->rows.size(), 1u);
    EXPECT_EQ(shaped.Chapter(1, "OWNED")->rows.size(), 4u);
    EXPECT_EQ(shaped.Chapter(0, "SAMPLES")->rows.size(), 0u);
    EXPECT_EQ(shaped.Chapter(1, "SAMPLES")->rows.size(), 1u);
    EXPECT_EQ(shaped.Chapter(1, "NONE"), nullptr);

    for (const char* text : {"SHAPE {SELECT 1 FROM DUAL", "SHAPE {SELECT QTX_FID FROM QTX_COMMON_N} APPEND ({SELECT "
                                                          "QTX_FID FROM QTX_COMMON_N} AS C RELATE NO_COLUMN TO QTX_FID)",
                             "SHAPE {SELECT 1 FROM DUAL} APPEND ({SELECT 1 FROM DUAL} AS C)", "APPEND"}) {
        try {
            product::RunShapeCommand(*dc, text);
            ADD_FAILURE() << "no error for " << text;
        } catch (const rt::ComError& e) {
            EXPECT_EQ(e.Number(), product::kShapeCommandError) << text;
        }
    }
}
