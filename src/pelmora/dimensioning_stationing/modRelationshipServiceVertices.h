#pragma once
// The vertex walkers of the relationship module: any geometry object as one
// numbered list of vertices (from 1), counted, fetched, found and moved alike
// through every nesting (boundaries, composites with shared joints,
// collections). The dimension point checks use them.
//
// Geometries are reached late bound by member name and told apart by their
// type name; points through IPoint. Every point handed out is new; only
// SetVertex changes a geometry. Each walker traps its own run-time errors:
// it shows the error's text through ShowMessage and answers what its result
// held then (False, the count so far, 0, nullptr). Caller's thread only; no
// state between calls. docs/DIMENSIONING.md has the numbering rules.
#include <cstdint>
#include <memory>

#include "interfaces/Geometry.h"
#include "runtime/Object.h"

namespace pelmora {

// Fetches (bGet) or moves vertex Index of Geom. Index below 1: False, Point
// untouched. Fetching into a Point that is nullptr creates it; Point then
// refers to a new point with the vertex's coordinates.
bool GetOrSetVertex(int16_t Index, const rt::ObjectPtr& Geom, std::shared_ptr<IPoint>& Point, bool bGet);

// Point := a new point at vertex Index. A miss answers False and lowers Index
// by Geom's vertex count (the number relative to the next part); a hit leaves
// Index as it came.
bool GetVertex(int32_t& Index, const rt::ObjectPtr& Geom, std::shared_ptr<IPoint>& Point);

// Moves vertex Index (and, in a composite, the joint it shares with the next
// piece) to Point; Index as for GetVertex. A rectangle's corners move by
// changing Origin, Width, Height and Rotation.
bool SetVertex(int32_t& Index, const rt::ObjectPtr& Geom, const std::shared_ptr<IPoint>& Point);

// The number of Geom's first vertex equal to the point (a point, point
// geometry or oriented point geometry); 0 when none or for another kind.
int32_t GetPointVertexIndex(const rt::ObjectPtr& PointGeom, const rt::ObjectPtr& Geom);

// Searches Geom for Point. Index is the number just before Geom's first
// vertex on entry; a hit leaves it at the vertex's number, a miss at entry +
// count - 1.
bool FindVertex(const std::shared_ptr<IPoint>& Point, const rt::ObjectPtr& Geom, int32_t& Index);

// 0 for a kind without vertices (and for nullptr).
int32_t GetVertexCount(const rt::ObjectPtr& Geom);

// Copies X, Y, Z of Src into Dst (created when nullptr); returns Dst.
std::shared_ptr<IPoint> CopyPoint(const std::shared_ptr<IPoint>& Src, std::shared_ptr<IPoint>& Dst);

// A new polygon of the rectangle's five corners (the last the origin again).
rt::ObjectPtr RectangleToPolygon(const rt::ObjectPtr& Rectangle);

}  // namespace pelmora
