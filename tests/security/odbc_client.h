// The security tests' own ODBC connection: it lays out the tables the
// program is to read and afterwards reads back what the program may have
// touched. It goes through the same driver as the program, so what it finds
// is what the program's statements did.
#ifndef KELVORIN_TESTS_SECURITY_ODBC_CLIENT_H_
#define KELVORIN_TESTS_SECURITY_ODBC_CLIENT_H_

#include <sql.h>
#include <sqlext.h>

#include <optional>
#include <string>
#include <vector>

namespace security {

// "4142" for "AB": bytes the test writes into SQL without any quoting.
std::string Hex(const std::string& bytes);

class Database {
 public:
  Database() = default;
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;
  ~Database();

  // Empty on success, else the driver's diagnostics.
  std::string Connect(const std::string& dsn);
  std::string DbmsName();

  // Runs sql, draining every result it gives (so that statements after a
  // first one run too, on drivers that run them one result at a time).
  // Empty on success, else the driver's diagnostics.
  std::string Execute(const std::string& sql);

  // The rows of every result of sql, columns joined by '|', NULL as
  // "<null>"; nullopt, with the diagnostics in *error, when it fails.
  std::optional<std::vector<std::string>> Rows(const std::string& sql,
                                               std::string* error = nullptr);

 private:
  SQLHENV environment_ = SQL_NULL_HENV;
  SQLHDBC connection_ = SQL_NULL_HDBC;
};

}  // namespace security

#endif  // KELVORIN_TESTS_SECURITY_ODBC_CLIENT_H_
