#pragma once
// Assertions on the Oracle errors the dialect session raises.
#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>

#include "product/SqliteConnection.h"

namespace dbtest {

// Runs f, expects a DatabaseError with that Oracle code, the provider's
// error number, and a description that holds every given fragment.
inline void ExpectOra(const std::function<void()>& f, int code, std::initializer_list<std::string> fragments = {}) {
    try {
        f();
        ADD_FAILURE() << "no error, expected ORA-" << code;
    } catch (const product::DatabaseError& e) {
        EXPECT_EQ(e.OraCode(), code) << e.Description();
        EXPECT_EQ(e.Number(), product::kProviderErrorNumber);
        for (const auto& frag : fragments)
            EXPECT_NE(e.Description().find(frag), std::string::npos) << "'" << frag << "' not in: " << e.Description();
    }
}

}  // namespace dbtest
