// What the fault tests share on top of the end-to-end harness: a SQLite data
// source of the test's own, messages whose merge is known in advance, the
// program run with extra environment (the I/O shim), as an unprivileged user,
// or in the background to be killed, and a look for leftover temporary files.
//
//   KELVORIN_PROGRAM  the program (see harness.h)
//   KELVORIN_IO_SHIM  io_shim.c built as a shared object, for LD_PRELOAD
//   ODBCINI           the odbc.ini of e2e/engines.sh: where the SQLite driver is
#ifndef KELVORIN_TESTS_FAULTS_FAULT_FIXTURE_H_
#define KELVORIN_TESTS_FAULTS_FAULT_FIXTURE_H_

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "harness.h"

namespace faults {

namespace fs = e2e::fs;

// The message lives in a folder of its own, so that the program's folder (INI,
// log) and the message's folder can be given different rights or a small disk.
constexpr char kSpool[] = "spool";
constexpr char kMessagePath[] = "spool/msg.txt";
constexpr char kSqliteDsn[] = "faults_sqlite";
constexpr char kRecipient[] = "ann@example.com";

// Plain arrays, not std::string: the case tables of the test programs are
// built from them during static initialisation.
constexpr char kProcessLine[] = "+++ Process: spool/msg.txt";
constexpr char kComplete[] = "Complete!";
constexpr char kWriteError[] = "ERROR: file writing error";
constexpr char kDeleted[] = "--- Errors occured, message was deleted";

using Env = std::map<std::string, std::string>;

// Sets variables for as long as it lives; started programs inherit them.
class ScopedEnv {
 public:
  explicit ScopedEnv(const Env& env);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

// Runs sql over a fresh ODBC connection (connection string or "DSN=...").
// Empty on success, else the diagnostics. A connection per call: a server
// that crashes in between must not leave the test holding a dead one.
std::string Execute(const std::string& connect, const std::string& sql);
// The first column of the first row, or nullopt (no row, or an error).
std::optional<std::string> QueryValue(const std::string& connect, const std::string& sql);

// The SQLite driver's path, from the [kelvorin_sqlite] section of $ODBCINI.
std::string SqliteDriver();

// Names of the program's temporary files (".*.kelvorin-*") in folder.
std::vector<std::string> TempFilesIn(const fs::path& folder);

using e2e::ExpectSameBytes;

// A message to kRecipient with one row block, and the text it must become.
struct MergeCase {
  std::string message;
  std::string merged;
};

// The rows that ItemsTable() stores: "item <n> " and pad times 'x'.
std::string ItemText(int n, int pad);
// SQL that fills table items with rows 1..rows for kRecipient.
std::vector<std::string> ItemsTable(int rows, int pad);
// The query over items, and a message listing the rows and naming the first.
constexpr char kItemsQuery[] = "SELECT n, item FROM items WHERE email = '%recipient%' ORDER BY n";
MergeCase ItemsMessage(int rows, int pad);
// kItemsQuery as the program logs it, the recipient put in.
std::string LoggedItemsQuery();

// Whether a started program has ended, leaving it to be reaped by
// FaultTest::WaitProgram.
bool HasEnded(pid_t pid);

// How to start the program: extra environment, and as user nobody.
struct Launch {
  Env env;
  bool as_nobody = false;
};

// A fresh program folder with a SQLite data source and a spool folder.
class FaultTest : public e2e::E2e {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Creates dir_/data.db holding the result of statements, and an odbc.ini
  // naming it kSqliteDsn that the program's runs get as their ODBCINI.
  void MakeSqliteSource(const std::vector<std::string>& statements);
  // An INI naming source and the query file; DeleteOnErrors as asked.
  std::string Ini(bool delete_on_errors, const std::string& source = kSqliteDsn) const;
  // The usual layout: INI, query, message; the source must exist.
  void PutRun(const MergeCase& c, bool delete_on_errors, const std::string& query = kItemsQuery);

  // The program on kMessagePath, to its end (which must be exit status 0).
  void RunProgram(const Launch& launch = {});
  // The program on kMessagePath in the background; its process id.
  pid_t StartProgram(const Launch& launch = {});
  // Waits for a started program (bounded, see e2e::kTimeout); its wait status.
  std::optional<int> WaitProgram(pid_t pid);

  // The environment that loads the I/O shim with the given KELVORIN_FAULT_*.
  Env ShimEnv(const Env& fault) const;
  fs::path Spool() const { return dir_ / kSpool; }
  std::string Message() const { return e2e::ReadBytes(dir_ / kMessagePath); }

  std::vector<std::string> unmount_;  // mount points to take down on TearDown
  Env program_env_;                   // what every run gets (ODBCINI)

 private:
  std::vector<std::string> Argv(const Launch& launch) const;
};

}  // namespace faults

#endif  // KELVORIN_TESTS_FAULTS_FAULT_FIXTURE_H_
