#include "product/InterfaceSupport.h"

#include <map>
#include <mutex>

#include "interfaces/Components.h"
#include "interfaces/DataContext.h"
#include "interfaces/KeyObject.h"
#include "product/VbaProjectHost.h"
#include "runtime/Error.h"

namespace product {

namespace {

constexpr const char* kSource = "InterfaceSupport";

std::mutex gMutex;
std::map<std::string, InterfaceObjectFactory>& Factories() {
    static std::map<std::string, InterfaceObjectFactory> factories;
    return factories;
}

rt::ObjectPtr Wrap(const char* kind, rt::Variant value) {
    return std::make_shared<ConvertedValue>(kind, std::move(value));
}

template <class T>
rt::ObjectPtr WrapObject(const char* kind, const std::shared_ptr<T>& object) {
    return Wrap(kind, rt::Variant(rt::ObjectPtrOf(object)));
}

}  // namespace

rt::Variant InterfaceSupport::CreateInterfaceObject(const std::string& Name) {
    if (Name.find(':') == std::string::npos)
        throw rt::ComError(rt::vberr::InvalidProcedureCall, kSource,
                           "\"" + Name + "\" is no interface name: it has no \":\".");
    InterfaceObjectFactory factory;
    {
        std::lock_guard lock(gMutex);
        auto it = Factories().find(Name);
        if (it != Factories().end()) factory = it->second;
    }
    if (!factory)
        throw rt::ComError(rt::vberr::CannotCreateObject, kSource,
                           "No interface object is known by the name \"" + Name + "\".");
    rt::ObjectPtr object = factory();
    if (!object)
        throw rt::ComError(rt::vberr::CannotCreateObject, kSource,
                           "The interface object \"" + Name + "\" could not be created.");
    return rt::Variant(object);
}

rt::ObjectPtr InterfaceSupport::ConvertArgumentArray(const rt::Variant& Arguments) {
    if (Arguments.IsEmpty() || Arguments.IsNull())
        return Wrap("Arguments", rt::Variant::UnallocatedArray(rt::vbVariant));
    if (!Arguments.IsArray())
        throw rt::ComError(rt::vberr::TypeMismatch, kSource, "The argument list is not an array.");
    return Wrap("Arguments", Arguments);
}

rt::ObjectPtr InterfaceSupport::ConvertComponents(const std::shared_ptr<pelmora::QzComponents>& Components) {
    return WrapObject("Components", Components);
}

rt::ObjectPtr InterfaceSupport::ConvertDataContext(const std::shared_ptr<pelmora::IDataContext>& DataContext) {
    return WrapObject("DataContext", DataContext);
}

rt::ObjectPtr InterfaceSupport::ConvertKeyObject(const std::shared_ptr<pelmora::QzKeyObject>& KeyObject) {
    return WrapObject("KeyObject", KeyObject);
}

rt::ObjectPtr InterfaceSupport::ConvertKeyObjects(const std::shared_ptr<pelmora::QzKeyObjects>& KeyObjects) {
    return WrapObject("KeyObjects", KeyObjects);
}

rt::ObjectPtr InterfaceSupport::ConvertValue(const rt::Variant& Value) {
    // Objects (a geometry before change) travel wrapped like any value.
    return Wrap("Value", Value);
}

void InterfaceSupport::ConvertValueBack(const rt::ObjectPtr& Converted, rt::Variant& Value) {
    if (!Converted) {
        Value = rt::Variant();
        return;
    }
    auto converted = rt::TryQueryInterface<pelmora::IConvertedValue>(Converted);
    if (!converted)
        throw rt::ComError(rt::vberr::TypeMismatch, kSource, "The object is no converted value.");
    Value = converted->get_Value();
}

void RegisterInterfaceObject(const std::string& Name, InterfaceObjectFactory Factory) {
    std::lock_guard lock(gMutex);
    Factories()[Name] = std::move(Factory);
}

void UnregisterInterfaceObject(const std::string& Name) {
    std::lock_guard lock(gMutex);
    Factories().erase(Name);
}

void RegisterInterfaceSupport() {
    rt::RegisterClass(pelmora::kInterfaceSupportProgId, pelmora::kInterfaceSupportClsid,
                      [] { return std::static_pointer_cast<rt::Object>(std::make_shared<InterfaceSupport>()); });
}

void RegisterExtensionStandIns() {
    RegisterVbaProjectHost();
    RegisterInterfaceSupport();
}

}  // namespace product
