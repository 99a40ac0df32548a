#include "pelmora/common/FeatureComponents.h"

#include "interfaces/Components.h"
#include "interfaces/KeyObject.h"
#include "pelmora/common/modYvCommonUtilities.h"

namespace pelmora {

std::shared_ptr<IComponents> FeatureComponents(const std::shared_ptr<IKeyObject>& Feature) {
    RequireObjects(Feature);
    auto components = Feature->get_Components();
    RequireObjects(components);
    return components;
}

std::shared_ptr<IComponent> ComponentNamed(const std::shared_ptr<IComponents>& Components, const std::string& name) {
    RequireObjects(Components);
    auto component = Components->get_Item(rt::Variant(name));
    RequireObjects(component);
    return component;
}

std::shared_ptr<IComponent> FeatureComponent(const std::shared_ptr<IKeyObject>& Feature, const std::string& name) {
    return ComponentNamed(FeatureComponents(Feature), name);
}

std::shared_ptr<ado::Recordset> ComponentRowsOf(const std::shared_ptr<IComponent>& Component) {
    RequireObjects(Component);
    auto rows = Component->get_Recordset();
    RequireObjects(rows);
    return rows;
}

std::shared_ptr<ado::Recordset> FeatureComponentRows(const std::shared_ptr<IKeyObject>& Feature,
                                                     const std::string& name) {
    return ComponentRowsOf(FeatureComponent(Feature, name));
}

}  // namespace pelmora
