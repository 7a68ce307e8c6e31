#include "simulator_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "bound_child.h"
#include "run_process.h"

namespace vok::test {

std::string simulator_process::program() {
  const char *override_path = std::getenv("VOK_SIMULATOR");
  return override_path != nullptr ? override_path : VOK_SIMULATOR_PATH;
}

simulator_process::simulator_process(const std::vector<std::string> &arguments) {
  int out[2];
  if (pipe(out) != 0) return;
  const std::string path = program();
  std::vector<char *> argv;
  argv.push_back(const_cast<char *>(path.c_str()));
  for (const auto &a : arguments) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    end_with_parent(parent);
    setsid();  // no terminal: the simulator never waits on one
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    execv(path.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  if (pid_ < 0) {
    close(out[0]);
    return;
  }
  // The ready line, within 10 seconds (scaled).
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(scaled_seconds(10));
  char c = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    if (read(out[0], &c, 1) != 1) break;
    if (c == '\n') {
      ready_ = line_.find("ready") != std::string::npos;
      break;
    }
    line_ += c;
  }
  close(out[0]);  // later output goes nowhere; the simulator writes only its ready line there
}

simulator_process::~simulator_process() { stop(); }

int simulator_process::wait_for_exit(int seconds) {
  if (pid_ <= 0) return -1;
  for (int i = 0; i < scaled_seconds(seconds) * 100; ++i) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      return status;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

int simulator_process::stop() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  int status = wait_for_exit(10);
  if (status == -1 && pid_ > 0) {
    kill_now();
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void simulator_process::kill_now() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

}  // namespace vok::test
