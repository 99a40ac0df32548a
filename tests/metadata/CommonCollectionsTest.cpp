#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "CommonFakes.h"
#include "ado/Recordset.h"
#include "pelmora/common/CommonClasses.h"
#include "pelmora/common/DistinctItemColl.h"
#include "pelmora/common/Recordsets.h"
#include "pelmora/common/modRelationshipService.h"

using namespace pelmora;
using namespace commontest;
using pelmora_test::Raised;
using rt::Variant;

namespace {

TEST(CommonDistinctItemColl, NumbersEqualAcrossTypesTextsByCase) {
    DistinctItemColl c;
    c.Add(Variant(int16_t{5}));
    c.Add(Variant(int32_t{5}));
    c.Add(Variant(5.0));
    c.Add(Variant("5"));
    c.Add(Variant("a"));
    c.Add(Variant("A"));
    c.Add(Variant("a"));
    ASSERT_EQ(c.get_Count(), 4);
    auto items = c.get_NewEnum();
    EXPECT_EQ(items[0].Type(), rt::vbInteger);  // the first of the equal numbers stays
    EXPECT_EQ(items[1].Str(), "5");
    EXPECT_EQ(items[2].Str(), "a");
    EXPECT_EQ(items[3].Str(), "A");
}

TEST(CommonDistinctItemColl, NullEqualsNothingNotEvenNull) {
    DistinctItemColl c;
    c.Add(Variant::Null());
    c.Add(Variant::Null());
    EXPECT_EQ(c.get_Count(), 2);
    c.Clear();
    EXPECT_EQ(c.get_Count(), 0);
    c.Add(Variant(int32_t{1}));
    EXPECT_EQ(c.get_Count(), 1);
}

TEST(CommonDistinctItemColl, KeepsWhatAWalkComparingEveryItemKeeps) {
    // Exact numbers compare exactly among themselves but as Doubles with a
    // Double, so equality is not transitive: the lookup must agree with a
    // walk over every order of these.
    const std::vector<Variant> values = {
        Variant(int16_t{5}), Variant(int32_t{5}), Variant(5.0), Variant(5.0f), Variant(rt::Currency{50000}),
        Variant(rt::Decimal::Parse("5.00")), Variant::Date(5.0), Variant(true), Variant(int16_t{-1}),
        Variant(-0.0), Variant(int32_t{0}), Variant(), Variant::Null(), Variant("5"), Variant("a"),
        Variant::Error(7), Variant(rt::Decimal::Parse("0.1")), Variant(0.1),
        Variant(rt::Decimal::Parse("0.1000000000000000000001")), Variant(rt::Currency{9007199254740993}),
        Variant(rt::Decimal::Parse("900719925474.0993")), Variant(std::nan("")),
    };
    for (const Variant& a : values)
        for (const Variant& b : values)
            for (const Variant& c : values) {
                std::vector<Variant> kept;
                DistinctItemColl coll;
                for (const Variant* v : {&a, &b, &c}) {
                    coll.Add(*v);
                    bool present = false;
                    for (const Variant& k : kept) present = present || rt::VariantEquals(k, *v);
                    if (!present) kept.push_back(*v);
                }
                ASSERT_EQ(coll.get_Count(), static_cast<int32_t>(kept.size()))
                    << rt::TypeName(a) << " " << rt::TypeName(b) << " " << rt::TypeName(c);
            }
}

TEST(CommonDistinctItemColl, ItemsThatCannotBeComparedAreRefused) {
    DistinctItemColl c;
    c.Add(Variant(int32_t{1}));
    EXPECT_THROW(c.Add(Variant::ArrayOf({Variant(int32_t{1})})), rt::ComError);
    EXPECT_THROW(c.Add(Variant(std::make_shared<DistinctItemColl>())), rt::ComError);
    EXPECT_EQ(c.get_Count(), 1);
}

TEST(CommonDistinctItemColl, EnumerationKeepsTheItemsItStartedWith) {
    DistinctItemColl c;
    c.Add(Variant(int32_t{1}));
    c.Add(Variant(int32_t{2}));
    auto items = c.get_NewEnum();
    c.Clear();
    c.Add(Variant(int32_t{9}));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1].I4(), 2);
    EXPECT_NO_THROW(c.DumpCollectionToLog(Variant("header")));
    EXPECT_NO_THROW(c.DumpCollectionToLog());
}

ado::RecordsetPtr MakeRecordset(int n) {
    auto rs = ado::Recordset::Create();
    rs->get_Fields()->Append("V", ado::adSmallInt);
    rs->Open();
    for (int i = 0; i < n; ++i) {
        rs->AddNew();
        rs->SetValue(Variant("V"), Variant(int16_t{0}));
        rs->Update();
    }
    if (n) rs->MoveFirst();
    return rs;
}

TEST(CommonRecordsets, ItemsInOrderOfAddingCountedFromOne) {
    Recordsets r;
    auto a = MakeRecordset(0), b = MakeRecordset(0), c = MakeRecordset(0);
    r.Add(a);
    r.Add(b);
    EXPECT_EQ(r.get_Count(), 2);
    EXPECT_EQ(r.get_Item(1), a);
    EXPECT_EQ(r.get_Item(2), b);
    r.Remove(1);
    EXPECT_EQ(r.get_Item(1), b);
    EXPECT_EQ(r.get_Count(), 1);
    r.Add(c);
    auto all = r.get_NewEnum();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[1], c);
}

TEST(CommonRecordsets, IndexOutsideTheCollectionIsSubscriptError) {
    Recordsets r;
    r.Add(MakeRecordset(0));
    for (int16_t i : {int16_t{0}, int16_t{2}, int16_t{-1}}) {
        EXPECT_EQ(Raised([&] { r.get_Item(i); }).Number(), rt::vberr::SubscriptOutOfRange);
        EXPECT_EQ(Raised([&] { r.Remove(i); }).Number(), rt::vberr::SubscriptOutOfRange);
    }
    EXPECT_EQ(r.get_Count(), 1);
}

TEST(CommonRecordsets, ClearEmptiesAndWorksThroughTheSiblingInterface) {
    auto r = std::make_shared<Recordsets>();
    auto face = rt::QueryInterface<IRecordsets>(r);
    face->Clear();
    EXPECT_EQ(face->get_Count(), 0);
    for (int i = 0; i < 3; ++i) face->Add(MakeRecordset(0));
    EXPECT_EQ(face->get_Count(), 3);
    face->Clear();
    EXPECT_EQ(r->get_Count(), 0);
}

ado::RecordsetPtr Values(std::initializer_list<int32_t> values) {
    auto rs = ado::Recordset::Create();
    rs->get_Fields()->Append("QTX_FNO", ado::adInteger);
    rs->Open();
    for (int32_t v : values) {
        rs->AddNew();
        rs->SetValue(Variant("QTX_FNO"), Variant(v));
        rs->Update();
    }
    if (values.size()) rs->MoveFirst();
    return rs;
}

std::vector<int16_t> Elements(const Variant& v) {
    std::vector<int16_t> out;
    for (int32_t i = rt::LBound(v); i <= rt::UBound(v); ++i) out.push_back(v.Array()->Get(i).I2());
    return out;
}

TEST(CommonDistinctIntegers, EachRunOfEqualValuesOnceLeadingZerosSkipped) {
    auto rs = Values({0, 0, 3, 3, 5, 3});
    Variant v = GetDistinctIntegerValues(rs, "QTX_FNO");
    ASSERT_TRUE(v.IsArray());
    EXPECT_EQ(v.Type(), rt::vbArray | rt::vbInteger);
    EXPECT_EQ(rt::LBound(v), 1);
    EXPECT_EQ(Elements(v), (std::vector<int16_t>{3, 5, 3}));
    EXPECT_TRUE(rs->get_EOF());
}

TEST(CommonDistinctIntegers, NullWhenNothingIsCollected) {
    EXPECT_TRUE(GetDistinctIntegerValues(Values({0, 0}), "QTX_FNO").IsNull());
    EXPECT_TRUE(GetDistinctIntegerValues(Values({}), "QTX_FNO").IsNull());
}

TEST(CommonDistinctIntegers, StartsAtTheCurrentRow) {
    auto rs = Values({7, 7, 8, 9, 9});
    rs->MoveNext();
    rs->MoveNext();
    EXPECT_EQ(Elements(GetDistinctIntegerValues(rs, "QTX_FNO")), (std::vector<int16_t>{8, 9}));
    auto all = Values({1, 2, 3});
    EXPECT_EQ(Elements(GetDistinctIntegerValues(all, "QTX_FNO")), (std::vector<int16_t>{1, 2, 3}));
}

TEST(CommonDistinctIntegers, BadValuesAndFieldsRaise) {
    EXPECT_EQ(Raised([] { GetDistinctIntegerValues(Values({1, 40000}), "QTX_FNO"); }).Number(), rt::vberr::Overflow);
    EXPECT_THROW(GetDistinctIntegerValues(Values({1}), "NO_SUCH_FIELD"), rt::ComError);
    EXPECT_THROW(GetDistinctIntegerValues(nullptr, "QTX_FNO"), rt::ComError);
}

}  // namespace

namespace {

TEST(CommonClasses, CreatableByProgId) {
    pelmora::RegisterCommonClasses();
    auto list = rt::CreateObject(pelmora::kFastStringProgId);
    EXPECT_EQ(list->TypeName(), "FastString");
    auto sets = rt::QueryInterface<pelmora::IRecordsets>(rt::CreateObject("qzpelmora.recordsets"));
    EXPECT_EQ(sets->get_Count(), 0);
}

}  // namespace
