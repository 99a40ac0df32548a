#include "pelmora/features/Components.h"

#include "ado/Recordset.h"
#include "pelmora/common/MiscEnvironment.h"
#include "pelmora/common/TraceScope.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/features/Component.h"
#include "pelmora/features/ComponentsClone.h"
#include "pelmora/features/ComponentClone.h"
#include "interfaces/DataContext.h"
#include "pelmora/persistence/ComponentDatabaseService.h"
#include "runtime/Dispatch.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr const char* kFile = "Components";

struct FunctionalInterfaceLogState {
    std::string path;
};

}  // namespace

std::string& FunctionalInterfaceLogPath() {
    return rt::Apartment::Current().Get<FunctionalInterfaceLogState>().path;
}

Components::Components() {
    std::string& path = FunctionalInterfaceLogPath();
    if (path.empty()) {
        try {
            path = GetTempDirectory() + "/FunctionalInterfaces.log";
        } catch (...) {
            path = "/FunctionalInterfaces.log";
        }
    }
}

Components::~Components() = default;

rt::Collection& Components::Items() {
    if (!items_) items_ = rt::Collection::New();
    return *items_;
}

std::shared_ptr<BackwardPointer> Components::Pointer() {
    if (!m_oBackwardPointer) {
        m_oBackwardPointer = std::make_shared<BackwardPointer>();
        auto self = std::dynamic_pointer_cast<Components>(weak_from_this().lock());
        if (self) m_oBackwardPointer->Advise(std::static_pointer_cast<BackwardPointerEvents>(self));
    }
    return m_oBackwardPointer;
}

std::vector<std::shared_ptr<Component>> Components::Members() {
    std::vector<std::shared_ptr<Component>> out;
    for (const auto& v : Items().Enumerate()) out.push_back(std::static_pointer_cast<Component>(v.Obj()));
    return out;
}

void Components::AddMember(const std::shared_ptr<Component>& component) {
    Items().Add(rt::Variant(std::static_pointer_cast<rt::Object>(component)), rt::Variant(component->get_Name()));
}

void Components::NeedParent(std::shared_ptr<IComponents>& oParent) {
    TraceScope trace(kFile, "m_oBackwardPointer_NeedParent");
    oParent = std::dynamic_pointer_cast<Components>(weak_from_this().lock());
}

// ---- IComponents ----

void Components::AddComponentByCNO(int16_t CNO, const rt::Variant& FID) {
    TraceScope trace(kFile, "IComponents_AddComponentByCNO");
    trace.Argument("CNO", rt::Variant(CNO));
    auto component = std::make_shared<Component>();
    component->put_EventsEnabled(setBackwardPointers_);
    if (setBackwardPointers_) component->putref_BackwardPointer(Pointer());
    component->putref_DataContext(dataContext_);
    component->put_CNO(CNO);
    component->AddFID(FID);
    AddMember(component);
}

void Components::AddComponentByRecordset(int16_t CNO, const std::shared_ptr<ado::Recordset>& Recordset) {
    TraceScope trace(kFile, "IComponents_AddComponentByRecordset");
    trace.Argument("CNO", rt::Variant(CNO));
    auto component = std::make_shared<Component>();
    component->put_EventsEnabled(setBackwardPointers_);
    component->putref_DataContext(dataContext_);
    component->put_CNO(CNO);
    if (setBackwardPointers_) component->putref_BackwardPointer(Pointer());
    rt::Variant bookmark;
    bool remembered = false;
    if (Recordset && !Recordset->get_EOF() && !Recordset->get_BOF()) {
        bookmark = Recordset->get_Bookmark();
        remembered = true;
    }
    component->AttachRecordset(Recordset);
    if (remembered) Recordset->put_Bookmark(bookmark);
    AddMember(component);
}

int32_t Components::get_Count() {
    TraceScope trace(kFile, "Get IComponents_Count");
    return Items().Count();
}

std::shared_ptr<IDataContext> Components::get_DataContext() {
    TraceScope trace(kFile, "Get IComponents_DataContext");
    return dataContext_;
}

void Components::putref_DataContext(const std::shared_ptr<IDataContext>& DataContext) {
    TraceScope trace(kFile, "Set IComponents_DataContext");
    dataContext_ = DataContext;
}

std::shared_ptr<IComponent> Components::get_Item(const rt::Variant& Index) {
    TraceScope trace(kFile, "Get IComponents_Item");
    return rt::QueryInterface<IComponent>(Items().Item(Index).Obj());
}

void Components::Refresh() {
    TraceScope trace(kFile, "IComponents_Refresh");
    for (const auto& c : Members()) c->ResetRecordsets();
}

std::vector<std::shared_ptr<IComponent>> Components::get_NewEnum() {
    TraceScope trace(kFile, "Get IComponents_NewEnum");
    std::vector<std::shared_ptr<IComponent>> out;
    for (const auto& c : Members()) out.push_back(c);
    return out;
}

void Components::Update() {
    TraceScope trace(kFile, "IComponents_Update");
    trace.Pathway("Because the update is being done by the cache, this method becomes a no-op.");
}

std::shared_ptr<IComponent> Components::GetComponent(int16_t CNO) {
    TraceScope trace(kFile, "IComponents_GetComponent");
    for (const auto& c : Members())
        if (c->get_CNO() == CNO) return c;
    return nullptr;
}

// ---- inside the system ----

void Components::UpdateComponents(const std::shared_ptr<IComponentDatabaseService>& service) {
    TraceScope trace(kFile, "UpdateComponents");
    Component::Save(Members(), service.get());
}

bool Components::IsSingleFeature() {
    if (singleFeature_ != -1) return singleFeature_ == 1;
    int32_t running = -1;
    for (const auto& c : Members()) {
        if (c->get_FIDCount() > 1) {
            singleFeature_ = 0;
            return false;
        }
        // A component holding no FID (one that adopted no rows) belongs to
        // no feature and does not decide the answer.
        if (c->get_FIDCount() == 0) continue;
        int32_t fid = c->get_FIDs().Array()->Get(0).I4();
        if (fid != running) {
            if (running != -1) {
                singleFeature_ = 0;
                return false;
            }
            running = fid;
        }
    }
    singleFeature_ = 1;
    return true;
}

// ---- faces ----

std::shared_ptr<rt::Object> Components::QueryFacet(const std::type_info& iface) {
    if (iface != typeid(QzComponents)) return nullptr;
    auto facet = facet_.lock();
    if (!facet) {
        facet = std::make_shared<QzComponentsFacet>(std::dynamic_pointer_cast<Components>(shared_from_this()));
        facet_ = facet;
    }
    return facet;
}

std::shared_ptr<QzComponent> QzComponentsFacet::get_Item(const rt::Variant& Index) {
    return rt::QueryInterface<QzComponent>(owner_->get_Item(Index));
}

std::vector<std::shared_ptr<QzComponent>> QzComponentsFacet::get_NewEnum() {
    std::vector<std::shared_ptr<QzComponent>> out;
    for (const auto& c : owner_->get_NewEnum()) out.push_back(rt::QueryInterface<QzComponent>(c));
    return out;
}

std::shared_ptr<QzComponent> QzComponentsFacet::GetComponent(int16_t CNO) {
    auto c = owner_->GetComponent(CNO);
    return c ? rt::QueryInterface<QzComponent>(c) : nullptr;
}

// ---- late binding ----

namespace {

std::shared_ptr<IDataContext> DataContextArg(const rt::Variant& v) {
    if (v.IsNothing()) return nullptr;
    return rt::QueryInterface<IDataContext>(v.Obj());
}

const rt::DispatchTable<IComponents>& ComponentsDispatch() {
    static const auto table =
        rt::DispatchTable<IComponents>().ClassModuleOf(kProjectName)
            .Method("AddComponentByCNO", 1, 2, 2,
                    [](IComponents& c, rt::Args& a) {
                        c.AddComponentByCNO(rt::CInt(a[0]), a[1]);
                        return rt::Variant();
                    })
            .Method("AddComponentByRecordset", 2, 2, 2,
                    [](IComponents& c, rt::Args& a) {
                        c.AddComponentByRecordset(rt::CInt(a[0]), rt::QueryInterface<ado::Recordset>(a[1].Obj()));
                        return rt::Variant();
                    })
            .Get("Count", 3, [](IComponents& c) { return rt::Variant(c.get_Count()); })
            .Get("DataContext", 4, [](IComponents& c) { return rt::Variant(c.get_DataContext()); })
            .Set("DataContext", 4,
                 [](IComponents& c, const rt::Variant& v) { c.putref_DataContext(DataContextArg(v)); })
            .Get("Item", 0, 1, 1, [](IComponents& c, rt::Args& a) { return rt::Variant(c.get_Item(a[0])); })
            .Method("Refresh", 5, [](IComponents& c) { c.Refresh(); })
            .Method("Update", 6, [](IComponents& c) { c.Update(); })
            .Method("GetComponent", 7, 1, 1,
                    [](IComponents& c, rt::Args& a) { return rt::Variant(c.GetComponent(rt::CInt(a[0]))); });
    return table;
}

}  // namespace

rt::Variant InvokeComponentsMember(IComponents& self, const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    return ComponentsDispatch().Invoke(self, name, kind, args);
}

rt::Variant Components::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    return InvokeComponentsMember(*this, name, kind, args);
}

// ---- registration ----

void RegisterComponentClasses() {
    rt::RegisterClass(kComponentsProgId, "{7A3E5C91-1D2B-4F6A-8C4E-2B9D0F1A3C52}",
                      [] { return std::make_shared<Components>(); });
    rt::RegisterClass(kComponentCloneProgId, "{7A3E5C92-1D2B-4F6A-8C4E-2B9D0F1A3C53}",
                      [] { return std::make_shared<ComponentClone>(); });
    rt::RegisterClass(kComponentsCloneProgId, "{7A3E5C93-1D2B-4F6A-8C4E-2B9D0F1A3C54}",
                      [] { return std::make_shared<ComponentsClone>(); });
}

namespace {
[[maybe_unused]] const bool kRegistered = [] {
    RegisterComponentClasses();
    return true;
}();
}  // namespace

}  // namespace pelmora
