#pragma once
// The system's services on the sample network, for tests: the classes
// registered, a metadata service on the sample's configuration, and a
// fixture that sets the process up for them and puts it back afterwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "pelmora/metadata/MetadataService.h"
#include "product/StandIns.h"
#include "support/SampleEnvironment.h"

namespace pelmora_test {

// A fresh apartment with the product's stand-ins, the application classes
// and every class of the system registered.
void RegisterSampleClasses();

// A new metadata service on the sample's configuration.
std::shared_ptr<pelmora::MetadataService> OpenSampleMetadata();

// A context on the sample database that hands out Metadata.
std::shared_ptr<product::SqliteDataContext> OpenSampleContext(
    const std::shared_ptr<pelmora::MetadataService>& Metadata);

// SetUp: the classes registered, message boxes recorded instead of shown,
// the configuration map pointing at the sample's, and the current directory
// in a new folder of the test's own (the services log there). TearDown puts
// the directory, the map and the dialogs back and resets the apartment; a
// derived fixture releases its own objects first, then calls it.
class SampleServicesTest : public ::testing::Test {
protected:
    explicit SampleServicesTest(std::string folderHint) : folderHint_(std::move(folderHint)) {}

    void SetUp() override;
    void TearDown() override;

    const SampleEnvironment* env_ = nullptr;
    std::shared_ptr<product::DialogRecorder> recorder_;
    std::filesystem::path previousDirectory_;
    std::string workDirectory_;

private:
    std::string folderHint_;
};

}  // namespace pelmora_test
