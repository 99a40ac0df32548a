// Adding rows to a component recordset of the sample network: 1,000, 10,000
// and 100,000 water mains, each a feature of its own, added with AddNew and
// their fields set as an editor does. Setting QTX_FID has the component
// work out the row's QTX_CID from a clone of its rows filtered by that FID,
// so without an index every row costs a pass over all rows before it.
// Prints the time per row at each size and how it grows from 1,000 rows.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "BenchmarkTimes.h"
#include "SampleWorld.h"
#include "ado/Recordset.h"
#include "pelmora/features/Component.h"
#include "runtime/Vb.h"

namespace {

constexpr int kFirstFid = 500000;

benchsupport::SampleWorld& TheWorld() {
    static benchsupport::SampleWorld world("pelmora-add-rows-bench");
    return world;
}

// A component of water mains for two features that have no rows yet, so
// that the CID of each added row comes from its QTX_FID.
std::shared_ptr<pelmora::Component> NewMains() {
    auto mains = std::make_shared<pelmora::Component>();
    mains->putref_DataContext(TheWorld().dc);
    mains->put_CNO(11);
    auto fids = rt::Variant::MakeArray(rt::vbLong, 0, 1);
    fids.ArrayMut()->Set(0, rt::Variant(int32_t{kFirstFid - 2}));
    fids.ArrayMut()->Set(1, rt::Variant(int32_t{kFirstFid - 1}));
    mains->AddFID(fids);
    return mains;
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

void BM_AddRows(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto mains = NewMains();
        auto rs = mains->get_Recordset();
        state.ResumeTiming();
        AddRows(*rs, count);
        state.PauseTiming();
        if (rs->get_RecordCount() != count || rt::CLng(rs->GetValue(rt::Variant("QTX_CID"))) != 1)
            state.SkipWithError("rows or CIDs not as added");
        mains.reset();
        rs.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_AddRows)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    auto times = benchtimes::RunBenchmarks(argc, argv);
    if (!times) return 1;
    auto& t = *times;
    const char* names[] = {"BM_AddRows/1000", "BM_AddRows/10000", "BM_AddRows/100000"};
    const int counts[] = {1000, 10000, 100000};
    double base = 0;
    for (int i = 0; i < 3; ++i) {
        if (!t.count(names[i])) continue;
        const double perRow = t[names[i]] * 1000.0 / counts[i];  // ms per run -> us per row
        if (base == 0) base = perRow;
        std::printf("add %6d rows: %8.2f us per row, %.2fx the per-row time at 1,000 rows\n", counts[i], perRow,
                    perRow / base);
    }
    return 0;
}
