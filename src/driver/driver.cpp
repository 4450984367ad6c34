#include "driver.h"

#include <cstdio>

#include "failure.h"
#include "merge_buffer.h"
#include "paths.h"
#include "platform.h"
#include "quarantine.h"
#include "run.h"
#include "run_log.h"
#include "settings.h"

namespace kelvorin {
namespace {

// Where the program's files are: worked out once from its own path.
struct Places {
  char module[platform::kMaxPath + 1] = {};
  char ini[platform::kMaxPath + 8] = {};
  char directory[platform::kMaxPath + 1] = {};
};

void KeepLine(void* lines, const char* entry, std::size_t length) {
  static_cast<MergeBuffer*>(lines)->Append(entry, length);
}

void FindPlaces(Places& p) {
  if (!platform::ModulePath(p.module, sizeof p.module)) return;
  if (!platform::SiblingPath(p.module, "INI", p.ini, sizeof p.ini)) p.ini[0] = '\0';
  if (!platform::DirectoryOf(p.module, p.directory, sizeof p.directory)) p.directory[0] = '\0';
}

// The steps that can fail; false sends the run to the error policy.
bool RunSteps(Run& run, const Places& places) {
  if (!run.ReadSettings(places.ini, places.directory)) return false;
  if (!run.LoadTexts() || !run.TakeRecipient() || !run.PrepareQuery()) return false;
  ResultTable table(run.settings().SkipSpaces);
  return run.QueryRows(&table) && run.WriteMerged(table);
}

// Moves the message into the quarantine folder with this run's log lines
// beside it, the line that says so among them. False when it could not be
// moved: it is then still where it was. A Quarantine value cut to its field
// is never used, as the cut path could name any folder, the spool's own too.
bool Quarantine(const Run& run, const Places& places, const MergeBuffer& lines) {
  char moved_to[platform::kMaxPath + 1];
  platform::File reason;
  OsCause cause;
  if (run.settings().QuarantineTooLong ||
      !QuarantineMessage(run.message_path(), run.settings().Quarantine, places.directory, moved_to,
                         sizeof moved_to, &reason, &cause)) {
    LogFailure({Failure::kQuarantine, run.message_path(), cause});
    return false;
  }
  Log().WritePair(kMovedLine, moved_to);
  // The message is safe either way; a reason file that cannot be written
  // costs the operator the explanation, not the message.
  (void)(platform::WriteAll(reason, lines.text(), lines.size()) && platform::Flush(reason));
  return true;
}

// The "---" line is written whatever the deletion did, as it always has been;
// a refused deletion gets its own error line first, since the unmerged message
// is then still there for the host to send. A message that cannot be moved
// to the quarantine is deleted: the host must never find it unmerged. A path
// that names no regular file (a folder, a device) is no message and is left
// alone, also when the run failed before loading it.
void ApplyErrorPolicy(const Run& run, const Places& places, const MergeBuffer& lines) {
  const Settings& s = run.settings();
  if (!s.DeleteOnErrors || run.message_not_a_file()) return;
  const bool quarantine = s.Quarantine[0] != '\0' || s.QuarantineTooLong;
  if (quarantine && Quarantine(run, places, lines)) return;
  OsCause cause{OsCall::kDelete, {}, run.message_path()};
  if (!platform::RemoveFile(run.message_path(), &cause.status)) {
    if (cause.status.kind == platform::Status::kNotAFile) {
      return LogFailure({Failure::kNotAFile, run.message_path(), {}});
    }
    if (cause.status.kind != platform::Status::kNotFound) {
      LogFailure({Failure::kDelete, run.message_path(), cause});
    }
  }
  Log().Write(kDeletedLine);
}

// Printed when the argument count is wrong.
constexpr char kUsageBanner[] =
    "_______________________________________________________________________\n"
    "Kelvorin v1.0 - merges database rows into outgoing e-mail messages\n"
    "Copyright (c) 2026 the Kelvorin developers\n"
    "=======================================================================\n"
    " Plug-in for Vellumcast is designed for merging e-mails\n"
    " with database. See Vellumcast help system to learn more.\n"
    "_______________________________________________________________________\n";

}  // namespace

int RunMain(int argc, char** argv) {
  platform::ReuseFreedMemory();
  Places places;
  FindPlaces(places);
  InitLogPath(places.module[0] ? places.module : nullptr);
  if (argc != 2) {
    std::fputs(kUsageBanner, stdout);
    return 0;
  }
  MergeBuffer lines;  // this run's log entries, for a quarantined message
  Log().SetObserver(KeepLine, &lines);
  {
    Run run(argv[1]);
    Log().WritePair(kProcessLine, run.message_path());
    if (!RunSteps(run, places)) {
      LogFailure(run.failure());
      ApplyErrorPolicy(run, places, lines);
    }
  }  // the run's texts and connection are released here
  Log().SetObserver(nullptr, nullptr);
  return 0;
}

}  // namespace kelvorin
