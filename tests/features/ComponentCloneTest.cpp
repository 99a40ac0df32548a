// Per-feature views of a component holding several features: what a clone
// refuses, its filtered rows, moving the source with it, its geometry, and
// the collection of clones.
#include "ComponentTestSupport.h"

#include "pelmora/features/ComponentClone.h"
#include "pelmora/features/Components.h"
#include "pelmora/features/ComponentsClone.h"
#include "support/Raises.h"

using componenttest::ComponentFixture;
using componenttest::LongArray;
using componenttest::Message;
using componenttest::Values;
using pelmora::Component;
using pelmora::ComponentClone;
using pelmora::Components;
using pelmora::ComponentsClone;
using pelmora_test::ErrorOf;
using pelmora_test::Raised;

namespace {

constexpr int32_t kError1 = static_cast<int32_t>(0x80040001);

class CloneFixture : public ComponentFixture {
protected:
    // The collection of the three water mains opened together.
    std::shared_ptr<Components> Mains(bool events = true) {
        auto components = std::make_shared<Components>();
        components->putref_DataContext(Context());
        components->put_SetBackwardPointers(events);
        components->AddComponentByCNO(11, LongArray({1001, 1002, 1003}));
        components->AddComponentByCNO(12, LongArray({1001, 1002, 1003}));
        return components;
    }

    std::shared_ptr<ComponentClone> CloneOf(const std::shared_ptr<pelmora::IComponent>& source,
                                            const std::string& filter) {
        auto clone = std::make_shared<ComponentClone>();
        clone->InitClone(source, filter);
        return clone;
    }
};

}  // namespace

TEST_F(CloneFixture, ACloneRefusesChangesToItsIdentity) {
    auto fresh = std::make_shared<ComponentClone>();
    auto e = Raised([&] { fresh->get_Name(); });
    EXPECT_EQ(e.Number(), kError1);
    EXPECT_EQ(e.Source(), Message(23765));
    EXPECT_EQ(e.Description(), Message(23768));
    EXPECT_EQ(Raised([&] { fresh->get_Recordset(); }).Description(), Message(23768));
    EXPECT_EQ(Raised([&] { fresh->Update(); }).Description(), Message(23768));
    EXPECT_EQ(fresh->get_Filter(), "");

    auto source = Mains()->GetComponent(11);
    source->put_FunctionalInterfacesEnabled(false);
    auto clone = CloneOf(source, "QTX_FID = 1002");
    EXPECT_EQ(clone->get_CNO(), 11);
    EXPECT_EQ(clone->get_Name(), "WATER_MAIN_ATTR");
    EXPECT_EQ(clone->get_TableName(), "WATER_MAIN_N");
    EXPECT_EQ(clone->get_DataContext(), Context());
    EXPECT_FALSE(clone->get_FunctionalInterfacesEnabled());
    EXPECT_TRUE(clone->get_AttributeEditControlEnabled());
    EXPECT_EQ(clone->get_Filter(), "QTX_FID = 1002");

    EXPECT_EQ(Raised([&] { clone->AddFID(rt::Variant(int32_t{1})); }).Description(), Message(23764));
    EXPECT_EQ(Raised([&] { clone->put_CNO(12); }).Description(), Message(23766));
    EXPECT_EQ(Raised([&] { clone->Update(); }).Description(), Message(23767));
    EXPECT_EQ(Raised([&] { clone->putref_DataContext(nullptr); }).Description(), Message(23769));
    EXPECT_EQ(Raised([&] { clone->put_Filter(""); }).Description(), Message(23770));
    EXPECT_EQ(clone->get_CNO(), 11);
    EXPECT_EQ(clone->get_Filter(), "QTX_FID = 1002");
    EXPECT_EQ(dc_->updates, 0);
}

TEST_F(CloneFixture, ClonesShowOnlyTheirFeaturesRows) {
    auto mains = Mains();
    auto source = mains->GetComponent(11);
    auto first = CloneOf(source, "QTX_FID = 1001");
    auto second = CloneOf(source, "QTX_FID = 1002");
    EXPECT_FALSE(first->get_RecordsetLocal());  // the source has not loaded

    auto rows1 = first->get_Recordset();
    auto rows2 = second->get_Recordset();
    EXPECT_TRUE(first->get_RecordsetLocal());
    EXPECT_EQ(rows1->get_RecordCount(), 1);
    EXPECT_EQ(rows2->get_RecordCount(), 1);
    EXPECT_EQ(Values(rows1, "MATERIAL"), (std::vector<std::string>{"DI"}));
    EXPECT_EQ(Values(rows2, "MATERIAL"), (std::vector<std::string>{"PVC"}));
    EXPECT_EQ(source->get_Recordset()->get_RecordCount(), 3);
    EXPECT_EQ(dc_->opens.size(), 1u);  // the source's rows, read once

    // The private component holds just the clone's feature and is marked as a clone.
    auto inner = first->PrivateComponent();
    ASSERT_TRUE(inner);
    EXPECT_TRUE(inner->get_ClonedComponent());
    EXPECT_EQ(componenttest::FIDsOf(*inner), (std::vector<int32_t>{1001}));
    EXPECT_EQ(inner->get_BackwardPointer(), rt::QueryInterface<Component>(source)->get_BackwardPointer());

    // Rows are shared: a change through the clone, once updated, is seen by the source.
    rows2->MoveFirst();
    rows2->SetValue(rt::Variant("ZONE_ID"), rt::Variant(int32_t{9}));
    rows2->Update();
    auto all = source->get_Recordset();
    all->put_Filter(rt::Variant("ZONE_ID = 9"));
    EXPECT_EQ(Values(all, "QTX_FID"), (std::vector<std::string>{"1002"}));
    all->put_Filter(rt::Variant(int32_t{0}));

    EXPECT_EQ(first->get_Recordset(), rows1);
    first->ReleaseRecordset();
    EXPECT_FALSE(first->PrivateComponent());
    auto rebuilt = first->get_Recordset();
    EXPECT_NE(rebuilt, rows1);
    EXPECT_EQ(rebuilt->get_RecordCount(), 1);
}

TEST_F(CloneFixture, TheClonesComponentHasTheSourcesIdentity) {
    // An attribute component and a geometric one: the private component's
    // name, table and geometry kind are the source's, not a default.
    for (int16_t cno : {int16_t{11}, int16_t{12}}) {
        SCOPED_TRACE(cno);
        auto source = rt::QueryInterface<Component>(Mains()->GetComponent(cno));
        auto clone = CloneOf(source, "QTX_FID = 1003");
        clone->get_Recordset();
        auto inner = clone->PrivateComponent();
        ASSERT_TRUE(inner);
        EXPECT_EQ(inner->get_CNO(), cno);
        EXPECT_EQ(inner->get_Name(), source->get_Name());
        EXPECT_EQ(inner->get_TableName(), source->get_TableName());
        EXPECT_EQ(inner->HasGeometry(), source->HasGeometry());
        EXPECT_EQ(inner->HasGeometry(), cno == 12);
    }
}

TEST_F(CloneFixture, MovingTheCloneMovesTheSourceWhileItRaisesEvents) {
    auto source = Mains()->GetComponent(11);
    auto clone = CloneOf(source, "QTX_FID <> 1001");
    auto rows = clone->get_Recordset();
    EXPECT_TRUE(rows->get_EOF());  // left after the walk
    auto sourceRows = source->get_Recordset();
    rows->MoveFirst();
    rows->MoveNext();
    EXPECT_EQ(rt::CLng(sourceRows->GetValue(rt::Variant("QTX_FID"))), 1003);
    rows->MoveFirst();
    EXPECT_EQ(rt::CLng(sourceRows->GetValue(rt::Variant("QTX_FID"))), 1002);
    rows->MoveNext();
    rows->MoveNext();  // EOF: the source stays
    EXPECT_EQ(rt::CLng(sourceRows->GetValue(rt::Variant("QTX_FID"))), 1003);

    auto quietSource = Mains(false)->GetComponent(11);
    auto quietRows = quietSource->get_Recordset();
    quietRows->MoveFirst();
    auto quiet = CloneOf(quietSource, "QTX_FID <> 1001");
    auto view = quiet->get_Recordset();
    view->MoveFirst();
    view->MoveNext();
    EXPECT_EQ(rt::CLng(quietRows->GetValue(rt::Variant("QTX_FID"))), 1001);
}

TEST_F(CloneFixture, GeometryOfTheClonesRowAndWritingThroughTheSource) {
    auto source = Mains()->GetComponent(12);
    auto clone = CloneOf(source, "QTX_FID = 1002");
    auto g = clone->get_Geometry();
    ASSERT_TRUE(g);
    auto points = rt::CallByName(g, "Points", rt::InvokeKind::PropertyGet).Obj();
    EXPECT_EQ(rt::CLng(rt::CallByName(points, "Count", rt::InvokeKind::PropertyGet)), 2);
    // The private component has its own clone of the source's geometry rows.
    auto own = clone->PrivateComponent()->get_GeometryRecordset();
    auto sourceRows = rt::QueryInterface<Component>(source)->get_GeometryRecordset();
    ASSERT_TRUE(own && sourceRows);
    EXPECT_NE(own, sourceRows);
    EXPECT_EQ(own->get_RecordCount(), sourceRows->get_RecordCount());

    // Setting a geometry writes at the source's current row (moved there by the clone).
    auto other = CloneOf(source, "QTX_FID = 1003")->get_Geometry();
    auto rows = clone->get_Recordset();
    rows->MoveFirst();
    clone->putref_Geometry(other);
    EXPECT_EQ(rt::CLng(source->get_Recordset()->GetValue(rt::Variant("QTX_FID"))), 1002);
    auto check = CloneOf(source, "QTX_FID = 1002")->get_Geometry();
    points = rt::CallByName(check, "Points", rt::InvokeKind::PropertyGet).Obj();
    EXPECT_EQ(rt::CLng(rt::CallByName(points, "Count", rt::InvokeKind::PropertyGet)), 3);
}

TEST_F(CloneFixture, ReleasingACloneLeavesTheSharedDescriptors) {
    auto source = Mains()->GetComponent(11);
    auto infos = rt::Collection::New();
    auto info = pelmora::FieldInfo::New();
    info->put_Name("MATERIAL");
    infos->Add(rt::Variant(std::static_pointer_cast<rt::Object>(info)), rt::Variant("MATERIAL"));
    rt::QueryInterface<Component>(source)->putref_FieldInfoCollection(infos);
    std::weak_ptr<Component> inner;
    {
        auto clone = CloneOf(source, "QTX_FID = 1001");
        clone->get_Recordset();
        EXPECT_EQ(clone->PrivateComponent()->get_FieldInfoCollection(), infos);
        inner = clone->PrivateComponent();
    }
    EXPECT_TRUE(inner.expired());
    EXPECT_EQ(infos->Count(), 1);
    EXPECT_EQ(rt::QueryInterface<Component>(source)->get_FieldInfoCollection(), infos);
}

TEST_F(CloneFixture, TheCollectionOfClones) {
    auto mains = Mains();
    auto clones = std::make_shared<ComponentsClone>();
    clones->CopyDataContext(mains);
    EXPECT_EQ(clones->get_DataContext(), Context());
    for (const auto& c : mains->get_NewEnum()) clones->AddClone(c, "QTX_FID = 1003");
    EXPECT_EQ(clones->get_Count(), 2);
    EXPECT_EQ(ErrorOf([&] { clones->AddClone(mains->GetComponent(11), "QTX_FID = 1001"); }), 457);
    EXPECT_EQ(clones->get_Count(), 2);

    auto line = clones->GetComponent(12);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->get_Name(), "WATER_MAIN_LINE");
    EXPECT_EQ(clones->get_Item(rt::Variant("water_main_line")), line);
    EXPECT_EQ(ErrorOf([&] { clones->get_Item(rt::Variant("NONE")); }), 5);
    EXPECT_EQ(ErrorOf([&] { clones->get_Item(rt::Variant(int32_t{3})); }), 9);
    EXPECT_FALSE(clones->GetComponent(14));
    EXPECT_EQ(Values(clones->get_Item(rt::Variant(int32_t{1}))->get_Recordset(), "MATERIAL"),
              (std::vector<std::string>{"PE"}));

    auto refused = [&](const std::function<void()>& f) {
        auto e = Raised(f);
        EXPECT_EQ(e.Source(), Message(23772));
        return e.Description();
    };
    EXPECT_EQ(refused([&] { clones->AddComponentByCNO(14, rt::Variant(int32_t{1003})); }), Message(23771));
    EXPECT_EQ(refused([&] { clones->AddComponentByRecordset(14, nullptr); }), Message(23773));
    EXPECT_EQ(refused([&] { clones->putref_DataContext(nullptr); }), Message(23769));
    EXPECT_EQ(refused([&] { clones->Refresh(); }), Message(23774));
    clones->Update();  // nothing, and no error

    auto qz = rt::QueryInterface<pelmora::QzComponents>(clones);
    EXPECT_EQ(qz->get_Count(), 2);
    EXPECT_EQ(rt::ObjectPtrOf(qz->GetComponent(12)), rt::ObjectPtrOf(line));
}

TEST_F(CloneFixture, AClonesNameIsFoundInAnyLetterCaseAndNoOtherTextFindsIt) {
    auto mains = Mains();
    auto clones = std::make_shared<ComponentsClone>();
    clones->CopyDataContext(mains);
    for (const auto& c : mains->get_NewEnum()) clones->AddClone(c, "QTX_FID = 1003");
    const auto line = clones->GetComponent(12);
    ASSERT_TRUE(line);
    struct Case {
        const char* key;
        bool found;
    };
    const Case cases[] = {{"WATER_MAIN_LINE", true},  {"water_main_line", true},  {"Water_Main_Line", true},
                          {"WATER_MAIN_LINE ", false}, {"WATER_MAIN_LIN", false}, {"W\xc3\x84TER_MAIN_LINE", false},
                          {"", false}};
    for (const Case& c : cases) {
        if (c.found)
            EXPECT_EQ(clones->get_Item(rt::Variant(c.key)), line) << c.key;
        else
            EXPECT_EQ(ErrorOf([&] { clones->get_Item(rt::Variant(c.key)); }), 5) << c.key;
    }
}
