#pragma once
// Validation sets for tests: fabricated recordsets with the six columns the
// relationship service returns, over the sample database behind a real
// metadata service.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <optional>
#include <tuple>
#include <vector>

#include "ado/Recordset.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "interfaces/Components.h"
#include "interfaces/DataContext.h"
#include "interfaces/KeyObject.h"
#include "interfaces/MetadataService.h"
#include "pelmora/validation_set/modFeatureValidationServiceSet.h"
#include "product/SqliteDataContext.h"
#include "runtime/Object.h"
#include "runtime/Vb.h"
#include "support/Raises.h"
#include "support/SampleServices.h"

namespace validationtest {

// One row of the findings as texts, "Null" for a Null value.
using FindingRow = std::vector<std::string>;

inline std::vector<FindingRow> FindingRows(const std::shared_ptr<ado::Recordset>& rs) {
    std::vector<FindingRow> out;
    if (rs->get_BOF() && rs->get_EOF()) return out;
    for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext()) {
        FindingRow row;
        for (int32_t i = 0; i < rs->FieldCount(); ++i) {
            rt::Variant v = rs->GetValue(rt::Variant(i));
            row.push_back(v.IsNull() ? "Null" : rt::CStr(v));
        }
        out.push_back(row);
    }
    return out;
}

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

inline OpenedSet OpenValidationSet(const std::shared_ptr<ado::Recordset>& set,
                                   const std::shared_ptr<pelmora::IDataContext>& context) {
    OpenedSet opened;
    pelmora::GetValidationKOCollection(set, opened.features, opened.components, context, opened.count);
    return opened;
}

// The rows in order; without withRNO the set lacks "QTX_RNO".
inline std::shared_ptr<ado::Recordset> MakeValidationSet(const std::vector<SetRow>& rows, bool withRNO = true) {
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

class ValidationSetFixture : public pelmora_test::SampleServicesTest {
protected:
    ValidationSetFixture() : SampleServicesTest("validation") {}

    void SetUp() override {
        SampleServicesTest::SetUp();
        metadata_ = pelmora_test::OpenSampleMetadata();
        sqlite_ = pelmora_test::OpenSampleContext(metadata_);
    }

    void TearDown() override {
        pelmora::ReleaseValidationSetIndex();
        sqlite_.reset();
        metadata_.reset();
        SampleServicesTest::TearDown();
    }

    std::shared_ptr<pelmora::IDataContext> Context() { return sqlite_; }

    OpenedSet Open(const std::shared_ptr<ado::Recordset>& set) { return OpenValidationSet(set, Context()); }

    std::shared_ptr<pelmora::MetadataService> metadata_;
    std::shared_ptr<product::SqliteDataContext> sqlite_;
};

}  // namespace validationtest
