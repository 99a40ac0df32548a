#pragma once
// Writing a whole file so that a reader sees either the old one or the whole
// new one: the bytes go to a private file beside it, "<path>.tmp<pid>.<n>",
// which is flushed and renamed over path. The private file is locked (flock)
// for as long as it is being written, so that what a killed writer left can
// be told from what a live one is writing, on this host or another sharing
// the folder. Files are made with the mode the umask gives. Any thread.
#include <string>
#include <string_view>

namespace rt {

// "<target>.tmp<pid>.<n>": a name beside target that no other process uses.
std::string PrivateSiblingPath(const std::string& target);

struct FileReplaceFailure {
    const char* step = nullptr;  // "created", "written" or "replaced"; nullptr: done
    int errnum = 0;
    std::string path;  // the private file when it could not be created, else the target
    explicit operator bool() const { return step != nullptr; }
};

// Replaces path's contents with bytes; on failure the private file is gone
// and path is as it was.
FileReplaceFailure ReplaceFile(const std::string& path, std::string_view bytes);

// Removes the private files of path that no live writer holds (a killed
// writer's); returns how many. Failures are ignored: what cannot go stays.
size_t RemoveDeadPrivateFiles(const std::string& path);

// Whether the descriptor fd is (still) what stands at path: another process
// may have removed it, and something else been made under its name since.
bool IsStillAt(int fd, const std::string& path);

}  // namespace rt
