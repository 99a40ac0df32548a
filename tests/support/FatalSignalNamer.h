#pragma once
// Sweeps that run many calls name the one the process dies in: while a namer
// lives, a fatal signal writes the last text given to Name() to standard
// error; the handler in place before (the sanitizer's, or the default) then
// takes over. One namer at a time, on the test's thread.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

namespace pelmora_test {

class FatalSignalNamer {
public:
    FatalSignalNamer() {
        for (int sig : kSignals) {
            struct sigaction action {};
            action.sa_handler = OnFatalSignal;
            sigaction(sig, &action, &Previous()[sig]);
        }
    }
    ~FatalSignalNamer() {
        for (int sig : kSignals) sigaction(sig, &Previous()[sig], nullptr);
    }
    FatalSignalNamer(const FatalSignalNamer&) = delete;
    FatalSignalNamer& operator=(const FatalSignalNamer&) = delete;

    static void Name(const std::string& what) { snprintf(Text(), kTextSize, "%s", what.c_str()); }

private:
    static constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
    static constexpr size_t kTextSize = 400;
    static char* Text() {
        static char text[kTextSize];
        return text;
    }
    static struct sigaction* Previous() {
        static struct sigaction previous[32];
        return previous;
    }
    static void OnFatalSignal(int sig) {
        const char head[] = "\n*** the process died in: ";
        [[maybe_unused]] auto a = write(2, head, sizeof head - 1);
        [[maybe_unused]] auto b = write(2, Text(), strlen(Text()));
        [[maybe_unused]] auto c = write(2, "\n", 1);
        // A fault recurs when the handler returns, an abort is raised again.
        sigaction(sig, &Previous()[sig], nullptr);
        if (sig == SIGABRT) raise(sig);
    }
};

}  // namespace pelmora_test
