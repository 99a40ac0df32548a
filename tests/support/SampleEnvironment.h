#pragma once
// The sample network for tests: its database and metadata cache. Under
// ctest a fixture builds them once per run (PELMORA_SAMPLE_ENV, else the
// build tree's sample-env); each test process then takes a private copy of
// the database and reads that cache. Otherwise they are built from
// data/sample once per test process. Everything private lives in a temporary
// folder removed at exit. Get() also points PELMORA_CONFIGURATION_MAP at the sample's
// configuration map, so a metadata service finds the cache by name.
//
// The shared database is for reading; a test that writes opens a copy
// (CopyDatabase, OpenDataContext).
#include <memory>
#include <string>

namespace product {
class SqliteDataContext;
}

namespace pelmora_test {

class SampleEnvironment {
public:
    // Builds on first use; a failure to build raises (the test fails with the reason).
    static const SampleEnvironment& Get();

    const std::string& Root() const { return root_; }
    const std::string& DatabasePath() const { return databasePath_; }
    // The directory of "LegendMetadata.ddc"; the tables lie in LocaleDirectory().
    const std::string& CacheDirectory() const { return cacheDirectory_; }
    const std::string& LocaleDirectory() const { return localeDirectory_; }
    const std::string& Locale() const { return locale_; }
    const std::string& ConfigurationMapPath() const { return configurationMapPath_; }
    const std::string& ConfigurationName() const { return configurationName_; }

    // A fresh copy of the sample database under Root(), named uniquely.
    std::string CopyDatabase() const;
    // A data context on a fresh copy of the sample database.
    std::shared_ptr<product::SqliteDataContext> OpenDataContext() const;
    // The build tree (where tools/ lies); "" when unknown.
    static std::string BuildDirectory();
    // A new, empty folder under Root() for a test's own files.
    std::string NewFolder(const std::string& hint) const;

    ~SampleEnvironment();
    SampleEnvironment(const SampleEnvironment&) = delete;
    SampleEnvironment& operator=(const SampleEnvironment&) = delete;

private:
    SampleEnvironment();
    std::string root_, databasePath_, cacheDirectory_, localeDirectory_, locale_, configurationMapPath_,
        configurationName_;
};

}  // namespace pelmora_test
