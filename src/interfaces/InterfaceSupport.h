#pragma once
// The interface support object: creates an extension object from a name
// that contains ":" and converts the system's objects and values into the
// forms such an object takes. Each caller creates its own (by ProgID or
// class id).
#include <memory>
#include <string>

#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace pelmora {

class IDataContext;
class QzComponents;
class QzKeyObject;
class QzKeyObjects;

inline constexpr const char* kInterfaceSupportProgId = "QTX.InterfaceSupport";
inline constexpr const char* kInterfaceSupportClsid = "{7498C1A5-2936-387F-9F91-274224710EB3}";

class IInterfaceSupport {
public:
    virtual ~IInterfaceSupport() = default;
    // A variant holding the new object; a name that cannot be created raises.
    virtual rt::Variant CreateInterfaceObject(const std::string& Name) = 0;
    // The same creation under the name attribute validation calls it by.
    rt::Variant CreateInterface(const std::string& Name) { return CreateInterfaceObject(Name); }
    // A zero-based Variant array (or one without elements).
    virtual rt::ObjectPtr ConvertArgumentArray(const rt::Variant& Arguments) = 0;
    virtual rt::ObjectPtr ConvertComponents(const std::shared_ptr<QzComponents>& Components) = 0;
    virtual rt::ObjectPtr ConvertDataContext(const std::shared_ptr<IDataContext>& DataContext) = 0;
    virtual rt::ObjectPtr ConvertKeyObject(const std::shared_ptr<QzKeyObject>& KeyObject) = 0;
    virtual rt::ObjectPtr ConvertKeyObjects(const std::shared_ptr<QzKeyObjects>& KeyObjects) = 0;
    virtual rt::ObjectPtr ConvertValue(const rt::Variant& Value) = 0;
    // The value an object of the name-created side stands for.
    virtual void ConvertValueBack(const rt::ObjectPtr& Converted, rt::Variant& Value) = 0;
};

// What every converter of the product's support object returns; a
// name-created extension object reads what it was given through it.
class IConvertedValue {
public:
    virtual ~IConvertedValue() = default;
    // "Arguments", "Components", "DataContext", "KeyObject", "KeyObjects" or "Value".
    virtual std::string get_Kind() = 0;
    // The converted value: the array, the value, or the object (which may be Nothing).
    virtual rt::Variant get_Value() = 0;
};

}  // namespace pelmora
