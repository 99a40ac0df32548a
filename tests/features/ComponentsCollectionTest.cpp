// The components collection on the sample network: adding by number and by
// recordset, lookups, the single-feature answer, refreshing, and handing the
// pending rows to component persistence.
#include "ComponentTestSupport.h"

#include "pelmora/common/MiscEnvironment.h"
#include "pelmora/features/BackwardPointer.h"
#include "pelmora/features/Components.h"
#include "pelmora/persistence/ComponentDatabaseService.h"
#include "support/Raises.h"

using componenttest::ComponentFixture;
using componenttest::FIDsOf;
using componenttest::LongArray;
using componenttest::Values;
using pelmora::Component;
using pelmora::Components;
using pelmora_test::ErrorOf;

namespace {

std::shared_ptr<Component> AsComponent(const std::shared_ptr<pelmora::IComponent>& c) {
    return rt::QueryInterface<Component>(c);
}

// Stands for component persistence: records the components it is given, and
// fails on the one named in failOn.
class RecordingDatabaseService : public rt::Object, public pelmora::IComponentDatabaseService {
public:
    std::vector<std::string> queued;
    std::vector<int32_t> pendingAtQueue;
    std::string failOn;
    std::function<void()> onFirst;

    void putref_DataContext(const std::shared_ptr<pelmora::IDataContext>&) override {}
    void BeginComponentOperations() override {}
    void UpdateComponent(const std::shared_ptr<pelmora::IComponent>& objComponent) override {
        if (queued.empty() && onFirst) onFirst();
        queued.push_back(objComponent->get_Name());
        int32_t pending = 0;
        if (objComponent->get_RecordsetLocal()) {
            auto rs = objComponent->get_Recordset();
            pending = static_cast<int32_t>(rs->PendingRows().size());
        }
        pendingAtQueue.push_back(pending);
        if (objComponent->get_Name() == failOn) throw rt::ComError(5, "test", "refused");
    }
    void EndComponentOperations() override {}
};

class ComponentsFixture : public ComponentFixture {
protected:
    std::shared_ptr<Components> NewCollection() {
        auto components = std::make_shared<Components>();
        components->putref_DataContext(Context());
        return components;
    }
};

}  // namespace

TEST_F(ComponentsFixture, AnEmptyCollection) {
    pelmora::FunctionalInterfaceLogPath().clear();  // as in a fresh apartment
    auto components = NewCollection();
    EXPECT_EQ(components->get_Count(), 0);
    EXPECT_FALSE(components->GetComponent(11));
    EXPECT_TRUE(components->get_NewEnum().empty());
    EXPECT_EQ(ErrorOf([&] { components->get_Item(rt::Variant(int32_t{1})); }), 9);
    EXPECT_EQ(ErrorOf([&] { components->get_Item(rt::Variant("WATER_MAIN_ATTR")); }), 5);
    EXPECT_TRUE(components->IsSingleFeature());
    // The first collection of the apartment names the log of the functional interfaces.
    EXPECT_EQ(pelmora::FunctionalInterfaceLogPath(), pelmora::GetTempDirectory() + "/FunctionalInterfaces.log");
}

TEST_F(ComponentsFixture, ComponentsAreKeptByNameAndFoundByNumber) {
    auto components = NewCollection();
    components->AddComponentByCNO(11, rt::Variant(int32_t{1001}));
    components->AddComponentByCNO(12, LongArray({1001, 1002}));
    ASSERT_EQ(components->get_Count(), 2);
    EXPECT_EQ(components->get_Item(rt::Variant(int32_t{2}))->get_Name(), "WATER_MAIN_LINE");
    EXPECT_EQ(components->get_Item(rt::Variant("water_main_attr")), components->get_Item(rt::Variant(int32_t{1})));
    EXPECT_EQ(components->GetComponent(12), components->get_Item(rt::Variant(int32_t{2})));
    EXPECT_EQ(FIDsOf(*AsComponent(components->GetComponent(12))), (std::vector<int32_t>{1001, 1002}));
    EXPECT_EQ(components->get_Item(rt::Variant(int32_t{1}))->get_DataContext(), Context());

    // A second component of a number has the same name: refused, not added.
    EXPECT_EQ(ErrorOf([&] { components->AddComponentByCNO(11, rt::Variant(int32_t{1002})); }), 457);
    // Errors of the component reach the caller; nothing is added.
    EXPECT_NE(ErrorOf([&] { components->AddComponentByCNO(999, rt::Variant(int32_t{1})); }), 0);
    EXPECT_NE(ErrorOf([&] { components->AddComponentByCNO(14, rt::Variant("1001")); }), 0);
    EXPECT_EQ(components->get_Count(), 2);

    // The reduced face hands out the same components.
    auto qz = rt::QueryInterface<pelmora::QzComponents>(components);
    EXPECT_EQ(qz->get_Count(), 2);
    EXPECT_EQ(rt::ObjectPtrOf(qz->get_Item(rt::Variant("WATER_MAIN_LINE"))),
              rt::ObjectPtrOf(components->GetComponent(12)));
    EXPECT_FALSE(qz->GetComponent(13));
    EXPECT_EQ(qz->get_NewEnum().size(), 2u);
    EXPECT_EQ(rt::CLng(rt::CallByName(components, "Count", rt::InvokeKind::PropertyGet)), 2);
}

TEST_F(ComponentsFixture, AddingByRecordsetKeepsTheCallersPosition) {
    auto rows = NewComponent(11, {1001, 1002, 1003})->get_Recordset();
    rows->MoveFirst();
    rows->MoveNext();
    rows->MoveNext();
    auto components = NewCollection();
    components->AddComponentByRecordset(11, rows);
    EXPECT_EQ(rt::CLng(rows->GetValue(rt::Variant("QTX_FID"))), 1003);
    auto c = AsComponent(components->get_Item(rt::Variant(int32_t{1})));
    EXPECT_EQ(FIDsOf(*c), (std::vector<int32_t>{1001, 1002, 1003}));
    EXPECT_EQ(c->get_Recordset(), rows);
    EXPECT_EQ(c->EventRecordset(), rows);

    // An empty recordset gives a component without FIDs.
    auto none = NewComponent(14, {4242})->get_Recordset();
    components->AddComponentByRecordset(14, none);
    EXPECT_EQ(AsComponent(components->GetComponent(14))->get_FIDCount(), 0);
}

TEST_F(ComponentsFixture, WithoutBackwardPointersComponentsStandAloneAndUnhooked) {
    auto components = NewCollection();
    components->AddComponentByCNO(11, rt::Variant(int32_t{1001}));
    components->put_SetBackwardPointers(false);
    components->AddComponentByCNO(12, rt::Variant(int32_t{1001}));
    components->AddComponentByRecordset(14, NewComponent(14, {1001})->get_Recordset()->Clone());

    auto before = AsComponent(components->GetComponent(11));
    auto after = AsComponent(components->GetComponent(12));
    auto adopted = AsComponent(components->GetComponent(14));
    ASSERT_TRUE(before->get_BackwardPointer());
    EXPECT_EQ(rt::ObjectPtrOf(before->OwningCollection()), rt::ObjectPtrOf(components));
    EXPECT_FALSE(after->get_BackwardPointer());
    EXPECT_FALSE(after->OwningCollection());
    after->get_Recordset();
    EXPECT_FALSE(after->EventRecordset());
    EXPECT_FALSE(adopted->EventRecordset());
    before->get_Recordset();
    EXPECT_TRUE(before->EventRecordset());
}

TEST_F(ComponentsFixture, SingleFeatureIsAnsweredOnceFromTheFIDs) {
    auto same = NewCollection();
    same->AddComponentByCNO(11, rt::Variant(int32_t{1001}));
    same->AddComponentByCNO(12, rt::Variant(int32_t{1001}));
    EXPECT_TRUE(same->IsSingleFeature());
    same->AddComponentByCNO(14, rt::Variant(int32_t{1002}));
    EXPECT_TRUE(same->IsSingleFeature());  // kept

    auto different = NewCollection();
    different->AddComponentByCNO(11, rt::Variant(int32_t{1001}));
    different->AddComponentByCNO(12, rt::Variant(int32_t{1002}));
    EXPECT_FALSE(different->IsSingleFeature());

    auto several = NewCollection();
    several->AddComponentByCNO(11, LongArray({1001, 1002}));
    EXPECT_FALSE(several->IsSingleFeature());

    // A component holding no FID does not decide, and does not fail.
    auto withEmpty = NewCollection();
    withEmpty->AddComponentByRecordset(14, NewComponent(14, {4242})->get_Recordset());
    withEmpty->AddComponentByCNO(11, rt::Variant(int32_t{1001}));
    EXPECT_TRUE(withEmpty->IsSingleFeature());
}

TEST_F(ComponentsFixture, RefreshDropsUnsavedEditsAndUpdateWritesNothing) {
    auto components = NewCollection();
    components->AddComponentByCNO(11, rt::Variant(int32_t{1001}));
    auto c = components->get_Item(rt::Variant(int32_t{1}));
    auto rs = c->get_Recordset();
    rs->MoveFirst();
    rs->SetValue(rt::Variant("MATERIAL"), rt::Variant("STEEL"));
    rs->Update();

    components->Update();
    EXPECT_EQ(dc_->updates, 0);
    EXPECT_EQ(rs->PendingRows().size(), 1u);

    components->Refresh();
    EXPECT_FALSE(c->get_RecordsetLocal());
    EXPECT_EQ(Values(c->get_Recordset(), "MATERIAL"), (std::vector<std::string>{"DI"}));
}

TEST_F(ComponentsFixture, UpdateComponentsHandsEveryComponentToPersistenceInOrder) {
    auto components = NewCollection();
    components->AddComponentByCNO(11, rt::Variant(int32_t{1001}));
    components->AddComponentByCNO(12, rt::Variant(int32_t{1001}));
    components->AddComponentByCNO(14, rt::Variant(int32_t{1001}));
    // Unhooked, so that the deletion's own events read no interface rows.
    AsComponent(components->GetComponent(14))->put_EventsEnabled(false);
    auto rs = components->GetComponent(14)->get_Recordset();
    rs->MoveFirst();
    rs->Delete();

    auto service = std::make_shared<RecordingDatabaseService>();
    // Every component has run its update interfaces before the first is
    // queued: the last one has read its interface rows by then.
    bool lastProcessedFirst = false;
    service->onFirst = [&] { lastProcessedFirst = AsComponent(components->GetComponent(14))->AttributeInfoLoaded(); };
    EXPECT_FALSE(AsComponent(components->GetComponent(14))->AttributeInfoLoaded());
    components->UpdateComponents(service);
    EXPECT_TRUE(lastProcessedFirst);
    EXPECT_EQ(service->queued, (std::vector<std::string>{"WATER_MAIN_ATTR", "WATER_MAIN_LINE", "WATER_MAIN_LINING"}));
    EXPECT_EQ(service->pendingAtQueue, (std::vector<int32_t>{0, 0, 1}));
    // Only the lining loaded its rows: queueing loads nothing.
    EXPECT_FALSE(components->GetComponent(11)->get_RecordsetLocal());
    EXPECT_EQ(dc_->updates, 0);

    // The first failure stops the loop.
    auto failing = std::make_shared<RecordingDatabaseService>();
    failing->failOn = "WATER_MAIN_LINE";
    EXPECT_EQ(ErrorOf([&] { components->UpdateComponents(failing); }), 5);
    EXPECT_EQ(failing->queued, (std::vector<std::string>{"WATER_MAIN_ATTR", "WATER_MAIN_LINE"}));
}
