#pragma once
// The keyed collection in which sets of features travel. Each member is the
// caller's own KeyObject, stored under its key text (BuildKey); a second
// member with the same four numbers is refused silently: Count, Item and the
// enumeration show only the first. Inside the system the collection still
// knows every distinct member offered, so that a save of two copies of one
// feature stores the edits of both.
#include <cstdint>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "interfaces/KeyObject.h"
#include "runtime/Collection.h"
#include "runtime/Object.h"

namespace pelmora {

class KeyObject;

// The key text of a feature or component row: FNO, FID, CNO and CID as
// decimal text joined by tabs ("106\t2001\t0\t0" for a whole feature). The
// one way the system names a feature in a lookup.
std::string BuildKey(const std::shared_ptr<IKeyObject>& KeyObject);
std::string BuildKey(int16_t FNO, int32_t FID, int16_t CNO, int16_t CID);

// The class's own members are its default face and IKeyObjects at once: a
// member handed out as IKeyObject is the KeyObject itself. QzKeyObjects is a
// facet, as its items answer QzKeyObject.
class KeyObjects : public rt::Object, public IKeyObjects {
public:
    static std::shared_ptr<KeyObjects> New() { return std::make_shared<KeyObjects>(); }

    void Add(const std::shared_ptr<IKeyObject>& KeyObject) override;
    void Remove(const std::shared_ptr<IKeyObject>& KeyObject) override;
    // Replaces the collection by a new empty one; enumerations already
    // taken keep the old members.
    void Clear() override;
    int32_t get_Count() override;
    std::shared_ptr<IKeyObject> get_Item(const rt::Variant& Index) override;
    std::vector<std::shared_ptr<IKeyObject>> get_NewEnum() override;

    // The member as the class itself (the default face's Item).
    std::shared_ptr<KeyObject> ItemObject(const rt::Variant& Index);
    // The member kept under a key text (BuildKey), or nullptr: an unknown key
    // raises nothing.
    std::shared_ptr<KeyObject> Find(const std::string& key) const;
    // The enumerator object of a late-bound For Each, over the members as
    // they are now.
    rt::Variant NewEnumObject();
    // Every distinct member offered to Add, in the order offered, each with
    // whether Add turned it away (its key held by another member): the
    // members, with those a present key turned away among them (Remove and
    // Clear drop these with their key). The enumeration when none was
    // turned away.
    struct OfferedMember {
        std::shared_ptr<KeyObject> member;
        bool turnedAway = false;
    };
    std::vector<OfferedMember> Offers();

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    rt::Variant InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) override;
    std::shared_ptr<rt::Object> QueryFacet(const std::type_info& iface) override;
    std::string TypeName() const override { return "KeyObjects"; }

private:
    std::shared_ptr<rt::Collection> items_ = rt::Collection::New();
    // Empty while no member was turned away (the members are then all that
    // was offered); else every distinct member offered, in order, a turned
    // away one with its key ("" for a member of the collection).
    struct Offered {
        std::shared_ptr<KeyObject> member;
        std::string turnedAwayKey;
    };
    std::vector<Offered> offered_;
};

// Registers "QzPelmora.KeyObject" and "QzPelmora.KeyObjects".
void RegisterKeyObjectClasses();

}  // namespace pelmora
