#include "pelmora/metadata/MetadataService.h"

#include <filesystem>

#include "ado/Recordset.h"
#include "pelmora/common/TraceScope.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "interfaces/DataContext.h"
#include "pelmora/metadata/MetadataRecordsetFilterService.h"
#include "interfaces/Notification.h"
#include "interfaces/Varsk1.h"
#include "pelmora/metadata/MetadataRecordset.h"
#include "pelmora/metadata/MetadataRecordsets.h"
#include "runtime/Dispatch.h"
#include "runtime/Error.h"
#include "runtime/Facet.h"
#include "runtime/SqlName.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr const char* kFile = "MetadataService";
constexpr const char* kConfigurationMapProgId = "QTX.ConnectionConfigurationMap";
constexpr const char* kRefreshSource = "MetadataService.RefreshDynamicEdits";
constexpr const char* kGraphicsConnectionType = "QTX.GDatabase";

rt::ComError AsComError(const std::exception& e) {
    if (auto* com = dynamic_cast<const rt::ComError*>(&e)) return *com;
    return rt::ComError(rt::vberr::InvalidProcedureCall, "", e.what());
}

// Re-raises a caught error under another source, keeping its number and
// description.
[[noreturn]] void Reraise(const std::exception& e, const std::string& source) {
    rt::ComError caught = AsComError(e);
    throw rt::ComError(caught.Number(), source, caught.Description());
}

bool EndsWithText(const std::string& text, const std::string& tail) {
    return rt::NamesEqual(rt::Right(text, rt::Len(tail)), tail);
}

// The apartment's notification object, created on first use.
struct NotificationSlot {
    std::shared_ptr<INotification> object;
};

std::shared_ptr<INotification> NotificationObject() {
    auto& slot = rt::Apartment::Current().Get<NotificationSlot>();
    if (!slot.object) slot.object = rt::QueryInterface<INotification>(rt::CreateObject(kNotificationProgId));
    return slot.object;
}

rt::ObjectPtr ObjectOf(const rt::Variant& v) {
    if (!v.IsObject() || v.IsNothing()) return nullptr;
    return v.Obj();
}

// Entry and exit traces of a member whose early returns leave no exit
// trace.
class ManualTrace {
public:
    explicit ManualTrace(std::string procedure) : procedure_(std::move(procedure)) {
        try {
            if (auto t = TraceObject()) mask_ = t->GetTraceMask(0);
        } catch (...) {
        }
        if (On()) Quietly([&](ITraceObject& t) { t.TraceEnter(kTraceSubsystem, kFile, procedure_, ""); });
    }
    void Exit() {
        if (On()) Quietly([&](ITraceObject& t) { t.TraceExit(kTraceSubsystem, kFile, procedure_, ""); });
    }

private:
    bool On() const { return (mask_ & tracebits::EnterExit) == tracebits::EnterExit; }
    template <class F>
    void Quietly(F&& f) {
        try {
            if (auto t = TraceObject()) f(*t);
        } catch (...) {
        }
    }
    std::string procedure_;
    int32_t mask_ = 0;
};

}  // namespace

// ---- the connection point ----

int32_t MetadataConnectionPoint::Advise(const std::shared_ptr<IMetadataServiceEvents>& sink) {
    if (!sink) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    return sinks_.Advise(sink);
}

void MetadataConnectionPoint::Unadvise(int32_t cookie) { sinks_.Unadvise(cookie); }

// ---- the sibling interface ----

// IMetadataService differs from the service's own members in a few places:
// setting the configuration only stores it, and the simple getters are not
// traced.
class MetadataServiceFacet : public rt::FacetOf<IMetadataService, MetadataService> {
public:
    using FacetOf::FacetOf;

    std::string get_CacheDirectory() override { return owner_->cacheDirectory_; }
    std::string get_CacheFormat() override { return owner_->cacheFormat_; }
    std::string get_CacheMode() override { return owner_->get_CacheMode(); }
    void put_Configuration(const std::string& name) override { owner_->configuration_ = name; }
    std::string get_Configuration() override { return owner_->configuration_; }
    std::shared_ptr<IMetadataRecordsets> get_Recordsets() override {
        return owner_->RecordsetsFacet();
    }
    void DeleteRecords(const rt::Variant& vRecords) override { owner_->DeleteRecords(vRecords); }
    void Fetch(const std::string& ConfigFile) override { owner_->Fetch(ConfigFile); }
    void SaveConfiguration(const std::string& Configuration, const std::string& CCMPath,
                           const std::string& CachePath, bool FieldUse) override {
        owner_->SaveConfiguration(Configuration, CCMPath, CachePath, FieldUse);
    }
    bool IsRoleGranted(const std::string& RoleName) override { return owner_->IsRoleGranted(RoleName); }
    void Refresh() override { owner_->Refresh(); }
    void RefreshDynamicEdits(const std::shared_ptr<IDataContext>& objDC, const rt::Variant& vEditedTables) override {
        owner_->RefreshDynamicEdits(objDC, vEditedTables);
    }
    void RefreshRecordsDelete() override { owner_->RefreshRecordsDelete(); }
    void SetActiveUser(const std::shared_ptr<IDataContext>& objDC, const std::string& UserName) override {
        owner_->SetActiveUser(objDC, UserName);
    }
    std::string TypeName() const override { return "MetadataService"; }
};

// ---- life ----

MetadataService::MetadataService() {
    TraceScope trace(kFile, "Class_Initialize");
    InitResources(kResourceModule);
    eventIID_ = rt::CLSIDFromString(kMetadataServiceEventsIID);
    connectionPoint_ = std::make_shared<MetadataConnectionPoint>(eventIID_);
}

MetadataService::~MetadataService() {
    try {
        TraceScope trace(kFile, "Class_Terminate");
        if (recordsets_) recordsets_->Clear();
        recordsetsFacet_.reset();
        recordsets_.reset();
        connectionPoint_.reset();
    } catch (...) {
    }
}

// ---- properties ----

std::string MetadataService::get_CacheDirectory() {
    TraceScope trace(kFile, "Get CacheDirectory");
    return cacheDirectory_;
}

std::string MetadataService::get_CacheFormat() {
    TraceScope trace(kFile, "Get CacheFormat");
    return cacheFormat_;
}

std::string MetadataService::get_CacheMode() {
    TraceScope trace(kFile, "Get CacheMode");
    return lazy_ ? "LAZY" : "PERVASIVE";
}

void MetadataService::put_Configuration(const std::string& name) {
    TraceScope trace(kFile, "Let Configuration");
    trace.Argument("Configuration", rt::Variant(name));
    configuration_ = name;
    Fetch("");
}

std::string MetadataService::get_Configuration() {
    TraceScope trace(kFile, "Get Configuration");
    return configuration_;
}

std::shared_ptr<MetadataRecordsets> MetadataService::get_Recordsets() {
    if (!recordsets_) Fetch("");
    return recordsets_;
}

std::shared_ptr<IMetadataRecordsets> MetadataService::RecordsetsFacet() {
    auto recordsets = get_Recordsets();
    // Rule walks ask for every rule: the collection's facet is found once per
    // collection, and goes with it.
    if (!recordsetsFacet_ || recordsetsOfFacet_ != recordsets.get()) {
        recordsetsFacet_ = rt::QueryInterface<IMetadataRecordsets>(recordsets);
        recordsetsOfFacet_ = recordsets.get();
    }
    return recordsetsFacet_;
}

void MetadataService::SaveConfiguration(const std::string& /*Configuration*/, const std::string& /*CCMPath*/,
                                        const std::string& /*CachePath*/, bool /*FieldUse*/) {}

bool MetadataService::IsRoleGranted(const std::string& RoleName) {
    if (!recordsets_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    return recordsets_->IsRoleGranted(RoleName);
}

// ---- cache location and fetch ----

std::string MetadataService::GetCacheLocation() {
    TraceScope trace(kFile, "GetCacheLocation");
    try {
        auto map = rt::CreateObject(kConfigurationMapProgId);
        if (configuration_.empty()) {
            rt::Variant names = rt::CallByDispId(map, 2, rt::InvokeKind::Method);
            configuration_ = rt::CStr(names.Array() ? names.Array()->Get(rt::LBound(names)) : rt::Variant());
        }
        rt::Variant entries = rt::CallByDispId(map, 3, rt::InvokeKind::Method, rt::Args{rt::Variant(configuration_)});
        std::string directory;
        bool found = false;
        for (int32_t i = rt::LBound(entries); i <= rt::UBound(entries); ++i) {
            const std::string entry = rt::CStr(entries.Array()->Get(i));
            if (rt::InStr(entry, kLegendFile, 1, rt::CompareMode::Text) == 0) continue;
            std::string file = entry;
            while (rt::InStr(file, "/") > 0) file = rt::Trim(rt::Mid(file, rt::InStr(file, "/") + 1));
            directory = rt::Trim(rt::Left(entry, rt::Len(entry) - rt::Len(file) - 1));
            found = true;
        }
        if (!found) RaiseError(0, "MetadataService.GetCacheLocation", rt::Variant(int32_t{25627}));
        trace.Value("CacheLocation", rt::Variant(directory));
        return directory;
    } catch (const std::exception& e) {
        Reraise(e, "MetadataService.GetCacheLocation");
    }
}

void MetadataService::Fetch(const std::string& /*ConfigFile*/) {
    TraceScope trace(kFile, "Fetch");
    try {
        lazy_ = true;
        cacheFormat_ = kCacheFileFormat;
        std::string directory = GetCacheLocation();
        if (!EndsWithText(directory, "/")) directory += "/";
        cacheDirectory_ = directory;

        auto messages = rt::QueryInterface<IMessageObject>(rt::CreateObject(kMessageObjectProgId));
        const std::string locale = CacheLocaleFolder(messages->GetLocaleCode());
        // The locale becomes a folder name: it must not lead out of the cache.
        if (!IsCacheLocaleFolder(locale))
            throw rt::ComError(kMissingCacheFileError, "MetadataService.Fetch",
                               "The locale code \"" + locale + "\" is not a plain name (letters, digits, \"_\", "
                               "\"-\"); the cache is not read from it");
        if (!EndsWithText(cacheDirectory_, locale + "/")) cacheDirectory_ += locale + "/";
        trace.Value("CacheDirectory", rt::Variant(cacheDirectory_));

        auto index = ado::Recordset::Create();
        const std::string indexPath = cacheDirectory_ + CacheFileName(kMetadataKeysTable);
        std::string cause;
        if (!std::filesystem::is_directory(cacheDirectory_))
            cause = "the cache has no folder for the locale \"" + locale + "\"";
        else
            cause = CacheFileProblem(indexPath);
        if (cause.empty()) {
            try {
                index->Open(rt::Variant(indexPath), rt::Variant::Missing(), ado::adOpenUnspecified,
                            ado::adLockUnspecified, -1);
            } catch (const std::exception& e) {
                cause = CacheFileLoadCause(e, indexPath);
            }
        }
        if (!cause.empty())
            RaiseError(0, "MetadataService.Fetch", rt::Variant(LoadResStringWithParams(25628, indexPath, cause)));

        auto fresh = std::make_shared<MetadataRecordsets>();
        recordsetsFacet_.reset();
        recordsets_ = fresh;
        // Bookmarks cached for the old tables mean nothing for the new ones.
        ClearFilterServiceCaches();

        auto requireColumn = [&](const char* column) {
            const int32_t i = index->FieldIndex(column);
            if (i < 0)
                RaiseError(0, "MetadataService.Fetch",
                           rt::Variant(LoadResStringWithParams(27958, column, kMetadataKeysTable)));
            return rt::Variant(i);
        };
        const int32_t nameIndex = index->FieldIndex("QTX_OPTIMIZEDTABLENAME");
        if (!(index->get_BOF() && index->get_EOF())) index->MoveFirst();
        while (!index->get_EOF()) {
            const rt::Variant lcidField = requireColumn("QTX_LCID");
            const rt::Variant sqlField = requireColumn("QTX_SQL");
            const rt::Variant sql = index->GetValue(sqlField);
            const rt::Variant lcid = index->GetValue(lcidField);
            if (CacheIndexRowTaken(sql, lcid, locale)) {
                const std::string key =
                    rt::CStr(index->GetValue(nameIndex >= 0 ? rt::Variant(nameIndex)
                                                            : rt::Variant("QTX_OPTIMIZEDTABLENAME")));
                auto item = fresh->AppendKey(key, rt::CStr(sql));
                item->putref_Parent(fresh);
                item->put_CacheDirectory(cacheDirectory_);
                item->put_CacheFormat(cacheFormat_);
            }
            index->MoveNext();
        }
    } catch (const std::exception& e) {
        Reraise(e, "MetadataService.Fetch");
    }
}

// ---- refresh and deletions ----

void MetadataService::Refresh() {
    TraceScope trace(kFile, "Refresh");
    rt::ResumeNext guard;
    std::shared_ptr<ado::Recordset> roles;
    guard([&] {
        if (!recordsets_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
        roles = recordsets_->get_Item(rt::Variant(kRolesKey))->get_Recordset("", "");
    });
    guard([&] { put_Configuration(configuration_); });
    if (roles) guard([&] { recordsets_->AppendRecordset(kRolesKey, kRolesKey, roles); });
}

void MetadataService::DeleteRecords(const rt::Variant& vRecords) {
    rt::ResumeNext guard;
    int32_t upper = 0;
    guard([&] {
        if (deleteList_.IsArray()) upper = rt::UBound(deleteList_);
    });
    if (upper == 0) deleteList_ = vRecords;
}

void MetadataService::RefreshRecordsDelete() {
    if (!recordsets_) return;
    rt::ResumeNext guard;
    int32_t upper = -1;
    if (!guard([&] { upper = rt::UBound(deleteList_); })) return;
    for (int32_t i = 0; i <= upper; ++i) {
        guard([&] {
            const std::string entry = rt::CStr(deleteList_.Array()->Get(i));
            if (entry.empty()) return;
            const int32_t separator = rt::InStr(entry, ";");
            if (separator == 0) return;
            auto item = recordsets_->get_Item(rt::Variant(rt::Left(entry, separator - 1)));
            item->DeleteFilteredRecords(rt::Mid(entry, separator + 1));
        });
    }
}

// ---- active user ----

void MetadataService::SetActiveUser(const std::shared_ptr<IDataContext>& objDC, const std::string& user) {
    TraceScope trace(kFile, "SetActiveUser");
    trace.Argument("user", rt::Variant(user));
    ClearFilterServiceCaches();
    // Before the first fetch there is nothing to empty.
    if (recordsets_) recordsets_->Clear();
    Fetch("");
    if (objDC && !user.empty()) {
        auto roles = objDC->OpenRecordset(
            "SELECT distinct granted_role FROM dba_role_privs START WITH grantee = " + QuotedLiteral(rt::UCase(user)) +
            " CONNECT BY grantee = PRIOR  granted_role");
        if (roles) recordsets_->AppendRecordset(kRolesKey, kRolesKey, roles);
    }
    activeUser_ = user;
}

// ---- dynamic refresh ----

rt::Variant MetadataService::EditedTablesFromPreferences(const std::shared_ptr<IDataContext>& objDC,
                                                         bool& preferenceWritten) {
    rt::Variant list = rt::Variant::UnallocatedArray(rt::vbString);
    const std::string preference = "RefreshedOptables." + configuration_;

    rt::Variant affected;
    auto version = objDC->ExecuteSQL(
        "SELECT QTX_POSTDATE from qtx_metadataversion_optable where qtx_versionno = (select max(qtx_versionno) "
        "from qtx_metadataversion_optable)",
        affected, -1);
    if (!version) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    double postDate = 0;
    if (!version->get_BOF() && !version->get_EOF()) postDate = rt::CDate(version->GetValue(rt::Variant(int32_t{0})));

    auto application = varsk1::GetYvApplicationDispatch();
    if (!application) return list;
    auto preferences = ObjectOf(rt::CallByName(application, "PreferenceSet", rt::InvokeKind::PropertyGet));
    if (!preferences) return list;
    rt::Args get{rt::Variant(preference), rt::Variant(), rt::Variant(int32_t{0})};
    rt::Variant found = rt::CallByName(preferences, "getValue", rt::InvokeKind::Method, get);
    if (!(found.Type() == rt::vbBoolean && found.Bool())) return list;

    const rt::Variant value = get[1];
    if (rt::CStr(value) != "") {
        list = rt::Variant::MakeArray(rt::vbString, 0, 0);
        for (const std::string& entry : rt::Split(rt::CStr(value), ";")) {
            const int32_t dash = rt::InStr(entry, "-");
            const std::string table = rt::Left(entry, dash - 1);
            const double edited = rt::CDate(rt::Variant(rt::Mid(entry, dash + 1)));
            if (!(edited > postDate)) continue;
            if (rt::NamesEqual(table, "QTX_STYLEOBJECTS_OPTABLE"))
                RefreshKWBGraphicDisplayMetadata("Style");
            else if (rt::NamesEqual(table, "QTX_LABELFORMATS_OPTABLE"))
                RefreshKWBGraphicDisplayMetadata("Label");
            else if (rt::NamesEqual(table, "QTX_LEGENDS_OPTABLE"))
                RefreshKWBGraphicDisplayMetadata("StyleAndLabel");
            const int32_t last = rt::UBound(list);
            list.ArrayMut()->Set(last, rt::Variant(table));
            rt::ReDimPreserve(list, 0, last + 1);
        }
    }

    // The preference now records what this call handled.
    preferenceWritten = true;
    rt::ResumeNext guard;
    guard([&] {
        rt::Args set{rt::Variant(preference), list, rt::Variant(int32_t{0})};
        rt::Variant written = rt::CallByName(preferences, "setValue", rt::InvokeKind::Method, set);
        if (!rt::CBool(written)) {
            rt::Args add{rt::Variant(preference), list, rt::Variant(int32_t{0})};
            rt::CallByName(preferences, "Add", rt::InvokeKind::Method, add);
        }
    });
    return list;
}

void MetadataService::RefreshDynamicEdits(const std::shared_ptr<IDataContext>& objDC,
                                          const rt::Variant& vEditedTables) {
    ManualTrace trace("RefreshDynamicEdits");
    const bool listGiven = !vEditedTables.IsMissing();
    bool preferenceWritten = false;
    rt::Variant list;
    try {
        if (!objDC) RaiseError(1, kRefreshSource, rt::Variant("DataContext is Nothing"));
        if (listGiven) {
            if (vEditedTables.Type() != (rt::vbArray | rt::vbString)) rt::RaiseVbError(rt::vberr::TypeMismatch);
            list = vEditedTables;
        } else {
            list = EditedTablesFromPreferences(objDC, preferenceWritten);
        }
        ClearFilterServiceCaches();
    } catch (const std::exception& e) {
        if (preferenceWritten) throw;
        RaiseError(1, kRefreshSource, rt::Variant(AsComError(e).Description()));
    }

    // Nothing recorded: nothing to re-read.
    if (!list.Array()) return;

    auto recordsets = get_Recordsets();
    for (int32_t i = 0; i <= rt::UBound(list); ++i) {
        const std::string table = rt::CStr(list.Array()->Get(i));
        if (table.empty()) continue;

        // The table's own SQL from the cache index, else all of it.
        std::string query;
        auto keys = recordsets->get_Item(rt::Variant(kMetadataKeysTable))
                        ->get_Recordset("QTX_OPTIMIZEDTABLENAME = " + QuotedLiteral(rt::UCase(rt::Trim(table))), "");
        if (!keys->get_BOF() && !keys->get_EOF()) {
            query = rt::CStr(keys->GetValue(rt::Variant("QTX_SQL")));
        } else {
            const std::string name = rt::Trim(table);
            if (!rt::IsQualifiedSqlName(name))
                throw rt::ComError(rt::vberr::InvalidProcedureCall, kRefreshSource,
                                   "The edited table \"" + name + "\" is not a plain table name.");
            query = "select * from " + name;
        }

        // Metadata that is being edited must not be half read.
        auto pending = objDC->OpenRecordset("select qtx_versionno from qtx_metadataversion where qtx_comments is not null");
        if (pending && !(pending->get_BOF() && pending->get_EOF())) {
            if (listGiven) RaiseError(1, kRefreshSource, rt::Variant(int32_t{27079}));
            ShowMessage(rt::Variant(int32_t{27080}));
            return;
        }

        auto rows = objDC->OpenRecordset(query);
        if (!rows) continue;
        recordsets->Remove(rt::Variant(table));
        recordsets->AppendRecordset(table, table, rows);

        NotificationObject()->RaiseNotification(connectionPoint_, rt::Variant("AfterRefresh"),
                                                rt::Variant::ArrayOf({rt::Variant(table), rt::Variant(activeUser_)}));

        if (rt::NamesEqual(table, "QTX_VBAPROJECT_OPTABLE")) {
            recordsets->put_VBARefreshPending(true);
            if (!(rows->get_BOF() && rows->get_EOF())) {
                rows->MoveFirst();
                while (!rows->get_EOF()) {
                    const std::string key = "VBA" + rt::CStr(rows->GetValue(rt::Variant("QTX_PRJNO")));
                    bool held = false;
                    for (auto& item : recordsets->get_NewEnum())
                        if (rt::NamesEqual(item->get_Key(), key)) held = true;
                    if (!held) recordsets->AppendRecordset(key, key, nullptr);
                    rows->MoveNext();
                }
            }
        }
    }

    RefreshRecordsDelete();
    trace.Exit();
}

void MetadataService::RefreshKWBGraphicDisplayMetadata(const std::string& kind) {
    TraceScope trace(kFile, "RefreshKWBGraphicDisplayMetadata");
    auto application = varsk1::GetYvApplicationDispatch();
    if (!application) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto document = rt::CallByName(application, "Document", rt::InvokeKind::PropertyGet);
    auto connections = ObjectOf(rt::CallByName(ObjectOf(document), "Connections", rt::InvokeKind::PropertyGet));
    const int16_t count = rt::CInt(rt::CallByName(connections, "Count", rt::InvokeKind::PropertyGet));
    rt::ObjectPtr connection;
    for (int16_t i = 1; i <= count; ++i) {
        auto item = ObjectOf(rt::CallByName(connections, "Item", rt::InvokeKind::PropertyGet, rt::Args{rt::Variant(i)}));
        if (rt::NamesEqual(rt::CStr(rt::CallByName(item, "Type", rt::InvokeKind::PropertyGet)), kGraphicsConnectionType))
            connection = item;
    }
    if (!connection) return;
    auto display = ObjectOf(rt::CallByName(connection, "DisplayMetadata", rt::InvokeKind::PropertyGet));
    auto call = [&](int32_t dispId) {
        rt::CallByDispId(display, dispId, rt::InvokeKind::Method, rt::Args{rt::Variant(int32_t{0})});
    };
    if (rt::NamesEqual(kind, "Style")) {
        call(9);
        call(7);
    } else if (rt::NamesEqual(kind, "Label")) {
        call(10);
        call(8);
    } else if (rt::NamesEqual(kind, "StyleAndLabel")) {
        call(7);
        call(8);
    }
}

// ---- connection points ----

void MetadataService::EnumConnectionPoints() { throw rt::ComError(1, "IConnectionPointContainer", "Not implemented"); }

std::shared_ptr<IConnectionPoint> MetadataService::FindConnectionPoint(const Guid& riid) {
    if (!rt::IsEqualGUID(riid, eventIID_))
        throw rt::ComError(1, "IConnectionPointContainer", "Unsupported connection point");
    return connectionPoint_;
}

// ---- late binding and the sibling interface ----

namespace {

std::string OptionalText(const rt::Args& a, size_t i) {
    return a.size() > i && !a[i].IsMissing() ? rt::CStr(a[i]) : std::string();
}

std::shared_ptr<IDataContext> DataContextArg(const rt::Variant& v) {
    if (v.IsNothing()) return nullptr;
    if (!v.IsObject()) rt::RaiseVbError(rt::vberr::TypeMismatch);
    return rt::QueryInterface<IDataContext>(v.Obj());
}

const rt::DispatchTable<MetadataService>& ServiceDispatch() {
    static const auto table =
        rt::DispatchTable<MetadataService>().ClassModuleOf(kProjectName)
            .Get("CacheDirectory", 1, [](MetadataService& s) { return rt::Variant(s.get_CacheDirectory()); })
            .Get("CacheFormat", 2, [](MetadataService& s) { return rt::Variant(s.get_CacheFormat()); })
            .Get("CacheMode", 3, [](MetadataService& s) { return rt::Variant(s.get_CacheMode()); })
            .Let("Configuration", 4, [](MetadataService& s, const rt::Variant& v) { s.put_Configuration(rt::CStr(v)); })
            .Get("Configuration", 4, [](MetadataService& s) { return rt::Variant(s.get_Configuration()); })
            .Method("Fetch", 5, 0, 1,
                    [](MetadataService& s, rt::Args& a) {
                        s.Fetch(OptionalText(a, 0));
                        return rt::Variant();
                    })
            .Get("Recordsets", 6, [](MetadataService& s) { return rt::Variant(s.get_Recordsets()); })
            .Method("SaveConfiguration", 7, 0, 4,
                    [](MetadataService& s, rt::Args& a) {
                        s.SaveConfiguration(OptionalText(a, 0), OptionalText(a, 1), OptionalText(a, 2),
                                            a.size() > 3 && !a[3].IsMissing() && rt::CBool(a[3]));
                        return rt::Variant();
                    })
            .Method("IsRoleGranted", 8, 1, 1,
                    [](MetadataService& s, rt::Args& a) { return rt::Variant(s.IsRoleGranted(rt::CStr(a[0]))); })
            .Method("Refresh", 9,
                    [](MetadataService& s) {
                        s.Refresh();
                        return rt::Variant();
                    })
            .Method("RefreshDynamicEdits", 10, 1, 2, [](MetadataService& s, rt::Args& a) {
                s.RefreshDynamicEdits(DataContextArg(a[0]), a.size() > 1 ? a[1] : rt::Variant::Missing());
                return rt::Variant();
            });
    return table;
}

}  // namespace

rt::Variant MetadataService::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    return ServiceDispatch().Invoke(*this, name, kind, args);
}

rt::Variant MetadataService::InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) {
    return ServiceDispatch().InvokeDispId(*this, dispId, kind, args);
}

std::shared_ptr<rt::Object> MetadataService::QueryFacet(const std::type_info& iface) {
    if (iface != typeid(IMetadataService)) return nullptr;
    return rt::SharedFacet<MetadataServiceFacet>(*this, facet_);
}

// ---- registration ----

void RegisterMetadataClasses() {
    rt::RegisterClass(kMetadataServiceProgId, "{0B7D4E21-6A3C-4F58-9E12-C4A8B5D7F301}",
                      [] { return std::make_shared<MetadataService>(); });
    rt::RegisterClass(kMetadataRecordsetsProgId, "{0B7D4E22-6A3C-4F58-9E12-C4A8B5D7F302}",
                      [] { return std::make_shared<MetadataRecordsets>(); });
}

namespace {
[[maybe_unused]] const bool kRegistered = [] {
    RegisterMetadataClasses();
    return true;
}();
}  // namespace

}  // namespace pelmora
