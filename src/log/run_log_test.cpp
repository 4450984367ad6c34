#include "run_log.h"

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform.h"
#include "test_support.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

// The texts of the log's lines, time stamps checked and removed.
std::vector<std::string> Texts(const std::string& log) {
  static const std::regex stamp("^\\d\\d:\\d\\d:\\d\\d \\d\\d-\\d\\d-\\d{4,} ");
  std::vector<std::string> texts;
  std::size_t at = 0;
  while (at < log.size()) {
    std::size_t end = log.find("\r\n", at);
    if (end == std::string::npos) end = log.size();
    std::string line = log.substr(at, end - at);
    EXPECT_TRUE(std::regex_search(line, stamp)) << line;
    texts.push_back(line.size() >= 20 ? line.substr(20) : line);
    at = end + 2;
  }
  return texts;
}

class RunLogTest : public ::testing::Test {
 protected:
  RunLogTest() : path_(dir_.File("run.LOG")) { log_.SetPath(path_.c_str()); }
  std::vector<std::string> Lines() { return Texts(ReadFile(path_)); }
  TempDir dir_;
  std::string path_;
  kelvorin::RunLog log_;
};

TEST_F(RunLogTest, LineIsStampedAndExactly22BytesLongerThanItsText) {
  log_.Write("+++ Process: msg.txt");
  std::string file = ReadFile(path_);
  EXPECT_EQ(file.size(), 20u + 22u);
  EXPECT_EQ(file.substr(file.size() - 22), "+++ Process: msg.txt\r\n");
  EXPECT_EQ(Lines(), std::vector<std::string>{"+++ Process: msg.txt"});
}

TEST_F(RunLogTest, WritesTextsUpTo2000CharactersAndNothingElse) {
  const std::string longest(2000, 'a');
  const std::string too_long(2001, 'b');
  log_.Write(longest.c_str());
  log_.Write(too_long.c_str());
  log_.Write("");
  log_.Write(nullptr);
  EXPECT_EQ(Lines(), std::vector<std::string>{longest});
}

TEST_F(RunLogTest, MultiLineTextIsWrittenUnchangedUnderOneStamp) {
  log_.Write("SELECT 1\r\nFROM t");
  std::string file = ReadFile(path_);
  EXPECT_EQ(file.size(), 20u + 18u);
  EXPECT_EQ(file.substr(20), "SELECT 1\r\nFROM t\r\n");
}

TEST_F(RunLogTest, PairsJoinWithOneSpaceWithinTheirLimit) {
  struct Case {
    const char* label;
    const char* value;
  };
  const std::string label(1000, 'l');
  const std::string value_899(899, 'v');  // 1000 + 899 = 1899: written
  const std::string value_900(900, 'w');  // 1000 + 900 = 1900: dropped whole
  const Case cases[] = {{"ERROR: can't load file", "q.sql"},
                        {"label only", ""},
                        {"label only", nullptr},
                        {"", "value only"},
                        {nullptr, "value only"},
                        {"", ""},
                        {nullptr, nullptr},
                        {label.c_str(), value_899.c_str()},
                        {label.c_str(), value_900.c_str()}};
  for (const Case& c : cases) log_.WritePair(c.label, c.value);
  EXPECT_EQ(Lines(),
            (std::vector<std::string>{"ERROR: can't load file q.sql", "label only", "label only",
                                      "value only", "value only", label + " " + value_899}));
}

TEST_F(RunLogTest, AppendsToWhatIsThereAndCreatesWhatIsNot) {
  WriteFile(path_, "old line\r\n");
  log_.Write("new line");
  std::string file = ReadFile(path_);
  EXPECT_EQ(file.substr(0, 10), "old line\r\n");
  EXPECT_EQ(file.substr(file.size() - 10), "new line\r\n");
}

TEST_F(RunLogTest, AnUnnamedLogWritesNothing) {
  const std::string too_long(kelvorin::kLogPathCapacity, 'x');
  for (const char* path : {static_cast<const char*>(nullptr), too_long.c_str()}) {
    log_.SetPath(path);
    EXPECT_STREQ(log_.path(), "");
    log_.Write("lost");
  }
  EXPECT_FALSE(testing_support::FileExists(path_));
}

// Another process holding the log for a line must delay ours, not lose it.
TEST_F(RunLogTest, WaitsForAnotherWriterInsteadOfDroppingTheLine) {
  platform::File holder = platform::OpenForAppend(path_.c_str(), nullptr);
  ASSERT_NE(holder, platform::kNoFile);
  std::thread release([holder] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    platform::Close(holder);
  });
  log_.Write("after the wait");
  release.join();
  EXPECT_EQ(Lines(), std::vector<std::string>{"after the wait"});
}

TEST_F(RunLogTest, GivesUpAfterAboutTwoSecondsWhenTheLogStaysHeld) {
  platform::File holder = platform::OpenForAppend(path_.c_str(), nullptr);
  ASSERT_NE(holder, platform::kNoFile);
  log_.Write("given up");
  platform::Close(holder);
  EXPECT_EQ(ReadFile(path_), "");
}

TEST(SectionLockTest, UninitialisedLockLetsCallersPassAndDeleteIsIdempotent) {
  kelvorin::SectionLock lock(false);
  lock.Enter();
  lock.Leave();
  lock.Init();
  lock.Init();
  lock.Enter();
  lock.Leave();
  lock.Delete();
  lock.Delete();
  lock.Enter();
  lock.Leave();
}

}  // namespace
