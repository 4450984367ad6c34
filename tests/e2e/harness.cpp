#include "harness.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <thread>

namespace e2e {

const std::string kProcessLine = std::string("+++ Process: ") + kMessage;
const std::string kDeletedLine = "--- Errors occured, message was deleted";

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

namespace {
bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}
}  // namespace

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

void ExpectDiagnostics(const std::vector<std::string>& entries) {
  static const std::regex state(R"(ERROR: SQL state - [0-9A-Z]{5})");
  static const std::regex native(R"(ERROR: SQL native error is -?\d+)");
  // Driver messages may run over several lines.
  static const std::regex message(R"(ERROR: SQL message - [\s\S]+)");
  EXPECT_TRUE(!entries.empty() && entries.size() % 3 == 0)
      << entries.size() << " lines are not whole diagnostic records";
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::regex& shape = i % 3 == 0 ? state : i % 3 == 1 ? native : message;
    EXPECT_TRUE(std::regex_match(entries[i], shape))
        << "diagnostic line " << i << ": " << entries[i];
  }
}

void ExpectSameBytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) return;
  std::size_t at = 0;
  while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
  const std::size_t from = at < 30 ? 0 : at - 30;
  ADD_FAILURE() << "message differs from byte " << at << " (sizes " << actual.size() << ", "
                << expected.size()
                << " expected)\n  actual:   " << ::testing::PrintToString(actual.substr(from, 80))
                << "\n  expected: " << ::testing::PrintToString(expected.substr(from, 80));
}

void ExpectLogAroundDiagnostics(const std::vector<std::string>& entries,
                                const std::vector<std::string>& head,
                                const std::vector<std::string>& tail) {
  const std::size_t fixed = head.size() + tail.size();
  ASSERT_GT(entries.size(), fixed)
      << "no diagnostics in the log: " << ::testing::PrintToString(entries);
  const auto middle = entries.begin() + static_cast<std::ptrdiff_t>(head.size());
  const auto back = entries.end() - static_cast<std::ptrdiff_t>(tail.size());
  EXPECT_EQ(std::vector<std::string>(entries.begin(), middle), head);
  ExpectDiagnostics(std::vector<std::string>(middle, back));
  EXPECT_EQ(std::vector<std::string>(back, entries.end()), tail);
}

// ---------------------------------------------------------------- fixture

void E2e::SetUp() {
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

void E2e::TearDown() {
  std::error_code ignored;
  if (!dir_.empty()) fs::remove_all(dir_, ignored);
}

void E2e::Run(const std::vector<std::string>& args) {
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

std::vector<std::string> E2e::LogEntries() const {
  std::vector<std::string> entries = ParseLog(ReadBytes(Path(kLog)));
  for (std::string& e : entries) e = NormaliseFolder(e, dir_.filename().string());
  return entries;
}

}  // namespace e2e
