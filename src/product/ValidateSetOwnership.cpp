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
        auto links = Query(db, "SELECT * FROM " + source + " WHERE QTX_CNO = ? AND " + InList("QTX_FID") + " ORDER BY rowid",
                           {Bound(sourceCno), list});
        const auto linksOf = GroupBy(links, "QTX_FID");
        const auto pairs = LinkColumns(rows, r);
        // The id a link row points at through a pair; nullopt for none.
        auto target = [&](size_t l, const std::pair<std::string, std::string>& pair) -> std::optional<int64_t> {
            auto id = NumberOf(links.At(l, pair.first));
            if (!id || *id == 0) return std::nullopt;
            if (!pair.second.empty() && NumberOf(links.At(l, pair.second)) != rule->ownerCno) return std::nullopt;
            return id;
        };
        NumberSet ids;
        for (const auto& pair : pairs)
            for (size_t l = 0; l < links.Count(); ++l)
                if (auto id = target(l, pair)) ids.Add(*id);
        if (ids.Empty()) continue;
        auto found = Query(db, "SELECT QTX_ID, QTX_FNO, QTX_FID FROM " + owner + " WHERE QTX_CNO = ? AND QTX_FNO = ? AND " +
                                   InList("QTX_ID") + " ORDER BY rowid",
                           {Bound(ownerCno), Bound(ownerFno), NumberList(ids.List())});
        const auto ownersOf = GroupBy(found, "QTX_ID");
        for (size_t j = 0; j < fids.size(); ++j)
            for (const auto& pair : pairs)
                for (size_t l : RowsOf(linksOf, fids[j]))
                    if (auto id = target(l, pair))
                        for (size_t o : RowsOf(ownersOf, *id)) AddOnce(out[j], found.At(o, "QTX_FNO"), found.At(o, "QTX_FID"));
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
    auto ids = Query(db, "SELECT QTX_FID, QTX_ID FROM " + ownerTable + " WHERE QTX_CNO = ? AND " + InList("QTX_FID") +
                             " ORDER BY rowid",
                     {Bound(*ownerCno), NumberList(fids)});
    const auto idsOf = GroupBy(ids, "QTX_FID");
    NumberSet all;
    for (size_t i = 0; i < ids.Count(); ++i)
        if (auto id = NumberOf(ids.At(i, "QTX_ID")); id && *id != 0) all.Add(*id);
    const rt::Variant list = NumberList(all.List());
    for (size_t r = 0; r < rows.Count(); ++r) {
        auto sourceCno = NumberOf(rows.At(r, "QTX_SOURCECNO")), sourceFno = NumberOf(rows.At(r, "QTX_SOURCEFNO"));
        if (!sourceCno || !sourceFno) continue;
        const std::string source = ComponentTable(db, *sourceCno);
        if (source.empty()) continue;
        for (const auto& [idColumn, cnoColumn] : LinkColumns(rows, r)) {
            if (all.Empty()) continue;
            std::string sql = "SELECT " + idColumn + ", QTX_FNO, QTX_FID FROM " + source +
                              " WHERE QTX_CNO = ? AND QTX_FNO = ? AND " + InList(idColumn);
            std::vector<rt::Variant> values{Bound(*sourceCno), Bound(*sourceFno), list};
            if (!cnoColumn.empty()) {
                sql += " AND " + cnoColumn + " = ?";
                values.push_back(Bound(*ownerCno));
            }
            auto found = Query(db, sql + " ORDER BY QTX_FID", values);
            const auto ownedOf = GroupBy(found, idColumn);
            for (size_t j = 0; j < fids.size(); ++j)
                for (size_t i : RowsOf(idsOf, fids[j])) {
                    auto id = NumberOf(ids.At(i, "QTX_ID"));
                    if (!id || *id == 0) continue;
                    for (size_t o : RowsOf(ownedOf, *id)) AddOnce(out[j], found.At(o, "QTX_FNO"), found.At(o, "QTX_FID"));
                }
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
