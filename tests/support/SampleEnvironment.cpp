#include "support/SampleEnvironment.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>

#include "product/MetadataCacheBuilder.h"
#include "product/SampleDatabase.h"
#include "product/SqliteDataContext.h"

namespace pelmora_test {

namespace fs = std::filesystem;

namespace {
std::atomic<int> gCounter{0};

std::string SqlDirectory() {
    const char* source = std::getenv("PELMORA_SOURCE_DIR");
    return std::string(source && *source ? source : PELMORA_SOURCE_DIR) + "/data/sample";
}
}  // namespace

const SampleEnvironment& SampleEnvironment::Get() {
    static SampleEnvironment environment;
    return environment;
}

SampleEnvironment::SampleEnvironment() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pelmora-sample-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("Cannot create a temporary folder from " + pattern);
    root_ = pattern;
    try {
        databasePath_ = root_ + "/sample.db";
        product::BuildSampleDatabase(databasePath_, SqlDirectory());
        product::CacheBuildOptions options;
        options.databasePath = databasePath_;
        options.cacheDirectory = root_ + "/cache";
        options.locale = "ENU";
        options.configurationName = "Sample Water Network";
        auto result = product::BuildMetadataCache(options);
        cacheDirectory_ = fs::path(result.localeDirectory).parent_path().string();
        localeDirectory_ = result.localeDirectory;
        locale_ = options.locale;
        configurationMapPath_ = result.configurationMapPath;
        configurationName_ = options.configurationName;
    } catch (...) {
        std::error_code ec;
        fs::remove_all(root_, ec);
        throw;
    }
    ::setenv("PELMORA_CONFIGURATION_MAP", configurationMapPath_.c_str(), 1);
}

SampleEnvironment::~SampleEnvironment() {
    std::error_code ec;
    fs::remove_all(root_, ec);
}

std::string SampleEnvironment::CopyDatabase() const {
    std::string path = root_ + "/copy-" + std::to_string(++gCounter) + ".db";
    fs::copy_file(databasePath_, path, fs::copy_options::overwrite_existing);
    return path;
}

std::shared_ptr<product::SqliteDataContext> SampleEnvironment::OpenDataContext() const {
    return product::SqliteDataContext::Open(CopyDatabase());
}

std::string SampleEnvironment::NewFolder(const std::string& hint) const {
    std::string path = root_ + "/" + hint + "-" + std::to_string(++gCounter);
    fs::create_directories(path);
    return path;
}

}  // namespace pelmora_test
