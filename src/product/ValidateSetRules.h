#pragma once
// What the related-feature rules of QTX_VALIDATESET.GetValidateSetV share:
// reading numbers the database hands back, binding them, refusing metadata
// names that are no plain identifiers, rows by column name, the feature
// list that keeps each feature once, and for the set-based forms a list of
// numbers bound as one value, rows grouped by a number column, and the two
// statements most set-based forms take: the features' own rows with the ids
// they point at, then the rows found for those ids.
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "product/SqliteConnection.h"
#include "product/ValidateSetPackage.h"
#include "runtime/SqlName.h"
#include "runtime/Vb.h"

namespace product::rules {

using Values = std::vector<rt::Variant>;

// A stored number; nullopt for Null, Empty or anything that is no whole number.
inline std::optional<int64_t> NumberOf(const rt::Variant& v) {
    if (v.IsNull() || v.IsEmpty()) return std::nullopt;
    if (v.Type() == rt::vbDecimal) return rt::DecimalRoundToInt64(v.Dec());
    return WholeNumberOf(v);
}

// A stored id that points somewhere: nullopt also for 0.
inline std::optional<int64_t> IdOf(const rt::Variant& v) {
    auto id = NumberOf(v);
    return id && *id != 0 ? id : std::nullopt;
}

inline rt::Variant Bound(int64_t n) { return rt::Variant(static_cast<double>(n)); }

// A metadata name that goes into the SQL text; ORA-06502 naming the rule and
// what the name is for when it is no plain identifier.
inline std::string Name(const rt::Variant& v, const std::string& rule, const std::string& what) {
    const std::string name = v.IsString() ? v.Str() : std::string();
    if (!rt::IsSqlIdentifier(name))
        RaiseOra(6502, "PL/SQL: numeric or value error: " + rule + ": " + what + " is no identifier");
    return name;
}

struct ImageRows {
    ado::RecordsetImage image;
    size_t Count() const { return image.RowCount(); }
    const rt::Variant& At(size_t row, const std::string& column) const {
        return image.values[row * image.fields.size() + ColumnOf(column)];
    }
    size_t ColumnOf(const std::string& column) const {
        for (size_t f = 0; f < image.fields.size(); ++f)
            if (rt::NamesEqual(image.fields[f].name, column)) return f;
        RaiseOra(904, "ORA-00904: \"" + column + "\": invalid identifier");
    }
};

inline ImageRows Query(SqliteConnection& db, const std::string& sql, const Values& values) {
    return ImageRows{db.Query(sql, values, sql)};
}

// A column of the relationship's row; Null when the row has none.
inline const rt::Variant& Column(const std::map<std::string, rt::Variant>& relationship, const char* name) {
    static const rt::Variant null = rt::Variant::Null();
    auto it = relationship.find(name);
    return it == relationship.end() ? null : it->second;
}
inline const rt::Variant& Column(const RelatedFeatureQuery& query, const char* name) {
    return Column(query.relationship, name);
}
inline const rt::Variant& Column(const RelatedFeatureSetQuery& query, const char* name) {
    return Column(query.relationship, name);
}

// The component table of a component number; "" when it has none.
inline std::string ComponentTable(SqliteConnection& db, int64_t cno, const std::string& rule) {
    auto rows = Query(db, "SELECT QTX_TABLE FROM QTX_COMPONENTINFO_OPTABLE WHERE QTX_CNO = ?", {Bound(cno)});
    return rows.Count() == 0 ? std::string() : Name(rows.At(0, "QTX_TABLE"), rule, "QTX_TABLE");
}

// Appends the feature unless it is there (or either number is missing).
inline void AddOnce(std::vector<FeatureKey>& out, const rt::Variant& fno, const rt::Variant& fid) {
    auto n = NumberOf(fno), f = NumberOf(fid);
    if (!n || !f) return;
    const FeatureKey key{*n, *f};
    for (const auto& k : out)
        if (k == key) return;
    out.push_back(key);
}

// ---- the set-based forms: one statement for many features ----

// The condition on a column that it holds one of the numbers bound as
// NumberList (one value, whatever their count).
inline std::string InList(const std::string& column) { return column + " IN (SELECT value FROM json_each(?))"; }

inline rt::Variant NumberList(const std::vector<int64_t>& numbers) {
    std::string text = "[";
    for (int64_t n : numbers) {
        if (text.size() > 1) text += ',';
        text += std::to_string(n);
    }
    return rt::Variant(text + "]");
}

// The rows (by position) of each whole number of a column, each group in
// the rows' order; rows without a whole number are in none.
inline std::unordered_map<int64_t, std::vector<size_t>> GroupBy(const ImageRows& rows, const std::string& column) {
    std::unordered_map<int64_t, std::vector<size_t>> groups;
    if (rows.Count() == 0) return groups;
    const size_t c = rows.ColumnOf(column), width = rows.image.fields.size();
    for (size_t r = 0; r < rows.Count(); ++r)
        if (auto n = NumberOf(rows.image.values[r * width + c])) groups[*n].push_back(r);
    return groups;
}

// The rows of a group; none for a number without rows.
inline const std::vector<size_t>& RowsOf(const std::unordered_map<int64_t, std::vector<size_t>>& groups, int64_t n) {
    static const std::vector<size_t> none;
    auto it = groups.find(n);
    return it == groups.end() ? none : it->second;
}

// Each number once, in the order first met.
class NumberSet {
public:
    void Add(int64_t n) {
        if (seen_.insert(n).second) list_.push_back(n);
    }
    const std::vector<int64_t>& List() const { return list_; }
    bool Empty() const { return list_.empty(); }

private:
    std::vector<int64_t> list_;
    std::unordered_set<int64_t> seen_;
};

using RelatedSets = std::vector<std::vector<FeatureKey>>;

// Rows with their groups by the whole numbers of one column.
struct GroupedRows {
    GroupedRows(ImageRows all, const std::string& column) : rows(std::move(all)), groups(GroupBy(rows, column)) {}
    ImageRows rows;
    std::unordered_map<int64_t, std::vector<size_t>> groups;

    // Adds the feature each row of the group of n names, by its FNO and FID
    // columns, to a list.
    void AddFeatures(int64_t n, std::vector<FeatureKey>& out, const char* fno = "QTX_FNO",
                     const char* fid = "QTX_FID") const {
        for (size_t r : RowsOf(groups, n)) AddOnce(out, rows.At(r, fno), rows.At(r, fid));
    }
    // For each FID of a query, in its order, the features of its group.
    RelatedSets FeaturesOf(const std::vector<int64_t>& fids, const char* fno = "QTX_FNO",
                           const char* fid = "QTX_FID") const {
        RelatedSets out(fids.size());
        for (size_t j = 0; j < fids.size(); ++j) AddFeatures(fids[j], out[j], fno, fid);
        return out;
    }
};

// The features' own rows of a set-based form, grouped by QTX_FID, and the id
// each row points at through each of a number of paths (nullopt: none);
// every id once, in the order met, for the statement that finds their rows.
class FeatureIds {
public:
    // IdOf(rows, row, path) -> std::optional<int64_t>.
    template <class IdOf>
    FeatureIds(ImageRows rows, size_t paths, IdOf idOf)
        : own_(std::move(rows), "QTX_FID"), paths_(paths), ids_(own_.rows.Count() * paths) {
        for (size_t p = 0; p < paths_; ++p)
            for (size_t r = 0; r < own_.rows.Count(); ++r)
                if ((ids_[r * paths_ + p] = idOf(own_.rows, r, p))) distinct_.Add(*ids_[r * paths_ + p]);
    }

    bool Empty() const { return distinct_.Empty(); }
    // The ids bound as one value (InList).
    rt::Variant List() const { return NumberList(distinct_.List()); }

    // Adds to each feature of fids (out in the same order), through each path
    // and each of its own rows in turn, the features of the rows each found
    // set holds for the row's id, set after set.
    void Emit(const std::vector<int64_t>& fids, std::span<const GroupedRows> found, RelatedSets& out) const {
        for (size_t j = 0; j < fids.size(); ++j)
            for (size_t p = 0; p < paths_; ++p)
                for (size_t r : RowsOf(own_.groups, fids[j]))
                    if (const auto& id = ids_[r * paths_ + p])
                        for (const GroupedRows& set : found) set.AddFeatures(*id, out[j]);
    }
    void Emit(const std::vector<int64_t>& fids, const GroupedRows& found, RelatedSets& out) const {
        Emit(fids, std::span<const GroupedRows>(&found, 1), out);
    }

private:
    GroupedRows own_;
    size_t paths_;
    std::vector<std::optional<int64_t>> ids_;  // row by row, path by path
    NumberSet distinct_;
};

}  // namespace product::rules
