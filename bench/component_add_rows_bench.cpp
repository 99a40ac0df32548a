// Adding rows to a component recordset of the sample network: 5,000 and
// 10,000 water mains, each a feature of its own, added with AddNew and their
// fields set as an editor does, to the mains component of a collection that
// holds two features without rows (so the CID of each row comes from its
// QTX_FID, through a clone of the rows filtered by that FID).
//   - BM_AddRows: the component's own work. Its functional-interface rows
//     name interfaces that are not installed here: the component looks them
//     up at every moment and fires nothing, as before the sample's objects.
//   - BM_AddRowsWithInterfaces: the same with the sample's interface objects
//     installed, which run at every moment (the material's check queries the
//     database, and each call of a component of several features is given
//     the services of the row's feature, assembled afresh).
//   - BM_AddRowsPlain, the anchor: the same rows added to the rows of such a
//     component through a clone, which no component watches.
// Repetitions run interleaved; prints the time per row of each (medians,
// wall and CPU), the ratios to the anchor, and the growth from 5,000 to
// 10,000 rows.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "BenchmarkTimes.h"
#include "SampleExtensions.h"
#include "SampleWorld.h"
#include "ado/Recordset.h"
#include "pelmora/features/Components.h"
#include "runtime/Vb.h"

namespace {

constexpr int kFirstFid = 500000;
constexpr int kSmall = 5000;
constexpr int kLarge = 10000;

benchsupport::SampleWorld& TheWorld() {
    static benchsupport::SampleWorld world("pelmora-add-rows-bench");
    return world;
}

// The mains component of two features that have no rows yet, held by a
// collection as an editor's components are.
struct Mains {
    std::shared_ptr<pelmora::Components> components;
    std::shared_ptr<ado::Recordset> rows;
};

Mains NewMains() {
    Mains m;
    m.components = std::make_shared<pelmora::Components>();
    m.components->putref_DataContext(TheWorld().dc);
    auto fids = rt::Variant::MakeArray(rt::vbLong, 0, 1);
    fids.ArrayMut()->Set(0, rt::Variant(int32_t{kFirstFid - 2}));
    fids.ArrayMut()->Set(1, rt::Variant(int32_t{kFirstFid - 1}));
    m.components->AddComponentByCNO(11, fids);
    m.rows = m.components->GetComponent(11)->get_Recordset();
    return m;
}

void AddRows(ado::Recordset& rs, int count) {
    for (int n = 0; n < count; ++n) {
        rs.AddNew();
        rs.SetValue(rt::Variant("QTX_ID"), rt::Variant(int32_t{kFirstFid + n}));
        rs.SetValue(rt::Variant("QTX_FNO"), rt::Variant(int32_t{101}));
        rs.SetValue(rt::Variant("QTX_FID"), rt::Variant(int32_t{kFirstFid + n}));
        rs.SetValue(rt::Variant("QTX_CNO"), rt::Variant(int32_t{11}));
        rs.SetValue(rt::Variant("MATERIAL"), rt::Variant("STEEL"));
        rs.SetValue(rt::Variant("DIAMETER"), rt::Variant(300.0));
        rs.SetValue(rt::Variant("LENGTH_M"), rt::Variant(12.5 + n));
        rs.Update();
    }
}

enum class Side { Component, WithInterfaces, Plain };

void Add(benchmark::State& state, Side side) {
    const int count = static_cast<int>(state.range(0));
    TheWorld();
    pelmora_sample::UnregisterSampleExtensions();
    if (side == Side::WithInterfaces) pelmora_sample::RegisterSampleExtensions();
    for (auto _ : state) {
        state.PauseTiming();
        auto mains = NewMains();
        auto rows = side == Side::Plain ? mains.rows->Clone(ado::adLockUnspecified) : mains.rows;
        state.ResumeTiming();
        AddRows(*rows, count);
        state.PauseTiming();
        const bool keyed = side == Side::Plain || rt::CLng(rows->GetValue(rt::Variant("QTX_CID"))) == 1;
        if (rows->get_RecordCount() != count || !keyed) state.SkipWithError("rows or CIDs not as added");
        pelmora_sample::TakeInterfaceCalls();
        rows.reset();
        mains = Mains();
        state.ResumeTiming();
    }
    // Back to the world as it was made.
    if (side != Side::WithInterfaces) pelmora_sample::RegisterSampleExtensions();
    state.SetItemsProcessed(state.iterations() * count);
}

void BM_AddRows(benchmark::State& state) { Add(state, Side::Component); }
void BM_AddRowsWithInterfaces(benchmark::State& state) { Add(state, Side::WithInterfaces); }
void BM_AddRowsPlain(benchmark::State& state) { Add(state, Side::Plain); }
BENCHMARK(BM_AddRows)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_AddRowsWithInterfaces)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_AddRowsPlain)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    auto times = benchtimes::RunInterleaved(argc, argv);
    if (!times) return 1;
    const auto& t = *times;
    std::printf("\n");
    for (const char* bench : {"BM_AddRows", "BM_AddRowsWithInterfaces", "BM_AddRowsPlain"}) {
        for (int n : {kSmall, kLarge}) {
            const std::string name = std::string(bench) + "/" + std::to_string(n);
            if (!t.Has(name)) continue;
            std::printf("%-26s %6d rows: %7.2f us per row wall, %7.2f us CPU\n", bench, n, t.wall.at(name) * 1000.0 / n,
                        t.cpu.at(name) * 1000.0 / n);
        }
    }
    for (int n : {kSmall, kLarge}) {
        const std::string size = "/" + std::to_string(n);
        const std::string label = std::to_string(n) + " rows";
        benchtimes::PrintRatio(t, "BM_AddRows" + size, "BM_AddRowsPlain" + size,
                               ("component / plain recordset, " + label).c_str(), "target: at most 10 us per row");
        benchtimes::PrintRatio(t, "BM_AddRowsWithInterfaces" + size, "BM_AddRowsPlain" + size,
                               ("with the sample's interfaces / plain recordset, " + label).c_str(), "the interfaces' own work included");
    }
    const std::string small = "/" + std::to_string(kSmall) ;
    const std::string large = "/" + std::to_string(kLarge) ;
    for (const char* bench : {"BM_AddRows", "BM_AddRowsWithInterfaces", "BM_AddRowsPlain"})
        benchtimes::PrintGrowth(t, bench + small, bench + large, (std::string(bench) + ", 5,000 to 10,000 rows").c_str());
    return 0;
}
