// Linux only: a replaced message keeps its permission bits, and the new file
// is a dot file that a host scanning the folder passes by.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "platform.h"
#include "test_support.h"

TEST(PosixReplaceTest, TempIsADotFileAndTheMessageKeepsItsPermissionBits) {
  testing_support::TempDir dir;
  const std::string target = dir.File("msg.txt");
  testing_support::WriteFile(target, "old");
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  char temp[platform::kMaxPath + 64];
  platform::File f;
  ASSERT_TRUE(platform::CreateTempBeside(target.c_str(), temp, sizeof temp, &f));
  EXPECT_EQ(std::string(temp).rfind(dir.File(".kelvorin-"), 0), 0u) << temp;
  f.Close();
  ASSERT_TRUE(platform::ReplaceWith(temp, target.c_str()));
  struct stat info;
  ASSERT_EQ(::stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}
