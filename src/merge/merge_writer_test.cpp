#include "merge_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "fault.h"
#include "platform.h"
#include "result_rows.h"
#include "run_log.h"
#include "settings.h"
#include "test_support.h"

namespace {

using testing_support::FillTable;
using testing_support::ReadFile;
using testing_support::Rows;
using testing_support::TempDir;
using testing_support::WriteFile;

const Rows kTwoRows = {{"A", "5"}, {"B", "7"}};

class MergeWriterTest : public ::testing::Test {
 protected:
  MergeWriterTest() : message_(dir_.File("msg.txt")), log_(dir_.File("kelvorin.LOG")) {
    kelvorin::g_settings = kelvorin::Settings();
    std::strcpy(kelvorin::g_settings.BlockMarker, "%kelvorin%");
    kelvorin::g_run_log.SetPath(log_.c_str());
  }
  ~MergeWriterTest() override {
    kelvorin::g_run_log.SetPath(nullptr);
    kelvorin::ClearResultTable();
    platform::fault::Reset();
  }

  // Writes text as the message file, merges it and returns the file's bytes.
  std::string Merge(const std::string& text, int* result = nullptr) {
    WriteFile(message_, text);
    int r = kelvorin::WriteMergedMessage(message_.c_str(), text.data(), text.size());
    if (result) *result = r;
    return ReadFile(message_);
  }

  // Names in the folder other than the message and the log.
  std::vector<std::string> Leftovers() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      std::string name = entry.path().filename().string();
      if (name != "msg.txt" && name != "kelvorin.LOG") names.push_back(name);
    }
    return names;
  }

  std::string Logged() {
    std::string log = ReadFile(log_);
    return log == "<missing>" ? "" : log.substr(20);
  }

  TempDir dir_;
  std::string message_, log_;
};

struct MergeCase {
  const char* message;
  const char* written;
};

TEST_F(MergeWriterTest, ExpandsBlocksAndFillsPlaceholders) {
  FillTable(kTwoRows);
  const MergeCase cases[] = {
      {"Dear customer,\r\n%kelvorin%\r\nItem %%1%% costs %%2%%\r\n%kelvorin%\r\nTotal for "
       "%%1%%\r\n",
       "Dear customer,\r\nItem A costs 5\r\nItem B costs 7\r\nTotal for A\r\n"},
      {"Hello %%2%%\r\n", "Hello 5\r\n"},
      {"x%kelvorin%%kelvorin%y", "xy"},
      {"x%kelvorin%\r\n%kelvorin%\r\ny", "xy"},
      {"a%kelvorin%b%%1%%c%kelvorin%d", "abAcbBcd"},
      {"a%kelvorin%b%%1%%", "a%kelvorin%bA"},
      {"no markers, %%1%% and %%2%%", "no markers, A and 5"},
      {"%kelvorin%\r\n%%1%%\r\n%kelvorin%\r\nmid %kelvorin% tail %%2%%",
       "A\r\nB\r\nmid %kelvorin% tail 5"},
      {"x%kelvorin%\r%%1%%;%kelvorin%\ny", "xA;B;y"},         // lone CR, lone LF
      {"x%kelvorin%\n\r%%1%%%kelvorin%\n\ry", "x\rA\rB\ry"},  // of LF CR only LF goes
      {"p%kelvorin%1%kelvorin%q%kelvorin%2%kelvorin%r", "p11q22r"},
      {"Total %%1%%", "Total A"},  // ends on a placeholder: a last write of 0 bytes
      {"%KELVORIN% %%1%% %KELVORIN%", "%KELVORIN% A %KELVORIN%"},  // markers match case
  };
  for (const MergeCase& c : cases) {
    int result = 0;
    EXPECT_EQ(Merge(c.message, &result), c.written) << c.message;
    EXPECT_EQ(result, 1);
  }
  EXPECT_EQ(Logged(), "");
}

// A NUL byte is one byte like any other: nothing after it may be lost.
TEST_F(MergeWriterTest, KeepsEveryByteOfAMessageWithNulBytes) {
  FillTable(kTwoRows);
  const char message[] = "a\0b %%1%%\r\n%kelvorin%\0%%2%%%kelvorin%\0";
  const char merged[] =
      "a\0b A\r\n\0"
      "5\0"
      "7\0";
  EXPECT_EQ(Merge(std::string(message, sizeof message - 1)),
            std::string(merged, sizeof merged - 1));
}

TEST_F(MergeWriterTest, PlaceholderCornerCases) {
  FillTable({{"A", "B", "C"}, {"D", "E", "F"}});
  const std::string zeros49(49, '0');
  const std::string digits60(60, '1');
  const std::pair<std::string, std::string> cases[] = {
      {"%%003%%", "C"},
      {"%%" + zeros49 + "1%%", "A"},
      {"%%0" + zeros49 + "1%%", "%%0" + zeros49 + "1%%"},
      {"%%" + digits60 + "%%", "%%" + digits60 + "%%"},
      {"%%0%% %%%% %%x%% %%4%%", "%%0%% %%%% %%x%% %%4%%"},
      {"%%9%%1%%", "%%9A"},
      {"end %%1", "end %%1"},
      {"%%4294967297%% %%2147483649%%", "%%4294967297%% %%2147483649%%"},
      {"%kelvorin%%%1%%%%2%kelvorin%", "A%%2D%%2"},  // "%%2" runs into the marker
  };
  for (const auto& [message, written] : cases) EXPECT_EQ(Merge(message), written) << message;
}

TEST_F(MergeWriterTest, ANullCellVanishesAndCellTextIsFilledInTheSecondPass) {
  std::vector<std::string> wide(70, "w");
  wide[0] = "%%2%%";  // a value that itself looks like a placeholder
  wide[1] = "second";
  FillTable({wide});
  EXPECT_EQ(Merge("[%%65%%][%%70%%][%%71%%]"), "[][][%%71%%]");
  EXPECT_EQ(Merge("%kelvorin%%%1%%%kelvorin%"), "second");
}

TEST_F(MergeWriterTest, EmptyRownameMakesEveryPairOfPercentsABlock) {
  std::strcpy(kelvorin::g_settings.BlockMarker, "%%");
  FillTable(kTwoRows);
  EXPECT_EQ(Merge("a%%b%%1%%c"), "abb1%%c");
}

TEST_F(MergeWriterTest, WrapsLongCellsInsideBlocksOnly) {
  const std::string fits(56, 'x');
  const std::string wraps = std::string(28, 'y') + " " + std::string(28, 'z');  // 57
  FillTable({{fits, wraps}});
  kelvorin::g_settings.FormatLeft = 4;
  kelvorin::g_settings.FormatRight = 60;
  EXPECT_EQ(Merge("%kelvorin%%%1%%|%%2%%%kelvorin%/%%2%%"),
            fits + "|    " + std::string(28, 'y') + " " + std::string(28, 'z') + "/" + wraps);
  FillTable({{"alpha beta gamma delta"}});
  kelvorin::g_settings.FormatLeft = 0;
  kelvorin::g_settings.FormatRight = 10;
  // The same cell twice in a block and once after it: whole every time.
  EXPECT_EQ(Merge("%kelvorin%%%1%%|%%1%%%kelvorin%/%%1%%"),
            "alpha beta\ngamma delta|alpha beta\ngamma delta/alpha beta gamma delta");
  kelvorin::g_settings.FormatLeft = 10;
  kelvorin::g_settings.FormatRight = 0;
  FillTable({{"ab"}});
  EXPECT_EQ(Merge("%kelvorin%%%1%%%kelvorin%"), std::string(10, ' ') + "ab");
  kelvorin::g_settings.FormatLeft = 0;
  EXPECT_EQ(Merge("%kelvorin%%%1%%%kelvorin%"), "ab");  // both 0: never wrapped
}

TEST_F(MergeWriterTest, ABusyMessageFileIsNotOverwritten) {
  FillTable(kTwoRows);
  WriteFile(message_, "old %%1%%");
  platform::File holder = platform::OpenForAppend(message_.c_str(), nullptr);
  ASSERT_NE(holder, platform::kNoFile);
  EXPECT_EQ(kelvorin::WriteMergedMessage(message_.c_str(), "old %%1%%", 9), 0);
  platform::Close(holder);
  EXPECT_EQ(ReadFile(message_), "old %%1%%");
  EXPECT_EQ(Logged(), "ERROR: can't overwrite message file\r\n");
  EXPECT_TRUE(Leftovers().empty());
}

// A rewrite that fails anywhere leaves the message exactly as it was.
TEST_F(MergeWriterTest, EveryFailingWriteFlushOrRenameKeepsTheOldMessage) {
  Rows rows(200, {std::string(700, 'v'), "w"});  // over 64 KiB: several writes
  FillTable(rows);
  std::string message = "Head\r\n%kelvorin%\r\n%%1%% %%2%%\r\n%kelvorin%\r\n";
  for (int i = 0; i < 300; ++i) message += "%%1%% ";  // pieces for the buffered writes
  int writes = 0;
  for (int nth = 1;; ++nth) {
    platform::fault::FailNth(platform::fault::Op::kWrite, nth);
    int result = 0;
    std::string after = Merge(message, &result);
    if (result == 1) break;
    writes = nth;
    EXPECT_EQ(after, message) << "write " << nth;
    ASSERT_LT(nth, 100);
  }
  EXPECT_GE(writes, 3);
  for (auto op : {platform::fault::Op::kFlush, platform::fault::Op::kRename}) {
    platform::fault::FailNth(op, 1);
    int result = 1;
    EXPECT_EQ(Merge(message, &result), message);
    EXPECT_EQ(result, 0);
  }
  // One "ERROR: file writing error" line (25 characters) per failed rewrite.
  EXPECT_EQ(Logged().substr(0, 27), "ERROR: file writing error\r\n");
  EXPECT_EQ(ReadFile(log_).size(), (20u + 27u) * (writes + 2));
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(MergeWriterTest, RunningOutOfMemoryKeepsTheOldMessage) {
  FillTable(kTwoRows);
  platform::fault::FailNth(platform::fault::Op::kAlloc, 1);
  int result = 1;
  EXPECT_EQ(Merge("%kelvorin%%%1%%%kelvorin%", &result), "%kelvorin%%%1%%%kelvorin%");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(Logged(), "ERROR: out of memory.\r\n");
  EXPECT_TRUE(Leftovers().empty());
}

}  // namespace
