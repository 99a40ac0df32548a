// The attribute edit control bridge: the three ways of binding a control,
// what each kind of control is handed, its answer, and how failures and
// aborts are reported per member.
#include <gtest/gtest.h>

#include <functional>

#include "ExtensionTestObjects.h"
#include "pelmora/extensions/QzAttrEdtCtrlBridge.h"
#include "product/SqliteDataContext.h"
#include "runtime/Vb.h"
#include "support/SampleEnvironment.h"

namespace exttest {
namespace {

using pelmora::QzAttrEdtCtrlBridge;

class AttrEdtCtrlBridgeTest : public ExtensionFixture {
protected:
    // The caller's sequence for one field change; returns the answer.
    bool Ask(QzAttrEdtCtrlBridge& bridge, const rt::Variant& prjNo, const std::string& progId) {
        bridge.Initialize(prjNo, progId);
        bridge.putref_DataContext(dc_);
        bridge.putref_Components(components_);
        bridge.put_ComponentName("SERVICE_ATTR");
        bridge.put_fieldname("METER_ID");
        bridge.put_FieldValue(rt::Variant("M-100"));
        bridge.put_ArgumentArray(rt::Variant::ArrayOf({rt::Variant("M-"), rt::Variant::Null()}, 1));
        return bridge.IsAttributeEditable(4102);
    }

    void SetUp() override {
        ExtensionFixture::SetUp();
        dc_ = pelmora_test::SampleEnvironment::Get().OpenDataContext();
        components_ = std::make_shared<pelmora::Components>();
    }

    const std::vector<std::string> kOrder{"DataContext", "Components", "ComponentName", "FieldName",
                                          "FieldValue", "ArgumentArray", "IsAttributeEditable"};
    std::shared_ptr<product::SqliteDataContext> dc_;
    std::shared_ptr<pelmora::IComponents> components_;
};

TEST_F(AttrEdtCtrlBridgeTest, ProgIdControlGetsTheEditAsGiven) {
    auto control = RegisterProgId<EditControl>("Pelmora.MeterControl");
    control->answer = false;
    QzAttrEdtCtrlBridge bridge;
    EXPECT_FALSE(Ask(bridge, rt::Variant::Null(), "Pelmora.MeterControl"));
    EXPECT_EQ(control->calls, kOrder);
    EXPECT_EQ(control->askedAno, 4102);
    EXPECT_EQ(control->dataContext, std::static_pointer_cast<pelmora::IDataContext>(dc_));
    EXPECT_EQ(control->components, rt::QueryInterface<pelmora::QzComponents>(components_));
    EXPECT_EQ(control->componentName, "SERVICE_ATTR");
    EXPECT_EQ(control->fieldName, "METER_ID");
    EXPECT_EQ(rt::CStr(control->fieldValue), "M-100");
    EXPECT_EQ(rt::LBound(control->arguments), 1) << "the list arrives as built";
    EXPECT_TRUE(control->arguments.Array()->Get(2).IsNull());
    EXPECT_EQ(control->ListenerCount(), 0u) << "no Abort sink without a project";
    EXPECT_FALSE(bridge.get_NameMode());

    control->answer = true;
    EXPECT_TRUE(bridge.IsAttributeEditable(4102));
    // A standalone component hands no collection.
    bridge.putref_Components(nullptr);
    EXPECT_EQ(control->components, nullptr);
}

TEST_F(AttrEdtCtrlBridgeTest, ProjectNumberBindsTheProjectEvenWhenItIsZero) {
    auto control = LoadProject<EditControl>(0);
    QzAttrEdtCtrlBridge bridge;
    // The ProgID is not used when a project number is given.
    EXPECT_TRUE(Ask(bridge, rt::Variant(int32_t{0}), "Nobody.Registered"));
    EXPECT_EQ(control->calls, kOrder);
    EXPECT_EQ(control->ListenerCount(), 1u);
    EXPECT_EQ(rt::LBound(control->arguments), 1);

    // A project number given as text converts; one the host lacks fails.
    auto other = LoadProject<EditControl>(12);
    QzAttrEdtCtrlBridge second;
    second.Initialize(rt::Variant("12"), "");
    EXPECT_TRUE(second.IsAttributeEditable(1));
    EXPECT_TRUE(other->Called("IsAttributeEditable"));
    auto e = Raised([&] { second.Initialize(rt::Variant(int32_t{99}), ""); });
    EXPECT_EQ(e.Number(), rt::vberr::SubscriptOutOfRange);
    EXPECT_EQ(e.Source(), "VBAProjectHost");
}

TEST_F(AttrEdtCtrlBridgeTest, NameWithColonGetsConvertedValuesAndAZeroBasedList) {
    auto control = RegisterNamed<NamedEditControl>("Pelmora:MeterRules");
    control->answer = true;
    QzAttrEdtCtrlBridge bridge;
    EXPECT_TRUE(Ask(bridge, rt::Variant(), "Pelmora:MeterRules"));
    EXPECT_TRUE(bridge.get_NameMode());
    EXPECT_EQ(control->calls, kOrder);
    EXPECT_EQ(control->askedAno, 4102);
    EXPECT_EQ(ValueOf(control->dataContext).Obj(), rt::ObjectPtrOf(dc_));
    EXPECT_EQ(KindOf(control->components), "Components");
    EXPECT_EQ(rt::CStr(ValueOf(control->fieldValue)), "M-100");
    rt::Variant args = ValueOf(control->arguments);
    EXPECT_EQ(rt::LBound(args), 0);
    EXPECT_EQ(rt::UBound(args), 1);
    EXPECT_EQ(rt::CStr(args.Array()->Get(0)), "M-");
    EXPECT_EQ(control->componentName, "SERVICE_ATTR");
    EXPECT_EQ(control->fieldName, "METER_ID");
}

TEST_F(AttrEdtCtrlBridgeTest, FailuresPassThroughUnchanged) {
    auto control = RegisterProgId<EditControl>("Pelmora.Strict");
    QzAttrEdtCtrlBridge bridge;
    bridge.Initialize(rt::Variant::Null(), "Pelmora.Strict");

    const std::pair<const char*, std::function<void()>> members[] = {
        {"DataContext", [&] { bridge.putref_DataContext(dc_); }},
        {"FieldName", [&] { bridge.put_fieldname("X"); }},
        {"FieldValue", [&] { bridge.put_FieldValue(rt::Variant(int32_t{1})); }},
        {"ArgumentArray", [&] { bridge.put_ArgumentArray(rt::Variant::Null()); }},
        {"ComponentName", [&] { bridge.put_ComponentName("C"); }},
        {"Components", [&] { bridge.putref_Components(components_); }},
        {"IsAttributeEditable", [&] { bridge.IsAttributeEditable(1); }},
    };
    for (const auto& [member, call] : members) {
        control->FailOn(member, 3000, "Strict", std::string("refused ") + member);
        auto e = Raised(call);
        EXPECT_EQ(e.Number(), 3000) << member;
        EXPECT_EQ(e.Source(), "Strict") << member << ": the failure itself is passed on";
        EXPECT_EQ(e.Description(), std::string("refused ") + member);
    }

    // The bridge's own failures carry its member's source.
    auto e = Raised([&] { QzAttrEdtCtrlBridge().Initialize(rt::Variant::Null(), "Not.Registered"); });
    EXPECT_EQ(e.Number(), rt::vberr::CannotCreateObject);
    e = Raised([&] { QzAttrEdtCtrlBridge().IsAttributeEditable(1); });
    EXPECT_EQ(e.Number(), rt::vberr::ObjectVariableNotSet);
    // A ProgID that makes an object of another kind.
    RegisterProgId<NamedFI>("Pelmora.NotAControl");
    EXPECT_EQ(Raised([&] { QzAttrEdtCtrlBridge().Initialize(rt::Variant(), "Pelmora.NotAControl"); }).Number(),
              rt::vberr::TypeMismatch);
    // A project number that is no number.
    EXPECT_EQ(Raised([&] { QzAttrEdtCtrlBridge().Initialize(rt::Variant("seven"), ""); }).Number(),
              rt::vberr::TypeMismatch);
}

TEST_F(AttrEdtCtrlBridgeTest, AfterAnAbortTheControlStaysButFailuresBecomeInterruptions) {
    auto control = LoadProject<EditControl>(1);
    QzAttrEdtCtrlBridge bridge;
    bridge.Initialize(rt::Variant(int32_t{1}), "MeterCheck");
    std::weak_ptr<EditControl> weak = control;
    Host()->UnloadProject(1);
    control.reset();
    EXPECT_TRUE(bridge.get_Unloaded());
    ASSERT_FALSE(weak.expired()) << "the control is kept";

    // Calls that succeed behave as before.
    bridge.put_ComponentName("SERVICE_ATTR");
    EXPECT_EQ(weak.lock()->componentName, "SERVICE_ATTR");
    EXPECT_TRUE(bridge.IsAttributeEditable(7));

    // A call that fails now reports the interruption under its member's name.
    const std::pair<const char*, std::function<void()>> members[] = {
        {"DataContext", [&] { bridge.putref_DataContext(dc_); }},
        {"FieldName", [&] { bridge.put_fieldname("X"); }},
        {"FieldValue", [&] { bridge.put_FieldValue(rt::Variant(int32_t{1})); }},
        {"ArgumentArray", [&] { bridge.put_ArgumentArray(rt::Variant::Null()); }},
        {"ComponentName", [&] { bridge.put_ComponentName("C"); }},
        {"Components", [&] { bridge.putref_Components(components_); }},
        {"IsAttributeEditable", [&] { bridge.IsAttributeEditable(1); }},
    };
    for (const auto& [member, call] : members) {
        weak.lock()->FailOn(member, 5, "Control", "gone");
        auto e = Raised(call);
        EXPECT_EQ(e.Number(), kUserInterrupted) << member;
        EXPECT_EQ(e.Source(), std::string("QzAttrEdtCtrlBridge_") + member);
        EXPECT_EQ(e.Description(), UserInterruptedText());
    }
    // Initialize starts afresh: binding the project that is gone fails with
    // the host's error, not as an interruption.
    auto e = Raised([&] { bridge.Initialize(rt::Variant(int32_t{1}), ""); });
    EXPECT_EQ(e.Number(), rt::vberr::SubscriptOutOfRange);
    EXPECT_FALSE(bridge.get_Unloaded());

    // A new Initialize clears the flag.
    auto fresh = LoadProject<EditControl>(2);
    bridge.Initialize(rt::Variant(int32_t{2}), "");
    EXPECT_FALSE(bridge.get_Unloaded());
}

}  // namespace
}  // namespace exttest
