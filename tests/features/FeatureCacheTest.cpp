// The feature cache of the apartment: turning it on and off, caching
// features created or opened by any service, and saving every cached edit
// in one batch of component persistence (seen through a recording stand-in,
// then written to the sample database).
#include "FeatureAssemblyTestSupport.h"

#include "ado/Enums.h"
#include "pelmora/features/modFASCache.h"
#include "pelmora/persistence/ComponentDatabaseService.h"
#include "support/Raises.h"

using featuretest::FeatureAssemblyFixture;
using featuretest::Key;
using featuretest::Keys;
using pelmora::IComponent;
using pelmora::IComponentDatabaseService;
using pelmora::IKeyObject;
using pelmora_test::Raised;

namespace {

struct Batch {
    std::vector<std::string> calls;
    bool failAtEnd = false;
};

// Stands in for component persistence: notes each call, and each component
// handed over with its class and pending row count.
class RecordingPersistence : public rt::Object, public IComponentDatabaseService {
public:
    explicit RecordingPersistence(std::shared_ptr<Batch> batch) : batch_(std::move(batch)) {}
    void putref_DataContext(const std::shared_ptr<pelmora::IDataContext>&) override {
        batch_->calls.push_back("DataContext");
    }
    void BeginComponentOperations() override { batch_->calls.push_back("Begin"); }
    void UpdateComponent(const std::shared_ptr<IComponent>& c) override {
        int32_t pending = 0;
        if (c->get_RecordsetLocal()) {
            auto rs = c->get_Recordset();
            rt::Variant keep = rs->get_Filter();
            rs->put_Filter(rt::Variant(int32_t{ado::adFilterPendingRecords}));
            pending = rs->get_RecordCount();
            rs->put_Filter(keep);
        }
        batch_->calls.push_back(rt::ObjectPtrOf(c)->TypeName() + " " + c->get_Name() + " " + std::to_string(pending));
    }
    void EndComponentOperations() override {
        batch_->calls.push_back("End");
        if (batch_->failAtEnd) throw rt::ComError(static_cast<int32_t>(0x80040000u) + 23288, "test", "refused");
    }

private:
    std::shared_ptr<Batch> batch_;
};

class FeatureCacheFixture : public FeatureAssemblyFixture {
protected:
    void TearDown() override {
        pelmora::RegisterComponentDatabaseService();
        FeatureAssemblyFixture::TearDown();
    }
    std::shared_ptr<Batch> Record() {
        auto batch = std::make_shared<Batch>();
        rt::RegisterClass(pelmora::kComponentDatabaseServiceProgId, "{7A3E5C90-1D2B-4F6A-8C4E-2B9D0F1A3C51}",
                          [batch] { return std::make_shared<RecordingPersistence>(batch); });
        return batch;
    }
    pelmora::IFeatureAssemblyServiceCache& Cache() { return *service_; }

    static void Edit(const std::shared_ptr<IKeyObject>& feature, const std::string& component,
                     const std::string& field, const rt::Variant& value) {
        auto rs = feature->get_Components()->get_Item(rt::Variant(component))->get_Recordset();
        rs->MoveFirst();
        rs->SetValue(rt::Variant(field), value);
        rs->Update();
    }
};

}  // namespace

TEST_F(FeatureCacheFixture, WhileCachingIsOffNothingIsCachedOrSaved) {
    auto batch = Record();
    EXPECT_FALSE(Cache().get_Caching());
    auto valve = service_->NewFeature(102, 0);
    auto opened = service_->OpenFeature(102, 2001);
    Cache().AddToCache(Keys({rt::QueryInterface<pelmora::KeyObject>(opened)}));
    EXPECT_EQ(pelmora::FindFeatureInCache(102, 2001), nullptr);
    EXPECT_EQ(pelmora::FindFeatureInCache(102, valve->get_FID()), nullptr);
    EXPECT_EQ(pelmora::CachedComponentsOf(21), nullptr);
    Cache().SaveCache();
    EXPECT_TRUE(batch->calls.empty());
}

TEST_F(FeatureCacheFixture, TheCacheIsSharedByTheApartmentsServicesAndEmptiedByTurningItOn) {
    Cache().put_Caching(true);
    EXPECT_TRUE(Cache().get_Caching());
    auto valve = service_->NewFeature(102, 0);
    ASSERT_EQ(pelmora::FindFeatureInCache(102, valve->get_FID()), valve);
    ASSERT_TRUE(pelmora::CachedComponentsOf(21));
    EXPECT_EQ(pelmora::CachedComponentsOf(21)->Count(), 1);

    // Another service finds it, and sees the cache on.
    auto other = std::make_shared<pelmora::FeatureAssemblyService>();
    EXPECT_TRUE(other->get_Caching());
    EXPECT_EQ(other->OpenFeature(102, valve->get_FID()), valve);

    // On again: a new, empty cache.
    other->put_Caching(true);
    EXPECT_EQ(pelmora::FindFeatureInCache(102, valve->get_FID()), nullptr);
    EXPECT_EQ(pelmora::CachedComponentsOf(21), nullptr);
    EXPECT_EQ(pelmora::FeatureCache().componentsList->Count(), 0);

    // Off: the cache is dropped unsaved.
    service_->NewFeature(102, 0);
    Cache().put_Caching(false);
    EXPECT_FALSE(other->get_Caching());
    EXPECT_EQ(pelmora::FeatureCache().features, nullptr);
    EXPECT_EQ(pelmora::FeatureCache().componentCollections, nullptr);
    EXPECT_EQ(pelmora::FeatureCache().componentsList, nullptr);
}

TEST_F(FeatureCacheFixture, AnEmptyCacheStillBeginsAndEndsABatch) {
    auto batch = Record();
    Cache().put_Caching(true);
    Cache().SaveCache();
    EXPECT_EQ(batch->calls, (std::vector<std::string>{"DataContext", "Begin", "End"}));
    EXPECT_TRUE(Cache().get_Caching());
    EXPECT_EQ(pelmora::FeatureCache().features->get_Count(), 0);
}

TEST_F(FeatureCacheFixture, EveryCachedComponentIsHandedOverOnceInOneBatch) {
    auto batch = Record();
    Cache().put_Caching(true);
    auto valve = service_->NewFeature(102, 0);
    auto hydrant = service_->NewFeature(103, 0);
    auto opened = service_->OpenFeature(102, 2002);
    Edit(opened, "VALVE_ATTR", "TURNS_TO_CLOSE", rt::Variant(int32_t{9}));
    // Features added again, by hand and by opening, are kept once.
    auto again = pelmora::KeyObjects::New();
    again->Add(valve);
    again->Add(opened);
    Cache().AddToCache(again);
    Cache().AddToCache(again);
    EXPECT_EQ(service_->OpenFeature(102, 2002), opened);

    Cache().SaveCache();
    // Per component number in the order first cached; each component with
    // its pending rows (the opened valve's symbol never read its rows).
    EXPECT_EQ(batch->calls, (std::vector<std::string>{
                                "DataContext", "Begin",
                                "Component COMMON_ATTR 1", "Component COMMON_ATTR 1", "Component COMMON_ATTR 0",
                                "Component VALVE_ATTR 1", "Component VALVE_ATTR 1",
                                "Component VALVE_SYMBOL 1", "Component VALVE_SYMBOL 0",
                                "Component HYDRANT_ATTR 1", "Component HYDRANT_SYMBOL 1",
                                "Component HYDRANT_INSPECTION 0", "Component OWNER_LINKS 0", "End"}));
    // Saved features leave the cache; caching stays on.
    EXPECT_TRUE(Cache().get_Caching());
    EXPECT_EQ(pelmora::FindFeatureInCache(102, valve->get_FID()), nullptr);
    EXPECT_EQ(pelmora::FindFeatureInCache(103, hydrant->get_FID()), nullptr);
    EXPECT_EQ(pelmora::CachedComponentsOf(1), nullptr);
}

TEST_F(FeatureCacheFixture, AFailedBatchLeavesTheCacheAsItWas) {
    auto batch = Record();
    batch->failAtEnd = true;
    Cache().put_Caching(true);
    auto valve = service_->NewFeature(102, 0);
    auto e = Raised([&] { Cache().SaveCache(); });
    EXPECT_EQ(e.Number(), static_cast<int32_t>(0x80040000u) + 23288);
    EXPECT_EQ(pelmora::FindFeatureInCache(102, valve->get_FID()), valve);
    EXPECT_EQ(pelmora::CachedComponentsOf(21)->Count(), 1);
}

TEST_F(FeatureCacheFixture, ClonesInTheCacheAreNotHandedOver) {
    auto batch = Record();
    Cache().put_Caching(true);
    auto first = Key(102, 2001), second = Key(102, 2002);
    auto features = Keys({first, second});
    service_->OpenFeatures(features, false);
    Edit(first, "VALVE_ATTR", "TURNS_TO_CLOSE", rt::Variant(int32_t{5}));
    // The per-feature views go into the cache as well.
    Cache().AddToCache(features);
    EXPECT_EQ(pelmora::CachedComponentsOf(21)->Count(), 3);

    Cache().SaveCache();
    // One shared component per number, holding both valves' rows; the
    // views' rows are its rows.
    EXPECT_EQ(batch->calls, (std::vector<std::string>{"DataContext", "Begin", "Component COMMON_ATTR 0",
                                                      "Component VALVE_ATTR 1", "Component VALVE_SYMBOL 0", "End"}));
}

TEST_F(FeatureCacheFixture, SavedFeaturesAreInTheDatabase) {
    Cache().put_Caching(true);
    auto valve = service_->NewFeature(102, 0);
    auto line = service_->NewFeature(104, 0);
    auto opened = service_->OpenFeature(102, 2001);
    Edit(valve, "VALVE_ATTR", "TURNS_TO_CLOSE", rt::Variant(int32_t{33}));
    Edit(opened, "VALVE_ATTR", "SIZE_MM", rt::Variant(int32_t{250}));

    Cache().SaveCache();
    const std::string newValve = std::to_string(valve->get_FID());
    EXPECT_EQ(Column("SELECT TURNS_TO_CLOSE FROM VALVE_N WHERE QTX_FID = " + newValve, "TURNS_TO_CLOSE"),
              (std::vector<std::string>{"33"}));
    EXPECT_EQ(Column("SELECT QTX_CNO FROM QTX_COMMON_N WHERE QTX_FID IN (" + newValve + ", " +
                         std::to_string(line->get_FID()) + ") ORDER BY QTX_FID",
                     "QTX_CNO"),
              (std::vector<std::string>{"1", "1"}));
    EXPECT_EQ(Column("SELECT SIZE_MM FROM VALVE_N WHERE QTX_FID = 2001", "SIZE_MM"), (std::vector<std::string>{"250"}));

    // Saving again sends nothing twice: the cache is empty.
    EXPECT_NO_THROW(Cache().SaveCache());
    EXPECT_EQ(Column("SELECT QTX_ID FROM VALVE_N WHERE QTX_FID = " + newValve, "QTX_ID").size(), 1u);
}
