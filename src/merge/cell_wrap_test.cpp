#include "cell_wrap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string Wrap(const char* cell, int left, int right) {
  kelvorin::MergeBuffer out;
  kelvorin::WrapCell(out, cell, std::strlen(cell), left, right);
  return std::string(out.text(), out.size());
}

// Rows no generated margins reach.
TEST(WrapCellTest, LaysWordsOutBetweenTheMargins) {
  struct WrapCase {
    int left, right;
    const char *cell, *wrapped;
  };
  const WrapCase cases[] = {
      // A line may end one past the right margin.
      {.left = 0, .right = 10, .cell = "aaaa bbbbbb cc", .wrapped = "aaaa bbbbbb\ncc"},
      // A negative left margin indents nothing and counts as 0.
      {.left = -3, .right = 5, .cell = "ab cd ef", .wrapped = "ab cd\nef"},
      // Two spaces across the 8 bytes a word's end is looked for in.
      {.left = 0, .right = 20, .cell = "abcdefg  hijklmn", .wrapped = "abcdefg hijklmn"},
  };
  for (const WrapCase& c : cases) {
    EXPECT_EQ(Wrap(c.cell, c.left, c.right), c.wrapped)
        << c.left << " " << c.right << " " << c.cell;
  }
}

}  // namespace
