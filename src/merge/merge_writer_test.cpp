#include "merge_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "fault.h"
#include "platform.h"
#include "test_support.h"

namespace {

using Rows = std::vector<std::vector<std::string>>;
using testing_support::ReadFile;

const Rows kTwoRows = {{"A", "5"}, {"B", "7"}};

struct MergeCase {
  std::string message;
  std::string written;  // empty: the merge is refused, the message left as it was
  Rows rows = kTwoRows;
};

// A message file in a folder of its own, merged as a run merges it.
class MergeWriterTest : public ::testing::Test {
 protected:
  MergeWriterTest() : path_(dir_.File("msg.txt")) {}
  ~MergeWriterTest() override { platform::fault::Reset(); }

  // Writes the message, merges it (the nth call of op failing, when given;
  // the replace refused for want of rights when in_place); the file's bytes
  // afterwards, why it failed in failure_.
  std::string Merge(const MergeCase& c, bool* ok, platform::fault::Op op = {}, int nth = 0,
                    bool in_place = false) {
    testing_support::WriteFile(path_, c.message);
    kelvorin::ResultTable table(true);
    for (const auto& row : c.rows) {
      table.BeginRow(static_cast<int>(c.rows[0].size()));
      for (const std::string& cell : row) EXPECT_TRUE(table.AddCell(cell.c_str()));
      table.EndRow();
    }
    const kelvorin::MergeOptions o;
    platform::fault::FailNth(op, nth);
    if (in_place) platform::fault::FailNth(platform::fault::Op::kRename, 1);
    failure_ = {};
    *ok = kelvorin::WriteMergedMessage(path_.c_str(), c.message.data(), c.message.size(), table, o,
                                       &failure_);
    return ReadFile(path_);
  }

  // Files in the folder: the message, and no temporary file.
  long Files() { return std::distance(std::filesystem::directory_iterator(dir_.path()), {}); }

  testing_support::TempDir dir_;
  std::string path_;
  kelvorin::StepFailure failure_;
};

TEST_F(MergeWriterTest, ExpandsBlocksAndFillsPlaceholders) {
  std::vector<std::string> wide(70, "w");
  wide[0] = "%%2%%";  // a value that looks like a placeholder is filled in pass 2
  wide[1] = "second";
  const MergeCase cases[] = {
      {"%kelvorin%%%%%1%%%%%kelvorin%", "1%%2%%", {{"1"}, {"2"}}},  // made of text and values
      {"%%%kelvorin%%%1%%%kelvorin%%%", "1", {{"1"}}},
      {"[%%65%%][%%70%%][%%71%%] %kelvorin%%%1%%%kelvorin%", "[][][%%71%%] second", {wide}},
      // clang-format off
      {"S: x\r\n%kelvorin%<<< a@b\r\n%kelvorin%\r\n<<< a@b", "", {{"A"}}},  // a block's copy
      // A recipient line in a block is taken only when the block is written once.
      {"S: x\r\n%kelvorin%\r\n<<< a@b\r\n%kelvorin%", "S: x\r\n<<< a@b\r\n", {{"A"}}},
      {"S: x\r\n%kelvorin%\r\n<<< a@b\r\n%kelvorin%", "", kTwoRows},
      // clang-format on
  };
  for (const MergeCase& c : cases) {
    bool ok = false;
    EXPECT_EQ(Merge(c, &ok), c.written.empty() ? c.message : c.written) << c.message;
    EXPECT_EQ(ok, !c.written.empty());
    EXPECT_EQ(ok ? "" : kelvorin::FailureText(failure_),
              c.written.empty() ? "ERROR: recipient line changed by the merge" : "");
  }
}

// Whatever fails, the message is byte for byte what it was, the reason is
// told (with the OS call that failed, on the message) and no temporary file
// is left; past every failure the merge is
// written whole, and no longer than it is. Where the replace is refused for
// want of rights the message is rewritten in place: a failed write there
// must put the old text back.
TEST_F(MergeWriterTest, AFailedRewriteKeepsTheOldMessage) {
  using kelvorin::OsCall;
  using platform::fault::Op;
  const MergeCase c{"Head\r\n%kelvorin%\r\n%%1%% %%2%%\r\n%kelvorin%\r\n",
                    "Head\r\nA 5\r\nB 7\r\n"};
  const char *memory = "ERROR: out of memory.", *writing = "ERROR: file writing error";
  const std::tuple<Op, bool, const char*, OsCall> faults[] = {
      {Op::kAlloc, false, memory, OsCall::kNone},
      {Op::kWrite, false, writing, OsCall::kWrite},
      {Op::kFlush, false, writing, OsCall::kFlush},
      {Op::kWrite, true, writing, OsCall::kWrite},
      {Op::kFlush, true, writing, OsCall::kFlush}};
  for (auto [op, in_place, line, call] : faults) {
    for (int nth = 1;; ++nth) {  // every call of op in turn, until the merge gets past them all
      ASSERT_LT(nth, 9) << "the merge never succeeds";
      SCOPED_TRACE(static_cast<int>(op) * 100 + nth + (in_place ? 1000 : 0));
      bool ok = false;
      const std::string after = Merge(c, &ok, op, nth, in_place);
      platform::fault::Reset();
      EXPECT_EQ(Files(), 1);
      if (ok) {
        EXPECT_EQ(after, c.written);
        break;
      }
      EXPECT_EQ(after, c.message);
      const kelvorin::OsCause& cause = failure_.cause;
      EXPECT_EQ(
          std::make_tuple(kelvorin::FailureText(failure_), cause.call, cause.path,
                          cause.status.code != 0),
          std::make_tuple(line, call, call == OsCall::kNone ? "" : path_, call != OsCall::kNone));
    }
  }
}

}  // namespace
