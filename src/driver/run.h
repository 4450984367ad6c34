// The steps of one message's run, each logging what it does as the plug-in
// logs it and keeping what failed in the run. The plug-in takes them in
// order, stops at the first that fails and logs its failure; kelvorin-check
// takes them to see what the plug-in would do.
#ifndef KELVORIN_DRIVER_RUN_H_
#define KELVORIN_DRIVER_RUN_H_

#include <cstddef>
#include <utility>

#include "failure.h"
#include "merge_buffer.h"
#include "merge_writer.h"
#include "message_text.h"
#include "odbc_connection.h"
#include "result_table.h"
#include "settings.h"

namespace kelvorin {

// One run over the message at a path. It owns the texts it loads and the
// connection it opens or is lent, and releases them when it goes; what its
// accessors return is borrowed from it.
class Run {
 public:
  // message_path is borrowed and must outlive the run.
  explicit Run(const char* message_path) : message_path_(message_path) {}
  ~Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  // The steps, in order. Each is true when it worked, and false with why in
  // failure().

  // Reads the settings from the INI file at ini_path (directory: the
  // plug-in's folder, for bare file names).
  [[nodiscard]] bool ReadSettings(const char* ini_path, const char* directory);

  // Loads the message file, then the query file that the settings name; for
  // a message that is no regular file, message_not_a_file() becomes true.
  [[nodiscard]] bool LoadTexts();

  // Takes the recipient's address from the message.
  [[nodiscard]] bool TakeRecipient();

  // Puts the recipient into the query text and logs the query about to run.
  [[nodiscard]] bool PrepareQuery();

  // Runs the query, on the connection the run holds if it holds one (else on
  // one it opens and keeps), fetches its rows into table and logs
  // "SQL OK (n)".
  [[nodiscard]] bool QueryRows(ResultTable* table);

  // Merges the rows of table into the message and writes it over the message
  // file (WriteMergedMessage); logs "Complete!".
  [[nodiscard]] bool WriteMerged(const ResultTable& table);

  // What WriteMerged would do, without writing: whether the message file may
  // be rewritten, then the merge into *out; logs "Complete!".
  [[nodiscard]] bool MergeInMemory(const ResultTable& table, MergeBuffer* out);

  // The address to run the query for in place of the message's own, set
  // between TakeRecipient and PrepareQuery. Cut to kRecipientCapacity - 1
  // bytes.
  void SetRecipient(const char* address);

  // Gives the run an open connection for QueryRows to run on; the run owns
  // it until TakeConnection.
  void LendConnection(Connection connection) { connection_ = std::move(connection); }

  // Hands over the connection the run holds (lent or opened), none when it
  // holds none; the run then holds none.
  Connection TakeConnection() { return std::move(connection_); }

  const char* message_path() const { return message_path_; }
  const Settings& settings() const { return settings_; }
  // The message's bytes (a NUL in them is kept), NUL-terminated; null until
  // loaded.
  const char* message_text() const { return message_text_; }
  std::size_t message_length() const { return message_length_; }
  // The query text, the recipient put in once PrepareQuery has run; null
  // until loaded.
  const char* query_text() const { return query_text_; }
  // Whether the message path names a folder, a FIFO, a device.
  bool message_not_a_file() const { return message_not_a_file_; }
  // The first step that failed, and why; Failure::kNone while none has.
  const StepFailure& failure() const { return failure_; }

 private:
  MergeOptions MergeOptionsOf() const;

  const char* message_path_;
  Settings settings_;
  char* message_text_ = nullptr;  // from LoadWholeFile, freed with FreeText
  std::size_t message_length_ = 0;
  char* query_text_ = nullptr;  // from LoadWholeFile or SubstituteRecipient
  char recipient_[kRecipientCapacity] = {};
  Connection connection_;
  bool message_not_a_file_ = false;
  StepFailure failure_;
};

}  // namespace kelvorin

#endif  // KELVORIN_DRIVER_RUN_H_
