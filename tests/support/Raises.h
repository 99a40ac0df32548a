#pragma once
// What a call raises, for assertions on failures.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

#include "runtime/Error.h"

namespace pelmora_test {

// The error number a call raises (0 when it returns normally).
inline int32_t ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const rt::ComError& e) {
        return e.Number();
    }
    return 0;
}

// The error a call raises; fails the test when it raises none.
template <class F>
rt::ComError Raised(F&& f) {
    try {
        f();
    } catch (const rt::ComError& e) {
        return e;
    }
    ADD_FAILURE() << "no error was raised";
    return rt::ComError(0, "", "");
}

}  // namespace pelmora_test
