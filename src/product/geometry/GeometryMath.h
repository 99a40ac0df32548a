#pragma once
// Computational geometry over the desktop application's geometry objects:
// point-segment distance and projection, segment intersection, point in area
// (polygons, boundaries with holes, composite rings, rectangles), contact and
// distance between any two kinds, buffers, and arcs through three points.
//
// The work is GEOS's (its C API, reentrant functions): a Shape is one GEOS
// geometry built from a geometry object. GEOS knows no arcs, so an arc is
// densified here into a chain whose chords stray at most a given deviation
// from it (kArcDeviation unless a caller asks for another). A rectangle is
// the area of its four corners (RectangleCorners: the one corner routine
// every caller shares; docs/GEOMETRY.md gives the convention).
//
// Every thread has its own GEOS context, made on first use and ended with the
// thread. GEOS failures and coordinates that are no finite number raise 5
// with source "GeometryMath".
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "product/geometry/GeometryObjects.h"

// Only GEOS's reentrant API, with a context handle.
#ifndef GEOS_USE_ONLY_R_API
#define GEOS_USE_ONLY_R_API
#endif
#include <geos_c.h>

namespace product::geometry_math {

struct XY {
    double x = 0.0;
    double y = 0.0;
};

// Largest distance a densified arc strays from the true arc, in coordinate
// units, unless a caller asks for another.
inline constexpr double kArcDeviation = 1e-3;
// No arc is cut into more chords than this.
inline constexpr int kMaxArcChords = 4096;

// The calling thread's GEOS context.
GEOSContextHandle_t Context();

// Where a point lies against an area.
enum class Location { Outside, Boundary, Inside };

// One GEOS geometry, owned; prepared for repeated tests on first use.
class Shape {
public:
    Shape() = default;
    explicit Shape(GEOSGeometry* owned) : g_(owned) {}
    Shape(Shape&&) noexcept;
    Shape& operator=(Shape&&) noexcept;
    Shape(const Shape&) = delete;
    Shape& operator=(const Shape&) = delete;
    ~Shape();

    // The shape of a geometry object of any kind (areas as areas, point lists
    // as chains, collections as collections). nullptr gives an empty shape.
    static Shape Of(const Geometry* geometry, double arcDeviation = kArcDeviation);
    static Shape Of(const GeometryPtr& geometry, double arcDeviation = kArcDeviation) {
        return Of(geometry.get(), arcDeviation);
    }
    static Shape Point(XY p);
    // A segment; a point when both ends are equal.
    static Shape Segment(XY a, XY b);

    bool IsEmpty() const;
    // Some point in common (boundaries count).
    bool Intersects(const Shape& other) const;
    // The least distance between the two (0 when they meet or one holds the
    // other); raises 5 when either is empty.
    double Distance(const Shape& other) const;
    // Distance(other) <= distance, without computing the distance in full.
    bool WithinDistance(const Shape& other, double distance) const;
    // Where a point lies against this shape. Meant for areas; on a line a
    // point counts as inside, except at the line's two ends (its boundary).
    Location Locate(XY p) const;
    // The area within distance of this shape, its round parts cut into chords
    // that stray at most maxDeviation.
    Shape Buffer(double distance, double maxDeviation) const;
    // The shape as a geometry object: points, polylines, polygons (boundaries
    // when they have holes), collections of them; nullptr when empty.
    GeometryPtr ToGeometry() const;

    const GEOSGeometry* Raw() const { return g_; }

private:
    const GEOSPreparedGeometry* Prepared() const;
    GEOSGeometry* g_ = nullptr;
    mutable const GEOSPreparedGeometry* prepared_ = nullptr;
    bool axisBox_ = false;  // a rectangle whose sides run along the axes
};

// The distance from p to the segment a-b (a point when a equals b).
double PointSegmentDistance(XY p, XY a, XY b);

// The point of segment a-b nearest to p, its parameter t (0 at a, 1 at b)
// and its distance from p.
struct Projection {
    XY point;
    double t = 0.0;
    double distance = 0.0;
};
Projection ProjectPointToSegment(XY p, XY a, XY b);

// Whether segments a-b and c-d have a point in common, and one such point
// (for overlapping segments, the overlap's first point).
bool SegmentsIntersect(XY a, XY b, XY c, XY d);
std::optional<XY> SegmentIntersection(XY a, XY b, XY c, XY d);

// Where p lies against an area geometry (polygon, boundary, composite
// polygon, rectangle); any other kind is taken as its shape.
Location LocatePoint(XY p, const Geometry& area);

// The corners of a rectangle, in order: the origin (upper left), then along
// Width (+X before rotation), then the far corner, then along Height (-Y
// before rotation). The rotation (degrees, counter-clockwise) turns the
// rectangle about its origin.
std::array<XY, 4> RectangleCorners(XY origin, double width, double height, double rotationDegrees);
std::array<XY, 4> RectangleCorners(const RectangleGeometry& rectangle);

// Contact and distance between geometry objects of any kind.
bool Intersects(const Geometry& a, const Geometry& b);
double Distance(const Geometry& a, const Geometry& b);

// The circle through an arc's three points; nullopt when they are collinear.
// An arc whose start and end coincide is the full circle through the third.
struct Circle {
    XY center;
    double radius = 0.0;
};
std::optional<Circle> ArcCircle(XY start, XY through, XY end);
// The arc from start through the third point to end as a chain of points
// (start and end included) whose chords stray at most maxDeviation; three
// collinear points give themselves.
std::vector<XY> DensifyArc(XY start, XY through, XY end, double maxDeviation = kArcDeviation);

}  // namespace product::geometry_math
