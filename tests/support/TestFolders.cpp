#include "support/TestFolders.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <mutex>
#include <set>

namespace pelmora_test {

namespace {

class MadeFolders {
public:
    void Add(const std::filesystem::path& folder) {
        std::lock_guard<std::mutex> lock(mutex_);
        folders_.insert(folder);
    }
    ~MadeFolders() {
        for (const auto& folder : folders_) {
            std::error_code ec;
            std::filesystem::remove_all(folder, ec);
        }
    }

private:
    std::mutex mutex_;
    std::set<std::filesystem::path> folders_;
};

MadeFolders& Made() {
    static MadeFolders made;
    return made;
}

}  // namespace

std::filesystem::path TestFolderPath(const std::string& prefix) {
    std::string name = prefix + "-" + std::to_string(::getpid());
    if (const auto* info = ::testing::UnitTest::GetInstance()->current_test_info())
        name += std::string("-") + info->test_suite_name() + "-" + info->name();
    // Parameterised tests name themselves "Case/0".
    for (char& c : name)
        if (c == '/') c = '_';
    return std::filesystem::temp_directory_path() / name;
}

std::filesystem::path FreshTestFolder(const std::string& prefix) {
    const auto folder = TestFolderPath(prefix);
    Made().Add(folder);
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

}  // namespace pelmora_test
