#include "pelmora/relationships/UnknownRelationship.h"

namespace pelmora {

rt::Variant UnknownRelationship::CandidateFeatures(const std::shared_ptr<IKeyObject>&) { return rt::Variant::Null(); }

bool UnknownRelationship::CanRelate(const std::shared_ptr<IKeyObject>&, int16_t) { return false; }

void UnknownRelationship::DeleteRelationship(const std::shared_ptr<IKeyObject>&, const std::shared_ptr<IKeyObject>&,
                                             int32_t, int32_t) {}

void UnknownRelationship::put_RelationshipNumber(int16_t RelationshipNumber) {
    LoadRelationshipTables(RelationshipNumber, RowPositioning::FilterText);
}

rt::Variant UnknownRelationship::ReviewRelationship(const std::shared_ptr<IKeyObject>&) { return rt::Variant::Nothing(); }

rt::Variant UnknownRelationship::ReviewRelationshipHierarchy(const std::shared_ptr<IKeyObject>&) { return rt::Variant(); }

void UnknownRelationship::SilentEstablishRelationship(const std::shared_ptr<IKeyObject>&,
                                                      const std::shared_ptr<IKeyObject>&, int32_t, int32_t) {}

void UnknownRelationship::Validate(const std::shared_ptr<IKeyObjects>&, const std::shared_ptr<IComponents>&,
                                   const std::shared_ptr<ado::Recordset>&, const std::shared_ptr<rt::Collection>&,
                                   const std::shared_ptr<ado::Recordset>&) {}

}  // namespace pelmora
