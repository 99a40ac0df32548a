#include "runtime/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace rt {

namespace {

RegularFileRead Refusal(const char* step, int errnum, std::string cause) {
    RegularFileRead r;
    r.failedStep = step;
    r.errnum = errnum;
    r.cause = std::move(cause);
    return r;
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Reads into buffer until it holds want bytes or the file ends; returns the
// failed step (errno set) or nullptr.
const char* ReadSome(int fd, char* buffer, size_t want, size_t& have) {
    while (have < want) {
        ssize_t n = ::read(fd, buffer + have, want - have);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return "read";
        if (n == 0) break;  // shrank while we read: the caller's format check sees the short text
        have += static_cast<size_t>(n);
    }
    return nullptr;
}

}  // namespace

RegularFileRead ReadRegularFile(const std::string& path, uint64_t maxBytes, size_t headBytes,
                                const FileHeadCheck& checkHead) {
    // Non-blocking, so that a named pipe is refused below instead of waiting
    // for a writer; on a regular file the flag changes nothing.
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) return Refusal("opened", errno, std::strerror(errno));
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return Refusal("read", errno, std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return Refusal("read", 0, "not a regular file");
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    if (size > maxBytes)
        return Refusal("read", 0, std::to_string(size) + " bytes, more than the " + std::to_string(maxBytes) + " allowed");

    RegularFileRead r;
    if (checkHead) {
        // The head is the start of the whole read: nothing is read twice.
        const size_t head = static_cast<size_t>(std::min<uint64_t>(headBytes, size));
        r.bytes.reset(new char[head]);
        if (const char* failed = ReadSome(fd.get(), r.bytes.get(), head, r.size))
            return Refusal(failed, errno, std::strerror(errno));
        checkHead(r.bytes.get(), r.size, size);
        if (r.size < head) return r;  // shrank while we read
        std::unique_ptr<char[]> whole(new char[size]);
        std::memcpy(whole.get(), r.bytes.get(), r.size);
        r.bytes = std::move(whole);
    } else {
        // Not zero-filled first: read overwrites it, and the file may be large.
        r.bytes.reset(new char[size]);
    }
    if (ReadSome(fd.get(), r.bytes.get(), size, r.size)) return Refusal("read", errno, std::strerror(errno));
    return r;
}

}  // namespace rt
