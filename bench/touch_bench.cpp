// GeometriesTouch of a point and of a polygon against 100 and 1,000
// polylines of 20 vertices (none of them met, so every line is tested), and
// the direct point-segment distance loop over the same lines (through
// GeometryMath, and written out). Prints how the 1,000-line times compare
// with the 100-line ones and the point case with the direct loops.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>

#include "BenchmarkTimes.h"
#include "pelmora/validation_set/modFeatureValidationServiceGeometry.h"
#include "product/StandIns.h"
#include "product/geometry/GeometryMath.h"
#include "product/geometry/GeometryObjects.h"
#include "runtime/Collection.h"

namespace {

using product::geometry_math::XY;

constexpr int kVertices = 20;
constexpr double kTolerance = 0.5;

struct Lines {
    std::shared_ptr<rt::Collection> collection = rt::Collection::New();
    std::vector<std::vector<XY>> points;
};

// Random walks of 20 vertices in the square (0 0)-(1000 1000).
const Lines& LinesOf(int count) {
    static std::map<int, Lines> made;
    auto& lines = made[count];
    if (!lines.points.empty()) return lines;
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> at(0, 1000), step(-20, 20);
    for (int i = 0; i < count; ++i) {
        auto line = product::PolylineGeometry::Create();
        std::vector<XY> pts;
        XY p{at(gen), at(gen)};
        for (int k = 0; k < kVertices; ++k) {
            pts.push_back(p);
            line->PointList()->Add(p.x, p.y);
            p = {std::clamp(p.x + step(gen), 0.0, 1000.0), std::clamp(p.y + step(gen), 0.0, 1000.0)};
        }
        lines.collection->Add(rt::Variant(line));
        lines.points.push_back(std::move(pts));
    }
    return lines;
}

void TouchPoint(benchmark::State& state, int count) {
    product::RegisterProductStandIns();
    const Lines& lines = LinesOf(count);
    auto point = product::PointGeometry::Create(-100, -100);
    for (auto _ : state)
        if (pelmora::GeometriesTouch(point, "PointGeometry", lines.collection, kTolerance))
            state.SkipWithError("the point touches a line");
}

void TouchPolygon(benchmark::State& state, int count) {
    product::RegisterProductStandIns();
    const Lines& lines = LinesOf(count);
    auto polygon = product::PolygonGeometry::Create();
    for (auto [x, y] : {std::pair{-110.0, -110.0}, {-90.0, -110.0}, {-90.0, -90.0}, {-110.0, -90.0}})
        polygon->PointList()->Add(x, y);
    for (auto _ : state)
        if (pelmora::GeometriesTouch(polygon, "PolygonGeometry", lines.collection, kTolerance))
            state.SkipWithError("the polygon touches a line");
}

void DirectLoop(benchmark::State& state, int count) {
    const Lines& lines = LinesOf(count);
    XY p{-100, -100};
    for (auto _ : state) {
        bool touch = false;
        for (const auto& pts : lines.points)
            for (size_t k = 0; k + 1 < pts.size(); ++k)
                touch = touch || product::geometry_math::PointSegmentDistance(p, pts[k], pts[k + 1]) <= kTolerance;
        if (touch) state.SkipWithError("the point touches a line");
    }
}

// The same loop with the distance written out, as the floor any library call
// is measured against.
void ArithmeticLoop(benchmark::State& state, int count) {
    const Lines& lines = LinesOf(count);
    XY p{-100, -100};
    for (auto _ : state) {
        bool touch = false;
        for (const auto& pts : lines.points)
            for (size_t k = 0; k + 1 < pts.size(); ++k) {
                XY a = pts[k], b = pts[k + 1];
                double dx = b.x - a.x, dy = b.y - a.y, l2 = dx * dx + dy * dy;
                double t = l2 == 0 ? 0 : std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / l2, 0.0, 1.0);
                touch = touch || std::hypot(p.x - a.x - t * dx, p.y - a.y - t * dy) <= kTolerance;
            }
        benchmark::DoNotOptimize(touch);
        if (touch) state.SkipWithError("the point touches a line");
    }
}

void BM_TouchPoint_100(benchmark::State& s) { TouchPoint(s, 100); }
void BM_TouchPoint_1000(benchmark::State& s) { TouchPoint(s, 1000); }
void BM_TouchPolygon_100(benchmark::State& s) { TouchPolygon(s, 100); }
void BM_TouchPolygon_1000(benchmark::State& s) { TouchPolygon(s, 1000); }
void BM_DirectPointSegment_100(benchmark::State& s) { DirectLoop(s, 100); }
void BM_DirectPointSegment_1000(benchmark::State& s) { DirectLoop(s, 1000); }
void BM_ArithmeticPointSegment_1000(benchmark::State& s) { ArithmeticLoop(s, 1000); }
BENCHMARK(BM_TouchPoint_100)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TouchPoint_1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TouchPolygon_100)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TouchPolygon_1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DirectPointSegment_100)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DirectPointSegment_1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ArithmeticPointSegment_1000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    auto times = benchtimes::RunBenchmarks(argc, argv);
    if (!times) return 1;
    auto& t = *times;
    auto ratio = [&](const char* label, const char* a, const char* b) {
        if (t.count(a) && t.count(b) && t[b] > 0) std::printf("%s: %.1f\n", label, t[a] / t[b]);
    };
    std::printf("\n");
    ratio("point, 1,000 lines / 100 lines (target <= 12)", "BM_TouchPoint_1000", "BM_TouchPoint_100");
    ratio("polygon, 1,000 lines / 100 lines (target <= 12)", "BM_TouchPolygon_1000", "BM_TouchPolygon_100");
    ratio("point touch / direct loop, 1,000 lines (target <= 20)", "BM_TouchPoint_1000", "BM_DirectPointSegment_1000");
    ratio("point touch / direct loop, 100 lines", "BM_TouchPoint_100", "BM_DirectPointSegment_100");
    ratio("point touch / written-out distance loop, 1,000 lines", "BM_TouchPoint_1000", "BM_ArithmeticPointSegment_1000");
    return 0;
}
