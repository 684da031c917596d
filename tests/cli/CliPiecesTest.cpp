#include <gtest/gtest.h>

#include "cli/ClockText.h"
#include "cli/Console.h"
#include "cli/DriverStartText.h"
#include "cli/JsonSummary.h"

using namespace vyk::cli;

TEST(CliClockText, WindowFormats)
{
    std::tm t{};
    t.tm_year = 126, t.tm_mon = 1, t.tm_mday = 3, t.tm_hour = 21, t.tm_min = 5, t.tm_sec = 7;
    EXPECT_EQ(FormatDateText(t), "02/03/26");
    EXPECT_EQ(FormatTimeText(t), "21:05:07");
    t.tm_year = 99, t.tm_mon = 11, t.tm_mday = 31, t.tm_hour = 0, t.tm_min = 0, t.tm_sec = 0;
    EXPECT_EQ(FormatDateText(t), "12/31/99");
    EXPECT_EQ(FormatTimeText(t), "00:00:00");
    t.tm_year = 100, t.tm_mon = 0, t.tm_mday = 1;
    EXPECT_EQ(FormatDateText(t), "01/01/00");
}

TEST(CliProgress, BarRateAndTimeLeft)
{
    EXPECT_EQ(FormatProgress("flash", 0, 319, 0.0, 10), "flash   [----------]    0/319 blocks");
    // 100 blocks in 2 s: 50 blocks/s = 12.5 KiB/s, 219 left = 4.4 s.
    EXPECT_EQ(FormatProgress("read", 100, 319, 2.0, 10), "read    [###-------]  100/319 blocks     12.5 KiB/s  0:04 left");
    EXPECT_EQ(FormatProgress("verify", 319, 319, 1.0, 4).substr(0, 14), "verify  [####]");
    // More done than total (never expected) draws a full bar, not a crash.
    EXPECT_EQ(FormatProgress("x", 5, 4, 1.0, 4).substr(0, 14), "x       [####]");
}

TEST(CliJson, QuotesEveryControlCharacterAndKeepsKeyOrder)
{
    JsonSummary s;
    s.Set("path", "C:\\a \"b\"\n\x01");
    s.Set("n", 7);
    s.Set("ok", false);
    s.Set("n", 8);
    EXPECT_EQ(s.Text(), R"({"path": "C:\\a \"b\"\n\u0001", "n": 8, "ok": false})");
}

// The Windows tool's reason for a driver that is not open: a signature
// refusal (577) must be named as such, not as a missing administrator.
TEST(CliDriverStart, NamesTheSignatureRefusalAndTheCommonCauses)
{
    const std::string signature = DriverStartProblem("vykportx64", 577);
    EXPECT_NE(signature.find("Windows refused the signature of the driver vykportx64.sys (Windows error 577)"),
              std::string::npos)
        << signature;
    EXPECT_NE(signature.find("test-signing mode"), std::string::npos);
    EXPECT_EQ(signature.find("administrator"), std::string::npos);
    EXPECT_NE(DriverStartProblem("vykport32", 5).find("run vykuu as administrator"), std::string::npos);
    EXPECT_NE(DriverStartProblem("vykport32", 1060).find("is not installed"), std::string::npos);
    EXPECT_EQ(DriverStartProblem("vykport32", 31), "the driver vykport32 does not start (Windows error 31)");
}
