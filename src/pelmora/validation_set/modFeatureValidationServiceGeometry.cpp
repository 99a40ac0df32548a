#include "pelmora/validation_set/modFeatureValidationServiceGeometry.h"

#include <cmath>
#include <initializer_list>
#include <optional>
#include <utility>
#include <vector>

#include "interfaces/Framework.h"
#include "interfaces/Geometry.h"
#include "interfaces/KeyObject.h"
#include "pelmora/metadata/MetadataUtils.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "pelmora/validation_set/modFeatureValidationServiceSet.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr const char* kGeometryField = "QTX_GEOMETRY";
// A geometry that holds itself would walk for ever; no real one nests this deep.
constexpr int kMaxEndPointDepth = 64;

rt::Variant Get(const rt::ObjectPtr& obj, const char* member, rt::Args args = {}) {
    return rt::CallByName(obj, member, rt::InvokeKind::PropertyGet, args);
}

rt::ObjectPtr GetObject(const rt::ObjectPtr& obj, const char* member, rt::Args args = {}) {
    rt::Variant v = Get(obj, member, std::move(args));
    if (!v.IsObject()) rt::RaiseVbError(rt::vberr::TypeMismatch);
    return v.Obj();
}

std::string TypeOf(const rt::ObjectPtr& geom) {
    if (auto* typed = dynamic_cast<IGeometry*>(geom.get())) return typed->get_Type();
    return rt::CStr(Get(geom, "Type"));
}

bool IsOneOf(const std::string& text, std::initializer_list<const char*> texts) {
    for (const char* t : texts)
        if (text == t) return true;
    return false;
}

// The library's own points and point geometries answer through their typed
// interfaces (the same values their members give by name); anything else is
// asked by name.
double Coordinate(const rt::ObjectPtr& point, const char* axis) {
    if (auto* typed = dynamic_cast<IPoint*>(point.get())) {
        switch (axis[0]) {
            case 'X': return typed->get_X();
            case 'Y': return typed->get_Y();
            default: return typed->get_Z();
        }
    }
    return rt::CDbl(Get(point, axis));
}

// The Origin of a point geometry.
rt::ObjectPtr OriginOf(const rt::ObjectPtr& pt) {
    if (auto* typed = dynamic_cast<IPointGeometry*>(pt.get()))
        if (auto origin = std::dynamic_pointer_cast<rt::Object>(typed->get_Origin())) return origin;
    return GetObject(pt, "Origin");
}

rt::ObjectPtr NewPoint() { return rt::CreateObject(kPointGeometryProgId); }

// The end of the library's own point kinds and point lists, read through their
// typed interfaces: the same coordinates the members give by name, without a
// call by name per member. Unknown for every other object, which is then
// walked by name; No for a point list without points.
enum class TypedAnswer { Yes, No, Unknown };

TypedAnswer TypedEnd(const rt::ObjectPtr& geom, bool end, std::shared_ptr<IPoint>& source) try {
    auto* typed = dynamic_cast<IGeometry*>(geom.get());
    if (!typed) return TypedAnswer::Unknown;
    switch (typed->Kind()) {
        case GeometryKind::Point:
        case GeometryKind::OrientedPoint:
        case GeometryKind::TextPoint:
            if (auto* point = dynamic_cast<IPointGeometry*>(geom.get())) source = point->get_Origin();
            break;
        case GeometryKind::Rectangle:
            if (auto* rectangle = dynamic_cast<IRectangleGeometry*>(geom.get())) source = rectangle->get_Origin();
            break;
        case GeometryKind::Polyline:
        case GeometryKind::Polygon:
            if (auto* list = dynamic_cast<IPointListGeometry*>(geom.get())) {
                auto points = list->get_Points();
                if (!points) return TypedAnswer::Unknown;
                const int32_t count = points->get_Count();
                if (count <= 0) return TypedAnswer::No;
                source = points->Item(end ? count : 1);
            }
            break;
        default:
            break;
    }
    return source ? TypedAnswer::Yes : TypedAnswer::Unknown;
} catch (const rt::ComError&) {
    source.reset();
    return TypedAnswer::Unknown;  // the walk by name meets the same failure and answers for it
}

bool EndPoint(const rt::ObjectPtr& geom, const rt::ObjectPtr& pt, bool end, int depth) {
    if (!geom || depth > kMaxEndPointDepth) return false;
    try {
        std::shared_ptr<IPoint> typedSource;
        switch (TypedEnd(geom, end, typedSource)) {
            case TypedAnswer::No:
                return false;
            case TypedAnswer::Yes:
                if (auto* target = dynamic_cast<IPointGeometry*>(pt.get())) {
                    if (auto origin = target->get_Origin()) {
                        origin->put_X(typedSource->get_X());
                        origin->put_Y(typedSource->get_Y());
                        origin->put_Z(typedSource->get_Z());
                        return true;
                    }
                }
                break;
            case TypedAnswer::Unknown:
                break;
        }
        const std::string type = TypeOf(geom);
        rt::ObjectPtr source;
        if (IsOneOf(type, {kPointGeometryType, kOrientedPointGeometryType, kRectangleGeometryType,
                           kTextPointGeometryType})) {
            source = GetObject(geom, "Origin");
        } else if (IsOneOf(type, {kLineGeometryType, kArcGeometryType})) {
            source = GetObject(geom, end ? "End" : "Start");
        } else if (IsOneOf(type, {kPolylineGeometryType, kPolygonGeometryType})) {
            rt::ObjectPtr points = GetObject(geom, "Points");
            int32_t count = rt::CLng(Get(points, "Count"));
            if (count <= 0) return false;
            source = GetObject(points, "Item", {rt::Variant(end ? count : int32_t{1})});
        } else if (type == kBoundaryGeometryType) {
            return EndPoint(GetObject(geom, "Exterior"), pt, end, depth + 1);
        } else if (IsOneOf(type, {kGeometryCollectionType, kCompositePolylineGeometryType,
                                  kCompositePolygonGeometryType})) {
            int32_t count = rt::CLng(Get(geom, "Count"));
            if (count <= 0) return false;
            return EndPoint(GetObject(geom, "Item", {rt::Variant(end ? count : int32_t{1})}), pt, end, depth + 1);
        } else {
            return false;
        }
        rt::ObjectPtr origin = OriginOf(pt);
        for (const char* axis : {"X", "Y", "Z"})
            rt::CallByName(origin, axis, rt::InvokeKind::PropertyLet, {Get(source, axis)});
        return true;
    } catch (const rt::ComError&) {
        return false;
    }
}

double PlaneDistance(const rt::ObjectPtr& a, const rt::ObjectPtr& b) {
    return std::hypot(Coordinate(a, "X") - Coordinate(b, "X"), Coordinate(a, "Y") - Coordinate(b, "Y"));
}

// The elements of a collection that are objects; Nothing (a row without
// geometry) is passed over.
std::vector<rt::ObjectPtr> GeometriesOf(const std::shared_ptr<rt::Collection>& geometries) {
    std::vector<rt::ObjectPtr> out;
    if (!geometries) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    for (const rt::Variant& item : geometries->Enumerate())
        if (item.IsObject() && item.Obj()) out.push_back(item.Obj());
    return out;
}

enum class TouchClass { Areal, Point, Linear, None };

TouchClass ClassOf(const std::string& typeText) {
    if (IsOneOf(typeText, {kRectangleGeometryType, kPolygonGeometryType, kCompositePolygonGeometryType,
                           kBoundaryGeometryType, kGeometryCollectionType}))
        return TouchClass::Areal;
    if (IsOneOf(typeText, {kPointGeometryType, kOrientedPointGeometryType, kTextPointGeometryType}))
        return TouchClass::Point;
    if (IsOneOf(typeText, {kLineGeometryType, kArcGeometryType, kPolylineGeometryType, kCompositePolylineGeometryType}))
        return TouchClass::Linear;
    return TouchClass::None;
}

}  // namespace

// ---- the check ----

namespace {

constexpr int16_t kNotConnectedMessage = 24606;

using Facts = ComponentGeometryMemo::GeometryFacts;
using SearchTools = ComponentGeometryMemo::SearchTools;

struct XY {
    double x = 0.0;
    double y = 0.0;
};
struct Ends {
    XY start, end;
};

XY XYOf(const rt::ObjectPtr& pointGeometry) {
    rt::ObjectPtr origin = OriginOf(pointGeometry);
    return {Coordinate(origin, "X"), Coordinate(origin, "Y")};
}

// The end GetStartPoint (GetEndPoint) would copy into a new point: read
// through the typed interfaces of the library's own kinds, without the point.
std::optional<std::pair<double, double>> EndXY(const rt::ObjectPtr& geom, bool end) {
    if (!geom) return std::nullopt;
    try {
        std::shared_ptr<IPoint> source;
        switch (TypedEnd(geom, end, source)) {
            case TypedAnswer::No:
                return std::nullopt;
            case TypedAnswer::Yes:
                return std::make_pair(source->get_X(), source->get_Y());
            case TypedAnswer::Unknown:
                break;
        }
    } catch (const rt::ComError&) {
        // The walk by name below meets the same failure and answers for it.
    }
    rt::ObjectPtr pt = NewPoint();
    if (!EndPoint(geom, pt, end, 0)) return std::nullopt;
    const XY xy = XYOf(pt);
    return std::make_pair(xy.x, xy.y);
}

bool IsPolygonNamed(const rt::ObjectPtr& geom) {
    const std::string name = geom->TypeName();
    return name == "DYvPolygonGeometry" || name == "DYvCompositePolygonGeometry";
}

Facts ReadFacts(const rt::ObjectPtr& geom) {
    Facts facts;
    facts.polygon = IsPolygonNamed(geom);
    return facts;
}

void ReadEnds(const rt::ObjectPtr& geom, Facts& facts) {
    facts.start = EndXY(geom, false);
    facts.end = EndXY(geom, true);
    facts.endsRead = true;
}

// The ends of geom: the memo's, read once for the call, or read into `local`.
const Facts& EndsOfOne(const rt::ObjectPtr& geom, ComponentGeometryMemo* memo, Facts& local) {
    if (memo) return memo->Ends(geom, ReadFacts, ReadEnds);
    ReadEnds(geom, local);
    return local;
}

bool AnyPolygon(const std::shared_ptr<rt::Collection>& geometries, ComponentGeometryMemo* memo) {
    for (const rt::ObjectPtr& g : GeometriesOf(geometries))
        if (memo ? memo->Facts(g, ReadFacts).polygon : IsPolygonNamed(g)) return true;
    return false;
}

bool Touches(const rt::ObjectPtr& Geom, const std::string& TypeText, const std::shared_ptr<rt::Collection>& Geometries,
             double Tolerance, ComponentGeometryMemo* memo, const std::vector<rt::ObjectPtr>* geometryObjects = nullptr);

// Some geometry of `from` touches `to`, taken as the kind typeText names.
bool AnyTouches(const std::shared_ptr<rt::Collection>& from, const std::string& typeText,
                const std::shared_ptr<rt::Collection>& to, double tolerance, ComponentGeometryMemo* memo) {
    const std::vector<rt::ObjectPtr> fromObjects = GeometriesOf(from);
    if (fromObjects.empty()) return false;
    std::optional<std::vector<rt::ObjectPtr>> toObjects;
    if (memo && to) toObjects = GeometriesOf(to);
    for (const rt::ObjectPtr& g : fromObjects)
        if (Touches(g, typeText, to, tolerance, memo, toObjects ? &*toObjects : nullptr)) return true;
    return false;
}

bool Coincide(const XY& a, const XY& b, double tolerance) {
    return std::abs(b.x - a.x) <= tolerance && std::abs(b.y - a.y) <= tolerance;
}

// EndpointsCoincide on coordinates already read.
bool EndsCoincide(const Ends& one, const Ends& other, double tolerance) {
    return Coincide(one.start, other.start, tolerance) || Coincide(one.start, other.end, tolerance) ||
           Coincide(one.end, other.start, tolerance) || Coincide(one.end, other.end, tolerance);
}

// The start and end of every geometry that has both, as GetStartPoint and
// GetEndPoint find them. A geometry without ends is passed over: comparing
// the coordinates a point happened to hold could report a connection that is
// not there.
std::vector<Ends> EndsOf(const std::shared_ptr<rt::Collection>& geometries, ComponentGeometryMemo* memo) {
    std::vector<Ends> ends;
    for (const rt::ObjectPtr& g : GeometriesOf(geometries)) {
        Facts local;
        const Facts& facts = EndsOfOne(g, memo, local);
        if (facts.start && facts.end)
            ends.push_back({{facts.start->first, facts.start->second}, {facts.end->first, facts.end->second}});
    }
    return ends;
}

std::string FeatureLabel(const std::shared_ptr<IMetadataService>& metadata, const std::shared_ptr<IKeyObject>& f) {
    return GetFeatureUserName(metadata, f->get_FNO()) + " " + std::to_string(f->get_FID());
}

}  // namespace

void ValidateEndpointConnectivity(const std::shared_ptr<IKeyObject>& Feature1,
                                  const std::shared_ptr<rt::Collection>& Geometries1, int16_t CNO1,
                                  const std::shared_ptr<IKeyObject>& Feature2,
                                  const std::shared_ptr<rt::Collection>& Geometries2, int16_t CNO2, double Tolerance,
                                  const std::string& Location, const std::string& Connection,
                                  const std::string& Priority, const rt::Variant& CheckTouch,
                                  const std::shared_ptr<IMetadataService>& MetadataService,
                                  const std::shared_ptr<ado::Recordset>& rs, ComponentGeometryMemo* Memo) {
    bool connected = false;
    if (AnyPolygon(Geometries1, Memo) || AnyPolygon(Geometries2, Memo)) {
        for (const rt::ObjectPtr& g : GeometriesOf(Geometries1)) {
            if (Touches(g, GetGeometryTypeSuffix(g), Geometries2, Tolerance, Memo)) {
                connected = true;
                break;
            }
        }
    } else {
        const std::vector<Ends> ends2 = EndsOf(Geometries2, Memo);
        for (const Ends& ends1 : EndsOf(Geometries1, Memo)) {
            for (const Ends& other : ends2)
                if ((connected = EndsCoincide(ends1, other, Tolerance))) break;
            if (connected) break;
        }
        // True is -1; a 1 does not switch the touch test on.
        bool touch = CheckTouch.IsNumericType() && rt::CDbl(CheckTouch) == -1.0;
        auto typeText = [&](int16_t cno) {
            return Memo ? Memo->GeometryTypeText(MetadataService, cno) : GetCompGeomType(MetadataService, cno);
        };
        if (!connected && touch) {
            connected = AnyTouches(Geometries1, typeText(CNO1), Geometries2, Tolerance, Memo) ||
                        AnyTouches(Geometries2, typeText(CNO2), Geometries1, Tolerance, Memo);
        }
    }
    if (connected) return;
    AddRelationshipValidationError(kNotConnectedMessage, kNotConnectedMessage, 0, Location, Connection,
                                   std::to_string(Feature1->get_FNO()), std::to_string(Feature1->get_FID()), "", "",
                                   rs, rt::Variant(Priority), FeatureLabel(MetadataService, Feature1),
                                   FeatureLabel(MetadataService, Feature2), rt::CStr(rt::Variant(Tolerance)), "");
}

// ---- end points ----

bool GetStartPoint(const rt::ObjectPtr& Geom, const rt::ObjectPtr& Pt) { return EndPoint(Geom, Pt, false, 0); }

bool GetEndPoint(const rt::ObjectPtr& Geom, const rt::ObjectPtr& Pt) { return EndPoint(Geom, Pt, true, 0); }

bool PointsCoincide(const rt::ObjectPtr& P1, const rt::ObjectPtr& P2, double Tolerance) {
    rt::ObjectPtr a = OriginOf(P1), b = OriginOf(P2);
    return std::abs(Coordinate(b, "X") - Coordinate(a, "X")) <= Tolerance &&
           std::abs(Coordinate(b, "Y") - Coordinate(a, "Y")) <= Tolerance;
}

bool EndpointsCoincide(const rt::ObjectPtr& Start1, const rt::ObjectPtr& End1, const rt::ObjectPtr& Start2,
                       const rt::ObjectPtr& End2, double Tolerance) {
    return PointsCoincide(Start1, Start2, Tolerance) || PointsCoincide(Start1, End2, Tolerance) ||
           PointsCoincide(End1, Start2, Tolerance) || PointsCoincide(End1, End2, Tolerance);
}

int16_t GetPointDistance(const rt::ObjectPtr& Geom, const rt::ObjectPtr& PtA, const rt::ObjectPtr& PtB, double& DistA,
                         double& DistB) {
    try {
        rt::ObjectPtr reference = Geom;
        if (TypeOf(Geom) == kBoundaryGeometryType) {
            reference = NewPoint();
            // Without a start there is nothing to measure from (not the origin).
            if (!GetStartPoint(Geom, reference)) return 0;
        }
        rt::ObjectPtr r = OriginOf(reference);
        double a = PlaneDistance(OriginOf(PtA), r);
        double b = PlaneDistance(OriginOf(PtB), r);
        DistA = a;
        DistB = b;
        return b <= a ? 2 : 1;
    } catch (const rt::ComError&) {
        return 0;
    }
}

int16_t GetNearestEnd(const rt::ObjectPtr& Geom, const rt::ObjectPtr& Other, double& Distance) {
    if (!Geom || !Other) return 0;
    try {
        rt::ObjectPtr gs = NewPoint(), ge = NewPoint(), os = NewPoint(), oe = NewPoint();
        // An end that cannot be found would be measured at the origin and
        // could name the wrong end: that is a failure.
        if (!GetStartPoint(Geom, gs) || !GetEndPoint(Geom, ge)) return 0;
        if (IsOneOf(TypeOf(Other), {kPointGeometryType, kOrientedPointGeometryType})) {
            if (!GetStartPoint(Other, os)) return 0;
            double dS = 0.0, dE = 0.0;
            int16_t r = GetPointDistance(os, gs, ge, dS, dE);
            Distance = r == 1 ? dS : dE;
            return r;
        }
        if (!GetStartPoint(Other, os) || !GetEndPoint(Other, oe)) return 0;
        double a = 0.0, b = 0.0, c = 0.0, d = 0.0;
        GetPointDistance(gs, os, oe, a, b);
        GetPointDistance(ge, os, oe, c, d);
        double best = a;
        int16_t result = 1;
        if (b < best) best = b;
        if (c < best) best = c, result = 2;
        if (d < best) best = d, result = 2;
        Distance = best;
        return result;
    } catch (const rt::ComError&) {
        return 0;
    }
}

bool IsConnectedAtEndpoint(const rt::ObjectPtr& GeomA, int16_t EndA, const rt::ObjectPtr& GeomB, int16_t EndB) {
    bool pointA = IsPointGeometry(GeomA), pointB = IsPointGeometry(GeomB);
    double distance = 0.0;
    if (pointA && pointB) return true;
    if (!pointA && pointB) return GetNearestEnd(GeomA, GeomB, distance) == EndA;
    if (pointA) return GetNearestEnd(GeomB, GeomA, distance) == EndB;
    return GetNearestEnd(GeomA, GeomB, distance) == EndA && GetNearestEnd(GeomB, GeomA, distance) == EndB;
}

// ---- kinds ----

bool IsPointGeometry(const rt::ObjectPtr& Geom) {
    return IsOneOf(TypeOf(Geom),
                   {kPointGeometryType, kOrientedPointGeometryType, kRectangleGeometryType, kTextPointGeometryType});
}

bool ContainsPolygon(const std::shared_ptr<rt::Collection>& Geometries) { return AnyPolygon(Geometries, nullptr); }

std::string GetGeometryTypeSuffix(const rt::ObjectPtr& Geom) {
    if (!Geom) return "";
    std::string name = Geom->TypeName();
    if (name.size() < 3) rt::RaiseVbError(rt::vberr::InvalidProcedureCall);
    return name.substr(3);
}

// ---- the touch test ----

namespace {

std::shared_ptr<ISpatialFilter> NewSpatialFilter() {
    auto filter = rt::QueryInterface<ISpatialFilter>(rt::CreateObject(kSpatialFilterClsid));
    filter->put_Operator(spatial_operator::Intersects);
    filter->put_GeometryFieldName(kGeometryField);
    return filter;
}

// BufferZoneLocate's square of half-side Distance around (x, y).
rt::Variant SquareAround(double x, double y, double Distance, IRectangleGeometry& Rect, const rt::ObjectPtr& RectObject,
                         IGeometryStorageService& Storage) {
    Rect.get_Origin()->put_X(x - Distance);
    Rect.get_Origin()->put_Y(y + Distance);
    Rect.put_Width(2.0 * Distance);
    Rect.put_Height(2.0 * Distance);
    Rect.put_Rotation(0.0);
    return Storage.GetStorageForm(RectObject);
}

void MakeTools(SearchTools& tools) {
    if (tools.square) return;
    auto square = rt::QueryInterface<IRectangleGeometry>(rt::CreateObject(kRectangleGeometryClsid));
    auto storage = rt::QueryInterface<IGeometryStorageService>(rt::CreateObject(kGeometryStorageServiceClsid));
    tools.squareObject = rt::ObjectPtrOf(square);
    tools.storage = std::move(storage);
    tools.filter = NewSpatialFilter();
    tools.square = std::move(square);
}

// GeometriesTouch. A search sets every member of the square it reads, so one
// square and one filter serve all the searches of a call; with a memo, for
// the whole validation call, with the geometry recordset of a collection and
// the ends of each geometry read once (an owner's for each of its owned
// features).
bool Touches(const rt::ObjectPtr& Geom, const std::string& TypeText, const std::shared_ptr<rt::Collection>& Geometries,
             double Tolerance, ComponentGeometryMemo* memo, const std::vector<rt::ObjectPtr>* geometryObjects) {
    if (!Geometries) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    if (Geometries->Count() < 1) return false;
    const TouchClass kind = ClassOf(TypeText);
    if (kind == TouchClass::None) return false;
    auto make = [&] { return CreateGeometryRecordset(Geometries); };
    std::shared_ptr<IFrameworkRecordset> rsGeom;
    if (!memo) rsGeom = make();
    else if (geometryObjects) rsGeom = memo->GeometryRecordset(*geometryObjects, make);
    else rsGeom = memo->GeometryRecordset(GeometriesOf(Geometries), make);
    SearchTools fresh;
    SearchTools& tools = memo ? memo->Tools() : fresh;
    MakeTools(tools);
    if (kind == TouchClass::Areal)
        return GetStoredGeometry(rsGeom,
                                 BufferZoneLocate(nullptr, Tolerance, tools.square, tools.storage, rt::Variant(Geom)),
                                 tools.filter.get());
    // Without the end itself there is nothing to search around: a square at
    // the coordinates the point happened to hold could only touch by chance.
    Facts local;
    const Facts& ends = EndsOfOne(Geom, memo, local);
    auto near = [&](const std::pair<double, double>& end) {
        return GetStoredGeometry(rsGeom,
                                 SquareAround(end.first, end.second, Tolerance, *tools.square, tools.squareObject,
                                              *tools.storage),
                                 tools.filter.get());
    };
    if (ends.start && near(*ends.start)) return true;
    if (kind == TouchClass::Point) return false;
    return ends.end && near(*ends.end);
}

}  // namespace

bool GeometriesTouch(const rt::ObjectPtr& Geom, const std::string& TypeText,
                     const std::shared_ptr<rt::Collection>& Geometries, double Tolerance) {
    return Touches(Geom, TypeText, Geometries, Tolerance, nullptr);
}

std::shared_ptr<IFrameworkRecordset> CreateGeometryRecordset(const std::shared_ptr<rt::Collection>& Geometries) {
    auto memory = rt::QueryInterface<IInMemoryRecordset>(rt::CreateObject(kInMemoryRecordsetProgId));
    memory->put_DefinitionMode(true);
    auto definition = memory->get_Definition();
    definition->AddField(kGeometryField);
    definition->put_FieldType(framework_field::GeometryType);
    definition->put_FieldSubType(framework_field::AnyGeometrySubType);
    memory->put_DefinitionMode(false);
    auto rs = memory->get_Recordset();
    auto storage = rt::QueryInterface<IGeometryStorageService>(rt::CreateObject(kGeometryStorageServiceProgId));
    for (const rt::ObjectPtr& g : GeometriesOf(Geometries)) {
        rs->AddNew();
        storage->StoreGeometry(rs->get_Fields()->get_Item(kGeometryField), g);
        rs->Update();
    }
    return rs;
}

bool GetStoredGeometry(const std::shared_ptr<IFrameworkRecordset>& rsGeom, const rt::Variant& SearchGeometry,
                       ISpatialFilter* Filter) {
    std::shared_ptr<ISpatialFilter> fresh;
    if (!Filter) {
        fresh = NewSpatialFilter();
        Filter = fresh.get();
    }
    Filter->put_FilterGeometry(SearchGeometry);
    if (!rsGeom) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    if (rsGeom->get_BOF() && rsGeom->get_EOF()) return false;
    rsGeom->MoveFirst();
    Filter->putref_InputRecordset(rsGeom);
    auto output = Filter->get_OutputRecordset();
    return !(output->get_BOF() && output->get_EOF());
}

rt::Variant BufferZoneLocate(const rt::ObjectPtr& Point, double Distance, const std::shared_ptr<IRectangleGeometry>& Rect,
                             const std::shared_ptr<IGeometryStorageService>& Storage, const rt::Variant& Area) {
    if (!Rect || !Storage) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    if (Area.IsMissing()) {
        rt::ObjectPtr origin = OriginOf(Point);
        const double x = Coordinate(origin, "X");
        const double y = Coordinate(origin, "Y");
        return SquareAround(x, y, Distance, *Rect, rt::ObjectPtrOf(Rect), *Storage);
    }
    if (Distance == 0.0) Distance = 0.01;
    auto areaRows = CreateGeometryRecordset([&] {
        auto one = rt::Collection::New();
        one->Add(Area);
        return one;
    }());
    auto local = rt::QueryInterface<IGeometryStorageService>(rt::CreateObject(kGeometryStorageServiceProgId));
    auto pipe = rt::QueryInterface<IBufferZonePipe>(rt::CreateObject(kBufferZonePipeProgId));
    pipe->put_ZoneKind(1);
    pipe->put_JoinKind(1);
    pipe->put_GeometryFieldName(kGeometryField);
    pipe->put_DistanceSource("DISTANCE");
    pipe->put_Distance(rt::CStr(rt::Variant(Distance)));
    pipe->put_OutputFieldName(kGeometryField);
    pipe->put_Tolerance(0.02);
    pipe->putref_InputRecordset(areaRows);
    auto output = pipe->get_OutputRecordset();
    if (output->get_BOF() && output->get_EOF()) return rt::Variant();
    output->MoveFirst();
    return Storage->GetStorageForm(local->RetrieveGeometry(output->get_Fields()->get_Item(kGeometryField)));
}

}  // namespace pelmora
