// vykuu run as a script runs it, against simulated notebook folders.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "sim/SimNotebook.h"

namespace fs = std::filesystem;
using vyk::sim::SimNotebook;

namespace {

struct ToolRun {
    int code = -1;        // the exit code, or -1 when it ended by a signal
    int signal = 0;       // the signal that ended it
    std::string out, err;
    std::vector<std::string> OutLines() const
    {
        std::vector<std::string> lines;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
};

std::string ReadText(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<uint8_t> ReadBytes(const fs::path& p)
{
    const std::string s = ReadText(p);
    return {s.begin(), s.end()};
}

void WriteBytes(const fs::path& p, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> RandomImage(size_t size, unsigned seed)
{
    std::mt19937 gen(seed);
    std::vector<uint8_t> bytes(size);
    for (auto& b : bytes)
        b = static_cast<uint8_t>(gen());
    return bytes;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// What runs a command as an ordinary user: nothing when the tests are not
// root, setpriv as nobody when they are; false when root has no setpriv.
bool AsOrdinaryUser(std::string& prefix)
{
    prefix.clear();
    if (::geteuid() != 0)
        return true;
    if (std::system("setpriv --version >/dev/null 2>&1") != 0)
        return false;
    prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    return true;
}

class CliRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() /
               ("vykuu-test-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(Sim());
        SimNotebook::OpenFolder(Sim());   // defaults: erased flash, versions 10.. and 20..
    }
    void TearDown() override
    {
        if (!HasFailure())
            fs::remove_all(dir_);
    }

    fs::path Sim() const { return dir_ / "nb"; }
    fs::path File(const char* name) const { return dir_ / name; }

    // Runs vykuu with the simulator folder and these arguments, and the
    // environment's `env` ("NAME=VALUE") when given; no terminal, so no
    // progress bar.
    ToolRun Vykuu(const std::string& args, bool withSim = true, const std::string& env = {})
    {
        const fs::path out = dir_ / "stdout.txt", err = dir_ / "stderr.txt";
        std::string cmd = (env.empty() ? "" : "exec env " + env + " ") + Quote(VYKUU_PATH);
        if (withSim)
            cmd += " --sim " + Quote(Sim().string());
        cmd += " " + args + " >" + Quote(out.string()) + " 2>" + Quote(err.string()) + " </dev/null";
        const int status = std::system(cmd.c_str());
        ToolRun r;
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        r.out = ReadText(out);
        r.err = ReadText(err);
        return r;
    }

    // Starts vykuu in the background, as Vykuu() would run it.
    pid_t Start(const std::string& args)
    {
        const fs::path out = dir_ / "stdout.txt", err = dir_ / "stderr.txt";
        fs::remove(out);
        fs::remove(err);
        const std::string cmd = "exec " + Quote(VYKUU_PATH) + " --sim " + Quote(Sim().string()) + " " + args + " >" +
                                Quote(out.string()) + " 2>" + Quote(err.string()) + " </dev/null";
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        return pid;
    }
    ToolRun Wait(pid_t pid)
    {
        int status = 0;
        ::waitpid(pid, &status, 0);
        ToolRun r;
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        r.out = ReadText(dir_ / "stdout.txt");
        r.err = ReadText(dir_ / "stderr.txt");
        return r;
    }
    // Waits up to 10 s for the file, or for the text in it.
    static bool Appears(const fs::path& file, const std::string& text = {})
    {
        for (int i = 0; i < 1000; ++i) {
            if (fs::exists(file) && (text.empty() || ReadText(file).find(text) != std::string::npos))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    // Starts vykuu on a notebook that holds its `blocks + 1`-th block command
    // until the "paused" file goes; returns once it is held there.
    pid_t StartPaused(const std::string& args, int blocks)
    {
        Configure([&](vyk::sim::Settings& s) { s.pauseAfterBlocks = blocks; });
        const pid_t pid = Start(args);
        EXPECT_TRUE(Appears(Sim() / "paused")) << "the simulator did not pause";
        return pid;
    }
    void Resume() { fs::remove(Sim() / "paused"); }
    // The tool, signalled while the simulator holds block `blocks` + 1;
    // the block completes once the first note is out.
    ToolRun SignalledAt(const std::string& args, int blocks, int signal)
    {
        const pid_t pid = StartPaused(args, blocks);
        ::kill(pid, signal);
        EXPECT_TRUE(Appears(dir_ / "stderr.txt", "interrupt again to end at once"));
        Resume();
        return Wait(pid);
    }

    template <class F>
    void Configure(F change)
    {
        auto sim = SimNotebook::OpenFolder(Sim());
        change(sim->GetSettings());
        sim->SaveSettings();
    }

    uint8_t EcRamByte(uint16_t address) { return SimNotebook::OpenFolder(Sim())->EcRamByte(address); }

    // vyksimctl with these arguments, its output in `out` when given; the exit code.
    int Simctl(const std::string& args, std::string* out = nullptr)
    {
        const fs::path simctl = fs::path(VYKUU_PATH).parent_path().parent_path() / "sim" / "vyksimctl";
        const fs::path file = dir_ / "simctl.txt";
        const int status = std::system((Quote(simctl.string()) + " " + args + " >" + Quote(file.string()) +
                                        " 2>&1 </dev/null").c_str());
        if (out)
            *out = ReadText(file);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::vector<uint8_t> Flash(int port)
    {
        auto sim = SimNotebook::OpenFolder(Sim());
        const auto span = sim->Flash(port);
        return {span.begin(), span.end()};
    }

    fs::path dir_;
};

std::vector<uint8_t> Slice(const std::vector<uint8_t>& v, size_t from, size_t to)
{
    return {v.begin() + static_cast<std::ptrdiff_t>(from), v.begin() + static_cast<std::ptrdiff_t>(to)};
}

// Stamps off; stamped lines must carry the window's exact stamp shape.
std::vector<std::string> Unstamped(const std::vector<std::string>& lines)
{
    static const std::regex stamp(R"(^\d\d/\d\d/\d\d  \d\d:\d\d:\d\d >> (.*)$)");
    std::vector<std::string> out;
    for (const auto& line : lines) {
        std::smatch m;
        out.push_back(std::regex_match(line, m, stamp) ? "STAMP " + m[1].str() : line);
    }
    return out;
}

std::string Hex6(uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%06X", v);
    return buf;
}

std::vector<std::string> WindowFlashLog(uint32_t first, uint32_t end)
{
    std::vector<std::string> l = {"STAMP Cypress PD FW Flash Start", "Jump To Boot Mode Done.",
                                  "Enter Flashing Mode Done.", "Flashing...",
                                  "Flash Start Addr = 0x" + Hex6(first << 8), "Flash End Addr = 0x" + Hex6(end << 8)};
    for (uint32_t b = first; b < end; ++b)
        l.push_back("FlashAddr = 0x" + Hex6(b << 8));
    for (const char* s : {"Flash Done.", "Request The New Firmware To Be Validated Done", "Reset PD Register Done",
                          "STAMP Cypess PD FW Update Completed!"})
        l.push_back(s);
    return l;
}

std::vector<std::string> WindowReadLog(uint32_t first, uint32_t end)
{
    std::vector<std::string> l = {"STAMP Read Cypress PD FW Start", "Jump To Boot Mode Done.",
                                  "Enter Flashing Mode Done.", "Reading...",
                                  "Read Start Addr = 0x" + Hex6(first << 8), "Read End Addr = 0x" + Hex6(end << 8),
                                  "ReadCnt = 0x" + Hex6(end)};
    for (uint32_t b = first; b < end; ++b)
        l.push_back("ReadAddr = 0x" + Hex6(b << 8));
    for (const char* s : {"Read Done.", "Request The New Firmware To Be Validated Done", "Reset PD Register Done",
                          "STAMP Read Cypess PD FW Completed!"})
        l.push_back(s);
    return l;
}

} // namespace

// Flash with verify, then read back to a file, on each port: the range lands
// in that port's flash only, and the file holds the range from its start.
TEST_F(CliRun, FlashVerifyAndReadRoundTripOnBothPorts)
{
    for (int port : {1, 2}) {
        SCOPED_TRACE("port " + std::to_string(port));
        SetUp();
        const auto image = RandomImage(0x20000, 7u + port);
        WriteBytes(File("image.bin"), image);
        const int other = 3 - port;
        // The EC keeps the other port selected from an earlier run.
        ASSERT_EQ(Vykuu("version --port " + std::to_string(other)).code, 0);

        ToolRun r = Vykuu("flash --port " + std::to_string(port) + " " + Quote(File("image.bin").string()));
        ASSERT_EQ(r.code, 0) << r.err;
        const auto flash = Flash(port);
        EXPECT_EQ(Slice(flash, 0xC000, 0x1FF00), Slice(image, 0xC000, 0x1FF00));
        EXPECT_EQ(flash[0xBFFF], 0xFF);
        EXPECT_EQ(flash[0x1FF00], 0xFF) << "the end block is not written";
        EXPECT_EQ(Flash(other), std::vector<uint8_t>(vyk::sim::FlashSize, 0xFF));
        EXPECT_EQ(EcRamByte(0xD212), 0) << "the tool tells the EC it has gone";

        r = Vykuu("read --port " + std::to_string(port) + " -o " + Quote(File("out.bin").string()));
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(ReadBytes(File("out.bin")), Slice(image, 0xC000, 0x1FF00));
        EXPECT_FALSE(HasFailure());
        TearDown();
    }
}

// A range across 0x010000 given by the fields' own rules (C000 reads as
// 00C000 would; 0100FF ends at block 0x0100).
TEST_F(CliRun, FlashAndReadOfAShortRangeAcrossABankBoundary)
{
    const auto image = RandomImage(0x20000, 3);
    WriteBytes(File("image.bin"), image);
    ToolRun r = Vykuu("--json flash --port 1 --start FE00 --end 0101FF " + Quote(File("image.bin").string()));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("\"blocks\": 3"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"verified\": true"), std::string::npos) << r.out;
    const auto flash = Flash(1);
    EXPECT_EQ(Slice(flash, 0xFE00, 0x10100), Slice(image, 0xFE00, 0x10100));
    EXPECT_EQ(flash[0xFDFF], 0xFF);
    EXPECT_EQ(flash[0x10100], 0xFF);

    r = Vykuu("read --port 1 --start 00FE80 --end 010100 -o " + Quote(File("out.bin").string()));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadBytes(File("out.bin")), Slice(image, 0xFE00, 0x10100));
}

// The log is the window's, line for line; the stamps have its exact shape.
// One line of the tool's own says the result in words.
TEST_F(CliRun, LogLinesAreTheWindowsForTheDefaultRange)
{
    WriteBytes(File("image.bin"), RandomImage(0x20000, 1));
    ToolRun r = Vykuu("flash --port 1 --no-verify " + Quote(File("image.bin").string()));
    ASSERT_EQ(r.code, 0) << r.err;
    std::vector<std::string> expected = {" ", "Load File : " + File("image.bin").string(), "Load File Successed! ",
                                         "File Length: 131072 Byte"};
    const auto flashLog = WindowFlashLog(0xC0, 0x1FF);
    expected.insert(expected.end(), flashLog.begin(), flashLog.end());
    auto written = expected;
    written.push_back("written: 319 blocks 0x00C000..0x01FEFF of port 1, validated and the PD reset; not read back "
                      "(--no-verify)");
    EXPECT_EQ(Unstamped(r.OutLines()), written);

    r = Vykuu("read --port 2 --start 00C080 -o " + Quote(File("out.bin").string()));
    ASSERT_EQ(r.code, 0) << r.err;
    auto saved = WindowReadLog(0xC0, 0x1FF);
    saved[4] = "Read Start Addr = 0x00C080";
    saved.push_back("saved: 319 blocks 0x00C000..0x01FEFF of port 2, 81664 bytes, into " + File("out.bin").string() +
                    "; it flashes back with --image-at 00C000");
    EXPECT_EQ(Unstamped(r.OutLines()), saved);

    // Verify appends the read's log to the flash's.
    r = Vykuu("flash --port 2 " + Quote(File("image.bin").string()));
    ASSERT_EQ(r.code, 0) << r.err;
    const auto readLog = WindowReadLog(0xC0, 0x1FF);
    expected.insert(expected.end(), readLog.begin(), readLog.end());
    expected.push_back("verified: 319 blocks 0x00C000..0x01FEFF of port 2 match the image, all 81664 bytes read back");
    EXPECT_EQ(Unstamped(r.OutLines()), expected);

    r = Vykuu("--quiet flash --port 2 " + Quote(File("image.bin").string()));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST_F(CliRun, VersionShowsTheLabelOfEachPort)
{
    Configure([](vyk::sim::Settings& s) { s.version[1] = {0x0A, 0xFF, 0, 1, 2, 3, 4, 5}; });
    ToolRun r = Vykuu("version --port 2");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "PORT2 FW2 VER : 0A FF 00 01 02 03 04 05 \n");
    r = Vykuu("version");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "PORT1 FW2 VER : 10 11 12 13 14 15 16 17 \nPORT2 FW2 VER : 0A FF 00 01 02 03 04 05 \n");
    r = Vykuu("--json version --port 1");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("\"version\": \"10 11 12 13 14 15 16 17\""), std::string::npos) << r.out;
}

// A flash whose reads come back with one byte inverted: the verify names it.
// The fault's address is set as vykuu reads addresses (no 0x); the
// message says what the PD may hold now and what to do next.
TEST_F(CliRun, VerifyMismatchNamesTheFirstDifferingAddress)
{
    WriteBytes(File("image.bin"), RandomImage(0x20000, 5));
    ASSERT_EQ(Simctl("set " + Quote(Sim().string()) + " corrupt_reads=yes corrupt_address=012345"), 0);
    EXPECT_EQ(Simctl("set " + Quote(Sim().string()) + " corrupt_address=12G45"), 1) << "not an address";
    ToolRun r = Vykuu("--json flash --port 2 " + Quote(File("image.bin").string()));
    EXPECT_EQ(r.code, 6) << r.err;
    EXPECT_NE(r.err.find("flash address 0x012345"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("port 2 was written, validated and reset, but holds bytes that differ from " +
                         File("image.bin").string() + ": it may run a damaged firmware or stay in its boot loader. "
                         "Keep the notebook powered and flash again"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("\"firstMismatch\": \"012345\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"mismatchedBytes\": 1,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"pdMayBeInBootLoader\": true"), std::string::npos) << r.out;
    EXPECT_NE(ReadText(Sim() / "settings.txt").find("corrupt_address = 012345"), std::string::npos);
    // The range's last byte is compared too.
    Configure([](vyk::sim::Settings& s) { s.faults.corruptAddress = 0x01FEFF; });
    r = Vykuu("flash --port 2 --start 01FE00 " + Quote(File("image.bin").string()));
    EXPECT_EQ(r.code, 6) << r.err;
    EXPECT_NE(r.err.find("flash address 0x01FEFF"), std::string::npos) << r.err;

    // A flash that ignores writes: the first block already differs.
    Configure([](vyk::sim::Settings& s) {
        s.faults = {};
        s.faults.ignoreWritesPort = 1;
    });
    r = Vykuu("flash --port 1 " + Quote(File("image.bin").string()));
    EXPECT_EQ(r.code, 6);
    EXPECT_NE(r.err.find("flash address 0x00C0"), std::string::npos) << r.err;

    // Without verify the same flash passes: --no-verify really skips it.
    r = Vykuu("flash --no-verify --port 1 " + Quote(File("image.bin").string()));
    EXPECT_EQ(r.code, 0) << r.err;
}

// An EC that never returns to idle ends every command with exit code 5
// instead of hanging; a read then leaves no file, not even a partial one.
TEST_F(CliRun, EcStuckBusyEndsWithItsExitCode)
{
    WriteBytes(File("image.bin"), RandomImage(0x20000, 9));
    WriteBytes(File("out.bin"), {1, 2, 3});
    Configure([](vyk::sim::Settings& s) { s.faults.stuckBusy = true; });
    // Every command the EC receives stays busy for good.
    ToolRun r = Vykuu("--timeout 0.2 flash --port 1 " + Quote(File("image.bin").string()));
    EXPECT_EQ(r.code, 5) << r.err;
    EXPECT_NE(r.err.find("EC stayed busy"), std::string::npos) << r.err;
    r = Vykuu("--timeout 0.2 read --port 2 --force -o " + Quote(File("out.bin").string()));
    EXPECT_EQ(r.code, 5) << r.err;
    EXPECT_EQ(ReadBytes(File("out.bin")), (std::vector<uint8_t>{1, 2, 3}));
    r = Vykuu("--timeout 0.2 version");
    EXPECT_EQ(r.code, 5) << r.err;

    // Slow but alive: every command takes longer than the timeout.
    Configure([](vyk::sim::Settings& s) {
        s.faults = {};
        s.busyMicros = 400000;
    });
    r = Vykuu("--timeout 0.1 read --port 1 --end 00C100 -o " + Quote(File("slow.bin").string()));
    EXPECT_EQ(r.code, 5) << r.err;
    EXPECT_FALSE(fs::exists(File("slow.bin")));
    for (const auto& entry : fs::directory_iterator(dir_))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

// Each with what it must say; a command's errors point to its own help.
TEST_F(CliRun, UsageErrorsExitWith2)
{
    WriteBytes(File("image.bin"), RandomImage(0x20000, 2));
    const std::string image = Quote(File("image.bin").string());
    for (const auto& [args, said] : std::vector<std::pair<std::string, std::string>>{
             {"", "A subcommand is required\nvykuu help shows the options and commands."},
             {"flsh --port 1", "vykuu: unknown command \"flsh\"; the commands are version, read, flash, reset, help"},
             {"flash " + image, "--port is required\nvykuu help flash shows the options."},
             {"flash --port 3 " + image, "vykuu help flash"},
             {"read --port 1", "vykuu help read"},
             {"version --port 0", "vykuu help version"},
             {"reset", "vykuu help reset"},
             {"flash --port 1 --start 00c000 " + image, "the window reads it (it would read 0x000000)"},
             {"flash --port 1 --start 0xC000 " + image, "leave out the 0x"},
             {"flash --port 1 --end 01FF000 " + image, "more than six digits"},
             {"flash --port 1 --start \"\" " + image, "address is empty"},
             {"flash --port 1 --start ' C000' " + image, "address \" C000\" is not hexadecimal"},
             {"flash --port 1 --bogus " + image, "vykuu help flash"},
             {"--timeout 0 version", "vykuu: --timeout: give seconds above 0 and at most 3600, not 0\n"},
             {"--timeout abc version", "not abc"},
         }) {
        const ToolRun r = Vykuu(args);
        EXPECT_EQ(r.code, 2) << args << "\n" << r.err;
        EXPECT_NE(r.err.find(said), std::string::npos) << args << "\n" << r.err;
    }
    EXPECT_EQ(Vykuu("--help").code, 0);
    EXPECT_NE(Vykuu("--help").out.find("6  verify mismatch"), std::string::npos);
}

TEST_F(CliRun, BadFilesExitWith3AndTouchNoPort)
{
    const auto before = ReadText(Sim() / "settings.txt");
    WriteBytes(File("huge.bin"), std::vector<uint8_t>(0x40003, 0));
    WriteBytes(File("dump.bin"), std::vector<uint8_t>(81664, 0));   // what 'read' writes
    WriteBytes(File("empty.bin"), {});
    WriteBytes(File("small.bin"), std::vector<uint8_t>(0xC000, 0));   // ends where the range begins
    fs::create_directories(File("folder"));
    const std::string none = "which would be written as 0xFF alone; refused, with --allow-short too";
    for (const auto& [args, said] : std::vector<std::pair<std::string, std::string>>{
             {"flash --port 1 " + Quote(File("missing.bin").string()), "does not exist"},
             {"flash --port 1 " + Quote(File("huge.bin").string()), "past the 262146 bytes"},
             {"flash --port 1 " + Quote(File("dump.bin").string()), "--image-at 00C000"},
             {"flash --port 1 " + Quote(File("folder").string()), "is a folder"},
             {"flash --port 1 " + Quote(File("empty.bin").string()), " is empty: not one byte of it lies in the "
                                                                      "range 0x00C000..0x01FEFF, " + none},
             {"flash --allow-short --port 1 " + Quote(File("empty.bin").string()), none},
             {"flash --allow-short --port 1 " + Quote(File("small.bin").string()),
              "ends at 0x00C000, before the range's start: not one byte"},
             {"read --port 1 -o " + Quote(File("no/such/folder/out.bin").string()), "does not exist"},
             {"read --port 1 -o " + Quote(File("folder").string()), "is a folder"},
         }) {
        const ToolRun r = Vykuu(args);
        EXPECT_EQ(r.code, 3) << args << "\n" << r.err;
        EXPECT_NE(r.err.find(said), std::string::npos) << args << "\n" << r.err;
        EXPECT_EQ(r.out.find("Load File"), std::string::npos) << "refused after loading: " << args;
    }
    EXPECT_EQ(ReadText(Sim() / "settings.txt"), before);
    EXPECT_EQ(Flash(1), std::vector<uint8_t>(vyk::sim::FlashSize, 0xFF));

    // A short image goes out, padded with 0xFF, only when asked for, and
    // the padding is said: blocks 0x013F..0x01FE alone, and part of 0x013E.
    WriteBytes(File("dump.bin"), std::vector<uint8_t>(81664 - 16, 0));
    const ToolRun r = Vykuu("--json flash --allow-short --port 1 " + Quote(File("dump.bin").string()));
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("ends at 0x013EF0, before the range's end 0x01FF00: 192 blocks (0x013F00..0x01FEFF) and the "
                         "last 16 bytes of block 0x013E00..0x013EFF written as 0xFF padding (--allow-short)"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("\"paddedBlocks\": 192"), std::string::npos) << r.out;
    const auto flash = Flash(1);
    EXPECT_EQ(flash[0xC000], 0x00);
    EXPECT_EQ(flash[0x13EF0], 0xFF);
}

TEST_F(CliRun, RangesOutsideTheFlashAreRefusedWith7)
{
    WriteBytes(File("image.bin"), RandomImage(0x40000, 4));
    const std::string image = Quote(File("image.bin").string());
    for (const std::string& args : std::vector<std::string>{
             "flash --port 1 --start 01FF00 --end 00C000 " + image,
             "flash --port 1 --start 00C000 --end 00C0FF " + image,   // start and end in one block
             "flash --port 1 --end 040100 " + image,
             "read --port 1 --end 050000 -o " + Quote(File("out.bin").string()),
             "read --port 1 --start 000000 --end 000000 -o " + Quote(File("out.bin").string()),
         }) {
        const ToolRun r = Vykuu(args);
        EXPECT_EQ(r.code, 7) << args << "\n" << r.err;
    }
    EXPECT_FALSE(fs::exists(File("out.bin")));
    // The whole flash is a sound range, below 00C000 when asked for.
    EXPECT_EQ(Vykuu("flash --port 1 --allow-low-range --start 000000 --end 040000 " + image).code, 0);
}

TEST_F(CliRun, NoPortAccessExitsWith4)
{
    fs::remove_all(Sim());
    WriteBytes(File("image.bin"), RandomImage(0x20000, 6));
    EXPECT_EQ(Vykuu("version").code, 4);
    EXPECT_EQ(Vykuu("--dry-run version").code, 4);
    const ToolRun r = Vykuu("flash --port 1 " + Quote(File("image.bin").string()));
    EXPECT_EQ(r.code, 4);
    EXPECT_NE(r.err.find("simulator folder"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(Sim())) << "a mistyped folder is not made into a notebook";
}

// Real ports without the right to them: a clear refusal, exit 4; while
// another program holds the machine-wide EC lock (in the run-time lock
// folder), exit 9 before the ports are even asked for. Run as nobody when
// the tests run as root, so that no port is ever touched here.
TEST_F(CliRun, RefusedRealPortsExitWith4Or9)
{
    std::string prefix;
    if (!AsOrdinaryUser(prefix))
        GTEST_SKIP() << "root without setpriv: would reach real ports";
    const fs::path err = dir_ / "stderr.txt";
    const std::string cmd = prefix + Quote(VYKUU_PATH) + " version >/dev/null 2>" + Quote(err.string());
    int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 4);
    EXPECT_NE(ReadText(err).find("no access to I/O ports 0x4E/0x4F"), std::string::npos) << ReadText(err);

    const char* lockPath = fs::is_directory("/run/lock") ? "/run/lock/vyk_uu-ec.lock" : "/var/lock/vyk_uu-ec.lock";
    int fd = ::open(lockPath, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        fd = ::open(lockPath, O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << lockPath;
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0) << "another program holds " << lockPath;
    status = std::system(cmd.c_str());
    ::close(fd);   // the lock goes; the file stays for the next holder
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 9) << ReadText(err);
    EXPECT_NE(ReadText(err).find(lockPath), std::string::npos) << ReadText(err);
}

// A dry run checks everything and changes nothing in the notebook.
TEST_F(CliRun, DryRunTouchesNoPort)
{
    WriteBytes(File("image.bin"), RandomImage(0x20000, 8));
    const auto settings = ReadText(Sim() / "settings.txt");
    const auto ecram = ReadText(Sim() / "ecram.bin");
    ToolRun r = Vykuu("--dry-run --json flash --port 2 " + Quote(File("image.bin").string()));
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("\"dryRun\": true"), std::string::npos) << r.out;
    r = Vykuu("--dry-run read --port 2 -o " + Quote(File("out.bin").string()));
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Vykuu("--dry-run version").code, 0);
    EXPECT_FALSE(fs::exists(File("out.bin")));
    EXPECT_EQ(ReadText(Sim() / "settings.txt"), settings);
    EXPECT_EQ(ReadText(Sim() / "ecram.bin"), ecram);
    EXPECT_EQ(Flash(2), std::vector<uint8_t>(vyk::sim::FlashSize, 0xFF));
    // ... and still finds what is wrong, as the run would: the range, the
    // battery (the lock is tried in OneProgramDrivesTheEcAtATime).
    EXPECT_EQ(Vykuu("--dry-run flash --port 2 --end 00C000 " + Quote(File("image.bin").string())).code, 7);
    Configure([](vyk::sim::Settings& s) {
        s.acOnline = false;
        s.batteryPercent = 25;
    });
    r = Vykuu("--dry-run flash --port 2 " + Quote(File("image.bin").string()));
    EXPECT_EQ(r.code, 11) << r.err;
    EXPECT_NE(r.err.find("battery at 25 %"), std::string::npos) << r.err;
    EXPECT_EQ(Vykuu("--dry-run flash --allow-battery --port 2 " + Quote(File("image.bin").string())).code, 0);
    EXPECT_EQ(Vykuu("--dry-run version").code, 0) << "only a flash minds the battery";
}

// A signal asks for a safe stop: the block in flight completes, no further
// block, no validate, the PD is reset; the summary says so. The simulator
// holds the 95th block until the test has signalled.
TEST_F(CliRun, ASignalStopsAfterTheBlockInFlightAndResetsThePd)
{
    const auto image = RandomImage(0x20000, 21);
    WriteBytes(File("image.bin"), image);
    ToolRun r = SignalledAt("--json flash --port 1 " + Quote(File("image.bin").string()), 94, SIGTERM);
    EXPECT_EQ(r.code, 8) << r.err;
    EXPECT_NE(r.err.find("vykuu: flash write: interrupted after 95 of 319 blocks; no validate sent; PD reset; "
                         "flash again to complete"),
              std::string::npos)
        << r.err;
    for (const char* field : {"\"interrupted\": true", "\"signal\": \"SIGTERM\"", "\"blocksWritten\": 95",
                              "\"versionsAfter\": [{\"port\": 1", "\"exitCode\": 8"})
        EXPECT_NE(r.out.find(field), std::string::npos) << field << " in " << r.out;
    EXPECT_EQ(r.err.find("Flash Done."), std::string::npos) << "no validate after a stop";
    const auto flash = Flash(1);
    EXPECT_EQ(Slice(flash, 0xC000, 0xC000 + 95 * 256), Slice(image, 0xC000, 0xC000 + 95 * 256));
    EXPECT_EQ(Slice(flash, 0xC000 + 95 * 256, 0x40000), std::vector<uint8_t>(0x40000 - 0xC000 - 95 * 256, 0xFF));
    const std::string settings = ReadText(Sim() / "settings.txt");
    EXPECT_NE(settings.find("mode = normal"), std::string::npos) << settings;
    EXPECT_EQ(ReadBytes(Sim() / "ecram.bin")[0xD213], 0) << "PdCommand idle";

    // Once the last block is handed over the transfer is whole: the validate
    // and the reset still go out, as the window does at a close; only the
    // verify is left out.
    r = SignalledAt("flash --port 1 " + Quote(File("image.bin").string()), 318, SIGTERM);
    EXPECT_EQ(r.code, 12) << r.err;
    for (const char* text : {"Flash write: stop asked for after the last block; the transfer is whole", "Flash Done.",
                             "Cypess PD FW Update Completed!", "interrupted after the flash was written and validated"})
        EXPECT_NE((r.out + r.err).find(text), std::string::npos) << text << " in " << r.out << r.err;
    EXPECT_EQ(Slice(Flash(1), 0xC000, 0x1FF00), Slice(image, 0xC000, 0x1FF00));
    EXPECT_NE(ReadText(Sim() / "settings.txt").find("mode = normal"), std::string::npos);

    // A read: stopped the same way, no file, no temporary file left.
    r = SignalledAt("read --port 2 -o " + Quote(File("out.bin").string()), 10, SIGHUP);
    EXPECT_EQ(r.code, 8) << r.err;
    EXPECT_NE(r.err.find("read: interrupted after 11 of 319 blocks; no validate sent; PD reset; nothing saved"),
              std::string::npos)
        << r.err;

    // The second signal ends the process at once, as the first note said;
    // the temporary file goes with it, the log written so far stays, and
    // the last words say what the PD may be left in and what puts it right.
    for (const std::string& command : {"read --port 2 -o " + Quote(File("out.bin").string()),
                                       "flash --port 2 " + Quote(File("image.bin").string())}) {
        SCOPED_TRACE(command);
        const pid_t pid = StartPaused(command, 3);
        ::kill(pid, SIGINT);
        ASSERT_TRUE(Appears(dir_ / "stderr.txt", "interrupt again"));
        ::kill(pid, SIGINT);
        r = Wait(pid);
        EXPECT_EQ(r.signal, SIGINT);
        Resume();
        EXPECT_NE(r.out.find(command[0] == 'r' ? "ReadAddr = 0x00C200" : "FlashAddr = 0x00C300"), std::string::npos)
            << r.out;
        const std::string ended = "vykuu: ended at once by a second interrupt: port 2's PD may be left in its boot "
                                  "loader (flashing mode)";
        EXPECT_NE(r.err.find(ended + (command[0] == 'r' ? ";" : " with its flash partly written; flash again to "
                                                                "complete, or") +
                             " send it back to its firmware with: vykuu --sim " + Sim().string() +
                             " reset --port 2\n"),
                  std::string::npos)
            << r.err;
        for (const auto& entry : fs::directory_iterator(dir_))
            EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
    }
}

// SIGPIPE never kills it: `vykuu flash | head` completes the flash and
// says by its exit code that output was lost.
TEST_F(CliRun, AClosedPipeIsAnErrorNotADeath)
{
    const auto image = RandomImage(0x20000, 22);
    WriteBytes(File("image.bin"), image);
    const std::string cmd = "bash -c '" + std::string(VYKUU_PATH) + " --sim " + Sim().string() + " flash --port 1 " +
                            File("image.bin").string() + " 2>" + File("err.txt").string() +
                            " | head -c 10 >/dev/null; exit ${PIPESTATUS[0]}'";
    const int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_NE(ReadText(File("err.txt")).find("standard output: write failed: Broken pipe; the flash of 319 blocks "
                                             "0x00C000..0x01FEFF of port 1 completed and verified: only what it printed "
                                             "was lost (exit 3)"),
              std::string::npos)
        << ReadText(File("err.txt"));
    EXPECT_EQ(Slice(Flash(1), 0xC000, 0x1FF00), Slice(image, 0xC000, 0x1FF00));
    EXPECT_NE(ReadText(Sim() / "settings.txt").find("mode = normal"), std::string::npos);

    // A summary that cannot be written is a failure too.
    EXPECT_EQ(std::system((Quote(VYKUU_PATH) + " --sim " + Quote(Sim().string()) +
                           " --json version >/dev/full 2>/dev/null").c_str()) >> 8,
              3);
}

// Two programs for one EC: the second is refused at once, touching
// nothing, while the first goes on; a settings change is refused, not lost.
TEST_F(CliRun, OneProgramDrivesTheEcAtATime)
{
    const auto first = RandomImage(0x20000, 23), second = RandomImage(0x20000, 24);
    WriteBytes(File("first.bin"), first);
    WriteBytes(File("second.bin"), second);
    const pid_t pid = StartPaused("flash --port 1 " + Quote(File("first.bin").string()), 61);
    const auto began = std::chrono::steady_clock::now();
    ToolRun other = Vykuu("--json flash --port 1 " + Quote(File("second.bin").string()));
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(2));
    EXPECT_EQ(other.code, 9) << other.err;
    EXPECT_NE(other.err.find("is in use by another program"), std::string::npos) << other.err;
    EXPECT_NE(other.out.find("\"exitCode\": 9"), std::string::npos) << other.out;
    EXPECT_EQ(other.err.find("Load File"), std::string::npos) << "refused before reading anything";
    // A dry run tries the lock as the run would.
    EXPECT_EQ(Vykuu("--dry-run version").code, 9);
    EXPECT_EQ(Simctl("set " + Quote(Sim().string()) + " busy_reads=9"), 3);
    // Looking needs no lock: the flash can be watched.
    std::string shown;
    EXPECT_EQ(Simctl("show " + Quote(Sim().string()), &shown), 0) << shown;
    EXPECT_NE(shown.find("PdCommand: 0xA3"), std::string::npos) << shown;
    EXPECT_NE(shown.find("mode = flashing"), std::string::npos) << shown;
    EXPECT_EQ(Simctl("dump " + Quote(Sim().string()) + " 1 00C000 10 -", &shown), 0) << shown;
    Resume();
    const ToolRun r = Wait(pid);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Slice(Flash(1), 0xC000, 0x1FF00), Slice(first, 0xC000, 0x1FF00));
    EXPECT_EQ(ReadText(Sim() / "settings.txt").find("busy_reads = 9"), std::string::npos);
}

// Output files: devices, FIFOs and folders are refused before the EC is
// reached; a link is followed to its target and stays a link; "-" is
// standard output; a folder that cannot be written fails before any block.
TEST_F(CliRun, OutputFilesAreCheckedBeforeTheEcAndWrittenWhole)
{
    const auto ecram = ReadText(Sim() / "ecram.bin");
    ASSERT_EQ(::mkfifo(File("fifo").c_str(), 0600), 0);
    std::vector<std::string> refused = {File("fifo").string(), dir_.string(), "/proc/vykuu-test.bin"};
    if (::geteuid() == 0) {
        ASSERT_EQ(::mknod(File("null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
        refused.push_back(File("null").string());
    }
    for (const auto& target : refused) {
        const ToolRun r = Vykuu("read --port 1 -o " + Quote(target));
        EXPECT_EQ(r.code, 3) << target << "\n" << r.err;
        EXPECT_NE(r.err.find(target), std::string::npos) << r.err;
    }
    EXPECT_NE(Vykuu("read --port 1 -o /proc/vykuu-test.bin").err.find(": No such file or directory"),
              std::string::npos);
    EXPECT_EQ(ReadText(Sim() / "ecram.bin"), ecram) << "the EC was reached";
    if (::geteuid() == 0) {
        struct stat st {};
        ASSERT_EQ(::lstat(File("null").c_str(), &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode)) << "the device node was replaced";
    }

    const auto image = RandomImage(0x20000, 25);
    WriteBytes(File("image.bin"), image);
    ASSERT_EQ(Vykuu("--quiet flash --port 1 --no-verify " + Quote(File("image.bin").string())).code, 0);
    const auto range = Slice(image, 0xC000, 0xC400);
    fs::create_directories(File("real"));
    fs::create_symlink("real/target.bin", File("link"));
    ToolRun r = Vykuu("read --port 1 --end 00C400 -o " + Quote(File("link").string()));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(File("link")));
    EXPECT_EQ(ReadBytes(File("real") / "target.bin"), range);

    const int status = std::system((Quote(VYKUU_PATH) + " --sim " + Quote(Sim().string()) +
                                    " read --port 1 --end 00C400 -o - >" + Quote(File("piped.bin").string()) + " 2>" +
                                    Quote(File("log.txt").string()))
                                       .c_str());
    ASSERT_EQ(status, 0) << ReadText(File("log.txt"));
    EXPECT_EQ(ReadBytes(File("piped.bin")), range);
    EXPECT_NE(ReadText(File("log.txt")).find("ReadAddr = 0x00C300"), std::string::npos) << "the log goes to stderr";
}

// What 'read' saved flashes back with --image-at; a backup is taken first
// when asked for, and nothing is written when it cannot be.
TEST_F(CliRun, ABackupFlashesBackWithImageAt)
{
    const auto before = RandomImage(0x20000, 26), after = RandomImage(0x20000, 27);
    WriteBytes(File("before.bin"), before);
    WriteBytes(File("after.bin"), after);
    ASSERT_EQ(Vykuu("--quiet flash --port 2 " + Quote(File("before.bin").string())).code, 0);

    ToolRun r = Vykuu("--quiet flash --port 2 --backup " + Quote(File("backup.bin").string()) + " " +
                      Quote(File("after.bin").string()));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadBytes(File("backup.bin")), Slice(before, 0xC000, 0x1FF00));
    EXPECT_EQ(Slice(Flash(2), 0xC000, 0x1FF00), Slice(after, 0xC000, 0x1FF00));

    // Flashed back as a plain image it is refused, pointing to --image-at.
    r = Vykuu("flash --port 2 " + Quote(File("backup.bin").string()));
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("--image-at 00C000"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("--allow-short"), std::string::npos) << r.err;
    r = Vykuu("--quiet flash --port 2 --image-at 00C000 " + Quote(File("backup.bin").string()));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Slice(Flash(2), 0xC000, 0x1FF00), Slice(before, 0xC000, 0x1FF00));
    EXPECT_EQ(Vykuu("flash --port 2 --image-at 00C080 " + Quote(File("backup.bin").string())).code, 2);

    // A backup that cannot be made: nothing written.
    r = Vykuu("flash --port 2 --backup /proc/vykuu-backup.bin " + Quote(File("after.bin").string()));
    EXPECT_EQ(r.code, 3) << r.err;
    EXPECT_EQ(Slice(Flash(2), 0xC000, 0x1FF00), Slice(before, 0xC000, 0x1FF00));
}

// An empty --sim never means the real ports; a bus without an EC is named
// as such; the summary names the machine and both ports' versions.
TEST_F(CliRun, KnowsWhatItTalksTo)
{
    for (const std::string& args : {std::string("--sim '' version"), std::string("--sim= version"),
                                    std::string("--json --sim '' version")}) {
        const ToolRun r = Vykuu(args, false);
        EXPECT_EQ(r.code, 2) << args << "\n" << r.err;
        EXPECT_NE(r.err.find("--sim needs a folder"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("I/O ports"), std::string::npos) << "real ports were tried: " << r.err;
    }
    EXPECT_NE(Vykuu("--json --sim '' version", false).out.find("\"exitCode\": 2"), std::string::npos);

    WriteBytes(File("image.bin"), RandomImage(0x20000, 28));
    // A folder of other things is no notebook, nor is an empty one (only
    // vyksimctl init makes one): refused, nothing written into it.
    ToolRun r = Vykuu("--sim " + Quote(dir_.string()) + " version", false);
    EXPECT_EQ(r.code, 4) << r.err;
    EXPECT_FALSE(fs::exists(dir_ / "port1.bin"));
    fs::create_directories(File("empty"));
    for (const std::string& args : {std::string("version"), std::string("--dry-run version")}) {
        r = Vykuu("--sim " + Quote(File("empty").string()) + " " + args, false);
        EXPECT_EQ(r.code, 4) << r.err;
        EXPECT_NE(r.err.find("is not a simulated notebook: it holds no vyksim-notebook.txt (vyksimctl init"),
                  std::string::npos)
            << r.err;
    }
    EXPECT_EQ(Simctl("set " + Quote(File("empty").string()) + " busy_reads=2"), 1);
    EXPECT_EQ(Simctl("show " + Quote(File("empty").string())), 1);
    EXPECT_TRUE(fs::is_empty(File("empty")));
    // A notebook whose folder fails under the run: port access lost, exit 4.
    fs::create_directories(Sim() / "settings.txt.tmp");
    r = Vykuu("flash --port 1 " + Quote(File("image.bin").string()));
    EXPECT_EQ(r.code, 4) << r.err;
    EXPECT_NE(r.err.find("settings.txt.tmp"), std::string::npos) << r.err;
    fs::remove(Sim() / "settings.txt.tmp");

    Configure([](vyk::sim::Settings& s) { s.faults.noChip = true; });
    for (const std::string& args : {std::string("version"), "flash --port 1 " + Quote(File("image.bin").string())}) {
        const ToolRun r = Vykuu(args);
        EXPECT_EQ(r.code, 10) << args << "\n" << r.err;
        EXPECT_NE(r.err.find("no EC answers at ports 0x4E/0x4F (every read gives 0xFF)"), std::string::npos) << r.err;
    }

    Configure([](vyk::sim::Settings& s) {
        s.faults = {};
        s.version[1] = {0x2A, 0, 0, 0, 0, 0, 0, 0x01};
    });
    const std::string marker = ReadText(Sim() / "vyksim-notebook.txt");
    const std::string serial = marker.substr(marker.find("SIM-"), 12);
    r = Vykuu("--json flash --port 1 " + Quote(File("image.bin").string()));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("\"machine\": {\"vendor\": \"VYK_UU\", \"product\": \"Simulated notebook\", \"serial\": \"" +
                         serial + "\"}"),
              std::string::npos)
        << r.out;
    for (const char* key : {"\"versionsBefore\": [{\"port\": 1, \"version\": \"10 11 12 13 14 15 16 17\"",
                            "\"versionsAfter\": [{\"port\": 1", "{\"port\": 2, \"version\": \"2A 00 00 00 00 00 00 01\""})
        EXPECT_NE(r.out.find(key), std::string::npos) << key << " in " << r.out;
}

// On battery below 30 % a flash is refused before the EC is reached;
// --allow-battery, a charger or more charge let it through; reads pass.
TEST_F(CliRun, AFlashOnALowBatteryIsRefused)
{
    WriteBytes(File("image.bin"), RandomImage(0x20000, 29));
    const std::string image = Quote(File("image.bin").string());
    Configure([](vyk::sim::Settings& s) {
        s.acOnline = false;
        s.batteryPercent = 20;
    });
    const auto ecram = ReadText(Sim() / "ecram.bin");
    ToolRun r = Vykuu("flash --port 1 --end 00C100 " + image);
    EXPECT_EQ(r.code, 11) << r.err;
    EXPECT_NE(r.err.find("battery at 20 % (below 30 %)"), std::string::npos) << r.err;
    EXPECT_EQ(ReadText(Sim() / "ecram.bin"), ecram);
    EXPECT_EQ(Vykuu("read --port 1 --end 00C100 -o " + Quote(File("out.bin").string())).code, 0);
    EXPECT_EQ(Vykuu("flash --port 1 --end 00C100 --allow-battery " + image).code, 0);
    Configure([](vyk::sim::Settings& s) { s.batteryPercent = 30; });
    EXPECT_EQ(Vykuu("flash --port 1 --end 00C100 " + image).code, 0);
    Configure([](vyk::sim::Settings& s) {
        s.batteryPercent = 5;
        s.acOnline = true;
    });
    EXPECT_EQ(Vykuu("flash --port 1 --end 00C100 " + image).code, 0);
}

// What people type: --version, help; JSON valid whatever bytes a name holds.
TEST_F(CliRun, VersionHelpAndJsonForAnyName)
{
    ToolRun r = Vykuu("--version", false);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.rfind("vykuu ", 0), 0u) << r.out;
    r = Vykuu("help", false);
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("Usage: vykuu [OPTIONS] SUBCOMMAND"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("11  flash refused"), std::string::npos) << r.out;
    for (const char* command : {"help flash", "flash --help", "help reset"}) {
        r = Vykuu(command, false);
        EXPECT_EQ(r.code, 0);
        for (const char* option : {"--port", "Global options", "--sim", "--json", "--dry-run", "--timeout"})
            EXPECT_NE(r.out.find(option), std::string::npos) << command << " lacks " << option << ":\n" << r.out;
    }
    for (const char* args : {"--timeout nan version", "--timeout inf version", "--timeout 3601 version",
                             "--timeout -1 version", "--json --bogus version"}) {
        r = Vykuu(args);
        EXPECT_EQ(r.code, 2) << args;
        if (std::string(args).find("--json") != std::string::npos) {
            EXPECT_NE(r.out.find("\"exitCode\": 2"), std::string::npos) << r.out;
        }
    }

    const std::string name = "bild-\xE9\xFF.bin";   // Latin-1 bytes: not UTF-8
    WriteBytes(dir_ / name, RandomImage(0x20000, 30));
    r = Vykuu("--json --quiet flash --port 1 --no-verify " + Quote((dir_ / name).string()));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("bild-\xEF\xBF\xBD\xEF\xBF\xBD.bin"), std::string::npos) << r.out;
    // Every byte sequence of the summary is UTF-8.
    for (size_t i = 0; i < r.out.size(); ++i) {
        const auto c = static_cast<unsigned char>(r.out[i]);
        if (c < 0x80)
            continue;
        const size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        ASSERT_NE(n, 0u) << "byte " << i;
        for (size_t k = 1; k < n; ++k)
            ASSERT_EQ(static_cast<unsigned char>(r.out[i + k]) & 0xC0, 0x80) << "byte " << i + k;
        i += n - 1;
    }
}

// What cannot be had again is never written over: a backup is written once,
// so the retry of an interrupted flash keeps the firmware from before; a
// name taken meanwhile is left as it is; the notebook's own files are no
// output.
TEST_F(CliRun, ABackupIsNeverReplaced)
{
    const auto old = RandomImage(0x20000, 31), fresh = RandomImage(0x20000, 32);
    WriteBytes(File("old.bin"), old);
    WriteBytes(File("new.bin"), fresh);
    ASSERT_EQ(Vykuu("--quiet flash --port 1 " + Quote(File("old.bin").string())).code, 0);
    const std::string retry = "flash --port 1 --backup " + Quote(File("safe.bin").string()) + " " +
                              Quote(File("new.bin").string());
    // Held at the 95th block of the write, after the 319 of the backup.
    pid_t pid = StartPaused(retry, 319 + 94);
    ::kill(pid, SIGINT);
    ASSERT_TRUE(Appears(dir_ / "stderr.txt", "interrupt again"));
    Resume();
    ToolRun r = Wait(pid);
    EXPECT_EQ(r.code, 8) << r.err;
    const std::string restore = "vykuu --sim " + Sim().string() + " flash --port 1 --image-at 00C000 " +
                                File("safe.bin").string();
    EXPECT_NE(r.err.find("flash again to complete. The backup " + File("safe.bin").string() +
                         " holds the range as it was before this flash and is kept: flash the image again without "
                         "--backup to complete. To put the old firmware back instead: " + restore),
              std::string::npos)
        << r.err;
    Configure([](vyk::sim::Settings& s) { s.pauseAfterBlocks = 0; });
    const auto half = Flash(1);

    // The rerun reads the range, finds it half written and keeps the backup:
    // the two ways on, and no new backup name that would save half a firmware.
    r = Vykuu(retry);
    EXPECT_EQ(r.code, 3) << r.err;
    EXPECT_NE(r.err.find("backup " + File("safe.bin").string() + ": port 1's range 0x00C000..0x01FEFF no longer "
                         "matches the backup (first at 0x00C000), nor the image: a flash was interrupted after the "
                         "backup was made. Nothing written. The backup " + File("safe.bin").string() +
                         " holds the firmware from before that flash and is kept. Either complete the flash: flash the "
                         "image without --backup (vykuu --sim " + Sim().string() + " flash --port 1 " +
                         File("new.bin").string() + "); or restore the firmware from before: flash the backup (" +
                         restore + ")"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("safe-2"), std::string::npos) << r.err;
    EXPECT_EQ(ReadBytes(File("safe.bin")), Slice(old, 0xC000, 0x1FF00));
    EXPECT_EQ(Flash(1), half) << "the refused retry touched the flash";

    // Made by someone else while the backup was being read: left alone, nothing flashed.
    pid = StartPaused("flash --port 1 --backup " + Quote(File("late.bin").string()) + " " +
                          Quote(File("new.bin").string()),
                      10);
    WriteBytes(File("late.bin"), {1, 2, 3});
    Resume();
    r = Wait(pid);
    EXPECT_EQ(r.code, 3) << r.err;
    EXPECT_NE(r.err.find("was made by someone else meanwhile; it is left as it is; nothing written to the flash"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(ReadBytes(File("late.bin")), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(Flash(1), half);
    Configure([](vyk::sim::Settings& s) { s.pauseAfterBlocks = 0; });

    const auto ecram = ReadText(Sim() / "ecram.bin");
    for (const std::string& args : {"flash --port 1 --backup " + Quote((Sim() / "keep.bin").string()) + " " +
                                        Quote(File("new.bin").string()),
                                    "read --port 1 -o " + Quote((Sim() / "port1.bin").string()),
                                    "read --port 1 -o " + Quote((dir_ / "nb" / "." / "x.bin").string())}) {
        r = Vykuu(args);
        EXPECT_EQ(r.code, 3) << args << "\n" << r.err;
        EXPECT_NE(r.err.find("lies inside the simulated notebook's folder"), std::string::npos) << r.err;
    }
    EXPECT_EQ(ReadText(Sim() / "ecram.bin"), ecram);
    EXPECT_EQ(Flash(1), half);
}

// As cp would: a file the user cannot write is not replaced, and a folder
// the user cannot write is named as such; both before the EC is reached.
// Run as nobody when the tests run as root, who may write anything.
TEST_F(CliRun, ReadOnlyTargetsAreRefusedAsCpWould)
{
    std::string prefix;
    if (!AsOrdinaryUser(prefix))
        GTEST_SKIP() << "root without setpriv";
    // nobody may use the notebook and write beside gold.bin, no more.
    if (!prefix.empty()) {
        ASSERT_EQ(std::system(("chmod -R a+rwX " + Quote(dir_.string())).c_str()), 0);
    }
    WriteBytes(File("gold.bin"), {7, 7, 7});
    fs::permissions(File("gold.bin"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::create_directories(File("locked"));
    fs::permissions(File("locked"), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                        fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    const auto ecram = ReadText(Sim() / "ecram.bin");
    const fs::path err = dir_ / "err.txt";
    for (const auto& [target, said] : std::vector<std::pair<fs::path, std::string>>{
             {File("gold.bin"), ": Permission denied: it is not writable for you, so it is not replaced (as cp would "
                                "not replace it); make it writable or give another name"},
             {File("locked") / "x.bin", ": cannot write in its folder " + File("locked").string() +
                                            ": Permission denied"},
         }) {
        const int status = std::system((prefix + Quote(VYKUU_PATH) + " --sim " + Quote(Sim().string()) +
                                        " read --port 1 --force -o " + Quote(target.string()) + " >/dev/null 2>" +
                                        Quote(err.string()))
                                           .c_str());
        EXPECT_EQ(WEXITSTATUS(status), 3) << ReadText(err);
        EXPECT_NE(ReadText(err).find("output " + target.string() + said), std::string::npos) << ReadText(err);
        EXPECT_EQ(ReadText(err).find(".tmp"), std::string::npos) << ReadText(err);
    }
    EXPECT_EQ(ReadBytes(File("gold.bin")), (std::vector<uint8_t>{7, 7, 7}));
    EXPECT_EQ(ReadText(Sim() / "ecram.bin"), ecram) << "the EC was reached";
    fs::permissions(File("locked"), fs::perms::owner_all);
}

// An EC that stops answering with the PD in flashing mode: the end says
// what the PD may be in and the command that puts it right, which works.
TEST_F(CliRun, AStrandedPdIsNamedWithTheCommandThatPutsItRight)
{
    WriteBytes(File("image.bin"), RandomImage(0x20000, 33));
    Configure([](vyk::sim::Settings& s) { s.faults.stuckBusyAfterBlocks = 11; });
    ToolRun r = Vykuu("--json --timeout 0.2 flash --port 1 " + Quote(File("image.bin").string()));
    EXPECT_EQ(r.code, 5) << r.err;
    const std::string reset = "vykuu --sim " + Sim().string() + " reset --port 1";
    EXPECT_NE(r.err.find("12 of 319 blocks done)\nvykuu: port 1's PD may be left in its boot loader (flashing mode) "
                         "with 12 of 319 blocks sent and no validate: it may not start its firmware. Keep the "
                         "notebook powered. Once the EC answers again, flash again to complete; " + reset +
                         " sends the PD back to the firmware it holds without flashing."),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("\"pdMayBeInBootLoader\": true, \"advice\": \"port 1's PD"), std::string::npos) << r.out;
    EXPECT_NE(ReadText(Sim() / "settings.txt").find("mode = flashing"), std::string::npos);
    // A read stranded the same way has written nothing.
    r = Vykuu("--timeout 0.2 read --port 1 -o " + Quote(File("out.bin").string()));
    EXPECT_EQ(r.code, 5) << r.err;
    EXPECT_NE(r.err.find("flashing mode); nothing was written to it. Once the EC answers again, " + reset),
              std::string::npos)
        << r.err;

    // The next run finds the EC idle again (the stuck command done).
    Configure([](vyk::sim::Settings& s) { s.faults = {}; });
    r = Vykuu("--json reset --port 1");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("reset: CmdResetPd sent to port 1, and the EC reports it done"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("\"resetSent\": true, \"versionsAfter\": [{\"port\": 1"), std::string::npos) << r.out;
    EXPECT_NE(ReadText(Sim() / "settings.txt").find("mode = normal"), std::string::npos);
    EXPECT_EQ(Vykuu("--dry-run reset --port 2").code, 0);
}

// The summary is a record: which tool, when, which files by absolute path
// with their size and SHA-256; and the README names every field it has.
TEST_F(CliRun, TheSummaryIsARecordTheReadmeDescribes)
{
    const auto image = RandomImage(0x20000, 34);
    WriteBytes(File("image.bin"), image);
    ASSERT_EQ(Vykuu("--quiet flash --port 2 " + Quote(File("image.bin").string())).code, 0);
    const auto sha = [&](const fs::path& file) {
        const fs::path out = dir_ / "sha.txt";
        EXPECT_EQ(std::system(("sha256sum " + Quote(file.string()) + " >" + Quote(out.string())).c_str()), 0);
        return ReadText(out).substr(0, 64);
    };
    // Relative names as typed, from the test's folder.
    const std::string cd = "cd " + Quote(dir_.string()) + " && ";
    const fs::path out = dir_ / "summary.json";
    const int status = std::system((cd + Quote(VYKUU_PATH) + " --sim nb --json flash --port 2 --backup b.bin image.bin"
                                   " >" + Quote(out.string()) + " 2>/dev/null").c_str());
    ASSERT_EQ(WEXITSTATUS(status), 0);
    const std::string json = ReadText(out);
    const std::string version = Vykuu("--version", false).out.substr(6);
    for (const std::string& field :
         {"{\"tool\": \"vykuu\", \"toolVersion\": \"" + version.substr(0, version.size() - 1) + "\", \"started\": \"",
          "\"image\": \"" + File("image.bin").string() + "\"", "\"backup\": \"" + File("b.bin").string() + "\"",
          "\"imageBytes\": 131072, \"imageSha256\": \"" + sha(File("image.bin")) + "\"",
          "\"backupBytes\": 81664, \"backupSha256\": \"" + sha(File("b.bin")) + "\"", std::string("\"verified\": true")})
        EXPECT_NE(json.find(field), std::string::npos) << field << " in " << json;
    static const std::regex times(R"("started": "20\d\d-\d\d-\d\dT\d\d:\d\d:\d\d\.\d\d\dZ".*"ended": "20\d\d-\d\d-\d\dT\d\d:\d\d:\d\d\.\d\d\dZ")");
    EXPECT_TRUE(std::regex_search(json, times)) << json;

    // Every key of the summaries of every command and end is in the README.
    std::string all = json;
    for (const std::string& args :
         {"--json read --port 2 -o " + Quote(File("r.bin").string()), std::string("--json version"),
          std::string("--json reset --port 1"), std::string("--json --dry-run version"), std::string("--json bogus"),
          "--json flash --port 1 --end 020000 --allow-short --no-verify --image-at 00C000 " +
              Quote(File("r.bin").string())})
        all += Vykuu(args).out;
    Configure([](vyk::sim::Settings& s) { s.faults.stuckBusyAfterBlocks = 2; });
    all += Vykuu("--json --timeout 0.1 flash --port 1 " + Quote(File("image.bin").string())).out;
    Configure([](vyk::sim::Settings& s) {
        s.faults = {};
        s.faults.ignoreWritesPort = 1;
    });
    WriteBytes(File("other.bin"), RandomImage(0x20000, 35));
    all += Vykuu("--json flash --port 1 " + Quote(File("other.bin").string())).out;
    pid_t pid = StartPaused("--json flash --port 1 " + Quote(File("image.bin").string()), 5);
    ::kill(pid, SIGTERM);
    ASSERT_TRUE(Appears(dir_ / "stderr.txt", "interrupt again"));
    Resume();
    all += Wait(pid).out;
    const std::string readme = ReadText(VYK_README);
    static const std::regex key(R"re("([A-Za-z0-9]+)": )re");
    std::set<std::string> keys;
    for (auto it = std::sregex_iterator(all.begin(), all.end(), key); it != std::sregex_iterator(); ++it)
        keys.insert((*it)[1]);
    EXPECT_GT(keys.size(), 40u);
    for (const auto& k : keys)
        EXPECT_NE(readme.find("`" + k + "`"), std::string::npos) << "the README does not describe " << k;
}

// Killed (SIGKILL) at a port operation drawn from a seed; VYK_KILL_SEED=N
// replays another. The notebook opens again with its lock free, its files
// whole and its settings kept; nothing is left beside an output, which
// holds its old bytes or the whole new ones; and a plain flash of the image
// completes and verifies from whatever mode the PD was left in.
TEST_F(CliRun, AKillAtAnyPortOperationLeavesNothingBroken)
{
    const char* seedText = std::getenv("VYK_KILL_SEED");
    const unsigned seed = seedText ? static_cast<unsigned>(std::stoul(seedText)) : 1;
    std::mt19937 gen(seed);
    const auto image = RandomImage(0x20000, 41);
    WriteBytes(File("image.bin"), image);
    const std::string imageArg = Quote(File("image.bin").string());
    Configure([](vyk::sim::Settings& s) {
        s.busyReads = 2;
        s.version[0][7] = 0x99;
    });
    const auto kept = [&] {   // settings.txt but for the EC state the simulator keeps in it
        std::istringstream in(ReadText(Sim() / "settings.txt"));
        std::string text;
        for (std::string line; std::getline(in, line);)
            if (line.rfind("mode =", 0) != 0 && line.rfind("selected_port =", 0) != 0)
                text += line + "\n";
        return text;
    };
    const std::string settings = kept();
    const std::string serial = SimNotebook::OpenFolder(Sim())->Identity().serial;

    enum Kind { Plain, Backup, Read };
    // Each command's port operations, counted in process on a fresh notebook in memory.
    uint64_t operations[3];
    for (const Kind kind : {Plain, Backup, Read}) {
        struct : vyk::IoPort {
            SimNotebook sim;
            uint64_t ops = 0;
            void OutPortByte(uint16_t port, uint16_t data) override { ++ops, sim.OutPortByte(port, data); }
            uint16_t InPortByte(uint16_t port) override { return ++ops, sim.InPortByte(port); }
        } ports;
        std::FILE* null = std::fopen("/dev/null", "w");
        vyk::cli::ConsoleOptions quiet;
        quiet.out = quiet.err = null;
        vyk::cli::Console console(quiet);
        vyk::cli::JsonSummary summary;
        vyk::cli::CommonOptions common;
        common.backend.openPorts = &ports;
        vyk::cli::FlashOptions flash;
        flash.imagePath = File("image.bin").string();
        flash.allowBattery = true;
        flash.backupPath = kind == Backup ? File("counted.bin").string() : "";
        EXPECT_EQ(kind == Read ? vyk::cli::RunRead(common, {{}, File("counted.bin").string()}, console, summary)
                               : vyk::cli::RunFlash(common, flash, console, summary),
                  0);
        std::fclose(null);
        fs::remove(File("counted.bin"));
        fs::remove(File("counted.bin.json"));
        operations[kind] = ports.ops;
    }

    const std::vector<uint8_t> old = {1, 2, 3};
    for (int round = 0; round < 12; ++round) {
        const auto kind = static_cast<Kind>(round % 3);
        const int port = std::uniform_int_distribution<int>(1, 2)(gen);
        const uint64_t killAt = std::uniform_int_distribution<uint64_t>(1, operations[kind] * 21 / 20)(gen);
        const std::string args =
            (kind == Read ? "read --force -o " + Quote(File("out.bin").string())
                          : "flash" + (kind == Backup ? " --backup " + Quote(File("backup.bin").string()) : "") +
                                " " + imageArg) +
            " --port " + std::to_string(port);
        SCOPED_TRACE("VYK_KILL_SEED=" + std::to_string(seed) + ", round " + std::to_string(round) +
                     ": killed at port operation " + std::to_string(killAt) + " of " + args);
        const auto before = RandomImage(vyk::sim::FlashSize, seed * 100 + round);
        SimNotebook::OpenFolder(Sim())->WriteFlash(port, 0, before);
        fs::remove(File("backup.bin"));
        WriteBytes(File("out.bin"), old);

        ToolRun r = Vykuu(args, true, "VYKSIM_KILL_AT_PORT_OP=" + std::to_string(killAt));
        if (r.signal == 0)
            EXPECT_EQ(r.code, 0) << "a run past its last port operation completes\n" << r.err;
        else
            EXPECT_EQ(r.signal, SIGKILL) << r.err;
        const auto range = Slice(before, 0xC000, 0x1FF00);
        for (const auto& entry : fs::directory_iterator(dir_)) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name == "nb" || name == "image.bin" || name == "stdout.txt" || name == "stderr.txt" ||
                        name == "out.bin" || name == "backup.bin" || name == "out.bin.json" ||
                        name == "backup.bin.json")
                << "left beside the output: " << name;
        }
        const auto out = ReadBytes(File("out.bin"));
        EXPECT_TRUE(out == old || (kind == Read && out == range)) << out.size() << " bytes";
        if (fs::exists(File("backup.bin"))) {
            EXPECT_EQ(ReadBytes(File("backup.bin")), range);
        }

        {
            std::unique_ptr<SimNotebook> sim;
            ASSERT_NO_THROW(sim = SimNotebook::OpenFolder(Sim()));
            EXPECT_EQ(sim->Identity().serial, serial);
        }
        EXPECT_EQ(kept(), settings);
        for (const auto& entry : fs::directory_iterator(Sim())) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name == vyk::sim::SimFolder::MarkerName || name == "port1.bin" || name == "port2.bin" ||
                        name == "ecram.bin" || name == "settings.txt")
                << "left in the notebook: " << name;
        }

        r = Vykuu("flash --port " + std::to_string(port) + " " + imageArg);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_NE(r.out.find("verified: 319 blocks"), std::string::npos) << r.out;
        EXPECT_EQ(Slice(Flash(port), 0xC000, 0x1FF00), Slice(image, 0xC000, 0x1FF00));
        EXPECT_NE(ReadText(Sim() / "settings.txt").find("mode = normal"), std::string::npos);
    }
}

// Flash options that would quietly do something else than was meant:
// refused before the EC is reached. An --image-at that leaves blocks of the
// range before the file or carries the file past the image buffer, an
// address not read as typed, a backup into the image itself or into the log.
TEST_F(CliRun, MisleadingFlashOptionsAreRefused)
{
    WriteBytes(File("part.bin"), RandomImage(81664, 36));
    const std::string part = Quote(File("part.bin").string());
    const auto ecram = ReadText(Sim() / "ecram.bin");
    for (const auto& [args, code] : std::vector<std::pair<std::string, int>>{
             {"--image-at 00D000", 3},
             {"--start 03F000 --end 040000 --image-at 03F000", 3},
             {"--image-at 00c000", 2},
             {"--image-at 0x00C000", 2},
             {"--image-at 00C000 --end 01ff00", 2},
             {"--image-at 00C000 --backup " + part, 2},
             {"--image-at 00C000 --backup -", 2},
         }) {
        const ToolRun r = Vykuu("flash --port 2 " + args + " " + part);
        EXPECT_EQ(r.code, code) << args << "\n" << r.err;
    }
    EXPECT_EQ(ReadText(Sim() / "ecram.bin"), ecram);
    EXPECT_EQ(Flash(2), std::vector<uint8_t>(vyk::sim::FlashSize, 0xFF));
}

// A stop during the backup's last block: the backup completes and is kept,
// nothing is written. One during the write names the backup and how to
// flash it back, from the start of the range's first block.
TEST_F(CliRun, AStopAroundTheBackupKeepsIt)
{
    const auto old = RandomImage(0x20000, 37);
    WriteBytes(File("old.bin"), old);
    WriteBytes(File("new.bin"), RandomImage(0x20000, 38));
    ASSERT_EQ(Vykuu("--quiet flash --port 1 " + Quote(File("old.bin").string())).code, 0);
    ToolRun r = SignalledAt("flash --port 1 --backup " + Quote(File("safe.bin").string()) + " " +
                                Quote(File("new.bin").string()),
                            318, SIGINT);
    EXPECT_EQ(r.code, 8) << r.err;
    EXPECT_NE(r.err.find("interrupted after the backup; nothing written to the flash"), std::string::npos) << r.err;
    EXPECT_EQ(ReadBytes(File("safe.bin")), Slice(old, 0xC000, 0x1FF00));
    EXPECT_EQ(Slice(Flash(1), 0xC000, 0x1FF00), Slice(old, 0xC000, 0x1FF00));

    r = SignalledAt("flash --port 1 --start 00C080 --backup " + Quote(File("late.bin").string()) + " " +
                        Quote(File("new.bin").string()),
                    319 + 4, SIGINT);
    EXPECT_EQ(r.code, 8) << r.err;
    EXPECT_NE(r.err.find("flash --port 1 --start 00C080 --end 01FF00 --image-at 00C000 " + File("late.bin").string()),
              std::string::npos)
        << r.err;
    EXPECT_EQ(ReadBytes(File("late.bin")), Slice(old, 0xC000, 0x1FF00));
    Configure([](vyk::sim::Settings& s) { s.pauseAfterBlocks = 0; });
}

// An image that ends before the range's end is refused without
// --allow-short at the very boundary: one byte short as much as a block;
// one that ends there, or the option, lets it through.
TEST_F(CliRun, AnImageEvenOneByteShortIsRefused)
{
    const auto image = RandomImage(0x1FF00, 39);
    const std::string range = "flash --port 1 --start 01FC00 --end 01FF00 ";
    const struct {
        size_t missing;
        bool allowShort;
        int code;
    } cases[] = {{1, false, 3}, {255, false, 3}, {256, false, 3}, {0, false, 0}, {1, true, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.missing) + (c.allowShort ? " short, allowed" : " short"));
        const auto file = Slice(image, 0, image.size() - c.missing);
        WriteBytes(File("image.bin"), file);
        const auto before = Flash(1);
        const ToolRun r = Vykuu(range + (c.allowShort ? "--allow-short " : "") + Quote(File("image.bin").string()));
        EXPECT_EQ(r.code, c.code) << r.err;
        auto expected = before;
        if (c.code == 0) {
            std::fill(expected.begin() + 0x1FC00, expected.begin() + 0x1FF00, uint8_t{0xFF});
            std::copy(file.begin() + 0x1FC00, file.end(), expected.begin() + 0x1FC00);
        }
        EXPECT_EQ(Flash(1), expected);
    }
}

namespace {
// A word as a shell takes it back, apostrophes included.
std::string ShellQuoted(const std::string& s)
{
    std::string out = "'";
    for (const char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}
} // namespace

// The commands the advice names paste into a shell as they stand, when the
// notebook's folder and the backup's name hold blanks and apostrophes: the
// reset sends the stranded PD back to its firmware, the restore flashes the
// backup back where it came from.
TEST_F(CliRun, TheAdvicesCommandsPasteIntoAShell)
{
    const fs::path nb = dir_ / "Tom's note book";
    fs::create_directories(nb);
    const auto settle = [&](int stuckAfter) {
        auto sim = SimNotebook::OpenFolder(nb);
        sim->GetSettings().faults.stuckBusyAfterBlocks = stuckAfter;
        sim->SaveSettings();
    };
    settle(319 + 5);   // the backup, then 5 blocks of the write
    const auto flash = [&] {
        const auto sim = SimNotebook::OpenFolder(nb);
        const auto span = sim->Flash(1);
        return std::vector<uint8_t>(span.begin(), span.end());
    };
    const auto old = flash();
    WriteBytes(File("image.bin"), RandomImage(0x20000, 40));
    const fs::path backup = dir_ / "the old one's.bin";
    ToolRun r = Vykuu("--sim " + ShellQuoted(nb.string()) + " --timeout 0.2 flash --port 1 --backup " +
                          ShellQuoted(backup.string()) + " " + Quote(File("image.bin").string()),
                      false);
    ASSERT_EQ(r.code, 5) << r.err;
    ASSERT_NE(flash(), old) << "nothing was written before the EC stuck";
    // The reset's command up to its port; the restore's to the end of its line.
    const std::string tool = "vykuu --sim ", resetTail = " reset --port 1";
    const size_t reset = r.err.find(tool), resetEnd = r.err.find(resetTail, reset);
    const size_t restore = r.err.rfind(tool), restoreEnd = r.err.find('\n', restore);
    ASSERT_NE(resetEnd, std::string::npos) << r.err;
    ASSERT_NE(r.err.find(" flash --port 1 --image-at ", restore), std::string::npos) << r.err;
    settle(0);

    const std::string path = fs::path(VYKUU_PATH).parent_path().string();
    for (const std::string& command : {r.err.substr(reset, resetEnd + resetTail.size() - reset),
                                       r.err.substr(restore, restoreEnd - restore)}) {
        SCOPED_TRACE(command);
        const fs::path said = dir_ / "pasted.txt";
        const int status = std::system(("cd " + ShellQuoted(dir_.string()) + " && export PATH=" +
                                        ShellQuoted(path) + ":\"$PATH\" && " + command + " >" +
                                        Quote(said.string()) + " 2>&1 </dev/null")
                                           .c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadText(said);
        EXPECT_NE(ReadText(nb / "settings.txt").find("mode = normal"), std::string::npos);
    }
    EXPECT_EQ(flash(), old) << "the backup did not go back";
}

// The record's imageSha256 is the file's hash, wherever --image-at places
// it; its times are the real time of the run, in UTC whatever the zone.
TEST_F(CliRun, TheRecordHoldsTheFilesHashAndTheTimeOfTheRun)
{
    WriteBytes(File("image.bin"), RandomImage(0x20000, 41));
    WriteBytes(File("saved.bin"), RandomImage(0x1FF00 - 0xC000, 42));
    const auto sha = [&](const fs::path& file) {
        const fs::path out = dir_ / "sha.txt";
        EXPECT_EQ(std::system(("sha256sum " + Quote(file.string()) + " >" + Quote(out.string())).c_str()), 0);
        return ReadText(out).substr(0, 64);
    };
    static const std::regex stamp(R"re("(started|ended)": "(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)\.(\d{3})Z")re");
    using namespace std::chrono;
    for (const auto& [file, args] : std::vector<std::pair<fs::path, std::string>>{
             {File("image.bin"), ""}, {File("saved.bin"), "--image-at 00C000 "}}) {
        SCOPED_TRACE(file.string());
        const auto before = floor<milliseconds>(system_clock::now());
        // Local time half an hour off from any whole hour of UTC.
        const ToolRun r = Vykuu("--json --dry-run flash --port 1 " + args + Quote(file.string()), true, "TZ=XYZ-5:30");
        const auto after = system_clock::now();
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_NE(r.out.find("\"imageSha256\": \"" + sha(file) + "\""), std::string::npos) << r.out;
        std::vector<system_clock::time_point> times;
        for (auto it = std::sregex_iterator(r.out.begin(), r.out.end(), stamp); it != std::sregex_iterator(); ++it) {
            const auto& m = *it;
            const year_month_day date{year{std::stoi(m[2])}, month{unsigned(std::stoi(m[3]))},
                                      day{unsigned(std::stoi(m[4]))}};
            ASSERT_TRUE(date.ok()) << m[0];
            times.push_back(sys_days{date} + hours{std::stoi(m[5])} + minutes{std::stoi(m[6])} +
                            seconds{std::stoi(m[7])} + milliseconds{std::stoi(m[8])});
        }
        ASSERT_EQ(times.size(), 2u) << r.out;
        EXPECT_LE(before, times[0]) << r.out;
        EXPECT_LE(times[0], times[1]) << r.out;
        EXPECT_LE(times[1], after) << r.out;
    }
}

// A technician's third day: what the tool's own words lead to never erases
// firmware. A file saved from part of the range, a hex text file, a block
// number typed as an address: each refused before the EC, with the way on.
TEST_F(CliRun, ThirdDayRefusalsLeadToAGoodFlash)
{
    const auto firmware = RandomImage(vyk::sim::FlashSize, 41);
    SimNotebook::OpenFolder(Sim())->WriteFlash(1, 0, firmware);
    ASSERT_EQ(Vykuu("read --port 1 --start 00C000 --end 00D000 -o " + Quote(File("part.bin").string())).code, 0);
    std::string hex;
    for (int line = 0; line < 200; ++line)
        hex += ":10C00000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF30\r\n";
    WriteBytes(File("fw.hex"), std::vector<uint8_t>(hex.begin(), hex.end()));
    WriteBytes(File("image.bin"), RandomImage(0x20000, 42));
    const std::string part = Quote(File("part.bin").string()), image = Quote(File("image.bin").string());
    struct Case { std::string args; int code; std::string said; };
    for (const auto& c : std::vector<Case>{
             {"flash --port 1 --image-at 00C000 " + part, 3,
              "it covers 0x00C000..0x00CFFF of the range 0x00C000..0x01FEFF. To flash what it holds, give the range "
              "it covers: --start 00C000 --end 00D000. --allow-short would instead write the other 303 blocks, "
              "0x00D000..0x01FEFF, as 0xFF: that erases them"},
             {"flash --port 1 " + Quote(File("fw.hex").string()), 3,
              "is an Intel HEX text file: it starts with \":10C00000FFFFFFFFFFFFFFF\". vykuu flashes raw binary "
              "images"},
             {"flash --port 1 --allow-short " + Quote(File("fw.hex").string()), 3, "Intel HEX"},
             {"flash --port 1 --start C0 " + image, 7,
              "range refused: the range 0x000000..0x01FEFF starts below 0x00C000, the default start"},
             {"flash --port 1 --start C0 --end 1FF " + image, 7,
              "block C0 starts at 0x00C000 (--start 00C000). Give --allow-low-range"},
             {"--dry-run flash --port 1 --start 00BF00 " + image, 7, "may hold the controller's boot code"},
         }) {
        const ToolRun r = Vykuu(c.args);
        EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << c.args << "\n" << r.err;
    }
    EXPECT_EQ(Flash(1), firmware) << "a refusal touched the flash";

    // The advice followed restores the file's blocks and nothing else.
    SimNotebook::OpenFolder(Sim())->WriteFlash(1, 0, std::vector<uint8_t>(vyk::sim::FlashSize, 0));
    ToolRun r = Vykuu("flash --port 1 --start 00C000 --end 00D000 --image-at 00C000 " + part);
    EXPECT_EQ(r.code, 0) << r.err;
    auto flash = Flash(1);
    EXPECT_EQ(Slice(flash, 0xC000, 0xD000), Slice(firmware, 0xC000, 0xD000));
    EXPECT_EQ(Slice(flash, 0xD000, 0x1FF00), std::vector<uint8_t>(0x1FF00 - 0xD000, 0)) << "past the file";

    // Padding asked for is said with the result; a read below 00C000 stays allowed.
    r = Vykuu("--json flash --port 1 --allow-short --image-at 00C000 " + part);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("written: 319 blocks 0x00C000..0x01FEFF of port 1; of these, 303 blocks "
                         "(0x00D000..0x01FEFF) written as 0xFF padding (--allow-short)"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("\"paddedBlocks\": 303"), std::string::npos) << r.out;
    EXPECT_EQ(Vykuu("read --port 1 --start 000000 --end 000100 -o " + Quote(File("low.bin").string())).code, 0);
}

// read -o never replaces a file unasked: the refusal names the file's size
// and time and --force; a read-only file is no exception for root.
TEST_F(CliRun, ThirdDayReadOutputIsNeverReplacedUnasked)
{
    WriteBytes(File("p1-before.bin"), {1, 2, 3});
    fs::permissions(File("p1-before.bin"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const std::string out = Quote(File("p1-before.bin").string());
    ToolRun r = Vykuu("read --port 2 -o " + out);
    EXPECT_EQ(r.code, 3) << r.err;
    EXPECT_TRUE(std::regex_search(r.err, std::regex(R"(exists \(3 bytes, modified \d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC\) )"
                                                    R"(and is not replaced: give another name, or --force)")))
        << r.err;
    EXPECT_EQ(ReadBytes(File("p1-before.bin")), (std::vector<uint8_t>{1, 2, 3}));
    fs::permissions(File("p1-before.bin"), fs::perms::owner_all);
    r = Vykuu("read --port 2 --force -o " + out);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadBytes(File("p1-before.bin")).size(), 81664u);
}

// A rerun with a --backup that exists compares before it writes: the same
// firmware keeps the backup and goes on; a range that holds the image
// already goes on too; a file of another length is no backup of the range.
TEST_F(CliRun, ThirdDayARerunKeepsTheGoodBackup)
{
    const auto old = RandomImage(0x20000, 43), fresh = RandomImage(0x20000, 44);
    WriteBytes(File("old.bin"), old);
    WriteBytes(File("new.bin"), fresh);
    ASSERT_EQ(Vykuu("--quiet flash --port 1 " + Quote(File("old.bin").string())).code, 0);
    const std::string flash = "flash --port 1 --backup " + Quote(File("bk.bin").string()) + " ";
    WriteBytes(File("bk.bin"), Slice(old, 0xC000, 0x1FF00));   // as a run stopped after its backup leaves it
    WriteBytes(File("short.bin"), {1, 2, 3});
    ASSERT_EQ(Vykuu("read --port 2 -o " + Quote(File("p2.bin").string())).code, 0);
    fs::create_symlink(File("nowhere.bin"), File("link.bin"));
    struct Case { std::string args; int code; std::string said; };
    for (const auto& c : std::vector<Case>{
             {flash + Quote(File("new.bin").string()), 0, "(all 81664 bytes match): kept as this flash's backup"},
             {flash + Quote(File("new.bin").string()), 0, "holds the image already (an earlier flash of it "
                                                          "completed); the backup " + File("bk.bin").string()},
             {"flash --port 1 --backup " + Quote(File("short.bin").string()) + " " + Quote(File("old.bin").string()),
              3, "is no backup of the range 0x00C000..0x01FEFF, which has 81664 bytes: give a new name"},
             {"flash --port 1 --backup " + Quote(File("p2.bin").string()) + " " + Quote(File("old.bin").string()), 3,
              "says it holds port 2's range from 0x00C000, not port 1's from 0x00C000: give a new name"},
             {"flash --port 1 --backup " + Quote(File("link.bin").string()) + " " + Quote(File("old.bin").string()), 3,
              "exists (a link to no file yet) and is not replaced: a backup is written once"},
         }) {
        const ToolRun r = Vykuu(c.args);
        EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.err;
        EXPECT_NE((r.out + r.err).find(c.said), std::string::npos) << c.args << "\n" << r.out << r.err;
    }
    EXPECT_EQ(ReadBytes(File("bk.bin")), Slice(old, 0xC000, 0x1FF00)) << "the backup was replaced";
    EXPECT_EQ(Slice(Flash(1), 0xC000, 0x1FF00), Slice(fresh, 0xC000, 0x1FF00));

    // A FIFO where the backup's record would lie is no record; it must not
    // hold the run (timeout ends a run that waits on it).
    WriteBytes(File("fifo-bk.bin"), Slice(fresh, 0xC000, 0x1FF00));
    ASSERT_EQ(::mkfifo(File("fifo-bk.bin.json").c_str(), 0600), 0);
    const ToolRun held = Vykuu("flash --port 1 --backup " + Quote(File("fifo-bk.bin").string()) + " " +
                                   Quote(File("new.bin").string()),
                               true, "timeout 20");
    EXPECT_EQ(held.code, 0) << held.err;
    EXPECT_NE((held.out + held.err).find("kept as this flash's backup"), std::string::npos) << held.out << held.err;

    // Another notebook's backup under the same name is no backup of this one.
    ASSERT_EQ(Vykuu("read --port 1 -o " + Quote(File("other.bin").string())).code, 0);
    const std::string serial = SimNotebook::OpenFolder(Sim())->Identity().serial;
    std::string record = ReadText(File("other.bin.json"));
    record.replace(record.find(serial), serial.size(), "OTHER-1");
    WriteBytes(File("other.bin.json"), std::vector<uint8_t>(record.begin(), record.end()));
    const ToolRun other = Vykuu("flash --port 1 --backup " + Quote(File("other.bin").string()) + " " +
                                Quote(File("old.bin").string()));
    EXPECT_EQ(other.code, 3) << other.err;
    EXPECT_NE(other.err.find("says it was read from the notebook with serial OTHER-1; this notebook's serial is " +
                             serial + ": give a new name"),
              std::string::npos)
        << other.err;
    EXPECT_EQ(Slice(Flash(1), 0xC000, 0x1FF00), Slice(fresh, 0xC000, 0x1FF00)) << "flashed with another's backup";
}

// Every end leaves its record: a second signal ends the process at once and
// still prints the JSON, with what was written and what the PD may be in. A
// stop once the write is whole is told apart from a half-written flash.
TEST_F(CliRun, ThirdDayASecondSignalStillLeavesTheRecord)
{
    WriteBytes(File("image.bin"), RandomImage(0x20000, 45));
    struct Case { std::string args; int blocks; std::vector<std::string> fields; };
    for (const auto& c : std::vector<Case>{
             {"--json flash --port 2 " + Quote(File("image.bin").string()), 3,
              {"\"command\": \"flash\"", "\"interrupted\": true, \"signal\": \"SIGINT\", \"endedAtOnce\": true, "
               "\"blocksWritten\": 3, \"pdState\": \"boot loader (flashing mode), flash partly written, no "
               "validate\", \"pdMayBeInBootLoader\": true, \"ok\": false, \"exitCode\": 130}"}},
             {"--json read --port 2 -o " + Quote(File("out.bin").string()), 3,
              {"\"command\": \"read\"", "\"pdState\": \"boot loader (flashing mode), nothing written\""}},
         }) {
        SCOPED_TRACE(c.args);
        const pid_t pid = StartPaused(c.args, c.blocks);
        ::kill(pid, SIGINT);
        ASSERT_TRUE(Appears(dir_ / "stderr.txt", "interrupt again"));
        ::kill(pid, SIGINT);
        const ToolRun r = Wait(pid);
        Resume();
        EXPECT_EQ(r.signal, SIGINT);
        ASSERT_EQ(r.OutLines().size(), 1u) << r.out;
        for (const auto& field : c.fields)
            EXPECT_NE(r.out.find(field), std::string::npos) << field << " in " << r.out;
        EXPECT_EQ(r.out.find("blocksWritten", r.out.find("blocksWritten") + 1), std::string::npos) << r.out;
    }
    Configure([](vyk::sim::Settings& s) { s.pauseAfterBlocks = 0; });

    // Stopped during the read-back: the flash is whole, not verified.
    const ToolRun r = SignalledAt("--json flash --port 1 " + Quote(File("image.bin").string()), 319 + 5, SIGTERM);
    EXPECT_EQ(r.code, 12) << r.err;
    EXPECT_NE(r.out.find("\"interrupted\": true, \"signal\": \"SIGTERM\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"exitCode\": 12"), std::string::npos) << r.out;
}

// Beside every file read from a PD lies its record (FILE.json); a flash of
// that file checks it: another port, another notebook or changed bytes are
// refused, naming both sides, unless --force.
TEST_F(CliRun, ThirdDayABackupKnowsWhereItCameFrom)
{
    SimNotebook::OpenFolder(Sim())->WriteFlash(2, 0, RandomImage(vyk::sim::FlashSize, 46));
    const std::string serial = SimNotebook::OpenFolder(Sim())->Identity().serial;
    ASSERT_EQ(Vykuu("read --port 2 -o " + Quote(File("p2.bin").string())).code, 0);
    const std::string record = ReadText(File("p2.bin.json"));
    const std::string version = Vykuu("--version").out;   // "vykuu 1.3+...\n"
    const auto bytes = ReadBytes(File("p2.bin"));
    for (const std::string& field :
         {std::string("\"port\": 2"), std::string("\"start\": \"00C000\", \"end\": \"01FF00\""),
          "\"serial\": \"" + serial + "\"", std::string("\"bytes\": 81664"), std::string("\"vendor\": \"VYK_UU\""),
          std::string("\"time\": \"20"), std::string("\"sha256\": \""),
          "\"toolVersion\": \"" + version.substr(6, version.size() - 7) + "\""})
        EXPECT_NE(record.find(field), std::string::npos) << field << " in " << record;

    const std::string p2 = Quote(File("p2.bin").string());
    const auto withRecord = [&](const std::string& from, const std::string& to) {
        std::string text = record;
        text.replace(text.find(from), from.size(), to);
        WriteBytes(File("p2.bin.json"), std::vector<uint8_t>(text.begin(), text.end()));
    };
    struct Case { std::function<void()> setUp; std::string args; int code; std::string said; };
    for (const auto& c : std::vector<Case>{
             {[] {}, "flash --port 1 --image-at 00C000 " + p2, 3,
              "it was read from port 2 (" + File("p2.bin.json").string() + "); this flash is to port 1. Nothing "
              "flashed; give --force"},
             {[&] { withRecord(serial, "OTHER-1"); }, "flash --port 2 --image-at 00C000 " + p2, 3,
              "it was read from the notebook with serial OTHER-1 (" + File("p2.bin.json").string() +
                  "); this notebook's serial is " + serial},
             {[&] { withRecord("\"sha256\": \"", "\"sha256\": \"0"); }, "--dry-run flash --port 2 --image-at 00C000 " + p2,
              3, "it does not match its record " + File("p2.bin.json").string() + ": its SHA-256 is "},
             {[&] { withRecord("\"port\"", "\"prt\""); }, "--dry-run flash --port 2 --image-at 00C000 " + p2, 3,
              "cannot be read: it has no \"port\""},
             {[&] { withRecord("port", "port"); }, "--dry-run flash --port 2 --image-at 00C000 " + p2, 0, "matches its record"},
             // A saved read flashed without --image-at, short-padded: the range
             // would take the file's later bytes and 0xFF, and verify as good.
             {[] {}, "flash --port 2 --allow-short " + p2, 3,
              "it was read from flash address 0x00C000 on (" + File("p2.bin.json").string() +
                  "), so its first byte belongs there; this flash places it at 0x000000: give --image-at 00C000"},
             {[] {}, "flash --port 2 --image-at 00C100 --start 00C100 --allow-short " + p2, 3,
              "this flash places it at 0x00C100"},
             {[] {}, "flash --port 1 --force --image-at 00C000 " + p2, 0, "although it was read from port 2"},
         }) {
        c.setUp();
        const ToolRun r = Vykuu(c.args);
        EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.err;
        EXPECT_NE((r.out + r.err).find(c.said), std::string::npos) << c.args << "\n" << r.out << r.err;
    }
    EXPECT_EQ(Slice(Flash(1), 0xC000, 0x1FF00), bytes) << "only the forced flash went out";
}
