// Interrupts of the run: Ctrl+C, SIGTERM, SIGHUP and a broken pipe (SIGPIPE) on POSIX;
// Ctrl+C, Ctrl+Break and the closing of the console on Windows. An interrupt never cuts a flash region short: it only
// marks the run, and the steps look at the mark where stopping leaves the board whole (before
// the first write, and between regions).
#pragma once

namespace vok::update {

// Installs the handlers; from then on an interrupt marks the run instead of ending it.
void catch_interrupts();
// Whether an interrupt has arrived.
bool interrupted();
// Marks the run as interrupted (what the handlers do; tests call it too).
void interrupt_run();
// Tells the handlers that the run has ended, so that a console that is being closed may go.
void run_finished();

}  // namespace vok::update
