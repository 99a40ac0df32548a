// The geometry service on fabricated "_SDOGEOM" rows: every kind written and
// read back, replacement as pending batch rows, and malformed rows refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "product/GeometryTestSupport.h"
#include "product/StandIns.h"
#include "product/geometry/GeometryService.h"
#include "runtime/Error.h"

using namespace product;
using namespace geomtest;

namespace {

rt::Variant N() { return rt::Variant::Null(); }

std::shared_ptr<PolylineGeometry> Polyline(int n, double x0 = 0) {
    auto g = PolylineGeometry::Create();
    for (int i = 0; i < n; ++i) g->PointList()->Add(x0 + i, i * 0.5, 0);
    return g;
}

std::shared_ptr<ArcGeometry> Arc() {
    auto a = ArcGeometry::Create();
    a->Start()->Assign(0, 0, 0);
    a->Origin()->Assign(5, 5, 0);
    a->End()->Assign(10, 0, 0);
    return a;
}

// One geometry of every kind, nesting included.
std::vector<GeometryPtr> EveryKind() {
    std::vector<GeometryPtr> all;
    all.push_back(PointGeometry::Create(1100, 5000));
    auto oriented = OrientedPointGeometry::Create(1200, 5050);
    oriented->Orientation()->Assign(0, 1, 0);
    all.push_back(oriented);
    auto text = TextPointGeometry::Create(1150.5, 5004.25);
    text->Orientation()->Assign(0.6, 0.8, 0);
    all.push_back(text);
    all.push_back(LineGeometry::Create(0, 0, 10, 0));
    all.push_back(Polyline(9));  // three rows of four pairs, the last one short
    all.push_back(Arc());
    all.push_back(Square(0, 0, 10));
    all.push_back(RectangleGeometry::Create(10, 20, 4, 2, 30));

    auto boundary = BoundaryGeometry::Create();
    boundary->SetExterior(Square(0, 0, 100));
    boundary->Holes()->Add(Square(10, 10, 5));
    auto ringOfPieces = CompositePolygonGeometry::Create();
    ringOfPieces->Items()->Add(LineGeometry::Create(50, 50, 60, 50));
    ringOfPieces->Items()->Add(Polyline(3, 60));
    ringOfPieces->Items()->Add(LineGeometry::Create(62, 1, 50, 50));
    boundary->Holes()->Add(ringOfPieces);
    all.push_back(boundary);

    auto composite = CompositePolylineGeometry::Create();
    composite->Items()->Add(Polyline(3));
    composite->Items()->Add(Arc());
    composite->Items()->Add(LineGeometry::Create(10, 0, 12, 3));
    all.push_back(composite);
    all.push_back(ringOfPieces);

    auto inner = GeometryCollection::Create();
    inner->Items()->Add(PointGeometry::Create(1, 2));
    auto collection = GeometryCollection::Create();
    collection->Items()->Add(boundary);
    collection->Items()->Add(inner);
    collection->Items()->Add(GeometryCollection::Create());  // empty
    collection->Items()->Add(composite);
    all.push_back(collection);
    return all;
}

std::string ErrorText(const std::function<void()>& f) {
    try {
        f();
    } catch (const rt::ComError& e) {
        EXPECT_EQ(e.Number(), rt::vberr::InvalidProcedureCall) << e.Description();
        EXPECT_EQ(e.Source(), "GeometryService");
        return e.Description();
    }
    return "no error";
}

std::string ReadText(const std::vector<GeomRow>& rows, int pairs = 4) {
    auto service = GeometryService::Create();
    return ErrorText([&] { service->RowsToGeometry(GeometryTable(rows, pairs)); });
}

int Count(const ado::RecordsetPtr& rs) {
    if (rs->get_BOF() && rs->get_EOF()) return 0;
    int n = 0;
    for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext()) ++n;
    return n;
}

}  // namespace

TEST(GeometryService, EveryKindRoundTripsThroughRows) {
    auto service = GeometryService::Create();
    for (int pairs : {4, 2, 1}) {
        int32_t id = 0;
        for (const auto& g : EveryKind()) {
            ++id;
            SCOPED_TRACE(g->get_Type() + " with " + std::to_string(pairs) + " pairs per row");
            auto rows = GeometryTable({}, pairs);
            auto component = ComponentRow(id, 1000 + id, 3);
            service->WriteGeometry(g, component, rows);
            rows->put_Filter(rt::Variant("SDO_GID = " + std::to_string(id)));
            auto back = service->ReadGeometry(rows, component);
            EXPECT_EQ(Describe(back), Describe(g));
            EXPECT_NE(back, g) << "reading builds a new object";
            // Every row carries the keys of the component row.
            for (rows->MoveFirst(); !rows->get_EOF(); rows->MoveNext()) {
                EXPECT_EQ(rt::CLng(rows->GetValue("QTX_ID")), id);
                EXPECT_EQ(rt::CLng(rows->GetValue("QTX_FID")), 1000 + id);
                EXPECT_EQ(rt::CLng(rows->GetValue("QTX_CID")), 3);
                EXPECT_EQ(rt::CLng(rows->GetValue("QTX_CNO")), 12);
            }
        }
    }
}

TEST(GeometryService, RowsFollowTheElementLayout) {
    auto rows = GeometryTable({});
    auto boundary = BoundaryGeometry::Create();
    boundary->SetExterior(Square(0, 0, 10));
    boundary->Holes()->Add(Square(2, 2, 1));
    GeometryService::Create()->GeometryToRows(boundary, rows, 7, nullptr);
    std::vector<std::string> seen;
    for (rows->MoveFirst(); !rows->get_EOF(); rows->MoveNext()) {
        seen.push_back(rt::CStr(rows->GetValue("SDO_ESEQ")) + "/" + rt::CStr(rows->GetValue("SDO_ETYPE")) + "/" +
                       rt::CStr(rows->GetValue("SDO_SEQ")) + ":" + rt::CStr(rows->GetValue("SDO_X1")) + "," +
                       (rows->GetValue("SDO_Y4").IsNull() ? "-" : rt::CStr(rows->GetValue("SDO_Y4"))));
        EXPECT_TRUE(rows->GetValue("QTX_FID").IsNull()) << "no key row, no keys";
    }
    // Header with 1 + 1 parts; each ring of five points in a full row and a row of one pair.
    EXPECT_EQ(seen, (std::vector<std::string>{"0/6/0:2,-", "1/3/0:0,10", "1/3/1:0,-", "2/3/0:2,3", "2/3/1:2,-"}));
}

TEST(GeometryService, SampleRowsReadAsTheirKinds) {
    auto service = GeometryService::Create();
    // A main of two rows, a turned valve, a hydrant.
    auto main = service->RowsToGeometry(GeometryTable(
        {{1, 0, 2, 0, {D(1000), D(5000), D(1100), D(5000), D(1200), D(5010), D(1300), D(5010)}},
         {1, 0, 2, 1, {D(1350), D(5060), D(1412.35), D(5060), N(), N(), N(), N()}}}));
    EXPECT_EQ(Describe(main), "PolylineGeometry[(1000 5000 0)(1100 5000 0)(1200 5010 0)(1300 5010 0)(1350 5060 0)"
                              "(1412.35 5060 0)]");
    auto valve = service->RowsToGeometry(GeometryTable({{2, 0, 1, 0, {D(1200), D(5050), D(0), D(1)}}}));
    EXPECT_EQ(Describe(valve), "OrientedPointGeometry[Origin(1200 5050 0)Orientation(0 1 0)]");
    auto hydrant = service->RowsToGeometry(GeometryTable({{1, 0, 1, 0, {D(1305), D(5015)}}}));
    EXPECT_EQ(Describe(hydrant), "PointGeometry[Origin(1305 5015 0)]");
    EXPECT_EQ(service->RowsToGeometry(GeometryTable({})), nullptr);
}

TEST(GeometryService, ZIsKeptWhereTheTableHasZColumns) {
    auto service = GeometryService::Create();
    auto line = LineGeometry::Create(1, 2, 3, 4);
    line->Start()->put_Z(7.5);
    auto withZ = GeometryTable({}, 4, true);
    service->GeometryToRows(line, withZ, 1, nullptr);
    EXPECT_EQ(Describe(service->RowsToGeometry(withZ)), Describe(line));
    auto flat = GeometryTable({});
    service->GeometryToRows(line, flat, 1, nullptr);
    EXPECT_EQ(Describe(service->RowsToGeometry(flat)), "LineGeometry[Start(1 2 0)End(3 4 0)]");
}

TEST(GeometryService, TablesOfOtherLayoutsReadInTurnEachByItsOwnColumns) {
    auto service = GeometryService::Create();
    auto line = Polyline(6);
    line->PointList()->Item(2)->put_Z(3.5);
    // Tables of 4, 1 and 2 pairs a row, with and without Z, read one after the other and again.
    struct Case {
        int pairs;
        bool z;
    } cases[] = {{4, false}, {1, false}, {4, true}, {2, false}, {1, true}, {4, false}};
    std::vector<ado::RecordsetPtr> tables;
    for (const auto& c : cases) {
        tables.push_back(GeometryTable({}, c.pairs, c.z));
        service->GeometryToRows(line, tables.back(), 1, nullptr);
    }
    const std::string withZ = Describe(line);
    for (int round = 0; round < 2; ++round)
        for (size_t i = 0; i < tables.size(); ++i) {
            const std::string read = Describe(service->RowsToGeometry(tables[i]));
            EXPECT_EQ(read.find("3.5") != std::string::npos, cases[i].z) << cases[i].pairs << " pairs, " << read;
            if (cases[i].z) {
                EXPECT_EQ(read, withZ) << cases[i].pairs << " pairs";
            }
            EXPECT_EQ(Count(tables[i]), (6 + cases[i].pairs - 1) / cases[i].pairs) << cases[i].pairs << " pairs";
        }
}

TEST(GeometryService, ReadingTakesTheComponentRowsGeometryInSequenceOrder) {
    auto service = GeometryService::Create();
    // Two geometries; the rows of 5 stand out of order, as a sort by key leaves them.
    auto rows = GeometryTable({{4, 0, 2, 0, {D(9), D(9), D(8), D(8)}},
                               {5, 0, 2, 1, {D(5), D(5), D(6), D(6)}},
                               {5, 0, 2, 0, {D(1), D(1), D(2), D(2), D(3), D(3), D(4), D(4)}}});
    EXPECT_EQ(Describe(service->ReadGeometry(rows, ComponentRow(5))),
              "PolylineGeometry[(1 1 0)(2 2 0)(3 3 0)(4 4 0)(5 5 0)(6 6 0)]");
    EXPECT_EQ(service->ReadGeometry(rows, ComponentRow(6)), nullptr);
    // Without a QTX_ID the rows must be those of one geometry.
    EXPECT_NE(ErrorText([&] { service->ReadGeometry(rows, ComponentRow(-1)); }).find("more than one geometry"),
              std::string::npos);
    EXPECT_THROW(service->ReadGeometry(nullptr, ComponentRow(5)), rt::ComError);
}

TEST(GeometryService, ReplacingDeletesTheOldRowsAndAddsNewOnesAsPendingRows) {
    auto service = GeometryService::Create();
    auto rows = GeometryTable({{1, 0, 2, 0, {D(0), D(0), D(1), D(1), D(2), D(2), D(3), D(3)}},
                               {1, 0, 2, 1, {D(4), D(4)}},
                               {2, 0, 1, 0, {D(7), D(7)}}});
    rows->put_Filter(rt::Variant("SDO_GID = 1"));
    auto component = ComponentRow(1);

    service->WriteGeometry(Arc(), component, rows);
    EXPECT_EQ(Describe(service->ReadGeometry(rows, component)), Describe(Arc()));
    rows->put_Filter(rt::Variant(int32_t{ado::adFilterPendingRecords}));
    int deleted = 0, added = 0;
    for (rows->MoveFirst(); !rows->get_EOF(); rows->MoveNext()) {
        if (rows->get_Status() & ado::adRecDeleted) {
            ++deleted;
            EXPECT_EQ(rt::CLng(rows->get_Fields()->Item("SDO_GID")->get_OriginalValue()), 1);
        } else {
            EXPECT_TRUE(rows->get_Status() & ado::adRecNew);
            EXPECT_EQ(rt::CLng(rows->GetValue("SDO_GID")), 1);
            ++added;
        }
    }
    EXPECT_EQ(deleted, 2);
    EXPECT_EQ(added, 1);

    // A second replacement drops the rows the first one added; the geometry 2 stays untouched.
    rows->put_Filter(rt::Variant("SDO_GID = 1"));
    service->WriteGeometry(Polyline(6), component, rows);
    rows->put_Filter(rt::Variant(int32_t{ado::adFilterPendingRecords}));
    EXPECT_EQ(Count(rows), 2 + 2);
    rows->put_Filter(rt::Variant("SDO_GID = 2"));
    EXPECT_EQ(Describe(service->ReadGeometry(rows, ComponentRow(2))), "PointGeometry[Origin(7 7 0)]");

    // Nothing removes the geometry.
    rows->put_Filter(rt::Variant("SDO_GID = 1"));
    service->WriteGeometry(nullptr, component, rows);
    EXPECT_EQ(Count(rows), 0);
    EXPECT_EQ(service->ReadGeometry(rows, component), nullptr);
}

TEST(GeometryService, ARefusedWriteTouchesNoRow) {
    auto service = GeometryService::Create();
    auto rows = GeometryTable({{1, 0, 1, 0, {D(3), D(4)}}});
    auto pending = [&] {
        rows->put_Filter(rt::Variant(int32_t{ado::adFilterPendingRecords}));
        int n = Count(rows);
        rows->put_Filter(rt::Variant(int32_t{ado::adFilterNone}));
        return n;
    };
    EXPECT_NE(ErrorText([&] { service->WriteGeometry(PolylineGeometry::Create(), ComponentRow(1), rows); })
                  .find("without points"),
              std::string::npos);
    EXPECT_NE(ErrorText([&] { service->WriteGeometry(BoundaryGeometry::Create(), ComponentRow(1), rows); })
                  .find("without an exterior"),
              std::string::npos);
    auto bad = PointGeometry::Create(std::nan(""), 1);
    EXPECT_NE(ErrorText([&] { service->WriteGeometry(bad, ComponentRow(1), rows); }).find("finite"), std::string::npos);
    EXPECT_NE(ErrorText([&] { service->WriteGeometry(PointGeometry::Create(), ComponentRow(-1), rows); })
                  .find("no QTX_ID"),
              std::string::npos);
    EXPECT_THROW(service->WriteGeometry(rows, ComponentRow(1), rows), rt::ComError) << "a recordset is no geometry";

    // Nested deeper than the rows may hold.
    GeometryPtr deep = PointGeometry::Create();
    for (int i = 0; i < kMaxGeometryDepth + 1; ++i) {
        auto c = GeometryCollection::Create();
        c->Items()->Add(deep);
        deep = c;
    }
    EXPECT_NE(ErrorText([&] { service->WriteGeometry(deep, ComponentRow(1), rows); }).find("deeper"),
              std::string::npos);
    EXPECT_EQ(pending(), 0);
    EXPECT_EQ(Describe(service->ReadGeometry(rows, ComponentRow(1))), "PointGeometry[Origin(3 4 0)]");
}

TEST(GeometryService, MalformedRowsFailNamingTheRow) {
    // Unknown element type.
    EXPECT_NE(ReadText({{3, 0, 42, 0, {D(1), D(1)}}}).find("Geometry 3, element 0: unknown SDO_ETYPE 42"),
              std::string::npos);
    // Missing ordinates: a half pair, a pair after an empty one, a short row that goes on, an empty row.
    EXPECT_NE(ReadText({{1, 0, 2, 0, {D(1), D(1), D(2), N()}}}).find("lacks its Y"), std::string::npos);
    EXPECT_NE(ReadText({{1, 0, 2, 0, {D(1), D(1), N(), N(), D(3), D(3)}}}).find("missing ordinates"),
              std::string::npos);
    EXPECT_NE(ReadText({{1, 0, 2, 0, {D(1), D(1), D(2), D(2)}}, {1, 0, 2, 1, {D(3), D(3)}}}).find("row 0: ordinates"),
              std::string::npos);
    EXPECT_NE(ReadText({{1, 0, 1, 0, {}}}).find("no ordinates"), std::string::npos);
    EXPECT_NE(ReadText({{1, 0, 8, 0, {D(1), D(1)}}}).find("a line needs 2"), std::string::npos);
    EXPECT_NE(ReadText({{1, 0, 11, 0, {D(1), D(1), D(2), D(2), D(30), D(1)}}}).find("rotation"), std::string::npos);
    // Out of sequence: a gap, a repeat, a start past 0, a missing element.
    EXPECT_NE(ReadText({{1, 0, 2, 0, {D(1), D(1), D(2), D(2), D(3), D(3), D(4), D(4)}}, {1, 0, 2, 2, {D(5), D(5)}}})
                  .find("SDO_SEQ 2 follows 0"),
              std::string::npos);
    EXPECT_NE(ReadText({{1, 0, 2, 0, {D(1), D(1)}}, {1, 0, 2, 0, {D(1), D(1)}}}).find("repeats"), std::string::npos);
    EXPECT_NE(ReadText({{1, 0, 2, 1, {D(1), D(1)}}}).find("starts at 1"), std::string::npos);
    EXPECT_NE(ReadText({{1, 0, 7, 0, {D(2)}}, {1, 2, 1, 0, {D(1), D(1)}}}).find("SDO_ESEQ 2 follows 0"),
              std::string::npos);
    EXPECT_NE(ReadText({{1, 0, 2, 0, {D(1), D(1), D(2), D(2), D(3), D(3), D(4), D(4)}}, {1, 0, 3, 1, {D(5), D(5)}}})
                  .find("differs"),
              std::string::npos);
    // Headers and their parts.
    EXPECT_NE(ReadText({{1, 0, 4, 0, {D(2)}}, {1, 1, 8, 0, {D(0), D(0), D(1), D(1)}}}).find("announces 2 parts"),
              std::string::npos);
    EXPECT_NE(ReadText({{1, 0, 4, 0, {D(1)}}, {1, 1, 1, 0, {D(0), D(0)}}}).find("cannot be a part"),
              std::string::npos);
    EXPECT_NE(ReadText({{1, 0, 6, 0, {D(0)}}}).find("needs its exterior"), std::string::npos);
    EXPECT_NE(ReadText({{1, 0, 1, 0, {D(0), D(0)}}, {1, 1, 1, 0, {D(1), D(1)}}}).find("not part of the geometry"),
              std::string::npos);
    EXPECT_NE(ReadText({{1, 0, 7, 0, {D(1.5)}}, {1, 1, 1, 0, {D(1), D(1)}}}).find("announces 1.5"), std::string::npos);
    // A chain of headers deeper than a geometry may nest.
    std::vector<GeomRow> chain;
    for (int i = 0; i <= kMaxGeometryDepth + 1; ++i) chain.push_back({1, i, 7, 0, {D(1)}});
    chain.push_back({1, kMaxGeometryDepth + 2, 1, 0, {D(0), D(0)}});
    EXPECT_NE(ReadText(chain).find("deeper"), std::string::npos);
    // Null keys and a table without the element columns.
    EXPECT_NE(ReadText({{1, 0, 1, 0, {D(0), D(0)}}}, 0).find("no fields SDO_X1"), std::string::npos);
}

// What a read of one geometry by itself gives: its description or its error.
std::string ReadAlone(GeometryService& service, const ado::RecordsetPtr& rows, int32_t id) {
    std::string out;
    try {
        auto view = rows->Clone(ado::adLockUnspecified);
        view->put_Filter(rt::Variant("SDO_GID = " + std::to_string(id)));
        auto g = service.ReadGeometry(view, ComponentRow(id));
        out = g ? Describe(g) : "nothing";
    } catch (const rt::ComError& e) {
        out = std::to_string(e.Number()) + " " + e.Source() + ": " + e.Description();
    }
    return out;
}

std::string FindInIndex(pelmora::IGeometryIndex& index, int32_t id) {
    std::string out;
    try {
        auto g = index.Find(id);
        out = g ? Describe(g) : "nothing";
    } catch (const rt::ComError& e) {
        out = std::to_string(e.Number()) + " " + e.Source() + ": " + e.Description();
    }
    return out;
}

TEST(GeometryService, AnIndexFindsWhatEachGeometryReadAloneGives) {
    auto service = GeometryService::Create();
    // Rows of several geometries, out of order and interleaved; 3 and 6 malformed (in their second row),
    // 4 has a deleted row, the caller's view is filtered to one geometry.
    auto rows = GeometryTable({{1, 0, 2, 1, {D(5), D(5), D(6), D(6)}},
                               {2, 0, 1, 0, {D(7), D(8)}},
                               {1, 0, 2, 0, {D(1), D(1), D(2), D(2), D(3), D(3), D(4), D(4)}},
                               {3, 0, 2, 0, {D(1), D(1)}},
                               {3, 0, 2, 0, {D(2), D(2)}},
                               {4, 0, 1, 0, {D(3), D(4)}},
                               {4, 0, 1, 0, {D(9), D(9)}},
                               {6, 0, 42, 0, {D(1), D(1)}},
                               {5, 0, 2, 0, {D(0), D(0), D(1), D(1)}}});
    rows->MoveFirst();
    for (int i = 0; i < 6; ++i) rows->MoveNext();
    rows->Delete(ado::adAffectCurrent);
    rows->put_Filter(rt::Variant("SDO_GID = 2"));
    rows->MoveFirst();
    auto index = service->IndexGeometries(rows);
    ASSERT_NE(index, nullptr);
    for (int32_t id = 0; id <= 7; ++id) {
        SCOPED_TRACE("SDO_GID " + std::to_string(id));
        EXPECT_EQ(FindInIndex(*index, id), ReadAlone(*service, rows, id));
        EXPECT_EQ(FindInIndex(*index, id), ReadAlone(*service, rows, id)) << "asked again";
    }
    EXPECT_EQ(rt::CStr(rows->get_Filter()), "SDO_GID = 2") << "the caller's view stays";
    EXPECT_EQ(rt::CLng(rows->GetValue("SDO_GID")), 2);
    EXPECT_EQ(index->Find(1), index->Find(1)) << "each geometry decoded once";
}

TEST(GeometryService, IdsThatNoFilterOnAWholeNumberShowsAreLeftOutOrNotIndexed) {
    auto service = GeometryService::Create();
    auto rows = GeometryTable({{1, 0, 1, 0, {D(1), D(1)}}, {2, 0, 1, 0, {D(2), D(2)}}});
    rows->MoveFirst();
    rows->SetValue(rt::Variant("SDO_GID"), rt::Variant::Null());
    auto index = service->IndexGeometries(rows);
    ASSERT_NE(index, nullptr) << "a Null id matches no filter on a number";
    EXPECT_EQ(index->Find(1), nullptr);
    // Ids held as decimal numbers: whole ones are found, others shown by no filter on a whole number.
    auto decimal = ado::Recordset::Create();
    decimal->get_Fields()->Append("SDO_GID", ado::adDouble);
    for (const char* name : {"SDO_ESEQ", "SDO_ETYPE", "SDO_SEQ"}) decimal->get_Fields()->Append(name, ado::adInteger);
    for (const char* name : {"SDO_X1", "SDO_Y1"}) decimal->get_Fields()->Append(name, ado::adDouble);
    decimal->Open();
    for (double gid : {1.0, 2.5}) {
        decimal->AddNew();
        for (const auto& [name, value] : std::vector<std::pair<const char*, rt::Variant>>{
                 {"SDO_GID", rt::Variant(gid)}, {"SDO_ESEQ", rt::Variant(int32_t{0})},
                 {"SDO_ETYPE", rt::Variant(int32_t{1})}, {"SDO_SEQ", rt::Variant(int32_t{0})}, {"SDO_X1", D(gid)},
                 {"SDO_Y1", D(1)}})
            decimal->SetValue(rt::Variant(name), value);
        decimal->Update();
    }
    auto decimalIndex = service->IndexGeometries(decimal);
    ASSERT_NE(decimalIndex, nullptr);
    for (int32_t id : {1, 2, 3}) EXPECT_EQ(FindInIndex(*decimalIndex, id), ReadAlone(*service, decimal, id)) << id;
    // Ids held as text compare otherwise in a filter: not indexed.
    auto text = ado::Recordset::Create();
    text->get_Fields()->Append("SDO_GID", ado::adVarChar, 10);
    for (const char* name : {"SDO_ESEQ", "SDO_ETYPE", "SDO_SEQ"}) text->get_Fields()->Append(name, ado::adInteger);
    for (const char* name : {"SDO_X1", "SDO_Y1"}) text->get_Fields()->Append(name, ado::adDouble);
    text->Open();
    text->AddNew();
    text->SetValue(rt::Variant("SDO_GID"), rt::Variant(std::string("1")));
    text->Update();
    EXPECT_EQ(service->IndexGeometries(text), nullptr);
    EXPECT_EQ(service->IndexGeometries(GeometryTable({{1, 0, 1, 0, {D(0), D(0)}}}, 0)), nullptr)
        << "no coordinate fields: the read alone raises";
    EXPECT_THROW(service->IndexGeometries(nullptr), rt::ComError);
}

TEST(GeometryService, LateBoundByProgId) {
    product::RegisterProductStandIns();
    auto service = rt::CreateObject(pelmora::kGeometryServiceProgId);
    ASSERT_NE(rt::TryQueryInterface<pelmora::IGeometryService>(service), nullptr);
    auto rows = GeometryTable({});
    auto component = ComponentRow(9);
    auto line = LineGeometry::Create(1, 1, 2, 2);
    Call(service, "WriteGeometry", {rt::Variant(line), rt::Variant(component), rt::Variant(rows)});
    auto back = Call(service, "ReadGeometry", {rt::Variant(rows), rt::Variant(component)});
    EXPECT_EQ(Describe(back.Obj()), Describe(line));
    EXPECT_TRUE(Call(service, "ReadGeometry", {rt::Variant(GeometryTable({})), rt::Variant(component)}).IsNothing());
    EXPECT_TRUE(Get(service, "DataContext").IsNothing());
    EXPECT_THROW(Call(service, "ReadGeometry", {rt::Variant(int32_t{1})}), rt::ComError);
}

TEST(GeometryService, LateBoundRecordsetArgumentsRefuseWhatIsNoRecordset) {
    product::RegisterProductStandIns();
    auto service = rt::CreateObject(pelmora::kGeometryServiceProgId);
    struct Case {
        const char* what;
        rt::Variant argument;
        int32_t number;
    } cases[] = {
        {"a number", rt::Variant(int32_t{1}), rt::vberr::TypeMismatch},
        {"a geometry", rt::Variant(LineGeometry::Create(1, 1, 2, 2)), rt::vberr::TypeMismatch},
        {"Nothing", rt::Variant::Nothing(), rt::vberr::ObjectVariableNotSet},
    };
    for (const Case& c : cases) {
        try {
            Call(service, "RowsToGeometry", {c.argument});
            ADD_FAILURE() << c.what << " was taken";
        } catch (const rt::ComError& e) {
            EXPECT_EQ(e.Number(), c.number) << c.what;
            EXPECT_EQ(e.Source(), "GeometryService") << c.what;
        }
    }
}
