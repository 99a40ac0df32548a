// Validate of valve 2001 against main 1001 with 10 and with 100 comparison
// rules for the valve's FNO (half against the main's diameter, half against
// their own value; all met), and the filtered metadata clone that each rule's
// data-type lookup makes. Prints how the walk grows with the rules and what
// one rule costs against one clone.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "BenchmarkTimes.h"
#include "ado/Recordset.h"
#include "pelmora/Registration.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "interfaces/KeyObject.h"
#include "interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataService.h"
#include "pelmora/attribute_validation/AttributeValidationService.h"
#include "product/MetadataCacheBuilder.h"
#include "product/Notification.h"
#include "product/SampleDatabase.h"
#include "product/SqliteConnection.h"
#include "product/SqliteDataContext.h"
#include "product/StandIns.h"
#include "runtime/Vb.h"

namespace {

std::filesystem::path BenchFolder() {
    const char* tmp = std::getenv("TMPDIR");
    return std::filesystem::path(tmp && *tmp ? tmp : "/tmp") /
           ("pelmora-attribute-validation-bench-" + std::to_string(::getpid()));
}

// The sample with its valve rules replaced by `rules` comparison rules, its
// own cache and configuration, the valve and the main opened.
struct World {
    std::shared_ptr<product::SqliteDataContext> dc;
    std::shared_ptr<pelmora::MetadataService> metadata;
    std::shared_ptr<pelmora::FeatureAssemblyService> assembly;
    std::shared_ptr<pelmora::IKeyObject> valve, main;

    explicit World(int rules) {
        const auto dir = BenchFolder() / std::to_string(rules);
        std::filesystem::create_directories(dir);
        const std::string db = (dir / "sample.db").string();
        product::BuildSampleDatabase(db);
        {
            product::SqliteConnection c(db, {});
            c.Execute("DELETE FROM QTX_ATTRVAL_OPTABLE");
            for (int i = 1; i <= rules; ++i) {
                const std::string n = std::to_string(i);
                c.Execute(i % 2 ? "INSERT INTO QTX_ATTRVAL_OPTABLE (QTX_RULENO, QTX_ACTIVEFNO, QTX_ACTIVECNO, "
                                  "QTX_ACTIVEANO, QTX_ACTIVENAME, QTX_ACTIVEFIELDNAME, QTX_RELATEDFNO, QTX_RELATEDANO, "
                                  "QTX_RELATEDNAME, QTX_RELATEDFIELDNAME, QTX_OPERATOR, QTX_PRIORITY, "
                                  "QTX_OPERATIONTYPE) VALUES (" + n + ", 102, 21, 2103, 'VALVE_ATTR', 'SIZE_MM', 101, "
                                  "1102, 'WATER_MAIN_ATTR', 'DIAMETER', '<=', 1, 1)"
                                : "INSERT INTO QTX_ATTRVAL_OPTABLE (QTX_RULENO, QTX_ACTIVEFNO, QTX_ACTIVECNO, "
                                  "QTX_ACTIVEANO, QTX_ACTIVENAME, QTX_ACTIVEFIELDNAME, QTX_OPERATOR, "
                                  "QTX_VALIDATIONVALUE, QTX_PRIORITY, QTX_OPERATIONTYPE) VALUES (" + n +
                                      ", 102, 21, 2103, 'VALVE_ATTR', 'SIZE_MM', '>=', '100', 1, 1)");
            }
        }
        product::CacheBuildOptions options;
        options.databasePath = db;
        options.cacheDirectory = (dir / "cache").string();
        options.configurationName = "Bench " + std::to_string(rules);
        options.configurationMapPath = (BenchFolder() / "ConfigurationMap.txt").string();
        auto built = product::BuildMetadataCache(options);
        ::setenv("PELMORA_CONFIGURATION_MAP", built.configurationMapPath.c_str(), 1);

        metadata = std::make_shared<pelmora::MetadataService>();
        metadata->put_Configuration(options.configurationName);
        dc = product::SqliteDataContext::Open(db);
        dc->putref_MetadataService(rt::QueryInterface<pelmora::IMetadataService>(metadata));
        metadata->SetActiveUser(dc, "MBROWN");
        assembly = std::make_shared<pelmora::FeatureAssemblyService>();
        assembly->putref_DataContext(dc);
        valve = assembly->OpenFeature(102, 2001);
        main = assembly->OpenFeature(101, 1001);
    }
};

struct Worlds {
    std::unique_ptr<World> ten, hundred;
    Worlds() {
        product::RegisterProductStandIns();
        product::RegisterApplicationClasses();
        pelmora::RegisterSystemClasses();
        ten = std::make_unique<World>(10);
        hundred = std::make_unique<World>(100);
    }
    ~Worlds() {
        ten.reset();
        hundred.reset();
        std::error_code ec;
        std::filesystem::remove_all(BenchFolder(), ec);
    }
};

Worlds& TheWorlds() {
    static Worlds worlds;
    return worlds;
}

void ValidatePair(benchmark::State& state, World& w) {
    auto service = std::make_shared<pelmora::AttributeValidationService>();
    service->putref_DataContext(w.dc);
    service->putref_ActiveFeature(w.valve);
    service->putref_RelatedFeature(w.main);
    for (auto _ : state) {
        rt::Variant priorities, messages;
        service->Validate(priorities, messages);
        if (!priorities.IsEmpty()) state.SkipWithError("a rule failed");
    }
}

void BM_Validate10Rules(benchmark::State& state) { ValidatePair(state, *TheWorlds().ten); }
BENCHMARK(BM_Validate10Rules)->Unit(benchmark::kMicrosecond);

void BM_Validate100Rules(benchmark::State& state) { ValidatePair(state, *TheWorlds().hundred); }
BENCHMARK(BM_Validate100Rules)->Unit(benchmark::kMicrosecond);

void BM_FilteredMetadataClone(benchmark::State& state) {
    auto item = rt::QueryInterface<pelmora::IMetadataService>(TheWorlds().hundred->metadata)
                    ->get_Recordsets()
                    ->get_Item(rt::Variant("QTX_ATTRIBUTEINFO_OPTABLE"));
    for (auto _ : state) {
        auto rs = item->get_Recordset("QTX_ANO = 2103", "");
        benchmark::DoNotOptimize(rt::CLng(rs->GetValue(rt::Variant("QTX_DATATYPE"))));
    }
}
BENCHMARK(BM_FilteredMetadataClone)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    auto times = benchtimes::RunBenchmarks(argc, argv);
    if (!times) return 1;
    auto& t = *times;
    const double ten = t["BM_Validate10Rules"], hundred = t["BM_Validate100Rules"], clone = t["BM_FilteredMetadataClone"];
    if (ten > 0 && clone > 0) {
        std::printf("\n100 rules / 10 rules:            %.2f (linear: 10)\n", hundred / ten);
        std::printf("one rule (of 100) / one clone:   %.2f\n", hundred / 100 / clone);
        std::printf("one more rule / one clone:       %.2f\n", (hundred - ten) / 90 / clone);
    }
    return 0;
}
