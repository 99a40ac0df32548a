#include "interfaces/Windows.h"

#include "interfaces/EntryPoint.h"

namespace win {

namespace {
pelmora::EntryPoint<decltype(&GetFocus)> gGetFocus("GetFocus");
pelmora::EntryPoint<decltype(&SetFocus)> gSetFocus("SetFocus");
pelmora::EntryPoint<decltype(&MsgBox)> gMsgBox("MsgBox");
}  // namespace

void BindExports(const Exports& exports) {
    gGetFocus.Bind(exports.getFocus);
    gSetFocus.Bind(exports.setFocus);
    gMsgBox.Bind(exports.msgBox);
}

HWND GetFocus() { return gGetFocus.Get()(); }

HWND SetFocus(HWND window) { return gSetFocus.Get()(window); }

int32_t MsgBox(const std::string& text, int32_t buttons, const std::string& title) {
    return gMsgBox.Get()(text, buttons, title);
}

}  // namespace win
