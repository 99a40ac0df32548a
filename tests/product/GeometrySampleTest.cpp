// The geometry service on the sample network's "_SDOGEOM" tables: reading the
// stored geometries and replacing one through the data context.
#include <gtest/gtest.h>

#include <string>

#include "ado/Recordset.h"
#include "product/GeometryTestSupport.h"
#include "product/SqliteDataContext.h"
#include "product/geometry/GeometryService.h"
#include "support/SampleEnvironment.h"

using namespace product;
using namespace geomtest;

namespace {

// The rows of a component table and of its geometry table for one FID, as a
// component loads them.
struct Loaded {
    ado::RecordsetPtr component, geometry;
};

Loaded Load(SqliteDataContext& dc, const std::string& table, int32_t fid, int16_t cno) {
    rt::Variant key = rt::Variant::ArrayOf({rt::Variant(fid), rt::Variant(cno)});
    auto component = dc.OpenParameterizedRecordset(
        "SELECT * FROM " + table + " WHERE QTX_FID = ? and QTX_CNO = ?", 1, 4, 8, key);
    component->putref_ActiveConnection(nullptr);
    rt::Variant one = rt::Variant::ArrayOf({rt::Variant(fid)});
    auto geometry = dc.OpenParameterizedRecordset(
        "SELECT * FROM " + table + "_SDOGEOM WHERE QTX_FID = ? ORDER BY SDO_GID, SDO_ESEQ, SDO_SEQ", 1, 4, 8, one);
    geometry->putref_ActiveConnection(nullptr);
    if (!(component->get_BOF() && component->get_EOF()))
        geometry->put_Filter(rt::Variant("SDO_GID = " + rt::CStr(component->GetValue("QTX_ID"))));
    return {component, geometry};
}

}  // namespace

TEST(GeometrySample, StoredGeometriesReadAsTheirKinds) {
    auto dc = pelmora_test::SampleEnvironment::Get().OpenDataContext();
    auto service = GeometryService::Create();

    auto main = Load(*dc, "WATER_MAIN_LN", 1001, 12);
    EXPECT_EQ(Describe(service->ReadGeometry(main.geometry, main.component)),
              "PolylineGeometry[(1000 5000 0)(1100 5000 0)(1200 5010 0)(1300 5010 0)(1350 5060 0)(1412.35 5060 0)]");
    auto valve = Load(*dc, "VALVE_PT", 2002, 22);
    EXPECT_EQ(Describe(service->ReadGeometry(valve.geometry, valve.component)),
              "OrientedPointGeometry[Origin(1200 5050 0)Orientation(0 1 0)]");
    auto hydrant = Load(*dc, "HYDRANT_PT", 3002, 32);
    EXPECT_EQ(Describe(service->ReadGeometry(hydrant.geometry, hydrant.component)),
              "PointGeometry[Origin(1497 5100 0)]");
    auto service2 = Load(*dc, "SERVICE_LN", 4001, 42);
    auto line = service->ReadGeometry(service2.geometry, service2.component);
    EXPECT_EQ(rt::CLng(Get(GetObj(line, "Points"), "Count")), 3);
}

TEST(GeometrySample, AReplacedGeometryIsWrittenAndReadBackFromTheDatabase) {
    auto dc = pelmora_test::SampleEnvironment::Get().OpenDataContext();
    auto service = GeometryService::Create();
    auto main = Load(*dc, "WATER_MAIN_LN", 1001, 12);

    // A main made of a straight piece, an arc and a bend, with more vertices than one row holds.
    auto composite = CompositePolylineGeometry::Create();
    composite->Items()->Add(LineGeometry::Create(1000, 5000, 1100, 5000));
    auto arc = ArcGeometry::Create();
    arc->Start()->Assign(1100, 5000, 0);
    arc->Origin()->Assign(1150, 5025.5, 0);
    arc->End()->Assign(1200, 5010, 0);
    composite->Items()->Add(arc);
    auto bend = PolylineGeometry::Create();
    for (int i = 0; i < 6; ++i) bend->PointList()->Add(1200 + 40 * i, 5010 + 10 * (i % 2));
    composite->Items()->Add(bend);

    service->WriteGeometry(composite, main.component, main.geometry);
    main.geometry->put_Filter(rt::Variant(int32_t{ado::adFilterPendingRecords}));
    dc->UpdateRecordset(main.geometry, 3);
    main.geometry->put_Filter(rt::Variant(int32_t{ado::adFilterNone}));

    auto again = Load(*dc, "WATER_MAIN_LN", 1001, 12);
    EXPECT_EQ(Describe(service->ReadGeometry(again.geometry, again.component)), Describe(composite));
    // Header, line, arc and the bend's two rows; the old two rows are gone.
    EXPECT_EQ(again.geometry->get_RecordCount(), 5);
    for (again.geometry->MoveFirst(); !again.geometry->get_EOF(); again.geometry->MoveNext())
        EXPECT_EQ(rt::CLng(again.geometry->GetValue("QTX_CNO")), 12);
    // The other mains keep their geometry.
    auto other = Load(*dc, "WATER_MAIN_LN", 1002, 12);
    EXPECT_EQ(Describe(service->ReadGeometry(other.geometry, other.component)),
              "PolylineGeometry[(1200 5010 0)(1200 5106.4 0)]");
}
