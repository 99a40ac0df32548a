// The geometry-math library of the dimension checks: tolerance, segments,
// projections, factors and the HRESULTs of bad points.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "interfaces/Corvane.h"
#include "product/StandIns.h"
#include "product/geometry/GeometryObjects.h"

namespace {

using namespace pelmora;

std::shared_ptr<IPoint> P(double x, double y, double z = 0.0) { return product::Point::Create(x, y, z); }

// The functions as the system calls them: through the entry points the
// product binds.
class CorvaneTest : public testing::Test {
protected:
    static void SetUpTestSuite() { BindCorvaneExports(product::CorvaneLibrary()); }
};

TEST_F(CorvaneTest, EqualityAndPointOnSegmentWithinTheTolerance) {
    const double t = kCorvaneTolerance;
    struct Case {
        double x, y;
        bool equalToOrigin, onSegment;  // segment (0,0)-(10,0)
    } cases[] = {
        {0, 0, true, true},         {t * 0.9, 0, true, true},  {t * 2, 0, false, true},
        {5, t * 0.9, false, true},  {5, t * 2, false, false},  {10 + t * 2, 0, false, false},
        {-t * 2, 0, false, false},  {10, 0, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
        bool equal = !c.equalToOrigin, on = !c.onSegment;
        ASSERT_EQ(KTAPointsAreEqual(P(c.x, c.y), P(0, 0, 7), equal), kCorvaneOk);
        EXPECT_EQ(equal, c.equalToOrigin);
        ASSERT_EQ(KTAPointOnSegment(P(0, 0), P(10, 0), P(c.x, c.y), on), kCorvaneOk);
        EXPECT_EQ(on, c.onSegment);
    }
    bool on = false;
    ASSERT_EQ(KTAPointOnSegment(P(3, 3), P(3, 3), P(3, 3), on), kCorvaneOk);  // a segment of one point
    EXPECT_TRUE(on);
}

TEST_F(CorvaneTest, ProjectionOntoTheLineOrWithinTheSegment) {
    struct Case {
        double px, py;
        bool wholeLine;
        double fx, fy, t;
    } cases[] = {
        {5, 3, true, 5, 0, 0.5}, {15, 3, true, 15, 0, 1.5}, {-5, -3, true, -5, 0, -0.5},
        {15, 3, false, 10, 0, 1.0}, {-5, 3, false, 0, 0, 0.0},
    };
    for (const Case& c : cases) {
        double t = 99;
        std::shared_ptr<IPoint> foot;
        ASSERT_EQ(KTAProjectPointToSegment(P(0, 0), P(10, 0), P(c.px, c.py, 4), c.wholeLine, t, foot), kCorvaneOk);
        ASSERT_NE(foot, nullptr);
        EXPECT_NEAR(foot->get_X(), c.fx, 1e-12);
        EXPECT_NEAR(foot->get_Y(), c.fy, 1e-12);
        EXPECT_EQ(foot->get_Z(), 4.0);
        EXPECT_NEAR(t, c.t, 1e-12);
    }
    // Onto a slanted line, and a line of one point gives the point itself.
    double t = 0;
    std::shared_ptr<IPoint> foot;
    ASSERT_EQ(KTAProjectPointToSegment(P(0, 0), P(2, 2), P(0, 2), true, t, foot), kCorvaneOk);
    EXPECT_NEAR(foot->get_X(), 1, 1e-12);
    EXPECT_NEAR(foot->get_Y(), 1, 1e-12);
    ASSERT_EQ(KTAProjectPointToSegment(P(1, 1), P(1, 1), P(4, 5), true, t, foot), kCorvaneOk);
    EXPECT_EQ(foot->get_X(), 4.0);
}

TEST_F(CorvaneTest, BadPointsFailAndLeaveTheResultsAlone) {
    const double nan = std::nan("");
    bool flag = true;
    double t = 3;
    std::shared_ptr<IPoint> foot;
    EXPECT_EQ(KTAPointsAreEqual(nullptr, P(0, 0), flag), kCorvaneNullPoint);
    EXPECT_EQ(KTAPointOnSegment(P(0, 0), P(1, 0), P(nan, 0), flag), kCorvaneInvalidPoint);
    EXPECT_EQ(KTAProjectPointToSegment(P(0, 0), nullptr, P(1, 1), true, t, foot), kCorvaneNullPoint);
    EXPECT_LT(kCorvaneNullPoint, 0);
    EXPECT_LT(kCorvaneInvalidPoint, 0);
    EXPECT_TRUE(flag);
    EXPECT_EQ(t, 3);
    EXPECT_EQ(foot, nullptr);
}

TEST_F(CorvaneTest, FactorsTurnDegreesAndRadiansIntoEachOther) {
    double toRadians = 0, toDegrees = 0;
    ASSERT_EQ(KTA_DegreesToRadians(toRadians), kCorvaneOk);
    ASSERT_EQ(KTA_RadiansToDegrees(toDegrees), kCorvaneOk);
    EXPECT_NEAR(180 * toRadians, std::numbers::pi, 1e-15);
    EXPECT_NEAR(toRadians * toDegrees, 1.0, 1e-15);
}

}  // namespace
