#include "settings.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "platform_config.h"
#include "test_support.h"

namespace {

const std::string kSep(1, platform::kPathSeparator);
const std::string kOtherSep(1, platform::kPathSeparator == '/' ? '\\' : '/');

// What a run takes from its settings; <dir> stands for the program's folder.
struct Taken {
  std::string source = "s", user, password, marker = "%kelvorin%", request = "<dir>q";
  bool delete_on_errors = true, skip_spaces = true;
  int left = 0, right = 0;
  bool header_guard = true;
  std::string quarantine;
  int query_timeout = 60;  // seconds
  auto Fields() const {
    return std::make_tuple(source, user, password, marker, request, delete_on_errors, skip_spaces,
                           left, right, header_guard, quarantine, query_timeout);
  }
};

struct SettingsCase {
  std::string ini;
  Taken taken;
  std::string refused;  // the key of the failure's line: the run stops there
};

TEST(SettingsTest, ReadsTheIniAsTheRunNeedsIt) {
  const std::string db = "[Database]\r\nSource=s\r\n", q = "Request=q\r\n";
  const std::string long_path = kSep + std::string(400, 'p');
  const SettingsCase cases[] = {
      {.ini = "[Database]\r\nSource=shop\r\nUsername=ann\r\nPassword=p w\r\nRowname=order\r\n"
              "Request=orders.sql\r\n[Options]\r\nDeleteOnErrors=no\r\nSkipSpaces=yES\r\n"
              "FormatLeft=12abc\r\nFormatRight=-5\r\nHeaderGuard=no\r\nQuarantine=|failed\r\n"
              "QueryTimeout=15s\r\n",
       .taken = {.source = "shop",
                 .user = "ann",
                 .password = "p w",
                 .marker = "%order%",
                 .request = "<dir>orders.sql",
                 .delete_on_errors = false,
                 .left = 12,
                 .right = -5,
                 .header_guard = false,
                 .quarantine = "|failed",
                 .query_timeout = 15}},
      // Only the whole word Yes counts; only No turns the guard off.
      {.ini = db + "Rowname=\r\n" + q +
              "[Options]\r\nDeleteOnErrors=Yesterday\r\nSkipSpaces=\r\nHeaderGuard=On\r\n"
              "FormatLeft=abc\r\nFormatRight=99999999999\r\nQueryTimeout=-1\r\n",
       .taken =
           {.marker = "%%", .delete_on_errors = false, .skip_spaces = false, .right = 2147483647}},
      {.ini = db + "Request=sub" + kSep +
              "q\r\n[Options]\r\nDeleteOnErrors=Yes \r\nFormatLeft= -3\r\nQueryTimeout=0\r\n",
       .taken = {.request = "sub" + kSep + "q", .left = -3, .query_timeout = 0}},
      {.ini = db + "Request=sub" + kOtherSep + "q\r\n[Options]\r\nQueryTimeout=\r\n",
       .taken = {.request = "<dir>sub" + kOtherSep + "q"}},
      {.ini = db + "Request=" + long_path + "\r\n",  // cut to its capacity, then kept
       .taken = {.request = long_path.substr(0, 359)}},
      // A bare name too long to join to the folder is never cut to another.
      {.ini = db + "Request=" + std::string(340, 'n') + "\r\n",
       .taken = {.request = ""},
       .refused = "Request"},
      {.ini = "[Database]\r\nSource=" + std::string(1500, 's') +
              "\r\nRowname=" + std::string(600, 'r') + "\r\n" + q,
       .taken = {.source = std::string(999, 's'), .marker = "%" + std::string(529, 'r') + "%"}},
  };
  for (const SettingsCase& c : cases) {
    SCOPED_TRACE(c.ini.substr(0, 60));
    testing_support::TempDir dir;
    const std::string ini = dir.File("kelvorin.INI");
    testing_support::WriteFile(ini, c.ini);
    kelvorin::Settings s;
    kelvorin::StepFailure failure;
    const bool ok = kelvorin::ReadSettings(ini.c_str(), dir.path().c_str(), &s, &failure);
    Taken want = c.taken;
    if (want.request.rfind("<dir>", 0) == 0) want.request.replace(0, 5, dir.path());
    const Taken got{s.Source,      s.Username,       s.Password,   s.BlockMarker,
                    s.Request,     s.DeleteOnErrors, s.SkipSpaces, s.FormatLeft,
                    s.FormatRight, s.HeaderGuard,    s.Quarantine, s.QueryTimeout};
    EXPECT_EQ(got.Fields(), want.Fields());
    const std::string error = "ERROR: configuration file reading error [Database -> ";
    EXPECT_EQ(ok ? "" : kelvorin::FailureText(failure),
              c.refused.empty() ? "" : error + c.refused + "] " + ini);
  }
}

}  // namespace
