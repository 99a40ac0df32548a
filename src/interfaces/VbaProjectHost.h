#pragma once
// The VBA project host: one per apartment, it hands out the entry object of
// a loaded VBA project by project number. An entry object raises Abort
// when its project goes away; listeners subscribe through
// IValidationInterfaceEventSource.
#include <cstdint>
#include <memory>

#include "runtime/Object.h"

namespace pelmora {

inline constexpr const char* kVbaProjectHostProgId = "QTX.VBAProjectHost";
inline constexpr const char* kVbaProjectHostClsid = "{0F8723DB-FAD9-4C5E-ACE9-5FDEA06A285C}";

// The loaded projects.
class IVbaProjects {
public:
    virtual ~IVbaProjects() = default;
    // The entry object of the project; a number the host does not hold raises.
    virtual rt::ObjectPtr get_Item(int32_t ProjectNumber) = 0;
    virtual int32_t get_Count() = 0;
};

class IVbaProjectHost {
public:
    virtual ~IVbaProjectHost() = default;
    virtual std::shared_ptr<IVbaProjects> get_Projects() = 0;
};

// The events of a project's entry object (listeners implement it).
class IValidationInterfaceEvents {
public:
    virtual ~IValidationInterfaceEvents() = default;
    virtual void Abort() = 0;
};

// The connection point of an entry object. Listeners are held weakly.
class IValidationInterfaceEventSource {
public:
    virtual ~IValidationInterfaceEventSource() = default;
    virtual int32_t AdviseEvents(const std::shared_ptr<IValidationInterfaceEvents>& sink) = 0;
    virtual void UnadviseEvents(int32_t cookie) = 0;
};

// A ready connection point for entry objects to derive from.
class AbortEventSource : public IValidationInterfaceEventSource {
public:
    int32_t AdviseEvents(const std::shared_ptr<IValidationInterfaceEvents>& sink) override {
        return events_.Advise(sink);
    }
    void UnadviseEvents(int32_t cookie) override { events_.Unadvise(cookie); }
    // Tells every listener that the project went away.
    void RaiseAbort() {
        events_.Fire([](IValidationInterfaceEvents& s) { s.Abort(); });
    }
    size_t ListenerCount() const { return events_.Count(); }

private:
    rt::EventSource<IValidationInterfaceEvents> events_;
};

}  // namespace pelmora
