#include "product/ValidateSetDimensioning.h"

#include <map>
#include <optional>
#include <unordered_map>
#include <string>
#include <utility>

#include "product/ValidateSetRules.h"

namespace product {

namespace {

using namespace rules;

std::string Name(const rt::Variant& v, const char* what) { return rules::Name(v, "dimensioning", what); }

// The component table of a component number; "" when it has none.
std::string ComponentTable(SqliteConnection& db, int64_t cno, int64_t* subtype = nullptr) {
    auto rows = Query(db, "SELECT QTX_TABLE, QTX_SUBTYPE FROM QTX_COMPONENTINFO_OPTABLE WHERE QTX_CNO = ?", {Bound(cno)});
    if (rows.Count() == 0) return "";
    if (subtype) *subtype = NumberOf(rows.At(0, "QTX_SUBTYPE")).value_or(0);
    return Name(rows.At(0, "QTX_TABLE"), "QTX_TABLE");
}

// The reference columns (component number, row id) of a dimension component.
std::vector<std::pair<std::string, std::string>> ReferenceColumns(SqliteConnection& db, int64_t dimensionCno,
                                                                  std::string& table) {
    int64_t subtype = 0;
    table = ComponentTable(db, dimensionCno, &subtype);
    static const char* kTables[] = {"QTX_DIMSIMPLE_OPTABLE", "QTX_DIMORTHOGONAL_OPTABLE",
                                    "QTX_DIMRADIUS2POINTS_OPTABLE", "QTX_DIMPOLAR_OPTABLE"};
    std::vector<std::pair<std::string, std::string>> columns;
    if (table.empty() || subtype < 1 || subtype > 4) return columns;
    auto rows = Query(db, std::string("SELECT * FROM ") + kTables[subtype - 1] + " WHERE QTX_CNO = ?", {Bound(dimensionCno)});
    if (rows.Count() == 0) return columns;
    std::vector<std::pair<const char*, const char*>> pairs = {{"QTX_DIMBASECNOFIELD", "QTX_DIMBASEIDFIELD"},
                                                              {"QTX_DIMENSIONEDCNOFIELD", "QTX_DIMENSIONEDIDFIELD"}};
    if (subtype == 2 || subtype == 3) pairs.emplace_back("QTX_DIMBASECNOFIELD2", "QTX_DIMBASEIDFIELD2");
    for (auto [cno, id] : pairs) {
        const rt::Variant& c = rows.At(0, cno);
        const rt::Variant& i = rows.At(0, id);
        if (c.IsNull() || i.IsNull()) continue;
        columns.emplace_back(Name(c, cno), Name(i, id));
    }
    return columns;
}

// The dimension class's rule seen from the dimension: its component, the
// dimension table and its reference columns; nullopt when it names none.
struct DimensionRule {
    int64_t dimensionCno = 0;
    std::string table;
    std::vector<std::pair<std::string, std::string>> columns;
};
std::optional<DimensionRule> DimensionRuleOf(SqliteConnection& db, const std::string& rules, int64_t fno) {
    auto rule = Query(db, "SELECT QTX_DIMCNO FROM " + rules + " WHERE QTX_DIMFNO = ?", {Bound(fno)});
    if (rule.Count() == 0) return std::nullopt;
    const auto dimensionCno = NumberOf(rule.At(0, "QTX_DIMCNO"));
    if (!dimensionCno) return std::nullopt;
    DimensionRule out{*dimensionCno, "", {}};
    out.columns = ReferenceColumns(db, *dimensionCno, out.table);
    if (out.columns.empty()) return std::nullopt;
    return out;
}

std::vector<FeatureKey> ReferencedFeatures(SqliteConnection& db, const std::string& rules, const FeatureKey& dimension) {
    std::vector<FeatureKey> out;
    const auto rule = DimensionRuleOf(db, rules, dimension.fno);
    if (!rule) return out;
    const auto& [dimensionCno, table, columns] = *rule;
    auto rows = Query(db, "SELECT * FROM " + table + " WHERE QTX_FID = ? AND QTX_CNO = ?",
                      {Bound(dimension.fid), Bound(dimensionCno)});
    for (size_t r = 0; r < rows.Count(); ++r)
        for (const auto& [cnoColumn, idColumn] : columns) {
            auto cno = NumberOf(rows.At(r, cnoColumn)), id = NumberOf(rows.At(r, idColumn));
            if (!cno || !id || *cno == 0 || *id == 0) continue;
            const std::string owner = ComponentTable(db, *cno);
            if (owner.empty()) continue;
            auto owners = Query(db, "SELECT QTX_FNO, QTX_FID FROM " + owner + " WHERE QTX_CNO = ? AND QTX_ID = ?",
                                {Bound(*cno), Bound(*id)});
            for (size_t o = 0; o < owners.Count(); ++o) AddOnce(out, owners.At(o, "QTX_FNO"), owners.At(o, "QTX_FID"));
        }
    return out;
}

// A rule row seen from the dimensioned side: the dimension component, the
// dimensioned one and its table, the dimension table and its reference
// columns; nullopt for a row that names nothing.
struct ConnectedRule {
    int64_t dimensionCno = 0, cno = 0;
    std::string own, table;
    std::vector<std::pair<std::string, std::string>> columns;
};
std::optional<ConnectedRule> ConnectedRuleOf(SqliteConnection& db, const ImageRows& rule, size_t r) {
    auto dimensionCno = NumberOf(rule.At(r, "QTX_DIMCNO")), cno = NumberOf(rule.At(r, "QTX_CONNECTEDCNO"));
    if (!dimensionCno || !cno) return std::nullopt;
    ConnectedRule out{*dimensionCno, *cno, ComponentTable(db, *cno), "", {}};
    out.columns = ReferenceColumns(db, *dimensionCno, out.table);
    if (out.own.empty() || out.columns.empty()) return std::nullopt;
    return out;
}

std::vector<FeatureKey> DimensioningFeatures(SqliteConnection& db, const std::string& rules, const FeatureKey& feature) {
    std::vector<FeatureKey> out;
    auto rule = Query(db, "SELECT DISTINCT QTX_DIMCNO, QTX_CONNECTEDCNO FROM " + rules + " WHERE QTX_CONNECTEDFNO = ?",
                      {Bound(feature.fno)});
    for (size_t r = 0; r < rule.Count(); ++r) {
        const auto connected = ConnectedRuleOf(db, rule, r);
        if (!connected) continue;
        const auto& [dimensionCno, cno, own, table, columns] = *connected;
        auto ids = Query(db, "SELECT QTX_ID FROM " + own + " WHERE QTX_FID = ? AND QTX_CNO = ?",
                         {Bound(feature.fid), Bound(cno)});
        for (size_t i = 0; i < ids.Count(); ++i) {
            auto id = NumberOf(ids.At(i, "QTX_ID"));
            if (!id) continue;
            for (const auto& [cnoColumn, idColumn] : columns) {
                auto dims = Query(db, "SELECT QTX_FNO, QTX_FID FROM " + table + " WHERE QTX_CNO = ? AND " + cnoColumn +
                                          " = ? AND " + idColumn + " = ? ORDER BY QTX_FID",
                                  {Bound(dimensionCno), Bound(cno), Bound(*id)});
                for (size_t d = 0; d < dims.Count(); ++d) AddOnce(out, dims.At(d, "QTX_FNO"), dims.At(d, "QTX_FID"));
            }
        }
    }
    return out;
}

// The set-based ReferencedFeatures: the dimensions' rows in one statement,
// then per referenced component the owners of all ids in one.
RelatedSets ReferencedSets(SqliteConnection& db, const std::string& rules, int64_t fno, const std::vector<int64_t>& fids) {
    RelatedSets out(fids.size());
    const auto rule = DimensionRuleOf(db, rules, fno);
    if (!rule) return out;
    const auto& [dimensionCno, table, columns] = *rule;
    auto rows = Query(db, "SELECT * FROM " + table + " WHERE QTX_CNO = ? AND " + InList("QTX_FID") + " ORDER BY rowid",
                      {Bound(dimensionCno), NumberList(fids)});
    const auto rowsOf = GroupBy(rows, "QTX_FID");
    // The component and id a row references through a pair of columns.
    auto referenced = [&rows](size_t r, const std::string& cnoColumn,
                              const std::string& idColumn) -> std::optional<std::pair<int64_t, int64_t>> {
        auto cno = IdOf(rows.At(r, cnoColumn)), id = IdOf(rows.At(r, idColumn));
        if (!cno || !id) return std::nullopt;
        return std::pair{*cno, *id};
    };
    // The ids each referenced component is asked for, in the order met.
    std::map<int64_t, NumberSet> asked;
    for (size_t r = 0; r < rows.Count(); ++r)
        for (const auto& [cnoColumn, idColumn] : columns)
            if (auto ref = referenced(r, cnoColumn, idColumn)) asked[ref->first].Add(ref->second);
    std::map<int64_t, GroupedRows> owners;  // absent: the component has no table
    for (const auto& [cno, ids] : asked) {
        const std::string owner = ComponentTable(db, cno);
        if (owner.empty()) continue;
        owners.emplace(cno, GroupedRows(Query(db,
                                              "SELECT QTX_ID, QTX_FNO, QTX_FID FROM " + owner +
                                                  " WHERE QTX_CNO = ? AND " + InList("QTX_ID") + " ORDER BY rowid",
                                              {Bound(cno), NumberList(ids.List())}),
                                        "QTX_ID"));
    }
    for (size_t j = 0; j < fids.size(); ++j)
        for (size_t r : RowsOf(rowsOf, fids[j]))
            for (const auto& [cnoColumn, idColumn] : columns)
                if (auto ref = referenced(r, cnoColumn, idColumn))
                    if (auto o = owners.find(ref->first); o != owners.end()) o->second.AddFeatures(ref->second, out[j]);
    return out;
}

// The set-based DimensioningFeatures: per rule row, the features' ids in one
// statement and per reference the dimensions naming any of them in one.
RelatedSets DimensioningSets(SqliteConnection& db, const std::string& rules, int64_t fno, const std::vector<int64_t>& fids) {
    RelatedSets out(fids.size());
    auto rule = Query(db, "SELECT DISTINCT QTX_DIMCNO, QTX_CONNECTEDCNO FROM " + rules + " WHERE QTX_CONNECTEDFNO = ?",
                      {Bound(fno)});
    const rt::Variant list = NumberList(fids);
    for (size_t r = 0; r < rule.Count(); ++r) {
        const auto connected = ConnectedRuleOf(db, rule, r);
        if (!connected) continue;
        const auto& [dimensionCno, cno, own, table, columns] = *connected;
        const FeatureIds ids(Query(db, "SELECT QTX_FID, QTX_ID FROM " + own + " WHERE QTX_CNO = ? AND " +
                                           InList("QTX_FID") + " ORDER BY rowid",
                                   {Bound(cno), list}),
                             1, [](const ImageRows& rows, size_t i, size_t) { return NumberOf(rows.At(i, "QTX_ID")); });
        if (ids.Empty()) continue;
        const rt::Variant idList = ids.List();
        std::vector<GroupedRows> dims;
        for (const auto& [cnoColumn, idColumn] : columns)
            dims.emplace_back(Query(db,
                                    "SELECT " + idColumn + ", QTX_FNO, QTX_FID FROM " + table +
                                        " WHERE QTX_CNO = ? AND " + cnoColumn + " = ? AND " + InList(idColumn) +
                                        " ORDER BY QTX_FID",
                                    {Bound(dimensionCno), Bound(cno), idList}),
                              idColumn);
        ids.Emit(fids, dims, out);
    }
    return out;
}

// The rule table and the side of a relationship; nullopt without a table.
std::optional<std::pair<std::string, bool>> SideOf(const std::map<std::string, rt::Variant>& relationship) {
    auto field = relationship.find("QTX_FNOFIELD");
    auto table = relationship.find("QTX_OPTIMIZEDTABLE");
    if (table == relationship.end()) return std::nullopt;
    const std::string rules = Name(table->second, "QTX_OPTIMIZEDTABLE");
    const bool dimensionSide = field != relationship.end() && field->second.IsString() &&
                               field->second.Str() == "QTX_DIMFNO";
    return std::make_pair(rules, dimensionSide);
}

}  // namespace

RelatedSets DimensioningRelatedFeatureSets(const RelatedFeatureSetQuery& query) {
    const auto side = SideOf(query.relationship);
    if (!side) return RelatedSets(query.fids.size());
    return side->second ? ReferencedSets(query.db, side->first, query.fno, query.fids)
                        : DimensioningSets(query.db, side->first, query.fno, query.fids);
}

std::vector<FeatureKey> DimensioningRelatedFeatures(const RelatedFeatureQuery& query) {
    const auto side = SideOf(query.relationship);
    if (!side) return {};
    return side->second ? ReferencedFeatures(query.db, side->first, query.feature)
                        : DimensioningFeatures(query.db, side->first, query.feature);
}

}  // namespace product
