// The filter service on clones of the sample network's cached metadata tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "FilterSampleFixture.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/modAttributeInfo.h"
#include "runtime/Vb.h"

namespace {

using namespace filtertest;
namespace fc = pelmora::filtercache;
using Names = std::vector<std::string>;

constexpr const char* kAttributes = "QTX_ATTRIBUTEINFO_OPTABLE";
constexpr const char* kComponents = "QTX_COMPONENTINFO_OPTABLE";

class FilterSampleTest : public SampleMetadataFixture {
protected:
    static ado::FieldPtr F(const ado::RecordsetPtr& rs, const std::string& name) {
        return rs->get_Fields()->Item(name);
    }

    // Every component number of the sample.
    std::vector<int16_t> ComponentNumbers() {
        std::vector<int16_t> out;
        for (const auto& text : Column(Table(kComponents), "QTX_CNO")) out.push_back(static_cast<int16_t>(std::stoi(text)));
        return out;
    }

    pelmora::MetadataRecordsetFilterService svc;
};

TEST_F(FilterSampleTest, EveryComponentGetsTheRowsACriteriaFilterShowsFromAnyClone) {
    // Keys hold the Source: the table's name, as the one-pass attribute entries expect.
    EXPECT_EQ(Table(kAttributes)->get_Source(), kAttributes);
    for (int16_t cno : ComponentNumbers()) {
        auto rs = Table(kAttributes);
        svc.FilterRecordset(rs, F(rs, "QTX_CNO"), I2(cno));
        auto expected = ByCriteria(kAttributes, "QTX_CNO = " + std::to_string(cno), "QTX_ANO");
        EXPECT_EQ(Column(rs, "QTX_ANO"), expected) << "CNO " << cno;

        auto other = Table(kAttributes);
        auto moves = CountMoves(other);
        svc.FilterRecordset(other, F(other, "QTX_CNO"), Variant(std::to_string(cno)));  // as text, from the cache
        EXPECT_EQ(moves->moveNext, 0) << "CNO " << cno;
        EXPECT_EQ(Column(other, "QTX_ANO"), expected) << "CNO " << cno;
    }
}

TEST_F(FilterSampleTest, SortedAndEmptyResultsOnTheSampleTables) {
    auto rs = Table(kAttributes);
    svc.FilterRecordset(rs, F(rs, "QTX_CNO"), I2(11), "qtx_field");
    auto fields = Column(rs, "QTX_FIELD");
    ASSERT_FALSE(fields.empty());
    EXPECT_TRUE(std::is_sorted(fields.begin(), fields.end()));
    auto unsorted = ByCriteria(kAttributes, "QTX_CNO = 11", "QTX_FIELD");
    std::sort(unsorted.begin(), unsorted.end());
    EXPECT_EQ(fields, unsorted);

    EXPECT_EQ(rs->get_Sort(), "QTX_FIELD");

    // From the cache: a clone already so sorted is not walked; one sorted
    // otherwise still gets the rows in the order asked for.
    auto again = Table(kAttributes);
    again->put_Sort("QTX_FIELD");
    auto walked = CountMoves(again);
    svc.FilterRecordset(again, F(again, "QTX_CNO"), I2(11), "QTX_FIELD");
    EXPECT_EQ(walked->moveNext, 0);
    EXPECT_EQ(Column(again, "QTX_FIELD"), fields);
    auto otherwise = Table(kAttributes);
    otherwise->put_Sort("QTX_ANO DESC");
    svc.FilterRecordset(otherwise, F(otherwise, "QTX_CNO"), I2(11), "qtx_field");
    EXPECT_EQ(Column(otherwise, "QTX_FIELD"), fields);

    auto none = Table(kComponents);
    svc.FilterRecordset(none, F(none, "QTX_CNO"), I2(999));
    EXPECT_TRUE(none->get_BOF() && none->get_EOF());
    auto second = Table(kComponents);
    auto moves = CountMoves(second);
    svc.FilterRecordset(second, F(second, "QTX_CNO"), I2(999));
    EXPECT_EQ(moves->moveNext, 0);
    EXPECT_TRUE(second->get_BOF() && second->get_EOF());
}

TEST_F(FilterSampleTest, DistinctGeometryTypesIncludeOneRowForTheNulls) {
    std::set<std::string> expected;
    for (const auto& v : Column(Table(kComponents), "QTX_GEOMETRYTYPE")) expected.insert(v);
    ASSERT_TRUE(expected.count("<null>"));

    auto rs = Table(kComponents);
    svc.FilterDistinct(rs, F(rs, "QTX_GEOMETRYTYPE"));
    auto shown = Column(rs, "QTX_GEOMETRYTYPE");
    EXPECT_EQ(shown.size(), expected.size());
    EXPECT_EQ(std::set<std::string>(shown.begin(), shown.end()), expected);

    svc.Clear();
    auto again = Table(kComponents);
    auto moves = CountMoves(again);
    svc.FilterDistinct(again, F(again, "QTX_GEOMETRYTYPE"));
    EXPECT_EQ(moves->moveNext, 0);
    EXPECT_EQ(again->get_RecordCount(), static_cast<int32_t>(expected.size()));
}

TEST_F(FilterSampleTest, FindWalksToTheNextRowOfAValue) {
    auto rs = Table(kAttributes);
    auto field = F(rs, "QTX_FIELD");
    auto expected = ByCriteria(kAttributes, "QTX_FIELD = 'DIAMETER'", "QTX_ANO");
    ASSERT_GE(expected.size(), 2u);
    svc.Find(rs, field, Variant("DIAMETER"), 0, ado::adBookmarkFirst);
    EXPECT_EQ(rt::CStr(rs->GetValue(Variant("QTX_ANO"))), expected[0]);
    svc.Find(rs, field, Variant("DIAMETER"), 1);
    EXPECT_EQ(rt::CStr(rs->GetValue(Variant("QTX_ANO"))), expected[1]);
    svc.Find(rs, field, Variant("diameter"), 0, ado::adBookmarkFirst);  // letter case counts
    EXPECT_TRUE(rs->get_EOF());
}

TEST_F(FilterSampleTest, CacheRecordsetFillsTheEntriesOfEveryFeatureNumber) {
    auto rs = Table("QTX_FEATURECOMPS_OPTABLE");
    svc.CacheRecordset(rs, F(rs, "QTX_FNO"));
    EXPECT_TRUE(rs->get_EOF());
    std::set<std::string> fnos;
    for (const auto& v : Column(Table("QTX_FEATURECOMPS_OPTABLE"), "QTX_FNO")) fnos.insert(v);
    EXPECT_EQ(fc::Count(), fnos.size());

    for (const auto& fno : fnos) {
        auto clone = Table("QTX_FEATURECOMPS_OPTABLE");
        auto moves = CountMoves(clone);
        svc.FilterRecordset(clone, F(clone, "QTX_FNO"), I2(std::stoi(fno)));
        EXPECT_EQ(moves->moveNext, 0);
        auto got = Column(clone, "QTX_CNO");
        auto expected = ByCriteria("QTX_FEATURECOMPS_OPTABLE", "QTX_FNO = " + fno, "QTX_CNO");
        std::sort(got.begin(), got.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(got, expected) << "FNO " << fno;
    }
}

TEST_F(FilterSampleTest, CacheAttributeInfoByCNOReadsTheTableOnceForTheNumbersNotCached) {
    // A service whose attribute table is the sample's, counting the reads.
    auto counting = std::make_shared<FakeMetadataService>();
    auto item = counting->Add(kAttributes, Table(kAttributes));
    auto key = [](int cno) { return fc::Key(kAttributes, "QTX_CNO", std::to_string(cno)); };

    pelmora::CacheAttributeInfoByCNO(Variant::ArrayOf({I2(12)}), counting);
    ASSERT_EQ(item->reads, 1);
    auto twelve = fc::Lookup(key(12));
    Variant numbers = Variant::ArrayOf({I2(11), I2(12), I2(999)}, 1);  // 999 has no attribute rows
    pelmora::CacheAttributeInfoByCNO(numbers, counting);
    EXPECT_EQ(item->reads, 2);
    EXPECT_EQ(fc::Count(), 3u);
    EXPECT_EQ(fc::Lookup(key(12))->Array(), twelve->Array());  // left alone
    EXPECT_TRUE(fc::IsEmptyResultMarker(*fc::Lookup(key(999))));
    EXPECT_EQ(rt::LBound(numbers), 1);  // the caller's array is as it was given
    EXPECT_EQ(rt::CInt(numbers.Array()->Get(1)), 11);
    EXPECT_EQ(rt::CInt(numbers.Array()->Get(3)), 999);
    pelmora::CacheAttributeInfoByCNO(numbers, counting);
    EXPECT_EQ(item->reads, 2);  // all cached: not read

    // A number twice among those not cached fails before the table is read.
    try {
        pelmora::CacheAttributeInfoByCNO(std::vector<int16_t>{21, 12, 21}, counting);
        FAIL() << "a repeated number must fail";
    } catch (const rt::ComError& e) {
        EXPECT_EQ(e.Number(), rt::vberr::KeyAlreadyAssociated);
    }
    EXPECT_EQ(item->reads, 2);
    EXPECT_FALSE(fc::Contains(key(21)));
    EXPECT_THROW(pelmora::CacheAttributeInfoByCNO(I2(21), counting), rt::ComError);  // not an array

    // The entries serve the real clones without a walk, with the right rows.
    std::vector<int16_t> all = ComponentNumbers();
    pelmora::CacheAttributeInfoByCNO(all, counting);
    EXPECT_EQ(item->reads, 3);
    for (int16_t cno : all) {
        auto rs = Table(kAttributes);
        auto moves = CountMoves(rs);
        svc.FilterRecordset(rs, F(rs, "QTX_CNO"), I2(cno));
        EXPECT_EQ(moves->moveNext, 0) << "CNO " << cno;
        EXPECT_EQ(Column(rs, "QTX_ANO"), ByCriteria(kAttributes, "QTX_CNO = " + std::to_string(cno), "QTX_ANO"))
            << "CNO " << cno;
    }
}

TEST_F(FilterSampleTest, ANewFetchForgetsTheArraysOfTheOldTables) {
    auto rs = Table(kAttributes);
    svc.FilterRecordset(rs, F(rs, "QTX_CNO"), I2(11));
    auto whole = Table(kAttributes);
    svc.FilterDistinct(whole, F(whole, "QTX_CNO"));
    ASSERT_GT(fc::Count(), 0u);
    ASSERT_TRUE(fc::DistinctContains(kAttributes, "QTX_CNO"));
    service_->Fetch();
    EXPECT_EQ(fc::Count(), 0u);
    EXPECT_FALSE(fc::DistinctContains(kAttributes, "QTX_CNO"));
}

}  // namespace
