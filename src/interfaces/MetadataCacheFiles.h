#pragma once
// The metadata cache as the product's builder writes it and the metadata
// service reads it. The cache directory is the folder of the configuration's
// "LegendMetadata.ddc"; under it, one folder per locale, named by the locale
// code in upper case, holds one persisted recordset per table, "<key>.RAW".
// The index of the tables is the file of QTX_METADATAKEYS_OPTABLE; a locale
// takes the index rows CacheIndexRowTaken accepts. Free functions, any thread.
#include <string>

#include "runtime/Variant.h"

namespace pelmora {

// The cache index file's key.
inline constexpr const char* kMetadataKeysTable = "QTX_METADATAKEYS_OPTABLE";
// The file the configuration map names in the cache directory.
inline constexpr const char* kLegendFile = "LegendMetadata.ddc";
// The extension (and cache format) of a table's file.
inline constexpr const char* kCacheFileFormat = "RAW";

// The folder of a locale: its code in upper case.
std::string CacheLocaleFolder(const std::string& LocaleCode);
// Whether the folder name stays inside the cache: a plain file name
// (letters, digits, "_", "-").
bool IsCacheLocaleFolder(const std::string& Folder);

// Whether a table's key may name its file: a plain file name that may also
// hold ":".
bool IsCacheFileKey(const std::string& Key);
// The file of one table in a locale folder: Key + ".RAW".
std::string CacheFileName(const std::string& Key);

// Whether an index row belongs to the locale's folder: its QTX_SQL is not
// Null and its QTX_LCID is Null (every locale) or, upper-cased, matches the
// locale as a Like pattern under text comparison.
bool CacheIndexRowTaken(const rt::Variant& Sql, const rt::Variant& Lcid, const std::string& Locale);

}  // namespace pelmora
