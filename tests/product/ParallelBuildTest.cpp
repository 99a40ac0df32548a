// Several processes building the sample database or the metadata cache at
// one path: nobody's finished work is deleted, and what stands at the path
// afterwards is whole.
#include <filesystem>
#include <functional>
#include <vector>

#include <gtest/gtest.h>
#include <csignal>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

#include "ado/Persist.h"
#include "product/FilePlacement.h"
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

// A build's private folder held by a child process, with some work in it,
// until release() (the build ends) or kill() (the build dies).
class HeldFolder {
public:
    HeldFolder(const std::string& dir, const std::string& name) {
        int report[2], gate[2];
        if (::pipe(report) != 0 || ::pipe(gate) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(report[0]);
            ::close(gate[1]);
            {
                product::BuildingFolder folder(dir, name, "test");
                std::ofstream(folder.Path() + "/work") << "half done";
                ssize_t ignored = ::write(report[1], folder.Path().data(), folder.Path().size());
                (void)ignored;
                ::close(report[1]);
                char c;
                while (::read(gate[0], &c, 1) > 0) {
                }
            }
            ::_exit(0);
        }
        ::close(report[1]);
        ::close(gate[0]);
        gate_ = gate[1];
        char buffer[4096];
        for (ssize_t n; (n = ::read(report[0], buffer, sizeof buffer)) > 0;) path_.append(buffer, static_cast<size_t>(n));
        ::close(report[0]);
    }
    ~HeldFolder() { release(); }
    const std::string& path() const { return path_; }
    void kill() {
        if (pid_ > 0) ::kill(pid_, SIGKILL);
        release();
    }
    void release() {
        if (gate_ >= 0) ::close(gate_);
        gate_ = -1;
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    int gate_ = -1;
    std::string path_;
};

TEST(ParallelBuild, ABuildRemovesTheFoldersOfDeadBuildsAndKeepsThoseOfLiveOnes) {
    const auto& env = SampleEnvironment::Get();
    struct Case {
        const char* what;
        std::string name;
        std::function<void(const std::string& dir)> build;
    } cases[] = {
        {"cache", "ENU",
         [&](const std::string& dir) {
             product::CacheBuildOptions o;
             o.databasePath = env.DatabasePath();
             o.cacheDirectory = dir;
             product::BuildMetadataCache(o);
         }},
        {"sample database", "sample.db", [](const std::string& dir) { product::BuildSampleDatabase(dir + "/sample.db"); }},
    };
    for (const auto& c : cases) {
        const std::string dir = env.NewFolder("leftovers");
        HeldFolder dead(dir, c.name), live(dir, c.name);
        ASSERT_TRUE(fs::is_directory(dead.path())) << c.what;
        ASSERT_TRUE(fs::is_directory(live.path())) << c.what;
        dead.kill();
        ASSERT_TRUE(fs::exists(dead.path() + "/work")) << c.what;

        c.build(dir);
        EXPECT_FALSE(fs::exists(dead.path())) << c.what;
        EXPECT_TRUE(fs::exists(live.path() + "/work")) << c.what;
        // The live build cleans up after itself when it ends.
        live.release();
        for (const auto& name : Entries(dir)) EXPECT_EQ(name.find(".building."), std::string::npos) << c.what << ": " << name;
    }
}

}  // namespace
