#include "result_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fault.h"

namespace {

using kelvorin::ResultTable;

// Against a model: a cell is stored trimmed of spaces and tabs with SkipSpaces on, with its length;
// cells and their NULs stay within the cap (one past it is refused as too large); a cell without
// memory is refused.
TEST(ResultTableTest, StoresWhatTheModelStores) {
  std::mt19937 random(1);
  for (int round = 0; round < 500; ++round) {
    bool skip = random() % 2;
    std::size_t cap = round % 2 ? random() % 40 : kelvorin::kMaxResultBytes, held = 0;
    ResultTable table(skip, cap);
    std::vector<std::string> stored;
    table.BeginRow(8);
    for (int i = 0; i < 8; ++i) {
      std::string text(random() % 8 == 0 ? 70000 : 0, 'y');
      for (std::size_t n = random() % 10; n > 0; --n) text += " \tab\r\n"[random() % 6];
      std::string kept = text;
      if (skip) kept.erase(0, kept.find_first_not_of(" \t"));
      if (skip) kept.erase(kept.find_last_not_of(" \t") + 1);
      // Memory is taken for the first cell of a table and then in chunks.
      bool fits = held + kept.size() + 1 <= cap, starved = i == 0 && random() % 4 == 0;
      bool too_large = false;
      if (starved) platform::fault::FailNth(platform::fault::Op::kAlloc, 1);
      ASSERT_EQ(table.AddCell(text.c_str(), &too_large), fits && !starved);
      platform::fault::Reset();
      EXPECT_EQ(too_large, !fits);
      if (fits && !starved) held += kept.size() + 1, stored.push_back(kept);
    }
    table.EndRow();
    for (int i = 0; i < 8; ++i) {
      std::size_t length = 0;
      const char* cell = table.GetCell(i, 0, &length);
      EXPECT_STREQ(cell, i < int(stored.size()) ? stored[i].c_str() : nullptr);
      EXPECT_EQ(length, cell ? std::strlen(cell) : 0);
    }
  }
}

}  // namespace
