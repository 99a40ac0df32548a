#pragma once
// A read-only view of one feature of a component that holds several: an ADO
// clone of the source component's rows narrowed by a filter, owned by a
// private component. It refuses every change to its identity. While the
// source raises events, moving in the clone's rows moves the source's rows
// to the same row.
//
// Ownership: the clone holds its source and its View (the private component
// with its rows and move hook). The rows the clone hands out hold the View,
// not the clone: the ComponentClone object (the view) goes when nobody holds
// it; its private component and its rows stay as long as a caller holds the
// rows taken from it (what the rows' events need lives with them: the View
// holds the private component, which handles their events, and the source).
// So letting the clone, its collection or its key object go, or
// ReleaseRecordset, ends nothing on rows a caller still holds. An edit on the
// cloned rows is theirs alone, as on any clone, until its Update, a move or a
// save ends it; when the View goes (the clone gone or its rows released, and
// no caller holding them) with an edit open, the edit is ended then, and one
// that cannot be ended is kept by the source until its next save or Update.
// The source knows the cloned rows weakly (a save ends their edits). The
// clone and its private component hold their feature's FeatureViews, which
// knows the collection and the Views weakly.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "interfaces/Components.h"
#include "pelmora/features/Component.h"
#include "runtime/Object.h"

namespace ado {
class Recordset;
}

namespace pelmora {

class Component;
class ComponentsClone;
class FeatureViews;

inline constexpr const char* kComponentCloneProgId = "QzPelmora.ComponentClone";

class ComponentClone : public rt::Object, public IComponent, public QzComponent {
public:
    ComponentClone();
    ~ComponentClone() override;
    ComponentClone(const ComponentClone&) = delete;
    ComponentClone& operator=(const ComponentClone&) = delete;

    // ---- IComponent and QzComponent ----
    void AddFID(const rt::Variant& FID) override;
    int16_t get_CNO() override;
    void put_CNO(int16_t CNO) override;
    std::shared_ptr<IDataContext> get_DataContext() override;
    void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) override;
    rt::ObjectPtr get_Geometry() override;
    void putref_Geometry(const rt::ObjectPtr& Geometry) override;
    std::shared_ptr<ado::Recordset> get_Recordset() override;
    std::string get_Name() override;
    std::string get_TableName() override;
    void Update() override;
    std::string get_Filter() override;
    void put_Filter(const std::string& Filter) override;
    bool get_FunctionalInterfacesEnabled() override;
    void put_FunctionalInterfacesEnabled(bool Enabled) override;
    bool get_AttributeEditControlEnabled() override;
    void put_AttributeEditControlEnabled(bool Enabled) override;
    bool get_RecordsetLocal() override;

    // ---- inside the system ----
    // Copies the identity and flags of the source (a Component) and keeps
    // it with the filter; FID: the feature the filter narrows to, when one.
    void InitClone(const std::shared_ptr<IComponent>& Source, const std::string& Filter,
                   std::optional<int32_t> FID = std::nullopt);
    // What the private component reads its feature's other components
    // through: shared by the views of the collection the clone is in.
    void SetFeatureViews(const std::shared_ptr<FeatureViews>& Views) { featureViews_ = Views; }
    // The rows to read where they stand, moving nothing: the cloned rows once
    // a caller moved them; before that (the build leaves them past their
    // end), a clone of the source's rows narrowed by the filter, on the
    // feature's first row, where a feature's own rows stand until moved.
    std::shared_ptr<ado::Recordset> RowsAsTheyStand();
    // Whether the cloned rows stand where their build left them: nobody has
    // moved them, nor added a row through them, since.
    bool Unmoved() const;
    // Lets go of the cloned rows; the next use clones the source's rows
    // afresh. Rows a caller still holds stay as they are.
    void ReleaseRecordset();
    // The cloned rows, built when there are none; they hold the View.
    std::shared_ptr<ado::Recordset> GetRecordset();
    // get_Geometry through Component::GeometryThrough.
    rt::ObjectPtr GeometryThrough(const Component::GeometryIndexOf& indexOf);
    // The component that owns the cloned rows (nullptr when none).
    std::shared_ptr<Component> PrivateComponent() const;

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "ComponentClone"; }

private:
    friend class FeatureViews;
    class View;
    class MoveHook;

    void CheckInitialised() const;
    [[noreturn]] void Refuse(int32_t messageId) const;
    // The cloned rows, and the source's geometry rows shared by a clone.
    void ShareGeometryRows();

    bool initialised_ = false;
    int16_t CNO_ = 0;
    std::shared_ptr<IDataContext> dataContext_;
    std::string name_;
    std::string tableName_;
    bool functionalInterfacesEnabled_ = false;
    bool attributeEditControlEnabled_ = false;
    std::shared_ptr<IComponent> source_;
    std::string filter_;
    std::optional<int32_t> FID_;
    std::shared_ptr<FeatureViews> featureViews_;
    std::shared_ptr<View> view_;
};

// The views of one feature as its views' private components read them: the
// collection of the views while it lives, then the rows of the views a
// caller still holds, by component name. Every view's private component
// holds it, so it outlives the collection; it holds nothing itself.
class FeatureViews {
public:
    explicit FeatureViews(std::weak_ptr<ComponentsClone> Collection) : collection_(std::move(Collection)) {}
    // The rows of the feature's component named Name where they stand: the
    // collection's view of it (ComponentClone::RowsAsTheyStand), else the
    // last rows of it a caller still holds, alike; nullptr when neither.
    std::shared_ptr<ado::Recordset> RowsAsTheyStand(const std::string& Name);

private:
    friend class ComponentClone;
    // A view of the component named Name was built.
    void Note(const std::string& Name, const std::shared_ptr<ComponentClone::View>& View);

    std::weak_ptr<ComponentsClone> collection_;
    std::vector<std::pair<std::string, std::weak_ptr<ComponentClone::View>>> views_;
};

}  // namespace pelmora
