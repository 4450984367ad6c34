#include "result_fetch.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

// The longest text of NUMERIC(p, s) is a sign, a zero or the integer digits, the point and the
// fraction digits (-0.12345 for (5, 5)): each must fit its area with the NUL or be cut.
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

// The library's "%.2f" text is the model, for doubles of every size the hundredths reach and past
// them, the halves that round to even, and the values that are no numbers.
TEST(FormatHundredthsTest, WritesWhatTheLibraryWrites) {
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<double> values = {0.125,  0.375, -2.5e-3, 1.005, 0.005, 1e16, -1e16 + 2, 1e17,
                                1.5e19, 1e300, -0.0,    inf,   -inf,  NAN,  -NAN};
  std::mt19937_64 random(11);
  for (int i = 0; i < 300000; ++i) {
    const double hundredths = static_cast<double>(random() >> (11 + random() % 53));
    values.push_back((i % 2 ? -1 : 1) * std::ldexp(hundredths, i % 9 - 6) / 100);
  }
  char got[kelvorin::kNumberTextCapacity], want[kelvorin::kNumberTextCapacity];
  for (double v : values) {
    auto end = std::to_chars(want, want + sizeof want, v, std::chars_format::fixed, 2).ptr;
    ASSERT_EQ(std::string(got, kelvorin::FormatHundredths(v, got)), std::string(want, end)) << v;
  }
}

}  // namespace
