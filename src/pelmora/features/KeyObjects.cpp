#include "pelmora/features/KeyObjects.h"

#include <algorithm>

#include "pelmora/common/TraceScope.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/features/KeyObject.h"
#include "runtime/Dispatch.h"
#include "runtime/Error.h"

namespace pelmora {

namespace {

constexpr const char* kTraceFile = "KeyObjects";

std::shared_ptr<KeyObject> MemberOf(const rt::Variant& item) {
    auto member = item.IsObject() ? std::dynamic_pointer_cast<KeyObject>(item.Obj()) : nullptr;
    // Only Add stores items, and it stores KeyObjects.
    if (!member) rt::RaiseVbError(rt::vberr::TypeMismatch);
    return member;
}

}  // namespace

std::string BuildKey(int16_t FNO, int32_t FID, int16_t CNO, int16_t CID) {
    return std::to_string(FNO) + '\t' + std::to_string(FID) + '\t' + std::to_string(CNO) + '\t' + std::to_string(CID);
}

std::string BuildKey(const std::shared_ptr<IKeyObject>& KeyObject) {
    TraceScope trace(kTraceFile, "BuildKey");
    if (!KeyObject) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    int16_t fno = KeyObject->get_FNO();
    int32_t fid = KeyObject->get_FID();
    int16_t cno = KeyObject->get_CNO();
    int16_t cid = KeyObject->get_CID();
    std::string key = BuildKey(fno, fid, cno, cid);
    trace.ReturnValue("BuildKey", rt::Variant(key));
    return key;
}

// ---- the collection ----

void KeyObjects::Add(const std::shared_ptr<IKeyObject>& KeyObject) {
    TraceScope trace(kTraceFile, "Add");
    // Refuse a foreign object before the collection is touched.
    auto member = rt::QueryInterface<pelmora::KeyObject>(KeyObject);
    std::string key = BuildKey(member);
    trace.Value("sKey", rt::Variant(key));
    // The member added first under a key stays; a duplicate is no error.
    if (const rt::Variant* kept = items_->FindKey(key)) {
        if (MemberOf(*kept) == member) return;
        // Another copy of the feature: not a member, but a save stores it too.
        if (offered_.empty())
            for (const rt::Variant& item : items_->Enumerate()) offered_.push_back({MemberOf(item), ""});
        for (const auto& o : offered_)
            if (o.member == member && o.turnedAwayKey == key) return;
        offered_.push_back({member, key});
        return;
    }
    items_->Add(rt::Variant(member), rt::Variant(key));
    if (!offered_.empty()) offered_.push_back({member, ""});
}

void KeyObjects::Remove(const std::shared_ptr<IKeyObject>& KeyObject) {
    auto member = rt::QueryInterface<pelmora::KeyObject>(KeyObject);
    const std::string key = BuildKey(member);
    const rt::Variant* item = items_->FindKey(key);
    std::shared_ptr<pelmora::KeyObject> kept = item ? MemberOf(*item) : nullptr;
    // Whatever is stored under the key goes, which need not be the argument.
    items_->Remove(rt::Variant(key));
    if (offered_.empty()) return;
    bool keptGone = false;
    std::erase_if(offered_, [&](const Offered& o) {
        if (o.turnedAwayKey.empty()) {
            if (keptGone || o.member != kept) return false;
            return keptGone = true;
        }
        return o.turnedAwayKey == key;
    });
    if (std::none_of(offered_.begin(), offered_.end(), [](const Offered& o) { return !o.turnedAwayKey.empty(); }))
        offered_.clear();
}

void KeyObjects::Clear() {
    items_ = rt::Collection::New();
    offered_.clear();
}

std::vector<KeyObjects::OfferedMember> KeyObjects::Offers() {
    std::vector<OfferedMember> offers;
    if (offered_.empty()) {
        for (const rt::Variant& item : items_->Enumerate()) offers.push_back({MemberOf(item), false});
        return offers;
    }
    offers.reserve(offered_.size());
    for (const auto& o : offered_) offers.push_back({o.member, !o.turnedAwayKey.empty()});
    return offers;
}

int32_t KeyObjects::get_Count() { return items_->Count(); }

std::shared_ptr<KeyObject> KeyObjects::ItemObject(const rt::Variant& Index) { return MemberOf(items_->Item(Index)); }

std::shared_ptr<IKeyObject> KeyObjects::get_Item(const rt::Variant& Index) { return ItemObject(Index); }

std::shared_ptr<KeyObject> KeyObjects::Find(const std::string& key) const {
    const rt::Variant* item = items_->FindKey(key);
    return item ? MemberOf(*item) : nullptr;
}

std::vector<std::shared_ptr<IKeyObject>> KeyObjects::get_NewEnum() {
    std::vector<std::shared_ptr<IKeyObject>> members;
    members.reserve(static_cast<size_t>(items_->Count()));
    for (const rt::Variant& item : items_->Enumerate()) members.push_back(MemberOf(item));
    return members;
}

rt::Variant KeyObjects::NewEnumObject() {
    rt::Args none;
    return items_->Invoke("_NewEnum", rt::InvokeKind::Method, none);
}

// ---- the reduced face ----

// QzKeyObjects: the collection's members, with arguments and items seen as
// QzKeyObject. Holds the collection strongly, as any interface pointer does.
class KeyObjectsQzFace : public rt::Object, public QzKeyObjects {
public:
    explicit KeyObjectsQzFace(std::shared_ptr<KeyObjects> owner) : owner_(std::move(owner)) {}

    void Add(const std::shared_ptr<QzKeyObject>& KeyObject) override {
        owner_->Add(rt::QueryInterface<IKeyObject>(KeyObject));
    }
    void Remove(const std::shared_ptr<QzKeyObject>& KeyObject) override {
        owner_->Remove(rt::QueryInterface<IKeyObject>(KeyObject));
    }
    void Clear() override { owner_->Clear(); }
    int32_t get_Count() override { return owner_->get_Count(); }
    std::shared_ptr<QzKeyObject> get_Item(const rt::Variant& Index) override {
        return rt::QueryInterface<QzKeyObject>(owner_->get_Item(Index));
    }
    std::vector<std::shared_ptr<QzKeyObject>> get_NewEnum() override {
        std::vector<std::shared_ptr<QzKeyObject>> members;
        for (auto& member : owner_->get_NewEnum()) members.push_back(rt::QueryInterface<QzKeyObject>(member));
        return members;
    }

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    rt::Variant InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) override;
    // Any other interface is the collection's own.
    std::shared_ptr<rt::Object> QueryFacet(const std::type_info& iface) override {
        if (iface == typeid(QzKeyObjects)) return nullptr;
        return owner_;
    }
    std::string TypeName() const override { return "KeyObjects"; }

    KeyObjects& Owner() { return *owner_; }
    rt::Variant NewEnumObject() { return owner_->NewEnumObject(); }

private:
    std::shared_ptr<KeyObjects> owner_;
};

std::shared_ptr<rt::Object> KeyObjects::QueryFacet(const std::type_info& iface) {
    if (iface != typeid(QzKeyObjects)) return nullptr;
    return std::make_shared<KeyObjectsQzFace>(std::static_pointer_cast<KeyObjects>(shared_from_this()));
}

// ---- late binding ----

namespace {

// An object argument as IKeyObject: Nothing raises 91, anything else that is
// not a key object 13.
std::shared_ptr<IKeyObject> KeyArgument(const rt::Variant& v) {
    if (!v.IsObject()) rt::RaiseVbError(rt::vberr::TypeMismatch);
    return rt::QueryInterface<IKeyObject>(v.Obj());
}

KeyObjects& OwnerOf(KeyObjects& c) { return c; }
KeyObjects& OwnerOf(KeyObjectsQzFace& c) { return c.Owner(); }

// Both faces answer the same names; Item differs in what it hands out.
template <class Face, class ItemFn>
rt::DispatchTable<Face> CollectionDispatch(ItemFn item) {
    return rt::DispatchTable<Face>().ClassModuleOf(kProjectName)
        .Get("Item", 0, 1, 1, [item](Face& c, rt::Args& a) { return item(c, a[0]); })
        .Get("Count", 1, [](Face& c) { return rt::Variant(c.get_Count()); })
        .Get("NewEnum", -4, [](Face& c) { return c.NewEnumObject(); })
        .Get("_NewEnum", -4, [](Face& c) { return c.NewEnumObject(); })
        .Method("Add", 2, 1, 1,
                [](Face& c, rt::Args& a) {
                    OwnerOf(c).Add(KeyArgument(a[0]));
                    return rt::Variant();
                })
        .Method("Clear", 3, [](Face& c) { c.Clear(); })
        .Method("Remove", 4, 1, 1, [](Face& c, rt::Args& a) {
            OwnerOf(c).Remove(KeyArgument(a[0]));
            return rt::Variant();
        });
}

const rt::DispatchTable<KeyObjects>& OwnDispatch() {
    static const auto table = CollectionDispatch<KeyObjects>(
        [](KeyObjects& c, const rt::Variant& index) { return rt::Variant(c.ItemObject(index)); });
    return table;
}

const rt::DispatchTable<KeyObjectsQzFace>& QzDispatch() {
    static const auto table = CollectionDispatch<KeyObjectsQzFace>([](KeyObjectsQzFace& c, const rt::Variant& index) {
        return rt::Variant(rt::ObjectPtrOf(c.get_Item(index)));
    });
    return table;
}

}  // namespace

rt::Variant KeyObjects::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    if (name.empty()) return OwnDispatch().InvokeDispId(*this, 0, kind, args);
    return OwnDispatch().Invoke(*this, name, kind, args);
}

rt::Variant KeyObjects::InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) {
    return OwnDispatch().InvokeDispId(*this, dispId, kind, args);
}

rt::Variant KeyObjectsQzFace::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    if (name.empty()) return QzDispatch().InvokeDispId(*this, 0, kind, args);
    return QzDispatch().Invoke(*this, name, kind, args);
}

rt::Variant KeyObjectsQzFace::InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) {
    return QzDispatch().InvokeDispId(*this, dispId, kind, args);
}

void RegisterKeyObjectClasses() {
    rt::RegisterClass(kKeyObjectProgId, "{7A3E5C21-4B8D-4F62-9E17-2D6B8C0F4A11}",
                      [] { return std::static_pointer_cast<rt::Object>(KeyObject::New()); });
    rt::RegisterClass(kKeyObjectsProgId, "{7A3E5C22-4B8D-4F62-9E17-2D6B8C0F4A12}",
                      [] { return std::static_pointer_cast<rt::Object>(KeyObjects::New()); });
}

}  // namespace pelmora
