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

std::string EnvOr(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

#ifndef PELMORA_SAMPLE_ENV_DIR
#define PELMORA_SAMPLE_ENV_DIR ""
#endif
#ifndef PELMORA_BUILD_DIR_PATH
#define PELMORA_BUILD_DIR_PATH ""
#endif

// The sample the ctest fixture built, when it is complete and no SQL file
// is newer than it.
bool SharedSampleUsable(const std::string& dir, const std::string& locale) {
    if (dir.empty()) return false;
    const std::string db = dir + "/sample.db";
    std::error_code ec;
    if (!fs::exists(db, ec) || !fs::exists(dir + "/cache/ConfigurationMap.txt", ec) ||
        !fs::exists(dir + "/cache/" + locale + "/QTX_METADATAKEYS_OPTABLE.RAW", ec))
        return false;
    const auto built = fs::last_write_time(db, ec);
    if (ec) return false;
    for (const auto& e : fs::directory_iterator(SqlDirectory(), ec))
        if (e.path().extension() == ".sql" && fs::last_write_time(e.path(), ec) > built) return false;
    return !ec;
}
}  // namespace

std::string SampleEnvironment::BuildDirectory() { return EnvOr("PELMORA_BUILD_DIR", PELMORA_BUILD_DIR_PATH); }

const SampleEnvironment& SampleEnvironment::Get() {
    static SampleEnvironment environment;
    return environment;
}

SampleEnvironment::SampleEnvironment() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pelmora-sample-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("Cannot create a temporary folder from " + pattern);
    root_ = pattern;
    locale_ = "ENU";
    configurationName_ = "Sample Water Network";
    // Built once for the whole ctest run: take a private copy of its database
    // and read its cache as it stands.
    const std::string shared = EnvOr("PELMORA_SAMPLE_ENV", PELMORA_SAMPLE_ENV_DIR);
    {
        const std::string& dir = shared;
        if (SharedSampleUsable(dir, locale_)) {
            databasePath_ = root_ + "/sample.db";
            fs::copy_file(dir + "/sample.db", databasePath_);
            cacheDirectory_ = fs::path(dir + "/cache").lexically_normal().string();
            localeDirectory_ = cacheDirectory_ + "/" + locale_;
            configurationMapPath_ = cacheDirectory_ + "/ConfigurationMap.txt";
            ::setenv("PELMORA_CONFIGURATION_MAP", configurationMapPath_.c_str(), 1);
            return;
        }
    }
    try {
        databasePath_ = root_ + "/sample.db";
        product::BuildSampleDatabase(databasePath_, SqlDirectory());
        product::CacheBuildOptions options;
        options.databasePath = databasePath_;
        options.cacheDirectory = root_ + "/cache";
        options.locale = locale_;
        options.configurationName = configurationName_;
        auto result = product::BuildMetadataCache(options);
        cacheDirectory_ = fs::path(result.localeDirectory).parent_path().string();
        localeDirectory_ = result.localeDirectory;
        configurationMapPath_ = result.configurationMapPath;
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
