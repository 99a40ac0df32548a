// The errors a new user meets first name the cause and the way out, and
// keep the number and source that callers test.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "pelmora/metadata/MetadataRecordsets.h"
#include "pelmora/validation/FeatureValidationService.h"
#include "interfaces/KeyObject.h"
#include "interfaces/Messages.h"
#include "product/SampleDatabase.h"
#include "runtime/Object.h"
#include "support/Raises.h"
#include "support/SampleServices.h"
#include "support/ScopedEnv.h"

namespace {

using pelmora_test::ScopedEnv;

class FirstUseErrors : public pelmora_test::SampleServicesTest {
protected:
    FirstUseErrors() : SampleServicesTest("first-use-errors") {}
};

TEST_F(FirstUseErrors, NameTheCauseAndTheFix) {
    const std::string noFile = workDirectory_ + "/no-map.txt";
    const struct Case {
        const char* what;
        std::function<void()> call;
        int32_t number;
        const char* source;
        std::vector<std::string> texts;
    } cases[] = {
        {"no map variable",
         [] {
             ScopedEnv map("PELMORA_CONFIGURATION_MAP", nullptr);
             pelmora_test::OpenSampleMetadata();
         },
         53, "MetadataService.Fetch", {"PELMORA_CONFIGURATION_MAP is not set", "build_metadata_cache"}},
        {"map variable naming no file",
         [&] {
             ScopedEnv map("PELMORA_CONFIGURATION_MAP", noFile.c_str());
             pelmora_test::OpenSampleMetadata();
         },
         53, "MetadataService.Fetch", {noFile, "PELMORA_CONFIGURATION_MAP names", "build_metadata_cache"}},
        {"roles before any user",
         [] { pelmora_test::OpenSampleMetadata()->get_Recordsets()->get_Item(rt::Variant("QTX_ROLES")); },
         pelmora::kErrorBase + 1, "MetadataRecordsets.Item",
         {"QTX_ROLES is not in the metadata cache", "No active user is set", "SetActiveUser"}},
        {"saving Nothing", [] { std::make_shared<pelmora::FeatureAssemblyService>()->UpdateFeatures(nullptr); }, 91,
         "QzPelmora.FeatureAssemblyService", {"Object variable or With block variable not set"}},
        {"validating without a data context",
         [] {
             auto features = rt::QueryInterface<pelmora::IKeyObjects>(rt::CreateObject("QzPelmora.KeyObjects"));
             std::make_shared<pelmora::FeatureValidationService>()->ValidateFeatures(features);
         },
         pelmora::kErrorBase + 1, "FeatureValidationService",
         {"The features to validate cannot be read: No data context is set", "DataContext"}},
        {"no sample SQL folder",
         [&] {
             ScopedEnv sql("PELMORA_SAMPLE_SQL_DIR", "/no/such/sql");
             product::BuildSampleDatabase(workDirectory_ + "/sample.db");
         },
         76, "BuildSampleDatabase", {"\"/no/such/sql\"", "PELMORA_SAMPLE_SQL_DIR=/no/such/sql", "a folder that has"}},
        {"no sample SQL in the source tree",
         [&] {
             ScopedEnv sql("PELMORA_SAMPLE_SQL_DIR", nullptr);
             ScopedEnv tree("PELMORA_SOURCE_DIR", "/no/such/tree");
             product::BuildSampleDatabase(workDirectory_ + "/sample.db");
         },
         76, "BuildSampleDatabase", {"\"/no/such/tree/data/sample\"", "PELMORA_SOURCE_DIR=/no/such/tree", "the source tree"}},
        {"no messages folder",
         [] {
             ScopedEnv messages("PELMORA_MESSAGES_DIR", "/no/such/messages");
             rt::QueryInterface<pelmora::IMessageObject>(rt::CreateObject(pelmora::kMessageObjectProgId))
                 ->SelectResourceModule("pelmora", 0);
         },
         53, "QTX.Messages", {"/no/such/messages", "PELMORA_MESSAGES_DIR=/no/such/messages", "a folder that has"}},
    };
    for (const auto& c : cases) {
        const rt::ComError e = pelmora_test::Raised(c.call);
        EXPECT_EQ(e.Number(), c.number) << c.what << ": " << e.Description();
        EXPECT_EQ(e.Source(), c.source) << c.what;
        for (const auto& text : c.texts) EXPECT_NE(e.Description().find(text), std::string::npos) << c.what << ": " << e.Description();
    }
}

}  // namespace
