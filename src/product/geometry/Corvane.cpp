// The geometry-math library of the dimension checks, over GeometryMath.
#include "interfaces/Corvane.h"
#include "product/StandIns.h"

#include <cmath>
#include <numbers>

#include "product/geometry/GeometryMath.h"
#include "product/geometry/GeometryObjects.h"

namespace product {

namespace gm = geometry_math;

namespace {

using pelmora::IPoint;
using pelmora::kCorvaneInvalidPoint;
using pelmora::kCorvaneNullPoint;
using pelmora::kCorvaneOk;
using pelmora::kCorvaneTolerance;

// The plane coordinates of a point, or the HRESULT that refuses it.
int32_t Read(const std::shared_ptr<IPoint>& p, gm::XY& out) {
    if (!p) return kCorvaneNullPoint;
    out = {p->get_X(), p->get_Y()};
    return std::isfinite(out.x) && std::isfinite(out.y) ? kCorvaneOk : kCorvaneInvalidPoint;
}

double Apart(gm::XY a, gm::XY b) { return std::hypot(a.x - b.x, a.y - b.y); }

int32_t KTAPointsAreEqual(const std::shared_ptr<IPoint>& a, const std::shared_ptr<IPoint>& b, bool& equal) {
    gm::XY pa, pb;
    if (int32_t hr = Read(a, pa); hr < 0) return hr;
    if (int32_t hr = Read(b, pb); hr < 0) return hr;
    equal = Apart(pa, pb) <= kCorvaneTolerance;
    return kCorvaneOk;
}

int32_t KTAPointOnSegment(const std::shared_ptr<IPoint>& a, const std::shared_ptr<IPoint>& b,
                          const std::shared_ptr<IPoint>& p, bool& onSegment) {
    gm::XY pa, pb, pp;
    if (int32_t hr = Read(a, pa); hr < 0) return hr;
    if (int32_t hr = Read(b, pb); hr < 0) return hr;
    if (int32_t hr = Read(p, pp); hr < 0) return hr;
    onSegment = gm::PointSegmentDistance(pp, pa, pb) <= kCorvaneTolerance;
    return kCorvaneOk;
}

int32_t KTAProjectPointToSegment(const std::shared_ptr<IPoint>& start, const std::shared_ptr<IPoint>& end,
                                 const std::shared_ptr<IPoint>& p, bool wholeLine, double& parameter,
                                 std::shared_ptr<IPoint>& projected) {
    gm::XY a, b, pp;
    if (int32_t hr = Read(start, a); hr < 0) return hr;
    if (int32_t hr = Read(end, b); hr < 0) return hr;
    if (int32_t hr = Read(p, pp); hr < 0) return hr;
    gm::XY foot = pp;
    double t = 0.0;
    const double dx = b.x - a.x, dy = b.y - a.y, length2 = dx * dx + dy * dy;
    if (length2 > 0.0) {
        if (!wholeLine) {
            const gm::Projection on = gm::ProjectPointToSegment(pp, a, b);
            foot = on.point;
            t = on.t;
        } else {
            t = ((pp.x - a.x) * dx + (pp.y - a.y) * dy) / length2;
            foot = {a.x + t * dx, a.y + t * dy};
        }
    }
    parameter = t;
    projected = Point::Create(foot.x, foot.y, p->get_Z());
    return kCorvaneOk;
}

int32_t KTA_DegreesToRadians(double& factor) {
    factor = std::numbers::pi / 180.0;
    return kCorvaneOk;
}

int32_t KTA_RadiansToDegrees(double& factor) {
    factor = 180.0 / std::numbers::pi;
    return kCorvaneOk;
}

std::array<std::array<double, 2>, 4> RectangleCornersOf(pelmora::IRectangleGeometry& rectangle) {
    auto origin = rectangle.get_Origin();
    const auto corners = gm::RectangleCorners(gm::XY{origin->get_X(), origin->get_Y()}, rectangle.get_Width(),
                                              rectangle.get_Height(), rectangle.get_Rotation());
    std::array<std::array<double, 2>, 4> out{};
    for (size_t i = 0; i < corners.size(); ++i) out[i] = {corners[i].x, corners[i].y};
    return out;
}

}  // namespace

pelmora::CorvaneExports CorvaneLibrary() {
    return {&KTAPointsAreEqual,    &KTAPointOnSegment,    &KTAProjectPointToSegment,
            &KTA_DegreesToRadians, &KTA_RadiansToDegrees, &RectangleCornersOf};
}

}  // namespace product
