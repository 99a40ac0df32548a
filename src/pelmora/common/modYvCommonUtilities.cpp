#include "pelmora/common/modYvCommonUtilities.h"

#include "ado/Enums.h"
#include "interfaces/Dialog.h"
#include "interfaces/Varsk1.h"
#include "interfaces/Windows.h"
#include "runtime/Error.h"
#include "runtime/Object.h"
#include "runtime/Vb.h"

namespace pelmora {

namespace {

constexpr int32_t kTextBufferLength = 2048;
constexpr int32_t kDefaultButtons = 48;  // exclamation icon, OK button
constexpr const char* kCrLf = "\r\n";

struct CommonState {
    std::shared_ptr<IMessageObject> messages;
    std::shared_ptr<ITraceObject> trace;
    std::string textBuffer = std::string(kTextBufferLength, ' ');
    int32_t textLength = 0;
};

CommonState& State() { return rt::Apartment::Current().Get<CommonState>(); }

// Runs one step the way "On Error Resume Next" would: a failure leaves what
// the step was building untouched and the next step runs.
template <class F>
void Step(F&& f) {
    try {
        f();
    } catch (...) {
    }
}

// A literal text, a bare message template, or a message filled with its
// parameter by fill(id, parameterText).
template <class Fill>
std::string ResolveText(const rt::Variant& text, const rt::Variant& param, Fill&& fill) {
    std::string result;
    Step([&] {
        if (text.IsMissing()) return;
        if (text.IsString()) {
            result = text.Str();
        } else if (param.IsMissing()) {
            result = MessageObject()->GetMessageText(rt::CLng(text), 0);
        } else {
            result = fill(rt::CInt(text), rt::CStr(param));
        }
    });
    return result;
}

std::string JoinTexts(const std::string& first, const std::string& second) {
    return second.empty() ? first : first + kCrLf + second;
}

}  // namespace

std::shared_ptr<IMessageObject> MessageObject() {
    auto& state = State();
    if (!state.messages) state.messages = rt::QueryInterface<IMessageObject>(rt::CreateObject(kMessageObjectProgId));
    return state.messages;
}

std::shared_ptr<ITraceObject> TraceObject() {
    CurrentTraceObject();
    return State().trace;
}

ITraceObject* CurrentTraceObject() {
    auto& state = State();
    if (!state.trace) {
        if (!rt::IsClassRegistered(kTraceObjectProgId)) return nullptr;
        try {
            state.trace = rt::QueryInterface<ITraceObject>(rt::CreateObject(kTraceObjectProgId));
        } catch (const rt::ComError&) {
            return nullptr;
        }
    }
    return state.trace.get();
}

void RaiseError(int32_t errNumber, const std::string& source, const rt::Variant& text1, const rt::Variant& param1,
                const rt::Variant& text2, const rt::Variant& param2) {
    auto fill = [](int16_t id, const std::string& p) { return LoadResStringWithParam(id, p); };
    std::string first = ResolveText(text1, param1, fill);
    std::string second = ResolveText(text2, param2, fill);
    int32_t number = (errNumber >= 0 && errNumber <= 65535) ? kErrorBase + errNumber : kErrorBase;
    throw rt::ComError(number, source, JoinTexts(first, second));
}

std::string LoadResStringWithParams(int16_t resourceId, const std::string& p1, const std::string& p2,
                                    const std::string& p3, const std::string& p4, const std::string& p5) {
    std::string result = kResourceLoadFailedText;
    std::string templ = MessageObject()->GetMessageText(resourceId, 0);
    auto& state = State();
    state.textLength =
        varsk1::LoadResStringWith5Parameters(templ, state.textBuffer, kTextBufferLength, p1, p2, p3, p4, p5);
    if (state.textLength > 0) result = state.textBuffer.substr(0, static_cast<size_t>(state.textLength));
    return result;
}

std::string LoadResStringWithParam(int16_t resourceId, const std::string& param) {
    return LoadResStringWithParams(resourceId, param, "", "", "", "");
}

int32_t ShowMessage(const rt::Variant& text1, const rt::Variant& param1, const rt::Variant& text2,
                    const rt::Variant& param2, const rt::Variant& buttons, const rt::Variant& title,
                    const rt::Variant& details) {
    auto fill = [](int16_t id, const std::string& p) {
        std::string templ = MessageObject()->GetMessageText(id, 0);
        std::string buffer(kTextBufferLength, ' ');
        int32_t n = varsk1::LoadResStringWith5Parameters(templ, buffer, kTextBufferLength, p, "", "", "", "");
        return n > 0 ? buffer.substr(0, static_cast<size_t>(n)) : std::string(kResourceLoadFailedText);
    };
    std::string message = JoinTexts(ResolveText(text1, param1, fill), ResolveText(text2, param2, fill));

    rt::Variant boxTitle;
    Step([&] {
        if (title.IsMissing()) {
            auto app = varsk1::GetYvApplicationDispatch();
            boxTitle = rt::CallByName(app, "Name", rt::InvokeKind::PropertyGet);
        } else if (title.IsString()) {
            boxTitle = title;
        } else {
            boxTitle = rt::Variant(MessageObject()->GetMessageText(rt::CLng(title), 0));
        }
    });

    int32_t boxButtons = kDefaultButtons;
    if (buttons.Type() == rt::vbInteger) boxButtons = buttons.I2();
    if (buttons.Type() == rt::vbLong) boxButtons = buttons.I4();

    std::shared_ptr<IDialogDetails> detailsObject;
    std::string detailsText;
    Step([&] {
        if (details.IsMissing()) return;
        if (details.IsObject())
            detailsObject = rt::TryQueryInterface<IDialogDetails>(details.Obj());
        else
            detailsText = JoinStringArray(details);
    });
    std::string shown = rt::Trim(detailsText).empty() ? message : detailsText + kCrLf + message;

    int32_t answer = 0;
    std::shared_ptr<IDialogObject> dialog;
    win::HWND focus = 0;
    Step([&] { dialog = rt::QueryInterface<IDialogObject>(rt::CreateObject(kDialogObjectProgId)); });
    Step([&] {
        if (!dialog) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
        dialog->put_MessageText(shown);
    });
    Step([&] {
        if (!dialog) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
        if (detailsObject) dialog->putref_Details(detailsObject);
    });
    Step([&] { focus = win::GetFocus(); });
    Step([&] {
        if (!dialog) rt::RaiseVbError(rt::vberr::ObjectVariableNotSet);
        answer = dialog->Show(boxTitle, boxButtons);
    });
    Step([&] { win::SetFocus(focus); });
    return answer;
}

void InitResources(const std::string& moduleName) {
    std::string failure;
    try {
        MessageObject()->SelectResourceModule(moduleName, 0);
        return;
    } catch (const rt::ComError& e) {
        failure = e.Description();
    } catch (const std::exception& e) {
        failure = e.what();
    }
    Step([&] { win::MsgBox(failure, 0, ""); });
}

std::string BracketedName(const std::string& name) {
    if (name.find(']') != std::string::npos)
        throw rt::ComError(ado::err::InvalidArgument, "Filter",
                           "The field name \"" + name + "\" holds \"]\" and cannot stand in a filter or sort");
    return "[" + name + "]";
}

bool IsArrayDimensioned(const rt::Variant& value) {
    if (!value.IsArray()) return false;
    const rt::SafeArray* array = value.Array();
    return array != nullptr && array->Dims() >= 1;
}

std::string JoinStringArray(const rt::Variant& value) {
    if (value.IsEmpty() || value.IsNull() || !value.IsArray()) return "";
    if (rt::UCase(rt::Trim(rt::TypeName(value))) != "STRING()") return "";
    const rt::SafeArray* array = value.Array();
    if (!array) return "";
    std::vector<std::string> parts;
    parts.reserve(array->Count());
    for (const rt::Variant& element : array->Data()) parts.push_back(rt::CStr(element));
    return rt::Trim(rt::Join(parts, " "));
}

}  // namespace pelmora
