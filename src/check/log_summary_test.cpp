#include "log_summary.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

// Two instances interleaved, failures with the OS's reason and with diagnostics, a two-line query.
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

TEST(LogSummaryTest, CountsRunsFailuresAndRunsAMinute) {
  std::string text;
  EXPECT_EQ(kelvorin::SummariseLog(kLog, "", "", &text), 1);
  EXPECT_EQ(text,
            "entries from 23:59:58 31-12-2026 to 00:01:01 01-01-2027\n"
            "  runs               3\n  completed          1\n  failed             2\n"
            "           1  ERROR: SQL state - 08001\n           1  ERROR: can't load file\n"
            "  deleted            1\n  moved              1\n"
            "  runs a minute: lowest 1 (00:01 01-01-2027), median 1.5, over 2 minutes with runs\n");
  for (const char* bad : {"yesterday", "12:00:00 31-02-2026", "12:00:00 29-02-2100",
                          "-1:00:00 01-01-2026", "12:00:00 01-01-0000"}) {
    EXPECT_EQ(kelvorin::SummariseLog(kLog, bad, "", &text), 2) << bad;
  }
}

std::string Stamp(int second) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "12:%02d:%02d 01-01-2026", second / 60, second % 60);
  return stamp;
}

// Runs of known outcome, one after another or mixed as instances at once mix them, against the
// summary of a window: its runs are those started in it, each completed or failed, and no failure
// is hidden; unmixed and with no run killed (its missing end is in doubt), it is exact.
TEST(LogSummaryTest, AWindowCountsItsRunsAndHidesNoFailure) {
  const std::vector<std::vector<std::string>> ends = {
      // completed, three failures, killed
      {"SQL OK (1)", "Complete!"},
      {"ERROR: no data was retrived"},
      {"ERROR: can't load file m#", "--- Errors occured, message was deleted"},
      // An instance writes a failure's records back to back.
      {"ERROR: SQL state - 08001\nERROR: SQL native error is 1\nERROR: SQL message - x\n"
       "ERROR: SQL state - 01000\nERROR: SQL native error is 2\nERROR: SQL message - y"},
      {}};
  std::mt19937 random(7);
  for (int trial = 0; trial < 4000; ++trial) {
    const int from = random() % 40, to = from + random() % 40, n = 1 + random() % 6;
    long runs = 0, failed = 0, killed = 0, counted[3] = {};  // the model's, of the window
    std::vector<std::array<int, 3>> active;                  // run, outcome, next line
    std::string log;
    for (int second = 0, started = 0; started < n || !active.empty(); second += random() % 3) {
      std::size_t pick = trial % 2 ? random() % (active.size() + 1) : 0;  // mixed: any
      if (started < n && (active.empty() || pick == active.size())) {
        const int outcome = random() % ends.size(), inside = from <= second && second <= to;
        active.push_back({started++, outcome, -1});
        runs += inside, failed += inside && outcome != 0, killed += outcome == 4;
      }
      auto& [run, outcome, next] = active[pick %= active.size()];
      std::string text = (next < 0 ? "+++ Process: m#" : ends[outcome][next]) + "\n";
      if (text[text.size() - 2] == '#') text[text.size() - 2] = static_cast<char>('0' + run);
      if (++next == static_cast<int>(ends[outcome].size())) active.erase(active.begin() + pick);
      for (std::size_t at; (at = text.find('\n')) != std::string::npos; text.erase(0, at + 1))
        log += Stamp(second) + " " + text.substr(0, at) + "\r\n";
    }
    std::string summary;
    (void)kelvorin::SummariseLog(log, Stamp(from), Stamp(to), &summary);
    std::sscanf(summary.c_str(), "%*[^\n] runs %ld completed %ld failed %ld", &counted[0],
                &counted[1], &counted[2]);
    SCOPED_TRACE(log + Stamp(from) + " to " + Stamp(to) + "\n" + summary);
    ASSERT_EQ(counted[0], runs);
    ASSERT_EQ(counted[1] + counted[2], runs);
    ASSERT_TRUE(counted[2] >= failed && (trial % 2 || killed || counted[2] == failed));
  }
}

}  // namespace
