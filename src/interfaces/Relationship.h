#pragma once
// Relationships as the product's other components see them: the kinds of
// relationship (RelationshipTypeConstants), the interface of the helper
// that serves one relationship number (IRelationshipHelper), and the
// validation face of the relationship service (IRelationship).
//
// A relationship is one row of QTX_RELATIONSHIPS_OPTABLE, known by its
// number QTX_RNO; its QTX_TYPE chooses the helper class. The relationship
// service creates one helper per number, sets on it DataContext,
// MDRSFilterService and RelationshipNumber in that order, keeps it until the
// next data context and calls nothing on it before those three. The
// validation driver and the relationship-geometry host reach helpers only
// through this interface.
//
// The row predicate helpers give the feature-assembly scan,
// IRecordsetEvaluator, stands with the feature-assembly interfaces.
#include <cstdint>
#include <memory>
#include <string>

#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace ado {
class Recordset;
}

namespace rt {
class Collection;
}

namespace pelmora {

class IComponents;
class IDataContext;
class IKeyObject;
class IKeyObjects;
class IMetadataRecordsetFilterService;

// The kind a helper reports through RelationshipType. It is the QTX_TYPE the
// factory creates the helper's class for, with two exceptions: the null
// helper (any type without a class, Null included) reports qzrelUnknown, and
// the dimensioning and stationing helpers report qzrelDetail (4), not 6 and
// 7, because their own contracts say so. The service passes the reported
// kind on: the reciprocal of a dimensioning relationship is sought among
// rows of type 4, and its attribute rules are run with the text "4".
enum RelationshipTypeConstants : int32_t {
    qzrelUnknown = -1,
    qzrelNodeEdgeConnectivity = 2,
    qzrelOwnership = 3,
    qzrelDetail = 4,
    qzrelDimensioning = 6,
    qzrelStationing = 7,
    qzrelManyToManyOwnership = 8,
    qzrelNodeOrderedConnectivity = 9,
};

// One relationship type's behaviour, for one relationship number. Members in
// the order of the interface. "Feature" is a feature key with its opened
// Components; "FNO" a 16-bit feature number.
//
// The members marked (template) behave alike in every helper and stand once
// in RelationshipHelperBase (src/pelmora/relationships/), with the answers of
// a type that offers no candidates, review or links; a helper class writes
// RelationshipType, Validate and what its type answers otherwise.
class IRelationshipHelper {
public:
    virtual ~IRelationshipHelper() = default;

    // A 1-based Integer array of the FNOs that may be related to the
    // feature's FNO; Null when there are none or the type offers none (never
    // an empty array).
    virtual rt::Variant CandidateFeatures(const std::shared_ptr<IKeyObject>& Feature) = 0;
    // True when this relationship can relate the feature to a feature of FNO.
    virtual bool CanRelate(const std::shared_ptr<IKeyObject>& Feature, int16_t FNO) = 0;
    // (template) Set first by the service; the helper may load what it reads
    // from the context's metadata.
    virtual void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) = 0;
    virtual std::shared_ptr<IDataContext> get_DataContext() = 0;
    // Removes the relationship between the two features in their component
    // recordsets; nothing is saved (the caller saves the features). The two
    // integers carry nothing: the service passes 0 for both.
    virtual void DeleteRelationship(const std::shared_ptr<IKeyObject>& SourceFeature,
                                    const std::shared_ptr<IKeyObject>& RelatedFeature, int32_t Reserved1,
                                    int32_t Reserved2) = 0;
    // (template) Set second. The object must be the system's filter service
    // (anything else raises 13).
    virtual void putref_MDRSFilterService(const rt::ObjectPtr& FilterService) = 0;
    virtual std::shared_ptr<IMetadataRecordsetFilterService> get_MDRSFilterService() = 0;
    // (template) QTX_OPTIMIZEDTABLE of the relationship row, the key of the
    // rule table, read at each call (a Null value raises 94).
    virtual std::string get_OptimizedTable() = 0;
    // (template) QTX_USERNAME of the relationship row, read at each call.
    virtual std::string get_RelationshipName() = 0;
    // (template) Set last: loads the relationship row and the rule table, and
    // whatever the helper's type adds. A number without a row raises ADO's
    // error for a recordset at its end.
    virtual void put_RelationshipNumber(int16_t RelationshipNumber) = 0;
    virtual int16_t get_RelationshipNumber() = 0;
    virtual RelationshipTypeConstants get_RelationshipType() = 0;
    // A Variant holding a keyed collection of the KeyObjects related to the
    // feature, or Nothing.
    virtual rt::Variant ReviewRelationship(const std::shared_ptr<IKeyObject>& Feature) = 0;
    // The related features as a hierarchy; Empty where the type has none.
    virtual rt::Variant ReviewRelationshipHierarchy(const std::shared_ptr<IKeyObject>& Feature) = 0;
    // Writes the relationship between the two features into their component
    // recordsets without asking; nothing is saved. The integers as above.
    virtual void SilentEstablishRelationship(const std::shared_ptr<IKeyObject>& SourceFeature,
                                             const std::shared_ptr<IKeyObject>& RelatedFeature, int32_t Reserved1,
                                             int32_t Reserved2) = 0;
    // Checks the pending features of a validation set and adds one row to
    // Errors per finding.
    //   Features: the set's features, each opened with its components;
    //   Components: their components;
    //   ValidationSet: QTX_FNO, QTX_FID, PENDING, QTX_RELATED_FID,
    //     QTX_RELATED_FNO, QTX_RNO, the rows with PENDING not 0 first; the
    //     helper positions it itself and may leave it anywhere;
    //   PendingFNOs: the distinct 16-bit FNOs of those leading rows, without
    //     keys, in the order of their first row;
    //   Errors: the validation-error recordset.
    // A failure is the driver's to catch (one error row for the relationship).
    virtual void Validate(const std::shared_ptr<IKeyObjects>& Features, const std::shared_ptr<IComponents>& Components,
                          const std::shared_ptr<ado::Recordset>& ValidationSet,
                          const std::shared_ptr<rt::Collection>& PendingFNOs,
                          const std::shared_ptr<ado::Recordset>& Errors) = 0;
    // (template) The name stored when the number was set.
    virtual std::string get_Name() = 0;
    // (template) The feature the helper works on (set by the helper itself
    // while validating); nullptr until set.
    virtual std::shared_ptr<IKeyObject> get_Feature() = 0;
    // (template) The feature must be a KeyObject of this system (13
    // otherwise); nullptr clears it.
    virtual void putref_Feature(const std::shared_ptr<IKeyObject>& Feature) = 0;
};

inline constexpr const char* kIRelationshipHelperIID = "{110BF55B-56D8-4F90-91FE-4A74CA062F5C}";
inline constexpr const char* kIRelationshipIID = "{9AC35FD9-D2BB-491F-B252-C7ED0E67F7A1}";

// Validation of the relationships of a set of features, as the feature
// validation service drives it: DataContext, then one of the two
// ...ValidationInformation members for the validation set, then Features
// and Components with what was built from the set, then Validate. The
// validation set is computed by the database (QTX_VALIDATESET); its rows
// with PENDING not 0 come first and name the features to validate.
class IRelationship {
public:
    virtual ~IRelationship() = default;

    virtual void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) = 0;
    virtual std::shared_ptr<IDataContext> get_DataContext() = 0;
    // The features of the set, each opened with its components, and their
    // components: handed to every helper's Validate.
    virtual void putref_Features(const std::shared_ptr<IKeyObjects>& Features) = 0;
    virtual std::shared_ptr<IKeyObjects> get_Features() = 0;
    virtual void putref_Components(const std::shared_ptr<IComponents>& Components) = 0;
    virtual std::shared_ptr<IComponents> get_Components() = 0;
    // The validation set of the features: they are defined in the database
    // in as few calls as the value lists allow, then the set is read for
    // the relationships to validate. Failures are raised again through
    // RaiseError with their number, source and description.
    virtual std::shared_ptr<ado::Recordset> GetFeatureValidationInformation(std::shared_ptr<IKeyObjects>& Features) = 0;
    // The validation set of what the context's transaction wrote (never
    // nullptr; a set without rows when nothing was written). Failures as
    // above.
    virtual std::shared_ptr<ado::Recordset> GetPendingEditsValidationInformation() = 0;
    // Runs Validate of the helper of every relationship that applies to the
    // pending FNOs of the set, all writing into Errors; a relationship whose
    // validation fails costs one error row and the next one follows.
    // ValidationSet nullptr: the set of Features is fetched; Errors nullptr:
    // a new errors recordset. Both come back through their arguments;
    // returns Errors.
    virtual std::shared_ptr<ado::Recordset> Validate(std::shared_ptr<ado::Recordset>& ValidationSet,
                                                     std::shared_ptr<ado::Recordset>& Errors) = 0;
};

}  // namespace pelmora
