// Linux-only promises of the backend: what a replaced message keeps, and the
// file a link stands for.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform.h"
#include "test_support.h"

namespace {

TEST(PosixReplaceTest, TempIsADotFileWithTheTargetsPermissionBitsAndLinksResolve) {
  testing_support::TempDir dir;
  const std::string target = dir.File("msg.txt");
  testing_support::WriteFile(target, "old");
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  char temp[platform::kMaxPath + 64];
  platform::File f;
  ASSERT_TRUE(platform::CreateTempBeside(target.c_str(), temp, sizeof temp, &f));
  EXPECT_EQ(std::string(temp).rfind(dir.File(".kelvorin-"), 0), 0u) << temp;
  platform::Close(f);
  ASSERT_TRUE(platform::ReplaceWith(temp, target.c_str()));
  struct stat info;
  ASSERT_EQ(::stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  ASSERT_EQ(::symlink("msg.txt", dir.File("link").c_str()), 0);
  char resolved[platform::kMaxPath];
  ASSERT_TRUE(platform::ResolvePath(dir.File("link").c_str(), resolved, sizeof resolved));
  char real[platform::kMaxPath];
  ASSERT_NE(::realpath(target.c_str(), real), nullptr);
  EXPECT_STREQ(resolved, real);
}

}  // namespace
