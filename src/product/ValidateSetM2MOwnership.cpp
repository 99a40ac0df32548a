#include "product/ValidateSetM2MOwnership.h"

#include <string>

#include "product/SqliteConnection.h"
#include "product/ValidateSetRules.h"

namespace product {

std::vector<FeatureKey> M2MOwnershipRelatedFeatures(const RelatedFeatureQuery& query) {
    std::vector<FeatureKey> out;
    auto supportCno = rules::NumberOf(rules::Column(query, "QTX_SUPPORTCNO"));
    if (!supportCno) return out;
    const std::string table = rules::ComponentTable(query.db, *supportCno, "many-to-many ownership");
    if (table.empty()) return out;
    const bool owned = rules::NumberOf(rules::Column(query, "QTX_SUBORDINATE")).value_or(0) == 1;
    if (owned) {
        auto rows = rules::Query(query.db,
                              "SELECT QTX_OWNERFNO, QTX_OWNERFID FROM " + table +
                                  " WHERE QTX_FID = ? AND QTX_CNO = ? AND QTX_OWNERFNO <> 0 AND QTX_OWNERFID <> 0 "
                                  "ORDER BY QTX_CID",
                              {rules::Bound(query.feature.fid), rules::Bound(*supportCno)});
        for (size_t r = 0; r < rows.Count(); ++r) rules::AddOnce(out, rows.At(r, "QTX_OWNERFNO"), rows.At(r, "QTX_OWNERFID"));
    } else {
        auto rows = rules::Query(query.db,
                              "SELECT QTX_FNO, QTX_FID FROM " + table +
                                  " WHERE QTX_OWNERFID = ? AND QTX_OWNERFNO = ? AND QTX_CNO = ? ORDER BY QTX_FID, QTX_CID",
                              {rules::Bound(query.feature.fid), rules::Bound(query.feature.fno), rules::Bound(*supportCno)});
        for (size_t r = 0; r < rows.Count(); ++r) rules::AddOnce(out, rows.At(r, "QTX_FNO"), rows.At(r, "QTX_FID"));
    }
    return out;
}

std::vector<std::vector<FeatureKey>> M2MOwnershipRelatedFeatureSets(const RelatedFeatureSetQuery& query) {
    rules::RelatedSets out(query.fids.size());
    auto supportCno = rules::NumberOf(rules::Column(query, "QTX_SUPPORTCNO"));
    if (!supportCno) return out;
    const std::string table = rules::ComponentTable(query.db, *supportCno, "many-to-many ownership");
    if (table.empty()) return out;
    const bool owned = rules::NumberOf(rules::Column(query, "QTX_SUBORDINATE")).value_or(0) == 1;
    const rt::Variant list = rules::NumberList(query.fids);
    if (owned) {
        auto rows = rules::Query(query.db,
                                 "SELECT QTX_FID, QTX_OWNERFNO, QTX_OWNERFID FROM " + table + " WHERE QTX_CNO = ? AND " +
                                     rules::InList("QTX_FID") + " AND QTX_OWNERFNO <> 0 AND QTX_OWNERFID <> 0 ORDER BY QTX_CID",
                                 {rules::Bound(*supportCno), list});
        const auto rowsOf = rules::GroupBy(rows, "QTX_FID");
        for (size_t j = 0; j < query.fids.size(); ++j)
            for (size_t r : rules::RowsOf(rowsOf, query.fids[j]))
                rules::AddOnce(out[j], rows.At(r, "QTX_OWNERFNO"), rows.At(r, "QTX_OWNERFID"));
    } else {
        auto rows = rules::Query(query.db,
                                 "SELECT QTX_OWNERFID, QTX_FNO, QTX_FID FROM " + table + " WHERE " +
                                     rules::InList("QTX_OWNERFID") +
                                     " AND QTX_OWNERFNO = ? AND QTX_CNO = ? ORDER BY QTX_FID, QTX_CID",
                                 {list, rules::Bound(query.fno), rules::Bound(*supportCno)});
        const auto rowsOf = rules::GroupBy(rows, "QTX_OWNERFID");
        for (size_t j = 0; j < query.fids.size(); ++j)
            for (size_t r : rules::RowsOf(rowsOf, query.fids[j])) rules::AddOnce(out[j], rows.At(r, "QTX_FNO"), rows.At(r, "QTX_FID"));
    }
    return out;
}

}  // namespace product
