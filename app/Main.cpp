// The program entry: one copy at a time, the application window, the main
// window and its message loop.
#include <windows.h>

#include <string>

#include "app/Application.h"
#include "app/PortLibraryImage.h"
#include "app/Win32PortLibrary.h"
#include "app/resource.h"

namespace {

constexpr const char* MutexName = "C:VYK_UU.exe";
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

    HICON icon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAINICON));
    CreateApplicationWindow(instance, icon);
    vyk::app::Win32PortLibrary platform;
    vyk::app::RunMainWindow(
        instance, icon, platform, vyk::app::PortLibraryImage(), [](HWND window) { mainWindow = window; },
        ShowErrorBox);
    return 0;
}
