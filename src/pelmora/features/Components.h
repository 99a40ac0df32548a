#pragma once
// The components of one feature, or of several features opened together,
// keyed by component name. The collection owns its components and its
// BackwardPointer; each component it creates holds the pointer, which asks
// the collection (held weakly) for itself. Releasing the collection releases
// its components unless someone else still holds them; their GetParent then
// answers nothing.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pelmora/features/BackwardPointer.h"
#include "interfaces/Components.h"
#include "runtime/Collection.h"
#include "runtime/Object.h"

namespace pelmora {

class Component;
class IComponentDatabaseService;

inline constexpr const char* kComponentsProgId = "QzPelmora.Components";

// The path of the functional-interface log of this apartment ("" until the
// first collection sets it).
std::string& FunctionalInterfaceLogPath();

class Components : public rt::Object, public IComponents, public BackwardPointerEvents {
public:
    Components();
    ~Components() override;

    // ---- IComponents ----
    void AddComponentByCNO(int16_t CNO, const rt::Variant& FID) override;
    void AddComponentByRecordset(int16_t CNO, const std::shared_ptr<ado::Recordset>& Recordset) override;
    int32_t get_Count() override;
    std::shared_ptr<IDataContext> get_DataContext() override;
    void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) override;
    std::shared_ptr<IComponent> get_Item(const rt::Variant& Index) override;
    void Refresh() override;
    std::vector<std::shared_ptr<IComponent>> get_NewEnum() override;
    void Update() override;
    std::shared_ptr<IComponent> GetComponent(int16_t CNO) override;

    // ---- inside the system ----
    void put_SetBackwardPointers(bool v) { setBackwardPointers_ = v; }
    // Ends the edits open on the rows handed out for single features
    // (Component::EndCloneEdits), fires the Update functional interfaces of
    // every component, then queues every component's pending rows with the
    // service.
    void UpdateComponents(const std::shared_ptr<IComponentDatabaseService>& service);
    // True when every component holding FIDs holds the same single FID.
    // The first answer is kept.
    bool IsSingleFeature();
    // The system's own components, in the collection's order.
    std::vector<std::shared_ptr<Component>> Members();
    // NeedParent of the BackwardPointer: the collection itself.
    void NeedParent(std::shared_ptr<IComponents>& oParent) override;

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    std::shared_ptr<rt::Object> QueryFacet(const std::type_info& iface) override;
    std::string TypeName() const override { return "Components"; }

private:
    rt::Collection& Items();
    std::shared_ptr<BackwardPointer> Pointer();
    void AddMember(const std::shared_ptr<Component>& component);

    std::shared_ptr<rt::Collection> items_;
    std::shared_ptr<IDataContext> dataContext_;
    int16_t singleFeature_ = -1;
    bool setBackwardPointers_ = true;
    std::shared_ptr<BackwardPointer> m_oBackwardPointer;
    std::weak_ptr<rt::Object> facet_;
};

// The QzComponents face of a collection of components.
class QzComponentsFacet : public rt::Object, public QzComponents {
public:
    explicit QzComponentsFacet(std::shared_ptr<IComponents> owner) : owner_(std::move(owner)) {}
    int32_t get_Count() override { return owner_->get_Count(); }
    std::shared_ptr<IDataContext> get_DataContext() override { return owner_->get_DataContext(); }
    std::shared_ptr<QzComponent> get_Item(const rt::Variant& Index) override;
    std::vector<std::shared_ptr<QzComponent>> get_NewEnum() override;
    std::shared_ptr<QzComponent> GetComponent(int16_t CNO) override;
    std::string TypeName() const override { return "QzComponents"; }

private:
    std::shared_ptr<IComponents> owner_;
};

// Late binding shared by the collections of components.
rt::Variant InvokeComponentsMember(IComponents& self, const std::string& name, rt::InvokeKind kind, rt::Args& args);

// Registers the creatable classes of components and their collections
// (Components, ComponentClone, ComponentsClone) by ProgID.
void RegisterComponentClasses();

}  // namespace pelmora
