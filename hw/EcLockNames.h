#pragma once

namespace vyk::hw {

// The names by which the programs that drive the EC keep out of each
// other's way on Windows. The window holds both for its whole run; vykuu
// holds the EC lock while it works and refuses while the window's
// single-instance mutex exists. The EC lock lives in the global namespace,
// so it also holds between sessions (a remote desktop, a service).
inline constexpr const wchar_t* EcLockMutexName = L"Global\\VYK_UU-EC";
inline constexpr const char* EcLockMutexText = "Global\\VYK_UU-EC";
inline constexpr const char* WindowMutexName = "C:VYK_UU.exe";

} // namespace vyk::hw
