#include "run.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>

#include "board_lock.h"
#include "console.h"
#include "interrupt.h"
#include "report.h"
#include "rights.h"
#include "upgrade.h"
#include "vokoem/vokoem.h"

namespace vok::update {
namespace {

constexpr int vantrel_devtype = 21;

update_steps steps_of(const arguments &args) {
  update_steps steps;
  steps.write = args.mode == run_mode::update;
  steps.ask = !args.unattended();
  steps.wait = !args.unattended();
  steps.compare_first = args.if_differs;
  return steps;
}

// Opens the board that `cardstring` names. The update that asks opens it as it always did;
// the unattended modes learn why an open failed, so that a board that another program holds
// is reported as busy rather than as absent.
sv_handle *open_board(const arguments &args, const char *cardstring, int &result) {
  if (!args.unattended()) {
    sv_handle *sv = sv_open_forward(cardstring);
    result = sv != nullptr ? SV_OK : SV_ERROR_DEVICENOTFOUND;
    return sv;
  }
  sv_handle *sv = nullptr;
  result = sv_openex_forward(&sv, cardstring, 1, 0, 0, 0);
  return result == SV_OK ? sv : nullptr;
}

// Reads the board's type and serial number and prints its card line. False, after reporting
// the error, when the type cannot be read.
bool identify(sv_handle *sv, board_record &board) {
  int devtype = 0, serial = 0;
  int result = sv_query(sv, SV_QUERY_DEVTYPE, 0, &devtype);
  if (result != SV_OK) {
    report_error(sv, result);
    board.result = outcome::failed;
    board.reason = std::string("the board type cannot be read: ") + errortext_lookup(result);
    return false;
  }
  board.devtype = devtype;
  board.type_name = query_value_name(sv, SV_QUERY_DEVTYPE, devtype);
  result = sv_query(sv, SV_QUERY_SERIALNUMBER, 0, &serial);
  if (result != SV_OK) {
    report_error(sv, result);
  } else {
    board.serial = serial;
  }
  std::printf("Card %d is of type %s (s/n %d)\n", board.card, board.type_name.c_str(), serial);
  return true;
}

// --list: the board's module lines, without the update's refusals; its values for the report.
void list_board(sv_handle *sv, board_record &board) {
  if (interrupted()) {
    std::printf("Interrupted: the board was not listed\n");
    board.result = outcome::interrupted;
    board.reason = "interrupted before the board was listed";
    sv_close(sv);
    return;
  }
  const std::pair<int, std::optional<std::int32_t> *> values[] = {
      {SV_QUERY_VERSION_DRIVER, &board.driver_version},
      {SV_QUERY_HW_EPLDTYPE, &board.chipversion},
      {SV_QUERY_HW_FLASHSIZE, &board.flashsize},
      {SV_QUERY_HW_CARDOPTIONS, &board.cardoptions}};
  for (const auto &[code, kept] : values) {
    std::int32_t value = 0;
    if (sv_query(sv, code, 0, &value) == SV_OK) *kept = value;
  }
  version_walk walk;
  walk.gates = false;
  const bool complete = printversions(sv, walk) != 0;
  board.modules_before = std::move(walk.modules);
  board.result = complete ? outcome::listed : outcome::failed;
  board.reason = complete ? "" : walk.reason;
  sv_close(sv);
}

// Whether the board's lock, taken before its open, lets the steps that read or write its flash
// go on. False, with the board's outcome, when another run holds it, or when a run that would
// write cannot make the lock; a comparison goes on without it, with a warning.
bool hold_board(const arguments &args, board_lock::state locked, const board_lock &lock,
                board_record &board) {
  switch (locked) {
    case board_lock::state::held:
      return true;
    case board_lock::state::unavailable:
      if (args.mode != run_mode::update) {
        std::fprintf(stderr, "vantrel-upgrade: warning: %s; the run goes on without it\n",
                     lock.problem().c_str());
        return true;
      }
      std::printf("Card %d is not written: its lock cannot be made\n", board.card);
      board.result = outcome::failed;
      board.reason = lock.problem() + ": nothing written";
      return false;
    case board_lock::state::taken:
      break;
  }
  std::printf("Card %d is busy: another run of vantrel-upgrade updates or verifies it\n",
              board.card);
  board.result = outcome::busy;
  board.reason = "another run of vantrel-upgrade holds the board: run this again when it ends";
  return false;
}

// Whether another run of the tool holds board `card` (its lock is taken).
bool held_by_another_run(int card) {
  board_lock probe;
  return probe.take(card) == board_lock::state::taken;
}

// The card whose device another program holds, when board `card` cannot be opened for that
// reason: the library's device search stops at the first device that it cannot open, so it is
// the lowest card that reports busy.
int held_card(int card) {
  for (int lower = 0; lower < card; ++lower) {
    char setup[cardstring_size];
    std::snprintf(setup, sizeof setup, "PCI,card:%d", lower);
    sv_handle *sv = nullptr;
    const int result = sv_openex_forward(&sv, setup, 1, 0, 0, 0);
    if (sv != nullptr) sv_close(sv);
    if (result == SV_ERROR_DEVICEINUSE) return lower;
  }
  return card;
}

// A board whose open another program refused: names the device that is held, and the boards
// that the run therefore cannot reach.
void report_busy(const arguments &args, run_record &run, board_record &board) {
  if (!board_rights()) {
    // The driver's "access denied" to a process without the rights, not a board in use.
    std::printf("Card %d cannot be opened: this program needs the administrator's rights\n",
                board.card);
    board.result = outcome::failed;
    board.reason = "the board cannot be opened without the administrator's rights: run this "
                   "again as administrator (elevated)";
    return;
  }
  const int held = held_card(board.card);
  const bool by_run = held_by_another_run(held);
  const char *holder = by_run ? "another run of vantrel-upgrade" : "another program";
  const std::string advice = by_run ? "run this again when it ends" : "close it, then run this again";
  if (held == board.card) {
    std::printf("Card %d is busy: %s holds it\n", board.card, holder);
    board.reason = std::string(holder) + " holds the board: " + advice;
  } else {
    std::printf("Card %d cannot be reached: card %d before it is held by %s\n", board.card, held,
                holder);
    board.reason = "card " + std::to_string(held) + " is held by " + holder +
                   ", and no board after it can be reached: " + advice;
  }
  board.result = outcome::busy;
  const int last = args.first + args.count - 1;
  if (board.card < last) {
    for (int card = board.card + 1; card <= last; ++card) run.not_tried.push_back(card);
    std::printf("Cards %d to %d were not tried: no board after a held one can be reached\n",
                board.card + 1, last);
    board.reason += "; cards " + std::to_string(board.card + 1) + " to " + std::to_string(last) +
                    " were not tried";
  }
}

void closing_advice(const arguments &args) {
  std::printf("\n");
  if (args.mode != run_mode::list) {
    std::printf("This upgrade is only for Vantrel\n");
    std::printf("\n");
  }
  std::printf(args.unattended() ? "ERROR: Could not open card\n"
                                : "ERROR: Could not open card, press 'Enter' to exit\n");
  std::printf("\n");
  std::printf("If you have any applications using the Vantrel please close them.\n");
  std::printf("Start vokconf to check that the driver is loaded, if not load the driver.\n");
  flushoutput();
}

// Whether an interrupt stopped the steps of a board. One that arrives when the last region
// is done leaves every board complete, and the run is not reported as interrupted.
bool stopped_by_interrupt(const run_record &run) {
  for (const board_record &b : run.boards) {
    if (b.result == outcome::interrupted) return true;
  }
  return false;
}

// The exit value of an unattended run: what went worst on any board.
int unattended_exit(const run_record &run, bool found) {
  bool failed = false, refused = false, busy = false;
  for (const board_record &b : run.boards) {
    failed = failed || b.result == outcome::failed || b.result == outcome::differs;
    refused = refused || b.result == outcome::refused;
    busy = busy || b.result == outcome::busy;
  }
  if (failed) return exit_board_failed;
  if (refused) return exit_board_refused;
  if (busy) return exit_board_busy;
  return found ? exit_success : exit_no_board;
}

}  // namespace

int deployment_exit(const arguments &args, const run_record &run, int exit_value) {
  if (!args.msi_exit_codes) return exit_value;
  switch (exit_value) {
    case exit_success: return power_cycle_needed(run) ? msi_restart_required : exit_success;
    case exit_interrupted: return msi_user_cancelled;
    case exit_board_busy: return msi_another_install_running;
  }
  return exit_value;
}

int exit_without_report(const arguments &args, int exit_value) {
  if (exit_value == exit_interrupted || exit_value == msi_user_cancelled) return exit_value;
  return args.unattended() ? exit_report_not_written : -1;
}

run_record forced_end_record(const arguments &args, const run_record &run) {
  run_record ended = run;
  for (board_record &b : ended.boards) {
    if (b.result != outcome::none) continue;
    b.result = outcome::interrupted;
    b.reason = "the process was ended by the system: the console was closed, or a shutdown";
    if (b.region_in_hand != 0) {
      b.reason += std::string(", while map ") + std::to_string(b.region_in_hand) + " was " +
                  (b.writing_in_hand ? "written: run the update again before the computer is "
                                       "powered off"
                                     : "read");
    }
  }
  ended.ended = std::time(nullptr);
  ended.exit_value = deployment_exit(args, ended, exit_interrupted);
  return ended;
}

const char *mode_name(const arguments &args) {
  switch (args.mode) {
    case run_mode::list: return "list";
    case run_mode::verify: return "verify";
    case run_mode::update: break;
  }
  return args.yes ? "yes" : "update";
}

int run_boards(const arguments &args, run_record &run, const imageentry (&images)[4]) {
  const update_steps steps = steps_of(args);
  char cardstring[cardstring_size];
  std::memcpy(cardstring, args.cardstring, sizeof cardstring);
  bool found = false;  // a board was handed to the mode's steps
  // After an interrupt every further board is still opened and handed to the steps, which
  // stop at once: the report then names each board that the interrupt left undone.
  for (int i = 0; i < args.count; ++i) {
    if (args.count > 1) std::snprintf(cardstring, sizeof cardstring, "PCI,card:%d", i);
    // The board's lock comes before its open: the driver opens a device for one client
    // only, so a run that holds the board would keep a second from ever reaching the lock.
    board_lock lock;
    const board_lock::state locked =
        args.mode == run_mode::list ? board_lock::state::held : lock.take(args.first + i);
    int opened = SV_OK;
    sv_handle *sv = open_board(args, cardstring, opened);
    if (sv == nullptr && opened != SV_ERROR_DEVICEINUSE) continue;

    board_record &board = run.boards.emplace_back();
    board.card = args.first + i;
    board.setup = cardstring;
    if (sv == nullptr && locked == board_lock::state::taken) {
      hold_board(args, locked, lock, board);  // another run of the tool has it open
      found = found || args.unattended();
      continue;
    }
    if (sv == nullptr) {
      // The library's search for a board stops at a device that it cannot open: every later
      // board number would name this device again.
      report_busy(args, run, board);
      break;
    }
    if (!identify(sv, board)) {  // ends the run at once
      sv_close(sv);
      if (!args.unattended()) return interrupted() ? exit_interrupted : -1;
      // An interrupt may have cut the query short; a board that failed or was refused before
      // this one decides over it, as below.
      bool decided = false;
      for (std::size_t k = 0; k + 1 < run.boards.size(); ++k) {
        const outcome o = run.boards[k].result;
        decided = decided || o == outcome::failed || o == outcome::differs || o == outcome::refused;
      }
      return interrupted() && !decided ? exit_interrupted : exit_board_failed;
    }
    if (args.mode == run_mode::list) {
      list_board(sv, board);
      found = true;
    } else if (*board.devtype == vantrel_devtype) {
      if (!hold_board(args, locked, lock, board)) {
        sv_close(sv);
        // A Vantrel board, only not now: no advice for a machine without one.
        found = found || (args.unattended() && board.result == outcome::busy);
        continue;
      }
      std::printf(args.mode == run_mode::verify ? " Verifying card %d\n" : " Programming card %d\n",
                  board.card);
      upgradecard(sv, images, steps, board);  // closes the board on every path
      found = true;
    } else {
      std::printf(" Skipping card %d\n", board.card);
      board.result = outcome::skipped;
      sv_close(sv);
    }
  }
  if (args.unattended()) {
    // A board that failed or was refused decides, also when an interrupt stopped a later
    // board: running the same command again would not mend it.
    const int worst = unattended_exit(run, found);
    if (worst == exit_board_failed || worst == exit_board_refused) return worst;
    if (stopped_by_interrupt(run)) return exit_interrupted;
    if (!found) closing_advice(args);
    return worst;
  }
  if (stopped_by_interrupt(run)) return exit_interrupted;
  if (found) return 0;
  closing_advice(args);
  if (!interrupted()) wait_for_key();
  return interrupted() ? exit_interrupted : -1;
}

}  // namespace vok::update
