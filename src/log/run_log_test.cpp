#include "run_log.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <regex>
#include <string>
#include <thread>

#include "platform.h"
#include "test_support.h"

namespace {

class RunLogTest : public ::testing::Test {
 protected:
  RunLogTest() { log_.SetPath(path_.c_str()); }
  // The log's bytes, each line's stamp as "|": a line without one continues the entry before it.
  std::string Texts() const {
    static const std::regex stamp("(^|\r\n)\\d\\d:\\d\\d:\\d\\d \\d\\d-\\d\\d-\\d{4} ");
    return std::regex_replace(testing_support::ReadFile(path_), stamp, "|");
  }
  testing_support::TempDir dir_;
  const std::string path_ = dir_.File("run.LOG");
  kelvorin::RunLog log_;
};

// Texts up to 2000 characters go in whole, stamped, CR LF ended, line breaks inside them kept;
// pairs join with one space below 1900 characters together, their values' CR and LF as spaces.
TEST_F(RunLogTest, WritesWhatFitsItsLimitsAndNothingElse) {
  testing_support::WriteFile(path_, "old line\r\n");
  const std::string longest(2000, 'a'), label(1000, 'l'), v899(899, 'v'), v900(900, 'w');
  log_.Write(longest.c_str());
  log_.Write(std::string(2001, 'b').c_str());
  log_.Write("");
  log_.Write(nullptr);
  log_.WritePair("ERROR: can't load file", "q\r\n.s\rq\nl");
  log_.WritePair("label only", "");
  log_.WritePair(nullptr, "value\r\nonly");
  log_.WritePair("", nullptr);
  log_.WritePair(label.c_str(), v899.c_str());
  log_.WritePair(label.c_str(), v900.c_str());
  log_.Write("SELECT 1\r\nFROM t");
  EXPECT_EQ(Texts(), "old line|" + longest +
                         "|ERROR: can't load file q  .s q l|label only|value  only|" + label + " " +
                         v899 + "|SELECT 1\r\nFROM t\r\n");
}

// Another process holding the log for a line must delay ours, not lose it; one that never lets go
// costs about two seconds, then the line. A log removed between lines is made anew.
TEST_F(RunLogTest, WaitsForAnotherWriterAndGivesUpInTheEnd) {
  log_.Write("first");
  platform::File holder;
  ASSERT_TRUE(platform::OpenForAppend(path_.c_str(), &holder));
  log_.Write("given up");
  std::thread release([&holder] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    holder.Close();
  });
  log_.Write("after the wait");
  release.join();
  EXPECT_EQ(Texts(), "|first|after the wait\r\n");
  std::remove(path_.c_str());
  log_.Write("anew");
  EXPECT_EQ(Texts(), "|anew\r\n");
}

}  // namespace
