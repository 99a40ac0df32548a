// The related features of every pending row of a 5,000-row validation set
// (1,000 pending mains, 4,000 relationship rows of valves and hydrants, four
// per main, relationship numbers 3 and 4 alternating): through the bookmark
// index built once by GetValidationKOCollection, against the same lookups
// done with a criteria filter "QTX_RELATED_FID = n" on a clone of the set.
// Prints the ratio at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "BenchmarkTimes.h"
#include "SampleWorld.h"
#include "ado/Recordset.h"
#include "pelmora/features/KeyObjects.h"
#include "interfaces/Components.h"
#include "interfaces/KeyObject.h"
#include "pelmora/validation_set/modFeatureValidationServiceSet.h"
#include "runtime/Vb.h"

namespace {

constexpr int kPending = 1000;
constexpr int kPerMain = 4;
constexpr int32_t kFirstMain = 100000;
constexpr int32_t kFirstRelated = 200000;
constexpr int16_t kRNO = 3;

struct World : benchsupport::SampleWorld {
    ado::RecordsetPtr set;
    std::vector<rt::Variant> pendingBookmarks;
    std::shared_ptr<pelmora::IKeyObjects> features;
    std::shared_ptr<pelmora::IComponents> components;
    int32_t count = 0;

    World() : SampleWorld("pelmora-validation-set-bench") {
        set = ado::Recordset::Create();
        for (const char* name : {"QTX_FNO", "QTX_FID", "PENDING", "QTX_RELATED_FID", "QTX_RELATED_FNO", "QTX_RNO"})
            set->get_Fields()->Append(name, ado::adInteger);
        set->Open();
        auto add = [&](int32_t fno, int32_t fid, int32_t pending, int32_t relatedFid, int32_t rno) {
            set->AddNew();
            const int32_t values[] = {fno, fid, pending, relatedFid, pending ? 0 : 101, rno};
            for (int32_t i = 0; i < 6; ++i) set->SetValue(rt::Variant(i), rt::Variant(values[i]));
            set->Update();
        };
        for (int m = 0; m < kPending; ++m) add(101, kFirstMain + m, 1, 0, 0);
        for (int r = 0; r < kPending * kPerMain; ++r)
            add(r % 2 ? 103 : 102, kFirstRelated + r, 0, kFirstMain + (r * 7919) % kPending, r % 2 ? 4 : kRNO);

        pelmora::GetValidationKOCollection(set, features, components, dc, count);
        for (set->MoveFirst(); !set->get_EOF(); set->MoveNext())
            if (rt::CLng(set->GetValue(rt::Variant("PENDING"))) == 1) pendingBookmarks.push_back(set->get_Bookmark());
    }
    ~World() {
        pelmora::ReleaseValidationSetIndex();
        features.reset();
        components.reset();
        set.reset();
    }
};

World& TheWorld() {
    static World world;
    return world;
}

void BM_GetRelatedFeatures_Index(benchmark::State& state) {
    World& w = TheWorld();
    int32_t found = 0;
    for (auto _ : state) {
        found = 0;
        for (const auto& bookmark : w.pendingBookmarks) {
            w.set->put_Bookmark(bookmark);
            found += pelmora::GetRelatedFeatures(w.set, w.features, kRNO)->get_Count();
        }
    }
    if (found != kPending * kPerMain / 2) state.SkipWithError("wrong number of related features");
    state.SetItemsProcessed(state.iterations() * kPending);
}
BENCHMARK(BM_GetRelatedFeatures_Index)->Unit(benchmark::kMillisecond);

void BM_CriteriaFilterOnClone(benchmark::State& state) {
    World& w = TheWorld();
    auto clone = w.set->Clone();
    auto fno = clone->get_Fields()->Item(std::string("QTX_FNO"));
    auto fid = clone->get_Fields()->Item(std::string("QTX_FID"));
    auto rno = clone->get_Fields()->Item(std::string("QTX_RNO"));
    int32_t found = 0;
    for (auto _ : state) {
        found = 0;
        for (const auto& bookmark : w.pendingBookmarks) {
            w.set->put_Bookmark(bookmark);
            const int32_t active = rt::CLng(w.set->GetValue(rt::Variant("QTX_FID")));
            clone->put_Filter(rt::Variant("QTX_RELATED_FID = " + std::to_string(active)));
            auto related = pelmora::KeyObjects::New();
            for (; !clone->get_EOF(); clone->MoveNext()) {
                if (rt::CLng(rno->get_Value()) != kRNO) continue;
                auto feature = pelmora::FindKeyObject(w.features, rt::CInt(fno->get_Value()), rt::CLng(fid->get_Value()));
                if (feature) related->Add(feature);
            }
            found += related->get_Count();
        }
    }
    if (found != kPending * kPerMain / 2) state.SkipWithError("wrong number of related features");
    state.SetItemsProcessed(state.iterations() * kPending);
}
BENCHMARK(BM_CriteriaFilterOnClone)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    auto times = benchtimes::RunBenchmarks(argc, argv);
    if (!times) return 1;

    auto& t = *times;
    const char* index = "BM_GetRelatedFeatures_Index";
    const char* criteria = "BM_CriteriaFilterOnClone";
    if (t.count(index) && t.count(criteria) && t[index] > 0)
        std::printf("\ncriteria filter on a clone / bookmark index: %.1f\n", t[criteria] / t[index]);
    return 0;
}
