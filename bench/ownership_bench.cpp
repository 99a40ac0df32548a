// IRelationship.Validate of a validation set of 1,000 and of 2,000 pending
// valves, each owned by main 1001 and standing on it, with the valves'
// distance rules on (offsets 0.5 and 3), against GetValidationKOCollection of
// the same set, which opens the features the validation works on. Validate
// builds the features itself (none are held), so its time includes the
// opening. Only the ownership relationship 2 applies to valves here; the
// valve rule names no geometry interface and the attribute rules that name an
// interface or no operator are left out (unregistered interfaces and rules
// without operator report each time, in files and message boxes).
// Prints the ratios of the medians (wall and CPU) at both sizes and how each
// side grows from the one to the other.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "BenchmarkTimes.h"
#include "SampleWorld.h"
#include "ado/Recordset.h"
#include "pelmora/features/KeyObject.h"
#include "pelmora/features/KeyObjects.h"
#include "interfaces/Components.h"
#include "pelmora/relationships/RelationshipService.h"
#include "pelmora/validation_set/modFeatureValidationServiceSet.h"
#include "product/SqliteConnection.h"

namespace {

constexpr int kSmall = 1000;
constexpr int kValves = 2000;
constexpr int32_t kFirstFid = 100000;

void AddValves(product::SqliteDataContext& dc) {
    auto& db = dc.Connection();
    db.ExecuteRaw("DELETE FROM QTX_FEATRELATIONSHIPS_OPTABLE WHERE QTX_FNO = 102 AND QTX_RNO <> 2");
    db.ExecuteRaw("UPDATE QTX_OWNERSHIPRULES_OPTABLE SET QTX_INTERFACE = NULL WHERE QTX_SOURCEFNO = 102");
    db.ExecuteRaw("DELETE FROM QTX_ATTRVAL_OPTABLE WHERE QTX_INTERFACE IS NOT NULL OR QTX_OPERATOR IS NULL");
    for (int i = 0; i < kValves; ++i) {
        const int32_t fid = kFirstFid + i;
        const std::string keys = std::to_string(fid) + ", 102, " + std::to_string(fid);
        // Along the main's first segment, (1000 5000) to (1100 5000).
        const std::string x = std::to_string(1000.0 + 100.0 * i / kValves);
        db.ExecuteRaw("INSERT INTO VALVE_N (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, VALVE_TYPE, SIZE_MM, OWNER_ID, "
                      "OWNER_CNO) VALUES (" + keys + ", 21, 1, 'GATE', 200, 1, 11)");
        db.ExecuteRaw("INSERT INTO QTX_COMMON_N (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, FEATURE_STATE, INSTALL_DATE) "
                      "VALUES (" + keys + ", 1, 1, 'INS', '1998-04-17 00:00:00')");
        db.ExecuteRaw("INSERT INTO VALVE_PT (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID) VALUES (" + keys + ", 22, 1)");
        db.ExecuteRaw("INSERT INTO VALVE_PT_SDOGEOM (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, SDO_GID, SDO_ESEQ, "
                      "SDO_ETYPE, SDO_SEQ, SDO_X1, SDO_Y1, SDO_X2, SDO_Y2) VALUES (" + keys + ", 22, 1, " +
                      std::to_string(fid) + ", 0, 1, 0, " + x + ", 5000, 1, 0)");
    }
}

struct World : benchsupport::SampleWorld {
    std::shared_ptr<pelmora::RelationshipService> service = std::make_shared<pelmora::RelationshipService>();
    // The validation set of the first n valves, by n.
    std::map<int, std::shared_ptr<ado::Recordset>> sets;

    World() : SampleWorld("pelmora-ownership-bench", AddValves) {
        service->putref_DataContext(dc);
        for (int n : {kSmall, kValves}) {
            std::shared_ptr<pelmora::IKeyObjects> features = pelmora::KeyObjects::New();
            for (int i = 0; i < n; ++i) {
                auto k = pelmora::KeyObject::New();
                k->put_FNO(102);
                k->put_FID(kFirstFid + i);
                features->Add(k);
            }
            sets[n] = service->GetFeatureValidationInformation(features);
        }
    }
    ~World() {
        sets.clear();
        service.reset();
    }
};

World& TheWorld() {
    static World world;
    return world;
}

void BM_ValidateOwnedValves(benchmark::State& state) {
    World& w = TheWorld();
    const int n = static_cast<int>(state.range(0));
    auto set = w.sets.at(n);
    int32_t findings = -1;
    for (auto _ : state) {
        // Nothing held: Validate opens the features of the set itself.
        pelmora::ReleaseValidationSetIndex();
        w.service->putref_Features(nullptr);
        w.service->putref_Components(nullptr);
        std::shared_ptr<ado::Recordset> errors;
        w.service->Validate(set, errors);
        findings = errors->get_RecordCount();
    }
    // Every valve stands on its main and links to it: nothing to report.
    if (findings != 0) state.SkipWithError(("unexpected findings: " + std::to_string(findings)).c_str());
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_ValidateOwnedValves)->Arg(kSmall)->Arg(kValves)->Unit(benchmark::kMillisecond);

void BM_OpenTheSet(benchmark::State& state) {
    World& w = TheWorld();
    const int n = static_cast<int>(state.range(0));
    auto set = w.sets.at(n);
    int32_t count = 0;
    for (auto _ : state) {
        std::shared_ptr<pelmora::IKeyObjects> features;
        std::shared_ptr<pelmora::IComponents> components;
        pelmora::GetValidationKOCollection(set, features, components, w.dc, count);
    }
    if (count != n) state.SkipWithError("wrong number of features");
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_OpenTheSet)->Arg(kSmall)->Arg(kValves)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    auto times = benchtimes::RunInterleaved(argc, argv);
    if (!times) return 1;
    benchtimes::PrintSizedComparison(*times, "BM_ValidateOwnedValves", "BM_OpenTheSet", kSmall, kValves,
                                     "Validate / opening the set", "Validate", "opening", "valves",
                                     "target: at most 3");
    return 0;
}
