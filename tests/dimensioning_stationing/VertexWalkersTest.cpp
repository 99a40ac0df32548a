// The vertex walkers over every geometry kind: numbering through nesting,
// fetching, finding, moving, and the trap that shows a failure and goes on.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "pelmora/dimensioning_stationing/modRelationshipServiceVertices.h"
#include "product/StandIns.h"
#include "product/geometry/GeometryObjects.h"
#include "runtime/Vb.h"

namespace {

using namespace pelmora;
using XY = std::pair<double, double>;

std::shared_ptr<product::PolylineGeometry> Polyline(const std::vector<XY>& pts) {
    auto g = product::PolylineGeometry::Create();
    for (auto [x, y] : pts) g->PointList()->Add(x, y);
    return g;
}

std::shared_ptr<product::PolygonGeometry> Polygon(const std::vector<XY>& pts) {
    auto g = product::PolygonGeometry::Create();
    for (auto [x, y] : pts) g->PointList()->Add(x, y);
    return g;
}

template <class G>
std::shared_ptr<G> Items(std::shared_ptr<G> g, const std::vector<product::GeometryPtr>& items) {
    for (auto& item : items) g->Items()->Add(item);
    return g;
}

// An object that claims to be a polyline but has no members.
class BrokenPolyline : public rt::Object {
public:
    std::string TypeName() const override { return "DYvPolylineGeometry"; }
};

class VertexWalkersTest : public ::testing::Test {
protected:
    void SetUp() override {
        product::RegisterProductStandIns();
        recorder = std::make_shared<product::DialogRecorder>();
        product::InstallDialogRecorder(recorder);
    }
    void TearDown() override { product::InstallDialogRecorder(nullptr); }

    std::shared_ptr<product::DialogRecorder> recorder;
};

std::shared_ptr<IPoint> At(double x, double y) { return product::Point::Create(x, y); }

XY Coordinates(const std::shared_ptr<IPoint>& p) { return {p->get_X(), p->get_Y()}; }

struct KindCase {
    const char* name;
    std::function<rt::ObjectPtr()> make;
    std::vector<XY> vertices;  // in vertex-number order
};

std::vector<KindCase> KindCases() {
    auto line = [] { return product::LineGeometry::Create(0, 0, 5, 5); };
    auto arc = [] {
        auto a = product::ArcGeometry::Create();
        a->Start()->Assign(0, 0, 0);
        a->Origin()->Assign(1, 1, 0);
        a->End()->Assign(2, 0, 0);
        return a;
    };
    return {
        {"polyline", [] { return Polyline({{0, 0}, {1, 0}, {2, 1}}); }, {{0, 0}, {1, 0}, {2, 1}}},
        {"composite with shared joint",
         [] {
             return Items(product::CompositePolylineGeometry::Create(),
                          {Polyline({{0, 0}, {1, 0}, {2, 0}}), Polyline({{2, 0}, {3, 1}, {4, 1}, {5, 2}})});
         },
         {{0, 0}, {1, 0}, {2, 0}, {3, 1}, {4, 1}, {5, 2}}},
        {"collection without joints",
         [] {
             return Items(product::GeometryCollection::Create(),
                          {Polyline({{0, 0}, {1, 0}, {2, 0}}), Polyline({{7, 0}, {3, 1}, {4, 1}, {5, 2}})});
         },
         {{0, 0}, {1, 0}, {2, 0}, {7, 0}, {3, 1}, {4, 1}, {5, 2}}},
        {"boundary with a hole",
         [] {
             auto b = product::BoundaryGeometry::Create();
             b->SetExterior(Polygon({{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}}));
             b->Holes()->Add(Polygon({{2, 2}, {3, 2}, {3, 3}, {2, 2}}));
             return b;
         },
         {{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}, {2, 2}, {3, 2}, {3, 3}, {2, 2}}},
        {"collection of a composite and a point",
         [line, arc] {
             auto composite = Items(product::CompositePolylineGeometry::Create(), {line(), arc()});
             return Items(product::GeometryCollection::Create(),
                          {composite, product::PointGeometry::Create(9, 9)});
         },
         {{0, 0}, {5, 5}, {1, 1}, {2, 0}, {9, 9}}},
        {"arc", arc, {{0, 0}, {1, 1}, {2, 0}}},
        {"line", line, {{0, 0}, {5, 5}}},
        // Height runs along -Y and Width along +X before rotation.
        {"rectangle", [] { return product::RectangleGeometry::Create(10, 20, 4, 2, 0); },
         {{10, 20}, {10, 18}, {14, 18}, {14, 20}, {10, 20}}},
        {"rectangle turned 90 degrees", [] { return product::RectangleGeometry::Create(0, 0, 4, 2, 90); },
         {{0, 0}, {2, 0}, {2, 4}, {0, 4}, {0, 0}}},
        {"oriented point", [] { return product::OrientedPointGeometry::Create(3, 4); }, {{3, 4}}},
        {"unknown kind", [] { return std::make_shared<rt::Object>(); }, {}},
    };
}

TEST_F(VertexWalkersTest, EveryKindNumbersFetchesAndFindsAlike) {
    for (const KindCase& c : KindCases()) {
        SCOPED_TRACE(c.name);
        auto g = c.make();
        const int32_t n = static_cast<int32_t>(c.vertices.size());
        ASSERT_EQ(GetVertexCount(g), n);
        for (int32_t k = 1; k <= n; ++k) {
            int32_t index = k;
            std::shared_ptr<IPoint> p;
            ASSERT_TRUE(GetVertex(index, g, p)) << k;
            EXPECT_EQ(index, k);
            auto [x, y] = c.vertices[static_cast<size_t>(k - 1)];
            EXPECT_NEAR(p->get_X(), x, 1e-9) << k;
            EXPECT_NEAR(p->get_Y(), y, 1e-9) << k;
            // The first vertex at those coordinates is the one found.
            int32_t first = 1;
            while (c.vertices[static_cast<size_t>(first - 1)] != c.vertices[static_cast<size_t>(k - 1)]) ++first;
            EXPECT_EQ(GetPointVertexIndex(product::PointGeometry::Create(x, y), g), first) << k;
            EXPECT_EQ(GetPointVertexIndex(rt::ObjectPtrOf(At(x, y)), g), first) << k;
        }
        int32_t beyond = n + 3;
        std::shared_ptr<IPoint> none;
        EXPECT_FALSE(GetVertex(beyond, g, none));
        EXPECT_EQ(beyond, 3);
        EXPECT_EQ(none, nullptr);
        int32_t running = 10;
        EXPECT_FALSE(FindVertex(At(-50, -50), g, running));
        EXPECT_EQ(running, 10 + n - 1);
    }
    EXPECT_TRUE(recorder->records.empty());
}

TEST_F(VertexWalkersTest, PointKindsAndNothingAnswerAsTheirKindAllows) {
    auto text = product::TextPointGeometry::Create(1, 1);
    auto polyline = Polyline({{0, 0}, {1, 1}});
    EXPECT_EQ(GetPointVertexIndex(text, polyline), 0);  // a text point is never searched
    EXPECT_EQ(GetPointVertexIndex(nullptr, polyline), 0);
    EXPECT_EQ(GetVertexCount(nullptr), 0);
    std::shared_ptr<IPoint> p;
    EXPECT_FALSE(GetOrSetVertex(0, polyline, p, true));
    EXPECT_EQ(p, nullptr);
    EXPECT_TRUE(GetOrSetVertex(2, polyline, p, true));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Coordinates(p), XY(1, 1));
}

TEST_F(VertexWalkersTest, FetchingNeverMovesTheGeometry) {
    // The caller hands in a geometry's own point: no corner may land in it.
    auto rect = product::RectangleGeometry::Create(10, 20, 4, 2, 0);
    auto polyline = Polyline({{0, 0}, {1, 1}});
    std::shared_ptr<IPoint> own = rect->get_Origin();
    std::shared_ptr<IPoint> p = own;
    for (int16_t k = 1; k <= 5; ++k) EXPECT_TRUE(GetOrSetVertex(k, rect, p, true));
    EXPECT_EQ(Coordinates(own), XY(10, 20));
    p = polyline->PointList()->At(1);
    EXPECT_TRUE(GetOrSetVertex(2, polyline, p, true));
    EXPECT_EQ(Coordinates(polyline->PointList()->At(1)), XY(0, 0));
    EXPECT_EQ(Coordinates(p), XY(1, 1));
}

struct MoveCase {
    const char* name;
    std::function<rt::ObjectPtr()> make;
    int32_t vertex;
    XY target;
    std::vector<XY> after;  // every vertex after the move
};

TEST_F(VertexWalkersTest, SetVertexMovesTheVertexAndItsJoint) {
    auto twoPieces = [](auto container) {
        return Items(container, {Polyline({{0, 0}, {1, 0}, {2, 0}}), Polyline({{2, 0}, {3, 0}})});
    };
    const std::vector<MoveCase> cases = {
        {"polyline", [] { return Polyline({{0, 0}, {1, 0}}); }, 2, {5, 5}, {{0, 0}, {5, 5}}},
        {"composite joint", [&] { return twoPieces(product::CompositePolylineGeometry::Create()); }, 3, {2, 9},
         {{0, 0}, {1, 0}, {2, 9}, {3, 0}}},
        {"composite after the joint", [&] { return twoPieces(product::CompositePolylineGeometry::Create()); }, 4,
         {3, 9}, {{0, 0}, {1, 0}, {2, 0}, {3, 9}}},
        {"collection: a last vertex is no joint", [&] { return twoPieces(product::GeometryCollection::Create()); },
         3, {2, 9}, {{0, 0}, {1, 0}, {2, 9}, {2, 0}, {3, 0}}},
        {"boundary hole", [] {
             auto b = product::BoundaryGeometry::Create();
             b->SetExterior(Polygon({{0, 0}, {10, 0}, {10, 10}, {0, 0}}));
             b->Holes()->Add(Polygon({{2, 2}, {3, 2}, {2, 2}}));
             return b;
         }, 6, {4, 4}, {{0, 0}, {10, 0}, {10, 10}, {0, 0}, {2, 2}, {4, 4}, {2, 2}}},
        {"rectangle height corner", [] { return product::RectangleGeometry::Create(0, 0, 4, 2, 0); }, 2, {3, 0},
         {{0, 0}, {3, 0}, {3, 4}, {0, 4}, {0, 0}}},
        {"rectangle width corner", [] { return product::RectangleGeometry::Create(0, 0, 4, 2, 0); }, 4, {0, 6},
         {{0, 0}, {2, 0}, {2, 6}, {0, 6}, {0, 0}}},
        {"rectangle far corner", [] { return product::RectangleGeometry::Create(0, 0, 4, 2, 0); }, 3, {6, -3},
         {{0, 0}, {0, -3}, {6, -3}, {6, 0}, {0, 0}}},
        // The old corners 2 and 4 stay where they were.
        {"rectangle origin", [] { return product::RectangleGeometry::Create(0, 0, 4, 2, 0); }, 1, {1, 1},
         {{1, 1}, {0, -2}, {3, -3}, {4, 0}, {1, 1}}},
    };
    for (const MoveCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto g = c.make();
        int32_t index = c.vertex;
        ASSERT_TRUE(SetVertex(index, g, At(c.target.first, c.target.second)));
        ASSERT_EQ(GetVertexCount(g), static_cast<int32_t>(c.after.size()));
        for (int32_t k = 1; k <= GetVertexCount(g); ++k) {
            int32_t i = k;
            std::shared_ptr<IPoint> p;
            ASSERT_TRUE(GetVertex(i, g, p));
            EXPECT_NEAR(p->get_X(), c.after[static_cast<size_t>(k - 1)].first, 1e-9) << k;
            EXPECT_NEAR(p->get_Y(), c.after[static_cast<size_t>(k - 1)].second, 1e-9) << k;
        }
        if (std::string(c.name) == "composite joint") {
            // The joint's other copy, the second piece's first point, moved too.
            auto second = std::static_pointer_cast<product::ItemsGeometry>(g)->Items()->Item(2);
            auto first = std::static_pointer_cast<product::PolylineGeometry>(second)->PointList()->At(1);
            EXPECT_EQ(Coordinates(first), c.target);
        }
    }
    EXPECT_TRUE(recorder->records.empty());
}

TEST_F(VertexWalkersTest, AFailingPartIsShownAndTheWalkGoesOn) {
    auto collection = Items(product::GeometryCollection::Create(), {Polyline({{0, 0}, {1, 0}})});
    // The broken part cannot be added through the typed list; wrap it in a
    // collection of the walkers' own making instead.
    class Mixed : public rt::Object {
    public:
        std::vector<rt::ObjectPtr> items;
        std::string TypeName() const override { return "DYvGeometryCollection"; }
        rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override {
            if (name == "Count") return rt::Variant(static_cast<int32_t>(items.size()));
            if (name == "Item") return rt::Variant(items.at(static_cast<size_t>(rt::CLng(args.at(0)) - 1)));
            return rt::Object::Invoke(name, kind, args);
        }
    };
    auto mixed = std::make_shared<Mixed>();
    mixed->items = {std::make_shared<BrokenPolyline>(), collection};
    EXPECT_EQ(GetVertexCount(mixed), 2);
    EXPECT_GT(GetPointVertexIndex(product::PointGeometry::Create(1, 0), mixed), 0);
    int32_t index = 1;
    std::shared_ptr<IPoint> p;
    EXPECT_TRUE(GetVertex(index, mixed, p));
    EXPECT_EQ(Coordinates(p), XY(0, 0));
    EXPECT_FALSE(recorder->records.empty());
    for (auto& r : recorder->records) EXPECT_NE(r.text.find("support"), std::string::npos) << r.text;
    // Moving to nothing fails in the copy and is shown too.
    const size_t shown = recorder->records.size();
    int32_t first = 1;
    EXPECT_FALSE(SetVertex(first, Polyline({{0, 0}}), nullptr));
    EXPECT_GT(recorder->records.size(), shown);
}

}  // namespace
