#include "product/ValidateSetDimensioning.h"

#include <optional>
#include <string>
#include <utility>

#include "product/ValidateSetRules.h"

namespace product {

namespace {

using rules::AddOnce;
using rules::Bound;
using rules::NumberOf;
using rules::Query;

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

std::vector<FeatureKey> ReferencedFeatures(SqliteConnection& db, const std::string& rules, const FeatureKey& dimension) {
    std::vector<FeatureKey> out;
    auto rule = Query(db, "SELECT QTX_DIMCNO FROM " + rules + " WHERE QTX_DIMFNO = ?", {Bound(dimension.fno)});
    if (rule.Count() == 0) return out;
    const auto dimensionCno = NumberOf(rule.At(0, "QTX_DIMCNO"));
    if (!dimensionCno) return out;
    std::string table;
    const auto columns = ReferenceColumns(db, *dimensionCno, table);
    if (columns.empty()) return out;
    auto rows = Query(db, "SELECT * FROM " + table + " WHERE QTX_FID = ? AND QTX_CNO = ?",
                      {Bound(dimension.fid), Bound(*dimensionCno)});
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

std::vector<FeatureKey> DimensioningFeatures(SqliteConnection& db, const std::string& rules, const FeatureKey& feature) {
    std::vector<FeatureKey> out;
    auto rule = Query(db, "SELECT DISTINCT QTX_DIMCNO, QTX_CONNECTEDCNO FROM " + rules + " WHERE QTX_CONNECTEDFNO = ?",
                      {Bound(feature.fno)});
    for (size_t r = 0; r < rule.Count(); ++r) {
        auto dimensionCno = NumberOf(rule.At(r, "QTX_DIMCNO")), cno = NumberOf(rule.At(r, "QTX_CONNECTEDCNO"));
        if (!dimensionCno || !cno) continue;
        const std::string own = ComponentTable(db, *cno);
        std::string table;
        const auto columns = ReferenceColumns(db, *dimensionCno, table);
        if (own.empty() || columns.empty()) continue;
        auto ids = Query(db, "SELECT QTX_ID FROM " + own + " WHERE QTX_FID = ? AND QTX_CNO = ?",
                         {Bound(feature.fid), Bound(*cno)});
        for (size_t i = 0; i < ids.Count(); ++i) {
            auto id = NumberOf(ids.At(i, "QTX_ID"));
            if (!id) continue;
            for (const auto& [cnoColumn, idColumn] : columns) {
                auto dims = Query(db, "SELECT QTX_FNO, QTX_FID FROM " + table + " WHERE QTX_CNO = ? AND " + cnoColumn +
                                          " = ? AND " + idColumn + " = ? ORDER BY QTX_FID",
                                  {Bound(*dimensionCno), Bound(*cno), Bound(*id)});
                for (size_t d = 0; d < dims.Count(); ++d) AddOnce(out, dims.At(d, "QTX_FNO"), dims.At(d, "QTX_FID"));
            }
        }
    }
    return out;
}

}  // namespace

std::vector<FeatureKey> DimensioningRelatedFeatures(const RelatedFeatureQuery& query) {
    auto field = query.relationship.find("QTX_FNOFIELD");
    auto table = query.relationship.find("QTX_OPTIMIZEDTABLE");
    if (table == query.relationship.end()) return {};
    const std::string rules = Name(table->second, "QTX_OPTIMIZEDTABLE");
    const bool dimensionSide = field != query.relationship.end() && field->second.IsString() &&
                               field->second.Str() == "QTX_DIMFNO";
    return dimensionSide ? ReferencedFeatures(query.db, rules, query.feature)
                         : DimensioningFeatures(query.db, rules, query.feature);
}

}  // namespace product
