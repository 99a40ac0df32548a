// The relationship geometry host for a main whose rule rows name 200 RGIs
// (20 distinct cheap ProgID objects, each reporting one finding): a helper's
// whole validation step (Initialize, then Validate, which loads the 20
// objects again), Validate alone once they are loaded, and the Validate of
// the 20 objects called directly. Prints the ratios to the direct calls.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "BenchmarkTimes.h"
#include "SampleWorld.h"
#include "pelmora/extensions/RGIHelper.h"
#include "pelmora/extensions/RGIUnsupportedMembers.h"
#include "pelmora/features/KeyObject.h"
#include "interfaces/MetadataRecordsetFilterService.h"
#include "pelmora/relationships/RelationshipHelperBase.h"
#include "runtime/Object.h"
#include "runtime/Vb.h"

namespace {

constexpr int kRows = 200;
constexpr int kDistinct = 20;

std::string ProgIdOf(int k) { return "Bench.RGI" + std::to_string(k); }

// An RGI that reports one finding and does nothing else.
class CheapRGI : public rt::Object, public pelmora::RGIUnsupportedMembers {
public:
    void put_ProcessingMode(int32_t v) override { mode_ = v; }
    int32_t get_ProcessingMode() override { return mode_; }
    void Initialize(const std::shared_ptr<pelmora::IRelationshipHelper>&) override {}
    void Validate(const std::shared_ptr<pelmora::IRelationshipHelper>&, rt::Variant& priorities,
                  rt::Variant& messages) override {
        priorities = rt::Variant::ArrayOf({rt::Variant("Warning")});
        messages = rt::Variant::ArrayOf({rt::Variant("too close")});
    }
    int16_t get_RelatedFNO() override { return fno_; }
    void put_RelatedFNO(int16_t v) override { fno_ = v; }
    int16_t get_RelatedCNO() override { return cno_; }
    void put_RelatedCNO(int16_t v) override { cno_ = v; }

protected:
    void NotSupported() override {}

private:
    int32_t mode_ = 0;
    int16_t fno_ = 0, cno_ = 0;
};

// A helper of relationship 1 with the template members only.
class BenchHelper : public pelmora::RelationshipHelperBase {
public:
    rt::Variant CandidateFeatures(const std::shared_ptr<pelmora::IKeyObject>&) override { return rt::Variant::Null(); }
    bool CanRelate(const std::shared_ptr<pelmora::IKeyObject>&, int16_t) override { return false; }
    void DeleteRelationship(const std::shared_ptr<pelmora::IKeyObject>&, const std::shared_ptr<pelmora::IKeyObject>&,
                            int32_t, int32_t) override {}
    pelmora::RelationshipTypeConstants get_RelationshipType() override { return pelmora::qzrelOwnership; }
    rt::Variant ReviewRelationship(const std::shared_ptr<pelmora::IKeyObject>&) override { return rt::Variant::Nothing(); }
    rt::Variant ReviewRelationshipHierarchy(const std::shared_ptr<pelmora::IKeyObject>&) override { return {}; }
    void SilentEstablishRelationship(const std::shared_ptr<pelmora::IKeyObject>&,
                                     const std::shared_ptr<pelmora::IKeyObject>&, int32_t, int32_t) override {}
    void Validate(const std::shared_ptr<pelmora::IKeyObjects>&, const std::shared_ptr<pelmora::IComponents>&,
                  const std::shared_ptr<ado::Recordset>&, const std::shared_ptr<rt::Collection>&,
                  const std::shared_ptr<ado::Recordset>&) override {}
};

struct World : benchsupport::SampleWorld {
    std::shared_ptr<BenchHelper> helper = std::make_shared<BenchHelper>();
    std::shared_ptr<pelmora::IRelationshipHelper> self = helper;

    World() : SampleWorld("pelmora-rgi-host-bench", [](product::SqliteDataContext& db) {
        std::string sql = "DELETE FROM QTX_OWNERSHIPRULES_OPTABLE;\n";
        for (int i = 0; i < kRows; ++i)
            sql += "INSERT INTO QTX_OWNERSHIPRULES_OPTABLE (QTX_SOURCEFNO, QTX_OWNERFNO, QTX_TRIGGERINGCNO, "
                   "QTX_OWNERTRIGGERINGCNO, QTX_OWNERINTERFACE) VALUES (102, 101, 22, 12, '" +
                   ProgIdOf(i % kDistinct) + "');\n";
        db.ExecuteScript(sql);
    }) {
        for (int k = 0; k < kDistinct; ++k)
            rt::RegisterClass(ProgIdOf(k), "", [] { return std::make_shared<CheapRGI>(); });
        helper->putref_DataContext(dc);
        helper->putref_MDRSFilterService(rt::CreateObject(pelmora::kMetadataRecordsetFilterServiceProgId));
        helper->put_RelationshipNumber(1);
        auto main = std::make_shared<pelmora::KeyObject>();
        main->put_FNO(101);
        main->put_FID(1001);
        helper->putref_Feature(main);
    }
};

World& TheWorld() {
    static World world;
    return world;
}

void Check(benchmark::State& state, const rt::Variant& priorities) {
    if (rt::UBound(priorities) != kDistinct - 1) state.SkipWithError("wrong count of findings");
}

void BM_HostInitializeAndValidate(benchmark::State& state) {
    auto& w = TheWorld();
    pelmora::RGIHelper host;
    rt::Variant p, m;
    for (auto _ : state) {
        host.Initialize(w.self);
        host.Validate(w.self, p, m);
    }
    Check(state, p);
}
BENCHMARK(BM_HostInitializeAndValidate)->Unit(benchmark::kMicrosecond);

void BM_HostValidateLoaded(benchmark::State& state) {
    auto& w = TheWorld();
    pelmora::RGIHelper host;
    rt::Variant p, m;
    host.Initialize(w.self);
    host.Validate(w.self, p, m);
    for (auto _ : state) host.Validate(w.self, p, m);
    Check(state, p);
}
BENCHMARK(BM_HostValidateLoaded)->Unit(benchmark::kMicrosecond);

void BM_DirectValidate(benchmark::State& state) {
    auto& w = TheWorld();
    std::vector<std::shared_ptr<pelmora::RelationshipGeometryInterface>> rgis;
    for (int k = 0; k < kDistinct; ++k)
        rgis.push_back(rt::QueryInterface<pelmora::RelationshipGeometryInterface>(rt::CreateObject(ProgIdOf(k))));
    for (auto _ : state) {
        for (const auto& rgi : rgis) {
            rt::Variant p, m;
            rgi->Validate(w.self, p, m);
            benchmark::DoNotOptimize(p);
        }
    }
}
BENCHMARK(BM_DirectValidate)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    auto times = benchtimes::RunBenchmarks(argc, argv);
    if (!times) return 1;
    auto& t = *times;
    const char* direct = "BM_DirectValidate";
    if (!t.count(direct) || t[direct] <= 0) return 0;
    for (const char* host : {"BM_HostInitializeAndValidate", "BM_HostValidateLoaded"})
        if (t.count(host)) std::printf("%s / %s: %.1f\n", host, direct, t[host] / t[direct]);
    return 0;
}
