#pragma once
// A fixture for the metadata service's tests: the sample's services (see
// support/SampleServices.h) with a private cache or map on request.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ado/Recordset.h"
#include "interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataRecordset.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataRecordsets.h"
#include "pelmora/metadata/MetadataService.h"
#include "product/MetadataCacheBuilder.h"
#include "product/Notification.h"
#include "product/SqliteDataContext.h"
#include "product/StandIns.h"
#include "runtime/Error.h"
#include "runtime/Object.h"
#include "runtime/Vb.h"
#include "support/Raises.h"
#include "support/SampleEnvironment.h"
#include "support/SampleServices.h"

namespace metadatatest {

class MetadataFixture : public pelmora_test::SampleServicesTest {
protected:
    MetadataFixture() : SampleServicesTest("cwd") {}

    // A service on the sample's configuration.
    std::shared_ptr<pelmora::MetadataService> NewService() { return pelmora_test::OpenSampleMetadata(); }

    // A cache of the test's own, which the test may damage; the map of the
    // process points at it from now on.
    product::CacheBuildResult BuildPrivateCache(const std::string& configuration = "Private Network") {
        product::CacheBuildOptions options;
        options.databasePath = env_->DatabasePath();
        options.cacheDirectory = env_->NewFolder("cache");
        options.configurationName = configuration;
        options.configurationMapPath = options.cacheDirectory + "/map.txt";
        auto result = product::BuildMetadataCache(options);
        ::setenv("PELMORA_CONFIGURATION_MAP", result.configurationMapPath.c_str(), 1);
        return result;
    }

    // Points the process's map at a map file with the given text.
    void UseMap(const std::string& text) {
        const std::string path = env_->NewFolder("map") + "/map.txt";
        std::ofstream(path) << text;
        ::setenv("PELMORA_CONFIGURATION_MAP", path.c_str(), 1);
    }

    std::vector<std::string> LogLines() const {
        std::vector<std::string> lines;
        std::ifstream in(workDirectory_ + "/" + pelmora::kMetadataLogFileName);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    // The values of one field over the visible rows, from the first row on.
    static std::vector<rt::Variant> Column(const std::shared_ptr<ado::Recordset>& rs, const std::string& field) {
        std::vector<rt::Variant> values;
        if (rs->get_BOF() && rs->get_EOF()) return values;
        rs->MoveFirst();
        while (!rs->get_EOF()) {
            values.push_back(rs->GetValue(rt::Variant(field)));
            rs->MoveNext();
        }
        return values;
    }

    static bool Contains(const std::vector<rt::Variant>& values, int32_t number) {
        for (auto& v : values)
            if (!v.IsNull() && rt::CLng(v) == number) return true;
        return false;
    }

    // Runs a statement on the database behind a data context.
    static void Execute(const std::shared_ptr<product::SqliteDataContext>& dc, const std::string& sql) {
        rt::Variant affected;
        dc->ExecuteSQL(sql, affected, ado::adCmdText);
    }

    template <class F>
    static rt::ComError Raised(F&& f) {
        return pelmora_test::Raised(std::forward<F>(f));
    }
};

}  // namespace metadatatest
