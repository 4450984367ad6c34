// The contract of platform.h, run unchanged against whichever backend is built: natively on Linux,
// and under Wine for the Windows build, where the INI cases go to the real
// GetPrivateProfileStringA. Both must agree.
#include "platform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "paths.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

constexpr char kMain[] =
    "; settings for the tests\r\n[Database]\r\nSource = shop\r\nRowname='row'\r\nQuoted=\"\"\r\n"
    "OneQuote=\"abc\r\n \tTabbed \t= \tx \t\r\nSpaced Key = v\r\nLongQuoted = \"abcdefghij\"\r\n"
    "Source = second\r\nNoEquals\r\nNoEquals=too late\r\nCommented2=real ; not a comment\r\n\r\n"
    "[database]\r\nRequest = in a later section of the same name\r\n";

// A key read from text with a fallback into cap bytes (with the NUL); "fb": the fallback.
struct IniCase {
  std::string text = kMain;
  const char *section = "Database", *key, *fallback = "fb";
  std::size_t cap = 100;
  const char* read;
};

TEST(ProfileTest, ReadsLikeTheWin32ProfileReader) {
  testing_support::TempDir dir;
  const IniCase cases[] = {
      {.key = "Rowname", .read = "row"},
      {.key = "Quoted", .read = ""},
      {.key = "OneQuote", .read = "\"abc"},
      {.key = "Tabbed", .read = "x"},
      {.key = "Spaced Key", .read = "v"},
      {.key = "Request", .read = "fb"},
      {.key = "NoEquals", .read = "fb"},
      {.key = "Commented2", .read = "real ; not a comment"},
      {.section = "DATABASE", .key = "source", .read = "shop"},
      {.text = "[Database]\nSource=lf only", .key = "Source", .read = "lf only"},
      {.text = "\xEF\xBB\xBF[Database]\r\nSource=bom\r\n", .key = "Source", .read = "bom"},
      {.text = "  [ Database ]  \r\nSource=padded\r\n", .key = "Source", .read = "padded"},
      // Values and fallbacks are cut.
      {.key = "LongQuoted", .fallback = "", .cap = 5, .read = "abcd"},
      {.key = "Missing", .fallback = "kelvorin", .cap = 4, .read = "kel"},
  };
  for (const IniCase& c : cases) {
    const std::string path = dir.File(std::to_string(&c - cases));  // Wine caches by name and mtime
    testing_support::WriteFile(path, c.text);
    char out[200];
    std::memset(out, '#', sizeof out);
    std::size_t n = platform::Profile(path.c_str()).Read(c.section, c.key, c.fallback, out, c.cap);
    EXPECT_EQ(std::string(out) + " " + std::to_string(n),
              std::string(c.read) + " " + std::to_string(std::strlen(c.read)))
        << c.text.substr(0, 12) << " " << c.key;
  }
}

// The file operations the rest of the program builds on, with the share modes that keep a message
// or the log from being written by two at once.
TEST(FileTest, ShareModesKeepOutSecondWritersAndReadersOfAWrittenFile) {
  using enum platform::Status::Kind;
  testing_support::TempDir dir;
  const std::string path = dir.File("shared.txt"), folder = dir.File("folder");
  fs::create_directory(folder);
  platform::File writer, reader, other;
  platform::Status s;
  auto kind = [&s](bool done) { return done ? kOk : s.kind; };
  ASSERT_TRUE(platform::OpenForAppend(path.c_str(), &writer));  // created
  EXPECT_EQ(kind(platform::OpenForRead(path.c_str(), &other, &s)), kBusy);
  EXPECT_FALSE(platform::CheckWritable(path.c_str()));
  EXPECT_TRUE(platform::WriteAll(writer, "one\r\n", 5));
  platform::File moved = std::move(writer);  // hands the file on, holding none after
  EXPECT_FALSE(writer.IsOpen());
  moved.Close();  // a reader gets in
  ASSERT_TRUE(platform::OpenForRead(path.c_str(), &reader));
  ASSERT_TRUE(platform::OpenForRead(path.c_str(), &other));
  EXPECT_EQ(kind(platform::OpenForAppend(path.c_str(), &writer, &s)), kBusy);
  // Deleted or moved is only a regular file that no other opener holds.
  for (const std::string& held : {path, folder}) {
    const auto want = held == path ? kBusy : kNotAFile;
    EXPECT_EQ(kind(platform::MoveNoReplace(held.c_str(), dir.File("moved").c_str(), &s)), want);
    EXPECT_EQ(kind(platform::RemoveFile(held.c_str(), &s)), want);
    EXPECT_TRUE(fs::exists(held)) << held;
  }
  EXPECT_EQ(kind(platform::OpenForRead(folder.c_str(), &other, &s)), kNotAFile);
  EXPECT_EQ(s.code, 0);
  EXPECT_EQ(kind(platform::OpenForRead(dir.File("absent.txt").c_str(), &other, &s)), kNotFound);
  char text[200];  // the OS's own reason on one line, in Linux's, Windows' or Wine's words
  platform::Describe(s.code, text, sizeof text);
  const std::set<std::string> texts = {"No such file or directory", "File not found.",
                                       "The system cannot find the file specified."};
  EXPECT_EQ(texts.count(text), 1u) << text;
  EXPECT_FALSE(platform::CheckWritable(dir.File("no-dir/msg.txt").c_str()));
  EXPECT_TRUE(platform::CheckWritable(dir.File("new.txt").c_str()));  // may be created
  EXPECT_FALSE(fs::exists(dir.File("new.txt")));
}

// The rewrite's two ways: a new file beside the target, of a name no longer than it must be, that a
// folder's scan tells from messages (Linux: a dot file), moved over it in one step with the
// target's permission bits; or the target cut off in place.
TEST(FileTest, TempFileBesideTheTargetReplacesItAndRewriteCutsItOff) {
  testing_support::TempDir dir;
  const std::string target = dir.File("msg.txt") + std::string(200, 'n');
  testing_support::WriteFile(target, "old text");
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const fs::perms bits = fs::status(target).permissions();
  char temp[platform::kMaxPath + 64];
  platform::File f;
  ASSERT_TRUE(platform::CreateTempBeside(target.c_str(), temp, sizeof temp, &f));
  EXPECT_EQ(fs::path(temp).parent_path(), fs::path(target).parent_path());
  EXPECT_TRUE(platform::IsTempName(platform::BaseName(temp))) << temp;
  EXPECT_FALSE(platform::IsTempName(".kelvorin-x"));  // a dot file, not one of ours
  EXPECT_LT(std::strlen(temp), dir.path().size() + 30) << temp;
  EXPECT_TRUE(platform::WriteAll(f, "new", 3) && platform::Flush(f));
  f.Close();
  ASSERT_TRUE(platform::ReplaceWith(temp, target.c_str()));
  EXPECT_FALSE(fs::exists(temp));
  EXPECT_EQ(fs::status(target).permissions(), bits);
  ASSERT_TRUE(platform::OpenForRewrite(target.c_str(), &f));
  EXPECT_TRUE(platform::WriteAll(f, "x", 1) && platform::EndHere(f));
  f.Close();
  EXPECT_EQ(testing_support::ReadFile(target), "x");
  platform::FileFacts facts;
  ASSERT_TRUE(platform::DescribeFile(target.c_str(), &facts));
  EXPECT_TRUE(facts.size == 1 && facts.age_seconds >= 0 && facts.age_seconds < 600);
}

}  // namespace
