#include "ado/CriteriaIndex.h"

#include <limits>

#include "ado/FilterCriteria.h"
#include "ado/RowStore.h"

namespace ado {

namespace {

constexpr int32_t kFirstRow = std::numeric_limits<int32_t>::min();
constexpr int32_t kLastRow = std::numeric_limits<int32_t>::max();

// The entries of an ordered set whose key stands in the probe's relation to
// the literal.
template <class Set, class Key>
void CollectRange(const Set& set, CriteriaProbe::Op op, const Key& literal, std::vector<int32_t>& rows) {
    auto low = set.begin(), high = set.end();
    switch (op) {
        case CriteriaProbe::Op::Eq:
            low = set.lower_bound({literal, kFirstRow});
            high = set.upper_bound({literal, kLastRow});
            break;
        case CriteriaProbe::Op::Lt: high = set.lower_bound({literal, kFirstRow}); break;
        case CriteriaProbe::Op::Le: high = set.upper_bound({literal, kLastRow}); break;
        case CriteriaProbe::Op::Gt: low = set.upper_bound({literal, kLastRow}); break;
        case CriteriaProbe::Op::Ge: low = set.lower_bound({literal, kFirstRow}); break;
    }
    for (auto it = low; it != high; ++it) rows.push_back(it->second);
}

}  // namespace

FieldIndex::Ordered* FieldIndex::OrderedFor(CriteriaKey::Class kind) {
    switch (kind) {
        case CriteriaKey::Number: return &numbers_;
        case CriteriaKey::Date: return &dates_;
        case CriteriaKey::Bool: return &bools_;
        default: return nullptr;
    }
}

void FieldIndex::Insert(int32_t row, const rt::Variant& value) {
    CriteriaKey key = FilterCriteria::KeyOf(value);
    if (key.kind == CriteriaKey::Missing) missing_.insert(row);
    else if (key.kind == CriteriaKey::Text) texts_.emplace(std::move(key.text), row);
    else if (auto* ordered = OrderedFor(key.kind)) ordered->emplace(key.number, row);
}

void FieldIndex::Erase(int32_t row, const rt::Variant& value) {
    CriteriaKey key = FilterCriteria::KeyOf(value);
    if (key.kind == CriteriaKey::Missing) missing_.erase(row);
    else if (key.kind == CriteriaKey::Text) texts_.erase({std::move(key.text), row});
    else if (auto* ordered = OrderedFor(key.kind)) ordered->erase({key.number, row});
}

void FieldIndex::Collect(const CriteriaProbe& probe, std::vector<int32_t>& rows) const {
    if (probe.null) {
        rows.insert(rows.end(), missing_.begin(), missing_.end());
        return;
    }
    if (probe.text) CollectRange(texts_, probe.op, *probe.text, rows);
    if (probe.hasNumber) CollectRange(numbers_, probe.op, probe.number, rows);
    if (probe.hasDate) CollectRange(dates_, probe.op, probe.date, rows);
    if (probe.hasBool) CollectRange(bools_, probe.op, probe.boolNumber, rows);
}

const FieldIndex* CriteriaIndex::For(int32_t field, const RowStore& store) {
    if (field < 0 || static_cast<size_t>(field) >= store.width) return nullptr;
    auto key = static_cast<size_t>(field);
    if (auto* index = Find(key)) return index;
    if (store.RowCount() < kMinRows) return nullptr;
    auto index = std::make_unique<FieldIndex>();
    for (int32_t row = 0; row < store.RowCount(); ++row) index->Insert(row, store.Row(row)[key]);
    return fields_.emplace(key, std::move(index)).first->second.get();
}

}  // namespace ado
