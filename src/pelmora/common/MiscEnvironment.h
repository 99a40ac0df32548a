#pragma once
#include <string>
#include <string_view>

namespace pelmora {

// The temporary directory under which log files are written, without a
// trailing separator: $TMPDIR when set and not empty, else "/tmp". Callers
// append "/" and the file name.
std::string GetTempDirectory();

// How appending to a log went.
enum class LogAppend { Written, NotOpened, NotWritten };

// Appends the text as it stands (its line ends included) to the log file at
// path, creating the file. The file is opened, written and closed at each
// call, as VB's Open ... For Append, Print # and Close are: a reader sees
// every line once it is written, and no handle stays open between calls.
// Raises nothing; each log raises the error it is known by.
LogAppend AppendToLog(const std::string& path, std::string_view text);

}  // namespace pelmora
