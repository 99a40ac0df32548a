// The view a filter and a sort make of the rows, and Find over it.

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
    if (!store_ || (seenVersion_ == store_->version && seenAddingChanges_ == store_->addingChanges)) return;
    const int32_t firstNew = knownRows_;
    const size_t tail = base_.size();
    if (seenVersion_ != store_->version) {
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
    if (seenAddingChanges_ != store_->addingChanges) JudgeAdds(firstNew, tail);
}

// A view judges a row once, when it first sees it; a row being added gets its
// values after that, so a criteria view takes it in once they match (and lets
// it go when they stop, unless it stands on it). Only the few rows of adds in
// progress, or just ended, are looked at: the rows of appends never are.
void Recordset::JudgeAdds(int32_t firstNew, size_t tail) {
    seenAddingChanges_ = store_->addingChanges;
    if (filterKind_ != FilterKind::Criteria) {
        judgedAdds_.clear();
        return;
    }
    // This recordset's own added row stays in its view, as it always has.
    auto own = [&](int32_t row) { return editMode_ == adEditAdd && row == editRow_; };
    std::vector<JudgedAdd> still;
    auto judge = [&](int32_t row, bool shown) {
        if (Visible(row)) {
            const bool passes = criteria_->Matches(store_->Row(row));
            if (passes && !shown) {
                base_.push_back(row);
                view_.push_back(row);
                if (indexValid_) {
                    indexOf_.resize(static_cast<size_t>(store_->RowCount()), -1);
                    indexOf_[static_cast<size_t>(row)] = static_cast<int32_t>(view_.size()) - 1;
                }
                countVersion_ = ~uint64_t{0};
                shown = true;
            } else if (!passes && shown) {
                const int32_t index = IndexOfRow(row);
                if (index != pos_) {
                    if (index >= 0) view_.erase(view_.begin() + index);
                    std::erase(base_, row);
                    if (index >= 0 && index < pos_) --pos_;
                    indexValid_ = false;
                    countVersion_ = ~uint64_t{0};
                    shown = false;
                }
            }
        }
        if (store_->BeingAdded(row)) still.push_back({row, shown});
    };
    // Whether the view shows the rows it has not judged yet is read before
    // any judging lets a row go: base_ then shrinks, and tail no longer
    // marks where this Sync's rows begin.
    std::vector<JudgedAdd> unjudged;
    for (int32_t row : store_->adding) {
        if (own(row) ||
            std::any_of(judgedAdds_.begin(), judgedAdds_.end(), [&](const JudgedAdd& j) { return j.row == row; }))
            continue;
        unjudged.push_back({row, Shows(row, row >= firstNew ? tail : 0)});
    }
    for (const JudgedAdd& judged : judgedAdds_)
        if (!own(judged.row)) judge(judged.row, judged.shown);
    for (const JudgedAdd& judged : unjudged) judge(judged.row, judged.shown);
    judgedAdds_ = std::move(still);
}

bool Recordset::Shows(int32_t row, size_t from) const {
    if (from >= base_.size()) return false;
    // Rows being added lie near the end.
    const auto end = base_.rend() - static_cast<std::ptrdiff_t>(from);
    return std::find(base_.rbegin(), end, row) != end;
}

void Recordset::NoteAdds(bool byCriteria) {
    seenAddingChanges_ = store_->addingChanges;
    judgedAdds_.clear();
    if (filterKind_ != FilterKind::Criteria) return;
    for (int32_t row : store_->adding) {
        if (editMode_ == adEditAdd && row == editRow_) continue;
        // Built by the criteria, the view shows a row as they judge it now.
        const bool shown = byCriteria ? Visible(row) && criteria_->Matches(store_->Row(row)) : Shows(row, 0);
        judgedAdds_.push_back({row, shown});
    }
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
    NoteAdds(true);
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
    // A narrow view (one feature's rows of a set's recordset) is searched
    // directly: an index as long as the whole store, made afresh after each
    // new filter, costs more than the search.
    constexpr size_t kSearchedDirectly = 16;
    if (!indexValid_ && view_.size() <= kSearchedDirectly) {
        for (size_t i = 0; i < view_.size(); ++i)
            if (view_[i] == row) return static_cast<int32_t>(i);
        return -1;
    }
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
            setting.criteria->Bind([&](const std::string& name) {
                const int32_t field = store.FieldIndex(name);
                // Rows that say what they are name themselves in the error.
                if (field < 0 && !store.rowsName.empty()) RaiseNoSuchField(store.rowsName, name, kSource);
                return field;
            });
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
        if (field < 0) RaiseNoSuchField(store.rowsName, name, kSource);
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

}  // namespace ado
