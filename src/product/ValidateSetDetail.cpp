#include "product/ValidateSetDetail.h"

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
        if (auto id = rules::NumberOf(rows.At(r, column)); id && *id != 0) ids.push_back(*id);
    return ids;
}

}  // namespace

std::vector<FeatureKey> DetailRelatedFeatures(const RelatedFeatureQuery& query) {
    std::vector<FeatureKey> out;
    const std::string ruleTable = rules::Name(rules::Column(query, "QTX_OPTIMIZEDTABLE"), kRule, "QTX_OPTIMIZEDTABLE");
    const bool contained = rules::NumberOf(rules::Column(query, "QTX_SUBORDINATE")).value_or(0) == 1;
    auto rows = rules::Query(query.db,
                          "SELECT * FROM " + ruleTable + (contained ? " WHERE QTX_CONTAINEDFNO = ?" : " WHERE QTX_FNO = ?"),
                          {rules::Bound(query.feature.fno)});
    for (size_t r = 0; r < rows.Count(); ++r) {
        auto containedCno = rules::NumberOf(rows.At(r, "QTX_CONTAINEDTRIGGERINGCNO"));
        auto ownerCno = rules::NumberOf(rows.At(r, "QTX_ATTRIBUTECNO"));
        auto otherFno = rules::NumberOf(rows.At(r, contained ? "QTX_FNO" : "QTX_CONTAINEDFNO"));
        if (!containedCno || !ownerCno || !otherFno) continue;
        const std::string column = rules::Name(rows.At(r, "QTX_IDENTIFIERFIELD"), kRule, "QTX_IDENTIFIERFIELD");
        const std::string containedTable = rules::ComponentTable(query.db, *containedCno, kRule);
        const std::string ownerTable = rules::ComponentTable(query.db, *ownerCno, kRule);
        if (containedTable.empty() || ownerTable.empty()) continue;
        const std::string& ownTable = contained ? containedTable : ownerTable;
        const std::string& otherTable = contained ? ownerTable : containedTable;
        const int64_t ownCno = contained ? *containedCno : *ownerCno;
        const int64_t otherCno = contained ? *ownerCno : *containedCno;
        for (int64_t id : DetailIds(query.db, ownTable, column, ownCno, query.feature.fid)) {
            auto found = rules::Query(query.db,
                                   "SELECT QTX_FNO, QTX_FID FROM " + otherTable + " WHERE QTX_CNO = ? AND " + column +
                                       " = ? AND QTX_FNO = ? ORDER BY QTX_FID",
                                   {rules::Bound(otherCno), rules::Bound(id), rules::Bound(*otherFno)});
            for (size_t f = 0; f < found.Count(); ++f) rules::AddOnce(out, found.At(f, "QTX_FNO"), found.At(f, "QTX_FID"));
        }
    }
    return out;
}

}  // namespace product
