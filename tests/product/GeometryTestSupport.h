#pragma once
// Helpers of the geometry tests: late-bound calls, a description of any
// geometry read only through its late-bound members, and fabricated
// "_SDOGEOM" recordsets.
#include <cstdio>
#include <string>
#include <vector>

#include "ado/Persist.h"
#include "ado/Recordset.h"
#include "interfaces/Geometry.h"
#include "product/geometry/GeometryObjects.h"
#include "runtime/Object.h"
#include "runtime/Vb.h"

namespace geomtest {

inline rt::Variant Get(const rt::ObjectPtr& obj, const std::string& name, rt::Args args = {}) {
    return rt::CallByName(obj, name, rt::InvokeKind::PropertyGet, args);
}
inline rt::ObjectPtr GetObj(const rt::ObjectPtr& obj, const std::string& name, rt::Args args = {}) {
    return Get(obj, name, std::move(args)).Obj();
}
inline void Let(const rt::ObjectPtr& obj, const std::string& name, rt::Variant value) {
    rt::CallByName(obj, name, rt::InvokeKind::PropertyLet, rt::Args{std::move(value)});
}
inline rt::Variant Call(const rt::ObjectPtr& obj, const std::string& name, rt::Args args = {}) {
    return rt::CallByName(obj, name, rt::InvokeKind::Method, args);
}

inline std::string Num(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.6g", v);
    return buf;
}

// "(x y z)" of a point object.
inline std::string Pt(const rt::ObjectPtr& p) {
    return "(" + Num(rt::CDbl(Get(p, "X"))) + " " + Num(rt::CDbl(Get(p, "Y"))) + " " + Num(rt::CDbl(Get(p, "Z"))) +
           ")";
}

// Every coordinate and part of a geometry, through late binding only.
inline std::string Describe(const rt::ObjectPtr& g) {
    if (!g) return "Nothing";
    std::string type = rt::CStr(Get(g, "Type"));
    std::string out = type + "[";
    auto pt = [&](const char* member) { out += std::string(member) + Pt(GetObj(g, member)); };
    if (type == pelmora::kPointGeometryType) {
        pt("Origin");
    } else if (type == pelmora::kOrientedPointGeometryType || type == pelmora::kTextPointGeometryType) {
        pt("Origin");
        pt("Orientation");
    } else if (type == pelmora::kRectangleGeometryType) {
        pt("Origin");
        out += " W" + Num(rt::CDbl(Get(g, "Width"))) + " H" + Num(rt::CDbl(Get(g, "Height"))) + " R" +
               Num(rt::CDbl(Get(g, "Rotation")));
    } else if (type == pelmora::kLineGeometryType) {
        pt("Start");
        pt("End");
    } else if (type == pelmora::kArcGeometryType) {
        pt("Start");
        pt("Origin");
        pt("End");
    } else if (type == pelmora::kPolylineGeometryType || type == pelmora::kPolygonGeometryType) {
        auto points = GetObj(g, "Points");
        int32_t n = rt::CLng(Get(points, "Count"));
        for (int32_t i = 1; i <= n; ++i) out += Pt(GetObj(points, "Item", {rt::Variant(i)}));
    } else if (type == pelmora::kBoundaryGeometryType) {
        out += "ext " + Describe(GetObj(g, "Exterior"));
        auto holes = GetObj(g, "Holes");
        int32_t n = rt::CLng(Get(holes, "Count"));
        for (int32_t i = 1; i <= n; ++i) out += " hole " + Describe(GetObj(holes, "Item", {rt::Variant(i)}));
    } else {
        int32_t n = rt::CLng(Get(g, "Count"));
        for (int32_t i = 1; i <= n; ++i) out += " " + Describe(GetObj(g, "Item", {rt::Variant(i)}));
    }
    return out + "]";
}

// A fabricated geometry table: the key columns, SDO_GID/ESEQ/ETYPE/SEQ and
// `pairs` coordinate pairs (with SDO_Zn columns when withZ).
struct GeomRow {
    int32_t gid, eseq, etype, seq;
    std::vector<rt::Variant> ordinates;  // X1, Y1, X2, Y2, ... (missing ones Null)
};

inline ado::RecordsetPtr GeometryTable(const std::vector<GeomRow>& rows, int pairs = 4, bool withZ = false) {
    ado::RecordsetImage image;
    image.source = "TEST_SDOGEOM";
    auto col = [&](const std::string& name, ado::DataTypeEnum type) {
        image.fields.push_back({name, type, type == ado::adDouble ? 8 : 4, 0, 0, ado::adFldIsNullable,
                                "TEST_SDOGEOM", name});
    };
    for (const char* k : {"QTX_ID", "QTX_FNO", "QTX_FID", "QTX_CNO", "QTX_CID", "SDO_GID", "SDO_ESEQ", "SDO_ETYPE",
                          "SDO_SEQ"})
        col(k, ado::adInteger);
    for (int k = 1; k <= pairs; ++k) {
        col("SDO_X" + std::to_string(k), ado::adDouble);
        col("SDO_Y" + std::to_string(k), ado::adDouble);
        if (withZ) col("SDO_Z" + std::to_string(k), ado::adDouble);
    }
    for (const auto& r : rows) {
        for (int32_t v : {r.gid, 101, 1001, 12, 1, r.gid, r.eseq, r.etype, r.seq}) image.values.push_back(rt::Variant(v));
        for (int k = 0; k < pairs; ++k) {
            for (int c = 0; c < (withZ ? 3 : 2); ++c) {
                size_t at = static_cast<size_t>(k * 2 + (c == 2 ? 0 : c));
                bool z = c == 2;
                if (z || at >= r.ordinates.size()) image.values.push_back(rt::Variant::Null());
                else image.values.push_back(r.ordinates[at]);
            }
        }
    }
    return ado::Recordset::FromImage(image, ado::adLockBatchOptimistic, ado::adOpenKeyset);
}

// One component row (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID); id < 0 gives a Null QTX_ID.
inline ado::RecordsetPtr ComponentRow(int32_t id, int32_t fid = 1001, int32_t cid = 1) {
    ado::RecordsetImage image;
    image.source = "TEST_COMPONENT";
    for (const char* k : {"QTX_ID", "QTX_FNO", "QTX_FID", "QTX_CNO", "QTX_CID"})
        image.fields.push_back({k, ado::adInteger, 4, 0, 0, ado::adFldIsNullable, "TEST_COMPONENT", k});
    image.values = {id < 0 ? rt::Variant::Null() : rt::Variant(id), rt::Variant(int32_t{101}), rt::Variant(fid),
                    rt::Variant(int32_t{12}), rt::Variant(cid)};
    return ado::Recordset::FromImage(image, ado::adLockBatchOptimistic, ado::adOpenKeyset);
}

inline rt::Variant D(double v) { return rt::Variant(v); }

// The closed square ring from (x, y) to (x + size, y + size).
inline std::shared_ptr<product::PolygonGeometry> Square(double x, double y, double size) {
    auto g = product::PolygonGeometry::Create();
    for (auto [dx, dy] : {std::pair{0.0, 0.0}, {size, 0.0}, {size, size}, {0.0, size}, {0.0, 0.0}})
        g->PointList()->Add(x + dx, y + dy);
    return g;
}

}  // namespace geomtest
