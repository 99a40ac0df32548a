#pragma once
// The related-feature rule of dimensioning relationships (QTX_TYPE 6) for
// QTX_VALIDATESET.GetValidateSetV. Seen from the dimension (QTX_FNOFIELD
// "QTX_DIMFNO"): the features owning the rows the dimension's references name
// (a component number and a QTX_ID, in the columns its dimension table
// names). Seen from the dimensioned feature: the dimensions whose references
// name a row of the feature's dimensioned components (QTX_CONNECTEDCNO of the
// rule table). Each feature once, in the order found.
//
// Every table and column name comes from metadata and must be a plain SQL
// identifier (refused with ORA-06502 otherwise); values are bound.
#include <vector>

#include "product/ValidateSetPackage.h"

namespace product {

std::vector<FeatureKey> DimensioningRelatedFeatures(const RelatedFeatureQuery& query);
std::vector<std::vector<FeatureKey>> DimensioningRelatedFeatureSets(const RelatedFeatureSetQuery& query);

}  // namespace product
