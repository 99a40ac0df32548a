#include <gtest/gtest.h>

#include "runtime/Raises.h"
#include "runtime/Vb.h"

using namespace rt;

TEST(Arrays, MultiDimensionalWithAnyLowerBound) {
    Variant v = Variant::MakeArray(vbLong, {ArrayBound{-1, 3}, ArrayBound{5, 2}});  // (-1 To 1, 5 To 6)
    EXPECT_EQ(LBound(v, 1), -1);
    EXPECT_EQ(UBound(v, 1), 1);
    EXPECT_EQ(LBound(v, 2), 5);
    EXPECT_EQ(UBound(v, 2), 6);
    EXPECT_EQ(ErrorOf([&] { UBound(v, 3); }), 9);
    EXPECT_EQ(ErrorOf([&] { LBound(v, 0); }), 9);
    SafeArray* a = v.ArrayMut();
    for (int32_t i = -1; i <= 1; ++i)
        for (int32_t j = 5; j <= 6; ++j) a->Set({i, j}, Variant(double(i * 10 + j)));  // converted to Long
    EXPECT_EQ(a->Get({1, 6}).I4(), 16);
    EXPECT_EQ(a->Get({-1, 5}).I4(), -5);
    EXPECT_EQ(a->Data()[1].I4(), 5);  // first index varies fastest
    EXPECT_EQ(ErrorOf([&] { a->Get({2, 5}); }), 9);
    EXPECT_EQ(ErrorOf([&] { a->Get({0}); }), 9);  // wrong number of indices
    EXPECT_EQ(ErrorOf([&] { a->Set({0, 5}, Variant("x")); }), 13);
    EXPECT_EQ(ErrorOf([&] { a->Set({0, 5}, Variant(3e10)); }), 6);
    EXPECT_EQ(TypeName(v), "Long()");
    EXPECT_EQ(VarTypeOf(v), vbArray | vbLong);
}

TEST(Arrays, ElementsStartAtTheTypesZero) {
    Variant s = Variant::MakeArray(vbString, 0, 1);
    EXPECT_EQ(s.Array()->Get(0).Str(), "");
    Variant o = Variant::MakeArray(vbObject, 0, 0);
    EXPECT_TRUE(o.Array()->Get(0).IsNothing());
    Variant var = Variant::MakeArray(vbVariant, 0, 0);
    EXPECT_TRUE(var.Array()->Get(0).IsEmpty());
    EXPECT_EQ(ErrorOf([] { Variant::MakeArray(vbVariant, 3, 1); }), 9);
    EXPECT_EQ(ErrorOf([] { Variant::MakeArray(vbVariant, INT32_MIN, INT32_MAX); }), 9);
    EXPECT_EQ(ErrorOf([] { Variant::MakeArray(vbByte, {ArrayBound{0, 100000}, ArrayBound{0, 100000}}); }), 7);
    Variant none = Variant::MakeArray(vbVariant, 0, -1);  // what Split("") gives
    EXPECT_EQ(UBound(none), -1);
    EXPECT_EQ(none.Array()->Count(), 0u);
}

TEST(Arrays, ReDimPreserveKeepsSurvivingElements) {
    Variant v = Variant::ArrayOf({Variant(int16_t{1}), Variant(int16_t{2}), Variant(int16_t{3})}, 1);
    Variant copy = v;  // copies share until written
    ReDimPreserve(v, 1, 5);
    EXPECT_EQ(UBound(v), 5);
    EXPECT_EQ(v.Array()->Get(3).I2(), 3);
    EXPECT_TRUE(v.Array()->Get(5).IsEmpty());
    EXPECT_EQ(UBound(copy), 3);
    ReDimPreserve(v, 1, 2);
    EXPECT_EQ(v.Array()->Count(), 2u);
    EXPECT_EQ(v.Array()->Get(2).I2(), 2);
    EXPECT_EQ(ErrorOf([&] { ReDimPreserve(v, 0, 2); }), 9);  // the lower bound cannot move

    // Multi-dimensional: only the last dimension grows, and values stay put.
    Variant m = Variant::MakeArray(vbInteger, {ArrayBound{0, 2}, ArrayBound{0, 2}});
    m.ArrayMut()->Set({1, 1}, Variant(int16_t{7}));
    m.ArrayMut()->ReDim({ArrayBound{0, 2}, ArrayBound{0, 4}}, true);
    EXPECT_EQ(m.Array()->Get({1, 1}).I2(), 7);
    EXPECT_EQ(m.Array()->Get({1, 3}).I2(), 0);
    EXPECT_EQ(ErrorOf([&] { m.ArrayMut()->ReDim({ArrayBound{0, 3}, ArrayBound{0, 4}}, true); }), 9);
    EXPECT_EQ(ErrorOf([&] { m.ArrayMut()->ReDim({ArrayBound{0, 3}}, true); }), 9);
    m.ArrayMut()->ReDim({ArrayBound{0, 3}}, false);  // without Preserve anything goes
    EXPECT_EQ(m.Array()->Dims(), 1);
    EXPECT_EQ(m.Array()->Get(0).I2(), 0);
}

TEST(Arrays, UnallocatedAndErased) {
    Variant u = Variant::UnallocatedArray(vbString);
    EXPECT_TRUE(u.IsArray());
    EXPECT_EQ(u.Array(), nullptr);
    EXPECT_EQ(ErrorOf([&] { LBound(u); }), 9);
    EXPECT_EQ(ErrorOf([&] { UBound(u); }), 9);
    EXPECT_EQ(TypeName(u), "String()");
    ReDimPreserve(u, 0, 1);  // allocates, keeping the element type
    EXPECT_EQ(UBound(u), 1);
    EXPECT_EQ(u.Array()->Get(1).Str(), "");
    Erase(u);
    EXPECT_EQ(ErrorOf([&] { UBound(u); }), 9);
    EXPECT_EQ(TypeName(u), "String()");
    Variant notArray(1.0);
    EXPECT_EQ(ErrorOf([&] { UBound(notArray); }), 13);
    EXPECT_EQ(ErrorOf([&] { Erase(notArray); }), 13);
    Variant empty;
    ReDimPreserve(empty, 0, 2);  // a plain Variant becomes a Variant array
    EXPECT_EQ(TypeName(empty), "Variant()");
}

TEST(TypeNames, AsVbPrintsThem) {
    EXPECT_EQ(TypeName(Variant()), "Empty");
    EXPECT_EQ(TypeName(Variant::Null()), "Null");
    EXPECT_EQ(TypeName(Variant(int16_t{1})), "Integer");
    EXPECT_EQ(TypeName(Variant(int32_t{1})), "Long");
    EXPECT_EQ(TypeName(Variant(1.0f)), "Single");
    EXPECT_EQ(TypeName(Variant(1.0)), "Double");
    EXPECT_EQ(TypeName(Variant(Currency{1})), "Currency");
    EXPECT_EQ(TypeName(Variant(Decimal{})), "Decimal");
    EXPECT_EQ(TypeName(Variant::Date(1.0)), "Date");
    EXPECT_EQ(TypeName(Variant("x")), "String");
    EXPECT_EQ(TypeName(Variant(true)), "Boolean");
    EXPECT_EQ(TypeName(Variant(uint8_t{1})), "Byte");
    EXPECT_EQ(TypeName(Variant::Missing()), "Error");
    EXPECT_EQ(TypeName(Variant::Nothing()), "Nothing");
    EXPECT_EQ(TypeName(Variant::ArrayOf({Variant(1.0)})), "Variant()");
    EXPECT_EQ(VarTypeOf(Variant::Missing()), vbError);
    EXPECT_TRUE(Variant::Missing().IsMissing());
    EXPECT_FALSE(Variant::Error(5).IsMissing());
    EXPECT_EQ(VarTypeOf(Variant::ArrayOf({Variant(1.0)})), 8204);
}

TEST(TypedAccess, WrongKindRaises13) {
    EXPECT_EQ(ErrorOf([] { Variant(1.0).I4(); }), 13);
    EXPECT_EQ(ErrorOf([] { Variant("1").R8(); }), 13);
    EXPECT_EQ(ErrorOf([] { Variant().Str(); }), 13);
    EXPECT_EQ(ErrorOf([] { Variant(int16_t{1}).Obj(); }), 13);
    EXPECT_EQ(ErrorOf([] { Variant(int16_t{1}).Array(); }), 13);
    EXPECT_EQ(Variant(2.5f).R8(), 2.5);  // a Single reads as a double
}

TEST(VariantEqualsTable, SystemValueEquality) {
    struct Row {
        Variant a, b;
        bool equal;
    };
    const Row rows[] = {
        {Variant(int16_t{5}), Variant(int32_t{5}), true},
        {Variant(int32_t{5}), Variant(5.0), true},
        {Variant(5.0f), Variant(uint8_t{5}), true},
        {Variant(Currency{50000}), Variant(int16_t{5}), true},
        {Variant(Decimal::Parse("5.000")), Variant(5.0), true},
        {Variant(Decimal::Parse("9007199254740993")), Variant(Decimal::Parse("9007199254740992")), false},
        {Variant(int32_t{5}), Variant(5.5), false},
        {Variant::Date(43861.0), Variant(43861.0), true},
        {Variant(true), Variant(int16_t{-1}), true},
        {Variant("abc"), Variant("abc"), true},
        {Variant("abc"), Variant("ABC"), false},
        {Variant("abc "), Variant("abc"), false},
        {Variant("5"), Variant(int32_t{5}), false},
        {Variant(5.0), Variant("5"), false},
        {Variant::Null(), Variant::Null(), false},
        {Variant::Null(), Variant(int32_t{0}), false},
        {Variant("x"), Variant::Null(), false},
        {Variant(), Variant(), true},
        {Variant(), Variant(int32_t{0}), false},
        {Variant(), Variant(""), false},
        {Variant::Nothing(), Variant::Nothing(), true},
        {Variant::Error(5), Variant::Error(5), true},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(VariantEquals(r.a, r.b), r.equal) << TypeName(r.a) << " " << CStr(r.a.IsNull() ? Variant() : r.a)
                                                     << " vs " << TypeName(r.b);
        EXPECT_EQ(VariantEquals(r.b, r.a), r.equal) << "not symmetric";
    }
}
