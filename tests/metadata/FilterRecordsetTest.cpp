// FilterRecordset on small tables made for the cases the sample lacks.
#include <gtest/gtest.h>

#include "FilterTestTables.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "runtime/Vb.h"
#include "support/Raises.h"

#include <cmath>

namespace {

using namespace filtertest;
using pelmora::MetadataRecordsetFilterService;
namespace fc = pelmora::filtercache;
using Names = std::vector<std::string>;

class FilterRecordsetTest : public FilterTableTest {
protected:
    // Filters a fresh clone of the table and gives it back.
    ado::RecordsetPtr Filtered(const ado::RecordsetPtr& table, const std::string& field, const Variant& value,
                               const std::string& sort = "") {
        auto rs = table->Clone();
        svc.FilterRecordset(rs, rs->get_Fields()->Item(field), value, sort);
        return rs;
    }
    static bool Empty(const ado::RecordsetPtr& rs) { return rs->get_BOF() && rs->get_EOF(); }
};

TEST_F(FilterRecordsetTest, TheOrderOfCallsDoesNotChangeTheRowsOfAValue) {
    // A text that reads as a number against a numeric field, first or second.
    EXPECT_EQ(Filtered(table, "QTX_CNO", Variant("3"))->get_RecordCount(), 3);
    EXPECT_EQ(Filtered(table, "QTX_CNO", I2(3))->get_RecordCount(), 3);
    EXPECT_EQ(Filtered(table, "QTX_CNO", Variant(5.0))->get_RecordCount(), 1);
    EXPECT_EQ(Column(Filtered(table, "QTX_CNO", Variant("5")), "QTX_FIELD"), Names{"O'NEIL"});

    // A number against a text field meets it as its text, first or second.
    auto codes = MakeTable("QTX_CODES_OPTABLE", {Field("QTX_CODE", ado::adVarWChar)},
                           {{Variant("12")}, {Variant("12.0")}, {Variant("x")}, {Variant("12")}});
    for (bool numberFirst : {true, false}) {
        rt::Apartment::Reset();
        for (const Variant& v : numberFirst ? std::vector<Variant>{I2(12), Variant("12")}
                                            : std::vector<Variant>{Variant("12"), I2(12)})
            EXPECT_EQ(Filtered(codes, "QTX_CODE", v)->get_RecordCount(), 2) << numberFirst << rt::CStr(v);
    }

    // Texts of other letter case are other values.
    EXPECT_EQ(Column(Filtered(table, "QTX_FUNCTIONALTYPE", Variant("edit")), "QTX_FIELD"), Names{"O'NEIL"});
    EXPECT_EQ(Filtered(table, "QTX_FUNCTIONALTYPE", Variant("Edit"))->get_RecordCount(), 3);
    EXPECT_TRUE(Empty(Filtered(table, "QTX_FUNCTIONALTYPE", Variant("EDIT"))));

    // Null finds nothing and is not kept, so "" (the same key text) is not answered by it.
    auto notes = MakeTable("QTX_NOTES_OPTABLE", {Field("QTX_NOTE", ado::adVarWChar)}, {{Variant("")}, {Null()}});
    EXPECT_TRUE(Empty(Filtered(notes, "QTX_NOTE", Null())));
    EXPECT_EQ(Filtered(notes, "QTX_NOTE", Variant(""))->get_RecordCount(), 1);
}

TEST_F(FilterRecordsetTest, NoRowsIsKeptAsTheMarkerAndStaysNoRows) {
    auto rs = Filtered(table, "QTX_CNO", I2(99));
    EXPECT_TRUE(Empty(rs));
    EXPECT_EQ(rt::CLng(rs->get_Filter()), ado::adFilterAffectedRecords);
    EXPECT_TRUE(fc::IsEmptyResultMarker(*fc::Lookup(fc::Key("QTX_ATTRIBUTEINFO_OPTABLE", "QTX_CNO", "99"))));

    // In a family whose last Delete left affected rows, no rows is still no rows.
    auto batch = MakeTable("QTX_BATCH_OPTABLE", {Field("QTX_CNO", ado::adSmallInt)}, {{I2(1)}, {I2(2)}},
                           ado::adLockBatchOptimistic);
    batch->Delete();
    EXPECT_TRUE(Empty(Filtered(batch, "QTX_CNO", I2(42))));  // computed
    EXPECT_TRUE(Empty(Filtered(batch, "QTX_CNO", I2(42))));  // from the cache
}

TEST_F(FilterRecordsetTest, WithoutSourceAFilterTextIsSetWithItsQuotesDoubled) {
    auto anonymous = AttributeTable("");
    svc.FilterRecordset(anonymous, anonymous->get_Fields()->Item("QTX_FIELD"), Variant("O'NEIL"));
    EXPECT_EQ(rt::CStr(anonymous->get_Filter()), "[QTX_FIELD] = 'O''NEIL'");
    EXPECT_EQ(Column(anonymous, "QTX_ANO"), Names{"104"});
    svc.FilterRecordset(anonymous, anonymous->get_Fields()->Item("QTX_CNO"), I2(7), "QTX_ANO DESC");
    EXPECT_EQ(rt::CStr(anonymous->get_Filter()), "[QTX_CNO] = 7");
    EXPECT_EQ(Column(anonymous, "QTX_ANO"), (Names{"107", "102"}));
    // A quote cannot end the text early and widen the filter.
    svc.FilterRecordset(anonymous, anonymous->get_Fields()->Item("QTX_FIELD"), Variant("x' OR QTX_FIELD <> '"));
    EXPECT_TRUE(Empty(anonymous));
    EXPECT_EQ(fc::Count(), 0u);
}

TEST_F(FilterRecordsetTest, HostileFieldNamesAndValuesSelectNothingTheyShouldNot) {
    // A field's name that reads as criteria stays a name; a name with "]"
    // cannot be bracketed and is refused; a date that is no date overflows.
    const std::string hostile = "OTHER = 'secret' OR OTHER";
    for (const std::string& source : {std::string(), std::string("QTX_HOSTILE_OPTABLE")}) {
        auto rs = MakeTable(source, {Field(hostile, ado::adVarWChar), Field("OTHER", ado::adVarWChar),
                                     Field("A]B", ado::adVarWChar), Field("WHEN", ado::adDate)},
                            {{Variant("x"), Variant("secret"), Variant("1"), Variant::Date(1.0)},
                             {Variant("y"), Variant("public"), Variant("2"), Variant::Date(2.0)}});
        struct Case {
            std::string field;
            Variant value;
            int32_t error;  // 0: selects the one row whose OTHER is "public"
        };
        const double nan = std::nan("");
        for (const Case& c : {Case{hostile, Variant("y"), 0}, Case{"A]B", Variant("2"), source.empty() ? ado::err::InvalidArgument : 0},
                              Case{"WHEN", Variant::Date(nan), 6}, Case{"WHEN", Variant::Date(INFINITY), 6},
                              Case{"WHEN", Variant::Date(1e300), 6}}) {
            auto clone = rs->Clone();
            int32_t error = pelmora_test::ErrorOf(
                [&] { svc.FilterRecordset(clone, clone->get_Fields()->Item(c.field), c.value); });
            EXPECT_EQ(error, c.error) << source << " " << c.field;
            if (c.error == 0) {
                EXPECT_EQ(Column(clone, "OTHER"), Names{"public"}) << source << " " << c.field;
            }
        }
    }
}

TEST_F(FilterRecordsetTest, AnArrayThatNoLongerAppliesIsComputedAgainNotWidenedToAllRows) {
    EXPECT_EQ(Filtered(table, "QTX_CNO", I2(12))->get_RecordCount(), 1);  // bookmark 8
    // The table loaded afresh with fewer rows, and nobody cleared the cache.
    auto reloaded = MakeTable("QTX_ATTRIBUTEINFO_OPTABLE",
                              {Field("QTX_ANO", ado::adInteger), Field("QTX_CNO", ado::adSmallInt)},
                              {{I4(201), I2(12)}, {I4(202), I2(4)}, {I4(203), I2(12)}});
    EXPECT_EQ(Column(Filtered(reloaded, "QTX_CNO", I2(12)), "QTX_ANO"), (Names{"201", "203"}));

    // The rows of an array are all deleted.
    auto edited = MakeTable("QTX_EDITED_OPTABLE", {Field("QTX_CNO", ado::adSmallInt)}, {{I2(1)}, {I2(2)}});
    Filtered(edited, "QTX_CNO", I2(2))->Delete();
    EXPECT_TRUE(Empty(Filtered(edited, "QTX_CNO", I2(2))));
}

TEST_F(FilterRecordsetTest, RecordsetErrorsReachTheCallerAndCacheNothing) {
    try {
        Filtered(table, "QTX_CNO", I2(3), "NO_SUCH_FIELD");
        FAIL() << "a sort on a missing field must fail";
    } catch (const rt::ComError& e) {
        EXPECT_EQ(e.Number(), ado::err::ItemNotFound);
    }
    EXPECT_EQ(fc::Count(), 0u);
}

TEST_F(FilterRecordsetTest, CreatableByProgIdAndCallableByName) {
    auto obj = rt::CreateObject(pelmora::kMetadataRecordsetFilterServiceProgId);
    auto rs = table->Clone();
    auto field = Variant(rs->get_Fields()->Item("QTX_CNO"));
    rt::CallByName(obj, "filterrecordset", rt::InvokeKind::Method, rt::Args{Variant(rs), field, I2(3), Variant("QTX_ANO DESC")});
    EXPECT_EQ(Column(rs, "QTX_ANO"), (Names{"106", "103", "101"}));
    rt::CallByName(obj, "Find", rt::InvokeKind::Method, rt::Args{Variant(rs), field, I2(3), I2(1), I4(ado::adBookmarkFirst)});
    EXPECT_EQ(rt::CLng(rs->GetValue(Variant("QTX_ANO"))), 103);
    rt::CallByName(obj, "Clear", rt::InvokeKind::Method);
    EXPECT_EQ(fc::Count(), 0u);
    EXPECT_THROW(rt::CallByName(obj, "FilterRecordset", rt::InvokeKind::Method, rt::Args{I2(1), I2(2), I2(3)}),
                 rt::ComError);
}

TEST(BookmarkCollectorTest, GrowsInStepsOfFiftyAndStopsAtTheSixteenBitLimit) {
    fc::BookmarkCollector c;
    EXPECT_EQ(c.Capacity(), 51);
    for (int i = 1; i <= 49; ++i) c.Add(Variant(static_cast<double>(i)));
    EXPECT_EQ(c.Capacity(), 51);
    c.Add(Variant(50.0));
    EXPECT_EQ(c.Capacity(), 101);
    for (int i = 51; i <= 32767; ++i) c.Add(Variant(static_cast<double>(i)));
    EXPECT_THROW(c.Add(Variant(32768.0)), rt::ComError);
    Variant a = c.Finish();
    EXPECT_EQ(rt::UBound(a), 32766);
    EXPECT_EQ(rt::CLng(a.Array()->Get(32766)), 32767);
    EXPECT_TRUE(fc::IsEmptyResultMarker(fc::BookmarkCollector().Finish()));
}

TEST(FilterCacheKeyTest, SourceAndFieldIgnoreCaseValuesDoNotAndPartsNeverRunTogether) {
    EXPECT_EQ(fc::Key("qtx_a", "qtx_cno", "5", "x desc"), fc::Key("QTX_A", "QTX_CNO", "5", "X DESC"));
    EXPECT_NE(fc::Key("QTX_A", "QTX_F", "a"), fc::Key("QTX_A", "QTX_F", "A"));
    EXPECT_NE(fc::Key("QTX_A", "QTX_F", "a-B"), fc::Key("QTX_A", "QTX_F", "a", "B"));
    EXPECT_EQ(*fc::ValueText(I2(5)), *fc::ValueText(Variant(5.0)));
    EXPECT_EQ(*fc::ValueText(Variant("5")), *fc::ValueText(I4(5)));
}

}  // namespace
