#include "pelmora/common/MiscEnvironment.h"

#include <cstdlib>

namespace pelmora {

std::string GetTempDirectory() {
    const char* env = std::getenv("TMPDIR");
    std::string path = (env && *env) ? env : "/tmp";
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    // The root itself: callers append "/" and a name, so give "".
    if (path == "/") path.clear();
    return path;
}

}  // namespace pelmora
