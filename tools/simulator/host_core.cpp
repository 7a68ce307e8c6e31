#include "host_core.h"

#if defined(__linux__)
#include <sched.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#endif

namespace vok::sim {

#if defined(__linux__)
namespace {

constexpr unsigned messages_per_look = 256;
// A quarter of the messages needing a switch is far beyond what a simulator with a core of its
// own meets (a few a second, from timers and other programs).
constexpr long switches_that_count = messages_per_look / 4;

long context_switches() {
  rusage usage{};
  if (getrusage(RUSAGE_THREAD, &usage) != 0) return 0;
  return usage.ru_nvcsw + usage.ru_nivcsw;
}

// The core that a thread last ran on: field 39 of its stat line, counted after the command
// name's closing parenthesis (the name itself may hold spaces and parentheses).
int last_core(const char *stat_path) {
  std::FILE *file = std::fopen(stat_path, "r");
  if (file == nullptr) return -1;
  char line[1024];
  const std::size_t length = std::fread(line, 1, sizeof line - 1, file);
  std::fclose(file);
  line[length] = '\0';
  const char *field = std::strrchr(line, ')');
  if (field == nullptr) return -1;
  for (int number = 2; *field != '\0'; ++field) {
    if (*field == ' ' && ++number == 39) return std::atoi(field + 1);
  }
  return -1;
}

void move_off(int core) {
  cpu_set_t allowed;
  if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return;
  if (!CPU_ISSET(core, &allowed) || CPU_COUNT(&allowed) < 2) return;
  cpu_set_t elsewhere = allowed;
  CPU_CLR(core, &elsewhere);
  if (sched_setaffinity(0, sizeof elsewhere, &elsewhere) == 0) {
    sched_setaffinity(0, sizeof allowed, &allowed);
  }
}

}  // namespace

int thread_core(std::uint32_t pid, std::uint32_t tid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%u/task/%u/stat", pid, tid);
  const int core = last_core(path);
  if (core >= 0) return core;
  // A sender whose thread id is not the kernel's: its process's main thread stands for it.
  std::snprintf(path, sizeof path, "/proc/%u/stat", pid);
  return last_core(path);
}

void host_core::after_message(std::uint32_t pid, std::uint32_t tid) {
  if (++messages_ < messages_per_look) return;
  messages_ = 0;
  const long switches = context_switches();
  const long needed = switches - switches_;
  switches_ = switches;
  if (needed < switches_that_count) return;
  const int own = sched_getcpu();
  if (own >= 0 && own < CPU_SETSIZE && thread_core(pid, tid) == own) move_off(own);
}

#else

int thread_core(std::uint32_t, std::uint32_t) { return -1; }

void host_core::after_message(std::uint32_t, std::uint32_t) {}

#endif

}  // namespace vok::sim
