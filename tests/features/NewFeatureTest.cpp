// Creating features on the sample network: keys from the database's
// sequences lined up with the rows created, required rows from the
// placement metadata, defaults, every option combination, placement
// configurations, and values the sequence package hands back that cannot be
// keys.
#include "FeatureAssemblyTestSupport.h"

#include "ado/Command.h"
#include "ado/Enums.h"
#include "pelmora/features/modFASCache.h"
#include "pelmora/persistence/ComponentDatabaseService.h"
#include "product/MetadataCacheBuilder.h"
#include "support/EditableMetadata.h"
#include "support/Raises.h"

using componenttest::Message;
using componenttest::Values;
using featuretest::CNOsOf;
using featuretest::FeatureAssemblyFixture;
using featuretest::NamesOf;
using pelmora::Component;
using pelmora::IKeyObject;
using pelmora_test::Raised;

namespace {

// The sample context, noting each list of sequences asked for; a test may
// put its own answer in place of the package's.
class SequenceContext : public pelmora_test::RecordingContext {
public:
    using RecordingContext::RecordingContext;
    std::vector<std::string> lists;
    std::string answer;  // "" lets the package answer

    std::shared_ptr<ado::Recordset> ExecuteCommand(const std::shared_ptr<ado::Command>& Command,
                                                   rt::Variant& RecordsAffected) override {
        if (Command->get_CommandText().find("QTX_GETSEQVAL") == std::string::npos)
            return RecordingContext::ExecuteCommand(Command, RecordsAffected);
        auto parameters = Command->get_Parameters();
        lists.push_back(rt::CStr(parameters->get_Item(rt::Variant("Prm"))->get_Value()));
        if (answer.empty()) return RecordingContext::ExecuteCommand(Command, RecordsAffected);
        parameters->get_Item(rt::Variant("OutPrm"))->put_Value(rt::Variant(answer));
        return nullptr;
    }
};

class NewFeatureFixture : public FeatureAssemblyFixture {
protected:
    void SetUp() override {
        FeatureAssemblyFixture::SetUp();
        context_ = std::make_shared<SequenceContext>(sqlite_);
        service_->putref_DataContext(context_);
    }
    void TearDown() override {
        context_.reset();
        FeatureAssemblyFixture::TearDown();
    }

    // The value the sequence hands out next (taking it).
    int64_t NextValue(const std::string& sequence) {
        auto rs = sqlite_->OpenRecordset("SELECT " + sequence + ".NEXTVAL FROM DUAL");
        return static_cast<int64_t>(rt::CDbl(rs->get_Fields()->Item(0)->get_Value()));
    }
    void RestartSequence(const std::string& sequence, const std::string& start) {
        rt::Variant affected;
        sqlite_->ExecuteSQL("DROP SEQUENCE " + sequence, affected, -1);
        sqlite_->ExecuteSQL("CREATE SEQUENCE " + sequence + " START WITH " + start, affected, -1);
    }
    std::shared_ptr<ado::Recordset> Rows(const std::shared_ptr<IKeyObject>& feature, const std::string& component) {
        return feature->get_Components()->get_Item(rt::Variant(component))->get_Recordset();
    }
    std::shared_ptr<Component> Part(const std::shared_ptr<IKeyObject>& feature, const std::string& component) {
        return rt::QueryInterface<Component>(feature->get_Components()->get_Item(rt::Variant(component)));
    }

    std::shared_ptr<SequenceContext> context_;
};

std::string Field(const std::shared_ptr<ado::Recordset>& rs, const std::string& name) {
    rt::Variant v = rs->GetValue(rt::Variant(name));
    return v.IsNull() ? "Null" : rt::CStr(v);
}

}  // namespace

TEST_F(NewFeatureFixture, ValveGetsOneKeyedRowPerRequiredComponent) {
    auto valve = service_->NewFeature(102, pelmora::qzfasIgnoreNone);
    ASSERT_TRUE(valve);
    EXPECT_EQ(valve->get_FNO(), 102);
    EXPECT_EQ(valve->get_FID(), 6000);
    EXPECT_EQ(valve->get_CNO(), 0);
    EXPECT_EQ(valve->get_CID(), 0);
    EXPECT_EQ(service_->get_FeatureID(), 6000);
    EXPECT_EQ(service_->FilteredFeatureNumber(), std::optional<int16_t>(102));
    EXPECT_EQ(NamesOf(valve->get_Components()),
              (std::vector<std::string>{"COMMON_ATTR", "VALVE_ATTR", "VALVE_SYMBOL"}));
    ASSERT_EQ(context_->lists.size(), 1u);
    EXPECT_EQ(context_->lists[0], "QTX_FID_SEQ.NextVal, QTX_COMMON_N_SEQ.NextVal, VALVE_N_SEQ.NextVal, "
                                  "VALVE_PT_SEQ.NextVal");

    // Each row: the next value of its table's sequence and the feature's keys,
    // pending as an addition.
    struct Expect {
        const char* component;
        const char* id;
        const char* cno;
    };
    for (const Expect& e : {Expect{"COMMON_ATTR", "5614", "1"}, Expect{"VALVE_ATTR", "5604", "21"},
                            Expect{"VALVE_SYMBOL", "5604", "22"}}) {
        SCOPED_TRACE(e.component);
        auto rs = Rows(valve, e.component);
        ASSERT_EQ(rs->get_RecordCount(), 1);
        rs->MoveFirst();
        EXPECT_EQ(Field(rs, "QTX_ID"), e.id);
        EXPECT_EQ(Field(rs, "QTX_FNO"), "102");
        EXPECT_EQ(Field(rs, "QTX_FID"), "6000");
        EXPECT_EQ(Field(rs, "QTX_CNO"), e.cno);
        EXPECT_EQ(Field(rs, "QTX_CID"), "1");
        EXPECT_EQ(rs->get_Status(), ado::adRecNew);
        auto part = Part(valve, e.component);
        EXPECT_TRUE(part->get_SetDefaultValuesEnabled());
        EXPECT_TRUE(part->get_AutoAssignKeys());
        EXPECT_TRUE(part->get_FieldInfoCollection());
    }
    // The database defaults of the attribute metadata.
    auto attr = Rows(valve, "VALVE_ATTR");
    EXPECT_EQ(Field(attr, "VALVE_TYPE"), "GATE");
    EXPECT_EQ(Field(attr, "NORMAL_POSITION"), "OPEN");
    EXPECT_EQ(Field(attr, "SIZE_MM"), "150");
    EXPECT_EQ(Field(attr, "TURNS_TO_CLOSE"), "Null");
    EXPECT_EQ(Field(Rows(valve, "COMMON_ATTR"), "OWNER"), "CITY");
    // Geometry rows only for the geometry component.
    EXPECT_TRUE(Part(valve, "VALVE_SYMBOL")->get_GeometryRecordset());
    EXPECT_FALSE(Part(valve, "VALVE_ATTR")->get_GeometryRecordset());

    // Nothing is written: the rows are only pending.
    EXPECT_TRUE(Column("SELECT QTX_ID FROM VALVE_N WHERE QTX_FID = 6000", "QTX_ID").empty());
    EXPECT_EQ(NextValue("VALVE_N_SEQ"), 5605);
}

TEST_F(NewFeatureFixture, OptionalAndAlternativeComponentsGetNoRowButTheFID) {
    auto main = service_->NewFeature(101, pelmora::qzfasIgnoreNone);
    ASSERT_TRUE(main);
    EXPECT_EQ(CNOsOf(main->get_Components()), (std::vector<int16_t>{1, 11, 12, 13, 14}));
    ASSERT_EQ(context_->lists.size(), 1u);
    EXPECT_EQ(context_->lists[0], "QTX_FID_SEQ.NextVal, QTX_COMMON_N_SEQ.NextVal, WATER_MAIN_N_SEQ.NextVal, "
                                  "WATER_MAIN_LN_SEQ.NextVal");
    // The label is required only as the line's alternative, the lining not at all.
    for (const char* name : {"WATER_MAIN_LABEL", "WATER_MAIN_LINING"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Rows(main, name)->get_RecordCount(), 0);
        EXPECT_EQ(componenttest::FIDsOf(*Part(main, name)), (std::vector<int32_t>{main->get_FID()}));
    }
    EXPECT_EQ(Field(Rows(main, "WATER_MAIN_LINE"), "QTX_ID"), "16");
    EXPECT_EQ(NextValue("WATER_MAIN_LBL_SEQ"), 2);
    EXPECT_EQ(NextValue("WATER_LINING_N_SEQ"), 3);
}

TEST_F(NewFeatureFixture, KeysFollowTheRowsCreatedWhenAComponentBetweenIsNotRequired) {
    // A network whose main has its attributes optional: required, optional,
    // required, in that order; with its own metadata cache.
    const std::string database = env_->CopyDatabase();
    {
        auto edit = product::SqliteDataContext::Open(database);
        rt::Variant affected;
        edit->ExecuteSQL("UPDATE QTX_FEATUREPLACEMENT_OPTABLE SET QTX_REQUIRED = 0 WHERE QTX_FNO = 101 AND QTX_CNO = 11",
                         affected, -1);
        edit->Commit();
    }
    product::CacheBuildOptions options;
    options.databasePath = database;
    options.cacheDirectory = env_->NewFolder("optional-cache");
    options.configurationName = "Optional Attributes";
    options.configurationMapPath = options.cacheDirectory + "/map.txt";
    auto built = product::BuildMetadataCache(options);
    ::setenv("PELMORA_CONFIGURATION_MAP", built.configurationMapPath.c_str(), 1);
    auto metadata = std::make_shared<pelmora::MetadataService>();
    metadata->put_Configuration("Optional Attributes");
    auto sqlite = product::SqliteDataContext::Open(database);
    sqlite->putref_MetadataService(rt::QueryInterface<pelmora::IMetadataService>(metadata));
    auto context = std::make_shared<SequenceContext>(sqlite);
    auto service = std::make_shared<pelmora::FeatureAssemblyService>();
    service->putref_DataContext(context);

    context->answer = "101,205,206";
    auto main = service->NewFeature(101, pelmora::qzfasIgnoreNone);
    ASSERT_TRUE(main);
    ASSERT_EQ(context->lists.size(), 1u);
    EXPECT_EQ(context->lists[0], "QTX_FID_SEQ.NextVal, QTX_COMMON_N_SEQ.NextVal, WATER_MAIN_LN_SEQ.NextVal");
    EXPECT_EQ(main->get_FID(), 101);
    EXPECT_EQ(Field(Rows(main, "COMMON_ATTR"), "QTX_ID"), "205");
    EXPECT_EQ(Field(Rows(main, "WATER_MAIN_LINE"), "QTX_ID"), "206");
    EXPECT_EQ(Rows(main, "WATER_MAIN_ATTR")->get_RecordCount(), 0);
    EXPECT_EQ(componenttest::FIDsOf(*Part(main, "WATER_MAIN_ATTR")), (std::vector<int32_t>{101}));
    service.reset();
    main.reset();
    context.reset();
    sqlite.reset();
    ::setenv("PELMORA_CONFIGURATION_MAP", env_->ConfigurationMapPath().c_str(), 1);
}

TEST_F(NewFeatureFixture, EveryOptionCombination) {
    for (int32_t options = 0; options < 16; ++options) {
        SCOPED_TRACE("options " + std::to_string(options));
        const bool rows = (options & pelmora::qzfasIgnoreRequiredRecords) == 0;
        const bool defaults = (options & pelmora::qzfasIgnoreDatabaseDefaults) == 0;
        const bool keys = (options & pelmora::qzfasIgnoreQTXKeys) == 0;
        const bool cache = (options & pelmora::qzfasIgnoreCache) == 0;
        pelmora::SetCaching(true);
        context_->lists.clear();
        const int32_t featureIdBefore = service_->get_FeatureID();

        auto hydrant = service_->NewFeature(103, options);
        ASSERT_TRUE(hydrant);
        EXPECT_EQ(hydrant->get_FNO(), 103);
        EXPECT_EQ(CNOsOf(hydrant->get_Components()), (std::vector<int16_t>{1, 31, 32, 33, 581}));
        if (keys) {
            ASSERT_EQ(context_->lists.size(), 1u);
            EXPECT_EQ(context_->lists[0], rows ? "QTX_FID_SEQ.NextVal, QTX_COMMON_N_SEQ.NextVal, HYDRANT_N_SEQ.NextVal, "
                                                 "HYDRANT_PT_SEQ.NextVal"
                                               : "QTX_FID_SEQ.NextVal");
            EXPECT_GT(hydrant->get_FID(), featureIdBefore);
            EXPECT_EQ(service_->get_FeatureID(), hydrant->get_FID());
        } else {
            EXPECT_TRUE(context_->lists.empty());
            EXPECT_EQ(hydrant->get_FID(), 0);
            EXPECT_EQ(service_->get_FeatureID(), featureIdBefore);
        }

        for (const auto& component : hydrant->get_Components()->get_NewEnum()) {
            SCOPED_TRACE(component->get_Name());
            auto part = rt::QueryInterface<Component>(component);
            auto rs = component->get_Recordset();
            const bool required = component->get_CNO() != 33 && component->get_CNO() != 581;
            EXPECT_EQ(rs->get_RecordCount(), rows && required ? 1 : 0);
            EXPECT_EQ(part->get_SetDefaultValuesEnabled(), defaults);
            EXPECT_EQ(part->get_AutoAssignKeys(), keys);
            // The descriptors that gave the defaults go with the component.
            if (rows && required && defaults) {
                EXPECT_TRUE(part->get_FieldInfoCollection());
            }
            if (rs->get_RecordCount() == 0) {
                EXPECT_EQ(componenttest::FIDsOf(*part), (std::vector<int32_t>{hydrant->get_FID()}));
                continue;
            }
            rs->MoveFirst();
            for (const char* key : {"QTX_ID", "QTX_FNO", "QTX_FID", "QTX_CNO", "QTX_CID"})
                EXPECT_EQ(rs->GetValue(rt::Variant(key)).IsNull(), !keys) << key;
            if (keys) {
                EXPECT_EQ(Field(rs, "QTX_FID"), std::to_string(hydrant->get_FID()));
            }
            if (component->get_CNO() == 1) {
                EXPECT_EQ(Field(rs, "FEATURE_STATE"), defaults ? "PPI" : "Null");
            }
            if (component->get_CNO() == 31) {
                EXPECT_EQ(Field(rs, "HYDRANT_TYPE"), defaults ? "PILLAR" : "Null");
            }
        }

        auto cached = pelmora::FindFeatureInCache(103, hydrant->get_FID());
        EXPECT_EQ(cached == hydrant, cache);
        EXPECT_EQ(pelmora::CachedComponentsOf(31) != nullptr, cache);
    }
    pelmora::SetCaching(false);
}

TEST_F(NewFeatureFixture, WithoutKeysTheRowsAreCreatedWithoutThem) {
    auto valve = service_->NewFeature(102, pelmora::qzfasIgnoreQTXKeys);
    ASSERT_TRUE(valve);
    EXPECT_EQ(valve->get_FID(), 0);
    auto attr = Rows(valve, "VALVE_ATTR");
    ASSERT_EQ(attr->get_RecordCount(), 1);
    EXPECT_EQ(Field(attr, "QTX_FID"), "Null");
    EXPECT_EQ(Field(attr, "VALVE_TYPE"), "GATE");
    // No sequence value was taken.
    EXPECT_TRUE(context_->lists.empty());
    EXPECT_EQ(NextValue("QTX_FID_SEQ"), 6000);
    EXPECT_EQ(NextValue("VALVE_N_SEQ"), 5604);
    // The rows stay editable: the caller gives the keys.
    attr->MoveFirst();
    attr->SetValue(rt::Variant("QTX_FID"), rt::Variant(int32_t{7000}));
    attr->Update();
    EXPECT_EQ(Field(attr, "QTX_FID"), "7000");
}

TEST_F(NewFeatureFixture, RefusalsAndFeatureNumbersWithoutComponents) {
    auto e = Raised([&] { service_->NewFeature(-1, 0); });
    EXPECT_EQ(e.Number(), static_cast<int32_t>(0x80040001u));
    EXPECT_EQ(e.Source(), Message(21982));
    EXPECT_EQ(e.Description(), Message(23775));

    // No components: nothing, and no key used.
    EXPECT_EQ(service_->NewFeature(100, 0), nullptr);
    EXPECT_TRUE(context_->lists.empty());
    EXPECT_EQ(service_->FilteredFeatureNumber(), std::optional<int16_t>(100));

    auto bare = std::make_shared<pelmora::FeatureAssemblyService>();
    e = Raised([&] { bare->NewFeature(102, 0); });
    EXPECT_EQ(e.Number(), 1);
    EXPECT_EQ(e.Description(), Message(23180));
    e = Raised([&] { bare->NewPlacementConfiguration(1); });
    EXPECT_EQ(e.Number(), 1);
    EXPECT_EQ(e.Description(), Message(23180));

    // The default face creates a feature of the current feature number.
    service_->put_FeatureNumber(104);
    auto line = service_->NewFeature(pelmora::qzfasIgnoreRequiredRecords);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->get_FNO(), 104);
    EXPECT_EQ(context_->lists.back(), "QTX_FID_SEQ.NextVal");
}

TEST_F(NewFeatureFixture, SequenceValuesAreReadInOrderAndMustBeKeys) {
    context_->answer = " 101, 205,206 ,207";
    auto valve = service_->NewFeature(102, 0);
    ASSERT_TRUE(valve);
    EXPECT_EQ(valve->get_FID(), 101);
    EXPECT_EQ(Field(Rows(valve, "COMMON_ATTR"), "QTX_ID"), "205");
    EXPECT_EQ(Field(Rows(valve, "VALVE_ATTR"), "QTX_ID"), "206");
    EXPECT_EQ(Field(Rows(valve, "VALVE_SYMBOL"), "QTX_ID"), "207");

    // A value past 32 bits is no key: a plain error names it, and the
    // service's feature id stays.
    context_->answer = "2147483648";
    auto e = Raised([&] { service_->NewFeature(102, pelmora::qzfasIgnoreRequiredRecords); });
    EXPECT_EQ(e.Number(), rt::vberr::Overflow);
    EXPECT_NE(e.Description().find("2147483648"), std::string::npos) << e.Description();
    EXPECT_NE(e.Description().find("QTX_FID_SEQ.NextVal"), std::string::npos) << e.Description();
    EXPECT_EQ(service_->get_FeatureID(), 101);

    context_->answer = "6001,99999999999999999999999";
    e = Raised([&] { service_->NewFeature(102, 0); });
    EXPECT_EQ(e.Number(), rt::vberr::Overflow);
    EXPECT_NE(e.Description().find("QTX_COMMON_N_SEQ.NextVal"), std::string::npos) << e.Description();

    context_->answer = "6001,x";
    e = Raised([&] { service_->NewFeature(102, 0); });
    EXPECT_EQ(e.Number(), rt::vberr::TypeMismatch);
    context_->answer = "6001,,7";
    e = Raised([&] { service_->NewFeature(102, 0); });
    EXPECT_EQ(e.Number(), rt::vberr::TypeMismatch);
    EXPECT_EQ(service_->get_FeatureID(), 101);
}

TEST_F(NewFeatureFixture, SequencesOfTheDatabaseNearTheLimit) {
    RestartSequence("QTX_FID_SEQ", "2147483647");
    auto last = service_->NewFeature(104, pelmora::qzfasIgnoreRequiredRecords);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->get_FID(), 2147483647);
    // The next one does not fit.
    auto e = Raised([&] { service_->NewFeature(104, pelmora::qzfasIgnoreRequiredRecords); });
    EXPECT_EQ(e.Number(), rt::vberr::Overflow);
    EXPECT_EQ(e.Source(), Message(21982));
    EXPECT_EQ(service_->get_FeatureID(), 2147483647);
}

TEST_F(NewFeatureFixture, PlacementConfigurationCreatesOneFeaturePerIncludedPair) {
    auto features = service_->NewPlacementConfiguration(1);
    ASSERT_TRUE(features);
    std::vector<int16_t> fnos;
    std::vector<int32_t> fids;
    for (const auto& f : features->get_NewEnum()) {
        fnos.push_back(f->get_FNO());
        fids.push_back(f->get_FID());
        EXPECT_TRUE(f->get_Components());
    }
    // Valves 1 and 2, hydrant 1 once, the service line left out.
    EXPECT_EQ(fnos, (std::vector<int16_t>{101, 102, 102, 103}));
    EXPECT_EQ(fids, (std::vector<int32_t>{6000, 6001, 6002, 6003}));
    EXPECT_EQ(context_->lists.size(), 4u);
}

TEST_F(NewFeatureFixture, PlacementConfigurationSkipsNumbersWithoutComponents) {
    auto features = service_->NewConfiguration(3);
    std::vector<int16_t> fnos;
    for (const auto& f : features->get_NewEnum()) fnos.push_back(f->get_FNO());
    // Main 1 once, main 2 (one row left out, one included), the valve; number 100 has no components.
    EXPECT_EQ(fnos, (std::vector<int16_t>{101, 101, 102}));
    EXPECT_EQ(context_->lists.size(), 3u);

    auto e = Raised([&] { service_->NewPlacementConfiguration(99); });
    EXPECT_EQ(e.Number(), 1);
    EXPECT_EQ(e.Source(), Message(21982));
    EXPECT_EQ(e.Description(), Message(23192));
}

TEST_F(NewFeatureFixture, NewFeaturesSaveThroughTheServiceAndLateBinding) {
    pelmora::RegisterComponentDatabaseService();
    auto late = rt::CreateObject(pelmora::kFeatureAssemblyServiceProgId);
    rt::CallByName(late, "DataContext", rt::InvokeKind::PropertySet,
                   {rt::Variant(std::static_pointer_cast<rt::Object>(context_))});
    rt::CallByName(late, "FeatureNumber", rt::InvokeKind::PropertyLet, {rt::Variant(int16_t{102})});
    auto valve = rt::QueryInterface<IKeyObject>(rt::CallByName(late, "NewFeature", rt::InvokeKind::Method).Obj());
    auto attr = Rows(valve, "VALVE_ATTR");
    attr->MoveFirst();
    attr->SetValue(rt::Variant("TURNS_TO_CLOSE"), rt::Variant(int32_t{17}));
    attr->Update();

    auto features = pelmora::KeyObjects::New();
    features->Add(valve);
    rt::QueryInterface<pelmora::FeatureAssemblyService>(late)->UpdateFeatures(features);
    const std::string where = " WHERE QTX_FID = " + std::to_string(valve->get_FID());
    EXPECT_EQ(Column("SELECT TURNS_TO_CLOSE FROM VALVE_N" + where, "TURNS_TO_CLOSE"),
              (std::vector<std::string>{"17"}));
    EXPECT_EQ(Column("SELECT VALVE_TYPE FROM VALVE_N" + where, "VALVE_TYPE"), (std::vector<std::string>{"GATE"}));
    EXPECT_EQ(Column("SELECT QTX_CNO FROM QTX_COMMON_N" + where, "QTX_CNO"), (std::vector<std::string>{"1"}));
}

TEST_F(NewFeatureFixture, ADefaultForAnAttributeNamingNoColumnFailsNamingAttributeAndComponent) {
    for (const char* field : {"ZONE_ID' OR '1'='1", "[ZONE_ID]"}) {
        ASSERT_TRUE(pelmora_test::SetMetadataAttribute(*metadata_, 1105, "QTX_FIELD", rt::Variant(field)));
        ASSERT_TRUE(pelmora_test::SetMetadataAttribute(*metadata_, 1105, "DATA_DEFAULT", rt::Variant(int32_t{7})));
        const rt::ComError e = Raised([&] { service_->NewFeature(101, pelmora::qzfasIgnoreNone); });
        EXPECT_EQ(e.Number(), ado::err::ItemNotFound) << field;
        for (const std::string& named : {std::string("ANO 1105"), "\"" + std::string(field) + "\"", std::string("WATER_MAIN_N")})
            EXPECT_NE(e.Description().find(named), std::string::npos) << e.Description();
    }
    // Without a default the field is never looked up.
    ASSERT_TRUE(pelmora_test::SetMetadataAttribute(*metadata_, 1105, "DATA_DEFAULT", rt::Variant::Null()));
    EXPECT_NE(service_->NewFeature(101, pelmora::qzfasIgnoreNone), nullptr);
}
