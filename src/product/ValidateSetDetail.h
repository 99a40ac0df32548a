#pragma once
// The related-feature rule of detail relationships (QTX_TYPE 4) for
// QTX_VALIDATESET.GetValidateSetV. Seen from the contained feature
// (QTX_SUBORDINATE 1): the detail owners whose attribute component
// (QTX_ATTRIBUTECNO) holds, in the QTX_IDENTIFIERFIELD column, a detail id of
// the feature's triggering component (QTX_CONTAINEDTRIGGERINGCNO). Seen from
// the owner: the contained features holding one of its detail ids. Ids that
// are Null or 0 tie nothing. Each feature once, in the order found.
//
// Table and column names come from metadata and must be plain SQL
// identifiers (ORA-06502 otherwise); values are bound.
#include <vector>

#include "product/ValidateSetPackage.h"

namespace product {

std::vector<FeatureKey> DetailRelatedFeatures(const RelatedFeatureQuery& query);
std::vector<std::vector<FeatureKey>> DetailRelatedFeatureSets(const RelatedFeatureSetQuery& query);

}  // namespace product
