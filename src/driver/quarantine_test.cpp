#include "quarantine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;

// A message moved aside takes the first free name; nothing there is replaced,
// and a move that cannot be made leaves the message and no reason file.
TEST(QuarantineTest, TakesTheFirstFreeNameAndReplacesNothing) {
  testing_support::TempDir dir;
  fs::create_directory(dir.File("q"));
  testing_support::WriteFile(dir.File("q/msg.txt"), "earlier");
  testing_support::WriteFile(dir.File("q/msg.txt.1.reason"), "earlier");
  testing_support::WriteFile(dir.File("msg.txt"), "failed");
  const std::string message = dir.File("msg.txt");
  char moved[512];
  platform::File reason;
  EXPECT_FALSE(kelvorin::QuarantineMessage(message.c_str(), "absent", dir.path().c_str(), moved,
                                           sizeof moved, &reason));
  EXPECT_EQ(ReadFile(message), "failed");
  ASSERT_TRUE(kelvorin::QuarantineMessage(message.c_str(), "q", dir.path().c_str(), moved,
                                          sizeof moved, &reason));
  EXPECT_TRUE(platform::WriteAll(reason, "why", 3));
  platform::Close(reason);
  EXPECT_EQ(fs::path(moved), fs::path(dir.File("q/msg.txt.2")));
  EXPECT_EQ(ReadFile(moved), "failed");
  EXPECT_EQ(ReadFile(std::string(moved) + ".reason"), "why");
  EXPECT_EQ(ReadFile(dir.File("q/msg.txt")) + ReadFile(dir.File("q/msg.txt.1.reason")),
            "earlierearlier");
  EXPECT_FALSE(fs::exists(message));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.File("q")), fs::directory_iterator()), 4);
}

}  // namespace
