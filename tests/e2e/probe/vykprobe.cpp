// vykprobe: reads and drives the running VYK_UU window from another process,
// for the end-to-end scripts. Every command prints plain text that a script
// can compare, and every wait is bounded. Exit codes: 0 done, 1 a wait ran
// out or a check failed, 2 the window (or a control) was not found,
// 3 bad usage.
//
// Messages above WM_USER (status bar, rich edit) are not marshalled between
// processes, so their buffers live inside the program (VirtualAllocEx).
#include <windows.h>
#include <commctrl.h>
#include <richedit.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/ControlIds.h"

namespace {

using namespace vyk::app;

struct NamedId {
    int id;
    const char* name;
};

const NamedId ControlNames[] = {
    {IdStatusBar1, "StatusBar1"}, {IdButton1, "Button1"},     {IdButton2, "Button2"},
    {IdButton3, "Button3"},       {IdButton4, "Button4"},     {IdEdit1, "Edit1"},
    {IdEdit2, "Edit2"},           {IdEdit3, "Edit3"},         {IdEdit4, "Edit4"},
    {IdRichEdit1, "RichEdit1"},   {IdGroupBox1, "GroupBox1"}, {IdGroupBox2, "GroupBox2"},
    {IdRadioGroup1, "RadioGroup1"}, {IdLabel1, "Label1"},     {IdLabel2, "Label2"},
    {IdLabel3, "Label3"},         {IdLabel4, "Label4"},       {IdLabel5, "Label5"},
    {IdRadioButton1, "RadioButton1"}, {IdRadioButton2, "RadioButton2"},
};

const char* NameOf(HWND h)
{
    int id = GetDlgCtrlID(h);
    for (const NamedId& n : ControlNames)
        if (n.id == id) return n.name;
    return "?";
}

const char* const MainCaption = "VYK EC CYPD(CCG5) FW UPDATE UTILITY V1.3";
const char* const AppTitle = "VYK_UU";
const UINT MessageTimeoutMs = 5000;

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

void Pause(int ms) { ::Sleep(static_cast<DWORD>(ms)); }

[[noreturn]] void Fail(int code, const std::string& text)
{
    std::fprintf(stderr, "vykprobe: %s\n", text.c_str());
    std::exit(code);
}

std::string ClassOf(HWND h)
{
    char buf[256] = {};
    GetClassNameA(h, buf, sizeof buf);
    return buf;
}

bool ClassIs(HWND h, const char* name) { return lstrcmpiA(ClassOf(h).c_str(), name) == 0; }

bool ClassHas(HWND h, const char* part)
{
    std::string c = ClassOf(h);
    std::string p = part;
    std::transform(c.begin(), c.end(), c.begin(), ::tolower);
    std::transform(p.begin(), p.end(), p.begin(), ::tolower);
    return c.find(p) != std::string::npos;
}

// Wine's SendMessageTimeout can return 0 for a message answered with 0:
// only ERROR_TIMEOUT means no answer.
bool SendTimed(HWND h, UINT msg, WPARAM wp, LPARAM lp, DWORD_PTR* result, UINT timeoutMs)
{
    *result = 0;
    SetLastError(0);
    if (SendMessageTimeoutA(h, msg, wp, lp, SMTO_NORMAL, timeoutMs, result)) return true;
    return GetLastError() != ERROR_TIMEOUT && GetLastError() != ERROR_INVALID_WINDOW_HANDLE;
}

// WM_GETTEXT is marshalled across processes; a timeout keeps a busy window
// from hanging the probe.
std::string TextOf(HWND h)
{
    DWORD_PTR len = 0;
    if (!SendTimed(h, WM_GETTEXTLENGTH, 0, 0, &len, MessageTimeoutMs)) return "<no answer>";
    std::vector<char> buf(len + 2, '\0');
    DWORD_PTR got = 0;
    if (!SendTimed(h, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()), &got, MessageTimeoutMs))
        return "<no answer>";
    return std::string(buf.data());
}

HWND FindMainWindow()
{
    HWND h = FindWindowA(nullptr, MainCaption);
    if (!h) h = FindWindowA("TForm1", nullptr);
    return h;
}

// The window exists before its create handler has run (port access, the
// status bar); it is shown only after that, so "found" means visible.
HWND WaitMainWindow(double seconds)
{
    auto t0 = Clock::now();
    for (;;) {
        HWND h = FindMainWindow();
        if (h && IsWindowVisible(h)) return h;
        if (MsSince(t0) > seconds * 1000) return nullptr;
        Pause(100);
    }
}

HWND MainWindow()
{
    HWND h = WaitMainWindow(10);
    if (!h) Fail(2, "no window titled \"" + std::string(MainCaption) + "\"");
    return h;
}

DWORD PidOf(HWND h)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    return pid;
}

BOOL CALLBACK CollectChild(HWND h, LPARAM lp)
{
    reinterpret_cast<std::vector<HWND>*>(lp)->push_back(h);
    return TRUE;
}

std::vector<HWND> Children(HWND parent)
{
    std::vector<HWND> out;
    EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&out));
    return out;
}

// A buffer inside the program's address space, for messages that carry
// pointers and are not marshalled.
class RemoteBuffer {
public:
    RemoteBuffer(HWND window, size_t size) : size_(size)
    {
        process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE |
                                   PROCESS_QUERY_INFORMATION,
                               FALSE, PidOf(window));
        if (!process_) Fail(2, "cannot open the program's process");
        address_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (!address_) Fail(2, "cannot allocate memory in the program's process");
    }
    ~RemoteBuffer()
    {
        VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
        CloseHandle(process_);
    }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    LPARAM Address() const { return reinterpret_cast<LPARAM>(address_); }
    void Write(const void* data, size_t n)
    {
        SIZE_T done = 0;
        WriteProcessMemory(process_, address_, data, std::min(n, size_), &done);
    }
    void Read(void* data, size_t n) const
    {
        SIZE_T done = 0;
        ReadProcessMemory(process_, address_, data, std::min(n, size_), &done);
    }

private:
    HANDLE process_ = nullptr;
    void* address_ = nullptr;
    size_t size_;
};

LRESULT Send(HWND h, UINT msg, WPARAM wp, LPARAM lp)
{
    DWORD_PTR r = 0;
    if (!SendTimed(h, msg, wp, lp, &r, MessageTimeoutMs))
        Fail(1, "the program did not answer a message within 5 s");
    return static_cast<LRESULT>(r);
}

HWND FindChild(HWND main, bool (*match)(HWND))
{
    for (HWND h : Children(main))
        if (match(h)) return h;
    return nullptr;
}

HWND ById(HWND main, int id)
{
    for (HWND h : Children(main))
        if (GetDlgCtrlID(h) == id) return h;
    return nullptr;
}

HWND StatusBar(HWND main)
{
    HWND h = FindChild(main, [](HWND c) { return ClassIs(c, STATUSCLASSNAMEA); });
    if (!h) h = ById(main, IdStatusBar1);
    if (!h) Fail(2, "no status bar");
    return h;
}

HWND RichEdit(HWND main)
{
    HWND h = FindChild(main, [](HWND c) { return ClassHas(c, "richedit"); });
    if (!h) h = ById(main, IdRichEdit1);
    if (!h) Fail(2, "no rich edit");
    return h;
}

// Position of a control in its parent's client area.
RECT LocalRect(HWND h)
{
    RECT r;
    GetWindowRect(h, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(h), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// Buttons by their exact caption (push buttons and radio buttons alike);
// group boxes are buttons too, but their captions differ.
HWND ButtonByText(HWND main, const std::string& text)
{
    for (HWND h : Children(main))
        if (ClassIs(h, "Button") && TextOf(h) == text) return h;
    Fail(2, "no button \"" + text + "\"");
}

// The address fields by their place in the layout: Edit1/Edit2 in the
// write box, Edit3/Edit4 in the read box.
HWND EditByNumber(HWND main, int n)
{
    static const POINT at[4] = {{16, 104}, {16, 152}, {264, 104}, {264, 152}};
    static const int ids[4] = {IdEdit1, IdEdit2, IdEdit3, IdEdit4};
    if (n < 1 || n > 4) Fail(3, "edit number must be 1..4");
    if (HWND h = ById(main, ids[n - 1])) return h;
    for (HWND h : Children(main)) {
        if (!ClassIs(h, "Edit") || GetParent(h) != main) continue;
        RECT r = LocalRect(h);
        if (r.left == at[n - 1].x && r.top == at[n - 1].y) return h;
    }
    Fail(2, "no edit field at the place of Edit" + std::to_string(n));
}

HWND VersionLabel(HWND main)
{
    if (HWND h = ById(main, IdLabel5)) return h;
    for (HWND h : Children(main)) {
        if (ClassIs(h, "Static") && TextOf(h).rfind("PORT", 0) == 0) return h;
    }
    Fail(2, "no version label");
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string cur;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(cur);
            cur.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) lines.push_back(cur);
    return lines;
}

std::vector<std::string> LogLines(HWND main) { return SplitLines(TextOf(RichEdit(main))); }

// Wine answers WM_GETFONT from another process with nothing, and a font
// handle means nothing outside its process anyway. So a tiny thread started
// inside the program asks the control for its font and describes it with
// GetObjectA into a buffer there. The two calls are found at the same
// offsets in the program's user32 and gdi32 as in ours; the code at those
// addresses is compared before it is run.
struct RemoteFontQuery {
    HWND control;
    void* sendMessage;
    void* getObject;
    HFONT font;
    int size;
    LOGFONTA logFont;
};

#if defined(_WIN64)
// The thread's argument arrives in rcx (x64 calling convention, 32 bytes of
// shadow space, the stack 16-aligned at each call):
// push rbx; sub rsp,32; mov rbx,rcx; mov rcx,[rbx]; mov edx,WM_GETFONT;
// xor r8d,r8d; xor r9d,r9d; call [rbx+8]; mov [rbx+24],rax;
// lea r8,[rbx+36]; mov edx,sizeof(LOGFONTA); mov rcx,rax; call [rbx+16];
// mov [rbx+32],eax; add rsp,32; pop rbx; ret
const unsigned char FontQueryCode[] = {
    0x53, 0x48, 0x83, 0xEC, 0x20, 0x48, 0x89, 0xCB, 0x48, 0x8B, 0x0B, 0xBA, 0x31, 0x00,
    0x00, 0x00, 0x45, 0x31, 0xC0, 0x45, 0x31, 0xC9, 0xFF, 0x53, 0x08, 0x48, 0x89, 0x43,
    0x18, 0x4C, 0x8D, 0x43, 0x24, 0xBA, 0x3C, 0x00, 0x00, 0x00, 0x48, 0x89, 0xC1, 0xFF,
    0x53, 0x10, 0x89, 0x43, 0x20, 0x48, 0x83, 0xC4, 0x20, 0x5B, 0xC3,
};
static_assert(offsetof(RemoteFontQuery, font) == 24 && offsetof(RemoteFontQuery, size) == 32);
static_assert(offsetof(RemoteFontQuery, logFont) == 36 && sizeof(LOGFONTA) == 60);
#else
// push ebx; push esi; mov esi,[esp+12]; push 0; push 0; push WM_GETFONT;
// push [esi]; call [esi+4]; mov [esi+12],eax; lea ecx,[esi+20]; push ecx;
// push sizeof(LOGFONTA); push eax; call [esi+8]; mov [esi+16],eax;
// pop esi; pop ebx; ret 4
const unsigned char FontQueryCode[] = {
    0x53, 0x56, 0x8B, 0x74, 0x24, 0x0C, 0x6A, 0x00, 0x6A, 0x00, 0x6A, 0x31, 0xFF, 0x36,
    0xFF, 0x56, 0x04, 0x89, 0x46, 0x0C, 0x8D, 0x4E, 0x14, 0x51, 0x6A, 0x3C, 0x50, 0xFF,
    0x56, 0x08, 0x89, 0x46, 0x10, 0x5E, 0x5B, 0xC2, 0x04, 0x00,
};
static_assert(sizeof(void*) == 4, "the font query code is 32-bit x86 or x86-64");
static_assert(offsetof(RemoteFontQuery, logFont) == 20 && sizeof(LOGFONTA) == 60);
#endif
// The data follows the code at offset 64.
static_assert(sizeof FontQueryCode <= 64);

bool SameCodeThere(HANDLE process, void* fn)
{
    unsigned char mine[16], theirs[16];
    SIZE_T got = 0;
    std::memcpy(mine, fn, sizeof mine);
    return ReadProcessMemory(process, fn, theirs, sizeof theirs, &got) && got == sizeof theirs &&
           std::memcmp(mine, theirs, sizeof mine) == 0;
}

bool RemoteFont(HWND h, LOGFONTA& out, HFONT& handle)
{
    HANDLE process = OpenProcess(PROCESS_CREATE_THREAD | PROCESS_VM_OPERATION | PROCESS_VM_READ |
                                     PROCESS_VM_WRITE | PROCESS_QUERY_INFORMATION,
                                 FALSE, PidOf(h));
    if (!process) return false;
    void* send = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "SendMessageA"));
    void* getObject = reinterpret_cast<void*>(GetProcAddress(LoadLibraryA("gdi32.dll"), "GetObjectA"));
    bool ok = false;
    if (send && getObject && SameCodeThere(process, send) && SameCodeThere(process, getObject)) {
        const size_t size = 64 + sizeof(RemoteFontQuery);
        auto* mem = static_cast<unsigned char*>(
            VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
        if (mem) {
            RemoteFontQuery q{};
            q.control = h;
            q.sendMessage = send;
            q.getObject = getObject;
            unsigned char* data = mem + 64;
            SIZE_T done = 0;
            WriteProcessMemory(process, mem, FontQueryCode, sizeof FontQueryCode, &done);
            WriteProcessMemory(process, data, &q, sizeof q, &done);
            FlushInstructionCache(process, mem, sizeof FontQueryCode);
            HANDLE t = CreateRemoteThread(process, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(mem),
                                          data, 0, nullptr);
            if (t) {
                // A window busy in a long handler answers late; the thread is
                // then left to finish on its own and its memory is kept.
                if (WaitForSingleObject(t, MessageTimeoutMs) == WAIT_OBJECT_0) {
                    ReadProcessMemory(process, data, &q, sizeof q, &done);
                    ok = q.font == nullptr || q.size == sizeof(LOGFONTA);
                    out = q.logFont;
                    handle = q.font;
                    VirtualFreeEx(process, mem, 0, MEM_RELEASE);
                }
                CloseHandle(t);
            }
        }
    }
    CloseHandle(process);
    return ok;
}

std::string FontOf(HWND h)
{
    LOGFONTA lf{};
    HFONT f = nullptr;
    if (!RemoteFont(h, lf, f)) return "font=?";
    if (!f) return "font=system";
    char buf[200];
    std::snprintf(buf, sizeof buf, "font=[%s] height=%ld weight=%ld charset=%d handle=%p", lf.lfFaceName,
                  lf.lfHeight, lf.lfWeight, lf.lfCharSet, (void*)f);
    return buf;
}

std::string RichEditFormat(HWND rich)
{
    RemoteBuffer rb(rich, sizeof(CHARFORMAT2A));
    CHARFORMAT2A cf{};
    cf.cbSize = sizeof cf;
    cf.dwMask = CFM_FACE | CFM_SIZE | CFM_BOLD | CFM_CHARSET | CFM_COLOR;
    rb.Write(&cf, sizeof cf);
    Send(rich, EM_GETCHARFORMAT, SCF_DEFAULT, rb.Address());
    rb.Read(&cf, sizeof cf);
    char buf[200];
    std::snprintf(buf, sizeof buf, "richfont=[%s] twips=%ld bold=%d charset=%d colour=%06lX autocolour=%d",
                  cf.szFaceName, cf.yHeight, (cf.dwEffects & CFE_BOLD) ? 1 : 0, cf.bCharSet,
                  static_cast<unsigned long>(cf.crTextColor), (cf.dwEffects & CFE_AUTOCOLOR) ? 1 : 0);
    return buf;
}

// --- commands ---------------------------------------------------------------

int CmdFind(int argc, char** argv)
{
    double secs = argc > 0 ? std::atof(argv[0]) : 10;
    HWND h = WaitMainWindow(secs);
    if (!h) Fail(1, "the window did not appear");
    std::printf("hwnd=%p pid=%lu\n", (void*)h, PidOf(h));
    return 0;
}

int CmdWaitGone(int argc, char** argv)
{
    double secs = argc > 0 ? std::atof(argv[0]) : 10;
    auto t0 = Clock::now();
    while (FindMainWindow()) {
        if (MsSince(t0) > secs * 1000) Fail(1, "the window is still there");
        Pause(100);
    }
    return 0;
}

int CmdDump(int, char**)
{
    HWND main = MainWindow();
    RECT wr, cr;
    GetWindowRect(main, &wr);
    GetClientRect(main, &cr);
    LONG style = GetWindowLongA(main, GWL_STYLE);
    std::printf("window caption=[%s] class=[%s] left=%ld top=%ld width=%ld height=%ld client=%ldx%ld "
                "style=%08lX thickframe=%d minbox=%d maxbox=%d sysmenu=%d enabled=%d %s\n",
                TextOf(main).c_str(), ClassOf(main).c_str(), wr.left, wr.top, wr.right - wr.left,
                wr.bottom - wr.top, cr.right, cr.bottom, static_cast<unsigned long>(style),
                (style & WS_THICKFRAME) ? 1 : 0, (style & WS_MINIMIZEBOX) ? 1 : 0,
                (style & WS_MAXIMIZEBOX) ? 1 : 0, (style & WS_SYSMENU) ? 1 : 0,
                IsWindowEnabled(main) ? 1 : 0, FontOf(main).c_str());
    // Stacking order among siblings, topmost first; the tab order of a
    // Win32 window follows it.
    std::map<HWND, int> z;
    int order = 0;
    for (HWND c = GetWindow(main, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) z[c] = order++;
    for (HWND h : Children(main)) {
        RECT r = LocalRect(h);
        HWND parent = GetParent(h);
        std::string parentName = parent == main ? "window" : NameOf(parent);
        std::string cls = ClassOf(h);
        LONG s = GetWindowLongA(h, GWL_STYLE);
        std::string text = ClassHas(h, "richedit") ? "(log)" : TextOf(h);
        std::string check = "-";
        if (ClassIs(h, "Button") && ((s & 0xF) == BS_RADIOBUTTON || (s & 0xF) == BS_AUTORADIOBUTTON))
            check = Send(h, BM_GETCHECK, 0, 0) == BST_CHECKED ? "1" : "0";
        std::printf("control name=%s class=[%s] id=%d parent=%s z=%d tabstop=%d x=%ld y=%ld w=%ld h=%ld "
                    "enabled=%d visible=%d checked=%s style=%08lX text=[%s] %s",
                    NameOf(h), cls.c_str(), GetDlgCtrlID(h), parentName.c_str(), z.count(h) ? z[h] : -1,
                    (s & WS_TABSTOP) ? 1 : 0, r.left, r.top, r.right - r.left,
                    r.bottom - r.top, IsWindowEnabled(h) ? 1 : 0, IsWindowVisible(h) ? 1 : 0,
                    check.c_str(), static_cast<unsigned long>(s), text.c_str(), FontOf(h).c_str());
        if (ClassHas(h, "richedit")) std::printf(" %s", RichEditFormat(h).c_str());
        std::printf("\n");
    }
    return 0;
}

int CmdPanels(int, char**)
{
    HWND main = MainWindow();
    HWND bar = StatusBar(main);
    RemoteBuffer rb(bar, 4096);
    int parts = static_cast<int>(Send(bar, SB_GETPARTS, 64, rb.Address()));
    std::vector<int> edges(64);
    rb.Read(edges.data(), edges.size() * sizeof(int));
    RECT br;
    GetClientRect(bar, &br);
    std::printf("parts=%d bar=%ld simple=%d\n", parts, br.right, Send(bar, SB_ISSIMPLE, 0, 0) ? 1 : 0);
    for (int i = 0; i < parts; ++i) {
        RECT r{};
        rb.Write(&r, sizeof r);
        Send(bar, SB_GETRECT, i, rb.Address());
        rb.Read(&r, sizeof r);
        char zero[300] = {};
        rb.Write(zero, sizeof zero);
        Send(bar, SB_GETTEXTA, i, rb.Address());
        char text[300] = {};
        rb.Read(text, sizeof text - 1);
        std::printf("panel %d edge=%d left=%ld right=%ld text=[%s]\n", i, edges[i], r.left, r.right, text);
    }
    return 0;
}

int CmdLog(int, char**)
{
    for (const std::string& line : LogLines(MainWindow())) std::printf("%s\n", line.c_str());
    return 0;
}

int CmdWaitLog(int argc, char** argv)
{
    if (argc < 1) Fail(3, "wait-log TEXT [SECONDS]");
    std::string want = argv[0];
    double secs = argc > 1 ? std::atof(argv[1]) : 30;
    HWND main = MainWindow();
    auto t0 = Clock::now();
    for (;;) {
        for (const std::string& line : LogLines(main)) {
            if (line.find(want) != std::string::npos) {
                std::printf("%s\n", line.c_str());
                return 0;
            }
        }
        if (MsSince(t0) > secs * 1000) Fail(1, "no log line with \"" + want + "\" within " + argv[1]);
        Pause(200);
    }
}

// Posted, not sent: "Load Bin File" opens a modal dialog inside its handler.
int CmdClick(int argc, char** argv)
{
    if (argc < 1) Fail(3, "click TEXT");
    HWND b = ButtonByText(MainWindow(), argv[0]);
    if (!IsWindowEnabled(b)) Fail(1, std::string("button \"") + argv[0] + "\" is disabled");
    PostMessageA(b, BM_CLICK, 0, 0);
    return 0;
}

int CmdEnabled(int argc, char** argv)
{
    if (argc < 1) Fail(3, "enabled TEXT");
    std::printf("%d\n", IsWindowEnabled(ButtonByText(MainWindow(), argv[0])) ? 1 : 0);
    return 0;
}

int CmdWaitEnabled(int argc, char** argv)
{
    if (argc < 1) Fail(3, "wait-enabled TEXT [SECONDS]");
    double secs = argc > 1 ? std::atof(argv[1]) : 30;
    HWND b = ButtonByText(MainWindow(), argv[0]);
    auto t0 = Clock::now();
    while (!IsWindowEnabled(b)) {
        if (MsSince(t0) > secs * 1000) Fail(1, std::string("button \"") + argv[0] + "\" stayed disabled");
        Pause(50);
    }
    return 0;
}

int CmdRadio(int argc, char** argv)
{
    if (argc < 1) Fail(3, "radio 1|2");
    HWND b = ButtonByText(MainWindow(), std::string("PORT ") + argv[0] + " PD");
    if (!IsWindowEnabled(b)) Fail(1, "the radio button is disabled");
    PostMessageA(b, BM_CLICK, 0, 0);
    auto t0 = Clock::now();
    while (Send(b, BM_GETCHECK, 0, 0) != BST_CHECKED) {
        if (MsSince(t0) > 5000) Fail(1, "the radio button did not become checked");
        Pause(50);
    }
    return 0;
}

int CmdSetEdit(int argc, char** argv)
{
    if (argc < 2) Fail(3, "set-edit N TEXT");
    HWND e = EditByNumber(MainWindow(), std::atoi(argv[0]));
    Send(e, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[1]));
    if (TextOf(e) != argv[1]) Fail(1, "the field did not take the text");
    return 0;
}

int CmdGetEdit(int argc, char** argv)
{
    if (argc < 1) Fail(3, "get-edit N");
    std::printf("%s\n", TextOf(EditByNumber(MainWindow(), std::atoi(argv[0]))).c_str());
    return 0;
}

struct DialogSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK MatchFileDialog(HWND h, LPARAM lp)
{
    auto* s = reinterpret_cast<DialogSearch*>(lp);
    if (PidOf(h) == s->pid && ClassIs(h, "#32770") && IsWindowVisible(h)) {
        s->found = h;
        return FALSE;
    }
    return TRUE;
}

HWND FindFileDialog(DWORD pid)
{
    DialogSearch s{pid, nullptr};
    EnumWindows(MatchFileDialog, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

// Answers the open or save dialog: the name goes into the file name field
// (1148, a combo box, in the Explorer style; 1152 in the old style), then OK.
int CmdAnswerDialog(int argc, char** argv)
{
    if (argc < 1) Fail(3, "open-file|save-file PATH [SECONDS]");
    double secs = argc > 1 ? std::atof(argv[1]) : 20;
    HWND main = MainWindow();
    DWORD pid = PidOf(main);
    auto t0 = Clock::now();
    HWND dlg = nullptr;
    while (!(dlg = FindFileDialog(pid))) {
        if (MsSince(t0) > secs * 1000) Fail(1, "no file dialog appeared");
        Pause(100);
    }
    Pause(300);  // let the dialog finish its own set-up before it is filled in
    HWND name = GetDlgItem(dlg, 1148);
    if (!name) name = GetDlgItem(dlg, 1152);
    if (!name) Fail(2, "the dialog has no file name field");
    Send(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[0]));
    std::printf("dialog=[%s]\n", TextOf(dlg).c_str());
    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDOK)));
    t0 = Clock::now();
    while (IsWindow(dlg) && IsWindowVisible(dlg)) {
        if (MsSince(t0) > secs * 1000) Fail(1, "the file dialog did not close");
        Pause(100);
    }
    return 0;
}

int CmdCancelDialog(int argc, char** argv)
{
    double secs = argc > 0 ? std::atof(argv[0]) : 20;
    DWORD pid = PidOf(MainWindow());
    auto t0 = Clock::now();
    HWND dlg = nullptr;
    while (!(dlg = FindFileDialog(pid))) {
        if (MsSince(t0) > secs * 1000) Fail(1, "no file dialog appeared");
        Pause(100);
    }
    Pause(300);
    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return 0;
}

// The label's text, and its ink: the commonest colour inside it that is
// neither the background nor a blend of it (read back from the screen).
int CmdLabel(int, char**)
{
    HWND main = MainWindow();
    HWND label = VersionLabel(main);
    std::printf("text=[%s]\n", TextOf(label).c_str());
    RECT r;
    GetWindowRect(label, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    std::map<unsigned, int> count;
    auto* px = static_cast<const unsigned*>(bits);
    for (int i = 0; i < w * h; ++i) count[px[i] & 0xFFFFFF]++;
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    unsigned background = 0, ink = 0;
    int best = -1;
    for (auto [c, n] : count)
        if (n > best) best = n, background = c;
    best = -1;
    for (auto [c, n] : count)
        if (c != background && n > best) best = n, ink = c;
    // DIB pixels are 0x00RRGGBB.
    std::printf("ink=%02X%02X%02X background=%02X%02X%02X\n", (ink >> 16) & 0xFF, (ink >> 8) & 0xFF,
                ink & 0xFF, (background >> 16) & 0xFF, (background >> 8) & 0xFF, background & 0xFF);
    return 0;
}

int CmdClose(int, char**)
{
    PostMessageA(MainWindow(), WM_CLOSE, 0, 0);
    return 0;
}

int CmdForeground(int, char**)
{
    HWND f = GetForegroundWindow();
    HWND main = FindMainWindow();
    std::printf("foreground=[%s] class=[%s] pid=%lu program-pid=%lu iconic=%d\n",
                f ? TextOf(f).c_str() : "", f ? ClassOf(f).c_str() : "", f ? PidOf(f) : 0,
                main ? PidOf(main) : 0, main ? (IsIconic(main) ? 1 : 0) : -1);
    return 0;
}

// Takes the foreground for a while with a window of its own, so that a test
// can see another process bring the program forward again.
int CmdHoldForeground(int argc, char** argv)
{
    double secs = argc > 0 ? std::atof(argv[0]) : 10;
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "VykProbeForeground";
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    RegisterClassA(&wc);
    HWND h = CreateWindowA("VykProbeForeground", "vykprobe foreground", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                           0, 300, 200, nullptr, nullptr, wc.hInstance, nullptr);
    // The program may still be activating itself: ask again until the
    // window has been in front once, then leave the foreground to others.
    bool had = false;
    auto t0 = Clock::now();
    while (MsSince(t0) < secs * 1000) {
        if (!had) {
            if (GetForegroundWindow() == h) {
                had = true;
                std::printf("holding\n");
            } else {
                SetForegroundWindow(h);
            }
        }
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
        Pause(20);
    }
    DestroyWindow(h);
    return 0;
}

int CmdAttr(int argc, char** argv)
{
    if (argc < 1) Fail(3, "attr PATH");
    DWORD a = GetFileAttributesA(argv[0]);
    if (a == INVALID_FILE_ATTRIBUTES) {
        std::printf("missing\n");
        return 1;
    }
    std::printf("hidden=%d directory=%d readonly=%d\n", (a & FILE_ATTRIBUTE_HIDDEN) ? 1 : 0,
                (a & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0, (a & FILE_ATTRIBUTE_READONLY) ? 1 : 0);
    return 0;
}

// Times one sequence from the click to the moment its buttons come back,
// and meanwhile measures the longest time the window leaves a message
// unanswered (the single tick of a flash write holds it).
int CmdTimeSequence(int argc, char** argv)
{
    if (argc < 1) Fail(3, "time-sequence BUTTON [SECONDS]");
    double secs = argc > 1 ? std::atof(argv[1]) : 120;
    HWND main = MainWindow();
    HWND button = ButtonByText(main, argv[0]);
    HWND watch = ButtonByText(main, "Read FW");
    if (!IsWindowEnabled(button)) Fail(1, std::string("button \"") + argv[0] + "\" is disabled");

    std::atomic<bool> stop{false};
    std::atomic<double> worst{0};
    std::thread pinger([&] {
        while (!stop) {
            auto t = Clock::now();
            DWORD_PTR r;
            SendTimed(main, WM_NULL, 0, 0, &r, 60000);
            double d = MsSince(t);
            if (d > worst) worst = d;
            Pause(2);
        }
    });
    auto t0 = Clock::now();
    PostMessageA(button, BM_CLICK, 0, 0);
    bool started = false;
    double startedAt = 0;
    for (;;) {
        bool on = IsWindowEnabled(watch);
        if (!started && !on) started = true, startedAt = MsSince(t0);
        if (started && on) break;
        if (MsSince(t0) > secs * 1000) {
            stop = true;
            pinger.join();
            Fail(1, "the sequence did not end in time");
        }
        Pause(1);
    }
    double total = MsSince(t0);
    stop = true;
    pinger.join();
    std::printf("elapsed_ms=%.1f disabled_after_ms=%.1f longest_unanswered_ms=%.1f\n", total, startedAt,
                worst.load());
    return 0;
}

// Sends the power-management broadcast with the given event code and prints
// the window's answer.
int CmdPower(int argc, char** argv)
{
    if (argc < 1) Fail(3, "power EVENT");
    LRESULT r = Send(MainWindow(), WM_POWERBROADCAST, std::strtoul(argv[0], nullptr, 0), 0);
    std::printf("%ld\n", static_cast<long>(r));
    return 0;
}

// Asks the window, as Windows does at logoff, whether the session may end;
// prints its answer (1 yes, 0 no). No WM_ENDSESSION follows.
int CmdQueryEndSession(int, char**)
{
    LRESULT r = Send(MainWindow(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
    std::printf("%d\n", r ? 1 : 0);
    return 0;
}

// Whether this platform has a font that draws the character set in the
// window's face (the program falls back to the default set where none does).
int CmdCharsetDrawable(int argc, char** argv)
{
    if (argc < 1) Fail(3, "charset-drawable N");
    LOGFONTA lf{};
    lf.lfHeight = -11;
    lf.lfCharSet = static_cast<BYTE>(std::atoi(argv[0]));
    lstrcpynA(lf.lfFaceName, "MS Sans Serif", LF_FACESIZE);
    HFONT f = CreateFontIndirectA(&lf);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, f);
    TEXTMETRICA tm{};
    GetTextMetricsA(dc, &tm);
    // Wine hands out a font that claims the set but has no glyphs for it.
    const char sample[] = "Load File : 0x00C000";
    WORD glyphs[sizeof sample] = {};
    bool drawable = tm.tmCharSet == lf.lfCharSet &&
                    GetGlyphIndicesA(dc, sample, sizeof sample - 1, glyphs, GGI_MARK_NONEXISTING_GLYPHS) != GDI_ERROR;
    for (size_t i = 0; drawable && i + 1 < sizeof sample; ++i) drawable = glyphs[i] != 0xFFFF;
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(f);
    std::printf("%d\n", drawable ? 1 : 0);
    return 0;
}

// Puts the focus on Button1, then presses Tab COUNT times, printing the
// name of the control that has the focus before each press and after the
// last: the real keyboard order, which the stacking order alone cannot show.
int CmdTabWalk(int argc, char** argv)
{
    const int count = argc > 0 ? std::atoi(argv[0]) : 12;
    HWND main = MainWindow();
    const DWORD thread = GetWindowThreadProcessId(main, nullptr);
    HWND first = GetDlgItem(main, 101);
    PostMessageA(main, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(first), TRUE);
    Sleep(300);
    for (int i = 0; i <= count; ++i) {
        GUITHREADINFO gi{};
        gi.cbSize = sizeof gi;
        GetGUIThreadInfo(thread, &gi);
        std::printf("%s\n", gi.hwndFocus ? NameOf(gi.hwndFocus) : "none");
        if (i == count || !gi.hwndFocus)
            break;
        PostMessageA(gi.hwndFocus, WM_KEYDOWN, VK_TAB, 0x000F0001);
        PostMessageA(gi.hwndFocus, WM_KEYUP, VK_TAB, 0xC00F0001);
        Sleep(300);
    }
    return 0;
}

void Usage()
{
    std::fprintf(stderr,
                 "usage: vykprobe COMMAND [ARGS]\n"
                 "  find [SECS]               wait for the window, print its handle and process id\n"
                 "  wait-gone [SECS]          wait until the window has gone\n"
                 "  dump                      window and every control: class, place, state, font\n"
                 "  panels                    status bar parts and texts\n"
                 "  log                       the log's lines\n"
                 "  wait-log TEXT [SECS]      wait for a log line containing TEXT\n"
                 "  click TEXT                press the button with that caption\n"
                 "  enabled TEXT              1 when the button is enabled\n"
                 "  wait-enabled TEXT [SECS]  wait until the button is enabled\n"
                 "  radio 1|2                 choose PORT 1 PD or PORT 2 PD\n"
                 "  set-edit N TEXT           type TEXT into Edit N (1..4)\n"
                 "  get-edit N                print Edit N's text\n"
                 "  open-file PATH [SECS]     answer the open dialog with PATH\n"
                 "  save-file PATH [SECS]     answer the save dialog with PATH\n"
                 "  cancel-dialog [SECS]      cancel the file dialog\n"
                 "  label                     the version label's text and ink colour\n"
                 "  close                     close the window\n"
                 "  foreground                which window is in the foreground\n"
                 "  hold-foreground [SECS]    keep a window of the probe's own in front\n"
                 "  attr PATH                 file attributes\n"
                 "  charset-drawable N        1 when a font here draws character set N\n"
                 "  power EVENT               send WM_POWERBROADCAST, print the answer\n"
                 "  query-end-session         send WM_QUERYENDSESSION, print the answer (1 or 0)\n"
                 "  tab-walk [COUNT]          focus Button1, press Tab COUNT times, print the focus\n"
                 "  time-sequence BUTTON [S]  time a sequence and the longest unanswered stretch\n");
}

} // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc < 2) {
        Usage();
        return 3;
    }
    std::string cmd = argv[1];
    int n = argc - 2;
    char** a = argv + 2;
    struct Entry {
        const char* name;
        int (*run)(int, char**);
    };
    static const Entry table[] = {
        {"find", CmdFind},           {"wait-gone", CmdWaitGone},
        {"dump", CmdDump},           {"panels", CmdPanels},
        {"log", CmdLog},             {"wait-log", CmdWaitLog},
        {"click", CmdClick},         {"enabled", CmdEnabled},
        {"wait-enabled", CmdWaitEnabled}, {"radio", CmdRadio},
        {"set-edit", CmdSetEdit},    {"get-edit", CmdGetEdit},
        {"open-file", CmdAnswerDialog}, {"save-file", CmdAnswerDialog},
        {"cancel-dialog", CmdCancelDialog}, {"label", CmdLabel},
        {"close", CmdClose},         {"foreground", CmdForeground},
        {"hold-foreground", CmdHoldForeground}, {"attr", CmdAttr},
        {"time-sequence", CmdTimeSequence}, {"charset-drawable", CmdCharsetDrawable},
        {"power", CmdPower},         {"tab-walk", CmdTabWalk},
        {"query-end-session", CmdQueryEndSession},
    };
    for (const Entry& e : table)
        if (cmd == e.name) return e.run(n, a);
    Usage();
    return 3;
}
