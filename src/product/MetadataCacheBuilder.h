#pragma once
// Builds the metadata cache of a database: into <cache directory>/<LOCALE>/
// one persisted recordset per table of the cache index that serves the
// locale ("<key>.RAW", Source = the key), the row templates "CNO<n>.RAW"
// (the fields of each component table, no rows) and "CNO<n>G.RAW" (the same
// of its "_SDOGEOM" table, for components that are not attribute-only), and
// the index itself, "QTX_METADATAKEYS_OPTABLE.RAW", holding the database's
// index rows and one row per template. Then it writes the configuration map
// whose configuration names "<cache directory>/LegendMetadata.ddc".
//
// The locale directory is built beside the old one and put in place at the
// end: a failed build leaves the previous cache as it was. A build first
// removes the folders earlier builds of the locale left when they died, and
// the private files a killed writer of the marker or the map left. Folders
// and files get the modes the umask gives, so that other accounts of a site
// can read a cache one account built.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace product {

struct CacheBuildOptions {
    std::string databasePath;
    std::string cacheDirectory;
    std::string locale = "ENU";
    std::string configurationName = "Sample Water Network";
    // "": <cache directory>/ConfigurationMap.txt. Other configurations of an
    // existing map are kept; one of the same name is replaced.
    std::string configurationMapPath;
    // Told before each file is written: its name, its position (1-based) and
    // the number of files.
    std::function<void(const std::string& file, size_t index, size_t count)> progress;
};

struct CacheBuildResult {
    std::string localeDirectory;
    std::string configurationMapPath;
    std::vector<std::string> files;  // the file names written into the locale directory, in order
};

CacheBuildResult BuildMetadataCache(const CacheBuildOptions& options);

}  // namespace product
