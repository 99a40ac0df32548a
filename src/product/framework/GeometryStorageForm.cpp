#include "product/framework/GeometryStorageForm.h"

#include <cmath>
#include <cstring>

#include "product/geometry/GeometryMath.h"

#include "runtime/Error.h"

namespace product {

using pelmora::GeometryKind;

namespace {

constexpr const char* kSource = "GeometryStorageService";
constexpr char kMagic[4] = {'P', 'G', 'F', 1};
constexpr int kMaxDepth = 32;

[[noreturn]] void Damaged() {
    throw rt::ComError(rt::vberr::InvalidProcedureCall, kSource, "The stored geometry is damaged");
}

class Writer {
public:
    std::string out{kMagic, sizeof kMagic};
    Envelope box;

    void Kind(GeometryKind k) { out.push_back(static_cast<char>(k)); }
    void Count(size_t n) { Raw(static_cast<uint32_t>(n)); }
    void Number(double d) { Raw(d); }
    void Pt(const Point& p) {
        Number(p.X()), Number(p.Y()), Number(p.Z());
        box.Cover(p.X(), p.Y());
    }

    void Write(const Geometry& g, int depth) {
        if (depth > kMaxDepth)
            throw rt::ComError(rt::vberr::InvalidProcedureCall, kSource, "The geometry is nested too deeply to store");
        Kind(g.Kind());
        switch (g.Kind()) {
            case GeometryKind::Point:
                Pt(*static_cast<const PointGeometry&>(g).Origin());
                return;
            case GeometryKind::OrientedPoint:
            case GeometryKind::TextPoint: {
                auto& p = static_cast<const DirectedPointGeometry&>(g);
                Pt(*p.Origin()), Pt(*p.Orientation());
                return;
            }
            case GeometryKind::Rectangle: {
                auto& r = static_cast<const RectangleGeometry&>(g);
                Pt(*r.Origin()), Number(r.Width()), Number(r.Height()), Number(r.Rotation());
                for (auto corner : geometry_math::RectangleCorners({r.Origin()->X(), r.Origin()->Y()}, r.Width(),
                                                                   r.Height(), r.Rotation()))
                    box.Cover(corner.x, corner.y);
                return;
            }
            case GeometryKind::Line:
                Pt(*static_cast<const LineGeometry&>(g).Start()), Pt(*static_cast<const LineGeometry&>(g).End());
                return;
            case GeometryKind::Arc: {
                auto& a = static_cast<const ArcGeometry&>(g);
                Pt(*a.Start()), Pt(*a.Origin()), Pt(*a.End());
                auto xy = [](const PointPtr& p) { return geometry_math::XY{p->X(), p->Y()}; };
                if (auto c = geometry_math::ArcCircle(xy(a.Start()), xy(a.Origin()), xy(a.End()))) {
                    box.Cover(c->center.x - c->radius, c->center.y - c->radius);
                    box.Cover(c->center.x + c->radius, c->center.y + c->radius);
                }
                return;
            }
            case GeometryKind::Polyline:
            case GeometryKind::Polygon: {
                auto& pts = static_cast<const PointListGeometry&>(g).PointList()->All();
                Count(pts.size());
                for (auto& p : pts) Pt(*p);
                return;
            }
            case GeometryKind::Boundary: {
                auto& b = static_cast<const BoundaryGeometry&>(g);
                out.push_back(b.Exterior() ? 1 : 0);
                if (b.Exterior()) Write(*b.Exterior(), depth + 1);
                Count(b.Holes()->All().size());
                for (auto& h : b.Holes()->All()) Write(*h, depth + 1);
                return;
            }
            case GeometryKind::CompositePolyline:
            case GeometryKind::CompositePolygon:
            case GeometryKind::Collection: {
                auto& items = static_cast<const ItemsGeometry&>(g).Items()->All();
                Count(items.size());
                for (auto& item : items) Write(*item, depth + 1);
                return;
            }
        }
    }

private:
    template <class T>
    void Raw(T v) {
        char buf[sizeof(T)];
        std::memcpy(buf, &v, sizeof(T));
        out.append(buf, sizeof(T));
    }
};

class Reader {
public:
    explicit Reader(const std::string& bytes) : p_(bytes.data()), end_(bytes.data() + bytes.size()) {
        if (bytes.size() < sizeof kMagic || std::memcmp(p_, kMagic, sizeof kMagic) != 0) Damaged();
        p_ += sizeof kMagic;
    }

    GeometryPtr Read(int depth) {
        if (depth > kMaxDepth) Damaged();
        auto kind = static_cast<GeometryKind>(Raw<uint8_t>());
        if (kind < GeometryKind::Point || kind > GeometryKind::Rectangle) Damaged();
        GeometryPtr g = CreateGeometry(kind);
        switch (kind) {
            case GeometryKind::Point:
                Pt(*static_cast<PointGeometry&>(*g).Origin());
                break;
            case GeometryKind::OrientedPoint:
            case GeometryKind::TextPoint: {
                auto& p = static_cast<DirectedPointGeometry&>(*g);
                Pt(*p.Origin()), Pt(*p.Orientation());
                break;
            }
            case GeometryKind::Rectangle: {
                auto& r = static_cast<RectangleGeometry&>(*g);
                Pt(*r.Origin());
                r.put_Width(Raw<double>());
                r.put_Height(Raw<double>());
                r.put_Rotation(Raw<double>());
                break;
            }
            case GeometryKind::Line:
                Pt(*static_cast<LineGeometry&>(*g).Start()), Pt(*static_cast<LineGeometry&>(*g).End());
                break;
            case GeometryKind::Arc: {
                auto& a = static_cast<ArcGeometry&>(*g);
                Pt(*a.Start()), Pt(*a.Origin()), Pt(*a.End());
                break;
            }
            case GeometryKind::Polyline:
            case GeometryKind::Polygon: {
                auto& pts = *static_cast<PointListGeometry&>(*g).PointList();
                for (uint32_t n = Count(3 * sizeof(double)); n > 0; --n) {
                    double x = Raw<double>(), y = Raw<double>(), z = Raw<double>();
                    pts.Add(x, y, z);
                }
                break;
            }
            case GeometryKind::Boundary: {
                auto& b = static_cast<BoundaryGeometry&>(*g);
                if (Raw<uint8_t>() != 0) b.SetExterior(Read(depth + 1));
                for (uint32_t n = Count(1); n > 0; --n) b.Holes()->Add(Read(depth + 1));
                break;
            }
            case GeometryKind::CompositePolyline:
            case GeometryKind::CompositePolygon:
            case GeometryKind::Collection: {
                auto& items = *static_cast<ItemsGeometry&>(*g).Items();
                for (uint32_t n = Count(1); n > 0; --n) items.Add(Read(depth + 1));
                break;
            }
        }
        return g;
    }

    bool AtEnd() const { return p_ == end_; }

private:
    template <class T>
    T Raw() {
        if (static_cast<size_t>(end_ - p_) < sizeof(T)) Damaged();
        T v;
        std::memcpy(&v, p_, sizeof(T));
        p_ += sizeof(T);
        return v;
    }
    // A count of items of at least minBytes each that the bytes left can hold.
    uint32_t Count(size_t minBytes) {
        auto n = Raw<uint32_t>();
        if (n > static_cast<size_t>(end_ - p_) / minBytes) Damaged();
        return n;
    }
    void Pt(Point& p) {
        double x = Raw<double>(), y = Raw<double>(), z = Raw<double>();
        p.Assign(x, y, z);
    }

    const char* p_;
    const char* end_;
};

}  // namespace

void Envelope::Cover(double x, double y) {
    if (!std::isfinite(x) || !std::isfinite(y)) {
        unbounded = true;
        return;
    }
    if (empty) {
        minX = maxX = x, minY = maxY = y, empty = false;
        return;
    }
    minX = std::min(minX, x), maxX = std::max(maxX, x);
    minY = std::min(minY, y), maxY = std::max(maxY, y);
}

bool Envelope::Meets(const Envelope& o) const {
    if (unbounded || o.unbounded) return true;
    if (empty || o.empty) return false;
    return minX <= o.maxX && o.minX <= maxX && minY <= o.maxY && o.minY <= maxY;
}

std::shared_ptr<StoredGeometry> StoredGeometry::Of(const Geometry& geometry) {
    Writer w;
    w.Write(geometry, 0);
    return std::make_shared<StoredGeometry>(std::move(w.out), w.box);
}

StoredGeometry::StoredGeometry(std::string bytes, Envelope box) : bytes_(std::move(bytes)), box_(box) {}

StoredGeometry::~StoredGeometry() = default;

const geometry_math::Shape& StoredGeometry::ShapeOf() const {
    if (!shape_) shape_ = std::make_unique<geometry_math::Shape>(geometry_math::Shape::Of(Read()));
    return *shape_;
}

GeometryPtr StoredGeometry::Read() const {
    Reader r(bytes_);
    GeometryPtr g = r.Read(0);
    if (!r.AtEnd()) Damaged();
    return g;
}

std::shared_ptr<StoredGeometry> StoredGeometryOf(const rt::Variant& value) {
    if (value.IsEmpty() || value.IsNull() || value.IsNothing()) return nullptr;
    auto stored = value.IsObject() ? std::dynamic_pointer_cast<StoredGeometry>(value.Obj()) : nullptr;
    if (!stored) throw rt::ComError(rt::vberr::TypeMismatch, kSource, "The value is not a stored geometry");
    return stored;
}

rt::Variant StorageFormOf(const GeometryPtr& geometry) {
    if (!geometry) return rt::Variant();
    return rt::Variant(StoredGeometry::Of(*geometry));
}

}  // namespace product
