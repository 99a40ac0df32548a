// Functional interfaces of the sample's water main lining fired by the
// component's events: every functional type at its moment, what each call
// is given, failures and aborts with the log, the bridges of VBA projects and
// of names with ":", re-entry, and no reference cycle left behind.
#include "FunctionalInterfaceTestObjects.h"

#include "pelmora/metadata/MetadataRecordset.h"
#include "pelmora/metadata/MetadataRecordsets.h"
#include "product/InterfaceSupport.h"

using componenttest::LongArray;
using componenttest::Message;
using fitest::FiringFixture;
using fitest::Journal;
using fitest::RecordingFI;
using fitest::Str;

namespace {

constexpr const char* kCheck = "Pelmora.LiningTypeCheck";
constexpr const char* kNotice = "Pelmora.LiningTypeNotice";
constexpr const char* kThickness = "Pelmora.LiningThickness";
constexpr const char* kYear = "Pelmora.LiningYear";
const int32_t kAbort = static_cast<int32_t>(0x80040000u) + 14119;

class Firing : public FiringFixture {
protected:
    // The lining of main 1001 on its first row (CID 1, CEMENT, 1998).
    std::shared_ptr<ado::Recordset> Lining() {
        main_ = Main(rt::Variant(int32_t{1001}));
        lining_ = Get(main_, 14);
        auto rs = lining_->get_Recordset();
        rs->MoveFirst();
        return rs;
    }
    std::shared_ptr<pelmora::Components> main_;
    std::shared_ptr<pelmora::Component> lining_;
};

}  // namespace

TEST_F(Firing, EveryFunctionalTypeFiresAtItsMoment) {
    auto rs = Lining();

    // First change of a row: the Edit interface (project 1), then the
    // field's SetValue interfaces in row order.
    rs->SetValue(rt::Variant("LINING_TYPE"), rt::Variant("EPOXY"));
    EXPECT_EQ(*journal_, (Journal{kCheck + std::string(" Execute SetValue LINING_TYPE"),
                                  kNotice + std::string(" Execute SetValue LINING_TYPE")}));
    EXPECT_EQ(project_->calls, (std::vector<std::string>{"DataContext", "FieldValueBeforeChange", "ArgumentArray",
                                                         "ComponentName", "Components", "FieldName",
                                                         "FunctionalType", "Execute", "Components"}));
    EXPECT_EQ(project_->functionalType, pelmora::kFunctionalTypeEdit);
    EXPECT_EQ(project_->fieldName, "LINING_YEAR");
    // Later changes of the row fire only SetValue.
    journal_->clear();
    project_->calls.clear();
    rs->SetValue(rt::Variant("LINING_YEAR"), rt::Variant(int32_t{2001}));
    EXPECT_TRUE(journal_->empty());
    EXPECT_TRUE(project_->calls.empty());

    // Update: the Update interface executed, then Update on every interface
    // in row order (the project's bridge keeps Update to itself).
    rs->Update();
    EXPECT_EQ(*journal_, (Journal{kThickness + std::string(" Execute Update THICKNESS_MM"),
                                  kCheck + std::string(" Update SetValue LINING_TYPE"),
                                  kThickness + std::string(" Update Update THICKNESS_MM"),
                                  kYear + std::string(" Update AddNew LINING_YEAR"),
                                  kNotice + std::string(" Update SetValue LINING_TYPE")}));
    EXPECT_FALSE(project_->Called("Update"));

    // An undone change: CancelUpdate on every interface.
    journal_->clear();
    rs->MoveNext();
    rs->SetValue(rt::Variant("THICKNESS_MM"), rt::Variant(9.0));
    journal_->clear();
    rs->CancelUpdate();
    EXPECT_EQ(*journal_, (Journal{kCheck + std::string(" CancelUpdate SetValue LINING_TYPE"),
                                  kThickness + std::string(" CancelUpdate Update THICKNESS_MM"),
                                  kYear + std::string(" CancelUpdate AddNew LINING_YEAR"),
                                  kNotice + std::string(" CancelUpdate SetValue LINING_TYPE")}));

    // AddNew: the AddNew interface; the defaults and keys fire nothing, the
    // loaded values their SetValue interfaces.
    journal_->clear();
    rs->AddNew();
    EXPECT_EQ(*journal_, (Journal{kYear + std::string(" Execute AddNew LINING_YEAR"),
                                  kCheck + std::string(" Execute SetValue LINING_TYPE"),
                                  kNotice + std::string(" Execute SetValue LINING_TYPE")}));

    // Delete: Delete on every interface, the project's included.
    rs->CancelUpdate();
    rs->MoveFirst();
    journal_->clear();
    project_->calls.clear();
    rs->Delete();
    EXPECT_EQ(*journal_, (Journal{kCheck + std::string(" Delete SetValue LINING_TYPE"),
                                  kThickness + std::string(" Delete Update THICKNESS_MM"),
                                  kYear + std::string(" Delete AddNew LINING_YEAR"),
                                  kNotice + std::string(" Delete SetValue LINING_TYPE")}));
    EXPECT_TRUE(project_->Called("Delete"));
    EXPECT_TRUE(LogLines().empty());
    EXPECT_TRUE(HandlerErrors().empty()) << Shown();
}

TEST_F(Firing, DefinitionsDroppedFromTheMetadataNoLongerFire) {
    auto rs = Lining();
    rs->SetValue(rt::Variant("LINING_TYPE"), rt::Variant("EPOXY"));
    rs->Update();
    ASSERT_EQ(MadeCount(kNotice), 1u);
    journal_->clear();

    // The notice's definition goes from the metadata table in place, as a
    // refresh of deleted records takes it out.
    auto definitions = std::dynamic_pointer_cast<pelmora::MetadataRecordset>(
        metadata_->get_Recordsets()->get_Item(rt::Variant("QTX_ATTRIBUTEINFOFI_OPTABLE")));
    ASSERT_TRUE(definitions);
    definitions->DeleteFilteredRecords("QTX_ANO = 1405");

    rs->SetValue(rt::Variant("LINING_TYPE"), rt::Variant("NONE"));
    rs->Update();
    EXPECT_EQ(*journal_, (Journal{kCheck + std::string(" Execute SetValue LINING_TYPE"),
                                  kThickness + std::string(" Execute Update THICKNESS_MM"),
                                  kCheck + std::string(" Update SetValue LINING_TYPE"),
                                  kThickness + std::string(" Update Update THICKNESS_MM"),
                                  kYear + std::string(" Update AddNew LINING_YEAR")}));

    // A component made afterwards reads the definitions as they are now.
    journal_->clear();
    auto otherMain = Main(rt::Variant(int32_t{1002}));
    auto other = Get(otherMain, 14)->get_Recordset();
    other->AddNew();
    journal_->clear();
    other->SetValue(rt::Variant("LINING_TYPE"), rt::Variant("EPOXY"));
    EXPECT_EQ(*journal_, (Journal{kCheck + std::string(" Execute SetValue LINING_TYPE")}));
    EXPECT_TRUE(HandlerErrors().empty()) << Shown();
}

TEST_F(Firing, AnAddedRowHasItsDefaultsAndKeysBeforeItsInterfacesAndItsLoadedValuesAfter) {
    std::vector<std::string> seen;
    std::weak_ptr<ado::Recordset> rows;
    auto look = [&](RecordingFI& self) {
        auto rs = rows.lock();
        seen.push_back(self.name + " CID " + Str(rs->GetValue(rt::Variant("QTX_CID"))) + " type " +
                       Str(rs->GetValue(rt::Variant("LINING_TYPE"))) + " thickness " +
                       Str(rs->GetValue(rt::Variant("THICKNESS_MM"))));
    };
    Register(kYear, [&](RecordingFI& fi) { fi.onCall = look; });
    Register(kCheck, [&](RecordingFI& fi) { fi.onCall = look; });
    auto rs = Lining();
    rows = rs;
    rs->AddNew();
    // Main 1001 (DI): the AddNew interface sees the default type and no
    // thickness; the loaded values come later (the class's first, then the
    // material's) and fire the type's check.
    EXPECT_EQ(seen, (std::vector<std::string>{kYear + std::string(" CID 4 type CEMENT thickness Null"),
                                              kCheck + std::string(" CID 4 type CEMENT thickness 3")}));
    EXPECT_DOUBLE_EQ(rt::CDbl(rs->GetValue(rt::Variant("THICKNESS_MM"))), 4.5);
}

TEST_F(Firing, AnInterfaceIsGivenItsFieldValueArgumentsAndService) {
    auto rs = Lining();
    rs->SetValue(rt::Variant("LINING_TYPE"), rt::Variant("EPOXY"));
    auto check = Made(kCheck);
    ASSERT_TRUE(check);
    EXPECT_EQ(check->componentName, "WATER_MAIN_LINING");
    EXPECT_EQ(Str(check->before), "CEMENT");
    EXPECT_TRUE(check->arguments.IsEmpty());
    EXPECT_EQ(check->dataContext, Context());
    // One feature: the service serves the owning collection, and only
    // during the call.
    EXPECT_TRUE(check->servedWasSet);
    EXPECT_EQ(check->served.lock(), std::static_pointer_cast<pelmora::IComponents>(main_));
    EXPECT_FALSE(check->service);

    // Update and Delete pass Null as the value before the change.
    rs->Update();
    EXPECT_TRUE(check->before.IsNull());
    EXPECT_EQ(check->type, "SetValue");

    // The same interface again: the cached object, given the data context again.
    rs->SetValue(rt::Variant("LINING_TYPE"), rt::Variant("CEMENT"));
    EXPECT_EQ(MadeCount(kCheck), 1u);
    EXPECT_EQ(check->dataContextSets, 3);
    // A cached object that refuses the data context is replaced.
    check->Fail("DataContext", 5);
    rs->SetValue(rt::Variant("LINING_TYPE"), rt::Variant("EPOXY"));
    EXPECT_EQ(MadeCount(kCheck), 2u);
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(Firing, SeveralFeaturesGiveTheServiceOfTheRowsFeature) {
    // Every component of the mains, as opening them together gives.
    auto main = std::make_shared<pelmora::Components>();
    main->putref_DataContext(Context());
    for (int16_t cno : {1, 11, 12, 13, 14}) main->AddComponentByCNO(cno, LongArray({1001, 1002}));
    main->GetComponent(11)->get_Recordset()->MoveLast();  // on main 1002 (PVC)
    auto lining = Get(main, 14);
    auto rs = lining->get_Recordset();
    rs->MoveFirst();
    rt::Variant material;
    Register(kCheck, [&](RecordingFI& fi) {
        fi.onCall = [&](RecordingFI& self) {
            if (!self.service) return;
            self.service->put_ComponentName("WATER_MAIN_ATTR");
            material = self.service->get_Value("MATERIAL");
        };
    });
    rs->SetValue(rt::Variant("LINING_TYPE"), rt::Variant("EPOXY"));
    auto check = Made(kCheck);
    ASSERT_TRUE(check);
    EXPECT_TRUE(check->servedWasSet);
    EXPECT_NE(check->served.lock(), std::static_pointer_cast<pelmora::IComponents>(main));
    EXPECT_EQ(Str(material), "DI");  // main 1001's, whatever the collection's cursor
    EXPECT_TRUE(LogLines().empty()) << LogLines().front();
}

TEST_F(Firing, AFailedExecuteIsLoggedAndTheOthersStillRun) {
    Register(kCheck, [](RecordingFI& fi) {
        fi.Fail("Execute", 5, "the check broke");
        // It wanders off to another row before failing.
        fi.onCall = [](RecordingFI& self) {
            auto internal = rt::QueryInterface<pelmora::IComponentServiceInternal>(self.service);
            auto rows = internal->get_Components()->get_Item(rt::Variant("WATER_MAIN_LINING"))->get_Recordset();
            rows->MoveLast();
        };
    });
    auto rs = Lining();
    rs->SetValue(rt::Variant("LINING_TYPE"), rt::Variant("EPOXY"));
    EXPECT_EQ(*journal_, (Journal{kCheck + std::string(" Execute SetValue LINING_TYPE"),
                                  kNotice + std::string(" Execute SetValue LINING_TYPE")}));
    auto lines = LogLines();
    ASSERT_EQ(lines.size(), 1u);
    const std::string expected = Message(21984);
    EXPECT_NE(lines[0].find(" --- " + pelmora::LoadResStringWithParams(21984, kCheck, "Execute") + " - the check broke"),
              std::string::npos)
        << lines[0] << " / " << expected;
    // Back on its row, and the failed interface holds no service.
    EXPECT_EQ(Str(rs->GetValue(rt::Variant("QTX_CID"))), "1");
    EXPECT_EQ(Str(rs->GetValue(rt::Variant("LINING_TYPE"))), "EPOXY");
    EXPECT_FALSE(Made(kCheck)->service);
    EXPECT_TRUE(HandlerErrors().empty()) << Shown();
}

TEST_F(Firing, AFailedUpdateEndsTheWalk) {
    Register(kThickness, [](RecordingFI& fi) { fi.Fail("Update", 5, "thickness unknown"); });
    auto rs = Lining();
    rs->SetValue(rt::Variant("LINING_YEAR"), rt::Variant(int32_t{2002}));
    journal_->clear();
    rs->Update();
    EXPECT_EQ(*journal_, (Journal{kThickness + std::string(" Execute Update THICKNESS_MM"),
                                  kCheck + std::string(" Update SetValue LINING_TYPE"),
                                  kThickness + std::string(" Update Update THICKNESS_MM")}));
    auto lines = LogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(pelmora::LoadResStringWithParams(21984, kThickness, "Update") + " - thickness unknown"),
              std::string::npos);
    EXPECT_FALSE(Made(kThickness)->service);
    // The update itself went through.
    EXPECT_EQ(rs->get_EditMode(), ado::adEditInProgress);
    EXPECT_EQ(Str(rs->GetValue(rt::Variant("LINING_YEAR"))), "2002");
}

TEST_F(Firing, AnAbortIsNotLoggedAndTheNextFiringMakesANewObject) {
    Register(kCheck, [](RecordingFI& fi) { fi.Fail("Execute", kAbort, "user stopped it"); });
    auto rs = Lining();
    rs->SetValue(rt::Variant("LINING_TYPE"), rt::Variant("EPOXY"));
    rs->SetValue(rt::Variant("LINING_TYPE"), rt::Variant("CEMENT"));
    EXPECT_EQ(MadeCount(kCheck), 2u);
    EXPECT_TRUE(LogLines().empty());

    // A project that goes away during the call aborts through its bridge.
    project_->AbortOn("Execute");
    rs->MoveNext();  // a first change again
    rs->SetValue(rt::Variant("LINING_YEAR"), rt::Variant(int32_t{2003}));
    EXPECT_TRUE(LogLines().empty());
    project_->aborts.clear();
    project_->calls.clear();
    rs->MoveFirst();
    rs->SetValue(rt::Variant("LINING_YEAR"), rt::Variant(int32_t{2004}));
    EXPECT_TRUE(project_->Called("Execute"));
    EXPECT_EQ(project_->ListenerCount(), 1u);  // the new bridge listens, the old one is gone
}

TEST_F(Firing, UnboundProjectsAndUnknownNamesAreLoggedProgIdsAreNot) {
    product::VbaProjectHost::Current()->UnloadAll();
    rt::UnregisterClass(kCheck);
    auto rs = Lining();
    rs->SetValue(rt::Variant("LINING_TYPE"), rt::Variant("EPOXY"));
    auto lines = LogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("Error creating VBA FI 'LiningAudit': "), std::string::npos) << lines[0];
    EXPECT_EQ(*journal_, (Journal{kNotice + std::string(" Execute SetValue LINING_TYPE")}));

    // Without a log path nothing is written and nothing fails.
    pelmora::FunctionalInterfaceLogPath().clear();
    rs->MoveNext();
    rs->SetValue(rt::Variant("LINING_TYPE"), rt::Variant("EPOXY"));
    EXPECT_TRUE(HandlerErrors().empty()) << Shown();
}

TEST_F(Firing, NamedInterfacesGoThroughTheSupportObject) {
    product::UnregisterInterfaceObject(componenttest::kSampleNamedInterface);
    auto named = std::make_shared<exttest::NamedFI>();
    product::RegisterInterfaceObject(componenttest::kSampleNamedInterface,
                                     [named] { return std::static_pointer_cast<rt::Object>(named); });
    auto valve = NewComponent(21, {2001});
    auto rs = valve->get_Recordset();
    rs->SetValue(rt::Variant("VALVE_TYPE"), rt::Variant("BUTTERFLY"));
    EXPECT_TRUE(named->Called("Execute"));
    EXPECT_EQ(named->functionalType, pelmora::kFunctionalTypeSetValue);
    EXPECT_EQ(named->fieldName, "VALVE_TYPE");
    EXPECT_EQ(named->componentName, "VALVE_ATTR");
    ASSERT_TRUE(named->arguments);
    rt::Variant arguments = rt::QueryInterface<pelmora::IConvertedValue>(named->arguments)->get_Value();
    ASSERT_TRUE(arguments.IsArray());
    EXPECT_EQ(rt::LBound(arguments), 0);
    EXPECT_EQ(Str(arguments.Array()->Get(1)), "BUTTERFLY");
    EXPECT_EQ(Str(rt::QueryInterface<pelmora::IConvertedValue>(named->valueBeforeChange)->get_Value()), "GATE");

    // Aborting by error number in name mode is an abort too.
    named->FailOn("Execute", kAbort, "Named", "stop");
    rs->SetValue(rt::Variant("VALVE_TYPE"), rt::Variant("GATE"));
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(Firing, NothingFiresInsideAnInterfaceForAClonesComponentOrWhenDisabled) {
    int calls = 0;
    Register(kCheck, [&](RecordingFI& fi) {
        fi.onCall = [&](RecordingFI& self) {
            ++calls;
            // Writes its own field: no interface fires inside.
            if (self.service) self.service->put_ComponentName("WATER_MAIN_LINING");
            if (self.service) self.service->put_Value("LINING_TYPE", rt::Variant("PLASTIC"));
        };
    });
    auto rs = Lining();
    rs->SetValue(rt::Variant("LINING_TYPE"), rt::Variant("EPOXY"));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(Str(rs->GetValue(rt::Variant("LINING_TYPE"))), "PLASTIC");
    EXPECT_EQ(journal_->size(), 2u);  // the check once, the notice once

    journal_->clear();
    lining_->put_FunctionalInterfacesEnabled(false);
    rs->SetValue(rt::Variant("LINING_TYPE"), rt::Variant("EPOXY"));
    rs->Update();
    EXPECT_TRUE(journal_->empty());

    lining_->put_FunctionalInterfacesEnabled(true);
    lining_->put_ClonedComponent(true);
    rs->SetValue(rt::Variant("LINING_TYPE"), rt::Variant("CEMENT"));
    rs->Update();
    rs->Delete();
    EXPECT_TRUE(journal_->empty());
}

TEST_F(Firing, ANewGeometryFiresWithTheGeometryItReplaced) {
    auto other = NewComponent(22, {2002})->get_Geometry();
    auto symbol = NewComponent(22, {2001});
    symbol->putref_Geometry(other);
    auto moved = Made("Pelmora.SymbolMoved");
    ASSERT_TRUE(moved);
    EXPECT_EQ(*journal_, (Journal{"Pelmora.SymbolMoved Execute SetValue QTX_GEOMETRY"}));
    ASSERT_TRUE(moved->before.IsObject());
    auto origin = rt::CallByName(moved->before.Obj(), "Origin", rt::InvokeKind::PropertyGet).Obj();
    EXPECT_EQ(rt::CDbl(rt::CallByName(origin, "X", rt::InvokeKind::PropertyGet)), 1100.0);  // valve 2001's
    auto now = rt::CallByName(symbol->get_Geometry(), "Origin", rt::InvokeKind::PropertyGet).Obj();
    EXPECT_EQ(rt::CDbl(rt::CallByName(now, "X", rt::InvokeKind::PropertyGet)), 1200.0);
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(Firing, FiredComponentsLeaveNoCycleBehind) {
    std::weak_ptr<pelmora::Components> collection;
    std::weak_ptr<pelmora::Component> component;
    {
        Register(kCheck, [](RecordingFI& fi) { fi.Fail("Execute", 5, "fails"); });
        auto rs = Lining();
        collection = main_;
        component = lining_;
        rs->SetValue(rt::Variant("LINING_TYPE"), rt::Variant("EPOXY"));
        rs->Update();
        rs->Delete();
        ASSERT_EQ(journal_->size(), 11u);
        main_.reset();
        lining_.reset();
    }
    EXPECT_TRUE(collection.expired());
    EXPECT_TRUE(component.expired());
}

// Every interface, when given the data context (the first step of preparing
// it), edits the component or adds a row to it: that fires nothing, at every
// moment, so the moment ends and still runs its own interface.
TEST_F(Firing, AnInterfaceChangingItsComponentWhileBeingPreparedFiresNothingMore) {
    std::shared_ptr<ado::Recordset> rs;
    bool addRow = false;
    int depth = 0, deepest = 0;
    auto change = [&] {
        // Far beyond what a guarded firing reaches: stop rather than overflow.
        if (!rs || depth > 3) return;
        deepest = std::max(deepest, ++depth);
        try {
            if (addRow)
                rs->AddNew();
            else
                rs->SetValue(rt::Variant("LINING_TYPE"), rt::Variant("PLASTIC"));
        } catch (const rt::ComError&) {
        }
        --depth;
    };
    for (const char* progId : {kCheck, kNotice, kThickness, kYear})
        Register(progId, [&](RecordingFI& fi) { fi.onDataContext = [&](RecordingFI&) { change(); }; });
    struct ChangingProject : exttest::ProjectFI {
        std::function<void()> onDataContext;
        void putref_DataContext(const std::shared_ptr<pelmora::IDataContext>& v) override {
            if (onDataContext) onDataContext();
            ProjectFI::putref_DataContext(v);
        }
    };
    auto project = std::make_shared<ChangingProject>();
    project->onDataContext = change;
    product::VbaProjectHost::Current()->LoadProject(1, project);

    using Step = std::function<void(ado::Recordset&)>;
    auto assign = [](const char* field, rt::Variant value) -> Step {
        return [=](ado::Recordset& r) { r.SetValue(rt::Variant(field), value); };
    };
    const Step nothing = [](ado::Recordset&) {};
    struct Moment {
        const char* name;
        Step prepare, outer;
        std::string runs;  // the journal entry of the moment's own interface ("" for the project's)
    };
    const Moment moments[] = {
        {"AddNew", nothing, [](ado::Recordset& r) { r.AddNew(); }, kYear + std::string(" Execute AddNew LINING_YEAR")},
        {"Edit", nothing, assign("THICKNESS_MM", rt::Variant(6.5)), ""},
        {"SetValue", nothing, assign("LINING_TYPE", rt::Variant("EPOXY")),
         kCheck + std::string(" Execute SetValue LINING_TYPE")},
        {"Update", assign("THICKNESS_MM", rt::Variant(6.5)), [](ado::Recordset& r) { r.Update(); },
         kThickness + std::string(" Update Update THICKNESS_MM")},
        {"Delete", nothing, [](ado::Recordset& r) { r.Delete(); }, kCheck + std::string(" Delete SetValue LINING_TYPE")},
        {"CancelUpdate", assign("THICKNESS_MM", rt::Variant(6.5)), [](ado::Recordset& r) { r.CancelUpdate(); },
         kCheck + std::string(" CancelUpdate SetValue LINING_TYPE")},
    };
    for (bool adding : {false, true}) {
        for (const Moment& m : moments) {
            SCOPED_TRACE(std::string(m.name) + (adding ? ", adding a row" : ", editing"));
            addRow = adding;
            rs = nullptr;
            auto rows = Lining();
            m.prepare(*rows);
            journal_->clear();
            project->calls.clear();
            rs = rows;
            deepest = 0;
            m.outer(*rows);
            EXPECT_EQ(deepest, 1);
            if (m.runs.empty())
                EXPECT_TRUE(project->Called("Execute"));
            else
                EXPECT_NE(std::find(journal_->begin(), journal_->end(), m.runs), journal_->end())
                    << ::testing::PrintToString(*journal_);
            rs = nullptr;
            main_.reset();
            lining_.reset();
        }
    }
}
