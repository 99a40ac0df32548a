#pragma once
// Reading a whole file that must be an ordinary one (a cache file, the
// configuration map). Links are followed, but the descriptor actually opened
// is what is judged: a named pipe is opened without waiting and refused, a
// device or a directory is refused, so nothing in a file's place can hang the
// reader or feed it without end. The file is read by its size as opened.
// A caller can judge the file by its first bytes and its size before the
// rest is read, so that a foreign or oversized file costs no more memory
// than its head. Free function, any thread.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace rt {

struct RegularFileRead {
    std::unique_ptr<char[]> bytes;
    size_t size = 0;
    // Set when the file was refused: what could not be done ("opened",
    // "read") and why (the system's text, "not a regular file", or the size
    // against the limit). bytes is then empty.
    const char* failedStep = nullptr;
    std::string cause;
    int errnum = 0;  // the system's error number; 0 when refused for its kind or size

    bool Refused() const { return failedStep != nullptr; }
};

// Given the file's first bytes (up to the head size asked for; fewer when the
// file is shorter) and its whole size; throws to refuse the file.
using FileHeadCheck = std::function<void(const char* head, size_t headSize, uint64_t fileSize)>;

RegularFileRead ReadRegularFile(const std::string& path, uint64_t maxBytes = UINT64_MAX, size_t headBytes = 0,
                                const FileHeadCheck& checkHead = {});

}  // namespace rt
