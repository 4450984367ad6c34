#include "run.h"

#include <cstdio>

#include "result_fetch.h"
#include "run_log.h"

namespace kelvorin {
namespace {

// Loads the file at path; false with why it could not be in *failure.
bool Load(const char* path, char** text, std::size_t* length, StepFailure* failure) {
  OsCause cause;
  if (LoadWholeFile(path, text, length, &cause)) return true;
  if (cause.status.kind == platform::Status::kNotAFile) {
    return Fail(failure, Failure::kNotAFile, path);
  }
  return Fail(failure, Failure::kLoad, path, cause);
}

}  // namespace

Run::~Run() {
  CloseQuery(handles);
  FreeText(query_text);
  FreeText(message_text);
}

bool ReadRunSettings(Run& run, const char* ini_path, const char* directory) {
  return ReadSettings(ini_path, directory, &run.settings, &run.failure);
}

bool LoadTexts(Run& run) {
  if (!Load(run.message_path, &run.message_text, &run.message_length, &run.failure)) {
    run.message_not_a_file = run.failure.what == Failure::kNotAFile;
    return false;
  }
  return Load(run.settings.Request, &run.query_text, nullptr, &run.failure);
}

bool TakeRecipient(Run& run) {
  return ExtractRecipient(run.message_text, run.recipient) ||
         Fail(&run.failure, Failure::kRecipient);
}

bool PrepareQuery(Run& run) {
  // A query without the token runs as written; one that cannot have the
  // recipient put in must not run at all: its bare token could match rows of
  // other addresses (inside a LIKE pattern, say).
  char* substituted = nullptr;
  if (!SubstituteRecipient(run.query_text, run.recipient, &substituted)) {
    return Fail(&run.failure, Failure::kOutOfMemory);
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
  StepFailure* failure = &run.failure;
  bool executed = run.handles != nullptr
                      ? ExecuteAgain(run.handles, run.query_text, failure)
                      : OpenQuery(s.Source, s.Username, s.Password, s.QueryTimeout, run.query_text,
                                  &run.handles, failure);
  if (!executed || !FetchResults(StatementOf(run.handles), table, failure)) return false;
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
