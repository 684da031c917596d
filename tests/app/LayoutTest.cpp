// The window as it comes up: every control where the layout puts it, the
// enabled states, timers, dialogs and status bar.
#include <gtest/gtest.h>

#include "FormHarness.h"

namespace vyk::app::test {
namespace {

struct Expected {
    int id;
    ControlKind kind;
    int parent;
    int left, top, width, height;
    const char* text;
    bool bold;
    bool enabled;
    int tabOrder;
};

const Expected kControls[] = {
    {IdRadioGroup1, ControlKind::GroupFrame, IdWindow, 8, 8, 121, 57, "Switch TYPE C PD", false, true, 12},
    {IdRadioButton1, ControlKind::RadioButton, IdWindow, 16, 24, 97, 17, "PORT 1 PD", false, true, 13},
    {IdRadioButton2, ControlKind::RadioButton, IdWindow, 16, 40, 97, 17, "PORT 2 PD", false, true, 14},
    {IdLabel5, ControlKind::Label, IdWindow, 144, 16, 253, 13, "PORT1 FW2 VER : 00 00 00 00 00 00 00 00", true, true, -1},
    {IdGroupBox2, ControlKind::GroupBox, IdWindow, 8, 72, 217, 153, "Write PD FW", false, true, 11},
    {IdLabel1, ControlKind::Label, IdGroupBox2, 8, 16, 121, 13, "PD FW Start Address", true, true, -1},
    {IdLabel2, ControlKind::Label, IdGroupBox2, 8, 64, 116, 13, "PD FW End Address", true, true, -1},
    {IdEdit1, ControlKind::Edit, IdWindow, 16, 104, 65, 21, "00C000", true, true, 3},
    {IdEdit2, ControlKind::Edit, IdWindow, 16, 152, 65, 21, "01FF00", true, true, 4},
    {IdButton1, ControlKind::Button, IdWindow, 16, 184, 75, 25, "Load Bin File", false, true, 0},
    {IdButton2, ControlKind::Button, IdWindow, 112, 184, 75, 25, "Flash Go", false, false, 2},
    {IdGroupBox1, ControlKind::GroupBox, IdWindow, 240, 72, 233, 153, "Read PD FW", false, true, 9},
    {IdLabel3, ControlKind::Label, IdGroupBox1, 24, 16, 121, 13, "PD FW Start Address", true, true, -1},
    {IdLabel4, ControlKind::Label, IdGroupBox1, 24, 64, 116, 13, "PD FW End Address", true, true, -1},
    {IdEdit3, ControlKind::Edit, IdWindow, 264, 104, 65, 21, "00C000", true, true, 5},
    {IdEdit4, ControlKind::Edit, IdWindow, 264, 152, 65, 21, "01FF00", true, true, 6},
    {IdButton3, ControlKind::Button, IdWindow, 264, 184, 75, 25, "Read FW", false, true, 7},
    {IdButton4, ControlKind::Button, IdWindow, 360, 184, 75, 25, "Save Bin File", false, false, 8},
    {IdRichEdit1, ControlKind::RichEdit, IdWindow, 8, 232, 465, 217, "", false, true, 1},
    {IdStatusBar1, ControlKind::StatusBar, IdWindow, 0, 455, 481, 19, "", false, true, -1},
};

TEST(Layout, EveryControlAsLaidOutAndEnabledAtStart)
{
    FormHarness h;
    h.Start();
    ASSERT_EQ(h.tk.CreationOrder().size(), std::size(kControls));
    for (const Expected& e : kControls) {
        SCOPED_TRACE(e.id);
        const auto& c = h.tk.Control(e.id);
        EXPECT_EQ(c.layout.kind, e.kind);
        EXPECT_EQ(c.layout.parent, e.parent);
        EXPECT_EQ(c.layout.left, e.left);
        EXPECT_EQ(c.layout.top, e.top);
        EXPECT_EQ(c.layout.width, e.width);
        EXPECT_EQ(c.layout.height, e.height);
        if (e.kind != ControlKind::RichEdit) {
            EXPECT_EQ(c.text, e.text);
        }
        EXPECT_EQ(c.layout.font.bold, e.bold);
        EXPECT_EQ(c.enabled, e.enabled);
        EXPECT_EQ(c.layout.tabOrder, e.tabOrder);
    }
    EXPECT_TRUE(h.tk.Control(IdRadioButton1).checked);
    EXPECT_FALSE(h.tk.Control(IdRadioButton2).checked);
    EXPECT_TRUE(h.tk.Control(IdRadioButton1).layout.tabStop);
    EXPECT_EQ(h.tk.Control(IdLabel5).colour, 0x008000u);
    EXPECT_EQ(h.tk.Control(IdRichEdit1).charset, 134);   // 136 in the layout, 134 after create
    EXPECT_EQ(h.tk.Control(IdRichEdit1).layout.font.charset, 136);
}

TEST(Layout, WindowTimersDialogsAndStatusBar)
{
    FormHarness h;
    TForm1& form = h.Start();
    EXPECT_EQ(h.tk.Form().clientWidth, 481);
    EXPECT_EQ(h.tk.Form().clientHeight, 474);
    EXPECT_STREQ(h.tk.Form().font.face, "MS Sans Serif");
    EXPECT_EQ(h.tk.Form().font.height, 11);
    EXPECT_EQ(h.tk.Caption(), "VYK EC CYPD(CCG5) FW UPDATE UTILITY V1.3");
    EXPECT_EQ(h.tk.WindowPlacement().left, 400);
    EXPECT_EQ(h.tk.WindowPlacement().top, 120);
    EXPECT_EQ(h.tk.WindowPlacement().outerHeight, 510);

    EXPECT_EQ(h.tk.Timer(IdTimer1).intervalMs, 1000u);
    EXPECT_EQ(h.tk.Timer(IdTimer2).intervalMs, 100u);
    EXPECT_EQ(h.tk.Timer(IdTimer3).intervalMs, 10u);
    EXPECT_TRUE(h.tk.Timer(IdTimer1).enabled);   // port access is ready here
    EXPECT_TRUE(h.tk.Timer(IdTimer2).enabled);
    EXPECT_TRUE(h.tk.Timer(IdTimer3).enabled);

    EXPECT_EQ(h.tk.PanelEdges(), (std::vector<int>{64, 128, 178, 218, 258, 330, -1}));

    EXPECT_FALSE(form.OpenDialog1.save);
    EXPECT_EQ(form.OpenDialog1.filter, "");
    EXPECT_EQ(form.OpenDialog1.fileName, "");
    EXPECT_TRUE(form.OpenDialog1.hideReadOnly && form.OpenDialog1.resizable);
    EXPECT_FALSE(form.OpenDialog1.mustExist);
    EXPECT_TRUE(form.SaveDialog1.save);
    EXPECT_EQ(form.SaveDialog1.fileName, ".bin");
    EXPECT_EQ(form.SaveDialog1.filter, "*.Bin|Bin");
    EXPECT_EQ(form.SaveDialog1.defaultExt, "");
    EXPECT_FALSE(form.SaveDialog1.confirmOverwrite);
    EXPECT_TRUE(form.SaveDialog1.hideReadOnly && form.SaveDialog1.resizable);
}

TEST(Layout, PowerBroadcastIsAnsweredZeroAndChangesNothing)
{
    FormHarness h;
    h.Start();
    h.tk.ClearRecords();
    const auto lines = h.tk.LogLines();
    const auto accesses = h.notebook.EcAccesses().size();
    for (uintptr_t event : {0x4u /* suspend */, 0x7u /* resume */, 0x12u, 0xFFFFu})
        EXPECT_EQ(h.tk.PowerBroadcast(event), 0);
    EXPECT_TRUE(h.tk.EnableChanges().empty());
    EXPECT_EQ(h.tk.LogLines(), lines);
    EXPECT_EQ(h.notebook.EcAccesses().size(), accesses);
    EXPECT_TRUE(h.tk.Timer(IdTimer1).enabled);
}

TEST(Layout, CancelledDialogsDoNothing)
{
    FormHarness h;
    h.Start();
    h.tk.AnswerNextDialog(std::nullopt);
    h.tk.AnswerNextDialog(std::nullopt);
    h.tk.ClearRecords();
    EXPECT_TRUE(h.tk.Click(IdButton1));
    EXPECT_FALSE(h.tk.Click(IdButton4));   // disabled until a sequence ends
    h.tk.Click(IdButton1);
    EXPECT_EQ(h.tk.DialogsShown().size(), 2u);
    EXPECT_TRUE(h.tk.LogLines().empty());
    EXPECT_FALSE(h.tk.Control(IdButton2).enabled);
    EXPECT_TRUE(h.tk.EnableChanges().empty());
}

} // namespace
} // namespace vyk::app::test
