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
  bool header_guard = false;  // on, a message without a recipient line is all header
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

  // Writes the message, merges it (the nth call of op failing, when given;
  // the replace refused for want of rights when in_place); the file's bytes
  // afterwards.
  std::string Merge(const MergeCase& c, bool* ok, platform::fault::Op op = {}, int nth = 0,
                    bool in_place = false) {
    testing_support::WriteFile(path_, c.message);
    kelvorin::ResultTable table(true);
    for (const auto& row : c.rows) {
      table.BeginRow(static_cast<int>(c.rows[0].size()));
      for (const std::string& cell : row) EXPECT_TRUE(table.AddCell(cell.c_str()));
      table.EndRow();
    }
    kelvorin::MergeOptions o;
    std::tie(o.marker, o.left, o.right, o.header_guard) =
        std::tie(c.marker, c.left, c.right, c.header_guard);
    platform::fault::FailNth(op, nth);
    if (in_place) platform::fault::FailNth(platform::fault::Op::kRename, 1);
    *ok = kelvorin::WriteMergedMessage(path_.c_str(), c.message.data(), c.message.size(), table, o);
    return ReadFile(path_);
  }

  // Files in the folder: the message and the log, and no temporary file.
  long Files() { return std::distance(std::filesystem::directory_iterator(dir_.path()), {}); }

  testing_support::TempDir dir_;
  std::string path_, log_;
};

TEST_F(MergeWriterTest, ExpandsBlocksAndFillsPlaceholders) {
  const std::string zeros49(49, '0'), digits60(60, '1'), fits(56, 'x');
  const std::string wraps = std::string(28, 'y') + " " + std::string(28, 'z');  // 57 bytes: wraps
  std::vector<std::string> wide(70, "w");
  wide[0] = "%%2%%";  // a value that looks like a placeholder is filled in pass 2
  wide[1] = "second";
  const Rows abc = {{"A", "B", "C"}, {"D", "E", "F"}};
  const MergeCase cases[] = {
      {"Dear customer,\r\n%kelvorin%\r\nItem %%1%% costs %%2%%\r\n%kelvorin%\r\nTotal %%1%%\r\n",
       "Dear customer,\r\nItem A costs 5\r\nItem B costs 7\r\nTotal A\r\n"},
      {"Hello %%2%%\r\n", "Hello 5\r\n"},
      {"x%kelvorin%%kelvorin%y", "xy"},
      {"x%kelvorin%\r\n%kelvorin%\r\ny", "xy"},
      {"a%kelvorin%b%%1%%c%kelvorin%d", "abAcbBcd"},
      {"a%kelvorin%b%%1%%", "a%kelvorin%bA"},  // a marker without a partner stays
      {"%kelvorin%\r\n%%1%%\r\n%kelvorin%\r\nmid %kelvorin% tail %%2%%",
       "A\r\nB\r\nmid %kelvorin% tail 5"},
      {"x%kelvorin%\r%%1%%;%kelvorin%\ny", "xA;B;y"},         // lone CR, lone LF
      {"x%kelvorin%\n\r%%1%%%kelvorin%\n\ry", "x\rA\rB\ry"},  // of LF CR only LF goes
      {"p%kelvorin%1%kelvorin%q%kelvorin%2%kelvorin%r", "p11q22r"},
      {"Total %%1%%", "Total A"},  // ends on a placeholder: a last write of 0 bytes
      {"%KELVORIN% %%1%% %KELVORIN%", "%KELVORIN% A %KELVORIN%"},
      {Bytes("a\0b %%1%%\r\n%kelvorin%\0%%2%%%kelvorin%\0"), Bytes("a\0b A\r\n\0005\0007\0")},
      {"%%003%% %%" + zeros49 + "1%% %%0" + zeros49 + "1%%", "C A %%0" + zeros49 + "1%%", abc},
      {"%%" + digits60 + "%% %%0%% %%%% %%x%% %%4%% end %%1",
       "%%" + digits60 + "%% %%0%% %%%% %%x%% %%4%% end %%1", abc},
      {"%%9%%1%% %%4294967297%% %%2147483649%%", "%%9A %%4294967297%% %%2147483649%%", abc},
      {"%kelvorin%%%1%%%%2%kelvorin%", "A%%2D%%2", abc},            // "%%2" runs into the marker
      {"%kelvorin%%%%%1%%%%%kelvorin%", "1%%2%%", {{"1"}, {"2"}}},  // made of text and values
      {"%%%kelvorin%%%1%%%kelvorin%%%", "1", {{"1"}}},
      {"[%%65%%][%%70%%][%%71%%] %kelvorin%%%1%%%kelvorin%", "[][][%%71%%] second", {wide}},
      {"a%%b%%1%%c", "abb1%%c", kTwoRows, false, 0, 0, "%%"},  // empty Rowname
                                                               // clang-format off
      // Long cells are wrapped inside blocks only, whole every time they are used.
      {"%kelvorin%%%1%%|%%2%%%kelvorin%/%%2%%", fits + "|    " + wraps + "/" + wraps,
       {{fits, wraps}}, false, 4, 60},
      {"%kelvorin%%%1%%|%%1%%%kelvorin%/%%1%%", "ab cd\nef|ab cd\nef/ab cd ef", {{"ab cd ef"}},
       false, 0, 5},
      {"%kelvorin%%%1%%%kelvorin%", std::string(10, ' ') + "ab", {{"ab"}}, false, 10},
      // Before the template's own recipient line a value's line breaks are
      // spaces, wrapped or not, in a block or not; after it they stay. The
      // merged message's first recipient line must be that line, where the
      // template puts it, whatever made another one.
      {"S: %%1%%\r\nX: %%2%%\r\n<<< a@b\r\n%%1%%",
       "S: Hi  <<< evil@x\r\nX: y Bcc: z w\r\n<<< a@b\r\nHi\r\n<<< evil@x",
       {{"Hi\r\n<<< evil@x", "y\nBcc: z\rw"}}, true},
      {"%kelvorin%\r\nH: %%1%%\r\n%kelvorin%\r\n<<< a@b\r\n%kelvorin%%%1%%%kelvorin%",
       "H: a  b\r\nH: c d\r\n<<< a@b\r\na\r\nbc\nd", {{"a\r\nb"}, {"c\nd"}}, true},
      {"H: %kelvorin%%%1%%%kelvorin%\r\n\r\n<<< a@b", "H: aaa bbb\r\n<<< a@b", {{"aaa bbb"}},
       true, 0, 4},
      {"S: %%1%%\r\n<<< a@b\r\n", "", {{"Hi\r\n<<< evil@x"}}},  // the guard off
      {"F: x\r\n%%1%%\r\n<<< a@b\r\n", "", {{"<<< a@b"}}, true},  // no CR LF needed
      {"F: x\r\n%kelvorin%\r\n%%1%%\r\n%kelvorin%\r\n<<< a@b\r\n", "",
       {{"<<< a@b"}, {"B: e\r\n<<< e"}}, true},
      {"S: x\r\n%kelvorin%<<< a@b\r\n%kelvorin%\r\n<<< a@b", "", {{"A"}}},  // a block's copy
      {"S: x\r\n<<< %%1%%\r\n", "", {{"z@z"}}},
      // A recipient line in a block is taken only when the block is written once.
      {"S: x\r\n%kelvorin%\r\n<<< a@b\r\n%kelvorin%", "S: x\r\n<<< a@b\r\n", {{"A"}}},
      {"S: x\r\n%kelvorin%\r\n<<< a@b\r\n%kelvorin%", "", kTwoRows},
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
// logged and no temporary file is left; past every failure the merge is
// written whole, and no longer than it is. Where the replace is refused for
// want of rights the message is rewritten in place: a failed write there
// must put the old text back.
TEST_F(MergeWriterTest, AFailedRewriteKeepsTheOldMessage) {
  using platform::fault::Op;
  const MergeCase c{"Head\r\n%kelvorin%\r\n%%1%% %%2%%\r\n%kelvorin%\r\n",
                    "Head\r\nA 5\r\nB 7\r\n"};
  const char *memory = "ERROR: out of memory.", *writing = "ERROR: file writing error";
  const std::tuple<Op, bool, const char*> faults[] = {{Op::kAlloc, false, memory},
                                                      {Op::kWrite, false, writing},
                                                      {Op::kFlush, false, writing},
                                                      {Op::kWrite, true, writing},
                                                      {Op::kFlush, true, writing}};
  for (auto [op, in_place, line] : faults) {
    for (int nth = 1;; ++nth) {  // every call of op in turn, until the merge gets past them all
      ASSERT_LT(nth, 9) << "the merge never succeeds";
      SCOPED_TRACE(static_cast<int>(op) * 100 + nth + (in_place ? 1000 : 0));
      std::filesystem::remove(log_);
      bool ok = false;
      const std::string after = Merge(c, &ok, op, nth, in_place);
      platform::fault::Reset();
      EXPECT_EQ(Files(), ok ? 1 : 2);  // the log is written only on failure
      if (ok) {
        EXPECT_EQ(after, c.written);
        break;
      }
      EXPECT_EQ(after, c.message);
      EXPECT_EQ(testing_support::LogTexts(log_), line);
    }
  }
}

}  // namespace
