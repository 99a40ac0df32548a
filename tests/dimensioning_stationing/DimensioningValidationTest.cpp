// The dimensioning helper on the sample: every dimension and dimensioned
// feature validated through the relationship service, the edge cases of the
// validation set and of the references, and the members that only answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ado/Recordset.h"
#include "pelmora/dimensioning_stationing/Dimensioning.h"
#include "pelmora/features/KeyObject.h"
#include "interfaces/Components.h"
#include "pelmora/features/KeyObjects.h"
#include "interfaces/MetadataService.h"
#include "interfaces/Relationship.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataRecordset.h"
#include "pelmora/metadata/MetadataRecordsets.h"
#include "pelmora/metadata/MetadataService.h"
#include "pelmora/relationships/RelationshipHelperFactory.h"
#include "pelmora/relationships/RelationshipService.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "product/SqliteDataContext.h"
#include "support/Raises.h"
#include "support/SampleServices.h"
#include "validation/ValidationSetTestSupport.h"

namespace {

using Lines = std::vector<std::string>;
using validationtest::SetRow;

constexpr int16_t kDimensionSide = 11, kDimensionedSide = 12;

std::shared_ptr<pelmora::IKeyObjects> Features(std::initializer_list<std::pair<int16_t, int32_t>> keys) {
    auto all = pelmora::KeyObjects::New();
    for (auto [fno, fid] : keys) {
        auto k = pelmora::KeyObject::New();
        k->put_FNO(fno);
        k->put_FID(fid);
        all->Add(k);
    }
    return all;
}

class DimensioningTest : public pelmora_test::SampleServicesTest {
protected:
    DimensioningTest() : SampleServicesTest("dimensioning") {}

    void SetUp() override {
        SampleServicesTest::SetUp();
        metadata_ = pelmora_test::OpenSampleMetadata();
        sqlite_ = pelmora_test::OpenSampleContext(metadata_);
    }
    void TearDown() override {
        sqlite_.reset();
        metadata_.reset();
        SampleServicesTest::TearDown();
    }

    std::shared_ptr<pelmora::Dimensioning> Helper(int16_t number) {
        auto helper = std::make_shared<pelmora::Dimensioning>();
        helper->putref_DataContext(sqlite_);
        helper->putref_MDRSFilterService(std::make_shared<pelmora::MetadataRecordsetFilterService>());
        helper->put_RelationshipNumber(number);
        return helper;
    }

    // "FID CNO message-id location" per finding, sorted.
    Lines Findings(const std::shared_ptr<ado::Recordset>& errors) {
        Lines rows;
        if (!(errors->get_BOF() && errors->get_EOF()))
            for (errors->MoveFirst(); !errors->get_EOF(); errors->MoveNext()) {
                auto text = [&](const char* f) {
                    rt::Variant v = errors->GetValue(rt::Variant(f));
                    return v.IsNull() ? std::string("Null") : rt::CStr(v);
                };
                EXPECT_EQ(text("Connection"), env_->ConfigurationName());
                rows.push_back(text("QTX_FID") + " " + text("QTX_CNO") + " " + MessageId(text("ErrorDescription")) +
                               " " + text("ErrorLocation"));
            }
        std::sort(rows.begin(), rows.end());
        return rows;
    }

    // Validates a fabricated set through the helper of that number.
    Lines ValidateSet(int16_t number, const std::vector<SetRow>& rows) {
        auto set = validationtest::MakeValidationSet(rows);
        auto opened = validationtest::OpenValidationSet(set, sqlite_);
        auto errors = pelmora::CreateValidationRecordset();
        Helper(number)->Validate(opened.features, opened.components, set, nullptr, errors);
        return Findings(errors);
    }

    std::shared_ptr<pelmora::MetadataService> metadata_;
    std::shared_ptr<product::SqliteDataContext> sqlite_;

private:
    static std::string MessageId(const std::string& text) {
        for (int16_t id : {19015, 19016, 19017, 19018, 19019, 19020, 19021, 19137, 22305, 25066})
            if (text == pelmora::GetValidationMessage(id)) return std::to_string(id);
        return "?" + text;
    }
};

TEST_F(DimensioningTest, TheSampleReportsExactlyWhatItPlants) {
    auto object = rt::CreateObject(pelmora::kRelationshipServiceProgId);
    auto relationship = rt::QueryInterface<pelmora::IRelationship>(object);
    relationship->putref_DataContext(sqlite_);
    auto features = Features({{107, 5401}, {107, 5402}, {107, 5403}, {107, 5404}, {108, 5405}, {109, 5406},
                              {109, 5407}, {107, 5408}, {110, 5409}, {101, 1001}, {101, 1002}, {101, 1003},
                              {106, 5101}});
    relationship->putref_Features(features);
    std::shared_ptr<ado::Recordset> set, errors;
    relationship->Validate(set, errors);
    const std::string from = "Dimension References", to = "Dimensioned By";
    // The other relationships of these features (the mains' ownership) are
    // theirs to test.
    Lines dimensioning;
    for (const auto& line : Findings(errors))
        if (line.ends_with(" " + from) || line.ends_with(" " + to)) dimensioning.push_back(line);
    EXPECT_EQ(dimensioning, (Lines{
                                    "5402 71 19019 " + from,  // base point between two vertices
                                    "5402 71 19019 " + to,    // the same, seen from main 1001
                                    "5403 71 19018 " + from,  // no base reference
                                    "5404 71 19015 " + from,  // a main row that does not exist
                                    "5407 74 19019 " + from,  // polar points not on neighbours
                                    "5407 74 19137 " + to,    // the same, seen from the zone: point 2
                                    "5408 71 19017 " + from,  // a component the mains have no rule for
                                }));
}

TEST_F(DimensioningTest, TheValidationSetDecidesWhatIsValidated) {
    struct Case {
        const char* what;
        int16_t number;
        std::vector<SetRow> rows;
        Lines findings;
    };
    const std::string from = " Dimension References", to = " Dimensioned By";
    const std::vector<Case> cases = {
        {"the set opens with a relationship row", kDimensionSide,
         {{101, 1001, 0, 5402, 107, 11}, {107, 5402, 1, 0, 0, 0}}, {}},
        {"a related feature without rule rows before the one holding the row", kDimensionSide,
         {{107, 5401, 1, 0, 0, 0}, {102, 2001, 0, 5401, 107, 11}, {101, 1001, 0, 5401, 107, 11},
          {101, 1002, 0, 5401, 107, 11}},
         {}},
        {"no related features: every reference is missing", kDimensionSide,
         {{108, 5405, 1, 0, 0, 0}}, {"5405 72 19015" + from, "5405 72 19016" + from, "5405 72 19017" + from}},
        {"a pending feature without rule rows", kDimensionSide, {{102, 2001, 1, 0, 0, 0}}, {}},
        {"two mains, each against its own dimensions", kDimensionedSide,
         {{101, 1001, 1, 0, 0, 0}, {101, 1002, 1, 0, 0, 0}, {107, 5402, 0, 1001, 101, 12},
          {107, 5402, 0, 1002, 101, 12}, {107, 5401, 0, 1002, 101, 12}},
         {"5402 71 19019" + to}},
        // Both references of 5402 name component 12, which main 9999 has no row of.
        {"a main without line rows", kDimensionedSide,
         {{101, 9999, 1, 0, 0, 0}, {107, 5402, 0, 9999, 101, 12}}, {"5402 71 22305" + to, "5402 71 22305" + to}},
    };
    for (const Case& c : cases) EXPECT_EQ(ValidateSet(c.number, c.rows), c.findings) << c.what;
}

TEST_F(DimensioningTest, MembersThatOnlyAnswer) {
    for (int16_t number : {kDimensionSide, kDimensionedSide}) {
        auto helper = Helper(number);
        EXPECT_EQ(helper->IsDimensionSide(), number == kDimensionSide);
        EXPECT_EQ(helper->get_RelationshipType(), pelmora::qzrelDetail);
        auto main = pelmora::KeyObject::New();
        EXPECT_TRUE(helper->CandidateFeatures(main).IsNull());
        EXPECT_FALSE(helper->CanRelate(main, 101));
        EXPECT_TRUE(helper->ReviewRelationship(main).IsNothing());
        EXPECT_TRUE(helper->ReviewRelationshipHierarchy(main).IsEmpty());
        helper->DeleteRelationship(main, main, 0, 0);
        helper->SilentEstablishRelationship(main, main, 0, 0);
        EXPECT_EQ(helper->get_Name(), number == kDimensionSide ? "Dimension References" : "Dimensioned By");
    }
    // The factory makes it for type 6.
    EXPECT_NE(std::dynamic_pointer_cast<pelmora::Dimensioning>(
                  pelmora::NewRelationshipHelper(rt::Variant(int16_t{6}))),
              nullptr);
}

TEST_F(DimensioningTest, ASubtypeWithoutDimensionTableIsRefused) {
    auto set = validationtest::MakeValidationSet({{107, 5401, 1, 0, 0, 0}});
    auto opened = validationtest::OpenValidationSet(set, sqlite_);
    // The dimension's rows loaded, then the component-info table with the
    // simple dimension's subtype spoilt.
    pelmora::FindKeyObject(opened.features, 107, 5401)->get_Components()->get_Item(rt::Variant("SIMPLE_DIMENSION"))->get_Recordset();
    auto info = ado::Recordset::Create();
    info->get_Fields()->Append("QTX_CNO", ado::adInteger);
    info->get_Fields()->Append("QTX_SUBTYPE", ado::adInteger);
    info->Open();
    info->AddNew();
    info->SetValue(rt::Variant("QTX_CNO"), rt::Variant(int32_t{71}));
    info->SetValue(rt::Variant("QTX_SUBTYPE"), rt::Variant(int32_t{9}));
    info->Update();
    auto tables = std::dynamic_pointer_cast<pelmora::MetadataRecordsets>(metadata_->get_Recordsets());
    ASSERT_NE(tables, nullptr);
    tables->Remove(rt::Variant("QTX_COMPONENTINFO_OPTABLE"));
    tables->AppendRecordset("QTX_COMPONENTINFO_OPTABLE", "spoilt component info", info);
    auto errors = pelmora::CreateValidationRecordset();
    auto error = pelmora_test::Raised(
        [&] { Helper(kDimensionSide)->Validate(opened.features, opened.components, set, nullptr, errors); });
    EXPECT_EQ(error.Number(), pelmora::kErrorBase + 1);
    EXPECT_NE(error.Description().find("component 71 has the subtype 9"), std::string::npos) << error.Description();
}

}  // namespace
