// The sample's own extension objects at work: in a validation run, a value
// each one is there to catch, set on a feature of the sample and saved,
// gives that object's finding and nothing else new; in an edit, its edit
// controls let a field change or refuse it.
#include "ValidationSetTestSupport.h"

#include <algorithm>
#include <map>

#include "SampleExtensions.h"
#include "ado/Enums.h"
#include "pelmora/features/Components.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "pelmora/features/KeyObject.h"
#include "pelmora/features/KeyObjects.h"
#include "pelmora/validation/FeatureValidationService.h"
#include "support/RGITestObjects.h"

namespace {

using Lines = std::vector<std::string>;

class SampleExtensionsTest : public validationtest::ValidationSetFixture {
protected:
    void SetUp() override {
        ValidationSetFixture::SetUp();
        pelmora_sample::RegisterSampleExtensions();
        metadata_->SetActiveUser(Context(), "QTXADMIN");
    }
    void TearDown() override {
        pelmora_sample::UnregisterSampleExtensions();
        ValidationSetFixture::TearDown();
    }

    // "location|description" of every finding on the feature, sorted.
    Lines Findings(int16_t fno, int32_t fid) {
        auto service = std::make_shared<pelmora::FeatureValidationService>();
        service->putref_DataContext(Context());
        auto keys = pelmora::KeyObjects::New();
        auto key = pelmora::KeyObject::New();
        key->put_FNO(fno);
        key->put_FID(fid);
        keys->Add(key);
        std::shared_ptr<pelmora::IKeyObjects> asked = keys;
        Lines out;
        for (const auto& row : validationtest::FindingRows(service->ValidateFeatures(asked)))
            if (row[4] == std::to_string(fno) && row[5] == std::to_string(fid)) out.push_back(row[2] + "|" + row[1]);
        std::sort(out.begin(), out.end());
        return out;
    }

    // Sets the field on the component's first row and saves the feature.
    void Save(int16_t fno, int32_t fid, const char* component, const char* field, const rt::Variant& value) {
        auto assembly = std::make_shared<pelmora::FeatureAssemblyService>();
        assembly->putref_DataContext(Context());
        auto feature = assembly->OpenFeature(fno, fid);
        auto c = feature->get_Components()->get_Item(rt::Variant(component));
        c->put_FunctionalInterfacesEnabled(false);
        c->put_AttributeEditControlEnabled(false);
        auto rs = c->get_Recordset();
        rs->MoveFirst();
        rs->SetValue(rt::Variant(field), value);
        rs->Update();
        auto saved = pelmora::KeyObjects::New();
        saved->Add(feature);
        assembly->UpdateFeatures(saved);
    }
};

TEST_F(SampleExtensionsTest, EachObjectReportsTheFaultItIsThereFor) {
    struct Case {
        const char* what;
        int16_t fno;
        int32_t fid;
        const char* component;
        const char* field;
        rt::Variant value;
        Lines added;
    };
    const Case cases[] = {
        {"too many outlets", 103, 5961, "HYDRANT_ATTR", "OUTLET_COUNT", rt::Variant(int32_t{7}),
         {"Pelmora.OutletCheck|A hydrant has 7 outlets; 1 to 4 are fitted."}},
        {"a colour that marks nothing", 103, 5961, "HYDRANT_ATTR", "COLOR_CODE", rt::Variant("PINK"),
         {"Pelmora:ColourCheck|The colour code PINK is not a hydrant marking colour."}},
        {"a hydrant type the network does not use", 103, 5961, "HYDRANT_ATTR", "HYDRANT_TYPE", rt::Variant("HOSE"),
         {"HydrantTypeCheck|The hydrant type HOSE is not one the network uses."}},
        // A valve's interfaces run in both relationships that relate it to its main.
        {"a valve wider than its main", 102, 2001, "VALVE_ATTR", "SIZE_MM", rt::Variant(int32_t{250}),
         {"Device Fed By Main|The valve (250 mm) is wider than its main (200 mm).",
          "Device Owned By Main|The valve (250 mm) is wider than its main (200 mm)."}},
        {"a valve installed before its main", 102, 2001, "COMMON_ATTR", "INSTALL_DATE",
         rt::Variant::Date(rt::DateSerial(1980, 1, 1)),
         {"Device Fed By Main|The valve was installed before its main.",
          "Device Owned By Main|The valve was installed before its main."}},
        {"a valve without type on a main of a material", 102, 2001, "VALVE_ATTR", "VALVE_TYPE", rt::Variant::Null(),
         {"Device Fed By Main|The valve on a main of DI has no type.",
          "Device Owned By Main|The valve on a main of DI has no type.",
          "|The required value Valve Type of Valve Attributes is missing."}},
    };
    for (const Case& c : cases) {
        const Lines before = Findings(c.fno, c.fid);
        Save(c.fno, c.fid, c.component, c.field, c.value);
        Lines added;
        // The comparison rules of the same fields are not the sample's objects.
        for (const auto& f : Findings(c.fno, c.fid))
            if (std::find(before.begin(), before.end(), f) == before.end() &&
                f.find("does not satisfy its validation rule") == std::string::npos)
                added.push_back(f);
        EXPECT_EQ(added, c.added) << c.what;
        sqlite_->Rollback();
    }
}

TEST_F(SampleExtensionsTest, EditControlsRefuseWhatTheirArgumentsDoNotList) {
    struct Case {
        const char* what;
        int16_t cno;
        int32_t fid;
        const char* field;
        const char* from;  // set with the controls switched off
        const char* to;
        bool allowed;
    };
    const Case cases[] = {
        {"a listed valve position", 21, 2001, "NORMAL_POSITION", "OPEN", "CLOSED", true},
        {"a valve position outside the list", 21, 2001, "NORMAL_POSITION", "STUCK", "OPEN", false},
        {"a meter id of the listed prefix (project 1)", 41, 4001, "METER_ID", "M-778120", "M-1", true},
        {"a meter id of another scheme (project 1)", 41, 4001, "METER_ID", "X-778120", "M-1", false},
    };
    for (const Case& c : cases) {
        auto components = std::make_shared<pelmora::Components>();
        components->putref_DataContext(Context());
        components->AddComponentByCNO(c.cno, rt::Variant(c.fid));
        auto component = components->GetComponent(c.cno);
        auto rs = component->get_Recordset();
        component->put_AttributeEditControlEnabled(false);
        rs->SetValue(rt::Variant(c.field), rt::Variant(c.from));
        component->put_AttributeEditControlEnabled(true);
        int32_t refused = 0;
        try {
            rs->SetValue(rt::Variant(c.field), rt::Variant(c.to));
        } catch (const rt::ComError& e) {
            refused = e.Number();
        }
        EXPECT_EQ(refused, c.allowed ? 0 : ado::err::OperationCancelled) << c.what;
        EXPECT_EQ(rt::CStr(rs->GetValue(rt::Variant(c.field))), c.allowed ? c.to : c.from) << c.what;
    }
    // A control that could not be made or failed would have been shown.
    for (const auto& box : recorder_->records) ADD_FAILURE() << box.text;
}

TEST_F(SampleExtensionsTest, AMainsGeometryInterfacesReviewItsRelationshipOnce) {
    // The host hands the main's related features to the project interface
    // while it loads it; the ProgID interface run next takes them. A
    // hand-over cut short (no relationship row of the helper's name) leaves
    // the ProgID interface to review for itself, with the same finding.
    struct Case {
        const char* what;
        const char* name;
        int reviews;
    };
    const Case cases[] = {
        {"handed over", "", 1},
        {"hand-over cut short", "No Such Relationship", 1},
    };
    for (const Case& c : cases) {
        auto helper = pelmora_test::RGIHostingHelper::New(Context(), 1);
        helper->nameOverride = c.name;
        helper->related = {pelmora_test::SampleFeature(102, 2001), pelmora_test::SampleFeature(102, 5602),
                           pelmora_test::SampleFeature(104, 4001)};
        rt::Variant priorities, messages;
        helper->ValidateGeometry(pelmora_test::SampleFeature(101, 1001), priorities, messages);
        Lines found;
        ASSERT_TRUE(messages.IsArray()) << c.what;
        for (int32_t i = rt::LBound(messages); i <= rt::UBound(messages); ++i) {
            const rt::Variant m = messages.Array()->Get(i);
            if (m.IsString() && m.Str().rfind("Pelmora.MainGeometry", 0) == 0) found.push_back(m.Str());
        }
        EXPECT_EQ(helper->reviews, c.reviews) << c.what;
        EXPECT_EQ(found, Lines{"Pelmora.MainGeometry: Water Main 1001 and Valve 5602 are not connected within 0.5."})
            << c.what;
    }
}

}  // namespace
