// The message object: texts of a resource module from its catalogue file.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "interfaces/Messages.h"
#include "product/EmbeddedData.h"
#include "product/StandIns.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace product {

namespace {

constexpr const char* kSource = "QTX.Messages";
constexpr const char* kMessagesVariable = "PELMORA_MESSAGES_DIR";

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

[[noreturn]] void Fail(int32_t number, const std::string& description) {
    throw rt::ComError(number, kSource, description);
}

std::string Unescape(const std::string& text, const std::string& path, int line) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        char next = i + 1 < text.size() ? text[i + 1] : '\0';
        switch (next) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case '\\': out += '\\'; break;
            default: Fail(rt::vberr::InvalidProcedureCall, path + ":" + std::to_string(line) + ": bad escape");
        }
        ++i;
    }
    return out;
}

using Catalogue = std::map<int32_t, std::string>;

// Catalogues are read once per file and shared by every message object;
// nullptr when the module has none.
std::shared_ptr<const Catalogue> LoadCatalogue(const std::string& directory, const std::string& fileName) {
    static std::mutex mutex;
    static std::map<std::string, std::shared_ptr<const Catalogue>> loaded;
    const std::string label = DataFileLabel(directory, "messages", fileName);
    std::lock_guard lock(mutex);
    auto it = loaded.find(label);
    if (it != loaded.end()) return it->second;
    auto text = ReadDataFile(directory, "messages", fileName);
    if (!text) return nullptr;
    auto catalogue = std::make_shared<const Catalogue>(ParseMessageCatalogue(*text, label));
    loaded.emplace(label, catalogue);
    return catalogue;
}

class MessageStandIn : public rt::Object, public pelmora::IMessageObject {
public:
    // Until a module is selected the texts are those of the system's module.
    MessageStandIn() : module_(pelmora::kResourceModule) {}

    std::string GetLocaleCode() override {
        std::string code = rt::Trim(Env("PELMORA_LOCALE"));
        return code.empty() ? "ENU" : code;
    }

    void SelectResourceModule(const std::string& moduleName, int32_t /*flags*/) override {
        std::string name = rt::UCase(rt::Trim(moduleName));
        if (name.empty() || name.find_first_of("/\\") != std::string::npos)
            Fail(rt::vberr::InvalidProcedureCall, "Invalid resource module name \"" + moduleName + "\"");
        const std::string directory = MessageCatalogueDirectory();
        auto catalogue = LoadCatalogue(directory, name + ".txt");
        if (!catalogue)
            Fail(rt::vberr::FileNotFound, "The resource module \"" + moduleName + "\" has no catalogue (" +
                                              DataFileLabel(directory, "messages", name + ".txt") + ")" +
                                              DataDirectoryOrigin(kMessagesVariable, "messages", directory));
        catalogue_ = catalogue;
        module_ = name;
    }

    std::string GetMessageText(int32_t messageId, int32_t /*flags*/) override {
        if (!catalogue_) SelectResourceModule(module_, 0);
        auto it = catalogue_->find(messageId);
        return it == catalogue_->end() ? std::string() : it->second;
    }

    std::string TypeName() const override { return "Messages"; }

private:
    std::string module_;
    std::shared_ptr<const Catalogue> catalogue_;
};

}  // namespace

std::string MessageCatalogueDirectory() { return SourceDataDirectory(kMessagesVariable, "messages"); }

std::map<int32_t, std::string> ReadMessageCatalogue(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) Fail(rt::vberr::FileNotFound, "Cannot open the message catalogue " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return ParseMessageCatalogue(text.str(), path);
}

std::map<int32_t, std::string> ParseMessageCatalogue(const std::string& text, const std::string& path) {
    std::istringstream in(text);
    std::map<int32_t, std::string> texts;
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        auto where = [&] { return path + ":" + std::to_string(lineNo) + ": "; };
        size_t tab = line.find('\t');
        if (tab == std::string::npos || tab == 0) Fail(rt::vberr::InvalidProcedureCall, where() + "expected <id><TAB><text>");
        std::string idText = line.substr(0, tab);
        if (idText.find_first_not_of("-0123456789") != std::string::npos || idText.size() > 6)
            Fail(rt::vberr::InvalidProcedureCall, where() + "bad message id \"" + idText + "\"");
        int32_t id = std::atoi(idText.c_str());
        if (id < -32768 || id > 32767) Fail(rt::vberr::InvalidProcedureCall, where() + "message id out of range");
        if (!texts.emplace(id, Unescape(line.substr(tab + 1), path, lineNo)).second)
            Fail(rt::vberr::InvalidProcedureCall, where() + "message id " + idText + " given twice");
    }
    return texts;
}

void RegisterMessageStandIn() {
    rt::RegisterClass(pelmora::kMessageObjectProgId, "", [] { return std::make_shared<MessageStandIn>(); });
}

}  // namespace product
