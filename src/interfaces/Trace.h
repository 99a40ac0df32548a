#pragma once
// The product's trace object: holds the trace mask and receives the traces of
// the system's members.
#include <cstdint>
#include <string>

#include "runtime/Variant.h"

namespace pelmora {

inline constexpr const char* kTraceObjectProgId = "QTX.Trace";

class ITraceObject {
public:
    virtual ~ITraceObject() = default;
    virtual void TraceEnter(const std::string& subsystem, const std::string& file, const std::string& procedure,
                            const std::string& extra) = 0;
    virtual void TraceExit(const std::string& subsystem, const std::string& file, const std::string& procedure,
                           const std::string& extra) = 0;
    virtual void TraceValue(const std::string& subsystem, const std::string& file, const std::string& procedure,
                            const std::string& label, const std::string& name, rt::Variant value,
                            const std::string& extra) = 0;
    virtual void TraceMessage(const std::string& subsystem, const std::string& file, const std::string& procedure,
                              const std::string& label, const std::string& text, const std::string& extra) = 0;
    virtual void TraceTexts(const std::string& subsystem, const std::string& file, const std::string& procedure,
                            const std::string& text1, const std::string& text2, const std::string& text3,
                            const std::string& extra) = 0;
    virtual int32_t GetTraceMask(int32_t flags) = 0;
};

}  // namespace pelmora
