#pragma once
// A collection that adds an item only when no equal item is present
// (numbers by value across numeric types, texts exactly, Null never equal).
#include <cstdint>
#include <vector>

#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace pelmora {

class DistinctItemColl : public rt::Object {
public:
    int32_t get_Count() const { return static_cast<int32_t>(items_.size()); }
    // The items in the order of adding; the copy keeps running over the items
    // it started with.
    std::vector<rt::Variant> get_NewEnum() const { return items_; }
    void Clear() { items_.clear(); }
    // Appends the item unless an equal one is present. An item that cannot be
    // compared (an array, an object) raises and nothing is added.
    void Add(const rt::Variant& item);
    void DumpCollectionToLog(const rt::Variant& header = rt::Variant::Missing()) const;

    std::string TypeName() const override { return "DistinctItemColl"; }

private:
    std::vector<rt::Variant> items_;
};

}  // namespace pelmora
