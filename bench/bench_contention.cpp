// A whole update through the simulator link when cores are scarce: one pair (vok-simulator and
// vantrel-upgrade --yes) alone; two pairs at once, each in its own object namespace; one pair
// beside CPU-bound programs. Prints the wall time of each update and its ratio to the pair alone.
//
// Each pair runs in a mount namespace of its own with a private tmpfs on /dev/shm, which needs
// root (or a user namespace that maps root); without it the pairs share the machine's objects
// and the two-pair run is skipped.
//
// Usage: bench_contention [--simulator PATH] [--upgrade PATH] [--repeat N] [--hogs N]
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bound_child.h"
#include "run_process.h"
#include "simulator_process.h"

namespace {

using clock_type = std::chrono::steady_clock;

std::string simulator_path = vok::test::simulator_process::program();
std::string upgrade_path = VOK_UPGRADE_PATH;

// Gives the calling process a private /dev/shm; false when it may not.
bool private_objects() {
  if (unshare(CLONE_NEWNS) != 0) return false;
  if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
  return mount("tmpfs", "/dev/shm", "tmpfs", 0, "mode=1777") == 0;
}

// One update against a fresh simulator, in a child process; the child writes its wall time
// (negative on failure) into `out`.
pid_t start_pair(bool isolated, int out) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  double seconds = -1;
  if (!isolated || private_objects()) {
    setenv("VOK_SIMULATOR", simulator_path.c_str(), 1);
    vok::test::simulator_process sim;
    if (sim.ready()) {
      const auto start = clock_type::now();
      const vok::test::process_result run = vok::test::run_process(upgrade_path, {"--yes"}, "");
      if (run.status == 0) seconds = std::chrono::duration<double>(clock_type::now() - start).count();
    }
  }
  ssize_t written = write(out, &seconds, sizeof seconds);
  _exit(written == sizeof seconds ? 0 : 1);
}

// Runs `pairs` updates at once and returns their wall times.
std::vector<double> run_pairs(int pairs, bool isolated) {
  int channel[2];
  if (pipe(channel) != 0) return {};
  std::vector<pid_t> children;
  for (int i = 0; i < pairs; ++i) children.push_back(start_pair(isolated, channel[1]));
  close(channel[1]);
  std::vector<double> times;
  double seconds = 0;
  while (read(channel[0], &seconds, sizeof seconds) == sizeof seconds) times.push_back(seconds);
  close(channel[0]);
  for (pid_t child : children) waitpid(child, nullptr, 0);
  return times;
}

std::vector<pid_t> start_hogs(int n) {
  std::vector<pid_t> hogs;
  const pid_t parent = getpid();
  for (int i = 0; i < n; ++i) {
    const pid_t pid = fork();
    if (pid == 0) {
      vok::test::end_with_parent(parent);
      volatile unsigned long spin = 0;
      for (;;) spin = spin + 1;
    }
    hogs.push_back(pid);
  }
  return hogs;
}

void stop(const std::vector<pid_t> &processes) {
  for (pid_t pid : processes) kill(pid, SIGKILL);
  for (pid_t pid : processes) waitpid(pid, nullptr, 0);
}

void print(const char *what, const std::vector<double> &times, double alone) {
  std::printf("%-34s", what);
  for (double t : times) {
    if (t < 0) {
      std::printf("  failed");
    } else if (alone > 0) {
      std::printf("  %7.2f s (%5.2f x alone)", t, t / alone);
    } else {
      std::printf("  %7.2f s", t);
    }
  }
  std::printf("\n");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char **argv) {
  int repeat = 1, hog_count = 2;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--simulator") simulator_path = argv[i + 1];
    else if (option == "--upgrade") upgrade_path = argv[i + 1];
    else if (option == "--repeat") repeat = std::max(1, std::atoi(argv[i + 1]));
    else if (option == "--hogs") hog_count = std::max(0, std::atoi(argv[i + 1]));
  }
  const bool isolated = geteuid() == 0;
  if (!isolated) std::printf("not root: the pairs share this machine's objects; two pairs skipped\n");
  for (int round = 0; round < repeat; ++round) {
    const std::vector<double> alone = run_pairs(1, isolated);
    const double base = !alone.empty() && alone[0] > 0 ? alone[0] : 0;
    print("one pair alone", alone, 0);
    if (isolated) print("two pairs at once", run_pairs(2, true), base);
    const std::vector<pid_t> hogs = start_hogs(hog_count);
    const std::string label = "one pair beside " + std::to_string(hog_count) + " CPU-bound programs";
    print(label.c_str(), run_pairs(1, isolated), base);
    stop(hogs);
  }
  return 0;
}
