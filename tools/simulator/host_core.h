// Keeps the simulator off the core that its host runs on.
//
// A host and a simulator that share one core pay a context switch each for every message, however
// they wait: a whole update then takes twenty times as long as on two cores. The scheduler
// balances cores by their load and has no reason to part the two (two pairs on two cores are as
// balanced placed pair by pair as crosswise). So the simulator counts its own context switches, and
// when a run of messages needed many and the sender's thread last ran on the simulator's core, it
// moves itself to another of the cores that it may use, then allows all of them again, so that the
// scheduler stays free to balance.
#pragma once

#include <cstdint>

namespace vok::sim {

// The core that a thread of a process last ran on, or -1 when that cannot be told. A thread id
// that the system does not know stands for the process's main thread.
int thread_core(std::uint32_t pid, std::uint32_t tid);

class host_core {
 public:
  // Called after each answered message with the sender's process and thread ids.
  void after_message(std::uint32_t pid, std::uint32_t tid);

 private:
  unsigned messages_ = 0;
  long switches_ = 0;
};

}  // namespace vok::sim
