#include "runtime/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

}  // namespace

RegularFileRead ReadRegularFile(const std::string& path, uint64_t maxBytes) {
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
    // Not zero-filled first: read overwrites it, and the file may be large.
    r.bytes.reset(new char[size]);
    while (r.size < size) {
        ssize_t n = ::read(fd.get(), r.bytes.get() + r.size, size - r.size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Refusal("read", errno, std::strerror(errno));
        if (n == 0) break;  // shrank while we read: the caller's format check sees the short text
        r.size += static_cast<size_t>(n);
    }
    return r;
}

}  // namespace rt
