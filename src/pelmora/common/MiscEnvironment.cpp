#include "pelmora/common/MiscEnvironment.h"

#include <cstdlib>
#include <fstream>

namespace pelmora {

std::string GetTempDirectory() {
    const char* env = std::getenv("TMPDIR");
    std::string path = (env && *env) ? env : "/tmp";
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    // The root itself: callers append "/" and a name, so give "".
    if (path == "/") path.clear();
    return path;
}

LogAppend AppendToLog(const std::string& path, std::string_view text) {
    std::ofstream out(path, std::ios::app | std::ios::binary);
    if (!out) return LogAppend::NotOpened;
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    // Closing flushes: a full disk shows only here.
    out.close();
    return out ? LogAppend::Written : LogAppend::NotWritten;
}

}  // namespace pelmora
