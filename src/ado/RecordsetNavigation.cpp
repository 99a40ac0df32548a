// Moving through the view, and bookmarks.

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

// ------------------------------------------------------------------ navigation

void Recordset::FinishEdit() {
    // A handler of the Update may open another edit on the row being left:
    // the move ends those too, else one would stay open on a row the cursor
    // has left. A handler that never stops is refused, its edit left open
    // where it stands.
    for (int ended = 0; editMode_ != adEditNone; ++ended) {
        if (ended > kEditsHandlersMayOpen) throw EndlessEditError();
        Update();
    }
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

}  // namespace ado
