#pragma once
// The database package QTX_WORKOPERATIONS, through which the system writes
// the pending rows of components:
//
//   SetCurrentOperation(name)   names the operation under way ('' or Null: none)
//   BeginOperations             opens a batch
//   UPDATEFEATURES(60 lists)    applies the decoded work-operation lists
//   EndOperations               inserts the batch's new rows and closes it
//   CancelOperations            drops the batch
//
// UPDATEFEATURES takes ten groups of decoded lists, entry i of every list of
// a group being one operation: new attribute values (numeric, string,
// date), new geometry values, set attribute values (numeric, string, date),
// set geometry values, deleted component rows, deleted geometry groups. A
// component is named by its QTX_NAME and resolved to its table and QTX_CNO
// through QTX_COMPONENTINFO_OPTABLE; its geometry lies in "<table>_SDOGEOM".
// Field names must be columns of the table; they reach the SQL only as the
// table's own column names, quoted.
//
// Within a call deletions come first (component rows of (FID, CNO, CID), all
// geometry rows of (FID, CNO, CID)), then sets (the row of (FID, CNO, CID),
// for geometry also SDO_ESEQ and SDO_SEQ; a row that is not there fails with
// ORA-01403). The values of one new row are gathered across calls, so that a
// row split over several calls is inserted as one row; the new rows are
// inserted by EndOperations (by UPDATEFEATURES itself when no batch is
// open), after every deletion of the batch.
//
// Errors: a malformed list or entry ORA-06502, an unknown component
// ORA-20001, an unknown column ORA-00904, a missing table ORA-00942, a value
// the column cannot take ORA-01722 / ORA-01861 / ORA-00932, constraint
// violations as the database reports them. The calling block rolls back to
// its savepoint; the package keeps nothing of a cancelled batch.
//
// The package also records which features its batches wrote (below), so
// that the pending edits of a transaction can be validated.
#include <string>

#include "product/DatabasePackages.h"

namespace product {

void RegisterWorkOperationsPackage(PackageRegistry& registry);

// The state of the session's package, for tests and tools.
std::string CurrentWorkOperation(PackageState& state);
bool WorkOperationsBegun(PackageState& state);
// The number of new rows gathered and not yet inserted.
size_t PendingNewRowCount(PackageState& state);

// The features (FNO, FID of every operation) that the batches written since
// the record was last forgotten wrote, in order of first write: a batch
// counts once EndOperations inserted its rows (a call without a batch once
// it succeeded); a cancelled batch adds nothing, and a batch whose work is
// rolled back (to a savepoint set before it ended, or whole) is taken off. The data context forgets
// the record at Commit and Rollback; QTX_VALIDATESET_PROD reads it.
const FeatureKeyList& WrittenFeatures(PackageState& state);
void ForgetWrittenFeatures(PackageState& state);

}  // namespace product
