// The station service stand-in on the sample: the class numbers, the
// characteristics, the lines of series and the order of stations.
#include <gtest/gtest.h>

#include "ado/Recordset.h"
#include "pelmora/metadata/MetadataRecordset.h"
#include "pelmora/metadata/MetadataRecordsets.h"
#include "product/SqliteDataContext.h"
#include "product/StationService.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"
#include "support/EditableMetadata.h"
#include "support/Raises.h"
#include "support/SampleServices.h"

namespace {

class StationServiceTest : public pelmora_test::SampleServicesTest {
protected:
    StationServiceTest() : SampleServicesTest("station-service") {}
    void SetUp() override {
        SampleServicesTest::SetUp();
        metadata_ = pelmora_test::OpenSampleMetadata();
        context_ = pelmora_test::OpenSampleContext(metadata_);
        service_ = rt::CreateObject(product::kStationServiceProgId);
    }
    void TearDown() override {
        service_.reset();
        context_.reset();
        metadata_.reset();
        SampleServicesTest::TearDown();
    }
    rt::Variant Call(const std::string& member, rt::Args args = {}) {
        return rt::CallByName(service_, member, rt::InvokeKind::Method, args);
    }
    std::shared_ptr<pelmora::MetadataService> metadata_;
    std::shared_ptr<product::SqliteDataContext> context_;
    rt::ObjectPtr service_;
};

TEST_F(StationServiceTest, AnswersFromTheSample) {
    // Nothing is answered before a context.
    EXPECT_EQ(pelmora_test::Raised([&] { Call("GetPIFNO"); }).Number(), rt::vberr::ObjectVariableNotSet);
    rt::CallByName(service_, "DataContext", rt::InvokeKind::PropertySet, {rt::Variant(context_)});
    EXPECT_EQ(rt::CLng(Call("GetPIFNO")), 121);
    EXPECT_EQ(rt::CLng(Call("GetSSFNO")), 122);

    const struct {
        int32_t fno, code;
        bool has;
    } characteristics[] = {{123, 1, true}, {123, 5, true}, {123, 4, false}, {124, 8, true},
                           {125, 19, true}, {126, 10, true}, {101, 5, false}, {127, 1, false}};
    for (const auto& c : characteristics)
        EXPECT_EQ(rt::CBool(Call("IsFNOCharacteristic", {rt::Variant(c.fno), rt::Variant(c.code)})), c.has)
            << c.fno << " " << c.code;

    const struct {
        int32_t code;
        const char* list;
    } lists[] = {{5, "123,127"}, {19, "125"}, {4, "124,125"}, {2, ""}};
    for (const auto& l : lists)
        EXPECT_EQ(rt::CStr(Call("GetListOfFNOsByStationCharacteristic", {rt::Variant(l.code)})), l.list) << l.code;

    const struct {
        const char* series;
        const char* line;  // nullptr: raises
    } lines[] = {{"S1", "L1"}, {"S2", "L1"}, {" s3 ", "L2"}, {"O'NEIL", "L3"}, {"S9", nullptr}, {"PI", nullptr}};
    for (const auto& l : lines) {
        if (l.line) {
            EXPECT_EQ(rt::CStr(Call("GetLineIDFromSS", {rt::Variant(l.series)})), l.line) << l.series;
        } else {
            auto error = pelmora_test::Raised([&] { Call("GetLineIDFromSS", {rt::Variant(l.series)}); });
            EXPECT_EQ(error.Source(), "Strandel.StationService") << l.series;
        }
    }

    const struct {
        const char* id1;
        rt::Variant m1;
        const char* id2;
        rt::Variant m2;
        int16_t order;
    } pairs[] = {
        {"S1", rt::Variant(10.0), "S1", rt::Variant(20.0), 0},   // in order
        {"S1", rt::Variant(40.0), "s1", rt::Variant(35.0), 1},   // backwards in one series
        {"S1", rt::Variant(5.0), "S1", rt::Variant(5.0), 0},     // one station
        {"S2", rt::Variant(0), "S1", rt::Variant(0), 1},         // S1 begins before S2 on L1
        {"S1", rt::Variant(90.0), "S2", rt::Variant(124.0), 0},  // across series in order
        {"S1", rt::Variant(0), "S3", rt::Variant(0), 2},         // two lines
        {"S9", rt::Variant(0), "S9", rt::Variant(5.0), 2},       // unknown series
        {"S1", rt::Variant::Null(), "S1", rt::Variant(5.0), 2},  // no measure
    };
    for (const auto& p : pairs)
        EXPECT_EQ(rt::CInt(Call("CompareStations", {rt::Variant(p.id1), p.m1, rt::Variant(p.id2), p.m2})), p.order)
            << p.id1 << " " << p.id2;
}

TEST_F(StationServiceTest, RefusesAMetadataFieldNameThatIsNoIdentifier) {
    // The series field's name goes into the series query unquoted.
    auto params = metadata_->get_Recordsets()->get_Item(rt::Variant("QTX_ADD_REL_PARAMS_OPTABLE"))
                      ->get_Recordset("QTX_PARAMNAME = 'StationingBSSIDField'", "");
    ASSERT_FALSE(params->get_EOF());
    const int32_t ano = rt::CLng(params->GetValue(rt::Variant("QTX_PARAMVALUE")));
    ASSERT_TRUE(pelmora_test::SetMetadataAttribute(*metadata_, ano, "QTX_FIELD", rt::Variant("X = X OR 1")));

    auto error = pelmora_test::Raised(
        [&] { rt::CallByName(service_, "DataContext", rt::InvokeKind::PropertySet, {rt::Variant(context_)}); });
    EXPECT_EQ(error.Number(), rt::HResult(0x80040003u));
    EXPECT_EQ(error.Source(), "Strandel.StationService");
}

}  // namespace
