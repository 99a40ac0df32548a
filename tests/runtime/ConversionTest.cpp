#include <gtest/gtest.h>

#include <cmath>

#include "runtime/Vb.h"

using namespace rt;

namespace {

int ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const ComError& e) {
        return e.Number();
    }
    return 0;
}

}  // namespace

TEST(CStrOfNumbers, DoublesPrintAsVbDoes) {
    EXPECT_EQ(CStr(Variant(3.5)), "3.5");
    EXPECT_EQ(CStr(Variant(-1.0)), "-1");
    EXPECT_EQ(CStr(Variant(1e20)), "1E+20");
    EXPECT_EQ(CStr(Variant(-1.5e-7)), "-1.5E-07");
    EXPECT_EQ(CStr(Variant(1.5e-7)), "1.5E-07");
    EXPECT_EQ(CStr(Variant(0.1 + 0.2)), "0.3");  // 15 significant digits hide the binary tail
    EXPECT_EQ(CStr(Variant(123456789012345.0)), "123456789012345");
    EXPECT_EQ(CStr(Variant(1e15)), "1E+15");
    EXPECT_EQ(CStr(Variant(0.0001)), "0.0001");
    EXPECT_EQ(CStr(Variant(0.00001)), "1E-05");
    EXPECT_EQ(CStr(Variant(-0.0)), "0");
    EXPECT_EQ(CStr(Variant(1.0 / 3.0)), "0.333333333333333");
    EXPECT_EQ(CStr(Variant(1e100)), "1E+100");
    EXPECT_EQ(CStr(Variant(0.1f)), "0.1");
}

TEST(CStrOfNumbers, OtherTypes) {
    EXPECT_EQ(CStr(Variant(true)), "True");
    EXPECT_EQ(CStr(Variant(false)), "False");
    EXPECT_EQ(CStr(Variant()), "");
    EXPECT_EQ(CStr(Variant(int16_t{-32768})), "-32768");
    EXPECT_EQ(CStr(Variant(int32_t{2147483647})), "2147483647");
    EXPECT_EQ(CStr(Variant(uint8_t{255})), "255");
    EXPECT_EQ(CStr(Variant(Currency{12345})), "1.2345");
    EXPECT_EQ(CStr(Variant(Currency{-25000})), "-2.5");
    EXPECT_EQ(CStr(Variant(Decimal::Parse("123.4500"))), "123.45");
    EXPECT_EQ(CStr(Variant::Error(2042)), "Error 2042");
    EXPECT_EQ(ErrorOf([] { CStr(Variant::Null()); }), 94);
    EXPECT_EQ(ErrorOf([] { CStr(Variant::ArrayOf({Variant(1.0)})); }), 13);
}

TEST(WholeNumberConversions, RoundHalfToEven) {
    EXPECT_EQ(CInt(Variant(2.5)), 2);
    EXPECT_EQ(CInt(Variant(3.5)), 4);
    EXPECT_EQ(CInt(Variant(-2.5)), -2);
    EXPECT_EQ(CInt(Variant(-3.5)), -4);
    EXPECT_EQ(CInt(Variant(2.500001)), 3);
    EXPECT_EQ(CLng(Variant(0.5)), 0);
    EXPECT_EQ(CLng(Variant(1.5)), 2);
    EXPECT_EQ(CByte(Variant(254.5)), 254);
    EXPECT_EQ(CLng(Variant(Currency{25000})), 2);    // 2.5
    EXPECT_EQ(CLng(Variant(Currency{35000})), 4);    // 3.5
    EXPECT_EQ(CLng(Variant(Decimal::Parse("-6.5"))), -6);
    EXPECT_EQ(CInt(Variant("2.5")), 2);
    EXPECT_EQ(CInt(Variant(" 1,234 ")), 1234);
    EXPECT_EQ(CInt(Variant("&HFF")), 255);
    EXPECT_EQ(CInt(Variant(true)), -1);
    EXPECT_EQ(CInt(Variant()), 0);
}

TEST(WholeNumberConversions, Errors) {
    EXPECT_EQ(ErrorOf([] { CInt(Variant(32767.5)); }), 6);
    EXPECT_EQ(ErrorOf([] { CInt(Variant(-32768.5)); }), 0);  // rounds to -32768
    EXPECT_EQ(ErrorOf([] { CInt(Variant(-32769.0)); }), 6);
    EXPECT_EQ(ErrorOf([] { CLng(Variant(2147483647.5)); }), 6);
    EXPECT_EQ(ErrorOf([] { CLng(Variant(1e300)); }), 6);
    EXPECT_EQ(ErrorOf([] { CByte(Variant(int16_t{-1})); }), 6);
    EXPECT_EQ(ErrorOf([] { CInt(Variant::Null()); }), 94);
    EXPECT_EQ(ErrorOf([] { CLng(Variant("abc")); }), 13);
    EXPECT_EQ(ErrorOf([] { CLng(Variant("")); }), 13);
    EXPECT_EQ(ErrorOf([] { CLng(Variant("12abc")); }), 13);
    EXPECT_EQ(ErrorOf([] { CDbl(Variant::Nothing()); }), 91);
    EXPECT_EQ(ErrorOf([] { CDbl(Variant::Missing()); }), 13);
}
