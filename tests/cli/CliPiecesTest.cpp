#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <vector>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/Failure.h"
#include "cli/JsonSummary.h"
#include "pd/ClockText.h"
#include "pd/Mailbox.h"
#include "sim/SimNotebook.h"

using namespace vyk::cli;

namespace {
// A simulated notebook whose EC sticks busy once `when` says so, looked at
// on every port read.
struct StuckWhen : vyk::PortIo {
    StuckWhen(vyk::sim::SimNotebook& notebook, std::function<bool()> test) : nb(notebook), when(std::move(test)) {}
    void OutPortByte(uint16_t port, uint16_t data) override { nb.OutPortByte(port, data); }
    uint16_t InPortByte(uint16_t port) override
    {
        const uint16_t v = nb.InPortByte(port);
        if (when())
            nb.GetSettings().faults.stuckBusy = true;
        return v;
    }
    vyk::sim::SimNotebook& nb;
    std::function<bool()> when;
};
} // namespace

TEST(CliClockText, WindowFormats)
{
    std::tm t{};
    t.tm_year = 126, t.tm_mon = 1, t.tm_mday = 3, t.tm_hour = 21, t.tm_min = 5, t.tm_sec = 7;
    EXPECT_EQ(vyk::pd::FormatDateText(t), "02/03/26");
    EXPECT_EQ(vyk::pd::FormatTimeText(t), "21:05:07");
    t.tm_year = 99, t.tm_mon = 11, t.tm_mday = 31, t.tm_hour = 0, t.tm_min = 0, t.tm_sec = 0;
    EXPECT_EQ(vyk::pd::FormatDateText(t), "12/31/99");
    EXPECT_EQ(vyk::pd::FormatTimeText(t), "00:00:00");
    t.tm_year = 100, t.tm_mon = 0, t.tm_mday = 1;
    EXPECT_EQ(vyk::pd::FormatDateText(t), "01/01/00");
}

TEST(CliProgress, BarRateAndTimeLeft)
{
    EXPECT_EQ(FormatProgress("flash", 0, 319, 0.0, 10), "flash   [----------]    0/319 blocks");
    // 100 blocks in 2 s: 50 blocks/s = 12.5 KiB/s, 219 left = 4.4 s.
    EXPECT_EQ(FormatProgress("read", 100, 319, 2.0, 10), "read    [###-------]  100/319 blocks     12.5 KiB/s  0:04 left");
    EXPECT_EQ(FormatProgress("verify", 319, 319, 1.0, 4).substr(0, 14), "verify  [####]");
    // More done than total (never expected) draws a full bar, not a crash.
    EXPECT_EQ(FormatProgress("x", 5, 4, 1.0, 4).substr(0, 14), "x       [####]");
}

TEST(CliJson, QuotesEveryControlCharacterAndKeepsKeyOrder)
{
    JsonSummary s;
    s.Set("path", "C:\\a \"b\"\n\x01");
    s.Set("n", 7);
    s.Set("ok", false);
    s.Set("n", 8);
    EXPECT_EQ(s.Text(), R"({"path": "C:\\a \"b\"\n\u0001", "n": 8, "ok": false})");
    // What is not well-formed UTF-8 shows as U+FFFD, one per byte that
    // begins no sequence; a well-formed one is kept as it is.
    const std::string bad = "\xEF\xBF\xBD";
    for (const auto& [text, quoted] : std::vector<std::pair<std::string, std::string>>{
             {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
             {"\xE0\x80\xAF", bad + bad + bad},                    // overlong
             {"\xED\xA0\x80", bad + bad + bad},                    // a surrogate
             {"\xF4\x90\x80\x80", bad + bad + bad + bad},          // past U+10FFFF
             {"\xC3(", bad + "("},                                 // no continuation byte
             {"\xE2\x82", bad + bad},                              // cut short
             {"\x1F\x7F", "\\u001F\x7F"},
         })
        EXPECT_EQ(JsonSummary::Quote(text), "\"" + quoted + "\"") << quoted;
}

// A flash on battery: refused below 30 % unless allowed; a charge nobody
// knows, the charger, or no battery at all refuse nothing.
TEST(CliPower, LowBatteryRefusesAFlash)
{
    std::FILE* sink = std::fopen("/dev/null", "w");
    ConsoleOptions options;
    options.out = options.err = sink;
    Console console(options);
    const struct {
        Power power;
        bool allow;
        int code;
    } cases[] = {
        {{true, false, 29}, false, ExitOnBattery}, {{true, false, 0}, false, ExitOnBattery},
        {{true, false, 29}, true, ExitOk},         {{true, false, 30}, false, ExitOk},
        {{true, false, -1}, false, ExitOk},        {{true, true, 5}, false, ExitOk},
        {{false, false, 5}, false, ExitOk},
    };
    for (const auto& c : cases) {
        int code = ExitOk;
        try {
            CheckPower(c.power, c.allow, console);
        } catch (const Failure& failure) {
            code = ExitCodeOf(failure);
        }
        EXPECT_EQ(code, c.code)
            << c.power.haveBattery << c.power.onAc << " " << c.power.percent << "% allow " << c.allow;
    }
    std::fclose(sink);
}

// vykuu reset: the selection of the port asked for, then CmdResetPd; told
// as done only once the EC reports it done.
TEST(CliReset, SelectsThePortAndWaitsForTheReset)
{
    std::FILE* sink = std::fopen("/dev/null", "w");
    ConsoleOptions options;
    options.out = options.err = sink;
    for (const bool stuck : {false, true}) {
        for (const int port : {1, 2}) {
            vyk::sim::SimNotebook nb;
            nb.SetRecording(true);
            // Stuck from the first command after the selection: the reset.
            StuckWhen io(nb, [&] {
                return stuck && nb.Commands().size() == 1 && nb.EcRamByte(vyk::pd::PdCommand) == 0;
            });
            Console console(options);
            JsonSummary summary;
            CommonOptions common;
            common.backend.openPorts = &io;
            common.timeoutSeconds = 0.05;
            const int code = RunReset(common, {port}, console, summary);
            const std::vector<uint8_t> first(nb.Commands().begin(), nb.Commands().begin() + 2);
            EXPECT_EQ(first, (std::vector<uint8_t>{port == 1 ? vyk::pd::CmdSelectPort1 : vyk::pd::CmdSelectPort2,
                                                   vyk::pd::CmdResetPd}))
                << port;
            EXPECT_EQ(code, stuck ? ExitEcBusy : ExitOk) << port;
            EXPECT_EQ(summary.Text().find("resetSent") == std::string::npos, stuck) << summary.Text();
        }
    }
    std::fclose(sink);
}

// An EC that stops answering once CmdInit is out leaves the PD on its way
// into flashing mode: the end says so, with the command that puts it right.
TEST(CliAdvice, AStallAfterCmdInitNamesTheStrandedPd)
{
    vyk::sim::SimNotebook nb;
    nb.SetRecording(true);
    StuckWhen io(nb, [&] {
        return std::find(nb.Commands().begin(), nb.Commands().end(), vyk::pd::CmdInit) != nb.Commands().end();
    });
    std::FILE* sink = std::fopen("/dev/null", "w");
    ConsoleOptions options;
    options.out = options.err = sink;
    Console console(options);
    JsonSummary summary;
    CommonOptions common;
    common.backend.openPorts = &io;
    common.timeoutSeconds = 0.05;
    const auto out = std::filesystem::temp_directory_path() / ("vyk-stall-" + std::to_string(::getpid()) + ".bin");
    ReadOptions read;
    read.outputPath = out.string();
    EXPECT_EQ(RunRead(common, read, console, summary), ExitEcBusy);
    EXPECT_NE(summary.Text().find("\"pdMayBeInBootLoader\": true"), std::string::npos) << summary.Text();
    EXPECT_FALSE(std::filesystem::exists(out));
    std::fclose(sink);
}
