// FilterDistinct, Find, CacheRecordset and FindNextMatchingRecord.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "FilterTestTables.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/modAttributeInfo.h"
#include "runtime/Vb.h"

namespace {

using namespace filtertest;
using pelmora::MetadataRecordsetFilterService;
namespace fc = pelmora::filtercache;
using Names = std::vector<std::string>;

class FilterServiceMembersTest : public ::testing::Test {
protected:
    void SetUp() override { rt::Apartment::Reset(); }
    void TearDown() override { rt::Apartment::Reset(); }

    ado::RecordsetPtr Clone() { return master->Clone(ado::adLockReadOnly); }
    static ado::FieldPtr F(const ado::RecordsetPtr& rs, const std::string& name) {
        return rs->get_Fields()->Item(name);
    }

    ado::RecordsetPtr master = AttributeTable();
    MetadataRecordsetFilterService svc;
};

// ---- FilterDistinct ----

TEST_F(FilterServiceMembersTest, DistinctShowsTheFirstRowOfEachValueWithOneRowForAllNulls) {
    auto rs = Clone();
    svc.FilterDistinct(rs, F(rs, "QTX_FUNCTIONALTYPE"));
    EXPECT_EQ(rs->get_Sort(), "QTX_FUNCTIONALTYPE");
    // "Edit" and "edit" are two values.
    auto values = Column(rs, "QTX_FUNCTIONALTYPE");
    std::multiset<std::string> seen(values.begin(), values.end());
    EXPECT_EQ(seen, (std::multiset<std::string>{"<null>", "AddNew", "Edit", "edit", "SetValue"}));
    EXPECT_TRUE(fc::DistinctContains("QTX_ATTRIBUTEINFO_OPTABLE", "QTX_FUNCTIONALTYPE"));

    auto numbers = Clone();
    svc.FilterDistinct(numbers, F(numbers, "QTX_CNO"));
    EXPECT_EQ(Column(numbers, "QTX_CNO"), (Names{"<null>", "3", "5", "7", "12"}));
    EXPECT_EQ(Column(numbers, "QTX_ANO"), (Names{"105", "101", "104", "102", "108"}));  // first of each
}

TEST_F(FilterServiceMembersTest, DistinctArraysOutliveClearButNotAReload) {
    auto rs = Clone();
    svc.FilterDistinct(rs, F(rs, "QTX_CNO"));
    svc.Clear();
    auto again = Clone();
    auto moves = CountMoves(again);
    svc.FilterDistinct(again, F(again, "QTX_CNO"));
    EXPECT_EQ(moves->moveNext, 0);
    EXPECT_EQ(again->get_RecordCount(), 5);
    EXPECT_EQ(again->get_Sort(), "");  // served from the cache: sort untouched

    pelmora::ClearFilterServiceCaches();
    EXPECT_FALSE(fc::DistinctContains("QTX_ATTRIBUTEINFO_OPTABLE", "QTX_CNO"));
}

TEST_F(FilterServiceMembersTest, DistinctOverAFilteredRecordsetUsesAllRowsAndIsNotKept) {
    auto rs = Clone();
    rs->put_Filter(Variant("QTX_CNO = 3"));
    svc.FilterDistinct(rs, F(rs, "QTX_CNO"));
    EXPECT_EQ(rs->get_RecordCount(), 5);
    EXPECT_FALSE(fc::DistinctContains("QTX_ATTRIBUTEINFO_OPTABLE", "QTX_CNO"));

    auto empty = MakeTable("QTX_EMPTY_OPTABLE", {Field("QTX_CNO", ado::adSmallInt)}, {});
    svc.FilterDistinct(empty, F(empty, "QTX_CNO"));
    EXPECT_TRUE(empty->get_BOF() && empty->get_EOF());
    EXPECT_FALSE(fc::DistinctContains("QTX_EMPTY_OPTABLE", "QTX_CNO"));
}

// ---- Find and FindNextMatchingRecord ----

TEST_F(FilterServiceMembersTest, FindStopsOnTheNextMatchOrAtEOF) {
    auto rs = Clone();
    auto cno = F(rs, "QTX_CNO");
    svc.Find(rs, cno, I2(7), 0, ado::adBookmarkFirst);
    EXPECT_EQ(rt::CLng(rs->GetValue(Variant("QTX_ANO"))), 102);
    svc.Find(rs, cno, I2(7), 1);  // skip the current row
    EXPECT_EQ(rt::CLng(rs->GetValue(Variant("QTX_ANO"))), 107);
    svc.Find(rs, cno, Variant(7.0), 0, ado::adBookmarkCurrent);  // stays: the current row matches
    EXPECT_EQ(rt::CLng(rs->GetValue(Variant("QTX_ANO"))), 107);
    svc.Find(rs, cno, I2(7), 1);
    EXPECT_TRUE(rs->get_EOF());

    svc.Find(rs, cno, I2(12), 1, ado::adBookmarkLast);  // the last row is skipped
    EXPECT_TRUE(rs->get_EOF());
    svc.Find(rs, cno, Null(), 0, ado::adBookmarkFirst);  // Null equals nothing, not even Null
    EXPECT_TRUE(rs->get_EOF());
    svc.Find(rs, cno, Variant("3"), 0, ado::adBookmarkFirst);  // a text never equals a number
    EXPECT_TRUE(rs->get_EOF());

    auto empty = MakeTable("QTX_EMPTY_OPTABLE", {Field("QTX_CNO", ado::adSmallInt)}, {});
    EXPECT_NO_THROW(svc.Find(empty, F(empty, "QTX_CNO"), I2(1), 0, ado::adBookmarkFirst));
}

TEST_F(FilterServiceMembersTest, FindNextMatchingRecordVisitsEveryMatchInRowOrder) {
    auto rs = Clone();
    auto type = F(rs, "QTX_FUNCTIONALTYPE");
    rs->MoveFirst();
    rs->MovePrevious();  // before the first row
    Names found;
    while (true) {
        pelmora::FindNextMatchingRecord(rs, type, Variant("Edit"));
        if (rs->get_EOF()) break;
        found.push_back(rt::CStr(rs->GetValue(Variant("QTX_FIELD"))));
    }
    EXPECT_EQ(found, (Names{"DIAMETER", "ORPHAN", "LENGTH"}));
    EXPECT_THROW(pelmora::FindNextMatchingRecord(rs, type, Variant("Edit")), rt::ComError);  // past EOF
}

// ---- CacheRecordset ----

TEST_F(FilterServiceMembersTest, CacheRecordsetMakesOneArrayPerValueThatFilterRecordsetUses) {
    auto rs = Clone();
    rs->put_Sort("QTX_ANO DESC");
    svc.CacheRecordset(rs, F(rs, "QTX_CNO"));
    EXPECT_TRUE(rs->get_EOF());
    EXPECT_EQ(rs->get_Sort(), "QTX_ANO DESC");  // restored
    EXPECT_EQ(fc::Count(), 4u);                  // 3, 5, 7, 12; the Null row has no entry
    EXPECT_TRUE(fc::FieldCached("QTX_ATTRIBUTEINFO_OPTABLE", "QTX_CNO"));

    auto user = Clone();
    auto moves = CountMoves(user);
    svc.FilterRecordset(user, F(user, "QTX_CNO"), I4(3));
    EXPECT_EQ(moves->moveNext, 0);
    std::vector<std::string> fields = Column(user, "QTX_FIELD");
    std::sort(fields.begin(), fields.end());
    EXPECT_EQ(fields, (Names{"DIAMETER", "INSTALL_DATE", "PRESSURE"}));
}

TEST_F(FilterServiceMembersTest, CacheRecordsetRunsOncePerFieldUntilClear) {
    auto rs = Clone();
    svc.CacheRecordset(rs, F(rs, "QTX_CNO"));
    auto second = Clone();
    auto moves = CountMoves(second);
    svc.CacheRecordset(second, F(second, "qtx_cno"));
    EXPECT_EQ(moves->moveNext, 0);

    svc.Clear();
    EXPECT_EQ(fc::Count(), 0u);
    EXPECT_FALSE(fc::FieldCached("QTX_ATTRIBUTEINFO_OPTABLE", "QTX_CNO"));
    svc.CacheRecordset(second, F(second, "QTX_CNO"));
    EXPECT_GT(moves->moveNext, 0);
    EXPECT_EQ(fc::Count(), 4u);

    auto anonymous = AttributeTable("");
    svc.CacheRecordset(anonymous, F(anonymous, "QTX_CNO"));
    EXPECT_FALSE(fc::FieldCached("", "QTX_CNO"));
}

TEST_F(FilterServiceMembersTest, CacheRecordsetKeepsEntriesAlreadyMadeAndSplitsTextsByCase) {
    auto rs = Clone();
    svc.FilterRecordset(rs, F(rs, "QTX_FUNCTIONALTYPE"), Variant("Edit"));
    auto before = fc::Lookup(fc::Key("QTX_ATTRIBUTEINFO_OPTABLE", "QTX_FUNCTIONALTYPE", "Edit"));
    ASSERT_TRUE(before.has_value());

    auto all = Clone();
    svc.CacheRecordset(all, F(all, "QTX_FUNCTIONALTYPE"));
    auto after = fc::Lookup(fc::Key("QTX_ATTRIBUTEINFO_OPTABLE", "QTX_FUNCTIONALTYPE", "Edit"));
    EXPECT_EQ(after->Array(), before->Array());  // the same array, not a new one

    auto lower = fc::Lookup(fc::Key("QTX_ATTRIBUTEINFO_OPTABLE", "QTX_FUNCTIONALTYPE", "edit"));
    ASSERT_TRUE(lower.has_value());
    EXPECT_EQ(rt::UBound(*lower), 0);
    auto check = Clone();
    svc.FilterRecordset(check, F(check, "QTX_FUNCTIONALTYPE"), Variant("SetValue"));
    EXPECT_EQ(check->get_RecordCount(), 2);
}

TEST_F(FilterServiceMembersTest, CacheRecordsetGivesTextsOfOtherLetterCaseArraysOfTheirOwn) {
    auto table = MakeTable("QTX_CASES_OPTABLE", {Field("QTX_ID", ado::adInteger), Field("QTX_CODE", ado::adVarWChar)},
                           {{I4(1), Variant("a")}, {I4(2), Variant("A")}, {I4(3), Variant("a")}, {I4(4), Null()},
                            {I4(5), Null()}});
    auto rs = table->Clone();
    svc.CacheRecordset(rs, F(rs, "QTX_CODE"));
    EXPECT_TRUE(rs->get_EOF());
    auto a = table->Clone();
    svc.FilterRecordset(a, F(a, "QTX_CODE"), Variant("a"));
    auto ids = Column(a, "QTX_ID");
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (Names{"1", "3"}));
    auto upper = table->Clone();
    svc.FilterRecordset(upper, F(upper, "QTX_CODE"), Variant("A"));
    EXPECT_EQ(Column(upper, "QTX_ID"), Names{"2"});
}

}  // namespace
