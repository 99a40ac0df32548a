// The sample network's database: the tables the data-access server reads,
// their consistency (keys, sequences, defaults, roles), and the loader.
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "ado/Recordset.h"
#include "product/SampleDatabase.h"
#include "product/SqliteConnection.h"
#include "product/SqliteDataContext.h"
#include "runtime/Vb.h"
#include "support/SampleEnvironment.h"

namespace {

namespace fs = std::filesystem;
using pelmora_test::SampleEnvironment;

struct Db {
    product::SqliteConnection conn;
    explicit Db(const std::string& path) : conn(path, product::SqliteConnection::Options{}) {}
    ado::RecordsetImage Q(const std::string& sql, const std::vector<rt::Variant>& v = {}) { return conn.Query(sql, v, sql); }
    std::set<std::string> Columns(const std::string& table) {
        std::set<std::string> cols;
        for (const auto& f : Q("SELECT * FROM " + table + " WHERE 1 = 0").fields) cols.insert(rt::UCase(f.name));
        return cols;
    }
};

const rt::Variant& At(const ado::RecordsetImage& img, size_t row, const std::string& field) {
    for (size_t f = 0; f < img.fields.size(); ++f)
        if (rt::NamesEqual(img.fields[f].name, field)) return img.values[row * img.fields.size() + f];
    throw std::runtime_error("no field " + field);
}

std::string Text(const rt::Variant& v) { return v.IsNull() ? std::string() : rt::CStr(v); }

TEST(SampleNetwork, HoldsEveryMetadataTableWithTheColumnsItsReadersUse) {
    Db db(SampleEnvironment::Get().DatabasePath());
    const std::map<std::string, std::vector<std::string>> expected = {
        {"QTX_FEATURES_OPTABLE", {"QTX_FNO", "QTX_USERNAME", "QTX_TYPE", "QTX_CLASSIFICATIONANO", "QTX_PRIMARYATTRIBUTECNO", "QTX_ROLE"}},
        {"QTX_FEATURECOMPS_OPTABLE", {"QTX_FNO", "QTX_CNO", "QTX_NAME", "QTX_TYPE", "QTX_TABLE", "QTX_REPEATING"}},
        {"QTX_COMPONENTINFO_OPTABLE", {"QTX_CNO", "QTX_NAME", "QTX_USERNAME", "QTX_TABLE", "QTX_TYPE", "QTX_GEOMETRYTYPE", "QTX_ROLE"}},
        {"QTX_ATTRIBUTEINFO_OPTABLE", {"QTX_ANO", "QTX_CNO", "QTX_NAME", "QTX_FIELD", "QTX_USERNAME", "DATA_DEFAULT",
                                       "QTX_RELATIONIFACEPROGID", "QTX_RELATIONIFACETYPE", "QTX_RIARGGROUPNO",
                                       "QTX_RELATIONIFACEPRJNO", "QTX_DATATYPE", "QTX_ROLE"}},
        {"QTX_ATTRIBUTEINFOFI_OPTABLE", {"QTX_CNO", "QTX_FIELD", "QTX_FUNCTIONALTYPE", "QTX_INTERFACE", "QTX_PRJNO",
                                         "QTX_INTERFACEARGUMENT", "QTX_ANO", "DATA_DEFAULT", "QTX_RELATIONIFACEPROGID",
                                         "QTX_RELATIONIFACETYPE", "QTX_RIARGGROUPNO", "QTX_RELATIONIFACEPRJNO"}},
        {"QTX_TABCNOLOOKUP", {"QTX_FNO", "QTX_CNO"}},
        {"QTX_FEATUREPLACEMENT_OPTABLE", {"QTX_FNO", "QTX_CNO", "QTX_REQUIRED", "QTX_ALTERNATEREQUIREDCNO"}},
        {"QTX_CONFIGPLACEMENT_OPTABLE", {"QTX_PCNO", "QTX_FNO", "QTX_FEATUREINDEX", "QTX_INCLUDEINPLACEMENT"}},
        {"QTX_RELATIONIFACEARGS_OPTABLE", {"QTX_RIARGGROUPNO", "QTX_VALUE"}},
        {"QTX_VBAPROJECT_OPTABLE", {"QTX_PRJNO"}},
        {"QTX_VBAPROJECT", {"QTX_PRJNO", "QTX_PROJECT"}},
        {"QTX_ROLEASSOC_OPTABLE", {"QTX_ROLE"}},
        {"QTX_METADATAKEYS_OPTABLE", {"QTX_OPTIMIZEDTABLENAME", "QTX_SQL", "QTX_LCID"}},
        {"qtx_metadataversion_optable", {"QTX_VERSIONNO", "QTX_POSTDATE"}},
        {"qtx_metadataversion", {"QTX_VERSIONNO", "QTX_COMMENTS"}},
        {"QTX_STYLEOBJECTS_OPTABLE", {}},
        {"QTX_LEGENDS_OPTABLE", {}},
        {"QTX_LABELFORMATS_OPTABLE", {}},
        {"QTX_ADD_REL_PARAMS_OPTABLE", {"QTX_PARAMNAME", "QTX_PARAMVALUE"}},
        {"dba_role_privs", {"GRANTEE", "GRANTED_ROLE"}},
    };
    for (const auto& [table, columns] : expected) {
        SCOPED_TRACE(table);
        std::set<std::string> have;
        ASSERT_NO_THROW(have = db.Columns(table));
        for (const auto& c : columns) EXPECT_TRUE(have.count(c)) << "missing column " << c;
        if (table != "QTX_VBAPROJECT" && table != "qtx_metadataversion") {
            EXPECT_GT(db.Q("SELECT * FROM " + table).RowCount(), 0u) << "no rows to act on";
        }
    }
}

TEST(SampleNetwork, ComponentsAndTheirTablesAgree) {
    Db db(SampleEnvironment::Get().DatabasePath());
    auto comps = db.Q("SELECT * FROM QTX_COMPONENTINFO_OPTABLE");
    std::map<int, std::string> tableOf;
    for (size_t r = 0; r < comps.RowCount(); ++r) {
        const int cno = rt::CLng(At(comps, r, "QTX_CNO"));
        const std::string table = Text(At(comps, r, "QTX_TABLE"));
        tableOf[cno] = table;
        SCOPED_TRACE(table);
        auto cols = db.Columns(table);
        for (const char* key : {"QTX_ID", "QTX_FNO", "QTX_FID", "QTX_CNO", "QTX_CID"}) EXPECT_TRUE(cols.count(key)) << key;
        // Every row of the table carries its component's number.
        EXPECT_EQ(db.Q("SELECT * FROM " + table + " WHERE QTX_CNO <> ?", {rt::Variant(cno)}).RowCount(), 0u);
        const bool geometry = rt::CLng(At(comps, r, "QTX_TYPE")) != 1;
        if (geometry) {
            auto g = db.Columns(table + "_SDOGEOM");
            for (const char* key : {"QTX_FNO", "QTX_FID", "QTX_CNO", "QTX_CID", "SDO_GID", "SDO_ESEQ", "SDO_SEQ"})
                EXPECT_TRUE(g.count(key)) << key;
            // Every geometry row belongs to a component row: SDO_GID is its QTX_ID.
            EXPECT_EQ(db.Q("SELECT * FROM " + table + "_SDOGEOM g WHERE NOT EXISTS (SELECT 1 FROM " + table +
                           " c WHERE c.QTX_ID = g.SDO_GID AND c.QTX_FID = g.QTX_FID)")
                          .RowCount(),
                      0u);
        }
    }
    auto fc = db.Q("SELECT * FROM QTX_FEATURECOMPS_OPTABLE");
    for (size_t r = 0; r < fc.RowCount(); ++r) {
        const int cno = rt::CLng(At(fc, r, "QTX_CNO"));
        ASSERT_TRUE(tableOf.count(cno)) << "feature component " << cno << " has no component row";
        EXPECT_EQ(Text(At(fc, r, "QTX_TABLE")), tableOf[cno]);
    }
}

TEST(SampleNetwork, SequencesHandOutKeysAboveEveryStoredKey) {
    Db db(SampleEnvironment::Get().CopyDatabase());
    auto comps = db.Q("SELECT QTX_TABLE FROM QTX_COMPONENTINFO_OPTABLE");
    int64_t maxFid = 0;
    for (size_t r = 0; r < comps.RowCount(); ++r) {
        const std::string table = Text(At(comps, r, "QTX_TABLE"));
        SCOPED_TRACE(table);
        auto m = db.Q("SELECT coalesce(max(QTX_ID), 0) AS M, coalesce(max(QTX_FID), 0) AS F FROM " + table);
        const int64_t maxId = rt::CLng(m.values[0]);
        maxFid = std::max<int64_t>(maxFid, rt::CLng(m.values[1]));
        EXPECT_GT(db.conn.NextValue(table + "_SEQ"), maxId);
    }
    EXPECT_GT(db.conn.NextValue("QTX_FID_SEQ"), maxFid);
}

TEST(SampleNetwork, AttributeDefaultsMatchTheColumnDefaults) {
    Db db(SampleEnvironment::Get().DatabasePath());
    auto attrs = db.Q(
        "SELECT a.QTX_FIELD, a.DATA_DEFAULT, c.QTX_TABLE FROM QTX_ATTRIBUTEINFO_OPTABLE a "
        "JOIN QTX_COMPONENTINFO_OPTABLE c ON c.QTX_CNO = a.QTX_CNO");
    ASSERT_GT(attrs.RowCount(), 20u);
    int withDefault = 0;
    for (size_t r = 0; r < attrs.RowCount(); ++r) {
        const std::string field = Text(attrs.values[r * 3]);
        const std::string table = Text(attrs.values[r * 3 + 2]);
        SCOPED_TRACE(table + "." + field);
        auto info = db.Q("SELECT dflt_value FROM pragma_table_info(?) WHERE upper(name) = upper(?)",
                         {rt::Variant(table), rt::Variant(field)});
        ASSERT_EQ(info.RowCount(), 1u) << "the attribute names no column of its table";
        std::string columnDefault = Text(info.values[0]);
        if (columnDefault.size() >= 2 && columnDefault.front() == '\'') columnDefault = columnDefault.substr(1, columnDefault.size() - 2);
        EXPECT_EQ(Text(attrs.values[r * 3 + 1]), columnDefault);
        withDefault += columnDefault.empty() ? 0 : 1;
    }
    EXPECT_GT(withDefault, 10);
}

TEST(SampleNetwork, RolesOfRowsAreGrantableAndChainThroughRoles) {
    Db db(SampleEnvironment::Get().DatabasePath());
    std::set<std::string> grantable;
    auto privs = db.Q("SELECT GRANTED_ROLE FROM DBA_ROLE_PRIVS");
    for (size_t r = 0; r < privs.RowCount(); ++r) grantable.insert(Text(privs.values[r]));
    int restricted = 0;
    for (const char* table : {"QTX_FEATURES_OPTABLE", "QTX_COMPONENTINFO_OPTABLE", "QTX_ATTRIBUTEINFO_OPTABLE",
                              "QTX_FEATURECOMPS_OPTABLE", "QTX_VBAPROJECT_OPTABLE", "QTX_LEGENDS_OPTABLE"}) {
        auto rows = db.Q(std::string("SELECT QTX_ROLE FROM ") + table + " WHERE QTX_ROLE IS NOT NULL");
        for (size_t r = 0; r < rows.RowCount(); ++r) {
            ++restricted;
            EXPECT_TRUE(grantable.count(Text(rows.values[r]))) << table << ": role " << Text(rows.values[r]);
        }
    }
    EXPECT_GE(restricted, 5);

    // The roles query the metadata service sends, through the data context.
    auto dc = SampleEnvironment::Get().OpenDataContext();
    auto roles = dc->OpenRecordset(
        "SELECT distinct granted_role FROM dba_role_privs START WITH grantee = 'MBROWN' CONNECT BY grantee = PRIOR  "
        "granted_role");
    ASSERT_TRUE(roles);
    std::set<std::string> got;
    for (; !roles->get_EOF(); roles->MoveNext()) got.insert(rt::CStr(roles->get_Fields()->get_Item(rt::Variant(0))->get_Value()));
    EXPECT_EQ(got, (std::set<std::string>{"WATER_ENGINEER", "WATER_EDITOR", "WATER_VIEWER"}));
}

// ---- the loader ----

class SampleLoader : public ::testing::Test {
protected:
    std::string dir = SampleEnvironment::Get().NewFolder("loader");
    void Write(const std::string& name, const std::string& text) { std::ofstream(dir + "/" + name) << text; }
};

TEST_F(SampleLoader, RunsScriptsInNameOrderAndCreatesSequences) {
    Write("20_rows.sql", "INSERT INTO T (A) VALUES (1);");
    Write("10_table.sql", "CREATE TABLE T (A NUMBER(5));");
    Write("sequences.sql", "-- two\nCREATE SEQUENCE T_SEQ START WITH 40;\ncreate sequence u_seq start with 5 increment by 5;\n");
    const std::string db = dir + "/t.db";
    product::BuildSampleDatabase(db, dir);
    Db check(db);
    EXPECT_EQ(check.Q("SELECT * FROM T").RowCount(), 1u);
    EXPECT_EQ(check.conn.NextValue("T_SEQ"), 40);
    EXPECT_EQ(check.conn.NextValue("U_SEQ"), 5);
    EXPECT_EQ(check.conn.NextValue("U_SEQ"), 10);
}

TEST_F(SampleLoader, AFailingScriptNamesItsFileAndLeavesNoDatabase) {
    Write("10_table.sql", "CREATE TABLE T (A NUMBER(5));");
    Write("20_broken.sql", "INSERT INTO NOWHERE (A) VALUES (1);");
    const std::string db = dir + "/t.db";
    try {
        product::BuildSampleDatabase(db, dir);
        FAIL() << "no error";
    } catch (const rt::ComError& e) {
        EXPECT_NE(e.Description().find("20_broken.sql"), std::string::npos) << e.Description();
    }
    EXPECT_FALSE(fs::exists(db));
}

TEST_F(SampleLoader, RefusesAnExistingFileAndKeepsIt) {
    Write("10_table.sql", "CREATE TABLE T (A NUMBER(5));");
    const std::string db = dir + "/t.db";
    std::ofstream(db) << "precious";
    EXPECT_THROW(product::BuildSampleDatabase(db, dir), rt::ComError);
    std::ifstream in(db);
    std::string text;
    in >> text;
    EXPECT_EQ(text, "precious");
}

TEST_F(SampleLoader, ABadSequenceStatementIsRefusedAndNothingIsLeft) {
    Write("10_table.sql", "CREATE TABLE T (A NUMBER(5));");
    Write("sequences.sql", "CREATE SEQUENCE A_SEQ START WITH ten;");
    EXPECT_THROW(product::BuildSampleDatabase(dir + "/t.db", dir), rt::ComError);
    EXPECT_FALSE(fs::exists(dir + "/t.db"));
    EXPECT_THROW(product::ParseSequenceDefinitions("CREATE SEQUENCE A START WITH 1; CREATE SEQUENCE a START WITH 2;", "x"),
                 rt::ComError);
    EXPECT_THROW(product::ParseSequenceDefinitions("DROP SEQUENCE A;", "x"), rt::ComError);
}

}  // namespace
