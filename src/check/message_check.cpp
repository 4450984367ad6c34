#include "message_check.h"

#include <cstring>
#include <memory>

#include "log_lines.h"
#include "paths.h"
#include "platform.h"
#include "run.h"
#include "run_log.h"

namespace kelvorin {
namespace {

// Keeps every entry in the report's log.
void Keep(void* report, const char* entry, std::size_t length) {
  static_cast<MessageReport*>(report)->log.append(entry, length);
}

// What the check learnt on its way through the steps.
struct Progress {
  std::unique_ptr<ResultTable> table;
  bool query_ran = false;
};

bool Merge(Run& run, const Progress& p, MessageReport& r) {
  // The plug-in's own check before it merges: a message it may not rewrite
  // (read-only, or held by another writer) fails there, whatever the merge.
  if (!MayRewrite(run.message_path, &run.failure)) return false;
  MergeOptions options = MergeOptionsOf(run);
  MergeBuffer out;
  if (!MergeMessage(run.message_text, run.message_length, *p.table, options, &out, &run.failure)) {
    return false;
  }
  r.output.assign(out.text(), out.size());
  Log().Write(kCompleteLine);
  return true;
}

bool Steps(Run& run, const CheckInputs& in, Progress& p, MessageReport& r) {
  if (!ReadRunSettings(run, in.ini, in.directory)) return false;
  if (!LoadTexts(run) || !TakeRecipient(run)) return false;
  if (in.recipient != nullptr) std::strcpy(run.recipient, in.recipient);
  if (std::strstr(run.query_text, kRecipientToken) == nullptr) {
    r.findings.push_back({run.settings.Request,
                          "no %recipient% in the query: every message "
                          "gets the same rows"});
  }
  if (!PrepareQuery(run)) return false;
  p.table = std::make_unique<ResultTable>(run.settings.SkipSpaces);
  p.query_ran = QueryRows(run, p.table.get());
  return p.query_ran && Merge(run, p, r);
}

// What the plug-in would do with a message whose run failed.
std::string Policy(const Run& run) {
  if (run.message_not_a_file) return "leave it alone";
  const Settings& s = run.settings;
  if (!s.DeleteOnErrors) return "leave it unmerged";
  return s.Quarantine[0] != '\0' ? "move it to the quarantine" : "delete it";
}

void Lint(const Run& run, const Progress& p, MessageReport& r) {
  const std::string name = platform::BaseName(run.message_path);
  if (!r.merged) {
    r.findings.insert(r.findings.begin(),
                      {name, "the plug-in would fail with \"" + FailureText(r.failure) + "\" and " +
                                 Policy(run)});
  }
  if (run.message_text == nullptr) return;
  int columns = p.query_ran ? p.table->ColumnCount() : -1;
  int rows = p.query_ran ? p.table->RowCount() : r.failure.what == Failure::kNoData ? 0 : -1;
  LintTemplate(name, run.message_text, run.message_length, run.settings.BlockMarker, columns, rows,
               &r.findings);
  if (r.merged) LintMerged(name, r.output, run.settings.BlockMarker, columns, &r.findings);
}

}  // namespace

MessageReport CheckMessage(const char* path, const CheckInputs& in, OdbcHandles** connection) {
  MessageReport report;
  Log().SetObserver(Keep, &report);
  Progress progress;
  Run run;
  run.message_path = path;
  run.handles = *connection;
  Log().WritePair(kProcessLine, path);
  report.merged = Steps(run, in, progress, report);
  LogFailure(run.failure);
  Log().SetObserver(nullptr, nullptr);
  report.failure = run.failure;
  if (!progress.query_ran) {  // a failed query may have broken the connection
    CloseQuery(run.handles);
    run.handles = nullptr;
  }
  *connection = run.handles;  // kept for the next message
  run.handles = nullptr;
  Lint(run, progress, report);
  return report;
}

}  // namespace kelvorin
