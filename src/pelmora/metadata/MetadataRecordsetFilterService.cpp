#include "pelmora/metadata/MetadataRecordsetFilterService.h"

#include <unordered_map>
#include <unordered_set>

#include "ado/Recordset.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "runtime/Dispatch.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

// The three caches of one apartment; created on first use, kept until the
// apartment ends.
struct FilterServiceCaches {
    std::unordered_map<std::string, rt::Variant> filter;    // key -> bookmark array
    std::unordered_map<std::string, rt::Variant> distinct;  // source and field -> bookmark array
    std::unordered_set<std::string> cachedFields;           // source and field
};

FilterServiceCaches& Caches() { return rt::Apartment::Current().Get<FilterServiceCaches>(); }

std::string Fold(const std::string& s) {
    std::string r = s;
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return r;
}

// Parts of a key are joined by a control character no metadata text holds,
// so that a value containing ":" "=" or "-" never reads as another key.
constexpr char kSep = '\x1f';

std::string FieldKey(const std::string& source, const std::string& fieldName) {
    return Fold(source) + kSep + Fold(fieldName);
}

bool IsFilterNone(const rt::Variant& filter) {
    if (filter.IsString()) return filter.Str().empty();
    if (filter.IsNumericType()) return rt::CDbl(filter) == 0;
    return filter.IsEmpty();
}

// Whether a row's value answers a request for a value. Requests whose key
// texts are equal (the number 5 and the text "5") share one cache entry, so
// they must select the same rows whichever of them comes first: a text that
// reads as a number meets a numeric field as that number, and a number meets
// a text field as its text.
class ValueMatcher {
public:
    explicit ValueMatcher(const rt::Variant& wanted) : wanted_(wanted) {
        if (wanted.IsString()) {
            rt::ResumeNext guard;  // a text that converts to neither meets only texts
            guard([&] {
                if (rt::IsNumeric(wanted)) textAsNumber_ = rt::CDbl(wanted);
            });
            guard([&] {
                if (rt::IsDate(wanted)) textAsDate_ = rt::CDate(wanted);
            });
        } else if (!wanted.IsNull() && !wanted.IsEmpty()) {
            try {
                asText_ = rt::CStr(wanted);
            } catch (const rt::ComError&) {
                asText_.reset();  // no text: meets no text field
            }
        }
    }

    bool Matches(const rt::Variant& row) const {
        if (row.IsNull() || wanted_.IsNull()) return false;
        if (wanted_.IsString()) {
            const std::string& text = wanted_.Str();
            if (row.IsString()) return row.Str() == text;
            if (row.IsEmpty()) return text.empty();
            if (row.Type() == rt::vbDate) {
                double d = row.DateValue();
                return (textAsDate_ && *textAsDate_ == d) || (textAsNumber_ && *textAsNumber_ == d);
            }
            if (row.Type() == rt::vbBoolean && rt::CStr(row) == text) return true;
            if (row.IsNumericType()) return textAsNumber_ && *textAsNumber_ == rt::CDbl(row);
            return false;
        }
        if (wanted_.IsEmpty()) return row.IsEmpty() || (row.IsString() && row.Str().empty());
        if (row.IsString()) return asText_ && row.Str() == *asText_;
        return rt::VariantEquals(row, wanted_);
    }

private:
    rt::Variant wanted_;
    std::optional<double> textAsNumber_;
    std::optional<double> textAsDate_;
    std::optional<std::string> asText_;
};

void MoveFirstIfAny(ado::Recordset& rs) {
    if (!(rs.get_BOF() && rs.get_EOF())) rs.MoveFirst();
}

// Shows no rows: the affected records of a metadata clone are none. Should
// the family's last Delete have left affected rows visible to this clone, an
// empty array of bookmarks shows none instead.
void ShowNoRows(ado::Recordset& rs) {
    rs.put_Filter(rt::Variant(int32_t{ado::adFilterAffectedRecords}));
    if (rs.get_BOF() && rs.get_EOF()) return;
    rs.put_Filter(rt::Variant::MakeArray(rt::vbVariant, 0, -1));
}

// Shows the collected rows, or none, on the first of them.
void ApplyResult(ado::Recordset& rs, const rt::Variant& bookmarks) {
    if (filtercache::IsEmptyResultMarker(bookmarks)) {
        ShowNoRows(rs);
    } else {
        rs.put_Filter(bookmarks);
        rs.MoveFirst();
    }
}

// Applies a cached array; false when it can no longer be applied (a bookmark
// the recordset refuses, or rows that are all gone), so that the caller
// computes it again instead of showing every row. Setting the array replaces
// whatever filter the recordset had, so it is not reset to no filter first:
// that would cost a pass over the whole table.
bool ApplyCached(ado::Recordset& rs, const rt::Variant& bookmarks) {
    rt::ResumeNext guard;
    bool ok = false;
    guard([&] {
        ApplyResult(rs, bookmarks);
        ok = filtercache::IsEmptyResultMarker(bookmarks) || !(rs.get_BOF() && rs.get_EOF());
    });
    return ok && !guard.Failed();
}

std::string FilterText(const std::string& fieldName, const rt::Variant& value) {
    if (value.IsString()) return BracketedName(fieldName) + " = " + QuotedLiteral(value.Str());
    // Null and Empty add nothing, as VB's "&" does; the recordset refuses the text.
    std::string text = (value.IsNull() || value.IsEmpty()) ? std::string() : rt::CStr(value);
    return BracketedName(fieldName) + " = " + text;
}

[[maybe_unused]] const bool kRegistered = [] {
    RegisterMetadataRecordsetFilterService();
    return true;
}();

}  // namespace

// ---------------------------------------------------------------- caches

namespace filtercache {

std::string Key(const std::string& source, const std::string& fieldName, const std::string& valueText,
                const std::string& sort) {
    std::string key = FieldKey(source, fieldName);
    key += kSep;
    key += valueText;
    if (!sort.empty()) {
        key += kSep;
        key += rt::UCase(sort);
    }
    return key;
}

std::optional<std::string> ValueText(const rt::Variant& value) {
    if (value.IsNull()) return std::nullopt;
    if (value.IsEmpty()) return std::string();
    return rt::CStr(value);
}

std::optional<rt::Variant> Lookup(const std::string& key) {
    auto& cache = Caches().filter;
    auto it = cache.find(key);
    if (it == cache.end()) return std::nullopt;
    return it->second;
}

void Store(const std::string& key, const rt::Variant& bookmarks) { Caches().filter[key] = bookmarks; }

bool Contains(const std::string& key) { return Caches().filter.count(key) != 0; }

size_t Count() { return Caches().filter.size(); }

bool DistinctContains(const std::string& source, const std::string& fieldName) {
    return Caches().distinct.count(FieldKey(source, fieldName)) != 0;
}

bool FieldCached(const std::string& source, const std::string& fieldName) {
    return Caches().cachedFields.count(FieldKey(source, fieldName)) != 0;
}

rt::Variant EmptyResultMarker() { return rt::Variant::ArrayOf({rt::Variant(int16_t{-1})}); }

bool IsEmptyResultMarker(const rt::Variant& bookmarks) {
    const rt::SafeArray* a = bookmarks.IsArray() ? bookmarks.Array() : nullptr;
    if (!a || a->Count() != 1) return false;
    const rt::Variant& first = a->Data()[0];
    return first.Type() == rt::vbInteger && first.I2() == -1;
}

BookmarkCollector::BookmarkCollector() : array_(rt::Variant::MakeArray(rt::vbVariant, 0, 50)) {}

void BookmarkCollector::Add(const rt::Variant& bookmark) {
    if (count_ == INT16_MAX) rt::RaiseVbError(rt::vberr::Overflow);
    array_.ArrayMut()->Set(count_, bookmark);
    ++count_;
    if (count_ % 50 == 0) rt::ReDimPreserve(array_, 0, count_ + 50);
}

rt::Variant BookmarkCollector::Finish() {
    if (count_ == 0) return EmptyResultMarker();
    rt::ReDimPreserve(array_, 0, count_ - 1);
    return array_;
}

int32_t BookmarkCollector::Capacity() const { return static_cast<int32_t>(array_.Array()->Count()); }

}  // namespace filtercache

void ClearFilterServiceCaches() {
    auto& c = Caches();
    c.filter.clear();
    c.distinct.clear();
    c.cachedFields.clear();
}

// ---------------------------------------------------------------- members

void MetadataRecordsetFilterService::FilterRecordset(const std::shared_ptr<ado::Recordset>& oRecordset,
                                                     const std::shared_ptr<ado::Field>& oField,
                                                     const rt::Variant& vValue, const std::string& strSort) {
    if (!oRecordset || !oField) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    ado::Recordset& rs = *oRecordset;
    const std::string source = rs.get_Source();
    const std::string fieldName = oField->get_Name();

    if (source.empty()) {
        // Nothing to key a cache by: an ordinary criteria filter every time.
        if (!strSort.empty()) rs.put_Sort(strSort);
        rs.put_Filter(rt::Variant(FilterText(fieldName, vValue)));
        return;
    }

    // Null has rows nowhere and shares its key text with "": never cached.
    std::optional<std::string> valueText = filtercache::ValueText(vValue);
    std::string key;
    if (valueText) {
        key = filtercache::Key(source, fieldName, *valueText, strSort);
        if (auto cached = filtercache::Lookup(key)) {
            if (ApplyCached(rs, *cached)) {
                // The array keeps the rows, not their order: a sort asked for
                // is put back when this clone does not have it yet.
                if (strSort.empty() || rt::NamesEqual(rs.get_Sort(), strSort)) return;
                rt::ResumeNext guard;
                guard([&] {
                    rs.put_Sort(rt::UCase(strSort));
                    MoveFirstIfAny(rs);
                });
                if (!guard.Failed()) return;
            }
            Caches().filter.erase(key);
        }
    }

    filtercache::BookmarkCollector found;
    rs.put_Filter(rt::Variant(int32_t{ado::adFilterNone}));
    if (rs.get_RecordCount() > 0) {
        rs.MoveFirst();
        if (!strSort.empty()) {
            rs.put_Sort(rt::UCase(strSort));
            rs.MoveFirst();
        }
        ValueMatcher matcher(vValue);
        while (!rs.get_EOF()) {
            if (matcher.Matches(oField->get_Value())) found.Add(rs.get_Bookmark());
            rs.MoveNext();
        }
    }
    rt::Variant bookmarks = found.Finish();
    ApplyResult(rs, bookmarks);
    if (valueText) filtercache::Store(key, bookmarks);
}

void MetadataRecordsetFilterService::FilterDistinct(const std::shared_ptr<ado::Recordset>& oRecordset,
                                                    const std::shared_ptr<ado::Field>& oField) {
    if (!oRecordset || !oField) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    ado::Recordset& rs = *oRecordset;
    const std::string source = rs.get_Source();
    const std::string fieldName = oField->get_Name();
    const bool cacheable = !source.empty() && IsFilterNone(rs.get_Filter());
    const std::string key = FieldKey(source, fieldName);

    auto& distinct = Caches().distinct;
    if (cacheable) {
        auto it = distinct.find(key);
        if (it != distinct.end()) {
            if (ApplyCached(rs, it->second)) return;
            distinct.erase(key);
        }
    }

    rs.put_Filter(rt::Variant(int32_t{ado::adFilterNone}));
    rs.put_Sort(BracketedName(fieldName));
    // Without rows there is nothing to show and nothing worth keeping.
    if (rs.get_BOF() && rs.get_EOF()) return;
    rs.MoveFirst();

    filtercache::BookmarkCollector found;
    found.Add(rs.get_Bookmark());
    rt::Variant previous = oField->get_Value();
    rs.MoveNext();
    while (!rs.get_EOF()) {
        rt::Variant value = oField->get_Value();
        bool differs = previous.IsNull() != value.IsNull() ||
                       (!value.IsNull() && !rt::VariantEquals(previous, value));
        if (differs) {
            previous = value;
            found.Add(rs.get_Bookmark());
        }
        rs.MoveNext();
    }
    rt::Variant bookmarks = found.Finish();
    rs.put_Filter(bookmarks);
    rs.MoveFirst();
    if (cacheable && !rs.get_Source().empty()) distinct[key] = bookmarks;
}

void MetadataRecordsetFilterService::Find(const std::shared_ptr<ado::Recordset>& oRecordset,
                                          const std::shared_ptr<ado::Field>& oField, const rt::Variant& vValue,
                                          int16_t Skip, ado::BookmarkEnum Start) {
    if (!oRecordset || !oField) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    ado::Recordset& rs = *oRecordset;
    if (rs.get_BOF() && rs.get_EOF()) return;  // no rows: nothing to find
    if (Start == ado::adBookmarkFirst) rs.MoveFirst();
    else if (Start == ado::adBookmarkLast) rs.MoveLast();
    if (rs.get_EOF()) return;
    for (int16_t i = 0; i < Skip; ++i) {
        rs.MoveNext();
        if (rs.get_EOF()) return;
    }
    while (!rs.get_EOF()) {
        if (rt::VariantEquals(vValue, oField->get_Value())) return;
        rs.MoveNext();
    }
}

void MetadataRecordsetFilterService::Clear() {
    auto& c = Caches();
    c.filter.clear();
    c.cachedFields.clear();
}

void MetadataRecordsetFilterService::CacheRecordset(const std::shared_ptr<ado::Recordset>& oRecordset,
                                                    const std::shared_ptr<ado::Field>& oField) {
    if (!oRecordset || !oField) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    ado::Recordset& rs = *oRecordset;
    const std::string source = rs.get_Source();
    if (source.empty()) return;
    const std::string fieldName = oField->get_Name();
    auto& caches = Caches();
    if (!caches.cachedFields.insert(FieldKey(source, fieldName)).second) return;

    rs.put_Filter(rt::Variant(int32_t{ado::adFilterNone}));
    const std::string oldSort = rs.get_Sort();
    rs.put_Sort(BracketedName(fieldName));
    MoveFirstIfAny(rs);

    // Arrays made in this pass, so that a value met again further down (a sort
    // that does not tell "a" from "A") joins its own array.
    std::unordered_map<std::string, filtercache::BookmarkCollector> made;
    std::vector<std::string> order;
    while (!rs.get_EOF()) {
        rt::Variant run = oField->get_Value();
        std::optional<std::string> valueText = filtercache::ValueText(run);
        if (!valueText) {
            // Null never equals Null: every Null row is passed, none is cached.
            do rs.MoveNext();
            while (!rs.get_EOF() && oField->get_Value().IsNull());
            continue;
        }
        std::string key = filtercache::Key(source, fieldName, *valueText);
        if (caches.filter.count(key) != 0) {
            do rs.MoveNext();
            while (!rs.get_EOF() && rt::VariantEquals(oField->get_Value(), run));
            continue;
        }
        auto [it, added] = made.try_emplace(key);
        if (added) order.push_back(key);
        do {
            it->second.Add(rs.get_Bookmark());
            rs.MoveNext();
        } while (!rs.get_EOF() && rt::VariantEquals(oField->get_Value(), run));
    }

    rs.put_Sort(oldSort);
    // Restoring the sort may reposition the cursor; the walk ends at EOF.
    if (!rs.get_EOF() && !rs.get_BOF()) {
        rs.MoveLast();
        rs.MoveNext();
    }
    for (const std::string& key : order) caches.filter[key] = made[key].Finish();
}

// ---------------------------------------------------------------- late binding

namespace {

std::shared_ptr<ado::Recordset> RecordsetArg(const rt::Variant& v) {
    if (!v.IsObject()) rt::RaiseVbError(rt::vberr::TypeMismatch);
    return rt::QueryInterface<ado::Recordset>(v.Obj());
}

std::shared_ptr<ado::Field> FieldArg(const rt::Variant& v) {
    if (!v.IsObject()) rt::RaiseVbError(rt::vberr::TypeMismatch);
    return rt::QueryInterface<ado::Field>(v.Obj());
}

std::string OptionalText(const rt::Variant& v) { return v.IsMissing() ? std::string() : rt::CStr(v); }

using Svc = MetadataRecordsetFilterService;

const rt::DispatchTable<Svc>& Dispatch() {
    static const auto table =
        rt::DispatchTable<Svc>().ClassModuleOf(kProjectName)
            .Method("FilterDistinct", 1, 2, 2,
                    [](Svc& s, rt::Args& a) {
                        s.FilterDistinct(RecordsetArg(a[0]), FieldArg(a[1]));
                        return rt::Variant();
                    })
            .Method("FilterRecordset", 2, 3, 4,
                    [](Svc& s, rt::Args& a) {
                        s.FilterRecordset(RecordsetArg(a[0]), FieldArg(a[1]), a[2], OptionalText(a[3]));
                        return rt::Variant();
                    })
            .Method("Find", 3, 3, 5,
                    [](Svc& s, rt::Args& a) {
                        int16_t skip = a[3].IsMissing() ? int16_t{0} : rt::CInt(a[3]);
                        auto start = a[4].IsMissing() ? ado::adBookmarkCurrent
                                                      : static_cast<ado::BookmarkEnum>(rt::CLng(a[4]));
                        s.Find(RecordsetArg(a[0]), FieldArg(a[1]), a[2], skip, start);
                        return rt::Variant();
                    })
            .Method("Clear", 4,
                    [](Svc& s) {
                        s.Clear();
                        return rt::Variant();
                    })
            .Method("CacheRecordset", 5, 2, 2, [](Svc& s, rt::Args& a) {
                s.CacheRecordset(RecordsetArg(a[0]), FieldArg(a[1]));
                return rt::Variant();
            });
    return table;
}

}  // namespace

rt::Variant MetadataRecordsetFilterService::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    return Dispatch().Invoke(*this, name, kind, args);
}

rt::Variant MetadataRecordsetFilterService::InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) {
    return Dispatch().InvokeDispId(*this, dispId, kind, args);
}

void RegisterMetadataRecordsetFilterService() {
    rt::RegisterClass(kMetadataRecordsetFilterServiceProgId, "",
                      [] { return std::make_shared<MetadataRecordsetFilterService>(); });
}

}  // namespace pelmora
