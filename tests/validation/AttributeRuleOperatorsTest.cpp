// The typed comparisons and the evaluators of one comparison rule, with the
// sample's attribute data types (2103 integer, 2201 number, 102 date, 2101
// text).
#include <gtest/gtest.h>

#include "AttributeValidationTestSupport.h"

using attrvaltest::AttributeValidationFixture;
using attrvaltest::RuleRow;
using attrvaltest::RuleRows;
using attrvaltest::Show;
using rt::Variant;

namespace {

Variant DateOf(int y, int m, int d) { return Variant::Date(rt::DateSerial(y, m, d)); }

class AttributeRuleOperators : public AttributeValidationFixture {
protected:
    bool Rule(const RuleRow& row, const Variant& value) {
        return pelmora::ValidateAttributeRule(Walk(row), value, Metadata());
    }
    bool RuleValue(const RuleRow& row, const Variant& value, const Variant& related) {
        return pelmora::ValidateAttributeRuleValue(Walk(row), value, related, Metadata());
    }
    // The value sets of the tests: 7 and 9 for the valve size (2103).
    pelmora::RuleWalk Walk(const RuleRow& row) {
        auto sets = std::make_shared<pelmora::AttributeValueSets>();
        sets->push_back({2103, {Variant(int32_t{7}), Variant(int32_t{9})}});
        return pelmora::RuleWalk{RuleRows({row}), sets};
    }
};

TEST_F(AttributeRuleOperators, TypedComparisonsConvertByDataTypeAndTreatNullsApart) {
    struct Case {
        int32_t dataType;
        Variant a, b;
        // =, <>, >, >=, <, <=
        std::array<bool, 6> expected;
    };
    const Variant null = Variant::Null();
    const Case cases[] = {
        {1, Variant(false), Variant(true), {false, true, true, true, false, false}},  // True is -1
        {1, Variant(int32_t{5}), Variant(true), {true, false, false, true, false, true}},
        {3, Variant("12"), Variant(12.0), {true, false, false, true, false, true}},
        {4, Variant(2.5), Variant(int32_t{2}), {true, false, false, true, false, true}},  // half to even
        {3, Variant(3.5), Variant(int32_t{4}), {true, false, false, true, false, true}},
        {6, Variant("12abc"), Variant(int32_t{12}), {true, false, false, true, false, true}},
        {5, Variant("abc"), Variant(int32_t{0}), {true, false, false, true, false, true}},
        {7, Variant("1,5"), Variant(int32_t{1}), {true, false, false, true, false, true}},
        {6, Variant("&H10"), Variant("1e1"), {false, true, true, true, false, false}},
        {8, Variant("2004-09-02"), DateOf(2004, 9, 2), {true, false, false, true, false, true}},
        {8, Variant("1998-04-17"), Variant("2004-09-02"), {false, true, false, false, true, true}},
        // The same texts again, and shapes close to them, read as before.
        {8, Variant("2004-09-02"), DateOf(2004, 9, 2), {true, false, false, true, false, true}},
        {8, Variant("2004-9-2"), DateOf(2004, 9, 2), {true, false, false, true, false, true}},
        {8, Variant("2004-09-02 12:00"), DateOf(2004, 9, 2), {false, true, true, true, false, false}},
        {10, Variant("a"), Variant("B"), {false, true, true, true, false, false}},  // by character code
        {2, Variant(int32_t{10}), Variant("9"), {false, true, true, true, false, false}},
        {3, null, null, {true, false, false, true, false, true}},
        {3, null, Variant(int32_t{1}), {false, true, false, false, false, false}},
        {3, Variant(int32_t{1}), null, {false, true, false, false, false, false}},
    };
    for (const auto& c : cases) {
        const std::array<bool, 6> got = {pelmora::IsEqualTyped(c.dataType, c.a, c.b),
                                         pelmora::IsNotEqualTyped(c.dataType, c.a, c.b),
                                         pelmora::IsGreaterTyped(c.dataType, c.a, c.b),
                                         pelmora::IsGreaterOrEqualTyped(c.dataType, c.a, c.b),
                                         pelmora::IsLessTyped(c.dataType, c.a, c.b),
                                         pelmora::IsLessOrEqualTyped(c.dataType, c.a, c.b)};
        EXPECT_EQ(got, c.expected) << "type " << c.dataType << ": " << rt::TypeName(c.a) << " " << Show(c.a)
                                   << " vs " << Show(c.b);
    }
    EXPECT_TRUE(recorder_->records.empty());
}

TEST_F(AttributeRuleOperators, AValueItsTypeCannotTakeFailsEveryComparisonWithAMessage) {
    for (auto compare : {pelmora::IsEqualTyped, pelmora::IsNotEqualTyped, pelmora::IsLessOrEqualTyped}) {
        recorder_->records.clear();
        EXPECT_FALSE(compare(3, Variant("abc"), Variant(int32_t{1})));
        EXPECT_FALSE(compare(8, Variant("no date"), DateOf(2000, 1, 1)));
        // Shaped like a date, but none: refused every time it is read.
        EXPECT_FALSE(compare(8, Variant("2004-02-30"), DateOf(2000, 1, 1)));
        EXPECT_EQ(recorder_->records.size(), 3u);
    }
}

TEST_F(AttributeRuleOperators, ARuleAgainstItsOwnValue) {
    struct Case {
        Variant ano;
        const char* op;
        Variant vv;
        Variant value;
        bool expected;
    };
    const Variant null = Variant::Null();
    const Variant size(int32_t{2103}), rotation(int32_t{2201}), date(int32_t{102});
    auto n = [](int32_t v) { return Variant(v); };
    const Case cases[] = {
        {size, "=", null, null, true},
        {size, "=", null, n(5), false},
        {size, "<>", null, n(5), true},
        {size, "<>", null, null, false},
        {size, "<", null, n(5), true},  // any other operator without a value holds
        {size, "InSetEitherOr", null, n(5), true},
        {size, "EitherOr", null, null, true},
        {size, "EitherOr", null, n(7), true},
        {size, "EitherOr", null, n(8), false},
        {size, "EitherOr", Variant("5"), n(5), true},
        {size, "EitherOr", Variant("5"), n(9), true},
        {size, "EitherOr", Variant("5"), n(8), false},
        {size, ">=", Variant("100"), n(150), true},
        {size, "<>", Variant("300"), n(300), false},
        {rotation, "<=", Variant("90.5"), Variant(90.0), true},
        {date, ">", Variant("1995-01-01"), DateOf(1990, 1, 1), false},
        {size, "= ", Variant("5"), n(6), true},  // operators match exactly
        {size, "Like", Variant("5"), n(6), true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Rule({c.ano, Variant(c.op), c.vv}, c.value), c.expected)
            << rt::CStr(c.ano) << " '" << c.op << "' " << Show(c.vv) << " on " << Show(c.value);
    }
    EXPECT_TRUE(recorder_->records.empty());
}

TEST_F(AttributeRuleOperators, RangesAreInclusiveSplitAtTheFirstDashAndConvertedByDataType) {
    struct Case {
        Variant ano;
        const char* range;
        std::vector<std::pair<int32_t, bool>> values;
        size_t boxes;
    };
    const Variant size(int32_t{2103}), rotation(int32_t{2201});
    const Case cases[] = {
        {size, "10-20", {{10, true}, {15, true}, {20, true}, {9, false}, {21, false}}, 0},
        {size, " 10 - 20 ", {{10, true}, {20, true}, {21, false}}, 0},
        {size, "-5-10", {{0, false}}, 2},         // "" is no integer, nor is "5-10"
        {rotation, "-5-10", {{0, true}, {5, true}, {6, false}}, 0},  // 0 to 5
        {size, "1020", {{15, false}}, 1},         // no dash
    };
    for (const auto& c : cases) {
        for (const auto& [value, expected] : c.values) {
            recorder_->records.clear();
            EXPECT_EQ(Rule({c.ano, Variant("InSetEitherOr"), Variant(c.range)}, Variant(value)), expected)
                << "'" << c.range << "' on " << value;
            EXPECT_EQ(recorder_->records.size(), c.boxes) << "'" << c.range << "' on " << value;
        }
    }
}

TEST_F(AttributeRuleOperators, ARuleAgainstARelatedValue) {
    struct Case {
        const char* op;
        Variant vv, value, related;
        bool expected;
    };
    const Variant null = Variant::Null();
    auto n = [](int32_t v) { return Variant(v); };
    const Case cases[] = {
        {"<>", null, n(1), null, false},  // a Null related value meets nothing
        {"=", null, null, null, false},
        {"<=", null, n(150), Variant(200.0), true},
        {">", null, n(150), Variant(200.0), false},
        {"=", Variant("999"), n(150), n(150), true},  // the rule's own value plays no part
        {"EitherOr", Variant("5"), n(5), n(1), true},
        {"EitherOr", Variant("5"), n(7), n(1), true},
        {"EitherOr", Variant("5"), n(8), n(8), false},
        {"InSetEitherOr", Variant("10-20"), n(15), n(999), true},  // the rule's range, not the related value
        {"InSetEitherOr", Variant("10-20"), n(999), n(15), false},
        {"Unknown", null, n(1), n(2), true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RuleValue({Variant(int32_t{2103}), Variant(c.op), c.vv}, c.value, c.related), c.expected)
            << c.op << " " << Show(c.value) << " against " << Show(c.related);
    }
}

TEST_F(AttributeRuleOperators, AnAttributeWithoutDataTypeFailsItsRuleWithAMessage) {
    EXPECT_FALSE(Rule({Variant(int32_t{9999}), Variant(">="), Variant("1")}, Variant(int32_t{5})));
    EXPECT_FALSE(RuleValue({Variant(int32_t{9999}), Variant(">="), Variant::Null()}, Variant(int32_t{5}),
                           Variant(int32_t{1})));
    EXPECT_EQ(recorder_->records.size(), 2u);
}

}  // namespace

TEST_F(AttributeRuleOperators, AWalkFindsEachFieldWhereTheRowsAtHandHoldIt) {
    // Rows of two layouts, and rows made again with the fields in another order.
    auto rows = [](std::vector<std::string> names) {
        ado::RecordsetImage image;
        for (const auto& n : names) image.fields.push_back(ado::FieldDesc{n, ado::adVariant, 0, 0, 0, ado::adFldIsNullable, "", n});
        for (size_t i = 0; i < names.size(); ++i) image.values.push_back(Variant(names[i] + "-value"));
        return ado::Recordset::FromImage(image);
    };
    auto a = rows({"SIZE_MM", "VALVE_TYPE"});
    auto b = rows({"VALVE_TYPE", "OTHER", "SIZE_MM"});
    pelmora::RuleWalk walk = Walk(RuleRow{Variant(int32_t{2103}), Variant("="), Variant(int32_t{1})});
    struct Case {
        std::shared_ptr<ado::Recordset> rows;
        std::string name;
        int32_t expected;
    };
    const Case cases[] = {
        {a, "SIZE_MM", 0}, {b, "SIZE_MM", 2}, {a, "SIZE_MM", 0}, {a, "VALVE_TYPE", 1},
        {b, "VALVE_TYPE", 0}, {a, "OTHER", -1}, {b, "OTHER", 1}, {a, "size_mm", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(walk.FieldOf(*c.rows, c.name), c.expected) << c.name;
        if (c.expected < 0) continue;
        EXPECT_EQ(Show(pelmora::RuleFieldValue(*c.rows, c.name, walk, "QTX_ACTIVEFIELDNAME", "C")),
                  Show(c.rows->GetValue(Variant(c.name))));
    }
    // Rows made afresh, perhaps where the first ones lay.
    a.reset();
    a = rows({"OTHER", "VALVE_TYPE", "SIZE_MM", "SIZE"});
    EXPECT_EQ(walk.FieldOf(*a, "SIZE_MM"), 2);
    EXPECT_EQ(walk.FieldOf(*a, "VALVE_TYPE"), 1);
}

TEST_F(AttributeRuleOperators, KeptConversionsOfARuleStandForItsRowsAsTheyAre) {
    auto rules = RuleRows({{Variant(int32_t{2103}), Variant("<="), Variant::Null(), Variant::Null(), Variant(int32_t{101})},
                           {Variant("2201"), Variant(">"), Variant("0")}});
    // Each walk's conversions against the columns read afresh, rule by rule.
    auto walkOver = [&](const std::shared_ptr<ado::Recordset>& rows) {
        pelmora::RuleWalk walk{rows, nullptr};
        walk.UseKeptFacts();
        std::vector<std::string> seen;
        for (rows->MoveFirst(); !rows->get_EOF(); rows->MoveNext()) {
            walk.AtCurrentRule();
            for (int pass = 0; pass < 2; ++pass) {
                EXPECT_EQ(walk.ActiveANO(), rt::CLng(rows->GetValue(Variant("QTX_ACTIVEANO"))));
                EXPECT_EQ(walk.Operator(), rt::CStr(rows->GetValue(Variant("QTX_OPERATOR"))));
            }
            seen.push_back(std::to_string(walk.ActiveANO()) + walk.Operator() + std::to_string(walk.RelatedFNO()));
        }
        return seen;
    };
    EXPECT_EQ(walkOver(rules), (std::vector<std::string>{"2103<=101", "2201>0"}));
    EXPECT_EQ(walkOver(rules->Clone()), (std::vector<std::string>{"2103<=101", "2201>0"})) << "another walk, same rows";
    rules->MoveFirst();
    rules->SetValue(Variant("QTX_OPERATOR"), Variant(">="));
    rules->SetValue(Variant("QTX_RELATEDFNO"), Variant::Null());
    rules->Update();
    EXPECT_EQ(walkOver(rules->Clone()), (std::vector<std::string>{"2103>=0", "2201>0"})) << "a value changed";
    rules->AddNew();
    rules->SetValue(Variant("QTX_ACTIVEANO"), Variant(int32_t{102}));
    rules->SetValue(Variant("QTX_OPERATOR"), Variant("<"));
    rules->Update();
    EXPECT_EQ(walkOver(rules->Clone()), (std::vector<std::string>{"2103>=0", "2201>0", "102<0"})) << "a row added";
}
