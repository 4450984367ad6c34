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

// 5001 rows of 70 columns: 5000 rows of 64 kept, the column count the
// result's; a cell without memory is reported and nothing stored for it.
TEST(ResultTableTest, KeepsFiveThousandRowsOfSixtyFourColumns) {
  ResultTable table(true);
  for (int row = 0; row < 5001; ++row) {
    table.BeginRow(70);
    for (int i = 0; i < 70; ++i) EXPECT_TRUE(table.AddCell(std::to_string(row * 100 + i).c_str()));
    table.EndRow();
  }
  EXPECT_EQ(table.RowCount(), 5000);
  EXPECT_EQ(table.ColumnCount(), 70);
  EXPECT_STREQ(table.GetCell(63, 4999), "499963");
  for (auto [column, row] : {std::pair{64, 0}, {-1, 0}, {0, -1}, {0, 5000}}) {
    EXPECT_EQ(table.GetCell(column, row), nullptr) << column << "," << row;
  }
  ResultTable starved(true);
  starved.BeginRow(1);
  platform::fault::FailNth(platform::fault::Op::kAlloc, 1);
  EXPECT_FALSE(starved.AddCell("a"));
  platform::fault::Reset();
  starved.EndRow();
  EXPECT_EQ(starved.GetCell(0, 0), nullptr);
}

}  // namespace
