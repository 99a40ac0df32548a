#pragma once
// The desktop application's geometry objects: points, the point list of
// polylines and polygons, the item list of composites, collections and
// boundary holes, and one class per geometry kind. Every object answers its
// members late bound (rt::Object::Invoke) and through the typed API below.
//
// Ownership is a tree: a geometry holds its points and items strongly and
// nothing points back, so a geometry may never become an item of itself.
// Points handed out ("Origin", "Start", "Points(i)") are the geometry's own:
// moving them moves the geometry. Assigning a point ("Set g.Origin = p",
// "Points.Add p") copies its coordinates.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "interfaces/Geometry.h"
#include "runtime/Object.h"

namespace product {

class Geometry;
using GeometryPtr = std::shared_ptr<Geometry>;

class Point : public rt::Object, public pelmora::IPoint {
public:
    Point() = default;
    Point(double x, double y, double z = 0.0) : x_(x), y_(y), z_(z) {}
    static std::shared_ptr<Point> Create(double x = 0.0, double y = 0.0, double z = 0.0) {
        return std::make_shared<Point>(x, y, z);
    }

    double get_X() override { return x_; }
    void put_X(double X) override { x_ = X; }
    double get_Y() override { return y_; }
    void put_Y(double Y) override { y_ = Y; }
    double get_Z() override { return z_; }
    void put_Z(double Z) override { z_ = Z; }

    double X() const { return x_; }
    double Y() const { return y_; }
    double Z() const { return z_; }
    void Assign(double x, double y, double z) { x_ = x, y_ = y, z_ = z; }
    void CopyFrom(pelmora::IPoint& other) { Assign(other.get_X(), other.get_Y(), other.get_Z()); }

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    rt::Variant InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return pelmora::kPointTypeName; }

private:
    double x_ = 0.0, y_ = 0.0, z_ = 0.0;
};
using PointPtr = std::shared_ptr<Point>;

// The point of a Variant (an object implementing IPoint); raises 91 for
// Nothing and 13 for anything else.
std::shared_ptr<pelmora::IPoint> PointOf(const rt::Variant& value);

class Points : public rt::Object, public pelmora::IPoints {
public:
    int32_t get_Count() override { return static_cast<int32_t>(items_.size()); }
    std::shared_ptr<pelmora::IPoint> Item(int32_t Index) override { return At(Index); }
    void Add(const std::shared_ptr<pelmora::IPoint>& Point,
             const rt::Variant& Index = rt::Variant::Missing()) override;
    void Remove(int32_t Index) override;

    // Typed access: 1-based, raises 9 when out of range.
    const PointPtr& At(int32_t index) const;
    void Add(double x, double y, double z = 0.0);
    void Clear() { items_.clear(); }
    const std::vector<PointPtr>& All() const { return items_; }

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    rt::Variant InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "DYvPoints"; }

private:
    std::vector<PointPtr> items_;
};
using PointsPtr = std::shared_ptr<Points>;

// The items of a composite or collection, or the holes of a boundary. Add
// refuses kinds the owner cannot hold (13) and any geometry that is or holds
// the owner (5).
class Geometries : public rt::Object {
public:
    using Accepts = std::function<bool(pelmora::GeometryKind)>;
    Geometries(std::weak_ptr<Geometry> owner, Accepts accepts) : owner_(std::move(owner)), accepts_(std::move(accepts)) {}

    int32_t get_Count() const { return static_cast<int32_t>(items_.size()); }
    // 1-based; raises 9 when out of range.
    const GeometryPtr& Item(int32_t index) const;
    // Appends, or inserts before the 1-based index when one is given.
    void Add(const GeometryPtr& item, const rt::Variant& index = rt::Variant::Missing());
    void Remove(int32_t index);
    const std::vector<GeometryPtr>& All() const { return items_; }

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    rt::Variant InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "DYvGeometries"; }

private:
    std::weak_ptr<Geometry> owner_;
    Accepts accepts_;
    std::vector<GeometryPtr> items_;
};
using GeometriesPtr = std::shared_ptr<Geometries>;

// The geometry of a Variant; raises 91 for Nothing and 13 for an object that
// is not one of these geometries.
GeometryPtr GeometryOf(const rt::Variant& value);

class Geometry : public rt::Object, public pelmora::IGeometry {
public:
    std::string get_Type() override { return pelmora::GeometryTypeText(Kind()); }
    std::string TypeName() const override;
    // The geometries this one holds directly (items, exterior and holes).
    virtual std::vector<GeometryPtr> Children() const { return {}; }
    // True when this geometry is target or holds it at any depth.
    bool Holds(const Geometry* target) const;
};

// Point, oriented point and text point.
class PointGeometry : public Geometry, public pelmora::IPointGeometry {
public:
    static std::shared_ptr<PointGeometry> Create(double x = 0.0, double y = 0.0, double z = 0.0);
    pelmora::GeometryKind Kind() const override { return pelmora::GeometryKind::Point; }
    std::shared_ptr<pelmora::IPoint> get_Origin() override { return origin_; }
    void putref_Origin(const std::shared_ptr<pelmora::IPoint>& Origin) override;
    const PointPtr& Origin() const { return origin_; }

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    rt::Variant InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) override;

protected:
    PointPtr origin_ = Point::Create();
};

// A point with a direction: Orientation is a vector (default (1, 0, 0)).
class DirectedPointGeometry : public PointGeometry {
public:
    const PointPtr& Orientation() const { return orientation_; }
    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    rt::Variant InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) override;

protected:
    PointPtr orientation_ = Point::Create(1.0, 0.0, 0.0);
};

class OrientedPointGeometry : public DirectedPointGeometry {
public:
    static std::shared_ptr<OrientedPointGeometry> Create(double x = 0.0, double y = 0.0, double z = 0.0);
    pelmora::GeometryKind Kind() const override { return pelmora::GeometryKind::OrientedPoint; }
};

class TextPointGeometry : public DirectedPointGeometry {
public:
    static std::shared_ptr<TextPointGeometry> Create(double x = 0.0, double y = 0.0, double z = 0.0);
    pelmora::GeometryKind Kind() const override { return pelmora::GeometryKind::TextPoint; }
};

// Origin, Width, Height and Rotation (degrees).
class RectangleGeometry : public Geometry, public pelmora::IRectangleGeometry {
public:
    static std::shared_ptr<RectangleGeometry> Create(double x = 0.0, double y = 0.0, double width = 0.0,
                                                     double height = 0.0, double rotation = 0.0);
    pelmora::GeometryKind Kind() const override { return pelmora::GeometryKind::Rectangle; }
    std::shared_ptr<pelmora::IPoint> get_Origin() override { return origin_; }
    void putref_Origin(const std::shared_ptr<pelmora::IPoint>& Origin) override;
    double get_Width() override { return width_; }
    void put_Width(double Width) override { width_ = Width; }
    double get_Height() override { return height_; }
    void put_Height(double Height) override { height_ = Height; }
    double get_Rotation() override { return rotation_; }
    void put_Rotation(double Rotation) override { rotation_ = Rotation; }
    const PointPtr& Origin() const { return origin_; }
    double Width() const { return width_; }
    double Height() const { return height_; }
    double Rotation() const { return rotation_; }

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    rt::Variant InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) override;

private:
    PointPtr origin_ = Point::Create();
    double width_ = 0.0, height_ = 0.0, rotation_ = 0.0;
};

// Start and End.
class LineGeometry : public Geometry {
public:
    static std::shared_ptr<LineGeometry> Create(double x1 = 0.0, double y1 = 0.0, double x2 = 0.0, double y2 = 0.0);
    pelmora::GeometryKind Kind() const override { return pelmora::GeometryKind::Line; }
    const PointPtr& Start() const { return start_; }
    const PointPtr& End() const { return end_; }

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    rt::Variant InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) override;

protected:
    PointPtr start_ = Point::Create();
    PointPtr end_ = Point::Create();
};

// Start, Origin (a third point of the arc) and End.
class ArcGeometry : public LineGeometry {
public:
    static std::shared_ptr<ArcGeometry> Create();
    pelmora::GeometryKind Kind() const override { return pelmora::GeometryKind::Arc; }
    const PointPtr& Origin() const { return origin_; }

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    rt::Variant InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) override;

private:
    PointPtr origin_ = Point::Create();
};

// Polylines and polygons: Points.
class PointListGeometry : public Geometry, public pelmora::IPointListGeometry {
public:
    std::shared_ptr<pelmora::IPoints> get_Points() override { return points_; }
    const PointsPtr& PointList() const { return points_; }

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    rt::Variant InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) override;

private:
    PointsPtr points_ = std::make_shared<Points>();
};

class PolylineGeometry : public PointListGeometry {
public:
    static std::shared_ptr<PolylineGeometry> Create();
    pelmora::GeometryKind Kind() const override { return pelmora::GeometryKind::Polyline; }
};

// A ring; the last point may repeat the first.
class PolygonGeometry : public PointListGeometry {
public:
    static std::shared_ptr<PolygonGeometry> Create();
    pelmora::GeometryKind Kind() const override { return pelmora::GeometryKind::Polygon; }
};

// Composites and the collection: Count, Item, Add, Remove.
class ItemsGeometry : public Geometry {
public:
    const GeometriesPtr& Items() const { return items_; }
    std::vector<GeometryPtr> Children() const override { return items_->All(); }

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    rt::Variant InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) override;

protected:
    void Init(Geometries::Accepts accepts);
    GeometriesPtr items_;
};

// Linear pieces (lines, arcs, polylines) one after the other.
class CompositePolylineGeometry : public ItemsGeometry {
public:
    static std::shared_ptr<CompositePolylineGeometry> Create();
    pelmora::GeometryKind Kind() const override { return pelmora::GeometryKind::CompositePolyline; }
};

// A ring of linear pieces.
class CompositePolygonGeometry : public ItemsGeometry {
public:
    static std::shared_ptr<CompositePolygonGeometry> Create();
    pelmora::GeometryKind Kind() const override { return pelmora::GeometryKind::CompositePolygon; }
};

// Any geometries.
class GeometryCollection : public ItemsGeometry {
public:
    static std::shared_ptr<GeometryCollection> Create();
    pelmora::GeometryKind Kind() const override { return pelmora::GeometryKind::Collection; }
};

// An area: Exterior (a polygon or composite polygon; Nothing until set) and
// Holes (polygons or composite polygons).
class BoundaryGeometry : public Geometry {
public:
    static std::shared_ptr<BoundaryGeometry> Create();
    pelmora::GeometryKind Kind() const override { return pelmora::GeometryKind::Boundary; }
    const GeometryPtr& Exterior() const { return exterior_; }
    // Raises 13 for a kind that is no ring, 5 for one that holds this boundary.
    void SetExterior(const GeometryPtr& exterior);
    const GeometriesPtr& Holes() const { return holes_; }
    std::vector<GeometryPtr> Children() const override;

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    rt::Variant InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) override;

private:
    GeometryPtr exterior_;
    GeometriesPtr holes_;
};

// Linear kinds a composite takes; ring kinds a boundary takes.
bool IsLinearPiece(pelmora::GeometryKind kind);
bool IsRingKind(pelmora::GeometryKind kind);

// A new empty geometry of a kind.
GeometryPtr CreateGeometry(pelmora::GeometryKind kind);

// Registers the point, point geometry, polygon and rectangle classes by their
// ProgIDs and class ids.
void RegisterGeometryClasses();

}  // namespace product
