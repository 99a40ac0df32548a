#pragma once
// What the sweeps share: the run of one row, and (for the re-entry sweeps) a
// guard for the call back extension code makes from inside the call running it.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "runtime/Error.h"
#include "runtime/ScopedValue.h"
#include "support/FatalSignalNamer.h"

namespace sweeptest {

// Makes a call back never from inside itself (that would call back without
// end) and at most `most` times; counts those that raised a run-time error,
// and passes the error on unless it swallows (extension code that swallows
// its errors lets the outer call go on).
class CallBackGuard {
public:
    CallBackGuard(int most, bool swallow) : most_(most), swallow_(swallow) {}
    int calledBack = 0;
    int raised = 0;

    void Reset() { calledBack = raised = 0; }
    void Guarded(const std::function<void()>& back) {
        if (busy_ || calledBack >= most_) return;
        ++calledBack;
        const rt::ScopedValue<bool> busy(busy_, true);
        try {
            back();
        } catch (const rt::ComError&) {
            ++raised;
            if (!swallow_) throw;
        }
    }

private:
    int most_;
    bool swallow_;
    bool busy_ = false;
};

// One row: named for a crash, the outer call made. Answers the run-time
// error it raised, if any; any other exception fails the row.
inline std::optional<rt::ComError> RunRow(const std::string& row, const std::function<void()>& outer) {
    pelmora_test::FatalSignalNamer::Name(row);
    try {
        outer();
    } catch (const rt::ComError& e) {
        return e;
    } catch (const std::exception& e) {
        ADD_FAILURE() << row << ": a non-COM exception got through: " << e.what();
    }
    return std::nullopt;
}

}  // namespace sweeptest
