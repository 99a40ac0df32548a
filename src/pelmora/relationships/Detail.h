#pragma once
// The helper of detail relationships (QTX_TYPE 4). A detail relationship ties
// the features placed in a detail area (contained features) to the feature
// that owns the detail (the detail owner) through a detail id: a number that
// a component of the contained feature and the owner's attribute component
// both hold, each in the column the rule table names in QTX_IDENTIFIERFIELD.
// No link column is ever written: the helper reviews (the features that share
// a feature's detail ids, by SQL on the owners' attribute tables) and
// validates (the ids of contained features, the detail columns of owners);
// it refuses to establish or delete, and keeps the base's other answers: no
// candidates, relates nothing, hierarchy Empty.
//
// QTX_SUBORDINATE of the relationship row: 0 makes the review answer
// Nothing; 1 makes validation check contained features, any other value
// detail owners. Rule-table columns: QTX_FNO (owner), QTX_CONTAINEDFNO,
// QTX_CONTAINEDTRIGGERINGCNO, QTX_TRIGGERINGNAME, QTX_IDENTIFIERFIELD,
// QTX_ATTRIBUTECNO and the six detail columns.
//
// Created only by the relationship service's factory and set up as every
// helper is; caller's thread. The helper owns clones of its two metadata
// tables; every member that narrows the rule table clears the filter when
// it returns normally. docs/M2M_DETAIL.md.
#include <cstdint>
#include <memory>
#include <string>

#include "pelmora/relationships/RelationshipHelperBase.h"

namespace ado {
class Recordset;
}

namespace pelmora {

class IComponent;

inline constexpr const char* kDetailRelationshipSource = "Detail Relationship";

class Detail : public RelationshipHelperBase {
public:
    // Keeps the context, its metadata service and the configuration name; a
    // null context raises 91.
    void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) override;
    // Raises error 1 ("Detail Relationship", "Delete operation not supported
    // at this time.").
    void DeleteRelationship(const std::shared_ptr<IKeyObject>& SourceFeature,
                            const std::shared_ptr<IKeyObject>& RelatedFeature, int32_t Reserved1,
                            int32_t Reserved2) override;
    RelationshipTypeConstants get_RelationshipType() override { return qzrelDetail; }
    // A Variant holding Nothing when the feature's FNO has no rule row on the
    // side QTX_FNOFIELD names, or QTX_SUBORDINATE is 0; otherwise a
    // Collection of the features (FNO, FID) whose attribute-table rows carry
    // one of the feature's detail ids, once per row, in table order. Any
    // failure is raised again as error 1 of "Detail Relationship" with its
    // description.
    rt::Variant ReviewRelationship(const std::shared_ptr<IKeyObject>& Feature) override;
    // Raises error 1 ("Detail Relationship", "SilentEstablish operation not
    // supported at this time.").
    void SilentEstablishRelationship(const std::shared_ptr<IKeyObject>& SourceFeature,
                                     const std::shared_ptr<IKeyObject>& RelatedFeature, int32_t Reserved1,
                                     int32_t Reserved2) override;
    // The leading pending rows of the set: contained features get 17077 (Null
    // id), 17078 (id 0) or 17081 (no related owner carries it) per row of
    // their triggering components; detail owners 17136-17141 per attribute
    // row with a detail id and an empty detail column. Components and
    // PendingFNOs are not read; failures reach the driver.
    void Validate(const std::shared_ptr<IKeyObjects>& Features, const std::shared_ptr<IComponents>& Components,
                  const std::shared_ptr<ado::Recordset>& ValidationSet, const std::shared_ptr<rt::Collection>& PendingFNOs,
                  const std::shared_ptr<ado::Recordset>& Errors) override;

    std::string TypeName() const override { return "Detail"; }

private:
    rt::Variant Review(const std::shared_ptr<IKeyObject>& Feature);
    bool IsSubordinate() const;
    bool IsRelationshipFno(int16_t FNO);
    void ValidateContainedFeature(const std::shared_ptr<IKeyObject>& Feature,
                                  const std::shared_ptr<ado::Recordset>& ValidationSet,
                                  const std::shared_ptr<IKeyObjects>& Features,
                                  const std::shared_ptr<ado::Recordset>& Errors);
    bool HasMatchingDetailOwner(const std::shared_ptr<ado::Recordset>& ValidationSet, int32_t DetailId,
                                const std::shared_ptr<IKeyObjects>& Features);
    void ValidateDetailOwnerFields(const std::shared_ptr<IKeyObject>& Feature,
                                   const std::shared_ptr<ado::Recordset>& Errors);
    // The component of the feature numbered CNO (by its metadata name).
    std::shared_ptr<IComponent> ComponentOf(const std::shared_ptr<IKeyObject>& Feature, int16_t CNO);
    void AddFinding(int16_t MsgId, const std::shared_ptr<ado::Recordset>& Row,
                    const std::shared_ptr<ado::Recordset>& Errors);

    std::string configuration_;
    std::shared_ptr<IMetadataService> metadataService_;
};

}  // namespace pelmora
