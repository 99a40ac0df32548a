#pragma once
// The rows shared by a recordset and its clones. Rows are never moved or
// erased while the family lives, so a row's id (its bookmark) stays valid;
// deleted rows are marked, rows that vanish entirely are flagged removed.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "ado/Enums.h"
#include "ado/FieldDesc.h"
#include "runtime/Variant.h"

namespace ado {

struct RowStore {
    struct Meta {
        int32_t status = adRecUnmodified;
        int32_t original = -1;  // index into originals, -1: the current values are the original ones
        bool removed = false;
    };

    std::vector<FieldDesc> fields;
    std::unordered_map<std::string, int32_t> index;  // lower-case name -> field
    size_t width = 0;
    std::vector<rt::Variant> values;  // row-major, width values per row
    std::vector<Meta> meta;
    std::vector<std::vector<rt::Variant>> originals;
    std::vector<int32_t> freeOriginals;  // slots of originals no row uses any more
    // Bumped whenever a row appears, vanishes or changes status.
    uint64_t version = 1;
    // Bumped whenever a stored value is written or a row appears: what the
    // number indexes below are checked against.
    uint64_t valuesVersion = 1;
    // What the fields of an added row hold until set (Update turns what is
    // still unset into Null): Empty in a fabricated recordset, Null in rows
    // that come from or go to a database.
    rt::Variant newRowValue = rt::Variant::Null();

    struct NumberIndex {
        uint64_t valuesVersion = 0;
        bool usable = false;
        std::unordered_map<double, std::vector<int32_t>> rows;
    };
    std::unordered_map<int32_t, NumberIndex> numberIndexes;

    void SetFields(std::vector<FieldDesc> descs);
    int32_t RowCount() const { return static_cast<int32_t>(meta.size()); }
    rt::Variant* Row(int32_t row) { return values.data() + static_cast<size_t>(row) * width; }
    const rt::Variant* Row(int32_t row) const { return values.data() + static_cast<size_t>(row) * width; }
    int32_t AddRow();  // all values newRowValue, status adRecNew
    int32_t FieldIndex(const std::string& name) const;
    // The row's current values become its original ones again.
    void DropOriginal(int32_t row) {
        Meta& m = meta[static_cast<size_t>(row)];
        if (m.original < 0) return;
        originals[static_cast<size_t>(m.original)].clear();
        freeOriginals.push_back(m.original);
        m.original = -1;
    }
    // The rows (ascending, removed ones included) whose field holds the
    // number, through an index of the field built on first use and again
    // after any value was written. nullptr when the field holds anything but
    // plain numbers and Nulls, so that the caller tests every row.
    const std::vector<int32_t>* RowsHoldingNumber(int32_t field, double number);
    bool IsPending(int32_t row) const {
        const Meta& m = meta[static_cast<size_t>(row)];
        return !m.removed && (m.status == adRecNew || m.status == adRecModified || m.status == adRecDeleted);
    }
};

}  // namespace ado
