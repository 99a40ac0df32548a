#include "product/ValidateSetM2MOwnership.h"

#include <optional>
#include <string>

#include "product/SqliteConnection.h"
#include "product/ValidateSetRules.h"

namespace product {

namespace {

// The support component's table and the side of a relationship; nullopt
// when the support component has no table.
struct M2MSide {
    int64_t supportCno = 0;
    std::string table;
    bool owned = false;
};
template <class Asked>
std::optional<M2MSide> SideOf(const Asked& query) {
    auto supportCno = rules::NumberOf(rules::Column(query, "QTX_SUPPORTCNO"));
    if (!supportCno) return std::nullopt;
    M2MSide side{*supportCno, rules::ComponentTable(query.db, *supportCno, "many-to-many ownership"), false};
    if (side.table.empty()) return std::nullopt;
    side.owned = rules::NumberOf(rules::Column(query, "QTX_SUBORDINATE")).value_or(0) == 1;
    return side;
}

}  // namespace

std::vector<FeatureKey> M2MOwnershipRelatedFeatures(const RelatedFeatureQuery& query) {
    std::vector<FeatureKey> out;
    const auto side = SideOf(query);
    if (!side) return out;
    if (side->owned) {
        auto rows = rules::Query(query.db,
                                 "SELECT QTX_OWNERFNO, QTX_OWNERFID FROM " + side->table +
                                     " WHERE QTX_FID = ? AND QTX_CNO = ? AND QTX_OWNERFNO <> 0 AND QTX_OWNERFID <> 0 "
                                     "ORDER BY QTX_CID",
                                 {rules::Bound(query.feature.fid), rules::Bound(side->supportCno)});
        for (size_t r = 0; r < rows.Count(); ++r) rules::AddOnce(out, rows.At(r, "QTX_OWNERFNO"), rows.At(r, "QTX_OWNERFID"));
    } else {
        auto rows = rules::Query(query.db,
                                 "SELECT QTX_FNO, QTX_FID FROM " + side->table +
                                     " WHERE QTX_OWNERFID = ? AND QTX_OWNERFNO = ? AND QTX_CNO = ? "
                                     "ORDER BY QTX_FID, QTX_CID",
                                 {rules::Bound(query.feature.fid), rules::Bound(query.feature.fno),
                                  rules::Bound(side->supportCno)});
        for (size_t r = 0; r < rows.Count(); ++r) rules::AddOnce(out, rows.At(r, "QTX_FNO"), rows.At(r, "QTX_FID"));
    }
    return out;
}

std::vector<std::vector<FeatureKey>> M2MOwnershipRelatedFeatureSets(const RelatedFeatureSetQuery& query) {
    const auto side = SideOf(query);
    if (!side) return rules::RelatedSets(query.fids.size());
    const rt::Variant list = rules::NumberList(query.fids);
    if (side->owned)
        return rules::GroupedRows(rules::Query(query.db,
                                               "SELECT QTX_FID, QTX_OWNERFNO, QTX_OWNERFID FROM " + side->table +
                                                   " WHERE QTX_CNO = ? AND " + rules::InList("QTX_FID") +
                                                   " AND QTX_OWNERFNO <> 0 AND QTX_OWNERFID <> 0 ORDER BY QTX_CID",
                                               {rules::Bound(side->supportCno), list}),
                                  "QTX_FID")
            .FeaturesOf(query.fids, "QTX_OWNERFNO", "QTX_OWNERFID");
    return rules::GroupedRows(rules::Query(query.db,
                                           "SELECT QTX_OWNERFID, QTX_FNO, QTX_FID FROM " + side->table + " WHERE " +
                                               rules::InList("QTX_OWNERFID") +
                                               " AND QTX_OWNERFNO = ? AND QTX_CNO = ? ORDER BY QTX_FID, QTX_CID",
                                           {list, rules::Bound(query.fno), rules::Bound(side->supportCno)}),
                              "QTX_OWNERFID")
        .FeaturesOf(query.fids);
}

}  // namespace product
