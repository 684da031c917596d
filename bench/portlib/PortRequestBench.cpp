// EC RAM byte writes through vykport32.dll under Wine's hosted 32-bit
// driver, where a port operation costs nothing (Wine's HAL) and the device
// request is all that is left: the old path (twelve byte requests per EC
// byte, as the library sent them before the driver reached only the
// mailbox; today's driver refuses them, after the same round trip) beside
// the new one (the library's byte exports, one EC RAM request per EC byte).
// Then the requests of one default-range flash write (00C000..01FF00, 319
// blocks) run through the library, counted at its DeviceIoControl import.
// Every read gives 0 there, so the EC always reads idle.
//
//   port_request_bench <vykport32.dll> [EC BYTES]   (default 3000)
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "hw/EcRam.h"
#include "hw/IoPort.h"
#include "pd/FlashWriteSequence.h"
#include "pd/Mailbox.h"
#include "portlib/VykPortRequests.h"

namespace {

using Clock = std::chrono::steady_clock;
using OutFn = void(__stdcall*)(uint16_t, uint16_t);
using InFn = uint16_t(__stdcall*)(uint16_t);
using IoControlFn = BOOL(WINAPI*)(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);

IoControlFn RealIoControl = nullptr;
uint64_t LibraryRequests = 0;

BOOL WINAPI CountedIoControl(HANDLE h, DWORD code, LPVOID in, DWORD inLength, LPVOID out, DWORD outLength,
                             LPDWORD returned, LPOVERLAPPED overlapped)
{
    ++LibraryRequests;
    return RealIoControl(h, code, in, inLength, out, outLength, returned, overlapped);
}

// Points the library's import of DeviceIoControl at the counter.
bool CountLibraryRequests(HMODULE library)
{
    auto* base = reinterpret_cast<uint8_t*>(library);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const auto& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); dir.VirtualAddress && d->Name;
         ++d) {
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA32*>(base + d->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA32*>(base + d->FirstThunk);
        for (; d->OriginalFirstThunk && names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL32(names->u1.Ordinal))
                continue;
            const char* name = reinterpret_cast<const char*>(
                reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name);
            if (std::strcmp(name, "DeviceIoControl") != 0)
                continue;
            DWORD old = 0;
            VirtualProtect(slots, sizeof *slots, PAGE_READWRITE, &old);
            RealIoControl = reinterpret_cast<IoControlFn>(static_cast<uintptr_t>(slots->u1.Function));
            slots->u1.Function = static_cast<DWORD>(reinterpret_cast<uintptr_t>(&CountedIoControl));
            VirtualProtect(slots, sizeof *slots, old, &old);
            return true;
        }
    }
    return false;
}

class LibraryPorts final : public vyk::IoPort {
public:
    LibraryPorts(OutFn out, InFn in) : out_(out), in_(in) {}
    void OutPortByte(uint16_t port, uint16_t data) override { out_(port, data); }
    uint16_t InPortByte(uint16_t port) override { return in_(port); }

private:
    OutFn out_;
    InFn in_;
};

// The old library's twelve byte requests of one EC RAM write, on a handle
// of the device.
void OldEcRamWrite(HANDLE device, uint16_t address, uint8_t value, uint64_t& requests)
{
    const uint8_t traffic[] = {0x2E, 0x11, 0x2F, uint8_t(address >> 8), 0x2E, 0x10, 0x2F, uint8_t(address),
                               0x2E, 0x12, 0x2F, value};
    for (size_t i = 0; i < sizeof traffic; ++i) {
        uint8_t b[3] = {uint8_t(i % 2 ? VYK_SIO_DATA_PORT : VYK_SIO_INDEX_PORT), 0, traffic[i]};
        DWORD returned = 0;
        DeviceIoControl(device, VYK_IOCTL_WRITE_BYTE, b, 3, b, 0, &returned, nullptr);
        ++requests;
    }
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Front end of the flash write: the default fields, port 1, nothing shown.
class QuietView final : public vyk::pd::FrontEnd {
public:
    void AddLogLine(std::string_view) override {}
    void AddStampedLogLine(std::string_view) override {}
    void ScrollLogLineDown() override {}
    vyk::pd::RangeChoice RangeFor(vyk::pd::SequenceKind) override { return {{0x00C000, 0x01FF00}, {}}; }
    vyk::pd::PdPort ChosenPort() override { return vyk::pd::PdPort::Port1; }
    std::string PortStatusText() override { return ""; }
    void SequenceStarted(vyk::pd::SequenceKind) override {}
    void SequenceEnded(vyk::pd::SequenceKind, vyk::pd::SequenceOutcome) override {}
    void RefreshClock() override {}
    void VersionRead(vyk::pd::PdPort, const uint8_t*) override {}
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: port_request_bench <vykport32.dll> [EC BYTES]\n");
        return 2;
    }
    const int bytes = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3000;
    HMODULE library = LoadLibraryA(argv[1]);
    if (!library) {
        std::fprintf(stderr, "cannot load %s (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    const auto isOpen = reinterpret_cast<int32_t(__stdcall*)()>(reinterpret_cast<void*>(GetProcAddress(library, "IsPortDriverOpen")));
    const auto out = reinterpret_cast<OutFn>(reinterpret_cast<void*>(GetProcAddress(library, "OutPortByte")));
    const auto in = reinterpret_cast<InFn>(reinterpret_cast<void*>(GetProcAddress(library, "InPortByte")));
    if (!isOpen || !out || !in || !isOpen() || !CountLibraryRequests(library)) {
        std::fprintf(stderr, "the library's driver is not open (run as administrator in a 32-bit prefix)\n");
        return 1;
    }
    HANDLE device = CreateFileA("\\\\.\\" VYK_DRIVER_NAME_32, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot open the device for the old path (error %lu)\n", GetLastError());
        return 1;
    }
    LibraryPorts ports(out, in);
    vyk::EcRam ec(&ports);

    // Rounds alternate between the paths; the best round of each counts.
    double oldBest = 1e9, newBest = 1e9;
    uint64_t oldRequests = 0, newRequests = 0;
    constexpr int Rounds = 5;
    for (int round = 0; round < Rounds; ++round) {
        uint64_t requests = 0;
        auto start = Clock::now();
        for (int i = 0; i < bytes; ++i)
            OldEcRamWrite(device, static_cast<uint16_t>(vyk::pd::DataWindow + (i & 0xFF)), static_cast<uint8_t>(i), requests);
        oldBest = std::min(oldBest, Seconds(Clock::now() - start));
        oldRequests = requests;

        const uint64_t before = LibraryRequests;
        start = Clock::now();
        for (int i = 0; i < bytes; ++i)
            ec.EcRamWrite(vyk::pd::DataWindow + (i & 0xFF), static_cast<uint8_t>(i));
        newBest = std::min(newBest, Seconds(Clock::now() - start));
        newRequests = LibraryRequests - before;
    }
    CloseHandle(device);

    std::printf("vykport32.dll under Wine's hosted 32-bit driver: %d EC byte writes, best of %d rounds\n", bytes, Rounds);
    std::printf("  old path (byte requests):     %5.2f requests per EC byte, %8.2f us per EC byte\n",
                double(oldRequests) / bytes, oldBest * 1e6 / bytes);
    std::printf("  new path (EC RAM requests):   %5.2f requests per EC byte, %8.2f us per EC byte\n",
                double(newRequests) / bytes, newBest * 1e6 / bytes);
    std::printf("  time ratio old/new:           %5.2f\n", oldBest / newBest);

    // One default-range flash write through the library.
    vyk::pd::Mailbox mailbox(ec);
    auto image = std::make_unique<vyk::pd::ImageStore>();
    image->ImageLength = 0x20000;
    std::fill(image->ImageBuffer.begin(), image->ImageBuffer.begin() + 0x20000, 0x5A);
    vyk::pd::PortSelection selection;
    selection.Port1Selected = selection.SelectionSent = true;
    QuietView view;
    vyk::pd::FlashWriteSequence flash(mailbox, *image, selection, view);
    const uint64_t before = LibraryRequests;
    const auto start = Clock::now();
    flash.Start();
    for (int ticks = 0; flash.Running() && ticks < 1000; ++ticks)
        flash.Tick();
    const double flashSeconds = Seconds(Clock::now() - start);
    const uint64_t flashRequests = LibraryRequests - before;
    std::printf("one default flash write (00C000..01FF00, %u blocks, %s): %llu requests, %.2f s;"
                " the old path: %llu requests\n",
                flash.BlocksTotal(), flash.Outcome() == vyk::pd::SequenceOutcome::Completed ? "completed" : "NOT completed",
                static_cast<unsigned long long>(flashRequests), flashSeconds,
                static_cast<unsigned long long>(flashRequests * 12));
    FreeLibrary(library);
    return 0;
}
