// FilterDistinct, Find, CacheRecordset and FindNextMatchingRecord at their edges.
#include <gtest/gtest.h>

#include "FilterTestTables.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/modAttributeInfo.h"
#include "runtime/Vb.h"

namespace {

using namespace filtertest;
using pelmora::MetadataRecordsetFilterService;
namespace fc = pelmora::filtercache;
using Names = std::vector<std::string>;

class FilterServiceMembersTest : public FilterTableTest {
protected:
    static ado::FieldPtr F(const ado::RecordsetPtr& rs, const std::string& name) {
        return rs->get_Fields()->Item(name);
    }
    static std::string Ano(const ado::RecordsetPtr& rs) { return rt::CStr(rs->GetValue(Variant("QTX_ANO"))); }
};

TEST_F(FilterServiceMembersTest, DistinctIsKeptOnlyForAnUnfilteredRecordsetAndOutlivesClear) {
    auto filtered = table->Clone();
    filtered->put_Filter(Variant("QTX_CNO = 3"));
    svc.FilterDistinct(filtered, F(filtered, "QTX_CNO"));
    EXPECT_EQ(Column(filtered, "QTX_ANO"), (Names{"105", "101", "104", "102", "108"}));  // all rows, first of each
    EXPECT_FALSE(fc::DistinctContains("QTX_ATTRIBUTEINFO_OPTABLE", "QTX_CNO"));

    auto whole = table->Clone();
    svc.FilterDistinct(whole, F(whole, "QTX_CNO"));
    svc.Clear();
    EXPECT_TRUE(fc::DistinctContains("QTX_ATTRIBUTEINFO_OPTABLE", "QTX_CNO"));
    pelmora::ClearFilterServiceCaches();
    EXPECT_FALSE(fc::DistinctContains("QTX_ATTRIBUTEINFO_OPTABLE", "QTX_CNO"));

    auto empty = MakeTable("QTX_EMPTY_OPTABLE", {Field("QTX_CNO", ado::adSmallInt)}, {});
    svc.FilterDistinct(empty, F(empty, "QTX_CNO"));
    EXPECT_TRUE(empty->get_BOF() && empty->get_EOF());
}

TEST_F(FilterServiceMembersTest, FindEndsOnAMatchOrAtEOF) {
    auto rs = table->Clone();
    auto cno = F(rs, "QTX_CNO");
    svc.Find(rs, cno, I2(7), 0, ado::adBookmarkFirst);
    EXPECT_EQ(Ano(rs), "102");
    svc.Find(rs, cno, Variant(7.0));  // the current row matches: it stays
    EXPECT_EQ(Ano(rs), "102");
    svc.Find(rs, cno, I2(7), 1);
    EXPECT_EQ(Ano(rs), "107");
    svc.Find(rs, cno, I2(12), 1, ado::adBookmarkLast);  // the last row is skipped
    EXPECT_TRUE(rs->get_EOF());
    svc.Find(rs, cno, Null(), 0, ado::adBookmarkFirst);
    EXPECT_TRUE(rs->get_EOF());
    svc.Find(rs, cno, Variant("3"), 0, ado::adBookmarkFirst);  // a text never equals a number here
    EXPECT_TRUE(rs->get_EOF());

    auto type = F(rs, "QTX_FUNCTIONALTYPE");
    rs->MoveFirst();
    rs->MovePrevious();
    Names found;
    for (pelmora::FindNextMatchingRecord(rs, type, Variant("Edit")); !rs->get_EOF();
         pelmora::FindNextMatchingRecord(rs, type, Variant("Edit")))
        found.push_back(Ano(rs));
    EXPECT_EQ(found, (Names{"101", "105", "107"}));
}

TEST_F(FilterServiceMembersTest, CacheRecordsetRunsOncePerFieldUntilClear) {
    auto rs = table->Clone();
    rs->put_Sort("QTX_ANO DESC");
    svc.CacheRecordset(rs, F(rs, "QTX_CNO"));
    EXPECT_TRUE(rs->get_EOF());
    EXPECT_EQ(rs->get_Sort(), "QTX_ANO DESC");
    EXPECT_EQ(fc::Count(), 4u);  // 3, 5, 7 and 12: the Null row has no entry

    auto second = table->Clone();
    auto moves = CountMoves(second);
    svc.CacheRecordset(second, F(second, "qtx_cno"));
    EXPECT_EQ(moves->moveNext, 0);
    svc.Clear();
    svc.CacheRecordset(second, F(second, "QTX_CNO"));
    EXPECT_GT(moves->moveNext, 0);
    EXPECT_EQ(fc::Count(), 4u);

    auto anonymous = AttributeTable("");
    svc.CacheRecordset(anonymous, F(anonymous, "QTX_CNO"));
    EXPECT_FALSE(fc::FieldCached("", "QTX_CNO"));
}

TEST_F(FilterServiceMembersTest, CacheRecordsetKeepsEntriesAlreadyMadeAndSplitsTextsByCase) {
    auto rs = table->Clone();
    svc.FilterRecordset(rs, F(rs, "QTX_FUNCTIONALTYPE"), Variant("Edit"));
    auto before = fc::Lookup(fc::Key("QTX_ATTRIBUTEINFO_OPTABLE", "QTX_FUNCTIONALTYPE", "Edit"));
    auto all = table->Clone();
    svc.CacheRecordset(all, F(all, "QTX_FUNCTIONALTYPE"));
    EXPECT_EQ(fc::Lookup(fc::Key("QTX_ATTRIBUTEINFO_OPTABLE", "QTX_FUNCTIONALTYPE", "Edit"))->Array(), before->Array());
    auto lower = table->Clone();
    auto moves = CountMoves(lower);
    svc.FilterRecordset(lower, F(lower, "QTX_FUNCTIONALTYPE"), Variant("edit"));
    EXPECT_EQ(moves->moveNext, 0);
    EXPECT_EQ(Column(lower, "QTX_ANO"), Names{"104"});
}

}  // namespace
