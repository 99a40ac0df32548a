#pragma once
// The identity of a feature (FNO, FID) or of one component row of it (CNO,
// CID), with the feature's components once it is opened or created. Plain
// storage: no checks, no equality, no copy.
#include <cstdint>
#include <memory>
#include <string>
#include <typeinfo>

#include "interfaces/KeyObject.h"
#include "runtime/Object.h"

namespace pelmora {

inline constexpr const char* kKeyObjectProgId = "QzPelmora.KeyObject";

// The class's own members are its default face and IKeyObject at once (they
// behave alike); QzKeyObject is a facet, because its Components answers
// QzComponents.
class KeyObject : public rt::Object, public IKeyObject {
public:
    static std::shared_ptr<KeyObject> New() { return std::make_shared<KeyObject>(); }

    int16_t get_FNO() override { return FNO_; }
    void put_FNO(int16_t FNO) override { FNO_ = FNO; }
    int32_t get_FID() override { return FID_; }
    void put_FID(int32_t FID) override { FID_ = FID; }
    int16_t get_CNO() override { return CNO_; }
    void put_CNO(int16_t CNO) override { CNO_ = CNO; }
    int16_t get_CID() override { return CID_; }
    void put_CID(int16_t CID) override { CID_ = CID; }
    std::shared_ptr<IComponents> get_Components() override { return components_; }
    void putref_Components(const std::shared_ptr<IComponents>& Components) override { components_ = Components; }

    rt::Variant Invoke(const std::string& name, rt::InvokeKind kind, rt::Args& args) override;
    rt::Variant InvokeDispId(int32_t dispId, rt::InvokeKind kind, rt::Args& args) override;
    std::shared_ptr<rt::Object> QueryFacet(const std::type_info& iface) override;
    std::string TypeName() const override { return "KeyObject"; }

private:
    int16_t FNO_ = 0;
    int32_t FID_ = 0;
    int16_t CNO_ = 0;
    int16_t CID_ = 0;
    std::shared_ptr<IComponents> components_;
};

}  // namespace pelmora
