#include "log_summary.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Two instances interleaved over three minutes (the middle one without a
// run), a failure with the OS's reason, one with its diagnostics, and a
// query over two lines.
const char kLog[] =
    "23:59:58 31-12-2026 +++ Process: a.txt\r\n"
    "23:59:58 31-12-2026 +++ Process: b.txt\r\n"
    "23:59:59 31-12-2026 SELECT 1\r\nFROM t\r\n"
    "23:59:59 31-12-2026 ERROR: can't load file b.txt\r\n"
    "23:59:59 31-12-2026 ERROR: Permission denied [open b.txt]\r\n"  // part of the failure above
    "23:59:59 31-12-2026 --- Errors occured, message was deleted\r\n"
    "00:00:01 01-01-2027 Complete!\r\n"
    "00:01:00 01-01-2027 +++ Process: c.txt\r\n"
    "00:01:01 01-01-2027 ERROR: SQL state - 08001\r\n"
    "00:01:01 01-01-2027 ERROR: SQL native error is 101\r\n"
    "00:01:01 01-01-2027 ERROR: SQL message - could not connect\r\n"
    "00:01:01 01-01-2027 --- Errors occured, message was moved to q/c.txt\r\n";

std::string Summary(const std::string& since, const std::string& until, int* status) {
  std::string text;
  *status = kelvorin::SummariseLog(kLog, since, until, &text);
  return text;
}

TEST(LogSummaryTest, CountsRunsFailuresAndTheSlowestMinute) {
  int status = 0;
  EXPECT_EQ(Summary("", "", &status),
            "entries from 23:59:58 31-12-2026 to 00:01:01 01-01-2027\n"
            "  runs               3\n  completed          1\n  failed             2\n"
            "           1  ERROR: SQL state - 08001\n"
            "           1  ERROR: can't load file\n"
            "  deleted            1\n  moved              1\n"
            "  slowest minute: 00:00 01-01-2027, 0 runs\n");
  EXPECT_EQ(status, 1);
  EXPECT_EQ(Summary("00:00:00 01-01-2027", "00:00:59 01-01-2027", &status).substr(0, 125),
            "entries from 00:00:01 01-01-2027 to 00:00:01 01-01-2027\n  runs               0\n"
            "  completed          1\n  failed             0\n");
  EXPECT_EQ(status, 0);
  Summary("yesterday", "", &status);
  EXPECT_EQ(status, 2);
}

}  // namespace
