#pragma once
// Narrowing metadata recordsets to the rows of one value (or one row per
// distinct value) through cached arrays of bookmarks shared by every clone of
// a cached metadata table.
#include <cstdint>
#include <memory>
#include <string>

#include "ado/Enums.h"
#include "runtime/Variant.h"

namespace ado {
class Recordset;
class Field;
}  // namespace ado

namespace pelmora {

// The ProgID under which the filter service is creatable.
inline constexpr const char* kMetadataRecordsetFilterServiceProgId = "QzPelmora.MetadataRecordsetFilterService";

// None of the members returns a value: the result is the recordset's Filter,
// Sort and current row. The field is always one of the recordset's own fields.
class IMetadataRecordsetFilterService {
public:
    virtual ~IMetadataRecordsetFilterService() = default;
    // One row per distinct value of the field (Nulls count as one value).
    virtual void FilterDistinct(const std::shared_ptr<ado::Recordset>& oRecordset,
                                const std::shared_ptr<ado::Field>& oField) = 0;
    // Exactly the rows whose field holds vValue, sorted by strSort when given,
    // on the first of them (BOF and EOF both true when there is none).
    virtual void FilterRecordset(const std::shared_ptr<ado::Recordset>& oRecordset,
                                 const std::shared_ptr<ado::Field>& oField, const rt::Variant& vValue,
                                 const std::string& strSort = "") = 0;
    // Positions the recordset on the next row holding vValue (EOF when none).
    virtual void Find(const std::shared_ptr<ado::Recordset>& oRecordset, const std::shared_ptr<ado::Field>& oField,
                      const rt::Variant& vValue, int16_t Skip = 0,
                      ado::BookmarkEnum Start = ado::adBookmarkCurrent) = 0;
    // Forgets the per-value arrays (the distinct arrays stay).
    virtual void Clear() = 0;
    // Computes the arrays of every value of the field in one pass.
    virtual void CacheRecordset(const std::shared_ptr<ado::Recordset>& oRecordset,
                                const std::shared_ptr<ado::Field>& oField) = 0;
};

}  // namespace pelmora
