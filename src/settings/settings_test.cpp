#include "settings.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "platform_config.h"
#include "test_support.h"

namespace {

const std::string kSep(1, platform::kPathSeparator);
const std::string kOtherSep(1, platform::kPathSeparator == '/' ? '\\' : '/');

// The settings a run takes and its failure, as "Key=value" words: only those that differ from a
// run of Source=s and Request=q alone; <dir> stands for the program's folder.
std::string Taken(const kelvorin::Settings& s, const std::string& failure, const std::string& dir) {
  std::ostringstream all;
  all << "Source=" << s.Source << "\nUsername=" << s.Username << "\nPassword=" << s.Password
      << "\nMarker=" << s.BlockMarker << "\nRequest=" << s.Request
      << "\nDeleteOnErrors=" << s.DeleteOnErrors << "\nSkipSpaces=" << s.SkipSpaces
      << "\nFormatLeft=" << s.FormatLeft << "\nFormatRight=" << s.FormatRight
      << "\nHeaderGuard=" << s.HeaderGuard << "\nQuarantine=" << s.Quarantine
      << "\nQueryTimeout=" << s.QueryTimeout << "\nFailure=" << failure;
  std::istringstream got(all.str());
  std::istringstream usual(
      "Source=s\nUsername=\nPassword=\nMarker=%kelvorin%\nRequest=<dir>q\n"
      "DeleteOnErrors=1\nSkipSpaces=1\nFormatLeft=0\nFormatRight=0\n"
      "HeaderGuard=1\nQuarantine=\nQueryTimeout=60\nFailure=");
  std::string text;
  for (std::string line, other; std::getline(got, line) && std::getline(usual, other);) {
    for (std::size_t at; (at = line.find(dir)) != std::string::npos;)
      line.replace(at, dir.size(), "<dir>");
    if (line != other) text += (text.empty() ? "" : " ") + line;
  }
  return text;
}

struct SettingsCase {
  std::string ini, taken;
};

TEST(SettingsTest, ReadsTheIniAsTheRunNeedsIt) {
  const std::string db = "[Database]\r\nSource=s\r\n", q = "Request=q\r\n";
  const std::string long_path = kSep + std::string(400, 'p');
  const SettingsCase cases[] = {
      {.ini = "[Database]\r\nSource=shop\r\nUsername=ann\r\nPassword=p w\r\nRowname=order\r\n"
              "Request=orders.sql\r\n[Options]\r\nDeleteOnErrors=no\r\nSkipSpaces=yES\r\n"
              "FormatLeft=12abc\r\nFormatRight=-5\r\nHeaderGuard=no\r\nQuarantine=|failed\r\n"
              "QueryTimeout=15s\r\n",
       .taken = "Source=shop Username=ann Password=p w Marker=%order% Request=<dir>orders.sql "
                "DeleteOnErrors=0 FormatLeft=12 FormatRight=-5 HeaderGuard=0 Quarantine=|failed "
                "QueryTimeout=15"},
      // Only the whole word Yes counts; only No turns the guard off.
      {.ini = db + "Rowname=\r\n" + q +
              "[Options]\r\nDeleteOnErrors=Yesterday\r\nSkipSpaces=\r\nHeaderGuard=On\r\n"
              "FormatLeft=abc\r\nFormatRight=99999999999\r\nQueryTimeout=-1\r\n",
       .taken = "Marker=%% DeleteOnErrors=0 SkipSpaces=0 FormatRight=2147483647"},
      {.ini = db + "Request=sub" + kSep +
              "q\r\n[Options]\r\nDeleteOnErrors=Yes \r\nFormatLeft= -3\r\nQueryTimeout=0\r\n",
       .taken = "Request=sub" + kSep + "q FormatLeft=-3 QueryTimeout=0"},
      {.ini = db + "Request=sub" + kOtherSep + "q\r\n[Options]\r\nQueryTimeout=\r\n",
       .taken = "Request=<dir>sub" + kOtherSep + "q"},
      {.ini = db + "Request=" + long_path + "\r\n",  // cut to its capacity, then kept
       .taken = "Request=" + long_path.substr(0, 359)},
      // A bare name too long to join to the folder is never cut to another.
      {.ini = db + "Request=" + std::string(340, 'n') + "\r\n",
       .taken = "Request= Failure=ERROR: configuration file reading error [Database -> Request] "
                "<dir>kelvorin.INI"},
      {.ini = "[Database]\r\nSource=" + std::string(1500, 's') +
              "\r\nRowname=" + std::string(600, 'r') + "\r\n" + q,
       .taken = "Source=" + std::string(999, 's') + " Marker=%" + std::string(529, 'r') + "%"},
  };
  for (const SettingsCase& c : cases) {
    SCOPED_TRACE(c.ini.substr(0, 60));
    testing_support::TempDir dir;
    const std::string ini = dir.File("kelvorin.INI");
    testing_support::WriteFile(ini, c.ini);
    kelvorin::Settings s;
    kelvorin::StepFailure failure;
    const bool ok = kelvorin::ReadSettings(ini.c_str(), dir.path().c_str(), &s, &failure);
    EXPECT_EQ(Taken(s, ok ? "" : kelvorin::FailureText(failure), dir.path()), c.taken);
  }
}

}  // namespace
