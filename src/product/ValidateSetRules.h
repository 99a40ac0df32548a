#pragma once
// What the related-feature rules of QTX_VALIDATESET.GetValidateSetV share:
// reading numbers the database hands back, binding them, refusing metadata
// names that are no plain identifiers, rows by column name and the feature
// list that keeps each feature once.
#include <cstdint>
#include <optional>
#include <string>
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
        for (size_t f = 0; f < image.fields.size(); ++f)
            if (rt::NamesEqual(image.fields[f].name, column)) return image.values[row * image.fields.size() + f];
        RaiseOra(904, "ORA-00904: \"" + column + "\": invalid identifier");
    }
};

inline ImageRows Query(SqliteConnection& db, const std::string& sql, const Values& values) {
    return ImageRows{db.Query(sql, values, sql)};
}

// A column of the relationship's row; Null when the row has none.
inline const rt::Variant& Column(const RelatedFeatureQuery& query, const char* name) {
    static const rt::Variant null = rt::Variant::Null();
    auto it = query.relationship.find(name);
    return it == query.relationship.end() ? null : it->second;
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

}  // namespace product::rules
