#pragma once
// The few window-system calls the system makes; the product provides them.
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

}  // namespace win
