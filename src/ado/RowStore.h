#pragma once
// The rows shared by a recordset and its clones. Rows are never moved or
// erased while the family lives, so a row's id (its bookmark) stays valid;
// deleted rows are marked, rows that vanish entirely are flagged removed.
// Values are written only through AddRow, Assign and AssignRow, which keep
// the criteria indexes exact.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "ado/CriteriaIndex.h"
#include "ado/Enums.h"
#include "ado/FieldDesc.h"
#include "runtime/Variant.h"

namespace ado {

class Recordset;

// Raises error 3265 (source `source`) for a field name that rows (named by
// RowStore::rowsName, or "") lack.
[[noreturn]] void RaiseNoSuchField(const std::string& rowsName, const std::string& name, const char* source);

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
    // Bumped whenever a value is assigned (a row that stays modified keeps
    // its version).
    uint64_t assignments = 0;
    // What the fields of an added row hold until set (Update turns what is
    // still unset into Null): Empty in a fabricated recordset, Null in rows
    // that come from or go to a database.
    rt::Variant newRowValue = rt::Variant::Null();
    // Indexes on fields used in criteria, shared by the whole clone family.
    CriteriaIndex criteriaIndex;
    // What the rows are, for the error of a field asked for by a name they
    // lack ("metadata table QTX_FEATURES_OPTABLE"); "": not said.
    std::string rowsName;
    // Whose edit a row holds, for an edit that could not be ended; unset: by
    // its bookmark.
    std::function<std::string(const std::vector<FieldDesc>&, const rt::Variant*)> nameEdit;
    // Rows an AddNew of some member is still filling in, in the rows
    // themselves. Criteria views of the family judge these again (they are
    // few) whenever addingChanges moves: on any assignment while one is
    // open, and when one begins or ends.
    std::vector<int32_t> adding;
    uint64_t addingChanges = 0;
    // The members with an edit or an add of their own open, noted when it
    // begins; an entry may be stale (gone, ended, moved to other rows).
    struct Editor {
        const Recordset* member;
        std::weak_ptr<Recordset> rows;
    };
    std::vector<Editor> editors;
    void ForgetEditor(const Recordset* member) {
        for (auto it = editors.rbegin(); it != editors.rend(); ++it)
            if (it->member == member) {
                editors.erase(std::next(it).base());
                return;
            }
    }

    void SetFields(std::vector<FieldDesc> descs);
    int32_t RowCount() const { return static_cast<int32_t>(meta.size()); }
    const rt::Variant* Row(int32_t row) const { return values.data() + static_cast<size_t>(row) * width; }
    int32_t AddRow();  // all values newRowValue, status adRecNew
    // A row of width values, taken whole, status adRecNew.
    int32_t AddRow(rt::Variant* from);
    // Room for as many more rows (growing as adding them one by one would).
    void Reserve(size_t rows);
    void Assign(int32_t row, size_t field, rt::Variant value);
    // The whole row from width values.
    void AssignRow(int32_t row, const rt::Variant* from);
    int32_t FieldIndex(const std::string& name) const;
    void BeginAdding(int32_t row) {
        adding.push_back(row);
        ++addingChanges;
    }
    void EndAdding(int32_t row) {
        std::erase(adding, row);
        ++addingChanges;
    }
    bool BeingAdded(int32_t row) const { return std::find(adding.begin(), adding.end(), row) != adding.end(); }
    // The row's current values become its original ones again.
    void DropOriginal(int32_t row) {
        Meta& m = meta[static_cast<size_t>(row)];
        if (m.original < 0) return;
        originals[static_cast<size_t>(m.original)].clear();
        freeOriginals.push_back(m.original);
        m.original = -1;
    }
    bool IsPending(int32_t row) const {
        const Meta& m = meta[static_cast<size_t>(row)];
        return !m.removed && (m.status == adRecNew || m.status == adRecModified || m.status == adRecDeleted);
    }
};

}  // namespace ado
