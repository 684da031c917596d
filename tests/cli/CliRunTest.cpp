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
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

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

    // Runs vykuu with the simulator folder and these arguments; no terminal,
    // so no progress bar.
    ToolRun Vykuu(const std::string& args, bool withSim = true)
    {
        const fs::path out = dir_ / "stdout.txt", err = dir_ / "stderr.txt";
        std::string cmd = Quote(VYKUU_PATH);
        if (withSim)
            cmd += " --sim " + Quote(Sim().string());
        cmd += " " + args + " >" + Quote(out.string()) + " 2>" + Quote(err.string()) + " </dev/null";
        const int status = std::system(cmd.c_str());
        ToolRun r;
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
TEST_F(CliRun, LogLinesAreTheWindowsForTheDefaultRange)
{
    WriteBytes(File("image.bin"), RandomImage(0x20000, 1));
    ToolRun r = Vykuu("flash --port 1 --no-verify " + Quote(File("image.bin").string()));
    ASSERT_EQ(r.code, 0) << r.err;
    std::vector<std::string> expected = {" ", "Load File : " + File("image.bin").string(), "Load File Successed! ",
                                         "File Length: 131072 Byte"};
    const auto flashLog = WindowFlashLog(0xC0, 0x1FF);
    expected.insert(expected.end(), flashLog.begin(), flashLog.end());
    EXPECT_EQ(Unstamped(r.OutLines()), expected);

    r = Vykuu("read --port 2 -o " + Quote(File("out.bin").string()));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Unstamped(r.OutLines()), WindowReadLog(0xC0, 0x1FF));

    // Verify appends the read's log to the flash's.
    r = Vykuu("flash --port 2 " + Quote(File("image.bin").string()));
    ASSERT_EQ(r.code, 0) << r.err;
    const auto readLog = WindowReadLog(0xC0, 0x1FF);
    expected.insert(expected.end(), readLog.begin(), readLog.end());
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
TEST_F(CliRun, VerifyMismatchNamesTheFirstDifferingAddress)
{
    WriteBytes(File("image.bin"), RandomImage(0x20000, 5));
    Configure([](vyk::sim::Settings& s) {
        s.faults.corruptReads = true;
        s.faults.corruptAddress = 0x012345;
    });
    ToolRun r = Vykuu("--json flash --port 2 " + Quote(File("image.bin").string()));
    EXPECT_EQ(r.code, 6) << r.err;
    EXPECT_NE(r.err.find("flash address 0x012345"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("\"firstMismatch\": \"012345\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"mismatchedBytes\": 1,"), std::string::npos) << r.out;
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
    r = Vykuu("--timeout 0.2 read --port 2 -o " + Quote(File("out.bin").string()));
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

TEST_F(CliRun, UsageErrorsExitWith2)
{
    WriteBytes(File("image.bin"), RandomImage(0x20000, 2));
    const std::string image = Quote(File("image.bin").string());
    for (const std::string& args : std::vector<std::string>{
             std::string(""),                                   // no command
             "flash " + image,                                  // no --port
             "flash --port 3 " + image,                         // no such port
             "read --port 1",                                   // no -o
             "version --port 0",
             "flash --port 1 --start 00c000 " + image,          // the window would read 0
             "flash --port 1 --start 0xC000 " + image,          // likewise
             "flash --port 1 --end 01FF000 " + image,           // seven digits
             "flash --port 1 --start \"\" " + image,
             "flash --port 1 --bogus " + image,
             "--timeout 0 version",
             "--timeout abc version",
         }) {
        const ToolRun r = Vykuu(args);
        EXPECT_EQ(r.code, 2) << args << "\n" << r.err;
        EXPECT_FALSE(r.err.empty()) << args;
    }
    EXPECT_EQ(Vykuu("--help").code, 0);
    EXPECT_NE(Vykuu("--help").out.find("6  verify mismatch"), std::string::npos);
}

TEST_F(CliRun, BadFilesExitWith3AndTouchNoPort)
{
    const auto before = ReadText(Sim() / "settings.txt");
    WriteBytes(File("huge.bin"), std::vector<uint8_t>(0x40003, 0));
    WriteBytes(File("dump.bin"), std::vector<uint8_t>(81664, 0));   // what 'read' writes
    fs::create_directories(File("folder"));
    for (const std::string& args : std::vector<std::string>{
             "flash --port 1 " + Quote(File("missing.bin").string()),
             "flash --port 1 " + Quote(File("huge.bin").string()),
             "flash --port 1 " + Quote(File("dump.bin").string()),
             "flash --port 1 " + Quote(File("folder").string()),
             "read --port 1 -o " + Quote(File("no/such/folder/out.bin").string()),
             "read --port 1 -o " + Quote(File("folder").string()),
         }) {
        const ToolRun r = Vykuu(args);
        EXPECT_EQ(r.code, 3) << args << "\n" << r.err;
        EXPECT_FALSE(r.err.empty()) << args;
    }
    EXPECT_EQ(ReadText(Sim() / "settings.txt"), before);
    EXPECT_EQ(Flash(1), std::vector<uint8_t>(vyk::sim::FlashSize, 0xFF));

    // A short image goes out, padded with 0xFF, only when asked for.
    const ToolRun r = Vykuu("flash --allow-short --port 1 " + Quote(File("dump.bin").string()));
    EXPECT_EQ(r.code, 0) << r.err;
    const auto flash = Flash(1);
    EXPECT_EQ(flash[0xC000], 0x00);
    EXPECT_EQ(flash[0x13F00], 0xFF);
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
    // The whole flash is a sound range.
    EXPECT_EQ(Vykuu("flash --port 1 --start 000000 --end 040000 " + image).code, 0);
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
    if (::geteuid() == 0) {
        if (std::system("setpriv --version >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "root without setpriv: would reach real ports";
        prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    }
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
    // ... and still finds what is wrong.
    EXPECT_EQ(Vykuu("--dry-run flash --port 2 --end 00C000 " + Quote(File("image.bin").string())).code, 7);
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
                              "\"exitCode\": 8"})
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
    EXPECT_EQ(r.code, 8) << r.err;
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
    // the temporary file goes with it.
    const pid_t pid = StartPaused("read --port 2 -o " + Quote(File("out.bin").string()), 3);
    ::kill(pid, SIGINT);
    ASSERT_TRUE(Appears(dir_ / "stderr.txt", "interrupt again"));
    ::kill(pid, SIGINT);
    r = Wait(pid);
    EXPECT_EQ(r.signal, SIGINT);
    Resume();
    for (const auto& entry : fs::directory_iterator(dir_))
        EXPECT_EQ(entry.path().filename().string().rfind("out.bin", 0), std::string::npos) << entry.path();
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
    EXPECT_NE(ReadText(File("err.txt")).find("standard output: write failed: Broken pipe"), std::string::npos)
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
    const std::string settings = ReadText(Sim() / "settings.txt");
    const std::string simctl = fs::path(VYKUU_PATH).parent_path().parent_path() / "sim" / "vyksimctl";
    EXPECT_EQ(std::system((Quote(simctl) + " set " + Quote(Sim().string()) + " busy_reads=9 2>/dev/null").c_str()) >> 8,
              3);
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
    // A folder of other things is no notebook: refused, nothing written into it.
    ToolRun r = Vykuu("--sim " + Quote(dir_.string()) + " version", false);
    EXPECT_EQ(r.code, 4) << r.err;
    EXPECT_FALSE(fs::exists(dir_ / "port1.bin"));
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
    r = Vykuu("help flash", false);
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("--image-at"), std::string::npos) << r.out;
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
