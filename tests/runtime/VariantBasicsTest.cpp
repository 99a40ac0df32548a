#include <gtest/gtest.h>

#include "runtime/Variant.h"

using namespace rt;

TEST(VariantBasics, ArraysKeepBoundsAndCopyOnWrite) {
    Variant a = Variant::MakeArray(vbVariant, 1, 3);
    Variant b = a;
    b.ArrayMut()->Data()[0] = Variant(int32_t{7});
    EXPECT_TRUE(a.Array()->Data()[0].IsEmpty());
    EXPECT_EQ(LBound(a), 1);
    EXPECT_EQ(UBound(a), 3);
    Variant u = Variant::UnallocatedArray(vbString);
    EXPECT_THROW(UBound(u), ComError);
    EXPECT_EQ(TypeName(u), "String()");
}

// Every kind of value survives copies, moves and assignment over every other
// kind; texts and decimals stay values although their copies share storage.
TEST(VariantBasics, CopiesMovesAndAssignmentsKeepEveryKind) {
    Decimal dec = Decimal::Parse("-12345678901234567890.125");
    auto values = [&] {
        return std::vector<Variant>{Variant(),          Variant::Null(),        Variant(int16_t{-2}),
                                    Variant(int32_t{70000}), Variant(1.5f),     Variant(2.25),
                                    Variant(Currency{123456}), Variant::Date(36526.5), Variant(true),
                                    Variant(uint8_t{200}), Variant::Error(5),   Variant("a text longer than any inline buffer"),
                                    Variant(""),        Variant(dec),           Variant::Nothing(),
                                    Variant::ArrayOf({Variant("x"), Variant(int32_t{1})})};
    };
    const std::vector<Variant> expected = values();
    auto same = [](const Variant& a, const Variant& b) {
        if (a.Type() != b.Type()) return false;
        if (a.IsArray()) return a.Array() == b.Array();
        if (a.IsNull() || a.IsEmpty()) return true;
        return VariantEquals(a, b);
    };
    for (size_t i = 0; i < expected.size(); ++i) {
        for (size_t j = 0; j < expected.size(); ++j) {
            std::vector<Variant> v = values();
            Variant target = v[j];
            target = v[i];
            EXPECT_TRUE(same(target, v[i])) << i << " over " << j;
            Variant moved = v[j];
            moved = std::move(target);
            EXPECT_TRUE(same(moved, v[i])) << i << " moved over " << j;
            Variant constructed(std::move(moved));
            EXPECT_TRUE(same(constructed, v[i])) << i;
        }
    }
    Variant text("shared");
    Variant copy = text;
    text = Variant("changed");
    EXPECT_EQ(copy.Str(), "shared");
    EXPECT_EQ(Variant(dec).Dec().ToString(), "-12345678901234567890.125");
}

// A variable assigned an element of the array it alone holds keeps the element.
TEST(VariantBasics, AssigningAnElementOverItsOwnArray) {
    Variant a = Variant::ArrayOf({Variant("first element, long enough to live apart"), Variant(int32_t{2})});
    a = a.Array()->Get(0);
    EXPECT_EQ(a.Str(), "first element, long enough to live apart");
    Variant b = Variant::ArrayOf({Variant(Decimal::FromInt64(7))});
    b = std::move(b.ArrayMut()->Data()[0]);
    EXPECT_EQ(b.Dec().ToString(), "7");
}
