#include "product/EmbeddedData.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace product {

std::vector<std::string> DataFileNames(const std::string& directory, const std::string& folder) {
    std::vector<std::string> names;
    if (!directory.empty()) {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(directory, ec))
            if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
    } else {
        for (const EmbeddedFile* f = kEmbeddedFiles; f->folder; ++f)
            if (folder == f->folder) names.emplace_back(f->name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::string> ReadDataFile(const std::string& directory, const std::string& folder,
                                        const std::string& name) {
    if (!directory.empty()) {
        std::ifstream in(directory + "/" + name, std::ios::binary);
        if (!in) return std::nullopt;
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    for (const EmbeddedFile* f = kEmbeddedFiles; f->folder; ++f)
        if (folder == f->folder && name == f->name) return std::string(f->data, f->size);
    return std::nullopt;
}

std::string DataFileLabel(const std::string& directory, const std::string& folder, const std::string& name) {
    return (directory.empty() ? "<built-in>/" + folder : directory) + "/" + name;
}

}  // namespace product
