#include <gtest/gtest.h>

#include <thread>

#include "runtime/Dispatch.h"
#include "runtime/Raises.h"
#include "runtime/Vb.h"

using namespace rt;

namespace {

class IShape {
public:
    virtual ~IShape() = default;
    virtual double Area() const = 0;
};
class ILabel {
public:
    virtual ~ILabel() = default;
    virtual std::string Text() const = 0;
};

// A label face whose Text differs from the class's own Text.
class LabelFacet : public Object, public ILabel {
public:
    std::string Text() const override { return "facet"; }
};

class Square : public Object, public IShape {
public:
    double side = 2;
    std::string name = "sq";
    std::shared_ptr<Object> owner;

    double Area() const override { return side * side; }
    std::string TypeName() const override { return "Square"; }
    std::shared_ptr<Object> QueryFacet(const std::type_info& iface) override {
        if (iface == typeid(ILabel)) return std::make_shared<LabelFacet>();
        return nullptr;
    }

    // Grow(by, [times]) doubles "by" in place so callers see it by reference.
    Variant Grow(Args& a) {
        int times = a[1].IsMissing() ? 1 : CInt(a[1]);
        for (int i = 0; i < times; ++i) side += CDbl(a[0]);
        a[0] = Variant(CDbl(a[0]) * 2);
        return Variant(side);
    }

    static const DispatchTable<Square>& Dispatch() {
        static const auto table = DispatchTable<Square>()
                                      .Get("Side", 1, [](Square& s) { return Variant(s.side); })
                                      .Let("Side", 1, [](Square& s, const Variant& v) { s.side = CDbl(v); })
                                      .Get("Name", 0, [](Square& s) { return Variant(s.name); })
                                      .Get("Owner", 2, [](Square& s) { return Variant(s.owner); })
                                      .Set("Owner", 2,
                                           [](Square& s, const Variant& v) {
                                               if (!v.IsObject()) RaiseVbError(vberr::ObjectRequired);
                                               s.owner = v.Obj();
                                           })
                                      .Method("Grow", 3, 1, 2, [](Square& s, Args& a) { return s.Grow(a); })
                                      .Method("Area", 4, [](Square& s) { return s.Area(); });
        return table;
    }
    Variant Invoke(const std::string& n, InvokeKind k, Args& a) override { return Dispatch().Invoke(*this, n, k, a); }
    Variant InvokeDispId(int32_t id, InvokeKind k, Args& a) override { return Dispatch().InvokeDispId(*this, id, k, a); }
};

struct Listener {
    std::vector<std::string> heard;
    void OnEvent(const std::string& what) { heard.push_back(what); }
};

struct Counter {
    int value = 0;
};

// A per-apartment object whose end reaches back into the apartment.
struct Reacher {
    ~Reacher() { Apartment::Current().Get<Counter>().value = 9; }
};

}  // namespace

TEST(CheckedCast, InterfacesFacetsAndFailures) {
    auto sq = std::make_shared<Square>();
    std::shared_ptr<Object> obj = sq;
    EXPECT_DOUBLE_EQ(QueryInterface<IShape>(obj)->Area(), 4.0);
    EXPECT_EQ(QueryInterface<ILabel>(obj)->Text(), "facet");
    auto plain = std::make_shared<Object>();
    EXPECT_EQ(TryQueryInterface<IShape>(plain), nullptr);
    EXPECT_EQ(ErrorOf([&] { QueryInterface<IShape>(plain); }), 13);
    EXPECT_EQ(ErrorOf([] { QueryInterface<IShape>(std::shared_ptr<Object>()); }), 91);
    // From an interface pointer back to the object and into a Variant.
    std::shared_ptr<IShape> shape = sq;
    EXPECT_EQ(ObjectPtrOf(shape), obj);
    Variant v(shape);
    EXPECT_EQ(v.Obj(), obj);
    EXPECT_EQ(TypeName(v), "Square");
}

TEST(CheckedCast, ByInterfaceIdentifier) {
    const std::string shape = "{5A3E0C11-7B2D-4E6F-9A81-0C2B3D4E5F60}", label = "{5A3E0C11-7B2D-4E6F-9A81-0C2B3D4E5F61}";
    RegisterInterfaceId<IShape>(shape);
    RegisterInterfaceId<ILabel>(label);
    auto sq = std::make_shared<Square>();
    std::shared_ptr<Object> obj = sq;
    // COM's text forms: braces optional, letters of either case.
    EXPECT_EQ(QueryInterfaceById(obj, "5a3e0c11-7b2d-4e6f-9a81-0c2b3d4e5f60"), obj);
    EXPECT_EQ(QueryInterface<ILabel>(QueryInterfaceById(obj, label))->Text(), "facet");
    EXPECT_EQ(ErrorOf([&] { QueryInterfaceById(std::make_shared<Object>(), shape); }), 13);
    EXPECT_EQ(ErrorOf([&] { QueryInterfaceById(obj, "{5A3E0C11-7B2D-4E6F-9A81-0C2B3D4E5F62}"); }), 13);  // unknown
    EXPECT_EQ(ErrorOf([&] { QueryInterfaceById(nullptr, shape); }), 91);
    EXPECT_EQ(ErrorOf([&] { QueryInterfaceById(obj, "IShape"); }), 5);
}

TEST(LateBinding, PropertiesMethodsAndDefaultMember) {
    auto sq = std::make_shared<Square>();
    ObjectPtr o = sq;
    EXPECT_DOUBLE_EQ(CallByName(o, "SIDE", InvokeKind::PropertyGet).R8(), 2.0);
    CallByName(o, "side", InvokeKind::PropertyLet, {Variant(int16_t{3})});
    EXPECT_DOUBLE_EQ(sq->side, 3.0);
    // A property read as a method and a method read as a property both work.
    EXPECT_DOUBLE_EQ(CallByName(o, "Side", InvokeKind::Method).R8(), 3.0);
    EXPECT_DOUBLE_EQ(CallByName(o, "Area", InvokeKind::PropertyGet).R8(), 9.0);
    auto other = std::make_shared<Square>();
    CallByName(o, "Owner", InvokeKind::PropertySet, {Variant(other)});
    EXPECT_EQ(sq->owner, other);
    EXPECT_EQ(CallByName(o, "Owner", InvokeKind::PropertyGet).Obj(), other);
    EXPECT_EQ(ErrorOf([&] { CallByName(o, "Owner", InvokeKind::PropertySet, {Variant(1.0)}); }), 424);
    // Objects convert through their default member.
    EXPECT_EQ(CStr(Variant(o)), "sq");
    EXPECT_EQ(VbCompare(Variant(o), Variant("sq")), 0);
}

TEST(LateBinding, ErrorsForMissingMembersAndWrongCounts) {
    ObjectPtr o = std::make_shared<Square>();
    EXPECT_EQ(ErrorOf([&] { CallByName(o, "Nope", InvokeKind::Method); }), 438);
    EXPECT_EQ(ErrorOf([&] { CallByName(o, "Name", InvokeKind::PropertyLet, {Variant("x")}); }), 438);
    EXPECT_EQ(ErrorOf([&] { CallByDispId(o, 77, InvokeKind::PropertyGet); }), 438);
    EXPECT_EQ(ErrorOf([&] { CallByName(o, "Grow", InvokeKind::Method); }), 450);
    EXPECT_EQ(ErrorOf([&] { CallByName(o, "Grow", InvokeKind::Method, {Variant(1.0), Variant(1.0), Variant(1.0)}); }),
              450);
    EXPECT_EQ(ErrorOf([&] { CallByName(o, "Side", InvokeKind::PropertyGet, {Variant(1.0)}); }), 450);
    EXPECT_EQ(ErrorOf([] { CallByName(nullptr, "Side", InvokeKind::PropertyGet); }), 91);
    EXPECT_EQ(ErrorOf([] { CallByName(std::make_shared<Object>(), "Side", InvokeKind::PropertyGet); }), 438);
}

TEST(LateBinding, ArgumentsByReferenceComeBack) {
    auto sq = std::make_shared<Square>();
    ObjectPtr o = sq;
    Args args{Variant(1.5)};  // "times" left out: the member sees Missing
    Variant r = CallByName(o, "Grow", InvokeKind::Method, args);
    EXPECT_DOUBLE_EQ(r.R8(), 3.5);
    ASSERT_EQ(args.size(), 1u);
    EXPECT_DOUBLE_EQ(args[0].R8(), 3.0);
    Args two{Variant(1.0), Variant(int16_t{2})};
    CallByDispId(o, 3, InvokeKind::Method, two);
    EXPECT_DOUBLE_EQ(sq->side, 5.5);
    EXPECT_DOUBLE_EQ(two[0].R8(), 2.0);
    EXPECT_EQ(Square::Dispatch().DispIdOf("grow"), 3);
    EXPECT_FALSE(Square::Dispatch().DispIdOf("shrink").has_value());
}

TEST(ClassRegistry, CreateByProgIdOrClassId) {
    RegisterClass("Test.Square", "{11111111-2222-3333-4444-555555555555}", [] { return std::make_shared<Square>(); });
    EXPECT_TRUE(IsClassRegistered("test.square"));
    auto a = CreateObject("TEST.SQUARE");
    auto b = CreateObject("{11111111-2222-3333-4444-555555555555}");
    EXPECT_EQ(TypeName(Variant(a)), "Square");
    EXPECT_NE(a, b) << "each call makes a new object";
    EXPECT_EQ(ErrorOf([] { CreateObject("Test.Circle"); }), 429);
    RegisterClass("Test.Null", "", [] { return std::shared_ptr<Object>(); });
    EXPECT_EQ(ErrorOf([] { CreateObject("Test.Null"); }), 429);
    UnregisterClass("Test.Square");
    UnregisterClass("Test.Null");
    EXPECT_EQ(ErrorOf([] { CreateObject("Test.Square"); }), 429);
    EXPECT_FALSE(IsClassRegistered("{11111111-2222-3333-4444-555555555555}"));
}

TEST(ClassRegistry, UnregisterIgnoresCase) {
    for (const char* name : {"TEST.CUBE", "{aaaaaaaa-2222-3333-4444-555555555555}"}) {
        RegisterClass("Test.Cube", "{AAAAAAAA-2222-3333-4444-555555555555}", [] { return std::make_shared<Square>(); });
        ASSERT_TRUE(IsClassRegistered("Test.Cube"));
        UnregisterClass(name);
        EXPECT_FALSE(IsClassRegistered("Test.Cube")) << name;
    }
}

TEST(Events, SinksAreHeldWeakly) {
    EventSource<Listener> source;
    auto first = std::make_shared<Listener>();
    auto second = std::make_shared<Listener>();
    source.Advise(first);
    int cookie = source.Advise(second);
    source.Fire([](Listener& l) { l.OnEvent("a"); });
    EXPECT_EQ(first->heard, (std::vector<std::string>{"a"}));
    EXPECT_EQ(second->heard, (std::vector<std::string>{"a"}));
    source.Unadvise(cookie);
    source.Fire([](Listener& l) { l.OnEvent("b"); });
    EXPECT_EQ(second->heard.size(), 1u);
    std::weak_ptr<Listener> gone = first;
    first.reset();  // the source does not keep it alive
    EXPECT_TRUE(gone.expired());
    EXPECT_EQ(source.Count(), 0u);
    source.Fire([](Listener& l) { l.OnEvent("c"); });  // a dead sink is skipped
}

TEST(Events, AdvisingDuringFireTakesEffectNextTime) {
    EventSource<Listener> source;
    auto first = std::make_shared<Listener>();
    auto late = std::make_shared<Listener>();
    source.Advise(first);
    source.Fire([&](Listener& l) {
        l.OnEvent("x");
        source.Advise(late);
    });
    EXPECT_TRUE(late->heard.empty());
    EXPECT_EQ(source.Count(), 2u);
}

TEST(ApartmentState, PerThreadAndResettable) {
    Apartment::Reset();
    Apartment::Current().Get<Counter>().value = 5;
    EXPECT_TRUE(Apartment::Current().Has<Counter>());
    int otherThread = -1;
    std::thread t([&] { otherThread = Apartment::Current().Get<Counter>().value; });
    t.join();
    EXPECT_EQ(otherThread, 0);
    EXPECT_EQ(Apartment::Current().Get<Counter>().value, 5);
    Apartment::Reset();
    EXPECT_FALSE(Apartment::Current().Has<Counter>());
    EXPECT_EQ(Apartment::Current().Get<Counter>().value, 0);
}

TEST(ApartmentState, SlotsMayReachTheApartmentWhileEnding) {
    Apartment::Reset();
    Apartment::Current().Get<Reacher>();
    Apartment::Reset();  // the Reacher ends against a fresh apartment
    EXPECT_EQ(Apartment::Current().Get<Counter>().value, 9);
    EXPECT_FALSE(Apartment::Current().Has<Reacher>());
    bool ran = false;
    std::thread t([&] {
        Apartment::Current().Get<Reacher>();
        ran = true;
    });  // and when its thread ends
    t.join();
    EXPECT_TRUE(ran);
    Apartment::Reset();
}

TEST(ErrorHandling, ResumeNextRunsEveryStep) {
    ResumeNext guard;
    int ran = 0;
    EXPECT_FALSE(guard([&] { RaiseVbError(vberr::DivisionByZero, "Calc"); }));
    EXPECT_TRUE(guard([&] { ++ran; }));
    EXPECT_EQ(ran, 1);
    EXPECT_TRUE(guard.Failed());
    EXPECT_EQ(guard.LastError().Number(), 11);
    EXPECT_EQ(guard.LastError().Source(), "Calc");
    EXPECT_EQ(guard.LastError().Description(), "Division by zero");
    EXPECT_FALSE(guard([] { throw std::bad_alloc(); }));
    EXPECT_EQ(guard.LastError().Number(), 7);
    EXPECT_FALSE(guard([] { throw std::runtime_error("disk gone"); }));
    EXPECT_EQ(guard.LastError().Number(), 5);
    EXPECT_EQ(guard.LastError().Description(), "disk gone");
    guard.Clear();
    EXPECT_FALSE(guard.Failed());
    EXPECT_EQ(guard.LastError().Number(), 0);
}

TEST(ErrorHandling, StandardDescriptions) {
    EXPECT_EQ(VbErrorDescription(9), "Subscript out of range");
    EXPECT_EQ(VbErrorDescription(438), "Object doesn't support this property or method");
    EXPECT_EQ(VbErrorDescription(457), "This key is already associated with an element of this collection");
    try {
        RaiseVbError(12345);
        FAIL();
    } catch (const ComError& e) {
        EXPECT_EQ(e.Description(), "Application-defined or object-defined error");
        EXPECT_NE(std::string(e.what()).find("12345"), std::string::npos);
    }
}
