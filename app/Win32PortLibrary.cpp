#include "app/Win32PortLibrary.h"

#include <windows.h>

#include <cstdio>

namespace vyk::app {

namespace {

#if defined(__i386__)
// Calls a library entry with up to two 32-bit arguments and restores the
// stack pointer itself afterwards, so the call is right whether the library
// was built with __stdcall or __cdecl exports.
extern "C" uint32_t vyk_call_entry(void* fn, uint32_t a, uint32_t b, uint32_t argc);
__asm__(".text\n"
        ".globl _vyk_call_entry\n"
        "_vyk_call_entry:\n"
        "  pushl %ebp\n"
        "  movl %esp, %ebp\n"
        "  movl 20(%ebp), %ecx\n"
        "  cmpl $2, %ecx\n"
        "  jb 1f\n"
        "  pushl 16(%ebp)\n"
        "1:\n"
        "  cmpl $1, %ecx\n"
        "  jb 2f\n"
        "  pushl 12(%ebp)\n"
        "2:\n"
        "  call *8(%ebp)\n"
        "  movl %ebp, %esp\n"
        "  popl %ebp\n"
        "  ret\n");

uint32_t Call0(void* fn) { return vyk_call_entry(fn, 0, 0, 0); }
uint32_t Call1(void* fn, uint32_t a) { return vyk_call_entry(fn, a, 0, 1); }
uint32_t Call2(void* fn, uint32_t a, uint32_t b) { return vyk_call_entry(fn, a, b, 2); }
#else
// One calling convention on x86-64.
uint32_t Call0(void* fn) { return reinterpret_cast<int32_t (*)()>(fn)(); }
uint32_t Call1(void* fn, uint32_t a) { return reinterpret_cast<uint16_t (*)(uint16_t)>(fn)(static_cast<uint16_t>(a)); }
uint32_t Call2(void* fn, uint32_t a, uint32_t b)
{
    reinterpret_cast<void (*)(uint16_t, uint16_t)>(fn)(static_cast<uint16_t>(a), static_cast<uint16_t>(b));
    return 0;
}
#endif

class LibraryPortIo final : public PortIo {
public:
    LibraryPortIo(void* out, void* in) : out_(out), in_(in) {}
    void OutPortByte(uint16_t port, uint16_t data) override { Call2(out_, port, data); }
    uint16_t InPortByte(uint16_t port) override { return static_cast<uint16_t>(Call1(in_, port) & 0xFFFF); }

private:
    void* out_;
    void* in_;
};

} // namespace

Win32PortLibrary::Win32PortLibrary() = default;
Win32PortLibrary::~Win32PortLibrary() = default;

bool Win32PortLibrary::FileExists(const std::string& name)
{
    DWORD attributes = GetFileAttributesA(name.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::optional<size_t> Win32PortLibrary::WriteNewFile(const std::string& name, std::span<const uint8_t> bytes)
{
    FILE* f = std::fopen(name.c_str(), "wb");
    if (!f)
        return std::nullopt;
    size_t written = 0;
    if (std::fseek(f, 0, SEEK_SET) == 0 && !bytes.empty())
        written = std::fwrite(bytes.data(), 1, bytes.size(), f);
    // Buffered bytes reach the disk only at the close: a failed close is a
    // failed write.
    if (std::fclose(f) != 0)
        written = 0;
    return written;
}

void Win32PortLibrary::RemoveFile(const std::string& name)
{
    SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(name.c_str());
}

void Win32PortLibrary::SetHidden(const std::string& name)
{
    SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_HIDDEN);
}

std::string Win32PortLibrary::FullPath(const std::string& name)
{
    DWORD n = GetFullPathNameA(name.c_str(), 0, nullptr, nullptr);
    if (n == 0)
        return {};
    std::string full(n, '\0');
    n = GetFullPathNameA(name.c_str(), n, full.data(), nullptr);
    full.resize(n);
    return full;
}

PortLibraryPlatform::Library Win32PortLibrary::LoadLibraryFullPath(const std::string& fullPath)
{
    // Only an absolute path: a bare name would go through the search order.
    if (fullPath.size() < 3 || !(fullPath[1] == ':' || (fullPath[0] == '\\' && fullPath[1] == '\\')))
        return nullptr;
    // No system error box for a file that is not a library.
    UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryExA(fullPath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    SetErrorMode(previous);
    return reinterpret_cast<Library>(module);
}

PortLibraryPlatform::Entry Win32PortLibrary::LookUp(Library library, const char* name)
{
    return reinterpret_cast<Entry>(GetProcAddress(static_cast<HMODULE>(library), name));
}

int32_t Win32PortLibrary::CallIsPortDriverOpen(Entry entry)
{
    return static_cast<int32_t>(Call0(entry));
}

PortIo* Win32PortLibrary::BindPortIo(Entry outPortByte, Entry inPortByte)
{
    bound_.push_back(std::make_unique<LibraryPortIo>(outPortByte, inPortByte));
    return bound_.back().get();
}

} // namespace vyk::app
