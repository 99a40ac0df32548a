// The pending-row collection of ComponentDatabaseService: the pending rows
// of one component, and of its relational geometry rows, become entries of
// the work-operation lists.
#include <cstdint>
#include <functional>
#include <set>
#include <utility>

#include "ado/Recordset.h"
#include "pelmora/common/FastString.h"
#include "pelmora/common/NullOrEmpty.h"
#include "pelmora/common/TraceScope.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/common/FeatureComponents.h"
#include "pelmora/persistence/SavedComponent.h"
#include "interfaces/Components.h"
#include "pelmora/persistence/ComponentDatabaseService.h"
#include "pelmora/persistence/WorkOperationsStrings.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr const char* kFile = "ComponentDatabaseService";
constexpr int16_t kMsgSource = 23283;
constexpr int16_t kMsgNoKey = 23284;
constexpr int16_t kMsgComponent = 23287;
constexpr int16_t kMsgAddedRow = 23289;
constexpr int16_t kMsgChangedRow = 23290;
constexpr int16_t kMsgDeletedRow = 23291;

std::string SourceText() { return MessageObject()->GetMessageText(kMsgSource, 0); }

bool NameIn(const std::string& name, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (name == n) return true;
    return false;
}

bool SkippedInAddedRow(const std::string& n) {
    return NameIn(n, {"QTX_FNO", "QTX_FID", "QTX_CNO", "QTX_CID", "QTX_GEOMETRY", "LTT_STATUS", "LTT_ID",
                      "LTT_DATE", "LTT_TID"});
}
bool SkippedInChangedRow(const std::string& n) { return n == "QTX_ID" || SkippedInAddedRow(n); }
bool SkippedInGeometryRow(const std::string& n) {
    return NameIn(n, {"QTX_ID", "QTX_FNO", "QTX_FID", "QTX_CNO", "QTX_CID", "SDO_ESEQ", "SDO_SEQ", "LTT_STATUS",
                      "LTT_ID", "LTT_DATE", "LTT_TID"});
}

// Two values differ; a comparison with Null on either side counts as no
// difference, as in VB's If a <> b.
bool Differ(const rt::Variant& a, const rt::Variant& b) {
    if (a.IsNull() || b.IsNull()) return false;
    return !rt::VariantEquals(a, b);
}

// A Decimal as the double its text converts to. When the magnitude and the
// power of ten are both exact doubles, their quotient is rounded once, just
// as the text's conversion rounds, so the text is needed only otherwise.
double DecimalAsDouble(const rt::Decimal& d) {
    static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (d.magnitude < (static_cast<unsigned __int128>(1) << 53) && d.scale <= 22) {
        double x = static_cast<double>(static_cast<uint64_t>(d.magnitude)) / kPow10[d.scale];
        return d.negative ? -x : x;
    }
    return d.ToDouble();
}

// A field changed between its original and current value.
bool Changed(const rt::Variant& current, const rt::Variant& original) {
    // A number typed in over a fetched one compares as doubles, as VB's <> does.
    if (current.Type() == rt::vbDouble && original.Type() == rt::vbDecimal)
        return !(current.R8() == DecimalAsDouble(original.Dec()));
    if (current.Type() == rt::vbDecimal && original.Type() == rt::vbDouble)
        return !(DecimalAsDouble(current.Dec()) == original.R8());
    // Values of one type, as most fields keep, compare directly.
    if (current.Type() == original.Type()) {
        switch (current.Type()) {
            case rt::vbString: return current.Str() != original.Str();
            case rt::vbDouble: return !(current.R8() == original.R8());
            case rt::vbLong: return current.I4() != original.I4();
            case rt::vbDecimal: {
                const rt::Decimal& a = current.Dec();
                const rt::Decimal& b = original.Dec();
                if (a.magnitude == b.magnitude && a.scale == b.scale && a.negative == b.negative) return false;
                break;
            }
            default: break;
        }
    }
    return Differ(current, original) || current.IsNull() != original.IsNull() ||
           current.IsEmpty() != original.IsEmpty();
}

// VB's text of a double. The list's text of a number with at most 15
// significant digits and no exponent is the one VB prints; any other goes
// through VB's own conversion.
std::string DoubleCStr(const rt::Variant& v) {
    std::string text = FastString::NumberText(v);
    if (text.find('E') == std::string::npos) {
        int significant = 0;
        bool leading = true;
        for (char c : text) {
            if (c < '0' || c > '9') continue;
            if (leading && c == '0') continue;
            leading = false;
            ++significant;
        }
        if (significant <= 15) return text;
    }
    return rt::CStr(v);
}

// The value compared with a column default: numbers and dates as text.
rt::Variant ComparisonValue(const rt::Variant& v) {
    if (v.IsNull()) return v;
    if (v.Type() == rt::vbDouble) return rt::Variant(DoubleCStr(v));
    if (v.Type() == rt::vbDate || (v.IsNumericType() && v.Type() != rt::vbBoolean)) return rt::Variant(rt::CStr(v));
    return v;
}

// A key as a Long; the keys of database rows come as whole Decimals.
int32_t KeyOf(const rt::Variant& v) {
    if (v.Type() == rt::vbDecimal && v.Dec().scale == 0) {
        int64_t n = rt::DecimalRoundToInt64(v.Dec());
        if (n >= INT32_MIN && n <= INT32_MAX) return static_cast<int32_t>(n);
    }
    return rt::CLng(v);
}

void CheckKeys(const std::string& name, std::initializer_list<const rt::Variant*> keys) {
    bool missing = name.empty();
    for (const auto* k : keys) missing = missing || IsNullOrEmpty(*k);
    if (missing) RaiseError(kMsgNoKey, SourceText(), rt::Variant(kMsgNoKey));
}

// The walkers read values in place: nothing in a walk step moves the
// recordset or changes its values.
const rt::Variant& Current(const std::shared_ptr<ado::Recordset>& rs, int32_t index) {
    return rs->FieldValueRef(index);
}
const rt::Variant& Original(const std::shared_ptr<ado::Recordset>& rs, int32_t index) {
    return rs->FieldOriginalValueRef(index);
}

const rt::Variant& NullValue() {
    static const rt::Variant kNull = rt::Variant::Null();
    return kNull;
}

// A key field the walker needs; a recordset without it fails as ADO's
// Fields collection does.
int32_t Need(int32_t index, const char* name) {
    if (index < 0)
        throw rt::ComError(ado::err::ItemNotFound, "ADODB.Fields",
                           std::string("Item cannot be found in the collection corresponding to the requested name "
                                       "or ordinal: ") +
                               name);
    return index;
}

template <class Skipped>
ComponentDatabaseService::Layout LayoutOf(const std::shared_ptr<ado::Recordset>& rs, Skipped&& skipped) {
    ComponentDatabaseService::Layout l;
    l.fno = rs->FieldIndex("QTX_FNO");
    l.fid = rs->FieldIndex("QTX_FID");
    l.cid = rs->FieldIndex("QTX_CID");
    l.eseq = rs->FieldIndex("SDO_ESEQ");
    l.seq = rs->FieldIndex("SDO_SEQ");
    const int32_t n = rs->FieldCount();
    l.skip.resize(static_cast<size_t>(n));
    for (int32_t k = 0; k < n; ++k) l.skip[static_cast<size_t>(k)] = skipped(rs->DescAt(k).name) ? 1 : 0;
    return l;
}

// New and changed values go to the list of the value's class; only the New/Set family differs.
ComponentDatabaseService::ListId AttributeListOf(bool added, int32_t adoType) {
    using S = ComponentDatabaseService;
    switch (WorkOperationsStrings::ClassOfType(adoType)) {
        case WorkOperationsStrings::kString: return added ? S::NewAttributeString : S::SetAttributeString;
        case WorkOperationsStrings::kDate: return added ? S::NewAttributeDate : S::SetAttributeDate;
        default: return added ? S::NewAttributeNumeric : S::SetAttributeNumeric;
    }
}

struct RowKeys {
    int32_t FNO, FID, CID;
};

// The component keys of the row, read from its current or its original values; a missing key raises.
RowKeys ComponentKeys(const std::string& name, const std::shared_ptr<ado::Recordset>& rs,
                      const ComponentDatabaseService::Layout& layout, bool original) {
    const int32_t fnoAt = Need(layout.fno, "QTX_FNO");
    const int32_t fidAt = Need(layout.fid, "QTX_FID");
    const int32_t cidAt = Need(layout.cid, "QTX_CID");
    // The row's values are taken once; a new row has no original ones.
    const rt::Variant* row = original ? rs->OriginalRowValues() : rs->CurrentRowValues();
    auto at = [&](int32_t index) -> const rt::Variant& { return row ? row[index] : NullValue(); };
    const rt::Variant& fno = at(fnoAt);
    const rt::Variant& fid = at(fidAt);
    const rt::Variant& cid = at(cidAt);
    CheckKeys(name, {&fno, &fid, &cid});
    return {KeyOf(fno), KeyOf(fid), KeyOf(cid)};
}

// A value the lists refuse (too large, not a text the database reads, too
// long for an empty list) is named by its feature, component and field; its
// number and source stay.
template <class F>
void NamingField(int32_t FNO, int32_t FID, const std::string& component, const std::string& field, F&& queue) {
    try {
        queue();
    } catch (const rt::ComError& e) {
        std::string description = e.Description();
        if (!description.empty() && description.back() != '.') description += '.';
        throw rt::ComError(e.Number(), e.Source(),
                           description + " Field " + field + " of component " + component + ", feature FNO " +
                               std::to_string(FNO) + " FID " + std::to_string(FID) + ".");
    }
}

}  // namespace

// The entry is offered once (the test and the append in one step); when the
// lists refuse it the batch is cut and the entry added to the emptied lists.
template <class TryAdd, class Add>
void ComponentDatabaseService::Queue(TryAdd&& tryAdd, Add&& add) {
    queued_ = true;
    if (tryAdd()) return;
    CutWorkOperationBlock();
    add();
}

void ComponentDatabaseService::UpdateComponent(const std::shared_ptr<IComponent>& objComponent) {
    TraceScope trace(kFile, "UpdateComponent");
    if (!objComponent || !begun_) return;
    try {
        std::string name = objComponent->get_Name();
        if (!objComponent->get_RecordsetLocal()) return;
        componentMark_ = std::hash<std::string>{}(name);
        // A component's new rows count from the next component on: its own
        // deletions and sets of a key come before its new rows of that key
        // in one call, as in one save of it alone.
        newRows_.marks.insert(newRows_.marks.end(), componentNewRows_.begin(), componentNewRows_.end());
        componentNewRows_.clear();

        auto rs = ComponentRowsOf(objComponent);
        rs->put_Filter(rt::Variant(int32_t{ado::adFilterPendingRecords}));
        if (!(rs->get_BOF() && rs->get_EOF())) {
            const Layout added = LayoutOf(rs, SkippedInAddedRow);
            const Layout changed = LayoutOf(rs, SkippedInChangedRow);
            std::shared_ptr<ISavedComponent> saved;
            rs->MoveFirst();
            while (!rs->get_EOF()) {
                switch (rs->get_EditMode()) {
                    case ado::adEditInProgress:
                        QueueChangedAttributeRow(name, rs, changed);
                        break;
                    case ado::adEditAdd:
                        if (!saved) saved = rt::QueryInterface<ISavedComponent>(objComponent);
                        QueueNewAttributeRow(name, rs, added, *saved);
                        break;
                    case ado::adEditDelete:
                        QueueDeletedComponentRow(name, rs, added);
                        break;
                    default:
                        break;
                }
                rs->MoveNext();
            }
        }
        rs->put_Filter(rt::Variant(int32_t{ado::adFilterNone}));

        auto geometry = rt::QueryInterface<ISavedComponent>(objComponent)->SavedGeometryRows();
        if (!geometry) return;
        GeometryPass(name, geometry);
    } catch (const rt::ComError& e) {
        RaiseWrapped(kMsgComponent, e);
    }
}

void ComponentDatabaseService::GeometryPass(const std::string& name, const std::shared_ptr<ado::Recordset>& rs) {
    rs->put_Sort("QTX_FID,QTX_CID");
    rs->put_Filter(rt::Variant(int32_t{ado::adFilterPendingRecords}));
    if (rs->get_BOF() && rs->get_EOF()) {
        rs->put_Filter(rt::Variant(int32_t{ado::adFilterNone}));
        return;
    }
    const Layout layout = LayoutOf(rs, SkippedInGeometryRow);
    const int32_t fid = Need(layout.fid, "QTX_FID"), cid = Need(layout.cid, "QTX_CID");

    // Deletions: one entry per (FID, CID) group holding a deleted row; the
    // database removes every row of such a group.
    std::set<std::pair<int32_t, int32_t>> deletedGroups;
    {
        bool group = false;
        rt::Variant prevFid, prevCid;
        bool havePrev = false;
        rs->MoveFirst();
        while (!rs->get_EOF()) {
            bool deleted = rs->get_EditMode() == ado::adEditDelete;
            rt::Variant f = deleted ? Original(rs, fid) : rs->FieldValue(fid);
            rt::Variant c = deleted ? Original(rs, cid) : rs->FieldValue(cid);
            if (!havePrev || Differ(f, prevFid) || Differ(c, prevCid)) group = false;
            if (!group && deleted) {
                QueueDeletedGeometryComponent(name, rs, layout);
                deletedGroups.emplace(rt::CLng(f), rt::CLng(c));
                group = true;
            }
            prevFid = f;
            prevCid = c;
            havePrev = true;
            rs->MoveNext();
        }
    }
    auto inDeletedGroup = [&](const std::shared_ptr<ado::Recordset>& r) {
        rt::Variant f = r->FieldValue(fid), c = r->FieldValue(cid);
        if (IsNullOrEmpty(f) || IsNullOrEmpty(c)) return false;
        return deletedGroups.count({rt::CLng(f), rt::CLng(c)}) != 0;
    };

    // Additions, then changed rows: a changed row of a group that is being
    // deleted goes in again as a new row, any other sets its changed fields.
    rs->MoveFirst();
    while (!rs->get_EOF()) {
        auto mode = rs->get_EditMode();
        if (mode == ado::adEditAdd)
            QueueNewGeometryRow(name, rs, layout);
        else if (mode == ado::adEditInProgress)
            inDeletedGroup(rs) ? QueueNewGeometryRow(name, rs, layout) : QueueChangedGeometryRow(name, rs, layout);
        rs->MoveNext();
    }

    // The untouched rows of a deleted group would go with it: they go in
    // again as well.
    rs->put_Filter(rt::Variant(int32_t{ado::adFilterNone}));
    if (!deletedGroups.empty() && !(rs->get_BOF() && rs->get_EOF())) {
        rs->MoveFirst();
        while (!rs->get_EOF()) {
            if (rs->get_EditMode() == ado::adEditNone && inDeletedGroup(rs)) QueueNewGeometryRow(name, rs, layout);
            rs->MoveNext();
        }
    }
}

void ComponentDatabaseService::NoteNewRow(const std::string& name, int32_t FNO, int32_t FID, int32_t CID,
                                          const std::string& geometryKey) {
    std::string key = name + '\t' + std::to_string(FID) + '\t' + std::to_string(CID) + geometryKey;
    if (newRowKeys_.insert(std::move(key)).second) return;
    throw rt::ComError(rt::vberr::InvalidProcedureCall, kFile,
                       "A second new row of component " + name + " with QTX_CID " + std::to_string(CID) +
                           geometryKey + " of feature FNO " + std::to_string(FNO) + " FID " + std::to_string(FID) +
                           " is in this save; a key holds one row.");
}

namespace {

uint64_t MarkOf(uint64_t nameHash, int32_t FID, int32_t CID, bool geometry) {
    const uint64_t keys = (uint64_t{static_cast<uint32_t>(FID)} << 32) | static_cast<uint32_t>(CID);
    const uint64_t mark = nameHash ^ (keys * 0x9E3779B97F4A7C15ull);
    return geometry ? ~mark : mark;
}

}  // namespace

uint64_t ComponentDatabaseService::Mark(int32_t FID, int32_t CID, bool geometry) const {
    return MarkOf(componentMark_, FID, CID, geometry);
}

bool ComponentDatabaseService::RowMarks::Holds(uint64_t mark) {
    if (marks.empty()) return false;
    for (; indexed < marks.size(); ++indexed) index.insert(marks[indexed]);
    return index.count(mark) != 0;
}

void ComponentDatabaseService::RowMarks::Forget() {
    marks.clear();
    index.clear();
    indexed = 0;
}

// Ending the batch also ends the block, so one cut serves both orders.
void ComponentDatabaseService::CutBeforeDeletion(int32_t FID, int32_t CID, bool geometry) {
    const uint64_t mark = Mark(FID, CID, geometry);
    if (newRows_.Holds(mark)) CutWorkOperationBlock(true);
    else if (setRows_.Holds(mark)) CutWorkOperationBlock();
}

void ComponentDatabaseService::CutBeforeSet(int32_t FID, int32_t CID, bool geometry) {
    if (newRows_.Holds(Mark(FID, CID, geometry))) CutWorkOperationBlock(true);
}

void ComponentDatabaseService::QueueNewAttributeRow(const std::string& name, const std::shared_ptr<ado::Recordset>& rs,
                                                    const Layout& layout,
                                                    const ISavedComponent& saved) {
    try {
        const RowKeys keys = ComponentKeys(name, rs, layout, false);
        const int32_t FNO = keys.FNO, FID = keys.FID, CID = keys.CID;
        NoteNewRow(name, FNO, FID, CID, "");
        componentNewRows_.push_back(Mark(FID, CID, false));
        const int32_t count = rs->FieldCount();
        const rt::Variant* current = rs->CurrentRowValues();
        for (int32_t k = 0; k < count; ++k) {
            if (layout.skip[static_cast<size_t>(k)]) continue;
            const ado::FieldDesc& desc = rs->DescAt(k);
            const std::string& field = desc.name;
            const rt::Variant& stored = current[k];
            const bool isId = field == "QTX_ID";
            const rt::Variant& value = isId && stored.IsEmpty() ? NullValue() : stored;
            if (value.IsEmpty()) continue;

            if (layout.described.empty()) {
                layout.described.assign(static_cast<size_t>(count), 0);
                layout.defaults.assign(static_cast<size_t>(count), rt::Variant());
            }
            char& described = layout.described[static_cast<size_t>(k)];
            if (described == 0) {
                described = 1;
                try {
                    if (auto fieldDefault = saved.SavedFieldDefault(field)) {
                        layout.defaults[static_cast<size_t>(k)] = *fieldDefault;
                        described = 2;
                    }
                } catch (const rt::ComError&) {
                    // No descriptor: the field has no default.
                }
            }
            const bool found = described == 2;
            const rt::Variant& defaultValue = layout.defaults[static_cast<size_t>(k)];
            if (found && !isId) {
                rt::Variant compared = ComparisonValue(value);
                bool queue = Differ(compared, defaultValue) || compared.IsNull() != defaultValue.IsNull() ||
                             defaultValue.IsEmpty();
                if (!queue) continue;
            }

            const int32_t type = desc.type;
            WorkOperationsStrings& list = List(AttributeListOf(true, type));
            NamingField(FNO, FID, name, field, [&] {
                Queue([&] { return list.TryAddNewAttribute(FNO, FID, name, field, CID, value, type); },
                      [&] { list.AddNewAttribute(FNO, FID, name, field, CID, value, type); });
            });
        }
    } catch (const rt::ComError& e) {
        RaiseWrapped(kMsgAddedRow, e);
    }
}

void ComponentDatabaseService::QueueChangedAttributeRow(const std::string& name,
                                                        const std::shared_ptr<ado::Recordset>& rs,
                                                        const Layout& layout) {
    try {
        const RowKeys keys = ComponentKeys(name, rs, layout, false);
        const int32_t FNO = keys.FNO, FID = keys.FID, CID = keys.CID;
        const int32_t count = rs->FieldCount();
        const rt::Variant* current = rs->CurrentRowValues();
        const rt::Variant* original = rs->OriginalRowValues();
        CutBeforeSet(FID, CID, false);
        bool set = false;
        for (int32_t k = 0; k < count; ++k) {
            if (layout.skip[static_cast<size_t>(k)]) continue;
            const rt::Variant& value = current[k];
            if (!Changed(value, original ? original[k] : NullValue())) continue;
            const ado::FieldDesc& desc = rs->DescAt(k);
            const std::string& field = desc.name;
            const int32_t type = desc.type;
            WorkOperationsStrings& list = List(AttributeListOf(false, type));
            NamingField(FNO, FID, name, field, [&] {
                Queue([&] { return list.TryAddSetAttribute(FNO, FID, name, field, CID, value, type); },
                      [&] { list.AddSetAttribute(FNO, FID, name, field, CID, value, type); });
            });
            set = true;
        }
        // After the fields: a cut among them leaves the row in this block.
        if (set) setRows_.marks.push_back(Mark(FID, CID, false));
    } catch (const rt::ComError& e) {
        RaiseWrapped(kMsgChangedRow, e);
    }
}

void ComponentDatabaseService::QueueDeletedComponentRow(const std::string& name,
                                                        const std::shared_ptr<ado::Recordset>& rs,
                                                        const Layout& layout) {
    try {
        const RowKeys keys = ComponentKeys(name, rs, layout, true);
        const int32_t FNO = keys.FNO, FID = keys.FID, CID = keys.CID;
        CutBeforeDeletion(FID, CID, false);
        WorkOperationsStrings& list = List(DeleteComponent);
        Queue([&] { return list.TryAddDeleteComponent(FNO, FID, name, CID); },
              [&] { list.AddDeleteComponent(FNO, FID, name, CID); });
    } catch (const rt::ComError& e) {
        RaiseWrapped(kMsgDeletedRow, e);
    }
}

void ComponentDatabaseService::QueueDeletedGeometryComponent(const std::string& name,
                                                             const std::shared_ptr<ado::Recordset>& rs,
                                                             const Layout& layout) {
    try {
        const RowKeys keys = ComponentKeys(name, rs, layout, true);
        const int32_t FNO = keys.FNO, FID = keys.FID, CID = keys.CID;
        CutBeforeDeletion(FID, CID, true);
        WorkOperationsStrings& list = List(DeleteGeometryComponent);
        Queue([&] { return list.TryAddDeleteGeometryComponent(FNO, FID, name, CID); },
              [&] { list.AddDeleteGeometryComponent(FNO, FID, name, CID); });
    } catch (const rt::ComError& e) {
        RaiseWrapped(kMsgDeletedRow, e);
    }
}

void ComponentDatabaseService::QueueNewGeometryRow(const std::string& name, const std::shared_ptr<ado::Recordset>& rs,
                                                   const Layout& layout) {
    try {
        const rt::Variant& fno = Current(rs, Need(layout.fno, "QTX_FNO"));
        const rt::Variant& fid = Current(rs, Need(layout.fid, "QTX_FID"));
        const rt::Variant& cid = Current(rs, Need(layout.cid, "QTX_CID"));
        const rt::Variant& eseq = Current(rs, Need(layout.eseq, "SDO_ESEQ"));
        const rt::Variant& seq = Current(rs, Need(layout.seq, "SDO_SEQ"));
        CheckKeys(name, {&fno, &fid, &cid, &eseq, &seq});
        const int32_t FNO = KeyOf(fno), FID = KeyOf(fid), CID = KeyOf(cid);
        const int32_t ESeq = KeyOf(eseq), Seq = KeyOf(seq);
        NoteNewRow(name, FNO, FID, CID, ", SDO_ESEQ " + std::to_string(ESeq) + ", SDO_SEQ " + std::to_string(Seq));
        componentNewRows_.push_back(Mark(FID, CID, true));
        const int32_t count = rs->FieldCount();
        WorkOperationsStrings& list = List(NewGeomAttribute);
        for (int32_t k = 0; k < count; ++k) {
            if (layout.skip[static_cast<size_t>(k)]) continue;
            const std::string& field = rs->DescAt(k).name;
            const rt::Variant& value = Current(rs, k);
            if (value.IsEmpty()) continue;
            NamingField(FNO, FID, name, field, [&] {
                Queue([&] { return list.TryAddNewGeometryAttribute(FNO, FID, name, field, CID, ESeq, Seq, value); },
                      [&] { list.AddNewGeometryAttribute(FNO, FID, name, field, CID, ESeq, Seq, value); });
            });
        }
    } catch (const rt::ComError& e) {
        RaiseWrapped(kMsgAddedRow, e);
    }
}

// A changed geometry row sets its changed fields on the row of its original
// keys.
void ComponentDatabaseService::QueueChangedGeometryRow(const std::string& name,
                                                       const std::shared_ptr<ado::Recordset>& rs,
                                                       const Layout& layout) {
    try {
        const int32_t keyIndex[] = {Need(layout.fno, "QTX_FNO"), Need(layout.fid, "QTX_FID"),
                                    Need(layout.cid, "QTX_CID"), Need(layout.eseq, "SDO_ESEQ"),
                                    Need(layout.seq, "SDO_SEQ")};
        const rt::Variant& fno = Original(rs, keyIndex[0]);
        const rt::Variant& fid = Original(rs, keyIndex[1]);
        const rt::Variant& cid = Original(rs, keyIndex[2]);
        const rt::Variant& eseq = Original(rs, keyIndex[3]);
        const rt::Variant& seq = Original(rs, keyIndex[4]);
        CheckKeys(name, {&fno, &fid, &cid, &eseq, &seq});
        // A row moved to other keys cannot be found by them: it is refused
        // rather than written to the wrong row.
        for (int32_t k : keyIndex)
            if (Changed(Current(rs, k), Original(rs, k)))
                throw rt::ComError(rt::vberr::InvalidProcedureCall, kFile,
                                   "The key field " + rs->DescAt(k).name +
                                       " of a geometry row was changed; replace the geometry instead.");
        const int32_t FNO = KeyOf(fno), FID = KeyOf(fid), CID = KeyOf(cid);
        const int32_t ESeq = KeyOf(eseq), Seq = KeyOf(seq);
        CutBeforeSet(FID, CID, true);
        const int32_t count = rs->FieldCount();
        WorkOperationsStrings& list = List(SetGeometryAttribute);
        bool set = false;
        for (int32_t k = 0; k < count; ++k) {
            if (layout.skip[static_cast<size_t>(k)]) continue;
            const rt::Variant& stored = Current(rs, k);
            if (!Changed(stored, Original(rs, k))) continue;
            const rt::Variant& value = stored.IsEmpty() ? NullValue() : stored;
            const std::string& field = rs->DescAt(k).name;
            NamingField(FNO, FID, name, field, [&] {
                Queue([&] { return list.TryAddSetGeometryAttribute(FNO, FID, name, field, CID, ESeq, Seq, value); },
                      [&] { list.AddSetGeometryAttribute(FNO, FID, name, field, CID, ESeq, Seq, value); });
            });
            set = true;
        }
        if (set) setRows_.marks.push_back(Mark(FID, CID, true));
    } catch (const rt::ComError& e) {
        RaiseWrapped(kMsgChangedRow, e);
    }
}

}  // namespace pelmora
