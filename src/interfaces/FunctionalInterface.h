#pragma once
// Extension objects that metadata attaches to component fields:
//
// - IFunctionalInterface: a functional interface, fired by component edits
//   and asked by feature validation. Objects created by ProgID implement it;
//   the system's FunctionalInterfaceBridge implements it for the two kinds
//   below.
// - IProjectFunctionalInterface / INamedFunctionalInterface: a functional
//   interface held in a VBA project, or created by the interface support
//   object from a name with ":". The named kind takes converted objects
//   (InterfaceSupport.h) and its functional type as a number.
// - IAttributeEditControl / INamedAttributeEditControl: an attribute edit
//   control (by ProgID or from a VBA project / from a name with ":"),
//   asked whether a field may change.
#include <cstdint>
#include <memory>
#include <string>

#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace pelmora {

class IComponentService;
class IComponents;
class IDataContext;
class QzComponents;

class IFunctionalInterface {
public:
    virtual ~IFunctionalInterface() = default;
    // The argument list, or Empty / Null.
    virtual rt::Variant get_ArgumentArray() = 0;
    virtual void put_ArgumentArray(const rt::Variant& ArgumentArray) = 0;
    virtual std::string get_ComponentName() = 0;
    virtual void put_ComponentName(const std::string& ComponentName) = 0;
    virtual std::string get_FieldName() = 0;
    virtual void put_FieldName(const std::string& FieldName) = 0;
    virtual std::shared_ptr<IComponentService> get_ComponentService() = 0;
    virtual void putref_ComponentService(const std::shared_ptr<IComponentService>& ComponentService) = 0;
    virtual std::shared_ptr<IDataContext> get_DataContext() = 0;
    virtual void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) = 0;
    virtual rt::Variant get_FieldValueBeforeChange() = 0;
    virtual void put_FieldValueBeforeChange(const rt::Variant& Value) = 0;
    // "AddNew", "SetValue", "Edit", "Update" or another text of the metadata.
    virtual std::string get_FunctionalType() = 0;
    virtual void put_FunctionalType(const std::string& FunctionalType) = 0;
    virtual void Execute() = 0;
    virtual void CancelUpdate() = 0;
    virtual void Update() = 0;
    virtual void Delete() = 0;
    // Fills the two arrays with the priorities and messages of its findings.
    virtual void Validate(rt::Variant& PriorityArray, rt::Variant& ErrArray) = 0;
};

// The functional types as numbers, as the hosted kinds take them.
enum FunctionalTypeNumber : int32_t {
    kFunctionalTypeAddNew = 1,
    kFunctionalTypeSetValue = 2,
    kFunctionalTypeEdit = 3,
    kFunctionalTypeUpdate = 4,
};

// A functional interface held in a VBA project. Its entry object also offers
// IValidationInterfaceEventSource (VbaProjectHost.h) for its Abort event.
class IProjectFunctionalInterface {
public:
    virtual ~IProjectFunctionalInterface() = default;
    virtual rt::Variant get_ArgumentArray() = 0;
    // Bounds 1 to n as built, or Null / Empty.
    virtual void put_ArgumentArray(const rt::Variant& ArgumentArray) = 0;
    virtual std::string get_ComponentName() = 0;
    virtual void put_ComponentName(const std::string& ComponentName) = 0;
    virtual void putref_Components(const std::shared_ptr<QzComponents>& Components) = 0;
    virtual std::shared_ptr<IDataContext> get_DataContext() = 0;
    virtual void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) = 0;
    virtual std::string get_FieldName() = 0;
    virtual void put_FieldName(const std::string& FieldName) = 0;
    virtual rt::Variant get_FieldValueBeforeChange() = 0;
    virtual void put_FieldValueBeforeChange(const rt::Variant& Value) = 0;
    virtual int32_t get_FunctionalType() = 0;
    virtual void put_FunctionalType(int32_t FunctionalType) = 0;
    virtual void Execute() = 0;
    virtual void Delete() = 0;
    virtual void Validate(rt::Variant& PriorityArray, rt::Variant& ErrArray) = 0;
};

// A functional interface created from a name with ":". Objects, arrays and
// values reach it converted by the interface support object.
class INamedFunctionalInterface {
public:
    virtual ~INamedFunctionalInterface() = default;
    virtual void Execute() = 0;
    virtual void Delete() = 0;
    // Two String arrays, handed in without elements; either may stay so.
    virtual void Validate(rt::Variant& Priorities, rt::Variant& Messages) = 0;
    virtual rt::ObjectPtr get_ArgumentArray() = 0;
    virtual void putref_ArgumentArray(const rt::ObjectPtr& ArgumentArray) = 0;
    virtual std::string get_ComponentName() = 0;
    virtual void put_ComponentName(const std::string& ComponentName) = 0;
    virtual void putref_Components(const rt::ObjectPtr& Components) = 0;
    virtual rt::ObjectPtr get_DataContext() = 0;
    virtual void putref_DataContext(const rt::ObjectPtr& DataContext) = 0;
    virtual std::string get_FieldName() = 0;
    virtual void put_FieldName(const std::string& FieldName) = 0;
    virtual rt::ObjectPtr get_FieldValueBeforeChange() = 0;
    virtual void putref_FieldValueBeforeChange(const rt::ObjectPtr& Value) = 0;
    virtual int32_t get_FunctionalType() = 0;
    virtual void put_FunctionalType(int32_t FunctionalType) = 0;
};

// An attribute edit control created by ProgID or held in a VBA project
// (which then also offers IValidationInterfaceEventSource).
class IAttributeEditControl {
public:
    virtual ~IAttributeEditControl() = default;
    virtual void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) = 0;
    // Bounds 1 to n as built, or Null.
    virtual void put_ArgumentArray(const rt::Variant& ArgumentArray) = 0;
    virtual void putref_Components(const std::shared_ptr<QzComponents>& Components) = 0;
    virtual void put_ComponentName(const std::string& ComponentName) = 0;
    virtual void put_FieldName(const std::string& FieldName) = 0;
    // The field's value before the change.
    virtual void put_FieldValue(const rt::Variant& FieldValue) = 0;
    virtual bool IsAttributeEditable(int32_t ANO) = 0;
};

// An attribute edit control created from a name with ":".
class INamedAttributeEditControl {
public:
    virtual ~INamedAttributeEditControl() = default;
    virtual bool IsAttributeEditable(int32_t ANO) = 0;
    virtual void putref_ArgumentArray(const rt::ObjectPtr& ArgumentArray) = 0;
    virtual void put_ComponentName(const std::string& ComponentName) = 0;
    virtual void putref_Components(const rt::ObjectPtr& Components) = 0;
    virtual void putref_DataContext(const rt::ObjectPtr& DataContext) = 0;
    virtual void put_FieldName(const std::string& FieldName) = 0;
    virtual void putref_FieldValue(const rt::ObjectPtr& FieldValue) = 0;
};

}  // namespace pelmora
