#pragma once
// A cursor over the occurrences (QTX_CID values) of one named component of a
// feature, given to functional interfaces and validators. It holds no rows of
// its own: every member takes the component from the served collection by
// name and works on its live recordset, with the component's filter in force
// and on that recordset's current row.
//
// Every member but ComponentName [get] and the Components members reports a
// failure as 0x80040000 from "ComponentService", its own message first and
// the failure's description after a line break.
#include <cstdint>
#include <memory>
#include <string>

#include "interfaces/ComponentService.h"
#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace ado {
class Recordset;
}

namespace pelmora {

class IComponent;

class ComponentService : public rt::Object, public IComponentService, public IComponentServiceInternal {
public:
    // ---- IComponentService ----
    std::string get_ComponentName() override { return componentName_; }
    void put_ComponentName(const std::string& ComponentName) override;
    int16_t get_ComponentID() override;
    void put_ComponentID(int16_t CID) override;
    rt::Variant get_CIDList() override;
    rt::ObjectPtr get_Geometry() override;
    void putref_Geometry(const rt::ObjectPtr& Geometry) override;
    rt::Variant get_Value(const std::string& FieldName) override;
    void put_Value(const std::string& FieldName, const rt::Variant& Value) override;
    void NewOccurrence() override;
    void DeleteOccurrence() override;

    // ---- inside the system ----
    std::shared_ptr<IComponents> get_Components() override { return components_; }
    void putref_Components(const std::shared_ptr<IComponents>& Components) override { components_ = Components; }

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "ComponentService"; }

private:
    std::shared_ptr<IComponent> Component();
    std::shared_ptr<ado::Recordset> Rows();
    // Adds a row that keeps satisfying a filter of the form "field = value"
    // by presetting that field.
    static void AddNewKeepingFilter(const std::shared_ptr<ado::Recordset>& rs);

    std::shared_ptr<IComponents> components_;
    std::string componentName_;
    int16_t cid_ = 0;
};

// Registers "QzPelmora.ComponentService" (also done when the program starts;
// calling it again is harmless).
void RegisterComponentService();

}  // namespace pelmora
