#pragma once
// The few window-system calls the system makes. The product implements them
// and binds them at start, as for the sibling library (see Varsk1.h); a call
// while nothing is bound raises 453.
#include <cstdint>
#include <string>

namespace win {

using HWND = intptr_t;

// The window that has the keyboard focus (0 when none).
HWND GetFocus();
// Gives the focus to a window; returns the window that had it.
HWND SetFocus(HWND window);
// A plain system message box; returns the chosen button.
int32_t MsgBox(const std::string& text, int32_t buttons, const std::string& title);

// The window system's calls; a null entry stays unbound.
struct Exports {
    decltype(&GetFocus) getFocus = nullptr;
    decltype(&SetFocus) setFocus = nullptr;
    decltype(&MsgBox) msgBox = nullptr;
};
// Binds every entry of exports (replacing what was bound).
void BindExports(const Exports& exports);

}  // namespace win
