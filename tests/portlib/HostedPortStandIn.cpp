// The ports behind vykportx64.sys while Wine's 64-bit driver host runs it.
// The driver executes in and out itself; under Wine they fault in the host
// process. This 64-bit program debugs that process and carries out each
// byte port instruction of the driver's image against the stand-in Super
// I/O pair of SuperIoStandIn.h. Every instruction goes to the log, one line
// each ("out 4E 2E", "in 4F 8B"); any other fault in the driver's image is
// logged too and left to the host.
//
//   portlib_port_standin64 <driver file> <log file> <parent pid>
//
// It follows the host across driver stops, starts and new host processes,
// keeps the event "VYK_UU port stand-in attached" set while it is attached,
// and ends when "VYK_UU port stand-in done" is set or the parent ends.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/portlib/DebugEvents.h"
#include "tests/portlib/SuperIoStandIn.h"

namespace {

struct Host {
    DWORD pid = 0;
    uintptr_t imageStart = 0, imageEnd = 0; // the driver's image in it
};

// The driver host that has this driver loaded, with the image's place.
Host FindHost(const char* driverFile)
{
    Host host;
    HANDLE processes = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 p{};
    p.dwSize = sizeof p;
    for (BOOL more = Process32First(processes, &p); more && !host.pid; more = Process32Next(processes, &p)) {
        if (_stricmp(p.szExeFile, "winedevice.exe") != 0)
            continue;
        HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, p.th32ProcessID);
        MODULEENTRY32 m{};
        m.dwSize = sizeof m;
        for (BOOL next = Module32First(modules, &m); next; next = Module32Next(modules, &m)) {
            if (_stricmp(m.szModule, driverFile) == 0) {
                host.pid = p.th32ProcessID;
                host.imageStart = reinterpret_cast<uintptr_t>(m.modBaseAddr);
                host.imageEnd = host.imageStart + m.modBaseSize;
                break;
            }
        }
        CloseHandle(modules);
    }
    CloseHandle(processes);
    return host;
}

FILE* Log = nullptr;

void Note(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(Log, format, args);
    va_end(args);
    std::fflush(Log);
}

vyk::winetest::SuperIoStandIn Ports;

// Carries out the byte port instruction the thread stopped at.
bool Emulate(HANDLE process, DWORD threadId)
{
    HANDLE thread = OpenThread(THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, threadId);
    CONTEXT c{};
    c.ContextFlags = CONTEXT_FULL;
    uint8_t op = 0;
    bool done = thread && GetThreadContext(thread, &c) &&
                ReadProcessMemory(process, reinterpret_cast<void*>(c.Rip), &op, 1, nullptr) &&
                (op == 0xEE || op == 0xEC); // out dx, al / in al, dx
    if (done) {
        const auto port = static_cast<uint16_t>(c.Rdx);
        if (op == 0xEE) {
            Note("%s\n", Ports.Out(port, static_cast<uint8_t>(c.Rax)).c_str());
        } else {
            uint8_t value = 0;
            Note("%s\n", Ports.In(port, &value).c_str());
            c.Rax = (c.Rax & ~DWORD64{0xFF}) | value;
        }
        c.Rip += 1;
        done = SetThreadContext(thread, &c) != FALSE;
    }
    if (thread)
        CloseHandle(thread);
    return done;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: portlib_port_standin64 <driver file> <log file> <parent pid>\n");
        return 2;
    }
    const char* driverFile = argv[1];
    Log = std::fopen(argv[2], "w");
    HANDLE parent = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10)));
    HANDLE attached = CreateEventA(nullptr, TRUE, FALSE, "VYK_UU port stand-in attached");
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, "VYK_UU port stand-in done");
    if (!Log || !parent || !attached || !done)
        return 2;

    Host host;
    HANDLE process = nullptr;
    const auto finished = [&] {
        HANDLE both[] = {done, parent};
        return WaitForMultipleObjects(2, both, FALSE, 0) != WAIT_TIMEOUT;
    };
    while (!finished()) {
        if (!host.pid) {
            host = FindHost(driverFile);
            if (!host.pid || !DebugActiveProcess(host.pid)) {
                host = {};
                Sleep(20);
                continue;
            }
            DebugSetProcessKillOnExit(FALSE);
            process = OpenProcess(PROCESS_VM_READ | PROCESS_QUERY_INFORMATION, FALSE, host.pid);
            BOOL wow64 = FALSE;
            if (!process || !IsWow64Process(process, &wow64) || wow64)
                Note("host %lu is not a 64-bit process\n", host.pid);
            SetEvent(attached);
        }
        DEBUG_EVENT e{};
        if (!WaitForDebugEvent(&e, 20))
            continue;
        vyk::winetest::CloseEventFiles(e);
        DWORD status = DBG_CONTINUE;
        switch (e.dwDebugEventCode) {
        case EXCEPTION_DEBUG_EVENT: {
            // Faults elsewhere in the host are Wine's own business.
            const EXCEPTION_RECORD& r = e.u.Exception.ExceptionRecord;
            const auto at = reinterpret_cast<uintptr_t>(r.ExceptionAddress);
            if (r.ExceptionCode == EXCEPTION_BREAKPOINT)
                break;
            status = DBG_EXCEPTION_NOT_HANDLED;
            // The driver loaded again after a stop may sit elsewhere.
            if (at < host.imageStart || at >= host.imageEnd)
                if (const Host again = FindHost(driverFile); again.pid == host.pid)
                    host = again;
            if (!e.u.Exception.dwFirstChance || at < host.imageStart || at >= host.imageEnd)
                break;
            if (r.ExceptionCode == EXCEPTION_PRIV_INSTRUCTION && Emulate(process, e.dwThreadId))
                status = DBG_CONTINUE;
            else
                Note("fault %08lX in the driver at +%llX\n", r.ExceptionCode,
                     static_cast<unsigned long long>(at - host.imageStart));
            break;
        }
        case EXIT_PROCESS_DEBUG_EVENT:
            ResetEvent(attached);
            CloseHandle(process);
            process = nullptr;
            host = {};
            break;
        }
        ContinueDebugEvent(e.dwProcessId, e.dwThreadId, status);
    }
    if (host.pid)
        DebugActiveProcessStop(host.pid);
    std::fclose(Log);
    return 0;
}
