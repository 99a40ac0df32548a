#pragma once
// The desktop application's geometry objects as the system sees them, and the
// product's geometry service that turns the relational rows of a "_SDOGEOM"
// table into such an object and back.
//
// Geometries are rt::Object and are mostly reached late bound by member name
// ("Type", "Origin", "Start", "End", "Points", "Count", "Item", "Exterior",
// "Holes", "Rotation", "Width", "Height", "X", "Y", "Z"). The few objects the
// system creates and uses through their own interfaces (points, point
// geometries, rectangles, polygons) also implement the typed interfaces below;
// reach them with rt::QueryInterface<...>(). docs/GEOMETRY.md describes every
// kind, its members and the row layout.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace ado {
class Recordset;
}  // namespace ado

namespace pelmora {

class IDataContext;

// ProgIDs and class ids of what the system creates.
inline constexpr const char* kGeometryServiceProgId = "QTX.GeometryService";
inline constexpr const char* kGeometryServiceClsid = "{3F1C8A20-5D7E-4B92-A6C1-9E0B4D2F7A31}";
inline constexpr const char* kPointGeometryProgId = "Holvane.PointGeometry";
inline constexpr const char* kPointGeometryClsid = "{1A0F1990-8763-4EFC-A05B-4E885730C765}";
inline constexpr const char* kPointProgId = "Holvane.Point";
inline constexpr const char* kPointClsid = "{21B7A77A-0788-4043-BB22-66AC40F03873}";
inline constexpr const char* kPolygonGeometryProgId = "Holvane.PolygonGeometry";
inline constexpr const char* kPolygonGeometryClsid = "{22BB1E7B-86FF-4252-BE90-692B1451A24A}";
inline constexpr const char* kRectangleGeometryProgId = "Holvane.RectangleGeometry";
inline constexpr const char* kRectangleGeometryClsid = "{82CAF0EF-0493-41BD-AE8A-82AC164DC136}";

// The kinds of geometry.
enum class GeometryKind : int32_t {
    Point = 1,
    OrientedPoint,
    TextPoint,
    Line,
    Polyline,
    Arc,
    Polygon,
    Boundary,
    CompositePolyline,
    CompositePolygon,
    Collection,
    Rectangle,
};

// Type texts ("Type" of a geometry).
inline constexpr const char* kPointGeometryType = "PointGeometry";
inline constexpr const char* kOrientedPointGeometryType = "OrientedPointGeometry";
inline constexpr const char* kTextPointGeometryType = "TextPointGeometry";
inline constexpr const char* kLineGeometryType = "LineGeometry";
inline constexpr const char* kPolylineGeometryType = "PolylineGeometry";
inline constexpr const char* kArcGeometryType = "ArcGeometry";
inline constexpr const char* kPolygonGeometryType = "PolygonGeometry";
inline constexpr const char* kBoundaryGeometryType = "BoundaryGeometry";
inline constexpr const char* kCompositePolylineGeometryType = "CompositePolylineGeometry";
inline constexpr const char* kCompositePolygonGeometryType = "CompositePolygonGeometry";
inline constexpr const char* kGeometryCollectionType = "GeometryCollection";
inline constexpr const char* kRectangleGeometryType = "RectangleGeometry";

// A geometry's run-time type name (rt::Object::TypeName) is its Type text
// behind this prefix ("DYvPolylineGeometry"); a bare point is "DYvPoint".
inline constexpr const char* kGeometryTypeNamePrefix = "DYv";
inline constexpr const char* kPointTypeName = "DYvPoint";

constexpr const char* GeometryTypeText(GeometryKind kind) {
    switch (kind) {
        case GeometryKind::Point: return kPointGeometryType;
        case GeometryKind::OrientedPoint: return kOrientedPointGeometryType;
        case GeometryKind::TextPoint: return kTextPointGeometryType;
        case GeometryKind::Line: return kLineGeometryType;
        case GeometryKind::Polyline: return kPolylineGeometryType;
        case GeometryKind::Arc: return kArcGeometryType;
        case GeometryKind::Polygon: return kPolygonGeometryType;
        case GeometryKind::Boundary: return kBoundaryGeometryType;
        case GeometryKind::CompositePolyline: return kCompositePolylineGeometryType;
        case GeometryKind::CompositePolygon: return kCompositePolygonGeometryType;
        case GeometryKind::Collection: return kGeometryCollectionType;
        case GeometryKind::Rectangle: return kRectangleGeometryType;
    }
    return "";
}

// The element types (SDO_ETYPE) of the geometry rows; see docs/GEOMETRY.md.
namespace sdo_etype {
inline constexpr int32_t Point = 1;              // plain or oriented point
inline constexpr int32_t LineString = 2;         // polyline
inline constexpr int32_t Polygon = 3;            // ring of a polygon
inline constexpr int32_t CompositePolyline = 4;  // header: X1 = number of items
inline constexpr int32_t CompositePolygon = 5;   // header: X1 = number of items
inline constexpr int32_t Boundary = 6;           // header: X1 = 1 + number of holes
inline constexpr int32_t Collection = 7;         // header: X1 = number of items
inline constexpr int32_t Line = 8;               // start, end
inline constexpr int32_t Arc = 9;                // start, origin, end
inline constexpr int32_t TextPoint = 10;         // origin, orientation
inline constexpr int32_t Rectangle = 11;         // origin; X2 width, Y2 height, X3 rotation
}  // namespace sdo_etype

// A point (X, Y, Z as Double).
class IPoint {
public:
    virtual ~IPoint() = default;
    virtual double get_X() = 0;
    virtual void put_X(double X) = 0;
    virtual double get_Y() = 0;
    virtual void put_Y(double Y) = 0;
    virtual double get_Z() = 0;
    virtual void put_Z(double Z) = 0;
};

// Every geometry kind.
class IGeometry {
public:
    virtual ~IGeometry() = default;
    virtual std::string get_Type() = 0;
    virtual GeometryKind Kind() const = 0;
};

// The point list of a polyline or polygon. Items are the geometry's own
// points (moving one moves the vertex); Add takes a copy of the coordinates.
class IPoints {
public:
    virtual ~IPoints() = default;
    virtual int32_t get_Count() = 0;
    // 1-based; out of range raises 9.
    virtual std::shared_ptr<IPoint> Item(int32_t Index) = 0;
    // Appends, or inserts before the 1-based Index when one is given.
    virtual void Add(const std::shared_ptr<IPoint>& Point, const rt::Variant& Index = rt::Variant::Missing()) = 0;
    virtual void Remove(int32_t Index) = 0;
};

// Point kinds with an Origin (point, oriented point, text point).
class IPointGeometry {
public:
    virtual ~IPointGeometry() = default;
    // The geometry's own origin point.
    virtual std::shared_ptr<IPoint> get_Origin() = 0;
    // Copies the coordinates of the given point.
    virtual void putref_Origin(const std::shared_ptr<IPoint>& Origin) = 0;
};

class IRectangleGeometry {
public:
    virtual ~IRectangleGeometry() = default;
    virtual std::shared_ptr<IPoint> get_Origin() = 0;
    virtual void putref_Origin(const std::shared_ptr<IPoint>& Origin) = 0;
    virtual double get_Width() = 0;
    virtual void put_Width(double Width) = 0;
    virtual double get_Height() = 0;
    virtual void put_Height(double Height) = 0;
    // Degrees.
    virtual double get_Rotation() = 0;
    virtual void put_Rotation(double Rotation) = 0;
};

// Polylines and polygons.
class IPointListGeometry {
public:
    virtual ~IPointListGeometry() = default;
    virtual std::shared_ptr<IPoints> get_Points() = 0;
};

// The geometries of a set's geometry rows, each decoded once, found by id.
class IGeometryIndex {
public:
    virtual ~IGeometryIndex() = default;
    // What ReadGeometry gives for a component row whose QTX_ID is
    // GeometryID, the rows indexed: the geometry, nullptr when no row has
    // that SDO_GID, or the same error (malformed rows).
    virtual std::shared_ptr<rt::Object> Find(int32_t GeometryID) = 0;
};

// The geometry service. Rows are those of a "_SDOGEOM" table: one geometry is
// the rows of one SDO_GID, elements by SDO_ESEQ, rows of an element by
// SDO_SEQ, up to four coordinate pairs per row (docs/GEOMETRY.md).
class IGeometryService {
public:
    virtual ~IGeometryService() = default;

    virtual std::shared_ptr<IDataContext> get_DataContext() = 0;
    virtual void putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) = 0;

    // The geometry of the current component row: the visible rows of
    // GeometryRows whose SDO_GID is the row's QTX_ID (all visible rows when
    // ComponentRows is nullptr or has no current row or no QTX_ID; they must
    // then be of one SDO_GID). nullptr when there are none. Malformed rows
    // raise 5 with a description naming the row.
    virtual std::shared_ptr<rt::Object> ReadGeometry(const std::shared_ptr<ado::Recordset>& GeometryRows,
                                                     const std::shared_ptr<ado::Recordset>& ComponentRows) = 0;

    // Replaces the geometry rows of the current component row (SDO_GID = its
    // QTX_ID) by rows of Geometry: the old rows are deleted and new ones
    // added, as pending rows of a batch recordset. The key columns come from
    // the component row. A nullptr Geometry only deletes. The geometry is
    // checked before any row is touched.
    virtual void WriteGeometry(const std::shared_ptr<rt::Object>& Geometry,
                               const std::shared_ptr<ado::Recordset>& ComponentRows,
                               const std::shared_ptr<ado::Recordset>& GeometryRows) = 0;

    // The same without a component row. RowsToGeometry reads all visible
    // rows (one SDO_GID). GeometryToRows deletes the visible rows of SDO_GID
    // GeometryID and adds the rows of Geometry with SDO_GID (and QTX_ID)
    // GeometryID; QTX_FNO, QTX_FID, QTX_CNO and QTX_CID come from the current
    // row of KeyRow (left Null when KeyRow is nullptr).
    virtual std::shared_ptr<rt::Object> RowsToGeometry(const std::shared_ptr<ado::Recordset>& GeometryRows) = 0;

    // All rows of GeometryRows and its clones whatever their filter (deleted
    // rows left out, as a filter leaves them out), indexed by SDO_GID, so
    // that reading the geometries of many component rows of one set costs
    // one pass. The index is of the rows as they are now: a row or value
    // changed afterwards is not seen. nullptr when the rows cannot be
    // indexed alike (no field or no whole-number SDO_GID): read them one by
    // one through ReadGeometry then, which raises what there is to raise.
    virtual std::shared_ptr<IGeometryIndex> IndexGeometries(const std::shared_ptr<ado::Recordset>& GeometryRows) = 0;
    virtual void GeometryToRows(const std::shared_ptr<rt::Object>& Geometry,
                                const std::shared_ptr<ado::Recordset>& GeometryRows, int32_t GeometryID,
                                const std::shared_ptr<ado::Recordset>& KeyRow) = 0;
};

}  // namespace pelmora
