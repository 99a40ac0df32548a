#pragma once
// The VB error number a call raises (0 when it returns normally).
#include <functional>

#include "runtime/Error.h"

inline int ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const rt::ComError& e) {
        return e.Number();
    }
    return 0;
}
