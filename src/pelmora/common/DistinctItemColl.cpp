#include "pelmora/common/DistinctItemColl.h"

#include "pelmora/common/modRelationshipService.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

// Values compare by their value: an array has none, and an object has no
// default value to compare by.
void RequireComparable(const rt::Variant& v) {
    if (v.IsArray()) rt::RaiseVbError(rt::vberr::TypeMismatch);
    if (v.IsObject()) rt::RaiseVbError(v.IsNothing() ? rt::vberr::ObjectVariableNotSet
                                                     : rt::vberr::ObjectDoesNotSupportMember);
}

std::string TextOf(const rt::Variant& v) {
    try {
        return rt::CStr(v);
    } catch (...) {
        return "";
    }
}

}  // namespace

void DistinctItemColl::Add(const rt::Variant& item) {
    for (const rt::Variant& present : items_) {
        RequireComparable(present);
        RequireComparable(item);
        if (rt::VariantEquals(present, item)) return;
    }
    items_.push_back(item);
}

void DistinctItemColl::DumpCollectionToLog(const rt::Variant& header) const {
    if (!header.IsMissing()) DebugTrace("DNC", "DumpCollectionToLog", TextOf(header));
    for (const rt::Variant& item : items_) DebugTrace("DNC", "DumpCollectionToLog", "    " + TextOf(item));
}

}  // namespace pelmora
