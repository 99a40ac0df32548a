// Work-operation lists: the encoding of their entries, the kind and value
// class an empty list takes from its first entry, the room left, and entries
// that are refused whole.
#include <gtest/gtest.h>

#include <functional>

#include "pelmora/common/modADOUtils.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/persistence/WorkOperationsStrings.h"
#include "product/StandIns.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"
#include "support/Raises.h"

using pelmora::WorkOperationsStrings;
using rt::Variant;
using pelmora_test::ErrorOf;
using pelmora_test::Raised;

namespace {

class ListsTest : public ::testing::Test {
protected:
    void SetUp() override {
        rt::Apartment::Reset();
        product::RegisterProductStandIns();
    }
    void TearDown() override { rt::Apartment::Reset(); }

    static std::vector<std::string> Texts(WorkOperationsStrings& w) {
        return {w.get_FNOList(), w.get_FIDList(), w.get_CompList(), w.get_CIDList(),
                w.get_FieldList(), w.get_ValueList(), w.get_ESeqList(), w.get_SeqList()};
    }
};

Variant Date(int y, int m, int d, int h, int n, int s) { return Variant::Date(rt::DateSerial(y, m, d) + rt::TimeSerial(h, n, s)); }

}  // namespace

TEST_F(ListsTest, AttributeEntriesFillTheirSixListsInTheValueListEncoding) {
    WorkOperationsStrings texts;
    EXPECT_EQ(texts.get_FNOList(), "");
    texts.AddNewAttribute(101, 1001, "WATER_MAIN_ATTR", "MATERIAL", 1, Variant("a;b:c 'd' Straße"), 200);
    texts.AddNewAttribute(101, 1002, "WATER_MAIN_ATTR", "NOTE", 2, Variant::Null(), 202);
    texts.AddNewAttribute(101, 1003, "WATER_MAIN_ATTR", "NOTE", 3, Variant(""), 200);
    EXPECT_EQ(texts.get_FNOList(), "101;101;101;");
    EXPECT_EQ(texts.get_FIDList(), "1001;1002;1003;");
    EXPECT_EQ(texts.get_CompList(), "15:WATER_MAIN_ATTR15:WATER_MAIN_ATTR15:WATER_MAIN_ATTR");
    EXPECT_EQ(texts.get_FieldList(), "8:MATERIAL4:NOTE4:NOTE");
    EXPECT_EQ(texts.get_CIDList(), "1;2;3;");
    EXPECT_EQ(texts.get_ValueList(), "16:a;b:c 'd' Straße-1:0:");
    EXPECT_EQ(texts.get_ESeqList(), "");
    EXPECT_EQ(texts.get_Count(), 3);

    WorkOperationsStrings numbers;
    numbers.AddSetAttribute(101, 1001, "C", "D", 1, Variant(12.5), 131);
    numbers.AddSetAttribute(101, 1001, "C", "E", 1, Variant::Null(), 3);
    EXPECT_EQ(numbers.get_ValueList(), "12.5;;");

    WorkOperationsStrings dates;
    dates.AddNewAttribute(101, 1001, "C", "D", 1, Date(2020, 1, 31, 13, 45, 7), 135);
    dates.AddNewAttribute(101, 1001, "C", "E", 1, Variant::Null(), 7);
    EXPECT_EQ(dates.get_ValueList(), "19:01/31/2020 13:45:07-1:");

    WorkOperationsStrings geometry;
    geometry.AddNewGeometryAttribute(101, 1001, "WATER_MAIN_LINE", "SDO_X1", 1, 0, 2, Variant("1000.5"));
    geometry.AddNewGeometryAttribute(101, 1001, "WATER_MAIN_LINE", "SDO_Y1", 1, 0, 2, Variant::Null());
    EXPECT_EQ(geometry.get_ESeqList(), "0;0;");
    EXPECT_EQ(geometry.get_SeqList(), "2;2;");
    EXPECT_EQ(geometry.get_ValueList(), "1000.5;;");

    WorkOperationsStrings deletions;
    deletions.AddDeleteComponent(101, 1001, "X", 4);
    EXPECT_EQ(Texts(deletions), (std::vector<std::string>{"101;", "1001;", "1:X", "4;", "", "", "", ""}));
}

TEST_F(ListsTest, TheFirstEntryFixesKindAndValueClassUntilClear) {
    pelmora::SetMaxListLength(20);
    WorkOperationsStrings w;
    // Too long for any list, yet it fixes the kind.
    EXPECT_FALSE(w.CanAddNewAttribute(1, 1, "A_VERY_LONG_COMPONENT_NAME", "F", 1, Variant(1), 131));
    EXPECT_EQ(w.get_Kind(), WorkOperationsStrings::kNewAttribute);
    EXPECT_FALSE(w.CanAddSetAttribute(1, 1, "C", "F", 1, Variant(1), 131));
    EXPECT_FALSE(w.CanAddDeleteComponent(1, 1, "C", 1));
    EXPECT_TRUE(w.CanAddNewAttribute(1, 1, "C", "F", 1, Variant(1), 131));
    // Numeric types share a class; a text type does not join them.
    EXPECT_TRUE(w.CanAddNewAttribute(1, 1, "C", "F", 1, Variant(int32_t{3}), 3));
    EXPECT_EQ(w.get_ValueClass(), WorkOperationsStrings::kNumeric);
    EXPECT_FALSE(w.CanAddNewAttribute(1, 1, "C", "F", 1, Variant("x"), 202));
    EXPECT_FALSE(w.CanAddNewAttribute(1, 1, "C", "F", 1, Variant::Null(), 135));

    // Adding what does not fit the list's kind or class raises and appends nothing.
    w.AddNewAttribute(1, 2, "C", "F", 1, Variant(5), 5);
    const auto before = Texts(w);
    EXPECT_EQ(ErrorOf([&] { w.AddNewAttribute(1, 2, "C", "F", 1, Variant("x"), 200); }), rt::vberr::TypeMismatch);
    EXPECT_EQ(ErrorOf([&] { w.AddSetAttribute(1, 2, "C", "F", 1, Variant(1), 131); }), rt::vberr::TypeMismatch);
    EXPECT_EQ(ErrorOf([&] { w.AddDeleteGeometryComponent(1, 2, "C", 1); }), rt::vberr::TypeMismatch);
    EXPECT_EQ(Texts(w), before);
    EXPECT_EQ(w.get_Count(), 1);

    w.Clear();
    EXPECT_EQ(w.get_Kind(), 0);
    EXPECT_EQ(w.get_ValueClass(), 0);
    EXPECT_EQ(Texts(w), std::vector<std::string>(8, ""));
    EXPECT_TRUE(w.CanAddSetAttribute(1, 1, "C", "F", 1, Variant("x"), 202));
    EXPECT_EQ(w.get_ValueClass(), WorkOperationsStrings::kString);
}

TEST_F(ListsTest, RoomIsCountedPerListInCharacters) {
    pelmora::SetMaxListLength(30);
    WorkOperationsStrings w;
    w.AddDeleteComponent(1, 123456789, "C", 1);
    w.AddDeleteComponent(1, 123456789, "C", 1);
    ASSERT_EQ(w.get_FIDList().size(), 20u);
    // Ten characters short: a nine-digit number and its ";" fit, ten digits do not.
    EXPECT_TRUE(w.CanAddDeleteComponent(1, 987654321, "C", 1));
    EXPECT_FALSE(w.CanAddDeleteComponent(1, 1987654321, "C", 1));

    // Texts count UTF-16 units with their length prefix; a Null text takes 3,
    // an empty one 2, a date always 22.
    pelmora::SetMaxListLength(12);
    WorkOperationsStrings t;
    t.AddSetAttribute(1, 1, "C", "F", 1, Variant("Zoë"), 200);  // "3:Zoë": 5 characters
    EXPECT_EQ(rt::Len(t.get_ValueList()), 5);
    EXPECT_TRUE(t.CanAddSetAttribute(1, 1, "C", "F", 1, Variant("ßßßßß"), 200));   // 7 more: 12
    EXPECT_FALSE(t.CanAddSetAttribute(1, 1, "C", "F", 1, Variant("ßßßßßß"), 200)); // 8 more: 13
    t.AddSetAttribute(1, 1, "C", "F", 1, Variant::Null(), 200);
    t.AddSetAttribute(1, 1, "C", "F", 1, Variant(""), 200);
    EXPECT_EQ(t.get_ValueList(), "3:Zoë-1:0:");
    EXPECT_FALSE(t.CanAddSetAttribute(1, 1, "C", "F", 1, Variant::Null(), 200));  // 10 + 3
    EXPECT_TRUE(t.CanAddSetAttribute(1, 1, "C", "F", 1, Variant(""), 200));       // 10 + 2
}

TEST_F(ListsTest, AnEntryTooLongForEmptyListsIsRefusedWhole) {
    pelmora::SetMaxListLength(16);
    WorkOperationsStrings w;
    std::string longText(20, 'x');
    EXPECT_FALSE(w.CanAddNewAttribute(101, 1, "C", "F", 1, Variant(longText), 200));
    rt::ComError e = Raised([&] { w.AddNewAttribute(101, 1, "C", "F", 1, Variant(longText), 200); });
    EXPECT_EQ(e.Number(), pelmora::kErrorBase);
    EXPECT_EQ(e.Description(), pelmora::LoadResStringWithParams(25041));
    EXPECT_EQ(e.Source(), pelmora::LoadResStringWithParams(25042));
    // Not one value of it was appended: the lists still hold equal numbers of entries.
    EXPECT_EQ(Texts(w), std::vector<std::string>(8, ""));
    EXPECT_EQ(w.get_Count(), 0);
    w.AddNewAttribute(101, 1, "C", "F", 1, Variant("short"), 200);
    EXPECT_EQ(w.get_FNOList(), "101;");
    EXPECT_EQ(w.get_ValueList(), "5:short");

    // A value its list cannot hold is refused as well, before anything is written.
    WorkOperationsStrings d;
    EXPECT_NE(ErrorOf([&] { d.AddNewAttribute(1, 1, "C", "WHEN", 1, Variant("someday"), 135); }), 0);
    EXPECT_EQ(Texts(d), std::vector<std::string>(8, ""));
}

TEST_F(ListsTest, NumbersOfEveryMagnitudeAreWrittenInVbsFifteenDigitForm) {
    WorkOperationsStrings plain;
    for (double d : {12.5, 0.5, 0.0001, 123456.789, -98.25, 1e14, 3.14159265358979, 2.5e-5, 1e15})
        plain.AddSetGeometryAttribute(101, 1001, "WATER_MAIN_LINE", "SDO_X1", 1, 0, 0, Variant(d));
    EXPECT_EQ(plain.get_ValueList(),
              "12.5;0.5;0.0001;123456.789;-98.25;100000000000000;3.14159265358979;2.5E-05;1E+15;");

    // A run of values with one to four integer digits and two decimals,
    // each after one that needs rounding to fifteen digits.
    WorkOperationsStrings run;
    std::string expected;
    for (int n = 0; n < 2000; n += 7) {
        run.AddSetGeometryAttribute(101, 1001, "WATER_MAIN_LINE", "SDO_X1", 1, 0, 0, Variant(0.1 + 0.2));
        run.AddSetGeometryAttribute(101, 1001, "WATER_MAIN_LINE", "SDO_X1", 1, 0, 0, Variant(n + 0.25));
        expected += "0.3;" + std::to_string(n) + ".25;";
    }
    EXPECT_EQ(run.get_ValueList(), expected);
}

TEST_F(ListsTest, KeysOfEveryMagnitudeAreWrittenWhole) {
    WorkOperationsStrings keys;
    std::string expected;
    for (int32_t k : {0, 7, 9, 10, 99, 100, 101, 12345, 999999999, 1000000000, 2147483647, -1, -10, -100,
                      -2147483647 - 1}) {
        keys.AddDeleteComponent(k, 1, "C", k);
        expected += std::to_string(k) + ";";
    }
    EXPECT_EQ(keys.get_FNOList(), expected);
    EXPECT_EQ(keys.get_CIDList(), expected);
}

TEST_F(ListsTest, ListsReadBetweenEntriesHoldTheirWholeEntriesOnly) {
    pelmora::SetMaxListLength(3000);
    WorkOperationsStrings w;
    // Short and long texts, with characters of two to four bytes; the lists
    // are read between entries and after the entry that no longer fits.
    const std::vector<std::string> values = {"Zoë", std::string(47, 'x'), std::string(48, 'y'),
                                             std::string(49, 'z') + "é", "€" + std::string(60, 'a') + "𝄞", ""};
    std::string comps, texts;
    for (int k = 0;; ++k) {
        const std::string& value = values[static_cast<size_t>(k) % values.size()];
        const std::string comp = k % 2 ? "WATER_MAIN_N" : "Straße";
        const auto before = Texts(w);
        if (!w.TryAddSetAttribute(101, k, comp, "F", k, Variant(value), 200)) {
            EXPECT_EQ(Texts(w), before);
            EXPECT_GT(k, 40);
            break;
        }
        comps += std::to_string(rt::Len(comp)) + ":" + comp;
        texts += std::to_string(rt::Len(value)) + ":" + value;
        if (k % 3 == 0) {
            EXPECT_EQ(w.ListText(WorkOperationsStrings::kValue), texts);
        }
    }
    EXPECT_EQ(w.get_CompList(), comps);
    EXPECT_EQ(w.ListText(WorkOperationsStrings::kValue), texts);
    EXPECT_EQ(w.ListLength(WorkOperationsStrings::kValue), rt::Len(texts));
    EXPECT_EQ(w.ValueList(WorkOperationsStrings::kValue).get_Length(), rt::Len(texts));
    EXPECT_EQ(w.ListLength(WorkOperationsStrings::kComp), rt::Len(comps));
}

TEST_F(ListsTest, ATextTheDatabaseCannotReadIsRefusedWholeAndTheListsStayAsTheyWere) {
    struct Case {
        const char* what;
        std::string text;
        bool taken;
    };
    const Case cases[] = {
        {"letters of two, three and four bytes", "Zoë ∑ 𝄞", true},
        {"a surrogate a cut left alone", "x\xed\xa0\x80", true},
        {"a byte that starts nothing", "a\xff", false},
        {"a continuation byte alone", "\x80" "b", false},
        {"a sequence cut at the end", "EPOXY \xc3", false},
        {"a lead byte before ASCII", "\xc3(", false},
    };
    for (const Case& c : cases) {
        WorkOperationsStrings w;
        w.AddSetAttribute(101, 1001, "C", "A", 1, Variant("kept"), 200);
        const std::vector<std::string> before = Texts(w);
        const int32_t error = ErrorOf([&] { w.AddSetAttribute(101, 1001, "C", "B", 1, Variant(c.text), 200); });
        EXPECT_EQ(error, c.taken ? 0 : rt::vberr::InvalidProcedureCall) << c.what;
        EXPECT_EQ(w.get_Count(), c.taken ? 2 : 1) << c.what;
        if (!c.taken) {
            EXPECT_EQ(Texts(w), before) << c.what;
        }
    }
}
