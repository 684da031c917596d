// vykuu run as a script runs it, against simulated notebook folders.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
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
    int code = -1;
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

    template <class F>
    void Configure(F change)
    {
        auto sim = SimNotebook::OpenFolder(Sim());
        change(sim->GetSettings());
        sim->SaveSettings();
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

// Real ports without the right to them: a clear refusal, exit 4. Run as
// nobody when the tests run as root, so that no port is ever touched here.
TEST_F(CliRun, RefusedRealPortsExitWith4)
{
    std::string prefix;
    if (::geteuid() == 0) {
        if (std::system("setpriv --version >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "root without setpriv: would reach real ports";
        prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    }
    const fs::path err = dir_ / "stderr.txt";
    const std::string cmd = prefix + Quote(VYKUU_PATH) + " version >/dev/null 2>" + Quote(err.string());
    const int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 4);
    EXPECT_NE(ReadText(err).find("no access to I/O ports 0x4E/0x4F"), std::string::npos) << ReadText(err);
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
