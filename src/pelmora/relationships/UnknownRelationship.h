#pragma once
// The helper of a relationship whose QTX_TYPE has no helper class (Null
// included). It loads the relationship row and rule table like every helper,
// so that the service's name and rule-table questions work, and otherwise
// answers with nothing: it keeps every answer of the base (no candidates,
// relates nothing, reviews to Nothing, hierarchy Empty, establishing and
// deleting change nothing) and validates without findings.
//
// Unlike the other helpers it narrows the relationship row with the filter
// text "QTX_RNO = n" and keeps neither the number (RelationshipNumber reads
// 0) nor the name (Name reads ""). Created only by the service's factory.
#include "pelmora/relationships/RelationshipHelperBase.h"

namespace pelmora {

class UnknownRelationship : public RelationshipHelperBase {
public:
    void put_RelationshipNumber(int16_t RelationshipNumber) override;
    RelationshipTypeConstants get_RelationshipType() override { return qzrelUnknown; }
    // Adds no row and leaves the validation set where it stands.
    void Validate(const std::shared_ptr<IKeyObjects>& Features, const std::shared_ptr<IComponents>& Components,
                  const std::shared_ptr<ado::Recordset>& ValidationSet, const std::shared_ptr<rt::Collection>& PendingFNOs,
                  const std::shared_ptr<ado::Recordset>& Errors) override;

    std::string TypeName() const override { return "UnknownRelationship"; }
};

}  // namespace pelmora
