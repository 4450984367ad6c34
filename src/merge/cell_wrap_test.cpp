#include "cell_wrap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

namespace {

std::string Wrap(const char* cell, int left, int right) {
  kelvorin::MergeBuffer out;
  kelvorin::WrapCell(out, cell, std::strlen(cell), left, right);
  return std::string(out.text(), out.size());
}

TEST(WrapCellTest, LaysWordsOutBetweenTheMargins) {
  const std::tuple<int, int, const char*, const char*> cases[] = {
      // L, R, cell, written
      {0, 10, "aaaa bbbbbb cc", "aaaa bbbbbb\ncc"},    // a line may end one past R
      {0, 20, "abcdefg  hijklmn", "abcdefg hijklmn"},  // two spaces across 8 bytes
      // R below the column count puts every later word on a line of its own.
      {0, -2147483647 - 1, "ab cd", "ab\ncd"},
  };
  for (auto [left, right, cell, wrapped] : cases) {
    EXPECT_EQ(Wrap(cell, left, right), wrapped) << left << " " << right << " [" << cell << "]";
  }
}

}  // namespace
