#pragma once
// The trace convention of traced members: the mask is read once on entry and
// each trace call is made only when the mask holds every bit of its value.
//
//     TraceScope trace("MetadataService", "Let Configuration");
//     trace.Argument("Configuration", value);
//     ...
// The exit is traced when the scope ends normally, not when the member
// leaves through an exception (a handler that traces its exit calls Exit).
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/Error.h"
#include "runtime/Variant.h"

namespace pelmora {

inline constexpr const char* kTraceSubsystem = "Tessaly Components Subsystem";

namespace tracebits {
inline constexpr int32_t Error = 0x400001;
inline constexpr int32_t EnterExit = 0x400002;
inline constexpr int32_t ReturnValue = 0x400004;
inline constexpr int32_t Arguments = 0x400008;
inline constexpr int32_t Pathway = 0x400040;
inline constexpr int32_t Pathway2 = 0x400080;
inline constexpr int32_t Value = 0x400100;
inline constexpr int32_t Value2 = 0x400200;
}  // namespace tracebits

class TraceScope {
public:
    TraceScope(std::string_view file, std::string_view procedure);
    ~TraceScope();
    TraceScope(const TraceScope&) = delete;
    TraceScope& operator=(const TraceScope&) = delete;

    int32_t Mask() const { return mask_; }
    // True when the mask holds every bit of the value.
    bool On(int32_t bits) const { return (mask_ & bits) == bits; }

    void Argument(const std::string& name, const rt::Variant& value);      // 0x400008
    void Pathway(const std::string& text);                                  // 0x400040
    void Pathway2(const std::string& text);                                 // 0x400080
    void Value(const std::string& name, const rt::Variant& value);         // 0x400100
    void Value2(const std::string& name, const rt::Variant& value);        // 0x400200
    void Message2(const std::string& text);                                 // 0x400200
    void ReturnValue(const std::string& name, const rt::Variant& value);   // 0x400004
    void Error(const rt::ComError& error);                                  // 0x400001
    // Traces the exit now; the scope then traces nothing more on leaving.
    void Exit();

private:
    void TraceValue(int32_t bits, const char* label, const std::string& name, const rt::Variant& value);
    void TraceMessage(int32_t bits, const char* label, const std::string& text);

    // Kept only while the mask traces anything: most scopes trace nothing.
    std::string file_;
    std::string procedure_;
    int32_t mask_ = 0;
    int uncaught_ = 0;
    bool exited_ = false;
};

// A metadata row and the name in it that a check looks up: the table, the
// row's key ("QTX_ANO 106") and the column with its name.
struct MetadataName {
    std::string table, key, name;
};

// A check that ends because a metadata row names what does not exist goes
// on without its finding: traced under the error bit with the row, the name
// and the failure, so that the missing finding can be traced to its row.
void TraceMetadataFault(std::string_view file, std::string_view procedure, const MetadataName& named,
                        const rt::ComError& error);

// Runs a step that takes what a metadata row names; its failure is traced as
// above (named() gives the row, asked only then) and raised as it was.
template <class Named, class Step>
decltype(auto) TracingMetadataFault(std::string_view file, std::string_view procedure, Named&& named, Step&& step) {
    try {
        return step();
    } catch (const rt::ComError& error) {
        TraceMetadataFault(file, procedure, named(), error);
        throw;
    }
}

}  // namespace pelmora
