// The feature validation service on the sample (80_feature_validation.sql
// plants one fault per feature): the findings through ValidateFeatures and
// ValidatePendingEdits (edits checked against the published domains), the functional interfaces of the three kinds and
// their failures, the two failure forms and the status bar afterwards.
#include "ValidationSetTestSupport.h"

#include <functional>
#include <set>

#include "extensions/ExtensionTestObjects.h"
#include "pelmora/common/AppUtils.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "pelmora/features/KeyObject.h"
#include "pelmora/features/KeyObjects.h"
#include "interfaces/ComponentService.h"
#include "interfaces/FunctionalInterface.h"
#include "pelmora/metadata/MetadataRecordset.h"
#include "pelmora/metadata/MetadataRecordsets.h"
#include "support/EditableMetadata.h"
#include "pelmora/validation/FeatureValidationService.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "product/DesktopApplication.h"
#include "product/InterfaceSupport.h"
#include "product/VbaProjectHost.h"
#include "runtime/Error.h"

using Lines = std::vector<std::string>;
using pelmora::LoadResStringWithParams;

namespace {

// The sample's hydrant interfaces (80_feature_validation.sql).
constexpr const char* kHydrantProgId = "Pelmora.OutletCheck";
constexpr const char* kHydrantNamed = "Pelmora:ColourCheck";
constexpr const char* kHydrantProject = "HydrantTypeCheck";
constexpr int32_t kHydrantProjectNo = 1;

std::string Msg(int16_t id, const std::string& p1 = "", const std::string& p2 = "", const std::string& p3 = "",
                const std::string& p4 = "", const std::string& p5 = "") {
    return LoadResStringWithParams(id, p1, p2, p3, p4, p5);
}

struct Key {
    int16_t fno;
    int32_t fid;
};

std::shared_ptr<pelmora::IKeyObjects> Keys(const std::vector<Key>& keys) {
    auto all = pelmora::KeyObjects::New();
    for (const Key& k : keys) {
        auto o = pelmora::KeyObject::New();
        o->put_FNO(k.fno);
        o->put_FID(k.fid);
        all->Add(o);
    }
    return all;
}

// A functional interface created by ProgID: reports what it is told to once
// prepared, or fails where it is told to.
class AuditFI : public rt::Object, public pelmora::IFunctionalInterface {
public:
    enum class Fault { None, Prepare, Validate, BadArrays };
    rt::Variant priorities, messages, arguments, before;
    Fault fault = Fault::None;
    std::string componentName, fieldName, type;
    std::shared_ptr<pelmora::IComponentService> service;
    std::shared_ptr<pelmora::IDataContext> dataContext;

    rt::Variant get_ArgumentArray() override { return arguments; }
    void put_ArgumentArray(const rt::Variant& v) override {
        if (fault == Fault::Prepare) throw rt::ComError(pelmora::kErrorBase + 5, "audit", "no arguments");
        arguments = v;
    }
    std::string get_ComponentName() override { return componentName; }
    void put_ComponentName(const std::string& v) override { componentName = v; }
    std::string get_FieldName() override { return fieldName; }
    void put_FieldName(const std::string& v) override { fieldName = v; }
    std::shared_ptr<pelmora::IComponentService> get_ComponentService() override { return service; }
    void putref_ComponentService(const std::shared_ptr<pelmora::IComponentService>& v) override { service = v; }
    std::shared_ptr<pelmora::IDataContext> get_DataContext() override { return dataContext; }
    void putref_DataContext(const std::shared_ptr<pelmora::IDataContext>& v) override { dataContext = v; }
    rt::Variant get_FieldValueBeforeChange() override { return before; }
    void put_FieldValueBeforeChange(const rt::Variant& v) override { before = v; }
    std::string get_FunctionalType() override { return type; }
    void put_FunctionalType(const std::string& v) override { type = v; }
    void Execute() override {}
    void CancelUpdate() override {}
    void Update() override {}
    void Delete() override {}
    void Validate(rt::Variant& p, rt::Variant& m) override {
        if (fault == Fault::Validate) throw rt::ComError(pelmora::kErrorBase + 5, "audit", "broken");
        if (fault == Fault::BadArrays) {
            p = rt::Variant("Warning");
            m = rt::Variant("not an array");
            return;
        }
        if (!service || !dataContext || arguments.IsEmpty()) return;  // not prepared: no finding
        if (!priorities.IsEmpty()) p = priorities;
        if (!messages.IsEmpty()) m = messages;
    }
};

class FeatureValidationFixture : public validationtest::ValidationSetFixture {
protected:
    void SetUp() override {
        ValidationSetFixture::SetUp();
        application_ = std::make_shared<product::DesktopApplication>();
        installed_ = std::make_unique<product::ScopedApplication>(application_);
        pelmora::SetStatusBarText("Ready", 1);
        // The hydrants' interfaces, quiet unless a test says otherwise.
        progId_ = std::make_shared<AuditFI>();
        named_ = std::make_shared<exttest::NamedFI>();
        named_->validatePriorities = rt::Variant();
        named_->validateMessages = rt::Variant();
        project_ = std::make_shared<exttest::ProjectFI>();
        rt::RegisterClass(kHydrantProgId, "", [this] { return std::static_pointer_cast<rt::Object>(progId_); });
        product::RegisterInterfaceObject(kHydrantNamed, [this] { return std::static_pointer_cast<rt::Object>(named_); });
        product::VbaProjectHost::Current()->LoadProject(kHydrantProjectNo, project_);
        service_ = std::dynamic_pointer_cast<pelmora::FeatureValidationService>(
            rt::CreateObject(pelmora::kFeatureValidationServiceProgId));
        ASSERT_NE(service_, nullptr);
        service_->putref_DataContext(Context());
    }
    void TearDown() override {
        service_.reset();
        rt::UnregisterClass(kHydrantProgId);
        product::UnregisterInterfaceObject(kHydrantNamed);
        product::VbaProjectHost::Current()->UnloadProject(kHydrantProjectNo);
        installed_.reset();
        ValidationSetFixture::TearDown();
    }

    // Changes one attribute row of the cached metadata of this test.
    void SetAttribute(int32_t ano, const std::string& field, const rt::Variant& value) {
        if (!pelmora_test::SetMetadataAttribute(*metadata_, ano, field, value)) FAIL() << "no attribute " << ano;
    }

    // "FNO/FID/CNO/CID|description|location" per finding on one of the
    // features asked, "|priority" added when it is not the error priority;
    // every finding carries the run's configuration.
    Lines Findings(const std::shared_ptr<ado::Recordset>& rs, const std::vector<Key>& keys) {
        // The relationships' findings (located at a relationship's name) are
        // theirs to test.
        std::set<std::string> relationships;
        auto table = metadata_->get_Recordsets()->get_Item(rt::Variant("QTX_RELATIONSHIPS_OPTABLE"))->get_Recordset("", "");
        for (table->MoveFirst(); !table->get_EOF(); table->MoveNext())
            relationships.insert(rt::CStr(table->GetValue(rt::Variant("QTX_USERNAME"))));
        Lines out;
        for (const auto& row : validationtest::FindingRows(rs)) {
            bool asked = false;
            for (const Key& k : keys) asked = asked || (row[4] == std::to_string(k.fno) && row[5] == std::to_string(k.fid));
            if (!asked || relationships.count(row[2])) continue;
            EXPECT_EQ(row[3], env_->ConfigurationName());
            const bool error = row[0] == pelmora::GetValidationMessage(pelmora::kErrorPriorityMessage);
            out.push_back(row[4] + "/" + row[5] + "/" + row[6] + "/" + row[7] + "|" + row[1] + "|" + row[2] +
                          (error ? "" : "|" + row[0]));
        }
        return out;
    }

    Lines Validate(const std::vector<Key>& keys) {
        auto features = Keys(keys);
        auto rs = service_->ValidateFeatures(features);
        EXPECT_NE(rs, nullptr);
        return rs ? Findings(rs, keys) : Lines{"<nothing>"};
    }

    std::shared_ptr<product::DesktopApplication> application_;
    std::unique_ptr<product::ScopedApplication> installed_;
    std::shared_ptr<pelmora::FeatureValidationService> service_;
    std::shared_ptr<AuditFI> progId_;
    std::shared_ptr<exttest::NamedFI> named_;
    std::shared_ptr<exttest::ProjectFI> project_;
};

TEST_F(FeatureValidationFixture, TheSampleFeaturesGetOneRowPerFault) {
    const std::string zone = Msg(25077, "Pressure Zone", "Water Main Attributes", "ZONE_ID", "PRESSURE_ZONES");
    const std::string material =
        Msg(25078, "Material", "Water Main Attributes", "MATERIAL_CODE", "MAIN_MATERIALS");
    struct Case {
        const char* what;
        std::vector<Key> features;
        Lines findings;
    };
    const Case cases[] = {
        {"features without faults, the hydrants' interfaces quiet",
         {{101, 1001}, {101, 1002}, {102, 2001}, {102, 2002}, {103, 3001}, {103, 3002}, {103, 5961}}, {}},
        {"a required component without rows", {{103, 5951}},
         {"103/5951/32/Null|" + Msg(25086, "'Hydrant Symbol'", "32", "103") + "|"}},
        {"two records of a non-repeating component", {{101, 5952}},
         {"101/5952/11/Null|" + Msg(25084, "'Water Main Attributes'", "11", "101") + "|"}},
        {"a required component and its alternate missing", {{101, 5953}},
         {"101/5953/12/Null|" + Msg(25086, "'Water Main Line'", "12", "101") + "|",
          "101/5953/13/Null|" + Msg(25089, "Water Main Label", "13", "Water Main Line", "12", "101") + "|"}},
        {"a feature without any record is left out; the next one is still checked", {{101, 5954}, {103, 5951}},
         {"103/5951/32/Null|" + Msg(25086, "'Hydrant Symbol'", "32", "103") + "|"}},
        {"a class whose components are not all placed", {{110, 5409}}, {"110/5409/0/0|" + Msg(25073) + "|"}},
        {"a feature number without component metadata; the others are still validated", {{999, 1}, {103, 5951}},
         {"999/1/0/0|" + Msg(25072) + "|", "103/5951/32/Null|" + Msg(25086, "'Hydrant Symbol'", "32", "103") + "|"}},
        {"only features without component metadata", {{999, 1}, {998, 2}},
         {"999/1/0/0|" + Msg(25072) + "|", "998/2/0/0|" + Msg(25072) + "|"}},
        // After a main whose values are there: each value is looked up for itself.
        {"a zone not in the key table (its domain is not asked)", {{101, 1001}, {101, 5955}},
         {"101/5955/11/1|" + zone + "|"}},
        {"materials not in the domain of the database, one with a quote", {{101, 1001}, {101, 5957}, {101, 5958}},
         {"101/5957/11/1|" + material + "|", "101/5958/11/1|" + material + "|"}},
        {"a required value missing: no key lookup", {{101, 5960}},
         {"101/5960/11/1|" + Msg(25088, "Pressure Zone", "Water Main Attributes") + "|"}},
    };
    for (const Case& c : cases) EXPECT_EQ(Validate(c.features), c.findings) << c.what;

    // An attribute that is not required gets no value, key or domain check.
    SetAttribute(1105, "QTX_REQUIRED", rt::Variant(int32_t{0}));
    EXPECT_EQ(Validate({{101, 5955}, {101, 5960}}), Lines{});
}

TEST_F(FeatureValidationFixture, TheStatusBarComesBackOnEveryWayOut) {
    const std::string unreadable = Msg(25063, "");
    struct Case {
        const char* what;
        std::function<void()> prepare;
        std::function<std::shared_ptr<ado::Recordset>()> run;
        const char* source;       // nullptr: no error
        std::string description;  // the error's, or its beginning for the first form
        int32_t steps;
    };
    auto two = [this] {
        auto features = Keys({{101, 1001}, {102, 2001}});
        return service_->ValidateFeatures(features);
    };
    const Case cases[] = {
        {"a run without findings", [] {}, two, nullptr, "", 2},
        {"no pending edits", [] {}, [this] { return service_->ValidatePendingEdits(); }, nullptr, "", 0},
        {"a foreign key without its field",
         [this] { SetAttribute(2101, "QTX_FOREIGNKEYTABLE", rt::Variant("VALVE_TYPES")); },
         two, pelmora::kValidateSource, "QTX_FOREIGNKEYFIELD is null", 2},
        {"a domain without its field",
         [this] {
             SetAttribute(2101, "QTX_FOREIGNKEYTABLE", rt::Variant::Null());
             SetAttribute(2101, "QTX_DOMAINFIELD", rt::Variant::Null());
         },
         two, pelmora::kValidateSource, "QTX_DOMAINFIELD is null", 2},
        {"a foreign-key field that is no plain name",
         [this] {
             SetAttribute(2101, "QTX_FOREIGNKEYTABLE", rt::Variant("VALVE_N"));
             SetAttribute(2101, "QTX_FOREIGNKEYFIELD", rt::Variant("VALVE_TYPE OR 1=1"));
         },
         two, pelmora::kForeignKeyValidationSource, "", 2},
        // Last: a new service without a data context.
        {"no validation set",
         [this] { service_ = std::make_shared<pelmora::FeatureValidationService>(); },
         two, pelmora::kFeatureValidationServiceSource, unreadable, 0},
    };
    for (const Case& c : cases) {
        c.prepare();
        application_->ClearCalls();
        std::shared_ptr<ado::Recordset> result;
        try {
            result = c.run();
            EXPECT_EQ(c.source, nullptr) << c.what;
        } catch (const rt::ComError& e) {
            ASSERT_NE(c.source, nullptr) << c.what << ": " << e.Description();
            EXPECT_EQ(e.Number(), pelmora::kErrorBase + 1) << c.what;
            if (std::string(c.source) == pelmora::kForeignKeyValidationSource) {
                // Refused before any SQL, naming the attribute; the run ends as a run does.
                EXPECT_EQ(e.Source(), pelmora::kValidateSource) << c.what;
                EXPECT_NE(e.Description().find("Valve Type"), std::string::npos) << e.Description();
            } else {
                EXPECT_EQ(e.Source(), c.source) << c.what;
                EXPECT_EQ(e.Description().substr(0, c.description.size()), c.description) << c.what;
            }
        }
        EXPECT_EQ(application_->StatusBarText(1), "Ready") << c.what;
        EXPECT_FALSE(application_->ProgressBarVisible()) << c.what;
        int32_t steps = 0;
        for (const auto& call : application_->Calls())
            if (call.dispId == product::appdisp::StepProgressBar) {
                ++steps;
                EXPECT_EQ(rt::CLng(call.args.at(0)), 1) << c.what;
            }
        EXPECT_EQ(steps, c.steps) << c.what;
        if (c.steps == 2 && !c.source) {
            EXPECT_NE(result, nullptr);
        }
    }
}

TEST_F(FeatureValidationFixture, PendingEditsAreCheckedAgainstThePublishedDomains) {
    // The cached domains are filtered with the value typed: text quoted (its
    // quote doubled), a date as a date.
    const std::string type = Msg(25078, "Valve Type", "Valve Attributes", "TYPE_CODE", "VALVE_TYPES");
    const std::string round = Msg(25078, "Inspection Date", "Hydrant Inspection", "ROUND_DATE", "INSPECTION_ROUNDS");
    struct Case {
        const char* what;
        Key feature;
        const char* component;
        int32_t cid;
        const char* field;
        rt::Variant value;
        Lines findings;
    };
    const Case cases[] = {
        {"a valve type that is none", {102, 2002}, "VALVE_ATTR", 1, "VALVE_TYPE", rt::Variant("PLUG"),
         {"102/2002/21/1|" + type + "|"}},
        {"a valve type with a quote", {102, 2002}, "VALVE_ATTR", 1, "VALVE_TYPE", rt::Variant("O'RING SEAT"), {}},
        {"a text with a quote that is none", {102, 2001}, "VALVE_ATTR", 1, "VALVE_TYPE", rt::Variant("O'RING"),
         {"102/2001/21/1|" + type + "|"}},
        {"an inspection on the day of no round", {103, 3001}, "HYDRANT_INSPECTION", 3, "INSPECTION_DATE",
         rt::Variant::Date(rt::DateSerial(2023, 5, 10) + rt::TimeSerial(14, 5, 0)),
         {"103/3001/33/3|" + round + "|"}},
        {"an inspection on the day of a round", {103, 3001}, "HYDRANT_INSPECTION", 3, "INSPECTION_DATE",
         rt::Variant::Date(rt::DateSerial(2024, 5, 6) + rt::TimeSerial(10, 0, 0)), {}},
    };
    auto assembly = std::make_shared<pelmora::FeatureAssemblyService>();
    assembly->putref_DataContext(Context());
    for (const Case& c : cases) {
        auto feature = assembly->OpenFeature(c.feature.fno, c.feature.fid);
        auto component = feature->get_Components()->get_Item(rt::Variant(c.component));
        component->put_FunctionalInterfacesEnabled(false);
        auto rs = component->get_Recordset();
        for (rs->MoveFirst(); rt::CLng(rs->GetValue(rt::Variant("QTX_CID"))) != c.cid;) rs->MoveNext();
        rs->SetValue(rt::Variant(c.field), c.value);
        rs->Update();
        auto saved = pelmora::KeyObjects::New();
        saved->Add(feature);
        assembly->UpdateFeatures(saved);

        auto result = service_->ValidatePendingEdits();
        ASSERT_NE(result, nullptr) << c.what;
        EXPECT_EQ(Findings(result, {c.feature}), c.findings) << c.what;
        sqlite_->Commit();
        EXPECT_EQ(service_->ValidatePendingEdits(), nullptr) << c.what;
    }
}

TEST_F(FeatureValidationFixture, TheHydrantInterfacesOfTheThreeKindsAddTheirFindingsOrTheirFailures) {
    const rt::Variant priorities = rt::Variant::ArrayOf({rt::Variant("Warning")});
    const std::string row = "103/5961/31/1|";
    auto reports = [&](const char* text) { return rt::Variant::ArrayOf({rt::Variant(text)}); };
    struct Case {
        const char* what;
        std::function<void()> prepare;
        Lines findings;
    };
    const Case cases[] = {
        {"each kind reports, in the order of the attributes",
         [&] {
             progId_->priorities = named_->validatePriorities = project_->validatePriorities = priorities;
             progId_->messages = reports("outlets audit");
             named_->validateMessages = reports("colour audit");
             project_->validateMessages = reports("type audit");
         },
         {row + "type audit|HydrantTypeCheck|Warning", row + "outlets audit|Pelmora.OutletCheck|Warning",
          row + "colour audit|Pelmora:ColourCheck|Warning"}},
        {"a ProgID nobody registered", [] { rt::UnregisterClass(kHydrantProgId); },
         {row + Msg(27081, kHydrantProgId) + "|" + kHydrantProgId}},
        {"a failure while preparing", [&] { progId_->fault = AuditFI::Fault::Prepare; },
         {row + Msg(27084, kHydrantProgId, "no arguments") + "|" + kHydrantProgId}},
        {"a failure in Validate",
         [&] { project_->FailOn("Validate", pelmora::kErrorBase + 5, "project", "type unknown"); },
         {row + Msg(27082, kHydrantProject, "type unknown") + "|" + kHydrantProject}},
        {"findings that are no arrays", [&] { progId_->fault = AuditFI::Fault::BadArrays; },
         {row + Msg(27083, kHydrantProgId, rt::VbErrorDescription(rt::vberr::SubscriptOutOfRange)) + "|" +
          kHydrantProgId}},
        {"a project that is not loaded",
         [] { product::VbaProjectHost::Current()->UnloadProject(kHydrantProjectNo); },
         {row + Msg(27081, kHydrantProject) + "|" + kHydrantProject}},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        c.prepare();
        EXPECT_EQ(Validate({{103, 5961}}), c.findings) << c.what;
    }
    // What the interfaces were handed: the stored arguments, the component
    // and the field.
    TearDown();
    SetUp();
    EXPECT_EQ(Validate({{103, 5961}}), Lines{});
    ASSERT_TRUE(progId_->arguments.IsArray());
    EXPECT_EQ(rt::CStr(progId_->arguments.Array()->Get(1)) + "," + rt::CStr(progId_->arguments.Array()->Get(2)),
              "1,4");
    EXPECT_EQ(progId_->componentName + "." + progId_->fieldName + " " + progId_->type,
              "HYDRANT_ATTR.OUTLET_COUNT Validate");
    EXPECT_EQ(project_->fieldName, "HYDRANT_TYPE");
    EXPECT_EQ(named_->fieldName, "COLOR_CODE");
}

}  // namespace

TEST_F(FeatureValidationFixture, AnAttributeNamingNoColumnOfItsComponentStopsTheRunNamingBoth) {
    for (const char* field : {"ZONE_ID' OR '1'='1", "[ZONE_ID]", "ZONE ID", "ZONE_IDX"}) {
        SetAttribute(1105, "QTX_FIELD", rt::Variant(field));
        const rt::ComError e = pelmora_test::Raised([&] { Validate({{101, 1001}}); });
        EXPECT_EQ(e.Number(), pelmora::kErrorBase + 1) << field;
        EXPECT_EQ(e.Source(), pelmora::kValidateSource) << field;
        for (const std::string& named : {std::string("Pressure Zone (ANO 1105)"),
                                         std::string("Water Main Attributes (WATER_MAIN_ATTR)"),
                                         "\"" + std::string(field) + "\""})
            EXPECT_NE(e.Description().find(named), std::string::npos) << e.Description();
    }
}
