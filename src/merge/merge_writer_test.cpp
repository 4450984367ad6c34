#include "merge_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fault.h"
#include "platform.h"
#include "test_support.h"

namespace {

using Rows = std::vector<std::vector<std::string>>;
using platform::fault::Op;

// A message file in a folder of its own, merged as a run merges it.
class MergeWriterTest : public ::testing::Test {
 protected:
  ~MergeWriterTest() override { platform::fault::Reset(); }

  // Writes message and merges rows into it (the nth call of op failing, when given; the replace
  // refused for want of rights when in_place): the file's bytes after; ok_, failure_ say how.
  std::string Merge(const std::string& message, const Rows& rows, Op op = {}, int nth = 0,
                    bool in_place = false) {
    testing_support::WriteFile(path_, message);
    kelvorin::ResultTable table(true);
    for (const auto& row : rows) {
      table.BeginRow(static_cast<int>(rows[0].size()));
      for (const std::string& cell : row) EXPECT_TRUE(table.AddCell(cell.c_str()));
      table.EndRow();
    }
    platform::fault::FailNth(op, nth);
    if (in_place) platform::fault::FailNth(Op::kRename, 1);
    failure_ = {};
    ok_ = kelvorin::WriteMergedMessage(path_.c_str(), message.data(), message.size(), table, {},
                                       &failure_);
    return testing_support::ReadFile(path_);
  }

  testing_support::TempDir dir_;
  const std::string path_ = dir_.File("msg.txt");
  bool ok_ = false;
  kelvorin::StepFailure failure_;
};

// Templates no generator makes: placeholders made of the template's text and of values; a recipient
// line in a row block, taken only when the block is written once.
TEST_F(MergeWriterTest, ExpandsBlocksAndFillsPlaceholders) {
  struct MergeCase {
    std::string message, written;  // written "": refused, the message left as it was
    Rows rows = {{"A"}};
  };
  const MergeCase cases[] = {
      {.message = "%kelvorin%%%%%1%%%%%kelvorin%", .written = "1%%2%%", .rows = {{"1"}, {"2"}}},
      {.message = "%%%kelvorin%%%1%%%kelvorin%%%", .written = "1", .rows = {{"1"}}},
      {.message = "S: x\r\n%kelvorin%<<< a@b\r\n%kelvorin%\r\n<<< a@b"},
      {.message = "S: x\r\n%kelvorin%\r\n<<< a@b\r\n%kelvorin%", .written = "S: x\r\n<<< a@b\r\n"},
      {.message = "S: x\r\n%kelvorin%\r\n<<< a@b\r\n%kelvorin%", .rows = {{"A"}, {"B"}}},
  };
  for (const MergeCase& c : cases) {
    EXPECT_EQ(Merge(c.message, c.rows), c.written.empty() ? c.message : c.written);
    EXPECT_EQ(ok_ ? "" : kelvorin::FailureText(failure_),
              c.written.empty() ? "ERROR: recipient line changed by the merge" : "");
  }
}

// Whatever fails, the message is byte for byte what it was, the reason is told (with the OS call
// that failed, on the message) and no temporary file is left; past every failure the merge is
// written whole, and no longer than it is. Where the replace is refused for want of rights the
// message is rewritten in place: a failed write there must put the old text back.
TEST_F(MergeWriterTest, AFailedRewriteKeepsTheOldMessage) {
  using kelvorin::OsCall;
  const std::string message = "Head\r\n%kelvorin%\r\n%%1%% %%2%%\r\n%kelvorin%\r\n";
  struct Fault {
    Op op;
    bool in_place;  // the replace refused for want of rights: rewritten in place
    OsCall call;    // the OS call that the failure names
  };
  const Fault faults[] = {{.op = Op::kAlloc, .in_place = false, .call = OsCall::kNone},
                          {.op = Op::kWrite, .in_place = false, .call = OsCall::kWrite},
                          {.op = Op::kFlush, .in_place = false, .call = OsCall::kFlush},
                          {.op = Op::kWrite, .in_place = true, .call = OsCall::kWrite},
                          {.op = Op::kFlush, .in_place = true, .call = OsCall::kFlush}};
  for (auto [op, in_place, call] : faults) {
    for (int nth = 1;; ++nth) {  // every call of op in turn, until the merge gets past them all
      ASSERT_LT(nth, 9) << "the merge never succeeds";
      SCOPED_TRACE(static_cast<int>(op) * 100 + nth + (in_place ? 1000 : 0));
      const std::string after = Merge(message, {{"A", "5"}, {"B", "7"}}, op, nth, in_place);
      platform::fault::Reset();
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 1);
      if (ok_) {  // past the last call of op, which each file written (one, or two in place) makes
        EXPECT_EQ(after, "Head\r\nA 5\r\nB 7\r\n");
        EXPECT_GT(nth, in_place ? 2 : 1);
        break;
      }
      EXPECT_EQ(after, message);
      EXPECT_EQ(kelvorin::FailureText(failure_),
                call == OsCall::kNone ? "ERROR: out of memory." : "ERROR: file writing error");
      EXPECT_EQ(failure_.cause.call, call);
      EXPECT_EQ(failure_.cause.path, call == OsCall::kNone ? "" : path_);
      EXPECT_EQ(failure_.cause.status.code != 0, call != OsCall::kNone);
    }
  }
}

}  // namespace
