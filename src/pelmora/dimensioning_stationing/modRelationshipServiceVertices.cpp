#include "pelmora/dimensioning_stationing/modRelationshipServiceVertices.h"

#include <array>
#include <cmath>
#include <string>

#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/dimensioning_stationing/CorvaneCalls.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

enum class Walk { Boundary, Composite, Collection, PointList, Arc, Line, Rectangle, PointKind, None };

Walk KindOf(const rt::ObjectPtr& geom) {
    if (!geom) return Walk::None;
    const std::string name = geom->TypeName();
    if (name == "DYvBoundaryGeometry") return Walk::Boundary;
    if (name == "DYvCompositePolylineGeometry" || name == "DYvCompositePolygonGeometry") return Walk::Composite;
    if (name == "DYvGeometryCollection") return Walk::Collection;
    if (name == "DYvPolygonGeometry" || name == "DYvPolylineGeometry") return Walk::PointList;
    if (name == "DYvArcGeometry") return Walk::Arc;
    if (name == "DYvLineGeometry") return Walk::Line;
    // Both spellings: stored type names may carry the old misspelling.
    if (name == "DYvRectangleGeometry" || name == "DYvRectangleGeoemtry") return Walk::Rectangle;
    if (name == "DYvPointGeometry" || name == "DYvOrientedPointGeometry" || name == "DYvTextPointGeometry")
        return Walk::PointKind;
    return Walk::None;
}

rt::Variant Member(const rt::ObjectPtr& obj, const char* name) {
    return rt::CallByName(obj, name, rt::InvokeKind::PropertyGet);
}

rt::ObjectPtr ObjectMember(const rt::ObjectPtr& obj, const char* name) { return Member(obj, name).Obj(); }

rt::ObjectPtr ItemOf(const rt::ObjectPtr& list, int32_t i) {
    return rt::CallByName(list, "Item", rt::InvokeKind::Method, rt::Args{rt::Variant(i)}).Obj();
}

int32_t CountOf(const rt::ObjectPtr& list) { return rt::CLng(Member(list, "Count")); }

std::shared_ptr<IPoint> PointMember(const rt::ObjectPtr& obj, const char* name) {
    return rt::QueryInterface<IPoint>(ObjectMember(obj, name));
}

// The parts of a nested geometry in vertex-number order: a boundary's
// exterior, then its holes; a composite's or collection's items.
class Parts {
public:
    Parts(const rt::ObjectPtr& geom, Walk kind) : geom_(geom), boundary_(kind == Walk::Boundary) {
        if (boundary_) {
            holes_ = ObjectMember(geom, "Holes");
            count_ = 1 + CountOf(holes_);
        } else {
            count_ = CountOf(geom);
        }
    }
    int32_t Count() const { return count_; }
    // 1-based.
    rt::ObjectPtr At(int32_t i) const {
        if (!boundary_) return ItemOf(geom_, i);
        return i == 1 ? ObjectMember(geom_, "Exterior") : ItemOf(holes_, i - 1);
    }

private:
    rt::ObjectPtr geom_, holes_;
    bool boundary_;
    int32_t count_ = 0;
};

// The kinds' own points of vertex i (1-based), nullptr beyond them.
std::shared_ptr<IPoint> FixedVertex(Walk kind, const rt::ObjectPtr& geom, int32_t i) {
    static constexpr const char* kArc[] = {"Start", "Origin", "End"};
    static constexpr const char* kLine[] = {"Start", "End"};
    if (kind == Walk::Arc && i >= 1 && i <= 3) return PointMember(geom, kArc[i - 1]);
    if (kind == Walk::Line && i >= 1 && i <= 2) return PointMember(geom, kLine[i - 1]);
    if (kind == Walk::PointKind && i == 1) return PointMember(geom, "Origin");
    return nullptr;
}

std::shared_ptr<IPoint> NewPoint(double x, double y, double z) {
    auto p = rt::QueryInterface<IPoint>(rt::CreateObject(kPointClsid));
    p->put_X(x);
    p->put_Y(y);
    p->put_Z(z);
    return p;
}

// Rectangle corners in walking order: origin, along Height, far corner,
// along Width (the product's corner order read the other way round).
std::array<double, 2> WalkCorner(IRectangleGeometry& rect, int32_t corner) {
    const auto c = RectangleCornersOf(rect);
    static constexpr int kFromProduct[] = {0, 0, 3, 2, 1, 0};
    return c[static_cast<size_t>(kFromProduct[corner])];
}

// Runs body; a run-time error is shown and ends the walker.
template <class Body>
void Trapped(Body&& body) {
    rt::ComError error(0, "", "");
    if (!rt::CaptureError(std::forward<Body>(body), error)) ShowMessage(rt::Variant(error.Description()));
}

// Rotation (degrees) from a direction, by the Corvane factor.
double Degrees(double radians) {
    double g = 0.0;
    CheckCorvane(KTA_RadiansToDegrees(g));
    return radians * g;
}

// Moves the rectangle's corner along Height (2) or along Width (4) to (px, py).
void MoveRectangleSide(IRectangleGeometry& rect, int32_t corner, double px, double py) {
    auto origin = rect.get_Origin();
    const double dx = px - origin->get_X(), dy = py - origin->get_Y();
    const double length = std::hypot(dx, dy);
    if (length == 0.0) rt::RaiseVbError(rt::vberr::DivisionByZero);
    if (corner == 2) {
        rect.put_Height(length);
        // Height runs along (sin r, -cos r).
        rect.put_Rotation(Degrees(std::atan2(dx, -dy)));
    } else {
        rect.put_Width(length);
        rect.put_Rotation(Degrees(std::atan2(dy, dx)));
    }
}

bool SetRectangleCorner(const rt::ObjectPtr& geom, int32_t corner, const std::shared_ptr<IPoint>& target) {
    auto rect = rt::QueryInterface<IRectangleGeometry>(geom);
    if (corner < 1 || corner > 5) return false;
    if (!target) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    if (corner == 2 || corner == 4) {
        MoveRectangleSide(*rect, corner, target->get_X(), target->get_Y());
        return true;
    }
    const auto oldHeightCorner = WalkCorner(*rect, 2);
    const auto oldWidthCorner = WalkCorner(*rect, 4);
    if (corner == 3) {
        auto origin = rect->get_Origin();
        auto project = [&](const std::array<double, 2>& side) {
            auto end = NewPoint(side[0], side[1], 0.0);
            double t = 0.0;
            std::shared_ptr<IPoint> foot;
            CheckCorvane(KTAProjectPointToSegment(origin, end, target, true, t, foot));
            return std::array<double, 2>{foot->get_X(), foot->get_Y()};
        };
        const auto heightCorner = project(oldHeightCorner);
        const auto widthCorner = project(oldWidthCorner);
        MoveRectangleSide(*rect, 2, heightCorner[0], heightCorner[1]);
        MoveRectangleSide(*rect, 4, widthCorner[0], widthCorner[1]);
        return true;
    }
    auto origin = rect->get_Origin();
    CopyPoint(target, origin);
    MoveRectangleSide(*rect, 2, oldHeightCorner[0], oldHeightCorner[1]);
    MoveRectangleSide(*rect, 4, oldWidthCorner[0], oldWidthCorner[1]);
    return true;
}

}  // namespace

int32_t GetVertexCount(const rt::ObjectPtr& Geom) {
    int32_t count = 0;
    Trapped([&] {
        switch (KindOf(Geom)) {
            case Walk::Boundary:
            case Walk::Composite:
            case Walk::Collection: {
                const Parts parts(Geom, KindOf(Geom));
                for (int32_t i = 1; i <= parts.Count(); ++i) {
                    count += GetVertexCount(parts.At(i));
                    // A composite's pieces share their joints.
                    if (KindOf(Geom) == Walk::Composite && i > 1) --count;
                }
                break;
            }
            case Walk::PointList: count = CountOf(ObjectMember(Geom, "Points")); break;
            case Walk::Arc: count = 3; break;
            case Walk::Line: count = 2; break;
            case Walk::Rectangle: count = 5; break;
            case Walk::PointKind: count = 1; break;
            case Walk::None: break;
        }
    });
    return count;
}

bool GetVertex(int32_t& Index, const rt::ObjectPtr& Geom, std::shared_ptr<IPoint>& Point) {
    bool found = false;
    const int32_t entry = Index;
    Trapped([&] {
        const Walk kind = KindOf(Geom);
        switch (kind) {
            case Walk::Boundary:
            case Walk::Composite:
            case Walk::Collection: {
                const Parts parts(Geom, kind);
                for (int32_t i = 1; i <= parts.Count(); ++i) {
                    if (GetVertex(Index, parts.At(i), Point)) return void(found = true);
                    // The next piece's first vertex is the joint just passed.
                    if (kind == Walk::Composite && Index > 0) ++Index;
                }
                break;
            }
            case Walk::PointList: {
                auto points = ObjectMember(Geom, "Points");
                if (entry > CountOf(points)) break;
                auto vertex = rt::QueryInterface<IPoint>(ItemOf(points, entry));
                std::shared_ptr<IPoint> copy;
                Point = CopyPoint(vertex, copy);
                found = true;
                break;
            }
            case Walk::Arc:
            case Walk::Line:
            case Walk::PointKind:
                if (auto vertex = FixedVertex(kind, Geom, entry)) {
                    std::shared_ptr<IPoint> copy;
                    Point = CopyPoint(vertex, copy);
                    found = true;
                }
                break;
            case Walk::Rectangle: {
                if (entry < 1 || entry > 5) break;
                auto rect = rt::QueryInterface<IRectangleGeometry>(Geom);
                const auto corner = WalkCorner(*rect, entry);
                // Always a new point: the one handed in may be a geometry's own.
                Point = NewPoint(corner[0], corner[1], rect->get_Origin()->get_Z());
                found = true;
                break;
            }
            case Walk::None: break;
        }
        if (!found) Index = entry - GetVertexCount(Geom);
    });
    // A hit gives the number back as it came; a miss leaves it relative to
    // the next part.
    if (found) Index = entry;
    return found;
}

bool SetVertex(int32_t& Index, const rt::ObjectPtr& Geom, const std::shared_ptr<IPoint>& Point) {
    bool moved = false;
    const int32_t entry = Index;
    Trapped([&] {
        // Moving to nothing would otherwise fail in the copy and still answer True.
        if (!Point) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
        const Walk kind = KindOf(Geom);
        switch (kind) {
            case Walk::Boundary:
            case Walk::Composite:
            case Walk::Collection: {
                const Parts parts(Geom, kind);
                const int32_t n = parts.Count();
                for (int32_t i = 1; i <= n; ++i) {
                    auto part = parts.At(i);
                    if (SetVertex(Index, part, Point)) {
                        moved = true;
                        // A moved joint moves the next piece's first vertex too;
                        // only composites have joints.
                        if (kind != Walk::Composite || i == n || Index != GetVertexCount(part)) return;
                        Index = 1;
                        continue;
                    }
                    if (moved) return;
                    if (kind == Walk::Composite && Index > 0) ++Index;
                }
                break;
            }
            case Walk::PointList: {
                auto points = ObjectMember(Geom, "Points");
                if (entry > CountOf(points)) break;
                auto vertex = rt::QueryInterface<IPoint>(ItemOf(points, entry));
                CopyPoint(Point, vertex);
                moved = true;
                break;
            }
            case Walk::Arc:
            case Walk::Line:
            case Walk::PointKind:
                if (auto vertex = FixedVertex(kind, Geom, entry)) {
                    CopyPoint(Point, vertex);
                    moved = true;
                }
                break;
            case Walk::Rectangle: moved = SetRectangleCorner(Geom, entry, Point); break;
            case Walk::None: break;
        }
        if (!moved) Index = entry - GetVertexCount(Geom);
    });
    if (moved) Index = entry;
    return moved;
}

bool GetOrSetVertex(int16_t Index, const rt::ObjectPtr& Geom, std::shared_ptr<IPoint>& Point, bool bGet) {
    if (Index < 1) return false;
    bool answer = false;
    Trapped([&] {
        int32_t number = Index;
        if (bGet) {
            if (!Point) Point = NewPoint(0.0, 0.0, 0.0);
            answer = GetVertex(number, Geom, Point);
        } else {
            answer = SetVertex(number, Geom, Point);
        }
    });
    return answer;
}

bool FindVertex(const std::shared_ptr<IPoint>& Point, const rt::ObjectPtr& Geom, int32_t& Index) {
    bool found = false;
    Trapped([&] {
        const int32_t entry = Index;
        auto matches = [&](const std::shared_ptr<IPoint>& vertex) {
            bool equal = false;
            CheckCorvane(KTAPointsAreEqual(Point, vertex, equal));
            return equal;
        };
        auto searchPoints = [&](const rt::ObjectPtr& pointList) {
            auto points = ObjectMember(pointList, "Points");
            const int32_t n = CountOf(points);
            for (int32_t i = 1; i <= n; ++i)
                if (matches(rt::QueryInterface<IPoint>(ItemOf(points, i)))) {
                    Index = entry + i;
                    return true;
                }
            return false;
        };
        const Walk kind = KindOf(Geom);
        switch (kind) {
            case Walk::Boundary:
            case Walk::Composite:
            case Walk::Collection: {
                const Parts parts(Geom, kind);
                for (int32_t i = 1; i <= parts.Count(); ++i) {
                    // Only a composite's next piece starts on the last vertex passed.
                    if (kind != Walk::Composite && i > 1) ++Index;
                    if (FindVertex(Point, parts.At(i), Index)) return void(found = true);
                }
                break;
            }
            case Walk::PointList: found = searchPoints(Geom); break;
            case Walk::Arc:
            case Walk::Line:
            case Walk::PointKind:
                for (int32_t i = 1; auto vertex = FixedVertex(kind, Geom, i); ++i)
                    if (matches(vertex)) {
                        Index = entry + i;
                        return void(found = true);
                    }
                break;
            case Walk::Rectangle: {
                auto polygon = RectangleToPolygon(Geom);
                if (polygon) found = searchPoints(polygon);
                break;
            }
            case Walk::None: break;
        }
        if (!found) Index = entry + GetVertexCount(Geom) - 1;
    });
    return found;
}

int32_t GetPointVertexIndex(const rt::ObjectPtr& PointGeom, const rt::ObjectPtr& Geom) {
    if (!PointGeom) return 0;
    int32_t result = 0;
    Trapped([&] {
        const std::string name = PointGeom->TypeName();
        std::shared_ptr<IPoint> point;
        if (name == "DYvPointGeometry" || name == "DYvOrientedPointGeometry")
            point = PointMember(PointGeom, "Origin");
        else if (name == kPointTypeName)
            point = rt::QueryInterface<IPoint>(PointGeom);
        else
            return;
        int32_t index = 0;
        if (FindVertex(point, Geom, index)) result = index;
    });
    return result;
}

std::shared_ptr<IPoint> CopyPoint(const std::shared_ptr<IPoint>& Src, std::shared_ptr<IPoint>& Dst) {
    std::shared_ptr<IPoint> result;
    Trapped([&] {
        if (!Dst) Dst = NewPoint(0.0, 0.0, 0.0);
        if (!Src) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
        Dst->put_X(Src->get_X());
        Dst->put_Y(Src->get_Y());
        Dst->put_Z(Src->get_Z());
        result = Dst;
    });
    return result;
}

rt::ObjectPtr RectangleToPolygon(const rt::ObjectPtr& Rectangle) {
    rt::ObjectPtr result;
    Trapped([&] {
        auto rect = rt::QueryInterface<IRectangleGeometry>(Rectangle);
        auto polygon = rt::CreateObject(kPolygonGeometryClsid);
        auto points = rt::QueryInterface<IPointListGeometry>(polygon)->get_Points();
        auto origin = rect->get_Origin();
        points->Add(origin);
        // One point for the three corners: Add takes their coordinates.
        auto corner = NewPoint(0.0, 0.0, 0.0);
        for (int32_t i = 2; i <= 4; ++i) {
            const auto xy = WalkCorner(*rect, i);
            corner->put_X(xy[0]);
            corner->put_Y(xy[1]);
            points->Add(corner);
        }
        points->Add(origin);
        result = polygon;
    });
    return result;
}

}  // namespace pelmora
