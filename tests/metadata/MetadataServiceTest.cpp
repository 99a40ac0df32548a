// The metadata service on the sample's real cache: configuration, cache
// location, the index, clones of tables, failures and their log.
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <functional>
#include <regex>

#include <sys/stat.h>

#include "CommonFakes.h"
#include "MetadataTestSupport.h"
#include "ado/Persist.h"
#include "pelmora/metadata/MetadataServiceHelper.h"
#include "interfaces/MetadataRecordsetFilterService.h"

namespace metadatatest {
namespace {

namespace fs = std::filesystem;
using pelmora::MetadataService;

constexpr int32_t kItemError = static_cast<int32_t>(0x80040001u);
constexpr int32_t kBaseError = static_cast<int32_t>(0x80040000u);

class MetadataServiceTest : public MetadataFixture {};

// ---- configuration, cache location and the index ----

TEST_F(MetadataServiceTest, ConfigurationLocatesTheLocaleDirectoryAndRegistersTheIndexedTables) {
    auto service = std::make_shared<MetadataService>();
    EXPECT_EQ(service->get_CacheMode(), "PERVASIVE");
    service->put_Configuration(env_->ConfigurationName());

    EXPECT_EQ(service->get_CacheMode(), "LAZY");
    EXPECT_EQ(service->get_CacheFormat(), "RAW");
    EXPECT_EQ(fs::path(service->get_CacheDirectory()), fs::path(env_->LocaleDirectory() + "/"));

    // Every index row of the locale (or of all locales) with SQL is a table.
    auto index = ado::Recordset::Create();
    index->Open(rt::Variant(env_->LocaleDirectory() + "/QTX_METADATAKEYS_OPTABLE.RAW"));
    int32_t expected = 0;
    index->MoveFirst();
    while (!index->get_EOF()) {
        rt::Variant sql = index->GetValue(rt::Variant("QTX_SQL"));
        rt::Variant lcid = index->GetValue(rt::Variant("QTX_LCID"));
        if (!sql.IsNull() && (lcid.IsNull() || rt::UCase(rt::CStr(lcid)) == "ENU")) ++expected;
        index->MoveNext();
    }
    auto recordsets = service->get_Recordsets();
    EXPECT_EQ(recordsets->get_Count(), expected);

    // Nothing is loaded until a table is asked for.
    for (auto& item : recordsets->get_NewEnum()) EXPECT_FALSE(item->IsLoaded()) << item->get_Key();

    // The lower-case "enu" row is taken, the "DEU" one and the retired table are not.
    EXPECT_EQ(recordsets->get_Item(rt::Variant("QTX_LEGENDS_OPTABLE"))->get_Source(),
              "SELECT * FROM QTX_LEGENDS_OPTABLE ORDER BY QTX_LEGENDNO, QTX_FNO");
    EXPECT_EQ(Raised([&] { recordsets->get_Item(rt::Variant("QTX_RETIRED_OPTABLE")); }).Number(), kItemError);
}

TEST_F(MetadataServiceTest, EmptyConfigurationNameTakesTheMapsFirstConfiguration) {
    auto cache = BuildPrivateCache("First Of Map");
    auto service = std::make_shared<MetadataService>();
    auto recordsets = service->get_Recordsets();  // fetches once
    EXPECT_EQ(service->get_Configuration(), "First Of Map");
    EXPECT_EQ(fs::path(service->get_CacheDirectory()), fs::path(cache.localeDirectory + "/"));
    EXPECT_EQ(service->get_Recordsets(), recordsets) << "a second call must not fetch again";
}

TEST_F(MetadataServiceTest, CacheLocationFailures) {
    UseMap("[No Cache]\n/somewhere/else/Other.ddc\n[Bare]\nLegendMetadata.ddc\n");
    auto service = std::make_shared<MetadataService>();

    auto noEntry = Raised([&] { service->put_Configuration("No Cache"); });
    EXPECT_EQ(noEntry.Number(), kBaseError);
    EXPECT_EQ(noEntry.Source(), "MetadataService.Fetch");
    EXPECT_NE(noEntry.Description().find("LegendMetadata.ddc"), std::string::npos);
    EXPECT_EQ(service->get_Configuration(), "No Cache") << "the name stays stored";

    // A file named without any directory cannot give one.
    EXPECT_EQ(Raised([&] { service->put_Configuration("Bare"); }).Number(), rt::vberr::InvalidProcedureCall);

    // A directory without an index.
    const std::string empty = env_->NewFolder("noindex");
    UseMap("[Empty]\n" + empty + "/LegendMetadata.ddc\n");
    auto noIndex = Raised([&] { service->put_Configuration("Empty"); });
    EXPECT_EQ(noIndex.Number(), kBaseError);
    EXPECT_EQ(noIndex.Source(), "MetadataService.Fetch");
    EXPECT_EQ(noIndex.Description(), "The metadata cache index " + empty + "/ENU/QTX_METADATAKEYS_OPTABLE.RAW cannot be "
                                     "opened: the cache has no folder for the locale \"ENU\".");
}

TEST_F(MetadataServiceTest, IndexWithoutLocaleColumnIsRefusedByName) {
    const std::string dir = env_->NewFolder("badindex");
    fs::create_directories(dir + "/ENU");
    ado::RecordsetImage image;
    image.source = "QTX_METADATAKEYS_OPTABLE";
    ado::FieldDesc name, sql;
    name.name = "QTX_OPTIMIZEDTABLENAME";
    name.type = ado::adVarWChar;
    name.definedSize = 30;
    sql.name = "QTX_SQL";
    sql.type = ado::adVarWChar;
    sql.definedSize = 2000;
    image.fields = {name, sql};
    image.values = {rt::Variant("QTX_FEATURES_OPTABLE"), rt::Variant("SELECT 1")};
    ado::SaveImage(dir + "/ENU/QTX_METADATAKEYS_OPTABLE.RAW", image);
    UseMap("[Bad]\n" + dir + "/LegendMetadata.ddc\n");

    auto service = std::make_shared<MetadataService>();
    auto e = Raised([&] { service->put_Configuration("Bad"); });
    EXPECT_EQ(e.Number(), kBaseError);
    EXPECT_EQ(e.Description(), "The column QTX_LCID is missing from QTX_METADATAKEYS_OPTABLE.");
}

// ---- tables as clones ----

TEST_F(MetadataServiceTest, TableIsServedAsFilteredSortedReadOnlyClones) {
    auto service = NewService();
    auto dc = env_->OpenDataContext();
    auto item = service->get_Recordsets()->get_Item(rt::Variant("qtx_attributeinfo_optable"));

    auto rs = item->get_Recordset("QTX_CNO = 11", "QTX_ANO DESC");
    auto anos = Column(rs, "QTX_ANO");
    auto direct = Column(dc->OpenRecordset("SELECT QTX_ANO FROM QTX_ATTRIBUTEINFO_OPTABLE WHERE QTX_CNO = 11 "
                                           "ORDER BY QTX_ANO DESC"),
                         "QTX_ANO");
    ASSERT_FALSE(anos.empty());
    ASSERT_EQ(anos.size(), direct.size());
    for (size_t i = 0; i < anos.size(); ++i) EXPECT_EQ(rt::CLng(anos[i]), rt::CLng(direct[i]));
    for (auto& cno : Column(rs, "QTX_CNO")) EXPECT_EQ(rt::CLng(cno), 11);
    EXPECT_EQ(rs->get_LockType(), ado::adLockReadOnly);
    rs->MoveFirst();
    EXPECT_THROW(rs->Delete(ado::adAffectCurrent), rt::ComError);

    // A second clone is independent of the first and of the master copy.
    auto all = item->get_Recordset();
    EXPECT_GT(all->get_RecordCount(), rs->get_RecordCount());
    EXPECT_EQ(rs->get_RecordCount(), static_cast<int32_t>(direct.size()));
    EXPECT_TRUE(item->IsLoaded());
}

// A repeated request is served from what the first one showed, but only
// while the table's rows stand as they were.
TEST_F(MetadataServiceTest, ARepeatedRequestShowsTheTableAsItIsNow) {
    auto dc = env_->OpenDataContext();
    auto service = NewService();
    service->SetActiveUser(dc, "KLEE");
    auto item = [&](const char* key) { return service->get_Recordsets()->get_Item(rt::Variant(key)); };
    auto numbers = [&](const char* key, const char* filter, const char* sort, const char* field) {
        std::vector<int32_t> out;
        for (const auto& v : Column(item(key)->get_Recordset(filter, sort), field)) out.push_back(rt::CLng(v));
        return out;
    };
    // Sets a project's number through an editable clone of the project table.
    auto renumber = [&](int32_t from, int32_t to) {
        auto rs = item("QTX_VBAPROJECT_OPTABLE")->get_Recordset("QTX_PRJNO = " + std::to_string(from));
        ASSERT_FALSE(rs->get_EOF());
        rs->SetValue(rt::Variant("QTX_PRJNO"), rt::Variant(to));
        rs->Update();
    };
    struct Case {
        const char* what;
        std::function<void()> change;
        const char *key, *filter, *sort, *field;
        std::function<void(const std::vector<int32_t>& before, const std::vector<int32_t>& after)> check;
    };
    const Case cases[] = {
        {"nothing changed: the same rows in the same order", [] {}, "QTX_ATTRIBUTEINFO_OPTABLE", "QTX_CNO = 11",
         "QTX_ANO DESC", "QTX_ANO",
         [](const auto& before, const auto& after) {
             EXPECT_GT(before.size(), 1u);
             EXPECT_EQ(after, before);
             EXPECT_TRUE(std::is_sorted(after.rbegin(), after.rend()));
         }},
        {"rows deleted from the table", [&] { item("QTX_ATTRIBUTEINFO_OPTABLE")->DeleteFilteredRecords("QTX_CNO = 11"); },
         "QTX_ATTRIBUTEINFO_OPTABLE", "QTX_CNO = 11", "QTX_ANO DESC", "QTX_ANO",
         [](const auto& before, const auto& after) {
             EXPECT_FALSE(before.empty());
             EXPECT_TRUE(after.empty());
         }},
        {"a value edited", [&] { renumber(1, 901); }, "QTX_VBAPROJECT_OPTABLE", "QTX_PRJNO = 1", "", "QTX_PRJNO",
         [](const auto& before, const auto& after) {
             EXPECT_EQ(before, std::vector<int32_t>{1});
             EXPECT_TRUE(after.empty());
         }},
        {"the same row edited back (its status stays modified)", [&] { renumber(901, 1); }, "QTX_VBAPROJECT_OPTABLE",
         "QTX_PRJNO = 1", "", "QTX_PRJNO",
         [](const auto& before, const auto& after) {
             EXPECT_TRUE(before.empty());
             EXPECT_EQ(after, std::vector<int32_t>{1});
         }},
        {"another user without the role", [&] { service->SetActiveUser(dc, "JSMITH"); }, "QTX_FEATURES_OPTABLE",
         "QTX_FNO = 105", "", "QTX_FNO",
         [](const auto& before, const auto& after) {
             EXPECT_EQ(before, std::vector<int32_t>{105});
             EXPECT_TRUE(after.empty());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto before = numbers(c.key, c.filter, c.sort, c.field);
        EXPECT_EQ(numbers(c.key, c.filter, c.sort, c.field), before) << "asked again at once";
        c.change();
        c.check(before, numbers(c.key, c.filter, c.sort, c.field));
    }
}

TEST_F(MetadataServiceTest, OrdinaryTablesAreReadOnceTemplatesOnEveryRequest) {
    auto cache = BuildPrivateCache();
    auto service = std::make_shared<MetadataService>();
    service->put_Configuration("Private Network");
    auto recordsets = service->get_Recordsets();

    auto features = recordsets->get_Item(rt::Variant("QTX_FEATURES_OPTABLE"));
    const int32_t rows = features->get_Recordset()->get_RecordCount();
    fs::remove(cache.localeDirectory + "/QTX_FEATURES_OPTABLE.RAW");
    EXPECT_EQ(features->get_Recordset()->get_RecordCount(), rows) << "served from memory";

    // Row templates: lower-case key, reloaded on every call.
    auto templ = recordsets->get_Item(rt::Variant("cno11"));
    auto first = templ->get_Recordset();
    EXPECT_EQ(first->get_LockType(), ado::adLockBatchOptimistic) << "keeps the master's locking";
    EXPECT_GT(first->FieldCount(), 0);
    EXPECT_FALSE(templ->IsLoaded());

    auto projects = recordsets->get_Item(rt::Variant("QTX_VBAPROJECT_OPTABLE"));
    EXPECT_NE(projects->get_Recordset()->get_LockType(), ado::adLockReadOnly);
    EXPECT_TRUE(projects->IsLoaded());
}

TEST_F(MetadataServiceTest, ItemByPositionAndOutOfRange) {
    auto service = NewService();
    auto recordsets = service->get_Recordsets();
    auto first = recordsets->get_Item(rt::Variant(int32_t{1}));
    EXPECT_EQ(recordsets->get_Item(rt::Variant(first->get_Key())), first);
    for (int32_t bad : {0, recordsets->get_Count() + 1}) {
        auto e = Raised([&] { recordsets->get_Item(rt::Variant(bad)); });
        EXPECT_EQ(e.Number(), kItemError);
        EXPECT_EQ(e.Source(), "MetadataRecordsets.Item");
        EXPECT_NE(e.Description().find(std::to_string(bad)), std::string::npos);
    }
}

TEST_F(MetadataServiceTest, AnItemAskedForByTextFollowsItemsThatComeAndGo) {
    auto recordsets = std::make_shared<pelmora::MetadataRecordsets>();
    auto rows = [] {
        auto rs = ado::Recordset::Create();
        rs->get_Fields()->Append("QTX_NAME", ado::adVarWChar, 30);
        rs->Open();
        return rs;
    };
    auto first = recordsets->AppendRecordset("EXTRA_TABLE", "EXTRA_TABLE", rows());
    EXPECT_EQ(recordsets->get_Item(rt::Variant("extra_table")), first);
    EXPECT_EQ(recordsets->get_Item(rt::Variant("extra_table")), first) << "asked again";

    recordsets->Remove(rt::Variant("EXTRA_TABLE"));
    EXPECT_EQ(Raised([&] { recordsets->get_Item(rt::Variant("extra_table")); }).Number(), kItemError);

    auto second = recordsets->AppendRecordset("Extra_Table", "EXTRA_TABLE", rows());
    EXPECT_EQ(recordsets->get_Item(rt::Variant("extra_table")), second);
    recordsets->Clear();
    EXPECT_EQ(Raised([&] { recordsets->get_Item(rt::Variant("extra_table")); }).Number(), kItemError);
}

// ---- failed loads ----

// Ways a cache file (table or index) can be spoilt, and the cause the error names.
struct Damage {
    const char* name;
    std::function<void(const std::string& file, const std::string& other)> spoil;
    const char* cause;
};

void FlipByte(const std::string& file, std::streamoff at, char value) {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(at);
    f.put(value);
}

const std::vector<Damage>& Damages() {
    static const std::vector<Damage> cases = {
        {"missing", [](auto& f, auto&) { fs::remove(f); }, "the file does not exist"},
        {"directory", [](auto& f, auto&) { fs::remove(f); fs::create_directory(f); }, "not a regular file"},
        {"named pipe", [](auto& f, auto&) { fs::remove(f); ::mkfifo(f.c_str(), 0600); }, "not a regular file"},
        {"emptied", [](auto& f, auto&) { fs::resize_file(f, 0); }, "the file is empty"},
        {"cut in half", [](auto& f, auto&) { fs::resize_file(f, fs::file_size(f) / 2); }, "truncated"},
        {"byte flipped", [](auto& f, auto&) { FlipByte(f, 20, '\x7f'); }, "checksum"},
        {"newer format", [](auto& f, auto&) { FlipByte(f, 8, 9); }, "version 9"},
    };
    return cases;
}

TEST_F(MetadataServiceTest, ASpoiltCacheFileGivesError10NamingItsCauseAndOneLogLine) {
    auto cache = BuildPrivateCache();
    const std::string other = cache.localeDirectory + "/QTX_ROLEASSOC_OPTABLE.RAW";
    size_t logged = 0;
    for (const auto& d : Damages()) {
        auto service = std::make_shared<MetadataService>();
        service->put_Configuration("Private Network");
        auto recordsets = service->get_Recordsets();
        const std::string file = cache.localeDirectory + "/QTX_FEATURES_OPTABLE.RAW";
        const std::string kept = file + ".kept";
        fs::copy_file(file, kept, fs::copy_options::overwrite_existing);
        d.spoil(file, other);

        auto item = recordsets->get_Item(rt::Variant("QTX_FEATURES_OPTABLE"));
        auto e = Raised([&] { item->get_Recordset(); });
        EXPECT_EQ(e.Number(), 10) << d.name;
        EXPECT_EQ(e.Description().rfind("Missing cache file: " + file + " (", 0), 0u) << d.name << ": " << e.Description();
        EXPECT_NE(e.Description().find(d.cause), std::string::npos) << d.name << ": " << e.Description();
        EXPECT_EQ(e.Source(), "MetadataService.Recordsets.MetadataRecordset.Recordset\r\n" + e.Description());
        EXPECT_FALSE(item->IsLoaded()) << d.name;
        // The log keeps the system's own line.
        auto lines = LogLines();
        ASSERT_EQ(lines.size(), ++logged) << d.name;
        EXPECT_TRUE(std::regex_match(lines.back(), std::regex(R"( : \d{4}\.\d{2}\.\d{2} \d{2}:\d{2}:\d{2} (AM|PM)  - .*)")))
            << lines.back();
        EXPECT_EQ(lines.back().substr(lines.back().size() - file.size() - 20), "Missing cache file: " + file);
        fs::remove_all(file);
        fs::rename(kept, file);
    }
}

TEST_F(MetadataServiceTest, ATableServesWhateverSourceItsFileHolds) {
    auto cache = BuildPrivateCache();
    const struct Case {
        const char* key;
        std::string source;
    } cases[] = {
        {"QTX_FEATURES_OPTABLE", "SELECT * FROM QTX_FEATURES_OPTABLE ORDER BY QTX_FNO"},
        {"QTX_FEATURES_OPTABLE", ""},
        {"QTX_FEATURES_OPTABLE", "QTX_ROLEASSOC_OPTABLE"},
        {"CNO11", "SELECT * FROM WATER_MAIN_N WHERE 1 = 0"},
    };
    for (const Case& c : cases) {
        auto rowsOf = [&] {
            auto service = std::make_shared<MetadataService>();
            service->put_Configuration("Private Network");
            return service->get_Recordsets()->get_Item(rt::Variant(c.key))->get_Recordset();
        };
        const int32_t rows = rowsOf()->get_RecordCount();
        const std::string file = cache.localeDirectory + "/" + c.key + ".RAW";
        ado::RecordsetImage image = ado::LoadImage(file);
        image.source = c.source;
        ado::SaveImage(file, image);
        auto rs = rowsOf();
        EXPECT_EQ(rs->get_Source(), c.source) << c.key;
        EXPECT_EQ(rs->get_RecordCount(), rows) << c.key << " from " << c.source;
    }
}

// Another table's file in its place is served; the first read of a column
// it lacks names the table and the column.
TEST_F(MetadataServiceTest, AColumnATableLacksIsNamedWithTheTableWhereItIsRead) {
    auto cache = BuildPrivateCache();
    fs::copy_file(cache.localeDirectory + "/QTX_ROLEASSOC_OPTABLE.RAW",
                  cache.localeDirectory + "/QTX_FEATURES_OPTABLE.RAW", fs::copy_options::overwrite_existing);
    auto service = std::make_shared<MetadataService>();
    service->put_Configuration("Private Network");
    auto item = service->get_Recordsets()->get_Item(rt::Variant("QTX_FEATURES_OPTABLE"));
    const struct Case {
        const char* how;
        std::function<void()> read;
    } cases[] = {
        {"by name", [&] { item->get_Recordset()->get_Fields()->Item("QTX_FNO"); }},
        {"by Variant", [&] { item->get_Recordset()->get_Fields()->get_Item(rt::Variant("QTX_FNO")); }},
        {"sorting", [&] { item->get_Recordset("", "QTX_FNO"); }},
        {"filtering", [&] { item->get_Recordset("QTX_FNO = 1"); }},
    };
    for (const Case& c : cases) {
        auto e = Raised(c.read);
        EXPECT_EQ(e.Number(), ado::err::ItemNotFound) << c.how;
        EXPECT_NE(e.Description().find("The metadata table QTX_FEATURES_OPTABLE has no column QTX_FNO."),
                  std::string::npos) << c.how << ": " << e.Description();
    }
}

TEST_F(MetadataServiceTest, ASpoiltIndexOrAMissingLocaleFolderIsNamedWithItsCause) {
    auto cache = BuildPrivateCache();
    const std::string index = cache.localeDirectory + "/QTX_METADATAKEYS_OPTABLE.RAW";
    const std::string other = cache.localeDirectory + "/QTX_ROLEASSOC_OPTABLE.RAW";
    const std::string kept = index + ".kept";
    fs::copy_file(index, kept);
    for (const auto& d : Damages()) {
        d.spoil(index, other);
        auto e = Raised([&] { std::make_shared<MetadataService>()->put_Configuration("Private Network"); });
        EXPECT_EQ(e.Number(), kBaseError) << d.name;
        EXPECT_EQ(e.Source(), "MetadataService.Fetch");
        EXPECT_NE(e.Description().find(index), std::string::npos) << d.name << ": " << e.Description();
        EXPECT_NE(e.Description().find(d.cause), std::string::npos) << d.name << ": " << e.Description();
        fs::remove_all(index);
        fs::copy_file(kept, index);
    }
    ::setenv("PELMORA_LOCALE", "FRA", 1);
    auto e = Raised([&] { std::make_shared<MetadataService>()->put_Configuration("Private Network"); });
    ::unsetenv("PELMORA_LOCALE");
    EXPECT_NE(e.Description().find("no folder for the locale \"FRA\""), std::string::npos) << e.Description();
}

TEST_F(MetadataServiceTest, KeysAndLocalesThatWouldLeaveTheCacheAreRefusedWithError10) {
    auto cache = BuildPrivateCache();
    // A planted file outside the cache, and a link to it inside.
    const std::string outside = fs::path(cache.localeDirectory).parent_path().parent_path().string() + "/x";
    fs::create_directories(outside);
    fs::copy_file(cache.localeDirectory + "/QTX_FEATURES_OPTABLE.RAW", outside + "/planted.RAW");
    fs::create_symlink(outside + "/planted.RAW", cache.localeDirectory + "/LINKED.RAW");
    auto recordsets = std::make_shared<pelmora::MetadataRecordsets>();
    for (const char* key : {"../x/planted", "../../x/planted", "/tmp/planted", "A B", ".hidden", "LINKED"}) {
        auto item = recordsets->AppendKey(key, "SELECT 1 FROM DUAL");
        item->put_CacheDirectory(cache.localeDirectory);
        item->put_CacheFormat("RAW");
        auto e = Raised([&] { item->get_Recordset(); });
        EXPECT_EQ(e.Number(), 10) << key;
        EXPECT_NE(e.Description().find(key), std::string::npos) << e.Description();
        EXPECT_FALSE(item->IsLoaded()) << key;
    }
    for (const char* locale : {"../../EVIL", "ENU/..", "E NU"}) {
        ::setenv("PELMORA_LOCALE", locale, 1);
        auto e = Raised([&] { std::make_shared<MetadataService>()->put_Configuration("Private Network"); });
        ::unsetenv("PELMORA_LOCALE");
        EXPECT_EQ(e.Number(), 10) << locale;
        EXPECT_NE(e.Description().find(rt::UCase(locale)), std::string::npos) << e.Description();
    }
}

TEST_F(MetadataServiceTest, UnwritableLogDoesNotReplaceTheLoadError) {
    auto cache = BuildPrivateCache();
    auto service = std::make_shared<MetadataService>();
    service->put_Configuration("Private Network");
    fs::remove(cache.localeDirectory + "/QTX_FEATURES_OPTABLE.RAW");
    // A directory where the log file should be: the line cannot be written.
    fs::create_directory(workDirectory_ + "/" + pelmora::kMetadataLogFileName);

    auto e = Raised([&] { service->get_Recordsets()->get_Item(rt::Variant("QTX_FEATURES_OPTABLE"))->get_Recordset(); });
    EXPECT_EQ(e.Number(), 10);
    EXPECT_NE(e.Description().find("Missing cache file: "), std::string::npos);
}

// ---- lifetime and caches ----

TEST_F(MetadataServiceTest, EndingTheServiceEmptiesItsCollection) {
    auto service = NewService();
    auto recordsets = service->get_Recordsets();
    auto item = recordsets->get_Item(rt::Variant("QTX_FEATURES_OPTABLE"));
    service.reset();
    EXPECT_EQ(recordsets->get_Count(), 0);
    EXPECT_EQ(item->get_Parent(), nullptr);
}

TEST_F(MetadataServiceTest, FetchFreesTheOldCollectionAndItsItemsForgetIt) {
    auto service = NewService();
    std::weak_ptr<pelmora::MetadataRecordsets> old = service->get_Recordsets();
    auto held = old.lock()->get_Item(rt::Variant("QTX_ADD_REL_PARAMS_OPTABLE"));
    ASSERT_EQ(held->get_Parent(), old.lock());

    service->Fetch();
    EXPECT_TRUE(old.expired()) << "items must not keep their collection alive";
    EXPECT_EQ(held->get_Parent(), nullptr);
    EXPECT_GT(held->get_Recordset()->get_RecordCount(), 0) << "a held item still serves its table";
}

TEST_F(MetadataServiceTest, TheSiblingInterfaceServesTheCurrentCollectionAndKeepsNoOldOne) {
    auto service = NewService();
    auto facet = rt::QueryInterface<pelmora::IMetadataService>(std::static_pointer_cast<rt::Object>(service));
    std::weak_ptr<pelmora::MetadataRecordsets> old = service->get_Recordsets();
    auto first = facet->get_Recordsets();
    EXPECT_EQ(facet->get_Recordsets(), first) << "asked again, the same collection";
    auto held = first->get_Item(rt::Variant("QTX_FEATURES_OPTABLE"));
    first.reset();

    service->Fetch();
    EXPECT_TRUE(old.expired()) << "the sibling interface must not keep the old collection alive";
    auto fresh = facet->get_Recordsets();
    EXPECT_NE(fresh->get_Item(rt::Variant("QTX_FEATURES_OPTABLE")), held);
    EXPECT_EQ(fresh->get_Count(), service->get_Recordsets()->get_Count());
}

TEST_F(MetadataServiceTest, NewCollectionStartsWithEmptyFilterCaches) {
    auto service = NewService();
    auto rs = service->get_Recordsets()->get_Item(rt::Variant("QTX_FEATURECOMPS_OPTABLE"))->get_Recordset();
    pelmora::MetadataRecordsetFilterService filter;
    filter.FilterRecordset(rs, rs->get_Fields()->Item("QTX_FNO"), rt::Variant(int32_t{101}));
    auto other = service->get_Recordsets()->get_Item(rt::Variant("QTX_FEATURECOMPS_OPTABLE"))->get_Recordset();
    filter.FilterDistinct(other, other->get_Fields()->Item("QTX_FNO"));
    const std::string source = rs->get_Source();
    ASSERT_GT(pelmora::filtercache::Count(), 0u);
    ASSERT_TRUE(pelmora::filtercache::DistinctContains(source, "QTX_FNO"));

    service->Fetch();
    EXPECT_EQ(pelmora::filtercache::Count(), 0u);
    EXPECT_FALSE(pelmora::filtercache::DistinctContains(source, "QTX_FNO"));
}

TEST_F(MetadataServiceTest, RefreshKeepsRolesAndDropsAppendedTables) {
    auto service = NewService();
    service->SetActiveUser(env_->OpenDataContext(), "KLEE");
    auto recordsets = service->get_Recordsets();
    recordsets->AppendRecordset("MY_TABLE", "MY_TABLE",
                                recordsets->get_Item(rt::Variant("QTX_ADD_REL_PARAMS_OPTABLE"))->get_Recordset());
    recordsets->put_VBARefreshPending(true);

    service->Refresh();
    auto fresh = service->get_Recordsets();
    EXPECT_NE(fresh, recordsets);
    EXPECT_TRUE(service->IsRoleGranted("WATER_QUALITY"));
    EXPECT_EQ(Raised([&] { fresh->get_Item(rt::Variant("MY_TABLE")); }).Number(), kItemError);
    EXPECT_FALSE(fresh->get_VBARefreshPending());
}

TEST_F(MetadataServiceTest, DeleteListIsKeptAndAppliedToLoadedTables) {
    auto service = NewService();
    auto features = service->get_Recordsets()->get_Item(rt::Variant("QTX_FEATURES_OPTABLE"));
    const int32_t rows = features->get_Recordset()->get_RecordCount();

    service->DeleteRecords(rt::Variant::ArrayOf(
        {rt::Variant("QTX_FEATURES_OPTABLE;QTX_FNO = 103"), rt::Variant(""), rt::Variant("NO_SUCH_TABLE;X = 1"),
         rt::Variant("no separator")}));
    service->DeleteRecords(rt::Variant::ArrayOf({rt::Variant("QTX_FEATURES_OPTABLE;QTX_FNO = 101")}));
    service->RefreshRecordsDelete();
    service->RefreshRecordsDelete();

    auto fnos = Column(features->get_Recordset(), "QTX_FNO");
    EXPECT_EQ(static_cast<int32_t>(fnos.size()), rows - 1);
    EXPECT_FALSE(Contains(fnos, 103));
    EXPECT_TRUE(Contains(fnos, 101)) << "the first list of several entries stays";
}

TEST_F(MetadataServiceTest, MembersTraceEntryAndExitUnderTheServicesFile) {
    auto trace = std::make_shared<commontest::FakeTrace>();
    trace->mask = 0x400002;
    rt::RegisterClass(pelmora::kTraceObjectProgId, "", [trace] { return trace; });
    auto service = std::make_shared<MetadataService>();
    service->put_Configuration(env_->ConfigurationName());
    service->get_Recordsets();  // not traced

    std::vector<std::string> seen;
    for (auto& call : trace->calls) {
        EXPECT_EQ(call.subsystem, "Tessaly Components Subsystem");
        EXPECT_EQ(call.file, "MetadataService");
        seen.push_back(call.kind + " " + call.procedure);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"Enter Class_Initialize", "Exit Class_Initialize",
                                               "Enter Let Configuration", "Enter Fetch", "Enter GetCacheLocation",
                                               "Exit GetCacheLocation", "Exit Fetch", "Exit Let Configuration"}));

    // A refresh with nothing recorded returns at once, without an exit trace.
    trace->calls.clear();
    service->RefreshDynamicEdits(env_->OpenDataContext());
    ASSERT_EQ(trace->calls.size(), 1u);
    EXPECT_EQ(trace->calls[0].kind + " " + trace->calls[0].procedure, "Enter RefreshDynamicEdits");
    product::RegisterProductStandIns();
}

TEST_F(MetadataServiceTest, HelperSetsTheConfigurationThroughTheServicesOwnProperty) {
    auto trace = std::make_shared<commontest::FakeTrace>();
    trace->mask = 0x400002;
    rt::RegisterClass(pelmora::kTraceObjectProgId, "", [trace] { return trace; });
    pelmora::RegisterMetadataServiceHelper();
    auto helper = rt::CreateObject(pelmora::kMetadataServiceHelperProgId);
    const std::vector<std::string> expected = {"Enter Let Configuration", "Enter Fetch", "Enter GetCacheLocation",
                                               "Exit GetCacheLocation", "Exit Fetch", "Exit Let Configuration"};
    // The service's own face and its sibling interface, late bound.
    for (bool facet : {false, true}) {
        auto service = std::make_shared<MetadataService>();
        rt::ObjectPtr face = service;
        if (facet) face = rt::ObjectPtrOf(rt::QueryInterface<pelmora::IMetadataService>(service));
        trace->calls.clear();
        rt::CallByName(helper, "SetConfiguration", rt::InvokeKind::Method,
                       {rt::Variant(face), rt::Variant(env_->ConfigurationName())});
        std::vector<std::string> seen;
        for (auto& call : trace->calls) seen.push_back(call.kind + " " + call.procedure);
        EXPECT_EQ(seen, expected) << "facet " << facet;
        EXPECT_EQ(service->get_Configuration(), env_->ConfigurationName());
        EXPECT_EQ(service->get_CacheMode(), "LAZY") << "fetched";
    }
    product::RegisterProductStandIns();
}

// ---- interfaces, connection point, creation ----

TEST_F(MetadataServiceTest, SiblingInterfaceStoresTheConfigurationWithoutFetching) {
    auto object = rt::CreateObject(pelmora::kMetadataServiceProgId);
    auto face = rt::QueryInterface<pelmora::IMetadataService>(object);
    face->put_Configuration(env_->ConfigurationName());
    EXPECT_EQ(face->get_CacheMode(), "PERVASIVE");
    EXPECT_EQ(face->get_Configuration(), env_->ConfigurationName());

    auto tables = face->get_Recordsets();
    EXPECT_EQ(face->get_CacheMode(), "LAZY");
    auto rs = tables->get_Item(rt::Variant("QTX_FEATURES_OPTABLE"))->get_Recordset("QTX_FNO = 102");
    EXPECT_EQ(rs->get_RecordCount(), 1);
    // Back to the service's own face from the sibling one.
    EXPECT_EQ(rt::QueryInterface<MetadataService>(face), object);
    EXPECT_EQ(Raised([&] { std::make_shared<MetadataService>()->IsRoleGranted("X"); }).Number(),
              rt::vberr::ObjectVariableNotSet);
}

TEST_F(MetadataServiceTest, LateBoundMembersReachTheSameService) {
    auto service = rt::CreateObject(pelmora::kMetadataServiceProgId);
    rt::CallByName(service, "Configuration", rt::InvokeKind::PropertyLet, {rt::Variant(env_->ConfigurationName())});
    auto tables = rt::CallByName(service, "Recordsets", rt::InvokeKind::PropertyGet).Obj();
    auto item = rt::CallByName(tables, "Item", rt::InvokeKind::PropertyGet, {rt::Variant("QTX_FEATURES_OPTABLE")});
    auto rs = rt::CallByName(item.Obj(), "Recordset", rt::InvokeKind::PropertyGet, {rt::Variant("QTX_FNO = 101")});
    EXPECT_EQ(std::dynamic_pointer_cast<ado::Recordset>(rs.Obj())->get_RecordCount(), 1);
    EXPECT_EQ(rt::CStr(rt::CallByName(service, "CacheMode", rt::InvokeKind::PropertyGet)), "LAZY");
    EXPECT_TRUE(rt::IsClassRegistered(pelmora::kMetadataRecordsetsProgId));
}

TEST_F(MetadataServiceTest, ConnectionPointOnlyForTheEventInterface) {
    auto service = std::make_shared<MetadataService>();
    const auto iid = rt::CLSIDFromString(pelmora::kMetadataServiceEventsIID);
    auto point = service->FindConnectionPoint(iid);
    ASSERT_NE(point, nullptr);
    EXPECT_EQ(service->FindConnectionPoint(iid), point);
    EXPECT_TRUE(rt::IsEqualGUID(point->GetConnectionInterface(), iid));
    EXPECT_EQ(rt::GuidToString(iid), pelmora::kMetadataServiceEventsIID);

    auto other = Raised([&] { service->FindConnectionPoint(rt::CLSIDFromString("{00000000-0000-0000-C000-000000000046}")); });
    EXPECT_EQ(other.Number(), 1);
    EXPECT_EQ(other.Source(), "IConnectionPointContainer");
    EXPECT_EQ(other.Description(), "Unsupported connection point");
    EXPECT_EQ(Raised([&] { service->EnumConnectionPoints(); }).Description(), "Not implemented");
    EXPECT_THROW(rt::CLSIDFromString("{not a guid}"), rt::ComError);
}

}  // namespace
}  // namespace metadatatest
