#pragma once
// Progress and status text in the hosting desktop application. Every routine
// does nothing when the process runs outside the application, and never
// fails: a call the application refuses is ignored.
#include <cstdint>
#include <string>

namespace pelmora {

void BeginProgressBar();
// Callers pass 1 and the number of items.
void SetProgressBarRange(int32_t low, int32_t high);
// Callers pass 1, once per item.
void StepProgressBar(int32_t step);
void EndProgressBar();
// The text of a status-bar panel; "" when there is no application or the
// call fails.
std::string GetStatusBarText(int32_t Panel);
void SetStatusBarText(const std::string& Text, int32_t Panel);

}  // namespace pelmora
