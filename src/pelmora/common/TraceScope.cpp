#include "pelmora/common/TraceScope.h"

#include <exception>

#include "pelmora/common/modYvCommonUtilities.h"

namespace pelmora {

namespace {

// Tracing reports on the system; an error the trace object raises never
// makes a member fail.
template <class F>
void Quietly(F&& f) {
    try {
        if (auto trace = TraceObject()) f(*trace);
    } catch (const rt::ComError&) {
    }
}

// The trace object receives objects as a text, not as the object.
rt::Variant Traceable(const rt::Variant& value) {
    if (!value.IsObject()) return value;
    return rt::Variant(value.IsNothing() ? "Nothing!!!" : "Object");
}

}  // namespace

TraceScope::TraceScope(std::string_view file, std::string_view procedure) {
    // Most scopes trace nothing and every event opens several: the mask is
    // read through the kept trace object, without taking a count on it.
    try {
        if (auto* trace = CurrentTraceObject()) mask_ = trace->GetTraceMask(0);
    } catch (const rt::ComError&) {
    }
    if (mask_ == 0) return;
    uncaught_ = std::uncaught_exceptions();
    file_ = file;
    procedure_ = procedure;
    if (On(tracebits::EnterExit))
        Quietly([&](ITraceObject& t) { t.TraceEnter(kTraceSubsystem, file_, procedure_, ""); });
}

TraceScope::~TraceScope() {
    // Without a mask, leaving writes nothing.
    if (mask_ == 0) return;
    if (exited_ || std::uncaught_exceptions() != uncaught_) return;
    // A destructor must not throw: a fault other than a raised error in the
    // trace object's exit call ends here rather than in std::terminate, which
    // would take the host down with it.
    try {
        Exit();
    } catch (...) {
    }
}

void TraceScope::Exit() {
    if (exited_) return;
    exited_ = true;
    if (On(tracebits::EnterExit))
        Quietly([&](ITraceObject& t) { t.TraceExit(kTraceSubsystem, file_, procedure_, ""); });
}

void TraceScope::TraceValue(int32_t bits, const char* label, const std::string& name, const rt::Variant& value) {
    if (!On(bits)) return;
    Quietly([&](ITraceObject& t) { t.TraceValue(kTraceSubsystem, file_, procedure_, label, name, Traceable(value), ""); });
}

void TraceScope::TraceMessage(int32_t bits, const char* label, const std::string& text) {
    if (!On(bits)) return;
    Quietly([&](ITraceObject& t) { t.TraceMessage(kTraceSubsystem, file_, procedure_, label, text, ""); });
}

void TraceScope::Argument(const std::string& name, const rt::Variant& value) {
    TraceValue(tracebits::Arguments, "Arguments", name, value);
}
void TraceScope::Pathway(const std::string& text) { TraceMessage(tracebits::Pathway, "Logic pathway 1", text); }
void TraceScope::Pathway2(const std::string& text) { TraceMessage(tracebits::Pathway2, "Logic pathway 2", text); }
void TraceScope::Value(const std::string& name, const rt::Variant& value) {
    TraceValue(tracebits::Value, "Intermediate value 1", name, value);
}
void TraceScope::Value2(const std::string& name, const rt::Variant& value) {
    TraceValue(tracebits::Value2, "Intermediate value 2", name, value);
}
void TraceScope::Message2(const std::string& text) { TraceMessage(tracebits::Value2, "Logic pathway 2", text); }
void TraceScope::ReturnValue(const std::string& name, const rt::Variant& value) {
    TraceValue(tracebits::ReturnValue, "Return value", name, value);
}

void TraceScope::Error(const rt::ComError& error) {
    if (!On(tracebits::Error)) return;
    Quietly([&](ITraceObject& t) {
        t.TraceTexts(kTraceSubsystem, file_, procedure_, error.Description(), std::to_string(error.Number()),
                     error.Source(), "");
    });
}

void TraceMetadataFault(std::string_view file, std::string_view procedure, const MetadataName& named,
                        const rt::ComError& error) {
    Quietly([&](ITraceObject& t) {
        if ((t.GetTraceMask(0) & tracebits::Error) != tracebits::Error) return;
        t.TraceMessage(kTraceSubsystem, std::string(file), std::string(procedure), "Failed",
                       named.table + " " + named.key + ", " + named.name + ": " + error.Description(), "");
    });
}

}  // namespace pelmora
