#pragma once
// The small reads both connectivity helpers make on recordsets and values:
// whether a recordset has rows, whether a field's value is a value at all,
// and whether it holds a given number as VB's "=" would say (Null never
// does).
#include <cstdint>
#include <memory>

#include "ado/Recordset.h"
#include "runtime/Variant.h"
#include "runtime/Vb.h"

namespace pelmora::connectivity {

inline bool IsEmptySet(const std::shared_ptr<ado::Recordset>& rs) { return rs->get_BOF() && rs->get_EOF(); }

inline bool IsNullOrEmpty(const rt::Variant& v) { return v.IsNull() || v.IsEmpty(); }

inline bool Holds(const rt::Variant& v, int32_t number) {
    if (IsNullOrEmpty(v)) return false;
    auto order = rt::VbCompare(v, rt::Variant(number));
    return order && *order == 0;
}

// A node column's value as a node: Null and Empty are no node.
inline int32_t NodeValue(const rt::Variant& v) { return IsNullOrEmpty(v) ? 0 : rt::CLng(v); }

}  // namespace pelmora::connectivity
