#pragma once
// The object model: reference-counted objects (shared_ptr), interfaces as
// abstract classes reached by a checked cast, late binding by name or dispatch
// id, creation by ProgID, connection points with weakly held sinks.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <typeindex>
#include <typeinfo>
#include <vector>

#include "runtime/Error.h"
// Complete Variant before the Args defaults below (clang needs it there).
#include "runtime/Variant.h"

namespace rt {

class Variant;

enum class InvokeKind { Method, PropertyGet, PropertyLet, PropertySet };

// Arguments of a late-bound call, in call order. A callee may write back into
// an argument the caller passed by reference; the caller reads it afterwards.
using Args = std::vector<Variant>;

class Object : public std::enable_shared_from_this<Object> {
public:
    virtual ~Object() = default;

    // Late binding by name (case-insensitive). The default knows no member
    // and raises 438.
    virtual Variant Invoke(const std::string& name, InvokeKind kind, Args& args);
    // Late binding by dispatch id; the default raises 438.
    virtual Variant InvokeDispId(int32_t dispId, InvokeKind kind, Args& args);

    // A facet: a separate object standing for an interface whose members must
    // behave differently from the class's own members of the same name.
    virtual std::shared_ptr<Object> QueryFacet(const std::type_info& /*iface*/) { return nullptr; }

    // The class name VB's TypeName prints for the object.
    virtual std::string TypeName() const { return "Object"; }
};

// Whether an object is of class C itself (not derived from it): lets hot
// paths reach this system's own classes without a cross-cast.
template <class C, class T>
bool IsExactly(const T& object) {
    return typeid(object) == typeid(C);
}

// Checked cast to an interface (QueryInterface). TryQueryInterface gives
// nullptr when the object offers neither the interface nor a facet for it;
// QueryInterface raises 13 (type mismatch) then.
template <class I, class T>
std::shared_ptr<I> TryQueryInterface(const std::shared_ptr<T>& p) {
    if (!p) return nullptr;
    if (auto direct = std::dynamic_pointer_cast<I>(p)) return direct;
    auto obj = std::dynamic_pointer_cast<Object>(p);
    if (!obj) return nullptr;
    if (auto facet = obj->QueryFacet(typeid(I))) return std::dynamic_pointer_cast<I>(facet);
    return nullptr;
}

template <class I, class T>
std::shared_ptr<I> QueryInterface(const std::shared_ptr<T>& p) {
    if (!p) RaiseVbError(vberr::ObjectVariableNotSet);
    auto r = TryQueryInterface<I>(p);
    if (!r) RaiseVbError(vberr::TypeMismatch);
    return r;
}

// The object behind an interface pointer.
template <class T>
std::shared_ptr<Object> ObjectPtrOf(const std::shared_ptr<T>& p);

// Asking for an interface by its identifier, as a client does with COM's
// QueryInterface(riid). An interface that may be asked for this way is
// registered once, at start, under its IID ("{...}" text; a later
// registration of the same IID replaces the earlier one).
// QueryInterfaceById answers the object (or its facet) implementing the
// interface; it raises 91 for Nothing, 5 for a text that is no IID, and 13
// (type mismatch, as a failed Set does) when the object lacks the interface
// or nobody registered the IID.
using InterfaceTest = std::function<std::shared_ptr<Object>(const std::shared_ptr<Object>&)>;
void RegisterInterfaceId(const std::string& iid, InterfaceTest test);
template <class I>
void RegisterInterfaceId(const std::string& iid) {
    RegisterInterfaceId(iid, [](const std::shared_ptr<Object>& obj) { return ObjectPtrOf(TryQueryInterface<I>(obj)); });
}
std::shared_ptr<Object> QueryInterfaceById(const std::shared_ptr<Object>& obj, const std::string& iid);

// Late-bound calls. Nothing raises 91.
Variant CallByName(const std::shared_ptr<Object>& obj, const std::string& name, InvokeKind kind, Args& args);
Variant CallByName(const std::shared_ptr<Object>& obj, const std::string& name, InvokeKind kind, Args&& args = {});
Variant CallByDispId(const std::shared_ptr<Object>& obj, int32_t dispId, InvokeKind kind, Args& args);
Variant CallByDispId(const std::shared_ptr<Object>& obj, int32_t dispId, InvokeKind kind, Args&& args = {});

// Creation by ProgID or class id ("{...}"). Unknown names raise 429.
using Factory = std::function<std::shared_ptr<Object>()>;
void RegisterClass(const std::string& progId, const std::string& clsid, Factory factory);
void UnregisterClass(const std::string& progIdOrClsid);
bool IsClassRegistered(const std::string& progIdOrClsid);
std::shared_ptr<Object> CreateObject(const std::string& progIdOrClsid);

// A connection point: sinks are held weakly, so a source never keeps its
// listeners alive. Fire calls every live sink in the order of advising; a
// sink that advises or unadvises during Fire takes effect from the next Fire.
template <class Sink>
class EventSource {
public:
    int32_t Advise(const std::shared_ptr<Sink>& sink) {
        sinks_.push_back({++lastCookie_, sink});
        return lastCookie_;
    }
    void Unadvise(int32_t cookie) {
        std::erase_if(sinks_, [&](const Entry& e) { return e.cookie == cookie; });
    }
    void UnadviseAll() { sinks_.clear(); }
    size_t Count() const {
        size_t n = 0;
        for (auto& e : sinks_) n += e.sink.expired() ? 0 : 1;
        return n;
    }
    template <class F>
    void Fire(F&& f) {
        auto snapshot = sinks_;
        for (auto& e : snapshot)
            if (auto s = e.sink.lock()) f(*s);
        std::erase_if(sinks_, [](const Entry& e) { return e.sink.expired(); });
    }

private:
    struct Entry {
        int32_t cookie;
        std::weak_ptr<Sink> sink;
    };
    std::vector<Entry> sinks_;
    int32_t lastCookie_ = 0;
};

// Per-apartment state: one per thread, each slot created on first use and kept
// until the apartment ends (or a test resets it).
class Apartment {
public:
    static Apartment& Current();
    // Drops every slot of the current thread's apartment.
    static void Reset();

    template <class T>
    T& Get() {
        // Slots are looked up on hot paths; each thread remembers the slot of
        // the apartment it last asked (apartments never reuse an id, and a
        // slot lives as long as its apartment).
        thread_local struct {
            uint64_t apartment = 0;
            T* slot = nullptr;
        } last;
        if (last.apartment == id_) return *last.slot;
        auto& slot = slots_[std::type_index(typeid(T))];
        if (!slot) slot = std::make_shared<T>();
        last = {id_, static_cast<T*>(slot.get())};
        return *last.slot;
    }
    template <class T>
    bool Has() const {
        return slots_.count(std::type_index(typeid(T))) != 0;
    }

    Apartment() : id_(NextId()) {}
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;

private:
    static uint64_t NextId();
    std::map<std::type_index, std::shared_ptr<void>> slots_;
    const uint64_t id_;
};

}  // namespace rt

template <class T>
std::shared_ptr<rt::Object> rt::ObjectPtrOf(const std::shared_ptr<T>& p) {
    return std::dynamic_pointer_cast<rt::Object>(p);
}
