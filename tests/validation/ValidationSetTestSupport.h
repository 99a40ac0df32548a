#pragma once
// Validation sets for tests: fabricated recordsets with the six columns the
// relationship service returns, over the sample database behind a real
// metadata service.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <tuple>
#include <vector>

#include "ado/Recordset.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/interfaces/Components.h"
#include "pelmora/interfaces/DataContext.h"
#include "pelmora/interfaces/KeyObject.h"
#include "pelmora/interfaces/MetadataService.h"
#include "pelmora/validation/modFeatureValidationServiceSet.h"
#include "product/SqliteDataContext.h"
#include "runtime/Object.h"
#include "runtime/Vb.h"
#include "support/Raises.h"
#include "support/SampleServices.h"

namespace validationtest {

// One row of a validation set; PENDING nullopt stands for Null.
struct SetRow {
    int32_t fno, fid;
    std::optional<int32_t> pending;
    int32_t relatedFid, relatedFno, rno;
};

struct OpenedSet {
    std::shared_ptr<pelmora::IKeyObjects> features;
    std::shared_ptr<pelmora::IComponents> components;
    int32_t count = 0;
};

class ValidationSetFixture : public pelmora_test::SampleServicesTest {
protected:
    ValidationSetFixture() : SampleServicesTest("validation") {}

    void SetUp() override {
        SampleServicesTest::SetUp();
        metadata_ = pelmora_test::OpenSampleMetadata();
        sqlite_ = env_->OpenDataContext();
        sqlite_->putref_MetadataService(rt::QueryInterface<pelmora::IMetadataService>(metadata_));
    }

    void TearDown() override {
        pelmora::ReleaseValidationSetIndex();
        sqlite_.reset();
        metadata_.reset();
        SampleServicesTest::TearDown();
    }

    std::shared_ptr<pelmora::IDataContext> Context() { return sqlite_; }

    // The rows in order; without withRNO the set lacks "QTX_RNO".
    static std::shared_ptr<ado::Recordset> MakeSet(const std::vector<SetRow>& rows, bool withRNO = true) {
        auto rs = ado::Recordset::Create();
        auto fields = rs->get_Fields();
        for (const char* name : {"QTX_FNO", "QTX_FID", "PENDING", "QTX_RELATED_FID", "QTX_RELATED_FNO", "QTX_RNO"})
            if (withRNO || std::string(name) != "QTX_RNO") fields->Append(name, ado::adInteger);
        rs->Open();
        for (const SetRow& r : rows) {
            rs->AddNew();
            rs->SetValue(rt::Variant(0), rt::Variant(r.fno));
            rs->SetValue(rt::Variant(1), rt::Variant(r.fid));
            rs->SetValue(rt::Variant(2), r.pending ? rt::Variant(*r.pending) : rt::Variant::Null());
            rs->SetValue(rt::Variant(3), rt::Variant(r.relatedFid));
            rs->SetValue(rt::Variant(4), rt::Variant(r.relatedFno));
            if (withRNO) rs->SetValue(rt::Variant(5), rt::Variant(r.rno));
            rs->Update();
        }
        return rs;
    }

    OpenedSet Open(const std::shared_ptr<ado::Recordset>& set) {
        OpenedSet opened;
        pelmora::GetValidationKOCollection(set, opened.features, opened.components, Context(), opened.count);
        return opened;
    }

    std::shared_ptr<pelmora::MetadataService> metadata_;
    std::shared_ptr<product::SqliteDataContext> sqlite_;
};

}  // namespace validationtest
