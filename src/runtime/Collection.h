#pragma once
// VB's Collection: an ordered list of variants, numbered from 1, with
// optional unique keys compared without regard to letter case.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace rt {

class Collection : public Object {
public:
    // Keeps walking the items that were in the collection when it started,
    // whatever happens to the collection meanwhile.
    class Enumerator {
    public:
        bool Next(Variant& item);
        void Reset() { pos_ = 0; }
        // Range-for over the snapshot.
        std::vector<Variant>::const_iterator begin() const { return items_->begin(); }
        std::vector<Variant>::const_iterator end() const { return items_->end(); }

    private:
        friend class Collection;
        explicit Enumerator(std::shared_ptr<const std::vector<Variant>> items) : items_(std::move(items)) {}
        std::shared_ptr<const std::vector<Variant>> items_;
        size_t pos_ = 0;
    };

    static std::shared_ptr<Collection> New() { return std::make_shared<Collection>(); }

    // Add(item, key, before, after): key a non-empty text (Missing or Empty
    // for none; another type raises 13, "" raises 5);
    // before/after an index or key of an existing item, not both (5).
    // A key already present raises 457; a bad position 9 (index) or 5 (key).
    void Add(const Variant& item, const Variant& key = Variant::Missing(),
             const Variant& before = Variant::Missing(), const Variant& after = Variant::Missing());
    // By 1-based index (9 when out of range) or by key (5 when unknown).
    void Remove(const Variant& index);
    Variant Item(const Variant& index) const;
    // As Item, but nullopt instead of raising for an unknown index or key.
    std::optional<Variant> TryItem(const Variant& index) const;
    // The item kept under a key, or nullptr: TryItem of a text, without
    // making a Variant of the key or copying the item.
    const Variant* FindKey(const std::string& key) const;
    int32_t Count() const { return static_cast<int32_t>(items_->size()); }
    Enumerator Enumerate() const;

    // Late binding: Add, Count, Item (the default member), Remove, _NewEnum.
    Variant Invoke(const std::string& name, InvokeKind kind, Args& args) override;
    Variant InvokeDispId(int32_t dispId, InvokeKind kind, Args& args) override;
    std::string TypeName() const override { return "Collection"; }

private:
    // Position (0-based) of an index or key; nullopt with the error number to raise.
    std::optional<size_t> Locate(const Variant& index, int32_t& error) const;
    std::vector<Variant>& MutableItems();

    // Items are shared with running enumerators and copied on the next change.
    std::shared_ptr<std::vector<Variant>> items_ = std::make_shared<std::vector<Variant>>();
    std::vector<std::string> keys_;  // folded key of each item ("" for none), parallel to items_
    // Looked up by a folded text held anywhere, so a lookup need not make one.
    struct KeyHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::unordered_map<std::string, Variant, KeyHash, std::equal_to<>> byKey_;  // folded key -> item
};

}  // namespace rt
