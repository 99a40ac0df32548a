#pragma once
// Field descriptors from metadata rows, and the defaults they give a new row.
#include <memory>
#include <string>

#include "pelmora/features/FieldInfo.h"

namespace ado {
class Recordset;
}

namespace pelmora {

// A new collection of FieldInfo keyed by QTX_FIELD, one per row of attribute
// rows (QTX_FIELD, QTX_ANO, DATA_DEFAULT, QTX_RELATIONIFACEPROGID,
// QTX_RELATIONIFACETYPE, QTX_RIARGGROUPNO, QTX_RELATIONIFACEPRJNO). Empty,
// never nullptr, for a recordset without rows; the recordset is left at its
// end. A field named again (letter case aside) keeps its first row's
// descriptor. A missing column raises.
std::shared_ptr<FieldInfoCollection> BuildFieldInfoCollection(const std::shared_ptr<ado::Recordset>& Recordset);

// Writes each non-Null, non-Empty DefaultValue of the collection into the
// field of that name on the recordset's current row, in collection order. A
// name that is not a field of the row raises ADO's 3265, its description
// naming the attribute (ANO and field) and the component given.
void ApplyFieldDefaults(const std::shared_ptr<ado::Recordset>& Recordset,
                        const std::shared_ptr<FieldInfoCollection>& FieldInfos, const std::string& Component = "");

}  // namespace pelmora
