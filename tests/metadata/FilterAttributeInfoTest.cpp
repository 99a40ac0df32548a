// CacheAttributeInfoByCNO: the attribute rows of several components in one pass.
#include <gtest/gtest.h>

#include "FilterTestTables.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/modAttributeInfo.h"
#include "runtime/Vb.h"

namespace {

using namespace filtertest;
using pelmora::CacheAttributeInfoByCNO;
namespace fc = pelmora::filtercache;
using Names = std::vector<std::string>;

class FilterAttributeInfoTest : public ::testing::Test {
protected:
    void SetUp() override {
        rt::Apartment::Reset();
        table = service->Add("QTX_ATTRIBUTEINFO_OPTABLE", AttributeTable());
    }
    void TearDown() override { rt::Apartment::Reset(); }

    static std::string KeyOf(int cno) { return fc::Key("QTX_ATTRIBUTEINFO_OPTABLE", "QTX_CNO", std::to_string(cno)); }
    static Variant Cnos(std::initializer_list<int> numbers, int lbound = 1) {
        std::vector<Variant> v;
        for (int n : numbers) v.push_back(I2(n));
        return Variant::ArrayOf(v, lbound, rt::vbInteger);
    }

    std::shared_ptr<FakeMetadataService> service = std::make_shared<FakeMetadataService>();
    std::shared_ptr<FakeMetadataRecordset> table;
};

TEST_F(FilterAttributeInfoTest, ReadsTheTableOnceForTheNumbersNotCachedYet) {
    CacheAttributeInfoByCNO(Cnos({7}), service);
    ASSERT_EQ(table->reads, 1);
    auto seven = fc::Lookup(KeyOf(7));

    Variant numbers = Cnos({3, 7});
    CacheAttributeInfoByCNO(numbers, service);
    EXPECT_EQ(table->reads, 2);
    EXPECT_EQ(fc::Count(), 2u);
    EXPECT_EQ(fc::Lookup(KeyOf(7))->Array(), seven->Array());  // 7 was left alone
    auto three = fc::Lookup(KeyOf(3));
    ASSERT_TRUE(three.has_value());
    EXPECT_EQ(rt::UBound(*three), 2);

    // The caller's array is as it was given.
    EXPECT_EQ(rt::LBound(numbers), 1);
    EXPECT_EQ(rt::CInt(numbers.Array()->Get(1)), 3);
    EXPECT_EQ(rt::CInt(numbers.Array()->Get(2)), 7);

    CacheAttributeInfoByCNO(numbers, service);
    EXPECT_EQ(table->reads, 2);  // everything cached: no read
}

TEST_F(FilterAttributeInfoTest, FilterRecordsetFindsTheEntriesWithoutAWalk) {
    CacheAttributeInfoByCNO(std::vector<int16_t>{3, 12, 40}, service);
    EXPECT_TRUE(fc::IsEmptyResultMarker(*fc::Lookup(KeyOf(40))));

    pelmora::MetadataRecordsetFilterService svc;
    auto rs = table->get_Recordset("", "");
    auto moves = CountMoves(rs);
    svc.FilterRecordset(rs, rs->get_Fields()->Item("QTX_CNO"), I2(3));
    EXPECT_EQ(moves->moveNext, 0);
    EXPECT_EQ(Column(rs, "QTX_FIELD"), (Names{"DIAMETER", "INSTALL_DATE", "PRESSURE"}));

    auto none = table->get_Recordset("", "");
    svc.FilterRecordset(none, none->get_Fields()->Item("QTX_CNO"), I4(40));
    EXPECT_TRUE(none->get_BOF() && none->get_EOF());
}

TEST_F(FilterAttributeInfoTest, ARepeatedNumberFailsBeforeTheTableIsRead) {
    try {
        CacheAttributeInfoByCNO(Cnos({3, 5, 3}), service);
        FAIL() << "a repeated number must fail";
    } catch (const rt::ComError& e) {
        EXPECT_EQ(e.Number(), rt::vberr::KeyAlreadyAssociated);
    }
    EXPECT_EQ(table->reads, 0);
    EXPECT_EQ(fc::Count(), 0u);

    // Repeats among numbers already cached are passed over.
    CacheAttributeInfoByCNO(Cnos({5}), service);
    EXPECT_NO_THROW(CacheAttributeInfoByCNO(Cnos({5, 5, 7}), service));
    EXPECT_TRUE(fc::Contains(KeyOf(7)));
}

TEST_F(FilterAttributeInfoTest, BadInputAndMissingTablesFailClearly) {
    EXPECT_THROW(CacheAttributeInfoByCNO(I2(3), service), rt::ComError);  // not an array
    EXPECT_THROW(CacheAttributeInfoByCNO(Variant::UnallocatedArray(rt::vbInteger), service), rt::ComError);
    auto bare = std::make_shared<FakeMetadataService>();
    EXPECT_THROW(CacheAttributeInfoByCNO(Cnos({3}), bare), rt::ComError);
    EXPECT_FALSE(fc::Contains(KeyOf(3)));
}

}  // namespace
