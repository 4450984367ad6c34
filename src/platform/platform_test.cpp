// The contract of platform.h, run unchanged against whichever backend is
// built: natively on Linux, and under Wine for the Windows build, where the
// INI cases go to the real GetPrivateProfileStringA. Both must agree.
#include "platform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "test_support.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;
namespace fs = std::filesystem;

constexpr char kMain[] =
    "; settings for the tests\r\n"
    "[Database]\r\n"
    "Source = shop\r\n"
    "  username=  alice  \r\n"
    "PASSWORD=\"se cret\"\r\n"
    "Rowname='row'\r\n"
    "Empty=\r\n"
    "Quoted=\"\"\r\n"
    "OneQuote=\"abc\r\n"
    "Mixed=\"abc'\r\n"
    "Inner=a \"b\" c\r\n"
    "\tTabbed\t=\tx\t\r\n"
    "Spaced Key = v\r\n"
    "Long = abcdefghij\r\n"
    "LongQuoted = \"abcdefghij\"\r\n"
    "Source = second\r\n"
    "NoEquals\r\n"
    "NoEquals=too late\r\n"
    ";Commented=yes\r\n"
    "Commented2=real ; not a comment\r\n"
    "\r\n"
    "[Options]\r\n"
    "DeleteOnErrors = no\r\n"
    "[database]\r\n"
    "Request = in a later section of the same name\r\n"
    "[Other]\r\n"
    "Source=other\r\n";

struct IniCase {
  const char* file;  // name of one of the files written below
  const char* section;
  const char* key;
  const char* fallback;
  std::size_t cap;
  const char* expected;
};

const IniCase kIniCases[] = {
    {"main.ini", "Database", "Source", "", 100, "shop"},
    {"main.ini", "DATABASE", "source", "", 100, "shop"},
    {"main.ini", "Database", "Username", "", 100, "alice"},
    {"main.ini", "Database", "Password", "", 100, "se cret"},
    {"main.ini", "Database", "Rowname", "kelvorin", 100, "row"},
    {"main.ini", "Database", "Empty", "fallback", 100, ""},
    {"main.ini", "Database", "Quoted", "fallback", 100, ""},
    {"main.ini", "Database", "OneQuote", "", 100, "\"abc"},
    {"main.ini", "Database", "Mixed", "", 100, "\"abc'"},
    {"main.ini", "Database", "Inner", "", 100, "a \"b\" c"},
    {"main.ini", "Database", "Tabbed", "", 100, "x"},
    {"main.ini", "Database", "Spaced Key", "", 100, "v"},
    {"main.ini", "Database", "Long", "", 5, "abcd"},
    {"main.ini", "Database", "Long", "", 11, "abcdefghij"},
    {"main.ini", "Database", "LongQuoted", "", 5, "abcd"},
    {"main.ini", "Database", "Missing", "fallback", 100, "fallback"},
    {"main.ini", "Database", "Missing", "kelvorin", 4, "kel"},
    {"main.ini", "Database", "Request", "none", 100, "none"},
    {"main.ini", "Options", "DeleteOnErrors", "Yes", 100, "no"},
    {"main.ini", "Options", "SkipSpaces", "Yes", 100, "Yes"},
    {"main.ini", "Other", "Source", "", 100, "other"},
    {"main.ini", "Nowhere", "Source", "fallback", 100, "fallback"},
    {"missing.ini", "Database", "Source", "fallback", 100, "fallback"},
    {"lf.ini", "Database", "Source", "", 100, "lf only"},
    {"lf.ini", "Database", "Request", "", 100, "q.sql"},
    {"bom.ini", "Database", "Source", "", 100, "with bom"},
    {"lastline.ini", "Database", "Source", "", 100, "no line end"},
    {"main.ini", "Database", "NoEquals", "fallback", 100, "fallback"},
    {"main.ini", "Database", "Commented", "fallback", 100, "fallback"},
    {"main.ini", "Database", "Commented2", "", 100, "real ; not a comment"},
    {"spaced.ini", "Database", "Source", "fallback", 100, "padded"},
    {"spaced.ini", " Database ", "Source", "fallback", 100, "padded"},
    {"nul.ini", "Database", "Source", "fb", 100, "fb"},  // a NUL byte: a damaged file
    {"nul.ini", "Database", "Other", "fb", 100, "fb"},
};

class IniTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir_.File("main.ini"), kMain);
    WriteFile(dir_.File("lf.ini"), "[Database]\nSource=lf only\nRequest=q.sql\n");
    WriteFile(dir_.File("bom.ini"), "\xEF\xBB\xBF[Database]\r\nSource=with bom\r\n");
    WriteFile(dir_.File("lastline.ini"), "[Database]\r\nSource=no line end");
    WriteFile(dir_.File("spaced.ini"), "  [ Database ]  \r\nSource=padded\r\n");
    WriteFile(dir_.File("nul.ini"), std::string("[Database]\r\nSource=ab\0cd\r\nOther=ok\r\n", 34));
  }
  TempDir dir_;
};

TEST_F(IniTest, ReadsLikeTheWin32ProfileReader) {
  for (const IniCase& c : kIniCases) {
    SCOPED_TRACE(std::string(c.file) + " [" + c.section + "] " + c.key);
    char out[200];
    std::memset(out, '#', sizeof out);
    const std::string path = dir_.File(c.file);
    std::size_t n = platform::Profile(path.c_str()).Read(c.section, c.key, c.fallback, out, c.cap);
    EXPECT_STREQ(out, c.expected);
    EXPECT_EQ(n, std::strlen(c.expected));
  }
}

// The key names of a section, as kelvorin-check lists them to find misspelt
// keys: "|" stands for each NUL of the list.
TEST_F(IniTest, ListsTheKeysOfTheFirstMatchingSection) {
  const std::string path = dir_.File("main.ini");
  platform::Profile ini(path.c_str());
  for (auto [section, keys] :
       {std::pair{"Options", "DeleteOnErrors||"},
        {"DATABASE",
         "Source|username|PASSWORD|Rowname|Empty|Quoted|OneQuote|Mixed|Inner|Tabbed|Spaced "
         "Key|Long|LongQuoted|Source|NoEquals|Commented2||"},
        {"Nowhere", "|"}}) {
    char out[300];
    std::size_t n = ini.Keys(section, out, sizeof out);
    std::string list(out, n + 1);
    for (char& c : list) c = c == '\0' ? '|' : c;
    EXPECT_EQ(list, keys) << section;
  }
}

// The file operations the rest of the program builds on, with the share
// modes that keep a message or the log from being written by two at once.
class FileTest : public ::testing::Test {
 protected:
  std::string Path(const char* name) { return dir_.File(name); }
  TempDir dir_;
};

TEST_F(FileTest, ShareModesKeepOutSecondWriterAndReadersOfAWrittenFile) {
  const std::string path = Path("shared.txt");
  platform::File writer, other;
  platform::Status why = platform::Status::kOk;
  ASSERT_TRUE(platform::OpenForAppend(path.c_str(), &writer));  // created
  EXPECT_FALSE(platform::OpenForAppend(path.c_str(), &other, &why));
  EXPECT_EQ(why, platform::Status::kBusy);
  EXPECT_FALSE(platform::OpenForRead(path.c_str(), &other, &why));
  EXPECT_EQ(why, platform::Status::kBusy);
  EXPECT_FALSE(platform::CheckWritable(path.c_str(), &why));
  EXPECT_EQ(why, platform::Status::kBusy);
  ASSERT_TRUE(platform::WriteAll(writer, "one\r\n", 5));
  platform::Close(writer);
  platform::File reader1, reader2;
  ASSERT_TRUE(platform::OpenForRead(path.c_str(), &reader1));
  ASSERT_TRUE(platform::OpenForRead(path.c_str(), &reader2));
  EXPECT_FALSE(platform::OpenForAppend(path.c_str(), &other, &why));
  EXPECT_EQ(why, platform::Status::kBusy);
  char buffer[16] = {};
  std::size_t got = 0;
  EXPECT_TRUE(platform::Read(reader1, buffer, sizeof buffer, &got));
  EXPECT_EQ(std::string(buffer, got), "one\r\n");
  platform::Close(reader1);
  platform::Close(reader2);
  EXPECT_FALSE(platform::OpenForRead(Path("absent.txt").c_str(), &other, &why));
  EXPECT_EQ(why, platform::Status::kNotFound);
  EXPECT_FALSE(platform::CheckWritable(Path("no-dir/msg.txt").c_str()));
  EXPECT_TRUE(platform::CheckWritable(Path("new.txt").c_str()));  // may be created
  EXPECT_FALSE(fs::exists(Path("new.txt")));
}

// The rewrite's two ways: a new file beside the target moved over it in one
// step, or the target rewritten where it is.
TEST_F(FileTest, TempFileBesideTheTargetReplacesItAndRewriteCutsItOff) {
  const std::string target = Path("msg.txt") + std::string(200, 'n');
  WriteFile(target, "old text");
  char temp[platform::kMaxPath + 64];
  platform::File f;
  ASSERT_TRUE(platform::CreateTempBeside(target.c_str(), temp, sizeof temp, &f));
  EXPECT_EQ(fs::path(temp).parent_path(), fs::path(target).parent_path());
  EXPECT_LT(std::strlen(temp), dir_.path().size() + 30) << temp;  // not as long as the message's
  EXPECT_TRUE(platform::WriteAll(f, "new", 3) && platform::Flush(f));
  platform::Close(f);
  EXPECT_EQ(ReadFile(target), "old text");
  ASSERT_TRUE(platform::ReplaceWith(temp, target.c_str()));
  EXPECT_EQ(ReadFile(target), "new");
  EXPECT_FALSE(fs::exists(temp));
  ASSERT_TRUE(platform::OpenForRewrite(target.c_str(), &f));
  EXPECT_TRUE(platform::WriteAll(f, "x", 1) && platform::EndHere(f));
  platform::Close(f);
  EXPECT_EQ(ReadFile(target), "x");
}

}  // namespace
