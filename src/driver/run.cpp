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
  // In the reverse of the order the run took them up.
  connection_.reset();
  FreeText(query_text_);
  FreeText(message_text_);
}

bool Run::ReadSettings(const char* ini_path, const char* directory) {
  return kelvorin::ReadSettings(ini_path, directory, &settings_, &failure_);
}

bool Run::LoadTexts() {
  if (!Load(message_path_, &message_text_, &message_length_, &failure_)) {
    message_not_a_file_ = failure_.what == Failure::kNotAFile;
    return false;
  }
  return Load(settings_.Request, &query_text_, nullptr, &failure_);
}

bool Run::TakeRecipient() {
  return ExtractRecipient(message_text_, recipient_) || Fail(&failure_, Failure::kRecipient);
}

void Run::SetRecipient(const char* address) {
  std::snprintf(recipient_, sizeof recipient_, "%s", address);
}

bool Run::PrepareQuery() {
  // A query without the token runs as written; one that cannot have the
  // recipient put in must not run at all: its bare token could match rows of
  // other addresses (inside a LIKE pattern, say).
  char* substituted = nullptr;
  if (!SubstituteRecipient(query_text_, recipient_, &substituted)) {
    return Fail(&failure_, Failure::kOutOfMemory);
  }
  if (substituted != nullptr) {
    FreeText(query_text_);
    query_text_ = substituted;
  }
  Log().Write(query_text_);
  return true;
}

bool Run::QueryRows(ResultTable* table) {
  const Settings& s = settings_;
  bool executed = connection_ ? ExecuteAgain(connection_.get(), query_text_, &failure_)
                              : OpenQuery(s.Source, s.Username, s.Password, s.QueryTimeout,
                                          query_text_, &connection_, &failure_);
  if (!executed || !FetchResults(StatementOf(connection_.get()), table, &failure_)) return false;
  char line[500];
  std::snprintf(line, sizeof line, "SQL OK (%i)", table->ColumnCount());
  Log().Write(line);
  CloseResult(connection_.get());
  return true;
}

bool Run::WriteMerged(const ResultTable& table) {
  if (!WriteMergedMessage(message_path_, message_text_, message_length_, table, MergeOptionsOf(),
                          &failure_)) {
    return false;
  }
  Log().Write(kCompleteLine);
  return true;
}

bool Run::MergeInMemory(const ResultTable& table, MergeBuffer* out) {
  // The plug-in's own check before it merges: a message it may not rewrite
  // (read-only, or held by another writer) fails there, whatever the merge.
  if (!MayRewrite(message_path_, &failure_) ||
      !MergeMessage(message_text_, message_length_, table, MergeOptionsOf(), out, &failure_)) {
    return false;
  }
  Log().Write(kCompleteLine);
  return true;
}

MergeOptions Run::MergeOptionsOf() const {
  MergeOptions options;
  options.marker = settings_.BlockMarker;
  options.left = settings_.FormatLeft;
  options.right = settings_.FormatRight;
  options.header_guard = settings_.HeaderGuard;
  return options;
}

}  // namespace kelvorin
