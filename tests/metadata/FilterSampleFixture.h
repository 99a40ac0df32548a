#pragma once
// The sample network's metadata cache behind a real metadata service, for the
// filter service and lookup tests (set-up in support/SampleServices.h).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "FilterTestTables.h"
#include "ado/Recordset.h"
#include "interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataService.h"
#include "product/StandIns.h"
#include "runtime/Object.h"
#include "support/SampleServices.h"

namespace filtertest {

class SampleMetadataFixture : public pelmora_test::SampleServicesTest {
protected:
    SampleMetadataFixture() : SampleServicesTest("filter") {}

    void SetUp() override {
        SampleServicesTest::SetUp();
        service_ = pelmora_test::OpenSampleMetadata();
        metadata_ = rt::QueryInterface<pelmora::IMetadataService>(service_);
    }

    void TearDown() override {
        metadata_.reset();
        service_.reset();
        SampleServicesTest::TearDown();
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

    std::shared_ptr<pelmora::MetadataService> service_;
    std::shared_ptr<pelmora::IMetadataService> metadata_;
};

}  // namespace filtertest
