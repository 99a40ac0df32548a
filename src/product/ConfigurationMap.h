#pragma once
// The connection configuration map: named configurations, each a list of
// entry texts (file paths among them; one names the directory of
// "LegendMetadata.ddc", the metadata cache). Created by ProgID
// "QTX.ConnectionConfigurationMap" and called late bound by dispatch id:
//   2 ()      -> String array (lower bound 0) of the configuration names
//   3 (name)  -> String array (lower bound 0) of that configuration's entries
//
// The map is read, at each call, from the text file named by the
// environment variable PELMORA_CONFIGURATION_MAP (or the path given to the
// constructor). Format, UTF-8:
//   # a comment line; blank lines are ignored
//   [Configuration name]
//   /path/to/cache/LegendMetadata.ddc
//   any further entry text, one per line
// Entry lines are trimmed of blanks; a line outside any section, an empty or
// repeated name (compared without regard to case) or an unclosed "[" is an
// error naming the file and line. The map must be a regular file (a link to
// one will do) of at most kConfigurationMapMaxBytes: a pipe, device or
// directory in its place or a larger file is refused with 75 naming the file
// and the cause; a file that cannot be opened raises 53.
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace product {

inline constexpr const char* kConfigurationMapProgId = "QTX.ConnectionConfigurationMap";
inline constexpr const char* kConfigurationMapVariable = "PELMORA_CONFIGURATION_MAP";
inline constexpr uint64_t kConfigurationMapMaxBytes = 1 << 20;

struct Configuration {
    std::string name;
    std::vector<std::string> entries;
};

// Parses the text of a map file; fileForErrors names it in errors.
std::vector<Configuration> ParseConfigurationMap(const std::string& text, const std::string& fileForErrors);
std::vector<Configuration> ReadConfigurationMap(const std::string& path);
// The text of a map file; raises 5 on a name or entry that cannot be written
// (line breaks, a "]" in a name, an empty name).
std::string FormatConfigurationMap(const std::vector<Configuration>& configurations);
void WriteConfigurationMap(const std::string& path, const std::vector<Configuration>& configurations);

class ConnectionConfigurationMap : public rt::Object {
public:
    // path "": the file named by PELMORA_CONFIGURATION_MAP.
    explicit ConnectionConfigurationMap(std::string path = "");

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    rt::Variant InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "ConnectionConfigurationMap"; }

    std::vector<std::string> ConfigurationNames() const;
    // Raises 5 when the map holds no such configuration.
    std::vector<std::string> ConfigurationEntries(const std::string& configuration) const;
    // The file read: the constructor's path or the variable's value; raises
    // 53 when neither names one.
    std::string MapPath() const;

private:
    // The map at path (what MapPath gave); an error names the tool that
    // makes maps when the variable leads to no file.
    std::vector<Configuration> Read(const std::string& path) const;

    std::string path_;
};

}  // namespace product
