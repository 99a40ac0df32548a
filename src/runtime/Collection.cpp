#include "runtime/Collection.h"

#include <algorithm>

#include "runtime/Dispatch.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"
#include "runtime/VbText.h"

namespace rt {

namespace {

std::string FoldKey(const std::string& key) {
    bool ascii = std::all_of(key.begin(), key.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) return LCase(key);
    std::u16string u = ToUtf16(key);
    for (char16_t& c : u) c = FoldUnit(c);
    return ToUtf8(u);
}

// The folded form of a key for a lookup: a short ASCII text folds into the
// caller's buffer, anything else into spill.
constexpr size_t kFoldBuffer = 64;
std::string_view FoldedView(const std::string& key, char (&buffer)[kFoldBuffer], std::string& spill) {
    if (key.size() <= kFoldBuffer) {
        size_t i = 0;
        for (; i < key.size(); ++i) {
            const char c = key[i];
            if (static_cast<unsigned char>(c) >= 0x80) break;
            buffer[i] = FoldAscii(c);
        }
        if (i == key.size()) return {buffer, key.size()};
    }
    spill = FoldKey(key);
    return spill;
}

bool Given(const Variant& v) { return !v.IsMissing() && !v.IsEmpty(); }

// A key argument: a text; nullopt when none was given.
std::optional<std::string> KeyArgument(const Variant& key) {
    if (!Given(key)) return std::nullopt;
    Variant k = key.IsObject() ? DefaultValue(key) : key;
    if (k.IsNull()) RaiseVbError(vberr::InvalidUseOfNull);
    if (!k.IsString()) RaiseVbError(vberr::TypeMismatch);
    if (k.Str().empty()) RaiseVbError(vberr::InvalidProcedureCall);
    return k.Str();
}

}  // namespace

bool Collection::Enumerator::Next(Variant& item) {
    if (pos_ >= items_->size()) return false;
    item = (*items_)[pos_++];
    return true;
}

std::vector<Variant>& Collection::MutableItems() {
    if (items_.use_count() > 1) items_ = std::make_shared<std::vector<Variant>>(*items_);
    return *items_;
}

std::optional<size_t> Collection::Locate(const Variant& in, int32_t& error) const {
    if (in.IsMissing()) {
        error = vberr::ArgumentNotOptional;
        return std::nullopt;
    }
    Variant index = in.IsObject() ? DefaultValue(in) : in;
    if (index.IsNull()) {
        error = vberr::InvalidUseOfNull;
        return std::nullopt;
    }
    if (index.IsString()) {
        std::string k = FoldKey(index.Str());
        if (!k.empty() && byKey_.count(k)) {
            for (size_t i = 0; i < keys_.size(); ++i)
                if (keys_[i] == k) return i;
        }
        error = vberr::InvalidProcedureCall;
        return std::nullopt;
    }
    if (!index.IsNumericType() && !index.IsEmpty() && index.Type() != vbDate) {
        error = vberr::TypeMismatch;
        return std::nullopt;
    }
    int64_t i;
    try {
        i = CLng(index);
    } catch (const ComError&) {
        error = vberr::SubscriptOutOfRange;
        return std::nullopt;
    }
    if (i < 1 || i > static_cast<int64_t>(items_->size())) {
        error = vberr::SubscriptOutOfRange;
        return std::nullopt;
    }
    return static_cast<size_t>(i - 1);
}

void Collection::Add(const Variant& item, const Variant& key, const Variant& before, const Variant& after) {
    std::optional<std::string> k = KeyArgument(key);
    std::string folded = k ? FoldKey(*k) : std::string();
    if (k && byKey_.count(folded)) RaiseVbError(vberr::KeyAlreadyAssociated);
    bool hasBefore = Given(before), hasAfter = Given(after);
    if (hasBefore && hasAfter) RaiseVbError(vberr::InvalidProcedureCall);
    size_t at = items_->size();
    if (hasBefore || hasAfter) {
        int32_t error = 0;
        auto pos = Locate(hasBefore ? before : after, error);
        if (!pos) RaiseVbError(error);
        at = hasBefore ? *pos : *pos + 1;
    }
    auto& items = MutableItems();
    items.insert(items.begin() + static_cast<std::ptrdiff_t>(at), item);
    keys_.insert(keys_.begin() + static_cast<std::ptrdiff_t>(at), folded);
    if (k) byKey_.emplace(folded, item);
}

void Collection::Remove(const Variant& index) {
    int32_t error = 0;
    auto pos = Locate(index, error);
    if (!pos) RaiseVbError(error);
    auto& items = MutableItems();
    items.erase(items.begin() + static_cast<std::ptrdiff_t>(*pos));
    if (!keys_[*pos].empty()) byKey_.erase(keys_[*pos]);
    keys_.erase(keys_.begin() + static_cast<std::ptrdiff_t>(*pos));
}

Variant Collection::Item(const Variant& index) const {
    if (index.IsString()) {
        const Variant* item = FindKey(index.Str());
        if (!item) RaiseVbError(vberr::InvalidProcedureCall);
        return *item;
    }
    int32_t error = 0;
    auto pos = Locate(index, error);
    if (!pos) RaiseVbError(error);
    return (*items_)[*pos];
}

const Variant* Collection::FindKey(const std::string& key) const {
    char buffer[kFoldBuffer];
    std::string spill;
    auto it = byKey_.find(FoldedView(key, buffer, spill));
    return it == byKey_.end() ? nullptr : &it->second;
}

std::optional<Variant> Collection::TryItem(const Variant& index) const {
    if (index.IsString()) {
        const Variant* item = FindKey(index.Str());
        if (!item) return std::nullopt;
        return *item;
    }
    int32_t error = 0;
    auto pos = Locate(index, error);
    if (!pos) {
        if (error == vberr::SubscriptOutOfRange || error == vberr::InvalidProcedureCall) return std::nullopt;
        RaiseVbError(error);
    }
    return (*items_)[*pos];
}

Collection::Enumerator Collection::Enumerate() const { return Enumerator(items_); }

namespace {

// A collection's enumerator as an object, for late-bound For Each.
class CollectionEnum : public Object {
public:
    explicit CollectionEnum(Collection::Enumerator e) : e_(std::move(e)) {}
    Variant Invoke(const std::string& name, InvokeKind kind, Args& args) override {
        if (NamesEqual(name, "Next")) {
            Variant item;
            bool more = e_.Next(item);
            if (!args.empty()) args[0] = item;
            return Variant(more);
        }
        if (NamesEqual(name, "Reset")) {
            e_.Reset();
            return Variant();
        }
        return Object::Invoke(name, kind, args);
    }
    std::string TypeName() const override { return "Object"; }

private:
    Collection::Enumerator e_;
};

const DispatchTable<Collection>& CollectionDispatch() {
    auto opt = [](const Args& a, size_t i) { return i < a.size() ? a[i] : Variant::Missing(); };
    static const auto table =
        DispatchTable<Collection>()
            .Get("Item", 0, 1, 1, [](Collection& c, Args& a) { return c.Item(a[0]); })
            .Method("Add", 1, 1, 4,
                    [opt](Collection& c, Args& a) {
                        c.Add(a[0], opt(a, 1), opt(a, 2), opt(a, 3));
                        return Variant();
                    })
            .Get("Count", 2, [](Collection& c) { return Variant(c.Count()); })
            .Method("Remove", 3, 1, 1,
                    [](Collection& c, Args& a) {
                        c.Remove(a[0]);
                        return Variant();
                    })
            .Method("_NewEnum", -4, [](Collection& c) {
                return Variant(std::static_pointer_cast<Object>(std::make_shared<CollectionEnum>(c.Enumerate())));
            });
    return table;
}

}  // namespace

Variant Collection::Invoke(const std::string& name, InvokeKind kind, Args& args) {
    return CollectionDispatch().Invoke(*this, name, kind, args);
}

Variant Collection::InvokeDispId(int32_t dispId, InvokeKind kind, Args& args) {
    return CollectionDispatch().InvokeDispId(*this, dispId, kind, args);
}

}  // namespace rt
