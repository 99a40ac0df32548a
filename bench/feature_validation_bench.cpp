// ValidateFeatures over 1,000 and over 2,000 features (copies of the sample's
// water main 1001 and valve 2001, half each) against
// FeatureAssemblyService::OpenFeatures of the same features alone, in one
// run. Each copy of the valve stands on its own copy of the main: the copies
// take their own ids, nodes and owner links, so that the network grows with
// the features as a real one does. The sample checks the zone of a main
// against a key table, its material against a domain in the database and the
// valve type against a published (cached) domain; a run of the 2,000 features
// without those checks gives the share of the run the lookups take. Prints
// the ratios of the medians (wall and CPU) and how each side grows from 1,000
// to 2,000 features.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <utility>
#include <string>
#include <vector>

#include "BenchmarkTimes.h"
#include "SampleWorld.h"
#include "support/EditableMetadata.h"
#include "ado/Recordset.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "pelmora/features/KeyObject.h"
#include "pelmora/features/KeyObjects.h"
#include "interfaces/Components.h"
#include "interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataRecordset.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataRecordsets.h"
#include "pelmora/validation/FeatureValidationService.h"
#include "runtime/Vb.h"

namespace {

constexpr int kCopies = 1000;
constexpr int kSmall = kCopies;  // features, half of them
constexpr int kLarge = 2 * kCopies;
constexpr int32_t kFirstMain = 700000;
constexpr int32_t kFirstValve = 800000;
constexpr int32_t kIdOffset = 100000;

void CopyFeature(product::SqliteDataContext& db, const std::vector<std::string>& tables, int32_t fid,
                 int32_t firstFid) {
    for (const auto& table : tables) {
        rt::Variant affected;
        auto shape = db.ExecuteSQL("SELECT * FROM " + table + " WHERE 1 = 0", affected, 1);
        std::string columns, values;
        for (int32_t i = 0; i < shape->FieldCount(); ++i) {
            const std::string name = shape->get_Fields()->Item(i)->get_Name();
            columns += (i ? ", " : "") + name;
            values += i ? ", " : "";
            // Ids, nodes and owner links of a copy are its own.
            if (name == "QTX_ID" || name == "SDO_GID" || name == "NODE_1" || name == "NODE_2" ||
                name == "OWNER_ID" || name == "FEED_ID")
                values += name + " + :offset";
            else if (name == "QTX_FID") values += ":fid";
            else values += name;
        }
        for (int k = 1; k <= kCopies; ++k) {
            std::string sql = "INSERT INTO " + table + " (" + columns + ") SELECT " +
                              rt::Replace(rt::Replace(values, ":offset", std::to_string(k * kIdOffset)), ":fid",
                                          std::to_string(firstFid + k - 1)) +
                              " FROM " + table + " WHERE QTX_FID = " + std::to_string(fid);
            db.ExecuteSQL(sql, affected, 1);
        }
    }
}

// The key and domain columns of the attributes the sample checks.
constexpr int32_t kCheckedAttributes[] = {1101, 1105, 2101};
constexpr const char* kKeyAndDomainColumns[] = {"QTX_FOREIGNKEYTABLE", "QTX_FOREIGNKEYFIELD", "QTX_DOMAINTABLE",
                                                "QTX_DOMAINFIELD"};

struct World : benchsupport::SampleWorld {
    // The first n features (n/2 copies of each), by n.
    std::map<int, std::shared_ptr<pelmora::IKeyObjects>> keys;
    std::shared_ptr<pelmora::FeatureValidationService> service;
    // The attributes' key and domain values as the sample has them.
    std::map<std::pair<int32_t, std::string>, rt::Variant> checks;
    bool checking = true;

    World()
        : SampleWorld("pelmora-feature-validation-bench", [](product::SqliteDataContext& db) {
              CopyFeature(db,
                          {"QTX_COMMON_N", "WATER_MAIN_N", "WATER_MAIN_LN", "WATER_MAIN_LBL", "WATER_LINING_N",
                           "WATER_MAIN_LN_SDOGEOM", "WATER_MAIN_LBL_SDOGEOM"},
                          1001, kFirstMain);
              CopyFeature(db, {"QTX_COMMON_N", "VALVE_N", "VALVE_PT", "VALVE_PT_SDOGEOM"}, 2001, kFirstValve);
          }) {
        for (int n : {kSmall, kLarge}) {
            auto set = pelmora::KeyObjects::New();
            for (int k = 0; k < n / 2; ++k)
                for (auto [fno, fid] : {std::pair<int16_t, int32_t>{101, kFirstMain + k}, {102, kFirstValve + k}}) {
                    auto key = pelmora::KeyObject::New();
                    key->put_FNO(fno);
                    key->put_FID(fid);
                    set->Add(key);
                }
            keys[n] = set;
        }
        service = std::make_shared<pelmora::FeatureValidationService>();
        service->putref_DataContext(dc);
        // Every valve validated against its main walks the sample's rule
        // without operator, which shows its box each time: answered here.
        product::InstallDialogRecorder(boxes);
        // Both runs read the same editable copy of the attribute table.
        auto attributes = pelmora_test::EditableMetadataTable(*metadata, "QTX_ATTRIBUTEINFO_OPTABLE");
        for (attributes->MoveFirst(); !attributes->get_EOF(); attributes->MoveNext())
            for (int32_t ano : kCheckedAttributes)
                if (rt::CLng(attributes->GetValue(rt::Variant("QTX_ANO"))) == ano)
                    for (const char* column : kKeyAndDomainColumns)
                        checks[{ano, column}] = attributes->GetValue(rt::Variant(column));
    }
    ~World() { product::InstallDialogRecorder(nullptr); }

    std::shared_ptr<product::DialogRecorder> boxes = std::make_shared<product::DialogRecorder>();

    // Outside the timed loops: a run with the key and domain checks, or one
    // without them.
    void CheckKeysAndDomains(bool on) {
        if (on == checking) return;
        for (const auto& [attribute, value] : checks)
            pelmora_test::SetMetadataAttribute(*metadata, attribute.first, attribute.second,
                                               on ? value : rt::Variant::Null());
        // The filter service's bookmarks belong to the rows as they were.
        pelmora::ClearFilterServiceCaches();
        checking = on;
    }
};

World& TheWorld() {
    static World world;
    return world;
}

void BM_OpenFeatures(benchmark::State& state) {
    World& w = TheWorld();
    const int n = static_cast<int>(state.range(0));
    auto keys = w.keys.at(n);
    auto assembly = std::make_shared<pelmora::FeatureAssemblyService>();
    assembly->putref_DataContext(w.dc);
    int32_t opened = 0;
    for (auto _ : state) opened = assembly->OpenFeatures(keys) ? keys->get_Count() : 0;
    if (opened != n) state.SkipWithError("features not opened");
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_OpenFeatures)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMillisecond);

void Validate(benchmark::State& state, bool checkKeysAndDomains) {
    World& w = TheWorld();
    const int n = static_cast<int>(state.range(0));
    auto keys = w.keys.at(n);
    w.CheckKeysAndDomains(checkKeysAndDomains);
    int32_t findings = -1;
    for (auto _ : state) findings = w.service->ValidateFeatures(keys)->get_RecordCount();
    if (findings < 0) state.SkipWithError("no findings recordset");
    state.counters["findings"] = findings;
    state.SetItemsProcessed(state.iterations() * n);
}

void BM_ValidateFeatures(benchmark::State& state) { Validate(state, true); }
BENCHMARK(BM_ValidateFeatures)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMillisecond);

void BM_ValidateFeatures_WithoutKeysAndDomains(benchmark::State& state) { Validate(state, false); }
BENCHMARK(BM_ValidateFeatures_WithoutKeysAndDomains)->Arg(kLarge)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    auto times = benchtimes::RunInterleaved(argc, argv);
    if (!times) return 1;
    const auto& t = *times;
    benchtimes::PrintSizedComparison(t, "BM_ValidateFeatures", "BM_OpenFeatures", kSmall, kLarge,
                                     "validation / opening", "validation", "opening", "features",
                                     "target: at most 4");
    const std::string large = "/" + std::to_string(kLarge);
    const std::string with = "BM_ValidateFeatures" + large, without = "BM_ValidateFeatures_WithoutKeysAndDomains" + large;
    if (t.Has(with) && t.Has(without)) {
        // A difference smaller than the runs' own spread has no sign to trust.
        const double wall = 1.0 - t.wall.at(without) / t.wall.at(with);
        const double cpu = 1.0 - t.cpu.at(without) / t.cpu.at(with);
        if (wall > 0 && cpu > 0)
            std::printf("share of the key and domain lookups, 2,000 features: %.0f%% wall, %.0f%% CPU\n",
                        100 * wall, 100 * cpu);
        else
            std::printf("share of the key and domain lookups, 2,000 features: below what the runs' spread "
                        "can show (the run without them was not faster)\n");
    }
    return 0;
}
