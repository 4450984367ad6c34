#include "result_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fault.h"

namespace {

using kelvorin::ResultTable;

TEST(ResultTableTest, TrimsSpacesAndTabsOnlyWhenSkipSpacesIsOn) {
  const std::string big(70000, 'y');  // a chunk of its own, between short texts
  const char* texts[] = {" \tab c\t  ", " \t \t", big.c_str(), "x\r\n", ""};
  const char* trimmed[] = {"ab c", "", big.c_str(), "x\r\n", ""};
  for (bool skip : {true, false}) {
    ResultTable table(skip);
    table.BeginRow(5);
    for (const char* text : texts) EXPECT_TRUE(table.AddCell(text));
    table.EndRow();
    for (int i = 0; i < 5; ++i) {
      std::size_t length = 0;
      ASSERT_NE(table.GetCell(i, 0, &length), nullptr);  // an empty text is still a cell
      EXPECT_STREQ(table.GetCell(i, 0), skip ? trimmed[i] : texts[i]);
      EXPECT_EQ(length, std::strlen(table.GetCell(i, 0)));
    }
  }
}

// A cell without memory is reported, and nothing is stored for it. (The
// limits of 5000 rows and 64 columns are rows of the system tables, on every
// data source.)
TEST(ResultTableTest, ACellWithoutMemoryIsReported) {
  ResultTable starved(true);
  starved.BeginRow(1);
  platform::fault::FailNth(platform::fault::Op::kAlloc, 1);
  EXPECT_FALSE(starved.AddCell("a"));
  platform::fault::Reset();
  starved.EndRow();
  EXPECT_EQ(starved.GetCell(0, 0), nullptr);
}

}  // namespace
