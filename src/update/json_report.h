// The run's report in JSON, for the programs that administrators run the tool with. The file
// appears whole or not at all: the report is written into a temporary file of the run's own
// beside it, which is then renamed.
#pragma once

#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

#include "record.h"

namespace vok::update {

inline constexpr int report_schema = 1;

// A time as the report (and the state record) writes it: UTC, such as "2026-12-09T10:15:00Z".
std::string utc_text(std::time_t value);

// The report as JSON text.
std::string to_json(const run_record &run);

class json_report {
 public:
  json_report() = default;
  ~json_report();  // removes the temporary file when the report was not committed
  json_report(const json_report &) = delete;
  json_report &operator=(const json_report &) = delete;

  // Checks `path` and creates the temporary file beside it, so that a report that cannot be
  // written is known before any board is opened. False, with the reason in `error`, when it
  // cannot be.
  bool open(const char *path, std::string &error);
  // Writes the report into the temporary file and renames it to the path (unless the kept
  // report went there already).
  bool commit(const run_record &run, std::string &error);

  // What the tool should tell the operator about a report that was written: empty, or why
  // it may not be on the disk yet.
  const std::string &warning() const { return warning_; }

  // Keeps `run` as the report that commit_kept writes; called on the run's thread.
  void keep(const run_record &run);
  // Writes the kept report, unless the report was committed; called from any thread, when
  // the system is about to end the process.
  void commit_kept();

 private:
  bool write(const std::string &text, std::string &error);  // with `lock_` held

  std::mutex lock_;
  std::string path_;
  std::string temporary_;
  std::FILE *file_ = nullptr;
  std::string kept_;
  bool kept_written_ = false;
  std::string warning_;
};

}  // namespace vok::update
