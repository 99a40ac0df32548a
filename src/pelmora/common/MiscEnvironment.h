#pragma once
#include <string>

namespace pelmora {

// The temporary directory under which log files are written, without a
// trailing separator: $TMPDIR when set and not empty, else "/tmp". Callers
// append "/" and the file name.
std::string GetTempDirectory();

}  // namespace pelmora
