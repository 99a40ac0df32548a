#pragma once
// One component (CNO) of one or more features (a list of FIDs): the rows of
// the component table for those features, the relational geometry rows of
// its "_SDOGEOM" table, its field descriptors and the flags of its edit
// events. Callers use it through IComponent and QzComponent; the members
// under "inside the system" are for the collection, the clones, feature
// creation, bulk edit and component persistence only (they are not reachable
// late bound).
//
// Ownership: the component owns its rows, its geometry rows, its geometry
// service and its event hook. It reaches its collection only through the
// BackwardPointer, which holds the collection weakly. The FieldInfo
// collection may be shared with other components and clones; releasing a
// component only drops its reference to it. It knows, weakly, the clones of
// its rows that ComponentClone made for single features, so that a save
// can end their edits; a view's component holds its feature's FeatureViews,
// which knows the views weakly.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ado/Enums.h"
#include "pelmora/features/FieldInfo.h"
#include "pelmora/persistence/SavedComponent.h"
#include "interfaces/Components.h"
#include "runtime/Collection.h"
#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace ado {
class Recordset;
class Field;
using FieldList = std::vector<std::shared_ptr<Field>>;
}  // namespace ado

namespace pelmora {

class BackwardPointer;
class FeatureViews;
class IComponentDatabaseService;
class IComponentService;
class IFunctionalInterface;
class IMetadataRecordsetFilterService;
class IGeometryIndex;
class IGeometryService;
class TraceScope;

class Component : public rt::Object, public IComponent, public QzComponent, public ISavedComponent {
public:
    Component();
    ~Component() override;
    Component(const Component&) = delete;
    Component& operator=(const Component&) = delete;

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

    // ---- ISavedComponent: what a save reads ----
    std::optional<rt::Variant> SavedFieldDefault(const std::string& field) const override;
    std::shared_ptr<ado::Recordset> SavedGeometryRows() override { return get_GeometryRecordset(); }

    // ---- inside the system ----
    // The field descriptors: nullptr until given or built from the
    // component's functional-interface rows.
    std::shared_ptr<FieldInfoCollection> get_FieldInfoCollection() const { return fieldInfos_; }
    // Shares a collection built elsewhere (nullptr drops the reference).
    void putref_FieldInfoCollection(const std::shared_ptr<FieldInfoCollection>& FieldInfos);
    // The field descriptors, built from the functional-interface rows first
    // when none are held yet, so that a clone's component can share them.
    std::shared_ptr<FieldInfoCollection> FieldInfosToShare();
    bool get_SetDefaultValuesEnabled() const { return setDefaultValuesEnabled_; }
    void put_SetDefaultValuesEnabled(bool v) { setDefaultValuesEnabled_ = v; }
    bool get_AutoAssignKeys() const { return autoAssignKeys_; }
    void put_AutoAssignKeys(bool v) { autoAssignKeys_ = v; }
    bool get_InFunctionalInterface() const { return m_bInFunctionalInterface; }
    void put_InFunctionalInterface(bool v) { m_bInFunctionalInterface = v; }
    bool get_ClonedComponent() const { return m_bClonedComponent; }
    void put_ClonedComponent(bool v) { m_bClonedComponent = v; }
    // For a view's component: the views of its feature, whose rows its new
    // rows read the feature's classification from.
    void SetFeatureViews(const std::shared_ptr<FeatureViews>& views) { featureViews_ = views; }
    std::shared_ptr<pelmora::BackwardPointer> get_BackwardPointer() const { return backwardPointer_; }
    void putref_BackwardPointer(const std::shared_ptr<pelmora::BackwardPointer>& pointer) {
        backwardPointer_ = pointer;
    }
    // The number of FIDs held.
    int32_t get_FIDCount() const { return static_cast<int32_t>(fids_.size()); }
    // A copy of the FIDs: a Long array from 0 (unallocated when none).
    rt::Variant get_FIDs() const;
    // The geometry rows with their filter cleared; nullptr when not read.
    std::shared_ptr<ado::Recordset> get_GeometryRecordset();
    // Whether geometry rows are held, their filter left as it is.
    bool HasGeometryRows() const { return geometryRows_ != nullptr; }
    // Shares geometry rows read elsewhere.
    void putref_GeometryRecordset(const std::shared_ptr<ado::Recordset>& Geometry);
    // The component (held weakly) whose geometry rows a clone's component
    // clones when it needs geometry rows, instead of reading its own.
    void putref_GeometrySource(const std::shared_ptr<Component>& source) { geometrySource_ = source; }
    // Fires the Update functional interfaces of the rows that are pending.
    void ProcessComponentsUpdate();
    // A clone of the component's rows that ComponentClone hands out as one
    // feature's rows (view: the clone's filter, named in errors). Held
    // weakly; forgotten when the rows are let go or the component's rows reset.
    void NoteCloneRows(const std::shared_ptr<ado::Recordset>& rows, const std::string& view);
    // Ends (Update) the edit in progress on each such clone, as the
    // component's own rows end theirs before a save, and those that handlers
    // open meanwhile, in rounds over all the components given, as a move
    // follows them (an edit still open after 1 + ado::kEditsHandlersMayOpen
    // rounds is refused, with ADO's 3712, and left open).
    // Refusals raise once, after every round, with the number and source of
    // the first, naming the component and each edited row's feature; after
    // the first, only the edits of views let go are still tried. A kept
    // view's refused edit is taken back; held rows keep theirs.
    void EndCloneEdits();
    static void EndCloneEdits(const std::vector<Component*>& components);
    // Queues the components with the service (91 without one): their views'
    // edits end first, then every component's Update interfaces run, then
    // every component's pending rows are queued. The walks may stop
    // anywhere: the save's owner gives the rows back (RowsAsSetOf before,
    // GiveBack on a refusal).
    static void Save(const std::vector<std::shared_ptr<Component>>& components, IComponentDatabaseService* service);
    // The rows of the components (own and geometry) with the filters they
    // have now; GiveBack sets those filters again, which leaves the rows on
    // their first row, as a refused save gives them back whatever refused
    // it. Rows with an edit of their own open keep it where it stands.
    struct RowsAsSet {
        std::shared_ptr<ado::Recordset> rows;
        rt::Variant filter;
    };
    static std::vector<RowsAsSet> RowsAsSetOf(const std::vector<std::shared_ptr<Component>>& components);
    static void GiveBack(const std::vector<RowsAsSet>& rows);
    // Ends the edit in progress on each clone still held, as a read of a
    // feature's own rows ends theirs when it moves them: a reader of the
    // component's rows sees what the features' views changed. A refusal
    // raises as it came.
    void EndCloneEditsToRead();
    // Keeps a view's private component, with its rows and the edit left open
    // on them, when the view is let go and the edit cannot be ended then: the
    // next EndCloneEdits ends the edit (its handlers still fire) and lets
    // them go, or, refused again, raises and takes the edit back.
    void KeepCloneEdit(const std::shared_ptr<Component>& view);
    // The rows, when there are any; never reads them.
    std::shared_ptr<ado::Recordset> RowsIfAny() const { return rows_; }
    bool get_EventsEnabled() const { return eventsEnabled_; }
    void put_EventsEnabled(bool v) { eventsEnabled_ = v; }
    // Adopts rows read elsewhere: their FIDs join the list (rows without a
    // FID are left out of it) and the recordset becomes the component's.
    void AttachRecordset(const std::shared_ptr<ado::Recordset>& Recordset);
    // Drops the rows, the event hook and the geometry rows.
    void ResetRecordsets();
    // The geometry rows (read once) filtered to one geometry id.
    std::shared_ptr<ado::Recordset> OpenGeometryRecordset(int32_t id);
    // The geometry rows, read as OpenGeometryRecordset reads them, their
    // filter left as it is (a clone made of them starts without one).
    std::shared_ptr<ado::Recordset> GeometryRows();
    // get_Geometry with the geometry found in the index that indexOf gives
    // for the geometry rows (read as get_Geometry reads them), instead of
    // through those rows filtered to the row's id; a nullptr index reads
    // them so.
    using GeometryIndexOf = std::function<std::shared_ptr<IGeometryIndex>(const std::shared_ptr<ado::Recordset>&)>;
    rt::ObjectPtr GeometryThrough(const GeometryIndexOf& indexOf);
    // Fires the AddNew functional interfaces of the current row.
    virtual void AddNewFI();

    // The owning collection through the backward pointer; nullptr when the
    // component stands alone or its collection is gone.
    std::shared_ptr<IComponents> OwningCollection() const;
    // The recordset whose events reach the component (nullptr when none).
    std::shared_ptr<ado::Recordset> EventRecordset() const { return m_oEventRecordset; }
    bool HasGeometry() const { return hasGeometry_; }
    // put_CNO(CNO) that takes the name, table and geometry kind from a
    // source that holds the same number instead of asking the metadata again.
    void PutCNOLike(const Component& source, int16_t CNO);
    bool AttributeInfoLoaded() const { return m_bAttributeInfoLoaded; }
    // The highest QTX_CID of the recordset that is neither Null nor Empty (0
    // when none); moves the recordset's cursor, so callers pass a clone.
    static int16_t GetMaxCID(const std::shared_ptr<ado::Recordset>& Recordset);

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    rt::Variant InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "Component"; }

    // Appends one line (date and time, " --- ", the text) to the
    // apartment's functional-interface log; raises when it cannot.
    static void WriteLogLine(const std::string& text);

protected:
    // Firing of functional interfaces (each returns at once while one runs,
    // when they are disabled or for a clone's component).
    // The Update interfaces executed, then Update called on every interface.
    virtual void UpdateFI();
    // The SetValue interfaces of one field (by name: QTX_GEOMETRY is no
    // column of the table).
    virtual void FireFieldChangeFI(const std::string& fieldName);
    // The Edit interfaces, on the first change of a row.
    void EditFI();
    // Delete / CancelUpdate called on every interface.
    void DeleteFI();
    void CancelUpdateFI();
    // Reads the component's functional-interface rows and, when no FieldInfo
    // collection is held, builds it from them.
    void LoadAttributeInfoFI();
    // The service an interface is given: over the owning collection when the
    // component holds one feature, else over the current row's feature.
    std::shared_ptr<IComponentService> GetComponentService();

    // The recordset events the component handles. ADO calls them on the
    // hook made when rows are loaded or attached with EventsEnabled.
    void OnWillChangeField(int32_t cFields, const ado::FieldList& Fields, ado::EventStatusEnum& adStatus,
                           const std::shared_ptr<ado::Recordset>& pRecordset);
    void OnFieldChangeComplete(int32_t cFields, const ado::FieldList& Fields, ado::EventStatusEnum adStatus,
                               const std::shared_ptr<ado::Recordset>& pRecordset);
    void OnWillChangeRecord(ado::EventReasonEnum adReason, ado::EventStatusEnum& adStatus,
                            const std::shared_ptr<ado::Recordset>& pRecordset);
    void OnRecordChangeComplete(ado::EventReasonEnum adReason, ado::EventStatusEnum adStatus,
                                const std::shared_ptr<ado::Recordset>& pRecordset);
    virtual void OnMoveComplete();

private:
    class EventHook;
    enum class CallKind { Update, Delete, CancelUpdate };

    // ---- functional interfaces ----
    // The cached or a new interface object for a definition row; nullptr
    // when none can be made (tried again at the next firing).
    std::shared_ptr<IFunctionalInterface> FunctionalInterfaceObject(const rt::Variant& vPrjNo, const rt::Variant& vFI);
    // The object with m_bInFunctionalInterface set (left set only when there is one).
    std::shared_ptr<IFunctionalInterface> EnterFunctionalInterface(const rt::Variant& vPrjNo, const rt::Variant& vFI);
    // Prepares one interface for a field and executes it; never raises.
    void ExecuteFI(const std::string& strFunctionalType, const std::string& fieldName, const rt::Variant& vPrjNo,
                   const rt::Variant& vInterface, const rt::Variant& vInterfaceArgument);
    // Executes the definition rows of one functional type (only those of
    // one field when given).
    void ExecuteRowsOfType(const std::string& strFunctionalType, const std::string* onlyField);
    // The definition rows as firing reads them, in row order, with the rows
    // of each moment and of each SetValue field; read again whenever the
    // rows they come from changed.
    struct DefinitionRows;
    std::shared_ptr<const DefinitionRows> Definitions();
    // Whether the component still holds these rows, open: an interface may
    // let them go (Components.Refresh), read new ones or close them, and
    // what it was fired for then is no longer the component's to go on with.
    // closings: the rows' Closings() when they were taken (a recordset closed
    // and opened again holds other rows).
    bool HoldsRows(const std::shared_ptr<ado::Recordset>& rows, uint32_t closings) const;
    // Calls Update, Delete or CancelUpdate on the interface of every row;
    // the first failure ends the walk.
    void CallEveryInterface(CallKind kind);
    // Which guard, if any, ends a firing routine (traced).
    bool FiringBlocked(TraceScope& trace, bool needRows, bool deleteTexts);
    // What survives a failed interface: the flag cleared, the cursor back on
    // its row, the service let go; an abort forgets the object, any other
    // failure is logged.
    void FunctionalInterfaceFailed(const rt::ComError& error, const std::string& interfaceName,
                                   const std::string& operation, const std::shared_ptr<IFunctionalInterface>& object,
                                   const rt::Variant& bookmark, TraceScope& trace);
    void RestoreBookmark(const rt::Variant& bookmark);
    // Deletes every visible row of the geometry rows (those of a deleted row).
    static void DeleteGeometryRows(const std::shared_ptr<ado::Recordset>& geometryRows);
    // Shows an error of an event handler; the handler then returns normally.
    void ReportHandlerError(TraceScope& trace, const rt::ComError& error);
    // Attribute values of a new row from the product's loading service.
    void LoadAttributes(const std::shared_ptr<ado::Recordset>& pRecordset);
    // Asks the field's attribute edit control; false refuses the change.
    bool AttributeEditable(const std::shared_ptr<ado::Field>& field);

    void OpenComponentRecordset();
    void HookEvents();
    // Names the rows' edits in the error of one that cannot be ended.
    void NameEditsOfRows();
    // The product's geometry service (by ProgID), made once per component.
    IGeometryService& GetGeometryService();
    void AssignNextGeometryID(const std::shared_ptr<ado::Recordset>& Recordset);
    // Reads the geometry rows of the component's FIDs when none are held.
    void ReadGeometryRows();
    // The geometry of the current row, read by read(id, rows) once the row
    // has a geometry id.
    rt::ObjectPtr CurrentGeometry(
        const std::function<rt::ObjectPtr(int32_t, const std::shared_ptr<ado::Recordset>&)>& read);
    rt::Variant GeometryBeforeChange();
    void TraceComponentKeys(TraceScope& trace) const;
    IMetadataRecordsetFilterService& FilterService();
    rt::Variant FIDArray() const;
    [[noreturn]] void Raise(int32_t messageId, const rt::Variant& param = rt::Variant::Missing()) const;

    int16_t CNO_ = 0;
    std::string name_;
    std::string tableName_;
    std::shared_ptr<IDataContext> dataContext_;
    std::vector<int32_t> fids_;
    bool hasGeometry_ = false;
    bool loaded_ = false;
    bool m_bAttributeInfoLoaded = false;
    std::shared_ptr<ado::Recordset> geometryRows_;
    std::weak_ptr<Component> geometrySource_;
    std::shared_ptr<IGeometryService> geometryService_;
    std::shared_ptr<ado::Recordset> m_oAttributeInfoRS;
    std::shared_ptr<const DefinitionRows> definitions_;
    std::shared_ptr<rt::Collection> m_colFunctionalInterfaces;
    std::shared_ptr<FieldInfoCollection> fieldInfos_;
    int16_t nextCID_ = -1;
    bool m_bInFunctionalInterface = false;
    std::shared_ptr<ado::Recordset> rows_;
    rt::Variant geometryBeforeChange_;
    std::shared_ptr<IMetadataRecordsetFilterService> filterService_;
    std::string pendingFilter_;
    bool m_bFunctionalInterfacesEnabled = true;
    std::shared_ptr<ado::Recordset> deletionClone_;
    bool setDefaultValuesEnabled_ = true;
    bool autoAssignKeys_ = true;
    bool lastRowDeleted_ = false;
    bool eventsEnabled_ = true;
    std::shared_ptr<pelmora::BackwardPointer> backwardPointer_;
    std::shared_ptr<FeatureViews> featureViews_;
    bool attributeEditControlEnabled_ = true;
    // True from preparing an attribute edit control until it answered.
    bool askingEditControl_ = false;
    bool m_bClonedComponent = false;
    rt::Variant valueBeforeChange_;

    struct CloneRows {
        std::weak_ptr<ado::Recordset> rows;
        std::string view;
    };
    std::unordered_map<const ado::Recordset*, CloneRows> cloneRows_;
    size_t cloneRowsSweepAt_ = 16;
    std::vector<std::shared_ptr<Component>> keptViews_;
    // Lets go the kept views whose edits are ended.
    void ForgetEndedKeptViews();
    // The clones' rows with an edit or an add open, each with its view.
    std::vector<std::pair<std::shared_ptr<ado::Recordset>, std::string>> OpenCloneEdits();
    // The kept view whose rows these are, or the end.
    std::vector<std::shared_ptr<Component>>::iterator KeptViewOf(const std::shared_ptr<ado::Recordset>& rows);
    // Lets go of the kept view whose rows these are, with its edit.
    void DropKeptView(const std::shared_ptr<ado::Recordset>& rows);

    std::shared_ptr<ado::Recordset> m_oEventRecordset;
    std::shared_ptr<EventHook> eventHook_;
    int32_t eventCookie_ = 0;
};

}  // namespace pelmora
