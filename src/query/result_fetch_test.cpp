#include "result_fetch.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The longest text of a NUMERIC(p, s) value is its sign, a zero or the
// integer digits, the point and the fraction digits (-0.12345 for (5, 5)):
// every one must fit its area with the NUL, or the driver cuts it.
TEST(DataAreaSizeTest, EveryNumericValueFitsItsArea) {
  for (SQLULEN precision = 1; precision <= 40; ++precision) {
    for (SQLULEN scale = 0; scale <= precision; ++scale) {
      std::string longest = "-" + std::string(precision == scale ? 1 : precision - scale, '9');
      if (scale > 0) longest += "." + std::string(scale, '9');
      for (SQLSMALLINT type : {SQL_NUMERIC, SQL_DECIMAL}) {
        EXPECT_GT(kelvorin::DataAreaSize(type, precision, 0), longest.size())
            << precision << "," << scale;
      }
    }
  }
}

}  // namespace
