#include "product/FilePlacement.h"

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "runtime/Error.h"
#include "runtime/FileReplace.h"

namespace product {

namespace {

[[noreturn]] void Fail(const char* source, int number, const std::string& what, int errnum) {
    throw rt::ComError(number, source, what + " (" + std::strerror(errnum) + ")");
}

// Older kernels and some file systems lack renameat2's flags.
bool FlagsUnsupported(int e) { return e == EINVAL || e == ENOSYS || e == ENOTSUP; }

std::string BuildingPrefix(const std::string& name) { return "." + name + ".building."; }

// mkdtemp's naming, but the folder gets the mode the umask gives: it
// becomes the cache's locale folder, which every account of a site reads.
bool MakeUniqueFolder(std::string& pattern) {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::atomic<uint64_t> counter{0};
    const size_t at = pattern.size() - 6;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        // Different in every process and every call.
        uint64_t seed = static_cast<uint64_t>(::getpid()) * 0x9E3779B97F4A7C15ull ^
                        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                        (counter++ << 40);
        for (size_t i = 0; i < 6; ++i) {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            pattern[at + i] = kLetters[(seed >> 33) % (sizeof kLetters - 1)];
        }
        if (::mkdir(pattern.c_str(), 0777) == 0) return true;
        if (errno != EEXIST) return false;
    }
    errno = EEXIST;
    return false;
}

}  // namespace

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
            const std::string aside = rt::PrivateSiblingPath(target);
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
    if (const rt::FileReplaceFailure failed = rt::ReplaceFile(path, text))
        Fail(source, rt::vberr::PathNotFound, "Cannot write \"" + path + "\"", failed.errnum);
}

size_t RemoveDeadBuildingFolders(const std::string& directory, const std::string& name) {
    namespace fs = std::filesystem;
    const std::string prefix = BuildingPrefix(name);
    std::vector<std::string> candidates;
    std::error_code ec;
    for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string entry = it->path().filename().string();
        // mkdtemp's six characters after the prefix, nothing else.
        if (entry.size() == prefix.size() + 6 && entry.compare(0, prefix.size(), prefix) == 0)
            candidates.push_back(it->path().string());
    }
    size_t removed = 0;
    for (const auto& path : candidates) {
        int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        // Held while removing, so that its maker, if it has not locked it
        // yet, finds it gone and makes another.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && rt::IsStillAt(fd, path)) {
            std::error_code rc;
            fs::remove_all(path, rc);
            if (!rc) ++removed;
        }
        ::close(fd);
    }
    return removed;
}

BuildingFolder::BuildingFolder(const std::string& directory, const std::string& name, const char* source) {
    RemoveDeadBuildingFolders(directory, name);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string pattern = directory + "/" + BuildingPrefix(name) + "XXXXXX";
        if (!MakeUniqueFolder(pattern))
            Fail(source, rt::vberr::PathNotFound, "Cannot create a directory in \"" + directory + "\"", errno);
        int fd = ::open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) continue;  // taken for a dead build's before we could lock it
        if (fd < 0) {
            const int e = errno;
            ::rmdir(pattern.c_str());
            Fail(source, rt::vberr::PathNotFound, "Cannot open the directory \"" + pattern + "\"", e);
        }
        int locked;
        do locked = ::flock(fd, LOCK_EX);
        while (locked != 0 && errno == EINTR);
        if (locked != 0) {
            const int e = errno;
            ::close(fd);
            ::rmdir(pattern.c_str());
            Fail(source, rt::vberr::PathNotFound, "Cannot lock the directory \"" + pattern + "\"", e);
        }
        if (rt::IsStillAt(fd, pattern)) {
            path_ = pattern;
            fd_ = fd;
            return;
        }
        // Likewise, between the open and the lock.
        ::close(fd);
    }
    Fail(source, rt::vberr::PathNotFound, "Cannot create a directory in \"" + directory + "\"", EBUSY);
}

BuildingFolder::~BuildingFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
    ::close(fd_);
}

}  // namespace product
