#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "product/StandIns.h"
#include "runtime/Error.h"

namespace {

std::string SourceDir() {
    const char* dir = std::getenv("PELMORA_SOURCE_DIR");
    return dir ? dir : PELMORA_SOURCE_DIR;
}

std::map<int32_t, std::string> Catalogue() {
    return product::ReadMessageCatalogue(SourceDir() + "/data/messages/PELMORA.txt");
}

std::vector<int32_t> IdsInUse() {
    std::ifstream in(SourceDir() + "/data/messages/ids.txt");
    std::vector<int32_t> ids;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) ids.push_back(std::stoi(line));
    return ids;
}

TEST(MessagesCatalogue, EveryMessageIdInUseHasAText) {
    auto texts = Catalogue();
    auto ids = IdsInUse();
    ASSERT_GT(ids.size(), 150u);
    for (int32_t id : ids) {
        auto it = texts.find(id);
        ASSERT_NE(it, texts.end()) << "message " << id << " has no text";
        EXPECT_FALSE(it->second.empty()) << id;
    }
}

TEST(MessagesCatalogue, TextsUseOnlyTheFivePlaceholders) {
    const std::regex placeholder("%([0-9]+)");
    for (const auto& [id, text] : Catalogue()) {
        for (auto m = std::sregex_iterator(text.begin(), text.end(), placeholder); m != std::sregex_iterator(); ++m) {
            int n = std::stoi((*m)[1]);
            EXPECT_TRUE(n >= 1 && n <= 5) << id << ": " << text;
        }
    }
}

// Messages the system fills with parameters carry the placeholders for them.
TEST(MessagesCatalogue, FilledMessagesHaveTheirPlaceholders) {
    struct Use {
        int32_t id;
        int parameters;
    } uses[] = {{22142, 1}, {23705, 1}, {23552, 2}, {23553, 2}, {27958, 2}, {18275, 2}, {18276, 4},
                {21984, 2}, {25089, 5}, {25077, 4}, {24606, 3}, {22208, 2}, {25059, 2}, {27784, 1}};
    auto texts = Catalogue();
    for (const Use& u : uses) {
        for (int p = 1; p <= u.parameters; ++p)
            EXPECT_NE(texts[u.id].find("%" + std::to_string(p)), std::string::npos) << u.id << " lacks %" << p;
    }
}

class CatalogueFile : public ::testing::Test {
protected:
    std::string Write(const std::string& content) {
        path = (std::filesystem::temp_directory_path() / ("pelmora_catalogue_" + std::to_string(::getpid()) + ".txt"))
                   .string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    void TearDown() override { std::remove(path.c_str()); }
    std::string path;
};

TEST_F(CatalogueFile, ReadsIdsTextsCommentsAndEscapes) {
    auto texts = product::ReadMessageCatalogue(Write("# comment\n\n1\tone\r\n-2\ta\\tb\\nc\\\\d\n"));
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[1], "one");
    EXPECT_EQ(texts[-2], "a\tb\nc\\d");
}

TEST_F(CatalogueFile, RefusesDamagedFiles) {
    for (const char* content : {"1 no tab\n", "x1\ttext\n", "1\ta\n1\tb\n", "70000\ttoo big\n", "\tno id\n",
                                "3\tbad \\q escape\n"}) {
        EXPECT_THROW(product::ReadMessageCatalogue(Write(content)), rt::ComError) << content;
    }
    EXPECT_THROW(product::ReadMessageCatalogue("/nonexistent/PELMORA.txt"), rt::ComError);
}

}  // namespace
