// The PostgreSQL server goes away: stopped before the run, or, while the
// program is reading thousands of rows, its backend is terminated or killed,
// or the whole server is killed. The run must log the driver's diagnostics,
// never "SQL OK" or "Complete!", and leave the message as it was (or deleted,
// per DeleteOnErrors): never merged with the rows that did arrive.
//
// The suite starts a server of its own (e2e/engines.sh in a state folder of
// its own), so that stopping and killing it disturbs no other suite, and
// stops it at the end. Both ways psqlODBC reads a result are covered: all
// rows while the query runs (the Unicode data source as engines.sh writes
// it), and a cursor fetched 100 rows at a time (UseDeclareFetch), where the
// server dies between two of the program's fetches.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "fault_fixture.h"

namespace {

using namespace faults;

constexpr char kUnicodeDsn[] = "kelvorin_pg_unicode";
constexpr char kCursorDsn[] = "faults_pg_cursor";
constexpr int kRows = 40000;
constexpr int kSleepRow = 3000;  // before the 5000 the program merges

// ---------------------------------------------------------------- the server

std::string PgBin() {
  const char* bin = std::getenv("KELVORIN_PG_BIN");
  return bin && *bin ? bin : "/usr/lib/postgresql/15/bin";
}

// The server runs as postgres, from a folder that user may enter.
int AsPostgres(const std::string& command) {
  return std::system(("cd / && runuser -u postgres -- " + command + " >/dev/null 2>&1").c_str());
}

// The section of odbc.ini for the PostgreSQL ANSI driver, renamed, with a
// cursor that fetches 100 rows at a time.
std::string CursorSection(const std::string& ini) {
  const std::string head = "[kelvorin_pg_ansi]\n";
  const std::size_t from = ini.find(head);
  if (from == std::string::npos) return "";
  const std::size_t to = ini.find("\n\n", from);
  const std::string body = ini.substr(from + head.size(), to - from - head.size());
  return "\n[" + std::string(kCursorDsn) + "]\n" + body + "\nUseDeclareFetch=1\nFetch=100\n";
}

// The processes whose parent is parent, from /proc/<pid>/stat: "pid (name)
// state ppid ...", where the name may hold blanks and parentheses.
std::vector<pid_t> ChildrenOf(pid_t parent) {
  std::vector<pid_t> children;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;  // not a process
    const std::string stat = e2e::ReadBytes(entry.path() / "stat");
    const std::size_t name_end = stat.rfind(')');
    if (name_end == std::string::npos) continue;
    char state = 0;
    int ppid = 0;
    if (std::sscanf(stat.c_str() + name_end + 1, " %c %d", &state, &ppid) == 2 && ppid == parent) {
      children.push_back(std::atoi(stat.c_str()));
    }
  }
  return children;
}

class Server {
 public:
  // Empty when the server runs, else why not.
  std::string Start() {
    const char* engines = std::getenv("KELVORIN_ENGINES_SH");
    if (engines == nullptr || *engines == '\0') return "set KELVORIN_ENGINES_SH";
    char pattern[] = "/tmp/kelvorin-faults.XXXXXX";
    if (mkdtemp(pattern) == nullptr) return "mkdtemp failed";
    state_ = pattern;
    chmod(pattern, 0755);  // the server's user must reach its folder
    const char* note = std::getenv("KELVORIN_FAULTS_PG_NOTE");
    note_ = note && *note ? note : state_ + ".note";
    e2e::WriteBytes(note_, state_);
    if (std::system((std::string(engines) + " start " + state_ + " >/dev/null").c_str()) != 0) {
      return "engines.sh start " + state_ + " failed";
    }
    const std::string ini = state_ + "/odbc.ini";
    const std::string section = CursorSection(e2e::ReadBytes(ini));
    if (section.empty()) return "no [kelvorin_pg_ansi] in " + ini;
    std::ofstream(ini, std::ios::app) << section;
    // Before the first ODBC call of this process; started programs inherit.
    setenv("ODBCINI", ini.c_str(), 1);
    setenv("ODBCSYSINI", state_.c_str(), 1);
    data_ = fs::canonical(state_ + "/pg/data").string();
    return "";
  }

  // Through stop_servers.sh, which ctest runs again should this process be
  // stopped before it gets here.
  void Stop() {
    const char* stop = std::getenv("KELVORIN_FAULTS_STOP");
    const char* engines = std::getenv("KELVORIN_ENGINES_SH");
    if (stop == nullptr || engines == nullptr || note_.empty()) return;
    std::system((std::string(stop) + " " + note_ + " " + engines).c_str());
  }

  bool Answers() const { return QueryValue(Connect(), "SELECT 1") == "1"; }
  std::string Connect() const { return std::string("DSN=") + kUnicodeDsn; }

  // Up again. A server still there (recovering from a killed backend, which
  // takes all the others down) is waited for; one that is gone is started
  // by pg_ctl with the options it had (postmaster.opts).
  bool EnsureRunning() const {
    if (!Answers() && Postmaster() == 0) {
      AsPostgres(PgBin() + "/pg_ctl -D " + data_ + " -l " + data_ + "/../server.log -w restart");
    }
    for (int i = 0; i < 1500 && !Answers(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return Answers();
  }

  // The running postmaster's process id, or 0.
  pid_t Postmaster() const {
    std::ifstream pid_file(data_ + "/postmaster.pid");
    pid_t pid = 0;
    return pid_file >> pid && pid > 0 && kill(pid, 0) == 0 ? pid : 0;
  }

  bool StopServer() const {
    return AsPostgres(PgBin() + "/pg_ctl -D " + data_ + " -m fast -w stop") == 0;
  }

  // The postmaster and every process it started, all at once, as a crash of
  // the machine's database would. Returns once the postmaster is gone, so
  // that pg_ctl may start a new one.
  void KillServer() const {
    const pid_t postmaster = Postmaster();
    if (postmaster == 0) return;
    // Its children first: once it is dead they have another parent.
    std::vector<pid_t> server = ChildrenOf(postmaster);
    server.push_back(postmaster);
    for (pid_t pid : server) kill(pid, SIGKILL);
    // Until its new parent reaps it, pg_ctl takes it for a running server.
    for (int i = 0; i < 1500 && kill(postmaster, 0) == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

 private:
  std::string state_, data_;
  std::string note_;  // names state_, for stop_servers.sh
};

Server server;
std::string server_error = "not started";

// ---------------------------------------------------------------- cases

enum class Fault { kNone, kStopped, kTerminated, kBackendKilled, kServerKilled };

struct PgFault {
  const char* name;
  const char* dsn;
  Fault fault;
  bool delete_on_errors;
};

void PrintTo(const PgFault& c, std::ostream* os) {
  *os << c.name;
}

// The runs without a fault show that the rest of each case (data source,
// query, message) works: the faults are what makes the others fail.
const PgFault kPgFaults[] = {
    {"NoFaultUnicode", kUnicodeDsn, Fault::kNone, true},
    {"NoFaultCursor", kCursorDsn, Fault::kNone, true},
    {"StoppedUnicodeDeletes", kUnicodeDsn, Fault::kStopped, true},
    {"StoppedCursorKeeps", kCursorDsn, Fault::kStopped, false},
    {"TerminatedUnicodeKeeps", kUnicodeDsn, Fault::kTerminated, false},
    {"TerminatedCursorDeletes", kCursorDsn, Fault::kTerminated, true},
    {"BackendKilledUnicodeDeletes", kUnicodeDsn, Fault::kBackendKilled, true},
    {"BackendKilledCursorKeeps", kCursorDsn, Fault::kBackendKilled, false},
    {"ServerKilledUnicodeKeeps", kUnicodeDsn, Fault::kServerKilled, false},
    {"ServerKilledCursorDeletes", kCursorDsn, Fault::kServerKilled, true},
};

// kRows rows of about 210 bytes; at kSleepRow the server sleeps, with the rows
// before it sent or fetched: the moment a fault is injected.
std::string Query(int sleep_seconds) {
  return "SELECT g, repeat('x', 200) || CASE WHEN g = " + std::to_string(kSleepRow) +
         " THEN pg_sleep(" + std::to_string(sleep_seconds) +
         ")::text ELSE '' END FROM generate_series(1, " + std::to_string(kRows) +
         ") g WHERE '%recipient%' <> ''";
}

// The query as the program logs it, the recipient put in.
std::string Logged(std::string query) {
  return query.replace(query.find("%recipient%"), 11, kRecipient);
}

MergeCase RowsMessage() {
  const std::string head = "Subject: Rows\r\n<<< " + std::string(kRecipient) + "\r\n\r\n";
  MergeCase c{head + "%kelvorin%\r\n%%1%% %%2%%\r\n%kelvorin%\r\nEnd\r\n", head};
  for (int g = 1; g <= 5000; ++g) {  // the program merges 5000 at most
    c.merged += std::to_string(g) + " " + std::string(200, 'x') + "\r\n";
  }
  c.merged += "End\r\n";
  return c;
}

class PgFaultTest : public FaultTest, public ::testing::WithParamInterface<PgFault> {
 public:
  static void SetUpTestSuite() { server_error = server.Start(); }
  static void TearDownTestSuite() { server.Stop(); }

 protected:
  void SetUp() override {
    ASSERT_EQ(server_error, "");
    ASSERT_TRUE(server.EnsureRunning()) << "the test server does not answer";
    ASSERT_NO_FATAL_FAILURE(FaultTest::SetUp());
  }

  // The backend of the program once it sleeps at kSleepRow; 0 if the program
  // ended first or never got there.
  pid_t SleepingBackend(pid_t program) {
    const std::string sql =
        "SELECT pid FROM pg_stat_activity WHERE wait_event = 'PgSleep' AND pid <> pg_backend_pid()";
    for (int i = 0; i < 1500; ++i) {
      if (auto pid = QueryValue(server.Connect(), sql)) return std::atoi(pid->c_str());
      if (HasEnded(program)) return 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return 0;
  }

  void Inject(Fault fault, pid_t backend) {
    if (fault == Fault::kTerminated) {
      EXPECT_EQ(QueryValue(server.Connect(),
                           "SELECT pg_terminate_backend(" + std::to_string(backend) + ")"),
                "1");
    } else if (fault == Fault::kBackendKilled) {
      kill(backend, SIGKILL);
    } else {
      server.KillServer();
    }
  }

  // Runs the program; for faults in the middle, injects one once it sleeps.
  void RunWithFault(Fault fault) {
    if (fault == Fault::kNone || fault == Fault::kStopped) {
      if (fault == Fault::kStopped) {
        ASSERT_TRUE(server.StopServer());
      }
      ASSERT_NO_FATAL_FAILURE(RunProgram());
      return;
    }
    const pid_t program = StartProgram();
    const pid_t backend = SleepingBackend(program);
    if (backend > 0) Inject(fault, backend);
    const std::optional<int> status = WaitProgram(program);
    ASSERT_GT(backend, 0) << "the program never reached the sleeping row: "
                          << ::testing::PrintToString(LogEntries());
    ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
  }
};

TEST_P(PgFaultTest, FailsWithDiagnosticsAndMergesNothing) {
  const PgFault& c = GetParam();
  const MergeCase message = RowsMessage();
  const int sleep_seconds = c.fault == Fault::kNone ? 0 : 30;
  Put(e2e::kIni, Ini(c.delete_on_errors, c.dsn));
  Put(e2e::kQuery, Query(sleep_seconds));
  Put(kMessagePath, message.message);
  ASSERT_NO_FATAL_FAILURE(RunWithFault(c.fault));
  const std::vector<std::string> head = {kProcessLine, Logged(Query(sleep_seconds))};
  if (c.fault == Fault::kNone) {  // the control: the same run, undisturbed
    EXPECT_EQ(LogEntries(), (std::vector<std::string>{head[0], head[1], "SQL OK (2)", kComplete}));
    ExpectSameBytes(Message(), message.merged);
  } else if (c.delete_on_errors) {
    e2e::ExpectLogAroundDiagnostics(LogEntries(), head, {kDeleted});
    EXPECT_FALSE(fs::exists(dir_ / kMessagePath)) << "message not deleted";
  } else {
    e2e::ExpectLogAroundDiagnostics(LogEntries(), head, {});
    ExpectSameBytes(Message(), message.message);
  }
}

INSTANTIATE_TEST_SUITE_P(Server, PgFaultTest, ::testing::ValuesIn(kPgFaults),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
