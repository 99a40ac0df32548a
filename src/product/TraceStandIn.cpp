// The trace object: the mask from the environment, one line per trace call.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "interfaces/Trace.h"
#include "product/StandIns.h"
#include "runtime/Vb.h"

namespace product {

namespace {

int32_t MaskFromEnvironment() {
    const char* text = std::getenv("PELMORA_TRACE_MASK");
    if (!text || !*text) return 0;
    char* end = nullptr;
    unsigned long long value = std::strtoull(text, &end, 0);
    while (end && *end == ' ') ++end;
    if (!end || *end != '\0' || value > 0xFFFFFFFFull) return 0;  // not a mask: tracing stays off
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

std::string ValueText(const rt::Variant& value) {
    if (value.IsArray() || value.IsObject()) return rt::TypeName(value);
    try {
        if (value.IsNull()) return "Null";
        if (value.IsEmpty()) return "Empty";
        return rt::CStr(value);
    } catch (...) {
        return rt::TypeName(value);
    }
}

class TraceStandIn : public rt::Object, public pelmora::ITraceObject {
public:
    TraceStandIn() : mask_(MaskFromEnvironment()) {
        const char* file = std::getenv("PELMORA_TRACE_FILE");
        if (file && *file) file_.open(file, std::ios::app);
    }

    void TraceEnter(const std::string& subsystem, const std::string& file, const std::string& procedure,
                    const std::string& extra) override {
        Line(subsystem, file, procedure, "Enter", extra);
    }
    void TraceExit(const std::string& subsystem, const std::string& file, const std::string& procedure,
                   const std::string& extra) override {
        Line(subsystem, file, procedure, "Exit", extra);
    }
    void TraceValue(const std::string& subsystem, const std::string& file, const std::string& procedure,
                    const std::string& label, const std::string& name, rt::Variant value,
                    const std::string& extra) override {
        Line(subsystem, file, procedure, label + ": " + name + " = " + ValueText(value), extra);
    }
    void TraceMessage(const std::string& subsystem, const std::string& file, const std::string& procedure,
                      const std::string& label, const std::string& text, const std::string& extra) override {
        Line(subsystem, file, procedure, label + ": " + text, extra);
    }
    void TraceTexts(const std::string& subsystem, const std::string& file, const std::string& procedure,
                    const std::string& text1, const std::string& text2, const std::string& text3,
                    const std::string& extra) override {
        Line(subsystem, file, procedure, text1 + " | " + text2 + " | " + text3, extra);
    }
    int32_t GetTraceMask(int32_t /*flags*/) override { return mask_; }

    std::string TypeName() const override { return "Trace"; }

private:
    void Line(const std::string& subsystem, const std::string& file, const std::string& procedure,
              const std::string& what, const std::string& extra) {
        std::ostream& out = file_.is_open() ? static_cast<std::ostream&>(file_) : std::cerr;
        out << subsystem << " | " << file << " | " << procedure << " | " << what;
        if (!extra.empty()) out << " | " << extra;
        out << '\n';
        out.flush();
    }

    int32_t mask_;
    std::ofstream file_;
};

}  // namespace

void RegisterTraceStandIn() {
    rt::RegisterClass(pelmora::kTraceObjectProgId, "", [] { return std::make_shared<TraceStandIn>(); });
}

}  // namespace product
