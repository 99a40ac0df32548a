// The functional interface bridge in its two binding modes: what reaches the
// hosted object, what comes back, the functional-type numbers, the members
// that stop at the bridge, aborts and failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "ExtensionTestObjects.h"
#include "pelmora/extensions/FunctionalInterfaceBridge.h"
#include "pelmora/features/ComponentService.h"
#include "product/SqliteDataContext.h"
#include "runtime/Vb.h"
#include "support/SampleEnvironment.h"

namespace exttest {
namespace {

using pelmora::FunctionalInterfaceBridge;

class FunctionalInterfaceBridgeTest : public ExtensionFixture {
protected:
    std::shared_ptr<FunctionalInterfaceBridge> ProjectBridge(int32_t number, std::shared_ptr<ProjectFI>& hosted) {
        hosted = LoadProject<ProjectFI>(number);
        auto bridge = std::make_shared<FunctionalInterfaceBridge>();
        bridge->Initialize(number, "");
        return bridge;
    }
    std::shared_ptr<FunctionalInterfaceBridge> NamedBridge(const std::string& name, std::shared_ptr<NamedFI>& hosted) {
        hosted = RegisterNamed<NamedFI>(name);
        auto bridge = std::make_shared<FunctionalInterfaceBridge>();
        bridge->Initialize(0, name);
        return bridge;
    }
    // The system's own service over an empty components collection.
    static std::shared_ptr<pelmora::ComponentService> Service() {
        auto service = std::make_shared<pelmora::ComponentService>();
        service->putref_Components(std::make_shared<pelmora::Components>());
        return service;
    }
};

// ---- binding ----

TEST_F(FunctionalInterfaceBridgeTest, ProjectNumberBindsTheProjectsEntryObjectAndListensToIt) {
    auto other = LoadProject<ProjectFI>(3);
    std::shared_ptr<ProjectFI> hosted;
    auto bridge = ProjectBridge(7, hosted);
    EXPECT_FALSE(bridge->get_NameMode());
    EXPECT_EQ(hosted->ListenerCount(), 1u);
    EXPECT_EQ(other->ListenerCount(), 0u);

    bridge->Execute();
    EXPECT_TRUE(hosted->Called("Execute"));
    EXPECT_FALSE(other->Called("Execute"));

    // Releasing the bridge stops the listening.
    bridge.reset();
    EXPECT_EQ(hosted->ListenerCount(), 0u);
}

TEST_F(FunctionalInterfaceBridgeTest, BindingFailuresReachTheCallerUnchanged) {
    // A project the host does not hold: the host's own error.
    auto bridge = std::make_shared<FunctionalInterfaceBridge>();
    auto e = Raised([&] { bridge->Initialize(42, ""); });
    EXPECT_EQ(e.Number(), rt::vberr::SubscriptOutOfRange);
    EXPECT_EQ(e.Source(), "VBAProjectHost");

    // An entry object of another kind.
    LoadProject<EditControl>(5);
    EXPECT_EQ(Raised([&] { bridge->Initialize(5, ""); }).Number(), rt::vberr::TypeMismatch);

    // A project interface without the event face cannot be listened to.
    class Silent : public rt::Object, public pelmora::IProjectFunctionalInterface {
    public:
        rt::Variant get_ArgumentArray() override { return {}; }
        void put_ArgumentArray(const rt::Variant&) override {}
        std::string get_ComponentName() override { return ""; }
        void put_ComponentName(const std::string&) override {}
        void putref_Components(const std::shared_ptr<pelmora::QzComponents>&) override {}
        std::shared_ptr<pelmora::IDataContext> get_DataContext() override { return nullptr; }
        void putref_DataContext(const std::shared_ptr<pelmora::IDataContext>&) override {}
        std::string get_FieldName() override { return ""; }
        void put_FieldName(const std::string&) override {}
        rt::Variant get_FieldValueBeforeChange() override { return {}; }
        void put_FieldValueBeforeChange(const rt::Variant&) override {}
        int32_t get_FunctionalType() override { return 0; }
        void put_FunctionalType(int32_t) override {}
        void Execute() override {}
        void Delete() override {}
        void Validate(rt::Variant&, rt::Variant&) override {}
    };
    Host()->LoadProject(6, std::make_shared<Silent>());
    EXPECT_EQ(Raised([&] { bridge->Initialize(6, ""); }).Number(), rt::vberr::TypeMismatch);

    // A name nobody registered, and a name without ":" (project number 0).
    e = Raised([&] { bridge->Initialize(0, "Nobody:Here"); });
    EXPECT_EQ(e.Number(), rt::vberr::CannotCreateObject);
    EXPECT_EQ(e.Source(), "InterfaceSupport");
    EXPECT_EQ(Raised([&] { bridge->Initialize(-1, "Plain.ProgID"); }).Number(), rt::vberr::InvalidProcedureCall);
}

TEST_F(FunctionalInterfaceBridgeTest, NameModeUsesOneSupportObjectForTheBridgesLife) {
    int created = 0;
    rt::RegisterClass(pelmora::kInterfaceSupportProgId, pelmora::kInterfaceSupportClsid, [&created] {
        ++created;
        return std::static_pointer_cast<rt::Object>(std::make_shared<product::InterfaceSupport>());
    });
    RegisterNamed<NamedFI>("Lib:First");
    auto second = RegisterNamed<NamedFI>("Lib:Second");

    auto bridge = std::make_shared<FunctionalInterfaceBridge>();
    bridge->Initialize(0, "Lib:First");
    bridge->Initialize(0, "Lib:Second");
    EXPECT_EQ(created, 1);
    bridge->Execute();
    EXPECT_TRUE(second->Called("Execute"));

    // Project mode creates none.
    LoadProject<ProjectFI>(1);
    std::make_shared<FunctionalInterfaceBridge>()->Initialize(1, "Lib:First");
    EXPECT_EQ(created, 1);
}

TEST_F(FunctionalInterfaceBridgeTest, TheProjectHostIsCreatedOncePerApartment) {
    int created = 0;
    auto host = std::make_shared<product::VbaProjectHost>();
    host->LoadProject(2, std::make_shared<ProjectFI>());
    rt::RegisterClass(pelmora::kVbaProjectHostProgId, pelmora::kVbaProjectHostClsid, [&created, host] {
        ++created;
        return std::static_pointer_cast<rt::Object>(host);
    });
    for (int i = 0; i < 3; ++i) std::make_shared<FunctionalInterfaceBridge>()->Initialize(2, "");
    EXPECT_EQ(created, 1);

    rt::Apartment::Reset();
    std::make_shared<FunctionalInterfaceBridge>()->Initialize(2, "");
    EXPECT_EQ(created, 2);
}

// ---- functional types ----

TEST_F(FunctionalInterfaceBridgeTest, FunctionalTypesTravelAsNumbersInBothModes) {
    std::shared_ptr<ProjectFI> project;
    std::shared_ptr<NamedFI> named;
    auto p = ProjectBridge(1, project);
    auto n = NamedBridge("Lib:Types", named);
    const std::pair<const char*, int32_t> table[] = {{"AddNew", 1}, {"SetValue", 2}, {"Edit", 3}, {"Update", 4}};
    for (auto [text, number] : table) {
        p->put_FunctionalType(text);
        n->put_FunctionalType(text);
        EXPECT_EQ(project->functionalType, number) << text;
        EXPECT_EQ(named->functionalType, number) << text;
        EXPECT_EQ(p->get_FunctionalType(), text);
        EXPECT_EQ(n->get_FunctionalType(), text);
    }

    // Other texts, letter case included, leave the hosted type alone.
    for (const char* other : {"addnew", "Delete", "Validate", "", "Update "}) {
        p->put_FunctionalType(other);
        n->put_FunctionalType(other);
        EXPECT_EQ(project->functionalType, 4) << other;
        EXPECT_EQ(named->functionalType, 4) << other;
    }
    EXPECT_EQ(std::count(project->calls.begin(), project->calls.end(), "FunctionalType"), 4);

    for (int32_t unknown : {0, 5, -1}) {
        project->functionalType = unknown;
        named->functionalType = unknown;
        EXPECT_EQ(p->get_FunctionalType(), "") << unknown;
        EXPECT_EQ(n->get_FunctionalType(), "") << unknown;
    }
}

// ---- forwarding ----

TEST_F(FunctionalInterfaceBridgeTest, ProjectModePassesValuesAsGiven) {
    std::shared_ptr<ProjectFI> hosted;
    auto bridge = ProjectBridge(1, hosted);
    auto dc = pelmora_test::SampleEnvironment::Get().OpenDataContext();

    rt::Variant list = rt::Variant::ArrayOf({rt::Variant("a"), rt::Variant(int32_t{2})}, 1);
    bridge->put_ArgumentArray(list);
    bridge->put_ComponentName("VALVE_ATTR");
    bridge->put_FieldName("VALVE_TYPE");
    bridge->put_FieldValueBeforeChange(rt::Variant("GATE"));
    bridge->putref_DataContext(dc);

    EXPECT_EQ(rt::LBound(hosted->arguments), 1);
    EXPECT_EQ(rt::UBound(hosted->arguments), 2);
    EXPECT_EQ(rt::CStr(hosted->arguments.Array()->Get(1)), "a");
    EXPECT_EQ(hosted->componentName, "VALVE_ATTR");
    EXPECT_EQ(hosted->fieldName, "VALVE_TYPE");
    EXPECT_EQ(rt::CStr(hosted->valueBeforeChange), "GATE");
    EXPECT_EQ(hosted->dataContext, std::static_pointer_cast<pelmora::IDataContext>(dc));

    // What the hosted object holds comes back.
    hosted->componentName = "CHANGED";
    EXPECT_EQ(bridge->get_ComponentName(), "CHANGED");
    EXPECT_EQ(bridge->get_FieldName(), "VALVE_TYPE");
    EXPECT_EQ(rt::CStr(bridge->get_FieldValueBeforeChange()), "GATE");
    EXPECT_EQ(rt::UBound(bridge->get_ArgumentArray()), 2);
    EXPECT_EQ(bridge->get_DataContext(), std::static_pointer_cast<pelmora::IDataContext>(dc));

    // Null passes as Null.
    bridge->put_ArgumentArray(rt::Variant::Null());
    EXPECT_TRUE(hosted->arguments.IsNull());
    bridge->putref_DataContext(nullptr);
    EXPECT_EQ(hosted->dataContext, nullptr);
}

TEST_F(FunctionalInterfaceBridgeTest, NameModeConvertsObjectsArraysAndValues) {
    std::shared_ptr<NamedFI> hosted;
    auto bridge = NamedBridge("Pelmora:ValveRules", hosted);
    EXPECT_TRUE(bridge->get_NameMode());
    auto dc = pelmora_test::SampleEnvironment::Get().OpenDataContext();

    bridge->put_ArgumentArray(rt::Variant::ArrayOf({rt::Variant("x"), rt::Variant("y")}, 1));
    ASSERT_TRUE(hosted->arguments);
    EXPECT_EQ(KindOf(hosted->arguments), "Arguments");
    rt::Variant args = ValueOf(hosted->arguments);
    EXPECT_EQ(rt::LBound(args), 0) << "re-based before conversion";
    EXPECT_EQ(rt::UBound(args), 1);
    EXPECT_EQ(rt::CStr(args.Array()->Get(1)), "y");
    // Its get hands out the converted object itself.
    rt::Variant back = bridge->get_ArgumentArray();
    ASSERT_TRUE(back.IsObject());
    EXPECT_EQ(back.Obj(), hosted->arguments);

    bridge->put_ArgumentArray(rt::Variant());
    EXPECT_FALSE(pelmora::IsArrayDimensioned(ValueOf(hosted->arguments)));

    bridge->put_FieldValueBeforeChange(rt::Variant(2.5));
    EXPECT_EQ(KindOf(hosted->valueBeforeChange), "Value");
    EXPECT_EQ(rt::CDbl(bridge->get_FieldValueBeforeChange()), 2.5) << "converted back";

    bridge->putref_DataContext(dc);
    EXPECT_EQ(KindOf(hosted->dataContext), "DataContext");
    EXPECT_EQ(ValueOf(hosted->dataContext).Obj(), rt::ObjectPtrOf(dc));
    // A converted context is no data context of the system.
    EXPECT_EQ(Raised([&] { bridge->get_DataContext(); }).Number(), rt::vberr::TypeMismatch);

    bridge->put_ComponentName("VALVE_ATTR");
    bridge->put_FieldName("VALVE_TYPE");
    EXPECT_EQ(bridge->get_ComponentName(), "VALVE_ATTR");
    EXPECT_EQ(bridge->get_FieldName(), "VALVE_TYPE");
}

TEST_F(FunctionalInterfaceBridgeTest, ComponentServiceIsKeptAndItsComponentsHandedOn) {
    std::shared_ptr<ProjectFI> project;
    std::shared_ptr<NamedFI> named;
    auto p = ProjectBridge(1, project);
    auto n = NamedBridge("Lib:Service", named);
    auto service = Service();

    p->putref_ComponentService(service);
    n->putref_ComponentService(service);
    EXPECT_EQ(p->get_ComponentService(), std::static_pointer_cast<pelmora::IComponentService>(service));
    auto qz = rt::QueryInterface<pelmora::QzComponents>(service->get_Components());
    EXPECT_EQ(project->components, qz);
    EXPECT_EQ(KindOf(named->components), "Components");
    EXPECT_EQ(ValueOf(named->components).Obj(), rt::ObjectPtrOf(qz));
    // The getter does not ask the hosted object.
    EXPECT_FALSE(project->Called("get Components"));

    // Nothing passes nothing, and the bridge lets go of the service.
    std::weak_ptr<pelmora::ComponentService> weak = service;
    p->putref_ComponentService(nullptr);
    n->putref_ComponentService(nullptr);
    service.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_TRUE(project->componentsSet);
    EXPECT_EQ(project->components, nullptr);
    EXPECT_EQ(named->components, nullptr);
    EXPECT_EQ(p->get_ComponentService(), nullptr);

    // A service that is not the system's own is refused.
    auto foreign = std::make_shared<ForeignComponentService>();
    EXPECT_EQ(Raised([&] { p->putref_ComponentService(foreign); }).Number(), rt::vberr::TypeMismatch);
}

TEST_F(FunctionalInterfaceBridgeTest, ServiceIsReleasedEvenWhenTheHostedObjectRefusesIt) {
    std::shared_ptr<ProjectFI> hosted;
    auto bridge = ProjectBridge(1, hosted);
    auto service = Service();
    bridge->putref_ComponentService(service);
    hosted->FailOn("Components", 77, "Hosted", "no");
    std::weak_ptr<pelmora::ComponentService> weak = service;
    service.reset();
    EXPECT_EQ(Raised([&] { bridge->putref_ComponentService(nullptr); }).Number(), 77);
    EXPECT_TRUE(weak.expired());
}

TEST_F(FunctionalInterfaceBridgeTest, CancelUpdateAndUpdateStopAtTheBridge) {
    std::shared_ptr<ProjectFI> project;
    std::shared_ptr<NamedFI> named;
    auto p = ProjectBridge(1, project);
    auto n = NamedBridge("Lib:Quiet", named);
    project->FailOn("Update", 1, "x", "must not be called");
    for (auto& bridge : {p, n}) {
        bridge->CancelUpdate();
        bridge->Update();
    }
    EXPECT_TRUE(project->calls.empty());
    EXPECT_TRUE(named->calls.empty());

    // Delete and Execute do reach it.
    p->Delete();
    n->Delete();
    n->Execute();
    EXPECT_EQ(project->calls, std::vector<std::string>{"Delete"});
    EXPECT_EQ(named->calls, (std::vector<std::string>{"Delete", "Execute"}));
}

TEST_F(FunctionalInterfaceBridgeTest, ValidateResults) {
    std::shared_ptr<ProjectFI> project;
    auto p = ProjectBridge(1, project);
    project->validatePriorities = rt::Variant::ArrayOf({rt::Variant("High")});
    project->validateMessages = rt::Variant::ArrayOf({rt::Variant("Too long")});
    rt::Variant priorities, messages;
    p->Validate(priorities, messages);
    EXPECT_EQ(rt::CStr(priorities.Array()->Get(0)), "High");
    EXPECT_EQ(rt::CStr(messages.Array()->Get(0)), "Too long");

    // Name mode: two text arrays go in without elements; one that comes back
    // so becomes one empty text.
    std::shared_ptr<NamedFI> named;
    auto n = NamedBridge("Lib:Validator", named);
    rt::Variant found = rt::Variant::MakeArray(rt::vbString, 0, 1);
    found.ArrayMut()->Set(0, rt::Variant("A"));
    found.ArrayMut()->Set(1, rt::Variant("B"));
    named->validateMessages = found;
    priorities = rt::Variant("old");
    messages = rt::Variant("old");
    n->Validate(priorities, messages);
    EXPECT_EQ(named->prioritiesIn.Type(), rt::vbArray | rt::vbString);
    EXPECT_FALSE(pelmora::IsArrayDimensioned(named->prioritiesIn));
    ASSERT_TRUE(priorities.IsArray());
    EXPECT_EQ(rt::LBound(priorities), 0);
    EXPECT_EQ(rt::UBound(priorities), 0);
    EXPECT_EQ(rt::CStr(priorities.Array()->Get(0)), "");
    EXPECT_EQ(rt::UBound(messages), 1);
    EXPECT_EQ(rt::CStr(messages.Array()->Get(1)), "B");
}

// ---- aborts and failures ----

TEST_F(FunctionalInterfaceBridgeTest, AbortTurnsLaterCallsIntoTheUserInterruptedError) {
    std::shared_ptr<ProjectFI> hosted;
    auto bridge = ProjectBridge(4, hosted);
    auto service = Service();
    bridge->putref_ComponentService(service);
    std::weak_ptr<ProjectFI> weakHosted = hosted;
    std::weak_ptr<pelmora::ComponentService> weakService = service;
    service.reset();

    Host()->UnloadProject(4);
    EXPECT_TRUE(bridge->get_Unloaded());
    EXPECT_EQ(hosted->ListenerCount(), 0u) << "the sink is dropped";
    hosted.reset();
    EXPECT_TRUE(weakHosted.expired()) << "the bridge released the hosted object";
    EXPECT_TRUE(weakService.expired()) << "and the kept service";
    EXPECT_EQ(bridge->get_ComponentService(), nullptr);

    for (auto call : std::vector<std::function<void()>>{
             [&] { bridge->Execute(); }, [&] { bridge->Delete(); },
             [&] { bridge->putref_DataContext(nullptr); }, [&] { bridge->put_FunctionalType("Edit"); },
             [&] { bridge->get_ComponentName(); }}) {
        auto e = Raised(call);
        EXPECT_EQ(e.Number(), kUserInterrupted);
        EXPECT_EQ(e.Source(), "FunctionalInterfaceBridge");
        EXPECT_EQ(e.Description(), UserInterruptedText());
    }
    // The two members that stop at the bridge still do nothing quietly.
    bridge->Update();
    bridge->CancelUpdate();
}

TEST_F(FunctionalInterfaceBridgeTest, AbortDuringACallIsReportedAsTheUserInterruptedError) {
    std::shared_ptr<ProjectFI> hosted;
    auto bridge = ProjectBridge(4, hosted);
    hosted->AbortOn("Execute");
    auto e = Raised([&] { bridge->Execute(); });
    EXPECT_EQ(e.Number(), kUserInterrupted);
    EXPECT_EQ(e.Source(), "FunctionalInterfaceBridge");
}

TEST_F(FunctionalInterfaceBridgeTest, AnObjectOnlyTheBridgeHoldsSurvivesItsOwnAbortDuringACall) {
    // A host of the test's own, dropped after binding: the bridge is then the
    // last holder of the object that aborts inside Execute. Nothing else may
    // refer to the object, so that freeing it too early is seen.
    struct Counted : ProjectFI {
        explicit Counted(std::shared_ptr<bool> gone) : gone_(std::move(gone)) {}
        ~Counted() override { *gone_ = true; }
        std::shared_ptr<bool> gone_;
    };
    auto gone = std::make_shared<bool>(false);
    auto host = std::make_shared<product::VbaProjectHost>();
    {
        auto hosted = std::make_shared<Counted>(gone);
        hosted->AbortOn("Execute");
        host->LoadProject(8, hosted);
    }
    rt::RegisterClass(pelmora::kVbaProjectHostProgId, pelmora::kVbaProjectHostClsid,
                      [host] { return std::static_pointer_cast<rt::Object>(host); });
    auto bridge = std::make_shared<FunctionalInterfaceBridge>();
    bridge->Initialize(8, "");
    rt::Apartment::Reset();
    rt::UnregisterClass(pelmora::kVbaProjectHostClsid);
    host.reset();
    ASSERT_FALSE(*gone);

    EXPECT_EQ(Raised([&] { bridge->Execute(); }).Number(), kUserInterrupted);
    EXPECT_TRUE(*gone) << "released once the call was over";
    product::RegisterProductStandIns();
}

TEST_F(FunctionalInterfaceBridgeTest, OtherFailuresKeepTheirNumberSourceAndDescription) {
    std::shared_ptr<ProjectFI> project;
    std::shared_ptr<NamedFI> named;
    auto p = ProjectBridge(1, project);
    auto n = NamedBridge("Lib:Failing", named);
    const int32_t hresult = rt::HResult(0x800A0BCDu);
    project->FailOn("Execute", 1234, "MeterTools.Module1", "Meter number missing");
    project->FailOn("FieldName", hresult, "ADODB.Field", "No current record.");
    named->FailOn("Delete", 13, "Managed", "Type mismatch");
    named->FailOn("FunctionalType", pelmora::kErrorBase + 14119, "Inner", "nested abort");

    auto e = Raised([&] { p->Execute(); });
    EXPECT_EQ(e.Number(), 1234);
    EXPECT_EQ(e.Source(), "MeterTools.Module1");
    EXPECT_EQ(e.Description(), "Meter number missing");
    e = Raised([&] { p->put_FieldName("X"); });
    EXPECT_EQ(e.Number(), hresult);
    EXPECT_EQ(e.Description(), "No current record.");
    e = Raised([&] { n->Delete(); });
    EXPECT_EQ(e.Number(), 13);
    EXPECT_EQ(e.Source(), "Managed");
    // A nested abort keeps its number, so the caller still sees an abort.
    e = Raised([&] { n->put_FunctionalType("AddNew"); });
    EXPECT_EQ(e.Number(), kUserInterrupted);
    EXPECT_EQ(e.Source(), "Inner");
    EXPECT_FALSE(p->get_Unloaded());
}

TEST_F(FunctionalInterfaceBridgeTest, AnUnboundBridgeFailsWithObjectNotSet) {
    FunctionalInterfaceBridge bridge;
    EXPECT_EQ(Raised([&] { bridge.Execute(); }).Number(), rt::vberr::ObjectVariableNotSet);
    EXPECT_EQ(Raised([&] { bridge.put_ComponentName("X"); }).Number(), rt::vberr::ObjectVariableNotSet);
}

}  // namespace
}  // namespace exttest
