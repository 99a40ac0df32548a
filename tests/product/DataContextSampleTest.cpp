// The texts the system sends, run through the data context on a copy of the
// sample network.
#include <gtest/gtest.h>

#include <string>

#include "ado/Command.h"
#include "ado/Recordset.h"
#include "product/SqliteDataContext.h"
#include "runtime/Vb.h"
#include "support/SampleEnvironment.h"

using namespace product;

namespace {

rt::Variant Col(ado::Recordset& rs, const char* name) { return rs.GetValue(rt::Variant(name)); }

std::string BytesText(const rt::Variant& v) {
    std::string s;
    for (const auto& b : v.Array()->Data()) s.push_back(static_cast<char>(b.Byte()));
    return s;
}

}  // namespace

TEST(DataContextOnSample, MetadataServiceQueriesReadVersionsAndProjects) {
    auto dc = pelmora_test::SampleEnvironment::Get().OpenDataContext();
    rt::Variant affected;
    auto post = dc->ExecuteSQL(
        "SELECT QTX_POSTDATE from qtx_metadataversion_optable where qtx_versionno = (select max(qtx_versionno) from "
        "qtx_metadataversion_optable)",
        affected, -1);
    ASSERT_FALSE(post->get_BOF() || post->get_EOF());
    EXPECT_EQ(post->get_Fields()->Item(0)->get_Type(), ado::adDBTimeStamp);
    EXPECT_EQ(rt::VarTypeOf(post->get_Fields()->Item(0)->get_Value()), rt::vbDate);

    auto pending = dc->OpenRecordset("select qtx_versionno from qtx_metadataversion where qtx_comments is not null");
    auto all = dc->OpenRecordset("select qtx_versionno, qtx_comments from qtx_metadataversion");
    int32_t withComments = 0;
    for (; !all->get_EOF(); all->MoveNext()) withComments += Col(*all, "QTX_COMMENTS").IsNull() ? 0 : 1;
    EXPECT_EQ(pending->get_RecordCount(), withComments);

    rt::Variant prj = rt::Variant::ArrayOf({rt::Variant(int32_t{12})});
    auto project = dc->OpenParameterizedRecordset("SELECT QTX_PROJECT FROM QTX_VBAPROJECT WHERE QTX_PRJNO = ?", 1, 4,
                                                  1, prj);
    ASSERT_EQ(project->get_RecordCount(), 1);
    EXPECT_EQ(project->get_Fields()->Item(0)->get_Type(), ado::adLongVarBinary);
    EXPECT_EQ(BytesText(Col(*project, "QTX_PROJECT")), "NetworkAudit");
}

TEST(DataContextOnSample, ComponentAndGeometryLoadsUseTheSystemsTexts) {
    auto dc = pelmora_test::SampleEnvironment::Get().OpenDataContext();
    rt::Variant one = rt::Variant::ArrayOf({rt::Variant(int32_t{1001}), rt::Variant(int16_t{11})});
    auto rs = dc->OpenParameterizedRecordset("SELECT * FROM WATER_MAIN_N WHERE QTX_FID = ? and QTX_CNO = ?", 2, 4, 1,
                                             one);
    ASSERT_EQ(rs->get_RecordCount(), 1);
    EXPECT_EQ(rt::CLng(Col(*rs, "QTX_FID")), 1001);

    rt::Variant three = rt::Variant::ArrayOf({rt::Variant(int32_t{1001}), rt::Variant(int32_t{1002}),
                                              rt::Variant(int32_t{1003}), rt::Variant(int16_t{11})});
    rs = dc->OpenParameterizedRecordset("SELECT * FROM WATER_MAIN_N WHERE QTX_FID IN (?, ?, ?) AND QTX_CNO = ?", 2, 4,
                                        1, three);
    EXPECT_EQ(rs->get_RecordCount(), 3);

    rt::Variant none = rt::Variant::ArrayOf({rt::Variant(int16_t{-999})});
    auto geom = dc->OpenParameterizedRecordset(
        "SELECT * FROM WATER_MAIN_LN_SDOGEOM WHERE QTX_FID = ? ORDER BY SDO_GID, SDO_ESEQ, SDO_SEQ", 1, 4, 8, none);
    EXPECT_TRUE(geom->get_BOF() && geom->get_EOF());
    rt::Variant fids = rt::Variant::ArrayOf({rt::Variant(int32_t{1001}), rt::Variant(int32_t{1002})});
    geom = dc->OpenParameterizedRecordset(
        "SELECT * FROM WATER_MAIN_LN_SDOGEOM WHERE QTX_FID IN (?, ?) ORDER BY SDO_GID, SDO_ESEQ, SDO_SEQ", 1, 4, 8,
        fids);
    ASSERT_GT(geom->get_RecordCount(), 0);
    double lastGid = -1, lastSeq = -1;
    for (; !geom->get_EOF(); geom->MoveNext()) {
        double gid = rt::CDbl(Col(*geom, "SDO_GID")), seq = rt::CDbl(Col(*geom, "SDO_SEQ"));
        EXPECT_TRUE(gid > lastGid || (gid == lastGid && seq >= lastSeq));
        lastGid = gid;
        lastSeq = seq;
    }
}

// What creating a feature and saving its rows asks of the database: key
// values from the sequences, a row template, the new row written back.
TEST(DataContextOnSample, NewKeysFromTheSequencesAndTheNewRowWrittenBack) {
    auto dc = pelmora_test::SampleEnvironment::Get().OpenDataContext();
    auto before = dc->OpenRecordset("select QTX_FID_SEQ.NextVal from dual");
    int32_t firstFid = rt::CLng(before->get_Fields()->Item(0)->get_Value());

    std::string list = "QTX_FID_SEQ.NextVal, WATER_MAIN_N_SEQ.NextVal, QTX_COMMON_N_SEQ.NextVal";
    auto cmd = ado::Command::Create();
    cmd->put_CommandType(ado::adCmdText);
    auto prm = cmd->CreateParameter("Prm", ado::adVarChar, ado::adParamInput, rt::Len(list), rt::Variant(list));
    cmd->get_Parameters()->Append(prm);
    prm->put_Value(rt::Variant(list));
    auto outPrm = cmd->CreateParameter("OutPrm", ado::adVarChar, ado::adParamOutput, 1000);
    cmd->get_Parameters()->Append(outPrm);
    cmd->put_CommandText("{call QTX_GETSEQVAL.GETSEQVAL(?,?)}");
    rt::Variant affected;
    dc->ExecuteCommand(cmd, affected);
    std::vector<std::string> values = rt::Split(rt::CStr(outPrm->get_Value()), ",");
    ASSERT_EQ(values.size(), 3u);
    int32_t fid = rt::CLng(rt::Variant(values[0]));
    int32_t qtxId = rt::CLng(rt::Variant(values[1]));
    EXPECT_EQ(fid, firstFid + 1);

    rt::Variant key = rt::Variant::ArrayOf({rt::Variant(fid), rt::Variant(int16_t{11})});
    auto rows = dc->OpenParameterizedRecordset("SELECT * FROM WATER_MAIN_N WHERE QTX_FID = ? and QTX_CNO = ?", 2, 4, 1,
                                               key);
    ASSERT_TRUE(rows->get_BOF() && rows->get_EOF());
    rows->AddNew();
    rows->SetValue(rt::Variant("QTX_ID"), rt::Variant(qtxId));
    rows->SetValue(rt::Variant("QTX_FNO"), rt::Variant(int16_t{101}));
    rows->SetValue(rt::Variant("QTX_FID"), rt::Variant(fid));
    rows->SetValue(rt::Variant("QTX_CNO"), rt::Variant(int16_t{11}));
    rows->SetValue(rt::Variant("QTX_CID"), rt::Variant(int16_t{1}));
    rows->SetValue(rt::Variant("LENGTH_M"), rt::Variant(12.75));
    rows->Update();
    rows->put_Filter(rt::Variant(int32_t{ado::adFilterPendingRecords}));
    dc->UpdateRecordset(rows, 3);
    rows->put_Filter(rt::Variant(int32_t{0}));

    auto check = dc->OpenParameterizedRecordset("SELECT * FROM WATER_MAIN_N WHERE QTX_FID = ? and QTX_CNO = ?", 2, 4,
                                                1, key);
    ASSERT_EQ(check->get_RecordCount(), 1);
    EXPECT_EQ(rt::CLng(Col(*check, "QTX_ID")), qtxId);
    EXPECT_EQ(rt::CStr(Col(*check, "LENGTH_M")), "12.75");
    // Columns the new row left empty took the table's defaults.
    EXPECT_EQ(rt::CStr(Col(*check, "MATERIAL")), "PVC");
    EXPECT_EQ(rt::CLng(Col(*check, "PRESSURE_CLASS")), 10);
}
