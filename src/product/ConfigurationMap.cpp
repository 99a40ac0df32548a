#include "product/ConfigurationMap.h"

#include <cstdlib>
#include <sstream>

#include "product/FilePlacement.h"
#include "runtime/Error.h"
#include "runtime/RegularFile.h"
#include "runtime/Vb.h"

namespace product {

namespace {

const char* const kSource = "QTX.ConnectionConfigurationMap";

[[noreturn]] void Fail(int32_t number, const std::string& description) {
    throw rt::ComError(number, kSource, description);
}

rt::Variant TextArray(const std::vector<std::string>& texts) {
    std::vector<rt::Variant> values(texts.begin(), texts.end());
    return rt::Variant::ArrayOf(values, 0, rt::vbString);
}

}  // namespace

std::vector<Configuration> ParseConfigurationMap(const std::string& text, const std::string& fileForErrors) {
    std::vector<Configuration> result;
    std::istringstream in(text);
    std::string line;
    int lineNo = 0;
    auto where = [&] { return fileForErrors + ", line " + std::to_string(lineNo) + ": "; };
    while (std::getline(in, line)) {
        ++lineNo;
        std::string t = rt::TrimBlanks(line);
        if (t.empty() || t[0] == '#') continue;
        if (t[0] == '[') {
            if (t.back() != ']') Fail(rt::vberr::InvalidProcedureCall, where() + "configuration name without closing \"]\"");
            std::string name = rt::TrimBlanks(t.substr(1, t.size() - 2));
            if (name.empty()) Fail(rt::vberr::InvalidProcedureCall, where() + "empty configuration name");
            for (const auto& c : result)
                if (rt::NamesEqual(c.name, name))
                    Fail(rt::vberr::InvalidProcedureCall, where() + "configuration \"" + name + "\" appears twice");
            result.push_back({name, {}});
            continue;
        }
        if (result.empty()) Fail(rt::vberr::InvalidProcedureCall, where() + "entry outside any [configuration]");
        result.back().entries.push_back(t);
    }
    return result;
}

std::vector<Configuration> ReadConfigurationMap(const std::string& path) {
    const rt::RegularFileRead file = rt::ReadRegularFile(path, kConfigurationMapMaxBytes);
    if (file.Refused())
        Fail(file.errnum != 0 ? rt::vberr::FileNotFound : rt::vberr::PathFileAccessError,
             "Cannot read the configuration map \"" + path + "\": " + file.cause);
    return ParseConfigurationMap(std::string(file.bytes.get(), file.size), path);
}

std::string FormatConfigurationMap(const std::vector<Configuration>& configurations) {
    std::string out = "# Connection configuration map: [configuration], then its entries, one a line.\n";
    for (const auto& c : configurations) {
        std::string name = rt::TrimBlanks(c.name);
        if (name.empty() || name.find_first_of("]\r\n") != std::string::npos)
            Fail(rt::vberr::InvalidProcedureCall, "Configuration name \"" + c.name + "\" cannot be written to a map");
        out += "[" + name + "]\n";
        for (const auto& e : c.entries) {
            if (e.find_first_of("\r\n") != std::string::npos || rt::TrimBlanks(e).empty() || rt::TrimBlanks(e)[0] == '#' ||
                rt::TrimBlanks(e)[0] == '[')
                Fail(rt::vberr::InvalidProcedureCall, "Entry \"" + e + "\" cannot be written to a map");
            out += rt::TrimBlanks(e) + "\n";
        }
    }
    return out;
}

void WriteConfigurationMap(const std::string& path, const std::vector<Configuration>& configurations) {
    // Readers never see half a map.
    WriteFileReplacing(path, FormatConfigurationMap(configurations), kSource);
}

ConnectionConfigurationMap::ConnectionConfigurationMap(std::string path) : path_(std::move(path)) {}

namespace {

// How a map comes to be, told where the variable leads nowhere.
const std::string kMakeMapHint = std::string("; build_metadata_cache builds a metadata cache and its map, and prints "
                                             "the value to give ") +
                                 kConfigurationMapVariable;

}  // namespace

std::string ConnectionConfigurationMap::MapPath() const {
    if (!path_.empty()) return path_;
    const char* env = std::getenv(kConfigurationMapVariable);
    if (!env || !*env)
        Fail(rt::vberr::FileNotFound, std::string("No configuration map: the environment variable ") +
                                          kConfigurationMapVariable + " is not set" + kMakeMapHint);
    return env;
}

std::vector<Configuration> ConnectionConfigurationMap::Read(const std::string& path) const {
    try {
        return ReadConfigurationMap(path);
    } catch (const rt::ComError& e) {
        // A map the variable names but nobody made, or one moved away.
        if (!path_.empty() || e.Number() != rt::vberr::FileNotFound) throw;
        throw rt::ComError(e.Number(), e.Source(),
                           e.Description() + " (the file " + kConfigurationMapVariable + " names)" + kMakeMapHint);
    }
}

std::vector<std::string> ConnectionConfigurationMap::ConfigurationNames() const {
    std::vector<std::string> names;
    for (const auto& c : Read(MapPath())) names.push_back(c.name);
    return names;
}

std::vector<std::string> ConnectionConfigurationMap::ConfigurationEntries(const std::string& configuration) const {
    const std::string path = MapPath();
    for (const auto& c : Read(path))
        if (rt::NamesEqual(c.name, configuration)) return c.entries;
    Fail(rt::vberr::InvalidProcedureCall,
         "Configuration \"" + configuration + "\" is not in the configuration map \"" + path + "\"");
}

rt::Variant ConnectionConfigurationMap::InvokeDispId(int32_t dispId, rt::InvokeKind /*kind*/, rt::Args& args) {
    switch (dispId) {
        case 2:
            return TextArray(ConfigurationNames());
        case 3:
            if (args.empty()) rt::RaiseVbError(rt::vberr::ArgumentNotOptional);
            return TextArray(ConfigurationEntries(rt::CStr(args[0])));
        default:
            rt::RaiseVbError(rt::vberr::ObjectDoesNotSupportMember);
    }
}

rt::Variant ConnectionConfigurationMap::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    if (rt::NamesEqual(name, "ConfigurationNames")) return InvokeDispId(2, kind, args);
    if (rt::NamesEqual(name, "ConfigurationEntries")) return InvokeDispId(3, kind, args);
    rt::RaiseVbError(rt::vberr::ObjectDoesNotSupportMember);
}

}  // namespace product
