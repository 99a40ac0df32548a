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

std::string ComponentTable(SqliteConnection& db, int64_t cno) { return rules::ComponentTable(db, cno, kRule); }

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

// A rule row seen from the owned side: the owned class's source component,
// the owner class and its component, and their tables; nullopt for a row
// that points nowhere.
struct OwnerRule {
    int64_t sourceCno = 0, ownerFno = 0, ownerCno = 0;
    std::string source, owner;
};
std::optional<OwnerRule> OwnerRuleOf(SqliteConnection& db, const ImageRows& rows, size_t r,
                                     const std::optional<int64_t>& support) {
    auto sourceCno = NumberOf(rows.At(r, "QTX_SOURCECNO")), ownerFno = NumberOf(rows.At(r, "QTX_OWNERFNO"));
    if (!sourceCno || !ownerFno) return std::nullopt;
    const auto ownerCno = OwnerComponent(db, support, *ownerFno);
    OwnerRule rule{*sourceCno, *ownerFno, ownerCno.value_or(0), ComponentTable(db, *sourceCno),
                   ownerCno ? ComponentTable(db, *ownerCno) : std::string()};
    if (rule.source.empty() || rule.owner.empty()) return std::nullopt;
    return rule;
}

std::vector<FeatureKey> Owners(SqliteConnection& db, const std::string& rules, const std::optional<int64_t>& support,
                               const FeatureKey& owned) {
    std::vector<FeatureKey> out;
    auto rows = Query(db, "SELECT * FROM " + rules + " WHERE QTX_SOURCEFNO = ?", {Bound(owned.fno)});
    for (size_t r = 0; r < rows.Count(); ++r) {
        const auto rule = OwnerRuleOf(db, rows, r, support);
        if (!rule) continue;
        const auto& [sourceCno, ownerFno, ownerCno, source, owner] = *rule;
        auto links = Query(db, "SELECT * FROM " + source + " WHERE QTX_FID = ? AND QTX_CNO = ?",
                           {Bound(owned.fid), Bound(sourceCno)});
        for (const auto& [idColumn, cnoColumn] : LinkColumns(rows, r))
            for (size_t l = 0; l < links.Count(); ++l) {
                auto id = NumberOf(links.At(l, idColumn));
                if (!id || *id == 0) continue;
                if (!cnoColumn.empty() && NumberOf(links.At(l, cnoColumn)) != ownerCno) continue;
                auto found = Query(db, "SELECT QTX_FNO, QTX_FID FROM " + owner +
                                           " WHERE QTX_ID = ? AND QTX_CNO = ? AND QTX_FNO = ?",
                                   {Bound(*id), Bound(ownerCno), Bound(ownerFno)});
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

// The set-based Owners: per rule row, the link rows of every feature in one
// statement and the owners they point at in another.
RelatedSets OwnerSets(SqliteConnection& db, const std::string& rules, const std::optional<int64_t>& support,
                      int64_t fno, const std::vector<int64_t>& fids) {
    RelatedSets out(fids.size());
    auto rows = Query(db, "SELECT * FROM " + rules + " WHERE QTX_SOURCEFNO = ?", {Bound(fno)});
    const rt::Variant list = NumberList(fids);
    for (size_t r = 0; r < rows.Count(); ++r) {
        const auto rule = OwnerRuleOf(db, rows, r, support);
        if (!rule) continue;
        const auto& [sourceCno, ownerFno, ownerCno, source, owner] = *rule;
        const auto pairs = LinkColumns(rows, r);
        // A link row points at an owner's id through each pair.
        const FeatureIds ids(
            Query(db, "SELECT * FROM " + source + " WHERE QTX_CNO = ? AND " + InList("QTX_FID") + " ORDER BY rowid",
                  {Bound(sourceCno), list}),
            pairs.size(), [&](const ImageRows& links, size_t l, size_t p) -> std::optional<int64_t> {
                auto id = IdOf(links.At(l, pairs[p].first));
                if (id && !pairs[p].second.empty() && NumberOf(links.At(l, pairs[p].second)) != rule->ownerCno)
                    return std::nullopt;
                return id;
            });
        if (ids.Empty()) continue;
        const GroupedRows found(Query(db, "SELECT QTX_ID, QTX_FNO, QTX_FID FROM " + owner +
                                              " WHERE QTX_CNO = ? AND QTX_FNO = ? AND " + InList("QTX_ID") +
                                              " ORDER BY rowid",
                                      {Bound(ownerCno), Bound(ownerFno), ids.List()}),
                                "QTX_ID");
        ids.Emit(fids, found, out);
    }
    return out;
}

// The set-based Owned: the owners' ids in one statement, then per rule row
// and link column the owned rows of all of them in one.
RelatedSets OwnedSets(SqliteConnection& db, const std::string& rules, const std::optional<int64_t>& support,
                      int64_t fno, const std::vector<int64_t>& fids) {
    RelatedSets out(fids.size());
    auto rows = Query(db, "SELECT * FROM " + rules + " WHERE QTX_OWNERFNO = ?", {Bound(fno)});
    if (rows.Count() == 0) return out;
    const auto ownerCno = OwnerComponent(db, support, fno);
    const std::string ownerTable = ownerCno ? ComponentTable(db, *ownerCno) : std::string();
    if (ownerTable.empty()) return out;
    const FeatureIds ids(Query(db, "SELECT QTX_FID, QTX_ID FROM " + ownerTable + " WHERE QTX_CNO = ? AND " +
                                       InList("QTX_FID") + " ORDER BY rowid",
                               {Bound(*ownerCno), NumberList(fids)}),
                         1, [](const ImageRows& owners, size_t i, size_t) { return IdOf(owners.At(i, "QTX_ID")); });
    const rt::Variant list = ids.List();
    for (size_t r = 0; r < rows.Count(); ++r) {
        auto sourceCno = NumberOf(rows.At(r, "QTX_SOURCECNO")), sourceFno = NumberOf(rows.At(r, "QTX_SOURCEFNO"));
        if (!sourceCno || !sourceFno) continue;
        const std::string source = ComponentTable(db, *sourceCno);
        if (source.empty()) continue;
        for (const auto& [idColumn, cnoColumn] : LinkColumns(rows, r)) {
            if (ids.Empty()) continue;
            std::string sql = "SELECT " + idColumn + ", QTX_FNO, QTX_FID FROM " + source +
                              " WHERE QTX_CNO = ? AND QTX_FNO = ? AND " + InList(idColumn);
            std::vector<rt::Variant> values{Bound(*sourceCno), Bound(*sourceFno), list};
            if (!cnoColumn.empty()) {
                sql += " AND " + cnoColumn + " = ?";
                values.push_back(Bound(*ownerCno));
            }
            ids.Emit(fids, GroupedRows(Query(db, sql + " ORDER BY QTX_FID", values), idColumn), out);
        }
    }
    return out;
}

// The rule table, the support component and the side of a relationship.
struct Side {
    std::string rules;
    std::optional<int64_t> support;
    bool owned = false;
};
std::optional<Side> SideOf(const std::map<std::string, rt::Variant>& relationship) {
    auto table = relationship.find("QTX_OPTIMIZEDTABLE");
    if (table == relationship.end()) return std::nullopt;
    Side side;
    side.rules = RuleName(table->second, "QTX_OPTIMIZEDTABLE");
    auto subordinate = relationship.find("QTX_SUBORDINATE");
    auto supportColumn = relationship.find("QTX_SUPPORTCNO");
    side.support = supportColumn == relationship.end() ? std::nullopt : NumberOf(supportColumn->second);
    side.owned = subordinate != relationship.end() && NumberOf(subordinate->second) == 1;
    return side;
}

}  // namespace

RelatedSets OwnershipRelatedFeatureSets(const RelatedFeatureSetQuery& query) {
    const auto side = SideOf(query.relationship);
    if (!side) return RelatedSets(query.fids.size());
    return side->owned ? OwnerSets(query.db, side->rules, side->support, query.fno, query.fids)
                       : OwnedSets(query.db, side->rules, side->support, query.fno, query.fids);
}

std::vector<FeatureKey> OwnershipRelatedFeatures(const RelatedFeatureQuery& query) {
    const auto side = SideOf(query.relationship);
    if (!side) return {};
    return side->owned ? Owners(query.db, side->rules, side->support, query.feature)
                       : Owned(query.db, side->rules, side->support, query.feature);
}

}  // namespace product
