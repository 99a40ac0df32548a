#pragma once
// The error, message and message-box conventions every class follows, and
// the per-apartment message and trace objects.
#include <cstdint>
#include <memory>
#include <string>

#include "interfaces/Messages.h"
#include "interfaces/Trace.h"
#include "runtime/Error.h"
#include "runtime/SqlName.h"
#include "runtime/Variant.h"

namespace pelmora {

// The base of the system's own error numbers.
inline constexpr int32_t kErrorBase = static_cast<int32_t>(0x80040000u);

// The VB project of the system's classes (ProgIDs "QzPelmora.<class>"): a
// run-time error raised in one of its class modules, where no other source is
// named, has the source "QzPelmora.<class>". Late-bound members get it
// through rt::DispatchTable::ClassModuleOf(kProjectName); other entry points
// through InClassModule.
inline constexpr const char* kProjectName = "QzPelmora";

template <class F>
decltype(auto) InClassModule(const std::string& className, F&& member) {
    return rt::WithErrorSource(std::forward<F>(member), [&] { return std::string(kProjectName) + "." + className; });
}

// Raises 91 when any of the objects is Nothing (or a presence test is false),
// as VB does at the first use of such a variable: a member calls it before it
// changes anything.
template <class... P>
void RequireObjects(const P&... objects) {
    if ((!objects || ...)) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
}
inline void RequireObject(bool present) { RequireObjects(present); }
// A collection's members, refused with 91 at the first Nothing among them: a
// member that works through them takes them here before it changes any.
template <class Members>
Members RequireEach(Members members) {
    for (const auto& member : members) RequireObjects(member);
    return members;
}

// The text that stands for a message that cannot be loaded.
inline constexpr const char* kResourceLoadFailedText = "An error occurred loading the specified string resource.";

// Raises kErrorBase + errNumber (kErrorBase itself for a number outside
// 0..65535). Each text is a literal String or a message id; a message id
// with its parameter is filled. The description is text1, or text1, CRLF,
// text2. Texts that cannot be resolved are left empty.
[[noreturn]] void RaiseError(int32_t errNumber, const std::string& source,
                             const rt::Variant& text1 = rt::Variant::Missing(),
                             const rt::Variant& param1 = rt::Variant::Missing(),
                             const rt::Variant& text2 = rt::Variant::Missing(),
                             const rt::Variant& param2 = rt::Variant::Missing());

// The template of a message id with up to five parameters filled in;
// kResourceLoadFailedText when the filled text is empty. Failures of the
// message object reach the caller.
std::string LoadResStringWithParams(int16_t resourceId, const std::string& p1 = "", const std::string& p2 = "",
                                    const std::string& p3 = "", const std::string& p4 = "",
                                    const std::string& p5 = "");
std::string LoadResStringWithParam(int16_t resourceId, const std::string& param);

// Shows a message box through the dialog object and returns the chosen
// button; never fails (0 when nothing could be shown).
int32_t ShowMessage(const rt::Variant& text1 = rt::Variant::Missing(),
                    const rt::Variant& param1 = rt::Variant::Missing(),
                    const rt::Variant& text2 = rt::Variant::Missing(),
                    const rt::Variant& param2 = rt::Variant::Missing(),
                    const rt::Variant& buttons = rt::Variant::Missing(),
                    const rt::Variant& title = rt::Variant::Missing(),
                    const rt::Variant& details = rt::Variant::Missing());

// Selects the resource module on the apartment's message object; a failure
// is reported in a plain message box and does not reach the caller.
void InitResources(const std::string& moduleName);

// True for an array that has been dimensioned.
bool IsArrayDimensioned(const rt::Variant& value);

// The elements of a String array joined by single blanks and trimmed; "" for
// anything else.
std::string JoinStringArray(const rt::Variant& value);

// The text as a quoted literal of a query or filter text (runtime/SqlName.h).
using rt::QuotedLiteral;

// A field name as it stands in a filter or sort text the system builds: in
// brackets, so that no name reads as criteria. A name holding "]" cannot be
// bracketed and raises ADO's invalid argument (3001).
std::string BracketedName(const std::string& name);

// The apartment's message object, created when missing (raises 429 when the
// product registered none).
std::shared_ptr<IMessageObject> MessageObject();
// The apartment's trace object, created when missing; nullptr when the
// product registered none, so that tracing never makes a member fail.
std::shared_ptr<ITraceObject> TraceObject();
// The same object, kept by the apartment, without a count taken on it.
ITraceObject* CurrentTraceObject();

}  // namespace pelmora
