// The feature validation service on the sample: the findings of edited
// features through ValidateFeatures and ValidatePendingEdits, the attribute
// checks against foreign-key and domain tables, the functional interfaces of
// the three kinds, the two failure forms and the status bar afterwards.
#include "ValidationSetTestSupport.h"

#include <functional>

#include "extensions/ExtensionTestObjects.h"
#include "pelmora/common/AppUtils.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "pelmora/features/KeyObject.h"
#include "pelmora/features/KeyObjects.h"
#include "pelmora/interfaces/ComponentService.h"
#include "pelmora/interfaces/FunctionalInterface.h"
#include "pelmora/metadata/MetadataRecordset.h"
#include "pelmora/metadata/MetadataRecordsets.h"
#include "pelmora/validation/FeatureValidationService.h"
#include "pelmora/validation/modFeatureValidationService.h"
#include "product/DesktopApplication.h"
#include "product/InterfaceSupport.h"
#include "product/VbaProjectHost.h"
#include "runtime/Error.h"

using Lines = std::vector<std::string>;
using pelmora::LoadResStringWithParams;

namespace {

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

// A picklist table publishing the tables named.
std::shared_ptr<ado::Recordset> Picklist(const std::vector<std::string>& published) {
    auto picklist = ado::Recordset::Create();
    picklist->get_Fields()->Append("QTX_TABLE", ado::adVarChar, 30);
    picklist->get_Fields()->Append("QTX_PUBLISH", ado::adInteger);
    picklist->Open();
    for (const auto& table : published) {
        picklist->AddNew();
        picklist->SetValue(rt::Variant("QTX_TABLE"), rt::Variant(table));
        picklist->SetValue(rt::Variant("QTX_PUBLISH"), rt::Variant(int32_t{1}));
        picklist->Update();
    }
    return picklist;
}

// A functional interface created by ProgID that reports what it is told to.
class AuditFI : public rt::Object, public pelmora::IFunctionalInterface {
public:
    rt::Variant priorities, messages, arguments, before;
    bool fails = false;
    std::string componentName, fieldName, type;
    std::shared_ptr<pelmora::IComponentService> service;
    std::shared_ptr<pelmora::IDataContext> dataContext;

    rt::Variant get_ArgumentArray() override { return arguments; }
    void put_ArgumentArray(const rt::Variant& v) override { arguments = v; }
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
        if (fails) throw rt::ComError(pelmora::kErrorBase + 5, "audit", "broken");
        if (fieldName != "ZONE_ID" || !service || !dataContext) return;  // not prepared: no finding
        p = priorities;
        m = messages;
    }
};

class FeatureValidationFixture : public validationtest::ValidationSetFixture {
protected:
    void SetUp() override {
        ValidationSetFixture::SetUp();
        application_ = std::make_shared<product::DesktopApplication>();
        installed_ = std::make_unique<product::ScopedApplication>(application_);
        pelmora::SetStatusBarText("Ready", 1);
        service_ = std::dynamic_pointer_cast<pelmora::FeatureValidationService>(
            rt::CreateObject(pelmora::kFeatureValidationServiceProgId));
        ASSERT_NE(service_, nullptr);
        service_->putref_DataContext(Context());
    }
    void TearDown() override {
        service_.reset();
        for (const auto& id : progIds_) rt::UnregisterClass(id);
        installed_.reset();
        ValidationSetFixture::TearDown();
    }

    void Sql(const std::string& sql) {
        rt::Variant affected;
        sqlite_->ExecuteSQL(sql, affected, 1);
    }

    // Changes one attribute row of the cached metadata of this test.
    void SetAttribute(int32_t ano, const std::string& field, const rt::Variant& value) {
        const std::string key = "QTX_ATTRIBUTEINFO_OPTABLE";
        auto recordsets = metadata_->get_Recordsets();
        auto item = recordsets->get_Item(rt::Variant(key));
        auto rs = item->get_Recordset();
        if (rs->get_LockType() == ado::adLockReadOnly) {
            // The cached table is read-only: an editable copy takes its place.
            const std::string source = item->get_Source();
            rs = ado::Recordset::FromImage(rs->ToImage(), ado::adLockOptimistic, ado::adOpenKeyset);
            recordsets->Remove(rt::Variant(key));
            recordsets->AppendRecordset(key, source, rs);
        }
        for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext())
            if (rt::CLng(rs->GetValue(rt::Variant("QTX_ANO"))) == ano) {
                rs->SetValue(rt::Variant(field), value);
                rs->Update();
                return;
            }
        FAIL() << "no attribute " << ano;
    }

    // "FNO/FID/CNO/CID|description|location" per finding on one of the
    // features asked, "|priority" added
    // when it is not the error priority; every finding carries the run's
    // configuration.
    Lines Findings(const std::shared_ptr<ado::Recordset>& rs, const std::vector<Key>& keys) {
        Lines out;
        for (const auto& row : validationtest::FindingRows(rs)) {
            // The relationships' findings on related features are theirs to test.
            bool asked = false;
            for (const Key& k : keys) asked = asked || (row[4] == std::to_string(k.fno) && row[5] == std::to_string(k.fid));
            if (!asked) continue;
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
    std::vector<std::string> progIds_;
};

TEST_F(FeatureValidationFixture, EditedFeaturesGetOneRowPerFault) {
    struct Case {
        const char* what;
        Lines sql;
        std::vector<Key> features;
        Lines findings;
    };
    const Case cases[] = {
        {"untouched features", {}, {{101, 1001}, {102, 2001}, {102, 2002}}, {}},
        {"a required component without rows",
         {"DELETE FROM VALVE_PT WHERE QTX_FID = 2001"},
         {{102, 2001}},
         {"102/2001/22/Null|" + Msg(25086, "'Valve Symbol'", "22", "102") + "|"}},
        {"two records of a non-repeating component",
         {"INSERT INTO VALVE_N (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, VALVE_TYPE, NORMAL_POSITION) "
          "VALUES (90, 102, 2001, 21, 2, 'GATE', 'OPEN')"},
         {{102, 2001}},
         {"102/2001/21/Null|" + Msg(25084, "'Valve Attributes'", "21", "102") + "|"}},
        {"a required component and its alternate missing",
         {"DELETE FROM WATER_MAIN_LN WHERE QTX_FID = 1001", "DELETE FROM WATER_MAIN_LBL WHERE QTX_FID = 1001"},
         {{101, 1001}},
         {"101/1001/12/Null|" + Msg(25086, "'Water Main Line'", "12", "101") + "|",
          "101/1001/13/Null|" + Msg(25089, "Water Main Label", "13", "Water Main Line", "12", "101") + "|"}},
        {"a required value missing, in the row it is missing from",
         {"UPDATE QTX_COMMON_N SET FEATURE_STATE = NULL WHERE QTX_FID = 2001"},
         {{102, 2001}, {102, 2002}},
         {"102/2001/1/1|" + Msg(25088, "Feature State", "Common Attributes") + "|"}},
        {"a feature without any record is left out",
         {"DELETE FROM QTX_COMMON_N WHERE QTX_FID = 2002", "DELETE FROM VALVE_N WHERE QTX_FID = 2002",
          "DELETE FROM VALVE_PT WHERE QTX_FID = 2002", "UPDATE VALVE_N SET VALVE_TYPE = NULL WHERE QTX_FID = 2001"},
         {{102, 2002}, {102, 2001}},
         {"102/2001/21/1|" + Msg(25088, "Valve Type", "Valve Attributes") + "|"}},
    };
    for (const Case& c : cases) {
        sqlite_ = env_->OpenDataContext();
        sqlite_->putref_MetadataService(rt::QueryInterface<pelmora::IMetadataService>(metadata_));
        service_->putref_DataContext(Context());
        for (const auto& sql : c.sql) Sql(sql);
        EXPECT_EQ(Validate(c.features), c.findings) << c.what;
    }
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
             SetAttribute(2101, "QTX_DOMAINTABLE", rt::Variant("VALVE_TYPES"));
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

TEST_F(FeatureValidationFixture, PendingEditsAreTheFeaturesSavedSinceTheCommit) {
    auto assembly = std::make_shared<pelmora::FeatureAssemblyService>();
    assembly->putref_DataContext(Context());
    auto valve = assembly->OpenFeature(102, 2001);
    auto common = valve->get_Components()->get_Item(rt::Variant("COMMON_ATTR"));
    common->put_FunctionalInterfacesEnabled(false);
    auto rs = common->get_Recordset();
    rs->SetValue(rt::Variant("FEATURE_STATE"), rt::Variant::Null());
    rs->Update();
    auto saved = pelmora::KeyObjects::New();
    saved->Add(valve);
    assembly->UpdateFeatures(saved);

    auto result = service_->ValidatePendingEdits();
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(Findings(result, {{102, 2001}}), Lines{"102/2001/1/1|" + Msg(25088, "Feature State", "Common Attributes") + "|"});
    sqlite_->Commit();
    EXPECT_EQ(service_->ValidatePendingEdits(), nullptr);
}

TEST_F(FeatureValidationFixture, KeysAndDomainsAreLookedUpWithTheValueTyped) {
    Sql("CREATE TABLE PRESSURE_ZONES (ZONE_ID INTEGER, ZONE_NAME TEXT)");
    Sql("INSERT INTO PRESSURE_ZONES VALUES (3, 'Harbour')");
    Sql("CREATE TABLE VALVE_TYPES (TYPE_CODE TEXT)");
    Sql("INSERT INTO VALVE_TYPES VALUES ('GATE'), ('O''BRIEN')");
    const std::string zone = Msg(25077, "Pressure Zone", "Water Main Attributes", "ZONE_ID", "PRESSURE_ZONES");
    const std::string type = Msg(25078, "Valve Type", "Valve Attributes", "TYPE_CODE", "VALVE_TYPES");
    struct Case {
        const char* what;
        std::function<void()> prepare;
        std::vector<Key> features;
        Lines findings;
    };
    const Case cases[] = {
        {"a zone not in the key table", [this] { Sql("UPDATE WATER_MAIN_N SET ZONE_ID = 9 WHERE QTX_FID = 1002"); },
         {{101, 1001}, {101, 1002}}, {"101/1002/11/1|" + zone + "|"}},
        {"an attribute that is not required is not looked up",
         [this] { SetAttribute(1105, "QTX_REQUIRED", rt::Variant(int32_t{0})); }, {{101, 1002}}, {}},
        {"a domain in the database, a quote in the value",
         [this] {
             SetAttribute(2101, "QTX_DOMAINTABLE", rt::Variant("VALVE_TYPES"));
             SetAttribute(2101, "QTX_DOMAINFIELD", rt::Variant("TYPE_CODE"));
             Sql("UPDATE VALVE_N SET VALVE_TYPE = 'O''BRIEN' WHERE QTX_FID = 2001");
         },
         {{102, 2001}, {102, 2002}}, {"102/2002/21/1|" + type + "|"}},
        {"a foreign key takes precedence over the domain",
         [this] {
             SetAttribute(2101, "QTX_FOREIGNKEYTABLE", rt::Variant("VALVE_N"));
             SetAttribute(2101, "QTX_FOREIGNKEYFIELD", rt::Variant("VALVE_TYPE"));
         },
         {{102, 2001}, {102, 2002}}, {}},
    };
    metadata_->get_Recordsets()->AppendRecordset("QTX_PICKLIST_OPTABLE", "", Picklist({}));
    SetAttribute(1105, "QTX_REQUIRED", rt::Variant(int32_t{1}));
    SetAttribute(1105, "QTX_FOREIGNKEYTABLE", rt::Variant("PRESSURE_ZONES"));
    SetAttribute(1105, "QTX_FOREIGNKEYFIELD", rt::Variant("ZONE_ID"));
    for (const Case& c : cases) {
        c.prepare();
        EXPECT_EQ(Validate(c.features), c.findings) << c.what;
    }
}

TEST_F(FeatureValidationFixture, PublishedDomainsAreFilteredWithTypedLiterals) {
    // A published picklist: the domain is the cached table, not the database.
    auto picklist = Picklist({"VALVE_TYPES"});
    auto domain = ado::Recordset::Create();
    domain->get_Fields()->Append("TYPE_CODE", ado::adVarChar, 30);
    domain->get_Fields()->Append("SIZE_MM", ado::adInteger);
    domain->Open();
    for (auto [code, size] : {std::pair{"O'BRIEN", 200}, std::pair{"GATE", 999}}) {
        domain->AddNew();
        domain->SetValue(rt::Variant("TYPE_CODE"), rt::Variant(code));
        domain->SetValue(rt::Variant("SIZE_MM"), rt::Variant(int32_t{size}));
        domain->Update();
    }
    auto recordsets = metadata_->get_Recordsets();
    recordsets->AppendRecordset("QTX_PICKLIST_OPTABLE", "", picklist);
    recordsets->AppendRecordset("VALVE_TYPES", "", domain);
    Sql("UPDATE VALVE_N SET VALVE_TYPE = 'O''BRIEN' WHERE QTX_FID = 2001");
    SetAttribute(2101, "QTX_DOMAINTABLE", rt::Variant("VALVE_TYPES"));
    SetAttribute(2101, "QTX_DOMAINFIELD", rt::Variant("TYPE_CODE"));
    SetAttribute(2103, "QTX_REQUIRED", rt::Variant(int32_t{1}));
    SetAttribute(2103, "QTX_DOMAINTABLE", rt::Variant("VALVE_TYPES"));
    SetAttribute(2103, "QTX_DOMAINFIELD", rt::Variant("SIZE_MM"));
    EXPECT_EQ(Validate({{102, 2001}, {102, 2002}}),
              (Lines{"102/2002/21/1|" + Msg(25078, "Valve Type", "Valve Attributes", "TYPE_CODE", "VALVE_TYPES") + "|",
                     "102/2002/21/1|" + Msg(25078, "Size (mm)", "Valve Attributes", "SIZE_MM", "VALVE_TYPES") + "|"}));
}

TEST_F(FeatureValidationFixture, FunctionalInterfacesOfTheThreeKindsAddTheirFindings) {
    const rt::Variant priorities = rt::Variant::ArrayOf({rt::Variant("Warning")});
    const rt::Variant messages = rt::Variant::ArrayOf({rt::Variant("zone audit failed")});
    std::vector<std::string> named;
    struct Case {
        const char* what;
        std::string name;
        int32_t project;
        std::function<void()> prepare;
        std::string finding;  // description and location
    };
    auto byProgId = [&](const std::string& progId, bool fails) {
        return [&, progId, fails] {
            auto fi = std::make_shared<AuditFI>();
            fi->priorities = priorities;
            fi->messages = messages;
            fi->fails = fails;
            rt::RegisterClass(progId, "", [fi] { return std::static_pointer_cast<rt::Object>(fi); });
            progIds_.push_back(progId);
        };
    };
    const Case cases[] = {
        {"by ProgID", "Test.ZoneAudit", 0, byProgId("Test.ZoneAudit", false), "zone audit failed|Test.ZoneAudit|Warning"},
        {"a ProgID that fails in Validate", "Test.BrokenAudit", 0, byProgId("Test.BrokenAudit", true),
         Msg(27082, "Test.BrokenAudit", "broken") + "|Test.BrokenAudit"},
        {"a ProgID nobody registered", "Test.Missing", 0, [] {}, Msg(27081, "Test.Missing") + "|Test.Missing"},
        {"a name with a colon", "Test:ZoneAudit", 0,
         [&] {
             auto fi = std::make_shared<exttest::NamedFI>();
             fi->validatePriorities = priorities;
             fi->validateMessages = messages;
             product::RegisterInterfaceObject("Test:ZoneAudit", [fi] { return std::static_pointer_cast<rt::Object>(fi); });
             named.push_back("Test:ZoneAudit");
         },
         "zone audit failed|Test:ZoneAudit|Warning"},
        {"a project number before the name", "Test.Missing", 7,
         [&] {
             auto fi = std::make_shared<exttest::ProjectFI>();
             fi->validatePriorities = priorities;
             fi->validateMessages = messages;
             product::VbaProjectHost::Current()->LoadProject(7, fi);
         },
         "zone audit failed|Test.Missing|Warning"},
    };
    for (const Case& c : cases) {
        c.prepare();
        SetAttribute(1105, "QTX_INTERFACE", rt::Variant(c.name));
        SetAttribute(1105, "QTX_FUNCTIONALVALIDATION", rt::Variant(int32_t{1}));
        SetAttribute(1105, "QTX_PRJNO", rt::Variant(c.project));
        EXPECT_EQ(Validate({{101, 1001}}), Lines{"101/1001/11/1|" + c.finding}) << c.what;
    }
    for (const auto& name : named) product::UnregisterInterfaceObject(name);
}

}  // namespace
