// The framework's geometry services as the touch test drives them: the
// in-memory recordset and its definition, the storage form of every kind,
// the buffer-zone pipe and the spatial filter.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "interfaces/Framework.h"
#include "product/GeometryTestSupport.h"
#include "product/StandIns.h"
#include "product/framework/BufferZonePipe.h"
#include "product/framework/FrameworkRecordset.h"
#include "product/framework/GeometryStorageForm.h"
#include "product/framework/GeometryStorageService.h"
#include "product/framework/InMemoryRecordset.h"
#include "product/framework/SpatialFilter.h"
#include "product/geometry/GeometryMath.h"
#include "runtime/Collection.h"
#include "support/Raises.h"

using namespace product;
using pelmora::GeometryKind;
using pelmora_test::ErrorOf;
using geomtest::Square;

namespace {

constexpr int32_t kRefused = rt::vberr::InvalidProcedureCall;

std::shared_ptr<pelmora::IFrameworkRecordset> GeometryRows(const std::vector<GeometryPtr>& geometries) {
    auto memory = std::make_shared<InMemoryRecordset>();
    memory->put_DefinitionMode(true);
    auto def = memory->get_Definition();
    def->AddField("QTX_GEOMETRY");
    def->put_FieldType(32);
    def->put_FieldSubType(3);
    memory->put_DefinitionMode(false);
    auto rs = memory->get_Recordset();
    GeometryStorageService storage;
    for (auto& g : geometries) {
        rs->AddNew();
        storage.StoreGeometry(rs->get_Fields()->get_Item("QTX_GEOMETRY"), g);
        rs->Update();
    }
    return rs;
}

// The geometries of a recordset's field, in row order.
std::vector<GeometryPtr> Read(const std::shared_ptr<pelmora::IFrameworkRecordset>& rs, const std::string& field) {
    std::vector<GeometryPtr> out;
    GeometryStorageService storage;
    if (rs->get_BOF() && rs->get_EOF()) return out;
    for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext())
        out.push_back(std::dynamic_pointer_cast<Geometry>(storage.RetrieveGeometry(rs->get_Fields()->get_Item(field))));
    return out;
}

// One geometry of every kind, containers holding other kinds.
std::vector<GeometryPtr> EveryKind() {
    auto arc = ArcGeometry::Create();
    arc->Start()->Assign(0, 0, 1);
    arc->Origin()->Assign(1, 1, 2);
    arc->End()->Assign(2, 0, 3);
    auto oriented = OrientedPointGeometry::Create(5, 6, 7);
    oriented->Orientation()->Assign(0, 1, 0);
    auto text = TextPointGeometry::Create(8, 9);
    auto polyline = PolylineGeometry::Create();
    polyline->PointList()->Add(1, 2, 3);
    polyline->PointList()->Add(4, 5, 6);
    auto composite = CompositePolylineGeometry::Create();
    composite->Items()->Add(LineGeometry::Create(0, 0, 1, 0));
    composite->Items()->Add(arc);
    auto ring = CompositePolygonGeometry::Create();
    ring->Items()->Add(PolylineGeometry::Create());
    auto boundary = BoundaryGeometry::Create();
    boundary->SetExterior(Square(0, 0, 10));
    boundary->Holes()->Add(Square(2, 2, 1));
    boundary->Holes()->Add(ring);
    auto collection = GeometryCollection::Create();
    collection->Items()->Add(boundary);
    collection->Items()->Add(GeometryCollection::Create());
    return {PointGeometry::Create(1, 2, 3), oriented, text, RectangleGeometry::Create(1, 2, 3, 4, 30),
            LineGeometry::Create(1, 2, 3, 4), arc, polyline, Square(0, 0, 1), boundary, BoundaryGeometry::Create(),
            composite, ring, collection};
}

}  // namespace

TEST(FrameworkInMemoryRecordset, DefinitionIsMadeOnceWhileTheSwitchIsOn) {
    InMemoryRecordset rs;
    EXPECT_EQ(ErrorOf([&] { rs.get_Definition(); }), kRefused) << "definition while off";
    EXPECT_EQ(ErrorOf([&] { rs.get_Recordset(); }), kRefused) << "recordset before definition";
    rs.put_DefinitionMode(true);
    EXPECT_EQ(ErrorOf([&] { rs.put_DefinitionMode(false); }), kRefused) << "no fields";
    auto def = rs.get_Definition();
    EXPECT_EQ(ErrorOf([&] { def->put_FieldType(32); }), kRefused) << "type before a field";
    def->AddField("G");
    struct Case {
        const char* what;
        std::function<void()> call;
    } refused[] = {
        {"same name in other case", [&] { def->AddField("g"); }},
        {"empty name", [&] { def->AddField(""); }},
        {"type 31", [&] { def->put_FieldType(31); }},
        {"sub-type 2", [&] { def->put_FieldSubType(2); }},
        {"recordset while defining", [&] { rs.get_Recordset(); }},
    };
    for (auto& c : refused) EXPECT_EQ(ErrorOf(c.call), kRefused) << c.what;
    def->put_FieldType(32);
    EXPECT_EQ(ErrorOf([&] { rs.put_DefinitionMode(false); }), kRefused) << "no sub-type";
    EXPECT_TRUE(rs.get_DefinitionMode()) << "a failed switch stays on";
    def->put_FieldSubType(3);
    rs.put_DefinitionMode(false);
    EXPECT_EQ(ErrorOf([&] { def->AddField("H"); }), kRefused) << "the old definition object after the switch";
    EXPECT_EQ(ErrorOf([&] { rs.put_DefinitionMode(true); }), kRefused) << "a second definition";
    auto records = rs.get_Recordset();
    EXPECT_TRUE(records->get_BOF() && records->get_EOF());
    EXPECT_EQ(records->get_Fields()->get_Count(), 1);
    EXPECT_EQ(ErrorOf([&] { records->get_Fields()->get_Item("H"); }), ado::err::ItemNotFound);
}

TEST(FrameworkGeometryStorage, EveryKindRoundTripsAsADeepCopy) {
    auto kinds = EveryKind();
    auto rs = GeometryRows(kinds);
    std::vector<std::string> before;
    for (auto& g : kinds) before.push_back(geomtest::Describe(g));
    // Moving every original after storing must not reach the stored copies.
    for (auto& g : kinds)
        if (auto p = std::dynamic_pointer_cast<PointGeometry>(g)) p->Origin()->put_X(-99);
    std::dynamic_pointer_cast<BoundaryGeometry>(kinds[8])->Holes()->Remove(1);
    auto back = Read(rs, "QTX_GEOMETRY");
    ASSERT_EQ(back.size(), kinds.size());
    for (size_t i = 0; i < kinds.size(); ++i) {
        EXPECT_EQ(geomtest::Describe(back[i]), before[i]);
        EXPECT_NE(back[i], kinds[i]);
    }
    // A storage form read twice gives two separate geometries.
    GeometryStorageService storage;
    auto form = StoredGeometryOf(storage.GetStorageForm(kinds[6]));
    auto first = form->Read(), second = form->Read();
    std::dynamic_pointer_cast<PolylineGeometry>(first)->PointList()->Remove(1);
    EXPECT_EQ(geomtest::Describe(second), geomtest::Describe(kinds[6]));
}

TEST(FrameworkGeometryStorage, AStoredGeometrysShapeIsMadeOnceAndIsThatOfWhatItHolds) {
    auto stored = StoredGeometry::Of(*Square(0, 0, 2));
    const geometry_math::Shape& shape = stored->ShapeOf();
    EXPECT_EQ(&stored->ShapeOf(), &shape);
    auto read = geometry_math::Shape::Of(stored->Read());
    for (auto [x, y] : {std::pair{1.0, 1.0}, {0.0, 1.0}, {2.5, 1.0}})
        EXPECT_EQ(shape.Locate({x, y}), read.Locate({x, y})) << x << " " << y;
}

// A damaged form keeps no shape: every ask raises what its read raises.
TEST(FrameworkGeometryStorage, ADamagedFormsShapeRaisesAsItsReadDoesEveryTime) {
    StoredGeometry damaged(std::string("PGF\x01\x63", 5));
    for (int ask = 0; ask < 2; ++ask) EXPECT_EQ(ErrorOf([&] { damaged.ShapeOf(); }), kRefused) << ask;
}

TEST(FrameworkGeometryStorage, NothingIsStoredAsNullAndOnlyStorageFormsEnterAGeometryField) {
    auto rs = GeometryRows({nullptr});
    rs->MoveFirst();
    auto field = rs->get_Fields()->get_Item("QTX_GEOMETRY");
    EXPECT_TRUE(field->get_Value().IsNull());
    GeometryStorageService storage;
    EXPECT_EQ(storage.RetrieveGeometry(field), nullptr);
    EXPECT_TRUE(storage.GetStorageForm(nullptr).IsEmpty());
    EXPECT_EQ(ErrorOf([&] { field->put_Value(rt::Variant("POINT (1 2)")); }), rt::vberr::TypeMismatch);
    EXPECT_EQ(ErrorOf([&] { storage.GetStorageForm(rt::Collection::New()); }), rt::vberr::TypeMismatch);
    // A storage form cannot be forged from other bytes.
    StoredGeometry forged(std::string("PGF\x01\x63", 5));
    EXPECT_EQ(ErrorOf([&] { forged.Read(); }), kRefused);
}

TEST(FrameworkBufferZonePipe, SettingsOutOfRangeAreRefusedWhenMade) {
    BufferZonePipe pipe;
    struct Case {
        const char* what;
        std::function<void()> call;
    } cases[] = {
        {"zone kind 2", [&] { pipe.put_ZoneKind(2); }},
        {"join kind 0", [&] { pipe.put_JoinKind(0); }},
        {"source FIELD", [&] { pipe.put_DistanceSource("FIELD"); }},
        {"distance abc", [&] { pipe.put_Distance("abc"); }},
        {"distance 1,5", [&] { pipe.put_Distance("1,5"); }},
        {"distance -1", [&] { pipe.put_Distance("-1"); }},
        {"distance inf", [&] { pipe.put_Distance("inf"); }},
        {"tolerance 0", [&] { pipe.put_Tolerance(0); }},
        {"output without settings", [&] { pipe.get_OutputRecordset(); }},
    };
    for (auto& c : cases) EXPECT_EQ(ErrorOf(c.call), kRefused) << c.what;
    pipe.put_Distance("1E-05");
    pipe.put_Distance("0.5");
}

TEST(FrameworkBufferZonePipe, ZonesHoldTheWidenedAreaWithinTheToleranceAndDegenerateRowsGiveNone) {
    auto arcRing = CompositePolygonGeometry::Create();
    auto arc = ArcGeometry::Create();
    arc->Start()->Assign(10, 0, 0);
    arc->Origin()->Assign(0, 10, 0);
    arc->End()->Assign(-10, 0, 0);
    arcRing->Items()->Add(arc);
    arcRing->Items()->Add(LineGeometry::Create(-10, 0, 10, 0));
    struct Case {
        const char* what;
        GeometryPtr input;
        double exactArea;  // of the zone at distance 1
    } cases[] = {
        {"square 10", Square(0, 0, 10), 100 + 40 + std::numbers::pi},
        {"half disc of radius 10 with an arc", arcRing, std::numbers::pi * 121 / 2 + 22},
    };
    for (auto& c : cases) {
        BufferZonePipe pipe;
        pipe.put_ZoneKind(1);
        pipe.put_JoinKind(1);
        pipe.put_GeometryFieldName("QTX_GEOMETRY");
        pipe.put_DistanceSource("DISTANCE");
        pipe.put_Distance("1");
        pipe.put_OutputFieldName("ZONE");
        pipe.put_Tolerance(0.02);
        pipe.putref_InputRecordset(GeometryRows({c.input, nullptr, PolygonGeometry::Create()}));
        auto zones = Read(pipe.get_OutputRecordset(), "ZONE");
        ASSERT_EQ(zones.size(), 1u) << c.what << ": the missing and the empty rows give none";
        auto zone = geometry_math::Shape::Of(zones[0]);
        double area = 0.0;
        GEOSArea_r(geometry_math::Context(), zone.Raw(), &area);
        double length = 0.0;
        GEOSLength_r(geometry_math::Context(), zone.Raw(), &length);
        EXPECT_LE(area, c.exactArea + 1e-9) << c.what << ": chords lie inside the true zone";
        EXPECT_GE(area, c.exactArea - 0.02 * length) << c.what << ": and stray at most the tolerance";
    }
}

TEST(FrameworkSpatialFilter, IntersectsKeepsTheRowsThatMeetAndNothingElse) {
    // Random squares against random search rectangles, checked with GeometryMath.
    std::mt19937 gen(21);
    std::uniform_real_distribution<double> at(-20, 20), side(0.5, 6);
    std::vector<GeometryPtr> stored;
    for (int i = 0; i < 40; ++i) stored.push_back(Square(at(gen), at(gen), side(gen)));
    stored.push_back(nullptr);
    auto rows = GeometryRows(stored);
    size_t matched = 0;
    for (int k = 0; k < 20; ++k) {
        auto search = RectangleGeometry::Create(at(gen), at(gen), side(gen), side(gen), at(gen) * 9);
        SpatialFilter filter;
        filter.put_Operator(3);
        filter.put_GeometryFieldName("QTX_GEOMETRY");
        filter.put_FilterGeometry(StorageFormOf(search));
        filter.putref_InputRecordset(rows);
        std::vector<std::string> expected, got;
        for (auto& g : stored)
            if (g && geometry_math::Intersects(*search, *g)) expected.push_back(geomtest::Describe(g));
        for (auto& g : Read(filter.get_OutputRecordset(), "QTX_GEOMETRY")) got.push_back(geomtest::Describe(g));
        EXPECT_EQ(got, expected) << "search " << k;
        matched += got.size();
    }
    EXPECT_GT(matched, 5u);
}

TEST(FrameworkSpatialFilter, AnArcIsFoundWhereOnlyItsBulgeReaches) {
    // Its three points lie below y 9.85; the arc itself reaches y 10.
    auto arc = ArcGeometry::Create();
    auto polar = [](double degrees) { return std::pair{10 * std::cos(degrees * std::numbers::pi / 180), 10 * std::sin(degrees * std::numbers::pi / 180)}; };
    auto [sx, sy] = polar(10);
    auto [mx, my] = polar(80);
    auto [ex, ey] = polar(170);
    arc->Start()->Assign(sx, sy, 0);
    arc->Origin()->Assign(mx, my, 0);
    arc->End()->Assign(ex, ey, 0);
    auto rows = GeometryRows({arc});
    for (auto [y, found] : {std::pair{10.0, true}, {10.2, false}}) {
        SpatialFilter filter;
        filter.put_Operator(3);
        filter.put_GeometryFieldName("QTX_GEOMETRY");
        filter.put_FilterGeometry(StorageFormOf(RectangleGeometry::Create(-0.05, y + 0.05, 0.1, 0.1)));
        filter.putref_InputRecordset(rows);
        EXPECT_EQ(Read(filter.get_OutputRecordset(), "QTX_GEOMETRY").size(), found ? 1u : 0u) << y;
    }
}

TEST(FrameworkSpatialFilter, EmptyMatchesNothingAndOtherOperatorsAreRefused) {
    auto rows = GeometryRows({Square(0, 0, 1)});
    SpatialFilter filter;
    EXPECT_EQ(ErrorOf([&] { filter.put_Operator(4); }), kRefused);
    EXPECT_EQ(ErrorOf([&] { filter.put_FilterGeometry(rt::Variant(1.5)); }), rt::vberr::TypeMismatch);
    filter.put_Operator(3);
    filter.put_GeometryFieldName("QTX_GEOMETRY");
    filter.put_FilterGeometry(rt::Variant());
    filter.putref_InputRecordset(rows);
    auto out = filter.get_OutputRecordset();
    EXPECT_TRUE(out->get_BOF() && out->get_EOF());
    filter.put_GeometryFieldName("OTHER");
    EXPECT_EQ(ErrorOf([&] { filter.get_OutputRecordset(); }), kRefused);
}

TEST(FrameworkGeometryServices, AreCreatedByTheirProgIdsAndClassIds) {
    product::RegisterProductStandIns();
    for (const char* name : {pelmora::kInMemoryRecordsetProgId, pelmora::kGeometryStorageServiceProgId,
                             pelmora::kGeometryStorageServiceClsid, pelmora::kBufferZonePipeProgId,
                             pelmora::kSpatialFilterClsid})
        EXPECT_NE(rt::CreateObject(name), nullptr) << name;
    EXPECT_NE(rt::TryQueryInterface<pelmora::ISpatialFilter>(rt::CreateObject(pelmora::kSpatialFilterClsid)), nullptr);
}
