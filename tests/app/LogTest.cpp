// The log's line formats, the clock texts and the autoscroll.
#include <gtest/gtest.h>

#include "FormHarness.h"
#include "pd/ClockText.h"

namespace vyk::app::test {
namespace {

std::string Date(std::tm t)
{
    char text[9];
    pd::FormatLocalDate(text, [&] { return t; });
    return text;
}

std::string Time(std::tm t)
{
    char text[9];
    pd::FormatLocalTime(text, [&] { return t; });
    return text;
}

TEST(ClockText, DateAndTimeFormats)
{
    EXPECT_EQ(Date(FixedTime(2026, 2, 3, 0, 0, 0)), "02/03/26");
    EXPECT_EQ(Date(FixedTime(1999, 12, 31, 0, 0, 0)), "12/31/99");
    EXPECT_EQ(Date(FixedTime(2000, 1, 1, 0, 0, 0)), "01/01/00");
    EXPECT_EQ(Date(FixedTime(2105, 7, 9, 0, 0, 0)), "07/09/05");
    EXPECT_EQ(Time(FixedTime(2026, 2, 3, 21, 5, 7)), "21:05:07");
    EXPECT_EQ(Time(FixedTime(2026, 2, 3, 0, 0, 0)), "00:00:00");
    EXPECT_EQ(Time(FixedTime(2026, 2, 3, 23, 59, 59)), "23:59:59");
}

TEST(Log, StampedLinesCarryTheClockOfTheLastRefresh)
{
    FormHarness h;
    TForm1& form = h.Start();
    h.now = FixedTime(2026, 2, 3, 22, 0, 0);   // not refreshed yet
    form.AddStampedLogLine("Cypress PD FW Flash Start");
    form.AddStampedLogLine("Read Cypress PD FW Start");
    form.RefreshClock();
    form.AddStampedLogLine("Cypess PD FW Update Completed!");
    EXPECT_EQ(h.tk.LogLines(), (std::vector<std::string>{
                                   "02/03/26  21:05:07 >> Cypress PD FW Flash Start",
                                   "02/03/26  21:05:07 >> Read Cypress PD FW Start",
                                   "02/03/26  22:00:00 >> Cypess PD FW Update Completed!",
                               }));
    EXPECT_EQ(h.tk.Panels()[1], "22:00:00");
}

// The date is read first and the time second, each from its own reading of
// the clock: a refresh across midnight shows the old day with the new time.
TEST(Log, RefreshAcrossMidnightReadsTheDateFirst)
{
    FormHarness h;
    std::vector<std::tm> readings{FixedTime(1999, 12, 31, 23, 59, 59), FixedTime(2000, 1, 1, 0, 0, 0)};
    size_t next = 0;
    h.form = std::make_unique<TForm1>(h.tk, h.platform, h.image,
                                      [&] { return readings[std::min(next++, readings.size() - 1)]; });
    EXPECT_EQ(next, 3u);   // the start-up refresh: one reading each; then the record's first line
    EXPECT_STREQ(h.form->DateText(), "12/31/99");
    EXPECT_STREQ(h.form->TimeText(), "00:00:00");
    EXPECT_EQ(h.tk.Panels()[0], "12/31/99");
    EXPECT_EQ(h.tk.Panels()[1], "00:00:00");
    h.form->AddStampedLogLine("Read Cypress PD FW Start");
    EXPECT_EQ(h.tk.LogLines().back(), "12/31/99  00:00:00 >> Read Cypress PD FW Start");
}

TEST(Log, LinesAreKeptWholeHoweverLong)
{
    FormHarness h;
    TForm1& form = h.Start();
    const std::string path = "C:\\" + std::string(600, 'p') + "\\image.bin";
    form.AddLogLine("Load File : " + path);
    form.AddLogLine(" ");
    ASSERT_EQ(h.tk.LogLines().size(), 2u);
    EXPECT_EQ(h.tk.LogLines()[0], "Load File : " + path);
    EXPECT_EQ(h.tk.LogLines()[1], " ");
}

TEST(Log, EveryChangeScrollsOneLineThenToTheCaret)
{
    FormHarness h;
    TForm1& form = h.Start();
    h.tk.ClearRecords();
    form.AddLogLine("one");
    h.tk.Type(IdRichEdit1, "typed by hand");
    form.AddLogLine("two");
    using S = LogScroll;
    EXPECT_EQ(h.tk.ScrollRequests(), (std::vector<S>{S::LineDown, S::Caret, S::LineDown, S::Caret, S::LineDown, S::Caret}));
    // Typing goes on at the end of the newest line; a line added after it is
    // a line of its own, also after a typed line break.
    EXPECT_EQ(h.tk.LogLines(), (std::vector<std::string>{"onetyped by hand", "two"}));
    h.tk.Type(IdRichEdit1, "\r\n");
    form.AddLogLine("three");
    EXPECT_EQ(h.tk.LogLines(), (std::vector<std::string>{"onetyped by hand", "two", "", "three"}));

    h.tk.ClearRecords();
    form.ScrollLogLineDown();
    EXPECT_EQ(h.tk.ScrollRequests(), std::vector<S>{S::LineDown});
}

} // namespace
} // namespace vyk::app::test
