#pragma once
// The keyed collection of a metadata service's cached tables, and the role
// checks that decide which of their rows the active user sees.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "interfaces/MetadataService.h"
#include "runtime/Collection.h"
#include "runtime/Object.h"

namespace ado {
class Recordset;
}

namespace pelmora {

class MetadataRecordset;

inline constexpr const char* kMetadataRecordsetsProgId = "QzPelmora.MetadataRecordsets";
// The item holding the active user's granted roles, one per row.
inline constexpr const char* kRolesKey = "QTX_ROLES";
// The table that relates roles to objects; it is never role-filtered.
inline constexpr const char* kRoleAssocKey = "QTX_ROLEASSOC_OPTABLE";
// The column that names the role a row needs.
inline constexpr const char* kRoleField = "QTX_ROLE";

class MetadataRecordsets : public rt::Object {
public:
    MetadataRecordsets();
    ~MetadataRecordsets() override;

    // ---- the members callers see ----
    // By key (case-insensitive) or 1-based position; raises 0x80040001 when
    // there is no such item.
    std::shared_ptr<MetadataRecordset> get_Item(const rt::Variant& vIndex);
    int32_t get_Count();
    std::vector<std::shared_ptr<MetadataRecordset>> get_NewEnum();
    // Adds a table from a recordset (role-filtered in place first, unless it
    // is the roles or role-association table).
    std::shared_ptr<MetadataRecordset> AppendRecordset(const std::string& Key, const std::string& Source,
                                                       const std::shared_ptr<ado::Recordset>& Recordset);

    // ---- inside the system ----
    bool get_VBARefreshPending() const { return vbaRefreshPending_; }
    void put_VBARefreshPending(bool pending) { vbaRefreshPending_ = pending; }
    // Adds an empty item; the caller sets its parent, directory and format.
    std::shared_ptr<MetadataRecordset> AppendKey(const std::string& Key, const std::string& Source);
    // Raises the collection's error 5 when the key is not held.
    void Remove(const rt::Variant& Key);
    // Detaches every item and empties the collection.
    void Clear();
    // Whether the roles item lists the role (case-insensitive). Without a
    // roles item the answer is False, after a message.
    bool IsRoleGranted(const std::string& RoleName);
    // Every role the roles item lists, read once for a whole table. Without a
    // roles item: none, after one message.
    std::vector<std::string> GrantedRoles();
    // Deletes the rows of the recordset whose role is not granted; the
    // recordset ends on its first row when it has any.
    void FilterRecordsetByRole(const std::shared_ptr<ado::Recordset>& Recordset);

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    rt::Variant InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) override;
    std::shared_ptr<rt::Object> QueryFacet(const std::type_info& iface) override;
    std::string TypeName() const override { return "MetadataRecordsets"; }

private:
    // Hands each role of the roles item (Nulls left out) to `visit` until it
    // answers True, and answers that. Failures reach the caller.
    bool VisitGrantedRoles(const std::function<bool(const std::string&)>& visit);

    std::shared_ptr<rt::Collection> items_ = rt::Collection::New();
    // The item each text asked for found, as asked (rule walks ask the same
    // few texts for every rule); forgotten whenever an item comes or goes.
    std::unordered_map<std::string, std::shared_ptr<MetadataRecordset>> byText_;
    bool vbaRefreshPending_ = false;
    std::weak_ptr<rt::Object> facet_;
};

// The role rule shared by appended and loaded tables: walks every row of the
// recordset (whatever its filter and position) and deletes each row whose
// QTX_ROLE is neither Null nor empty and is not granted by `roles` (none
// when it is nullptr), whose roles are read once, at the first row that needs
// one. A table without QTX_ROLE is left alone. Failures reach the caller, so a
// table is never served half filtered.
void DeleteRowsWithoutGrantedRole(const std::shared_ptr<ado::Recordset>& recordset, MetadataRecordsets* roles);

}  // namespace pelmora
