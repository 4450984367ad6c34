#include "driver.h"

#include <cstdio>

#include "merge_writer.h"
#include "message_text.h"
#include "odbc_connection.h"
#include "platform.h"
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

// What one run holds; released on every path past the argument check.
struct Run {
  const char* message_path = nullptr;
  char* message_text = nullptr;
  std::size_t message_length = 0;  // all its bytes: a NUL in it is kept
  char* query_text = nullptr;
  // The line buffer (500) followed by the recipient buffer (1000).
  char work[500 + kRecipientCapacity] = {};
  char* recipient() { return work + 500; }
};

bool LoadTexts(Run& run) {
  if (!LoadWholeFile(run.message_path, &run.message_text, &run.message_length)) {
    g_run_log.WritePair(kLoadError, run.message_path);
    return false;
  }
  if (!LoadWholeFile(g_settings.Request, &run.query_text)) {
    g_run_log.WritePair(kLoadError, g_settings.Request);
    return false;
  }
  return true;
}

bool PrepareQuery(Run& run) {
  if (!ExtractRecipient(run.message_text, run.recipient())) {
    g_run_log.Write(kRecipientError);
    return false;
  }
  // A query without the token runs as written; one that cannot have the
  // recipient put in must not run at all: its bare token could match rows of
  // other addresses (inside a LIKE pattern, say).
  char* substituted = nullptr;
  if (!SubstituteRecipient(run.query_text, run.recipient(), &substituted)) {
    g_run_log.Write(kOutOfMemory);
    return false;
  }
  if (substituted != nullptr) {
    FreeText(run.query_text);
    run.query_text = substituted;
  }
  g_run_log.Write(run.query_text);
  return true;
}

bool QueryAndMerge(Run& run) {
  const Settings& s = g_settings;
  SQLHSTMT statement = OpenQuery(s.Source, s.Username, s.Password, run.query_text);
  if (statement == SQL_NULL_HSTMT) return false;
  if (!FetchResults(statement)) return false;
  std::snprintf(run.work, 500, "SQL OK (%i)", ColumnCount());
  g_run_log.Write(run.work);
  if (!WriteMergedMessage(run.message_path, run.message_text, run.message_length)) return false;
  g_run_log.Write("Complete!");
  return true;
}

// The steps that can fail; false sends the run to the error policy.
bool RunSteps(Run& run) {
  if (!ReadSettings()) return false;
  if (!LoadTexts(run)) return false;
  if (!PrepareQuery(run)) return false;
  return QueryAndMerge(run);
}

// The "---" line is written whatever the deletion did, as it always has been;
// a refused deletion gets its own error line first, since the unmerged message
// is then still there for the host to send.
void ApplyErrorPolicy(const Run& run) {
  if (!g_settings.DeleteOnErrors) return;
  platform::Status status = platform::Status::kOk;
  if (!platform::RemoveFile(run.message_path, &status) && status != platform::Status::kNotFound) {
    g_run_log.WritePair(kDeleteError, run.message_path);
  }
  g_run_log.Write(kDeletedLine);
}

void Release(Run& run) {
  CloseQuery();
  FreeText(run.query_text);
  run.query_text = nullptr;
  FreeText(run.message_text);
  run.message_text = nullptr;
}

}  // namespace

const char kUsageBanner[] =
    "_______________________________________________________________________\n"
    "Kelvorin v1.0 - merges database rows into outgoing e-mail messages\n"
    "Copyright (c) 2026 the Kelvorin developers\n"
    "=======================================================================\n"
    " Plug-in for Vellumcast is designed for merging e-mails\n"
    " with database. See Vellumcast help system to learn more.\n"
    "_______________________________________________________________________\n";

int RunMain(int argc, char** argv) {
  InitLogPath();
  if (argc != 2) {
    std::fputs(kUsageBanner, stdout);
    return 0;
  }
  Run run;
  run.message_path = argv[1];
  g_run_log.WritePair("+++ Process:", run.message_path);
  if (!RunSteps(run)) ApplyErrorPolicy(run);
  Release(run);
  return 0;
}

}  // namespace kelvorin
