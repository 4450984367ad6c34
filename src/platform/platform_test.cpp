// The contract of platform.h, run unchanged against whichever backend is
// built: natively on Linux, and under Wine for the Windows build, where the
// INI cases go to the real GetPrivateProfileStringA. Both must agree.
#include "platform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "test_support.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;
namespace fs = std::filesystem;

constexpr char kMain[] =
    "; settings for the tests\r\n[Database]\r\nSource = shop\r\n  username=  alice  \r\n"
    "PASSWORD=\"se cret\"\r\nRowname='row'\r\nEmpty=\r\nQuoted=\"\"\r\nOneQuote=\"abc\r\n"
    "\tTabbed\t=\tx\t\r\nSpaced Key = v\r\nLong = abcdefghij\r\nLongQuoted = \"abcdefghij\"\r\n"
    "Source = second\r\nNoEquals\r\nNoEquals=too late\r\n;Commented=yes\r\n"
    "Commented2=real ; not a comment\r\n\r\n[Options]\r\nDeleteOnErrors = no\r\n"
    "[database]\r\nRequest = in a later section of the same name\r\n";

class IniTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (auto [name, text] : {std::pair<const char*, std::string>{"main", kMain},
                              {"lf", "[Database]\nSource=lf only\n"},
                              {"bom", "\xEF\xBB\xBF[Database]\r\nSource=with bom\r\n"},
                              {"lastline", "[Database]\r\nSource=no line end"},
                              {"spaced", "  [ Database ]  \r\nSource=padded\r\n"},
                              {"nul", std::string("[Database]\r\nSource=ab\0cd\r\n", 24)}}) {
      WriteFile(dir_.File(name), text);
    }
  }
  TempDir dir_;
};

// A key read with a fallback into cap bytes (with the NUL); "fb": the fallback.
struct IniCase {
  const char *file = "main", *section = "Database", *key, *fallback = "fb";
  std::size_t cap = 100;
  const char* read;
};

TEST_F(IniTest, ReadsLikeTheWin32ProfileReader) {
  const IniCase cases[] = {
      {.key = "Source", .read = "shop"},
      {.key = "source", .read = "shop"},
      {.key = "Username", .read = "alice"},
      {.key = "Password", .read = "se cret"},
      {.key = "Rowname", .read = "row"},
      {.key = "Empty", .read = ""},
      {.key = "Quoted", .read = ""},
      {.key = "OneQuote", .read = "\"abc"},
      {.key = "Tabbed", .read = "x"},
      {.key = "Spaced Key", .read = "v"},
      {.key = "Missing", .read = "fb"},
      {.key = "Request", .read = "fb"},
      {.key = "NoEquals", .read = "fb"},
      {.key = "Commented", .read = "fb"},
      {.key = "Commented2", .read = "real ; not a comment"},
      {.section = "Options", .key = "DeleteOnErrors", .read = "no"},
      {.section = "Nowhere", .key = "Source", .read = "fb"},
      {.section = "DATABASE", .key = "Source", .read = "shop"},
      {.file = "missing", .key = "Source", .read = "fb"},
      {.file = "lf", .key = "Source", .read = "lf only"},
      {.file = "bom", .key = "Source", .read = "with bom"},
      {.file = "lastline", .key = "Source", .read = "no line end"},
      {.file = "spaced", .key = "Source", .read = "padded"},
      {.file = "spaced", .section = " Database ", .key = "Source", .read = "padded"},
      {.file = "nul", .key = "Source", .read = "fb"},
      // Values and fallbacks are cut.
      {.key = "Long", .fallback = "", .cap = 5, .read = "abcd"},
      {.key = "LongQuoted", .fallback = "", .cap = 5, .read = "abcd"},
      {.key = "Missing", .fallback = "kelvorin", .cap = 4, .read = "kel"},
  };
  for (const IniCase& c : cases) {
    char out[200];
    std::memset(out, '#', sizeof out);
    std::size_t n =
        platform::Profile(dir_.File(c.file).c_str()).Read(c.section, c.key, c.fallback, out, c.cap);
    EXPECT_EQ(std::string(out) + " " + std::to_string(n),
              std::string(c.read) + " " + std::to_string(std::strlen(c.read)))
        << c.file << " " << c.key;
  }
}

// The file operations the rest of the program builds on, with the share
// modes that keep a message or the log from being written by two at once.
TEST(FileTest, ShareModesKeepOutSecondWritersAndReadersOfAWrittenFile) {
  TempDir dir;
  const std::string path = dir.File("shared.txt");
  platform::File writer, reader, other;
  platform::Status why;
  ASSERT_TRUE(platform::OpenForAppend(path.c_str(), &writer));  // created
  for (auto open : {platform::OpenForAppend, platform::OpenForRead}) {
    EXPECT_FALSE(open(path.c_str(), &other, &why));
    EXPECT_EQ(why.kind, platform::Status::kBusy);
  }
  EXPECT_FALSE(platform::CheckWritable(path.c_str(), &why));
  EXPECT_TRUE(platform::WriteAll(writer, "one\r\n", 5));
  {
    platform::File moved = std::move(writer);  // hands the file on, holding none after
    EXPECT_FALSE(writer.IsOpen());
  }  // and closes it when it goes: a reader gets in
  ASSERT_TRUE(platform::OpenForRead(path.c_str(), &reader));
  ASSERT_TRUE(platform::OpenForRead(path.c_str(), &other));
  EXPECT_FALSE(platform::OpenForAppend(path.c_str(), &writer, &why));
  EXPECT_EQ(why.kind, platform::Status::kBusy);
  // Deleted or moved is only a regular file that no other opener holds.
  fs::create_directory(dir.File("folder"));
  for (auto [name, status] : {std::pair{"shared.txt", platform::Status::kBusy},
                              {"folder", platform::Status::kNotAFile}}) {
    const std::string held = dir.File(name);
    platform::Status moved, removed;
    EXPECT_FALSE(platform::MoveNoReplace(held.c_str(), dir.File("moved").c_str(), &moved));
    EXPECT_FALSE(platform::RemoveFile(held.c_str(), &removed));
    EXPECT_EQ(std::make_pair(moved.kind, removed.kind), std::make_pair(status, status)) << name;
    EXPECT_TRUE(fs::exists(held)) << name;
  }
  EXPECT_FALSE(platform::OpenForRead(dir.File("folder").c_str(), &other, &why));
  EXPECT_EQ(std::make_pair(why.kind, why.code), std::make_pair(platform::Status::kNotAFile, 0));
  EXPECT_FALSE(platform::OpenForRead(dir.File("absent.txt").c_str(), &other, &why));
  EXPECT_EQ(why.kind, platform::Status::kNotFound);
  char text[200];  // the OS's own reason on one line, in Linux's, Windows' or Wine's words
  platform::Describe(why.code, text, sizeof text);
  const std::set<std::string> texts = {"No such file or directory", "File not found.",
                                       "The system cannot find the file specified."};
  EXPECT_EQ(texts.count(text), 1u) << text;
  EXPECT_FALSE(platform::CheckWritable(dir.File("no-dir/msg.txt").c_str()));
  EXPECT_TRUE(platform::CheckWritable(dir.File("new.txt").c_str()));  // may be created
  EXPECT_FALSE(fs::exists(dir.File("new.txt")));
}

// The rewrite's two ways: a new file beside the target, of a name no longer
// than it must be, moved over it in one step; or the target cut off in place.
TEST(FileTest, TempFileBesideTheTargetReplacesItAndRewriteCutsItOff) {
  TempDir dir;
  const std::string target = dir.File("msg.txt") + std::string(200, 'n');
  WriteFile(target, "old text");
  char temp[platform::kMaxPath + 64];
  platform::File f;
  ASSERT_TRUE(platform::CreateTempBeside(target.c_str(), temp, sizeof temp, &f));
  EXPECT_EQ(fs::path(temp).parent_path(), fs::path(target).parent_path());
  EXPECT_FALSE(platform::IsTempName(".kelvorin-x"));  // a dot file, not one of ours
  EXPECT_LT(std::strlen(temp), dir.path().size() + 30) << temp;
  EXPECT_TRUE(platform::WriteAll(f, "new", 3) && platform::Flush(f));
  f.Close();
  EXPECT_EQ(ReadFile(target), "old text");
  ASSERT_TRUE(platform::ReplaceWith(temp, target.c_str()));
  EXPECT_FALSE(fs::exists(temp));
  ASSERT_TRUE(platform::OpenForRewrite(target.c_str(), &f));
  EXPECT_TRUE(platform::WriteAll(f, "x", 1) && platform::EndHere(f));
  f.Close();
  EXPECT_EQ(ReadFile(target), "x");
  platform::FileFacts facts;
  ASSERT_TRUE(platform::DescribeFile(target.c_str(), &facts));
  EXPECT_TRUE(facts.size == 1 && facts.age_seconds >= 0 && facts.age_seconds < 600);
}

}  // namespace
