#pragma once
// The database packages that compute a validation set, the features to
// validate and the features related to them:
//
//   QTX_VALIDATESET.DefineFeatures(fnos, fids, flag)
//       fnos and fids: decoded lists of equal length, pair i one feature.
//       flag "Y" replaces the definition with the pairs, "N" adds them, so
//       that a definition split over several calls, all "N", is whole.
//   QTX_VALIDATESET.GetValidateSetV(list)
//       list: a value list of relationship numbers ("2;3;"), Null or "".
//       Hands back the rows QTX_FNO, QTX_FID, PENDING, QTX_RELATED_FID,
//       QTX_RELATED_FNO, QTX_RNO: one row with PENDING 1 per defined feature,
//       in the order defined; then, per defined feature and per number of the
//       list that applies to its FNO (QTX_FEATRELATIONSHIPS_OPTABLE), in list
//       order, one row with PENDING 0 per related feature: its own FNO and
//       FID, the defined feature as QTX_RELATED_*, the number. An empty list
//       gives the pending rows only. The call consumes the definition, also
//       when it fails, so that no run sees the features of an earlier one.
//   QTX_VALIDATESET_PROD.DefineFeaturesFromPendingEdits
//       Replaces the definition with the features QTX_WORKOPERATIONS wrote
//       since the context's last Commit or Rollback.
//
// A feature is defined once however often it is given. The definition is
// package state of the session (PackageState), as package variables are:
// savepoints and rollbacks do not touch it.
//
// Which features are related to a feature through a relationship is the
// business of the relationship's type: one rule per QTX_TYPE (of
// QTX_RELATIONSHIPS_OPTABLE in the database). A number without a row, or
// whose type has no rule, relates nothing.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "product/DatabasePackages.h"

namespace product {

class SqliteConnection;

// What a rule is asked: one relationship and one defined feature.
struct RelatedFeatureQuery {
    SqliteConnection& db;
    int64_t rno = 0;
    // The relationship's row of QTX_RELATIONSHIPS_OPTABLE by upper-cased
    // column name (QTX_TYPE, QTX_OPTIMIZEDTABLE, QTX_SUBORDINATE ...).
    const std::map<std::string, rt::Variant>& relationship;
    FeatureKey feature;
};

// The features related to the query's feature, in the order the rows come;
// a failure fails the GetValidateSetV call.
using RelatedFeatureRule = std::function<std::vector<FeatureKey>(const RelatedFeatureQuery&)>;

// What a set-based rule is asked: one relationship and the defined features
// of one FNO, each FID once, in the order defined.
struct RelatedFeatureSetQuery {
    SqliteConnection& db;
    int64_t rno = 0;
    const std::map<std::string, rt::Variant>& relationship;
    int64_t fno = 0;
    const std::vector<int64_t>& fids;
};

// For each FID of the query, in its order, what the rule gives the feature.
using RelatedFeatureSetRule = std::function<std::vector<std::vector<FeatureKey>>(const RelatedFeatureSetQuery&)>;

// Registers (or, with an empty rule, removes) the rule of a QTX_TYPE, for
// every session of the process; a set-based form, when given, must relate
// what the rule relates, in the same order.
void RegisterRelatedFeatureRule(int32_t type, RelatedFeatureRule rule, RelatedFeatureSetRule setRule = {});

// Registers QTX_VALIDATESET and QTX_VALIDATESET_PROD.
void RegisterValidateSetPackages(PackageRegistry& registry);

// The session's definition, for tests and tools.
const FeatureKeyList& DefinedFeatures(PackageState& state);

}  // namespace product
