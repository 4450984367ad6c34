// The tests' own ODBC connection: it lays out the tables the program is to
// read and afterwards reads back what the program may have touched. It goes
// through the same driver manager and drivers as the program, so what it
// finds is what the program's statements did.
#ifndef KELVORIN_TESTS_E2E_ODBC_CLIENT_H_
#define KELVORIN_TESTS_E2E_ODBC_CLIENT_H_

#include <sql.h>
#include <sqlext.h>

#include <optional>
#include <string>
#include <vector>

#include "harness.h"

namespace e2e {

// "4142" for "AB": bytes the test writes into SQL without any quoting.
std::string Hex(const std::string& bytes);

class Database {
 public:
  Database() = default;
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;
  ~Database();

  // To the data source dsn. Empty on success, else the driver's diagnostics.
  std::string Connect(const std::string& dsn);
  // With a whole connection string ("DRIVER=...;Database=..."), for a
  // database that no odbc.ini names. Empty on success, else the diagnostics.
  std::string ConnectWith(const std::string& connection_string);
  std::string DbmsName();

  // Runs sql, draining every result it gives (so that statements after a
  // first one run too, on drivers that run them one result at a time).
  // Empty on success, else the driver's diagnostics.
  std::string Execute(const std::string& sql);

  // The rows of every result of sql, columns joined by '|', NULL as
  // "<null>"; nullopt, with the diagnostics in *error, when it fails.
  std::optional<std::vector<std::string>> Rows(const std::string& sql,
                                               std::string* error = nullptr);

  // The first column of the first row of sql; nullopt when it fails, gives
  // no row, or the value is NULL (so NULL is never mistaken for a text).
  std::optional<std::string> Value(const std::string& sql);

 private:
  SQLHENV environment_ = SQL_NULL_HENV;
  SQLHDBC connection_ = SQL_NULL_HDBC;
};

// A fresh program folder (see E2e) and db_ connected to the data source that
// KELVORIN_DSN names, for the tests that run against the engines of
// engines.sh.
class SourceTest : public E2e {
 protected:
  void SetUp() override;

  std::string dsn_;
  Database db_;
};

}  // namespace e2e

#endif  // KELVORIN_TESTS_E2E_ODBC_CLIENT_H_
