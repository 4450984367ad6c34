// End-to-end tests: each case copies the built program into a fresh folder,
// lays out its INI, message and query files, runs it once per message as the
// mailing host does, and checks the message file and the run log it leaves.
//
// KELVORIN_PROGRAM names the program under test. When KELVORIN_RUNNER is set
// (the Wine wrapper for kelvorin.exe), the command becomes RUNNER PROGRAM ...,
// so the same cases check that the Linux and Windows builds behave alike.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

constexpr char kMessage[] = "msg.txt";
constexpr char kQuery[] = "query.sql";
constexpr char kIni[] = "kelvorin.INI";
constexpr char kLog[] = "kelvorin.LOG";
constexpr auto kTimeout = std::chrono::seconds(60);

// Expected log texts. "<dir>/" stands for the program folder as the program
// itself spells it (a Unix path, or Z:\... under Wine).
const std::string kProcessLine = std::string("+++ Process: ") + kMessage;
const std::string kDeletedLine = "--- Errors occured, message was deleted";
const std::string kExtractError = "ERROR: can't extract recipient email from message";
const std::string kIniError = "ERROR: configuration file reading error ";

const std::string kValidIni = "[Database]\r\nSource=anything\r\nRequest=query.sql\r\n";
const std::string kPlainMessage = "Subject: x\r\n<<< a@b.c\r\nHello\r\n";
const std::string kPlainQuery = "SELECT * FROM t WHERE a='%recipient%'";

// ---------------------------------------------------------------- files

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::string StripCarriageReturns(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

std::vector<std::string> SplitLines(const std::string& text, const std::string& separator) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  for (std::size_t at; (at = text.find(separator, from)) != std::string::npos;
       from = at + separator.size()) {
    lines.push_back(text.substr(from, at - from));
  }
  if (from < text.size()) lines.push_back(text.substr(from));
  return lines;
}

// ---------------------------------------------------------------- running

// Waits for pid; after kTimeout kills its process group (Wine's helpers too)
// and returns nullopt, so a hang fails the case instead of blocking the run.
std::optional<int> WaitWithTimeout(pid_t pid) {
  const auto deadline = std::chrono::steady_clock::now() + kTimeout;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return status;
}

// Runs argv with dir as its working directory and stdout/stderr sent to files.
// Returns the wait status, or nullopt on failure to start or on timeout.
std::optional<int> Spawn(const fs::path& dir, const std::vector<std::string>& argv,
                         const fs::path& out, const fs::path& err) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const std::string dir_s = dir.string(), out_s = out.string(), err_s = err.string();
  pid_t pid = fork();
  if (pid < 0) return std::nullopt;
  if (pid == 0) {  // only async-signal-safe calls until exec
    setpgid(0, 0);
    int out_fd = open(out_s.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err_fd = open(err_s.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (chdir(dir_s.c_str()) != 0 || out_fd < 0 || err_fd < 0) _exit(126);
    dup2(out_fd, STDOUT_FILENO);
    dup2(err_fd, STDERR_FILENO);
    execvp(args[0], args.data());
    _exit(127);
  }
  return WaitWithTimeout(pid);
}

// ---------------------------------------------------------------- the log

// Splits the log into entry texts, checking every entry's time stamp
// "hh:mm:ss dd-mm-yyyy " and the CR LF ending. A line without a stamp
// continues the entry before it (a query may span several lines).
std::vector<std::string> ParseLog(const std::string& log) {
  static const std::regex stamp(
      R"(^([01]\d|2[0-3]):[0-5]\d:[0-5]\d (0[1-9]|[12]\d|3[01])-(0[1-9]|1[0-2])-\d{4} )");
  std::vector<std::string> entries;
  if (log.empty()) return entries;
  EXPECT_EQ(log.substr(log.size() - std::min<std::size_t>(2, log.size())), "\r\n")
      << "log does not end with CR LF";
  for (const std::string& line : SplitLines(log, "\r\n")) {
    if (std::regex_search(line, stamp)) {
      entries.push_back(line.substr(20));
    } else if (entries.empty()) {
      ADD_FAILURE() << "log starts without a time stamp: " << line;
      entries.push_back(line);
    } else {
      entries.back() += "\r\n" + line;
    }
  }
  return entries;
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Rewrites the program folder, however the program spells it (a Unix path,
// or Z:\... under Wine), as "<dir>/": the path runs back to the last blank.
std::string NormaliseFolder(std::string text, const std::string& folder_name) {
  for (std::size_t at = 0; (at = text.find(folder_name, at)) != std::string::npos;) {
    const std::size_t end = at + folder_name.size();
    if (at == 0 || !IsSeparator(text[at - 1]) || end >= text.size() || !IsSeparator(text[end])) {
      at = end;
      continue;
    }
    const std::size_t blank = text.rfind(' ', at);
    const std::size_t start = blank == std::string::npos ? 0 : blank + 1;
    text.replace(start, end + 1 - start, "<dir>/");
    at = start + 6;
  }
  return text;
}

// ---------------------------------------------------------------- fixture

// A fresh folder holding a copy of the program, named as the host names it.
class E2e : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* program = std::getenv("KELVORIN_PROGRAM");
    ASSERT_TRUE(program != nullptr && *program != '\0') << "set KELVORIN_PROGRAM";
    std::string pattern = (fs::temp_directory_path() / "kelvorin-e2e-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr) << "mkdtemp failed";
    dir_ = pattern;
    const bool windows = fs::path(program).extension() == ".exe";
    program_ = dir_ / (windows ? "kelvorin.exe" : "kelvorin");
    fs::copy_file(program, program_);
    fs::permissions(program_, fs::perms::owner_exec, fs::perm_options::add);
  }

  void TearDown() override {
    std::error_code ignored;
    if (!dir_.empty()) fs::remove_all(dir_, ignored);
  }

  // Runs the program with args; it must end by itself with status 0.
  void Run(const std::vector<std::string>& args) {
    std::vector<std::string> argv;
    if (const char* runner = std::getenv("KELVORIN_RUNNER"); runner && *runner) {
      argv.push_back(runner);
    }
    argv.push_back(program_.string());
    argv.insert(argv.end(), args.begin(), args.end());
    std::optional<int> status = Spawn(dir_, argv, Out(), dir_ / "stderr.txt");
    ASSERT_TRUE(status.has_value()) << "did not start, or no exit within " << kTimeout.count()
                                    << " s";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
        << "wait status " << *status << "; stderr: " << ReadBytes(dir_ / "stderr.txt");
  }

  void Put(const char* name, const std::string& bytes) { WriteBytes(dir_ / name, bytes); }
  fs::path Path(const char* name) const { return dir_ / name; }
  fs::path Out() const { return dir_ / "stdout.txt"; }

  // The log's entry texts, the program folder shown as "<dir>/".
  std::vector<std::string> LogEntries() const {
    std::vector<std::string> entries = ParseLog(ReadBytes(Path(kLog)));
    for (std::string& e : entries) e = NormaliseFolder(e, dir_.filename().string());
    return entries;
  }

  fs::path dir_;
  fs::path program_;
};

// ---------------------------------------------------------------- usage

// Any argument count but one shows the banner and touches nothing, even
// when everything needed for a run is in place.
TEST_F(E2e, WrongArgumentCountPrintsBannerOnly) {
  const std::vector<std::vector<std::string>> arg_lists = {{}, {kMessage, "extra"}};
  const std::string rule(71, '_');
  for (const auto& args : arg_lists) {
    SCOPED_TRACE(::testing::Message() << args.size() << " arguments");
    Put(kIni, kValidIni);
    Put(kMessage, kPlainMessage);
    Put(kQuery, kPlainQuery);
    ASSERT_NO_FATAL_FAILURE(Run(args));
    std::vector<std::string> lines = SplitLines(StripCarriageReturns(ReadBytes(Out())), "\n");
    ASSERT_EQ(lines.size(), 7u) << ReadBytes(Out());
    EXPECT_EQ(lines[0], rule);
    EXPECT_EQ(lines[1].rfind("Kelvorin v1.0", 0), 0u) << lines[1];
    EXPECT_FALSE(lines[2].empty());
    EXPECT_EQ(lines[3], std::string(71, '='));
    EXPECT_EQ(lines[4], " Plug-in for Vellumcast is designed for merging e-mails");
    EXPECT_EQ(lines[5], " with database. See Vellumcast help system to learn more.");
    EXPECT_EQ(lines[6], rule);
    EXPECT_FALSE(fs::exists(Path(kLog))) << "log written: " << ReadBytes(Path(kLog));
    EXPECT_EQ(ReadBytes(Path(kMessage)), kPlainMessage);
  }
}

// ---------------------------------------------------------------- one run

// One run on msg.txt: what lies beside the program, and what it leaves.
struct RunCase {
  std::string name;
  std::optional<std::string> ini;    // nullopt: no INI file
  std::string message;
  std::optional<std::string> query;  // nullopt: no query file
  std::vector<std::string> log;      // entries after "+++ Process: msg.txt"
  bool message_kept;                 // else the message file must be gone
};

// Failure reports name the case instead of dumping its bytes.
void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

// A message refused for its recipient line: logged, then deleted.
RunCase Refused(std::string name, std::string message) {
  return {std::move(name), kValidIni, std::move(message), kPlainQuery,
          {kExtractError, kDeletedLine}, false};
}

// A run that gets as far as its query: logged (unless too long to log), and
// the message left alone, since no later step exists yet to claim anything.
RunCase Prepared(std::string name, std::string message, std::string query,
                 std::optional<std::string> logged) {
  std::vector<std::string> log;
  if (logged) log.push_back(*logged);
  return {std::move(name), kValidIni, std::move(message), std::move(query), log, true};
}

std::string MessageTo(const std::string& recipient) {
  return "Subject: x\r\n<<< " + recipient + "\r\nHello\r\n";
}

// An address-like recipient of exactly length characters.
std::string AddressOfLength(std::size_t length) {
  const std::string domain = "@example.com";
  return std::string(length - domain.size(), 'a') + domain;
}

class RunTest : public E2e, public ::testing::WithParamInterface<RunCase> {};

TEST_P(RunTest, LeavesExpectedLogAndMessage) {
  const RunCase& c = GetParam();
  if (c.ini) Put(kIni, *c.ini);
  Put(kMessage, c.message);
  if (c.query) Put(kQuery, *c.query);
  ASSERT_NO_FATAL_FAILURE(Run({kMessage}));

  std::vector<std::string> expected = {kProcessLine};
  expected.insert(expected.end(), c.log.begin(), c.log.end());
  EXPECT_EQ(LogEntries(), expected);
  if (c.message_kept) {
    EXPECT_EQ(ReadBytes(Path(kMessage)), c.message) << "message changed";
  } else {
    EXPECT_FALSE(fs::exists(Path(kMessage))) << "message not deleted";
  }
}

std::string CaseName(const ::testing::TestParamInfo<RunCase>& info) { return info.param.name; }

// Configuration and file errors. Settings read before the failing key still
// hold their defaults, so DeleteOnErrors is on unless the INI was read whole.
std::vector<RunCase> ConfigCases() {
  const std::string ini_path = "<dir>/" + std::string(kIni);
  const std::string keep_ini = kValidIni + "[Options]\r\nDeleteOnErrors=no\r\n";
  return {
      {"NoIni", std::nullopt, kPlainMessage, kPlainQuery,
       {kIniError + "[Database -> Source] " + ini_path, kDeletedLine}, false},
      {"NoRequest", "[Database]\r\nSource=anything\r\n", kPlainMessage, kPlainQuery,
       {kIniError + "[Database -> Request] " + ini_path, kDeletedLine}, false},
      {"MissingQueryKept", keep_ini, kPlainMessage, std::nullopt,
       {"ERROR: can't load file <dir>/query.sql"}, true},
      {"EmptyMessage", kValidIni, "", kPlainQuery,
       {std::string("ERROR: can't load file ") + kMessage, kDeletedLine}, false},
  };
}

// The recipient is the rest of the first line that starts with "<<< " after a
// CR LF; anything else is refused.
std::vector<RunCase> RefusedCases() {
  return {
      Refused("NoRecipientLine", "Subject: x\r\nHello\r\n"),
      Refused("EmptyRecipient", "Subject: x\r\n<<< \r\nHello\r\n"),
      Refused("RecipientOnFirstLine", "<<< a@b.c\r\nHello\r\n"),
      Refused("LfOnlyLineEnds", "Hi\n<<< a@b.c\n"),
      Refused("Backslash", MessageTo("a\\b@c.d")),
      Refused("Recipient1000Chars", MessageTo(AddressOfLength(1000))),
  };
}

// Longer than the token, so a query grows when it is substituted.
const std::string kLongRecipient = "long.name@example.com";

// A query of exactly length characters once kLongRecipient replaces its
// token: the raw text is shorter, so only the substituted length counts.
std::string LongQuery(std::size_t length) {
  const std::string head = "SELECT * FROM t WHERE a='", mid = "' AND b='";
  const std::size_t pad = length - head.size() - kLongRecipient.size() - mid.size() - 1;
  return head + "%recipient%" + mid + std::string(pad, 'x') + "'";
}

std::string Substituted(std::string query, const std::string& recipient) {
  return query.replace(query.find("%recipient%"), 11, recipient);
}

std::vector<RunCase> PreparedCases() {
  const std::string quoted = "SELECT * FROM t WHERE a='%recipient%' OR b='%recipient%'";
  const std::string multi = "SELECT *\r\nFROM t\r\nWHERE a='%recipient%'";
  const std::string at999 = AddressOfLength(999);
  return {
      Prepared("QuoteDoubledFirstTokenOnly", MessageTo("o'brien@example.com"), quoted,
               "SELECT * FROM t WHERE a='o''brien@example.com' OR b='%recipient%'"),
      Prepared("MultiLineQuery", MessageTo("a@b.c"), multi, Substituted(multi, "a@b.c")),
      Prepared("QueryWithoutToken", MessageTo("a@b.c"), "SELECT 1", "SELECT 1"),
      Prepared("Recipient999Chars", MessageTo(at999), kPlainQuery,
               Substituted(kPlainQuery, at999)),
      Prepared("Query2000Logged", MessageTo(kLongRecipient), LongQuery(2000),
               Substituted(LongQuery(2000), kLongRecipient)),
      Prepared("Query2001NotLogged", MessageTo(kLongRecipient), LongQuery(2001), std::nullopt),
  };
}

INSTANTIATE_TEST_SUITE_P(Config, RunTest, ::testing::ValuesIn(ConfigCases()), CaseName);
INSTANTIATE_TEST_SUITE_P(Refused, RunTest, ::testing::ValuesIn(RefusedCases()), CaseName);
INSTANTIATE_TEST_SUITE_P(Prepared, RunTest, ::testing::ValuesIn(PreparedCases()), CaseName);

// ---------------------------------------------------------------- the log file

// Every run appends: earlier lines, even another program's, stay in order.
TEST_F(E2e, LogIsAppendedAcrossRuns) {
  Put(kLog, "01:02:03 04-05-2006 earlier run\r\n");
  Put(kIni, kValidIni);
  Put(kMessage, kPlainMessage);
  Put(kQuery, kPlainQuery);
  ASSERT_NO_FATAL_FAILURE(Run({kMessage}));
  ASSERT_NO_FATAL_FAILURE(Run({kMessage}));
  const std::string query = Substituted(kPlainQuery, "a@b.c");
  const std::vector<std::string> expected = {"earlier run", kProcessLine, query, kProcessLine,
                                             query};
  EXPECT_EQ(LogEntries(), expected);
}

}  // namespace
