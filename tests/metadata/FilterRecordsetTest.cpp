// FilterRecordset: rows of one value through cached bookmark arrays.
#include <gtest/gtest.h>

#include "FilterTestTables.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "runtime/Vb.h"

namespace {

using namespace filtertest;
using pelmora::MetadataRecordsetFilterService;
namespace fc = pelmora::filtercache;

class FilterRecordsetTest : public ::testing::Test {
protected:
    void SetUp() override { rt::Apartment::Reset(); }
    void TearDown() override { rt::Apartment::Reset(); }

    ado::RecordsetPtr Clone() { return master->Clone(ado::adLockReadOnly); }
    ado::FieldPtr F(const ado::RecordsetPtr& rs, const std::string& name) { return rs->get_Fields()->Item(name); }

    ado::RecordsetPtr master = AttributeTable();
    MetadataRecordsetFilterService svc;
};

using Names = std::vector<std::string>;

TEST_F(FilterRecordsetTest, ShowsExactlyTheRowsOfTheValueAndKeepsTheArray) {
    auto rs = Clone();
    svc.FilterRecordset(rs, F(rs, "QTX_CNO"), I2(3));
    EXPECT_FALSE(rs->get_BOF());
    EXPECT_EQ(rt::CStr(rs->GetValue(Variant("QTX_FIELD"))), "DIAMETER");  // on the first row
    EXPECT_EQ(rs->get_RecordCount(), 3);
    EXPECT_EQ(Column(rs, "QTX_FIELD"), (Names{"DIAMETER", "INSTALL_DATE", "PRESSURE"}));

    auto cached = fc::Lookup(fc::Key("QTX_ATTRIBUTEINFO_OPTABLE", "QTX_CNO", "3"));
    ASSERT_TRUE(cached.has_value());
    ASSERT_TRUE(cached->IsArray());
    EXPECT_EQ(rt::LBound(*cached), 0);
    EXPECT_EQ(rt::UBound(*cached), 2);  // cut to the count
}

TEST_F(FilterRecordsetTest, OneArrayServesEveryCloneOfTheTableWithoutAWalk) {
    auto first = Clone();
    svc.FilterRecordset(first, F(first, "QTX_CNO"), I2(7));

    auto second = Clone();
    auto moves = CountMoves(second);
    MetadataRecordsetFilterService other;  // instances share the apartment's caches
    other.FilterRecordset(second, F(second, "qtx_cno"), I4(7));
    EXPECT_EQ(moves->moveNext, 0);
    EXPECT_EQ(Column(second, "QTX_FIELD"), (Names{"MATERIAL", "LENGTH"}));
    // Another clone of the table keeps its own filter.
    EXPECT_EQ(first->get_RecordCount(), 2);
    EXPECT_EQ(Clone()->get_RecordCount(), 8);
}

TEST_F(FilterRecordsetTest, ATextThatReadsAsANumberFindsTheSameRowsWhicheverComesFirst) {
    auto rs = Clone();
    svc.FilterRecordset(rs, F(rs, "QTX_CNO"), Variant("3"));  // the text first: nothing cached yet
    EXPECT_EQ(rs->get_RecordCount(), 3);
    auto again = Clone();
    svc.FilterRecordset(again, F(again, "QTX_CNO"), I2(3));
    EXPECT_EQ(again->get_RecordCount(), 3);

    rt::Apartment::Reset();
    auto numberFirst = Clone();
    svc.FilterRecordset(numberFirst, F(numberFirst, "QTX_CNO"), 5.0);
    auto textSecond = Clone();
    svc.FilterRecordset(textSecond, F(textSecond, "QTX_CNO"), Variant("5"));
    EXPECT_EQ(Column(textSecond, "QTX_FIELD"), Names{"O'NEIL"});

    // The other way round: a number asked against a text field meets it as its text.
    auto texts = MakeTable("QTX_CODES_OPTABLE", {Field("QTX_CODE", ado::adVarWChar)},
                           {{Variant("12")}, {Variant("12.0")}, {Variant("x")}, {Variant("12")}});
    for (int order = 0; order < 2; ++order) {
        rt::Apartment::Reset();
        std::vector<Variant> values = order == 0 ? std::vector<Variant>{I2(12), Variant("12")}
                                                 : std::vector<Variant>{Variant("12"), I2(12)};
        for (const Variant& v : values) {
            auto c = texts->Clone();
            svc.FilterRecordset(c, F(c, "QTX_CODE"), v);
            EXPECT_EQ(c->get_RecordCount(), 2) << "order " << order << " value " << rt::CStr(v);
        }
    }
}

TEST_F(FilterRecordsetTest, TextsThatDifferInLetterCaseAreDifferentValues) {
    auto rs = Clone();
    svc.FilterRecordset(rs, F(rs, "QTX_FUNCTIONALTYPE"), Variant("edit"));
    EXPECT_EQ(Column(rs, "QTX_FIELD"), Names{"O'NEIL"});
    auto other = Clone();
    svc.FilterRecordset(other, F(other, "QTX_FUNCTIONALTYPE"), Variant("Edit"));
    EXPECT_EQ(Column(other, "QTX_FIELD"), (Names{"DIAMETER", "ORPHAN", "LENGTH"}));
    auto missing = Clone();
    svc.FilterRecordset(missing, F(missing, "QTX_FUNCTIONALTYPE"), Variant("EDIT"));
    EXPECT_TRUE(missing->get_BOF() && missing->get_EOF());
}

TEST_F(FilterRecordsetTest, NoMatchingRowCachesTheMarkerAndAppliesItWithoutAWalk) {
    auto rs = Clone();
    svc.FilterRecordset(rs, F(rs, "QTX_CNO"), I2(99));
    EXPECT_TRUE(rs->get_BOF());
    EXPECT_TRUE(rs->get_EOF());
    auto cached = fc::Lookup(fc::Key("QTX_ATTRIBUTEINFO_OPTABLE", "QTX_CNO", "99"));
    ASSERT_TRUE(cached.has_value());
    EXPECT_TRUE(fc::IsEmptyResultMarker(*cached));
    EXPECT_EQ(rt::CLng(rs->get_Filter()), ado::adFilterAffectedRecords);

    auto second = Clone();
    auto moves = CountMoves(second);
    svc.FilterRecordset(second, F(second, "QTX_CNO"), I2(99));
    EXPECT_EQ(moves->moveNext, 0);
    EXPECT_TRUE(second->get_BOF() && second->get_EOF());
}

TEST_F(FilterRecordsetTest, NoRowsStaysNoRowsWhenTheFamilyHasAffectedRows) {
    // A batch table whose last Delete left a row among the affected records.
    auto editable = MakeTable("QTX_BATCH_OPTABLE", {Field("QTX_CNO", ado::adSmallInt)}, {{I2(1)}, {I2(2)}},
                              ado::adLockBatchOptimistic);
    editable->MoveFirst();
    editable->Delete();
    auto clone = editable->Clone();
    svc.FilterRecordset(clone, F(clone, "QTX_CNO"), I2(42));
    EXPECT_TRUE(clone->get_BOF() && clone->get_EOF());
    auto again = editable->Clone();
    svc.FilterRecordset(again, F(again, "QTX_CNO"), I2(42));
    EXPECT_TRUE(again->get_BOF() && again->get_EOF());
}

TEST_F(FilterRecordsetTest, SortedRowsComeInTheSortOrderOnEveryCall) {
    auto rs = Clone();
    svc.FilterRecordset(rs, F(rs, "QTX_CNO"), I2(3), "qtx_field desc");
    EXPECT_EQ(rs->get_Sort(), "QTX_FIELD DESC");
    EXPECT_EQ(rt::CStr(rs->GetValue(Variant("QTX_FIELD"))), "PRESSURE");
    EXPECT_EQ(Column(rs, "QTX_FIELD"), (Names{"PRESSURE", "INSTALL_DATE", "DIAMETER"}));
    EXPECT_TRUE(fc::Contains(fc::Key("QTX_ATTRIBUTEINFO_OPTABLE", "QTX_CNO", "3", "QTX_FIELD DESC")));
    EXPECT_FALSE(fc::Contains(fc::Key("QTX_ATTRIBUTEINFO_OPTABLE", "QTX_CNO", "3")));

    // A clone already sorted so keeps its sort untouched and is not walked.
    auto sorted = Clone();
    sorted->put_Sort("QTX_FIELD DESC");
    auto moves = CountMoves(sorted);
    svc.FilterRecordset(sorted, F(sorted, "QTX_CNO"), I2(3), "QTX_FIELD DESC");
    EXPECT_EQ(moves->moveNext, 0);
    EXPECT_EQ(sorted->get_Sort(), "QTX_FIELD DESC");
    EXPECT_EQ(Column(sorted, "QTX_FIELD"), (Names{"PRESSURE", "INSTALL_DATE", "DIAMETER"}));

    // A clone sorted otherwise still gets the rows in the order asked for.
    auto otherwise = Clone();
    otherwise->put_Sort("QTX_ANO");
    svc.FilterRecordset(otherwise, F(otherwise, "QTX_CNO"), I2(3), "QTX_FIELD DESC");
    EXPECT_EQ(Column(otherwise, "QTX_FIELD"), (Names{"PRESSURE", "INSTALL_DATE", "DIAMETER"}));
}

TEST_F(FilterRecordsetTest, WithoutSourceAFilterTextIsSetEveryTimeWithItsQuotesDoubled) {
    auto anonymous = AttributeTable("");
    size_t before = fc::Count();
    svc.FilterRecordset(anonymous, F(anonymous, "QTX_FIELD"), Variant("O'NEIL"));
    EXPECT_EQ(rt::CStr(anonymous->get_Filter()), "QTX_FIELD = 'O''NEIL'");
    EXPECT_EQ(Column(anonymous, "QTX_ANO"), Names{"104"});

    svc.FilterRecordset(anonymous, F(anonymous, "QTX_CNO"), I2(7), "QTX_ANO DESC");
    EXPECT_EQ(rt::CStr(anonymous->get_Filter()), "QTX_CNO = 7");
    EXPECT_EQ(anonymous->get_Sort(), "QTX_ANO DESC");
    EXPECT_EQ(Column(anonymous, "QTX_ANO"), (Names{"107", "102"}));

    // A quote cannot end the text early and widen the filter.
    svc.FilterRecordset(anonymous, F(anonymous, "QTX_FIELD"), Variant("x' OR QTX_FIELD <> '"));
    EXPECT_TRUE(anonymous->get_BOF() && anonymous->get_EOF());
    EXPECT_EQ(fc::Count(), before);
}

TEST_F(FilterRecordsetTest, AnArrayThatNoLongerFitsIsComputedAgainNotWidenedToAllRows) {
    auto rs = Clone();
    svc.FilterRecordset(rs, F(rs, "QTX_CNO"), I2(12));  // the last row: bookmark 8
    EXPECT_EQ(rs->get_RecordCount(), 1);

    // The table is loaded afresh with fewer rows and nobody cleared the cache.
    auto reloaded = MakeTable("QTX_ATTRIBUTEINFO_OPTABLE",
                              {Field("QTX_ANO", ado::adInteger), Field("QTX_CNO", ado::adSmallInt)},
                              {{I4(201), I2(12)}, {I4(202), I2(4)}, {I4(203), I2(12)}});
    auto fresh = reloaded->Clone();
    svc.FilterRecordset(fresh, F(fresh, "QTX_CNO"), I2(12));
    EXPECT_EQ(Column(fresh, "QTX_ANO"), (Names{"201", "203"}));
    auto cached = fc::Lookup(fc::Key("QTX_ATTRIBUTEINFO_OPTABLE", "QTX_CNO", "12"));
    ASSERT_TRUE(cached.has_value());
    EXPECT_EQ(rt::UBound(*cached), 1);  // replaced by the new rows
}

TEST_F(FilterRecordsetTest, AnArrayWhoseRowsAreGoneIsComputedAgain) {
    auto editable = MakeTable("QTX_EDITED_OPTABLE", {Field("QTX_CNO", ado::adSmallInt)},
                              {{I2(1)}, {I2(2)}, {I2(1)}}, ado::adLockOptimistic);
    auto rs = editable->Clone();
    svc.FilterRecordset(rs, F(rs, "QTX_CNO"), I2(2));
    EXPECT_EQ(rs->get_RecordCount(), 1);
    rs->Delete();
    auto fresh = editable->Clone();
    svc.FilterRecordset(fresh, F(fresh, "QTX_CNO"), I2(2));
    EXPECT_TRUE(fresh->get_BOF() && fresh->get_EOF());
    EXPECT_TRUE(fc::IsEmptyResultMarker(*fc::Lookup(fc::Key("QTX_EDITED_OPTABLE", "QTX_CNO", "2"))));
}

TEST_F(FilterRecordsetTest, NullFindsNoRowAndIsNeverCached) {
    auto rs = Clone();
    svc.FilterRecordset(rs, F(rs, "QTX_FUNCTIONALTYPE"), Null());
    EXPECT_TRUE(rs->get_BOF() && rs->get_EOF());
    EXPECT_EQ(fc::Count(), 0u);
    // "" shares its key text with Null and must not inherit Null's answer.
    auto blanks = MakeTable("QTX_BLANKS_OPTABLE", {Field("QTX_NOTE", ado::adVarWChar)},
                            {{Variant("")}, {Null()}, {Variant("")}});
    auto b = blanks->Clone();
    svc.FilterRecordset(b, F(b, "QTX_NOTE"), Null());
    auto e = blanks->Clone();
    svc.FilterRecordset(e, F(e, "QTX_NOTE"), Variant(""));
    EXPECT_EQ(e->get_RecordCount(), 2);
}

TEST_F(FilterRecordsetTest, ErrorsOfTheRecordsetReachTheCallerAndCacheNothing) {
    auto rs = Clone();
    try {
        svc.FilterRecordset(rs, F(rs, "QTX_CNO"), I2(3), "NO_SUCH_FIELD");
        FAIL() << "a sort on a missing field must fail";
    } catch (const rt::ComError& e) {
        EXPECT_EQ(e.Number(), ado::err::ItemNotFound);
    }
    EXPECT_EQ(fc::Count(), 0u);
    EXPECT_THROW(svc.FilterRecordset(nullptr, F(rs, "QTX_CNO"), I2(3)), rt::ComError);
}

TEST_F(FilterRecordsetTest, ClearForgetsTheArrays) {
    auto rs = Clone();
    svc.FilterRecordset(rs, F(rs, "QTX_CNO"), I2(3));
    ASSERT_EQ(fc::Count(), 1u);
    svc.Clear();
    EXPECT_EQ(fc::Count(), 0u);
    auto again = Clone();
    auto moves = CountMoves(again);
    svc.FilterRecordset(again, F(again, "QTX_CNO"), I2(3));
    EXPECT_GT(moves->moveNext, 0);
    EXPECT_EQ(again->get_RecordCount(), 3);
}

TEST_F(FilterRecordsetTest, CreatableByProgIdAndCallableByName) {
    auto obj = rt::CreateObject(pelmora::kMetadataRecordsetFilterServiceProgId);
    EXPECT_EQ(obj->TypeName(), "MetadataRecordsetFilterService");
    auto rs = Clone();
    rt::CallByName(obj, "FilterRecordset", rt::InvokeKind::Method,
                   rt::Args{Variant(rs), Variant(F(rs, "QTX_CNO")), I2(7)});
    EXPECT_EQ(rs->get_RecordCount(), 2);
    rt::CallByName(obj, "filterrecordset", rt::InvokeKind::Method,
                   rt::Args{Variant(rs), Variant(F(rs, "QTX_CNO")), I2(3), Variant("QTX_ANO DESC")});
    EXPECT_EQ(Column(rs, "QTX_ANO"), (Names{"106", "103", "101"}));
    rt::CallByName(obj, "Find", rt::InvokeKind::Method,
                   rt::Args{Variant(rs), Variant(F(rs, "QTX_ANO")), I4(101), I2(0), I4(ado::adBookmarkFirst)});
    EXPECT_EQ(rt::CLng(rs->GetValue(Variant("QTX_ANO"))), 101);
    rt::CallByName(obj, "Clear", rt::InvokeKind::Method);
    EXPECT_EQ(fc::Count(), 0u);
    EXPECT_THROW(rt::CallByName(obj, "FilterRecordset", rt::InvokeKind::Method, rt::Args{I2(1), I2(2), I2(3)}),
                 rt::ComError);
    auto face = rt::QueryInterface<pelmora::IMetadataRecordsetFilterService>(obj);
    EXPECT_NE(face, nullptr);
}

TEST(BookmarkCollectorTest, GrowsInStepsOfFiftyAndStopsAtTheSixteenBitLimit) {
    fc::BookmarkCollector c;
    EXPECT_EQ(c.Capacity(), 51);
    for (int i = 1; i <= 49; ++i) c.Add(Variant(static_cast<double>(i)));
    EXPECT_EQ(c.Capacity(), 51);
    c.Add(Variant(50.0));
    EXPECT_EQ(c.Capacity(), 101);
    for (int i = 51; i <= 32767; ++i) c.Add(Variant(static_cast<double>(i)));
    EXPECT_EQ(c.Count(), 32767);
    try {
        c.Add(Variant(32768.0));
        FAIL() << "the 32,768th bookmark must overflow";
    } catch (const rt::ComError& e) {
        EXPECT_EQ(e.Number(), rt::vberr::Overflow);
    }
    Variant a = c.Finish();
    EXPECT_EQ(rt::UBound(a), 32766);
    EXPECT_EQ(rt::CLng(a.Array()->Get(32766)), 32767);

    fc::BookmarkCollector none;
    EXPECT_TRUE(fc::IsEmptyResultMarker(none.Finish()));
    EXPECT_FALSE(fc::IsEmptyResultMarker(Variant::ArrayOf({Variant(-1.0)})));
    EXPECT_FALSE(fc::IsEmptyResultMarker(Variant::ArrayOf({I2(-1), I2(-1)})));
}

TEST(FilterCacheKeyTest, SourceAndFieldIgnoreCaseValuesDoNot) {
    EXPECT_EQ(fc::Key("qtx_a", "qtx_cno", "5"), fc::Key("QTX_A", "QTX_CNO", "5"));
    EXPECT_NE(fc::Key("QTX_A", "QTX_F", "a"), fc::Key("QTX_A", "QTX_F", "A"));
    EXPECT_EQ(fc::Key("QTX_A", "QTX_F", "a", "x desc"), fc::Key("QTX_A", "QTX_F", "a", "X DESC"));
    // A value cannot pose as another value with a sort, nor a source as a field.
    EXPECT_NE(fc::Key("QTX_A", "QTX_F", "a-B"), fc::Key("QTX_A", "QTX_F", "a", "B"));
    EXPECT_NE(fc::Key("A:B", "C", "1"), fc::Key("A", "B:C", "1"));
    EXPECT_EQ(*fc::ValueText(I2(5)), *fc::ValueText(Variant(5.0)));
    EXPECT_EQ(*fc::ValueText(Variant("5")), *fc::ValueText(I4(5)));
    EXPECT_FALSE(fc::ValueText(Null()).has_value());
}

}  // namespace
