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
      {2, 12, "the quick brown fox jumps", "  the quick\n  brown fox\n  jumps"},
      {0, 10, "aaaa bbbbbb cc", "aaaa bbbbbb\ncc"},  // a line may end one past R
      {4, 10, "extraordinarily long", "    extraordinarily\n    long"},
      {3, 0, "one two three", "   one\n   two\n   three"},
      {0, 5, "  a\tb\r\nc  ", "a b c"},
      {0, 20, "abcdefg  hijklmn", "abcdefg hijklmn"},  // two spaces across 8 bytes
      {2, 20, " \t\r\n ", ""},                         // no words: not even the indentation
      {5, 6, "abcdefghij", "     abcdefghij"},         // never split, always indented
      // Negative margins: no indentation, words still spaced, R below the
      // column count puts every later word on a line of its own.
      {-3, 9, "ab cd ef gh", "ab cd ef\ngh"},
      {-3, -1, "ab cd ef", "ab\ncd\nef"},
      {0, -2147483647 - 1, "ab cd", "ab\ncd"},
  };
  for (auto [left, right, cell, wrapped] : cases) {
    EXPECT_EQ(Wrap(cell, left, right), wrapped) << left << " " << right << " [" << cell << "]";
  }
}

}  // namespace
