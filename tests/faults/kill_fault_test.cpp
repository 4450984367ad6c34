// The program is killed (SIGKILL: no handler, no clean-up) while it merges a
// message of about 3 MB. Whenever it dies, the message file must be the old
// text or the whole merge, never a mix, a part or nothing. A killed run may
// leave its temporary file behind; a run that ended by itself may not.
//
// Two ways to pick the moment: random delays (a fixed seed, so a failure can
// be rerun), and fixed points of the rewrite that io_shim.c reaches by count.
// The program writes the merge in two writes: the buffered head, then the
// expanded rows as one piece.
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "fault_fixture.h"

namespace {

using namespace faults;

constexpr int kRows = 5000;  // all merged: the program's cap
constexpr int kPad = 600;    // about 630 bytes a row, ~3.2 MB in all
constexpr int kTrials = 25;  // of each kind: 50 kills in all
constexpr unsigned kSeed = 20261206;

class KillTest : public FaultTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(FaultTest::SetUp());
    ASSERT_NO_FATAL_FAILURE(MakeSqliteSource(ItemsTable(kRows, kPad)));
    case_ = ItemsMessage(kRows, kPad);
    PutRun(case_, true);
  }

  // A fresh start: the old message, no log, no leftovers of a killed run.
  void Reset() {
    Put(kMessagePath, case_.message);
    fs::remove(Path(e2e::kLog));
    for (const std::string& name : TempFilesIn(Spool())) fs::remove(Spool() / name);
  }

  bool LogHasComplete() const {
    const std::vector<std::string> log = LogEntries();
    return std::find(log.begin(), log.end(), kComplete) != log.end();
  }

  MergeCase case_;
};

// Watches the message's folder (inotify) for the two ends of the rewrite:
// the temporary file created, and moved onto the message. Kills can then be
// aimed at the rewrite, a few milliseconds of a run.
class RewriteWatch {
 public:
  enum Event { kTempCreated, kMessageReplaced };

  explicit RewriteWatch(const fs::path& folder) : fd_(inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
    EXPECT_GE(fd_, 0);
    EXPECT_GE(inotify_add_watch(fd_, folder.c_str(), IN_CREATE | IN_MOVED_TO), 0);
  }
  ~RewriteWatch() { close(fd_); }
  RewriteWatch(const RewriteWatch&) = delete;
  RewriteWatch& operator=(const RewriteWatch&) = delete;

  // Waits until event has happened (true) or pid has ended (false).
  bool Wait(pid_t pid, Event event) {
    for (;;) {
      pollfd ready = {fd_, POLLIN, 0};
      poll(&ready, 1, 1);
      // Seen before draining: the events of a run that has ended are queued.
      const bool ended = HasEnded(pid);
      Drain();
      if (seen_[event]) return true;
      if (ended) return false;
    }
  }

 private:
  void Drain() {
    alignas(inotify_event) char buffer[4096];
    for (ssize_t n; (n = read(fd_, buffer, sizeof buffer)) > 0;) {
      for (char* at = buffer; at < buffer + n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(at);
        const bool temp = e->len > 0 && std::strstr(e->name, ".kelvorin-") != nullptr;
        if ((e->mask & IN_CREATE) && temp) seen_[kTempCreated] = true;
        if ((e->mask & IN_MOVED_TO) && !temp) seen_[kMessageReplaced] = true;
        at += sizeof(inotify_event) + e->len;
      }
    }
  }

  int fd_;
  bool seen_[2] = {false, false};
};

// What a series of trials came to, for the report.
struct Tally {
  int old_text = 0, new_text = 0, ended_by_itself = 0, runs_leaving_temp = 0, temp_files = 0;
};

std::ostream& operator<<(std::ostream& os, const Tally& t) {
  return os << "old text " << t.old_text << ", whole merge " << t.new_text
            << ", ended before the kill " << t.ended_by_itself << ", runs leaving a temp file "
            << t.runs_leaving_temp << " (" << t.temp_files << " files)";
}

using Micros = std::chrono::duration<double, std::micro>;

// How long an undisturbed run takes, and its rewrite: from the temporary
// file's creation to its move onto the message.
struct Spans {
  Micros run{}, rewrite{};
};

// kTrials by default; KELVORIN_KILL_TRIALS asks for a longer series.
int Trials() {
  const char* n = std::getenv("KELVORIN_KILL_TRIALS");
  return n != nullptr && std::atoi(n) > 0 ? std::atoi(n) : kTrials;
}

class RandomKillTest : public KillTest {
 protected:
  // One run from the old message, killed after delay, counted from its start
  // or from its temporary file's creation.
  void Trial(int trial, Micros delay, bool from_temp_file, Tally& t) {
    Reset();
    RewriteWatch watch(Spool());
    const pid_t pid = StartProgram();
    if (from_temp_file) watch.Wait(pid, RewriteWatch::kTempCreated);
    std::this_thread::sleep_for(delay);
    kill(pid, SIGKILL);
    const std::optional<int> status = WaitProgram(pid);
    ASSERT_TRUE(status.has_value()) << "trial " << trial << " did not end";
    Check(trial, !WIFSIGNALED(*status), t);
  }

  // The old text or the whole merge; from a run that ended first, no temp file.
  void Check(int trial, bool ended_by_itself, Tally& t) {
    const std::string text = Message();
    EXPECT_TRUE(text == case_.message || text == case_.merged)
        << "trial " << trial << ": a message of " << text.size() << " bytes is neither the old ("
        << case_.message.size() << ") nor the merged (" << case_.merged.size() << ")";
    const std::size_t temps = TempFilesIn(Spool()).size();
    if (ended_by_itself) {
      EXPECT_EQ(temps, 0u) << "trial " << trial << " ended by itself, left a temp file";
      EXPECT_TRUE(LogHasComplete()) << "trial " << trial << " ended by itself, not complete";
    }
    t.old_text += text == case_.message;
    t.new_text += text == case_.merged;
    t.ended_by_itself += ended_by_itself;
    t.runs_leaving_temp += temps > 0;
    t.temp_files += static_cast<int>(temps);
  }

  // One undisturbed run: the known-good merge, and its spans.
  void Measure(Spans& spans) {
    RewriteWatch watch(Spool());
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = StartProgram();
    ASSERT_TRUE(watch.Wait(pid, RewriteWatch::kTempCreated)) << "no temporary file seen";
    const auto created = std::chrono::steady_clock::now();
    ASSERT_TRUE(watch.Wait(pid, RewriteWatch::kMessageReplaced)) << "no rename seen";
    spans.rewrite = std::chrono::steady_clock::now() - created;
    ASSERT_TRUE(WaitProgram(pid).has_value());
    spans.run = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(LogHasComplete());
    ExpectSameBytes(Message(), case_.merged);
  }
};

// Trials() kills spread over whole runs (and a little past their usual end,
// so some runs end first), as many over their rewrites (and a little past).
TEST_F(RandomKillTest, LeavesOldOrWholeNewText) {
  Spans spans;
  ASSERT_NO_FATAL_FAILURE(Measure(spans));
  std::mt19937 random(kSeed);
  std::uniform_real_distribution<double> fraction(0, 1.2);
  Tally whole, in_rewrite;
  const int trials = Trials();
  for (int trial = 0; trial < 2 * trials; ++trial) {
    const bool aimed = trial % 2 == 1;
    const Micros delay = (aimed ? spans.rewrite : spans.run) * fraction(random);
    ASSERT_NO_FATAL_FAILURE(Trial(trial, delay, aimed, aimed ? in_rewrite : whole));
  }
  std::cout << "run " << spans.run.count() / 1000 << " ms, rewrite " << spans.rewrite.count() / 1000
            << " ms\nkills over whole runs (" << trials << "): " << whole
            << "\nkills aimed at the rewrite (" << trials << "): " << in_rewrite << "\n";
}

// ---------------------------------------------------------------- fixed points

struct KillPoint {
  const char* name;
  Env fault;          // KELVORIN_FAULT_* for io_shim.c
  bool merged;        // the message is the merge afterwards (else the old text)
  std::size_t temps;  // temporary files the dead run leaves
};

void PrintTo(const KillPoint& c, std::ostream* os) {
  *os << c.name;
}

Env KillAt(const char* op, const char* nth, const char* action, const char* match = nullptr) {
  Env env = {
      {"KELVORIN_FAULT_OP", op}, {"KELVORIN_FAULT_NTH", nth}, {"KELVORIN_FAULT_ACTION", action}};
  if (match != nullptr) env["KELVORIN_FAULT_MATCH"] = match;
  return env;
}

const KillPoint kKillPoints[] = {
    {"BeforeFirstWrite", KillAt("write", "1", "kill"), false, 1},
    {"BeforeSecondWrite", KillAt("write", "2", "kill"), false, 1},
    {"AfterSecondWrite", KillAt("write", "2", "kill-after"), false, 1},
    {"BeforeFlush", KillAt("fsync", "1", "kill"), false, 1},
    {"AfterFlush", KillAt("fsync", "1", "kill-after"), false, 1},
    {"BeforeRename", KillAt("rename", "1", "kill"), false, 1},
    {"AfterRename", KillAt("rename", "1", "kill-after"), true, 0},
    {"BeforeFolderFlush", KillAt("fsync", "1", "kill", "*/spool"), true, 0},
};

class KillPointTest : public KillTest, public ::testing::WithParamInterface<KillPoint> {};

TEST_P(KillPointTest, LeavesOldOrWholeNewText) {
  const KillPoint& c = GetParam();
  Env fault = c.fault;
  fault["KELVORIN_FAULT_REPORT"] = (dir_ / "fault.txt").string();
  const std::optional<int> status = WaitProgram(StartProgram({ShimEnv(fault)}));
  ASSERT_TRUE(status.has_value());
  ASSERT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL)
      << "the run was not killed at its point; wait status " << *status;
  EXPECT_EQ(e2e::ReadBytes(dir_ / "fault.txt"), c.fault.at("KELVORIN_FAULT_OP") + " " +
                                                    c.fault.at("KELVORIN_FAULT_NTH") + " " +
                                                    c.fault.at("KELVORIN_FAULT_ACTION") + "\n");
  ExpectSameBytes(Message(), c.merged ? case_.merged : case_.message);
  EXPECT_EQ(TempFilesIn(Spool()).size(), c.temps);
  EXPECT_FALSE(LogHasComplete());
}

INSTANTIATE_TEST_SUITE_P(Shim, KillPointTest, ::testing::ValuesIn(kKillPoints),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
