// Candidate filter rules (ValidateAttributes) of valve 2002 against a main's
// attribute row as the candidate, and the component view the rules read a
// field from when the candidate row lacks it.
#include <gtest/gtest.h>

#include "AttributeValidationTestSupport.h"
#include "interfaces/Framework.h"
#include "product/DesktopApplication.h"
#include "product/StandIns.h"

using attrvaltest::AttributeValidationFixture;
using attrvaltest::Message;
using attrvaltest::Texts;
using rt::Variant;
using Strings = std::vector<std::string>;

namespace {

class AttributeValidationCandidates : public AttributeValidationFixture {
protected:
    void SetUp() override {
        AttributeValidationFixture::SetUp();
        app_ = std::make_shared<product::DesktopApplication>();
        // Contexts that are not ours come first: a connection without one,
        // and one on another copy of the sample.
        app_->AddConnection("QTX.GDatabase", 1, nullptr);
        app_->AddConnection("QTX.GDatabase", 1, env_->OpenDataContext());
        app_->AddConnection("QTX.GDatabase", 1, dc_);
        product::SetApplication(app_);
    }
    void TearDown() override {
        product::SetApplication(nullptr);
        app_.reset();
        AttributeValidationFixture::TearDown();
    }

    // Valve 2002 against the attribute row of a main.
    std::shared_ptr<pelmora::AttributeValidationService> Candidate(int32_t mainFid) {
        auto s = Service(Feature(102, 2002), nullptr);
        s->putref_RelatedComponent(Rows(Feature(101, mainFid), "WATER_MAIN_ATTR"));
        return s;
    }

    size_t PipesCreated() const {
        size_t n = 0;
        for (const auto& c : app_->Calls())
            if (c.member == "CreateService" && rt::CStr(c.args.at(0)) == pelmora::kComponentViewPipeProgId) ++n;
        return n;
    }

    std::shared_ptr<product::DesktopApplication> app_;
};

TEST_F(AttributeValidationCandidates, RelatedNotEqualToTestsTheCandidatesValueAgainstItsList) {
    struct Case {
        const char* material;
        bool passes;
    };
    const Case cases[] = {{"DI", true}, {"b", false}, {"A", false}, {"C", true}, {" A", true}};
    for (const auto& c : cases) {
        auto s = Candidate(1001);
        s->get_RelatedComponent()->SetValue(Variant("MATERIAL"), Variant(c.material));
        Variant p, e;
        EXPECT_EQ(s->ValidateAttributes(false, p, e), c.passes) << "'" << c.material << "'";
        EXPECT_EQ(Texts(p), c.passes ? Strings{} : Strings{"33"}) << "'" << c.material << "'";
        if (!c.passes) {
            EXPECT_EQ(Texts(e), Strings{Message(pelmora::attrmsg::RuleFailedAgainst, "VALVE_TYPE", "VALVE_ATTR",
                                                "MATERIAL", "WATER_MAIN_ATTR")});
        }
    }
}

TEST_F(AttributeValidationCandidates, AFieldTheCandidateRowLacksIsReadFromTheComponentViewOfItsFeature) {
    // Main 1003 is smaller than the valve (rule 34, from the row) and has no
    // installation date (rule 35, from its common attributes in the view).
    auto s = Candidate(1003);
    Variant p, e;
    EXPECT_FALSE(s->ValidateAttributes(false, p, e));
    EXPECT_EQ(Texts(p), (Strings{"34", "35"}));
    EXPECT_EQ(PipesCreated(), 1u);

    auto passing = Candidate(1001);
    Variant p2, e2;
    EXPECT_TRUE(passing->ValidateAttributes(false, p2, e2));
    EXPECT_TRUE(p2.IsEmpty() && e2.IsEmpty());
    EXPECT_EQ(PipesCreated(), 2u);
    EXPECT_TRUE(recorder_->records.empty());
}

TEST_F(AttributeValidationCandidates, AFieldTheViewLacksIsShownAndTheRuleJudgedOnItsOwnValue) {
    // Rule 38 names a field no hydrant has; only it concerns a hydrant.
    auto s = Service(Feature(102, 2002), nullptr);
    s->putref_RelatedComponent(Rows(Feature(103, 3001), "HYDRANT_ATTR"));
    Variant p, e;
    EXPECT_FALSE(s->ValidateAttributes(false, p, e));
    EXPECT_EQ(Texts(p), Strings{"38"});  // 150 is below the rule's own 200
    EXPECT_EQ(Texts(e), Strings{Message(pelmora::attrmsg::RuleFailed, "SIZE_MM", "VALVE_ATTR")});
    EXPECT_EQ(Boxes(), Strings{"For ActiveFNO of 102 and RelatedFNO of 103 the field specified for validation is "
                               "not in the ComponentView."});
}

TEST_F(AttributeValidationCandidates, WithoutArraysTheFirstFailureEndsTheCall) {
    auto s = Candidate(1001);
    s->get_RelatedComponent()->SetValue(Variant("MATERIAL"), Variant("a"));
    EXPECT_FALSE(s->ValidateAttributes(false));
    EXPECT_EQ(PipesCreated(), 0u);  // rule 35 was never reached
    Variant p;
    Variant missing = Variant::Missing();
    EXPECT_FALSE(s->ValidateAttributes(false, p, missing));
    EXPECT_TRUE(p.IsEmpty());
}

TEST_F(AttributeValidationCandidates, ARelatedFeatureAloneMeansNoCandidate) {
    // Every rule applies, each on its own value only: 34 and 35 hold without
    // one, 38 does not.
    auto s = Service(Feature(102, 2002), Feature(101, 1003));
    Variant p, e;
    EXPECT_FALSE(s->ValidateAttributes(false, p, e));
    EXPECT_EQ(Texts(p), Strings{"38"});
    EXPECT_EQ(PipesCreated(), 0u);
}

TEST_F(AttributeValidationCandidates, AnEmptyActiveComponentIsJudgedOnANewRowThatIsNotKept) {
    auto valve = Feature(102, 2002);
    auto rows = Rows(valve, "VALVE_ATTR");
    rows->Delete();
    auto s = Service(valve, nullptr);
    s->putref_RelatedComponent(Rows(Feature(101, 1001), "WATER_MAIN_ATTR"));
    Variant p, e;
    // The new row's defaults (150 mm, a gate) meet the rules.
    EXPECT_TRUE(s->ValidateAttributes(false, p, e));
    for (const auto& pending : rows->PendingRows()) EXPECT_NE(pending.status, ado::adRecNew);
    if (!(rows->get_BOF() && rows->get_EOF())) rows->MoveFirst();  // off the deleted row
    EXPECT_TRUE(rows->get_BOF() && rows->get_EOF());
}

// The call ends where the view was needed, with the answer it held then.
TEST_F(AttributeValidationCandidates, WithoutTheApplicationOrItsConnectionTheCallEndsInABox) {
    struct Case {
        const char* name;
        std::function<void()> setUp;
    };
    const Case cases[] = {
        {"no application", [&] { product::SetApplication(nullptr); }},
        {"no connection of this context", [&] { app_->Document()->Connections()->Clear(); }},
    };
    for (const auto& c : cases) {
        c.setUp();
        recorder_->records.clear();
        auto s = Candidate(1001);
        Variant p, e;
        EXPECT_TRUE(s->ValidateAttributes(false, p, e)) << c.name;
        ASSERT_EQ(recorder_->records.size(), 1u) << c.name;
        EXPECT_EQ(recorder_->records[0].title, Message(pelmora::attrmsg::Title)) << c.name;
    }
}

TEST_F(AttributeValidationCandidates, TheViewHoldsTheComponentThenTheOtherAttributeComponentsFirstValueKept) {
    auto main = Feature(101, 1001);
    auto pipe = rt::QueryInterface<pelmora::IComponentViewPipe>(
        rt::CallByName(app_, "CreateService", rt::InvokeKind::Method, {Variant(pelmora::kComponentViewPipeProgId)})
            .Obj());
    pipe->putref_Components(main->get_Components());
    pipe->put_FNO(101);
    pipe->put_CNO(11);
    EXPECT_THROW(pipe->get_OutputRecordset(), rt::ComError);  // no connection
    pipe->putref_Connection(app_->Document()->Connections()->Item(3));
    auto view = pipe->get_OutputRecordset();
    auto fields = view->get_Fields();
    struct Case {
        const char* field;
        std::string value;  // "" for a field the view lacks
    };
    const Case cases[] = {
        {"QTX_CNO", "11"},  {"MATERIAL", "DI"},         {"FEATURE_STATE", "INS"},
        {"LINING_TYPE", "CEMENT"}, {"LINE_STYLE", ""}, {"LABEL_TEXT", ""},
    };
    for (const auto& c : cases) {
        if (c.value.empty()) {
            EXPECT_THROW(fields->get_Item(c.field), rt::ComError) << c.field;
        } else {
            EXPECT_EQ(rt::CStr(fields->get_Item(c.field)->get_Value()), c.value) << c.field;
        }
    }
    view->MoveNext();
    EXPECT_TRUE(view->get_EOF());
}

}  // namespace
