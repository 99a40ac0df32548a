#pragma once
// What the component database service reads of a component beyond
// IComponent: the default of a field a new row leaves empty, and the
// component's relational geometry rows. The system's components implement
// it, so that the service names no class of the features above it.
#include <memory>
#include <optional>
#include <string>

#include "runtime/Variant.h"

namespace ado {
class Recordset;
}

namespace pelmora {

class ISavedComponent {
public:
    virtual ~ISavedComponent() = default;
    // The default value its descriptor of the field gives; nullopt when it
    // describes no such field.
    virtual std::optional<rt::Variant> SavedFieldDefault(const std::string& field) const = 0;
    // Its geometry rows, unfiltered; nullptr when it has none.
    virtual std::shared_ptr<ado::Recordset> SavedGeometryRows() = 0;
};

}  // namespace pelmora
