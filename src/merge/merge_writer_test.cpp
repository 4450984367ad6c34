#include "merge_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "fault.h"
#include "platform.h"
#include "run_log.h"
#include "test_support.h"

namespace {

using Rows = std::vector<std::vector<std::string>>;
using testing_support::ReadFile;

const Rows kTwoRows = {{"A", "5"}, {"B", "7"}};

// All the bytes of a literal, NULs included.
template <std::size_t N>
std::string Bytes(const char (&text)[N]) {
  return std::string(text, N - 1);
}

struct MergeCase {
  std::string message;
  std::string written;  // empty: the merge is refused, the message left as it was
  Rows rows = kTwoRows;
  const char* recipient = nullptr;  // checked against the merged recipient line
  bool header_guard = false;        // on, a message without a recipient line is all header
  int left = 0, right = 0;
  const char* marker = "%kelvorin%";
};

// A message file in a folder of its own, merged as a run merges it.
class MergeWriterTest : public ::testing::Test {
 protected:
  MergeWriterTest() : path_(dir_.File("msg.txt")), log_(dir_.File("kelvorin.LOG")) {
    kelvorin::Log().SetPath(log_.c_str());
  }
  ~MergeWriterTest() override {
    kelvorin::Log().SetPath(nullptr);
    platform::fault::Reset();
  }

  // Writes the message, merges it (the nth call of op failing, when given);
  // the file's bytes afterwards.
  std::string Merge(const MergeCase& c, bool* ok, platform::fault::Op op = {}, int nth = 0) {
    testing_support::WriteFile(path_, c.message);
    kelvorin::ResultTable table(true);
    for (const auto& row : c.rows) {
      table.BeginRow(static_cast<int>(c.rows[0].size()));
      for (const std::string& cell : row) EXPECT_TRUE(table.AddCell(cell.c_str()));
      table.EndRow();
    }
    kelvorin::MergeOptions o;
    std::tie(o.marker, o.left, o.right, o.recipient, o.header_guard) =
        std::tie(c.marker, c.left, c.right, c.recipient, c.header_guard);
    platform::fault::FailNth(op, nth);
    *ok = kelvorin::WriteMergedMessage(path_.c_str(), c.message.data(), c.message.size(), table, o);
    return ReadFile(path_);
  }

  // Files in the folder: the message and the log, and no temporary file.
  long Files() { return std::distance(std::filesystem::directory_iterator(dir_.path()), {}); }

  testing_support::TempDir dir_;
  std::string path_, log_;
};

TEST_F(MergeWriterTest, ExpandsBlocksAndFillsPlaceholders) {
  std::vector<std::string> wide(70, "w");
  wide[0] = "%%2%%";  // a value that looks like a placeholder is filled in pass 2
  wide[1] = "second";
  const MergeCase cases[] = {
      {"[%%65%%][%%70%%][%%71%%] %kelvorin%%%1%%%kelvorin%", "[][][%%71%%] second", {wide}},
      // clang-format off
      {"S: x\r\n%kelvorin%\r\n<<< a@b\r\n%kelvorin%", "S: x\r\n<<< a@b\r\n<<< a@b\r\n",
       kTwoRows, "a@b"},
      // clang-format on
  };
  for (const MergeCase& c : cases) {
    std::filesystem::remove(log_);
    bool ok = false;
    EXPECT_EQ(Merge(c, &ok), c.written.empty() ? c.message : c.written) << c.message;
    EXPECT_EQ(ok, !c.written.empty());
    EXPECT_EQ(testing_support::LogTexts(log_),
              c.written.empty() ? "ERROR: recipient line changed by the merge" : "");
  }
}

// Whatever fails, the message is byte for byte what it was, the reason is
// logged and no temporary file is left.
TEST_F(MergeWriterTest, AFailedRewriteKeepsTheOldMessage) {
  Rows rows(200, {std::string(700, 'v'), "w"});  // over 64 KiB: several writes
  MergeCase c{"Head\r\n%kelvorin%\r\n%%1%% %%2%%\r\n%kelvorin%\r\n", "", rows};
  for (int i = 0; i < 300; ++i) c.message += "%%1%% ";  // pieces for the buffered writes
  const std::pair<platform::fault::Op, const char*> faults[] = {
      {platform::fault::Op::kFlush, "ERROR: file writing error"},
      {platform::fault::Op::kRename, "ERROR: file writing error"},
      {platform::fault::Op::kAlloc, "ERROR: out of memory."},
      {platform::fault::Op::kWrite, "ERROR: file writing error"}};
  for (auto [op, line] : faults) {
    for (int nth = 1;; ++nth) {  // every write of the rewrite in turn, until one is not reached
      SCOPED_TRACE(static_cast<int>(op) * 100 + nth);
      std::filesystem::remove(log_);
      bool ok = true;
      const std::string after = Merge(c, &ok, op, nth);
      platform::fault::Reset();
      if (ok) {
        EXPECT_TRUE(op == platform::fault::Op::kWrite && nth > 3);
        break;
      }
      EXPECT_EQ(after, c.message);
      EXPECT_EQ(testing_support::LogTexts(log_), line);
      EXPECT_EQ(Files(), 2);
      if (op != platform::fault::Op::kWrite) break;
    }
  }
}

}  // namespace
