#pragma once
// Set-up shared by the feature-assembly tests: the component fixture with a
// feature-assembly service on its data context, and helpers that read a
// feature's components.
#include "ComponentTestSupport.h"

#include "pelmora/features/FeatureAssemblyService.h"
#include "pelmora/features/KeyObject.h"
#include "pelmora/features/KeyObjects.h"
#include "interfaces/KeyObject.h"

namespace featuretest {

inline std::vector<std::string> NamesOf(const std::shared_ptr<pelmora::IComponents>& components) {
    std::vector<std::string> out;
    for (const auto& c : components->get_NewEnum()) out.push_back(c->get_Name());
    return out;
}

inline std::vector<int16_t> CNOsOf(const std::shared_ptr<pelmora::IComponents>& components) {
    std::vector<int16_t> out;
    for (const auto& c : components->get_NewEnum()) out.push_back(c->get_CNO());
    return out;
}

inline std::shared_ptr<pelmora::KeyObject> Key(int16_t fno, int32_t fid) {
    auto k = pelmora::KeyObject::New();
    k->put_FNO(fno);
    k->put_FID(fid);
    return k;
}

inline std::shared_ptr<pelmora::KeyObjects> Keys(std::initializer_list<std::shared_ptr<pelmora::KeyObject>> keys) {
    auto all = pelmora::KeyObjects::New();
    for (const auto& k : keys) all->Add(k);
    return all;
}

// A feature-assembly service on the context, its classes and the key
// objects' registered as a client finds them.
inline std::shared_ptr<pelmora::FeatureAssemblyService> NewAssemblyService(
    const std::shared_ptr<pelmora::IDataContext>& context) {
    pelmora::RegisterKeyObjectClasses();
    pelmora::RegisterFeatureAssemblyService();
    auto service = std::make_shared<pelmora::FeatureAssemblyService>();
    service->putref_DataContext(context);
    return service;
}

class FeatureAssemblyFixture : public componenttest::ComponentFixture {
protected:
    void SetUp() override {
        ComponentFixture::SetUp();
        service_ = NewAssemblyService(Context());
    }

    void TearDown() override {
        service_.reset();
        ComponentFixture::TearDown();
    }

    std::shared_ptr<pelmora::FeatureAssemblyService> service_;
};

}  // namespace featuretest
