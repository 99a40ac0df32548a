#include "pelmora/features/Component.h"

#include <algorithm>

#include "ado/Enums.h"
#include "ado/Recordset.h"
#include "pelmora/common/NullOrEmpty.h"
#include "pelmora/common/RowWalk.h"
#include "pelmora/common/TraceScope.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/features/BackwardPointer.h"
#include "pelmora/features/modADOGlobal.h"
#include "interfaces/DataContext.h"
#include "interfaces/Geometry.h"
#include "interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/persistence/ComponentDatabaseService.h"
#include "runtime/Dispatch.h"
#include "runtime/Error.h"
#include "runtime/SqlName.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr const char* kFile = "Component";
constexpr int32_t kMsgSource = 23701;

std::string SourceText() { return LoadResStringWithParams(static_cast<int16_t>(kMsgSource)); }

// Table names reach the SQL text as they stand; only identifiers
// (optionally owner-qualified) are accepted.
void CheckTableName(const std::string& name) {
    if (!rt::IsQualifiedSqlName(name)) RaiseError(1, SourceText(), rt::Variant("The table name \"" + name + "\" is not a valid identifier."));
}

// "?, ?, ..., ?" for n markers.
std::string Markers(size_t n) {
    std::string s;
    for (size_t i = 0; i + 1 < n; ++i) s += "?, ";
    return s + "?";
}

}  // namespace

// The hook through which the recordset's events reach the component. The
// recordset holds it weakly, the component strongly; it holds the component
// weakly.
class Component::EventHook : public ado::RecordsetEvents {
public:
    explicit EventHook(std::weak_ptr<Component> owner) : owner_(std::move(owner)) {}
    void WillChangeField(int32_t cFields, const ado::FieldList& Fields, ado::EventStatusEnum& adStatus,
                         const ado::RecordsetPtr& pRecordset) override {
        if (auto c = owner_.lock()) c->OnWillChangeField(cFields, Fields, adStatus, pRecordset);
    }
    void FieldChangeComplete(int32_t cFields, const ado::FieldList& Fields, const rt::ComError*,
                             ado::EventStatusEnum& adStatus, const ado::RecordsetPtr& pRecordset) override {
        if (auto c = owner_.lock()) c->OnFieldChangeComplete(cFields, Fields, adStatus, pRecordset);
    }
    void WillChangeRecord(ado::EventReasonEnum adReason, int32_t, ado::EventStatusEnum& adStatus,
                          const ado::RecordsetPtr& pRecordset) override {
        if (auto c = owner_.lock()) c->OnWillChangeRecord(adReason, adStatus, pRecordset);
    }
    void RecordChangeComplete(ado::EventReasonEnum adReason, int32_t, const rt::ComError*,
                              ado::EventStatusEnum& adStatus, const ado::RecordsetPtr& pRecordset) override {
        if (auto c = owner_.lock()) c->OnRecordChangeComplete(adReason, adStatus, pRecordset);
    }
    void MoveComplete(ado::EventReasonEnum, const rt::ComError*, ado::EventStatusEnum&,
                      const ado::RecordsetPtr&) override {
        if (auto c = owner_.lock()) c->OnMoveComplete();
    }

private:
    std::weak_ptr<Component> owner_;
};

Component::Component() = default;

Component::~Component() {
    if (m_oEventRecordset && eventCookie_ != 0) m_oEventRecordset->Unadvise(eventCookie_);
    // The functional interfaces are the component's own; the FieldInfo
    // collection may still serve another component or a clone, so it is only
    // let go, never emptied.
    m_colFunctionalInterfaces.reset();
    fieldInfos_.reset();
}

// ---- helpers ----

void Component::Raise(int32_t messageId, const rt::Variant& param) const {
    if (param.IsMissing())
        RaiseError(1, SourceText(), rt::Variant(messageId));
    else
        RaiseError(1, SourceText(), rt::Variant(messageId), rt::Variant(rt::CStr(param)));
}

void Component::TraceComponentKeys(TraceScope& trace) const {
    if (!trace.On(tracebits::Pathway2)) return;
    trace.Pathway2("  CNO = " + std::to_string(CNO_));
    trace.Pathway2("  Number of FIDs = " + std::to_string(fids_.size()));
    for (size_t i = 0; i < fids_.size(); ++i)
        trace.Pathway2("  FID " + std::to_string(i) + " = " + std::to_string(fids_[i]));
}

IMetadataRecordsetFilterService& Component::FilterService() {
    if (!filterService_) filterService_ = std::make_shared<MetadataRecordsetFilterService>();
    return *filterService_;
}

rt::Variant Component::FIDArray() const {
    if (fids_.empty()) return rt::Variant::UnallocatedArray(rt::vbLong);
    auto a = rt::Variant::MakeArray(rt::vbLong, 0, static_cast<int32_t>(fids_.size()) - 1);
    for (size_t i = 0; i < fids_.size(); ++i) a.ArrayMut()->Set(static_cast<int32_t>(i), rt::Variant(fids_[i]));
    return a;
}

rt::Variant Component::get_FIDs() const { return FIDArray(); }

std::shared_ptr<IComponents> Component::OwningCollection() const {
    return backwardPointer_ ? backwardPointer_->GetParent() : nullptr;
}

void Component::HookEvents() {
    m_oEventRecordset = rows_;
    if (!eventHook_) eventHook_ = std::make_shared<EventHook>(std::static_pointer_cast<Component>(weak_from_this().lock()));
    eventCookie_ = m_oEventRecordset->Advise(eventHook_);
}

// ---- identity ----

int16_t Component::get_CNO() {
    TraceScope trace(kFile, "Get IComponent_CNO");
    TraceComponentKeys(trace);
    return CNO_;
}

void Component::put_CNO(int16_t CNO) {
    TraceScope trace(kFile, "Let IComponent_CNO");
    TraceComponentKeys(trace);
    if (CNO_ != 0) Raise(23704);
    if (!dataContext_) Raise(23703);
    CNO_ = CNO;
    auto metadata = dataContext_->GetMetadataService();
    if (!metadata) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto rs = metadata->get_Recordsets()->get_Item(rt::Variant("QTX_COMPONENTINFO_OPTABLE"))->get_Recordset("", "");
    FilterService().FilterRecordset(rs, rs->get_Fields()->Item("QTX_CNO"), rt::Variant(CNO));
    if (rs->get_EOF() && rs->get_BOF()) Raise(23705, rt::Variant(CNO));
    name_ = rt::CStr(rs->GetValue(rt::Variant("QTX_NAME")));
    tableName_ = rt::CStr(rs->GetValue(rt::Variant("QTX_TABLE")));
    rt::Variant type = rs->GetValue(rt::Variant("QTX_TYPE"));
    // A component of unknown type is treated as one without geometry.
    hasGeometry_ = !IsNullOrEmpty(type) && rt::CLng(type) != 1;
}

void Component::PutCNOLike(const Component& source, int16_t CNO) {
    if (CNO == 0 || source.CNO_ != CNO) return put_CNO(CNO);
    if (CNO_ != 0) Raise(23704);
    if (!dataContext_) Raise(23703);
    CNO_ = CNO;
    name_ = source.name_;
    tableName_ = source.tableName_;
    hasGeometry_ = source.hasGeometry_;
}

std::shared_ptr<IDataContext> Component::get_DataContext() {
    TraceScope trace(kFile, "Get IComponent_DataContext");
    TraceComponentKeys(trace);
    return dataContext_;
}

void Component::putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) {
    TraceScope trace(kFile, "Set IComponent_DataContext");
    TraceComponentKeys(trace);
    dataContext_ = DataContext;
}

std::string Component::get_Name() {
    TraceScope trace(kFile, "Get IComponent_Name");
    TraceComponentKeys(trace);
    return name_;
}

std::string Component::get_TableName() {
    TraceScope trace(kFile, "Get IComponent_TableName");
    TraceComponentKeys(trace);
    return tableName_;
}

// ---- FIDs ----

void Component::AddFID(const rt::Variant& FID) {
    TraceScope trace(kFile, "IComponent_AddFID");
    TraceComponentKeys(trace);
    auto held = [&](int32_t f) { return std::find(fids_.begin(), fids_.end(), f) != fids_.end(); };
    std::string type = rt::TypeName(FID);
    if (type == "Long") {
        if (!held(FID.I4())) fids_.push_back(FID.I4());
    } else if (type == "Long()") {
        const rt::SafeArray* a = FID.Array();
        if (!a || a->Count() == 0) return;
        std::vector<int32_t> add;
        for (const auto& v : a->Data()) {
            if (held(v.I4())) return;
            add.push_back(v.I4());
        }
        fids_.insert(fids_.end(), add.begin(), add.end());
    } else {
        Raise(23702);
    }
}

// ---- loading ----

void Component::OpenComponentRecordset() {
    try {
        if (rows_) {
            loaded_ = true;
            return;
        }
        if (CNO_ == 0) Raise(23709);
        if (!dataContext_) Raise(23710);
        if (fids_.empty()) Raise(23711);

        std::shared_ptr<ado::Recordset> rs;
        if (dataContext_->DataMode() == 1) {
            auto rowsFace = rt::QueryInterface<IDataContextRows>(dataContext_);
            rs = rowsFace->GetComponentRows(tableName_, FIDArray(), CNO_);
        } else {
            CheckTableName(tableName_);
            std::string sql;
            std::vector<rt::Variant> values;
            if (fids_.size() == 1) {
                sql = "SELECT * FROM " + tableName_ + " WHERE QTX_FID = ? and QTX_CNO = ?";
                values.emplace_back(fids_[0]);
            } else {
                sql = "SELECT * FROM " + tableName_ + " WHERE QTX_FID IN (" + Markers(fids_.size()) +
                      ") AND QTX_CNO = ?";
                for (int32_t f : fids_) values.emplace_back(f);
            }
            values.emplace_back(CNO_);
            rt::Variant parameters = rt::Variant::ArrayOf(values, 0);
            rs = dataContext_->OpenParameterizedRecordset(sql, ado::adOpenKeyset, ado::adLockBatchOptimistic,
                                                          ado::adCmdUnknown, parameters);
            if (rs) rs->putref_ActiveConnection(nullptr);
        }
        if (!rs) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);

        rows_ = rs;
        NameEditsOfRows();
        if (eventsEnabled_) HookEvents();
        if (!pendingFilter_.empty()) rows_->put_Filter(rt::Variant(pendingFilter_));
        loaded_ = true;
    } catch (const rt::ComError& e) {
        RaiseError(e.Number(), SourceText(), rt::Variant(e.Description()));
    }
}

std::shared_ptr<ado::Recordset> Component::get_Recordset() {
    TraceScope trace(kFile, "Get IComponent_Recordset");
    TraceComponentKeys(trace);
    if (!loaded_) OpenComponentRecordset();
    return deletionClone_ ? deletionClone_ : rows_;
}

bool Component::get_RecordsetLocal() {
    TraceScope trace(kFile, "Get IComponent_RecordsetLocal");
    TraceComponentKeys(trace);
    return rows_ != nullptr;
}

void Component::AttachRecordset(const std::shared_ptr<ado::Recordset>& Recordset) {
    TraceScope trace(kFile, "AttachRecordset");
    TraceComponentKeys(trace);
    if (rows_) Raise(23707);
    if (!Recordset) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    if (!(Recordset->get_BOF() && Recordset->get_EOF())) {
        Recordset->MoveFirst();
        const int32_t fidField = Recordset->FieldIndex("QTX_FID");
        while (!Recordset->get_EOF()) {
            rt::Variant fid =
                fidField >= 0 ? Recordset->FieldValue(fidField) : Recordset->GetValue(rt::Variant("QTX_FID"));
            // A row not yet given its feature has no FID to contribute.
            if (!IsNullOrEmpty(fid)) {
                int32_t f = rt::CLng(fid);
                if (std::find(fids_.begin(), fids_.end(), f) == fids_.end()) fids_.push_back(f);
            }
            Recordset->MoveNext();
        }
    }
    rows_ = Recordset;
    NameEditsOfRows();
    if (eventsEnabled_) HookEvents();
    OpenComponentRecordset();
}

void Component::ResetRecordsets() {
    TraceScope trace(kFile, "ResetRecordsets");
    if (m_oEventRecordset && eventCookie_ != 0) m_oEventRecordset->Unadvise(eventCookie_);
    eventCookie_ = 0;
    m_oEventRecordset.reset();
    rows_.reset();
    geometryRows_.reset();
    // Clones of rows let go are no longer the component's to save.
    cloneRows_.clear();
    keptViews_.clear();
    loaded_ = false;
}

// ---- geometry ----

std::shared_ptr<ado::Recordset> Component::OpenGeometryRecordset(int32_t id) {
    TraceScope trace(kFile, "OpenGeometryRecordset");
    TraceComponentKeys(trace);
    ReadGeometryRows();
    geometryRows_->put_Filter(rt::Variant("SDO_GID = " + std::to_string(id)));
    return geometryRows_;
}

std::shared_ptr<ado::Recordset> Component::GeometryRows() {
    TraceScope trace(kFile, "OpenGeometryRecordset");
    TraceComponentKeys(trace);
    ReadGeometryRows();
    return geometryRows_;
}

void Component::ReadGeometryRows() {
    if (!hasGeometry_) Raise(23708);
    if (!geometryRows_) {
        // Rows read here would be no one's to save: a deletion through a
        // clone must reach the rows its source saves.
        if (auto source = geometrySource_.lock()) {
            geometryRows_ = source->GeometryRows()->Clone(ado::adLockUnspecified);
            return;
        }
        if (!dataContext_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
        std::string table = tableName_ + "_SDOGEOM";
        std::shared_ptr<ado::Recordset> rs;
        if (dataContext_->DataMode() == 1) {
            auto rowsFace = rt::QueryInterface<IDataContextRows>(dataContext_);
            rs = rowsFace->GetGeometryRows(table, fids_.empty() ? rt::Variant("-999") : FIDArray(), CNO_);
        } else {
            CheckTableName(tableName_);
            std::string sql;
            std::vector<rt::Variant> values;
            if (fids_.size() <= 1) {
                sql = "SELECT * FROM " + table + " WHERE QTX_FID = ?";
                values.push_back(fids_.empty() ? rt::Variant(int16_t{-999}) : rt::Variant(fids_[0]));
            } else {
                sql = "SELECT * FROM " + table + " WHERE QTX_FID IN (" + Markers(fids_.size()) + ")";
                for (int32_t f : fids_) values.emplace_back(f);
            }
            sql += " ORDER BY SDO_GID, SDO_ESEQ, SDO_SEQ";
            rt::Variant parameters = rt::Variant::ArrayOf(values, 0);
            rs = dataContext_->OpenParameterizedRecordset(sql, ado::adOpenKeyset, ado::adLockBatchOptimistic,
                                                          ado::adCmdUnknown, parameters);
            if (rs) rs->putref_ActiveConnection(nullptr);
        }
        if (!rs) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
        geometryRows_ = rs;
    }
}

std::optional<rt::Variant> Component::SavedFieldDefault(const std::string& field) const {
    if (auto info = FindFieldInfo(fieldInfos_, field)) return info->get_DefaultValue();
    return std::nullopt;
}

std::shared_ptr<ado::Recordset> Component::get_GeometryRecordset() {
    if (geometryRows_) geometryRows_->put_Filter(rt::Variant(int32_t{ado::adFilterNone}));
    return geometryRows_;
}

void Component::putref_GeometryRecordset(const std::shared_ptr<ado::Recordset>& Geometry) { geometryRows_ = Geometry; }

IGeometryService& Component::GetGeometryService() {
    if (!geometryService_) {
        auto service = rt::QueryInterface<IGeometryService>(rt::CreateObject(kGeometryServiceProgId));
        service->putref_DataContext(dataContext_);
        geometryService_ = service;
    }
    return *geometryService_;
}

void Component::AssignNextGeometryID(const std::shared_ptr<ado::Recordset>& Recordset) {
    CheckTableName(tableName_);
    auto seq = dataContext_->OpenRecordset("select " + tableName_ + "_SEQ.NextVal from dual");
    if (!seq || (seq->get_BOF() && seq->get_EOF()))
        RaiseError(1, SourceText(), rt::Variant("The sequence " + tableName_ + "_SEQ gave no value."));
    Recordset->SetValue(rt::Variant("QTX_ID"), seq->get_Fields()->Item(0)->get_Value());
}

rt::Variant Component::GeometryBeforeChange() {
    if (geometryBeforeChange_.IsEmpty()) geometryBeforeChange_ = rt::Variant(get_Geometry());
    return geometryBeforeChange_;
}

rt::ObjectPtr Component::CurrentGeometry(
    const std::function<rt::ObjectPtr(int32_t, const std::shared_ptr<ado::Recordset>&)>& read) {
    if (dataContext_ && dataContext_->DataMode() == 2) return nullptr;
    if (!loaded_) OpenComponentRecordset();
    auto rs = deletionClone_ ? deletionClone_ : rows_;
    if (rs->get_EOF() && rs->get_BOF()) return nullptr;
    if (rs->get_RecordCount() == 1) rs->MoveFirst();
    rt::Variant id = rs->GetValue(rt::Variant("QTX_ID"));
    if (IsNullOrEmpty(id)) return nullptr;
    return read(rt::CLng(id), rs);
}

rt::ObjectPtr Component::get_Geometry() {
    TraceScope trace(kFile, "Get IComponent_Geometry");
    TraceComponentKeys(trace);
    return CurrentGeometry([&](int32_t id, const std::shared_ptr<ado::Recordset>& rs) {
        auto geometryRows = OpenGeometryRecordset(id);
        return GetGeometryService().ReadGeometry(geometryRows, rs);
    });
}

rt::ObjectPtr Component::GeometryThrough(const GeometryIndexOf& indexOf) {
    TraceScope trace(kFile, "Get IComponent_Geometry");
    TraceComponentKeys(trace);
    return CurrentGeometry([&](int32_t id, const std::shared_ptr<ado::Recordset>& rs) -> rt::ObjectPtr {
        ReadGeometryRows();
        if (auto index = indexOf(geometryRows_)) return index->Find(id);
        auto geometryRows = OpenGeometryRecordset(id);
        return GetGeometryService().ReadGeometry(geometryRows, rs);
    });
}

void Component::putref_Geometry(const rt::ObjectPtr& Geometry) {
    TraceScope trace(kFile, "Set IComponent_Geometry");
    TraceComponentKeys(trace);
    if (!loaded_) OpenComponentRecordset();
    if (!m_bAttributeInfoLoaded) LoadAttributeInfoFI();
    if (rows_->get_EOF() || rows_->get_BOF()) Raise(23706);
    GeometryBeforeChange();
    if (IsNullOrEmpty(rows_->GetValue(rt::Variant("QTX_ID")))) AssignNextGeometryID(rows_);
    auto geometryRows = OpenGeometryRecordset(rt::CLng(rows_->GetValue(rt::Variant("QTX_ID"))));
    GetGeometryService().WriteGeometry(Geometry, rows_, geometryRows);
    FireFieldChangeFI("QTX_GEOMETRY");
}

// ---- filter, saving, flags ----

std::string Component::get_Filter() {
    TraceScope trace(kFile, "Get IComponent_Filter");
    TraceComponentKeys(trace);
    if (loaded_ && rows_) return rt::CStr(rows_->get_Filter());
    return pendingFilter_;
}

void Component::put_Filter(const std::string& Filter) {
    TraceScope trace(kFile, "Let IComponent_Filter");
    TraceComponentKeys(trace);
    if (loaded_ && rows_)
        rows_->put_Filter(rt::Variant(Filter));
    else
        pendingFilter_ = Filter;
}

void Component::Update() {
    TraceScope trace(kFile, "IComponent_Update");
    TraceComponentKeys(trace);
    // The features' views end their open edits first, as the component's own
    // rows end theirs when their filter is set below.
    EndCloneEdits();
    for (const auto& rs : {rows_, geometryRows_}) {
        if (!rs) continue;
        rs->put_Filter(rt::Variant(int32_t{ado::adFilterNone}));
        rs->put_Filter(rt::Variant(int32_t{ado::adFilterPendingRecords}));
        try {
            if (!(rs->get_BOF() && rs->get_EOF())) {
                if (!dataContext_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
                dataContext_->UpdateRecordset(rs, ado::adAffectAll);
            }
        } catch (...) {
            rs->put_Filter(rt::Variant(int32_t{ado::adFilterNone}));
            throw;
        }
        rs->put_Filter(rt::Variant(int32_t{ado::adFilterNone}));
    }
}

bool Component::get_FunctionalInterfacesEnabled() {
    TraceScope trace(kFile, "Get IComponent_FunctionalInterfacesEnabled");
    TraceComponentKeys(trace);
    return m_bFunctionalInterfacesEnabled;
}

void Component::put_FunctionalInterfacesEnabled(bool Enabled) {
    TraceScope trace(kFile, "Let IComponent_FunctionalInterfacesEnabled");
    TraceComponentKeys(trace);
    m_bFunctionalInterfacesEnabled = Enabled;
}

bool Component::get_AttributeEditControlEnabled() {
    TraceScope trace(kFile, "Get IComponent_AttributeEditControlEnabled");
    TraceComponentKeys(trace);
    return attributeEditControlEnabled_;
}

void Component::put_AttributeEditControlEnabled(bool Enabled) {
    TraceScope trace(kFile, "Let IComponent_AttributeEditControlEnabled");
    TraceComponentKeys(trace);
    attributeEditControlEnabled_ = Enabled;
}

void Component::putref_FieldInfoCollection(const std::shared_ptr<FieldInfoCollection>& FieldInfos) {
    fieldInfos_ = FieldInfos;
}

std::shared_ptr<FieldInfoCollection> Component::FieldInfosToShare() {
    if (!fieldInfos_ && !m_bAttributeInfoLoaded) LoadAttributeInfoFI();
    return fieldInfos_;
}

// ---- the clones handed out for single features ----

void Component::NoteCloneRows(const std::shared_ptr<ado::Recordset>& rows, const std::string& view) {
    if (!rows) return;
    // Swept only as the list doubles: a set of thousands of features opened
    // together notes a clone per feature.
    if (cloneRows_.size() >= cloneRowsSweepAt_) {
        std::erase_if(cloneRows_, [](const auto& c) { return c.second.rows.expired(); });
        cloneRowsSweepAt_ = std::max<size_t>(16, 2 * cloneRows_.size());
    }
    cloneRows_[rows.get()] = {rows, view};
}

namespace {

std::string KeyText(const rt::Variant& v) {
    try {
        return IsNullOrEmpty(v) ? std::string("Null") : rt::CStr(v);
    } catch (const rt::ComError&) {
        return "?";
    }
}

}  // namespace

void Component::NameEditsOfRows() {
    // Whoever cannot end an edit of the rows (a move, the save) names it so.
    rows_->NameEditsForErrors([name = name_](const std::vector<ado::FieldDesc>& fields, const rt::Variant* row) {
        auto key = [&](const char* field) {
            for (size_t i = 0; i < fields.size(); ++i)
                if (rt::NamesEqual(fields[i].name, field)) return KeyText(row[i]);
            return std::string("?");
        };
        return "component " + name + ", feature FNO " + key("QTX_FNO") + " FID " + key("QTX_FID");
    });
}

std::vector<std::pair<std::shared_ptr<ado::Recordset>, std::string>> Component::OpenCloneEdits() {
    // A copy: the handlers of an Update may clone or let go meanwhile.
    std::vector<std::pair<std::shared_ptr<ado::Recordset>, std::string>> open;
    if (!rows_ || cloneRows_.empty()) return open;
    // The family's open edits, not its members: thousands of views may stand.
    for (auto& rows : rows_->EditorsOfRows()) {
        const auto noted = cloneRows_.find(rows.get());
        if (noted == cloneRows_.end() || noted->second.rows.lock() != rows) continue;
        if (rows->get_State() == ado::adStateClosed) continue;
        // An edit stands on its row; a recordset off its rows has none.
        if (rows->get_BOF() || rows->get_EOF()) continue;
        open.emplace_back(std::move(rows), noted->second.view);
    }
    return open;
}

void Component::EndCloneEdits() { EndCloneEdits({this}); }

void Component::EndCloneEdits(const std::vector<Component*>& components) {
    // A handler may open an edit on any view of the save while these end:
    // each round goes over every component and ends what the last one left,
    // as a move ends what the handlers of its Update open. A handler that
    // never stops is refused, as a move refuses it, its edit left open.
    constexpr int kRounds = 1 + ado::kEditsHandlersMayOpen;
    std::optional<rt::ComError> first;
    std::vector<std::string> notEnded;
    std::vector<std::shared_ptr<ado::Recordset>> refused;
    auto refuse = [&](const std::shared_ptr<ado::Recordset>& rows, const std::string& view, const rt::ComError& e) {
        if (!first) first = e;
        notEnded.push_back("The edit of " + rows->EditName() + " (rows " + view + "), could not be ended");
        refused.push_back(rows);
    };
    // Once refused, the save ends no more edits of rows a caller holds: they
    // stay open, as a feature's own do past a refused one. Those of views let
    // go are still ended or taken back.
    auto toEnd = [&](Component* c) {
        auto open = c->OpenCloneEdits();
        std::erase_if(open, [&](const auto& o) {
            return std::find(refused.begin(), refused.end(), o.first) != refused.end() ||
                   (first && c->KeptViewOf(o.first) == c->keptViews_.end());
        });
        return open;
    };
    for (int round = 0; round < kRounds; ++round) {
        bool ending = false;
        for (Component* c : components) {
            for (const auto& [rows, view] : toEnd(c)) {
                ending = true;
                try {
                    // Without an edit in progress (a change already updated and
                    // pending) this does nothing.
                    rows->Update();
                } catch (const rt::ComError& e) {
                    refuse(rows, view, e);
                    // A view let go has nobody left to cancel its edit: refused
                    // once, it is taken back, so that it does not block every
                    // later save. Rows someone holds keep theirs.
                    c->DropKeptView(rows);
                }
            }
        }
        if (!ending) break;
    }
    // Still open after the last round: a handler that never stops. The edit
    // stays where it stands, kept or held.
    for (Component* c : components)
        for (const auto& [rows, view] : toEnd(c)) refuse(rows, view, rows->EndlessEditError());
    // The views let go whose edits are ended may go now.
    for (Component* c : components) c->ForgetEndedKeptViews();
    if (first) {
        std::string description = first->Description();
        if (!description.empty() && description.back() != '.') description += '.';
        for (size_t k = 0; k < notEnded.size(); ++k)
            description += (k == 0 ? " " : ". ") + notEnded[k];
        throw rt::ComError(first->Number(), first->Source(), description + "; nothing was saved.");
    }
}

void Component::Save(const std::vector<std::shared_ptr<Component>>& components, IComponentDatabaseService* service) {
    std::vector<Component*> ending;
    for (const auto& c : components) ending.push_back(c.get());
    EndCloneEdits(ending);
    for (const auto& c : components) c->ProcessComponentsUpdate();
    if (!service) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    for (const auto& c : components) service->UpdateComponent(c);
}

std::vector<Component::RowsAsSet> Component::RowsAsSetOf(const std::vector<std::shared_ptr<Component>>& components) {
    std::vector<RowsAsSet> before;
    for (const auto& c : components)
        for (const auto& rs : {c->rows_, c->geometryRows_})
            if (rs) before.push_back({rs, rs->get_Filter()});
    return before;
}

void Component::GiveBack(const std::vector<RowsAsSet>& rows) {
    for (const auto& [rs, filter] : rows) {
        if (rs->get_State() == ado::adStateClosed) continue;
        // Setting a filter ends an open edit: a refused one stays as it is.
        const auto open = rs->EditorsOfRows();
        if (std::find(open.begin(), open.end(), rs) != open.end()) continue;
        try {
            rs->put_Filter(filter);
        } catch (const rt::ComError&) {
            // The save's own error is the one to report.
        }
    }
}

void Component::ForgetEndedKeptViews() {
    if (keptViews_.empty()) return;
    const auto open = OpenCloneEdits();
    std::vector<std::shared_ptr<Component>> ended;
    auto kept = std::move(keptViews_);
    keptViews_.clear();
    for (auto& view : kept) {
        const bool stillOpen = std::any_of(open.begin(), open.end(), [&](const auto& o) { return o.first == view->rows_; });
        (stillOpen ? keptViews_ : ended).push_back(std::move(view));
    }
    // Let go once the list is whole again: a view going may call back.
    ended.clear();
}

void Component::EndCloneEditsToRead() {
    for (const auto& [rows, view] : OpenCloneEdits())
        // A view let go is nobody's to read through; the save deals with it.
        if (KeptViewOf(rows) == keptViews_.end()) rows->Update();
}

std::vector<std::shared_ptr<Component>>::iterator Component::KeptViewOf(const std::shared_ptr<ado::Recordset>& rows) {
    return std::find_if(keptViews_.begin(), keptViews_.end(),
                        [&](const std::shared_ptr<Component>& v) { return v->RowsIfAny() == rows; });
}

void Component::DropKeptView(const std::shared_ptr<ado::Recordset>& rows) {
    const auto kept = KeptViewOf(rows);
    if (kept == keptViews_.end()) return;
    const auto view = *kept;
    keptViews_.erase(kept);
    // An add would stay in the rows when its recordset goes: cancelled
    // first, where a handler lets it.
    try {
        rows->CancelUpdate();
    } catch (const rt::ComError&) {
    }
    view->putref_FieldInfoCollection(nullptr);
}

void Component::KeepCloneEdit(const std::shared_ptr<Component>& view) {
    if (view) keptViews_.push_back(view);
}

// ---- functional interfaces ----

void Component::ProcessComponentsUpdate() {
    TraceScope trace(kFile, "ProcessComponentsUpdate");
    TraceComponentKeys(trace);
    if (!rows_) return;
    // Held here: an interface may let the component's rows go meanwhile.
    const auto rows = rows_;
    const uint32_t closings = rows->Closings();
    rows->put_Filter(rt::Variant(int32_t{ado::adFilterNone}));
    if (rows->get_BOF() && rows->get_EOF()) return;
    if (!m_bAttributeInfoLoaded) LoadAttributeInfoFI();
    // The rows the walk began with, each once: an interface may add rows or
    // delete them (a row added is new, and would fire in its turn).
    ForEachRowBegunWith(*rows, [&] {
        int32_t status = rows->get_Status();
        if (status != ado::adRecOK && (status & ado::adRecUnmodified) == 0) {
            UpdateFI();
        } else if (geometryRows_) {
            // A row whose own fields are unchanged still counts when its
            // geometry rows are pending.
            geometryRows_->put_Filter(rt::Variant(int32_t{ado::adFilterPendingRecords}));
            if (!(geometryRows_->get_BOF() && geometryRows_->get_EOF())) {
                rt::Variant id = rows->GetValue(rt::Variant("QTX_ID"));
                const auto geometryRows = geometryRows_;
                geometryRows->MoveFirst();
                while (!geometryRows->get_EOF()) {
                    auto gidField = geometryRows->get_Fields()->Item("SDO_GID");
                    rt::Variant gid = (geometryRows->get_Status() & ado::adRecDeleted) ? gidField->get_OriginalValue()
                                                                                       : gidField->get_Value();
                    if (!IsNullOrEmpty(gid) && !IsNullOrEmpty(id) && rt::CLng(gid) == rt::CLng(id)) {
                        UpdateFI();
                        break;
                    }
                    geometryRows->MoveNext();
                }
            }
        }
        // Rows let go or closed by an interface have no more rows to walk.
        if (!HoldsRows(rows, closings)) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    });
    if (geometryRows_) geometryRows_->put_Filter(rt::Variant(int32_t{ado::adFilterNone}));
}

int16_t Component::GetMaxCID(const std::shared_ptr<ado::Recordset>& Recordset) {
    if (Recordset->get_BOF() && Recordset->get_EOF()) return 0;
    int16_t highest = 0;
    Recordset->MoveFirst();
    while (!Recordset->get_EOF()) {
        rt::Variant cid = Recordset->GetValue(rt::Variant("QTX_CID"));
        if (!IsNullOrEmpty(cid) && rt::CInt(cid) > highest) highest = rt::CInt(cid);
        Recordset->MoveNext();
    }
    return highest;
}

// ---- late binding (IComponent) ----

namespace {

const rt::DispatchTable<Component>& ComponentDispatch() {
    static const auto table =
        rt::DispatchTable<Component>().ClassModuleOf(kProjectName)
            .Method("AddFID", 1, 1, 1,
                    [](Component& c, rt::Args& a) {
                        c.AddFID(a[0]);
                        return rt::Variant();
                    })
            .Get("CNO", 2, [](Component& c) { return rt::Variant(c.get_CNO()); })
            .Let("CNO", 2, [](Component& c, const rt::Variant& v) { c.put_CNO(rt::CInt(v)); })
            .Get("DataContext", 3, [](Component& c) { return rt::Variant(c.get_DataContext()); })
            .Set("DataContext", 3,
                 [](Component& c, const rt::Variant& v) {
                     c.putref_DataContext(v.IsNothing() ? nullptr : rt::QueryInterface<IDataContext>(v.Obj()));
                 })
            .Get("Geometry", 4, [](Component& c) { return rt::Variant(c.get_Geometry()); })
            .Set("Geometry", 4, [](Component& c, const rt::Variant& v) { c.putref_Geometry(v.Obj()); })
            .Get("Recordset", 5, [](Component& c) { return rt::Variant(c.get_Recordset()); })
            .Get("Name", 6, [](Component& c) { return rt::Variant(c.get_Name()); })
            .Get("TableName", 7, [](Component& c) { return rt::Variant(c.get_TableName()); })
            .Method("Update", 8, [](Component& c) { c.Update(); })
            .Get("Filter", 9, [](Component& c) { return rt::Variant(c.get_Filter()); })
            .Let("Filter", 9, [](Component& c, const rt::Variant& v) { c.put_Filter(rt::CStr(v)); })
            .Get("FunctionalInterfacesEnabled", 10,
                 [](Component& c) { return rt::Variant(c.get_FunctionalInterfacesEnabled()); })
            .Let("FunctionalInterfacesEnabled", 10,
                 [](Component& c, const rt::Variant& v) { c.put_FunctionalInterfacesEnabled(rt::CBool(v)); })
            .Get("AttributeEditControlEnabled", 11,
                 [](Component& c) { return rt::Variant(c.get_AttributeEditControlEnabled()); })
            .Let("AttributeEditControlEnabled", 11,
                 [](Component& c, const rt::Variant& v) { c.put_AttributeEditControlEnabled(rt::CBool(v)); })
            .Get("RecordsetLocal", 12, [](Component& c) { return rt::Variant(c.get_RecordsetLocal()); });
    return table;
}

}  // namespace

rt::Variant Component::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    return ComponentDispatch().Invoke(*this, name, kind, args);
}

rt::Variant Component::InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) {
    return ComponentDispatch().InvokeDispId(*this, dispId, kind, args);
}

}  // namespace pelmora
