#include <gtest/gtest.h>

#include "runtime/Collection.h"
#include "runtime/Raises.h"
#include "runtime/Vb.h"

using namespace rt;

namespace {
std::vector<std::string> Texts(const Collection& c) {
    std::vector<std::string> out;
    for (int32_t i = 1; i <= c.Count(); ++i) out.push_back(CStr(c.Item(Variant(i))));
    return out;
}
}  // namespace

TEST(CollectionItems, OneBasedWithCaseInsensitiveKeys) {
    auto c = Collection::New();
    EXPECT_EQ(c->Count(), 0);
    c->Add(Variant("one"), Variant("K1"));
    c->Add(Variant(2.0));
    c->Add(Variant("three"), Variant("Straße"));
    EXPECT_EQ(c->Count(), 3);
    EXPECT_EQ(c->Item(Variant(int16_t{1})).Str(), "one");
    EXPECT_EQ(c->Item(Variant(2.0)).R8(), 2.0);
    EXPECT_EQ(c->Item(Variant("k1")).Str(), "one");
    EXPECT_EQ(ErrorOf([&] { c->Item(Variant("STRASSE")); }), 5);  // letters fold one to one
    EXPECT_EQ(c->Item(Variant("STRAßE")).Str(), "three");
    EXPECT_EQ(TypeName(Variant(c)), "Collection");
}

TEST(CollectionItems, KeysOfAnyLengthAndAlphabetAreFoundInAnyCase) {
    // Short ASCII keys fold without a copy; longer or other keys fold apart.
    const std::string cases[] = {"a", "Feature_Name", std::string(64, 'K'), std::string(65, 'K') + "x",
                                 "Ärger_" + std::string(70, 'q')};
    auto c = Collection::New();
    for (const auto& key : cases) c->Add(Variant(key), Variant(key));
    for (const auto& key : cases) {
        SCOPED_TRACE(key);
        EXPECT_EQ(c->Item(Variant(UCase(key))).Str(), key);
        EXPECT_EQ(c->TryItem(Variant(LCase(key)))->Str(), key);
        EXPECT_FALSE(c->TryItem(Variant(key + "_")).has_value());
        // Found without a Variant of the key: the item kept, not a copy.
        const Variant* kept = c->FindKey(UCase(key));
        ASSERT_NE(kept, nullptr);
        EXPECT_EQ(kept->Str(), key);
        EXPECT_EQ(c->FindKey(LCase(key)), kept);
        EXPECT_EQ(c->FindKey(key + "_"), nullptr);
    }
    c->Remove(Variant(cases[0]));
    EXPECT_EQ(c->FindKey(cases[0]), nullptr);
}

TEST(CollectionItems, MissingOrDuplicateRaiseVbErrors) {
    auto c = Collection::New();
    c->Add(Variant("a"), Variant("key"));
    EXPECT_EQ(ErrorOf([&] { c->Item(Variant(int32_t{0})); }), 9);
    EXPECT_EQ(ErrorOf([&] { c->Item(Variant(int32_t{2})); }), 9);
    EXPECT_EQ(ErrorOf([&] { c->Item(Variant("nokey")); }), 5);
    EXPECT_EQ(ErrorOf([&] { c->Item(Variant::Null()); }), 94);
    EXPECT_EQ(ErrorOf([&] { c->Add(Variant("b"), Variant("KEY")); }), 457);
    EXPECT_EQ(c->Count(), 1) << "a refused Add adds nothing";
    EXPECT_EQ(ErrorOf([&] { c->Add(Variant("b"), Variant(int32_t{1})); }), 13);
    EXPECT_EQ(ErrorOf([&] { c->Add(Variant("b"), Variant("")); }), 5);
    EXPECT_EQ(ErrorOf([&] { c->Remove(Variant(int32_t{5})); }), 9);
    EXPECT_EQ(ErrorOf([&] { c->Remove(Variant("other")); }), 5);
    EXPECT_EQ(ErrorOf([&] { c->Add(Variant("b"), Variant(), Variant(int32_t{1}), Variant(int32_t{1})); }), 5);
    EXPECT_EQ(ErrorOf([&] { c->Add(Variant("b"), Variant(), Variant(int32_t{3})); }), 9);
    EXPECT_EQ(ErrorOf([&] { c->Add(Variant("b"), Variant(), Variant("nokey")); }), 5);
    EXPECT_EQ(c->Count(), 1);
    EXPECT_FALSE(c->TryItem(Variant("nokey")).has_value());
    EXPECT_FALSE(c->TryItem(Variant(int32_t{7})).has_value());
    EXPECT_EQ(c->TryItem(Variant("Key"))->Str(), "a");
}

TEST(CollectionItems, BeforeAfterAndRemove) {
    auto c = Collection::New();
    c->Add(Variant("b"), Variant("kb"));
    c->Add(Variant("d"));
    c->Add(Variant("a"), Variant("ka"), Variant(int32_t{1}));
    c->Add(Variant("c"), Variant(), Variant(), Variant("kb"));
    c->Add(Variant("e"), Variant(), Variant::Missing(), Variant(int32_t{4}));
    EXPECT_EQ(Texts(*c), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
    c->Remove(Variant("KB"));
    EXPECT_EQ(Texts(*c), (std::vector<std::string>{"a", "c", "d", "e"}));
    EXPECT_EQ(ErrorOf([&] { c->Item(Variant("kb")); }), 5);
    c->Add(Variant("b2"), Variant("kb"));  // the key is free again
    c->Remove(Variant(int32_t{1}));
    EXPECT_EQ(Texts(*c), (std::vector<std::string>{"c", "d", "e", "b2"}));
    EXPECT_EQ(ErrorOf([&] { c->Item(Variant("ka")); }), 5);  // removed with its item
}

TEST(CollectionItems, EnumeratorRunsOverTheItemsItStartedWith) {
    auto c = Collection::New();
    for (int32_t i = 1; i <= 4; ++i) c->Add(Variant(i), Variant("k" + std::to_string(i)));
    std::vector<int32_t> seen;
    auto e = c->Enumerate();
    Variant item;
    while (e.Next(item)) {
        seen.push_back(item.I4());
        if (item.I4() == 1) {
            c->Remove(Variant("k2"));
            c->Add(Variant(int32_t{99}));
        }
    }
    EXPECT_EQ(seen, (std::vector<int32_t>{1, 2, 3, 4}));
    EXPECT_EQ(c->Count(), 4);
    std::vector<int32_t> after;
    for (const Variant& v : c->Enumerate()) after.push_back(v.I4());
    EXPECT_EQ(after, (std::vector<int32_t>{1, 3, 4, 99}));
    e.Reset();
    ASSERT_TRUE(e.Next(item));
    EXPECT_EQ(item.I4(), 1);
}

TEST(CollectionItems, LateBound) {
    auto c = Collection::New();
    ObjectPtr o = c;
    CallByName(o, "add", InvokeKind::Method, {Variant("x"), Variant("kx")});
    CallByName(o, "Add", InvokeKind::Method, {Variant("y")});
    EXPECT_EQ(CallByName(o, "Count", InvokeKind::PropertyGet).I4(), 2);
    EXPECT_EQ(CallByName(o, "Item", InvokeKind::Method, {Variant("KX")}).Str(), "x");
    EXPECT_EQ(CallByDispId(o, 0, InvokeKind::PropertyGet, {Variant(int32_t{2})}).Str(), "y");  // default member
    // The default member needs its index.
    EXPECT_EQ(ErrorOf([&] { CStr(Variant(o)); }), 450);
    EXPECT_EQ(ErrorOf([&] { CallByName(o, "Clear", InvokeKind::Method); }), 438);
}
