#pragma once
// The framework's creatable services, as the desktop application's
// CreateService finds them by ProgID.
namespace product {

// Registers "Holvane.ComponentViewPipe" (calling it again is harmless).
void RegisterFrameworkClasses();

}  // namespace product
