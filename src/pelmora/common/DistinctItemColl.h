#pragma once
// A collection that adds an item only when no equal item is present
// (numbers by value across numeric types, texts exactly, Null never equal).
#include <cstdint>
#include <string>
#include <unordered_set>
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
    void Clear();
    // Appends the item unless an equal one is present. An item that cannot be
    // compared (an array, an object) raises and nothing is added; so does
    // every item after such a first one.
    void Add(const rt::Variant& item);
    void DumpCollectionToLog(const rt::Variant& header = rt::Variant::Missing()) const;

    std::string TypeName() const override { return "DistinctItemColl"; }

private:
    // Whether an item equal to this comparable one is present.
    bool Holds(const rt::Variant& item) const;
    void Index(const rt::Variant& item);

    std::vector<rt::Variant> items_;
    // The items by what equality compares, so that a search is a lookup:
    // texts to the letter, error codes, Single, Double and Date by their
    // Double, the other numbers both exactly (their Decimal text) and by
    // their Double (a Double on either side compares as Doubles).
    std::unordered_set<std::string> texts_, exact_;
    std::unordered_set<double> floating_, exactAsDouble_;
    std::unordered_set<int32_t> errors_;
    bool hasEmpty_ = false;
};

}  // namespace pelmora
