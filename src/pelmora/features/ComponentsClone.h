#pragma once
// The components of one feature out of several opened together: a keyed
// collection of ComponentClone views, filled only by AddClone. Changes to
// the collection (adding, refreshing, a new data context) are refused.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "interfaces/Components.h"
#include "runtime/Collection.h"
#include "runtime/Object.h"

namespace pelmora {

class ComponentClone;
class FeatureViews;

inline constexpr const char* kComponentsCloneProgId = "QzPelmora.ComponentsClone";

class ComponentsClone : public rt::Object, public IComponents {
public:
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
    // Takes the collection's data context as its own, and remembers it as
    // the collection this is a view of.
    void CopyDataContext(const std::shared_ptr<IComponents>& Components);
    // The collection the views are of (nullptr once it is released): only a
    // save of that collection stores their rows.
    std::shared_ptr<IComponents> SourceCollection() const { return source_.lock(); }
    // Adds a clone of the source narrowed by the filter, under the source's
    // name (a second clone of one name raises 457); FID: the feature the
    // filter narrows to, when one.
    void AddClone(const std::shared_ptr<IComponent>& Source, const std::string& Filter,
                  std::optional<int32_t> FID = std::nullopt);
    // The rows of the clone named Name where they stand
    // (ComponentClone::RowsAsTheyStand); a name not held raises as Item does.
    std::shared_ptr<ado::Recordset> RowsAsTheyStand(const std::string& Name);

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    std::shared_ptr<rt::Object> QueryFacet(const std::type_info& iface) override;
    std::string TypeName() const override { return "ComponentsClone"; }

private:
    [[noreturn]] void Refuse(int32_t messageId) const;
    rt::Collection& Items();
    std::shared_ptr<ComponentClone> CloneAt(const rt::Variant& Index);

    std::shared_ptr<rt::Collection> items_;
    // The first clones by name (plain ASCII names, folded), held in the object
    // itself: every check asks a feature's components by name, and the
    // collection's table lies apart from it, seldom in the processor's cache
    // among thousands of features. Any other name asks the collection.
    struct Named {
        std::string folded;
        std::shared_ptr<ComponentClone> clone;
    };
    std::array<Named, 4> named_;
    size_t namedCount_ = 0;
    std::shared_ptr<IDataContext> dataContext_;
    // Shared with the views' private components, which outlive the collection.
    std::shared_ptr<FeatureViews> featureViews_;
    // Weak: a view must not keep the caller's collection alive.
    std::weak_ptr<IComponents> source_;
    std::weak_ptr<rt::Object> facet_;
};

}  // namespace pelmora
