// Starts vok-simulator as a real process for a test and stops it on every path; it also ends
// when the thread that started it ends, however that ends.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vok::test {

class simulator_process {
 public:
  // Starts the simulator with `arguments` and waits (at most 10 s) for its ready line.
  explicit simulator_process(const std::vector<std::string> &arguments = {});
  ~simulator_process();
  simulator_process(const simulator_process &) = delete;
  simulator_process &operator=(const simulator_process &) = delete;

  bool ready() const { return ready_; }
  pid_t pid() const { return pid_; }
  const std::string &ready_line() const { return line_; }

  // Stops it with SIGTERM and returns its exit status (-1 when it had to be killed).
  int stop();
  // Kills it at once, as a crash would.
  void kill_now();
  // Waits for it to end by itself (at most `seconds`) and returns its wait status.
  int wait_for_exit(int seconds);

  // Where the simulator program is.
  static std::string program();

 private:
  pid_t pid_ = -1;
  void *process_ = nullptr;  // the process handle, on Windows
  bool ready_ = false;
  std::string line_;
};

}  // namespace vok::test
