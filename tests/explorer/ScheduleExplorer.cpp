// The schedule explorer. Each seed draws one case: a flash, a read, or a read
// and then a flash of what it read; through vykuu's commands in process or
// through the window on its in-memory face; a range, an image, the simulated
// EC's faults, and a stop request, a close or nothing at a drawn point. The
// case runs on a fresh simulated notebook under a clock that moves one
// microsecond per port operation (the window's timers fire by it too), so a
// seed replays exactly, and what the tool promises is checked after it.
//
//   schedule_explorer [--first SEED] [--count N]   the kept seeds, then N seeds from SEED
//   schedule_explorer --seed SEED [--verbose]      one case (with its log)
//   --tally                                        how the runs ended, counted
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/ControlIds.h"
#include "app/MemoryToolkit.h"
#include "app/Unit1.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/StopNotice.h"
#include "cli/JsonSummary.h"
#include "hw/WaitClock.h"
#include "pd/HexText.h"
#include "pd/Mailbox.h"
#include "sim/SimNotebook.h"
#include "sim/SimSettings.h"
#include "tests/app/FakePortPlatform.h"
#include "tests/pd/TestFiles.h"

namespace {

using namespace vyk;
namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// Seeds whose case once broke an invariant, run every time. A change to
// Draw() gives every seed another case: find these anew then, with the fix
// taken out.
constexpr uint64_t KeptSeeds[] = {
    47, 923,    // vykuu's read-back filled the window while the flash's CmdResetPd was in hand
    186, 251,   // the window read blocks past 0x03FF and kept what the EC left in its window
};

// How the runs ended, for --tally: what the draws reach.
std::map<std::string, int> tally;
void Count(const std::string& end, const std::vector<std::string>& log)
{
    ++tally[end];
    for (const char* edge : {"stop asked for after the last block", "before CmdInit", "before the first block",
                             "stayed busy for"})
        if (std::any_of(log.begin(), log.end(), [&](const std::string& l) { return l.find(edge) != l.npos; }))
            ++tally[std::string("  ... \"") + edge + "\""];
}

// ---- time and draws ----

uint64_t nowMicros = 0;
WaitClock::time_point VirtualNow() { return WaitClock::time_point(std::chrono::microseconds(nowMicros)); }

constexpr uint64_t Bound = 2000;            // µs, the busy bound of every case (vykuu's --timeout too)
constexpr uint64_t BusyTest = 12;           // µs, one read of PdCommand
constexpr uint64_t BlockOps = 260 * 12;     // one block's transfer
constexpr uint64_t Never = UINT64_MAX;

struct Rng {
    uint64_t state;
    uint64_t Next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t Below(uint64_t n) { return n ? static_cast<uint32_t>(Next() % n) : 0; }
    bool Chance(unsigned percent) { return Below(100) < percent; }
    template <class T> T Pick(std::initializer_list<T> items) { return items.begin()[Below(items.size())]; }
};

std::string Hex6(uint32_t v) { return pd::HexDigits(v, 6); }

// ---- the case ----

enum class Job { Flash, Read, ReadThenFlash };
enum class Stop { None, Request, Close, EndSession };

struct Case {
    uint64_t seed = 0;
    bool window = false;
    Job job = Job::Flash;
    int port = 1;
    uint32_t first = 0, end = 0;   // blocks, as the address texts give them
    std::string startText, endText;
    // a flash
    size_t imageSize = 0;
    std::string imageAtText;
    uint32_t imageAt = 0;
    bool allowShort = false, verify = true, backup = false, backupExists = false;
    // a read: -o over an existing file
    bool outputExists = false;
    bool json = false;
    sim::Settings ec;
    bool noPortAccess = false;   // the window's io.dll does not load
    uint64_t pauseHold = 0;      // with ec.pauseAfterBlocks: µs until "paused" goes
    Stop stop = Stop::None;
    uint8_t stopCommand = 0;     // 0: at port operation stopAt; else stopAt operations after its stopNth write
    int stopNth = 0;
    uint64_t stopAt = 0;

    bool Reads() const { return job != Job::Flash; }
    bool Flashes() const { return job != Job::Read; }
    uint32_t Blocks() const { return end > first ? end - first : 0; }
};

// Edges are drawn often: one block, blocks touching 0x03FF, --image-at at
// the range start, an EC stuck or a stop right at the last block or at
// CmdInit, busy times around the bound.
Case Draw(uint64_t seed)
{
    Rng r{seed};
    Case c;
    c.seed = seed;
    c.window = r.Chance(40);
    c.job = r.Pick({Job::Flash, Job::Flash, Job::Read, Job::ReadThenFlash});
    c.port = 1 + static_cast<int>(r.Below(2));
    switch (r.Below(6)) {
    case 0: c.first = r.Below(0x400), c.end = c.first + 1; break;
    case 1: c.end = 0x400, c.first = c.end - 1 - r.Below(8); break;
    case 2: c.first = 0xC0, c.end = 0x1FF; break;
    case 3: c.first = 0, c.end = r.Chance(20) ? 0x400 : 1 + r.Below(16); break;
    default: c.first = r.Below(0x3FF), c.end = c.first + 1 + r.Below(std::min<uint32_t>(48, 0x400 - c.first));
    }
    if (r.Chance(4))
        c.end = r.Chance(50) ? c.first : 0x400 + 1 + r.Below(4);   // refused
    const auto text = [&](uint32_t block) {
        std::string t = Hex6(block << 8 | (r.Chance(20) ? r.Below(256) : 0));
        if (r.Chance(10))
            t.erase(0, std::min(t.find_first_not_of('0'), t.size() - 1));
        return t;
    };
    c.startText = text(c.first);
    c.endText = text(c.end);

    const uint32_t from = c.first << 8, to = std::min(c.end, 0x400u) << 8;
    if (c.job == Job::Flash) {
        if (!c.window) {
            switch (r.Below(24)) {
            case 0: case 1: case 2: case 3: case 4: case 5: case 6: case 7: c.imageAt = from; break;
            case 8: c.imageAtText = Hex6(from + 1 + r.Below(255)); break;   // not a block start
            case 9: c.imageAt = std::min(from + 256, 0x3FF00u); break;      // after the range's start
            default: break;
            }
            if (c.imageAtText.empty() && c.imageAt != 0)
                c.imageAtText = Hex6(c.imageAt);
        }
        const size_t reach = to > c.imageAt ? to - c.imageAt : 0;
        switch (r.Below(20)) {
        case 0: c.imageSize = 0; break;
        case 1: c.imageSize = 0x40002 - c.imageAt + 1 + r.Below(300); break;   // too long
        case 2: case 3: case 4:
            c.imageSize = reach - std::min<size_t>(reach, 1 + r.Below(std::max<uint32_t>(to - from, 1)));
            c.allowShort = r.Chance(70);
            break;
        case 5: case 6: case 7: c.imageSize = 0x40000 - std::min(c.imageAt, 0x40000u); break;
        default: c.imageSize = reach;
        }
    }
    if (!c.window) {
        c.verify = r.Chance(75);
        c.backup = c.job == Job::Flash && r.Chance(25);
        c.backupExists = c.backup && r.Chance(15);
        c.json = r.Chance(30);
    }
    c.outputExists = r.Chance(30);

    const uint32_t blocks = std::max(c.Blocks(), 1u);
    const uint32_t inBound = Bound / BusyTest;   // busy tests that fit in the bound
    sim::Settings& s = c.ec;
    switch (r.Below(10)) {
    case 0: s.busyReads = 0; break;
    case 6: case 7: s.busyReads = static_cast<int>(r.Below(2 * inBound)); break;
    case 8: s.busyReads = static_cast<int>(inBound - 3 + r.Below(7)); break;
    case 9: s.busyMicros = 1 + r.Below(3 * Bound); break;
    default: s.busyReads = 1 + static_cast<int>(r.Below(3));
    }
    if (r.Chance(20))
        s.faults.stuckBusyAfterBlocks =
            static_cast<int>(r.Pick({1u, blocks - 1, blocks, blocks + 1, 2 * blocks, 1 + r.Below(3 * blocks)}));
    if (r.Chance(10))
        s.faults.ignoreWritesPort = 1 + static_cast<int>(r.Below(2));
    if (r.Chance(10)) {
        s.faults.corruptReads = true;
        s.faults.corruptAddress = std::min(from + r.Below(blocks * 256), sim::FlashSize - 1);
    }
    s.faults.noChip = r.Chance(3);
    s.faults.stuckBusy = r.Chance(3);
    if (r.Chance(8)) {
        s.pauseAfterBlocks = 1 + static_cast<int>(r.Below(2 * blocks));
        c.pauseHold = r.Pick({Bound / 2, 2 * Bound, Never});
    }
    c.noPortAccess = c.window && r.Chance(3);

    if (r.Chance(35))
        return c;
    c.stop = !c.window ? Stop::Request : r.Chance(75) ? Stop::Close : Stop::EndSession;
    if (r.Chance(25)) {
        c.stopAt = 1 + r.Below((blocks + 4) * 3 * BlockOps);
        return c;
    }
    const uint8_t block = c.job == Job::Read || r.Chance(40) ? pd::CmdReadBlock : pd::CmdWriteBlock;
    c.stopCommand = r.Pick({pd::CmdInit, pd::CmdJumpBoot, pd::CmdEnterFlash, block, block, block, block,
                            pd::CmdValidate, pd::CmdResetPd, c.port == 1 ? pd::CmdSelectPort1 : pd::CmdSelectPort2});
    c.stopNth = static_cast<int>(c.stopCommand == block ? r.Pick({1u, blocks - 1, blocks, 2 * blocks - 1, 2 * blocks,
                                                                   1 + r.Below(2 * blocks)})
                                                        : 1 + r.Below(3));
    c.stopAt = r.Pick<uint64_t>({0, 1 + r.Below(12), r.Below(BlockOps), r.Below(Bound)});
    return c;
}

std::string Describe(const Case& c)
{
    std::string s = std::string(c.window ? "window " : "vykuu ") +
                    (c.job == Job::Flash ? "flash" : c.job == Job::Read ? "read" : "read, then flash it") +
                    " port " + std::to_string(c.port) + " " + c.startText + ".." + c.endText;
    if (c.job == Job::Flash) {
        s += ", image of " + std::to_string(c.imageSize) + " bytes";
        if (!c.imageAtText.empty())
            s += " --image-at " + c.imageAtText;
        if (c.allowShort)
            s += " --allow-short";
    }
    if (!c.window && c.Flashes() && !c.verify)
        s += " --no-verify";
    if (c.backup)
        s += c.backupExists ? " --backup over an existing file" : " --backup";
    if (c.Reads() && c.outputExists)
        s += ", output over an existing file";
    if (c.json)
        s += " --json";
    const sim::Settings& e = c.ec;
    s += "; EC: busy_reads " + std::to_string(e.busyReads);
    if (e.busyMicros)
        s += " busy_micros " + std::to_string(e.busyMicros);
    if (e.faults.stuckBusyAfterBlocks)
        s += " stuck_busy_after_blocks " + std::to_string(e.faults.stuckBusyAfterBlocks);
    if (e.faults.ignoreWritesPort)
        s += " ignore_writes_port " + std::to_string(e.faults.ignoreWritesPort);
    if (e.faults.corruptReads)
        s += " corrupt_address " + Hex6(e.faults.corruptAddress);
    if (e.faults.noChip)
        s += " no_chip";
    if (e.faults.stuckBusy)
        s += " stuck_busy";
    if (e.pauseAfterBlocks)
        s += " pause_after_blocks " + std::to_string(e.pauseAfterBlocks) + " for " +
             (c.pauseHold == Never ? std::string("good") : std::to_string(c.pauseHold) + " us");
    if (c.noPortAccess)
        s += "; io.dll does not load";
    const char* stops[] = {"", "stop request", "close", "session end"};
    if (c.stop == Stop::None)
        s += "; no stop";
    else if (c.stopCommand == 0)
        s += std::string("; ") + stops[static_cast<int>(c.stop)] + " at port operation " + std::to_string(c.stopAt);
    else
        s += std::string("; ") + stops[static_cast<int>(c.stop)] + " " + std::to_string(c.stopAt) +
             " operations after write " + std::to_string(c.stopNth) + " of command 0x" + pd::HexDigits(c.stopCommand, 2);
    return s;
}

// ---- the notebook, seen through a probe ----

struct Hang : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// In front of the simulated notebook: moves the clock, reads the EC
// accesses off the port traffic, raises the drawn stop, takes the "paused"
// file away in time, and measures every wait on the EC (a run of busy tests
// with nothing else between), from its first test or the last Mark().
class Probe final : public IoPort {
public:
    Probe(sim::SimNotebook& notebook, const Case& c, fs::path pauseFile)
        : nb_(notebook), c_(c), pauseFile_(std::move(pauseFile)),
          fireAt_(c.stop != Stop::None && c.stopCommand == 0 ? c.stopAt : 0)
    {
    }

    std::function<void()> onStop;
    bool stopped = false;
    int blocksAfterStop = 0;   // block commands written once the stop had come
    int inits = 0, validates = 0;   // CmdInit and CmdValidate written
    uint64_t longestWait = 0;
    uint64_t lastProgress = 0;   // a command written, or one seen finished
    uint64_t opCap = 0;

    void OutPortByte(uint16_t port, uint16_t data) override
    {
        Step();
        nb_.OutPortByte(port, data);
        const uint8_t v = data & 0xFF;
        if (port == 0x4E)
            index_ = v;
        else if (index_ == 0x2E)
            reg_ = v;
        else if (index_ == 0x2F && reg_ == 0x11)
            high_ = v;
        else if (index_ == 0x2F && reg_ == 0x10)
            low_ = v;
        else if (index_ == 0x2F && reg_ == 0x12)
            Access(true, v);
    }
    uint16_t InPortByte(uint16_t port) override
    {
        Step();
        const uint16_t v = nb_.InPortByte(port);
        if (port == 0x4F && index_ == 0x2F && reg_ == 0x12)
            Access(false, v & 0xFF);
        return v;
    }
    void Mark() { floor_ = nowMicros; }
    // The drawn stop is the case's, not a later check's.
    void Disarm() { fireAt_ = 0, armed_ = false; }

private:
    void Step()
    {
        ++nowMicros;
        if (++ops_ > opCap && !dead_) {
            dead_ = true;
            throw Hang("still running after " + std::to_string(opCap) + " port operations");
        }
        if (fireAt_ != 0 && ops_ >= fireAt_)
            Fire();
        if (pauseSince_ != 0 && nowMicros >= pauseSince_ + c_.pauseHold) {
            fs::remove(pauseFile_);
            pauseSince_ = 0;
        }
    }
    void Fire()
    {
        fireAt_ = 0;
        stopped = true;
        Mark();
        onStop();
    }
    void Access(bool write, uint8_t v)
    {
        if ((high_ << 8 | low_) != pd::PdCommand) {
            waiting_ = false;
            return;
        }
        if (write) {
            waiting_ = false;
            lastProgress = nowMicros;
            const int n = ++count_[v];
            inits += v == pd::CmdInit;
            validates += v == pd::CmdValidate;
            if (armed_ && c_.stop != Stop::None && v == c_.stopCommand && n == c_.stopNth) {
                fireAt_ = ops_ + c_.stopAt;
                if (c_.stopAt == 0)
                    Fire();
            }
            if (v != pd::CmdWriteBlock && v != pd::CmdReadBlock)
                return;
            blocksAfterStop += stopped;
            if (++blockCommands_ == c_.ec.pauseAfterBlocks + 1 && c_.ec.pauseAfterBlocks != 0 && c_.pauseHold != Never)
                pauseSince_ = nowMicros;
            return;
        }
        if (!waiting_) {
            waiting_ = true;
            waitSince_ = nowMicros;
        }
        const uint64_t span = nowMicros - std::max(waitSince_, floor_);
        longestWait = std::max(longestWait, span);
        if (span > 20 * Bound && !dead_) {
            dead_ = true;
            throw Hang("waited " + std::to_string(span) + " us on a busy EC");
        }
        if (v == 0) {
            waiting_ = false;
            lastProgress = nowMicros;
        }
    }

    sim::SimNotebook& nb_;
    const Case& c_;
    fs::path pauseFile_;
    uint64_t fireAt_;
    uint64_t ops_ = 0, floor_ = 0, waitSince_ = 0, pauseSince_ = 0;
    bool waiting_ = false, dead_ = false, armed_ = true;
    uint8_t index_ = 0, reg_ = 0, high_ = 0, low_ = 0;
    int count_[256] = {};
    int blockCommands_ = 0;
};

// ---- one case's world and its verdict ----

struct Verdict {
    std::vector<std::string> broken;
    void Expect(bool ok, const std::string& what)
    {
        if (!ok)
            broken.push_back(what);
    }
};

Bytes Random(Rng& r, size_t n)
{
    Bytes b(n);
    for (auto& x : b)
        x = static_cast<uint8_t>(r.Next());
    return b;
}

bool StartsWith(const std::string& s, const char* p) { return s.rfind(p, 0) == 0; }
bool Has(const std::string& s, const char* p) { return s.find(p) != std::string::npos; }

struct World {
    const Case& c;
    fs::path dir;
    std::unique_ptr<sim::SimNotebook> nb;
    std::unique_ptr<Probe> probe;
    Bytes flashBefore[2];
    Verdict v;
    bool verbose = false;
    // Violations the window's first tick makes by design: it fills the
    // transfer window without a busy test.
    std::vector<size_t> fills;

    explicit World(const Case& cs) : c(cs), dir(ScratchDir() / ("seed-" + std::to_string(cs.seed)))
    {
        fs::remove_all(dir);
        fs::create_directories(dir);
        // Only a folder's notebook pauses.
        nb = c.ec.pauseAfterBlocks ? sim::SimNotebook::InitFolder(dir / "nb") : std::make_unique<sim::SimNotebook>();
        Rng r{c.seed ^ 0xF1A5};
        for (int p = 1; p <= 2; ++p) {
            flashBefore[p - 1] = Random(r, sim::FlashSize);
            nb->WriteFlash(p, 0, flashBefore[p - 1]);
        }
        nb->GetSettings() = c.ec;
        probe = std::make_unique<Probe>(*nb, c, dir / "nb" / "paused");
        probe->opCap = 40'000'000;
    }
    ~World()
    {
        if (broken().empty())
            fs::remove_all(dir);
    }
    const std::vector<std::string>& broken() const { return v.broken; }

    uint32_t FirstAddress() const { return c.first << 8; }
    uint32_t EndAddress() const { return std::min(c.end, 0x400u) << 8; }
    Bytes Range(const Bytes& flash) const
    {
        return c.Blocks() ? Bytes(flash.begin() + FirstAddress(), flash.begin() + EndAddress()) : Bytes();
    }
    // The range as the EC hands it over: corrupt_reads inverts one byte.
    Bytes AsRead() const { return AsRead(flashBefore[c.port - 1]); }
    Bytes AsRead(const Bytes& flash) const
    {
        Bytes b = Range(flash);
        const auto& f = c.ec.faults;
        if (f.corruptReads && f.corruptAddress >= FirstAddress() && f.corruptAddress < EndAddress())
            b[f.corruptAddress - FirstAddress()] ^= 0xFF;
        return b;
    }
    Bytes FlashNow() const { return Bytes(nb->Flash(c.port).begin(), nb->Flash(c.port).end()); }
    // A success must be true: the flash holds the image, or, where the EC
    // lies (drops the writes, corrupts what it reads), a read-back that
    // matched saw the image.
    void ExpectFlashed(const Bytes& wanted, bool verified, const char* who)
    {
        const bool lies = c.ec.faults.ignoreWritesPort == c.port || c.ec.faults.corruptReads;
        v.Expect(Range(FlashNow()) == wanted || (lies && (!verified || AsRead(FlashNow()) == wanted)),
                 std::string(who) + " reported success, but the flash range does not hold the image");
    }
    // The EC finishes the timed work in hand, as it would once the tool has gone.
    sim::EcMode Settled()
    {
        if (c.ec.busyMicros) {
            nowMicros += 4 * Bound;
            EcRam(nb.get()).EcRamRead(pd::PdCommand);
        }
        return nb->Mode();
    }
    void ExpectWaitsBounded(const char* who)
    {
        v.Expect(probe->longestWait <= Bound + 3 * BusyTest,
                 std::string(who) + " waited " + std::to_string(probe->longestWait) + " us on the EC, past its " +
                     std::to_string(Bound) + " us bound");
        probe->longestWait = 0;
    }
    void ExpectOnly(std::initializer_list<const char*> names)
    {
        for (const auto& entry : fs::directory_iterator(dir)) {
            const std::string name = entry.path().filename().string();
            v.Expect(name == "nb" || std::find_if(names.begin(), names.end(), [&](const char* n) { return name == n; }) !=
                                         names.end(),
                     "left behind in the folder: " + name);
        }
    }
    void Finish()
    {
        const auto& seen = nb->Violations();
        for (size_t i = 0; i < seen.size(); ++i)
            v.Expect(std::find(fills.begin(), fills.end(), i) != fills.end(), "the EC saw: " + seen[i]);
        for (int p = 1; p <= 2; ++p) {
            const auto now = nb->Flash(p);
            const Bytes& was = flashBefore[p - 1];
            const size_t from = p == c.port ? FirstAddress() : 0, to = p == c.port ? EndAddress() : 0;
            bool same = std::equal(now.begin(), now.begin() + static_cast<long>(from), was.begin()) &&
                        std::equal(now.begin() + static_cast<long>(to), now.end(), was.begin() + static_cast<long>(to));
            v.Expect(same, "port " + std::to_string(p) + "'s flash changed outside the range");
        }
    }
};

std::optional<Bytes> FileBytes(const fs::path& p)
{
    if (!fs::exists(p))
        return std::nullopt;
    return ReadFile(p.string());
}

// ---- vykuu ----

struct ToolRun {
    int code = -1;
    std::string hang;
    std::vector<std::string> lines;
    std::string summary;
};

// One vykuu command in process, its console caught.
enum class Command { Read, Flash, Reset };

ToolRun Vykuu(World& w, Command command, const std::string& file = {}, const std::string& imageAt = {},
              const std::string& backup = {})
{
    const Case& c = w.c;
    // A process of its own: a stop asked for of the one before is gone.
    vyk::platform::ClearStopRequest();
    w.probe->stopped = false;
    w.probe->blocksAfterStop = 0;
    w.probe->inits = w.probe->validates = 0;
    w.probe->onStop = vyk::platform::RaiseStopRequest;
    char* text = nullptr;
    size_t size = 0;
    std::FILE* log = open_memstream(&text, &size);
    ToolRun run;
    {
        cli::ConsoleOptions options;
        options.json = c.json;
        options.out = options.err = log;
        cli::Console console(options);
        cli::JsonSummary summary;
        cli::CommonOptions common;
        common.backend.openPorts = w.probe.get();
        common.timeoutSeconds = Bound / 1e6;
        const cli::RangeOptions range{c.port, c.startText, c.endText};
        w.probe->Mark();
        try {
            if (command == Command::Reset) {
                run.code = cli::RunReset(common, {c.port}, console, summary);
            } else if (command == Command::Read) {
                // An output that exists is replaced only when asked for: asked,
                // so the replace is what is explored.
                run.code = cli::RunRead(common, {range, file, true}, console, summary);
            } else {
                cli::FlashOptions o{range, file, c.verify, c.allowShort, imageAt, backup};
                o.allowBattery = true;   // the host's own battery must not decide
                o.allowLowRange = true;  // ranges from 0 on are explored as well
                run.code = cli::RunFlash(common, o, console, summary);
            }
        } catch (const Hang& e) {
            run.hang = e.what();
        }
        run.summary = summary.Text();
    }
    std::fclose(log);
    for (const char *p = text, *e = text + size; p < e;) {
        const char* n = std::find(p, e, '\n');
        run.lines.emplace_back(p, n);
        p = n + 1;
    }
    std::free(text);
    if (w.verbose) {
        for (const auto& line : run.lines)
            std::printf("  | %s\n", line.c_str());
        std::printf("  exit %d %s\n", run.code, run.summary.c_str());
    }
    return run;
}

// What every vykuu run promises, whatever happened under it.
void ExpectToolEnd(World& w, const ToolRun& run, const char* who, const char* success)
{
    Verdict& v = w.v;
    const std::string what = std::string(who) + " (exit " + std::to_string(run.code) + ")";
    Count("vykuu " + what, run.lines);
    v.Expect(run.hang.empty(), std::string(who) + " did not end: " + run.hang);
    if (!run.hang.empty())
        return;
    w.ExpectWaitsBounded(who);
    const std::string last = run.lines.empty() ? std::string() : run.lines.back();
    const bool left = Has(run.summary, "\"pdMayBeInBootLoader\": true");
    if (run.code == 0) {
        v.Expect(StartsWith(last, success), what + " ended with \"" + last + "\", not its result");
        v.Expect(!Has(run.summary, "\"error\""), what + " succeeded with an error in its summary");
    } else {
        // The last line is the error or, when the PD may be stranded, the advice.
        const std::string said = StartsWith(last, "vykuu: ") ? last.substr(7) : last;
        v.Expect(Has(run.summary, ((left ? "\"advice\": " : "\"error\": ") + cli::JsonText(said)).c_str()),
                 what + " ended with \"" + last + "\", not its error");
        const char* word = run.code == 5 ? "stayed busy" : run.code == 6 ? "verify: " : run.code == 7 ? "range refused"
                         : run.code == 8 ? "interrupted" : run.code == 10 ? "no EC answers" : "";
        const std::string error = left && run.lines.size() > 1 ? run.lines[run.lines.size() - 2] : last;
        v.Expect(Has(error, word), what + "'s error \"" + error + "\" does not say \"" + word + "\"");
    }
    v.Expect(run.code != 8 || w.probe->stopped, what + " says interrupted, but no stop was asked for");
    // Told untouched, the PD had no CmdInit that a validate did not close.
    const bool untouched = std::any_of(run.lines.begin(), run.lines.end(),
                                       [](const std::string& l) { return Has(l, "the PD was not touched"); });
    v.Expect(!untouched || w.probe->inits == w.probe->validates,
             what + " says the PD was not touched after a CmdInit that no validate closed");
    // The block in flight completes; none follows it.
    v.Expect(w.probe->blocksAfterStop <= 1,
             what + " sent " + std::to_string(w.probe->blocksAfterStop) + " block commands after the stop request");
    const sim::EcMode mode = w.Settled();
    v.Expect(run.code == 5 || mode == sim::EcMode::Normal,
             what + " left the PD in " + sim::EcModeName(mode) + " mode");
    v.Expect(mode == sim::EcMode::Normal || left, what + " left the PD in " + sim::EcModeName(mode) +
                                                      " mode without saying so");
    if (!left || !std::strcmp(who, "reset"))
        return;
    // The advice holds: once the EC answers again, vykuu reset puts the PD right.
    w.nb->GetSettings().faults = {};
    w.nb->GetSettings().pauseAfterBlocks = 0;
    fs::remove(w.dir / "nb" / "paused");
    if (w.nb->EcRamByte(pd::PdCommand) != 0)
        w.nb->SetEcRamByte(pd::PdCommand, 0);
    nowMicros += 50'000;
    w.probe->Disarm();
    const ToolRun reset = Vykuu(w, Command::Reset);
    ExpectToolEnd(w, reset, "reset", w.c.json ? "reset: " : "PORT");
    v.Expect(reset.code == 0, "the advice's vykuu reset did not put the PD right (exit " + std::to_string(reset.code) + ")");
}

void ToolCase(World& w)
{
    const Case& c = w.c;
    Verdict& v = w.v;
    const fs::path image = w.dir / "image.bin", output = w.dir / "read.bin", backup = w.dir / "backup.bin";
    Rng r{c.seed ^ 0x1A6E};
    if (c.outputExists)
        WriteFile(output.lexically_relative(ScratchDir()).string(), Random(r, 100));
    if (c.backupExists)
        WriteFile(backup.lexically_relative(ScratchDir()).string(), Random(r, 100));
    const std::optional<Bytes> outputBefore = FileBytes(output), backupBefore = FileBytes(backup);
    const std::string firstAt = Hex6(w.FirstAddress());

    std::string flashing = image.string(), imageAt = c.imageAtText;
    Bytes placed(pd::ImageBufferSize, 0xFF);
    if (c.Reads()) {
        const ToolRun run = Vykuu(w, Command::Read, output.string());
        ExpectToolEnd(w, run, "read", "saved: ");
        const std::optional<Bytes> saved = FileBytes(output);
        if (run.code == 0)
            v.Expect(saved == w.AsRead(), "read reported success, but the file does not hold the range");
        else
            v.Expect(saved == outputBefore, "a failed read changed its output file");
        w.ExpectOnly({"read.bin", "read.bin.json"});
        if (run.code != 0 || c.job == Job::Read || !run.hang.empty())
            return;
        std::copy(saved->begin(), saved->end(), placed.begin() + w.FirstAddress());
        flashing = output.string();
        imageAt = firstAt;
        nowMicros += 50'000;   // another process starts
    } else {
        const Bytes bytes = Random(r, c.imageSize);
        WriteFile(image.lexically_relative(ScratchDir()).string(), bytes);
        if (c.imageAt + bytes.size() <= placed.size())
            std::copy(bytes.begin(), bytes.end(), placed.begin() + c.imageAt);
    }
    const ToolRun run = Vykuu(w, Command::Flash, flashing, imageAt, c.backup ? backup.string() : std::string());
    ExpectToolEnd(w, run, "flash", c.verify ? "verified: " : "written: ");
    if (run.code == 0)
        w.ExpectFlashed(w.Range(placed), c.verify, "flash");
    const std::optional<Bytes> kept = FileBytes(backup);
    if (c.backupExists)
        v.Expect(kept == backupBefore, "flash replaced an existing backup");
    else if (kept)
        v.Expect(kept == w.AsRead(), "the backup does not hold the range as it was");
    else
        v.Expect(!c.backup || run.code != 0, "flash reported success without the backup asked for");
    v.Expect(FileBytes(output) == outputBefore || c.job == Job::ReadThenFlash, "flash touched the read's file");
    w.ExpectOnly({"image.bin", "read.bin", "backup.bin", "read.bin.json", "backup.bin.json"});
}

// ---- the window ----

struct Window {
    World& w;
    app::MemoryToolkit tk;
    app::test::FakePortPlatform platform;
    std::unique_ptr<app::TForm1> form;
    bool closeDue = false, closed = false;
    uint64_t due[3] = {};
    bool on[3] = {};

    explicit Window(World& world) : w(world)
    {
        static const uint8_t library[] = {'M', 'Z'};
        platform.io = w.probe.get();
        platform.loadFails = w.c.noPortAccess;
        w.probe->onStop = [this] { closeDue = true; };
        w.probe->Mark();
        form = std::make_unique<app::TForm1>(
            tk, platform, library,
            [] {
                std::tm t{};
                t.tm_year = 126, t.tm_mon = 1, t.tm_mday = 3, t.tm_hour = 21, t.tm_min = 5, t.tm_sec = 7;
                return t;
            },
            std::chrono::microseconds(Bound));
    }
    bool Running() const { return form->SequenceBusy(); }

    // The message loop: each enabled timer ticks at its period in virtual
    // time; a close that came during a handler is handled next. Runs while
    // `going`, at most `span` µs, or until nothing has moved for `still` µs.
    void Pump(uint64_t span, uint64_t still, const std::function<bool()>& going)
    {
        static constexpr int ids[3] = {app::IdTimer1, app::IdTimer2, app::IdTimer3};
        static constexpr uint64_t periods[3] = {1'000'000, 100'000, 10'000};
        const uint64_t end = nowMicros + span;
        w.probe->lastProgress = nowMicros;
        while (!closed && going()) {
            if (closeDue) {
                Close();
                return;
            }
            int next = -1;
            for (int i = 0; i < 3; ++i) {
                const bool enabled = tk.Timer(ids[i]).enabled;
                if (enabled && !on[i])
                    due[i] = nowMicros + periods[i];
                on[i] = enabled;
                if (enabled && (next < 0 || due[i] < due[next]))
                    next = i;
            }
            if (next < 0 || due[next] > end || nowMicros - w.probe->lastProgress > still)
                return;
            nowMicros = std::max(nowMicros, due[next]);
            w.probe->Mark();
            const bool filling = (next == 1 && form->FlashWrite().FlashState() == 1) ||
                                 (next == 2 && form->FlashRead().ReadState() == 1);
            const size_t seen = w.nb->Violations().size();
            try {
                tk.Tick(ids[next]);
                for (size_t i = seen; filling && i < w.nb->Violations().size(); ++i)
                    if (StartsWith(w.nb->Violations()[i], "mailbox byte 0xCC00 written while PdCommand reads busy"))
                        w.fills.push_back(i);
            } catch (const Hang& e) {
                w.v.Expect(false, std::string("the window did not end a tick: ") + e.what());
                closed = true;
                return;
            }
            due[next] = std::max(due[next] + periods[next], nowMicros);
        }
    }
    void Close()
    {
        const bool running = Running();
        if (running)
            w.v.Expect(!tk.QueryEndSession(), "the window let the session end while a sequence ran");
        w.probe->Mark();
        try {
            if (w.c.stop == Stop::EndSession)
                tk.EndSession(true);
            else
                tk.Close();
        } catch (const Hang& e) {
            w.v.Expect(false, std::string("the window's close did not end: ") + e.what());
        }
        closed = true;
        w.v.Expect(!Running(), "a sequence still runs after the close");
        w.v.Expect(w.nb->EcRamByte(pd::HostActive) == 0, "the EC was not told that the window went");
        w.ExpectWaitsBounded("the window's close");
    }
    // A sequence from its click to its end (a flash's with its read-back):
    // its last line names how it ended, followed, where the EC stayed busy,
    // by where the PD may be.
    pd::SequenceOutcome Sequence(int button, const pd::FirmwareSequence& seq, const char* completed)
    {
        if (closed || !tk.Click(button))
            return pd::SequenceOutcome::None;
        const Case& c = w.c;
        const uint64_t still = (c.ec.busyReads + 3) * 100'000 + c.ec.busyMicros + 2'000'000 +
                               (c.pauseHold == Never ? 0 : c.pauseHold);
        Pump(UINT64_MAX / 2, still, [&] { return Running(); });
        if (Running()) {
            // Only a busy EC holds a sequence that polls once a tick.
            w.v.Expect(EcRam(w.nb.get()).EcRamRead(pd::PdCommand) != 0, "a window sequence waits on an idle EC");
            Close();
        }
        w.ExpectWaitsBounded("a window sequence");
        const auto& log = tk.LogLines();
        const bool advised = !log.empty() && Has(log.back(), "may be left in its boot loader");
        const std::string last = log.size() < (advised ? 2u : 1u) ? std::string() : log[log.size() - (advised ? 2 : 1)];
        using O = pd::SequenceOutcome;
        // A completed flash ends with its read-back.
        const bool flash = button == app::IdButton2;
        const bool readBack = flash && seq.Outcome() == O::Completed;
        const pd::FirmwareSequence& ended = readBack ? form->Verify() : seq;
        const O o = readBack && ended.Outcome() == O::None ? O::Stopped : ended.Outcome();
        static const char* const names[] = {"none", "running", "completed", "range refused", "EC stayed busy",
                                            "stopped", "no port access"};
        Count(std::string("window ") + (flash ? (readBack ? "read-back" : "flash") : "read") + ": " +
                  names[static_cast<int>(o)],
              tk.LogLines());
        const char* done = readBack ? "Verify " : completed;
        const char* word = o == O::Completed ? done
                         : o == O::Stopped ? (readBack && !Has(last, "stopped on request") ? "not read back"
                                                                                           : "stopped on request")
                         : o == O::EcStayedBusy ? "stayed busy" : o == O::RangeRefused ? "range refused" : "no access";
        w.v.Expect(Has(last, word), "a window sequence ended with \"" + last + "\", not \"" + word + "\"");
        w.v.Expect(advised == (o == O::EcStayedBusy), "a window sequence's EC stayed busy without the PD's state said, "
                                                      "or the state said without it");
        if (readBack && o == O::Completed) {
            const bool lies = c.ec.faults.ignoreWritesPort == c.port || c.ec.faults.corruptReads;
            w.v.Expect(form->Verify().Verified() || lies, "the window's read-back differs on an EC that does not lie");
            w.v.Expect(Has(last, form->Verify().Verified() ? "Verify OK" : "Verify FAILED"),
                       "the window's read-back line does not match its result");
        }
        if (readBack && o != O::Completed)
            for (const auto& line : log)
                w.v.Expect(!Has(line, "Verify OK"), "a read-back that did not complete said the flash matched");
        const sim::EcMode mode = w.Settled();
        w.v.Expect(o == O::EcStayedBusy || mode == sim::EcMode::Normal,
                   std::string("a window sequence left the PD in ") + sim::EcModeName(mode) + " mode");
        w.v.Expect(mode == sim::EcMode::Normal || Has(last, "no reset could be sent") || Has(last, "or reset sent"),
                   std::string("a window sequence left the PD in ") + sim::EcModeName(mode) + " mode without saying so");
        return seq.Outcome();
    }
};

void WindowCase(World& w)
{
    const Case& c = w.c;
    Verdict& v = w.v;
    Window win(w);
    using app::MemoryToolkit;
    if (c.port == 2)
        win.tk.Click(app::IdRadioButton2);
    win.Pump(1'500'000, UINT64_MAX, [] { return true; });   // the monitor selects the port
    Bytes wanted;
    if (c.Reads()) {
        win.tk.Type(app::IdEdit3, c.startText);
        win.tk.Type(app::IdEdit4, c.endText);
        const int32_t lengthBefore = win.form->Image().ImageLength;
        const auto o = win.Sequence(app::IdButton3, win.form->FlashRead(), "Read Cypess PD FW Completed!");
        const pd::ImageStore& image = win.form->Image();
        const fs::path saved = w.dir / "read.bin";
        if (o == pd::SequenceOutcome::Completed) {
            wanted.assign(image.ImageBuffer.begin(), image.ImageBuffer.begin() + image.ImageLength);
            v.Expect(wanted == w.AsRead(), "the window's read completed, but its buffer does not hold the range");
            if (!win.closed) {
                win.tk.AnswerNextDialog(saved.string());
                win.tk.Click(app::IdButton4);
                // At its flash addresses, 0xFF below them.
                Bytes file(w.FirstAddress(), 0xFF);
                file.insert(file.end(), wanted.begin(), wanted.end());
                v.Expect(FileBytes(saved) == file, "Save Bin File does not hold the range read at its addresses");
            }
        } else {
            v.Expect(image.ImageLength == lengthBefore, "a read that did not complete changed the image in memory");
        }
    }
    if (c.Flashes()) {
        if (c.job == Job::Flash) {
            Rng r{c.seed ^ 0x1A6E};
            const Bytes bytes = Random(r, c.imageSize);
            win.tk.AnswerNextDialog(WriteFile(("seed-" + std::to_string(c.seed)) + "/image.bin", bytes));
            win.tk.Click(app::IdButton1);
            wanted.assign(pd::ImageBufferSize, 0xFF);
            std::copy(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), wanted.size()), wanted.begin());
            wanted = w.Range(wanted);
        }
        win.tk.Type(app::IdEdit1, c.startText);
        win.tk.Type(app::IdEdit2, c.endText);
        if (win.Sequence(app::IdButton2, win.form->FlashWrite(), "Cypess PD FW Update Completed!") ==
            pd::SequenceOutcome::Completed)
            w.ExpectFlashed(wanted, false, "the window's flash");
    }
    if (!win.closed)
        win.Pump(c.stop == Stop::None ? 0 : 1'000'000, UINT64_MAX, [] { return true; });
    if (!win.closed)
        win.Close();
    w.ExpectOnly({"image.bin", "read.bin"});
    if (w.verbose)
        for (const auto& line : win.tk.LogLines())
            std::printf("  | %s\n", line.c_str());
}

// ---- driving ----

std::vector<std::string> RunCase(const Case& c, bool verbose)
{
    nowMicros = 1'000'000;
    World w(c);
    w.verbose = verbose;
    if (verbose)
        std::printf("seed %llu: %s\n", static_cast<unsigned long long>(c.seed), Describe(c).c_str());
    try {
        if (c.window)
            WindowCase(w);
        else
            ToolCase(w);
        w.Finish();
    } catch (const std::exception& e) {
        w.v.Expect(false, std::string("an exception escaped: ") + e.what());
    }
    return w.broken();
}

} // namespace

int main(int argc, char** argv)
{
    uint64_t first = 1, count = 3000;
    std::optional<uint64_t> one;
    bool verbose = false, showTally = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool more = i + 1 < argc;
        if (a == "--first" && more)
            first = std::strtoull(argv[++i], nullptr, 10);
        else if (a == "--count" && more)
            count = std::strtoull(argv[++i], nullptr, 10);
        else if (a == "--seed" && more)
            one = std::strtoull(argv[++i], nullptr, 10);
        else if (a == "--verbose")
            verbose = true;
        else if (a == "--tally")
            showTally = true;
        else {
            std::fprintf(stderr, "usage: %s [--first SEED] [--count N] [--tally] | --seed SEED [--verbose]\n",
                         argv[0]);
            return 2;
        }
    }
    // A case's files live in memory where the system offers it: the output
    // files' syncs cost nothing there.
    if (!std::getenv("TMPDIR") && fs::is_directory("/dev/shm"))
        setenv("TMPDIR", "/dev/shm", 1);
    SetWaitClock(VirtualNow);

    std::vector<uint64_t> seeds;
    if (one) {
        seeds.push_back(*one);
    } else {
        for (uint64_t s : KeptSeeds)
            if (s < first || s >= first + count)
                seeds.push_back(s);
        for (uint64_t s = first; s < first + count; ++s)
            seeds.push_back(s);
    }
    const auto began = std::chrono::steady_clock::now();
    size_t failed = 0;
    for (uint64_t seed : seeds) {
        const Case c = Draw(seed);
        const std::vector<std::string> broken = RunCase(c, verbose);
        if (broken.empty())
            continue;
        ++failed;
        std::printf("seed %llu broke %zu invariant(s):\n", static_cast<unsigned long long>(seed), broken.size());
        for (const auto& b : broken)
            std::printf("  - %s\n", b.c_str());
        std::printf("  case: %s\n  replay: %s --seed %llu --verbose\n", Describe(c).c_str(), argv[0],
                    static_cast<unsigned long long>(seed));
        std::fflush(stdout);
    }
    if (showTally)
        for (const auto& [end, n] : tally)
            std::printf("%7d  %s\n", n, end.c_str());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("%zu schedules in %.1f s (%.0f per second); %zu broke an invariant\n", seeds.size(), seconds,
                seeds.size() / std::max(seconds, 1e-9), failed);
    return failed ? 1 : 0;
}
