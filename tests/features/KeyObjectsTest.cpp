// Feature keys and the keyed collection they travel in, through each of
// their faces and late bound.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "metadata/CommonFakes.h"
#include "pelmora/features/KeyObject.h"
#include "pelmora/features/KeyObjects.h"
#include "interfaces/Components.h"
#include "runtime/Collection.h"
#include "runtime/Object.h"
#include "runtime/Vb.h"
#include "support/CallersComponent.h"
#include "support/Raises.h"

using pelmora::BuildKey;
using pelmora::IKeyObject;
using pelmora::IKeyObjects;
using pelmora::KeyObject;
using pelmora::KeyObjects;
using pelmora::QzKeyObject;
using pelmora::QzKeyObjects;
using pelmora_test::ErrorOf;

namespace {

std::shared_ptr<KeyObject> Key(int16_t fno, int32_t fid, int16_t cno = 0, int16_t cid = 0) {
    auto k = KeyObject::New();
    k->put_FNO(fno);
    k->put_FID(fid);
    k->put_CNO(cno);
    k->put_CID(cid);
    return k;
}

class ForeignQzKey : public rt::Object, public QzKeyObject {
public:
    int16_t get_FNO() override { return 106; }
    void put_FNO(int16_t) override {}
    int32_t get_FID() override { return 2001; }
    void put_FID(int32_t) override {}
    int16_t get_CNO() override { return 0; }
    void put_CNO(int16_t) override {}
    int16_t get_CID() override { return 0; }
    void put_CID(int16_t) override {}
    std::shared_ptr<pelmora::QzComponents> get_Components() override { return nullptr; }
};

// A components collection that answers QzComponents through a facet, as the
// system's collections do.
class FakeQzComponents : public rt::Object, public pelmora::QzComponents {
public:
    explicit FakeQzComponents(std::shared_ptr<rt::Object> owner) : owner_(std::move(owner)) {}
    int32_t get_Count() override { return 7; }
    std::shared_ptr<pelmora::IDataContext> get_DataContext() override { return nullptr; }
    std::shared_ptr<pelmora::QzComponent> get_Item(const rt::Variant&) override { return nullptr; }
    std::vector<std::shared_ptr<pelmora::QzComponent>> get_NewEnum() override { return {}; }
    std::shared_ptr<pelmora::QzComponent> GetComponent(int16_t) override { return nullptr; }
    std::shared_ptr<rt::Object> QueryFacet(const std::type_info&) override { return owner_; }

private:
    std::shared_ptr<rt::Object> owner_;
};

class FakeComponents : public rt::Object, public pelmora::IComponents {
public:
    void AddComponentByCNO(int16_t, const rt::Variant&) override {}
    void AddComponentByRecordset(int16_t, const std::shared_ptr<ado::Recordset>&) override {}
    int32_t get_Count() override { return 7; }
    std::shared_ptr<pelmora::IDataContext> get_DataContext() override { return nullptr; }
    void putref_DataContext(const std::shared_ptr<pelmora::IDataContext>&) override {}
    std::shared_ptr<pelmora::IComponent> get_Item(const rt::Variant&) override { return nullptr; }
    void Refresh() override {}
    std::vector<std::shared_ptr<pelmora::IComponent>> get_NewEnum() override { return {}; }
    void Update() override {}
    std::shared_ptr<pelmora::IComponent> GetComponent(int16_t) override { return nullptr; }
    std::shared_ptr<rt::Object> QueryFacet(const std::type_info& iface) override {
        if (iface != typeid(pelmora::QzComponents)) return nullptr;
        return std::make_shared<FakeQzComponents>(shared_from_this());
    }
};

// The members of a collection, in order, as their key texts.
std::vector<std::string> Keys(IKeyObjects& keys) {
    std::vector<std::string> out;
    for (auto& k : keys.get_NewEnum()) out.push_back(BuildKey(k));
    return out;
}

}  // namespace

// ---- KeyObject ----

TEST(KeyObject, StartsAtZeroWithoutComponentsAndStoresWhatItIsGiven) {
    auto k = KeyObject::New();
    EXPECT_EQ(k->get_FNO(), 0);
    EXPECT_EQ(k->get_FID(), 0);
    EXPECT_EQ(k->get_CNO(), 0);
    EXPECT_EQ(k->get_CID(), 0);
    EXPECT_EQ(k->get_Components(), nullptr);

    k->put_FNO(INT16_MIN);
    k->put_FID(INT32_MAX);
    k->put_CNO(-3);
    k->put_CID(INT16_MAX);
    EXPECT_EQ(k->get_FNO(), INT16_MIN);
    EXPECT_EQ(k->get_FID(), INT32_MAX);
    EXPECT_EQ(k->get_CNO(), -3);
    EXPECT_EQ(k->get_CID(), INT16_MAX);

    auto components = std::make_shared<FakeComponents>();
    k->putref_Components(components);
    EXPECT_EQ(k->get_Components(), components);
    k->putref_Components(nullptr);
    EXPECT_EQ(k->get_Components(), nullptr);
}

TEST(KeyObject, QzFaceSharesTheFieldsAndAnswersQzComponents) {
    auto k = Key(106, 2001);
    auto qz = rt::QueryInterface<QzKeyObject>(k);
    ASSERT_NE(qz, nullptr);
    EXPECT_EQ(qz->get_FNO(), 106);
    EXPECT_EQ(qz->get_FID(), 2001);
    // Without components the face answers nothing rather than failing.
    EXPECT_EQ(qz->get_Components(), nullptr);

    qz->put_FID(-1);
    qz->put_CNO(11);
    qz->put_CID(2);
    qz->put_FNO(107);
    EXPECT_EQ(k->get_FID(), -1);
    EXPECT_EQ(k->get_CNO(), 11);
    EXPECT_EQ(k->get_CID(), 2);
    EXPECT_EQ(k->get_FNO(), 107);

    auto components = std::make_shared<FakeComponents>();
    k->putref_Components(components);
    auto qzComponents = qz->get_Components();
    ASSERT_NE(qzComponents, nullptr);
    EXPECT_EQ(qzComponents->get_Count(), 7);
    // The facet leads back to the collection stored, not to a copy.
    EXPECT_EQ(rt::QueryInterface<pelmora::IComponents>(qzComponents), components);

    // And the face leads back to the key object itself.
    EXPECT_EQ(rt::QueryInterface<IKeyObject>(qz), k);
    EXPECT_EQ(rt::QueryInterface<KeyObject>(qz), k);
}

TEST(KeyObject, QzFaceOfCollectionWithoutQzComponentsIsATypeMismatch) {
    // A collection of another library that offers only IComponents.
    class PlainComponents : public FakeComponents {
    public:
        std::shared_ptr<rt::Object> QueryFacet(const std::type_info&) override { return nullptr; }
    };
    auto k = Key(1, 1);
    k->putref_Components(std::make_shared<PlainComponents>());
    auto qz = rt::QueryInterface<QzKeyObject>(k);
    EXPECT_EQ(ErrorOf([&] { qz->get_Components(); }), rt::vberr::TypeMismatch);
}

TEST(KeyObject, LateBoundMembersOfEachFace) {
    pelmora::RegisterKeyObjectClasses();
    auto obj = rt::CreateObject(pelmora::kKeyObjectProgId);
    auto k = std::dynamic_pointer_cast<KeyObject>(obj);
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(obj->TypeName(), "KeyObject");

    rt::CallByName(obj, "FNO", rt::InvokeKind::PropertyLet, {rt::Variant("106")});
    rt::CallByName(obj, "fid", rt::InvokeKind::PropertyLet, {rt::Variant(2001.0)});
    EXPECT_EQ(k->get_FNO(), 106);
    EXPECT_EQ(k->get_FID(), 2001);
    EXPECT_EQ(rt::CLng(rt::CallByName(obj, "FID", rt::InvokeKind::PropertyGet)), 2001);
    // An Integer field takes no value beyond its range.
    EXPECT_EQ(ErrorOf([&] { rt::CallByName(obj, "CNO", rt::InvokeKind::PropertyLet, {rt::Variant(40000)}); }),
              rt::vberr::Overflow);
    EXPECT_EQ(k->get_CNO(), 0);

    EXPECT_TRUE(rt::CallByName(obj, "Components", rt::InvokeKind::PropertyGet).IsNothing());
    auto components = std::make_shared<FakeComponents>();
    rt::CallByName(obj, "Components", rt::InvokeKind::PropertySet, {rt::Variant(components)});
    EXPECT_EQ(k->get_Components(), components);
    // Only a components collection may be stored; Nothing clears.
    EXPECT_EQ(ErrorOf([&] {
                  rt::CallByName(obj, "Components", rt::InvokeKind::PropertySet, {rt::Variant(rt::Collection::New())});
              }),
              rt::vberr::TypeMismatch);
    EXPECT_EQ(k->get_Components(), components);
    rt::CallByName(obj, "Components", rt::InvokeKind::PropertySet, {rt::Variant::Nothing()});
    EXPECT_EQ(k->get_Components(), nullptr);

    // The reduced face has no setter for Components and hands out QzComponents.
    k->putref_Components(components);
    auto qz = rt::ObjectPtrOf(rt::QueryInterface<QzKeyObject>(k));
    EXPECT_EQ(ErrorOf([&] {
                  rt::CallByName(qz, "Components", rt::InvokeKind::PropertySet, {rt::Variant::Nothing()});
              }),
              rt::vberr::ObjectDoesNotSupportMember);
    auto answered = rt::CallByName(qz, "Components", rt::InvokeKind::PropertyGet);
    ASSERT_TRUE(answered.IsObject());
    EXPECT_NE(std::dynamic_pointer_cast<pelmora::QzComponents>(answered.Obj()), nullptr);
    EXPECT_EQ(rt::CInt(rt::CallByName(qz, "FNO", rt::InvokeKind::PropertyGet)), 106);
    rt::UnregisterClass(pelmora::kKeyObjectProgId);
}

// ---- the key text ----

TEST(KeyObjectsBuildKey, NumbersJoinedByTabsWithPlainSigns) {
    EXPECT_EQ(BuildKey(Key(106, 2001)), "106\t2001\t0\t0");
    EXPECT_EQ(BuildKey(Key(106, -1)), "106\t-1\t0\t0");
    EXPECT_EQ(BuildKey(Key(21, 3001, 22, 3)), "21\t3001\t22\t3");
    EXPECT_EQ(BuildKey(Key(INT16_MIN, INT32_MIN, INT16_MAX, -1)), "-32768\t-2147483648\t32767\t-1");
    // The numbers alone give the text a key object gives.
    EXPECT_EQ(BuildKey(106, -1, 0, 0), BuildKey(Key(106, -1)));
    EXPECT_EQ(ErrorOf([] { BuildKey(std::shared_ptr<IKeyObject>()); }), rt::vberr::ObjectVariableNotSet);
}

// ---- KeyObjects ----

TEST(KeyObjects, AddsInOrderAndFindsByPositionOrKey) {
    auto keys = KeyObjects::New();
    EXPECT_EQ(keys->get_Count(), 0);
    auto a = Key(106, 2001), b = Key(106, 2002), c = Key(107, -1);
    keys->Add(a);
    keys->Add(b);
    keys->Add(c);
    ASSERT_EQ(keys->get_Count(), 3);
    EXPECT_EQ(keys->get_Item(rt::Variant(1)), a);
    EXPECT_EQ(keys->get_Item(rt::Variant(int16_t{2})), b);
    EXPECT_EQ(keys->get_Item(rt::Variant(3.0)), c);
    // Members are the caller's own objects.
    EXPECT_EQ(keys->ItemObject(rt::Variant(1)), a);
    EXPECT_EQ(keys->get_Item(rt::Variant(std::string("107\t-1\t0\t0"))), c);
    EXPECT_EQ(keys->get_Item(rt::Variant(BuildKey(Key(106, 2002)))), b);

    EXPECT_EQ(ErrorOf([&] { keys->get_Item(rt::Variant(0)); }), rt::vberr::SubscriptOutOfRange);
    EXPECT_EQ(ErrorOf([&] { keys->get_Item(rt::Variant(4)); }), rt::vberr::SubscriptOutOfRange);
    EXPECT_EQ(ErrorOf([&] { keys->get_Item(rt::Variant(std::string("106\t2003\t0\t0"))); }),
              rt::vberr::InvalidProcedureCall);
    // A feature's key is not its component row's key.
    EXPECT_EQ(ErrorOf([&] { keys->get_Item(rt::Variant(BuildKey(Key(106, 2001, 11, 1)))); }),
              rt::vberr::InvalidProcedureCall);
}

TEST(KeyObjects, DuplicateKeyIsRefusedSilentlyAndTakesNoPosition) {
    auto keys = KeyObjects::New();
    auto first = Key(106, 2001), twin = Key(106, 2001), other = Key(106, 2002);
    keys->Add(first);
    keys->Add(twin);
    keys->Add(first);
    EXPECT_EQ(keys->get_Count(), 1);
    keys->Add(other);
    ASSERT_EQ(keys->get_Count(), 2);
    EXPECT_EQ(keys->get_Item(rt::Variant(2)), other);
    EXPECT_EQ(keys->get_Item(rt::Variant(BuildKey(twin))), first);
    // Inside the system the twin turned away is still offered, in its place.
    using Members = std::vector<std::pair<std::shared_ptr<KeyObject>, bool>>;  // and whether turned away
    auto offered = [&] {
        Members out;
        for (const auto& o : keys->Offers()) out.emplace_back(o.member, o.turnedAway);
        return out;
    };
    EXPECT_EQ(offered(), (Members{{first, false}, {twin, true}, {other, false}}));

    // Remove with the twin removes the member added first, and the twin with its key.
    keys->Remove(twin);
    EXPECT_EQ(keys->get_Count(), 1);
    EXPECT_EQ(keys->get_Item(rt::Variant(1)), other);
    EXPECT_EQ(offered(), (Members{{other, false}}));
    // Now the twin may come in.
    keys->Add(twin);
    EXPECT_EQ(keys->get_Item(rt::Variant(BuildKey(first))), twin);
    keys->Add(first);
    EXPECT_EQ(offered(), (Members{{other, false}, {twin, false}, {first, true}}));
    keys->Clear();
    EXPECT_EQ(offered(), Members{});
}

TEST(KeyObjects, RemoveOfAnAbsentKeyFailsAndChangesNothing) {
    auto keys = KeyObjects::New();
    auto a = Key(106, 2001), b = Key(106, 2002);
    keys->Add(a);
    keys->Add(b);
    EXPECT_EQ(ErrorOf([&] { keys->Remove(Key(106, 2003)); }), rt::vberr::InvalidProcedureCall);
    EXPECT_EQ(Keys(*keys), (std::vector<std::string>{"106\t2001\t0\t0", "106\t2002\t0\t0"}));

    keys->Remove(a);
    EXPECT_EQ(ErrorOf([&] { keys->Remove(a); }), rt::vberr::InvalidProcedureCall);
    EXPECT_EQ(keys->get_Count(), 1);
}

TEST(KeyObjects, MemberChangedAfterAddingStaysUnderItsOldKey) {
    auto keys = KeyObjects::New();
    auto moved = Key(106, 2001), neighbour = Key(106, 2002);
    keys->Add(moved);
    keys->Add(neighbour);
    moved->put_FID(2002);

    EXPECT_EQ(keys->get_Item(rt::Variant(std::string("106\t2001\t0\t0"))), moved);
    // Its new key names the neighbour, which is what goes.
    keys->Remove(moved);
    ASSERT_EQ(keys->get_Count(), 1);
    EXPECT_EQ(keys->get_Item(rt::Variant(1)), moved);
    // And now its new key names nothing at all.
    EXPECT_EQ(ErrorOf([&] { keys->Remove(moved); }), rt::vberr::InvalidProcedureCall);
    EXPECT_EQ(keys->get_Count(), 1);
}

TEST(KeyObjects, ForeignOrMissingKeyObjectsLeaveTheCollectionAlone) {
    auto keys = KeyObjects::New();
    auto ours = Key(106, 2001);
    keys->Add(ours);
    // Of another library: it has the numbers of a member, but is not ours.
    auto foreign = std::make_shared<pelmora_test::CallersKey>(Key(106, 2001));
    EXPECT_EQ(ErrorOf([&] { keys->Add(foreign); }), rt::vberr::TypeMismatch);
    // It removes nothing.
    EXPECT_EQ(ErrorOf([&] { keys->Remove(foreign); }), rt::vberr::TypeMismatch);
    EXPECT_EQ(ErrorOf([&] { keys->Add(nullptr); }), rt::vberr::ObjectVariableNotSet);
    EXPECT_EQ(ErrorOf([&] { keys->Remove(nullptr); }), rt::vberr::ObjectVariableNotSet);
    ASSERT_EQ(keys->get_Count(), 1);
    EXPECT_EQ(keys->get_Item(rt::Variant(1)), ours);

    auto qz = rt::QueryInterface<QzKeyObjects>(keys);
    EXPECT_EQ(ErrorOf([&] { qz->Add(std::make_shared<ForeignQzKey>()); }), rt::vberr::TypeMismatch);
    EXPECT_EQ(ErrorOf([&] { qz->Remove(std::make_shared<ForeignQzKey>()); }), rt::vberr::TypeMismatch);
    EXPECT_EQ(keys->get_Count(), 1);
}

TEST(KeyObjects, EnumerationsTakenBeforeClearKeepTheOldMembers) {
    auto keys = KeyObjects::New();
    auto a = Key(106, 2001), b = Key(106, 2002);
    keys->Add(a);
    keys->Add(b);
    auto before = keys->get_NewEnum();
    auto lateBound = rt::CallByName(keys, "_NewEnum", rt::InvokeKind::PropertyGet);
    ASSERT_TRUE(lateBound.IsObject());

    keys->Clear();
    EXPECT_EQ(keys->get_Count(), 0);
    EXPECT_EQ(ErrorOf([&] { keys->get_Item(rt::Variant(1)); }), rt::vberr::SubscriptOutOfRange);
    keys->Add(Key(1, 1));

    ASSERT_EQ(before.size(), 2u);
    EXPECT_EQ(before[0], a);
    EXPECT_EQ(before[1], b);
    // The late-bound enumerator walks the members of its own time too.
    std::vector<rt::ObjectPtr> walked;
    rt::Args next{rt::Variant()};
    while (rt::CBool(rt::CallByName(lateBound.Obj(), "Next", rt::InvokeKind::Method, next)))
        walked.push_back(next[0].Obj());
    ASSERT_EQ(walked.size(), 2u);
    EXPECT_EQ(walked[0], rt::ObjectPtrOf(a));
    EXPECT_EQ(walked[1], rt::ObjectPtrOf(b));
    // A removal after the enumeration was taken does not reach it either.
    auto now = keys->get_NewEnum();
    keys->Remove(Key(1, 1));
    EXPECT_EQ(now.size(), 1u);
    EXPECT_EQ(keys->get_Count(), 0);
}

TEST(KeyObjects, NegativeFeatureIdsAreKeysLikeAnyOther) {
    auto keys = KeyObjects::New();
    auto minusOne = Key(106, -1), minusTwo = Key(106, -2), plusOne = Key(106, 1);
    keys->Add(minusOne);
    keys->Add(minusTwo);
    keys->Add(plusOne);
    EXPECT_EQ(keys->get_Count(), 3);
    EXPECT_EQ(keys->get_Item(rt::Variant(std::string("106\t-1\t0\t0"))), minusOne);
    EXPECT_EQ(keys->get_Item(rt::Variant(std::string("106\t1\t0\t0"))), plusOne);
    keys->Remove(Key(106, -2));
    EXPECT_EQ(Keys(*keys), (std::vector<std::string>{"106\t-1\t0\t0", "106\t1\t0\t0"}));
}

TEST(KeyObjects, QzFaceWorksOnTheSameMembers) {
    auto keys = KeyObjects::New();
    auto qz = rt::QueryInterface<QzKeyObjects>(keys);
    ASSERT_NE(qz, nullptr);
    auto a = Key(106, 2001), b = Key(107, 3001);
    qz->Add(rt::QueryInterface<QzKeyObject>(a));
    keys->Add(b);
    EXPECT_EQ(qz->get_Count(), 2);

    auto item = qz->get_Item(rt::Variant(1));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->get_FID(), 2001);
    EXPECT_EQ(rt::QueryInterface<KeyObject>(item), a);
    auto members = qz->get_NewEnum();
    ASSERT_EQ(members.size(), 2u);
    EXPECT_EQ(rt::QueryInterface<IKeyObject>(members[1]), b);

    qz->Remove(rt::QueryInterface<QzKeyObject>(Key(106, 2001)));
    EXPECT_EQ(keys->get_Count(), 1);
    EXPECT_EQ(ErrorOf([&] { qz->get_Item(rt::Variant(2)); }), rt::vberr::SubscriptOutOfRange);
    qz->Clear();
    EXPECT_EQ(keys->get_Count(), 0);
    // The face leads back to the collection.
    EXPECT_EQ(rt::QueryInterface<IKeyObjects>(qz), keys);
}

TEST(KeyObjects, LateBoundMembersOfEachFace) {
    pelmora::RegisterKeyObjectClasses();
    auto obj = rt::CreateObject(pelmora::kKeyObjectsProgId);
    ASSERT_NE(std::dynamic_pointer_cast<KeyObjects>(obj), nullptr);
    auto a = Key(106, 2001);
    rt::CallByName(obj, "Add", rt::InvokeKind::Method, {rt::Variant(a)});
    rt::CallByName(obj, "add", rt::InvokeKind::Method, {rt::Variant(Key(106, 2001))});
    rt::CallByName(obj, "Add", rt::InvokeKind::Method, {rt::Variant(Key(21, 3001))});
    EXPECT_EQ(rt::CLng(rt::CallByName(obj, "Count", rt::InvokeKind::PropertyGet)), 2);
    // Item is the default member.
    EXPECT_EQ(rt::CallByName(obj, "", rt::InvokeKind::PropertyGet, {rt::Variant(1)}).Obj(), rt::ObjectPtrOf(a));
    EXPECT_EQ(rt::CallByName(obj, "Item", rt::InvokeKind::PropertyGet, {rt::Variant(BuildKey(a))}).Obj(),
              rt::ObjectPtrOf(a));

    EXPECT_EQ(ErrorOf([&] { rt::CallByName(obj, "Add", rt::InvokeKind::Method, {rt::Variant(5)}); }),
              rt::vberr::TypeMismatch);
    EXPECT_EQ(ErrorOf([&] {
                  rt::CallByName(obj, "Add", rt::InvokeKind::Method, {rt::Variant(rt::Collection::New())});
              }),
              rt::vberr::TypeMismatch);
    EXPECT_EQ(ErrorOf([&] { rt::CallByName(obj, "Add", rt::InvokeKind::Method, {rt::Variant::Nothing()}); }),
              rt::vberr::ObjectVariableNotSet);
    EXPECT_EQ(ErrorOf([&] {
                  rt::CallByName(obj, "Remove", rt::InvokeKind::Method, {rt::Variant(Key(1, 1))});
              }),
              rt::vberr::InvalidProcedureCall);
    EXPECT_EQ(rt::CLng(rt::CallByName(obj, "Count", rt::InvokeKind::PropertyGet)), 2);

    // The reduced face hands out the reduced face of each member.
    auto qz = rt::ObjectPtrOf(rt::QueryInterface<QzKeyObjects>(obj));
    auto item = rt::CallByName(qz, "Item", rt::InvokeKind::PropertyGet, {rt::Variant(2)});
    ASSERT_TRUE(item.IsObject());
    EXPECT_NE(std::dynamic_pointer_cast<QzKeyObject>(item.Obj()), nullptr);
    EXPECT_EQ(rt::CLng(rt::CallByName(item.Obj(), "FID", rt::InvokeKind::PropertyGet)), 3001);
    rt::CallByName(qz, "Remove", rt::InvokeKind::Method, {item});
    rt::CallByName(qz, "Clear", rt::InvokeKind::Method);
    EXPECT_EQ(rt::CLng(rt::CallByName(obj, "Count", rt::InvokeKind::PropertyGet)), 0);
    rt::UnregisterClass(pelmora::kKeyObjectsProgId);
}

// ---- tracing ----

class KeyObjectsTrace : public commontest::CommonTest {};

TEST_F(KeyObjectsTrace, AddReportsTheKeyAndBuildKeyItsResult) {
    auto keys = KeyObjects::New();
    trace->mask = 0x400002 | 0x400100 | 0x400004;
    keys->Add(Key(106, -1));
    std::vector<std::string> seen;
    for (auto& c : trace->calls) {
        EXPECT_EQ(c.subsystem, "Tessaly Components Subsystem");
        EXPECT_EQ(c.file, "KeyObjects");
        std::string line = c.kind + " " + c.procedure;
        if (c.kind == "Value") line += " " + c.label + " " + c.name + "=" + rt::CStr(c.value);
        seen.push_back(line);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"Enter Add", "Enter BuildKey",
                                              "Value BuildKey Return value BuildKey=106\t-1\t0\t0",
                                              "Exit BuildKey", "Value Add Intermediate value 1 sKey=106\t-1\t0\t0",
                                              "Exit Add"}));

    // Without the value bits only entry and exit are traced.
    trace->calls.clear();
    trace->mask = 0x400002;
    keys->Add(Key(106, -1));
    EXPECT_EQ(trace->calls.size(), 4u);
    EXPECT_EQ(keys->get_Count(), 1);
}
