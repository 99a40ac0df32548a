// Validation interfaces named by rules, end to end on the sample (valve 2002
// against main 1001): what each kind is told, how their failures join the
// walk's, and how a failure or an Abort of one ends the walk.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "AttributeValidationInterfaceObjects.h"
#include "AttributeValidationTestSupport.h"
#include "product/InterfaceSupport.h"
#include "product/VbaProjectHost.h"

using attrvaltest::AttributeValidationFixture;
using attrvaltest::Message;
using attrvaltest::NamedCheck;
using attrvaltest::ProgIdCheck;
using attrvaltest::ProjectCheck;
using attrvaltest::Texts;
using rt::Variant;
using Strings = std::vector<std::string>;

namespace {

class AttributeValidationInterfaces : public AttributeValidationFixture {
protected:
    void SetUp() override {
        AttributeValidationFixture::SetUp();
        auto progId = progId_;
        auto named = named_;
        rt::RegisterClass("Pelmora.ValveMainCheck", "{5B0E7A21-3C44-4E8F-9D21-7A6C0B1E2F31}",
                          [progId] { return progId; });
        product::RegisterInterfaceObject("Pelmora:ValveMainNamed", [named] { return named; });
        product::VbaProjectHost::Current()->LoadProject(7, project_);
    }
    void TearDown() override {
        rt::UnregisterClass("Pelmora.ValveMainCheck");
        product::UnregisterInterfaceObject("Pelmora:ValveMainNamed");
        AttributeValidationFixture::TearDown();
    }

    Strings Run(bool execute, const std::string& relationshipType = "3") {
        auto s = Service(Feature(102, 2002), Feature(101, 1001), relationshipType);
        Variant p, e;
        if (execute) s->Execute(p, e);
        else s->Validate(p, e);
        return Texts(p);
    }

    Strings LogLines() const {
        Strings lines;
        std::ifstream in(LogPath());
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    std::shared_ptr<ProgIdCheck> progId_ = std::make_shared<ProgIdCheck>();
    std::shared_ptr<NamedCheck> named_ = std::make_shared<NamedCheck>();
    std::shared_ptr<ProjectCheck> project_ = std::make_shared<ProjectCheck>();
};

TEST_F(AttributeValidationInterfaces, EachKindIsToldTheRuleAndBothSidesInOrder) {
    EXPECT_EQ(Run(false), (Strings{"5", "12", "18", "P29", "N30", "V31"}));
    EXPECT_EQ(progId_->told,
              (Strings{"DataContext", "ActiveANO=2103", "ActiveComponentName=VALVE_ATTR",
                       "ActiveComponentService=VALVE_ATTR", "ArgumentArray=(1: m 10)", "OperationType=1",
                       "Operator=<=", "Priority=29", "RelatedANO=1102", "RelatedComponentName=WATER_MAIN_ATTR",
                       "RelatedComponentService=WATER_MAIN_ATTR", "ValidationValue=10", "Validate"}));
    EXPECT_EQ(rt::ObjectPtrOf(progId_->dataContext), rt::ObjectPtrOf(dc_));
    EXPECT_EQ(named_->told,
              (Strings{"DataContext=DataContext", "ActiveANO=2101", "ActiveComponentName=VALVE_ATTR",
                       "ActiveComponents=Components", "ArgumentArray=Arguments (0: GATE BUTTERFLY Null)",
                       "Priority=30", "RelatedANO=1101", "RelatedComponentName=WATER_MAIN_ATTR",
                       "RelatedComponents=Components", "ActiveFieldName=VALVE_TYPE", "ActiveValue=Value BUTTERFLY",
                       "RelatedFieldName=MATERIAL", "RelatedValue=Value DI", "Validate=() ()"}));
    // The rule without argument after two with one gets none.
    EXPECT_EQ(project_->told,
              (Strings{"DataContext", "ActiveANO=102", "ActiveComponentName=COMMON_ATTR", "ActiveComponents=set",
                       "ArgumentArray=Empty", "Priority=31", "RelatedANO=102", "RelatedComponentName=COMMON_ATTR",
                       "RelatedComponents=set", "ActiveFieldName=INSTALL_DATE", "ActiveValue=9/2/2004",
                       "RelatedFieldName=INSTALL_DATE", "RelatedValue=4/17/1998", "Validate"}));
}

TEST_F(AttributeValidationInterfaces, ExecuteCallsEachKindsExecute) {
    // Only the ProgID kind's Execute takes the arrays.
    EXPECT_EQ(Run(true), (Strings{"4", "5", "12", "18", "27", "P29"}));
    EXPECT_EQ(progId_->told.back(), "Execute");
    EXPECT_EQ(named_->told.back(), "Execute");
    EXPECT_EQ(project_->told.back(), "Execute");
}

TEST_F(AttributeValidationInterfaces, WithoutARelatedFeatureInterfaceRulesAreSkipped) {
    auto s = Service(Feature(102, 2002), nullptr);
    Variant p, e;
    s->Validate(p, e);
    EXPECT_EQ(Texts(p), Strings{"12"});
    EXPECT_TRUE(progId_->told.empty() && named_->told.empty() && project_->told.empty());
}

TEST_F(AttributeValidationInterfaces, AFailingInterfaceEndsTheWalkAndIsLoggedByName) {
    struct Case {
        const char* name;
        std::function<void()> script;
        Strings failed;
        std::string logged;
    };
    const Case cases[] = {
        {"ProgID", [&] { progId_->failValidate = rt::ComError(5, "Check", "size unknown"); }, {"5", "12", "18"},
         "Error executing validation interface: Pelmora.ValveMainCheck - size unknown"},
        {"named", [&] { named_->failValidate = rt::ComError(5, "Named", "no material"); },
         {"5", "12", "18", "P29"}, "Error executing validation interface: Pelmora:ValveMainNamed - no material"},
        {"project", [&] { project_->failValidate = rt::ComError(5, "Project", "dates differ"); },
         {"5", "12", "18", "P29", "N30"}, "Error in attribute validation processing - dates differ"},
    };
    size_t lines = 0;
    for (const auto& c : cases) {
        progId_->failValidate.reset();
        named_->failValidate.reset();
        c.script();
        EXPECT_EQ(Run(false), c.failed) << c.name;
        auto log = LogLines();
        ASSERT_EQ(log.size(), ++lines) << c.name;
        const std::string& line = log.back();
        const auto bar = line.find(" --- ");
        ASSERT_NE(bar, std::string::npos) << line;
        EXPECT_TRUE(rt::IsDate(Variant(line.substr(0, bar)))) << line;
        EXPECT_EQ(line.substr(bar + 5), c.logged + "\r") << c.name;
    }
    EXPECT_EQ(recorder_->records.size(), 3u);  // the rule without operator, once a walk
}

TEST_F(AttributeValidationInterfaces, AnAbortedProjectIsReportedAsAnInterruptionNotLogged) {
    project_->abortFirst = true;
    project_->failValidate = rt::ComError(91, "Project", "The project was unloaded.");
    auto s = Service(Feature(102, 2002), Feature(101, 1001), "3");
    Variant p, e;
    recorder_->records.clear();
    s->Validate(p, e);
    ASSERT_EQ(recorder_->records.size(), 2u);
    EXPECT_EQ(recorder_->records[1].text, Message(pelmora::attrmsg::Interrupted));
    EXPECT_FALSE(std::filesystem::exists(LogPath()));
    EXPECT_FALSE(s->get_AbortRequested());

    // An Abort alone does not stop the walk; it only colours the next error.
    project_->abortFirst = false;
    project_->abortOnly = true;
    project_->failValidate.reset();
    Variant p2, e2;
    s->Validate(p2, e2);
    EXPECT_EQ(Texts(p2).back(), "V31");
    EXPECT_TRUE(s->get_AbortRequested());
}

TEST_F(AttributeValidationInterfaces, AWalkStartedInsideAnInterfaceLeavesTheRunningWalkItsRules) {
    progId_->during = [&] {
        // Another service of the apartment validates a hydrant and goes away,
        // replacing and then releasing the apartment's rules.
        auto other = Service(Feature(103, 3001), nullptr);
        Variant p, e;
        other->Validate(p, e);
    };
    EXPECT_EQ(Run(false), (Strings{"5", "12", "18", "P29", "N30", "V31"}));
    EXPECT_EQ(pelmora::AttributeValidationState().Rules, nullptr);
}

TEST_F(AttributeValidationInterfaces, AnErrorThatEscapesTheWalkEndsInOneBox) {
    progId_->failValidate = rt::ComError(5, "Check", "size unknown");
    pelmora::AttributeValidationState().LogPath = workDirectory_ + "/no such folder/ValidationInterfaces.log";
    auto s = Service(Feature(102, 2002), Feature(101, 1001), "3");
    Variant p, e;
    recorder_->records.clear();
    s->Validate(p, e);
    EXPECT_EQ(Texts(p), (Strings{"5", "12", "18"}));
    ASSERT_EQ(recorder_->records.size(), 2u);
    EXPECT_EQ(recorder_->records[1].title, Message(pelmora::attrmsg::Title));
    EXPECT_EQ(recorder_->records[1].buttons, 0);
}

}  // namespace
