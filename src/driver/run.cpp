#include "run.h"

#include <cstdio>

#include "log_lines.h"
#include "result_fetch.h"
#include "run_log.h"

namespace kelvorin {
namespace {

constexpr char kRecipientError[] = "ERROR: can't extract recipient email from message";

// Loads the file at path; false after logging why it could not be, the
// reason in *why.
bool Load(const char* path, char** text, std::size_t* length, platform::Status* why) {
  if (LoadWholeFile(path, text, length, why)) return true;
  Log().WritePair(*why == platform::Status::kNotAFile ? kNotAFileError : kLoadError, path);
  return false;
}

}  // namespace

Run::~Run() {
  CloseQuery(handles);
  FreeText(query_text);
  FreeText(message_text);
}

bool LoadTexts(Run& run) {
  platform::Status why = platform::Status::kOk;
  if (!Load(run.message_path, &run.message_text, &run.message_length, &why)) {
    run.message_not_a_file = why == platform::Status::kNotAFile;
    return false;
  }
  return Load(run.settings.Request, &run.query_text, nullptr, &why);
}

bool TakeRecipient(Run& run) {
  if (ExtractRecipient(run.message_text, run.recipient)) return true;
  Log().Write(kRecipientError);
  return false;
}

bool PrepareQuery(Run& run) {
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

bool QueryRows(Run& run, ResultTable* table) {
  const Settings& s = run.settings;
  bool executed = run.handles != nullptr ? ExecuteAgain(run.handles, run.query_text)
                                         : OpenQuery(s.Source, s.Username, s.Password,
                                                     s.QueryTimeout, run.query_text, &run.handles);
  if (!executed || !FetchResults(StatementOf(run.handles), table)) return false;
  char line[500];
  std::snprintf(line, sizeof line, "SQL OK (%i)", table->ColumnCount());
  Log().Write(line);
  CloseResult(run.handles);
  return true;
}

MergeOptions MergeOptionsOf(const Run& run) {
  MergeOptions options;
  options.marker = run.settings.BlockMarker;
  options.left = run.settings.FormatLeft;
  options.right = run.settings.FormatRight;
  options.header_guard = run.settings.HeaderGuard;
  return options;
}

}  // namespace kelvorin
