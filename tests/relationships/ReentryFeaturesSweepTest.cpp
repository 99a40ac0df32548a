// Extension code that calls back into the objects running it: every kind of
// callback the features make (functional interfaces at each moment, an
// attribute edit control, the evaluator of a synced recordset, the callback
// of a scan of the cache, the notification object, a recordset event sink
// beside the component's own) crossed with the calls it may make back (the
// same call, Refresh, Update, Delete, Close, a save, occurrences added or
// deleted on the component that fires). A case passes when the outer call
// answers or raises a run-time error and the component can still be read;
// no case may take the process down. A crash names its case.
#include "SweepSupport.h"

#include <functional>
#include <optional>

#include "features/FeatureAssemblyTestSupport.h"
#include "features/FunctionalInterfaceTestObjects.h"
#include "interfaces/FeatureAssemblyService.h"
#include "interfaces/Notification.h"
#include "pelmora/common/ScopeExit.h"
#include "pelmora/features/BulkEditService.h"
#include "pelmora/features/ComponentService.h"

namespace {

// What the code of a callback reaches: the feature whose component fires,
// its collection, the component, the rows the outer call works on, and a
// component service over the component (an interface's own when it has one).
struct Scene {
    std::shared_ptr<pelmora::IKeyObject> feature;
    std::shared_ptr<pelmora::IComponents> components;
    std::shared_ptr<pelmora::IComponent> component;
    std::shared_ptr<ado::Recordset> rows;
    std::shared_ptr<pelmora::IComponentService> service;
};

// Accepts every row; calls back when told to.
class CallingEvaluator : public rt::Object, public pelmora::IRecordsetEvaluator {
public:
    std::function<void()> onEvaluate;
    void putref_Fields(const std::shared_ptr<ado::Fields>&) override {}
    bool Evaluate() override {
        if (onEvaluate) onEvaluate();
        return true;
    }
};

// A caller's own scan of the cached rows; calls back at each row.
class CallingScan : public rt::Object, public pelmora::IScanComponent {
public:
    std::function<void()> onRow;
    void putref_Fields(const std::shared_ptr<ado::Fields>&) override {}
    void ProcessRecord(int32_t) override {
        if (onRow) onRow();
    }
};

// Allows every change; calls back when asked.
class CallingEditControl : public exttest::EditControl {
public:
    std::function<void()> onAsk;
    bool IsAttributeEditable(int32_t ano) override {
        if (onAsk) onAsk();
        return EditControl::IsAttributeEditable(ano);
    }
};

// An Edit interface held in a VBA project; calls back after its Execute.
class CallingProjectFI : public exttest::ProjectFI {
public:
    std::function<void()> onExecute;
    void Execute() override {
        ProjectFI::Execute();
        if (onExecute) onExecute();
    }
};

// The product's notification object; calls back when told of a re-read table.
class CallingNotification : public rt::Object, public pelmora::INotification {
public:
    std::function<void()> onNotify;
    rt::Variant RaiseNotification(const std::shared_ptr<rt::Object>&, const rt::Variant&, const rt::Variant&) override {
        if (onNotify) onNotify();
        return rt::Variant();
    }
};

// Listens beside the component: after an added row is filled, before a row
// is deleted, after a field changed.
class CallingSink : public ado::RecordsetEvents {
public:
    std::function<void()> onEvent;
    ado::EventReasonEnum reason = ado::adRsnAddNew;
    bool fieldChange = false;
    void RecordChangeComplete(ado::EventReasonEnum adReason, int32_t, const rt::ComError*, ado::EventStatusEnum&,
                              const ado::RecordsetPtr&) override {
        if (!fieldChange && adReason == reason && reason == ado::adRsnAddNew && onEvent) onEvent();
    }
    void WillChangeRecord(ado::EventReasonEnum adReason, int32_t, ado::EventStatusEnum&,
                          const ado::RecordsetPtr&) override {
        if (!fieldChange && adReason == reason && reason != ado::adRsnAddNew && onEvent) onEvent();
    }
    void FieldChangeComplete(int32_t, const ado::FieldList&, const rt::ComError*, ado::EventStatusEnum&,
                             const ado::RecordsetPtr&) override {
        if (fieldChange && onEvent) onEvent();
    }
};

constexpr const char* kCheck = "Pelmora.LiningTypeCheck";
constexpr const char* kThickness = "Pelmora.LiningThickness";
constexpr const char* kYear = "Pelmora.LiningYear";
constexpr const char* kRotation = "Pelmora.SymbolRotation";
constexpr const char* kMoved = "Pelmora.SymbolMoved";
constexpr const char* kLiningQuery = "SELECT * FROM WATER_LINING_N WHERE QTX_FID = ?";

// A lining row of main 1001 added, of the thickness if given.
void AddLiningRow(const std::shared_ptr<ado::Recordset>& rs, std::optional<double> thickness = std::nullopt) {
    rs->AddNew();
    rs->SetValue(rt::Variant("QTX_FID"), rt::Variant(int32_t{1001}));
    if (thickness) rs->SetValue(rt::Variant("THICKNESS_MM"), rt::Variant(*thickness));
    rs->Update();
}

class ReentryFeaturesSweep;

struct Kind {
    const char* name;
    // Sets the callback up, opens the scene, prepares the rows.
    std::function<void(ReentryFeaturesSweep&)> prepare;
    // The outer call, and the same call made again from inside.
    std::function<void(ReentryFeaturesSweep&, Scene&)> outer;
};

struct Back {
    const char* name;
    // Null: the same call as the outer one.
    std::function<void(ReentryFeaturesSweep&, Scene&)> call;
};

class ReentryFeaturesSweep : public fitest::FiringFixture {
protected:
    void SetUp() override {
        FiringFixture::SetUp();
        service_ = featuretest::NewAssemblyService(Context());
        rt::RegisterClass("Pelmora.ValvePositionControl", "",
                          [this] { return std::static_pointer_cast<rt::Object>(control_); });
        rt::RegisterClass(pelmora::kNotificationProgId, "",
                          [this] { return std::static_pointer_cast<rt::Object>(notification_); });
    }
    void TearDown() override {
        rt::UnregisterClass("Pelmora.ValvePositionControl");
        product::RegisterProductStandIns();
        service_->put_Caching(false);
        scene_ = Scene{};
        service_.reset();
        FiringFixture::TearDown();
    }

public:  // the cases' lambdas reach the fixture through a reference
    // Opens the feature (cached) and stands on the first row of its component.
    void Open(int16_t fno, int32_t fid, int16_t cno) {
        service_->put_Caching(true);
        scene_ = Scene{};
        scene_.feature = service_->OpenFeature(fno, fid);
        scene_.components = scene_.feature->get_Components();
        scene_.component = scene_.components->GetComponent(cno);
        scene_.rows = scene_.component->get_Recordset();
        scene_.rows->MoveFirst();
        auto service = std::make_shared<pelmora::ComponentService>();
        service->putref_Components(scene_.components);
        service->put_ComponentName(scene_.component->get_Name());
        scene_.service = service;
    }

    // The callback's call back, once a case; what it raises is its own business.
    void CallBack() {
        if (armed_) guard_.Guarded([this] { back_(scene_); });
    }

    // A functional interface of the ProgID acts at its call of that name.
    void InterfaceActsAt(const std::string& progId, const std::string& call,
                         std::function<void(fitest::RecordingFI&)> act) {
        Register(progId, [prefix = progId + " " + call + " ", act](fitest::RecordingFI& fi) {
            fi.onCall = [prefix, act](fitest::RecordingFI& self) {
                if (!self.journal->empty() && self.journal->back().rfind(prefix, 0) == 0) act(self);
            };
        });
    }
    // ... and calls back through its own component service when it has one.
    void InterfaceCallsBackAt(const std::string& progId, const std::string& call) {
        InterfaceActsAt(progId, call, [this](fitest::RecordingFI& self) {
            auto own = scene_.service;
            if (self.service) scene_.service = self.service;
            CallBack();
            scene_.service = own;
        });
    }

    // The cached rows of the lining of main 1001 evaluated (OpenSyncedRecordset
    // differs only in how it takes its parameters).
    std::shared_ptr<ado::Recordset> OpenSynced(const std::shared_ptr<pelmora::IRecordsetEvaluator>& evaluator) {
        return service_->OpenSyncedRecordsetArray(14, evaluator, kLiningQuery,
                                                  rt::Variant::ArrayOf({rt::Variant(int32_t{1001})}));
    }
    void Synced(std::function<void()> onRow) {
        auto evaluator = std::make_shared<CallingEvaluator>();
        evaluator->onEvaluate = std::move(onRow);
        OpenSynced(evaluator);
    }
    void Scan(std::function<void()> onRow) {
        auto scan = std::make_shared<CallingScan>();
        scan->onRow = std::move(onRow);
        service_->ScanComponent(14, scan);
    }

    // One case: the callback set up, the outer call made; true when it
    // raised a run-time error. The component must answer afterwards.
    bool Run(const Kind& kind, const Back& back) {
        const std::string name = std::string(kind.name) + " x " + back.name;
        SCOPED_TRACE(name);
        guard_.Reset();
        back_ = [this, outer = kind.outer, call = back.call](Scene& s) { (call ? call : outer)(*this, s); };
        const bool raised = sweeptest::RunRow(name, [&] {
                                kind.prepare(*this);
                                armed_ = true;
                                kind.outer(*this, scene_);
                            }).has_value();
        armed_ = false;
        EXPECT_EQ(guard_.calledBack, 1) << "the callback was not reached";
        try {
            auto rows = scene_.component->get_Recordset();
            if (rows && rows->get_State() == ado::adStateOpen) rows->get_RecordCount();
        } catch (const rt::ComError&) {
        }
        return raised;
    }
    // Back to the state before the case: callbacks quiet, cache off, the
    // database as it was.
    void Reset() {
        for (const auto& listener : sinks_) listener->onEvent = nullptr;
        sinks_.clear();
        for (const char* progId : {kCheck, kThickness, kYear, kRotation, kMoved}) Register(progId);
        control_->onAsk = nullptr;
        projectFI_->onExecute = nullptr;
        notification_->onNotify = nullptr;
        service_->put_Caching(false);
        scene_ = Scene{};
        sqlite_->Rollback();
    }

    const std::string& Folder() const { return folder_; }
    pelmora::MetadataService& Metadata() { return *metadata_; }
    std::shared_ptr<pelmora::KeyObjects> FeatureList() {
        auto keys = pelmora::KeyObjects::New();
        keys->Add(scene_.feature);
        return keys;
    }

    pelmora_test::FatalSignalNamer namer_;  // a crash names its case
    std::shared_ptr<pelmora::FeatureAssemblyService> service_;
    std::shared_ptr<CallingEditControl> control_ = std::make_shared<CallingEditControl>();
    std::shared_ptr<CallingProjectFI> projectFI_ = std::make_shared<CallingProjectFI>();
    std::shared_ptr<CallingNotification> notification_ = std::make_shared<CallingNotification>();
    Scene scene_;
    std::function<void(Scene&)> back_;
    std::vector<std::shared_ptr<CallingSink>> sinks_;
    bool armed_ = false;
    sweeptest::CallBackGuard guard_{1, true};
};

std::vector<Kind> Kinds() {
    using Arm = std::function<void(ReentryFeaturesSweep&)>;
    using Outer = std::function<void(ReentryFeaturesSweep&, Scene&)>;
    // Where the callback fires: the lining of main 1001, the attributes and
    // the symbol of valve 2001; armed once the rows are open, then the rows
    // prepared (nothing, an edit in progress, or rows pending in the cache).
    struct Where {
        int16_t fno, cno;
        int32_t fid;
    };
    const Where lining{101, 14, 1001}, valve{102, 21, 2001}, symbol{102, 22, 2001};
    enum Rows { AsRead, Editing, Pending };
    auto at = [](Where w, Arm arm, Rows rows) {
        return [=](ReentryFeaturesSweep& t) {
            t.Open(w.fno, w.fid, w.cno);
            arm(t);
            auto& rs = t.scene_.rows;
            if (rows != AsRead) rs->SetValue(rt::Variant("THICKNESS_MM"), rt::Variant(5.5));
            if (rows != Pending) return;
            rs->Update();
            rs->AddNew();
            rs->Update();
        };
    };
    auto fi = [](const char* progId, const char* call) -> Arm {
        return [=](ReentryFeaturesSweep& t) { t.InterfaceCallsBackAt(progId, call); };
    };
    auto sink = [](ado::EventReasonEnum reason, bool fieldChange) -> Arm {
        return [=](ReentryFeaturesSweep& t) {
            auto listener = std::make_shared<CallingSink>();
            listener->reason = reason;
            listener->fieldChange = fieldChange;
            listener->onEvent = [&t] { t.CallBack(); };
            t.scene_.rows->Advise(listener);
            t.sinks_.push_back(listener);
        };
    };
    const Arm control = [](ReentryFeaturesSweep& t) { t.control_->onAsk = [&t] { t.CallBack(); }; };
    const Arm project = [](ReentryFeaturesSweep& t) {
        t.projectFI_->onExecute = [&t] { t.CallBack(); };
        product::VbaProjectHost::Current()->LoadProject(1, t.projectFI_);
    };
    const Arm notification = [](ReentryFeaturesSweep& t) { t.notification_->onNotify = [&t] { t.CallBack(); }; };
    const Arm nothing = [](ReentryFeaturesSweep&) {};

    const Outer addNew = [](ReentryFeaturesSweep&, Scene& s) { s.rows->AddNew(); };
    const Outer update = [](ReentryFeaturesSweep&, Scene& s) { s.rows->Update(); };
    const Outer remove = [](ReentryFeaturesSweep&, Scene& s) { s.rows->Delete(); };
    auto assign = [](const char* field, rt::Variant value) -> Outer {
        return [=](ReentryFeaturesSweep&, Scene& s) { s.rows->SetValue(rt::Variant(field), value); };
    };
    return {
        {"AddNew interface", at(lining, fi(kYear, "Execute"), AsRead), addNew},
        {"SetValue interface", at(lining, fi(kCheck, "Execute"), AsRead), assign("LINING_TYPE", rt::Variant("EPOXY"))},
        {"Edit interface of a VBA project", at(lining, project, AsRead), assign("THICKNESS_MM", rt::Variant(6.5))},
        {"Update interface, its Execute", at(lining, fi(kThickness, "Execute"), Editing), update},
        {"Update interface, its Update", at(lining, fi(kThickness, "Update"), Editing), update},
        {"SetValue interface of a geometry", at(symbol, fi(kMoved, "Execute"), AsRead),
         [](ReentryFeaturesSweep&, Scene& s) { s.component->putref_Geometry(s.component->get_Geometry()); }},
        {"Delete interface", at(lining, fi(kCheck, "Delete"), AsRead), remove},
        {"Delete interface of a component with geometry", at(symbol, fi(kRotation, "Delete"), AsRead), remove},
        {"CancelUpdate interface", at(lining, fi(kCheck, "CancelUpdate"), Editing),
         [](ReentryFeaturesSweep&, Scene& s) { s.rows->CancelUpdate(); }},
        {"Update interface at UpdateFeatures", at(lining, fi(kThickness, "Execute"), Pending),
         [](ReentryFeaturesSweep& t, Scene&) { t.service_->UpdateFeatures(t.FeatureList()); }},
        {"Update interface at SaveCache", at(lining, fi(kThickness, "Update"), Pending),
         [](ReentryFeaturesSweep& t, Scene&) { t.service_->SaveCache(); }},
        {"attribute edit control", at(valve, control, AsRead), assign("NORMAL_POSITION", rt::Variant("CLOSED"))},
        {"evaluator of OpenSyncedRecordsetArray", at(lining, nothing, Pending),
         [](ReentryFeaturesSweep& t, Scene&) { t.Synced([&t] { t.CallBack(); }); }},
        {"callback of ScanComponent", at(lining, nothing, Pending),
         [](ReentryFeaturesSweep& t, Scene&) { t.Scan([&t] { t.CallBack(); }); }},
        {"notification object after a metadata table was read again", at(lining, notification, AsRead),
         [](ReentryFeaturesSweep& t, Scene&) {
             auto tables = rt::Variant::MakeArray(rt::vbString, 0, 0);
             tables.ArrayMut()->Set(0, rt::Variant("QTX_ATTRIBUTEINFOFI_OPTABLE"));
             t.Metadata().RefreshDynamicEdits(t.service_->get_DataContext(), tables);
         }},
        {"recordset sink after AddNew", at(lining, sink(ado::adRsnAddNew, false), AsRead), addNew},
        {"recordset sink before Delete", at(lining, sink(ado::adRsnDelete, false), AsRead), remove},
        {"recordset sink after a field change", at(lining, sink(ado::adRsnUpdate, true), AsRead),
         assign("LINING_TYPE", rt::Variant("NONE"))},
    };
}

std::vector<Back> Backs() {
    return {
        {"the same call", nullptr},
        {"Components.Refresh", [](ReentryFeaturesSweep&, Scene& s) { s.components->Refresh(); }},
        {"Recordset.Update", [](ReentryFeaturesSweep&, Scene& s) { s.rows->Update(); }},
        {"Recordset.Delete", [](ReentryFeaturesSweep&, Scene& s) { s.rows->Delete(); }},
        {"Recordset.Close", [](ReentryFeaturesSweep&, Scene& s) { s.rows->Close(); }},
        {"Recordset.Close and Open on no rows",
         [](ReentryFeaturesSweep& t, Scene& s) {
             const std::string path = t.Folder() + "/no-rows.rs";
             auto none = s.rows->Clone();
             none->put_Filter(rt::Variant("QTX_CID = -1"));
             none->Save(path);
             s.rows->Close();
             s.rows->Open(rt::Variant(path));
         }},
        {"Component.Update", [](ReentryFeaturesSweep&, Scene& s) { s.component->Update(); }},
        {"UpdateFeatures",
         [](ReentryFeaturesSweep& t, Scene&) { t.service_->UpdateFeatures(t.FeatureList()); }},
        {"SaveCache", [](ReentryFeaturesSweep& t, Scene&) { t.service_->SaveCache(); }},
        {"NewOccurrence", [](ReentryFeaturesSweep&, Scene& s) { s.service->NewOccurrence(); }},
        {"DeleteOccurrence", [](ReentryFeaturesSweep&, Scene& s) { s.service->DeleteOccurrence(); }},
    };
}

template <class Row>
const Row& Named(const std::vector<Row>& rows, const std::string& name) {
    return *std::find_if(rows.begin(), rows.end(), [&](const Row& r) { return r.name == name; });
}

}  // namespace

TEST_F(ReentryFeaturesSweep, EveryCallbackSurvivesEveryCallBack) {
    for (const auto& kind : Kinds())
        for (const auto& back : Backs()) {
            Run(kind, back);
            Reset();
        }
}

// The handlers catch what fails in their own work: once an interface let the
// component's rows go, the AddNew and Delete handlers stop with error 91,
// shown in the handler's box, and the outer call goes on; a deleted row's
// geometry rows are not read afresh to be deleted for rows the component no
// longer keeps.
TEST_F(ReentryFeaturesSweep, AHandlerWhoseRowsWereLetGoShowsErrorNinetyOneAndReturns) {
    const auto kinds = Kinds();
    const auto backs = Backs();
    const Back& refresh = Named(backs, "Components.Refresh");
    const std::string notSet = pelmora_test::Raised([] { rt::RaiseVbError(rt::vberr::ObjectVariableNotSet); }).Description();
    for (const char* kind : {"AddNew interface", "Delete interface", "Delete interface of a component with geometry"}) {
        SCOPED_TRACE(kind);
        const size_t shown = HandlerErrors().size();
        EXPECT_FALSE(Run(Named(kinds, kind), refresh));
        ASSERT_EQ(HandlerErrors().size(), shown + 1) << Shown();
        EXPECT_EQ(HandlerErrors().back().text, notSet);
        EXPECT_FALSE(std::dynamic_pointer_cast<pelmora::Component>(scene_.component)->HasGeometryRows());
        Reset();
    }
}

// A synced recordset opened from inside the evaluator of another has its own
// scan: the outer call's rows are those it would have had alone.
TEST_F(ReentryFeaturesSweep, ASyncedRecordsetOpenedFromItsEvaluatorLeavesTheOuterItsRows) {
    Open(101, 1001, 14);
    auto& rows = scene_.rows;
    rows->SetValue(rt::Variant("THICKNESS_MM"), rt::Variant(5.5));
    rows->Update();
    rows->AddNew();
    rows->SetValue(rt::Variant("THICKNESS_MM"), rt::Variant(7.5));
    rows->Update();
    auto plain = std::make_shared<CallingEvaluator>();
    auto thickness = [](const std::shared_ptr<ado::Recordset>& rs) { return componenttest::Values(rs, "THICKNESS_MM"); };
    const auto alone = thickness(OpenSynced(plain));
    ASSERT_GE(alone.size(), 2u);

    // Called back at the last row the outer scan evaluates.
    std::vector<std::string> inner;
    int evaluations = 0;
    auto nesting = std::make_shared<CallingEvaluator>();
    nesting->onEvaluate = [&] {
        if (++evaluations == 2) inner = thickness(OpenSynced(plain));
    };
    EXPECT_EQ(thickness(OpenSynced(nesting)), alone);
    EXPECT_EQ(inner, alone);
}

// A walk over a component's rows that calls out at each row visits the rows
// it began with, once: rows a callback adds are left to the next walk, rows
// it deletes before the walk reached them are skipped. Every row is pending
// (each changed, two added), so every walk calls out at each.
TEST_F(ReentryFeaturesSweep, AWalkVisitsTheRowsItBeganWithOnce) {
    enum Change { None, AddARow, DeleteTheNext };
    Change change = None;
    bool walking = false;  // the callbacks act only inside the walk, not inside themselves
    // Each row is told by its thickness.
    std::vector<double> visited;
    auto act = [&] {
        auto& rs = scene_.rows;
        if (!walking || rs->get_Status() == ado::adRecDeleted) return;
        walking = false;
        pelmora::ScopeExit back([&] { walking = true; });
        visited.push_back(rt::CDbl(rs->GetValue(rt::Variant("THICKNESS_MM"))));
        if (visited.size() > 20) return;  // a walk gone wild: end it, the rows visited tell
        const rt::Variant here = rs->get_Bookmark();
        if (change == AddARow) {
            AddLiningRow(rs, 99.0);
            rs->put_Bookmark(here);
        } else if (change == DeleteTheNext) {
            auto other = rs->Clone();
            other->put_Bookmark(here);
            other->MoveNext();
            if (!other->get_EOF()) other->Delete();
        }
    };
    using Outer = std::function<void(ReentryFeaturesSweep&)>;
    const std::pair<const char*, Outer> walks[] = {
        {"ScanComponent", [&act](ReentryFeaturesSweep& t) { t.Scan(act); }},
        {"OpenSyncedRecordsetArray", [&act](ReentryFeaturesSweep& t) { t.Synced(act); }},
        {"the update walk of SaveCache", [](ReentryFeaturesSweep& t) { t.service_->SaveCache(); }},
        {"the update walk of UpdateFeatures",
         [](ReentryFeaturesSweep& t) { t.service_->UpdateFeatures(t.FeatureList()); }},
    };
    // The rows in order, after every one was changed and two were added.
    std::vector<double> order;
    auto prepare = [&] {
        Open(101, 1001, 14);
        InterfaceActsAt(kThickness, "Execute", [&act](fitest::RecordingFI&) { act(); });
        auto& rs = scene_.rows;
        order.clear();
        for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext()) {
            order.push_back(10.0 + static_cast<double>(order.size()));
            rs->SetValue(rt::Variant("THICKNESS_MM"), rt::Variant(order.back()));
        }
        for (int i = 0; i < 2; ++i) {
            order.push_back(10.0 + static_cast<double>(order.size()));
            AddLiningRow(rs, order.back());
        }
        rs->MoveFirst();
    };
    // The rows one walk visits, each callback making the change.
    auto walk = [&](const Outer& outer, Change c) {
        change = c;
        visited.clear();
        prepare();
        walking = true;
        if (const auto error = sweeptest::RunRow("a walk", [&] { outer(*this); })) ADD_FAILURE() << error->Description();
        walking = false;
        Reset();
        return visited;
    };
    for (const auto& [name, outer] : walks) {
        SCOPED_TRACE(name);
        const std::vector<double> alone = walk(outer, None);
        for (double row : order) ASSERT_NE(std::find(alone.begin(), alone.end(), row), alone.end()) << row;

        // Each row visited deletes the next one still there; a deleted row is not visited.
        std::vector<double> expected;
        std::vector<bool> gone(order.size(), false);
        for (double row : alone) {
            const size_t at = static_cast<size_t>(std::find(order.begin(), order.end(), row) - order.begin());
            if (gone[at]) continue;
            expected.push_back(row);
            for (size_t next = at + 1; next < order.size(); ++next)
                if (!gone[next]) {
                    gone[next] = true;
                    break;
                }
        }
        EXPECT_EQ(walk(outer, AddARow), alone) << "adding a row at each";
        EXPECT_EQ(walk(outer, DeleteTheNext), expected) << "deleting the next";
    }
}

// A bulk edit sets its values into the rows the feature had when it began:
// a SetValue interface that adds a row each time it fires leaves the added
// rows without the value, and the edit ends.
TEST_F(ReentryFeaturesSweep, ABulkEditSetsItsValuesIntoTheRowsItBeganWith) {
    Open(101, 1001, 14);
    const size_t before = componenttest::Values(scene_.rows, "QTX_CID").size();
    int added = 0;
    InterfaceActsAt(kCheck, "Execute", [&](fitest::RecordingFI&) {
        if (++added > 20) return;
        auto& rs = scene_.rows;
        const rt::Variant here = rs->get_Bookmark();
        AddLiningRow(rs);
        rs->put_Bookmark(here);
    });
    pelmora::BulkEditService bulk;
    bulk.putref_DataContext(service_->get_DataContext());
    auto merged = bulk.ConstructMergedComponents(FeatureList());
    auto common = merged->get_Item(rt::Variant("WATER_MAIN_LINING"))->get_Recordset();
    common->AddNew();
    common->SetValue(rt::Variant("LINING_TYPE"), rt::Variant("PVC"));
    common->Update();
    bulk.SaveCommonEdits(merged, FeatureList());

    const auto types = componenttest::Values(scene_.rows, "LINING_TYPE");
    EXPECT_LE(added, 20);
    EXPECT_EQ(types.size(), before + static_cast<size_t>(added));
    EXPECT_EQ(static_cast<size_t>(std::count(types.begin(), types.end(), "PVC")), before);
}
