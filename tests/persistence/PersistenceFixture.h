#pragma once
// Shared set-up of the persistence tests: components of a writable copy of
// the sample network, saved through ComponentDatabaseService over a data
// context that records the blocks it is given and can spoil one of them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ado/Command.h"
#include "ado/Recordset.h"
#include "pelmora/common/modADOUtils.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/features/Component.h"
#include "interfaces/Components.h"
#include "interfaces/DataContext.h"
#include "interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataService.h"
#include "pelmora/persistence/ComponentDatabaseService.h"
#include "product/Notification.h"
#include "product/SqliteDataContext.h"
#include "product/StandIns.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"
#include "support/SampleEnvironment.h"
#include "support/SampleServices.h"
#include "support/RecordingContext.h"

namespace persistencetest {

using pelmora_test::RecordingContext;

class PersistenceFixture : public pelmora_test::SampleServicesTest {
protected:
    PersistenceFixture() : SampleServicesTest("persistence") {}

    void SetUp() override {
        SampleServicesTest::SetUp();
        metadata_ = pelmora_test::OpenSampleMetadata();
        sqlite_ = pelmora_test::OpenSampleContext(metadata_);
        dc_ = std::make_shared<RecordingContext>(sqlite_);
    }

    void TearDown() override {
        dc_.reset();
        sqlite_.reset();
        metadata_.reset();
        SampleServicesTest::TearDown();
    }

    std::shared_ptr<pelmora::Component> NewComponent(int16_t cno, std::vector<int32_t> fids) {
        auto c = std::make_shared<pelmora::Component>();
        c->putref_DataContext(dc_);
        c->put_CNO(cno);
        for (int32_t f : fids) c->AddFID(rt::Variant(f));
        return c;
    }

    std::shared_ptr<pelmora::ComponentDatabaseService> NewService() {
        auto s = std::make_shared<pelmora::ComponentDatabaseService>();
        s->putref_DataContext(dc_);
        return s;
    }

    // Saves the components in one batch.
    void Save(const std::vector<std::shared_ptr<pelmora::Component>>& components) {
        auto s = NewService();
        s->BeginComponentOperations();
        for (const auto& c : components) s->UpdateComponent(c);
        s->EndComponentOperations();
    }

    // The rows of a query on the database as it stands, fields joined by "|".
    std::vector<std::string> Rows(const std::string& sql) {
        std::vector<std::string> out;
        auto rs = sqlite_->OpenRecordset(sql);
        if (!rs || rs->get_State() == ado::adStateClosed) return out;
        for (; !rs->get_EOF(); rs->MoveNext()) {
            std::string line;
            for (int32_t k = 0; k < rs->FieldCount(); ++k) {
                rt::Variant v = rs->FieldValue(k);
                line += (k ? "|" : "") + (v.IsNull() ? std::string("Null") : rt::CStr(v));
            }
            out.push_back(line);
        }
        return out;
    }

    // Every component and geometry table of the sample, row by row.
    std::vector<std::string> Everything() {
        std::vector<std::string> all;
        for (const char* t : {"QTX_COMMON_N", "WATER_MAIN_N", "WATER_MAIN_LN", "WATER_MAIN_LBL", "WATER_LINING_N",
                              "VALVE_N", "VALVE_PT", "HYDRANT_N", "HYDRANT_PT", "HYDRANT_INSP_N", "SERVICE_N",
                              "SERVICE_LN", "WATER_MAIN_LN_SDOGEOM", "VALVE_PT_SDOGEOM", "HYDRANT_PT_SDOGEOM"}) {
            for (auto& r : Rows(std::string("SELECT * FROM ") + t + " ORDER BY 1, 2, 3, 4, 5, 6, 7"))
                all.push_back(std::string(t) + ":" + r);
        }
        return all;
    }

    static std::string Message(int32_t id) { return pelmora::LoadResStringWithParams(static_cast<int16_t>(id)); }
    static int32_t Err(int32_t n) { return pelmora::kErrorBase + n; }

    std::shared_ptr<pelmora::MetadataService> metadata_;
    std::shared_ptr<product::SqliteDataContext> sqlite_;
    std::shared_ptr<RecordingContext> dc_;
};

inline rt::Variant DateOf(int y, int m, int d, int h = 0, int n = 0, int s = 0) {
    return rt::Variant::Date(rt::DateSerial(y, m, d) + rt::TimeSerial(h, n, s));
}

}  // namespace persistencetest
