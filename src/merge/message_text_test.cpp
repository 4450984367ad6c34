#include "message_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fault.h"

namespace {

using kelvorin::kRecipientCapacity;

// Everything the program refuses or cuts before the database sees the address is decided here.
TEST(ExtractRecipientTest, TakesTheFirstRecipientLineOnly) {
  const std::string longest(999, '\''), too_long(1000, 'a');
  struct RecipientCase {
    std::string message, address;  // address "": refused
  };
  const RecipientCase cases[] = {
      {"Subject: x\r\n<<< ann@example.com\r\nHello\r\n", "ann@example.com"},
      {"Subject: x\r\n<<< ann@example.com", "ann@example.com"},  // last line, no line end
      {"Subject: x\r\n<<<  ann@x.org \t\r\n", " ann@x.org \t"},  // blanks stay
      {"x\r\n<<< mallory@x.org\r' OR '1'='1", "mallory@x.org"},  // a lone CR ends it too
      {"x\r\n<<< mallory@x.org\n' OR '1'='1", "mallory@x.org"},
      {"<<< ann@example.com\r\nHello\r\n", ""},               // first line: no CR LF before
      {"Subject: x\n<<< ann@example.com\n", ""},              // LF-only lines
      {"Subject: x\r\n<<<ann@example.com\r\n", ""},           // no space after <<<
      {"Subject: x\r\n<<< \r\n<<< ann@example.com\r\n", ""},  // the first one is empty
      {"x\r\n<<< \\' OR 1=1 -- ", ""},  // a backslash escapes a quote on some servers
      {"x\r\n<<< a@x.org\\", ""},
      {"x\r\n<<< " + longest + "\r\n", longest},
      {"x\r\n<<< " + too_long + "\r\n", ""},
  };
  for (const auto& [message, address] : cases) {
    char buffer[kRecipientCapacity + 8];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(kelvorin::ExtractRecipient(message.c_str(), buffer), !address.empty()) << message;
    EXPECT_EQ(buffer, address);
    EXPECT_EQ(buffer[kRecipientCapacity], '#');  // nothing written past the buffer
  }
}

TEST(SubstituteRecipientTest, ReplacesTheFirstTokenWithQuotesDoubled) {
  const char* cases[][3] = {
      {"a='%recipient%' OR b='%recipient%'", "x@y", "a='x@y' OR b='%recipient%'"},
      {"'%recipient%'", "x' OR '1'='1", "'x'' OR ''1''=''1'"},
      {"SELECT 1", "x@y", nullptr},  // no token: no new text
      {"SELECT '%Recipient%'", "x@y", nullptr},
  };
  for (auto& c : cases) {
    char* result = nullptr;
    EXPECT_TRUE(kelvorin::SubstituteRecipient(c[0], c[1], &result));
    EXPECT_EQ(result ? std::string(result) : "<none>", c[2] ? c[2] : "<none>");
    kelvorin::FreeText(result);
  }
  // With no memory the query must not run with its bare token: in a LIKE it would match others.
  platform::fault::FailNth(platform::fault::Op::kAlloc, 1);
  char* result = nullptr;
  EXPECT_FALSE(kelvorin::SubstituteRecipient("a LIKE '%recipient%'", "x@y", &result));
  EXPECT_EQ(result, nullptr);
  platform::fault::Reset();
}

}  // namespace
