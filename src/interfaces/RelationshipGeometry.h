#pragma once
// Relationship geometry interfaces (RGIs): user extension objects that check
// the geometry of one kind of relationship between two feature classes.
//
// - RelationshipGeometryInterface: what the relationship helpers call. An RGI
//   created by ProgID implements it itself; the system's RGIHelper (the host
//   a helper keeps) and RGIVBABridge (an RGI from a VBA project or a name
//   with ":") implement it too. Members in the order of the interface.
// - IProjectRelationshipGeometry / INamedRelationshipGeometry: an RGI held in
//   a VBA project (its entry object also offers
//   IValidationInterfaceEventSource for Abort), or created by the interface
//   support object from a name with ":" (it takes converted objects,
//   InterfaceSupport.h). Only the members the bridge calls stand here.
#include <cstdint>
#include <memory>

#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace pelmora {

class IDataContext;
class IRelationshipHelper;
class QzKeyObject;
class QzKeyObjects;

inline constexpr const char* kRelationshipGeometryInterfaceIid = "{877928CC-2CD9-11D5-A380-00105A2713EF}";
inline constexpr const char* kProjectRelationshipGeometryIid = "{6C9F99C4-D71F-4F15-9891-AE3EC7BBE465}";
inline constexpr const char* kNamedRelationshipGeometryIid = "{59A9A52A-BFD5-319F-A56F-9F89712DC702}";

// The processing mode the host gives every RGI before it validates.
inline constexpr int32_t kRGIValidateProcessingMode = 5;

// The members the system does not serve take an object and further values
// (numbers, or variables passed by reference) as the outside library
// declares them; a Boolean result where one is due.
class RelationshipGeometryInterface {
public:
    virtual ~RelationshipGeometryInterface() = default;
    virtual void put_ProcessingMode(int32_t ProcessingMode) = 0;
    virtual int32_t get_ProcessingMode() = 0;
    // The calling helper (its feature, context, number and filter service).
    virtual void Initialize(const std::shared_ptr<IRelationshipHelper>& Helper) = 0;
    virtual void FilterCandidates(const rt::ObjectPtr& Object, rt::Variant& Value1, rt::Variant& Value2,
                                  rt::Variant& Value3, rt::Variant& Value4) = 0;
    virtual void BeforeEstablish(const rt::ObjectPtr& Object1, rt::Variant& Value1, rt::Variant& Value2,
                                 const rt::ObjectPtr& Object2, rt::Variant& Value3) = 0;
    virtual void AfterEstablish(const rt::ObjectPtr& Object) = 0;
    virtual bool AdjustGeometry(const rt::ObjectPtr& Object1, rt::Variant& Value1, rt::Variant& Value2,
                                const rt::ObjectPtr& Object2) = 0;
    virtual bool AllowDeleteRelationship(const rt::ObjectPtr& Object1, rt::Variant& Value1, rt::Variant& Value2,
                                         rt::Variant& Value3, const rt::ObjectPtr& Object2) = 0;
    virtual void BeforeDeleteRelationship(const rt::ObjectPtr& Object1, rt::Variant& Value1, rt::Variant& Value2,
                                          rt::Variant& Value3, const rt::ObjectPtr& Object2) = 0;
    virtual void AfterDeleteRelationship(const rt::ObjectPtr& Object) = 0;
    virtual void BeforeUpdate(const rt::ObjectPtr& Object) = 0;
    virtual void AfterUpdate(const rt::ObjectPtr& Object) = 0;
    // Appends a priority and a message per finding to the two arrays; an RGI
    // with findings leaves the last priority neither Empty nor "".
    virtual void Validate(const std::shared_ptr<IRelationshipHelper>& Helper, rt::Variant& PriorityArray,
                          rt::Variant& ErrArray) = 0;
    virtual bool ApproveMerge(const rt::ObjectPtr& Object, rt::Variant& Value) = 0;
    virtual bool AllowMerge(const rt::ObjectPtr& Object, rt::Variant& Value) = 0;
    virtual int16_t get_RelatedFNO() = 0;
    virtual void put_RelatedFNO(int16_t RelatedFNO) = 0;
    virtual int16_t get_RelatedCNO() = 0;
    virtual void put_RelatedCNO(int16_t RelatedCNO) = 0;
    virtual void FilterLocatedCandidates(const rt::ObjectPtr& Object1, rt::Variant& Value1, rt::Variant& Value2,
                                         rt::Variant& Value3, const rt::ObjectPtr& Object2,
                                         const rt::ObjectPtr& Object3, rt::Variant& Value4) = 0;
};

// An RGI held in a VBA project.
class IProjectRelationshipGeometry {
public:
    virtual ~IProjectRelationshipGeometry() = default;
    virtual void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) = 0;
    // Bounds 1 to n as built, or Null.
    virtual void put_ArgumentArray(const rt::Variant& ArgumentArray) = 0;
    // The helper's active feature.
    virtual void putref_Feature(const std::shared_ptr<QzKeyObject>& Feature) = 0;
    virtual void putref_RelatedFeatures(const std::shared_ptr<QzKeyObjects>& RelatedFeatures) = 0;
    virtual void put_RelationshipNumber(int16_t RelationshipNumber) = 0;
    virtual int32_t get_ProcessingMode() = 0;
    virtual void put_ProcessingMode(int32_t ProcessingMode) = 0;
    virtual int16_t get_RelatedFNO() = 0;
    virtual void put_RelatedFNO(int16_t RelatedFNO) = 0;
    virtual int16_t get_RelatedCNO() = 0;
    virtual void put_RelatedCNO(int16_t RelatedCNO) = 0;
    virtual void Initialize() = 0;
    virtual void Validate(rt::Variant& PriorityArray, rt::Variant& ErrArray) = 0;
};

// An RGI created from a name with ":". Objects and arrays reach it
// converted; it has no processing mode and no related FNO or CNO.
class INamedRelationshipGeometry {
public:
    virtual ~INamedRelationshipGeometry() = default;
    virtual void Initialize() = 0;
    // Two String arrays, handed in without elements; either may stay so.
    virtual void Validate(rt::Variant& Priorities, rt::Variant& Messages) = 0;
    virtual void putref_Feature(const rt::ObjectPtr& Feature) = 0;
    virtual void putref_ArgumentArray(const rt::ObjectPtr& ArgumentArray) = 0;
    virtual void putref_DataContext(const rt::ObjectPtr& DataContext) = 0;
    virtual void putref_RelatedFeatures(const rt::ObjectPtr& RelatedFeatures) = 0;
    virtual void put_RelationshipNumber(int16_t RelationshipNumber) = 0;
};

}  // namespace pelmora
