// Appends 50,000 lines to the shown window's log the way the sequences do
// (TForm1::AddLogLine: the line, then the autoscroll) and prints the cost
// per line at several log lengths, for lines added inside one handler run
// (as the flash write's block loop does) and for lines each followed by the
// repaint the message loop then does. For comparison, the plain way with the
// control's synchronous repaint.
#include <windows.h>
#include <richedit.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "app/ControlIds.h"
#include "app/Unit1.h"
#include "app/Win32Toolkit.h"

namespace {

using Clock = std::chrono::steady_clock;

// No port library: the window comes up with "DLL NG" and writes no file.
class NoPortLibrary final : public vyk::PortLibraryPlatform {
public:
    bool FileExists(const std::string&) override { return false; }
    std::optional<size_t> WriteNewFile(const std::string&, std::span<const uint8_t>) override { return std::nullopt; }
    void RemoveFile(const std::string&) override {}
    void SetHidden(const std::string&) override {}
    std::string FullPath(const std::string& name) override { return name; }
    Library LoadLibraryFullPath(const std::string&) override { return nullptr; }
    Entry LookUp(Library, const char*) override { return nullptr; }
    int32_t CallIsPortDriverOpen(Entry) override { return 0; }
    vyk::IoPort* BindIoPort(Entry, Entry) override { return nullptr; }
};

void Pump()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

std::string Line(int n)
{
    char text[64];
    std::snprintf(text, sizeof text, "FlashAddr = 0x%06X", (n * 256) & 0xFFFFFF);
    return text;
}

double MsPerLine(Clock::duration d, int lines)
{
    return std::chrono::duration<double, std::milli>(d).count() / lines;
}

} // namespace

int main()
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    vyk::app::Win32Toolkit toolkit(instance, LoadIconA(nullptr, MAKEINTRESOURCEA(32512)));
    NoPortLibrary platform;
    vyk::app::TForm1 form(toolkit, platform, {});
    toolkit.SetTimerEnabled(vyk::app::IdTimer2, false);
    toolkit.SetTimerEnabled(vyk::app::IdTimer3, false);
    toolkit.Show();
    Pump();
    HWND log = toolkit.Control(vyk::app::IdRichEdit1);

    constexpr int Total = 50000;
    constexpr int Sample = 200;
    const int checkpoints[] = {0, 1000, 5000, 10000, 25000, 49600};
    std::printf("%-10s %18s %18s\n", "log lines", "in one run ms/line", "with paint ms/line");

    int added = 0;
    for (int checkpoint : checkpoints) {
        // Fill up to the checkpoint without measuring.
        while (added < checkpoint) {
            form.AddLogLine(Line(added++));
            if (added % 500 == 0)
                Pump();
        }
        Pump();
        auto t0 = Clock::now();
        for (int i = 0; i < Sample / 2; ++i)
            form.AddLogLine(Line(added++));
        auto inRun = Clock::now() - t0;
        Pump();
        t0 = Clock::now();
        for (int i = 0; i < Sample / 2; ++i) {
            form.AddLogLine(Line(added++));
            Pump();
            UpdateWindow(log);
        }
        auto withPaint = Clock::now() - t0;
        std::printf("%-10d %18.3f %18.3f\n", checkpoint, MsPerLine(inRun, Sample / 2), MsPerLine(withPaint, Sample / 2));
        std::fflush(stdout);
    }
    while (added < Total)
        form.AddLogLine(Line(added++));
    Pump();
    const int lines = static_cast<int>(SendMessageA(log, EM_GETLINECOUNT, 0, 0));
    const int chars = GetWindowTextLengthA(log);
    std::printf("log holds %d lines, %d characters (added %d)\n", lines, chars, added);

    // The plain way, for comparison: every change painted at once.
    auto t0 = Clock::now();
    for (int i = 0; i < Sample / 2; ++i) {
        std::string text = "\r\n" + Line(i);
        SendMessageA(log, EM_SETSEL, static_cast<WPARAM>(-1), -1);
        SendMessageA(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
        SendMessageA(log, WM_VSCROLL, SB_LINEDOWN, 0);
        SendMessageA(log, EM_SCROLLCARET, 0, 0);
        UpdateWindow(log);
    }
    std::printf("plain append with synchronous repaint: %.3f ms/line\n", MsPerLine(Clock::now() - t0, Sample / 2));
    return lines >= Total ? 0 : 1;
}
