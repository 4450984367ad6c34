#include "settings.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "platform_config.h"
#include "run_log.h"
#include "test_support.h"

namespace {

using kelvorin::g_settings;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

const std::string kSep(1, platform::kPathSeparator);
const char kOtherSep = platform::kPathSeparator == '/' ? '\\' : '/';

// Runs ReadSettings for a program "kelvorin.exe" in a fresh folder, with the
// run log beside it, so each case starts from the process's initial settings.
class SettingsTest : public ::testing::Test {
 protected:
  SettingsTest()
      : module_(dir_.File("kelvorin.exe")),
        ini_(dir_.File("kelvorin.INI")),
        log_(dir_.File("kelvorin.LOG")) {
    g_settings = kelvorin::Settings();
    kelvorin::g_run_log.SetPath(log_.c_str());
  }
  ~SettingsTest() override { kelvorin::g_run_log.SetPath(nullptr); }

  int Read(const std::string& ini) {
    WriteFile(ini_, ini);
    return kelvorin::ReadSettingsFor(module_.c_str());
  }
  // The log's text after the time stamp, line ends dropped.
  std::string Logged() {
    std::string log = ReadFile(log_);
    return log == "<missing>" ? "" : log.substr(20, log.size() - 22);
  }

  TempDir dir_;
  std::string module_, ini_, log_;
};

TEST_F(SettingsTest, MissingFileIsASourceErrorAndKeepsDeleteOnErrors) {
  EXPECT_EQ(kelvorin::ReadSettingsFor(module_.c_str()), 0);
  EXPECT_EQ(Logged(), "ERROR: configuration file reading error [Database -> Source] " + ini_);
  EXPECT_EQ(g_settings.DeleteOnErrors, 1);
}

TEST_F(SettingsTest, NoModulePathNamesAnEmptyIniPath) {
  EXPECT_EQ(kelvorin::ReadSettingsFor(nullptr), 0);
  EXPECT_EQ(Logged(), "ERROR: configuration file reading error [Database -> Source]");
}

TEST_F(SettingsTest, MissingRequestIsARequestErrorAfterTheDatabaseValues) {
  EXPECT_EQ(Read("[Database]\r\nSource=shop\r\n[Options]\r\nDeleteOnErrors=no\r\n"), 0);
  EXPECT_EQ(Logged(), "ERROR: configuration file reading error [Database -> Request] " + ini_);
  EXPECT_STREQ(g_settings.Source, "shop");
  EXPECT_STREQ(g_settings.BlockMarker, "%kelvorin%");
  EXPECT_EQ(g_settings.DeleteOnErrors, 1);  // Options are read only after Request
}

TEST_F(SettingsTest, ReadsEveryValue) {
  ASSERT_EQ(Read("[Database]\r\nSource=shop\r\nUsername=ann\r\nPassword=p w\r\n"
                 "Rowname=order\r\nRequest=orders.sql\r\n"
                 "[Options]\r\nDeleteOnErrors=no\r\nSkipSpaces=yES\r\n"
                 "FormatLeft=12abc\r\nFormatRight=-5\r\n"),
            1);
  EXPECT_EQ(Logged(), "");
  EXPECT_STREQ(g_settings.Source, "shop");
  EXPECT_STREQ(g_settings.Username, "ann");
  EXPECT_STREQ(g_settings.Password, "p w");
  EXPECT_STREQ(g_settings.BlockMarker, "%order%");
  EXPECT_EQ(g_settings.Request, dir_.File("orders.sql"));
  EXPECT_EQ(g_settings.DeleteOnErrors, 0);
  EXPECT_EQ(g_settings.SkipSpaces, 1);
  EXPECT_EQ(g_settings.FormatLeft, 12);
  EXPECT_EQ(g_settings.FormatRight, -5);
}

TEST_F(SettingsTest, DefaultsAndEmptyValues) {
  ASSERT_EQ(Read("[Database]\r\nSource=s\r\nRowname=\r\nRequest=q\r\n"
                 "[Options]\r\nSkipSpaces=\r\nFormatLeft=abc\r\n"),
            1);
  EXPECT_STREQ(g_settings.Username, "");
  EXPECT_STREQ(g_settings.BlockMarker, "%%");
  EXPECT_EQ(g_settings.DeleteOnErrors, 1);  // missing key: its default "Yes"
  EXPECT_EQ(g_settings.SkipSpaces, 0);      // present but empty: off
  EXPECT_EQ(g_settings.FormatLeft, 0);
  EXPECT_EQ(g_settings.FormatRight, 0);
}

TEST_F(SettingsTest, RequestResolution) {
  struct Case {
    std::string request;
    std::string expected;  // empty: refused with the Request error
  };
  const std::string long_name(340, 'n');
  const Case cases[] = {
      {"q.sql", dir_.File("q.sql")},
      {"sub" + kSep + "q.sql", "sub" + kSep + "q.sql"},  // a path of its own, kept
      {std::string("sub") + kOtherSep + "q.sql",
       dir_.File(std::string("sub") + kOtherSep + "q.sql")},
      {kSep + std::string(400, 'p'), kSep + std::string(358, 'p')},  // cut to 359 and kept
      {long_name, ""},  // joined, it would not fit: never cut into another name
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    g_settings = kelvorin::Settings();
    int ok = Read("[Database]\r\nSource=s\r\nRequest=" + c.request + "\r\n");
    EXPECT_EQ(ok, c.expected.empty() ? 0 : 1);
    EXPECT_EQ(g_settings.Request, c.expected);
  }
}

TEST_F(SettingsTest, LongValuesAreCutToTheirCapacity) {
  ASSERT_EQ(Read("[Database]\r\nSource=" + std::string(1500, 's') +
                 "\r\nRowname=" + std::string(600, 'r') + "\r\nRequest=q\r\n"),
            1);
  EXPECT_EQ(std::string(g_settings.Source), std::string(999, 's'));
  EXPECT_EQ(std::string(g_settings.BlockMarker), "%" + std::string(529, 'r') + "%");
}

TEST(IsYesTest, OnlyYesInAnyCase) {
  for (const char* on : {"Yes", "yes", "YES", "yEs"}) EXPECT_TRUE(kelvorin::IsYes(on)) << on;
  for (const char* off : {"", "Y", "Ye", "Yess", "no", "1", "true", " Yes"}) {
    EXPECT_FALSE(kelvorin::IsYes(off)) << off;
  }
}

TEST(DecimalValueTest, ReadsLikeAtoiAndSaturates) {
  struct Case {
    const char* text;
    int value;
  };
  const Case cases[] = {{"12abc", 12},
                        {"  -7", -7},
                        {"+3", 3},
                        {"\t 5", 5},
                        {"abc", 0},
                        {"", 0},
                        {"-", 0},
                        {"007", 7},
                        {"2147483647", INT_MAX},
                        {"99999999999", INT_MAX},
                        {"-2147483648", INT_MIN},
                        {"-99999999999", INT_MIN}};
  for (const Case& c : cases) EXPECT_EQ(kelvorin::DecimalValue(c.text), c.value) << c.text;
}

}  // namespace
