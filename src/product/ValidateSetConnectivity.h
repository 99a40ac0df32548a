#pragma once
// The related-feature rules of the two connectivity relationships for
// QTX_VALIDATESET.GetValidateSetV.
//
// Node-edge (QTX_TYPE 2): the features whose support rows (the table of
// QTX_SUPPORTCNO) hold one of the feature's non-zero node values in either
// node column (the first two parts of QTX_ADDITIONALPARAMETERS).
//
// Node-ordered (QTX_TYPE 9): the features the feature's support rows name at
// either end, then the features whose support rows name it at either end;
// the end columns are the parameters "<rno>-InputFeatureNumber",
// "-InputIdentifier", "-OutputFeatureNumber", "-OutputIdentifier" of
// QTX_ADD_REL_PARAMS_OPTABLE (a relationship without them relates nothing).
//
// The feature itself is never related to itself; each feature once, in the
// order found. Table and column names must be plain identifiers (ORA-06502
// otherwise); values are bound.
#include <vector>

#include "product/ValidateSetPackage.h"

namespace product {

std::vector<FeatureKey> NodeEdgeRelatedFeatures(const RelatedFeatureQuery& query);
std::vector<std::vector<FeatureKey>> NodeEdgeRelatedFeatureSets(const RelatedFeatureSetQuery& query);
std::vector<FeatureKey> NodeOrderedRelatedFeatures(const RelatedFeatureQuery& query);
std::vector<std::vector<FeatureKey>> NodeOrderedRelatedFeatureSets(const RelatedFeatureSetQuery& query);

}  // namespace product
