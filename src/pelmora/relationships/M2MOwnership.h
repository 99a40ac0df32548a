#pragma once
// The helper of many-to-many ownership relationships (QTX_TYPE 8): an owned
// feature may have any number of owners, and each ownership is one row of
// the owned feature's support component (QTX_SUPPORTCNO of the relationship
// row) holding the owner's QTX_OWNERFNO and QTX_OWNERFID; a row whose owner
// is Null or 0 is free. The rule table (QTX_SOURCEFNO owned, QTX_OWNERFNO
// owner) says which classes may own which.
//
// Point of view: QTX_SUBORDINATE 1 of the relationship row makes the active
// feature the owned one and the related features its owners; any other value
// (Null included) the reverse. Every member reads it afresh from the row.
//
// What it does: candidates and CanRelate from the rule table; establishing
// and deleting links in the owned feature's support rows (pending until the
// caller saves the features); reviews (the owners or the owned features,
// the latter with the links only in the feature cache, through the
// IRecordsetEvaluator face); the hierarchy text of a feature's ownership tree
// for the data-shaping provider; validation (attributes, distance, missing
// owner, many-to-one, relationship geometry interfaces). It answers every
// member of its own; none of the base's answers is kept.
//
// Created only by the relationship service's factory and set up as every
// helper is; caller's thread. The helper owns clones of its metadata tables
// and its relationship geometry interface host (replaced with each number).
// docs/M2M_DETAIL.md.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "interfaces/FeatureAssemblyService.h"
#include "pelmora/relationships/RelationshipHelperBase.h"

namespace ado {
class Field;
class Fields;
class Recordset;
}  // namespace ado

namespace pelmora {

class RelationshipGeometryInterface;

class M2MOwnership : public RelationshipHelperBase, public IRecordsetEvaluator {
public:
    // The FNOs of the other side of the feature's FNO, a 1-based Integer
    // array (runs of equal values once), or Null.
    rt::Variant CandidateFeatures(const std::shared_ptr<IKeyObject>& Feature) override;
    // Whether the rule table pairs the feature's FNO with FNO in the current
    // point of view.
    bool CanRelate(const std::shared_ptr<IKeyObject>& Feature, int16_t FNO) override;
    // Keeps the context, its metadata service and configuration name, and
    // clones of the features, feature-components and attribute tables.
    void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) override;
    // Deletes every support row of the owned feature that names the owner.
    void DeleteRelationship(const std::shared_ptr<IKeyObject>& SourceFeature,
                            const std::shared_ptr<IKeyObject>& RelatedFeature, int32_t Reserved1,
                            int32_t Reserved2) override;
    // The common load, then the support component (a Null QTX_SUPPORTCNO
    // raises error 1 with the texts of 21826 and 23712), its table and name,
    // and a new relationship geometry interface host.
    void put_RelationshipNumber(int16_t RelationshipNumber) override;
    RelationshipTypeConstants get_RelationshipType() override { return qzrelManyToManyOwnership; }
    // A Collection (never Nothing) of the owned features (owner's view, the
    // cached unsaved links included) or of the owners (owned view, from the
    // feature's own support rows), each opened, in the order found.
    rt::Variant ReviewRelationship(const std::shared_ptr<IKeyObject>& Feature) override;
    // The data-shaping text of the feature's ownership tree; "" from the
    // owned feature's point of view.
    rt::Variant ReviewRelationshipHierarchy(const std::shared_ptr<IKeyObject>& Feature) override;
    // Writes the owner into the owned feature's support rows: nothing when
    // a row names it already, else into the last free row, else a new row
    // with the next CID. Nothing is saved.
    void SilentEstablishRelationship(const std::shared_ptr<IKeyObject>& SourceFeature,
                                     const std::shared_ptr<IKeyObject>& RelatedFeature, int32_t Reserved1,
                                     int32_t Reserved2) override;
    void Validate(const std::shared_ptr<IKeyObjects>& Features, const std::shared_ptr<IComponents>& Components,
                  const std::shared_ptr<ado::Recordset>& ValidationSet, const std::shared_ptr<rt::Collection>& PendingFNOs,
                  const std::shared_ptr<ado::Recordset>& Errors) override;

    // ---- IRecordsetEvaluator: a support row naming the evaluation key as owner ----
    void putref_Fields(const std::shared_ptr<ado::Fields>& Fields) override;
    bool Evaluate() override;

    std::string TypeName() const override { return "M2MOwnership"; }

    // ---- inside the system ----
    // The hierarchy's pieces, as the text builders write them.
    std::string BuildComponentShapeCommand(const std::string& FNO, const std::string& FIDList);
    // Path holds the numbers being expanded above FNO: a number met again
    // there (the rule table may hold a cycle) gives "".
    std::string BuildOwnedShapeCommand(const std::string& FNO, std::vector<std::string>& path);

private:
    struct Roles {
        std::shared_ptr<IKeyObject> owned, owner;
    };
    bool IsSubordinate() const;
    Roles RolesOf(const std::shared_ptr<IKeyObject>& Source, const std::shared_ptr<IKeyObject>& Related) const;
    std::shared_ptr<ado::Recordset> SupportRows(const std::shared_ptr<IKeyObject>& Owned) const;
    bool IsSourceOrOwnerFno(int16_t FNO);
    int32_t GetEnforcement(int16_t FNO);
    bool IsManyToOneMode();
    void ValidateDistance(const std::shared_ptr<IKeyObject>& Feature, const std::shared_ptr<IKeyObjects>& Related,
                          const std::shared_ptr<ado::Recordset>& Errors);
    // The primary attribute table of a feature number.
    std::string PrimaryTable(int16_t FNO);
    // BuildOwnedShapeCommand of each owned number of the narrowed rule rows.
    std::string OwnedShapes(const std::shared_ptr<ado::Recordset>& rules, std::vector<std::string>& path);
    std::string ComponentShape(const std::string& FNO, const std::string& FIDList, bool related);

    int16_t supportCno_ = 0;
    int16_t relationshipType_ = 0;
    std::string supportName_;
    std::string supportTable_;
    std::string configuration_;
    std::string traceRange_;
    std::shared_ptr<IMetadataService> metadataService_;
    std::shared_ptr<ado::Recordset> features_;
    std::shared_ptr<ado::Recordset> featureComponents_;
    std::shared_ptr<ado::Recordset> attributeInfo_;
    std::shared_ptr<RelationshipGeometryInterface> geometryInterface_;
    int16_t keyFNO_ = 0;
    int32_t keyFID_ = 0;
    std::shared_ptr<ado::Field> ownerFNOField_;
    std::shared_ptr<ado::Field> ownerFIDField_;
};

}  // namespace pelmora
