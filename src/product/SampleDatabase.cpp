#include "product/SampleDatabase.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "product/EmbeddedData.h"
#include "product/FilePlacement.h"
#include "product/SqliteConnection.h"
#include "product/StandIns.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace product {

namespace fs = std::filesystem;

namespace {

const char* const kSource = "BuildSampleDatabase";

[[noreturn]] void Fail(int32_t number, const std::string& description) {
    throw rt::ComError(number, kSource, description);
}

// The statement without "--" comments, blanks collapsed, upper-cased.
std::vector<std::string> SplitStatements(const std::string& text) {
    std::string clean;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        auto c = line.find("--");
        if (c != std::string::npos) line.erase(c);
        clean += line + " ";
    }
    std::vector<std::string> statements;
    std::string current;
    for (char ch : clean) {
        if (ch == ';') {
            statements.push_back(current);
            current.clear();
        } else {
            current += ch;
        }
    }
    if (rt::Trim(current).find_first_not_of(" \t\r\n") != std::string::npos) statements.push_back(current);
    return statements;
}

bool ParseInt64(const std::string& s, int64_t& out) {
    if (s.empty()) return false;
    size_t i = (s[0] == '-' || s[0] == '+') ? 1 : 0;
    if (i == s.size()) return false;
    for (size_t k = i; k < s.size(); ++k)
        if (s[k] < '0' || s[k] > '9') return false;
    errno = 0;
    long long v = std::strtoll(s.c_str(), nullptr, 10);
    if (errno == ERANGE) return false;
    out = v;
    return true;
}

}  // namespace

constexpr const char* kSampleSqlVariable = "PELMORA_SAMPLE_SQL_DIR";

std::string SampleSqlDirectory() { return SourceDataDirectory(kSampleSqlVariable, "sample"); }

std::vector<SequenceDefinition> ParseSequenceDefinitions(const std::string& text, const std::string& fileForErrors) {
    std::vector<SequenceDefinition> result;
    for (const std::string& raw : SplitStatements(text)) {
        std::istringstream words(raw);
        std::vector<std::string> w;
        for (std::string s; words >> s;) w.push_back(s);
        if (w.empty()) continue;
        auto bad = [&]() { Fail(rt::vberr::InvalidProcedureCall, fileForErrors + ": cannot read \"" + rt::Trim(raw) + "\""); };
        if (w.size() < 3 || rt::UCase(w[0]) != "CREATE" || rt::UCase(w[1]) != "SEQUENCE") bad();
        SequenceDefinition def;
        def.name = rt::UCase(w[2]);
        for (size_t i = 3; i < w.size(); i += 3) {
            if (i + 2 >= w.size()) bad();
            std::string a = rt::UCase(w[i]), b = rt::UCase(w[i + 1]);
            int64_t value = 0;
            if (!ParseInt64(w[i + 2], value)) bad();
            if (a == "START" && b == "WITH") def.startWith = value;
            else if (a == "INCREMENT" && b == "BY") def.incrementBy = value;
            else bad();
        }
        for (const auto& d : result)
            if (d.name == def.name) Fail(rt::vberr::InvalidProcedureCall, fileForErrors + ": sequence " + def.name + " defined twice");
        result.push_back(def);
    }
    return result;
}

void BuildSampleDatabase(const std::string& path, const std::string& sqlDirectory) {
    if (fs::exists(path)) Fail(58, "The database file \"" + path + "\" exists already");
    if (!sqlDirectory.empty() && !fs::is_directory(sqlDirectory))
        Fail(rt::vberr::PathNotFound, "No sample SQL directory \"" + sqlDirectory + "\"" +
                                          DataDirectoryOrigin(kSampleSqlVariable, "sample", sqlDirectory));

    std::vector<std::string> scripts;
    bool hasSequences = false;
    for (const std::string& name : DataFileNames(sqlDirectory, "sample")) {
        if (fs::path(name).extension() != ".sql") continue;
        if (name == "sequences.sql") hasSequences = true;
        else scripts.push_back(name);
    }
    if (scripts.empty())
        Fail(rt::vberr::FileNotFound, "No SQL file in \"" + DataFileLabel(sqlDirectory, "sample", "") + "\"" +
                                          DataDirectoryOrigin(kSampleSqlVariable, "sample", sqlDirectory));
    auto readScript = [&](const std::string& name) {
        auto text = ReadDataFile(sqlDirectory, "sample", name);
        if (!text) Fail(rt::vberr::FileNotFound, "Cannot read " + DataFileLabel(sqlDirectory, "sample", name));
        return *text;
    };

    const fs::path parent = fs::absolute(path).parent_path();
    std::error_code dirError;
    fs::create_directories(parent, dirError);
    if (dirError) Fail(rt::vberr::PathNotFound, "Cannot create the directory \"" + parent.string() + "\": " + dirError.message());

    // Built in a private folder and moved in at the end, so that a builder
    // racing for the same path never deletes what another built; the folder
    // goes with everything SQLite put beside the file, and a killed build's
    // folder goes at the next build.
    try {
        BuildingFolder building(parent.string(), fs::path(path).filename().string(), kSource);
        const std::string temp = building.Path() + "/" + fs::path(path).filename().string();
        {
            SqliteConnection db(temp, SqliteConnection::Options{true, 2000});
            db.ExecuteRaw("BEGIN");
            for (const auto& script : scripts) {
                std::string text = readScript(script);
                try {
                    db.ExecuteRaw(text);
                } catch (const rt::ComError& e) {
                    throw rt::ComError(e.Number(), kSource, script + ": " + e.Description());
                }
            }
            if (hasSequences) {
                for (const auto& def : ParseSequenceDefinitions(readScript("sequences.sql"), "sequences.sql")) {
                    try {
                        db.CreateSequence(def.name, def.startWith, def.incrementBy, INT64_MAX);
                    } catch (const rt::ComError& e) {
                        throw rt::ComError(e.Number(), kSource, "sequences.sql: " + e.Description());
                    }
                }
            }
            db.ExecuteRaw("COMMIT");
        }
        // Closing the last connection folded the write-ahead log into the file.
        MoveIntoPlaceNoReplace(temp, path, kSource);
    } catch (const rt::ComError& e) {
        if (e.Number() == rt::vberr::FileAlreadyExists)
            Fail(58, "The database file \"" + path + "\" was created by another process while this one built it; "
                     "it is left as it is");
        throw;
    }
}

}  // namespace product
