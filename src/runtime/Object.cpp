#include "runtime/Object.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "runtime/Guid.h"
#include "runtime/Variant.h"
#include "runtime/Vb.h"

namespace rt {

Variant Object::Invoke(const std::string& /*name*/, InvokeKind /*kind*/, Args& /*args*/) {
    RaiseVbError(vberr::ObjectDoesNotSupportMember);
}

Variant Object::InvokeDispId(int32_t /*dispId*/, InvokeKind /*kind*/, Args& /*args*/) {
    RaiseVbError(vberr::ObjectDoesNotSupportMember);
}

Variant CallByName(const std::shared_ptr<Object>& obj, const std::string& name, InvokeKind kind, Args& args) {
    if (!obj) RaiseVbError(vberr::ObjectVariableNotSet);
    return obj->Invoke(name, kind, args);
}
Variant CallByName(const std::shared_ptr<Object>& obj, const std::string& name, InvokeKind kind, Args&& args) {
    return CallByName(obj, name, kind, args);
}
Variant CallByDispId(const std::shared_ptr<Object>& obj, int32_t dispId, InvokeKind kind, Args& args) {
    if (!obj) RaiseVbError(vberr::ObjectVariableNotSet);
    return obj->InvokeDispId(dispId, kind, args);
}
Variant CallByDispId(const std::shared_ptr<Object>& obj, int32_t dispId, InvokeKind kind, Args&& args) {
    return CallByDispId(obj, dispId, kind, args);
}

namespace {
struct ClassEntry {
    std::string progId;
    std::string clsid;
    Factory factory;
};
// Classes are registered at start and looked up from any thread.
std::mutex& ClassesLock() {
    static std::mutex m;
    return m;
}
std::vector<ClassEntry>& Classes() {
    static std::vector<ClassEntry> classes;
    return classes;
}
// Names hashed and compared as NamesEqual compares them, without making the
// folded copy a lookup would allocate for every interface fired.
struct FoldedHash {
    size_t operator()(const std::string& name) const {
        uint64_t h = 1469598103934665603ull;
        for (char c : name) h = (h ^ static_cast<unsigned char>(FoldAscii(c))) * 1099511628211ull;
        return static_cast<size_t>(h);
    }
};
struct FoldedEqual {
    bool operator()(const std::string& a, const std::string& b) const {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
        return true;
    }
};
// Each ProgID and class id, folded, to the first class that answers to it:
// objects are created by name on every firing of an interface.
std::unordered_map<std::string, size_t, FoldedHash, FoldedEqual>& ClassIndex() {
    static std::unordered_map<std::string, size_t, FoldedHash, FoldedEqual> index;
    return index;
}
void Reindex() {
    auto& index = ClassIndex();
    index.clear();
    const auto& classes = Classes();
    for (size_t i = 0; i < classes.size(); ++i) {
        index.emplace(classes[i].progId, i);
        if (!classes[i].clsid.empty()) index.emplace(classes[i].clsid, i);
    }
}
ClassEntry* FindClass(const std::string& name) {
    auto found = ClassIndex().find(name);
    return found == ClassIndex().end() ? nullptr : &Classes()[found->second];
}
}  // namespace

void RegisterClass(const std::string& progId, const std::string& clsid, Factory factory) {
    std::lock_guard lock(ClassesLock());
    if (auto* c = FindClass(progId)) {
        c->clsid = clsid;
        c->factory = std::move(factory);
    } else {
        Classes().push_back({progId, clsid, std::move(factory)});
    }
    Reindex();
}

void UnregisterClass(const std::string& progIdOrClsid) {
    std::lock_guard lock(ClassesLock());
    const FoldedEqual same;
    std::erase_if(Classes(), [&](const ClassEntry& c) {
        return same(c.progId, progIdOrClsid) || (!c.clsid.empty() && same(c.clsid, progIdOrClsid));
    });
    Reindex();
}

bool IsClassRegistered(const std::string& progIdOrClsid) {
    std::lock_guard lock(ClassesLock());
    return FindClass(progIdOrClsid) != nullptr;
}

std::shared_ptr<Object> CreateObject(const std::string& progIdOrClsid) {
    Factory f;
    {
        std::lock_guard lock(ClassesLock());
        ClassEntry* c = FindClass(progIdOrClsid);
        if (c) f = c->factory;
    }
    // Called unlocked: a factory may create or register further classes.
    if (!f) RaiseVbError(vberr::CannotCreateObject);
    auto obj = f();
    if (!obj) RaiseVbError(vberr::CannotCreateObject);
    return obj;
}

namespace {
struct InterfaceEntry {
    Guid iid;
    InterfaceTest test;
};
// Registered at start, asked from any thread.
std::mutex& InterfacesLock() {
    static std::mutex m;
    return m;
}
std::vector<InterfaceEntry>& Interfaces() {
    static std::vector<InterfaceEntry> interfaces;
    return interfaces;
}
}  // namespace

void RegisterInterfaceId(const std::string& iid, InterfaceTest test) {
    const Guid id = CLSIDFromString(iid);
    std::lock_guard lock(InterfacesLock());
    for (auto& entry : Interfaces())
        if (entry.iid == id) {
            entry.test = std::move(test);
            return;
        }
    Interfaces().push_back({id, std::move(test)});
}

std::shared_ptr<Object> QueryInterfaceById(const std::shared_ptr<Object>& obj, const std::string& iid) {
    if (!obj) RaiseVbError(vberr::ObjectVariableNotSet);
    const Guid id = CLSIDFromString(iid);
    InterfaceTest test;
    {
        std::lock_guard lock(InterfacesLock());
        for (const auto& entry : Interfaces())
            if (entry.iid == id) test = entry.test;
    }
    std::shared_ptr<Object> found = test ? test(obj) : nullptr;
    if (!found) RaiseVbError(vberr::TypeMismatch);
    return found;
}

namespace {
// Ends the apartment when its thread ends. Slots may release objects that
// reach back into the apartment, so the state is moved out before it dies and
// whatever such destructors create anew is ended too.
struct ApartmentHolder {
    std::unique_ptr<Apartment> apartment;
    ~ApartmentHolder() {
        for (int round = 0; round < 8 && apartment; ++round) {
            auto old = std::move(apartment);
            old.reset();
        }
    }
};
thread_local ApartmentHolder tApartment;
}  // namespace

uint64_t Apartment::NextId() {
    static std::atomic<uint64_t> next{1};
    return next++;
}

Apartment& Apartment::Current() {
    if (!tApartment.apartment) tApartment.apartment = std::make_unique<Apartment>();
    return *tApartment.apartment;
}

void Apartment::Reset() {
    auto old = std::move(tApartment.apartment);
    old.reset();
}

}  // namespace rt
