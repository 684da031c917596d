#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "hw/PortAccessInit.h"

namespace vyk::app {

// What the entry runs inside its exception guard: the toolkit, the main
// window in Form1, and the message loop until the window is gone.
// `mainWindow` learns the window's handle once it exists and nullptr before
// it goes. An exception that escapes is shown once through `showError`: after
// the window's close actions have run (when there was a window to close),
// with Form1 cleared and the window gone, and with no WM_QUIT pending, which
// would end the error box's own message loop before anyone saw it.
void RunMainWindow(HINSTANCE instance, HICON icon, PortLibraryPlatform& platform,
                   std::span<const uint8_t> portLibraryImage, const std::function<void(HWND)>& mainWindow,
                   const std::function<void(const std::string&)>& showError);

} // namespace vyk::app
