// The log's bound: a commit that wrote folds the write-ahead log into the
// file once it is past the limit.

#include "product/SqliteConnectionSupport.h"

#include <algorithm>
#include <filesystem>

namespace product {

void SqliteConnection::CheckpointPastLimit() {
    const char* file = sqlite3_db_filename(db_, "main");
    if (logLimitBytes_ <= 0 || readOnly_ || !file || !*file) return;
    std::error_code ec;
    const auto size = std::filesystem::file_size(std::string(file) + "-wal", ec);
    if (ec || static_cast<int64_t>(size) <= logLimitBytes_) return;
    // Folds the log into the file and empties it once no reader needs it.
    // Another connection's writes or reads may hold it back a little while
    // longer than the commit should wait: a later commit tries again.
    constexpr int kCheckpointWaitMs = 50;
    waitMs_ = std::min(busyTimeoutMs_, kCheckpointWaitMs);
    sqlite3_wal_checkpoint_v2(db_, "main", SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    waitMs_ = busyTimeoutMs_;
}

}  // namespace product
