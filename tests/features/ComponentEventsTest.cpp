// A component's recordset events on the sample network: defaults, keys and
// the next CID of added rows, attribute loading, the attribute edit
// control's say, the geometry rows of deleted rows, and changes that did not
// happen.
#include "FunctionalInterfaceTestObjects.h"

#include "pelmora/features/FieldInfo.h"
#include "interfaces/LoadAttributesService.h"
#include "product/InterfaceSupport.h"
#include "support/Raises.h"

using componenttest::LongArray;
using componenttest::Message;
using componenttest::Values;
using fitest::FiringFixture;
using fitest::Str;
using pelmora_test::ErrorOf;
using pelmora_test::Raised;

namespace {

rt::Variant V(const std::shared_ptr<ado::Recordset>& rs, const char* field) { return rs->GetValue(rt::Variant(field)); }

// A second listener on the rows that refuses every change of one field,
// or every AddNew.
class Refuser : public ado::RecordsetEvents {
public:
    explicit Refuser(std::string field) : field_(std::move(field)) {}
    bool refuseAddNew = false;
    void WillChangeField(int32_t, const ado::FieldList& fields, ado::EventStatusEnum& status,
                         const ado::RecordsetPtr&) override {
        if (!fields.empty() && fields.front()->get_Name() == field_) status = ado::adStatusCancel;
    }
    void WillChangeRecord(ado::EventReasonEnum reason, int32_t, ado::EventStatusEnum& status,
                          const ado::RecordsetPtr&) override {
        if (refuseAddNew && reason == ado::adRsnAddNew) status = ado::adStatusCancel;
    }

private:
    std::string field_;
};

class ComponentEvents : public FiringFixture {};

}  // namespace

TEST_F(ComponentEvents, AnAddedRowGetsDefaultsKeysAndTheValuesOfItsClass) {
    // Main 1001 is ductile iron, its linings have CIDs 1 and 3.
    auto main = Main(rt::Variant(int32_t{1001}));
    auto rs = Get(main, 14)->get_Recordset();
    rs->AddNew();
    EXPECT_EQ(Str(V(rs, "QTX_CID")), "4");
    EXPECT_EQ(Str(V(rs, "QTX_CNO")), "14");
    EXPECT_EQ(Str(V(rs, "QTX_FNO")), "101");  // a default of the lining's descriptors
    EXPECT_EQ(Str(V(rs, "QTX_FID")), "Null");  // the caller's to give
    EXPECT_EQ(Str(V(rs, "LINING_TYPE")), "CEMENT");
    EXPECT_DOUBLE_EQ(rt::CDbl(V(rs, "THICKNESS_MM")), 4.5);  // the classification wins over the class
    // Still being added: the caller can take it back.
    EXPECT_EQ(rs->get_EditMode(), ado::adEditAdd);
    rs->CancelUpdate();
    EXPECT_EQ(Values(rs, "QTX_CID"), (std::vector<std::string>{"1", "3"}));
    EXPECT_TRUE(HandlerErrors().empty()) << Shown();

    // Main 1002 is PVC and has no lining yet; main 1003 (PE) only the class's values.
    auto pvc = Main(rt::Variant(int32_t{1002}));
    auto rows = Get(pvc, 14)->get_Recordset();
    rows->AddNew();
    EXPECT_EQ(Str(V(rows, "QTX_CID")), "1");
    EXPECT_EQ(Str(V(rows, "LINING_TYPE")), "NONE");
    EXPECT_EQ(rt::CDbl(V(rows, "THICKNESS_MM")), 0.0);
    auto pe = Main(rt::Variant(int32_t{1003}));
    auto peRows = Get(pe, 14)->get_Recordset();
    peRows->AddNew();
    EXPECT_EQ(Str(V(peRows, "LINING_TYPE")), "CEMENT");
    EXPECT_EQ(rt::CDbl(V(peRows, "THICKNESS_MM")), 3.0);
    peRows->SetValue(rt::Variant("QTX_FID"), rt::Variant(int32_t{1003}));
    peRows->Update();
    EXPECT_EQ(peRows->PendingRows().size(), 1u);
    EXPECT_TRUE(HandlerErrors().empty()) << Shown();
}

TEST_F(ComponentEvents, SeveralFeaturesGiveTheCIDWhenTheFeatureIsSet) {
    auto main = Main(LongArray({1001, 1002}));
    auto lining = Get(main, 14);
    auto rs = lining->get_Recordset();
    rs->AddNew();
    EXPECT_EQ(Str(V(rs, "QTX_CID")), "Null");
    EXPECT_EQ(Str(V(rs, "QTX_CNO")), "14");
    rs->SetValue(rt::Variant("QTX_FID"), rt::Variant(int32_t{1001}));
    EXPECT_EQ(Str(V(rs, "QTX_CID")), "4");
    // A row that has its CID keeps it.
    rs->SetValue(rt::Variant("QTX_FID"), rt::Variant(int32_t{1002}));
    EXPECT_EQ(Str(V(rs, "QTX_CID")), "4");
    rs->Update();

    // A second new row of feature 1002 counts the first.
    rs->AddNew();
    rs->SetValue(rt::Variant("QTX_FID"), rt::Variant(int32_t{1002}));
    EXPECT_EQ(Str(V(rs, "QTX_CID")), "5");
    EXPECT_TRUE(HandlerErrors().empty()) << Shown();
}

TEST_F(ComponentEvents, WithoutDefaultsOrKeysTheRowStaysAsAdded) {
    auto main = Main(rt::Variant(int32_t{1001}));
    auto lining = Get(main, 14);
    lining->put_SetDefaultValuesEnabled(false);
    lining->put_AutoAssignKeys(false);
    auto rs = lining->get_Recordset();
    rs->AddNew();
    for (const char* field : {"QTX_CID", "QTX_CNO", "QTX_FNO", "LINING_TYPE", "THICKNESS_MM"})
        EXPECT_EQ(Str(V(rs, field)), "Null") << field;
    rs->SetValue(rt::Variant("QTX_FID"), rt::Variant(int32_t{1001}));
    EXPECT_EQ(Str(V(rs, "QTX_CID")), "Null");
    // The CID is still worked out at AddNew, for when keys are wanted again.
    lining->put_AutoAssignKeys(true);
    rs->AddNew();
    EXPECT_EQ(Str(V(rs, "QTX_CID")), "4");
}

TEST_F(ComponentEvents, AChangeThatDidNotHappenGivesNoKeyAndFiresNothing) {
    auto main = Main(LongArray({1001, 1002}));
    auto lining = Get(main, 14);
    auto rs = lining->get_Recordset();
    auto refuser = std::make_shared<Refuser>("QTX_FID");
    auto refuseType = std::make_shared<Refuser>("LINING_TYPE");
    rs->Advise(refuser);
    rs->AddNew();
    rs->Advise(refuseType);  // after the loaded values went in
    journal_->clear();
    EXPECT_EQ(ErrorOf([&] { rs->SetValue(rt::Variant("QTX_FID"), rt::Variant(int32_t{1001})); }),
              ado::err::OperationCancelled);
    EXPECT_EQ(Str(V(rs, "QTX_CID")), "Null");
    EXPECT_EQ(ErrorOf([&] { rs->SetValue(rt::Variant("LINING_TYPE"), rt::Variant("EPOXY")); }),
              ado::err::OperationCancelled);
    EXPECT_TRUE(journal_->empty()) << journal_->front();
    // Changes of fields without SetValue interfaces happen and fire nothing.
    rs->SetValue(rt::Variant("LINING_YEAR"), rt::Variant(int32_t{2020}));
    rs->SetValue(rt::Variant("THICKNESS_MM"), rt::Variant(2.0));
    EXPECT_TRUE(journal_->empty());
    rs->CancelUpdate();

    // A refused AddNew fills nothing and fires nothing.
    refuser->refuseAddNew = true;
    journal_->clear();
    const int32_t before = rs->get_RecordCount();
    EXPECT_EQ(ErrorOf([&] { rs->AddNew(); }), ado::err::OperationCancelled);
    EXPECT_EQ(rs->get_RecordCount(), before);
    EXPECT_TRUE(journal_->empty());
    EXPECT_TRUE(HandlerErrors().empty()) << Shown();
}

// ---- the attribute edit control ----

class EditControlEvents : public ComponentEvents {
protected:
    std::shared_ptr<exttest::EditControl> control_ = std::make_shared<exttest::EditControl>();
    void SetUp() override {
        ComponentEvents::SetUp();
        auto control = control_;
        rt::RegisterClass("Pelmora.ValvePositionControl", "", [control] { return std::static_pointer_cast<rt::Object>(control); });
    }
    void TearDown() override {
        rt::UnregisterClass("Pelmora.ValvePositionControl");
        ComponentEvents::TearDown();
    }
    std::shared_ptr<pelmora::Components> Valve() {
        auto components = std::make_shared<pelmora::Components>();
        components->putref_DataContext(Context());
        components->AddComponentByCNO(21, rt::Variant(int32_t{2001}));
        return components;
    }
};

TEST_F(EditControlEvents, AControlThatSaysNoRefusesTheChange) {
    auto valve = Valve();
    auto rs = valve->GetComponent(21)->get_Recordset();
    control_->answer = false;
    auto e = Raised([&] { rs->SetValue(rt::Variant("NORMAL_POSITION"), rt::Variant("CLOSED")); });
    EXPECT_EQ(e.Number(), ado::err::OperationCancelled);
    EXPECT_EQ(Str(V(rs, "NORMAL_POSITION")), "OPEN");
    EXPECT_EQ(rs->get_EditMode(), ado::adEditNone);
    // What the control was told.
    EXPECT_EQ(control_->askedAno, 2102);
    EXPECT_EQ(control_->fieldName, "NORMAL_POSITION");
    EXPECT_EQ(control_->componentName, "VALVE_ATTR");
    EXPECT_EQ(Str(control_->fieldValue), "OPEN");
    EXPECT_TRUE(control_->components);
    ASSERT_TRUE(control_->arguments.IsArray());
    EXPECT_EQ(rt::UBound(control_->arguments), 3);
    EXPECT_EQ(Str(control_->arguments.Array()->Get(2)), "CLOSED");
    EXPECT_TRUE(HandlerErrors().empty()) << Shown();

    control_->answer = true;
    rs->SetValue(rt::Variant("NORMAL_POSITION"), rt::Variant("CLOSED"));
    EXPECT_EQ(Str(V(rs, "NORMAL_POSITION")), "CLOSED");

    // Switched off, no control is asked.
    control_->answer = false;
    control_->calls.clear();
    valve->GetComponent(21)->put_AttributeEditControlEnabled(false);
    rs->SetValue(rt::Variant("NORMAL_POSITION"), rt::Variant("PARTIAL"));
    EXPECT_EQ(Str(V(rs, "NORMAL_POSITION")), "PARTIAL");
    EXPECT_TRUE(control_->calls.empty());
}

TEST_F(EditControlEvents, AFailingControlIsShownAndLetsTheChangePass) {
    auto valve = Valve();
    auto rs = valve->GetComponent(21)->get_Recordset();
    control_->answer = false;
    control_->FailOn("IsAttributeEditable", 5, "Control", "no answer today");
    rs->SetValue(rt::Variant("NORMAL_POSITION"), rt::Variant("CLOSED"));
    EXPECT_EQ(Str(V(rs, "NORMAL_POSITION")), "CLOSED");
    ASSERT_EQ(HandlerErrors().size(), 1u);
    EXPECT_NE(HandlerErrors()[0].text.find("no answer today"), std::string::npos);

    // A control whose ProgID cannot be made is reported the same way.
    rt::UnregisterClass("Pelmora.ValvePositionControl");
    rs->SetValue(rt::Variant("NORMAL_POSITION"), rt::Variant("OPEN"));
    EXPECT_EQ(Str(V(rs, "NORMAL_POSITION")), "OPEN");
    EXPECT_EQ(HandlerErrors().size(), 2u);
}

TEST_F(EditControlEvents, FieldsWithoutAControlChangeAndGetADescriptor) {
    auto valve = Valve();
    auto component = Get(valve, 21);
    auto rs = component->get_Recordset();
    EXPECT_EQ(pelmora::FindFieldInfo(component->get_FieldInfoCollection(), "LTT_STATUS"), nullptr);
    rs->SetValue(rt::Variant("LTT_STATUS"), rt::Variant("EDIT"));
    rs->SetValue(rt::Variant("SIZE_MM"), rt::Variant(int32_t{250}));  // a descriptor without control
    auto added = pelmora::FindFieldInfo(component->get_FieldInfoCollection(), "LTT_STATUS");
    ASSERT_TRUE(added);
    EXPECT_EQ(added->get_Name(), "");
    EXPECT_TRUE(added->get_DefaultValue().IsNull());
    EXPECT_TRUE(control_->calls.empty());
}

TEST_F(EditControlEvents, AControlInAProjectIsAsked) {
    // METER_ID of the service line: project 1, argument group 2.
    auto meter = std::make_shared<exttest::EditControl>();
    meter->answer = false;
    product::VbaProjectHost::Current()->LoadProject(1, meter);
    auto components = std::make_shared<pelmora::Components>();
    components->putref_DataContext(Context());
    components->AddComponentByCNO(41, rt::Variant(int32_t{4001}));
    auto rs = components->GetComponent(41)->get_Recordset();
    EXPECT_EQ(ErrorOf([&] { rs->SetValue(rt::Variant("METER_ID"), rt::Variant("M-1")); }),
              ado::err::OperationCancelled);
    EXPECT_EQ(Str(V(rs, "METER_ID")), "M-778120");
    EXPECT_EQ(meter->askedAno, 4102);
    ASSERT_TRUE(meter->arguments.IsArray());
    EXPECT_EQ(Str(meter->arguments.Array()->Get(1)), "M-");
    EXPECT_TRUE(meter->arguments.Array()->Get(2).IsNull());
}

// A control that changes the field it is asked about, while it is prepared
// or while it answers, every time: its own change is not asked of it again,
// so the caller's change ends, asked once.
TEST_F(EditControlEvents, AControlChangingTheFieldItIsAskedAboutIsNotAskedAgain) {
    struct ChangingControl : exttest::EditControl {
        std::shared_ptr<ado::Recordset> rows;
        std::string at;
        int depth = 0, deepest = 0;
        void Change(const std::string& call) {
            // Far beyond what a guarded component reaches: stop rather than overflow.
            if (call != at || !rows || depth > 3) return;
            deepest = std::max(deepest, ++depth);
            try {
                rows->SetValue(rt::Variant("NORMAL_POSITION"), rt::Variant("PARTIAL"));
            } catch (const rt::ComError&) {
            }
            --depth;
        }
        void putref_DataContext(const std::shared_ptr<pelmora::IDataContext>& v) override {
            Change("DataContext");
            EditControl::putref_DataContext(v);
        }
        bool IsAttributeEditable(int32_t ano) override {
            Change("IsAttributeEditable");
            return EditControl::IsAttributeEditable(ano);
        }
    };
    auto changing = std::make_shared<ChangingControl>();
    rt::RegisterClass("Pelmora.ValvePositionControl", "",
                      [changing] { return std::static_pointer_cast<rt::Object>(changing); });
    for (const char* at : {"DataContext", "IsAttributeEditable"}) {
        SCOPED_TRACE(at);
        auto valve = Valve();
        auto rs = valve->GetComponent(21)->get_Recordset();
        changing->rows = rs;
        changing->at = at;
        changing->deepest = 0;
        changing->calls.clear();
        rs->SetValue(rt::Variant("NORMAL_POSITION"), rt::Variant("CLOSED"));
        EXPECT_EQ(changing->deepest, 1);
        EXPECT_EQ(std::count(changing->calls.begin(), changing->calls.end(), "IsAttributeEditable"), 1);
        EXPECT_EQ(Str(V(rs, "NORMAL_POSITION")), "CLOSED");
        EXPECT_TRUE(HandlerErrors().empty()) << Shown();
        changing->rows = nullptr;
    }
}

// ---- deletion ----

TEST_F(ComponentEvents, DeletingARowDeletesItsGeometryRowsAndShowsTheRowBeingDeleted) {
    auto symbol = NewComponent(22, {2001, 2002});
    auto rs = symbol->get_Recordset();
    ASSERT_TRUE(symbol->get_Geometry());  // reads the geometry rows
    std::vector<std::string> seen;
    Register("Pelmora.SymbolRotation", [&](fitest::RecordingFI& fi) {
        fi.onCall = [&, component = std::weak_ptr<pelmora::Component>(symbol)](fitest::RecordingFI&) {
            auto c = component.lock();
            auto shown = c->get_Recordset();
            seen.push_back(shown == rs ? "rows" : "clone " + Str(shown->GetValue(rt::Variant("QTX_ID"))));
        };
    });
    rs->MoveFirst();
    ASSERT_EQ(Str(V(rs, "QTX_ID")), "1");
    rs->Delete();
    EXPECT_EQ(seen, (std::vector<std::string>{"clone 1"}));
    EXPECT_EQ(symbol->get_Recordset(), rs);
    auto geometry = symbol->get_GeometryRecordset();
    geometry->put_Filter(rt::Variant(int32_t{ado::adFilterPendingRecords}));
    ASSERT_EQ(geometry->get_RecordCount(), 1);
    EXPECT_EQ(Str(geometry->get_Fields()->Item("SDO_GID")->get_OriginalValue()), "1");
    EXPECT_EQ(Values(rs, "QTX_ID"), (std::vector<std::string>{"2"}));

    // Without geometry mode the geometry rows stay.
    dc_->dataMode = 2;
    rs->MoveFirst();
    rs->Delete();
    geometry->put_Filter(rt::Variant(int32_t{ado::adFilterPendingRecords}));
    EXPECT_EQ(geometry->get_RecordCount(), 1);
}

TEST_F(ComponentEvents, AFailingDeletionInterfaceStillTakesTheGeometryRows) {
    // The symbol's interface cannot even take the data context: making it
    // fails, and the deletion's interfaces end with that error.
    Register("Pelmora.SymbolRotation", [](fitest::RecordingFI& fi) { fi.Fail("DataContext", 5, "no context"); });
    auto symbol = NewComponent(22, {2001});
    auto rs = symbol->get_Recordset();
    ASSERT_TRUE(symbol->get_Geometry());
    rs->Delete();
    ASSERT_EQ(HandlerErrors().size(), 1u);  // the deletion's error, shown
    EXPECT_EQ(symbol->get_Recordset(), rs);   // not the deletion clone
    EXPECT_TRUE(rs->get_BOF() || rs->get_EOF());
    auto geometry = symbol->get_GeometryRecordset();
    geometry->put_Filter(rt::Variant(int32_t{ado::adFilterPendingRecords}));
    EXPECT_EQ(geometry->get_RecordCount(), 1);
}

TEST_F(ComponentEvents, DeletingTheOnlyRowStepsBack) {
    auto main = Main(rt::Variant(int32_t{1002}));
    auto rs = Get(main, 11)->get_Recordset();
    ASSERT_EQ(rs->get_RecordCount(), 1);
    rs->Delete();
    EXPECT_TRUE(rs->get_BOF());
    EXPECT_TRUE(HandlerErrors().empty()) << Shown();
}

// ---- the attribute-loading stand-in ----

TEST_F(ComponentEvents, TheLoadingServiceCopiesTheValuesOfItsTable) {
    auto service = rt::QueryInterface<pelmora::ILoadAttributesService>(
        rt::CreateObject(pelmora::kLoadAttributesServiceProgId));
    auto rows = dc_->OpenRecordset("SELECT * FROM WATER_LINING_N WHERE QTX_FID = 1001 ORDER BY QTX_CID");
    EXPECT_THROW(service->CopyComponent(101, rt::Variant("DI"), 14, rows), rt::ComError);  // no data context
    service->putref_DataContext(Context());
    EXPECT_TRUE(service->CopyComponent(101, rt::Variant("PVC"), 14, rows));
    EXPECT_EQ(Str(V(rows, "LINING_TYPE")), "NONE");
    EXPECT_EQ(rt::CDbl(V(rows, "THICKNESS_MM")), 0.0);
    EXPECT_EQ(Str(V(rows, "LINING_YEAR")), "1998");
    EXPECT_TRUE(service->CopyComponent(101, rt::Variant::Null(), 14, rows));
    EXPECT_EQ(rt::CDbl(V(rows, "THICKNESS_MM")), 3.0);
    EXPECT_FALSE(service->CopyComponent(103, rt::Variant::Null(), 33, rows));
    // No current row.
    rows->MoveLast();
    rows->MoveNext();
    EXPECT_THROW(service->CopyComponent(101, rt::Variant("DI"), 14, rows), rt::ComError);
}
