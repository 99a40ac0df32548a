#pragma once
// Whether a value read from a row or an argument holds anything at all.
#include "runtime/Variant.h"
#include "runtime/Vb.h"

namespace pelmora {

// Null or Empty.
inline bool IsNullOrEmpty(const rt::Variant& v) { return v.IsNull() || v.IsEmpty(); }

// Null, Empty, or a value whose text is "" (read through CStr, which raises
// for a value that has no text).
inline bool IsNullOrEmptyText(const rt::Variant& v) { return IsNullOrEmpty(v) || rt::CStr(v).empty(); }

}  // namespace pelmora
