#include "platform/windows/PortLibraryBinding.h"

#include <windows.h>

namespace vyk::platform {

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
void Call2(void* fn, uint32_t a, uint32_t b) { vyk_call_entry(fn, a, b, 2); }
#else
// One calling convention on x86-64.
uint32_t Call0(void* fn) { return reinterpret_cast<int32_t (*)()>(fn)(); }
uint32_t Call1(void* fn, uint32_t a) { return reinterpret_cast<uint16_t (*)(uint16_t)>(fn)(static_cast<uint16_t>(a)); }
void Call2(void* fn, uint32_t a, uint32_t b)
{
    reinterpret_cast<void (*)(uint16_t, uint16_t)>(fn)(static_cast<uint16_t>(a), static_cast<uint16_t>(b));
}
#endif

bool IsFullPath(const std::wstring& path)
{
    return path.size() >= 3 && (path[1] == L':' || (path[0] == L'\\' && path[1] == L'\\'));
}

} // namespace

void* LoadByFullPath(const std::wstring& fullPath, unsigned long& error)
{
    if (!IsFullPath(fullPath)) {
        error = ERROR_INVALID_NAME;
        return nullptr;
    }
    UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryExW(fullPath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    error = module ? 0 : GetLastError();
    SetErrorMode(previous);
    return reinterpret_cast<void*>(module);
}

void* EntryPoint(void* library, const char* name)
{
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

int32_t CallWithoutArguments(void* entry)
{
    return static_cast<int32_t>(Call0(entry));
}

void EntryIoPort::OutPortByte(uint16_t port, uint16_t data)
{
    Call2(out_, port, data);
}

uint16_t EntryIoPort::InPortByte(uint16_t port)
{
    return static_cast<uint16_t>(Call1(in_, port) & 0xFFFF);
}

} // namespace vyk::platform
