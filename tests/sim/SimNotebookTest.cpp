// The simulated notebook itself: its Super I/O front, the strict EC, the
// faults it can show, and the folder that lets processes share it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "hw/EcRam.h"
#include "pd/Mailbox.h"
#include "sim/SimNotebook.h"
#include "sim/SimSettings.h"

using namespace std::chrono_literals;
using vyk::sim::EcMode;
using vyk::sim::Settings;
using vyk::sim::SimNotebook;
namespace fs = std::filesystem;
namespace pd = vyk::pd;

namespace {

struct Host {
    explicit Host(SimNotebook& sim) : ec(&sim), mb(ec) {}
    vyk::EcRam ec;
    pd::Mailbox mb;

    void Command(uint8_t c)
    {
        ASSERT_TRUE(mb.WaitIdle(1s));
        mb.IssueCommand(c);
        ASSERT_TRUE(mb.WaitIdle(1s));
    }
    void EnterFlashing()
    {
        Command(pd::CmdInit);
        Command(pd::CmdJumpBoot);
        Command(pd::CmdEnterFlash);
    }
    void Write(uint16_t block, uint8_t fill)
    {
        std::vector<uint8_t> data(256, fill);
        ASSERT_TRUE(mb.WaitIdle(1s));
        mb.WriteBlock(block, data.data());
        ASSERT_TRUE(mb.WaitIdle(1s));
    }
    std::vector<uint8_t> Read(uint16_t block)
    {
        std::vector<uint8_t> data(256);
        mb.RequestBlockRead(block);
        EXPECT_TRUE(mb.WaitIdle(1s));
        mb.FetchBlock(data.data());
        return data;
    }
};

bool Erased(std::span<const uint8_t> bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xFF; });
}

bool Mentions(const std::vector<std::string>& texts, const std::string& what)
{
    for (const auto& t : texts)
        if (t.find(what) != std::string::npos)
            return true;
    return false;
}

std::vector<uint8_t> FileBytes(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class TempDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        // One folder per process: other checkouts run these tests at the same time.
        dir = fs::temp_directory_path() /
              ("vyk-sim-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);   // an empty folder becomes a notebook when opened
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

} // namespace

TEST(SimSuperIo, DecodesPortTrafficIntoEcRamAccesses)
{
    SimNotebook sim;
    vyk::EcRam ec(&sim);
    sim.SetRecording(true);
    EXPECT_EQ(ec.EcRamRead(0xD220), 0x10);
    ec.EcRamWrite(0x1060, 0x80);

    const auto& t = sim.PortTraffic();
    ASSERT_EQ(t.size(), 24u);
    for (int i = 0; i < 11; ++i)
        EXPECT_TRUE(t[i].isWrite);
    EXPECT_FALSE(t[11].isWrite);
    EXPECT_EQ(t[11].port, 0x4F);
    EXPECT_EQ(t[11].value, 0x10);
    ASSERT_EQ(sim.EcAccesses().size(), 2u);
    EXPECT_FALSE(sim.EcAccesses()[0].isWrite);
    EXPECT_EQ(sim.EcAccesses()[0].address, 0xD220);
    EXPECT_TRUE(sim.EcAccesses()[1].isWrite);
    EXPECT_EQ(sim.EcAccesses()[1].address, 0x1060);
    EXPECT_EQ(sim.EcRamByte(0x1060), 0x80);
    EXPECT_TRUE(sim.Violations().empty());

    // Other ports and Super I/O registers are not part of the path.
    sim.OutPortByte(0x2E, 0x55);
    EXPECT_EQ(sim.InPortByte(0x62), 0xFF);
    sim.OutPortByte(0x4E, 0x07);
    sim.OutPortByte(0x4F, 0x01);
    EXPECT_EQ(sim.Violations().size(), 3u);
}

TEST(SimStrict, BlockCommandsActOnlyAfterInitJumpBootEnterFlashInOrder)
{
    SimNotebook sim;
    Host h(sim);
    h.Write(0x00C0, 0x11); // before anything
    h.Command(pd::CmdInit);
    h.Command(pd::CmdEnterFlash); // skips CmdJumpBoot
    EXPECT_EQ(sim.Mode(), EcMode::Init);
    h.Write(0x00C0, 0x22);
    EXPECT_TRUE(Erased(sim.Flash(1)));
    ASSERT_EQ(sim.Violations().size(), 3u);
    EXPECT_NE(sim.Violations()[0].find("block 0x00C0 refused"), std::string::npos);
    EXPECT_NE(sim.Violations()[1].find("CmdEnterFlash"), std::string::npos);

    sim.ClearRecords();
    h.Command(pd::CmdJumpBoot);
    h.Command(pd::CmdEnterFlash);
    EXPECT_EQ(sim.Mode(), EcMode::Flashing);
    h.Write(0x00C0, 0x33);
    EXPECT_EQ(sim.Flash(1)[0xC000], 0x33);

    // Validate ends flashing mode: the next block is refused again.
    h.Command(pd::CmdValidate);
    EXPECT_EQ(sim.Mode(), EcMode::Normal);
    h.Write(0x00C1, 0x44);
    EXPECT_EQ(sim.Flash(1)[0xC100], 0xFF);
    h.EnterFlashing();
    h.Command(pd::CmdResetPd);
    EXPECT_EQ(sim.Mode(), EcMode::Normal);
    EXPECT_EQ(sim.Violations().size(), 1u);
}

TEST(SimStrict, RefusesWhatACarefulEcWouldRefuse)
{
    Settings s;
    s.busyReads = 2;
    SimNotebook sim(s);
    Host h(sim);
    h.EnterFlashing();

    // Beyond the flash: block 0x0400 starts at 0x040000.
    h.Write(0x0400, 0x55);
    EXPECT_TRUE(Mentions(sim.Violations(), "beyond"));

    // Parameters and a command while the EC is busy with a block.
    sim.ClearRecords();
    std::vector<uint8_t> first(256, 0x66), second(256, 0x77);
    h.mb.WriteBlock(0x00C0, first.data());
    h.mb.WriteBlock(0x00C1, second.data());
    ASSERT_TRUE(h.mb.WaitIdle(1s));
    EXPECT_EQ(sim.Violations().size(), 2u);
    EXPECT_TRUE(Mentions(sim.Violations(), "written while PdCommand reads busy"));
    // The EC takes its parameters when it does the work: the command in
    // hand wrote the second block's bytes where the second block goes.
    EXPECT_EQ(sim.Flash(1)[0xC000], 0xFF);
    EXPECT_EQ(sim.Flash(1)[0xC100], 0x77);

    // The host never clears PdCommand, and sends no unknown codes.
    sim.ClearRecords();
    h.mb.IssueCommand(0);
    h.mb.IssueCommand(0xB0);
    EXPECT_FALSE(h.mb.IsBusy());
    EXPECT_EQ(sim.Violations().size(), 2u);

    // The version bytes belong to the EC.
    h.ec.EcRamWrite(0xD221, 0x99);
    EXPECT_EQ(h.ec.EcRamRead(0xD221), 0x11);
    EXPECT_EQ(sim.Violations().size(), 3u);
}

TEST(SimStrict, SelectingTheOtherPortLeavesFlashingModeAndFollowsPortSelect)
{
    SimNotebook sim;
    Host h(sim);
    h.EnterFlashing();
    h.mb.SelectPort(vyk::pd::PdPort::Port2);
    EXPECT_EQ(sim.SelectedPort(), 2);
    EXPECT_EQ(sim.Mode(), EcMode::Normal);
    h.Write(0x00C0, 0x12);
    EXPECT_TRUE(Erased(sim.Flash(1)));
    EXPECT_TRUE(Erased(sim.Flash(2)));

    // A selection command that disagrees with PortSelect: PortSelect wins.
    sim.ClearRecords();
    h.ec.EcRamWrite(pd::PortSelect, 0);
    h.mb.IssueCommand(pd::CmdSelectPort2);
    EXPECT_EQ(sim.SelectedPort(), 1);
    EXPECT_EQ(sim.Violations().size(), 1u);
    h.ec.EcRamWrite(pd::PortSelect, 7);
    h.mb.IssueCommand(pd::CmdSelectPort2);
    EXPECT_EQ(sim.SelectedPort(), 1);
    EXPECT_EQ(sim.Violations().size(), 2u);
}

TEST(SimStrict, AResetThatIsNotWaitedForDoesNotBlockTheNextSelection)
{
    Settings s;
    s.busyMicros = 2000; // 2 ms, far below a monitor period
    SimNotebook sim(s);
    Host h(sim);
    h.EnterFlashing();
    h.Command(pd::CmdValidate);
    h.mb.IssueCommand(pd::CmdResetPd);
    std::this_thread::sleep_for(20ms);
    h.mb.SelectPort(vyk::pd::PdPort::Port2);
    ASSERT_TRUE(h.mb.WaitIdle(1s));
    EXPECT_EQ(sim.SelectedPort(), 2);
    EXPECT_TRUE(sim.Violations().empty());
}

TEST(SimFaults, EachFaultBehavesAsConfigured)
{
    {
        Settings s;
        s.faults.noChip = true;
        SimNotebook sim(s);
        Host h(sim);
        EXPECT_EQ(sim.InPortByte(0x4F), 0xFF);
        EXPECT_EQ(sim.InPortByte(0x4E), 0xFF);
        EXPECT_TRUE(h.mb.IsBusy());
        uint8_t v[8];
        h.mb.ReadVersion(vyk::pd::PdPort::Port1, v);
        for (uint8_t b : v)
            EXPECT_EQ(b, 0xFF);
        std::vector<uint8_t> data(256, 0);
        h.mb.WriteBlock(0x00C0, data.data());
        EXPECT_EQ(sim.EcRamByte(0xCC00), 0x00); // the write went nowhere
        EXPECT_EQ(sim.EcRamByte(0xD213), 0x00);
        EXPECT_TRUE(Erased(sim.Flash(1)));
    }
    {
        Settings s;
        s.faults.ignoreWritesPort = 1;
        SimNotebook sim(s);
        Host h(sim);
        h.EnterFlashing();
        h.Write(0x00C0, 0x5A); // completes as usual
        EXPECT_TRUE(Erased(sim.Flash(1)));
        h.mb.SelectPort(vyk::pd::PdPort::Port2);
        h.EnterFlashing();
        h.Write(0x00C0, 0x5A);
        EXPECT_EQ(sim.Flash(2)[0xC000], 0x5A);
        EXPECT_TRUE(sim.Violations().empty());
    }
    {
        Settings s;
        s.faults.corruptReads = true;
        s.faults.corruptAddress = 0x00C105;
        SimNotebook sim(s);
        Host h(sim);
        h.EnterFlashing();
        h.Write(0x00C1, 0x3C);
        const auto other = h.Read(0x00C0);
        EXPECT_TRUE(std::all_of(other.begin(), other.end(), [](uint8_t b) { return b == 0xFF; }));
        const auto block = h.Read(0x00C1);
        for (int i = 0; i < 256; ++i)
            EXPECT_EQ(block[i], i == 5 ? 0xC3 : 0x3C) << i;
        EXPECT_EQ(sim.Flash(1)[0xC105], 0x3C); // the flash itself is sound
    }
    {
        Settings s;
        s.busyMicros = 200000;
        SimNotebook sim(s);
        Host h(sim);
        h.mb.IssueCommand(pd::CmdInit);
        EXPECT_TRUE(h.mb.IsBusy());
        EXPECT_TRUE(h.mb.WaitIdle(5s));
    }
}

TEST(SimFaults, FaultsChangedBetweenOperationsTakeEffect)
{
    SimNotebook sim;
    Host h(sim);
    sim.GetSettings().faults.stuckBusy = true;
    h.mb.IssueCommand(pd::CmdInit);
    EXPECT_FALSE(h.mb.WaitIdle(5ms));
    sim.GetSettings().faults.stuckBusy = false;
    EXPECT_TRUE(h.mb.WaitIdle(1s));
    EXPECT_EQ(sim.Mode(), EcMode::Init);
}

TEST_F(TempDir, FolderIsCreatedWholeAndSharedAcrossInstances)
{
    {
        auto sim = SimNotebook::OpenFolder(dir);
        EXPECT_EQ(fs::file_size(dir / "port1.bin"), 0x40000u);
        EXPECT_EQ(fs::file_size(dir / "port2.bin"), 0x40000u);
        EXPECT_EQ(fs::file_size(dir / "ecram.bin"), 0x10000u);
        EXPECT_TRUE(fs::exists(dir / "settings.txt"));
        EXPECT_EQ(FileBytes(dir / "ecram.bin")[0xD220], 0x10);

        Host h(*sim);
        h.mb.SelectPort(vyk::pd::PdPort::Port2);
        h.EnterFlashing();
        h.Write(0x00C0, 0xA5);
        // On disk as soon as the command has completed, the process alive.
        const auto port2 = FileBytes(dir / "port2.bin");
        ASSERT_EQ(port2.size(), 0x40000u);
        EXPECT_EQ(port2[0xC000], 0xA5);
        EXPECT_EQ(port2[0xC0FF], 0xA5);
        EXPECT_EQ(port2[0xC100], 0xFF);
        h.mb.SetPresence(true);
        EXPECT_EQ(FileBytes(dir / "ecram.bin")[0xD212], 1);
        EXPECT_EQ(fs::file_size(dir / "port2.bin"), 0x40000u);
    }
    // No temporary files left behind: the four files and the marker.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 5);
    // Half-written ones of a process killed before its rename go at the next open.
    std::ofstream(dir / "settings.txt.tmp") << "mode = nor";
    std::ofstream(dir / "port1.bin.tmp") << "\xFF";

    auto sim = SimNotebook::OpenFolder(dir);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 5);
    EXPECT_EQ(sim->SelectedPort(), 2);
    EXPECT_EQ(sim->Mode(), EcMode::Flashing);
    EXPECT_EQ(sim->Flash(2)[0xC000], 0xA5);
    EXPECT_TRUE(Erased(sim->Flash(1)));
    EXPECT_EQ(sim->EcRamByte(0xD212), 1);
    Host h(*sim);
    EXPECT_EQ(h.Read(0x00C0)[0x80], 0xA5);
}

TEST_F(TempDir, ACommandLeftBusyIsFinishedWhenTheHostGoes)
{
    {
        auto sim = SimNotebook::OpenFolder(dir);
        sim->GetSettings().busyReads = 5;
        Host h(*sim);
        h.EnterFlashing();
        std::vector<uint8_t> data(256, 0x77);
        h.mb.WriteBlock(0x0010, data.data());
        EXPECT_EQ(FileBytes(dir / "port1.bin")[0x1000], 0xFF);
    }
    EXPECT_EQ(FileBytes(dir / "port1.bin")[0x1000], 0x77);
    EXPECT_EQ(FileBytes(dir / "ecram.bin")[0xD213], 0);
}

TEST_F(TempDir, SettingsRoundTripThroughTheFile)
{
    {
        auto sim = SimNotebook::OpenFolder(dir);
        Settings& s = sim->GetSettings();
        s.version[0] = {0xC5, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0xFF};
        s.busyReads = 7;
        s.busyMicros = 1500;
        s.faults.stuckBusy = true;
        s.faults.noChip = true;
        s.faults.ignoreWritesPort = 2;
        s.faults.corruptReads = true;
        s.faults.corruptAddress = 0x01FE10;
        sim->SaveSettings();
    }
    auto sim = SimNotebook::OpenFolder(dir);
    const Settings& s = sim->GetSettings();
    EXPECT_EQ(s.version[0][0], 0xC5);
    EXPECT_EQ(s.version[0][7], 0xFF);
    EXPECT_EQ(s.version[1][0], 0x20);
    EXPECT_EQ(s.busyReads, 7);
    EXPECT_EQ(s.busyMicros, 1500u);
    EXPECT_TRUE(s.faults.stuckBusy);
    EXPECT_TRUE(s.faults.noChip);
    EXPECT_EQ(s.faults.ignoreWritesPort, 2);
    EXPECT_TRUE(s.faults.corruptReads);
    EXPECT_EQ(s.faults.corruptAddress, 0x01FE10u);
    EXPECT_EQ(sim->EcRamByte(0xD220), 0xC5);

    // Hand-edited text (Notepad: byte order mark, CR LF): comments, blanks,
    // missing keys keep defaults.
    sim.reset();
    std::ofstream(dir / "settings.txt", std::ios::binary)
        << "\xEF\xBB\xBF# mine\r\n\r\n  busy_reads = 0  # instant\r\nport2_version=0102030405060708\r\n";
    sim = SimNotebook::OpenFolder(dir);
    EXPECT_EQ(sim->GetSettings().busyReads, 0);
    EXPECT_EQ(sim->GetSettings().version[1][7], 0x08);
    EXPECT_FALSE(sim->GetSettings().faults.stuckBusy);
}

TEST_F(TempDir, StuckAfterBlocksLetsThatManyBlockCommandsComplete)
{
    {
        auto sim = SimNotebook::OpenFolder(dir);
        sim->ApplySetting("stuck_busy_after_blocks", "2");
        sim->SaveSettings();
    }
    // Read from the file when the folder is opened.
    auto sim = SimNotebook::OpenFolder(dir);
    Host h(*sim);
    h.EnterFlashing();   // other commands do not count
    h.Write(0xC0, 0x11);
    EXPECT_EQ(h.Read(0xC0), std::vector<uint8_t>(256, 0x11));
    h.mb.RequestBlockRead(0xC1);
    EXPECT_FALSE(h.mb.WaitIdle(20ms));
    EXPECT_NE(sim->SettingsText().find("\nstuck_busy_after_blocks = 2\n"), std::string::npos);
}

TEST_F(TempDir, BadFilesGiveAClearErrorNamingFileLineAndKey)
{
    SimNotebook::OpenFolder(dir);
    auto expectError = [&](const std::string& settings, std::initializer_list<const char*> parts) {
        std::ofstream(dir / "settings.txt") << settings;
        try {
            SimNotebook::OpenFolder(dir);
            ADD_FAILURE() << "no error for: " << settings;
        } catch (const std::runtime_error& e) {
            const std::string what = e.what();
            for (const char* p : parts)
                EXPECT_NE(what.find(p), std::string::npos) << what << " lacks " << p;
        }
    };
    expectError("busy_reads = 1\nbusy_redas = 2\n", {"settings.txt", "line 2", "busy_redas"});
    expectError("# c\nstuck_busy = maybe\n", {"line 2", "stuck_busy", "maybe"});
    expectError("port1_version = 01 02 03\n", {"line 1", "port1_version"});
    expectError("ignore_writes_port = 3\n", {"ignore_writes_port", "3"});
    expectError("busy_reads 4\n", {"line 1", "key = value"});
    expectError("no_chip = no\nno_chip = yes\n", {"line 2", "no_chip", "twice"});

    fs::remove(dir / "settings.txt");
    std::ofstream(dir / "ecram.bin", std::ios::binary) << "short";
    try {
        SimNotebook::OpenFolder(dir);
        ADD_FAILURE() << "short ecram.bin accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("ecram.bin"), std::string::npos) << e.what();
    }
    EXPECT_EQ(fs::file_size(dir / "ecram.bin"), 5u); // left as it was
}

// Only init makes a folder; a folder that holds anything but a notebook is
// refused, untouched; a notebook folder is marked and carries its serial.
TEST_F(TempDir, OnlyInitMakesAFolderAndOtherFoldersAreRefused)
{
    const fs::path missing = dir / "a" / "b";
    EXPECT_THROW(SimNotebook::OpenFolder(missing), vyk::PortFailure);
    EXPECT_FALSE(fs::exists(dir / "a"));

    const fs::path other = dir / "other";
    fs::create_directories(other);
    std::ofstream(other / "notes.txt") << "mine";
    for (auto open : {&SimNotebook::OpenFolder, &SimNotebook::InitFolder}) {
        try {
            open(other);
            ADD_FAILURE() << "a folder of other files was taken";
        } catch (const vyk::PortFailure& e) {
            EXPECT_NE(std::string(e.what()).find("notes.txt"), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(other), fs::directory_iterator()), 1);

    std::string serial;
    {
        auto sim = SimNotebook::InitFolder(missing);
        serial = sim->Identity().serial;
        EXPECT_EQ(serial.rfind("SIM-", 0), 0u) << serial;
        EXPECT_EQ(serial.size(), 12u);
    }
    // A notebook keeps its serial; files of the user's beside it are left alone by init.
    std::ofstream(missing / "image.bin") << "x";
    EXPECT_EQ(SimNotebook::InitFolder(missing)->Identity().serial, serial);
    EXPECT_TRUE(fs::exists(missing / "image.bin"));
    EXPECT_EQ(SimNotebook::OpenFolder(missing)->Identity().serial, serial);
}

// Whoever has the folder open holds it: a second user is refused until the
// first has gone; the marker (the lock's file) is never removed. Looking
// needs no lock and changes no file, whatever is done to the view.
TEST_F(TempDir, OneUserOfAFolderAtATime)
{
    auto first = SimNotebook::OpenFolder(dir);
    EXPECT_THROW(SimNotebook::OpenFolder(dir), vyk::sim::FolderInUse);
    EXPECT_THROW(SimNotebook::InitFolder(dir), vyk::sim::FolderInUse);
    {
        Host h(*first);
        h.EnterFlashing();
        h.Write(0x00C0, 0x5A);
    }
    const auto files = [&] {
        std::string all;
        for (const char* name : {"port1.bin", "port2.bin", "ecram.bin", "settings.txt"})
            for (const uint8_t b : FileBytes(dir / name))
                all += static_cast<char>(b);
        return all;
    };
    const std::string before = files();
    {
        auto view = SimNotebook::ViewFolder(dir);
        EXPECT_EQ(view->Flash(1)[0xC000], 0x5A);
        EXPECT_EQ(view->Mode(), EcMode::Flashing);
        Host h(*view);
        h.Write(0x00C1, 0x77);
        view->GetSettings().busyReads = 9;
        view->SaveSettings();
        view->WriteFlash(2, 0, std::vector<uint8_t>(4, 0));
    }
    EXPECT_EQ(files(), before);
    fs::create_directories(dir / "empty");
    EXPECT_THROW(SimNotebook::ViewFolder(dir / "empty"), vyk::PortFailure);
    EXPECT_TRUE(fs::is_empty(dir / "empty"));
    first.reset();
    EXPECT_TRUE(fs::exists(dir / vyk::sim::SimFolder::MarkerName));
    EXPECT_NO_THROW(SimNotebook::OpenFolder(dir));
}

// A hand-written settings.txt keeps its comments, order, spelling and line
// ends; only the values that change are replaced, in place.
TEST_F(TempDir, SettingsChangesKeepTheFilesCommentsAndOrder)
{
    SimNotebook::OpenFolder(dir);
    const std::string mine = "# my notebook\r\nmode=normal\r\nbusy_reads = 0x0   # instant\r\nstuck_busy = NO\r\n";
    std::ofstream(dir / "settings.txt", std::ios::binary) << mine;
    {
        auto sim = SimNotebook::OpenFolder(dir);
        EXPECT_EQ(FileBytes(dir / "settings.txt"), std::vector<uint8_t>(mine.begin(), mine.end()));
        sim->ApplySetting("busy_reads", "2");
        sim->ApplySetting("battery_percent", "20");
        Host h(*sim);
        h.EnterFlashing();
    }
    const std::string want = "# my notebook\r\nmode=flashing\r\nbusy_reads = 2   # instant\r\nstuck_busy = NO\r\n"
                             "battery_percent = 20\n";
    EXPECT_EQ(FileBytes(dir / "settings.txt"), std::vector<uint8_t>(want.begin(), want.end()));
}

// pause_after_blocks: the next block command stays busy while "paused" is
// in the folder, then completes as usual.
TEST_F(TempDir, APauseHoldsTheNextBlockUntilItsFileGoes)
{
    auto sim = SimNotebook::OpenFolder(dir);
    sim->GetSettings().pauseAfterBlocks = 2;
    Host h(*sim);
    h.EnterFlashing();
    h.Write(0x00C0, 0x11);
    h.Write(0x00C1, 0x22);
    std::vector<uint8_t> data(256, 0x33);
    h.mb.WriteBlock(0x00C2, data.data());
    EXPECT_FALSE(h.mb.WaitIdle(30ms));
    EXPECT_TRUE(fs::exists(dir / "paused"));
    EXPECT_EQ(sim->Flash(1)[0xC200], 0xFF);
    fs::remove(dir / "paused");
    EXPECT_TRUE(h.mb.WaitIdle(1s));
    EXPECT_EQ(sim->Flash(1)[0xC200], 0x33);
    h.Write(0x00C3, 0x44);   // one pause per run
    EXPECT_TRUE(sim->Violations().empty());
}

// The README's account of settings.txt names every key the simulator takes,
// and no key it does not.
TEST(SimSettingsTable, TheReadmeNamesEveryKeyAndNoOther)
{
    std::ifstream in(VYK_README, std::ios::binary);
    const std::string readme((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t from = readme.find("- `settings.txt`");
    ASSERT_NE(from, std::string::npos) << "the README describes no settings.txt";
    const std::string item = readme.substr(from, readme.find("\n\n", from) - from);
    std::set<std::string> keys;
    for (const auto& row : vyk::sim::SettingRows())
        keys.insert(row.name);
    // A key is a name in backquotes: one of the table's, or any other with an underscore.
    std::set<std::string> named;
    const std::regex quoted("`([a-z][a-z0-9_]*)`");
    for (auto m = std::sregex_iterator(item.begin(), item.end(), quoted); m != std::sregex_iterator(); ++m)
        if (const std::string name = (*m)[1]; keys.count(name) || name.find('_') != std::string::npos)
            named.insert(name);
    EXPECT_EQ(named, keys);
}
