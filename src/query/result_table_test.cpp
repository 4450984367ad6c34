#include "result_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fault.h"

namespace {

using kelvorin::ResultTable;

void Fill(ResultTable& table, const std::vector<std::vector<std::string>>& rows) {
  for (const auto& row : rows) {
    table.BeginRow(static_cast<int>(row.size()));
    for (const std::string& cell : row) EXPECT_TRUE(table.AddCell(cell.c_str()));
    table.EndRow();
  }
}

TEST(ResultTableTest, TrimsSpacesAndTabsOnlyWhenSkipSpacesIsOn) {
  const std::vector<std::string> texts = {" \tab c\t  ", " \t \t", "x\r\n", ""};
  const std::vector<std::string> trimmed = {"ab c", "", "x\r\n", ""};
  for (bool skip : {true, false}) {
    ResultTable table(skip);
    Fill(table, {texts});
    for (int i = 0; i < 4; ++i) {
      ASSERT_NE(table.GetCell(i, 0), nullptr);  // an empty text is still a cell
      EXPECT_EQ(table.GetCell(i, 0), skip ? trimmed[i] : texts[i]);
    }
  }
}

// 5001 rows of 70 columns: the first 5000 rows and 64 columns are kept, and
// the column count stays that of the result.
TEST(ResultTableTest, KeepsFiveThousandRowsOfSixtyFourColumns) {
  std::vector<std::string> row(70);
  for (int i = 0; i < 70; ++i) row[i] = "c" + std::to_string(i);
  std::vector<std::vector<std::string>> rows(5001, row);
  rows[4999][0] = "last kept";
  ResultTable table(true);
  Fill(table, rows);
  EXPECT_EQ(table.RowCount(), 5000);
  EXPECT_EQ(table.ColumnCount(), 70);
  EXPECT_STREQ(table.GetCell(0, 4999), "last kept");
  EXPECT_STREQ(table.GetCell(63, 1), "c63");
  for (auto [column, row] : {std::pair{64, 0}, {69, 0}, {-1, 0}, {0, -1}, {0, 5000}}) {
    EXPECT_EQ(table.GetCell(column, row), nullptr) << column << "," << row;
  }
}

TEST(ResultTableTest, ACellWithoutMemoryIsReportedAndNothingIsStored) {
  ResultTable table(true);
  table.BeginRow(2);
  EXPECT_TRUE(table.AddCell("a"));
  platform::fault::FailNth(platform::fault::Op::kAlloc, 1);
  EXPECT_FALSE(table.AddCell("b"));
  platform::fault::Reset();
  table.EndRow();
  EXPECT_STREQ(table.GetCell(0, 0), "a");
  EXPECT_EQ(table.GetCell(1, 0), nullptr);
}

}  // namespace
