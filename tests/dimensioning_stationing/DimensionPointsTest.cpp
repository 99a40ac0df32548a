// The dimension point check without metadata: which points of which subtype
// are tested for which reference, vertices and neighbours, the orthogonal
// segment rule, and a check that cannot be made.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pelmora/dimensioning_stationing/Dimensioning.h"
#include "product/StandIns.h"
#include "product/geometry/GeometryObjects.h"

namespace {

using pelmora::Dimensioning;
using XY = std::pair<double, double>;

rt::ObjectPtr Polyline(const std::vector<XY>& pts) {
    auto g = product::PolylineGeometry::Create();
    for (auto [x, y] : pts) g->PointList()->Add(x, y);
    return g;
}

rt::ObjectPtr Polygon(const std::vector<XY>& pts) {
    auto g = product::PolygonGeometry::Create();
    for (auto [x, y] : pts) g->PointList()->Add(x, y);
    return g;
}

// Vertices (0 0) (10 0) (20 0) (20 10); off them: (5 0) on a segment, (50 50).
rt::ObjectPtr Referenced() { return Polyline({{0, 0}, {10, 0}, {20, 0}, {20, 10}}); }
// A ring of 6 points whose last repeats the first.
rt::ObjectPtr Ring() { return Polygon({{0, 0}, {10, 0}, {10, 10}, {5, 15}, {0, 10}, {0, 0}}); }

constexpr XY kOn{10, 0}, kOn2{20, 0}, kMid{5, 0}, kOff{50, 50};

struct Case {
    const char* what;
    int16_t subtype, role;
    std::vector<XY> dimension;
    int failed;  // -1: passes
    bool baseKeys = true, secondBaseKeys = true;
    bool ring = false;
};

TEST(DimensionPointsTest, PointsAreTestedByTheirSubtypeAndReference) {
    product::RegisterProductStandIns();
    const std::vector<Case> cases = {
        {"simple base on a vertex", 1, 1, {kOn, kOff}, -1},
        {"simple base between vertices", 1, 1, {kMid, kOn}, 1},
        {"simple dimensioned off", 1, 2, {kOn, kOff}, 2},
        {"simple dimensioned on", 1, 2, {kOff, kOn}, -1},
        {"orthogonal of 4, dimensioned: only point 4", 2, 2, {kOff, kOff, kOff, kOn}, -1},
        {"orthogonal of 4, dimensioned off at 4", 2, 2, {kOn, kOn, kOn, kOff}, 4},
        {"orthogonal of 9: point 6 stands for the last", 2, 2, {kOff, kOff, kOff, kOff, kOff, kOn, kOff, kOff, kOff}, -1},
        {"orthogonal of 9 off at 6", 2, 2, {kOn, kOn, kOn, kOn, kOn, kOff, kOn, kOn, kOn}, 6},
        {"orthogonal base off at 1", 2, 1, {kOff, kOn, kOn}, 1},
        {"orthogonal base on, no second base", 2, 1, {kOn, kOff, kOff}, 2, true, false},
        {"orthogonal second base on, no second base keys", 2, 3, {kOn, kOff, kOff}, 2, true, false},
        // Point 2 on no vertex: (0 0) lies between point 1 (-10 0) and point 2 (30 0).
        {"orthogonal second base: vertex on the dimension's segment", 2, 3, {{-10, 0}, {30, 0}, kOff}, -1},
        {"orthogonal second base: point 2 between point 1 and a vertex", 2, 3, {{40, 0}, {30, 0}, kOff}, -1},
        {"orthogonal second base: no segment", 2, 3, {{40, 40}, {30, 35}, kOff}, 2},
        {"orthogonal second base: no base reference", 2, 3, {{-10, 0}, {30, 0}, kOff}, 2, false, true},
        {"polar on neighbours", 4, 1, {kOn, kOn2, kOff}, -1},
        {"polar not neighbours", 4, 1, {{0, 0}, kOn2, kOff}, 2},
        {"polar across the ring's closing edge", 4, 1, {{0, 0}, {0, 10}, kOff}, -1, true, true, true},
        {"polar across the ring, no neighbours", 4, 1, {{0, 0}, {10, 10}, kOff}, 2, true, true, true},
        {"polar dimensioned at 3", 4, 2, {kOff, kOff, kOn}, -1},
        {"radius, second base off at point 3", 3, 3, {kOn, kOn, kOff}, 2},
        {"radius, dimensioned off at point 2", 3, 2, {kOn, kOff, kOn}, 3},
        {"radius, base on point 1", 3, 1, {kOn, kOff, kOff}, -1},
        {"no such subtype", 9, 1, {kOff, kOff}, -1},
    };
    for (const Case& c : cases) {
        Dimensioning::PointCheck check;
        check.subtype = c.subtype;
        check.role = c.role;
        check.baseKeys = c.baseKeys;
        check.secondBaseKeys = c.secondBaseKeys;
        const auto failed =
            Dimensioning::CheckDimensionPoints(Polyline(c.dimension), c.ring ? Ring() : Referenced(), check);
        EXPECT_EQ(failed ? *failed : -1, c.failed) << c.what;
    }
}

TEST(DimensionPointsTest, ACheckThatCannotBeMadeFailsAtPointZero) {
    product::RegisterProductStandIns();
    Dimensioning::PointCheck check;
    check.subtype = 1;
    check.role = 1;
    // A dimension geometry without Points.
    const auto failed = Dimensioning::CheckDimensionPoints(product::LineGeometry::Create(10, 0, 20, 0), Referenced(), check);
    ASSERT_TRUE(failed.has_value());
    EXPECT_EQ(*failed, 0);
}

TEST(DimensionPointsTest, PointRuleTables) {
    int32_t count = 8;
    EXPECT_TRUE(Dimensioning::IsValidPointPair(2, 6, count));
    EXPECT_EQ(count, 6);
    count = 8;
    EXPECT_TRUE(Dimensioning::IsValidPointPair(1, 7, count));
    EXPECT_EQ(count, 8);
    for (int16_t subtype : {1, 2, 3, 4, 7}) {
        bool onBase = false, onDimensioned = true;
        Dimensioning::SelectDimensionSegment(subtype, 0, onBase, onDimensioned);
        EXPECT_TRUE(onBase);
        EXPECT_FALSE(onDimensioned);
    }
    struct Points {
        int16_t subtype, last;
    } points[] = {{1, 2}, {2, 6}, {3, 3}, {4, 3}, {0, 0}, {5, 0}};
    for (auto p : points)
        for (int16_t n = 0; n <= 7; ++n)
            EXPECT_EQ(Dimensioning::SelectDimensionPoint(p.subtype, n), n >= 1 && n <= p.last) << p.subtype << " " << n;
}

}  // namespace
