#include "result_table.h"

#include <gtest/gtest.h>

#include "fault.h"

namespace {

using kelvorin::ResultTable;

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
