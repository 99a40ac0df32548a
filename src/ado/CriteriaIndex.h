#pragma once
// The indexes a row store keeps on its fields for Filter and Find criteria,
// as ADO's client cursor keeps one on a field whose "Optimize" property is set.
// Owned by the RowStore, so a recordset and its clones share them.
//
// An index on a field is built on the first equality or range criterion on
// that field once the store has enough rows for it to pay, and is kept up to
// date from then on: RowStore routes every write of a value (add, change,
// cancel, batch) through Insert and Erase. It never misses a row holding a
// value; a value taken out may linger until swept. Rows stay in the index
// whatever their status, because rows are never erased from the store;
// callers check visibility themselves.
//
// An index only narrows the rows to look at: FilterCriteria::CandidateRows
// gathers the rows whose value can satisfy a clause, and the caller still
// tests each one with Matches, so answers are those of a full scan.
#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "runtime/Variant.h"

namespace ado {

struct RowStore;

// How a value orders under criteria: texts by their case-folded code points,
// numbers, dates (on a linear scale) and Booleans each on their own scale.
// Null and Empty are Missing; objects, arrays, errors and NaN never satisfy an
// equality or range and belong to no class.
struct CriteriaKey {
    enum Class : uint8_t { None, Missing, Text, Number, Date, Bool };
    Class kind = None;
    double number = 0;
    std::u32string text;
};

// An equality or range clause, with its literal converted once to every
// class it can meet (a class it cannot meet matches nothing).
struct CriteriaProbe {
    enum class Op : uint8_t { Eq, Lt, Le, Gt, Ge };
    Op op = Op::Eq;
    bool null = false;  // "= Null": the Missing rows
    const std::u32string* text = nullptr;
    bool hasNumber = false, hasDate = false, hasBool = false;
    double number = 0, date = 0, boolNumber = 0;
};

// The entries of one class of values, (key, row) pairs in sorted runs: a
// field's index of thousands of rows is searched in one array rather than
// through a tree's nodes spread over the heap. Rows added after the first fill
// wait in a short unsorted run that lookups scan; an entry taken out stays
// until enough have gone to sweep them all at once. An entry left behind only
// makes a row a candidate that Matches then turns down.
template <class Key>
class SortedEntries {
public:
    using Entry = std::pair<Key, int32_t>;
    // The first fill, sorted by Seal.
    void Fill(Key key, int32_t row) { sorted_.emplace_back(std::move(key), row); }
    void Seal() { std::sort(sorted_.begin(), sorted_.end()); }
    void Insert(Key key, int32_t row);
    void Erase(Key key, int32_t row);
    // Appends every row whose key stands in the probe's relation to the
    // literal (and perhaps some taken out since).
    void Collect(CriteriaProbe::Op op, const Key& literal, std::vector<int32_t>& rows) const;
    // Every row, for "= Null".
    void CollectAll(std::vector<int32_t>& rows) const;

private:
    static constexpr size_t kUnsorted = 64;
    void MergeAdded();
    std::vector<Entry> sorted_, added_, erased_;
};

class FieldIndex {
public:
    // The first fill from every row of the store; Seal when done.
    void Fill(int32_t row, const rt::Variant& value);
    void Seal();
    void Insert(int32_t row, const rt::Variant& value);
    void Erase(int32_t row, const rt::Variant& value);
    // Appends the rows whose value may satisfy the probe, unordered.
    void Collect(const CriteriaProbe& probe, std::vector<int32_t>& rows) const;

private:
    using Ordered = SortedEntries<double>;
    SortedEntries<char> missing_;
    Ordered numbers_, dates_, bools_;
    SortedEntries<std::u32string> texts_;
    Ordered* OrderedFor(CriteriaKey::Class kind);
    template <class Apply>
    void Route(const rt::Variant& value, int32_t row, Apply&& apply);
};

class CriteriaIndex {
public:
    // Below this many rows a scan is as quick as an index lookup.
    static constexpr int32_t kMinRows = 128;

    // The index of a field, built now when there is none and the store is
    // large enough; nullptr otherwise.
    const FieldIndex* For(int32_t field, const RowStore& store);

    // A value of an indexed field is about to change (Erase) or has changed
    // (Insert); fields without an index cost a lookup.
    void Erase(int32_t row, size_t field, const rt::Variant& value) {
        if (auto* index = Find(field)) index->Erase(row, value);
    }
    void Insert(int32_t row, size_t field, const rt::Variant& value) {
        if (auto* index = Find(field)) index->Insert(row, value);
    }
    bool Empty() const { return fields_.empty(); }
    void Clear() { fields_.clear(); }

private:
    FieldIndex* Find(size_t field) {
        auto it = fields_.find(field);
        return it == fields_.end() ? nullptr : it->second.get();
    }
    std::map<size_t, std::unique_ptr<FieldIndex>> fields_;
};

}  // namespace ado
