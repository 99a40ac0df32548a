#pragma once
// What the files of Recordset share inside the ADO layer: the errors it
// raises, the argument helpers, and the member templates that fire events
// and move, which every concern instantiates.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "ado/LateBinding.h"
#include "ado/Recordset.h"
#include "runtime/Vb.h"

namespace ado {

namespace recordset_support {


inline constexpr const char* kSource = "ADODB.Recordset";

[[noreturn]] inline void Raise(int32_t number, const char* description) {
    throw rt::ComError(number, kSource, description);
}
[[noreturn]] inline void NoCurrent() {
    Raise(err::NoCurrentRecord,
          "Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a "
          "current record.");
}
[[noreturn]] inline void BadArgument() {
    Raise(err::InvalidArgument,
          "Arguments are of the wrong type, are out of acceptable range, or are in conflict with one another.");
}
[[noreturn]] inline void BadBookmark() { Raise(err::InvalidBookmark, "Bookmark is invalid."); }
[[noreturn]] inline void DeletedRow() {
    Raise(err::RowDeleted, "Row handle referred to a deleted row or a row marked for deletion.");
}
[[noreturn]] inline void NotFound() {
    Raise(err::ItemNotFound, "Item cannot be found in the collection corresponding to the requested name or ordinal.");
}
inline rt::ComError CancelledError() {
    return rt::ComError(err::OperationCancelled, kSource, "Operation has been canceled by the user.");
}

inline bool IsMissingArg(const rt::Variant& v) { return v.IsMissing() || v.IsEmpty(); }

// A value for a field: a missing argument is no value and changes nothing.
inline rt::Variant FieldValueFor(rt::Variant value, DataTypeEnum type) {
    if (value.IsMissing())
        throw rt::ComError(err::ErrorsOccurred, "Microsoft Cursor Engine",
                           "Multiple-step operation generated errors. Check each status value.");
    return CoerceToFieldType(std::move(value), type);
}

// A whole number from a numeric variant (bookmarks, enum values).
inline bool WholeNumber(const rt::Variant& v, double& out) {
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
inline int Rank(const rt::Variant& v) {
    if (v.IsNull() || v.IsEmpty()) return 0;
    if (v.IsNumericType() || v.Type() == rt::vbDate) return 1;
    if (v.IsString()) return 2;
    return 3;
}
inline double NumberOf(const rt::Variant& v) {
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
inline int FoldedCompare(const std::string& a, const std::string& b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'A' && ca <= 'Z') ca = static_cast<unsigned char>(ca + 32);
        if (cb >= 'A' && cb <= 'Z') cb = static_cast<unsigned char>(cb + 32);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

inline std::vector<rt::Variant> ArgumentList(const rt::Variant& v) {
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
inline int32_t IntArg(const rt::Args& args, size_t i, int32_t fallback) {
    const rt::Variant& v = Arg(args, i);
    if (v.IsMissing()) return fallback;
    return rt::CLng(v);
}


}  // namespace recordset_support

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

template <class Op>
void Recordset::DoMove(EventReasonEnum reason, Op&& op) {
    // Only a sink's code can let go of the last reference during the move.
    RecordsetPtr keep;
    if (HasSinks()) keep = Self();
    FinishEdit();
    if (WillMoveCancelled(reason)) {
        FireCancelled(evMoveComplete, reason);
        throw recordset_support::CancelledError();
    }
    if (!open_) return;
    // A WillMove handler may edit the row being left.
    FinishEdit();
    if (!viewPending_) Sync();  // else the operation builds it (a filter on a fresh clone)
    op();
    MoveCompleted(reason);
}

}  // namespace ado
