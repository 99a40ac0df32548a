#pragma once
// One exported function of an outside library as the system calls it: bound
// at start by whoever implements it, raising 453 (as VB does for a library
// function it cannot find) while unbound. Binding and calling may happen on
// any thread.
#include <atomic>
#include <string>

#include "runtime/Error.h"

namespace pelmora {

template <class Fn>
class EntryPoint {
public:
    explicit EntryPoint(const char* name) : name_(name) {}
    void Bind(Fn fn) { fn_.store(fn, std::memory_order_release); }
    // The bound function; raises 453 with the function's name as source.
    Fn Get() const {
        Fn fn = fn_.load(std::memory_order_acquire);
        if (!fn) rt::RaiseVbError(rt::vberr::DllFunctionNotFound, name_);
        return fn;
    }

private:
    const char* name_;
    std::atomic<Fn> fn_{nullptr};
};

}  // namespace pelmora
