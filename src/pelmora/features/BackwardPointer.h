#pragma once
// The link from a component to the collection that owns it. The collection
// owns the pointer and its components; each component holds the pointer, and
// the pointer holds nothing of the collection: it asks its listener (the
// collection, held weakly) through the NeedParent event. So no reference
// cycle forms, and a component that outlives its collection gets nothing.
#include <memory>

#include "runtime/Object.h"

namespace pelmora {

class IComponents;

// The listener of a BackwardPointer: sets oParent to the collection.
class BackwardPointerEvents {
public:
    virtual ~BackwardPointerEvents() = default;
    virtual void NeedParent(std::shared_ptr<IComponents>& oParent) = 0;
};

class BackwardPointer : public rt::Object {
public:
    // The owning collection, or nullptr once it is gone.
    std::shared_ptr<IComponents> GetParent();

    // The connection point of NeedParent; the listener is held weakly.
    int32_t Advise(const std::shared_ptr<BackwardPointerEvents>& sink) { return events_.Advise(sink); }
    void Unadvise(int32_t cookie) { events_.Unadvise(cookie); }

    std::string TypeName() const override { return "BackwardPointer"; }

private:
    rt::EventSource<BackwardPointerEvents> events_;
};

}  // namespace pelmora
