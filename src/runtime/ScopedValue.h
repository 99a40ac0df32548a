#pragma once
// A variable set for the length of a scope: its earlier value comes back when
// the scope ends, however it ends. What a call keeps in a member for its own
// length (a per-call cache, a run's lookups) thus survives a call made back
// into the object meanwhile, which keeps its own and gives the outer one
// back.
#include <utility>

namespace rt {

template <class T>
class ScopedValue {
public:
    ScopedValue(T& at, T value) : at_(at), outer_(std::exchange(at, std::move(value))) {}
    ~ScopedValue() { at_ = std::move(outer_); }
    ScopedValue(const ScopedValue&) = delete;
    ScopedValue& operator=(const ScopedValue&) = delete;

private:
    T& at_;
    T outer_;
};

}  // namespace rt
