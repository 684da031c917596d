// The window on its Win32 face, run under Wine: the log's text as the rich
// edit holds it, held against the in-memory face; and an exception escaping a
// handler, seen through the error path of the program's entry.
//
//   app_win32_window_test log | error
#include <windows.h>
#include <richedit.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "FakePortPlatform.h"
#include "app/Application.h"
#include "app/ControlIds.h"
#include "app/MemoryToolkit.h"
#include "app/Unit1.h"
#include "app/Win32Toolkit.h"
#include "sim/SimNotebook.h"

#include "tests/WineCheck.h"

namespace {

using vyk::winetest::Failures;
using vyk::winetest::Check;

using namespace vyk::app;
using vyk::app::test::FakePortPlatform;

std::string Shown(const std::string& s)
{
    std::string out;
    for (char c : s)
        out += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
    return "[" + out + "]";
}

void Pump()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

std::string LogText(HWND log)
{
    const int n = GetWindowTextLengthA(log);
    std::string text(static_cast<size_t>(n) + 1, '\0');
    text.resize(static_cast<size_t>(GetWindowTextA(log, text.data(), n + 1)));
    return text;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    if (text.empty())
        return lines;
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines.push_back(line);
            line.clear();
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            line += text[i];
        }
    }
    lines.push_back(line);
    return lines;
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string s;
    for (const auto& l : lines)
        s += (s.empty() ? "" : "|") + l;
    return s;
}

// The user types into the log: characters at the caret, as the keyboard
// puts them there; Enter as its key.
void TypeInto(HWND log, const std::string& keys)
{
    for (char c : keys) {
        if (c == '\r') {
            PostMessageA(log, WM_KEYDOWN, VK_RETURN, 1);
            PostMessageA(log, WM_KEYUP, VK_RETURN, 0xC0000001);
            Pump();
        } else {
            SendMessageA(log, WM_CHAR, static_cast<WPARAM>(static_cast<unsigned char>(c)), 1);
        }
    }
    Pump();
}

// Lines added by the program and typed by the user, on both faces; the
// in-memory face must show what the rich edit holds.
int LogTest()
{
    FakePortPlatform platform;
    vyk::sim::SimNotebook notebook;
    platform.io = &notebook;
    const std::vector<uint8_t> image{'M', 'Z'};

    Win32Toolkit win(GetModuleHandleA(nullptr), nullptr);
    TForm1 real(win, platform, image);
    win.Show();
    Pump();
    MemoryToolkit mem;
    TForm1 memory(mem, platform, image);
    HWND log = win.Control(IdRichEdit1);

    auto both = [&](auto&& step) {
        step(real);
        step(memory);
    };
    auto same = [&](const std::string& what) {
        const std::string text = LogText(log);
        Check(Lines(text) == mem.LogLines(), what + ": the in-memory face shows the rich edit's lines " +
                                                 Shown(text) + " vs " + Shown(Joined(mem.LogLines())));
        return text;
    };

    Check(LogText(log).empty(), "the log starts empty");
    both([](TForm1& f) { f.AddLogLine("one"); });
    Check(same("one line") == "one", "a line added to the empty log is its text alone, no break after it");
    both([](TForm1& f) { f.AddLogLine(" "); });
    both([](TForm1& f) { f.AddLogLine("two"); });
    Check(same("three lines") == "one\r\n \r\ntwo", "each new line goes after the last one, the log ends with it");

    TypeInto(log, "typed");
    mem.Type(IdRichEdit1, "typed");
    Check(same("typed at the caret") == "one\r\n \r\ntwotyped", "typing goes on at the end of the newest line");
    both([](TForm1& f) { f.AddLogLine("three"); });
    Check(same("after typing") == "one\r\n \r\ntwotyped\r\nthree", "a line added after typing is a line of its own");

    TypeInto(log, "\r");
    mem.Type(IdRichEdit1, "\r");
    Check(same("Enter typed") == "one\r\n \r\ntwotyped\r\nthree\r\n", "Enter typed at the end starts an empty line");
    both([](TForm1& f) { f.AddLogLine("four"); });
    Check(same("after Enter") == "one\r\n \r\ntwotyped\r\nthree\r\n\r\nfour", "the next line still comes after it");

    // A long log: the newest line is wholly inside the visible part.
    for (int i = 0; i < 60; ++i)
        real.AddLogLine("line " + std::to_string(i));
    Pump();
    RECT client;
    GetClientRect(log, &client);
    const LRESULT lastLine = SendMessageA(log, EM_GETLINECOUNT, 0, 0) - 1;
    const LRESULT lastStart = SendMessageA(log, EM_LINEINDEX, lastLine, 0);
    const LRESULT prevStart = SendMessageA(log, EM_LINEINDEX, lastLine - 1, 0);
    POINTL last{}, prev{};
    SendMessageA(log, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&last), lastStart);
    SendMessageA(log, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&prev), prevStart);
    const LONG height = last.y - prev.y;
    Check(height > 0 && last.y >= 0 && last.y + height <= client.bottom,
          "the newest line is wholly visible: top " + std::to_string(last.y) + ", height " + std::to_string(height) +
              ", client height " + std::to_string(client.bottom));
    Check(SendMessageA(log, EM_GETFIRSTVISIBLELINE, 0, 0) > 0, "the log has scrolled");
    Check((GetWindowLongA(log, GWL_STYLE) & WS_HSCROLL) == 0, "scrolling shows no horizontal bar");
    CHARRANGE caret{};
    SendMessageA(log, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&caret));
    const LRESULT end = lastStart + SendMessageA(log, EM_LINELENGTH, lastStart, 0);
    Check(caret.cpMin == end && caret.cpMax == end, "the caret sits at the end of the newest line");
    return Failures ? 1 : 0;
}

// Reads pass through until armed; the armed read throws once.
class ThrowingPorts final : public vyk::IoPort {
public:
    explicit ThrowingPorts(vyk::sim::SimNotebook& sim) : sim_(sim) {}
    void OutPortByte(uint16_t port, uint16_t data) override { sim_.OutPortByte(port, data); }
    uint16_t InPortByte(uint16_t port) override
    {
        if (armed) {
            armed = false;
            throw std::runtime_error("port read failed");
        }
        return sim_.InPortByte(port);
    }
    bool armed = true;

private:
    vyk::sim::SimNotebook& sim_;
};

// The monitor's first version read throws inside a timer handler: the loop
// ends, the close actions run, and the error is shown with no WM_QUIT pending
// (one would close the box at once), Form1 cleared and the window gone.
int ErrorTest()
{
    FakePortPlatform platform;
    vyk::sim::SimNotebook notebook;
    ThrowingPorts ports(notebook);
    platform.io = &ports;
    const std::vector<uint8_t> image{'M', 'Z'};

    HWND window = nullptr;
    int shown = 0;
    std::string message;
    bool quitPending = true, formCleared = false, windowGone = false;
    int hostActive = -1;
    RunMainWindow(
        GetModuleHandleA(nullptr), nullptr, platform, image,
        [&](HWND w) {
            if (w)
                window = w;
        },
        [&](const std::string& m) {
            ++shown;
            message = m;
            MSG msg;
            quitPending = PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != FALSE;
            formCleared = Form1 == nullptr;
            windowGone = window && !IsWindow(window);
            hostActive = notebook.EcRamByte(0xD212);
        });
    Check(shown == 1, "the error is shown once");
    Check(message == "port read failed", "with the exception's message: " + message);
    Check(!quitPending, "no WM_QUIT is pending while the box is up");
    Check(formCleared, "Form1 is cleared");
    Check(windowGone, "the window is gone");
    Check(hostActive == 0, "the close actions ran: HostActive is 0 (" + std::to_string(hostActive) + ")");
    MSG msg;
    Check(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE, "the WM_QUIT is back afterwards");
    return Failures ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "log")
        return LogTest();
    if (mode == "error")
        return ErrorTest();
    std::fprintf(stderr, "usage: app_win32_window_test log|error\n");
    return 2;
}
