#pragma once
// The filter service and the per-apartment caches of bookmark arrays behind it.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "interfaces/MetadataRecordsetFilterService.h"
#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace pelmora {

class MetadataRecordsetFilterService : public rt::Object, public IMetadataRecordsetFilterService {
public:
    void FilterDistinct(const std::shared_ptr<ado::Recordset>& oRecordset,
                        const std::shared_ptr<ado::Field>& oField) override;
    void FilterRecordset(const std::shared_ptr<ado::Recordset>& oRecordset, const std::shared_ptr<ado::Field>& oField,
                         const rt::Variant& vValue, const std::string& strSort = "") override;
    void Find(const std::shared_ptr<ado::Recordset>& oRecordset, const std::shared_ptr<ado::Field>& oField,
              const rt::Variant& vValue, int16_t Skip = 0,
              ado::BookmarkEnum Start = ado::adBookmarkCurrent) override;
    void Clear() override;
    void CacheRecordset(const std::shared_ptr<ado::Recordset>& oRecordset,
                        const std::shared_ptr<ado::Field>& oField) override;

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    rt::Variant InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "MetadataRecordsetFilterService"; }
};

// Registers the class under kMetadataRecordsetFilterServiceProgId (also done
// when the program starts; calling it again is harmless).
void RegisterMetadataRecordsetFilterService();

// ---- the caches, for the module functions of the metadata folder ----
namespace filtercache {

// The key of the rows of one value: the source and field compare without
// regard to case, the value text exactly, the sort in upper case.
std::string Key(const std::string& source, const std::string& fieldName, const std::string& valueText,
                const std::string& sort = "");
// The text a value contributes to a key (nullopt for Null, which has rows
// nowhere and is never cached).
std::optional<std::string> ValueText(const rt::Variant& value);

std::optional<rt::Variant> Lookup(const std::string& key);
void Store(const std::string& key, const rt::Variant& bookmarks);
bool Contains(const std::string& key);
size_t Count();
// Distinct arrays and cached-field marks, by source and field.
bool DistinctContains(const std::string& source, const std::string& fieldName);
bool FieldCached(const std::string& source, const std::string& fieldName);

// The array that stands for "no rows": one 16-bit integer -1.
rt::Variant EmptyResultMarker();
bool IsEmptyResultMarker(const rt::Variant& bookmarks);

// Collects bookmarks into a zero-based Variant array that grows in steps of
// 50 slots; more than 32,767 bookmarks raise the overflow error (6).
class BookmarkCollector {
public:
    BookmarkCollector();
    void Add(const rt::Variant& bookmark);
    int16_t Count() const { return count_; }
    // The array cut to the count, or the empty-result marker without bookmarks.
    rt::Variant Finish();
    // Slots currently allocated (for tests of the growth rule).
    int32_t Capacity() const;

private:
    rt::Variant array_;
    int16_t count_ = 0;
};

}  // namespace filtercache

// Empties every cache of the filter service in this apartment, the distinct
// arrays included. Called whenever the metadata tables are loaded afresh:
// the cached bookmarks belong to the tables they were computed on.
void ClearFilterServiceCaches();

}  // namespace pelmora
