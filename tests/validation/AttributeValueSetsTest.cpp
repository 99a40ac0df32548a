// The value sets of the set operators, the next free QTX_CID, and the
// appending of failures to ValidationErrorArrays.
#include <gtest/gtest.h>

#include <functional>

#include "AttributeValidationTestSupport.h"

using attrvaltest::AttributeValidationFixture;
using attrvaltest::RuleRow;
using attrvaltest::RuleRows;
using attrvaltest::Show;
using attrvaltest::Texts;
using rt::Variant;

namespace {

class AttributeValueSets : public AttributeValidationFixture {};

std::vector<std::string> Describe(const pelmora::AttributeValueSets& sets) {
    std::vector<std::string> out;
    for (const auto& e : sets) {
        std::string s = std::to_string(e.ANO) + ":";
        for (const auto& v : e.Values) s += " " + Show(v);
        out.push_back(s);
    }
    return out;
}

TEST_F(AttributeValueSets, SetRulesOfAFittingTypeGiveTheirOwnOrTheRelatedValue) {
    const Variant null = Variant::Null();
    const Variant either("EitherOr");
    auto n = [](int32_t v) { return Variant(v); };
    auto rules = RuleRows({
        {n(2102), either, Variant("OPEN")},
        {n(2102), either, Variant("CLOSED"), n(3)},
        {n(2103), Variant("InSetEitherOr"), Variant("6-25")},  // a range, never a set value
        {n(2104), either, null, null, n(101), Variant("WATER_MAIN_ATTR"), Variant("DIAMETER")},
        {n(2101), either, null},  // nothing to add: no entry either
        {n(2105), null, Variant("X")},
    });
    struct Case {
        const char* relationshipType;
        bool withMain;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"", true, {"2102: OPEN CLOSED", "2104: 200"}},
        {"5", true, {"2102: OPEN", "2104: 200"}},
        {"3", false, {"2102: OPEN CLOSED"}},
    };
    for (const auto& c : cases) {
        auto related = c.withMain ? Feature(101, 1001) : nullptr;
        auto sets = pelmora::LoadSetValues(pelmora::RuleWalk{rules, nullptr}, c.relationshipType, related);
        EXPECT_EQ(Describe(*sets), c.expected) << "type '" << c.relationshipType << "'";
        EXPECT_EQ(pelmora::AttributeValidationState().ValueSets, sets);
        EXPECT_TRUE(rules->get_EOF());
    }
    EXPECT_TRUE(recorder_->records.empty());
}

TEST_F(AttributeValueSets, SetsOfTheRulesAloneAreKeptWhileTheirViewAndRowsStay) {
    const Variant either("EitherOr");
    auto rules = RuleRows({{Variant(int32_t{2102}), either, Variant("OPEN")},
                           {Variant(int32_t{2102}), either, Variant("CLOSED"), Variant(int32_t{3})}});
    auto load = [&](const std::shared_ptr<ado::Recordset>& rows, const std::string& type) {
        auto sets = pelmora::LoadSetValues(pelmora::RuleWalk{rows, nullptr}, type, nullptr);
        EXPECT_TRUE(rows->get_EOF());
        EXPECT_EQ(pelmora::AttributeValidationState().ValueSets, sets);
        return sets;
    };
    struct Case {
        const char* change;
        std::function<std::shared_ptr<ado::Recordset>()> clone;  // the rules as the next walk sees them
        const char* type;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"a value", [&] {
             rules->MoveFirst();
             rules->SetValue(Variant("QTX_VALIDATIONVALUE"), Variant("SHUT"));
             rules->Update();
             return rules->Clone();
         }, "", {"2102: SHUT CLOSED"}},
        {"a row", [&] {
             rules->AddNew();
             rules->SetValue(Variant("QTX_ACTIVEANO"), Variant(int32_t{2105}));
             rules->SetValue(Variant("QTX_OPERATOR"), either);
             rules->SetValue(Variant("QTX_VALIDATIONVALUE"), Variant("X"));
             rules->Update();
             return rules->Clone();
         }, "", {"2102: SHUT CLOSED", "2105: X"}},
        {"the filter", [&] {
             auto c = rules->Clone();
             c->put_Filter(Variant("QTX_ACTIVEANO = 2105"));
             return c;
         }, "", {"2105: X"}},
        {"the sort", [&] {
             auto c = rules->Clone();
             c->put_Sort("QTX_ACTIVEANO DESC");
             return c;
         }, "", {"2105: X", "2102: SHUT CLOSED"}},
        {"the relationship type", [&] { return rules->Clone(); }, "5", {"2102: SHUT", "2105: X"}},
    };
    auto previous = load(rules, "");
    EXPECT_EQ(Describe(*previous), (std::vector<std::string>{"2102: OPEN CLOSED"}));
    EXPECT_EQ(load(rules->Clone(), ""), previous) << "the same rows again";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.change);
        auto rows = c.clone();
        auto sets = load(rows, c.type);
        EXPECT_NE(sets, previous);
        EXPECT_EQ(Describe(*sets), c.expected);
        EXPECT_EQ(load(rows, c.type), sets) << "kept again";
        previous = sets;
    }

    // A set rule that takes the related feature's value is read every time.
    auto related = RuleRows({{Variant(int32_t{2104}), either, Variant::Null(), Variant::Null(), Variant(int32_t{101}),
                              Variant("WATER_MAIN_ATTR"), Variant("DIAMETER")}});
    auto main = Feature(101, 1001);
    auto first = pelmora::LoadSetValues(pelmora::RuleWalk{related, nullptr}, "", main);
    EXPECT_NE(pelmora::LoadSetValues(pelmora::RuleWalk{related, nullptr}, "", main), first);
    EXPECT_EQ(Describe(*first), (std::vector<std::string>{"2104: 200"}));
    EXPECT_TRUE(recorder_->records.empty());
}

TEST_F(AttributeValueSets, ARelatedComponentTheFeatureLacksGivesNullAfterAMessage) {
    auto rules = RuleRows({{Variant(int32_t{2104}), Variant("EitherOr"), Variant::Null(), Variant::Null(),
                            Variant(int32_t{101}), Variant("NO_SUCH_COMPONENT"), Variant("DIAMETER")}});
    EXPECT_TRUE(pelmora::GetRelatedValue(pelmora::RuleWalk{rules, nullptr}, Feature(101, 1001)).IsNull());
    ASSERT_EQ(recorder_->records.size(), 1u);
    EXPECT_EQ(recorder_->records[0].title, attrvaltest::Message(pelmora::attrmsg::Title));
    // A feature of another number than the rule's is no source at all.
    EXPECT_TRUE(pelmora::GetRelatedValue(pelmora::RuleWalk{rules, nullptr}, Feature(103, 3001)).IsNull());
    EXPECT_EQ(recorder_->records.size(), 1u);
}

TEST_F(AttributeValueSets, TheNextCidIsAboveEveryRowWhereverTheCursorStands) {
    struct Case {
        std::vector<Variant> cids;
        bool fromLastRow;
        int16_t expected;
    };
    const Variant null = Variant::Null();
    auto n = [](int32_t v) { return Variant(v); };
    const Case cases[] = {
        {{}, false, 1},
        {{n(3), n(1), null}, false, 4},
        {{n(0)}, false, 2},
        {{n(5), n(1)}, true, 6},  // the rows before the cursor count too
    };
    for (const auto& c : cases) {
        ado::RecordsetImage image;
        image.fields.push_back(ado::FieldDesc{"QTX_CID", ado::adSmallInt, 2, 5, 0, ado::adFldIsNullable, "", ""});
        image.values = c.cids;
        auto rs = ado::Recordset::FromImage(image);
        if (c.fromLastRow) rs->MoveLast();
        EXPECT_EQ(pelmora::GetNextCID(rs), c.expected) << c.cids.size() << " rows";
        if (!c.cids.empty()) {
            EXPECT_EQ(rs->get_AbsolutePosition(), 1);
        }
    }
}

TEST_F(AttributeValueSets, AFailureTakesAFreeLastSlotOrGrowsBothArrays) {
    struct Case {
        const char* name;
        Variant priorities, messages;
        Variant priority;
        std::vector<std::string> expectedPriorities, expectedMessages;
        int32_t lbound;
    };
    const Variant null = Variant::Null();
    const Case cases[] = {
        {"empty", Variant(), Variant(), Variant("2"), {"2"}, {"new"}, 0},
        {"null", null, null, Variant("2"), {"2"}, {"new"}, 0},
        {"used, from 1", Variant::ArrayOf({Variant("1")}, 1), Variant::ArrayOf({Variant("old")}, 1), Variant("2"),
         {"1", "2"}, {"old", "new"}, 1},
        {"free last slot", Variant::ArrayOf({Variant("1"), Variant("")}), Variant::ArrayOf({Variant("old"), Variant("")}),
         Variant("2"), {"1", "2"}, {"old", "new"}, 0},
        // A finding whose priority is Null still holds its slot.
        {"Null priority kept", Variant::ArrayOf({null}), Variant::ArrayOf({Variant("old")}), Variant("2"),
         {"Null", "2"}, {"old", "new"}, 0},
    };
    for (const auto& c : cases) {
        Variant p = c.priorities, m = c.messages;
        pelmora::AppendValidationFailure(p, m, c.priority, Variant("new"));
        EXPECT_EQ(Texts(p), c.expectedPriorities) << c.name;
        EXPECT_EQ(Texts(m), c.expectedMessages) << c.name;
        EXPECT_EQ(rt::LBound(p), c.lbound) << c.name;
    }
}

TEST_F(AttributeValueSets, AnInterfacesOwnArraysAreAddedPairByPair) {
    Variant p = Variant::ArrayOf({Variant("1")});
    Variant m = Variant::ArrayOf({Variant("earlier")});
    Variant priorities = Variant::ArrayOf({Variant("7"), Variant("8")}, 0, rt::vbString);
    pelmora::AppendValidationFailures(p, m, priorities, Variant::UnallocatedArray(rt::vbString));
    EXPECT_EQ(Texts(p), (std::vector<std::string>{"1", "7", "8"}));
    EXPECT_EQ(Texts(m), (std::vector<std::string>{"earlier", "", ""}));
}

}  // namespace
