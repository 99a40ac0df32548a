#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "CommonFakes.h"
#include "pelmora/common/FastString.h"
#include "pelmora/common/modADOUtils.h"

using namespace pelmora;
using namespace commontest;
using pelmora_test::Raised;
using rt::Variant;

namespace {

class FastStringTest : public CommonTest {
protected:
    void SetUp() override {
        CommonTest::SetUp();
        messages->texts[25041] = "The value list is full.";
        messages->texts[25042] = "FastString";
    }
    // A list already holding n characters.
    std::shared_ptr<FastString> ListOfLength(int32_t n) {
        auto s = std::make_shared<FastString>();
        s->Append(std::string(static_cast<size_t>(n), 'x'));
        return s;
    }
    // The characters an append adds to a list.
    template <class F>
    int32_t Added(F&& append) {
        auto s = std::make_shared<FastString>();
        append(*s);
        return s->get_Length();
    }
};

TEST_F(FastStringTest, NewListIsEmpty) {
    FastString s;
    EXPECT_EQ(s.get_Value(), "");
    EXPECT_EQ(s.get_Length(), 0);
}

TEST_F(FastStringTest, EncodesNumbersTextsAndDates) {
    FastString n;
    n.AppendNumericValue(Variant(int32_t{12}));
    n.AppendNumericValue(Variant(3.5));
    n.AppendNumericValue(Variant::Null());
    EXPECT_EQ(n.get_Value(), "12;3.5;;");
    EXPECT_EQ(n.get_Length(), 8);

    FastString t;
    t.AppendStringValue(Variant("abc"));
    t.AppendStringValue(Variant(""));
    t.AppendStringValue(Variant::Null());
    EXPECT_EQ(t.get_Value(), "3:abc0:-1:");
    EXPECT_EQ(t.get_Length(), 10);

    FastString d;
    d.AppendDateValue(Variant::Date(rt::DateSerial(2020, 1, 31) + rt::TimeSerial(13, 45, 7)));
    d.AppendDateValue(Variant::Date(rt::DateSerial(1999, 12, 5)));
    d.AppendDateValue(Variant::Null());
    EXPECT_EQ(d.get_Value(), "19:01/31/2020 13:45:0719:12/05/1999 00:00:00-1:");
}

TEST_F(FastStringTest, TextLengthsCountUtf16Units) {
    FastString t;
    t.AppendStringValue(Variant("\xC3\xA9t\xC3\xA9"));      // "été": three units
    t.AppendStringValue(Variant("\xF0\x9F\x98\x80"));       // one character outside the BMP: two units
    EXPECT_EQ(t.get_Value(), "3:\xC3\xA9t\xC3\xA9" "2:\xF0\x9F\x98\x80");
    EXPECT_EQ(t.get_Length(), 5 + 4);
}

TEST_F(FastStringTest, OtherValuesInTextListsAreConvertedToText) {
    FastString t;
    t.AppendStringValue(Variant(int32_t{42}));
    t.AppendStringValue(Variant(true));
    t.AppendStringValue(Variant());
    EXPECT_EQ(t.get_Value(), "2:424:True0:");
}

TEST_F(FastStringTest, NumbersAreWrittenAsVbWritesADouble) {
    struct Case {
        Variant value;
        std::string text;
    } cases[] = {
        {Variant(int16_t{-7}), "-7"},
        {Variant(int32_t{2147483647}), "2147483647"},
        {Variant(uint8_t{255}), "255"},
        {Variant(true), "-1"},
        {Variant(false), "0"},
        {Variant(), "0"},
        {Variant(1.0 / 3.0), "0.333333333333333"},
        {Variant(-2.0 / 3.0), "-0.666666666666667"},
        {Variant(0.1 + 0.2), "0.3"},
        {Variant(4.35), "4.35"},
        {Variant(123456789012345678.0), "1.23456789012346E+17"},
        {Variant(1e20), "1E+20"},
        {Variant(-1.5e-7), "-1.5E-07"},
        {Variant(0.1f), "0.100000001490116"},
        {Variant(rt::Currency{9223372036854775807LL}), "922337203685478"},
        {Variant(rt::Currency{15000}), "1.5"},
        {Variant(rt::Decimal::Parse("79228162514264337593543950335")), "7.92281625142643E+28"},
        {Variant(rt::Decimal::Parse("0.1234567890123456789")), "0.123456789012346"},
        {Variant(rt::Decimal::Parse("12.50")), "12.5"},
        {Variant("12"), "12"},
        {Variant(" 12345678901234567890 "), "1.23456789012346E+19"},
        {Variant("1,234.5"), "1234.5"},
        // Not numeric: the item is written as Null, so the lists of one batch stay parallel.
        {Variant("abc"), ""},
        {Variant(""), ""},
        {Variant::Date(43861.5), ""},
        {Variant::Missing(), ""},
        {Variant::ArrayOf({Variant(int32_t{1})}), ""},
        {Variant(std::make_shared<FastString>()), ""},
        {Variant::Nothing(), ""},
    };
    for (const Case& c : cases) {
        FastString s;
        s.AppendNumericValue(Variant(int32_t{1}));
        s.AppendNumericValue(c.value);
        EXPECT_EQ(s.get_Value(), "1;" + c.text + ";") << rt::TypeName(c.value) << " " << c.text;
        EXPECT_EQ(s.get_Length(), static_cast<int32_t>(c.text.size()) + 3) << c.text;
    }
}

TEST_F(FastStringTest, ValuesThatAreNotDatesAreRefusedInDateLists) {
    FastString s;
    s.AppendDateValue(Variant("2021-03-04 05:06:07"));
    EXPECT_EQ(s.get_Value(), "19:03/04/2021 05:06:07");
    for (const Variant& v : {Variant("not a date"), Variant(int32_t{5}), Variant()}) {
        EXPECT_THROW(s.AppendDateValue(v), rt::ComError) << rt::TypeName(v);
        EXPECT_EQ(s.get_Length(), 22);
    }
}

TEST_F(FastStringTest, RoomCheckMeasuresExactlyWhatTheAppendWrites) {
    const int32_t max = GetMaxListLength();
    for (const Variant& v : {Variant(int32_t{12}), Variant(3.5), Variant(1.0 / 3.0), Variant(1e20), Variant(0.1f),
                             Variant(rt::Currency{12345}), Variant(rt::Decimal::Parse("1.10")), Variant(" 7 "),
                             Variant(true), Variant(), Variant::Null()}) {
        int32_t item = Added([&](FastString& s) { s.AppendNumericValue(v); });
        EXPECT_TRUE(ListOfLength(max - item)->CanAppendNumericValue(v)) << rt::TypeName(v);
        EXPECT_FALSE(ListOfLength(max - item + 1)->CanAppendNumericValue(v)) << rt::TypeName(v);
        auto full = ListOfLength(max - item);
        full->AppendNumericValue(v);
        EXPECT_EQ(full->get_Length(), max);
    }
    for (const Variant& v : {Variant("abc"), Variant(""), Variant::Null(), Variant(std::string(1234, 'q')),
                             Variant("\xF0\x9F\x98\x80"), Variant(int32_t{-15})}) {
        int32_t item = Added([&](FastString& s) { s.AppendStringValue(v); });
        EXPECT_TRUE(ListOfLength(max - item)->CanAppendStringValue(v)) << item;
        EXPECT_FALSE(ListOfLength(max - item + 1)->CanAppendStringValue(v)) << item;
    }
}

TEST_F(FastStringTest, NumberListRefusesAnItemPastTheMaximum) {
    ASSERT_EQ(GetMaxListLength(), 30000);
    FastString s;
    for (int i = 0; i < 14999; ++i) s.AppendNumericValue(Variant(int16_t{1}));
    ASSERT_EQ(s.get_Length(), 29998);
    EXPECT_TRUE(s.CanAppendNumericValue(Variant(int16_t{5})));
    EXPECT_FALSE(s.CanAppendNumericValue(Variant(int16_t{12})));
    std::string before = s.get_Value();
    rt::ComError e = Raised([&] { s.AppendNumericValue(Variant(int16_t{12})); });
    EXPECT_EQ(e.Number(), Hr(0x80040000u));
    EXPECT_EQ(e.Source(), "FastString");
    EXPECT_EQ(e.Description(), "The value list is full.");
    EXPECT_EQ(s.get_Value(), before);
    EXPECT_EQ(s.get_Length(), 29998);
    s.AppendNumericValue(Variant(int16_t{5}));
    EXPECT_EQ(s.get_Length(), 30000);
    EXPECT_EQ(s.get_Value().substr(29996), "1;5;");
}

TEST_F(FastStringTest, DateAndTextRoomChecksAtTheMaximum) {
    const Variant date = Variant::Date(rt::DateSerial(2020, 1, 31));
    EXPECT_TRUE(ListOfLength(29997)->CanAppendDateValue(Variant::Null()));
    EXPECT_FALSE(ListOfLength(29998)->CanAppendDateValue(Variant::Null()));
    EXPECT_TRUE(ListOfLength(29978)->CanAppendDateValue(date));
    EXPECT_FALSE(ListOfLength(29979)->CanAppendDateValue(date));
    auto s = ListOfLength(29979);
    EXPECT_THROW(s->AppendDateValue(date), rt::ComError);
    EXPECT_EQ(s->get_Length(), 29979);
    auto t = ListOfLength(29995);
    EXPECT_THROW(t->AppendStringValue(Variant("abcd")), rt::ComError);  // 6 characters do not fit in 5
    t->AppendStringValue(Variant("abc"));
    EXPECT_EQ(t->get_Length(), 30000);
}

TEST_F(FastStringTest, InitializeEmptiesTheListAndKeepsTheMaximum) {
    FastString s;
    s.AppendStringValue(Variant("abc"));
    s.Initialize(10);
    EXPECT_EQ(s.get_Value(), "");
    EXPECT_EQ(s.get_Length(), 0);
    s.AppendNumericValue(Variant(int32_t{4}));
    EXPECT_EQ(s.get_Value(), "4;");
    s.Initialize();
    EXPECT_EQ(s.get_Value(), "");
    EXPECT_NO_THROW(s.Initialize(2147483647));  // a room hint far past any list
    // The maximum stays what it was when the object was made.
    rt::Apartment::Reset();
    s.Initialize();
    s.Append(std::string(29999, 'x'));
    EXPECT_TRUE(s.CanAppendNumericValue(Variant::Null()));
    EXPECT_FALSE(s.CanAppendNumericValue(Variant(int16_t{1})));
}

TEST_F(FastStringTest, LongListsGrowWithoutLosingItems) {
    FastString s;
    std::string expected;
    for (int i = 0; i < 2500; ++i) {
        std::string text = "item" + std::to_string(i);
        if (i % 2) {
            s.AppendStringValue(Variant(text));
            expected += std::to_string(text.size()) + ":" + text;
        } else {
            s.Append(text);
            expected += text;
        }
    }
    EXPECT_EQ(s.get_Value(), expected);
    EXPECT_EQ(s.get_Length(), static_cast<int32_t>(expected.size()));
}

TEST_F(FastStringTest, AppendIgnoresTheMaximum) {
    FastString s;
    s.Append(std::string(30005, 'x'));
    EXPECT_EQ(s.get_Length(), 30005);
    EXPECT_FALSE(s.CanAppendStringValue(Variant::Null()));
}

TEST(CommonADOUtils, OracleListsHoldThirtyThousandCharacters) {
    rt::Apartment::Reset();
    EXPECT_EQ(GetDatabaseType(), "Oracle");
    EXPECT_EQ(GetMaxListLength(), 30000);
    EXPECT_EQ(GetMaxListLength(), 30000);
    rt::Apartment::Reset();
    EXPECT_EQ(GetMaxListLength(), 30000);
}

}  // namespace
