#include "pelmora/metadata/MetadataRecordset.h"

#include <filesystem>

#include "ado/Recordset.h"
#include "pelmora/common/MiscEnvironment.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "interfaces/DataContext.h"
#include "interfaces/MetadataCacheFiles.h"
#include "interfaces/Varsk1.h"
#include "pelmora/metadata/MetadataRecordsets.h"
#include "pelmora/metadata/MetadataUtils.h"
#include "runtime/Dispatch.h"
#include "runtime/Error.h"
#include "runtime/PlainName.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr const char* kRecordsetSource = "MetadataService.Recordsets.MetadataRecordset.Recordset";
constexpr const char* kVbaProjectTable = "QTX_VBAPROJECT_OPTABLE";

bool KeyStartsWith(const std::string& key, const char* prefix) { return rt::NamesEqual(rt::Left(key, 3), prefix); }

rt::ComError AsComError(const std::exception& e) {
    if (auto* com = dynamic_cast<const rt::ComError*>(&e)) return *com;
    return rt::ComError(rt::vberr::InvalidProcedureCall, "", e.what());
}

}  // namespace

MetadataRecordset::~MetadataRecordset() = default;

std::string MetadataRecordset::get_Source() { return source_; }
std::string MetadataRecordset::get_Key() { return key_; }

std::shared_ptr<MetadataRecordsets> MetadataRecordset::get_Parent() const { return parent_.lock(); }
void MetadataRecordset::putref_Parent(const std::shared_ptr<MetadataRecordsets>& parent) { parent_ = parent; }
void MetadataRecordset::put_CacheFormat(const std::string& format) { cacheFormat_ = format; }
void MetadataRecordset::put_CacheDirectory(const std::string& directory) { cacheDirectory_ = directory; }
void MetadataRecordset::put_Source(const std::string& source) { source_ = source; }
void MetadataRecordset::put_Key(const std::string& key) {
    key_ = key;
    kind_ = KindOf(key);
}

MetadataRecordset::KeyKind MetadataRecordset::KindOf(const std::string& key) {
    if (KeyStartsWith(key, "CNO")) return KeyKind::RowTemplate;
    if (rt::NamesEqual(key, kVbaProjectTable)) return KeyKind::ProjectTable;
    if (KeyStartsWith(key, "VBA")) return KeyKind::Project;
    return KeyKind::Table;
}
void MetadataRecordset::putref_Recordset(const std::shared_ptr<ado::Recordset>& recordset) {
    cached_ = recordset;
    views_.clear();
}

std::string MetadataRecordset::CacheFilePath() const {
    std::string path = cacheDirectory_;
    if (rt::Right(path, 1) != "/") path += "/";
    // A key from the index becomes a file name: it must not lead out of the cache.
    if (!IsCacheFileKey(key_) || (!cacheFormat_.empty() && !rt::IsPlainFileName(cacheFormat_, false)))
        throw rt::ComError(kMissingCacheFileError, "FetchADOMetadata",
                           "The metadata key \"" + key_ + "\" is not a plain name (letters, digits, \"_\", \"-\", "
                           "\":\"); no cache file is read for it");
    std::string file = path + key_ + "." + cacheFormat_;
    // Nor may a link planted in the cache folder.
    std::error_code ec;
    auto folder = std::filesystem::weakly_canonical(std::filesystem::path(path).parent_path(), ec);
    auto resolved = std::filesystem::weakly_canonical(file, ec);
    if (!ec && resolved.parent_path() != folder)
        throw rt::ComError(kMissingCacheFileError, "FetchADOMetadata",
                           "The cache file of the metadata key \"" + key_ + "\" resolves outside the cache folder (" +
                               resolved.string() + ")");
    return file;
}

std::shared_ptr<ado::Recordset> MetadataRecordset::get_Recordset(const std::string& Filter, const std::string& Sort) {
    try {
        if (!cached_) FetchADOMetadata();
        if (!cached_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);

        // Row templates and VBA projects are read afresh for every request;
        // the project table itself stays cached but keeps its locking.
        const ado::LockTypeEnum lockType = kind_ == KeyKind::Table ? ado::adLockReadOnly : ado::adLockUnspecified;
        const bool keepMaster = kind_ == KeyKind::Table || kind_ == KeyKind::ProjectTable;

        auto clone = cached_->Clone(lockType);
        if (!keepMaster) {
            cached_.reset();
            views_.clear();
        }
        if (Filter.empty() && Sort.empty()) return clone;
        // A text holds no control character, so the pair cannot read as another.
        std::string viewKey;
        viewKey.reserve(Filter.size() + 1 + Sort.size());
        viewKey.append(Filter).append(1, '\x1f').append(Sort);
        if (keepMaster) {
            auto kept = views_.find(viewKey);
            if (kept != views_.end() && clone->TakeView(*kept->second)) return clone;
        }
        if (!Filter.empty()) clone->put_Filter(rt::Variant(Filter));
        if (!Sort.empty()) clone->put_Sort(Sort);
        if (keepMaster) {
            constexpr size_t kMaxViews = 256;
            if (views_.size() >= kMaxViews) views_.clear();
            if (auto view = clone->KeepView()) views_[viewKey] = std::move(view);
        }
        return clone;
    } catch (const std::exception& e) {
        // A project or template that could not be served is tried afresh
        // next time, as one that was served would be.
        if (kind_ == KeyKind::RowTemplate || kind_ == KeyKind::Project) cached_.reset();
        rt::ComError caught = AsComError(e);
        throw rt::ComError(caught.Number(), std::string(kRecordsetSource) + "\r\n" + caught.Description(),
                           caught.Description());
    }
}

void MetadataRecordset::LoadProjectFromDatabase() {
    auto application = varsk1::GetYvApplicationDispatch();
    if (!application) return;  // outside the application: the table stays closed
    auto document = rt::CallByName(application, "Document", rt::InvokeKind::PropertyGet);
    auto connections = rt::CallByName(document.Obj(), "Connections", rt::InvokeKind::PropertyGet);
    auto connection = FindOpenDatabaseConnection(connections.Obj());
    if (!connection) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto context = rt::CallByName(connection, "DataContext", rt::InvokeKind::PropertyGet);
    auto dataContext = rt::QueryInterface<IDataContext>(context.Obj());
    rt::Variant parameters = rt::Variant::ArrayOf({rt::Variant(rt::CLng(rt::Variant(rt::Mid(key_, 4))))});
    cached_ = dataContext->OpenParameterizedRecordset("SELECT QTX_PROJECT FROM QTX_VBAPROJECT WHERE QTX_PRJNO = ?",
                                                      ado::adOpenDynamic, ado::adLockBatchOptimistic, ado::adCmdText,
                                                      parameters);
}

// Why a cache file cannot be served, said without repeating its path.
std::string CacheFileLoadCause(const std::exception& e, const std::string& path) {
    std::string text = AsComError(e).Description();
    const std::string readerPrefix = "The persisted recordset file '" + path + "' ";
    if (text.rfind(readerPrefix, 0) == 0) text = "the file " + text.substr(readerPrefix.size());
    while (!text.empty() && (text.back() == '.' || text.back() == ' ')) text.pop_back();
    return text;
}

std::string CacheFileProblem(const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (status.type() == std::filesystem::file_type::not_found) return "the file does not exist";
    if (ec) return "the file cannot be examined: " + ec.message();
    if (status.type() != std::filesystem::file_type::regular) return "it is not a regular file";
    return "";
}

namespace {

class CacheFileRefused : public std::exception {
public:
    explicit CacheFileRefused(std::string cause) : cause_(std::move(cause)) {}
    const char* what() const noexcept override { return cause_.c_str(); }

private:
    std::string cause_;
};

}  // namespace

void MetadataRecordset::OpenCacheFile(const std::string& path, ado::CursorTypeEnum cursor, ado::LockTypeEnum lock) {
    std::string cause = CacheFileProblem(path);
    if (!cause.empty()) throw CacheFileRefused(cause);
    // The Source is whatever the file's writer put there (the key, the
    // table's SQL text, nothing): it is served as it stands.
    cached_->Open(rt::Variant(path), rt::Variant::Missing(), cursor, lock, -1);
    // Two files swapped, or a damaged table, show where a column is first read.
    // A row template is served as the caller's own rows, no metadata table.
    if (kind_ != KeyKind::RowTemplate) cached_->NameRowsForErrors("metadata table " + key_);
}

void MetadataRecordset::FetchADOMetadata() {
    const std::string path = CacheFilePath();
    views_.clear();
    try {
        cached_ = ado::Recordset::Create();
        if (KeyStartsWith(key_, "CNO")) {
            OpenCacheFile(path, ado::adOpenUnspecified, ado::adLockUnspecified);
        } else if (KeyStartsWith(key_, "VBA")) {
            auto parent = parent_.lock();
            if (parent && parent->get_VBARefreshPending())
                LoadProjectFromDatabase();
            else
                OpenCacheFile(path, ado::adOpenUnspecified, ado::adLockUnspecified);
        } else {
            OpenCacheFile(path, ado::adOpenDynamic, ado::adLockOptimistic);
        }
        // A table whose rows cannot all be role-checked is not served at all.
        ApplyRoleFilter();
    } catch (const std::exception& e) {
        cached_.reset();
        const std::string message = "Missing cache file: " + path;
        // The load failure is what the caller must hear about, whether or
        // not the log line could be written.
        try {
            WriteLog(message, "", true);
        } catch (...) {
        }
        const auto* refused = dynamic_cast<const CacheFileRefused*>(&e);
        throw rt::ComError(kMissingCacheFileError, "FetchADOMetadata",
                           message + " (" + (refused ? std::string(refused->what()) : CacheFileLoadCause(e, path)) + ")");
    }
}

void MetadataRecordset::ApplyRoleFilter() {
    if (rt::NamesEqual(key_, kRoleAssocKey) || !cached_) return;
    if (cached_->get_State() != ado::adStateOpen) return;
    auto parent = parent_.lock();
    // Without the collection nobody can vouch for a role: such rows go.
    DeleteRowsWithoutGrantedRole(cached_, parent.get());
}

std::string MetadataRecordset::FormatText(const rt::Variant& value) {
    if (value.IsNull()) return "";
    return rt::CStr(value);
}

void MetadataRecordset::DeleteFilteredRecords(const std::string& Filter) {
    if (!cached_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    cached_->put_Filter(rt::Variant(Filter));
    try {
        if (!cached_->get_BOF() && !cached_->get_EOF()) {
            cached_->MoveFirst();
            while (!cached_->get_EOF()) {
                cached_->Delete(ado::adAffectCurrent);
                cached_->MoveNext();
            }
        }
    } catch (...) {
        cached_->put_Filter(rt::Variant(int32_t{ado::adFilterNone}));
        throw;
    }
    cached_->put_Filter(rt::Variant(int32_t{ado::adFilterNone}));
}

// ---- late binding ----

namespace {
const rt::DispatchTable<MetadataRecordset>& RecordsetDispatch() {
    static const auto table =
        rt::DispatchTable<MetadataRecordset>().ClassModuleOf(kProjectName)
            .Get("Source", 1, [](MetadataRecordset& m) { return rt::Variant(m.get_Source()); })
            .Get("Key", 2, [](MetadataRecordset& m) { return rt::Variant(m.get_Key()); })
            .Get("Recordset", 3, 0, 2, [](MetadataRecordset& m, rt::Args& a) {
                std::string filter = a.size() > 0 && !a[0].IsMissing() ? rt::CStr(a[0]) : std::string();
                std::string sort = a.size() > 1 && !a[1].IsMissing() ? rt::CStr(a[1]) : std::string();
                return rt::Variant(m.get_Recordset(filter, sort));
            });
    return table;
}
}  // namespace

rt::Variant MetadataRecordset::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    return RecordsetDispatch().Invoke(*this, name, kind, args);
}

rt::Variant MetadataRecordset::InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) {
    return RecordsetDispatch().InvokeDispId(*this, dispId, kind, args);
}

// ---- the log ----

std::string MetadataLogPath() {
    std::error_code ec;
    auto dir = std::filesystem::current_path(ec);
    if (ec) return kMetadataLogFileName;
    return (dir / kMetadataLogFileName).string();
}

void WriteLog(const std::string& Message, const std::string& Detail, bool Stamp) {
    std::string line = Message;
    if (Stamp) line = Detail + " : " + rt::FormatDate(rt::Now(), "yyyy.mm.dd hh:mm:ss AMPM") + " " + " - " + Message;
    const std::string path = MetadataLogPath();
    if (AppendToLog(path, line + '\n') != LogAppend::Written)
        throw rt::ComError(75, "WriteLog", "Path/File access error: " + path);
}

}  // namespace pelmora
