#pragma once
// ADO recordsets with a client-side cursor: Recordset, Fields, Field and the
// recordset events.
//
// For the data context (building recordsets from query results and writing
// pending rows back):
//   - build:   Recordset::FromImage(image, adLockBatchOptimistic, adOpenKeyset)
//              loads the rows in one go, fires no events; set Source and
//              ActiveConnection afterwards if wanted (FieldDesc carries the
//              base table and column of every field).
//   - write:   PendingRows() lists every added, changed and deleted row of the
//              recordset family (clones included) with original and current
//              values; after the database accepted them, MarkWritten(bookmarks)
//              (or MarkAllWritten()) turns them into ordinary rows, as
//              UpdateBatch does. A connection object that implements
//              PendingRowWriter is called by UpdateBatch itself.
//   - snapshot: ToImage() gives the visible rows (what Save writes).
#include <bitset>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "ado/Enums.h"
#include "ado/FieldDesc.h"
#include "ado/Persist.h"
#include "runtime/Error.h"
#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace ado {

class Recordset;
class Fields;
class Field;
struct RowStore;
class FilterCriteria;
using RecordsetPtr = std::shared_ptr<Recordset>;
using FieldsPtr = std::shared_ptr<Fields>;
using FieldPtr = std::shared_ptr<Field>;
using FieldList = std::vector<FieldPtr>;

// How many edits the handlers of an Update may open, one after another, after
// the caller's own, before the operation that ends them is refused: a
// handler that stops sooner is followed to its end.
inline constexpr int kEditsHandlersMayOpen = 1000;

// The recordset events, with ADO's arguments. A sink overrides only what it
// handles; the defaults decline their event (adStatusUnwantedEvent), so an
// event no sink handles costs the recordset nothing after its first firing.
// A Will event may set adStatus to adStatusCancel (the operation is not done
// and fails in the caller with err::OperationCancelled) or
// adStatusUnwantedEvent (no more calls of that event, per reason, to this
// sink). pError is null unless the operation failed.
class RecordsetEvents {
public:
    virtual ~RecordsetEvents() = default;
    // Fields hold the values before the change in WillChangeField and after it
    // in FieldChangeComplete.
    virtual void WillChangeField(int32_t /*cFields*/, const FieldList& /*Fields*/, EventStatusEnum& adStatus,
                                 const RecordsetPtr& /*pRecordset*/) { adStatus = adStatusUnwantedEvent; }
    virtual void FieldChangeComplete(int32_t /*cFields*/, const FieldList& /*Fields*/, const rt::ComError* /*pError*/,
                                     EventStatusEnum& adStatus, const RecordsetPtr& /*pRecordset*/) { adStatus = adStatusUnwantedEvent; }
    virtual void WillChangeRecord(EventReasonEnum /*adReason*/, int32_t /*cRecords*/, EventStatusEnum& adStatus,
                                  const RecordsetPtr& /*pRecordset*/) { adStatus = adStatusUnwantedEvent; }
    virtual void RecordChangeComplete(EventReasonEnum /*adReason*/, int32_t /*cRecords*/,
                                      const rt::ComError* /*pError*/, EventStatusEnum& adStatus,
                                      const RecordsetPtr& /*pRecordset*/) { adStatus = adStatusUnwantedEvent; }
    virtual void WillChangeRecordset(EventReasonEnum /*adReason*/, EventStatusEnum& adStatus,
                                     const RecordsetPtr& /*pRecordset*/) { adStatus = adStatusUnwantedEvent; }
    virtual void RecordsetChangeComplete(EventReasonEnum /*adReason*/, const rt::ComError* /*pError*/,
                                         EventStatusEnum& adStatus, const RecordsetPtr& /*pRecordset*/) { adStatus = adStatusUnwantedEvent; }
    virtual void WillMove(EventReasonEnum /*adReason*/, EventStatusEnum& adStatus,
                          const RecordsetPtr& /*pRecordset*/) { adStatus = adStatusUnwantedEvent; }
    virtual void MoveComplete(EventReasonEnum /*adReason*/, const rt::ComError* /*pError*/,
                              EventStatusEnum& adStatus, const RecordsetPtr& /*pRecordset*/) { adStatus = adStatusUnwantedEvent; }
    virtual void EndOfRecordset(bool& /*fMoreData*/, EventStatusEnum& adStatus,
                                const RecordsetPtr& /*pRecordset*/) { adStatus = adStatusUnwantedEvent; }
};

// One added, changed or deleted row, as a batch writer sees it.
struct PendingRow {
    rt::Variant bookmark;
    RecordStatusEnum status = adRecNew;   // adRecNew, adRecModified or adRecDeleted
    std::vector<rt::Variant> original;    // per field; Null for added rows
    std::vector<rt::Variant> current;     // per field; the original values for deleted rows
};

// Implemented by a connection object (ActiveConnection) that writes pending
// rows to its database; UpdateBatch calls it before accepting the rows. A
// failure (exception) leaves every row pending.
class PendingRowWriter {
public:
    virtual ~PendingRowWriter() = default;
    virtual void WritePendingRows(Recordset& recordset, const std::vector<PendingRow>& rows) = 0;
};

class Recordset : public rt::Object {
public:
    // A new, closed recordset (New ADODB.Recordset).
    static RecordsetPtr Create();
    // An open client-side recordset over the image's rows, positioned on the
    // first row; no events. LockType and CursorType unspecified give
    // adLockBatchOptimistic and adOpenStatic.
    static RecordsetPtr FromImage(RecordsetImage image, LockTypeEnum lockType = adLockBatchOptimistic,
                                  CursorTypeEnum cursorType = adOpenStatic);

    Recordset();
    ~Recordset() override;
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    // ---- opening, closing, persisting ----
    // Source a file name and no connection: the persisted file is read.
    // Source missing or "" and no connection: a fabricated recordset over the
    // appended fields. LockType unspecified gives adLockBatchOptimistic.
    void Open(const rt::Variant& Source = rt::Variant::Missing(),
              const rt::Variant& ActiveConnection = rt::Variant::Missing(),
              CursorTypeEnum CursorType = adOpenUnspecified, LockTypeEnum LockType = adLockUnspecified,
              int32_t Options = -1);
    void Close();
    // Writes the visible rows, in view order, with Source and the field
    // descriptors; afterwards the recordset stands on its first row.
    void Save(const std::string& path, PersistFormatEnum format = adPersistADTG);
    ObjectStateEnum get_State() const;
    RecordsetImage ToImage();

    // ---- fields ----
    FieldsPtr get_Fields();
    rt::Variant GetValue(const rt::Variant& index);  // the current row's value of one field
    void SetValue(const rt::Variant& index, const rt::Variant& value);
    int32_t FieldCount() const;
    const FieldDesc& DescAt(int32_t index) const;
    // The field index for a name (case-insensitive), -1 when unknown.
    int32_t FieldIndex(const std::string& name) const;
    // Says what the rows are (for this recordset and its clones) in the
    // error of a field asked for by a name they lack.
    void NameRowsForErrors(const std::string& rowsName);
    // Says whose edit a row holds (for this recordset and its clones) in the
    // error of an edit whose handlers never stop opening edits: given the
    // fields and the row's values; unset, the row is named by its bookmark.
    using EditNamer = std::function<std::string(const std::vector<FieldDesc>&, const rt::Variant*)>;
    void NameEditsForErrors(EditNamer namer);
    // The row of the edit open here (else the current row) as the namer
    // names it.
    std::string EditName() const;
    // The error (ADO's 3712) refusing an operation whose edit could not be
    // ended: its handlers opened kEditsHandlersMayOpen edits after the
    // caller's and one more. Names the edit open here.
    rt::ComError EndlessEditError() const;
    // Raises ItemNotFound (source `source`) for a field name the rows lack.
    [[noreturn]] void NoSuchField(const std::string& name, const char* source) const;
    // Replaces a descriptor (base table, column, ...); type and name changes
    // do not convert stored values.
    void SetFieldDesc(int32_t index, const FieldDesc& desc);

    // ---- navigation ----
    bool get_BOF();
    bool get_EOF();
    void MoveFirst();
    void MoveLast();
    void MoveNext();
    void MovePrevious();
    void Move(int32_t NumRecords, const rt::Variant& Start = rt::Variant::Missing());
    int32_t get_RecordCount();
    int32_t get_AbsolutePosition();
    void put_AbsolutePosition(int32_t position);
    rt::Variant get_Bookmark();
    void put_Bookmark(const rt::Variant& bookmark);
    // Criteria, skip, direction and start (a bookmark, or an integer
    // BookmarkEnum value; missing = the current row).
    void Find(const std::string& Criteria, int32_t SkipRows = 0, SearchDirectionEnum SearchDirection = adSearchForward,
              const rt::Variant& Start = rt::Variant::Missing());

    // ---- filter and sort ----
    // A criteria text, a FilterGroupEnum number or an array of bookmarks.
    rt::Variant get_Filter() const;
    void put_Filter(const rt::Variant& filter);
    std::string get_Sort() const;
    void put_Sort(const std::string& sort);

    // ---- editing ----
    void AddNew(const rt::Variant& FieldList = rt::Variant::Missing(),
                const rt::Variant& Values = rt::Variant::Missing());
    void Update(const rt::Variant& Fields = rt::Variant::Missing(),
                const rt::Variant& Values = rt::Variant::Missing());
    void CancelUpdate();
    void Delete(AffectEnum AffectRecords = adAffectCurrent);
    void UpdateBatch(AffectEnum AffectRecords = adAffectAll);
    // Adds a row whose field i holds values[from[i]] as an assignment stores
    // it: what AddNew (which first ends an edit in progress), setting every
    // field and Update give (a pending addition under batch updating), in one
    // step and without events. Only for a recordset no sink watches
    // (IllegalOperation otherwise); the added row becomes current.
    void AppendRow(const rt::Variant* values, const std::vector<int32_t>& from);
    // AppendRow for each of rows in turn, in one step. A value that does not
    // fit raises once the rows before its own are added.
    void AppendRows(const std::vector<const rt::Variant*>& rows, const std::vector<int32_t>& from);
    // AppendRows of rows of source, which the call takes: when nothing else
    // holds source and no clone shares its rows, the values are moved out of
    // them instead of copied (nobody can read them after).
    void AppendRowsOf(RecordsetPtr source, const std::vector<const rt::Variant*>& rows,
                      const std::vector<int32_t>& from);
    void CancelBatch(AffectEnum AffectRecords = adAffectAll);
    int32_t get_Status();
    EditModeEnum get_EditMode();
    // The members of the family (this one too) with an edit or an add of
    // their own open: what an Update of each would end. Costs what the edits
    // open cost, not the members.
    std::vector<RecordsetPtr> EditorsOfRows();

    // ---- pending rows, for the data context ----
    std::vector<PendingRow> PendingRows();
    // Whether anything is left to write or to finish: a row of the family
    // added, changed or deleted and not written, or an edit in progress
    // (True for a closed recordset, which says nothing of its rows).
    bool HasPendingChanges() const;
    void MarkWritten(const std::vector<rt::Variant>& bookmarks);
    void MarkAllWritten();

    // ---- clones ----
    RecordsetPtr Clone(LockTypeEnum LockType = adLockUnspecified);
    // A criteria filter (or none) and a sort as this recordset applied them,
    // with its rows in view order, for caches of filtered clones: a fresh
    // clone of the same rows takes it instead of parsing, filtering and
    // sorting again. KeepView gives nullptr for other filters (groups,
    // bookmarks) and during an edit; TakeView changes nothing and gives false
    // when the rows are another store's, changed since, or the recordset has
    // event sinks or an edit in progress. No events fire.
    struct KeptView;
    std::shared_ptr<const KeptView> KeepView();
    bool TakeView(const KeptView& view);

    // ---- properties ----
    const std::string& get_Source() const;
    void put_Source(std::string source);
    rt::ObjectPtr get_ActiveConnection() const;
    // Nothing disconnects the recordset.
    void putref_ActiveConnection(const rt::ObjectPtr& connection);
    CursorLocationEnum get_CursorLocation() const { return cursorLocation_; }
    void put_CursorLocation(CursorLocationEnum location);
    LockTypeEnum get_LockType() const { return lockType_; }
    void put_LockType(LockTypeEnum lockType);
    CursorTypeEnum get_CursorType() const { return cursorType_; }
    void put_CursorType(CursorTypeEnum cursorType);

    // ---- events ----
    int32_t Advise(const std::shared_ptr<RecordsetEvents>& sink);
    void Unadvise(int32_t cookie);

    // ---- late binding ----
    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "Recordset"; }

    // For Field objects: values of one field of the current row.
    rt::Variant FieldValue(int32_t index);
    rt::Variant FieldOriginalValue(int32_t index);
    rt::Variant FieldUnderlyingValue(int32_t index);
    // The same two values without a copy, for walks over many fields; the
    // reference holds until the recordset moves or a value changes.
    const rt::Variant& FieldValueRef(int32_t index);
    const rt::Variant& FieldOriginalValueRef(int32_t index);
    // All FieldCount() values of the current row at once, with the checks of
    // FieldValue(0); its original values, nullptr for a new row (all Null).
    const rt::Variant* CurrentRowValues();
    const rt::Variant* OriginalRowValues();
    void SetFieldValues(const std::vector<int32_t>& indices, const std::vector<rt::Variant>& values);
    // Fields appended before Open (fabricated recordsets).
    std::vector<FieldDesc>& PendingFieldDescs();
    uint64_t SchemaVersion() const { return schemaVersion_; }
    // Changes whenever a row of the family appears, vanishes or changes
    // status (not when a value is assigned); 0 while closed.
    uint64_t RowsVersion() const;
    // Changes whenever a value of the family is assigned; 0 while closed.
    uint64_t ValuesVersion() const;
    // The same for a recordset and its clones (the rows they share) while
    // they stay open; nullptr while closed.
    const void* RowsIdentity() const;
    // How often the recordset was closed: a Field made before a Close is dead.
    uint32_t Closings() const { return closings_; }

private:
    friend class Fields;
    struct Sink {
        int32_t cookie;
        std::weak_ptr<RecordsetEvents> sink;
        std::bitset<160> unwanted;  // event kind * 16 + reason
    };
    enum class FilterKind { None, Criteria, Group, Bookmarks };
    struct FilterSetting {
        FilterKind kind = FilterKind::None;
        FilterGroupEnum group = adFilterNone;
        std::shared_ptr<FilterCriteria> criteria;
    };
    // A Filter value checked against the fields (and bookmarks) of the rows.
    FilterSetting InterpretFilter(const rt::Variant& filter, const RowStore& store) const;
    void ApplyFilter(FilterSetting setting, const rt::Variant& filter);
    enum EventKind { evField = 0, evRecord, evRecordset, evMove, evEndOfRecordset, evFieldComplete,
                     evRecordComplete, evRecordsetComplete, evMoveComplete, evCount };

    RecordsetPtr Self();
    // AppendRow and AppendRows.
    void AppendEach(std::span<const rt::Variant* const> rows, const std::vector<int32_t>& from, bool take = false);
    // AppendRowsOf when rows are all of source's rows in their order, taken
    // into this recordset without rows: the values change hands at once.
    // False (nothing done) for any other rows.
    bool AdoptRows(RowStore& source, const std::vector<const rt::Variant*>& rows, const std::vector<int32_t>& from);
    // An appended row shown at the end of the view; after the last, where
    // the appending leaves the recordset (and the error that stopped it).
    void ShowAdded(int32_t id);
    void EndAppend(const std::exception_ptr& unfit);
    // Raises unless a shared pointer holds the recordset (its fields need one).
    void RequireShared() const;
    void CheckOpen() const;
    // CheckOpen after the events of an operation, given Closings() from
    // before them: a handler may have closed the recordset, or closed it and
    // opened it on other rows, where the operation's rows are gone.
    void CheckOpenSince(uint32_t closings) const;
    void CheckUpdatable() const;
    bool IsBatch() const { return lockType_ == adLockBatchOptimistic; }
    void AttachStore(std::shared_ptr<RowStore> store);

    // View maintenance.
    void Sync();
    void RebuildView();
    // Rows another member is adding, judged again by a criteria view as their
    // values change; rows from index firstNew on (shown from base_[tail] on)
    // were judged by this Sync already.
    void JudgeAdds(int32_t firstNew, size_t tail);
    // After the view was built whole: what it shows of the rows being added.
    void NoteAdds(bool byCriteria);
    // Whether base_ holds the row from index from on.
    bool Shows(int32_t row, size_t from) const;
    void ApplySort();
    bool Visible(int32_t row) const;
    bool PassesFilter(int32_t row) const;
    int32_t VisibleCount();
    bool HasCurrent() const;      // on an entry of the view (maybe a deleted row)
    int32_t CurrentRow() const;   // row id, -1 when none
    int32_t RequireCurrentRow();  // raises NoCurrentRecord
    int32_t NextVisible(int32_t from) const;  // first visible index > from, size when none
    int32_t PrevVisible(int32_t from) const;  // last visible index < from, -1 when none
    int32_t IndexOfRow(int32_t row);          // -1 when not in the view
    int32_t RowOfBookmark(const rt::Variant& bookmark) const;  // raises InvalidBookmark
    int32_t IndexOfStart(const rt::Variant& start);            // Move's and Find's Start argument
    int32_t NamedFieldIndex(const rt::Variant& name) const;   // raises ItemNotFound
    void PositionFirst();

    // Moves with events.
    void MoveTo(int32_t newPos, EventReasonEnum reason);
    template <class Op>
    void DoMove(EventReasonEnum reason, Op&& op);
    // The implicit Update before a move, and of each edit its handlers open
    // meanwhile; raises EndlessEditError past the bound, the edit left open.
    void FinishEdit();

    // Events.
    template <class F>
    EventStatusEnum FireWill(EventKind kind, int reason, F&& call);
    template <class F>
    void FireComplete(EventKind kind, int reason, F&& call);
    template <class F>
    EventStatusEnum FireEvent(EventKind kind, int reason, bool cancellable, F&& call);
    bool HasSinks() const;

    // Editing internals.
    void BeginEdit(int32_t row, EditModeEnum mode);
    void SaveOriginal(int32_t row);
    void AcceptRow(int32_t row);
    void RejectRow(int32_t row);
    std::vector<int32_t> PendingRowIds(AffectEnum affect);
    PendingRow MakePendingRow(int32_t row) const;
    void FireCancelled(EventKind completeKind, int reason);
    void CancelPendingChange();
    // The record and move events of an operation (Complete without an error).
    bool WillChangeRecordCancelled(EventReasonEnum reason, int32_t count = 1);
    void RecordChangeCompleted(EventReasonEnum reason, int32_t count = 1);
    bool WillMoveCancelled(EventReasonEnum reason);
    void MoveCompleted(EventReasonEnum reason);

    std::shared_ptr<RowStore> store_;
    std::vector<FieldDesc> pendingFields_;
    uint64_t schemaVersion_ = 0;
    uint32_t closings_ = 0;
    std::weak_ptr<Fields> fields_;

    // View: candidates in display order (sorted when a sort is set), base_ the
    // same unsorted; rows are shown when Visible.
    std::vector<int32_t> view_;
    std::vector<int32_t> base_;
    std::vector<int32_t> indexOf_;  // row id -> index in view_, built lazily
    bool indexValid_ = false;
    bool viewPending_ = false;      // view_ and pos_ not built yet: Sync builds them
    int32_t pendingRow_ = -1;       // with viewPending_: the row a bookmark moved to, else -1 (the first)
    int32_t pos_ = -1;              // -1 BOF, view_.size() EOF
    uint64_t seenVersion_ = 0;
    int32_t knownRows_ = 0;
    int32_t visibleCount_ = 0;
    uint64_t countVersion_ = ~uint64_t{0};
    size_t countSize_ = 0;

    // The rows being added by other members that this criteria view judged,
    // and whether it shows them; kept while their add lasts, then judged once more.
    struct JudgedAdd {
        int32_t row;
        bool shown;
    };
    std::vector<JudgedAdd> judgedAdds_;
    uint64_t seenAddingChanges_ = 0;

    // Rows touched by this recordset's last Delete, UpdateBatch or CancelBatch;
    // a clone starts without any.
    std::vector<int32_t> affected_;

    FilterKind filterKind_ = FilterKind::None;
    rt::Variant filter_ = rt::Variant(int32_t{0});
    FilterGroupEnum filterGroup_ = adFilterNone;
    std::shared_ptr<FilterCriteria> criteria_;
    std::string sort_;
    struct SortKey {
        int32_t field;
        bool descending;
    };
    std::vector<SortKey> sortKeys_;
    static std::vector<SortKey> ParseSortKeys(const std::string& sort, const RowStore& store);

    // The edit in progress on this recordset. The assignments of an edit of
    // a row stay in its own buffer (editSet_[f]: field f assigned) until
    // Update writes them to the rows, so the other members of the family read
    // the stored values until then and a CancelUpdate drops only this
    // recordset's own. Those of an AddNew go straight to the rows: the row is
    // there for every member, and its values with it.
    EditModeEnum editMode_ = adEditNone;
    int32_t editRow_ = -1;  // -1 whenever editMode_ is adEditNone
    int32_t rowBeforeAdd_ = -1;
    std::vector<rt::Variant> editValues_;
    std::vector<uint8_t> editSet_;
    std::vector<rt::Variant> editRowView_;  // the edited row whole, for CurrentRowValues
    void EndEdit();
    // The row's values as this recordset reads them: its own assignments over
    // the stored ones.
    const rt::Variant& ValueSeen(int32_t row, int32_t index) const;

    // Shared with the clones: a long query text is not copied for each one.
    std::shared_ptr<const std::string> source_;
    rt::ObjectPtr connection_;
    CursorLocationEnum cursorLocation_ = adUseServer;  // ADO's default until set
    LockTypeEnum lockType_ = adLockReadOnly;
    CursorTypeEnum cursorType_ = adOpenForwardOnly;
    bool open_ = false;
    bool lockTypeSet_ = false;
    bool cursorTypeSet_ = false;

    std::vector<Sink> sinks_;
    int32_t lastCookie_ = 0;
};

class Field : public rt::Object {
public:
    Field(RecordsetPtr recordset, int32_t index);
    std::string get_Name() const;
    DataTypeEnum get_Type() const;
    int32_t get_DefinedSize() const;
    uint8_t get_Precision() const;
    void put_Precision(uint8_t precision);
    uint8_t get_NumericScale() const;
    void put_NumericScale(uint8_t scale);
    int32_t get_Attributes() const;
    int32_t get_ActualSize() const;
    rt::Variant get_Value() const;
    void put_Value(const rt::Variant& value);
    rt::Variant get_OriginalValue() const;
    rt::Variant get_UnderlyingValue() const;
    const FieldDesc& Desc() const;
    int32_t Index() const { return index_; }
    const RecordsetPtr& Owner() const { return recordset_; }

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "Field"; }

private:
    void Check() const;
    FieldDesc& MutableDesc();
    RecordsetPtr recordset_;
    int32_t index_;
    uint32_t closings_;  // the recordset's Closings() when this object was made
};

class Fields : public rt::Object {
public:
    explicit Fields(RecordsetPtr recordset);
    int32_t get_Count() const;
    // By 0-based position or by name (case-insensitive); unknown raises
    // err::ItemNotFound.
    FieldPtr get_Item(const rt::Variant& index);
    FieldPtr Item(int32_t index);
    FieldPtr Item(const std::string& name);
    // Only on a closed recordset (fabricated recordsets).
    void Append(const std::string& Name, DataTypeEnum Type, int32_t DefinedSize = 0,
                int32_t Attrib = adFldUnspecified, const rt::Variant& FieldValue = rt::Variant::Missing());
    void Delete(const rt::Variant& index);
    void Refresh() {}

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "Fields"; }
    const RecordsetPtr& Owner() const { return recordset_; }
    // The position get_Item takes for index in the recordset's fields,
    // raising as it does.
    static int32_t ResolveIn(const Recordset& recordset, const rt::Variant& index);
    // The position Item(name) takes, raising as it does.
    static int32_t IndexIn(const Recordset& recordset, const std::string& name);

private:
    int32_t Resolve(const rt::Variant& index) const { return ResolveIn(*recordset_, index); }
    RecordsetPtr recordset_;
    std::vector<std::weak_ptr<Field>> cache_;
    uint64_t cacheVersion_ = 0;
};

// A value converted to what a field of that type stores (Null and Empty stay);
// raises err::DataConversion when it cannot be.
rt::Variant CoerceToFieldType(rt::Variant value, DataTypeEnum type);

}  // namespace ado
