// Several contexts on one file: a writer that has only read waits its turn
// instead of being refused, a reader pins no snapshot between its calls, and
// the write-ahead log stays bounded while both run.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "product/SqliteDataContext.h"
#include "runtime/Vb.h"
#include "support/TestFolders.h"

using namespace product;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRows = 64;

// A fresh file for each call (the one before it is dropped).
std::string MakeDatabase() {
    auto dir = pelmora_test::FreshTestFolder("pelmora-writers");
    std::string path = (dir / "net.db").string();
    auto dc = SqliteDataContext::Open(path, {true, 2000, 0});
    dc->ExecuteScript(
        "CREATE TABLE VALVE_N (QTX_ID NUMBER(10) PRIMARY KEY, TURNS NUMBER(10) NOT NULL, NOTE VARCHAR2(4000));"
        "INSERT INTO VALVE_N (QTX_ID, TURNS) WITH RECURSIVE k(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM k "
        "WHERE n < " + std::to_string(kRows) + ") SELECT n, 0 FROM k;");
    dc->Commit();
    return path;
}

rt::Variant Arg(int64_t v) { return rt::Variant::ArrayOf({rt::Variant(static_cast<int32_t>(v))}); }

int64_t Turns(SqliteDataContext& dc, int id) {
    rt::Variant p = Arg(id);
    auto rs = dc.OpenParameterizedRecordset("SELECT TURNS FROM VALVE_N WHERE QTX_ID = ?", 3, 4, 1, p);
    return rt::CLng(rs->GetValue(rt::Variant("TURNS")));
}

void TurnOnce(SqliteDataContext& dc, int id) {
    rt::Variant affected, p = Arg(id);
    dc.ExecuteParameterizedSQL("UPDATE VALVE_N SET TURNS = TURNS + 1 WHERE QTX_ID = ?", affected, 1, p);
}

// An edit as the system makes one: read the row, then write it back changed.
void EditThroughRecordset(SqliteDataContext& dc, int id) {
    rt::Variant p = Arg(id);
    auto rs = dc.OpenParameterizedRecordset("SELECT QTX_ID, TURNS FROM VALVE_N WHERE QTX_ID = ?", 3, 4, 1, p);
    rs->SetValue(rt::Variant("TURNS"), rt::Variant(rt::CLng(rs->GetValue(rt::Variant("TURNS"))) + 1));
    rs->Update();
    dc.UpdateRecordset(rs, 3);
}

// The Oracle code a failure of f names, 0 when f goes through.
int OraCodeOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const rt::ComError& e) {
        auto at = e.Description().find("ORA-");
        return at == std::string::npos ? -1 : std::stoi(e.Description().substr(at + 4, 5));
    }
    return 0;
}

int64_t LogSize(const std::string& path) {
    std::error_code ec;
    auto size = std::filesystem::file_size(path + "-wal", ec);
    return ec ? 0 : static_cast<int64_t>(size);
}

class Writers : public ::testing::Test {
protected:
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(pelmora_test::TestFolderPath("pelmora-writers"), ec);
    }
};

}  // namespace

// What a write of a transaction that has read before meets, one case a row.
TEST_F(Writers, AWriterThatHasOnlyReadWritesOnWhatOthersCommittedOrWaitsItsTurn) {
    constexpr int kTimeoutMs = 150;
    struct Case {
        const char* name;
        bool savepointFirst;  // a savepoint set before the read must survive
        bool otherHolds;      // the other's write is still uncommitted
        bool tempWrites;      // writes of its own: it may not start over
        int oraCode;          // 0: the write goes through
    };
    const Case cases[] = {
        {"another committed since the read", false, false, false, 0},
        {"a savepoint stands before the read", true, false, false, 0},
        {"another holds the write lock", false, true, false, 54},
        {"its own temporary table is written", false, false, true, 8177},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = MakeDatabase();
        auto mine = SqliteDataContext::Open(path, {false, kTimeoutMs, 0});
        auto other = SqliteDataContext::Open(path, {false, kTimeoutMs, 0});
        rt::Variant affected;
        if (c.tempWrites) mine->ExecuteSQL("CREATE TEMP TABLE SCRATCH (A NUMBER(5))", affected, 1);
        if (c.savepointFirst) mine->ExecuteSQL("SAVEPOINT BEFORE_EDIT", affected, 1);
        EXPECT_EQ(Turns(*mine, 1), 0);
        TurnOnce(*other, 1);
        if (!c.otherHolds) other->Commit();

        auto started = Clock::now();
        EXPECT_EQ(OraCodeOf([&] { EditThroughRecordset(*mine, 1); }), c.oraCode);
        // On top of the other's turn, which it now sees.
        if (!c.oraCode) {
            EXPECT_EQ(Turns(*mine, 1), 2);
        }
        if (c.otherHolds) {
            EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(kTimeoutMs));
        }
        if (c.savepointFirst) {
            mine->ExecuteSQL("ROLLBACK TO BEFORE_EDIT", affected, 1);
            EXPECT_EQ(Turns(*mine, 1), 1);
        }
        // The transaction stays usable: once the other is done the edit goes through.
        other->Commit();
        if (c.tempWrites) mine->Rollback();
        EditThroughRecordset(*mine, 1);
        mine->Commit();
        EXPECT_EQ(Turns(*other, 1), c.savepointFirst ? 2 : 2 + (c.oraCode == 0));
    }
}

TEST_F(Writers, AReaderPinsNoSnapshotOnceItsCallEnds) {
    std::string path = MakeDatabase();
    auto reader = SqliteDataContext::Open(path);
    auto writer = SqliteDataContext::Open(path);
    rt::Variant affected;
    reader->ExecuteSQL("SAVEPOINT READING", affected, 1);
    EXPECT_EQ(Turns(*reader, 7), 0);
    for (int k = 0; k < 5; ++k) {
        TurnOnce(*writer, 7);
        writer->Commit();
    }
    EXPECT_FALSE(reader->Connection().HasWritten());
    // Every frame of the log can be folded back and the log emptied.
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw, "SELECT count(*) FROM VALVE_N", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(sqlite3_wal_checkpoint_v2(raw, "main", SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(raw);
    EXPECT_EQ(LogSize(path), 0);
    EXPECT_EQ(Turns(*reader, 7), 5);
    reader->ExecuteSQL("ROLLBACK TO READING", affected, 1);
}

// N writers, each its own context on the file, edit as the system does.
TEST_F(Writers, WritersOfDistinctRowsAreNeverRefused) {
    constexpr int kEdits = 12;
    for (int writers : {2, 4, 8}) {
        SCOPED_TRACE(std::to_string(writers) + " writers");
        std::string path = MakeDatabase();
        std::atomic<int> refused{0};
        std::vector<std::thread> threads;
        for (int w = 0; w < writers; ++w) {
            threads.emplace_back([&, w] {
                auto dc = SqliteDataContext::Open(path);
                rt::Variant affected;
                for (int k = 0; k < kEdits; ++k) {
                    try {
                        dc->ExecuteSQL("SAVEPOINT EDIT", affected, 1);
                        EditThroughRecordset(*dc, 1 + w);
                        dc->Commit();
                    } catch (const rt::ComError&) {
                        ++refused;
                        dc->Rollback();
                    }
                }
            });
        }
        for (auto& t : threads) t.join();
        EXPECT_EQ(refused.load(), 0);
        auto check = SqliteDataContext::Open(path);
        for (int w = 0; w < writers; ++w) EXPECT_EQ(Turns(*check, 1 + w), kEdits) << "row " << 1 + w;
    }
}

TEST_F(Writers, WritersOfOneRowAreRefusedOnlyAfterTheTimeout) {
    constexpr int kTimeoutMs = 100;
    constexpr int kEdits = 12;
    for (int writers : {2, 4, 8}) {
        SCOPED_TRACE(std::to_string(writers) + " writers");
        std::string path = MakeDatabase();
        std::atomic<int> done{0};
        std::vector<std::thread> threads;
        for (int w = 0; w < writers; ++w) {
            threads.emplace_back([&, w] {
                auto dc = SqliteDataContext::Open(path, {false, kTimeoutMs, 0});
                for (int k = 0; k < kEdits; ++k) {
                    Turns(*dc, 1);
                    auto started = Clock::now();
                    try {
                        TurnOnce(*dc, 1);
                        // One writer in three keeps the lock a while, so that others queue behind it.
                        if ((w + k) % 3 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(kTimeoutMs / 4));
                        dc->Commit();
                        ++done;
                    } catch (const DatabaseError& e) {
                        EXPECT_EQ(e.OraCode(), 54) << e.Description();
                        EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(kTimeoutMs));
                        dc->Rollback();
                    }
                }
            });
        }
        for (auto& t : threads) t.join();
        auto check = SqliteDataContext::Open(path);
        EXPECT_GT(done.load(), 0);
        EXPECT_EQ(Turns(*check, 1), done.load());  // no turn lost, none counted twice
    }
}

TEST_F(Writers, TheLogStaysUnderItsLimitWhileAReaderReadsInALoop) {
    constexpr int64_t kLimit = 1 << 20;
    constexpr int kRounds = 300;
    std::string path = MakeDatabase();
    std::atomic<bool> stop{false};
    std::atomic<int64_t> largest{0};
    std::thread reader([&] {
        auto dc = SqliteDataContext::Open(path, {false, 2000, 0, kLimit});
        while (!stop) {
            auto rs = dc->OpenRecordset("SELECT sum(TURNS), max(length(NOTE)) FROM VALVE_N");
            largest = std::max(largest.load(), LogSize(path));
        }
    });
    struct Join {
        std::atomic<bool>& stop;
        std::thread& t;
        ~Join() {
            stop = true;
            t.join();
        }
    } join{stop, reader};
    auto dc = SqliteDataContext::Open(path, {false, 2000, 0, kLimit});
    const std::string note(3000, 'n');
    int64_t oneCommit = 0;
    for (int round = 0; round < kRounds; ++round) {
        rt::Variant affected, p = rt::Variant::ArrayOf({rt::Variant(note + std::to_string(round))});
        dc->ExecuteParameterizedSQL("UPDATE VALVE_N SET NOTE = ?, TURNS = TURNS + 1 WHERE QTX_ID <= 8", affected, 1, p);
        dc->Commit();
        if (round == 0) oneCommit = LogSize(path);
        largest = std::max(largest.load(), LogSize(path));
    }
    ASSERT_GT(oneCommit, 0);
    EXPECT_GT(kRounds * oneCommit, 8 * kLimit);  // a log that kept every commit would be far past the limit
    // A reader that keeps reading may hold off the fold at a commit or a few
    // (on a busy machine), never for long.
    EXPECT_LE(largest.load(), 2 * kLimit);
}
