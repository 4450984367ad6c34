// End-to-end tests: each case copies the built program into a fresh folder,
// lays out its INI, message and query files, runs it once per message as the
// mailing host does, and checks the message file and the run log it leaves.
// They need no database: the data source they name does not exist, so every
// run that gets as far as connecting fails there.
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"

namespace {

using namespace e2e;

const std::string kExtractError = "ERROR: can't extract recipient email from message";
const std::string kIniError = "ERROR: configuration file reading error ";

const std::string kValidIni = "[Database]\r\nSource=anything\r\nRequest=query.sql\r\n";
// The same, keeping the message when a run fails.
const std::string kKeepIni = kValidIni + "[Options]\r\nDeleteOnErrors=no\r\n";
const std::string kPlainMessage = "Subject: x\r\n<<< a@b.c\r\nHello\r\n";
const std::string kPlainQuery = "SELECT * FROM t WHERE a='%recipient%'";

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
  std::optional<std::string> ini;  // nullopt: no INI file
  std::string message;
  std::optional<std::string> query;  // nullopt: no query file
  std::vector<std::string> log;      // entries after "+++ Process: msg.txt"
  bool message_kept;                 // else the message file must be gone
  bool connect_fails = false;        // the log goes on with the diagnostics of the connect
};

// Failure reports name the case instead of dumping its bytes.
void PrintTo(const RunCase& c, std::ostream* os) {
  *os << c.name;
}

// A message refused for its recipient line: logged, then deleted.
RunCase Refused(std::string name, std::string message) {
  return {std::move(name),
          kValidIni,
          std::move(message),
          kPlainQuery,
          {kExtractError, kDeletedLine},
          false};
}

// A run that gets as far as its query: logged (unless too long to log), then
// refused by the driver manager for the data source name, with the message
// kept (DeleteOnErrors=no).
RunCase Prepared(std::string name, std::string message, std::string query,
                 std::optional<std::string> logged) {
  std::vector<std::string> log;
  if (logged) log.push_back(*logged);
  return {std::move(name), kKeepIni, std::move(message), std::move(query), log, true, true};
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
  if (c.connect_fails) {
    const std::vector<std::string> tail = {kDeletedLine};
    ExpectLogAroundDiagnostics(LogEntries(), expected,
                               c.message_kept ? std::vector<std::string>{} : tail);
  } else {
    EXPECT_EQ(LogEntries(), expected);
  }
  if (c.message_kept) {
    EXPECT_EQ(ReadBytes(Path(kMessage)), c.message) << "message changed";
  } else {
    EXPECT_FALSE(fs::exists(Path(kMessage))) << "message not deleted";
  }
}

std::string CaseName(const ::testing::TestParamInfo<RunCase>& info) {
  return info.param.name;
}

// Configuration and file errors. Settings read before the failing key still
// hold their defaults, so DeleteOnErrors is on unless the INI was read whole.
std::vector<RunCase> ConfigCases() {
  const std::string ini_path = "<dir>/" + std::string(kIni);
  return {
      {"NoIni",
       std::nullopt,
       kPlainMessage,
       kPlainQuery,
       {kIniError + "[Database -> Source] " + ini_path, kDeletedLine},
       false},
      {"NoRequest",
       "[Database]\r\nSource=anything\r\n",
       kPlainMessage,
       kPlainQuery,
       {kIniError + "[Database -> Request] " + ini_path, kDeletedLine},
       false},
      {"MissingQueryKept",
       kKeepIni,
       kPlainMessage,
       std::nullopt,
       {"ERROR: can't load file <dir>/query.sql"},
       true},
      {"EmptyMessage",
       kValidIni,
       "",
       kPlainQuery,
       {std::string("ERROR: can't load file ") + kMessage, kDeletedLine},
       false},
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
      Prepared("Recipient999Chars", MessageTo(at999), kPlainQuery, Substituted(kPlainQuery, at999)),
      Prepared("Query2000Logged", MessageTo(kLongRecipient), LongQuery(2000),
               Substituted(LongQuery(2000), kLongRecipient)),
      Prepared("Query2001NotLogged", MessageTo(kLongRecipient), LongQuery(2001), std::nullopt),
      {"UnknownSourceDeleted",
       kValidIni,
       kPlainMessage,
       kPlainQuery,
       {Substituted(kPlainQuery, "a@b.c")},
       false,
       true},
  };
}

INSTANTIATE_TEST_SUITE_P(Config, RunTest, ::testing::ValuesIn(ConfigCases()), CaseName);
INSTANTIATE_TEST_SUITE_P(Refused, RunTest, ::testing::ValuesIn(RefusedCases()), CaseName);
INSTANTIATE_TEST_SUITE_P(Prepared, RunTest, ::testing::ValuesIn(PreparedCases()), CaseName);

// ---------------------------------------------------------------- the log file

// Every run appends: earlier lines, even another program's, stay in order.
TEST_F(E2e, LogIsAppendedAcrossRuns) {
  Put(kLog, "01:02:03 04-05-2006 earlier run\r\n");
  Put(kIni, kKeepIni);
  Put(kMessage, kPlainMessage);
  Put(kQuery, kPlainQuery);
  ASSERT_NO_FATAL_FAILURE(Run({kMessage}));
  ASSERT_NO_FATAL_FAILURE(Run({kMessage}));
  const std::vector<std::string> log = LogEntries();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log[0], "earlier run");
  // Both runs fail alike, so each logs half of the rest.
  const auto second = log.begin() + 1 + static_cast<std::ptrdiff_t>((log.size() - 1) / 2);
  const std::vector<std::string> head = {kProcessLine, Substituted(kPlainQuery, "a@b.c")};
  ExpectLogAroundDiagnostics({log.begin() + 1, second}, head, {});
  ExpectLogAroundDiagnostics({second, log.end()}, head, {});
}

}  // namespace
