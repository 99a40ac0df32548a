#pragma once
// Putting a finished file or directory in place so that no other process
// loses what it built: the work is done under a private name beside the
// target and then moved in with one rename. Used by the sample database and
// cache builders; their callers never see these names.
#include <string>

namespace product {

// "<target>.tmp<pid>.<n>": a name beside target that no other process uses.
std::string PrivateSiblingPath(const std::string& target);

// Moves from to target only when nothing stands at target; raises 58
// (source `source`) naming target when something does, leaving both as they
// are. Other failures raise 75 naming both paths.
void MoveIntoPlaceNoReplace(const std::string& from, const std::string& target, const char* source);

// Puts the directory from at target in one step; what stood at target (if
// anything) is now at from and returned true, for the caller to remove.
// Readers of target always see either the old or the new directory.
bool SwapIntoPlace(const std::string& from, const std::string& target, const char* source);

// Writes text to path through a private file renamed over it.
void WriteFileReplacing(const std::string& path, const std::string& text, const char* source);

}  // namespace product
