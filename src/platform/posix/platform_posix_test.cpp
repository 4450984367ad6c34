// Linux-only promises of the backend: what a replaced message keeps.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "platform.h"
#include "test_support.h"

namespace {

TEST(PosixReplaceTest, NewFileKeepsTheTargetsPermissionBitsAndIsADotFile) {
  testing_support::TempDir dir;
  std::string target = dir.File("msg.txt");
  testing_support::WriteFile(target, "old");
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  char temp[platform::kMaxPath + 64];
  platform::File f = platform::CreateTempBeside(target.c_str(), temp, sizeof temp, nullptr);
  ASSERT_NE(f, platform::kNoFile);
  EXPECT_EQ(std::string(temp).rfind(dir.File(".kelvorin-"), 0), 0u) << temp;
  platform::Close(f);
  ASSERT_TRUE(platform::ReplaceWith(temp, target.c_str()));
  struct stat info;
  ASSERT_EQ(::stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}

}  // namespace
