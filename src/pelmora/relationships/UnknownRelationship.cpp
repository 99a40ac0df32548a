#include "pelmora/relationships/UnknownRelationship.h"

namespace pelmora {

void UnknownRelationship::put_RelationshipNumber(int16_t RelationshipNumber) {
    LoadRelationshipTables(RelationshipNumber, RowPositioning::FilterText);
}

void UnknownRelationship::Validate(const std::shared_ptr<IKeyObjects>&, const std::shared_ptr<IComponents>&,
                                   const std::shared_ptr<ado::Recordset>&, const std::shared_ptr<rt::Collection>&,
                                   const std::shared_ptr<ado::Recordset>&) {}

}  // namespace pelmora
