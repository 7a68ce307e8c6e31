#include "run_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "bound_child.h"

namespace vok::test {
namespace {

// The tool keeps the boards it updated in a state record on the machine, and its boards'
// locks in a machine-wide folder: every program that a test process starts keeps both in a
// folder of that process's own (each test is a process of its own), so that no test sees
// another's updates and no other run of the tests holds its board. Removed when the test
// process ends.
struct private_state_folder {
  std::string path;
  private_state_folder() {
    if (std::getenv("VANTREL_UPGRADE_STATE_DIR") != nullptr) return;
    char name[] = "/tmp/vok-state-XXXXXX";
    if (mkdtemp(name) == nullptr) return;
    path = name;
    setenv("VANTREL_UPGRADE_STATE_DIR", name, 1);
    setenv("VANTREL_UPGRADE_LOCK_DIR", name, 1);
  }
  ~private_state_folder() {
    if (!path.empty()) std::filesystem::remove_all(path);
  }
} state_folder;

}  // namespace

process_result run_process(const std::string &program, const std::vector<std::string> &arguments,
                           const std::string &input, const process_options &options) {
  using input_kind = process_options::input_kind;
  process_result result;
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return result;
  std::vector<char *> argv;
  argv.push_back(const_cast<char *>(program.c_str()));
  for (const auto &a : arguments) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    end_with_parent(parent);
    setsid();  // no terminal: nothing waits on one
    if (options.input == input_kind::closed) {
      close(STDIN_FILENO);
    } else {
      dup2(in[0], STDIN_FILENO);
    }
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  signal(SIGPIPE, SIG_IGN);
  // Standard input is written whole at once (it is small) and then closed: its end.
  if (!input.empty()) {
    ssize_t written = write(in[1], input.data(), input.size());
    (void)written;
  }
  if (options.input != input_kind::open_pipe) close(in[1]);

  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(scaled_seconds(options.timeout_seconds));
  bool signalled = options.signal == 0;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string *sinks[2] = {&result.out, &result.err};
  int open_streams = 2;
  if (options.output_closed) {
    close(out[0]);
    fds[0].fd = -1;  // poll passes it over
    --open_streams;
  }
  while (open_streams > 0 && std::chrono::steady_clock::now() < deadline) {
    if (poll(fds, 2, 200) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP)) == 0) continue;
      char buffer[4096];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
        if (!signalled && result.out.find(options.signal_after) != std::string::npos) {
          std::this_thread::sleep_for(std::chrono::milliseconds(options.signal_delay_ms));
          kill(pid, options.signal);
          signalled = true;
        }
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_streams;
      }
    }
  }
  for (auto &f : fds) {
    if (f.fd >= 0) close(f.fd);
  }
  if (options.input == input_kind::open_pipe) close(in[1]);
  int status = 0;
  if (open_streams > 0) kill(pid, SIGKILL);
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  result.peak_kib = usage.ru_maxrss;
  result.status = open_streams == 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace vok::test
