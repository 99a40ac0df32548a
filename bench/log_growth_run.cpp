// Writers and validators on one sample database, each a process of its own,
// for a given time: the writers open water mains, change them and save them
// (UpdateFeatures, Commit), each its own mains; the validators run
// ValidateFeatures and IRelationship.Validate over a few mains in a loop, as
// a client checking its work does. Prints the largest and the last size of
// the write-ahead log, the saves done and refused (by error) and the
// validation runs.
//
//   log_growth_run [--seconds 60] [--writers 1] [--validators 1] [--limit-mb 32] [--busy-ms 2000]
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "SampleWorld.h"
#include "ado/Recordset.h"
#include "interfaces/Components.h"
#include "pelmora/features/Components.h"
#include "pelmora/features/FeatureAssemblyService.h"
#include "pelmora/features/KeyObject.h"
#include "pelmora/features/KeyObjects.h"
#include "pelmora/relationships/RelationshipService.h"
#include "pelmora/validation/FeatureValidationService.h"
#include "runtime/Vb.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kMains = 64;
constexpr int32_t kFirstMain = 700000;
constexpr int32_t kIdOffset = 100000;

// Copies of main 1001 with their own ids, so that each writer has mains of its own.
void CopyMains(product::SqliteDataContext& db) {
    for (const char* table : {"QTX_COMMON_N", "WATER_MAIN_N", "WATER_MAIN_LN", "WATER_MAIN_LBL", "WATER_LINING_N",
                              "WATER_MAIN_LN_SDOGEOM", "WATER_MAIN_LBL_SDOGEOM"}) {
        rt::Variant affected;
        auto shape = db.ExecuteSQL(std::string("SELECT * FROM ") + table + " WHERE 1 = 0", affected, 1);
        std::string columns, values;
        for (int32_t i = 0; i < shape->FieldCount(); ++i) {
            const std::string name = shape->get_Fields()->Item(i)->get_Name();
            columns += (i ? ", " : "") + name;
            values += i ? ", " : "";
            if (name == "QTX_ID" || name == "SDO_GID" || name == "NODE_1" || name == "NODE_2" || name == "OWNER_ID" ||
                name == "FEED_ID")
                values += name + " + :offset";
            else if (name == "QTX_FID") values += ":fid";
            else values += name;
        }
        for (int k = 1; k <= kMains; ++k)
            db.ExecuteSQL("INSERT INTO " + std::string(table) + " (" + columns + ") SELECT " +
                              rt::Replace(rt::Replace(values, ":offset", std::to_string(k * kIdOffset)), ":fid",
                                          std::to_string(kFirstMain + k - 1)) +
                              " FROM " + table + " WHERE QTX_FID = 1001",
                          affected, 1);
    }
}

struct Options {
    int seconds = 60;
    int writers = 1;
    int validators = 1;
    int64_t limitBytes = product::SqliteConnection::kDefaultLogLimitBytes;
    int busyMs = 2000;
};

std::shared_ptr<product::SqliteDataContext> OpenContext(const std::string& db, const Options& o,
                                                        std::shared_ptr<pelmora::MetadataService>& metadata) {
    auto dc = product::SqliteDataContext::Open(db, {false, o.busyMs, 0, o.limitBytes});
    metadata = std::make_shared<pelmora::MetadataService>();
    metadata->put_Configuration(product::CacheBuildOptions{}.configurationName);
    dc->putref_MetadataService(rt::QueryInterface<pelmora::IMetadataService>(metadata));
    metadata->SetActiveUser(dc, "QTXADMIN");
    return dc;
}

std::shared_ptr<pelmora::IKeyObjects> Mains(int first, int count) {
    auto keys = pelmora::KeyObjects::New();
    for (int k = 0; k < count; ++k) {
        auto key = pelmora::KeyObject::New();
        key->put_FNO(101);
        key->put_FID(kFirstMain + (first + k) % kMains);
        keys->Add(key);
    }
    return keys;
}

// What a child did, as one line for its parent: "done refused codes...".
std::string Writer(const std::string& db, const Options& o, int w, Clock::time_point end) {
    std::shared_ptr<pelmora::MetadataService> metadata;
    auto dc = OpenContext(db, o, metadata);
    auto service = std::make_shared<pelmora::FeatureAssemblyService>();
    service->putref_DataContext(dc);
    int done = 0, refused = 0;
    std::map<std::string, int> why;
    for (int k = 0; Clock::now() < end; ++k) {
        const int32_t fid = kFirstMain + (w + o.writers * k) % kMains;
        try {
            auto feature = service->OpenFeature(101, fid);
            auto rows = feature->get_Components()->get_Item(rt::Variant("WATER_MAIN_ATTR"))->get_Recordset();
            rows->MoveFirst();
            rows->get_Fields()->Item("DIAMETER")->put_Value(rt::Variant(int32_t{100 + k % 1000}));
            rows->Update();
            auto keys = pelmora::KeyObjects::New();
            keys->Add(feature);
            service->UpdateFeatures(keys);
            dc->Commit();
            ++done;
        } catch (const rt::ComError& e) {
            if (++refused == 1) std::fprintf(stderr, "writer %d: %s\n", w, e.Description().c_str());
            const auto at = e.Description().find("ORA-");
            ++why[at == std::string::npos ? e.Description().substr(0, 60) : e.Description().substr(at, 9)];
            try {
                dc->Rollback();
            } catch (const rt::ComError&) {
            }
        }
    }
    std::string out = std::to_string(done) + " " + std::to_string(refused);
    for (const auto& [code, n] : why) out += " [" + code + "]x" + std::to_string(n);
    return out;
}

std::string Validator(const std::string& db, const Options& o, int v, Clock::time_point end) {
    std::shared_ptr<pelmora::MetadataService> metadata;
    auto dc = OpenContext(db, o, metadata);
    product::InstallDialogRecorder(std::make_shared<product::DialogRecorder>());
    auto features = std::make_shared<pelmora::FeatureValidationService>();
    features->putref_DataContext(dc);
    auto relationships = std::make_shared<pelmora::RelationshipService>();
    relationships->putref_DataContext(dc);
    int done = 0, failed = 0;
    for (int k = 0; Clock::now() < end; ++k) {
        try {
            auto keys = Mains(8 * (v + k), 8);
            features->ValidateFeatures(keys);
            relationships->putref_Features(nullptr);
            relationships->putref_Components(nullptr);
            std::shared_ptr<ado::Recordset> set = relationships->GetFeatureValidationInformation(keys), errors;
            relationships->Validate(set, errors);
            ++done;
        } catch (const rt::ComError& e) {
            if (++failed == 1) std::fprintf(stderr, "validator %d: %s\n", v, e.Description().c_str());
        }
    }
    return std::to_string(done) + " " + std::to_string(failed);
}

int64_t FileSize(const std::string& path) {
    std::error_code ec;
    auto n = std::filesystem::file_size(path, ec);
    return ec ? 0 : static_cast<int64_t>(n);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        const long v = std::strtol(argv[i + 1], nullptr, 10);
        if (a == "--seconds") o.seconds = static_cast<int>(v);
        else if (a == "--writers") o.writers = static_cast<int>(v);
        else if (a == "--validators") o.validators = static_cast<int>(v);
        else if (a == "--limit-mb") o.limitBytes = static_cast<int64_t>(v) << 20;
        else if (a == "--busy-ms") o.busyMs = static_cast<int>(v);
        else {
            std::fprintf(stderr, "usage: log_growth_run [--seconds N] [--writers N] [--validators N] [--limit-mb N] "
                                 "[--busy-ms N]\n");
            return 2;
        }
    }
    benchsupport::SampleWorld world("pelmora-log-growth-run", CopyMains);
    const std::string db = (world.dir / "sample.db").string();
    pelmora::FunctionalInterfaceLogPath() = (world.dir / "FunctionalInterfaces.log").string();
    world.dc.reset();  // no connection crosses the fork

    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(o.seconds);
    struct Child {
        pid_t pid;
        int out;
        std::string role;
    };
    std::vector<Child> children;
    for (int k = 0; k < o.writers + o.validators; ++k) {
        int fds[2];
        if (::pipe(fds) != 0) return 1;
        const bool writer = k < o.writers;
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            std::string line;
            try {
                line = writer ? Writer(db, o, k, end) : Validator(db, o, k - o.writers, end);
            } catch (const rt::ComError& e) {
                line = "failed: " + e.Description();
            }
            line += "\n";
            if (::write(fds[1], line.data(), line.size()) < 0) _exit(1);
            _exit(0);
        }
        ::close(fds[1]);
        children.push_back({pid, fds[0], writer ? "writer " + std::to_string(k) : "validator " + std::to_string(k - o.writers)});
    }
    int64_t largest = 0;
    int next = 5;
    while (Clock::now() < end) {
        largest = std::max(largest, FileSize(db + "-wal"));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (Clock::now() - start >= std::chrono::seconds(next)) {
            std::printf("  %3d s: log %.1f MB, largest %.1f MB\n", next, FileSize(db + "-wal") / 1048576.0,
                        largest / 1048576.0);
            std::fflush(stdout);
            next += 5;
        }
    }
    for (auto& c : children) {
        std::string line;
        char buf[512];
        ssize_t n;
        while ((n = ::read(c.out, buf, sizeof buf)) > 0) line.append(buf, static_cast<size_t>(n));
        ::close(c.out);
        int status = 0;
        ::waitpid(c.pid, &status, 0);
        if (!line.empty() && line.back() == '\n') line.pop_back();
        std::printf("%s: %s\n", c.role.c_str(), line.c_str());
    }
    std::printf("%d s, %d writers, %d validators, limit %lld MB: log largest %.1f MB, last %.1f MB\n", o.seconds,
                o.writers, o.validators, static_cast<long long>(o.limitBytes >> 20), largest / 1048576.0,
                FileSize(db + "-wal") / 1048576.0);
    return 0;
}
