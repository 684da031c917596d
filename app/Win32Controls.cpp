// The Win32 face's making and unmaking: the window class, the form, its
// controls with their classes, styles and fonts, and the subclasses that
// give group boxes and the log their behaviour.
#include "app/Win32Toolkit.h"

#include <commctrl.h>
#include <richedit.h>

#include <algorithm>
#include <stdexcept>

namespace vyk::app {

namespace {

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
    CloseRecord();
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

namespace {

struct ControlClass {
    const char* name = "STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    DWORD exStyle = 0;
};

// The system class and styles of a control of the layout.
ControlClass ClassOf(const ControlSpec& c)
{
    ControlClass w;
    switch (c.kind) {
    case ControlKind::GroupFrame:
    case ControlKind::GroupBox:
        w.name = "BUTTON";
        w.style |= BS_GROUPBOX;
        break;
    case ControlKind::RadioButton:
        w.name = "BUTTON";
        w.style |= BS_AUTORADIOBUTTON;
        if (c.tabStop)   // the first of the pair opens the group
            w.style |= WS_GROUP;
        break;
    case ControlKind::Label:
        w.name = "STATIC";
        w.style |= SS_LEFT | SS_NOPREFIX | WS_GROUP;
        break;
    case ControlKind::Edit:
        w.name = "EDIT";
        w.style |= ES_LEFT | ES_AUTOHSCROLL | WS_GROUP;
        w.exStyle |= WS_EX_CLIENTEDGE;
        break;
    case ControlKind::Button:
        w.name = "BUTTON";
        w.style |= BS_PUSHBUTTON | WS_GROUP;
        break;
    case ControlKind::RichEdit:
        w.name = RICHEDIT_CLASSA;
        w.style |= WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | ES_DISABLENOSCROLL | ES_NOHIDESEL |
                   WS_GROUP;
        w.exStyle |= WS_EX_CLIENTEDGE;
        break;
    case ControlKind::StatusBar:
        w.name = STATUSCLASSNAMEA;
        // Keeps the layout's height; docked to the bottom edge on WM_SIZE.
        w.style |= CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER | WS_GROUP;
        break;
    }
    if (c.tabStop)
        w.style |= WS_TABSTOP;
    if (!c.enabled)
        w.style |= WS_DISABLED;
    return w;
}

// The log before its first line: its limit, its change events, its
// character set, its Tab and its text area.
void SetUpLog(HWND h, int charset)
{
    // Far past the 32,767 characters a rich edit takes by default: a long
    // log must never make a line, or the sequence adding it, fail.
    SendMessageA(h, EM_EXLIMITTEXT, 0, 0x7FFFFFF0);
    SendMessageA(h, EM_SETEVENTMASK, 0, ENM_CHANGE);
    CHARFORMAT2A cf{};
    cf.cbSize = sizeof cf;
    cf.dwMask = CFM_CHARSET | CFM_COLOR;
    cf.dwEffects = CFE_AUTOCOLOR;
    cf.bCharSet = UsableCharset(charset);
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
}

} // namespace

void Win32Toolkit::CreateControl(const ControlSpec& c)
{
    const ControlClass w = ClassOf(c);
    HWND parent = Control(c.parent);
    HWND h = CreateWindowExA(w.exStyle, w.name, "", w.style, c.left, c.top, c.width, c.height, parent,
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
        SetUpLog(h, c.font.charset);
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

} // namespace vyk::app
