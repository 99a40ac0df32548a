#include "product/VbaProjectHost.h"

#include <vector>

#include "runtime/Error.h"

namespace product {

namespace {
struct HostSlot {
    std::shared_ptr<VbaProjectHost> host;
};
}  // namespace

std::shared_ptr<VbaProjectHost> VbaProjectHost::Current() {
    auto& slot = rt::Apartment::Current().Get<HostSlot>();
    if (!slot.host) slot.host = std::make_shared<VbaProjectHost>();
    return slot.host;
}

void VbaProjectHost::LoadProject(int32_t ProjectNumber, const rt::ObjectPtr& EntryObject) {
    if (!EntryObject) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet, "VBAProjectHost");
    UnloadProject(ProjectNumber);
    projects_[ProjectNumber] = EntryObject;
}

void VbaProjectHost::UnloadProject(int32_t ProjectNumber) {
    auto it = projects_.find(ProjectNumber);
    if (it == projects_.end()) return;
    // Held here while the listeners run: they may release their references.
    rt::ObjectPtr entry = it->second;
    projects_.erase(it);
    if (auto events = std::dynamic_pointer_cast<pelmora::AbortEventSource>(entry)) events->RaiseAbort();
}

void VbaProjectHost::UnloadAll() {
    std::vector<int32_t> numbers;
    for (const auto& [n, _] : projects_) numbers.push_back(n);
    for (int32_t n : numbers) UnloadProject(n);
}

std::shared_ptr<pelmora::IVbaProjects> VbaProjectHost::get_Projects() {
    return std::dynamic_pointer_cast<pelmora::IVbaProjects>(shared_from_this());
}

rt::ObjectPtr VbaProjectHost::get_Item(int32_t ProjectNumber) {
    auto it = projects_.find(ProjectNumber);
    if (it == projects_.end())
        throw rt::ComError(rt::vberr::SubscriptOutOfRange, "VBAProjectHost",
                           "No VBA project number " + std::to_string(ProjectNumber) + " is loaded.");
    return it->second;
}

void RegisterVbaProjectHost() {
    rt::RegisterClass(pelmora::kVbaProjectHostProgId, pelmora::kVbaProjectHostClsid,
                      [] { return std::static_pointer_cast<rt::Object>(VbaProjectHost::Current()); });
}

}  // namespace product
