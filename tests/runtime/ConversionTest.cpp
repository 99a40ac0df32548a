#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "runtime/Vb.h"
#include "runtime/Raises.h"

using namespace rt;

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
    EXPECT_EQ(CStr(Variant(999999999999999.5)), "1E+15");              // the rounding carries into the exponent
    EXPECT_EQ(CStr(Variant(1234567890123455.0)), "1.23456789012346E+15");  // a tie at the 16th digit
    EXPECT_EQ(CStr(Variant(99999.99995)), "99999.99995");
    EXPECT_EQ(CStr(Variant(4.9406564584124654e-324)), "4.94065645841247E-324");  // below the normal range
}

TEST(CStrOfNumbers, DoublesOfEveryMagnitudeMatchTheCLibrarysFifteenDigitForm) {
    // Values of a few decimals take a shorter way than the others; both
    // must give C's "%.15G" (VB's layout: same digits, exponent and zero).
    std::vector<double> values = {1e300 / 7, -5e-300 / 3, 9007199254740993.0, 1234567.1234567891, 1e11, 1e-4};
    for (int64_t n : {1LL, 5LL, 25LL, 995LL, 12345LL, 99999LL, 123456789LL, 99999999999LL, 314159265358979LL})
        for (double scale : {1.0, 10.0, 100.0, 1000.0, 10000.0, 100000.0, 1e7})
            for (double sign : {1.0, -1.0}) values.push_back(sign * static_cast<double>(n) / scale);
    std::mt19937_64 bits(7);
    for (int i = 0; i < 100000; ++i) {
        const uint64_t b = bits();
        double d;
        std::memcpy(&d, &b, sizeof d);
        if (std::isfinite(d) && d != 0) values.push_back(d);
    }
    for (double d : values) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.15G", d);
        ASSERT_EQ(DoubleToVbString(d), expected) << std::hexfloat << d;
    }
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
    EXPECT_EQ(CStr(Variant::Missing()), "Error 448");
    EXPECT_EQ(CStr(Variant::Error(HResult(0x800A0009))), "Error 9");
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

TEST(FloatingConversions, TextsAndRanges) {
    EXPECT_DOUBLE_EQ(CDbl(Variant("  -1,234.5e1 ")), -12345.0);
    EXPECT_DOUBLE_EQ(CDbl(Variant("1D2")), 100.0);
    EXPECT_DOUBLE_EQ(CDbl(Variant(".5")), 0.5);
    EXPECT_DOUBLE_EQ(CDbl(Variant("&H10")), 16.0);
    EXPECT_DOUBLE_EQ(CDbl(Variant("&HFFFF")), -1.0);  // four hex digits are an Integer
    EXPECT_DOUBLE_EQ(CDbl(Variant::Date(1.25)), 1.25);
    EXPECT_DOUBLE_EQ(CDbl(Variant(Decimal::Parse("0.1"))), 0.1);
    EXPECT_DOUBLE_EQ(CDbl(Variant(true)), -1.0);
    EXPECT_EQ(ErrorOf([] { CDbl(Variant("1e400")); }), 6);
    EXPECT_EQ(ErrorOf([] { CDbl(Variant("1e")); }), 13);
    EXPECT_EQ(ErrorOf([] { CDbl(Variant(",5")); }), 13);
    EXPECT_EQ(ErrorOf([] { CDbl(Variant("-")); }), 13);
    EXPECT_EQ(ErrorOf([] { CSng(Variant(1e39)); }), 6);
    EXPECT_EQ(CSng(Variant(0.1)), static_cast<double>(0.1f));
}

TEST(ExactConversions, CurrencyRoundsHalfToEvenAtFourPlaces) {
    EXPECT_EQ(CCur(Variant(1.00005)).scaled, 10001);   // the double lies just above the tie
    EXPECT_EQ(CCur(Variant("1.00005")).scaled, 10000);  // exact tie: to even
    EXPECT_EQ(CCur(Variant("1.00015")).scaled, 10002);
    EXPECT_EQ(CCur(Variant("-2.5")).scaled, -25000);
    EXPECT_EQ(CCur(Variant(Decimal::Parse("922337203685477.5807"))).scaled, INT64_MAX);
    EXPECT_EQ(ErrorOf([] { CCur(Variant(1e16)); }), 6);
    EXPECT_EQ(ErrorOf([] { CCur(Variant("922337203685477.5808")); }), 6);
    EXPECT_EQ(Currency::FromDouble(0.00025).scaled, 2);  // tie to even
    EXPECT_EQ(Currency::FromDouble(-123.45).scaled, -1234500);
}

TEST(ExactConversions, DecimalKeepsEveryDigit) {
    Decimal big = Decimal::Parse("79228162514264337593543950335");
    EXPECT_EQ(big.ToString(), "79228162514264337593543950335");
    EXPECT_EQ(ErrorOf([] { Decimal::Parse("79228162514264337593543950336"); }), 6);
    EXPECT_EQ(Decimal::Parse("-0.0000000000000000000000000001").ToString(), "-0.0000000000000000000000000001");
    // More than 28 fraction digits round half to even.
    EXPECT_EQ(Decimal::Parse("0.00000000000000000000000000015").ToString(), "0.0000000000000000000000000002");
    EXPECT_EQ(Decimal::Parse("0.00000000000000000000000000025").ToString(), "0.0000000000000000000000000002");
    EXPECT_EQ(Decimal::Parse("1.5e3").ToString(), "1500");
    EXPECT_EQ(Decimal::Parse("  +12.50 ").ToString(), "12.5");
    EXPECT_EQ(ErrorOf([] { Decimal::Parse("12.5x"); }), 13);
    EXPECT_EQ(ErrorOf([] { Decimal::Parse(""); }), 13);
    EXPECT_EQ(Decimal::FromDouble(0.1).ToString(), "0.1");
    EXPECT_EQ(Decimal::FromDouble(-1234.5678).ToString(), "-1234.5678");
    EXPECT_EQ(ErrorOf([] { Decimal::FromDouble(1e29); }), 6);
    EXPECT_EQ(Decimal::FromInt64(INT64_MIN).ToString(), "-9223372036854775808");
    EXPECT_TRUE(Decimal::Parse("1.50") == Decimal::Parse("1.5"));
    EXPECT_TRUE(Decimal::Parse("-0") == Decimal::Parse("0.000"));
    EXPECT_FALSE(Decimal::Parse("1.5") == Decimal::Parse("-1.5"));
    EXPECT_EQ(DecimalCompare(Decimal::Parse("2"), Decimal::Parse("10.000001")), -1);
    EXPECT_EQ(DecimalCompare(Decimal::Parse("-2"), Decimal::Parse("-10")), 1);
    EXPECT_EQ(DecimalCompare(Decimal::Parse("0.30"), Decimal::Parse("0.3")), 0);
    EXPECT_EQ(CDec(Variant(Currency{-15})).ToString(), "-0.0015");
    EXPECT_EQ(CDec(Variant("1,000.25")).ToString(), "1000.25");
}

// The double nearest to a Decimal, as strtod gives it from the exact text.
TEST(ExactConversions, DecimalToDoubleIsCorrectlyRounded) {
    struct Case {
        const char* text;
        double nearest;
    };
    const Case ties[] = {
        {"9007199254740993", 9007199254740992.0},                // 2^53 + 1: tie, to even (down)
        {"9007199254740995", 9007199254740996.0},                // tie, to even (up)
        {"9007199254740993.000000000001", 9007199254740994.0},   // just above the tie
        {"4503599627370496.5", 4503599627370496.0},              // fraction tie, to even
        {"4503599627370497.5", 4503599627370498.0},
        {"-4503599627370496.5000000000001", -4503599627370497.0},
        {"18446744073709553664", 18446744073709551616.0},        // 2^64 + 2^11: tie at 64 bits
        {"79228162514264337593543950335", 79228162514264337593543950336.0},
        {"0.0000000000000000000000000001", 1e-28},
        {"-0.000", 0.0},
    };
    for (const auto& c : ties) {
        Decimal d = Decimal::Parse(c.text);
        EXPECT_EQ(d.ToDouble(), c.nearest) << c.text;
        EXPECT_EQ(d.ToDouble(), std::strtod(d.ToString().c_str(), nullptr)) << c.text;
        EXPECT_FALSE(std::signbit(d.ToDouble()) && d.ToDouble() == 0) << c.text;
    }
    std::mt19937_64 gen(20261207);
    for (int i = 0; i < 200000; ++i) {
        Decimal d;
        int width = static_cast<int>(gen() % 96) + 1;
        d.magnitude = ((static_cast<unsigned __int128>(gen()) << 64) | gen()) >> (128 - width);
        d.scale = static_cast<uint8_t>(gen() % 29);
        d.negative = (gen() & 1) != 0 && d.magnitude != 0;
        ASSERT_EQ(d.ToDouble(), std::strtod(d.ToString().c_str(), nullptr)) << d.ToString();
    }
}

TEST(BooleanConversion, NumbersAndTexts) {
    EXPECT_TRUE(CBool(Variant(int32_t{5})));
    EXPECT_FALSE(CBool(Variant(0.0)));
    EXPECT_TRUE(CBool(Variant(" true ")));
    EXPECT_FALSE(CBool(Variant("FALSE")));
    EXPECT_TRUE(CBool(Variant("-1")));
    EXPECT_FALSE(CBool(Variant("0.0")));
    EXPECT_FALSE(CBool(Variant()));
    EXPECT_TRUE(CBool(Variant(Decimal::Parse("0.0001"))));
    EXPECT_EQ(ErrorOf([] { CBool(Variant("yes")); }), 13);
    EXPECT_EQ(ErrorOf([] { CBool(Variant::Null()); }), 94);
}

TEST(ValAndIsNumeric, LeadingNumberOnly) {
    EXPECT_DOUBLE_EQ(Val("  1 2 3abc"), 123.0);  // blanks inside are skipped
    EXPECT_DOUBLE_EQ(Val("-12.5e2xyz"), -1250.0);
    EXPECT_DOUBLE_EQ(Val("abc"), 0.0);
    EXPECT_DOUBLE_EQ(Val(""), 0.0);
    EXPECT_DOUBLE_EQ(Val("1,234"), 1.0);  // a comma ends the number
    EXPECT_DOUBLE_EQ(Val("&HFF"), 255.0);
    EXPECT_DOUBLE_EQ(Val("&HFFFF"), -1.0);
    EXPECT_DOUBLE_EQ(Val("&o17"), 15.0);
    EXPECT_DOUBLE_EQ(Val("3.5.6"), 3.5);
    EXPECT_DOUBLE_EQ(Val("2e"), 2.0);

    EXPECT_TRUE(IsNumeric(Variant("1,234.5")));
    EXPECT_TRUE(IsNumeric(Variant(" -3 ")));
    EXPECT_TRUE(IsNumeric(Variant()));
    EXPECT_TRUE(IsNumeric(Variant(true)));
    EXPECT_FALSE(IsNumeric(Variant("")));
    EXPECT_FALSE(IsNumeric(Variant("12a")));
    EXPECT_FALSE(IsNumeric(Variant::Null()));
    EXPECT_FALSE(IsNumeric(Variant::Date(1.0)));
    EXPECT_FALSE(IsNumeric(Variant::Nothing()));
}
