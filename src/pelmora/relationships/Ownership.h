#pragma once
// The helper of ownership relationships (QTX_TYPE 3): one owned feature
// linked to one owner (or, where a rule names a second pair of link
// columns, to two) through columns of the owned feature's source component
// row. A rule row of the rule table pairs an owned class (QTX_SOURCEFNO) with
// an owner class (QTX_OWNERFNO) and names:
//   QTX_SOURCECNO        the owned feature's component that holds the links;
//   QTX_OWNERFIELD       its column holding the owner component row's QTX_ID;
//   QTX_OWNERCNOFIELD    its column holding that row's CNO (Null: none);
//   QTX_SECONDOWNERFIELD, QTX_SECONDOWNERCNOFIELD  the same for a second owner
//                        (read when reviewing, deleting and validating);
//   QTX_ENFORCEMENT      how a missing owner is reported;
//   and the distance rules and relationship-geometry interfaces.
// The owner's component is the relationship's QTX_SUPPORTCNO when it has one,
// else the owner class's primary attribute component.
//
// Direction: QTX_SUBORDINATE = 1 makes the active (source) feature of every
// call the owned one and its related features its owners; any other value,
// Null included, the other way round. Read once, when the number is set.
//
// Files: Ownership.cpp (loading, the component lookups, candidates),
// OwnershipReview.cpp (ReviewRelationship and the row predicate),
// OwnershipEstablish.cpp (establishing, deleting, new row ids),
// OwnershipValidation.cpp (Validate). docs/OWNERSHIP.md. Of the base's
// answers it keeps only the hierarchy, Empty.
//
// Created only by the relationship service's factory and set up as every
// helper is; one caller thread. Establishing and deleting change only the
// component recordsets of the features given; the caller saves them.
// Names that go into SQL text (component tables, link columns) must be
// plain identifiers; anything else raises error 1 before any SQL is built.
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "interfaces/FeatureAssemblyService.h"
#include "pelmora/relationships/RelationshipHelperBase.h"

namespace ado {
class Field;
class Fields;
class Recordset;
}  // namespace ado

namespace pelmora {

class FeatureAssemblyService;
class IKeyObjects;
class RelationshipGeometryInterface;

// Source of the error raised for a name that cannot go into SQL text.
inline constexpr const char* kOwnershipNameSource = "Ownership";

class Ownership : public RelationshipHelperBase, public IRecordsetEvaluator {
public:
    Ownership();
    ~Ownership() override;

    // A 1-based Integer array of the distinct FNOs of the other side's rule
    // rows for the feature's FNO, ascending; Null when there are none.
    rt::Variant CandidateFeatures(const std::shared_ptr<IKeyObject>& Feature) override;
    // Whether a rule row pairs the feature's FNO (on this relationship's
    // side) with FNO (on the other).
    bool CanRelate(const std::shared_ptr<IKeyObject>& Feature, int16_t FNO) override;
    // Keeps the context; takes the features and feature-components tables,
    // the metadata service and its configuration name.
    void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) override;
    // Clears the owned row's link columns that point at the owner's row
    // (the CNO columns only without a support component). Nothing when
    // either side has no row, or the link points elsewhere.
    void DeleteRelationship(const std::shared_ptr<IKeyObject>& SourceFeature,
                            const std::shared_ptr<IKeyObject>& RelatedFeature, int32_t Reserved1,
                            int32_t Reserved2) override;
    // The common load, then the support and subordinate flags, an unfiltered
    // rule table and a new relationship-geometry host.
    void put_RelationshipNumber(int16_t RelationshipNumber) override;
    RelationshipTypeConstants get_RelationshipType() override { return qzrelOwnership; }
    // A Variant holding a KeyObjects of the related features, saved and
    // cached rows alike (the feature-assembly cache lays its unsaved rows
    // over the query, asking this object as the evaluator).
    rt::Variant ReviewRelationship(const std::shared_ptr<IKeyObject>& Feature) override;
    // Writes the owner row's QTX_ID (and, where the rule names the column, its
    // CNO) into the owned row's first link columns. A side without a row
    // gets a new one (CID 1); a new owner row takes a QTX_ID from its table's
    // sequence. Changes stay pending in the recordsets.
    void SilentEstablishRelationship(const std::shared_ptr<IKeyObject>& SourceFeature,
                                     const std::shared_ptr<IKeyObject>& RelatedFeature, int32_t Reserved1,
                                     int32_t Reserved2) override;
    // Walks the leading pending rows of the set; per feature of a class on
    // this relationship's side: the owner references (owned side only), the
    // relationship's attribute rules, the distance rules and the
    // relationship-geometry interfaces. Components and PendingFNOs are not
    // read. Failures reach the caller (the driver records one row).
    void Validate(const std::shared_ptr<IKeyObjects>& Features, const std::shared_ptr<IComponents>& Components,
                  const std::shared_ptr<ado::Recordset>& ValidationSet, const std::shared_ptr<rt::Collection>& PendingFNOs,
                  const std::shared_ptr<ado::Recordset>& Errors) override;

    // ---- IRecordsetEvaluator: the row predicate of ReviewRelationship ----
    void putref_Fields(const std::shared_ptr<ado::Fields>& Fields) override;
    bool Evaluate() override;

    // The next value of the sequence of the CNO's component table. A failed
    // read raises (the row would otherwise get QTX_ID 0, which reads as "no
    // owner"); so does a value that is no positive 32-bit number.
    int32_t GetNextQTXID(const std::shared_ptr<IDataContext>& DataContext, int16_t CNO);

    bool IsSubordinate() const { return subordinate_; }
    bool HasSupportComponent() const { return support_; }
    std::string TypeName() const override { return "Ownership"; }

private:
    // The owner's component recordset (support CNO, else the primary
    // attribute CNO of the feature's class) and that CNO. Error 1 (21826,
    // 22208) when the feature lacks the component.
    std::shared_ptr<ado::Recordset> GetOwnerComponentRecordset(const std::shared_ptr<IKeyObject>& Feature,
                                                               int16_t* CNO = nullptr);
    // The owned feature's source component recordset, by the rule row under
    // the rule table's cursor, and its CNO. Errors as above.
    std::shared_ptr<ado::Recordset> GetSourceComponentRecordset(const std::shared_ptr<IKeyObject>& Feature,
                                                                int16_t* CNO = nullptr);
    std::shared_ptr<ado::Recordset> ComponentRecordset(const std::shared_ptr<IKeyObject>& Feature,
                                                       const std::string& ComponentName);
    // QTX_NAME / QTX_TABLE of the CNO's first row in the feature components table.
    std::string ComponentName(int16_t CNO);
    std::string ComponentTable(int16_t CNO);
    // The rule table narrowed to the pair (owner, owned) by a filter text.
    void SelectPairRules(int16_t ownerFNO, int16_t ownedFNO);

    // ---- review ----
    void ReviewOwner(const std::shared_ptr<IKeyObject>& Feature, FeatureAssemblyService& Assembly,
                     const std::shared_ptr<rt::Collection>& Result);
    void ReviewOwned(const std::shared_ptr<IKeyObject>& Feature, FeatureAssemblyService& Assembly,
                     const std::shared_ptr<rt::Collection>& Result);
    // The owner one pair of link columns of the owned row points at; the
    // first pair's statement keeps its own spacing (contexts may match
    // statements by their text).
    void CollectOwner(const std::shared_ptr<IKeyObject>& Feature, FeatureAssemblyService& Assembly,
                      const std::shared_ptr<ado::Recordset>& Source, const std::string& OwnerColumn,
                      const std::string& OwnerCNOColumn, bool FirstOwner,
                      const std::shared_ptr<rt::Collection>& Result);
    // Opens the features of the synced query's rows into Result.
    void CollectFeatures(FeatureAssemblyService& Assembly, int16_t CNO, const std::string& SQL,
                         const rt::Variant& Parameters, const std::shared_ptr<rt::Collection>& Result);
    void ClearEvaluatorFields();

    // ---- validation ----
    void ValidateOwnerReference(const std::shared_ptr<IKeyObjects>& RelatedFeatures, int32_t Enforcement,
                                const std::shared_ptr<ado::Recordset>& Errors);
    void ValidateGeometryInterfaces(const std::shared_ptr<ado::Recordset>& Errors);

    // While a Validate runs: component names by CNO and owner component
    // numbers by owner FNO, each read once for all the set's features.
    struct ValidationMemo {
        std::unordered_map<int16_t, std::string> componentNames;
        std::unordered_map<int16_t, int16_t> ownerCNOs;
    };
    ValidationMemo* memo_ = nullptr;

    std::shared_ptr<ado::Recordset> featuresTable_;
    std::shared_ptr<ado::Recordset> featureComponents_;
    std::shared_ptr<IMetadataService> metadata_;
    std::string configuration_;
    bool subordinate_ = false;
    bool support_ = false;
    std::shared_ptr<RelationshipGeometryInterface> rgi_;

    // Evaluator state: written just before a synced query, cleared after it.
    struct EvaluatorState {
        std::string ownerColumn, ownerCNOColumn, secondOwnerColumn, secondOwnerCNOColumn;
        int32_t ownerId = -1;
        // The CNO or FNO a row must hold, for a match on the first and on the
        // second owner column; -1: no test.
        int32_t secondValue = -1;
        int32_t secondClauseValue = -1;
        std::shared_ptr<ado::Fields> fields;
        std::shared_ptr<ado::Field> id, cno, fno, owner, ownerCNO, secondOwner, secondOwnerCNO;
    } eval_;
};

}  // namespace pelmora
