#pragma once
// Shared set-up of the component tests: a writable copy of the sample
// network behind a real metadata service, a data context that records what
// the components send through it, and small helpers for rows (errors:
// support/Raises.h).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ado/Recordset.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/features/Component.h"
#include "pelmora/features/Components.h"
#include "interfaces/FunctionalInterface.h"
#include "interfaces/Components.h"
#include "interfaces/DataContext.h"
#include "interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "pelmora/metadata/MetadataService.h"
#include "product/InterfaceSupport.h"
#include "product/Notification.h"
#include "product/SqliteDataContext.h"
#include "product/StandIns.h"
#include "runtime/Error.h"
#include "runtime/Object.h"
#include "runtime/Vb.h"
#include "support/SampleEnvironment.h"
#include "support/SampleServices.h"
#include "support/RecordingContext.h"

namespace componenttest {

// The data context the components are given: the sample database, with
// every call recorded.
using RecordingDataContext = pelmora_test::RecordingContext;

// A functional interface created from a name with ":" that takes whatever
// it is given and does nothing: stands in for the sample's "Pelmora:ValveRules",
// so that valves can be saved (an interface that cannot be created stops the
// save of its component).
class QuietNamedFI : public rt::Object, public pelmora::INamedFunctionalInterface {
public:
    void Execute() override {}
    void Delete() override {}
    void Validate(rt::Variant&, rt::Variant&) override {}
    rt::ObjectPtr get_ArgumentArray() override { return nullptr; }
    void putref_ArgumentArray(const rt::ObjectPtr&) override {}
    std::string get_ComponentName() override { return ""; }
    void put_ComponentName(const std::string&) override {}
    void putref_Components(const rt::ObjectPtr&) override {}
    rt::ObjectPtr get_DataContext() override { return nullptr; }
    void putref_DataContext(const rt::ObjectPtr&) override {}
    std::string get_FieldName() override { return ""; }
    void put_FieldName(const std::string&) override {}
    rt::ObjectPtr get_FieldValueBeforeChange() override { return nullptr; }
    void putref_FieldValueBeforeChange(const rt::ObjectPtr&) override {}
    int32_t get_FunctionalType() override { return 0; }
    void put_FunctionalType(int32_t) override {}
};

inline constexpr const char* kSampleNamedInterface = "Pelmora:ValveRules";

class ComponentFixture : public pelmora_test::SampleServicesTest {
protected:
    ComponentFixture() : SampleServicesTest("components") {}

    void SetUp() override {
        SampleServicesTest::SetUp();
        folder_ = workDirectory_;
        // Functional-interface failures are logged beside the test's files.
        pelmora::FunctionalInterfaceLogPath() = folder_ + "/FunctionalInterfaces.log";
        product::RegisterInterfaceObject(kSampleNamedInterface,
                                         [] { return std::static_pointer_cast<rt::Object>(std::make_shared<QuietNamedFI>()); });
        metadata_ = pelmora_test::OpenSampleMetadata();
        sqlite_ = pelmora_test::OpenSampleContext(metadata_);
        dc_ = std::make_shared<RecordingDataContext>(sqlite_);
    }

    void TearDown() override {
        dc_.reset();
        sqlite_.reset();
        metadata_.reset();
        product::UnregisterInterfaceObject(kSampleNamedInterface);
        SampleServicesTest::TearDown();
    }

    std::shared_ptr<pelmora::IDataContext> Context() { return dc_; }

    // A component of the sample with its data context, CNO and FIDs set.
    std::shared_ptr<pelmora::Component> NewComponent(int16_t cno, std::vector<int32_t> fids) {
        auto c = std::make_shared<pelmora::Component>();
        c->putref_DataContext(dc_);
        c->put_CNO(cno);
        for (int32_t f : fids) c->AddFID(rt::Variant(f));
        return c;
    }

    // A query on the database as it stands now, bypassing every component.
    std::vector<std::string> Column(const std::string& sql, const std::string& field) {
        std::vector<std::string> out;
        auto rs = sqlite_->OpenRecordset(sql);
        for (; !rs->get_EOF(); rs->MoveNext()) {
            rt::Variant v = rs->GetValue(rt::Variant(field));
            out.push_back(v.IsNull() ? "Null" : rt::CStr(v));
        }
        return out;
    }

    std::string folder_;
    std::shared_ptr<pelmora::MetadataService> metadata_;
    std::shared_ptr<product::SqliteDataContext> sqlite_;
    std::shared_ptr<RecordingDataContext> dc_;
};

inline std::string Message(int32_t id) { return pelmora::LoadResStringWithParams(static_cast<int16_t>(id)); }

// The values of one field over the visible rows, from the first.
inline std::vector<std::string> Values(const std::shared_ptr<ado::Recordset>& rs, const std::string& field) {
    std::vector<std::string> out;
    if (rs->get_BOF() && rs->get_EOF()) return out;
    for (rs->MoveFirst(); !rs->get_EOF(); rs->MoveNext()) {
        rt::Variant v = rs->GetValue(rt::Variant(field));
        out.push_back(v.IsNull() ? "Null" : rt::CStr(v));
    }
    return out;
}

// A Long array from 0, as callers pass several FIDs.
inline rt::Variant LongArray(const std::vector<int32_t>& v) {
    auto a = rt::Variant::MakeArray(rt::vbLong, 0, static_cast<int32_t>(v.size()) - 1);
    for (size_t i = 0; i < v.size(); ++i) a.ArrayMut()->Set(static_cast<int32_t>(i), rt::Variant(v[i]));
    return a;
}

inline std::vector<int32_t> FIDsOf(const pelmora::Component& c) {
    std::vector<int32_t> out;
    rt::Variant a = c.get_FIDs();
    if (c.get_FIDCount() == 0) return out;
    for (const auto& v : a.Array()->Data()) out.push_back(v.I4());
    return out;
}

}  // namespace componenttest
