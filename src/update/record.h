// What a run learns about each board, kept for the run's report: the steps of the update fill
// it in as they go, whatever the mode.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace vok::update {

// How a board's passage through the run ended.
enum class outcome {
  none,         // not handed to a mode's steps
  skipped,      // not a Vantrel board
  listed,       // --list: reported
  updated,      // every region written and verified
  verified,     // --verify: every region matches
  differs,      // --verify: a region differs from its image
  refused,      // a check refused the board; nothing written
  declined,     // the operator did not answer y
  failed,       // a query, a write or a read-back failed
  interrupted,  // an interrupt ended the run on this board
  busy,         // another program holds the board: its open was refused
};
const char *outcome_name(outcome o);

// A version word in driver form (fix 24-31, major 16-23, minor 8-15, patch 0-7) as
// major.minor.patch.fix.
std::string version_text(std::uint32_t word);

// One entry of the board's module version table.
struct module_record {
  std::string name;
  std::string version;  // major.minor.patch.fix
  std::string date;     // yyyy/mm/dd hh:mm, empty when the module has none
  std::string comment;
  bool beta = false;             // the record's flags mark a beta release
  std::int32_t beta_number = 0;  // as the version report prints it beside the beta flag
};

struct mismatch {
  std::uint32_t offset, read, expected;
};

// One flash region written and read back, or only read back.
struct region_record {
  int map = 0;
  std::uint32_t bytes_written = 0;
  std::uint32_t words_read = 0;
  int mismatches = 0;
  std::vector<mismatch> first_mismatches;  // the first ten
  int result = 0;                          // an SV_ code; SV_ERROR_FLASH_VERIFY for mismatches
  // Whether the region's record in the version table (version and description) is the one that
  // the update writes; unknown when the board lists no record for the region, or when the
  // region was not compared.
  std::optional<bool> record_matches;
};

struct board_record {
  int card = 0;
  std::string setup;
  std::optional<std::int32_t> devtype;
  std::string type_name;
  std::optional<std::int32_t> serial;
  std::optional<std::int32_t> driver_version;  // driver form
  std::optional<std::int32_t> chipversion;
  std::optional<std::int32_t> flashsize;
  std::optional<std::int32_t> cardoptions;
  std::vector<module_record> modules_before;
  std::vector<module_record> modules_after;
  outcome result = outcome::none;
  std::string reason;  // why it was refused, declined, failed or interrupted
  std::vector<region_record> regions;
  // The region whose write (or read-back) has begun and not ended: 0 between regions. Only a
  // report written when the system ends the process in the middle of a region shows one.
  int region_in_hand = 0;
  bool writing_in_hand = false;  // its write was sent: the region may hold anything now
  // A completed update of the board by an earlier run, as the machine's state record keeps it:
  // in this boot (the power cycle is pending), or before the computer last started (a restart
  // does not reload the board: whether its power was off since cannot be known).
  // Unknown when the board's serial number could not be read.
  enum class earlier { none, this_boot, before_restart, unknown } earlier_update = earlier::none;
  std::string earlier_written;  // that update's UTC time
};

struct run_record {
  std::string tool_version;  // the tool's software version, major.minor.patch.fix
  std::string build;         // the build's date and time, as the banner shows them
  const char *mode = "update";  // update, yes, list or verify
  std::time_t started = 0;
  std::time_t ended = 0;
  std::vector<board_record> boards;
  std::vector<int> not_tried;  // cards past a held one, which the run could not reach
  int exit_value = 0;  // as the program returns it: -1 is 255 to a POSIX shell
};

// Whether the run wrote a region of the board.
inline bool regions_written(const board_record &board) {
  for (const region_record &r : board.regions) {
    if (r.bytes_written != 0) return true;
  }
  return false;
}

// What the board needs before it runs the images of the update.
enum class power_cycle {
  not_needed,
  needed,       // its update is complete: in this run, or in an earlier one in this boot
  run_again,    // this run wrote regions but did not complete: update it again first
  unconfirmed,  // updated before the computer last started: a power cycle may still be due
};
const char *power_cycle_name(power_cycle state);
inline power_cycle power_cycle_of(const board_record &board) {
  if (regions_written(board) || board.writing_in_hand) {
    return board.result == outcome::updated ? power_cycle::needed : power_cycle::run_again;
  }
  // Another program, or another run, holds the board: what it does to the flash is not known.
  if (board.result == outcome::busy) return power_cycle::unconfirmed;
  switch (board.earlier_update) {
    case board_record::earlier::this_boot: return power_cycle::needed;
    case board_record::earlier::before_restart:
    case board_record::earlier::unknown: return power_cycle::unconfirmed;
    case board_record::earlier::none: break;
  }
  return power_cycle::not_needed;
}

// Whether the computer's power must be off before the board loads the new images.
inline bool power_cycle_needed(const board_record &board) {
  return power_cycle_of(board) == power_cycle::needed;
}

// Whether the run wrote regions of the board but did not complete its update (an interrupt, a
// failed region): the board must be updated again before the computer is powered off, or it
// would start with new and old images side by side.
inline bool run_again_needed(const board_record &board) {
  return power_cycle_of(board) == power_cycle::run_again;
}

// The same for any board of the run.
inline bool any_board(const run_record &run, power_cycle state) {
  for (const board_record &b : run.boards) {
    if (power_cycle_of(b) == state) return true;
  }
  return false;
}
inline bool power_cycle_needed(const run_record &run) { return any_board(run, power_cycle::needed); }
inline bool run_again_needed(const run_record &run) { return any_board(run, power_cycle::run_again); }

}  // namespace vok::update
