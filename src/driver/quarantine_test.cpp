#include "quarantine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "test_support.h"

namespace {

using testing_support::ReadFile;

// A failed message takes the first name free for it and its reason file;
// nothing there is replaced, however many runs share the folder.
TEST(QuarantineTest, TakesTheFirstFreeNameAndReplacesNothing) {
  testing_support::TempDir dir;
  std::filesystem::create_directory(dir.File("q"));
  testing_support::WriteFile(dir.File("q/msg.txt"), "earlier");
  testing_support::WriteFile(dir.File("q/msg.txt.1.reason"), "earlier");
  testing_support::WriteFile(dir.File("msg.txt"), "failed");
  char moved[512];
  platform::File reason;
  ASSERT_TRUE(kelvorin::QuarantineMessage(dir.File("msg.txt").c_str(), "q", dir.path().c_str(),
                                          moved, sizeof moved, &reason));
  EXPECT_TRUE(platform::WriteAll(reason, "why", 3));
  platform::Close(reason);
  EXPECT_EQ(std::filesystem::path(moved), std::filesystem::path(dir.File("q/msg.txt.2")));
  EXPECT_EQ(ReadFile(moved) + ReadFile(std::string(moved) + ".reason"), "failedwhy");
  EXPECT_EQ(ReadFile(dir.File("q/msg.txt")) + ReadFile(dir.File("q/msg.txt.1.reason")),
            "earlierearlier");
}

}  // namespace
