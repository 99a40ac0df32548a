#include <gtest/gtest.h>

#include "runtime/Raises.h"
#include "runtime/Vb.h"

using namespace rt;

// "Zürich 😀": the emoji takes two UTF-16 code units, the ü one.
static const std::string kMixed = "Z\xC3\xBCrich \xF0\x9F\x98\x80";

TEST(Utf16Counting, LengthsAndCuts) {
    EXPECT_EQ(Len(""), 0);
    EXPECT_EQ(Len("abc"), 3);
    EXPECT_EQ(Len(kMixed), 9);
    EXPECT_EQ(Left(kMixed, 2), "Z\xC3\xBC");
    EXPECT_EQ(Right(kMixed, 2), "\xF0\x9F\x98\x80");
    EXPECT_EQ(Mid(kMixed, 2, 5), "\xC3\xBCrich");
    EXPECT_EQ(Mid(kMixed, 8), "\xF0\x9F\x98\x80");
    EXPECT_EQ(InStr(kMixed, "rich"), 3);
    EXPECT_EQ(InStr(kMixed, "\xF0\x9F\x98\x80"), 8);
    EXPECT_EQ(InStrRev(kMixed, "i"), 4);
    // Cutting a pair in two keeps both halves, which make the character again.
    std::string first = Left(kMixed, 8), rest = Mid(kMixed, 9);
    EXPECT_EQ(Len(first), 8);
    EXPECT_EQ(Len(rest), 1);
    EXPECT_EQ(Len(first + rest), 9);
    EXPECT_EQ(ToUtf8(ToUtf16(first + rest)), kMixed);
}

TEST(Utf16Counting, ConversionRoundTrip) {
    EXPECT_EQ(ToUtf8(ToUtf16(kMixed)), kMixed);
    std::u16string u = ToUtf16(kMixed);
    ASSERT_EQ(u.size(), 9u);
    EXPECT_EQ(u[1], 0xFC);
    EXPECT_EQ(u[7], 0xD83D);
    EXPECT_EQ(u[8], 0xDE00);
    // A byte that starts no character reads as U+FFFD instead of being dropped.
    EXPECT_EQ(ToUtf16("a\xFF" "b"), std::u16string(u"a\uFFFDb"));
    EXPECT_EQ(ToUtf16("\xC0\xAF"), std::u16string(u"\uFFFD\uFFFD"));  // overlong form refused
}

TEST(CutFunctions, BadLengthsRaise5) {
    EXPECT_EQ(ErrorOf([] { Left("abc", -1); }), 5);
    EXPECT_EQ(ErrorOf([] { Right("abc", -1); }), 5);
    EXPECT_EQ(ErrorOf([] { Mid("abc", 0); }), 5);
    EXPECT_EQ(ErrorOf([] { Mid("abc", 1, -2); }), 5);
    EXPECT_EQ(ErrorOf([] { InStr("abc", "a", 0); }), 5);
    EXPECT_EQ(ErrorOf([] { Space(-1); }), 5);
    EXPECT_EQ(ErrorOf([] { String(-1, 'x'); }), 5);
    EXPECT_EQ(Left("abc", 10), "abc");
    EXPECT_EQ(Right("abc", 10), "abc");
    EXPECT_EQ(Left("abc", 0), "");
    EXPECT_EQ(Mid("abc", 4), "");
    EXPECT_EQ(Mid("abc", 2, 0), "");
    EXPECT_EQ(Mid("abc", 2, 100), "bc");
}

TEST(SearchFunctions, InStrAndInStrRev) {
    EXPECT_EQ(InStr("abcabc", "c"), 3);
    EXPECT_EQ(InStr("abcabc", "c", 4), 6);
    EXPECT_EQ(InStr("abcabc", "C"), 0);
    EXPECT_EQ(InStr("abcabc", "C", 1, CompareMode::Text), 3);
    EXPECT_EQ(InStr("abc", ""), 1);
    EXPECT_EQ(InStr("abc", "", 3), 3);
    EXPECT_EQ(InStr("abc", "a", 4), 0);
    EXPECT_EQ(InStr("", ""), 0);
    EXPECT_EQ(InStrRev("abcabc", "b"), 5);
    EXPECT_EQ(InStrRev("abcabc", "B", CompareMode::Text), 5);
    EXPECT_EQ(InStrRev("abc", "x"), 0);
    EXPECT_EQ(InStrRev("abc", "abcd"), 0);
}

TEST(SplitAndJoin, VbEdgeCases) {
    EXPECT_EQ(Split("a,b,,c", ","), (std::vector<std::string>{"a", "b", "", "c"}));
    EXPECT_TRUE(Split("", ",").empty());
    EXPECT_EQ(Split("abc", ""), (std::vector<std::string>{"abc"}));
    EXPECT_EQ(Split("a b c"), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(Split("a,b,c", ",", 2), (std::vector<std::string>{"a", "b,c"}));
    EXPECT_EQ(Split(",", ","), (std::vector<std::string>{"", ""}));
    EXPECT_EQ(Split("a::b", "::"), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(Split("a,b", ",", 0).empty());
    EXPECT_EQ(Join({"a", "", "c"}, ", "), "a, , c");
    EXPECT_EQ(Join({}, ","), "");
    EXPECT_EQ(Join(Split("x;y;z", ";"), ";"), "x;y;z");
}

TEST(TrimAndCase, BlanksOnlyAndLetters) {
    EXPECT_EQ(Trim("  a b  "), "a b");
    EXPECT_EQ(LTrim("  a "), "a ");
    EXPECT_EQ(RTrim("  a "), "  a");
    EXPECT_EQ(Trim("\ta\t"), "\ta\t");  // tabs are not blanks to VB
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(UCase("abc-Zürich"), "ABC-ZÜRICH");
    EXPECT_EQ(LCase("ABC-ÉCOLE"), "abc-école");
    EXPECT_EQ(UCase("straße"), "STRAßE");  // no length change
    EXPECT_EQ(Replace("a.b.c", ".", "::"), "a::b::c");
    EXPECT_EQ(Replace("aaa", "aa", "b"), "ba");
    EXPECT_EQ(Replace("abc", "", "x"), "abc");
    EXPECT_EQ(Space(3), "   ");
    EXPECT_EQ(String(2, '*'), "**");
    EXPECT_TRUE(NamesEqual("QTX_Fno", "qtx_FNO"));
    EXPECT_FALSE(NamesEqual("QTX_FNO", "QTX_FN"));
}
