#include "result_fetch.h"

#include <gtest/gtest.h>

namespace {

// Areas hold the longest value a column can give: integers in 64 bits, UTF-8
// characters of up to four bytes, a NUMERIC's sign and point, and the NUL;
// never past 64 KiB.
TEST(DataAreaSizeTest, FitsTheLongestValueOfTheColumn) {
  struct Case {
    SQLSMALLINT type;
    SQLULEN size;
    SQLLEN display;
    SQLULEN area;
  };
  const SQLULEN kHuge = ~static_cast<SQLULEN>(0);
  const Case cases[] = {
      {SQL_INTEGER, 10, 0, 8},
      {SQL_SMALLINT, 5, 0, 8},
      {SQL_TINYINT, 3, 0, 8},
      {SQL_BIT, 1, 0, 8},
      {SQL_DOUBLE, 15, 0, 8},
      {SQL_FLOAT, 15, 0, 8},
      {SQL_REAL, 7, 0, 8},
      {SQL_VARCHAR, 10, 0, 44},
      {SQL_VARCHAR, 12, 0, 52},
      {SQL_CHAR, 1, 0, 8},
      {SQL_VARCHAR, 16383, 0, 65536},
      {SQL_VARCHAR, 16384, 0, 65536},
      {SQL_VARCHAR, kHuge, 0, 65536},
      {SQL_VARCHAR, 0, 0, 65536},  // size unknown
      {SQL_NUMERIC, 10, 0, 16},    // -0.1234567890
      {SQL_DECIMAL, 1, 0, 8},      // -0.5
      {SQL_BIGINT, 19, 20, 24},
      {SQL_TYPE_DATE, 10, 10, 12},
      {SQL_TYPE_TIMESTAMP, 19, 19, 20},
      {SQL_WVARCHAR, 10, 10, 44},
      {SQL_LONGVARCHAR, 8190, 8190, 32764},
      {SQL_LONGVARCHAR, 0, 0, 65536},
      {SQL_LONGVARBINARY, 0, -1, 65536},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(kelvorin::DataAreaSize(c.type, c.size, c.display), c.area)
        << "type " << c.type << " size " << c.size << " display " << c.display;
  }
}

}  // namespace
