#pragma once
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "pd/SequenceView.h"

// Records what the state machines show; stamped lines carry a fixed clock.
class FakeView : public vyk::pd::SequenceView {
public:
    std::vector<std::string> log;
    std::map<vyk::pd::AddressField, std::string> fields{{vyk::pd::AddressField::FlashStart, "00C000"},
                                                        {vyk::pd::AddressField::FlashEnd, "01FF00"},
                                                        {vyk::pd::AddressField::ReadStart, "00C000"},
                                                        {vyk::pd::AddressField::ReadEnd, "01FF00"}};
    bool port1 = true;
    bool controls = true;
    bool flashGo = false;
    bool save = false;
    std::map<vyk::pd::SequenceTimer, bool> timers;
    int scrolls = 0, refreshes = 0;
    std::string label = "PORT1 FW2 VER : 00 00 00 00 00 00 00 00";
    uint32_t colour = 0x008000;

    // Called after each plain line, as the line is written.
    std::function<void(const std::string&)> onLine;

    void AddLogLine(std::string_view text) override
    {
        log.emplace_back(text);
        if (onLine)
            onLine(log.back());
    }
    void AddStampedLogLine(std::string_view text) override { log.push_back("02/03/26  21:05:07 >> " + std::string(text)); }
    void ScrollLogLineDown() override { ++scrolls; }
    std::string AddressFieldText(vyk::pd::AddressField f) override { return fields[f]; }
    bool Port1Wanted() override { return port1; }
    void SetSequenceControlsEnabled(bool on) override
    {
        controls = on;
        if (on)
            flashGo = save = true;
    }
    void RestoreSequenceControls() override { controls = true; }
    // Every begin and end of a sequence, in order: "write on", "read off".
    std::vector<std::string> running;
    std::string status = "IO NG3";
    void SequenceRunning(vyk::pd::SequenceTimer t, bool on) override
    {
        const char* name = t == vyk::pd::SequenceTimer::FlashWrite ? "write" : "read";
        running.push_back(std::string(name) + (on ? " on" : " off"));
    }
    std::string PortStatusText() override { return status; }
    void SetTimerEnabled(vyk::pd::SequenceTimer t, bool on) override { timers[t] = on; }
    void EnableFlashGo() override { flashGo = true; }
    void RefreshClock() override { ++refreshes; }
    void SetVersionLabel(std::string_view text, uint32_t c) override
    {
        colour = c;
        label = text;
    }
};
