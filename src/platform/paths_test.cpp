#include "paths.h"

#include <gtest/gtest.h>

#include <string>

#include "platform_config.h"

namespace {

// Writes a path with "/" and turns it into this platform's form.
std::string P(std::string path) {
  for (char& c : path) {
    if (c == '/') c = platform::kPathSeparator;
  }
  return path;
}

struct SiblingCase {
  const char* module;
  const char* ext;
  const char* replaced;  // the result where the last three characters go
  const char* suffixed;  // the result where bare program names get ".ext"
};

TEST(SiblingPathTest, ReplacesTheLastThreeCharactersOrSuffixesABareName) {
  const SiblingCase cases[] = {
      {"/mail/merge.exe", "LOG", "/mail/merge.LOG", "/mail/merge.LOG"},
      {"/mail/merge.exe", "INI", "/mail/merge.INI", "/mail/merge.INI"},
      {"/mail/prog.ex", "LOG", "/mail/progLOG", "/mail/progLOG"},
      {"/mail/kelvorin", "INI", "/mail/kelvoINI", "/mail/kelvorin.INI"},
      {"/my.dir/kelvorin", "LOG", "/my.dir/kelvoLOG", "/my.dir/kelvorin.LOG"},
      {"/a/b.EXE", "INI", "/a/b.INI", "/a/b.INI"},
  };
  for (const SiblingCase& c : cases) {
    SCOPED_TRACE(c.module);
    char out[64];
    ASSERT_TRUE(platform::SiblingPath(P(c.module).c_str(), c.ext, out, sizeof out));
    EXPECT_EQ(out, P(platform::kSuffixBareProgramName ? c.suffixed : c.replaced));
  }
}

TEST(SiblingPathTest, RefusesWhatCannotNameASeparateFile) {
  char out[16] = "junk";
  EXPECT_FALSE(platform::SiblingPath(nullptr, "LOG", out, sizeof out));
  EXPECT_STREQ(out, "");
  EXPECT_FALSE(platform::SiblingPath(P("/a.b").c_str(), "LOG", out, sizeof out));
  EXPECT_STREQ(out, "");
  // Exactly fitting, then one byte short.
  std::string module = P("/dir/abcde.exe");  // 14 characters, result as long
  char fit[15];
  EXPECT_TRUE(platform::SiblingPath(module.c_str(), "LOG", fit, sizeof fit));
  EXPECT_FALSE(platform::SiblingPath(module.c_str(), "LOG", fit, sizeof fit - 1));
}

TEST(DirectoryOfTest, KeepsTheLastSeparator) {
  char out[32];
  ASSERT_TRUE(platform::DirectoryOf(P("/mail/sub/merge.exe").c_str(), out, sizeof out));
  EXPECT_EQ(out, P("/mail/sub/"));
  EXPECT_FALSE(platform::DirectoryOf("merge.exe", out, sizeof out));
  EXPECT_STREQ(out, "");
}

}  // namespace
