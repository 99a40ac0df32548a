#include "pelmora/features/ComponentClone.h"

#include "ado/Enums.h"
#include "ado/Recordset.h"
#include "pelmora/common/TraceScope.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/features/Component.h"
#include "pelmora/features/ComponentsClone.h"
#include "interfaces/DataContext.h"
#include "runtime/Dispatch.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr const char* kFile = "ComponentClone";
constexpr int16_t kMsgSource = 23765;
// What a component's own members raise under.
constexpr int16_t kMsgComponentSource = 23701;

void TraceLine(const TraceScope& trace, const std::string& procedure, const std::string& label,
               const std::string& text) {
    (void)trace;
    try {
        if (auto t = TraceObject()) t->TraceMessage(kTraceSubsystem, kFile, procedure, label, text, "");
    } catch (...) {
    }
}

// The source's descriptors, built now when it has none yet; a source that
// cannot build them leaves the clone's component to build its own, as before.
std::shared_ptr<FieldInfoCollection> SourceFieldInfos(Component& source) {
    try {
        return source.FieldInfosToShare();
    } catch (const rt::ComError&) {
        return source.get_FieldInfoCollection();
    }
}

}  // namespace

namespace {

// Whether the rows hold an edit or an add still open.
bool EditOpen(const std::shared_ptr<ado::Recordset>& rows) {
    if (!rows || rows->get_State() == ado::adStateClosed) return false;
    try {
        const auto mode = rows->get_EditMode();
        return mode == ado::adEditInProgress || mode == ado::adEditAdd;
    } catch (const rt::ComError&) {
        return false;  // off the rows: nothing stands open
    }
}

// A clone of the source's rows narrowed by the filter, on the feature's first
// row: where a feature's own rows stand until moved.
std::shared_ptr<ado::Recordset> FirstRowsOf(const std::shared_ptr<IComponent>& source, const std::string& filter) {
    auto sourceRows = source->get_Recordset();
    if (!sourceRows) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto rows = sourceRows->Clone(ado::adLockUnspecified);
    rows->put_Filter(rt::Variant(filter));
    return rows;
}

}  // namespace

// The private component with its rows and the hook that moves the source
// with them. The clone holds it, and so does every recordset it handed out:
// whoever holds the rows holds their component.
class ComponentClone::View {
public:
    View(std::shared_ptr<Component> component, std::shared_ptr<ado::Recordset> rows,
         std::shared_ptr<IComponent> source, std::string filter)
        : component(std::move(component)), rows(std::move(rows)), source(std::move(source)),
          filter(std::move(filter)) {}
    View(const View&) = delete;
    View& operator=(const View&) = delete;
    ~View();

    // Moves the source's rows to the row these stand on.
    void FollowMove();
    // The rows to read where they stand, moving nothing: these once a
    // caller moved them, else the feature's first row.
    std::shared_ptr<ado::Recordset> AsTheyStand() const {
        return moved ? component->get_Recordset() : FirstRowsOf(source, filter);
    }
    // The rows for a caller: they keep this view.
    static std::shared_ptr<ado::Recordset> Handed(const std::shared_ptr<View>& view) {
        return std::shared_ptr<ado::Recordset>(view, view->rows.get());
    }

    const std::shared_ptr<Component> component;
    const std::shared_ptr<ado::Recordset> rows;
    const std::shared_ptr<IComponent> source;
    const std::string filter;
    std::shared_ptr<MoveHook> hook;
    int32_t hookCookie = 0;
    // A move (or AddNew) of the rows since the build's own walk.
    bool moved = false;
};

// Forwards the cloned rows' moves to their view, which it holds weakly.
class ComponentClone::MoveHook : public ado::RecordsetEvents {
public:
    explicit MoveHook(std::weak_ptr<View> view) : view_(std::move(view)) {}
    // Before the move completes: an AddNew's handlers read the rows first.
    void WillMove(ado::EventReasonEnum, ado::EventStatusEnum&, const ado::RecordsetPtr&) override {
        if (auto v = view_.lock()) v->moved = true;
    }
    void MoveComplete(ado::EventReasonEnum, const rt::ComError*, ado::EventStatusEnum&,
                      const ado::RecordsetPtr&) override {
        if (auto v = view_.lock()) v->FollowMove();
    }

private:
    std::weak_ptr<View> view_;
};

// Nobody holds the view any more: an edit left open on it is the feature's,
// ended as a move would end it, so the shared rows, a later view and the save
// have it. One that cannot be ended goes to the source, whose next save
// refuses it aloud.
ComponentClone::View::~View() {
    if (hookCookie != 0) rows->Unadvise(hookCookie);
    if (EditOpen(rows)) {
        try {
            rows->Update();
        } catch (...) {  // a destructor: nothing may escape
            if (auto kept = rt::TryQueryInterface<Component>(source)) {
                kept->KeepCloneEdit(component);
                return;
            }
        }
    }
    // The private component shares its field descriptors with the source: it
    // lets go of them before it goes.
    component->putref_FieldInfoCollection(nullptr);
}

void ComponentClone::View::FollowMove() {
    TraceScope trace(kFile, "m_oBaseRS_MoveComplete");
    if (rows->get_BOF() || rows->get_EOF()) return;
    try {
        source->get_Recordset()->put_Bookmark(rows->get_Bookmark());
    } catch (const rt::ComError& e) {
        trace.Error(e);
        RaiseError(e.Number(), e.Source(), rt::Variant(e.Description()));
    }
}

ComponentClone::ComponentClone() = default;

ComponentClone::~ComponentClone() = default;

std::shared_ptr<Component> ComponentClone::PrivateComponent() const { return view_ ? view_->component : nullptr; }

void ComponentClone::Refuse(int32_t messageId) const {
    RaiseError(1, LoadResStringWithParams(kMsgSource), rt::Variant(messageId));
}

void ComponentClone::CheckInitialised() const {
    if (!initialised_) Refuse(23768);
}

// ---- inside the system ----

void ComponentClone::InitClone(const std::shared_ptr<IComponent>& Source, const std::string& Filter,
                               std::optional<int32_t> FID) {
    if (!Source) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    CNO_ = Source->get_CNO();
    dataContext_ = Source->get_DataContext();
    name_ = Source->get_Name();
    tableName_ = Source->get_TableName();
    functionalInterfacesEnabled_ = Source->get_FunctionalInterfacesEnabled();
    attributeEditControlEnabled_ = Source->get_AttributeEditControlEnabled();
    source_ = Source;
    filter_ = Filter;
    FID_ = FID;
    initialised_ = true;
}

void ComponentClone::ReleaseRecordset() {
    TraceScope trace(kFile, "ReleaseRecordset");
    view_.reset();
}

bool ComponentClone::Unmoved() const { return view_ && !view_->moved; }

std::shared_ptr<ado::Recordset> ComponentClone::GetRecordset() {
    TraceScope trace(kFile, "GetRecordset");
    if (trace.On(tracebits::EnterExit))
        TraceLine(trace, "GetRecordset", "Logic pathway 1", "  Component clone with filter: <" + filter_ + ">");
    CheckInitialised();
    if (!view_) {
        bool passUnchanged = false;
        try {
            auto source = rt::QueryInterface<Component>(source_);
            auto component = std::make_shared<Component>();
            // Descriptors the clone's edits add must be the ones the source's
            // save reads.
            component->putref_FieldInfoCollection(SourceFieldInfos(*source));
            component->put_InFunctionalInterface(source->get_InFunctionalInterface());
            component->putref_BackwardPointer(source->get_BackwardPointer());
            component->putref_DataContext(dataContext_);
            component->put_FunctionalInterfacesEnabled(functionalInterfacesEnabled_);
            component->put_AttributeEditControlEnabled(attributeEditControlEnabled_);
            component->put_EventsEnabled(source->get_EventsEnabled());
            component->put_ClonedComponent(true);
            component->SetFeatureViews(featureViews_);
            // What the metadata says of the number was read when the source took it.
            component->PutCNOLike(*source, CNO_);
            // A feature without rows here is still the feature its new rows
            // belong to (their CIDs, their load attributes).
            if (FID_) component->AddFID(rt::Variant(*FID_));
            if (component->HasGeometry()) component->putref_GeometrySource(source);

            auto sourceRows = source_->get_Recordset();
            auto rows = sourceRows->Clone(ado::adLockUnspecified);
            if (!sourceRows->get_BOF() && !sourceRows->get_EOF()) {
                try {
                    rows->put_Bookmark(sourceRows->get_Bookmark());
                } catch (const rt::ComError& e) {
                    if (trace.On(tracebits::Value2)) {
                        trace.Message2("Set Bookmark Failed: " + e.Description());
                        rt::Variant previous = sourceRows->get_Filter();
                        sourceRows->put_Filter(rt::Variant(int32_t{ado::adFilterPendingRecords}));
                        trace.Message2("RecordCount=" + std::to_string(sourceRows->get_RecordCount()));
                        for (; !sourceRows->get_EOF(); sourceRows->MoveNext()) {
                            auto f = sourceRows->get_Fields();
                            auto text = [&](const char* n) { return rt::CStr(f->Item(n)->get_OriginalValue()); };
                            trace.Message2("FNO=" + text("QTX_FNO") + "; FID=" + text("QTX_FID") +
                                           "; CNO=" + text("QTX_CNO") + "; CID=" + text("QTX_CID"));
                        }
                        sourceRows->put_Filter(previous);
                    }
                }
                passUnchanged = true;
            }
            rows->put_Filter(rt::Variant(filter_));
            auto view = std::make_shared<View>(component, rows, source_, filter_);
            if (source->get_EventsEnabled()) {
                view->hook = std::make_shared<MoveHook>(view);
                view->hookCookie = rows->Advise(view->hook);
            }
            component->AttachRecordset(rows);
            view->moved = false;
            if (featureViews_) featureViews_->Note(name_, view);
            view_ = std::move(view);
            // These are the feature's own rows: a save ends their edit.
            source->NoteCloneRows(rows, filter_);
        } catch (const rt::ComError& e) {
            // Nothing half built stays behind.
            view_.reset();
            trace.Error(e);
            if (passUnchanged) throw;
            RaiseError(e.Number(), e.Source(), rt::Variant(e.Description()));
        }
    }
    auto rows = view_->component->get_Recordset();
    // The rows a delete is walking are the component's for that while only.
    return rows == view_->rows ? View::Handed(view_) : rows;
}

std::shared_ptr<ado::Recordset> ComponentClone::RowsAsTheyStand() {
    CheckInitialised();
    // Building the view here would walk its rows and, through the move hook,
    // move the source's rows with them.
    return view_ ? view_->AsTheyStand() : FirstRowsOf(source_, filter_);
}

// ---- FeatureViews ----

void FeatureViews::Note(const std::string& Name, const std::shared_ptr<ComponentClone::View>& View) {
    std::erase_if(views_, [](const auto& v) { return v.second.expired(); });
    views_.emplace_back(Name, View);
}

std::shared_ptr<ado::Recordset> FeatureViews::RowsAsTheyStand(const std::string& Name) {
    if (auto collection = collection_.lock()) return collection->RowsAsTheyStand(Name);
    // The views went: rows a caller still holds are the feature's, the last
    // built first, as the rows the collection would have handed out.
    for (auto v = views_.rbegin(); v != views_.rend(); ++v)
        if (rt::NamesEqual(v->first, Name))
            if (auto view = v->second.lock()) return view->AsTheyStand();
    return nullptr;
}

// ---- IComponent ----

void ComponentClone::AddFID(const rt::Variant&) { Refuse(23764); }

int16_t ComponentClone::get_CNO() {
    CheckInitialised();
    return CNO_;
}

void ComponentClone::put_CNO(int16_t) { Refuse(23766); }

std::shared_ptr<IDataContext> ComponentClone::get_DataContext() {
    CheckInitialised();
    return dataContext_;
}

void ComponentClone::putref_DataContext(const std::shared_ptr<IDataContext>&) { Refuse(23769); }

void ComponentClone::ShareGeometryRows() {
    CheckInitialised();
    GetRecordset();
    // The private component clones the source's geometry rows (its geometry
    // source) the first time; clearing the filter only to test for rows would
    // rebuild the view of every feature's geometry rows for nothing.
    if (!view_->component->HasGeometryRows()) view_->component->GeometryRows();
}

rt::ObjectPtr ComponentClone::get_Geometry() {
    ShareGeometryRows();
    return view_->component->get_Geometry();
}

rt::ObjectPtr ComponentClone::GeometryThrough(const Component::GeometryIndexOf& indexOf) {
    ShareGeometryRows();
    return view_->component->GeometryThrough(indexOf);
}

void ComponentClone::putref_Geometry(const rt::ObjectPtr& Geometry) {
    CheckInitialised();
    GetRecordset();
    // The source writes at its current row, which building or moving another
    // feature's view moves: it goes to this view's row first.
    auto here = RowsAsTheyStand();
    if (here->get_BOF() || here->get_EOF())
        RaiseError(1, LoadResStringWithParams(kMsgComponentSource), rt::Variant(int32_t{23706}));
    source_->get_Recordset()->put_Bookmark(here->get_Bookmark());
    source_->putref_Geometry(Geometry);
}

std::shared_ptr<ado::Recordset> ComponentClone::get_Recordset() {
    CheckInitialised();
    return GetRecordset();
}

std::string ComponentClone::get_Name() {
    CheckInitialised();
    return name_;
}

std::string ComponentClone::get_TableName() {
    CheckInitialised();
    return tableName_;
}

void ComponentClone::Update() {
    CheckInitialised();
    Refuse(23767);
}

std::string ComponentClone::get_Filter() { return filter_; }

void ComponentClone::put_Filter(const std::string&) { Refuse(23770); }

bool ComponentClone::get_FunctionalInterfacesEnabled() { return functionalInterfacesEnabled_; }

void ComponentClone::put_FunctionalInterfacesEnabled(bool Enabled) {
    functionalInterfacesEnabled_ = Enabled;
    if (view_) view_->component->put_FunctionalInterfacesEnabled(Enabled);
}

bool ComponentClone::get_AttributeEditControlEnabled() { return attributeEditControlEnabled_; }

void ComponentClone::put_AttributeEditControlEnabled(bool Enabled) {
    attributeEditControlEnabled_ = Enabled;
    if (view_) view_->component->put_AttributeEditControlEnabled(Enabled);
}

bool ComponentClone::get_RecordsetLocal() {
    if (view_) return true;
    CheckInitialised();
    return source_->get_RecordsetLocal();
}

// ---- late binding ----

namespace {

const rt::DispatchTable<ComponentClone>& CloneDispatch() {
    static const auto table =
        rt::DispatchTable<ComponentClone>().ClassModuleOf(kProjectName)
            .Method("AddFID", 1, 1, 1,
                    [](ComponentClone& c, rt::Args& a) {
                        c.AddFID(a[0]);
                        return rt::Variant();
                    })
            .Get("CNO", 2, [](ComponentClone& c) { return rt::Variant(c.get_CNO()); })
            .Let("CNO", 2, [](ComponentClone& c, const rt::Variant& v) { c.put_CNO(rt::CInt(v)); })
            .Get("DataContext", 3, [](ComponentClone& c) { return rt::Variant(c.get_DataContext()); })
            .Set("DataContext", 3, [](ComponentClone& c, const rt::Variant&) { c.putref_DataContext(nullptr); })
            .Get("Geometry", 4, [](ComponentClone& c) { return rt::Variant(c.get_Geometry()); })
            .Set("Geometry", 4, [](ComponentClone& c, const rt::Variant& v) { c.putref_Geometry(v.Obj()); })
            .Get("Recordset", 5, [](ComponentClone& c) { return rt::Variant(c.get_Recordset()); })
            .Get("Name", 6, [](ComponentClone& c) { return rt::Variant(c.get_Name()); })
            .Get("TableName", 7, [](ComponentClone& c) { return rt::Variant(c.get_TableName()); })
            .Method("Update", 8, [](ComponentClone& c) { c.Update(); })
            .Get("Filter", 9, [](ComponentClone& c) { return rt::Variant(c.get_Filter()); })
            .Let("Filter", 9, [](ComponentClone& c, const rt::Variant& v) { c.put_Filter(rt::CStr(v)); })
            .Get("FunctionalInterfacesEnabled", 10,
                 [](ComponentClone& c) { return rt::Variant(c.get_FunctionalInterfacesEnabled()); })
            .Let("FunctionalInterfacesEnabled", 10,
                 [](ComponentClone& c, const rt::Variant& v) { c.put_FunctionalInterfacesEnabled(rt::CBool(v)); })
            .Get("AttributeEditControlEnabled", 11,
                 [](ComponentClone& c) { return rt::Variant(c.get_AttributeEditControlEnabled()); })
            .Let("AttributeEditControlEnabled", 11,
                 [](ComponentClone& c, const rt::Variant& v) { c.put_AttributeEditControlEnabled(rt::CBool(v)); })
            .Get("RecordsetLocal", 12, [](ComponentClone& c) { return rt::Variant(c.get_RecordsetLocal()); });
    return table;
}

}  // namespace

rt::Variant ComponentClone::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    return CloneDispatch().Invoke(*this, name, kind, args);
}

}  // namespace pelmora
