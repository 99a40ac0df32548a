#include "pelmora/extensions/QzAttrEdtCtrlBridge.h"

#include "interfaces/Components.h"
#include "interfaces/DataContext.h"
#include "runtime/Vb.h"

namespace pelmora {

QzAttrEdtCtrlBridge::~QzAttrEdtCtrlBridge() { m_objQzInterface.Drop(); }

void QzAttrEdtCtrlBridge::Initialize(const rt::Variant& PrjNo, const std::string& ProgID) {
    Guard("Initialize", [&] {
        m_bNameMode = false;
        m_bVBAObjectUnloaded = false;
        if (!PrjNo.IsEmpty() && !PrjNo.IsNull()) {
            auto entry = GetVbaProjectObject(rt::CLng(PrjNo));
            auto control = rt::QueryInterface<IAttributeEditControl>(entry);
            // The control stays bound after an Abort; only the flag records it.
            m_objQzInterface.Subscribe(entry, [this] { m_bVBAObjectUnloaded = true; });
            m_objControl = std::move(control);
            m_objNamedControl.reset();
        } else if (ProgID.find(':') == std::string::npos) {
            m_objControl = rt::QueryInterface<IAttributeEditControl>(rt::CreateObject(ProgID));
            m_objQzInterface.Drop();
            m_objNamedControl.reset();
        } else {
            m_bNameMode = true;
            if (!m_oInterfaceSupport) m_oInterfaceSupport = NewInterfaceSupport();
            rt::Variant created = m_oInterfaceSupport->CreateInterfaceObject(ProgID);
            if (!created.IsObject()) rt::RaiseVbError(rt::vberr::ObjectRequired);
            m_objNamedControl = rt::QueryInterface<INamedAttributeEditControl>(created.Obj());
            m_objQzInterface.Drop();
            m_objControl.reset();
        }
    });
}

std::shared_ptr<IAttributeEditControl> QzAttrEdtCtrlBridge::Control() const {
    if (!m_objControl) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    return m_objControl;
}

std::shared_ptr<INamedAttributeEditControl> QzAttrEdtCtrlBridge::Named() const {
    if (!m_objNamedControl) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    return m_objNamedControl;
}

IInterfaceSupport& QzAttrEdtCtrlBridge::Support() const {
    if (!m_oInterfaceSupport) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    return *m_oInterfaceSupport;
}

void QzAttrEdtCtrlBridge::putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) {
    Guard("DataContext", [&] {
        if (m_bNameMode) {
            auto named = Named();
            named->putref_DataContext(Support().ConvertDataContext(DataContext));
        } else {
            Control()->putref_DataContext(DataContext);
        }
    });
}

void QzAttrEdtCtrlBridge::put_fieldname(const std::string& FieldName) {
    Guard("FieldName", [&] {
        if (m_bNameMode) Named()->put_FieldName(FieldName);
        else Control()->put_FieldName(FieldName);
    });
}

void QzAttrEdtCtrlBridge::put_FieldValue(const rt::Variant& FieldValue) {
    Guard("FieldValue", [&] {
        if (m_bNameMode) {
            auto named = Named();
            named->putref_FieldValue(Support().ConvertValue(FieldValue));
        } else {
            Control()->put_FieldValue(FieldValue);
        }
    });
}

void QzAttrEdtCtrlBridge::put_ArgumentArray(const rt::Variant& ArgumentArray) {
    Guard("ArgumentArray", [&] {
        if (m_bNameMode) {
            auto named = Named();
            named->putref_ArgumentArray(Support().ConvertArgumentArray(CopyArgumentArray(ArgumentArray)));
        } else {
            Control()->put_ArgumentArray(ArgumentArray);
        }
    });
}

void QzAttrEdtCtrlBridge::put_ComponentName(const std::string& ComponentName) {
    Guard("ComponentName", [&] {
        if (m_bNameMode) Named()->put_ComponentName(ComponentName);
        else Control()->put_ComponentName(ComponentName);
    });
}

void QzAttrEdtCtrlBridge::putref_Components(const std::shared_ptr<IComponents>& Components) {
    Guard("Components", [&] {
        std::shared_ptr<QzComponents> qz;
        if (Components) qz = rt::QueryInterface<QzComponents>(Components);
        if (m_bNameMode) {
            auto named = Named();
            named->putref_Components(Support().ConvertComponents(qz));
        } else {
            Control()->putref_Components(qz);
        }
    });
}

bool QzAttrEdtCtrlBridge::IsAttributeEditable(int32_t ANO) {
    return Guard("IsAttributeEditable", [&] {
        return m_bNameMode ? Named()->IsAttributeEditable(ANO) : Control()->IsAttributeEditable(ANO);
    });
}

}  // namespace pelmora
