#pragma once
// The metadata cache of one configuration: where its files lie, the index
// of its tables, their refresh from the database, and the active user's
// roles.
#include <cstdint>
#include <memory>
#include <string>

#include "interfaces/MetadataCacheFiles.h"
#include "interfaces/MetadataService.h"
#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace pelmora {

class MetadataRecordsets;
class MetadataConnectionPoint;

inline constexpr const char* kMetadataServiceProgId = "QzPelmora.MetadataService";

class MetadataService : public rt::Object, public IConnectionPointContainer {
public:
    MetadataService();
    ~MetadataService() override;

    // ---- the service's own members ----
    std::string get_CacheDirectory();
    std::string get_CacheFormat();
    // "LAZY" once the service has fetched, "PERVASIVE" before.
    std::string get_CacheMode();
    // Stores the name and fetches that configuration.
    void put_Configuration(const std::string& name);
    std::string get_Configuration();
    // Locates the cache, reads its index and registers every table of the
    // locale in a new collection; no table is loaded here.
    void Fetch(const std::string& ConfigFile = "");
    // The collection, fetched first when there is none.
    std::shared_ptr<MetadataRecordsets> get_Recordsets();
    // get_Recordsets seen as IMetadataRecordsets.
    std::shared_ptr<IMetadataRecordsets> RecordsetsFacet();
    void SaveConfiguration(const std::string& Configuration = "", const std::string& CCMPath = "",
                           const std::string& CachePath = "", bool FieldUse = false);
    // Raises 91 before the first fetch.
    bool IsRoleGranted(const std::string& RoleName);
    // Fetches again, keeping the active user's roles; never raises.
    void Refresh();
    // Re-reads edited tables from the database and tells listeners.
    void RefreshDynamicEdits(const std::shared_ptr<IDataContext>& objDC,
                             const rt::Variant& vEditedTables = rt::Variant::Missing());

    // ---- members of the sibling interface only ----
    void DeleteRecords(const rt::Variant& vRecords);
    void RefreshRecordsDelete();
    // Starts afresh for the user and loads the user's roles.
    void SetActiveUser(const std::shared_ptr<IDataContext>& objDC, const std::string& user);

    // ---- connection points ----
    void EnumConnectionPoints() override;
    std::shared_ptr<IConnectionPoint> FindConnectionPoint(const Guid& riid) override;

    // The user last set by SetActiveUser ("" before).
    const std::string& ActiveUser() const { return activeUser_; }

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    rt::Variant InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) override;
    std::shared_ptr<rt::Object> QueryFacet(const std::type_info& iface) override;
    std::string TypeName() const override { return "MetadataService"; }

private:
    friend class MetadataServiceFacet;

    std::string GetCacheLocation();
    void RefreshKWBGraphicDisplayMetadata(const std::string& kind);
    // The table list the application's preferences record for this
    // configuration (an unallocated array when there is none).
    rt::Variant EditedTablesFromPreferences(const std::shared_ptr<IDataContext>& objDC, bool& preferenceWritten);

    std::shared_ptr<MetadataRecordsets> recordsets_;
    // The collection's IMetadataRecordsets facet, made once per collection.
    std::shared_ptr<IMetadataRecordsets> recordsetsFacet_;
    const MetadataRecordsets* recordsetsOfFacet_ = nullptr;
    std::string configuration_;
    std::string cacheFormat_;
    std::string cacheDirectory_;
    bool lazy_ = false;
    Guid eventIID_;
    std::shared_ptr<MetadataConnectionPoint> connectionPoint_;
    rt::Variant deleteList_;
    std::string activeUser_;
    std::weak_ptr<rt::Object> facet_;
};

// The connection point of the service's event interface.
class MetadataConnectionPoint : public rt::Object, public IConnectionPoint {
public:
    explicit MetadataConnectionPoint(const Guid& iid) : iid_(iid) {}
    Guid GetConnectionInterface() override { return iid_; }
    int32_t Advise(const std::shared_ptr<IMetadataServiceEvents>& sink) override;
    void Unadvise(int32_t cookie) override;
    std::string TypeName() const override { return "ConnectionPoint"; }

private:
    Guid iid_;
    rt::EventSource<IMetadataServiceEvents> sinks_;
};

// Registers the creatable classes of the metadata service by ProgID.
void RegisterMetadataClasses();

}  // namespace pelmora
