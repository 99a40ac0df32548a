#include <gtest/gtest.h>

#include "runtime/Raises.h"
#include "runtime/Vb.h"

using namespace rt;

namespace {
std::optional<int> Cmp(const Variant& a, const Variant& b, CompareMode m = CompareMode::Binary) {
    return VbCompare(a, b, m);
}
}  // namespace

TEST(VbCompareRules, NullGivesNullAndEmptyTakesTheOtherSidesKind) {
    EXPECT_FALSE(Cmp(Variant::Null(), Variant(1.0)).has_value());
    EXPECT_FALSE(Cmp(Variant("a"), Variant::Null()).has_value());
    EXPECT_FALSE(Cmp(Variant::Null(), Variant::Null()).has_value());
    EXPECT_EQ(Cmp(Variant(), Variant()), 0);
    EXPECT_EQ(Cmp(Variant(), Variant(int32_t{0})), 0);
    EXPECT_EQ(Cmp(Variant(), Variant(-1.0)), 1);
    EXPECT_EQ(Cmp(Variant(), Variant("")), 0);
    EXPECT_EQ(Cmp(Variant(""), Variant()), 0);
    EXPECT_EQ(Cmp(Variant(), Variant("a")), -1);
    EXPECT_EQ(Cmp(Variant(), Variant(false)), 0);
}

TEST(VbCompareRules, NumbersCompareByValueAcrossTypes) {
    EXPECT_EQ(Cmp(Variant(int16_t{2}), Variant(2.0)), 0);
    EXPECT_EQ(Cmp(Variant(int32_t{3}), Variant(2.5f)), 1);
    EXPECT_EQ(Cmp(Variant(Currency{15000}), Variant(1.5)), 0);
    EXPECT_EQ(Cmp(Variant(Decimal::Parse("0.1")), Variant(Currency{1000})), 0);
    EXPECT_EQ(Cmp(Variant(true), Variant(int16_t{-1})), 0);
    EXPECT_EQ(Cmp(Variant::Date(2.0), Variant(int32_t{1})), 1);
    EXPECT_EQ(Cmp(Variant(uint8_t{200}), Variant(int16_t{-5})), 1);
    // Exact types compare exactly even beyond a double's precision.
    EXPECT_EQ(Cmp(Variant(Decimal::Parse("9007199254740993")), Variant(Decimal::Parse("9007199254740992"))), 1);
}

TEST(VbCompareRules, TextsAndNumberTexts) {
    EXPECT_EQ(Cmp(Variant("abc"), Variant("abd")), -1);
    EXPECT_EQ(Cmp(Variant("B"), Variant("a")), -1);  // binary: upper case first
    EXPECT_EQ(Cmp(Variant("B"), Variant("a"), CompareMode::Text), 1);
    EXPECT_EQ(Cmp(Variant("ABC"), Variant("abc"), CompareMode::Text), 0);
    EXPECT_EQ(Cmp(Variant("ab"), Variant("abc")), -1);
    EXPECT_EQ(Cmp(Variant("10"), Variant("9")), -1);  // texts stay texts
    // A number against a text that reads as a number compares numerically.
    EXPECT_EQ(Cmp(Variant(int32_t{10}), Variant("9")), 1);
    EXPECT_EQ(Cmp(Variant(" 1,000 "), Variant(1000.0)), 0);
    EXPECT_EQ(ErrorOf([] { Cmp(Variant(int32_t{1}), Variant("one")); }), 13);
    EXPECT_EQ(Cmp(Variant(true), Variant(" true")), 0);
    EXPECT_EQ(Cmp(Variant("False"), Variant(true)), 1);  // True is -1
    EXPECT_EQ(ErrorOf([] { Cmp(Variant(int32_t{1}), Variant("True")); }), 13);
    EXPECT_EQ(Cmp(Variant::Date(DateSerial(2020, 1, 31)), Variant("1/30/2020")), 1);
    EXPECT_EQ(ErrorOf([] { Cmp(Variant::ArrayOf({Variant(1.0)}), Variant(1.0)); }), 13);
    EXPECT_EQ(ErrorOf([] { Cmp(Variant::Nothing(), Variant(1.0)); }), 91);
}

TEST(VbCompareRules, TextCompareFoldsNonAsciiLetters) {
    EXPECT_EQ(Cmp(Variant("ÉCOLE"), Variant("école"), CompareMode::Text), 0);
    EXPECT_NE(Cmp(Variant("ÉCOLE"), Variant("école")), 0);
    EXPECT_EQ(Cmp(Variant("ДОМ"), Variant("дом"), CompareMode::Text), 0);
    // Binary order is UTF-16 order: a character above the surrogates sorts after one below.
    EXPECT_EQ(Cmp(Variant("\xF0\x9F\x98\x80"), Variant("\xEF\xBC\xA1")), -1);
}

TEST(StrCompFunction, ResultsAndNull) {
    EXPECT_EQ(StrComp(Variant("a"), Variant("b")).I2(), -1);
    EXPECT_EQ(StrComp(Variant("b"), Variant("a")).I2(), 1);
    EXPECT_EQ(StrComp(Variant("A"), Variant("a"), CompareMode::Text).I2(), 0);
    EXPECT_EQ(StrComp(Variant("A"), Variant("a")).I2(), -1);
    EXPECT_TRUE(StrComp(Variant::Null(), Variant("a")).IsNull());
    EXPECT_EQ(StrComp(Variant(int32_t{10}), Variant("10")).I2(), 0);  // both as texts
}

TEST(LikeOperator, Wildcards) {
    EXPECT_TRUE(Like("aBBBa", "a*a"));
    EXPECT_FALSE(Like("aBBBa", "a*b"));
    EXPECT_TRUE(Like("F", "?"));
    EXPECT_FALSE(Like("", "?"));
    EXPECT_TRUE(Like("", "*"));
    EXPECT_TRUE(Like("a2a", "a#a"));
    EXPECT_FALSE(Like("aaa", "a#a"));
    EXPECT_TRUE(Like("F", "[A-Z]"));
    EXPECT_FALSE(Like("f", "[A-Z]"));
    EXPECT_TRUE(Like("f", "[A-Z]", CompareMode::Text));
    EXPECT_TRUE(Like("a", "[!b-z]"));
    EXPECT_FALSE(Like("c", "[!b-z]"));
    EXPECT_TRUE(Like("b", "[a-cx]"));
    EXPECT_TRUE(Like("x", "[a-cx]"));
    EXPECT_TRUE(Like("-", "[a-]"));
    EXPECT_TRUE(Like("*", "[*]"));
    EXPECT_FALSE(Like("x", "[*]"));
    EXPECT_TRUE(Like("a*b", "a[*]b"));
    EXPECT_TRUE(Like("ab", "a[]b"));  // [] stands for nothing
    EXPECT_TRUE(Like("ABC", "abc", CompareMode::Text));
    EXPECT_FALSE(Like("ABC", "abc"));
    EXPECT_TRUE(Like("EN_US", "EN*"));
    EXPECT_TRUE(Like("ÉCOLE", "é*", CompareMode::Text));
    EXPECT_TRUE(Like("日本", "??"));  // one unit per character of the BMP
    EXPECT_TRUE(Like("xabcabcy", "*abc*y"));
    EXPECT_FALSE(Like("abcab", "*abc*y"));
}

TEST(LikeOperator, BadPatternsRaise93) {
    EXPECT_EQ(ErrorOf([] { Like("a", "[a-"); }), 93);
    EXPECT_EQ(ErrorOf([] { Like("a", "[z-a]"); }), 93);
}

TEST(LikeOperator, ManyStarsStayFast) {
    std::string text(2000, 'a');
    std::string pattern = "*a*a*a*a*a*a*a*a*a*a*b";
    EXPECT_FALSE(Like(text, pattern));
}
