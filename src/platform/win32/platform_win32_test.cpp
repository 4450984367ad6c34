// Windows only: an error code reads as the system's own text, on one line.
#include <gtest/gtest.h>
#include <windows.h>

#include <utility>

#include "platform.h"

TEST(Win32DescribeTest, GivesTheSystemsTextOfAnErrorCode) {
  for (auto [code, text] :
       {std::pair<int, const char*>{ERROR_DISK_FULL, "There is not enough space on the disk."},
        {ERROR_ACCESS_DENIED, "Access is denied."}}) {
    char out[100];
    platform::Describe(code, out, sizeof out);
    EXPECT_STREQ(out, text);
  }
}
