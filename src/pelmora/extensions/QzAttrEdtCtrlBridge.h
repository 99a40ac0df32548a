#pragma once
// Asks an attribute edit control whether a field may change. The control is
// bound from a VBA project (project number given), created by ProgID, or
// created by the interface support object from a name with ":"; the bridge
// hands it the context of the edit in the caller's order and returns its
// answer. One bridge serves one field change.
#include <cstdint>
#include <memory>
#include <string>

#include "pelmora/extensions/ExtensionBinding.h"
#include "interfaces/FunctionalInterface.h"
#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace pelmora {

class IComponents;
class IDataContext;

class QzAttrEdtCtrlBridge : public rt::Object {
public:
    QzAttrEdtCtrlBridge() = default;
    ~QzAttrEdtCtrlBridge() override;

    // PrjNo neither Empty nor Null: the project's entry object (PrjNo as a
    // Long); else a ProgID without ":" is created as it stands, one with ":"
    // through the interface support object.
    void Initialize(const rt::Variant& PrjNo, const std::string& ProgID);
    void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext);
    void put_fieldname(const std::string& FieldName);
    // The field's value before the change.
    void put_FieldValue(const rt::Variant& FieldValue);
    // Bounds 1 to n, or Null; a name-created control gets it re-based to 0.
    void put_ArgumentArray(const rt::Variant& ArgumentArray);
    void put_ComponentName(const std::string& ComponentName);
    // nullptr when the component stands alone.
    void putref_Components(const std::shared_ptr<IComponents>& Components);
    bool IsAttributeEditable(int32_t ANO);

    bool get_NameMode() const { return m_bNameMode; }
    bool get_Unloaded() const { return m_bVBAObjectUnloaded; }
    std::string TypeName() const override { return "QzAttrEdtCtrlBridge"; }

private:
    template <class F>
    auto Guard(const char* member, F&& f) -> decltype(f()) {
        return GuardBridgeCall(m_bVBAObjectUnloaded, std::string("QzAttrEdtCtrlBridge_") + member,
                               std::forward<F>(f));
    }
    std::shared_ptr<IAttributeEditControl> Control() const;
    std::shared_ptr<INamedAttributeEditControl> Named() const;
    IInterfaceSupport& Support() const;

    bool m_bVBAObjectUnloaded = false;
    std::shared_ptr<IAttributeEditControl> m_objControl;
    AbortSubscription m_objQzInterface;
    std::shared_ptr<INamedAttributeEditControl> m_objNamedControl;
    std::shared_ptr<IInterfaceSupport> m_oInterfaceSupport;
    bool m_bNameMode = false;
};

}  // namespace pelmora
