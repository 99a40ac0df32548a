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

bool IsNumber(const rt::Variant& v) { return v.IsNumericType() || v.Type() == rt::vbDate; }
bool IsFloating(const rt::Variant& v) {
    return v.Type() == rt::vbSingle || v.Type() == rt::vbDouble || v.Type() == rt::vbDate;
}
// 0 and -0 are one key.
double DoubleKey(const rt::Variant& v) {
    const double d = rt::CDbl(v);
    return d == 0 ? 0.0 : d;
}
std::string ExactKey(const rt::Variant& v) {
    const rt::Decimal d = rt::CDec(v);
    return d.magnitude == 0 ? std::string("0") : d.ToString();
}

std::string TextOf(const rt::Variant& v) {
    try {
        return rt::CStr(v);
    } catch (...) {
        return "";
    }
}

}  // namespace

void DistinctItemColl::Clear() {
    items_.clear();
    texts_.clear();
    exact_.clear();
    floating_.clear();
    exactAsDouble_.clear();
    errors_.clear();
    hasEmpty_ = false;
}

void DistinctItemColl::Add(const rt::Variant& item) {
    // Comparing with the items present raises as VB's "=" does: only the
    // first item can be one that cannot be compared, since any later one
    // meets a present item.
    if (!items_.empty()) {
        RequireComparable(items_.front());
        RequireComparable(item);
    }
    if (Holds(item)) return;
    Index(item);
    items_.push_back(item);
}

bool DistinctItemColl::Holds(const rt::Variant& item) const {
    if (item.IsEmpty()) return hasEmpty_;
    if (item.IsString()) return texts_.count(item.Str()) != 0;
    if (item.Type() == rt::vbError) return errors_.count(item.ErrorCode()) != 0;
    if (!IsNumber(item)) return false;  // Null, and what cannot be compared
    const double key = DoubleKey(item);
    if (floating_.count(key)) return true;
    return IsFloating(item) ? exactAsDouble_.count(key) != 0 : exact_.count(ExactKey(item)) != 0;
}

void DistinctItemColl::Index(const rt::Variant& item) {
    if (item.IsEmpty()) {
        hasEmpty_ = true;
    } else if (item.IsString()) {
        texts_.insert(item.Str());
    } else if (item.Type() == rt::vbError) {
        errors_.insert(item.ErrorCode());
    } else if (IsNumber(item)) {  // never an array: its type carries the array bit
        if (IsFloating(item)) {
            floating_.insert(DoubleKey(item));
        } else {
            exactAsDouble_.insert(DoubleKey(item));
            exact_.insert(ExactKey(item));
        }
    }
}

void DistinctItemColl::DumpCollectionToLog(const rt::Variant& header) const {
    if (!header.IsMissing()) DebugTrace("DNC", "DumpCollectionToLog", TextOf(header));
    for (const rt::Variant& item : items_) DebugTrace("DNC", "DumpCollectionToLog", "    " + TextOf(item));
}

}  // namespace pelmora
