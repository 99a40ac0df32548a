#pragma once
// What the ADO objects' late-bound members share.
#include <cstddef>
#include <optional>
#include <string>

#include "runtime/Object.h"
#include "runtime/Variant.h"
#include "runtime/Vb.h"

namespace ado::latebound {

// Optional argument i of a late-bound call: Missing when the caller left it out.
inline const rt::Variant& Arg(const rt::Args& args, size_t i) {
    static const rt::Variant missing = rt::Variant::Missing();
    return i < args.size() ? args[i] : missing;
}

// The members a collection of Fields or Parameters answers alike: the default
// member Item (reading an item, or assigning its Value), Count, Delete and
// Refresh (nothing to refresh). nullopt for any other member.
template <class Collection>
std::optional<rt::Variant> InvokeCollectionMember(Collection& collection, const std::string& name,
                                                  rt::InvokeKind kind, rt::Args& args) {
    auto is = [&](const char* n) { return rt::NamesEqual(name, n); };
    if ((name.empty() || is("Item")) && !args.empty()) {
        auto item = collection.get_Item(args[0]);
        if (kind == rt::InvokeKind::PropertyLet && args.size() >= 2) {
            item->put_Value(args.back());
            return rt::Variant();
        }
        return rt::Variant(item);
    }
    if (is("Count")) return rt::Variant(collection.get_Count());
    if (is("Delete") && !args.empty()) {
        collection.Delete(args[0]);
        return rt::Variant();
    }
    if (is("Refresh")) return rt::Variant();
    return std::nullopt;
}

}  // namespace ado::latebound
