#pragma once
// Runs the texts the system sends (see OracleDialect.h) on one SQLite
// connection: statements through SQLite, call escapes and anonymous blocks
// through the package registry and a small block interpreter. A call or a
// block that fails is undone as a whole, as Oracle undoes a failed
// statement; savepoints a block sets stay for the later blocks.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "ado/Persist.h"
#include "product/DatabasePackages.h"
#include "product/OracleDialect.h"
#include "product/SqliteConnection.h"
#include "runtime/Variant.h"

namespace product {

// One value bound to a "?" marker, in marker order.
struct BoundValue {
    rt::Variant value;
    bool output = false;  // an OUT argument may write it
    int32_t size = 0;     // room for an output text in characters (0: no limit)
};

struct ExecOutcome {
    std::optional<ado::RecordsetImage> rows;  // set when the text yields rows
    int64_t recordsAffected = -1;             // rows written by a DML statement, else -1
};

class OracleSession {
public:
    explicit OracleSession(SqliteConnection& db, PackageRegistry& registry = PackageRegistry::Global());

    // Runs one text. The number of markers must equal the number of values
    // (ORA-01008 when values are missing, ORA-01036 when there are too many).
    ExecOutcome Execute(const std::string& text, std::vector<BoundValue>& params);
    ExecOutcome Execute(const std::string& text);

    // Package variables of this session.
    PackageState& State() { return state_; }
    SqliteConnection& Connection() { return db_; }

private:
    struct Scope;
    struct Raised;
    class Run;

    template <class F>
    void Atomically(F&& body);
    // The parse of a text; the last blocks and statements parsed are kept,
    // each kind in a room of its own.
    std::shared_ptr<const ParsedText> Parse(const std::string& text);

    SqliteConnection& db_;
    PackageRegistry& registry_;
    PackageState state_;
    bool userSavepointSet_ = false;
    std::unordered_map<std::string, std::shared_ptr<const ParsedText>> blocks_;
    std::unordered_map<std::string, std::shared_ptr<const ParsedText>> statements_;
};

}  // namespace product
