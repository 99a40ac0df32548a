#include "product/geometry/GeometryObjects.h"

#include <utility>

#include "runtime/Dispatch.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace product {

using pelmora::GeometryKind;

namespace {

constexpr const char* kSource = "Geometry";

// Dispatch ids shared by every geometry class (Item is the default member).
enum DispId : int32_t {
    kItem = 0,
    kType = 1,
    kOrigin,
    kStart,
    kEnd,
    kPoints,
    kCount,
    kExterior,
    kHoles,
    kRotation,
    kWidth,
    kHeight,
    kX,
    kY,
    kZ,
    kAdd,
    kRemove,
    kOrientation,
};

[[noreturn]] void Raise(int32_t number, const std::string& description) {
    throw rt::ComError(number, kSource, description);
}

// A 1-based index into n items; raises 9 when out of range.
size_t CheckIndex(int32_t index, size_t n) {
    if (index < 1 || static_cast<size_t>(index) > n) rt::RaiseVbError(rt::vberr::SubscriptOutOfRange, kSource);
    return static_cast<size_t>(index - 1);
}

// Where an optional 1-based "insert before" index puts a new item (append when
// missing; Count + 1 also appends).
size_t InsertPosition(const rt::Variant& index, size_t n) {
    if (index.IsMissing() || index.IsEmpty()) return n;
    int32_t i = rt::CLng(index);
    if (i < 1 || static_cast<size_t>(i) > n + 1) rt::RaiseVbError(rt::vberr::SubscriptOutOfRange, kSource);
    return static_cast<size_t>(i - 1);
}

template <class T>
rt::DispatchTable<T> BaseTable() {
    return rt::DispatchTable<T>().Get("Type", kType, [](T& g) { return rt::Variant(g.get_Type()); });
}

// A point member: get hands out the own point, set copies the coordinates.
template <class T, class Get>
void AddPointMember(rt::DispatchTable<T>& table, const std::string& name, int32_t id, Get get) {
    table.Get(name, id, [get](T& g) { return rt::Variant(get(g)); });
    table.Set(name, id, [get](T& g, const rt::Variant& v) { get(g)->CopyFrom(*PointOf(v)); });
}

template <class T, class Get, class Put>
void AddDouble(rt::DispatchTable<T>& table, const std::string& name, int32_t id, Get get, Put put) {
    table.Get(name, id, [get](T& g) { return rt::Variant(get(g)); });
    table.Let(name, id, [put](T& g, const rt::Variant& v) { put(g, rt::CDbl(v)); });
}

}  // namespace

#define PRODUCT_GEOMETRY_INVOKE(Class, table)                                                         \
    rt::Variant Class::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {        \
        return table().Invoke(*this, name, kind, args);                                               \
    }                                                                                                 \
    rt::Variant Class::InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) {            \
        return table().InvokeDispId(*this, dispId, kind, args);                                       \
    }

// ---- points ----

std::shared_ptr<pelmora::IPoint> PointOf(const rt::Variant& value) {
    if (!value.IsObject()) rt::RaiseVbError(rt::vberr::TypeMismatch, kSource);
    if (value.IsNothing()) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet, kSource);
    return rt::QueryInterface<pelmora::IPoint>(value.Obj());
}

namespace {
const rt::DispatchTable<Point>& PointTable() {
    static const auto table = [] {
        rt::DispatchTable<Point> t;
        AddDouble(t, "X", kX, [](Point& p) { return p.X(); }, [](Point& p, double v) { p.put_X(v); });
        AddDouble(t, "Y", kY, [](Point& p) { return p.Y(); }, [](Point& p, double v) { p.put_Y(v); });
        AddDouble(t, "Z", kZ, [](Point& p) { return p.Z(); }, [](Point& p, double v) { p.put_Z(v); });
        return t;
    }();
    return table;
}
}  // namespace
PRODUCT_GEOMETRY_INVOKE(Point, PointTable)

const PointPtr& Points::At(int32_t index) const { return items_[CheckIndex(index, items_.size())]; }

void Points::Add(const std::shared_ptr<pelmora::IPoint>& point, const rt::Variant& index) {
    if (!point) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet, kSource);
    size_t at = InsertPosition(index, items_.size());
    auto copy = Point::Create(point->get_X(), point->get_Y(), point->get_Z());
    items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(at), std::move(copy));
}

void Points::Add(double x, double y, double z) { items_.push_back(Point::Create(x, y, z)); }

void Points::Remove(int32_t index) {
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(CheckIndex(index, items_.size())));
}

namespace {
const rt::DispatchTable<Points>& PointsTable() {
    static const auto table = rt::DispatchTable<Points>()
        .Get("Count", kCount, [](Points& p) { return rt::Variant(p.get_Count()); })
        .Get("Item", kItem, 1, 1, [](Points& p, rt::Args& a) { return rt::Variant(p.At(rt::CLng(a[0]))); })
        .Method("Add", kAdd, 1, 2, [](Points& p, rt::Args& a) {
            p.Add(PointOf(a[0]), a[1]);
            return rt::Variant();
        })
        .Method("Remove", kRemove, 1, 1, [](Points& p, rt::Args& a) {
            p.Remove(rt::CLng(a[0]));
            return rt::Variant();
        });
    return table;
}
}  // namespace
PRODUCT_GEOMETRY_INVOKE(Points, PointsTable)

// ---- item lists ----

GeometryPtr GeometryOf(const rt::Variant& value) {
    if (!value.IsObject()) rt::RaiseVbError(rt::vberr::TypeMismatch, kSource);
    if (value.IsNothing()) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet, kSource);
    auto g = std::dynamic_pointer_cast<Geometry>(value.Obj());
    if (!g) rt::RaiseVbError(rt::vberr::TypeMismatch, kSource);
    return g;
}

const GeometryPtr& Geometries::Item(int32_t index) const { return items_[CheckIndex(index, items_.size())]; }

void Geometries::Add(const GeometryPtr& item, const rt::Variant& index) {
    if (!item) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet, kSource);
    if (accepts_ && !accepts_(item->Kind()))
        Raise(rt::vberr::TypeMismatch, "A " + item->get_Type() + " cannot be added here");
    auto owner = owner_.lock();
    if (owner && item->Holds(owner.get())) Raise(rt::vberr::InvalidProcedureCall, "A geometry cannot contain itself");
    size_t at = InsertPosition(index, items_.size());
    items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(at), item);
}

void Geometries::Remove(int32_t index) {
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(CheckIndex(index, items_.size())));
}

namespace {
template <class T, class ItemsOf>
void AddItemMembers(rt::DispatchTable<T>& t, ItemsOf items) {
    t.Get("Count", kCount, [items](T& g) { return rt::Variant(items(g).get_Count()); });
    t.Get("Item", kItem, 1, 1, [items](T& g, rt::Args& a) { return rt::Variant(items(g).Item(rt::CLng(a[0]))); });
    t.Method("Add", kAdd, 1, 2, [items](T& g, rt::Args& a) {
        items(g).Add(GeometryOf(a[0]), a[1]);
        return rt::Variant();
    });
    t.Method("Remove", kRemove, 1, 1, [items](T& g, rt::Args& a) {
        items(g).Remove(rt::CLng(a[0]));
        return rt::Variant();
    });
}

const rt::DispatchTable<Geometries>& GeometriesTable() {
    static const auto table = [] {
        rt::DispatchTable<Geometries> t;
        AddItemMembers(t, [](Geometries& g) -> Geometries& { return g; });
        return t;
    }();
    return table;
}
}  // namespace
PRODUCT_GEOMETRY_INVOKE(Geometries, GeometriesTable)

// ---- the geometry base ----

std::string Geometry::TypeName() const {
    return std::string(pelmora::kGeometryTypeNamePrefix) + pelmora::GeometryTypeText(Kind());
}

bool Geometry::Holds(const Geometry* target) const {
    // Walked without recursion: a tree built in code may be deep.
    std::vector<const Geometry*> todo{this};
    std::vector<GeometryPtr> keep;  // children stay alive while walked
    while (!todo.empty()) {
        const Geometry* g = todo.back();
        todo.pop_back();
        if (g == target) return true;
        for (auto& c : g->Children()) {
            todo.push_back(c.get());
            keep.push_back(c);
        }
    }
    return false;
}

bool IsLinearPiece(GeometryKind kind) {
    return kind == GeometryKind::Line || kind == GeometryKind::Arc || kind == GeometryKind::Polyline;
}

bool IsRingKind(GeometryKind kind) {
    return kind == GeometryKind::Polygon || kind == GeometryKind::CompositePolygon;
}

// ---- point kinds ----

std::shared_ptr<PointGeometry> PointGeometry::Create(double x, double y, double z) {
    auto g = std::make_shared<PointGeometry>();
    g->origin_->Assign(x, y, z);
    return g;
}

void PointGeometry::putref_Origin(const std::shared_ptr<pelmora::IPoint>& Origin) {
    if (!Origin) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet, kSource);
    origin_->CopyFrom(*Origin);
}

namespace {
template <class T>
void AddOrigin(rt::DispatchTable<T>& t) {
    AddPointMember(t, "Origin", kOrigin, [](T& g) { return g.Origin(); });
}

const rt::DispatchTable<PointGeometry>& PointGeometryTable() {
    static const auto table = [] {
        auto t = BaseTable<PointGeometry>();
        AddOrigin(t);
        return t;
    }();
    return table;
}

const rt::DispatchTable<DirectedPointGeometry>& DirectedPointGeometryTable() {
    static const auto table = [] {
        auto t = BaseTable<DirectedPointGeometry>();
        AddOrigin(t);
        AddPointMember(t, "Orientation", kOrientation, [](DirectedPointGeometry& g) { return g.Orientation(); });
        return t;
    }();
    return table;
}
}  // namespace
PRODUCT_GEOMETRY_INVOKE(PointGeometry, PointGeometryTable)
PRODUCT_GEOMETRY_INVOKE(DirectedPointGeometry, DirectedPointGeometryTable)

std::shared_ptr<OrientedPointGeometry> OrientedPointGeometry::Create(double x, double y, double z) {
    auto g = std::make_shared<OrientedPointGeometry>();
    g->origin_->Assign(x, y, z);
    return g;
}

std::shared_ptr<TextPointGeometry> TextPointGeometry::Create(double x, double y, double z) {
    auto g = std::make_shared<TextPointGeometry>();
    g->origin_->Assign(x, y, z);
    return g;
}

// ---- rectangle ----

std::shared_ptr<RectangleGeometry> RectangleGeometry::Create(double x, double y, double width, double height,
                                                             double rotation) {
    auto g = std::make_shared<RectangleGeometry>();
    g->origin_->Assign(x, y, 0.0);
    g->width_ = width;
    g->height_ = height;
    g->rotation_ = rotation;
    return g;
}

void RectangleGeometry::putref_Origin(const std::shared_ptr<pelmora::IPoint>& Origin) {
    if (!Origin) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet, kSource);
    origin_->CopyFrom(*Origin);
}

namespace {
const rt::DispatchTable<RectangleGeometry>& RectangleTable() {
    using R = RectangleGeometry;
    static const auto table = [] {
        auto t = BaseTable<R>();
        AddOrigin(t);
        AddDouble(t, "Width", kWidth, [](R& r) { return r.get_Width(); }, [](R& r, double v) { r.put_Width(v); });
        AddDouble(t, "Height", kHeight, [](R& r) { return r.get_Height(); }, [](R& r, double v) { r.put_Height(v); });
        AddDouble(t, "Rotation", kRotation, [](R& r) { return r.get_Rotation(); },
                  [](R& r, double v) { r.put_Rotation(v); });
        return t;
    }();
    return table;
}
}  // namespace
PRODUCT_GEOMETRY_INVOKE(RectangleGeometry, RectangleTable)

// ---- line and arc ----

std::shared_ptr<LineGeometry> LineGeometry::Create(double x1, double y1, double x2, double y2) {
    auto g = std::make_shared<LineGeometry>();
    g->start_->Assign(x1, y1, 0.0);
    g->end_->Assign(x2, y2, 0.0);
    return g;
}

std::shared_ptr<ArcGeometry> ArcGeometry::Create() { return std::make_shared<ArcGeometry>(); }

namespace {
template <class T>
void AddStartEnd(rt::DispatchTable<T>& t) {
    AddPointMember(t, "Start", kStart, [](T& g) { return g.Start(); });
    AddPointMember(t, "End", kEnd, [](T& g) { return g.End(); });
}

const rt::DispatchTable<LineGeometry>& LineTable() {
    static const auto table = [] {
        auto t = BaseTable<LineGeometry>();
        AddStartEnd(t);
        return t;
    }();
    return table;
}

const rt::DispatchTable<ArcGeometry>& ArcTable() {
    static const auto table = [] {
        auto t = BaseTable<ArcGeometry>();
        AddStartEnd(t);
        AddOrigin(t);
        return t;
    }();
    return table;
}
}  // namespace
PRODUCT_GEOMETRY_INVOKE(LineGeometry, LineTable)
PRODUCT_GEOMETRY_INVOKE(ArcGeometry, ArcTable)

// ---- polyline and polygon ----

std::shared_ptr<PolylineGeometry> PolylineGeometry::Create() { return std::make_shared<PolylineGeometry>(); }
std::shared_ptr<PolygonGeometry> PolygonGeometry::Create() { return std::make_shared<PolygonGeometry>(); }

namespace {
const rt::DispatchTable<PointListGeometry>& PointListTable() {
    static const auto table = BaseTable<PointListGeometry>()
        // "g.Points(i)" reaches the item directly, as the default member would.
        .Get("Points", kPoints, 0, 1, [](PointListGeometry& g, rt::Args& a) {
            if (a[0].IsMissing()) return rt::Variant(g.PointList());
            return rt::Variant(g.PointList()->At(rt::CLng(a[0])));
        });
    return table;
}
}  // namespace
PRODUCT_GEOMETRY_INVOKE(PointListGeometry, PointListTable)

// ---- composites and collection ----

void ItemsGeometry::Init(Geometries::Accepts accepts) {
    items_ = std::make_shared<Geometries>(std::weak_ptr<Geometry>(std::static_pointer_cast<Geometry>(shared_from_this())),
                                          std::move(accepts));
}

namespace {
const rt::DispatchTable<ItemsGeometry>& ItemsTable() {
    static const auto table = [] {
        auto t = BaseTable<ItemsGeometry>();
        AddItemMembers(t, [](ItemsGeometry& g) -> Geometries& { return *g.Items(); });
        return t;
    }();
    return table;
}
}  // namespace
PRODUCT_GEOMETRY_INVOKE(ItemsGeometry, ItemsTable)

std::shared_ptr<CompositePolylineGeometry> CompositePolylineGeometry::Create() {
    auto g = std::make_shared<CompositePolylineGeometry>();
    g->Init(IsLinearPiece);
    return g;
}

std::shared_ptr<CompositePolygonGeometry> CompositePolygonGeometry::Create() {
    auto g = std::make_shared<CompositePolygonGeometry>();
    g->Init(IsLinearPiece);
    return g;
}

std::shared_ptr<GeometryCollection> GeometryCollection::Create() {
    auto g = std::make_shared<GeometryCollection>();
    g->Init(nullptr);
    return g;
}

// ---- boundary ----

std::shared_ptr<BoundaryGeometry> BoundaryGeometry::Create() {
    auto g = std::make_shared<BoundaryGeometry>();
    g->holes_ = std::make_shared<Geometries>(std::weak_ptr<Geometry>(g), IsRingKind);
    return g;
}

void BoundaryGeometry::SetExterior(const GeometryPtr& exterior) {
    if (exterior) {
        if (!IsRingKind(exterior->Kind()))
            Raise(rt::vberr::TypeMismatch, "A " + exterior->get_Type() + " cannot be the exterior of a boundary");
        if (exterior->Holds(this)) Raise(rt::vberr::InvalidProcedureCall, "A geometry cannot contain itself");
    }
    exterior_ = exterior;
}

std::vector<GeometryPtr> BoundaryGeometry::Children() const {
    std::vector<GeometryPtr> all;
    if (exterior_) all.push_back(exterior_);
    for (auto& h : holes_->All()) all.push_back(h);
    return all;
}

namespace {
const rt::DispatchTable<BoundaryGeometry>& BoundaryTable() {
    using B = BoundaryGeometry;
    static const auto table = BaseTable<B>()
        .Get("Exterior", kExterior, [](B& b) { return b.Exterior() ? rt::Variant(b.Exterior()) : rt::Variant::Nothing(); })
        .Set("Exterior", kExterior, [](B& b, const rt::Variant& v) {
            b.SetExterior(v.IsNothing() ? GeometryPtr() : GeometryOf(v));
        })
        .Get("Holes", kHoles, 0, 1, [](B& b, rt::Args& a) {
            if (a[0].IsMissing()) return rt::Variant(b.Holes());
            return rt::Variant(b.Holes()->Item(rt::CLng(a[0])));
        });
    return table;
}
}  // namespace
PRODUCT_GEOMETRY_INVOKE(BoundaryGeometry, BoundaryTable)

// ---- creation ----

GeometryPtr CreateGeometry(GeometryKind kind) {
    switch (kind) {
        case GeometryKind::Point: return PointGeometry::Create();
        case GeometryKind::OrientedPoint: return OrientedPointGeometry::Create();
        case GeometryKind::TextPoint: return TextPointGeometry::Create();
        case GeometryKind::Line: return LineGeometry::Create();
        case GeometryKind::Polyline: return PolylineGeometry::Create();
        case GeometryKind::Arc: return ArcGeometry::Create();
        case GeometryKind::Polygon: return PolygonGeometry::Create();
        case GeometryKind::Boundary: return BoundaryGeometry::Create();
        case GeometryKind::CompositePolyline: return CompositePolylineGeometry::Create();
        case GeometryKind::CompositePolygon: return CompositePolygonGeometry::Create();
        case GeometryKind::Collection: return GeometryCollection::Create();
        case GeometryKind::Rectangle: return RectangleGeometry::Create();
    }
    rt::RaiseVbError(rt::vberr::InvalidProcedureCall, kSource);
}

void RegisterGeometryClasses() {
    rt::RegisterClass(pelmora::kPointProgId, pelmora::kPointClsid, [] { return Point::Create(); });
    rt::RegisterClass(pelmora::kPointGeometryProgId, pelmora::kPointGeometryClsid,
                      [] { return PointGeometry::Create(); });
    rt::RegisterClass(pelmora::kPolygonGeometryProgId, pelmora::kPolygonGeometryClsid,
                      [] { return PolygonGeometry::Create(); });
    rt::RegisterClass(pelmora::kRectangleGeometryProgId, pelmora::kRectangleGeometryClsid,
                      [] { return RectangleGeometry::Create(); });
}

}  // namespace product
