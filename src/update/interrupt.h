// Interrupts of the run: Ctrl+C, SIGTERM, SIGHUP and a broken pipe (SIGPIPE) on POSIX;
// Ctrl+C, Ctrl+Break, the closing of the console and a shutdown on Windows. An interrupt never
// cuts a flash region short: it only marks the run, and the steps look at the mark where
// stopping leaves the board whole (before the first write, and between regions).
//
// Windows ends the process a few seconds after its console is closed (or at a shutdown),
// whatever the run is doing, and a region takes much longer. So the run keeps, where a long
// step begins, what it is to leave if it is ended there; when it has not finished within
// those seconds, the handler leaves that, and lets the process go.
#pragma once

#include <functional>

namespace vok::update {

// Installs the handlers; from then on an interrupt marks the run instead of ending it.
void catch_interrupts();
// Whether an interrupt has arrived.
bool interrupted();
// Marks the run as interrupted (what the handlers do; tests call it too).
void interrupt_run();
// Called when a read of standard input ended without a line: Ctrl+C ends a console read on
// Windows before its handler, on a thread of its own, has marked the run. Waits for the
// handler's decision, so that interrupted() tells afterwards whether the read was interrupted.
void await_interrupt_decision();

// What the process leaves when the system ends it before the run has finished: `keep` is
// called on the run's thread where a long step begins, `leave` on the handler's thread.
void prepare_forced_end(std::function<void()> keep, std::function<void()> leave);
// Called where a long step begins: a flash region, the flash information request.
void long_step_begins();
// Tells the handlers that the run has ended, so that a console that is being closed may go
// without leaving anything.
void run_finished();

// Forgets an interrupt, the forced end and the run's end: a new run in the same process (the
// tests) starts afresh.
void reset_interrupts();

#if defined(_WIN32)
// The console's handler, as the system calls it on a thread of its own (tests call it too, as
// not every console can send every event). Returns whether it handled the event.
int on_console_event(unsigned long event);
// Waits up to `ms` for the handler's decision on an event; whether one was made.
bool wait_for_decision(unsigned long ms);
#endif

}  // namespace vok::update
