#pragma once
// The creatable classes of the shared types.

namespace pelmora {

inline constexpr const char* kFastStringProgId = "QzPelmora.FastString";
inline constexpr const char* kRecordsetsProgId = "QzPelmora.Recordsets";

// Registers "QzPelmora.FastString" and "QzPelmora.Recordsets".
void RegisterCommonClasses();

}  // namespace pelmora
