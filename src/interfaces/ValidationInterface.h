#pragma once
// Attribute validation as other components see it:
//
// - IAttributeValidationService: the service that judges an active feature
//   against the attribute validation rules of its feature number, either
//   against a related feature (Execute, Validate) or against one candidate
//   row (ValidateAttributes). Failures come back as ValidationErrorArrays:
//   two Variants holding parallel one-dimensional arrays, element i being one
//   failure's priority and message text.
// - IValidationInterface, INamedValidationInterface,
//   IProjectValidationInterface: the outside objects a rule may name, created
//   by ProgID, from a name with ":" through the interface support object, or
//   taken from a VBA project by number. The project kind's entry object also
//   offers IValidationInterfaceEventSource (VbaProjectHost.h) and raises
//   Abort through it. The service only ever writes their properties and
//   calls Execute or Validate, in the order the rule walk sets out.
#include <cstdint>
#include <memory>
#include <string>

#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace ado {
class Recordset;
}

namespace pelmora {

class IComponentService;
class IDataContext;
class IKeyObject;
class QzComponents;

inline constexpr const char* kAttributeValidationServiceProgId = "QzPelmora.AttributeValidationService";
inline constexpr const char* kAttributeValidationServiceClsid = "{6C1F0B52-7E3A-4D19-8B26-93A4E5D07C18}";

class IAttributeValidationService {
public:
    virtual ~IAttributeValidationService() = default;
    virtual void putref_ActiveFeature(const std::shared_ptr<IKeyObject>& ActiveFeature) = 0;
    virtual std::shared_ptr<IKeyObject> get_ActiveFeature() = 0;
    virtual std::shared_ptr<ado::Recordset> get_RelatedComponent() = 0;
    // Setting either related property (nullptr included) clears the other.
    virtual void putref_RelatedComponent(const std::shared_ptr<ado::Recordset>& RelatedComponent) = 0;
    virtual void putref_RelatedFeature(const std::shared_ptr<IKeyObject>& RelatedFeature) = 0;
    virtual std::shared_ptr<IKeyObject> get_RelatedFeature() = 0;
    virtual void put_RelationshipType(const std::string& RelationshipType) = 0;
    virtual std::string get_RelationshipType() = 0;
    virtual void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) = 0;
    virtual std::shared_ptr<IDataContext> get_DataContext() = 0;
    // Every rule of the active FNO and each validation interface's Execute.
    // Never raises: what goes wrong is logged or shown.
    virtual void Execute(rt::Variant& PriorityArray, rt::Variant& ErrArray) = 0;
    // The rules of operation types 1 and 3 and each interface's Validate.
    virtual void Validate(rt::Variant& PriorityArray, rt::Variant& ErrArray) = 0;
    // The candidate filter rules against RelatedComponent; True when none
    // failed. Arrays left Missing make the first failure end the call.
    virtual bool ValidateAttributes(bool ActiveAttrCanBeNull, rt::Variant& PriorityArray, rt::Variant& ErrArray) = 0;
    bool ValidateAttributes(bool ActiveAttrCanBeNull) {
        rt::Variant priorities = rt::Variant::Missing();
        rt::Variant messages = rt::Variant::Missing();
        return ValidateAttributes(ActiveAttrCanBeNull, priorities, messages);
    }
};

// A validation interface created by ProgID. Execute and Validate append
// their failures to the caller's arrays by reference.
class IValidationInterface {
public:
    virtual ~IValidationInterface() = default;
    virtual void put_ActiveANO(int32_t ActiveANO) = 0;
    virtual void put_ActiveComponentName(const std::string& ActiveComponentName) = 0;
    virtual void putref_ActiveComponentService(const std::shared_ptr<IComponentService>& ComponentService) = 0;
    virtual void put_ArgumentArray(const rt::Variant& ArgumentArray) = 0;
    virtual void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) = 0;
    virtual void put_RelatedANO(int32_t RelatedANO) = 0;
    virtual void put_RelatedComponentName(const std::string& RelatedComponentName) = 0;
    virtual void putref_RelatedComponentService(const std::shared_ptr<IComponentService>& ComponentService) = 0;
    virtual void put_OperationType(int32_t OperationType) = 0;
    virtual void put_Operator(const std::string& Operator) = 0;
    virtual void put_Priority(const std::string& Priority) = 0;
    virtual void put_ValidationValue(const rt::Variant& ValidationValue) = 0;
    virtual void Execute(rt::Variant& PriorityArray, rt::Variant& ErrArray) = 0;
    virtual void Validate(rt::Variant& PriorityArray, rt::Variant& ErrArray) = 0;
};

// A validation interface created from a name with ":". Objects, arrays and
// values reach it through the interface support object's converters;
// Validate fills two String arrays that it is handed without elements.
class INamedValidationInterface {
public:
    virtual ~INamedValidationInterface() = default;
    virtual void Execute() = 0;
    virtual void Validate(rt::Variant& Priorities, rt::Variant& Messages) = 0;
    virtual void put_ActiveANO(int32_t ActiveANO) = 0;
    virtual void put_ActiveComponentName(const std::string& ActiveComponentName) = 0;
    virtual void putref_ActiveComponents(const rt::ObjectPtr& Components) = 0;
    virtual void put_ActiveFieldName(const std::string& ActiveFieldName) = 0;
    virtual void putref_ActiveValue(const rt::ObjectPtr& ActiveValue) = 0;
    virtual void putref_ArgumentArray(const rt::ObjectPtr& ArgumentArray) = 0;
    virtual void putref_DataContext(const rt::ObjectPtr& DataContext) = 0;
    virtual void put_Priority(const std::string& Priority) = 0;
    virtual void put_RelatedANO(int32_t RelatedANO) = 0;
    virtual void put_RelatedComponentName(const std::string& RelatedComponentName) = 0;
    virtual void putref_RelatedComponents(const rt::ObjectPtr& Components) = 0;
    virtual void put_RelatedFieldName(const std::string& RelatedFieldName) = 0;
    virtual void putref_RelatedValue(const rt::ObjectPtr& RelatedValue) = 0;
};

// A validation interface held in a VBA project. Validate appends to the
// caller's arrays by reference; Abort (through the entry object's event
// source) tells the caller the project went away.
class IProjectValidationInterface {
public:
    virtual ~IProjectValidationInterface() = default;
    virtual void put_ArgumentArray(const rt::Variant& ArgumentArray) = 0;
    virtual void put_ActiveComponentName(const std::string& ActiveComponentName) = 0;
    virtual void put_RelatedComponentName(const std::string& RelatedComponentName) = 0;
    virtual void put_ActiveANO(int32_t ActiveANO) = 0;
    virtual void put_RelatedANO(int32_t RelatedANO) = 0;
    virtual void putref_ActiveComponents(const std::shared_ptr<QzComponents>& Components) = 0;
    virtual void putref_RelatedComponents(const std::shared_ptr<QzComponents>& Components) = 0;
    virtual void put_Priority(const std::string& Priority) = 0;
    virtual void put_ActiveFieldName(const std::string& ActiveFieldName) = 0;
    virtual void put_RelatedFieldName(const std::string& RelatedFieldName) = 0;
    virtual void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) = 0;
    virtual void put_RelatedValue(const rt::Variant& RelatedValue) = 0;
    virtual void put_ActiveValue(const rt::Variant& ActiveValue) = 0;
    virtual void Execute() = 0;
    virtual void Validate(rt::Variant& PriorityArray, rt::Variant& ErrArray) = 0;
};

}  // namespace pelmora
