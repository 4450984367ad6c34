// Windows only: an error code reads as the system's own text, on one line.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform.h"

TEST(Win32DescribeTest, GivesTheSystemsTextOfAnErrorCode) {
  struct Row {
    int code;
    const char *windows, *wine;  // Wine words its message table its own way
  };
  for (Row r : {Row{ERROR_DISK_FULL, "There is not enough space on the disk.", "Disk full."},
                Row{ERROR_ACCESS_DENIED, "Access is denied.", "Access denied."}}) {
    char out[100];
    platform::Describe(r.code, out, sizeof out);
    EXPECT_TRUE(out == std::string(r.windows) || out == std::string(r.wine)) << out;
  }
}
