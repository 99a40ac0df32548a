// Registration of the sample's extension objects, the entry objects of its
// VBA projects, and the helpers the objects share.
#include "SampleExtensions.h"

#include <algorithm>
#include <typeinfo>

#include "SampleExtensionsInternal.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "interfaces/FunctionalInterface.h"
#include "interfaces/InterfaceSupport.h"
#include "interfaces/RelationshipGeometry.h"
#include "interfaces/ValidationInterface.h"
#include "interfaces/VbaProjectHost.h"
#include "product/InterfaceSupport.h"
#include "product/VbaProjectHost.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora_sample {

namespace {

std::vector<InterfaceCall>& Journal() {
    static std::vector<InterfaceCall> calls;
    return calls;
}
bool& Keeping() {
    static bool keep = false;
    return keep;
}

// The entry object of a VBA project: one face per kind of extension the
// project holds, each a separate object, since the kinds share member names
// that must act differently. Raises Abort when the project is unloaded.
class ProjectEntry : public rt::Object, public pelmora::AbortEventSource {
public:
    rt::ObjectPtr functional, editControl, geometry, validation;

    std::shared_ptr<rt::Object> QueryFacet(const std::type_info& iface) override {
        if (iface == typeid(pelmora::IProjectFunctionalInterface)) return functional;
        if (iface == typeid(pelmora::IAttributeEditControl)) return editControl;
        if (iface == typeid(pelmora::IProjectRelationshipGeometry)) return geometry;
        if (iface == typeid(pelmora::IProjectValidationInterface)) return validation;
        return nullptr;
    }
    std::string TypeName() const override { return "SampleProject"; }
};

// What RegisterSampleExtensions registered, for UnregisterSampleExtensions.
std::vector<std::string>& ProgIds() {
    static std::vector<std::string> names;
    return names;
}
std::vector<std::string>& Names() {
    static std::vector<std::string> names;
    return names;
}

}  // namespace

void RegisterProgId(const std::string& progId, std::function<rt::ObjectPtr()> factory) {
    rt::RegisterClass(progId, "", std::move(factory));
    if (std::find(ProgIds().begin(), ProgIds().end(), progId) == ProgIds().end()) ProgIds().push_back(progId);
}

void RegisterName(const std::string& name, std::function<rt::ObjectPtr()> factory) {
    product::RegisterInterfaceObject(name, std::move(factory));
    if (std::find(Names().begin(), Names().end(), name) == Names().end()) Names().push_back(name);
}

void Record(InterfaceCall call) {
    if (Keeping()) Journal().push_back(std::move(call));
}

void KeepInterfaceCalls(bool keep) { Keeping() = keep; }
bool KeepsInterfaceCalls() { return Keeping(); }

std::vector<InterfaceCall> TakeInterfaceCalls() {
    std::vector<InterfaceCall> out;
    out.swap(Journal());
    return out;
}

rt::Variant Unconverted(const rt::ObjectPtr& converted) {
    if (!converted) return rt::Variant::Nothing();
    if (auto value = rt::TryQueryInterface<pelmora::IConvertedValue>(converted)) return value->get_Value();
    return rt::Variant(converted);
}

std::vector<std::string> ArgumentTexts(const rt::Variant& arguments) {
    rt::Variant list = arguments;
    if (list.IsObject() && !list.IsNothing()) list = Unconverted(list.Obj());
    std::vector<std::string> out;
    if (!list.IsArray() || !pelmora::IsArrayDimensioned(list)) return out;
    for (int32_t i = rt::LBound(list); i <= rt::UBound(list); ++i) {
        const rt::Variant v = list.Array()->Get(i);
        out.push_back(v.IsNull() || v.IsEmpty() ? std::string() : rt::CStr(v));
    }
    return out;
}

rt::Variant TextArray(const std::vector<std::string>& texts) {
    const int32_t n = static_cast<int32_t>(texts.empty() ? 1 : texts.size());
    rt::Variant a = rt::Variant::MakeArray(rt::vbString, 0, n - 1);
    for (int32_t i = 0; i < static_cast<int32_t>(texts.size()); ++i) a.ArrayMut()->Set(i, rt::Variant(texts[i]));
    if (texts.empty()) a.ArrayMut()->Set(0, rt::Variant(std::string()));
    return a;
}

void PutFindings(const std::vector<Finding>& findings, rt::Variant& priorities, rt::Variant& messages) {
    std::vector<std::string> p, m;
    for (const auto& [priority, message] : findings) {
        p.push_back(priority);
        m.push_back(message);
    }
    priorities = TextArray(p);
    messages = TextArray(m);
}

void LoadProjects() {
    auto host = product::VbaProjectHost::Current();
    // Project 1 ("Water Network"): LiningAudit and HydrantTypeCheck, the
    // meter's edit control, and MainAudit over a main's service lines.
    auto water = std::make_shared<ProjectEntry>();
    water->functional = NewProjectFunctionalInterface();
    water->editControl = NewProjectEditControl();
    water->geometry = NewProjectGeometryInterface();
    host->LoadProject(1, water);
    // Project 7: ValveProject, a valve against its main.
    auto valves = std::make_shared<ProjectEntry>();
    valves->validation = NewProjectValidationInterface();
    host->LoadProject(7, valves);
}

void RegisterSampleExtensions() {
    RegisterFunctionalInterfaces();
    RegisterGeometryInterfaces();
    RegisterValidationInterfaces();
    LoadProjects();
}

void UnregisterSampleExtensions() {
    for (const auto& progId : ProgIds()) rt::UnregisterClass(progId);
    for (const auto& name : Names()) product::UnregisterInterfaceObject(name);
    auto host = product::VbaProjectHost::Current();
    for (int32_t project : {1, 7}) host->UnloadProject(project);
    ProgIds().clear();
    Names().clear();
    TakeInterfaceCalls();
}

}  // namespace pelmora_sample
