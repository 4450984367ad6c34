// Hostile recipients: addresses built to break out of the SQL literal that
// the query file puts the recipient in. The database holds the attacker's own
// row, other customers' rows and a canary table; for every address the
// program must merge the attacker's own row and nothing else, or fail cleanly
// (the address refused, or the database refusing it), and leave both tables
// as they were. One list of addresses and one message run on every engine;
// what differs between engines sits in a small table.
//
// Every address is also tried the careless way on the test's own connection
// (see AttacksAreLiveAgainstCarelessQuoting). That shows which addresses are
// real attacks on the engine at hand, so a pass means the program stopped
// them rather than that they were harmless.
//
//   KELVORIN_DSN      the data source (tests/e2e/engines.sh makes four)
//   ODBCINI           the odbc.ini that defines it
//   KELVORIN_PROGRAM  the program under test
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"
#include "odbc_client.h"

namespace {

using namespace e2e;

// ---------------------------------------------------------------- engines

struct Dialect {
  std::string dbms;  // as SQLGetInfo(SQL_DBMS_NAME) reports it
  // The e-mail column. It must compare byte for byte: MariaDB's default
  // utf8mb4_general_ci would match BOB@EXAMPLE.COM, "bob@example.com " and
  // bób@example.com to bob's rows, which no quoting can prevent.
  std::string email_type;
  std::string utf8_literal;  // a text of exactly the bytes; %s stands for hex digits
  bool backslash_escapes;    // \' inside a literal is a quote, not its end
  std::string user_name;     // the connection's user name; empty: no users
};

const Dialect kDialects[] = {
    {"SQLite", "TEXT", "CAST(X'%s' AS TEXT)", false, ""},
    {"PostgreSQL", "VARCHAR(1000)", "convert_from(decode('%s', 'hex'), 'UTF8')", false,
     "CURRENT_USER"},
    {"MariaDB", "VARCHAR(1000) COLLATE utf8mb4_nopad_bin", "CONVERT(X'%s' USING utf8mb4)", true,
     "SUBSTRING_INDEX(CURRENT_USER(), '@', 1)"},
};

const Dialect* FindDialect(const std::string& dbms) {
  for (const Dialect& d : kDialects) {
    if (d.dbms == dbms) return &d;
  }
  return nullptr;
}

// ---------------------------------------------------------------- addresses

// What the program must make of an address.
struct Hostile {
  std::string name;
  std::string sent;   // the bytes after "<<< "; {orders} and {canary} name the tables
  std::string taken;  // the address the program must use; empty: refused
  bool exact = true;  // false: the address holds merge markers, so the
                      // recipient line itself is rewritten
};

Hostile Runs(std::string name, std::string address) {
  std::string taken = address;
  return {std::move(name), std::move(address), std::move(taken)};
}
Hostile Cut(std::string name, std::string sent, std::string taken) {
  return {std::move(name), std::move(sent), std::move(taken)};
}
Hostile Refused(std::string name, std::string sent) {
  return {std::move(name), std::move(sent), ""};
}
Hostile Rewrites(std::string name, std::string address) {
  Hostile h = Runs(std::move(name), std::move(address));
  h.exact = false;
  return h;
}

// A 999-character address (the longest taken) ending in payload.
std::string Padded(const std::string& payload, std::size_t length = 999) {
  return std::string(length - payload.size(), 'a') + payload;
}

std::vector<Hostile> Breakouts() {
  return {
      Runs("QuoteOrTrue", "' OR '1'='1"),
      Runs("QuoteOrTrueComment", "x' OR 1=1 -- "),
      Runs("ParenthesisedOr", "x') OR ('1'='1"),
      Runs("DoubledQuotes", "x'' OR 1=1 -- "),
      Runs("TripledQuotes", "x''' OR 1=1 -- "),
      Runs("OnlyQuotes", "''''''"),
      Runs("DashComment", "bob@example.com'-- "),
      Runs("HashComment", "bob@example.com'#"),
      Runs("BlockComment", "bob@example.com'/*"),
      Runs("CommentsAsBlanks", "x'/**/OR/**/'1'='1"),
      Runs("StackedDrop", "x'; DROP TABLE {canary}; -- "),
      Runs("StackedDelete", "x'; DELETE FROM {canary} WHERE '1'='1"),
      Runs("StackedInsert", "x'; INSERT INTO {canary} VALUES ('EVIL'); -- "),
      Runs("StackedUpdate", "x'; UPDATE {orders} SET email = 'x' WHERE '1'='1"),
      Runs("StackedWithoutQuote", "x; DROP TABLE {canary}"),
      Runs("UnionOrders", "x' UNION SELECT item, note FROM {orders} -- "),
      Runs("UnionCanary", "x' UNION ALL SELECT name, name FROM {canary} -- "),
      Runs("UnionBalanced",
           "x' UNION SELECT item, note FROM {orders} WHERE email = 'bob@example.com"),
      Runs("SubqueryCompare", "x' OR email = (SELECT MIN(email) FROM {orders}) OR 'a'='b"),
  };
}

// A decoder that trusts lead bytes without checking what follows would take
// the quote after them as part of one character, so the program's second
// quote would end the literal.
std::vector<Hostile> ByteTricks() {
  return {
      Runs("TwoByteLeadBeforeQuote", "\xC0' OR 1=1 -- "),
      Runs("ThreeByteLeadBeforeQuote", "\xE0x' OR 1=1 -- "),
      Runs("FourByteLeadBeforeQuote", "\xF0xx' OR 1=1 -- "),
      Runs("ContinuationBeforeQuote", "\xBF' OR 1=1 -- "),
      Runs("ControlBytes", "m\x01\x02\x1b[2J\x7f' OR 1=1 -- "),
      Runs("Tabs", "x'\tOR\t1=1\t-- "),
      Cut("NulEndsAddress", std::string("mallory@evil.example\0' OR '1'='1", 32),
          "mallory@evil.example"),
      Cut("CarriageReturnEndsAddress", "mallory@evil.example\r' OR '1'='1", "mallory@evil.example"),
      Cut("LineFeedEndsAddress", "mallory@evil.example\n' OR '1'='1", "mallory@evil.example"),
      Cut("SecondRecipientLine", "mallory@evil.example\r\n<<< bob@example.com",
          "mallory@evil.example"),
      Refused("NulFirst", std::string("\0' OR '1'='1", 12)),
  };
}

// A backslash escapes the quote after it inside MariaDB's literals, so the
// program refuses any address that holds one.
std::vector<Hostile> Backslashes() {
  return {
      Refused("BackslashQuote", "\\' OR 1=1 -- "),
      Refused("BackslashAtEnd", "x\\"),
      Refused("BackslashBeforeStacked", "\\'; DROP TABLE {canary}; -- "),
      Refused("BackslashOnly", "\\"),
  };
}

std::vector<Hostile> Lengths() {
  return {
      Runs("Longest999EndingInQuote", Padded("'")),
      Runs("Longest999WithPayload", Padded("' OR 1=1 -- ")),
      Runs("Quotes999", std::string(999, '\'')),
      Refused("TooLong1000WithPayload", Padded("' OR 1=1 -- ", 1000)),
      Refused("TooLong1000Quotes", std::string(1000, '\'')),
  };
}

std::vector<Hostile> LookAlikes() {
  return {
      Runs("PercentOnly", "%"),
      Runs("PercentWildcard", "%@example.com"),
      Runs("UnderscoreWildcard", "_ob@example.com"),
      Runs("LikeClause", "x' OR email LIKE '%"),
      Runs("RightSingleQuotationMark", "x\u2019 OR \u20191\u2019=\u20191"),
      Runs("ModifierLetterApostrophe", "x\u02bc OR 1=1 -- "),
      Runs("FullwidthApostrophe", "x\uff07 OR 1=1 -- "),
      Runs("AccentedNeighbour", "b\u00f3b@example.com"),
      Runs("UpperCaseNeighbour", "BOB@EXAMPLE.COM"),
      Runs("TrailingBlankNeighbour", "bob@example.com "),
      Runs("ParameterMarkers", "?' OR 1=1 -- ?"),
      Runs("OdbcEscape", "{fn concat('a','b')}' OR 1=1 -- "),
      Runs("DollarQuotes", "$$' OR 1=1 -- $$"),
      Runs("TokenInAddress", "%recipient%' OR 1=1 -- "),
      Rewrites("PlaceholderInAddress", "%%1%%' OR 1=1 -- "),
      Rewrites("RowMarkerInAddress", "%kelvorin%' OR 1=1 -- "),
  };
}

std::vector<Hostile> AllAddresses() {
  std::vector<Hostile> all;
  for (auto group : {Breakouts(), ByteTricks(), Backslashes(), Lengths(), LookAlikes()}) {
    all.insert(all.end(), group.begin(), group.end());
  }
  return all;
}

void PrintTo(const Hostile& h, std::ostream* os) {
  *os << h.name;
}
std::string CaseName(const ::testing::TestParamInfo<Hostile>& info) {
  return info.param.name;
}

// ---------------------------------------------------------------- the tally

// Figures for the whole run, printed when it ends.
struct Tally {
  std::string dsn;
  int tried = 0, refused = 0, merged = 0, failed = 0;  // the runs, by their logs
  int rows_leaked = 0, canary_intact = 0;
  int live_when_careless = -1;  // -1: not measured
};
Tally g_tally;

class TallyPrinter : public ::testing::Environment {
 public:
  void TearDown() override {
    const Tally& t = g_tally;
    std::cout << "hostile recipients on " << t.dsn << ": " << t.tried << " addresses tried, "
              << t.refused << " refused, " << t.merged << " merged, " << t.failed
              << " failed after the query; " << t.rows_leaked
              << " rows leaked; canary intact after " << t.canary_intact << " of " << t.tried
              << "; " << t.live_when_careless << " of them live against careless quoting\n";
  }
};

// ---------------------------------------------------------------- the fixture

const std::string kBody = "%kelvorin%\r\n[%%1%%|%%2%%]\r\n%kelvorin%\r\nfirst: %%1%%\r\n";
const std::string kOwnMerged = "[OWN-ROW|own]\r\nfirst: OWN-ROW\r\n";
const std::string kQueryText =
    "SELECT item, note FROM {orders} WHERE email = '%recipient%' ORDER BY item";
// Values no address holds: any of them in a message is a leaked row.
const std::vector<std::string> kForeignValues = {
    "LEAK-BOB-1", "LEAK-BOB-2", "LEAK-CAROL-1", "LEAK-EMPTY-1", "CANARY-1", "CANARY-2", "CANARY-3"};
const std::vector<std::string> kCanaryRows = {"CANARY-1", "CANARY-2", "CANARY-3"};
// engines.sh's database user. The INI names it: MariaDB's driver takes an
// empty Username as given instead of the data source's.
const char kDbUser[] = "kelvorin";

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// The first %recipient% replaced, quotes doubled or (careless) left single.
std::string Substituted(std::string query, const std::string& recipient, bool double_quotes) {
  const std::string quoted = double_quotes ? Replaced(recipient, "'", "''") : recipient;
  return query.replace(query.find("%recipient%"), 11, quoted);
}

int CountForeign(const std::string& text) {
  int found = 0;
  for (const std::string& v : kForeignValues) found += text.find(v) != std::string::npos;
  return found;
}

class HostileBase : public SourceTest {
 protected:
  void SetUp() override {
    SourceTest::SetUp();
    g_tally.dsn = dsn_;  // named in the tally even when it cannot be reached
    if (HasFatalFailure()) return;
    dialect_ = FindDialect(db_.DbmsName());
    ASSERT_NE(dialect_, nullptr) << "no dialect for DBMS " << db_.DbmsName();
    // Per process, so runs on one database at once (ctest -j) stay apart.
    const std::string prefix = "k" + std::to_string(getpid());
    orders_ = prefix + "_orders";
    canary_ = prefix + "_canary";
    DropTables();
    ASSERT_NO_FATAL_FAILURE(CreateTables());
  }

  void TearDown() override {
    if (dialect_ != nullptr) DropTables();
    SourceTest::TearDown();
  }

  void DropTables() {
    db_.Execute("DROP TABLE IF EXISTS " + orders_);
    db_.Execute("DROP TABLE IF EXISTS " + canary_);
  }

  void Execute(const std::string& sql) { ASSERT_EQ(db_.Execute(sql), "") << sql; }

  void CreateTables() {
    Execute("CREATE TABLE " + orders_ + " (email " + dialect_->email_type +
            ", item VARCHAR(40), note VARCHAR(40))");
    Execute("INSERT INTO " + orders_ +
            " VALUES ('bob@example.com', 'LEAK-BOB-1', 'bob'), "
            "('bob@example.com', 'LEAK-BOB-2', 'bob'), "
            "('o''carol@example.com', 'LEAK-CAROL-1', 'carol'), ('', 'LEAK-EMPTY-1', 'empty')");
    Execute("CREATE TABLE " + canary_ + " (name VARCHAR(40))");
    Execute("INSERT INTO " + canary_ + " VALUES ('CANARY-1'), ('CANARY-2'), ('CANARY-3')");
  }

  // The attacker's own row, written without quoting. False when the engine
  // refuses the bytes (not UTF-8, say): then no run can merge it.
  bool StoreOwnRow(const std::string& address) {
    std::string literal = dialect_->utf8_literal;
    literal.replace(literal.find("%s"), 2, Hex(address));
    return db_.Execute("INSERT INTO " + orders_ + " VALUES (" + literal + ", 'OWN-ROW', 'own')") ==
           "";
  }

  std::string Fill(const std::string& text) const {
    return Replaced(Replaced(text, "{orders}", orders_), "{canary}", canary_);
  }

  std::string Ini() const {
    return "[Database]\r\nSource=" + dsn_ + "\r\nUsername=" + kDbUser + "\r\nPassword=" + kDbUser +
           "\r\nRequest=" + kQuery + "\r\n";
  }

  // Both tables as the setup left them (the own row, if stored, included).
  bool TablesIntact(bool own_stored) {
    std::vector<std::string> orders = {"LEAK-BOB-1|bob", "LEAK-BOB-2|bob", "LEAK-CAROL-1|carol",
                                       "LEAK-EMPTY-1|empty"};
    if (own_stored) orders.push_back("OWN-ROW|own");
    return db_.Rows("SELECT name FROM " + canary_ + " ORDER BY name") == kCanaryRows &&
           db_.Rows("SELECT item, note FROM " + orders_ + " ORDER BY item") == orders;
  }

  // Whether query, run on the test's own connection, returns foreign rows or
  // changes a table.
  bool BreaksOut(const std::string& query, bool own_stored) {
    int leaked = 0;
    for (const std::string& row : db_.Rows(query).value_or(std::vector<std::string>{})) {
      leaked += CountForeign(row);
    }
    return leaked > 0 || !TablesIntact(own_stored);
  }

  std::string orders_, canary_;
  const Dialect* dialect_ = nullptr;
};

class HostileTest : public HostileBase, public ::testing::WithParamInterface<Hostile> {};

// ---------------------------------------------------------------- checks

const std::string kRecipientError = "ERROR: can't extract recipient email from message";
const std::string kNoData = "ERROR: no data was retrived";

// The query line is logged only up to 2000 characters.
std::vector<std::string> QueryHead(const std::string& query) {
  std::vector<std::string> head = {kProcessLine};
  if (query.size() <= 2000) head.push_back(query);
  return head;
}

bool StartsWith(const std::vector<std::string>& entries, const std::vector<std::string>& head) {
  return entries.size() >= head.size() && std::equal(head.begin(), head.end(), entries.begin());
}

// A run that gave up: its error lines (no rows, or the driver's diagnostics)
// between the query and the deletion.
void ExpectCleanFailure(const std::vector<std::string>& entries,
                        const std::vector<std::string>& head) {
  if (entries.size() == head.size() + 2 && entries[head.size()] == kNoData) {
    EXPECT_TRUE(StartsWith(entries, head)) << ::testing::PrintToString(entries);
    EXPECT_EQ(entries.back(), kDeletedLine);
    return;
  }
  ExpectLogAroundDiagnostics(entries, head, {kDeletedLine});
}

// What the run did, as its log tells.
void Count(const std::vector<std::string>& entries) {
  if (std::find(entries.begin(), entries.end(), kRecipientError) != entries.end()) {
    ++g_tally.refused;
  } else if (!entries.empty() && entries.back() == "Complete!") {
    ++g_tally.merged;
  } else {
    ++g_tally.failed;
  }
}

// A run that merged: the own row in the message and nothing more.
void ExpectMerged(const Hostile& h, const std::string& head, const std::string& message) {
  if (h.exact) {
    EXPECT_EQ(message, head + kOwnMerged);
  } else {
    EXPECT_NE(message.find("OWN-ROW"), std::string::npos) << message;
  }
}

// A NUL byte ends the text for the program, and with it the address; a
// program that refused such messages outright would do as well. Either way
// no query may see what follows the NUL, and the run ends properly.
void ExpectNulOutcome(const std::string& taken, const std::string& query,
                      const std::vector<std::string>& entries) {
  for (const std::string& e : entries) {
    if (e.rfind("SELECT", 0) != 0) continue;
    EXPECT_FALSE(taken.empty()) << "a query ran without an address: " << e;
    EXPECT_EQ(e, Substituted(query, taken, true));
  }
  ASSERT_FALSE(entries.empty());
  const std::string& last = entries.back();
  EXPECT_TRUE(last == "Complete!" || last == kDeletedLine || last.rfind("ERROR: ", 0) == 0)
      << ::testing::PrintToString(entries);
}

// What the run must have done with the address, judged by its log and
// message: refused it, merged the own row, or (when the engine holds no such
// address) given up cleanly rather than guessed.
void ExpectOutcome(const Hostile& h, const std::string& taken, bool own_stored,
                   const std::string& query, const std::string& head,
                   const std::vector<std::string>& entries,
                   const std::optional<std::string>& message) {
  if (h.sent.find('\0') != std::string::npos) return ExpectNulOutcome(taken, query, entries);
  if (taken.empty()) {
    EXPECT_EQ(entries, (std::vector<std::string>{kProcessLine, kRecipientError, kDeletedLine}));
    EXPECT_FALSE(message) << "message not deleted";
    return;
  }
  std::vector<std::string> expected_log = QueryHead(Substituted(query, taken, true));
  if (!own_stored) {
    ExpectCleanFailure(entries, expected_log);
    EXPECT_FALSE(message) << "message not deleted";
    return;
  }
  if (!h.exact) {  // the merge would rewrite the recipient line: refused
    expected_log.insert(expected_log.end(), {"SQL OK (2)",
                                             "ERROR: recipient line changed by the merge",
                                             kDeletedLine});
    EXPECT_EQ(entries, expected_log);
    EXPECT_FALSE(message) << "message not deleted";
    return;
  }
  expected_log.insert(expected_log.end(), {"SQL OK (2)", "Complete!"});
  EXPECT_EQ(entries, expected_log);
  ASSERT_TRUE(message) << "message deleted";
  ExpectMerged(h, head, *message);
}

TEST_P(HostileTest, MergesOnlyOwnRowsAndLeavesTablesAlone) {
  const Hostile& h = GetParam();
  const std::string sent = Fill(h.sent), taken = Fill(h.taken);
  const bool own_stored = !taken.empty() && StoreOwnRow(taken);
  const std::string query = Fill(kQueryText);
  Put(kIni, Ini());
  Put(kQuery, query);
  const std::string head = "Subject: Your orders\r\n<<< " + sent + "\r\n";
  Put(kMessage, head + kBody);
  ASSERT_NO_FATAL_FAILURE(Run({kMessage}));

  std::optional<std::string> message;  // nullopt: deleted
  if (fs::exists(Path(kMessage))) message = ReadBytes(Path(kMessage));
  const int leaked = CountForeign(message.value_or(""));
  const bool intact = TablesIntact(own_stored);
  ++g_tally.tried;
  g_tally.rows_leaked += leaked;
  g_tally.canary_intact += intact;
  EXPECT_EQ(leaked, 0) << "foreign rows in the message:\n" << message.value_or("");
  EXPECT_TRUE(intact) << "the tables changed";
  const std::vector<std::string> entries = LogEntries();
  Count(entries);
  ExpectOutcome(h, taken, own_stored, query, head, entries, message);
}

INSTANTIATE_TEST_SUITE_P(Addresses, HostileTest, ::testing::ValuesIn(AllAddresses()), CaseName);

// Every address put in carelessly on the test's own connection: quotes left
// single, and (for the addresses the program refuses) quotes doubled but the
// backslash let through. The attacks that then get out show that the checks
// above can see a breakout, and that refusing backslashes is needed where the
// engine reads them as escapes.
TEST_F(HostileBase, AttacksAreLiveAgainstCarelessQuoting) {
  std::set<std::string> live;
  for (const Hostile& h : AllAddresses()) {
    std::string address = Fill(h.sent);
    address = address.substr(0, address.find_first_of(std::string("\r\n\0", 3)));
    if (address.empty()) continue;
    DropTables();
    ASSERT_NO_FATAL_FAILURE(CreateTables());
    const bool own_stored = StoreOwnRow(address);
    const bool doubled = h.taken.empty();
    if (BreaksOut(Substituted(Fill(kQueryText), address, doubled), own_stored)) {
      live.insert(h.name);
    }
  }
  g_tally.live_when_careless = static_cast<int>(live.size());
  std::cout << "live against careless quoting: " << ::testing::PrintToString(live) << "\n";
  for (const char* name : {"QuoteOrTrueComment", "UnionOrders", "UnionCanary"}) {
    EXPECT_EQ(live.count(name), 1u) << name << " should leak rows when quotes stay single";
  }
  EXPECT_EQ(live.count("BackslashQuote"), dialect_->backslash_escapes ? 1u : 0u)
      << "the backslash breaks out only where it escapes inside literals";
}

// ---------------------------------------------------------------- credentials

// With no Username in the INI, the run must connect as the data source's
// user, as the test's own connection does. Given an empty name, MariaDB's
// driver would connect as the login name of the process instead: as the
// database's root when the host runs as root.
TEST_F(HostileBase, EmptyUsernameKeepsTheDataSourcesUser) {
  if (dialect_->user_name.empty()) GTEST_SKIP() << dialect_->dbms << " has no users";
  const auto own = db_.Rows("SELECT " + dialect_->user_name);
  ASSERT_TRUE(own && own->size() == 1u);
  Put(kIni, "[Database]\r\nSource=" + dsn_ + "\r\nRequest=" + kQuery + "\r\n");
  Put(kQuery, "SELECT " + dialect_->user_name);
  Put(kMessage, "Subject: Who\r\n<<< ann@example.com\r\n[%%1%%]\r\n");
  ASSERT_NO_FATAL_FAILURE(Run({kMessage}));
  EXPECT_EQ(ReadBytes(Path(kMessage)),
            "Subject: Who\r\n<<< ann@example.com\r\n[" + own->front() + "]\r\n")
      << ::testing::PrintToString(LogEntries());
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new TallyPrinter);
  return RUN_ALL_TESTS();
}
