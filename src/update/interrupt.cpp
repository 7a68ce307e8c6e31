#include "interrupt.h"

#include <atomic>

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#endif

namespace vok::update {
namespace {

std::atomic<bool> interrupt_seen{false};
std::atomic<bool> finished{false};

#if defined(_WIN32)
BOOL WINAPI on_console_event(DWORD event) {
  interrupt_run();
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    // The process ends when this handler returns: hold it while the region in hand is
    // finished and the board closed (the system allows a few seconds only).
    while (!finished.load()) Sleep(50);
  }
  return TRUE;
}
#else
void on_signal(int) { interrupt_run(); }
#endif

}  // namespace

void interrupt_run() { interrupt_seen.store(true); }

bool interrupted() { return interrupt_seen.load(std::memory_order_relaxed); }

void run_finished() { finished.store(true); }

void catch_interrupts() {
#if defined(_WIN32)
  SetConsoleCtrlHandler(on_console_event, TRUE);
#else
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: a wait for the operator's answer ends at once
  // A closed standard output (a pipe whose reader ended, a dropped remote session) would
  // otherwise end the process in the middle of a region: it is an interrupt like the others,
  // and the writes to it fail from then on.
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaction(s, &action, nullptr);
#endif
}

}  // namespace vok::update
