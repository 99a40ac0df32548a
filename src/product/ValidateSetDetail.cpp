#include "product/ValidateSetDetail.h"

#include <map>
#include <optional>
#include <string>

#include "product/SqliteConnection.h"
#include "product/ValidateSetRules.h"

namespace product {

namespace {

constexpr const char* kRule = "detail";

// The detail ids of one component of a feature (Null and 0 left out).
std::vector<int64_t> DetailIds(SqliteConnection& db, const std::string& table, const std::string& column,
                               int64_t cno, int64_t fid) {
    std::vector<int64_t> ids;
    auto rows = rules::Query(db, "SELECT " + column + " FROM " + table + " WHERE QTX_FID = ? AND QTX_CNO = ?",
                          {rules::Bound(fid), rules::Bound(cno)});
    for (size_t r = 0; r < rows.Count(); ++r)
        if (auto id = rules::IdOf(rows.At(r, column))) ids.push_back(*id);
    return ids;
}

}  // namespace

namespace {

// One rule row of the feature's class as both forms read it; nullopt for a
// row that ties nothing.
struct DetailRule {
    std::string column, ownTable, otherTable;
    int64_t ownCno = 0, otherCno = 0, otherFno = 0;
};

std::vector<DetailRule> DetailRules(SqliteConnection& db, const std::map<std::string, rt::Variant>& relationship,
                                    int64_t fno) {
    std::vector<DetailRule> out;
    const std::string ruleTable = rules::Name(rules::Column(relationship, "QTX_OPTIMIZEDTABLE"), kRule, "QTX_OPTIMIZEDTABLE");
    const bool contained = rules::NumberOf(rules::Column(relationship, "QTX_SUBORDINATE")).value_or(0) == 1;
    auto rows = rules::Query(db,
                          "SELECT * FROM " + ruleTable + (contained ? " WHERE QTX_CONTAINEDFNO = ?" : " WHERE QTX_FNO = ?"),
                          {rules::Bound(fno)});
    for (size_t r = 0; r < rows.Count(); ++r) {
        auto containedCno = rules::NumberOf(rows.At(r, "QTX_CONTAINEDTRIGGERINGCNO"));
        auto ownerCno = rules::NumberOf(rows.At(r, "QTX_ATTRIBUTECNO"));
        auto otherFno = rules::NumberOf(rows.At(r, contained ? "QTX_FNO" : "QTX_CONTAINEDFNO"));
        if (!containedCno || !ownerCno || !otherFno) continue;
        const std::string column = rules::Name(rows.At(r, "QTX_IDENTIFIERFIELD"), kRule, "QTX_IDENTIFIERFIELD");
        const std::string containedTable = rules::ComponentTable(db, *containedCno, kRule);
        const std::string ownerTable = rules::ComponentTable(db, *ownerCno, kRule);
        if (containedTable.empty() || ownerTable.empty()) continue;
        out.push_back({column, contained ? containedTable : ownerTable, contained ? ownerTable : containedTable,
                       contained ? *containedCno : *ownerCno, contained ? *ownerCno : *containedCno, *otherFno});
    }
    return out;
}

}  // namespace

std::vector<FeatureKey> DetailRelatedFeatures(const RelatedFeatureQuery& query) {
    std::vector<FeatureKey> out;
    for (const DetailRule& rule : DetailRules(query.db, query.relationship, query.feature.fno))
        for (int64_t id : DetailIds(query.db, rule.ownTable, rule.column, rule.ownCno, query.feature.fid)) {
            auto found = rules::Query(query.db,
                                   "SELECT QTX_FNO, QTX_FID FROM " + rule.otherTable + " WHERE QTX_CNO = ? AND " +
                                       rule.column + " = ? AND QTX_FNO = ? ORDER BY QTX_FID",
                                   {rules::Bound(rule.otherCno), rules::Bound(id), rules::Bound(rule.otherFno)});
            for (size_t f = 0; f < found.Count(); ++f) rules::AddOnce(out, found.At(f, "QTX_FNO"), found.At(f, "QTX_FID"));
        }
    return out;
}

std::vector<std::vector<FeatureKey>> DetailRelatedFeatureSets(const RelatedFeatureSetQuery& query) {
    rules::RelatedSets out(query.fids.size());
    const auto detailRules = DetailRules(query.db, query.relationship, query.fno);
    if (detailRules.empty()) return out;
    const rt::Variant list = rules::NumberList(query.fids);
    for (const DetailRule& rule : detailRules) {
        const rules::FeatureIds ids(
            rules::Query(query.db,
                         "SELECT QTX_FID, " + rule.column + " FROM " + rule.ownTable + " WHERE QTX_CNO = ? AND " +
                             rules::InList("QTX_FID") + " ORDER BY rowid",
                         {rules::Bound(rule.ownCno), list}),
            1, [&](const rules::ImageRows& rows, size_t r, size_t) { return rules::IdOf(rows.At(r, rule.column)); });
        if (ids.Empty()) continue;
        const rules::GroupedRows found(
            rules::Query(query.db,
                         "SELECT " + rule.column + ", QTX_FNO, QTX_FID FROM " + rule.otherTable +
                             " WHERE QTX_CNO = ? AND QTX_FNO = ? AND " + rules::InList(rule.column) +
                             " ORDER BY QTX_FID",
                         {rules::Bound(rule.otherCno), rules::Bound(rule.otherFno), ids.List()}),
            rule.column);
        ids.Emit(query.fids, found, out);
    }
    return out;
}

}  // namespace product
