// The Windows side of deploying the port library, run under Wine: a
// directory is no file, the written file is whole and hidden, only a full
// path is ever loaded, a library planted on the search path is not, and
// entry points are called right whatever their convention.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/windows/PortLibrary.h"

namespace {

int failures = 0;

void Check(bool ok, const char* what)
{
    std::printf("%s: %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok)
        ++failures;
}

std::vector<uint8_t> ReadAll(const char* name)
{
    std::vector<uint8_t> bytes;
    if (FILE* f = std::fopen(name, "rb")) {
        int c;
        while ((c = std::fgetc(f)) != EOF)
            bytes.push_back(static_cast<uint8_t>(c));
        std::fclose(f);
    }
    return bytes;
}

// Port entries of both conventions. Each keeps where the stack was when it
// was called: a call that leaves the stack moved shows as a drift.
uint16_t seenPort, seenData;
uintptr_t seenStack;
void __cdecl CdeclOut(uint16_t port, uint16_t data)
{
    seenPort = port, seenData = data, seenStack = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
}
uint16_t __cdecl CdeclIn(uint16_t port)
{
    seenStack = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    return static_cast<uint16_t>(port ^ 0x5A);
}
void __stdcall StdcallOut(uint16_t port, uint16_t data)
{
    seenPort = port, seenData = data, seenStack = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
}
uint16_t __stdcall StdcallIn(uint16_t port)
{
    seenStack = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    return static_cast<uint16_t>(port ^ 0x5A);
}

} // namespace

int main()
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string dir = std::string(temp) + "vyk_portlib_test_" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(dir.c_str(), nullptr);
    SetCurrentDirectoryA(dir.c_str());

    vyk::platform::Win32PortLibrary platform;

    CreateDirectoryA("io.dll", nullptr);
    Check(!platform.FileExists("io.dll"), "a directory named io.dll is not the file");
    Check(!platform.WriteNewFile("io.dll", std::vector<uint8_t>{'M', 'Z'}), "writing over that directory fails");
    RemoveDirectoryA("io.dll");

    std::vector<uint8_t> image(100000);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 31);
    auto written = platform.WriteNewFile("io.dll", image);
    Check(written && *written == image.size(), "the whole image is written");
    Check(ReadAll("io.dll") == image, "the file holds exactly the image");
    platform.SetHidden("io.dll");
    const DWORD attributes = GetFileAttributesA("io.dll");
    if (attributes & FILE_ATTRIBUTE_HIDDEN)
        Check((attributes & ~FILE_ATTRIBUTE_ARCHIVE) == FILE_ATTRIBUTE_HIDDEN, "the file is hidden, nothing else");
    else
        std::printf("skip: this file system keeps no hidden attribute (attributes 0x%lx)\n", attributes);
    Check(platform.FileExists("io.dll"), "a hidden file counts as existing");

    const std::string full = platform.FullPath("io.dll");
    Check(full == dir + "\\io.dll", "the full path is in the current folder");
    Check(platform.LoadLibraryFullPath(full) == nullptr, "a file that is no library does not load");
    Check(platform.LoadLibraryFullPath("io.dll") == nullptr, "a bare name is never loaded");

    // A real library planted as io.dll on the search path, none here.
    platform.RemoveFile("io.dll");
    Check(GetFileAttributesA("io.dll") == INVALID_FILE_ATTRIBUTES, "the file can be removed");
    const std::string elsewhere = dir + "\\elsewhere";
    CreateDirectoryA(elsewhere.c_str(), nullptr);
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    CopyFileA((std::string(system) + "\\version.dll").c_str(), (elsewhere + "\\io.dll").c_str(), FALSE);
    SetDllDirectoryA(elsewhere.c_str());
    SetEnvironmentVariableA("PATH", elsewhere.c_str());
    Check(LoadLibraryA("io.dll") != nullptr, "(the planted library is on the search path)");
    Check(platform.LoadLibraryFullPath(platform.FullPath("io.dll")) == nullptr, "the planted library is not loaded");

    // Entry points are called whatever their convention.
    auto kernel = platform.LoadLibraryFullPath(std::string(system) + "\\kernel32.dll");
    Check(kernel != nullptr, "a library loads by its full path");
    auto entry = platform.LookUp(kernel, "GetCurrentProcessId");
    Check(entry && platform.CallIsPortDriverOpen(entry) == static_cast<int32_t>(GetCurrentProcessId()),
          "a no-argument entry point is called and its result kept");
    Check(platform.LookUp(kernel, "NoSuchEntryPoint") == nullptr, "a missing entry point is null");
    const struct {
        void* out;
        void* in;
        const char* what;
    } conventions[] = {
        {reinterpret_cast<void*>(&CdeclOut), reinterpret_cast<void*>(&CdeclIn), "__cdecl port entries: arguments, results and the stack kept"},
        {reinterpret_cast<void*>(&StdcallOut), reinterpret_cast<void*>(&StdcallIn), "__stdcall port entries: arguments, results and the stack kept"},
    };
    for (const auto& c : conventions) {
        vyk::IoPort& io = *platform.BindIoPort(c.out, c.in);
        bool right = true;
        uintptr_t outStack = 0, inStack = 0;
        for (uint16_t i = 0; i < 1000; ++i) {
            io.OutPortByte(0x4E, i);
            right = right && seenPort == 0x4E && seenData == i && (i == 0 || seenStack == outStack);
            outStack = seenStack;
            right = right && io.InPortByte(i) == (i ^ 0x5A) && (i == 0 || seenStack == inStack);
            inStack = seenStack;
        }
        Check(right, c.what);
    }

    SetCurrentDirectoryA(temp);
    return failures == 0 ? 0 : 1;
}
