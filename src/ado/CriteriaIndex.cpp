#include "ado/CriteriaIndex.h"

#include <algorithm>
#include <iterator>
#include <limits>

#include "ado/FilterCriteria.h"
#include "ado/RowStore.h"

namespace ado {

namespace {

constexpr int32_t kFirstRow = std::numeric_limits<int32_t>::min();
constexpr int32_t kLastRow = std::numeric_limits<int32_t>::max();

bool Satisfies(CriteriaProbe::Op op, int order) {
    switch (op) {
        case CriteriaProbe::Op::Eq: return order == 0;
        case CriteriaProbe::Op::Lt: return order < 0;
        case CriteriaProbe::Op::Le: return order <= 0;
        case CriteriaProbe::Op::Gt: return order > 0;
        case CriteriaProbe::Op::Ge: return order >= 0;
    }
    return false;
}

template <class Key>
int Order(const Key& a, const Key& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace

template <class Key>
void SortedEntries<Key>::MergeAdded() {
    std::sort(added_.begin(), added_.end());
    const auto middle = static_cast<std::ptrdiff_t>(sorted_.size());
    sorted_.insert(sorted_.end(), std::make_move_iterator(added_.begin()), std::make_move_iterator(added_.end()));
    std::inplace_merge(sorted_.begin(), sorted_.begin() + middle, sorted_.end());
    added_.clear();
}

template <class Key>
void SortedEntries<Key>::Insert(Key key, int32_t row) {
    added_.emplace_back(std::move(key), row);
    if (added_.size() > kUnsorted) MergeAdded();
}

template <class Key>
void SortedEntries<Key>::Erase(Key key, int32_t row) {
    erased_.emplace_back(std::move(key), row);
    if (erased_.size() <= kUnsorted || erased_.size() <= sorted_.size() / 2) return;
    // Each entry taken out goes once, also one added again since.
    MergeAdded();
    std::sort(erased_.begin(), erased_.end());
    std::vector<Entry> kept;
    kept.reserve(sorted_.size());
    std::set_difference(std::make_move_iterator(sorted_.begin()), std::make_move_iterator(sorted_.end()),
                        erased_.begin(), erased_.end(), std::back_inserter(kept));
    sorted_ = std::move(kept);
    erased_.clear();
}

template <class Key>
void SortedEntries<Key>::Collect(CriteriaProbe::Op op, const Key& literal, std::vector<int32_t>& rows) const {
    auto low = sorted_.begin(), high = sorted_.end();
    auto first = [&] { return std::lower_bound(sorted_.begin(), sorted_.end(), Entry{literal, kFirstRow}); };
    auto past = [&] { return std::upper_bound(sorted_.begin(), sorted_.end(), Entry{literal, kLastRow}); };
    switch (op) {
        case CriteriaProbe::Op::Eq:
            low = first();
            high = past();
            break;
        case CriteriaProbe::Op::Lt: high = first(); break;
        case CriteriaProbe::Op::Le: high = past(); break;
        case CriteriaProbe::Op::Gt: low = past(); break;
        case CriteriaProbe::Op::Ge: low = first(); break;
    }
    for (auto it = low; it != high; ++it) rows.push_back(it->second);
    for (const Entry& e : added_)
        if (Satisfies(op, Order(e.first, literal))) rows.push_back(e.second);
}

template <class Key>
void SortedEntries<Key>::CollectAll(std::vector<int32_t>& rows) const {
    for (const Entry& e : sorted_) rows.push_back(e.second);
    for (const Entry& e : added_) rows.push_back(e.second);
}

template class SortedEntries<char>;
template class SortedEntries<double>;
template class SortedEntries<std::u32string>;

FieldIndex::Ordered* FieldIndex::OrderedFor(CriteriaKey::Class kind) {
    switch (kind) {
        case CriteriaKey::Number: return &numbers_;
        case CriteriaKey::Date: return &dates_;
        case CriteriaKey::Bool: return &bools_;
        default: return nullptr;
    }
}

template <class Apply>
void FieldIndex::Route(const rt::Variant& value, int32_t row, Apply&& apply) {
    CriteriaKey key = FilterCriteria::KeyOf(value);
    if (key.kind == CriteriaKey::Missing) apply(missing_, char{0}, row);
    else if (key.kind == CriteriaKey::Text) apply(texts_, std::move(key.text), row);
    else if (auto* ordered = OrderedFor(key.kind)) apply(*ordered, key.number, row);
}

void FieldIndex::Fill(int32_t row, const rt::Variant& value) {
    Route(value, row, [](auto& entries, auto key, int32_t r) { entries.Fill(std::move(key), r); });
}

void FieldIndex::Seal() {
    missing_.Seal();
    numbers_.Seal();
    dates_.Seal();
    bools_.Seal();
    texts_.Seal();
}

void FieldIndex::Insert(int32_t row, const rt::Variant& value) {
    Route(value, row, [](auto& entries, auto key, int32_t r) { entries.Insert(std::move(key), r); });
}

void FieldIndex::Erase(int32_t row, const rt::Variant& value) {
    Route(value, row, [](auto& entries, auto key, int32_t r) { entries.Erase(std::move(key), r); });
}

void FieldIndex::Collect(const CriteriaProbe& probe, std::vector<int32_t>& rows) const {
    if (probe.null) {
        missing_.CollectAll(rows);
        return;
    }
    if (probe.text) texts_.Collect(probe.op, *probe.text, rows);
    if (probe.hasNumber) numbers_.Collect(probe.op, probe.number, rows);
    if (probe.hasDate) dates_.Collect(probe.op, probe.date, rows);
    if (probe.hasBool) bools_.Collect(probe.op, probe.boolNumber, rows);
}

const FieldIndex* CriteriaIndex::For(int32_t field, const RowStore& store) {
    if (field < 0 || static_cast<size_t>(field) >= store.width) return nullptr;
    auto key = static_cast<size_t>(field);
    if (auto* index = Find(key)) return index;
    if (store.RowCount() < kMinRows) return nullptr;
    auto index = std::make_unique<FieldIndex>();
    for (int32_t row = 0; row < store.RowCount(); ++row) index->Fill(row, store.Row(row)[key]);
    index->Seal();
    return fields_.emplace(key, std::move(index)).first->second.get();
}

}  // namespace ado
