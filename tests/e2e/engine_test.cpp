// Engine tests: the built program runs against a real database through a real
// ODBC driver. The test bodies know no engine; a small table of dialects (the
// type names and such that differ) is picked by the DBMS name the driver
// reports. The fixture lays out schema and data over its own ODBC connection,
// runs the program once with an INI naming the same data source, and checks
// the message and the log it leaves.
//
//   KELVORIN_DSN      the data source (tests/e2e/engines.sh makes four)
//   ODBCINI           the odbc.ini that defines it
//   KELVORIN_PROGRAM  the program, KELVORIN_RUNNER its runner (see harness.h)
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"
#include "odbc_client.h"

namespace {

using namespace e2e;

// ---------------------------------------------------------------- dialects

// What differs between engines. Case SQL names it as {double}, {timestamp},
// {utf8:HEX} (a text of exactly those UTF-8 bytes, whatever conversions the
// driver applies to statement text) and {t}, the case's table.
struct Dialect {
  std::string dbms;  // as SQLGetInfo(SQL_DBMS_NAME) reports it
  std::string double_type;
  std::string timestamp_type;
  std::string utf8_literal;  // an expression in which %s stands for the hex digits
  bool integer_is_64_bit;    // an INTEGER column holds any 64-bit value
  bool checks_users;         // refuses a user name it does not know
  // MariaDB's default sql_mode reads || as OR, and it shows a timestamp with
  // as many fraction digits as the column has (21:05:03.0 in a DATETIME(1)).
  bool pipes_concatenate;  // || joins texts
  bool trims_fractions;    // a timestamp shows no trailing zero fraction digits
};

const Dialect kDialects[] = {
    {"SQLite", "DOUBLE", "DATETIME", "CAST(X'%s' AS TEXT)", true, false, true, true},
    {"PostgreSQL", "DOUBLE PRECISION", "TIMESTAMP", "convert_from(decode('%s', 'hex'), 'UTF8')",
     false, true, true, true},
    {"MariaDB", "DOUBLE", "DATETIME(1)", "CONVERT(X'%s' USING utf8mb4)", false, true, false, false},
};

bool SixtyFourBitIntegers(const Dialect& d) {
  return d.integer_is_64_bit;
}
bool ChecksUsers(const Dialect& d) {
  return d.checks_users;
}
bool PipesConcatenate(const Dialect& d) {
  return d.pipes_concatenate;
}
bool NoPipes(const Dialect& d) {
  return !d.pipes_concatenate;
}
bool TrimsFractions(const Dialect& d) {
  return d.trims_fractions;
}
bool FixedFractions(const Dialect& d) {
  return !d.trims_fractions;
}

std::string Utf8(const std::string& bytes) {
  return "{utf8:" + Hex(bytes) + "}";
}

// ---------------------------------------------------------------- cases

// Stands in a case's log for one or more diagnostic records.
const std::string kDiagnostics = "<diagnostic records>";
const std::string kComplete = "Complete!";

// One run of the program on a message to recipient, after setup.
struct EngineCase {
  std::string name;
  std::vector<std::string> setup;     // statements, in dialect terms
  std::string query;                  // the query file, in dialect terms
  std::string body;                   // the message after its recipient line
  std::vector<std::string> log;       // the entries after the query's
  std::optional<std::string> merged;  // body after the run; nullopt: message deleted
  std::string recipient = "ann@example.com";
  std::string headers = "Subject: Your orders\r\n";
  std::string ini_extra = "";  // more [Database] lines
  bool (*applies)(const Dialect&) = nullptr;
};

void PrintTo(const EngineCase& c, std::ostream* os) {
  *os << c.name;
}
std::string CaseName(const ::testing::TestParamInfo<EngineCase>& info) {
  return info.param.name;
}

// One column type: each value, in a row of its own after a NULL row, must
// merge as its text; the brackets show that blanks around a value are gone.
struct ValueCase {
  std::string name;
  std::string type;
  std::vector<std::pair<std::string, std::string>> values;  // SQL literal, merged text
  std::string select = "v";                                 // the result column
  bool (*applies)(const Dialect&) = nullptr;
};

EngineCase FromValues(const ValueCase& v) {
  std::string rows = "(0, NULL)", merged = "[<null>]\r\n";
  for (std::size_t i = 0; i < v.values.size(); ++i) {
    rows += ", (" + std::to_string(i + 1) + ", " + v.values[i].first + ")";
    merged += "[" + v.values[i].second + "]\r\n";
  }
  EngineCase c{v.name,
               {"CREATE TABLE {t} (k INTEGER, v " + v.type + ")", "INSERT INTO {t} VALUES " + rows},
               "SELECT " + v.select + " FROM {t} ORDER BY k",
               "%kelvorin%\r\n[%%1%%]\r\n%kelvorin%\r\n",
               {"SQL OK (1)", kComplete},
               merged};
  c.applies = v.applies;
  return c;
}

// 319 characters of text, some of them two bytes long.
std::string LongText() {
  std::string text = "Grüße aus Köln.";
  for (int i = 1; i < 20; ++i) text += " Grüße aus Köln.";
  return text;
}

std::vector<ValueCase> ValueCases() {
  const std::string umlauts = "ÄÖÜäöüßéèê";  // ten characters of two bytes
  const std::string emoji = "😀😁😂🤣😃😄😅😆😉😊";  // ten of four bytes
  return {
      {"Integer",
       "INTEGER",
       {{"-5", "-5"}, {"0", "0"}, {"2147483647", "2147483647"}, {"-2147483648", "-2147483648"}}},
      {"SmallInt", "SMALLINT", {{"-32768", "-32768"}, {"32767", "32767"}}},
      // SQLite's INTEGER is 64 bits wide whatever the column says.
      {"IntegerBeyond32Bits",
       "INTEGER",
       {{"3000000000", "3000000000"}, {"-4294967297", "-4294967297"}},
       "v",
       SixtyFourBitIntegers},
      {"BigInt",
       "BIGINT",
       {{"9223372036854775807", "9223372036854775807"},
        {"-9223372036854775807", "-9223372036854775807"}}},
      {"Double", "{double}", {{"2.5", "2.50"}, {"1.0 / 3", "0.33"}, {"-12.5", "-12.50"}}},
      {"Real", "REAL", {{"2.5", "2.50"}, {"-1000000", "-1000000.00"}}},
      {"Numeric",
       "NUMERIC(10,2)",
       {{"-12345678.90", "-12345678.90"}, {"99999999.99", "99999999.99"}, {"0.5", "0.50"}}},
      {"TwoByteUtf8", "VARCHAR(10)", {{Utf8(umlauts), umlauts}}},
      {"FourByteUtf8", "VARCHAR(10)", {{Utf8(emoji), emoji}}},
      {"LongText", "TEXT", {{Utf8(LongText()), LongText()}}},
      {"Date", "DATE", {{"'2026-12-06'", "2026-12-06"}, {"'2000-02-29'", "2000-02-29"}}},
      {"Timestamp",
       "{timestamp}",
       {{"'2026-12-06 21:05:03'", "2026-12-06 21:05:03"},
        {"'2000-02-29 00:00:00.5'", "2000-02-29 00:00:00.5"}},
       "v",
       TrimsFractions},
      {"TimestampFixedFraction",
       "{timestamp}",
       {{"'2026-12-06 21:05:03'", "2026-12-06 21:05:03.0"},
        {"'2000-02-29 00:00:00.5'", "2000-02-29 00:00:00.5"}},
       "v",
       FixedFractions},
      {"BlanksTrimmed", "CHAR(8)", {{"'ab'", "ab"}, {"' \tcd'", "cd"}}},
      {"ArithmeticExpression", "INTEGER", {{"5", "10"}, {"-7", "-14"}}, "v * 2"},
      {"ConcatenatedExpression", "INTEGER", {{"5", "No. 5"}}, "'No. ' || v", PipesConcatenate},
      {"ConcatenatedByFunction", "INTEGER", {{"5", "No. 5"}}, "CONCAT('No. ', v)", NoPipes},
  };
}

const std::string kOrders = "CREATE TABLE {t} (email VARCHAR(60), order_no INTEGER, item TEXT)";
const std::string kItemsQuery = "SELECT item FROM {t} WHERE email = '%recipient%' ORDER BY item";
const std::string kItemsBody = "%kelvorin%\r\n%%1%%\r\n%kelvorin%\r\n";

// A run the program must give up, deleting the message.
EngineCase Failing(std::string name, std::vector<std::string> setup, std::string query,
                   std::string error) {
  return {std::move(name),
          std::move(setup),
          std::move(query),
          kItemsBody,
          {std::move(error), kDeletedLine},
          std::nullopt};
}

EngineCase UnknownUser() {
  EngineCase c = Failing("UnknownUser", {kOrders}, kItemsQuery, kDiagnostics);
  c.ini_extra = "Username=nobody\r\nPassword=wrong\r\n";
  c.applies = ChecksUsers;
  return c;
}

EngineCase ManyRows() {
  std::string numbers;
  for (int n = 1; n <= 5000; ++n) numbers += std::to_string(n) + "\r\n";
  return {"Rows6000FirstFiveThousandMerged",
          {"CREATE TABLE {t} (n INTEGER)",
           "INSERT INTO {t} (n) WITH RECURSIVE c(n) AS "
           "(SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 6000) SELECT n FROM c"},
          "SELECT n FROM {t} ORDER BY n",
          kItemsBody,
          {"SQL OK (1)", kComplete},
          numbers};
}

EngineCase ManyColumns() {
  std::string columns, values;
  for (int i = 1; i <= 70; ++i) {
    columns += (i > 1 ? ", c" : "c") + std::to_string(i) + " INTEGER";
    values += (i > 1 ? ", " : "") + std::to_string(i);
  }
  return {"Columns70BeyondSixtyFourEmpty",
          {"CREATE TABLE {t} (" + columns + ")", "INSERT INTO {t} VALUES (" + values + ")"},
          "SELECT * FROM {t}",
          "%%1%% %%64%% [%%65%%] [%%70%%]\r\n",
          {"SQL OK (70)", kComplete},
          std::string("1 64 [] []\r\n")};
}

// o'brien must get his own rows: the quote neither ends the literal early nor
// lets a neighbour's address match.
EngineCase Apostrophe() {
  EngineCase c{"RecipientWithApostrophe",
               {kOrders,
                "INSERT INTO {t} VALUES ('o''brien@example.com', 1, 'Tea'), "
                "('o''brien@example.com', 2, 'Milk'), ('brien@example.com', 3, 'Salt'),"
                " ('o@example.com', 4, 'Rice')"},
               kItemsQuery,
               kItemsBody,
               {"SQL OK (1)", kComplete},
               std::string("Milk\r\nTea\r\n")};
  c.recipient = "o'brien@example.com";
  return c;
}

EngineCase RealisticMessage() {
  EngineCase c{
      "RealisticMessage",
      {kOrders, "INSERT INTO {t} VALUES ('ann@example.com', 1001, " + Utf8("Grüner Tee, 250 g") +
                    "), ('ann@example.com', 1003, 'Honey'), ('bob@example.com', 2001, 'Coffee'),"
                    " ('ann@example.com', 1002, 'Teapot')"},
      "SELECT order_no, item FROM {t}\r\nWHERE email = '%recipient%'\r\nORDER BY order_no DESC",
      "\r\nDear customer,\r\n\r\nthank you for your orders:\r\n%kelvorin%\r\n"
      "  No. %%1%%  %%2%%\r\n%kelvorin%\r\nYour latest order is No. %%1%%.\r\n\r\n"
      "Kind regards\r\nThe Tea Shop\r\n",
      {"SQL OK (2)", kComplete},
      std::string("\r\nDear customer,\r\n\r\nthank you for your orders:\r\n"
                  "  No. 1003  Honey\r\n  No. 1002  Teapot\r\n  No. 1001  Grüner Tee, 250 g\r\n"
                  "Your latest order is No. 1003.\r\n\r\nKind regards\r\nThe Tea Shop\r\n")};
  c.headers =
      "From: Tea Shop <shop@example.com>\r\nTo: ann@example.com\r\nSubject: Your orders\r\n";
  return c;
}

std::vector<EngineCase> RunCases() {
  return {
      Failing("NoRows", {kOrders, "INSERT INTO {t} VALUES ('bob@example.com', 1, 'Tea')"},
              kItemsQuery, "ERROR: no data was retrived"),
      Failing("UpdateHasNoResult", {kOrders},
              "UPDATE {t} SET item = 'x' WHERE email = '%recipient%'",
              "ERROR: SQL statement error, no coluns was retrived."),
      Failing("SyntaxError", {kOrders}, "SELEC item FROM {t}", kDiagnostics),
      UnknownUser(),
      ManyRows(),
      ManyColumns(),
      Apostrophe(),
      RealisticMessage(),
  };
}

std::vector<EngineCase> ValueRunCases() {
  std::vector<EngineCase> cases;
  for (const ValueCase& v : ValueCases()) cases.push_back(FromValues(v));
  return cases;
}

// ---------------------------------------------------------------- the fixture

const Dialect* FindDialect(const std::string& dbms) {
  for (const Dialect& d : kDialects) {
    if (d.dbms == dbms) return &d;
  }
  return nullptr;
}

// The first %recipient% replaced as the program must: quotes doubled.
std::string Substituted(std::string query, const std::string& recipient) {
  std::string quoted;
  for (char ch : recipient) quoted += ch == '\'' ? "''" : std::string(1, ch);
  const std::size_t at = query.find("%recipient%");
  return at == std::string::npos ? query : query.replace(at, 11, quoted);
}

class EngineTest : public SourceTest, public ::testing::WithParamInterface<EngineCase> {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(SourceTest::SetUp());
    dialect_ = FindDialect(db_.DbmsName());
    ASSERT_NE(dialect_, nullptr) << "no dialect for DBMS " << db_.DbmsName();
    // Per process, so runs on one database at once (ctest -j) stay apart.
    table_ = "k" + std::to_string(getpid()) + "_t";
    db_.Execute("DROP TABLE IF EXISTS " + table_);
  }

  void TearDown() override {
    if (dialect_ != nullptr) db_.Execute("DROP TABLE IF EXISTS " + table_);
    SourceTest::TearDown();
  }

  std::string Fill(const std::string& key) const {
    if (key == "t") return table_;
    if (key == "double") return dialect_->double_type;
    if (key == "timestamp") return dialect_->timestamp_type;
    if (key.rfind("utf8:", 0) == 0) {
      std::string literal = dialect_->utf8_literal;
      return literal.replace(literal.find("%s"), 2, key.substr(5));
    }
    ADD_FAILURE() << "unknown {" << key << "}";
    return key;
  }

  // sql with every {key} filled in for this engine.
  std::string Expand(const std::string& sql) const {
    std::string out;
    std::size_t from = 0;
    for (std::size_t open, close; (open = sql.find('{', from)) != std::string::npos &&
                                  (close = sql.find('}', open)) != std::string::npos;
         from = close + 1) {
      out += sql.substr(from, open - from) + Fill(sql.substr(open + 1, close - open - 1));
    }
    return out + sql.substr(from);
  }

  void Execute(const std::string& sql) { ASSERT_EQ(db_.Execute(Expand(sql)), "") << sql; }

  // DeleteOnErrors and SkipSpaces keep their defaults (on).
  std::string Ini(const std::string& extra) const {
    return "[Database]\r\nSource=" + dsn_ + "\r\n" + extra + "Request=" + kQuery + "\r\n";
  }

  void ExpectLog(const EngineCase& c) const {
    std::vector<std::string> head = {kProcessLine, Substituted(Expand(c.query), c.recipient)};
    if (!c.log.empty() && c.log[0] == kDiagnostics) {
      ExpectLogAroundDiagnostics(LogEntries(), head, {c.log.begin() + 1, c.log.end()});
    } else {
      head.insert(head.end(), c.log.begin(), c.log.end());
      EXPECT_EQ(LogEntries(), head);
    }
  }

  const Dialect* dialect_ = nullptr;
  std::string table_;
};

TEST_P(EngineTest, LeavesExpectedMessageAndLog) {
  const EngineCase& c = GetParam();
  if (c.applies != nullptr && !c.applies(*dialect_)) GTEST_SKIP() << "not on " << dialect_->dbms;
  for (const std::string& sql : c.setup) ASSERT_NO_FATAL_FAILURE(Execute(sql));
  Put(kIni, Ini(c.ini_extra));
  Put(kQuery, Expand(c.query));
  const std::string head = c.headers + "<<< " + c.recipient + "\r\n";
  Put(kMessage, head + c.body);
  ASSERT_NO_FATAL_FAILURE(Run({kMessage}));
  ExpectLog(c);
  if (c.merged) {
    ExpectSameBytes(ReadBytes(Path(kMessage)), head + *c.merged);
  } else {
    EXPECT_FALSE(fs::exists(Path(kMessage))) << "message not deleted";
  }
}

INSTANTIATE_TEST_SUITE_P(Values, EngineTest, ::testing::ValuesIn(ValueRunCases()), CaseName);
INSTANTIATE_TEST_SUITE_P(Runs, EngineTest, ::testing::ValuesIn(RunCases()), CaseName);

}  // namespace
