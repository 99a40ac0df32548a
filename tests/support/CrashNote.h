#pragma once
// For a sweep of many calls in one test: while a CrashNote stands, a fatal
// signal first writes "*** the process died in the <what>: " and the name of
// the call under way to stderr; then the handler before it (the sanitizer's,
// or the default) takes over: a fault recurs when the handler returns, an
// abort is raised again. One note at a time.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

namespace pelmora_test {

class CrashNote {
public:
    explicit CrashNote(const char* what) {
        snprintf(head_, sizeof head_, "\n*** the process died in the %s: ", what);
        call_[0] = '\0';
        for (int sig : kSignals) {
            struct sigaction action {};
            action.sa_handler = OnSignal;
            sigaction(sig, &action, &previous_[sig]);
        }
    }
    ~CrashNote() {
        for (int sig : kSignals) sigaction(sig, &previous_[sig], nullptr);
    }
    CrashNote(const CrashNote&) = delete;
    CrashNote& operator=(const CrashNote&) = delete;

    // Names the call under way.
    void Call(const std::string& name) { snprintf(call_, sizeof call_, "%s", name.c_str()); }

private:
    static constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
    static void OnSignal(int sig) {
        [[maybe_unused]] auto a = write(2, head_, strlen(head_));
        [[maybe_unused]] auto b = write(2, call_, strlen(call_));
        [[maybe_unused]] auto c = write(2, "\n", 1);
        sigaction(sig, &previous_[sig], nullptr);
        if (sig == SIGABRT) raise(sig);
    }
    static inline char head_[80];
    static inline char call_[400];
    static inline struct sigaction previous_[32];
};

}  // namespace pelmora_test
