// What every end-to-end test program shares: running the built program from a
// fresh folder the way the mailing host does, and reading the log it leaves.
//
// KELVORIN_PROGRAM names the program under test. When KELVORIN_RUNNER is set
// (the Wine wrapper for kelvorin.exe), the command becomes RUNNER PROGRAM ...,
// so the same cases check that the Linux and Windows builds behave alike.
#ifndef KELVORIN_TESTS_E2E_HARNESS_H_
#define KELVORIN_TESTS_E2E_HARNESS_H_

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace e2e {

namespace fs = std::filesystem;

constexpr char kMessage[] = "msg.txt";
constexpr char kQuery[] = "query.sql";
constexpr char kIni[] = "kelvorin.INI";
constexpr char kLog[] = "kelvorin.LOG";
constexpr auto kTimeout = std::chrono::seconds(60);

// Log texts that many cases expect.
extern const std::string kProcessLine;  // "+++ Process: msg.txt"
extern const std::string kDeletedLine;

std::string ReadBytes(const fs::path& path);
void WriteBytes(const fs::path& path, const std::string& bytes);
std::string StripCarriageReturns(std::string text);
// The pieces of text between separators; no empty piece after a final one.
std::vector<std::string> SplitLines(const std::string& text, const std::string& separator);

// Runs argv with dir as its working directory and stdout/stderr sent to files.
// Returns the wait status, or nullopt on failure to start or on timeout (the
// process group is killed then, so a hang fails the case instead of the run).
std::optional<int> Spawn(const fs::path& dir, const std::vector<std::string>& argv,
                         const fs::path& out, const fs::path& err);
// Waits for a started pid; after kTimeout kills its process group (Wine's
// helpers too) and returns nullopt. Else the wait status.
std::optional<int> WaitWithTimeout(pid_t pid);

// Splits the log into entry texts, checking every entry's time stamp
// "hh:mm:ss dd-mm-yyyy " and the CR LF ending. A line without a stamp
// continues the entry before it (a query may span several lines).
std::vector<std::string> ParseLog(const std::string& log);

// Rewrites the program folder, however the program spells it (a Unix path,
// or Z:\... under Wine), as "<dir>/": the path runs back to the last blank.
std::string NormaliseFolder(std::string text, const std::string& folder_name);

// Checks that entries are one or more ODBC diagnostic records, three lines
// each. Only the prefixes and the state's shape are fixed: the texts differ
// between drivers and driver managers.
void ExpectDiagnostics(const std::vector<std::string>& entries);

// Byte for byte; a difference is shown where it starts, not as two messages
// of thousands of lines.
void ExpectSameBytes(const std::string& actual, const std::string& expected);

// Checks that entries are head, then one or more diagnostic records, then tail.
void ExpectLogAroundDiagnostics(const std::vector<std::string>& entries,
                                const std::vector<std::string>& head,
                                const std::vector<std::string>& tail);

// A fresh folder holding a copy of the program, named as the host names it.
class E2e : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the program with args; it must end by itself with status 0.
  void Run(const std::vector<std::string>& args);

  void Put(const char* name, const std::string& bytes) { WriteBytes(dir_ / name, bytes); }
  fs::path Path(const char* name) const { return dir_ / name; }
  fs::path Out() const { return dir_ / "stdout.txt"; }

  // The log's entry texts, the program folder shown as "<dir>/".
  std::vector<std::string> LogEntries() const;

  fs::path dir_;
  fs::path program_;
};

}  // namespace e2e

#endif  // KELVORIN_TESTS_E2E_HARNESS_H_
