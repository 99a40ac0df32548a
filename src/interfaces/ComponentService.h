#pragma once
// The component service as functional interfaces and validators see it: a
// cursor over the occurrences (QTX_CID values) of one named component of a
// feature.
#include <cstdint>
#include <memory>
#include <string>

#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace pelmora {

class IComponents;

class IComponentService {
public:
    virtual ~IComponentService() = default;
    virtual std::string get_ComponentName() = 0;
    // Selects a component and positions on its current row, else its first.
    virtual void put_ComponentName(const std::string& ComponentName) = 0;
    virtual int16_t get_ComponentID() = 0;
    // Positions on the occurrence with that QTX_CID.
    virtual void put_ComponentID(int16_t CID) = 0;
    // The QTX_CID values as a zero-based Integer array, or Null.
    virtual rt::Variant get_CIDList() = 0;
    virtual rt::ObjectPtr get_Geometry() = 0;
    virtual void putref_Geometry(const rt::ObjectPtr& Geometry) = 0;
    virtual rt::Variant get_Value(const std::string& FieldName) = 0;
    virtual void put_Value(const std::string& FieldName, const rt::Variant& Value) = 0;
    virtual void NewOccurrence() = 0;
    virtual void DeleteOccurrence() = 0;
};

// The members of the system's own ComponentService that only the system
// reaches: the collection it serves. A service that lacks this face is not
// the system's own.
class IComponentServiceInternal {
public:
    virtual ~IComponentServiceInternal() = default;
    virtual std::shared_ptr<IComponents> get_Components() = 0;
    virtual void putref_Components(const std::shared_ptr<IComponents>& Components) = 0;
};

// The event interface the type library declares for the service: NeedParent
// asks for the collection to serve. The service itself never raises it.
class ComponentServiceEvents {
public:
    virtual ~ComponentServiceEvents() = default;
    virtual void NeedParent(std::shared_ptr<IComponents>& oParent) = 0;
};

inline constexpr const char* kComponentServiceProgId = "QzPelmora.ComponentService";

}  // namespace pelmora
