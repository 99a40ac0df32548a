#include "pelmora/relationships/OwnershipSupport.h"

#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/relationships/Ownership.h"
#include "runtime/SqlName.h"
#include "runtime/Vb.h"

namespace pelmora::ownership {

bool Holds(const rt::Variant& value, int32_t n) {
    return !value.IsNull() && !value.IsEmpty() && rt::VariantEquals(value, rt::Variant(n));
}

bool SameValue(const rt::Variant& a, const rt::Variant& b) {
    const auto c = rt::VbCompare(a, b);
    return c && *c == 0;
}

std::string TextOrEmpty(const rt::Variant& value) {
    return value.IsNull() || value.IsEmpty() ? std::string() : rt::CStr(value);
}

std::string PlainName(const rt::Variant& value, const char* column) {
    const std::string name = value.IsNull() || value.IsEmpty() ? std::string() : rt::CStr(value);
    if (!rt::IsSqlIdentifier(name))
        RaiseError(1, kOwnershipNameSource,
                   rt::Variant(std::string(column) + " \"" + name +
                               "\" is not a plain identifier and cannot stand in SQL text."));
    return name;
}

std::string OptionalPlainName(const rt::Variant& value, const char* column) {
    return value.IsNull() || value.IsEmpty() ? std::string() : PlainName(value, column);
}

}  // namespace pelmora::ownership
