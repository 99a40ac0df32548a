#pragma once
// The helper of a relationship whose QTX_TYPE has no helper class (Null
// included). It loads the relationship row and rule table like every helper,
// so that the service's name and rule-table questions work, and otherwise
// answers with nothing: no candidates, relates nothing, reviews to nothing,
// validates without findings, changes no feature.
//
// Unlike the other helpers it narrows the relationship row with the filter
// text "QTX_RNO = n" and keeps neither the number (RelationshipNumber reads
// 0) nor the name (Name reads ""). Created only by the service's factory.
#include "pelmora/relationships/RelationshipHelperBase.h"

namespace pelmora {

class UnknownRelationship : public RelationshipHelperBase {
public:
    // Null.
    rt::Variant CandidateFeatures(const std::shared_ptr<IKeyObject>& Feature) override;
    // False.
    bool CanRelate(const std::shared_ptr<IKeyObject>& Feature, int16_t FNO) override;
    // Nothing happens.
    void DeleteRelationship(const std::shared_ptr<IKeyObject>& SourceFeature,
                            const std::shared_ptr<IKeyObject>& RelatedFeature, int32_t Reserved1,
                            int32_t Reserved2) override;
    void put_RelationshipNumber(int16_t RelationshipNumber) override;
    RelationshipTypeConstants get_RelationshipType() override { return qzrelUnknown; }
    // A Variant holding Nothing.
    rt::Variant ReviewRelationship(const std::shared_ptr<IKeyObject>& Feature) override;
    // Empty.
    rt::Variant ReviewRelationshipHierarchy(const std::shared_ptr<IKeyObject>& Feature) override;
    // Nothing happens.
    void SilentEstablishRelationship(const std::shared_ptr<IKeyObject>& SourceFeature,
                                     const std::shared_ptr<IKeyObject>& RelatedFeature, int32_t Reserved1,
                                     int32_t Reserved2) override;
    // Adds no row and leaves the validation set where it stands.
    void Validate(const std::shared_ptr<IKeyObjects>& Features, const std::shared_ptr<IComponents>& Components,
                  const std::shared_ptr<ado::Recordset>& ValidationSet, const std::shared_ptr<rt::Collection>& PendingFNOs,
                  const std::shared_ptr<ado::Recordset>& Errors) override;

    std::string TypeName() const override { return "UnknownRelationship"; }
};

}  // namespace pelmora
