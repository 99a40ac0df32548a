#pragma once
// The related-feature rule of many-to-many ownership relationships
// (QTX_TYPE 8) for QTX_VALIDATESET.GetValidateSetV, read from the support
// component's rows (QTX_SUPPORTCNO of the relationship; one row per owner of
// an owned feature, QTX_OWNERFNO and QTX_OWNERFID). Seen from the owned
// feature (QTX_SUBORDINATE 1): its owners, in row order; free rows (owner
// Null or 0) name none. Seen from the owner: the features whose rows name it.
// Each feature once.
//
// The support table comes from metadata and must be a plain SQL identifier
// (ORA-06502 otherwise); values are bound.
#include <vector>

#include "product/ValidateSetPackage.h"

namespace product {

std::vector<FeatureKey> M2MOwnershipRelatedFeatures(const RelatedFeatureQuery& query);
std::vector<std::vector<FeatureKey>> M2MOwnershipRelatedFeatureSets(const RelatedFeatureSetQuery& query);

}  // namespace product
