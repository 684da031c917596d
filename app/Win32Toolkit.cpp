#include "app/Win32Toolkit.h"

#include "app/ControlIds.h"

#include <commctrl.h>
#include <commdlg.h>
#include <mmsystem.h>
#include <richedit.h>

#include <algorithm>
#include <climits>
#include <stdexcept>
#include <vector>

namespace vyk::app {

namespace {

constexpr UINT_PTR NoTimer = 0;

COLORREF ResolveColour(uint32_t colour)
{
    return colour == WindowTextColour ? GetSysColor(COLOR_WINDOWTEXT) : static_cast<COLORREF>(colour);
}

} // namespace

HWND Win32Toolkit::Control(int id) const
{
    auto it = controls_.find(id);
    if (it == controls_.end())
        throw std::logic_error("no control with id " + std::to_string(id));
    return it->second;
}

template <class F> void Win32Toolkit::Guarded(F&& f)
{
    // C++ exceptions cannot travel through the system's frames: keep the
    // first one and end the loop, which rethrows it.
    try {
        f();
    } catch (...) {
        if (!pendingError_)
            pendingError_ = std::current_exception();
        PostQuitMessage(0);
    }
}

void Win32Toolkit::SetPanels(int statusBarId, const int* rightEdges, int count)
{
    std::vector<int> edges(rightEdges, rightEdges + count);
    SendMessageA(Control(statusBarId), SB_SIMPLE, FALSE, 0);
    SendMessageA(Control(statusBarId), SB_SETPARTS, count, reinterpret_cast<LPARAM>(edges.data()));
}

void Win32Toolkit::CreateTimer(int id, unsigned intervalMs, bool enabled)
{
    timerIntervals_[id] = intervalMs;
    if (enabled)
        SetTimer(form_, id, intervalMs, nullptr);
}

void Win32Toolkit::SetCaption(std::string_view text)
{
    SetWindowTextA(form_, std::string(text).c_str());
}

void Win32Toolkit::SetPlacement(int left, int top, int outerHeight)
{
    RECT r;
    GetWindowRect(form_, &r);
    SetWindowPos(form_, nullptr, left, top, r.right - r.left, outerHeight, SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Toolkit::SetEnabled(int id, bool enabled)
{
    EnableWindow(Control(id), enabled ? TRUE : FALSE);
}

bool Win32Toolkit::IsChecked(int id)
{
    return SendMessageA(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::string Win32Toolkit::GetText(int id)
{
    HWND h = Control(id);
    int n = GetWindowTextLengthA(h);
    std::string text(static_cast<size_t>(n) + 1, '\0');
    n = GetWindowTextA(h, text.data(), n + 1);
    text.resize(static_cast<size_t>(n < 0 ? 0 : n));
    return text;
}

void Win32Toolkit::SetText(int id, std::string_view text)
{
    HWND h = Control(id);
    SetWindowTextA(h, std::string(text).c_str());
    InvalidateRect(h, nullptr, TRUE);
}

void Win32Toolkit::SetFontColour(int id, uint32_t colour)
{
    colours_[id] = colour;
    InvalidateRect(Control(id), nullptr, TRUE);
}

void Win32Toolkit::SetTimerEnabled(int id, bool enabled)
{
    if (enabled) {
        auto it = timerIntervals_.find(id);
        SetTimer(form_, id, it == timerIntervals_.end() ? 1000 : it->second, nullptr);
    } else {
        KillTimer(form_, id);
    }
}

void Win32Toolkit::SetPanelText(int statusBarId, int panel, std::string_view text)
{
    SendMessageA(Control(statusBarId), SB_SETTEXTA, static_cast<WPARAM>(panel),
                 reinterpret_cast<LPARAM>(std::string(text).c_str()));
}

void Win32Toolkit::AppendLine(int id, std::string_view text)
{
    HWND h = Control(id);
    // Painted at once, every line would cost the control a synchronous
    // repaint (over 10 ms a line under Wine). Its drawing stays off for the
    // rest of this handler run and comes back, with one repaint, when the
    // message loop takes the posted request.
    if (!logRedrawDeferred_) {
        SendMessageA(h, WM_SETREDRAW, FALSE, 0);
        logRedrawDeferred_ = PostMessageA(form_, WmLogRedraw, static_cast<WPARAM>(id), 0) != FALSE;
    }
    // The new line goes after the last one, with the caret at its end: a
    // break first unless the log is empty, none after it. Text the user
    // typed at the end stays on its line; the new one is a line of its own.
    CHARRANGE end{LONG_MAX, LONG_MAX};   // clamped to the end of the text
    SendMessageA(h, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&end));
    CHARRANGE at{};
    SendMessageA(h, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&at));
    std::string line;
    line.reserve(text.size() + 2);
    if (at.cpMax > 0)
        line += "\r\n";
    line += text;
    programmaticChange_ = true;
    SendMessageA(h, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(line.c_str()));
    programmaticChange_ = false;
    if (events_)
        events_->OnChange(id);
    if (!logRedrawDeferred_)
        RestoreLogRedraw(id);   // could not post: repaint now rather than never
}

void Win32Toolkit::RestoreLogRedraw(int id)
{
    HWND h = Control(id);
    SendMessageA(h, WM_SETREDRAW, TRUE, 0);
    RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ERASE);
    logRedrawDeferred_ = false;
}

void Win32Toolkit::ClearLines(int id)
{
    HWND h = Control(id);
    programmaticChange_ = true;
    SetWindowTextA(h, "");
    programmaticChange_ = false;
    if (events_)
        events_->OnChange(id);
}

void Win32Toolkit::ScrollLog(int id, LogScroll request)
{
    HWND h = Control(id);
    if (request == LogScroll::LineDown)
        SendMessageA(h, WM_VSCROLL, SB_LINEDOWN, 0);
    else
        SendMessageA(h, EM_SCROLLCARET, 0, 0);
}

bool Win32Toolkit::RunFileDialog(const FileDialogSpec& layout, std::string& path)
{
    // "label|pattern|..." to the dialog's double-NUL list.
    std::string filter;
    if (!layout.filter.empty()) {
        filter = layout.filter;
        for (char& ch : filter)
            if (ch == '|')
                ch = '\0';
        filter.push_back('\0');
        filter.push_back('\0');
    }
    // Room for any path the dialog can return; a longer one is reported as
    // an error by the dialog rather than cut.
    std::vector<char> file(32768, '\0');
    lstrcpynA(file.data(), layout.fileName.c_str(), static_cast<int>(file.size()));

    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = form_;
    ofn.hInstance = instance_;
    ofn.lpstrFilter = filter.empty() ? nullptr : filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrDefExt = layout.defaultExt.empty() ? nullptr : layout.defaultExt.c_str();
    ofn.Flags = OFN_EXPLORER;
    if (layout.hideReadOnly)
        ofn.Flags |= OFN_HIDEREADONLY;
    if (layout.resizable)
        ofn.Flags |= OFN_ENABLESIZING;
    if (layout.mustExist)
        ofn.Flags |= OFN_FILEMUSTEXIST;
    if (layout.confirmOverwrite)
        ofn.Flags |= OFN_OVERWRITEPROMPT;

    BOOL ok = layout.save ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn);
    if (!ok)
        return false;
    path.assign(file.data());
    return true;
}

void Win32Toolkit::DisableGhosting()
{
    DisableProcessWindowsGhosting();
}

void Win32Toolkit::SetKeepAwake(bool on)
{
    SetThreadExecutionState(on ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED : ES_CONTINUOUS);
}

void Win32Toolkit::SetFineTimerResolution(bool on)
{
    // Begin and end must pair up, or the raised resolution outlives us.
    if (on == fineTimer_)
        return;
    fineTimer_ = on;
    if (on)
        timeBeginPeriod(1);
    else
        timeEndPeriod(1);
}

void Win32Toolkit::SetShutdownBlockReason(std::string_view reason)
{
    // Windows Vista and later; found at run time so the program still
    // starts where they do not exist.
    using Create = BOOL(WINAPI*)(HWND, LPCWSTR);
    using Destroy = BOOL(WINAPI*)(HWND);
    HMODULE user32 = GetModuleHandleA("user32.dll");
    if (!user32)
        return;
    if (reason.empty()) {
        if (auto destroy = reinterpret_cast<Destroy>(
                reinterpret_cast<void*>(GetProcAddress(user32, "ShutdownBlockReasonDestroy"))))
            destroy(form_);
        return;
    }
    auto create =
        reinterpret_cast<Create>(reinterpret_cast<void*>(GetProcAddress(user32, "ShutdownBlockReasonCreate")));
    if (!create)
        return;
    const std::string text(reason);
    std::wstring wide(text.size() + 1, L'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    wide.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
    create(form_, wide.c_str());
}

void Win32Toolkit::Show()
{
    ShowWindow(form_, SW_SHOWNORMAL);
    UpdateWindow(form_);
    auto it = controls_.find(IdButton1);   // first in the focus order
    if (it != controls_.end())
        SetFocus(it->second);
}

void Win32Toolkit::RunMessageLoop()
{
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (form_ && IsDialogMessageA(form_, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (pendingError_) {
        std::exception_ptr e = pendingError_;
        pendingError_ = nullptr;
        std::rethrow_exception(e);
    }
}

LRESULT CALLBACK Win32Toolkit::FormProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32Toolkit*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self || !self->form_)
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    return self->HandleMessage(msg, wParam, lParam);
}

bool Win32Toolkit::OnCommand(WPARAM wParam, LPARAM lParam)
{
    const int id = LOWORD(wParam);
    const int code = HIWORD(wParam);
    if (!events_ || lParam == 0)
        return false;
    auto it = controls_.find(id);
    if (it == controls_.end() || it->second != reinterpret_cast<HWND>(lParam))
        return false;
    char cls[32] = {};
    GetClassNameA(it->second, cls, sizeof cls);
    if (code == BN_CLICKED && lstrcmpiA(cls, "BUTTON") == 0) {
        LONG style = GetWindowLongA(it->second, GWL_STYLE) & BS_TYPEMASK;
        if (style == BS_PUSHBUTTON || style == BS_DEFPUSHBUTTON)
            Guarded([&] { events_->OnClick(id); });
    } else if (code == EN_CHANGE && !programmaticChange_) {
        // The user's typing; lines added by the program report their own change.
        Guarded([&] { events_->OnChange(id); });
    }
    return true;
}

void Win32Toolkit::DockStatusBars(int width, int height)
{
    for (int id : dockedBottom_) {
        HWND bar = Control(id);
        RECT r;
        GetWindowRect(bar, &r);
        const int barHeight = r.bottom - r.top;
        MoveWindow(bar, 0, height - barHeight, width, barHeight, TRUE);
    }
}

LRESULT Win32Toolkit::ColourStatic(HDC dc, HWND child)
{
    // Labels, radio buttons and frames on the window's own colour; the
    // version label in the colour the monitor gave it.
    int id = GetDlgCtrlID(child);
    auto it = colours_.find(id);
    bool coloured = it != colours_.end() && controls_.count(id) && controls_[id] == child;
    SetTextColor(dc, coloured ? ResolveColour(it->second) : GetSysColor(COLOR_WINDOWTEXT));
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

LRESULT Win32Toolkit::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_COMMAND:
        if (!OnCommand(wParam, lParam))
            break;
        return 0;
    case WM_SIZE:
        DockStatusBars(LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WmLogRedraw:
        RestoreLogRedraw(static_cast<int>(wParam));
        return 0;
    case WM_TIMER:
        if (events_)
            Guarded([&] { events_->OnTimer(static_cast<int>(wParam)); });
        return 0;
    case WM_CLOSE:
        if (events_)
            Guarded([&] { events_->OnClose(); });
        DestroyWindow(form_);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_QUERYENDSESSION: {
        bool mayEnd = true;
        if (events_)
            Guarded([&] { mayEnd = events_->OnQueryEndSession(); });
        return mayEnd ? TRUE : FALSE;
    }
    case WM_ENDSESSION:
        if (events_)
            Guarded([&] { events_->OnEndSession(wParam != FALSE); });
        return 0;
    case WM_POWERBROADCAST: {
        LRESULT result = 0;
        if (events_)
            Guarded([&] { result = events_->OnPowerBroadcast(wParam, lParam); });
        return result;
    }
    case WM_CTLCOLORSTATIC:
        return ColourStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    default:
        break;
    }
    return DefWindowProcA(form_, msg, wParam, lParam);
}

bool Win32Toolkit::OpenRecord(const std::string& path, uint64_t& size)
{
    CloseRecord();
    // %LOCALAPPDATA%\VYK_UU may not exist yet.
    const size_t slash = path.find_last_of("\\/");
    if (slash != std::string::npos)
        CreateDirectoryA(path.substr(0, slash).c_str(), nullptr);
    // Appending only, and others may read it while we write.
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER length{};
    if (!GetFileSizeEx(file, &length)) {
        CloseHandle(file);
        return false;
    }
    record_ = file;
    size = static_cast<uint64_t>(length.QuadPart);
    return true;
}

bool Win32Toolkit::AppendRecord(std::string_view text)
{
    if (record_ == INVALID_HANDLE_VALUE)
        return false;
    // WriteFile hands the bytes to the system: a crash of ours loses none.
    DWORD written = 0;
    return WriteFile(record_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

void Win32Toolkit::CloseRecord()
{
    if (record_ != INVALID_HANDLE_VALUE)
        CloseHandle(record_);
    record_ = INVALID_HANDLE_VALUE;
}

bool Win32Toolkit::ReplaceFile(const std::string& from, const std::string& to)
{
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

std::string Win32Toolkit::ProgramFolder()
{
    char path[MAX_PATH * 2];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path)
        return {};
    std::string folder(path, n);
    const size_t slash = folder.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : folder.substr(0, slash);
}

std::string Win32Toolkit::LocalAppDataFolder()
{
    char value[MAX_PATH * 2];
    const DWORD n = GetEnvironmentVariableA("LOCALAPPDATA", value, sizeof value);
    if (n == 0 || n >= sizeof value)
        return {};
    std::string folder(value, n);
    while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/'))
        folder.pop_back();
    return folder;
}

platform::Machine Win32Toolkit::ReadMachine()
{
    return platform::ReadFirmwareMachine();
}

} // namespace vyk::app
