#pragma once
// The database package QTX_CONTAINMENT_TRACE with its collection type
// QTX_CONTAINMENT_TYPE (attributes QTX_FNO, QTX_FID), which the hierarchy
// text of many-to-many ownership calls inside its statements:
//
//   QTX_CONTAINMENT_TRACE.Initialize(table, fno column, fid column, fid text)
//       Gathers the traced set of the session: the start feature (the FID)
//       and every feature below it, reached through the two owner columns
//       of the table (a row's QTX_FNO, QTX_FID is owned by the feature its
//       owner columns name). Cycles in the data end where a feature is met
//       again. Returns the size of the set, the start counted. The names
//       must be plain SQL identifiers (ORA-06502 otherwise); the FID text a
//       whole number.
//   QTX_CONTAINMENT_TRACE.RestrictSet
//       The traced set as a collection of QTX_CONTAINMENT_TYPE, in FID order;
//       empty before Initialize. The start's FNO is the one its owner rows
//       name (Null when it owns nothing).
//
// The set is package state of the session, as package variables are.
#include "product/DatabasePackages.h"

namespace product {

void RegisterContainmentTracePackage(PackageRegistry& registry);

}  // namespace product
