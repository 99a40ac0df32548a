#include "product/ValidateSetOwnership.h"

#include <optional>
#include <string>

#include "product/ValidateSetRules.h"

namespace product {

namespace {

using namespace rules;

constexpr const char* kRule = "ownership";

std::string RuleName(const rt::Variant& v, const char* what) { return Name(v, kRule, what); }

// "" for a Null column.
std::string OptionalName(const rt::Variant& v, const char* what) {
    return v.IsNull() || v.IsEmpty() ? std::string() : RuleName(v, what);
}

// The component table of a component number; "" when it has none.
std::string ComponentTable(SqliteConnection& db, int64_t cno) {
    auto rows = Query(db, "SELECT QTX_TABLE FROM QTX_COMPONENTINFO_OPTABLE WHERE QTX_CNO = ?", {Bound(cno)});
    return rows.Count() == 0 ? std::string() : RuleName(rows.At(0, "QTX_TABLE"), "QTX_TABLE");
}

// The owner class's component that owned rows point at.
std::optional<int64_t> OwnerComponent(SqliteConnection& db, const std::optional<int64_t>& support, int64_t ownerFno) {
    if (support) return support;
    auto rows = Query(db, "SELECT QTX_PRIMARYATTRIBUTECNO FROM QTX_FEATURES_OPTABLE WHERE QTX_FNO = ?", {Bound(ownerFno)});
    return rows.Count() == 0 ? std::nullopt : NumberOf(rows.At(0, "QTX_PRIMARYATTRIBUTECNO"));
}

// The two pairs of link columns of a rule row: (id column, CNO column or "").
std::vector<std::pair<std::string, std::string>> LinkColumns(const ImageRows& rules, size_t r) {
    std::vector<std::pair<std::string, std::string>> links;
    const std::string first = OptionalName(rules.At(r, "QTX_OWNERFIELD"), "QTX_OWNERFIELD");
    if (!first.empty()) links.emplace_back(first, OptionalName(rules.At(r, "QTX_OWNERCNOFIELD"), "QTX_OWNERCNOFIELD"));
    const std::string second = OptionalName(rules.At(r, "QTX_SECONDOWNERFIELD"), "QTX_SECONDOWNERFIELD");
    if (!second.empty())
        links.emplace_back(second, OptionalName(rules.At(r, "QTX_SECONDOWNERCNOFIELD"), "QTX_SECONDOWNERCNOFIELD"));
    return links;
}

std::vector<FeatureKey> Owners(SqliteConnection& db, const std::string& rules, const std::optional<int64_t>& support,
                               const FeatureKey& owned) {
    std::vector<FeatureKey> out;
    auto rows = Query(db, "SELECT * FROM " + rules + " WHERE QTX_SOURCEFNO = ?", {Bound(owned.fno)});
    for (size_t r = 0; r < rows.Count(); ++r) {
        auto sourceCno = NumberOf(rows.At(r, "QTX_SOURCECNO")), ownerFno = NumberOf(rows.At(r, "QTX_OWNERFNO"));
        if (!sourceCno || !ownerFno) continue;
        const auto ownerCno = OwnerComponent(db, support, *ownerFno);
        const std::string source = ComponentTable(db, *sourceCno);
        const std::string owner = ownerCno ? ComponentTable(db, *ownerCno) : std::string();
        if (source.empty() || owner.empty()) continue;
        auto links = Query(db, "SELECT * FROM " + source + " WHERE QTX_FID = ? AND QTX_CNO = ?",
                           {Bound(owned.fid), Bound(*sourceCno)});
        for (const auto& [idColumn, cnoColumn] : LinkColumns(rows, r))
            for (size_t l = 0; l < links.Count(); ++l) {
                auto id = NumberOf(links.At(l, idColumn));
                if (!id || *id == 0) continue;
                if (!cnoColumn.empty() && NumberOf(links.At(l, cnoColumn)) != ownerCno) continue;
                auto found = Query(db, "SELECT QTX_FNO, QTX_FID FROM " + owner +
                                           " WHERE QTX_ID = ? AND QTX_CNO = ? AND QTX_FNO = ?",
                                   {Bound(*id), Bound(*ownerCno), Bound(*ownerFno)});
                for (size_t o = 0; o < found.Count(); ++o) AddOnce(out, found.At(o, "QTX_FNO"), found.At(o, "QTX_FID"));
            }
    }
    return out;
}

std::vector<FeatureKey> Owned(SqliteConnection& db, const std::string& rules, const std::optional<int64_t>& support,
                              const FeatureKey& owner) {
    std::vector<FeatureKey> out;
    auto rows = Query(db, "SELECT * FROM " + rules + " WHERE QTX_OWNERFNO = ?", {Bound(owner.fno)});
    if (rows.Count() == 0) return out;
    const auto ownerCno = OwnerComponent(db, support, owner.fno);
    const std::string ownerTable = ownerCno ? ComponentTable(db, *ownerCno) : std::string();
    if (ownerTable.empty()) return out;
    auto ids = Query(db, "SELECT QTX_ID FROM " + ownerTable + " WHERE QTX_FID = ? AND QTX_CNO = ?",
                     {Bound(owner.fid), Bound(*ownerCno)});
    for (size_t r = 0; r < rows.Count(); ++r) {
        auto sourceCno = NumberOf(rows.At(r, "QTX_SOURCECNO")), sourceFno = NumberOf(rows.At(r, "QTX_SOURCEFNO"));
        if (!sourceCno || !sourceFno) continue;
        const std::string source = ComponentTable(db, *sourceCno);
        if (source.empty()) continue;
        for (const auto& [idColumn, cnoColumn] : LinkColumns(rows, r))
            for (size_t i = 0; i < ids.Count(); ++i) {
                auto id = NumberOf(ids.At(i, "QTX_ID"));
                if (!id || *id == 0) continue;
                std::string sql = "SELECT QTX_FNO, QTX_FID FROM " + source + " WHERE QTX_CNO = ? AND QTX_FNO = ? AND " +
                                  idColumn + " = ?";
                std::vector<rt::Variant> values{Bound(*sourceCno), Bound(*sourceFno), Bound(*id)};
                if (!cnoColumn.empty()) {
                    sql += " AND " + cnoColumn + " = ?";
                    values.push_back(Bound(*ownerCno));
                }
                auto found = Query(db, sql + " ORDER BY QTX_FID", values);
                for (size_t o = 0; o < found.Count(); ++o) AddOnce(out, found.At(o, "QTX_FNO"), found.At(o, "QTX_FID"));
            }
    }
    return out;
}

}  // namespace

std::vector<FeatureKey> OwnershipRelatedFeatures(const RelatedFeatureQuery& query) {
    auto table = query.relationship.find("QTX_OPTIMIZEDTABLE");
    if (table == query.relationship.end()) return {};
    const std::string rules = RuleName(table->second, "QTX_OPTIMIZEDTABLE");
    auto subordinate = query.relationship.find("QTX_SUBORDINATE");
    auto supportColumn = query.relationship.find("QTX_SUPPORTCNO");
    const std::optional<int64_t> support =
        supportColumn == query.relationship.end() ? std::nullopt : NumberOf(supportColumn->second);
    const bool owned = subordinate != query.relationship.end() && NumberOf(subordinate->second) == 1;
    return owned ? Owners(query.db, rules, support, query.feature) : Owned(query.db, rules, support, query.feature);
}

}  // namespace product
