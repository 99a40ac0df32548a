#include "ado/Recordset.h"

#include <algorithm>
#include <cmath>

#include "ado/FilterCriteria.h"
#include "ado/LateBinding.h"
#include "ado/RecordsetSupport.h"
#include "ado/RowStore.h"
#include "runtime/Vb.h"

namespace ado {

using namespace recordset_support;

// ------------------------------------------------------------------ creation

RecordsetPtr Recordset::Create() { return std::make_shared<Recordset>(); }

Recordset::Recordset() = default;
Recordset::~Recordset() {
    // An add left open stays in the rows, with what was assigned; nobody
    // fills it in any more.
    if (editMode_ == adEditAdd && store_) store_->EndAdding(editRow_);
    if (editMode_ != adEditNone && store_) store_->ForgetEditor(this);
}

RecordsetPtr Recordset::FromImage(RecordsetImage image, LockTypeEnum lockType, CursorTypeEnum cursorType) {
    auto rs = Create();
    auto store = std::make_shared<RowStore>();
    size_t width = image.fields.size();
    store->SetFields(std::move(image.fields));
    size_t rows = width == 0 ? 0 : image.values.size() / width;
    image.values.resize(rows * width);
    store->values = std::move(image.values);
    store->meta.assign(rows, RowStore::Meta{});
    rs->lockType_ = lockType == adLockUnspecified ? adLockBatchOptimistic : lockType;
    rs->cursorType_ = cursorType == adOpenUnspecified ? adOpenStatic : cursorType;
    rs->put_Source(std::move(image.source));
    rs->AttachStore(std::move(store));
    return rs;
}

RecordsetPtr Recordset::Self() { return std::static_pointer_cast<Recordset>(weak_from_this().lock()); }

void Recordset::AttachStore(std::shared_ptr<RowStore> store) {
    // A sort set before opening must name fields of the rows.
    std::vector<SortKey> keys = sort_.empty() ? std::vector<SortKey>{} : ParseSortKeys(sort_, *store);
    EndEdit();
    store_ = std::move(store);
    open_ = true;
    ++schemaVersion_;
    affected_.clear();
    filterKind_ = FilterKind::None;
    filter_ = rt::Variant(int32_t{0});
    filterGroup_ = adFilterNone;
    criteria_.reset();
    sortKeys_ = std::move(keys);
    // Built when first looked at: a clone that is filtered straight away
    // (the usual use) never lists every row of the store.
    viewPending_ = true;
    pendingRow_ = -1;
}

void Recordset::CheckOpen() const {
    if (!open_) Raise(err::ObjectClosed, "Operation is not allowed when the object is closed.");
}

void Recordset::CheckOpenSince(uint32_t closings) const {
    if (closings_ != closings) Raise(err::ObjectClosed, "Operation is not allowed when the object is closed.");
    CheckOpen();
}

void Recordset::CheckUpdatable() const {
    CheckOpen();
    if (lockType_ == adLockReadOnly)
        Raise(err::NotSupported,
              "Current Recordset does not support updating. This may be a limitation of the provider, or of the "
              "selected locktype.");
}

ObjectStateEnum Recordset::get_State() const { return open_ ? adStateOpen : adStateClosed; }

// ------------------------------------------------------------------ open/close

void Recordset::Open(const rt::Variant& Source, const rt::Variant& ActiveConnection, CursorTypeEnum CursorType,
                     LockTypeEnum LockType, int32_t /*Options*/) {
    if (open_) Raise(err::ObjectOpen, "Operation is not allowed when the object is open.");
    bool noConnection = IsMissingArg(ActiveConnection) || ActiveConnection.IsNull() || ActiveConnection.IsNothing() ||
                        (ActiveConnection.IsString() && ActiveConnection.Str().empty());
    if (!noConnection)
        Raise(err::NotSupported, "Recordsets over a connection are opened by the data context.");
    std::string path;
    if (Source.IsString()) {
        path = Source.Str();
    } else if (!IsMissingArg(Source) && !Source.IsNull()) {
        BadArgument();
    }
    // The types given are the recordset's from here on, whether it opens or not.
    if (LockType != adLockUnspecified) put_LockType(LockType);
    if (CursorType != adOpenUnspecified) put_CursorType(CursorType);
    LockTypeEnum lock = lockTypeSet_ ? lockType_ : adLockBatchOptimistic;
    CursorTypeEnum cursor = cursorTypeSet_ ? cursorType_ : adOpenStatic;
    auto store = std::make_shared<RowStore>();
    if (!path.empty()) {
        RecordsetImage image = LoadImage(path);
        size_t width = image.fields.size();
        store->SetFields(std::move(image.fields));
        size_t rows = width == 0 ? 0 : image.values.size() / width;
        image.values.resize(rows * width);
        store->values = std::move(image.values);
        store->meta.assign(rows, RowStore::Meta{});
        put_Source(std::move(image.source));
    } else {
        if (pendingFields_.empty())
            Raise(err::InvalidConnection,
                  "The connection cannot be used to perform this operation. It is either closed or invalid in this "
                  "context.");
        store->SetFields(pendingFields_);
        store->newRowValue = rt::Variant();
    }
    // A filter set while closed is checked against the fields now; when it
    // does not fit, the recordset stays closed.
    rt::Variant filter = filter_;
    FilterSetting setting = InterpretFilter(filter, *store);
    lockType_ = lock;
    cursorType_ = cursor;
    connection_.reset();
    AttachStore(std::move(store));
    if (setting.kind != FilterKind::None) ApplyFilter(std::move(setting), filter);
}

void Recordset::Close() {
    CheckOpen();
    auto keep = Self();
    if (editMode_ != adEditNone) {
        if (!IsBatch()) Raise(err::IllegalOperation, "Operation is not allowed in this context.");
        // A batch recordset drops the edit with everything else not yet sent.
        if (editMode_ == adEditAdd) {
            store_->meta[static_cast<size_t>(editRow_)].removed = true;
            ++store_->version;
        }
        EndEdit();
    }
    if (FireWill(evRecordset, adRsnClose, [&](RecordsetEvents& s, EventStatusEnum& st, const RecordsetPtr& rs) {
            s.WillChangeRecordset(adRsnClose, st, rs);
        }) == adStatusCancel) {
        FireCancelled(evRecordsetComplete, adRsnClose);
        throw CancelledError();
    }
    pendingFields_.clear();
    ++closings_;
    store_.reset();
    view_.clear();
    base_.clear();
    indexOf_.clear();
    indexValid_ = false;
    viewPending_ = false;
    pendingRow_ = -1;
    pos_ = -1;
    open_ = false;
    sort_.clear();
    sortKeys_.clear();
    filterKind_ = FilterKind::None;
    filter_ = rt::Variant(int32_t{0});
    filterGroup_ = adFilterNone;
    criteria_.reset();
    ++schemaVersion_;
    FireComplete(evRecordsetComplete, adRsnClose, [&](RecordsetEvents& s, EventStatusEnum& st, const RecordsetPtr& rs) {
        s.RecordsetChangeComplete(adRsnClose, nullptr, st, rs);
    });
}

RecordsetImage Recordset::ToImage() {
    CheckOpen();
    Sync();
    RecordsetImage image;
    image.source = get_Source();
    image.fields = store_->fields;
    image.values.reserve(static_cast<size_t>(VisibleCount()) * store_->width);
    for (int32_t row : view_) {
        if (!Visible(row) || store_->meta[static_cast<size_t>(row)].status == adRecDeleted) continue;
        const rt::Variant* values = store_->Row(row);
        image.values.insert(image.values.end(), values, values + store_->width);
    }
    return image;
}

void Recordset::Save(const std::string& path, PersistFormatEnum /*format*/) {
    CheckOpen();
    auto keep = Self();
    FinishEdit();
    SaveImage(path, ToImage());
    PositionFirst();
}

// ------------------------------------------------------------------ fields

std::vector<FieldDesc>& Recordset::PendingFieldDescs() { return pendingFields_; }

int32_t Recordset::FieldCount() const {
    return static_cast<int32_t>(store_ ? store_->fields.size() : pendingFields_.size());
}

const FieldDesc& Recordset::DescAt(int32_t index) const {
    const auto& list = store_ ? store_->fields : pendingFields_;
    if (index < 0 || static_cast<size_t>(index) >= list.size()) NotFound();
    return list[static_cast<size_t>(index)];
}

void Recordset::NameRowsForErrors(const std::string& rowsName) {
    if (store_) store_->rowsName = rowsName;
}

void Recordset::NameEditsForErrors(EditNamer namer) {
    if (store_) store_->nameEdit = std::move(namer);
}

std::string Recordset::EditName() const {
    // An edit a handler ended meanwhile leaves the current row to name.
    const int32_t row = editRow_ >= 0 ? editRow_ : CurrentRow();
    if (!store_ || row < 0) return "the current row";
    if (store_->nameEdit) return store_->nameEdit(store_->fields, store_->Row(row));
    return "the row with bookmark " + std::to_string(row + 1);
}

rt::ComError Recordset::EndlessEditError() const {
    return rt::ComError(err::OperationCancelled, recordset_support::kSource,
                        "The edit of " + EditName() + " could not be ended: the handlers of its Update opened " +
                            std::to_string(kEditsHandlersMayOpen) +
                            " edits after it and kept opening more; the operation was refused and the edit "
                            "left open.");
}

void Recordset::NoSuchField(const std::string& name, const char* source) const {
    RaiseNoSuchField(store_ ? store_->rowsName : std::string(), name, source);
}

int32_t Recordset::FieldIndex(const std::string& name) const {
    if (store_) return store_->FieldIndex(name);
    for (size_t i = 0; i < pendingFields_.size(); ++i)
        if (rt::NamesEqual(pendingFields_[i].name, name)) return static_cast<int32_t>(i);
    return -1;
}

void Recordset::SetFieldDesc(int32_t index, const FieldDesc& desc) {
    DescAt(index);
    if (store_) {
        auto descs = store_->fields;
        descs[static_cast<size_t>(index)] = desc;
        store_->SetFields(std::move(descs));
    } else {
        pendingFields_[static_cast<size_t>(index)] = desc;
    }
}

FieldsPtr Recordset::get_Fields() {
    if (auto f = fields_.lock()) return f;
    RequireShared();
    auto f = std::make_shared<Fields>(Self());
    fields_ = f;
    return f;
}

// As through get_Fields()->get_Item(index), without making a Fields and a
// Field for every value (a component's events read and write many).
rt::Variant Recordset::GetValue(const rt::Variant& index) {
    RequireShared();
    return FieldValue(Fields::ResolveIn(*this, index));
}

void Recordset::SetValue(const rt::Variant& index, const rt::Variant& value) {
    RequireShared();
    SetFieldValues({Fields::ResolveIn(*this, index)}, {value});
}

void Recordset::RequireShared() const {
    if (weak_from_this().expired()) Raise(err::IllegalOperation, "A recordset must be held by a shared pointer.");
}

rt::Variant Recordset::FieldValue(int32_t index) { return FieldValueRef(index); }

rt::Variant Recordset::FieldOriginalValue(int32_t index) { return FieldOriginalValueRef(index); }

const rt::Variant& Recordset::FieldValueRef(int32_t index) {
    CheckOpen();
    DescAt(index);
    Sync();
    int32_t row = RequireCurrentRow();
    if (!Visible(row) || store_->meta[static_cast<size_t>(row)].status == adRecDeleted) DeletedRow();
    return ValueSeen(row, index);
}

const rt::Variant& Recordset::FieldOriginalValueRef(int32_t index) {
    static const rt::Variant kNull = rt::Variant::Null();
    CheckOpen();
    DescAt(index);
    Sync();
    int32_t row = RequireCurrentRow();
    const auto& m = store_->meta[static_cast<size_t>(row)];
    if (m.original >= 0) return store_->originals[static_cast<size_t>(m.original)][static_cast<size_t>(index)];
    if (m.status == adRecNew) return kNull;
    return store_->Row(row)[index];
}

const rt::Variant* Recordset::CurrentRowValues() {
    CheckOpen();
    Sync();
    int32_t row = RequireCurrentRow();
    if (!Visible(row) || store_->meta[static_cast<size_t>(row)].status == adRecDeleted) DeletedRow();
    if (row != editRow_ || editMode_ == adEditAdd) return store_->Row(row);
    const rt::Variant* stored = store_->Row(row);
    editRowView_.resize(store_->width);
    for (size_t i = 0; i < store_->width; ++i) editRowView_[i] = editSet_[i] ? editValues_[i] : stored[i];
    return editRowView_.data();
}

const rt::Variant* Recordset::OriginalRowValues() {
    CheckOpen();
    Sync();
    int32_t row = RequireCurrentRow();
    const auto& m = store_->meta[static_cast<size_t>(row)];
    if (m.original >= 0) return store_->originals[static_cast<size_t>(m.original)].data();
    if (m.status == adRecNew) return nullptr;
    return store_->Row(row);
}

rt::Variant Recordset::FieldUnderlyingValue(int32_t index) {
    // Without a live database the last fetched values are the underlying ones.
    return FieldOriginalValue(index);
}

// ------------------------------------------------------------------ events

bool Recordset::HasSinks() const { return !sinks_.empty(); }

int32_t Recordset::Advise(const std::shared_ptr<RecordsetEvents>& sink) {
    if (!sink) BadArgument();
    sinks_.push_back(Sink{++lastCookie_, sink, {}});
    return lastCookie_;
}

void Recordset::Unadvise(int32_t cookie) {
    std::erase_if(sinks_, [&](const Sink& s) { return s.cookie == cookie; });
}

void Recordset::FireCancelled(EventKind completeKind, int reason) {
    rt::ComError error = CancelledError();
    auto reasonEnum = static_cast<EventReasonEnum>(reason);
    FireComplete(completeKind, reason, [&](RecordsetEvents& s, EventStatusEnum& st, const RecordsetPtr& rs) {
        st = adStatusErrorsOccurred;
        switch (completeKind) {
            case evRecordComplete: s.RecordChangeComplete(reasonEnum, 1, &error, st, rs); break;
            case evRecordsetComplete: s.RecordsetChangeComplete(reasonEnum, &error, st, rs); break;
            case evMoveComplete: s.MoveComplete(reasonEnum, &error, st, rs); break;
            default: break;
        }
    });
}

bool Recordset::WillChangeRecordCancelled(EventReasonEnum reason, int32_t count) {
    return FireWill(evRecord, reason, [&](RecordsetEvents& s, EventStatusEnum& st, const RecordsetPtr& rs) {
        s.WillChangeRecord(reason, count, st, rs);
    }) == adStatusCancel;
}

void Recordset::RecordChangeCompleted(EventReasonEnum reason, int32_t count) {
    FireComplete(evRecordComplete, reason, [&](RecordsetEvents& s, EventStatusEnum& st, const RecordsetPtr& rs) {
        s.RecordChangeComplete(reason, count, nullptr, st, rs);
    });
}

bool Recordset::WillMoveCancelled(EventReasonEnum reason) {
    return FireWill(evMove, reason, [&](RecordsetEvents& s, EventStatusEnum& st, const RecordsetPtr& rs) {
        s.WillMove(reason, st, rs);
    }) == adStatusCancel;
}

void Recordset::MoveCompleted(EventReasonEnum reason) {
    FireComplete(evMoveComplete, reason, [&](RecordsetEvents& s, EventStatusEnum& st, const RecordsetPtr& rs) {
        s.MoveComplete(reason, nullptr, st, rs);
    });
}

// ------------------------------------------------------------------ clones and properties

RecordsetPtr Recordset::Clone(LockTypeEnum LockType) {
    CheckOpen();
    if (LockType != adLockUnspecified && LockType != adLockReadOnly) BadArgument();
    auto clone = Create();
    clone->lockType_ = LockType == adLockReadOnly ? adLockReadOnly : lockType_;
    clone->cursorType_ = cursorType_;
    clone->cursorLocation_ = cursorLocation_;
    clone->source_ = source_;
    clone->connection_ = connection_;
    clone->AttachStore(store_);
    return clone;
}

struct Recordset::KeptView {
    std::weak_ptr<RowStore> store;
    uint64_t version = 0, assignments = 0;
    int32_t rows = 0;
    FilterKind kind = FilterKind::None;
    rt::Variant filter;
    std::shared_ptr<FilterCriteria> criteria;
    std::string sort;
    std::vector<SortKey> sortKeys;
    std::vector<int32_t> base, view;
};

std::shared_ptr<const Recordset::KeptView> Recordset::KeepView() {
    if (!open_ || editMode_ != adEditNone) return nullptr;
    if (filterKind_ != FilterKind::None && filterKind_ != FilterKind::Criteria) return nullptr;
    Sync();
    auto kept = std::make_shared<KeptView>();
    kept->store = store_;
    kept->version = store_->version;
    kept->assignments = store_->assignments;
    kept->rows = store_->RowCount();
    kept->kind = filterKind_;
    kept->filter = filter_;
    kept->criteria = criteria_;
    kept->sort = sort_;
    kept->sortKeys = sortKeys_;
    kept->base = base_;
    kept->view = view_;
    return kept;
}

bool Recordset::TakeView(const KeptView& kept) {
    if (!open_ || editMode_ != adEditNone || HasSinks()) return false;
    if (kept.store.lock() != store_ || kept.version != store_->version || kept.assignments != store_->assignments ||
        kept.rows != store_->RowCount())
        return false;
    viewPending_ = false;
    pendingRow_ = -1;
    filterKind_ = kept.kind;
    filterGroup_ = adFilterNone;
    criteria_ = kept.criteria;
    filter_ = kept.filter;
    sort_ = kept.sort;
    sortKeys_ = kept.sortKeys;
    base_ = kept.base;
    view_ = kept.view;
    knownRows_ = kept.rows;
    seenVersion_ = store_->version;
    NoteAdds(false);
    indexValid_ = false;
    countVersion_ = ~uint64_t{0};
    PositionFirst();
    return true;
}


uint64_t Recordset::RowsVersion() const { return store_ ? store_->version : 0; }
uint64_t Recordset::ValuesVersion() const { return store_ ? store_->assignments : 0; }
const void* Recordset::RowsIdentity() const { return store_.get(); }

const std::string& Recordset::get_Source() const {
    static const std::string none;
    return source_ ? *source_ : none;
}

void Recordset::put_Source(std::string source) {
    if (source.empty()) source_.reset();
    else source_ = std::make_shared<const std::string>(std::move(source));
}
rt::ObjectPtr Recordset::get_ActiveConnection() const { return connection_; }
void Recordset::putref_ActiveConnection(const rt::ObjectPtr& connection) { connection_ = connection; }

void Recordset::put_CursorLocation(CursorLocationEnum location) {
    if (open_) Raise(err::ObjectOpen, "Operation is not allowed when the object is open.");
    if (location != adUseServer && location != adUseClient && location != adUseNone) BadArgument();
    cursorLocation_ = location;
}

void Recordset::put_LockType(LockTypeEnum lockType) {
    if (open_) Raise(err::ObjectOpen, "Operation is not allowed when the object is open.");
    if (lockType < adLockReadOnly || lockType > adLockBatchOptimistic) BadArgument();
    lockType_ = lockType;
    lockTypeSet_ = true;
}

void Recordset::put_CursorType(CursorTypeEnum cursorType) {
    if (open_) Raise(err::ObjectOpen, "Operation is not allowed when the object is open.");
    if (cursorType < adOpenUnspecified || cursorType > adOpenStatic) BadArgument();
    cursorType_ = cursorType == adOpenUnspecified ? adOpenForwardOnly : cursorType;
    cursorTypeSet_ = cursorType != adOpenUnspecified;
}

// ------------------------------------------------------------------ late binding

rt::Variant Recordset::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    using K = rt::InvokeKind;
    auto is = [&](const char* n) { return rt::NamesEqual(name, n); };
    bool put = kind == K::PropertyLet || kind == K::PropertySet;
    if (is("Fields") && !put) {
        if (args.empty()) return rt::Variant(get_Fields());
        return rt::Variant(get_Fields()->get_Item(args[0]));
    }
    if ((name.empty() || is("Collect")) && !put && !args.empty()) return GetValue(args[0]);
    if ((name.empty() || is("Collect")) && put && args.size() >= 2) {
        SetValue(args[0], args.back());
        return {};
    }
    if (is("EOF")) return rt::Variant(get_EOF());
    if (is("BOF")) return rt::Variant(get_BOF());
    if (is("MoveNext")) { MoveNext(); return {}; }
    if (is("MovePrevious")) { MovePrevious(); return {}; }
    if (is("MoveFirst")) { MoveFirst(); return {}; }
    if (is("MoveLast")) { MoveLast(); return {}; }
    if (is("Move")) { Move(IntArg(args, 0, 0), Arg(args, 1)); return {}; }
    if (is("RecordCount")) return rt::Variant(get_RecordCount());
    if (is("AbsolutePosition")) {
        if (put) { put_AbsolutePosition(rt::CLng(args.back())); return {}; }
        return rt::Variant(get_AbsolutePosition());
    }
    if (is("Bookmark")) {
        if (put) { put_Bookmark(args.back()); return {}; }
        return get_Bookmark();
    }
    if (is("Filter")) {
        if (put) { put_Filter(args.back()); return {}; }
        return get_Filter();
    }
    if (is("Sort")) {
        if (put) { put_Sort(rt::CStr(args.back())); return {}; }
        return rt::Variant(get_Sort());
    }
    if (is("Source")) {
        if (put) { put_Source(rt::CStr(args.back())); return {}; }
        return rt::Variant(get_Source());
    }
    if (is("ActiveConnection")) {
        if (put) {
            const auto& v = args.back();
            putref_ActiveConnection(v.IsObject() ? v.Obj() : nullptr);
            return {};
        }
        return rt::Variant(get_ActiveConnection());
    }
    if (is("State")) return rt::Variant(static_cast<int32_t>(get_State()));
    if (is("Status")) return rt::Variant(get_Status());
    if (is("EditMode")) return rt::Variant(static_cast<int32_t>(get_EditMode()));
    if (is("LockType")) {
        if (put) { put_LockType(static_cast<LockTypeEnum>(rt::CLng(args.back()))); return {}; }
        return rt::Variant(static_cast<int32_t>(get_LockType()));
    }
    if (is("CursorType")) return rt::Variant(static_cast<int32_t>(get_CursorType()));
    if (is("CursorLocation")) return rt::Variant(static_cast<int32_t>(get_CursorLocation()));
    if (is("AddNew")) { AddNew(Arg(args, 0), Arg(args, 1)); return {}; }
    if (is("Update")) { Update(Arg(args, 0), Arg(args, 1)); return {}; }
    if (is("CancelUpdate")) { CancelUpdate(); return {}; }
    if (is("Delete")) { Delete(static_cast<AffectEnum>(IntArg(args, 0, adAffectCurrent))); return {}; }
    if (is("UpdateBatch")) { UpdateBatch(static_cast<AffectEnum>(IntArg(args, 0, adAffectAll))); return {}; }
    if (is("CancelBatch")) { CancelBatch(static_cast<AffectEnum>(IntArg(args, 0, adAffectAll))); return {}; }
    if (is("Clone")) return rt::Variant(Clone(static_cast<LockTypeEnum>(IntArg(args, 0, adLockUnspecified))));
    if (is("Close")) { Close(); return {}; }
    if (is("Find")) {
        Find(rt::CStr(Arg(args, 0)), IntArg(args, 1, 0),
             static_cast<SearchDirectionEnum>(IntArg(args, 2, adSearchForward)), Arg(args, 3));
        return {};
    }
    if (is("Open")) {
        Open(Arg(args, 0), Arg(args, 1), static_cast<CursorTypeEnum>(IntArg(args, 2, adOpenUnspecified)),
             static_cast<LockTypeEnum>(IntArg(args, 3, adLockUnspecified)), IntArg(args, 4, -1));
        return {};
    }
    if (is("Save")) { Save(rt::CStr(Arg(args, 0))); return {}; }
    return rt::Object::Invoke(name, kind, args);
}

}  // namespace ado
