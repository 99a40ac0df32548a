#include "product/ValidateSetConnectivity.h"

#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "product/ValidateSetRules.h"

namespace product {

namespace {

using namespace rules;

// The support table of the relationship; "" when it has none.
std::string SupportTable(SqliteConnection& db, const rt::Variant& supportCno, const char* rule) {
    auto cno = NumberOf(supportCno);
    if (!cno) return "";
    return rules::ComponentTable(db, *cno, rule);
}

bool IsFeature(const FeatureKey& key, const rt::Variant& fno, const rt::Variant& fid) {
    return NumberOf(fno) == key.fno && NumberOf(fid) == key.fid;
}

constexpr const char* kNodeEdge = "node-edge connectivity";
constexpr const char* kNodeOrdered = "node-ordered connectivity";

// The support table and its two node columns; nullopt when the
// relationship names no table or no node columns.
struct NodeColumns {
    std::string table, a, b;
};
std::optional<NodeColumns> NodeColumnsOf(SqliteConnection& db, const std::map<std::string, rt::Variant>& relationship) {
    const rt::Variant& parameters = Column(relationship, "QTX_ADDITIONALPARAMETERS");
    NodeColumns out;
    out.table = SupportTable(db, Column(relationship, "QTX_SUPPORTCNO"), kNodeEdge);
    if (out.table.empty() || !parameters.IsString()) return std::nullopt;
    const std::string text = parameters.Str();
    const size_t p1 = text.find(',');
    const size_t p2 = p1 == std::string::npos ? p1 : text.find(',', p1 + 1);
    if (p2 == std::string::npos) return std::nullopt;
    out.a = rules::Name(rt::Variant(text.substr(0, p1)), kNodeEdge, "node column 1");
    out.b = rules::Name(rt::Variant(text.substr(p1 + 1, p2 - p1 - 1)), kNodeEdge, "node column 2");
    return out;
}

// The non-zero nodes of some support rows, each once, in row order.
std::vector<int64_t> NodesOf(const ImageRows& rows, const std::vector<size_t>& which, const NodeColumns& n) {
    std::vector<int64_t> nodes;
    for (size_t r : which)
        for (const std::string& column : {n.a, n.b}) {
            auto node = NumberOf(rows.At(r, column));
            if (!node || *node == 0) continue;
            bool seen = false;
            for (int64_t m : nodes) seen = seen || m == *node;
            if (!seen) nodes.push_back(*node);
        }
    return nodes;
}

// The (feature-number column, identifier column) of the input and output
// ends; nullopt when a parameter is missing or given twice.
std::optional<std::vector<std::pair<std::string, std::string>>> EndColumns(SqliteConnection& db, int64_t rno) {
    std::vector<std::pair<std::string, std::string>> ends;
    for (const char* end : {"Input", "Output"}) {
        std::string columns[2];
        const std::string names[2] = {std::string(end) + "FeatureNumber", std::string(end) + "Identifier"};
        for (int i = 0; i < 2; ++i) {
            auto rows = Query(db, "SELECT QTX_PARAMVALUE FROM QTX_ADD_REL_PARAMS_OPTABLE WHERE QTX_PARAMNAME = ?",
                              {rt::Variant(std::to_string(rno) + "-" + names[i])});
            if (rows.Count() != 1) return std::nullopt;
            columns[i] = rules::Name(rows.At(0, "QTX_PARAMVALUE"), kNodeOrdered, names[i]);
        }
        ends.emplace_back(columns[0], columns[1]);
    }
    return ends;
}

// What the feature's own support rows name at either end.
void AddEnds(std::vector<FeatureKey>& out, const FeatureKey& feature, const ImageRows& own,
             const std::vector<size_t>& which, const std::vector<std::pair<std::string, std::string>>& ends) {
    for (size_t r : which)
        for (const auto& [fno, fid] : ends) {
            auto n = NumberOf(own.At(r, fno)), f = NumberOf(own.At(r, fid));
            if (!n || !f || *n == 0 || *f == 0 || (*n == feature.fno && *f == feature.fid)) continue;
            AddOnce(out, own.At(r, fno), own.At(r, fid));
        }
}

// Adds the features of the rows, the feature itself left out.
void AddOthers(std::vector<FeatureKey>& out, const FeatureKey& feature, const ImageRows& rows,
               const std::vector<size_t>& which) {
    for (size_t r : which)
        if (!IsFeature(feature, rows.At(r, "QTX_FNO"), rows.At(r, "QTX_FID")))
            AddOnce(out, rows.At(r, "QTX_FNO"), rows.At(r, "QTX_FID"));
}

std::vector<size_t> AllRows(const ImageRows& rows) {
    std::vector<size_t> all(rows.Count());
    for (size_t r = 0; r < all.size(); ++r) all[r] = r;
    return all;
}

}  // namespace

std::vector<FeatureKey> NodeEdgeRelatedFeatures(const RelatedFeatureQuery& query) {
    std::vector<FeatureKey> out;
    const auto n = NodeColumnsOf(query.db, query.relationship);
    if (!n) return out;
    const FeatureKey& feature = query.feature;
    auto own = Query(query.db, "SELECT " + n->a + ", " + n->b + " FROM " + n->table + " WHERE QTX_FID = ? AND QTX_FNO = ?",
                     {Bound(feature.fid), Bound(feature.fno)});
    for (int64_t node : NodesOf(own, AllRows(own), *n)) {
        auto rows = Query(query.db,
                          "SELECT QTX_FNO, QTX_FID FROM " + n->table + " WHERE " + n->a + " = ? OR " + n->b +
                              " = ? ORDER BY QTX_FNO, QTX_FID",
                          {Bound(node), Bound(node)});
        AddOthers(out, feature, rows, AllRows(rows));
    }
    return out;
}

RelatedSets NodeEdgeRelatedFeatureSets(const RelatedFeatureSetQuery& query) {
    RelatedSets out(query.fids.size());
    const auto n = NodeColumnsOf(query.db, query.relationship);
    if (!n) return out;
    auto own = Query(query.db,
                     "SELECT QTX_FID, " + n->a + ", " + n->b + " FROM " + n->table + " WHERE QTX_FNO = ? AND " +
                         InList("QTX_FID") + " ORDER BY rowid",
                     {Bound(query.fno), NumberList(query.fids)});
    const auto ownOf = GroupBy(own, "QTX_FID");
    std::vector<std::vector<int64_t>> nodes(query.fids.size());
    NumberSet all;
    for (size_t j = 0; j < query.fids.size(); ++j) {
        nodes[j] = NodesOf(own, RowsOf(ownOf, query.fids[j]), *n);
        for (int64_t node : nodes[j]) all.Add(node);
    }
    if (all.Empty()) return out;
    const rt::Variant list = NumberList(all.List());
    auto rows = Query(query.db,
                      "SELECT QTX_FNO, QTX_FID, " + n->a + ", " + n->b + " FROM " + n->table + " WHERE " + InList(n->a) +
                          " OR " + InList(n->b) + " ORDER BY QTX_FNO, QTX_FID",
                      {list, list});
    // The rows of each node, in the rows' order.
    std::unordered_map<int64_t, std::vector<size_t>> byNode;
    for (size_t r = 0; r < rows.Count(); ++r) {
        auto x = NumberOf(rows.At(r, n->a)), y = NumberOf(rows.At(r, n->b));
        if (x) byNode[*x].push_back(r);
        if (y && y != x) byNode[*y].push_back(r);
    }
    for (size_t j = 0; j < query.fids.size(); ++j)
        for (int64_t node : nodes[j]) AddOthers(out[j], {query.fno, query.fids[j]}, rows, RowsOf(byNode, node));
    return out;
}

std::vector<FeatureKey> NodeOrderedRelatedFeatures(const RelatedFeatureQuery& query) {
    std::vector<FeatureKey> out;
    const std::string table = SupportTable(query.db, Column(query, "QTX_SUPPORTCNO"), kNodeOrdered);
    if (table.empty()) return out;
    const auto ends = EndColumns(query.db, query.rno);
    if (!ends) return out;
    const FeatureKey& feature = query.feature;
    auto own = Query(query.db, "SELECT * FROM " + table + " WHERE QTX_FID = ? AND QTX_FNO = ?",
                     {Bound(feature.fid), Bound(feature.fno)});
    AddEnds(out, feature, own, AllRows(own), *ends);
    for (const auto& [fno, fid] : *ends) {
        auto rows = Query(query.db,
                          "SELECT QTX_FNO, QTX_FID FROM " + table + " WHERE " + fno + " = ? AND " + fid +
                              " = ? ORDER BY QTX_FNO, QTX_FID",
                          {Bound(feature.fno), Bound(feature.fid)});
        AddOthers(out, feature, rows, AllRows(rows));
    }
    return out;
}

RelatedSets NodeOrderedRelatedFeatureSets(const RelatedFeatureSetQuery& query) {
    RelatedSets out(query.fids.size());
    const std::string table = SupportTable(query.db, Column(query, "QTX_SUPPORTCNO"), kNodeOrdered);
    if (table.empty()) return out;
    const auto ends = EndColumns(query.db, query.rno);
    if (!ends) return out;
    const rt::Variant list = NumberList(query.fids);
    auto own = Query(query.db, "SELECT * FROM " + table + " WHERE QTX_FNO = ? AND " + InList("QTX_FID") + " ORDER BY rowid",
                     {Bound(query.fno), list});
    const auto ownOf = GroupBy(own, "QTX_FID");
    for (size_t j = 0; j < query.fids.size(); ++j)
        AddEnds(out[j], {query.fno, query.fids[j]}, own, RowsOf(ownOf, query.fids[j]), *ends);
    for (const auto& [fno, fid] : *ends) {
        auto rows = Query(query.db,
                          "SELECT QTX_FNO, QTX_FID, " + fid + " FROM " + table + " WHERE " + fno + " = ? AND " +
                              InList(fid) + " ORDER BY QTX_FNO, QTX_FID",
                          {Bound(query.fno), list});
        const auto naming = GroupBy(rows, fid);
        for (size_t j = 0; j < query.fids.size(); ++j)
            AddOthers(out[j], {query.fno, query.fids[j]}, rows, RowsOf(naming, query.fids[j]));
    }
    return out;
}

}  // namespace product
