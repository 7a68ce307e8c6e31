// The unattended runs' events in the Windows Application log, for the monitoring and the
// deployment systems of Windows sites: one when the run starts, one for each board's outcome
// (or one that no board was found) when it ends. Elsewhere nothing is logged.
#pragma once

#include "record.h"

namespace vok::update {

// The source under which the events are written; the installer registers it.
inline constexpr const char event_source[] = "Vantrel Upgrade";

// What an event is: its fixed id (the tool's message table holds its text, with the board,
// its serial number and the reason as insertion strings) and its type.
struct event {
  unsigned id;
  enum class type { information, warning, error } kind;
};

inline constexpr unsigned event_started = 1000;
inline constexpr unsigned event_no_board = 1006;

// The event of a board's outcome.
event board_event(outcome result);

// Write the run's first event, and its board events at its end.
void log_run_started(const run_record &run);
void log_run_ended(const run_record &run);

}  // namespace vok::update
