// Validate of the dimensioning helper (dimension side) on 200 simple
// dimensions whose base main has 10 and 1,000 vertices; each dimension's
// point lies on the main's last vertex, so the whole main is searched. Prints
// how the 1,000-vertex time compares with the 10-vertex one.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "BenchmarkTimes.h"
#include "SampleWorld.h"
#include "ado/Recordset.h"
#include "pelmora/dimensioning_stationing/Dimensioning.h"
#include "interfaces/Components.h"
#include "interfaces/KeyObject.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/findings/modFeatureValidationService.h"
#include "pelmora/validation_set/modFeatureValidationServiceSet.h"
#include "product/SqliteConnection.h"

namespace {

constexpr int kDimensions = 200;
constexpr int16_t kDimensionSide = 11;

struct Main {
    int fid, id, vertices, firstDimension;
};
constexpr Main kSmall{7001, 101, 10, 8000}, kLarge{7002, 102, 1000, 8200};

std::string Number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", v);
    return text;
}

void AddMain(product::SqliteConnection& db, const Main& m) {
    const std::string keys = std::to_string(m.id) + ", 101, " + std::to_string(m.fid) + ", 12, 1";
    db.ExecuteRaw("INSERT INTO WATER_MAIN_LN (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, LINE_STYLE) VALUES (" + keys +
                  ", 1)");
    // A zigzag, four pairs per row.
    for (int row = 0; row * 4 < m.vertices; ++row) {
        std::string sql = "INSERT INTO WATER_MAIN_LN_SDOGEOM (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, SDO_GID, "
                          "SDO_ESEQ, SDO_ETYPE, SDO_SEQ, SDO_X1, SDO_Y1, SDO_X2, SDO_Y2, SDO_X3, SDO_Y3, SDO_X4, "
                          "SDO_Y4) VALUES (" + keys + ", " + std::to_string(m.id) + ", 0, 2, " + std::to_string(row);
        for (int k = row * 4; k < row * 4 + 4; ++k)
            sql += k < m.vertices ? ", " + Number(k) + ", " + Number(k % 2) : ", NULL, NULL";
        db.ExecuteRaw(sql + ")");
    }
    const std::string last = Number(m.vertices - 1) + ", " + Number((m.vertices - 1) % 2);
    for (int i = 0; i < kDimensions; ++i) {
        const int fid = m.firstDimension + i, id = fid;
        const std::string dim = std::to_string(id) + ", 107, " + std::to_string(fid) + ", 71, 1";
        db.ExecuteRaw("INSERT INTO DIM_SIMPLE_LN (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, BASE_CNO, BASE_ID) VALUES (" +
                      dim + ", 12, " + std::to_string(m.id) + ")");
        db.ExecuteRaw("INSERT INTO DIM_SIMPLE_LN_SDOGEOM (QTX_ID, QTX_FNO, QTX_FID, QTX_CNO, QTX_CID, SDO_GID, SDO_ESEQ, "
                      "SDO_ETYPE, SDO_SEQ, SDO_X1, SDO_Y1, SDO_X2, SDO_Y2) VALUES (" +
                      dim + ", " + std::to_string(id) + ", 0, 2, 0, " + last + ", " + last + ")");
    }
}

benchsupport::SampleWorld& World() {
    static benchsupport::SampleWorld world("pelmora-dimensioning-bench", [](product::SqliteDataContext& setup) {
        AddMain(setup.Connection(), kSmall);
        AddMain(setup.Connection(), kLarge);
    });
    return world;
}

void Validate(benchmark::State& state, const Main& m) {
    auto& world = World();
    auto set = ado::Recordset::Create();
    for (const char* name : {"QTX_FNO", "QTX_FID", "PENDING", "QTX_RELATED_FID", "QTX_RELATED_FNO", "QTX_RNO"})
        set->get_Fields()->Append(name, ado::adInteger);
    set->Open();
    auto add = [&](int fno, int fid, int pending, int relatedFid) {
        set->AddNew();
        for (auto [field, value] : {std::pair{"QTX_FNO", fno}, {"QTX_FID", fid}, {"PENDING", pending},
                                    {"QTX_RELATED_FID", relatedFid}, {"QTX_RELATED_FNO", 107},
                                    {"QTX_RNO", int{kDimensionSide}}})
            set->SetValue(rt::Variant(field), rt::Variant(int32_t{value}));
        set->Update();
    };
    for (int i = 0; i < kDimensions; ++i) add(107, m.firstDimension + i, 1, 0);
    for (int i = 0; i < kDimensions; ++i) add(101, m.fid, 0, m.firstDimension + i);
    std::shared_ptr<pelmora::IKeyObjects> features;
    std::shared_ptr<pelmora::IComponents> components;
    int32_t count = 0;
    pelmora::GetValidationKOCollection(set, features, components, world.dc, count);

    auto helper = std::make_shared<pelmora::Dimensioning>();
    helper->putref_DataContext(world.dc);
    helper->putref_MDRSFilterService(std::make_shared<pelmora::MetadataRecordsetFilterService>());
    helper->put_RelationshipNumber(kDimensionSide);
    for (auto _ : state) {
        auto errors = pelmora::CreateValidationRecordset();
        helper->Validate(features, components, set, nullptr, errors);
        if (!(errors->get_BOF() && errors->get_EOF())) state.SkipWithError("a dimension was reported");
    }
}

void BM_Validate200Dimensions_10Vertices(benchmark::State& s) { Validate(s, kSmall); }
void BM_Validate200Dimensions_1000Vertices(benchmark::State& s) { Validate(s, kLarge); }
BENCHMARK(BM_Validate200Dimensions_10Vertices)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Validate200Dimensions_1000Vertices)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    auto times = benchtimes::RunBenchmarks(argc, argv);
    if (!times) return 1;
    auto& t = *times;
    const char* large = "BM_Validate200Dimensions_1000Vertices";
    const char* small = "BM_Validate200Dimensions_10Vertices";
    if (t.count(large) && t.count(small) && t[small] > 0)
        std::printf("\n1,000 vertices / 10 vertices (target <= 150): %.1f\n", t[large] / t[small]);
    return 0;
}
