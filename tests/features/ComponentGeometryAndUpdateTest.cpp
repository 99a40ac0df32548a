// A component's geometry through the product's geometry service, new
// geometry ids from the table's sequence, writing pending rows through the
// data context, and the walk that finds the rows whose update interfaces
// fire.
#include "ComponentTestSupport.h"

#include "ado/Enums.h"
#include "support/Raises.h"

using componenttest::ComponentFixture;
using componenttest::Message;
using componenttest::Values;
using pelmora::Component;
using pelmora_test::Raised;

namespace {

int32_t PointCount(const rt::ObjectPtr& geometry) {
    auto points = rt::CallByName(geometry, "Points", rt::InvokeKind::PropertyGet).Obj();
    return rt::CLng(rt::CallByName(points, "Count", rt::InvokeKind::PropertyGet));
}

std::string TypeOf(const rt::ObjectPtr& geometry) {
    return rt::CStr(rt::CallByName(geometry, "Type", rt::InvokeKind::PropertyGet));
}

// Counts the rows whose Update functional interfaces would fire.
class CountingComponent : public Component {
public:
    std::vector<std::string> fired;

protected:
    void UpdateFI() override {
        rt::Variant id = get_Recordset()->GetValue(rt::Variant("QTX_ID"));
        fired.push_back(id.IsNull() ? "Null" : rt::CStr(id));
    }
};

}  // namespace

TEST_F(ComponentFixture, GeometryOfTheCurrentRowIsReadFromItsRows) {
    auto line = NewComponent(12, {1001});
    auto g = line->get_Geometry();  // one row: the component moves to it
    ASSERT_TRUE(g);
    EXPECT_EQ(TypeOf(g), "PolylineGeometry");
    EXPECT_EQ(PointCount(g), 6);

    auto lines = NewComponent(12, {1001, 1002, 1003});
    auto rs = lines->get_Recordset();
    rs->MoveFirst();
    rs->MoveNext();
    EXPECT_EQ(PointCount(lines->get_Geometry()), 2);
    EXPECT_EQ(dc_->opens.size(), 4u);  // rows and geometry rows of each component, once
    rs->MoveNext();
    EXPECT_EQ(PointCount(lines->get_Geometry()), 3);
    EXPECT_EQ(dc_->opens.size(), 4u);

    // A row without an id has no geometry.
    rs->MoveFirst();
    rs->SetValue(rt::Variant("QTX_ID"), rt::Variant::Null());
    EXPECT_FALSE(lines->get_Geometry());
}

TEST_F(ComponentFixture, GeometryIsNothingWithoutGeometryMode) {
    dc_->dataMode = 2;
    auto line = NewComponent(12, {1001});
    EXPECT_FALSE(line->get_Geometry());
    EXPECT_TRUE(dc_->opens.empty());
    EXPECT_FALSE(line->get_RecordsetLocal());

    dc_->dataMode = 0;
    auto empty = NewComponent(12, {4242});
    EXPECT_FALSE(empty->get_Geometry());
}

TEST_F(ComponentFixture, SettingGeometryOnANewRowTakesTheNextIdAndIsWritten) {
    auto source = NewComponent(22, {2002});
    auto symbol = source->get_Geometry();
    ASSERT_TRUE(symbol);

    auto valve = NewComponent(22, {2001});
    auto rs = valve->get_Recordset();
    rs->AddNew();
    for (auto [field, value] : {std::pair<const char*, int32_t>{"QTX_FNO", 102}, {"QTX_FID", 2001},
                                {"QTX_CNO", 22}, {"QTX_CID", 2}})
        rs->SetValue(rt::Variant(field), rt::Variant(value));
    EXPECT_TRUE(rs->GetValue(rt::Variant("QTX_ID")).IsNull());
    valve->putref_Geometry(symbol);
    ASSERT_EQ(dc_->plainOpens.size(), 1u);
    EXPECT_EQ(dc_->plainOpens[0], "select VALVE_PT_SEQ.NextVal from dual");
    EXPECT_EQ(rt::CLng(rs->GetValue(rt::Variant("QTX_ID"))), 5604);
    rs->Update();

    // The geometry reads back from the pending rows, then from the database.
    EXPECT_EQ(TypeOf(valve->get_Geometry()), TypeOf(symbol));
    valve->Update();
    EXPECT_EQ(Column("SELECT * FROM VALVE_PT WHERE QTX_FID = 2001 ORDER BY QTX_CID", "QTX_ID"),
              (std::vector<std::string>{"1", "5604"}));
    EXPECT_EQ(Column("SELECT * FROM VALVE_PT_SDOGEOM WHERE SDO_GID = 5604", "SDO_X1"),
              Column("SELECT * FROM VALVE_PT_SDOGEOM WHERE SDO_GID = 2", "SDO_X1"));
    auto fresh = NewComponent(22, {2001});
    fresh->put_Filter("QTX_CID = 2");
    fresh->get_Recordset()->MoveFirst();
    EXPECT_EQ(TypeOf(fresh->get_Geometry()), "OrientedPointGeometry");

    // No current row: refused.
    rs->MoveLast();
    rs->MoveNext();
    auto e = Raised([&] { valve->putref_Geometry(symbol); });
    EXPECT_EQ(e.Description(), Message(23706));
}

TEST_F(ComponentFixture, UpdateWritesPendingRowsAndClearsTheFilter) {
    auto mains = NewComponent(11, {1001, 1002});
    auto rs = mains->get_Recordset();
    rs->MoveFirst();
    rs->SetValue(rt::Variant("MATERIAL"), rt::Variant("STEEL"));
    rs->Update();
    mains->put_Filter("QTX_FID = 1002");
    mains->Update();
    EXPECT_EQ(dc_->updates, 1);  // the component rows; no geometry rows were read
    EXPECT_EQ(mains->get_Filter(), "0");
    EXPECT_EQ(Column("SELECT * FROM WATER_MAIN_N WHERE QTX_FID = 1001", "MATERIAL"),
              (std::vector<std::string>{"STEEL"}));
    EXPECT_EQ(rs->get_Status() & ado::adRecModified, 0);

    // Nothing pending: nothing written.
    mains->Update();
    EXPECT_EQ(dc_->updates, 1);

    // Never loaded: nothing loaded, nothing written.
    auto idle = NewComponent(11, {1003});
    idle->Update();
    EXPECT_FALSE(idle->get_RecordsetLocal());
    EXPECT_EQ(dc_->updates, 1);
    EXPECT_EQ(dc_->opens.size(), 1u);
}

TEST_F(ComponentFixture, AFailedWriteKeepsTheRowsPending) {
    auto lining = NewComponent(14, {1001});
    auto rs = lining->get_Recordset();
    rs->MoveFirst();
    rs->SetValue(rt::Variant("QTX_CID"), rt::Variant(int16_t{3}));  // the key of the other row
    rs->Update();
    auto e = Raised([&] { lining->Update(); });
    EXPECT_NE(e.Number(), 0);
    EXPECT_EQ(rt::CLng(rs->get_Filter()), 0);
    rs->put_Filter(rt::Variant(int32_t{ado::adFilterPendingRecords}));
    EXPECT_EQ(rs->get_RecordCount(), 1);
    EXPECT_EQ(Column("SELECT * FROM WATER_LINING_N WHERE QTX_FID = 1001 ORDER BY QTX_CID", "QTX_CID"),
              (std::vector<std::string>{"1", "3"}));
}

TEST_F(ComponentFixture, UpdateInterfacesFireForChangedRowsAndRowsWithChangedGeometry) {
    auto c = std::make_shared<CountingComponent>();
    c->putref_DataContext(Context());
    c->put_CNO(12);
    c->put_EventsEnabled(false);  // only the walk counts, not the edits' own Update events
    c->ProcessComponentsUpdate();  // no rows: nothing
    EXPECT_FALSE(c->AttributeInfoLoaded());

    c->AddFID(componenttest::LongArray({1001, 1002, 1003}));
    auto rs = c->get_Recordset();
    c->ProcessComponentsUpdate();
    EXPECT_TRUE(c->fired.empty());
    EXPECT_TRUE(c->AttributeInfoLoaded());
    ASSERT_TRUE(c->get_FieldInfoCollection());

    // Row 1 changed; row 3 keeps its fields but loses a geometry row.
    rs->MoveFirst();
    rs->SetValue(rt::Variant("LINE_STYLE"), rt::Variant(int32_t{4}));
    rs->Update();
    auto geometry = c->OpenGeometryRecordset(3);
    geometry->MoveFirst();
    geometry->Delete();
    c->put_Filter("QTX_FID = 1003");
    c->ProcessComponentsUpdate();
    EXPECT_EQ(c->fired, (std::vector<std::string>{"1", "3"}));
    EXPECT_EQ(rt::CLng(rs->get_Filter()), 0);
    EXPECT_EQ(rt::CLng(c->get_GeometryRecordset()->get_Filter()), 0);
}
