#include "app/Application.h"

#include <exception>
#include <memory>
#include <optional>

#include "app/Unit1.h"
#include "app/Win32Toolkit.h"

namespace vyk::app {

namespace {

// A WM_QUIT waiting in the queue ends a modal loop as soon as it starts:
// take it out for the box and put it back afterwards.
void ShowWithNoQuitPending(const std::string& message, const std::function<void(const std::string&)>& showError)
{
    MSG msg;
    std::optional<WPARAM> quit;
    while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
        quit = msg.wParam;
    showError(message);
    if (quit)
        PostQuitMessage(static_cast<int>(*quit));
}

} // namespace

void RunMainWindow(HINSTANCE instance, HICON icon, PortLibraryPlatform& platform,
                   std::span<const uint8_t> portLibraryImage, const std::function<void(HWND)>& mainWindow,
                   const std::function<void(const std::string&)>& showError)
{
    std::unique_ptr<Win32Toolkit> toolkit;
    std::unique_ptr<TForm1> form;
    std::optional<std::string> error;
    try {
        toolkit = std::make_unique<Win32Toolkit>(instance, icon);
        form = std::make_unique<TForm1>(*toolkit, platform, portLibraryImage);
        Form1 = form.get();
        mainWindow(toolkit->Handle());
        toolkit->Show();
        toolkit->RunMessageLoop();
    } catch (const std::exception& e) {
        error = e.what();
    } catch (...) {
        error = std::string();
    }
    if (error && form && IsWindow(toolkit->Handle())) {
        // The loop ended on the error with the window still open: close it
        // as the user would, so the EC learns that the program has gone.
        try {
            form->Closing();
        } catch (...) {
        }
    }
    mainWindow(nullptr);
    Form1 = nullptr;
    form.reset();
    toolkit.reset();
    if (error)
        ShowWithNoQuitPending(*error, showError);
}

} // namespace vyk::app
