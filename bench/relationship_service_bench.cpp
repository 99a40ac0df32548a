// AllApplicableRelationships for an Integer array of 2,000 feature numbers
// over a 40,000-row feature-relationship table, against one plain pass over
// a clone of the table that gathers the same numbers with a hash set. Prints
// the ratio of the two at the end, and that of the first call in an
// apartment, which fills the filter service's caches.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <unordered_set>
#include <vector>

#include "BenchmarkTimes.h"
#include "ado/Recordset.h"
#include "interfaces/DataContext.h"
#include "interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataRecordsets.h"
#include "pelmora/relationships/RelationshipService.h"
#include "product/StandIns.h"
#include "runtime/Error.h"
#include "runtime/Object.h"
#include "runtime/Vb.h"

namespace {

constexpr int kRows = 40000;
constexpr int kFeatureNumbers = 4000;  // 10 rows each; every other one is asked for
constexpr int kAsked = 2000;
constexpr int kRelationships = 300;

ado::FieldDesc Desc(const std::string& name, ado::DataTypeEnum type) {
    ado::FieldDesc d;
    d.name = name;
    d.type = type;
    return d;
}

ado::RecordsetPtr FeatureRelationships() {
    ado::RecordsetImage image;
    image.source = "QTX_FEATRELATIONSHIPS_OPTABLE";
    image.fields = {Desc("QTX_FNO", ado::adSmallInt), Desc("QTX_RNO", ado::adSmallInt)};
    for (int i = 0; i < kRows; ++i) {
        const int fno = i % kFeatureNumbers + 1;
        image.values.emplace_back(static_cast<int16_t>(fno));
        image.values.emplace_back(static_cast<int16_t>((fno * 7 + i / kFeatureNumbers * 13) % kRelationships + 1));
    }
    return ado::Recordset::FromImage(std::move(image), ado::adLockOptimistic, ado::adOpenDynamic);
}

ado::RecordsetPtr Relationships() {
    ado::RecordsetImage image;
    image.source = "QTX_RELATIONSHIPS_OPTABLE";
    image.fields = {Desc("QTX_RNO", ado::adSmallInt), Desc("QTX_TYPE", ado::adSmallInt),
                    Desc("QTX_USERNAME", ado::adVarWChar), Desc("QTX_OPTIMIZEDTABLE", ado::adVarWChar),
                    Desc("QTX_SUBORDINATE", ado::adSmallInt)};
    for (int rno = 1; rno <= kRelationships; ++rno) {
        image.values.emplace_back(static_cast<int16_t>(rno));
        image.values.emplace_back(static_cast<int16_t>(5));
        image.values.emplace_back("Relationship " + std::to_string(rno));
        image.values.emplace_back("QTX_RULES_OPTABLE");
        image.values.emplace_back(static_cast<int16_t>(0));
    }
    return ado::Recordset::FromImage(std::move(image), ado::adLockOptimistic, ado::adOpenDynamic);
}

// The two metadata tables, served as the metadata service serves them.
class BenchMetadata : public rt::Object, public pelmora::IMetadataService {
public:
    BenchMetadata() {
        recordsets_->AppendRecordset("QTX_FEATRELATIONSHIPS_OPTABLE", "QTX_FEATRELATIONSHIPS_OPTABLE",
                                     FeatureRelationships());
        recordsets_->AppendRecordset("QTX_RELATIONSHIPS_OPTABLE", "QTX_RELATIONSHIPS_OPTABLE", Relationships());
    }
    std::string get_CacheDirectory() override { return ""; }
    std::string get_CacheFormat() override { return ""; }
    std::string get_CacheMode() override { return ""; }
    void put_Configuration(const std::string&) override {}
    std::string get_Configuration() override { return "bench"; }
    std::shared_ptr<pelmora::IMetadataRecordsets> get_Recordsets() override {
        return rt::QueryInterface<pelmora::IMetadataRecordsets>(recordsets_);
    }
    void DeleteRecords(const rt::Variant&) override {}
    void Fetch(const std::string&) override {}
    void SaveConfiguration(const std::string&, const std::string&, const std::string&, bool) override {}
    bool IsRoleGranted(const std::string&) override { return true; }
    void Refresh() override {}
    void RefreshDynamicEdits(const std::shared_ptr<pelmora::IDataContext>&, const rt::Variant&) override {}
    void RefreshRecordsDelete() override {}
    void SetActiveUser(const std::shared_ptr<pelmora::IDataContext>&, const std::string&) override {}

private:
    std::shared_ptr<pelmora::MetadataRecordsets> recordsets_ = std::make_shared<pelmora::MetadataRecordsets>();
};

// A context that only hands out the metadata.
class BenchContext : public rt::Object, public pelmora::IDataContext {
public:
    std::shared_ptr<pelmora::IMetadataService> GetMetadataService() override { return metadata_; }
    int32_t DataMode() override { return 0; }
    std::shared_ptr<ado::Recordset> ExecuteSQL(const std::string&, rt::Variant&, int32_t) override { return Fail(); }
    std::shared_ptr<ado::Recordset> ExecuteCommand(const std::shared_ptr<ado::Command>&, rt::Variant&) override {
        return Fail();
    }
    std::shared_ptr<ado::Recordset> OpenRecordset(const std::string&) override { return Fail(); }
    void UpdateRecordset(const std::shared_ptr<ado::Recordset>&, int32_t) override { Fail(); }
    std::shared_ptr<ado::Recordset> OpenParameterizedRecordset(const std::string&, int32_t, int32_t, int32_t,
                                                               rt::Variant&) override {
        return Fail();
    }
    std::shared_ptr<ado::Recordset> ExecuteParameterizedSQL(const std::string&, rt::Variant&, int32_t,
                                                            rt::Variant&) override {
        return Fail();
    }
    std::shared_ptr<ado::Recordset> OpenParameterizedRecordsetEx(const std::string&, int32_t, int32_t, int32_t,
                                                                 rt::Variant&) override {
        return Fail();
    }

private:
    static std::shared_ptr<ado::Recordset> Fail() { rt::RaiseVbError(rt::vberr::InvalidProcedureCall); }
    std::shared_ptr<BenchMetadata> metadata_ = std::make_shared<BenchMetadata>();
};

std::shared_ptr<BenchContext>& Context() {
    static auto context = std::make_shared<BenchContext>();
    return context;
}

rt::Variant AskedNumbers() {
    auto a = rt::Variant::MakeArray(rt::vbInteger, 1, kAsked);
    for (int i = 1; i <= kAsked; ++i) a.ArrayMut()->Set(i, rt::Variant(static_cast<int16_t>(2 * i)));
    return a;
}

void BM_AllApplicableRelationships(benchmark::State& state) {
    product::RegisterProductStandIns();
    pelmora::ClearFilterServiceCaches();
    auto service = std::make_shared<pelmora::RelationshipService>();
    service->putref_DataContext(Context());
    const rt::Variant fnos = AskedNumbers();
    rt::Variant result;
    for (auto _ : state) benchmark::DoNotOptimize(result = service->AllApplicableRelationships(fnos));
    if (rt::UBound(result) != kRelationships) state.SkipWithError("wrong count of numbers");
}
BENCHMARK(BM_AllApplicableRelationships)->Unit(benchmark::kMillisecond);

// The first call in an apartment, which caches the rows of every FNO in one
// pass over the table.
void BM_AllApplicableRelationships_FirstCall(benchmark::State& state) {
    product::RegisterProductStandIns();
    auto service = std::make_shared<pelmora::RelationshipService>();
    service->putref_DataContext(Context());
    const rt::Variant fnos = AskedNumbers();
    rt::Variant result;
    for (auto _ : state) {
        state.PauseTiming();
        pelmora::ClearFilterServiceCaches();
        state.ResumeTiming();
        benchmark::DoNotOptimize(result = service->AllApplicableRelationships(fnos));
    }
    if (rt::UBound(result) != kRelationships) state.SkipWithError("wrong count of numbers");
}
BENCHMARK(BM_AllApplicableRelationships_FirstCall)->Unit(benchmark::kMillisecond);

void BM_PlainPassOverClone(benchmark::State& state) {
    auto table = Context()->GetMetadataService()->get_Recordsets()->get_Item(
        rt::Variant("QTX_FEATRELATIONSHIPS_OPTABLE"))->get_Recordset("", "");
    const rt::Variant fnos = AskedNumbers();
    size_t found = 0;
    for (auto _ : state) {
        std::unordered_set<int16_t> asked;
        for (const auto& v : fnos.Array()->Data()) asked.insert(v.I2());
        std::unordered_set<int16_t> seen;
        std::vector<int16_t> numbers;
        const rt::Variant fnoField("QTX_FNO");
        const rt::Variant rnoField("QTX_RNO");
        for (table->MoveFirst(); !table->get_EOF(); table->MoveNext()) {
            if (!asked.count(rt::CInt(table->GetValue(fnoField)))) continue;
            const int16_t rno = rt::CInt(table->GetValue(rnoField));
            if (seen.insert(rno).second) numbers.push_back(rno);
        }
        found = numbers.size();
        benchmark::DoNotOptimize(numbers.data());
    }
    if (found != kRelationships) state.SkipWithError("wrong count of numbers");
}
BENCHMARK(BM_PlainPassOverClone)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    auto times = benchtimes::RunBenchmarks(argc, argv);
    if (!times) return 1;
    auto& t = *times;
    const char* service = "BM_AllApplicableRelationships";
    const char* first = "BM_AllApplicableRelationships_FirstCall";
    const char* plain = "BM_PlainPassOverClone";
    if (t.count(service) && t.count(plain) && t[plain] > 0)
        std::printf("\nAllApplicableRelationships / plain pass: %.2f (target at most 3)\n", t[service] / t[plain]);
    if (t.count(first) && t.count(plain) && t[plain] > 0)
        std::printf("first call in the apartment / plain pass: %.2f\n", t[first] / t[plain]);
    return 0;
}
