#include "interrupt.h"

#include <atomic>
#include <mutex>
#include <utility>

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#endif

namespace vok::update {
namespace {

std::atomic<bool> interrupt_seen{false};

// The forced end: what the run keeps and what is left, and whether the run has finished. The
// lock keeps `leave` from running once the run has finished (and its report is gone).
std::function<void()> keep_at_long_step, leave_at_forced_end;
std::mutex forced_end_lock;
bool finished = false;

#if defined(_WIN32)
HANDLE decided = nullptr;  // set by the handler once it has marked the run

// Of the about five seconds that the system allows after a close event, the time given to the
// run to finish by itself (between regions it does so at once); the rest is for the report.
constexpr DWORD close_wait_ms = 2500;

bool has_finished() {
  std::lock_guard<std::mutex> lock(forced_end_lock);
  return finished;
}

BOOL WINAPI console_handler(DWORD event) { return on_console_event(event); }
#else
void on_signal(int) { interrupt_run(); }
#endif

}  // namespace

void interrupt_run() { interrupt_seen.store(true); }

#if defined(_WIN32)
int on_console_event(unsigned long event) {
  // A logoff event reaches only services, for any user who logs off: a run under a service
  // (a remote shell, a scheduled task) goes on. Handled, so that no default handler ends it.
  if (event == CTRL_LOGOFF_EVENT) return TRUE;
  interrupt_run();
  SetEvent(decided);
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  // A closed console or a shutdown: the process ends when this handler returns, or when the
  // system's time is up, even in the middle of a region.
  for (DWORD waited = 0; waited < close_wait_ms && !has_finished(); waited += 50) Sleep(50);
  std::lock_guard<std::mutex> lock(forced_end_lock);
  if (!finished && leave_at_forced_end) leave_at_forced_end();
  return TRUE;
}

bool wait_for_decision(unsigned long ms) {
  return decided != nullptr && WaitForSingleObject(decided, ms) == WAIT_OBJECT_0;
}
#endif

bool interrupted() { return interrupt_seen.load(std::memory_order_relaxed); }

void await_interrupt_decision() {
#if defined(_WIN32)
  // Only a console read ends at Ctrl+C; a file or a pipe ends at its end.
  DWORD mode = 0;
  if (GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode)) wait_for_decision(500);
#endif
  // POSIX: the signal's handler has run before the interrupted read returns.
}

void prepare_forced_end(std::function<void()> keep, std::function<void()> leave) {
  std::lock_guard<std::mutex> lock(forced_end_lock);
  keep_at_long_step = std::move(keep);
  leave_at_forced_end = std::move(leave);
}

void long_step_begins() {
  if (keep_at_long_step) keep_at_long_step();
}

void run_finished() {
  std::lock_guard<std::mutex> lock(forced_end_lock);
  finished = true;
}

void reset_interrupts() {
  interrupt_seen.store(false);
  std::lock_guard<std::mutex> lock(forced_end_lock);
  keep_at_long_step = nullptr;
  leave_at_forced_end = nullptr;
  finished = false;
#if defined(_WIN32)
  if (decided != nullptr) ResetEvent(decided);
#endif
}

void catch_interrupts() {
#if defined(_WIN32)
  if (decided == nullptr) decided = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(console_handler, TRUE);
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
