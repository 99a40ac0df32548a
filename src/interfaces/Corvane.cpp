#include "interfaces/Corvane.h"

#include "interfaces/EntryPoint.h"

namespace pelmora {

namespace {
EntryPoint<decltype(&KTAPointsAreEqual)> gPointsAreEqual("Corvane.KTAPointsAreEqual");
EntryPoint<decltype(&KTAPointOnSegment)> gPointOnSegment("Corvane.KTAPointOnSegment");
EntryPoint<decltype(&KTAProjectPointToSegment)> gProjectPointToSegment("Corvane.KTAProjectPointToSegment");
EntryPoint<decltype(&KTA_DegreesToRadians)> gDegreesToRadians("Corvane.KTA_DegreesToRadians");
EntryPoint<decltype(&KTA_RadiansToDegrees)> gRadiansToDegrees("Corvane.KTA_RadiansToDegrees");
EntryPoint<decltype(&RectangleCornersOf)> gRectangleCornersOf("RectangleCornersOf");
}  // namespace

void BindCorvaneExports(const CorvaneExports& exports) {
    gPointsAreEqual.Bind(exports.pointsAreEqual);
    gPointOnSegment.Bind(exports.pointOnSegment);
    gProjectPointToSegment.Bind(exports.projectPointToSegment);
    gDegreesToRadians.Bind(exports.degreesToRadians);
    gRadiansToDegrees.Bind(exports.radiansToDegrees);
    gRectangleCornersOf.Bind(exports.rectangleCornersOf);
}

int32_t KTAPointsAreEqual(const std::shared_ptr<IPoint>& a, const std::shared_ptr<IPoint>& b, bool& equal) {
    return gPointsAreEqual.Get()(a, b, equal);
}

int32_t KTAPointOnSegment(const std::shared_ptr<IPoint>& a, const std::shared_ptr<IPoint>& b,
                          const std::shared_ptr<IPoint>& p, bool& onSegment) {
    return gPointOnSegment.Get()(a, b, p, onSegment);
}

int32_t KTAProjectPointToSegment(const std::shared_ptr<IPoint>& start, const std::shared_ptr<IPoint>& end,
                                 const std::shared_ptr<IPoint>& p, bool wholeLine, double& parameter,
                                 std::shared_ptr<IPoint>& projected) {
    return gProjectPointToSegment.Get()(start, end, p, wholeLine, parameter, projected);
}

int32_t KTA_DegreesToRadians(double& factor) { return gDegreesToRadians.Get()(factor); }

int32_t KTA_RadiansToDegrees(double& factor) { return gRadiansToDegrees.Get()(factor); }

std::array<std::array<double, 2>, 4> RectangleCornersOf(IRectangleGeometry& rectangle) {
    return gRectangleCornersOf.Get()(rectangle);
}

}  // namespace pelmora
