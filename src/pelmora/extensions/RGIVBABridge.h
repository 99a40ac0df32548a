#pragma once
// A relationship geometry interface that lives in a VBA project, or that the
// interface support object creates from a name with ":", put behind
// RelationshipGeometryInterface. Only the relationship geometry host creates
// it and binds it at once with InitializeBridge, which hands the hosted RGI
// the helper's data context, active feature, argument list, relationship
// number and the features related to the active feature.
//
// The bridge owns the hosted object, its Abort subscription and its support
// object. ProcessingMode, RelatedFNO and RelatedCNO reach only a
// project-hosted RGI: in name mode, and after an Abort, they raise 91 as
// they are (the host runs them under its own guard). The members the
// bridge does not serve show a plain message box.
#include <cstdint>
#include <memory>
#include <string>

#include "pelmora/extensions/ExtensionBinding.h"
#include "pelmora/extensions/RGIUnsupportedMembers.h"
#include "interfaces/RelationshipGeometry.h"
#include "runtime/Object.h"

namespace ado {
class Recordset;
}

namespace pelmora {

class RGIVBABridge : public rt::Object, public RGIUnsupportedMembers {
public:
    RGIVBABridge() = default;
    ~RGIVBABridge() override = default;
    RGIVBABridge(const RGIVBABridge&) = delete;
    RGIVBABridge& operator=(const RGIVBABridge&) = delete;

    // Inside the system only. Project number 1 or more binds the project's
    // entry object; anything else creates Name through the bridge's support
    // object. Then hands over the helper's context, feature and the argument
    // list of ArgGroupNo, and, when a relationship row carries the helper's
    // Name as QTX_USERNAME, the first such row's number and the features
    // the helper's ReviewRelationship gives (names must be unique for that
    // number to be the helper's). A failure leaves the later steps undone
    // and is raised as GuardBridgeCall reports it.
    void InitializeBridge(int32_t PrjNo, const rt::Variant& ArgGroupNo,
                          const std::shared_ptr<IRelationshipHelper>& Helper, const std::string& Name);

    void put_ProcessingMode(int32_t ProcessingMode) override;
    int32_t get_ProcessingMode() override;
    // Runs the hosted RGI's own initialisation; the helper is not used.
    void Initialize(const std::shared_ptr<IRelationshipHelper>& Helper) override;
    // Initialises the hosted RGI again and validates. Project mode: whatever
    // the RGI stores in the two arrays is the result. Name mode: each array
    // the RGI returns dimensioned replaces the caller's; one it leaves
    // without elements leaves the caller's as it was.
    void Validate(const std::shared_ptr<IRelationshipHelper>& Helper, rt::Variant& PriorityArray,
                  rt::Variant& ErrArray) override;
    int16_t get_RelatedFNO() override;
    void put_RelatedFNO(int16_t RelatedFNO) override;
    int16_t get_RelatedCNO() override;
    void put_RelatedCNO(int16_t RelatedCNO) override;

    bool get_NameMode() const { return m_oHosted.NameMode(); }
    bool get_Unloaded() const { return m_bVBAObjectUnloaded; }

    std::string TypeName() const override { return "RGIVBABridge"; }

protected:
    void NotSupported() override;

private:
    template <class F>
    auto Guard(F&& f) -> decltype(f()) {
        return GuardBridgeCall(m_bVBAObjectUnloaded, kSource, std::forward<F>(f));
    }
    void HandOver(const std::shared_ptr<IRelationshipHelper>& Helper, const rt::Variant& ArgGroupNo);
    void InitializeHosted();
    // The hosted objects, held for the length of one call (91 when gone).
    std::shared_ptr<IProjectRelationshipGeometry> Project() const { return m_oHosted.Project(); }
    std::shared_ptr<INamedRelationshipGeometry> Named() const { return m_oHosted.Named(); }
    IInterfaceSupport& Support() const { return m_oHosted.Support(); }
    bool NameMode() const { return m_oHosted.NameMode(); }
    void OnAbort();

    static constexpr const char* kSource = "RGIVBABridge";

    HostedExtension<IProjectRelationshipGeometry, INamedRelationshipGeometry> m_oHosted;
    std::shared_ptr<ado::Recordset> m_rsRelationship;
    bool m_bVBAObjectUnloaded = false;
};

}  // namespace pelmora
