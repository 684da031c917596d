#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <vector>

#include "platform/DriverStartText.h"
#include "platform/EcLock.h"
#include "platform/MachineInfo.h"
#include "platform/OutputFile.h"
#include "platform/PortBackend.h"
#include "platform/Sha256.h"
#include "platform/StopSignals.h"
#include "sim/SimNotebook.h"

using namespace vyk;
using namespace vyk::platform;
namespace fs = std::filesystem;

namespace {
// Every fsync of this test binary: the file synced, and whether the name
// watched then already named it.
struct Synced {
    ino_t inode;
    bool named;
};
std::vector<Synced> synced;
std::string watchedName;

std::set<std::string> Entries(const fs::path& dir)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

std::string Text(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A failure's kind by its number, as the cases give it.
int NumberOf(const Failure& failure) { return static_cast<int>(failure.Kind()); }

// One power supply's attribute files by name, as Linux shows them.
using Files = std::map<std::string, std::string>;
SupplyFiles Supply(Files files)
{
    return [files = std::move(files)](const char* name) {
        const auto it = files.find(name);
        return it == files.end() ? std::string() : it->second;
    };
}
} // namespace

// Stands in for the C library's, to see when an output file is synced.
extern "C" int fsync(int fd)
{
    struct stat held {}, named {};
    ::fstat(fd, &held);
    synced.push_back({held.st_ino, !watchedName.empty() && ::stat(watchedName.c_str(), &named) == 0 &&
                                       named.st_ino == held.st_ino && named.st_dev == held.st_dev});
    return static_cast<int>(::syscall(SYS_fsync, fd));
}

// With a nameless temporary file and a named one: the file is on the disk
// before it gets its name; a replaced file's permissions stay, a new one's
// follow the umask; a name taken meanwhile stays when nothing may be
// replaced; nothing is left beside the target, however it ends.
TEST(OutputFile, SyncedBeforeItsNameWithItsPermissionsAndNothingBeside)
{
    const fs::path dir = fs::temp_directory_path() / ("vyk-output-" + std::to_string(::getpid()));
    const mode_t umask = ::umask(022);
    const std::string data = "whole\n";
    const auto commit = [&](OutputFile& file) {
        return file.Commit(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    };
    for (const bool named : {false, true}) {
        for (const bool keepExisting : {false, true}) {
            SCOPED_TRACE(std::string(named ? "named" : "nameless") + (keepExisting ? ", kept" : ", replaced"));
            fs::remove_all(dir);
            fs::create_directories(dir);
            const fs::path target = dir / "out.bin";
            if (!keepExisting) {
                std::ofstream(target) << "old";
                ::chmod(target.c_str(), 0640);
            }
            OutputFile::Rules rules;
            rules.keepExisting = keepExisting;
            rules.namedTemporary = named;
            OutputFile file;
            ASSERT_NO_THROW(file.Prepare(target.string(), rules));
            EXPECT_EQ(Entries(dir).size(), (keepExisting ? 0u : 1u) + (named ? 1u : 0u)) << "the temporary file";
            synced.clear();
            watchedName = target.string();
            ASSERT_NO_THROW(commit(file));
            watchedName.clear();
            struct stat st {};
            ASSERT_EQ(::stat(target.c_str(), &st), 0);
            EXPECT_EQ(Text(target), data);
            EXPECT_EQ(st.st_mode & 07777, keepExisting ? 0644u : 0640u);
            ASSERT_EQ(synced.size(), 1u);
            EXPECT_EQ(synced[0].inode, st.st_ino) << "another file synced";
            EXPECT_FALSE(synced[0].named) << "synced only after it had its name";

            // Made by someone else between the check and the rename.
            OutputFile late;
            ASSERT_NO_THROW(late.Prepare((dir / "late.bin").string(), rules));
            std::ofstream(dir / "late.bin") << "theirs";
            int code = 0;
            std::string message;
            try {
                commit(late);
            } catch (const Failure& failure) {
                code = NumberOf(failure);
                message = failure.Message();
            }
            EXPECT_EQ(code, keepExisting ? 3 : 0) << message;
            EXPECT_EQ(Text(dir / "late.bin"), keepExisting ? "theirs" : data);
            if (keepExisting) {
                EXPECT_NE(message.find("was made by someone else meanwhile; it is left as it is"), std::string::npos);
            }
            {
                OutputFile gone;   // prepared, never committed
                ASSERT_NO_THROW(gone.Prepare((dir / "gone.bin").string(), rules));
            }
            EXPECT_EQ(Entries(dir), (std::set<std::string>{"out.bin", "late.bin"}));
        }
    }
    ::umask(umask);
    fs::remove_all(dir);
}

// A temporary file beside the target is removed only when the process its
// name carries is gone and no one holds its lock (a run in another process
// namespace, with a number that is free here); other names stay.
TEST(OutputFile, RemovesOnlyTheLeftoversOfEndedRuns)
{
    const fs::path dir = fs::temp_directory_path() / ("vyk-leftovers-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "out.bin.vykuu-1-2.tmp");   // a folder is no leftover
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    const std::string dead = std::to_string(child), live = std::to_string(::getppid());
    const std::set<std::string> removed = {"out.bin.vykuu-" + dead + ".tmp", "out.bin.vykuu-" + dead + "-3.tmp"};
    const std::set<std::string> kept = {"out.bin.vykuu-" + live + ".tmp", "out.bin.vykuu-" + dead + "-1.tmp",
                                        "other.bin.vykuu-" + dead + ".tmp", "out.bin.vykuu-x" + dead + ".tmp",
                                        "out.bin.vykuu-" + dead + "-.tmp", "out.bin.vykuu-1-2.tmp"};
    for (const auto& names : {removed, kept})
        for (const auto& name : names)
            if (!fs::exists(dir / name))
                std::ofstream(dir / name) << "left";
    const int held = ::open((dir / ("out.bin.vykuu-" + dead + "-1.tmp")).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    for (const bool named : {false, true}) {
        OutputFile::Rules rules;
        rules.namedTemporary = named;
        OutputFile file;
        ASSERT_NO_THROW(file.Prepare((dir / "out.bin").string(), rules));
        ASSERT_NO_THROW(file.Commit(reinterpret_cast<const uint8_t*>("x"), 1));
        std::set<std::string> expected = kept;
        expected.insert("out.bin");
        EXPECT_EQ(Entries(dir), expected);
    }
    ::close(held);
    fs::remove_all(dir);
}

// A symbolic link is judged by what it reaches: a dangling link is a name
// taken for a file that is never replaced (not a way to write elsewhere);
// a replaced target keeps its own permissions, not the link's; the
// notebook's folder is refused when a linked folder leads into it, on
// either side.
TEST(OutputFile, SymbolicLinksAreJudgedByWhatTheyReach)
{
    const fs::path dir = fs::temp_directory_path() / ("vyk-links-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "real");
    fs::create_directories(dir / "nb");
    std::ofstream(dir / "real" / "kept.bin") << "old";
    ASSERT_EQ(::chmod((dir / "real" / "kept.bin").c_str(), 0640), 0);
    fs::create_symlink("real/kept.bin", dir / "to-kept");
    fs::create_symlink("real/nothing.bin", dir / "dangling");
    fs::create_directory_symlink("nb", dir / "alias");
    struct Case {
        const char* name;
        fs::path path;
        bool keepExisting;
        fs::path refusedFolder;
        int code;   // 0: written
    };
    const Case cases[] = {
        {"a dangling link as a file never replaced", dir / "dangling", true, {}, 3},
        {"a link to a file that is replaced", dir / "to-kept", false, {}, 0},
        {"into the notebook through a linked folder", dir / "alias" / "x.bin", false, dir / "nb", 3},
        {"the notebook named through a linked folder", dir / "nb" / "y.bin", false, dir / "alias", 3},
    };
    const std::string data = "new";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OutputFile::Rules rules;
        rules.keepExisting = c.keepExisting;
        rules.refusedFolder = c.refusedFolder.string();
        OutputFile file;
        int code = 0;
        try {
            file.Prepare(c.path.string(), rules);
            file.Commit(reinterpret_cast<const uint8_t*>(data.data()), data.size());
        } catch (const Failure& failure) {
            code = NumberOf(failure);
        }
        EXPECT_EQ(code, c.code);
    }
    EXPECT_TRUE(fs::is_symlink(dir / "dangling"));
    EXPECT_TRUE(fs::is_symlink(dir / "to-kept"));
    EXPECT_EQ(Entries(dir / "real"), std::set<std::string>{"kept.bin"}) << "written through the dangling link";
    EXPECT_EQ(Text(dir / "real" / "kept.bin"), data);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "real" / "kept.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_TRUE(fs::is_empty(dir / "nb")) << "written into the notebook's folder";
    fs::remove_all(dir);
}

// The second signal ends the process at once and takes the temporary file
// with it, where that file has a name (a file system without nameless
// files, or Windows): each signal, in a process of its own.
TEST(StopSignals, ASecondSignalLeavesNoNamedTemporaryFile)
{
    const fs::path dir = fs::temp_directory_path() / ("vyk-signalled-" + std::to_string(::getpid()));
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        fs::remove_all(dir);
        fs::create_directories(dir);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDERR_FILENO);
            InstallStopHandlers({});
            OutputFile::Rules rules;
            rules.namedTemporary = true;
            OutputFile file;
            try {
                file.Prepare((dir / "out.bin").string(), rules);
            } catch (...) {
                ::_exit(2);
            }
            if (Entries(dir).size() != 1)
                ::_exit(3);   // no named temporary file to lose
            ::raise(signal);
            ::raise(signal);
            ::_exit(4);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "exit code " << WEXITSTATUS(status);
        EXPECT_EQ(WTERMSIG(status), signal);
        EXPECT_EQ(Entries(dir), std::set<std::string>{});
    }
    fs::remove_all(dir);
}

// The Windows tool's reason for a driver that is not open: a signature
// refusal (577) must be named as such, not as a missing administrator.
TEST(DriverStart, NamesTheSignatureRefusalAndTheCommonCauses)
{
    const std::string signature = DriverStartProblem("vykportx64", 577);
    EXPECT_NE(signature.find("Windows refused the signature of the driver vykportx64.sys (Windows error 577)"),
              std::string::npos)
        << signature;
    EXPECT_NE(signature.find("test-signing mode"), std::string::npos);
    EXPECT_EQ(signature.find("administrator"), std::string::npos);
    EXPECT_NE(DriverStartProblem("vykport32", 5).find("run vykuu as administrator"), std::string::npos);
    EXPECT_NE(DriverStartProblem("vykport32", 1060).find("is not installed"), std::string::npos);
    EXPECT_NE(DriverStartProblem("vykport32", 1056).find("sc stop vykport32, sc delete vykport32"), std::string::npos);
    EXPECT_EQ(DriverStartProblem("vykport32", 31), "the driver vykport32 does not start (Windows error 31)");
}

// The System Information structure (type 1) found after another one; its
// strings by number, a string number of 0 meaning none.
TEST(Machine, SmbiosSystemInformationStrings)
{
    std::vector<uint8_t> table = {0, 6, 0, 0, 1, 2, 'B', 'I', 'O', 'S', 0, 'v', '1', 0, 0};   // type 0
    const std::vector<uint8_t> system = {1, 8, 1, 0, 1, 2, 0, 3, 'A', 'c', 'm', 'e', 0, 'N', 'B', '-', '1', 0,
                                         'S', 'N', '4', '2', 0, 0};
    table.insert(table.end(), system.begin(), system.end());
    const Machine m = ParseSmbiosTable(table.data(), table.size());
    EXPECT_EQ(m.vendor, "Acme");
    EXPECT_EQ(m.product, "NB-1");
    EXPECT_EQ(m.serial, "SN42");
    // The table ends before the System Information: nothing is made up.
    EXPECT_EQ(ParseSmbiosTable(table.data(), 15).vendor, "");
}

// The power supplies as Linux shows them: a notebook on battery, on its
// charger, a desktop without a battery.
TEST(Power, LinuxSuppliesGiveBatteryAndCharger)
{
    const auto root = std::filesystem::temp_directory_path() / ("vyk-power-" + std::to_string(::getpid()));
    std::filesystem::remove_all(root);
    const auto put = [&](const char* supply, const char* file, const char* text) {
        std::filesystem::create_directories(root / supply);
        std::ofstream(root / supply / file) << text << "\n";
    };
    EXPECT_FALSE(ReadHostPower(root).haveBattery);   // no supplies at all: a desktop
    put("AC", "type", "Mains");
    put("AC", "online", "0");
    put("BAT0", "type", "Battery");
    put("BAT0", "capacity", "20");
    put("BAT0", "status", "Discharging");
    put("hidpp_battery_0", "type", "Battery");   // a mouse's battery counts for nothing
    put("hidpp_battery_0", "scope", "Device");
    put("hidpp_battery_0", "capacity", "90");
    Power p = ReadHostPower(root);
    EXPECT_TRUE(p.haveBattery);
    EXPECT_FALSE(p.onAc);
    EXPECT_EQ(p.percent, 20);
    put("AC", "online", "1");
    EXPECT_TRUE(ReadHostPower(root).onAc);
    std::filesystem::remove_all(root);
}

// The FIPS 180-4 examples, the padding's edge lengths, and data given in
// pieces that straddle the 64-byte blocks.
TEST(Sha256, KnownDigestsWholeAndInPieces)
{
    const std::string million(1000000, 'a');
    for (const auto& [text, digest] : std::vector<std::pair<std::string, std::string>>{
             {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
             {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
             {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
             {std::string(55, 'x'), "d5e285683cd4efc02d021a5c62014694958901005d6f71e89e0989fac77e4072"},
             {million, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
         }) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
        EXPECT_EQ(Sha256Hex(bytes, text.size()), digest) << text.size() << " bytes";
        Sha256 pieces;
        for (size_t at = 0, step = 1; at < text.size(); at += step, step = step * 3 % 97 + 1)
            pieces.Add(bytes + at, std::min(step, text.size() - at));
        EXPECT_EQ(pieces.HexDigest(), digest) << text.size() << " bytes in pieces";
    }
}

// Found by fuzzing: a charge above 100 % was reported as it stood, and one
// past int made the reader throw (vykuu ended in "internal error: stoi").
TEST(Power, ChargeOutsideAPercentIsUnknown)
{
    const auto battery = [](std::string capacity) { return Supply({{"type", "Battery\n"}, {"capacity", capacity}}); };
    for (const char* capacity : {"244 ", "7777777777777777777", "-5", "1e2", ""})
        EXPECT_EQ(PowerOfSupplies({battery(capacity)}).percent, -1) << capacity;
    EXPECT_EQ(PowerOfSupplies({battery("2147483647"), battery("40\n"), battery("2147483647")}).percent, 40);
    EXPECT_EQ(PowerOfSupplies({battery("100\r")}).percent, 100);
}

// What says the notebook runs on its charger: any charger online, mains or
// USB-C; with no charger listed, a battery that charges or is full.
TEST(Power, WhichSuppliesMeanTheCharger)
{
    const Files discharging{{"type", "Battery"}, {"status", "Discharging"}, {"capacity", "50"}};
    const struct {
        const char* name;
        std::vector<Files> supplies;
        bool onAc;
    } cases[] = {
        {"USB-C charger online", {{{"type", "USB"}, {"online", "1"}}, discharging}, true},
        {"USB-C charger offline", {{{"type", "USB"}, {"online", "0"}}, discharging}, false},
        {"one of two chargers online", {{{"type", "Mains"}, {"online", "1"}}, {{"type", "Mains"}, {"online", "0"}}, discharging}, true},
        {"no charger listed, battery full", {{{"type", "Battery"}, {"status", "Full"}}}, true},
        {"no charger listed, battery charging", {{{"type", "Battery"}, {"status", "Charging"}}}, true},
        {"charger offline, battery says charging", {{{"type", "Mains"}, {"online", "0"}}, {{"type", "Battery"}, {"status", "Charging"}}}, false},
        {"battery alone, discharging", {discharging}, false},
        {"no supply: a desktop", {}, true},
    };
    for (const auto& c : cases) {
        std::vector<SupplyFiles> supplies;
        for (const Files& files : c.supplies)
            supplies.push_back(Supply(files));
        EXPECT_EQ(PowerOfSupplies(supplies).onAc, c.onAc) << c.name;
    }
}

// The lock on real ports, on a file of the test's own: exclusive against
// any other holder, a shared one too, held while it lives and given back
// after; the file is taken as it is and never written; what is not a
// regular file (a planted link, a folder, a FIFO) is refused at once.
TEST(EcLock, ExclusiveHeldAndOnlyOnARegularFile)
{
    const auto dir = std::filesystem::temp_directory_path() / ("vyk-lock-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "ec.lock").string();
    const auto text = [](const std::filesystem::path& p) {
        std::ifstream in(p);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const auto heldElsewhere = [&](int how) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        const bool held = ::flock(fd, how | LOCK_NB) != 0;
        ::close(fd);
        return held;
    };
    {
        const auto lock = EcLock::TakeFile(path);
        EXPECT_TRUE(std::filesystem::is_regular_file(path));
        EXPECT_THROW(EcLock::TakeFile(path), EcInUse);
        EXPECT_TRUE(heldElsewhere(LOCK_SH));
    }
    EXPECT_FALSE(heldElsewhere(LOCK_EX)) << "given back";
    const int other = ::open(path.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(other, LOCK_SH | LOCK_NB), 0);
    EXPECT_THROW(EcLock::TakeFile(path), EcInUse) << "a shared holder";
    ::close(other);
    std::ofstream(path) << "left by an older version\n";
    EXPECT_NE(EcLock::TakeFile(path), nullptr);
    EXPECT_EQ(text(path), "left by an older version\n");

    std::ofstream(dir / "target") << "x";
    std::filesystem::create_symlink(dir / "target", dir / "link");
    std::filesystem::create_directory(dir / "folder");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    for (const char* name : {"link", "folder", "fifo"})
        EXPECT_THROW(EcLock::TakeFile((dir / name).string()), NoPortAccess) << name;
    EXPECT_EQ(text(dir / "target"), "x");
    std::filesystem::remove_all(dir);
}

// The table of back ends: ports the caller opened win over a folder; a
// folder is the simulated notebook only once vyksimctl init made it one,
// opened or only looked at by a dry run; its power is its settings'.
TEST(PortBackend, ChoiceOrderAndTheSimulatorFolder)
{
    const fs::path dir = fs::temp_directory_path() / ("vyk-backend-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "plain");
    struct NoPorts : vyk::IoPort {
        void OutPortByte(uint16_t, uint16_t) override {}
        uint16_t InPortByte(uint16_t) override { return 0xFF; }
    } ports;

    BackendChoice choice;
    choice.simDir = (dir / "plain").string();
    choice.openPorts = &ports;
    EXPECT_EQ(OpenPorts(choice).io, &ports);
    EXPECT_EQ(CheckPortsDry(choice).description, "ports opened by the caller");

    choice.openPorts = nullptr;
    for (const std::string& folder : {(dir / "plain").string(), (dir / "none").string()}) {
        choice.simDir = folder;
        EXPECT_THROW(OpenPorts(choice), NoPortAccess) << folder;
        EXPECT_THROW(CheckPortsDry(choice), NoPortAccess) << folder;
    }

    choice.simDir = (dir / "nb").string();
    {
        auto notebook = vyk::sim::SimNotebook::InitFolder(choice.simDir);
        notebook->GetSettings().batteryPercent = 42;
        notebook->SaveSettings();
    }
    const DryBackend dry = CheckPortsDry(choice);
    EXPECT_EQ(dry.power.percent, 42);
    EXPECT_EQ(dry.description, "simulated notebook in " + (dir / "nb").string());
    {
        const OpenBackend open = OpenPorts(choice);
        EXPECT_NE(open.sim, nullptr);
        EXPECT_EQ(open.io, open.owned.get());
        EXPECT_EQ(open.description, dry.description);
        EXPECT_EQ(PowerOf(open).percent, 42);
        EXPECT_THROW(CheckPortsDry(choice), EcInUse) << "while it is open";
    }
    fs::remove_all(dir);
}
