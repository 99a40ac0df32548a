// A cached ownership review of main 1001 (the cache scans the valves' shared
// rows, ending the edits open on their views first) while 2,000 and 8,000
// views' rows of valve 5603's attributes are held by the caller, none with an
// edit open, against the same review with no views' rows held. Its cost must
// follow the edits open, not the views held.
// Prints the ratios of the medians (wall and CPU) at both sizes and how each
// side grows from the one to the other.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "BenchmarkTimes.h"
#include "SampleWorld.h"
#include "ado/Recordset.h"
#include "interfaces/Components.h"
#include "pelmora/features/ComponentClone.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "pelmora/features/KeyObject.h"
#include "pelmora/features/KeyObjects.h"
#include "pelmora/features/modFASCache.h"
#include "pelmora/relationships/RelationshipService.h"
#include "runtime/Collection.h"

namespace {

constexpr int kFewer = 2000;
constexpr int kMore = 8000;

struct World : benchsupport::SampleWorld {
    std::shared_ptr<pelmora::FeatureAssemblyService> assembly = std::make_shared<pelmora::FeatureAssemblyService>();
    std::shared_ptr<pelmora::RelationshipService> service = std::make_shared<pelmora::RelationshipService>();
    std::vector<std::shared_ptr<pelmora::IKeyObject>> features;  // valve 5603, main 1001

    World() : SampleWorld("pelmora-cached-review-bench") {
        assembly->putref_DataContext(dc);
        service->putref_DataContext(dc);
        pelmora::SetCaching(true);
        auto keys = pelmora::KeyObjects::New();
        for (auto [fno, fid] : {std::pair<int16_t, int32_t>{102, 5603}, {101, 1001}}) {
            auto key = pelmora::KeyObject::New();
            key->put_FNO(fno);
            key->put_FID(fid);
            keys->Add(key);
            features.push_back(key);
        }
        assembly->OpenFeatures(keys, true);
        for (const auto& feature : features)
            for (const auto& c : feature->get_Components()->get_NewEnum()) c->put_FunctionalInterfacesEnabled(false);
    }
    ~World() {
        features.clear();
        pelmora::SetCaching(false);
    }

    // n rows of the valve's attribute view, each built anew and held.
    std::vector<std::shared_ptr<ado::Recordset>> HoldViews(int n) {
        auto view = std::dynamic_pointer_cast<pelmora::ComponentClone>(
            features[0]->get_Components()->get_Item(rt::Variant("VALVE_ATTR")));
        std::vector<std::shared_ptr<ado::Recordset>> held;
        for (int i = 0; view && i < n; ++i) {
            held.push_back(view->get_Recordset());
            view->ReleaseRecordset();
        }
        return held;
    }
};

World& TheWorld() {
    static World world;
    return world;
}

void Review(benchmark::State& state, int held) {
    World& w = TheWorld();
    const auto views = w.HoldViews(held);
    if (static_cast<int>(views.size()) != held) state.SkipWithError("the views were not built");
    auto helper = w.service->GetRelationshipHelper(1);
    int32_t found = -1;
    for (auto _ : state) {
        auto review = std::dynamic_pointer_cast<rt::Collection>(helper->ReviewRelationship(w.features[1]).Obj());
        found = review ? review->Count() : -1;
    }
    if (found < 0) state.SkipWithError("the review found nothing");
}

void BM_CachedReviewWithViewsHeld(benchmark::State& state) { Review(state, static_cast<int>(state.range(0))); }
BENCHMARK(BM_CachedReviewWithViewsHeld)->Arg(kFewer)->Arg(kMore)->Unit(benchmark::kMicrosecond);

// The same review with none held; the argument only pairs it with the other.
void BM_CachedReviewWithNoViewsHeld(benchmark::State& state) { Review(state, 0); }
BENCHMARK(BM_CachedReviewWithNoViewsHeld)->Arg(kFewer)->Arg(kMore)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    auto times = benchtimes::RunInterleaved(argc, argv);
    if (!times) return 1;
    benchtimes::PrintSizedComparison(*times, "BM_CachedReviewWithViewsHeld", "BM_CachedReviewWithNoViewsHeld", kFewer,
                                     kMore, "views held / none held", "views held", "none held", "views",
                                     "target: at most 1.3");
    return 0;
}
