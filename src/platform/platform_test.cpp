// The contract of platform.h, run unchanged against whichever backend is
// built: natively on Linux, and under Wine for the Windows build, where the
// INI cases go to the real GetPrivateProfileStringA. Both must agree.
#include "platform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fault.h"
#include "test_support.h"

namespace {

using testing_support::TempDir;
using testing_support::WriteFile;

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
    std::size_t n = platform::ReadProfileString(c.section, c.key, c.fallback, out, c.cap,
                                                dir_.File(c.file).c_str());
    EXPECT_STREQ(out, c.expected);
    EXPECT_EQ(n, std::strlen(c.expected));
  }
}

TEST(ModulePathTest, NamesThisProgram) {
  char path[platform::kMaxPath + 1];
  std::size_t n = platform::ModulePath(path, sizeof path);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(n, std::strlen(path));
  EXPECT_NE(std::strchr(path, platform::kPathSeparator), nullptr);
  EXPECT_NE(std::strstr(path, "kelvorin_tests"), nullptr);
  char tiny[4];
  EXPECT_EQ(platform::ModulePath(tiny, sizeof tiny), 0u);
  EXPECT_STREQ(tiny, "");
}

class FileTest : public ::testing::Test {
 protected:
  void TearDown() override { platform::fault::Reset(); }
  std::string Path(const char* name) { return dir_.File(name); }
  TempDir dir_;
};

TEST_F(FileTest, AppendCreatesThenAppendsAndReadGivesItAllBack) {
  std::string path = Path("log.txt");
  for (const char* piece : {"one\r\n", "two\r\n"}) {
    platform::Status status = platform::Status::kFailed;
    platform::File f = platform::OpenForAppend(path.c_str(), &status);
    ASSERT_NE(f, platform::kNoFile);
    EXPECT_EQ(status, platform::Status::kOk);
    EXPECT_TRUE(platform::WriteAll(f, piece, std::strlen(piece)));
    platform::Close(f);
  }
  platform::File f = platform::OpenForRead(path.c_str(), nullptr);
  ASSERT_NE(f, platform::kNoFile);
  std::uint64_t size = 0;
  ASSERT_TRUE(platform::FileSize(f, &size));
  EXPECT_EQ(size, 10u);
  char buffer[32] = {};
  EXPECT_EQ(platform::Read(f, buffer, sizeof buffer), 10);
  EXPECT_STREQ(buffer, "one\r\ntwo\r\n");
  platform::Close(f);
}

TEST_F(FileTest, ShareModesKeepOutSecondWriterAndReadersOfAWrittenFile) {
  std::string path = Path("shared.txt");
  WriteFile(path, "x");
  platform::Status status = platform::Status::kOk;
  platform::File writer = platform::OpenForAppend(path.c_str(), &status);
  ASSERT_NE(writer, platform::kNoFile);
  EXPECT_EQ(platform::OpenForAppend(path.c_str(), &status), platform::kNoFile);
  EXPECT_EQ(status, platform::Status::kBusy);
  EXPECT_EQ(platform::OpenForRead(path.c_str(), &status), platform::kNoFile);
  EXPECT_EQ(status, platform::Status::kBusy);
  platform::Close(writer);

  platform::File reader1 = platform::OpenForRead(path.c_str(), &status);
  platform::File reader2 = platform::OpenForRead(path.c_str(), &status);
  EXPECT_NE(reader1, platform::kNoFile);
  EXPECT_NE(reader2, platform::kNoFile);
  EXPECT_EQ(platform::OpenForAppend(path.c_str(), &status), platform::kNoFile);
  EXPECT_EQ(status, platform::Status::kBusy);
  platform::Close(reader1);
  platform::Close(reader2);
}

TEST_F(FileTest, FailuresCarryTheirReason) {
  platform::Status status = platform::Status::kOk;
  EXPECT_EQ(platform::OpenForRead(Path("absent.txt").c_str(), &status), platform::kNoFile);
  EXPECT_EQ(status, platform::Status::kNotFound);
  EXPECT_EQ(platform::OpenForRead("", &status), platform::kNoFile);
  EXPECT_EQ(platform::OpenForAppend(Path("no-such-dir/x.log").c_str(), &status), platform::kNoFile);
  EXPECT_EQ(status, platform::Status::kNotFound);
  EXPECT_FALSE(platform::RemoveFile(Path("absent.txt").c_str()));
}

TEST_F(FileTest, FaultSeamFailsExactlyTheNthWrite) {
  std::string path = Path("fault.txt");
  platform::File f = platform::OpenForAppend(path.c_str(), nullptr);
  ASSERT_NE(f, platform::kNoFile);
  platform::fault::FailNth(platform::fault::Op::kWrite, 2);
  EXPECT_TRUE(platform::WriteAll(f, "a", 1));
  EXPECT_FALSE(platform::WriteAll(f, "b", 1));
  EXPECT_TRUE(platform::WriteAll(f, "c", 1));
  platform::Close(f);
  EXPECT_EQ(testing_support::ReadFile(path), "ac");
  EXPECT_TRUE(platform::RemoveFile(path.c_str()));
  EXPECT_FALSE(testing_support::FileExists(path));
}

TEST_F(FileTest, CheckWritableReportsWithoutChangingAnything) {
  std::string path = Path("msg.txt");
  EXPECT_EQ(platform::CheckWritable(path.c_str()), platform::Status::kOk);  // may be created
  EXPECT_FALSE(testing_support::FileExists(path));
  EXPECT_NE(platform::CheckWritable(Path("no-dir/msg.txt").c_str()), platform::Status::kOk);
  WriteFile(path, "old");
  EXPECT_EQ(platform::CheckWritable(path.c_str()), platform::Status::kOk);
  platform::File reader = platform::OpenForRead(path.c_str(), nullptr);
  EXPECT_EQ(platform::CheckWritable(path.c_str()), platform::Status::kBusy);
  platform::Close(reader);
  EXPECT_EQ(testing_support::ReadFile(path), "old");
}

TEST_F(FileTest, TempFileBesideTheTargetReplacesItInOneStep) {
  std::string target = Path("msg.txt");
  WriteFile(target, "old text");
  char temp[platform::kMaxPath + 64];
  platform::File f = platform::CreateTempBeside(target.c_str(), temp, sizeof temp, nullptr);
  ASSERT_NE(f, platform::kNoFile);
  EXPECT_EQ(std::string(temp).rfind(dir_.path(), 0), 0u) << temp;  // same folder
  EXPECT_NE(std::string(temp), target);
  EXPECT_TRUE(platform::WriteAll(f, "new text", 8));
  EXPECT_TRUE(platform::Flush(f));
  platform::Close(f);
  EXPECT_EQ(testing_support::ReadFile(target), "old text");
  ASSERT_TRUE(platform::ReplaceWith(temp, target.c_str()));
  EXPECT_EQ(testing_support::ReadFile(target), "new text");
  EXPECT_FALSE(testing_support::FileExists(temp));
}

TEST(LocalTimeTest, FieldsAreInRange) {
  platform::LocalTime t = platform::Now();
  EXPECT_GE(t.year, 2020);
  EXPECT_TRUE(t.month >= 1 && t.month <= 12);
  EXPECT_TRUE(t.day >= 1 && t.day <= 31);
  EXPECT_TRUE(t.hour >= 0 && t.hour <= 23);
  EXPECT_TRUE(t.minute >= 0 && t.minute <= 59);
  EXPECT_TRUE(t.second >= 0 && t.second <= 60);
}

}  // namespace
