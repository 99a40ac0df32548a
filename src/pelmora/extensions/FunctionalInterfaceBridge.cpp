#include "pelmora/extensions/FunctionalInterfaceBridge.h"

#include "pelmora/common/modYvCommonUtilities.h"
#include "interfaces/Components.h"
#include "interfaces/DataContext.h"

namespace pelmora {

namespace {

struct FunctionalTypeEntry {
    const char* text;
    int32_t number;
};
constexpr FunctionalTypeEntry kTypes[] = {
    {"AddNew", kFunctionalTypeAddNew},
    {"SetValue", kFunctionalTypeSetValue},
    {"Edit", kFunctionalTypeEdit},
    {"Update", kFunctionalTypeUpdate},
};

// A components collection as the hosted objects take it; nullptr stays so.
std::shared_ptr<QzComponents> AsQzComponents(const std::shared_ptr<IComponents>& components) {
    if (!components) return nullptr;
    return rt::QueryInterface<QzComponents>(components);
}

}  // namespace

FunctionalInterfaceBridge::~FunctionalInterfaceBridge() = default;

int32_t FunctionalInterfaceBridge::FunctionalTypeNumber(const std::string& text) {
    for (const auto& t : kTypes)
        if (text == t.text) return t.number;
    return 0;
}

std::string FunctionalInterfaceBridge::FunctionalTypeText(int32_t number) {
    for (const auto& t : kTypes)
        if (number == t.number) return t.text;
    return "";
}

void FunctionalInterfaceBridge::Initialize(int32_t PrjNo, const std::string& Name) {
    m_bVBAObjectUnloaded = false;
    m_oHosted.Bind(PrjNo, Name, [this] { OnAbort(); });
}

void FunctionalInterfaceBridge::OnAbort() {
    m_bVBAObjectUnloaded = true;
    m_oComponentService.reset();
    m_oHosted.DropProject();
}

rt::Variant FunctionalInterfaceBridge::get_ArgumentArray() {
    return Guard([&] {
        if (NameMode()) return rt::Variant(Named()->get_ArgumentArray());
        return Project()->get_ArgumentArray();
    });
}

void FunctionalInterfaceBridge::put_ArgumentArray(const rt::Variant& ArgumentArray) {
    Guard([&] {
        if (NameMode()) {
            auto named = Named();
            named->putref_ArgumentArray(Support().ConvertArgumentArray(CopyArgumentArray(ArgumentArray)));
        } else {
            Project()->put_ArgumentArray(ArgumentArray);
        }
    });
}

std::string FunctionalInterfaceBridge::get_ComponentName() {
    return Guard([&] { return NameMode() ? Named()->get_ComponentName() : Project()->get_ComponentName(); });
}

void FunctionalInterfaceBridge::put_ComponentName(const std::string& ComponentName) {
    Guard([&] {
        if (NameMode()) Named()->put_ComponentName(ComponentName);
        else Project()->put_ComponentName(ComponentName);
    });
}

std::string FunctionalInterfaceBridge::get_FieldName() {
    return Guard([&] { return NameMode() ? Named()->get_FieldName() : Project()->get_FieldName(); });
}

void FunctionalInterfaceBridge::put_FieldName(const std::string& FieldName) {
    Guard([&] {
        if (NameMode()) Named()->put_FieldName(FieldName);
        else Project()->put_FieldName(FieldName);
    });
}

std::shared_ptr<IComponentService> FunctionalInterfaceBridge::get_ComponentService() {
    return m_oComponentService;
}

void FunctionalInterfaceBridge::putref_ComponentService(const std::shared_ptr<IComponentService>& ComponentService) {
    Guard([&] {
        // Kept (or released) before the hosted object is reached, so that a
        // failing hosted object never keeps a stale service alive.
        std::shared_ptr<IComponentServiceInternal> own;
        if (ComponentService) own = rt::QueryInterface<IComponentServiceInternal>(ComponentService);
        m_oComponentService = ComponentService;
        std::shared_ptr<QzComponents> components;
        if (own) components = AsQzComponents(own->get_Components());
        if (NameMode()) {
            auto named = Named();
            named->putref_Components(own ? Support().ConvertComponents(components) : nullptr);
        } else {
            Project()->putref_Components(components);
        }
    });
}

std::shared_ptr<IDataContext> FunctionalInterfaceBridge::get_DataContext() {
    return Guard([&]() -> std::shared_ptr<IDataContext> {
        if (NameMode()) {
            auto converted = Named()->get_DataContext();
            if (!converted) return nullptr;
            return rt::QueryInterface<IDataContext>(converted);
        }
        return Project()->get_DataContext();
    });
}

void FunctionalInterfaceBridge::putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) {
    Guard([&] {
        if (NameMode()) {
            auto named = Named();
            named->putref_DataContext(Support().ConvertDataContext(DataContext));
        } else {
            Project()->putref_DataContext(DataContext);
        }
    });
}

rt::Variant FunctionalInterfaceBridge::get_FieldValueBeforeChange() {
    return Guard([&] {
        if (NameMode()) {
            auto converted = Named()->get_FieldValueBeforeChange();
            rt::Variant value;
            Support().ConvertValueBack(converted, value);
            return value;
        }
        return Project()->get_FieldValueBeforeChange();
    });
}

void FunctionalInterfaceBridge::put_FieldValueBeforeChange(const rt::Variant& Value) {
    Guard([&] {
        if (NameMode()) {
            auto named = Named();
            named->putref_FieldValueBeforeChange(Support().ConvertValue(Value));
        } else {
            Project()->put_FieldValueBeforeChange(Value);
        }
    });
}

std::string FunctionalInterfaceBridge::get_FunctionalType() {
    return Guard([&] {
        int32_t number = NameMode() ? Named()->get_FunctionalType() : Project()->get_FunctionalType();
        return FunctionalTypeText(number);
    });
}

void FunctionalInterfaceBridge::put_FunctionalType(const std::string& FunctionalType) {
    Guard([&] {
        const int32_t number = FunctionalTypeNumber(FunctionalType);
        if (number == 0) return;
        if (NameMode()) Named()->put_FunctionalType(number);
        else Project()->put_FunctionalType(number);
    });
}

void FunctionalInterfaceBridge::Execute() {
    Guard([&] {
        if (NameMode()) Named()->Execute();
        else Project()->Execute();
    });
}

void FunctionalInterfaceBridge::Delete() {
    Guard([&] {
        if (NameMode()) Named()->Delete();
        else Project()->Delete();
    });
}

void FunctionalInterfaceBridge::Validate(rt::Variant& PriorityArray, rt::Variant& ErrArray) {
    Guard([&] {
        if (!NameMode()) {
            Project()->Validate(PriorityArray, ErrArray);
            return;
        }
        rt::Variant priorities = rt::Variant::UnallocatedArray(rt::vbString);
        rt::Variant messages = rt::Variant::UnallocatedArray(rt::vbString);
        Named()->Validate(priorities, messages);
        auto take = [](const rt::Variant& from, rt::Variant& to) {
            to = IsArrayDimensioned(from) ? from : rt::Variant::ArrayOf({rt::Variant("")}, 0);
        };
        take(priorities, PriorityArray);
        take(messages, ErrArray);
    });
}

}  // namespace pelmora
