#pragma once
// The indexes a row store keeps on its fields for Filter and Find criteria,
// as ADO's client cursor keeps one on a field whose "Optimize" property is set.
// Owned by the RowStore, so a recordset and its clones share them.
//
// An index on a field is built on the first equality or range criterion on
// that field once the store has enough rows for it to pay, and is kept exact
// from then on: RowStore routes every write of a value (add, change, cancel,
// batch) through Insert and Erase. Rows stay in the index whatever their
// status, because rows are never erased from the store; callers check
// visibility themselves.
//
// An index only narrows the rows to look at: FilterCriteria::CandidateRows
// gathers the rows whose value can satisfy a clause, and the caller still
// tests each one with Matches, so answers are those of a full scan.
#include <cstdint>
#include <map>
#include <memory>
#include <set>
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

class FieldIndex {
public:
    void Insert(int32_t row, const rt::Variant& value);
    void Erase(int32_t row, const rt::Variant& value);
    // Appends the rows whose value may satisfy the probe, unordered.
    void Collect(const CriteriaProbe& probe, std::vector<int32_t>& rows) const;

private:
    using Ordered = std::set<std::pair<double, int32_t>>;
    std::set<int32_t> missing_;
    Ordered numbers_, dates_, bools_;
    std::set<std::pair<std::u32string, int32_t>> texts_;
    Ordered* OrderedFor(CriteriaKey::Class kind);
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
