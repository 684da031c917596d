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

// RichEdit 2.0 from the system folder, never from the current one.
void LoadRichEdit()
{
    static bool loaded = false;
    if (loaded)
        return;
    char path[MAX_PATH];
    UINT n = GetSystemDirectoryA(path, MAX_PATH);
    if (n == 0 || n > MAX_PATH - 16)
        throw std::runtime_error("cannot find the system folder for riched20.dll");
    lstrcatA(path, "\\riched20.dll");
    if (!LoadLibraryA(path))
        throw std::runtime_error("cannot load riched20.dll");
    loaded = true;
}

// A group box paints only its frame and caption: fill its inside with the
// window's colour and give the labels inside it that colour too.
LRESULT CALLBACK GroupBoxProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    switch (msg) {
    case WM_ERASEBKGND: {
        RECT r;
        GetClientRect(hwnd, &r);
        FillRect(reinterpret_cast<HDC>(wParam), &r, GetSysColorBrush(COLOR_BTNFACE));
        return 1;
    }
    case WM_CTLCOLORSTATIC:
        SetTextColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    default:
        break;
    }
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

// The log takes no tabs: Tab moves the focus on to the next control, as in
// the rest of the window, instead of staying in the log for good.
LRESULT CALLBACK LogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    LRESULT result = DefSubclassProc(hwnd, msg, wParam, lParam);
    if (msg == WM_GETDLGCODE) {
        result &= ~DLGC_WANTTAB;
        const MSG* m = reinterpret_cast<const MSG*>(lParam);
        if (m && m->message == WM_KEYDOWN && m->wParam == VK_TAB)
            result &= ~DLGC_WANTMESSAGE;
    }
    return result;
}

// The character set when the log's font in that set draws the log's text,
// else the default set: where no installed font carries the set (Wine
// without Chinese fonts), the text would show as empty boxes.
BYTE UsableCharset(int charset)
{
    if (charset == DEFAULT_CHARSET)
        return DEFAULT_CHARSET;
    static std::map<int, BYTE> known;
    auto it = known.find(charset);
    if (it != known.end())
        return it->second;
    LOGFONTA lf{};
    lf.lfHeight = -11;
    lf.lfCharSet = static_cast<BYTE>(charset);
    lstrcpynA(lf.lfFaceName, "MS Sans Serif", LF_FACESIZE);
    HFONT font = CreateFontIndirectA(&lf);
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    const char sample[] = "Ax0>:";
    WORD glyphs[sizeof sample] = {};
    bool drawable = GetGlyphIndicesA(dc, sample, sizeof sample - 1, glyphs, GGI_MARK_NONEXISTING_GLYPHS) != GDI_ERROR;
    for (size_t i = 0; drawable && i + 1 < sizeof sample; ++i)
        drawable = glyphs[i] != 0xFFFF;
    char faceName[LF_FACESIZE] = {};
    GetTextFaceA(dc, LF_FACESIZE, faceName);
    TEXTMETRICA tm{};
    GetTextMetricsA(dc, &tm);
    drawable = drawable && tm.tmCharSet == charset;
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    DeleteObject(font);
    return known[charset] = static_cast<BYTE>(drawable ? charset : DEFAULT_CHARSET);
}

} // namespace

Win32Toolkit::Win32Toolkit(HINSTANCE instance, HICON icon) : instance_(instance), icon_(icon)
{
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    LoadRichEdit();

    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = FormProc;
    wc.hInstance = instance_;
    wc.hIcon = icon_;
    wc.hIconSm = icon_;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = FormClassName;
    RegisterClassExA(&wc);   // a second toolkit in the process finds it registered
}

Win32Toolkit::~Win32Toolkit()
{
    if (form_ && IsWindow(form_))
        DestroyWindow(form_);
    for (auto& [key, font] : fonts_)
        DeleteObject(font);
}

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

HFONT Win32Toolkit::FontFor(const FontSpec& layout)
{
    std::string key = std::string(layout.face) + "|" + std::to_string(layout.height) + "|" + (layout.bold ? "b" : "n") +
                      "|" + std::to_string(layout.charset);
    auto it = fonts_.find(key);
    if (it != fonts_.end())
        return it->second;
    LOGFONTA lf{};
    lf.lfHeight = -layout.height;
    lf.lfWeight = layout.bold ? FW_BOLD : FW_NORMAL;
    lf.lfCharSet = UsableCharset(layout.charset);
    lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
    lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    lf.lfQuality = DEFAULT_QUALITY;
    lf.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
    lstrcpynA(lf.lfFaceName, layout.face, LF_FACESIZE);
    HFONT font = CreateFontIndirectA(&lf);
    fonts_[key] = font;
    return font;
}

void Win32Toolkit::CreateForm(const FormSpec& layout)
{
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    const DWORD exStyle = WS_EX_CONTROLPARENT;
    RECT r{0, 0, layout.clientWidth, layout.clientHeight};
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
    form_ = CreateWindowExA(exStyle, FormClassName, layout.caption, style, layout.left, layout.top, r.right - r.left,
                            r.bottom - r.top, nullptr, nullptr, instance_, this);
    if (!form_)
        throw std::runtime_error("cannot create the main window");
    SendMessageA(form_, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(layout.font)), FALSE);
    controls_[0] = form_;
}

void Win32Toolkit::CreateControl(const ControlSpec& c)
{
    const char* cls = "STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    DWORD exStyle = 0;
    switch (c.kind) {
    case ControlKind::GroupFrame:
    case ControlKind::GroupBox:
        cls = "BUTTON";
        style |= BS_GROUPBOX;
        break;
    case ControlKind::RadioButton:
        cls = "BUTTON";
        style |= BS_AUTORADIOBUTTON;
        if (c.tabStop)   // the first of the pair opens the group
            style |= WS_GROUP;
        break;
    case ControlKind::Label:
        cls = "STATIC";
        style |= SS_LEFT | SS_NOPREFIX | WS_GROUP;
        break;
    case ControlKind::Edit:
        cls = "EDIT";
        style |= ES_LEFT | ES_AUTOHSCROLL | WS_GROUP;
        exStyle |= WS_EX_CLIENTEDGE;
        break;
    case ControlKind::Button:
        cls = "BUTTON";
        style |= BS_PUSHBUTTON | WS_GROUP;
        break;
    case ControlKind::RichEdit:
        cls = RICHEDIT_CLASSA;
        style |= WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | ES_DISABLENOSCROLL | ES_NOHIDESEL |
                 WS_GROUP;
        exStyle |= WS_EX_CLIENTEDGE;
        break;
    case ControlKind::StatusBar:
        cls = STATUSCLASSNAMEA;
        // Keeps the layout's height; docked to the bottom edge on WM_SIZE.
        style |= CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER | WS_GROUP;
        break;
    }
    if (c.tabStop)
        style |= WS_TABSTOP;
    if (!c.enabled)
        style |= WS_DISABLED;

    HWND parent = Control(c.parent);
    HWND h = CreateWindowExA(exStyle, cls, "", style, c.left, c.top, c.width, c.height, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance_, nullptr);
    if (!h)
        throw std::runtime_error(std::string("cannot create control ") + std::to_string(c.id));
    controls_[c.id] = h;
    if (c.kind == ControlKind::StatusBar)
        dockedBottom_.push_back(c.id);

    if (c.kind != ControlKind::StatusBar) {
        FontSpec font = c.font.own ? c.font : FontSpec{};
        SendMessageA(h, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(font)), FALSE);
    }
    if (c.font.own && c.font.colour != WindowTextColour)
        colours_[c.id] = c.font.colour;

    if (c.kind == ControlKind::RichEdit) {
        // Far past the 32,767 characters a rich edit takes by default: a long
        // log must never make a line, or the sequence adding it, fail.
        SendMessageA(h, EM_EXLIMITTEXT, 0, 0x7FFFFFF0);
        SendMessageA(h, EM_SETEVENTMASK, 0, ENM_CHANGE);
        CHARFORMAT2A cf{};
        cf.cbSize = sizeof cf;
        cf.dwMask = CFM_CHARSET | CFM_COLOR;
        cf.dwEffects = CFE_AUTOCOLOR;
        cf.bCharSet = UsableCharset(c.font.charset);
        SendMessageA(h, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&cf));
        SetWindowSubclass(h, LogProc, 2, 0);
        // The text ends inside the client area: Wine's rich edit reaches past
        // it by the frame, and a caret scrolled into view there leaves the
        // newest line cut at the bottom edge.
        RECT area{}, client{};
        SendMessageA(h, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&area));
        GetClientRect(h, &client);
        if (area.bottom > client.bottom || area.right > client.right) {
            area.bottom = std::min(area.bottom, client.bottom);
            area.right = std::min(area.right, client.right);
            SendMessageA(h, EM_SETRECT, 0, reinterpret_cast<LPARAM>(&area));
        }
        AppendLine(c.id, c.text);
    } else {
        SetWindowTextA(h, c.text);
    }
    if (c.kind == ControlKind::RadioButton && c.checked)
        SendMessageA(h, BM_SETCHECK, BST_CHECKED, 0);
    // Frames lie beneath the controls drawn inside them.
    if (c.kind == ControlKind::GroupBox || c.kind == ControlKind::GroupFrame) {
        SetWindowSubclass(h, GroupBoxProc, 1, 0);
        SetWindowPos(h, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
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

void Win32Toolkit::SetFontCharset(int id, int charset)
{
    HWND h = Control(id);
    CHARFORMAT2A cf{};
    cf.cbSize = sizeof cf;
    cf.dwMask = CFM_CHARSET;
    cf.bCharSet = UsableCharset(charset);
    SendMessageA(h, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&cf));
    SendMessageA(h, EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&cf));
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

LRESULT Win32Toolkit::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        const int code = HIWORD(wParam);
        if (!events_ || lParam == 0)
            break;
        auto it = controls_.find(id);
        if (it == controls_.end() || it->second != reinterpret_cast<HWND>(lParam))
            break;
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
        return 0;
    }
    case WM_SIZE: {
        const int width = LOWORD(lParam);
        const int height = HIWORD(lParam);
        for (int id : dockedBottom_) {
            HWND bar = Control(id);
            RECT r;
            GetWindowRect(bar, &r);
            const int barHeight = r.bottom - r.top;
            MoveWindow(bar, 0, height - barHeight, width, barHeight, TRUE);
        }
        return 0;
    }
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
    case WM_CTLCOLORSTATIC: {
        // Labels, radio buttons and frames on the window's own colour; the
        // version label in the colour the monitor gave it.
        HDC dc = reinterpret_cast<HDC>(wParam);
        HWND child = reinterpret_cast<HWND>(lParam);
        int id = GetDlgCtrlID(child);
        auto it = colours_.find(id);
        bool coloured = it != colours_.end() && controls_.count(id) && controls_[id] == child;
        SetTextColor(dc, coloured ? ResolveColour(it->second) : GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    default:
        break;
    }
    return DefWindowProcA(form_, msg, wParam, lParam);
}

} // namespace vyk::app
