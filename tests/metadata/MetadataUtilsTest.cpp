// The metadata lookups and the small ADO helpers.
#include <gtest/gtest.h>

#include "FilterSampleFixture.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataUtils.h"
#include "runtime/Dispatch.h"
#include "runtime/Vb.h"
#include "support/Raises.h"

namespace {

using namespace filtertest;
namespace fc = pelmora::filtercache;
using namespace pelmora;

constexpr int32_t kLookupError = static_cast<int32_t>(0x80040003u);

using pelmora_test::Raised;

class MetadataUtilsSampleTest : public SampleMetadataFixture {};

TEST_F(MetadataUtilsSampleTest, ComponentLookupsAnswerFromTheComponentTable) {
    EXPECT_EQ(GetComponentName(metadata_, 12), "WATER_MAIN_LINE");
    EXPECT_EQ(GetComponentUserName(metadata_, 12), "Water Main Line");
    EXPECT_EQ(GetComponentTable(metadata_, 12), "WATER_MAIN_LN");
    EXPECT_EQ(GetCompGeomType(metadata_, 12), "PolylineGeometry");
    EXPECT_EQ(GetCompGeomType(metadata_, 22), "OrientedPointGeometry");
    EXPECT_FALSE(IsGeometryComponent(metadata_, 11));  // QTX_TYPE 1
    EXPECT_TRUE(IsGeometryComponent(metadata_, 12));   // QTX_TYPE 2
    EXPECT_TRUE(IsGeometryComponent(metadata_, 13));   // QTX_TYPE 3

    // Every component agrees with its row.
    auto rows = Table("QTX_COMPONENTINFO_OPTABLE");
    for (rows->MoveFirst(); !rows->get_EOF(); rows->MoveNext()) {
        auto cno = rt::CInt(rows->GetValue(Variant("QTX_CNO")));
        EXPECT_EQ(GetComponentTable(metadata_, cno), rt::CStr(rows->GetValue(Variant("QTX_TABLE"))));
        EXPECT_EQ(IsGeometryComponent(metadata_, cno), rt::CLng(rows->GetValue(Variant("QTX_TYPE"))) != 1);
    }
}

TEST_F(MetadataUtilsSampleTest, AttributeFeatureAndParameterLookups) {
    EXPECT_EQ(GetAttributeField(metadata_, 1102), "DIAMETER");
    EXPECT_EQ(GetAttributeUserName(metadata_, 1102), "Diameter (mm)");
    EXPECT_EQ(GetFeatureUserName(metadata_, 101), "Water Main");
    EXPECT_EQ(GetAddRelParamValue(metadata_, "NodeTolerance"), "0.01");
    EXPECT_EQ(GetAddRelParamValue(metadata_, "ConnectivityMode"), "NodeEdge");

    auto e = Raised([&] { GetAddRelParamValue(metadata_, "nodetolerance"); });  // names compare exactly
    EXPECT_EQ(e.Number(), kLookupError);
    EXPECT_EQ(e.Source(), "MetadataUtils");
}

TEST_F(MetadataUtilsSampleTest, AMissingNumberFailsWithErrorThreeButHasNoGeometryType) {
    for (auto lookup : {GetComponentName, GetComponentUserName, GetComponentTable}) {
        auto e = Raised([&] { lookup(metadata_, 999); });
        EXPECT_EQ(e.Number(), kLookupError);
        EXPECT_EQ(e.Source(), "MetadataUtils");
        EXPECT_EQ(e.Description(), "");
    }
    EXPECT_EQ(Raised([&] { GetAttributeField(metadata_, 999999); }).Number(), kLookupError);
    EXPECT_EQ(Raised([&] { GetFeatureUserName(metadata_, 999); }).Number(), kLookupError);
    EXPECT_EQ(Raised([&] { IsGeometryComponent(metadata_, 999); }).Number(), kLookupError);
    EXPECT_EQ(GetCompGeomType(metadata_, 999), "");
}

TEST_F(MetadataUtilsSampleTest, ANullGeometryTypeFailsNamingTheLookup) {
    auto e = Raised([&] { GetCompGeomType(metadata_, 11); });
    EXPECT_EQ(e.Number(), kLookupError);
    EXPECT_EQ(e.Source(), "MetadataUtils");
    EXPECT_NE(e.Description().find("GetCompGeomType"), std::string::npos);
    EXPECT_NE(e.Description().find("\r\n" + rt::VbErrorDescription(rt::vberr::InvalidUseOfNull)), std::string::npos);
}

TEST_F(MetadataUtilsSampleTest, ASecondLookupIsServedFromTheFilterCache) {
    EXPECT_EQ(GetComponentTable(metadata_, 21), "VALVE_N");
    const std::string key = fc::Key("QTX_COMPONENTINFO_OPTABLE", "QTX_CNO", "21");
    auto first = fc::Lookup(key);
    ASSERT_TRUE(first.has_value());
    size_t entries = fc::Count();
    EXPECT_EQ(GetComponentName(metadata_, 21), "VALVE_ATTR");
    EXPECT_EQ(fc::Count(), entries);
    EXPECT_EQ(fc::Lookup(key)->Array(), first->Array());  // the same array, not computed again
    EXPECT_EQ(MetadataUtilsFilterService(), MetadataUtilsFilterService());
}

TEST_F(MetadataUtilsSampleTest, ClassificationValueReadsTheFeaturesComponent) {
    // A components collection reached by name, holding one component's rows.
    struct Component : rt::Object {
        ado::RecordsetPtr rows;
        rt::Variant Invoke(const std::string& name, rt::InvokeKind, rt::Args&) override {
            if (rt::NamesEqual(name, "Recordset")) return rt::Variant(rows);
            rt::RaiseVbError(rt::vberr::ObjectDoesNotSupportMember);
        }
    };
    struct Components : rt::Object {
        std::map<std::string, std::shared_ptr<Component>> items;
        rt::Variant Invoke(const std::string& name, rt::InvokeKind, rt::Args& args) override {
            if (!rt::NamesEqual(name, "Item")) rt::RaiseVbError(rt::vberr::ObjectDoesNotSupportMember);
            auto it = items.find(rt::CStr(args.at(0)));
            if (it == items.end()) rt::RaiseVbError(rt::vberr::SubscriptOutOfRange);
            return rt::Variant(it->second);
        }
    };
    auto attr = std::make_shared<Component>();
    attr->rows = MakeTable("", {Field("MATERIAL", ado::adVarWChar)}, {{Variant("DUCTILE")}, {Variant("PVC")}});
    attr->rows->MoveLast();
    auto components = std::make_shared<Components>();
    components->items["WATER_MAIN_ATTR"] = attr;

    Variant value = GetClassificationValue(metadata_, 101, components);  // ANO 1101: MATERIAL
    EXPECT_EQ(rt::CStr(value), "PVC");                                   // the current row

    EXPECT_TRUE(GetClassificationValue(metadata_, 103, components).IsNull());  // no classification
    EXPECT_THROW(GetClassificationValue(metadata_, 102, components), rt::ComError);  // VALVE_ATTR absent
    EXPECT_THROW(GetClassificationValue(metadata_, 999, components), rt::ComError);  // no such feature
}

// ---- lookups on tables made for the purpose ----

class MetadataUtilsTest : public ::testing::Test {
protected:
    void SetUp() override {
        rt::Apartment::Reset();
        components = service->Add(
            "QTX_COMPONENTINFO_OPTABLE",
            MakeTable("QTX_COMPONENTINFO_OPTABLE",
                      {Field("QTX_CNO", ado::adSmallInt), Field("QTX_NAME", ado::adVarWChar),
                       Field("QTX_USERNAME", ado::adVarWChar), Field("QTX_TYPE", ado::adSmallInt)},
                      {{I2(1), Variant("A"), Null(), Null()}, {I2(2), Variant("B"), Variant("Bee"), I2(1)},
                       {I2(3), Variant("C"), Variant("Sea"), I2(7)}}));
        features = service->Add("QTX_FEATURES_OPTABLE",
                                MakeTable("QTX_FEATURES_OPTABLE",
                                          {Field("QTX_FNO", ado::adSmallInt), Field("QTX_CLASSIFICATIONANO", ado::adInteger)},
                                          {{I2(5), Null()}}));
        attributes = service->Add("QTX_ATTRIBUTEINFO_OPTABLE",
                                  MakeTable("QTX_ATTRIBUTEINFO_OPTABLE", {Field("QTX_ANO", ado::adInteger)}, {}));
    }
    void TearDown() override { rt::Apartment::Reset(); }

    std::shared_ptr<FakeMetadataService> service = std::make_shared<FakeMetadataService>();
    std::shared_ptr<FakeMetadataRecordset> components, features, attributes;
};

TEST_F(MetadataUtilsTest, NullTypesAreNoGeometryAndNullTextsFail) {
    EXPECT_FALSE(IsGeometryComponent(service, 1));  // Null type
    EXPECT_FALSE(IsGeometryComponent(service, 2));
    EXPECT_TRUE(IsGeometryComponent(service, 3));
    auto e = Raised([&] { GetComponentUserName(service, 1); });
    EXPECT_EQ(e.Number(), kLookupError);
    EXPECT_EQ(e.Description(), rt::VbErrorDescription(rt::vberr::InvalidUseOfNull));
    // A table or column the service lacks.
    EXPECT_EQ(Raised([&] { GetComponentTable(service, 2); }).Number(), kLookupError);
    EXPECT_EQ(Raised([&] { GetFeatureUserName(service, 5); }).Number(), kLookupError);
    EXPECT_EQ(Raised([&] { GetAddRelParamValue(service, "X"); }).Number(), kLookupError);
}

TEST_F(MetadataUtilsTest, ClassificationWithoutAttributeNeverReadsTheAttributeTable) {
    auto nobody = std::make_shared<rt::Object>();
    EXPECT_TRUE(GetClassificationValue(service, 5, nobody).IsNull());
    EXPECT_EQ(attributes->reads, 0);
    EXPECT_EQ(features->reads, 1);
}

TEST(MetadataUtilsAdoTest, IsFieldNullOrEmpty) {
    auto rs = MakeTable("", {Field("V", ado::adVariant)},
                        {{Null()}, {Variant()}, {Variant("")}, {I2(0)}, {Variant("x")}});
    auto field = rs->get_Fields()->Item("V");
    std::vector<bool> answers;
    for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext()) answers.push_back(IsFieldNullOrEmpty(field));
    EXPECT_EQ(answers, (std::vector<bool>{true, true, false, false, false}));
}

TEST(MetadataUtilsAdoTest, GetRecordCountKeepsTheCurrentRow) {
    auto empty = MakeTable("", {Field("N", ado::adInteger)}, {});
    EXPECT_EQ(GetRecordCount(empty), 0);

    std::vector<std::vector<Variant>> rows;
    for (int i = 1; i <= 6; ++i) rows.push_back({I4(i)});
    auto rs = MakeTable("", {Field("N", ado::adInteger)}, rows);
    rs->put_Filter(Variant("N > 1"));
    rs->MoveFirst();
    rs->MoveNext();
    rs->MoveNext();  // third visible row: N = 4
    EXPECT_EQ(GetRecordCount(rs), 5);
    EXPECT_EQ(rt::CLng(rs->GetValue(Variant("N"))), 4);

    rs->MoveLast();
    rs->MoveNext();
    EXPECT_EQ(GetRecordCount(rs), 5);
    EXPECT_TRUE(rs->get_EOF());

    rs->MoveFirst();
    rs->MovePrevious();  // before the first row
    EXPECT_EQ(GetRecordCount(rs), 5);
    EXPECT_TRUE(rs->get_BOF());
}

TEST(MetadataUtilsAdoTest, GetRecordCountOverflowsAboveTheSixteenBitRange) {
    ado::RecordsetImage image;
    image.fields = {Field("N", ado::adInteger)};
    for (int i = 0; i < 32768; ++i) image.values.emplace_back(static_cast<int32_t>(i));
    auto big = ado::Recordset::FromImage(std::move(image));
    EXPECT_EQ(Raised([&] { GetRecordCount(big); }).Number(), rt::vberr::Overflow);
    EXPECT_EQ(rt::CLng(big->GetValue(Variant("N"))), 0);  // back on its row
}

}  // namespace
