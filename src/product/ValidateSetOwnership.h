#pragma once
// The related-feature rule of ownership relationships (QTX_TYPE 3) for
// QTX_VALIDATESET.GetValidateSetV. Seen from the owned feature
// (QTX_SUBORDINATE 1): the owners its link columns point at. Seen from the
// owner: the features of the owned classes whose link columns point at it.
//
// For each rule row of the feature's class (QTX_SOURCEFNO on the owned side,
// QTX_OWNERFNO on the owner's): the owned class's link columns live in its
// source component (QTX_SOURCECNO); QTX_OWNERFIELD and QTX_SECONDOWNERFIELD
// hold the QTX_ID of the owner's component row, QTX_OWNERCNOFIELD and
// QTX_SECONDOWNERCNOFIELD (when named) its CNO. The owner's component is the
// relationship's QTX_SUPPORTCNO, else the owner class's primary attribute
// component. A link that is Null or 0, or names another component, points at
// nothing. Each feature once, in the order found.
//
// Every table and column name comes from metadata and must be a plain SQL
// identifier (refused with ORA-06502 otherwise); values are bound.
#include <vector>

#include "product/ValidateSetPackage.h"

namespace product {

std::vector<FeatureKey> OwnershipRelatedFeatures(const RelatedFeatureQuery& query);
std::vector<std::vector<FeatureKey>> OwnershipRelatedFeatureSets(const RelatedFeatureSetQuery& query);

}  // namespace product
