// Filling value lists up to the Oracle maximum: numbers, texts and dates.
#include <benchmark/benchmark.h>

#include "pelmora/common/FastString.h"
#include "product/StandIns.h"
#include "runtime/Vb.h"

namespace {

void FillNumbers(benchmark::State& state) {
    product::RegisterProductStandIns();
    pelmora::FastString list;
    rt::Variant value(int32_t{123456});
    for (auto _ : state) {
        list.Initialize(30000);
        while (list.CanAppendNumericValue(value)) list.AppendNumericValue(value);
        benchmark::DoNotOptimize(list.get_Value());
    }
    state.SetItemsProcessed(state.iterations() * (30000 / 7));
}
BENCHMARK(FillNumbers);

void FillDoubles(benchmark::State& state) {
    product::RegisterProductStandIns();
    pelmora::FastString list;
    rt::Variant value(1.0 / 3.0);
    for (auto _ : state) {
        list.Initialize(30000);
        while (list.CanAppendNumericValue(value)) list.AppendNumericValue(value);
        benchmark::DoNotOptimize(list.get_Value());
    }
}
BENCHMARK(FillDoubles);

void FillTexts(benchmark::State& state) {
    product::RegisterProductStandIns();
    pelmora::FastString list;
    rt::Variant value("Main Street 12");
    for (auto _ : state) {
        list.Initialize(30000);
        while (list.CanAppendStringValue(value)) list.AppendStringValue(value);
        benchmark::DoNotOptimize(list.get_Value());
    }
}
BENCHMARK(FillTexts);

void FillDates(benchmark::State& state) {
    product::RegisterProductStandIns();
    pelmora::FastString list;
    rt::Variant value = rt::Variant::Date(rt::DateSerial(2020, 1, 31) + rt::TimeSerial(13, 45, 7));
    for (auto _ : state) {
        list.Initialize(30000);
        while (list.CanAppendDateValue(value)) list.AppendDateValue(value);
        benchmark::DoNotOptimize(list.get_Value());
    }
}
BENCHMARK(FillDates);

}  // namespace

BENCHMARK_MAIN();
