#include "paths.h"

#include <gtest/gtest.h>

#include <string>

#include "platform_config.h"

namespace {

// A path written with "/" in this platform's form.
std::string P(std::string path) {
  for (char& c : path) c = c == '/' ? platform::kPathSeparator : c;
  return path;
}

// The INI and LOG files beside the program: its last three characters replaced, or, for a bare
// Linux program name, ".INI" and ".LOG" added.
TEST(PathsTest, SiblingsAndFoldersOfTheProgram) {
  const bool bare = platform::kSuffixBareProgramName;
  for (auto [module, sibling] :
       {std::pair{"/mail/prog.ex", "/mail/progLOG"},
        {"/my.dir/kelvorin", bare ? "/my.dir/kelvorin.LOG" : "/my.dir/kelvoLOG"}}) {
    char out[64];
    ASSERT_TRUE(platform::SiblingPath(P(module).c_str(), "LOG", out, sizeof out)) << module;
    EXPECT_EQ(out, P(sibling));
  }
  char out[16] = "junk", fit[15];
  EXPECT_FALSE(platform::SiblingPath(P("/a.b").c_str(), "LOG", out, sizeof out));  // itself
  EXPECT_STREQ(out, "");
  EXPECT_TRUE(platform::SiblingPath(P("/dir/abcde.exe").c_str(), "LOG", fit, sizeof fit));
  EXPECT_FALSE(platform::SiblingPath(P("/dir/abcde.exe").c_str(), "LOG", fit, sizeof fit - 1));
  ASSERT_TRUE(platform::DirectoryOf(P("/mail/sub/merge.exe").c_str(), out, sizeof out));
  EXPECT_EQ(out, P("/mail/sub/"));
  EXPECT_FALSE(platform::DirectoryOf("merge.exe", out, sizeof out));
}

}  // namespace
