#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ado/Enums.h"
#include "ado/FilterCriteria.h"
#include "runtime/Error.h"

using ado::FilterCriteria;
using rt::Variant;

namespace {

// Parses and binds against the given field names (compared exactly).
FilterCriteria Bound(const std::string& text, const std::vector<std::string>& names) {
    FilterCriteria f = FilterCriteria::Parse(text);
    f.Bind([&](const std::string& n) {
        for (size_t i = 0; i < names.size(); ++i)
            if (names[i] == n) return static_cast<int>(i);
        return -1;
    });
    return f;
}

int32_t ParseError(const std::string& text) {
    try {
        FilterCriteria::Parse(text);
    } catch (const rt::ComError& e) {
        EXPECT_FALSE(e.Description().empty());
        return e.Number();
    }
    return 0;
}

// Three Long fields a, b, c holding 0 or 1.
bool Eval3(const std::string& text, bool a, bool b, bool c) {
    FilterCriteria f = Bound(text, {"a", "b", "c"});
    Variant row[] = {Variant(int32_t{a}), Variant(int32_t{b}), Variant(int32_t{c})};
    return f.Matches(row);
}

}  // namespace

TEST(FilterCriteriaGrammar, EveryComparisonOperatorOnNumbers) {
    struct Case {
        const char* op;
        bool (*expect)(int, int);
    } cases[] = {
        {"=", [](int x, int y) { return x == y; }},  {"<>", [](int x, int y) { return x != y; }},
        {"<", [](int x, int y) { return x < y; }},   {">", [](int x, int y) { return x > y; }},
        {"<=", [](int x, int y) { return x <= y; }}, {">=", [](int x, int y) { return x >= y; }},
    };
    for (const auto& c : cases) {
        for (int value : {4, 5, 6}) {
            for (const char* spacing : {" ", ""}) {
                std::string text = std::string("N") + spacing + c.op + spacing + "5";
                FilterCriteria f = Bound(text, {"N"});
                Variant row[] = {Variant(int32_t{value})};
                EXPECT_EQ(f.Matches(row), c.expect(value, 5)) << text << " with N=" << value;
            }
        }
    }
}

TEST(FilterCriteriaGrammar, FieldNamesWithAndWithoutBrackets) {
    FilterCriteria f = Bound("[First Name] = 'Ann' AND Last_Name='Lee'", {"Last_Name", "First Name"});
    Variant yes[] = {Variant("Lee"), Variant("Ann")};
    Variant no[] = {Variant("Lee"), Variant("Bob")};
    EXPECT_TRUE(f.Matches(yes));
    EXPECT_FALSE(f.Matches(no));

    // A bracketed name may hold characters that would end a bare one.
    FilterCriteria g = Bound("[a<b (x)]>=2", {"a<b (x)"});
    Variant two[] = {Variant(int32_t{2})};
    EXPECT_TRUE(g.Matches(two));

    EXPECT_EQ(ParseError("[First Name = 'Ann'"), ado::err::InvalidArgument);
    EXPECT_EQ(ParseError("[] = 'Ann'"), ado::err::InvalidArgument);
}

TEST(FilterCriteriaGrammar, QuotedTextsWithDoubledQuotes) {
    FilterCriteria f = Bound("Name = 'O''Malley'", {"Name"});
    Variant match[] = {Variant("O'Malley")};
    Variant other[] = {Variant("O")};
    EXPECT_TRUE(f.Matches(match));
    EXPECT_FALSE(f.Matches(other));

    FilterCriteria empty = Bound("Name = ''", {"Name"});
    Variant blank[] = {Variant("")};
    EXPECT_TRUE(empty.Matches(blank));
    EXPECT_FALSE(empty.Matches(match));

    // Keywords inside a text are only text.
    FilterCriteria kw = Bound("Name = 'a AND b OR c'", {"Name"});
    Variant kwRow[] = {Variant("a and b or c")};
    EXPECT_TRUE(kw.Matches(kwRow));

    // A text with quotes at both ends is written between #.
    FilterCriteria quoted = Bound("Name = #'1'#", {"Name"});
    Variant q[] = {Variant("'1'")};
    Variant plain[] = {Variant("1")};
    EXPECT_TRUE(quoted.Matches(q));
    EXPECT_FALSE(quoted.Matches(plain));

    EXPECT_EQ(ParseError("Name = 'abc"), ado::err::InvalidArgument);
    EXPECT_EQ(ParseError("Name = 'abc''"), ado::err::InvalidArgument);
    EXPECT_EQ(ParseError("Name = \"abc\""), ado::err::InvalidArgument);
}

TEST(FilterCriteriaGrammar, DateLiterals) {
    // 2020-01-31 is OLE day 43861.
    const double day = 43861.0;
    const double at134507 = day + (13 * 3600 + 45 * 60 + 7) / 86400.0;
    struct Case {
        const char* text;
        double expect;
    } cases[] = {
        {"D = #1/31/2020#", day},
        {"D = #01/31/2020#", day},
        {"D = #1/31/20#", day},
        {"D = #2020-01-31#", day},
        {"D = #2020-01-31 13:45:07#", at134507},
        {"D = #1/31/2020 1:45:07 PM#", at134507},
        {"D = # 1/31/2020 13:45:07 #", at134507},
        {"D = #8/24/95#", day - 8926},  // 1995-08-24
    };
    for (const auto& c : cases) {
        FilterCriteria f = Bound(c.text, {"D"});
        Variant hit[] = {Variant::Date(c.expect)};
        Variant miss[] = {Variant::Date(c.expect + 1.0 / 86400)};
        EXPECT_TRUE(f.Matches(hit)) << c.text;
        EXPECT_FALSE(f.Matches(miss)) << c.text;
    }
    FilterCriteria range = Bound("D >= #1/1/2020# AND D < #2/1/2020#", {"D"});
    Variant in[] = {Variant::Date(at134507)};
    Variant out[] = {Variant::Date(day + 1)};
    EXPECT_TRUE(range.Matches(in));
    EXPECT_FALSE(range.Matches(out));

    EXPECT_EQ(ParseError("D = #1/31/2020"), ado::err::InvalidArgument);
    EXPECT_EQ(ParseError("D = ##"), ado::err::InvalidArgument);
}

TEST(FilterCriteriaGrammar, NumberLiterals) {
    struct Case {
        const char* literal;
        double value;
    } cases[] = {{"12", 12},   {"-12", -12},       {"12.5", 12.5},   {"-0.25", -0.25}, {".5", 0.5},
                 {"1e3", 1000}, {"1.5E-2", 0.015}, {"$50.00", 50},   {"+7", 7},        {"-$3", -3}};
    for (const auto& c : cases) {
        FilterCriteria f = Bound(std::string("X = ") + c.literal, {"X"});
        Variant hit[] = {Variant(c.value)};
        Variant miss[] = {Variant(c.value + 1)};
        EXPECT_TRUE(f.Matches(hit)) << c.literal;
        EXPECT_FALSE(f.Matches(miss)) << c.literal;
    }
    for (const char* bad : {"X = 5x", "X = 1.2.3", "X = -", "X = $", "X = e5", "X = Smith"})
        EXPECT_EQ(ParseError(bad), ado::err::InvalidArgument) << bad;
}

TEST(FilterCriteriaGrammar, NullOnlyWithEqualOrNotEqual) {
    FilterCriteria isNull = Bound("X = Null", {"X"});
    FilterCriteria notNull = Bound("X <> NULL", {"X"});
    Variant nul[] = {Variant::Null()};
    Variant empty[] = {Variant()};
    Variant zero[] = {Variant(int32_t{0})};
    Variant blank[] = {Variant("")};
    EXPECT_TRUE(isNull.Matches(nul));
    EXPECT_TRUE(isNull.Matches(empty));
    EXPECT_FALSE(isNull.Matches(zero));
    EXPECT_FALSE(isNull.Matches(blank));
    EXPECT_FALSE(notNull.Matches(nul));
    EXPECT_TRUE(notNull.Matches(zero));
    EXPECT_TRUE(notNull.Matches(blank));
    for (const char* bad : {"X < Null", "X >= null", "X LIKE Null"})
        EXPECT_EQ(ParseError(bad), ado::err::InvalidArgument) << bad;
    // The word Null inside quotes is a text.
    FilterCriteria text = Bound("X = 'Null'", {"X"});
    Variant word[] = {Variant("NULL")};
    EXPECT_TRUE(text.Matches(word));
    EXPECT_FALSE(text.Matches(nul));
}

TEST(FilterCriteriaGrammar, LikePatterns) {
    struct Case {
        const char* pattern;
        const char* value;
        bool expect;
    } cases[] = {
        {"'Smit*'", "Smith", true},    {"'Smit*'", "smitten", true}, {"'Smit*'", "Asmith", false},
        {"'Smit%'", "SMITH", true},    {"'*mit*'", "Asmith", true},  {"'%mit%'", "Smith", true},
        {"'*mit*'", "Smoth", false},   {"'*'", "", true},            {"'*'", "anything", true},
        {"'Smith'", "smith", true},    {"'Smith'", "Smiths", false}, {"'S_i?h*'", "S_i?hx", true},
        {"'S_i?h*'", "Smith", false},  {"'**'", "x", true},
    };
    for (const auto& c : cases) {
        FilterCriteria f = Bound(std::string("Name LIKE ") + c.pattern, {"Name"});
        Variant row[] = {Variant(c.value)};
        EXPECT_EQ(f.Matches(row), c.expect) << c.pattern << " on " << c.value;
    }
    FilterCriteria f = Bound("Name like 'A*'", {"Name"});
    Variant nul[] = {Variant::Null()};
    EXPECT_FALSE(f.Matches(nul));

    // Wildcards only at the end, or at both ends.
    for (const char* bad : {"Name LIKE '*mit'", "Name LIKE 'S*h'", "Name LIKE 'S%h*'", "Name LIKE 5",
                            "Name LIKE #1/1/2020#", "Name LIKE"})
        EXPECT_EQ(ParseError(bad), ado::err::InvalidArgument) << bad;
}

TEST(FilterCriteriaGrammar, KeywordsIgnoreLetterCase) {
    FilterCriteria f = Bound("a = 1 and b = 1 Or c = null oR (a = 0 AnD b like '0*')", {"a", "b", "c"});
    Variant r1[] = {Variant(int32_t{1}), Variant(int32_t{1}), Variant(int32_t{0})};
    Variant r2[] = {Variant(int32_t{1}), Variant(int32_t{0}), Variant::Null()};
    Variant r3[] = {Variant(int32_t{0}), Variant("0a"), Variant(int32_t{0})};
    Variant r4[] = {Variant(int32_t{0}), Variant(int32_t{1}), Variant(int32_t{0})};
    EXPECT_TRUE(f.Matches(r1));
    EXPECT_TRUE(f.Matches(r2));
    EXPECT_TRUE(f.Matches(r3));
    EXPECT_FALSE(f.Matches(r4));
    // A name that only starts like a keyword is a name.
    FilterCriteria names = Bound("ORDER = 1 AND ANDREW = 2", {"ORDER", "ANDREW"});
    Variant row[] = {Variant(int32_t{1}), Variant(int32_t{2})};
    EXPECT_TRUE(names.Matches(row));
}

TEST(FilterCriteriaGrammar, AllowedGroupingsEvaluateAsWritten) {
    struct Case {
        const char* text;
        bool (*expect)(bool, bool, bool);
    } cases[] = {
        {"a = 1 AND b = 1", [](bool a, bool b, bool) { return a && b; }},
        {"a = 1 OR b = 1 OR c = 1", [](bool a, bool b, bool c) { return a || b || c; }},
        {"(a = 1 AND b = 1) OR (b = 1 AND c = 1)", [](bool a, bool b, bool c) { return (a && b) || (b && c); }},
        {"a = 1 AND b = 1 OR c = 1", [](bool a, bool b, bool c) { return (a && b) || c; }},
        {"a = 1 OR (b = 1 AND c = 1)", [](bool a, bool b, bool c) { return a || (b && c); }},
        {"(a = 1 OR b = 1) OR c = 0", [](bool a, bool b, bool c) { return a || b || !c; }},
        {"((a = 1)) AND (b = 0 AND (c = 1))", [](bool a, bool b, bool c) { return a && !b && c; }},
        {"(a <> 1 AND b <> 1 AND c <> 1)", [](bool a, bool b, bool c) { return !a && !b && !c; }},
    };
    for (const auto& c : cases)
        for (int bits = 0; bits < 8; ++bits) {
            bool a = bits & 1, b = bits & 2, cc = bits & 4;
            EXPECT_EQ(Eval3(c.text, a, b, cc), c.expect(a, b, cc)) << c.text << " bits " << bits;
        }
}

TEST(FilterCriteriaGrammar, OrGroupsJoinedWithAndAreRefused) {
    for (const char* bad : {
             "(a = 1 OR b = 1) AND c = 1",
             "c = 1 AND (a = 1 OR b = 1)",
             "a = 1 OR b = 1 AND c = 1",  // read left to right, the OR would be joined by AND
             "(a = 1 AND b = 1) OR (b = 1 AND c = 1) AND a = 1",
             "((a = 1 OR b = 1)) AND c = 1",
         })
        EXPECT_EQ(ParseError(bad), ado::err::InvalidArgument) << bad;
}

TEST(FilterCriteriaGrammar, MalformedTextIsRefused) {
    for (const char* bad : {"", "   ", "a", "a =", "= 5", "a == 5", "a != 5", "a => 5", "(a = 1", "a = 1)",
                            "a = 1 b = 2", "a = 1 AND", "a = 1 OR OR b = 2", "()", "a = 1 AND ()", "a = 'x'y",
                            "a = 1 XOR b = 2", "a IS NULL", "a = #1/1/2020"})
        EXPECT_EQ(ParseError(bad), ado::err::InvalidArgument) << "'" << bad << "'";
}

TEST(FilterCriteriaGrammar, DeepNestingIsRefusedNotOverflowed) {
    std::string ok = std::string(40, '(') + "a = 1" + std::string(40, ')');
    EXPECT_TRUE(Eval3(ok, true, false, false));
    std::string deep = std::string(100000, '(') + "a = 1" + std::string(100000, ')');
    EXPECT_EQ(ParseError(deep), ado::err::InvalidArgument);
}

TEST(FilterCriteriaGrammar, UnknownFieldAndUnboundUse) {
    FilterCriteria f = FilterCriteria::Parse("a = 1 OR Missing = 2");
    try {
        f.Bind([](const std::string& n) { return n == "a" ? 0 : -1; });
        FAIL() << "bind accepted an unknown field";
    } catch (const rt::ComError& e) {
        EXPECT_EQ(e.Number(), ado::err::ItemNotFound);
        EXPECT_NE(e.Description().find("Missing"), std::string::npos);
    }
    Variant row[] = {Variant(int32_t{1}), Variant(int32_t{2})};
    try {
        f.Matches(row);
        FAIL() << "matched after a failed bind";
    } catch (const rt::ComError& e) {
        EXPECT_EQ(e.Number(), ado::err::IllegalOperation);
    }
    // The name reaches the resolver as written, brackets removed.
    std::vector<std::string> asked;
    FilterCriteria g = FilterCriteria::Parse("[Two Words] = 1 AND x = 2");
    g.Bind([&](const std::string& n) {
        asked.push_back(n);
        return static_cast<int>(asked.size() - 1);
    });
    EXPECT_EQ(asked, (std::vector<std::string>{"Two Words", "x"}));
    EXPECT_TRUE(g.Matches(row));
}
