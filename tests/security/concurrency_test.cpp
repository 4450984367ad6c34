// Many instances at once, the way a mailing host runs the program: 200 runs
// started together, each on its own message file with its own recipient, all
// from ONE program folder (one INI, one query file, one kelvorin.LOG) and
// against one SQLite database. Every message must get exactly its own rows,
// and every run's lines must reach the shared log once each, whole, each with
// its time stamp and CR LF, none mixed with another's.
//
//   KELVORIN_DSN      an SQLite data source (kelvorin_sqlite of engines.sh)
//   ODBCINI           the odbc.ini that defines it
//   KELVORIN_PROGRAM  the program under test
//   KELVORIN_CONCURRENT_RUNS  runs at once instead of 200 (the sanitizer
//                     build, many times slower, runs fewer)
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"
#include "odbc_client.h"

namespace {

using namespace e2e;

// The runs at once: 200, as a busy host starts them, unless overridden.
int RunCount() {
  const char* text = std::getenv("KELVORIN_CONCURRENT_RUNS");
  int runs = text ? std::atoi(text) : 0;
  return runs > 0 ? runs : 200;
}
const int kRuns = RunCount();
constexpr int kRowsEach = 3;
const char kRowLetters[] = "ABC";
const std::string kBody = "%kelvorin%\r\n%%2%%: %%1%%\r\n%kelvorin%\r\n";

std::string Number(int i) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%03d", i);
  return digits;
}
std::string Recipient(int i) {
  return "r" + Number(i) + "@example.com";
}
std::string Item(int i, int row) {
  return "R" + Number(i) + "-" + kRowLetters[row];
}

// ---------------------------------------------------------------- processes

// Starts argv in dir without waiting for it; stdout and stderr go to err.
// The child waits until gate's write end is closed in every process (the
// read then sees its end), so that all runs start together rather than
// trickling in at the pace of fork. Returns the pid, or -1.
pid_t Start(const fs::path& dir, const std::vector<std::string>& argv, const fs::path& err,
            const int gate[2]) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const std::string dir_s = dir.string(), err_s = err.string();
  pid_t pid = fork();
  if (pid != 0) return pid;
  // Only async-signal-safe calls until exec; a group of its own, so that a
  // run that hangs can be killed with whatever it started.
  setpgid(0, 0);
  close(gate[1]);
  char none;
  while (read(gate[0], &none, 1) < 0 && errno == EINTR) {
  }
  close(gate[0]);
  int err_fd = open(err_s.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (chdir(dir_s.c_str()) != 0 || err_fd < 0) _exit(126);
  dup2(err_fd, STDOUT_FILENO);
  dup2(err_fd, STDERR_FILENO);
  execv(args[0], args.data());
  _exit(127);
}

// Waits for every pid; what is left after kTimeout is killed. The wait
// statuses, -1 for a run that had to be killed.
std::vector<int> WaitAll(const std::vector<pid_t>& pids) {
  std::vector<int> statuses(pids.size(), -1);
  std::vector<bool> done(pids.size(), false);
  const auto deadline = std::chrono::steady_clock::now() + kTimeout;
  for (std::size_t left = pids.size(); left > 0;) {
    for (std::size_t i = 0; i < pids.size(); ++i) {
      if (done[i] || waitpid(pids[i], &statuses[i], WNOHANG) == 0) continue;
      done[i] = true;
      --left;
    }
    if (left == 0) break;
    if (std::chrono::steady_clock::now() > deadline) {
      for (std::size_t i = 0; i < pids.size(); ++i) {
        if (done[i]) continue;
        kill(-pids[i], SIGKILL);
        waitpid(pids[i], nullptr, 0);
      }
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return statuses;
}

// ---------------------------------------------------------------- the log

// The log split strictly: every line must carry a time stamp within the
// test's time span and end with CR LF; a line that does not counts as
// malformed instead of being joined to the one before (which is what
// mixed lines would look like).
struct StrictLog {
  std::vector<std::string> texts;
  std::vector<std::string> malformed;
};

bool StampWithin(const std::smatch& m, std::time_t from, std::time_t to) {
  std::tm t = {};
  t.tm_hour = std::stoi(m[1]), t.tm_min = std::stoi(m[2]), t.tm_sec = std::stoi(m[3]);
  t.tm_mday = std::stoi(m[4]), t.tm_mon = std::stoi(m[5]) - 1, t.tm_year = std::stoi(m[6]) - 1900;
  t.tm_isdst = -1;
  const std::time_t at = std::mktime(&t);
  return at >= from - 1 && at <= to + 1;
}

StrictLog ParseStrict(const std::string& log, std::time_t from, std::time_t to) {
  static const std::regex line(R"(^(\d\d):(\d\d):(\d\d) (\d\d)-(\d\d)-(\d{4}) ([^\r\n]+)$)");
  StrictLog parsed;
  if (log.size() >= 2 && log.compare(log.size() - 2, 2, "\r\n") != 0) {
    parsed.malformed.push_back("(no CR LF at the end)");
  }
  for (const std::string& text : SplitLines(log, "\r\n")) {
    std::smatch m;
    if (std::regex_match(text, m, line) && StampWithin(m, from, to)) {
      parsed.texts.push_back(m[7]);
    } else {
      parsed.malformed.push_back(text);
    }
  }
  return parsed;
}

// ---------------------------------------------------------------- the fixture

class ConcurrencyTest : public SourceTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(SourceTest::SetUp());
    // Per process, so runs on one database at once (ctest -j) stay apart.
    table_ = "k" + std::to_string(getpid()) + "_runs";
    db_.Execute("DROP TABLE IF EXISTS " + table_);
    ASSERT_EQ(db_.Execute("CREATE TABLE " + table_ + " (email VARCHAR(60), n INTEGER, item TEXT)"),
              "");
    ASSERT_EQ(db_.Execute("INSERT INTO " + table_ + " VALUES " + AllRows()), "");
    spool_ = dir_ / "spool";
    fs::create_directory(spool_);
  }

  void TearDown() override {
    db_.Execute("DROP TABLE IF EXISTS " + table_);
    SourceTest::TearDown();
  }

  static std::string AllRows() {
    std::string rows;
    for (int i = 0; i < kRuns; ++i) {
      for (int r = 0; r < kRowsEach; ++r) {
        rows += std::string(rows.empty() ? "" : ", ") + "('" + Recipient(i) + "', " +
                std::to_string(r + 1) + ", '" + Item(i, r) + "')";
      }
    }
    return rows;
  }

  std::string Query() const {
    return "SELECT item, n FROM " + table_ + " WHERE email = '%recipient%' ORDER BY n";
  }
  fs::path MessagePath(int i) const { return spool_ / ("msg-" + Number(i) + ".txt"); }
  std::string Head(int i) const {
    return "Subject: Run " + Number(i) + "\r\n<<< " + Recipient(i) + "\r\n";
  }

  std::string Merged(int i) const {
    std::string rows;
    for (int r = 0; r < kRowsEach; ++r) rows += std::to_string(r + 1) + ": " + Item(i, r) + "\r\n";
    return Head(i) + rows;
  }

  // The lines every run must log once each, in this order.
  std::vector<std::string> RunLines(int i) const {
    std::string query = Query();
    query.replace(query.find("%recipient%"), 11, Recipient(i));
    return {"+++ Process: " + MessagePath(i).string(), query, "SQL OK (2)", "Complete!"};
  }

  // Every run's lines, with the number of times each must be logged.
  std::map<std::string, int> ExpectedLines() const {
    std::map<std::string, int> expected;
    for (int i = 0; i < kRuns; ++i) {
      for (const std::string& line : RunLines(i)) ++expected[line];
    }
    return expected;
  }

  // Forks every run, held at a gate, then opens it. Fewer pids than kRuns
  // when fork failed; those started run all the same, to be waited for.
  std::vector<pid_t> StartAll() const {
    int gate[2];
    if (pipe2(gate, O_CLOEXEC) != 0) return {};
    std::vector<pid_t> pids;
    for (int i = 0; i < kRuns; ++i) {
      const fs::path err = spool_ / ("err-" + Number(i) + ".txt");
      const pid_t pid = Start(spool_, {program_.string(), MessagePath(i).string()}, err, gate);
      if (pid <= 0) break;
      pids.push_back(pid);
    }
    close(gate[0]);
    close(gate[1]);  // the runs go
    return pids;
  }

  std::string table_;
  fs::path spool_;
};

// ---------------------------------------------------------------- checks

// Compares the log's texts with every run's lines: each unique line exactly
// once, the shared ones once per run, nothing else. Returns how many of the
// expected lines were found.
int ExpectLines(const std::vector<std::string>& texts, const std::map<std::string, int>& expected) {
  std::map<std::string, int> found;
  for (const std::string& t : texts) ++found[t];
  int matched = 0;
  for (const auto& [text, times] : expected) {
    const int got = found.count(text) ? found[text] : 0;
    matched += std::min(got, times);
    EXPECT_EQ(got, times) << "log line: " << text;
  }
  for (const auto& [text, times] : found) {
    EXPECT_TRUE(expected.count(text)) << times << " unexpected log line(s): " << text;
  }
  return matched;
}

// The most runs the log shows between their first and last line at one
// time: evidence that the runs did overlap.
int MostInFlight(const std::vector<std::string>& texts) {
  int in_flight = 0, most = 0;
  for (const std::string& t : texts) {
    in_flight += t.rfind("+++ Process:", 0) == 0 ? 1 : t == "Complete!" ? -1 : 0;
    most = std::max(most, in_flight);
  }
  return most;
}

// A run's process line comes before its query line.
void ExpectRunOrder(const std::vector<std::string>& texts, const std::vector<std::string>& run) {
  const auto process = std::find(texts.begin(), texts.end(), run[0]);
  const auto query = std::find(texts.begin(), texts.end(), run[1]);
  EXPECT_LT(process, query) << run[0] << " not before its query";
}

TEST_F(ConcurrencyTest, TwoHundredRunsShareOneFolderAndLog) {
  Put(kIni, "[Database]\r\nSource=" + dsn_ + "\r\nRequest=" + kQuery + "\r\n");
  Put(kQuery, Query());
  for (int i = 0; i < kRuns; ++i) WriteBytes(MessagePath(i), Head(i) + kBody);

  const std::time_t from = std::time(nullptr);
  const std::vector<pid_t> pids = StartAll();
  const std::vector<int> statuses = WaitAll(pids);
  const std::time_t to = std::time(nullptr);
  ASSERT_EQ(pids.size(), static_cast<std::size_t>(kRuns)) << "fork failed";

  int correct = 0;
  for (int i = 0; i < kRuns; ++i) {
    EXPECT_TRUE(WIFEXITED(statuses[i]) && WEXITSTATUS(statuses[i]) == 0)
        << "run " << i << ": wait status " << statuses[i];
    const bool same = fs::exists(MessagePath(i)) && ReadBytes(MessagePath(i)) == Merged(i);
    correct += same;
    EXPECT_TRUE(same) << "message " << i << " is not its own merge";
  }
  const StrictLog log = ParseStrict(ReadBytes(Path(kLog)), from, to);
  EXPECT_EQ(log.malformed, std::vector<std::string>{}) << "malformed or mixed log lines";
  const int found = ExpectLines(log.texts, ExpectedLines());
  for (int i = 0; i < kRuns; ++i) ExpectRunOrder(log.texts, RunLines(i));
  std::cout << kRuns << " runs at once: " << correct << " messages correct; log lines expected "
            << kRuns * 4 << ", found " << found << " (" << log.texts.size()
            << " well formed in all, " << log.malformed.size() << " malformed); up to "
            << MostInFlight(log.texts) << " runs in flight\n";
}

}  // namespace
