#pragma once
// The VBA project host stand-in: one per apartment, holding the entry
// objects of the projects loaded into it by number. Unloading a project
// raises Abort on its entry object (when the object has the event face).
// Creating the host by ProgID or class id gives the apartment's one host.
// A test installs another host by registering its own factory under
// pelmora::kVbaProjectHostClsid before the apartment first asks for one.
#include <cstdint>
#include <map>
#include <memory>

#include "interfaces/VbaProjectHost.h"
#include "runtime/Object.h"

namespace product {

class VbaProjectHost : public rt::Object, public pelmora::IVbaProjectHost, public pelmora::IVbaProjects {
public:
    // The current apartment's host, created on first use.
    static std::shared_ptr<VbaProjectHost> Current();

    // Loads (or replaces) project number's entry object. A replaced project
    // is unloaded first, so its listeners hear Abort.
    void LoadProject(int32_t ProjectNumber, const rt::ObjectPtr& EntryObject);
    // Removes the project and raises Abort on its entry object; a number not
    // loaded does nothing.
    void UnloadProject(int32_t ProjectNumber);
    // Unloads every project, in number order.
    void UnloadAll();
    bool IsLoaded(int32_t ProjectNumber) const { return projects_.count(ProjectNumber) != 0; }

    // ---- IVbaProjectHost ----
    std::shared_ptr<pelmora::IVbaProjects> get_Projects() override;
    // ---- IVbaProjects ----
    // A number not loaded raises 9 (subscript out of range).
    rt::ObjectPtr get_Item(int32_t ProjectNumber) override;
    int32_t get_Count() override { return static_cast<int32_t>(projects_.size()); }

    std::string TypeName() const override { return "VBAProjectHost"; }

private:
    std::map<int32_t, rt::ObjectPtr> projects_;
};

// Registers the host under pelmora::kVbaProjectHostProgId and its class id.
void RegisterVbaProjectHost();

}  // namespace product
