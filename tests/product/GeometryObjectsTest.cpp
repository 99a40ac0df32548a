// The geometry objects as the validation and dimensioning code reaches them:
// late bound by member name, by type text and by run-time type name.
#include <gtest/gtest.h>

#include <set>

#include "product/StandIns.h"
#include "product/geometry/GeometryObjects.h"
#include "runtime/Error.h"
#include "product/GeometryTestSupport.h"
#include "support/Raises.h"

using namespace product;
using namespace geomtest;
using pelmora::GeometryKind;
using pelmora_test::ErrorOf;

namespace {

std::shared_ptr<PolylineGeometry> Polyline(std::initializer_list<std::pair<double, double>> pts) {
    auto g = PolylineGeometry::Create();
    for (auto& [x, y] : pts) g->PointList()->Add(x, y);
    return g;
}

std::shared_ptr<PolygonGeometry> Polygon(std::initializer_list<std::pair<double, double>> pts) {
    auto g = PolygonGeometry::Create();
    for (auto& [x, y] : pts) g->PointList()->Add(x, y);
    return g;
}

}  // namespace

TEST(GeometryObjects, EveryKindAnswersItsTypeTextAndPrefixedTypeName) {
    const GeometryKind kinds[] = {GeometryKind::Point,          GeometryKind::OrientedPoint,
                                  GeometryKind::TextPoint,      GeometryKind::Line,
                                  GeometryKind::Polyline,       GeometryKind::Arc,
                                  GeometryKind::Polygon,        GeometryKind::Boundary,
                                  GeometryKind::CompositePolyline, GeometryKind::CompositePolygon,
                                  GeometryKind::Collection,     GeometryKind::Rectangle};
    std::set<std::string> seen;
    for (auto kind : kinds) {
        auto g = CreateGeometry(kind);
        std::string type = rt::CStr(Get(g, "Type"));
        EXPECT_EQ(type, pelmora::GeometryTypeText(kind));
        EXPECT_EQ(g->Kind(), kind);
        EXPECT_EQ(rt::TypeName(rt::Variant(g)), "DYv" + type);
        seen.insert(type);
    }
    EXPECT_EQ(seen.size(), std::size(kinds));
    EXPECT_EQ(rt::TypeName(rt::Variant(Point::Create())), "DYvPoint");
}

TEST(GeometryObjects, PointKindsHandOutTheirOwnOriginAndCopyWhatIsAssigned) {
    auto g = PointGeometry::Create(1, 2, 3);
    auto origin = GetObj(g, "Origin");
    EXPECT_EQ(Pt(origin), "(1 2 3)");
    // The end-point walk writes into the Origin it was handed.
    Let(origin, "X", D(10));
    Let(origin, "Z", D(-4.5));
    EXPECT_EQ(Pt(GetObj(g, "Origin")), "(10 2 -4.5)");

    auto other = Point::Create(7, 8, 9);
    rt::CallByName(g, "Origin", rt::InvokeKind::PropertySet, rt::Args{rt::Variant(other)});
    other->put_X(100);
    EXPECT_EQ(Pt(GetObj(g, "Origin")), "(7 8 9)");
    EXPECT_EQ(GetObj(g, "Origin"), origin) << "the origin object stays the geometry's own";

    auto oriented = OrientedPointGeometry::Create(5, 6);
    EXPECT_EQ(Pt(GetObj(oriented, "Orientation")), "(1 0 0)");
    auto text = TextPointGeometry::Create(5, 6);
    Let(GetObj(text, "Orientation"), "Y", D(1));
    EXPECT_EQ(Describe(text), "TextPointGeometry[Origin(5 6 0)Orientation(1 1 0)]");

    EXPECT_EQ(ErrorOf([&] { Get(g, "Start"); }), rt::vberr::ObjectDoesNotSupportMember);
    EXPECT_EQ(ErrorOf([&] { rt::CallByName(g, "Origin", rt::InvokeKind::PropertySet, rt::Args{rt::Variant(g)}); }),
              rt::vberr::TypeMismatch)
        << "a point geometry is no point";
}

TEST(GeometryObjects, LinesArcsAndRectanglesByName) {
    auto line = LineGeometry::Create(0, 0, 10, 0);
    EXPECT_EQ(Pt(GetObj(line, "Start")), "(0 0 0)");
    EXPECT_EQ(Pt(GetObj(line, "End")), "(10 0 0)");
    EXPECT_EQ(ErrorOf([&] { Get(line, "Origin"); }), rt::vberr::ObjectDoesNotSupportMember);

    auto arc = ArcGeometry::Create();
    Let(GetObj(arc, "Start"), "X", D(1));
    Let(GetObj(arc, "Origin"), "Y", D(2));
    Let(GetObj(arc, "End"), "Z", D(3));
    EXPECT_EQ(Describe(arc), "ArcGeometry[Start(1 0 0)Origin(0 2 0)End(0 0 3)]");

    auto rect = RectangleGeometry::Create(10, 20, 4, 2, 0);
    Let(rect, "Rotation", D(30));
    Let(rect, "Width", rt::Variant("5"));  // let converts as VB does
    EXPECT_DOUBLE_EQ(rt::CDbl(Get(rect, "Width")), 5);
    EXPECT_DOUBLE_EQ(rt::CDbl(Get(rect, "Height")), 2);
    EXPECT_DOUBLE_EQ(rect->get_Rotation(), 30);
    EXPECT_EQ(Pt(GetObj(rect, "Origin")), "(10 20 0)");
    auto typed = rt::QueryInterface<pelmora::IRectangleGeometry>(rt::ObjectPtr(rect));
    typed->get_Origin()->put_Y(21);
    EXPECT_EQ(Pt(GetObj(rect, "Origin")), "(10 21 0)");
}

TEST(GeometryObjects, PointListsCountItemAndAddByCopy) {
    auto g = Polyline({{0, 0}, {1, 1}});
    auto points = GetObj(g, "Points");
    EXPECT_EQ(rt::CLng(Get(points, "Count")), 2);

    auto p = Point::Create(5, 5, 1);
    Call(points, "Add", {rt::Variant(p)});
    p->put_X(99);  // the rectangle-to-polygon walk reuses one point for several Adds
    Call(points, "Add", {rt::Variant(p)});
    EXPECT_EQ(Describe(g), "PolylineGeometry[(0 0 0)(1 1 0)(5 5 1)(99 5 1)]");

    // Insert before an index, and remove.
    Call(points, "Add", {rt::Variant(Point::Create(-1, -1)), rt::Variant(int32_t{1})});
    Call(points, "Remove", {rt::Variant(int32_t{3})});
    EXPECT_EQ(Describe(g), "PolylineGeometry[(-1 -1 0)(0 0 0)(5 5 1)(99 5 1)]");

    // Items are the geometry's own points; Points(i) and the default member reach them.
    Let(GetObj(points, "Item", {rt::Variant(int32_t{2})}), "Y", D(7));
    EXPECT_EQ(Pt(GetObj(g, "Points", {rt::Variant(int32_t{2})})), "(0 7 0)");
    rt::Args idx{rt::Variant(int32_t{4})};
    EXPECT_EQ(Pt(rt::CallByDispId(points, 0, rt::InvokeKind::PropertyGet, idx).Obj()), "(99 5 1)");

    EXPECT_EQ(ErrorOf([&] { Get(points, "Item", {rt::Variant(int32_t{0})}); }), rt::vberr::SubscriptOutOfRange);
    EXPECT_EQ(ErrorOf([&] { Get(points, "Item", {rt::Variant(int32_t{5})}); }), rt::vberr::SubscriptOutOfRange);
    EXPECT_EQ(ErrorOf([&] { Call(points, "Add", {rt::Variant(int32_t{5})}); }), rt::vberr::TypeMismatch);
    EXPECT_EQ(ErrorOf([&] { Call(points, "Add", {rt::Variant::Nothing()}); }), rt::vberr::ObjectVariableNotSet);
    EXPECT_EQ(ErrorOf([&] { Call(points, "Add", {rt::Variant(p), rt::Variant(int32_t{9})}); }),
              rt::vberr::SubscriptOutOfRange);
    EXPECT_EQ(rt::CLng(Get(points, "Count")), 4) << "refused adds change nothing";
}

TEST(GeometryObjects, CompositesCollectionsAndBoundariesHoldTheirParts) {
    auto composite = CompositePolylineGeometry::Create();
    Call(composite, "Add", {rt::Variant(Polyline({{0, 0}, {1, 0}, {2, 0}}))});
    Call(composite, "Add", {rt::Variant(LineGeometry::Create(2, 0, 2, 5))});
    EXPECT_EQ(rt::CLng(Get(composite, "Count")), 2);
    EXPECT_EQ(rt::CStr(Get(GetObj(composite, "Item", {rt::Variant(int32_t{2})}), "Type")), "LineGeometry");
    EXPECT_EQ(ErrorOf([&] { Call(composite, "Add", {rt::Variant(PointGeometry::Create())}); }),
              rt::vberr::TypeMismatch);
    EXPECT_EQ(ErrorOf([&] { Call(CompositePolygonGeometry::Create(), "Add", {rt::Variant(Polygon({{0, 0}}))}); }),
              rt::vberr::TypeMismatch)
        << "a composite polygon is a ring of linear pieces";

    auto boundary = BoundaryGeometry::Create();
    EXPECT_TRUE(Get(boundary, "Exterior").IsNothing());
    auto outer = Polygon({{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}});
    rt::CallByName(boundary, "Exterior", rt::InvokeKind::PropertySet, rt::Args{rt::Variant(outer)});
    auto holes = GetObj(boundary, "Holes");
    Call(holes, "Add", {rt::Variant(Polygon({{1, 1}, {2, 1}, {2, 2}, {1, 1}}))});
    EXPECT_EQ(rt::CLng(Get(holes, "Count")), 1);
    EXPECT_EQ(GetObj(boundary, "Exterior"), rt::ObjectPtr(outer));
    EXPECT_EQ(Describe(GetObj(boundary, "Holes", {rt::Variant(int32_t{1})})),
              "PolygonGeometry[(1 1 0)(2 1 0)(2 2 0)(1 1 0)]");
    EXPECT_EQ(ErrorOf([&] {
                  rt::CallByName(boundary, "Exterior", rt::InvokeKind::PropertySet,
                                 rt::Args{rt::Variant(Polyline({{0, 0}}))});
              }),
              rt::vberr::TypeMismatch);
    EXPECT_EQ(ErrorOf([&] { Call(holes, "Add", {rt::Variant(LineGeometry::Create())}); }), rt::vberr::TypeMismatch);

    auto collection = GeometryCollection::Create();
    Call(collection, "Add", {rt::Variant(boundary)});
    Call(collection, "Add", {rt::Variant(PointGeometry::Create())});
    Call(collection, "Add", {rt::Variant(composite)});
    EXPECT_EQ(rt::CLng(Get(collection, "Count")), 3);
    Call(collection, "Remove", {rt::Variant(int32_t{2})});
    EXPECT_EQ(rt::CStr(Get(GetObj(collection, "Item", {rt::Variant(int32_t{2})}), "Type")),
              "CompositePolylineGeometry");
}

TEST(GeometryObjects, NoGeometryMayHoldItself) {
    auto outer = GeometryCollection::Create();
    auto inner = GeometryCollection::Create();
    Call(outer, "Add", {rt::Variant(inner)});
    EXPECT_EQ(ErrorOf([&] { Call(outer, "Add", {rt::Variant(outer)}); }), rt::vberr::InvalidProcedureCall);
    EXPECT_EQ(ErrorOf([&] { Call(inner, "Add", {rt::Variant(outer)}); }), rt::vberr::InvalidProcedureCall);
    EXPECT_EQ(rt::CLng(Get(inner, "Count")), 0);
    // One part in two places is no cycle.
    auto shared = PointGeometry::Create();
    Call(outer, "Add", {rt::Variant(shared)});
    Call(inner, "Add", {rt::Variant(shared)});
    EXPECT_EQ(rt::CLng(Get(outer, "Count")), 2);
}

TEST(GeometryObjects, SystemCreatesPointsPolygonsAndRectanglesByClass) {
    product::RegisterProductStandIns();
    auto pg = rt::CreateObject(pelmora::kPointGeometryProgId);
    EXPECT_EQ(rt::TypeName(rt::Variant(pg)), "DYvPointGeometry");
    EXPECT_EQ(rt::TypeName(rt::Variant(rt::CreateObject(pelmora::kPointGeometryClsid))), "DYvPointGeometry");
    auto point = rt::CreateObject(pelmora::kPointClsid);
    EXPECT_EQ(rt::TypeName(rt::Variant(point)), "DYvPoint");
    ASSERT_NE(rt::TryQueryInterface<pelmora::IPoint>(point), nullptr);
    auto polygon = rt::CreateObject(pelmora::kPolygonGeometryClsid);
    auto typed = rt::QueryInterface<pelmora::IPointListGeometry>(polygon);
    typed->get_Points()->Add(rt::QueryInterface<pelmora::IPoint>(point));
    EXPECT_EQ(rt::CLng(Get(GetObj(polygon, "Points"), "Count")), 1);
    auto rect = rt::CreateObject(pelmora::kRectangleGeometryClsid);
    EXPECT_EQ(rt::CStr(Get(rect, "Type")), "RectangleGeometry");
    EXPECT_EQ(rt::TryQueryInterface<pelmora::IPointGeometry>(rect), nullptr);
}
