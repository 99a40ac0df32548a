#pragma once
// The small reads both connectivity helpers make on recordsets and values:
// whether a recordset has rows, and whether a field's value holds a given
// number as VB's "=" would say (Null and Empty never do).
#include <cstdint>
#include <memory>

#include "ado/Recordset.h"
#include "pelmora/common/NullOrEmpty.h"
#include "runtime/Variant.h"
#include "runtime/Vb.h"

namespace pelmora::connectivity {

inline bool IsEmptySet(const std::shared_ptr<ado::Recordset>& rs) { return rs->get_BOF() && rs->get_EOF(); }

inline bool Holds(const rt::Variant& v, int32_t number) {
    if (IsNullOrEmpty(v)) return false;
    auto order = rt::VbCompare(v, rt::Variant(number));
    return order && *order == 0;
}

// A node column's value as a node: Null and Empty are no node.
inline int32_t NodeValue(const rt::Variant& v) { return IsNullOrEmpty(v) ? 0 : rt::CLng(v); }

}  // namespace pelmora::connectivity
