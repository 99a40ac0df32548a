// The geometry routines against brute force on random shapes: every answer
// GEOS gives through GeometryMath is checked with the plain formulas
// (projections, orientation tests, crossing numbers, pairwise minima).
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "product/geometry/GeometryMath.h"
#include "product/geometry/GeometryObjects.h"

using namespace product;
using namespace product::geometry_math;

namespace {

constexpr int kRounds = 300;

double Dot(XY a, XY b) { return a.x * b.x + a.y * b.y; }
XY Sub(XY a, XY b) { return {a.x - b.x, a.y - b.y}; }
double Len(XY a) { return std::hypot(a.x, a.y); }
double Cross(XY o, XY a, XY b) { return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x); }

XY BruteProjection(XY p, XY a, XY b) {
    XY ab = Sub(b, a);
    double l2 = Dot(ab, ab);
    double t = l2 == 0.0 ? 0.0 : std::clamp(Dot(Sub(p, a), ab) / l2, 0.0, 1.0);
    return {a.x + t * ab.x, a.y + t * ab.y};
}
double BrutePointSegment(XY p, XY a, XY b) { return Len(Sub(p, BruteProjection(p, a, b))); }

bool OnSegment(XY p, XY a, XY b) {
    return std::min(a.x, b.x) <= p.x && p.x <= std::max(a.x, b.x) && std::min(a.y, b.y) <= p.y &&
           p.y <= std::max(a.y, b.y);
}
// Exact on small integers.
bool BruteSegmentsIntersect(XY a, XY b, XY c, XY d) {
    double d1 = Cross(c, d, a), d2 = Cross(c, d, b), d3 = Cross(a, b, c), d4 = Cross(a, b, d);
    if (((d1 > 0 && d2 < 0) || (d1 < 0 && d2 > 0)) && ((d3 > 0 && d4 < 0) || (d3 < 0 && d4 > 0))) return true;
    return (d1 == 0 && OnSegment(a, c, d)) || (d2 == 0 && OnSegment(b, c, d)) || (d3 == 0 && OnSegment(c, a, b)) ||
           (d4 == 0 && OnSegment(d, a, b));
}
double BruteSegmentSegment(XY a, XY b, XY c, XY d) {
    if (BruteSegmentsIntersect(a, b, c, d)) return 0.0;
    return std::min({BrutePointSegment(a, c, d), BrutePointSegment(b, c, d), BrutePointSegment(c, a, b),
                     BrutePointSegment(d, a, b)});
}

// Crossing number over a closed ring.
bool BruteInRing(XY p, const std::vector<XY>& ring) {
    bool in = false;
    for (size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
        if ((ring[i].y > p.y) != (ring[j].y > p.y) &&
            p.x < (ring[j].x - ring[i].x) * (p.y - ring[i].y) / (ring[j].y - ring[i].y) + ring[i].x)
            in = !in;
    }
    return in;
}

class Random {
public:
    explicit Random(unsigned seed) : gen_(seed) {}
    double Real(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(gen_); }
    int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen_); }
    XY Pt(double lo = -50, double hi = 50) { return {Real(lo, hi), Real(lo, hi)}; }
    XY GridPt() { return {double(Int(-4, 4)), double(Int(-4, 4))}; }
    // A simple polygon: a star around center, radii within [rMin, rMax].
    // Corners spread all round keep the center inside, at least about
    // rMin / 2 from every edge.
    std::vector<XY> Star(XY center, double rMin, double rMax) {
        int n = Int(5, 12);
        std::vector<XY> pts;
        for (int i = 0; i < n; ++i) {
            double step = 2 * std::numbers::pi / n;
            double a = step * (i + Real(-0.3, 0.3));
            double r = Real(rMin, rMax);
            pts.push_back({center.x + r * std::cos(a), center.y + r * std::sin(a)});
        }
        return pts;
    }

private:
    std::mt19937 gen_;
};

std::shared_ptr<PolygonGeometry> PolygonOf(const std::vector<XY>& pts) {
    auto g = PolygonGeometry::Create();
    for (XY p : pts) g->PointList()->Add(p.x, p.y);
    return g;
}
std::shared_ptr<PolylineGeometry> PolylineOf(const std::vector<XY>& pts) {
    auto g = PolylineGeometry::Create();
    for (XY p : pts) g->PointList()->Add(p.x, p.y);
    return g;
}
// The same ring as a composite polygon of lines.
std::shared_ptr<CompositePolygonGeometry> CompositeRingOf(const std::vector<XY>& pts) {
    auto g = CompositePolygonGeometry::Create();
    for (size_t i = 0; i < pts.size(); ++i) {
        XY a = pts[i], b = pts[(i + 1) % pts.size()];
        g->Items()->Add(LineGeometry::Create(a.x, a.y, b.x, b.y));
    }
    return g;
}

}  // namespace

TEST(GeometryMath, PointSegmentDistanceAndProjectionMatchTheFormulas) {
    Random rnd(11);
    for (int i = 0; i < kRounds; ++i) {
        XY p = rnd.Pt(), a = rnd.Pt(), b = i % 10 == 0 ? a : rnd.Pt();  // some segments are points
        double expected = BrutePointSegment(p, a, b);
        EXPECT_NEAR(PointSegmentDistance(p, a, b), expected, 1e-9) << "round " << i;
        Projection pr = ProjectPointToSegment(p, a, b);
        XY q = BruteProjection(p, a, b);
        EXPECT_NEAR(pr.point.x, q.x, 1e-9) << "round " << i;
        EXPECT_NEAR(pr.point.y, q.y, 1e-9) << "round " << i;
        EXPECT_NEAR(pr.distance, expected, 1e-9) << "round " << i;
        double t = Len(Sub(b, a)) == 0 ? 0.0 : Len(Sub(q, a)) / Len(Sub(b, a));
        EXPECT_NEAR(pr.t, t, 1e-9) << "round " << i;
    }
}

TEST(GeometryMath, SegmentIntersectionMatchesOrientationTestsIncludingTouchAndOverlap) {
    // Grid points make touching, collinear and overlapping pairs common.
    Random rnd(12);
    int hits = 0;
    for (int i = 0; i < kRounds * 3; ++i) {
        XY a = rnd.GridPt(), b = rnd.GridPt(), c = rnd.GridPt(), d = rnd.GridPt();
        bool expected = BruteSegmentsIntersect(a, b, c, d);
        hits += expected;
        ASSERT_EQ(SegmentsIntersect(a, b, c, d), expected)
            << a.x << "," << a.y << "-" << b.x << "," << b.y << " / " << c.x << "," << c.y << "-" << d.x << "," << d.y;
        auto at = SegmentIntersection(a, b, c, d);
        ASSERT_EQ(at.has_value(), expected);
        if (at) {
            EXPECT_NEAR(BrutePointSegment(*at, a, b), 0.0, 1e-9);
            EXPECT_NEAR(BrutePointSegment(*at, c, d), 0.0, 1e-9);
        }
    }
    EXPECT_GT(hits, 50);  // both outcomes were exercised
    EXPECT_LT(hits, kRounds * 3 - 50);
}

TEST(GeometryMath, PointInAreaWithHolesMatchesTheCrossingNumberForEveryAreaKind) {
    Random rnd(13);
    for (int i = 0; i < 60; ++i) {
        XY c = rnd.Pt(-10, 10);
        std::vector<XY> outer = rnd.Star(c, 20, 40), hole = rnd.Star(c, 2, 10);
        auto boundary = BoundaryGeometry::Create();
        boundary->SetExterior(PolygonOf(outer));
        boundary->Holes()->Add(CompositeRingOf(hole));
        auto polygon = PolygonOf(outer);
        auto composite = CompositeRingOf(outer);
        for (int k = 0; k < 20; ++k) {
            XY p = rnd.Pt();
            bool inOuter = BruteInRing(p, outer), inHole = BruteInRing(p, hole);
            Location plain = inOuter ? Location::Inside : Location::Outside;
            Location holed = inOuter && !inHole ? Location::Inside : Location::Outside;
            EXPECT_EQ(LocatePoint(p, *polygon), plain) << "round " << i;
            EXPECT_EQ(LocatePoint(p, *composite), plain) << "round " << i;
            EXPECT_EQ(LocatePoint(p, *boundary), holed) << "round " << i;
        }
        // A vertex and the middle of an edge lie on the boundary.
        XY mid{(outer[0].x + outer[1].x) / 2, (outer[0].y + outer[1].y) / 2};
        EXPECT_EQ(LocatePoint(outer[1], *boundary), Location::Boundary);
        EXPECT_NEAR(Shape::Of(boundary).Distance(Shape::Point(mid)), 0.0, 1e-9);
    }
}

TEST(GeometryMath, RotatedRectanglesAgainstPointsLinesAndAreas) {
    // The corners: origin upper left, Width along +X, Height along -Y, turned
    // counter-clockwise about the origin.
    auto c = RectangleCorners(XY{10, 20}, 4, 2, 0);
    const XY expected[] = {{10, 20}, {14, 20}, {14, 18}, {10, 18}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(c[i].x, expected[i].x, 1e-12) << i;
        EXPECT_NEAR(c[i].y, expected[i].y, 1e-12) << i;
    }
    auto turned = RectangleCorners(XY{0, 0}, 4, 2, 90);
    EXPECT_NEAR(turned[1].x, 0, 1e-12);
    EXPECT_NEAR(turned[1].y, 4, 1e-12);
    EXPECT_NEAR(turned[3].x, 2, 1e-12);
    EXPECT_NEAR(turned[3].y, 0, 1e-12);

    Random rnd(14);
    for (int i = 0; i < 100; ++i) {
        XY o = rnd.Pt(-20, 20);
        double w = rnd.Real(1, 20), h = rnd.Real(1, 20), rot = rnd.Real(-360, 360);
        auto rect = RectangleGeometry::Create(o.x, o.y, w, h, rot);
        double a = rot * std::numbers::pi / 180;
        XY along{std::cos(a), std::sin(a)}, down{std::sin(a), -std::cos(a)};
        auto corners = RectangleCorners(*rect);
        std::vector<XY> ring(corners.begin(), corners.end());
        for (int k = 0; k < 10; ++k) {
            XY p = rnd.Pt(-40, 40);
            double u = Dot(Sub(p, o), along), v = Dot(Sub(p, o), down);
            bool inside = u > 0 && u < w && v > 0 && v < h;
            EXPECT_EQ(LocatePoint(p, *rect) == Location::Inside, inside) << "round " << i;
            // A segment meets the rectangle when an end is inside or it crosses an edge.
            XY q = rnd.Pt(-40, 40);
            bool crosses = BruteInRing(p, ring) || BruteInRing(q, ring);
            for (int e = 0; e < 4; ++e) crosses = crosses || BruteSegmentsIntersect(p, q, ring[e], ring[(e + 1) % 4]);
            EXPECT_EQ(Intersects(*rect, *LineGeometry::Create(p.x, p.y, q.x, q.y)), crosses) << "round " << i;
        }
        // Against an area: a small polygon around a random point.
        XY at = rnd.Pt(-40, 40);
        std::vector<XY> star = rnd.Star(at, 0.5, 3);
        bool meets = BruteInRing(star[0], ring) || BruteInRing(corners[0], star);
        for (size_t s = 0; s < star.size(); ++s)
            for (int e = 0; e < 4; ++e)
                meets = meets || BruteSegmentsIntersect(star[s], star[(s + 1) % star.size()], ring[e], ring[(e + 1) % 4]);
        EXPECT_EQ(Intersects(*rect, *PolygonOf(star)), meets) << "round " << i;
    }
}

TEST(GeometryMath, DistanceBetweenKindsIsThePairwiseMinimum) {
    Random rnd(15);
    for (int i = 0; i < 80; ++i) {
        std::vector<XY> line, area = rnd.Star(rnd.Pt(-20, 20), 3, 12);
        for (int k = rnd.Int(2, 6); k > 0; --k) line.push_back(rnd.Pt());
        double expected = std::numeric_limits<double>::infinity();
        for (size_t a = 0; a + 1 < line.size(); ++a)
            for (size_t b = 0; b < area.size(); ++b)
                expected = std::min(expected, BruteSegmentSegment(line[a], line[a + 1], area[b], area[(b + 1) % area.size()]));
        if (BruteInRing(line[0], area)) expected = 0.0;  // a line inside the area
        EXPECT_NEAR(Distance(*PolylineOf(line), *PolygonOf(area)), expected, 1e-9) << "round " << i;
        XY p = rnd.Pt();
        double toPoint = std::numeric_limits<double>::infinity();
        for (size_t a = 0; a + 1 < line.size(); ++a) toPoint = std::min(toPoint, BrutePointSegment(p, line[a], line[a + 1]));
        EXPECT_NEAR(Distance(*PointGeometry::Create(p.x, p.y), *PolylineOf(line)), toPoint, 1e-9) << "round " << i;
    }
}

TEST(GeometryMath, ArcsThroughThreePointsAreFoundAndDensifiedWithinTheDeviation) {
    Random rnd(16);
    for (int i = 0; i < 100; ++i) {
        XY c = rnd.Pt(-100, 100);
        double r = rnd.Real(0.5, 200);
        double a0 = rnd.Real(-4, 4), sweep = rnd.Real(0.1, 6.2) * (i % 2 ? 1 : -1);
        auto at = [&](double a) { return XY{c.x + r * std::cos(a), c.y + r * std::sin(a)}; };
        XY s = at(a0), m = at(a0 + sweep * rnd.Real(0.1, 0.9)), e = at(a0 + sweep);
        auto circle = ArcCircle(s, m, e);
        ASSERT_TRUE(circle) << "round " << i;
        EXPECT_NEAR(circle->center.x, c.x, 1e-6 * r) << "round " << i;
        EXPECT_NEAR(circle->radius, r, 1e-6 * r) << "round " << i;
        double dev = rnd.Real(1e-4, 0.5);
        auto chain = DensifyArc(s, m, e, dev);
        EXPECT_EQ(chain.front().x, s.x);
        EXPECT_EQ(chain.back().y, e.y);
        double turned = 0.0;
        for (size_t k = 0; k + 1 < chain.size(); ++k) {
            EXPECT_NEAR(Len(Sub(chain[k], c)), r, 1e-6 * r);
            // The chord's middle is the farthest it gets from the arc.
            XY mid{(chain[k].x + chain[k + 1].x) / 2, (chain[k].y + chain[k + 1].y) / 2};
            EXPECT_LE(r - Len(Sub(mid, c)), dev + 1e-9) << "round " << i;
            double step = std::atan2(Cross(c, chain[k], chain[k + 1]), Dot(Sub(chain[k], c), Sub(chain[k + 1], c)));
            EXPECT_GT(step * sweep, 0.0) << "round " << i << ": every chord turns the arc's way";
            turned += step;
        }
        EXPECT_NEAR(turned, sweep, 1e-6) << "round " << i;
    }
    EXPECT_FALSE(ArcCircle({0, 0}, {1, 1}, {2, 2}));
    EXPECT_EQ(DensifyArc({0, 0}, {1, 1}, {2, 2}).size(), 3u);
}

TEST(GeometryMath, BuffersHoldWhatLiesWithinTheDistanceUpToTheDeviation) {
    Random rnd(17);
    for (int i = 0; i < 30; ++i) {
        std::vector<XY> area = rnd.Star(rnd.Pt(-10, 10), 3, 15);
        double d = rnd.Real(0.1, 5), dev = 0.02;
        Shape zone = Shape::Of(PolygonOf(area)).Buffer(d, dev);
        for (int k = 0; k < 40; ++k) {
            XY p = rnd.Pt(-40, 40);
            double dist = BruteInRing(p, area) ? 0.0 : std::numeric_limits<double>::infinity();
            for (size_t b = 0; b < area.size(); ++b)
                dist = std::min(dist, BrutePointSegment(p, area[b], area[(b + 1) % area.size()]));
            Location where = zone.Locate(p);
            if (dist < d - dev - 1e-9) {
                EXPECT_EQ(where, Location::Inside) << "round " << i << " at " << dist;
            } else if (dist > d + 1e-9) {
                EXPECT_EQ(where, Location::Outside) << "round " << i << " at " << dist;
            }
        }
    }
}

TEST(GeometryMath, ShapesOfEveryKindRefuseWhatIsNoFiniteNumber) {
    auto line = LineGeometry::Create(0, 0, std::nan(""), 1);
    EXPECT_THROW(Shape::Of(line), rt::ComError);
    auto rect = RectangleGeometry::Create(0, 0, std::numeric_limits<double>::infinity(), 1);
    EXPECT_THROW(Shape::Of(rect), rt::ComError);
    EXPECT_TRUE(Shape::Of(nullptr).IsEmpty());
    EXPECT_TRUE(Shape::Of(PolylineGeometry::Create()).IsEmpty());
    EXPECT_THROW(Shape::Of(nullptr).Distance(Shape::Point({0, 0})), rt::ComError);
}

TEST(GeometryMath, AxisAlignedRectanglesMeetAsTheirPreparedShapesAndTheEdgesSay) {
    // Unturned, on the integer grid, every contact is exact (corners, edges,
    // segments that only graze a side) and the brute tests decide it; turned
    // ones, whose corners the sines move off the grid, answer as prepared.
    Random rnd(36);
    for (double rotation : {0.0, 90.0, 180.0, 30.0}) {
        for (int i = 0; i < kRounds / 2; ++i) {
            const XY o = rnd.GridPt();
            auto rect = RectangleGeometry::Create(o.x, o.y, rnd.Int(1, 4), rnd.Int(1, 4), rotation);
            const XY p = rnd.GridPt(), q = rnd.GridPt();
            auto segment = Shape::Of(LineGeometry::Create(p.x, p.y, q.x, q.y));
            const Shape plain = Shape::Of(rect);
            const Shape prepared = Shape::Of(rect);
            prepared.WithinDistance(segment, 0.0);  // prepares it
            bool meets = prepared.Intersects(segment);
            if (rotation == 0.0) {
                const auto corners = RectangleCorners(*rect);
                const std::vector<XY> ring(corners.begin(), corners.end());
                bool crosses = BruteInRing(p, ring) || BruteInRing(q, ring);
                for (int e = 0; e < 4; ++e)
                    crosses = crosses || BruteSegmentsIntersect(p, q, ring[e], ring[(e + 1) % 4]);
                EXPECT_EQ(meets, crosses) << "round " << i;
            }
            EXPECT_EQ(plain.Intersects(segment), meets) << rotation << " round " << i;
            EXPECT_EQ(segment.Intersects(plain), meets) << rotation << " round " << i;
            EXPECT_EQ(plain.Intersects(Shape::Point(p)), prepared.Intersects(Shape::Point(p))) << rotation << " round " << i;
        }
    }
}
