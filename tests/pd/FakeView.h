#pragma once
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "pd/AddressField.h"
#include "pd/FrontEnd.h"
#include "pd/VersionMonitor.h"

// Records what the state machines show, as a window would: the fields are
// texts it reads with the core's address rules, the controls and timers
// follow the start and end events; stamped lines carry a fixed clock.
class FakeView : public vyk::pd::FrontEnd {
public:
    enum class Field { FlashStart, FlashEnd, ReadStart, ReadEnd };
    std::vector<std::string> log;
    std::map<Field, std::string> fields{{Field::FlashStart, "00C000"},
                                        {Field::FlashEnd, "01FF00"},
                                        {Field::ReadStart, "00C000"},
                                        {Field::ReadEnd, "01FF00"}};
    bool port1 = true;
    bool controls = true;
    bool flashGo = false;
    bool save = false;
    // The write's timer and the read's, as the window keeps them.
    enum class Timer { Write, Read };
    std::map<Timer, bool> timers;
    int scrolls = 0, refreshes = 0;
    std::string label = "PORT1 FW2 VER : 00 00 00 00 00 00 00 00";
    int labelPort = 1;

    // Called after each plain line, as the line is written.
    std::function<void(const std::string&)> onLine;

    void AddLogLine(std::string_view text) override
    {
        log.emplace_back(text);
        if (onLine)
            onLine(log.back());
    }
    // For the image files, which only log.
    vyk::pd::LogSink Sink()
    {
        return [this](std::string_view text) { AddLogLine(text); };
    }
    void AddStampedLogLine(std::string_view text) override { log.push_back("02/03/26  21:05:07 >> " + std::string(text)); }
    void ScrollLogLineDown() override { ++scrolls; }
    vyk::pd::RangeChoice RangeFor(vyk::pd::SequenceKind kind) override
    {
        if (kind == vyk::pd::SequenceKind::Write)
            return vyk::pd::ReadRangeFields("\"Write PD FW\" start address", fields[Field::FlashStart],
                                            "\"Write PD FW\" end address", fields[Field::FlashEnd]);
        return vyk::pd::ReadRangeFields("\"Read PD FW\" start address", fields[Field::ReadStart],
                                        "\"Read PD FW\" end address", fields[Field::ReadEnd]);
    }
    vyk::pd::PdPort ChosenPort() override { return port1 ? vyk::pd::PdPort::Port1 : vyk::pd::PdPort::Port2; }
    // Every begin and end of a sequence, in order: "write on", "read off".
    std::vector<std::string> running;
    std::string status = "IO NG3";
    std::string PortStatusText() override { return status; }
    void SequenceStarted(vyk::pd::SequenceKind kind) override
    {
        running.push_back(Name(kind) + " on");
        controls = false;
        timers[TimerOf(kind)] = true;
    }
    void SequenceEnded(vyk::pd::SequenceKind kind, vyk::pd::SequenceOutcome outcome) override
    {
        timers[TimerOf(kind)] = false;
        controls = true;
        if (outcome == vyk::pd::SequenceOutcome::Completed)
            flashGo = save = true;
        running.push_back(Name(kind) + " off");
    }
    void RefreshClock() override { ++refreshes; }
    void VersionRead(vyk::pd::PdPort port, const uint8_t* version8) override
    {
        labelPort = vyk::pd::PortNumber(port);
        label = vyk::pd::VersionLabelText(port, version8);
    }

private:
    static Timer TimerOf(vyk::pd::SequenceKind kind)
    {
        return kind == vyk::pd::SequenceKind::Write ? Timer::Write : Timer::Read;
    }
    static std::string Name(vyk::pd::SequenceKind kind) { return kind == vyk::pd::SequenceKind::Write ? "write" : "read"; }
};
