#include "product/ValidateSetConnectivity.h"

#include <string>

#include "product/ValidateSetRules.h"

namespace product {

namespace {

using rules::AddOnce;
using rules::Bound;
using rules::NumberOf;
using rules::Query;

const rt::Variant& Column(const RelatedFeatureQuery& query, const char* name) { return rules::Column(query, name); }

// The support table of the relationship; "" when it has none.
std::string SupportTable(const RelatedFeatureQuery& query, const char* rule) {
    auto cno = NumberOf(Column(query, "QTX_SUPPORTCNO"));
    if (!cno) return "";
    return rules::ComponentTable(query.db, *cno, rule);
}

bool IsFeature(const FeatureKey& key, const rt::Variant& fno, const rt::Variant& fid) {
    return NumberOf(fno) == key.fno && NumberOf(fid) == key.fid;
}

}  // namespace

std::vector<FeatureKey> NodeEdgeRelatedFeatures(const RelatedFeatureQuery& query) {
    std::vector<FeatureKey> out;
    const char* rule = "node-edge connectivity";
    const rt::Variant& parameters = Column(query, "QTX_ADDITIONALPARAMETERS");
    const std::string table = SupportTable(query, rule);
    if (table.empty() || !parameters.IsString()) return out;
    const std::string text = parameters.Str();
    const size_t p1 = text.find(',');
    const size_t p2 = p1 == std::string::npos ? p1 : text.find(',', p1 + 1);
    if (p2 == std::string::npos) return out;
    const std::string a = rules::Name(rt::Variant(text.substr(0, p1)), rule, "node column 1");
    const std::string b = rules::Name(rt::Variant(text.substr(p1 + 1, p2 - p1 - 1)), rule, "node column 2");

    const FeatureKey& feature = query.feature;
    auto own = Query(query.db, "SELECT " + a + ", " + b + " FROM " + table + " WHERE QTX_FID = ? AND QTX_FNO = ?",
                     {Bound(feature.fid), Bound(feature.fno)});
    std::vector<int64_t> nodes;
    for (size_t r = 0; r < own.Count(); ++r)
        for (const std::string& column : {a, b}) {
            auto node = NumberOf(own.At(r, column));
            if (!node || *node == 0) continue;
            bool seen = false;
            for (int64_t n : nodes) seen = seen || n == *node;
            if (!seen) nodes.push_back(*node);
        }
    for (int64_t node : nodes) {
        auto rows = Query(query.db,
                          "SELECT QTX_FNO, QTX_FID FROM " + table + " WHERE " + a + " = ? OR " + b +
                              " = ? ORDER BY QTX_FNO, QTX_FID",
                          {Bound(node), Bound(node)});
        for (size_t r = 0; r < rows.Count(); ++r)
            if (!IsFeature(feature, rows.At(r, "QTX_FNO"), rows.At(r, "QTX_FID")))
                AddOnce(out, rows.At(r, "QTX_FNO"), rows.At(r, "QTX_FID"));
    }
    return out;
}

std::vector<FeatureKey> NodeOrderedRelatedFeatures(const RelatedFeatureQuery& query) {
    std::vector<FeatureKey> out;
    const char* rule = "node-ordered connectivity";
    const std::string table = SupportTable(query, rule);
    if (table.empty()) return out;
    // (feature-number column, identifier column) of the input and output ends.
    std::vector<std::pair<std::string, std::string>> ends;
    for (const char* end : {"Input", "Output"}) {
        std::string columns[2];
        const std::string names[2] = {std::string(end) + "FeatureNumber", std::string(end) + "Identifier"};
        for (int i = 0; i < 2; ++i) {
            auto rows = Query(query.db, "SELECT QTX_PARAMVALUE FROM QTX_ADD_REL_PARAMS_OPTABLE WHERE QTX_PARAMNAME = ?",
                              {rt::Variant(std::to_string(query.rno) + "-" + names[i])});
            if (rows.Count() != 1) return out;
            columns[i] = rules::Name(rows.At(0, "QTX_PARAMVALUE"), rule, names[i]);
        }
        ends.emplace_back(columns[0], columns[1]);
    }
    const FeatureKey& feature = query.feature;
    auto own = Query(query.db, "SELECT * FROM " + table + " WHERE QTX_FID = ? AND QTX_FNO = ?",
                     {Bound(feature.fid), Bound(feature.fno)});
    for (size_t r = 0; r < own.Count(); ++r)
        for (const auto& [fno, fid] : ends) {
            auto n = NumberOf(own.At(r, fno)), f = NumberOf(own.At(r, fid));
            if (!n || !f || *n == 0 || *f == 0 || (*n == feature.fno && *f == feature.fid)) continue;
            AddOnce(out, own.At(r, fno), own.At(r, fid));
        }
    for (const auto& [fno, fid] : ends) {
        auto rows = Query(query.db,
                          "SELECT QTX_FNO, QTX_FID FROM " + table + " WHERE " + fno + " = ? AND " + fid +
                              " = ? ORDER BY QTX_FNO, QTX_FID",
                          {Bound(feature.fno), Bound(feature.fid)});
        for (size_t r = 0; r < rows.Count(); ++r)
            if (!IsFeature(feature, rows.At(r, "QTX_FNO"), rows.At(r, "QTX_FID")))
                AddOnce(out, rows.At(r, "QTX_FNO"), rows.At(r, "QTX_FID"));
    }
    return out;
}

}  // namespace product
