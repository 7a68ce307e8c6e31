// Runs a program to its end with a given standard input, and keeps its two output streams.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

namespace vok::test {

// A time limit of a test, multiplied by VOK_TEST_TIME_SCALE (a whole number, 1 when unset) for
// machines slower or busier than a correct run could foresee. Limits only catch a hang: no test
// asserts how fast anything is.
inline int scaled_seconds(int seconds) {
  const char *text = std::getenv("VOK_TEST_TIME_SCALE");
  const long scale = text != nullptr ? std::strtol(text, nullptr, 10) : 1;
  return scale > 1 ? static_cast<int>(seconds * scale) : seconds;
}

struct process_result {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or -1 when it was killed or did not end in time
  long peak_kib = 0;  // the process's peak resident memory
};

// How standard input is given, and a signal sent while the program runs. On Windows the signal
// is always Ctrl+C, pressed in a console of the program's own, and the output is never closed.
struct process_options {
  enum class input_kind { text, open_pipe, closed };
  input_kind input = input_kind::text;  // open_pipe: a pipe never written nor closed
  std::string signal_after;             // send `signal` once standard output holds this
  int signal_delay_ms = 0;              // ... this long after it appeared
  int signal = 0;
  bool output_closed = false;  // standard output is a pipe whose reader has gone
  int timeout_seconds = 600;
};
process_result run_process(const std::string &program, const std::vector<std::string> &arguments,
                           const std::string &input, const process_options &options);

// The time limit is scaled (scaled_seconds); when it passes, the program is killed.
inline process_result run_process(const std::string &program,
                                  const std::vector<std::string> &arguments,
                                  const std::string &input, int timeout_seconds = 600) {
  process_options options;
  options.timeout_seconds = timeout_seconds;
  return run_process(program, arguments, input, options);
}

}  // namespace vok::test
