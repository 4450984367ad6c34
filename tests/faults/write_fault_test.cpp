// The rewrite of the message meets a failing disk: a write, the flush or the
// rename fails (injected by io_shim.c), or the disk or its inodes really run
// out (a small tmpfs, where the process may mount one). Every case must log
// the write error, leave no temporary file, and leave the message byte for
// byte as it was, or deleted when DeleteOnErrors asks for it.
#include <sys/mount.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fault_fixture.h"

namespace {

using namespace faults;

// About 330 KB of merged text. The program buffers small pieces in 64 KB and
// writes a larger one directly: here the head goes out in one write and the
// expanded rows in a second, so write 2 fails in the middle of the file.
constexpr int kRows = 1000;
constexpr int kPad = 300;

enum class Outcome { kKept, kDeleted, kMerged };

// The log after the query for an outcome.
std::vector<std::string> LogTail(Outcome outcome) {
  if (outcome == Outcome::kMerged) return {"SQL OK (2)", kComplete};
  if (outcome == Outcome::kDeleted) return {"SQL OK (2)", kWriteError, kDeleted};
  return {"SQL OK (2)", kWriteError};
}

class WriteFaultTest : public FaultTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(FaultTest::SetUp());
    ASSERT_NO_FATAL_FAILURE(MakeSqliteSource(ItemsTable(kRows, kPad)));
    case_ = ItemsMessage(kRows, kPad);
  }

  void ExpectOutcome(Outcome outcome) {
    std::vector<std::string> log = {kProcessLine, LoggedItemsQuery()};
    for (const std::string& line : LogTail(outcome)) log.push_back(line);
    EXPECT_EQ(LogEntries(), log);
    EXPECT_EQ(TempFilesIn(Spool()), std::vector<std::string>{}) << "temporary file left";
    if (outcome == Outcome::kDeleted) {
      EXPECT_FALSE(fs::exists(dir_ / kMessagePath)) << "message not deleted";
    } else {
      ExpectSameBytes(Message(), outcome == Outcome::kKept ? case_.message : case_.merged);
    }
  }

  MergeCase case_;
};

// ---------------------------------------------------------------- injected

struct InjectedFault {
  const char* name;
  Env fault;  // KELVORIN_FAULT_* for io_shim.c
  bool delete_on_errors;
  Outcome outcome;
};

void PrintTo(const InjectedFault& c, std::ostream* os) {
  *os << c.name;
}

Env Fault(const char* op, const char* nth, const char* error, const char* action = "fail") {
  return {{"KELVORIN_FAULT_OP", op},
          {"KELVORIN_FAULT_NTH", nth},
          {"KELVORIN_FAULT_ERRNO", error},
          {"KELVORIN_FAULT_ACTION", action}};
}

// The folder's own flush after the rename: refusing it must not undo a
// rewrite that has already happened (some file systems refuse it always).
Env FolderSyncFault() {
  Env env = Fault("fsync", "1", "EIO");
  env["KELVORIN_FAULT_MATCH"] = "*/spool";
  return env;
}

const InjectedFault kInjected[] = {
    {"FirstWriteNoSpace", Fault("write", "1", "ENOSPC"), false, Outcome::kKept},
    {"FirstWriteNoSpaceDeletes", Fault("write", "1", "ENOSPC"), true, Outcome::kDeleted},
    {"SecondWriteIoError", Fault("write", "2", "EIO"), false, Outcome::kKept},
    {"SecondWriteQuota", Fault("write", "2", "EDQUOT"), true, Outcome::kDeleted},
    {"ShortWriteThenNoSpace", Fault("write", "2", "ENOSPC", "short"), false, Outcome::kKept},
    {"FlushIoError", Fault("fsync", "1", "EIO"), false, Outcome::kKept},
    {"FlushNoSpaceDeletes", Fault("fsync", "1", "ENOSPC"), true, Outcome::kDeleted},
    {"RenameIoError", Fault("rename", "1", "EIO"), false, Outcome::kKept},
    {"RenameNoSpaceDeletes", Fault("rename", "1", "ENOSPC"), true, Outcome::kDeleted},
    {"FolderSyncRefused", FolderSyncFault(), true, Outcome::kMerged},
};

class InjectedFaultTest : public WriteFaultTest,
                          public ::testing::WithParamInterface<InjectedFault> {};

TEST_P(InjectedFaultTest, LogsErrorAndLosesNothing) {
  const InjectedFault& c = GetParam();
  PutRun(case_, c.delete_on_errors);
  Env fault = c.fault;
  fault["KELVORIN_FAULT_REPORT"] = (dir_ / "fault.txt").string();
  ASSERT_NO_FATAL_FAILURE(RunProgram({ShimEnv(fault)}));
  // The shim notes each fault it injects: a case whose fault never fired
  // would prove nothing.
  EXPECT_EQ(e2e::SplitLines(e2e::ReadBytes(dir_ / "fault.txt"), "\n").size(), 1u)
      << "the fault was not injected exactly once";
  ExpectOutcome(c.outcome);
}

INSTANTIATE_TEST_SUITE_P(Shim, InjectedFaultTest, ::testing::ValuesIn(kInjected),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- real disk

struct FullDisk {
  const char* name;
  const char* options;  // tmpfs mount options for the message's folder
  bool delete_on_errors;
};

void PrintTo(const FullDisk& c, std::ostream* os) {
  *os << c.name;
}

// 64 KB hold the message but not its merge. Of two inodes the folder takes
// one and the message the other: none is left for the new file.
const FullDisk kFullDisks[] = {
    {"NoSpaceKeeps", "size=64k", false},
    {"NoSpaceDeletes", "size=64k", true},
    {"NoInodeKeeps", "size=4m,nr_inodes=2", false},
    {"NoInodeDeletes", "size=4m,nr_inodes=2", true},
};

class FullDiskTest : public WriteFaultTest, public ::testing::WithParamInterface<FullDisk> {};

TEST_P(FullDiskTest, LogsErrorAndLosesNothing) {
  const FullDisk& c = GetParam();
  const std::string spool = Spool().string();
  if (mount("tmpfs", spool.c_str(), "tmpfs", 0, c.options) != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here (" << std::strerror(errno) << ")";
  }
  unmount_.push_back(spool);
  PutRun(case_, c.delete_on_errors);
  ASSERT_EQ(Message(), case_.message) << "the message itself does not fit";
  ASSERT_NO_FATAL_FAILURE(RunProgram());
  ExpectOutcome(c.delete_on_errors ? Outcome::kDeleted : Outcome::kKept);
}

INSTANTIATE_TEST_SUITE_P(Tmpfs, FullDiskTest, ::testing::ValuesIn(kFullDisks),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
