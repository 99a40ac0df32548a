// Editing rows: AddNew, Update, Delete, their cancelling, and batches.

#include "ado/Recordset.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include "ado/FilterCriteria.h"
#include "ado/LateBinding.h"
#include "ado/RecordsetSupport.h"
#include "ado/RowStore.h"
#include "runtime/Vb.h"

namespace ado {

using namespace recordset_support;

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
    if (editMode_ == adEditNone)
        store_->editors.push_back({this, Self()});
    editMode_ = mode;
    editRow_ = row;
    editValues_.assign(store_->width, rt::Variant());
    editSet_.assign(store_->width, 0);
    if (mode == adEditAdd) store_->BeginAdding(row);
}

void Recordset::EndEdit() {
    if (editMode_ == adEditAdd && store_) store_->EndAdding(editRow_);
    if (editMode_ != adEditNone && store_) store_->ForgetEditor(this);
    editMode_ = adEditNone;
    editRow_ = -1;
    editValues_.clear();
    editSet_.clear();
    editRowView_.clear();
}

const rt::Variant& Recordset::ValueSeen(int32_t row, int32_t index) const {
    if (row == editRow_ && editSet_[static_cast<size_t>(index)]) return editValues_[static_cast<size_t>(index)];
    return store_->Row(row)[index];
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

    const uint32_t closings = closings_;
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
    CheckOpenSince(closings);
    // A handler may have deleted the row meanwhile.
    const auto& m = store_->meta[static_cast<size_t>(row)];
    if (m.removed || m.status == adRecDeleted) DeletedRow();
    if (editMode_ == adEditNone || editRow_ != row) BeginEdit(row, adEditInProgress);
    if (editMode_ == adEditAdd) {
        // An added row takes its values at once: the other members read, find,
        // filter and write it with what has been assigned so far.
        if (IsBatch() && m.status != adRecNew) SaveOriginal(row);  // written meanwhile by a batch
        for (size_t i = 0; i < indices.size(); ++i)
            store_->Assign(row, static_cast<size_t>(indices[i]), std::move(coerced[i]));
    } else {
        for (size_t i = 0; i < indices.size(); ++i) {
            const auto f = static_cast<size_t>(indices[i]);
            editValues_[f] = std::move(coerced[i]);
            editSet_[f] = 1;
        }
        // Caches that judge the rows by their assignments look again.
        ++store_->assignments;
    }
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
    const uint32_t closings = closings_;
    if (WillMoveCancelled(adRsnMove)) {
        FireCancelled(evMoveComplete, adRsnMove);
        throw CancelledError();
    }
    if (WillChangeRecordCancelled(adRsnAddNew)) {
        FireCancelled(evRecordComplete, adRsnAddNew);
        FireCancelled(evMoveComplete, adRsnMove);
        throw CancelledError();
    }
    CheckOpenSince(closings);
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
    AppendEach(std::span<const rt::Variant* const>(&values, 1), from);
}

void Recordset::AppendRows(const std::vector<const rt::Variant*>& rows, const std::vector<int32_t>& from) {
    AppendEach(rows, from);
}

void Recordset::AppendRowsOf(RecordsetPtr source, const std::vector<const rt::Variant*>& rows,
                             const std::vector<int32_t>& from) {
    // A field read twice would find its value gone the second time.
    std::vector<bool> read(from.size());
    bool once = source && source.use_count() == 1 && source->store_ && source->store_.use_count() == 1;
    for (int32_t f : from) {
        if (f < 0 || static_cast<size_t>(f) >= read.size() || read[static_cast<size_t>(f)]) once = false;
        if (!once) break;
        read[static_cast<size_t>(f)] = true;
    }
    if (once && AdoptRows(*source->store_, rows, from)) return;
    AppendEach(rows, from, once);
}

namespace {
// The values a field keeps as they are, the usual ones of rows read from a
// database; any other goes through FieldValueFor.
bool KeptAsIs(const rt::Variant& v, DataTypeEnum t) {
    switch (v.Type()) {
        case rt::vbNull: return true;
        case rt::vbDecimal: return t == adNumeric || t == adDecimal || t == adVarNumeric || t == adVariant;
        case rt::vbString:
            return t == adVarChar || t == adVarWChar || t == adChar || t == adWChar || t == adLongVarChar ||
                   t == adLongVarWChar || t == adBSTR || t == adVariant;
        case rt::vbDate:
            return t == adDBTimeStamp || t == adDate || t == adDBDate || t == adDBTime || t == adFileTime ||
                   t == adVariant;
        case rt::vbDouble: return t == adDouble || t == adVariant;
        default: return false;
    }
}
}  // namespace

bool Recordset::AdoptRows(RowStore& source, const std::vector<const rt::Variant*>& rows,
                          const std::vector<int32_t>& from) {
    CheckUpdatable();
    if (HasSinks()) Raise(err::IllegalOperation, "Operation is not allowed in this context.");
    if (from.size() != store_->width) BadArgument();
    const size_t width = from.size();
    if (rows.empty() || store_->RowCount() != 0 || !store_->criteriaIndex.Empty() || source.width != width ||
        static_cast<size_t>(source.RowCount()) != rows.size() || source.values.size() != rows.size() * width)
        return false;
    for (size_t i = 0; i < width; ++i)
        if (from[i] != static_cast<int32_t>(i)) return false;
    for (size_t r = 0; r < rows.size(); ++r)
        if (rows[r] != source.Row(static_cast<int32_t>(r))) return false;

    // Coerced in place, row by row: a value that does not fit keeps out its
    // row and every one after it, as when they are added one at a time.
    std::vector<rt::Variant> values = std::move(source.values);
    // The source keeps no rows whose values are gone.
    source.values.clear();
    source.meta.clear();
    ++source.version;
    size_t fitting = 0;
    std::exception_ptr unfit;
    for (; fitting < rows.size(); ++fitting) {
        rt::Variant* row = values.data() + fitting * width;
        try {
            for (size_t i = 0; i < width; ++i) {
                if (KeptAsIs(row[i], store_->fields[i].type)) continue;
                rt::Variant v = FieldValueFor(std::move(row[i]), store_->fields[i].type);
                row[i] = v.IsEmpty() ? rt::Variant::Null() : std::move(v);
            }
        } catch (...) {
            unfit = std::current_exception();
            break;
        }
    }
    if (fitting == 0) std::rethrow_exception(unfit);
    values.resize(fitting * width);
    auto keep = Self();
    FinishEdit();
    Sync();
    const auto count = static_cast<int32_t>(fitting);
    store_->values = std::move(values);
    store_->meta.assign(fitting, RowStore::Meta{adRecNew, -1, false});
    store_->version += fitting;
    store_->assignments += fitting * width;
    base_.reserve(base_.size() + fitting);
    view_.reserve(view_.size() + fitting);
    for (int32_t id = 0; id < count; ++id) ShowAdded(id);
    EndAppend(unfit);
    return true;
}

void Recordset::ShowAdded(int32_t id) {
    base_.push_back(id);
    view_.push_back(id);
    if (indexValid_) {
        indexOf_.resize(static_cast<size_t>(store_->RowCount()), -1);
        indexOf_[static_cast<size_t>(id)] = static_cast<int32_t>(view_.size()) - 1;
    }
    if (!IsBatch()) AcceptRow(id);
}

void Recordset::EndAppend(const std::exception_ptr& unfit) {
    knownRows_ = store_->RowCount();
    seenVersion_ = store_->version;
    pos_ = static_cast<int32_t>(view_.size()) - 1;
    if (unfit) std::rethrow_exception(unfit);
}

void Recordset::AppendEach(std::span<const rt::Variant* const> rows, const std::vector<int32_t>& from, bool take) {
    CheckUpdatable();
    if (HasSinks()) Raise(err::IllegalOperation, "Operation is not allowed in this context.");
    if (from.size() != store_->width) BadArgument();
    if (rows.empty()) return;
    // One row coerced at a time, each before it is added, so a value that
    // does not fit adds neither its row nor any after it.
    const size_t width = from.size();
    std::vector<rt::Variant> row(width);
    auto coerce = [&](const rt::Variant* values) {
        for (size_t i = 0; i < width; ++i) {
            // Taken rows are the caller's own, written by no one after.
            rt::Variant v = take ? FieldValueFor(std::move(const_cast<rt::Variant*>(values)[from[i]]), store_->fields[i].type)
                                 : FieldValueFor(values[from[i]], store_->fields[i].type);
            row[i] = v.IsEmpty() ? rt::Variant::Null() : std::move(v);
        }
    };
    coerce(rows[0]);
    auto keep = Self();
    FinishEdit();
    Sync();
    store_->Reserve(rows.size());
    // Grown geometrically: rows appended one at a time reserve on each call.
    auto room = [&](std::vector<int32_t>& v) {
        if (v.capacity() - v.size() < rows.size()) v.reserve(std::max(v.size() + rows.size(), 2 * v.capacity()));
    };
    room(base_);
    room(view_);
    std::exception_ptr unfit;
    for (size_t r = 0;;) {
        ShowAdded(store_->AddRow(row.data()));
        if (++r == rows.size()) break;
        try {
            coerce(rows[r]);
        } catch (...) {
            unfit = std::current_exception();
            break;
        }
    }
    EndAppend(unfit);
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
    // A row another member of the family deleted meanwhile takes no values.
    if (const auto& m = store_->meta[static_cast<size_t>(row)]; !m.removed && m.status != adRecDeleted) {
        const bool adding = editMode_ == adEditAdd;
        if (adding) {
            // Its assignments are in the rows already; what is still unset
            // joins them as Null.
            for (size_t i = 0; i < store_->width; ++i) {
                if (!store_->Row(row)[i].IsEmpty()) continue;
                if (IsBatch() && m.status != adRecNew) SaveOriginal(row);
                store_->Assign(row, i, rt::Variant::Null());
            }
        } else {
            if (IsBatch() && m.status != adRecNew) SaveOriginal(row);
            for (size_t i = 0; i < store_->width; ++i)
                if (editSet_[i]) store_->Assign(row, i, std::move(editValues_[i]));
        }
        auto& meta = store_->meta[static_cast<size_t>(row)];
        if (!IsBatch()) {
            AcceptRow(row);
        } else if (meta.status == adRecUnmodified && (!adding || meta.original >= 0)) {
            // An added row that another member's batch wrote meanwhile is
            // changed only by what was assigned after that.
            meta.status = adRecModified;
            ++store_->version;
        }
    }
    EndEdit();
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
    // The values read through this recordset (or the added row) go: caches
    // keyed on the values look again.
    ++store_->assignments;
    // An edit's assignments were this recordset's own, the rows hold nothing
    // of them; an added row goes for every member.
    if (editMode_ == adEditAdd) {
        store_->meta[static_cast<size_t>(editRow_)].removed = true;
        ++store_->version;
        EndEdit();
        Sync();
        int32_t back = rowBeforeAdd_ >= 0 ? IndexOfRow(rowBeforeAdd_) : -1;
        pos_ = back >= 0 ? back : static_cast<int32_t>(view_.size());
    } else {
        EndEdit();
    }
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
    const uint32_t closings = closings_;
    EventReasonEnum reason = kind == adRecNew ? adRsnUndoAddNew : adRsnUndoUpdate;
    if (WillChangeRecordCancelled(reason)) {
        FireCancelled(evRecordComplete, reason);
        throw CancelledError();
    }
    // A handler may have written, cancelled or closed meanwhile.
    if (!open_ || closings_ != closings || editMode_ != adEditNone || pendingKind() != kind) return;
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
    const uint32_t closings = closings_;
    auto count = static_cast<int32_t>(rows.size());
    if (WillChangeRecordCancelled(adRsnDelete, count)) {
        rt::ComError error = CancelledError();
        FireComplete(evRecordComplete, adRsnDelete, [&](RecordsetEvents& s, EventStatusEnum& st, const RecordsetPtr& rs) {
            st = adStatusErrorsOccurred;
            s.RecordChangeComplete(adRsnDelete, count, &error, st, rs);
        });
        throw error;
    }
    CheckOpenSince(closings);
    std::vector<int32_t> affected;
    for (int32_t row : rows) {
        auto& m = store_->meta[static_cast<size_t>(row)];
        if (m.removed || m.status == adRecDeleted) continue;  // a handler got there first
        if (editMode_ != adEditNone && editRow_ == row) EndEdit();
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

bool Recordset::HasPendingChanges() const {
    if (!open_ || !store_ || editMode_ != adEditNone) return true;
    for (int32_t row = 0; row < store_->RowCount(); ++row)
        if (store_->IsPending(row)) return true;
    return false;
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

std::vector<RecordsetPtr> Recordset::EditorsOfRows() {
    std::vector<RecordsetPtr> open;
    if (!store_) return open;
    std::erase_if(store_->editors, [&](const RowStore::Editor& e) {
        auto rs = e.rows.lock();
        if (!rs || rs->store_ != store_ || rs->editMode_ == adEditNone) return true;
        open.push_back(std::move(rs));
        return false;
    });
    return open;
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

}  // namespace ado
