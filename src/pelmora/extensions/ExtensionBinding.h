#pragma once
// What the extension bridges share: the apartment's VBA project host, a new
// interface support object per bridge, the Abort subscription of a
// project-hosted object, the bridges' error reporting, and the two routines
// that build and copy argument lists.
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <string>

#include "interfaces/InterfaceSupport.h"
#include "interfaces/VbaProjectHost.h"
#include "runtime/Error.h"
#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace pelmora {

class IDataContext;

// An extension whose project went away: raised as kErrorBase + 14119.
inline constexpr int32_t kUserInterruptedError = 14119;
inline constexpr int16_t kUserInterruptedMessage = 25754;

// The apartment's VBA project host, created on first use and kept for the
// apartment's life.
std::shared_ptr<IVbaProjectHost> GetVbaProjectHost();
// The entry object of a loaded project (what the host raises otherwise).
rt::ObjectPtr GetVbaProjectObject(int32_t ProjectNumber);
// A new interface support object.
std::shared_ptr<IInterfaceSupport> NewInterfaceSupport();

// The QTX_VALUE of the rows of QTX_RELATIONIFACEARGS_OPTABLE of one
// argument group, bounds 1 to n in the table's order; Null for a Null or
// Empty group, a group without rows or a table that serves no recordset.
// A group that is not a number raises 13.
rt::Variant GetRelationIfaceArguments(const std::shared_ptr<IDataContext>& DataContext,
                                      const rt::Variant& ArgGroupNo);

// An argument list as an extension object takes it: Empty and Null give an
// array without elements; an array whose lower bound is below 1 is copied
// as it is; otherwise it is re-based to 0 (bounds 0 to UBound - 1). A value
// that is not an array raises 13.
rt::Variant CopyArgumentArray(const rt::Variant& Arguments);

// A bridge's subscription to the Abort event of its project-hosted object.
// The bridge owns it; the object holds the listener weakly only.
class AbortSubscription {
public:
    AbortSubscription() = default;
    ~AbortSubscription();
    AbortSubscription(const AbortSubscription&) = delete;
    AbortSubscription& operator=(const AbortSubscription&) = delete;

    // Listens to the object's Abort (dropping any earlier subscription); an
    // object without the event face raises 13.
    void Subscribe(const rt::ObjectPtr& hosted, std::function<void()> onAbort);
    // Stops listening and releases the object; safe inside the handler.
    void Drop();

private:
    class Listener;
    std::shared_ptr<IValidationInterfaceEventSource> source_;
    std::shared_ptr<Listener> listener_;
    int32_t cookie_ = 0;
};

// The hosted object of a bridge in either binding mode, with what comes with
// it: the Abort subscription of a project-hosted object (m_oEHC) and the
// support object of name mode, made at the first name-mode binding and kept.
// The bridge owns it; the accessors hand the hosted object out for the
// length of one call and raise 91 when there is none.
template <class ProjectInterface, class NamedInterface>
class HostedExtension {
public:
    // Project number 1 or more: the project's entry object as
    // ProjectInterface, listened to with onAbort. Anything else: Name
    // created by the support object, as NamedInterface. A failure leaves the
    // earlier object bound (a new name-mode binding stays in name mode).
    void Bind(int32_t PrjNo, const std::string& Name, std::function<void()> onAbort) {
        if (PrjNo >= 1) {
            auto entry = GetVbaProjectObject(PrjNo);
            auto project = rt::QueryInterface<ProjectInterface>(entry);
            m_oEHC.Subscribe(entry, std::move(onAbort));
            project_ = std::move(project);
            named_.reset();
            nameMode_ = false;
            return;
        }
        nameMode_ = true;
        if (!support_) support_ = NewInterfaceSupport();
        rt::Variant created = support_->CreateInterfaceObject(Name);
        if (!created.IsObject()) rt::RaiseVbError(rt::vberr::ObjectRequired);
        named_ = rt::QueryInterface<NamedInterface>(created.Obj());
        m_oEHC.Drop();
        project_.reset();
    }
    // Releases the project-hosted object and stops listening; safe inside
    // the Abort handler.
    void DropProject() {
        project_.reset();
        m_oEHC.Drop();
    }
    bool NameMode() const { return nameMode_; }
    std::shared_ptr<ProjectInterface> Project() const {
        if (!project_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
        return project_;
    }
    std::shared_ptr<NamedInterface> Named() const {
        if (!named_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
        return named_;
    }
    IInterfaceSupport& Support() const {
        if (!support_) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
        return *support_;
    }

private:
    std::shared_ptr<ProjectInterface> project_;
    AbortSubscription m_oEHC;
    std::shared_ptr<NamedInterface> named_;
    std::shared_ptr<IInterfaceSupport> support_;
    bool nameMode_ = false;
};

// Reports a failure of a bridge member: after an Abort (unloaded set) as
// the user-interrupted error with message 25754 and the bridge's source;
// otherwise the failure itself, unchanged.
[[noreturn]] void RaiseBridgeError(const rt::ComError& failure, bool unloaded, const std::string& source);

// Runs one bridge member under that reporting. unloaded is read after the
// failure, so an Abort raised during the call counts.
template <class F>
auto GuardBridgeCall(const bool& unloaded, const std::string& source, F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const rt::ComError& e) {
        RaiseBridgeError(e, unloaded, source);
    } catch (const std::bad_alloc&) {
        RaiseBridgeError(rt::ComError(rt::vberr::OutOfMemory, source, rt::VbErrorDescription(rt::vberr::OutOfMemory)),
                         unloaded, source);
    } catch (const std::exception& e) {
        RaiseBridgeError(rt::ComError(rt::vberr::InvalidProcedureCall, source, e.what()), unloaded, source);
    }
}

}  // namespace pelmora
