#pragma once
// The framework's creatable services, as the desktop application's
// CreateService finds them by ProgID.
namespace product {

// Registers "Holvane.ComponentViewPipe" (calling it again is harmless).
void RegisterFrameworkClasses();

// Registers the geometry services the touch test creates directly: the
// in-memory recordset, the geometry storage service (by ProgID and class id),
// the buffer-zone pipe and the spatial filter (by class id, and
// "Holvane.SpatialFilter").
void RegisterFrameworkGeometryServices();

}  // namespace product
