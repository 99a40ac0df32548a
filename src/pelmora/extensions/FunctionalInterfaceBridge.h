#pragma once
// A functional interface that lives in a VBA project, or that the interface
// support object creates from a name with ":", put behind
// IFunctionalInterface. Functional types travel to the hosted object as
// numbers; in name mode objects and values go through the support object's
// converters. CancelUpdate and Update never reach the hosted object.
#include <cstdint>
#include <memory>
#include <string>

#include "pelmora/extensions/ExtensionBinding.h"
#include "interfaces/ComponentService.h"
#include "interfaces/FunctionalInterface.h"
#include "runtime/Object.h"

namespace pelmora {

class FunctionalInterfaceBridge : public rt::Object, public IFunctionalInterface {
public:
    FunctionalInterfaceBridge() = default;
    ~FunctionalInterfaceBridge() override;

    // Project number 1 or more binds the project's entry object; anything
    // else creates Name through the bridge's interface support object.
    // Failures reach the caller as they are.
    void Initialize(int32_t PrjNo, const std::string& Name);

    rt::Variant get_ArgumentArray() override;
    void put_ArgumentArray(const rt::Variant& ArgumentArray) override;
    std::string get_ComponentName() override;
    void put_ComponentName(const std::string& ComponentName) override;
    std::string get_FieldName() override;
    void put_FieldName(const std::string& FieldName) override;
    // The service kept by the last set; the hosted object is not asked.
    std::shared_ptr<IComponentService> get_ComponentService() override;
    // Keeps the service (it must be the system's own) and hands its
    // components to the hosted object; nullptr hands nothing.
    void putref_ComponentService(const std::shared_ptr<IComponentService>& ComponentService) override;
    std::shared_ptr<IDataContext> get_DataContext() override;
    void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) override;
    rt::Variant get_FieldValueBeforeChange() override;
    void put_FieldValueBeforeChange(const rt::Variant& Value) override;
    // "" for a hosted number that stands for none of the four types.
    std::string get_FunctionalType() override;
    // Only "AddNew", "SetValue", "Edit" and "Update" (exact case) reach the
    // hosted object; any other text leaves its type as it was.
    void put_FunctionalType(const std::string& FunctionalType) override;
    void Execute() override;
    void CancelUpdate() override {}
    void Update() override {}
    void Delete() override;
    void Validate(rt::Variant& PriorityArray, rt::Variant& ErrArray) override;

    bool get_NameMode() const { return m_oHosted.NameMode(); }
    bool get_Unloaded() const { return m_bVBAObjectUnloaded; }

    std::string TypeName() const override { return "FunctionalInterfaceBridge"; }

    // The number of a functional-type text, 0 for none; and back ("" for none).
    static int32_t FunctionalTypeNumber(const std::string& text);
    static std::string FunctionalTypeText(int32_t number);

private:
    template <class F>
    auto Guard(F&& f) -> decltype(f()) {
        return GuardBridgeCall(m_bVBAObjectUnloaded, kSource, std::forward<F>(f));
    }
    // The hosted objects, held for the length of one call (91 when gone).
    std::shared_ptr<IProjectFunctionalInterface> Project() const { return m_oHosted.Project(); }
    std::shared_ptr<INamedFunctionalInterface> Named() const { return m_oHosted.Named(); }
    IInterfaceSupport& Support() const { return m_oHosted.Support(); }
    bool NameMode() const { return m_oHosted.NameMode(); }
    void OnAbort();

    static constexpr const char* kSource = "FunctionalInterfaceBridge";

    HostedExtension<IProjectFunctionalInterface, INamedFunctionalInterface> m_oHosted;
    std::shared_ptr<IComponentService> m_oComponentService;
    bool m_bVBAObjectUnloaded = false;
};

}  // namespace pelmora
