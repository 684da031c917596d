// The program entry: one copy at a time, the application window, the main
// window and its message loop.
#include <windows.h>

#include <string>

#include "app/Application.h"
#include "app/PortLibraryImage.h"
#include "platform/windows/PortLibrary.h"
#include "app/resource.h"
#include "hw/EcLockNames.h"
#include "platform/windows/EcLockMutex.h"

namespace {

constexpr const char* MutexName = vyk::hw::WindowMutexName;
constexpr const char* ApplicationTitle = "VYK_UU";
constexpr const char* ApplicationClass = "TApplication";
constexpr UINT WmBringMainForward = WM_APP + 1;

HWND mainWindow = nullptr;

// The application's own top-level window: never seen itself, it carries the
// title a second copy looks for, and passes being shown or activated on to
// the main window.
LRESULT CALLBACK ApplicationProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_SHOWWINDOW:
        if (wParam)
            PostMessageA(hwnd, WmBringMainForward, 0, 0);
        break;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE)
            PostMessageA(hwnd, WmBringMainForward, 0, 0);
        break;
    case WmBringMainForward:
        if (mainWindow && IsWindow(mainWindow)) {
            ShowWindow(mainWindow, IsIconic(mainWindow) ? SW_RESTORE : SW_SHOW);
            SetForegroundWindow(mainWindow);
        }
        return 0;
    default:
        break;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

HWND CreateApplicationWindow(HINSTANCE instance, HICON icon)
{
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = ApplicationProc;
    wc.hInstance = instance;
    wc.hIcon = icon;
    wc.hIconSm = icon;
    wc.lpszClassName = ApplicationClass;
    RegisterClassExA(&wc);
    // Zero-sized and without a taskbar button: shown or not, nothing of it
    // appears on screen.
    return CreateWindowExA(WS_EX_TOOLWINDOW, ApplicationClass, ApplicationTitle, WS_POPUP, 0, 0, 0, 0, nullptr,
                           nullptr, instance, nullptr);
}

void ShowErrorBox(const std::string& message)
{
    MessageBoxA(nullptr, message.c_str(), ApplicationTitle, MB_ICONERROR | MB_OK);
}

// The EC's lock, held until the process ends. False when another program
// (vykuu, in this session or another) holds it.
bool TakeEcLock()
{
    void* lock = nullptr;
    unsigned long error = 0;
    switch (vyk::platform::TakeEcLockMutex(lock, error)) {
    case vyk::platform::EcLockTake::Taken:
        return true;   // never released
    case vyk::platform::EcLockTake::InUse:
        return false;
    case vyk::platform::EcLockTake::NotMade:
        break;
    }
    // It exists but is not ours to open: another user's program has it.
    return error != ERROR_ACCESS_DENIED;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    if (HANDLE running = OpenMutexA(0x1F0001, FALSE, MutexName)) {
        (void)running;
        if (HWND other = FindWindowA(nullptr, ApplicationTitle)) {
            ShowWindow(other, SW_SHOWNORMAL);
            SetForegroundWindow(other);
        }
        return 1;
    }
    // Held, never closed, until the process ends.
    CreateMutexA(nullptr, FALSE, MutexName);

    // Two programs driving the Super I/O ports at once corrupt each other's
    // EC RAM address: while vykuu works, the window does not start.
    if (!TakeEcLock()) {
        MessageBoxA(nullptr,
                    (std::string("Another program (vykuu) is using the EC: it holds ") + vyk::hw::EcLockMutexText +
                     ".\nNothing was done. Start VYK_UU again when it has finished.")
                        .c_str(),
                    ApplicationTitle, MB_ICONERROR | MB_OK);
        return 2;
    }

    HICON icon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAINICON));
    CreateApplicationWindow(instance, icon);
    vyk::platform::Win32PortLibrary platform;
    vyk::app::RunMainWindow(
        instance, icon, platform, vyk::app::PortLibraryImage(), [](HWND window) { mainWindow = window; },
        ShowErrorBox);
    return 0;
}
