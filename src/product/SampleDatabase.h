#pragma once
// The sample network's database, built from the SQL files of data/sample:
// every "*.sql" file but "sequences.sql" in name order (plain SQL run as
// it stands), then the sequences ("CREATE SEQUENCE <name> START WITH <n>
// [INCREMENT BY <m>];", one statement each) into the database's sequence
// store.
#include <cstdint>
#include <string>
#include <vector>

namespace product {

// $PELMORA_SAMPLE_SQL_DIR, else $PELMORA_SOURCE_DIR/data/sample, else "":
// the files of data/sample built into the library.
std::string SampleSqlDirectory();

struct SequenceDefinition {
    std::string name;
    int64_t startWith = 1;
    int64_t incrementBy = 1;
};
// Parses the text of a sequences file; raises 5 naming the file and the
// statement it does not understand.
std::vector<SequenceDefinition> ParseSequenceDefinitions(const std::string& text, const std::string& fileForErrors);

// Creates the database file at path from the SQL files of sqlDirectory ("":
// those built in), all
// in one transaction. Raises when the file exists already, when the
// directory holds no SQL file, or when a statement fails (the error names
// the file); on failure no file is left behind. The database is built in a
// private folder beside path and moved in at the end: when another process
// put a file at path meanwhile, that file is kept and 58 is raised. A build
// first removes the folders earlier builds of path left when they died.
void BuildSampleDatabase(const std::string& path, const std::string& sqlDirectory = SampleSqlDirectory());

}  // namespace product
