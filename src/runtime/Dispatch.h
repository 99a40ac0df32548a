#pragma once
// A table of late-bound members for one class, so that a class implements
// Object::Invoke and Object::InvokeDispId in two lines:
//
//   static const rt::DispatchTable<Foo>& Dispatch() {
//       static const auto table = rt::DispatchTable<Foo>()
//           .Get("Name", 1, [](Foo& f) { return rt::Variant(f.get_Name()); })
//           .Let("Name", 1, [](Foo& f, const rt::Variant& v) { f.put_Name(rt::CStr(v)); })
//           .Method("Move", 2, 1, 2, [](Foo& f, rt::Args& a) { ...; return rt::Variant(); });
//       return table;
//   }
//   rt::Variant Invoke(const std::string& n, rt::InvokeKind k, rt::Args& a) override {
//       return Dispatch().Invoke(*this, n, k, a);
//   }
//
// Names match without regard to case. A member that is not there raises 438;
// a call with fewer arguments than required or more than allowed raises 450.
// Optional arguments the caller left out reach the member as Missing. A
// member may write into its Args: the caller's arguments are updated
// afterwards, which is how arguments passed by reference come back.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "runtime/Error.h"
#include "runtime/Object.h"
#include "runtime/Variant.h"
#include "runtime/Vb.h"

namespace rt {

template <class T>
class DispatchTable {
public:
    using Fn = std::function<Variant(T&, Args&)>;

    // A method taking minArgs..maxArgs arguments.
    DispatchTable& Method(const std::string& name, int32_t dispId, int minArgs, int maxArgs, Fn fn) {
        return Add(name, dispId, InvokeKind::Method, minArgs, maxArgs, std::move(fn));
    }
    template <class F>
    DispatchTable& Method(const std::string& name, int32_t dispId, F&& f) {
        return Method(name, dispId, 0, 0, Wrap0(std::forward<F>(f)));
    }
    // A property get without index arguments: f(T&) -> Variant.
    template <class F>
    DispatchTable& Get(const std::string& name, int32_t dispId, F&& f) {
        return Add(name, dispId, InvokeKind::PropertyGet, 0, 0, Wrap0(std::forward<F>(f)));
    }
    // A property get with index arguments: f(T&, Args&) -> Variant.
    DispatchTable& Get(const std::string& name, int32_t dispId, int minArgs, int maxArgs, Fn fn) {
        return Add(name, dispId, InvokeKind::PropertyGet, minArgs, maxArgs, std::move(fn));
    }
    // Property let / set without index arguments: f(T&, const Variant& value).
    template <class F>
    DispatchTable& Let(const std::string& name, int32_t dispId, F&& f) {
        return Add(name, dispId, InvokeKind::PropertyLet, 1, 1, WrapPut(std::forward<F>(f)));
    }
    template <class F>
    DispatchTable& Set(const std::string& name, int32_t dispId, F&& f) {
        return Add(name, dispId, InvokeKind::PropertySet, 1, 1, WrapPut(std::forward<F>(f)));
    }
    // Let / set with index arguments; the value comes last in Args.
    DispatchTable& Let(const std::string& name, int32_t dispId, int minArgs, int maxArgs, Fn fn) {
        return Add(name, dispId, InvokeKind::PropertyLet, minArgs, maxArgs, std::move(fn));
    }
    DispatchTable& Set(const std::string& name, int32_t dispId, int minArgs, int maxArgs, Fn fn) {
        return Add(name, dispId, InvokeKind::PropertySet, minArgs, maxArgs, std::move(fn));
    }

    // The members belong to a class module of that project: a run-time error
    // that leaves one without a source takes "<project>.<TypeName>", the
    // source VB gives it (errors of the dispatch itself, 438 and 450, stay
    // the caller's).
    DispatchTable& ClassModuleOf(std::string project) {
        project_ = std::move(project);
        return *this;
    }

    // The dispatch id of a name (GetIDsOfNames); nullopt when unknown.
    std::optional<int32_t> DispIdOf(const std::string& name) const {
        auto it = names_.find(Key(name));
        if (it == names_.end()) return std::nullopt;
        return it->second;
    }

    Variant Invoke(T& self, const std::string& name, InvokeKind kind, Args& args) const {
        auto id = DispIdOf(name);
        if (!id) RaiseVbError(vberr::ObjectDoesNotSupportMember);
        return InvokeDispId(self, *id, kind, args);
    }

    Variant InvokeDispId(T& self, int32_t dispId, InvokeKind kind, Args& args) const {
        const Entry* e = Find(dispId, kind);
        // A late-bound call "obj.Member" may reach a property get as a method
        // and a method as a property get, as VB sends both flags.
        if (!e && kind == InvokeKind::Method) e = Find(dispId, InvokeKind::PropertyGet);
        if (!e && kind == InvokeKind::PropertyGet) e = Find(dispId, InvokeKind::Method);
        if (!e) RaiseVbError(vberr::ObjectDoesNotSupportMember);
        int n = static_cast<int>(args.size());
        if (n < e->minArgs || n > e->maxArgs) RaiseVbError(vberr::WrongNumberOfArguments);
        bool put = e->kind == InvokeKind::PropertyLet || e->kind == InvokeKind::PropertySet;
        if (n == e->maxArgs) return Call(*e, self, args);
        // Leave-outs reach the member as Missing; the value of a put stays last.
        Args work;
        work.reserve(static_cast<size_t>(e->maxArgs));
        int given = put ? n - 1 : n;
        int slots = put ? e->maxArgs - 1 : e->maxArgs;
        for (int i = 0; i < given; ++i) work.push_back(args[static_cast<size_t>(i)]);
        for (int i = given; i < slots; ++i) work.push_back(Variant::Missing());
        if (put) work.push_back(args.back());
        Variant r = Call(*e, self, work);
        for (int i = 0; i < given; ++i) args[static_cast<size_t>(i)] = work[static_cast<size_t>(i)];
        return r;
    }

private:
    struct Entry {
        InvokeKind kind;
        int minArgs, maxArgs;
        Fn fn;
    };

    static std::string Key(const std::string& name) { return FoldAsciiText(name); }

    template <class F>
    static Fn Wrap0(F&& f) {
        if constexpr (std::is_invocable_v<F&, T&, Args&>) {
            return Fn(std::forward<F>(f));
        } else {
            return [g = std::forward<F>(f)](T& self, Args&) -> Variant {
                if constexpr (std::is_void_v<std::invoke_result_t<const std::decay_t<F>&, T&>>) {
                    g(self);
                    return Variant();
                } else {
                    return Variant(g(self));
                }
            };
        }
    }

    template <class F>
    static Fn WrapPut(F&& f) {
        return [g = std::forward<F>(f)](T& self, Args& a) -> Variant {
            g(self, a.back());
            return Variant();
        };
    }

    DispatchTable& Add(const std::string& name, int32_t dispId, InvokeKind kind, int minArgs, int maxArgs, Fn fn) {
        names_[Key(name)] = dispId;
        entries_[{dispId, static_cast<int>(kind)}] = Entry{kind, minArgs, maxArgs, std::move(fn)};
        return *this;
    }

    Variant Call(const Entry& e, T& self, Args& args) const {
        if (project_.empty()) return e.fn(self, args);
        return WithErrorSource([&] { return e.fn(self, args); }, [&] { return project_ + "." + ClassName(self); });
    }

    static std::string ClassName(T& self) {
        if constexpr (std::is_base_of_v<Object, T>) {
            return self.TypeName();
        } else {
            const auto* object = dynamic_cast<const Object*>(&self);
            return object ? object->TypeName() : std::string("Object");
        }
    }

    const Entry* Find(int32_t dispId, InvokeKind kind) const {
        auto it = entries_.find({dispId, static_cast<int>(kind)});
        return it == entries_.end() ? nullptr : &it->second;
    }

    std::map<std::string, int32_t> names_;
    std::map<std::pair<int32_t, int>, Entry> entries_;
    std::string project_;
};

// An object argument of a late-bound member as the interface the member
// takes: Nothing, Empty or Missing give nullptr; anything but an object, or
// an object without the interface, raises 13.
template <class I>
std::shared_ptr<I> ObjectArgument(const Variant& v) {
    if (v.IsNothing() || v.IsEmpty() || v.IsMissing()) return nullptr;
    return QueryInterface<I>(v.Obj());
}

}  // namespace rt
