#pragma once
// The sibling geometry-math library the dimension checks call: point
// equality, point on segment, projection onto a segment's line and the
// degree/radian factors. Each function returns an HRESULT (S_OK, or a
// negative value for a missing point or a coordinate that is no finite
// number) and gives its results through the last arguments, which it leaves
// untouched on failure; callers raise a negative HRESULT as an error.
//
// Implemented by the product over its geometry math (src/product/geometry)
// and bound at start (product::RegisterProductStandIns), as for the sibling
// support library (see Varsk1.h): a call while nothing is bound raises 453.
// Free functions, no state, any thread.
#include <array>
#include <cstdint>
#include <memory>

#include "interfaces/Geometry.h"

namespace pelmora {

// Two points are equal, and a point lies on a segment, when they are at most
// this far apart in the plane (coordinate units; Z is not compared).
inline constexpr double kCorvaneTolerance = 1e-6;

inline constexpr int32_t kCorvaneOk = 0;
inline constexpr int32_t kCorvaneNullPoint = static_cast<int32_t>(0x80004003u);    // E_POINTER
inline constexpr int32_t kCorvaneInvalidPoint = static_cast<int32_t>(0x80070057u); // E_INVALIDARG

// Equal: the two points lie within kCorvaneTolerance of each other.
int32_t KTAPointsAreEqual(const std::shared_ptr<IPoint>& a, const std::shared_ptr<IPoint>& b, bool& equal);

// OnSegment: p lies on the segment a-b, its ends included, within
// kCorvaneTolerance (a point when a equals b).
int32_t KTAPointOnSegment(const std::shared_ptr<IPoint>& a, const std::shared_ptr<IPoint>& b,
                          const std::shared_ptr<IPoint>& p, bool& onSegment);

// Projected: a new point, the foot of p on the line through start and end
// (p itself when they coincide), Z taken from p. Parameter: where the foot
// lies on that line, 0 at start and 1 at end. wholeLine True projects onto
// the whole line (what the vertex walkers pass); False keeps the foot within
// the segment (parameter in [0, 1]).
int32_t KTAProjectPointToSegment(const std::shared_ptr<IPoint>& start, const std::shared_ptr<IPoint>& end,
                                 const std::shared_ptr<IPoint>& p, bool wholeLine, double& parameter,
                                 std::shared_ptr<IPoint>& projected);

int32_t KTA_DegreesToRadians(double& factor);
int32_t KTA_RadiansToDegrees(double& factor);

// Not an export of the library: the product's one rectangle corner routine
// (docs/GEOMETRY.md), handed to the vertex walkers through this header. The
// corners in the product's order: origin, along Width, far corner, along
// Height, each {X, Y}.
std::array<std::array<double, 2>, 4> RectangleCornersOf(IRectangleGeometry& rectangle);

// The library's exports and the corner routine; a null entry stays unbound.
struct CorvaneExports {
    decltype(&KTAPointsAreEqual) pointsAreEqual = nullptr;
    decltype(&KTAPointOnSegment) pointOnSegment = nullptr;
    decltype(&KTAProjectPointToSegment) projectPointToSegment = nullptr;
    decltype(&KTA_DegreesToRadians) degreesToRadians = nullptr;
    decltype(&KTA_RadiansToDegrees) radiansToDegrees = nullptr;
    decltype(&RectangleCornersOf) rectangleCornersOf = nullptr;
};
// Binds every entry of exports (replacing what was bound).
void BindCorvaneExports(const CorvaneExports& exports);

}  // namespace pelmora
