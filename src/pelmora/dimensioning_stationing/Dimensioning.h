#pragma once
// The helper of dimensioning relationships (QTX_TYPE 6). It only validates:
// the references a dimension row holds (base, second base, dimensioned: a
// component number and a QTX_ID) must resolve to rows of related features,
// and the dimension's points must lie on those rows' geometry. Every other
// member answers a constant or does nothing. It reports qzrelDetail (4), so
// the service's reciprocal search and attribute rules see it as a detail
// relationship.
//
// Two sides, fixed by the relationship row: QTX_FNOFIELD "QTX_DIMFNO" makes
// the validated features the dimensions; otherwise they are the dimensioned
// features. One rule table serves both (QTX_DIMFNO, QTX_DIMCNO,
// QTX_CONNECTEDFNO, QTX_CONNECTEDCNO, QTX_DIMRELTYPE); the dimension
// component's QTX_SUBTYPE (1 simple, 2 orthogonal, 3 radius by two points,
// 4 polar) picks the dimension table naming its reference columns.
//
// It keeps every answer of the base: no candidates, relates nothing,
// reviews to Nothing, hierarchy Empty, establishing and deleting change
// nothing.
//
// Created only by the relationship service's factory and set up as every
// helper is; one caller thread. The helper owns clones of its metadata
// tables; Validate may show message boxes. docs/DIMENSIONING.md.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "pelmora/relationships/RelationshipHelperBase.h"
#include "runtime/Error.h"

namespace ado {
class Fields;
class Recordset;
}  // namespace ado

namespace pelmora {

class IComponent;

class Dimensioning : public RelationshipHelperBase {
public:
    // Keeps the context; takes the feature-components and component-info
    // tables and the configuration name.
    void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) override;
    // The common load, then the side from QTX_FNOFIELD.
    void put_RelationshipNumber(int16_t RelationshipNumber) override;
    RelationshipTypeConstants get_RelationshipType() override { return qzrelDetail; }
    // Walks the leading pending rows of the set and adds one row to Errors per
    // unresolved reference (19015-19017), dimension row without base
    // (19018), failed point check (19019-19021, 19137) or dimensioned
    // component without rows (22305). Components and PendingFNOs are not
    // read. A metadata or component failure reaches the caller with the rows
    // added so far kept.
    void Validate(const std::shared_ptr<IKeyObjects>& Features, const std::shared_ptr<IComponents>& Components,
                  const std::shared_ptr<ado::Recordset>& ValidationSet, const std::shared_ptr<rt::Collection>& PendingFNOs,
                  const std::shared_ptr<ado::Recordset>& Errors) override;

    std::string TypeName() const override { return "Dimensioning"; }

    bool IsDimensionSide() const { return dimensionSide_; }

    // ---- the dimension point rules (no state) ----
    // The subtype has that point number (1 simple: 1-2; 2 orthogonal: 1-6;
    // 3 and 4: 1-3).
    static bool SelectDimensionPoint(int16_t Subtype, int16_t PointNumber);
    // Beyond points 1 and 2 an orthogonal dimension keeps only its last point
    // (PointCount, capped at 6 and written back).
    static bool IsValidPointPair(int16_t Subtype, int16_t PointNumber, int32_t& PointCount);
    // Whether the point belongs on the base or on the dimensioned feature.
    static void SelectDimensionSegment(int16_t Subtype, int16_t PointNumber, bool& OnBase, bool& OnDimensioned);

    // The point check of one reference (Role 1 base, 2 dimensioned, 3 second
    // base) without metadata: the point number that breaks the placement
    // rules (FailedPoint), or nullopt. BaseKeys / SecondBaseKeys: the row
    // holds that reference. A run-time error inside counts as a failure of
    // point 0 and is traced.
    struct PointCheck {
        int16_t subtype = 0;
        int16_t role = 0;
        bool baseKeys = false;
        bool secondBaseKeys = false;
    };
    static std::optional<int16_t> CheckDimensionPoints(const rt::ObjectPtr& DimensionGeometry,
                                                       const rt::ObjectPtr& ReferencedGeometry,
                                                       const PointCheck& check);

private:
    struct Definitions {
        std::string baseCno, baseId, dimensionedCno, dimensionedId, secondBaseCno, secondBaseId;
        int16_t subtype = 0;
    };
    struct ComponentRows {
        std::shared_ptr<IComponent> component;
        std::shared_ptr<ado::Recordset> rows;
    };

    void ValidateDimension(const std::shared_ptr<ado::Recordset>& set, const std::shared_ptr<IKeyObjects>& features,
                           const std::shared_ptr<ado::Recordset>& errors);
    void ValidateDimensioned(const std::shared_ptr<ado::Recordset>& set, const std::shared_ptr<IKeyObjects>& features,
                             const std::shared_ptr<ado::Recordset>& errors);

    bool HasDimensionRows(int16_t FNO);
    ComponentRows FindDimensionComponent(const std::shared_ptr<IKeyObject>& feature);
    ComponentRows GetFeatureComponent(const std::shared_ptr<IKeyObject>& feature, int16_t CNO);
    Definitions LoadDimensionDefinitions(int16_t FNO, int16_t relationType);
    static bool GetDimensionKeys(const std::shared_ptr<ado::Fields>& fields, const std::string& cnoColumn,
                                 const std::string& idColumn);
    void ValidateDimensionReference(const std::shared_ptr<IKeyObjects>& related, const ComponentRows& dimension,
                                    const std::string& cnoColumn, const std::string& idColumn, int16_t role,
                                    int16_t failedId, int16_t missingId, const std::shared_ptr<ado::Recordset>& errors);
    std::optional<ComponentRows> FindReferencedRow(int32_t rowId, int16_t CNO,
                                                   const std::shared_ptr<IKeyObjects>& related);
    static bool FindRowByValue(const std::shared_ptr<ado::Recordset>& rows, const std::string& column,
                               const rt::Variant& value);
    void ValidateReferenceToFeature(int16_t CNO, const ComponentRows& feature, const ComponentRows& dimension,
                                    const std::string& cnoColumn, const std::string& idColumn, int16_t role,
                                    int16_t firstId, int16_t secondId, const std::shared_ptr<ado::Recordset>& errors);
    bool HasPointOffGeometry(const ComponentRows& dimension, const ComponentRows& referenced, int16_t role,
                             int16_t& failedPoint);
    void AddError(int16_t msgId, int32_t kind, const std::shared_ptr<ado::Recordset>& dimensionRows,
                  const std::shared_ptr<ado::Recordset>& errors);
    static void ReleaseRows(const std::shared_ptr<IComponent>& component);
    // A check that could not be made fails at point 0; the error is traced.
    static int16_t PointCheckFailure(const rt::ComError& error);

    bool dimensionSide_ = false;
    std::string configuration_;
    std::shared_ptr<ado::Recordset> featureComponents_;
    std::shared_ptr<ado::Recordset> componentInfo_;
};

}  // namespace pelmora
