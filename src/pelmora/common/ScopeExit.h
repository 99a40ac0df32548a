#pragma once
// A step run when a scope ends, however it ends: a filter put back, a
// component released. (A member set for a scope and put back is
// rt::ScopedValue's job.)
//
// The step runs in a destructor: it must not throw.
#include <utility>

namespace pelmora {

template <class F>
class [[nodiscard]] ScopeExit {
public:
    explicit ScopeExit(F step) : step_(std::move(step)) {}
    ~ScopeExit() { step_(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    F step_;
};

}  // namespace pelmora
