#pragma once
// The sample network's metadata cache behind a real metadata service, for the
// filter service and lookup tests: a fresh apartment, the product's stand-ins,
// message boxes recorded instead of shown, and a working directory of the
// test's own (the service writes its log there).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "FilterTestTables.h"
#include "ado/Recordset.h"
#include "pelmora/interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataService.h"
#include "product/Notification.h"
#include "product/StandIns.h"
#include "runtime/Object.h"
#include "support/SampleEnvironment.h"

namespace filtertest {

class SampleMetadataFixture : public ::testing::Test {
protected:
    void SetUp() override {
        env_ = &pelmora_test::SampleEnvironment::Get();
        rt::Apartment::Reset();
        product::RegisterProductStandIns();
        product::RegisterApplicationClasses();
        pelmora::RegisterMetadataClasses();
        recorder_ = std::make_shared<product::DialogRecorder>();
        product::InstallDialogRecorder(recorder_);
        ::setenv("PELMORA_CONFIGURATION_MAP", env_->ConfigurationMapPath().c_str(), 1);
        previousDirectory_ = std::filesystem::current_path();
        std::filesystem::current_path(env_->NewFolder("filter"));
        service_ = std::make_shared<pelmora::MetadataService>();
        service_->put_Configuration(env_->ConfigurationName());
        metadata_ = rt::QueryInterface<pelmora::IMetadataService>(service_);
    }

    void TearDown() override {
        metadata_.reset();
        service_.reset();
        std::filesystem::current_path(previousDirectory_);
        product::InstallDialogRecorder(nullptr);
        rt::Apartment::Reset();
    }

    // A fresh clone of a cached table, as every client gets it.
    ado::RecordsetPtr Table(const std::string& key) {
        return metadata_->get_Recordsets()->get_Item(rt::Variant(key))->get_Recordset("", "");
    }

    // The rows a criteria filter shows on a fresh clone: the reference the
    // cached arrays are checked against.
    std::vector<std::string> ByCriteria(const std::string& key, const std::string& criteria, const std::string& field) {
        auto rs = Table(key);
        rs->put_Filter(rt::Variant(criteria));
        return Column(rs, field);
    }

    const pelmora_test::SampleEnvironment* env_ = nullptr;
    std::shared_ptr<product::DialogRecorder> recorder_;
    std::filesystem::path previousDirectory_;
    std::shared_ptr<pelmora::MetadataService> service_;
    std::shared_ptr<pelmora::IMetadataService> metadata_;
};

}  // namespace filtertest
