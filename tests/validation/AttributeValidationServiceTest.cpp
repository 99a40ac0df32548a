// The service end to end on the sample: which rules Execute and Validate
// apply between a valve and a main, the arrays they fill, and the members
// callers reach by ProgID.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "AttributeValidationTestSupport.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "support/EditableMetadata.h"
#include "runtime/Object.h"

using attrvaltest::AttributeValidationFixture;
using attrvaltest::Message;
using attrvaltest::Texts;
using pelmora::attrmsg::RuleFailed;
using pelmora::attrmsg::RuleFailedAgainst;
using rt::Variant;

namespace {

class AttributeValidationService : public AttributeValidationFixture {};

TEST_F(AttributeValidationService, RelatedFeatureAndRelatedComponentExcludeEachOther) {
    auto s = std::make_shared<pelmora::AttributeValidationService>();
    auto main = Feature(101, 1001);
    auto candidate = Rows(main, "WATER_MAIN_ATTR");
    s->putref_RelatedFeature(main);
    s->putref_RelatedComponent(candidate);
    EXPECT_EQ(s->get_RelatedFeature(), nullptr);
    EXPECT_EQ(s->get_RelatedComponent(), candidate);
    s->putref_RelatedFeature(main);
    EXPECT_EQ(s->get_RelatedComponent(), nullptr);
    EXPECT_EQ(s->get_RelatedFeature(), main);
}

TEST_F(AttributeValidationService, CreatedByProgIdAndDrivenLateBound) {
    auto object = rt::CreateObject(pelmora::kAttributeValidationServiceProgId);
    auto s = rt::QueryInterface<pelmora::IAttributeValidationService>(object);
    rt::CallByName(object, "DataContext", rt::InvokeKind::PropertySet, {Variant(dc_)});
    rt::CallByName(object, "ActiveFeature", rt::InvokeKind::PropertySet, {Variant(Feature(102, 2002))});
    rt::CallByName(object, "RelatedFeature", rt::InvokeKind::PropertySet, {Variant(Feature(101, 1001))});
    rt::CallByName(object, "RelationshipType", rt::InvokeKind::PropertyLet, {Variant("3")});
    EXPECT_EQ(s->get_RelationshipType(), "3");
    rt::Args args{Variant(), Variant()};
    rt::CallByName(object, "Validate", rt::InvokeKind::Method, args);
    EXPECT_EQ(Texts(args[0]), (std::vector<std::string>{"5", "12", "18"}));
}

// Valve 2002 against main 1001: priorities name the failed rules.
TEST_F(AttributeValidationService, ValidateAndExecuteApplyTheRulesOfTheirOperationAndRelationshipTypes) {
    struct Case {
        bool execute;
        const char* relationshipType;
        std::vector<std::string> failed;
    };
    const Case cases[] = {
        {false, "3", {"5", "12", "18"}},
        {false, "", {"12"}},
        {false, "4", {"12"}},
        {true, "3", {"4", "5", "12", "18", "27"}},
    };
    for (const auto& c : cases) {
        auto s = Service(Feature(102, 2002), Feature(101, 1001), c.relationshipType);
        Variant priorities, messages;
        if (c.execute) s->Execute(priorities, messages);
        else s->Validate(priorities, messages);
        SCOPED_TRACE(std::string(c.execute ? "Execute" : "Validate") + " type '" + c.relationshipType + "'");
        EXPECT_EQ(Texts(priorities), c.failed);
        EXPECT_EQ(Texts(messages).size(), c.failed.size());
    }
}

TEST_F(AttributeValidationService, FailuresCarryTheirRulesMessagesAfterEarlierOnes) {
    auto s = Service(Feature(102, 2002), Feature(101, 1001), "3");
    Variant priorities = Variant::ArrayOf({Variant("9")}, 1);
    Variant messages = Variant::ArrayOf({Variant("earlier")}, 1);
    s->Validate(priorities, messages);
    EXPECT_EQ(Texts(priorities), (std::vector<std::string>{"9", "5", "12", "18"}));
    EXPECT_EQ(rt::LBound(priorities), 1);
    EXPECT_EQ(Texts(messages),
              (std::vector<std::string>{"earlier", Message(RuleFailedAgainst, "SIZE_MM", "VALVE_ATTR", "DIAMETER", "WATER_MAIN_ATTR"),
                                        Message(RuleFailed, "SYMBOL_ROTATION", "VALVE_SYMBOL"),
                                        Message(RuleFailedAgainst, "INSTALL_DATE", "COMMON_ATTR", "INSTALL_DATE",
                                                "COMMON_ATTR")}));
    // The rule without operator is shown once and changes nothing.
    EXPECT_EQ(Boxes(), std::vector<std::string>{Message(pelmora::attrmsg::RuleWithoutOperator)});
}

TEST_F(AttributeValidationService, WithoutAnActiveFeatureOneBoxAndNothingElse) {
    auto s = Service(nullptr, Feature(101, 1001));
    auto before = pelmora::AttributeValidationState().Rules;
    Variant p, e;
    s->Execute(p, e);
    EXPECT_TRUE(p.IsEmpty() && e.IsEmpty());
    ASSERT_EQ(recorder_->records.size(), 1u);
    EXPECT_EQ(recorder_->records[0].text, Message(pelmora::attrmsg::NoActiveFeature));
    EXPECT_EQ(recorder_->records[0].title, Message(pelmora::attrmsg::Title));
    EXPECT_EQ(recorder_->records[0].buttons, 0);
    EXPECT_EQ(pelmora::AttributeValidationState().Rules, before);
}

TEST_F(AttributeValidationService, AnEmptyActiveComponentGainsAKeyedRowOnlyForARuleOfTheRelatedFeature) {
    auto valve = Feature(102, 2002);
    auto rows = Rows(valve, "VALVE_ATTR");
    rows->Delete();
    if (!(rows->get_BOF() && rows->get_EOF())) rows->MoveFirst();  // off the deleted row
    ASSERT_TRUE(rows->get_BOF() && rows->get_EOF());

    Variant p, e;
    Service(valve, nullptr)->Validate(p, e);
    EXPECT_EQ(Texts(p), std::vector<std::string>{"12"});
    EXPECT_TRUE(rows->get_BOF() && rows->get_EOF());

    Variant p2, e2;
    Service(valve, Feature(101, 1001), "3")->Validate(p2, e2);
    ASSERT_FALSE(rows->get_EOF());
    for (const auto& [field, value] : {std::pair{"QTX_FID", 2002}, {"QTX_CID", 1}, {"QTX_FNO", 102}, {"QTX_CNO", 21}})
        EXPECT_EQ(rt::CLng(rows->GetValue(Variant(field))), value) << field;
    // The new row took the component's defaults (150 mm), which rule 5
    // finds unequal to the main's 200.
    EXPECT_EQ(Texts(p2), (std::vector<std::string>{"5", "12", "18"}));
}

TEST_F(AttributeValidationService, EndingAnyServiceReleasesTheApartmentsRulesAndTheNextWalkReloadsThem) {
    auto first = Service(Feature(102, 2002), Feature(101, 1001), "3");
    Variant p, e;
    first->Validate(p, e);
    ASSERT_NE(pelmora::AttributeValidationState().Rules, nullptr);
    auto second = Service(Feature(102, 2002), Feature(101, 1001), "3");
    first.reset();
    EXPECT_EQ(pelmora::AttributeValidationState().Rules, nullptr);
    Variant p2, e2;
    second->Validate(p2, e2);
    EXPECT_EQ(Texts(p2), Texts(p));
}

TEST_F(AttributeValidationService, TheLogPathIsSetOncePerApartment) {
    auto first = Service(nullptr, nullptr);
    EXPECT_EQ(pelmora::AttributeValidationState().LogPath, LogPath());
    pelmora::AttributeValidationState().LogPath = "/elsewhere/ValidationInterfaces.log";
    auto second = Service(nullptr, nullptr);
    EXPECT_EQ(pelmora::AttributeValidationState().LogPath, "/elsewhere/ValidationInterfaces.log");
}

}  // namespace

TEST_F(AttributeValidationService, ARuleFieldItsComponentLacksIsLoggedNamingRuleComponentAndField) {
    struct Case {
        const char* column;
        const char* name;
        const char* component;
    };
    const Case cases[] = {
        {"QTX_ACTIVEFIELDNAME", "SIZE_MM' OR '1'='1", "VALVE_ATTR"},
        {"QTX_RELATEDFIELDNAME", "[DIAMETER]", "WATER_MAIN_ATTR"},
    };
    auto rules = pelmora_test::EditableMetadataTable(*metadata_, "QTX_ATTRVAL_OPTABLE");
    auto setRule1 = [&](const char* column, const Variant& value) {
        Variant was;
        for (rules->MoveFirst(); !rules->get_EOF(); rules->MoveNext())
            if (rt::CLng(rules->GetValue(Variant("QTX_RULENO"))) == 1) {
                was = rules->GetValue(Variant(column));
                rules->SetValue(Variant(column), value);
                rules->Update();
            }
        return was;
    };
    for (const Case& c : cases) {
        const Variant original = setRule1(c.column, Variant(c.name));
        std::filesystem::remove(LogPath());
        Variant priorities, messages;
        Service(Feature(102, 2002), Feature(101, 1001), "3")->Validate(priorities, messages);
        std::ifstream in(LogPath());
        const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (const std::string& named : {"Error in attribute validation processing - " + std::string(),
                                         "\"" + std::string(c.name) + "\" that " + c.column + " of attribute rule 1 ",
                                         "component " + std::string(c.component) + "."})
            EXPECT_NE(log.find(named), std::string::npos) << log;
        setRule1(c.column, original);
    }
}
