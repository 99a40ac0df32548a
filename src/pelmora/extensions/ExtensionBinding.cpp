#include "pelmora/extensions/ExtensionBinding.h"

#include "ado/Recordset.h"
#include "pelmora/common/modYvCommonUtilities.h"
#include "interfaces/DataContext.h"
#include "interfaces/MetadataService.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

struct VbaProjectHostSlot {
    std::shared_ptr<IVbaProjectHost> host;
};

constexpr const char* kArgumentsTable = "QTX_RELATIONIFACEARGS_OPTABLE";

}  // namespace

std::shared_ptr<IVbaProjectHost> GetVbaProjectHost() {
    auto& slot = rt::Apartment::Current().Get<VbaProjectHostSlot>();
    if (!slot.host) slot.host = rt::QueryInterface<IVbaProjectHost>(rt::CreateObject(kVbaProjectHostClsid));
    return slot.host;
}

rt::ObjectPtr GetVbaProjectObject(int32_t ProjectNumber) {
    auto projects = GetVbaProjectHost()->get_Projects();
    if (!projects) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto entry = projects->get_Item(ProjectNumber);
    if (!entry) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    return entry;
}

std::shared_ptr<IInterfaceSupport> NewInterfaceSupport() {
    return rt::QueryInterface<IInterfaceSupport>(rt::CreateObject(kInterfaceSupportClsid));
}

rt::Variant GetRelationIfaceArguments(const std::shared_ptr<IDataContext>& DataContext,
                                      const rt::Variant& ArgGroupNo) {
    if (ArgGroupNo.IsNull() || ArgGroupNo.IsEmpty()) return rt::Variant::Null();
    if (!DataContext) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    // Converted before the table is read, so a bad group fails the same way
    // whatever the metadata holds.
    const int32_t group = rt::CLng(ArgGroupNo);

    auto service = DataContext->GetMetadataService();
    if (!service) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto tables = service->get_Recordsets();
    if (!tables) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
    auto table = tables->get_Item(rt::Variant(kArgumentsTable));
    if (!table) return rt::Variant::Null();
    auto rs = table->get_Recordset();
    if (!rs) return rt::Variant::Null();

    rs->put_Filter(rt::Variant("QTX_RIARGGROUPNO=" + std::to_string(group)));
    if (rs->get_BOF() && rs->get_EOF()) return rt::Variant::Null();

    rs->MoveLast();
    const int32_t n = rs->get_RecordCount();
    rt::Variant result = rt::Variant::MakeArray(rt::vbVariant, 1, n);
    auto* values = result.ArrayMut();
    rs->MoveFirst();
    for (int32_t i = 1; i <= n && !rs->get_EOF(); ++i) {
        values->Set(i, rs->GetValue(rt::Variant("QTX_VALUE")));
        rs->MoveNext();
    }
    return result;
}

rt::Variant CopyArgumentArray(const rt::Variant& Arguments) {
    if (Arguments.IsEmpty() || Arguments.IsNull()) return rt::Variant::UnallocatedArray(rt::vbVariant);
    if (!Arguments.IsArray()) rt::RaiseVbError(rt::vberr::TypeMismatch);
    const int32_t lower = rt::LBound(Arguments);  // 9 for an array never dimensioned
    if (lower < 1) return Arguments;
    const int32_t upper = rt::UBound(Arguments);
    const rt::SafeArray* source = Arguments.Array();
    if (source->Dims() != 1) rt::RaiseVbError(rt::vberr::SubscriptOutOfRange);
    // Bounds 0 to U - 1: for a lower bound above 1 the last elements stay Empty.
    rt::Variant result = rt::Variant::MakeArray(rt::vbVariant, 0, upper - 1);
    auto* target = result.ArrayMut();
    for (int32_t i = lower; i <= upper; ++i) target->Set(i - lower, source->Get(i));
    return result;
}

// ---- Abort subscription ----

class AbortSubscription::Listener : public IValidationInterfaceEvents {
public:
    explicit Listener(std::function<void()> onAbort) : onAbort_(std::move(onAbort)) {}
    void Abort() override {
        // The handler may drop the subscription (and this listener's last
        // owner); keep the function alive until it returns.
        auto handler = onAbort_;
        if (handler) handler();
    }

private:
    std::function<void()> onAbort_;
};

AbortSubscription::~AbortSubscription() { Drop(); }

void AbortSubscription::Subscribe(const rt::ObjectPtr& hosted, std::function<void()> onAbort) {
    auto source = rt::QueryInterface<IValidationInterfaceEventSource>(hosted);
    Drop();
    auto listener = std::make_shared<Listener>(std::move(onAbort));
    cookie_ = source->AdviseEvents(listener);
    source_ = std::move(source);
    listener_ = std::move(listener);
}

void AbortSubscription::Drop() {
    auto source = std::move(source_);
    auto listener = std::move(listener_);
    source_.reset();
    listener_.reset();
    if (source) {
        try {
            source->UnadviseEvents(cookie_);
        } catch (...) {
            // An object that cannot unadvise keeps only a dead weak reference.
        }
    }
    cookie_ = 0;
}

// ---- error reporting ----

void RaiseBridgeError(const rt::ComError& failure, bool unloaded, const std::string& source) {
    if (unloaded) RaiseError(kUserInterruptedError, source, rt::Variant(int32_t{kUserInterruptedMessage}));
    throw failure;
}

}  // namespace pelmora
