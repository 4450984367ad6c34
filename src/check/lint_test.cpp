#include "lint.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

std::string Joined(const kelvorin::Findings& findings, const std::string& ini) {
  std::string text;
  for (const auto& f : findings) text += (f.where == ini ? "ini" : f.where) + ": " + f.text + "\n";
  return text;
}

// In line order: numbers that are no placeholders, a block without rows around the recipient line,
// a placeholder a value left behind, one outside the blocks of several rows, a marker without a
// partner, a key near none or near one, a value cut to what the plug-in keeps.
TEST(LintTest, FindsEachProblemWithItsLine) {
  kelvorin::Findings found;
  const std::string message = "x %%6%% %%5%% %%0%% %%4294967297%%\r\n%k% %%7%%\r\n<<< a@b %k%";
  kelvorin::LintTemplate("msg", message.data(), message.size(), "%k%", 5, 0, &found);
  kelvorin::LintMerged("msg", "ok\r\n%%2%% %%9%%", "%k%", 2, &found);
  kelvorin::LintTemplate("two", "Total %%1%%\r\n%k%\r\n", 17, "%k%", 1, 2, &found);
  testing_support::TempDir dir;
  const std::string ini = dir.File("kelvorin.INI");
  testing_support::WriteFile(ini,
                             "[Database]\r\nSource=s\r\nRequest=" + std::string(400, 'q') +
                                 "\r\nQuery=x\r\n[Options]\r\nskipspaces=no\r\nDeleteOnError=No\r\n"
                                 "DeleteOnErrors=\r\nHeaderGuard=Off\r\n");
  kelvorin::LintIni(ini.c_str(), &found);
  EXPECT_EQ(
      Joined(found, ini),
      "msg:1: placeholder %%6%% names no column: the query gives 5, so it is sent as written\n"
      "msg:2: row block, but the query gives no rows\n"
      "msg:2: placeholder %%7%% names no column: the query gives 5, so it is sent as written\n"
      "msg:3: recipient line inside a row block: it is written once per row, so the plug-in "
      "fails the merge of more than one row\n"
      "msg:2 merged: placeholder %%2%% left in the merged message\n"
      "two:1: placeholder %%1%% is outside every row block: only the first of the 2 rows fills it\n"
      "two:2: row-block marker %k% has no partner: it is sent as it is, with the text after it\n"
      "ini: [Database] Query is not a key the plug-in reads\n"
      "ini: [Options] DeleteOnError is not a key the plug-in reads; did you mean DeleteOnErrors?\n"
      "ini: [Database] Request has 400 characters; the plug-in keeps the first 359\n"
      "ini: [Options] DeleteOnErrors= is neither Yes nor No: the plug-in reads it as No\n"
      "ini: [Options] HeaderGuard=Off is neither Yes nor No: the plug-in reads it as Yes\n");
}

}  // namespace
