// The relationship geometry bridge on the sample's ownership relationship 2:
// what binding hands the hosted RGI in either mode, what Validate returns,
// aborts, failures and the members it does not serve.
#include <gtest/gtest.h>

#include <optional>

#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/extensions/RGIVBABridge.h"
#include "pelmora/features/Components.h"
#include "pelmora/features/KeyObjects.h"
#include "pelmora/validation_set/modFeatureValidationServiceSet.h"
#include "interfaces/InterfaceSupport.h"
#include "support/RGIHostFixture.h"
#include "support/Raises.h"

namespace pelmora_test {
namespace {

using pelmora::RGIVBABridge;

constexpr int32_t kUserInterrupted = pelmora::kErrorBase + 14119;

class RGIVBABridgeTest : public RGIHostFixture {
protected:
    void SetUp() override {
        RGIHostFixture::SetUp();
        helper_ = Helper(2);  // "Device Owned By Main"
        valve_ = SampleFeature(102, 2001);
        helper_->putref_Feature(valve_);
        helper_->related = {SampleFeature(101, 1001), SampleFeature(101, 1002), SampleFeature(101, 1001)};
    }
    void TearDown() override {
        helper_.reset();
        RGIHostFixture::TearDown();
    }
    std::shared_ptr<RGIVBABridge> Bind(int32_t prjNo, const std::string& name, const rt::Variant& group = rt::Variant(3)) {
        auto bridge = std::make_shared<RGIVBABridge>();
        bridge->InitializeBridge(prjNo, group, helper_, name);
        return bridge;
    }
    static rt::Variant ValueOf(const rt::ObjectPtr& converted) {
        return rt::QueryInterface<pelmora::IConvertedValue>(converted)->get_Value();
    }
    static std::string KindOf(const rt::ObjectPtr& converted) {
        return rt::QueryInterface<pelmora::IConvertedValue>(converted)->get_Kind();
    }

    std::shared_ptr<RGIHostingHelper> helper_;
    std::shared_ptr<pelmora::IKeyObject> valve_;
};

TEST_F(RGIVBABridgeTest, ProjectBindingHandsOverContextFeatureArgumentsNumberAndRelatedFeatures) {
    auto hosted = LoadProject(4);
    auto bridge = Bind(4, "");
    EXPECT_FALSE(bridge->get_NameMode());
    EXPECT_EQ(hosted->ListenerCount(), 1u);
    EXPECT_EQ(hosted->dataContext, helper_->get_DataContext());
    ASSERT_TRUE(hosted->feature);
    EXPECT_EQ(hosted->feature->get_FID(), 2001);
    EXPECT_EQ(rt::LBound(hosted->arguments), 1);
    EXPECT_EQ(Texts(hosted->arguments), (std::vector<std::string>{"1.5", "m", ""}));
    EXPECT_TRUE(hosted->arguments.Array()->Get(3).IsNull());
    EXPECT_EQ(hosted->relationshipNumber, 2);
    ASSERT_TRUE(hosted->relatedFeatures);
    ASSERT_EQ(hosted->relatedFeatures->get_Count(), 2);  // the repeated main once
    EXPECT_EQ(hosted->relatedFeatures->get_Item(rt::Variant(2))->get_FID(), 1002);
    EXPECT_EQ(hosted->initialized, 0);  // binding does not initialise the RGI

    // Released with the bridge.
    bridge.reset();
    EXPECT_EQ(hosted->ListenerCount(), 0u);
}

TEST_F(RGIVBABridgeTest, NameBindingHandsOverConvertedObjectsAndAZeroBasedList) {
    auto hosted = RegisterNamed("Pelmora:Check");
    auto bridge = Bind(-1, "Pelmora:Check");
    EXPECT_TRUE(bridge->get_NameMode());
    EXPECT_EQ(KindOf(hosted->dataContext), "DataContext");
    EXPECT_EQ(KindOf(hosted->feature), "KeyObject");
    EXPECT_EQ(KindOf(hosted->arguments), "Arguments");
    const rt::Variant arguments = ValueOf(hosted->arguments);
    EXPECT_EQ(rt::LBound(arguments), 0);
    EXPECT_EQ(Texts(arguments), (std::vector<std::string>{"1.5", "m", ""}));
    EXPECT_EQ(hosted->relationshipNumber, 2);
    EXPECT_EQ(KindOf(hosted->relatedFeatures), "KeyObjects");
    auto related = rt::QueryInterface<pelmora::QzKeyObjects>(ValueOf(hosted->relatedFeatures).Obj());
    EXPECT_EQ(related->get_Count(), 2);

    // The three numbers reach no name-created RGI.
    for (auto member : {+[](RGIVBABridge& b) { b.put_ProcessingMode(5); },
                        +[](RGIVBABridge& b) { b.put_RelatedFNO(101); },
                        +[](RGIVBABridge& b) { b.get_RelatedCNO(); }})
        EXPECT_EQ(ErrorOf([&] { member(*bridge); }), rt::vberr::ObjectVariableNotSet);
}

TEST_F(RGIVBABridgeTest, NumberAndRelatedFeaturesOnlyForARelationshipOfTheHelpersName) {
    struct Case {
        const char* what;
        std::string name;
        bool reviewNothing;
        int16_t number;
        int related;  // -1: not handed over
    };
    const Case cases[] = {
        {"a name with quotes matches no row", "Device's \"Owned\" By Main", false, 0, -1},
        {"a name of no row", "No Such Relationship", false, 0, -1},
        {"a review without collection relates nothing", "", true, 2, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto hosted = LoadProject(4);
        helper_->nameOverride = c.name;
        helper_->reviewReturnsNothing = c.reviewNothing;
        helper_->reviews = 0;
        auto bridge = Bind(4, "");
        EXPECT_EQ(hosted->relationshipNumber, c.number);
        EXPECT_EQ(hosted->relatedFeatures ? hosted->relatedFeatures->get_Count() : -1, c.related);
        EXPECT_EQ(helper_->reviews, c.related < 0 ? 0 : 1);
        EXPECT_EQ(Texts(hosted->arguments).size(), 3u);  // the earlier steps were done
    }
}

TEST_F(RGIVBABridgeTest, DuringARunTheRunsOwnOpenedFeatureOfARelatedKeyIsHandedOver) {
    // The run's set: main 1001 opened, main 1002 in the set without components.
    auto opened = SampleFeature(101, 1001);
    opened->putref_Components(std::make_shared<pelmora::Components>());
    auto unopened = SampleFeature(101, 1002);
    auto set = pelmora::KeyObjects::New();
    set->Add(opened);
    set->Add(unopened);
    struct Case {
        const char* what;
        bool inRun;
        std::shared_ptr<pelmora::IKeyObject> reviewed;
        bool runs;  // the run's feature is handed over rather than the reviewed one
    };
    const Case cases[] = {
        {"outside a run", false, SampleFeature(101, 1001), false},
        {"a key the run opened", true, SampleFeature(101, 1001), true},
        {"a key in the set without components", true, SampleFeature(101, 1002), false},
        {"a key not in the set", true, SampleFeature(101, 1003), false},
        {"a component's key", true, SampleFeature(101, 1001, 11), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto hosted = LoadProject(4);
        helper_->related = {c.reviewed};
        std::optional<pelmora::RunFeaturesScope> run;
        if (c.inRun) run.emplace(set);
        auto bridge = Bind(4, "");
        ASSERT_TRUE(hosted->relatedFeatures);
        ASSERT_EQ(hosted->relatedFeatures->get_Count(), 1);
        auto handed = rt::QueryInterface<pelmora::IKeyObject>(hosted->relatedFeatures->get_Item(rt::Variant(1)));
        EXPECT_EQ(handed, c.runs ? opened : c.reviewed);
    }

    // A run's scope ends with it, the outer run's standing again.
    pelmora::RunFeaturesScope outer(set);
    {
        pelmora::RunFeaturesScope inner(pelmora::KeyObjects::New());
        EXPECT_EQ(pelmora::RunFeatureOf(SampleFeature(101, 1001)), nullptr);
    }
    EXPECT_EQ(pelmora::RunFeatureOf(SampleFeature(101, 1001)), opened);
}

TEST_F(RGIVBABridgeTest, ValidateInitialisesAgainAndReturnsWhatTheHostedRGIWrote) {
    auto project = LoadProject(4);
    project->findings = {{"Error", "too far"}};
    auto named = RegisterNamed("Pelmora:Check");
    named->findings = {{"Warning", "too near"}, {"Error", "crossing"}};
    auto projectBridge = Bind(4, "");
    auto namedBridge = Bind(-1, "Pelmora:Check");

    rt::Variant p = rt::Variant::MakeArray(rt::vbVariant, 0, 0), m = p;
    projectBridge->Validate(nullptr, p, m);
    projectBridge->Validate(nullptr, p, m);
    EXPECT_EQ(project->initialized, 2);
    EXPECT_EQ(Texts(p), (std::vector<std::string>{"Error"}));
    EXPECT_EQ(Texts(m), (std::vector<std::string>{"too far"}));

    namedBridge->Validate(nullptr, p, m);
    EXPECT_EQ(named->initialized, 1);
    EXPECT_EQ(Texts(p), (std::vector<std::string>{"Warning", "Error"}));
    EXPECT_EQ(Texts(m), (std::vector<std::string>{"too near", "crossing"}));

    // Arrays the named RGI leaves without elements leave the caller's.
    named->script = RGIScript::WriteNothing;
    namedBridge->Validate(nullptr, p, m);
    EXPECT_EQ(Texts(p), (std::vector<std::string>{"Warning", "Error"}));

    // Forwarded numbers in project mode.
    projectBridge->put_ProcessingMode(5);
    projectBridge->put_RelatedFNO(101);
    projectBridge->put_RelatedCNO(12);
    EXPECT_EQ(projectBridge->get_ProcessingMode(), 5);
    EXPECT_EQ(projectBridge->get_RelatedFNO(), 101);
    EXPECT_EQ(projectBridge->get_RelatedCNO(), 12);
}

TEST_F(RGIVBABridgeTest, AfterAnAbortValidateAndInitializeRaiseTheInterruption) {
    LoadProject(4);
    auto bridge = Bind(4, "");
    product::VbaProjectHost::Current()->UnloadProject(4);
    EXPECT_TRUE(bridge->get_Unloaded());
    rt::Variant p, m;
    for (auto call : {+[](RGIVBABridge& b, rt::Variant& p, rt::Variant& m) { b.Validate(nullptr, p, m); },
                      +[](RGIVBABridge& b, rt::Variant&, rt::Variant&) { b.Initialize(nullptr); }}) {
        auto e = Raised([&] { call(*bridge, p, m); });
        EXPECT_EQ(e.Number(), kUserInterrupted);
        EXPECT_EQ(e.Source(), "RGIVBABridge");
        EXPECT_EQ(e.Description(), pelmora::LoadResStringWithParams(25754));
    }
    // The numbers have no handler: object not set, as it is.
    EXPECT_EQ(ErrorOf([&] { bridge->put_RelatedFNO(1); }), rt::vberr::ObjectVariableNotSet);
}

TEST_F(RGIVBABridgeTest, BindingFailuresReachTheCallerUnchanged) {
    struct Case {
        const char* what;
        int32_t prjNo;
        std::string name;
        int32_t error;
        std::string source;
    };
    RegisterProgId("Pelmora.NotAProjectRGI");
    product::VbaProjectHost::Current()->LoadProject(6, rt::CreateObject("Pelmora.NotAProjectRGI"));
    const Case cases[] = {
        {"a project not loaded", 9, "", rt::vberr::SubscriptOutOfRange, "VBAProjectHost"},
        {"an entry object of another kind", 6, "", rt::vberr::TypeMismatch, ""},
        {"a project number below 1 binds by the empty name", 0, "", rt::vberr::InvalidProcedureCall, ""},
        {"a name nobody registered", -1, "Nobody:Here", rt::vberr::CannotCreateObject, "InterfaceSupport"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto bridge = std::make_shared<RGIVBABridge>();
        auto e = Raised([&] { bridge->InitializeBridge(c.prjNo, rt::Variant(3), helper_, c.name); });
        EXPECT_EQ(e.Number(), c.error);
        if (!c.source.empty()) {
            EXPECT_EQ(e.Source(), c.source);
        }
    }
}

TEST_F(RGIVBABridgeTest, MembersItDoesNotServeShowAPlainMessageBox) {
    LoadProject(4);
    auto bridge = Bind(4, "");
    rt::Variant a, b, c;
    EXPECT_FALSE(bridge->AdjustGeometry(nullptr, a, b, nullptr));
    EXPECT_FALSE(bridge->AllowMerge(nullptr, a));
    bridge->AfterUpdate(nullptr);
    ASSERT_EQ(recorder_->records.size(), 3u);
    for (const auto& r : recorder_->records) {
        EXPECT_EQ(r.kind, "system");
        EXPECT_EQ(r.text, "Call not supported. Look it up in PELMORA");
        EXPECT_EQ(r.buttons, 0);
    }
}

}  // namespace
}  // namespace pelmora_test
