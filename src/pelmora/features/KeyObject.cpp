#include "pelmora/features/KeyObject.h"

#include "pelmora/common/modYvCommonUtilities.h"
#include "interfaces/Components.h"
#include "runtime/Dispatch.h"
#include "runtime/Error.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

// QzKeyObject: the same fields, but Components answers QzComponents and
// cannot be set. Holds the key object strongly, as any interface pointer does.
class KeyObjectQzFace : public rt::Object, public QzKeyObject {
public:
    explicit KeyObjectQzFace(std::shared_ptr<KeyObject> owner) : owner_(std::move(owner)) {}

    int16_t get_FNO() override { return owner_->get_FNO(); }
    void put_FNO(int16_t FNO) override { owner_->put_FNO(FNO); }
    int32_t get_FID() override { return owner_->get_FID(); }
    void put_FID(int32_t FID) override { owner_->put_FID(FID); }
    int16_t get_CNO() override { return owner_->get_CNO(); }
    void put_CNO(int16_t CNO) override { owner_->put_CNO(CNO); }
    int16_t get_CID() override { return owner_->get_CID(); }
    void put_CID(int16_t CID) override { owner_->put_CID(CID); }
    std::shared_ptr<QzComponents> get_Components() override {
        auto components = owner_->get_Components();
        if (!components) return nullptr;
        return rt::QueryInterface<QzComponents>(components);
    }

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    rt::Variant InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) override;
    // Any other interface is the key object's own.
    std::shared_ptr<rt::Object> QueryFacet(const std::type_info& iface) override {
        if (iface == typeid(QzKeyObject)) return nullptr;
        return owner_;
    }
    std::string TypeName() const override { return "KeyObject"; }

private:
    std::shared_ptr<KeyObject> owner_;
};

// The numbers, alike on both faces.
template <class Face>
rt::DispatchTable<Face> NumberMembers() {
    using V = rt::Variant;
    return rt::DispatchTable<Face>().ClassModuleOf(kProjectName)
        .Get("FNO", 2, [](Face& k) { return V(k.get_FNO()); })
        .Let("FNO", 2, [](Face& k, const V& v) { k.put_FNO(rt::CInt(v)); })
        .Get("FID", 3, [](Face& k) { return V(k.get_FID()); })
        .Let("FID", 3, [](Face& k, const V& v) { k.put_FID(rt::CLng(v)); })
        .Get("CNO", 4, [](Face& k) { return V(k.get_CNO()); })
        .Let("CNO", 4, [](Face& k, const V& v) { k.put_CNO(rt::CInt(v)); })
        .Get("CID", 5, [](Face& k) { return V(k.get_CID()); })
        .Let("CID", 5, [](Face& k, const V& v) { k.put_CID(rt::CInt(v)); });
}

const rt::DispatchTable<KeyObject>& OwnDispatch() {
    static const auto table =
        NumberMembers<KeyObject>()
            .Get("Components", 1, [](KeyObject& k) { return rt::Variant(rt::ObjectPtrOf(k.get_Components())); })
            .Set("Components", 1, [](KeyObject& k, const rt::Variant& v) {
                if (!v.IsObject()) rt::RaiseVbError(rt::vberr::TypeMismatch);
                // Nothing clears; any other object must be a components collection.
                k.putref_Components(v.IsNothing() ? nullptr : rt::QueryInterface<IComponents>(v.Obj()));
            });
    return table;
}

const rt::DispatchTable<KeyObjectQzFace>& QzDispatch() {
    static const auto table = NumberMembers<KeyObjectQzFace>().Get("Components", 1, [](KeyObjectQzFace& k) {
        return rt::Variant(rt::ObjectPtrOf(k.get_Components()));
    });
    return table;
}

rt::Variant KeyObjectQzFace::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    return QzDispatch().Invoke(*this, name, kind, args);
}

rt::Variant KeyObjectQzFace::InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) {
    return QzDispatch().InvokeDispId(*this, dispId, kind, args);
}

}  // namespace

rt::Variant KeyObject::Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) {
    return OwnDispatch().Invoke(*this, name, kind, args);
}

rt::Variant KeyObject::InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) {
    return OwnDispatch().InvokeDispId(*this, dispId, kind, args);
}

std::shared_ptr<rt::Object> KeyObject::QueryFacet(const std::type_info& iface) {
    if (iface != typeid(QzKeyObject)) return nullptr;
    return std::make_shared<KeyObjectQzFace>(std::static_pointer_cast<KeyObject>(shared_from_this()));
}

}  // namespace pelmora
