#pragma once
// A feature's components, one of them by name, and a component's rows, as
// the services, the relationship helpers and the validation walks reach them. A feature, a
// Components, an item or a recordset that is Nothing raises 91, as VB does on
// an object variable that is Nothing: a caller that ignores failures gets an
// error it can catch, never a null object. A name the feature lacks raises
// the components collection's error.
#include <memory>
#include <string>

namespace ado {
class Recordset;
}

namespace pelmora {

class IComponent;
class IComponents;
class IKeyObject;

std::shared_ptr<IComponents> FeatureComponents(const std::shared_ptr<IKeyObject>& Feature);
std::shared_ptr<IComponent> ComponentNamed(const std::shared_ptr<IComponents>& Components, const std::string& name);
std::shared_ptr<IComponent> FeatureComponent(const std::shared_ptr<IKeyObject>& Feature, const std::string& name);
std::shared_ptr<ado::Recordset> ComponentRowsOf(const std::shared_ptr<IComponent>& Component);
std::shared_ptr<ado::Recordset> FeatureComponentRows(const std::shared_ptr<IKeyObject>& Feature,
                                                     const std::string& name);

}  // namespace pelmora
