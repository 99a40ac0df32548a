#pragma once
// The sample wired up for attribute validation: a data context on a copy of
// the sample, features opened through the feature-assembly service, a
// service on that context, and readers of ValidationErrorArrays. The
// interfaces' log goes to the test's own folder.
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "ado/Recordset.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "interfaces/Components.h"
#include "interfaces/KeyObject.h"
#include "pelmora/attribute_validation/AttributeValidationService.h"
#include "pelmora/attribute_validation/ModAttributeValidationService.h"
#include "product/SqliteDataContext.h"
#include "runtime/Vb.h"
#include "support/SampleServices.h"

namespace attrvaltest {

class AttributeValidationFixture : public pelmora_test::SampleServicesTest {
protected:
    AttributeValidationFixture() : SampleServicesTest("attribute-validation") {}

    void SetUp() override {
        SampleServicesTest::SetUp();
        const char* tmp = std::getenv("TMPDIR");
        previousTmp_ = tmp ? tmp : "";
        hadTmp_ = tmp != nullptr;
        ::setenv("TMPDIR", workDirectory_.c_str(), 1);
        metadata_ = pelmora_test::OpenSampleMetadata();
        dc_ = pelmora_test::OpenSampleContext(metadata_);
        // A user with roles, so loading role-restricted metadata shows nothing.
        metadata_->SetActiveUser(dc_, "MBROWN");
        assembly_ = std::make_shared<pelmora::FeatureAssemblyService>();
        assembly_->putref_DataContext(dc_);
    }

    void TearDown() override {
        assembly_.reset();
        dc_.reset();
        metadata_.reset();
        if (hadTmp_) ::setenv("TMPDIR", previousTmp_.c_str(), 1);
        else ::unsetenv("TMPDIR");
        SampleServicesTest::TearDown();
    }

    std::shared_ptr<pelmora::IKeyObject> Feature(int16_t fno, int32_t fid) { return assembly_->OpenFeature(fno, fid); }

    std::shared_ptr<pelmora::AttributeValidationService> Service(const std::shared_ptr<pelmora::IKeyObject>& active,
                                                                const std::shared_ptr<pelmora::IKeyObject>& related,
                                                                const std::string& relationshipType = "") {
        auto s = std::make_shared<pelmora::AttributeValidationService>();
        s->putref_DataContext(dc_);
        s->putref_ActiveFeature(active);
        s->putref_RelatedFeature(related);
        s->put_RelationshipType(relationshipType);
        return s;
    }

    std::shared_ptr<ado::Recordset> Rows(const std::shared_ptr<pelmora::IKeyObject>& feature, const char* component) {
        return feature->get_Components()->get_Item(rt::Variant(component))->get_Recordset();
    }

    std::shared_ptr<pelmora::IMetadataService> Metadata() {
        return rt::QueryInterface<pelmora::IMetadataService>(metadata_);
    }

    std::string LogPath() const { return workDirectory_ + "/ValidationInterfaces.log"; }

    // The message-box texts shown so far.
    std::vector<std::string> Boxes() const {
        std::vector<std::string> out;
        for (const auto& r : recorder_->records) out.push_back(r.text);
        return out;
    }

    std::shared_ptr<pelmora::MetadataService> metadata_;
    std::shared_ptr<product::SqliteDataContext> dc_;
    std::shared_ptr<pelmora::FeatureAssemblyService> assembly_;

private:
    std::string previousTmp_;
    bool hadTmp_ = false;
};

// A value as a text, "Null" and "Empty" for those.
inline std::string Show(const rt::Variant& v) { return v.IsNull() ? "Null" : v.IsEmpty() ? "Empty" : rt::CStr(v); }

// The elements of a 1-D array as texts ("Null", "Empty" for those).
inline std::vector<std::string> Texts(const rt::Variant& array) {
    std::vector<std::string> out;
    if (!array.IsArray() || !array.Array()) return out;
    for (int32_t i = rt::LBound(array); i <= rt::UBound(array); ++i) {
        out.push_back(Show(array.Array()->Get(i)));
    }
    return out;
}

// One rule of a fabricated rule recordset: the columns the evaluators and
// LoadSetValues read.
struct RuleRow {
    rt::Variant ano, op, vv;
    rt::Variant relationshipType = rt::Variant::Null();
    rt::Variant relatedFNO = rt::Variant::Null();
    rt::Variant relatedName = rt::Variant::Null();
    rt::Variant relatedField = rt::Variant::Null();
};

inline std::shared_ptr<ado::Recordset> RuleRows(const std::vector<RuleRow>& rows) {
    ado::RecordsetImage image;
    for (const char* name : {"QTX_ACTIVEANO", "QTX_OPERATOR", "QTX_VALIDATIONVALUE", "QTX_RELATIONSHIPTYPE",
                             "QTX_RELATEDFNO", "QTX_RELATEDNAME", "QTX_RELATEDFIELDNAME"})
        image.fields.push_back(ado::FieldDesc{name, ado::adVariant, 0, 0, 0, ado::adFldIsNullable, "", name});
    for (const auto& r : rows)
        for (const auto& v : {r.ano, r.op, r.vv, r.relationshipType, r.relatedFNO, r.relatedName, r.relatedField})
            image.values.push_back(v);
    return ado::Recordset::FromImage(image, ado::adLockBatchOptimistic, ado::adOpenKeyset);
}

inline std::string Message(int16_t id, const std::string& p1 = "", const std::string& p2 = "",
                           const std::string& p3 = "", const std::string& p4 = "") {
    return pelmora::LoadResStringWithParams(id, p1, p2, p3, p4, "");
}

}  // namespace attrvaltest
