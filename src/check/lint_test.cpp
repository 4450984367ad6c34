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

// In line order, and what the system tables' templates do not show: numbers that are no
// placeholders, a block without rows around the recipient line, a placeholder a value left behind,
// a key near none, a value cut to what the plug-in keeps.
TEST(LintTest, FindsWhatTheChecksTemplatesDoNotShow) {
  kelvorin::Findings found;
  const std::string message = "x %%6%% %%5%% %%0%% %%4294967297%%\r\n%k% %%7%%\r\n<<< a@b %k%";
  kelvorin::LintTemplate("msg", message.data(), message.size(), "%k%", 5, 0, &found);
  kelvorin::LintMerged("msg", "ok\r\n%%2%% %%9%%", "%k%", 2, &found);
  testing_support::TempDir dir;
  const std::string ini = dir.File("kelvorin.INI");
  testing_support::WriteFile(ini, "[Database]\r\nSource=s\r\nRequest=" + std::string(400, 'q') +
                                      "\r\nQuery=x\r\n[Options]\r\nskipspaces=no\r\n"
                                      "DeleteOnErrors=\r\nHeaderGuard=Off\r\n");
  kelvorin::LintIni(ini.c_str(), &found);
  EXPECT_EQ(
      Joined(found),
      "msg:1: placeholder %%6%% names no column: the query gives 5, so it is sent as written\n"
      "msg:2: row block, but the query gives no rows\n"
      "msg:2: placeholder %%7%% names no column: the query gives 5, so it is sent as written\n"
      "msg:3: recipient line inside a row block: it is written once per row, so the plug-in "
      "fails the merge of more than one row\n"
      "msg:2 merged: placeholder %%2%% left in the merged message\n" +
          ini + ": [Database] Query is not a key the plug-in reads\n" + ini +
          ": [Database] Request has 400 characters; the plug-in keeps the first 359\n" + ini +
          ": [Options] DeleteOnErrors= is neither Yes nor No: the plug-in reads it as No\n" + ini +
          ": [Options] HeaderGuard=Off is neither Yes nor No: the plug-in reads it as Yes\n");
}

}  // namespace
