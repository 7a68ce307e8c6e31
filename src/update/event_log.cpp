#include "event_log.h"

#include <string>
#include <vector>

#include "image_set.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace vok::update {
namespace {

#if defined(_WIN32)
void write_event(event e, const std::vector<std::string> &strings) {
  HANDLE source = RegisterEventSourceA(nullptr, event_source);
  if (source == nullptr) return;  // the log is a courtesy: the run goes on without it
  std::vector<const char *> texts;
  for (const std::string &s : strings) texts.push_back(s.c_str());
  const WORD type = e.kind == event::type::error     ? EVENTLOG_ERROR_TYPE
                    : e.kind == event::type::warning ? EVENTLOG_WARNING_TYPE
                                                     : EVENTLOG_INFORMATION_TYPE;
  ReportEventA(source, type, 0, e.id, nullptr, static_cast<WORD>(texts.size()), 0, texts.data(),
               nullptr);
  DeregisterEventSource(source);
}
#else
void write_event(event, const std::vector<std::string> &) {}
#endif

}  // namespace

event board_event(outcome result) {
  using t = event::type;
  switch (result) {
    case outcome::verified: return {1001, t::information};
    case outcome::updated: return {1002, t::information};
    case outcome::refused: return {1003, t::warning};
    case outcome::failed: return {1004, t::error};
    case outcome::busy: return {1005, t::warning};
    case outcome::interrupted: return {1007, t::warning};
    case outcome::listed: return {1008, t::information};
    case outcome::skipped: return {1009, t::information};
    case outcome::differs: return {1010, t::warning};
    case outcome::none:
    case outcome::declined: break;  // not in the unattended runs
  }
  return {1004, t::error};
}

void log_run_started(const run_record &run) {
  write_event({event_started, event::type::information},
              {run.tool_version, run.mode,
               version_text(firmware::package_version) + " '" + firmware::package_string + "'"});
}

void log_run_ended(const run_record &run) {
  bool found = false;  // a board that the mode took (--list takes every board)
  for (const board_record &b : run.boards) {
    found = found || b.result != outcome::skipped;
    write_event(board_event(b.result),
                {b.setup, b.serial ? std::to_string(*b.serial) : std::string("unknown"),
                 b.reason});
  }
  if (!found) write_event({event_no_board, event::type::warning}, {});
}

}  // namespace vok::update
