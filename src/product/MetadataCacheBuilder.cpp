#include "product/MetadataCacheBuilder.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>

#include "ado/Persist.h"
#include "interfaces/MetadataCacheFiles.h"
#include "product/ConfigurationMap.h"
#include "product/FilePlacement.h"
#include "ado/Recordset.h"
#include "product/SqliteConnection.h"
#include "product/SqliteDataContext.h"
#include "runtime/Error.h"
#include "runtime/FileReplace.h"
#include "runtime/SqlName.h"
#include "runtime/Vb.h"

namespace product {

namespace fs = std::filesystem;

namespace {

const char* const kSource = "BuildMetadataCache";
const char* const kIndexKey = pelmora::kMetadataKeysTable;

[[noreturn]] void Fail(int32_t number, const std::string& description) {
    throw rt::ComError(number, kSource, description);
}

// A locale code names a directory of the cache: letters, digits and "_".
int FieldIndex(const ado::RecordsetImage& image, const std::string& name) {
    for (size_t i = 0; i < image.fields.size(); ++i)
        if (rt::NamesEqual(image.fields[i].name, name)) return static_cast<int>(i);
    return -1;
}

const rt::Variant& Cell(const ado::RecordsetImage& image, size_t row, int field) {
    return image.values[row * image.fields.size() + static_cast<size_t>(field)];
}

struct PlannedFile {
    std::string key;
    std::string sql;
};

// The rows of a query as the data context returns them, fields and all.
ado::RecordsetImage QueryImage(SqliteDataContext& dc, const std::string& sql) {
    auto rs = dc.OpenRecordset(sql);
    if (!rs) return {};
    return rs->ToImage();
}

bool TableExists(SqliteDataContext& dc, const std::string& name) {
    auto found = dc.Connection().Query("SELECT name FROM sqlite_master WHERE type IN ('table', 'view') AND upper(name) = upper(?)",
                          {rt::Variant(name)}, "sqlite_master");
    return found.RowCount() != 0;
}

std::string NoTrailingSlash(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

}  // namespace

CacheBuildResult BuildMetadataCache(const CacheBuildOptions& options) {
    const std::string locale = pelmora::CacheLocaleFolder(options.locale);
    if (!pelmora::IsCacheLocaleFolder(locale))
        Fail(rt::vberr::InvalidProcedureCall, "The locale code \"" + options.locale + "\" is not a valid directory name");
    if (options.cacheDirectory.empty()) Fail(rt::vberr::InvalidProcedureCall, "No cache directory given");
    if (options.configurationName.empty()) Fail(rt::vberr::InvalidProcedureCall, "No configuration name given");
    const std::string cacheDir = NoTrailingSlash(fs::absolute(options.cacheDirectory).lexically_normal().string());

    std::shared_ptr<SqliteDataContext> db;
    try {
        db = SqliteDataContext::Open(options.databasePath);
    } catch (const rt::ComError& e) {
        throw rt::ComError(e.Number(), kSource, e.Description());
    }

    // The cache index of the database.
    ado::RecordsetImage index;
    try {
        index = QueryImage(*db, std::string("SELECT * FROM ") + kIndexKey);
    } catch (const rt::ComError& e) {
        Fail(e.Number(), "The database \"" + options.databasePath + "\" has no readable cache index " + kIndexKey +
                             ": " + e.Description());
    }
    const int fKey = FieldIndex(index, "QTX_OPTIMIZEDTABLENAME");
    const int fSql = FieldIndex(index, "QTX_SQL");
    const int fLcid = FieldIndex(index, "QTX_LCID");
    for (auto [f, name] : {std::pair{fKey, "QTX_OPTIMIZEDTABLENAME"}, {fSql, "QTX_SQL"}, {fLcid, "QTX_LCID"}})
        if (f < 0) Fail(rt::vberr::InvalidProcedureCall, std::string("The cache index lacks the column ") + name);

    std::vector<PlannedFile> plan;
    auto planned = [&](const std::string& key) {
        for (const auto& p : plan)
            if (rt::NamesEqual(p.key, key)) return true;
        return false;
    };
    for (size_t r = 0; r < index.RowCount(); ++r) {
        const rt::Variant& sql = Cell(index, r, fSql);
        if (!pelmora::CacheIndexRowTaken(sql, Cell(index, r, fLcid), locale)) continue;
        const rt::Variant& keyValue = Cell(index, r, fKey);
        std::string key = keyValue.IsNull() ? std::string() : rt::CStr(keyValue);
        if (!pelmora::IsCacheFileKey(key))
            Fail(rt::vberr::InvalidProcedureCall,
                 "The cache index holds the key \"" + key + "\", which cannot name a cache file");
        if (planned(key))
            Fail(rt::vberr::KeyAlreadyAssociated,
                 "The cache index holds two rows of the key " + key + " for the locale " + locale);
        // The index is written last, with the template rows added.
        plan.push_back({key, rt::NamesEqual(key, kIndexKey) ? std::string() : rt::CStr(sql)});
    }

    // Row templates of every component.
    ado::RecordsetImage components;
    try {
        components = QueryImage(*db, "SELECT QTX_CNO, QTX_TABLE, QTX_TYPE FROM QTX_COMPONENTINFO_OPTABLE ORDER BY QTX_CNO");
    } catch (const rt::ComError& e) {
        Fail(e.Number(), "The database \"" + options.databasePath +
                             "\" has no readable QTX_COMPONENTINFO_OPTABLE: " + e.Description());
    }
    std::vector<PlannedFile> templates;
    for (size_t r = 0; r < components.RowCount(); ++r) {
        const rt::Variant& cnoValue = Cell(components, r, 0);
        const rt::Variant& tableValue = Cell(components, r, 1);
        const rt::Variant& typeValue = Cell(components, r, 2);
        if (cnoValue.IsNull() || tableValue.IsNull())
            Fail(rt::vberr::InvalidUseOfNull, "QTX_COMPONENTINFO_OPTABLE holds a row without QTX_CNO or QTX_TABLE");
        const std::string cno = std::to_string(rt::CLng(cnoValue));
        const std::string table = rt::CStr(tableValue);
        if (!rt::IsSqlIdentifier(table))
            Fail(rt::vberr::InvalidProcedureCall, "Component " + cno + " names the table \"" + table +
                                                      "\", which is no table name");
        if (!TableExists(*db, table))
            Fail(rt::vberr::InvalidProcedureCall, "Component " + cno + ": its table " + table + " does not exist");
        templates.push_back({"CNO" + cno, "SELECT * FROM " + table + " WHERE 1 = 0"});
        const bool attributeOnly = !typeValue.IsNull() && rt::CLng(typeValue) == 1;
        if (attributeOnly) continue;
        const std::string geometry = table + "_SDOGEOM";
        if (!TableExists(*db, geometry)) {
            // A component without a type may simply have no geometry.
            if (typeValue.IsNull()) continue;
            Fail(rt::vberr::InvalidProcedureCall, "Component " + cno + " has geometry, but its table " + geometry +
                                                      " does not exist");
        }
        templates.push_back({"CNO" + cno + "G", "SELECT * FROM " + geometry + " WHERE 1 = 0"});
    }

    // A template the index names already (for any locale) keeps the index's
    // rows; the others get a row for every locale.
    std::set<std::string> indexKeys, templateKeys;
    for (size_t r = 0; r < index.RowCount(); ++r)
        if (!Cell(index, r, fKey).IsNull()) indexKeys.insert(rt::UCase(rt::CStr(Cell(index, r, fKey))));
    for (const auto& t : templates) templateKeys.insert(rt::UCase(t.key));
    auto generated = [&](const PlannedFile& t) { return indexKeys.count(rt::UCase(t.key)) == 0; };

    std::vector<PlannedFile> tables;
    for (const auto& p : plan)
        if (!rt::NamesEqual(p.key, kIndexKey) && !templateKeys.count(rt::UCase(p.key))) tables.push_back(p);
    std::vector<PlannedFile> templatesToWrite;
    for (const auto& t : templates)
        if (generated(t) || planned(t.key)) templatesToWrite.push_back(t);

    CacheBuildResult result;
    const size_t count = tables.size() + templatesToWrite.size() + 1;
    size_t done = 0;
    const std::string localeDir = cacheDir + "/" + locale;
    const std::string markerPath = cacheDir + "/" + pelmora::kLegendFile;
    const std::string mapPath =
        options.configurationMapPath.empty() ? cacheDir + "/ConfigurationMap.txt" : options.configurationMapPath;

    try {
        fs::create_directories(cacheDir);
        // A folder of our own: two builders of one cache never share one,
        // and what a killed build left goes now.
        BuildingFolder building(cacheDir, locale, kSource);
        const std::string& staging = building.Path();
        // Likewise the private files of the marker and the map.
        rt::RemoveDeadPrivateFiles(markerPath);
        rt::RemoveDeadPrivateFiles(mapPath);

        auto write = [&](const std::string& key, ado::RecordsetImage image) {
            const std::string file = pelmora::CacheFileName(key);
            if (options.progress) options.progress(file, ++done, count);
            ado::SaveImage(staging + "/" + file, image);
            result.files.push_back(file);
        };
        for (const auto& p : tables) {
            ado::RecordsetImage image;
            try {
                image = QueryImage(*db, p.sql);
            } catch (const rt::ComError& e) {
                Fail(e.Number(), "The SQL of the cache table " + p.key + " failed: " + e.Description());
            }
            image.source = p.key;
            write(p.key, std::move(image));
        }
        for (const auto& t : templatesToWrite) {
            ado::RecordsetImage image = QueryImage(*db, t.sql);
            // Rows added to a template must never meet the filter service's caches, which key on Source.
            image.source.clear();
            write(t.key, std::move(image));
        }
        // The index: the database's rows, then one row per template it lacks.
        ado::RecordsetImage out = index;
        out.source = kIndexKey;
        for (const auto& t : templates) {
            if (!generated(t)) continue;
            for (size_t f = 0; f < out.fields.size(); ++f) {
                if (static_cast<int>(f) == fKey) out.values.emplace_back(t.key);
                else if (static_cast<int>(f) == fSql) out.values.emplace_back(t.sql);
                else out.values.push_back(rt::Variant::Null());
            }
        }
        write(kIndexKey, std::move(out));

        // One step: readers see the old directory or the new one, and a
        // builder racing for the same cache never loses the directory. The
        // old one, now at the folder's path, goes with the folder.
        SwapIntoPlace(staging, localeDir, kSource);
    } catch (const rt::ComError&) {
        throw;
    } catch (const std::exception& e) {
        Fail(rt::vberr::PathNotFound, std::string("Cannot write the cache: ") + e.what());
    }
    db.reset();

    // The marker file the configuration names, and the configuration map.
    WriteFileReplacing(markerPath,
                       "# Metadata cache of the configuration \"" + options.configurationName +
                           "\"; one directory of cache files per locale.\n",
                       kSource);
    std::vector<Configuration> map;
    if (fs::exists(mapPath)) map = ReadConfigurationMap(mapPath);
    Configuration mine{options.configurationName, {markerPath}};
    bool replaced = false;
    for (auto& c : map)
        if (rt::NamesEqual(c.name, mine.name)) {
            c = mine;
            replaced = true;
        }
    if (!replaced) map.push_back(mine);
    WriteConfigurationMap(mapPath, map);

    result.localeDirectory = localeDir;
    result.configurationMapPath = mapPath;
    return result;
}

}  // namespace product
