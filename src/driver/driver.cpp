#include "driver.h"

#include <cstdio>

#include "merge_buffer.h"
#include "merge_writer.h"
#include "message_text.h"
#include "odbc_connection.h"
#include "paths.h"
#include "platform.h"
#include "quarantine.h"
#include "result_fetch.h"
#include "result_table.h"
#include "run_log.h"
#include "settings.h"

namespace kelvorin {
namespace {

constexpr char kLoadError[] = "ERROR: can't load file";
constexpr char kRecipientError[] = "ERROR: can't extract recipient email from message";
constexpr char kDeletedLine[] = "--- Errors occured, message was deleted";
constexpr char kDeleteError[] = "ERROR: can't delete message file";
constexpr char kOutOfMemory[] = "ERROR: out of memory.";
constexpr char kMovedLine[] = "--- Errors occured, message was moved to";
constexpr char kQuarantineError[] = "ERROR: can't quarantine message file";

// Where the program's files are: worked out once from its own path.
struct Places {
  char module[platform::kMaxPath + 1] = {};
  char ini[platform::kMaxPath + 8] = {};
  char directory[platform::kMaxPath + 1] = {};
};

// What one run holds; released on every path past the argument check.
struct Run {
  const char* message_path = nullptr;
  Places places;
  Settings settings;
  char* message_text = nullptr;
  std::size_t message_length = 0;  // all its bytes: a NUL in it is kept
  char* query_text = nullptr;
  char recipient[kRecipientCapacity] = {};
  OdbcHandles* handles = nullptr;
  MergeBuffer lines;  // this run's log entries, for a quarantined message
};

void KeepLine(void* lines, const char* entry, std::size_t length) {
  static_cast<MergeBuffer*>(lines)->Append(entry, length);
}

void FindPlaces(Places& p) {
  if (!platform::ModulePath(p.module, sizeof p.module)) return;
  if (!platform::SiblingPath(p.module, "INI", p.ini, sizeof p.ini)) p.ini[0] = '\0';
  if (!platform::DirectoryOf(p.module, p.directory, sizeof p.directory)) p.directory[0] = '\0';
}

bool LoadTexts(Run& run) {
  if (!LoadWholeFile(run.message_path, &run.message_text, &run.message_length)) {
    Log().WritePair(kLoadError, run.message_path);
    return false;
  }
  if (!LoadWholeFile(run.settings.Request, &run.query_text)) {
    Log().WritePair(kLoadError, run.settings.Request);
    return false;
  }
  return true;
}

bool PrepareQuery(Run& run) {
  if (!ExtractRecipient(run.message_text, run.recipient)) {
    Log().Write(kRecipientError);
    return false;
  }
  // A query without the token runs as written; one that cannot have the
  // recipient put in must not run at all: its bare token could match rows of
  // other addresses (inside a LIKE pattern, say).
  char* substituted = nullptr;
  if (!SubstituteRecipient(run.query_text, run.recipient, &substituted)) {
    Log().Write(kOutOfMemory);
    return false;
  }
  if (substituted != nullptr) {
    FreeText(run.query_text);
    run.query_text = substituted;
  }
  Log().Write(run.query_text);
  return true;
}

bool QueryAndMerge(Run& run) {
  const Settings& s = run.settings;
  if (!OpenQuery(s.Source, s.Username, s.Password, run.query_text, &run.handles)) return false;
  ResultTable table(s.SkipSpaces);
  if (!FetchResults(StatementOf(run.handles), &table)) return false;
  char line[500];
  std::snprintf(line, sizeof line, "SQL OK (%i)", table.ColumnCount());
  Log().Write(line);
  MergeOptions options;
  options.marker = s.BlockMarker;
  options.left = s.FormatLeft;
  options.right = s.FormatRight;
  options.header_guard = s.HeaderGuard;
  options.recipient = run.recipient;
  if (!WriteMergedMessage(run.message_path, run.message_text, run.message_length, table, options)) {
    return false;
  }
  Log().Write("Complete!");
  return true;
}

// The steps that can fail; false sends the run to the error policy.
bool RunSteps(Run& run) {
  if (!ReadSettings(run.places.ini, run.places.directory, &run.settings)) return false;
  if (!LoadTexts(run)) return false;
  if (!PrepareQuery(run)) return false;
  return QueryAndMerge(run);
}

// Moves the message into the quarantine folder with this run's log lines
// beside it, the line that says so among them. False when it could not be
// moved: it is then still where it was.
bool Quarantine(const Run& run) {
  char moved_to[platform::kMaxPath + 1];
  platform::File reason = platform::kNoFile;
  if (!QuarantineMessage(run.message_path, run.settings.Quarantine, run.places.directory, moved_to,
                         sizeof moved_to, &reason)) {
    Log().WritePair(kQuarantineError, run.message_path);
    return false;
  }
  Log().WritePair(kMovedLine, moved_to);
  // The message is safe either way; a reason file that cannot be written
  // costs the operator the explanation, not the message.
  (void)(platform::WriteAll(reason, run.lines.text(), run.lines.size()) && platform::Flush(reason));
  platform::Close(reason);
  return true;
}

// The "---" line is written whatever the deletion did, as it always has been;
// a refused deletion gets its own error line first, since the unmerged message
// is then still there for the host to send. A message that cannot be moved
// to the quarantine is deleted: the host must never find it unmerged.
void ApplyErrorPolicy(const Run& run) {
  if (!run.settings.DeleteOnErrors) return;
  if (run.settings.Quarantine[0] != '\0' && Quarantine(run)) return;
  platform::Status why = platform::Status::kOk;
  if (!platform::RemoveFile(run.message_path, &why) && why != platform::Status::kNotFound) {
    Log().WritePair(kDeleteError, run.message_path);
  }
  Log().Write(kDeletedLine);
}

void Release(Run& run) {
  Log().SetObserver(nullptr, nullptr);
  CloseQuery(run.handles);
  run.handles = nullptr;
  FreeText(run.query_text);
  run.query_text = nullptr;
  FreeText(run.message_text);
  run.message_text = nullptr;
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
  Run run;
  FindPlaces(run.places);
  InitLogPath(run.places.module[0] ? run.places.module : nullptr);
  if (argc != 2) {
    std::fputs(kUsageBanner, stdout);
    return 0;
  }
  run.message_path = argv[1];
  Log().SetObserver(KeepLine, &run.lines);
  Log().WritePair("+++ Process:", run.message_path);
  if (!RunSteps(run)) ApplyErrorPolicy(run);
  Release(run);
  return 0;
}

}  // namespace kelvorin
