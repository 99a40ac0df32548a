// The dimension point check: which points of a dimension geometry must lie
// on vertices (or, for an orthogonal second base, segments) of the geometry
// a reference names.
#include <cstdlib>

#include "pelmora/common/TraceScope.h"
#include "pelmora/dimensioning_stationing/CorvaneCalls.h"
#include "pelmora/dimensioning_stationing/Dimensioning.h"
#include "pelmora/dimensioning_stationing/modRelationshipServiceVertices.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

enum Subtype : int16_t { Simple = 1, Orthogonal = 2, RadiusByTwoPoints = 3, Polar = 4 };
enum Role : int16_t { Base = 1, Dimensioned = 2, SecondBase = 3 };
constexpr int32_t kOrthogonalLastPoint = 6;

rt::ObjectPtr PointsOf(const rt::ObjectPtr& geometry) {
    return rt::CallByName(geometry, "Points", rt::InvokeKind::PropertyGet).Obj();
}

rt::ObjectPtr PointAt(const rt::ObjectPtr& points, int32_t i) {
    return rt::CallByName(points, "Item", rt::InvokeKind::Method, rt::Args{rt::Variant(i)}).Obj();
}

// Orthogonal second base, point 2 on no vertex: it passes when it, point 1
// and some vertex of the second base lie on one segment.
bool OffEverySegment(const rt::ObjectPtr& points, const rt::ObjectPtr& referenced) {
    auto first = rt::QueryInterface<IPoint>(PointAt(points, 1));
    auto second = rt::QueryInterface<IPoint>(PointAt(points, 2));
    bool off = true;
    const int32_t n = GetVertexCount(referenced);
    for (int32_t k = 1; k <= n; ++k) {
        std::shared_ptr<IPoint> vertex;
        if (!GetOrSetVertex(static_cast<int16_t>(k), referenced, vertex, true)) continue;
        bool onA = false, onB = false;
        CheckCorvane(KTAPointOnSegment(first, vertex, second, onA));
        CheckCorvane(KTAPointOnSegment(first, second, vertex, onB));
        if (onA || onB) off = false;
    }
    return off;
}

}  // namespace

bool Dimensioning::SelectDimensionPoint(int16_t Subtype, int16_t PointNumber) {
    if (PointNumber < 1) return false;
    switch (Subtype) {
        case Simple: return PointNumber <= 2;
        case Orthogonal: return PointNumber <= kOrthogonalLastPoint;
        case RadiusByTwoPoints:
        case Polar: return PointNumber <= 3;
        default: return false;
    }
}

bool Dimensioning::IsValidPointPair(int16_t Subtype, int16_t PointNumber, int32_t& PointCount) {
    if (Subtype != Orthogonal || PointNumber <= 2) return true;
    if (PointCount > kOrthogonalLastPoint) PointCount = kOrthogonalLastPoint;
    return PointNumber == PointCount;
}

void Dimensioning::SelectDimensionSegment(int16_t Subtype, int16_t PointNumber, bool& OnBase, bool& OnDimensioned) {
    OnBase = false;
    OnDimensioned = false;
    if (PointNumber == 0) {
        OnBase = true;
        return;
    }
    switch (Subtype) {
        case Simple:
            OnBase = PointNumber == 1;
            break;
        case Orthogonal:
        case Polar:
            OnBase = PointNumber <= 2;
            break;
        case RadiusByTwoPoints:
            OnBase = PointNumber != 2;
            break;
        default: return;
    }
    OnDimensioned = !OnBase;
}

int16_t Dimensioning::PointCheckFailure(const rt::ComError& error) {
    TraceScope trace("Dimensioning", "HasPointOffGeometry");
    trace.Error(error);
    return 0;
}

std::optional<int16_t> Dimensioning::CheckDimensionPoints(const rt::ObjectPtr& DimensionGeometry,
                                                          const rt::ObjectPtr& ReferencedGeometry,
                                                          const PointCheck& check) {
    std::optional<int16_t> failed;
    rt::ComError error(0, "", "");
    const bool ok = rt::CaptureError(
        [&] {
            const int16_t subtype = check.subtype, role = check.role;
            const int32_t n = GetVertexCount(DimensionGeometry);
            if (n > 32767) rt::RaiseVbError(rt::vberr::Overflow);
            int32_t polarFirst = 0;
            for (int32_t point = 1; point <= n; ++point) {
                const auto i = static_cast<int16_t>(point);
                int16_t j = i;
                if (!SelectDimensionPoint(subtype, j)) continue;
                auto points = PointsOf(DimensionGeometry);
                int32_t count = rt::CLng(rt::CallByName(points, "Count", rt::InvokeKind::PropertyGet));
                if (!IsValidPointPair(subtype, j, count)) continue;
                // A radius by two points takes its points 2 and 3 the other way round.
                if (subtype == RadiusByTwoPoints && (j == 2 || j == 3)) j = j == 2 ? 3 : 2;
                bool onBase = false, onDimensioned = false;
                SelectDimensionSegment(subtype, j, onBase, onDimensioned);
                const bool isBase = role == Base || role == SecondBase;
                if (!((isBase && onBase) || (role == Dimensioned && onDimensioned))) continue;

                int32_t v = GetPointVertexIndex(PointAt(points, j), ReferencedGeometry);
                if (v != 0) {
                    if (subtype == Orthogonal && j == 1) {
                        if (!check.secondBaseKeys) return void(failed = 2);
                    } else if (subtype == Polar && j == 1) {
                        polarFirst = v;
                    } else if (subtype == Polar && j == 2) {
                        if (std::abs(v - polarFirst) == 1) continue;
                        // The closing edge of a ring whose last point repeats the first.
                        if (rt::CStr(rt::CallByName(ReferencedGeometry, "Type", rt::InvokeKind::PropertyGet)) ==
                            kPolygonGeometryType) {
                            const int32_t last = GetVertexCount(ReferencedGeometry);
                            if (polarFirst == 1)
                                polarFirst = last;
                            else if (v == 1)
                                v = last;
                            if (std::abs(v - polarFirst) == 1) continue;
                        }
                        return void(failed = i);
                    }
                    continue;
                }
                if (role == Dimensioned || subtype == Simple || subtype == Polar) return void(failed = i);
                if (subtype == Orthogonal) {
                    if (role == Base && j == 1) return void(failed = i);
                    if (role == SecondBase && j == 2) {
                        // The segment rule ends the check either way.
                        if (!check.baseKeys || OffEverySegment(points, ReferencedGeometry)) failed = i;
                        return;
                    }
                } else if (subtype == RadiusByTwoPoints) {
                    if ((role == Base && j == 1) || (role == SecondBase && j == 3)) return void(failed = i);
                }
            }
        },
        error);
    if (!ok) return PointCheckFailure(error);
    return failed;
}

}  // namespace pelmora
