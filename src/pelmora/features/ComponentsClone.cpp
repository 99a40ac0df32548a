#include "pelmora/features/ComponentsClone.h"

#include "pelmora/common/modYvCommonUtilities.h"
#include "pelmora/features/ComponentClone.h"
#include "pelmora/features/Components.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {
constexpr int16_t kMsgSource = 23772;

// Whether a key names what the folded text stands for, as the collection
// compares keys (ASCII letters without case); false for any other key.
bool NamesFolded(const std::string& folded, const std::string& key) {
    if (folded.size() != key.size()) return false;
    for (size_t i = 0; i < key.size(); ++i) {
        const char c = key[i];
        if (static_cast<unsigned char>(c) >= 0x80) return false;
        if (rt::FoldAscii(c) != folded[i]) return false;
    }
    return true;
}
}  // namespace

void ComponentsClone::Refuse(int32_t messageId) const {
    RaiseError(1, LoadResStringWithParams(kMsgSource), rt::Variant(messageId));
}

rt::Collection& ComponentsClone::Items() {
    if (!items_) items_ = rt::Collection::New();
    return *items_;
}

void ComponentsClone::AddComponentByCNO(int16_t, const rt::Variant&) { Refuse(23771); }

void ComponentsClone::AddComponentByRecordset(int16_t, const std::shared_ptr<ado::Recordset>&) { Refuse(23773); }

int32_t ComponentsClone::get_Count() { return Items().Count(); }

std::shared_ptr<IDataContext> ComponentsClone::get_DataContext() { return dataContext_; }

void ComponentsClone::putref_DataContext(const std::shared_ptr<IDataContext>&) { Refuse(23769); }

std::shared_ptr<IComponent> ComponentsClone::get_Item(const rt::Variant& Index) { return CloneAt(Index); }

std::shared_ptr<ado::Recordset> ComponentsClone::RowsAsTheyStand(const std::string& Name) {
    return CloneAt(rt::Variant(Name))->RowsAsTheyStand();
}

std::shared_ptr<ComponentClone> ComponentsClone::CloneAt(const rt::Variant& Index) {
    if (Index.IsString())
        for (size_t i = 0; i < namedCount_; ++i)
            if (NamesFolded(named_[i].folded, Index.Str())) return named_[i].clone;
    // Only AddClone fills the collection: every item is a ComponentClone.
    const rt::Variant item = Items().Item(Index);
    if (!item.IsObject() || !item.Obj()) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    return std::static_pointer_cast<ComponentClone>(item.Obj());
}

void ComponentsClone::Refresh() { Refuse(23774); }

std::vector<std::shared_ptr<IComponent>> ComponentsClone::get_NewEnum() {
    std::vector<std::shared_ptr<IComponent>> out;
    for (const auto& v : Items().Enumerate()) out.push_back(rt::QueryInterface<IComponent>(v.Obj()));
    return out;
}

void ComponentsClone::Update() {}

std::shared_ptr<IComponent> ComponentsClone::GetComponent(int16_t CNO) {
    for (const auto& c : get_NewEnum())
        if (c->get_CNO() == CNO) return c;
    return nullptr;
}

void ComponentsClone::CopyDataContext(const std::shared_ptr<IComponents>& Components) {
    if (!Components) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    dataContext_ = Components->get_DataContext();
    source_ = Components;
}

void ComponentsClone::AddClone(const std::shared_ptr<IComponent>& Source, const std::string& Filter,
                               std::optional<int32_t> FID) {
    auto clone = std::make_shared<ComponentClone>();
    clone->InitClone(Source, Filter, FID);
    if (!featureViews_)
        featureViews_ = std::make_shared<FeatureViews>(std::static_pointer_cast<ComponentsClone>(shared_from_this()));
    clone->SetFeatureViews(featureViews_);
    const std::string name = clone->get_Name();
    Items().Add(rt::Variant(std::static_pointer_cast<rt::Object>(clone)), rt::Variant(name));
    if (namedCount_ < named_.size() && !name.empty() && rt::IsAscii(name))
        named_[namedCount_++] = Named{rt::FoldAsciiText(name), clone};
}

std::shared_ptr<rt::Object> ComponentsClone::QueryFacet(const std::type_info& iface) {
    if (iface != typeid(QzComponents)) return nullptr;
    auto facet = facet_.lock();
    if (!facet) {
        facet = std::make_shared<QzComponentsFacet>(std::dynamic_pointer_cast<ComponentsClone>(shared_from_this()));
        facet_ = facet;
    }
    return facet;
}

rt::Variant ComponentsClone::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    return InvokeComponentsMember(*this, name, kind, args);
}

}  // namespace pelmora
