#include "message_check.h"

#include <cstring>
#include <memory>
#include <utility>

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
  MergeBuffer out;
  if (!run.MergeInMemory(*p.table, &out)) return false;
  r.output.assign(out.text(), out.size());
  return true;
}

bool Steps(Run& run, const CheckInputs& in, Progress& p, MessageReport& r) {
  if (!run.ReadSettings(in.ini, in.directory)) return false;
  if (!run.LoadTexts() || !run.TakeRecipient()) return false;
  if (in.recipient != nullptr) run.SetRecipient(in.recipient);
  if (std::strstr(run.query_text(), kRecipientToken) == nullptr) {
    r.findings.push_back({run.settings().Request,
                          "no %recipient% in the query: every message "
                          "gets the same rows"});
  }
  if (!run.PrepareQuery()) return false;
  p.table = std::make_unique<ResultTable>(run.settings().SkipSpaces);
  p.query_ran = run.QueryRows(p.table.get());
  return p.query_ran && Merge(run, p, r);
}

// What the plug-in would do with a message whose run failed.
std::string Policy(const Run& run) {
  if (run.message_not_a_file()) return "leave it alone";
  const Settings& s = run.settings();
  if (!s.DeleteOnErrors) return "leave it unmerged";
  return s.Quarantine[0] != '\0' ? "move it to the quarantine" : "delete it";
}

void Lint(const Run& run, const Progress& p, MessageReport& r) {
  const std::string name = platform::BaseName(run.message_path());
  if (!r.merged) {
    r.findings.insert(r.findings.begin(),
                      {name, "the plug-in would fail with \"" + FailureText(r.failure) + "\" and " +
                                 Policy(run)});
  }
  if (run.message_text() == nullptr) return;
  int columns = p.query_ran ? p.table->ColumnCount() : -1;
  int rows = p.query_ran ? p.table->RowCount() : r.failure.what == Failure::kNoData ? 0 : -1;
  const char* marker = run.settings().BlockMarker;
  LintTemplate(name, run.message_text(), run.message_length(), marker, columns, rows, &r.findings);
  if (r.merged) LintMerged(name, r.output, marker, columns, &r.findings);
}

}  // namespace

MessageReport CheckMessage(const char* path, const CheckInputs& in, Connection* connection) {
  MessageReport report;
  Log().SetObserver(Keep, &report);
  Progress progress;
  Run run(path);
  run.LendConnection(std::move(*connection));
  Log().WritePair(kProcessLine, path);
  report.merged = Steps(run, in, progress, report);
  LogFailure(run.failure());
  Log().SetObserver(nullptr, nullptr);
  report.failure = run.failure();
  // Kept for the next message, unless a failed query may have broken it.
  *connection = run.TakeConnection();
  if (!progress.query_ran) connection->reset();
  Lint(run, progress, report);
  return report;
}

}  // namespace kelvorin
