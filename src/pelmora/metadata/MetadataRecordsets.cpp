#include "pelmora/metadata/MetadataRecordsets.h"

#include <algorithm>
#include <optional>

#include "ado/Recordset.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/metadata/MetadataRecordset.h"
#include "runtime/Dispatch.h"
#include "runtime/Error.h"
#include "runtime/Facet.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr const char* kNoActiveUserText =
    "No active user is set: SetActiveUser on the metadata service, with a data context and the user's name, "
    "reads the roles that rows needing a role are checked against.";

std::shared_ptr<MetadataRecordset> ItemOf(const rt::Variant& v) {
    return v.IsObject() ? std::dynamic_pointer_cast<MetadataRecordset>(v.Obj()) : nullptr;
}

std::string IndexText(const rt::Variant& vIndex) {
    try {
        return rt::CStr(vIndex);
    } catch (...) {
        return "";
    }
}

// The sibling interface of the collection: the same members, with items
// handed out as IMetadataRecordset.
class MetadataRecordsetsFacet : public rt::FacetOf<IMetadataRecordsets, MetadataRecordsets> {
public:
    using FacetOf::FacetOf;

    std::shared_ptr<IMetadataRecordset> get_Item(const rt::Variant& vIndex) override {
        return owner_->get_Item(vIndex);
    }
    int32_t get_Count() override { return owner_->get_Count(); }
    std::vector<std::shared_ptr<IMetadataRecordset>> get_NewEnum() override {
        auto items = owner_->get_NewEnum();
        return {items.begin(), items.end()};
    }
    std::shared_ptr<IMetadataRecordset> AppendRecordset(const std::string& Key, const std::string& Source,
                                                        const std::shared_ptr<ado::Recordset>& Recordset) override {
        return owner_->AppendRecordset(Key, Source, Recordset);
    }
    std::string TypeName() const override { return "MetadataRecordsets"; }
};

void ReportRoleCheckFailure(const std::exception& e) {
    const auto* com = dynamic_cast<const rt::ComError*>(&e);
    ShowMessage(rt::Variant("IsRoleGranted:\r\n" + (com ? com->Description() : std::string(e.what()))));
}

}  // namespace

void DeleteRowsWithoutGrantedRole(const std::shared_ptr<ado::Recordset>& recordset, MetadataRecordsets* roles) {
    if (!recordset) return;
    const int32_t roleField = recordset->FieldIndex(kRoleField);
    if (roleField < 0) return;
    // A clone of its own sees every row of the table, whatever filter or
    // position the caller's recordset has, and deletes from the same rows.
    auto walker = recordset->Clone(ado::adLockUnspecified);
    const rt::Variant roleIndex(roleField);
    // Asked for at most once a table, so a missing roles item is reported once.
    std::optional<std::vector<std::string>> granted;
    auto isGranted = [&](const std::string& role) {
        if (!granted) granted = roles ? roles->GrantedRoles() : std::vector<std::string>();
        return std::any_of(granted->begin(), granted->end(),
                           [&](const std::string& g) { return rt::NamesEqual(g, role); });
    };
    if (!(walker->get_BOF() && walker->get_EOF())) {
        walker->MoveFirst();
        while (!walker->get_EOF()) {
            const std::string role = MetadataRecordset::FormatText(walker->GetValue(roleIndex));
            if (!role.empty() && !isGranted(role)) walker->Delete(ado::adAffectCurrent);
            walker->MoveNext();
        }
    }
}

MetadataRecordsets::MetadataRecordsets() { InitResources(kResourceModule); }

MetadataRecordsets::~MetadataRecordsets() = default;

std::shared_ptr<MetadataRecordset> MetadataRecordsets::get_Item(const rt::Variant& vIndex) {
    if (vIndex.IsString())
        if (auto known = byText_.find(vIndex.Str()); known != byText_.end()) return known->second;
    std::shared_ptr<MetadataRecordset> item;
    try {
        item = ItemOf(items_->Item(vIndex));
    } catch (...) {
    }
    if (!item) {
        // The roles are no table of the cache: they come with the active
        // user, and role checks ask for them before anyone has set one.
        const std::string index = IndexText(vIndex);
        RaiseError(1, "MetadataRecordsets.Item", rt::Variant(int32_t{22142}), rt::Variant(index),
                   rt::NamesEqual(index, kRolesKey) ? rt::Variant(kNoActiveUserText) : rt::Variant::Missing());
    }
    if (vIndex.IsString()) {
        constexpr size_t kMaxTexts = 256;
        if (byText_.size() >= kMaxTexts) byText_.clear();
        byText_.emplace(vIndex.Str(), item);
    }
    return item;
}

int32_t MetadataRecordsets::get_Count() { return items_->Count(); }

std::vector<std::shared_ptr<MetadataRecordset>> MetadataRecordsets::get_NewEnum() {
    std::vector<std::shared_ptr<MetadataRecordset>> items;
    for (const auto& v : items_->Enumerate())
        if (auto item = ItemOf(v)) items.push_back(item);
    return items;
}

std::shared_ptr<MetadataRecordset> MetadataRecordsets::AppendRecordset(const std::string& Key,
                                                                       const std::string& Source,
                                                                       const std::shared_ptr<ado::Recordset>& Recordset) {
    if (!rt::NamesEqual(Key, kRoleAssocKey) && !rt::NamesEqual(Key, kRolesKey)) FilterRecordsetByRole(Recordset);
    auto item = std::make_shared<MetadataRecordset>();
    item->put_Key(Key);
    item->put_Source(Source);
    item->putref_Recordset(Recordset);
    if (rt::NamesEqual(rt::Left(Key, 3), "VBA"))
        item->putref_Parent(std::static_pointer_cast<MetadataRecordsets>(shared_from_this()));
    byText_.clear();
    items_->Add(rt::Variant(item), rt::Variant(Key));
    return item;
}

std::shared_ptr<MetadataRecordset> MetadataRecordsets::AppendKey(const std::string& Key, const std::string& Source) {
    auto item = std::make_shared<MetadataRecordset>();
    item->put_Key(Key);
    item->put_Source(Source);
    byText_.clear();
    items_->Add(rt::Variant(item), rt::Variant(Key));
    return item;
}

void MetadataRecordsets::Remove(const rt::Variant& Key) {
    byText_.clear();
    items_->Remove(Key);
}

void MetadataRecordsets::Clear() {
    byText_.clear();
    for (const auto& v : items_->Enumerate())
        if (auto item = ItemOf(v)) item->putref_Parent(nullptr);
    while (items_->Count() > 0) items_->Remove(rt::Variant(int32_t{1}));
}

bool MetadataRecordsets::VisitGrantedRoles(const std::function<bool(const std::string&)>& visit) {
    auto roles = get_Item(rt::Variant(kRolesKey))->get_Recordset("", "");
    if (!(roles->get_BOF() && roles->get_EOF())) {
        const rt::Variant first(int32_t{0});
        roles->MoveFirst();
        while (!roles->get_EOF()) {
            const rt::Variant value = roles->GetValue(first);
            // Null equals nothing, as in a VB comparison.
            if (!value.IsNull() && visit(rt::CStr(value))) return true;
            roles->MoveNext();
        }
    }
    return false;
}

bool MetadataRecordsets::IsRoleGranted(const std::string& RoleName) {
    try {
        return VisitGrantedRoles([&](const std::string& role) { return rt::NamesEqual(role, RoleName); });
    } catch (const std::exception& e) {
        ReportRoleCheckFailure(e);
        return false;
    }
}

std::vector<std::string> MetadataRecordsets::GrantedRoles() {
    std::vector<std::string> granted;
    try {
        VisitGrantedRoles([&](const std::string& role) {
            granted.push_back(role);
            return false;
        });
    } catch (const std::exception& e) {
        // The roles read before the failure answer as they would one by one.
        ReportRoleCheckFailure(e);
    }
    return granted;
}

void MetadataRecordsets::FilterRecordsetByRole(const std::shared_ptr<ado::Recordset>& Recordset) {
    if (!Recordset) return;
    DeleteRowsWithoutGrantedRole(Recordset, this);
    // The caller gets its recordset back on the first row, wherever its
    // cursor stood before.
    if (Recordset->get_RecordCount() > 0) Recordset->MoveFirst();
}

// ---- late binding and the sibling interface ----

namespace {
const rt::DispatchTable<MetadataRecordsets>& CollectionDispatch() {
    static const auto table =
        rt::DispatchTable<MetadataRecordsets>().ClassModuleOf(kProjectName)
            .Get("Item", 0, 1, 1,
                 [](MetadataRecordsets& c, rt::Args& a) { return rt::Variant(c.get_Item(a[0])); })
            .Get("Count", 1, [](MetadataRecordsets& c) { return rt::Variant(c.get_Count()); })
            .Get("NewEnum", -4,
                 [](MetadataRecordsets& c) {
                     std::vector<rt::Variant> items;
                     for (auto& item : c.get_NewEnum()) items.emplace_back(item);
                     return rt::Variant::ArrayOf(items);
                 })
            .Method("AppendRecordset", 2, 3, 3, [](MetadataRecordsets& c, rt::Args& a) {
                std::shared_ptr<ado::Recordset> rs;
                if (a[2].IsObject()) rs = std::dynamic_pointer_cast<ado::Recordset>(a[2].Obj());
                return rt::Variant(c.AppendRecordset(rt::CStr(a[0]), rt::CStr(a[1]), rs));
            });
    return table;
}
}  // namespace

rt::Variant MetadataRecordsets::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    if (name.empty()) return CollectionDispatch().InvokeDispId(*this, 0, kind, args);
    return CollectionDispatch().Invoke(*this, name, kind, args);
}

rt::Variant MetadataRecordsets::InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) {
    return CollectionDispatch().InvokeDispId(*this, dispId, kind, args);
}

std::shared_ptr<rt::Object> MetadataRecordsets::QueryFacet(const std::type_info& iface) {
    if (iface != typeid(IMetadataRecordsets)) return nullptr;
    return rt::SharedFacet<MetadataRecordsetsFacet>(*this, facet_);
}

}  // namespace pelmora
