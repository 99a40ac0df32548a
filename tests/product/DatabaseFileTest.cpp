// A database file that is empty, damaged, no database, or on a read-only
// file system: the error names the file and says what is wrong with it.
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <grp.h>
#include <sqlite3.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include "DatabaseTestSupport.h"
#include "ado/Recordset.h"
#include "product/SqliteDataContext.h"
#include "runtime/Vb.h"
#include "support/Raises.h"
#include "support/SampleEnvironment.h"

namespace {

namespace fs = std::filesystem;
using pelmora_test::SampleEnvironment;

TEST(DatabaseFile, AFileThatHoldsNoDatabaseIsRefusedByName) {
    const auto& env = SampleEnvironment::Get();
    const std::string dir = env.NewFolder("dbfile");
    struct Case {
        const char* name;
        std::function<void(const std::string&)> make;
        const char* cause;
    };
    const Case cases[] = {
        {"empty.db", [](auto& p) { std::ofstream{p}; }, "the file is empty"},
        {"text.db", [](auto& p) { std::ofstream{p} << std::string(2000, 'x'); }, "not a database"},
        {"folder.db", [](auto& p) { fs::create_directory(p); }, "not a regular file"},
        {"missing.db", [](auto&) {}, "does not exist"},
    };
    for (const auto& c : cases) {
        const std::string path = dir + "/" + c.name;
        c.make(path);
        auto e = pelmora_test::Raised([&] { product::SqliteDataContext::Open(path); });
        EXPECT_NE(e.Description().find(path), std::string::npos) << e.Description();
        EXPECT_NE(e.Description().find(c.cause), std::string::npos) << e.Description();
    }
}

TEST(DatabaseFile, ADamagedPageOrAMissingTableNamesTheDatabase) {
    const auto& env = SampleEnvironment::Get();
    const std::string db = env.CopyDatabase();
    int64_t page = 0, pageSize = 0;
    {
        product::SqliteConnection c(db, {});
        page = rt::CLng(c.Query("SELECT rootpage FROM sqlite_master WHERE name = 'QTX_FEATURES_OPTABLE'", {}, "")
                            .values.at(0));
        pageSize = rt::CLng(c.Query("PRAGMA page_size", {}, "").values.at(0));
    }
    {
        std::fstream f(db, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp((page - 1) * pageSize);
        f << std::string(static_cast<size_t>(pageSize), '\xA5');
    }
    product::SqliteConnection c(db, {});
    dbtest::ExpectOra([&] { c.Query("SELECT * FROM QTX_FEATURES_OPTABLE", {}, "features"); }, 1578,
                      {"damaged", "'" + db + "'"});
    dbtest::ExpectOra([&] { c.Query("SELECT * FROM NO_SUCH_TABLE", {}, "nothing"); }, 942, {"'" + db + "'"});
}

// In a private mount namespace the folder is made read-only; the child reads
// and tries to write, and tells by its exit code.
TEST(DatabaseFile, ADatabaseOnAReadOnlyFileSystemIsReadAndTheFirstWriteFailsPlainly) {
    const auto& env = SampleEnvironment::Get();
    const std::string dir = env.NewFolder("readonly");
    const std::string db = dir + "/sample.db";
    fs::copy_file(env.CopyDatabase(), db);
    pid_t pid = ::fork();
    if (pid == 0) {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
            ::mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
            ::_exit(77);
        int code = 0;
        try {
            auto dc = product::SqliteDataContext::Open(db);
            if (dc->OpenRecordset("SELECT * FROM QTX_FEATURES_OPTABLE")->get_RecordCount() <= 0) code = 1;
            try {
                dc->Connection().Execute("UPDATE QTX_FEATURES_OPTABLE SET QTX_USERNAME = 'x'");
                code = 2;
            } catch (const product::DatabaseError& e) {
                if (e.OraCode() != 16000 || e.Description().find(db) == std::string::npos) code = 3;
            }
        } catch (...) {
            code = 4;
        }
        ::_exit(code);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no private mount namespace here";
    // 1: no rows read, 2: the write went through, 3: the error is not ORA-16000 naming the file, 4: open failed
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// A database in a folder this process cannot write: as root the child takes
// another account (the folder is root's), otherwise the folder is made
// read-only for its owner. The child tells by its exit code.
TEST(DatabaseFile, ADatabaseInAFolderThatCannotBeWrittenIsReadOrRefusedWithWhatToDo) {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/pelmora-rofolder-XXXXXX";
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    struct Cleanup {
        const std::string& folder;
        ~Cleanup() {
            std::error_code ec;
            fs::permissions(folder, fs::perms(0755), ec);
            fs::remove_all(folder, ec);
        }
    } cleanup{folder};
    const struct Case {
        const char* name;
        const char* journal;
        bool heldOpen;  // by another connection, whose log files then exist
        const char* refusal;  // "": read, and the first write raises ORA-16000
    } cases[] = {
        {"wal.db", "WAL", false, "-shm' cannot be made beside it"},
        {"held.db", "WAL", true, ""},
        {"rollback.db", "DELETE", false, ""},
    };
    const auto& env = SampleEnvironment::Get();
    std::vector<std::unique_ptr<product::SqliteConnection>> holders;
    for (const Case& c : cases) {
        const std::string db = folder + "/" + c.name;
        fs::copy_file(env.CopyDatabase(), db);
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(db.c_str(), &raw), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(raw, (std::string("PRAGMA journal_mode = ") + c.journal).c_str(), nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(raw);
        // Writable itself: only the folder stands in the way.
        fs::permissions(db, fs::perms(0666));
        if (c.heldOpen) {
            holders.push_back(std::make_unique<product::SqliteConnection>(db, product::SqliteConnection::Options{}));
            holders.back()->Query("SELECT count(*) FROM QTX_FEATURES_OPTABLE", {}, "");
        }
    }
    fs::permissions(folder, fs::perms(0555));
    for (const Case& c : cases) {
        const std::string db = folder + "/" + c.name;
        pid_t pid = ::fork();
        if (pid == 0) {
            if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
                                     ::setresuid(65534, 65534, 65534) != 0))
                ::_exit(77);
            int code = 0;
            try {
                auto dc = product::SqliteDataContext::Open(db);
                if (*c.refusal) ::_exit(5);
                if (dc->OpenRecordset("SELECT * FROM QTX_FEATURES_OPTABLE")->get_RecordCount() <= 0) code = 1;
                try {
                    dc->Connection().Execute("UPDATE QTX_FEATURES_OPTABLE SET QTX_USERNAME = 'x'");
                    code = 2;
                } catch (const product::DatabaseError& e) {
                    if (e.OraCode() != 16000) code = 3;
                }
            } catch (const rt::ComError& e) {
                const std::string& d = e.Description();
                code = !*c.refusal ? 4
                       : d.find(db) == std::string::npos || d.find(c.refusal) == std::string::npos ||
                               d.find("write access to the folder") == std::string::npos
                           ? 6
                           : 0;
            }
            ::_exit(code);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status)) << c.name;
        if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot take another account here";
        // 1: no rows, 2: the write went through, 3: not ORA-16000, 4: open failed, 5: opened, 6: refusal unclear
        EXPECT_EQ(WEXITSTATUS(status), 0) << c.name;
    }
}

}  // namespace
