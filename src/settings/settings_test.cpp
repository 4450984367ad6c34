#include "settings.h"

#include <gtest/gtest.h>

#include <string>

#include "platform_config.h"
#include "test_support.h"

namespace {

const std::string kSep(1, platform::kPathSeparator);
const std::string kOtherSep(1, platform::kPathSeparator == '/' ? '\\' : '/');
const std::string kSourceError = "ERROR: configuration file reading error [Database -> Source] ";
const std::string kRequestError = "ERROR: configuration file reading error [Database -> Request] ";

// What a run takes from its settings, in one line: Source, Username,
// Password, block marker, Request, DeleteOnErrors, SkipSpaces, margins,
// HeaderGuard, Quarantine and QueryTimeout (shown only when off, set or not
// the default).
std::string Summary(const kelvorin::Settings& s) {
  return std::string(s.Source) + "|" + s.Username + "|" + s.Password + "|" + s.BlockMarker + "|" +
         s.Request + "|" + (s.DeleteOnErrors ? "del" : "keep") + "|" +
         (s.SkipSpaces ? "skip" : "noskip") + "|" + std::to_string(s.FormatLeft) + "|" +
         std::to_string(s.FormatRight) + (s.HeaderGuard ? "" : "|unguarded") + s.Quarantine +
         (s.QueryTimeout == 60 ? "" : "|t" + std::to_string(s.QueryTimeout));
}

struct SettingsCase {
  std::string ini;
  std::string summary;  // <dir> stands for the program's folder
  std::string failure;  // the failure's line; <ini> stands for the INI path
};

TEST(SettingsTest, ReadsTheIniAsTheRunNeedsIt) {
  const std::string db = "[Database]\r\nSource=s\r\n", q = "Request=q\r\n";
  const std::string long_bare(340, 'n'), long_path = kSep + std::string(400, 'p');
  // clang-format off
  const SettingsCase cases[] = {
      {"[Database]\r\nSource=\r\nRequest=q\r\n", "|||||del|skip|0|0", kSourceError + "<ini>"},
      {db + "[Options]\r\nDeleteOnErrors=no\r\n", "s|||%kelvorin%||del|skip|0|0",
       kRequestError + "<ini>"},  // the options come after Request
      {"[Database]\r\nSource=shop\r\nUsername=ann\r\nPassword=p w\r\nRowname=order\r\n"
       "Request=orders.sql\r\n[Options]\r\nDeleteOnErrors=no\r\nSkipSpaces=yES\r\n"
       "FormatLeft=12abc\r\nFormatRight=-5\r\nHeaderGuard=no\r\nQuarantine=|failed\r\n"
       "QueryTimeout=15s\r\n",
       "shop|ann|p w|%order%|<dir>orders.sql|keep|skip|12|-5|unguarded|failed|t15", ""},
      {db + "Rowname=\r\n" + q + "[Options]\r\nSkipSpaces=\r\nFormatLeft=abc\r\n"
       "FormatRight=99999999999\r\nQueryTimeout=\r\n", "s|||%%|<dir>q|del|noskip|0|2147483647", ""},
      {db + "Request=sub" + kSep + "q\r\n[Options]\r\nDeleteOnErrors=Yes \r\nFormatLeft= -3\r\n"
       "QueryTimeout=0\r\n", "s|||%kelvorin%|sub" + kSep + "q|del|skip|-3|0|t0", ""},
      {db + q + "[Options]\r\nDeleteOnErrors=Yesterday\r\nSkipSpaces=On\r\nHeaderGuard=On\r\n",
       "s|||%kelvorin%|<dir>q|keep|noskip|0|0", ""},  // only No turns the guard off
      {db + "Request=sub" + kOtherSep + "q\r\n[Options]\r\nQueryTimeout=-1\r\n",
       "s|||%kelvorin%|<dir>sub" + kOtherSep + "q|del|skip|0|0", ""},
      {db + "Request=" + long_path + "\r\n",  // cut to its capacity, then kept
       "s|||%kelvorin%|" + long_path.substr(0, 359) + "|del|skip|0|0", ""},
      {db + "Request=" + long_bare + "\r\n",  // joined it would not fit: never cut to another
       "s|||%kelvorin%||del|skip|0|0", kRequestError + "<ini>"},
      {"[Database]\r\nSource=" + std::string(1500, 's') + "\r\nRowname=" + std::string(600, 'r')
       + "\r\n" + q,
       std::string(999, 's') + "|||%" + std::string(529, 'r') + "%|<dir>q|del|skip|0|0", ""},
  };
  // clang-format on
  for (const SettingsCase& c : cases) {
    SCOPED_TRACE(c.ini.substr(0, 60));
    testing_support::TempDir dir;
    const std::string ini = dir.File("kelvorin.INI");
    testing_support::WriteFile(ini, c.ini);
    kelvorin::Settings settings;
    kelvorin::StepFailure failure;
    bool ok = kelvorin::ReadSettings(ini.c_str(), dir.path().c_str(), &settings, &failure);
    EXPECT_EQ(ok, c.failure.empty());
    std::string summary = c.summary, expected = c.failure;
    for (auto* text : {&summary, &expected}) {
      for (auto [mark, value] : {std::pair{"<dir>", dir.path()}, {"<ini>", ini}}) {
        if (auto at = text->find(mark); at != std::string::npos) text->replace(at, 5, value);
      }
    }
    EXPECT_EQ(Summary(settings), summary);
    EXPECT_EQ(ok ? "" : kelvorin::FailureText(failure), expected);
  }
}

}  // namespace
