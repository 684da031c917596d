#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <fstream>
#include <map>
#include <set>
#include <tuple>
#include <vector>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/Failure.h"
#include "cli/JsonSummary.h"
#include "cli/Sidecar.h"
#include "pd/ClockText.h"
#include "pd/Mailbox.h"
#include "sim/SimNotebook.h"

using namespace vyk::cli;

namespace {
// A simulated notebook whose EC sticks busy once `when` says so, looked at
// on every port read.
struct StuckWhen : vyk::IoPort {
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
    s.Set("error", "C:\\a \"b\"\n\x01\b\f");
    s.Set("exitCode", 7);
    s.Set("ok", false);
    s.Set("exitCode", 8);
    EXPECT_EQ(s.Text(), R"({"error": "C:\\a \"b\"\n\u0001\u0008\u000C", "ok": false, "exitCode": 8})");
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
             {std::string("\0\x0B\t\r", 4), "\\u0000\\u000B\\t\\r"},
         })
        EXPECT_EQ(JsonText(text), "\"" + quoted + "\"") << quoted;
}

// The summary's keys stand in one order whatever the order a run sets
// them in, nested values and seconds printed as the record always had them.
TEST(CliJson, KeysStandInOneOrderWhateverTheOrderTheyAreSetIn)
{
    const auto fill = [](JsonSummary& s, const std::string& key) {
        if (key == "seconds")
            s.SetSeconds(key, 1.5);
        else if (key == "machine")
            s.SetRaw(key, Json{{"vendor", "V"}, {"serial", ""}});
        else if (key == "versionsAfter")
            s.SetRaw(key, Json::array({Json{{"port", 1}, {"label", "L"}}, Json{{"port", 2}}}));
        else if (key == "ok")
            s.Set(key, true);
        else if (key == "blocks")
            s.Set(key, 319);
        else
            s.Set(key, key);
    };
    for (const auto& [keys, text] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"ok", "tool", "seconds"}, R"({"tool": "tool", "seconds": 1.500, "ok": true})"},
             {{"versionsAfter", "error", "resetSent", "command"},
              R"({"command": "command", "resetSent": "resetSent", "error": "error", "versionsAfter": [{"port": 1, "label": "L"}, {"port": 2}]})"},
             {{"record", "outputSha256", "machine", "backend", "imageAt", "output", "blocks"},
              R"({"blocks": 319, "output": "output", "imageAt": "imageAt", "backend": "backend", "machine": {"vendor": "V", "serial": ""}, "outputSha256": "outputSha256", "record": "record"})"},
             {{"dryRun", "imageRecord", "imageSha256", "backend", "backup", "paddedBlocks", "imageAt", "verify"},
              R"({"verify": "verify", "imageAt": "imageAt", "paddedBlocks": "paddedBlocks", "backup": "backup", "backend": "backend", "imageSha256": "imageSha256", "imageRecord": "imageRecord", "dryRun": "dryRun"})"},
         }) {
        JsonSummary backwards, forwards;
        for (auto key = keys.rbegin(); key != keys.rend(); ++key)
            fill(backwards, *key);
        for (const auto& key : keys)
            fill(forwards, key);
        EXPECT_EQ(forwards.Text(), text);
        EXPECT_EQ(backwards.Text(), text);
    }
    // Every key has its place, and a key without one is a mistake, not a
    // key printed wherever it falls.
    std::vector<std::string_view> all = JsonSummary::Keys();
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
    EXPECT_EQ(all.size(), 46u);
    // The README's table names them all, in the order they print, and the
    // two a second signal adds after them.
    std::ifstream readme(VYK_README);
    std::string line;
    while (std::getline(readme, line) && line != "### The JSON summary") {
    }
    std::vector<std::string> described;
    while (std::getline(readme, line) && line.rfind("## ", 0) != 0) {
        if (line.rfind("| `", 0) != 0)
            continue;
        const std::string first = line.substr(0, line.find(" |", 1));
        for (size_t at = first.find('`'); at != std::string::npos; at = first.find('`', first.find('`', at + 1) + 1))
            described.push_back(first.substr(at + 1, first.find('`', at + 1) - at - 1));
    }
    std::vector<std::string> keys(JsonSummary::Keys().begin(), JsonSummary::Keys().end());
    keys.insert(keys.end(), {"endedAtOnce", "pdState"});
    EXPECT_EQ(described, keys);
    JsonSummary s;
    s.Set("bogus", 1);
    s.Set("ok", true);
    EXPECT_EQ(s.Text(), "{\"ok\": true, \"bogus\": 1}");
}

// The record beside a file read from a PD: written as one line, read back
// the same; what is not such a record is refused with the reason.
TEST(CliSidecar, WritesOneLineAndRefusesWhatIsNoRecord)
{
    Provenance p;
    p.port = 2, p.start = "00C000", p.end = "01FF00", p.vendor = "V\"1", p.product = "P", p.serial = "S\x01";
    p.toolVersion = "1.3", p.time = "2026-01-02T03:04:05.678Z", p.bytes = 81664, p.sha256 = "ab";
    const std::string text = vyk::pd::SidecarText(p);
    EXPECT_EQ(text, R"({"savedBy": "vykuu", "toolVersion": "1.3", "time": "2026-01-02T03:04:05.678Z", "port": 2, )"
                    R"("start": "00C000", "end": "01FF00", "vendor": "V\"1", "product": "P", "serial": "S\u0001", )"
                    R"("bytes": 81664, "sha256": "ab"})" "\n");
    Provenance back;
    std::string why;
    ASSERT_TRUE(vyk::pd::ParseSidecar(text, back, why)) << why;
    EXPECT_EQ(std::tie(back.port, back.start, back.end, back.vendor, back.serial, back.bytes, back.time),
              std::tie(p.port, p.start, p.end, p.vendor, p.serial, p.bytes, p.time));
    const std::string least = R"("start": "A", "end": "B", "bytes": 1, "sha256": "C")";
    for (const auto& [record, reason] : std::vector<std::pair<std::string, std::string>>{
             {"[1]", "it does not begin with {"},
             {"", "it is not well-formed JSON"},
             {R"({"port": 1, )" + least, "it is not well-formed JSON"},
             {R"({"port": 1.5, )" + least + "}", "the value of \"port\" is neither a string nor a whole number"},
             {R"({"port": true, )" + least + "}", "the value of \"port\" is neither a string nor a whole number"},
             {R"({"port": 1, "bytes": 1234567890123456, "start": "A", "end": "B", "sha256": "C"})",
              "the value of \"bytes\" is neither a string nor a whole number"},
             {R"({"port": "x", )" + least + "}", "a number or an escape in it is out of shape"},
             {"{" + least + "}", "it has no \"port\""},
         }) {
        why.clear();
        EXPECT_FALSE(vyk::pd::ParseSidecar(record, back, why)) << record;
        EXPECT_EQ(why.substr(0, reason.size()), reason) << record;
    }
    EXPECT_TRUE(vyk::pd::ParseSidecar(R"( {"port": "2", )" + least + "}\n", back, why)) << why;
    EXPECT_EQ(back.port, 2);
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
        vyk::platform::Power power;
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
