// The dialog object and the plain message box, headless: the message goes to
// a recorder or to standard error and the default button answers at once.
#include <iostream>
#include <mutex>

#include "interfaces/Dialog.h"
#include "interfaces/Windows.h"
#include "product/StandIns.h"
#include "runtime/Vb.h"

namespace product {

namespace {

std::mutex gMutex;
std::shared_ptr<DialogRecorder> gRecorder;

thread_local win::HWND tFocus = 0;
// Headless boxes still take the focus while they are up, as a real box would.
constexpr win::HWND kBoxWindow = 0x0B0C;

int32_t Present(DialogRecord record) {
    std::shared_ptr<DialogRecorder> recorder;
    {
        std::lock_guard lock(gMutex);
        recorder = gRecorder;
    }
    record.answer = recorder && recorder->answer ? *recorder->answer : DefaultAnswer(record.buttons);
    if (recorder) {
        std::lock_guard lock(gMutex);
        recorder->records.push_back(record);
    } else {
        std::cerr << "[" << (record.title.empty() ? "message" : record.title) << "] ";
        if (!record.details.empty()) std::cerr << record.details << "\n";
        std::cerr << record.text << std::endl;
    }
    return record.answer;
}

std::string TitleText(const rt::Variant& title) {
    try {
        return title.IsEmpty() || title.IsNull() || title.IsMissing() ? std::string() : rt::CStr(title);
    } catch (...) {
        return "";
    }
}

class DialogStandIn : public rt::Object, public pelmora::IDialogObject {
public:
    void put_MessageText(const std::string& text) override { text_ = text; }
    void putref_Details(const std::shared_ptr<pelmora::IDialogDetails>& details) override { details_ = details; }

    int32_t Show(const rt::Variant& title, int32_t buttons) override {
        DialogRecord record{"dialog", TitleText(title), buttons, text_, details_ ? details_->get_DetailsText() : "", 0};
        tFocus = kBoxWindow;
        return Present(std::move(record));
    }

    std::string TypeName() const override { return "Dialog"; }

private:
    std::string text_;
    std::shared_ptr<pelmora::IDialogDetails> details_;
};

}  // namespace

void InstallDialogRecorder(std::shared_ptr<DialogRecorder> recorder) {
    std::lock_guard lock(gMutex);
    gRecorder = std::move(recorder);
}

int32_t DefaultAnswer(int32_t buttons) {
    using namespace pelmora::mb;
    int32_t choices[3] = {vbOK, 0, 0};
    switch (buttons & 0xF) {
        case vbOKCancel: choices[0] = vbOK; choices[1] = vbCancel; break;
        case vbAbortRetryIgnore: choices[0] = vbAbort; choices[1] = vbRetry; choices[2] = vbIgnore; break;
        case vbYesNoCancel: choices[0] = vbYes; choices[1] = vbNo; choices[2] = vbCancel; break;
        case vbYesNo: choices[0] = vbYes; choices[1] = vbNo; break;
        case vbRetryCancel: choices[0] = vbRetry; choices[1] = vbCancel; break;
        default: break;
    }
    int index = (buttons & vbDefaultButton3) ? 2 : (buttons & vbDefaultButton2) ? 1 : 0;
    return choices[index] != 0 ? choices[index] : choices[0];
}

void RegisterDialogStandIn() {
    rt::RegisterClass(pelmora::kDialogObjectProgId, "", [] { return std::make_shared<DialogStandIn>(); });
}

namespace {

win::HWND GetFocus() { return tFocus; }

win::HWND SetFocus(win::HWND window) {
    win::HWND previous = tFocus;
    tFocus = window;
    return previous;
}

int32_t MsgBox(const std::string& text, int32_t buttons, const std::string& title) {
    return Present(DialogRecord{"system", title, buttons, text, "", 0});
}

}  // namespace

win::Exports WindowExports() { return {&GetFocus, &SetFocus, &MsgBox}; }

}  // namespace product
