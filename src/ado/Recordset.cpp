#include "ado/Recordset.h"

#include <algorithm>
#include <cmath>

#include "ado/FilterCriteria.h"
#include "ado/LateBinding.h"
#include "ado/RowStore.h"
#include "runtime/Vb.h"

namespace ado {

namespace {

constexpr const char* kSource = "ADODB.Recordset";

[[noreturn]] void Raise(int32_t number, const char* description) {
    throw rt::ComError(number, kSource, description);
}
[[noreturn]] void NoCurrent() {
    Raise(err::NoCurrentRecord,
          "Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a "
          "current record.");
}
[[noreturn]] void BadArgument() {
    Raise(err::InvalidArgument,
          "Arguments are of the wrong type, are out of acceptable range, or are in conflict with one another.");
}
[[noreturn]] void BadBookmark() { Raise(err::InvalidBookmark, "Bookmark is invalid."); }
[[noreturn]] void DeletedRow() {
    Raise(err::RowDeleted, "Row handle referred to a deleted row or a row marked for deletion.");
}
[[noreturn]] void NotFound() {
    Raise(err::ItemNotFound, "Item cannot be found in the collection corresponding to the requested name or ordinal.");
}
rt::ComError CancelledError() {
    return rt::ComError(err::OperationCancelled, kSource, "Operation has been canceled by the user.");
}

bool IsMissingArg(const rt::Variant& v) { return v.IsMissing() || v.IsEmpty(); }

// A value for a field: a missing argument is no value and changes nothing.
rt::Variant FieldValueFor(const rt::Variant& value, DataTypeEnum type) {
    if (value.IsMissing())
        throw rt::ComError(err::ErrorsOccurred, "Microsoft Cursor Engine",
                           "Multiple-step operation generated errors. Check each status value.");
    return CoerceToFieldType(value, type);
}

// A whole number from a numeric variant (bookmarks, enum values).
bool WholeNumber(const rt::Variant& v, double& out) {
    switch (v.BaseType()) {
        case rt::vbInteger: out = v.I2(); return !v.IsArray();
        case rt::vbLong: out = v.I4(); return !v.IsArray();
        case rt::vbByte: out = v.Byte(); return !v.IsArray();
        case rt::vbSingle:
        case rt::vbDouble: out = v.R8(); break;
        case rt::vbDecimal: out = v.Dec().ToDouble(); break;
        case rt::vbCurrency: out = v.Cy().ToDouble(); break;
        default: return false;
    }
    if (v.IsArray()) return false;
    return std::isfinite(out) && std::floor(out) == out;
}

// Sort ranks: Null and Empty first, then numbers and dates, texts, the rest.
int Rank(const rt::Variant& v) {
    if (v.IsNull() || v.IsEmpty()) return 0;
    if (v.IsNumericType() || v.Type() == rt::vbDate) return 1;
    if (v.IsString()) return 2;
    return 3;
}
double NumberOf(const rt::Variant& v) {
    switch (v.Type()) {
        case rt::vbInteger: return v.I2();
        case rt::vbLong: return v.I4();
        case rt::vbByte: return v.Byte();
        case rt::vbBoolean: return v.Bool() ? -1.0 : 0.0;
        case rt::vbSingle:
        case rt::vbDouble: return v.R8();
        case rt::vbDate: return v.DateValue();
        case rt::vbCurrency: return v.Cy().ToDouble();
        case rt::vbDecimal: return v.Dec().ToDouble();
        default: return 0.0;
    }
}
int FoldedCompare(const std::string& a, const std::string& b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'A' && ca <= 'Z') ca = static_cast<unsigned char>(ca + 32);
        if (cb >= 'A' && cb <= 'Z') cb = static_cast<unsigned char>(cb + 32);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::vector<rt::Variant> ArgumentList(const rt::Variant& v) {
    std::vector<rt::Variant> out;
    if (v.IsArray()) {
        const rt::SafeArray* a = v.Array();
        if (!a || a->Dims() != 1) BadArgument();
        for (const auto& e : a->Data()) out.push_back(e);
    } else {
        out.push_back(v);
    }
    return out;
}

using latebound::Arg;
int32_t IntArg(const rt::Args& args, size_t i, int32_t fallback) {
    const rt::Variant& v = Arg(args, i);
    if (v.IsMissing()) return fallback;
    return rt::CLng(v);
}

}  // namespace

// ------------------------------------------------------------------ creation

RecordsetPtr Recordset::Create() { return std::make_shared<Recordset>(); }

Recordset::Recordset() = default;
Recordset::~Recordset() = default;

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
    store_ = std::move(store);
    open_ = true;
    ++schemaVersion_;
    affected_.clear();
    filterKind_ = FilterKind::None;
    filter_ = rt::Variant(int32_t{0});
    filterGroup_ = adFilterNone;
    criteria_.reset();
    sortKeys_ = std::move(keys);
    editMode_ = adEditNone;
    editRow_ = -1;
    // Built when first looked at: a clone that is filtered straight away
    // (the usual use) never lists every row of the store.
    viewPending_ = true;
    pendingRow_ = -1;
}

void Recordset::CheckOpen() const {
    if (!open_) Raise(err::ObjectClosed, "Operation is not allowed when the object is closed.");
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
        } else {
            store_->AssignRow(editRow_, editBackup_.data());
            if (editRowWasUnmodified_) store_->DropOriginal(editRow_);
        }
        editMode_ = adEditNone;
        editRow_ = -1;
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
    auto self = Self();
    if (!self) Raise(err::IllegalOperation, "A recordset must be held by a shared pointer.");
    auto f = std::make_shared<Fields>(self);
    fields_ = f;
    return f;
}

rt::Variant Recordset::GetValue(const rt::Variant& index) { return get_Fields()->get_Item(index)->get_Value(); }

void Recordset::SetValue(const rt::Variant& index, const rt::Variant& value) {
    get_Fields()->get_Item(index)->put_Value(value);
}

rt::Variant Recordset::FieldValue(int32_t index) { return FieldValueRef(index); }

rt::Variant Recordset::FieldOriginalValue(int32_t index) { return FieldOriginalValueRef(index); }

const rt::Variant& Recordset::FieldValueRef(int32_t index) {
    CheckOpen();
    DescAt(index);
    Sync();
    int32_t row = RequireCurrentRow();
    if (!Visible(row) || store_->meta[static_cast<size_t>(row)].status == adRecDeleted) DeletedRow();
    return store_->Row(row)[index];
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
    return store_->Row(row);
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

// ------------------------------------------------------------------ view

bool Recordset::Visible(int32_t row) const {
    const auto& m = store_->meta[static_cast<size_t>(row)];
    if (m.removed) return false;
    if (filterKind_ == FilterKind::Group) {
        if (filterGroup_ == adFilterPendingRecords) return store_->IsPending(row);
        if (filterGroup_ == adFilterAffectedRecords) return true;
    }
    return m.status != adRecDeleted;
}

bool Recordset::PassesFilter(int32_t row) const {
    switch (filterKind_) {
        case FilterKind::None: return true;
        case FilterKind::Criteria: return criteria_->Matches(store_->Row(row));
        case FilterKind::Group:
            return filterGroup_ == adFilterPendingRecords || filterGroup_ == adFilterFetchedRecords;
        case FilterKind::Bookmarks: return false;
    }
    return false;
}

void Recordset::Sync() {
    if (viewPending_ && store_) {
        RebuildView();
        const int32_t row = pendingRow_;
        pendingRow_ = -1;
        const int32_t index = row >= 0 ? IndexOfRow(row) : -1;
        if (index >= 0)
            pos_ = index;
        else
            PositionFirst();
        return;
    }
    if (!store_ || seenVersion_ == store_->version) return;
    int32_t n = store_->RowCount();
    for (int32_t row = knownRows_; row < n; ++row) {
        if (store_->meta[static_cast<size_t>(row)].removed || !PassesFilter(row)) continue;
        base_.push_back(row);
        view_.push_back(row);
        if (indexValid_) {
            indexOf_.resize(static_cast<size_t>(n), -1);
            indexOf_[static_cast<size_t>(row)] = static_cast<int32_t>(view_.size()) - 1;
        }
    }
    knownRows_ = n;
    seenVersion_ = store_->version;
}

void Recordset::RebuildView() {
    viewPending_ = false;
    base_.clear();
    int32_t n = store_->RowCount();
    switch (filterKind_) {
        case FilterKind::None:
            base_.reserve(static_cast<size_t>(n));
            for (int32_t r = 0; r < n; ++r)
                if (!store_->meta[static_cast<size_t>(r)].removed) base_.push_back(r);
            break;
        case FilterKind::Criteria: {
            std::vector<int32_t> candidates;
            if (criteria_->CandidateRows(*store_, candidates)) {
                for (int32_t r : candidates)
                    if (Visible(r) && criteria_->Matches(store_->Row(r))) base_.push_back(r);
            } else {
                for (int32_t r = 0; r < n; ++r)
                    if (Visible(r) && criteria_->Matches(store_->Row(r))) base_.push_back(r);
            }
            break;
        }
        case FilterKind::Group:
            if (filterGroup_ == adFilterAffectedRecords) {
                for (int32_t r : affected_)
                    if (r < n && !store_->meta[static_cast<size_t>(r)].removed) base_.push_back(r);
            } else if (filterGroup_ != adFilterConflictingRecords) {
                for (int32_t r = 0; r < n; ++r)
                    if (!store_->meta[static_cast<size_t>(r)].removed) base_.push_back(r);
            }
            break;
        case FilterKind::Bookmarks: {
            // Checked when set; a row that vanished since is left out.
            const rt::SafeArray* a = filter_.Array();
            if (a)
                for (const auto& bm : a->Data()) {
                    double number = 0;
                    if (!WholeNumber(bm, number) || number < 1 || number > n) continue;
                    auto row = static_cast<int32_t>(number) - 1;
                    if (!store_->meta[static_cast<size_t>(row)].removed) base_.push_back(row);
                }
            break;
        }
    }
    knownRows_ = n;
    seenVersion_ = store_->version;
    ApplySort();
}

void Recordset::ApplySort() {
    view_ = base_;
    if (!sortKeys_.empty()) {
        // Keys are read once per row; the comparisons then touch no Variant.
        // Texts compare without letter case first and exactly second, so
        // that equal values always end up next to each other.
        struct Key {
            int rank;
            double number;
            const std::string* text;
        };
        size_t width = sortKeys_.size();
        std::vector<Key> keys(view_.size() * width);
        for (size_t i = 0; i < view_.size(); ++i) {
            const rt::Variant* row = store_->Row(view_[i]);
            for (size_t k = 0; k < width; ++k) {
                const rt::Variant& v = row[sortKeys_[k].field];
                Key& key = keys[i * width + k];
                key.rank = Rank(v);
                key.number = key.rank == 1 ? NumberOf(v) : 0.0;
                key.text = key.rank == 2 ? &v.Str() : nullptr;
            }
        }
        std::vector<uint32_t> order(view_.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<uint32_t>(i);
        std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
            for (size_t k = 0; k < width; ++k) {
                const Key& x = keys[a * width + k];
                const Key& y = keys[b * width + k];
                int c = 0;
                if (x.rank != y.rank) {
                    c = x.rank < y.rank ? -1 : 1;
                } else if (x.rank == 1) {
                    c = x.number < y.number ? -1 : (x.number > y.number ? 1 : 0);
                } else if (x.rank == 2) {
                    c = FoldedCompare(*x.text, *y.text);
                    if (c == 0) c = x.text->compare(*y.text) < 0 ? -1 : (*x.text == *y.text ? 0 : 1);
                }
                if (c != 0) return sortKeys_[k].descending ? c > 0 : c < 0;
            }
            return false;
        });
        std::vector<int32_t> sorted(view_.size());
        for (size_t i = 0; i < order.size(); ++i) sorted[i] = view_[order[i]];
        view_ = std::move(sorted);
    }
    indexValid_ = false;
    countVersion_ = ~uint64_t{0};
}

int32_t Recordset::VisibleCount() {
    if (countVersion_ == store_->version && countSize_ == view_.size()) return visibleCount_;
    int32_t count = 0;
    for (int32_t row : view_)
        if (Visible(row)) ++count;
    visibleCount_ = count;
    countVersion_ = store_->version;
    countSize_ = view_.size();
    return count;
}

bool Recordset::HasCurrent() const { return pos_ >= 0 && static_cast<size_t>(pos_) < view_.size(); }

int32_t Recordset::CurrentRow() const { return HasCurrent() ? view_[static_cast<size_t>(pos_)] : -1; }

int32_t Recordset::RequireCurrentRow() {
    if (!HasCurrent()) NoCurrent();
    return view_[static_cast<size_t>(pos_)];
}

int32_t Recordset::NextVisible(int32_t from) const {
    int32_t size = static_cast<int32_t>(view_.size());
    for (int32_t i = std::max(from + 1, 0); i < size; ++i)
        if (Visible(view_[static_cast<size_t>(i)])) return i;
    return size;
}

int32_t Recordset::PrevVisible(int32_t from) const {
    int32_t size = static_cast<int32_t>(view_.size());
    for (int32_t i = std::min(from - 1, size - 1); i >= 0; --i)
        if (Visible(view_[static_cast<size_t>(i)])) return i;
    return -1;
}

int32_t Recordset::IndexOfRow(int32_t row) {
    if (!indexValid_) {
        indexOf_.assign(static_cast<size_t>(store_->RowCount()), -1);
        for (size_t i = view_.size(); i-- > 0;) indexOf_[static_cast<size_t>(view_[i])] = static_cast<int32_t>(i);
        indexValid_ = true;
    }
    if (row < 0 || static_cast<size_t>(row) >= indexOf_.size()) return -1;
    return indexOf_[static_cast<size_t>(row)];
}

int32_t Recordset::RowOfBookmark(const rt::Variant& bookmark) const {
    double n = 0;
    if (!WholeNumber(bookmark, n)) BadBookmark();
    if (n < 1 || n > store_->RowCount()) BadBookmark();
    int32_t row = static_cast<int32_t>(n) - 1;
    if (store_->meta[static_cast<size_t>(row)].removed) BadBookmark();
    return row;
}

// A bookmark, or adBookmarkFirst / Last / Current; the current position when
// left out.
int32_t Recordset::IndexOfStart(const rt::Variant& start) {
    if (IsMissingArg(start)) return pos_;
    if (start.BaseType() == rt::vbDouble || start.BaseType() == rt::vbSingle) {
        int32_t index = IndexOfRow(RowOfBookmark(start));
        if (index < 0) BadBookmark();
        return index;
    }
    double number = 0;
    if (!WholeNumber(start, number)) BadArgument();
    auto which = static_cast<int32_t>(number);
    if (which == adBookmarkFirst) return NextVisible(-1);
    if (which == adBookmarkLast) return PrevVisible(static_cast<int32_t>(view_.size()));
    if (which != adBookmarkCurrent) BadArgument();
    return pos_;
}

void Recordset::PositionFirst() {
    pos_ = NextVisible(-1);
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

// Every sink still advised and still wanting this event, in the order they
// were advised; a sink that declines it (adStatusUnwantedEvent) is not asked
// again, and where the event is cancellable a cancel ends the round. An event
// every sink has declined returns at once.
template <class F>
EventStatusEnum Recordset::FireEvent(EventKind kind, int reason, bool cancellable, F&& call) {
    if (sinks_.empty()) return adStatusOK;
    size_t bit = static_cast<size_t>(kind) * 16 + static_cast<size_t>(reason);
    if (std::all_of(sinks_.begin(), sinks_.end(), [&](const Sink& s) { return s.unwanted.test(bit); }))
        return adStatusOK;
    auto self = Self();
    // The sinks advised when the event began: a handler may advise or
    // unadvise others. Cookies only, kept on the stack for the usual few.
    constexpr size_t kFew = 8;
    int32_t few[kFew];
    std::vector<int32_t> many;
    const size_t count = sinks_.size();
    int32_t* cookies = few;
    if (count > kFew) {
        many.resize(count);
        cookies = many.data();
    }
    for (size_t k = 0; k < count; ++k) cookies[k] = sinks_[k].cookie;
    EventStatusEnum result = adStatusOK;
    for (size_t k = 0; k < count; ++k) {
        const int32_t cookie = cookies[k];
        auto live = std::find_if(sinks_.begin(), sinks_.end(), [&](const Sink& s) { return s.cookie == cookie; });
        if (live == sinks_.end() || live->unwanted.test(bit)) continue;
        auto sink = live->sink.lock();
        if (!sink) continue;
        EventStatusEnum status = adStatusOK;
        // A failing handler does not fail the operation, as with a COM event.
        try {
            call(*sink, status, self);
        } catch (const std::exception&) {
        }
        if (status == adStatusUnwantedEvent) {
            auto again = std::find_if(sinks_.begin(), sinks_.end(), [&](const Sink& s) { return s.cookie == cookie; });
            if (again != sinks_.end()) again->unwanted.set(bit);
        } else if (cancellable && status == adStatusCancel) {
            result = adStatusCancel;
            break;
        }
    }
    std::erase_if(sinks_, [](const Sink& s) { return s.sink.expired(); });
    return result;
}

template <class F>
EventStatusEnum Recordset::FireWill(EventKind kind, int reason, F&& call) {
    return FireEvent(kind, reason, true, std::forward<F>(call));
}

template <class F>
void Recordset::FireComplete(EventKind kind, int reason, F&& call) {
    FireEvent(kind, reason, false, std::forward<F>(call));
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

// ------------------------------------------------------------------ navigation

void Recordset::FinishEdit() {
    if (editMode_ != adEditNone) Update();
}

template <class Op>
void Recordset::DoMove(EventReasonEnum reason, Op&& op) {
    auto keep = Self();
    FinishEdit();
    if (WillMoveCancelled(reason)) {
        FireCancelled(evMoveComplete, reason);
        throw CancelledError();
    }
    if (!open_) return;
    if (!viewPending_) Sync();  // else the operation builds it (a filter on a fresh clone)
    op();
    MoveCompleted(reason);
}

void Recordset::MoveTo(int32_t newPos, EventReasonEnum reason) {
    DoMove(reason, [&] { pos_ = newPos; });
}

bool Recordset::get_BOF() {
    CheckOpen();
    Sync();
    if (pos_ < 0) return true;
    return static_cast<size_t>(pos_) >= view_.size() && VisibleCount() == 0;
}

bool Recordset::get_EOF() {
    CheckOpen();
    Sync();
    if (pos_ >= static_cast<int32_t>(view_.size())) return true;
    return pos_ < 0 && VisibleCount() == 0;
}

void Recordset::MoveFirst() {
    CheckOpen();
    Sync();
    // Both BOF and EOF: no rows. A deleted last row that is still current
    // leaves both False, and moving off it is allowed.
    if (!HasCurrent() && VisibleCount() == 0) NoCurrent();
    DoMove(adRsnMoveFirst, [&] { pos_ = NextVisible(-1); });
}

void Recordset::MoveLast() {
    CheckOpen();
    Sync();
    // Both BOF and EOF: no rows. A deleted last row that is still current
    // leaves both False, and moving off it is allowed.
    if (!HasCurrent() && VisibleCount() == 0) NoCurrent();
    DoMove(adRsnMoveLast, [&] {
        int32_t last = PrevVisible(static_cast<int32_t>(view_.size()));
        pos_ = last < 0 ? static_cast<int32_t>(view_.size()) : last;
    });
}

void Recordset::MoveNext() {
    CheckOpen();
    Sync();
    if (pos_ >= static_cast<int32_t>(view_.size())) NoCurrent();
    if (pos_ < 0 && VisibleCount() == 0) NoCurrent();
    DoMove(adRsnMoveNext, [&] {
        int32_t next = NextVisible(pos_);
        if (static_cast<size_t>(next) >= view_.size()) {
            FireComplete(evEndOfRecordset, 0, [&](RecordsetEvents& s, EventStatusEnum& st, const RecordsetPtr& rs) {
                bool more = false;
                s.EndOfRecordset(more, st, rs);
            });
            Sync();
            next = NextVisible(pos_);
        }
        pos_ = next;
    });
}

void Recordset::MovePrevious() {
    CheckOpen();
    Sync();
    if (pos_ < 0) NoCurrent();
    if (VisibleCount() == 0 && !HasCurrent()) NoCurrent();
    DoMove(adRsnMovePrevious, [&] { pos_ = PrevVisible(pos_); });
}

void Recordset::Move(int32_t NumRecords, const rt::Variant& Start) {
    CheckOpen();
    Sync();
    int32_t size = static_cast<int32_t>(view_.size());
    int32_t base = IndexOfStart(Start);
    if (NumRecords > 0 && base >= size) NoCurrent();
    if (NumRecords < 0 && base < 0) NoCurrent();
    if (NumRecords == 0 && (base < 0 || base >= size)) NoCurrent();
    DoMove(adRsnMove, [&] {
        int32_t p = base;
        if (NumRecords > 0) {
            for (int32_t i = 0; i < NumRecords && p < static_cast<int32_t>(view_.size()); ++i) p = NextVisible(p);
        } else {
            for (int32_t i = 0; i > NumRecords && p >= 0; --i) p = PrevVisible(p);
        }
        pos_ = p;
    });
}

int32_t Recordset::get_RecordCount() {
    CheckOpen();
    Sync();
    return VisibleCount();
}

int32_t Recordset::get_AbsolutePosition() {
    CheckOpen();
    Sync();
    if (pos_ < 0) return adPosBOF;
    if (static_cast<size_t>(pos_) >= view_.size()) return adPosEOF;
    if (!Visible(view_[static_cast<size_t>(pos_)])) return adPosUnknown;
    int32_t n = 0;
    for (int32_t i = 0; i <= pos_; ++i)
        if (Visible(view_[static_cast<size_t>(i)])) ++n;
    return n;
}

void Recordset::put_AbsolutePosition(int32_t position) {
    CheckOpen();
    Sync();
    if (position < 1 || position > VisibleCount()) BadArgument();
    int32_t p = -1;
    for (int32_t i = 0; i < position; ++i) p = NextVisible(p);
    MoveTo(p, adRsnMove);
}

rt::Variant Recordset::get_Bookmark() {
    CheckOpen();
    Sync();
    int32_t row = RequireCurrentRow();
    return rt::Variant(static_cast<double>(row) + 1.0);
}

void Recordset::put_Bookmark(const rt::Variant& bookmark) {
    CheckOpen();
    if (bookmark.IsEmpty()) BadArgument();  // no value at all, rather than a value that names no row
    // A fresh unfiltered clone keeps the row until its rows are listed: a
    // clone moved to a bookmark and then filtered (the usual use) never
    // lists every row of the store.
    if (viewPending_ && store_ && filterKind_ == FilterKind::None) {
        const int32_t row = RowOfBookmark(bookmark);
        if (!Visible(row)) BadBookmark();
        DoMove(adRsnMove, [&] {
            if (!viewPending_) {
                const int32_t index = IndexOfRow(row);
                if (index < 0 || !Visible(row)) BadBookmark();
                pos_ = index;
            } else {
                pendingRow_ = row;
            }
        });
        return;
    }
    Sync();
    int32_t row = RowOfBookmark(bookmark);
    int32_t index = IndexOfRow(row);
    if (index < 0 || !Visible(row)) BadBookmark();
    DoMove(adRsnMove, [&] {
        int32_t again = IndexOfRow(row);
        if (again < 0) BadBookmark();
        pos_ = again;
    });
}

void Recordset::Find(const std::string& Criteria, int32_t SkipRows, SearchDirectionEnum SearchDirection,
                     const rt::Variant& Start) {
    CheckOpen();
    Sync();
    if (SearchDirection != adSearchForward && SearchDirection != adSearchBackward) BadArgument();
    if (SkipRows < 0) BadArgument();
    FilterCriteria criteria = FilterCriteria::ParseFind(Criteria);
    criteria.Bind([&](const std::string& name) { return store_->FieldIndex(name); });
    int32_t start = IndexOfStart(Start);
    bool forward = SearchDirection == adSearchForward;
    std::vector<int32_t> candidates;
    DoMove(adRsnMove, [&] {
        int32_t n = static_cast<int32_t>(view_.size());
        int32_t p = start;
        // From BOF forward (or EOF backward) the search starts at the first
        // (last) row; otherwise at the starting row itself.
        if (forward && p < 0) p = NextVisible(-1);
        if (!forward && p >= n) p = PrevVisible(n);
        if (p >= 0 && p < n && !Visible(view_[static_cast<size_t>(p)])) p = forward ? NextVisible(p) : PrevVisible(p);
        for (int32_t i = 0; i < SkipRows && p >= 0 && p < n; ++i) p = forward ? NextVisible(p) : PrevVisible(p);
        // A bookmark array may show a row twice: only a scan sees both.
        if (p >= 0 && p < n && filterKind_ != FilterKind::Bookmarks && criteria.CandidateRows(*store_, candidates)) {
            // The nearest candidate in view order from p on that matches.
            int32_t best = forward ? n : -1;
            for (int32_t row : candidates) {
                int32_t index = IndexOfRow(row);
                if (index < 0 || (forward ? (index < p || index >= best) : (index > p || index <= best))) continue;
                if (Visible(row) && criteria.Matches(store_->Row(row))) best = index;
            }
            p = best;
        }
        while (p >= 0 && p < n && !criteria.Matches(store_->Row(view_[static_cast<size_t>(p)])))
            p = forward ? NextVisible(p) : PrevVisible(p);
        if (p < 0 || p >= n) p = forward ? n : -1;
        pos_ = p;
    });
}

// ------------------------------------------------------------------ filter and sort

rt::Variant Recordset::get_Filter() const { return filter_; }

namespace {

// A FilterGroupEnum number, as Integer, Long or any whole number.
FilterGroupEnum FilterGroupOf(const rt::Variant& filter) {
    double number = 0;
    if (!WholeNumber(filter, number) || std::fabs(number) > 1000) BadArgument();
    auto value = static_cast<int32_t>(number);
    if (value != adFilterNone && value != adFilterPendingRecords && value != adFilterAffectedRecords &&
        value != adFilterFetchedRecords && value != adFilterConflictingRecords)
        BadArgument();
    return static_cast<FilterGroupEnum>(value);
}

}  // namespace

Recordset::FilterSetting Recordset::InterpretFilter(const rt::Variant& filter, const RowStore& store) const {
    FilterSetting setting;
    if (filter.IsString()) {
        if (!rt::TrimBlanks(filter.Str()).empty()) {
            setting.criteria = std::make_shared<FilterCriteria>(FilterCriteria::Parse(filter.Str()));
            setting.criteria->Bind([&](const std::string& name) { return store.FieldIndex(name); });
            setting.kind = FilterKind::Criteria;
        }
    } else if (filter.IsArray()) {
        const rt::SafeArray* a = filter.Array();
        if (!a || a->Dims() != 1) BadArgument();
        for (const auto& bm : a->Data()) RowOfBookmark(bm);
        setting.kind = FilterKind::Bookmarks;
    } else {
        setting.group = FilterGroupOf(filter);
        setting.kind = setting.group == adFilterNone ? FilterKind::None : FilterKind::Group;
    }
    return setting;
}

void Recordset::ApplyFilter(FilterSetting setting, const rt::Variant& filter) {
    pendingRow_ = -1;
    filterKind_ = setting.kind;
    filterGroup_ = setting.group;
    criteria_ = std::move(setting.criteria);
    filter_ = filter;
    RebuildView();
    PositionFirst();
}

void Recordset::put_Filter(const rt::Variant& filter) {
    if (!open_) {
        // Kept until the recordset opens, which checks it against the fields;
        // bookmarks need rows.
        if (filter.IsArray()) CheckOpen();
        if (!filter.IsString()) FilterGroupOf(filter);
        filter_ = filter;
        return;
    }
    if (!viewPending_) Sync();
    FilterSetting setting = InterpretFilter(filter, *store_);
    DoMove(adRsnMove, [&] { ApplyFilter(std::move(setting), filter); });
}

std::string Recordset::get_Sort() const { return sort_; }

std::vector<Recordset::SortKey> Recordset::ParseSortKeys(const std::string& sort, const RowStore& store) {
    std::vector<SortKey> keys;
    size_t start = 0;
    while (start <= sort.size()) {
        size_t comma = sort.find(',', start);
        std::string part = rt::TrimBlanks(sort.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        start = comma == std::string::npos ? sort.size() + 1 : comma + 1;
        if (part.empty()) {
            if (comma == std::string::npos && keys.empty()) break;
            BadArgument();
        }
        bool descending = false;
        std::string name = part;
        size_t blank = part.find_last_of(" \t");
        if (blank != std::string::npos) {
            std::string word = part.substr(blank + 1);
            if (rt::NamesEqual(word, "DESC") || rt::NamesEqual(word, "ASC")) {
                descending = rt::NamesEqual(word, "DESC");
                name = rt::TrimBlanks(part.substr(0, blank));
            }
        }
        if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
        int32_t field = store.FieldIndex(name);
        if (field < 0) NotFound();
        keys.push_back(SortKey{field, descending});
    }
    return keys;
}

void Recordset::put_Sort(const std::string& sort) {
    if (!open_) {
        // Kept until the recordset opens, which checks it against the fields.
        sort_ = sort;
        return;
    }
    Sync();
    std::vector<SortKey> keys = ParseSortKeys(sort, *store_);
    DoMove(adRsnMove, [&] {
        bool atBof = pos_ < 0;
        bool atEof = pos_ >= static_cast<int32_t>(view_.size());
        sort_ = sort;
        sortKeys_ = std::move(keys);
        ApplySort();
        // A cursor off either end stays there; on a row it goes to the first.
        if (atBof) pos_ = -1;
        else if (atEof) pos_ = static_cast<int32_t>(view_.size());
        else PositionFirst();
    });
}

// ------------------------------------------------------------------ editing

void Recordset::SaveOriginal(int32_t row) {
    auto& m = store_->meta[static_cast<size_t>(row)];
    if (m.original >= 0) return;
    const rt::Variant* values = store_->Row(row);
    if (!store_->freeOriginals.empty()) {
        m.original = store_->freeOriginals.back();
        store_->freeOriginals.pop_back();
        store_->originals[static_cast<size_t>(m.original)].assign(values, values + store_->width);
    } else {
        store_->originals.emplace_back(values, values + store_->width);
        m.original = static_cast<int32_t>(store_->originals.size()) - 1;
    }
}

void Recordset::BeginEdit(int32_t row, EditModeEnum mode) {
    editMode_ = mode;
    editRow_ = row;
    const rt::Variant* values = store_->Row(row);
    editBackup_.assign(values, values + store_->width);
    const auto& m = store_->meta[static_cast<size_t>(row)];
    editRowWasUnmodified_ = m.status == adRecUnmodified && m.original < 0;
    if (m.status != adRecNew) SaveOriginal(row);
}

void Recordset::AcceptRow(int32_t row) {
    auto& m = store_->meta[static_cast<size_t>(row)];
    if (m.status == adRecDeleted) {
        m.removed = true;
    } else {
        m.status = adRecUnmodified;
    }
    store_->DropOriginal(row);
    ++store_->version;
}

void Recordset::RejectRow(int32_t row) {
    auto& m = store_->meta[static_cast<size_t>(row)];
    if (m.status == adRecNew) {
        m.removed = true;
    } else {
        if (m.original >= 0) {
            const auto& original = store_->originals[static_cast<size_t>(m.original)];
            store_->AssignRow(row, original.data());
        }
        m.status = adRecUnmodified;
    }
    store_->DropOriginal(row);
    ++store_->version;
}

void Recordset::SetFieldValues(const std::vector<int32_t>& indices, const std::vector<rt::Variant>& values) {
    CheckUpdatable();
    if (indices.size() != values.size() || indices.empty()) BadArgument();
    auto keep = Self();
    Sync();
    int32_t row = RequireCurrentRow();
    if (!Visible(row) || store_->meta[static_cast<size_t>(row)].status == adRecDeleted) DeletedRow();
    std::vector<rt::Variant> coerced;
    coerced.reserve(values.size());
    for (size_t i = 0; i < indices.size(); ++i)
        coerced.push_back(FieldValueFor(values[i], DescAt(indices[i]).type));
    if (editMode_ != adEditNone && editRow_ != row) Update();

    FieldList fields;
    if (HasSinks()) {
        auto all = get_Fields();
        for (int32_t index : indices) fields.push_back(all->Item(index));
    }
    auto count = static_cast<int32_t>(indices.size());
    if (FireWill(evField, 0, [&](RecordsetEvents& s, EventStatusEnum& st, const RecordsetPtr& rs) {
            s.WillChangeField(count, fields, st, rs);
        }) == adStatusCancel) {
        rt::ComError error = CancelledError();
        FireComplete(evFieldComplete, 0, [&](RecordsetEvents& s, EventStatusEnum& st, const RecordsetPtr& rs) {
            st = adStatusErrorsOccurred;
            s.FieldChangeComplete(count, fields, &error, st, rs);
        });
        throw error;
    }
    bool first = editMode_ == adEditNone || editRow_ != row;
    if (first) {
        if (editMode_ != adEditNone) Update();
        if (WillChangeRecordCancelled(adRsnFirstChange)) {
            rt::ComError error = CancelledError();
            FireComplete(evFieldComplete, 0, [&](RecordsetEvents& s, EventStatusEnum& st, const RecordsetPtr& rs) {
                st = adStatusErrorsOccurred;
                s.FieldChangeComplete(count, fields, &error, st, rs);
            });
            FireCancelled(evRecordComplete, adRsnFirstChange);
            throw error;
        }
    }
    if (!open_) Raise(err::ObjectClosed, "Operation is not allowed when the object is closed.");
    // A handler may have deleted the row meanwhile.
    const auto& m = store_->meta[static_cast<size_t>(row)];
    if (m.removed || m.status == adRecDeleted) DeletedRow();
    if (editMode_ == adEditNone || editRow_ != row) BeginEdit(row, adEditInProgress);
    for (size_t i = 0; i < indices.size(); ++i)
        store_->Assign(row, static_cast<size_t>(indices[i]), std::move(coerced[i]));
    FireComplete(evFieldComplete, 0, [&](RecordsetEvents& s, EventStatusEnum& st, const RecordsetPtr& rs) {
        s.FieldChangeComplete(count, fields, nullptr, st, rs);
    });
    if (first)
        RecordChangeCompleted(adRsnFirstChange);
}

// A field of AddNew's or Update's list, by name or ordinal.
int32_t Recordset::NamedFieldIndex(const rt::Variant& name) const {
    double n = 0;
    if (name.IsString()) {
        int32_t index = store_->FieldIndex(name.Str());
        if (index >= 0) return index;
    } else if (WholeNumber(name, n) && n >= 0 && n < static_cast<double>(store_->width)) {
        return static_cast<int32_t>(n);
    }
    NotFound();
}

void Recordset::AddNew(const rt::Variant& FieldList, const rt::Variant& Values) {
    CheckUpdatable();
    auto keep = Self();
    Sync();
    std::vector<int32_t> indices;
    std::vector<rt::Variant> values;
    if (!IsMissingArg(FieldList)) {
        auto names = ArgumentList(FieldList);
        values = ArgumentList(Values);
        if (IsMissingArg(Values) || names.size() != values.size()) BadArgument();
        for (size_t i = 0; i < names.size(); ++i) {
            int32_t index = NamedFieldIndex(names[i]);
            indices.push_back(index);
            values[i] = FieldValueFor(values[i], store_->fields[static_cast<size_t>(index)].type);
        }
    }
    FinishEdit();
    if (WillMoveCancelled(adRsnMove)) {
        FireCancelled(evMoveComplete, adRsnMove);
        throw CancelledError();
    }
    if (WillChangeRecordCancelled(adRsnAddNew)) {
        FireCancelled(evRecordComplete, adRsnAddNew);
        FireCancelled(evMoveComplete, adRsnMove);
        throw CancelledError();
    }
    if (!open_) Raise(err::ObjectClosed, "Operation is not allowed when the object is closed.");
    Sync();
    FinishEdit();
    rowBeforeAdd_ = HasCurrent() ? CurrentRow() : -1;
    int32_t row = store_->AddRow();
    base_.push_back(row);
    view_.push_back(row);
    if (indexValid_) {
        indexOf_.resize(static_cast<size_t>(store_->RowCount()), -1);
        indexOf_[static_cast<size_t>(row)] = static_cast<int32_t>(view_.size()) - 1;
    }
    knownRows_ = store_->RowCount();
    seenVersion_ = store_->version;
    pos_ = static_cast<int32_t>(view_.size()) - 1;
    BeginEdit(row, adEditAdd);
    RecordChangeCompleted(adRsnAddNew);
    MoveCompleted(adRsnMove);
    if (!indices.empty()) {
        SetFieldValues(indices, values);
        Update();
    }
}

void Recordset::AppendRow(const rt::Variant* values, const std::vector<int32_t>& from) {
    CheckUpdatable();
    if (HasSinks()) Raise(err::IllegalOperation, "Operation is not allowed in this context.");
    if (from.size() != store_->width) BadArgument();
    // Coerced before the row exists, so a value that does not fit adds nothing.
    std::vector<rt::Variant> coerced;
    coerced.reserve(from.size());
    for (size_t i = 0; i < from.size(); ++i) {
        rt::Variant v = FieldValueFor(values[from[i]], store_->fields[i].type);
        coerced.push_back(v.IsEmpty() ? rt::Variant::Null() : std::move(v));
    }
    auto keep = Self();
    FinishEdit();
    Sync();
    int32_t row = store_->AddRow();
    for (size_t i = 0; i < coerced.size(); ++i) store_->Assign(row, i, std::move(coerced[i]));
    base_.push_back(row);
    view_.push_back(row);
    if (indexValid_) {
        indexOf_.resize(static_cast<size_t>(store_->RowCount()), -1);
        indexOf_[static_cast<size_t>(row)] = static_cast<int32_t>(view_.size()) - 1;
    }
    if (!IsBatch()) AcceptRow(row);
    knownRows_ = store_->RowCount();
    seenVersion_ = store_->version;
    pos_ = static_cast<int32_t>(view_.size()) - 1;
}

void Recordset::Update(const rt::Variant& Fields, const rt::Variant& Values) {
    CheckOpen();
    auto keep = Self();
    Sync();
    if (!IsMissingArg(Fields)) {
        auto names = ArgumentList(Fields);
        auto values = ArgumentList(Values);
        if (IsMissingArg(Values) || names.size() != values.size()) BadArgument();
        std::vector<int32_t> indices;
        for (const auto& name : names) indices.push_back(NamedFieldIndex(name));
        SetFieldValues(indices, values);
    }
    if (editMode_ == adEditNone) {
        // Nothing to write, but as in ADO the call needs a record to stand on.
        if (!HasCurrent()) NoCurrent();
        return;
    }
    if (WillChangeRecordCancelled(adRsnUpdate)) {
        FireCancelled(evRecordComplete, adRsnUpdate);
        throw CancelledError();
    }
    if (!open_ || editMode_ == adEditNone) return;
    int32_t row = editRow_;
    auto& m = store_->meta[static_cast<size_t>(row)];
    if (!m.removed && editMode_ == adEditAdd) {
        // What the edit left unset joins the rows as Null.
        const rt::Variant* values = store_->Row(row);
        for (size_t i = 0; i < store_->width; ++i)
            if (values[i].IsEmpty()) store_->Assign(row, i, rt::Variant::Null());
    }
    if (!m.removed) {
        if (!IsBatch()) {
            AcceptRow(row);
        } else if (m.status == adRecUnmodified) {
            m.status = adRecModified;
            ++store_->version;
        }
    }
    editMode_ = adEditNone;
    editRow_ = -1;
    editBackup_.clear();
    RecordChangeCompleted(adRsnUpdate);
}

void Recordset::CancelUpdate() {
    CheckOpen();
    auto keep = Self();
    if (editMode_ == adEditNone) {
        CancelPendingChange();
        return;
    }
    EventReasonEnum reason = editMode_ == adEditAdd ? adRsnUndoAddNew : adRsnUndoUpdate;
    if (WillChangeRecordCancelled(reason)) {
        FireCancelled(evRecordComplete, reason);
        throw CancelledError();
    }
    if (!open_ || editMode_ == adEditNone) return;
    int32_t row = editRow_;
    auto& m = store_->meta[static_cast<size_t>(row)];
    if (editMode_ == adEditAdd) {
        m.removed = true;
        ++store_->version;
        Sync();
        int32_t back = rowBeforeAdd_ >= 0 ? IndexOfRow(rowBeforeAdd_) : -1;
        pos_ = back >= 0 ? back : static_cast<int32_t>(view_.size());
    } else {
        store_->AssignRow(row, editBackup_.data());
        if (editRowWasUnmodified_) store_->DropOriginal(row);
    }
    editMode_ = adEditNone;
    editRow_ = -1;
    editBackup_.clear();
    RecordChangeCompleted(reason);
}

// Under batch updating, Update only made the current row's change pending:
// CancelUpdate still takes it back (values and status; an added row goes).
void Recordset::CancelPendingChange() {
    Sync();
    int32_t row = RequireCurrentRow();
    auto pendingKind = [&]() -> int32_t {
        const auto& m = store_->meta[static_cast<size_t>(row)];
        if (!IsBatch() || m.removed || (m.status != adRecModified && m.status != adRecNew)) return adRecUnmodified;
        return m.status;
    };
    int32_t kind = pendingKind();
    if (kind == adRecUnmodified) return;
    EventReasonEnum reason = kind == adRecNew ? adRsnUndoAddNew : adRsnUndoUpdate;
    if (WillChangeRecordCancelled(reason)) {
        FireCancelled(evRecordComplete, reason);
        throw CancelledError();
    }
    // A handler may have written, cancelled or closed meanwhile.
    if (!open_ || editMode_ != adEditNone || pendingKind() != kind) return;
    RejectRow(row);
    if (kind == adRecNew) {
        Sync();
        pos_ = NextVisible(pos_);
    }
    RecordChangeCompleted(reason);
}

void Recordset::Delete(AffectEnum AffectRecords) {
    CheckUpdatable();
    auto keep = Self();
    Sync();
    std::vector<int32_t> rows;
    if (AffectRecords == adAffectCurrent) {
        int32_t row = RequireCurrentRow();
        if (!Visible(row) || store_->meta[static_cast<size_t>(row)].status == adRecDeleted) DeletedRow();
        rows.push_back(row);
    } else if (AffectRecords == adAffectGroup) {
        for (int32_t row : view_)
            if (Visible(row) && store_->meta[static_cast<size_t>(row)].status != adRecDeleted) rows.push_back(row);
        if (rows.empty()) return;
    } else {
        BadArgument();
    }
    FinishEdit();
    auto count = static_cast<int32_t>(rows.size());
    if (WillChangeRecordCancelled(adRsnDelete, count)) {
        rt::ComError error = CancelledError();
        FireComplete(evRecordComplete, adRsnDelete, [&](RecordsetEvents& s, EventStatusEnum& st, const RecordsetPtr& rs) {
            st = adStatusErrorsOccurred;
            s.RecordChangeComplete(adRsnDelete, count, &error, st, rs);
        });
        throw error;
    }
    if (!open_) Raise(err::ObjectClosed, "Operation is not allowed when the object is closed.");
    std::vector<int32_t> affected;
    for (int32_t row : rows) {
        auto& m = store_->meta[static_cast<size_t>(row)];
        if (m.removed || m.status == adRecDeleted) continue;  // a handler got there first
        if (editMode_ != adEditNone && editRow_ == row) {
            editMode_ = adEditNone;
            editRow_ = -1;
        }
        if (m.status == adRecNew) {
            // Added and deleted before reaching the database: nothing to send.
            m.removed = true;
        } else if (IsBatch()) {
            SaveOriginal(row);
            m.status = adRecDeleted;
        } else {
            m.removed = true;
            store_->DropOriginal(row);
        }
        affected.push_back(row);
    }
    affected_ = affected;
    ++store_->version;
    RecordChangeCompleted(adRsnDelete, count);
}

std::vector<int32_t> Recordset::PendingRowIds(AffectEnum affect) {
    std::vector<int32_t> rows;
    if (affect == adAffectCurrent) {
        int32_t row = RequireCurrentRow();
        if (store_->IsPending(row)) rows.push_back(row);
    } else if (affect == adAffectGroup) {
        for (int32_t row : view_)
            if (Visible(row) && store_->IsPending(row)) rows.push_back(row);
    } else if (affect == adAffectAll || affect == adAffectAllChapters) {
        for (int32_t row = 0; row < store_->RowCount(); ++row)
            if (store_->IsPending(row)) rows.push_back(row);
    } else {
        BadArgument();
    }
    return rows;
}

PendingRow Recordset::MakePendingRow(int32_t row) const {
    PendingRow p;
    const auto& m = store_->meta[static_cast<size_t>(row)];
    p.bookmark = rt::Variant(static_cast<double>(row) + 1.0);
    p.status = static_cast<RecordStatusEnum>(m.status);
    const rt::Variant* values = store_->Row(row);
    if (m.original >= 0) {
        p.original = store_->originals[static_cast<size_t>(m.original)];
    } else if (m.status == adRecNew) {
        p.original.assign(store_->width, rt::Variant::Null());
    } else {
        p.original.assign(values, values + store_->width);
    }
    if (m.status == adRecDeleted) p.current = p.original;
    else p.current.assign(values, values + store_->width);
    return p;
}

void Recordset::UpdateBatch(AffectEnum AffectRecords) {
    CheckUpdatable();
    auto keep = Self();
    Sync();
    FinishEdit();
    auto rows = PendingRowIds(AffectRecords);
    if (rows.empty()) return;
    if (auto writer = rt::TryQueryInterface<PendingRowWriter>(connection_)) {
        std::vector<PendingRow> pending;
        pending.reserve(rows.size());
        for (int32_t row : rows) pending.push_back(MakePendingRow(row));
        writer->WritePendingRows(*this, pending);
    }
    for (int32_t row : rows) AcceptRow(row);
    affected_ = rows;
}

void Recordset::CancelBatch(AffectEnum AffectRecords) {
    CheckUpdatable();
    // Immediate updating keeps nothing pending: only the current record's
    // edit can be cancelled.
    if (!IsBatch() && AffectRecords != adAffectCurrent)
        Raise(err::NotSupported, "Object or provider is not capable of performing requested operation.");
    auto keep = Self();
    Sync();
    if (editMode_ != adEditNone) CancelUpdate();
    auto rows = PendingRowIds(AffectRecords);
    for (int32_t row : rows) RejectRow(row);
    affected_ = rows;
}

std::vector<PendingRow> Recordset::PendingRows() {
    CheckOpen();
    auto keep = Self();
    Sync();
    FinishEdit();
    std::vector<PendingRow> out;
    for (int32_t row = 0; row < store_->RowCount(); ++row)
        if (store_->IsPending(row)) out.push_back(MakePendingRow(row));
    return out;
}

void Recordset::MarkWritten(const std::vector<rt::Variant>& bookmarks) {
    CheckOpen();
    std::vector<int32_t> rows;
    for (const auto& bm : bookmarks) rows.push_back(RowOfBookmark(bm));
    for (int32_t row : rows)
        if (store_->IsPending(row)) AcceptRow(row);
    affected_ = rows;
}

void Recordset::MarkAllWritten() {
    CheckOpen();
    std::vector<int32_t> rows;
    for (int32_t row = 0; row < store_->RowCount(); ++row)
        if (store_->IsPending(row)) {
            AcceptRow(row);
            rows.push_back(row);
        }
    affected_ = rows;
}

int32_t Recordset::get_Status() {
    CheckOpen();
    Sync();
    int32_t row = RequireCurrentRow();
    const auto& m = store_->meta[static_cast<size_t>(row)];
    if (m.removed) return adRecDeleted;
    return m.status;
}

EditModeEnum Recordset::get_EditMode() {
    CheckOpen();
    Sync();
    int32_t row = RequireCurrentRow();
    if (editMode_ != adEditNone && editRow_ == row) return editMode_;
    const auto& m = store_->meta[static_cast<size_t>(row)];
    if (m.removed || m.status == adRecDeleted) return adEditDelete;
    // Under batch updating a row keeps showing its pending change.
    if (IsBatch()) {
        if (m.status == adRecNew) return adEditAdd;
        if (m.status == adRecModified) return adEditInProgress;
    }
    return adEditNone;
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
    indexValid_ = false;
    countVersion_ = ~uint64_t{0};
    PositionFirst();
    return true;
}


uint64_t Recordset::RowsVersion() const { return store_ ? store_->version : 0; }

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
