#pragma once
// The geometry tests of the validation module: start and end points of a
// geometry by its kind, the tolerance test for points, the nearer end, the
// end-point test of a connectivity rule, and the touch test that asks the
// GIS framework's spatial filter whether a geometry meets any of a
// collection within a tolerance. Relationship helpers call
// ValidateEndpointConnectivity and IsConnectedAtEndpoint.
//
// Geometries are reached late bound ("Type", "Origin", "Start", "End",
// "Points", "Count", "Item", "Exterior", "X", "Y", "Z"), so any object with
// those members serves. Points are point geometries made by
// "Holvane.PointGeometry"; a point is delivered by copying X, Y and Z into
// its Origin. Collections are rt::Collection of geometries; a Nothing
// element (a component row without geometry) is passed over everywhere.
// No state: every routine runs on the caller's thread inside one call.
#include <cstdint>
#include <memory>
#include <string>

#include "runtime/Collection.h"
#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace ado {
class Recordset;
}  // namespace ado

namespace pelmora {

class ComponentGeometryMemo;
class IKeyObject;
class IMetadataService;
class IFrameworkRecordset;
class IGeometryStorageService;
class IRectangleGeometry;
class ISpatialFilter;

// ---- the check ----

// Records message 24606 in rs (Kind 0, the keys of Feature1, Priority, the
// two features' labels and the tolerance as parameters) unless the two
// features meet. With a polygon in either collection they meet when some
// geometry of Geometries1 touches Geometries2. Otherwise when two end points
// coincide within Tolerance (a geometry without start or end is passed
// over), or, when CheckTouch is exactly -1 (True), when a geometry of either
// collection touches the other, taken as the kind its component's
// QTX_GEOMETRYTYPE names. Errors reach the caller. With a memo, a component
// number's geometry type is the one it keeps, and the touch test's geometry
// recordset of a collection of the same geometry objects is made once.
void ValidateEndpointConnectivity(const std::shared_ptr<IKeyObject>& Feature1,
                                  const std::shared_ptr<rt::Collection>& Geometries1, int16_t CNO1,
                                  const std::shared_ptr<IKeyObject>& Feature2,
                                  const std::shared_ptr<rt::Collection>& Geometries2, int16_t CNO2, double Tolerance,
                                  const std::string& Location, const std::string& Connection,
                                  const std::string& Priority, const rt::Variant& CheckTouch,
                                  const std::shared_ptr<IMetadataService>& MetadataService,
                                  const std::shared_ptr<ado::Recordset>& rs, ComponentGeometryMemo* Memo = nullptr);

// ---- end points ----

// Copy the start (end) point of Geom into Pt's Origin: the Origin of point
// kinds and rectangles, Start (End) of lines and arcs, the first (last) of
// a point list, of a boundary's exterior, of a collection's first (last)
// item. False when Geom is Nothing, of another kind, empty, or any step
// fails (Pt may then hold part of the new coordinates).
bool GetStartPoint(const rt::ObjectPtr& Geom, const rt::ObjectPtr& Pt);
bool GetEndPoint(const rt::ObjectPtr& Geom, const rt::ObjectPtr& Pt);

// |dX| <= Tolerance and |dY| <= Tolerance between the Origins (a square, not
// a circle; Z ignored). Errors reach the caller.
bool PointsCoincide(const rt::ObjectPtr& P1, const rt::ObjectPtr& P2, double Tolerance);
// PointsCoincide on (Start1, Start2), (Start1, End2), (End1, Start2), (End1, End2).
bool EndpointsCoincide(const rt::ObjectPtr& Start1, const rt::ObjectPtr& End1, const rt::ObjectPtr& Start2,
                       const rt::ObjectPtr& End2, double Tolerance);

// The plane distances of PtA and PtB from Geom (a point geometry, or a
// boundary measured from its start point) into DistA and DistB: 2 when PtB
// is no farther (a tie gives 2), else 1; 0 on any failure, the distances
// then unchanged (also when a boundary has no start).
int16_t GetPointDistance(const rt::ObjectPtr& Geom, const rt::ObjectPtr& PtA, const rt::ObjectPtr& PtB, double& DistA,
                         double& DistB);
// Which end of Geom (1 start, 2 end) lies nearer Other, with that distance:
// against a point its Origin, else the nearest pair of ends (the start wins
// a tie). 0 on any failure, and when an end of either geometry cannot be
// found (Nothing, empty, another kind).
int16_t GetNearestEnd(const rt::ObjectPtr& Geom, const rt::ObjectPtr& Other, double& Distance);
// Whether the connectivity rule's ends (1 start, 2 end) are the nearer ones;
// two point kinds are always connected.
bool IsConnectedAtEndpoint(const rt::ObjectPtr& GeomA, int16_t EndA, const rt::ObjectPtr& GeomB, int16_t EndB);

// ---- kinds ----

// Type is a point kind ("PointGeometry", "OrientedPointGeometry",
// "RectangleGeometry", "TextPointGeometry").
bool IsPointGeometry(const rt::ObjectPtr& Geom);
// Some element's type name is "DYvPolygonGeometry" or "DYvCompositePolygonGeometry".
bool ContainsPolygon(const std::shared_ptr<rt::Collection>& Geometries);
// The type name without its three-character prefix; "" for Nothing.
std::string GetGeometryTypeSuffix(const rt::ObjectPtr& Geom);

// ---- the touch test ----

// Whether Geom, of the kind TypeText names, meets some geometry of
// Geometries within Tolerance: an area widened by Tolerance (0 taken as
// 0.01), a point's square of half-side Tolerance, a line's start square and
// then its end square. False for an empty collection, another TypeText, and
// a point or line whose end cannot be found. Framework failures reach the
// caller.
bool GeometriesTouch(const rt::ObjectPtr& Geom, const std::string& TypeText,
                     const std::shared_ptr<rt::Collection>& Geometries, double Tolerance);
// A framework recordset with the geometry field "QTX_GEOMETRY" and one row
// per geometry of the collection, in order.
std::shared_ptr<IFrameworkRecordset> CreateGeometryRecordset(const std::shared_ptr<rt::Collection>& Geometries);
// Whether some row of rsGeom meets SearchGeometry (a storage form; Empty
// meets nothing). Leaves rsGeom on its first row. Filter, when given, is a
// spatial filter already set to the operator and field, kept by a caller
// that searches many times; else a new one serves.
bool GetStoredGeometry(const std::shared_ptr<IFrameworkRecordset>& rsGeom, const rt::Variant& SearchGeometry,
                       ISpatialFilter* Filter = nullptr);
// The storage form of the search geometry: without Area, Rect reshaped into
// the square of half-side Distance around Point (origin at the upper left);
// with Area, the area widened by Distance through the buffer-zone pipe, or
// Empty when that zone is empty.
rt::Variant BufferZoneLocate(const rt::ObjectPtr& Point, double Distance, const std::shared_ptr<IRectangleGeometry>& Rect,
                             const std::shared_ptr<IGeometryStorageService>& Storage,
                             const rt::Variant& Area = rt::Variant::Missing());

}  // namespace pelmora
