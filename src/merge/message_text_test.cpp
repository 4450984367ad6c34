#include "message_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fault.h"
#include "platform.h"
#include "test_support.h"

namespace {

using kelvorin::kRecipientCapacity;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(ExtractRecipientTest, TakesTheFirstRecipientLineOnly) {
  struct Case {
    std::string message;
    const char* recipient;  // "" when refused
  };
  const std::string longest(999, 'a');
  const std::string too_long(1000, 'a');
  const Case cases[] = {
      {"Subject: x\r\n<<< ann@example.com\r\nHello\r\n", "ann@example.com"},
      {"Subject: x\r\n<<< ann@example.com", "ann@example.com"},  // last line, no line end
      {"Subject: x\r\n<<<  ann@x.org \t\r\n", " ann@x.org \t"},  // blanks stay
      {"Subject: x\r\n<<< ann@x.org\rmore", "ann@x.org"},        // a lone CR ends it too
      {"<<< ann@example.com\r\nHello\r\n", ""},                  // first line: no CR LF before
      {"Subject: x\n<<< ann@example.com\n", ""},                 // LF-only lines
      {"Subject: x\r\n<<<ann@example.com\r\n", ""},              // no space after <<<
      {"Subject: x\r\n<<< \r\n<<< ann@example.com\r\n", ""},     // the first one is empty
      {"Subject: x\r\n<<< ", ""},
      {"Hello\r\n", ""},
      {"x\r\n<<< o'brien@example.com\r\n", "o'brien@example.com"},
      {"x\r\n<<< a\\b@example.com\r\n", ""},  // a backslash could escape an SQL literal
      {"x\r\n<<< " + longest + "\r\n", longest.c_str()},
      {"x\r\n<<< " + too_long + "\r\n", ""},
      {"x\r\n<<< " + too_long + too_long, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message.substr(0, 40));
    char buffer[kRecipientCapacity + 8];
    std::memset(buffer, '#', sizeof buffer);
    int found = kelvorin::ExtractRecipient(c.message.c_str(), buffer);
    EXPECT_EQ(found, c.recipient[0] != '\0' ? 1 : 0);
    EXPECT_STREQ(buffer, c.recipient);
    EXPECT_EQ(buffer[kRecipientCapacity], '#');  // nothing written past the buffer
  }
}

TEST(SubstituteRecipientTest, ReplacesTheFirstTokenWithQuotesDoubled) {
  struct Case {
    const char* query;
    const char* recipient;
    const char* result;  // null when no new text comes back
  };
  const Case cases[] = {
      {"SELECT * FROM t WHERE a='%recipient%'", "ann@x.org", "SELECT * FROM t WHERE a='ann@x.org'"},
      {"a='%recipient%' OR b='%recipient%'", "x@y", "a='x@y' OR b='%recipient%'"},
      {"%recipient%", "o'brien@x.org", "o''brien@x.org"},
      {"'%recipient%'", "x' OR '1'='1", "'x'' OR ''1''=''1'"},
      {"a='%recipient%';", "''", "a='''''';"},
      {"SELECT 1", "x@y", nullptr},
      {"SELECT '%Recipient%'", "x@y", nullptr},  // case counts
      {"%recipient", "x@y", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    char* result = nullptr;
    EXPECT_EQ(kelvorin::SubstituteRecipient(c.query, c.recipient, &result), 1);
    if (c.result == nullptr) {
      EXPECT_EQ(result, nullptr);
    } else {
      ASSERT_NE(result, nullptr);
      EXPECT_STREQ(result, c.result);
    }
    kelvorin::FreeText(result);
  }
}

// The query must not run with its bare token: "%recipient%" inside a LIKE
// pattern would match other addresses.
TEST(SubstituteRecipientTest, RunningOutOfMemoryIsAFailure) {
  platform::fault::FailNth(platform::fault::Op::kAlloc, 1);
  char* result = nullptr;
  EXPECT_EQ(kelvorin::SubstituteRecipient("a LIKE '%recipient%'", "x@y", &result), 0);
  EXPECT_EQ(result, nullptr);
  platform::fault::Reset();
}

TEST(LoadWholeFileTest, LoadsWholeFilesAndRefusesEmptyMissingAndBusyOnes) {
  TempDir dir;
  WriteFile(dir.File("text"), "line 1\r\nline 2");
  WriteFile(dir.File("with-nul"), std::string("before\0after", 12));
  WriteFile(dir.File("empty"), "");
  struct Case {
    const char* name;
    const char* text;  // null: the load fails
  };
  const Case cases[] = {{"text", "line 1\r\nline 2"},
                        {"with-nul", "before"},
                        {"empty", nullptr},
                        {"absent", nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char* sentinel = reinterpret_cast<char*>(&dir);
    char* text = sentinel;
    int ok = kelvorin::LoadWholeFile(dir.File(c.name).c_str(), &text);
    EXPECT_EQ(ok, c.text ? 1 : 0);
    if (c.text) {
      EXPECT_STREQ(text, c.text);
      kelvorin::FreeText(text);
    } else {
      EXPECT_EQ(text, sentinel);  // untouched on failure
    }
  }
}

TEST(LoadWholeFileTest, FailsWhileAnotherOpenerWritesTheFile) {
  TempDir dir;
  std::string path = dir.File("held");
  WriteFile(path, "content");
  platform::File writer = platform::OpenForAppend(path.c_str(), nullptr);
  ASSERT_NE(writer, platform::kNoFile);
  char* text = nullptr;
  EXPECT_EQ(kelvorin::LoadWholeFile(path.c_str(), &text), 0);
  platform::Close(writer);
  ASSERT_EQ(kelvorin::LoadWholeFile(path.c_str(), &text), 1);
  EXPECT_STREQ(text, "content");
  kelvorin::FreeText(text);
}

}  // namespace
