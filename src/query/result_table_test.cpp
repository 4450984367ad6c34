#include "result_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fault.h"

namespace {

using kelvorin::ResultTable;

TEST(ResultTableTest, TrimsSpacesAndTabsOnlyWhenSkipSpacesIsOn) {
  const char* texts[] = {" \tab c\t  ", " \t \t", "x\r\n", ""};
  const char* trimmed[] = {"ab c", "", "x\r\n", ""};
  for (bool skip : {true, false}) {
    ResultTable table(skip);
    table.BeginRow(4);
    for (const char* text : texts) EXPECT_TRUE(table.AddCell(text));
    table.EndRow();
    for (int i = 0; i < 4; ++i) {
      ASSERT_NE(table.GetCell(i, 0), nullptr);  // an empty text is still a cell
      EXPECT_STREQ(table.GetCell(i, 0), skip ? trimmed[i] : texts[i]);
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
