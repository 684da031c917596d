#pragma once
#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <vector>

#include "FakePortPlatform.h"
#include "app/ControlIds.h"
#include "app/MemoryToolkit.h"
#include "app/Unit1.h"
#include "sim/SimNotebook.h"

namespace vyk::app::test {

inline std::tm FixedTime(int year, int month, int day, int hour, int minute, int second)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

// TForm1 on the in-memory toolkit, its port library bound to a simulated
// notebook that records every EC access from the start.
struct FormHarness {
    MemoryToolkit tk;
    FakePortPlatform platform;
    sim::SimNotebook notebook;
    std::vector<uint8_t> image{'M', 'Z', 1, 2, 3, 4, 5};
    std::tm now = FixedTime(2026, 2, 3, 21, 5, 7);
    std::unique_ptr<TForm1> form;

    FormHarness() { platform.io = &notebook; notebook.SetRecording(true); }

    TForm1& Start()
    {
        form = std::make_unique<TForm1>(tk, platform, image, [this] { return now; });
        return *form;
    }

    // Ticks a timer until its sequence is idle again, the monitor beside
    // it; a sequence that never ends fails the test instead of hanging it.
    template <class Running> void TickUntilIdle(int timer, Running running)
    {
        for (int i = 0; i < 10000 && running(); ++i) {
            if (i % 10 == 0)
                tk.Tick(IdTimer1);
            tk.Tick(timer);
        }
        ASSERT_FALSE(running()) << "sequence did not finish";
    }

    // "Flash Go" to the end of its read-back: both timers, the monitor beside.
    void FlashUntilIdle()
    {
        for (int i = 0; i < 10000 && form->SequenceBusy(); ++i) {
            if (i % 10 == 0)
                tk.Tick(IdTimer1);
            tk.Tick(IdTimer2);
            tk.Tick(IdTimer3);
        }
        ASSERT_FALSE(form->SequenceBusy()) << "flash or read-back did not finish";
    }

    std::vector<sim::EcAccess> EcWrites() const
    {
        std::vector<sim::EcAccess> writes;
        for (const auto& a : notebook.EcAccesses())
            if (a.isWrite)
                writes.push_back(a);
        return writes;
    }
};

} // namespace vyk::app::test
