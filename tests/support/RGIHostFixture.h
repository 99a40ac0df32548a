#pragma once
// The sample network with its relationships, for tests of the relationship
// geometry host and bridge: a data context behind the sample's metadata,
// scripted RGIs put in place by ProgID, in a VBA project or under a name
// with ":", and helpers over the sample's relationship numbers.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "interfaces/MetadataService.h"
#include "pelmora/metadata/MetadataService.h"
#include "product/InterfaceSupport.h"
#include "product/SqliteDataContext.h"
#include "product/VbaProjectHost.h"
#include "runtime/Object.h"
#include "runtime/Vb.h"
#include "support/RGITestObjects.h"
#include "support/SampleEnvironment.h"
#include "support/SampleServices.h"

namespace pelmora_test {

class RGIHostFixture : public SampleServicesTest {
protected:
    RGIHostFixture() : SampleServicesTest("rgi") {}

    void SetUp() override {
        SampleServicesTest::SetUp();
        metadata_ = OpenSampleMetadata();
        sqlite_ = OpenSampleContext(metadata_);
    }
    void TearDown() override {
        for (const auto& name : named_) product::UnregisterInterfaceObject(name);
        for (const auto& progId : progIds_) rt::UnregisterClass(progId);
        sqlite_.reset();
        metadata_.reset();
        SampleServicesTest::TearDown();
    }

    // The ProgID creates this object every time; Created counts the creations.
    std::shared_ptr<ProgIdRGI> RegisterProgId(const std::string& progId) {
        auto object = std::make_shared<ProgIdRGI>();
        auto& count = created_[progId];
        count = 0;
        rt::RegisterClass(progId, "", [object, &count] {
            ++count;
            return std::static_pointer_cast<rt::Object>(object);
        });
        progIds_.push_back(progId);
        return object;
    }
    int Created(const std::string& progId) const {
        auto it = created_.find(progId);
        return it == created_.end() ? 0 : it->second;
    }
    std::shared_ptr<ProjectRGI> LoadProject(int32_t number) {
        auto object = std::make_shared<ProjectRGI>();
        product::VbaProjectHost::Current()->LoadProject(number, object);
        return object;
    }
    std::shared_ptr<NamedRGI> RegisterNamed(const std::string& name) {
        auto object = std::make_shared<NamedRGI>();
        product::RegisterInterfaceObject(name, [object] { return std::static_pointer_cast<rt::Object>(object); });
        named_.push_back(name);
        return object;
    }
    std::shared_ptr<RGIHostingHelper> Helper(int16_t relationshipNumber) {
        return RGIHostingHelper::New(rt::QueryInterface<pelmora::IDataContext>(sqlite_), relationshipNumber);
    }

    std::shared_ptr<pelmora::MetadataService> metadata_;
    std::shared_ptr<product::SqliteDataContext> sqlite_;

private:
    std::map<std::string, int> created_;
    std::vector<std::string> progIds_, named_;
};

// A Variant array's elements as texts ("" for Empty and Null), from its lower bound.
inline std::vector<std::string> Texts(const rt::Variant& array) {
    std::vector<std::string> out;
    if (!array.IsArray()) return out;
    const rt::SafeArray* a = array.Array();
    if (a->Dims() != 1) return out;
    for (int32_t i = a->LBound(); i <= a->UBound(); ++i) {
        const rt::Variant& v = a->Get(i);
        out.push_back(v.IsEmpty() || v.IsNull() ? std::string() : rt::CStr(v));
    }
    return out;
}

}  // namespace pelmora_test
