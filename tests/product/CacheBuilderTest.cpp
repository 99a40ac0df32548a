// The metadata cache builder: what it writes, read back through the
// persisted-recordset reader, and how it refuses bad databases.
#include <cstdio>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <set>

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ado/Persist.h"
#include "ado/Recordset.h"
#include "product/ConfigurationMap.h"
#include "product/MetadataCacheBuilder.h"
#include "product/SqliteConnection.h"
#include "product/SqliteDataContext.h"
#include "runtime/Vb.h"
#include "support/SampleEnvironment.h"

namespace {

namespace fs = std::filesystem;
using pelmora_test::SampleEnvironment;

int FieldIndex(const ado::RecordsetImage& img, const std::string& name) {
    for (size_t f = 0; f < img.fields.size(); ++f)
        if (rt::NamesEqual(img.fields[f].name, name)) return static_cast<int>(f);
    return -1;
}

std::string Text(const rt::Variant& v) { return v.IsNull() ? std::string() : rt::CStr(v); }

// Values as the system compares them; byte arrays (BLOB columns) element by element.
bool SameValue(const rt::Variant& a, const rt::Variant& b) {
    if (a.IsArray() || b.IsArray()) {
        if (!a.IsArray() || !b.IsArray() || a.Type() != b.Type()) return false;
        const auto& x = a.Array()->Data();
        const auto& y = b.Array()->Data();
        if (x.size() != y.size()) return false;
        for (size_t i = 0; i < x.size(); ++i)
            if (!rt::VariantEquals(x[i], y[i])) return false;
        return true;
    }
    return rt::VariantEquals(a, b);
}

// The index rows as key -> (sql, lcid).
std::multimap<std::string, std::pair<std::string, std::string>> IndexRows(const ado::RecordsetImage& index) {
    std::multimap<std::string, std::pair<std::string, std::string>> rows;
    const int k = FieldIndex(index, "QTX_OPTIMIZEDTABLENAME"), s = FieldIndex(index, "QTX_SQL"),
              l = FieldIndex(index, "QTX_LCID");
    for (size_t r = 0; r < index.RowCount(); ++r) {
        const size_t base = r * index.fields.size();
        rows.insert({Text(index.values[base + k]),
                     {Text(index.values[base + s]), index.values[base + l].IsNull() ? "<null>" : Text(index.values[base + l])}});
    }
    return rows;
}

TEST(CacheBuilder, EveryTableOfTheLocaleReadsBackWithTheDataContextsFieldsAndRows) {
    const auto& env = SampleEnvironment::Get();
    auto dc = product::SqliteDataContext::Open(env.CopyDatabase());
    auto index = ado::LoadImage(env.LocaleDirectory() + "/QTX_METADATAKEYS_OPTABLE.RAW");
    int checked = 0;
    for (const auto& [key, entry] : IndexRows(index)) {
        const auto& [sql, lcid] = entry;
        if (sql.empty() || key.rfind("CNO", 0) == 0 || key == "QTX_METADATAKEYS_OPTABLE") continue;
        if (lcid != "<null>" && rt::UCase(lcid) != "ENU") continue;
        SCOPED_TRACE(key);
        auto image = ado::LoadImage(env.LocaleDirectory() + "/" + key + ".RAW");
        EXPECT_EQ(image.source, key);
        auto rs = dc->OpenRecordset(sql);
        ASSERT_TRUE(rs);
        auto fields = rs->get_Fields();
        ASSERT_EQ(static_cast<size_t>(fields->get_Count()), image.fields.size());
        for (int32_t f = 0; f < fields->get_Count(); ++f) {
            const auto& want = fields->get_Item(rt::Variant(f))->Desc();
            const auto& got = image.fields[static_cast<size_t>(f)];
            EXPECT_EQ(got.name, want.name);
            EXPECT_EQ(got.type, want.type) << want.name;
            EXPECT_EQ(got.definedSize, want.definedSize) << want.name;
            EXPECT_EQ(got.precision, want.precision) << want.name;
            EXPECT_EQ(got.numericScale, want.numericScale) << want.name;
            EXPECT_EQ(got.baseTable, want.baseTable) << want.name;
            EXPECT_EQ(got.baseColumn, want.baseColumn) << want.name;
        }
        // Same rows, same order, Nulls kept.
        size_t row = 0;
        for (; !rs->get_EOF(); rs->MoveNext(), ++row) {
            ASSERT_LT(row, image.RowCount());
            for (int32_t f = 0; f < fields->get_Count(); ++f) {
                const rt::Variant& got = image.values[row * image.fields.size() + static_cast<size_t>(f)];
                rt::Variant want = fields->get_Item(rt::Variant(f))->get_Value();
                EXPECT_EQ(got.IsNull(), want.IsNull());
                if (!want.IsNull()) {
                    EXPECT_TRUE(SameValue(got, want)) << fields->get_Item(rt::Variant(f))->get_Name();
                }
            }
        }
        EXPECT_EQ(row, image.RowCount());
        ++checked;
    }
    EXPECT_GE(checked, 15);
}

TEST(CacheBuilder, FollowsTheIndexRulesForLocaleAndRetiredTables) {
    const auto& env = SampleEnvironment::Get();
    const std::string dir = env.LocaleDirectory();
    EXPECT_TRUE(fs::exists(dir + "/QTX_LEGENDS_OPTABLE.RAW"));       // "enu": other letter case, taken
    EXPECT_TRUE(fs::exists(dir + "/QTX_LABELFORMATS_OPTABLE.RAW"));  // "ENU"
    EXPECT_FALSE(fs::exists(dir + "/QTX_RETIRED_OPTABLE.RAW"));      // Null SQL
    // The English legend keeps its role-restricted row; the German one's SQL leaves it out.
    EXPECT_EQ(ado::LoadImage(dir + "/QTX_LEGENDS_OPTABLE.RAW").RowCount(), 4u);

    product::CacheBuildOptions deu;
    deu.databasePath = env.DatabasePath();
    deu.cacheDirectory = env.NewFolder("deu-cache");
    deu.locale = "deu";
    auto result = product::BuildMetadataCache(deu);
    EXPECT_EQ(result.localeDirectory, fs::absolute(deu.cacheDirectory).string() + "/DEU");
    EXPECT_EQ(ado::LoadImage(result.localeDirectory + "/QTX_LEGENDS_OPTABLE.RAW").RowCount(), 3u);
    EXPECT_FALSE(fs::exists(result.localeDirectory + "/QTX_LABELFORMATS_OPTABLE.RAW"));
    EXPECT_TRUE(fs::exists(result.localeDirectory + "/QTX_FEATURES_OPTABLE.RAW"));
}

TEST(CacheBuilder, WritesARowTemplatePerComponentAndAGeometryTemplateForGeometry) {
    const auto& env = SampleEnvironment::Get();
    product::SqliteConnection db(env.DatabasePath(), {});
    auto comps = db.Query("SELECT QTX_CNO, QTX_TABLE, QTX_TYPE FROM QTX_COMPONENTINFO_OPTABLE", {}, "");
    auto index = IndexRows(ado::LoadImage(env.LocaleDirectory() + "/QTX_METADATAKEYS_OPTABLE.RAW"));
    ASSERT_GT(comps.RowCount(), 10u);
    for (size_t r = 0; r < comps.RowCount(); ++r) {
        const std::string cno = std::to_string(rt::CLng(comps.values[r * 3]));
        const std::string table = Text(comps.values[r * 3 + 1]);
        const bool geometry = rt::CLng(comps.values[r * 3 + 2]) != 1;
        SCOPED_TRACE("CNO" + cno);
        auto tpl = ado::LoadImage(env.LocaleDirectory() + "/CNO" + cno + ".RAW");
        EXPECT_EQ(tpl.RowCount(), 0u);
        auto columns = db.Query("SELECT * FROM " + table + " WHERE 1 = 0", {}, "");
        ASSERT_EQ(tpl.fields.size(), columns.fields.size());
        for (size_t f = 0; f < tpl.fields.size(); ++f) {
            EXPECT_EQ(tpl.fields[f].name, columns.fields[f].name);
            EXPECT_EQ(tpl.fields[f].type, columns.fields[f].type);
            EXPECT_EQ(rt::UCase(tpl.fields[f].baseTable), rt::UCase(table));
        }
        EXPECT_EQ(index.count("CNO" + cno), 1u) << "the index must list the template";
        EXPECT_EQ(fs::exists(env.LocaleDirectory() + "/CNO" + cno + "G.RAW"), geometry);
        EXPECT_EQ(index.count("CNO" + cno + "G"), geometry ? 1u : 0u);
        if (geometry) {
            auto g = ado::LoadImage(env.LocaleDirectory() + "/CNO" + cno + "G.RAW");
            EXPECT_EQ(g.RowCount(), 0u);
            EXPECT_GE(FieldIndex(g, "SDO_GID"), 0);
            EXPECT_EQ(index.find("CNO" + cno + "G")->second.second, "<null>");
        }
    }
}

TEST(CacheBuilder, IndexKeepsTheDatabaseRowsOfEveryLocale) {
    const auto& env = SampleEnvironment::Get();
    auto index = ado::LoadImage(env.LocaleDirectory() + "/QTX_METADATAKEYS_OPTABLE.RAW");
    EXPECT_EQ(index.source, "QTX_METADATAKEYS_OPTABLE");
    for (const char* column : {"QTX_OPTIMIZEDTABLENAME", "QTX_SQL", "QTX_LCID"}) EXPECT_GE(FieldIndex(index, column), 0) << column;
    auto rows = IndexRows(index);
    EXPECT_EQ(rows.count("QTX_LEGENDS_OPTABLE"), 2u);
    ASSERT_EQ(rows.count("QTX_RETIRED_OPTABLE"), 1u);
    EXPECT_EQ(rows.find("QTX_RETIRED_OPTABLE")->second.first, "");
    EXPECT_EQ(rows.count("QTX_METADATAKEYS_OPTABLE"), 1u);
}

TEST(CacheBuilder, ConfigurationMapLeadsToTheCacheDirectory) {
    const auto& env = SampleEnvironment::Get();
    product::ConnectionConfigurationMap map(env.ConfigurationMapPath());
    rt::Args none;
    rt::Variant names = map.InvokeDispId(2, rt::InvokeKind::Method, none);
    ASSERT_TRUE(names.IsArray());
    EXPECT_EQ(rt::CStr(names.Array()->Get(rt::LBound(names))), env.ConfigurationName());
    rt::Args which{rt::Variant(env.ConfigurationName())};
    rt::Variant entries = map.InvokeDispId(3, rt::InvokeKind::Method, which);
    std::string directory;
    for (const auto& e : entries.Array()->Data()) {
        std::string text = rt::CStr(e);
        const std::string file = "/LegendMetadata.ddc";
        if (text.size() > file.size() && text.compare(text.size() - file.size(), file.size(), file) == 0)
            directory = text.substr(0, text.size() - file.size());
    }
    EXPECT_EQ(fs::weakly_canonical(directory), fs::weakly_canonical(env.CacheDirectory()));
    EXPECT_TRUE(fs::exists(directory + "/LegendMetadata.ddc"));
    EXPECT_TRUE(fs::exists(directory + "/" + env.Locale() + "/QTX_METADATAKEYS_OPTABLE.RAW"));
}

TEST(CacheBuilder, RebuildReplacesTheCacheAndKeepsOtherConfigurationsOfTheMap) {
    const auto& env = SampleEnvironment::Get();
    const std::string folder = env.NewFolder("rebuild");
    const std::string mapPath = folder + "/map.txt";
    product::WriteConfigurationMap(mapPath, {{"Other", {"/elsewhere/LegendMetadata.ddc"}}});
    product::CacheBuildOptions o;
    o.databasePath = env.DatabasePath();
    o.cacheDirectory = folder + "/cache";
    o.configurationMapPath = mapPath;
    std::vector<std::pair<size_t, size_t>> seen;
    o.progress = [&](const std::string&, size_t i, size_t n) { seen.push_back({i, n}); };
    auto first = product::BuildMetadataCache(o);
    ASSERT_FALSE(seen.empty());
    for (size_t k = 0; k < seen.size(); ++k) EXPECT_EQ(seen[k].first, k + 1);
    EXPECT_EQ(seen.back().first, seen.back().second);
    EXPECT_EQ(seen.size(), first.files.size());

    std::ofstream(first.localeDirectory + "/STALE.RAW") << "left over";
    auto second = product::BuildMetadataCache(o);
    EXPECT_FALSE(fs::exists(second.localeDirectory + "/STALE.RAW"));
    auto map = product::ReadConfigurationMap(mapPath);
    ASSERT_EQ(map.size(), 2u);
    EXPECT_EQ(map[0].name, "Other");
    EXPECT_EQ(map[1].name, "Sample Water Network");
    // Only the locale directory and the map's target are in the cache folder.
    for (const auto& e : fs::directory_iterator(o.cacheDirectory))
        EXPECT_TRUE(e.path().filename() == "ENU" || e.path().filename() == "LegendMetadata.ddc") << e.path();
}

// A cache one account built is read by the others: folders and files take
// what the umask gives, be it open or closed.
TEST(CacheBuilder, FoldersAndFilesTakeTheModesTheUmaskGives) {
    const auto& env = SampleEnvironment::Get();
    for (mode_t mask : {mode_t{022}, mode_t{002}, mode_t{077}}) {
        const std::string folder = env.NewFolder("modes" + std::to_string(mask));
        product::CacheBuildOptions o;
        o.databasePath = env.DatabasePath();
        o.cacheDirectory = folder + "/cache";
        const mode_t old = ::umask(mask);
        std::optional<product::CacheBuildResult> built;
        try {
            built = product::BuildMetadataCache(o);
        } catch (...) {
            ::umask(old);
            throw;
        }
        ::umask(old);
        auto modeOf = [](const std::string& path) { return fs::status(path).permissions() & fs::perms::all; };
        EXPECT_EQ(modeOf(built->localeDirectory), static_cast<fs::perms>(0777 & ~mask)) << std::oct << mask;
        std::vector<std::string> files = {built->configurationMapPath, o.cacheDirectory + "/LegendMetadata.ddc"};
        for (const auto& f : built->files) files.push_back(built->localeDirectory + "/" + f);
        for (const auto& f : files) EXPECT_EQ(modeOf(f), static_cast<fs::perms>(0666 & ~mask)) << f << std::oct << mask;
    }
}

// What a killed writer of the marker or the map left goes with the next
// build; what a live one holds, or what is named otherwise, stays.
TEST(CacheBuilder, RemovesThePrivateFilesAKilledWriterLeft) {
    const auto& env = SampleEnvironment::Get();
    const std::string folder = env.NewFolder("leftovers");
    product::CacheBuildOptions o;
    o.databasePath = env.DatabasePath();
    o.cacheDirectory = folder + "/cache";
    o.configurationMapPath = folder + "/map.txt";
    fs::create_directories(o.cacheDirectory);
    const std::string marker = o.cacheDirectory + "/LegendMetadata.ddc";
    const struct Leftover {
        std::string path;
        bool held;
        bool stays;
    } leftovers[] = {
        {marker + ".tmp4194305.0", false, false},
        {o.configurationMapPath + ".tmp77.12", false, false},
        {marker + ".tmp4194306.1", true, true},
        {marker + ".tmpX.1", false, true},
        {marker + ".tmp12", false, true},
        {folder + "/other.txt.tmp77.1", false, true},
    };
    std::vector<int> held;
    for (const auto& l : leftovers) {
        std::ofstream(l.path) << "half written";
        if (!l.held) continue;
        held.push_back(::open(l.path.c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_EQ(::flock(held.back(), LOCK_EX), 0);
    }
    // Held through another descriptor, as a live writer in another process holds it.
    product::BuildMetadataCache(o);
    for (const auto& l : leftovers) EXPECT_EQ(fs::exists(l.path), l.stays) << l.path;
    for (int fd : held) ::close(fd);
}

TEST(CacheBuilder, TemplatesTheIndexNamesItselfAreNeitherDoubledNorAddedForOtherLocales) {
    const auto& env = SampleEnvironment::Get();
    const std::string db = env.CopyDatabase();
    {
        product::SqliteConnection c(db, {});
        c.Execute("INSERT INTO QTX_METADATAKEYS_OPTABLE VALUES ('CNO21', 'SELECT * FROM VALVE_N WHERE 1 = 2', NULL)");
        c.Execute("INSERT INTO QTX_METADATAKEYS_OPTABLE VALUES ('CNO22G', 'SELECT * FROM VALVE_PT_SDOGEOM WHERE 1 = 2', 'DEU')");
    }
    product::CacheBuildOptions o;
    o.databasePath = db;
    o.cacheDirectory = env.NewFolder("listed-templates");
    size_t reported = 0;
    o.progress = [&](const std::string&, size_t, size_t n) { reported = n; };
    auto result = product::BuildMetadataCache(o);
    EXPECT_EQ(reported, result.files.size());
    EXPECT_EQ(std::count(result.files.begin(), result.files.end(), "CNO21.RAW"), 1);
    auto rows = IndexRows(ado::LoadImage(result.localeDirectory + "/QTX_METADATAKEYS_OPTABLE.RAW"));
    EXPECT_EQ(rows.count("CNO21"), 1u);
    EXPECT_EQ(rows.count("CNO22G"), 1u);  // the database's own, for DEU only
    EXPECT_EQ(rows.find("CNO22G")->second.second, "DEU");
    EXPECT_FALSE(fs::exists(result.localeDirectory + "/CNO22G.RAW"));
    auto tpl = ado::LoadImage(result.localeDirectory + "/CNO21.RAW");
    EXPECT_EQ(tpl.RowCount(), 0u);
    EXPECT_GE(FieldIndex(tpl, "VALVE_TYPE"), 0);
}

class CacheBuilderRefuses : public ::testing::Test {
protected:
    const SampleEnvironment& env = SampleEnvironment::Get();
    std::string folder = env.NewFolder("refuse");
    product::CacheBuildOptions Options(const std::string& db) {
        product::CacheBuildOptions o;
        o.databasePath = db;
        o.cacheDirectory = folder + "/cache";
        return o;
    }
    std::string Failure(const product::CacheBuildOptions& o) {
        try {
            product::BuildMetadataCache(o);
        } catch (const rt::ComError& e) {
            return e.Description();
        }
        return "<no error>";
    }
};

TEST_F(CacheBuilderRefuses, AMissingFileOrOneThatIsNoDatabase) {
    EXPECT_NE(Failure(Options(folder + "/missing.db")).find("missing.db"), std::string::npos);
    std::ofstream(folder + "/text.db") << "this is not a database, just some text that is long enough to matter\n";
    EXPECT_NE(Failure(Options(folder + "/text.db")).find("text.db"), std::string::npos);
    EXPECT_FALSE(fs::exists(folder + "/cache/ENU"));
}

TEST_F(CacheBuilderRefuses, ADatabaseWithoutCacheIndex) {
    { product::SqliteConnection db(folder + "/empty.db", {true, 2000}); db.ExecuteRaw("CREATE TABLE X (A NUMBER(5))"); }
    EXPECT_NE(Failure(Options(folder + "/empty.db")).find("QTX_METADATAKEYS_OPTABLE"), std::string::npos);
}

TEST_F(CacheBuilderRefuses, ABrokenIndexQueryAndKeepsThePreviousCache) {
    const std::string db = env.CopyDatabase();
    auto o = Options(db);
    product::BuildMetadataCache(o);
    const auto before = ado::LoadImage(o.cacheDirectory + "/ENU/QTX_FEATURES_OPTABLE.RAW");
    {
        product::SqliteConnection c(db, {});
        c.Execute("UPDATE QTX_METADATAKEYS_OPTABLE SET QTX_SQL = 'SELECT * FROM NO_SUCH_TABLE' "
                  "WHERE QTX_OPTIMIZEDTABLENAME = 'QTX_ROLEASSOC_OPTABLE'");
        c.Execute("DELETE FROM QTX_FEATURES_OPTABLE");
    }
    std::string why = Failure(o);
    EXPECT_NE(why.find("QTX_ROLEASSOC_OPTABLE"), std::string::npos) << why;
    // The old cache is untouched and nothing of the failed build is left.
    EXPECT_EQ(ado::LoadImage(o.cacheDirectory + "/ENU/QTX_FEATURES_OPTABLE.RAW").RowCount(), before.RowCount());
    for (const auto& e : fs::directory_iterator(o.cacheDirectory))
        EXPECT_EQ(e.path().filename().string().find(".building"), std::string::npos) << e.path();
}

TEST_F(CacheBuilderRefuses, AGeometryComponentWithoutGeometryTableAndUnsafeNames) {
    const std::string db = env.CopyDatabase();
    {
        product::SqliteConnection c(db, {});
        c.Execute("DROP TABLE VALVE_PT_SDOGEOM");
    }
    std::string why = Failure(Options(db));
    EXPECT_NE(why.find("VALVE_PT_SDOGEOM"), std::string::npos) << why;

    const std::string db2 = env.CopyDatabase();
    size_t valves = 0;
    {
        product::SqliteConnection c(db2, {});
        valves = c.Query("SELECT * FROM VALVE_N", {}, "").RowCount();
        c.Execute("UPDATE QTX_COMPONENTINFO_OPTABLE SET QTX_TABLE = 'VALVE_N; DROP TABLE VALVE_N' WHERE QTX_CNO = 21");
    }
    EXPECT_NE(Failure(Options(db2)).find("no table name"), std::string::npos);
    {
        product::SqliteConnection c(db2, {});
        EXPECT_GT(valves, 0u);
        EXPECT_EQ(c.Query("SELECT * FROM VALVE_N", {}, "").RowCount(), valves);
    }

    const std::string db3 = env.CopyDatabase();
    {
        product::SqliteConnection c(db3, {});
        c.Execute("INSERT INTO QTX_METADATAKEYS_OPTABLE VALUES ('../escape', 'SELECT 1 AS A', NULL)");
    }
    EXPECT_NE(Failure(Options(db3)).find("../escape"), std::string::npos);
    EXPECT_FALSE(fs::exists(folder + "/escape.RAW"));
}

TEST_F(CacheBuilderRefuses, TwoIndexRowsOfOneKeyForTheLocale) {
    const std::string db = env.CopyDatabase();
    {
        product::SqliteConnection c(db, {});
        c.Execute("INSERT INTO QTX_METADATAKEYS_OPTABLE VALUES ('QTX_FEATURES_OPTABLE', 'SELECT * FROM QTX_FEATURES_OPTABLE', 'ENU')");
    }
    EXPECT_NE(Failure(Options(db)).find("two rows"), std::string::npos);
}

TEST(CacheBuilderTool, BuildsFromTheCommandLineAndReportsFailure) {
    const std::string build = SampleEnvironment::BuildDirectory();
    const std::string tool = build + "/tools/build_metadata_cache";
    if (build.empty() || !fs::exists(tool)) GTEST_SKIP() << "the tool is not built";
    const auto& env = SampleEnvironment::Get();
    const std::string folder = env.NewFolder("tool");
    const std::string ok = tool + " --sample --database " + folder + "/s.db --cache " + folder + "/cache > " + folder +
                           "/out.txt 2>&1";
    EXPECT_EQ(std::system(ok.c_str()), 0);
    EXPECT_TRUE(fs::exists(folder + "/cache/ENU/QTX_METADATAKEYS_OPTABLE.RAW"));
    EXPECT_TRUE(fs::exists(folder + "/cache/ConfigurationMap.txt"));

    const std::string bad = tool + " --database " + folder + "/none.db --cache " + folder + "/c2 > " + folder +
                            "/err.txt 2>&1";
    int rc = std::system(bad.c_str());
    EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 1);
    std::ifstream in(folder + "/err.txt");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("none.db"), std::string::npos) << text;
}

}  // namespace
