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

}  // namespace vok::test
