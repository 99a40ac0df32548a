#pragma once
// The sample network for benchmarks: built into a private temporary folder,
// with the system's classes registered and a data context on it.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "SampleExtensions.h"
#include "pelmora/Registration.h"
#include "interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataService.h"
#include "product/MetadataCacheBuilder.h"
#include "product/Notification.h"
#include "product/SampleDatabase.h"
#include "product/SqliteDataContext.h"
#include "product/StandIns.h"

namespace benchsupport {

// The sample database and its metadata cache in a folder of their own
// (removed again on destruction), the configuration map pointed at it, every
// class and the sample's extension objects registered, and a data context on
// the database behind a metadata service whose active user is set, as a
// client sets it (a bench may set another). addRows runs on the database
// before the cache is built.
struct SampleWorld {
    std::filesystem::path dir;
    std::shared_ptr<product::SqliteDataContext> dc;
    std::shared_ptr<pelmora::MetadataService> metadata;

    explicit SampleWorld(const std::string& name,
                         const std::function<void(product::SqliteDataContext&)>& addRows = {}) {
        const char* tmp = std::getenv("TMPDIR");
        dir = std::filesystem::path(tmp && *tmp ? tmp : "/tmp") / (name + "-" + std::to_string(::getpid()));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        const std::string db = (dir / "sample.db").string();
        product::BuildSampleDatabase(db);
        if (addRows) {
            auto setup = product::SqliteDataContext::Open(db);
            addRows(*setup);
            setup->Commit();
        }
        product::CacheBuildOptions options;
        options.databasePath = db;
        options.cacheDirectory = (dir / "cache").string();
        auto built = product::BuildMetadataCache(options);
        ::setenv("PELMORA_CONFIGURATION_MAP", built.configurationMapPath.c_str(), 1);

        product::RegisterProductStandIns();
        product::RegisterApplicationClasses();
        pelmora::RegisterSystemClasses();
        pelmora_sample::RegisterSampleExtensions();
        metadata = std::make_shared<pelmora::MetadataService>();
        metadata->put_Configuration(options.configurationName);
        dc = product::SqliteDataContext::Open(db);
        dc->putref_MetadataService(rt::QueryInterface<pelmora::IMetadataService>(metadata));
        metadata->SetActiveUser(dc, "QTXADMIN");
    }
    ~SampleWorld() {
        dc.reset();
        metadata.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    SampleWorld(const SampleWorld&) = delete;
    SampleWorld& operator=(const SampleWorld&) = delete;
};

}  // namespace benchsupport
