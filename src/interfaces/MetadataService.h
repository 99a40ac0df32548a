#pragma once
// Interfaces of the metadata service as the product's other components see
// it: one cached metadata table, the keyed collection of them, the service
// itself, and the connection point through which listeners hear about
// refreshed tables.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/Guid.h"
#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace ado {
class Recordset;
}

namespace pelmora {

class IDataContext;

using rt::Guid;

// ---- one metadata table ----
class IMetadataRecordset {
public:
    virtual ~IMetadataRecordset() = default;
    virtual std::string get_Source() = 0;
    virtual std::string get_Key() = 0;
    // A clone of the cached table with the filter and sort applied.
    virtual std::shared_ptr<ado::Recordset> get_Recordset(const std::string& Filter = "",
                                                          const std::string& Sort = "") = 0;
};

// ---- the keyed collection of metadata tables ----
class IMetadataRecordsets {
public:
    virtual ~IMetadataRecordsets() = default;
    // vIndex: a key (case-insensitive) or a 1-based position.
    virtual std::shared_ptr<IMetadataRecordset> get_Item(const rt::Variant& vIndex) = 0;
    virtual int32_t get_Count() = 0;
    // The items as they stand when the enumeration starts.
    virtual std::vector<std::shared_ptr<IMetadataRecordset>> get_NewEnum() = 0;
    virtual std::shared_ptr<IMetadataRecordset> AppendRecordset(const std::string& Key, const std::string& Source,
                                                                const std::shared_ptr<ado::Recordset>& Recordset) = 0;
};

// ---- the metadata service ----
class IMetadataService {
public:
    virtual ~IMetadataService() = default;
    virtual std::string get_CacheDirectory() = 0;
    virtual std::string get_CacheFormat() = 0;
    virtual std::string get_CacheMode() = 0;
    // Stores the name only; the next Recordsets call fetches when needed.
    virtual void put_Configuration(const std::string& name) = 0;
    virtual std::string get_Configuration() = 0;
    virtual std::shared_ptr<IMetadataRecordsets> get_Recordsets() = 0;
    // A list of "key;filter" texts whose rows RefreshRecordsDelete removes.
    virtual void DeleteRecords(const rt::Variant& vRecords) = 0;
    virtual void Fetch(const std::string& ConfigFile = "") = 0;
    virtual void SaveConfiguration(const std::string& Configuration = "", const std::string& CCMPath = "",
                                   const std::string& CachePath = "", bool FieldUse = false) = 0;
    virtual bool IsRoleGranted(const std::string& RoleName) = 0;
    virtual void Refresh() = 0;
    // vEditedTables: an array of table names, or Missing to use the edits
    // recorded in the application's preferences.
    virtual void RefreshDynamicEdits(const std::shared_ptr<IDataContext>& objDC,
                                     const rt::Variant& vEditedTables = rt::Variant::Missing()) = 0;
    virtual void RefreshRecordsDelete() = 0;
    virtual void SetActiveUser(const std::shared_ptr<IDataContext>& objDC, const std::string& UserName) = 0;
};

// ---- connection points ----
// The listeners' interface of the service's connection point. The service
// never calls it itself: the product's notification object tells listeners
// about refreshed tables, naming the connection point as the source.
class IMetadataServiceEvents {
public:
    virtual ~IMetadataServiceEvents() = default;
};

// The identifier of IMetadataServiceEvents.
inline constexpr const char* kMetadataServiceEventsIID = "{5E2A7C14-93B1-4F0D-A6C2-7D1E8B3F9A05}";

class IConnectionPoint {
public:
    virtual ~IConnectionPoint() = default;
    virtual Guid GetConnectionInterface() = 0;
    virtual int32_t Advise(const std::shared_ptr<IMetadataServiceEvents>& sink) = 0;
    virtual void Unadvise(int32_t cookie) = 0;
};

class IConnectionPointContainer {
public:
    virtual ~IConnectionPointContainer() = default;
    // Not offered: raises error 1.
    virtual void EnumConnectionPoints() = 0;
    // The connection point for riid; any other IID raises error 1.
    virtual std::shared_ptr<IConnectionPoint> FindConnectionPoint(const Guid& riid) = 0;
};

}  // namespace pelmora
