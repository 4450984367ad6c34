// Files and folders the program may not read or write, and messages no host
// should hand it but one might: 100 MB, random bytes, a NUL byte.
//
// Permission bits stop no one running as root (as CI does), so those runs are
// made as user nobody, in a folder handed to nobody, and each case takes away
// just the right it is about. A failing step must log its error line and
// lose nothing beyond what DeleteOnErrors asks for; a log that cannot be
// written must not stop the merge.
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fault_fixture.h"

namespace {

using namespace faults;

const std::string kLoggedQuery = "{query}";        // the query, as logged
const std::string kDiagnostics = "{diagnostics}";  // one or more ODBC records

enum class Outcome { kKept, kDeleted, kMerged };

class AccessTest : public FaultTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(FaultTest::SetUp());
    ASSERT_NO_FATAL_FAILURE(MakeSqliteSource(ItemsTable(3, 5)));
    case_ = ItemsMessage(3, 5);
  }

  std::vector<std::string> ExpectedLog(const std::vector<std::string>& tail) const {
    std::vector<std::string> log = {kProcessLine};
    for (const std::string& line : tail) {
      log.push_back(line == kLoggedQuery ? LoggedItemsQuery() : line);
    }
    return log;
  }

  // The log, diagnostics allowed where the tail says so.
  void ExpectLog(const std::vector<std::string>& tail) const {
    std::vector<std::string> log = ExpectedLog(tail);
    const auto at = std::find(log.begin(), log.end(), kDiagnostics);
    if (at == log.end()) {
      EXPECT_EQ(LogEntries(), log);
      return;
    }
    e2e::ExpectLogAroundDiagnostics(LogEntries(), {log.begin(), at}, {at + 1, log.end()});
  }

  void ExpectMessage(Outcome outcome, const MergeCase& c) const {
    EXPECT_EQ(TempFilesIn(Spool()), std::vector<std::string>{}) << "temporary file left";
    if (outcome == Outcome::kDeleted) {
      EXPECT_FALSE(fs::exists(dir_ / kMessagePath)) << "message not deleted";
    } else {
      ExpectSameBytes(Message(), outcome == Outcome::kMerged ? c.merged : c.message);
    }
  }

  MergeCase case_;
};

// ---------------------------------------------------------------- rights

// Hands path to nobody (true) or root, with mode.
void Own(const fs::path& path, bool nobody, fs::perms mode) {
  const passwd* user = getpwnam("nobody");
  const group* group = getgrnam("nogroup");
  ASSERT_TRUE(user != nullptr && group != nullptr) << "no user nobody or group nogroup";
  ASSERT_EQ(chown(path.c_str(), nobody ? user->pw_uid : 0, nobody ? group->gr_gid : 0), 0) << path;
  fs::permissions(path, mode);
}

constexpr fs::perms kNone = fs::perms::none;
constexpr fs::perms kFile =
    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read;
constexpr fs::perms kReadOnlyFile =
    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
constexpr fs::perms kFolder = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec;

struct AccessCase {
  const char* name;
  void (*arrange)(const fs::path& dir);  // takes the right away; all else is nobody's
  bool delete_on_errors;
  std::vector<std::string> log;  // after the process line; empty: no log at all
  Outcome outcome;
};

void PrintTo(const AccessCase& c, std::ostream* os) {
  *os << c.name;
}

const AccessCase kAccessCases[] = {
    // DeleteOnErrors is never read: a run that fails before it deletes.
    {"IniUnreadable",
     [](const fs::path& d) { Own(d / e2e::kIni, true, kNone); },
     false,
     {"ERROR: configuration file reading error [Database -> Source] <dir>/kelvorin.INI", kDeleted},
     Outcome::kDeleted},
    {"MessageUnreadableKeeps",
     [](const fs::path& d) { Own(d / kMessagePath, true, kNone); },
     false,
     {"ERROR: can't load file spool/msg.txt"},
     Outcome::kKept},
    {"MessageUnreadableDeletes",
     [](const fs::path& d) { Own(d / kMessagePath, true, kNone); },
     true,
     {"ERROR: can't load file spool/msg.txt", kDeleted},
     Outcome::kDeleted},
    {"QueryUnreadableKeeps",
     [](const fs::path& d) { Own(d / e2e::kQuery, true, kNone); },
     false,
     {"ERROR: can't load file <dir>/query.sql"},
     Outcome::kKept},
    {"QueryUnreadableDeletes",
     [](const fs::path& d) { Own(d / e2e::kQuery, true, kNone); },
     true,
     {"ERROR: can't load file <dir>/query.sql", kDeleted},
     Outcome::kDeleted},
    {"DatabaseUnreadable",
     [](const fs::path& d) { Own(d / "data.db", true, kNone); },
     false,
     {kLoggedQuery, kDiagnostics},
     Outcome::kKept},
    {"MessageReadOnlyKeeps",
     [](const fs::path& d) { Own(d / kMessagePath, true, kReadOnlyFile); },
     false,
     {kLoggedQuery, "SQL OK (2)", "ERROR: can't overwrite message file"},
     Outcome::kKept},
    {"MessageReadOnlyDeletes",
     [](const fs::path& d) { Own(d / kMessagePath, true, kReadOnlyFile); },
     true,
     {kLoggedQuery, "SQL OK (2)", "ERROR: can't overwrite message file", kDeleted},
     Outcome::kDeleted},
    // No new file may be made beside the message, but the message itself may
    // be written: it is rewritten in place.
    {"MessageFolderReadOnlyMergedInPlace",
     [](const fs::path& d) { Own(d / kSpool, false, kFolder); },
     true,
     {kLoggedQuery, "SQL OK (2)", kComplete},
     Outcome::kMerged},
    {"LogFolderReadOnly",
     [](const fs::path& d) { Own(d, false, kFolder); },
     true,
     {},
     Outcome::kMerged},
    {"LogFileReadOnly",
     [](const fs::path& d) {
       e2e::WriteBytes(d / e2e::kLog, "");
       Own(d / e2e::kLog, false, kFile);
     },
     true,
     {},
     Outcome::kMerged},
};

class AccessCaseTest : public AccessTest, public ::testing::WithParamInterface<AccessCase> {};

// Everything in the program's folder handed to nobody, then the case's
// restriction; the run as nobody.
TEST_P(AccessCaseTest, LogsErrorOrMergesAndLosesNothing) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to hand files to user nobody";
  const AccessCase& c = GetParam();
  PutRun(case_, c.delete_on_errors);
  for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
    ASSERT_NO_FATAL_FAILURE(Own(entry.path(), true, entry.status().permissions()));
  }
  ASSERT_NO_FATAL_FAILURE(Own(dir_, true, kFolder));
  ASSERT_NO_FATAL_FAILURE(c.arrange(dir_));
  ASSERT_NO_FATAL_FAILURE(RunProgram({{}, true}));
  if (c.log.empty()) {
    EXPECT_EQ(e2e::ReadBytes(Path(e2e::kLog)), "") << "the log was written after all";
  } else {
    ExpectLog(c.log);
  }
  ExpectMessage(c.outcome, case_);
}

INSTANTIATE_TEST_SUITE_P(Nobody, AccessCaseTest, ::testing::ValuesIn(kAccessCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- messages

const std::string kHead =
    "Subject: Your items\r\n<<< " + std::string(kRecipient) + "\r\n\r\nFirst: %%2%%\r\n";
const std::string kMergedHead = "Subject: Your items\r\n<<< " + std::string(kRecipient) +
                                "\r\n\r\nFirst: " + ItemText(1, 5) + "\r\n";

// n bytes from a fixed seed; with printable set, no NUL and no '%'.
std::string RandomBytes(std::size_t n, bool printable) {
  std::mt19937 random(20261206);
  std::string bytes(n, '\0');
  for (char& b : bytes) {
    b = static_cast<char>(random() & 0xff);
    if (printable && (b == '\0' || b == '%')) b = '.';
  }
  return bytes;
}

// 100 MB of lines between the head and a row block.
MergeCase HundredMegabytes() {
  std::string filler;
  filler.reserve(100u << 20);
  const std::string line = std::string(62, 'f') + "\r\n";
  while (filler.size() < (100u << 20)) filler += line;
  const std::string block = "%kelvorin%\r\n%%1%%\r\n%kelvorin%\r\n";
  return {kHead + filler + block, kMergedHead + filler + "1\r\n2\r\n3\r\n"};
}

struct ContentCase {
  const char* name;
  MergeCase (*make)();
  bool delete_on_errors;
  std::vector<std::string> log;  // after the process line
  Outcome outcome;
};

void PrintTo(const ContentCase& c, std::ostream* os) {
  *os << c.name;
}

const std::string kNoRecipient = "ERROR: can't extract recipient email from message";

const ContentCase kContentCases[] = {
    {"HundredMegabytes",
     HundredMegabytes,
     true,
     {kLoggedQuery, "SQL OK (2)", kComplete},
     Outcome::kMerged},
    {"RandomBytesKeeps",
     [] {
       return MergeCase{RandomBytes(1 << 20, false), ""};
     },
     false,
     {kNoRecipient},
     Outcome::kKept},
    {"RandomBytesDeletes",
     [] {
       return MergeCase{RandomBytes(1 << 20, false), ""};
     },
     true,
     {kNoRecipient, kDeleted},
     Outcome::kDeleted},
    // Binary text after the recipient line, no NUL and nothing to merge in
    // it: every byte must come through.
    {"RandomBodyMergedWhole",
     [] {
       const std::string body = RandomBytes(1 << 20, true);
       return MergeCase{kHead + body, kMergedHead + body};
     },
     true,
     {kLoggedQuery, "SQL OK (2)", kComplete},
     Outcome::kMerged},
};

class ContentCaseTest : public AccessTest, public ::testing::WithParamInterface<ContentCase> {};

TEST_P(ContentCaseTest, LogsErrorOrMergesAndLosesNothing) {
  const ContentCase& c = GetParam();
  const MergeCase message = c.make();
  PutRun(message, c.delete_on_errors);
  ASSERT_NO_FATAL_FAILURE(RunProgram());
  ExpectLog(c.log);
  ExpectMessage(c.outcome, message);
}

INSTANTIATE_TEST_SUITE_P(Content, ContentCaseTest, ::testing::ValuesIn(kContentCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- NUL bytes

// A NUL byte in a message is a byte like any other: nothing after it may be
// lost from the merge, and placeholders behind it are filled too.
struct NulCase {
  const char* name;
  MergeCase (*make)();
};

void PrintTo(const NulCase& c, std::ostream* os) {
  *os << c.name;
}

const NulCase kNulCases[] = {
    {"OneNulByte",
     [] {
       const std::string tail = std::string("\0after the NUL: %%1%%\r\n", 23);
       return MergeCase{kHead + tail, kMergedHead + std::string("\0after the NUL: 1\r\n", 19)};
     }},
    {"RandomBodyWithNul",
     [] {
       const std::string body = RandomBytes(1 << 16, true) + '\0' + RandomBytes(1 << 16, true);
       return MergeCase{kHead + body, kMergedHead + body};
     }},
};

class NulByteTest : public AccessTest, public ::testing::WithParamInterface<NulCase> {};

TEST_P(NulByteTest, KeepsEveryByte) {
  const MergeCase message = GetParam().make();
  PutRun(message, false);
  ASSERT_NO_FATAL_FAILURE(RunProgram());
  const std::vector<std::string> log = LogEntries();
  EXPECT_NE(std::find(log.begin(), log.end(), kComplete), log.end())
      << ::testing::PrintToString(log);
  ExpectSameBytes(Message(), message.merged);
}

INSTANTIATE_TEST_SUITE_P(Content, NulByteTest, ::testing::ValuesIn(kNulCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
