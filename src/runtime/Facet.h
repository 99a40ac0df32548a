#pragma once
// Facets (see Object::QueryFacet): a separate object standing for interface I
// of an owner. Asked for any other interface it gives the owner, and
// late-bound calls reach the owner's own members.
#include <memory>
#include <typeinfo>
#include <utility>

#include "runtime/Object.h"

namespace rt {

template <class I, class Owner>
class FacetOf : public Object, public I {
public:
    explicit FacetOf(std::shared_ptr<Owner> owner) : owner_(std::move(owner)) {}

    std::shared_ptr<Object> QueryFacet(const std::type_info& iface) override {
        if (iface == typeid(I)) return nullptr;
        return owner_;
    }
    Variant Invoke(const std::string& name, InvokeKind kind, Args& args) override {
        return owner_->Invoke(name, kind, args);
    }
    Variant InvokeDispId(int32_t dispId, InvokeKind kind, Args& args) override {
        return owner_->InvokeDispId(dispId, kind, args);
    }

protected:
    std::shared_ptr<Owner> owner_;
};

// The owner's side: its one facet of type F, made on first request and kept
// (weakly, the facet holds the owner) while anyone holds it.
template <class F, class Owner>
std::shared_ptr<Object> SharedFacet(Owner& owner, std::weak_ptr<Object>& cache) {
    auto facet = cache.lock();
    if (!facet) {
        facet = std::make_shared<F>(std::static_pointer_cast<Owner>(owner.shared_from_this()));
        cache = facet;
    }
    return facet;
}

}  // namespace rt
