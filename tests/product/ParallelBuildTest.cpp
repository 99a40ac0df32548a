// Several processes building the sample database or the metadata cache at
// one path: nobody's finished work is deleted, and what stands at the path
// afterwards is whole.
#include <filesystem>
#include <functional>
#include <vector>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ado/Persist.h"
#include "product/MetadataCacheBuilder.h"
#include "product/SampleDatabase.h"
#include "product/SqliteConnection.h"
#include "runtime/Error.h"
#include "support/SampleEnvironment.h"

namespace {

namespace fs = std::filesystem;
using pelmora_test::SampleEnvironment;

// Runs job in n child processes released together; returns their exit
// codes: 0 done, the error number (mod 256) when it raised one.
std::vector<int> RaceProcesses(int n, const std::function<void()>& job) {
    int gate[2];
    if (::pipe(gate) != 0) return {};
    std::vector<pid_t> children;
    for (int i = 0; i < n; ++i) {
        pid_t pid = ::fork();
        if (pid == 0) {
            ::close(gate[1]);
            char c;
            while (::read(gate[0], &c, 1) > 0) {
            }
            int code = 0;
            try {
                job();
            } catch (const rt::ComError& e) {
                code = e.Number() & 0xff;
                if (code == 0) code = 255;
            } catch (...) {
                code = 254;
            }
            ::_exit(code);
        }
        children.push_back(pid);
    }
    ::close(gate[0]);
    ::close(gate[1]);  // releases them all
    std::vector<int> codes;
    for (pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        codes.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    }
    return codes;
}

std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ParallelBuild, OneSampleDatabaseWinsAndTheOthersLeaveItAlone) {
    const auto& env = SampleEnvironment::Get();
    for (int round = 0; round < 3; ++round) {
        const std::string dir = env.NewFolder("race-db");
        const std::string db = dir + "/sample.db";
        auto codes = RaceProcesses(4, [&] { product::BuildSampleDatabase(db); });
        ASSERT_EQ(codes.size(), 4u);
        EXPECT_EQ(std::count(codes.begin(), codes.end(), 0), 1) << "round " << round;
        EXPECT_EQ(std::count(codes.begin(), codes.end(), 58), 3) << "round " << round;
        ASSERT_TRUE(fs::exists(db));
        product::SqliteConnection check(db, {});
        EXPECT_GT(check.Query("SELECT QTX_FNO FROM QTX_FEATURES_OPTABLE", {}, "").RowCount(), 0u);
        // The losers' private files are gone; nothing but the database (and
        // what SQLite keeps beside it while open) is left.
        for (const auto& name : Entries(dir)) EXPECT_EQ(name.rfind("sample.db", 0), 0u) << name;
        for (const auto& name : Entries(dir)) EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
    }
}

TEST(ParallelBuild, CacheBuildersAtOneFolderLeaveAWholeCache) {
    const auto& env = SampleEnvironment::Get();
    const std::string dir = env.NewFolder("race-cache");
    product::CacheBuildOptions o;
    o.databasePath = env.DatabasePath();
    o.cacheDirectory = dir;
    auto codes = RaceProcesses(4, [&] { product::BuildMetadataCache(o); });
    EXPECT_EQ(codes, (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"ConfigurationMap.txt", "ENU", "LegendMetadata.ddc"}));
    const auto expected = Entries(env.LocaleDirectory());
    EXPECT_EQ(Entries(dir + "/ENU"), expected);
    for (const auto& name : expected) EXPECT_NO_THROW(ado::LoadImage(dir + "/ENU/" + name)) << name;
}

}  // namespace
