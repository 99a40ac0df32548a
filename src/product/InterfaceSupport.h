#pragma once
// The interface support object stand-in. Names with ":" ("Library:Class")
// are resolved through a process-wide table of factories that the product
// (or a test) fills; the converters wrap what they are given in a
// ConvertedValue (pelmora::IConvertedValue) that a name-created object
// reads back. A test installs another support object by registering its own
// factory under pelmora::kInterfaceSupportClsid.
#include <functional>
#include <memory>
#include <string>

#include "interfaces/InterfaceSupport.h"
#include "runtime/Object.h"

namespace product {

class InterfaceSupport : public rt::Object, public pelmora::IInterfaceSupport {
public:
    // A name without ":" raises 5; a name no factory is registered under
    // raises 429.
    rt::Variant CreateInterfaceObject(const std::string& Name) override;
    // Anything but an array (or Empty / Null, which give an array without
    // elements) raises 13.
    rt::ObjectPtr ConvertArgumentArray(const rt::Variant& Arguments) override;
    rt::ObjectPtr ConvertComponents(const std::shared_ptr<pelmora::QzComponents>& Components) override;
    rt::ObjectPtr ConvertDataContext(const std::shared_ptr<pelmora::IDataContext>& DataContext) override;
    rt::ObjectPtr ConvertKeyObject(const std::shared_ptr<pelmora::QzKeyObject>& KeyObject) override;
    rt::ObjectPtr ConvertKeyObjects(const std::shared_ptr<pelmora::QzKeyObjects>& KeyObjects) override;
    // Any value, objects (a geometry) included.
    rt::ObjectPtr ConvertValue(const rt::Variant& Value) override;
    // A converted object gives its value; nullptr gives Empty; any other
    // object raises 13.
    void ConvertValueBack(const rt::ObjectPtr& Converted, rt::Variant& Value) override;

    std::string TypeName() const override { return "InterfaceSupport"; }
};

// What the converters return.
class ConvertedValue : public rt::Object, public pelmora::IConvertedValue {
public:
    ConvertedValue(std::string kind, rt::Variant value) : kind_(std::move(kind)), value_(std::move(value)) {}
    std::string get_Kind() override { return kind_; }
    rt::Variant get_Value() override { return value_; }
    std::string TypeName() const override { return "ConvertedValue"; }

private:
    std::string kind_;
    rt::Variant value_;
};

// The objects names with ":" stand for. Registering a name again replaces
// its factory.
using InterfaceObjectFactory = std::function<rt::ObjectPtr()>;
void RegisterInterfaceObject(const std::string& Name, InterfaceObjectFactory Factory);
void UnregisterInterfaceObject(const std::string& Name);

// Registers the support object under pelmora::kInterfaceSupportProgId and
// its class id.
void RegisterInterfaceSupport();

// Registers the VBA project host and the interface support object.
void RegisterExtensionStandIns();

}  // namespace product
