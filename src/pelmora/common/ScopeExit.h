#pragma once
// A step run when a scope ends, however it ends: a member that lends a
// call's local state to the object (a run's memo, say) takes it back here,
// so no pointer outlives the call.
//
//     memo_ = &memo;
//     ScopeExit forget([&] { memo_ = nullptr; });
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
