#include "fault_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "odbc_client.h"

namespace faults {

// ---------------------------------------------------------------- environment

ScopedEnv::ScopedEnv(const Env& env) {
  for (const auto& [name, value] : env) {
    const char* old = std::getenv(name.c_str());
    saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    setenv(name.c_str(), value.c_str(), 1);
  }
}

ScopedEnv::~ScopedEnv() {
  for (const auto& [name, value] : saved_) {
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
}

// ---------------------------------------------------------------- ODBC

std::string Execute(const std::string& connect, const std::string& sql) {
  e2e::Database db;
  const std::string error = db.ConnectWith(connect);
  return error.empty() ? db.Execute(sql) : error;
}

std::optional<std::string> QueryValue(const std::string& connect, const std::string& sql) {
  e2e::Database db;
  if (!db.ConnectWith(connect).empty()) return std::nullopt;
  return db.Value(sql);
}

std::string SqliteDriver() {
  const char* ini = std::getenv("ODBCINI");
  std::ifstream in(ini ? ini : "");
  bool in_section = false;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] == '[') in_section = line == "[kelvorin_sqlite]";
    if (in_section && line.rfind("Driver=", 0) == 0) return line.substr(7);
  }
  return "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";  // where Debian puts it
}

// ---------------------------------------------------------------- files

std::vector<std::string> TempFilesIn(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name[0] == '.' && name.find(".kelvorin-") != std::string::npos) names.push_back(name);
  }
  return names;
}

// ---------------------------------------------------------------- messages

std::string ItemText(int n, int pad) {
  return "item " + std::to_string(n) + " " + std::string(static_cast<std::size_t>(pad), 'x');
}

std::vector<std::string> ItemsTable(int rows, int pad) {
  const std::string r = std::to_string(rows), p = std::to_string(pad);
  return {"CREATE TABLE items (email TEXT, n INTEGER, item TEXT)",
          "INSERT INTO items WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c "
          "WHERE n < " +
              r + ") SELECT '" + kRecipient + "', n, printf('item %d %." + p + "c', n, 'x') FROM c",
          "INSERT INTO items VALUES ('bob@example.com', 0, 'not for ann')"};
}

MergeCase ItemsMessage(int rows, int pad) {
  const std::string head = "From: Shop <shop@example.com>\r\nSubject: Your items\r\n<<< " +
                           std::string(kRecipient) + "\r\n\r\n";
  MergeCase c;
  c.message = head +
              "Your first item is %%2%%.\r\n%kelvorin%\r\n  No. %%1%%: %%2%%\r\n%kelvorin%\r\n"
              "That is all.\r\n";
  c.merged = head + "Your first item is " + ItemText(1, pad) + ".\r\n";
  for (int n = 1; n <= std::min(rows, 5000); ++n) {  // the program merges 5000 at most
    c.merged += "  No. " + std::to_string(n) + ": " + ItemText(n, pad) + "\r\n";
  }
  c.merged += "That is all.\r\n";
  return c;
}

std::string LoggedItemsQuery() {
  std::string query = kItemsQuery;
  return query.replace(query.find("%recipient%"), 11, kRecipient);
}

// ---------------------------------------------------------------- fixture

void FaultTest::SetUp() {
  ASSERT_NO_FATAL_FAILURE(E2e::SetUp());
  // mkdtemp made it 0700; the runs as nobody must be able to enter it.
  fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
  fs::create_directory(Spool());
}

void FaultTest::TearDown() {
  for (const std::string& point : unmount_) umount2(point.c_str(), MNT_DETACH);
  E2e::TearDown();
}

void FaultTest::MakeSqliteSource(const std::vector<std::string>& statements) {
  const std::string db = (dir_ / "data.db").string(), driver = SqliteDriver();
  const std::string connect = "DRIVER=" + driver + ";Database=" + db;
  for (const std::string& sql : statements) ASSERT_EQ(Execute(connect, sql), "") << sql;
  Put("odbc.ini", "[" + std::string(kSqliteDsn) + "]\nDriver=" + driver + "\nDatabase=" + db +
                      "\nTimeout=20000\n");
  program_env_["ODBCINI"] = (dir_ / "odbc.ini").string();
}

std::string FaultTest::Ini(bool delete_on_errors, const std::string& source) const {
  return "[Database]\r\nSource=" + source + "\r\nRequest=" + e2e::kQuery +
         "\r\n[Options]\r\nDeleteOnErrors=" + (delete_on_errors ? "Yes" : "No") + "\r\n";
}

void FaultTest::PutRun(const MergeCase& c, bool delete_on_errors, const std::string& query) {
  Put(e2e::kIni, Ini(delete_on_errors));
  Put(e2e::kQuery, query);
  Put(kMessagePath, c.message);
}

std::vector<std::string> FaultTest::Argv(const Launch& launch) const {
  std::vector<std::string> argv;
  if (launch.as_nobody) {
    argv = {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
  }
  argv.push_back(program_.string());
  argv.push_back(kMessagePath);
  return argv;
}

Env FaultTest::ShimEnv(const Env& fault) const {
  const char* shim = std::getenv("KELVORIN_IO_SHIM");
  EXPECT_TRUE(shim != nullptr && *shim != '\0') << "set KELVORIN_IO_SHIM";
  Env env = fault;
  env["LD_PRELOAD"] = shim ? shim : "";
  return env;
}

void FaultTest::RunProgram(const Launch& launch) {
  Env env = program_env_;
  env.insert(launch.env.begin(), launch.env.end());
  ScopedEnv scoped(env);
  std::optional<int> status = e2e::Spawn(dir_, Argv(launch), Out(), dir_ / "stderr.txt");
  ASSERT_TRUE(status.has_value()) << "did not start, or did not end in time";
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
      << "wait status " << *status << "; stderr: " << e2e::ReadBytes(dir_ / "stderr.txt");
}

pid_t FaultTest::StartProgram(const Launch& launch) {
  Env env = program_env_;
  env.insert(launch.env.begin(), launch.env.end());
  ScopedEnv scoped(env);
  std::vector<std::string> argv = Argv(launch);
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  const std::string dir = dir_.string(), out = Out().string();
  pid_t pid = fork();
  if (pid == 0) {  // only async-signal-safe calls until exec
    setpgid(0, 0);
    int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || chdir(dir.c_str()) != 0) _exit(126);
    dup2(fd, STDOUT_FILENO);
    dup2(fd, STDERR_FILENO);
    execvp(args[0], args.data());
    _exit(127);
  }
  EXPECT_GT(pid, 0) << "fork failed";
  return pid;
}

std::optional<int> FaultTest::WaitProgram(pid_t pid) {
  return e2e::WaitWithTimeout(pid);
}

bool HasEnded(pid_t pid) {
  siginfo_t info = {};
  return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
         info.si_pid != 0;
}

}  // namespace faults
