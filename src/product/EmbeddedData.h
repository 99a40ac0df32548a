#pragma once
// The data files built into the library: data/messages/*.txt and
// data/sample/*.sql as they were when it was built (cmake/EmbedData.cmake),
// so that a program finds them wherever it is installed or moved. The data/
// folders stay the source; a directory named by the environment overrides
// the built-in copy (see SourceDataDirectory).
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace product {

struct EmbeddedFile {
    const char* folder;  // "messages", "sample"
    const char* name;    // "PELMORA.txt"
    const char* data;
    size_t size;
};
// Ends with an entry whose folder is nullptr; generated at build time.
extern const EmbeddedFile kEmbeddedFiles[];

// The names of the files of a data folder: those of directory when one is
// given, else those built in; sorted.
std::vector<std::string> DataFileNames(const std::string& directory, const std::string& folder);

// A file of a data folder, from directory when one is given, else built in;
// nullopt when there is no such file.
std::optional<std::string> ReadDataFile(const std::string& directory, const std::string& folder,
                                        const std::string& name);

// How a data file is named in messages: its path, or "<built-in>/<folder>/<name>".
std::string DataFileLabel(const std::string& directory, const std::string& folder, const std::string& name);

}  // namespace product
