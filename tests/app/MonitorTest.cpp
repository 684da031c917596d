// The monitor on the window: the version label it shows, colour first.
#include <gtest/gtest.h>

#include "FormHarness.h"

namespace vyk::app::test {
namespace {

using Looks = std::vector<std::pair<int, std::string>>;

TEST(Monitor, TheLabelTakesItsColourBeforeItsCaption)
{
    FormHarness h;
    h.Start();
    h.tk.ClearRecords();
    h.tk.Tick(IdTimer1);   // selects port 1, shows nothing
    EXPECT_EQ(h.tk.LookChanges(), Looks{});
    h.tk.Tick(IdTimer1);
    EXPECT_EQ(h.tk.LookChanges(),
              (Looks{{IdLabel5, "colour 008000"}, {IdLabel5, "text PORT1 FW2 VER : 10 11 12 13 14 15 16 17 "}}));

    ASSERT_TRUE(h.tk.Click(IdRadioButton2));
    h.tk.ClearRecords();
    h.tk.Tick(IdTimer1);
    h.tk.Tick(IdTimer1);
    EXPECT_EQ(h.tk.LookChanges(),
              (Looks{{IdLabel5, "colour FF0000"}, {IdLabel5, "text PORT2 FW2 VER : 20 21 22 23 24 25 26 27 "}}));
}

} // namespace
} // namespace vyk::app::test
