#pragma once
// The storage form of a geometry: an immutable object holding the geometry
// encoded as bytes, carried in a Variant. It is what the geometry fields of
// framework recordsets hold, what the storage service hands out and what the
// spatial filter takes. Encoding copies every coordinate and part, so the
// form stays as it was when made; Read gives a new geometry each time.
//
// Bytes: "PGF" and version 1, then the geometry in pre-order: a kind byte
// (pelmora::GeometryKind), then its doubles (X, Y, Z per point), counts as
// 32-bit numbers (docs/GEOMETRY.md). Nesting deeper than 32 levels is
// refused with 5.
#include <memory>
#include <string>

#include "product/geometry/GeometryObjects.h"
#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace product {

namespace geometry_math {
class Shape;
}

// The box around a stored geometry (around the whole circle of an arc): two
// geometries whose boxes do not meet have no point in common. Empty for a
// geometry without points; a coordinate that is no finite number makes it
// meet every box, so such a geometry is never passed over unseen.
struct Envelope {
    double minX = 0, minY = 0, maxX = 0, maxY = 0;
    bool empty = true, unbounded = false;
    void Cover(double x, double y);
    bool Meets(const Envelope& other) const;
};

class StoredGeometry : public rt::Object {
public:
    static std::shared_ptr<StoredGeometry> Of(const Geometry& geometry);
    // A new geometry equal to the one stored.
    GeometryPtr Read() const;
    const std::string& Bytes() const { return bytes_; }
    const Envelope& Box() const { return box_; }
    std::string TypeName() const override { return "StoredGeometry"; }

    // The stored geometry's shape (geometry_math::Shape::Of of what Read
    // gives), made on first use and kept, as the form never changes. Raises
    // what Read raises, each time.
    const geometry_math::Shape& ShapeOf() const;

    explicit StoredGeometry(std::string bytes, Envelope box = {});
    ~StoredGeometry() override;

private:
    std::string bytes_;
    Envelope box_;
    mutable std::unique_ptr<geometry_math::Shape> shape_;
};

// The storage form a Variant holds: nullptr for Empty, Null and Nothing;
// raises 13 for anything else.
std::shared_ptr<StoredGeometry> StoredGeometryOf(const rt::Variant& value);

// A geometry's storage form: Empty for nullptr.
rt::Variant StorageFormOf(const GeometryPtr& geometry);

}  // namespace product
