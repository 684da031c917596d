// Deploying and binding the port library at window creation: every status
// bar case, what reaches the folder, and the EC writes of create and close.
#include <gtest/gtest.h>

#include "FormHarness.h"

namespace vyk::app::test {
namespace {

using Panels = std::array<std::string, 7>;

TEST(PortAccess, FreshFolderWritesTheHiddenLibraryAndShowsLowerCase)
{
    FormHarness h;
    TForm1& form = h.Start();
    EXPECT_TRUE(form.PortReady());
    EXPECT_EQ(h.platform.files.at("io.dll"), h.image);
    EXPECT_TRUE(h.platform.hidden.count("io.dll"));
    EXPECT_EQ(h.tk.Panels(),
              (Panels{"02/03/26", "21:05:07", "io.dll", "004E", "004F", "VYK LPC EC", "Open io.dll succeeded "}));
    // Loaded by its full path in the current folder, never by the bare name.
    EXPECT_EQ(h.platform.loadedPaths, std::vector<std::string>{"C:\\work\\io.dll"});
    EXPECT_EQ(h.platform.lookedUp,
              (std::vector<std::string>{"OutPortByte", "InPortByte", "IsPortDriverOpen", "Is64BitWindows"}));
    EXPECT_EQ(h.platform.driverOpenCalls, 1);
}

TEST(PortAccess, ExistingLibraryIsNeitherExaminedNorRewritten)
{
    FormHarness h;
    h.platform.files["io.dll"] = {'n', 'o', 't', ' ', 'o', 'u', 'r', 's'};
    TForm1& form = h.Start();
    EXPECT_TRUE(form.PortReady());
    EXPECT_EQ(h.platform.writes, 0);
    EXPECT_EQ(h.platform.files.at("io.dll"), (std::vector<uint8_t>{'n', 'o', 't', ' ', 'o', 'u', 'r', 's'}));
    EXPECT_EQ(h.tk.Panels()[2], "IO.DLL");
    EXPECT_EQ(h.tk.Panels()[6], "Open IO.DLL succeeded ");
}

TEST(PortAccess, FileThatCannotBeCreatedShowsOnlyDllNg)
{
    for (bool directory : {false, true}) {
        SCOPED_TRACE(directory ? "a directory named io.dll" : "folder not writable");
        FormHarness h;
        if (directory)
            h.platform.directories.insert("io.dll");
        else
            h.platform.createFails = true;
        TForm1& form = h.Start();
        EXPECT_FALSE(form.PortReady());
        EXPECT_EQ(h.tk.Panels(), (Panels{"", "", "DLL NG", "", "", "", ""}));
        EXPECT_TRUE(h.platform.loadedPaths.empty());
        EXPECT_FALSE(h.tk.Timer(IdTimer1).enabled);
        // Never refreshed: a stamped line starts with three blanks.
        form.AddStampedLogLine("Read Cypress PD FW Start");
        EXPECT_EQ(h.tk.LogLines().back(), "   >> Read Cypress PD FW Start");
    }
}

TEST(PortAccess, ShortWriteRemovesThePartialFile)
{
    FormHarness h;
    h.platform.shortWriteAt = 3;
    TForm1& form = h.Start();
    EXPECT_FALSE(form.PortReady());
    EXPECT_FALSE(h.platform.files.count("io.dll"));   // no later start may trust it
    EXPECT_EQ(h.tk.Panels()[2], "DLL NG");
    EXPECT_TRUE(h.platform.loadedPaths.empty());
}

TEST(PortAccess, ProgramWithoutLibraryImageWritesNothing)
{
    FormHarness h;
    h.image.clear();
    TForm1& form = h.Start();
    EXPECT_FALSE(form.PortReady());
    EXPECT_FALSE(h.platform.files.count("io.dll"));
    EXPECT_EQ(h.tk.Panels()[2], "DLL NG");
}

TEST(PortAccess, FailuresAfterTheFileShowTheirTextAndTheClock)
{
    struct Case {
        const char* name;
        void (*arrange)(FakePortPlatform&);
        const char* panel2;
        int driverOpenCalls;
    };
    const Case cases[] = {
        {"not a library", [](FakePortPlatform& p) { p.loadFails = true; }, "IO NG2", 0},
        {"no OutPortByte", [](FakePortPlatform& p) { p.missingEntries = {"OutPortByte"}; }, "IO NG2", 0},
        {"no InPortByte", [](FakePortPlatform& p) { p.missingEntries = {"InPortByte"}; }, "IO NG2", 0},
        {"no IsPortDriverOpen", [](FakePortPlatform& p) { p.missingEntries = {"IsPortDriverOpen"}; }, "IO NG2", 0},
        {"driver not open", [](FakePortPlatform& p) { p.driverOpen = 0; }, "IO NG3", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FormHarness h;
        h.platform.files["io.dll"] = h.image;
        c.arrange(h.platform);
        TForm1& form = h.Start();
        EXPECT_FALSE(form.PortReady());
        EXPECT_EQ(h.tk.Panels(), (Panels{"02/03/26", "21:05:07", c.panel2, "", "", "", ""}));
        EXPECT_EQ(h.platform.driverOpenCalls, c.driverOpenCalls);
        EXPECT_FALSE(h.tk.Timer(IdTimer1).enabled);
        // No port is ever touched: not at create, not at close.
        h.tk.Close();
        EXPECT_TRUE(h.notebook.PortTraffic().empty());
    }
    {
        SCOPED_TRACE("without Is64BitWindows, which is never called");
        FormHarness h;
        h.platform.missingEntries = {"Is64BitWindows"};
        EXPECT_TRUE(h.Start().PortReady());
    }
}

TEST(PortAccess, CreateWritesOnceToTheSetUpRegisterAndCloseClearsHostPresence)
{
    FormHarness h;
    h.Start();
    auto writes = h.EcWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].address, 0x1060);
    EXPECT_EQ(writes[0].value, 0x80);
    EXPECT_TRUE(h.tk.LogLines().empty());

    h.notebook.ClearRecords();
    h.tk.Close();
    writes = h.EcWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].address, 0xD212);
    EXPECT_EQ(writes[0].value, 0);
}

// The one way to a port library, as vykuu.exe takes it too: how far it
// got, told as a value; IsPortDriverOpen is called only for our library and
// no port operation is bound before the driver said yes.
TEST(PortAccess, BindingTellsHowFarItGot)
{
    struct Case {
        const char* name;
        void (*arrange)(FakePortPlatform&);
        PortAccessOutcome outcome;
        int driverOpenCalls;
    };
    const Case cases[] = {
        {"not a library", [](FakePortPlatform& p) { p.loadFails = true; }, PortAccessOutcome::NotALibrary, 0},
        {"no InPortByte", [](FakePortPlatform& p) { p.missingEntries = {"InPortByte"}; },
         PortAccessOutcome::NotOurLibrary, 0},
        {"driver not open", [](FakePortPlatform& p) { p.driverOpen = 0; }, PortAccessOutcome::DriverNotOpen, 1},
        {"no port operations", [](FakePortPlatform& p) { p.io = nullptr; }, PortAccessOutcome::NotBound, 1},
        {"ready", [](FakePortPlatform&) {}, PortAccessOutcome::Ready, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FormHarness h;
        h.platform.files["io.dll"] = h.image;
        c.arrange(h.platform);
        PortAccess access;
        EXPECT_EQ(BindPortLibrary(h.platform, "C:\\work\\io.dll", access), c.outcome);
        EXPECT_EQ(access.PortReady, c.outcome == PortAccessOutcome::Ready);
        EXPECT_EQ(access.Io != nullptr, c.outcome == PortAccessOutcome::Ready);
        EXPECT_EQ(h.platform.driverOpenCalls, c.driverOpenCalls);
    }
    // Bound without port operations, the window says as for a foreign library.
    FormHarness h;
    h.platform.io = nullptr;
    EXPECT_FALSE(h.Start().PortReady());
    EXPECT_EQ(h.tk.Panels(), (Panels{"02/03/26", "21:05:07", "IO NG2", "", "", "", ""}));
}

} // namespace
} // namespace vyk::app::test
