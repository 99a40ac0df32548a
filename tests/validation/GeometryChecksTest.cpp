// The endpoint and touch tests of validation: end points by kind, the
// tolerance square, the nearer end, the connectivity rule's ends, and the
// touch test through the framework's geometry services, first on made-up
// geometries, then on the sample's mains, valves, service lines and areas.
#include <gtest/gtest.h>

#include <cmath>

#include "features/FeatureAssemblyTestSupport.h"
#include "interfaces/Framework.h"
#include "interfaces/Geometry.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "pelmora/validation_set/modFeatureValidationServiceGeometry.h"
#include "pelmora/validation_set/modFeatureValidationServiceSet.h"
#include "product/GeometryTestSupport.h"
#include "product/StandIns.h"
#include "product/framework/GeometryStorageForm.h"
#include "product/framework/InMemoryRecordset.h"
#include "product/framework/SpatialFilter.h"
#include "product/geometry/GeometryMath.h"
#include "product/geometry/GeometryObjects.h"
#include "runtime/Collection.h"
#include "support/Raises.h"

using namespace pelmora;
using product::GeometryPtr;
using pelmora_test::ErrorOf;
using geomtest::Square;

namespace {

GeometryPtr Line(double x1, double y1, double x2, double y2) { return product::LineGeometry::Create(x1, y1, x2, y2); }
GeometryPtr Pt(double x, double y) { return product::PointGeometry::Create(x, y); }
GeometryPtr Polyline(std::initializer_list<std::pair<double, double>> pts) {
    auto g = product::PolylineGeometry::Create();
    for (auto [x, y] : pts) g->PointList()->Add(x, y);
    return g;
}

std::shared_ptr<rt::Collection> Of(std::initializer_list<rt::ObjectPtr> items) {
    auto c = rt::Collection::New();
    for (auto& i : items) c->Add(i ? rt::Variant(i) : rt::Variant::Nothing());
    return c;
}

rt::ObjectPtr NewPoint() { return rt::CreateObject(kPointGeometryProgId); }

std::string At(const rt::ObjectPtr& pt) { return geomtest::Pt(geomtest::GetObj(pt, "Origin")); }

// Something with a Type no table knows.
class Stranger : public rt::Object {
public:
    rt::Variant Invoke(const std::string& name, rt::InvokeKind, rt::Args&) override {
        if (rt::NamesEqual(name, "Type")) return rt::Variant("SplineGeometry");
        rt::RaiseVbError(rt::vberr::ObjectDoesNotSupportMember);
    }
    std::string TypeName() const override { return "XYSpline"; }
};

// The same geometry reached by name only, without the library's typed
// interfaces, as a geometry of another library would be.
class ByName : public rt::Object {
public:
    explicit ByName(rt::ObjectPtr inner) : inner_(std::move(inner)) {}
    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override {
        return inner_->Invoke(name, kind, args);
    }
    std::string TypeName() const override { return inner_->TypeName(); }

private:
    rt::ObjectPtr inner_;
};

rt::ObjectPtr NamedOnly(const rt::ObjectPtr& g) { return g ? std::make_shared<ByName>(g) : nullptr; }

class GeometryChecks : public ::testing::Test {
protected:
    void SetUp() override { product::RegisterProductStandIns(); }
};

}  // namespace

TEST_F(GeometryChecks, StartAndEndPointsFollowTheKind) {
    auto arc = product::ArcGeometry::Create();
    arc->Start()->Assign(1, 2, 3);
    arc->Origin()->Assign(5, 5, 0);
    arc->End()->Assign(9, 2, 4);
    auto boundary = product::BoundaryGeometry::Create();
    boundary->SetExterior(Square(10, 20, 5));
    auto nested = product::GeometryCollection::Create();
    auto inner = product::CompositePolylineGeometry::Create();
    inner->Items()->Add(Line(7, 7, 8, 8));
    inner->Items()->Add(arc);
    nested->Items()->Add(Pt(-1, -2));
    nested->Items()->Add(inner);
    struct Case {
        const char* what;
        rt::ObjectPtr geom;
        const char* start;  // "" when there is none
        const char* end;
    } cases[] = {
        {"point", Pt(1, 2), "(1 2 0)", "(1 2 0)"},
        {"rectangle", product::RectangleGeometry::Create(3, 4, 5, 6, 7), "(3 4 0)", "(3 4 0)"},
        {"text point", product::TextPointGeometry::Create(5, 6, 7), "(5 6 7)", "(5 6 7)"},
        {"line", Line(1, 2, 3, 4), "(1 2 0)", "(3 4 0)"},
        {"arc", arc, "(1 2 3)", "(9 2 4)"},
        {"polyline", Polyline({{1, 1}, {2, 2}, {3, 1}}), "(1 1 0)", "(3 1 0)"},
        {"empty polyline", product::PolylineGeometry::Create(), "", ""},
        {"boundary", boundary, "(10 20 0)", "(10 20 0)"},
        {"boundary without exterior", product::BoundaryGeometry::Create(), "", ""},
        {"nested collection", nested, "(-1 -2 0)", "(9 2 4)"},
        {"empty collection", product::GeometryCollection::Create(), "", ""},
        {"other kind", std::make_shared<Stranger>(), "", ""},
        {"Nothing", nullptr, "", ""},
    };
    for (auto& c : cases) {
        auto pt = NewPoint();
        EXPECT_EQ(GetStartPoint(c.geom, pt), *c.start != 0) << c.what;
        if (*c.start) {
            EXPECT_EQ(At(pt), c.start) << c.what;
        }
        pt = NewPoint();
        EXPECT_EQ(GetEndPoint(c.geom, pt), *c.end != 0) << c.what;
        if (*c.end) {
            EXPECT_EQ(At(pt), c.end) << c.what;
        }
    }
    // A point that cannot take the coordinates is a failure, not an error.
    EXPECT_FALSE(GetStartPoint(Pt(1, 2), nullptr));
}

TEST_F(GeometryChecks, EndsReadByNameOnlyAreTheSame) {
    auto polygon = product::PolygonGeometry::Create();
    for (auto [x, y] : {std::pair{0.0, 0.0}, {4.0, 0.0}, {4.0, 3.0}}) polygon->PointList()->Add(x, y);
    const std::pair<const char*, rt::ObjectPtr> cases[] = {
        {"point", Pt(1, 2)},
        {"oriented point", product::OrientedPointGeometry::Create(3, 4, 5)},
        {"text point", product::TextPointGeometry::Create(5, 6, 7)},
        {"rectangle", product::RectangleGeometry::Create(3, 4, 5, 6, 7)},
        {"polyline", Polyline({{1, 1}, {2, 2}, {3, 1}})},
        {"polygon", polygon},
        {"empty polyline", product::PolylineGeometry::Create()},
        {"line", Line(1, 2, 3, 4)},
    };
    for (const auto& [what, geom] : cases) {
        for (bool end : {false, true}) {
            auto typed = NewPoint(), named = NewPoint();
            const bool found = end ? GetEndPoint(geom, typed) : GetStartPoint(geom, typed);
            EXPECT_EQ(end ? GetEndPoint(NamedOnly(geom), named) : GetStartPoint(NamedOnly(geom), named), found) << what;
            EXPECT_EQ(At(named), At(typed)) << what << (end ? " end" : " start");
        }
    }
}

TEST_F(GeometryChecks, PointsCoincideInASquareOfHalfSideTolerance) {
    struct Case {
        double dx, dy, tolerance;
        bool coincide;
    } cases[] = {{0.5, 0.5, 0.5, true}, {0.5, 0.5, 0.49, false}, {0.4, 0.4, 0.4, true},
                 {-0.4, 0.3, 0.4, true}, {0.0, 0.41, 0.4, false}};
    for (auto& c : cases) {
        auto a = product::PointGeometry::Create(0, 0, 7), b = product::PointGeometry::Create(c.dx, c.dy);
        EXPECT_EQ(PointsCoincide(a, b, c.tolerance), c.coincide) << c.dx << "," << c.dy << " tol " << c.tolerance;
    }
    // Ends in the order start-start, start-end, end-start, end-end: any pair does.
    auto far = Pt(50, 50);
    EXPECT_TRUE(EndpointsCoincide(far, Pt(0, 0), Pt(60, 60), Pt(0.1, 0), 0.2));
    EXPECT_FALSE(EndpointsCoincide(far, Pt(0, 0), Pt(60, 60), Pt(0.3, 0), 0.2));
}

TEST_F(GeometryChecks, NearestEndAndPointDistance) {
    double d = -1;
    auto line = Line(0, 0, 10, 0);
    struct Case {
        const char* what;
        rt::ObjectPtr other;
        int16_t end;
        double distance;
    } cases[] = {
        {"point at the middle: a tie gives the end", Pt(5, 0), 2, 5},
        {"point nearer the start", Pt(4, 0), 1, 4},
        {"oriented point nearer the end", product::OrientedPointGeometry::Create(9, 1), 2, std::hypot(1, 1)},
        {"line whose start is 1 above the start", Line(0, 1, 0, 5), 1, 1},
        {"line whose end lies nearest the end", Line(30, 0, 12, 0), 2, 2},
        {"a tie between the two ends of a line keeps the start", Line(5, 3, 5, 3), 1, std::hypot(5, 3)},
    };
    for (auto& c : cases) {
        d = -1;
        EXPECT_EQ(GetNearestEnd(line, c.other, d), c.end) << c.what;
        EXPECT_NEAR(d, c.distance, 1e-12) << c.what;
    }
    d = -1;
    EXPECT_EQ(GetNearestEnd(nullptr, Pt(1, 1), d), 0);
    EXPECT_EQ(GetNearestEnd(line, nullptr, d), 0);
    // Ends that cannot be found are not taken at the origin: (0, 0) would be
    // the line's start.
    EXPECT_EQ(GetNearestEnd(line, product::PolylineGeometry::Create(), d), 0);
    EXPECT_EQ(GetNearestEnd(product::GeometryCollection::Create(), line, d), 0);
    EXPECT_EQ(d, -1);
    EXPECT_FALSE(IsConnectedAtEndpoint(line, 1, product::PolylineGeometry::Create(), 1));

    double a = -1, b = -1;
    auto boundary = product::BoundaryGeometry::Create();
    boundary->SetExterior(Square(10, 10, 5));
    EXPECT_EQ(GetPointDistance(boundary, Pt(13, 14), Pt(10, 12), a, b), 2) << "measured from the exterior's start";
    EXPECT_DOUBLE_EQ(a, 5);
    EXPECT_DOUBLE_EQ(b, 2);
    a = b = -1;
    EXPECT_EQ(GetPointDistance(Line(0, 0, 1, 1), Pt(1, 1), Pt(2, 2), a, b), 0) << "a line is no point";
    EXPECT_EQ(GetPointDistance(product::BoundaryGeometry::Create(), Pt(1, 1), Pt(2, 2), a, b), 0)
        << "a boundary without exterior has no start";
    EXPECT_EQ(a, -1);
}

TEST_F(GeometryChecks, ConnectedAtTheRuleEnds) {
    auto line = Line(0, 0, 10, 0);
    struct Case {
        const char* what;
        rt::ObjectPtr a;
        int16_t endA;
        rt::ObjectPtr b;
        int16_t endB;
        bool connected;
    } cases[] = {
        {"two point kinds whatever the ends", Pt(0, 0), 2, product::RectangleGeometry::Create(50, 50), 1, true},
        {"line end at a point", line, 2, Pt(11, 0), 1, true},
        {"line start asked, end is nearer", line, 1, Pt(11, 0), 1, false},
        {"point first", Pt(-1, 0), 2, line, 1, true},
        {"two lines, both ends right", line, 2, Line(12, 0, 20, 0), 1, true},
        {"two lines, the second's end wrong", line, 2, Line(12, 0, 20, 0), 2, false},
    };
    for (auto& c : cases) EXPECT_EQ(IsConnectedAtEndpoint(c.a, c.endA, c.b, c.endB), c.connected) << c.what;
}

TEST_F(GeometryChecks, KindsByTypeAndTypeNamePassOverNothing) {
    EXPECT_TRUE(IsPointGeometry(product::RectangleGeometry::Create()));
    EXPECT_FALSE(IsPointGeometry(Line(0, 0, 1, 1)));
    EXPECT_EQ(GetGeometryTypeSuffix(Polyline({{0, 0}})), "PolylineGeometry");
    EXPECT_EQ(GetGeometryTypeSuffix(nullptr), "");
    EXPECT_FALSE(ContainsPolygon(Of({})));
    EXPECT_FALSE(ContainsPolygon(Of({nullptr, Line(0, 0, 1, 1), product::BoundaryGeometry::Create()})));
    EXPECT_TRUE(ContainsPolygon(Of({nullptr, product::CompositePolygonGeometry::Create()})));
    EXPECT_TRUE(ContainsPolygon(Of({Square(0, 0, 1)})));
}

TEST_F(GeometryChecks, SearchSquareSurroundsThePointAndAreasAreWidened) {
    auto rect = rt::QueryInterface<IRectangleGeometry>(rt::CreateObject(kRectangleGeometryClsid));
    auto storage = rt::QueryInterface<IGeometryStorageService>(rt::CreateObject(kGeometryStorageServiceClsid));
    rt::Variant search = BufferZoneLocate(Pt(10, 20), 0.5, rect, storage);
    EXPECT_EQ(geomtest::Describe(rt::ObjectPtrOf(rect)), "RectangleGeometry[Origin(9.5 20.5 0) W1 H1 R0]");
    auto square = product::geometry_math::Shape::Of(product::StoredGeometryOf(search)->Read());
    EXPECT_EQ(square.Locate({10, 20}), product::geometry_math::Location::Inside);
    EXPECT_EQ(square.Locate({10.5, 19.5}), product::geometry_math::Location::Boundary);
    EXPECT_EQ(square.Locate({10, 20.6}), product::geometry_math::Location::Outside);

    // Tolerance 0 widens an area by 0.01.
    rt::Variant zone = BufferZoneLocate(nullptr, 0.0, rect, storage, rt::Variant(Square(0, 0, 10)));
    auto widened = product::geometry_math::Shape::Of(product::StoredGeometryOf(zone)->Read());
    EXPECT_EQ(widened.Locate({-0.009, 5}), product::geometry_math::Location::Inside);
    EXPECT_EQ(widened.Locate({-0.011, 5}), product::geometry_math::Location::Outside);
    // An area that is no area leaves no zone.
    EXPECT_TRUE(BufferZoneLocate(nullptr, 1.0, rect, storage, rt::Variant(product::PolygonGeometry::Create())).IsEmpty());
}

TEST_F(GeometryChecks, TouchByClassOfTheTypeText) {
    auto target = Of({nullptr, Square(0, 0, 10)});
    struct Case {
        const char* what;
        rt::ObjectPtr geom;
        const char* type;
        double tolerance;
        bool touch;
    } cases[] = {
        {"point within the tolerance", Pt(10.4, 5), "PointGeometry", 0.5, true},
        {"point beyond it", Pt(10.6, 5), "PointGeometry", 0.5, false},
        {"line whose start misses and end meets", Line(30, 5, 10.3, 5), "LineGeometry", 0.5, true},
        {"arc text is linear", Line(30, 5, 10.3, 5), "ArcGeometry", 0.5, true},
        {"a line's middle is not searched", Line(5, -20, 5, 30), "LineGeometry", 0.5, false},
        {"area within the tolerance", Square(10.4, 0, 3), "PolygonGeometry", 0.5, true},
        {"rectangle text is areal", Square(10.4, 0, 3), "RectangleGeometry", 0.5, true},
        {"area beyond", Square(10.6, 0, 3), "BoundaryGeometry", 0.5, false},
        {"unknown text", Pt(5, 5), "Unknown", 0.5, false},
        {"point without an end", product::PolylineGeometry::Create(), "PointGeometry", 0.5, false},
    };
    for (auto& c : cases) EXPECT_EQ(GeometriesTouch(c.geom, c.type, target, c.tolerance), c.touch) << c.what;
}

TEST_F(GeometryChecks, StoredGeometrySearchAnswersAloneAsWithAKeptFilter) {
    auto rect = rt::QueryInterface<IRectangleGeometry>(rt::CreateObject(kRectangleGeometryClsid));
    auto storage = rt::QueryInterface<IGeometryStorageService>(rt::CreateObject(kGeometryStorageServiceClsid));
    auto stored = CreateGeometryRecordset(Of({Square(0, 0, 10)}));
    auto none = CreateGeometryRecordset(Of({}));
    auto kept = rt::QueryInterface<ISpatialFilter>(rt::CreateObject(kSpatialFilterClsid));
    kept->put_Operator(spatial_operator::Intersects);
    kept->put_GeometryFieldName("QTX_GEOMETRY");
    struct Case {
        const char* what;
        std::shared_ptr<IFrameworkRecordset> rows;
        rt::Variant search;
        bool meets;
    } cases[] = {
        {"a square over the edge", stored, BufferZoneLocate(Pt(10.4, 5), 0.5, rect, storage), true},
        {"a square beyond it", stored, BufferZoneLocate(Pt(10.6, 5), 0.5, rect, storage), false},
        {"no search geometry", stored, rt::Variant(), false},
        {"no stored geometry", none, BufferZoneLocate(Pt(5, 5), 0.5, rect, storage), false},
    };
    // The kept filter searched before must not answer from its last search.
    for (auto& c : cases) {
        EXPECT_EQ(GetStoredGeometry(c.rows, c.search), c.meets) << c.what;
        EXPECT_EQ(GetStoredGeometry(c.rows, c.search, kept.get()), c.meets) << c.what << ", kept filter";
    }
}

TEST_F(GeometryChecks, AnEmptyCollectionTouchesNothingWithoutTheFramework) {
    rt::UnregisterClass(kInMemoryRecordsetProgId);
    EXPECT_FALSE(GeometriesTouch(Pt(0, 0), "PointGeometry", Of({}), 1.0));
    EXPECT_EQ(ErrorOf([&] { GeometriesTouch(Pt(0, 0), "PointGeometry", Of({Pt(0, 0)}), 1.0); }),
              rt::vberr::CannotCreateObject);
}

// ---- on the sample ----

namespace {

class GeometryChecksOnSample : public featuretest::FeatureAssemblyFixture {
protected:
    rt::ObjectPtr Geometry(int16_t fno, int32_t fid, const char* component) {
        service_->put_FeatureNumber(fno);
        service_->put_FeatureID(fid);
        auto geometry = service_->OpenFeature()->get_Components()->get_Item(rt::Variant(component))->get_Geometry();
        EXPECT_NE(geometry, nullptr) << fid;
        return geometry;
    }
    rt::ObjectPtr Main(int32_t fid) { return Geometry(101, fid, "WATER_MAIN_LINE"); }
    rt::ObjectPtr Area(int32_t fid) { return Geometry(106, fid, "AREA_OUTLINE"); }
};

}  // namespace

TEST_F(GeometryChecksOnSample, MainsAgainstThePressureZoneAndItsHole) {
    auto zone = Area(5101);
    EXPECT_EQ(GetGeometryTypeSuffix(zone), "BoundaryGeometry");
    struct Case {
        int32_t main;
        double tolerance;
        bool fromMain, fromZone;  // the main's ends searched; the zone widened
        const char* why;
    } cases[] = {
        {5201, 0.5, true, true, "crosses the west edge: its end lies inside"},
        {5202, 0.5, true, true, "ends in the hole 0.4 short of the area"},
        {5202, 0.3, false, false, "the hole is no part of the area"},
        {5203, 0.5, false, false, "runs 2 north"},
        {5203, 2.5, false, true, "its ends lie beyond the zone's corners; only its middle comes near"},
    };
    for (auto& c : cases) {
        EXPECT_EQ(GeometriesTouch(Main(c.main), "PolylineGeometry", Of({zone}), c.tolerance), c.fromMain) << c.why;
        EXPECT_EQ(GeometriesTouch(zone, "BoundaryGeometry", Of({Main(c.main)}), c.tolerance), c.fromZone) << c.why;
    }
}

TEST_F(GeometryChecksOnSample, ValvesChamberAndServiceLines) {
    auto chamber = Area(5102);
    auto valve = Geometry(102, 2001, "VALVE_SYMBOL");
    auto main1001 = Main(1001);
    EXPECT_TRUE(ContainsPolygon(Of({nullptr, chamber})));
    EXPECT_TRUE(GeometriesTouch(valve, "OrientedPointGeometry", Of({chamber}), 0.0)) << "the valve in its chamber";
    EXPECT_TRUE(GeometriesTouch(chamber, "PolygonGeometry", Of({main1001}), 0.0)) << "the main through the chamber";
    EXPECT_TRUE(GeometriesTouch(valve, "OrientedPointGeometry", Of({main1001}), 0.0)) << "a valve on a vertex";

    // The service line's arc ends 0.2 from main 1001; its ends meet no end of the main.
    auto service = Geometry(104, 5301, "SERVICE_LINE");
    EXPECT_EQ(GetGeometryTypeSuffix(service), "CompositePolylineGeometry");
    auto s = NewPoint(), e = NewPoint(), ms = NewPoint(), me = NewPoint();
    ASSERT_TRUE(GetStartPoint(service, s) && GetEndPoint(service, e));
    ASSERT_TRUE(GetStartPoint(main1001, ms) && GetEndPoint(main1001, me));
    EXPECT_EQ(At(e), "(1050 5000.2 0)");
    EXPECT_FALSE(EndpointsCoincide(s, e, ms, me, 0.3));
    EXPECT_TRUE(GeometriesTouch(service, "PolylineGeometry", Of({main1001}), 0.3));
    EXPECT_FALSE(GeometriesTouch(service, "PolylineGeometry", Of({main1001}), 0.1));

    // Mains 1001 and 1002 are tied at their starts by a rule, not at 1001's end.
    auto main1002 = Main(1002);
    EXPECT_TRUE(IsConnectedAtEndpoint(main1001, 1, main1002, 1));
    EXPECT_FALSE(IsConnectedAtEndpoint(main1001, 2, main1002, 1));
    EXPECT_TRUE(IsConnectedAtEndpoint(main1002, 1, Geometry(102, 2002, "VALVE_SYMBOL"), 2));
}

namespace {

// The findings of one ValidateEndpointConnectivity call, "priority|text|FNO|FID|CNO|CID".
class EndpointConnectivityOnSample : public GeometryChecksOnSample {
protected:
    std::vector<std::string> Findings(int32_t fid1, int16_t cno1, std::shared_ptr<rt::Collection> g1, int32_t fid2,
                                      int16_t cno2, std::shared_ptr<rt::Collection> g2, double tolerance,
                                      rt::Variant checkTouch, ComponentGeometryMemo* memo = nullptr) {
        auto rs = CreateValidationRecordset();
        auto metadata = rt::QueryInterface<IMetadataService>(metadata_);
        ValidateEndpointConnectivity(featuretest::Key(FnoOf(fid1), fid1), g1, cno1, featuretest::Key(FnoOf(fid2), fid2),
                                     g2, cno2, tolerance, "Here", "Conn", "P1", checkTouch, metadata, rs, memo);
        std::vector<std::string> out;
        if (rs->get_BOF() && rs->get_EOF()) return out;
        for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext()) {
            std::string line;
            for (int32_t k = 0; k < 8; ++k) {
                if (k == 2 || k == 3) continue;
                rt::Variant v = rs->GetValue(rt::Variant(k));
                line += (k ? "|" : "") + (v.IsNull() ? std::string("Null") : rt::CStr(v));
            }
            out.push_back(line);
        }
        return out;
    }
    static int16_t FnoOf(int32_t fid) {
        for (auto [first, last, fno] : {std::tuple{1001, 1003, 101}, {5201, 5203, 101}, {2001, 2002, 102},
                                        {5101, 5102, 106}, {5301, 5301, 104}})
            if (fid >= first && fid <= last) return static_cast<int16_t>(fno);
        ADD_FAILURE() << "no feature class for " << fid;
        return 0;
    }
};

}  // namespace

TEST_F(EndpointConnectivityOnSample, FindingsOnlyForFeaturesThatDoNotMeet) {
    const rt::Variant True(true), False(false), One(int16_t{1});
    auto main1001 = Main(1001), main1002 = Main(1002), main1003 = Main(1003);
    auto service = Geometry(104, 5301, "SERVICE_LINE");
    auto valve = Geometry(102, 2001, "VALVE_SYMBOL");
    const std::string notConnected1002 = "P1|Water Main 1001 and Water Main 1002 are not connected within 0.5.|101|1001|Null|Null";
    struct Case {
        const char* what;
        int32_t fid1;
        int16_t cno1;
        std::shared_ptr<rt::Collection> g1;
        int32_t fid2;
        int16_t cno2;
        std::shared_ptr<rt::Collection> g2;
        double tolerance;
        rt::Variant checkTouch;
        std::vector<std::string> findings;
    } cases[] = {
        {"ends coincide", 1001, 12, Of({main1001}), 1003, 12, Of({main1003}), 0.0, False, {}},
        {"start on the other's vertex, no touch test", 1001, 12, Of({main1001}), 1002, 12, Of({main1002}), 0.5, False,
         {notConnected1002}},
        {"touch test: the second's start lies on the first", 1001, 12, Of({main1001}), 1002, 12, Of({main1002}), 0.5,
         True, {}},
        {"CheckTouch 1 is not True", 1001, 12, Of({main1001}), 1002, 12, Of({main1002}), 0.5, One, {notConnected1002}},
        {"service arc within 0.3 of the main", 5301, 42, Of({service}), 1001, 12, Of({main1001}), 0.3, True, {}},
        {"and not within 0.1", 5301, 42, Of({service}), 1001, 12, Of({main1001}), 0.1, True,
         {"P1|Service Line 5301 and Water Main 1001 are not connected within 0.1.|104|5301|Null|Null"}},
        {"a polygon switches to the touch test", 2001, 22, Of({nullptr, valve}), 5102, 62, Of({Area(5102)}), 0.0, False,
         {}},
        {"empty collections", 1001, 12, Of({}), 1002, 12, Of({}), 0.25, False,
         {"P1|Water Main 1001 and Water Main 1002 are not connected within 0.25.|101|1001|Null|Null"}},
        // Before the fix the empty polyline left the point at (0, 0), which
        // then coincided with the point at the origin.
        {"a geometry without ends is passed over", 1001, 12, Of({nullptr, product::PolylineGeometry::Create()}), 1002, 12,
         Of({Pt(0, 0)}), 0.1, False,
         {"P1|Water Main 1001 and Water Main 1002 are not connected within 0.1.|101|1001|Null|Null"}},
    };
    for (auto& c : cases)
        EXPECT_EQ(Findings(c.fid1, c.cno1, c.g1, c.fid2, c.cno2, c.g2, c.tolerance, c.checkTouch), c.findings) << c.what;
}

TEST_F(EndpointConnectivityOnSample, GeometriesReachedByNameOnlyMeetAsTheLibrarysOwn) {
    const rt::Variant False(false);
    struct Case {
        const char* what;
        std::shared_ptr<rt::Collection> (*first)(bool byName);
        std::shared_ptr<rt::Collection> (*second)(bool byName);
        double tolerance;
        bool connected;
    } cases[] = {
        {"end on end", [](bool n) { return Of({n ? NamedOnly(Polyline({{0, 0}, {5, 0}})) : Polyline({{0, 0}, {5, 0}})}); },
         [](bool n) { return Of({n ? NamedOnly(Polyline({{5.2, 0.2}, {9, 9}})) : Polyline({{5.2, 0.2}, {9, 9}})}); },
         0.25, true},
        {"just beyond", [](bool n) { return Of({n ? NamedOnly(Polyline({{0, 0}, {5, 0}})) : Polyline({{0, 0}, {5, 0}})}); },
         [](bool n) { return Of({n ? NamedOnly(Polyline({{5.2, 0.2}, {9, 9}})) : Polyline({{5.2, 0.2}, {9, 9}})}); },
         0.15, false},
        {"point on a line's start", [](bool n) { return Of({n ? NamedOnly(Pt(0.1, 0)) : Pt(0.1, 0)}); },
         [](bool n) { return Of({nullptr, n ? NamedOnly(Line(0, 0, 9, 9)) : Line(0, 0, 9, 9)}); }, 0.1, true},
        {"rectangle origin off a point", [](bool n) {
             auto r = product::RectangleGeometry::Create(3, 4, 5, 6, 7);
             return Of({n ? NamedOnly(r) : r});
         },
         [](bool n) { return Of({n ? NamedOnly(Pt(3, 4.5)) : Pt(3, 4.5)}); }, 0.4, false},
        {"a polyline without points is passed over",
         [](bool n) {
             auto empty = product::PolylineGeometry::Create();
             return Of({n ? NamedOnly(empty) : empty});
         },
         [](bool n) { return Of({n ? NamedOnly(Pt(0, 0)) : Pt(0, 0)}); }, 1.0, false},
    };
    for (auto& c : cases) {
        auto typed = Findings(1001, 12, c.first(false), 1002, 12, c.second(false), c.tolerance, False);
        EXPECT_EQ(typed.empty(), c.connected) << c.what;
        EXPECT_EQ(Findings(1001, 12, c.first(true), 1002, 12, c.second(true), c.tolerance, False), typed) << c.what;
        EXPECT_EQ(Findings(1001, 12, c.first(true), 1002, 12, c.second(false), c.tolerance, False), typed) << c.what;
    }
}

TEST_F(EndpointConnectivityOnSample, ARunsMemoMakesAnOwnersGeometryRecordsetOnceAndFindsTheSame) {
    const rt::Variant True(true);
    int made = 0;
    rt::RegisterClass(kInMemoryRecordsetProgId, "", [&made] {
        ++made;
        return std::make_shared<product::InMemoryRecordset>();
    });
    // The main's first segment runs from (1000 5000) to (1100 5000).
    auto main = Of({Main(1001)});
    const std::pair<double, double> valves[] = {{1030, 5000}, {1050, 5000.2}, {1070, 5000}, {1050, 5010}};
    ComponentGeometryMemo memo;
    int withoutMemo = 0, withMemo = 0;
    for (auto [x, y] : valves) {
        auto valve = Of({Pt(x, y)});
        made = 0;
        auto expected = Findings(2001, 22, valve, 1001, 12, main, 0.5, True);
        withoutMemo += made;
        made = 0;
        EXPECT_EQ(Findings(2001, 22, valve, 1001, 12, main, 0.5, True, &memo), expected) << x << " " << y;
        withMemo += made;
        EXPECT_EQ(expected.empty(), y < 5001) << x << " " << y;
    }
    // Each valve searches the main once; the last one is searched from the main too.
    EXPECT_EQ(withoutMemo, 5);
    EXPECT_EQ(withMemo, 2);
    product::RegisterProductStandIns();
}

TEST_F(EndpointConnectivityOnSample, ARunsMemoSearchesWithOneSquareAndFilterAsFreshOnesWould) {
    const rt::Variant True(true), False(false);
    int squares = 0, filters = 0;
    rt::RegisterClass(kRectangleGeometryProgId, kRectangleGeometryClsid, [&squares] {
        ++squares;
        return product::RectangleGeometry::Create();
    });
    rt::RegisterClass("Holvane.SpatialFilter", kSpatialFilterClsid, [&filters] {
        ++filters;
        return std::make_shared<product::SpatialFilter>();
    });
    auto main1001 = Of({Main(1001)}), main1002 = Of({Main(1002)});
    auto service = Of({Geometry(104, 5301, "SERVICE_LINE")});
    auto valve = Of({nullptr, Geometry(102, 2001, "VALVE_SYMBOL")});
    auto chamber = Of({Area(5102)});
    // Each search sets the square anew: larger and smaller tolerances, points
    // on either side of the main, lines searched from both ends, areas.
    struct Case {
        int32_t fid1;
        int16_t cno1;
        std::shared_ptr<rt::Collection> g1;
        int32_t fid2;
        int16_t cno2;
        std::shared_ptr<rt::Collection> g2;
        double tolerance;
    } cases[] = {
        {2001, 22, Of({Pt(1030, 5000.4)}), 1001, 12, main1001, 0.5},
        {2001, 22, Of({Pt(1030, 5000.4)}), 1001, 12, main1001, 0.3},
        {2001, 22, Of({Pt(1030, 4999.8)}), 1001, 12, main1001, 0.25},
        {5301, 42, service, 1001, 12, main1001, 0.3},
        {5301, 42, service, 1001, 12, main1001, 0.1},
        {1001, 12, main1001, 1002, 12, main1002, 0.5},
        {1002, 12, main1002, 1001, 12, main1001, 0.5},
        {2001, 22, valve, 5102, 62, chamber, 0.0},
        {2001, 22, Of({Pt(1030, 5000.1)}), 1001, 12, main1001, 2.0},
    };
    ComponentGeometryMemo memo;
    int connected = 0, madeFresh = 0, madeWithMemo = 0;
    for (const auto& c : cases) {
        for (const rt::Variant& touch : {True, False}) {
            squares = filters = 0;
            const auto fresh = Findings(c.fid1, c.cno1, c.g1, c.fid2, c.cno2, c.g2, c.tolerance, touch);
            madeFresh += squares + filters;
            squares = filters = 0;
            EXPECT_EQ(Findings(c.fid1, c.cno1, c.g1, c.fid2, c.cno2, c.g2, c.tolerance, touch, &memo), fresh)
                << c.fid1 << " " << c.fid2 << " within " << c.tolerance;
            madeWithMemo += squares + filters;
            connected += fresh.empty() ? 1 : 0;
        }
    }
    EXPECT_GT(connected, 0);
    EXPECT_LT(connected, 2 * static_cast<int>(std::size(cases)));
    EXPECT_EQ(madeWithMemo, 2) << "one square and one filter for every search of the run";
    EXPECT_GT(madeFresh, 2 * 4);
    product::RegisterProductStandIns();
}
