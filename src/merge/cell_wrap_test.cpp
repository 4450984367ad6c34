#include "cell_wrap.h"

#include <gtest/gtest.h>

#include <string>

#include "fault.h"

namespace {

std::string Wrap(const char* cell, int left, int right) {
  kelvorin::MergeBuffer out;
  kelvorin::WrapCell(out, cell, left, right);
  return std::string(out.text(), out.size());
}

TEST(WrapCellTest, LaysWordsOutBetweenTheMargins) {
  struct Case {
    int left, right;
    const char* cell;
    const char* wrapped;
  };
  const Case cases[] = {
      {2, 12, "the quick brown fox jumps", "  the quick\n  brown fox\n  jumps"},
      {0, 10, "aaaa bbbbbb cc", "aaaa bbbbbb\ncc"},  // a line may end one past R
      {4, 10, "extraordinarily long", "    extraordinarily\n    long"},
      {3, 0, "one two three", "   one\n   two\n   three"},
      {0, 5, "  a\tb\r\nc  ", "a b c"},
      {2, 20, " \t\r\n ", ""},  // no words: not even the indentation
      {0, 0, "", ""},
      {5, 6, "abcdefghij", "     abcdefghij"},  // never split, always indented
      // Negative margins: no indentation, words still spaced, R below the
      // column count puts every later word on a line of its own.
      {-3, 9, "ab cd ef gh", "ab cd ef\ngh"},
      {-3, -1, "ab cd ef", "ab\ncd\nef"},
      {0, -2147483647 - 1, "ab cd", "ab\ncd"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Wrap(c.cell, c.left, c.right), c.wrapped)
        << c.left << " " << c.right << " [" << c.cell << "]";
  }
}

TEST(WrapCellTest, LeavesTheCellWhole) {
  char cell[] = "alpha beta gamma";
  Wrap(cell, 0, 6);
  EXPECT_STREQ(cell, "alpha beta gamma");
}

TEST(MergeBufferTest, GrowsAcrossManyAppendsAndStopsWhenMemoryRunsOut) {
  kelvorin::MergeBuffer buffer;
  std::string expected;
  for (int i = 0; i < 10000; ++i) {
    std::string piece = std::to_string(i) + ",";
    buffer.Append(piece.data(), piece.size());
    buffer.AppendByte(';');
    expected += piece + ";";
  }
  buffer.Terminate();
  EXPECT_FALSE(buffer.failed());
  EXPECT_EQ(std::string(buffer.text()), expected);

  kelvorin::MergeBuffer starved;
  platform::fault::FailNth(platform::fault::Op::kAlloc, 1);
  starved.Append("abc", 3);
  starved.AppendByte('d');
  EXPECT_TRUE(starved.failed());
  EXPECT_EQ(starved.size(), 0u);
  platform::fault::Reset();
}

}  // namespace
