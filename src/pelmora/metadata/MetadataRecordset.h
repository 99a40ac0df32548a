#pragma once
// One cached metadata table: its key, its SQL text and its cache file, loaded
// on first use and handed out as clones.
#include <memory>
#include <string>
#include <unordered_map>

#include "ado/Enums.h"
#include "ado/Recordset.h"
#include "interfaces/MetadataService.h"
#include "runtime/Object.h"


namespace pelmora {

class MetadataRecordsets;

// The log of failed table loads, in the process's current directory.
inline constexpr const char* kMetadataLogFileName = "MetadataService.log.txt";

// The error number of a table that cannot be loaded.
inline constexpr int32_t kMissingCacheFileError = 10;

// Why the cache file at path cannot be read ("" when it is a regular file):
// a pipe or device in its place would block the reader.
std::string CacheFileProblem(const std::string& path);
// The cause of a failed load of the cache file at path, without the path.
std::string CacheFileLoadCause(const std::exception& e, const std::string& path);

class MetadataRecordset : public rt::Object, public IMetadataRecordset {
public:
    MetadataRecordset() = default;
    ~MetadataRecordset() override;

    // ---- the members callers see ----
    std::string get_Source() override;
    std::string get_Key() override;
    // A clone of the cached table (loaded first when needed), read-only for
    // ordinary tables, with the filter and sort applied.
    std::shared_ptr<ado::Recordset> get_Recordset(const std::string& Filter = "", const std::string& Sort = "") override;

    // ---- inside the system ----
    // The owning collection; held weakly, so an item never keeps it alive.
    std::shared_ptr<MetadataRecordsets> get_Parent() const;
    void putref_Parent(const std::shared_ptr<MetadataRecordsets>& parent);
    void put_CacheFormat(const std::string& format);
    void put_CacheDirectory(const std::string& directory);
    void put_Source(const std::string& source);
    void put_Key(const std::string& key);
    // The master copy clones are made from (nullptr: load on next use).
    void putref_Recordset(const std::shared_ptr<ado::Recordset>& recordset);
    // Loads the master copy now, from the cache file or, for a VBA project
    // after its table was refreshed, from the database.
    void FetchADOMetadata();
    // Removes the rows whose role the active user does not hold.
    void ApplyRoleFilter();
    // Null as "", anything else as its text.
    static std::string FormatText(const rt::Variant& value);
    // Deletes the master copy's rows that match the filter text.
    void DeleteFilteredRecords(const std::string& Filter);

    // True while a master copy is held.
    bool IsLoaded() const { return cached_ != nullptr; }
    // The cache file of the table: directory, key, "." and format.
    std::string CacheFilePath() const;

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    rt::Variant InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) override;
    std::string TypeName() const override { return "MetadataRecordset"; }

private:
    void LoadProjectFromDatabase();
    // Opens the cache file into cached_; refuses anything but a regular file
    // and a file that holds another table.
    void OpenCacheFile(const std::string& path, ado::CursorTypeEnum cursor, ado::LockTypeEnum lock);

    // How the key serves its rows, worked out when the key is set.
    enum class KeyKind { Table, RowTemplate, ProjectTable, Project };
    static KeyKind KindOf(const std::string& key);

    std::string key_;
    KeyKind kind_ = KeyKind::Table;
    std::string source_;
    std::string cacheDirectory_;
    std::string cacheFormat_;
    std::weak_ptr<MetadataRecordsets> parent_;
    std::shared_ptr<ado::Recordset> cached_;
    // Per filter and sort text, what a clone of the master showed: a repeated
    // request takes it instead of filtering and sorting again. A view whose
    // rows have changed since (a refresh, a deletion, another master) is
    // refused by the clone and made again.
    std::unordered_map<std::string, std::shared_ptr<const ado::Recordset::KeptView>> views_;
};

// Appends one line to the metadata log in the current directory: Message
// alone, or (Stamp) Detail, " : ", the time as "yyyy.mm.dd hh:mm:ss AMPM ",
// " - " and Message. Raises the file error when the line cannot be written.
void WriteLog(const std::string& Message, const std::string& Detail, bool Stamp);
// The full path WriteLog appends to.
std::string MetadataLogPath();

}  // namespace pelmora
