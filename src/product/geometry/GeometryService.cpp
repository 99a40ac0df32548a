#include "product/geometry/GeometryService.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <exception>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ado/Enums.h"
#include "ado/Recordset.h"
#include "interfaces/DataContext.h"
#include "runtime/Dispatch.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace product {

using pelmora::GeometryKind;
namespace et = pelmora::sdo_etype;

namespace {

constexpr const char* kSource = "GeometryService";

[[noreturn]] void Fail(const std::string& description) {
    throw rt::ComError(rt::vberr::InvalidProcedureCall, kSource, description);
}

std::string ElementLabel(const std::string& label, size_t eseq) {
    return label + ", element " + std::to_string(eseq);
}

// ---- geometry to elements ----

OrdinatePair Vertex(const Point& p) {
    for (double v : {p.X(), p.Y(), p.Z()})
        if (!std::isfinite(v)) Fail("A coordinate of the geometry is not a finite number");
    return {p.X(), p.Y(), p.Z()};
}

OrdinatePair Values(double x, std::optional<double> y) {
    if (!std::isfinite(x) || (y && !std::isfinite(*y))) Fail("A value of the geometry is not a finite number");
    return {x, y, std::nullopt};
}

void Encode(const Geometry& g, int depth, std::vector<GeometryElement>& out) {
    if (depth > kMaxGeometryDepth)
        Fail("The geometry is nested deeper than " + std::to_string(kMaxGeometryDepth) + " levels");
    auto header = [&](int32_t etype, const std::vector<GeometryPtr>& parts) {
        out.push_back({etype, {Values(static_cast<double>(parts.size()), std::nullopt)}});
        for (auto& p : parts) Encode(*p, depth + 1, out);
    };
    auto pointList = [&](int32_t etype, const PointListGeometry& pl) {
        const auto& pts = pl.PointList()->All();
        if (pts.empty()) Fail("A " + std::string(pl.Kind() == GeometryKind::Polygon ? "polygon" : "polyline") +
                              " without points cannot be stored");
        GeometryElement e{etype, {}};
        for (auto& p : pts) e.pairs.push_back(Vertex(*p));
        out.push_back(std::move(e));
    };
    switch (g.Kind()) {
        case GeometryKind::Point:
            out.push_back({et::Point, {Vertex(*static_cast<const PointGeometry&>(g).Origin())}});
            return;
        case GeometryKind::OrientedPoint:
        case GeometryKind::TextPoint: {
            auto& p = static_cast<const DirectedPointGeometry&>(g);
            int32_t etype = g.Kind() == GeometryKind::TextPoint ? et::TextPoint : et::Point;
            out.push_back({etype, {Vertex(*p.Origin()), Vertex(*p.Orientation())}});
            return;
        }
        case GeometryKind::Rectangle: {
            auto& r = static_cast<const RectangleGeometry&>(g);
            out.push_back({et::Rectangle,
                           {Vertex(*r.Origin()), Values(r.Width(), r.Height()), Values(r.Rotation(), std::nullopt)}});
            return;
        }
        case GeometryKind::Line: {
            auto& l = static_cast<const LineGeometry&>(g);
            out.push_back({et::Line, {Vertex(*l.Start()), Vertex(*l.End())}});
            return;
        }
        case GeometryKind::Arc: {
            auto& a = static_cast<const ArcGeometry&>(g);
            out.push_back({et::Arc, {Vertex(*a.Start()), Vertex(*a.Origin()), Vertex(*a.End())}});
            return;
        }
        case GeometryKind::Polyline: pointList(et::LineString, static_cast<const PointListGeometry&>(g)); return;
        case GeometryKind::Polygon: pointList(et::Polygon, static_cast<const PointListGeometry&>(g)); return;
        case GeometryKind::CompositePolyline:
            header(et::CompositePolyline, static_cast<const ItemsGeometry&>(g).Items()->All());
            return;
        case GeometryKind::CompositePolygon:
            header(et::CompositePolygon, static_cast<const ItemsGeometry&>(g).Items()->All());
            return;
        case GeometryKind::Collection:
            header(et::Collection, static_cast<const ItemsGeometry&>(g).Items()->All());
            return;
        case GeometryKind::Boundary: {
            auto& b = static_cast<const BoundaryGeometry&>(g);
            if (!b.Exterior()) Fail("A boundary without an exterior cannot be stored");
            header(et::Boundary, b.Children());
            return;
        }
    }
    Fail("Unknown geometry kind");
}

// ---- elements to geometry ----

class Decoder {
public:
    Decoder(const std::vector<GeometryElement>& elements, const std::string& label)
        : elements_(elements), label_(label) {}

    GeometryPtr Root() {
        if (elements_.empty()) return nullptr;
        size_t next = 0;
        auto g = Parse(next, 0);
        if (next != elements_.size())
            Fail(ElementLabel(label_, next) + " is not part of the geometry that ends before it");
        return g;
    }

private:
    [[noreturn]] void Bad(size_t i, const std::string& what) const { Fail(ElementLabel(label_, i) + ": " + what); }

    void Vertex(size_t i, const OrdinatePair& p, Point& into) const {
        if (!p.x || !p.y) Bad(i, "a coordinate pair lacks its " + std::string(p.x ? "Y" : "X") + " ordinate");
        into.Assign(*p.x, *p.y, p.z.value_or(0.0));
    }

    void Count(size_t i, size_t min, size_t max, const char* what) const {
        size_t n = elements_[i].pairs.size();
        if (n < min || n > max) {
            std::string want = min == max       ? std::to_string(min)
                               : max == SIZE_MAX ? "at least " + std::to_string(min)
                                                 : std::to_string(min) + " to " + std::to_string(max);
            Bad(i, std::string(what) + " needs " + want + " coordinate pairs, the rows hold " + std::to_string(n));
        }
    }

    GeometryPtr Parse(size_t& next, int depth) {
        if (next >= elements_.size())
            Fail(ElementLabel(label_, next) + " is missing: a header announces more parts than the rows hold");
        if (depth > kMaxGeometryDepth)
            Bad(next, "nested deeper than " + std::to_string(kMaxGeometryDepth) + " levels");
        size_t i = next++;
        const auto& e = elements_[i];
        const auto& p = e.pairs;
        switch (e.etype) {
            case et::Point:
            case et::TextPoint: {
                Count(i, 1, 2, "a point");
                if (e.etype == et::TextPoint || p.size() == 2) {
                    std::shared_ptr<DirectedPointGeometry> g;
                    if (e.etype == et::TextPoint) g = TextPointGeometry::Create();
                    else g = OrientedPointGeometry::Create();
                    Vertex(i, p[0], *g->Origin());
                    if (p.size() == 2) Vertex(i, p[1], *g->Orientation());
                    return g;
                }
                auto g = PointGeometry::Create();
                Vertex(i, p[0], *g->Origin());
                return g;
            }
            case et::LineString:
            case et::Polygon: {
                std::shared_ptr<PointListGeometry> g;
                if (e.etype == et::Polygon) g = PolygonGeometry::Create();
                else g = PolylineGeometry::Create();
                Count(i, 1, SIZE_MAX, e.etype == et::Polygon ? "a polygon" : "a polyline");
                Point v;
                for (auto& pair : p) {
                    Vertex(i, pair, v);
                    g->PointList()->Add(v.X(), v.Y(), v.Z());
                }
                return g;
            }
            case et::Line: {
                Count(i, 2, 2, "a line");
                auto g = LineGeometry::Create();
                Vertex(i, p[0], *g->Start());
                Vertex(i, p[1], *g->End());
                return g;
            }
            case et::Arc: {
                Count(i, 3, 3, "an arc");
                auto g = ArcGeometry::Create();
                Vertex(i, p[0], *g->Start());
                Vertex(i, p[1], *g->Origin());
                Vertex(i, p[2], *g->End());
                return g;
            }
            case et::Rectangle: {
                Count(i, 3, 3, "a rectangle");
                auto g = RectangleGeometry::Create();
                Vertex(i, p[0], *g->Origin());
                if (!p[1].x || !p[1].y) Bad(i, "a rectangle lacks its width or height");
                if (!p[2].x || p[2].y) Bad(i, "a rectangle holds its rotation alone in the third pair");
                g->put_Width(*p[1].x);
                g->put_Height(*p[1].y);
                g->put_Rotation(*p[2].x);
                return g;
            }
            case et::CompositePolyline:
            case et::CompositePolygon:
            case et::Collection:
            case et::Boundary: return Container(i, next, depth);
            default: Bad(i, "unknown SDO_ETYPE " + std::to_string(e.etype));
        }
    }

    GeometryPtr Container(size_t i, size_t& next, int depth) {
        const auto& e = elements_[i];
        if (e.pairs.size() != 1 || !e.pairs[0].x || e.pairs[0].y)
            Bad(i, "a header holds the number of its parts in SDO_X1 alone");
        double count = *e.pairs[0].x;
        size_t remaining = elements_.size() - next;
        if (count < 0 || count != std::floor(count) || count > static_cast<double>(remaining))
            Bad(i, "a header announces " + rt::CStr(rt::Variant(count)) + " parts, " + std::to_string(remaining) +
                       " elements follow");
        auto n = static_cast<size_t>(count);
        std::vector<GeometryPtr> parts;
        for (size_t k = 0; k < n; ++k) {
            size_t at = next;
            parts.push_back(Parse(next, depth + 1));
            bool fits = e.etype == et::Collection || (e.etype == et::Boundary ? IsRingKind(parts.back()->Kind())
                                                                               : IsLinearPiece(parts.back()->Kind()));
            if (!fits) Bad(at, "a " + parts.back()->get_Type() + " cannot be a part of a " +
                                   pelmora::GeometryTypeText(e.etype == et::Boundary          ? GeometryKind::Boundary
                                                             : e.etype == et::CompositePolygon ? GeometryKind::CompositePolygon
                                                                                                : GeometryKind::CompositePolyline));
        }
        if (e.etype == et::Boundary) {
            if (parts.empty()) Bad(i, "a boundary needs its exterior");
            auto b = BoundaryGeometry::Create();
            b->SetExterior(parts[0]);
            for (size_t k = 1; k < parts.size(); ++k) b->Holes()->Add(parts[k]);
            return b;
        }
        std::shared_ptr<ItemsGeometry> g;
        if (e.etype == et::Collection) g = GeometryCollection::Create();
        else if (e.etype == et::CompositePolygon) g = CompositePolygonGeometry::Create();
        else g = CompositePolylineGeometry::Create();
        for (auto& part : parts) g->Items()->Add(part);
        return g;
    }

    const std::vector<GeometryElement>& elements_;
    const std::string& label_;
};

// ---- the table's columns ----

struct Layout {
    int32_t gid = -1, eseq = -1, etype = -1, seq = -1;
    int pairs = 0;
    std::array<int32_t, 4> x{-1, -1, -1, -1}, y{-1, -1, -1, -1}, z{-1, -1, -1, -1};
    int32_t id = -1;
    std::array<int32_t, 4> keys{-1, -1, -1, -1};  // QTX_FNO, QTX_FID, QTX_CNO, QTX_CID
};

constexpr std::array<const char*, 4> kKeyNames{"QTX_FNO", "QTX_FID", "QTX_CNO", "QTX_CID"};

Layout WorkOutLayout(ado::Recordset& rs) {
    Layout l;
    auto need = [&](const char* name) {
        int32_t i = rs.FieldIndex(name);
        if (i < 0) Fail(std::string("The geometry rows have no field ") + name);
        return i;
    };
    l.gid = need("SDO_GID");
    l.eseq = need("SDO_ESEQ");
    l.etype = need("SDO_ETYPE");
    l.seq = need("SDO_SEQ");
    // Named once: a layout is worked out for every geometry read.
    static const std::string xs[] = {"SDO_X1", "SDO_X2", "SDO_X3", "SDO_X4"};
    static const std::string ys[] = {"SDO_Y1", "SDO_Y2", "SDO_Y3", "SDO_Y4"};
    static const std::string zs[] = {"SDO_Z1", "SDO_Z2", "SDO_Z3", "SDO_Z4"};
    for (int k = 0; k < 4; ++k) {
        int32_t xi = rs.FieldIndex(xs[k]), yi = rs.FieldIndex(ys[k]);
        if (xi < 0 || yi < 0) break;
        l.x[k] = xi;
        l.y[k] = yi;
        l.z[k] = rs.FieldIndex(zs[k]);
        l.pairs = k + 1;
    }
    if (l.pairs == 0) Fail("The geometry rows have no fields SDO_X1 and SDO_Y1");
    l.id = rs.FieldIndex("QTX_ID");
    for (size_t k = 0; k < kKeyNames.size(); ++k) l.keys[k] = rs.FieldIndex(kKeyNames[k]);
    return l;
}

// A set's geometry rows are read one feature at a time through clones that
// all have the same fields: the layout of the last list of field names is
// kept (it follows from the names alone) and used while the names are those.
Layout LayoutOf(ado::Recordset& rs) {
    thread_local std::vector<std::string> names;
    thread_local Layout kept;
    const int32_t count = rs.FieldCount();
    bool same = !names.empty() && names.size() == static_cast<size_t>(count);
    for (int32_t i = 0; same && i < count; ++i) same = rs.DescAt(i).name == names[static_cast<size_t>(i)];
    if (same) return kept;
    Layout l = WorkOutLayout(rs);
    names.clear();
    for (int32_t i = 0; i < count; ++i) names.push_back(rs.DescAt(i).name);
    kept = l;
    return l;
}

rt::Variant ValueAt(ado::Recordset& rs, int32_t index) { return rs.FieldValue(index); }

// The label of a failure is made only when there is one: a geometry read
// walks several rows and columns for each geometry.
template <class Label>
int32_t IntegerOf(ado::Recordset& rs, int32_t index, const Label& label) {
    const rt::Variant& v = rs.FieldValueRef(index);
    if (v.IsNull() || v.IsEmpty()) Fail(label() + ": " + rs.DescAt(index).name + " is Null");
    if (!rt::IsNumeric(v)) Fail(label() + ": " + rs.DescAt(index).name + " is not a number");
    return rt::CLng(v);
}

template <class Label>
std::optional<double> OrdinateOf(ado::Recordset& rs, int32_t index, const Label& label) {
    if (index < 0) return std::nullopt;
    const rt::Variant& v = rs.FieldValueRef(index);
    if (v.IsNull() || v.IsEmpty()) return std::nullopt;
    if (!rt::IsNumeric(v)) Fail(label() + ": " + rs.DescAt(index).name + " is not a number");
    return rt::CDbl(v);
}

bool IsDeleted(ado::Recordset& rs) { return (rs.get_Status() & ado::adRecDeleted) != 0; }

bool HasCurrentRow(const std::shared_ptr<ado::Recordset>& rs) { return rs && !rs->get_BOF() && !rs->get_EOF(); }

// A recordset argument of a late-bound member; what is no recordset raises 13
// from this service.
std::shared_ptr<ado::Recordset> RecordsetOf(const rt::Variant& v) {
    return rt::WithErrorSource([&] { return rt::ObjectArgument<ado::Recordset>(v); },
                               [] { return std::string(kSource); });
}

// The values of the current row, of geometry gid.
GeometryRowValues RowValuesOf(ado::Recordset& rows, const Layout& l, int32_t gid) {
    auto label = [gid] { return "Geometry " + std::to_string(gid); };
    GeometryRowValues r;
    r.eseq = IntegerOf(rows, l.eseq, label);
    r.etype = IntegerOf(rows, l.etype, label);
    r.seq = IntegerOf(rows, l.seq, label);
    auto where = [&] { return label() + ", element " + std::to_string(r.eseq) + ", row " + std::to_string(r.seq); };
    for (int k = 0; k < l.pairs; ++k) {
        auto& p = r.pairs[static_cast<size_t>(k)];
        p.x = OrdinateOf(rows, l.x[static_cast<size_t>(k)], where);
        p.y = OrdinateOf(rows, l.y[static_cast<size_t>(k)], where);
        p.z = OrdinateOf(rows, l.z[static_cast<size_t>(k)], where);
    }
    return r;
}

// A set's rows grouped by SDO_GID in row order, as a filter on one SDO_GID
// shows them; each geometry decoded when first asked for. A row that could
// not be read keeps its error for its geometry alone, as the read of that
// geometry by itself would have stopped there.
class GeometryIndex : public rt::Object, public pelmora::IGeometryIndex {
public:
    explicit GeometryIndex(int pairs) : pairs_(pairs) {}

    void Add(ado::Recordset& rows, const Layout& l, int32_t gid) {
        Entry& e = entries_[gid];
        if (e.failure) return;
        try {
            e.rows.push_back(RowValuesOf(rows, l, gid));
        } catch (const rt::ComError&) {
            e.failure = std::current_exception();
        }
    }

    std::shared_ptr<rt::Object> Find(int32_t GeometryID) override {
        auto found = entries_.find(GeometryID);
        if (found == entries_.end()) return nullptr;
        Entry& e = found->second;
        if (e.failure) std::rethrow_exception(e.failure);
        if (!e.decoded) {
            std::string label = "Geometry " + std::to_string(GeometryID);
            e.geometry = ElementsToGeometry(RowsToElements(e.rows, pairs_, label), label);
            e.decoded = true;
            e.rows = {};
        }
        return e.geometry;
    }

    std::string TypeName() const override { return "GeometryIndex"; }

private:
    struct Entry {
        std::vector<GeometryRowValues> rows;
        std::exception_ptr failure;
        bool decoded = false;
        std::shared_ptr<rt::Object> geometry;
    };
    int pairs_;
    std::unordered_map<int32_t, Entry> entries_;
};

}  // namespace

std::vector<GeometryElement> GeometryToElements(const Geometry& geometry) {
    std::vector<GeometryElement> out;
    Encode(geometry, 0, out);
    return out;
}

GeometryPtr ElementsToGeometry(const std::vector<GeometryElement>& elements, const std::string& label) {
    return Decoder(elements, label).Root();
}

std::vector<GeometryRowValues> ElementsToRows(const std::vector<GeometryElement>& elements, int pairsPerRow) {
    if (pairsPerRow < 1 || pairsPerRow > 4) Fail("A geometry row holds 1 to 4 coordinate pairs");
    std::vector<GeometryRowValues> rows;
    for (size_t e = 0; e < elements.size(); ++e) {
        const auto& el = elements[e];
        size_t n = el.pairs.size();
        for (size_t start = 0, seq = 0; start < n; start += static_cast<size_t>(pairsPerRow), ++seq) {
            GeometryRowValues r;
            r.eseq = static_cast<int32_t>(e);
            r.etype = el.etype;
            r.seq = static_cast<int32_t>(seq);
            for (int k = 0; k < pairsPerRow && start + static_cast<size_t>(k) < n; ++k)
                r.pairs[static_cast<size_t>(k)] = el.pairs[start + static_cast<size_t>(k)];
            rows.push_back(r);
        }
    }
    return rows;
}

std::vector<GeometryElement> RowsToElements(std::vector<GeometryRowValues> rows, int pairsPerRow,
                                            const std::string& label) {
    std::stable_sort(rows.begin(), rows.end(), [](const GeometryRowValues& a, const GeometryRowValues& b) {
        return a.eseq != b.eseq ? a.eseq < b.eseq : a.seq < b.seq;
    });
    std::vector<GeometryElement> elements;
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto& r = rows[i];
        std::string where = ElementLabel(label, static_cast<size_t>(std::max(r.eseq, 0))) + ", row " +
                            std::to_string(r.seq);
        bool first = i == 0 || rows[i - 1].eseq != r.eseq;
        if (first) {
            auto expected = static_cast<int32_t>(elements.size());
            if (r.eseq != expected)
                Fail(label + ": SDO_ESEQ " + std::to_string(r.eseq) + " follows " +
                     (expected == 0 ? std::string("nothing") : std::to_string(expected - 1)) + " (expected " +
                     std::to_string(expected) + ")");
            if (r.seq != 0) Fail(where + ": SDO_SEQ starts at " + std::to_string(r.seq) + " instead of 0");
            elements.push_back({r.etype, {}});
        } else {
            const auto& prev = rows[i - 1];
            if (r.seq == prev.seq) Fail(where + ": SDO_SEQ " + std::to_string(r.seq) + " repeats");
            if (r.seq != prev.seq + 1)
                Fail(where + ": SDO_SEQ " + std::to_string(r.seq) + " follows " + std::to_string(prev.seq));
            if (r.etype != elements.back().etype)
                Fail(where + ": SDO_ETYPE " + std::to_string(r.etype) + " differs from the element's " +
                     std::to_string(elements.back().etype));
            // The row before continued into this one, so it must have been full.
            if (elements.back().pairs.size() % static_cast<size_t>(pairsPerRow) != 0)
                Fail(ElementLabel(label, static_cast<size_t>(r.eseq)) + ", row " + std::to_string(prev.seq) +
                     ": ordinates are missing before the element goes on in the next row");
        }
        size_t used = 0;
        for (int k = 0; k < pairsPerRow; ++k) {
            const auto& p = r.pairs[static_cast<size_t>(k)];
            if (p.Empty()) {
                if (p.z) Fail(where + ": SDO_Z" + std::to_string(k + 1) + " without SDO_X and SDO_Y");
                continue;
            }
            if (used != static_cast<size_t>(k))
                Fail(where + ": SDO_X" + std::to_string(k + 1) + "/SDO_Y" + std::to_string(k + 1) +
                     " follow an empty pair (missing ordinates)");
            elements.back().pairs.push_back(p);
            ++used;
        }
        if (used == 0) Fail(where + ": the row holds no ordinates");
    }
    return elements;
}

// ---- the service ----

std::shared_ptr<rt::Object> GeometryService::Read(const std::shared_ptr<ado::Recordset>& rows,
                                                  std::optional<int32_t> gid) {
    if (!rows) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet, kSource);
    Layout l = LayoutOf(*rows);
    if (rows->get_BOF() && rows->get_EOF()) return nullptr;
    rt::Variant back;
    if (HasCurrentRow(rows) && !IsDeleted(*rows)) back = rows->get_Bookmark();

    std::vector<GeometryRowValues> values;
    std::optional<int32_t> seen = gid;
    rows->MoveFirst();
    for (; !rows->get_EOF(); rows->MoveNext()) {
        if (IsDeleted(*rows)) continue;
        int32_t rowGid = IntegerOf(*rows, l.gid, [] { return std::string("Geometry row"); });
        if (gid && rowGid != *gid) continue;
        if (!seen) seen = rowGid;
        if (rowGid != *seen)
            Fail("The geometry rows hold more than one geometry (SDO_GID " + std::to_string(*seen) + " and " +
                 std::to_string(rowGid) + ")");
        values.push_back(RowValuesOf(*rows, l, rowGid));
    }
    if (!back.IsEmpty()) {
        rt::ResumeNext guard;  // the row may have left the view meanwhile; position is only a courtesy
        guard([&] { rows->put_Bookmark(back); });
    }
    if (values.empty()) return nullptr;
    std::string label = "Geometry " + std::to_string(*seen);
    return ElementsToGeometry(RowsToElements(std::move(values), l.pairs, label), label);
}

std::shared_ptr<rt::Object> GeometryService::ReadGeometry(const std::shared_ptr<ado::Recordset>& GeometryRows,
                                                          const std::shared_ptr<ado::Recordset>& ComponentRows) {
    std::optional<int32_t> gid;
    if (HasCurrentRow(ComponentRows)) {
        int32_t idField = ComponentRows->FieldIndex("QTX_ID");
        if (idField >= 0) {
            rt::Variant id = ValueAt(*ComponentRows, idField);
            if (!id.IsNull() && !id.IsEmpty()) gid = rt::CLng(id);
        }
    }
    return Read(GeometryRows, gid);
}

std::shared_ptr<rt::Object> GeometryService::RowsToGeometry(const std::shared_ptr<ado::Recordset>& GeometryRows) {
    return Read(GeometryRows, std::nullopt);
}

std::shared_ptr<pelmora::IGeometryIndex> GeometryService::IndexGeometries(
    const std::shared_ptr<ado::Recordset>& GeometryRows) {
    if (!GeometryRows) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet, kSource);
    Layout l;
    try {
        l = LayoutOf(*GeometryRows);
    } catch (const rt::ComError&) {
        return nullptr;
    }
    // The reads the index stands for walk the rows, which ends an edit in
    // progress first; the clone would not see that edit, so it is ended here.
    if (HasCurrentRow(GeometryRows)) GeometryRows->Update();
    // A clone walks all rows without moving the caller's or touching its filter.
    auto all = GeometryRows->Clone(ado::adLockUnspecified);
    auto index = std::make_shared<GeometryIndex>(l.pairs);
    if (all->get_BOF() && all->get_EOF()) return index;
    for (all->MoveFirst(); !all->get_EOF(); all->MoveNext()) {
        if (IsDeleted(*all)) continue;
        const rt::Variant& gid = all->FieldValueRef(l.gid);
        // No filter on a whole number shows a row without one.
        if (gid.IsNull() || gid.IsEmpty()) continue;
        switch (gid.Type()) {
            case rt::vbInteger: case rt::vbLong: case rt::vbByte: case rt::vbSingle: case rt::vbDouble:
            case rt::vbCurrency: case rt::vbDecimal:
                break;
            default:
                return nullptr;
        }
        // A filter on a whole number never shows a row of another number.
        const double number = rt::CDbl(gid);
        if (number != std::floor(number) || number < INT32_MIN || number > INT32_MAX) continue;
        index->Add(*all, l, static_cast<int32_t>(number));
    }
    return index;
}

void GeometryService::WriteGeometry(const std::shared_ptr<rt::Object>& Geometry,
                                    const std::shared_ptr<ado::Recordset>& ComponentRows,
                                    const std::shared_ptr<ado::Recordset>& GeometryRows) {
    if (!ComponentRows) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet, kSource);
    if (!HasCurrentRow(ComponentRows)) Fail("The component rows have no current row to write the geometry of");
    int32_t idField = ComponentRows->FieldIndex("QTX_ID");
    if (idField < 0) Fail("The component rows have no field QTX_ID");
    rt::Variant id = ValueAt(*ComponentRows, idField);
    if (id.IsNull() || id.IsEmpty()) Fail("The component row has no QTX_ID to write its geometry under");
    GeometryToRows(Geometry, GeometryRows, rt::CLng(id), ComponentRows);
}

void GeometryService::GeometryToRows(const std::shared_ptr<rt::Object>& Geometry,
                                     const std::shared_ptr<ado::Recordset>& GeometryRows, int32_t GeometryID,
                                     const std::shared_ptr<ado::Recordset>& KeyRow) {
    if (!GeometryRows) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet, kSource);
    // Everything that can be refused is checked before a row changes.
    std::vector<GeometryRowValues> rows;
    Layout l = LayoutOf(*GeometryRows);
    if (Geometry) {
        auto g = std::dynamic_pointer_cast<product::Geometry>(Geometry);
        if (!g) Fail("A " + Geometry->TypeName() + " is no geometry the service can store");
        rows = ElementsToRows(GeometryToElements(*g), l.pairs);
    }
    std::array<rt::Variant, 4> keys;
    bool haveKeyRow = HasCurrentRow(KeyRow);
    for (size_t k = 0; k < kKeyNames.size(); ++k) {
        keys[k] = rt::Variant::Null();
        if (!haveKeyRow || l.keys[k] < 0) continue;
        int32_t at = KeyRow->FieldIndex(kKeyNames[k]);
        if (at >= 0) keys[k] = ValueAt(*KeyRow, at);
    }

    std::vector<rt::Variant> old;
    if (!(GeometryRows->get_BOF() && GeometryRows->get_EOF())) {
        GeometryRows->MoveFirst();
        for (; !GeometryRows->get_EOF(); GeometryRows->MoveNext()) {
            if (IsDeleted(*GeometryRows)) continue;
            rt::Variant gid = ValueAt(*GeometryRows, l.gid);
            if (!gid.IsNull() && !gid.IsEmpty() && rt::IsNumeric(gid) && rt::CLng(gid) == GeometryID)
                old.push_back(GeometryRows->get_Bookmark());
        }
    }
    for (auto& bm : old) {
        GeometryRows->put_Bookmark(bm);
        GeometryRows->Delete();
    }

    auto set = [&](int32_t field, const rt::Variant& v) {
        if (field >= 0) GeometryRows->SetValue(rt::Variant(field), v);
    };
    auto ordinate = [](const std::optional<double>& v) { return v ? rt::Variant(*v) : rt::Variant::Null(); };
    for (const auto& r : rows) {
        GeometryRows->AddNew();
        try {
            set(l.id, rt::Variant(GeometryID));
            for (size_t k = 0; k < keys.size(); ++k) set(l.keys[k], keys[k]);
            set(l.gid, rt::Variant(GeometryID));
            set(l.eseq, rt::Variant(r.eseq));
            set(l.etype, rt::Variant(r.etype));
            set(l.seq, rt::Variant(r.seq));
            for (int k = 0; k < l.pairs; ++k) {
                const auto& p = r.pairs[static_cast<size_t>(k)];
                set(l.x[static_cast<size_t>(k)], ordinate(p.x));
                set(l.y[static_cast<size_t>(k)], ordinate(p.y));
                set(l.z[static_cast<size_t>(k)], ordinate(p.z));
            }
            GeometryRows->Update();
        } catch (...) {
            rt::ResumeNext guard;
            guard([&] { GeometryRows->CancelUpdate(); });
            throw;
        }
    }
    if (!(GeometryRows->get_BOF() && GeometryRows->get_EOF())) GeometryRows->MoveFirst();
}

namespace {
const rt::DispatchTable<GeometryService>& ServiceTable() {
    using S = GeometryService;
    static const auto table = rt::DispatchTable<S>()
        .Get("DataContext", 1, [](S& s) { return rt::Variant(s.get_DataContext()); })
        .Set("DataContext", 1, [](S& s, const rt::Variant& v) {
            std::shared_ptr<pelmora::IDataContext> dc;
            if (!v.IsNothing()) {
                if (!v.IsObject()) rt::RaiseVbError(rt::vberr::TypeMismatch, kSource);
                dc = rt::QueryInterface<pelmora::IDataContext>(v.Obj());
            }
            s.putref_DataContext(dc);
        })
        .Method("ReadGeometry", 2, 1, 2, [](S& s, rt::Args& a) {
            auto g = s.ReadGeometry(RecordsetOf(a[0]), RecordsetOf(a[1]));
            return g ? rt::Variant(g) : rt::Variant::Nothing();
        })
        .Method("WriteGeometry", 3, 3, 3, [](S& s, rt::Args& a) {
            s.WriteGeometry(a[0].IsNothing() ? nullptr : GeometryOf(a[0]), RecordsetOf(a[1]), RecordsetOf(a[2]));
            return rt::Variant();
        })
        .Method("RowsToGeometry", 4, 1, 1, [](S& s, rt::Args& a) {
            auto g = s.RowsToGeometry(RecordsetOf(a[0]));
            return g ? rt::Variant(g) : rt::Variant::Nothing();
        })
        .Method("GeometryToRows", 5, 3, 4, [](S& s, rt::Args& a) {
            s.GeometryToRows(a[0].IsNothing() ? nullptr : GeometryOf(a[0]), RecordsetOf(a[1]), rt::CLng(a[2]),
                             RecordsetOf(a[3]));
            return rt::Variant();
        });
    return table;
}
}  // namespace

rt::Variant GeometryService::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    return ServiceTable().Invoke(*this, name, kind, args);
}

void RegisterGeometryStandIns() {
    rt::RegisterClass(pelmora::kGeometryServiceProgId, pelmora::kGeometryServiceClsid,
                      [] { return GeometryService::Create(); });
    RegisterGeometryClasses();
}

}  // namespace product
