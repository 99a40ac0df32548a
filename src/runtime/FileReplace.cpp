#include "runtime/FileReplace.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <vector>

namespace rt {

namespace {

// "<name>.tmp<digits>.<digits>", nothing else.
bool IsPrivateFileOf(const std::string& entry, const std::string& name) {
    const std::string prefix = name + ".tmp";
    if (entry.size() <= prefix.size() || entry.compare(0, prefix.size(), prefix) != 0) return false;
    size_t digits = 0, dots = 0;
    bool lastWasDigit = false;
    for (size_t i = prefix.size(); i < entry.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(entry[i]);
        if (std::isdigit(c)) {
            ++digits;
            lastWasDigit = true;
        } else if (c == '.' && lastWasDigit && dots == 0) {
            ++dots;
            lastWasDigit = false;
        } else {
            return false;
        }
    }
    return dots == 1 && lastWasDigit && digits >= 2;
}

int LockWaiting(int fd) {
    int locked;
    do locked = ::flock(fd, LOCK_EX);
    while (locked != 0 && errno == EINTR);
    return locked;
}

}  // namespace

std::string PrivateSiblingPath(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    return target + ".tmp" + std::to_string(::getpid()) + "." + std::to_string(counter++);
}

bool IsStillAt(int fd, const std::string& path) {
    struct stat opened {}, named {};
    return ::fstat(fd, &opened) == 0 && ::lstat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

FileReplaceFailure ReplaceFile(const std::string& path, std::string_view bytes) {
    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        temp = PrivateSiblingPath(path);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        // A killed writer of the same process id (a restarted container's,
        // say) may have left this very name: another one is taken.
        if (fd < 0 && errno == EEXIST && attempt < 100) continue;
        if (fd < 0) return {"created", errno, temp};
        if (LockWaiting(fd) != 0) {
            const int e = errno;
            ::close(fd);
            ::unlink(temp.c_str());
            return {"created", e, temp};
        }
        // Taken for a dead writer's before we could lock it: another name.
        if (!IsStillAt(fd, temp)) {
            ::close(fd);
            fd = -1;
            if (attempt == 100) return {"created", EBUSY, temp};
        }
    }
    int e = 0;
    const char* step = "written";
    size_t done = 0;
    while (done < bytes.size() && e == 0) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) e = errno;
        else done += static_cast<size_t>(n);
    }
    if (e == 0 && ::fsync(fd) != 0) e = errno;
    if (e == 0 && ::rename(temp.c_str(), path.c_str()) != 0) {
        e = errno;
        step = "replaced";
    }
    if (e != 0) ::unlink(temp.c_str());
    // Closed last: the lock is held until the private name is gone.
    if (::close(fd) != 0 && e == 0) {
        // The new contents are in place, but a late write error means they may not be whole.
        return {"written", errno, path};
    }
    if (e != 0) return {step, e, path};
    return {};
}

size_t RemoveDeadPrivateFiles(const std::string& path) {
    namespace fs = std::filesystem;
    const fs::path target(path);
    const std::string name = target.filename().string();
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::vector<std::string> candidates;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (IsPrivateFileOf(it->path().filename().string(), name)) candidates.push_back(it->path().string());
    size_t removed = 0;
    for (const auto& candidate : candidates) {
        int fd = ::open(candidate.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        // Held while removing, so that a writer that has not locked it yet
        // finds it gone and takes another name.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && IsStillAt(fd, candidate) && ::unlink(candidate.c_str()) == 0)
            ++removed;
        ::close(fd);
    }
    return removed;
}

}  // namespace rt
