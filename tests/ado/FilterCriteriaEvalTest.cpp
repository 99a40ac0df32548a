#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "ado/Enums.h"
#include "ado/FilterCriteria.h"
#include "runtime/Error.h"
#include "runtime/VbText.h"

using ado::FilterCriteria;
using rt::Variant;

namespace {

FilterCriteria One(const std::string& text) {
    FilterCriteria f = FilterCriteria::Parse(text);
    f.Bind([](const std::string&) { return 0; });
    return f;
}

bool Match(const std::string& text, const Variant& value) {
    Variant row[] = {value};
    return One(text).Matches(row);
}

// The error the typed Bind raises for a one-field criteria (0 when none).
int32_t TypedBindError(const std::string& text, ado::DataTypeEnum type) {
    FilterCriteria f = FilterCriteria::Parse(text);
    try {
        f.Bind([](const std::string&) { return 0; }, [&](int index) {
            EXPECT_EQ(index, 0);
            return type;
        });
    } catch (const rt::ComError& e) {
        EXPECT_NE(e.Description().find("'X'"), std::string::npos) << e.Description();
        return e.Number();
    }
    return 0;
}

rt::Decimal Dec(unsigned long long magnitude, uint8_t scale, bool negative = false) {
    rt::Decimal d;
    d.magnitude = magnitude;
    d.scale = scale;
    d.negative = negative;
    return d;
}

// Twelve in every numeric Variant type.
std::vector<Variant> Twelves() {
    return {Variant(int16_t{12}), Variant(int32_t{12}), Variant(12.0f),       Variant(12.0),
            Variant(rt::Currency{120000}), Variant(Dec(1200, 2)), Variant(uint8_t{12})};
}

}  // namespace

TEST(FilterCriteriaEval, TextsCompareWithoutLetterCase) {
    EXPECT_TRUE(Match("X = 'smith'", Variant("SMITH")));
    EXPECT_TRUE(Match("X = 'SMITH'", Variant("Smith")));
    EXPECT_FALSE(Match("X = 'smith'", Variant("smith ")));
    EXPECT_FALSE(Match("X <> 'smith'", Variant("Smith")));
    EXPECT_TRUE(Match("X < 'b'", Variant("A")));
    EXPECT_TRUE(Match("X > 'a'", Variant("B")));
    EXPECT_TRUE(Match("X < 'ab'", Variant("A")));   // a prefix sorts first
    EXPECT_FALSE(Match("X < 'A'", Variant("ab")));
    EXPECT_TRUE(Match("X >= 'abc'", Variant("ABC")));
    EXPECT_TRUE(Match("X <= 'abc'", Variant("ABC")));
    // Letters outside ASCII fold too.
    EXPECT_TRUE(Match("X = 'ärger über straße'", Variant("ÄRGER ÜBER STRAßE")));
    EXPECT_TRUE(Match("X = 'ΑΘΗΝΑ'", Variant("αθηνα")));
    EXPECT_TRUE(Match("X = 'москва'", Variant("МОСКВА")));
    EXPECT_TRUE(Match("X LIKE '*ÖL*'", Variant("heizöl")));
    EXPECT_FALSE(Match("X = 'é'", Variant("e")));
    // Bytes that are not UTF-8 compare as themselves and never crash.
    EXPECT_TRUE(Match(std::string("X = '\xff\xfe'"), Variant(std::string("\xff\xfe"))));
    EXPECT_FALSE(Match(std::string("X = '\xff'"), Variant(std::string("\xfe"))));
    EXPECT_TRUE(Match("X LIKE 'a*'", Variant(std::string("a\xe2\x82"))));  // cut sequence
}

// A filter and VB's text comparison agree on which texts are equal.
TEST(FilterCriteriaEval, LetterCaseAsTheTextComparison) {
    const std::pair<std::string, std::string> pairs[] = {
        {"ΟΔΟΣ", "οδος"}, {"ΟΔΟΣ", "οδοσ"}, {"ԱՐԱՄ", "արամ"}, {"ǄEMAL", "ǆemal"},
        {"ŁÓDŹ", "łódź"}, {"e", "é"},       {"ﬀ", "FF"},        {"ð", "ð"}};
    for (const auto& [literal, value] : pairs) {
        SCOPED_TRACE(literal + " / " + value);
        bool equal = rt::CompareText(literal, value, rt::CompareMode::Text) == 0;
        EXPECT_EQ(Match("X = '" + literal + "'", Variant(value)), equal);
    }
    EXPECT_TRUE(Match("X = 'ΟΔΟΣ'", Variant("οδος")));  // final sigma is a small sigma
}

TEST(FilterCriteriaEval, NumberLiteralAgainstEveryNumericType) {
    for (const Variant& v : Twelves()) {
        SCOPED_TRACE(rt::TypeName(v));
        EXPECT_TRUE(Match("X = 12", v));
        EXPECT_TRUE(Match("X = 12.0", v));
        EXPECT_TRUE(Match("X = 1.2E1", v));
        EXPECT_FALSE(Match("X = 12.5", v));
        EXPECT_TRUE(Match("X < 12.5", v));
        EXPECT_TRUE(Match("X > 11.99", v));
        EXPECT_FALSE(Match("X > 12", v));
        EXPECT_TRUE(Match("X <> -12", v));
    }
    EXPECT_TRUE(Match("X = -1.25", Variant(Dec(125, 2, true))));
    // Decimals the old filter-only conversion rounded one unit away from the literal.
    for (const char* text : {"213.5033119868", "22386.724784", "444.455150261", "4.40995891486503"}) {
        EXPECT_TRUE(Match(std::string("X = ") + text, Variant(rt::Decimal::Parse(text)))) << text;
        EXPECT_TRUE(Match(std::string("X = '") + text + "'", Variant(rt::Decimal::Parse(text)))) << text;
    }
    EXPECT_TRUE(Match("X = 0.0001", Variant(rt::Currency{1})));
    EXPECT_TRUE(Match("X < 0", Variant(rt::Currency{-1})));
}

TEST(FilterCriteriaEval, TextThatReadsAsNumberComparesNumerically) {
    for (const Variant& v : Twelves()) {
        SCOPED_TRACE(rt::TypeName(v));
        EXPECT_TRUE(Match("X = '12'", v));
        EXPECT_TRUE(Match("X = ' 12.00 '", v));
        // As texts "12" < "9"; as numbers it is the other way round.
        EXPECT_TRUE(Match("X > '9'", v));
        EXPECT_FALSE(Match("X < '9'", v));
    }
    // A text that is no number never meets a numeric value, whatever the operator.
    EXPECT_FALSE(Match("X = 'twelve'", Variant(int32_t{12})));
    EXPECT_FALSE(Match("X <> 'twelve'", Variant(int32_t{12})));
    EXPECT_FALSE(Match("X > ''", Variant(12.0)));
}

TEST(FilterCriteriaEval, TypedBindRefusesLiteralsThatDoNotConvert) {
    using ado::err::DataConversion;
    for (auto type : {ado::adInteger, ado::adSmallInt, ado::adDouble, ado::adCurrency, ado::adDecimal,
                      ado::adNumeric, ado::adUnsignedTinyInt, ado::adBigInt}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(TypedBindError("X = 'twelve'", type), DataConversion);
        EXPECT_EQ(TypedBindError("X <> ''", type), DataConversion);
        EXPECT_EQ(TypedBindError("X = '12'", type), 0);
        EXPECT_EQ(TypedBindError("X = 12", type), 0);
        EXPECT_EQ(TypedBindError("X = #1/1/2020#", type), 0);
        EXPECT_EQ(TypedBindError("X = Null", type), 0);
        EXPECT_EQ(TypedBindError("X LIKE 'tw*'", type), 0);
    }
    for (auto type : {ado::adDate, ado::adDBTimeStamp, ado::adDBDate}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(TypedBindError("X = 'soon'", type), DataConversion);
        EXPECT_EQ(TypedBindError("X = #13/45/2020#", type), DataConversion);  // no date: a text
        EXPECT_EQ(TypedBindError("X = '2020-01-31'", type), 0);
        EXPECT_EQ(TypedBindError("X = 43861", type), 0);
    }
    EXPECT_EQ(TypedBindError("X = 'maybe'", ado::adBoolean), DataConversion);
    EXPECT_EQ(TypedBindError("X = 'True'", ado::adBoolean), 0);
    EXPECT_EQ(TypedBindError("X = 0", ado::adBoolean), 0);
    for (auto type : {ado::adVarWChar, ado::adBSTR, ado::adVariant, ado::adChar})
        EXPECT_EQ(TypedBindError("X = 'anything' OR X = 5 OR X = #1/1/2020#", type), 0) << type;

    // Every clause is checked, not only the first.
    FilterCriteria f = FilterCriteria::Parse("A = 1 AND B = 'x'");
    EXPECT_THROW(f.Bind([](const std::string& n) { return n == "A" ? 0 : 1; },
                        [](int) { return ado::adInteger; }),
                 rt::ComError);
    Variant row[] = {Variant(int32_t{1}), Variant(int32_t{1})};
    EXPECT_THROW(f.Matches(row), rt::ComError);  // a failed bind leaves it unbound
}

TEST(FilterCriteriaEval, NumberLiteralAgainstTextFieldComparesAsText) {
    EXPECT_TRUE(Match("X = 5", Variant("5")));
    EXPECT_FALSE(Match("X = 5", Variant("05")));
    EXPECT_TRUE(Match("X = 12.50", Variant("12.5")));  // the number's own text
    EXPECT_TRUE(Match("X = 1E20", Variant("1E+20")));
    EXPECT_TRUE(Match("X = -0.5", Variant("-0.5")));
    // As texts "9" sorts after "10".
    EXPECT_TRUE(Match("X > 10", Variant("9")));
    EXPECT_FALSE(Match("X < 10", Variant("9")));
}

TEST(FilterCriteriaEval, BooleanFields) {
    Variant yes(true), no(false);
    EXPECT_TRUE(Match("X = -1", yes));
    EXPECT_TRUE(Match("X = 1", yes));  // any non-zero number is True
    EXPECT_TRUE(Match("X = 0", no));
    EXPECT_FALSE(Match("X = 0", yes));
    EXPECT_TRUE(Match("X = 'True'", yes));
    EXPECT_TRUE(Match("X = 'false'", no));
    EXPECT_FALSE(Match("X = 'FALSE'", yes));
    EXPECT_TRUE(Match("X <> 'true'", no));
    EXPECT_FALSE(Match("X = 'maybe'", yes));
    EXPECT_FALSE(Match("X <> 'maybe'", no));
    EXPECT_TRUE(Match("X LIKE 'Tr*'", yes));
}

TEST(FilterCriteriaEval, DateFields) {
    const double jan31 = 43861.0;
    const double jan31noon = jan31 + 0.5;
    EXPECT_TRUE(Match("X = #1/31/2020#", Variant::Date(jan31)));
    EXPECT_FALSE(Match("X = #1/31/2020#", Variant::Date(jan31noon)));
    EXPECT_TRUE(Match("X > #1/31/2020#", Variant::Date(jan31noon)));
    EXPECT_TRUE(Match("X < #2/1/2020#", Variant::Date(jan31noon)));
    EXPECT_TRUE(Match("X = #1/31/2020 12:00:00 PM#", Variant::Date(jan31noon)));
    EXPECT_TRUE(Match("X = '2020-01-31'", Variant::Date(jan31)));  // a text that reads as a date
    EXPECT_TRUE(Match("X = 43861", Variant::Date(jan31)));        // a number is a day count
    EXPECT_FALSE(Match("X <> 'soon'", Variant::Date(jan31)));
    EXPECT_FALSE(Match("X < #13/45/2020#", Variant::Date(jan31)));
    // Before 1899-12-30 the time is a positive fraction after a negative day:
    // -1.25 is 1899-12-29 06:00, which comes after -1.0 (midnight that day).
    EXPECT_TRUE(Match("X > #12/29/1899#", Variant::Date(-1.25)));
    EXPECT_TRUE(Match("X < #12/29/1899 12:00:00#", Variant::Date(-1.25)));
    EXPECT_TRUE(Match("X = #12/29/1899 6:00#", Variant::Date(-1.25)));
    // A date literal against a text field compares as its general-date text.
    EXPECT_TRUE(Match("X = #2020-01-31#", Variant("1/31/2020")));
    EXPECT_TRUE(Match("X = #2020-01-31 13:45:07#", Variant("1/31/2020 1:45:07 PM")));
}

TEST(FilterCriteriaEval, NullAndUnusualValuesNeverMatchComparisons) {
    for (const char* text : {"X = 1", "X <> 1", "X < 1", "X > 1", "X = 'a'", "X <> 'a'", "X LIKE '*'",
                             "X = #1/1/2020#"}) {
        EXPECT_FALSE(Match(text, Variant::Null())) << text;
        EXPECT_FALSE(Match(text, Variant())) << text;
        EXPECT_FALSE(Match(text, Variant::Nothing())) << text;
        EXPECT_FALSE(Match(text, Variant::ArrayOf({Variant(uint8_t{1})}, 0, rt::vbByte))) << text;
    }
    EXPECT_TRUE(Match("X <> Null", Variant::ArrayOf({Variant(uint8_t{1})}, 0, rt::vbByte)));
}

TEST(FilterCriteriaEval, LikeOnNumbersUsesTheirText) {
    EXPECT_TRUE(Match("X LIKE '12*'", Variant(int32_t{123})));
    EXPECT_FALSE(Match("X LIKE '12*'", Variant(int32_t{312})));
    EXPECT_TRUE(Match("X LIKE '*.5*'", Variant(2.5)));
    EXPECT_TRUE(Match("X LIKE '1/31/*'", Variant::Date(43861.0)));
    EXPECT_TRUE(Match("X LIKE '6:00:00 AM'", Variant::Date(0.25 + 1e-9)));  // day 0: the time alone
    // A time that rounds to midnight moves to the next day, also where the
    // time is a positive fraction after a negative day.
    EXPECT_TRUE(Match("X LIKE '1/1/2020'", Variant::Date(43830.9999999)));
    EXPECT_TRUE(Match("X LIKE '12/29/1899'", Variant::Date(-2.9999999)));
    EXPECT_TRUE(Match("X LIKE '12/31/1899'", Variant::Date(-0.9999999)));
    // A date value beyond the calendar prints as its number instead.
    EXPECT_TRUE(Match("X LIKE '1E+300'", Variant::Date(1e300)));
    EXPECT_FALSE(Match("X LIKE '*/*'", Variant::Date(std::nan(""))));
    EXPECT_FALSE(Match("X = #1/1/2020#", Variant::Date(std::nan(""))));
}

TEST(FilterCriteriaEval, NotANumberSatisfiesNoOperator) {
    for (const Variant& v : {Variant(std::nan("")), Variant(std::nanf("")), Variant::Date(std::nan(""))})
        for (const char* text : {"X = 1", "X <> 1", "X < 1", "X > 1", "X <= 1", "X >= 1"})
            EXPECT_FALSE(Match(text, v)) << text << " on " << rt::TypeName(v);
    EXPECT_TRUE(Match("X <> Null", Variant(std::nan(""))));
}

TEST(FilterCriteriaEval, MixedRowsWithAndOr) {
    // ID (Long), NAME (String), PRICE (Currency), WHEN (Date), ACTIVE (Boolean)
    std::vector<std::string> names = {"ID", "NAME", "PRICE", "WHEN", "ACTIVE"};
    std::vector<std::vector<Variant>> rows = {
        {Variant(int32_t{1}), Variant("Valve"), Variant(rt::Currency{125000}), Variant::Date(43861.0), Variant(true)},
        {Variant(int32_t{2}), Variant("valve cap"), Variant(rt::Currency{5000}), Variant::Date(43000.0),
         Variant(false)},
        {Variant(int32_t{3}), Variant::Null(), Variant::Null(), Variant::Null(), Variant(true)},
        {Variant(int32_t{4}), Variant("Pipe"), Variant(rt::Currency{990000}), Variant::Date(44000.0),
         Variant(true)},
    };
    auto count = [&](const std::string& text) {
        FilterCriteria f = FilterCriteria::Parse(text);
        f.Bind([&](const std::string& n) {
            for (size_t i = 0; i < names.size(); ++i)
                if (names[i] == n) return static_cast<int>(i);
            return -1;
        });
        std::vector<int> ids;
        for (const auto& r : rows)
            if (f.Matches(r.data())) ids.push_back(r[0].I4());
        return ids;
    };
    using V = std::vector<int>;
    EXPECT_EQ(count("NAME LIKE 'valve*'"), (V{1, 2}));
    EXPECT_EQ(count("NAME LIKE 'valve*' AND PRICE > $10"), (V{1}));
    EXPECT_EQ(count("NAME = Null OR PRICE >= 99"), (V{3, 4}));
    EXPECT_EQ(count("(ACTIVE = -1 AND WHEN > #1/1/2020#) OR ID = 2"), (V{1, 2, 4}));
    EXPECT_EQ(count("ACTIVE = 'True' AND NAME <> 'pipe'"), (V{1}));
    EXPECT_EQ(count("[ID] >= '3'"), (V{3, 4}));
}
