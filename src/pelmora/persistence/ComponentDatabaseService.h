#pragma once
// Component persistence: turns the pending edits of components into typed
// work-operation lists and writes them with one call of
// QTX_WORKOPERATIONS.UPDATEFEATURES per block, inside an anonymous block that
// sets a savepoint and rolls back to it on any database error. Callers
// create one per save and use it in the order DataContext,
// BeginComponentOperations, UpdateComponent once per component,
// EndComponentOperations; releasing it drops whatever is queued.
//
// When a list is full the batch is cut: the block built so far is closed
// and kept with its 60 parameters, and a new block begins. The end runs the
// kept blocks in order, then the last one, all in the data context's one
// transaction. Only the first block sets the savepoint; every block rolls
// back to it on failure, and when a later block fails a recovery block rolls
// back to it once more, so a refused save leaves the database, and what the
// package noted as written, as the last good save left them. (A savepoint
// name used again moves the savepoint, so an earlier save's is never
// reached.)
//
// Within one call the package deletes, then sets, and inserts new rows only
// when its batch ends. So that a save of two copies of a feature stores what
// two saves in their order would, the block is also cut before a deletion
// of a row that the block sets, and the package's batch ended and begun
// again (EndOperations; BeginOperations) before a deletion or a set of a
// row or geometry group that an earlier component of the save writes anew.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "ado/Command.h"
#include "ado/Recordset.h"
#include "runtime/Error.h"
#include "runtime/Object.h"

namespace rt {
class Collection;
}

namespace pelmora {

class IDataContext;
class IComponent;
class ISavedComponent;
class WorkOperationsStrings;

inline constexpr const char* kComponentDatabaseServiceProgId = "QzPelmora.ComponentDatabaseService";

// The service's default interface; a test may put a double of its own in
// its place.
class IComponentDatabaseService {
public:
    virtual ~IComponentDatabaseService() = default;
    // Keeps the context the batch is executed through; nothing else.
    virtual void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) = 0;
    // Starts a batch; a batch already begun is cancelled and 0x80040000 +
    // 23285 raised.
    virtual void BeginComponentOperations() = 0;
    // Queues the pending rows of the component and of its geometry rows;
    // nothing without a batch or without a component. A pending row without
    // component name or key raises 0x80040000 + 23287 (holding 23284).
    virtual void UpdateComponent(const std::shared_ptr<IComponent>& objComponent) = 0;
    // Sends what is queued in one transaction inside a savepoint; a database
    // failure rolls back to the savepoint and raises 0x80040000 + 23288. A
    // successful end leaves the service idle.
    virtual void EndComponentOperations() = 0;
};

class ComponentDatabaseService : public rt::Object, public IComponentDatabaseService {
public:
    // The ten lists, in the order their parameters are sent.
    enum ListId {
        NewAttributeNumeric,
        NewAttributeString,
        NewAttributeDate,
        NewGeomAttribute,
        SetAttributeNumeric,
        SetAttributeString,
        SetAttributeDate,
        SetGeometryAttribute,
        DeleteComponent,
        DeleteGeometryComponent,
        kListCount
    };
    static constexpr int kParameterCount = 60;

    ComponentDatabaseService();
    ~ComponentDatabaseService() override;

    // ---- _ComponentDatabaseService ----
    void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) override;
    std::shared_ptr<IDataContext> get_DataContext() const { return dataContext_; }
    void UpdateComponent(const std::shared_ptr<IComponent>& objComponent) override;
    void BeginComponentOperations() override;
    void CancelComponentOperations();
    void EndComponentOperations() override;
    void WOSEndComponentOperations();

    // ---- inside the system ----
    bool Begun() const { return begun_; }
    bool Queued() const { return queued_; }
    std::shared_ptr<IDataContext> DataContext() const { return dataContext_; }
    // The list of that kind (created on first use).
    WorkOperationsStrings& List(ListId id);
    // The block being built and the closed blocks waiting to be sent.
    const std::string& BlockText() const { return blockText_; }
    const std::vector<std::string>& SavedBlocks() const { return savedBlocks_; }
    // The call with its 60 decoder-wrapped placeholders.
    const std::string& GetUpdateFeaturesCallText();

    static const std::string& GetBlockBeginText();
    static const std::string& GetOperationStartText();
    static const std::string& GetBlockContinuationText();
    static const std::string& GetBlockCutEndText();
    static const std::string& GetBatchRestartText();
    static const std::string& GetBlockFinalEndText();
    static const std::string& GetRecoveryBlockText();
    // The label of parameter k (1 to 60): its list's name and member.
    static std::string ParameterLabel(int k);

    // Closes the block being built with the call, keeps it with the
    // parameters of the current lists, empties the lists and begins a
    // continuation block. With endBatch the block also ends the package's
    // batch and begins another, so the new rows gathered so far are
    // inserted before the next block runs.
    void CutWorkOperationBlock(bool endBatch = false);

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "ComponentDatabaseService"; }

    // Where a recordset keeps the fields a walker reads, and which fields it
    // leaves out; worked out once per pass. -1: no such field.
    struct Layout {
        int32_t fno = -1, fid = -1, cid = -1, eseq = -1, seq = -1;
        std::vector<char> skip;
        // Added rows: each field's descriptor default, looked up on first
        // need (0 not yet, 1 no descriptor, 2 found).
        mutable std::vector<char> described;
        mutable std::vector<rt::Variant> defaults;
    };

private:
    using ParameterSet = std::vector<ado::ParameterPtr>;

    void ClearSavedBlocks();
    void ClearWorkOperationLists();
    void ExecuteBlock(const std::string& blockText);
    void RestoreBlockParameters(size_t index);
    void DeleteCommandParameters();
    void BindWorkOperationParameters();
    ado::ParameterPtr WOSCreateStringParameter(const std::string& listText);
    ado::ParameterPtr WOSCreateStringParameter(const std::string& listText, int32_t length);
    [[noreturn]] void RaiseWrapped(int32_t number, const rt::ComError& failure) const;

    // ---- pending-row collection ----
    void QueueNewAttributeRow(const std::string& name, const std::shared_ptr<ado::Recordset>& rs,
                              const Layout& layout, const ISavedComponent& saved);
    void QueueChangedAttributeRow(const std::string& name, const std::shared_ptr<ado::Recordset>& rs,
                                  const Layout& layout);
    void QueueDeletedComponentRow(const std::string& name, const std::shared_ptr<ado::Recordset>& rs,
                                  const Layout& layout);
    void QueueNewGeometryRow(const std::string& name, const std::shared_ptr<ado::Recordset>& rs, const Layout& layout);
    void QueueChangedGeometryRow(const std::string& name, const std::shared_ptr<ado::Recordset>& rs,
                                 const Layout& layout);
    void QueueDeletedGeometryComponent(const std::string& name, const std::shared_ptr<ado::Recordset>& rs,
                                       const Layout& layout);
    void GeometryPass(const std::string& name, const std::shared_ptr<ado::Recordset>& rs);
    // Offers an entry to a list, cutting the batch when it does not fit.
    template <class TryAdd, class Add>
    void Queue(TryAdd&& tryAdd, Add&& add);

    std::shared_ptr<IDataContext> dataContext_;
    bool begun_ = false;
    bool queued_ = false;
    std::string blockText_;
    std::vector<std::string> savedBlocks_;
    std::vector<ParameterSet> savedParameterSets_;
    ado::CommandPtr command_;
    std::array<std::shared_ptr<WorkOperationsStrings>, kListCount> lists_;
    std::string callText_;
    // The keys of the new rows queued in the package's batch: it gathers the
    // values of one key into one row, so a second new row of a key (two
    // copies of a feature each adding a row) is refused, not merged. A batch
    // restart inserts them, so they count afresh after it.
    std::unordered_set<std::string> newRowKeys_;
    void NoteNewRow(const std::string& name, int32_t FNO, int32_t FID, int32_t CID, const std::string& geometryKey);
    // Marks of rows (component, FID, CID, attribute or geometry), noted in
    // bulk and indexed only once a deletion asks; two marks that collide
    // cost a needless cut, nothing else.
    struct RowMarks {
        std::vector<uint64_t> marks;
        std::unordered_set<uint64_t> index;
        size_t indexed = 0;
        bool Holds(uint64_t mark);
        void Forget();
    };
    // The rows the block being built sets. Within one call the package
    // deletes before it sets, so a row deleted after a set of it was queued
    // (by a copy of the feature later in the save) goes to the next block:
    // set, then deleted, as two saves in that order would.
    RowMarks setRows_;
    // The rows and geometry groups the package's batch has new rows of;
    // those of the component being queued (componentNewRows_) join when the
    // next component begins. It inserts them only when the
    // batch ends, after every deletion and set, so a later copy that deletes
    // or sets such a row or group ends the batch first: inserted, then
    // deleted or set, as two saves in that order would.
    RowMarks newRows_;
    std::vector<uint64_t> componentNewRows_;
    // The rows marked are those of the component UpdateComponent is at
    // (componentMark_: its name, hashed once).
    uint64_t Mark(int32_t FID, int32_t CID, bool geometry) const;
    void CutBeforeDeletion(int32_t FID, int32_t CID, bool geometry);
    void CutBeforeSet(int32_t FID, int32_t CID, bool geometry);
    uint64_t componentMark_ = 0;
};

void RegisterComponentDatabaseService();

}  // namespace pelmora
