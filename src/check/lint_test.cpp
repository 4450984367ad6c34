#include "lint.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

std::string Joined(const kelvorin::Findings& findings) {
  std::string text;
  for (const auto& f : findings) text += f.where + ": " + f.text + "\n";
  return text;
}

// Each problem a template can have, found on its line; "msg:N" is the line.
TEST(LintTest, FindsTheTemplatesProblemsOnTheirLines) {
  struct Case {
    std::string message;
    int columns, rows;
    std::string found;
  };
  const Case cases[] = {
      {"a\r\n%k%\r\n%%1%% %%2%%\r\n%k%\r\nTotal %%1%%\r\n", 2, 1, ""},
      {"a\r\n%k%\r\n%%1%%\r\n%k%\r\n%k%\r\nrest\r\n", 1, 1,
       "msg:5: row-block marker %k% has no partner: it is sent as it is, with the text after it\n"},
      {"x %%6%% %%5%% %%0%% %%4294967297%%", 5, 1,
       "msg:1: placeholder %%6%% names no column: the query gives 5, so it is sent as written\n"},
      {"%k%%%1%%%k%\r\nTotal %%1%%", 1, 3,
       "msg:2: placeholder %%1%% is outside every row block: only the first of the 3 rows fills "
       "it\n"},
      {"%k%%%7%%%k%", -1, 0, "msg:1: row block, but the query gives no rows\n"},
  };
  for (const Case& c : cases) {
    kelvorin::Findings found;
    kelvorin::LintTemplate("msg", c.message.data(), c.message.size(), "%k%", c.columns, c.rows,
                           &found);
    EXPECT_EQ(Joined(found), c.found) << c.message;
  }
  kelvorin::Findings left;
  kelvorin::LintMerged("msg", "ok\r\n%k% %%2%% %%3%%", "%k%", 2, &left);
  EXPECT_EQ(Joined(left),
            "msg:2 merged: block marker %k% left in the merged message\n"
            "msg:2 merged: placeholder %%2%% left in the merged message\n");
}

TEST(LintTest, FindsUnknownKeysWithTheirNearestAndValuesCutShort) {
  testing_support::TempDir dir;
  const std::string ini = dir.File("kelvorin.INI");
  testing_support::WriteFile(ini, "[Database]\r\nSource=s\r\nRequest=" + std::string(400, 'q') +
                                      "\r\nQuery=x\r\n[Options]\r\nDeleteOnError=No\r\n"
                                      "skipspaces=no\r\n[Other]\r\nAnything=1\r\n");
  kelvorin::Findings found;
  kelvorin::LintIni(ini.c_str(), &found);
  EXPECT_EQ(Joined(found),
            ini + ": [Database] Query is not a key the plug-in reads\n" + ini +
                ": [Options] DeleteOnError is not a key the plug-in reads; did you mean "
                "DeleteOnErrors?\n" +
                ini + ": [Database] Request has 400 characters; the plug-in keeps the first 359\n");
}

}  // namespace
