#include "support/SampleServices.h"

#include <cstdlib>

#include "pelmora/Registration.h"
#include "pelmora/metadata/MetadataService.h"
#include "product/Notification.h"
#include "product/SqliteDataContext.h"
#include "product/StandIns.h"
#include "runtime/Object.h"

namespace pelmora_test {

void RegisterSampleClasses() {
    rt::Apartment::Reset();
    product::RegisterProductStandIns();
    product::RegisterApplicationClasses();
    pelmora::RegisterSystemClasses();
}

std::shared_ptr<pelmora::MetadataService> OpenSampleMetadata() {
    auto service = std::make_shared<pelmora::MetadataService>();
    service->put_Configuration(SampleEnvironment::Get().ConfigurationName());
    return service;
}

std::shared_ptr<product::SqliteDataContext> OpenSampleContext(
    const std::shared_ptr<pelmora::MetadataService>& Metadata) {
    auto context = SampleEnvironment::Get().OpenDataContext();
    context->putref_MetadataService(rt::QueryInterface<pelmora::IMetadataService>(Metadata));
    return context;
}

void SampleServicesTest::SetUp() {
    env_ = &SampleEnvironment::Get();
    RegisterSampleClasses();
    recorder_ = std::make_shared<product::DialogRecorder>();
    product::InstallDialogRecorder(recorder_);
    ::setenv("PELMORA_CONFIGURATION_MAP", env_->ConfigurationMapPath().c_str(), 1);
    previousDirectory_ = std::filesystem::current_path();
    workDirectory_ = env_->NewFolder(folderHint_);
    std::filesystem::current_path(workDirectory_);
}

void SampleServicesTest::TearDown() {
    std::filesystem::current_path(previousDirectory_);
    ::setenv("PELMORA_CONFIGURATION_MAP", env_->ConfigurationMapPath().c_str(), 1);
    product::InstallDialogRecorder(nullptr);
    rt::Apartment::Reset();
}

}  // namespace pelmora_test
