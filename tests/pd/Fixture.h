#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "FakeView.h"
#include "TestFiles.h"
#include "hw/EcRam.h"
#include "pd/FlashReadSequence.h"
#include "pd/FlashWriteSequence.h"
#include "pd/VersionMonitor.h"
#include "sim/SimNotebook.h"

// A simulated notebook and one front end over it: what TForm1 or the CLI own.
struct Front {
    vyk::sim::SimNotebook sim;
    vyk::EcRam ec{&sim};
    vyk::pd::Mailbox mailbox{ec};
    std::unique_ptr<vyk::pd::ImageStore> image = std::make_unique<vyk::pd::ImageStore>();
    vyk::pd::PortSelection selection;
    FakeView view;
    static constexpr std::chrono::milliseconds busyBound{50};
    vyk::pd::FlashWriteSequence write{mailbox, *image, selection, view, busyBound};
    vyk::pd::FlashReadSequence read{mailbox, *image, selection, view, busyBound};
    vyk::pd::VersionMonitor monitor{mailbox, selection, view};

    explicit Front(vyk::sim::Settings settings = {}) : sim(settings) { sim.SetRecording(true); }

    std::vector<uint8_t> Flash(int port, uint32_t from, uint32_t to) const
    {
        auto f = sim.Flash(port);
        return {f.begin() + from, f.begin() + to};
    }
    std::vector<uint8_t> Image(uint32_t from, uint32_t to) const
    {
        return {image->ImageBuffer.begin() + from, image->ImageBuffer.begin() + to};
    }
    void SetFields(const char* start, const char* end, bool forWrite)
    {
        view.fields[forWrite ? FakeView::Field::FlashStart : FakeView::Field::ReadStart] = start;
        view.fields[forWrite ? FakeView::Field::FlashEnd : FakeView::Field::ReadEnd] = end;
    }

    // Ticks until the sequence ends or `limit` ticks have passed.
    static int Run(vyk::pd::FirmwareSequence& sequence, int limit)
    {
        sequence.Start();
        int ticks = 0;
        while (sequence.Running() && ticks < limit) {
            sequence.Tick();
            ++ticks;
        }
        return ticks;
    }
    int RunWrite(int limit = 100) { return Run(write, limit); }
    int RunRead(int limit = 5000) { return Run(read, limit); }
};

inline const std::string Stamp = "02/03/26  21:05:07 >> ";

inline std::vector<std::string> BlockLines(const char* prefix, uint32_t first, uint32_t end)
{
    std::vector<std::string> lines;
    char text[32];
    for (uint32_t b = first; b < end; ++b) {
        std::snprintf(text, sizeof text, "%s%06X", prefix, b << 8);
        lines.push_back(text);
    }
    return lines;
}

inline std::vector<std::string> DefaultWriteLog()
{
    std::vector<std::string> log{Stamp + "Cypress PD FW Flash Start", "Jump To Boot Mode Done.",
                                 "Enter Flashing Mode Done.", "Flashing...", "Flash Start Addr = 0x00C000",
                                 "Flash End Addr = 0x01FF00"};
    for (auto& l : BlockLines("FlashAddr = 0x", 0xC0, 0x1FF))
        log.push_back(l);
    for (auto l : {"Flash Done.", "Request The New Firmware To Be Validated Done", "Reset PD Register Done"})
        log.push_back(l);
    log.push_back(Stamp + "Cypess PD FW Update Completed!");
    return log;
}

inline std::vector<std::string> DefaultReadLog()
{
    std::vector<std::string> log{Stamp + "Read Cypress PD FW Start", "Jump To Boot Mode Done.",
                                 "Enter Flashing Mode Done.", "Reading...", "Read Start Addr = 0x00C000",
                                 "Read End Addr = 0x01FF00", "ReadCnt = 0x0001FF"};
    for (auto& l : BlockLines("ReadAddr = 0x", 0xC0, 0x1FF))
        log.push_back(l);
    for (auto l : {"Read Done.", "Request The New Firmware To Be Validated Done", "Reset PD Register Done"})
        log.push_back(l);
    log.push_back(Stamp + "Read Cypess PD FW Completed!");
    return log;
}
