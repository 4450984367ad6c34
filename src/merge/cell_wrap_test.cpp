#include "cell_wrap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <sstream>
#include <string>

namespace {

// The wrap, slow and plain: words are runs without space, tab, CR or LF; a word that would end past
// right starts a new line, indented by left (a negative left by nothing).
std::string Wrapped(const std::string& cell, int left, int right) {
  const long long start = std::max(left, 0);
  std::istringstream words(cell);
  std::string out, word;
  for (long long column = -1; words >> word;) {  // column -1: no word yet
    const long long length = static_cast<long long>(word.size());
    const bool fits = column >= 0 && column + length <= right;
    out += (fits ? " " : (column < 0 ? "" : "\n") + std::string(start, ' ')) + word;
    column = (fits ? column + 1 : start) + length;
  }
  return out;
}

// Random cells (half of them words and spaces only, which the wrap takes a line at a time), words
// and runs of blanks across the eight-byte blocks it reads at once, between margins of every kind.
TEST(WrapCellTest, LaysWordsOutAsTheModelDoes) {
  std::mt19937 random(5);
  for (int round = 0; round < 20000; ++round) {
    const std::string bytes = round % 2 ? "   \t\r\n\001\303abcdefgh" : "    abcdefghijkl";
    std::string cell;
    for (int n = random() % 40; n > 0; --n) cell += bytes[random() % bytes.size()];
    const int left = static_cast<int>(random() % 10) - 3;
    const int right =
        round % 50 == 0 ? (round % 100 ? INT_MIN : INT_MAX) : static_cast<int>(random() % 30) - 3;
    kelvorin::MergeBuffer out;
    kelvorin::WrapCell(out, cell.data(), cell.size(), left, right);
    ASSERT_EQ(std::string(out.text(), out.size()), Wrapped(cell, left, right))
        << left << " " << right << " [" << cell << "]";
  }
}

}  // namespace
