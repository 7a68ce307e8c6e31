// Runs a program to its end with a given standard input, and keeps its two output streams.
#pragma once

#include <string>
#include <vector>

namespace vok::test {

struct process_result {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or -1 when it was killed or did not end in time
  long peak_kib = 0;  // the process's peak resident memory
};

process_result run_process(const std::string &program, const std::vector<std::string> &arguments,
                           const std::string &input, int timeout_seconds = 300);

// How standard input is given, and a signal sent while the program runs (POSIX only).
struct process_options {
  enum class input_kind { text, open_pipe, closed };
  input_kind input = input_kind::text;  // open_pipe: a pipe never written nor closed
  std::string signal_after;             // send `signal` once standard output holds this
  int signal_delay_ms = 0;              // ... this long after it appeared
  int signal = 0;
  bool output_closed = false;  // standard output is a pipe whose reader has gone
  int timeout_seconds = 300;
};
process_result run_process(const std::string &program, const std::vector<std::string> &arguments,
                           const std::string &input, const process_options &options);

}  // namespace vok::test
