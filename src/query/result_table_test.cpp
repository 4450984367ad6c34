#include "result_table.h"

#include <gtest/gtest.h>

#include <string>

#include "fault.h"
#include "result_rows.h"
#include "settings.h"

namespace {

using kelvorin::ColumnCount;
using kelvorin::GetCell;
using kelvorin::RowCount;
using testing_support::FillTable;

class ResultTableTest : public ::testing::Test {
 protected:
  ResultTableTest() { kelvorin::g_settings = kelvorin::Settings(); }
  ~ResultTableTest() override {
    kelvorin::ClearResultTable();
    platform::fault::Reset();
  }
};

TEST_F(ResultTableTest, EmptyTableHasNoCells) {
  kelvorin::ClearResultTable();
  EXPECT_EQ(RowCount(), 0);
  EXPECT_EQ(ColumnCount(), 0);
  EXPECT_EQ(GetCell(0, 0), nullptr);
}

TEST_F(ResultTableTest, TrimsSpacesAndTabsOnlyWhenSkipSpacesIsOn) {
  struct Case {
    int skip;
    const char* text;
    const char* stored;
  };
  const Case cases[] = {
      {1, " \tab c\t  ", "ab c"}, {0, " \tab c\t  ", " \tab c\t  "},
      {1, " \t \t", ""},          {1, "x\r\n", "x\r\n"},  // line breaks stay
      {0, "x\r\n", "x\r\n"},      {1, "", ""},
  };
  for (const Case& c : cases) {
    kelvorin::g_settings.SkipSpaces = c.skip;
    FillTable({{c.text}});
    ASSERT_NE(GetCell(0, 0), nullptr) << c.text;  // an empty text is still a cell
    EXPECT_STREQ(GetCell(0, 0), c.stored);
  }
}

TEST_F(ResultTableTest, GetCellStaysInsideTheStoredRange) {
  FillTable({{"a", "b"}, {"c", "d"}});
  EXPECT_STREQ(GetCell(1, 1), "d");
  for (auto [column, row] : {std::pair{-1, 0}, {0, -1}, {2, 0}, {0, 2}, {64, 0}}) {
    EXPECT_EQ(GetCell(column, row), nullptr) << column << "," << row;
  }
}

TEST_F(ResultTableTest, SeventyColumnsStoreSixtyFourAndReportSeventy) {
  std::vector<std::string> row;
  for (int i = 0; i < 70; ++i) row.push_back("c" + std::to_string(i));
  FillTable({row, row});
  EXPECT_EQ(ColumnCount(), 70);
  EXPECT_EQ(RowCount(), 2);
  EXPECT_STREQ(GetCell(63, 1), "c63");
  for (int column = 64; column < 70; ++column) EXPECT_EQ(GetCell(column, 0), nullptr);
}

TEST_F(ResultTableTest, RowsPastFiveThousandAreDroppedAndTheColumnCountHolds) {
  testing_support::Rows rows(5001, {"x", "y", "z"});
  rows[4999][0] = "last kept";
  rows[5000][0] = "dropped";
  FillTable(rows);
  EXPECT_EQ(RowCount(), 5000);
  EXPECT_EQ(ColumnCount(), 3);
  EXPECT_STREQ(GetCell(0, 4999), "last kept");
  EXPECT_EQ(GetCell(0, 5000), nullptr);
}

TEST_F(ResultTableTest, ACellWithoutMemoryIsReportedAndLaterCellsKeepTheirColumns) {
  kelvorin::ClearResultTable();
  kelvorin::ResetRows();
  kelvorin::BeginRow(3);
  EXPECT_EQ(kelvorin::AddCell("a"), 1);
  platform::fault::FailNth(platform::fault::Op::kAlloc, 1);
  EXPECT_EQ(kelvorin::AddCell("b"), 0);
  EXPECT_EQ(kelvorin::AddCell("c"), 1);
  kelvorin::EndRow();
  EXPECT_EQ(ColumnCount(), 3);
  EXPECT_STREQ(GetCell(0, 0), "a");
  EXPECT_EQ(GetCell(1, 0), nullptr);
  EXPECT_STREQ(GetCell(2, 0), "c");
}

}  // namespace
