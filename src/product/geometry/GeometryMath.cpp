#include "product/geometry/GeometryMath.h"

#include <cmath>
#include <numbers>
#include <string>
#include <utility>

#include "runtime/Error.h"

namespace product::geometry_math {

using pelmora::GeometryKind;

namespace {

constexpr const char* kSource = "GeometryMath";
// Nesting of containers the conversion follows, as the geometry rows allow.
constexpr int kMaxDepth = 32;

static_assert(sizeof(XY) == 2 * sizeof(double), "XY is handed to GEOS as a buffer of coordinate pairs");

struct ContextHolder {
    GEOSContextHandle_t handle = nullptr;
    std::string lastError;

    ContextHolder() {
        handle = GEOS_init_r();
        GEOSContext_setErrorMessageHandler_r(
            handle, [](const char* message, void* self) { static_cast<ContextHolder*>(self)->lastError = message; },
            this);
    }
    ~ContextHolder() { GEOS_finish_r(handle); }
    ContextHolder(const ContextHolder&) = delete;
    ContextHolder& operator=(const ContextHolder&) = delete;
};

ContextHolder& Holder() {
    thread_local ContextHolder holder;
    return holder;
}

[[noreturn]] void Fail(const std::string& what) {
    std::string detail = Holder().lastError;
    Holder().lastError.clear();
    throw rt::ComError(rt::vberr::InvalidProcedureCall, kSource, detail.empty() ? what : what + ": " + detail);
}

template <class T>
T* Checked(T* result, const char* what) {
    if (!result) Fail(what);
    return result;
}

bool Predicate(char result, const char* what) {
    if (result == 2) Fail(what);
    return result == 1;
}

bool Same(XY a, XY b) { return a.x == b.x && a.y == b.y; }

XY Coordinates(const Point& p) {
    if (!std::isfinite(p.X()) || !std::isfinite(p.Y()))
        throw rt::ComError(rt::vberr::InvalidProcedureCall, kSource, "A coordinate is not a finite number");
    return {p.X(), p.Y()};
}

GEOSCoordSequence* Sequence(const std::vector<XY>& pts) {
    return Checked(GEOSCoordSeq_copyFromBuffer_r(Context(), reinterpret_cast<const double*>(pts.data()),
                                                 static_cast<unsigned>(pts.size()), 0, 0),
                   "Cannot build a coordinate sequence");
}

GEOSGeometry* MakePoint(XY p) {
    return Checked(GEOSGeom_createPointFromXY_r(Context(), p.x, p.y), "Cannot build a point");
}

// A chain of points: a line string, a point when every point is the same, an
// empty line string when there are none.
GEOSGeometry* MakeChain(const std::vector<XY>& pts) {
    if (pts.empty()) return Checked(GEOSGeom_createEmptyLineString_r(Context()), "Cannot build a line");
    bool allSame = true;
    for (const XY& p : pts) allSame = allSame && Same(p, pts.front());
    if (allSame) return MakePoint(pts.front());
    return Checked(GEOSGeom_createLineString_r(Context(), Sequence(pts)), "Cannot build a line");
}

GEOSGeometry* MakeCollection(std::vector<GEOSGeometry*>& parts) {
    if (parts.size() == 1) return parts.front();
    return Checked(GEOSGeom_createCollection_r(Context(), GEOS_GEOMETRYCOLLECTION, parts.data(),
                                               static_cast<unsigned>(parts.size())),
                   "Cannot build a collection");
}

// A closed ring of at least three distinct corners, else nullopt.
std::optional<std::vector<XY>> ClosedRing(std::vector<XY> pts) {
    if (pts.empty()) return std::nullopt;
    if (!Same(pts.front(), pts.back())) pts.push_back(pts.front());
    if (pts.size() < 4) return std::nullopt;
    return pts;
}

struct Builder {
    double deviation;

    // Appends a linear piece's points, leaving out a first point that repeats
    // the last one already there.
    void AppendPiece(const Geometry& piece, std::vector<XY>& out) const {
        std::vector<XY> pts = LinearPoints(piece);
        size_t from = (!out.empty() && !pts.empty() && Same(out.back(), pts.front())) ? 1 : 0;
        out.insert(out.end(), pts.begin() + static_cast<std::ptrdiff_t>(from), pts.end());
    }

    std::vector<XY> LinearPoints(const Geometry& g) const {
        switch (g.Kind()) {
            case GeometryKind::Line: {
                auto& line = static_cast<const LineGeometry&>(g);
                return {Coordinates(*line.Start()), Coordinates(*line.End())};
            }
            case GeometryKind::Arc: {
                auto& arc = static_cast<const ArcGeometry&>(g);
                return DensifyArc(Coordinates(*arc.Start()), Coordinates(*arc.Origin()), Coordinates(*arc.End()),
                                  deviation);
            }
            case GeometryKind::Polyline:
            case GeometryKind::Polygon: {
                std::vector<XY> pts;
                for (auto& p : static_cast<const PointListGeometry&>(g).PointList()->All()) pts.push_back(Coordinates(*p));
                return pts;
            }
            case GeometryKind::CompositePolyline:
            case GeometryKind::CompositePolygon: {
                std::vector<XY> pts;
                for (auto& item : static_cast<const ItemsGeometry&>(g).Items()->All()) AppendPiece(*item, pts);
                return pts;
            }
            default:
                throw rt::ComError(rt::vberr::TypeMismatch, kSource, "A " + const_cast<Geometry&>(g).get_Type() +
                                                                        " is not a linear piece");
        }
    }

    // An area from its rings; a degenerate exterior gives its outline.
    GEOSGeometry* Area(const std::vector<XY>& exterior, const std::vector<std::vector<XY>>& holes) const {
        auto shell = ClosedRing(exterior);
        if (!shell) return MakeChain(exterior);
        std::vector<GEOSGeometry*> inner;
        for (auto& h : holes)
            if (auto ring = ClosedRing(h))
                inner.push_back(Checked(GEOSGeom_createLinearRing_r(Context(), Sequence(*ring)), "Cannot build a ring"));
        GEOSGeometry* outer = Checked(GEOSGeom_createLinearRing_r(Context(), Sequence(*shell)), "Cannot build a ring");
        return Checked(GEOSGeom_createPolygon_r(Context(), outer, inner.data(), static_cast<unsigned>(inner.size())),
                       "Cannot build a polygon");
    }

    GEOSGeometry* Build(const Geometry& g, int depth) const {
        if (depth > kMaxDepth)
            throw rt::ComError(rt::vberr::InvalidProcedureCall, kSource, "The geometry is nested too deeply");
        switch (g.Kind()) {
            case GeometryKind::Point:
            case GeometryKind::OrientedPoint:
            case GeometryKind::TextPoint:
                return MakePoint(Coordinates(*static_cast<const PointGeometry&>(g).Origin()));
            case GeometryKind::Rectangle: {
                auto& r = static_cast<const RectangleGeometry&>(g);
                auto c = RectangleCorners(r);
                std::vector<XY> pts(c.begin(), c.end());
                if (r.Width() == 0.0 || r.Height() == 0.0 || !std::isfinite(r.Width()) || !std::isfinite(r.Height())) {
                    if (!std::isfinite(r.Width()) || !std::isfinite(r.Height()) || !std::isfinite(r.Rotation()))
                        throw rt::ComError(rt::vberr::InvalidProcedureCall, kSource, "A size is not a finite number");
                    return MakeChain(pts);
                }
                return Area(pts, {});
            }
            case GeometryKind::Line:
            case GeometryKind::Arc:
            case GeometryKind::Polyline:
                return MakeChain(LinearPoints(g));
            case GeometryKind::CompositePolyline: {
                // Pieces that do not join make separate chains.
                std::vector<std::vector<XY>> runs;
                for (auto& item : static_cast<const ItemsGeometry&>(g).Items()->All()) {
                    std::vector<XY> pts = LinearPoints(*item);
                    if (pts.empty()) continue;
                    if (runs.empty() || !Same(runs.back().back(), pts.front())) runs.emplace_back();
                    AppendPiece(*item, runs.back());
                }
                if (runs.size() <= 1) return MakeChain(runs.empty() ? std::vector<XY>{} : runs.front());
                std::vector<GEOSGeometry*> parts;
                for (auto& run : runs) parts.push_back(MakeChain(run));
                return MakeCollection(parts);
            }
            case GeometryKind::Polygon:
            case GeometryKind::CompositePolygon:
                return Area(LinearPoints(g), {});
            case GeometryKind::Boundary: {
                auto& b = static_cast<const BoundaryGeometry&>(g);
                if (!b.Exterior()) return Checked(GEOSGeom_createEmptyPolygon_r(Context()), "Cannot build a polygon");
                std::vector<std::vector<XY>> holes;
                for (auto& h : b.Holes()->All()) holes.push_back(LinearPoints(*h));
                return Area(LinearPoints(*b.Exterior()), holes);
            }
            case GeometryKind::Collection: {
                std::vector<GEOSGeometry*> parts;
                for (auto& item : static_cast<const ItemsGeometry&>(g).Items()->All())
                    parts.push_back(Build(*item, depth + 1));
                if (parts.empty())
                    return Checked(GEOSGeom_createEmptyCollection_r(Context(), GEOS_GEOMETRYCOLLECTION),
                                   "Cannot build a collection");
                return MakeCollection(parts);
            }
        }
        throw rt::ComError(rt::vberr::TypeMismatch, kSource, "Unknown geometry kind");
    }
};

std::vector<XY> CoordinatesOf(const GEOSGeometry* g) {
    const GEOSCoordSequence* seq = Checked(GEOSGeom_getCoordSeq_r(Context(), g), "Cannot read coordinates");
    unsigned n = 0;
    GEOSCoordSeq_getSize_r(Context(), seq, &n);
    std::vector<XY> pts(n);
    for (unsigned i = 0; i < n; ++i) GEOSCoordSeq_getXY_r(Context(), seq, i, &pts[i].x, &pts[i].y);
    return pts;
}

std::shared_ptr<PolygonGeometry> RingGeometry(const GEOSGeometry* ring) {
    auto polygon = PolygonGeometry::Create();
    for (XY p : CoordinatesOf(ring)) polygon->PointList()->Add(p.x, p.y);
    return polygon;
}

GeometryPtr FromGeos(const GEOSGeometry* g) {
    if (GEOSisEmpty_r(Context(), g) == 1) return nullptr;
    switch (GEOSGeomTypeId_r(Context(), g)) {
        case GEOS_POINT: {
            XY p = CoordinatesOf(g).front();
            return PointGeometry::Create(p.x, p.y);
        }
        case GEOS_LINESTRING:
        case GEOS_LINEARRING: {
            auto line = PolylineGeometry::Create();
            for (XY p : CoordinatesOf(g)) line->PointList()->Add(p.x, p.y);
            return line;
        }
        case GEOS_POLYGON: {
            auto exterior = RingGeometry(GEOSGetExteriorRing_r(Context(), g));
            int holes = GEOSGetNumInteriorRings_r(Context(), g);
            if (holes == 0) return exterior;
            auto boundary = BoundaryGeometry::Create();
            boundary->SetExterior(exterior);
            for (int i = 0; i < holes; ++i) boundary->Holes()->Add(RingGeometry(GEOSGetInteriorRingN_r(Context(), g, i)));
            return boundary;
        }
        default: {
            std::vector<GeometryPtr> parts;
            int n = GEOSGetNumGeometries_r(Context(), g);
            for (int i = 0; i < n; ++i)
                if (auto part = FromGeos(GEOSGetGeometryN_r(Context(), g, i))) parts.push_back(part);
            if (parts.empty()) return nullptr;
            if (parts.size() == 1) return parts.front();
            auto collection = GeometryCollection::Create();
            for (auto& part : parts) collection->Items()->Add(part);
            return collection;
        }
    }
}

double Length(XY a, XY b) { return std::hypot(b.x - a.x, b.y - a.y); }

}  // namespace

GEOSContextHandle_t Context() { return Holder().handle; }

// ---- Shape ----

Shape::Shape(Shape&& other) noexcept
    : g_(std::exchange(other.g_, nullptr)),
      prepared_(std::exchange(other.prepared_, nullptr)),
      axisBox_(std::exchange(other.axisBox_, false)) {}

Shape& Shape::operator=(Shape&& other) noexcept {
    if (this != &other) {
        this->~Shape();
        g_ = std::exchange(other.g_, nullptr);
        prepared_ = std::exchange(other.prepared_, nullptr);
        axisBox_ = std::exchange(other.axisBox_, false);
    }
    return *this;
}

Shape::~Shape() {
    if (prepared_) GEOSPreparedGeom_destroy_r(Context(), prepared_);
    if (g_) GEOSGeom_destroy_r(Context(), g_);
    prepared_ = nullptr;
    g_ = nullptr;
}

Shape Shape::Of(const Geometry* geometry, double arcDeviation) {
    if (!geometry)
        return Shape(Checked(GEOSGeom_createEmptyCollection_r(Context(), GEOS_GEOMETRYCOLLECTION), "Cannot build"));
    Shape shape(Builder{arcDeviation}.Build(*geometry, 0));
    if (geometry->Kind() == GeometryKind::Rectangle &&
        GEOSGeomTypeId_r(Context(), shape.g_) == GEOS_POLYGON) {
        const auto c = RectangleCorners(static_cast<const RectangleGeometry&>(*geometry));
        shape.axisBox_ = (c[0].y == c[1].y && c[1].x == c[2].x && c[2].y == c[3].y && c[3].x == c[0].x) ||
                         (c[0].x == c[1].x && c[1].y == c[2].y && c[2].x == c[3].x && c[3].y == c[0].y);
    }
    return shape;
}

Shape Shape::Point(XY p) { return Shape(MakePoint(p)); }

Shape Shape::Segment(XY a, XY b) { return Shape(MakeChain({a, b})); }

bool Shape::IsEmpty() const { return !g_ || GEOSisEmpty_r(Context(), g_) == 1; }

const GEOSPreparedGeometry* Shape::Prepared() const {
    if (!prepared_) prepared_ = Checked(GEOSPrepare_r(Context(), g_), "Cannot prepare a geometry");
    return prepared_;
}

bool Shape::Intersects(const Shape& other) const {
    if (IsEmpty() || other.IsEmpty()) return false;
    // GEOS meets an axis-aligned rectangle by its own quick test, prepared or
    // not: preparing one costs more than the test (a search square).
    if (axisBox_ && !prepared_)
        return Predicate(GEOSIntersects_r(Context(), g_, other.g_), "Cannot test for contact");
    return Predicate(GEOSPreparedIntersects_r(Context(), Prepared(), other.g_), "Cannot test for contact");
}

double Shape::Distance(const Shape& other) const {
    if (IsEmpty() || other.IsEmpty()) Fail("No distance to an empty geometry");
    double d = 0.0;
    if (GEOSDistance_r(Context(), g_, other.g_, &d) != 1) Fail("Cannot measure a distance");
    return d;
}

bool Shape::WithinDistance(const Shape& other, double distance) const {
    if (IsEmpty() || other.IsEmpty()) return false;
    return Predicate(GEOSPreparedDistanceWithin_r(Context(), Prepared(), other.g_, distance),
                     "Cannot test a distance");
}

Location Shape::Locate(XY p) const {
    if (IsEmpty()) return Location::Outside;
    // The prepared tests locate by crossing rings, so an invalid area (a
    // ring that crosses itself) still gets an answer instead of an error.
    Shape point = Shape::Point(p);
    if (Predicate(GEOSPreparedContainsProperly_r(Context(), Prepared(), point.g_), "Cannot locate a point"))
        return Location::Inside;
    if (Predicate(GEOSPreparedIntersects_r(Context(), Prepared(), point.g_), "Cannot locate a point"))
        return Location::Boundary;
    return Location::Outside;
}

Shape Shape::Buffer(double distance, double maxDeviation) const {
    if (IsEmpty()) return Shape::Of(nullptr);
    // Quarter circles in as many chords as keep each within maxDeviation.
    int quadrantSegments = 1;
    if (distance > 0.0 && maxDeviation > 0.0 && maxDeviation < distance) {
        double chordAngle = 2.0 * std::acos(1.0 - maxDeviation / distance);
        quadrantSegments = static_cast<int>(std::ceil((std::numbers::pi / 2.0) / chordAngle));
    }
    quadrantSegments = std::clamp(quadrantSegments, 1, kMaxArcChords / 4);
    return Shape(Checked(GEOSBufferWithStyle_r(Context(), g_, distance, quadrantSegments, GEOSBUF_CAP_ROUND,
                                               GEOSBUF_JOIN_ROUND, 5.0),
                         "Cannot buffer a geometry"));
}

GeometryPtr Shape::ToGeometry() const { return IsEmpty() ? nullptr : FromGeos(g_); }

// ---- primitives ----

double PointSegmentDistance(XY p, XY a, XY b) { return Shape::Point(p).Distance(Shape::Segment(a, b)); }

Projection ProjectPointToSegment(XY p, XY a, XY b) {
    Shape segment = Shape::Segment(a, b);
    Shape point = Shape::Point(p);
    GEOSCoordSequence* nearest = Checked(GEOSNearestPoints_r(Context(), segment.Raw(), point.Raw()),
                                         "Cannot project a point");
    Projection r;
    GEOSCoordSeq_getXY_r(Context(), nearest, 0, &r.point.x, &r.point.y);
    GEOSCoordSeq_destroy_r(Context(), nearest);
    double len = Length(a, b);
    r.t = len == 0.0 ? 0.0 : std::clamp(Length(a, r.point) / len, 0.0, 1.0);
    r.distance = Length(p, r.point);
    return r;
}

bool SegmentsIntersect(XY a, XY b, XY c, XY d) { return Shape::Segment(a, b).Intersects(Shape::Segment(c, d)); }

std::optional<XY> SegmentIntersection(XY a, XY b, XY c, XY d) {
    Shape s1 = Shape::Segment(a, b), s2 = Shape::Segment(c, d);
    Shape common(Checked(GEOSIntersection_r(Context(), s1.Raw(), s2.Raw()), "Cannot intersect segments"));
    if (common.IsEmpty()) return std::nullopt;
    const GEOSGeometry* first = common.Raw();
    while (GEOSGetNumGeometries_r(Context(), first) > 1 || GEOSGeomTypeId_r(Context(), first) >= GEOS_MULTIPOINT)
        first = GEOSGetGeometryN_r(Context(), first, 0);
    return CoordinatesOf(first).front();
}

Location LocatePoint(XY p, const Geometry& area) { return Shape::Of(&area).Locate(p); }

std::array<XY, 4> RectangleCorners(XY origin, double width, double height, double rotationDegrees) {
    double a = rotationDegrees * std::numbers::pi / 180.0;
    XY along{std::cos(a), std::sin(a)};  // Width's direction
    XY down{std::sin(a), -std::cos(a)};  // Height's direction (-Y before rotation)
    XY w{along.x * width, along.y * width};
    XY h{down.x * height, down.y * height};
    return {origin, XY{origin.x + w.x, origin.y + w.y}, XY{origin.x + w.x + h.x, origin.y + w.y + h.y},
            XY{origin.x + h.x, origin.y + h.y}};
}

std::array<XY, 4> RectangleCorners(const RectangleGeometry& r) {
    return RectangleCorners(Coordinates(*r.Origin()), r.Width(), r.Height(), r.Rotation());
}

bool Intersects(const Geometry& a, const Geometry& b) { return Shape::Of(&a).Intersects(Shape::Of(&b)); }

double Distance(const Geometry& a, const Geometry& b) { return Shape::Of(&a).Distance(Shape::Of(&b)); }

std::optional<Circle> ArcCircle(XY s, XY m, XY e) {
    if (Same(s, e)) {
        if (Same(s, m)) return std::nullopt;
        return Circle{{(s.x + m.x) / 2.0, (s.y + m.y) / 2.0}, Length(s, m) / 2.0};
    }
    double bx = m.x - s.x, by = m.y - s.y, cx = e.x - s.x, cy = e.y - s.y;
    double d = 2.0 * (bx * cy - by * cx);
    double scale = std::max({std::abs(bx), std::abs(by), std::abs(cx), std::abs(cy)});
    if (std::abs(d) <= 1e-12 * scale * scale) return std::nullopt;
    double b2 = bx * bx + by * by, c2 = cx * cx + cy * cy;
    XY center{s.x + (cy * b2 - by * c2) / d, s.y + (bx * c2 - cx * b2) / d};
    return Circle{center, Length(center, s)};
}

std::vector<XY> DensifyArc(XY s, XY m, XY e, double maxDeviation) {
    auto circle = ArcCircle(s, m, e);
    if (!circle) return {s, m, e};
    const double twoPi = 2.0 * std::numbers::pi;
    auto angle = [&](XY p) { return std::atan2(p.y - circle->center.y, p.x - circle->center.x); };
    auto ccwFrom = [&](double from, double to) {
        double d = std::fmod(to - from, twoPi);
        return d < 0.0 ? d + twoPi : d;
    };
    double a0 = angle(s);
    double sweep;
    if (Same(s, e)) {
        sweep = twoPi;
    } else {
        // Counter-clockwise when the third point lies on the way there.
        double toEnd = ccwFrom(a0, angle(e));
        sweep = ccwFrom(a0, angle(m)) <= toEnd ? toEnd : toEnd - twoPi;
    }
    double r = circle->radius;
    int chords = 2;
    if (maxDeviation > 0.0 && maxDeviation < r) {
        double chordAngle = 2.0 * std::acos(1.0 - maxDeviation / r);
        chords = static_cast<int>(std::ceil(std::abs(sweep) / chordAngle));
    }
    chords = std::clamp(chords, 2, kMaxArcChords);
    std::vector<XY> pts;
    pts.reserve(static_cast<size_t>(chords) + 1);
    pts.push_back(s);
    for (int i = 1; i < chords; ++i) {
        double a = a0 + sweep * i / chords;
        pts.push_back({circle->center.x + r * std::cos(a), circle->center.y + r * std::sin(a)});
    }
    pts.push_back(e);
    return pts;
}

}  // namespace product::geometry_math
