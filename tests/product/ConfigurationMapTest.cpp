// The connection configuration map: its file format and its late-bound face.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "product/ConfigurationMap.h"
#include "product/Notification.h"
#include "runtime/Vb.h"
#include "support/Raises.h"
#include "support/SampleEnvironment.h"
#include "support/ScopedEnv.h"

using pelmora_test::ErrorOf;

namespace {

using pelmora_test::SampleEnvironment;

std::vector<std::string> Texts(const rt::Variant& v) {
    std::vector<std::string> out;
    EXPECT_TRUE(v.IsArray());
    EXPECT_EQ(v.BaseType(), rt::vbString);
    EXPECT_EQ(rt::LBound(v), 0);
    for (const auto& e : v.Array()->Data()) out.push_back(rt::CStr(e));
    return out;
}

using EnvGuard = pelmora_test::ScopedEnv;

TEST(ConfigurationMapFile, ParsesSectionsEntriesCommentsAndBlanks) {
    auto map = product::ParseConfigurationMap(
        "# the map\n\n[ Water ]\n  /data/cache/LegendMetadata.ddc  \r\nsecond entry\n[Gas]\n[Power]\n/p/x\n", "m.txt");
    ASSERT_EQ(map.size(), 3u);
    EXPECT_EQ(map[0].name, "Water");
    EXPECT_EQ(map[0].entries, (std::vector<std::string>{"/data/cache/LegendMetadata.ddc", "second entry"}));
    EXPECT_TRUE(map[1].entries.empty());
    EXPECT_EQ(map[2].entries, (std::vector<std::string>{"/p/x"}));
    // What is written reads back the same.
    auto again = product::ParseConfigurationMap(product::FormatConfigurationMap(map), "again");
    ASSERT_EQ(again.size(), map.size());
    for (size_t i = 0; i < map.size(); ++i) {
        EXPECT_EQ(again[i].name, map[i].name);
        EXPECT_EQ(again[i].entries, map[i].entries);
    }
}

TEST(ConfigurationMapFile, RefusesMalformedTextNamingFileAndLine) {
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"/an/entry\n[A]\n", "line 1"},
        {"[A]\nx\n[a]\n", "line 3"},
        {"[A\n", "line 1"},
        {"[  ]\n", "line 1"},
    };
    for (const auto& c : cases) {
        try {
            product::ParseConfigurationMap(c.text, "bad.txt");
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const rt::ComError& e) {
            EXPECT_NE(e.Description().find(std::string("bad.txt, ") + c.expected), std::string::npos) << e.Description();
        }
    }
    EXPECT_THROW(product::FormatConfigurationMap({{"A]", {}}}), rt::ComError);
    EXPECT_THROW(product::FormatConfigurationMap({{"A", {"two\nlines"}}}), rt::ComError);
    EXPECT_THROW(product::FormatConfigurationMap({{"A", {"[looks like a name]"}}}), rt::ComError);
}

class ConfigurationMapObject : public ::testing::Test {
protected:
    std::string folder = SampleEnvironment::Get().NewFolder("map");
    std::string path = folder + "/map.txt";
    void SetUp() override {
        product::RegisterApplicationClasses();
        product::WriteConfigurationMap(path, {{"Water", {"/w/a", "/w/LegendMetadata.ddc"}}, {"Gas", {"/g/LegendMetadata.ddc"}}});
    }
};

TEST_F(ConfigurationMapObject, AnswersByDispatchIdThroughTheProgId) {
    EnvGuard env(product::kConfigurationMapVariable, path.c_str());
    auto map = rt::CreateObject("QTX.ConnectionConfigurationMap");
    EXPECT_EQ(Texts(rt::CallByDispId(map, 2, rt::InvokeKind::Method)), (std::vector<std::string>{"Water", "Gas"}));
    EXPECT_EQ(Texts(rt::CallByDispId(map, 3, rt::InvokeKind::Method, {rt::Variant("gas")})),
              (std::vector<std::string>{"/g/LegendMetadata.ddc"}));
    // The file is read at each call: a later edit shows at once.
    product::WriteConfigurationMap(path, {{"Power", {"/p/LegendMetadata.ddc"}}});
    EXPECT_EQ(Texts(rt::CallByDispId(map, 2, rt::InvokeKind::Method)), (std::vector<std::string>{"Power"}));
}

TEST_F(ConfigurationMapObject, FailsClearlyWithoutMapOrConfiguration) {
    product::ConnectionConfigurationMap map(path);
    EXPECT_EQ(ErrorOf([&] { map.ConfigurationEntries("Sewer"); }), rt::vberr::InvalidProcedureCall);
    rt::Args none;
    EXPECT_EQ(ErrorOf([&] { map.InvokeDispId(3, rt::InvokeKind::Method, none); }), rt::vberr::ArgumentNotOptional);
    EXPECT_EQ(ErrorOf([&] { map.InvokeDispId(4, rt::InvokeKind::Method, none); }), rt::vberr::ObjectDoesNotSupportMember);

    EnvGuard unset(product::kConfigurationMapVariable, nullptr);
    product::ConnectionConfigurationMap fromEnv;
    try {
        fromEnv.ConfigurationNames();
        ADD_FAILURE() << "no error";
    } catch (const rt::ComError& e) {
        EXPECT_EQ(e.Number(), rt::vberr::FileNotFound);
        EXPECT_NE(e.Description().find("PELMORA_CONFIGURATION_MAP"), std::string::npos);
    }
    EnvGuard missing(product::kConfigurationMapVariable, (folder + "/absent.txt").c_str());
    EXPECT_EQ(ErrorOf([&] { fromEnv.ConfigurationNames(); }), rt::vberr::FileNotFound);
}

TEST_F(ConfigurationMapObject, RefusesAnythingButABoundedRegularFileNamingFileAndCause) {
    namespace fs = std::filesystem;
    const auto oversized = std::to_string(product::kConfigurationMapMaxBytes + 1) + " bytes";
    struct Case {
        const char* file;
        std::function<void(const std::string&)> make;
        std::string cause;
    } cases[] = {
        {"pipe.txt", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }, "not a regular file"},
        {"zero.txt", [](const std::string& p) { fs::create_symlink("/dev/zero", p); }, "not a regular file"},
        {"folder.txt", [](const std::string& p) { fs::create_directory(p); }, "not a regular file"},
        {"big.txt",
         [&](const std::string& p) {
             fs::copy_file(path, p);
             fs::resize_file(p, product::kConfigurationMapMaxBytes + 1);
         },
         oversized},
    };
    for (const auto& c : cases) {
        const std::string file = folder + "/" + c.file;
        c.make(file);
        try {
            product::ConnectionConfigurationMap(file).ConfigurationEntries("Water");
            ADD_FAILURE() << c.file << " accepted";
        } catch (const rt::ComError& e) {
            EXPECT_EQ(e.Number(), rt::vberr::PathFileAccessError) << c.file;
            EXPECT_NE(e.Description().find("\"" + file + "\""), std::string::npos) << e.Description();
            EXPECT_NE(e.Description().find(c.cause), std::string::npos) << e.Description();
        }
    }
}

TEST_F(ConfigurationMapObject, FollowsALinkToARegularFile) {
    const std::string link = folder + "/link.txt";
    std::filesystem::create_symlink(path, link);
    EXPECT_EQ(product::ConnectionConfigurationMap(link).ConfigurationNames(),
              product::ConnectionConfigurationMap(path).ConfigurationNames());
}

TEST(ConfigurationMapSample, TheSampleEnvironmentPointsTheVariableAtItsMap) {
    const auto& env = SampleEnvironment::Get();
    ASSERT_NE(std::getenv("PELMORA_CONFIGURATION_MAP"), nullptr);
    EXPECT_EQ(std::string(std::getenv("PELMORA_CONFIGURATION_MAP")), env.ConfigurationMapPath());
    product::ConnectionConfigurationMap map;
    auto entries = map.ConfigurationEntries(env.ConfigurationName());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0], env.CacheDirectory() + "/LegendMetadata.ddc");
}

}  // namespace
