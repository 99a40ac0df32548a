#pragma once
// The entry point to relationships: given a data context it answers, by
// relationship number, the name, type, subordination and reciprocal of a
// relationship; by feature number, the relationships that apply; and it
// hands candidate, review, establish and delete requests for a pair of
// features to the helper of the relationship (IRelationshipHelper).
//
// Ownership: the service holds fresh clones of QTX_RELATIONSHIPS_OPTABLE
// (all rows; every member that filters it removes the filter before it
// returns, also when it fails) and QTX_FEATRELATIONSHIPS_OPTABLE, one filter
// service, and one helper per relationship number, created on first use.
// Every data context set drops the helpers of the one before, so no helper
// reads another database; a context whose relationship table has no rows
// leaves no helper cache at all. A helper enters the cache only once the
// three properties the factory sets on it have been set; a helper whose
// loading failed is dropped and the next request for its number tries again.
//
// The service also keeps one attribute validation service, made at the
// first context and given every later one, through which it runs the
// attribute rules of a pair it established and tests candidate pairs.
//
// Through IRelationship (on the same object, with the same data context) it
// gets validation sets from the database and validates the relationships of
// their features (RelationshipServiceValidation.cpp); it holds the features
// and components it is given or built for that until the next ones or
// ReleaseAll.
//
// Before a data context is set, asking for a helper raises 9 (there is no
// cache; a pair request given a number takes its helper first), every other
// member that reaches the tables or the attribute validation service raises
// 91. A pair request takes its relationship (error 1 when there is none)
// before it looks at the related feature's components.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "interfaces/Relationship.h"
#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace ado {
class Recordset;
}

namespace rt {
class Collection;
}

namespace pelmora {

class IAttributeValidationService;
class IDataContext;
class IKeyObject;
class MetadataRecordsetFilterService;

inline constexpr const char* kRelationshipServiceProgId = "QzPelmora.RelationshipService";
inline constexpr const char* kRelationshipServiceClsid = "{8DE28632-271B-4A13-8A9B-999F166DC6CC}";
// _RelationshipService, the class's default interface: its own members.
inline constexpr const char* kRelationshipServiceIID = "{1D9CC299-EEDB-47F8-A7B9-357582C738AC}";

class RelationshipService : public rt::Object, public IRelationship {
public:
    // Selects the message module "PELMORA".
    RelationshipService();
    // Releases everything (ReleaseAll).
    ~RelationshipService() override;
    RelationshipService(const RelationshipService&) = delete;
    RelationshipService& operator=(const RelationshipService&) = delete;

    // ---- _RelationshipService ----
    // Loads the two tables and starts an empty helper cache sized to the
    // largest QTX_RNO; nullptr runs ReleaseAll.
    void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) override;
    // The number of the other relationship on the same rule table with the
    // same reported type and the opposite QTX_SUBORDINATE; -1 when none.
    int16_t get_ReciprocalRelationship(int16_t iRelNumber);
    std::string get_RelationshipName(int16_t iRelNumber);
    RelationshipTypeConstants get_RelationshipType(int16_t iRelNumber);
    // True when QTX_SUBORDINATE of the number's row is 1 (Null: False).
    bool get_SubordinateRelationship(int16_t iRelNumber);
    // vFno an Integer: a 1-based Integer array of its relationship numbers in
    // ascending order, or Null without any. vFno an Integer array: the
    // numbers of all its FNOs once each, in order of first occurrence (an
    // array without elements when none; an array with no elements in vFno
    // raises 9). Any other type, a Long included: Null.
    rt::Variant AllApplicableRelationships(const rt::Variant& vFno);
    // The helper's DeleteRelationship, then Update of the related feature's
    // components (which writes nothing). Without a number, the first
    // applicable relationship that CanRelate the pair; none raises error 1.
    void DeleteRelationship(const std::shared_ptr<IKeyObject>& objSourceFeature,
                            const std::shared_ptr<IKeyObject>& objRelatedFeature,
                            const rt::Variant& iRelationshipNumber = rt::Variant::Missing());
    rt::Variant GetCandidateFeatures(const std::shared_ptr<IKeyObject>& objSourceFeature, int16_t iRelNumber);
    // A keyed collection of KeyObject, or nullptr.
    rt::ObjectPtr GetRelatedFeatures(const std::shared_ptr<IKeyObject>& objSourceFeature, int16_t iRelNumber);
    rt::Variant GetRelatedFeaturesHierarchy(const std::shared_ptr<IKeyObject>& objSourceFeature, int16_t iRelNumber);
    // The helper's SilentEstablishRelationship with 0, 0 (the number chosen
    // as for DeleteRelationship; none raises error 1 with message 21832),
    // then the attribute rules of the pair through Execute, the related
    // feature active, the source related, and the type the helper reports as
    // decimal text; their findings are discarded. Nothing is saved.
    void SilentEstablishByFeature(const std::shared_ptr<IKeyObject>& objSourceFeature,
                                  const std::shared_ptr<IKeyObject>& objRelatedFeature,
                                  const rt::Variant& iRelationshipNumber = rt::Variant::Missing());
    // SilentEstablishByFeature, then Update of the related feature's
    // components (which writes nothing).
    void SilentEstablish(const std::shared_ptr<IKeyObject>& objSourceFeature,
                         const std::shared_ptr<IKeyObject>& objRelatedFeature,
                         const rt::Variant& iRelationshipNumber = rt::Variant::Missing());
    // The candidate filter rules with the related feature active and the
    // source related: True when none failed. Neither argument is changed.
    bool ValidateCandidate(const std::shared_ptr<IKeyObject>& objSourceFeature,
                           const std::shared_ptr<IKeyObject>& objRelatedFeature);

    // ---- IRelationship (DataContext above) ----
    std::shared_ptr<IDataContext> get_DataContext() override { return dataContext_; }
    void putref_Features(const std::shared_ptr<IKeyObjects>& Features) override { features_ = Features; }
    std::shared_ptr<IKeyObjects> get_Features() override { return features_; }
    void putref_Components(const std::shared_ptr<IComponents>& Components) override { components_ = Components; }
    std::shared_ptr<IComponents> get_Components() override { return components_; }
    // Sends the FNOs and FIDs in value lists to QTX_VALIDATESET.DefineFeatures
    // ("Y" when all fit into one call, else "N" for every call), then reads
    // QTX_VALIDATESET.GetValidateSetV with the validation relationship list.
    std::shared_ptr<ado::Recordset> GetFeatureValidationInformation(std::shared_ptr<IKeyObjects>& Features) override;
    // QTX_VALIDATESET_PROD.DefineFeaturesFromPendingEdits, then the set as
    // above ("...GetValidateSetV(NULL)" for an empty list).
    std::shared_ptr<ado::Recordset> GetPendingEditsValidationInformation() override;
    // Features and components are built from the set (GetValidationKOCollection)
    // when none were set or the apartment's validation set index is another
    // set's. A set without pending rows first validates nothing. A failing
    // relationship costs one row (messages 15734 and 25066, named by its
    // number when its helper cannot even be made).
    std::shared_ptr<ado::Recordset> Validate(std::shared_ptr<ado::Recordset>& ValidationSet,
                                             std::shared_ptr<ado::Recordset>& Errors) override;

    // ---- inside the system ----
    // The value list of the relationship numbers to validate: every row of
    // the relationship table but those of type 4 and subordinate 0 (a Null
    // in either keeps the row). Raises error 1 when the numbers do not fit
    // into one list, rather than leave relationships unvalidated.
    std::string GetValidationRelationshipList();
    // The distinct FNOs (Integer) of the leading pending rows of the set
    // (PENDING not 0; Null counts as pending), in order of their first row;
    // the cursor stays where the walk ended.
    std::shared_ptr<rt::Collection> CollectValidationSetFNOs(const std::shared_ptr<ado::Recordset>& ValidationSet);
    // The cached helper of the number, created and loaded on first use.
    // Raises 9 for a number outside 0 to the largest QTX_RNO or while there
    // is no cache; ADO's end-of-recordset error for a number without a row.
    std::shared_ptr<IRelationshipHelper> GetRelationshipHelper(int16_t iRelNumber);
    // The relationship numbers of every FNO of the array (see
    // AllApplicableRelationships).
    rt::Variant GetGroupApplicableRelationships(const rt::Variant& vFnoArray);
    // Drops the context, the tables, the attribute validation service, the
    // features and components, the filter service and every helper.
    void ReleaseAll();
    // nullptr before the first context and after ReleaseAll.
    std::shared_ptr<IAttributeValidationService> get_AttributeValidationService() const { return attributeValidation_; }

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    rt::Variant InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "RelationshipService"; }

private:
    // The tables, raising 91 while no context has loaded them.
    const std::shared_ptr<ado::Recordset>& RelationshipTable() const;
    const std::shared_ptr<ado::Recordset>& FeatureRelationshipTable() const;
    MetadataRecordsetFilterService& FilterService();
    IAttributeValidationService& AttributeValidation() const;
    // The validation set for the relationship list; an empty list asks with
    // "(NULL)" in the text when nullWhenEmpty.
    std::shared_ptr<ado::Recordset> ReadValidationSet(bool nullWhenEmpty);
    // The helper's part of establishing, then the attribute rules, then (when
    // asked) the update of the related feature's components.
    void EstablishAndRunRules(const std::shared_ptr<IKeyObject>& source, const std::shared_ptr<IKeyObject>& related,
                              const rt::Variant& given, bool updateRelated);
    // Positions the relationship table on the number's row and returns the
    // field's value; the filter is removed again whatever happens.
    rt::Variant RelationshipRowValue(int16_t iRelNumber, const std::string& field);
    // The number for a pair: the given one, else the first applicable one
    // whose helper can relate the pair; error 1 with the description message
    // when there is none.
    int16_t ChooseRelationshipNumber(const std::shared_ptr<IKeyObject>& source,
                                     const std::shared_ptr<IKeyObject>& related, const rt::Variant& given,
                                     int16_t descriptionMessage);

    std::shared_ptr<IDataContext> dataContext_;
    std::shared_ptr<ado::Recordset> relationships_;
    std::shared_ptr<ado::Recordset> featureRelationships_;
    // Entry n serves relationship number n; empty when there is no cache.
    std::vector<std::shared_ptr<IRelationshipHelper>> helpers_;
    std::shared_ptr<MetadataRecordsetFilterService> filterService_;
    std::shared_ptr<IAttributeValidationService> attributeValidation_;
    std::shared_ptr<IKeyObjects> features_;
    std::shared_ptr<IComponents> components_;
};

// Registers "QzPelmora.RelationshipService" and the helper classes (also
// done when the program starts; calling it again is harmless).
void RegisterRelationshipService();

}  // namespace pelmora
