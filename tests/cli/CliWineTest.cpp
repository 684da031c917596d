// The Windows vykuu under Wine: the EC lock as only Windows shows it (the
// global mutex, the window's single-instance mutex, the simulator folder's
// lock taken by another process), and the window refusing to start while
// vykuu drives the EC.
//
//   vykuu_wine_test <vykuu.exe> <vyksim.dll> <work folder> [VYK_UU.exe]
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "sim/SimNotebook.h"

#include "tests/WineCheck.h"

namespace {

using vyk::winetest::Failures;
using vyk::winetest::Check;
using vyk::winetest::WindowsPath;

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

struct Run {
    DWORD code = 0xFFFFFFFF;
    std::string err;
};

// Starts vykuu with its output into a file.
PROCESS_INFORMATION Start(const std::string& commandLine, const std::string& errFile)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE err = CreateFileA(errFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = err;
    si.hStdError = err;
    PROCESS_INFORMATION pi{};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &si, &pi))
        std::printf("cannot start %s: error %lu\n", commandLine.c_str(), GetLastError());
    CloseHandle(err);
    return pi;
}

Run Finish(PROCESS_INFORMATION pi, const std::string& errFile)
{
    Run r;
    if (pi.hProcess) {
        WaitForSingleObject(pi.hProcess, 60000);
        GetExitCodeProcess(pi.hProcess, &r.code);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    r.err = ReadText(errFile);
    return r;
}

Run Vykuu(const std::string& exe, const std::string& args, const std::string& errFile)
{
    return Finish(Start("\"" + exe + "\" " + args, errFile), errFile);
}

bool Mentions(const Run& r, const char* text) { return r.err.find(text) != std::string::npos; }

struct BoxSearch {
    DWORD pid;
    HWND box;
};

BOOL CALLBACK FindBox(HWND hwnd, LPARAM param)
{
    auto* search = reinterpret_cast<BoxSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    char cls[64] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    if (pid == search->pid && std::string(cls) == "#32770") {
        search->box = hwnd;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK AppendText(HWND hwnd, LPARAM param)
{
    char text[512] = {};
    GetWindowTextA(hwnd, text, sizeof text);
    *reinterpret_cast<std::string*>(param) += text;
    return TRUE;
}

// Starts the window in a fresh folder while the EC is taken: it must say
// so in a box, and end with its own code once the box is confirmed,
// without having written its io.dll.
void WindowRefusesWhileTheEcIsTaken(const std::string& window, const std::string& work)
{
    const std::string folder = work + "\\window";
    CreateDirectoryA(folder.c_str(), nullptr);
    SetFileAttributesA((folder + "\\io.dll").c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA((folder + "\\io.dll").c_str());
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string line = "\"" + window + "\"";
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi)) {
        Check(false, "cannot start the window: error " + std::to_string(GetLastError()));
        return;
    }
    BoxSearch search{pi.dwProcessId, nullptr};
    for (int i = 0; i < 600 && !search.box && WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT; ++i) {
        Sleep(50);
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    }
    // The box's window comes before its text: read until the text is there.
    std::string text;
    for (int i = 0; i < 100 && search.box && text.find("Global\\VYK_UU-EC") == std::string::npos; ++i) {
        if (i)
            Sleep(50);
        text.clear();
        EnumChildWindows(search.box, AppendText, reinterpret_cast<LPARAM>(&text));
    }
    Check(text.find("vykuu") != std::string::npos && text.find("Global\\VYK_UU-EC") != std::string::npos,
          "the window says vykuu holds the EC: [" + text + "]");
    if (search.box)
        PostMessageA(search.box, WM_COMMAND, IDOK, 0);
    if (WaitForSingleObject(pi.hProcess, 30000) == WAIT_TIMEOUT)
        TerminateProcess(pi.hProcess, 99);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    Check(code == 2, "the window refused with exit 2 (got " + std::to_string(code) + ")");
    Check(!Exists(folder + "\\io.dll"), "the refused window wrote no io.dll");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: vykuu_wine_test <vykuu.exe> <vyksim.dll> <work folder>\n");
        return 2;
    }
    const std::string exe = WindowsPath(argv[1]);
    const std::string library = WindowsPath(argv[2]);
    const std::string work = WindowsPath(argv[3]);
    const std::string err = work + "\\stderr.txt";
    const std::string nb = work + "\\nb";
    CreateDirectoryA(work.c_str(), nullptr);
    CreateDirectoryA(nb.c_str(), nullptr);
    // A fresh, empty notebook folder for each run.
    for (const char* name : {"ecram.bin", "port1.bin", "port2.bin", "settings.txt", "vyksim-notebook.txt", "paused"})
        DeleteFileA((nb + "\\" + name).c_str());
    // The simulator's library stands in for the real ports.
    SetEnvironmentVariableA("VYKSIM_DIR", nb.c_str());
    const std::string realPorts = "--port-library \"" + library + "\" version";

    // The window runs (its single-instance mutex exists): refused, untouched.
    HANDLE window = CreateMutexA(nullptr, FALSE, "C:VYK_UU.exe");
    Run r = Vykuu(exe, realPorts, err);
    Check(r.code == 9, "with the window's mutex: exit 9 (got " + std::to_string(r.code) + ")");
    Check(Mentions(r, "C:VYK_UU.exe"), "the refusal names the window's mutex: " + r.err);
    Check(!Exists(nb + "\\ecram.bin"), "the port library was not even loaded");
    CloseHandle(window);

    // Another vykuu holds the EC.
    HANDLE global = CreateMutexW(nullptr, TRUE, L"Global\\VYK_UU-EC");
    r = Vykuu(exe, realPorts, err);
    Check(r.code == 9, "with the global EC mutex held: exit 9 (got " + std::to_string(r.code) + ")");
    ReleaseMutex(global);
    CloseHandle(global);

    r = Vykuu(exe, realPorts, err);
    Check(r.code == 0, "alone: exit 0 (got " + std::to_string(r.code) + ") " + r.err);

    // The simulator folder held by another process's notebook.
    {
        auto held = vyk::sim::SimNotebook::OpenFolder(nb);
        r = Vykuu(exe, "--sim \"" + nb + "\" version", err);
        Check(r.code == 9, "simulator folder in use: exit 9 (got " + std::to_string(r.code) + ")");
        Check(Mentions(r, "in use"), "the refusal says the folder is in use: " + r.err);
        held->GetSettings().pauseAfterBlocks = 1;
        held->SaveSettings();
    }

    // While vykuu drives the EC the window's mutex exists: the window would
    // not start beside it. The simulator holds the read at its second block.
    // The work folder outlives a run: its out.bin is replaced, as asked.
    PROCESS_INFORMATION pi = Start("\"" + exe + "\" --port-library \"" + library + "\" --timeout 30 read --port 1 "
                                   "--force --end 00C200 -o \"" + work + "\\out.bin\"", err);
    for (int i = 0; i < 600 && !Exists(nb + "\\paused"); ++i)
        Sleep(50);
    bool folderHeld = false;
    try {
        vyk::sim::SimNotebook::OpenFolder(nb);
    } catch (const vyk::sim::FolderInUse&) {
        folderHeld = true;
    }
    Check(folderHeld, "the simulator's port library holds its folder while in use");
    if (argc > 4)
        WindowRefusesWhileTheEcIsTaken(WindowsPath(argv[4]), work);
    DeleteFileA((nb + "\\paused").c_str());
    r = Finish(pi, err);
    Check(r.code == 0, "that read ends well (got " + std::to_string(r.code) + ") " + r.err);
    return Failures ? 1 : 0;
}
