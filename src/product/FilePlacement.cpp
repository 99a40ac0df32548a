#include "product/FilePlacement.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "runtime/Error.h"

namespace product {

namespace {

[[noreturn]] void Fail(const char* source, int number, const std::string& what, int errnum) {
    throw rt::ComError(number, source, what + " (" + std::strerror(errnum) + ")");
}

// Older kernels and some file systems lack renameat2's flags.
bool FlagsUnsupported(int e) { return e == EINVAL || e == ENOSYS || e == ENOTSUP; }

}  // namespace

std::string PrivateSiblingPath(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    return target + ".tmp" + std::to_string(::getpid()) + "." + std::to_string(counter++);
}

void MoveIntoPlaceNoReplace(const std::string& from, const std::string& target, const char* source) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return;
    int e = errno;
    if (FlagsUnsupported(e)) {
        // A hard link is refused atomically when the name is taken.
        if (::link(from.c_str(), target.c_str()) == 0) {
            ::unlink(from.c_str());
            return;
        }
        e = errno;
    }
    if (e == EEXIST)
        throw rt::ComError(rt::vberr::FileAlreadyExists, source,
                           "\"" + target + "\" was created by someone else meanwhile; it is left as it is");
    Fail(source, rt::vberr::PathFileAccessError, "Cannot move \"" + from + "\" to \"" + target + "\"", e);
}

bool SwapIntoPlace(const std::string& from, const std::string& target, const char* source) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0) return true;
        int e = errno;
        if (e == ENOENT) {
            // Nothing at target yet; another builder may put one there first.
            if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return false;
            e = errno;
            if (e == EEXIST) continue;
        }
        if (FlagsUnsupported(e)) {
            // Plain rename replaces only an empty directory: move the old one
            // aside under our own name first.
            const std::string aside = PrivateSiblingPath(target);
            const bool hadOld = ::rename(target.c_str(), aside.c_str()) == 0;
            if (::rename(from.c_str(), target.c_str()) == 0) {
                if (hadOld && ::rename(aside.c_str(), from.c_str()) != 0) return false;
                return hadOld;
            }
            e = errno;
            if (hadOld) ::rename(aside.c_str(), target.c_str());
        }
        Fail(source, rt::vberr::PathFileAccessError, "Cannot put \"" + from + "\" in place of \"" + target + "\"", e);
    }
    Fail(source, rt::vberr::PathFileAccessError, "Cannot put \"" + from + "\" in place of \"" + target + "\"", EBUSY);
}

void WriteFileReplacing(const std::string& path, const std::string& text, const char* source) {
    const std::string temp = PrivateSiblingPath(path);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) Fail(source, rt::vberr::PathNotFound, "Cannot write \"" + path + "\"", errno);
    size_t done = 0;
    int e = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            e = errno;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0 && e == 0) e = errno;
    if (e == 0 && ::rename(temp.c_str(), path.c_str()) != 0) e = errno;
    if (e != 0) {
        ::unlink(temp.c_str());
        Fail(source, rt::vberr::PathNotFound, "Cannot write \"" + path + "\"", e);
    }
}

}  // namespace product
